#include "vexilo/application/AnalysisTaskService.h"

#include "DocumentRelease.h"
#include "PictureIdentityMap.h"
#include "vexilo/application/AnalysisCacheLocation.h"
#include "vexilo/application/ApplicationMetaTypes.h"
#include "vexilo/application/StreamRandomAccess.h"
#include "vexilo/protocol/ProtocolMessage.h"

#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <system_error>
#include <utility>

namespace vexilo::application {
namespace {

using analysis::ManifestPictureEntry;
using analysis::StableId;
using analysis::StreamAnalysis;
using Status = PictureAnalysisStatus;

constexpr const char* kCreateFailedCode = "analysis_cache.create_failed";
constexpr const char* kCreateFailedMessage = "Could not create analysis cache directory";
constexpr const char* kIdentityMissingCode = "analysis.picture_identity_missing";
constexpr const char* kIdentityMissingMessage = "No analyzer decode-picture identity is available";
constexpr const char* kIdentityMissingDetail =
    "The UI picture has not been mapped to an analyzer decodePictureId. Run Analyze Stream before running "
    "per-picture structure analysis.";
constexpr const char* kMetadataMissingCode = "analyzer.metadata_missing";
constexpr const char* kMetadataMissingMessage = "Analyzer Worker finished without analysis cache";
constexpr const char* kMetadataMissingDetail =
    "analysisFinished did not include metadataPath; Repository load was not started";

constexpr const char* kStatusAnalyzingStructure = "Analyzing current picture structure";
constexpr const char* kStatusRunAnalyzeStreamFirst = "Run Analyze Stream first to build the picture index";
constexpr const char* kStatusCanceled = "Analysis canceled";
constexpr const char* kStatusFinishedWithoutCache = "Analyzer finished without analysis cache";
constexpr const char* kStatusLoadingStructure = "Loading updated picture structure";
constexpr const char* kStatusReady = kPictureAnalysisReadyStatus;
constexpr const char* kStatusEntryMissing = "Picture analysis cache entry is missing";
constexpr const char* kStatusNoCachedAnalysis = "No cached analysis for this picture";
constexpr const char* kStatusLoading = "Loading picture analysis";

QString text(const char* fixed)
{
    return QString::fromLatin1(fixed);
}

// A count the worker reported; absent, negative or not a number reads as none.
std::uint64_t countIn(const QJsonObject& payload, QLatin1StringView key)
{
    const qint64 value = payload.value(key).toInteger(0);
    return value > 0 ? static_cast<std::uint64_t>(value) : 0;
}

std::optional<domain::PictureId> pictureIdFromDecodeId(std::uint64_t decodeId)
{
    if (decodeId > static_cast<std::uint64_t>(std::numeric_limits<domain::PictureId>::max())) {
        return std::nullopt;
    }
    return static_cast<domain::PictureId>(decodeId);
}

}  // namespace

AnalysisTaskService::AnalysisTaskService(QObject* parent, AnalysisTaskServiceOptions options)
    : QObject(parent), options_(std::move(options)), client_(nullptr, options_.worker), repository_(nullptr),
      pictureIdentities_(std::make_shared<PictureIdentityMap>())
{
    repository_.setPictureIdentities(pictureIdentities_);
    registerApplicationMetaTypes();
    registerAnalysisTaskMetaTypes();
    connect(&client_, &AnalyzerWorkerClient::stateChanged, this, &AnalysisTaskService::onWorkerStateChanged);
    connect(&client_, &AnalyzerWorkerClient::eventReceived, this, &AnalysisTaskService::onWorkerEvent);
    connect(&client_, &AnalyzerWorkerClient::frameReceived, this, &AnalysisTaskService::decodedFrameReceived);
    connect(&client_, &AnalyzerWorkerClient::errorOccurred, this, &AnalysisTaskService::onWorkerError);
    connect(&repository_, &AnalysisRepository::streamLoaded, this, &AnalysisTaskService::onStreamLoaded);
    connect(&repository_, &AnalysisRepository::pictureLoaded, this, &AnalysisTaskService::onPictureLoaded);
    connect(&repository_, &AnalysisRepository::repositoryError, this, &AnalysisTaskService::onRepositoryError);
    connect(&repository_, &AnalysisRepository::cacheCleared, this, &AnalysisTaskService::onCacheCleared);
}

AnalysisTaskService::~AnalysisTaskService()
{
    shutdown();
}

bool AnalysisTaskService::isBusy() const
{
    return !taskId_.isEmpty() || streamAnalysisPending_ || pendingPictureRequest_.has_value();
}

PictureAnalysisStatus AnalysisTaskService::pictureAnalysisStatus(domain::PictureId picture) const
{
    const auto found = pictureStatuses_.find(picture);
    return found != pictureStatuses_.end() ? found->second : Status::None;
}

void AnalysisTaskService::setDecodedPictures(const std::vector<domain::PictureInfo>& pictures)
{
    displayIndexToPicture_.clear();
    displayIndexToPicture_.reserve(pictures.size());
    for (const domain::PictureInfo& picture : pictures) {
        displayIndexToPicture_[picture.displayIndex] = picture.id;
    }
}

void AnalysisTaskService::setPictureStatus(domain::PictureId picture, PictureAnalysisStatus status,
                                           const QString& message)
{
    pictureStatuses_[picture] = status;
    emit pictureAnalysisStatusChanged(PictureAnalysisState{picture, status, message, generation_});
}

void AnalysisTaskService::emitError(const AnalysisTaskError& error)
{
    emit analysisError(error);
}

// --- Worker runs ---------------------------------------------------------------------------

std::filesystem::path AnalysisTaskService::cacheRoot() const
{
    return options_.cacheRoot.empty() ? defaultAnalysisCacheRoot() : options_.cacheRoot;
}

std::optional<QString> AnalysisTaskService::prepareCacheDirectory()
{
    if (options_.cacheRoot.empty()) {
        if (auto refused = preparePrivateCacheRoot(defaultAnalysisCacheRoot())) {
            return refused;
        }
    }
    std::error_code error;
    std::filesystem::create_directories(cacheDirectory_, error);
    return error ? std::optional(QString::fromStdString(error.message())) : std::nullopt;
}

void AnalysisTaskService::beginSource(const QString& sourcePath, std::filesystem::path cacheDirectory,
                                      std::optional<std::string> expectedSource, bool reanalyze)
{
    sourcePath_ = sourcePath;
    cacheDirectory_ = std::move(cacheDirectory);
    expectedSource_ = std::move(expectedSource);
    forgetPictures();
    clearPreload();
    reanalyze_ = reanalyze;
    pendingPictureRequest_.reset();
    targetDecodePictureId_ = 0;
    runningPictureRequest_.reset();
    ++generation_;
}

void AnalysisTaskService::startAnalysis(const QString& sourcePath, bool reanalyze)
{
    if (sourcePath.isEmpty() || isBusy()) {
        return;
    }
    beginSource(sourcePath, analysisCacheDirectory(cacheRoot(), sourcePath), std::nullopt, reanalyze);
    streamAnalysisPending_ = true;

    if (auto failure = prepareCacheDirectory()) {
        streamAnalysisPending_ = false;
        emitError({text(kCreateFailedCode), text(kCreateFailedMessage), *failure, std::nullopt, true});
        return;
    }
    if (reanalyze_) {
        std::error_code ignored;
        std::filesystem::remove_all(cacheDirectory_, ignored);
        std::filesystem::create_directories(cacheDirectory_, ignored);
    }
    startWorkerIfNeeded();
    sendPendingStreamAnalysis();
}

void AnalysisTaskService::startWorkerIfNeeded()
{
    const AnalyzerWorkerState state = client_.state();
    if (state == AnalyzerWorkerState::NotRunning || state == AnalyzerWorkerState::Failed) {
        client_.start();
    }
}

void AnalysisTaskService::sendPendingStreamAnalysis()
{
    if (!streamAnalysisPending_ || client_.state() != AnalyzerWorkerState::Ready || sourcePath_.isEmpty() ||
        cacheDirectory_.empty()) {
        return;
    }
    streamAnalysisPending_ = false;
    // One pass keeps the blocks of every picture that fits the worker's memory budget, so that
    // stepping through them afterwards reads the cache instead of starting a run per picture.
    takeTask(client_.analyze(sourcePath_, pathToQString(cacheDirectory_), AnalyzerAnalysisMode::BoundedStructure));
}

void AnalysisTaskService::sendPendingPictureStructure()
{
    if (!pendingPictureRequest_ || client_.state() != AnalyzerWorkerState::Ready || sourcePath_.isEmpty() ||
        cacheDirectory_.empty() || targetDecodePictureId_ == 0) {
        return;
    }
    runningPictureRequest_ = std::exchange(pendingPictureRequest_, std::nullopt);
    const std::uint64_t target = std::exchange(targetDecodePictureId_, 0);
    const std::optional<protocol::StructureStart> start =
        streamDocument_ && randomAccessIndex_ ? structureStartFor(*streamDocument_, *randomAccessIndex_, target)
                                              : std::nullopt;
    takeTask(client_.analyzePictureStructure(sourcePath_, pathToQString(cacheDirectory_), target, {}, start));
}

void AnalysisTaskService::takeTask(const AnalyzerTaskRequest& request)
{
    taskId_ = request.taskId;
    if (!taskId_.isEmpty()) {
        emit analysisStarted(generation_, taskId_);
    }
}

void AnalysisTaskService::onWorkerStateChanged(AnalyzerWorkerState state)
{
    if (state == AnalyzerWorkerState::Ready) {
        sendPendingStreamAnalysis();
        sendPendingPictureStructure();
    }
}

void AnalysisTaskService::abandonJobs()
{
    // Results of abandoned jobs that are already on their way carry the old generation.
    repository_.cancelAllJobs();
    ++generation_;
}

void AnalysisTaskService::analyzePictureStructure(domain::PictureId picture)
{
    if (sourcePath_.isEmpty() || cacheDirectory_.empty() || isBusy()) {
        return;
    }
    const std::optional<std::uint64_t> decodeId = pictureIdentities_->decodeIdOf(picture);
    if (!decodeId || *decodeId == 0) {
        setPictureStatus(picture, Status::None, text(kStatusRunAnalyzeStreamFirst));
        emitError({text(kIdentityMissingCode), text(kIdentityMissingMessage), text(kIdentityMissingDetail), picture,
                   true});
        return;
    }
    abandonJobs();
    clearPreload();
    pendingPictureRequest_ = picture;
    targetDecodePictureId_ = *decodeId;
    setPictureStatus(picture, Status::Pending, text(kStatusAnalyzingStructure));
    startWorkerIfNeeded();
    sendPendingPictureStructure();
}

void AnalysisTaskService::onWorkerEvent(const protocol::AnalyzerProtocolMessage& event)
{
    if (!taskId_.isEmpty() && event.taskId != taskId_) {
        return;
    }
    // A "probeResult" also names the stream document, but the directory this service computed
    // stays the only one it loads from or deletes: a reported path elsewhere (the home folder,
    // say) must never become the target of "Clear Analysis Cache".
    if (event.type == protocol::message_type::analysisCanceled) {
        onAnalysisCanceled();
    } else if (event.type == protocol::message_type::analysisFinished) {
        onAnalysisFinished(event);
    }
}

void AnalysisTaskService::onAnalysisCanceled()
{
    taskId_.clear();
    if (runningPictureRequest_) {
        setPictureStatus(*std::exchange(runningPictureRequest_, std::nullopt), Status::None, text(kStatusCanceled));
    }
    emit analysisCanceled(generation_);
}

void AnalysisTaskService::onAnalysisFinished(const protocol::AnalyzerProtocolMessage& event)
{
    taskId_.clear();
    lastRunPacketCounts_ = {countIn(event.payload, protocol::payload_key::packetsRead),
                            countIn(event.payload, protocol::payload_key::packetsSent)};
    const QString metadataPath = event.payload.value(protocol::payload_key::metadataPath).toString();
    if (metadataPath.isEmpty()) {
        failRunningPicture(text(kStatusFinishedWithoutCache));
        emitError({text(kMetadataMissingCode), text(kMetadataMissingMessage), text(kMetadataMissingDetail),
                   std::nullopt, true});
    } else {
        if (runningPictureRequest_) {
            setPictureStatus(*runningPictureRequest_, Status::Pending, text(kStatusLoadingStructure));
        }
        repository_.loadStream(cacheDirectory_, expectedSource_, generation_);
    }
    emit analysisFinished(generation_);
}

void AnalysisTaskService::failRunningPicture(const QString& message)
{
    if (runningPictureRequest_) {
        setPictureStatus(*std::exchange(runningPictureRequest_, std::nullopt), Status::Failed, message);
    }
}

void AnalysisTaskService::onWorkerError(const AnalyzerWorkerError& error)
{
    // An error that names no task (a start failure, a crash, a protocol defect) ends whatever
    // runs: the worker it came from is gone, and nothing else would ever end the task.
    if (!taskId_.isEmpty() && !error.taskId.isEmpty() && error.taskId != taskId_) {
        return;
    }
    taskId_.clear();
    streamAnalysisPending_ = false;
    pendingPictureRequest_.reset();
    targetDecodePictureId_ = 0;
    const std::optional<domain::PictureId> running = runningPictureRequest_;
    failRunningPicture(error.message);
    emitError({error.code, error.message, error.detail, running, error.recoverable});
}

void AnalysisTaskService::cancelAnalysis()
{
    if (!taskId_.isEmpty()) {
        client_.cancel(taskId_);
        return;
    }
    if (pendingPictureRequest_) {
        setPictureStatus(*std::exchange(pendingPictureRequest_, std::nullopt), Status::None, text(kStatusCanceled));
        targetDecodePictureId_ = 0;
    }
    streamAnalysisPending_ = false;
}

// --- Loads ---------------------------------------------------------------------------------

std::optional<domain::PictureId>
AnalysisTaskService::projectPictureFor(const analysis::PictureAnalysisSummary& summary, std::size_t position) const
{
    if (summary.displayIndex) {
        if (const auto found = displayIndexToPicture_.find(*summary.displayIndex); found != displayIndexToPicture_.end()) {
            return found->second;
        }
    }
    if (const auto found = displayIndexToPicture_.find(static_cast<std::int64_t>(position));
        found != displayIndexToPicture_.end()) {
        return found->second;
    }
    return summary.pictureId ? pictureIdFromDecodeId(*summary.pictureId) : std::nullopt;
}

void AnalysisTaskService::onStreamLoaded(qulonglong generation, const analysis::CacheManifest& manifest,
                                         const StreamAnalysisPtr& shared)
{
    if (generation != generation_ || !shared) {
        return;
    }
    const StreamAnalysis& stream = *shared;
    expectedSource_ = stream.sourceFingerprint.empty() ? std::nullopt : std::optional(stream.sourceFingerprint);
    pictureEntries_.clear();
    pictureIdentities_->clear();
    const std::optional<PictureInfoBatch> listed = listReusedPictures(stream);

    std::unordered_map<StableId, const ManifestPictureEntry*, analysis::StableIdHash> entryById;
    entryById.reserve(manifest.pictures.size());
    for (const ManifestPictureEntry& entry : manifest.pictures) {
        entryById.try_emplace(entry.stableId, &entry);
    }
    for (std::size_t position = 0; position < stream.pictures.size(); ++position) {
        const analysis::PictureAnalysisSummary& summary = stream.pictures[position];
        const auto entry = entryById.find(summary.id);
        const std::optional<domain::PictureId> picture = projectPictureFor(summary, position);
        if (!picture) {
            continue;
        }
        if (entry == entryById.end()) {
            setPictureStatus(*picture, Status::Failed, text(kStatusEntryMissing));
            continue;
        }
        indexPicture(*picture, summary, *entry->second);
    }
    reuseLoadPending_ = false;
    runningPictureRequest_.reset();
    randomAccessIndex_ = makeRandomAccessIndex(stream);
    streamDocument_ = shared;
    // Each receiver may close the source; what follows then belongs to no source.
    const auto stillCurrent = [this, generation] { return generation == generation_; };
    if (listed) {
        emit cachedPicturesListed(generation, *listed);
    }
    if (stillCurrent()) {
        emit streamAnalysisLoaded(generation, shared);
    }
    if (stillCurrent()) {
        emit analysisIndexReady(generation);
    }
}

void AnalysisTaskService::startPictureLoad(domain::PictureId picture, const ManifestPictureEntry& entry,
                                           analysis::PayloadExtent extent)
{
    setPictureStatus(picture, Status::Pending, text(kStatusLoading));
    repository_.loadPicture(cacheDirectory_, entry, picture, expectedSource_, generation_, extent);
}

void AnalysisTaskService::loadPictureAnalysis(domain::PictureId picture)
{
    // Asked for whole: a picture whose entry comes later (one selected while the pass still runs)
    // is then read whole by the preload, not as a picture loaded ahead.
    completePreload_ = picture;
    const auto entry = pictureEntries_.find(picture);
    if (entry == pictureEntries_.end()) {
        setPictureStatus(picture, Status::None, text(kStatusNoCachedAnalysis));
        return;
    }
    startPictureLoad(picture, entry->second, analysis::PayloadExtent::Complete);
}

void AnalysisTaskService::preloadPictureAnalyses(std::optional<domain::PictureId> first)
{
    if (cacheDirectory_.empty() || pictureEntries_.empty()) {
        return;
    }
    pictureLoadQueue_.clear();
    queuedPictures_.clear();
    completePreload_ = first;
    if (first) {
        enqueuePreload(*first);
    }
    std::vector<domain::PictureId> pictures;
    pictures.reserve(pictureEntries_.size());
    for (const auto& [picture, entry] : pictureEntries_) {
        pictures.push_back(picture);
    }
    std::sort(pictures.begin(), pictures.end());
    for (const domain::PictureId picture : pictures) {
        enqueuePreload(picture);
    }
    startNextPreload();
}

void AnalysisTaskService::enqueuePreload(domain::PictureId picture)
{
    if (!pictureEntries_.contains(picture) || loadingPicture_ == picture || !queuedPictures_.insert(picture).second) {
        return;
    }
    pictureLoadQueue_.push_back(picture);
}

void AnalysisTaskService::startNextPreload()
{
    if (loadingPicture_ || pictureLoadQueue_.empty() || cacheDirectory_.empty()) {
        return;
    }
    const domain::PictureId picture = pictureLoadQueue_.front();
    pictureLoadQueue_.pop_front();
    queuedPictures_.erase(picture);
    const auto entry = pictureEntries_.find(picture);
    if (entry == pictureEntries_.end()) {
        // Moved on at the next pass of the event loop, so a queue of vanished entries never spins.
        QTimer::singleShot(0, this, &AnalysisTaskService::startNextPreload);
        return;
    }
    loadingPicture_ = picture;
    startPictureLoad(picture, entry->second,
                     picture == completePreload_ ? analysis::PayloadExtent::Complete
                                                 : analysis::PayloadExtent::PictureRecords);
}

void AnalysisTaskService::onPictureLoaded(const PictureAnalysisPayload& payload)
{
    if (payload.generation != generation_) {
        return;
    }
    // Its picture references were rewritten on the job thread, before the document was frozen.
    setPictureStatus(payload.pictureId, Status::IndexReady, text(kStatusReady));
    const bool preloaded = loadingPicture_ == payload.pictureId;
    if (preloaded) {
        loadingPicture_.reset();
    }
    emit pictureAnalysisLoaded(payload);
    startNextPreload();
    if (preloaded && pictureLoadQueue_.empty()) {
        returnFreedMemoryAfterReleases();
    }
}

void AnalysisTaskService::onRepositoryError(const AnalysisRepositoryError& error)
{
    if (error.generation != generation_ || reanalyzeUnreadableCache(error)) {
        return;
    }
    if (error.pictureId) {
        setPictureStatus(*error.pictureId, Status::Failed, error.message);
        if (loadingPicture_ == error.pictureId) {
            loadingPicture_.reset();
            startNextPreload();
        }
    } else {
        failRunningPicture(error.message);
    }
    if (cacheWipePending_ && error.code == QLatin1String(kClearFailedCode)) {
        cacheWipePending_ = false;
    }
    emitError({error.code, error.message, error.detail, error.pictureId, true});
}

// --- Clearing and closing ------------------------------------------------------------------

void AnalysisTaskService::forgetPictures()
{
    randomAccessIndex_.reset();
    streamDocument_.reset();
    pictureEntries_.clear();
    pictureStatuses_.clear();
    pictureIdentities_->clear();
}

void AnalysisTaskService::clearPreload()
{
    pictureLoadQueue_.clear();
    queuedPictures_.clear();
    loadingPicture_.reset();
    completePreload_.reset();
}

void AnalysisTaskService::clearCache()
{
    streamAnalysisPending_ = false;
    pendingPictureRequest_.reset();
    targetDecodePictureId_ = 0;
    runningPictureRequest_.reset();
    clearPreload();
    cancelAnalysis();
    abandonJobs();
    forgetPictures();
    cacheWipePending_ = true;
    if (cacheDirectory_.empty()) {
        cacheWipePending_ = false;
        emit cacheCleared(generation_);
        return;
    }
    repository_.clearCache(cacheDirectory_, generation_);
}

void AnalysisTaskService::onCacheCleared(qulonglong generation)
{
    if (generation != generation_) {
        return;
    }
    forgetPictures();
    clearPreload();
    cacheWipePending_ = false;
    emit cacheCleared(generation);
}

void AnalysisTaskService::closeSource()
{
    streamAnalysisPending_ = false;
    cancelAnalysis();
    taskId_.clear();
    runningPictureRequest_.reset();
    clearPreload();
    repository_.cancelAllJobs();
    client_.shutdown();
    forgetPictures();
    forgetCacheReuse();
    displayIndexToPicture_.clear();
    expectedSource_.reset();
    sourcePath_.clear();
    cacheDirectory_.clear();
    pendingPictureRequest_.reset();
    targetDecodePictureId_ = 0;
    streamAnalysisPending_ = false;
    reanalyze_ = false;
    cacheWipePending_ = false;
    ++generation_;
}

void AnalysisTaskService::shutdown()
{
    closeSource();
    repository_.stopAllJobs();
}

}  // namespace vexilo::application
