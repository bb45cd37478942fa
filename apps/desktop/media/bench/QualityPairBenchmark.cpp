// Measures the quality-pair analysis over 100 1080p A/B pairs against a raw reference,
// once with the frames already held (bounded frame-cache mode) and once decoding both
// streams in full, and prints pairs per second for each. PSNR, SSIM and MSE come from the
// metrics engine; VMAF goes through the libvmaf stand-in, so its share is the backend's
// own work (picture mapping and copies), not libvmaf's feature extraction.
#include "vexilo/bench/BenchSupport.h"
#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/QualityPairAnalysis.h"
#include "vexilo/media/VmafBackend.h"

#include <cstdio>
#include <map>
#include <vector>

namespace {

using namespace vexilo;
namespace bench = vexilo::bench;
using media::QualityFrameSourceMode;
using media::QualityPairRequest;
using media::QualityPairResult;

constexpr int kPairs = 100;
constexpr std::int32_t kWidth = 1920;
constexpr std::int32_t kHeight = 1080;
constexpr const char* kSource = "-f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 100";

std::string encodeArguments(const std::filesystem::path& reference, int crf) {
    return "-f rawvideo -pix_fmt yuv420p -s 1920x1080 -r 25 -i " + bench::quoted(reference) +
           " -c:v libx265 -preset ultrafast -x265-params log-level=error:crf=" + std::to_string(crf) + " -f hevc";
}

std::vector<domain::VideoFramePtr> decodeAll(const std::filesystem::path& path) {
    std::vector<domain::VideoFramePtr> frames;
    auto source = media::FFmpegVideoSource::open(path);
    if (!source.ok()) {
        return frames;
    }
    static_cast<void>(source.value().decodeSequentially(
        [&frames](media::FFmpegDecodedPicture picture) {
            frames.push_back(std::make_shared<const domain::VideoFrame>(std::move(picture.frame)));
        },
        {}));
    return frames;
}

struct RunFigures {
    double seconds = 0.0;
    int measuredSides = 0;
    int vmafAvailable = 0;
};

// A full-stream run reports a pair early and again with its VMAF: each pair's last report counts.
RunFigures runAnalysis(const media::QualityAnalysisInput& input) {
    RunFigures figures;
    std::map<std::int64_t, std::pair<int, int>> sidesOfPair;  // measured, VMAF available
    figures.seconds = bench::secondsOf([&] {
        media::analyzeQualityPairs(input, nullptr, [&sidesOfPair](QualityPairResult result) {
            std::pair<int, int> counts;
            for (const auto* side : {&result.metricsA, &result.metricsB}) {
                if (*side && (*side)->all.status == media::QualityMetricStatus::Available) {
                    ++counts.first;
                    counts.second += (*side)->vmaf.status == media::QualityMetricStatus::Available ? 1 : 0;
                }
            }
            sidesOfPair[result.frameIndex] = counts;
        });
    });
    for (const auto& [frameIndex, counts] : sidesOfPair) {
        figures.measuredSides += counts.first;
        figures.vmafAvailable += counts.second;
    }
    return figures;
}

void report(const char* mode, const RunFigures& figures) {
    std::printf("  %-22s %.2f s, %.2f pairs/s (%d of %d sides measured, VMAF available on %d)\n", mode,
                figures.seconds, kPairs / figures.seconds, figures.measuredSides, 2 * kPairs, figures.vmafAvailable);
}

}  // namespace

int main() {
    if (!media::configureVmafBackend(media::VmafBackendSettings{VEXILO_VMAF_STAND_IN_PATH, ""})) {
        std::fprintf(stderr, "VMAF backend was configured already\n");
        return 1;
    }
    const auto directory = bench::benchMediaDirectory();
    const auto reference = directory / "pairs_reference_1080p.yuv";
    const auto streamA = directory / "pairs_a_crf22_1080p.hevc";
    const auto streamB = directory / "pairs_b_crf36_1080p.hevc";
    if (!bench::ensureGenerated(reference, std::string(kSource) + " -pix_fmt yuv420p -f rawvideo") ||
        !bench::ensureGenerated(streamA, encodeArguments(reference, 22)) ||
        !bench::ensureGenerated(streamB, encodeArguments(reference, 36))) {
        return 1;
    }

    media::QualityAnalysisInput input;
    input.reference.path = reference;
    input.reference.width = kWidth;
    input.reference.height = kHeight;
    input.reference.layout = domain::ReferenceYuvLayout::I420;
    input.streamAPath = streamA;
    input.streamBPath = streamB;
    const std::vector<domain::VideoFramePtr> framesA = decodeAll(streamA);
    const std::vector<domain::VideoFramePtr> framesB = decodeAll(streamB);
    if (framesA.size() != kPairs || framesB.size() != kPairs) {
        std::fprintf(stderr, "expected %d decoded pictures per stream\n", kPairs);
        return 1;
    }
    for (int k = 0; k < kPairs; ++k) {
        QualityPairRequest request;
        request.row = k;
        request.frameIndex = k;
        request.referenceFrameIndex = k;
        request.pictureIdA = k;
        request.pictureIdB = k;
        request.frameA = framesA[static_cast<std::size_t>(k)];
        request.frameB = framesB[static_cast<std::size_t>(k)];
        input.requests.push_back(std::move(request));
    }

    std::printf("Quality-pair analysis, %d pairs 1080p 8-bit 4:2:0, A and B against the reference\n", kPairs);
    input.mode = QualityFrameSourceMode::BoundedCache;
    report("bounded frame cache:", runAnalysis(input));
    input.mode = QualityFrameSourceMode::FullStreamDecode;
    for (QualityPairRequest& request : input.requests) {
        request.frameA.reset();
        request.frameB.reset();
    }
    report("full-stream decode:", runAnalysis(input));
    return 0;
}
