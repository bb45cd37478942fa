#include "PipelineTestSupport.h"
#include "collector/ObserverEventCollector.h"
#include "pipeline/PipelineSupport.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/error.h>
}

#include <fstream>
#include <ostream>
#include <string>

namespace vexilo::analyzer {
namespace {

struct CapacityCase {
    const char* text;
    std::uint64_t capacity;
    // What bounds the kept block events: only a usable number does.
    std::uint64_t blockCapacity;
};

void PrintTo(const CapacityCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

class ObserverEventCapacityTest : public ::testing::TestWithParam<CapacityCase> {};

TEST_P(ObserverEventCapacityTest, ReadsTheVariable)
{
    EXPECT_EQ(observerEventCapacity(QByteArray(GetParam().text)), GetParam().capacity);
    EXPECT_EQ(blockEventCapacity(QByteArray(GetParam().text)), GetParam().blockCapacity);
}

INSTANTIATE_TEST_SUITE_P(Texts, ObserverEventCapacityTest,
                         ::testing::Values(CapacityCase{"", 65536, 0}, CapacityCase{"0", 65536, 0},
                                           CapacityCase{"abc", 65536, 0}, CapacityCase{"-5", 65536, 0},
                                           CapacityCase{"12abc", 65536, 0},
                                           CapacityCase{"99999999999999999999999", 65536, 0},
                                           CapacityCase{"1", 1, 1}, CapacityCase{"100", 100, 100},
                                           CapacityCase{"16777216", 16777216, 16777216},
                                           CapacityCase{"16777217", 16777216, 16777216},
                                           CapacityCase{"99999999", 16777216, 16777216}));

TEST(ObserverEventCapacity, UnsetVariableBoundsNoBlocks)
{
    {
        const testing::ScopedEnvironment set(kEventCapacityVariable, "100");
        EXPECT_EQ(blockEventCapacityFromEnvironment(), 100u);
    }
    qunsetenv(kEventCapacityVariable);
    EXPECT_EQ(blockEventCapacityFromEnvironment(), kNoBlockEventBound);
}

TEST(ObserverEventSelection, OnlyStructureModesAskForBlocksAndOnlyOnePictureHasATarget)
{
    EXPECT_EQ(observerEventMask(AnalysisMode::StreamIndex), 0x21FFFFu);
    EXPECT_EQ(observerEventMask(AnalysisMode::PictureStructure), 0x3FFFFFu);
    EXPECT_EQ(observerEventMask(AnalysisMode::BoundedStructure), 0x3FFFFFu);
    EXPECT_EQ(observerEventMask(static_cast<AnalysisMode>(9)), 0x21FFFFu);
    EXPECT_EQ(collectorTargetPicture(AnalysisMode::StreamIndex, 5), 0u);
    EXPECT_EQ(collectorTargetPicture(AnalysisMode::PictureStructure, 5), 5u);
    EXPECT_EQ(collectorTargetPicture(AnalysisMode::BoundedStructure, 5), 0u);
}

TEST(Sha256FileFingerprint, HashesTheWholeFile)
{
    testing::ScratchDirectory scratch;
    std::ofstream(scratch / "abc.hevc", std::ios::binary) << "abc";
    EXPECT_EQ(sha256FileFingerprint(scratch / "abc.hevc"),
              "sha256:ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::ofstream(scratch / "empty.hevc", std::ios::binary);
    EXPECT_EQ(sha256FileFingerprint(scratch / "empty.hevc"),
              "sha256:e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256FileFingerprint(scratch / "absent.hevc"), std::nullopt);
    EXPECT_EQ(sha256FileFingerprint(scratch.path()), std::nullopt);
}

analysis::CtuInfo ctuAt(std::int32_t x, std::int32_t y, std::uint32_t size)
{
    analysis::CtuInfo ctu;
    ctu.bounds = {x, y, size, size, 0};
    return ctu;
}

analysis::ParameterSetInfo parameterSet(analysis::ParameterSetKind kind, std::optional<std::uint32_t> width,
                                        std::optional<std::uint32_t> height)
{
    analysis::ParameterSetInfo set;
    set.kind = kind;
    set.width = width;
    set.height = height;
    return set;
}

TEST(DescribeStream, EmptyDocumentShowsZeros)
{
    EXPECT_EQ(describeStream(analysis::StreamAnalysis{}), "stream=0x0; ctuExtent=0x0");
}

TEST(DescribeStream, ShowsLargestCtuEdgesAndEverySpsInOrder)
{
    analysis::StreamAnalysis document;
    document.width = 176;
    document.height = 144;
    document.ctus = {ctuAt(0, 0, 64), ctuAt(128, 64, 64), ctuAt(64, 128, 64),
                     // Edges at or past 65536 are ignored, not taken as the extent.
                     ctuAt(65500, 0, 64), ctuAt(0, 65536, 64)};
    document.parameterSets = {parameterSet(analysis::ParameterSetKind::Vps, 1, 1),
                              parameterSet(analysis::ParameterSetKind::Sps, 176, 144),
                              parameterSet(analysis::ParameterSetKind::Pps, 2, 2),
                              parameterSet(analysis::ParameterSetKind::Sps, std::nullopt, 96)};
    EXPECT_EQ(describeStream(document), "stream=176x144; ctuExtent=192x192; sps=176x144; sps=0x96");
}

TEST(FailureDetail, DescriptionIsGivenOrFfmpegsTextForNegativeCodes)
{
    const std::filesystem::path input("/media/clip é.hevc");
    EXPECT_EQ(failureDetail(input, 0, "file read failed"),
              "path=/media/clip é.hevc; ffmpegCode=0; description=file read failed");
    EXPECT_EQ(failureDetail(input, 1, std::nullopt), "path=/media/clip é.hevc; ffmpegCode=1");
    EXPECT_EQ(failureDetail(input, AVERROR_EOF, std::nullopt),
              "path=/media/clip é.hevc; ffmpegCode=" + std::to_string(AVERROR_EOF) + "; description=End of file");
    EXPECT_EQ(failureDetail(input, -28, "stats"), "path=/media/clip é.hevc; ffmpegCode=-28; description=stats");
}

}  // namespace
}  // namespace vexilo::analyzer
