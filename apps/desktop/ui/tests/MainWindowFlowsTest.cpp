// What a user meets working in the main window: a real stream opened through the real project
// controller, pictures listed and stepped through, the task texts, a picture's analysis from the
// real worker in every view, blocks hovered and locked in the viewer, and the AI evidence.
#include "WorkerAnalysis.h"

#include "ComparePairSample.h"

#include "vexilo/ai/AiChatPanel.h"
#include "vexilo/application/ProjectController.h"
#include "vexilo/models/BlockInfoModel.h"
#include "vexilo/models/InspectorModel.h"
#include "vexilo/models/PictureSyntaxModel.h"
#include "vexilo/models/PictureTableModel.h"
#include "FlowsWindow.h"
#include "WindowPhotograph.h"
#include "vexilo/test/QtTestRegistry.h"
#include "vexilo/ui/MainWindow.h"
#include "vexilo/views/CompareWipeViewer.h"
#include "vexilo/views/FrameViewer.h"
#include "vexilo/views/PictureStripWidget.h"

#include <QAction>
#include <QDockWidget>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <dlfcn.h>

#include <filesystem>
#include <memory>
#include <utility>

using vexilo::FrameViewer;
using vexilo::MainWindow;
using vexilo::application::ProjectController;
using vexilo::application::ProjectState;

namespace {

using vexilo::test::mediaPath;
using vexilo::test::referencePath;
using vexilo::test::rowTexts;
using vexilo::test::Window;

// Whether every row below `parent` that has rows of its own is expanded in the view.
bool everyOpenableRowIsExpanded(const QTreeView& view, const QModelIndex& parent)
{
    const QAbstractItemModel& model = *view.model();
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        if (model.hasChildren(index) && (!view.isExpanded(index) || !everyOpenableRowIsExpanded(view, index))) {
            return false;
        }
    }
    return true;
}

// A stream-index document names no blocks; the picture's CTUs and CUs are laid over it in 64x64
// blocks, as a structure analysis of the picture would give them.
// The document's picture is renamed to the project's picture id, as the analysis service does.
void addBlockStructure(vexilo::analysis::StreamAnalysis& document, vexilo::domain::PictureId pictureId,
                       std::uint32_t width, std::uint32_t height)
{
    using namespace vexilo::analysis;
    QVERIFY(!document.pictures.empty());
    document.pictures.front().pictureId = static_cast<std::uint64_t>(pictureId);
    const StableId summary = document.pictures.front().id;
    const std::optional<StableId> slice =
        document.slices.empty() ? std::nullopt : std::optional<StableId>(document.slices.front().id);
    std::uint64_t next = 1;
    for (std::uint32_t y = 0; y < height; y += 64) {
        for (std::uint32_t x = 0; x < width; x += 64) {
            const BlockRect bounds{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), std::min(64U, width - x),
                                   std::min(64U, height - y), kBlockRectUnitLumaSample};
            CtuInfo ctu;
            ctu.id = StableId{0xB10C, next++};
            ctu.parentPictureSummaryId = summary;
            ctu.sliceInfoId = slice;
            ctu.bounds = bounds;
            ctu.parseStatus = BlockParseStatus::Parsed;
            CuInfo cu;
            cu.id = StableId{0xB10C, next++};
            cu.parentCtuId = ctu.id;
            cu.bounds = bounds;
            cu.predictionMode = PredictionMode::Intra;
            cu.parseStatus = BlockParseStatus::Parsed;
            document.ctus.push_back(ctu);
            document.cus.push_back(cu);
        }
    }
}

ProjectController* compareB(const Window& w)
{
    return w.window->findChild<ProjectController*>(QStringLiteral("compareBProjectController"));
}

bool openAndWait(ProjectController& controller, const std::filesystem::path& path)
{
    controller.openProject(path);
    return QTest::qWaitFor(
        [&controller] { return controller.state() == ProjectState::Ready && !controller.hasActiveTask(); }, 120000);
}

// The clip analysed by the real worker beforehand, then opened in the window up to its first
// frame; the error names what failed.
vexilo::test::WorkerAnalysis analyseAndOpen(Window& w, const char* clip)
{
    const auto source = mediaPath(clip);
    vexilo::test::WorkerAnalysis analysed = vexilo::test::analyseWithWorker(source);
    if (analysed.error.isEmpty() && !(w.open(source) && w.frameShownFor(0))) {
        analysed.error = QStringLiteral("%1 did not open to its first frame").arg(QLatin1String(clip));
    }
    return analysed;
}

// A stream of a few small pictures, quick to open as A or B.
constexpr const char* kSmallClip = "models_bpyramid_420_8bit.hevc";

// Large enough that every dock lays its rows out.
bool showLarge(Window& w)
{
    w.window->resize(1600, 1000);
    w.window->show();
    return QTest::qWaitForWindowExposed(w.window.get());
}

// Lets any whole-stream refresh the arriving pictures scheduled run first.
void settleDeferredRefreshes(const Window& w)
{
    const auto* timer = w.window->findChild<QTimer*>(QStringLiteral("deferredRefreshTimer"));
    QVERIFY(timer == nullptr || QTest::qWaitFor([timer] { return !timer->isActive(); }, 30000));
}

}  // namespace

class MainWindowFlowsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Mesa's software driver keeps a few bytes per painted texture and is unloaded before the
        // leak check runs, which then cannot name it. Kept loaded, its leaks meet their suppression.
        dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
        // Each run analyses into an empty cache of its own: a complete cache that another test left
        // for the same stream would be reused, and these flows go through the worker.
        QVERIFY(cacheHome_.isValid());
        qputenv("XDG_CACHE_HOME", cacheHome_.path().toLocal8Bit());
    }

    void openingAStreamListsItsPicturesSelectsTheFirstAndNavigates_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("B pyramid 4:2:0 8-bit") << QString::fromStdString(mediaPath("models_bpyramid_420_8bit.hevc").string());
        QTest::newRow("4:2:2 10-bit") << QString::fromStdString(mediaPath("models_422_10bit.hevc").string());
    }

    void openingAStreamListsItsPicturesSelectsTheFirstAndNavigates()
    {
        QFETCH(QString, path);
        Window w;
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QVERIFY(!w.action("actionNextPicture")->isEnabled());

        QVERIFY(w.open(path.toStdString()));
        const int pictures = static_cast<int>(w.controller->pictureCount());
        QVERIFY(pictures > 3);
        QCOMPARE(w.pictureView->model()->rowCount(), pictures);
        QCOMPARE(w.currentRow(), 0);
        QVERIFY(w.frameShownFor(0));

        QVERIFY2(w.log().contains(QStringLiteral("Started HEVC task: %1").arg(path)), qPrintable(w.log()));
        const QString finished = QStringLiteral("Finished: decoded %1 picture(s) from ").arg(pictures);
        QVERIFY2(w.label("taskStateLabel").startsWith(finished), qPrintable(w.label("taskStateLabel")));
        QVERIFY(w.window->statusBar()->currentMessage().startsWith(finished));
        QCOMPARE(w.label("pictureStateLabel"), QStringLiteral("%1 picture(s)").arg(pictures));
        QVERIFY2(w.label("frameViewerStateLabel").startsWith(QStringLiteral("Display ")),
                 qPrintable(w.label("frameViewerStateLabel")));
        QVERIFY(w.label("frameViewerStateLabel").endsWith(QStringLiteral("  |  YUV/Y/U/V viewer")));

        // Previous on the first row does nothing; Next, Last, Next past the end, First.
        w.action("actionPreviousPicture")->trigger();
        QCOMPARE(w.currentRow(), 0);
        w.action("actionNextPicture")->trigger();
        QCOMPARE(w.currentRow(), 1);
        QVERIFY(w.frameShownFor(1));
        w.action("actionLastPicture")->trigger();
        QCOMPARE(w.currentRow(), pictures - 1);
        QVERIFY(w.frameShownFor(pictures - 1));
        w.action("actionNextPicture")->trigger();
        QCOMPARE(w.currentRow(), pictures - 1);
        w.action("actionFirstPicture")->trigger();
        QCOMPARE(w.currentRow(), 0);
        QVERIFY(w.frameShownFor(0));

        QVERIFY(w.aiPanel != nullptr);
        QVERIFY2(w.aiPanel->evidenceText().contains(QStringLiteral("decoded pictures: %1").arg(pictures)),
                 qPrintable(w.aiPanel->evidenceText().left(600)));
        const QString streamName = QString::fromStdString(std::filesystem::path(path.toStdString()).stem().string());
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("flows-stream-open-%1.png").arg(streamName)));

        w.action("actionCloseProject")->trigger();
        QTRY_COMPARE(w.controller->state(), ProjectState::Empty);
        QCOMPARE(w.pictureView->model()->rowCount(), 0);
        QCOMPARE(w.label("frameViewerStateLabel"), QStringLiteral("No project opened"));
        QVERIFY(!w.action("actionNextPicture")->isEnabled());
    }

    void aTiledReferenceStreamOpensAndShowsItsFirstPicture()
    {
        // The in-process road reads elementary streams by their extension; the HM streams are ".bit".
        QTemporaryDir scratch;
        const std::filesystem::path copy = std::filesystem::path(scratch.path().toStdString()) / "tiles.hevc";
        std::filesystem::copy_file(referencePath("s05_ldb_tiles_nonuniform_no_lf_across.bit"), copy);
        Window w;
        w.window->show();
        QVERIFY(w.open(copy));
        QVERIFY(w.controller->pictureCount() > 0);
        QCOMPARE(w.currentRow(), 0);
        QVERIFY(w.frameShownFor(0));
        QVERIFY(w.aiPanel->evidenceText().contains(
            QStringLiteral("decoded pictures: %1").arg(w.controller->pictureCount())));
    }

    // With the AI dock closed, an open's many changes leave the evidence unbuilt; reading it or
    // showing the dock builds it once, from what is loaded then.
    void theEvidenceWaitsUntilSomethingNeedsIt()
    {
        Window w;
        w.window->show();
        auto* dock = w.window->findChild<QDockWidget*>(QStringLiteral("aiAssistantDock"));
        QVERIFY(dock != nullptr);
        dock->close();
        QVERIFY(w.open(mediaPath("main_420_8bit_gop8.hevc")));
        QVERIFY(w.frameShownFor(0));
        w.action("actionNextPicture")->trigger();
        QVERIFY(w.frameShownFor(1));
        QCOMPARE(w.aiPanel->evidenceBuildCount(), 0U);

        dock->show();
        QTRY_VERIFY(w.aiPanel->isVisible());
        QVERIFY(w.aiPanel->evidenceBuildCount() >= 1U);
        QVERIFY2(w.aiPanel->evidenceText().contains(
                     QStringLiteral("decoded pictures: %1").arg(w.controller->pictureCount())),
                 qPrintable(w.aiPanel->evidenceText().left(600)));
    }

    // An A/B wipe: with B gone (B closed alone, then Close Project) the A viewer is shown with its
    // overlays as a single stream is, and the summary says B is gone; Wipe stays the choice and
    // comes back with the next B stream. Close Project empties the wipe view, which otherwise
    // kept A's picture.
    void theWipeWaitsForAnotherBStreamOnceBIsGone()
    {
        Window w;
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        auto* wipe = w.window->findChild<vexilo::CompareWipeViewer*>(QStringLiteral("compareWipeViewer"));
        auto* viewerB = w.window->findChild<FrameViewer*>(QStringLiteral("compareBFrameViewer"));
        auto* pairs = w.window->findChild<QTableView*>(QStringLiteral("comparePairView"));
        QVERIFY(wipe != nullptr && viewerB != nullptr && pairs != nullptr);
        const auto showsAAlone = [&] { return w.viewer->isVisible() && !viewerB->isVisible() && !wipe->isVisible(); };
        ProjectController* b = compareB(w);
        QVERIFY(w.open(mediaPath("main_420_8bit_gop8.hevc")));
        QVERIFY(w.frameShownFor(0));
        QVERIFY(openAndWait(*b, mediaPath(kSmallClip)));
        w.action("actionCompareWipe")->trigger();
        QVERIFY(wipe->isVisible() && !w.viewer->isVisible());
        pairs->setCurrentIndex(pairs->model()->index(0, 0));
        QTRY_VERIFY(viewerB->hasFrame());
        QVERIFY2(!w.label("metricSummaryLabel").contains(QStringLiteral("B Picture ID: N/A")),
                 qPrintable(w.label("metricSummaryLabel")));
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("flows-ab-wipe.png")));

        b->closeProject();
        QTRY_COMPARE(b->state(), ProjectState::Empty);
        QVERIFY(showsAAlone());
        QVERIFY(w.action("actionCompareWipe")->isChecked());
        const QString summary = w.label("metricSummaryLabel");
        QVERIFY2(summary.endsWith(QStringLiteral("\n\nB: no B stream opened")), qPrintable(summary));
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("flows-wipe-chosen-b-closed.png")));
        QVERIFY(openAndWait(*b, mediaPath(kSmallClip)));
        QVERIFY(wipe->isVisible());
        const QImage withPicture = wipe->grab().toImage();

        w.action("actionCloseProject")->trigger();
        QTRY_COMPARE(w.controller->state(), ProjectState::Empty);
        QTRY_COMPARE(b->state(), ProjectState::Empty);
        QVERIFY(showsAAlone());
        const QImage closed = wipe->grab().toImage();
        QVERIFY(closed != withPicture);
        wipe->clear(QStringLiteral("Open A and B streams for wipe compare"));
        QCOMPARE(wipe->grab().toImage(), closed);
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("flows-closed-after-wipe.png")));

        QVERIFY(w.open(mediaPath(kSmallClip)));
        QVERIFY(w.frameShownFor(0));
        QVERIFY(showsAAlone());
        QVERIFY(w.action("actionCompareWipe")->isChecked());
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("flows-single-stream-after-wipe.png")));
    }

    // The start-up status row reaches the Statistics tab as it reaches the syntax tabs.
    void theStatisticsTabShowsItsStartUpRow()
    {
        Window w;
        const auto* statistics = w.window->findChild<QTableView*>(QStringLiteral("pictureStatisticsView"));
        QVERIFY(statistics != nullptr);
        QCOMPARE(statistics->model()->rowCount(), 1);
        const QString row = rowTexts(*statistics->model());
        QVERIFY2(row.contains(QStringLiteral("No analysis loaded")) && row.contains(QStringLiteral("unavailable")),
                 qPrintable(row));
    }

    // A stream's own texts are data: a "%1" or a tag in a codec name is shown as it is spelled.
    void theBStreamLabelShowsTheCodecNameAsSpelled()
    {
        Window w;
        auto* b = w.window->findChild<ProjectController*>(QStringLiteral("compareBProjectController"));
        QVERIFY(b != nullptr);
        vexilo::domain::StreamInfo info;
        info.codecName = "%1 <b>x</b>";
        info.width = 16;
        info.height = 8;
        info.bitDepth = 10;
        info.pixelFormatName = "yuv420p10le";
        emit b->streamReady(info);
        QCOMPARE(w.label("compareBStreamStateLabel"), QStringLiteral("%1 <b>x</b>\n16 x 8\n10-bit yuv420p10le"));
        const auto* label = w.window->findChild<QLabel*>(QStringLiteral("compareBStreamStateLabel"));
        QCOMPARE(label->textFormat(), Qt::PlainText);
    }

    // B's one-picture batches are gathered as A's are, and the pair table takes what they bring
    // in place: back to back they never reset it, so it costs nothing per picture to redraw.
    void bBatchesArrivingBackToBackLeaveThePairTableInPlace()
    {
        Window w;
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QVERIFY(w.open(mediaPath("main_420_8bit_gop8.hevc")));
        ProjectController* b = compareB(w);
        QVERIFY(openAndWait(*b, mediaPath("client_long_640x360.hevc")));
        settleDeferredRefreshes(w);
        auto* pairs = w.window->findChild<QAbstractItemModel*>(QStringLiteral("comparePicturePairModel"));
        const int rows = pairs->rowCount();
        QSignalSpy resets(pairs, &QAbstractItemModel::modelReset);
        for (const vexilo::domain::PictureInfo& picture : b->pictures()) {
            emit b->pictureBatchDecoded(vexilo::application::PictureInfoBatch{picture});
        }
        settleDeferredRefreshes(w);
        QCOMPARE(resets.count(), 0);
        QCOMPARE(pairs->rowCount(), rows);
        QCOMPARE(w.label("compareBPictureStateLabel"), QStringLiteral("B pictures: %1").arg(b->pictureCount()));
    }

    // The user's pair and scroll position stay while B's pictures arrive and the table is rebuilt.
    void thePairTableKeepsTheUsersRowAndScrollPositionWhileBArrives()
    {
        Window w;
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        QVERIFY(w.open(mediaPath("client_long_640x360.hevc")));
        ProjectController* b = compareB(w);
        QVERIFY(openAndWait(*b, mediaPath("main_420_8bit_gop8.hevc")));
        settleDeferredRefreshes(w);
        auto* pairs = w.window->findChild<QTableView*>(QStringLiteral("comparePairView"));
        QTRY_VERIFY(pairs->isVisible());
        const int rows = pairs->model()->rowCount();
        QVERIFY(rows > 30);

        const QModelIndex chosen = pairs->model()->index(30, 0);
        pairs->scrollTo(chosen);
        QTest::mouseClick(pairs->viewport(), Qt::LeftButton, {}, pairs->visualRect(chosen).center());
        QCOMPARE(pairs->currentIndex().row(), 30);
        QTRY_VERIFY(w.viewer->hasFrame() && w.viewer->displayIndex() == 30);
        settleDeferredRefreshes(w);
        QScrollBar* scroll = pairs->verticalScrollBar();
        QVERIFY(scroll->maximum() > 1);
        scroll->setValue(scroll->maximum() / 2);  // the user reads elsewhere
        const int scrolled = scroll->value();
        QVERIFY(scrolled != 0);

        b->closeProject();
        QVERIFY(openAndWait(*b, mediaPath("main_420_8bit_gop8.hevc")));
        settleDeferredRefreshes(w);
        QCOMPARE(pairs->model()->rowCount(), rows);
        QCOMPARE(pairs->currentIndex().row(), 30);
        QCOMPARE(pairs->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(scroll->value(), scrolled);
    }

    // An open that falls back to the in-process decoder says so in the status bar, and keeps
    // saying it while the decoder's progress messages pass, until the next open.
    void aFallbackFromTheAnalyzerIsSaidInTheStatusBar()
    {
        Window w;
        w.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.window.get()));
        const vexilo::application::AnalysisTaskError startFailure{
            QStringLiteral("worker.start_timeout"), QStringLiteral("Analyzer Worker did not start before the timeout"),
            QStringLiteral("vexilo-analyzer-worker"), std::nullopt, true};
        bool armed = true;
        // The controller's own reaction (the fallback) has its tests; here the window hears the error
        // as it would while the open is on the analyzer road.
        QObject::connect(w.controller, &ProjectController::taskStarted, w.window.get(), [&] {
            if (std::exchange(armed, false)) {
                emit w.controller->analysisError(startFailure);
            }
        });
        QVERIFY(w.open(mediaPath("main_420_8bit_gop8.hevc")));
        const auto* notice = w.window->findChild<QLabel*>(QStringLiteral("analyzerFallbackLabel"));
        QVERIFY(notice != nullptr);
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->text(), QStringLiteral("Analyzer Worker unavailable, opening without analysis: "
                                                "Analyzer Worker did not start before the timeout"));
        QCOMPARE(notice->textFormat(), Qt::PlainText);
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("flows-analyzer-fallback-notice.png")));

        w.action("actionCloseProject")->trigger();
        QTRY_COMPARE(w.controller->state(), ProjectState::Empty);
        QVERIFY(!notice->isVisible());
    }

    void navigationDoesNothingWithoutAReadyProject()
    {
        Window w;
        for (const char* name : {"actionFirstPicture", "actionNextPicture", "actionLastPicture"}) {
            w.action(name)->trigger();
        }
        QCOMPARE(w.currentRow(), -1);
        QCOMPARE(w.controller->selectedPictureId(), std::nullopt);
    }

    void aMissingFrameIsReportedInTheViewerAndItsLabel_data()
    {
        QTest::addColumn<qulonglong>("pictureId");
        QTest::addColumn<QString>("expected");
        QTest::newRow("known picture") << 7ULL << QStringLiteral("Frame unavailable for Picture ID 7: gone");
        QTest::newRow("unknown picture") << 0ULL << QStringLiteral("Frame unavailable: gone");
    }

    void aMissingFrameIsReportedInTheViewerAndItsLabel()
    {
        QFETCH(qulonglong, pictureId);
        QFETCH(QString, expected);
        Window w;
        emit w.controller->selectedFrameUnavailable(static_cast<vexilo::domain::PictureId>(pictureId), QStringLiteral("gone"));
        QCOMPARE(w.label("frameViewerStateLabel"), expected);
        QCOMPARE(w.viewer->statusMessage(), expected);
    }

    void blockReportsReachBlockInfoAndTheInspectorAsHoverOrLock_data()
    {
        QTest::addColumn<QString>("interaction");
        QTest::addColumn<QString>("blockLabel");
        QTest::addColumn<QString>("fallbackLabel");
        QTest::newRow("locked") << QStringLiteral("Locked HEVC block") << QStringLiteral("Block Info - locked")
                                << QStringLiteral("Block Info - locked fallback");
        QTest::newRow("lower-case locked is a hover") << QStringLiteral("locked HEVC block")
                                                      << QStringLiteral("Block Info - hover")
                                                      << QStringLiteral("Block Info - hover fallback");
        QTest::newRow("hover") << QStringLiteral("Hover HEVC block") << QStringLiteral("Block Info - hover")
                               << QStringLiteral("Block Info - hover fallback");
    }

    void blockReportsReachBlockInfoAndTheInspectorAsHoverOrLock()
    {
        QFETCH(QString, interaction);
        QFETCH(QString, blockLabel);
        QFETCH(QString, fallbackLabel);
        Window w;
        const vexilo::analysis::StableId none{};
        emit w.viewer->blockInfoAvailable(interaction, QStringLiteral("3"), QStringLiteral("2"),
                                          QStringLiteral("(8, 8)"), none, none, none, none);
        QCOMPARE(w.label("inspectorStateLabel"), blockLabel);
        QVERIFY2(rowTexts(*w.blockInfo).contains(interaction), qPrintable(rowTexts(*w.blockInfo)));
        QVERIFY(rowTexts(*w.inspector).contains(interaction));

        // The B viewer reports fallback cells to the same models.
        auto* viewerB = w.window->findChild<FrameViewer*>(QStringLiteral("compareBFrameViewer"));
        QVERIFY(viewerB != nullptr);
        emit viewerB->blockInfoUnavailable(interaction, QStringLiteral("3"), QStringLiteral("2"),
                                           QStringLiteral("(8, 8)"), QStringLiteral("cell 0,0"));
        QCOMPARE(w.label("inspectorStateLabel"), fallbackLabel);
        QVERIFY(rowTexts(*w.blockInfo).contains(QStringLiteral("cell 0,0")));

        emit w.viewer->blockInfoCleared(QStringLiteral("Mouse left the frame"));
        QCOMPARE(w.label("inspectorStateLabel"), QStringLiteral("Mouse left the frame"));
        QVERIFY(rowTexts(*w.blockInfo).contains(QStringLiteral("idle")));
        QVERIFY(rowTexts(*w.inspector).contains(QStringLiteral("Move the mouse over the decoded frame")));
    }

    // A syntax tab that is hidden when its picture arrives lays its rows out when it is shown, fully
    // expanded as the shown one is; until then its model made only the top-level rows.
    void aHiddenSyntaxTabIsExpandedWhenItIsShown()
    {
        Window w;
        QVERIFY(showLarge(w));
        const vexilo::test::WorkerAnalysis analysed = analyseAndOpen(w, "models_bpyramid_420_8bit.hevc");
        QVERIFY2(analysed.error.isEmpty(), qPrintable(analysed.error));
        QVERIFY(!analysed.pictures.empty());
        QObject::disconnect(w.controller, nullptr, w.window.get(), nullptr);
        const auto selected = w.controller->selectedPictureId();
        QVERIFY(selected.has_value());
        auto* tabs = w.window->findChild<QTabWidget*>(QStringLiteral("pictureSyntaxTabs"));
        auto* spsView = w.window->findChild<QTreeView*>(QStringLiteral("spsSyntaxView"));
        auto* spsModel = w.window->findChild<vexilo::PictureSyntaxModel*>(QStringLiteral("spsSyntaxModel"));
        auto* vpsView = w.window->findChild<QTreeView*>(QStringLiteral("vpsSyntaxView"));
        QVERIFY(tabs != nullptr && spsView != nullptr && spsModel != nullptr && vpsView != nullptr);
        tabs->setCurrentWidget(vpsView);

        vexilo::analysis::StreamAnalysis document = analysed.pictures.front();
        document.parameterSets = analysed.stream.parameterSets;
        const auto load = [&] {
            return QMetaObject::invokeMethod(
                w.window.get(), "onPictureAnalysisLoaded",
                Q_ARG(vexilo::application::PictureAnalysisPayload,
                      (vexilo::application::PictureAnalysisPayload{
                          *selected, std::make_shared<const vexilo::analysis::StreamAnalysis>(document), 1})));
        };
        QVERIFY(load());
        QVERIFY(spsModel->rowCount() > 0 && spsModel->hasChildren(spsModel->index(0, 0)));
        QCOMPARE(spsModel->madeRowCount(), static_cast<std::size_t>(spsModel->rowCount()));
        QVERIFY(everyOpenableRowIsExpanded(*vpsView, {}));

        tabs->setCurrentWidget(spsView);
        QVERIFY(everyOpenableRowIsExpanded(*spsView, {}));
        QVERIFY(spsModel->madeRowCount() > static_cast<std::size_t>(spsModel->rowCount()));
        // Shown when the next picture arrives: expanded at once.
        QVERIFY(load());
        QVERIFY(everyOpenableRowIsExpanded(*spsView, {}));
    }

    void aLoadedPictureAnalysisFillsTheViewsAndALockedBlockStaysLocked()
    {
        Window w;
        QVERIFY(showLarge(w));
        const vexilo::test::WorkerAnalysis analysed = analyseAndOpen(w, "models_bpyramid_420_8bit.hevc");
        QVERIFY2(analysed.error.isEmpty(), qPrintable(analysed.error));
        QVERIFY(!analysed.pictures.empty());
        // The controller analyses what it opens; from here on the picture's document is the one
        // given below, so the controller's later reports are kept away from the window.
        QObject::disconnect(w.controller, nullptr, w.window.get(), nullptr);
        const auto selected = w.controller->selectedPictureId();
        QVERIFY(selected.has_value());

        // The first decoded picture is the first coded one: its document from the worker.
        vexilo::application::PictureAnalysisPayload payload;
        payload.pictureId = *selected;
        vexilo::analysis::StreamAnalysis document = analysed.pictures.front();
        addBlockStructure(document, *selected, 176, 144);
        payload.analysis = std::make_shared<const vexilo::analysis::StreamAnalysis>(std::move(document));
        QVERIFY(QMetaObject::invokeMethod(w.window.get(), "onPictureAnalysisLoaded",
                                          Q_ARG(vexilo::application::PictureAnalysisPayload, payload)));

        QVERIFY2(w.label("inspectorStateLabel")
                     .startsWith(QStringLiteral("Picture ID: %1\nAnalysis ready\nNALs: ").arg(*selected)),
                 qPrintable(w.label("inspectorStateLabel")));
        auto* tree = w.window->findChild<QTreeView*>(QStringLiteral("syntaxTreeView"));
        QVERIFY(tree != nullptr && tree->model()->rowCount() > 0);
        for (auto* model : w.window->findChildren<vexilo::PictureSyntaxModel*>()) {
            QVERIFY2(model->rowCount() > 0, qPrintable(model->objectName()));
        }
        QVERIFY(rowTexts(*w.blockInfo).contains(QStringLiteral("Hover over the decoded frame")));
        QVERIFY(w.aiPanel->evidenceText().contains(QStringLiteral("decoded pictures: %1").arg(w.controller->pictureCount())));
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("flows-syntax-tabs.png")));

        // The blocks at the right and bottom edges are cut to 48 and 16 samples: the Statistics
        // tab lists the sizes from the smallest block to the largest.
        auto* statistics = w.window->findChild<QTableView*>(QStringLiteral("pictureStatisticsView"));
        QVERIFY(statistics != nullptr);
        QStringList cuSizes;
        for (int row = 0; row < statistics->model()->rowCount(); ++row) {
            if (statistics->model()->index(row, 0).data().toString() == QStringLiteral("CU Size")) {
                cuSizes << statistics->model()->index(row, 1).data().toString();
            }
        }
        QCOMPARE(cuSizes, (QStringList{"48x16", "64x16", "48x64", "64x64"}));
        // The tab is small in this layout: its rows are photographed in a view of their own.
        QTableView rows;
        rows.setModel(statistics->model());
        rows.resize(640, 420);
        QDir().mkpath(QStringLiteral(VEXILO_TEST_OUTPUT_DIR));
        QVERIFY(rows.grab().save(QStringLiteral(VEXILO_TEST_OUTPUT_DIR "/flows-statistics-rows.png")));

        // Lock the block under the middle of the picture, then move away: the lock holds.
        const QPoint middle = w.viewer->rect().center();
        QTest::mouseMove(w.viewer, middle);
        QTest::mouseClick(w.viewer, Qt::LeftButton, Qt::NoModifier, middle);
        QTRY_VERIFY2(w.label("inspectorStateLabel").startsWith(QStringLiteral("Block Info - locked")),
                     qPrintable(w.label("inspectorStateLabel")));
        const QString lockedRows = rowTexts(*w.blockInfo);
        QVERIFY2(lockedRows.contains(QStringLiteral("Locked HEVC block")), qPrintable(lockedRows));
        // The lock moved the syntax tree to the locked object without ending the lock.
        QVERIFY(tree->currentIndex().isValid());
        QCOMPARE(w.label("inspectorStateLabel"), QStringLiteral("Block Info - locked"));
        QTest::mouseMove(w.viewer, middle + QPoint(40, 30));
        QTest::qWait(50);
        QCOMPARE(rowTexts(*w.blockInfo), lockedRows);
        QVERIFY(vexilo::test::savePhotograph(*w.window, QStringLiteral("flows-block-info-locked.png")));
    }

    void arrivingPicturesRefreshTheWholeStreamViewsOnceAfterAShortWait()
    {
        Window w;
        auto* statistics = w.window->findChild<QAbstractItemModel*>(QStringLiteral("streamStatisticsModel"));
        QVERIFY(statistics != nullptr);
        QSignalSpy statisticsResets(statistics, &QAbstractItemModel::modelReset);
        constexpr int kPictures = 200;
        for (int index = 0; index < kPictures; ++index) {
            vexilo::domain::PictureInfo picture;
            picture.id = index + 1;
            picture.displayIndex = index;
            picture.width = 64;
            picture.height = 64;
            picture.bitDepth = 8;
            QVERIFY(QMetaObject::invokeMethod(w.window.get(), "onPictureBatchDecoded",
                                              Q_ARG(vexilo::application::PictureInfoBatch,
                                                    vexilo::application::PictureInfoBatch{picture})));
        }
        QCOMPARE(w.pictureView->model()->rowCount(), kPictures);
        QCOMPARE(w.label("pictureStateLabel"), QStringLiteral("%1 picture(s)").arg(kPictures));
        QCOMPARE(statisticsResets.count(), 0);
        QTRY_COMPARE(statisticsResets.count(), 1);
        QVERIFY2(w.aiPanel->evidenceText().contains(QStringLiteral("Decoded pictures updated")),
                 qPrintable(w.aiPanel->evidenceText().left(400)));

        // An event that refreshes the evidence at once first takes in what is still waiting.
        vexilo::domain::PictureInfo late;
        late.id = kPictures + 1;
        late.displayIndex = kPictures;
        QVERIFY(QMetaObject::invokeMethod(w.window.get(), "onPictureBatchDecoded",
                                          Q_ARG(vexilo::application::PictureInfoBatch,
                                                vexilo::application::PictureInfoBatch{late})));
        QVERIFY(QMetaObject::invokeMethod(w.window.get(), "onPictureSelectionCleared"));
        QCOMPARE(statisticsResets.count(), 2);
        QVERIFY(w.aiPanel->evidenceText().contains(QStringLiteral("Picture selection cleared")));
        QTest::qWait(250);
        QCOMPARE(statisticsResets.count(), 2);
        QVERIFY(w.aiPanel->evidenceText().contains(QStringLiteral("Picture selection cleared")));
    }

    // A payload loaded ahead of a selection lacks the stream's records the picture's views show,
    // so it never takes their place, even for the selected picture; a complete one does.
    void onlyACompletePayloadFillsTheSelectedPicturesViews()
    {
        Window w;
        const vexilo::test::WorkerAnalysis analysed = analyseAndOpen(w, "models_bpyramid_420_8bit.hevc");
        QVERIFY2(analysed.error.isEmpty(), qPrintable(analysed.error));
        QObject::disconnect(w.controller, nullptr, w.window.get(), nullptr);
        const vexilo::domain::PictureId selected = *w.controller->selectedPictureId();
        const auto* nal = w.window->findChild<vexilo::PictureSyntaxModel*>(QStringLiteral("nalSyntaxModel"));
        QVERIFY(nal != nullptr);
        // A model names a picture only while it holds a document.
        const auto shows = [nal](const vexilo::application::StreamAnalysisPtr& document) {
            return nal->pictureId().has_value() && &nal->analysis() == document.get();
        };

        const auto complete = std::make_shared<const vexilo::analysis::StreamAnalysis>(analysed.pictures.front());
        vexilo::analysis::StreamAnalysis ownRecords = *complete;
        ownRecords.parameterSets.clear();
        const vexilo::application::PictureAnalysisPayload ahead{
            selected, std::make_shared<const vexilo::analysis::StreamAnalysis>(std::move(ownRecords)), 1,
            vexilo::analysis::PayloadExtent::PictureRecords};
        const QString labelBefore = w.label("inspectorStateLabel");
        QVERIFY(QMetaObject::invokeMethod(w.window.get(), "onPictureAnalysisLoaded",
                                          Q_ARG(vexilo::application::PictureAnalysisPayload, ahead)));
        QCOMPARE(w.label("inspectorStateLabel"), labelBefore);
        QVERIFY(!shows(ahead.analysis));

        QVERIFY(QMetaObject::invokeMethod(
            w.window.get(), "onPictureAnalysisLoaded",
            Q_ARG(vexilo::application::PictureAnalysisPayload,
                  (vexilo::application::PictureAnalysisPayload{selected, complete, 1}))));
        QVERIFY(w.label("inspectorStateLabel").contains(QStringLiteral("Analysis ready")));
        QVERIFY(shows(complete));
        QVERIFY(QMetaObject::invokeMethod(w.window.get(), "onPictureAnalysisLoaded",
                                          Q_ARG(vexilo::application::PictureAnalysisPayload, ahead)));
        QVERIFY(shows(complete));
    }

    // The strip's tiles whose thumbnails its budget let go get them back from the frame cache
    // once they are painted again.
    void theStripRemakesLetGoThumbnailsFromCachedFrames()
    {
        Window w;
        QVERIFY(showLarge(w));
        QVERIFY(w.open(mediaPath("models_bpyramid_420_8bit.hevc")));
        QVERIFY(w.frameShownFor(0));
        auto* strip = w.window->findChild<vexilo::PictureStripWidget*>(QStringLiteral("pictureStrip"));
        QVERIFY(strip != nullptr && strip->isVisible());
        QTRY_VERIFY(strip->thumbnailBytes() > 0);
        const QImage shown = strip->grab().toImage();

        strip->setThumbnailByteBudget(0);
        QCOMPARE(strip->thumbnailBytes(), 0);
        QVERIFY(strip->grab().toImage() != shown);
        strip->setThumbnailByteBudget(vexilo::kDefaultPictureStripThumbnailBudgetBytes);
        strip->repaint();
        QTRY_VERIFY(strip->thumbnailBytes() > 0);
        QTRY_COMPARE(strip->grab().toImage(), shown);
    }

    void aStatusAfterTheShownAnalysisAndAnErrorReadAsTheTablesSay()
    {
        Window w;
        const vexilo::test::WorkerAnalysis analysed = analyseAndOpen(w, "models_bpyramid_420_8bit.hevc");
        QVERIFY2(analysed.error.isEmpty(), qPrintable(analysed.error));
        const vexilo::domain::PictureId selected = *w.controller->selectedPictureId();
        const QString id = QString::number(selected);

        vexilo::application::PictureAnalysisState pending{selected, vexilo::application::PictureAnalysisStatus::Pending,
                                                          QStringLiteral("queued"), 1};
        QVERIFY(QMetaObject::invokeMethod(w.window.get(), "onPictureAnalysisStatusChanged",
                                          Q_ARG(vexilo::application::PictureAnalysisState, pending)));
        QCOMPARE(w.label("inspectorStateLabel"), QStringLiteral("Picture ID: %1\nLoading analysis...").arg(id));

        vexilo::application::PictureAnalysisPayload payload{
            selected, std::make_shared<const vexilo::analysis::StreamAnalysis>(analysed.pictures.front()), 1};
        QVERIFY(QMetaObject::invokeMethod(w.window.get(), "onPictureAnalysisLoaded",
                                          Q_ARG(vexilo::application::PictureAnalysisPayload, payload)));
        const QString ready = w.label("inspectorStateLabel");
        QVERIFY(ready.contains(QStringLiteral("Analysis ready")));
        // A late "index ready" must not replace the details with a loading notice.
        vexilo::application::PictureAnalysisState indexReady{
            selected, vexilo::application::PictureAnalysisStatus::IndexReady, QStringLiteral("index"), 1};
        QVERIFY(QMetaObject::invokeMethod(w.window.get(), "onPictureAnalysisStatusChanged",
                                          Q_ARG(vexilo::application::PictureAnalysisState, indexReady)));
        QCOMPARE(w.label("inspectorStateLabel"), ready);

        vexilo::application::AnalysisTaskError error{QStringLiteral("analysis.worker_unavailable"),
                                                     QStringLiteral("no worker"), QString(), selected, true};
        QVERIFY(QMetaObject::invokeMethod(w.window.get(), "onAnalysisError",
                                          Q_ARG(vexilo::application::AnalysisTaskError, error)));
        QCOMPARE(w.label("taskStateLabel"),
                 QStringLiteral("analysis.worker_unavailable for Picture ID %1: no worker").arg(id));
        QCOMPARE(w.label("inspectorStateLabel"), QStringLiteral("Picture ID: %1\nAnalysis unavailable: no worker").arg(id));
        const QString inspector = rowTexts(*w.inspector);
        QVERIFY2(inspector.contains(QStringLiteral("unsupported")), qPrintable(inspector));
        QVERIFY(inspector.contains(QStringLiteral("No analysis cache was loaded")));
        QVERIFY(rowTexts(*w.blockInfo).contains(QStringLiteral("unsupported")));
        QVERIFY(w.viewer->hasFrame());
    }

    void theEvidenceSamplesCompareRowsAsDocumented()
    {
        using vexilo::sampleComparePairRows;
        QCOMPARE(sampleComparePairRows(20, 5, {}), (std::vector<int>{5, 0, 1, 2, 3, 4, 6, 7}));
        std::vector<int> measured;
        for (int row = 0; row < 20; ++row) {
            measured.push_back(row == 5 ? -1 : row);
        }
        const std::vector<int> sample = sampleComparePairRows(30, 25, measured);
        QCOMPARE(sample.size(), std::size_t{16});
        QCOMPARE(sample.front(), 25);
        QCOMPARE(sample[1], 0);
        QCOMPARE(sample.back(), 15);
        QCOMPARE(sampleComparePairRows(3, 7, {-1, 2, 2}), (std::vector<int>{2, 0, 1}));
        QCOMPARE(sampleComparePairRows(0, std::nullopt, {}), std::vector<int>{});
    }

private:
    QTemporaryDir cacheHome_;
};

VEXILO_QT_TEST(MainWindowFlowsTest)
#include "MainWindowFlowsTest.moc"
