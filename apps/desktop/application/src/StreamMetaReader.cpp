#include "vexilo/application/StreamMetaReader.h"

#include "vexilo/analysis/cache/CacheContainer.h"
#include "vexilo/analysis/cache/CachePaths.h"
#include "vexilo/analysis/cache/CachePayload.h"
#include "vexilo/analysis/cache/CacheReader.h"

#include <utility>

namespace vexilo::application {
namespace {

using analysis::CacheError;
using analysis::CacheErrorKind;
using analysis::CacheManifest;
using analysis::StreamAnalysis;

}  // namespace

analysis::CacheResult<StreamAnalysis> readCachedStreamMeta(const std::filesystem::path& cacheDirectory,
                                                           const std::optional<std::string>& expectedSourceFingerprint)
{
    auto opened = analysis::openAnalysisCache(cacheDirectory, expectedSourceFingerprint);
    if (auto* error = std::get_if<CacheError>(&opened)) {
        return std::move(*error);
    }
    return readCachedStreamMeta(cacheDirectory, std::get<CacheManifest>(opened));
}

analysis::CacheResult<StreamAnalysis> readCachedStreamMeta(const std::filesystem::path& cacheDirectory,
                                                           const CacheManifest& manifest)
{
    auto resolved = analysis::resolveCacheRelativePath(cacheDirectory, manifest.streamPath);
    if (auto* error = std::get_if<CacheError>(&resolved)) {
        return std::move(*error);
    }
    const auto& streamPath = std::get<std::filesystem::path>(resolved);
    auto file = analysis::readCacheFile(streamPath, analysis::kStreamMetaMagic);
    if (auto* error = std::get_if<CacheError>(&file)) {
        return std::move(*error);
    }
    auto decoded =
        analysis::decodeCachedAnalysisPayload(std::get<analysis::CacheFileContents>(file).payload, streamPath);
    if (auto* error = std::get_if<CacheError>(&decoded)) {
        return std::move(*error);
    }
    auto& document = std::get<StreamAnalysis>(decoded);
    if (document.sourceFingerprint != manifest.sourceFingerprint) {
        return analysis::makeCacheError(CacheErrorKind::stale, std::filesystem::path(streamPath),
                                        std::string(kStreamFingerprintStale));
    }
    return std::move(document);
}

}  // namespace vexilo::application
