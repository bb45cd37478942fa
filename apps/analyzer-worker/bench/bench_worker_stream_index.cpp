// Analyses streams in "stream_index" mode through the real worker program, beside
// `ffmpeg -threads 1 -i SAME -f null -` in the same run, and prints the ratio of the two:
// a 1080p stream of 300 pictures (goal: at most 1.3x) and a stream of 100,000 small
// pictures (goal: at most 1.1x, with the worker's peak resident memory under 1 GiB). The
// worker's frames go nowhere (no frame channel), so the figure is decoding plus
// observation, document building and the cache write. Beside the long stream's figure stands
// the floor its cache layout imposes: the CPU time of writing as many picture files of the
// same sizes, crash-safe, through the cache writer's own batch.

#include "WorkerBenchSupport.h"
#include "vexilo/analysis/cache/CacheContainer.h"
#include "vexilo/bench/BenchSupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace bench = vexilo::bench;

constexpr int kRuns = 3;
constexpr double kGoalRatio = 1.3;
constexpr double kLongGoalRatio = 1.1;
constexpr int kLongRuns = 1;
constexpr double kMebibyte = 1024.0 * 1024.0;
constexpr double kMemoryGoalMebibytes = 1024.0;

constexpr const char* kPictureFileExtension = ".vxpic";

struct WorkerRun {
    double cpuSeconds = 0;
    // Wall-clock time of the fastest run: the cache's disk flushes wait without using CPU.
    double wallSeconds = 0;
    std::uint64_t peakBytes = 0;
    // Payload sizes of the picture files the last run wrote.
    std::vector<std::uint64_t> picturePayloadBytes;
};

std::vector<std::uint64_t> picturePayloadSizes(const std::filesystem::path& cacheRoot)
{
    std::vector<std::uint64_t> sizes;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(cacheRoot)) {
        if (entry.is_regular_file() && entry.path().extension() == kPictureFileExtension &&
            entry.file_size() >= vexilo::analysis::kCacheContainerHeaderSize) {
            sizes.push_back(entry.file_size() - vexilo::analysis::kCacheContainerHeaderSize);
        }
    }
    return sizes;
}

// CPU seconds of writing one picture file per size into an empty directory by the cache
// writer's crash-safe batch (temporary names, one file-system sync, renames, a directory
// sync), as an analysis writes its pictures.
double pictureFileFloorSeconds(const std::vector<std::uint64_t>& payloadSizes, bool& failed)
{
    QTemporaryDir directory;
    const std::filesystem::path pictures = std::filesystem::path(directory.path().toStdString()) / "pictures";
    std::vector<std::uint8_t> payload;
    const vexilo::analysis::CacheWriteOptions options;
    std::optional<std::uint64_t> budget;
    return bench::ownCpuSecondsOf([&] {
        vexilo::analysis::StagedCacheFiles batch;
        for (std::size_t index = 0; index < payloadSizes.size(); ++index) {
            // Distinct content, so that every temporary name differs as in a real write.
            payload.assign(payloadSizes[index], static_cast<std::uint8_t>(index));
            if (!payload.empty()) {
                payload.front() = static_cast<std::uint8_t>(index >> 8);
                payload.back() = static_cast<std::uint8_t>(index >> 16);
            }
            const auto target = pictures / (std::to_string(index) + kPictureFileExtension);
            if (batch.stage(target, vexilo::analysis::kPictureMagic, payload, options, budget)) {
                failed = true;
                return;
            }
        }
        failed = batch.commit(pictures).has_value() || failed;
    });
}

// Best CPU time of `runs` analyses, with the peak memory and the picture sizes of the last.
WorkerRun analyseBestOf(const std::filesystem::path& clip, int runs, bool& failed)
{
    WorkerRun run;
    run.wallSeconds = std::numeric_limits<double>::max();
    run.cpuSeconds = bench::bestOf(runs, [&] {
        QTemporaryDir cacheRoot;
        const auto started = std::chrono::steady_clock::now();
        const double before = bench::cpuSeconds(RUSAGE_CHILDREN);
        failed = !bench::analyseThroughWorker(clip, cacheRoot.path().toStdString(),
                                              {{"analysisMode", "stream_index"}}, {}, &run.peakBytes) ||
                 failed;
        run.wallSeconds = std::min(
            run.wallSeconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        const double seconds = bench::cpuSeconds(RUSAGE_CHILDREN) - before;
        run.picturePayloadBytes = picturePayloadSizes(cacheRoot.path().toStdString());
        return seconds;
    });
    return run;
}

void printComparison(const char* title, const WorkerRun& worker, double ffmpegSeconds, double goal, int runs)
{
    std::printf("%s (CPU seconds, best of %d)\n", title, runs);
    std::printf("  worker            %8.3f s, peak resident %.0f MiB (goal < %.0f MiB), wall %.3f s\n",
                worker.cpuSeconds, static_cast<double>(worker.peakBytes) / kMebibyte, kMemoryGoalMebibytes,
                worker.wallSeconds);
    std::printf("  ffmpeg -threads 1 %8.3f s\n", ffmpegSeconds);
    std::printf("  ratio             %8.2fx (goal <= %.1fx)\n", worker.cpuSeconds / ffmpegSeconds, goal);
}

void printLayoutFloor(const WorkerRun& worker, double floorSeconds, double ffmpegSeconds)
{
    std::printf("  file layout floor %8.3f s: %zu picture files written crash-safe alone, %.2fx of ffmpeg\n",
                floorSeconds, worker.picturePayloadBytes.size(), floorSeconds / ffmpegSeconds);
    std::printf("  worker - floor    %8.3f s, ratio %.2fx without the files' floor\n",
                worker.cpuSeconds - floorSeconds, (worker.cpuSeconds - floorSeconds) / ffmpegSeconds);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const auto clip = bench::benchMediaDirectory() / "worker_1080p_300.hevc";
    if (!bench::ensureGenerated(clip, "-f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 300 -pix_fmt yuv420p "
                                      "-c:v libx265 -preset ultrafast -x265-params log-level=error -f hevc")) {
        return 1;
    }

    // A long stream of tiny pictures: hours of broadcast have as many pictures.
    const auto longClip = bench::benchMediaDirectory() / "worker_64x64_100000.hevc";
    if (!bench::ensureGenerated(longClip, "-f lavfi -i testsrc2=size=64x64:rate=30 -frames:v 100000 -pix_fmt yuv420p "
                                          "-c:v libx265 -preset ultrafast -x265-params log-level=error:keyint=60 -f hevc")) {
        return 1;
    }

    bool failed = false;
    const double ffmpegSeconds = bench::ffmpegDecodeCpuSeconds(clip, kRuns, failed);
    const WorkerRun worker = analyseBestOf(clip, kRuns, failed);
    const double longFfmpegSeconds = bench::ffmpegDecodeCpuSeconds(longClip, kLongRuns, failed);
    const WorkerRun longWorker = analyseBestOf(longClip, kLongRuns, failed);
    const double floorSeconds = pictureFileFloorSeconds(longWorker.picturePayloadBytes, failed);
    if (failed) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }
    printComparison("stream_index analysis of 300 pictures at 1080p", worker, ffmpegSeconds, kGoalRatio, kRuns);
    printComparison("stream_index analysis of 100,000 pictures at 64x64", longWorker, longFfmpegSeconds,
                    kLongGoalRatio, kLongRuns);
    printLayoutFloor(longWorker, floorSeconds, longFfmpegSeconds);
    return 0;
}
