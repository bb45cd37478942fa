#include "vexilo/analysis/cache/CacheReader.h"
#include "vexilo/analysis/cache/CacheWriter.h"

#include "CacheTestDocuments.h"
#include "CacheTestSupport.h"

#include <gtest/gtest.h>

namespace vexilo::analysis {
namespace {

using cachetest::errorOf;
using cachetest::kFingerprintB;
using cachetest::makeAnalysis;
using cachetest::readBytes;
using cachetest::ScratchDirectory;
using cachetest::valueOf;
using Kind = CacheErrorKind;

StreamAnalysis cachedPicture(const std::filesystem::path& directory, const CacheManifest& manifest, std::size_t index)
{
    return valueOf(readCachedPicture(directory, manifest.pictures[index]));
}

// A run that stopped after the second of four pictures, which it analysed with blocks.
StreamAnalysis firstTwoPicturesWithBlocks()
{
    return makeAnalysis(2, true);
}

TEST(PictureCacheUpdateTest, ReplacesOnlyTheAnalysedPicturesFile)
{
    ScratchDirectory scratch;
    const CacheManifest manifest = valueOf(writeAnalysisCache(scratch.path(), makeAnalysis(4, false), {}));
    const auto streamBefore = readBytes(scratch.path() / manifest.streamPath);
    const auto manifestBefore = readBytes(scratch.path() / "manifest.json");
    const auto firstBefore = readBytes(scratch.path() / manifest.pictures[0].path);
    const auto lastBefore = readBytes(scratch.path() / manifest.pictures[3].path);

    const CacheManifest inForce =
        valueOf(writePictureIntoCache(scratch.path(), firstTwoPicturesWithBlocks(), 2, {}));
    EXPECT_EQ(inForce.pictures.size(), 4U);

    const StreamAnalysis second = cachedPicture(scratch.path(), manifest, 1);
    EXPECT_FALSE(second.ctus.empty());
    EXPECT_FALSE(second.cus.empty());
    EXPECT_EQ(second.pictures.front().pictureId, std::optional<std::uint64_t>(2));
    EXPECT_EQ(readBytes(scratch.path() / manifest.streamPath), streamBefore);
    EXPECT_EQ(readBytes(scratch.path() / "manifest.json"), manifestBefore);
    EXPECT_EQ(readBytes(scratch.path() / manifest.pictures[0].path), firstBefore)
        << "the other pictures of the partial run are not written";
    EXPECT_EQ(readBytes(scratch.path() / manifest.pictures[3].path), lastBefore);
}

TEST(PictureCacheUpdateTest, APictureWithoutBlocksLeavesTheCachedOneAsItIs)
{
    ScratchDirectory scratch;
    const CacheManifest manifest = valueOf(writeAnalysisCache(scratch.path(), makeAnalysis(3, true), {}));
    const auto before = readBytes(scratch.path() / manifest.pictures[1].path);
    static_cast<void>(valueOf(writePictureIntoCache(scratch.path(), makeAnalysis(2, false), 2, {})));
    EXPECT_EQ(readBytes(scratch.path() / manifest.pictures[1].path), before);
}

TEST(PictureCacheUpdateTest, RefusesWhatTheCacheCannotTake)
{
    ScratchDirectory scratch;
    EXPECT_EQ(errorOf(writePictureIntoCache(scratch.path(), makeAnalysis(2, true), 2, {})).kind,
              static_cast<std::uint32_t>(Kind::io_error))
        << "no manifest to put the picture under";

    static_cast<void>(valueOf(writeAnalysisCache(scratch.path(), makeAnalysis(3, false), {})));
    EXPECT_EQ(errorOf(writePictureIntoCache(scratch.path(), makeAnalysis(2, true, kFingerprintB), 2, {})).kind,
              static_cast<std::uint32_t>(Kind::stale))
        << "a cache of other content";
    EXPECT_EQ(errorOf(writePictureIntoCache(scratch.path(), makeAnalysis(2, true), 7, {})).kind,
              static_cast<std::uint32_t>(Kind::invalid_payload))
        << "the run never reached that picture";
    EXPECT_EQ(errorOf(writePictureIntoCache({}, makeAnalysis(2, true), 2, {})).kind,
              static_cast<std::uint32_t>(Kind::invalid_path));
}

}  // namespace
}  // namespace vexilo::analysis
