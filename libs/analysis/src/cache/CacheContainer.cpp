#include "vexilo/analysis/cache/CacheContainer.h"

#include "cache/CacheErrorAt.h"
#include "cache/CacheFileSystem.h"
#include "cache/CacheOutput.h"
#include "cache/SharedCacheTexts.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

namespace vexilo::analysis {
namespace {

// Byte offsets of the header fields.
constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kContainerVersionOffset = 8;
constexpr std::size_t kSchemaVersionOffset = 12;
constexpr std::size_t kMinimumReaderVersionOffset = 16;
constexpr std::size_t kEndiannessOffset = 20;
constexpr std::size_t kHeaderSizeOffset = 23;
constexpr std::size_t kCompressionFlagsOffset = 25;
constexpr std::size_t kStoredSizeOffset = 29;
constexpr std::size_t kUncompressedSizeOffset = 37;
constexpr std::size_t kChecksumOffset = 45;
// A staged file this large starts its write-back at once; for smaller ones the request costs
// more than waiting for the commit's sync, which writes thousands of small files together.
constexpr std::size_t kBytesWorthEarlyWriteback = std::size_t{256} << 10;

constexpr std::uint32_t kHighestReadableSchemaVersion = 1;

constexpr const char* kHeaderTruncated = "cache container header is truncated";
constexpr const char* kMagicMismatch = "cache container magic mismatch";
constexpr const char* kVersionUnsupported =
    "cache container version is not supported by this reader";
constexpr const char* kEndiannessUnsupported = "cache container endianness is not supported";
constexpr const char* kHeaderSizeMismatch = "cache container header size mismatch";
constexpr const char* kCompressionFlagsUnsupported =
    "cache container uses unsupported compression flags";
constexpr const char* kPayloadTooLarge = "cache payload exceeds configured limit";
constexpr const char* kCompressedPayloadUnsupported =
    "compressed cache payloads are not supported by this build";
constexpr const char* kLengthMismatch = "cache container length does not match header payload size";
constexpr const char* kFileNotReadable = "cache file is not readable: ";
constexpr const char* kFileShorterThanHeader = "cache file is shorter than header";
constexpr const char* kFileTooLarge = "cache file exceeds configured limit";
constexpr const char* kFileNotOpened = "cache file could not be opened for reading";
constexpr const char* kFileNotFullyRead = "cache file could not be fully read";
constexpr const char* kChecksumMismatch = "cache payload checksum does not match header";
constexpr const char* kCancelledBeforeWrite = "cache write cancelled before file write";
constexpr const char* kNoCompressor = "cache compression was requested but no compressor is linked";
constexpr const char* kTemporaryNotOpened = "temporary cache file could not be opened";
constexpr const char* kFlushFailed = "temporary cache file flush failed";
constexpr const char* kCancelledBeforeCommit = "cache write cancelled before commit";
constexpr const char* kRenameFailed =
    "temporary cache file could not be atomically renamed: win32 error ";
constexpr const char* kDiskFull = "simulated disk full while writing cache file";
constexpr const char* kWriteFailed = "cache file write failed";

constexpr const char* kTemporaryInfix = ".partial.";
constexpr int kTemporarySuffixDigits = 16;

template <typename Unsigned>
void storeLittleEndian(std::span<std::uint8_t> destination, std::size_t offset,
                       Unsigned value) noexcept
{
    for (std::size_t index = 0; index < sizeof(Unsigned); ++index) {
        destination[offset + index] =
            static_cast<std::uint8_t>((static_cast<std::uint64_t>(value) >> (8 * index)) & 0xffU);
    }
}

template <typename Unsigned>
Unsigned loadLittleEndian(std::span<const std::uint8_t> source, std::size_t offset) noexcept
{
    Unsigned value = 0;
    for (std::size_t index = 0; index < sizeof(Unsigned); ++index) {
        value = static_cast<Unsigned>(
            value | (static_cast<Unsigned>(source[offset + index]) << (8 * index)));
    }
    return value;
}

CacheContainerHeader parseHeaderFields(std::span<const std::uint8_t> image) noexcept
{
    CacheContainerHeader header;
    header.magic = loadLittleEndian<std::uint64_t>(image, kMagicOffset);
    header.containerVersion = loadLittleEndian<std::uint32_t>(image, kContainerVersionOffset);
    header.schemaVersion = loadLittleEndian<std::uint32_t>(image, kSchemaVersionOffset);
    header.minimumReaderVersion =
        loadLittleEndian<std::uint32_t>(image, kMinimumReaderVersionOffset);
    header.endianness = loadLittleEndian<std::uint8_t>(image, kEndiannessOffset);
    header.headerSize = loadLittleEndian<std::uint16_t>(image, kHeaderSizeOffset);
    header.compressionFlags = loadLittleEndian<std::uint32_t>(image, kCompressionFlagsOffset);
    header.storedSize = loadLittleEndian<std::uint64_t>(image, kStoredSizeOffset);
    header.uncompressedSize = loadLittleEndian<std::uint64_t>(image, kUncompressedSizeOffset);
    header.checksum = loadLittleEndian<std::uint64_t>(image, kChecksumOffset);
    return header;
}

bool isReadableVersion(const CacheContainerHeader& header) noexcept
{
    return header.containerVersion == kCacheContainerVersion &&
           header.minimumReaderVersion <= kCacheContainerVersion &&
           header.schemaVersion <= kHighestReadableSchemaVersion;
}

// The first failing check of the layout, in the order readers have always applied them.
std::optional<std::pair<CacheErrorKind, const char*>>
firstHeaderViolation(const CacheContainerHeader& header, std::uint64_t expectedMagic,
                     std::uint64_t imageSize) noexcept
{
    using Kind = CacheErrorKind;
    if (header.magic != expectedMagic) {
        return std::pair{Kind::invalid_magic, kMagicMismatch};
    }
    if (!isReadableVersion(header)) {
        return std::pair{Kind::unsupported_version, kVersionUnsupported};
    }
    if (header.endianness != kCacheLittleEndian) {
        return std::pair{Kind::unsupported_endianness, kEndiannessUnsupported};
    }
    if (header.headerSize != kCacheContainerHeaderSize) {
        return std::pair{Kind::invalid_header, kHeaderSizeMismatch};
    }
    if (header.compressionFlags != 0) {
        return std::pair{Kind::unsupported_compression, kCompressionFlagsUnsupported};
    }
    if (header.storedSize > kCacheMaxPayloadSize ||
        header.uncompressedSize > kCacheMaxPayloadSize) {
        return std::pair{Kind::resource_limit, kPayloadTooLarge};
    }
    if (header.storedSize != header.uncompressedSize) {
        return std::pair{Kind::unsupported_compression, kCompressedPayloadUnsupported};
    }
    // Both operands are bounded by the limit above, so the sum cannot wrap.
    if (imageSize != kCacheContainerHeaderSize + header.storedSize) {
        return std::pair{Kind::invalid_header, kLengthMismatch};
    }
    return std::nullopt;
}

CacheError readErrorFor(const cachefs::WholeFileRead& read, const std::filesystem::path& path)
{
    using Status = cachefs::WholeFileRead::Status;
    std::filesystem::path errorPath = path;
    switch (read.status) {
    case Status::not_readable:
        return makeCacheError(CacheErrorKind::io_error, std::move(errorPath),
                              kFileNotReadable + cachefs::systemErrorText(read.errorNumber));
    case Status::too_short:
        return makeCacheError(CacheErrorKind::invalid_header, std::move(errorPath),
                              kFileShorterThanHeader);
    case Status::too_large:
        return makeCacheError(CacheErrorKind::resource_limit, std::move(errorPath), kFileTooLarge);
    case Status::open_failed:
        return makeCacheError(CacheErrorKind::io_error, std::move(errorPath), kFileNotOpened);
    case Status::short_read:
    case Status::ok: break;
    }
    return makeCacheError(CacheErrorKind::io_error, std::move(errorPath), kFileNotFullyRead);
}

CacheContainerHeader headerForPayload(std::uint64_t magic, std::span<const std::uint8_t> payload,
                                      std::uint64_t checksum) noexcept
{
    CacheContainerHeader header;
    header.magic = magic;
    header.storedSize = payload.size();
    header.uncompressedSize = payload.size();
    header.checksum = checksum;
    return header;
}

// A durable write syncs and renames each file on its own; a staged one leaves the complete
// temporary file for a batch to sync and rename with others.
enum class CommitMode { durable, staged };

// Steps of the write once the temporary file exists; the caller deletes it on error.
OptionalCacheError
writeAndCommitTemporary(cachefs::OutputFile& file, const std::filesystem::path& temporary,
                        const std::filesystem::path& target, std::span<const std::uint8_t> header,
                        std::span<const std::uint8_t> payload, const CacheWriteOptions& options,
                        std::optional<std::uint64_t>& budget, CommitMode mode)
{
    if (auto error = writeWithDiskFullHook(file, temporary, header, payload, budget)) {
        return error;
    }
    if (mode == CommitMode::durable && !file.flush()) {
        return errorAt(CacheErrorKind::io_error, temporary, kFlushFailed);
    }
    if (mode == CommitMode::staged && payload.size() >= kBytesWorthEarlyWriteback) {
        // The disk writes the staged files while the rest are made, instead of all of
        // them at the commit's sync.
        file.startWriteback();
    }
    file.close();
    if (isCancellationRequested(options)) {
        return errorAt(CacheErrorKind::cancelled, target, kCancelledBeforeCommit);
    }
    if (mode == CommitMode::staged) {
        return std::nullopt;
    }
    if (const int renameError = cachefs::replaceFileDurably(temporary, target); renameError != 0) {
        return errorAt(CacheErrorKind::io_error, target,
                       kRenameFailed + std::to_string(renameError));
    }
    return std::nullopt;
}

}  // namespace

std::uint64_t fnv1a64(std::span<const std::uint8_t> bytes) noexcept
{
    std::uint64_t hash = kFnv1a64OffsetBasis;
    for (const std::uint8_t value : bytes) {
        hash ^= value;
        hash *= kFnv1a64Prime;
    }
    return hash;
}

std::uint64_t fnv1a64(std::string_view text) noexcept
{
    return fnv1a64(asBytes(text));
}

namespace {

std::uint64_t continueFnv1a64(std::uint64_t hash, std::span<const std::uint8_t> bytes) noexcept
{
    for (const std::uint8_t value : bytes) {
        hash ^= value;
        hash *= kFnv1a64Prime;
    }
    return hash;
}

constexpr std::size_t kChecksumLanes = 4;

// Up to four payloads at once over the length they share; a lane without a payload of its
// own repeats the first one, and its result is dropped.
void fnv1a64Lanes(std::span<const std::span<const std::uint8_t>> payloads, std::span<std::uint64_t> checksums) noexcept
{
    std::array<const std::uint8_t*, kChecksumLanes> bytes{};
    std::array<std::uint64_t, kChecksumLanes> hashes{};
    std::size_t shared = payloads[0].size();
    for (std::size_t lane = 0; lane < kChecksumLanes; ++lane) {
        const std::span<const std::uint8_t> payload = payloads[lane < payloads.size() ? lane : 0];
        bytes[lane] = payload.data();
        hashes[lane] = kFnv1a64OffsetBasis;
        shared = std::min(shared, payload.size());
    }
    for (std::size_t at = 0; at < shared; ++at) {
        for (std::size_t lane = 0; lane < kChecksumLanes; ++lane) {
            hashes[lane] = (hashes[lane] ^ bytes[lane][at]) * kFnv1a64Prime;
        }
    }
    for (std::size_t lane = 0; lane < payloads.size(); ++lane) {
        checksums[lane] = continueFnv1a64(hashes[lane], payloads[lane].subspan(shared));
    }
}

}  // namespace

void fnv1a64Each(std::span<const std::span<const std::uint8_t>> payloads,
                 std::span<std::uint64_t> checksums) noexcept
{
    for (std::size_t first = 0; first < payloads.size(); first += kChecksumLanes) {
        const std::size_t count = std::min(kChecksumLanes, payloads.size() - first);
        fnv1a64Lanes(payloads.subspan(first, count), checksums.subspan(first, count));
    }
}

std::array<std::uint8_t, kCacheContainerHeaderSize>
encodeCacheContainerHeader(const CacheContainerHeader& header) noexcept
{
    std::array<std::uint8_t, kCacheContainerHeaderSize> bytes{};
    const std::span<std::uint8_t> out(bytes);
    storeLittleEndian(out, kMagicOffset, header.magic);
    storeLittleEndian(out, kContainerVersionOffset, header.containerVersion);
    storeLittleEndian(out, kSchemaVersionOffset, header.schemaVersion);
    storeLittleEndian(out, kMinimumReaderVersionOffset, header.minimumReaderVersion);
    storeLittleEndian(out, kEndiannessOffset, header.endianness);
    storeLittleEndian(out, kHeaderSizeOffset, header.headerSize);
    storeLittleEndian(out, kCompressionFlagsOffset, header.compressionFlags);
    storeLittleEndian(out, kStoredSizeOffset, header.storedSize);
    storeLittleEndian(out, kUncompressedSizeOffset, header.uncompressedSize);
    storeLittleEndian(out, kChecksumOffset, header.checksum);
    return bytes;
}

CacheResult<CacheContainerHeader> decodeCacheContainer(std::span<const std::uint8_t> image,
                                                       std::uint64_t expectedMagic,
                                                       const std::filesystem::path& path)
{
    if (image.size() < kCacheContainerHeaderSize) {
        return errorAt(CacheErrorKind::invalid_header, path, kHeaderTruncated);
    }
    const CacheContainerHeader header = parseHeaderFields(image);
    if (const auto violation = firstHeaderViolation(header, expectedMagic, image.size())) {
        return errorAt(violation->first, path, violation->second);
    }
    return header;
}

CacheResult<CacheFileContents> readCacheFileUnchecked(const std::filesystem::path& path,
                                                      std::uint64_t expectedMagic)
{
    cachefs::WholeFileRead read =
        cachefs::readWholeFile(path, kCacheContainerHeaderSize, kCacheMaxFileSize);
    if (read.status != cachefs::WholeFileRead::Status::ok) {
        return readErrorFor(read, path);
    }
    auto decoded = decodeCacheContainer(read.bytes, expectedMagic, path);
    if (auto* error = std::get_if<CacheError>(&decoded)) {
        return std::move(*error);
    }
    CacheFileContents contents;
    contents.header = std::get<CacheContainerHeader>(decoded);
    // Keep the buffer, drop the header in front of the payload.
    read.bytes.erase(read.bytes.begin(),
                     read.bytes.begin() + static_cast<std::ptrdiff_t>(kCacheContainerHeaderSize));
    contents.payload = std::move(read.bytes);
    return contents;
}

OptionalCacheError checkPayloadChecksum(const CacheFileContents& contents, const std::filesystem::path& path)
{
    if (fnv1a64(contents.payload) != contents.header.checksum) {
        return errorAt(CacheErrorKind::checksum_mismatch, path, kChecksumMismatch);
    }
    return std::nullopt;
}

CacheResult<CacheFileContents> readCacheFile(const std::filesystem::path& path, std::uint64_t expectedMagic)
{
    auto read = readCacheFileUnchecked(path, expectedMagic);
    if (auto* contents = std::get_if<CacheFileContents>(&read)) {
        if (OptionalCacheError error = checkPayloadChecksum(*contents, path)) {
            return std::move(*error);
        }
    }
    return read;
}

std::filesystem::path cacheTemporaryPath(const std::filesystem::path& target,
                                         std::uint64_t payloadChecksum)
{
    char suffix[kTemporarySuffixDigits + 1] = {};
    std::snprintf(suffix, sizeof suffix, "%016llx",
                  static_cast<unsigned long long>(payloadChecksum));
    std::string name = target.filename().string();
    name += kTemporaryInfix;
    name += std::to_string(kTemporarySuffixDigits);
    name += '.';
    name += suffix;
    return target.parent_path() / name;
}

OptionalCacheError writeWithDiskFullHook(cachefs::OutputFile& file,
                                         const std::filesystem::path& temporary,
                                         std::span<const std::uint8_t> bytes,
                                         std::optional<std::uint64_t>& budget)
{
    return writeWithDiskFullHook(file, temporary, bytes, {}, budget);
}

OptionalCacheError writeWithDiskFullHook(cachefs::OutputFile& file,
                                         const std::filesystem::path& temporary,
                                         std::span<const std::uint8_t> header,
                                         std::span<const std::uint8_t> payload,
                                         std::optional<std::uint64_t>& budget)
{
    const std::uint64_t size = header.size() + payload.size();
    if (budget && size > *budget) {
        // The disk fills where it would have with the header written first; the file is
        // removed either way.
        if (header.size() <= *budget) {
            *budget -= header.size();
        }
        return errorAt(CacheErrorKind::disk_full, temporary, kDiskFull);
    }
    if (!file.write(header, payload)) {
        return errorAt(CacheErrorKind::io_error, temporary, kWriteFailed);
    }
    if (budget) {
        *budget -= size;
    }
    return std::nullopt;
}

namespace {

OptionalCacheError writeContainer(const std::filesystem::path& target, std::uint64_t magic,
                                  std::span<const std::uint8_t> payload,
                                  const CacheWriteOptions& options,
                                  std::optional<std::uint64_t>& budget, CommitMode mode,
                                  std::filesystem::path& temporary, bool parentExists = false,
                                  std::optional<std::uint64_t> knownChecksum = std::nullopt)
{
    if (isCancellationRequested(options)) {
        return errorAt(CacheErrorKind::cancelled, target, kCancelledBeforeWrite);
    }
    if (options.compress) {
        return errorAt(CacheErrorKind::unsupported_compression, target, kNoCompressor);
    }
    if (payload.size() > kCacheMaxPayloadSize) {
        return errorAt(CacheErrorKind::resource_limit, target, kPayloadTooLarge);
    }
    if (!parentExists) {
        if (const int error = cachefs::createDirectories(target.parent_path()); error != 0) {
            return errorAt(CacheErrorKind::io_error, target,
                           cachetexts::kDirectoryNotCreated + cachefs::systemErrorText(error));
        }
    }

    const std::uint64_t checksum = knownChecksum ? *knownChecksum : fnv1a64(payload);
    // A crashed earlier attempt of the same payload may have left this name behind; the
    // create truncates it.
    temporary = cacheTemporaryPath(target, checksum);

    const auto header = encodeCacheContainerHeader(headerForPayload(magic, payload, checksum));
    int openError = 0;
    auto file = cachefs::OutputFile::create(temporary, openError);
    if (!file) {
        // A leftover the create cannot reuse (read-only, or a link) is replaced.
        cachefs::removeFileQuietly(temporary);
        file = cachefs::OutputFile::create(temporary, openError);
    }
    if (!file) {
        return errorAt(CacheErrorKind::io_error, temporary, kTemporaryNotOpened);
    }
    auto error = writeAndCommitTemporary(*file, temporary, target, header, payload, options,
                                         budget, mode);
    if (error) {
        file->close();
        cachefs::removeFileQuietly(temporary);
    }
    return error;
}

}  // namespace

OptionalCacheError writeCacheContainer(const std::filesystem::path& target, std::uint64_t magic,
                                       std::span<const std::uint8_t> payload,
                                       const CacheWriteOptions& options,
                                       std::optional<std::uint64_t>& budget)
{
    std::filesystem::path temporary;
    return writeContainer(target, magic, payload, options, budget, CommitMode::durable, temporary);
}

StagedCacheFiles::~StagedCacheFiles()
{
    for (const Staged& file : staged_) {
        cachefs::removeFileQuietly(file.temporary);
    }
}

OptionalCacheError StagedCacheFiles::stage(const std::filesystem::path& target, std::uint64_t magic,
                                           std::span<const std::uint8_t> payload,
                                           const CacheWriteOptions& options,
                                           std::optional<std::uint64_t>& budget)
{
    return stage(target, magic, payload, fnv1a64(payload), options, budget);
}

OptionalCacheError StagedCacheFiles::stage(const std::filesystem::path& target, std::uint64_t magic,
                                           std::span<const std::uint8_t> payload, std::uint64_t checksum,
                                           const CacheWriteOptions& options,
                                           std::optional<std::uint64_t>& budget)
{
    std::filesystem::path temporary;
    // A batch mostly writes into one directory; it is created once, not per file.
    const bool parentExists = !staged_.empty() && staged_.back().target.parent_path() == target.parent_path();
    if (auto error = writeContainer(target, magic, payload, options, budget, CommitMode::staged,
                                    temporary, parentExists, checksum)) {
        return error;
    }
    staged_.push_back({std::move(temporary), target});
    return std::nullopt;
}

OptionalCacheError StagedCacheFiles::commit(const std::filesystem::path& directory)
{
    if (staged_.empty()) {
        return std::nullopt;
    }
    // Every temporary file is on disk before any of them replaces its target, so a target
    // only ever holds its old or its new complete content.
    if (cachefs::syncFileSystem(directory) != 0) {
        return errorAt(CacheErrorKind::io_error, directory, kFlushFailed);
    }
    std::vector<std::filesystem::path> parents;
    for (std::size_t index = 0; index < staged_.size(); ++index) {
        const std::filesystem::path target = staged_[index].target;
        if (const int renameError = cachefs::replaceFile(staged_[index].temporary, target);
            renameError != 0) {
            // The files before it are in place; the rest are removed with the batch.
            staged_.erase(staged_.begin(), staged_.begin() + static_cast<std::ptrdiff_t>(index));
            return errorAt(CacheErrorKind::io_error, target,
                           kRenameFailed + std::to_string(renameError));
        }
        if (std::find(parents.begin(), parents.end(), target.parent_path()) == parents.end()) {
            parents.push_back(target.parent_path());
        }
    }
    staged_.clear();
    for (const std::filesystem::path& parent : parents) {
        if (const int syncError = cachefs::syncDirectory(parent); syncError != 0) {
            return errorAt(CacheErrorKind::io_error, parent,
                           kRenameFailed + std::to_string(syncError));
        }
    }
    return std::nullopt;
}

CacheResult<std::monostate> writeCacheFile(const std::filesystem::path& target, std::uint64_t magic,
                                           std::span<const std::uint8_t> payload,
                                           const CacheWriteOptions& options,
                                           std::optional<std::uint64_t>& budget)
{
    if (auto error = writeCacheContainer(target, magic, payload, options, budget)) {
        return std::move(*error);
    }
    return std::monostate{};
}

}  // namespace vexilo::analysis
