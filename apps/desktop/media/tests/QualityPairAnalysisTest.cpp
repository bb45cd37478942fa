#include "TestSupport.h"
#include "VmafStandInSupport.h"
#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/QualityPairAnalysis.h"
#include "vexilo/media/ReferenceYuv.h"
#include "vexilo/media/VmafBackend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace vexilo::media {
namespace {

using domain::VideoFrame;
using domain::VideoFramePtr;
using media::FrameQualityMetrics;
using media::PlaneQualityMetrics;
using media::QualityMetricStatus;
using media::test::mediaPath;

constexpr int kClipFrames = 10;
constexpr std::size_t kBlocksPerFrame = 9;  // 176 x 144 in 64-sample blocks: 3 x 3
constexpr const char* kOutsideRange = "Reference frame index is outside the matched frame range";

domain::ReferenceYuvSource referenceSource() {
    domain::ReferenceYuvSource source;
    source.path = mediaPath("quality_reference_176x144.yuv");
    source.width = 176;
    source.height = 144;
    source.layout = domain::ReferenceYuvLayout::I420;
    return source;
}

std::filesystem::path clipA() {
    return mediaPath("quality_high.hevc");
}

std::filesystem::path clipB() {
    return mediaPath("quality_low.hevc");
}

// The clip's frames by display index, as a frame cache would hold them.
std::vector<VideoFramePtr> decodeClip(const std::filesystem::path& path) {
    std::vector<VideoFramePtr> frames;
    auto source = media::FFmpegVideoSource::open(path);
    EXPECT_TRUE(source.ok());
    if (!source.ok()) {
        return frames;
    }
    const auto decoded = source.value().decodeSequentially(
        [&frames](media::FFmpegDecodedPicture picture) {
            frames.push_back(std::make_shared<const VideoFrame>(std::move(picture.frame)));
        },
        {});
    EXPECT_TRUE(decoded.ok());
    return frames;
}

const std::vector<VideoFramePtr>& framesA() {
    static const std::vector<VideoFramePtr> frames = decodeClip(clipA());
    return frames;
}

const std::vector<VideoFramePtr>& framesB() {
    static const std::vector<VideoFramePtr> frames = decodeClip(clipB());
    return frames;
}

QualityPairRequest pairRequest(std::int64_t frameIndex, bool withFrames = true) {
    QualityPairRequest request;
    request.row = static_cast<std::int32_t>(100 + frameIndex);
    request.frameIndex = frameIndex;
    request.referenceFrameIndex = frameIndex;
    request.pictureIdA = 1000 + frameIndex;
    request.pictureIdB = 2000 + frameIndex;
    const auto index = static_cast<std::size_t>(frameIndex);
    if (withFrames && index < framesA().size()) {
        request.frameA = framesA()[index];
        request.frameB = framesB()[index];
    }
    return request;
}

QualityAnalysisInput input(QualityFrameSourceMode mode, std::vector<QualityPairRequest> requests) {
    QualityAnalysisInput in;
    in.reference = referenceSource();
    in.requests = std::move(requests);
    in.mode = mode;
    in.streamAPath = clipA();
    in.streamBPath = clipB();
    return in;
}

// Every report of a run, in arrival order.
std::vector<QualityPairResult> reports(const QualityAnalysisInput& in, QualityCancelFlag cancel = nullptr) {
    std::vector<QualityPairResult> results;
    analyzeQualityPairs(in, cancel, [&results](QualityPairResult result) { results.push_back(std::move(result)); });
    return results;
}

// Each pair's last word, in the order the pairs were first reported: a full-stream run reports
// a pair again when its VMAF is scored.
std::vector<QualityPairResult> run(const QualityAnalysisInput& in, QualityCancelFlag cancel = nullptr) {
    std::vector<QualityPairResult> results;
    for (QualityPairResult& report : reports(in, std::move(cancel))) {
        const auto earlier = std::find_if(results.begin(), results.end(), [&report](const QualityPairResult& result) {
            return result.frameIndex == report.frameIndex;
        });
        if (earlier != results.end()) {
            *earlier = std::move(report);
        } else {
            results.push_back(std::move(report));
        }
    }
    return results;
}

void expectFailedSide(const std::optional<FrameQualityMetrics>& side, const std::vector<media::RegionQualityMetrics>& regions,
                      QualityMetricStatus status, const std::string& message) {
    ASSERT_TRUE(side);
    for (const PlaneQualityMetrics* plane : {&side->y, &side->u, &side->v, &side->all}) {
        EXPECT_EQ(plane->status, status);
        EXPECT_EQ(plane->message, message);
    }
    EXPECT_EQ(side->vmaf.status, status);
    EXPECT_EQ(side->vmaf.message, message);
    EXPECT_TRUE(regions.empty());
}

void expectMeasuredSide(const std::optional<FrameQualityMetrics>& side,
                        const std::vector<media::RegionQualityMetrics>& regions) {
    ASSERT_TRUE(side);
    EXPECT_EQ(side->all.status, QualityMetricStatus::Available) << side->all.message;
    EXPECT_TRUE(side->all.psnr && std::isfinite(*side->all.psnr));
    EXPECT_EQ(side->vmaf.status, QualityMetricStatus::Available) << side->vmaf.message;
    EXPECT_EQ(side->vmaf.features.size(), media::defaultVmafFeatures.size());
    EXPECT_EQ(side->vmaf.modelVersion, media::kDefaultVmafModelVersion);
    EXPECT_EQ(regions.size(), kBlocksPerFrame);
}

void expectSamePlane(const PlaneQualityMetrics& a, const PlaneQualityMetrics& b) {
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(a.mse, b.mse);
    EXPECT_EQ(a.psnr, b.psnr);
    EXPECT_EQ(a.ssim, b.ssim);
    EXPECT_EQ(a.sampleCount, b.sampleCount);
}

void expectSameMetrics(const FrameQualityMetrics& a, const FrameQualityMetrics& b) {
    expectSamePlane(a.y, b.y);
    expectSamePlane(a.u, b.u);
    expectSamePlane(a.v, b.v);
    expectSamePlane(a.all, b.all);
}

class QualityPairAnalysisTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(media::test::useStandInForProcess());
        ASSERT_EQ(framesA().size(), static_cast<std::size_t>(kClipFrames));
        ASSERT_EQ(framesB().size(), static_cast<std::size_t>(kClipFrames));
        controls.reset();
    }
    void TearDown() override { controls.expectNothingLeft(); }

    media::test::StandInControls controls;
};

TEST_F(QualityPairAnalysisTest, BoundedModeMeasuresCachedFramesAndReportsAMissingOne) {
    std::vector<QualityPairRequest> requests{pairRequest(3), pairRequest(0), pairRequest(7)};
    requests[2].frameB.reset();
    const std::vector<QualityPairResult> results = run(input(QualityFrameSourceMode::BoundedCache, requests));
    ASSERT_EQ(results.size(), 3U);
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].row, requests[i].row);
        EXPECT_EQ(results[i].frameIndex, requests[i].frameIndex);
        expectMeasuredSide(results[i].metricsA, results[i].regionsA);
    }
    expectMeasuredSide(results[0].metricsB, results[0].regionsB);
    expectFailedSide(results[2].metricsB, results[2].regionsB, QualityMetricStatus::MissingEncodedFrame,
                     "B decoded frame is not available in the bounded frame cache");
    // The stronger encode sits closer to the reference.
    EXPECT_GT(*results[0].metricsA->all.psnr, *results[0].metricsB->all.psnr);
}

TEST_F(QualityPairAnalysisTest, BoundedModeMeasuresOnlyTheWantedSides) {
    QualityPairRequest request = pairRequest(2);
    request.pictureIdA.reset();
    const std::vector<QualityPairResult> results = run(input(QualityFrameSourceMode::BoundedCache, {request}));
    ASSERT_EQ(results.size(), 1U);
    EXPECT_FALSE(results[0].metricsA);
    EXPECT_TRUE(results[0].regionsA.empty());
    expectMeasuredSide(results[0].metricsB, results[0].regionsB);
}

TEST_F(QualityPairAnalysisTest, ARequestWithoutReferenceIndexNeverReadsTheReference) {
    QualityPairRequest request = pairRequest(1);
    request.referenceFrameIndex.reset();
    for (const QualityFrameSourceMode mode : {QualityFrameSourceMode::BoundedCache, QualityFrameSourceMode::FullStreamDecode}) {
        QualityAnalysisInput in = input(mode, {request});
        in.reference.path = "/nonexistent/reference.yuv";  // any read would report this file instead
        const std::vector<QualityPairResult> results = run(in);
        ASSERT_EQ(results.size(), 1U);
        expectFailedSide(results[0].metricsA, results[0].regionsA, QualityMetricStatus::MissingReferenceFrame, kOutsideRange);
        expectFailedSide(results[0].metricsB, results[0].regionsB, QualityMetricStatus::MissingReferenceFrame, kOutsideRange);
    }
}

TEST_F(QualityPairAnalysisTest, AnUnreadableReferenceFrameFailsEveryWantedSideWithTheReadersText) {
    for (const QualityFrameSourceMode mode : {QualityFrameSourceMode::BoundedCache, QualityFrameSourceMode::FullStreamDecode}) {
        QualityAnalysisInput in = input(mode, {pairRequest(4)});
        in.reference.frameOffset = 8;  // leaves two frames, so frame 4 is beyond the file
        const std::string readerText = media::readReferenceYuvFrame(in.reference, 4).message;
        ASSERT_FALSE(readerText.empty());
        const std::vector<QualityPairResult> results = run(in);
        ASSERT_EQ(results.size(), 1U);
        expectFailedSide(results[0].metricsA, results[0].regionsA, QualityMetricStatus::MissingReferenceFrame, readerText);
        expectFailedSide(results[0].metricsB, results[0].regionsB, QualityMetricStatus::MissingReferenceFrame, readerText);
    }
}

TEST_F(QualityPairAnalysisTest, FullStreamModeMatchesBoundedModeAndReportsPicturesNeverProduced) {
    std::vector<QualityPairRequest> requests;
    for (std::int64_t k : {12, 9, 0, 5}) {
        requests.push_back(pairRequest(k, false));
    }
    const std::vector<QualityPairResult> full = run(input(QualityFrameSourceMode::FullStreamDecode, requests));
    ASSERT_EQ(full.size(), 4U);
    const std::int64_t ascending[] = {0, 5, 9, 12};
    for (std::size_t i = 0; i < full.size(); ++i) {
        EXPECT_EQ(full[i].frameIndex, ascending[i]);
    }
    expectFailedSide(full[3].metricsA, full[3].regionsA, QualityMetricStatus::MissingEncodedFrame,
                     "A decoded frame was not produced");
    expectFailedSide(full[3].metricsB, full[3].regionsB, QualityMetricStatus::MissingEncodedFrame,
                     "B decoded frame was not produced");
    const std::vector<QualityPairResult> bounded =
        run(input(QualityFrameSourceMode::BoundedCache, {pairRequest(0), pairRequest(5), pairRequest(9)}));
    for (std::size_t i = 0; i < bounded.size(); ++i) {
        expectMeasuredSide(full[i].metricsA, full[i].regionsA);
        expectMeasuredSide(full[i].metricsB, full[i].regionsB);
        expectSameMetrics(*full[i].metricsA, *bounded[i].metricsA);
        expectSameMetrics(*full[i].metricsB, *bounded[i].metricsB);
        EXPECT_EQ(full[i].metricsA->vmaf.score, bounded[i].metricsA->vmaf.score);
    }
}

TEST_F(QualityPairAnalysisTest, FullStreamModeWithAnUnopenableBKeepsTheAResults) {
    QualityAnalysisInput in = input(QualityFrameSourceMode::FullStreamDecode, {pairRequest(1, false), pairRequest(6, false)});
    in.streamBPath = "/nonexistent/stream_b.hevc";
    const auto openFailure = media::FFmpegVideoSource::open(*in.streamBPath);
    ASSERT_FALSE(openFailure.ok());
    const std::vector<QualityPairResult> results = run(in);
    ASSERT_EQ(results.size(), 2U);
    for (const QualityPairResult& result : results) {
        expectMeasuredSide(result.metricsA, result.regionsA);
        expectFailedSide(result.metricsB, result.regionsB, QualityMetricStatus::MissingEncodedFrame,
                         openFailure.error().detail);
    }
}

TEST_F(QualityPairAnalysisTest, FullStreamModeKeepsTheLaterOfTwoRequestsForOneFrame) {
    QualityPairRequest first = pairRequest(3, false);
    QualityPairRequest second = pairRequest(3, false);
    second.row = 7;
    second.pictureIdB.reset();
    const std::vector<QualityPairResult> results =
        run(input(QualityFrameSourceMode::FullStreamDecode, {first, second}));
    ASSERT_EQ(results.size(), 1U);
    EXPECT_EQ(results[0].row, 7);
    expectMeasuredSide(results[0].metricsA, results[0].regionsA);
    EXPECT_FALSE(results[0].metricsB);
}

TEST_F(QualityPairAnalysisTest, FullStreamModeDecodesWithoutStreamPathsToNotProduced) {
    QualityAnalysisInput in = input(QualityFrameSourceMode::FullStreamDecode, {pairRequest(2, false)});
    in.streamAPath.reset();
    const std::vector<QualityPairResult> results = run(in);
    ASSERT_EQ(results.size(), 1U);
    expectFailedSide(results[0].metricsA, results[0].regionsA, QualityMetricStatus::MissingEncodedFrame,
                     "A decoded frame was not produced");
    expectMeasuredSide(results[0].metricsB, results[0].regionsB);
}

// What the stand-in reports for frame k of a whole-sequence session over the clip and the
// reference file, worked out here from the frames themselves (see VmafStandInControl.h).
struct WholeSequenceVmaf {
    double score = 0.0;
    double motion2 = 0.0;
};

double meanLumaDifference(const VideoFrame& a, const VideoFrame& b) {
    const std::vector<std::uint8_t>& x = a.planes.at(0).samples;
    const std::vector<std::uint8_t>& y = b.planes.at(0).samples;
    double sum = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sum += std::abs(static_cast<double>(x[i]) - static_cast<double>(y[i]));
    }
    return sum / static_cast<double>(x.size());
}

WholeSequenceVmaf wholeSequenceVmaf(const std::vector<VideoFramePtr>& encoded, std::size_t k) {
    std::vector<VideoFrame> references;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        references.push_back(*media::readReferenceYuvFrame(referenceSource(), static_cast<std::int64_t>(i)).frame);
    }
    const auto motion = [&references](std::size_t i) {
        return i == 0 ? 0.0 : meanLumaDifference(references[i], references[i - 1]);
    };
    const double motion2 = k + 1 < references.size() ? std::min(motion(k), motion(k + 1)) : motion(k);
    const double difference = meanLumaDifference(references[k], *encoded[k]);
    return WholeSequenceVmaf{std::max(0.0, 100.0 * (1.0 - (difference + motion2) / 255.0)), motion2};
}

void expectWholeSequenceVmaf(const std::optional<FrameQualityMetrics>& side, const WholeSequenceVmaf& expected,
                             const std::string& what) {
    ASSERT_TRUE(side) << what;
    ASSERT_EQ(side->vmaf.status, QualityMetricStatus::Available) << what << ": " << side->vmaf.message;
    EXPECT_NEAR(*side->vmaf.score, expected.score, 1e-9) << what;
    const auto motion = std::find_if(side->vmaf.features.begin(), side->vmaf.features.end(),
                                     [](const media::VmafFeatureScore& f) { return f.name == "integer_motion2"; });
    ASSERT_NE(motion, side->vmaf.features.end()) << what;
    EXPECT_NEAR(*motion->score, expected.motion2, 1e-9) << what;
}

const std::size_t kFirstMiddleLast[] = {0, 5, kClipFrames - 1};

TEST_F(QualityPairAnalysisTest, AFullStreamRunScoresEachSideAsOneWholeSequence) {
    std::vector<QualityPairRequest> requests;
    for (std::int64_t k = 0; k < kClipFrames; ++k) {
        requests.push_back(pairRequest(k, false));
    }
    const std::vector<QualityPairResult> results = run(input(QualityFrameSourceMode::FullStreamDecode, requests));
    ASSERT_EQ(results.size(), static_cast<std::size_t>(kClipFrames));
    EXPECT_EQ(controls.callCount("vmaf_init"), 2) << "one session per side";
    EXPECT_EQ(controls.callCount("vmaf_model_load"), 2);
    EXPECT_EQ(controls.callCount("vmaf_read_pictures"), 2 * kClipFrames);
    for (const std::size_t k : kFirstMiddleLast) {
        expectWholeSequenceVmaf(results[k].metricsA, wholeSequenceVmaf(framesA(), k), "A frame " + std::to_string(k));
        expectWholeSequenceVmaf(results[k].metricsB, wholeSequenceVmaf(framesB(), k), "B frame " + std::to_string(k));
    }
    EXPECT_GT(*results[5].metricsA->vmaf.features.at(1).score, 0.0) << "the clip moves";
}

// A and B are decoded side by side: a pair is reported as soon as both its pictures are
// measured, in frame order, long before either stream ends, and again with its VMAF once both
// sides' sequences are scored.
TEST_F(QualityPairAnalysisTest, AFullStreamRunReportsEachPairAsSoonAsBothPicturesAreMeasured) {
    std::vector<QualityPairRequest> requests;
    for (std::int64_t k = 0; k < kClipFrames; ++k) {
        requests.push_back(pairRequest(k, false));
    }
    std::vector<QualityPairResult> results;
    std::vector<long> picturesScoredAtReport;
    analyzeQualityPairs(input(QualityFrameSourceMode::FullStreamDecode, requests), nullptr,
                        [&](QualityPairResult result) {
                            results.push_back(std::move(result));
                            picturesScoredAtReport.push_back(controls.callCount("vmaf_read_pictures"));
                        });
    ASSERT_EQ(results.size(), 2U * kClipFrames);
    // The pair completes when the slower side measures picture 0; the faster side can be at
    // most through its whole stream by then.
    EXPECT_LE(picturesScoredAtReport[0], kClipFrames + 1) << "the first pair waited for a whole stream";
    for (std::int64_t k = 0; k < kClipFrames; ++k) {
        const QualityPairResult& early = results[static_cast<std::size_t>(k)];
        EXPECT_EQ(early.frameIndex, k);
        for (const auto& [metrics, regions] : {std::pair{&early.metricsA, &early.regionsA},
                                               std::pair{&early.metricsB, &early.regionsB}}) {
            ASSERT_TRUE(*metrics);
            EXPECT_EQ((*metrics)->all.status, QualityMetricStatus::Available);
            EXPECT_EQ(regions->size(), kBlocksPerFrame);
        }
        const QualityPairResult& final = results[static_cast<std::size_t>(kClipFrames + k)];
        EXPECT_EQ(final.frameIndex, k);
        expectMeasuredSide(final.metricsA, final.regionsA);
        expectMeasuredSide(final.metricsB, final.regionsB);
        expectSameMetrics(*final.metricsA, *early.metricsA);
        expectSameMetrics(*final.metricsB, *early.metricsB);
    }
}

// A side whose stream fails to open does not hold back the pairs: its sides fail at once
// and each pair leaves as soon as the other side is measured.
TEST_F(QualityPairAnalysisTest, AnUnopenableStreamDoesNotHoldBackTheEarlyReports) {
    std::vector<QualityPairRequest> requests;
    for (std::int64_t k = 0; k < kClipFrames; ++k) {
        requests.push_back(pairRequest(k, false));
    }
    QualityAnalysisInput in = input(QualityFrameSourceMode::FullStreamDecode, requests);
    in.streamBPath = "/nonexistent/b.hevc";
    const std::vector<QualityPairResult> results = reports(in);
    ASSERT_EQ(results.size(), 2U * kClipFrames);
    for (std::int64_t k = 0; k < kClipFrames; ++k) {
        const QualityPairResult& early = results[static_cast<std::size_t>(k)];
        EXPECT_EQ(early.frameIndex, k);
        ASSERT_TRUE(early.metricsA && early.metricsB);
        EXPECT_EQ(early.metricsA->vmaf.message, kVmafPendingMessage);
        EXPECT_EQ(early.metricsB->all.status, QualityMetricStatus::MissingEncodedFrame);
        EXPECT_FALSE(early.metricsB->all.message.empty());
    }
}

TEST_F(QualityPairAnalysisTest, ASinglePairIsScoredBesideItsNeighboursInEitherMode) {
    for (const QualityFrameSourceMode mode : {QualityFrameSourceMode::BoundedCache, QualityFrameSourceMode::FullStreamDecode}) {
        for (const std::size_t k : kFirstMiddleLast) {
            controls.reset();
            const bool bounded = mode == QualityFrameSourceMode::BoundedCache;
            const std::vector<QualityPairResult> results =
                run(input(mode, {pairRequest(static_cast<std::int64_t>(k), bounded)}));
            ASSERT_EQ(results.size(), 1U);
            const std::string what = (bounded ? "bounded frame " : "full-stream frame ") + std::to_string(k);
            expectWholeSequenceVmaf(results[0].metricsA, wholeSequenceVmaf(framesA(), k), "A " + what);
            expectWholeSequenceVmaf(results[0].metricsB, wholeSequenceVmaf(framesB(), k), "B " + what);
            const long neighbours = (k > 0 ? 1 : 0) + (k + 1 < kClipFrames ? 1 : 0);
            EXPECT_EQ(controls.callCount("vmaf_read_pictures"), 2 * (1 + neighbours)) << what;
            EXPECT_EQ(controls.callCount("vmaf_init"), 2) << what;
        }
    }
}

TEST_F(QualityPairAnalysisTest, AOneFrameStreamHasNoMotion) {
    media::test::ScratchDirectory directory;
    const std::filesystem::path single = directory.file("single.hevc");
    media::test::runCommand("ffmpeg -hide_banner -loglevel error -nostdin -f rawvideo -pix_fmt yuv420p -s 176x144 -i " +
                            media::test::shellQuoted(referenceSource().path) +
                            " -frames:v 1 -c:v libx265 -x265-params log-level=error:crf=30 -f hevc " +
                            media::test::shellQuoted(single));
    QualityAnalysisInput in = input(QualityFrameSourceMode::FullStreamDecode, {pairRequest(0, false)});
    in.streamAPath = single;
    in.streamBPath.reset();
    in.requests[0].pictureIdB.reset();
    const std::vector<QualityPairResult> results = run(in);
    ASSERT_EQ(results.size(), 1U);
    const std::vector<VideoFramePtr> frames = decodeClip(single);
    ASSERT_EQ(frames.size(), 1U);
    expectWholeSequenceVmaf(results[0].metricsA, wholeSequenceVmaf(frames, 0), "one-frame stream");
    EXPECT_EQ(controls.callCount("vmaf_read_pictures"), 1);
}

void setFlag(void* flag) {
    static_cast<std::atomic<bool>*>(flag)->store(true);
}

TEST_F(QualityPairAnalysisTest, CancelDuringTheDecodesStopsBothAndEmitsNothing) {
    std::vector<QualityPairRequest> requests;
    for (std::int64_t k = 0; k < kClipFrames; ++k) {
        requests.push_back(pairRequest(k, false));
    }
    const auto cancel = std::make_shared<std::atomic<bool>>(false);
    controls.onInit(&setFlag, cancel.get());  // the first measurement of either side pulls the switch
    const std::vector<QualityPairResult> results = run(input(QualityFrameSourceMode::FullStreamDecode, requests), cancel);
    controls.onInit(nullptr, nullptr);
    EXPECT_TRUE(results.empty());
    EXPECT_LE(controls.callCount("vmaf_init"), 2) << "one session per side, none after the cancel";
    EXPECT_LE(controls.callCount("vmaf_read_pictures"), 4) << "each decoder goes on for at most one more picture";
}

TEST_F(QualityPairAnalysisTest, CancelStopsBoundedModeBeforeTheNextRequest) {
    const auto cancel = std::make_shared<std::atomic<bool>>(false);
    std::vector<QualityPairResult> results;
    analyzeQualityPairs(input(QualityFrameSourceMode::BoundedCache, {pairRequest(0), pairRequest(1), pairRequest(2)}),
                        cancel, [&](QualityPairResult result) {
                            results.push_back(std::move(result));
                            cancel->store(true);
                        });
    EXPECT_EQ(results.size(), 1U);
}

TEST_F(QualityPairAnalysisTest, AnUnknownModeValueBehavesAsBoundedCache) {
    QualityAnalysisInput in = input(static_cast<QualityFrameSourceMode>(7), {pairRequest(1)});
    in.streamAPath = "/nonexistent/a.hevc";  // a full decode would fail on it
    const std::vector<QualityPairResult> results = run(in);
    ASSERT_EQ(results.size(), 1U);
    expectMeasuredSide(results[0].metricsA, results[0].regionsA);
}

TEST_F(QualityPairAnalysisTest, SeveralQualityThreadsShareTheRuntime) {
    constexpr int kThreads = 4;
    std::vector<std::vector<QualityPairResult>> perThread(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&perThread, t] {
                std::vector<QualityPairRequest> requests;
                for (std::int64_t k = 0; k < kClipFrames; ++k) {
                    requests.push_back(pairRequest(k));
                }
                perThread[static_cast<std::size_t>(t)] = run(input(QualityFrameSourceMode::BoundedCache, requests));
            });
        }
    }
    for (const auto& results : perThread) {
        ASSERT_EQ(results.size(), static_cast<std::size_t>(kClipFrames));
        for (const QualityPairResult& result : results) {
            EXPECT_EQ(result.metricsA->vmaf.status, QualityMetricStatus::Available);
            EXPECT_EQ(result.metricsB->vmaf.status, QualityMetricStatus::Available);
            EXPECT_EQ(result.metricsA->vmaf.score, perThread[0][static_cast<std::size_t>(result.frameIndex)].metricsA->vmaf.score);
        }
    }
}

// Run in a child process of its own, since the process's runtime is loaded only once.
bool vmafUnavailableLeavesTheOtherMetricsAlone() {
    const std::string missing = "/nonexistent/vexilo/libvmaf.so.3";
    if (!media::configureVmafBackend(media::VmafBackendSettings{missing, ""})) {
        std::fprintf(stderr, "runtime already loaded\n");
        return false;
    }
    const std::string prefix = "Backend unavailable: Unable to load configured libvmaf runtime '" + missing + "': ";
    const QualityPairRequest request = pairRequest(2);
    const std::vector<QualityPairResult> results = run(input(QualityFrameSourceMode::BoundedCache, {request}));
    const auto reference = media::readReferenceYuvFrame(referenceSource(), 2);
    bool ok = results.size() == 1 && reference.frame.has_value();
    for (const auto& [side, frame] : {std::pair{&results.at(0).metricsA, request.frameA},
                                      std::pair{&results.at(0).metricsB, request.frameB}}) {
        const FrameQualityMetrics expected = media::computeFrameQualityMetrics(*reference.frame, *frame);
        const FrameQualityMetrics& actual = **side;
        ok = ok && actual.vmaf.status == QualityMetricStatus::BackendUnavailable &&
             actual.vmaf.message.starts_with(prefix) && actual.vmaf.message.size() > prefix.size() &&
             actual.all.mse == expected.all.mse && actual.all.psnr == expected.all.psnr &&
             actual.all.ssim == expected.all.ssim && actual.y.psnr == expected.y.psnr &&
             actual.u.ssim == expected.u.ssim && actual.v.mse == expected.v.mse;
        std::fprintf(stderr, "vmaf: %s\n", actual.vmaf.message.c_str());
    }
    return ok;
}

TEST(QualityPairAnalysisWithoutLibvmaf, EveryVmafRecordIsUnavailableWhilePsnrSsimAndMseAreUnchanged) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(vmafUnavailableLeavesTheOtherMetricsAlone() ? 0 : 1), testing::ExitedWithCode(0),
                "Backend unavailable: Unable to load configured libvmaf runtime");
}

}  // namespace
}  // namespace vexilo::media
