#include "QualityMetricsDetail.h"
#include "TestSupport.h"
#include "vexilo/media/QualityMetrics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace vexilo::media {
namespace {

using domain::ChromaFormat;
using domain::VideoFrame;
using domain::VideoPlane;
using test::makeFlatFrame;
using test::makePlane;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

void expectStatus(const PlaneQualityMetrics& metrics, QualityMetricStatus status, const std::string& message) {
    EXPECT_EQ(metrics.status, status);
    EXPECT_EQ(metrics.message, message);
    EXPECT_FALSE(metrics.mse);
    EXPECT_FALSE(metrics.psnr);
    EXPECT_FALSE(metrics.ssim);
    EXPECT_EQ(metrics.sampleCount, 0U);
}

void expectWholeFrameFailed(const FrameQualityMetrics& metrics, QualityMetricStatus status,
                            const std::string& message) {
    for (const PlaneQualityMetrics* plane : {&metrics.y, &metrics.u, &metrics.v, &metrics.all}) {
        expectStatus(*plane, status, message);
    }
    EXPECT_EQ(metrics.vmaf.status, status);
    EXPECT_EQ(metrics.vmaf.message, message);
    EXPECT_FALSE(metrics.vmaf.score);
    EXPECT_TRUE(metrics.vmaf.features.empty());
    EXPECT_TRUE(metrics.vmaf.modelVersion.empty());
    EXPECT_TRUE(metrics.vmaf.backendVersion.empty());
}

VideoFrame randomFrame(std::int32_t width, std::int32_t height, std::int32_t bitDepth, ChromaFormat chroma,
                       std::uint32_t seed) {
    VideoFrame frame = makeFlatFrame(width, height, bitDepth, chroma, 0, 0);
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::uint32_t> sample(0, (1U << bitDepth) - 1);
    for (VideoPlane& plane : frame.planes) {
        std::vector<std::uint32_t> values(plane.samples.size() / static_cast<std::size_t>(plane.bytesPerSample));
        for (std::uint32_t& value : values) {
            value = sample(random);
        }
        plane = makePlane(plane.planeIndex, plane.width, plane.height, plane.bytesPerSample, values);
    }
    return frame;
}

TEST(QualityMetricStatusNames, NameEveryStatusAndFoldTheRestIntoComputeError) {
    const std::pair<int, const char*> cases[] = {
        {0, "available"},          {1, "backend_unavailable"},   {2, "no_reference"},
        {3, "missing_reference_frame"}, {4, "missing_encoded_frame"}, {5, "format_mismatch"},
        {6, "unsupported_layout"}, {7, "compute_error"},         {8, "compute_error"},
        {255, "compute_error"}};
    for (const auto& [value, name] : cases) {
        EXPECT_EQ(qualityMetricStatusName(static_cast<QualityMetricStatus>(value)), name) << value;
    }
}

TEST(QualityRecords, DefaultsAreComputeErrorsAndFailuresCarryOneStatusEverywhere) {
    const PlaneQualityMetrics plane;
    EXPECT_EQ(plane.status, QualityMetricStatus::ComputeError);
    EXPECT_TRUE(plane.message.empty());
    const FrameQualityMetrics frame;
    EXPECT_EQ(frame.vmaf.status, QualityMetricStatus::ComputeError);
    EXPECT_TRUE(frame.vmaf.message.empty());
    expectWholeFrameFailed(makeFailedFrameQualityMetrics(QualityMetricStatus::NoReference, "no reference attached"),
                           QualityMetricStatus::NoReference, "no reference attached");
}

// Worked by hand: x = {10, 20, 30, 40}, y = {12, 18, 33, 37}.
TEST(PlaneMetrics, MatchTheHandComputedGlobalWindowValues) {
    const VideoPlane reference = makePlane(0, 2, 2, 1, {10, 20, 30, 40});
    const VideoPlane encoded = makePlane(0, 2, 2, 1, {12, 18, 33, 37});
    const PlaneQualityMetrics metrics = computePlaneQualityMetrics(reference, encoded, 8);
    EXPECT_EQ(metrics.status, QualityMetricStatus::Available);
    EXPECT_EQ(metrics.message, "available");
    EXPECT_EQ(metrics.sampleCount, 4U);
    EXPECT_DOUBLE_EQ(*metrics.mse, 6.5);
    EXPECT_NEAR(*metrics.psnr, 40.00167004225055, 1e-12);
    // mu 25/25, variances 125/106.5, covariance 112.5, C1 = 2.55^2, C2 = 7.65^2.
    EXPECT_NEAR(*metrics.ssim, 0.9775879457628288, 1e-12);
}

TEST(PlaneMetrics, TenBitPeakIs1023) {
    const VideoPlane reference = makePlane(0, 2, 1, 2, {1000, 0});
    const VideoPlane encoded = makePlane(0, 2, 1, 2, {1001, 1});
    const PlaneQualityMetrics metrics = computePlaneQualityMetrics(reference, encoded, 10);
    EXPECT_DOUBLE_EQ(*metrics.mse, 1.0);
    EXPECT_NEAR(*metrics.psnr, 60.1975126742432, 1e-12);  // 20 log10(1023)
}

TEST(PlaneMetrics, ConstantIdenticalPlanesHaveSsimOne) {
    const VideoPlane flat = makePlane(0, 3, 3, 1, std::vector<std::uint32_t>(9, 77));
    const PlaneQualityMetrics metrics = computePlaneQualityMetrics(flat, flat, 8);
    EXPECT_EQ(*metrics.mse, 0.0);
    EXPECT_EQ(*metrics.psnr, kInfinity);
    EXPECT_DOUBLE_EQ(*metrics.ssim, 1.0);
}

// Padding beyond each row's width is stored, so the whole-plane metric counts it; the
// regional metric reads only inside its rectangle.
TEST(PlaneMetrics, WholePlaneCountsStridePaddingRegionsDoNot) {
    VideoPlane reference = makePlane(0, 2, 2, 1, {10, 10, 0, 10, 10, 0});
    VideoPlane encoded = makePlane(0, 2, 2, 1, {10, 10, 4, 10, 10, 4});
    reference.stride = encoded.stride = 3;
    const PlaneQualityMetrics whole = computePlaneQualityMetrics(reference, encoded, 8);
    EXPECT_EQ(whole.sampleCount, 6U);
    EXPECT_DOUBLE_EQ(*whole.mse, 32.0 / 6.0);
    const PlaneQualityMetrics region = computeRegionPlaneMetric(reference, encoded, 8, 0, 0, 2, 2);
    EXPECT_EQ(region.sampleCount, 4U);
    EXPECT_EQ(*region.mse, 0.0);
}

TEST(PlaneMetrics, OddTrailingByteOfAWidePlaneIsNotRead) {
    VideoPlane reference = makePlane(0, 1, 1, 2, {300});
    VideoPlane encoded = makePlane(0, 1, 1, 2, {302});
    reference.samples.push_back(0);
    encoded.samples.push_back(255);
    const PlaneQualityMetrics metrics = computePlaneQualityMetrics(reference, encoded, 10);
    EXPECT_EQ(metrics.sampleCount, 1U);
    EXPECT_DOUBLE_EQ(*metrics.mse, 4.0);
}

struct PlaneFailureCase {
    const char* name;
    VideoPlane reference;
    VideoPlane encoded;
    std::int32_t bitDepth;
    QualityMetricStatus status;
    const char* message;
};

PlaneFailureCase withReference(PlaneFailureCase c, auto change) {
    change(c.reference);
    return c;
}

class PlaneFailures : public testing::TestWithParam<PlaneFailureCase> {};

TEST_P(PlaneFailures, AreReportedBeforeAnySampleIsRead) {
    const PlaneFailureCase& c = GetParam();
    expectStatus(computePlaneQualityMetrics(c.reference, c.encoded, c.bitDepth), c.status, c.message);
}

const VideoPlane kPlane = makePlane(0, 2, 2, 1, {1, 2, 3, 4});

INSTANTIATE_TEST_SUITE_P(
    QualityMetrics, PlaneFailures,
    testing::Values(
        withReference({"ThreeBytesPerSample", kPlane, kPlane, 8, QualityMetricStatus::UnsupportedLayout,
                       "Only 8-bit and little-endian 16-bit planar samples are supported"},
                      [](VideoPlane& p) { p.bytesPerSample = 3; }),
        withReference({"WidthDiffers", kPlane, kPlane, 8, QualityMetricStatus::FormatMismatch,
                       "Reference and encoded plane geometry do not match"},
                      [](VideoPlane& p) { p.width = 1; }),
        withReference({"StrideDiffers", kPlane, kPlane, 8, QualityMetricStatus::FormatMismatch,
                       "Reference and encoded plane geometry do not match"},
                      [](VideoPlane& p) { p.stride = 3; }),
        withReference({"StorageDiffers", kPlane, kPlane, 8, QualityMetricStatus::FormatMismatch,
                       "Reference and encoded plane geometry do not match"},
                      [](VideoPlane& p) { p.samples.push_back(0); }),
        PlaneFailureCase{"BitDepthZero", kPlane, kPlane, 0, QualityMetricStatus::UnsupportedLayout,
                         "Unsupported frame bit depth"},
        PlaneFailureCase{"BitDepthSeventeen", kPlane, kPlane, 17, QualityMetricStatus::UnsupportedLayout,
                         "Unsupported frame bit depth"},
        PlaneFailureCase{"NoSamples", makePlane(0, 0, 0, 1, {}), makePlane(0, 0, 0, 1, {}), 8,
                         QualityMetricStatus::ComputeError, "Plane has no samples"}),
    test::CaseName());

class RegionFailures : public testing::TestWithParam<PlaneFailureCase> {};

TEST_P(RegionFailures, AreReportedBeforeAnySampleIsRead) {
    const PlaneFailureCase& c = GetParam();
    expectStatus(computeRegionPlaneMetric(c.reference, c.encoded, c.bitDepth, 0, 0, 2, 2), c.status, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    QualityMetrics, RegionFailures,
    testing::Values(
        withReference({"ThreeBytesPerSample", kPlane, kPlane, 8, QualityMetricStatus::UnsupportedLayout,
                       "Only 8-bit and little-endian 16-bit planar samples are supported"},
                      [](VideoPlane& p) { p.bytesPerSample = 3; }),
        withReference({"HeightDiffers", kPlane, kPlane, 8, QualityMetricStatus::FormatMismatch,
                       "Reference and encoded plane geometry do not match"},
                      [](VideoPlane& p) { p.height = 3; }),
        PlaneFailureCase{"BitDepthZero", kPlane, kPlane, 0, QualityMetricStatus::UnsupportedLayout,
                         "Unsupported frame bit depth"},
        withReference({"StrideBelowRow", kPlane, kPlane, 8, QualityMetricStatus::UnsupportedLayout,
                       "Plane storage is not large enough for regional metrics"},
                      [](VideoPlane& p) { p.stride = 1; }),
        withReference({"StorageShort", kPlane, kPlane, 8, QualityMetricStatus::UnsupportedLayout,
                       "Plane storage is not large enough for regional metrics"},
                      [](VideoPlane& p) { p.samples.pop_back(); })),
    test::CaseName());

TEST(RegionPlaneMetric, RefusesRectanglesOutsideThePlane) {
    struct Rect {
        std::int32_t x, y, w, h;
    };
    const Rect outside[] = {{-1, 0, 1, 1}, {0, -1, 1, 1}, {0, 0, 0, 1}, {0, 0, 1, 0},
                            {1, 0, 2, 1},  {0, 1, 1, 2},  {std::numeric_limits<std::int32_t>::max(), 0, 1, 1}};
    for (const Rect& r : outside) {
        expectStatus(computeRegionPlaneMetric(kPlane, kPlane, 8, r.x, r.y, r.w, r.h), QualityMetricStatus::ComputeError,
                     "Plane metric region is outside the plane bounds");
    }
}

struct FrameFailureCase {
    const char* name;
    VideoFrame reference;
    VideoFrame encoded;
    QualityMetricStatus status;
    const char* message;
};

const VideoFrame kFrame420 = makeFlatFrame(4, 4, 8, ChromaFormat::Yuv420, 16, 128);

VideoFrame without(VideoFrame frame, std::uint8_t planeIndex) {
    std::erase_if(frame.planes, [planeIndex](const VideoPlane& plane) { return plane.planeIndex == planeIndex; });
    return frame;
}

class FrameFailures : public testing::TestWithParam<FrameFailureCase> {};

TEST_P(FrameFailures, FillEveryRecordAlikeAndYieldNoBlocks) {
    const FrameFailureCase& c = GetParam();
    expectWholeFrameFailed(computeFrameQualityMetrics(c.reference, c.encoded), c.status, c.message);
    EXPECT_TRUE(computeRegionalQualityMetrics(c.reference, c.encoded, kQualityRegionBlockSize).empty());
}

INSTANTIATE_TEST_SUITE_P(
    QualityMetrics, FrameFailures,
    testing::Values(
        FrameFailureCase{"ReferenceWithoutPlanes", VideoFrame{}, kFrame420, QualityMetricStatus::MissingReferenceFrame,
                         "Reference frame has no YUV planes"},
        FrameFailureCase{"EncodedWithoutPlanes", kFrame420, VideoFrame{}, QualityMetricStatus::MissingEncodedFrame,
                         "Encoded frame has no YUV planes"},
        FrameFailureCase{"ChromaFormatDiffers", kFrame420, makeFlatFrame(4, 4, 8, ChromaFormat::Yuv444, 16, 128),
                         QualityMetricStatus::FormatMismatch, "Reference and encoded frame format do not match"},
        FrameFailureCase{"BitDepthDiffers", kFrame420, makeFlatFrame(4, 4, 10, ChromaFormat::Yuv420, 16, 128),
                         QualityMetricStatus::FormatMismatch, "Reference and encoded frame format do not match"},
        FrameFailureCase{"SizeDiffers", kFrame420, makeFlatFrame(4, 2, 8, ChromaFormat::Yuv420, 16, 128),
                         QualityMetricStatus::FormatMismatch, "Reference and encoded frame format do not match"},
        FrameFailureCase{"ReferenceLacksV", without(kFrame420, 2), kFrame420,
                         QualityMetricStatus::MissingReferenceFrame,
                         "Reference frame is missing one or more YUV planes"},
        FrameFailureCase{"EncodedLacksY", kFrame420, without(kFrame420, 0), QualityMetricStatus::MissingEncodedFrame,
                         "Encoded frame is missing one or more YUV planes"}),
    test::CaseName());

TEST(FrameMetrics, IdenticalFramesArePerfectEverywhere) {
    for (const ChromaFormat chroma : {ChromaFormat::Yuv420, ChromaFormat::Yuv422, ChromaFormat::Yuv444}) {
        for (const std::int32_t bitDepth : {8, 10}) {
            const VideoFrame frame = randomFrame(37, 21, bitDepth, chroma, 7);
            const FrameQualityMetrics metrics = computeFrameQualityMetrics(frame, frame);
            for (const PlaneQualityMetrics* plane : {&metrics.y, &metrics.u, &metrics.v, &metrics.all}) {
                EXPECT_EQ(plane->status, QualityMetricStatus::Available);
                EXPECT_EQ(*plane->mse, 0.0);
                EXPECT_EQ(*plane->psnr, kInfinity);
                EXPECT_NEAR(*plane->ssim, 1.0, 1e-12);
            }
            EXPECT_EQ(metrics.vmaf.status, QualityMetricStatus::ComputeError);
            EXPECT_TRUE(metrics.vmaf.message.empty());
        }
    }
}

// All weighs planes by their sample counts: 16 luma, 4 + 4 chroma samples.
TEST(FrameMetrics, AllIsTheSampleWeightedAggregate) {
    const VideoFrame reference = makeFlatFrame(4, 4, 8, ChromaFormat::Yuv420, 100, 100);
    const VideoFrame encoded = makeFlatFrame(4, 4, 8, ChromaFormat::Yuv420, 102, 104);
    const FrameQualityMetrics metrics = computeFrameQualityMetrics(reference, encoded);
    EXPECT_EQ(metrics.all.sampleCount, 24U);
    EXPECT_DOUBLE_EQ(*metrics.y.mse, 4.0);
    EXPECT_DOUBLE_EQ(*metrics.u.mse, 16.0);
    EXPECT_DOUBLE_EQ(*metrics.all.mse, (4.0 * 16 + 16.0 * 8) / 24);
    EXPECT_NEAR(*metrics.all.psnr, 10.0 * std::log10(255.0 * 255.0 / 8.0), 1e-12);
    EXPECT_NEAR(*metrics.all.ssim, (*metrics.y.ssim * 16 + *metrics.u.ssim * 4 + *metrics.v.ssim * 4) / 24, 1e-15);
}

TEST(FrameMetrics, AllCarriesTheFirstFailingPlane) {
    VideoFrame reference = kFrame420;
    VideoFrame encoded = kFrame420;
    reference.planes[2].bytesPerSample = 3;  // V
    encoded.planes[1].stride = 7;            // U fails first
    const FrameQualityMetrics metrics = computeFrameQualityMetrics(reference, encoded);
    EXPECT_EQ(metrics.y.status, QualityMetricStatus::Available);
    expectStatus(metrics.u, QualityMetricStatus::FormatMismatch, "Reference and encoded plane geometry do not match");
    expectStatus(metrics.v, QualityMetricStatus::UnsupportedLayout,
                 "Only 8-bit and little-endian 16-bit planar samples are supported");
    expectStatus(metrics.all, QualityMetricStatus::FormatMismatch, "Reference and encoded plane geometry do not match");
}

TEST(RegionalMetrics, TileTheFrameInRasterOrderWithShortEdgeBlocks) {
    const VideoFrame reference = randomFrame(100, 70, 8, ChromaFormat::Yuv420, 1);
    const VideoFrame encoded = randomFrame(100, 70, 8, ChromaFormat::Yuv420, 2);
    const auto regions = computeRegionalQualityMetrics(reference, encoded, 64);
    ASSERT_EQ(regions.size(), 4U);
    const std::array<std::array<std::int32_t, 4>, 4> expected{{{0, 0, 64, 64}, {64, 0, 36, 64}, {0, 64, 64, 6},
                                                               {64, 64, 36, 6}}};
    const std::array<std::uint64_t, 4> chromaSamples{32 * 32, 18 * 32, 32 * 3, 18 * 3};
    for (std::size_t i = 0; i < regions.size(); ++i) {
        const RegionQualityMetrics& region = regions[i];
        EXPECT_EQ((std::array{region.x, region.y, region.width, region.height}), expected[i]) << i;
        EXPECT_EQ(region.yMetrics.sampleCount, static_cast<std::uint64_t>(expected[i][2] * expected[i][3]));
        EXPECT_EQ(region.uMetrics.sampleCount, chromaSamples[i]);
        EXPECT_EQ(region.vMetrics.sampleCount, chromaSamples[i]);
        EXPECT_EQ(region.allMetrics.status, QualityMetricStatus::Available);
        const PlaneQualityMetrics luma = computeRegionPlaneMetric(reference.planes[0], encoded.planes[0], 8,
                                                                  region.x, region.y, region.width, region.height);
        EXPECT_EQ(region.yMetrics.mse, luma.mse);
        EXPECT_EQ(region.yMetrics.ssim, luma.ssim);
    }
}

// A 3-sample-wide 4:2:0 frame has 2 chroma columns; with 1-sample blocks the chroma column
// ranges are [0,1), [0,1) (raised to one column) and [1,2).
TEST(RegionalMetrics, ChromaRectanglesAreAtLeastOneSample) {
    VideoFrame reference = makeFlatFrame(3, 1, 8, ChromaFormat::Yuv420, 50, 50);
    VideoFrame encoded = reference;
    encoded.planes[1] = makePlane(1, 2, 1, 1, {51, 60});  // U error 1 in column 0, 10 in column 1
    const auto regions = computeRegionalQualityMetrics(reference, encoded, 1);
    ASSERT_EQ(regions.size(), 3U);
    const double expectedMse[] = {1.0, 1.0, 100.0};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(regions[i].uMetrics.sampleCount, 1U);
        EXPECT_DOUBLE_EQ(*regions[i].uMetrics.mse, expectedMse[i]) << i;
    }
}

TEST(RegionalMetrics, UnusableInputsGiveNoBlocks) {
    const VideoFrame frame = randomFrame(8, 8, 8, ChromaFormat::Yuv420, 3);
    VideoFrame lumaShort = frame;
    lumaShort.planes[0].samples.resize(10);
    VideoFrame claimsHugeSize = frame;
    claimsHugeSize.width = claimsHugeSize.height = std::numeric_limits<std::int32_t>::max();
    EXPECT_TRUE(computeRegionalQualityMetrics(frame, frame, 0).empty());
    EXPECT_TRUE(computeRegionalQualityMetrics(VideoFrame{}, VideoFrame{}, 64).empty());
    EXPECT_TRUE(computeRegionalQualityMetrics(without(frame, 1), frame, 64).empty());
    EXPECT_TRUE(computeRegionalQualityMetrics(lumaShort, lumaShort, 64).empty());
    EXPECT_TRUE(computeRegionalQualityMetrics(claimsHugeSize, claimsHugeSize, 1).empty());
    EXPECT_EQ(computeRegionalQualityMetrics(frame, frame, 64).size(), 1U);
}

// A block that is the whole frame holds exactly the frame's windows, so its SSIM is the
// plane's; a global window over the same noise would score far higher than the windows do.
TEST(RegionalMetrics, SsimIsTheMeanOfTheWindowsInsideTheBlock) {
    const VideoFrame reference = randomFrame(64, 64, 10, ChromaFormat::Yuv420, 11);
    VideoFrame encoded = reference;
    std::mt19937 random(5);
    std::uniform_int_distribution<int> noise(-40, 40);
    for (std::size_t i = 0; i < encoded.planes[0].samples.size(); i += 2) {
        const auto value = static_cast<int>(test::sampleAt(encoded.planes[0], i / 2)) + noise(random);
        const auto clamped = static_cast<std::uint32_t>(std::clamp(value, 0, 1023));
        encoded.planes[0].samples[i] = static_cast<std::uint8_t>(clamped & 0xFFU);
        encoded.planes[0].samples[i + 1] = static_cast<std::uint8_t>(clamped >> 8U);
    }
    const FrameQualityMetrics frame = computeFrameQualityMetrics(reference, encoded);
    const auto regions = computeRegionalQualityMetrics(reference, encoded, 64);
    ASSERT_EQ(regions.size(), 1U);
    EXPECT_EQ(regions[0].yMetrics.ssim, frame.y.ssim);
    EXPECT_EQ(regions[0].uMetrics.ssim, frame.u.ssim);
    EXPECT_EQ(regions[0].allMetrics.ssim, frame.all.ssim);
    EXPECT_LT(*frame.y.ssim, 0.999);
    EXPECT_DOUBLE_EQ(*frame.u.ssim, 1.0);
}

TEST(RegionalMetrics, FullHdFrameHas510Blocks) {
    const VideoFrame frame = makeFlatFrame(1920, 1080, 8, ChromaFormat::Yuv420, 16, 128);
    EXPECT_EQ(computeRegionalQualityMetrics(frame, frame, 64).size(), 510U);
}

}  // namespace
}  // namespace vexilo::media
