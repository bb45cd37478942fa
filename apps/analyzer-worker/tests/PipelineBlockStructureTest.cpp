// "picture_structure" and "bounded_structure" runs of the analysis pipeline over real streams:
// the coding blocks reach the cache's picture documents, which validate, and a later
// "stream_index" run over the same cache keeps them.
#include "PipelineTestSupport.h"
#include "WorkerAnalysisRun.h"
#include "pipeline/AnalysisPipeline.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <optional>
#include <ostream>
#include <string>

namespace vexilo::analyzer {
namespace {

using testing::ScratchDirectory;

struct PictureBlocks {
    std::size_t ctus = 0;
    std::size_t cus = 0;
    std::size_t pus = 0;
    std::size_t tus = 0;
};

// The block counts of every picture document in the cache, by picture id.
std::map<std::uint64_t, PictureBlocks> cachedPictureBlocks(const std::filesystem::path& cacheRoot)
{
    std::map<std::uint64_t, PictureBlocks> blocks;
    testing::forEachCachedPicture(cacheRoot, [&](const analysis::StreamAnalysis& document) {
        EXPECT_TRUE(analysis::validateStreamAnalysis(document).empty())
            << analysis::formatValidationIssues(analysis::validateStreamAnalysis(document));
        if (document.pictures.size() == 1 && document.pictures.front().pictureId) {
            blocks[*document.pictures.front().pictureId] =
                {document.ctus.size(), document.cus.size(), document.pus.size(), document.tus.size()};
        }
    });
    return blocks;
}

AnalyzerRunResult run(const std::filesystem::path& input, const std::filesystem::path& cacheRoot, AnalysisMode mode,
                      std::uint64_t target)
{
    CancelRequest cancel;
    return analyzeHevcToMetadata(input, cacheRoot, cancel, mode, target, {});
}

struct StructureCase {
    const char* name;
    std::filesystem::path input;
    std::uint32_t ctusPerPicture;
    // The coded picture size (pic_width/height_in_luma_samples); a conformance window crops
    // the output pictures below it.
    std::uint32_t codedWidth;
    std::uint32_t codedHeight;
};

void PrintTo(const StructureCase& c, std::ostream* os) { *os << c.name; }

std::vector<StructureCase> structureCases()
{
    return {
        {"HmIntraCtu16", testing::referenceStreams() / "s25_ai_ctu16_crc_hash.bit", 5 * 3, 72, 40},
        {"HmPartialCtus", testing::referenceStreams() / "s11_ldb_output_flag_extra_sh_bits.bit", 5 * 3, 72, 40},
        {"HmDependentSegments", testing::referenceStreams() / "s07_ldb_slices_ctu_dependent_segments_aud.bit", 7 * 4,
         200, 120},
        // Output pictures of 198x118.
        {"HmConformanceWindow", testing::referenceStreams() / "s26_ldp_ctu32_mincu16_confwin_checksum.bit", 7 * 4,
         208, 128},
    };
}

class PipelineBlockStructure : public ::testing::TestWithParam<StructureCase> {};

TEST_P(PipelineBlockStructure, BoundedStructureFillsEveryPicture)
{
    ScratchDirectory scratch;
    const AnalyzerRunResult result = run(GetParam().input, scratch.path(), AnalysisMode::BoundedStructure, 0);
    ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
    const auto blocks = cachedPictureBlocks(scratch.path());
    ASSERT_EQ(blocks.size(), result.decodedPictureCount);
    std::uint64_t ctus = 0;
    for (const auto& [picture, counts] : blocks) {
        EXPECT_EQ(counts.ctus, GetParam().ctusPerPicture) << "picture " << picture;
        EXPECT_GE(counts.cus, counts.ctus) << "picture " << picture;
        EXPECT_GE(counts.pus, 1U) << "picture " << picture;
        EXPECT_GE(counts.tus, 1U) << "picture " << picture;
        ctus += counts.ctus;
    }
    EXPECT_EQ(result.ctuCount, ctus);
    EXPECT_GT(result.cuCount, 0U);
}

TEST_P(PipelineBlockStructure, PictureStructureFillsTheTargetAndStreamIndexKeepsIt)
{
    ScratchDirectory scratch;
    constexpr std::uint64_t kTargetPicture = 2;
    const AnalyzerRunResult structure =
        run(GetParam().input, scratch.path(), AnalysisMode::PictureStructure, kTargetPicture);
    ASSERT_TRUE(structure.succeeded) << structure.code << ": " << structure.detail;
    EXPECT_EQ(structure.ctuCount, GetParam().ctusPerPicture);
    const auto before = cachedPictureBlocks(scratch.path());
    for (const auto& [picture, counts] : before) {
        EXPECT_EQ(counts.ctus, picture == kTargetPicture ? GetParam().ctusPerPicture : 0U) << "picture " << picture;
    }
    ASSERT_EQ(before.count(kTargetPicture), 1U);
    EXPECT_GT(before.at(kTargetPicture).cus, 0U);
    EXPECT_GT(before.at(kTargetPicture).pus, 0U);
    EXPECT_GT(before.at(kTargetPicture).tus, 0U);

    const AnalyzerRunResult index = run(GetParam().input, scratch.path(), AnalysisMode::StreamIndex, 0);
    ASSERT_TRUE(index.succeeded) << index.code << ": " << index.detail;
    EXPECT_EQ(index.ctuCount, 0U);
    const auto after = cachedPictureBlocks(scratch.path());
    ASSERT_EQ(after.count(kTargetPicture), 1U);
    EXPECT_EQ(after.at(kTargetPicture).ctus, before.at(kTargetPicture).ctus);
    EXPECT_EQ(after.at(kTargetPicture).cus, before.at(kTargetPicture).cus);
    EXPECT_EQ(after.at(kTargetPicture).pus, before.at(kTargetPicture).pus);
    EXPECT_EQ(after.at(kTargetPicture).tus, before.at(kTargetPicture).tus);
}

// Runs with and without blocks give the stream-level document the coded picture size: the
// picture documents of a later run check the CTUs carried over from an earlier one against it.
TEST_P(PipelineBlockStructure, RootAndSpsHaveTheCodedSizeWithOrWithoutBlocks)
{
    for (const AnalysisMode mode : {AnalysisMode::StreamIndex, AnalysisMode::PictureStructure}) {
        ScratchDirectory scratch;
        const AnalyzerRunResult result = run(GetParam().input, scratch.path(), mode, 2);
        ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
        const auto cached = testing::readCachedStream(scratch.path());
        ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(cached)) << std::get<std::string>(cached);
        const auto& document = std::get<analysis::StreamAnalysis>(cached);
        EXPECT_EQ(document.width, GetParam().codedWidth) << "mode " << static_cast<int>(mode);
        EXPECT_EQ(document.height, GetParam().codedHeight) << "mode " << static_cast<int>(mode);
        std::size_t spsCount = 0;
        for (const analysis::ParameterSetInfo& ps : document.parameterSets) {
            if (ps.kind == analysis::ParameterSetKind::Sps) {
                ++spsCount;
                EXPECT_EQ(ps.width, GetParam().codedWidth) << "mode " << static_cast<int>(mode);
                EXPECT_EQ(ps.height, GetParam().codedHeight) << "mode " << static_cast<int>(mode);
            }
        }
        EXPECT_GE(spsCount, 1U);
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, PipelineBlockStructure, ::testing::ValuesIn(structureCases()),
                         [](const ::testing::TestParamInfo<StructureCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

// The same runs through the worker program, as the desktop asks for them.
using testing::analyzeThroughWorker;
using testing::asHevcFile;
using testing::countOf;
using testing::textOf;
using testing::WorkerTask;

TEST(WorkerBlockStructure, BoundedStructureWritesBlocksForEveryPicture)
{
    ScratchDirectory scratch;
    ScratchDirectory inputs;
    const WorkerTask finished = analyzeThroughWorker(
        asHevcFile(testing::referenceStreams() / "s25_ai_ctu16_crc_hash.bit", inputs), scratch.path(),
        "bounded_structure");
    ASSERT_EQ(finished.end.value("type").toString().toStdString(), "analysisFinished") << textOf(finished.end);
    const auto blocks = cachedPictureBlocks(scratch.path());
    ASSERT_EQ(static_cast<qint64>(blocks.size()), countOf(finished, "decodedPictureCount"));
    qint64 ctus = 0;
    for (const auto& [picture, counts] : blocks) {
        EXPECT_GT(counts.ctus, 0U) << "picture " << picture;
        ctus += static_cast<qint64>(counts.ctus);
    }
    EXPECT_EQ(countOf(finished, "ctuCount"), ctus);
    EXPECT_GT(countOf(finished, "tuCount"), 0);
}

TEST(WorkerBlockStructure, PictureStructureBlocksSurviveALaterStreamIndexRun)
{
    ScratchDirectory scratch;
    ScratchDirectory inputs;
    const std::filesystem::path input = asHevcFile(testing::referenceStreams() / "s06_ra_wavefront.bit", inputs);
    constexpr qint64 kTargetPicture = 3;
    testing::WorkerRunOptions options;
    options.targetDecodePictureId = kTargetPicture;
    const WorkerTask structure = analyzeThroughWorker(input, scratch.path(), "picture_structure", options);
    ASSERT_EQ(structure.end.value("type").toString().toStdString(), "analysisFinished") << textOf(structure.end);
    EXPECT_GT(countOf(structure, "ctuCount"), 0);
    const auto before = cachedPictureBlocks(scratch.path());
    ASSERT_EQ(before.count(kTargetPicture), 1U);
    EXPECT_GT(before.at(kTargetPicture).cus, 0U);

    const WorkerTask index = analyzeThroughWorker(input, scratch.path(), "stream_index");
    ASSERT_EQ(index.end.value("type").toString().toStdString(), "analysisFinished") << textOf(index.end);
    EXPECT_EQ(countOf(index, "ctuCount"), 0);
    const auto after = cachedPictureBlocks(scratch.path());
    ASSERT_EQ(after.count(kTargetPicture), 1U);
    EXPECT_EQ(after.at(kTargetPicture).ctus, before.at(kTargetPicture).ctus);
    EXPECT_EQ(after.at(kTargetPicture).cus, before.at(kTargetPicture).cus);
    EXPECT_EQ(after.at(kTargetPicture).pus, before.at(kTargetPicture).pus);
    EXPECT_EQ(after.at(kTargetPicture).tus, before.at(kTargetPicture).tus);
}

}  // namespace
}  // namespace vexilo::analyzer
