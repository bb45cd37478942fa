#include "vexilo/ui/MainWindow.h"

#include "MainWindowLayoutConstants.h"
#include "vexilo/application/QualityAnalysisService.h"
#include "WindowLayoutSettings.h"

#include "vexilo/ai/AiChatPanel.h"
#include "vexilo/application/ProjectController.h"
#include "vexilo/models/BlockInfoModel.h"
#include "vexilo/models/ComparePicturePairModel.h"
#include "vexilo/models/InspectorModel.h"
#include "vexilo/models/PictureStatisticsModel.h"
#include "vexilo/models/PictureSyntaxModel.h"
#include "vexilo/models/PictureTableModel.h"
#include "vexilo/models/SliceTableModel.h"
#include "vexilo/models/StreamStatisticsModel.h"
#include "vexilo/models/SyntaxTreeModel.h"
#include "vexilo/views/CompareWipeViewer.h"
#include "vexilo/views/FrameViewer.h"
#include "vexilo/views/PictureStripWidget.h"
#include "vexilo/views/QualityMetricChartWidget.h"

#include <QAction>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScopedValueRollback>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>

#include <algorithm>
#include <array>

namespace vexilo {
namespace {

using namespace layout;

using application::ProjectController;
using application::ProjectState;

constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 800;
constexpr int kDockStateVersion = 3;
constexpr std::int32_t kWorkerStartTimeoutMs = 3000;
constexpr std::int32_t kWorkerControlTimeoutMs = 3000;
constexpr std::int32_t kWorkerAnalyzeTimeoutMs = 300000;
constexpr std::int32_t kWorkerShutdownTimeoutMs = 2000;
constexpr int kCompareModeAOnly = 0;
constexpr int kCompareModeBOnly = 1;
constexpr int kCompareModeSideBySide = 2;
constexpr int kCompareModeWipe = 3;
constexpr int kWipePage = 1;
constexpr int kSideBySidePage = 0;

const char* const kOpenBForCompareText = "Open B stream for A/B compare";
// A smaller frame cache, so that window tests reach beyond it with streams of a few dozen small
// pictures; a positive decimal number of bytes, anything else keeps the default.
constexpr const char* kFrameCacheBytesVariable = "VEXILO_DESKTOP_TEST_FRAME_CACHE_BYTES";

std::uint64_t frameCacheBytes()
{
    bool ok = false;
    const qulonglong bytes = qEnvironmentVariable(kFrameCacheBytesVariable).toULongLong(&ok);
    return ok && bytes > 0 ? bytes : application::kDefaultFrameCacheBytes;
}

application::ProjectControllerOptions defaultControllerOptions()
{
    application::ProjectControllerOptions options;
    options.frameCacheBytes = frameCacheBytes();
    application::AnalyzerWorkerClientOptions& worker = options.analysisOptions.worker;
    worker.workerProgram.clear();
    worker.workerArguments.clear();
    worker.startTimeoutMs = kWorkerStartTimeoutMs;
    worker.controlTimeoutMs = kWorkerControlTimeoutMs;
    worker.analyzeTimeoutMs = kWorkerAnalyzeTimeoutMs;
    worker.shutdownTimeoutMs = kWorkerShutdownTimeoutMs;
    options.analysisOptions.cacheRoot.clear();
    options.useAnalyzerWorker = true;
    return options;
}

ProjectState stateOf(const ProjectController* controller)
{
    return controller != nullptr ? controller->state() : ProjectState::Empty;
}

bool hasTask(const ProjectController* controller)
{
    return controller != nullptr && controller->hasActiveTask();
}

bool isOneOf(ProjectState state, std::initializer_list<ProjectState> states)
{
    return std::find(states.begin(), states.end(), state) != states.end();
}

void setLabelText(QLabel* label, const QString& text)
{
    if (label != nullptr) {
        label->setText(text);
    }
}


// Codec, size and sample format of a probed stream, as its state label shows them.
QString streamDescription(const domain::StreamInfo& streamInfo)
{
    // One arg() for all: a chained one would read a "%1" in the stream's own codec name as a marker.
    return MainWindow::tr("%1\n%2 x %3\n%4-bit %5")
        .arg(QString::fromStdString(streamInfo.codecName), QString::number(streamInfo.width),
             QString::number(streamInfo.height), QString::number(streamInfo.bitDepth),
             QString::fromStdString(streamInfo.pixelFormatName));
}

// The display index of a decoded picture; 0 when the controller does not list it.
qint64 displayIndexOf(const ProjectController& controller, domain::PictureId pictureId)
{
    const std::vector<domain::PictureInfo>& pictures = controller.pictures();
    const auto found = std::find_if(pictures.begin(), pictures.end(),
                                    [pictureId](const domain::PictureInfo& picture) { return picture.id == pictureId; });
    return found != pictures.end() ? found->displayIndex : 0;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setWindowTitle(tr("Vexilo Desktop"));
    setObjectName(QStringLiteral("mainWindow"));
    resize(defaultWindowSize());
    setDockNestingEnabled(true);

    qualityService = new application::QualityAnalysisService(this);
    qualityService->setObjectName(QStringLiteral("qualityAnalysisService"));
    createActions();
    createMenus();
    createMainToolBar();
    createCentralWidget();
    createDocks();
    connectQualityService();

    projectController = new ProjectController(this, defaultControllerOptions());
    projectController->setObjectName(QStringLiteral("projectController"));
    compareBProjectController = new ProjectController(this, defaultControllerOptions());
    compareBProjectController->setObjectName(QStringLiteral("compareBProjectController"));
    connectProjectController();
    connectCompareBProjectController();

    statusBar()->setObjectName(QStringLiteral("mainStatusBar"));
    statusBar()->showMessage(QString::fromLatin1(kNoProjectText));
    createAnalysisErrorLabel();
    updateActionStates();
    restoreWindowSettings();
}

MainWindow::~MainWindow()
{
    stopQualityAnalysisThread();
    for (ProjectController* controller : {projectController, compareBProjectController}) {
        if (controller != nullptr) {
            // Nothing a controller says while it shuts down may reach a half-destroyed window.
            QObject::disconnect(controller, nullptr, this, nullptr);
            controller->shutdown();
        }
    }
    pictureAnalysis.reset();
    streamAnalysis.reset();
    referenceYuvSource.reset();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    stopQualityAnalysisThread();
    if (projectController != nullptr) {
        projectController->shutdown();
    }
    saveWindowSettings();
    QMainWindow::closeEvent(event);
}

void MainWindow::connectProjectController()
{
    ProjectController* a = projectController;
    connect(a, &ProjectController::stateChanged, this, &MainWindow::onProjectStateChanged);
    connect(a, &ProjectController::taskStarted, this, &MainWindow::onTaskStarted);
    connect(a, &ProjectController::taskProgress, this, &MainWindow::onTaskProgress);
    connect(a, &ProjectController::streamReady, this, &MainWindow::onStreamReady);
    connect(a, &ProjectController::pictureBatchDecoded, this, &MainWindow::onPictureBatchDecoded);
    connect(a, &ProjectController::pictureThumbnailReady, this, &MainWindow::onPictureThumbnailReady);
    connect(a, &ProjectController::pictureSelectionChanged, this, &MainWindow::onPictureSelectionChanged);
    connect(a, &ProjectController::pictureSelectionCleared, this, &MainWindow::onPictureSelectionCleared);
    connect(a, &ProjectController::selectedFrameReady, this, &MainWindow::onSelectedFrameReady);
    connect(a, &ProjectController::selectedFrameUnavailable, this, &MainWindow::onSelectedFrameUnavailable);
    connect(a, &ProjectController::taskFinished, this, &MainWindow::onTaskFinished);
    connect(a, &ProjectController::taskError, this, &MainWindow::onTaskError);
    connect(a, &ProjectController::taskCanceled, this, &MainWindow::onTaskCanceled);
    connect(a, &ProjectController::analysisStarted, this, &MainWindow::onAnalysisStarted);
    connect(a, &ProjectController::analysisFinished, this, &MainWindow::onAnalysisFinished);
    connect(a, &ProjectController::analysisCanceled, this, &MainWindow::onAnalysisCanceled);
    connect(a, &ProjectController::analysisCacheCleared, this, &MainWindow::onAnalysisCacheCleared);
    connect(a, &ProjectController::streamAnalysisLoaded, this, &MainWindow::onStreamAnalysisLoaded);
    connect(a, &ProjectController::pictureAnalysisStatusChanged, this, &MainWindow::onPictureAnalysisStatusChanged);
    connect(a, &ProjectController::pictureAnalysisLoaded, this, &MainWindow::onPictureAnalysisLoaded);
    connect(a, &ProjectController::analysisError, this, &MainWindow::onAnalysisError);
}

void MainWindow::connectCompareBProjectController()
{
    ProjectController* b = compareBProjectController;
    connect(b, &ProjectController::stateChanged, this, [this](ProjectState state) { onCompareBStateChanged(state); });
    connect(b, &ProjectController::taskStarted, this,
            [this](const QString& sourcePath) { appendLog(tr("Started B stream task: %1").arg(sourcePath)); });
    connect(b, &ProjectController::streamReady, this,
            [this](const domain::StreamInfo& info) { onCompareBStreamReady(info); });
    connect(b, &ProjectController::pictureBatchDecoded, this, [this] { onCompareBPictureBatchDecoded(); });
    connect(b, &ProjectController::selectedFrameReady, this,
            [this](const application::VideoFramePtr& frame) { onCompareBSelectedFrameReady(frame); });
    connect(b, &ProjectController::selectedFrameUnavailable, this,
            [this](domain::PictureId, const QString& reason) { onCompareBSelectedFrameUnavailable(reason); });
    connect(b, &ProjectController::taskFinished, this,
            [this](const application::ProjectTaskSummary& summary) { onCompareBTaskFinished(summary); });
    connect(b, &ProjectController::taskError, this,
            [this](const application::ProjectTaskError& error) { onCompareBTaskError(error); });
    connect(b, &ProjectController::taskCanceled, this, [this] { onCompareBTaskCanceled(); });
}

// ---- Layout persistence -------------------------------------------------------------------

void MainWindow::saveWindowSettings()
{
    WindowLayoutSettings layout;
    layout.geometry = saveGeometry();
    layout.dockState = saveState(kDockStateVersion);
    if (frameViewerSplitter != nullptr) {
        layout.frameViewerSplitter = frameViewerSplitter->saveState();
    }
    if (sideBySideViewerSplitter != nullptr) {
        layout.sideBySideViewerSplitter = sideBySideViewerSplitter->saveState();
    }
    layout.compareViewerMode = currentCompareViewerMode();
    if (compareWipeViewer != nullptr) {
        layout.compareWipeRatio = compareWipeViewer->wipeRatio();
    }
    QSettings settings;
    layout.write(settings);
}

void MainWindow::restoreWindowSettings()
{
    QSettings settings;
    const WindowLayoutSettings layout = WindowLayoutSettings::read(settings);
    const bool restored = !layout.geometry.isEmpty() && !layout.dockState.isEmpty() && restoreGeometry(layout.geometry)
                          && restoreState(layout.dockState, kDockStateVersion);
    if (restored) {
        if (frameViewerSplitter != nullptr
            && (layout.frameViewerSplitter.isEmpty() || !frameViewerSplitter->restoreState(layout.frameViewerSplitter))) {
            frameViewerSplitter->setSizes({kTimelinePanelHeight, kViewerPanelHeight});
        }
    } else {
        applyDefaultDockLayout();
    }
    if (sideBySideViewerSplitter != nullptr && !layout.sideBySideViewerSplitter.isEmpty()
        && !sideBySideViewerSplitter->restoreState(layout.sideBySideViewerSplitter)) {
        sideBySideViewerSplitter->setSizes({kSideBySideWidth, kSideBySideWidth});
    }
    if (compareWipeViewer != nullptr) {
        compareWipeViewer->setWipeRatio(layout.compareWipeRatio);
    }
    applyCompareViewerMode(layout.compareViewerMode);
}

void MainWindow::applyDefaultDockLayout()
{
    resize(defaultWindowSize());
    addDockWidget(Qt::LeftDockWidgetArea, streamPictureDock);
    addDockWidget(Qt::RightDockWidgetArea, inspectorDock);
    addDockWidget(Qt::RightDockWidgetArea, aiAssistantDock);
    addDockWidget(Qt::BottomDockWidgetArea, qualityMetricsDock);
    splitDockWidget(qualityMetricsDock, logTaskDock, Qt::Horizontal);
    const std::array<QDockWidget*, 5> docks{streamPictureDock, inspectorDock, aiAssistantDock, logTaskDock,
                                            qualityMetricsDock};
    for (QDockWidget* dock : docks) {
        dock->setFloating(false);
    }
    for (QDockWidget* dock : docks) {
        dock->show();
    }
    mainToolBar->show();
    splitDockWidget(inspectorDock, aiAssistantDock, Qt::Horizontal);
    // Docks moved one by one in a shown window pass through an arrangement taller than the
    // default (Block Info above the AI Assistant), which the window grew to hold and keeps as its
    // minimum until its layout runs again: that is done now, so that it can shrink back.
    layout()->activate();
    resize(defaultWindowSize());
    resizeDocks({streamPictureDock, inspectorDock, aiAssistantDock}, {260, 300, 320}, Qt::Horizontal);
    resizeDocks({qualityMetricsDock, logTaskDock}, {840, 420}, Qt::Horizontal);
    if (frameViewerSplitter != nullptr) {
        frameViewerSplitter->setSizes({kTimelinePanelHeight, kViewerPanelHeight});
    }
    if (sideBySideViewerSplitter != nullptr) {
        sideBySideViewerSplitter->setSizes({kSideBySideWidth, kSideBySideWidth});
    }
    if (compareWipeViewer != nullptr) {
        compareWipeViewer->setWipeRatio(WindowLayoutSettings::kDefaultWipeRatio);
    }
    applyCompareViewerMode(kCompareModeAOnly);
}

// The default size, on a screen smaller than that the screen's available size.
QSize MainWindow::defaultWindowSize() const
{
    const QSize size(kWindowWidth, kWindowHeight);
    const QScreen* shownOn = screen();
    return shownOn != nullptr ? size.boundedTo(shownOn->availableGeometry().size()) : size;
}

// The status bar goes back to what the project last reported: the task label keeps that text,
// "No project opened" while there is none.
void MainWindow::onResetLayoutRequested()
{
    QSettings settings;
    WindowLayoutSettings::remove(settings);
    applyDefaultDockLayout();
    statusBar()->showMessage(taskStateLabel != nullptr ? taskStateLabel->text() : QString::fromLatin1(kNoProjectText));
}

// ---- Action enabling and view resets ------------------------------------------------------

void MainWindow::updateActionStates()
{
    const ProjectState sA = stateOf(projectController);
    const ProjectState sB = stateOf(compareBProjectController);
    const bool taskA = hasTask(projectController);
    const bool taskB = hasTask(compareBProjectController);
    const bool canOpenA = isOneOf(sA, {ProjectState::Empty, ProjectState::Error});
    const bool canOpenB = isOneOf(sB, {ProjectState::Empty, ProjectState::Error});
    const bool projectOpen = !isOneOf(sA, {ProjectState::Empty, ProjectState::Closing})
                             || !isOneOf(sB, {ProjectState::Empty, ProjectState::Closing});
    const bool taskCancellable = (taskA && !isOneOf(sA, {ProjectState::Cancelling, ProjectState::Closing}))
                                 || (taskB && !isOneOf(sB, {ProjectState::Cancelling, ProjectState::Closing}));
    const bool aActive = isOneOf(sA, {ProjectState::Ready, ProjectState::Analyzing});
    const bool analysisBusy = projectController != nullptr && projectController->isAnalysisBusy();
    const bool qualityRunning = qualityService != nullptr && qualityService->isRunning();
    const bool hasPairs = comparePicturePairModel != nullptr && comparePicturePairModel->rowCount() > 0;
    const bool pairSelected = comparePairView != nullptr && comparePairView->currentIndex().isValid();
    const bool qualityStartable = streamAnalysisReady && referenceYuvSource.has_value() && hasPairs && !qualityRunning;
    const int row = pictureView != nullptr ? pictureView->currentIndex().row() : -1;
    const int rows = pictureTableModel != nullptr ? pictureTableModel->rowCount() : 0;
    const bool pictureValid = aActive && row >= 0 && row < rows;
    const bool frameA = frameViewer != nullptr && frameViewer->hasFrame();
    const bool frameB = compareBFrameViewer != nullptr && compareBFrameViewer->hasFrame();
    const bool zoomable = shownCompareViewerMode() == kCompareModeBOnly ? frameB : frameA;

    const std::pair<QAction*, bool> rules[] = {
        {actionOpenHevc, canOpenA && !taskA && ProjectController::isBackendAvailable()},
        {actionOpenCompareB,
         compareBProjectController != nullptr && canOpenB && !taskB && ProjectController::isBackendAvailable()},
        {actionAttachReferenceYuv, !taskA && !taskB && !qualityRunning},
        {actionCloseProject, projectOpen},
        {actionFirstPicture, pictureValid && row > 0},
        {actionPreviousPicture, pictureValid && row > 0},
        {actionNextPicture, pictureValid && row + 1 < rows},
        {actionLastPicture, pictureValid && row + 1 < rows},
        {actionFitToWindow, zoomable},
        {actionActualSize, zoomable},
        {actionZoomIn, zoomable},
        {actionZoomOut, zoomable},
        {actionCombinedComponents, frameA || frameB},
        {actionLumaComponent, frameA || frameB},
        {actionUComponent, frameA || frameB},
        {actionVComponent, frameA || frameB},
        {actionCtuOverlay, frameA},
        {actionCuOverlay, frameA},
        {actionTuOverlay, frameA},
        {actionPuOverlay, frameA},
        {actionQpMapOverlay, frameA},
        {actionMotionVectorOverlay, frameA},
        {actionQualityHeatmapOverlay, frameA || frameB},
        {actionCompareAOnly, true},
        {actionCompareBOnly, true},
        {actionCompareSideBySide, true},
        {actionCompareWipe, true},
        {actionCancelTask, taskCancellable || qualityRunning},
        {actionAnalyzeStream, aActive && !analysisBusy},
        {actionReanalyzeStream, aActive && !analysisBusy},
        {actionAnalyzeCurrentPictureStructure, pictureValid && !analysisBusy},
        {actionCancelAnalysis, analysisBusy},
        {actionClearAnalysisCache, (aActive || sA == ProjectState::Error) && !analysisBusy},
        {actionAnalyzeSelectedPairQuality, qualityStartable && pairSelected},
        {actionAnalyzeVisiblePairQuality, qualityStartable},
        {actionAnalyzeFullStreamQuality, qualityStartable},
        {actionCancelQualityAnalysis, qualityRunning},
    };
    for (const auto& [action, enabled] : rules) {
        if (action != nullptr) {
            action->setEnabled(enabled);
        }
    }
    updateCompareGroupVisibility();
}

void MainWindow::updateCompareGroupVisibility()
{
    const ProjectState sB = stateOf(compareBProjectController);
    const bool bActive = compareBProjectController != nullptr
                         && (sB != ProjectState::Empty || compareBProjectController->hasActiveTask());
    const bool showB = compareBOpenRequested || bActive;
    const bool hasReference = referenceYuvSource.has_value();
    if (compareBGroup != nullptr) {
        compareBGroup->setVisible(showB);
    }
    if (comparePairGroup != nullptr) {
        comparePairGroup->setVisible(showB || hasReference);
    }
    if (referenceYuvGroup != nullptr) {
        referenceYuvGroup->setVisible(hasReference);
    }
}

void MainWindow::resetViews()
{
    const QString noProject = QString::fromLatin1(kNoProjectText);
    selectedFrame.reset();
    compareBSelectedFrame.reset();
    streamAnalysisReady = false;
    streamAnalysis.reset();
    pictureAnalysis.reset();
    pictureAnalysisPictureId.reset();
    autoStructureRequestedPictures.clear();

    if (pictureView != nullptr && pictureView->selectionModel() != nullptr) {
        pictureView->selectionModel()->clear();
    }
    if (pictureTableModel != nullptr) {
        pictureTableModel->clear();
    }
    forgetAnalysisErrors();
    referenceYuvSource.reset();
    setLabelText(referenceYuvStateLabel, tr("No reference YUV attached"));
    refreshComparePairModel();
    setLabelText(metricSummaryLabel, tr("No quality metrics computed"));
    clearQualityMetrics();
    clearPictureObjectViews();
    showFreshBlockInfoMessage(tr("No project"), QStringLiteral("idle"));
    clearPictureSyntaxViews();
    frameViewer->clearAnalysis();
    frameViewer->clearFrame(noProject);
    // The wipe view shows copies of the viewers' pictures, so it must let go of A's as well.
    refreshWipeView();
    if (pictureStrip != nullptr) {
        pictureStrip->clear();
    }
    setLabelText(frameViewerStateLabel, noProject);
    setLabelText(streamStateLabel, noProject);
    if (streamStatisticsModel != nullptr) {
        streamStatisticsModel->clear();
    }
    refreshAiEvidence(noProject);
    for (QLabel* label : {pictureStateLabel, inspectorStateLabel, taskStateLabel}) {
        setLabelText(label, noProject);
    }
    if (stateOf(projectController) == ProjectState::Empty) {
        statusBar()->showMessage(noProject);
    }
}

void MainWindow::clearQualityMetrics()
{
    if (qualityService != nullptr) {
        qualityService->clearResults();  // the pair model and the chart follow the store
    }
    for (FrameViewer* viewer : {frameViewer, compareBFrameViewer}) {
        if (viewer != nullptr) {
            viewer->clearQualityHeatmap();
        }
    }
    setLabelText(qualityMetricStatusLabel, tr("Run Analyze Stream, then Quality Detect"));
    refreshAiEvidence(tr("Quality metrics cleared"));
}

void MainWindow::clearCompareBStream()
{
    compareBSelectedFrame.reset();
    clearQualityMetrics();
    setLabelText(compareBStreamStateLabel, tr("No B stream opened"));
    setLabelText(compareBPictureStateLabel, tr("B pictures: N/A"));
    clearCompareBViewer(tr(kOpenBForCompareText));
    refreshComparePairModel();
    refreshWipeView();
    updateCompareGroupVisibility();
    refreshAiEvidence(tr("B stream cleared"));
}

void MainWindow::clearPictureSyntaxViews()
{
    for (PictureSyntaxModel* model :
         {nalSyntaxModel, vpsSyntaxModel, spsSyntaxModel, ppsSyntaxModel, seiSyntaxModel, pictureSliceSyntaxModel}) {
        if (model != nullptr) {
            model->clear();
        }
    }
    if (pictureStatisticsModel != nullptr) {
        pictureStatisticsModel->clear();
    }
}

// ---- Compare views --------------------------------------------------------------------------

int MainWindow::currentCompareViewerMode() const
{
    if (actionCompareWipe == nullptr || actionCompareSideBySide == nullptr || actionCompareBOnly == nullptr) {
        return kCompareModeAOnly;
    }
    if (actionCompareWipe->isChecked()) {
        return kCompareModeWipe;
    }
    if (actionCompareSideBySide->isChecked()) {
        return kCompareModeSideBySide;
    }
    return actionCompareBOnly->isChecked() ? kCompareModeBOnly : kCompareModeAOnly;
}

bool MainWindow::hasCompareViewers() const
{
    return compareViewerStack != nullptr && sideBySideViewerSplitter != nullptr && frameViewer != nullptr
           && compareBFrameViewer != nullptr;
}

void MainWindow::applyCompareViewerMode(int mode)
{
    if (!hasCompareViewers()) {
        return;
    }
    mode = std::clamp(mode, kCompareModeAOnly, kCompareModeWipe);
    const std::array<QAction*, 4> modeActions{actionCompareAOnly, actionCompareBOnly, actionCompareSideBySide,
                                              actionCompareWipe};
    if (std::all_of(modeActions.begin(), modeActions.end(), [](QAction* action) { return action != nullptr; })) {
        modeActions.at(static_cast<std::size_t>(mode))->setChecked(true);
    }
    showCompareViewers(hasCompareBStream() ? mode : kCompareModeAOnly);
    updateActionStates();
}

int MainWindow::shownCompareViewerMode() const
{
    return hasCompareBStream() ? currentCompareViewerMode() : kCompareModeAOnly;
}

// Nothing to compare without B: the chosen mode waits for the next B stream, and the A viewer
// with its overlays is shown meanwhile, not an empty B side or a wipe without overlays.
bool MainWindow::hasCompareBStream() const
{
    return !isOneOf(stateOf(compareBProjectController), {ProjectState::Empty, ProjectState::Error});
}

void MainWindow::showCompareViewers(int mode)
{
    if (!hasCompareViewers()) {
        return;
    }
    compareViewerStack->setCurrentIndex(mode == kCompareModeWipe ? kWipePage : kSideBySidePage);
    if (mode == kCompareModeWipe) {
        frameViewer->setVisible(true);
        compareBFrameViewer->setVisible(true);
        refreshWipeView();
    } else {
        frameViewer->setVisible(mode != kCompareModeBOnly);
        compareBFrameViewer->setVisible(mode != kCompareModeAOnly);
        const int full = 2 * kSideBySideWidth;
        if (mode == kCompareModeAOnly) {
            sideBySideViewerSplitter->setSizes({full, 0});
        } else if (mode == kCompareModeBOnly) {
            sideBySideViewerSplitter->setSizes({0, full});
        } else {
            sideBySideViewerSplitter->setSizes({kSideBySideWidth, kSideBySideWidth});
        }
    }
}

void MainWindow::onCompareAOnlyRequested() { applyCompareViewerMode(kCompareModeAOnly); }
void MainWindow::onCompareBOnlyRequested() { applyCompareViewerMode(kCompareModeBOnly); }
void MainWindow::onCompareSideBySideRequested() { applyCompareViewerMode(kCompareModeSideBySide); }
void MainWindow::onCompareWipeRequested() { applyCompareViewerMode(kCompareModeWipe); }

void MainWindow::refreshWipeView()
{
    if (compareWipeViewer == nullptr || frameViewer == nullptr || compareBFrameViewer == nullptr) {
        return;
    }
    const bool frameA = frameViewer->hasFrame();
    const bool frameB = compareBFrameViewer->hasFrame();
    if (!frameA && !frameB) {
        compareWipeViewer->clear(tr("Open A and B streams for wipe compare"));
        return;
    }
    const QString caption =
        frameA ? tr("A/B Wipe | display %1").arg(frameViewer->displayIndex()) : tr("A/B Wipe");
    compareWipeViewer->setImages(frameA ? frameViewer->displayImage() : QImage(),
                                 frameB ? compareBFrameViewer->displayImage() : QImage(), caption);
}

void MainWindow::mirrorViewTransform(FrameViewer* from, FrameViewer* to)
{
    if (syncingViewTransform || from == nullptr || to == nullptr || from == to) {
        return;
    }
    // Restored rather than cleared, so that a nested mirror cannot unlock an outer one.
    const QScopedValueRollback guard(syncingViewTransform, true);
    to->setViewTransform(from->viewMode(), from->zoomFactor(), from->panOffset());
}

FrameViewer* MainWindow::zoomTarget() const
{
    return shownCompareViewerMode() == kCompareModeBOnly ? compareBFrameViewer : frameViewer;
}

void MainWindow::clearCompareBViewer(const QString& message)
{
    if (compareBFrameViewer != nullptr) {
        compareBFrameViewer->clearFrame(message);
    }
}

void MainWindow::onCompareBStateChanged(ProjectState state)
{
    if (state == ProjectState::Opening) {
        setLabelText(compareBStreamStateLabel, tr("Opening B stream..."));
        setLabelText(compareBPictureStateLabel, tr("B pictures: loading"));
        clearCompareBViewer(tr("Opening B stream..."));
        refreshWipeView();
        showCompareViewers(shownCompareViewerMode());
    } else if (state == ProjectState::Empty || state == ProjectState::Error) {
        clearCompareBStream();
        showCompareViewers(shownCompareViewerMode());
    }
    updateActionStates();
}

void MainWindow::onCompareBStreamReady(const domain::StreamInfo& streamInfo)
{
    setLabelText(compareBStreamStateLabel, streamDescription(streamInfo));
    clearCompareBViewer(tr("No matched B picture selected"));
    refreshAiEvidence(tr("B stream opened"));
}

void MainWindow::onCompareBPictureBatchDecoded()
{
    setLabelText(compareBPictureStateLabel, tr("B pictures: %1").arg(compareBProjectController->pictureCount()));
    // Gathered with A's: the pair rows and the evidence describe both whole streams.
    deferredEvidenceStatus = tr("B pictures updated");
    deferredComparePairRefresh = true;
    scheduleDeferredRefresh();
}

void MainWindow::onCompareBSelectedFrameReady(const application::VideoFramePtr& frame)
{
    if (!frame) {
        compareBSelectedFrame.reset();
        clearCompareBViewer(tr("B frame is empty"));
        refreshWipeView();
        updateMetricSummary();
        return;
    }
    compareBSelectedFrame = frame;
    compareBFrameViewer->setFrame(frame, displayIndexOf(*compareBProjectController, frame->index));
    if (frameViewer->hasFrame()) {
        mirrorViewTransform(frameViewer, compareBFrameViewer);
    }
    refreshWipeView();
    updateMetricSummary();
    updateQualityHeatmaps();
    refreshAiEvidence(tr("B picture selection changed"));
    updateActionStates();
}

void MainWindow::onCompareBSelectedFrameUnavailable(const QString& reason)
{
    compareBSelectedFrame.reset();
    clearCompareBViewer(tr("B frame unavailable: %1").arg(reason));
    compareBFrameViewer->clearQualityHeatmap();
    refreshWipeView();
    updateMetricSummary();
    refreshAiEvidence(tr("B frame unavailable"));
}

void MainWindow::onCompareBTaskError(const application::ProjectTaskError& error)
{
    compareBSelectedFrame.reset();
    const QString text = tr("B stream error: %1").arg(error.message);
    setLabelText(compareBStreamStateLabel, text);
    compareBFrameViewer->showFrameUnavailable(text);
    appendLog(text + QLatin1Char('\n') + error.detail);
    refreshWipeView();
    refreshAiEvidence(tr("B stream error"));
    updateActionStates();
}

void MainWindow::onCompareBTaskCanceled()
{
    compareBSelectedFrame.reset();
    setLabelText(compareBStreamStateLabel, tr("B stream canceled"));
    clearCompareBViewer(tr("B stream canceled"));
    refreshWipeView();
    refreshAiEvidence(tr("B stream canceled"));
    updateActionStates();
}

// ---- Task reporting and selection -----------------------------------------------------------

void MainWindow::appendLog(const QString& text)
{
    if (logView != nullptr) {
        logView->appendPlainText(text);
    }
}

void MainWindow::reportTaskMessage(const QString& message)
{
    setLabelText(taskStateLabel, message);
    statusBar()->showMessage(message);
    appendLog(message);
    updateActionStates();
}

// ---- Command slots --------------------------------------------------------------------------



// ---- Controller slots -----------------------------------------------------------------------

}  // namespace vexilo
