// Damaged copies of the reference streams through the whole pipeline, with and without the
// block-level events: each must end in a cache whose documents read back and validate, or
// in an "analyzer." error, never in a crash or a hang.
#include "PipelineTestSupport.h"
#include "pipeline/AnalysisPipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
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
    const std::vector<testing::ReferenceStream> streams = testing::referenceStreamManifest();
    ASSERT_GE(streams.size(), kCopiesPerDamage);
    std::mt19937 random(kSeed);
    for (std::size_t copy = 0; copy < kCopiesPerDamage; ++copy) {
        const std::string& name = streams[copy].fileName;
        std::ifstream source(testing::referenceStreams() / name, std::ios::binary);
        const Bytes original{std::istreambuf_iterator<char>(source), std::istreambuf_iterator<char>()};
        ASSERT_GT(original.size(), kHeaderBytes);
        const auto& [damage, mode] = GetParam();
        const Bytes damaged = damage.apply(original, random);

        testing::ScratchDirectory scratch;
        std::ofstream(scratch / "damaged.hevc", std::ios::binary).write(damaged.data(),
                                                                        static_cast<std::streamsize>(damaged.size()));
        std::atomic<bool> cancel{false};
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

}  // namespace
}  // namespace vexilo::analyzer
