#pragma once

#include "vexilo/analysis/cache/CacheError.h"

#include <filesystem>

namespace vexilo::analysis {

struct CacheManifest;

// False for an empty path, a rooted one (drive, network prefix or leading
// separator) and one with a "." or ".." element. Both "/" and "\" separate
// elements here, so a manifest is judged the same on every platform.
[[nodiscard]] bool isSafeRelativePath(const std::filesystem::path& path);

// root / rel when rel is safe, else invalid_path.
[[nodiscard]] CacheResult<std::filesystem::path>
resolveCacheRelativePath(const std::filesystem::path& root, const std::filesystem::path& rel);

// Every path of the manifest must be safe, and every picture must lie directly in
// the picture directory with the ".vxpic" extension. Empty when all are acceptable.
[[nodiscard]] OptionalCacheError validateManifestPicturePath(const std::filesystem::path& root,
                                                             const CacheManifest& manifest);

}  // namespace vexilo::analysis
