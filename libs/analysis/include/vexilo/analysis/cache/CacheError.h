#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>

namespace vexilo::analysis {

struct StreamAnalysis;
struct OmittedPictureBlocks;

// What a cache operation failed on. Stored as a plain number so that a kind
// received from elsewhere survives even when it is outside the known range.
enum class CacheErrorKind : std::uint32_t {
    invalid_path = 0,
    io_error = 1,
    invalid_magic = 2,
    unsupported_version = 3,
    unsupported_endianness = 4,
    invalid_header = 5,
    resource_limit = 6,
    checksum_mismatch = 7,
    unsupported_compression = 8,
    malformed_manifest = 9,
    invalid_payload = 10,
    stale = 11,
    cancelled = 12,
    disk_full = 13,
};

// The error value of every cache operation: what failed, on which file, and the
// fixed English text of the failure (sometimes followed by a system text).
struct CacheError {
    std::uint32_t kind = static_cast<std::uint32_t>(CacheErrorKind::io_error);
    std::filesystem::path path;
    std::string message;

    [[nodiscard]] CacheErrorKind errorKind() const noexcept
    {
        return static_cast<CacheErrorKind>(kind);
    }
};

// Either the value (first alternative) or the error of a cache operation.
template <typename T> using CacheResult = std::variant<T, CacheError>;

// Empty on success.
using OptionalCacheError = std::optional<CacheError>;

// Builds an error, taking over both the path and the message.
[[nodiscard]] CacheError makeCacheError(CacheErrorKind kind, std::filesystem::path&& path,
                                        std::string&& message);
[[nodiscard]] CacheError makeCacheError(std::uint32_t kind, std::filesystem::path&& path,
                                        std::string&& message);

// The kind's name ("stale"), or "unknown" for numbers outside 0 to 13.
[[nodiscard]] std::string cacheErrorKindName(std::uint32_t kind);

// The machine code shown to users: "analysis_cache." followed by the kind's name.
[[nodiscard]] std::string cacheErrorCode(std::uint32_t kind);

// The options of one cache write.
struct CacheWriteOptions {
    // No compressor is linked, so asking for one fails the write.
    bool compress = false;
    // Asked at the cancellation points; may be empty.
    std::function<bool()> isCancelled;
    // Bytes that may still be written before a simulated disk-full failure,
    // shared by every file of one cache write. Only tests set it.
    std::optional<std::uint64_t> simulatedDiskFullBytes;
    // Largest picture document payload; absent means the container's own limit, and a
    // larger value is held to it. Only tests lower it.
    std::optional<std::uint64_t> pictureDocumentLimitBytes;
    // Called for a picture whose document would not fit, after its block structure was
    // taken out and its summary marked partial, so that the caller can say why in the
    // picture's own document. May be empty.
    std::function<void(StreamAnalysis& pictureDocument, const OmittedPictureBlocks& omitted)>
        onPictureBlocksOmitted;
    // The caller validated the whole document, so the picture documents split from it are
    // written without being validated again; one merged with cached blocks or stripped of
    // its own still is.
    bool documentValidated = false;
};

[[nodiscard]] inline bool isCancellationRequested(const CacheWriteOptions& options)
{
    return options.isCancelled && options.isCancelled();
}

template <typename T> [[nodiscard]] bool isCacheError(const CacheResult<T>& result) noexcept
{
    return std::holds_alternative<CacheError>(result);
}

}  // namespace vexilo::analysis
