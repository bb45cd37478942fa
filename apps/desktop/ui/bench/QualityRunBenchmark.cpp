// A full-stream quality run as the window starts it ("Quality Detect": both 1080p streams of
// 300 frames decoded afresh and every A and B picture measured against the raw reference, on
// the run's own thread, results delivered to the GUI thread), beside ffmpeg's psnr and ssim
// filters over the same files. ffmpeg runs once per stream, as the run measures both.
// VMAF is left off (no library), so the figures compare PSNR, SSIM and MSE work.
#include "QualityAnalysisRun.h"

#include "vexilo/bench/BenchSupport.h"
#include "vexilo/media/VmafBackend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>
#include <map>

namespace {

using namespace vexilo;
namespace bench = vexilo::bench;

constexpr int kFrames = 300;
constexpr const char* kSize = "1920x1080";
constexpr double kGoalRatio = 1.0;  // the run is not slower than ffmpeg

std::string encodeArguments(const std::filesystem::path& reference, int crf) {
    return std::string("-f rawvideo -pix_fmt yuv420p -s ") + kSize + " -r 25 -i " + bench::quoted(reference) +
           " -c:v libx265 -preset ultrafast -x265-params log-level=error:crf=" + std::to_string(crf) + " -f hevc";
}

std::string ffmpegMetricsCommand(const std::filesystem::path& stream, const std::filesystem::path& reference) {
    return "ffmpeg -hide_banner -loglevel error -nostdin -i " + bench::quoted(stream) +
           " -f rawvideo -pix_fmt yuv420p -s " + kSize + " -r 25 -i " + bench::quoted(reference) +
           " -lavfi \"[0][1]psnr;[0][1]ssim\" -f null -";
}

struct RunOutcome {
    int results = 0;  // pairs, each counted once however often it was reported
    int measuredSides = 0;
    bool canceled = false;
    double firstReportSeconds = 0.0;
};

RunOutcome runFullStream(const application::QualityAnalysisInput& input) {
    RunOutcome outcome;
    QualityAnalysisRun run;
    QEventLoop loop;
    QElapsedTimer clock;
    // A pair comes once as soon as it is measured and once more when its VMAF is scored; the
    // last report of each pair is the one counted.
    std::map<std::int64_t, int> measuredSidesOfPair;
    QObject::connect(&run, &QualityAnalysisRun::resultReady, [&](const application::QualityPairResult& result) {
        if (measuredSidesOfPair.empty()) {
            outcome.firstReportSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        }
        int measured = 0;
        for (const auto* side : {&result.metricsA, &result.metricsB}) {
            measured += (*side && (*side)->all.status == media::QualityMetricStatus::Available) ? 1 : 0;
        }
        measuredSidesOfPair[result.frameIndex] = measured;
    });
    QObject::connect(&run, &QualityAnalysisRun::finished, [&](const QString&, bool canceled) {
        outcome.canceled = canceled;
        loop.quit();
    });
    clock.start();
    run.start(input, QStringLiteral("Quality Detect"));
    loop.exec();
    outcome.results = static_cast<int>(measuredSidesOfPair.size());
    for (const auto& [frameIndex, measured] : measuredSidesOfPair) {
        outcome.measuredSides += measured;
    }
    return outcome;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    media::configureVmafBackend(media::VmafBackendSettings{"vexilo-no-vmaf-in-this-benchmark.so", ""});

    const auto directory = bench::benchMediaDirectory();
    const auto reference = directory / "quality_run_reference_1080p_300.yuv";
    const auto streamA = directory / "quality_run_a_crf24_1080p_300.hevc";
    const auto streamB = directory / "quality_run_b_crf34_1080p_300.hevc";
    const std::string source = std::string("-f lavfi -i testsrc2=size=") + kSize + ":rate=25 -frames:v " +
                               std::to_string(kFrames) + " -pix_fmt yuv420p -f rawvideo";
    if (!bench::ensureGenerated(reference, source) || !bench::ensureGenerated(streamA, encodeArguments(reference, 24)) ||
        !bench::ensureGenerated(streamB, encodeArguments(reference, 34))) {
        return 1;
    }

    application::QualityAnalysisInput input;
    input.reference.path = reference;
    input.reference.width = 1920;
    input.reference.height = 1080;
    input.reference.layout = domain::ReferenceYuvLayout::I420;
    input.mode = application::QualityFrameSourceMode::FullStreamDecode;
    input.streamAPath = streamA;
    input.streamBPath = streamB;
    for (int frame = 0; frame < kFrames; ++frame) {
        application::QualityPairRequest request;
        request.row = frame;
        request.frameIndex = frame;
        request.referenceFrameIndex = frame;
        request.pictureIdA = frame;
        request.pictureIdB = frame;
        input.requests.push_back(std::move(request));
    }

    RunOutcome outcome;
    const double runSeconds = bench::secondsOf([&] { outcome = runFullStream(input); });
    bool ffmpegFailed = false;
    const double ffmpegSeconds = bench::secondsOf([&] {
        ffmpegFailed = !bench::runQuietly(ffmpegMetricsCommand(streamA, reference)) || ffmpegFailed;
        ffmpegFailed = !bench::runQuietly(ffmpegMetricsCommand(streamB, reference)) || ffmpegFailed;
    });
    if (ffmpegFailed || outcome.canceled || outcome.results != kFrames || outcome.measuredSides != 2 * kFrames) {
        std::fprintf(stderr, "run incomplete: %d results, %d sides measured, ffmpeg %s\n", outcome.results,
                     outcome.measuredSides, ffmpegFailed ? "failed" : "ran");
        return 1;
    }

    const double runFps = kFrames / runSeconds;
    const double ffmpegFps = kFrames / ffmpegSeconds;
    std::printf("Full-stream quality run, two 1080p 8-bit 4:2:0 encodes of %d frames against the reference, "
                "PSNR + SSIM + MSE, A and B\n",
                kFrames);
    std::printf("  quality run (decode A and B, measure):  %6.1f frames/s (%.2f s)\n", runFps, runSeconds);
    std::printf("  ffmpeg -lavfi \"[0][1]psnr;[0][1]ssim\", A and B:  %6.1f frames/s (%.2f s)\n", ffmpegFps,
                ffmpegSeconds);
    std::printf("  run time / ffmpeg time: %.2f (goal <= %.1f)\n", runSeconds / ffmpegSeconds, kGoalRatio);
    std::printf("  first pair reported after %.2f s of %.2f s (A is decoded whole before B's first picture)\n",
                outcome.firstReportSeconds, runSeconds);
    return 0;
}
