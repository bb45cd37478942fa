#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheError.h"
#include "vexilo/analysis/cache/CacheReader.h"

#include <filesystem>
#include <optional>
#include <string>

namespace vexilo::application {

// The stream-level document of a cache directory, checked against the manifest's source: the
// desktop's name for the cache reader's own read, which sits beside its picture read.
[[nodiscard]] inline analysis::CacheResult<analysis::StreamAnalysis>
readCachedStreamMeta(const std::filesystem::path& cacheDirectory,
                     const std::optional<std::string>& expectedSourceFingerprint)
{
    return analysis::readCachedStream(cacheDirectory, expectedSourceFingerprint);
}

}  // namespace vexilo::application
