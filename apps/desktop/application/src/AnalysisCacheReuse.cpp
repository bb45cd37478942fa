// The analysis task service's road that opens a source from its cache instead of analysing it.

#include "vexilo/application/AnalysisTaskService.h"

#include "PictureIdentityMap.h"

#include "vexilo/analysis/cache/SourceStamp.h"
#include "vexilo/application/AnalysisCacheLocation.h"

#include <QLatin1String>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace vexilo::application {
namespace {

domain::PictureType listedPictureType(analysis::PictureType type)
{
    switch (type) {
    case analysis::PictureType::I: return domain::PictureType::I;
    case analysis::PictureType::P: return domain::PictureType::P;
    case analysis::PictureType::B: return domain::PictureType::B;
    case analysis::PictureType::Unknown: break;
    }
    return domain::PictureType::None;
}

std::int32_t listedSize(std::optional<std::uint32_t> own, std::optional<std::uint32_t> stream)
{
    const std::uint32_t size = own.value_or(stream.value_or(0));
    return static_cast<std::int32_t>(std::min<std::uint32_t>(size, std::numeric_limits<std::int32_t>::max()));
}

// The picture as a decoder lists it. Both decoders, the in-process one and the worker's, number
// their output from 0, so a picture's project id is its display index.
domain::PictureInfo listedPicture(const analysis::PictureAnalysisSummary& summary, const analysis::StreamAnalysis& stream)
{
    domain::PictureInfo picture;
    picture.id = *summary.displayIndex;
    picture.displayIndex = *summary.displayIndex;
    picture.decodeIndex = summary.decodeIndex;
    picture.pts = summary.pts;
    picture.dts = summary.dts;
    picture.poc = summary.poc;
    picture.pictureType = listedPictureType(summary.pictureType);
    picture.width = listedSize(summary.width, stream.width);
    picture.height = listedSize(summary.height, stream.height);
    picture.bitDepth = summary.bitDepth.value_or(stream.bitDepth.value_or(0));
    return picture;
}

}  // namespace

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
    reuseLoadPending_ = true;
    reusedGeneration_ = generation_;
    return true;
}

void AnalysisTaskService::loadReusedAnalysis()
{
    if (reuseLoadPending_ && reusedGeneration_ == generation_) {
        repository_.loadStream(cacheDirectory_, expectedSource_, generation_);
    }
}

std::optional<PictureInfoBatch> AnalysisTaskService::listReusedPictures(const analysis::StreamAnalysis& stream)
{
    if (!reuseLoadPending_) {
        return std::nullopt;
    }
    // Every picture is listed, and so bound in the index, before any of them is read: a picture
    // read early still names the later pictures it refers to.
    PictureInfoBatch pictures;
    pictures.reserve(stream.pictures.size());
    for (const analysis::PictureAnalysisSummary& summary : stream.pictures) {
        if (summary.displayIndex && *summary.displayIndex >= 0) {
            pictures.push_back(listedPicture(summary, stream));
        }
    }
    const auto byDisplayIndex = [](const domain::PictureInfo& left, const domain::PictureInfo& right) {
        return left.displayIndex < right.displayIndex;
    };
    std::stable_sort(pictures.begin(), pictures.end(), byDisplayIndex);
    const auto sameDisplayIndex = [](const domain::PictureInfo& left, const domain::PictureInfo& right) {
        return left.displayIndex == right.displayIndex;
    };
    pictures.erase(std::unique(pictures.begin(), pictures.end(), sameDisplayIndex), pictures.end());
    setDecodedPictures(pictures);
    return pictures;
}

bool AnalysisTaskService::reanalyzeUnreadableCache(const AnalysisRepositoryError& error)
{
    // The stream document that fails leaves nothing of the cache shown: the caller opens the
    // source as if it had no cache. A picture that fails leaves a hole in a project that is
    // shown: the stale or damaged directory is replaced by a fresh analysis here. Either way
    // once: a picture of that analysis that fails is reported as usual.
    const bool streamUnreadable = reuseLoadPending_ && !error.pictureId;
    const bool pictureUnreadable = error.pictureId && reusedGeneration_ == generation_;
    if ((!streamUnreadable && !pictureUnreadable) || isBusy()) {
        return false;
    }
    reuseLoadPending_ = false;
    reusedGeneration_ = 0;
    if (streamUnreadable) {
        emit cachedAnalysisUnreadable(generation_);
    } else {
        startAnalysis(sourcePath_, true);
    }
    return true;
}

void AnalysisTaskService::forgetCacheReuse()
{
    reuseLoadPending_ = false;
    reusedGeneration_ = 0;
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

}  // namespace vexilo::application
