// The window's widgets: the central viewer area and the five docks with their models.
#include "vexilo/ui/MainWindow.h"

#include "MainWindowLayoutConstants.h"

#include "vexilo/ai/AiChatPanel.h"
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
#include "vexilo/views/PercentBarDelegate.h"
#include "vexilo/views/PictureStripWidget.h"
#include "vexilo/views/QualityMetricChartWidget.h"

#include <QAction>
#include <QComboBox>
#include <QDockWidget>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QScrollArea>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <initializer_list>
#include <utility>
#include <vector>

namespace vexilo {
namespace {

using namespace layout;

constexpr int kSplitterHandleWidth = 7;
constexpr int kVmafMetric = 3;
// The window opens at 1280 x 800 with all five docks shown; the viewers' and the chart's own
// minimum sizes would force it taller and, side by side, wider than that.
constexpr QSize kViewerMinimumSize(160, 90);
constexpr int kChartMinimumHeight = 100;

// Shows a tree fully expanded after every reset of its model, expanding it when it is next shown
// if it is hidden then: expanding asks the model for every row and keeps an entry per row, which
// a section in a tab nobody looks at need not cost.
class ExpandAllWhenShown : public QObject {
public:
    explicit ExpandAllWhenShown(QTreeView* view) : QObject(view), view_(view)
    {
        view->installEventFilter(this);
        connect(view->model(), &QAbstractItemModel::modelReset, this, [this] {
            pending_ = !view_->isVisible();
            if (!pending_) {
                view_->expandAll();
            }
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == view_ && event->type() == QEvent::Show && pending_) {
            pending_ = false;
            view_->expandAll();
        }
        return false;
    }

private:
    QTreeView* view_;
    bool pending_ = false;
};

const char* const kBlockInfoStyleSheet =
    "QTableView#blockInfoView {  border: 1px solid #c9d1db;  border-radius: 3px;  background: #fbfcfe;  "
    "alternate-background-color: #f5f7fa;  selection-background-color: transparent;}"
    "QTableView#blockInfoView::item { padding: 3px 6px; }"
    "QHeaderView::section {  background: #eef2f6;  color: #4b5563;  border: 0;  border-bottom: 1px solid #c9d1db;  "
    "padding: 4px 6px;}";

const char* const kQualitySelectorStyleSheet =
    "QFrame#qualityMetricSelectorFrame {  border: 1px solid #c9d1db;  border-radius: 4px;  background: #f6f8fb;}"
    "QLabel#qualityMetricSelectorLabel {  color: #5f6b7a;  padding-left: 4px;}"
    "QComboBox {  min-width: 82px;  padding: 2px 8px;}"
    "QToolButton {  border: 1px solid transparent;  border-radius: 3px;  padding: 2px 8px;  min-width: 28px;}"
    "QToolButton:checked {  background: #dbeafe;  border-color: #8bb8f8;  color: #1d4ed8;}"
    "QToolButton:hover {  background: #eef4ff;}";

const std::pair<const char*, int> kPlaneItems[] = {{"Y", 0}, {"U", 1}, {"V", 2}, {"All", 3}};
const std::pair<const char*, int> kVmafFeatureItems[] = {{"adm2", 0},   {"motion2", 1}, {"scale0", 2}, {"scale1", 3},
                                                         {"scale2", 4}, {"scale3", 5},  {"All", 6}};
const std::pair<const char*, int> kMetricItems[] = {{"PSNR", 0}, {"SSIM", 1}, {"MSE", 2}, {"VMAF", 3}};

template <typename Widget>
Widget* named(Widget* widget, const char* objectName)
{
    widget->setObjectName(QString::fromLatin1(objectName));
    return widget;
}

QToolBar* makeInnerToolBar(QWidget* parent, const QString& title, const char* objectName, Qt::Orientation orientation,
                           Qt::ToolButtonStyle style, std::initializer_list<QAction*> actions)
{
    auto* toolBar = named(new QToolBar(title, parent), objectName);
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setOrientation(orientation);
    toolBar->setToolButtonStyle(style);
    for (QAction* action : actions) {
        toolBar->addAction(action);
    }
    return toolBar;
}

QHBoxLayout* centredRow(QWidget* toolBar)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(toolBar);
    row->addStretch();
    return row;
}

void setColumnWidths(QHeaderView* header, std::initializer_list<int> widths)
{
    int column = 0;
    for (int width : widths) {
        header->resizeSection(column++, width);
    }
}

void setPerPixelScrolling(QAbstractItemView* view)
{
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

// The table views of the picture lists: whole rows, one at a time, read-only and unsorted.
void setUpRowTable(QTableView* view)
{
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSortingEnabled(false);
    setPerPixelScrolling(view);
    view->verticalHeader()->setVisible(false);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
}

void fillCombo(QComboBox* combo, const std::pair<const char*, int>* begin, const std::pair<const char*, int>* end)
{
    for (auto item = begin; item != end; ++item) {
        combo->addItem(QString::fromLatin1(item->first), item->second);
    }
}

}  // namespace

QLabel* MainWindow::makeStateLabel(QWidget* parent)
{
    auto* label = new QLabel(QString::fromLatin1(kNoProjectText), parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

QToolButton* MainWindow::addActionToolButton(QWidget* parent, QBoxLayout* layout, QAction* action,
                                             const QString& objectName)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(false);
    layout->addWidget(button, 0);
    return button;
}

void MainWindow::addSelectorLabel(QBoxLayout* layout, QWidget* parent, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("qualityMetricSelectorLabel"));
    layout->addWidget(label);
}

void MainWindow::createCentralWidget()
{
    auto* panel = named(new QFrame(this), "frameViewerPanel");
    panel->setFrameShape(QFrame::StyledPanel);
    auto* panelLayout = new QVBoxLayout(panel);

    auto* header = new QHBoxLayout;
    header->addWidget(named(new QLabel(tr("Strip:"), panel), "pictureStripModeLabel"));
    addActionToolButton(panel, header, actionPictureStripThumbnails, QStringLiteral("buttonPictureStripThumbnails"));
    addActionToolButton(panel, header, actionPictureStripReferenceHierarchy,
                        QStringLiteral("buttonPictureStripReferenceHierarchy"));
    header->addStretch();
    auto* heading = named(new QLabel(tr("Frame Viewer"), panel), "frameViewerHeading");
    heading->setAlignment(Qt::AlignCenter);
    header->addWidget(heading);
    header->addStretch();
    panelLayout->addLayout(header);

    frameViewerSplitter = named(new QSplitter(Qt::Vertical, panel), "frameViewerSplitter");
    frameViewerSplitter->setChildrenCollapsible(false);
    frameViewerSplitter->setOpaqueResize(true);
    frameViewerSplitter->setHandleWidth(kSplitterHandleWidth);

    auto* timelinePanel = named(new QWidget(frameViewerSplitter), "timelinePanel");
    auto* timelineLayout = new QVBoxLayout(timelinePanel);
    timelineLayout->setContentsMargins(0, 0, 0, 0);
    timelineLayout->setSpacing(4);
    auto* navigationBar = makeInnerToolBar(timelinePanel, tr("Picture Navigation"), "navigationTimelineToolBar",
                                           Qt::Horizontal, Qt::ToolButtonIconOnly,
                                           {actionFirstPicture, actionPreviousPicture, actionNextPicture, actionLastPicture});
    navigationBar->setIconSize(QSize(18, 18));
    auto* navigationRow = named(new QWidget(timelinePanel), "navigationTimelineRow");
    navigationRow->setLayout(centredRow(navigationBar));
    navigationRow->layout()->setContentsMargins(0, 0, 0, 0);
    timelineLayout->addWidget(navigationRow);
    pictureStrip = new PictureStripWidget(timelinePanel);
    timelineLayout->addWidget(pictureStrip, 1);

    auto* displayPanel = named(new QWidget(frameViewerSplitter), "viewerDisplayPanel");
    auto* displayLayout = new QHBoxLayout(displayPanel);
    displayLayout->setContentsMargins(0, 0, 0, 0);
    displayLayout->setSpacing(6);
    auto* canvasPanel = named(new QWidget(displayPanel), "viewerCanvasPanel");
    auto* canvasLayout = new QVBoxLayout(canvasPanel);
    canvasLayout->setContentsMargins(0, 0, 0, 0);
    canvasLayout->setSpacing(4);
    auto* compareBar = makeInnerToolBar(canvasPanel, tr("Compare View"), "compareModeToolBar", Qt::Horizontal,
                                        Qt::ToolButtonTextOnly,
                                        {actionCompareAOnly, actionCompareBOnly, actionCompareSideBySide, actionCompareWipe});
    auto* compareRow = named(new QWidget(canvasPanel), "compareModeRow");
    compareRow->setLayout(centredRow(compareBar));
    compareRow->layout()->setContentsMargins(0, 0, 0, 0);
    canvasLayout->addWidget(compareRow);

    compareViewerStack = named(new QStackedWidget(canvasPanel), "compareViewerStack");
    sideBySideViewerSplitter = named(new QSplitter(Qt::Horizontal, compareViewerStack), "sideBySideViewerSplitter");
    sideBySideViewerSplitter->setChildrenCollapsible(false);
    sideBySideViewerSplitter->setOpaqueResize(true);
    frameViewer = new FrameViewer(sideBySideViewerSplitter);
    compareBFrameViewer = new FrameViewer(sideBySideViewerSplitter);
    compareBFrameViewer->setObjectName(QStringLiteral("compareBFrameViewer"));
    compareBFrameViewer->clearFrame(tr("Open B stream for A/B compare"));
    sideBySideViewerSplitter->addWidget(frameViewer);
    sideBySideViewerSplitter->addWidget(compareBFrameViewer);
    sideBySideViewerSplitter->setStretchFactor(0, 1);
    sideBySideViewerSplitter->setStretchFactor(1, 1);
    sideBySideViewerSplitter->setSizes({kSideBySideWidth, kSideBySideWidth});
    compareBFrameViewer->hide();
    compareWipeViewer = new CompareWipeViewer(compareViewerStack);
    for (QWidget* viewer : {static_cast<QWidget*>(frameViewer), static_cast<QWidget*>(compareBFrameViewer),
                            static_cast<QWidget*>(compareWipeViewer)}) {
        viewer->setMinimumSize(kViewerMinimumSize);
    }
    compareViewerStack->addWidget(sideBySideViewerSplitter);
    compareViewerStack->addWidget(compareWipeViewer);
    compareViewerStack->setCurrentIndex(0);
    canvasLayout->addWidget(compareViewerStack, 1);
    displayLayout->addWidget(canvasPanel, 1);

    auto* zoomBar = makeInnerToolBar(displayPanel, tr("Viewer Zoom"), "viewerZoomToolBar", Qt::Vertical,
                                     Qt::ToolButtonIconOnly, {actionFitToWindow, actionActualSize, actionZoomIn, actionZoomOut});
    zoomBar->setIconSize(QSize(20, 20));
    displayLayout->addWidget(zoomBar, 0);

    frameViewerSplitter->addWidget(timelinePanel);
    frameViewerSplitter->addWidget(displayPanel);
    frameViewerSplitter->setStretchFactor(0, 0);
    frameViewerSplitter->setStretchFactor(1, 1);
    frameViewerSplitter->setSizes({kTimelinePanelHeight, kViewerPanelHeight});
    panelLayout->addWidget(frameViewerSplitter, 1);

    auto* componentRowWidget = named(new QWidget(panel), "frameComponentControlsRow");
    auto* componentRow = new QHBoxLayout(componentRowWidget);
    componentRow->setContentsMargins(0, 0, 0, 0);
    componentRow->addStretch();
    componentRow->addWidget(named(new QLabel(tr("Components:"), componentRowWidget), "frameComponentControlsLabel"));
    addActionToolButton(componentRowWidget, componentRow, actionCombinedComponents, QStringLiteral("buttonCombinedComponents"));
    addActionToolButton(componentRowWidget, componentRow, actionLumaComponent, QStringLiteral("buttonLumaComponent"));
    addActionToolButton(componentRowWidget, componentRow, actionUComponent, QStringLiteral("buttonUComponent"));
    addActionToolButton(componentRowWidget, componentRow, actionVComponent, QStringLiteral("buttonVComponent"));
    componentRow->addStretch();
    panelLayout->addWidget(componentRowWidget);

    frameViewerStateLabel = named(makeStateLabel(panel), "frameViewerStateLabel");
    panelLayout->addWidget(frameViewerStateLabel);

    setCentralWidget(panel);
    connectCentralWidget();
}

void MainWindow::connectCentralWidget()
{
    using ViewerCall = void (FrameViewer::*)();
    const std::pair<QAction*, ViewerCall> zoomCalls[] = {{actionFitToWindow, &FrameViewer::fitToWindow},
                                                          {actionActualSize, &FrameViewer::showActualSize},
                                                          {actionZoomIn, &FrameViewer::zoomIn},
                                                          {actionZoomOut, &FrameViewer::zoomOut}};
    for (const auto& [action, call] : zoomCalls) {
        connect(action, &QAction::triggered, this, [this, call = call] {
            if (FrameViewer* target = zoomTarget()) {
                (target->*call)();
            }
        });
    }
    const std::pair<QAction*, ViewerCall> componentCalls[] = {{actionCombinedComponents, &FrameViewer::showCombinedComponents},
                                                               {actionLumaComponent, &FrameViewer::showLumaComponent},
                                                               {actionUComponent, &FrameViewer::showUComponent},
                                                               {actionVComponent, &FrameViewer::showVComponent}};
    for (const auto& [action, call] : componentCalls) {
        connect(action, &QAction::triggered, frameViewer, call);
        connect(action, &QAction::triggered, compareBFrameViewer, call);
    }
    for (const auto& [action, call] : componentCalls) {
        connect(action, &QAction::triggered, this, [this] { refreshWipeView(); });
    }
    connect(actionPictureStripThumbnails, &QAction::triggered, pictureStrip,
            [strip = pictureStrip] { strip->setStripMode(PictureStripWidget::StripMode::Thumbnails); });
    connect(actionPictureStripReferenceHierarchy, &QAction::triggered, pictureStrip,
            [strip = pictureStrip] { strip->setStripMode(PictureStripWidget::StripMode::ReferenceHierarchy); });

    using OverlaySetter = void (FrameViewer::*)(bool);
    const std::pair<QAction*, OverlaySetter> overlays[] = {
        {actionCtuOverlay, &FrameViewer::setCtuOverlayEnabled},
        {actionCuOverlay, &FrameViewer::setCuOverlayEnabled},
        {actionTuOverlay, &FrameViewer::setTuOverlayEnabled},
        {actionPuOverlay, &FrameViewer::setPuOverlayEnabled},
        {actionQpMapOverlay, &FrameViewer::setQpMapOverlayEnabled},
        {actionMotionVectorOverlay, &FrameViewer::setMotionVectorOverlayEnabled},
        {actionQualityHeatmapOverlay, &FrameViewer::setQualityHeatmapOverlayEnabled},
    };
    for (const auto& [action, setter] : overlays) {
        connect(action, &QAction::toggled, frameViewer, setter);
    }
    connect(actionQualityHeatmapOverlay, &QAction::toggled, compareBFrameViewer,
            &FrameViewer::setQualityHeatmapOverlayEnabled);

    for (FrameViewer* viewer : {frameViewer, compareBFrameViewer}) {
        connect(viewer, &FrameViewer::qualityHeatmapBlockSelected, this, [this](const QString& summary) {
            if (metricSummaryLabel != nullptr) {
                metricSummaryLabel->setText(summary);
            }
        });
    }
    for (FrameViewer* viewer : {frameViewer, compareBFrameViewer}) {
        connect(viewer, &FrameViewer::frameAvailabilityChanged, this, [this] { updateActionStates(); });
    }
    connect(frameViewer, &FrameViewer::viewTransformChanged, this,
            [this] { mirrorViewTransform(frameViewer, compareBFrameViewer); });
    connect(compareBFrameViewer, &FrameViewer::viewTransformChanged, this,
            [this] { mirrorViewTransform(compareBFrameViewer, frameViewer); });
    connect(frameViewer, &FrameViewer::analysisObjectHovered, this, &MainWindow::onViewerAnalysisObjectHovered);
    connect(frameViewer, &FrameViewer::analysisObjectSelected, this, &MainWindow::onViewerAnalysisObjectSelected);
    connect(frameViewer, &FrameViewer::blockInfoAvailable, this, &MainWindow::onViewerBlockInfoAvailable);
    for (FrameViewer* viewer : {frameViewer, compareBFrameViewer}) {
        connect(viewer, &FrameViewer::blockInfoUnavailable, this, &MainWindow::onViewerBlockInfoUnavailable);
    }
    for (FrameViewer* viewer : {frameViewer, compareBFrameViewer}) {
        connect(viewer, &FrameViewer::blockInfoCleared, this, &MainWindow::onViewerBlockInfoCleared);
    }
    connect(pictureStrip, &PictureStripWidget::pictureActivated, this,
            [this](domain::PictureId pictureId) { selectPictureById(pictureId); });
    connect(pictureStrip, &PictureStripWidget::thumbnailWanted, this, &MainWindow::onPictureThumbnailWanted);
}

QDockWidget* MainWindow::addDock(const QString& title, const QString& objectName, Qt::DockWidgetAreas allowedAreas,
                                 const QString& toggleName)
{
    auto* dock = new QDockWidget(title, this);
    dock->setObjectName(objectName);
    dock->setAllowedAreas(allowedAreas);
    dock->toggleViewAction()->setObjectName(toggleName);
    return dock;
}

void MainWindow::createDocks()
{
    const Qt::DockWidgetAreas sides = Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea;
    const Qt::DockWidgetAreas edges = Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea;
    streamPictureDock = addDock(tr("Stream / Pictures"), QStringLiteral("streamPictureDock"), sides,
                                QStringLiteral("actionToggleStreamPictures"));
    inspectorDock = addDock(tr("Block Info"), QStringLiteral("inspectorDock"), sides, QStringLiteral("actionToggleInspector"));
    aiAssistantDock = addDock(tr("AI Assistant"), QStringLiteral("aiAssistantDock"), sides,
                              QStringLiteral("actionToggleAiAssistant"));
    logTaskDock = addDock(tr("Log / Tasks"), QStringLiteral("logTaskDock"), edges, QStringLiteral("actionToggleLogTasks"));
    qualityMetricsDock = addDock(tr("Quality Metrics"), QStringLiteral("qualityMetricsDock"), edges,
                                 QStringLiteral("actionToggleQualityMetrics"));

    // With a B stream, a reference and the pair table, the panel is taller than a 1080p screen;
    // it scrolls instead of growing the window off the screen.
    auto* streamPictureScroll = new QScrollArea(streamPictureDock);
    streamPictureScroll->setWidgetResizable(true);
    streamPictureScroll->setFrameShape(QFrame::NoFrame);
    streamPictureScroll->setWidget(createStreamPictureDockWidget(streamPictureScroll));
    streamPictureDock->setWidget(streamPictureScroll);
    addDockWidget(Qt::LeftDockWidgetArea, streamPictureDock);
    inspectorDock->setWidget(createBlockInfoDockWidget(inspectorDock));
    addDockWidget(Qt::RightDockWidgetArea, inspectorDock);
    aiChatPanel = new AiChatPanel(aiAssistantDock);
    aiChatPanel->setEvidenceSource([this] { return buildAiEvidenceText(); });
    aiAssistantDock->setWidget(aiChatPanel);
    addDockWidget(Qt::RightDockWidgetArea, aiAssistantDock);
    logTaskDock->setWidget(createLogTaskDockWidget(logTaskDock));
    qualityMetricsDock->setWidget(createQualityMetricsDockWidget(qualityMetricsDock));
    addDockWidget(Qt::BottomDockWidgetArea, qualityMetricsDock);
    splitDockWidget(qualityMetricsDock, logTaskDock, Qt::Horizontal);

    if (auto* viewMenu = findChild<QMenu*>(QStringLiteral("menuView"))) {
        for (QDockWidget* dock : {streamPictureDock, inspectorDock, aiAssistantDock, logTaskDock, qualityMetricsDock}) {
            viewMenu->addAction(dock->toggleViewAction());
        }
    }
}

QWidget* MainWindow::createStreamPictureDockWidget(QWidget* parent)
{
    auto* widget = new QWidget(parent);
    auto* layout = new QVBoxLayout(widget);

    auto* streamGroup = new QGroupBox(tr("Stream"), widget);
    auto* streamLayout = new QVBoxLayout(streamGroup);
    streamStateLabel = named(makeStateLabel(streamGroup), "streamStateLabel");
    streamStateLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    streamLayout->addWidget(streamStateLabel);
    streamStatisticsModel = named(new StreamStatisticsModel(streamGroup), "streamStatisticsModel");
    streamStatisticsView = named(new QTreeView(streamGroup), "streamStatisticsView");
    streamStatisticsView->setModel(streamStatisticsModel);
    streamStatisticsView->setSelectionMode(QAbstractItemView::NoSelection);
    streamStatisticsView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    setPerPixelScrolling(streamStatisticsView);
    streamStatisticsView->setAlternatingRowColors(true);
    streamStatisticsView->setUniformRowHeights(true);
    streamStatisticsView->header()->setSectionResizeMode(QHeaderView::Interactive);
    streamStatisticsView->header()->setStretchLastSection(true);
    setColumnWidths(streamStatisticsView->header(), {180, 120, 140});
    streamStatisticsView->setItemDelegateForColumn(2, new PercentBarDelegate(streamStatisticsView));
    streamStatisticsView->expandToDepth(0);
    streamLayout->addWidget(streamStatisticsView, 1);
    layout->addWidget(streamGroup);

    compareBGroup = named(new QGroupBox(tr("B Stream"), widget), "compareBGroup");
    auto* compareBLayout = new QVBoxLayout(compareBGroup);
    compareBStreamStateLabel = named(makeStateLabel(compareBGroup), "compareBStreamStateLabel");
    compareBStreamStateLabel->setText(tr("No B stream opened"));
    compareBPictureStateLabel = named(makeStateLabel(compareBGroup), "compareBPictureStateLabel");
    compareBPictureStateLabel->setText(tr("B pictures: N/A"));
    compareBLayout->addWidget(compareBStreamStateLabel);
    compareBLayout->addWidget(compareBPictureStateLabel);
    layout->addWidget(compareBGroup);

    referenceYuvGroup = named(new QGroupBox(tr("Reference YUV"), widget), "referenceYuvGroup");
    auto* referenceLayout = new QVBoxLayout(referenceYuvGroup);
    referenceYuvStateLabel = named(makeStateLabel(referenceYuvGroup), "referenceYuvStateLabel");
    referenceYuvStateLabel->setText(tr("No reference YUV attached"));
    referenceLayout->addWidget(referenceYuvStateLabel);
    layout->addWidget(referenceYuvGroup);

    comparePairGroup = named(new QGroupBox(tr("Picture Pairs"), widget), "comparePairGroup");
    auto* pairLayout = new QVBoxLayout(comparePairGroup);
    comparePicturePairModel = named(new ComparePicturePairModel(comparePairGroup), "comparePicturePairModel");
    comparePairView = named(new QTableView(comparePairGroup), "comparePairView");
    comparePairView->setModel(comparePicturePairModel);
    setUpRowTable(comparePairView);
    setColumnWidths(comparePairView->horizontalHeader(), {60, 80, 80, 70, 70, 65, 65, 125, 120, 120, 90, 95, 90, 95, 90});
    pairLayout->addWidget(comparePairView);
    layout->addWidget(comparePairGroup);

    auto* picturesGroup = new QGroupBox(tr("Pictures"), widget);
    auto* picturesLayout = new QVBoxLayout(picturesGroup);
    pictureStateLabel = named(makeStateLabel(picturesGroup), "pictureStateLabel");
    picturesLayout->addWidget(pictureStateLabel);
    pictureTableModel = named(new PictureTableModel(picturesGroup), "pictureTableModel");
    pictureView = named(new QTableView(picturesGroup), "pictureView");
    pictureView->setModel(pictureTableModel);
    setUpRowTable(pictureView);
    setColumnWidths(pictureView->horizontalHeader(), {90, 90, 90, 90, 70, 55, 110, 120});
    picturesLayout->addWidget(pictureView, 1);

    pictureSyntaxTabs = named(new QTabWidget(picturesGroup), "pictureSyntaxTabs");
    using Section = PictureSyntaxModel::Section;
    vpsSyntaxModel = addPictureSyntaxTab(static_cast<std::uint32_t>(Section::Vps), QStringLiteral("vpsSyntaxModel"),
                                         QStringLiteral("vpsSyntaxView"), tr("VPS"), picturesGroup);
    spsSyntaxModel = addPictureSyntaxTab(static_cast<std::uint32_t>(Section::Sps), QStringLiteral("spsSyntaxModel"),
                                         QStringLiteral("spsSyntaxView"), tr("SPS"), picturesGroup);
    ppsSyntaxModel = addPictureSyntaxTab(static_cast<std::uint32_t>(Section::Pps), QStringLiteral("ppsSyntaxModel"),
                                         QStringLiteral("ppsSyntaxView"), tr("PPS"), picturesGroup);
    seiSyntaxModel = addPictureSyntaxTab(static_cast<std::uint32_t>(Section::Sei), QStringLiteral("seiSyntaxModel"),
                                         QStringLiteral("seiSyntaxView"), tr("SEI"), picturesGroup);
    pictureSliceSyntaxModel = addPictureSyntaxTab(static_cast<std::uint32_t>(Section::SliceHeader),
                                                  QStringLiteral("pictureSliceSyntaxModel"),
                                                  QStringLiteral("pictureSliceSyntaxView"), tr("Slice"), picturesGroup);
    nalSyntaxModel = addPictureSyntaxTab(static_cast<std::uint32_t>(Section::NalUnits), QStringLiteral("nalSyntaxModel"),
                                         QStringLiteral("nalSyntaxView"), tr("NAL"), picturesGroup);
    pictureStatisticsModel = named(new PictureStatisticsModel(picturesGroup), "pictureStatisticsModel");
    auto* statisticsView = named(new QTableView(picturesGroup), "pictureStatisticsView");
    statisticsView->setModel(pictureStatisticsModel);
    statisticsView->setSelectionMode(QAbstractItemView::NoSelection);
    statisticsView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    statisticsView->setSortingEnabled(false);
    setPerPixelScrolling(statisticsView);
    statisticsView->verticalHeader()->setVisible(false);
    statisticsView->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    statisticsView->horizontalHeader()->setStretchLastSection(true);
    setColumnWidths(statisticsView->horizontalHeader(), {150, 120, 80, 95, 85});
    pictureSyntaxTabs->addTab(statisticsView, tr("Statistics"));
    picturesLayout->addWidget(pictureSyntaxTabs, 1);
    layout->addWidget(picturesGroup, 1);

    showPictureAnalysisStatus(tr("No analysis loaded"), QStringLiteral("unavailable"));
    updateCompareGroupVisibility();

    connect(comparePairView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &MainWindow::onComparePairCurrentRowChanged);
    connect(pictureView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &MainWindow::onPictureCurrentRowChanged);
    return widget;
}

PictureSyntaxModel* MainWindow::addPictureSyntaxTab(std::uint32_t section, const QString& modelName,
                                                    const QString& viewName, const QString& tabTitle, QWidget* group)
{
    auto* model = new PictureSyntaxModel(static_cast<PictureSyntaxModel::Section>(section), group);
    model->setObjectName(modelName);
    auto* view = new QTreeView(group);
    view->setObjectName(viewName);
    view->setModel(model);
    view->setSelectionMode(QAbstractItemView::NoSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSortingEnabled(false);
    view->setRootIsDecorated(true);
    view->setItemsExpandable(true);
    view->setUniformRowHeights(true);
    view->setIndentation(18);
    setPerPixelScrolling(view);
    view->header()->setSectionResizeMode(QHeaderView::Interactive);
    view->header()->setStretchLastSection(true);
    setColumnWidths(view->header(), {190, 260, 80, 210, 90, 280, 190});
    new ExpandAllWhenShown(view);
    pictureSyntaxTabs->addTab(view, tabTitle);
    return model;
}

QWidget* MainWindow::createBlockInfoDockWidget(QDockWidget* dock)
{
    auto* widget = new QWidget(dock);
    auto* layout = new QVBoxLayout(widget);
    inspectorStateLabel = named(makeStateLabel(widget), "inspectorStateLabel");
    inspectorStateLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    layout->addWidget(inspectorStateLabel);

    auto* splitter = named(new QSplitter(Qt::Vertical, widget), "analysisInspectorSplitter");
    auto* blockInfoGroup = named(new QGroupBox(tr("Block Info"), splitter), "blockInfoGroup");
    auto* groupLayout = new QVBoxLayout(blockInfoGroup);
    groupLayout->setContentsMargins(6, 8, 6, 6);
    blockInfoModel = named(new BlockInfoModel(blockInfoGroup), "blockInfoModel");
    auto* blockInfoView = named(new QTableView(blockInfoGroup), "blockInfoView");
    blockInfoView->setModel(blockInfoModel);
    blockInfoView->setSelectionMode(QAbstractItemView::NoSelection);
    blockInfoView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    blockInfoView->setAlternatingRowColors(true);
    blockInfoView->setShowGrid(false);
    blockInfoView->setWordWrap(false);
    setPerPixelScrolling(blockInfoView);
    blockInfoView->verticalHeader()->setVisible(false);
    blockInfoView->horizontalHeader()->setHighlightSections(false);
    blockInfoView->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Interactive);
    blockInfoView->horizontalHeader()->resizeSection(0, 132);
    blockInfoView->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    blockInfoView->setStyleSheet(QString::fromLatin1(kBlockInfoStyleSheet));
    blockInfoModel->showMessage(tr("Block Info"), tr("Move mouse over frame"), QStringLiteral("idle"));
    groupLayout->addWidget(blockInfoView);
    splitter->addWidget(blockInfoGroup);

    syntaxTreeModel = named(new SyntaxTreeModel(splitter), "syntaxTreeModel");
    syntaxTreeView = named(new QTreeView(splitter), "syntaxTreeView");
    syntaxTreeView->setModel(syntaxTreeModel);
    syntaxTreeView->setSelectionMode(QAbstractItemView::SingleSelection);
    syntaxTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    syntaxTreeView->setUniformRowHeights(true);
    syntaxTreeView->setHeaderHidden(false);
    syntaxTreeView->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    splitter->addWidget(syntaxTreeView);
    splitter->setSizes({360, 260});
    layout->addWidget(splitter, 1);

    sliceTableModel = named(new SliceTableModel(widget), "sliceTableModel");
    inspectorModel = named(new InspectorModel(widget), "inspectorModel");
    connect(syntaxTreeView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &MainWindow::onSyntaxTreeCurrentChanged);
    return widget;
}

QWidget* MainWindow::createLogTaskDockWidget(QDockWidget* dock)
{
    auto* tabs = named(new QTabWidget(dock), "logTaskTabs");
    logView = named(new QPlainTextEdit(tabs), "logView");
    logView->setReadOnly(true);
    logView->setPlainText(QString::fromLatin1(kNoProjectText));
    tabs->addTab(logView, tr("Log"));
    taskStateLabel = named(makeStateLabel(tabs), "taskStateLabel");
    tabs->addTab(taskStateLabel, tr("Tasks"));
    return tabs;
}

QWidget* MainWindow::createQualityMetricsDockWidget(QDockWidget* dock)
{
    auto* widget = new QWidget(dock);
    auto* layout = new QHBoxLayout(widget);

    auto* summaryGroup = new QGroupBox(tr("Metric Summary"), widget);
    auto* summaryLayout = new QVBoxLayout(summaryGroup);
    // A summary with VMAF features runs to a dozen long lines; scrolled, it never widens the
    // window past the screen.
    auto* summaryScroll = new QScrollArea(summaryGroup);
    summaryScroll->setWidgetResizable(true);
    summaryScroll->setFrameShape(QFrame::NoFrame);
    metricSummaryLabel = named(new QLabel(tr("No quality metrics computed")), "metricSummaryLabel");
    metricSummaryLabel->setTextFormat(Qt::PlainText);
    metricSummaryLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    metricSummaryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summaryScroll->setWidget(metricSummaryLabel);
    summaryLayout->addWidget(summaryScroll);
    layout->addWidget(summaryGroup, 0);

    auto* metricsGroup = new QGroupBox(tr("Quality Metrics"), widget);
    auto* metricsLayout = new QVBoxLayout(metricsGroup);
    auto* buttonRow = new QHBoxLayout;
    addActionToolButton(metricsGroup, buttonRow, actionAnalyzeFullStreamQuality, QStringLiteral("buttonQualityDetect"));
    addActionToolButton(metricsGroup, buttonRow, actionCancelQualityAnalysis,
                        QStringLiteral("buttonCancelQualityAnalysis"));
    buttonRow->addStretch();
    metricsLayout->addLayout(buttonRow);

    auto* selector = named(new QFrame(metricsGroup), "qualityMetricSelectorFrame");
    selector->setFrameShape(QFrame::StyledPanel);
    selector->setStyleSheet(QString::fromLatin1(kQualitySelectorStyleSheet));
    auto* selectorLayout = new QHBoxLayout(selector);
    selectorLayout->setContentsMargins(6, 4, 6, 4);
    selectorLayout->setSpacing(4);
    addSelectorLabel(selectorLayout, selector, tr("Metric"));
    qualityMetricMetricCombo = named(new QComboBox(selector), "qualityMetricMetricCombo");
    fillCombo(qualityMetricMetricCombo, std::begin(kMetricItems), std::end(kMetricItems));
    qualityMetricMetricCombo->setCurrentIndex(0);
    selectorLayout->addWidget(qualityMetricMetricCombo);
    selectorLayout->addSpacing(10);
    addSelectorLabel(selectorLayout, selector, tr("Component"));
    qualityMetricComponentCombo = named(new QComboBox(selector), "qualityMetricComponentCombo");
    selectorLayout->addWidget(qualityMetricComponentCombo);
    fillQualityComponentCombo(false);
    selectorLayout->addSpacing(10);
    addSelectorLabel(selectorLayout, selector, tr("Side"));
    actionQualityShowA = named(new QAction(tr("A"), this), "actionQualityShowA");
    actionQualityShowB = named(new QAction(tr("B"), this), "actionQualityShowB");
    for (auto [action, name] : {std::pair{actionQualityShowA, "buttonQualityShowA"}, std::pair{actionQualityShowB, "buttonQualityShowB"}}) {
        action->setCheckable(true);
        action->setChecked(true);
        auto* button = named(new QToolButton(selector), name);
        button->setDefaultAction(action);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setAutoRaise(true);
        selectorLayout->addWidget(button);
    }
    selectorLayout->addStretch();
    metricsLayout->addWidget(selector);

    qualityMetricChart = named(new QualityMetricChartWidget(metricsGroup), "qualityMetricChart");
    qualityMetricChart->setMinimumHeight(kChartMinimumHeight);
    metricsLayout->addWidget(qualityMetricChart, 1);
    qualityMetricStatusLabel = named(makeStateLabel(metricsGroup), "qualityMetricStatusLabel");
    qualityMetricStatusLabel->setText(tr("Run Analyze Stream, then Quality Detect"));
    metricsLayout->addWidget(qualityMetricStatusLabel);
    layout->addWidget(metricsGroup, 1);

    connect(qualityMetricChart, &QualityMetricChartWidget::frameActivated, this,
            &MainWindow::onQualityMetricFrameActivated);
    connect(qualityMetricMetricCombo, &QComboBox::currentIndexChanged, this, &MainWindow::onQualityMetricChanged);
    connect(qualityMetricComponentCombo, &QComboBox::currentIndexChanged, this, &MainWindow::onQualityComponentChanged);
    connect(actionQualityShowA, &QAction::toggled, qualityMetricChart, &QualityMetricChartWidget::setSeriesAVisible);
    connect(actionQualityShowB, &QAction::toggled, qualityMetricChart, &QualityMetricChartWidget::setSeriesBVisible);
    return widget;
}

void MainWindow::fillQualityComponentCombo(bool vmafFeatures)
{
    const QSignalBlocker blocker(qualityMetricComponentCombo);
    qualityMetricComponentCombo->clear();
    if (vmafFeatures) {
        fillCombo(qualityMetricComponentCombo, std::begin(kVmafFeatureItems), std::end(kVmafFeatureItems));
    } else {
        fillCombo(qualityMetricComponentCombo, std::begin(kPlaneItems), std::end(kPlaneItems));
    }
    qualityMetricComponentCombo->setCurrentIndex(qualityMetricComponentCombo->count() - 1);
}

void MainWindow::onQualityMetricChanged(int index)
{
    if (index < 0) {
        return;
    }
    const int metric = qualityMetricMetricCombo->itemData(index).toInt();
    qualityMetricChart->setMetricKind(metric);
    if (metric == kVmafMetric) {
        fillQualityComponentCombo(true);
        applyVmafFeature(qualityMetricComponentCombo->currentIndex());
        return;
    }
    fillQualityComponentCombo(false);
    const auto kind = static_cast<FrameViewer::QualityMetricKind>(metric);
    for (FrameViewer* viewer : {frameViewer, compareBFrameViewer}) {
        if (viewer != nullptr) {
            viewer->setQualityHeatmapMetricKind(kind);
        }
    }
    applyQualityComponent(qualityMetricComponentCombo->currentIndex());
    updateQualityHeatmaps();
}

void MainWindow::onQualityComponentChanged(int index)
{
    if (qualityMetricMetricCombo->currentData().toInt() != kVmafMetric) {
        applyQualityComponent(index);
    } else {
        applyVmafFeature(index);
    }
}

void MainWindow::applyQualityComponent(int index)
{
    if (index < 0) {
        return;
    }
    const int plane = qualityMetricComponentCombo->itemData(index).toInt();
    qualityMetricChart->setMetricPlane(plane);
    const auto viewerPlane = plane >= FrameViewer::PlaneY && plane <= FrameViewer::PlaneV
                                 ? static_cast<FrameViewer::QualityMetricPlane>(plane)
                                 : FrameViewer::PlaneAll;
    for (FrameViewer* viewer : {frameViewer, compareBFrameViewer}) {
        if (viewer != nullptr) {
            viewer->setQualityHeatmapMetricPlane(viewerPlane);
        }
    }
    updateQualityHeatmaps();
}

void MainWindow::applyVmafFeature(int index)
{
    if (index < 0) {
        return;
    }
    qualityMetricChart->setVmafFeature(qualityMetricComponentCombo->itemData(index).toInt());
    // VMAF has no per-region scores, so no heat map goes with it.
    for (FrameViewer* viewer : {frameViewer, compareBFrameViewer}) {
        if (viewer != nullptr) {
            viewer->clearQualityHeatmap();
        }
    }
}

}  // namespace vexilo
