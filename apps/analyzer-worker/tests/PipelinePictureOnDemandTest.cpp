// A "picture_structure" run over a complete cache of the same content: it decodes only up to
// its picture, sends no frames, replaces that picture's file and leaves the rest of the cache as
// it was. A fresh directory still gets a whole cache and every frame. Whole runs write a source
// stamp that lets the desktop reuse them.
#include "PipelineTestSupport.h"
#include "collector/ObserverEventCollector.h"
#include "pipeline/AnalysisPipeline.h"
#include "pipeline/PipelineSupport.h"

#include "vexilo/analysis/cache/SourceStamp.h"

#include <QtGlobal>

#include <gtest/gtest.h>

#include <atomic>
#include <map>

namespace vexilo::analyzer {
namespace {

using testing::ScratchDirectory;

constexpr const char* kClip = "main_420_8bit_gop8.hevc";

// The CTU count of every picture document in the cache, by decode-picture identity.
std::map<std::uint64_t, std::size_t> cachedCtus(const std::filesystem::path& cacheRoot)
{
    std::map<std::uint64_t, std::size_t> ctus;
    testing::forEachCachedPicture(cacheRoot, [&](const analysis::StreamAnalysis& document) {
        if (document.pictures.size() == 1 && document.pictures.front().pictureId) {
            ctus[*document.pictures.front().pictureId] = document.ctus.size();
        }
    });
    return ctus;
}

AnalyzerRunResult run(const std::filesystem::path& cacheRoot, AnalysisMode mode, std::uint64_t target = 0,
                      std::uint64_t* framesSent = nullptr)
{
    CancelRequest cancel;
    FrameSink sink;
    if (framesSent != nullptr) {
        sink = [framesSent](domain::PictureInfo, domain::VideoFrame) {
            ++*framesSent;
            return true;
        };
    }
    return analyzeHevcToMetadata(testing::testMedia(kClip), cacheRoot, cancel, mode, target, std::move(sink));
}

// Sets an environment variable for the life of the object.
class EnvironmentOverride {
public:
    EnvironmentOverride(const char* name, const QByteArray& value) : name_(name) { qputenv(name_, value); }
    ~EnvironmentOverride() { qunsetenv(name_); }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

private:
    const char* name_;
};

// A bounded run whose budget holds the blocks of only the first few pictures; the budget
// goes to `budgetUsed` when given.
AnalyzerRunResult runWithSmallBudget(const std::filesystem::path& cacheRoot, std::uint64_t* budgetUsed = nullptr)
{
    AnalyzerRunResult result;
    for (std::uint64_t budget = 1024; budget < (std::uint64_t{1} << 30); budget *= 2) {
        const EnvironmentOverride override(kBlockBudgetVariable, QByteArray::number(budget));
        result = run(cacheRoot, AnalysisMode::BoundedStructure);
        if (budgetUsed != nullptr) {
            *budgetUsed = budget;
        }
        if (!result.succeeded || result.picturesWithBlocks != 0) {
            break;
        }
    }
    return result;
}

TEST(PipelinePictureOnDemand, StopsAfterItsPictureAndKeepsEveryOtherPicturesBlocks)
{
    ScratchDirectory scratch;
    const AnalyzerRunResult bounded = runWithSmallBudget(scratch.path());
    ASSERT_TRUE(bounded.succeeded) << bounded.code << ": " << bounded.detail;
    ASSERT_GT(bounded.picturesWithBlocks, 0U);
    ASSERT_LT(bounded.picturesWithBlocks, bounded.decodedPictureCount / 2) << "the budget leaves pictures out";
    const std::map<std::uint64_t, std::size_t> before = cachedCtus(scratch.path());
    ASSERT_EQ(before.size(), bounded.decodedPictureCount);
    std::uint64_t target = 0;
    for (const auto& [picture, ctus] : before) {
        if (ctus == 0) {
            target = picture;
            break;
        }
    }
    ASSERT_NE(target, 0U);
    const auto streamBefore = testing::readCachedStreamOnly(scratch.path());
    const auto manifestBefore = analysis::openAnalysisCache(scratch.path());

    std::uint64_t framesSent = 0;
    const AnalyzerRunResult structure = run(scratch.path(), AnalysisMode::PictureStructure, target, &framesSent);
    ASSERT_TRUE(structure.succeeded) << structure.code << ": " << structure.detail;
    EXPECT_LT(structure.decodedPictureCount, bounded.decodedPictureCount) << "decoding stopped after the picture";
    EXPECT_EQ(framesSent, 0U) << "the cache's owner has the pictures already";

    const std::map<std::uint64_t, std::size_t> after = cachedCtus(scratch.path());
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [picture, ctus] : before) {
        if (picture == target) {
            EXPECT_GT(after.at(picture), 0U) << "the target has its blocks now";
        } else {
            EXPECT_EQ(after.at(picture), ctus) << "picture " << picture;
        }
    }
    const auto streamAfter = testing::readCachedStreamOnly(scratch.path());
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(streamAfter));
    EXPECT_EQ(std::get<analysis::StreamAnalysis>(streamAfter).pictures.size(), bounded.decodedPictureCount);
    EXPECT_EQ(std::get<analysis::CacheManifest>(analysis::openAnalysisCache(scratch.path())).pictures.size(),
              std::get<analysis::CacheManifest>(manifestBefore).pictures.size());
    EXPECT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(streamBefore));
}

// The run's memory follows the document a picture's kept blocks become, several times their
// compact storage: the budget has to bound that document, picture by picture, or the peak
// outgrows it.
TEST(PipelinePictureOnDemand, TheBlockBudgetBoundsTheDocumentOfEachPicturesBlocks)
{
    ScratchDirectory scratch;
    std::uint64_t budget = 0;
    const AnalyzerRunResult bounded = runWithSmallBudget(scratch.path(), &budget);
    ASSERT_TRUE(bounded.succeeded) << bounded.code << ": " << bounded.detail;
    ASSERT_GT(bounded.picturesWithBlocks, 0U);
    EXPECT_LT(bounded.picturesWithBlocks, bounded.decodedPictureCount);
    std::uint64_t largestKept = 0;
    testing::forEachCachedPicture(scratch.path(), [&](const analysis::StreamAnalysis& document) {
        const std::uint64_t documentBytes =
            documentBytesOfBlocks({document.ctus.size(), document.cus.size(), document.pus.size(), document.tus.size()});
        EXPECT_LE(documentBytes, budget);
        largestKept = std::max(largestKept, documentBytes);
    });
    EXPECT_GT(largestKept, budget / 4) << "the budget is not spent on far less than it holds";
}

TEST(PipelinePictureOnDemand, WithoutACacheOfTheSameContentTheWholeStreamIsAnalysed)
{
    ScratchDirectory scratch;
    std::uint64_t framesSent = 0;
    const AnalyzerRunResult structure = run(scratch.path(), AnalysisMode::PictureStructure, 3, &framesSent);
    ASSERT_TRUE(structure.succeeded) << structure.code << ": " << structure.detail;
    EXPECT_EQ(framesSent, 24U);
    const std::map<std::uint64_t, std::size_t> ctus = cachedCtus(scratch.path());
    EXPECT_EQ(ctus.size(), structure.decodedPictureCount);
    EXPECT_EQ(ctus.size(), 24U);
    EXPECT_GT(ctus.at(3), 0U);
}

TEST(PipelinePictureOnDemand, AWholeRunStampsTheSourceItRead)
{
    ScratchDirectory scratch;
    const AnalyzerRunResult index = run(scratch.path(), AnalysisMode::StreamIndex);
    ASSERT_TRUE(index.succeeded) << index.code << ": " << index.detail;
    const std::optional<analysis::SourceStamp> stamp = analysis::readSourceStamp(scratch.path());
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->sourceFingerprint, sha256FileFingerprint(testing::testMedia(kClip)).value());
    EXPECT_EQ(stamp->sizeBytes, std::filesystem::file_size(testing::testMedia(kClip)));
    EXPECT_EQ(analysis::stampedFingerprintIfUnchanged(scratch.path(), testing::testMedia(kClip)),
              std::optional(stamp->sourceFingerprint));
}

}  // namespace
}  // namespace vexilo::analyzer
