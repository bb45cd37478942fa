// A whole-stream pass cancelled part way: the pictures it put out keep their blocks in the
// cache, the cache is not stamped as the source's analysis, and a complete cache of the same
// content is left as it was.
#include "PipelineTestSupport.h"
#include "pipeline/AnalysisPipeline.h"

#include "vexilo/analysis/cache/CacheReader.h"
#include "vexilo/analysis/cache/SourceStamp.h"

#include <gtest/gtest.h>

#include <atomic>

namespace vexilo::analyzer {
namespace {

using testing::ScratchDirectory;

constexpr const char* kClip = "main_420_8bit_gop8.hevc";
constexpr std::uint64_t kClipPictures = 24;
constexpr std::uint64_t kCancelAfterPictures = 10;

enum class Canceller { User, WorkerGoingAway };

// A "bounded_structure" pass; with `cancelAfter` it is cancelled once that many pictures are out.
AnalyzerRunResult runPass(const std::filesystem::path& cacheRoot, std::uint64_t cancelAfter = 0,
                          Canceller canceller = Canceller::User)
{
    CancelRequest cancel;
    cancel.keepCompletePictures = canceller == Canceller::User;
    std::uint64_t sent = 0;
    FrameSink sink = [&](domain::PictureInfo, domain::VideoFrame) {
        if (++sent == cancelAfter) {
            cancel.requested.store(true);
        }
        return true;
    };
    return analyzeHevcToMetadata(testing::testMedia(kClip), cacheRoot, cancel, AnalysisMode::BoundedStructure, 0,
                                 std::move(sink));
}

std::size_t cachedPictureCount(const std::filesystem::path& cacheRoot)
{
    const auto manifest = analysis::openAnalysisCache(cacheRoot);
    return std::holds_alternative<analysis::CacheManifest>(manifest)
               ? std::get<analysis::CacheManifest>(manifest).pictures.size()
               : 0;
}

TEST(PipelineCanceledPass, KeepsEveryPicturePutOutWithAllItsBlocksAndStampsNothing)
{
    ScratchDirectory scratch;
    const AnalyzerRunResult result = runPass(scratch.path(), kCancelAfterPictures);
    ASSERT_TRUE(result.canceled);
    const std::size_t kept = cachedPictureCount(scratch.path());
    EXPECT_GE(kept, kCancelAfterPictures);
    EXPECT_LT(kept, kClipPictures);
    std::size_t visited = 0;
    testing::forEachCachedPicture(scratch.path(), [&](const analysis::StreamAnalysis& picture) {
        ++visited;
        ASSERT_EQ(picture.pictures.size(), 1U);
        EXPECT_FALSE(picture.ctus.empty());
        EXPECT_EQ(picture.pictures.front().ctuCount.value_or(0), picture.ctus.size()) << "no half picture";
        EXPECT_EQ(picture.pictures.front().cuCount.value_or(0), picture.cus.size());
    });
    EXPECT_EQ(visited, kept);
    EXPECT_FALSE(analysis::readSourceStamp(scratch.path())) << "the cache is not the whole analysis";
}

// The last pictures come out while the decoder is flushed: a cancel then keeps the pictures as
// well, instead of throwing away a pass that had decoded the whole stream.
TEST(PipelineCanceledPass, ACancelWhileFlushingKeepsThePicturesPutOut)
{
    ScratchDirectory scratch;
    constexpr std::uint64_t kCancelWhileFlushing = kClipPictures - 1;
    const AnalyzerRunResult result = runPass(scratch.path(), kCancelWhileFlushing);
    ASSERT_TRUE(result.canceled);
    EXPECT_GE(cachedPictureCount(scratch.path()), kCancelWhileFlushing);
    EXPECT_FALSE(analysis::readSourceStamp(scratch.path()));
}

TEST(PipelineCanceledPass, AWorkerGoingAwayStopsWithoutWritingPictures)
{
    ScratchDirectory scratch;
    ASSERT_TRUE(runPass(scratch.path(), kCancelAfterPictures, Canceller::WorkerGoingAway).canceled);
    EXPECT_EQ(cachedPictureCount(scratch.path()), 0U);
    EXPECT_FALSE(analysis::readSourceStamp(scratch.path()));
}

TEST(PipelineCanceledPass, LeavesACompleteCacheOfTheSameContentAsItWas)
{
    ScratchDirectory scratch;
    ASSERT_TRUE(runPass(scratch.path()).succeeded);
    ASSERT_TRUE(analysis::readSourceStamp(scratch.path()));
    ASSERT_TRUE(runPass(scratch.path(), kCancelAfterPictures).canceled);
    EXPECT_TRUE(analysis::readSourceStamp(scratch.path()));
    EXPECT_EQ(cachedPictureCount(scratch.path()), kClipPictures);
}

TEST(PipelineCanceledPass, AFullPassAfterACancelledOneCompletesAndStampsTheCache)
{
    ScratchDirectory scratch;
    ASSERT_TRUE(runPass(scratch.path(), kCancelAfterPictures).canceled);
    const AnalyzerRunResult full = runPass(scratch.path());
    ASSERT_TRUE(full.succeeded) << full.code << ": " << full.detail;
    EXPECT_EQ(full.picturesWithBlocks, kClipPictures);
    EXPECT_EQ(cachedPictureCount(scratch.path()), kClipPictures);
    EXPECT_TRUE(analysis::readSourceStamp(scratch.path()));
}

}  // namespace
}  // namespace vexilo::analyzer
