// A/B comparison as a user runs it: two encodes of one clip opened through the window's file
// dialogs, the matching raw reference attached under a non-ASCII name, the stream analysed by
// the real worker through "Analyze Stream", and quality runs whose figures are held against
// what the media library measures for the same frames (VMAF through the libvmaf stand-in).
#include "WindowPhotograph.h"
#include "vexilo/application/ProjectController.h"
#include "vexilo/application/QualityAnalysisService.h"
#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/PathText.h"
#include "vexilo/media/QualityMetrics.h"
#include "vexilo/media/ReferenceYuv.h"
#include "vexilo/media/VmafBackend.h"
#include "vexilo/media/VmafSequence.h"
#include "vexilo/models/ComparePicturePairModel.h"
#include "vexilo/test/QtTestRegistry.h"
#include "vexilo/ui/MainWindow.h"
#include "vexilo/ui/ReferenceYuvMetadataDialog.h"
#include "vexilo/views/FrameViewer.h"
#include "vexilo/views/QualityMetricChartWidget.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <dlfcn.h>

#include <functional>
#include <memory>
#include <vector>

using namespace vexilo;
using application::ProjectController;
using application::ProjectState;

// A check made in a helper stops the test function that called it too.
#define CHECKED(call)                                                                                                  \
    do {                                                                                                               \
        call;                                                                                                          \
        if (QTest::currentTestFailed()) {                                                                              \
            return;                                                                                                    \
        }                                                                                                              \
    } while (false)

namespace {

constexpr int kFrames = 10;
constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kPairRow = 3;
constexpr int kWaitMs = 60000;

// Columns of the pair table that carry measured figures.
constexpr int kPsnrYAColumn = 10;
constexpr int kPsnrAllAColumn = 11;
constexpr int kPsnrYBColumn = 12;
constexpr int kPsnrAllBColumn = 13;
constexpr int kWinnerColumn = 14;

// The chart's metric choices, as the metric combo box carries them.
constexpr int kChartPsnr = 0;
constexpr int kChartSsim = 1;
constexpr int kChartMse = 2;
constexpr int kChartVmaf = 3;

QString testStream(const char* name)
{
    return QStringLiteral(VEXILO_TEST_MEDIA_DIR) + QLatin1Char('/') + QLatin1String(name);
}

// Mesa's software driver must stay loaded so that LeakSanitizer can name its leftovers.
void pinOpenGlDriver()
{
    static void* const driver = dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
    (void)driver;
}

// Waits, without blocking the modal loop that is about to start, for a modal widget of type T
// and hands it to `answer`.
template <typename T>
void answerModal(std::function<void(T*)> answer)
{
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            answer(widget);
        }
    });
    timer->start();
}

// Types the path into the dialog's name box, as a user does, and accepts. selectFile() would
// leave that box alone once it has the keyboard focus, which the dialog gives it a moment after
// it shows: an answer that came later then accepted an empty name, and the dialog stayed up.
void answerFileDialog(const QString& path)
{
    answerModal<QFileDialog>([path](QFileDialog* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

void answerReferenceDialog()
{
    answerModal<ReferenceYuvMetadataDialog>([](ReferenceYuvMetadataDialog* dialog) {
        dialog->findChild<QSpinBox*>(QStringLiteral("referenceYuvWidthSpinBox"))->setValue(kWidth);
        dialog->findChild<QSpinBox*>(QStringLiteral("referenceYuvHeightSpinBox"))->setValue(kHeight);
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
}

domain::ReferenceYuvSource referenceSource(const QString& path)
{
    domain::ReferenceYuvSource source;
    source.path = media::pathFromQString(path);
    source.width = kWidth;
    source.height = kHeight;
    source.layout = domain::ReferenceYuvLayout::I420;
    return source;
}

// Every picture of a stream, in display order.
std::vector<domain::VideoFrame> decodedFrames(const QString& stream)
{
    std::vector<domain::VideoFrame> frames;
    auto source = media::FFmpegVideoSource::open(media::pathFromQString(stream));
    if (source.ok()) {
        static_cast<void>(source.value().decodeSequentially(
            [&](media::FFmpegDecodedPicture picture) { frames.push_back(std::move(picture.frame)); }, {}));
    }
    return frames;
}

// What the media library measures for every picture of one side against the reference. VMAF
// is scored over the whole sequence, as libvmaf's own tool scores a file.
struct LibraryFigures {
    std::vector<media::FrameQualityMetrics> frames;
    std::vector<std::vector<media::RegionQualityMetrics>> regions;
};

LibraryFigures measureWithMediaLibrary(const std::vector<domain::VideoFrame>& references,
                                       const std::vector<domain::VideoFrame>& encoded)
{
    LibraryFigures figures;
    media::VmafSequence vmaf(media::qualityRunVmafOptions());
    for (std::size_t index = 0; index < encoded.size() && index < references.size(); ++index) {
        figures.frames.push_back(media::computeFrameQualityMetrics(references[index], encoded[index]));
        figures.regions.push_back(
            media::computeRegionalQualityMetrics(references[index], encoded[index], media::kQualityRegionBlockSize));
        vmaf.add(static_cast<std::int64_t>(index), references[index], encoded[index]);
    }
    vmaf.finish();
    for (std::size_t index = 0; index < figures.frames.size(); ++index) {
        figures.frames[index].vmaf = vmaf.result(static_cast<std::int64_t>(index));
    }
    return figures;
}

QString fixed(const std::optional<double>& value, int decimals)
{
    return value ? QString::number(*value, 'f', decimals) : QStringLiteral("<absent>");
}

// The test class shares the anonymous namespace of the types its members hold.
class MainWindowQualityTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir configDir_;
    QTemporaryDir mediaDir_;
    QString referencePath_;
    QString streamAPath_;
    QString streamBPath_;
    LibraryFigures expectedA_;
    LibraryFigures expectedB_;

    template <typename T>
    static T* child(const QObject& window, const char* name)
    {
        return window.findChild<T*>(QString::fromLatin1(name));
    }

    static FrameViewer* viewerA(const MainWindow& window)
    {
        return qobject_cast<FrameViewer*>(child<QSplitter>(window, "sideBySideViewerSplitter")->widget(0));
    }

    static FrameViewer* viewerB(const MainWindow& window) { return child<FrameViewer>(window, "compareBFrameViewer"); }
    static ComparePicturePairModel* pairModel(const MainWindow& window)
    {
        return child<ComparePicturePairModel>(window, "comparePicturePairModel");
    }
    static const application::QualityResultStore& qualityStore(const MainWindow& window)
    {
        return child<application::QualityAnalysisService>(window, "qualityAnalysisService")->resultStore();
    }
    static ProjectController* controllerA(const MainWindow& window)
    {
        return child<ProjectController>(window, "projectController");
    }
    static ProjectController* controllerB(const MainWindow& window)
    {
        return child<ProjectController>(window, "compareBProjectController");
    }
    static QAction* action(const MainWindow& window, const char* name) { return child<QAction>(window, name); }
    static QString statusText(const MainWindow& window) { return window.statusBar()->currentMessage(); }
    static QString label(const MainWindow& window, const char* name) { return child<QLabel>(window, name)->text(); }

    // The status bar also reports the analyses the window starts by itself while a run goes
    // on; the quality label reports quality runs only.
    static QString qualityStatusText(const MainWindow& window) { return label(window, "qualityMetricStatusLabel"); }

    static bool isIdle(const ProjectController& controller)
    {
        return controller.state() == ProjectState::Ready && !controller.hasActiveTask();
    }

    // A command as the user meets it: it can only be chosen once the window enables it. The
    // window's own picture-structure analyses disable the stream commands while they run.
    static bool waitUntilEnabled(const QAction* command)
    {
        return command != nullptr && QTest::qWaitFor([command] { return command->isEnabled(); }, kWaitMs);
    }

    static bool triggerWhenEnabled(QAction* command)
    {
        if (!waitUntilEnabled(command)) {
            return false;
        }
        command->trigger();
        return true;
    }

    std::unique_ptr<MainWindow> showWindow()
    {
        auto window = std::make_unique<MainWindow>();
        window->show();
        return QTest::qWaitForWindowExposed(window.get()) ? std::move(window) : nullptr;
    }

    static void openThroughDialog(MainWindow& window, const char* command, const QString& path)
    {
        answerFileDialog(path);
        action(window, command)->trigger();
    }

    void attachReference(MainWindow& window) const
    {
        answerFileDialog(referencePath_);
        answerReferenceDialog();
        action(window, "actionAttachReferenceYuv")->trigger();
    }

    // Opens A and B through the window's commands and attaches the reference; both streams
    // are fully decoded by the real worker when it returns.
    std::unique_ptr<MainWindow> openComparison()
    {
        auto window = showWindow();
        if (!window) {
            return nullptr;
        }
        openThroughDialog(*window, "actionOpenHevc", streamAPath_);
        openThroughDialog(*window, "actionOpenCompareB", streamBPath_);
        if (!QTest::qWaitFor([&] { return isIdle(*controllerA(*window)) && isIdle(*controllerB(*window)); }, kWaitMs)) {
            return nullptr;
        }
        attachReference(*window);
        return window;
    }

    // "Analyze Stream" on the real worker, until its stream document has reached the window.
    static bool analyzeStream(MainWindow& window)
    {
        QSignalSpy loaded(controllerA(window), &ProjectController::streamAnalysisLoaded);
        return triggerWhenEnabled(action(window, "actionAnalyzeStream")) &&
               QTest::qWaitFor([&] { return !loaded.isEmpty(); }, kWaitMs);
    }

    static bool clickPairRow(MainWindow& window, int row)
    {
        auto* view = child<QTableView>(window, "comparePairView");
        const QModelIndex index = view->model()->index(row, 0);
        view->scrollTo(index);
        const QRect cell = view->visualRect(index);
        if (!view->isVisible() || cell.isEmpty()) {
            return false;
        }
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
        return view->currentIndex().row() == row;
    }

    static QString pairCell(const MainWindow& window, int row, int column)
    {
        return pairModel(window)->index(row, column).data().toString();
    }

    // The chart's hover text of one metric for one frame, found by moving the pointer across
    // the plot as a user would. A fading tip of the last metric may still show, and other
    // windows on the shared display may take a tip away: the sweep passes by the one and
    // is made again after the other.
    static QString chartTooltip(MainWindow& window, int metric, const QString& title, std::int64_t frame)
    {
        constexpr int kSweeps = 5;
        auto* combo = child<QComboBox>(window, "qualityMetricMetricCombo");
        combo->setCurrentIndex(combo->findData(metric));
        auto* chart = child<QualityMetricChartWidget>(window, "qualityMetricChart");
        const QString wanted = QStringLiteral("Frame %1\nA %2: ").arg(QString::number(frame), title);
        const int y = chart->height() / 2;
        QString lastSeen = QStringLiteral("<no hover text>");
        for (int sweep = 0; sweep < kSweeps; ++sweep) {
            window.raise();
            window.activateWindow();
            for (int x = 0; x < chart->width(); x += 2) {
                QTest::mouseMove(chart, QPoint(x, y));
                if (QToolTip::isVisible()) {
                    lastSeen = QToolTip::text();
                    if (lastSeen.startsWith(wanted)) {
                        return lastSeen;
                    }
                }
            }
            QToolTip::hideText();
        }
        return lastSeen;
    }

    // The hover text of each metric names A's and B's values as the media library measured
    // them (the chart's default component is the sample-weighted total).
    void verifyChartShowsLibraryFigures(MainWindow& window, std::int64_t frame)
    {
        const auto& a = expectedA_.frames[static_cast<std::size_t>(frame)];
        const auto& b = expectedB_.frames[static_cast<std::size_t>(frame)];
        const struct {
            int metric;
            const char* title;
            std::optional<double> valueA;
            std::optional<double> valueB;
        } rows[] = {
            {kChartPsnr, "PSNR / All", a.all.psnr, b.all.psnr},
            {kChartSsim, "SSIM / All", a.all.ssim, b.all.ssim},
            {kChartMse, "MSE / All", a.all.mse, b.all.mse},
            {kChartVmaf, "VMAF / All", a.vmaf.score, b.vmaf.score},
        };
        for (const auto& row : rows) {
            const QString title = QLatin1String(row.title);
            QCOMPARE(chartTooltip(window, row.metric, title, frame),
                     QStringLiteral("Frame %1\nA %2: %3\nB %2: %4")
                         .arg(QString::number(frame), title, fixed(row.valueA, 3), fixed(row.valueB, 3)));
        }
        auto* combo = child<QComboBox>(window, "qualityMetricMetricCombo");
        combo->setCurrentIndex(combo->findData(kChartPsnr));
    }

    static void comparePlanes(const media::PlaneQualityMetrics& shown, const media::PlaneQualityMetrics& expected)
    {
        QCOMPARE(shown.status, media::QualityMetricStatus::Available);
        QCOMPARE(shown.psnr, expected.psnr);
        QCOMPARE(shown.mse, expected.mse);
        QCOMPARE(shown.ssim, expected.ssim);
        QCOMPARE(shown.sampleCount, expected.sampleCount);
    }

    static void compareSides(const media::FrameQualityMetrics& shown, const media::FrameQualityMetrics& expected)
    {
        comparePlanes(shown.y, expected.y);
        comparePlanes(shown.u, expected.u);
        comparePlanes(shown.v, expected.v);
        comparePlanes(shown.all, expected.all);
        QCOMPARE(shown.vmaf.status, media::QualityMetricStatus::Available);
        QVERIFY(shown.vmaf.score.has_value());
        QCOMPARE(*shown.vmaf.score, *expected.vmaf.score);
    }

    // The pair's record and its row in the table hold the media library's figures; A (crf 18)
    // wins over B (crf 40).
    void verifyPairShowsLibraryFigures(const MainWindow& window, int row)
    {
        const ComparePicturePair* pair = pairModel(window)->pairAt(row);
        const application::QualityPairResult* result = pairModel(window)->qualityResultAt(row);
        QVERIFY(pair && result && result->metricsA && result->metricsB);
        const auto frame = static_cast<std::size_t>(pair->frameIndex);
        const auto& a = expectedA_.frames[frame];
        const auto& b = expectedB_.frames[frame];
        CHECKED(compareSides(*result->metricsA, a));
        CHECKED(compareSides(*result->metricsB, b));
        const std::pair<int, std::optional<double>> cells[] = {{kPsnrYAColumn, a.y.psnr},
                                                               {kPsnrAllAColumn, a.all.psnr},
                                                               {kPsnrYBColumn, b.y.psnr},
                                                               {kPsnrAllBColumn, b.all.psnr}};
        for (const auto& [column, psnr] : cells) {
            QCOMPARE(pairCell(window, row, column), fixed(psnr, 2));
        }
        QCOMPARE(pairCell(window, row, kWinnerColumn), QStringLiteral("A"));
    }

    // The pair table and the chart show the quality service's store, row for row: each row's
    // metrics are the store's own record, not a copy, and its cells print that record.
    static void verifyViewsReadTheStore(const MainWindow& window)
    {
        const application::QualityResultStore& store = qualityStore(window);
        const ComparePicturePairModel* model = pairModel(window);
        QCOMPARE(child<QualityMetricChartWidget>(window, "qualityMetricChart")->frameCount(),
                 static_cast<int>(store.size()));
        QVERIFY(!store.empty());
        for (const auto& [frameIndex, result] : store.results()) {
            const int row = model->rowForFrameIndex(frameIndex);
            QVERIFY(row >= 0);
            QCOMPARE(model->qualityResultAt(row), &result);
            QVERIFY(result.metricsA && result.metricsB);
            QCOMPARE(pairCell(window, row, kPsnrAllAColumn), fixed(result.metricsA->all.psnr, 2));
            QCOMPARE(pairCell(window, row, kPsnrYBColumn), fixed(result.metricsB->y.psnr, 2));
        }
    }

    // The summary of the selected pair reads the same figures and names the winner.
    void verifySummaryShowsLibraryFigures(const MainWindow& window, std::int64_t frame)
    {
        const QString summary = label(window, "metricSummaryLabel");
        const auto& a = expectedA_.frames[static_cast<std::size_t>(frame)];
        const auto& b = expectedB_.frames[static_cast<std::size_t>(frame)];
        const QString winner = QStringLiteral("Winner: A better by %1 dB").arg(fixed(*a.all.psnr - *b.all.psnr, 2));
        QVERIFY2(summary.contains(winner), qPrintable(summary));
        for (const auto& [side, figures] : {std::pair{"A", &a}, std::pair{"B", &b}}) {
            const QString all = QStringLiteral("%1 vs Ref\n").arg(QLatin1String(side));
            const QString total =
                QStringLiteral("  All: PSNR=%1 dB  SSIM=%2  MSE=%3")
                    .arg(fixed(figures->all.psnr, 2), fixed(figures->all.ssim, 4), fixed(figures->all.mse, 6));
            const QString vmaf = QStringLiteral("  VMAF=%1").arg(fixed(figures->vmaf.score, 3));
            const qsizetype sideStart = summary.indexOf(all);
            QVERIFY2(sideStart >= 0, qPrintable(summary));
            QVERIFY2(summary.indexOf(total, sideStart) > sideStart, qPrintable(summary));
            QVERIFY2(summary.indexOf(vmaf, sideStart) > sideStart, qPrintable(summary));
        }
    }

    // Both viewers paint the heat-map blocks the media library measures for the pair's frames.
    void verifyHeatmaps(const MainWindow& window, std::int64_t frame)
    {
        for (const auto& [viewer, expected] :
             {std::pair{viewerA(window), &expectedA_}, std::pair{viewerB(window), &expectedB_}}) {
            const auto& cells = viewer->qualityHeatmapCells();
            const auto& blocks = expected->regions[static_cast<std::size_t>(frame)];
            QCOMPARE(cells.size(), blocks.size());
            QVERIFY(!cells.empty());
            for (std::size_t block = 0; block < cells.size(); ++block) {
                QCOMPARE(cells[block].x, blocks[block].x);
                QCOMPARE(cells[block].y, blocks[block].y);
                QCOMPARE(cells[block].allMetrics.psnr, blocks[block].allMetrics.psnr);
            }
        }
    }

    // The display is shared with other windows under test: this one comes to the front, and
    // no hover tip of the chart covers it.
    static void writeScreenshot(MainWindow& window, const char* name)
    {
        QToolTip::hideText();
        window.raise();
        window.activateWindow();
        QVERIFY(vexilo::test::savePhotograph(window, QLatin1String(name)));
    }

    static void writeViewerScreenshot(FrameViewer& viewer, const char* name)
    {
        QDir().mkpath(QStringLiteral(VEXILO_TEST_OUTPUT_DIR));
        QVERIFY(viewer.grabFramebuffer().save(QStringLiteral(VEXILO_TEST_OUTPUT_DIR "/") + QLatin1String(name)));
    }

    static bool runFinished(const MainWindow& window, const QString& label)
    {
        return QTest::qWaitFor(
            [&] { return qualityStatusText(window) == QStringLiteral("Quality analysis finished: %1").arg(label); },
            kWaitMs);
    }

private slots:
    void initTestCase()
    {
        pinOpenGlDriver();
        QVERIFY(configDir_.isValid() && mediaDir_.isValid());
        qputenv("XDG_CONFIG_HOME", configDir_.path().toLocal8Bit());
        // The analysis cache starts empty, so "Analyze Stream" makes the worker do the work.
        qputenv("XDG_CACHE_HOME", QDir(configDir_.path()).filePath(QStringLiteral("cache")).toLocal8Bit());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir_.path());
        QCoreApplication::setOrganizationName(QStringLiteral("Vexilo"));
        QCoreApplication::setApplicationName(QStringLiteral("VexiloDesktop"));
        QVERIFY(media::configureVmafBackend(media::VmafBackendSettings{VEXILO_VMAF_STAND_IN_PATH, ""}));
        // Names the process's "C" locale cannot carry.
        referencePath_ = mediaDir_.filePath(QStringLiteral("référence_映像_176x144.yuv"));
        QVERIFY(QFile::copy(testStream("quality_reference_176x144.yuv"), referencePath_));
        streamAPath_ = mediaDir_.filePath(QStringLiteral("流_high.hevc"));
        QVERIFY(QFile::copy(testStream("quality_high.hevc"), streamAPath_));
        streamBPath_ = testStream("quality_low.hevc");

        std::vector<domain::VideoFrame> references;
        for (int frame = 0; frame < kFrames; ++frame) {
            auto read = media::readReferenceYuvFrame(referenceSource(referencePath_), frame);
            QVERIFY2(read.loaded, read.message.c_str());
            references.push_back(*read.frame);
        }
        expectedA_ = measureWithMediaLibrary(references, decodedFrames(streamAPath_));
        expectedB_ = measureWithMediaLibrary(references, decodedFrames(streamBPath_));
        QCOMPARE(expectedA_.frames.size(), std::size_t{kFrames});
        QCOMPARE(expectedB_.frames.size(), std::size_t{kFrames});
        for (const auto* side : {&expectedA_, &expectedB_}) {
            for (const auto& frame : side->frames) {
                QCOMPARE(frame.vmaf.status, media::QualityMetricStatus::Available);
            }
        }
    }

    void attachesTheReferenceUnderANonAsciiName()
    {
        const auto window = openComparison();
        QVERIFY(window);
        QCOMPARE(label(*window, "referenceYuvStateLabel"),
                 QStringLiteral("référence_映像_176x144.yuv\n176 x 144\nI420 8-bit\nframes=10 matched=10 offset=0\n"
                                "frame bytes=38016"));
        QVERIFY(child<QPlainTextEdit>(*window, "logView")
                    ->toPlainText()
                    .contains(QStringLiteral("Attached Reference YUV: référence_映像_176x144.yuv")));
        QCOMPARE(pairModel(*window)->rowCount(), kFrames);
    }

    void runsShowTheMediaLibrarysFigures()
    {
        const auto window = openComparison();
        QVERIFY(window);

        // An emptied analysis cache leaves Quality Detect waiting for a stream analysis.
        QSignalSpy cleared(controllerA(*window), &ProjectController::analysisCacheCleared);
        QVERIFY(triggerWhenEnabled(action(*window, "actionClearAnalysisCache")));
        QTRY_VERIFY_WITH_TIMEOUT(!cleared.isEmpty(), kWaitMs);
        QVERIFY(!action(*window, "actionAnalyzeFullStreamQuality")->isEnabled());
        QVERIFY(QMetaObject::invokeMethod(window.get(), "onAnalyzeFullStreamQualityRequested", Qt::DirectConnection));
        QCOMPARE(statusText(*window), QStringLiteral("Run Analyze Stream before Quality Detect"));
        QCOMPARE(qualityStatusText(*window), QStringLiteral("Run Analyze Stream before Quality Detect"));

        QVERIFY(analyzeStream(*window));
        QVERIFY(clickPairRow(*window, kPairRow));
        QVERIFY(QTest::qWaitFor([&] { return viewerA(*window)->hasFrame() && viewerB(*window)->hasFrame(); }, kWaitMs));
        QVERIFY(triggerWhenEnabled(action(*window, "actionAnalyzeSelectedPairQuality")));
        QCOMPARE(statusText(*window), QStringLiteral("Quality analysis started: selected pair"));
        QVERIFY(runFinished(*window, QStringLiteral("selected pair")));
        QCOMPARE(child<QualityMetricChartWidget>(*window, "qualityMetricChart")->frameCount(), 1);
        CHECKED(verifyPairShowsLibraryFigures(*window, kPairRow));
        CHECKED(verifySummaryShowsLibraryFigures(*window, kPairRow));
        CHECKED(verifyHeatmaps(*window, kPairRow));

        action(*window, "actionCuOverlay")->setChecked(true);
        action(*window, "actionCompareSideBySide")->trigger();
        CHECKED(writeScreenshot(*window, "quality_side_by_side_heatmaps.png"));
        CHECKED(writeViewerScreenshot(*viewerA(*window), "quality_side_by_side_viewer_a.png"));
        CHECKED(writeViewerScreenshot(*viewerB(*window), "quality_side_by_side_viewer_b.png"));
        action(*window, "actionCompareWipe")->trigger();
        CHECKED(writeScreenshot(*window, "quality_wipe_heatmaps.png"));
        CHECKED(verifyChartShowsLibraryFigures(*window, kPairRow));

        // Quality Detect decodes both streams afresh and measures every pair.
        QVERIFY(triggerWhenEnabled(action(*window, "actionAnalyzeFullStreamQuality")));
        QCOMPARE(statusText(*window), QStringLiteral("Quality analysis started: Quality Detect"));
        QVERIFY(runFinished(*window, QStringLiteral("Quality Detect")));
        QCOMPARE(child<QualityMetricChartWidget>(*window, "qualityMetricChart")->frameCount(), kFrames);
        QCOMPARE(qualityStore(*window).size(), std::size_t{kFrames});
        CHECKED(verifyViewsReadTheStore(*window));
        for (int row = 0; row < kFrames; ++row) {
            CHECKED(verifyPairShowsLibraryFigures(*window, row));
        }
        CHECKED(verifySummaryShowsLibraryFigures(*window, kPairRow));
        CHECKED(verifyHeatmaps(*window, kPairRow));
        CHECKED(writeScreenshot(*window, "quality_detect_wipe.png"));
        CHECKED(verifyChartShowsLibraryFigures(*window, 0));
        CHECKED(verifyChartShowsLibraryFigures(*window, kFrames - 1));
    }

    // B's pictures arrive while a run measures A: every batch rebuilds the pair table, and the
    // measured columns must come back each time.
    void measuredColumnsOutliveLaterBatches()
    {
        const auto window = showWindow();
        QVERIFY(window);
        openThroughDialog(*window, "actionOpenHevc", streamAPath_);
        QVERIFY(QTest::qWaitFor([&] { return isIdle(*controllerA(*window)); }, kWaitMs));
        attachReference(*window);
        QVERIFY(analyzeStream(*window));
        QVERIFY(clickPairRow(*window, 0));
        QVERIFY(waitUntilEnabled(action(*window, "actionAnalyzeSelectedPairQuality")));

        openThroughDialog(*window, "actionOpenCompareB", streamBPath_);
        QVERIFY(triggerWhenEnabled(action(*window, "actionAnalyzeSelectedPairQuality")));
        QCOMPARE(statusText(*window), QStringLiteral("Quality analysis started: selected pair"));
        QVERIFY(runFinished(*window, QStringLiteral("selected pair")));
        QVERIFY(QTest::qWaitFor([&] { return isIdle(*controllerB(*window)); }, kWaitMs));

        const ComparePicturePair* pair = pairModel(*window)->pairAt(0);
        const application::QualityPairResult* result = pairModel(*window)->qualityResultAt(0);
        QVERIFY(pair && pair->pictureIdB && result && result->metricsA);
        CHECKED(compareSides(*result->metricsA, expectedA_.frames[0]));
        QCOMPARE(pairCell(*window, 0, kPsnrAllAColumn), fixed(expectedA_.frames[0].all.psnr, 2));
        // B was measured only when its picture had arrived before the run took the pair.
        QCOMPARE(pairCell(*window, 0, kWinnerColumn), result->metricsB ? QStringLiteral("A") : QStringLiteral("A only"));

        // The user's pair stays chosen through the rebuilds, its summary with it.
        QCOMPARE(child<QTableView>(*window, "comparePairView")->currentIndex().row(), 0);
        const QString summary = label(*window, "metricSummaryLabel");
        QVERIFY2(summary.startsWith(QStringLiteral("Frame 0  |  Ref frame 0\n")), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("  All: PSNR=%1 dB").arg(fixed(expectedA_.frames[0].all.psnr, 2))),
                 qPrintable(summary));
        QVERIFY(waitUntilEnabled(action(*window, "actionAnalyzeSelectedPairQuality")));
    }

    void aCanceledRunSaysSo()
    {
        const auto window = openComparison();
        QVERIFY(window);
        // Nothing running: only the message.
        QVERIFY(QMetaObject::invokeMethod(window.get(), "onCancelQualityAnalysisRequested", Qt::DirectConnection));
        QCOMPARE(statusText(*window), QStringLiteral("Quality analysis cancellation requested"));

        QVERIFY(analyzeStream(*window));
        QVERIFY(triggerWhenEnabled(action(*window, "actionAnalyzeFullStreamQuality")));
        QCOMPARE(statusText(*window), QStringLiteral("Quality analysis started: Quality Detect"));
        QAction* cancel = action(*window, "actionCancelQualityAnalysis");
        QVERIFY(cancel->isEnabled());
        cancel->trigger();
        QCOMPARE(statusText(*window), QStringLiteral("Quality analysis cancellation requested"));
        QTRY_COMPARE_WITH_TIMEOUT(qualityStatusText(*window),
                                  QStringLiteral("Quality analysis canceled: Quality Detect"), kWaitMs);
        QVERIFY(!cancel->isEnabled());
    }

    // Quality Detect says how far it is on its label and in the status bar, once per batch of
    // measured pairs: the count only grows, and ends at every pair.
    void qualityDetectCountsItsPairsAsTheyAreMeasured()
    {
        const auto window = openComparison();
        QVERIFY(window);
        QVERIFY(analyzeStream(*window));
        QStringList progress;
        QObject::connect(window->statusBar(), &QStatusBar::messageChanged, window.get(), [&](const QString& message) {
            const bool repeated = !progress.isEmpty() && progress.last() == message;
            if (message.startsWith(QStringLiteral("Quality Detect: ")) && !repeated) {
                progress << message;
            }
        });
        QVERIFY(triggerWhenEnabled(action(*window, "actionAnalyzeFullStreamQuality")));
        QVERIFY(runFinished(*window, QStringLiteral("Quality Detect")));
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last(), QStringLiteral("Quality Detect: %1 of %1 pairs measured").arg(kFrames));
        const QRegularExpression shape(QStringLiteral("^Quality Detect: (\\d+) of %1 pairs measured$").arg(kFrames));
        int previous = 0;
        for (const QString& message : progress) {
            const QRegularExpressionMatch match = shape.match(message);
            QVERIFY2(match.hasMatch(), qPrintable(message));
            const int measured = match.captured(1).toInt();
            QVERIFY2(measured > previous, qPrintable(progress.join(QLatin1Char('\n'))));
            previous = measured;
        }
    }

    void closingDuringARunReturns()
    {
        auto window = openComparison();
        QVERIFY(window);
        QVERIFY(analyzeStream(*window));
        QVERIFY(triggerWhenEnabled(action(*window, "actionAnalyzeFullStreamQuality")));
        QCOMPARE(statusText(*window), QStringLiteral("Quality analysis started: Quality Detect"));
        QVERIFY(action(*window, "actionCancelQualityAnalysis")->isEnabled());
        window->close();
        window.reset();
        // Whatever the run had still queued for the window is delivered, and dropped, now.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
};

}  // namespace

VEXILO_QT_TEST(MainWindowQualityTest)
#include "MainWindowQualityTest.moc"
