#pragma once

#include "vexilo/analysis/AnalysisCodec.h"
#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheError.h"
#include "vexilo/analysis/cache/CacheManifest.h"

#include <filesystem>
#include <optional>
#include <string>

namespace vexilo::analysis {

inline constexpr const char* kStreamFingerprintStale = "stream fingerprint does not match manifest";

// Opens the directory's manifest and checks its container, text, paths and, when
// given, its source fingerprint. Never modifies the directory.
[[nodiscard]] CacheResult<CacheManifest>
openAnalysisCache(const std::filesystem::path& directory,
                  const std::optional<std::string>& expectedFingerprint = std::nullopt);

// Reads one picture document after re-opening the manifest, and checks that it
// belongs to the manifest's source and holds exactly the requested picture.
[[nodiscard]] CacheResult<StreamAnalysis>
readCachedPicture(const std::filesystem::path& directory, const ManifestPictureEntry& requested,
                  const std::optional<std::string>& expectedFingerprint = std::nullopt);

// readCachedPicture against a manifest the caller opened already, so that a reader of many
// pictures opens the manifest once, not per picture. Without blocks, the picture's CTU, CU,
// PU, TU and motion vector records are left unread.
[[nodiscard]] CacheResult<StreamAnalysis>
readCachedPictureFromManifest(const std::filesystem::path& directory, const CacheManifest& manifest,
                              const ManifestPictureEntry& requested,
                              AnalysisReadExtent extent = AnalysisReadExtent::Whole);

// The stream-level document (parameter sets, NAL units, SEI, picture summaries) after opening
// the manifest, checked against it and, when given, against the expected source.
[[nodiscard]] CacheResult<StreamAnalysis>
readCachedStream(const std::filesystem::path& directory,
                 const std::optional<std::string>& expectedFingerprint = std::nullopt);

// The same read against a manifest the caller opened already.
[[nodiscard]] CacheResult<StreamAnalysis> readCachedStream(const std::filesystem::path& directory,
                                                           const CacheManifest& manifest);

}  // namespace vexilo::analysis
