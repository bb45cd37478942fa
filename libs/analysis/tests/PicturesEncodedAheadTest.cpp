#include "cache/PicturesEncodedAhead.h"

#include "vexilo/analysis/AnalysisCodec.h"
#include "vexilo/analysis/cache/CacheWriter.h"

#include "CacheTestSupport.h"

#include "vexilo/test/OneCorePin.h"

#include <gtest/gtest.h>

#include <map>
#include <new>
#include <set>

namespace vexilo::analysis {
namespace {

namespace ids = cachetest::ids;
using cachetest::kFingerprintA;
using cachetest::makeAnalysis;
using cachetest::readBytes;
using cachetest::ScratchDirectory;

std::vector<std::uint8_t> serialized(const StreamAnalysis& document)
{
    return std::get<std::vector<std::uint8_t>>(serializeStreamAnalysis(document));
}

// An analysis whose pictures in `withoutBlocks` have none of their own.
StreamAnalysis analysisWithBarePictures(std::uint64_t pictures, const std::set<std::uint64_t>& withoutBlocks)
{
    StreamAnalysis analysis = makeAnalysis(0, false);
    for (std::uint64_t n = 1; n <= pictures; ++n) {
        cachetest::addPicture(analysis, n, !withoutBlocks.contains(n));
    }
    return analysis;
}

// Every file the write left, by its name in the directory, with its bytes.
std::map<std::string, std::vector<std::uint8_t>> cacheFiles(const std::filesystem::path& root)
{
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files.emplace(std::filesystem::relative(entry.path(), root).generic_string(), readBytes(entry.path()));
        }
    }
    return files;
}

TEST(PicturesEncodedAheadTest, EncodersHandTheWriterEachPictureInOrderAsItWouldHaveEncodedItOrLeaveItToIt)
{
    // Pictures without blocks of their own never reach the encode: the writer takes them.
    const StreamAnalysis analysis = analysisWithBarePictures(40, {2, 9, 10, 33});
    const PictureDocumentSplit split(analysis);
    // Every fifth picture is one the encoders leave to the writer.
    const auto encode = [](StreamAnalysis& document) -> std::optional<std::vector<std::uint8_t>> {
        if (document.pictures.front().pictureId.value_or(0) % 5 == 0) {
            return std::nullopt;
        }
        return serialized(document);
    };
    for (const std::size_t encoders : {0u, 1u, 3u}) {
        SCOPED_TRACE(encoders);
        PicturesEncodedAhead ahead(split, encode, encoders);
        StreamAnalysis expected;
        for (std::size_t index = 0; index < split.size(); ++index) {
            SCOPED_TRACE(index);
            split.fill(index, expected);
            EXPECT_EQ(split.hasBlockStructure(index), hasBlockStructure(expected));
            const std::optional<std::vector<std::uint8_t>> taken = ahead.take(index);
            if (encoders == 0 || expected.pictures.front().pictureId.value_or(0) % 5 == 0 ||
                !hasBlockStructure(expected)) {
                EXPECT_FALSE(taken.has_value());
            } else {
                ASSERT_TRUE(taken.has_value());
                EXPECT_EQ(*taken, serialized(expected));
            }
        }
    }
}

TEST(PicturesEncodedAheadTest, AFailedEncodeIsLeftToTheWriterAndAWriterThatStopsEarlyLeavesNoEncoderBehind)
{
    const StreamAnalysis analysis = makeAnalysis(64, true);
    const PictureDocumentSplit split(analysis);
    std::atomic<std::size_t> encoded = 0;
    {
        PicturesEncodedAhead ahead(
            split,
            [&](StreamAnalysis& document) -> std::optional<std::vector<std::uint8_t>> {
                ++encoded;
                if (document.pictures.front().pictureId == 3u) {
                    throw std::bad_alloc();
                }
                return serialized(document);
            },
            3);
        for (std::size_t index = 0; index < 5; ++index) {
            EXPECT_EQ(ahead.take(index).has_value(), index != 2) << index;
        }
    }
    // The encoders went no further than a few pictures past the last one taken.
    EXPECT_LT(encoded.load(), 5u + 3 * 2 + 3);
}

// A limit that holds every picture stripped of its blocks and no picture with them.
std::uint64_t limitBelowBlocks(const StreamAnalysis& analysis)
{
    const PictureDocumentSplit split(analysis);
    std::size_t largestStripped = 0;
    std::size_t smallestWithBlocks = SIZE_MAX;
    StreamAnalysis document;
    for (std::size_t index = 0; index < split.size(); ++index) {
        split.fill(index, document);
        if (hasBlockStructure(document)) {
            smallestWithBlocks = std::min(smallestWithBlocks, serialized(document).size());
        }
        clearBlockStructure(document);
        PictureAnalysisSummary& summary = document.pictures.front();
        summary.completeness = PictureCompleteness::Partial;
        summary.ctuCount.reset();
        summary.cuCount.reset();
        summary.puCount.reset();
        summary.tuCount.reset();
        largestStripped = std::max(largestStripped, serialized(document).size());
    }
    EXPECT_LT(largestStripped, smallestWithBlocks);
    return largestStripped;
}

// Pictures the encoders take on and pictures the writer takes the careful way, interleaved:
// some without blocks of their own take the earlier run's, and under a lowered limit every
// picture loses its blocks, told to the caller in picture order.
TEST(PicturesEncodedAheadTest, AWriteWithEncodersBesideLeavesTheFilesAWriteAloneLeaves)
{
    if (pictureEncodersBesideTheWriter(24) == 0) {
        GTEST_SKIP() << "one core: a write has no encoders beside it to compare with";
    }
    const StreamAnalysis earlier = makeAnalysis(24, true);
    const std::set<std::uint64_t> bare = {3, 7, 8, 15, 24};
    const StreamAnalysis reanalysis = analysisWithBarePictures(24, bare);
    const auto write = [&](const CacheWriteOptions& options) {
        ScratchDirectory directory;
        EXPECT_FALSE(isCacheError(writeAnalysisCache(directory.path(), earlier, {})));
        EXPECT_FALSE(isCacheError(writeAnalysisCache(directory.path(), reanalysis, options)));
        auto files = cacheFiles(directory.path());
        files.erase(std::string(kCacheWriterLockFileName));
        return files;
    };
    for (const std::optional<std::uint64_t> limit : {std::optional<std::uint64_t>{}, std::optional{limitBelowBlocks(reanalysis)}}) {
        SCOPED_TRACE(limit.value_or(0));
        const auto optionsTelling = [&](std::vector<std::uint64_t>& omitted) {
            CacheWriteOptions options;
            options.pictureDocumentLimitBytes = limit;
            options.onPictureBlocksOmitted = [&omitted](StreamAnalysis& document, const OmittedPictureBlocks&) {
                omitted.push_back(document.pictures.front().pictureId.value_or(0));
            };
            return options;
        };
        std::vector<std::uint64_t> omittedAlone;
        std::map<std::string, std::vector<std::uint8_t>> alone;
        {
            const vexilo::test::OneCorePin pin;
            alone = write(optionsTelling(omittedAlone));
        }
        std::vector<std::uint64_t> omittedBeside;
        EXPECT_EQ(write(optionsTelling(omittedBeside)), alone);
        EXPECT_EQ(omittedBeside, omittedAlone);
        EXPECT_EQ(omittedAlone.size(), limit ? 24 - bare.size() : 0u);
        EXPECT_TRUE(std::is_sorted(omittedAlone.begin(), omittedAlone.end()));
    }
}

}  // namespace
}  // namespace vexilo::analysis
