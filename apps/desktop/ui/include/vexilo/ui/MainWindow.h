#pragma once

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/ai/AiEvidenceSnapshot.h"
#include "vexilo/application/AnalysisRepositoryTypes.h"
#include "vexilo/application/AnalysisTaskTypes.h"
#include "vexilo/application/ApplicationTypes.h"
#include "vexilo/application/PictureThumbnail.h"
#include "vexilo/application/ProjectTypes.h"
#include "vexilo/application/QualityAnalysisTypes.h"
#include "vexilo/application/QualityResultStore.h"
#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/ReferenceYuvSource.h"
#include "vexilo/domain/StreamInfo.h"

#include <QMainWindow>
#include <QModelIndex>
#include <QPoint>
#include <QSize>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class QAction;
class QActionGroup;
class QBoxLayout;
class QComboBox;
class QDockWidget;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QSplitter;
class QStackedWidget;
class QTabWidget;
class QTableView;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeView;

namespace vexilo::application {
class ProjectController;
class QualityAnalysisService;
}

namespace vexilo {

class AiChatPanel;
class BlockInfoModel;
class ComparePicturePairModel;
class CompareWipeViewer;
class FrameViewer;
class InspectorModel;
class PictureStatisticsModel;
class PictureStripWidget;
class PictureSyntaxModel;
class PictureTableModel;
class QualityMetricChartWidget;
class SliceTableModel;
class StreamStatisticsModel;
class SyntaxTreeModel;
struct PictureAnalysisDisplay;

// The one top-level window: owns every widget, model and both project controllers, turns user
// commands and controller signals into calls, and keeps actions and views consistent.
class MainWindow : public QMainWindow {
    Q_OBJECT
    friend struct MainWindowActionTable;

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void onOpenHevcRequested();
    void onOpenCompareBRequested();
    void onAttachReferenceYuvRequested();
    void onCloseProjectRequested();
    void onCancelTaskRequested();
    void onAnalyzeStreamRequested();
    void onAnalyzeCurrentPictureStructureRequested();
    void onCancelAnalysisRequested();
    void onReanalyzeStreamRequested();
    void onClearAnalysisCacheRequested();
    void onAnalyzeSelectedPairQualityRequested();
    void onAnalyzeVisiblePairQualityRequested();
    void onAnalyzeFullStreamQualityRequested();
    void onCancelQualityAnalysisRequested();
    void onQualityMetricFrameActivated(std::int64_t frameIndex);
    void onCompareAOnlyRequested();
    void onCompareBOnlyRequested();
    void onCompareSideBySideRequested();
    void onCompareWipeRequested();
    void onFirstPictureRequested();
    void onPreviousPictureRequested();
    void onNextPictureRequested();
    void onLastPictureRequested();
    void onResetLayoutRequested();
    void onExitRequested();
    void onAboutRequested();
    void onBackendStatusRequested();
    void onProjectStateChanged(vexilo::application::ProjectState state);
    void onTaskStarted(QString sourcePath);
    void onTaskProgress(vexilo::application::ProjectTaskProgress progress);
    void onStreamReady(vexilo::domain::StreamInfo streamInfo);
    void onPictureBatchDecoded(vexilo::application::PictureInfoBatch pictures);
    void onPictureThumbnailReady(const vexilo::application::PictureThumbnail& thumbnail);
    void onPictureThumbnailWanted(vexilo::domain::PictureId pictureId, qint64 displayIndex);
    void onPictureCurrentRowChanged(const QModelIndex& current, const QModelIndex& previous);
    void onComparePairCurrentRowChanged(const QModelIndex& current, const QModelIndex& previous);
    void onPictureSelectionChanged(vexilo::domain::PictureId pictureId);
    void onPictureSelectionCleared();
    void onSelectedFrameReady(vexilo::application::VideoFramePtr frame);
    void onSelectedFrameUnavailable(vexilo::domain::PictureId pictureId, QString reason);
    void onTaskFinished(vexilo::application::ProjectTaskSummary summary);
    void onTaskError(vexilo::application::ProjectTaskError error);
    void onTaskCanceled();
    void onAnalysisStarted(qulonglong generation, QString taskId);
    void onAnalysisFinished(qulonglong generation);
    void onAnalysisCanceled(qulonglong generation);
    void onAnalysisCacheCleared(qulonglong generation);
    void onStreamAnalysisLoaded(qulonglong generation, vexilo::application::StreamAnalysisPtr analysis);
    void onPictureAnalysisStatusChanged(vexilo::application::PictureAnalysisState state);
    void onPictureAnalysisLoaded(vexilo::application::PictureAnalysisPayload payload);
    void onAnalysisError(vexilo::application::AnalysisTaskError error);
    void onSyntaxTreeCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
    void onSliceCurrentRowChanged(const QModelIndex& current, const QModelIndex& previous);
    void onViewerAnalysisObjectHovered(vexilo::analysis::StableId objectId);
    void onViewerAnalysisObjectSelected(vexilo::analysis::StableId objectId);
    void onViewerBlockInfoAvailable(QString interaction, QString pictureId, QString displayIndex, QString lumaSample,
                                    vexilo::analysis::StableId ctuId, vexilo::analysis::StableId cuId,
                                    vexilo::analysis::StableId puId, vexilo::analysis::StableId tuId);
    void onViewerBlockInfoUnavailable(QString interaction, QString pictureId, QString displayIndex,
                                      QString lumaSample, QString fallbackCell);
    void onViewerBlockInfoCleared(QString message);

private:
    // Construction.
    void createActions();
    void createMenus();
    void createMainToolBar();
    void createCentralWidget();
    void connectCentralWidget();
    void createDocks();
    QWidget* createStreamPictureDockWidget(QWidget* parent);
    QWidget* createBlockInfoDockWidget(QDockWidget* dock);
    QWidget* createLogTaskDockWidget(QDockWidget* dock);
    QWidget* createQualityMetricsDockWidget(QDockWidget* dock);
    QDockWidget* addDock(const QString& title, const QString& objectName, Qt::DockWidgetAreas allowedAreas,
                         const QString& toggleName);
    void connectProjectController();
    void connectCompareBProjectController();

    QLabel* makeStateLabel(QWidget* parent);
    QToolButton* addActionToolButton(QWidget* parent, QBoxLayout* layout, QAction* action, const QString& objectName);
    void addSelectorLabel(QBoxLayout* layout, QWidget* parent, const QString& text);
    PictureSyntaxModel* addPictureSyntaxTab(std::uint32_t section, const QString& modelName, const QString& viewName,
                                            const QString& tabTitle, QWidget* group);
    void fillQualityComponentCombo(bool vmafFeatures);
    void onQualityMetricChanged(int index);
    void onQualityComponentChanged(int index);
    void applyQualityComponent(int index);
    void applyVmafFeature(int index);

    // Layout persistence.
    void restoreWindowSettings();
    void saveWindowSettings();
    void applyDefaultDockLayout();
    [[nodiscard]] QSize defaultWindowSize() const;

    // Enabling and resets.
    void updateActionStates();
    void resetViews();
    void clearQualityMetrics();
    void clearCompareBStream();
    void clearPictureSyntaxViews();
    void updateCompareGroupVisibility();

    // Compare views.
    void applyCompareViewerMode(int mode);
    [[nodiscard]] int currentCompareViewerMode() const;
    // The mode the viewer area shows: the chosen one while a B stream is open, else "A Only".
    [[nodiscard]] int shownCompareViewerMode() const;
    [[nodiscard]] bool hasCompareBStream() const;
    [[nodiscard]] bool hasCompareViewers() const;
    void showCompareViewers(int mode);
    void refreshComparePairModel();
    void refreshComparePairPictures();
    void rebuildComparePairs(bool withReference);
    [[nodiscard]] QPoint comparePairScrollPosition() const;
    void restoreComparePairScrollPosition(QPoint position);
    void refreshWipeView();
    void mirrorViewTransform(FrameViewer* from, FrameViewer* to);
    FrameViewer* zoomTarget() const;
    void clearCompareBViewer(const QString& message);
    void onCompareBStateChanged(application::ProjectState state);
    void onCompareBStreamReady(const domain::StreamInfo& streamInfo);
    void onCompareBPictureBatchDecoded();
    void onCompareBSelectedFrameReady(const application::VideoFramePtr& frame);
    void onCompareBSelectedFrameUnavailable(const QString& reason);
    void onCompareBTaskFinished(const application::ProjectTaskSummary& summary);
    void onCompareBTaskError(const application::ProjectTaskError& error);
    void onCompareBTaskCanceled();

    // Selection, tasks and quality runs; their full flow lives with the project, analysis and
    // quality slots.
    void selectPictureById(domain::PictureId pictureId);
    void selectPictureRow(int row);
    void reportTaskMessage(const QString& message);
    void showAnalyzerFallbackNotice(const QString& reason);
    void hideAnalyzerFallbackNotice();
    void appendLog(const QString& text);
    void stopQualityAnalysisThread();
    void updateQualityHeatmaps();
    void updateMetricSummary();
    void refreshAiEvidence(const QString& reason);

    // Project, analysis, block-info and evidence flows.
    void autoAnalyzeCurrentPictureStructure(const QString& reason);
    void selectPictureFromNavigation(domain::PictureId pictureId);
    void selectComparePairRowForFrame(qint64 frameIndex);
    void applyPictureAnalysis(const std::shared_ptr<const analysis::StreamAnalysis>& document,
                              domain::PictureId pictureId);
    void showPictureAnalysisStatus(const QString& message, const QString& status);
    void showPictureAnalysisDisplay(const PictureAnalysisDisplay& display, domain::PictureId pictureId,
                                    const QString& message);
    void dropPictureAnalysis();
    void refinePictureRows(const analysis::StreamAnalysis& stream);
    // Errors the analysis holds: listed in the log, counted in the status bar, and the pictures
    // concerned marked in the picture table.
    void createAnalysisErrorLabel();
    void noteStreamAnalysisErrors(const analysis::StreamAnalysis& stream);
    [[nodiscard]] int notePictureAnalysisErrors(domain::PictureId pictureId, const analysis::StreamAnalysis& payload);
    void forgetAnalysisErrors();
    void showAnalysisErrorCount();
    void forgetStreamAnalysis();
    void forgetStreamAnalysisViews();
    void showFreshBlockInfoMessage(const QString& detail, const QString& state);
    void clearPictureObjectViews();
    void clearSelectedPictureAnalysisViews();
    void makePictureRowCurrent(int row);
    void explainObjectFromNavigation(const std::optional<analysis::StableId>& objectId,
                                     const std::optional<domain::PictureId>& pictureId);
    void scheduleDeferredRefresh();
    void flushDeferredRefreshes();
    void dropDeferredStatisticsPictures();
    void showTaskProgress(bool busy);
    [[nodiscard]] ai::AiEvidenceSnapshot makeAiEvidenceSnapshot(const QString& statusText) const;
    // What the chat panel asks for when it needs the evidence (see refreshAiEvidence).
    [[nodiscard]] QString buildAiEvidenceText();
    void flushDeferredModelRefreshes();

    // Compare pairs, the reference YUV and quality runs.
    void selectBPictureByDisplayIndex(std::int64_t displayIndex);
    [[nodiscard]] std::vector<int> allComparePairRows() const;
    [[nodiscard]] std::vector<int> visibleComparePairRows() const;
    void startQualityAnalysisForRows(std::vector<int> rows, const QString& label,
                                     application::QualityFrameSourceMode mode);
    [[nodiscard]] application::VideoFramePtr frameForQualityRequest(std::optional<domain::PictureId> pictureId,
                                                                    bool sideA) const;
    void connectQualityService();
    // The quality service's store: every measured pair, the one copy the views read.
    [[nodiscard]] const application::QualityResultStore::Results& measuredQualityPairs() const;
    void onQualityResultsReady(const QList<qint64>& frameIndices);
    void showQualityRunProgress();
    void onQualityRunFinished(const QString& label, bool canceled);
    void onQualityRunFailed(const application::QualityRunError& error);

    // Actions, in the order of the command table.
    QAction* actionOpenHevc = nullptr;
    QAction* actionOpenCompareB = nullptr;
    QAction* actionAttachReferenceYuv = nullptr;
    QAction* actionCloseProject = nullptr;
    QAction* actionExit = nullptr;
    QAction* actionResetLayout = nullptr;
    QAction* actionFirstPicture = nullptr;
    QAction* actionPreviousPicture = nullptr;
    QAction* actionNextPicture = nullptr;
    QAction* actionLastPicture = nullptr;
    QAction* actionFitToWindow = nullptr;
    QAction* actionActualSize = nullptr;
    QAction* actionZoomIn = nullptr;
    QAction* actionZoomOut = nullptr;
    QAction* actionCombinedComponents = nullptr;
    QAction* actionLumaComponent = nullptr;
    QAction* actionUComponent = nullptr;
    QAction* actionVComponent = nullptr;
    QAction* actionPictureStripThumbnails = nullptr;
    QAction* actionPictureStripReferenceHierarchy = nullptr;
    QAction* actionCtuOverlay = nullptr;
    QAction* actionCuOverlay = nullptr;
    QAction* actionTuOverlay = nullptr;
    QAction* actionPuOverlay = nullptr;
    QAction* actionQpMapOverlay = nullptr;
    QAction* actionMotionVectorOverlay = nullptr;
    QAction* actionQualityHeatmapOverlay = nullptr;
    QAction* actionCancelTask = nullptr;
    QAction* actionAnalyzeStream = nullptr;
    QAction* actionAnalyzeCurrentPictureStructure = nullptr;
    QAction* actionCancelAnalysis = nullptr;
    QAction* actionReanalyzeStream = nullptr;
    QAction* actionClearAnalysisCache = nullptr;
    QAction* actionAnalyzeSelectedPairQuality = nullptr;
    QAction* actionAnalyzeVisiblePairQuality = nullptr;
    QAction* actionAnalyzeFullStreamQuality = nullptr;
    QAction* actionCancelQualityAnalysis = nullptr;
    QAction* actionCompareAOnly = nullptr;
    QAction* actionCompareBOnly = nullptr;
    QAction* actionCompareSideBySide = nullptr;
    QAction* actionCompareWipe = nullptr;
    QAction* actionAboutVexilo = nullptr;
    QAction* actionBackendStatus = nullptr;

    QDockWidget* streamPictureDock = nullptr;
    QDockWidget* inspectorDock = nullptr;
    QDockWidget* aiAssistantDock = nullptr;
    QDockWidget* logTaskDock = nullptr;
    QDockWidget* qualityMetricsDock = nullptr;

    QToolBar* mainToolBar = nullptr;

    QPlainTextEdit* logView = nullptr;
    AiChatPanel* aiChatPanel = nullptr;

    FrameViewer* frameViewer = nullptr;
    FrameViewer* compareBFrameViewer = nullptr;
    CompareWipeViewer* compareWipeViewer = nullptr;
    PictureStripWidget* pictureStrip = nullptr;
    QSplitter* frameViewerSplitter = nullptr;
    QSplitter* sideBySideViewerSplitter = nullptr;
    QStackedWidget* compareViewerStack = nullptr;
    QLabel* frameViewerStateLabel = nullptr;

    QLabel* streamStateLabel = nullptr;
    QLabel* compareBStreamStateLabel = nullptr;
    QLabel* compareBPictureStateLabel = nullptr;
    QLabel* referenceYuvStateLabel = nullptr;
    QLabel* pictureStateLabel = nullptr;
    QLabel* inspectorStateLabel = nullptr;
    QLabel* metricSummaryLabel = nullptr;
    QLabel* qualityMetricStatusLabel = nullptr;
    QLabel* taskStateLabel = nullptr;
    QLabel* analysisErrorLabel = nullptr;
    QLabel* analyzerFallbackLabel = nullptr;  // made on the first fallback, kept in the status bar
    QGroupBox* compareBGroup = nullptr;
    QGroupBox* referenceYuvGroup = nullptr;
    QGroupBox* comparePairGroup = nullptr;
    StreamStatisticsModel* streamStatisticsModel = nullptr;
    QTreeView* streamStatisticsView = nullptr;
    ComparePicturePairModel* comparePicturePairModel = nullptr;
    QTableView* comparePairView = nullptr;
    PictureTableModel* pictureTableModel = nullptr;
    QTableView* pictureView = nullptr;
    QTabWidget* pictureSyntaxTabs = nullptr;
    PictureSyntaxModel* nalSyntaxModel = nullptr;
    PictureSyntaxModel* vpsSyntaxModel = nullptr;
    PictureSyntaxModel* spsSyntaxModel = nullptr;
    PictureSyntaxModel* ppsSyntaxModel = nullptr;
    PictureSyntaxModel* seiSyntaxModel = nullptr;
    PictureSyntaxModel* pictureSliceSyntaxModel = nullptr;
    PictureStatisticsModel* pictureStatisticsModel = nullptr;
    BlockInfoModel* blockInfoModel = nullptr;
    SyntaxTreeModel* syntaxTreeModel = nullptr;
    QTreeView* syntaxTreeView = nullptr;
    SliceTableModel* sliceTableModel = nullptr;
    InspectorModel* inspectorModel = nullptr;
    QComboBox* qualityMetricMetricCombo = nullptr;
    QComboBox* qualityMetricComponentCombo = nullptr;
    QAction* actionQualityShowA = nullptr;
    QAction* actionQualityShowB = nullptr;
    QualityMetricChartWidget* qualityMetricChart = nullptr;

    application::ProjectController* projectController = nullptr;
    application::ProjectController* compareBProjectController = nullptr;

    application::VideoFramePtr selectedFrame;
    application::VideoFramePtr compareBSelectedFrame;
    bool streamAnalysisReady = false;
    std::shared_ptr<const analysis::StreamAnalysis> streamAnalysis;
    std::shared_ptr<const analysis::StreamAnalysis> pictureAnalysis;
    std::optional<domain::PictureId> pictureAnalysisPictureId;
    std::set<domain::PictureId> autoStructureRequestedPictures;
    // The analysis errors already written to the log, so that a document loaded again adds none,
    // and how many the stream's own document holds: the count stays while a run reloads it.
    std::set<analysis::StableId> loggedAnalysisErrors;
    int streamAnalysisErrorCount = 0;
    std::optional<domain::ReferenceYuvSource> referenceYuvSource;
    bool compareBOpenRequested = false;
    bool syncingViewTransform = false;
    bool syncingPictureSelection = false;
    bool syncingComparePairSelection = false;

    // Quality runs and the store of what they measured; made first, as the views read its store.
    application::QualityAnalysisService* qualityService = nullptr;
    // Decoded-picture batches arrive one picture at a time on the analyzer road; what they would
    // rebuild over the whole stream waits here for one short timer.
    QTimer* deferredRefreshTimer = nullptr;
    // How long the last gathered refresh took: the next one waits for a multiple of it.
    qint64 deferredRefreshCostMs = 0;
    std::vector<domain::PictureInfo> deferredStatisticsPictures;
    bool deferredComparePairRefresh = false;
    std::optional<QString> deferredEvidenceStatus;
    // The status line of the evidence the chat panel builds next.
    QString aiEvidenceStatus;
    bool lockingFromViewer = false;
    QProgressBar* taskProgressBar = nullptr;
    QToolButton* taskProgressCancelButton = nullptr;
};

}  // namespace vexilo
