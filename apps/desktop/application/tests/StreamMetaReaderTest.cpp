// The stream document of caches written by the real cache writer, and the faults a reader meets.

#include "AnalysisCacheTestSupport.h"
#include "vexilo/analysis/cache/CacheReader.h"
#include "vexilo/application/StreamMetaReader.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace vexilo::application {
namespace {

using analysis::CacheError;
using analysis::CacheErrorKind;
using analysis::StreamAnalysis;
namespace cachetest = analysis::cachetest;

class StreamMetaReaderTest : public ::testing::Test {
protected:
    std::filesystem::path directory() const { return std::filesystem::path(root_.path().toStdString()) / "cache"; }

    static CacheError expectError(const analysis::CacheResult<StreamAnalysis>& result)
    {
        EXPECT_TRUE(analysis::isCacheError(result));
        return analysis::isCacheError(result) ? std::get<CacheError>(result) : CacheError{};
    }

private:
    QTemporaryDir root_;
};

TEST_F(StreamMetaReaderTest, ReadsTheStreamLevelDocumentWithoutPerPictureStructure)
{
    test::writeCache(directory(), 3);
    const auto result = readCachedStreamMeta(directory(), cachetest::kFingerprintA);
    ASSERT_FALSE(analysis::isCacheError(result)) << std::get<CacheError>(result).message;
    const auto& stream = std::get<StreamAnalysis>(result);
    EXPECT_EQ(stream.sourceFingerprint, cachetest::kFingerprintA);
    EXPECT_EQ(stream.pictures.size(), 3U);
    EXPECT_EQ(stream.parameterSets.size(), 3U);
    EXPECT_EQ(stream.nalUnits.size(), 4U + 3U) << "parameter sets, the SEI and one slice unit per picture";
    EXPECT_EQ(stream.slices.size(), 3U) << "slices stay in the stream-level document for whole-stream figures";
    EXPECT_TRUE(stream.referencePictures.empty());
    EXPECT_TRUE(stream.ctus.empty());
}

TEST_F(StreamMetaReaderTest, StreamDocumentOfAnotherSourceIsStale)
{
    test::writeCache(directory(), 2);
    const auto other = directory().parent_path() / "other";
    test::writeCache(other, 2, cachetest::kFingerprintB);
    std::filesystem::copy_file(test::streamFile(other), test::streamFile(directory()),
                               std::filesystem::copy_options::overwrite_existing);

    const CacheError error = expectError(readCachedStreamMeta(directory(), std::nullopt));
    EXPECT_EQ(error.errorKind(), CacheErrorKind::stale);
    EXPECT_EQ(error.message, kStreamFingerprintStale);
    EXPECT_EQ(error.path, test::streamFile(directory()));
}

TEST_F(StreamMetaReaderTest, ReportsTheFaultsOfTheDirectoryAndTheFile)
{
    EXPECT_EQ(expectError(readCachedStreamMeta({}, std::nullopt)).errorKind(), CacheErrorKind::invalid_path);
    EXPECT_EQ(expectError(readCachedStreamMeta(directory(), std::nullopt)).errorKind(), CacheErrorKind::io_error)
        << "no cache at all";

    test::writeCache(directory(), 1);
    EXPECT_EQ(expectError(readCachedStreamMeta(directory(), cachetest::kFingerprintB)).errorKind(),
              CacheErrorKind::stale)
        << "the manifest names another source than expected";

    test::makeNewerContainer(test::streamFile(directory()));
    EXPECT_EQ(expectError(readCachedStreamMeta(directory(), std::nullopt)).errorKind(),
              CacheErrorKind::unsupported_version);

    std::filesystem::remove(test::streamFile(directory()));
    const CacheError missing = expectError(readCachedStreamMeta(directory(), std::nullopt));
    EXPECT_EQ(missing.errorKind(), CacheErrorKind::io_error);
    EXPECT_EQ(missing.path, test::streamFile(directory()));
}

TEST_F(StreamMetaReaderTest, AnUnsafeStreamFileNameInTheManifestIsRefused)
{
    auto manifest = test::writeCache(directory(), 1);
    manifest.streamPath = "../stream.vxmeta";
    const CacheError error = expectError(readCachedStreamMeta(directory(), manifest));
    EXPECT_EQ(error.errorKind(), CacheErrorKind::invalid_path);
}

}  // namespace
}  // namespace vexilo::application
