#include "vexilo/analysis/cache/CacheError.h"

#include <gtest/gtest.h>

namespace vexilo::analysis {
namespace {

TEST(CacheErrorTest, NamesEveryKindAndFallsBackToUnknown)
{
    const std::vector<std::pair<std::uint32_t, std::string>> codes = {
        {0, "analysis_cache.invalid_path"},
        {1, "analysis_cache.io_error"},
        {2, "analysis_cache.invalid_magic"},
        {3, "analysis_cache.unsupported_version"},
        {4, "analysis_cache.unsupported_endianness"},
        {5, "analysis_cache.invalid_header"},
        {6, "analysis_cache.resource_limit"},
        {7, "analysis_cache.checksum_mismatch"},
        {8, "analysis_cache.unsupported_compression"},
        {9, "analysis_cache.malformed_manifest"},
        {10, "analysis_cache.invalid_payload"},
        {11, "analysis_cache.stale"},
        {12, "analysis_cache.cancelled"},
        {13, "analysis_cache.disk_full"},
        {14, "analysis_cache.unknown"},
        {0xffffffffU, "analysis_cache.unknown"},
    };
    for (const auto& [kind, code] : codes) {
        EXPECT_EQ(cacheErrorCode(kind), code);
    }
}

TEST(CacheErrorTest, MakeTakesOverPathAndMessage)
{
    std::filesystem::path path = "/cache/manifest.json";
    std::string message = "cache payload checksum does not match header";
    const CacheError error =
        makeCacheError(CacheErrorKind::checksum_mismatch, std::move(path), std::move(message));
    EXPECT_EQ(error.kind, 7u);
    EXPECT_EQ(error.errorKind(), CacheErrorKind::checksum_mismatch);
    EXPECT_EQ(error.path, "/cache/manifest.json");
    EXPECT_EQ(error.message, "cache payload checksum does not match header");
    EXPECT_TRUE(path.empty());
    EXPECT_TRUE(message.empty());
}

}  // namespace
}  // namespace vexilo::analysis
