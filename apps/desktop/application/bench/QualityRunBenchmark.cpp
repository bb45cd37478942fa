// Quality Detect as the window starts it: a full-stream run of the quality service over two
// encodes of 2,000 pictures, both decoded afresh side by side and every A and B picture
// measured against the raw reference, results gathered into the service's store on this
// thread. Printed beside it: the same pair analysis called bare on one thread with nothing
// listening (the run's own time), the time both decoders need for their first picture, and
// ffmpeg's psnr and ssim filters over the same files. VMAF is left off (no library), so the
// figures compare PSNR, SSIM and MSE work.
#include "vexilo/application/QualityAnalysisService.h"
#include "vexilo/bench/BenchSupport.h"
#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/VmafBackend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <future>
#include <set>

namespace {

using namespace vexilo;
namespace bench = vexilo::bench;

constexpr int kPairs = 2000;
constexpr int kWidth = 320;
constexpr int kHeight = 180;
constexpr const char* kSize = "320x180";
constexpr double kFirstPairGoalSeconds = 1.0;
constexpr double kOwnTimeGoalRatio = 1.2;
constexpr int kRuns = 3;

std::string rawReferenceArguments() {
    return std::string("-f rawvideo -pix_fmt yuv420p -s ") + kSize + " -r 25";
}

std::string encodeArguments(const std::filesystem::path& reference, int crf) {
    return rawReferenceArguments() + " -i " + bench::quoted(reference) +
           " -c:v libx265 -preset ultrafast -x265-params log-level=error:crf=" + std::to_string(crf) + " -f hevc";
}

std::string ffmpegMetricsCommand(const std::filesystem::path& stream, const std::filesystem::path& reference) {
    return "ffmpeg -hide_banner -loglevel error -nostdin -i " + bench::quoted(stream) + " " +
           rawReferenceArguments() + " -i " + bench::quoted(reference) +
           " -lavfi \"[0][1]psnr;[0][1]ssim\" -f null -";
}

// Seconds until one stream's first picture leaves the decoder, opening included.
double firstPictureSeconds(const std::filesystem::path& stream) {
    QElapsedTimer clock;
    clock.start();
    auto source = media::FFmpegVideoSource::open(stream);
    if (!source.ok()) {
        return -1.0;
    }
    bool seen = false;
    static_cast<void>(source.value().decodeSequentially([&seen](media::FFmpegDecodedPicture) { seen = true; },
                                                        [&seen] { return seen; }));
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

// Both decoders start together in a run, so the later of their first pictures counts.
double bothFirstPicturesSeconds(const std::filesystem::path& streamA, const std::filesystem::path& streamB) {
    auto sideB = std::async(std::launch::async, [&streamB] { return firstPictureSeconds(streamB); });
    const double a = firstPictureSeconds(streamA);
    return std::max(a, sideB.get());
}

struct RunOutcome {
    double firstReportSeconds = 0.0;
    double totalSeconds = 0.0;
    std::set<std::int64_t> pairs;
    bool canceled = false;
};

RunOutcome runBare(const application::QualityAnalysisInput& input) {
    RunOutcome outcome;
    QElapsedTimer clock;
    clock.start();
    media::analyzeQualityPairs(input, nullptr, [&](const application::QualityPairResult& result) {
        if (outcome.pairs.empty()) {
            outcome.firstReportSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        }
        outcome.pairs.insert(result.frameIndex);
    });
    outcome.totalSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    return outcome;
}

RunOutcome runThroughService(const application::QualityAnalysisInput& input) {
    RunOutcome outcome;
    application::QualityAnalysisService service;
    QEventLoop loop;
    QElapsedTimer clock;
    QObject::connect(&service, &application::QualityAnalysisService::resultsReady, [&](const QList<qint64>& frames) {
        if (outcome.pairs.empty()) {
            outcome.firstReportSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        }
        outcome.pairs.insert(frames.begin(), frames.end());
    });
    QObject::connect(&service, &application::QualityAnalysisService::finished, [&](const QString&, bool canceled) {
        outcome.canceled = canceled;
        loop.quit();
    });
    clock.start();
    service.start(input, QStringLiteral("Quality Detect"));
    loop.exec();
    outcome.totalSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const bool measuredBothSides = std::all_of(
        service.resultStore().results().begin(), service.resultStore().results().end(), [](const auto& entry) {
            const auto& [frameIndex, result] = entry;
            return result.metricsA && result.metricsB &&
                   result.metricsA->all.status == media::QualityMetricStatus::Available &&
                   result.metricsB->all.status == media::QualityMetricStatus::Available;
        });
    if (!measuredBothSides) {
        outcome.pairs.clear();
    }
    return outcome;
}

void keepQuicker(RunOutcome& best, RunOutcome candidate) {
    if (best.pairs.empty() || (!candidate.pairs.empty() && candidate.totalSeconds < best.totalSeconds)) {
        best = std::move(candidate);
    }
}

application::QualityAnalysisInput detectInput(const std::filesystem::path& reference, const std::filesystem::path& streamA,
                                              const std::filesystem::path& streamB) {
    application::QualityAnalysisInput input;
    input.reference.path = reference;
    input.reference.width = kWidth;
    input.reference.height = kHeight;
    input.reference.layout = domain::ReferenceYuvLayout::I420;
    input.mode = application::QualityFrameSourceMode::FullStreamDecode;
    input.streamAPath = streamA;
    input.streamBPath = streamB;
    for (int frame = 0; frame < kPairs; ++frame) {
        application::QualityPairRequest request;
        request.row = frame;
        request.frameIndex = frame;
        request.referenceFrameIndex = frame;
        request.pictureIdA = frame;
        request.pictureIdB = frame;
        input.requests.push_back(std::move(request));
    }
    return input;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    media::configureVmafBackend(media::VmafBackendSettings{"vexilo-no-vmaf-in-this-benchmark.so", ""});

    const auto directory = bench::benchMediaDirectory();
    const auto reference = directory / "quality_detect_reference_320x180_2000.yuv";
    const auto streamA = directory / "quality_detect_a_crf24_320x180_2000.hevc";
    const auto streamB = directory / "quality_detect_b_crf34_320x180_2000.hevc";
    const std::string source = std::string("-f lavfi -i testsrc2=size=") + kSize + ":rate=25 -frames:v " +
                               std::to_string(kPairs) + " -pix_fmt yuv420p -f rawvideo";
    if (!bench::ensureGenerated(reference, source) || !bench::ensureGenerated(streamA, encodeArguments(reference, 24)) ||
        !bench::ensureGenerated(streamB, encodeArguments(reference, 34))) {
        return 1;
    }
    const application::QualityAnalysisInput input = detectInput(reference, streamA, streamB);

    // The machine is shared: each way runs a few times, taking turns, and its quickest run counts.
    RunOutcome bare;
    RunOutcome detect;
    for (int run = 0; run < kRuns; ++run) {
        keepQuicker(bare, runBare(input));
        keepQuicker(detect, runThroughService(input));
    }
    // Measured with the files as warm as the runs find them.
    const double firstPictures = bench::bestOf(kRuns, [&] { return bothFirstPicturesSeconds(streamA, streamB); });
    bool ffmpegFailed = false;
    const double ffmpegSeconds = bench::secondsOf([&] {
        ffmpegFailed = !bench::runQuietly(ffmpegMetricsCommand(streamA, reference)) || ffmpegFailed;
        ffmpegFailed = !bench::runQuietly(ffmpegMetricsCommand(streamB, reference)) || ffmpegFailed;
    });
    if (ffmpegFailed || firstPictures < 0.0 || detect.canceled || detect.pairs.size() != kPairs ||
        bare.pairs.size() != kPairs) {
        std::fprintf(stderr, "run incomplete: %zu pairs through the service, %zu bare, ffmpeg %s\n", detect.pairs.size(),
                     bare.pairs.size(), ffmpegFailed ? "failed" : "ran");
        return 1;
    }

    std::printf("Quality Detect, two %s 8-bit 4:2:0 encodes of %d pictures against the reference, "
                "PSNR + SSIM + MSE, A and B decoded side by side\n",
                kSize, kPairs);
    std::printf("  both decoders' first pictures:          %6.3f s\n", firstPictures);
    std::printf("  first pair reported after:              %6.3f s, %.3f s after both first pictures (goal <= %.1f)\n",
                detect.firstReportSeconds, detect.firstReportSeconds - firstPictures, kFirstPairGoalSeconds);
    std::printf("  Quality Detect total (service, store):  %6.2f s (%.1f pairs/s)\n", detect.totalSeconds,
                kPairs / detect.totalSeconds);
    std::printf("  the run's own time (bare analysis):     %6.2f s, first pair after %.3f s\n", bare.totalSeconds,
                bare.firstReportSeconds);
    std::printf("  total / own time: %.2f (goal <= %.1f)\n", detect.totalSeconds / bare.totalSeconds,
                kOwnTimeGoalRatio);
    std::printf("  ffmpeg -lavfi \"[0][1]psnr;[0][1]ssim\", A then B: %6.2f s; total / ffmpeg: %.2f\n", ffmpegSeconds,
                detect.totalSeconds / ffmpegSeconds);
    return 0;
}
