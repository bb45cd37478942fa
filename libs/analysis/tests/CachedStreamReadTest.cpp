// The stream document of caches written by the real cache writer, and the faults a reader meets.

#include "CacheTestSupport.h"
#include "vexilo/analysis/cache/CacheContainer.h"
#include "vexilo/analysis/cache/CacheReader.h"
#include "vexilo/analysis/cache/CacheWriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace vexilo::analysis {
namespace {

using cachetest::errorOf;
using cachetest::kFingerprintA;
using cachetest::kFingerprintB;
using cachetest::valueOf;

class CachedStreamReadTest : public ::testing::Test {
protected:
    [[nodiscard]] std::filesystem::path directory() const { return scratch_.path() / "cache"; }
    [[nodiscard]] std::filesystem::path streamFile() const { return streamFileOf(directory()); }

    static std::filesystem::path streamFileOf(const std::filesystem::path& directory)
    {
        return directory / kDefaultStreamFileName;
    }

    static CacheManifest writeCache(const std::filesystem::path& directory, std::uint64_t pictureCount,
                                    const std::string& fingerprint = kFingerprintA)
    {
        return valueOf(
            writeAnalysisCache(directory, cachetest::makeAnalysis(pictureCount, true, fingerprint), CacheWriteOptions{}));
    }

    // A container written by a newer writer than this reader.
    static void makeNewerContainer(const std::filesystem::path& file)
    {
        constexpr std::streamoff kContainerVersionOffset = 8;
        const std::uint32_t newer = kCacheContainerVersion + 1;
        std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(stream.is_open()) << file;
        stream.seekp(kContainerVersionOffset);
        for (int byte = 0; byte < 4; ++byte) {
            stream.put(static_cast<char>((newer >> (8 * byte)) & 0xffU));
        }
    }

private:
    cachetest::ScratchDirectory scratch_;
};

TEST_F(CachedStreamReadTest, ReadsTheStreamLevelDocumentWithoutPerPictureStructure)
{
    writeCache(directory(), 3);
    const CacheResult<StreamAnalysis> result = readCachedStream(directory(), kFingerprintA);
    const StreamAnalysis& stream = valueOf(result);
    EXPECT_EQ(stream.sourceFingerprint, kFingerprintA);
    EXPECT_EQ(stream.pictures.size(), 3U);
    EXPECT_EQ(stream.parameterSets.size(), 3U);
    EXPECT_EQ(stream.nalUnits.size(), 4U + 3U) << "parameter sets, the SEI and one slice unit per picture";
    EXPECT_EQ(stream.slices.size(), 3U) << "slices stay in the stream-level document for whole-stream figures";
    EXPECT_TRUE(stream.referencePictures.empty());
    EXPECT_TRUE(stream.ctus.empty());
}

TEST_F(CachedStreamReadTest, StreamDocumentOfAnotherSourceIsStale)
{
    writeCache(directory(), 2);
    const auto other = directory().parent_path() / "other";
    writeCache(other, 2, kFingerprintB);
    std::filesystem::copy_file(streamFileOf(other), streamFile(), std::filesystem::copy_options::overwrite_existing);

    const CacheError error = errorOf(readCachedStream(directory(), std::nullopt));
    EXPECT_EQ(error.errorKind(), CacheErrorKind::stale);
    EXPECT_EQ(error.message, kStreamFingerprintStale);
    EXPECT_EQ(error.path, streamFile());
}

TEST_F(CachedStreamReadTest, ReportsTheFaultsOfTheDirectoryAndTheFile)
{
    EXPECT_EQ(errorOf(readCachedStream({}, std::nullopt)).errorKind(), CacheErrorKind::invalid_path);
    EXPECT_EQ(errorOf(readCachedStream(directory(), std::nullopt)).errorKind(), CacheErrorKind::io_error)
        << "no cache at all";

    writeCache(directory(), 1);
    EXPECT_EQ(errorOf(readCachedStream(directory(), kFingerprintB)).errorKind(), CacheErrorKind::stale)
        << "the manifest names another source than expected";

    makeNewerContainer(streamFile());
    EXPECT_EQ(errorOf(readCachedStream(directory(), std::nullopt)).errorKind(), CacheErrorKind::unsupported_version);

    std::filesystem::remove(streamFile());
    const CacheError missing = errorOf(readCachedStream(directory(), std::nullopt));
    EXPECT_EQ(missing.errorKind(), CacheErrorKind::io_error);
    EXPECT_EQ(missing.path, streamFile());
}

TEST_F(CachedStreamReadTest, AnUnsafeStreamFileNameInTheManifestIsRefused)
{
    CacheManifest manifest = writeCache(directory(), 1);
    manifest.streamPath = "../stream.vxmeta";
    const CacheError error = errorOf(readCachedStream(directory(), manifest));
    EXPECT_EQ(error.errorKind(), CacheErrorKind::invalid_path);
}

}  // namespace
}  // namespace vexilo::analysis
