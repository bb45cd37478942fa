#pragma once

#include "vexilo/application/ApplicationTypes.h"
#include "vexilo/application/DecodeTaskSharedState.h"
#include "vexilo/application/ProjectApplicationService.h"
#include "vexilo/application/ProjectTypes.h"
#include "vexilo/application/VideoFrameCache.h"
#include "vexilo/domain/StreamInfo.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

class QThread;

namespace vexilo::application {

class FfmpegDecodeWorker;

inline constexpr std::uint64_t kDefaultFrameCacheBytes = 268'435'456;

struct ProjectControllerOptions {
    std::uint64_t frameCacheBytes = kDefaultFrameCacheBytes;
    bool useAnalyzerWorker = true;
};

// The application object behind one opened stream. Runs on the GUI thread; decoding runs on
// threads of its own whose results come back queued and tagged with their task id.
class ProjectController : public QObject, public ProjectApplicationService {
    Q_OBJECT

public:
    using TaskSharedState = DecodeTaskSharedState;

    explicit ProjectController(QObject* parent = nullptr, ProjectControllerOptions options = {});
    ~ProjectController() override;

    ProjectController(const ProjectController&) = delete;
    ProjectController& operator=(const ProjectController&) = delete;

    [[nodiscard]] ProjectState state() const override { return state_; }
    void openProject(const std::filesystem::path& sourcePath) override;
    void closeProject() override;
    void cancelTask() override;
    void shutdown();

    bool selectPicture(domain::PictureId pictureId);
    void clearPictureSelection();
    [[nodiscard]] std::optional<domain::PictureId> selectedPictureId() const { return selectedPicture_; }
    [[nodiscard]] const std::vector<domain::PictureInfo>& pictures() const { return pictures_; }
    [[nodiscard]] std::uint64_t pictureCount() const { return pictures_.size(); }
    [[nodiscard]] const std::optional<domain::StreamInfo>& streamInfo() const { return streamInfo_; }
    [[nodiscard]] VideoFramePtr cachedFrame(domain::PictureId pictureId) const;
    [[nodiscard]] bool hasActiveTask() const { return activeTaskId_ != 0; }
    [[nodiscard]] bool isAnalysisBusy() const;

    // The in-process FFmpeg decoder is linked into this program, so it is always there.
    [[nodiscard]] static bool isBackendAvailable() { return true; }

signals:
    void stateChanged(vexilo::application::ProjectState state);
    void taskStarted(QString sourcePath);
    void taskProgress(vexilo::application::ProjectTaskProgress progress);
    void streamReady(vexilo::domain::StreamInfo streamInfo);
    void pictureBatchDecoded(vexilo::application::PictureInfoBatch pictures);
    void pictureThumbnailReady(vexilo::application::PictureThumbnail thumbnail);
    void pictureSelectionChanged(vexilo::domain::PictureId pictureId);
    void pictureSelectionCleared();
    void selectedFrameReady(vexilo::application::VideoFramePtr frame);
    void selectedFrameUnavailable(vexilo::domain::PictureId pictureId, QString reason);
    void taskFinished(vexilo::application::ProjectTaskSummary summary);
    void taskError(vexilo::application::ProjectTaskError error);
    void taskCanceled();
    void analysisStarted(qulonglong generation, QString taskId);
    void analysisFinished(qulonglong generation);
    void analysisCanceled(qulonglong generation);
    void analysisCacheCleared(qulonglong generation);

private:
    struct FrameRequest {
        std::uint64_t requestId = 0;
        QThread* thread = nullptr;
        std::shared_ptr<std::atomic<bool>> cancelFlag;
    };

    void enterState(ProjectState next);
    void emitRefusal(const char* code, const char* message, const char* detail);
    void startInProcessDecode();
    void connectDecodeWorker(FfmpegDecodeWorker* worker, std::uint64_t taskId);
    void startDecodeThreadIfIdle();
    void finishDecodeTask(std::uint64_t taskId);
    void closeInProcessTask();
    void resetProjectData();

    void onDecodeStarted(std::uint64_t taskId, const QString& sourcePath);
    void onDecodeProgress(std::uint64_t taskId, const ProjectTaskProgress& progress);
    void onStreamProbed(std::uint64_t taskId, const domain::StreamInfo& info);
    void onPicturesReady(std::uint64_t taskId, const PictureInfoBatch& batch);
    void onDecodeThumbnail(std::uint64_t taskId, const PictureThumbnail& thumbnail);

    void startFrameRequest(const domain::PictureInfo& picture);
    void onFrameReady(domain::PictureId pictureId, const VideoFramePtr& frame);
    void onFrameUnavailable(domain::PictureId pictureId, const QString& reason);
    void onFrameRequestFinished(std::uint64_t requestId);
    void cancelFrameRequests();
    void stopFrameThreads();

    [[nodiscard]] bool isState(std::initializer_list<ProjectState> states) const;
    [[nodiscard]] const domain::PictureInfo* findPicture(domain::PictureId pictureId) const;

    ProjectState state_ = ProjectState::Empty;
    QThread* decodeThread_ = nullptr;
    QPointer<FfmpegDecodeWorker> decodeWorker_;
    std::shared_ptr<TaskSharedState> taskShared_;
    std::uint64_t activeTaskId_ = 0;
    std::uint64_t nextTaskId_ = 1;
    std::optional<domain::StreamInfo> streamInfo_;
    std::vector<domain::PictureInfo> pictures_;
    std::optional<domain::PictureId> selectedPicture_;
    std::shared_ptr<VideoFrameCache> frameCache_;
    std::vector<FrameRequest> frameRequests_;
    std::filesystem::path sourcePath_;
    bool useAnalyzerWorker_ = true;
    std::uint64_t analyzerFrameCount_ = 0;
    bool analyzerPathActive_ = false;
    bool fallbackPending_ = false;
    bool suppressNextTaskStarted_ = false;
    bool shuttingDown_ = false;
};

}  // namespace vexilo::application
