// The open's pass through the real worker program, as the desktop asks for it (the blocks of
// every picture, frames sent to a frame channel), on a 3,600-picture 1080p 8-bit stream and a
// 300-picture 1080p 10-bit noisy one, beside `ffmpeg -threads 1 -f null` on the same stream in
// the same run. Each pass writes into a fresh cache; from what it wrote come the pictures that
// kept their blocks (goal: all). Printed with them: the worker's peak resident memory (goal at
// most 1 GiB), the pass with the worker on one core as a ratio to ffmpeg (goal at most 2.0x),
// and the pass unpinned on every core as a ratio to the same ffmpeg figure (goal at most 1.5x).
// ffmpeg runs on the core the pinned worker gets.
#include "FrameChannelDrain.h"
#include "WorkerBenchSupport.h"

#include "vexilo/analysis/cache/CacheReader.h"
#include "vexilo/bench/BenchSupport.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>

#include <sched.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>

namespace {

namespace bench = vexilo::bench;

constexpr double kMebibyte = 1024.0 * 1024.0;
constexpr double kPeakGoalMebibytes = 1024.0;
constexpr double kOneCoreGoalRatio = 2.0;
constexpr double kEveryCoreGoalRatio = 1.5;
constexpr int kReferenceRuns = 2;

struct Clip {
    const char* name;
    const char* title;
    std::string ffmpegArguments;
};

// Each as the streams that set the goals were made with Debian's ffmpeg and x265; the noisy one
// with x265's default preset, whose finer blocks make its pictures the densest.
const Clip kLongClip{"pass_1080p_8bit_3600.hevc", "1080p 8-bit, 3,600 pictures (x265 ultrafast, keyint 60)",
                     "-f lavfi -i testsrc2=size=1920x1080:rate=60 -frames:v 3600 -pix_fmt yuv420p -c:v libx265 "
                     "-preset ultrafast -x265-params log-level=error:keyint=60 -f hevc"};
const Clip kNoisyClip{"pass_1080p_10bit_noise_crf26_300.hevc", "1080p 10-bit noisy, 300 pictures (x265 CRF 26)",
                      "-f lavfi -i testsrc2=size=1920x1080:rate=25,noise=alls=20:allf=t -frames:v 300 "
                      "-pix_fmt yuv420p10le -c:v libx265 -x265-params log-level=error:crf=26 -f hevc"};
const std::array kClips{&kLongClip, &kNoisyClip};

struct PictureCount {
    std::uint64_t pictures = 0;
    std::uint64_t withBlocks = 0;
};

struct PassRun {
    double seconds = 0;
    double workerCpuSeconds = 0;
    std::uint64_t peakBytes = 0;
    PictureCount cached;
};

// The core a pinned worker gets: the last one this process may use, as the first is where
// the system's own work tends to land.
std::optional<int> workerCore()
{
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof(cores), &cores) != 0) {
        return std::nullopt;
    }
    for (std::size_t core = CPU_SETSIZE; core-- > 0;) {
        if (CPU_ISSET(core, &cores)) {
            return static_cast<int>(core);
        }
    }
    return std::nullopt;
}

int usableCores()
{
    cpu_set_t cores;
    CPU_ZERO(&cores);
    return sched_getaffinity(0, sizeof(cores), &cores) == 0 ? CPU_COUNT(&cores) : 1;
}

std::string onCore(const std::string& command, std::optional<int> core)
{
    return core ? "taskset -c " + std::to_string(*core) + " " + command : command;
}

// What the cache holds: a picture whose blocks were kept has its CTUs counted in the stream
// document's summary of it.
std::optional<PictureCount> picturesInCache(const std::filesystem::path& cacheDirectory)
{
    const auto stream = vexilo::analysis::readCachedStream(cacheDirectory);
    const auto* document = std::get_if<vexilo::analysis::StreamAnalysis>(&stream);
    if (document == nullptr) {
        return std::nullopt;
    }
    PictureCount count;
    count.pictures = document->pictures.size();
    for (const vexilo::analysis::PictureAnalysisSummary& picture : document->pictures) {
        count.withBlocks += picture.ctuCount.value_or(0) > 0 ? 1U : 0U;
    }
    return count;
}

std::optional<PassRun> runPass(const std::filesystem::path& clip, std::optional<int> core)
{
    QTemporaryDir cacheRoot;
    const std::filesystem::path cacheDirectory = cacheRoot.path().toStdString();
    bench::FrameChannelDrain frames;
    PassRun run;
    bool finished = false;
    const double cpuBefore = bench::cpuSeconds(RUSAGE_CHILDREN);
    run.seconds = bench::secondsOf([&] {
        finished = bench::analyseThroughWorker(clip, cacheDirectory, {{"analysisMode", "bounded_structure"}},
                                               frames.name(), &run.peakBytes, core)
                       .has_value();
    });
    run.workerCpuSeconds = bench::cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    frames.finish();
    const std::optional<PictureCount> cached = picturesInCache(cacheDirectory);
    if (!finished || !cached) {
        return std::nullopt;
    }
    run.cached = *cached;
    return run;
}

void printPass(const char* title, const PassRun& run, double reference, double goal)
{
    std::printf("  %-32s %8.3f s wall, %8.3f s worker CPU: %.2fx (goal <= %.1f)\n", title, run.seconds,
                run.workerCpuSeconds, run.seconds / reference, goal);
    std::printf("  %-32s %.0f MiB (goal <= %.0f)\n", "  worker peak resident",
                static_cast<double>(run.peakBytes) / kMebibyte, kPeakGoalMebibytes);
    std::printf("  %-32s %llu of %llu (goal: all)\n", "  pictures with blocks in cache",
                static_cast<unsigned long long>(run.cached.withBlocks),
                static_cast<unsigned long long>(run.cached.pictures));
}

bool measure(const Clip& clip)
{
    const std::filesystem::path path = bench::benchMediaDirectory() / clip.name;
    if (!bench::ensureGenerated(path, clip.ffmpegArguments)) {
        return false;
    }
    const std::optional<int> core = workerCore();
    bool failed = false;
    const std::string decode =
        "ffmpeg -hide_banner -loglevel error -nostdin -threads 1 -i " + bench::quoted(path) + " -f null -";
    const double reference =
        bench::bestOf(kReferenceRuns, [&] { return bench::childCpuSecondsOf(onCore(decode, core), failed); });
    const std::optional<PassRun> pinned = runPass(path, core);
    const std::optional<PassRun> unpinned = runPass(path, std::nullopt);
    if (failed || !pinned || !unpinned) {
        std::fprintf(stderr, "%s: a run failed\n", clip.name);
        return false;
    }
    std::printf("%s\n", clip.title);
    std::printf("  %-32s %8.3f s CPU, best of %d, on core %d\n", "ffmpeg -threads 1 -f null", reference,
                kReferenceRuns, core.value_or(-1));
    printPass("pass, worker on one core", *pinned, reference, kOneCoreGoalRatio);
    const std::string everyCore = "pass, unpinned on " + std::to_string(usableCores()) + " cores";
    printPass(everyCore.c_str(), *unpinned, reference, kEveryCoreGoalRatio);
    std::fflush(stdout);
    return true;
}

}  // namespace

// With clip names as arguments, only those are measured.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList chosen = application.arguments().mid(1);
    bool succeeded = true;
    for (const Clip* clip : kClips) {
        if (chosen.isEmpty() || chosen.contains(QString::fromLatin1(clip->name))) {
            succeeded = measure(*clip) && succeeded;
        }
    }
    return succeeded ? 0 : 1;
}
