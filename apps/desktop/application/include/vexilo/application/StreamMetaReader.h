#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheError.h"
#include "vexilo/analysis/cache/CacheManifest.h"

#include <filesystem>
#include <optional>
#include <string>

namespace vexilo::application {

inline constexpr const char* kStreamFingerprintStale = "stream fingerprint does not match manifest";

// The stream-level document of a cache directory, checked against the manifest's source.
[[nodiscard]] analysis::CacheResult<analysis::StreamAnalysis>
readCachedStreamMeta(const std::filesystem::path& cacheDirectory,
                     const std::optional<std::string>& expectedSourceFingerprint);

// The same read against a manifest the caller opened already.
[[nodiscard]] analysis::CacheResult<analysis::StreamAnalysis>
readCachedStreamMeta(const std::filesystem::path& cacheDirectory, const analysis::CacheManifest& manifest);

}  // namespace vexilo::application
