// Analyses one picture in "picture_structure" mode through the real worker program, beside
// `ffmpeg -threads 1 -i SAME -f null -` in the same run, and prints the ratio of the two
// (goal: at most 2.0x): the last picture of a 1080p stream of 300 pictures, and the middle
// picture of a dense 4K stream of 60 pictures (noise at a low CRF, 8x8 coding blocks), with
// the worker's peak resident memory (goal: under 1 GiB). Every picture's slice data is
// parsed on the way (temporal motion prediction needs the references' motion).
//
// It also times our syntax parser alone, in this process, on packets read into memory
// beforehand: once with every event kind (slice data parsed) and once with the
// "stream_index" kinds (slice data skipped), and prints the time per CTU.

#include "WorkerBenchSupport.h"
#include "vexilo/bench/BenchSupport.h"
#include "vexilo/bench/DecodeSplit.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace bench = vexilo::bench;

constexpr int kRuns = 3;
constexpr double kGoalRatio = 2.0;
constexpr int kPictures = 300;
// Decode picture identities count from 1 in decode order.
constexpr qint64 kLastPicture = kPictures;
constexpr int kDensePictures = 60;
constexpr qint64 kDenseMiddlePicture = kDensePictures / 2;
constexpr int kDenseRuns = 1;
constexpr double kMebibyte = 1024.0 * 1024.0;
constexpr double kMemoryGoalMebibytes = 1024.0;

// Best CPU time of `runs` "picture_structure" analyses of `target`; the finished payload and
// the worker's peak memory of the last run go to `finished` and `peakBytes`.
double timePictureStructure(const std::filesystem::path& clip, qint64 target, int runs,
                            std::optional<QJsonObject>& finished, std::uint64_t& peakBytes, bool& failed)
{
    return bench::bestOf(runs, [&] {
        QTemporaryDir cacheRoot;
        const double before = bench::cpuSeconds(RUSAGE_CHILDREN);
        finished = bench::analyseThroughWorker(clip, cacheRoot.path().toStdString(),
                                               {{"analysisMode", "picture_structure"}, {"targetDecodePictureId", target}},
                                               {}, &peakBytes);
        failed = !finished || failed;
        return bench::cpuSeconds(RUSAGE_CHILDREN) - before;
    });
}

// The middle picture of the dense 4K stream: CPU time beside ffmpeg's and peak memory.
bool benchmarkDenseUhd()
{
    const auto clip = bench::benchMediaDirectory() / "worker_dense_2160p_60.hevc";
    if (!bench::ensureGenerated(clip, "-f lavfi -i testsrc2=size=3840x2160:rate=25 -vf noise=alls=100:allf=t+u "
                                      "-frames:v 60 -pix_fmt yuv420p -c:v libx265 -preset ultrafast -x265-params "
                                      "log-level=error:crf=10:ctu=32:min-cu-size=8:bframes=1:tu-intra-depth=3:"
                                      "tu-inter-depth=3 -f hevc")) {
        return false;
    }
    bool failed = false;
    const double ffmpegSeconds = bench::ffmpegDecodeCpuSeconds(clip, kDenseRuns, failed);
    std::uint64_t peakBytes = 0;
    std::optional<QJsonObject> finished;
    const double workerSeconds = timePictureStructure(clip, kDenseMiddlePicture, kDenseRuns, finished, peakBytes, failed);
    const qint64 cus = finished ? finished->value("cuCount").toInteger() : 0;
    if (failed || cus == 0) {
        std::fprintf(stderr, "the dense run failed or its target picture has no CUs\n");
        return false;
    }
    std::printf("picture_structure analysis of picture %lld of a dense 4K stream of %d (CPU seconds, best of %d)\n",
                static_cast<long long>(kDenseMiddlePicture), kDensePictures, kDenseRuns);
    std::printf("  worker            %8.3f s (%lld CUs), peak resident %.0f MiB (goal < %.0f MiB)\n", workerSeconds,
                static_cast<long long>(cus), static_cast<double>(peakBytes) / kMebibyte, kMemoryGoalMebibytes);
    std::printf("  ffmpeg -threads 1 %8.3f s\n", ffmpegSeconds);
    std::printf("  ratio             %8.2fx (goal <= %.1fx)\n", workerSeconds / ffmpegSeconds, kGoalRatio);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    // A mid-range preset, so that the pictures hold the CU, PU and TU variety of real encodes.
    const auto clip = bench::benchMediaDirectory() / "worker_1080p_300_medium.hevc";
    if (!bench::ensureGenerated(clip, "-f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 300 -pix_fmt yuv420p "
                                      "-c:v libx265 -preset medium -x265-params log-level=error -f hevc")) {
        return 1;
    }

    bool failed = false;
    const double ffmpegSeconds = bench::ffmpegDecodeCpuSeconds(clip, kRuns, failed);

    std::uint64_t peakBytes = 0;
    std::optional<QJsonObject> finished;
    const double workerSeconds = timePictureStructure(clip, kLastPicture, kRuns, finished, peakBytes, failed);
    const qint64 targetCtus = finished ? finished->value("ctuCount").toInteger() : 0;
    if (failed || targetCtus == 0) {
        std::fprintf(stderr, "a run failed or the target picture has no CTUs\n");
        return 1;
    }

    const std::vector<bench::PacketBytes> packets = bench::readPackets(clip);
    const bench::ParseRun blocks = bench::bestParseOf(kRuns, packets, VEXILO_OBSERVER_EVENT_MASK_ALL);
    const bench::ParseRun headers = bench::bestParseOf(kRuns, packets, VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX);
    if (blocks.ctus == 0) {
        std::fprintf(stderr, "the parser reported no CTUs\n");
        return 1;
    }

    const double ratio = workerSeconds / ffmpegSeconds;
    const double perCtu = blocks.cpuSeconds / static_cast<double>(blocks.ctus);
    const double sliceDataPerCtu = (blocks.cpuSeconds - headers.cpuSeconds) / static_cast<double>(blocks.ctus);
    std::printf("picture_structure analysis of picture %lld of %d at 1080p (CPU seconds, best of %d)\n",
                static_cast<long long>(kLastPicture), kPictures, kRuns);
    std::printf("  worker            %8.3f s (%lld CTUs in the target picture)\n", workerSeconds,
                static_cast<long long>(targetCtus));
    std::printf("  ffmpeg -threads 1 %8.3f s\n", ffmpegSeconds);
    std::printf("  ratio             %8.2fx (goal <= %.1fx)\n", ratio, kGoalRatio);
    std::printf("parser alone, %llu CTUs\n", static_cast<unsigned long long>(blocks.ctus));
    std::printf("  every event kind  %8.3f s, %6.2f us per CTU\n", blocks.cpuSeconds, perCtu * 1e6);
    std::printf("  stream_index kinds%8.3f s\n", headers.cpuSeconds);
    std::printf("  slice data alone  %15.2f us per CTU\n", sliceDataPerCtu * 1e6);
    return benchmarkDenseUhd() ? 0 : 1;
}
