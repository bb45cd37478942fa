#include "vexilo/application/ProjectController.h"

#include "vexilo/application/FfmpegDecodeWorker.h"
#include "vexilo/application/FfmpegFrameDecodeWorker.h"
#include "vexilo/media/PathText.h"

#include <QThread>
#include <QTimer>

#include <algorithm>

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
constexpr auto kNoSourceReason = "No source path is open.";
constexpr auto kOnDemandFailedReason = "The decoded frame could not be loaded on demand. %1";

}  // namespace

ProjectController::ProjectController(QObject* parent, ProjectControllerOptions options)
    : QObject(parent),
      frameCache_(std::make_shared<VideoFrameCache>(options.frameCacheBytes)),
      useAnalyzerWorker_(options.useAnalyzerWorker)
{
    setObjectName(QString::fromLatin1(kControllerObjectName));
    registerProjectMetaTypes();
}

ProjectController::~ProjectController()
{
    if (!shuttingDown_ || activeTaskId_ != 0) {
        shutdown();
    }
    // A QThread destroyed while it runs aborts the program: every frame thread is joined here.
    stopFrameThreads();
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
    startInProcessDecode();
}

void ProjectController::startInProcessDecode()
{
    fallbackPending_ = false;
    const std::uint64_t taskId = nextTaskId_++;
    activeTaskId_ = taskId;
    taskShared_ = std::make_shared<TaskSharedState>();
    decodeThread_ = new QThread(this);
    decodeThread_->setObjectName(QString::fromLatin1(kDecodeThreadName));
    auto* worker = new FfmpegDecodeWorker(taskId, sourcePath_, taskShared_, frameCache_);
    worker->moveToThread(decodeThread_);
    decodeWorker_ = worker;
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
    connect(worker, &FfmpegDecodeWorker::started, this, &ProjectController::onDecodeStarted, Qt::QueuedConnection);
    connect(worker, &FfmpegDecodeWorker::progress, this, &ProjectController::onDecodeProgress, Qt::QueuedConnection);
    connect(worker, &FfmpegDecodeWorker::streamProbed, this, &ProjectController::onStreamProbed,
            Qt::QueuedConnection);
    connect(worker, &FfmpegDecodeWorker::picturesReady, this, &ProjectController::onPicturesReady,
            Qt::QueuedConnection);
    connect(worker, &FfmpegDecodeWorker::pictureThumbnailReady, this, &ProjectController::onDecodeThumbnail,
            Qt::QueuedConnection);
    QThread* thread = decodeThread_;
    for (auto terminal : {&FfmpegDecodeWorker::finished, &FfmpegDecodeWorker::error, &FfmpegDecodeWorker::canceled}) {
        connect(worker, terminal, thread, &QThread::quit, Qt::DirectConnection);
    }
    for (auto terminal : {&FfmpegDecodeWorker::finished, &FfmpegDecodeWorker::error, &FfmpegDecodeWorker::canceled}) {
        connect(worker, terminal, this, [this, taskId] { finishDecodeTask(taskId); }, Qt::QueuedConnection);
    }
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
}

void ProjectController::onPicturesReady(std::uint64_t taskId, const PictureInfoBatch& batch)
{
    if (taskId != activeTaskId_ || state_ != ProjectState::Analyzing) {
        return;
    }
    pictures_.insert(pictures_.end(), batch.begin(), batch.end());
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
    if (decodeThread_->isRunning()) {
        decodeThread_->wait();
    }
    DecodeTerminalKind kind = DecodeTerminalKind::None;
    ProjectTaskSummary summary;
    ProjectTaskError error;
    {
        const std::lock_guard lock(taskShared_->mutex);
        kind = taskShared_->terminalKind;
        summary = taskShared_->summary;
        error = taskShared_->error;
    }
    const bool canceled = taskShared_->cancelRequested.load() ||
                          isState({ProjectState::Cancelling, ProjectState::Closing});
    delete decodeThread_;
    decodeThread_ = nullptr;
    decodeWorker_ = nullptr;
    taskShared_.reset();
    activeTaskId_ = 0;

    if (!canceled && kind == DecodeTerminalKind::Finished) {
        if (state_ == ProjectState::Analyzing) {
            enterState(ProjectState::Ready);
        }
        emit taskFinished(summary);
        return;
    }
    if (!canceled && kind != DecodeTerminalKind::Canceled) {
        resetProjectData();
        if (isState({ProjectState::Opening, ProjectState::Analyzing})) {
            enterState(ProjectState::Error);
        }
        if (kind == DecodeTerminalKind::None) {
            error = {};
            error.code = QString::fromLatin1(kLifecycleErrorCode);
            error.source = QString::fromLatin1(kControllerSource);
            error.message = QString::fromLatin1(kLifecycleErrorMessage);
        }
        emit taskError(error);
        return;
    }
    resetProjectData();
    if (isState({ProjectState::Opening, ProjectState::Analyzing})) {
        enterState(ProjectState::Cancelling);
    }
    if (isState({ProjectState::Cancelling, ProjectState::Closing})) {
        enterState(ProjectState::Empty);
    }
    emit taskCanceled();
}

void ProjectController::cancelTask()
{
    if (activeTaskId_ == 0 || !isState({ProjectState::Opening, ProjectState::Analyzing})) {
        return;
    }
    enterState(ProjectState::Cancelling);
    if (taskShared_) {
        taskShared_->cancelRequested.store(true);
    }
}

void ProjectController::closeProject()
{
    cancelFrameRequests();
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
    closeProject();
    stopFrameThreads();
}

bool ProjectController::isAnalysisBusy() const
{
    return false;
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
        return true;
    }
    selectedPicture_ = pictureId;
    emit pictureSelectionChanged(pictureId);
    if (VideoFramePtr frame = frameCache_->find(pictureId)) {
        emit selectedFrameReady(std::move(frame));
    } else {
        startFrameRequest(*picture);
    }
    return true;
}

void ProjectController::clearPictureSelection()
{
    if (selectedPicture_) {
        selectedPicture_.reset();
        emit pictureSelectionCleared();
    }
}

void ProjectController::startFrameRequest(const domain::PictureInfo& picture)
{
    if (sourcePath_.empty()) {
        emit selectedFrameUnavailable(picture.id, QString::fromLatin1(kNoSourceReason));
        return;
    }
    cancelFrameRequests();
    FrameRequest request;
    request.requestId = nextTaskId_++;
    request.cancelFlag = std::make_shared<std::atomic<bool>>(false);
    request.thread = new QThread(this);
    request.thread->setObjectName(QString::fromLatin1(kFrameDecodeThreadName));
    auto* worker = new FfmpegFrameDecodeWorker(request.requestId, sourcePath_, picture.id,
                                               static_cast<std::uint64_t>(picture.displayIndex), request.cancelFlag);
    worker->moveToThread(request.thread);
    frameRequests_.push_back(request);

    connect(request.thread, &QThread::started, worker, &FfmpegFrameDecodeWorker::run, Qt::QueuedConnection);
    connect(request.thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &FfmpegFrameDecodeWorker::finished, request.thread, &QThread::quit, Qt::DirectConnection);
    connect(worker, &FfmpegFrameDecodeWorker::finished, this, &ProjectController::onFrameRequestFinished,
            Qt::QueuedConnection);
    connect(
        worker, &FfmpegFrameDecodeWorker::frameReady, this,
        [this](qulonglong, domain::PictureId id, const VideoFramePtr& frame) { onFrameReady(id, frame); },
        Qt::QueuedConnection);
    connect(
        worker, &FfmpegFrameDecodeWorker::unavailable, this,
        [this](qulonglong, domain::PictureId id, const QString& reason) { onFrameUnavailable(id, reason); },
        Qt::QueuedConnection);
    request.thread->start(QThread::InheritPriority);
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

void ProjectController::onFrameRequestFinished(std::uint64_t requestId)
{
    const auto found = std::find_if(frameRequests_.begin(), frameRequests_.end(),
                                    [requestId](const FrameRequest& request) { return request.requestId == requestId; });
    if (found == frameRequests_.end()) {
        return;
    }
    found->thread->deleteLater();
    frameRequests_.erase(found);
}

void ProjectController::cancelFrameRequests()
{
    for (const FrameRequest& request : frameRequests_) {
        request.cancelFlag->store(true);
    }
}

void ProjectController::stopFrameThreads()
{
    cancelFrameRequests();
    for (const FrameRequest& request : frameRequests_) {
        request.thread->wait();
        delete request.thread;
    }
    frameRequests_.clear();
}

}  // namespace vexilo::application
