#include "vexilo/application/ProjectController.h"

#include "PictureThumbnailQueue.h"
#include "vexilo/application/AnalysisTaskService.h"
#include "vexilo/application/CodedPictureCount.h"
#include "vexilo/application/FfmpegDecodeWorker.h"
#include "vexilo/application/FfmpegFrameDecodeWorker.h"
#include "vexilo/media/PathText.h"
#include "vexilo/threading/ThreadMailbox.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace vexilo::application {
namespace {

constexpr auto kControllerObjectName = "projectController";
constexpr auto kDecodeThreadName = "ffmpegDecodeThread";
constexpr auto kFrameDecodeThreadName = "ffmpegFrameDecodeThread";
constexpr auto kControllerSource = "ProjectController";

constexpr auto kInvalidStateCode = "invalid_project_state";
constexpr auto kInvalidStateMessage = "A project task is already active";
constexpr auto kInvalidStateDetail = "Close or cancel the current project first.";
constexpr auto kInvalidPathCode = "invalid_source_path";
constexpr auto kInvalidPathMessage = "No HEVC source path was provided";
constexpr auto kLifecycleErrorCode = "task_lifecycle_error";
constexpr auto kLifecycleErrorMessage = "The background task stopped without a terminal event";
constexpr auto kSynthesisedCodecName = "hevc";
constexpr std::int64_t kSynthesisedStreamIndex = 1;
constexpr auto kNoSourceReason = "No source path is open.";
constexpr auto kOnDemandFailedReason = "The decoded frame could not be loaded on demand. %1";

}  // namespace

ProjectController::ProjectController(QObject* parent, ProjectControllerOptions options)
    : QObject(parent),
      frameCache_(std::make_shared<VideoFrameCache>(options.frameCacheBytes)),
      useAnalyzerWorker_(options.useAnalyzerWorker),
      decodeBatchInterval_(options.decodeBatchInterval)
{
    setObjectName(QString::fromLatin1(kControllerObjectName));
    mailbox_ = new threading::ThreadMailbox(this);
    threading::ThreadMailbox* mailbox = mailbox_;
    thumbnailQueue_ = std::make_unique<PictureThumbnailQueue>(
        [this, mailbox] { mailbox->post([this] { emitFinishedPictures(); }); });
    registerProjectMetaTypes();
    analysisService_ = new AnalysisTaskService(this, std::move(options.analysisOptions));
    connectAnalysisService();
}

ProjectController::~ProjectController()
{
    if (!shuttingDown_ || activeTaskId_ != 0) {
        shutdown();
    }
    // A QThread destroyed while it runs aborts the program: every frame thread is joined here.
    stopFrameThreads();
    // The service outlives this body as a child; what it says while it goes must not reach
    // members that are already gone.
    ignoreServiceSignals_ = true;
    delete analysisService_;
    analysisService_ = nullptr;
}

void ProjectController::connectAnalysisService()
{
    AnalysisTaskService* service = analysisService_;
    // Every reaction first asks whether the service still speaks for a project.
    const auto when = [this](auto reaction) {
        return [this, reaction](auto&&... arguments) {
            if (!ignoreServiceSignals_) {
                reaction(std::forward<decltype(arguments)>(arguments)...);
            }
        };
    };
    connect(service, &AnalysisTaskService::analysisStarted, this,
            when([this](qulonglong generation, const QString& taskId) { emit analysisStarted(generation, taskId); }));
    connect(service, &AnalysisTaskService::decodedFrameReceived, this,
            when([this](const protocol::AnalyzerFramePacket& packet) { onAnalyzerFrame(packet); }));
    connect(service, &AnalysisTaskService::analysisFinished, this, when([this](qulonglong generation) {
                // Every picture the worker sent is told before the end of its pass.
                emitAllArrivedPictures();
                emit analysisFinished(generation);
                if (generation >= analyzerGeneration_) {
                    onAnalyzerFinished();
                }
            }));
    connect(service, &AnalysisTaskService::analysisCanceled, this, when([this](qulonglong generation) {
                emit analysisCanceled(generation);
                if (generation >= analyzerGeneration_) {
                    onAnalyzerCanceled();
                }
            }));
    connect(service, &AnalysisTaskService::cacheCleared, this,
            when([this](qulonglong generation) { emit analysisCacheCleared(generation); }));
    connect(service, &AnalysisTaskService::pictureAnalysisStatusChanged, this,
            when([this](const PictureAnalysisState& state) { emit pictureAnalysisStatusChanged(state); }));
    connect(service, &AnalysisTaskService::pictureAnalysisLoaded, this,
            when([this](const PictureAnalysisPayload& payload) { emit pictureAnalysisLoaded(payload); }));
    connect(service, &AnalysisTaskService::streamAnalysisLoaded, this,
            when([this](qulonglong generation, const StreamAnalysisPtr& analysis) {
                useRandomAccessIndex(analysisService_->randomAccessIndex());
                emit streamAnalysisLoaded(generation, analysis);
            }));
    connect(service, &AnalysisTaskService::analysisError, this, when([this](const AnalysisTaskError& error) {
                emit analysisError(error);
                onAnalyzerError();
            }));
    connect(service, &AnalysisTaskService::analysisIndexReady, this,
            when([this](qulonglong) { analysisService_->preloadPictureAnalyses(selectedPicture_); }));
    connect(service, &AnalysisTaskService::cachedPicturesListed, this,
            when([this](qulonglong, const PictureInfoBatch& pictures) { onCachedPicturesListed(pictures); }));
    connect(service, &AnalysisTaskService::cachedAnalysisUnreadable, this,
            when([this](qulonglong) { onCachedAnalysisUnreadable(); }));
}

bool ProjectController::isState(std::initializer_list<ProjectState> states) const
{
    return std::find(states.begin(), states.end(), state_) != states.end();
}

void ProjectController::enterState(ProjectState next)
{
    if (state_ == next) {
        return;
    }
    state_ = next;
    emit stateChanged(next);
}

void ProjectController::emitRefusal(const char* code, const char* message, const char* detail)
{
    ProjectTaskError refusal;
    refusal.code = QString::fromLatin1(code);
    refusal.source = QString::fromLatin1(kControllerSource);
    refusal.message = QString::fromLatin1(message);
    refusal.detail = QString::fromLatin1(detail);
    refusal.recoverable = true;
    emit taskError(refusal);
}

void ProjectController::openProject(const std::filesystem::path& sourcePath)
{
    if (shuttingDown_) {
        return;
    }
    if (activeTaskId_ != 0 || !isState({ProjectState::Empty, ProjectState::Error})) {
        emitRefusal(kInvalidStateCode, kInvalidStateMessage, kInvalidStateDetail);
        return;
    }
    if (sourcePath.empty()) {
        emitRefusal(kInvalidPathCode, kInvalidPathMessage, "");
        return;
    }
    resetProjectData();
    sourcePath_ = sourcePath;
    enterState(ProjectState::Opening);
    if (useAnalyzerWorker_ && !fallbackPending_) {
        if (!openFromAnalysisCache()) {
            startAnalyzerOpen();
        }
    } else {
        startInProcessDecode(frameCache_);
    }
}

void ProjectController::startAnalyzerOpen()
{
    enterAnalyzerRoad();
    emit taskStarted(media::pathToQString(sourcePath_));
    emit taskProgress({kProgressStageProbing, 0});
    runAnalyzer(false);
}

void ProjectController::enterAnalyzerRoad()
{
    analyzerPathActive_ = true;
    analyzerFrameCount_ = 0;
    activeTaskId_ = nextTaskId_++;
}

void ProjectController::runAnalyzer(bool reanalyze)
{
    countExpectedPictures();
    // A run still going (one the user cancelled a moment ago, or one started for the last
    // project) would make the service refuse this one and then feed its frames to this project.
    if (analysisService_->isBusy()) {
        closeAnalysisSource();
    }
    analysisService_->startAnalysis(media::pathToQString(sourcePath_), reanalyze);
    analyzerGeneration_ = analysisService_->generation();
}

bool ProjectController::openFromAnalysisCache()
{
    if (analysisService_->isBusy()) {
        closeAnalysisSource();
    }
    if (!analysisService_->reuseCachedAnalysis(media::pathToQString(sourcePath_))) {
        return false;
    }
    // The cache lists the pictures and holds their analysis, so stepping need not wait for any
    // decode of the stream; only the thumbnails are decoded, in-process. That decode keeps no
    // frames: going through the whole stream, it would evict the frames that stepping has put in
    // the cache around the current picture.
    openedFromCache_ = true;
    cacheListing_ = CacheListing::Awaiting;
    startInProcessDecode(nullptr);
    return true;
}

void ProjectController::onCachedPicturesListed(const PictureInfoBatch& pictures)
{
    if (cacheListing_ != CacheListing::Awaiting || state_ != ProjectState::Analyzing) {
        return;
    }
    cacheListing_ = CacheListing::Listed;
    pictures_ = pictures;
    emit pictureBatchDecoded(pictures);
    // A receiver may have ended the open; if not, and its thumbnails are done, it ends here.
    if (cacheListing_ == CacheListing::Listed && thumbnailsFinished_) {
        finishOpen(*std::exchange(thumbnailsFinished_, std::nullopt));
    }
}

void ProjectController::onCachedAnalysisUnreadable()
{
    if (cacheListing_ != CacheListing::Awaiting || activeTaskId_ == 0) {
        return;
    }
    // The open goes on as one without a cache: a fresh analysis lists the pictures, and the
    // worker's frames bring their thumbnails.
    stopDecodeTask();
    cacheListing_ = CacheListing::None;
    thumbnailsFinished_.reset();
    enterAnalyzerRoad();
    runAnalyzer(true);
}

void ProjectController::leaveCacheRoad()
{
    cacheListing_ = CacheListing::None;
    thumbnailsFinished_.reset();
    openedFromCache_ = false;
}

void ProjectController::closeAnalysisSource()
{
    const bool wasIgnoring = std::exchange(ignoreServiceSignals_, true);
    analysisService_->closeSource();
    ignoreServiceSignals_ = wasIgnoring;
}

void ProjectController::onAnalyzerFrame(const protocol::AnalyzerFramePacket& packet)
{
    if (!analyzerPathActive_ || !isState({ProjectState::Opening, ProjectState::Analyzing})) {
        return;
    }
    if (!streamInfo_) {
        domain::StreamInfo info;
        info.streamIndex = kSynthesisedStreamIndex;
        info.sourcePath = sourcePath_;
        info.codecName = kSynthesisedCodecName;
        info.width = packet.frame.width;
        info.height = packet.frame.height;
        info.bitDepth = packet.frame.bitDepth;
        info.pixelFormatName = packet.frame.pixelFormatName;
        info.frameCount = -1;
        streamInfo_ = info;
        if (state_ == ProjectState::Opening) {
            enterState(ProjectState::Analyzing);
        }
        emit streamReady(info);
    }
    auto frame = std::make_shared<const domain::VideoFrame>(packet.frame);
    frameCache_->insert(frame);
    // The pass's frames stream through the cache from the first picture to the last; the frame
    // on screen is kept the most recently used, so that they do not push it out from under the
    // user, whose reads of its samples would then wait for a decode.
    if (selectedPicture_) {
        frameCache_->markMostRecentlyUsed(*selectedPicture_);
    }
    // The picture is told, thumbnail first, once its thumbnail is made.
    thumbnailQueue_->submit(activeTaskId_, std::move(frame), packet.picture);
}

// The worker's pass sends each picture once its blocks are analysed; how many there will be
// comes from a read of the NAL unit headers beside it, so the open can say how far it is.
void ProjectController::countExpectedPictures()
{
    expectedPictures_ = 0;
    threading::ThreadMailbox* mailbox = mailbox_;
    pictureCountThread_ = std::jthread([this, mailbox, taskId = activeTaskId_,
                                        path = sourcePath_](const std::stop_token& stop) {
        if (const std::optional<std::uint64_t> pictures = countCodedPictures(path, stop)) {
            mailbox->post([this, taskId, count = *pictures] { onExpectedPicturesCounted(taskId, count); });
        }
    });
}

void ProjectController::onExpectedPicturesCounted(std::uint64_t taskId, std::uint64_t pictures)
{
    if (taskId != activeTaskId_ || !analyzerPathActive_) {
        return;
    }
    // Told with the next picture: the pictures' own signals stay the only progress there is.
    expectedPictures_ = pictures;
}

void ProjectController::emitFinishedPictures()
{
    // One at a time: a slot that runs the event loop comes back here, and must tell the pictures
    // after the one being told, not before it.
    while (std::optional<PictureThumbnailQueue::Finished> next = thumbnailQueue_->takeNextFinished()) {
        const PictureThumbnailQueue::Finished& finished = *next;
        // Every signal below may end the open (a cancel from a slot): each picture asks anew.
        if (!analyzerPathActive_ || finished.taskId != activeTaskId_) {
            continue;
        }
        ++analyzerFrameCount_;
        if (!finished.thumbnail.rgba.empty()) {
            emit pictureThumbnailReady(finished.thumbnail);
        }
        pictures_.push_back(finished.picture);
        emit pictureBatchDecoded(PictureInfoBatch{finished.picture});
        emitAnalyzerProgress();
    }
}

void ProjectController::emitAllArrivedPictures()
{
    if (analyzerPathActive_) {
        thumbnailQueue_->waitUntilIdle();
        emitFinishedPictures();
    }
}

void ProjectController::emitAnalyzerProgress()
{
    ProjectTaskProgress progress;
    progress.stage = kProgressStageDecoding;
    progress.decodedPictures = analyzerFrameCount_;
    // A count that the stream outgrows (a damaged header, say) is no total any more.
    progress.expectedPictures = expectedPictures_ >= analyzerFrameCount_ ? expectedPictures_ : 0;
    emit taskProgress(progress);
}

void ProjectController::leaveAnalyzerRoad()
{
    analyzerPathActive_ = false;
    activeTaskId_ = 0;
    analyzerFrameCount_ = 0;
    expectedPictures_ = 0;
    forgetFallback();
    leaveCacheRoad();
}

// Every way out of an open leaves the flags as a fresh controller has them: a fallback flag
// left behind would send the next open past the analyzer and swallow its taskStarted.
void ProjectController::forgetFallback()
{
    fallbackPending_ = false;
    suppressNextTaskStarted_ = false;
}

void ProjectController::onAnalyzerFinished()
{
    if (!analyzerPathActive_) {
        return;
    }
    if (pictures_.empty()) {
        fallBackToInProcess();
        return;
    }
    analysisService_->setDecodedPictures(pictures_);
    ProjectTaskSummary summary;
    summary.picturesDecoded = analyzerFrameCount_;
    // The worker decoded the stream itself; its own packet counts tell what it went through.
    const AnalyzerPacketCounts packets = analysisService_->lastRunPacketCounts();
    summary.packetsRead = packets.read;
    summary.packetsSent = packets.sent;
    leaveAnalyzerRoad();
    if (state_ == ProjectState::Opening) {
        enterState(ProjectState::Analyzing);
    }
    if (state_ == ProjectState::Analyzing) {
        enterState(ProjectState::Ready);
    }
    emit taskFinished(summary);
}

void ProjectController::onAnalyzerCanceled()
{
    if (!analyzerPathActive_) {
        return;
    }
    leaveAnalyzerRoad();
    endCanceled();
}

void ProjectController::endCanceled()
{
    resetProjectData();
    if (isState({ProjectState::Opening, ProjectState::Analyzing})) {
        enterState(ProjectState::Cancelling);
    }
    if (isState({ProjectState::Cancelling, ProjectState::Closing})) {
        enterState(ProjectState::Empty);
    }
    emit taskCanceled();
}

void ProjectController::onAnalyzerError()
{
    if (analyzerPathActive_) {
        fallBackToInProcess();
    }
}

void ProjectController::fallBackToInProcess()
{
    const std::filesystem::path source = sourcePath_;
    leaveAnalyzerRoad();
    resetProjectData();
    if (isState({ProjectState::Opening, ProjectState::Analyzing})) {
        enterState(ProjectState::Error);
    }
    fallbackPending_ = true;
    suppressNextTaskStarted_ = true;
    QTimer::singleShot(0, this, [this, source] {
        if (!shuttingDown_ && state_ == ProjectState::Error) {
            openProject(source);
        } else if (activeTaskId_ == 0) {
            forgetFallback();
        }
    });
}

void ProjectController::startInProcessDecode(std::shared_ptr<VideoFrameCache> frames)
{
    fallbackPending_ = false;
    const std::uint64_t taskId = nextTaskId_++;
    activeTaskId_ = taskId;
    taskShared_ = std::make_shared<TaskSharedState>();
    decodeThread_ = new QThread(this);
    decodeThread_->setObjectName(QString::fromLatin1(kDecodeThreadName));
    auto* worker = new FfmpegDecodeWorker(taskId, sourcePath_, taskShared_, std::move(frames), decodeBatchInterval_);
    worker->moveToThread(decodeThread_);
    connectDecodeWorker(worker, taskId);
    QTimer::singleShot(0, this, [this, taskId] {
        if (activeTaskId_ == taskId) {
            startDecodeThreadIfIdle();
        }
    });
}

void ProjectController::connectDecodeWorker(FfmpegDecodeWorker* worker, std::uint64_t taskId)
{
    connect(decodeThread_, &QThread::started, worker, &FfmpegDecodeWorker::run, Qt::QueuedConnection);
    connect(decodeThread_, &QThread::finished, worker, &QObject::deleteLater);
    relayToGuiThread(worker, &FfmpegDecodeWorker::started,
                     [this](std::uint64_t id, const QString& path) { onDecodeStarted(id, path); });
    relayToGuiThread(worker, &FfmpegDecodeWorker::progress,
                     [this](std::uint64_t id, const ProjectTaskProgress& progress) { onDecodeProgress(id, progress); });
    relayToGuiThread(worker, &FfmpegDecodeWorker::streamProbed,
                     [this](std::uint64_t id, const domain::StreamInfo& info) { onStreamProbed(id, info); });
    relayToGuiThread(worker, &FfmpegDecodeWorker::picturesReady,
                     [this](std::uint64_t id, const PictureInfoBatch& batch) { onPicturesReady(id, batch); });
    relayToGuiThread(worker, &FfmpegDecodeWorker::pictureThumbnailReady,
                     [this](std::uint64_t id, const PictureThumbnail& thumbnail) { onDecodeThumbnail(id, thumbnail); });
    relayToGuiThread(worker, &FfmpegDecodeWorker::randomAccessIndexRecorded,
                     [this](std::uint64_t id, const std::shared_ptr<const media::RandomAccessIndex>& index) {
                         if (id == activeTaskId_) {
                             useRandomAccessIndex(index);
                         }
                     });
    QThread* thread = decodeThread_;
    for (auto terminal : {&FfmpegDecodeWorker::finished, &FfmpegDecodeWorker::error, &FfmpegDecodeWorker::canceled}) {
        connect(worker, terminal, thread, &QThread::quit, Qt::DirectConnection);
        relayToGuiThread(worker, terminal, [this, taskId](std::uint64_t) { finishDecodeTask(taskId); });
    }
}

template <typename Worker, typename Signal, typename Handler>
void ProjectController::relayToGuiThread(Worker* worker, Signal signal, Handler handler)
{
    // Runs on the worker's thread: the arguments are copied there and cross to the GUI thread
    // under the mailbox's lock. The connection goes with the worker, on the worker's thread.
    threading::ThreadMailbox* mailbox = mailbox_;
    connect(
        worker, signal, worker,
        [mailbox, handler](const auto&... arguments) {
            mailbox->post([handler, arguments...] { handler(arguments...); });
        },
        Qt::DirectConnection);
}

void ProjectController::startDecodeThreadIfIdle()
{
    // A thread that has already run must not be started again: its worker is gone and nothing
    // would ever quit its event loop.
    if (decodeThread_ != nullptr && !decodeThread_->isRunning() && !decodeThread_->isFinished()) {
        decodeThread_->start(QThread::InheritPriority);
    }
}

void ProjectController::onDecodeStarted(std::uint64_t taskId, const QString& sourcePath)
{
    if (taskId != activeTaskId_) {
        return;
    }
    if (suppressNextTaskStarted_) {
        suppressNextTaskStarted_ = false;
        return;
    }
    emit taskStarted(sourcePath);
}

void ProjectController::onDecodeProgress(std::uint64_t taskId, const ProjectTaskProgress& progress)
{
    if (taskId == activeTaskId_ && !isState({ProjectState::Cancelling, ProjectState::Closing})) {
        emit taskProgress(progress);
    }
}

void ProjectController::onStreamProbed(std::uint64_t taskId, const domain::StreamInfo& info)
{
    if (taskId != activeTaskId_ || state_ != ProjectState::Opening) {
        return;
    }
    streamInfo_ = info;
    enterState(ProjectState::Analyzing);
    emit streamReady(info);
    // Read only now, so that the pictures it lists follow the stream's description, as on every road.
    if (taskId == activeTaskId_ && cacheListing_ == CacheListing::Awaiting) {
        analysisService_->loadReusedAnalysis();
    }
}

void ProjectController::onPicturesReady(std::uint64_t taskId, const PictureInfoBatch& batch)
{
    // On the reopen road the cache lists the pictures; its decode brings only their thumbnails.
    if (taskId != activeTaskId_ || state_ != ProjectState::Analyzing || cacheListing_ != CacheListing::None) {
        return;
    }
    pictures_.insert(pictures_.end(), batch.begin(), batch.end());
    analysisService_->setDecodedPictures(pictures_);
    emit pictureBatchDecoded(batch);
}

void ProjectController::onDecodeThumbnail(std::uint64_t taskId, const PictureThumbnail& thumbnail)
{
    if (taskId == activeTaskId_ && state_ == ProjectState::Analyzing) {
        emit pictureThumbnailReady(thumbnail);
    }
}

void ProjectController::finishDecodeTask(std::uint64_t taskId)
{
    if (taskId != activeTaskId_ || decodeThread_ == nullptr || !taskShared_) {
        return;
    }
    const DecodeOutcome outcome = releaseDecodeTask();
    const bool canceled = outcome.cancelRequested || isState({ProjectState::Cancelling, ProjectState::Closing});
    if (!canceled && outcome.kind == DecodeTerminalKind::Finished) {
        if (cacheListing_ == CacheListing::Awaiting) {
            // The thumbnails are done before the cache has listed the pictures: the listing ends the open.
            thumbnailsFinished_ = outcome.summary;
            return;
        }
        finishOpen(outcome.summary);
        return;
    }
    endTask();
    // Whatever the service still does for this open (a load, preloads, a worker run) ends with it.
    closeAnalysisSource();
    if (!canceled && outcome.kind != DecodeTerminalKind::Canceled) {
        failOpen(outcome);
        return;
    }
    endCanceled();
}

ProjectController::DecodeOutcome ProjectController::releaseDecodeTask()
{
    decodeThread_->wait();
    DecodeOutcome outcome;
    {
        const std::lock_guard lock(taskShared_->mutex);
        outcome.kind = taskShared_->terminalKind;
        outcome.summary = taskShared_->summary;
        outcome.error = taskShared_->error;
    }
    outcome.cancelRequested = taskShared_->cancelRequested.load();
    delete decodeThread_;
    decodeThread_ = nullptr;
    taskShared_.reset();
    return outcome;
}

// Ends the decode with no word of its outcome; what it still posts carries a task id that is
// no longer the active one.
void ProjectController::stopDecodeTask()
{
    if (decodeThread_ == nullptr || !taskShared_) {
        return;
    }
    taskShared_->cancelRequested.store(true);
    // A thread that has not started yet is started so that its worker sees the flag and ends.
    startDecodeThreadIfIdle();
    releaseDecodeTask();
}

void ProjectController::endTask()
{
    activeTaskId_ = 0;
    forgetFallback();
}

void ProjectController::finishOpen(const ProjectTaskSummary& summary)
{
    endTask();
    leaveCacheRoad();
    if (state_ == ProjectState::Analyzing) {
        enterState(ProjectState::Ready);
    }
    emit taskFinished(summary);
}

void ProjectController::failOpen(const DecodeOutcome& outcome)
{
    resetProjectData();
    if (isState({ProjectState::Opening, ProjectState::Analyzing})) {
        enterState(ProjectState::Error);
    }
    ProjectTaskError error = outcome.error;
    if (outcome.kind == DecodeTerminalKind::None) {
        error = {};
        error.code = QString::fromLatin1(kLifecycleErrorCode);
        error.source = QString::fromLatin1(kControllerSource);
        error.message = QString::fromLatin1(kLifecycleErrorMessage);
    }
    emit taskError(error);
}

void ProjectController::cancelOpenWithoutDecode()
{
    endTask();
    endCanceled();
}

void ProjectController::cancelTask()
{
    if (activeTaskId_ == 0 || !isState({ProjectState::Opening, ProjectState::Analyzing})) {
        return;
    }
    enterState(ProjectState::Cancelling);
    if (analyzerPathActive_) {
        // Off the road first: a cancel the client refuses at once comes back as an analysis
        // error, which must not start a fallback for the open being cancelled.
        const bool fromCache = openedFromCache_;
        leaveAnalyzerRoad();
        if (fromCache) {
            // The analysis of a cache that proved unreadable ends with the worker that runs it.
            closeAnalysisSource();
        } else {
            analysisService_->cancelAnalysis();
        }
        resetProjectData();
        enterState(ProjectState::Empty);
        emit taskCanceled();
        return;
    }
    // Nothing the service does for this open (the reopen's load and preloads) outlives it.
    closeAnalysisSource();
    if (taskShared_) {
        taskShared_->cancelRequested.store(true);
        return;
    }
    cancelOpenWithoutDecode();
}

void ProjectController::closeProject()
{
    cancelFrameRequests();
    // A fallback that has not reopened yet belongs to the project being closed.
    forgetFallback();
    if (analyzerPathActive_) {
        closeAnalyzerOpen();
        return;
    }
    closeAnalysisSource();
    if (activeTaskId_ != 0) {
        closeInProcessTask();
        return;
    }
    if (!isState({ProjectState::Ready, ProjectState::Error})) {
        return;
    }
    enterState(ProjectState::Closing);
    stopFrameThreads();
    resetProjectData();
    enterState(ProjectState::Empty);
}

void ProjectController::closeAnalyzerOpen()
{
    // Leave the road and enter Closing first: closing the source blocks while the worker's last
    // signals arrive, and none of them may run the cancel or fallback paths of this open.
    if (isState({ProjectState::Opening, ProjectState::Analyzing})) {
        enterState(ProjectState::Closing);
    }
    leaveAnalyzerRoad();
    closeAnalysisSource();
    stopFrameThreads();
    resetProjectData();
    if (isState({ProjectState::Cancelling, ProjectState::Closing})) {
        enterState(ProjectState::Empty);
    }
    emit taskCanceled();
}

void ProjectController::closeInProcessTask()
{
    if (isState({ProjectState::Opening, ProjectState::Analyzing})) {
        enterState(ProjectState::Closing);
    }
    if (taskShared_) {
        taskShared_->cancelRequested.store(true);
    }
    if (decodeThread_ != nullptr) {
        // A thread that has not started yet is started so that its worker sees the flag and ends.
        startDecodeThreadIfIdle();
        decodeThread_->wait();
        finishDecodeTask(activeTaskId_);
    } else {
        cancelOpenWithoutDecode();
    }
    stopFrameThreads();
    resetProjectData();
}

void ProjectController::shutdown()
{
    if (shuttingDown_ && activeTaskId_ == 0) {
        return;
    }
    shuttingDown_ = true;
    const bool wasIgnoring = std::exchange(ignoreServiceSignals_, true);
    analysisService_->shutdown();
    ignoreServiceSignals_ = wasIgnoring;
    closeProject();
    stopFrameThreads();
}

bool ProjectController::isAnalysisBusy() const
{
    return analysisService_ != nullptr && analysisService_->isBusy();
}

PictureAnalysisStatus ProjectController::pictureAnalysisStatus(domain::PictureId pictureId) const
{
    return analysisService_ != nullptr ? analysisService_->pictureAnalysisStatus(pictureId)
                                       : PictureAnalysisStatus::None;
}

bool ProjectController::canAnalyze() const
{
    return analysisService_ != nullptr && !sourcePath_.empty() &&
           isState({ProjectState::Ready, ProjectState::Analyzing});
}

void ProjectController::analyzeStream()
{
    if (canAnalyze()) {
        analysisService_->startAnalysis(media::pathToQString(sourcePath_), false);
    }
}

void ProjectController::reanalyzeStream()
{
    if (canAnalyze()) {
        analysisService_->startAnalysis(media::pathToQString(sourcePath_), true);
    }
}

void ProjectController::analyzeCurrentPictureStructure()
{
    if (canAnalyze() && selectedPicture_) {
        analysisService_->analyzePictureStructure(*selectedPicture_);
    }
}

void ProjectController::cancelAnalysis()
{
    if (analysisService_ != nullptr) {
        analysisService_->cancelAnalysis();
    }
}

void ProjectController::clearAnalysisCache()
{
    if (analysisService_ != nullptr) {
        analysisService_->clearCache();
    }
}

VideoFramePtr ProjectController::cachedFrame(domain::PictureId pictureId) const
{
    return frameCache_->find(pictureId);
}

void ProjectController::resetProjectData()
{
    if (selectedPicture_) {
        selectedPicture_.reset();
        emit pictureSelectionCleared();
    }
    cancelFrameRequests();
    retireFrameDecoder();
    randomAccessIndex_.reset();
    lastSelectedDisplayIndex_.reset();
    thumbnailQueue_->discard();
    leaveCacheRoad();
    streamInfo_.reset();
    pictures_.clear();
    frameCache_->clear();
    sourcePath_.clear();
}

const domain::PictureInfo* ProjectController::findPicture(domain::PictureId pictureId) const
{
    const auto found = std::find_if(pictures_.begin(), pictures_.end(),
                                    [pictureId](const domain::PictureInfo& picture) { return picture.id == pictureId; });
    return found == pictures_.end() ? nullptr : &*found;
}

bool ProjectController::selectPicture(domain::PictureId pictureId)
{
    if (!isState({ProjectState::Ready, ProjectState::Analyzing})) {
        return false;
    }
    const domain::PictureInfo* picture = findPicture(pictureId);
    if (picture == nullptr) {
        return false;
    }
    if (selectedPicture_ == pictureId) {
        analysisService_->loadPictureAnalysis(pictureId);
        return true;
    }
    selectedPicture_ = pictureId;
    emit pictureSelectionChanged(pictureId);
    if (VideoFramePtr frame = frameCache_->find(pictureId)) {
        emit selectedFrameReady(std::move(frame));
        // Only with random access is reading ahead worth a decoder: from the stream's start it
        // would cost more than the steps it spares.
        if (randomAccessIndex_) {
            requestFrames(*picture, false);
        }
    } else {
        requestFrames(*picture, true);
    }
    lastSelectedDisplayIndex_ = picture->displayIndex;
    analysisService_->loadPictureAnalysis(pictureId);
    return true;
}

void ProjectController::clearPictureSelection()
{
    if (selectedPicture_) {
        selectedPicture_.reset();
        emit pictureSelectionCleared();
    }
}

void ProjectController::requestFrames(const domain::PictureInfo& picture, bool deliver)
{
    if (sourcePath_.empty()) {
        if (deliver) {
            emit selectedFrameUnavailable(picture.id, QString::fromLatin1(kNoSourceReason));
        }
        return;
    }
    FrameRequest request;
    request.requestId = nextTaskId_++;
    request.pictureId = picture.id;
    request.displayIndex = picture.displayIndex;
    request.deliver = deliver;
    request.direction = lastSelectedDisplayIndex_ && picture.displayIndex < *lastSelectedDisplayIndex_ ? -1 : 1;
    frameDecodeWorker().request(request);
}

FfmpegFrameDecodeWorker& ProjectController::frameDecodeWorker()
{
    if (frameDecoder_.worker != nullptr) {
        return *frameDecoder_.worker;
    }
    auto* thread = new QThread(this);
    thread->setObjectName(QString::fromLatin1(kFrameDecodeThreadName));
    auto* worker = new FfmpegFrameDecodeWorker(sourcePath_, frameCache_, randomAccessIndex_);
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &FfmpegFrameDecodeWorker::run, Qt::QueuedConnection);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &FfmpegFrameDecodeWorker::finished, thread, &QThread::quit, Qt::DirectConnection);
    relayToGuiThread(worker, &FfmpegFrameDecodeWorker::finished, [this, thread] { onFrameDecoderFinished(thread); });
    relayToGuiThread(worker, &FfmpegFrameDecodeWorker::frameReady,
                     [this](std::uint64_t, domain::PictureId id, const VideoFramePtr& frame) { onFrameReady(id, frame); });
    relayToGuiThread(worker, &FfmpegFrameDecodeWorker::unavailable,
                     [this](std::uint64_t, domain::PictureId id, const QString& reason) {
                         onFrameUnavailable(id, reason);
                     });
    frameDecoder_ = FrameDecoder{thread, worker};
    thread->start(QThread::InheritPriority);
    return *worker;
}

FrameDecodeCounts ProjectController::frameDecodeCounts() const
{
    return frameDecoder_.worker != nullptr ? frameDecoder_.worker->counts() : FrameDecodeCounts{};
}

void ProjectController::useRandomAccessIndex(std::shared_ptr<const media::RandomAccessIndex> index)
{
    if (!index || (randomAccessIndex_ && randomAccessIndex_->size() >= index->size())) {
        return;
    }
    randomAccessIndex_ = std::move(index);
    if (frameDecoder_.worker != nullptr) {
        frameDecoder_.worker->setRandomAccessIndex(randomAccessIndex_);
    }
}

void ProjectController::onFrameReady(domain::PictureId pictureId, const VideoFramePtr& frame)
{
    // A late frame of an older request for the same picture is still the picture asked for.
    if (frame && selectedPicture_ == pictureId && isState({ProjectState::Ready, ProjectState::Analyzing})) {
        frameCache_->insert(frame);
        emit selectedFrameReady(frame);
    }
}

void ProjectController::onFrameUnavailable(domain::PictureId pictureId, const QString& reason)
{
    if (selectedPicture_ == pictureId && isState({ProjectState::Ready, ProjectState::Analyzing})) {
        emit selectedFrameUnavailable(pictureId, QString::fromLatin1(kOnDemandFailedReason).arg(reason));
    }
}

void ProjectController::onFrameDecoderFinished(QThread* thread)
{
    const auto found = std::find_if(retiredFrameDecoders_.begin(), retiredFrameDecoders_.end(),
                                    [thread](const FrameDecoder& decoder) { return decoder.thread == thread; });
    if (found == retiredFrameDecoders_.end()) {
        return;
    }
    // The worker has said its last word and quit the loop, so this wait is short; a QThread
    // deleted while it still runs would abort the program.
    thread->wait();
    delete thread;
    retiredFrameDecoders_.erase(found);
}

void ProjectController::cancelFrameRequests()
{
    if (frameDecoder_.worker != nullptr) {
        frameDecoder_.worker->cancel();
    }
}

void ProjectController::retireFrameDecoder()
{
    if (frameDecoder_.worker == nullptr) {
        return;
    }
    frameDecoder_.worker->stop();
    retiredFrameDecoders_.push_back(std::exchange(frameDecoder_, FrameDecoder{}));
}

void ProjectController::stopFrameThreads()
{
    retireFrameDecoder();
    for (const FrameDecoder& decoder : retiredFrameDecoders_) {
        decoder.thread->wait();
        delete decoder.thread;
    }
    retiredFrameDecoders_.clear();
}

}  // namespace vexilo::application
