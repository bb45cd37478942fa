// Builds the AI evidence pack for a 100,000-picture snapshot with a stream analysis, a
// quality result per frame and heat-map regions for the targeted frame, and prints the
// best time of a few builds (goal: at most 50 ms). There is no outside tool to run beside
// it: the pack is this system's own text.
#include "vexilo/ai/AiEvidencePackBuilder.h"
#include "vexilo/bench/BenchSupport.h"

#include <cstdio>

namespace {

using vexilo::ai::AiEvidenceQualityPair;
using vexilo::ai::AiEvidenceSnapshot;
using vexilo::media::FrameQualityMetrics;
using vexilo::media::PlaneQualityMetrics;
using vexilo::media::QualityMetricStatus;

constexpr std::int64_t kPictures = 100'000;
constexpr int kNalUnitsPerPicture = 2;
constexpr int kRegionsPerSide = 510;  // 1080p in 64 x 64 blocks
constexpr int kSampledPairs = 64;
constexpr int kRuns = 5;
constexpr double kGoalMs = 50.0;

PlaneQualityMetrics plane(double psnr)
{
    PlaneQualityMetrics metrics;
    metrics.status = QualityMetricStatus::Available;
    metrics.psnr = psnr;
    metrics.ssim = 0.97;
    metrics.mse = 3.1;
    return metrics;
}

FrameQualityMetrics frame(double psnr)
{
    FrameQualityMetrics metrics;
    metrics.y = plane(psnr);
    metrics.u = plane(psnr + 2.0);
    metrics.v = plane(psnr + 2.5);
    metrics.all = plane(psnr + 0.5);
    return metrics;
}

std::vector<vexilo::media::RegionQualityMetrics> regions(double base)
{
    std::vector<vexilo::media::RegionQualityMetrics> list(kRegionsPerSide);
    for (int k = 0; k < kRegionsPerSide; ++k) {
        auto& region = list[static_cast<std::size_t>(k)];
        region.x = (k % 30) * 64;
        region.y = (k / 30) * 64;
        region.width = 64;
        region.height = 64;
        region.yMetrics = plane(base + k % 13);
        region.allMetrics = plane(base + k % 17);
    }
    return list;
}

vexilo::analysis::StreamAnalysis streamAnalysis()
{
    vexilo::analysis::StreamAnalysis document;
    for (std::int64_t id = 0; id < kPictures; ++id) {
        const auto pictureId = static_cast<std::uint64_t>(id);
        for (int unit = 0; unit < kNalUnitsPerPicture; ++unit) {
            vexilo::analysis::NalUnitInfo nal;
            nal.pictureId = pictureId;
            nal.byteSize = static_cast<std::uint64_t>(1000 + (id * 7919) % 50000);
            document.nalUnits.push_back(nal);
        }
        vexilo::analysis::SliceInfo slice;
        slice.id = {1, pictureId};
        slice.pictureId = pictureId;
        slice.sliceQp = static_cast<std::int16_t>(22 + id % 15);
        document.slices.push_back(slice);
        vexilo::analysis::ReferencePictureEntry reference;
        reference.parentSliceId = slice.id;
        document.referencePictures.push_back(reference);
        vexilo::analysis::PictureAnalysisSummary summary;
        summary.pictureId = pictureId;
        summary.sliceCount = 1;
        document.pictures.push_back(summary);
    }
    return document;
}

AiEvidenceSnapshot largeSnapshot()
{
    AiEvidenceSnapshot snapshot;
    snapshot.statusText = QStringLiteral("Ready");
    vexilo::domain::StreamInfo info;
    info.sourcePath = "/media/long_take.hevc";
    info.codecName = "hevc";
    info.width = 1920;
    info.height = 1080;
    info.bitDepth = 8;
    info.pixelFormatName = "yuv420p";
    info.frameCount = kPictures;
    snapshot.streamInfo = info;
    for (std::int64_t id = 0; id < kPictures; ++id) {
        vexilo::domain::PictureInfo picture;
        picture.id = id;
        picture.displayIndex = id;
        picture.decodeIndex = id;
        picture.poc = static_cast<std::int32_t>(id % 64);
        picture.pictureType = static_cast<vexilo::domain::PictureType>(1 + id % 3);
        picture.width = 1920;
        picture.height = 1080;
        picture.bitDepth = 8;
        snapshot.pictures.push_back(picture);
    }
    snapshot.selectedPictureId = kPictures / 2;
    snapshot.streamAnalysis = std::make_shared<const vexilo::analysis::StreamAnalysis>(streamAnalysis());
    snapshot.comparePairCount = static_cast<std::uint64_t>(kPictures);
    snapshot.currentCompareFrameIndex = kPictures / 2;
    for (std::int64_t index = 0; index < kPictures; ++index) {
        AiEvidenceQualityPair pair;
        pair.frameIndex = index;
        pair.pictureIdA = index;
        pair.pictureIdB = index;
        pair.metricsA = frame(30.0 + static_cast<double>(index % 101) / 10.0);
        pair.metricsB = frame(30.0 + static_cast<double>(index % 89) / 10.0);
        if (index == kPictures / 2) {
            pair.regionsA = regions(28.0);
            pair.regionsB = regions(29.0);
        }
        snapshot.qualityPairResults.push_back(std::move(pair));
    }
    for (int k = 0; k < kSampledPairs; ++k) {
        vexilo::ai::AiEvidenceComparePair pair;
        pair.frameIndex = k * (kPictures / kSampledPairs);
        pair.pictureIdA = pair.frameIndex;
        pair.matchText = QStringLiteral("matched");
        pair.resolutionText = QStringLiteral("1920x1080");
        pair.metricsA = frame(33.0);
        snapshot.sampledComparePairs.push_back(pair);
    }
    return snapshot;
}

}  // namespace

int main()
{
    namespace bench = vexilo::bench;
    const vexilo::ai::AiEvidencePackBuilder builder(largeSnapshot());
    qsizetype length = 0;
    const double seconds = bench::bestSecondsOf(kRuns, [&] { length = builder.build().size(); });
    const double milliseconds = seconds * 1000.0;
    std::printf("evidence pack, %lld pictures, %lld quality pairs, %d regions per side (%lld UTF-16 units)\n",
                static_cast<long long>(kPictures), static_cast<long long>(kPictures), kRegionsPerSide,
                static_cast<long long>(length));
    std::printf("  build: %.2f ms (goal <= %.0f ms) %s\n", milliseconds, kGoalMs,
                milliseconds <= kGoalMs ? "met" : "NOT met");
    return 0;
}
