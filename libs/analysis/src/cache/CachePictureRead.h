#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheError.h"
#include "vexilo/analysis/cache/CacheManifest.h"

#include <filesystem>

namespace vexilo::analysis {

// readCachedPicture against a manifest the caller opened already, so that a
// writer re-using a whole earlier cache opens its manifest once, not per picture.
[[nodiscard]] CacheResult<StreamAnalysis>
readCachedPictureFromManifest(const std::filesystem::path& directory, const CacheManifest& manifest,
                              const ManifestPictureEntry& requested);

}  // namespace vexilo::analysis
