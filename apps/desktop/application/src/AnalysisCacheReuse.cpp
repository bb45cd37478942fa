// The analysis task service's road that opens a source from its cache instead of analysing it.

#include "vexilo/application/AnalysisTaskService.h"

#include "PictureIdentityMap.h"

#include "vexilo/analysis/cache/SourceStamp.h"
#include "vexilo/application/AnalysisCacheLocation.h"

#include <QLatin1String>

#include <algorithm>

namespace vexilo::application {

bool AnalysisTaskService::reuseCachedAnalysis(const QString& sourcePath)
{
    if (sourcePath.isEmpty() || isBusy()) {
        return false;
    }
    if (options_.cacheRoot.empty() && preparePrivateCacheRoot(defaultAnalysisCacheRoot())) {
        return false;
    }
    const std::filesystem::path directory = analysisCacheDirectory(cacheRoot(), sourcePath);
    // Size and time say the file is the one the cache was written for; the repository then
    // checks that the manifest and the stream document carry the stamped fingerprint.
    std::optional<std::string> fingerprint =
        analysis::stampedFingerprintIfUnchanged(directory, pathFromQString(sourcePath));
    if (!fingerprint) {
        return false;
    }
    beginSource(sourcePath, directory, std::move(fingerprint), false);
    picturesDecodedInProcess_ = true;
    reuseLoadPending_ = true;
    reusedGeneration_ = generation_;
    repository_.loadStream(cacheDirectory_, expectedSource_, generation_);
    return true;
}

bool AnalysisTaskService::reanalyzeUnreadableCache(const AnalysisRepositoryError& error)
{
    // The stream document that fails leaves nothing of the cache shown; a picture that fails
    // leaves a hole in it. Either way the stale or damaged directory is replaced by a fresh
    // analysis, once: a picture of that analysis that fails is reported as usual.
    const bool streamUnreadable = reuseLoadPending_ && !error.pictureId;
    const bool pictureUnreadable = error.pictureId && reusedGeneration_ == generation_;
    if ((!streamUnreadable && !pictureUnreadable) || isBusy()) {
        return false;
    }
    reuseLoadPending_ = false;
    reusedGeneration_ = 0;
    startAnalysis(sourcePath_, true);
    return true;
}

void AnalysisTaskService::forgetCacheReuse()
{
    picturesDecodedInProcess_ = false;
    reuseLoadPending_ = false;
    reusedGeneration_ = 0;
    deferredSummaries_.clear();
    indexedDecodedPictures_ = 0;
}

void AnalysisTaskService::indexPicture(domain::PictureId picture, const analysis::PictureAnalysisSummary& summary,
                                       const analysis::ManifestPictureEntry& entry)
{
    pictureEntries_.insert_or_assign(picture, entry);
    if (summary.pictureId && *summary.pictureId != 0) {
        pictureIdentities_->bind(picture, *summary.pictureId);
    }
    setPictureStatus(picture, PictureAnalysisStatus::IndexReady, QLatin1String(kPictureAnalysisReadyStatus));
}

bool AnalysisTaskService::deferUntilDecoded(const analysis::PictureAnalysisSummary& summary,
                                            const analysis::ManifestPictureEntry* entry)
{
    if (!picturesDecodedInProcess_ || entry == nullptr || !summary.displayIndex ||
        displayIndexToPicture_.contains(*summary.displayIndex)) {
        return false;
    }
    deferredSummaries_.insert_or_assign(*summary.displayIndex, DeferredSummary{summary, *entry});
    return true;
}

void AnalysisTaskService::indexDecodedPictures(const std::vector<domain::PictureInfo>& pictures)
{
    const std::size_t first = std::min(indexedDecodedPictures_, pictures.size());
    indexedDecodedPictures_ = pictures.size();
    if (deferredSummaries_.empty()) {
        return;
    }
    bool indexedAny = false;
    for (std::size_t position = first; position < pictures.size(); ++position) {
        const domain::PictureInfo& picture = pictures[position];
        const auto deferred = deferredSummaries_.find(picture.displayIndex);
        if (deferred == deferredSummaries_.end()) {
            continue;
        }
        indexPicture(picture.id, deferred->second.summary, deferred->second.entry);
        deferredSummaries_.erase(deferred);
        enqueuePreload(picture.id);
        indexedAny = true;
    }
    if (indexedAny) {
        startNextPreload();
    }
}

}  // namespace vexilo::application
