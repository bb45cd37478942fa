// A "bounded_structure" pass makes each picture's document on its own, so its block budget holds
// for one picture at a time: a clean stream keeps every picture's blocks however long it is, and
// only a picture too large for the budget by itself goes without them, marked as such.
#include "PipelineTestSupport.h"
#include "collector/ObserverEventCollector.h"
#include "pipeline/AnalysisPipeline.h"
#include "pipeline/PipelineSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vexilo::analyzer {
namespace {

using testing::ScratchDirectory;

constexpr const char* kPartialCode = "analyzer.observer_partial";

struct CachedPicture {
    analysis::PictureAnalysisSummary summary;
    std::uint64_t documentBytes = 0;
    std::size_t ctus = 0;
    std::vector<std::string> errorCodes;
};

std::vector<CachedPicture> cachedPictures(const std::filesystem::path& cacheRoot)
{
    std::vector<CachedPicture> pictures;
    testing::forEachCachedPicture(cacheRoot, [&](const analysis::StreamAnalysis& document) {
        ASSERT_EQ(document.pictures.size(), 1U);
        CachedPicture picture{document.pictures.front(),
                              documentBytesOfBlocks({document.ctus.size(), document.cus.size(), document.pus.size(),
                                                     document.tus.size()}),
                              document.ctus.size(),
                              {}};
        for (const analysis::AnalysisErrorInfo& error : document.errors) {
            picture.errorCodes.push_back(error.code);
        }
        pictures.push_back(std::move(picture));
    });
    return pictures;
}

AnalyzerRunResult runPass(const std::filesystem::path& clip, const std::filesystem::path& cacheRoot,
                          std::optional<std::uint64_t> budget = std::nullopt)
{
    const std::string budgetText = budget ? std::to_string(*budget) : std::string();
    const testing::ScopedEnvironment environment(kBlockBudgetVariable, budget ? budgetText.c_str() : "");
    CancelRequest cancel;
    return analyzeHevcToMetadata(clip, cacheRoot, cancel, AnalysisMode::BoundedStructure, 0, {});
}

std::vector<std::string> streamErrorCodes(const std::filesystem::path& cacheRoot)
{
    const auto stream = testing::readCachedStream(cacheRoot);
    if (const auto* reason = std::get_if<std::string>(&stream)) {
        ADD_FAILURE() << *reason;
        return {};
    }
    std::vector<std::string> codes;
    for (const analysis::AnalysisErrorInfo& error : std::get<analysis::StreamAnalysis>(stream).errors) {
        codes.push_back(error.code);
    }
    return codes;
}

std::uint64_t largestDocumentBytes(const std::vector<CachedPicture>& pictures)
{
    std::uint64_t largest = 0;
    for (const CachedPicture& picture : pictures) {
        largest = std::max(largest, picture.documentBytes);
    }
    return largest;
}

std::uint64_t totalDocumentBytes(const std::vector<CachedPicture>& pictures)
{
    std::uint64_t total = 0;
    for (const CachedPicture& picture : pictures) {
        total += picture.documentBytes;
    }
    return total;
}

TEST(PipelinePictureByPicture, AStreamLongerThanTheBudgetKeepsEveryPicturesBlocks)
{
    const std::filesystem::path clip = testing::testMedia("client_long_640x360.hevc");
    ScratchDirectory unbounded;
    ASSERT_TRUE(runPass(clip, unbounded.path()).succeeded);
    const std::vector<CachedPicture> whole = cachedPictures(unbounded.path());
    // Room for the largest picture with its storage and tables, far from room for the stream.
    const std::uint64_t budget = 2 * largestDocumentBytes(whole);
    ASSERT_LT(budget, totalDocumentBytes(whole) / 4) << "the stream's blocks outgrow the budget many times";

    ScratchDirectory bounded;
    const AnalyzerRunResult result = runPass(clip, bounded.path(), budget);
    ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
    EXPECT_EQ(result.picturesWithBlocks, static_cast<std::uint64_t>(result.pictureCount));
    const std::vector<CachedPicture> pictures = cachedPictures(bounded.path());
    ASSERT_EQ(pictures.size(), whole.size());
    for (std::size_t index = 0; index < pictures.size(); ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(pictures[index].summary, whole[index].summary);
        EXPECT_EQ(pictures[index].ctus, whole[index].ctus);
        EXPECT_EQ(pictures[index].summary.completeness, analysis::PictureCompleteness::Complete);
        EXPECT_TRUE(pictures[index].errorCodes.empty());
    }
    const std::vector<std::string> codes = streamErrorCodes(bounded.path());
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kPartialCode), 0);
}

TEST(PipelinePictureByPicture, OnlyAPictureLargerThanTheBudgetByItselfGoesWithoutBlocks)
{
    // One intra picture, the rest predicted from it: the intra picture is by far the largest.
    const std::filesystem::path clip = testing::testMedia("oracle_csv_qp.hevc");
    ScratchDirectory unbounded;
    ASSERT_TRUE(runPass(clip, unbounded.path()).succeeded);
    const std::vector<CachedPicture> whole = cachedPictures(unbounded.path());
    ASSERT_GT(whole.size(), 2U);
    // The largest picture's blocks alone fill this budget before their storage is counted.
    const std::uint64_t budget = largestDocumentBytes(whole);

    ScratchDirectory bounded;
    const AnalyzerRunResult result = runPass(clip, bounded.path(), budget);
    ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
    EXPECT_EQ(result.picturesWithBlocks, whole.size() - 1);
    const std::vector<CachedPicture> pictures = cachedPictures(bounded.path());
    ASSERT_EQ(pictures.size(), whole.size());
    for (std::size_t index = 0; index < pictures.size(); ++index) {
        SCOPED_TRACE(index);
        const CachedPicture& picture = pictures[index];
        if (whole[index].documentBytes == budget) {
            EXPECT_EQ(picture.ctus, 0U);
            EXPECT_FALSE(picture.summary.ctuCount);
            EXPECT_EQ(picture.summary.completeness, analysis::PictureCompleteness::Partial);
            EXPECT_EQ(picture.errorCodes, std::vector<std::string>{kPartialCode}) << "the picture says why";
        } else {
            EXPECT_EQ(picture.summary, whole[index].summary);
            EXPECT_EQ(picture.ctus, whole[index].ctus);
            EXPECT_TRUE(picture.errorCodes.empty());
        }
    }
}

}  // namespace
}  // namespace vexilo::analyzer
