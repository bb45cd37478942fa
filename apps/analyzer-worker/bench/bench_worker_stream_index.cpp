// Analyses a 1080p stream of 300 pictures in "stream_index" mode through the real worker
// program, beside `ffmpeg -threads 1 -i SAME -f null -` in the same run, and prints the
// ratio of the two. Goal: at most 1.3x. The worker's frames go nowhere (no frame channel),
// so the figure is decoding plus observation, document building and the cache write.

#include "WorkerBenchSupport.h"
#include "vexilo/bench/BenchSupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <string>

namespace {

namespace bench = vexilo::bench;

constexpr int kRuns = 3;
constexpr double kGoalRatio = 1.3;

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const auto clip = bench::benchMediaDirectory() / "worker_1080p_300.hevc";
    if (!bench::ensureGenerated(clip, "-f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 300 -pix_fmt yuv420p "
                                      "-c:v libx265 -preset ultrafast -x265-params log-level=error -f hevc")) {
        return 1;
    }

    bool failed = false;
    const double ffmpegSeconds = bench::ffmpegDecodeCpuSeconds(clip, kRuns, failed);

    const double workerSeconds = bench::bestOf(kRuns, [&] {
        QTemporaryDir cacheRoot;
        const double before = bench::cpuSeconds(RUSAGE_CHILDREN);
        failed = !bench::analyseThroughWorker(clip, cacheRoot.path().toStdString(), {{"analysisMode", "stream_index"}}) ||
                 failed;
        return bench::cpuSeconds(RUSAGE_CHILDREN) - before;
    });
    if (failed) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }

    const double ratio = workerSeconds / ffmpegSeconds;
    std::printf("stream_index analysis of 300 pictures at 1080p (CPU seconds, best of %d)\n", kRuns);
    std::printf("  worker            %8.3f s\n", workerSeconds);
    std::printf("  ffmpeg -threads 1 %8.3f s\n", ffmpegSeconds);
    std::printf("  ratio             %8.2fx (goal <= %.1fx)\n", ratio, kGoalRatio);
    return 0;
}
