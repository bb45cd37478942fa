#include "TestSupport.h"
#include "VmafBackendDetail.h"
#include "VmafRuntime.h"
#include "VmafStandInSupport.h"
#include "vexilo/media/VmafSequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace vexilo::media {
namespace {

using domain::ChromaFormat;
using domain::VideoFrame;
using test::makeFlatFrame;

constexpr double kPeak = 255.0;

std::optional<double> featureOf(const VmafQualityMetrics& metrics, const std::string& label) {
    const auto found = std::find_if(metrics.features.begin(), metrics.features.end(),
                                    [&label](const VmafFeatureScore& feature) { return feature.name == label; });
    return found == metrics.features.end() ? std::nullopt : found->score;
}

VideoFrame flatLuma(std::uint32_t luma) {
    return makeFlatFrame(64, 48, 8, ChromaFormat::Yuv420, luma, 128);
}

class VmafSequenceTest : public testing::Test {
protected:
    void SetUp() override {
        controls.reset();
        runtime = loadVmafRuntime(test::standInPath());
        ASSERT_TRUE(runtime->loaded) << runtime->errorText;
    }
    void TearDown() override { controls.expectNothingLeft(); }

    [[nodiscard]] std::unique_ptr<VmafSequence> sequence() const {
        return std::make_unique<VmafSequence>(*runtime, "", VmafOptions{});
    }

    test::StandInControls controls;
    std::unique_ptr<VmafRuntime> runtime;
};

// Reference luma 10, 20, 50, 45 moves by 0, 10, 30, 5; motion2 takes the smaller of a
// frame's motion and the next one's, so 0, 10, 5, 5. Every encoded frame is 2 off.
TEST_F(VmafSequenceTest, OneSessionScoresEveryPairWithItsNeighboursMotion) {
    const std::array<std::uint32_t, 4> luma{10, 20, 50, 45};
    const std::array<double, 4> motion2{0.0, 10.0, 5.0, 5.0};
    {
        const auto scored = sequence();
        for (std::size_t k = 0; k < luma.size(); ++k) {
            scored->add(static_cast<std::int64_t>(100 + k), flatLuma(luma[k]), flatLuma(luma[k] + 2));
        }
        scored->finish();
        for (std::size_t k = 0; k < luma.size(); ++k) {
            const VmafQualityMetrics result = scored->result(static_cast<std::int64_t>(100 + k));
            ASSERT_EQ(result.status, QualityMetricStatus::Available) << result.message;
            EXPECT_NEAR(*featureOf(result, "integer_motion2"), motion2[k], 1e-12) << k;
            EXPECT_NEAR(*result.score, 100.0 * (1.0 - (2.0 + motion2[k]) / kPeak), 1e-9) << k;
            EXPECT_EQ(result.modelVersion, "vmaf_v0.6.1");
        }
    }
    EXPECT_EQ(controls.callCount("vmaf_init"), 1);
    EXPECT_EQ(controls.callCount("vmaf_model_load"), 1);
    EXPECT_EQ(controls.callCount("vmaf_read_pictures"), 4);
    EXPECT_EQ(controls.callCount("vmaf_read_pictures flush"), 1);
    EXPECT_EQ(controls.callCount("vmaf_close"), 1);
}

TEST_F(VmafSequenceTest, ALonePairHasNoMotionAndScoresAsTheSinglePairCall) {
    const VideoFrame reference = flatLuma(90);
    const VideoFrame encoded = flatLuma(99);
    const auto scored = sequence();
    scored->add(7, reference, encoded);
    scored->finish();
    const VmafQualityMetrics alone = scored->result(7);
    EXPECT_EQ(*featureOf(alone, "integer_motion2"), 0.0);
    const VmafQualityMetrics single = computeVmafScore(*runtime, "", reference, encoded, VmafOptions{});
    EXPECT_EQ(alone.score, single.score);
    EXPECT_EQ(alone.features.size(), single.features.size());
}

TEST_F(VmafSequenceTest, ARefusedPairKeepsItsFailureAndNeverReachesLibvmaf) {
    VideoFrame tenBit = makeFlatFrame(64, 48, 10, ChromaFormat::Yuv420, 10, 512);
    const auto scored = sequence();
    scored->add(0, flatLuma(10), flatLuma(10));
    scored->add(1, flatLuma(20), tenBit);
    scored->add(2, flatLuma(30), flatLuma(30));
    scored->finish();
    EXPECT_EQ(scored->result(1).status, QualityMetricStatus::FormatMismatch);
    EXPECT_EQ(scored->result(1).message, "Reference and encoded frame format do not match");
    EXPECT_EQ(scored->result(2).status, QualityMetricStatus::Available);
    EXPECT_EQ(controls.callCount("vmaf_read_pictures"), 2);
}

TEST_F(VmafSequenceTest, AFailedStartHoldsForEveryPairAndLeavesNothingBehind) {
    controls.fail("vmaf_use_features_from_model", -12);
    const auto scored = sequence();
    scored->add(0, flatLuma(10), flatLuma(10));
    scored->add(1, flatLuma(20), flatLuma(20));
    scored->finish();
    for (const std::int64_t key : {0, 1}) {
        EXPECT_EQ(scored->result(key).status, QualityMetricStatus::ComputeError);
        EXPECT_EQ(scored->result(key).message, "vmaf_use_features_from_model failed with code -12");
    }
    EXPECT_EQ(controls.callCount("vmaf_init"), 1);
    EXPECT_EQ(controls.callCount("vmaf_picture_alloc"), 0);
}

TEST_F(VmafSequenceTest, AFailedFlushFailsEveryFedPair) {
    controls.fail("vmaf_read_pictures flush", -5);
    const auto scored = sequence();
    scored->add(0, flatLuma(10), flatLuma(10));
    scored->add(1, flatLuma(20), flatLuma(20));
    scored->finish();
    for (const std::int64_t key : {0, 1}) {
        EXPECT_EQ(scored->result(key).message, "vmaf_read_pictures flush failed with code -5");
    }
    EXPECT_EQ(controls.callCount("vmaf_score_at_index"), 0);
}

TEST_F(VmafSequenceTest, AsksForScoresOnlyOnceFinishedAndOnlyOfFedPairs) {
    const auto scored = sequence();
    scored->add(0, flatLuma(10), flatLuma(10));
    EXPECT_EQ(scored->result(0).message, "VMAF sequence has not been scored yet");
    scored->finish();
    scored->add(1, flatLuma(10), flatLuma(10));
    EXPECT_EQ(scored->result(1).message, "VMAF pair was not part of the scored sequence");
    EXPECT_EQ(scored->result(5).message, "VMAF pair was not part of the scored sequence");
    EXPECT_EQ(scored->result(0).status, QualityMetricStatus::Available);
    EXPECT_EQ(controls.callCount("vmaf_read_pictures"), 1);
}

}  // namespace
}  // namespace vexilo::media
