// Our syntax observer alone over a clip's packets, read into memory first and never decoded:
// the CPU it adds to the worker's decode loop, beside `ffmpeg -threads 1 -f null` and FFmpeg's
// own decoding of the same packets. It also prints a digest of every event's bytes, so that a
// change to the parser can be seen to leave what it reports untouched.
//   bench_observer_parse [clip.hevc] [runs] [--parse-only]
// --parse-only runs the observer alone, for a profiler.
#include "vexilo/bench/DecodeSplit.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// The parse, every event included, once cost 0.48x the reference on the 300-picture 1080p
// clip; the goal takes a quarter off that.
constexpr double kParseGoalRatio = 0.36;
constexpr int kDefaultRuns = 3;

struct Digest {
    std::uint64_t hash = UINT64_C(14695981039346656037);
    std::uint64_t events = 0;
    std::uint64_t blockEvents = 0;

    void add(const void* data, std::size_t size)
    {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        for (std::size_t i = 0; i < size; ++i) {
            hash = (hash ^ bytes[i]) * UINT64_C(1099511628211);
        }
    }
};

int digestEvent(void* opaque, std::uint64_t /*flags*/, const VexiloObserverEventHeader* event)
{
    auto& digest = *static_cast<Digest*>(opaque);
    ++digest.events;
    if (event->kind >= VEXILO_OBSERVER_EVENT_CTU && event->kind <= VEXILO_OBSERVER_EVENT_TU) {
        ++digest.blockEvents;
    }
    if (event->kind == VEXILO_OBSERVER_EVENT_SEI_MESSAGE) {
        // The payload pointer differs from run to run; its bytes do not.
        const auto* sei = reinterpret_cast<const VexiloObserverSeiMessageEvent*>(event);
        digest.add(sei, offsetof(VexiloObserverSeiMessageEvent, payload));
        digest.add(sei->payload, sei->payloadBytesLength);
        return 0;
    }
    digest.add(event, event->size);
    return 0;
}

Digest digestOf(const std::vector<vexilo::bench::PacketBytes>& packets)
{
    Digest digest;
    vexilo::bench::feedObserverOnly(packets, VEXILO_OBSERVER_EVENT_MASK_ALL, &digestEvent, &digest);
    return digest;
}

std::filesystem::path defaultClip()
{
    const auto clip = vexilo::bench::benchMediaDirectory() / "reopen_1080p_300.hevc";
    if (!vexilo::bench::ensureGenerated(clip, "-f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 300 "
                                              "-pix_fmt yuv420p10le -c:v libx265 -preset ultrafast "
                                              "-x265-params log-level=error:crf=26:keyint=60:bframes=3 -f hevc")) {
        return {};
    }
    return clip;
}

// As the worker starts: large blocks (a picture's motion field) stay on the heap instead of
// being mapped and faulted in afresh for every picture, which would be counted as parsing.
void keepLargeAllocationsOnTheHeap()
{
#if defined(__GLIBC__)
    constexpr int kMmapThresholdBytes = 64 * 1024 * 1024;
    constexpr int kTrimThresholdBytes = 256 * 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
    mallopt(M_TRIM_THRESHOLD, kTrimThresholdBytes);
#endif
}

} // namespace

int main(int argc, char** argv)
{
    using namespace vexilo;
    keepLargeAllocationsOnTheHeap();
    const std::filesystem::path clip = argc > 1 ? std::filesystem::path(argv[1]) : defaultClip();
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : kDefaultRuns;
    const std::vector<bench::PacketBytes> packets = clip.empty() ? std::vector<bench::PacketBytes>{}
                                                                 : bench::readPackets(clip);
    if (packets.empty()) {
        std::fprintf(stderr, "no packets in %s\n", clip.c_str());
        return 1;
    }
    if (argc > 3 && std::string(argv[3]) == "--parse-only") {
        const bench::ParseRun parse = bench::bestParseOf(runs, packets, VEXILO_OBSERVER_EVENT_MASK_ALL);
        std::printf("observer, every event: %.3f s CPU\n", parse.cpuSeconds);
        return 0;
    }
    bool ffmpegFailed = false;
    const double reference = bench::ffmpegDecodeCpuSeconds(clip, runs, ffmpegFailed);
    const double decode = bench::bestOf(runs, [&] { return bench::decodeOnlyCpuSeconds(packets); });
    const bench::ParseRun parse = bench::bestParseOf(runs, packets, VEXILO_OBSERVER_EVENT_MASK_ALL);
    const bench::ParseRun index = bench::bestParseOf(runs, packets, VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX);
    const Digest digest = digestOf(packets);

    std::printf("%s: %zu packets, %llu events (%llu block events), digest %016llx\n", clip.filename().c_str(),
                packets.size(), static_cast<unsigned long long>(digest.events),
                static_cast<unsigned long long>(digest.blockEvents), static_cast<unsigned long long>(digest.hash));
    std::printf("  %-44s %.3f s CPU%s\n", "ffmpeg -threads 1 -f null (reference)", reference,
                ffmpegFailed ? " (failed)" : "");
    std::printf("  %-44s %.3f s CPU, %.2fx\n", "FFmpeg decoding alone, in process", decode, decode / reference);
    std::printf("  %-44s %.3f s CPU, %.2fx\n", "observer, stream-level events only", index.cpuSeconds,
                index.cpuSeconds / reference);
    std::printf("  %-44s %.3f s CPU, %.2fx (goal <= %.2f)\n", "observer, every event", parse.cpuSeconds,
                parse.cpuSeconds / reference, kParseGoalRatio);
    return ffmpegFailed ? 1 : 0;
}
