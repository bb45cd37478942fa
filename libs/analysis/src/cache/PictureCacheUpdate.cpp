#include "vexilo/analysis/cache/CacheWriter.h"

#include "vexilo/analysis/cache/CacheContainer.h"
#include "vexilo/analysis/cache/CachePayload.h"
#include "vexilo/analysis/cache/CacheReader.h"

#include "cache/CacheErrorAt.h"
#include "cache/CacheFileSystem.h"
#include "cache/SharedCacheTexts.h"

#include <algorithm>
#include <utility>
#include <variant>

namespace vexilo::analysis {
namespace {

constexpr const char* kPictureNotAnalysed = "the analysis holds no picture with the requested decode identity";
constexpr const char* kPictureNotListed = "the cache manifest does not list the analysed picture";

// Under the writer's lock: the manifest read here stays the one in force until the write ends.
CacheResult<CacheManifest> replacePictureFile(const std::filesystem::path& directory, const StreamAnalysis& analysis,
                                              std::uint64_t decodePictureId, const CacheWriteOptions& options)
{
    auto opened = openAnalysisCache(directory, analysis.sourceFingerprint);
    if (auto* error = std::get_if<CacheError>(&opened)) {
        return std::move(*error);
    }
    CacheManifest& manifest = std::get<CacheManifest>(opened);
    const auto summary = std::find_if(analysis.pictures.begin(), analysis.pictures.end(),
                                      [decodePictureId](const PictureAnalysisSummary& picture) {
                                          return picture.pictureId == std::optional(decodePictureId);
                                      });
    if (summary == analysis.pictures.end()) {
        return errorAt(CacheErrorKind::invalid_payload, directory, kPictureNotAnalysed);
    }
    const auto entry = std::find_if(manifest.pictures.begin(), manifest.pictures.end(),
                                    [&summary](const ManifestPictureEntry& listed) { return listed.stableId == summary->id; });
    if (entry == manifest.pictures.end()) {
        return errorAt(CacheErrorKind::invalid_payload, directory, kPictureNotListed);
    }
    StreamAnalysis document;
    PictureDocumentSplit(analysis).fill(static_cast<std::size_t>(summary - analysis.pictures.begin()), document);
    if (!hasBlockStructure(document)) {
        // A run that lost this picture's blocks has nothing the cached file lacks.
        return std::move(manifest);
    }
    const std::filesystem::path path = directory / entry->path;
    auto payload = serializeCachePayload(document, path);
    if (auto* error = std::get_if<CacheError>(&payload)) {
        return std::move(*error);
    }
    std::optional<std::uint64_t> budget = options.simulatedDiskFullBytes;
    if (auto error = writeCacheContainer(path, kPictureMagic, std::get<std::vector<std::uint8_t>>(payload), options,
                                         budget)) {
        return std::move(*error);
    }
    return std::move(manifest);
}

}  // namespace

CacheResult<CacheManifest> writePictureIntoCache(const std::filesystem::path& directory,
                                                 const StreamAnalysis& analysis, std::uint64_t decodePictureId,
                                                 const CacheWriteOptions& options)
{
    if (directory.empty()) {
        return errorAt(CacheErrorKind::invalid_path, directory, cachetexts::kDirectoryEmpty);
    }
    if (isCancellationRequested(options)) {
        return errorAt(CacheErrorKind::cancelled, directory, cachetexts::kCancelledBeforeStart);
    }
    int lockError = 0;
    const auto lock = cachefs::DirectoryLock::acquire(directory / kCacheWriterLockFileName, lockError);
    if (!lock) {
        return errorAt(CacheErrorKind::io_error, directory,
                       cachetexts::kDirectoryNotLocked + cachefs::systemErrorText(lockError));
    }
    return replacePictureFile(directory, analysis, decodePictureId, options);
}

}  // namespace vexilo::analysis
