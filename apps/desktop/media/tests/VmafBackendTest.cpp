#include "QualityMetricsDetail.h"
#include "TestSupport.h"
#include "VmafBackendDetail.h"
#include "VmafRuntime.h"
#include "VmafStandInSupport.h"
#include "vexilo/media/VmafBackend.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <thread>
#include <vector>

namespace vexilo::media {
namespace {

using domain::ChromaFormat;
using domain::VideoFrame;
using domain::VideoPlane;
using test::makeFlatFrame;
using test::StandInControls;

constexpr const char* kMissingLibrary = "/nonexistent/vexilo/libvmaf.so.3";
constexpr const char* kEntryPoints[] = {
    "vmaf_init",          "vmaf_close",           "vmaf_model_load",           "vmaf_model_load_from_path",
    "vmaf_model_destroy", "vmaf_use_features_from_model", "vmaf_picture_alloc", "vmaf_picture_unref",
    "vmaf_read_pictures", "vmaf_score_at_index",  "vmaf_feature_score_at_index", "vmaf_version",
};

std::string loaderErrorFor(const std::string& path) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_EQ(module, nullptr);
    return dlerror();
}

// Every row followed by `padding` bytes of `fill`, so that only a row-wise copy is right.
VideoFrame withPaddedRows(VideoFrame frame, std::int64_t padding, std::uint8_t fill) {
    for (VideoPlane& plane : frame.planes) {
        const std::int64_t rowBytes = static_cast<std::int64_t>(plane.width) * plane.bytesPerSample;
        std::vector<std::uint8_t> padded;
        for (std::int64_t row = 0; row < plane.height; ++row) {
            const auto begin = plane.samples.begin() + row * rowBytes;
            padded.insert(padded.end(), begin, begin + rowBytes);
            padded.insert(padded.end(), static_cast<std::size_t>(padding), fill);
        }
        plane.samples = std::move(padded);
        plane.stride = rowBytes + padding;
    }
    return frame;
}

double standInScore(double meanDifference, double peak) {
    return 100.0 * (1.0 - meanDifference / peak);
}

class VmafBackendTest : public testing::Test {
protected:
    void SetUp() override {
        controls.reset();
        runtime = loadVmafRuntime(test::standInPath());
        ASSERT_TRUE(runtime->loaded) << runtime->errorText;
        modelPath = scratch.file("vmaf_v0.6.1.json").string();
        test::writeFileBytes(modelPath, {'{', '}'});
    }
    void TearDown() override { controls.expectNothingLeft(); }

    VmafQualityMetrics score(const VideoFrame& reference, const VideoFrame& encoded, VmafOptions options = {}) const {
        return computeVmafScore(*runtime, modelPath, reference, encoded, options);
    }

    StandInControls controls;
    test::ScratchDirectory scratch;
    std::unique_ptr<VmafRuntime> runtime;
    std::string modelPath;
    VideoFrame frame = makeFlatFrame(64, 48, 8, ChromaFormat::Yuv420, 100, 128);
};

void expectFailure(const VmafQualityMetrics& result, QualityMetricStatus status, const std::string& message) {
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.message, message);
    EXPECT_FALSE(result.score);
    EXPECT_TRUE(result.features.empty());
}

TEST_F(VmafBackendTest, IdenticalFramesGiveAScoreSixLabelledFeaturesAndTheModelFileName) {
    const VmafQualityMetrics result = score(frame, frame);
    EXPECT_EQ(result.status, QualityMetricStatus::Available);
    EXPECT_EQ(result.message, "available");
    EXPECT_DOUBLE_EQ(result.score.value_or(-1.0), 100.0);
    EXPECT_EQ(result.modelVersion, "vmaf_v0.6.1.json");
    EXPECT_EQ(result.backendVersion, kStandInVersion);
    ASSERT_EQ(result.features.size(), defaultVmafFeatures.size());
    for (std::size_t i = 0; i < defaultVmafFeatures.size(); ++i) {
        EXPECT_EQ(result.features[i].name, defaultVmafFeatures[i].label);
        EXPECT_EQ(result.features[i].message, "available");
        EXPECT_TRUE(result.features[i].score);
    }
    const VexiloVmafStandInLastCall last = controls.lastCall();
    EXPECT_EQ(last.logLevel, 0);
    EXPECT_EQ(last.threadCount, 0U);
    EXPECT_EQ(last.subsample, 0U);
    EXPECT_EQ(last.cpuMask, 0U);
    EXPECT_EQ(last.gpuMask, 0U);
    EXPECT_STREQ(last.modelName, "Vexilo VMAF");
    EXPECT_EQ(last.modelFlags, 0U);
    EXPECT_EQ(std::string(last.modelArgument), modelPath);
}

TEST_F(VmafBackendTest, CallsLibvmafInTheDocumentedOrderAndHandsThePicturesOver) {
    static_cast<void>(score(frame, frame));
    const std::string expected =
        "vmaf_init,vmaf_model_load_from_path,vmaf_use_features_from_model,vmaf_picture_alloc,vmaf_picture_alloc,"
        "vmaf_read_pictures,vmaf_read_pictures flush,vmaf_score_at_index,vmaf_version," +
        std::string("vmaf_feature_score_at_index,vmaf_feature_score_at_index,vmaf_feature_score_at_index,"
                    "vmaf_feature_score_at_index,vmaf_feature_score_at_index,vmaf_feature_score_at_index,"
                    "vmaf_model_destroy,vmaf_close");
    EXPECT_EQ(controls.callLog(), expected);
}

struct SampleCase {
    std::string name;
    std::int32_t bitDepth;
    ChromaFormat chroma;
    std::uint32_t referenceLuma;
    std::uint32_t encodedLuma;
    std::int64_t padding;
};

class VmafSamples : public VmafBackendTest, public testing::WithParamInterface<SampleCase> {};

// The stand-in scores the luma it was given, so a wrong copy shows in the score.
TEST_P(VmafSamples, ReachLibvmafRowByRowAtTheirDepth) {
    const SampleCase& c = GetParam();
    const VideoFrame reference =
        withPaddedRows(makeFlatFrame(33, 17, c.bitDepth, c.chroma, c.referenceLuma, 7), c.padding, 0xEE);
    const VideoFrame encoded =
        withPaddedRows(makeFlatFrame(33, 17, c.bitDepth, c.chroma, c.encodedLuma, 9), c.padding, 0x11);
    const VmafQualityMetrics result = score(reference, encoded);
    ASSERT_EQ(result.status, QualityMetricStatus::Available) << result.message;
    const double peak = std::ldexp(1.0, c.bitDepth) - 1.0;
    const double difference = std::abs(static_cast<double>(c.referenceLuma) - static_cast<double>(c.encodedLuma));
    EXPECT_NEAR(result.score.value_or(-1.0), standInScore(difference, peak), 1e-9);
    const VexiloVmafStandInLastCall last = controls.lastCall();
    EXPECT_EQ(last.bitsPerComponent, static_cast<unsigned>(c.bitDepth));
    EXPECT_EQ(last.pixelFormat, static_cast<int>(c.chroma));
    EXPECT_EQ(last.width, 33U);
    EXPECT_EQ(last.height, 17U);
}

INSTANTIATE_TEST_SUITE_P(
    VmafBackend, VmafSamples,
    testing::Values(SampleCase{"Yuv420Depth8", 8, ChromaFormat::Yuv420, 100, 110, 0},
                    SampleCase{"Yuv420Depth8Padded", 8, ChromaFormat::Yuv420, 100, 140, 5},
                    SampleCase{"Yuv422Depth10Padded", 10, ChromaFormat::Yuv422, 400, 420, 6},
                    SampleCase{"Yuv444Depth12", 12, ChromaFormat::Yuv444, 4000, 10, 0},
                    SampleCase{"Yuv420Depth16", 16, ChromaFormat::Yuv420, 65535, 0, 2}),
    test::CaseName{});

struct FormatCase {
    std::string name;
    std::function<void(VideoFrame& reference, VideoFrame& encoded)> change;
    QualityMetricStatus status;
    std::string message;
};

class VmafFormatChecks : public VmafBackendTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(VmafFormatChecks, RefuseThePairBeforeLibvmafIsCalled) {
    VideoFrame reference = frame;
    VideoFrame encoded = frame;
    GetParam().change(reference, encoded);
    expectFailure(score(reference, encoded), GetParam().status, GetParam().message);
    EXPECT_EQ(controls.callLog(), "");
}

VideoPlane& planeOf(VideoFrame& frame, std::size_t index) {
    return frame.planes.at(index);
}

INSTANTIATE_TEST_SUITE_P(
    VmafBackend, VmafFormatChecks,
    testing::Values(
        FormatCase{"ReferenceWithoutPlanes", [](VideoFrame& r, VideoFrame&) { r.planes.clear(); },
                   QualityMetricStatus::MissingReferenceFrame, "Reference frame has no YUV planes"},
        FormatCase{"EncodedWithoutPlanes", [](VideoFrame&, VideoFrame& e) { e.planes.clear(); },
                   QualityMetricStatus::MissingEncodedFrame, "Encoded frame has no YUV planes"},
        FormatCase{"DifferentChroma", [](VideoFrame&, VideoFrame& e) { e.chromaFormat = ChromaFormat::Yuv444; },
                   QualityMetricStatus::FormatMismatch, "Reference and encoded frame format do not match"},
        FormatCase{"SevenBitSamples",
                   [](VideoFrame& r, VideoFrame& e) { r.bitDepth = e.bitDepth = 7; },
                   QualityMetricStatus::UnsupportedLayout, "VMAF supports 8-bit to 16-bit planar YUV samples"},
        FormatCase{"SeventeenBitSamples",
                   [](VideoFrame& r, VideoFrame& e) { r.bitDepth = e.bitDepth = 17; },
                   QualityMetricStatus::UnsupportedLayout, "VMAF supports 8-bit to 16-bit planar YUV samples"},
        FormatCase{"ReferenceLacksV", [](VideoFrame& r, VideoFrame&) { r.planes.pop_back(); },
                   QualityMetricStatus::MissingReferenceFrame, "Reference frame is missing one or more YUV planes"},
        FormatCase{"EncodedLacksU", [](VideoFrame&, VideoFrame& e) { planeOf(e, 1).planeIndex = 2; },
                   QualityMetricStatus::MissingEncodedFrame, "Encoded frame is missing one or more YUV planes"},
        FormatCase{"ChromaGeometryDiffers", [](VideoFrame&, VideoFrame& e) { planeOf(e, 2).width -= 1; },
                   QualityMetricStatus::FormatMismatch, "Reference and encoded plane geometry do not match"},
        FormatCase{"ThreeBytesPerSample",
                   [](VideoFrame& r, VideoFrame& e) { planeOf(r, 0).bytesPerSample = planeOf(e, 0).bytesPerSample = 3; },
                   QualityMetricStatus::UnsupportedLayout,
                   "Only 8-bit and little-endian 16-bit planar samples are supported"},
        FormatCase{"StrideBelowRowSize", [](VideoFrame&, VideoFrame& e) { planeOf(e, 1).stride -= 1; },
                   QualityMetricStatus::UnsupportedLayout, "Plane row stride is smaller than the visible row size"},
        FormatCase{"ShortStorage", [](VideoFrame& r, VideoFrame&) { planeOf(r, 2).samples.pop_back(); },
                   QualityMetricStatus::UnsupportedLayout, "Plane storage is not large enough for VMAF"},
        FormatCase{"HugeStrideOverflowsStorage",
                   [](VideoFrame& r, VideoFrame&) { planeOf(r, 0).stride = INT64_MAX / 2; },
                   QualityMetricStatus::UnsupportedLayout, "Plane storage is not large enough for VMAF"},
        FormatCase{"NoChromaFormat",
                   [](VideoFrame& r, VideoFrame& e) { r.chromaFormat = e.chromaFormat = ChromaFormat::None; },
                   QualityMetricStatus::UnsupportedLayout, "VMAF supports planar YUV 4:2:0, 4:2:2, and 4:4:4"}),
    test::CaseName{});

struct SwitchCase {
    std::string name;
    std::string function;
    int code;
    bool builtInModel;
    QualityMetricStatus status;
    std::string message;  // empty: the pair still scores
};

class VmafFailureSwitches : public VmafBackendTest, public testing::WithParamInterface<SwitchCase> {};

TEST_P(VmafFailureSwitches, EndInTheirRecordAndReleaseEverything) {
    const SwitchCase& c = GetParam();
    controls.fail(c.function, c.code);
    const VmafQualityMetrics result =
        computeVmafScore(*runtime, c.builtInModel ? std::string() : modelPath, frame, frame,
                         VmafOptions{"", "vmaf_v0.6.1", 0, {}});
    if (c.message.empty()) {
        EXPECT_EQ(result.status, QualityMetricStatus::Available) << result.message;
    } else {
        expectFailure(result, c.status, c.message);
    }
}

constexpr auto kCompute = QualityMetricStatus::ComputeError;
constexpr auto kAvailableStatus = QualityMetricStatus::Available;

INSTANTIATE_TEST_SUITE_P(
    VmafBackend, VmafFailureSwitches,
    testing::Values(
        SwitchCase{"InitFails", "vmaf_init", -22, false, kCompute, "vmaf_init failed with code -22"},
        SwitchCase{"InitGivesNoContext", "vmaf_init", 0, false, kCompute, "vmaf_init failed with code 0"},
        SwitchCase{"ModelFileLoadFails", "vmaf_model_load_from_path", -2, false, kCompute,
                   "vmaf_model_load failed with code -2"},
        SwitchCase{"ModelFileGivesNoModel", "vmaf_model_load_from_path", 0, false, kCompute,
                   "vmaf_model_load failed with code 0"},
        SwitchCase{"BuiltInModelFails", "vmaf_model_load", -22, true, kCompute,
                   "vmaf_model_load failed with code -22"},
        SwitchCase{"FeatureBindingFails", "vmaf_use_features_from_model", -12, false, kCompute,
                   "vmaf_use_features_from_model failed with code -12"},
        SwitchCase{"PictureAllocationFails", "vmaf_picture_alloc", -12, false, QualityMetricStatus::UnsupportedLayout,
                   "Unable to map Vexilo frame planes into libvmaf picture buffers"},
        SwitchCase{"ReadFails", "vmaf_read_pictures", -5, false, kCompute, "vmaf_read_pictures failed with code -5"},
        SwitchCase{"FlushFails", "vmaf_read_pictures flush", -7, false, kCompute,
                   "vmaf_read_pictures flush failed with code -7"},
        SwitchCase{"ScoreFails", "vmaf_score_at_index", -3, false, kCompute, "vmaf_score_at_index failed with code -3"},
        SwitchCase{"ReleasesReportFailure", "vmaf_close", -1, false, kAvailableStatus, ""},
        SwitchCase{"PictureReleaseReportsFailure", "vmaf_picture_unref", -1, false, kAvailableStatus, ""},
        SwitchCase{"ModelDestroyIsSwitched", "vmaf_model_destroy", -1, false, kAvailableStatus, ""}),
    test::CaseName{});

TEST_F(VmafBackendTest, AFailingFeatureIsLeftOutSilently) {
    controls.fail("vmaf_feature_score_at_index VMAF_integer_feature_motion2_score", -1);
    const VmafQualityMetrics result = score(frame, frame);
    ASSERT_EQ(result.features.size(), 5U);
    for (const VmafFeatureScore& feature : result.features) {
        EXPECT_NE(feature.name, "integer_motion2");
    }
    EXPECT_EQ(result.message, "available");
}

TEST_F(VmafBackendTest, ANullVersionLeavesTheBackendVersionEmpty) {
    controls.fail("vmaf_version", 1);
    EXPECT_EQ(score(frame, frame).backendVersion, "");
}

TEST_F(VmafBackendTest, ConfiguredFeaturesAreTheirOwnLabels) {
    const VmafQualityMetrics result =
        score(frame, frame, VmafOptions{"", "", 3, {"VMAF_integer_feature_vif_scale2_score", "no_such_feature"}});
    ASSERT_EQ(result.features.size(), 1U);
    EXPECT_EQ(result.features[0].name, "VMAF_integer_feature_vif_scale2_score");
    EXPECT_EQ(controls.lastCall().threadCount, 3U);
}

TEST_F(VmafBackendTest, WithoutAModelLocationTheBuiltInModelIsLoadedByName) {
    const VmafQualityMetrics result =
        computeVmafScore(*runtime, "", frame, frame, VmafOptions{"", "vmaf_v0.6.1", 0, {}});
    EXPECT_EQ(result.status, QualityMetricStatus::Available);
    EXPECT_EQ(result.modelVersion, "vmaf_v0.6.1");
    EXPECT_EQ(controls.callCount("vmaf_model_load"), 1);
    EXPECT_STREQ(controls.lastCall().modelArgument, "vmaf_v0.6.1");
}

TEST_F(VmafBackendTest, DefaultOptionsLoadTheBuiltInModelOnTheCallingThread) {
    const VmafOptions defaults;
    EXPECT_EQ(defaults.modelVersion, "vmaf_v0.6.1");
    EXPECT_EQ(defaults.threadCount, 0U);
    const VmafQualityMetrics result = computeVmafScore(*runtime, "", frame, frame, defaults);
    EXPECT_EQ(result.status, QualityMetricStatus::Available) << result.message;
    EXPECT_EQ(result.modelVersion, "vmaf_v0.6.1");
    EXPECT_STREQ(controls.lastCall().modelArgument, "vmaf_v0.6.1");
}

struct PictureSizeCase {
    std::string name;
    std::int32_t width;
    std::int32_t height;
    bool scored;
};

class VmafPictureSizes : public VmafBackendTest, public testing::WithParamInterface<PictureSizeCase> {};

// libvmaf's ADM feature crashes on pictures of 16 samples or fewer in either direction.
TEST_P(VmafPictureSizes, SixteenSamplesOrFewerNeverReachLibvmaf) {
    const PictureSizeCase& c = GetParam();
    const VideoFrame small = makeFlatFrame(c.width, c.height, 10, ChromaFormat::Yuv420, 500, 512);
    const VmafQualityMetrics result = score(small, small);
    if (c.scored) {
        EXPECT_EQ(result.status, QualityMetricStatus::Available) << result.message;
        EXPECT_EQ(controls.callCount("vmaf_read_pictures"), 1);
    } else {
        expectFailure(result, QualityMetricStatus::UnsupportedLayout,
                      "VMAF needs pictures larger than 16 samples in both dimensions");
        EXPECT_EQ(controls.callLog(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(VmafBackend, VmafPictureSizes,
                         testing::Values(PictureSizeCase{"OneByOne", 1, 1, false},
                                         PictureSizeCase{"SixteenSquare", 16, 16, false},
                                         PictureSizeCase{"SixteenWide", 16, 1080, false},
                                         PictureSizeCase{"SixteenHigh", 1920, 16, false},
                                         PictureSizeCase{"SeventeenSquare", 17, 17, true},
                                         PictureSizeCase{"SeventeenByTwenty", 17, 20, true}),
                         test::CaseName{});

TEST_F(VmafBackendTest, AnExplicitModelPathWinsOverTheDefault) {
    const std::string other = scratch.file("custom_model.json").string();
    test::writeFileBytes(other, {'{', '}'});
    EXPECT_EQ(score(frame, frame, VmafOptions{other, "", 0, {}}).modelVersion, "custom_model.json");
}

TEST_F(VmafBackendTest, AModelPathThatIsNoRegularFileMakesTheBackendUnavailable) {
    for (const std::string& path : {scratch.file("absent.json").string(), scratch.path().string()}) {
        expectFailure(score(frame, frame, VmafOptions{path, "", 0, {}}), QualityMetricStatus::BackendUnavailable,
                      "Backend unavailable: VMAF model file is not available");
    }
    EXPECT_EQ(controls.callCount("vmaf_model_load_from_path"), 0);
}

TEST_F(VmafBackendTest, AFailingInitIsReportedBeforeAMissingModelFile) {
    controls.fail("vmaf_init", -22);
    expectFailure(score(frame, frame, VmafOptions{scratch.file("absent.json").string(), "", 0, {}}), kCompute,
                  "vmaf_init failed with code -22");
}

TEST_F(VmafBackendTest, AFrameThatCannotBeMappedLeavesNoPictureBehind) {
    vmaf_abi::VmafPicture picture{};
    VideoFrame noChroma = frame;
    noChroma.chromaFormat = ChromaFormat::None;
    EXPECT_FALSE(fillVmafPicture(runtime->api, noChroma, picture));
    VideoFrame oddChroma = frame;
    oddChroma.planes.at(1).width += 1;  // libvmaf derives a different chroma width
    oddChroma.planes.at(1).samples.resize(oddChroma.planes.at(1).samples.size() * 2);
    EXPECT_FALSE(fillVmafPicture(runtime->api, oddChroma, picture));
    EXPECT_EQ(controls.callCount("vmaf_picture_alloc"), 1);
    EXPECT_EQ(controls.callCount("vmaf_picture_unref"), 1);
}

TEST_F(VmafBackendTest, SeveralThreadsScoreAtOnceWithTheirOwnObjects) {
    constexpr int kThreads = 4;
    constexpr int kPairsPerThread = 20;
    std::vector<int> available(kThreads, 0);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                const VideoFrame encoded = makeFlatFrame(64, 48, 8, ChromaFormat::Yuv420, 100U + static_cast<std::uint32_t>(t), 128);
                for (int pair = 0; pair < kPairsPerThread; ++pair) {
                    const VmafQualityMetrics result = score(frame, encoded);
                    const bool right = result.status == QualityMetricStatus::Available &&
                                       std::abs(*result.score - standInScore(t, 255.0)) < 1e-9;
                    available[static_cast<std::size_t>(t)] += right ? 1 : 0;
                }
            });
        }
    }
    for (const int count : available) {
        EXPECT_EQ(count, kPairsPerThread);
    }
}

TEST(VmafRuntimeLoading, AMissingLibraryNamesThePathAndTheLoadersText) {
    const std::unique_ptr<VmafRuntime> runtime = loadVmafRuntime(kMissingLibrary);
    EXPECT_FALSE(runtime->loaded);
    const std::string expected = std::string("Unable to load configured libvmaf runtime '") + kMissingLibrary +
                                 "': " + loaderErrorFor(kMissingLibrary);
    EXPECT_EQ(runtime->errorText, expected);
    const VideoFrame frame = makeFlatFrame(32, 32, 8, ChromaFormat::Yuv420, 1, 2);
    const VmafQualityMetrics result = computeVmafScore(*runtime, "", frame, frame, VmafOptions{});
    EXPECT_EQ(result.status, QualityMetricStatus::BackendUnavailable);
    EXPECT_EQ(result.message, "Backend unavailable: " + expected);
}

class MissingEntryPoints : public testing::TestWithParam<const char*> {};

TEST_P(MissingEntryPoints, MakeEveryRecordNameTheMissingSymbol) {
    const std::unique_ptr<VmafRuntime> runtime = loadVmafRuntime(test::standInPathWithout(GetParam()));
    EXPECT_FALSE(runtime->loaded);
    EXPECT_TRUE(runtime->module) << "the module stays loaded until the runtime ends";
    const VideoFrame frame = makeFlatFrame(32, 32, 8, ChromaFormat::Yuv420, 1, 2);
    const VmafQualityMetrics result = computeVmafScore(*runtime, "", frame, frame, VmafOptions{});
    EXPECT_EQ(result.status, QualityMetricStatus::BackendUnavailable);
    EXPECT_EQ(result.message, std::string("Backend unavailable: libvmaf runtime is missing required symbol '") +
                                  GetParam() + "'");
}

INSTANTIATE_TEST_SUITE_P(VmafBackend, MissingEntryPoints, testing::ValuesIn(kEntryPoints),
                         [](const testing::TestParamInfo<const char*>& entry) { return std::string(entry.param); });

TEST(VmafProcessRuntime, IsConfiguredOnceAndThenServesEveryCall) {
    ASSERT_TRUE(test::useStandInForProcess());
    EXPECT_FALSE(configureVmafBackend(VmafBackendSettings{kMissingLibrary, ""}));
    const VideoFrame frame = makeFlatFrame(32, 32, 8, ChromaFormat::Yuv420, 1, 2);
    const VmafQualityMetrics result = computeVmaf(frame, frame, VmafOptions{"", "vmaf_v0.6.1", 0, {}});
    EXPECT_EQ(result.status, QualityMetricStatus::Available) << result.message;
    EXPECT_EQ(&vmafRuntime(), &vmafRuntime());
}

}  // namespace
}  // namespace vexilo::media
