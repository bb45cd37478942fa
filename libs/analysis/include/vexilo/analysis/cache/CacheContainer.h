#pragma once

#include "vexilo/analysis/cache/CacheError.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vexilo::analysis {

inline constexpr std::size_t kCacheContainerHeaderSize = 64;
inline constexpr std::uint32_t kCacheContainerVersion = 3;
inline constexpr std::uint32_t kCacheSchemaVersion = 1;
inline constexpr std::uint32_t kCacheMinimumReaderVersion = 1;
inline constexpr std::uint8_t kCacheLittleEndian = 1;
inline constexpr std::uint64_t kCacheMaxPayloadSize = 536'870'912;
inline constexpr std::uint64_t kCacheMaxFileSize = kCacheMaxPayloadSize + kCacheContainerHeaderSize;

// A magic is seven ASCII characters and a NUL, compared as the little-endian u64 they form.
[[nodiscard]] constexpr std::uint64_t cacheMagicFromText(std::string_view sevenCharacters) noexcept
{
    std::uint64_t magic = 0;
    for (std::size_t index = 0; index < sevenCharacters.size() && index < 7; ++index) {
        magic |= static_cast<std::uint64_t>(static_cast<unsigned char>(sevenCharacters[index]))
                 << (8 * index);
    }
    return magic;
}

inline constexpr std::uint64_t kManifestMagic = cacheMagicFromText("VXMAN28");
inline constexpr std::uint64_t kStreamMetaMagic = cacheMagicFromText("VXMET28");
inline constexpr std::uint64_t kIndexMagic = cacheMagicFromText("VXIDX28");
inline constexpr std::uint64_t kPictureMagic = cacheMagicFromText("VXPIC28");

struct CacheContainerHeader {
    std::uint64_t magic = 0;
    std::uint32_t containerVersion = kCacheContainerVersion;
    std::uint32_t schemaVersion = kCacheSchemaVersion;
    std::uint32_t minimumReaderVersion = kCacheMinimumReaderVersion;
    std::uint8_t endianness = kCacheLittleEndian;
    std::uint16_t headerSize = static_cast<std::uint16_t>(kCacheContainerHeaderSize);
    std::uint32_t compressionFlags = 0;
    std::uint64_t storedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t checksum = 0;

    friend bool operator==(const CacheContainerHeader&, const CacheContainerHeader&) = default;
};

struct CacheFileContents {
    CacheContainerHeader header;
    std::vector<std::uint8_t> payload;
};

inline constexpr std::uint64_t kFnv1a64OffsetBasis = 0xcbf29ce484222325ULL;
inline constexpr std::uint64_t kFnv1a64Prime = 0x100000001b3ULL;

// FNV-1a 64: the payload checksum, and the suffix of temporary file names.
[[nodiscard]] std::uint64_t fnv1a64(std::span<const std::uint8_t> bytes) noexcept;
[[nodiscard]] std::uint64_t fnv1a64(std::string_view text) noexcept;

// The checksum of each payload, into `checksums` (one per payload). Each checksum is one long
// chain of multiplications that leaves the core waiting on the last; the chains of a few
// payloads worked side by side cost little more than one.
void fnv1a64Each(std::span<const std::span<const std::uint8_t>> payloads,
                 std::span<std::uint64_t> checksums) noexcept;

[[nodiscard]] std::array<std::uint8_t, kCacheContainerHeaderSize>
encodeCacheContainerHeader(const CacheContainerHeader& header) noexcept;

// Checks a whole file image against the layout; the payload is bytes 64 to the end.
// The checksum is not compared here (readCacheFile does).
[[nodiscard]] CacheResult<CacheContainerHeader>
decodeCacheContainer(std::span<const std::uint8_t> image, std::uint64_t expectedMagic,
                     const std::filesystem::path& path);

[[nodiscard]] CacheResult<CacheFileContents> readCacheFile(const std::filesystem::path& path,
                                                           std::uint64_t expectedMagic);

// readCacheFile without the checksum, for a reader that compares it (checkPayloadChecksum)
// while it decodes the payload; the payload is not to be trusted before that.
[[nodiscard]] CacheResult<CacheFileContents> readCacheFileUnchecked(const std::filesystem::path& path,
                                                                    std::uint64_t expectedMagic);

// The checksum_mismatch error of `path` when the payload does not match its header's checksum.
[[nodiscard]] OptionalCacheError checkPayloadChecksum(const CacheFileContents& contents,
                                                      const std::filesystem::path& path);

// Writes the container to a temporary name beside the target and renames it over
// the target once it is complete and on disk. `budget` is the running simulated
// disk-full budget of the whole cache write.
[[nodiscard]] CacheResult<std::monostate> writeCacheFile(const std::filesystem::path& target,
                                                         std::uint64_t magic,
                                                         std::span<const std::uint8_t> payload,
                                                         const CacheWriteOptions& options,
                                                         std::optional<std::uint64_t>& budget);

// The same write, with the error as an optional value.
[[nodiscard]] OptionalCacheError writeCacheContainer(const std::filesystem::path& target,
                                                     std::uint64_t magic,
                                                     std::span<const std::uint8_t> payload,
                                                     const CacheWriteOptions& options,
                                                     std::optional<std::uint64_t>& budget);

// The name of the temporary file a write of this payload uses beside the target.
[[nodiscard]] std::filesystem::path cacheTemporaryPath(const std::filesystem::path& target,
                                                       std::uint64_t payloadChecksum);

// Many container files of one cache write, committed together: each is written whole to its
// temporary name without a sync of its own, then one file-system sync makes them all durable
// before they are renamed over their targets and their directory is synced. A file per
// picture would otherwise cost two disk flushes each. Temporary files of a batch that is
// never committed are removed with it.
class StagedCacheFiles {
public:
    StagedCacheFiles() = default;
    StagedCacheFiles(const StagedCacheFiles&) = delete;
    StagedCacheFiles& operator=(const StagedCacheFiles&) = delete;
    ~StagedCacheFiles();

    // The checks and writes of a single container write, up to the commit; errors as there.
    [[nodiscard]] OptionalCacheError stage(const std::filesystem::path& target, std::uint64_t magic,
                                           std::span<const std::uint8_t> payload,
                                           const CacheWriteOptions& options,
                                           std::optional<std::uint64_t>& budget);
    // The same, for a payload whose checksum (fnv1a64) is known.
    [[nodiscard]] OptionalCacheError stage(const std::filesystem::path& target, std::uint64_t magic,
                                           std::span<const std::uint8_t> payload, std::uint64_t checksum,
                                           const CacheWriteOptions& options,
                                           std::optional<std::uint64_t>& budget);

    // Syncs the file system that holds `directory`, then renames every staged file over its
    // target and syncs the directories that changed.
    [[nodiscard]] OptionalCacheError commit(const std::filesystem::path& directory);

private:
    struct Staged {
        std::filesystem::path temporary;
        std::filesystem::path target;
    };
    std::vector<Staged> staged_;
};

// Manifest and index texts travel as container payloads.
[[nodiscard]] inline std::span<const std::uint8_t> asBytes(std::string_view text) noexcept
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace vexilo::analysis
