#pragma once

#include "vexilo/analysis/cache/CacheError.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vexilo::analysis {

// Lies beside the manifest and is not part of it, so caches written before it existed stay
// readable; they are only analysed once more before they are reused.
inline constexpr std::string_view kSourceStampFileName = "source.stamp";

// What the source file looked like when its cache was written: its size and modification
// time are enough to tell that it has not changed since, without hashing a large file again.
struct SourceStamp {
    std::uint64_t sizeBytes = 0;
    std::int64_t modifiedNanoseconds = 0;
    // The fingerprint the analysis of that file computed ("sha256:..."); empty when unknown.
    std::string sourceFingerprint;
};

// Size and modification time of a regular file; empty when it cannot be examined.
[[nodiscard]] std::optional<SourceStamp> statSourceFile(const std::filesystem::path& source);

// True when both describe the same file state (the fingerprint is not compared).
[[nodiscard]] bool sameFileState(const SourceStamp& first, const SourceStamp& second) noexcept;

// Empty when the directory has no stamp or one that does not parse.
[[nodiscard]] std::optional<SourceStamp> readSourceStamp(const std::filesystem::path& directory);

// Replaces the directory's stamp whole (written aside, then renamed over it).
[[nodiscard]] OptionalCacheError writeSourceStamp(const std::filesystem::path& directory,
                                                  const SourceStamp& stamp);

// Takes the stamp away, so that the directory no longer counts as the analysis of its source;
// a directory without one is left as it is.
void removeSourceStamp(const std::filesystem::path& directory);

// The fingerprint of the stamp when the source still has the stamped size and time.
[[nodiscard]] std::optional<std::string> stampedFingerprintIfUnchanged(const std::filesystem::path& directory,
                                                                       const std::filesystem::path& source);

}  // namespace vexilo::analysis
