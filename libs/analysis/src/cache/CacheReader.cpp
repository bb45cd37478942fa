#include "vexilo/analysis/cache/CacheReader.h"

#include "vexilo/analysis/cache/CacheContainer.h"
#include "vexilo/analysis/cache/CachePaths.h"
#include "vexilo/analysis/cache/CachePayload.h"

#include "cache/CacheErrorAt.h"
#include "cache/CachePictureRead.h"
#include "cache/SharedCacheTexts.h"
#include "WorkBeside.h"

#include <algorithm>
#include <future>
#include <string_view>
#include <utility>

namespace vexilo::analysis {
namespace {

constexpr const char* kManifestStale = "manifest source fingerprint does not match expected source";
constexpr const char* kPictureNotInManifest = "requested picture is not present in manifest";
constexpr const char* kPictureStale = "picture fingerprint does not match manifest";
constexpr const char* kPictureIdentityMismatch = "picture payload does not match manifest identity";

bool manifestListsEntry(const CacheManifest& manifest, const ManifestPictureEntry& requested)
{
    return std::any_of(
        manifest.pictures.begin(), manifest.pictures.end(), [&](const ManifestPictureEntry& entry) {
            return entry.stableId == requested.stableId && entry.path == requested.path;
        });
}

bool holdsOnlyPicture(const StreamAnalysis& document, const StableId& pictureId)
{
    return document.pictures.size() == 1 && document.pictures.front().id == pictureId;
}

std::string_view payloadText(const std::vector<std::uint8_t>& payload)
{
    return {reinterpret_cast<const char*>(payload.data()), payload.size()};
}

// From this size a payload's checksum is taken on a thread of its own while the payload is
// decoded: FNV-1a is one serial chain through every byte, a quarter of the time a dense 4K
// picture takes to load. A smaller payload is not worth the thread.
constexpr std::size_t kChecksumBesideDecodingBytes = std::size_t{1} << 20;

std::future<OptionalCacheError> checksumBesideDecoding(const CacheFileContents& contents,
                                                       const std::filesystem::path& path)
{
    return startBeside(contents.payload.size() >= kChecksumBesideDecodingBytes,
                       [&contents, &path] { return checkPayloadChecksum(contents, path); });
}

// A cache document's file read and decoded. A payload that fails its checksum is refused as
// such, whatever its decoding made of it.
CacheResult<StreamAnalysis> readCacheDocument(const std::filesystem::path& path, std::uint64_t magic,
                                              AnalysisReadExtent extent)
{
    auto file = readCacheFileUnchecked(path, magic);
    if (auto* error = std::get_if<CacheError>(&file)) {
        return std::move(*error);
    }
    const CacheFileContents& contents = std::get<CacheFileContents>(file);
    std::future<OptionalCacheError> checksum = checksumBesideDecoding(contents, path);
    auto decoded = decodeCachedAnalysisPayload(contents.payload, path, extent);
    if (OptionalCacheError error = checksum.get()) {
        return std::move(*error);
    }
    return decoded;
}

}  // namespace

CacheResult<CacheManifest> openAnalysisCache(const std::filesystem::path& directory,
                                             const std::optional<std::string>& expectedFingerprint)
{
    if (directory.empty()) {
        return errorAt(CacheErrorKind::invalid_path, directory, cachetexts::kDirectoryEmpty);
    }
    const std::filesystem::path manifestPath = directory / kManifestFileName;
    auto file = readCacheFile(manifestPath, kManifestMagic);
    if (auto* error = std::get_if<CacheError>(&file)) {
        return std::move(*error);
    }
    auto parsed =
        parseManifestJson(payloadText(std::get<CacheFileContents>(file).payload), manifestPath);
    if (auto* error = std::get_if<CacheError>(&parsed)) {
        return std::move(*error);
    }
    auto& manifest = std::get<CacheManifest>(parsed);
    if (auto error = validateManifestPicturePath(directory, manifest)) {
        return std::move(*error);
    }
    if (expectedFingerprint && *expectedFingerprint != manifest.sourceFingerprint) {
        return errorAt(CacheErrorKind::stale, manifestPath, kManifestStale);
    }
    return std::move(manifest);
}

CacheResult<StreamAnalysis> readCachedPictureFromManifest(const std::filesystem::path& directory,
                                                          const CacheManifest& manifest,
                                                          const ManifestPictureEntry& requested,
                                                          AnalysisReadExtent extent)
{
    if (!manifestListsEntry(manifest, requested)) {
        return errorAt(CacheErrorKind::invalid_payload, directory / requested.path,
                       kPictureNotInManifest);
    }
    auto resolved = resolveCacheRelativePath(directory, requested.path);
    if (auto* error = std::get_if<CacheError>(&resolved)) {
        return std::move(*error);
    }
    const auto& picturePath = std::get<std::filesystem::path>(resolved);
    auto decoded = readCacheDocument(picturePath, kPictureMagic, extent);
    if (auto* error = std::get_if<CacheError>(&decoded)) {
        return std::move(*error);
    }
    auto& document = std::get<StreamAnalysis>(decoded);
    if (document.sourceFingerprint != manifest.sourceFingerprint) {
        return errorAt(CacheErrorKind::stale, picturePath, kPictureStale);
    }
    if (!holdsOnlyPicture(document, requested.stableId)) {
        return errorAt(CacheErrorKind::invalid_payload, picturePath, kPictureIdentityMismatch);
    }
    return std::move(document);
}

CacheResult<StreamAnalysis> readCachedStream(const std::filesystem::path& directory, const CacheManifest& manifest)
{
    auto resolved = resolveCacheRelativePath(directory, manifest.streamPath);
    if (auto* error = std::get_if<CacheError>(&resolved)) {
        return std::move(*error);
    }
    const auto& streamPath = std::get<std::filesystem::path>(resolved);
    auto decoded = readCacheDocument(streamPath, kStreamMetaMagic, AnalysisReadExtent::Whole);
    if (auto* error = std::get_if<CacheError>(&decoded)) {
        return std::move(*error);
    }
    auto& document = std::get<StreamAnalysis>(decoded);
    if (document.sourceFingerprint != manifest.sourceFingerprint) {
        return errorAt(CacheErrorKind::stale, streamPath, kStreamFingerprintStale);
    }
    return std::move(document);
}

CacheResult<StreamAnalysis> readCachedStream(const std::filesystem::path& directory,
                                             const std::optional<std::string>& expectedFingerprint)
{
    auto opened = openAnalysisCache(directory, expectedFingerprint);
    if (auto* error = std::get_if<CacheError>(&opened)) {
        return std::move(*error);
    }
    return readCachedStream(directory, std::get<CacheManifest>(opened));
}

CacheResult<StreamAnalysis> readCachedPicture(const std::filesystem::path& directory,
                                              const ManifestPictureEntry& requested,
                                              const std::optional<std::string>& expectedFingerprint)
{
    auto opened = openAnalysisCache(directory, expectedFingerprint);
    if (auto* error = std::get_if<CacheError>(&opened)) {
        return std::move(*error);
    }
    return readCachedPictureFromManifest(directory, std::get<CacheManifest>(opened), requested);
}

}  // namespace vexilo::analysis
