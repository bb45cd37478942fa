#pragma once

#include "vexilo/application/AnalysisRepositoryTypes.h"
#include "vexilo/application/AnalysisTaskTypes.h"
#include "vexilo/application/ApplicationTypes.h"
#include "vexilo/application/DecodeTaskSharedState.h"
#include "vexilo/application/FfmpegFrameDecodeWorker.h"
#include "vexilo/application/ProjectApplicationService.h"
#include "vexilo/application/ProjectTypes.h"
#include "vexilo/application/VideoFrameCache.h"
#include "vexilo/domain/StreamInfo.h"
#include "vexilo/media/RandomAccessIndex.h"
#include "vexilo/protocol/FramePacket.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

class QThread;

namespace vexilo::threading {
class ThreadMailbox;
}  // namespace vexilo::threading

namespace vexilo::application {

class AnalysisTaskService;
class FfmpegDecodeWorker;
class PictureThumbnailQueue;

inline constexpr std::uint64_t kDefaultFrameCacheBytes = 268'435'456;

struct ProjectControllerOptions {
    std::uint64_t frameCacheBytes = kDefaultFrameCacheBytes;
    AnalysisTaskServiceOptions analysisOptions;
    bool useAnalyzerWorker = true;
    // How long the in-process decode may hold pictures back before it reports them.
    std::chrono::milliseconds decodeBatchInterval = kDefaultDecodeBatchInterval;
};

// The application object behind one opened stream. Runs on the GUI thread; decoding runs on
// threads of its own whose results come back to the GUI thread tagged with their task id.
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
    // What the on-demand frame decoder of the open source did: where its decodes started.
    [[nodiscard]] FrameDecodeCounts frameDecodeCounts() const;
    // Decodes of frames not in the cache start at the random-access pictures the index lists.
    // A document's index and one recorded by the in-process decode name pictures alike; the
    // one listing more pictures is kept.
    void useRandomAccessIndex(std::shared_ptr<const media::RandomAccessIndex> index);
    [[nodiscard]] bool hasActiveTask() const { return activeTaskId_ != 0; }
    // The open in progress runs through the analyzer worker; an analysis error now sends it to the
    // in-process decoder, which gives pictures without their analysis.
    [[nodiscard]] bool isOpeningThroughAnalyzer() const { return analyzerPathActive_; }
    [[nodiscard]] bool isAnalysisBusy() const;
    [[nodiscard]] PictureAnalysisStatus pictureAnalysisStatus(domain::PictureId pictureId) const;

    void analyzeStream();
    void reanalyzeStream();
    void analyzeCurrentPictureStructure();
    void cancelAnalysis();
    void clearAnalysisCache();

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
    void pictureAnalysisStatusChanged(vexilo::application::PictureAnalysisState state);
    void pictureAnalysisLoaded(vexilo::application::PictureAnalysisPayload payload);
    void streamAnalysisLoaded(qulonglong generation, vexilo::application::StreamAnalysisPtr analysis);
    void analysisError(vexilo::application::AnalysisTaskError error);

private:
    struct FrameDecoder {
        QThread* thread = nullptr;
        FfmpegFrameDecodeWorker* worker = nullptr;
    };

    // What an ended in-process decode left in its terminal record.
    struct DecodeOutcome {
        DecodeTerminalKind kind = DecodeTerminalKind::None;
        ProjectTaskSummary summary;
        ProjectTaskError error;
        bool cancelRequested = false;
    };

    // The reopen road: the source's cache lists the pictures; an in-process decode makes only
    // their thumbnails.
    enum class CacheListing : std::uint8_t {
        None,      // not on the reopen road
        Awaiting,  // the cache has not listed the pictures yet
        Listed,
    };

    void enterState(ProjectState next);
    void emitRefusal(const char* code, const char* message, const char* detail);
    void connectAnalysisService();
    void startAnalyzerOpen();
    void enterAnalyzerRoad();
    void runAnalyzer(bool reanalyze);
    // Opens from the source's cache, when it was written for the file as it is now.
    [[nodiscard]] bool openFromAnalysisCache();
    void onCachedPicturesListed(const PictureInfoBatch& pictures);
    void onCachedAnalysisUnreadable();
    void leaveCacheRoad();
    [[nodiscard]] bool acceptsAnalyzerResults() const;
    void onAnalyzerFrame(const protocol::AnalyzerFramePacket& packet);
    void onAnalyzerFinished();
    void onAnalyzerCanceled();
    void onAnalyzerError();
    void endCanceled();
    void leaveAnalyzerRoad();
    void forgetFallback();
    void fallBackToInProcess();
    void closeAnalyzerOpen();
    void closeAnalysisSource();
    [[nodiscard]] bool canAnalyze() const;
    // Without a frame cache the decode keeps no frames.
    void startInProcessDecode(std::shared_ptr<VideoFrameCache> frames);
    void connectDecodeWorker(FfmpegDecodeWorker* worker, std::uint64_t taskId);
    // Connects a worker's signal to a handler that runs on the GUI thread.
    template <typename Worker, typename Signal, typename Handler>
    void relayToGuiThread(Worker* worker, Signal signal, Handler handler);
    void startDecodeThreadIfIdle();
    void finishDecodeTask(std::uint64_t taskId);
    // Waits for the decode thread and lets it go with its shared state.
    DecodeOutcome releaseDecodeTask();
    void stopDecodeTask();
    void endTask();
    void finishOpen(const ProjectTaskSummary& summary);
    void failOpen(const DecodeOutcome& outcome);
    // Cancels an open whose decode has already ended (thumbnails done before the cache's listing).
    void cancelOpenWithoutDecode();
    void closeInProcessTask();
    void resetProjectData();
    void countExpectedPictures();
    void onExpectedPicturesCounted(std::uint64_t taskId, std::uint64_t pictures);
    void emitAnalyzerProgress();
    // Tells the pictures of this open whose thumbnails are made; the rest belong to no project.
    void emitFinishedPictures();
    // Waits for the thumbnails of every picture that arrived and tells those pictures.
    void emitAllArrivedPictures();

    void onDecodeStarted(std::uint64_t taskId, const QString& sourcePath);
    void onDecodeProgress(std::uint64_t taskId, const ProjectTaskProgress& progress);
    void onStreamProbed(std::uint64_t taskId, const domain::StreamInfo& info);
    void onPicturesReady(std::uint64_t taskId, const PictureInfoBatch& batch);
    void onDecodeThumbnail(std::uint64_t taskId, const PictureThumbnail& thumbnail);

    // Asks the frame decoder for the picture's frame (`deliver`) and for the pictures around it.
    void requestFrames(const domain::PictureInfo& picture, bool deliver);
    FfmpegFrameDecodeWorker& frameDecodeWorker();
    void onFrameReady(domain::PictureId pictureId, const VideoFramePtr& frame);
    void onFrameUnavailable(domain::PictureId pictureId, const QString& reason);
    void onFrameDecoderFinished(QThread* thread);
    void cancelFrameRequests();
    // Lets the open source's decoder end by itself; its thread is released when it has.
    void retireFrameDecoder();
    void stopFrameThreads();

    [[nodiscard]] bool isState(std::initializer_list<ProjectState> states) const;
    [[nodiscard]] const domain::PictureInfo* findPicture(domain::PictureId pictureId) const;

    ProjectState state_ = ProjectState::Empty;
    QThread* decodeThread_ = nullptr;
    std::shared_ptr<TaskSharedState> taskShared_;
    std::uint64_t activeTaskId_ = 0;
    std::uint64_t nextTaskId_ = 1;
    std::optional<domain::StreamInfo> streamInfo_;
    std::vector<domain::PictureInfo> pictures_;
    std::optional<domain::PictureId> selectedPicture_;
    std::shared_ptr<VideoFrameCache> frameCache_;
    // The open source's on-demand frame decoder, made with its first frame request, and those of
    // sources closed since, still ending.
    FrameDecoder frameDecoder_;
    std::vector<FrameDecoder> retiredFrameDecoders_;
    std::shared_ptr<const media::RandomAccessIndex> randomAccessIndex_;
    // The display index selected last, which tells the way the user steps.
    std::optional<std::int64_t> lastSelectedDisplayIndex_;
    // Every result of the decode and frame threads reaches the GUI thread through here. A child,
    // so it outlives the destructor body, which joins those threads.
    threading::ThreadMailbox* mailbox_ = nullptr;
    AnalysisTaskService* analysisService_ = nullptr;
    // The service generation of this controller's own analyzer-road open: results of any other
    // run (an older open, a cancelled one) never reach the project.
    std::uint64_t analyzerGeneration_ = 0;
    // Set while the service is closed or shut down: its late signals belong to no project.
    bool ignoreServiceSignals_ = false;
    std::filesystem::path sourcePath_;
    bool useAnalyzerWorker_ = true;
    std::chrono::milliseconds decodeBatchInterval_ = kDefaultDecodeBatchInterval;
    std::uint64_t analyzerFrameCount_ = 0;
    // The pictures the analyzer-road open will go through, once counted (0 until then), and
    // the thread that counts them; the destructor joins it before the mailbox goes.
    std::uint64_t expectedPictures_ = 0;
    std::jthread pictureCountThread_;
    // The thumbnails of the analyzer road's frames; its thread is joined before the mailbox goes.
    std::unique_ptr<PictureThumbnailQueue> thumbnailQueue_;
    bool analyzerPathActive_ = false;
    CacheListing cacheListing_ = CacheListing::None;
    // The thumbnail decode's summary when it ended before the cache listed the pictures.
    std::optional<ProjectTaskSummary> thumbnailsFinished_;
    // The open in progress began on the reopen road, and goes on through the analyzer when the
    // cache proved unreadable: whatever the service does for it ends with it.
    bool openedFromCache_ = false;
    bool fallbackPending_ = false;
    bool suppressNextTaskStarted_ = false;
    bool shuttingDown_ = false;
};

}  // namespace vexilo::application
