// The worker's blocks pass over one clip in this process, each frame made into its packet's
// framing as the frame channel does but not sent: the CPU time of the analysis alone (user and system),
// its page faults and its peak, without the desktop's reading pace, beside
// `ffmpeg -threads 1 -f null` on the same clip. The open to every picture's blocks has the goal
// 1.6x that reference; the analysis alone is the part of it that the worker decides.
#include "app/PosixPlatform.h"
#include "pipeline/AnalysisPipeline.h"

#include "vexilo/bench/BenchSupport.h"
#include "vexilo/protocol/FramePacket.h"

#include <QTemporaryDir>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

namespace {

constexpr double kOpenGoalRatio = 1.6;

}  // namespace

int main(int argc, char** argv)
{
    using namespace vexilo;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <clip.hevc> [cache directory]\n", argv[0]);
        return 2;
    }
    // As the worker starts.
    analyzer::platform::keepLargeAllocationsOnTheHeap();
    QTemporaryDir temporary;
    const std::filesystem::path cacheRoot =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::path(temporary.path().toStdString());
    std::filesystem::create_directories(cacheRoot);
    analyzer::CancelRequest cancel;
    protocol::FramePacketFraming framing;
    std::uint64_t sequence = 0;
    analyzer::FrameSink sink = [&](domain::PictureInfo picture, domain::VideoFrame frame) {
        protocol::AnalyzerFramePacket packet;
        packet.sequence = ++sequence;
        packet.picture = std::move(picture);
        packet.frame = std::move(frame);
        return protocol::serializeAnalyzerFramePacketFramingInto(packet, framing);
    };
    bool ffmpegFailed = false;
    const double reference = bench::childCpuSecondsOf(
        "ffmpeg -hide_banner -loglevel error -nostdin -threads 1 -i " + bench::quoted(argv[1]) + " -f null -",
        ffmpegFailed);
    const auto start = std::chrono::steady_clock::now();
    const analyzer::AnalyzerRunResult result = analyzer::analyzeHevcToMetadata(
        std::filesystem::absolute(argv[1]), cacheRoot, cancel, analyzer::AnalysisMode::BoundedStructure, 0, sink);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%s: %lld pictures, %llu with blocks, %llu CUs\n", result.succeeded ? "done" : result.code.c_str(),
                static_cast<long long>(result.pictureCount), static_cast<unsigned long long>(result.picturesWithBlocks),
                static_cast<unsigned long long>(result.cuCount));
    const double user = bench::secondsOf(usage.ru_utime);
    const double system = bench::secondsOf(usage.ru_stime);
    std::printf("wall %.3f s, user %.3f s, system %.3f s, %ld page faults, peak %.0f MiB\n", wall, user, system,
                usage.ru_minflt, static_cast<double>(usage.ru_maxrss) / 1024.0);
    if (!ffmpegFailed) {
        std::printf("ffmpeg -threads 1 -f null: %.3f s CPU; the analysis alone %.2fx (goal of the open <= %.1f)\n",
                    reference, (user + system) / reference, kOpenGoalRatio);
    }
    return result.succeeded ? 0 : 1;
}
