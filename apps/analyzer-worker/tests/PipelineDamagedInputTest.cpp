// Damaged copies of the reference streams through the whole pipeline, with and without the
// block-level events: each must end in a cache whose documents read back and validate, or
// in an "analyzer." error, never in a crash or a hang.
#include "PipelineTestSupport.h"
#include "pipeline/AnalysisPipeline.h"

#include <QProcess>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/error.h>
}

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace vexilo::analyzer {
namespace {

using Bytes = std::vector<char>;

constexpr std::size_t kCopiesPerDamage = 25;
constexpr std::size_t kHeaderBytes = 256;
constexpr int kFlippedBytes = 8;
constexpr std::uint32_t kSeed = 20261208;

std::size_t pick(std::mt19937& random, std::size_t low, std::size_t high)
{
    return std::uniform_int_distribution<std::size_t>(low, high)(random);
}

Bytes truncated(Bytes stream, std::mt19937& random)
{
    stream.resize(pick(random, 1, stream.size() - 1));
    return stream;
}

Bytes flippedWithin(Bytes stream, std::size_t end, std::mt19937& random)
{
    for (int i = 0; i < kFlippedBytes; ++i) {
        stream[pick(random, 0, end - 1)] ^= static_cast<char>(1U << pick(random, 0, 7));
    }
    return stream;
}

// Offsets of every three-byte start code.
std::vector<std::size_t> startCodes(const Bytes& stream)
{
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i + 2 < stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            offsets.push_back(i);
        }
    }
    return offsets;
}

Bytes withoutOneNalUnit(Bytes stream, std::mt19937& random)
{
    const std::vector<std::size_t> offsets = startCodes(stream);
    if (offsets.empty()) {
        return stream;
    }
    const std::size_t unit = pick(random, 0, offsets.size() - 1);
    const std::size_t end = unit + 1 < offsets.size() ? offsets[unit + 1] : stream.size();
    stream.erase(stream.begin() + static_cast<std::ptrdiff_t>(offsets[unit]),
                 stream.begin() + static_cast<std::ptrdiff_t>(end));
    return stream;
}

struct Damage {
    const char* name;
    std::function<Bytes(const Bytes&, std::mt19937&)> apply;
};

void PrintTo(const Damage& damage, std::ostream* os)
{
    *os << damage.name;
}

struct ModeCase {
    const char* name;
    AnalysisMode mode;
};

void PrintTo(const ModeCase& mode, std::ostream* os)
{
    *os << mode.name;
}

class PipelineDamagedInput : public ::testing::TestWithParam<std::tuple<Damage, ModeCase>> {};

TEST_P(PipelineDamagedInput, EndsInAValidCacheOrATypedError)
{
    const std::vector<testing::ReferenceStream> streams = testing::readReferenceStreamManifest();
    ASSERT_GE(streams.size(), kCopiesPerDamage);
    std::mt19937 random(kSeed);
    for (std::size_t copy = 0; copy < kCopiesPerDamage; ++copy) {
        const std::string& name = streams[copy].file;
        std::ifstream source(testing::referenceStreams() / name, std::ios::binary);
        const Bytes original{std::istreambuf_iterator<char>(source), std::istreambuf_iterator<char>()};
        ASSERT_GT(original.size(), kHeaderBytes);
        const auto& [damage, mode] = GetParam();
        const Bytes damaged = damage.apply(original, random);

        testing::ScratchDirectory scratch;
        std::ofstream(scratch / "damaged.hevc", std::ios::binary).write(damaged.data(),
                                                                        static_cast<std::streamsize>(damaged.size()));
        CancelRequest cancel;
        const AnalyzerRunResult result = analyzeHevcToMetadata(
            scratch / "damaged.hevc", scratch / "cache", cancel, mode.mode, 0,
            [](domain::PictureInfo, domain::VideoFrame) { return true; });
        SCOPED_TRACE(name + " copy " + std::to_string(copy) + ": " + result.code + " " + result.detail);
        EXPECT_FALSE(result.canceled);
        if (result.succeeded) {
            const auto cached = testing::readCachedStream(scratch / "cache");
            EXPECT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(cached))
                << std::get<std::string>(cached);
        } else {
            EXPECT_TRUE(result.code.starts_with("analyzer."));
            EXPECT_FALSE(result.message.empty());
            EXPECT_FALSE(std::filesystem::exists(scratch / "cache" / "manifest.json"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Damages, PipelineDamagedInput,
    ::testing::Combine(::testing::Values(Damage{"Truncated", truncated},
                                         Damage{"FlippedHeaderBytes",
                                                [](const Bytes& stream, std::mt19937& random) {
                                                    return flippedWithin(stream, kHeaderBytes, random);
                                                }},
                                         Damage{"FlippedSliceBytes",
                                                [](const Bytes& stream, std::mt19937& random) {
                                                    return flippedWithin(stream, stream.size(), random);
                                                }},
                                         Damage{"DroppedNalUnit", withoutOneNalUnit}),
                       ::testing::Values(ModeCase{"StreamIndex", AnalysisMode::StreamIndex},
                                         ModeCase{"BoundedStructure", AnalysisMode::BoundedStructure})),
    [](const ::testing::TestParamInfo<std::tuple<Damage, ModeCase>>& testCase) {
        return std::string(std::get<0>(testCase.param).name) + "_" + std::get<1>(testCase.param).name;
    });

// Damage inside the coded pictures of generated streams, where FFmpeg rejects packets: the
// analysis goes on to the end, delivers at least the frames `ffmpeg -i COPY` decodes, and
// names every rejected packet in the document.
constexpr std::size_t kCopiesPerSliceDamage = 6;
constexpr std::size_t kSliceHeaderBytes = 6;
constexpr std::uint32_t kLastSliceNalType = 21;

// Start and end of every coded slice NAL unit (after its start code).
std::vector<std::pair<std::size_t, std::size_t>> sliceNalUnits(const Bytes& stream)
{
    const std::vector<std::size_t> offsets = startCodes(stream);
    std::vector<std::pair<std::size_t, std::size_t>> units;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        const std::size_t begin = offsets[i] + 3;
        const std::size_t end = i + 1 < offsets.size() ? offsets[i + 1] : stream.size();
        const auto type = (static_cast<std::uint32_t>(static_cast<unsigned char>(stream[begin])) >> 1) & 0x3F;
        if (type <= kLastSliceNalType && end > begin + kSliceHeaderBytes + 1) {
            units.emplace_back(begin, end);
        }
    }
    return units;
}

std::pair<std::size_t, std::size_t> someSlice(const Bytes& stream, std::mt19937& random)
{
    const auto units = sliceNalUnits(stream);
    return units[pick(random, 1, units.size() - 1)];
}

Bytes flippedSliceData(Bytes stream, std::mt19937& random)
{
    const auto [begin, end] = someSlice(stream, random);
    for (int i = 0; i < kFlippedBytes; ++i) {
        stream[pick(random, begin + kSliceHeaderBytes, end - 1)] ^= static_cast<char>(1U << pick(random, 0, 7));
    }
    return stream;
}

Bytes truncatedSlice(Bytes stream, std::mt19937& random)
{
    const auto [begin, end] = someSlice(stream, random);
    stream.erase(stream.begin() + static_cast<std::ptrdiff_t>(pick(random, begin + kSliceHeaderBytes, end - 1)),
                 stream.begin() + static_cast<std::ptrdiff_t>(end));
    return stream;
}

Bytes droppedSlice(Bytes stream, std::mt19937& random)
{
    const auto [begin, end] = someSlice(stream, random);
    stream.erase(stream.begin() + static_cast<std::ptrdiff_t>(begin - 3), stream.begin() + static_cast<std::ptrdiff_t>(end));
    return stream;
}

// The frames the ffmpeg program decodes from a file, as a user would count them.
std::optional<std::size_t> ffmpegFrameCount(const std::filesystem::path& path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"),
                                            QStringLiteral("-loglevel"), QStringLiteral("quiet"), QStringLiteral("-i"),
                                            QString::fromStdString(path.string()), QStringLiteral("-map"),
                                            QStringLiteral("0:v:0"), QStringLiteral("-fps_mode"),
                                            QStringLiteral("passthrough"), QStringLiteral("-f"),
                                            QStringLiteral("framemd5"), QStringLiteral("-")});
    if (!ffmpeg.waitForFinished(60000)) {
        return std::nullopt;
    }
    std::size_t frames = 0;
    for (const QByteArray& line : ffmpeg.readAllStandardOutput().split('\n')) {
        frames += !line.isEmpty() && !line.startsWith('#') ? 1U : 0U;
    }
    return frames;
}

struct CountedRun {
    AnalyzerRunResult result;
    std::size_t delivered = 0;
};

CountedRun analyzeCountingFrames(const std::filesystem::path& path, const std::filesystem::path& cacheRoot,
                                 AnalysisMode mode)
{
    CountedRun run;
    CancelRequest cancel;
    run.result = analyzeHevcToMetadata(path, cacheRoot, cancel, mode, 0,
                                       [&run](domain::PictureInfo, domain::VideoFrame) { return ++run.delivered > 0; });
    return run;
}

class PipelineDamagedSlices : public ::testing::TestWithParam<Damage> {};

TEST_P(PipelineDamagedSlices, DecodeToTheEndAndNameEveryRejectedPacket)
{
    std::mt19937 random(kSeed);
    std::size_t rejected = 0;
    for (const char* clip : {"observer_open_gop_pyramid.hevc", "main_420_8bit_gop8.hevc"}) {
        std::ifstream source(testing::testMedia(clip), std::ios::binary);
        const Bytes original{std::istreambuf_iterator<char>(source), std::istreambuf_iterator<char>()};
        for (std::size_t copy = 0; copy < kCopiesPerSliceDamage; ++copy) {
            testing::ScratchDirectory scratch;
            const std::filesystem::path path = scratch / "damaged.hevc";
            const Bytes damaged = GetParam().apply(original, random);
            std::ofstream(path, std::ios::binary).write(damaged.data(), static_cast<std::streamsize>(damaged.size()));
            const auto [result, delivered] = analyzeCountingFrames(path, scratch / "cache", AnalysisMode::StreamIndex);
            SCOPED_TRACE(std::string(clip) + " copy " + std::to_string(copy));
            ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
            const std::optional<std::size_t> ffmpegFrames = ffmpegFrameCount(path);
            ASSERT_TRUE(ffmpegFrames);
            EXPECT_GE(delivered, *ffmpegFrames);

            const auto cached = testing::readCachedStream(scratch / "cache");
            ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(cached)) << std::get<std::string>(cached);
            // Every picture the decoder put out is described, but for one whose slice header the
            // analysis refused, which an error then names.
            const auto& document = std::get<analysis::StreamAnalysis>(cached);
            const auto refusedSliceHeaders = static_cast<std::size_t>(
                std::count_if(document.errors.begin(), document.errors.end(), [](const analysis::AnalysisErrorInfo& error) {
                    return error.code == "analyzer.syntax_structure_rejected" &&
                           error.message.starts_with("Slice segment header refused");
                }));
            EXPECT_GE(testing::outputPictures(document).size() + refusedSliceHeaders, delivered);
            for (const analysis::AnalysisErrorInfo& error : document.errors) {
                if (error.code == "analyzer.packet_rejected") {
                    ++rejected;
                    EXPECT_TRUE(error.detail.starts_with("packetIndex=" + std::to_string(error.errorValue.value_or(0)) +
                                                         "; byteOffset="))
                        << error.detail;
                    EXPECT_TRUE(error.detail.ends_with("; ffmpegCode=" + std::to_string(AVERROR_INVALIDDATA)))
                        << error.detail;
                }
            }
        }
    }
    RecordProperty("rejectedPackets", static_cast<int>(rejected));
}

INSTANTIATE_TEST_SUITE_P(Damages, PipelineDamagedSlices,
                         ::testing::Values(Damage{"FlippedSliceData", flippedSliceData},
                                           Damage{"TruncatedSlice", truncatedSlice},
                                           Damage{"DroppedSlice", droppedSlice}),
                         [](const ::testing::TestParamInfo<Damage>& testCase) {
                             return std::string(testCase.param.name);
                         });

// A packet the decoder refuses outright is noted and passed over; the pictures around it
// still come out, and the document describes every one of them, those predicted from the lost
// picture included.
class PipelineGarbledPacket : public ::testing::TestWithParam<const char*> {};

TEST_P(PipelineGarbledPacket, IsNotedAndPassedOverAndEveryPictureDecodedIsDescribed)
{
    std::ifstream source(testing::testMedia(GetParam()), std::ios::binary);
    Bytes stream{std::istreambuf_iterator<char>(source), std::istreambuf_iterator<char>()};
    const auto units = sliceNalUnits(stream);
    ASSERT_GT(units.size(), 12u);
    // A slice header whose PPS id and slice address are nonsense.
    const auto [begin, end] = units[5];
    std::fill(stream.begin() + static_cast<std::ptrdiff_t>(begin + 2),
              stream.begin() + static_cast<std::ptrdiff_t>(std::min(end, begin + 24)), static_cast<char>(0xFF));
    testing::ScratchDirectory scratch;
    const std::filesystem::path path = scratch / "garbled.hevc";
    std::ofstream(path, std::ios::binary).write(stream.data(), static_cast<std::streamsize>(stream.size()));
    const auto [result, delivered] = analyzeCountingFrames(path, scratch / "cache", AnalysisMode::BoundedStructure);
    ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
    EXPECT_GE(delivered, ffmpegFrameCount(path).value_or(0));
    EXPECT_GT(delivered, 20u);
    const auto cached = testing::readCachedStream(scratch / "cache");
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(cached)) << std::get<std::string>(cached);
    const auto& document = std::get<analysis::StreamAnalysis>(cached);
    EXPECT_EQ(testing::outputPictures(document).size(), delivered);
    std::size_t rejected = 0;
    for (const analysis::AnalysisErrorInfo& error : document.errors) {
        rejected += error.code == "analyzer.packet_rejected" ? 1U : 0U;
    }
    EXPECT_GE(rejected, 1u);
}

INSTANTIATE_TEST_SUITE_P(Clips, PipelineGarbledPacket,
                         ::testing::Values("observer_open_gop_pyramid.hevc", "main_420_8bit_gop8.hevc"),
                         testing::clipTestName);

}  // namespace
}  // namespace vexilo::analyzer
