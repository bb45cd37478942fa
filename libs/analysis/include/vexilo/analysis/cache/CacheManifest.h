#pragma once

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/cache/CacheError.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexilo::analysis {

struct StreamAnalysis;

inline constexpr std::string_view kManifestFileName = "manifest.json";
inline constexpr std::string_view kDefaultStreamFileName = "stream.vxmeta";
inline constexpr std::string_view kDefaultIndexFileName = "index.vxidx";
inline constexpr std::string_view kDefaultPicturesDirName = "pictures";
inline constexpr std::string_view kPictureFileExtension = ".vxpic";
inline constexpr std::uint64_t kManifestMaxPictureCount = 100'000'000;

struct ManifestPictureEntry {
    StableId stableId;
    std::filesystem::path path;

    friend bool operator==(const ManifestPictureEntry&, const ManifestPictureEntry&) = default;
};

// The table of contents and commit record of one analysis cache directory.
struct CacheManifest {
    std::uint32_t containerVersion = 3;
    std::uint32_t schemaVersion = 1;
    std::uint32_t minimumReaderVersion = 1;
    std::string sourceFingerprint;
    std::filesystem::path streamPath{std::string(kDefaultStreamFileName)};
    std::filesystem::path indexPath{std::string(kDefaultIndexFileName)};
    std::filesystem::path picturesDir{std::string(kDefaultPicturesDirName)};
    std::vector<ManifestPictureEntry> pictures;

    CacheManifest() = default;
    friend bool operator==(const CacheManifest&, const CacheManifest&) = default;
};

// "<16 hex of high>-<16 hex of low>.vxpic".
[[nodiscard]] std::string pictureCacheFileName(const StableId& id);

// One entry per picture summary, in document order.
[[nodiscard]] CacheManifest buildCacheManifest(const StreamAnalysis& analysis);

[[nodiscard]] std::string serializeManifestJson(const CacheManifest& manifest);

// The index names the counts of the whole analysis, before it is split.
[[nodiscard]] std::string serializeIndexJson(const StreamAnalysis& analysis,
                                             const CacheManifest& manifest);

// The blocks of an analysis whose pictures were made one at a time, so that the stream-level
// document never held them all.
struct IndexBlockCounts {
    std::uint64_t ctus = 0;
    std::uint64_t cus = 0;
    std::uint64_t pus = 0;
    std::uint64_t tus = 0;
};

[[nodiscard]] std::string serializeIndexJson(const StreamAnalysis& analysis, const CacheManifest& manifest,
                                             const IndexBlockCounts& blocks);

// Escapes only TAB, LF, CR, the double quote and the backslash.
[[nodiscard]] std::string escapeJsonString(std::string_view text);

// Parses the manifest text. `manifestPath` is used only in errors.
[[nodiscard]] CacheResult<CacheManifest>
parseManifestJson(std::string_view text, const std::filesystem::path& manifestPath);

// The first "key": "value" anywhere in the text; the value raw, without unescaping.
[[nodiscard]] std::optional<std::string> extractJsonStringField(std::string_view text,
                                                                std::string_view key);

// The first "key": digits anywhere in the text; absent when it does not fit 64 bits.
[[nodiscard]] std::optional<std::uint64_t> extractJsonNumberField(std::string_view text,
                                                                  std::string_view key);

}  // namespace vexilo::analysis
