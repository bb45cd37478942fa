#pragma once

// The one way the cache's parts name a failure and the file it happened at.

#include "vexilo/analysis/cache/CacheError.h"

#include <filesystem>
#include <string>
#include <utility>

namespace vexilo::analysis {

inline CacheError errorAt(CacheErrorKind kind, const std::filesystem::path& path, std::string message)
{
    return makeCacheError(kind, std::filesystem::path(path), std::move(message));
}

}  // namespace vexilo::analysis
