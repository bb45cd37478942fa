#include "vexilo/analysis/cache/CacheError.h"

#include <array>
#include <string_view>
#include <utility>

namespace vexilo::analysis {
namespace {

constexpr std::string_view kErrorCodePrefix = "analysis_cache.";
constexpr std::string_view kUnknownKindName = "unknown";

// Indexed by the kind's number.
constexpr std::array<std::string_view, 14> kKindNames = {
    "invalid_path",
    "io_error",
    "invalid_magic",
    "unsupported_version",
    "unsupported_endianness",
    "invalid_header",
    "resource_limit",
    "checksum_mismatch",
    "unsupported_compression",
    "malformed_manifest",
    "invalid_payload",
    "stale",
    "cancelled",
    "disk_full",
};

}  // namespace

CacheError makeCacheError(CacheErrorKind kind, std::filesystem::path&& path, std::string&& message)
{
    return makeCacheError(static_cast<std::uint32_t>(kind), std::move(path), std::move(message));
}

CacheError makeCacheError(std::uint32_t kind, std::filesystem::path&& path, std::string&& message)
{
    CacheError error;
    error.kind = kind;
    error.path = std::move(path);
    error.message = std::move(message);
    // Moving from a string may leave it untouched; the sources are promised empty.
    path.clear();
    message.clear();
    return error;
}

std::string cacheErrorKindName(std::uint32_t kind)
{
    return std::string(kind < kKindNames.size() ? kKindNames[kind] : kUnknownKindName);
}

std::string cacheErrorCode(std::uint32_t kind)
{
    return std::string(kErrorCodePrefix) + cacheErrorKindName(kind);
}

}  // namespace vexilo::analysis
