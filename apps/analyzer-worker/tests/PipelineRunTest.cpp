#include "PipelineTestSupport.h"
#include "pipeline/AnalysisPipeline.h"
#include "pipeline/PipelineSupport.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/error.h>
}

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

namespace vexilo::analyzer {
namespace {

using testing::ScratchDirectory;
using testing::testMedia;

constexpr char kClip[] = "main_420_8bit_gop8.hevc";
constexpr std::uint64_t kClipPictures = 24;

std::string pathText(const std::filesystem::path& path)
{
    return path.string();
}

AnalyzerRunResult analyze(const std::filesystem::path& input, const std::filesystem::path& cacheRoot,
                          FrameSink sink = {}, AnalysisMode mode = AnalysisMode::StreamIndex)
{
    CancelRequest cancel;
    return analyzeHevcToMetadata(input, cacheRoot, cancel, mode, 0, std::move(sink));
}

bool cacheWritten(const std::filesystem::path& cacheRoot)
{
    return std::filesystem::exists(cacheRoot / "manifest.json");
}

// Inputs the pipeline must refuse before it decodes anything.
struct RefusedInputCase {
    const char* name;
    std::function<std::filesystem::path(const ScratchDirectory&)> input;
    const char* code;
    const char* message;
    std::function<void(const AnalyzerRunResult&, const std::filesystem::path&)> checkCodeAndDetail;
};

void expectDetail(const AnalyzerRunResult& result, const std::filesystem::path& input, const std::string& tail)
{
    EXPECT_EQ(result.detail, "path=" + pathText(input) + "; ffmpegCode=" + std::to_string(result.ffmpegCode) + tail);
}

std::filesystem::path writeFile(const ScratchDirectory& scratch, const std::string& name, const std::string& text)
{
    std::ofstream(scratch / name, std::ios::binary) << text;
    return scratch / name;
}

void PrintTo(const RefusedInputCase& c, std::ostream* os)
{
    *os << c.name;
}

class PipelineRefusedInput : public ::testing::TestWithParam<RefusedInputCase> {};

TEST_P(PipelineRefusedInput, FailsWithCodeMessageAndDetail)
{
    const RefusedInputCase& c = GetParam();
    ScratchDirectory scratch;
    const std::filesystem::path input = c.input(scratch);
    std::filesystem::create_directory(scratch / "cache");
    const AnalyzerRunResult result = analyze(input, scratch / "cache");
    EXPECT_FALSE(result.succeeded);
    EXPECT_FALSE(result.canceled);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.message, c.message);
    c.checkCodeAndDetail(result, input);
    EXPECT_EQ(result.pictureCount, -1);
    EXPECT_FALSE(cacheWritten(scratch / "cache"));
}

const auto hashFailed = [](const AnalyzerRunResult& result, const std::filesystem::path& input) {
    EXPECT_EQ(result.ffmpegCode, 0);
    expectDetail(result, input, "; description=file read failed");
};

constexpr char kPlainText[] = "just some words\n";

const auto describedByFfmpeg = [](const AnalyzerRunResult& result, const std::filesystem::path& input) {
    EXPECT_LT(result.ffmpegCode, 0);
    expectDetail(result, input, "; description=" + ffmpegErrorText(result.ffmpegCode));
};

INSTANTIATE_TEST_SUITE_P(
    Inputs, PipelineRefusedInput,
    ::testing::Values(
        RefusedInputCase{"MissingFile", [](const ScratchDirectory& s) { return s / "absent.hevc"; },
                         "analyzer.hash_failed", "Could not hash the HEVC input", hashFailed},
        RefusedInputCase{"Directory",
                         [](const ScratchDirectory& s) {
                             std::filesystem::create_directory(s / "folder.hevc");
                             return s / "folder.hevc";
                         },
                         "analyzer.hash_failed", "Could not hash the HEVC input", hashFailed},
        RefusedInputCase{"H264Track", [](const ScratchDirectory&) { return testMedia("h264_only.mp4"); },
                         "analyzer.unsupported_codec", "Input did not resolve to FFmpeg's HEVC decoder",
                         [](const AnalyzerRunResult& result, const std::filesystem::path& input) {
                             // The H.264 track's stream index, and no description.
                             EXPECT_EQ(result.ffmpegCode, 0);
                             expectDetail(result, input, "");
                         }},
        RefusedInputCase{"NoVideoTrack", [](const ScratchDirectory&) { return testMedia("audio_only.mp4"); },
                         "analyzer.unsupported_codec", "Input did not resolve to FFmpeg's HEVC decoder",
                         describedByFfmpeg},
        // Text given a stream's name passes the open by its name and fails the probe; text
        // without one is refused by every demuxer at once.
        RefusedInputCase{"TextNamedAsStream",
                         [](const ScratchDirectory& s) { return writeFile(s, "notes.hevc", kPlainText); },
                         "analyzer.probe_failed", "FFmpeg could not probe the HEVC input", describedByFfmpeg},
        RefusedInputCase{"Text", [](const ScratchDirectory& s) { return writeFile(s, "notes.txt", kPlainText); },
                         "analyzer.open_failed", "FFmpeg could not open the HEVC input", describedByFfmpeg}),
    [](const ::testing::TestParamInfo<RefusedInputCase>& testCase) { return std::string(testCase.param.name); });

TEST(PipelineRun, SucceedsWithProbeValuesCountsAndACacheThatReadsBack)
{
    ScratchDirectory scratch;
    std::vector<std::uint64_t> ordinals;
    const AnalyzerRunResult result =
        analyze(testMedia(kClip), scratch.path(), [&ordinals](domain::PictureInfo picture, domain::VideoFrame frame) {
            EXPECT_EQ(picture.displayIndex, frame.index);
            ordinals.push_back(static_cast<std::uint64_t>(picture.displayIndex));
            return true;
        });
    ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
    EXPECT_FALSE(result.canceled);
    EXPECT_TRUE(result.code.empty());
    EXPECT_EQ(result.inputPath, testMedia(kClip));
    EXPECT_EQ(result.codecName, "hevc");
    EXPECT_EQ(result.width, 176);
    EXPECT_EQ(result.height, 144);
    EXPECT_EQ(result.bitDepth, 8);
    EXPECT_EQ(result.pixelFormat, "yuv420p");
    EXPECT_EQ(result.metadataPath, scratch.path() / "stream.vxmeta");
    EXPECT_EQ(result.decodedPictureCount, kClipPictures);
    EXPECT_EQ(result.pictureCount, static_cast<std::int64_t>(result.decodedPictureCount));
    EXPECT_GT(result.nalUnitCount, kClipPictures);
    EXPECT_EQ(result.sliceCount, kClipPictures);
    EXPECT_EQ(result.ctuCount, 0u);

    std::vector<std::uint64_t> expectedOrdinals(kClipPictures);
    std::iota(expectedOrdinals.begin(), expectedOrdinals.end(), 0u);
    EXPECT_EQ(ordinals, expectedOrdinals);

    const auto cached = testing::readCachedStream(scratch.path());
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(cached)) << std::get<std::string>(cached);
    const auto& document = std::get<analysis::StreamAnalysis>(cached);
    EXPECT_EQ(document.pictures.size(), result.decodedPictureCount);
    EXPECT_EQ(document.nalUnits.size(), result.nalUnitCount);
    EXPECT_EQ(document.parameterSets.size(), result.parameterSetCount);
    EXPECT_EQ(document.seiMessages.size(), result.seiMessageCount);
    EXPECT_EQ(document.sourceFingerprint, sha256FileFingerprint(testMedia(kClip)));
    EXPECT_TRUE(document.errors.empty());
}

// The output ordinal counts every picture whether or not anyone receives it, so the document
// names the same pictures with and without a frame sink.
TEST(PipelineRun, WithoutFrameSinkTheDocumentIsTheSame)
{
    ScratchDirectory withSink;
    ScratchDirectory withoutSink;
    ASSERT_TRUE(analyze(testMedia(kClip), withSink.path(), [](domain::PictureInfo, domain::VideoFrame) {
                    return true;
                }).succeeded);
    ASSERT_TRUE(analyze(testMedia(kClip), withoutSink.path()).succeeded);
    const auto first = testing::readCachedStream(withSink.path());
    const auto second = testing::readCachedStream(withoutSink.path());
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(first));
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(second));
    EXPECT_EQ(std::get<analysis::StreamAnalysis>(first), std::get<analysis::StreamAnalysis>(second));
}

struct ModeCase {
    const char* name;
    AnalysisMode mode;
};

void PrintTo(const ModeCase& c, std::ostream* os)
{
    *os << c.name;
}

class PipelineModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(PipelineModes, EveryModeAnalysesTheStream)
{
    ScratchDirectory scratch;
    CancelRequest cancel;
    const AnalyzerRunResult result =
        analyzeHevcToMetadata(testMedia(kClip), scratch.path(), cancel, GetParam().mode, 1, {});
    ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
    EXPECT_EQ(result.decodedPictureCount, kClipPictures);
    EXPECT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(testing::readCachedStream(scratch.path())));
}

INSTANTIATE_TEST_SUITE_P(Modes, PipelineModes,
                         ::testing::Values(ModeCase{"StreamIndex", AnalysisMode::StreamIndex},
                                           ModeCase{"PictureStructure", AnalysisMode::PictureStructure},
                                           ModeCase{"BoundedStructure", AnalysisMode::BoundedStructure},
                                           ModeCase{"Unknown", static_cast<AnalysisMode>(7)}),
                         [](const ::testing::TestParamInfo<ModeCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

// A frame sink that refuses, or cancels, at one output picture. The clip has B-frames, so its
// last picture only leaves the decoder while it is flushed.
struct SinkStopCase {
    const char* name;
    std::uint64_t atPicture;
    bool cancel;
    const char* code;
    const char* message;
};

void PrintTo(const SinkStopCase& c, std::ostream* os)
{
    *os << c.name;
}

class PipelineSinkStop : public ::testing::TestWithParam<SinkStopCase> {};

TEST_P(PipelineSinkStop, EndsTheRunWithoutACache)
{
    const SinkStopCase& c = GetParam();
    ScratchDirectory scratch;
    CancelRequest cancel;
    std::uint64_t delivered = 0;
    const AnalyzerRunResult result = analyzeHevcToMetadata(
        testMedia(kClip), scratch.path(), cancel, AnalysisMode::StreamIndex, 0,
        [&](domain::PictureInfo picture, domain::VideoFrame) {
            ++delivered;
            if (static_cast<std::uint64_t>(picture.displayIndex) != c.atPicture) {
                return true;
            }
            if (c.cancel) {
                cancel.requested.store(true);
                return true;
            }
            return false;
        });
    EXPECT_EQ(delivered, c.atPicture + 1);
    EXPECT_FALSE(result.succeeded);
    EXPECT_FALSE(cacheWritten(scratch.path()));
    if (c.cancel) {
        EXPECT_TRUE(result.canceled);
        EXPECT_TRUE(result.code.empty());
        EXPECT_TRUE(result.detail.empty());
        return;
    }
    EXPECT_FALSE(result.canceled);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(result.ffmpegCode, AVERROR_EXTERNAL);
    expectDetail(result, testMedia(kClip), "; description=" + ffmpegErrorText(AVERROR_EXTERNAL));
}

INSTANTIATE_TEST_SUITE_P(
    Stops, PipelineSinkStop,
    ::testing::Values(SinkStopCase{"RefusesFirstPicture", 0, false, "analyzer.decode_failed",
                                   "FFmpeg failed while decoding the HEVC input"},
                      SinkStopCase{"RefusesWhileFlushing", kClipPictures - 1, false, "analyzer.flush_failed",
                                   "FFmpeg failed while flushing the HEVC decoder"},
                      SinkStopCase{"CancelsAtFirstPicture", 0, true, "", ""},
                      SinkStopCase{"CancelsWhileFlushing", kClipPictures - 1, true, "", ""}),
    [](const ::testing::TestParamInfo<SinkStopCase>& testCase) { return std::string(testCase.param.name); });

// The cache writer's refusal is reported with its own message as the description.
TEST(PipelineRun, CacheThatCannotBeWrittenFailsTheRun)
{
    ScratchDirectory scratch;
    const std::filesystem::path notADirectory = writeFile(scratch, "occupied", "a file where the cache should go");
    const AnalyzerRunResult result = analyze(testMedia(kClip), notADirectory);
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(result.code, "analyzer.metadata_write_failed");
    EXPECT_EQ(result.message, "Could not write Vexilo analysis cache");
    EXPECT_EQ(result.ffmpegCode, 0);
    const std::string prefix = "path=" + pathText(testMedia(kClip)) + "; ffmpegCode=0; description=";
    ASSERT_TRUE(result.detail.starts_with(prefix)) << result.detail;
    EXPECT_GT(result.detail.size(), prefix.size());
}

TEST(PipelineRun, CancelledBeforeTheCallReadsNothing)
{
    ScratchDirectory scratch;
    CancelRequest cancel;
    cancel.requested = true;
    bool sinkCalled = false;
    // A missing input proves the file was not even hashed.
    const AnalyzerRunResult result = analyzeHevcToMetadata(
        scratch / "absent.hevc", scratch.path(), cancel, AnalysisMode::StreamIndex, 0,
        [&sinkCalled](domain::PictureInfo, domain::VideoFrame) { return sinkCalled = true; });
    EXPECT_TRUE(result.canceled);
    EXPECT_FALSE(result.succeeded);
    EXPECT_TRUE(result.code.empty());
    EXPECT_FALSE(sinkCalled);
}

// With room for only a few block events the first pictures keep all their blocks and the
// rest none; decoding, frames and every stream-level record go on to the end.
TEST(PipelineRun, SmallEventCapacityKeepsWholePicturesAndEverySummary)
{
    const testing::ScopedEnvironment capacity(kEventCapacityVariable, "3000");
    ScratchDirectory scratch;
    std::uint64_t delivered = 0;
    const AnalyzerRunResult result = analyze(testMedia("observer_open_gop_pyramid.hevc"), scratch.path(),
                                             [&delivered](domain::PictureInfo, domain::VideoFrame) {
                                                 ++delivered;
                                                 return true;
                                             },
                                             AnalysisMode::BoundedStructure);
    ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
    EXPECT_EQ(delivered, 30u);
    EXPECT_EQ(result.pictureCount, 30);
    EXPECT_GT(result.picturesWithBlocks, 0u);
    EXPECT_LT(result.picturesWithBlocks, 30u);
    const auto cached = testing::readCachedStream(scratch.path());
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(cached)) << std::get<std::string>(cached);
    const auto& document = std::get<analysis::StreamAnalysis>(cached);
    EXPECT_EQ(document.pictures.size(), 30u);
    ASSERT_FALSE(document.errors.empty());
    EXPECT_EQ(document.errors.back().code, "analyzer.observer_partial");

    // Pictures with blocks come first in decode order, each with a CTU for every CTB.
    std::vector<analysis::PictureAnalysisSummary> byDecodeOrder = document.pictures;
    std::sort(byDecodeOrder.begin(), byDecodeOrder.end(), [](const auto& a, const auto& b) {
        return a.decodeIndex.value_or(-1) < b.decodeIndex.value_or(-1);
    });
    const std::uint64_t ctbs = byDecodeOrder.front().ctuCount.value_or(0);
    ASSERT_GT(ctbs, 0u);
    for (std::size_t i = 0; i < byDecodeOrder.size(); ++i) {
        const bool withBlocks = i < result.picturesWithBlocks;
        EXPECT_EQ(byDecodeOrder[i].ctuCount.value_or(0), withBlocks ? ctbs : 0u) << "decode index " << i;
        EXPECT_EQ(byDecodeOrder[i].completeness, withBlocks ? analysis::PictureCompleteness::Complete
                                                            : analysis::PictureCompleteness::Partial);
    }
}

// Stream-level records have no count bound: a long stream keeps every picture, slice and
// NAL unit however many there are.
TEST(PipelineRun, ALongStreamKeepsEveryPictureSummary)
{
    constexpr std::size_t kPictures = 30000;
    ScratchDirectory scratch(testing::memoryBackedTemporaryDirectory());
    std::size_t delivered = 0;
    const AnalyzerRunResult result = analyze(testMedia("long_64x64_30000.hevc"), scratch.path(),
                                             [&delivered](domain::PictureInfo, domain::VideoFrame) {
                                                 ++delivered;
                                                 return true;
                                             });
    ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
    EXPECT_EQ(delivered, kPictures);
    EXPECT_EQ(result.pictureCount, static_cast<std::int64_t>(kPictures));
    EXPECT_EQ(result.sliceCount, kPictures);
    EXPECT_GE(result.nalUnitCount, kPictures + 3);
    const auto cached = testing::readCachedStreamOnly(scratch.path());
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(cached)) << std::get<std::string>(cached);
    const auto& document = std::get<analysis::StreamAnalysis>(cached);
    ASSERT_EQ(document.pictures.size(), kPictures);
    std::vector<bool> decodeIndices(kPictures, false);
    for (const analysis::PictureAnalysisSummary& picture : document.pictures) {
        const std::int64_t index = picture.decodeIndex.value_or(-1);
        ASSERT_GE(index, 0);
        ASSERT_LT(index, static_cast<std::int64_t>(kPictures));
        decodeIndices[static_cast<std::size_t>(index)] = true;
    }
    EXPECT_EQ(std::count(decodeIndices.begin(), decodeIndices.end(), true), static_cast<std::ptrdiff_t>(kPictures));
    EXPECT_TRUE(document.errors.empty());
}

}  // namespace
}  // namespace vexilo::analyzer
