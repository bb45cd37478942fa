// The window's commands: one table of actions, the menu bar and the main toolbar.
#include "vexilo/ui/MainWindow.h"

#include "PaintedIcons.h"

#include <QAction>
#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

#include <array>

namespace vexilo {
namespace actiontable {

enum class IconKind { None, StyleSkipBackward, StyleSeekBackward, StyleSeekForward, StyleSkipForward, Fit, ActualSize, ZoomIn, ZoomOut };

enum class CheckState { NotCheckable, Unchecked, Checked };

struct ActionSpec {
    QAction* MainWindow::*member;
    const char* objectName;
    const char* text;
    QKeySequence::StandardKey standardKey;
    const char* keyText;
    IconKind icon;
    const char* toolTip;
    CheckState check;
    int group;  // 0 none, else 1..3
};

using K = QKeySequence;
constexpr auto kNoKey = QKeySequence::UnknownKey;
constexpr CheckState kPlain = CheckState::NotCheckable;
constexpr CheckState kOff = CheckState::Unchecked;
constexpr CheckState kOn = CheckState::Checked;

}  // namespace actiontable

using namespace actiontable;

// A friend of the window, so that its tables may name the private actions and slots.
struct MainWindowActionTable {
    static const std::array<ActionSpec, 43> specs;
    using Slot = void (MainWindow::*)();
    struct Trigger {
        QAction* MainWindow::*member;
        Slot slot;
    };
    static const std::array<Trigger, 26> triggers;
};

const std::array<ActionSpec, 43> MainWindowActionTable::specs = {{
    {&MainWindow::actionOpenHevc, "actionOpenHevc", "Open Stream...", K::Open, nullptr, IconKind::None, "Open a stream for analysis", kPlain, 0},
    {&MainWindow::actionOpenCompareB, "actionOpenCompareB", "Open B Stream...", kNoKey, nullptr, IconKind::None, "Open the B stream for A/B comparison", kPlain, 0},
    {&MainWindow::actionAttachReferenceYuv, "actionAttachReferenceYuv", "Attach Reference YUV...", kNoKey, nullptr, IconKind::None, "Attach a raw reference YUV file with explicit metadata", kPlain, 0},
    {&MainWindow::actionCloseProject, "actionCloseProject", "Close Project", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionExit, "actionExit", "Exit", K::Quit, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionResetLayout, "actionResetLayout", "Reset Layout", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionFirstPicture, "actionFirstPicture", "First Picture", kNoKey, nullptr, IconKind::StyleSkipBackward, "Jump to the first picture", kPlain, 0},
    {&MainWindow::actionPreviousPicture, "actionPreviousPicture", "Previous Picture", kNoKey, nullptr, IconKind::StyleSeekBackward, "Go to the previous picture", kPlain, 0},
    {&MainWindow::actionNextPicture, "actionNextPicture", "Next Picture", kNoKey, nullptr, IconKind::StyleSeekForward, "Go to the next picture", kPlain, 0},
    {&MainWindow::actionLastPicture, "actionLastPicture", "Last Picture", kNoKey, nullptr, IconKind::StyleSkipForward, "Jump to the last picture", kPlain, 0},
    {&MainWindow::actionFitToWindow, "actionFitToWindow", "Fit to Window", kNoKey, "F", IconKind::Fit, "Fit the current frame to the viewer", kPlain, 0},
    {&MainWindow::actionActualSize, "actionActualSize", "100%", kNoKey, "Ctrl+1", IconKind::ActualSize, "Show the current frame at 100%", kPlain, 0},
    {&MainWindow::actionZoomIn, "actionZoomIn", "Zoom In", K::ZoomIn, nullptr, IconKind::ZoomIn, "Zoom in", kPlain, 0},
    {&MainWindow::actionZoomOut, "actionZoomOut", "Zoom Out", K::ZoomOut, nullptr, IconKind::ZoomOut, "Zoom out", kPlain, 0},
    {&MainWindow::actionCombinedComponents, "actionCombinedComponents", "YUV", kNoKey, nullptr, IconKind::None, nullptr, kOn, 1},
    {&MainWindow::actionLumaComponent, "actionLumaComponent", "Y", kNoKey, nullptr, IconKind::None, nullptr, kOff, 1},
    {&MainWindow::actionUComponent, "actionUComponent", "U", kNoKey, nullptr, IconKind::None, nullptr, kOff, 1},
    {&MainWindow::actionVComponent, "actionVComponent", "V", kNoKey, nullptr, IconKind::None, nullptr, kOff, 1},
    {&MainWindow::actionPictureStripThumbnails, "actionPictureStripThumbnails", "Thumbnails", kNoKey, nullptr, IconKind::None, nullptr, kOn, 2},
    {&MainWindow::actionPictureStripReferenceHierarchy, "actionPictureStripReferenceHierarchy", "Reference Hierarchy", kNoKey, nullptr, IconKind::None, nullptr, kOff, 2},
    {&MainWindow::actionCtuOverlay, "actionCtuOverlay", "CTU Overlay", kNoKey, nullptr, IconKind::None, nullptr, kOn, 0},
    {&MainWindow::actionCuOverlay, "actionCuOverlay", "CU Overlay", kNoKey, nullptr, IconKind::None, nullptr, kOff, 0},
    {&MainWindow::actionTuOverlay, "actionTuOverlay", "TU Overlay", kNoKey, nullptr, IconKind::None, nullptr, kOff, 0},
    {&MainWindow::actionPuOverlay, "actionPuOverlay", "PU Overlay", kNoKey, nullptr, IconKind::None, nullptr, kOff, 0},
    {&MainWindow::actionQpMapOverlay, "actionQpMapOverlay", "QP Map", kNoKey, nullptr, IconKind::None, nullptr, kOff, 0},
    {&MainWindow::actionMotionVectorOverlay, "actionMotionVectorOverlay", "MV Overlay", kNoKey, nullptr, IconKind::None, nullptr, kOff, 0},
    {&MainWindow::actionQualityHeatmapOverlay, "actionQualityHeatmapOverlay", "Quality Heatmap", kNoKey, nullptr, IconKind::None, nullptr, kOn, 0},
    {&MainWindow::actionCancelTask, "actionCancelTask", "Cancel Current Task", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionAnalyzeStream, "actionAnalyzeStream", "Analyze Stream", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionAnalyzeCurrentPictureStructure, "actionAnalyzeCurrentPictureStructure", "Analyze Current Picture Structure", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionCancelAnalysis, "actionCancelAnalysis", "Cancel Analysis", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionReanalyzeStream, "actionReanalyzeStream", "Reanalyze", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionClearAnalysisCache, "actionClearAnalysisCache", "Clear Analysis Cache", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionAnalyzeSelectedPairQuality, "actionAnalyzeSelectedPairQuality", "Analyze Selected Pair Quality", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionAnalyzeVisiblePairQuality, "actionAnalyzeVisiblePairQuality", "Analyze Visible Pair Quality", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionAnalyzeFullStreamQuality, "actionAnalyzeFullStreamQuality", "Quality Detect", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionCancelQualityAnalysis, "actionCancelQualityAnalysis", "Cancel Quality Analysis", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionCompareAOnly, "actionCompareAOnly", "A Only", kNoKey, nullptr, IconKind::None, "Show only the primary stream", kOn, 3},
    {&MainWindow::actionCompareBOnly, "actionCompareBOnly", "B Only", kNoKey, nullptr, IconKind::None, "Show only the B stream", kOff, 3},
    {&MainWindow::actionCompareSideBySide, "actionCompareSideBySide", "Side by Side", kNoKey, nullptr, IconKind::None, "Show A and B streams side by side", kOff, 3},
    {&MainWindow::actionCompareWipe, "actionCompareWipe", "Wipe", kNoKey, nullptr, IconKind::None, "Compare A and B with a wipe viewer", kOff, 3},
    {&MainWindow::actionAboutVexilo, "actionAboutVexilo", "About Vexilo", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
    {&MainWindow::actionBackendStatus, "actionBackendStatus", "Backend Status", kNoKey, nullptr, IconKind::None, nullptr, kPlain, 0},
}};

const std::array<MainWindowActionTable::Trigger, 26> MainWindowActionTable::triggers = {{
    {&MainWindow::actionOpenHevc, &MainWindow::onOpenHevcRequested},
    {&MainWindow::actionOpenCompareB, &MainWindow::onOpenCompareBRequested},
    {&MainWindow::actionAttachReferenceYuv, &MainWindow::onAttachReferenceYuvRequested},
    {&MainWindow::actionCloseProject, &MainWindow::onCloseProjectRequested},
    {&MainWindow::actionExit, &MainWindow::onExitRequested},
    {&MainWindow::actionResetLayout, &MainWindow::onResetLayoutRequested},
    {&MainWindow::actionFirstPicture, &MainWindow::onFirstPictureRequested},
    {&MainWindow::actionPreviousPicture, &MainWindow::onPreviousPictureRequested},
    {&MainWindow::actionNextPicture, &MainWindow::onNextPictureRequested},
    {&MainWindow::actionLastPicture, &MainWindow::onLastPictureRequested},
    {&MainWindow::actionCancelTask, &MainWindow::onCancelTaskRequested},
    {&MainWindow::actionAnalyzeStream, &MainWindow::onAnalyzeStreamRequested},
    {&MainWindow::actionAnalyzeCurrentPictureStructure, &MainWindow::onAnalyzeCurrentPictureStructureRequested},
    {&MainWindow::actionCancelAnalysis, &MainWindow::onCancelAnalysisRequested},
    {&MainWindow::actionReanalyzeStream, &MainWindow::onReanalyzeStreamRequested},
    {&MainWindow::actionClearAnalysisCache, &MainWindow::onClearAnalysisCacheRequested},
    {&MainWindow::actionAnalyzeSelectedPairQuality, &MainWindow::onAnalyzeSelectedPairQualityRequested},
    {&MainWindow::actionAnalyzeVisiblePairQuality, &MainWindow::onAnalyzeVisiblePairQualityRequested},
    {&MainWindow::actionAnalyzeFullStreamQuality, &MainWindow::onAnalyzeFullStreamQualityRequested},
    {&MainWindow::actionCancelQualityAnalysis, &MainWindow::onCancelQualityAnalysisRequested},
    {&MainWindow::actionCompareAOnly, &MainWindow::onCompareAOnlyRequested},
    {&MainWindow::actionCompareBOnly, &MainWindow::onCompareBOnlyRequested},
    {&MainWindow::actionCompareSideBySide, &MainWindow::onCompareSideBySideRequested},
    {&MainWindow::actionCompareWipe, &MainWindow::onCompareWipeRequested},
    {&MainWindow::actionAboutVexilo, &MainWindow::onAboutRequested},
    {&MainWindow::actionBackendStatus, &MainWindow::onBackendStatusRequested},
}};

namespace {

QIcon iconFor(IconKind kind, const QStyle* style)
{
    switch (kind) {
    case IconKind::None: return {};
    case IconKind::StyleSkipBackward: return style->standardIcon(QStyle::SP_MediaSkipBackward);
    case IconKind::StyleSeekBackward: return style->standardIcon(QStyle::SP_MediaSeekBackward);
    case IconKind::StyleSeekForward: return style->standardIcon(QStyle::SP_MediaSeekForward);
    case IconKind::StyleSkipForward: return style->standardIcon(QStyle::SP_MediaSkipForward);
    case IconKind::Fit: return makeFitToWindowIcon();
    case IconKind::ActualSize: return makeActualSizeIcon();
    case IconKind::ZoomIn: return makeZoomIcon(true);
    case IconKind::ZoomOut: return makeZoomIcon(false);
    }
    return {};
}

// One menu entry: an action, or a separator for a null action.
void fillMenu(QMenu* menu, std::initializer_list<QAction*> entries)
{
    for (QAction* action : entries) {
        if (action == nullptr) {
            menu->addSeparator();
        } else {
            menu->addAction(action);
        }
    }
}

QMenu* addNamedMenu(QMenuBar* bar, const QString& title, const QString& objectName)
{
    QMenu* menu = bar->addMenu(title);
    menu->setObjectName(objectName);
    return menu;
}

}  // namespace

void MainWindow::createActions()
{
    std::array<QActionGroup*, 3> groups{};
    for (QActionGroup*& group : groups) {
        group = new QActionGroup(this);
        group->setExclusive(true);
    }
    for (const ActionSpec& spec : MainWindowActionTable::specs) {
        auto* action = new QAction(QString::fromUtf8(spec.text), this);
        action->setObjectName(QString::fromLatin1(spec.objectName));
        if (spec.standardKey != kNoKey) {
            action->setShortcut(QKeySequence(spec.standardKey));
        } else if (spec.keyText != nullptr) {
            action->setShortcut(QKeySequence(QString::fromLatin1(spec.keyText)));
        }
        if (spec.icon != IconKind::None) {
            action->setIcon(iconFor(spec.icon, style()));
        }
        if (spec.toolTip != nullptr) {
            action->setToolTip(QString::fromUtf8(spec.toolTip));
        }
        if (spec.check != kPlain) {
            action->setCheckable(true);
            action->setChecked(spec.check == kOn);
        }
        if (spec.group > 0) {
            groups.at(static_cast<std::size_t>(spec.group - 1))->addAction(action);
        }
        this->*spec.member = action;
    }
    for (const auto& trigger : MainWindowActionTable::triggers) {
        connect(this->*trigger.member, &QAction::triggered, this, trigger.slot);
    }
}

void MainWindow::createMenus()
{
    QMenuBar* bar = menuBar();
    fillMenu(addNamedMenu(bar, tr("File"), QStringLiteral("menuFile")),
             {actionOpenHevc, actionOpenCompareB, actionAttachReferenceYuv, actionCloseProject, nullptr, actionExit});

    QMenu* view = addNamedMenu(bar, tr("View"), QStringLiteral("menuView"));
    fillMenu(view, {actionResetLayout, nullptr, actionFitToWindow, actionActualSize, actionZoomIn, actionZoomOut, nullptr});
    QMenu* components = view->addMenu(tr("Frame Components"));
    components->setObjectName(QStringLiteral("menuFrameComponents"));
    fillMenu(components, {actionCombinedComponents, actionLumaComponent, actionUComponent, actionVComponent});
    view->addSeparator();
    QMenu* overlays = view->addMenu(tr("Viewer Overlays"));
    overlays->setObjectName(QStringLiteral("menuViewerOverlays"));
    fillMenu(overlays, {actionCtuOverlay, actionCuOverlay, actionTuOverlay, actionPuOverlay, actionQpMapOverlay,
                        actionMotionVectorOverlay, actionQualityHeatmapOverlay});
    view->addSeparator();

    fillMenu(addNamedMenu(bar, tr("Navigate"), QStringLiteral("menuNavigate")),
             {actionFirstPicture, actionPreviousPicture, actionNextPicture, actionLastPicture});
    fillMenu(addNamedMenu(bar, tr("Compare"), QStringLiteral("menuCompare")),
             {actionOpenCompareB, actionAttachReferenceYuv, nullptr, actionAnalyzeSelectedPairQuality,
              actionAnalyzeVisiblePairQuality, actionAnalyzeFullStreamQuality, actionCancelQualityAnalysis, nullptr,
              actionCompareAOnly, actionCompareBOnly, actionCompareSideBySide, actionCompareWipe});
    fillMenu(addNamedMenu(bar, tr("Tools"), QStringLiteral("menuTools")),
             {actionAnalyzeStream, actionAnalyzeCurrentPictureStructure, actionReanalyzeStream, actionCancelAnalysis,
              actionClearAnalysisCache, nullptr, actionAnalyzeSelectedPairQuality, actionAnalyzeVisiblePairQuality,
              actionAnalyzeFullStreamQuality, actionCancelQualityAnalysis, nullptr, actionCancelTask});
    fillMenu(addNamedMenu(bar, tr("Help"), QStringLiteral("menuHelp")), {actionBackendStatus, nullptr, actionAboutVexilo});
}

void MainWindow::createMainToolBar()
{
    mainToolBar = addToolBar(tr("Main"));
    mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
    mainToolBar->setMovable(false);
    mainToolBar->addAction(actionOpenHevc);

    auto* addSourceMenu = new QMenu(tr("Add Source"), mainToolBar);
    addSourceMenu->setObjectName(QStringLiteral("menuAddSource"));
    addSourceMenu->addAction(actionOpenCompareB);
    addSourceMenu->addAction(actionAttachReferenceYuv);
    auto* addSourceButton = new QToolButton(mainToolBar);
    addSourceButton->setObjectName(QStringLiteral("buttonAddSource"));
    addSourceButton->setText(tr("Add Source"));
    addSourceButton->setToolTip(tr("Add a B stream or reference YUV"));
    addSourceButton->setMenu(addSourceMenu);
    addSourceButton->setPopupMode(QToolButton::InstantPopup);
    addSourceButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    mainToolBar->addWidget(addSourceButton);

    const std::initializer_list<QAction*> groups[] = {
        {actionCtuOverlay, actionQpMapOverlay, actionMotionVectorOverlay, actionQualityHeatmapOverlay},
        {actionAnalyzeStream, actionAnalyzeCurrentPictureStructure, actionCancelAnalysis},
        {actionAnalyzeSelectedPairQuality, actionCancelQualityAnalysis},
        {actionCancelTask},
    };
    for (const auto& group : groups) {
        mainToolBar->addSeparator();
        for (QAction* action : group) {
            mainToolBar->addAction(action);
        }
    }
}

}  // namespace vexilo
