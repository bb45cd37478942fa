// A/B comparison as a user runs it: two encodes of one clip opened through the window's file
// dialogs, the matching raw reference attached under a non-ASCII name, and quality runs on the
// real worker's pictures, measured by the media library, VMAF through the libvmaf stand-in.
#include "vexilo/application/ProjectController.h"
#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/PathText.h"
#include "vexilo/media/QualityMetrics.h"
#include "vexilo/media/ReferenceYuv.h"
#include "vexilo/media/VmafBackend.h"
#include "vexilo/models/ComparePicturePairModel.h"
#include "WindowPhotograph.h"
#include "vexilo/test/QtTestRegistry.h"
#include "vexilo/ui/MainWindow.h"
#include "vexilo/ui/ReferenceYuvMetadataDialog.h"
#include "vexilo/views/FrameViewer.h"
#include "vexilo/views/QualityMetricChartWidget.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <dlfcn.h>

#include <functional>
#include <memory>

using namespace vexilo;
using application::ProjectController;
using application::ProjectState;

namespace {

constexpr int kFrames = 10;
constexpr int kWidth = 176;
constexpr int kHeight = 144;
constexpr int kPairRow = 3;
constexpr int kWinnerColumn = 14;
constexpr int kPsnrAllAColumn = 11;
constexpr int kWaitMs = 60000;

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

void answerFileDialog(const QString& path)
{
    answerModal<QFileDialog>([path](QFileDialog* dialog) {
        dialog->selectFile(path);
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

std::shared_ptr<const domain::VideoFrame> decodedFrame(const QString& stream, std::int64_t displayIndex)
{
    auto source = media::FFmpegVideoSource::open(media::pathFromQString(stream));
    if (!source.ok()) {
        return {};
    }
    std::shared_ptr<const domain::VideoFrame> found;
    std::int64_t shown = 0;
    static_cast<void>(source.value().decodeSequentially(
        [&](media::FFmpegDecodedPicture picture) {
            if (shown++ == displayIndex) {
                found = std::make_shared<const domain::VideoFrame>(std::move(picture.frame));
            }
        },
        {}));
    return found;
}

}  // namespace

class MainWindowQualityTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir configDir_;
    QTemporaryDir mediaDir_;
    QString referencePath_;
    QString streamAPath_;

    template <typename T>
    static T* child(const QObject& window, const char* name)
    {
        return window.findChild<T*>(QString::fromLatin1(name));
    }

    static FrameViewer* viewerA(const MainWindow& window)
    {
        return qobject_cast<FrameViewer*>(child<QSplitter>(window, "sideBySideViewerSplitter")->widget(0));
    }

    static QString statusText(const MainWindow& window) { return window.statusBar()->currentMessage(); }

    static void invoke(MainWindow& window, const char* slot)
    {
        QVERIFY(QMetaObject::invokeMethod(&window, slot, Qt::DirectConnection));
    }

    // Opens A and B through the window's commands and attaches the reference; both streams
    // are fully decoded by the real worker when it returns.
    std::unique_ptr<MainWindow> openComparison()
    {
        auto window = std::make_unique<MainWindow>();
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) {
            return nullptr;
        }
        auto* controllerA = child<ProjectController>(*window, "projectController");
        auto* controllerB = child<ProjectController>(*window, "compareBProjectController");
        answerFileDialog(streamAPath_);
        child<QAction>(*window, "actionOpenHevc")->trigger();
        answerFileDialog(testStream("quality_low.hevc"));
        child<QAction>(*window, "actionOpenCompareB")->trigger();
        const bool decoded = QTest::qWaitFor(
            [&] {
                return controllerA->state() == ProjectState::Ready && controllerB->state() == ProjectState::Ready &&
                       !controllerA->hasActiveTask() && !controllerB->hasActiveTask();
            },
            kWaitMs);
        if (!decoded) {
            return nullptr;
        }
        answerFileDialog(referencePath_);
        answerReferenceDialog();
        child<QAction>(*window, "actionAttachReferenceYuv")->trigger();
        return window;
    }

    static void selectPairRow(MainWindow& window, int row)
    {
        auto* view = child<QTableView>(window, "comparePairView");
        view->setCurrentIndex(view->model()->index(row, 0));
    }

    static void writeViewerScreenshot(FrameViewer& viewer, const char* name)
    {
        QDir().mkpath(QStringLiteral(VEXILO_TEST_OUTPUT_DIR));
        QVERIFY(viewer.grabFramebuffer().save(QStringLiteral(VEXILO_TEST_OUTPUT_DIR "/") + QLatin1String(name)));
    }

    // The status bar also reports the analyses the window starts by itself while a run goes
    // on; the quality label reports quality runs only.
    static QString qualityStatusText(MainWindow& window)
    {
        return child<QLabel>(window, "qualityMetricStatusLabel")->text();
    }

    static void writeScreenshot(MainWindow& window, const char* name)
    {
        QVERIFY(vexilo::test::savePhotograph(window, QLatin1String(name)));
    }

private slots:
    void initTestCase()
    {
        pinOpenGlDriver();
        QVERIFY(configDir_.isValid() && mediaDir_.isValid());
        qputenv("XDG_CONFIG_HOME", configDir_.path().toLocal8Bit());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir_.path());
        QCoreApplication::setOrganizationName(QStringLiteral("Vexilo"));
        QCoreApplication::setApplicationName(QStringLiteral("VexiloDesktop"));
        QVERIFY(media::configureVmafBackend(media::VmafBackendSettings{VEXILO_VMAF_STAND_IN_PATH, ""}));
        // A name the process's "C" locale cannot carry.
        referencePath_ = mediaDir_.filePath(QStringLiteral("référence_映像_176x144.yuv"));
        QVERIFY(QFile::copy(testStream("quality_reference_176x144.yuv"), referencePath_));
        streamAPath_ = mediaDir_.filePath(QStringLiteral("流_high.hevc"));
        QVERIFY(QFile::copy(testStream("quality_high.hevc"), streamAPath_));
    }

    void attachesTheReferenceUnderANonAsciiName()
    {
        const auto window = openComparison();
        QVERIFY(window);
        QCOMPARE(child<QLabel>(*window, "referenceYuvStateLabel")->text(),
                 QStringLiteral("référence_映像_176x144.yuv\n176 x 144\nI420 8-bit\nframes=10 matched=10 offset=0\n"
                                "frame bytes=38016"));
        QVERIFY(child<QPlainTextEdit>(*window, "logView")
                    ->toPlainText()
                    .contains(QStringLiteral("Attached Reference YUV: référence_映像_176x144.yuv")));
        QCOMPARE(child<ComparePicturePairModel>(*window, "comparePicturePairModel")->rowCount(), kFrames);
    }

    void aSelectedPairRunShowsTheMediaLibrarysFigures()
    {
        const auto window = openComparison();
        QVERIFY(window);
        auto* model = child<ComparePicturePairModel>(*window, "comparePicturePairModel");
        invoke(*window, "onAnalyzeFullStreamQualityRequested");
        QCOMPARE(statusText(*window), QStringLiteral("Run Analyze Stream before Quality Detect"));
        QCOMPARE(child<QLabel>(*window, "qualityMetricStatusLabel")->text(),
                 QStringLiteral("Run Analyze Stream before Quality Detect"));

        // The controller does not analyse streams yet; its "analysis finished" signal is what
        // makes the window's stream analysis ready.
        QVERIFY(QMetaObject::invokeMethod(window.get(), "onAnalysisFinished", Qt::DirectConnection,
                                          Q_ARG(qulonglong, 1)));
        selectPairRow(*window, kPairRow);
        QVERIFY(QTest::qWaitFor([&] { return viewerA(*window)->hasFrame(); }, kWaitMs));

        auto* analyzeSelected = child<QAction>(*window, "actionAnalyzeSelectedPairQuality");
        QVERIFY(analyzeSelected->isEnabled());
        analyzeSelected->trigger();
        QCOMPARE(statusText(*window), QStringLiteral("Quality analysis started: selected pair"));
        QTRY_COMPARE_WITH_TIMEOUT(qualityStatusText(*window), QStringLiteral("Quality analysis finished: selected pair"),
                                  kWaitMs);
        QCOMPARE(child<QLabel>(*window, "qualityMetricStatusLabel")->text(),
                 QStringLiteral("Quality analysis finished: selected pair"));
        QCOMPARE(child<QualityMetricChartWidget>(*window, "qualityMetricChart")->frameCount(), 1);

        // The pair's figures are what the media library computes for the same two frames.
        const ComparePicturePair* pair = model->pairAt(kPairRow);
        QVERIFY(pair && pair->metricsA && pair->metricsB);
        auto reference = media::readReferenceYuvFrame(
            [&] {
                domain::ReferenceYuvSource source;
                source.path = media::pathFromQString(referencePath_);
                source.width = kWidth;
                source.height = kHeight;
                source.layout = domain::ReferenceYuvLayout::I420;
                return source;
            }(),
            pair->frameIndex);
        QVERIFY2(reference.loaded, reference.message.c_str());
        const auto frameA = decodedFrame(streamAPath_, pair->frameIndex);
        const auto frameB = decodedFrame(testStream("quality_low.hevc"), pair->frameIndex);
        QVERIFY(frameA && frameB);
        const media::FrameQualityMetrics expectedA = media::computeFrameQualityMetrics(*reference.frame, *frameA);
        const media::FrameQualityMetrics expectedB = media::computeFrameQualityMetrics(*reference.frame, *frameB);
        for (const auto& [shown, expected] : {std::pair{&*pair->metricsA, &expectedA}, {&*pair->metricsB, &expectedB}}) {
            QCOMPARE(shown->all.status, media::QualityMetricStatus::Available);
            QCOMPARE(shown->all.psnr, expected->all.psnr);
            QCOMPARE(shown->all.mse, expected->all.mse);
            QCOMPARE(shown->all.ssim, expected->all.ssim);
            QCOMPARE(shown->y.psnr, expected->y.psnr);
            QCOMPARE(shown->vmaf.status, media::QualityMetricStatus::Available);
            QVERIFY(shown->vmaf.score.has_value());
        }
        QVERIFY(*pair->metricsA->all.psnr > *pair->metricsB->all.psnr);  // crf 18 against crf 40

        const QString winner = model->index(kPairRow, kWinnerColumn).data().toString();
        QVERIFY2(!winner.isEmpty(), "winner column is blank");
        const QString psnrAllA = model->index(kPairRow, kPsnrAllAColumn).data().toString();
        QCOMPARE(psnrAllA, QString::number(*pair->metricsA->all.psnr, 'f', 2));
        const QString summary = child<QLabel>(*window, "metricSummaryLabel")->text();
        QVERIFY2(summary.contains(QStringLiteral("Winner: A better by ")), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("A vs Ref\n  Y: PSNR=")), qPrintable(summary));
        QVERIFY(!viewerA(*window)->qualityHeatmapCells().empty());
        QVERIFY(!child<FrameViewer>(*window, "compareBFrameViewer")->qualityHeatmapCells().empty());

        child<QAction>(*window, "actionCompareSideBySide")->trigger();
        writeScreenshot(*window, "quality_side_by_side_heatmaps.png");
        writeViewerScreenshot(*viewerA(*window), "quality_side_by_side_viewer_a.png");
        writeViewerScreenshot(*child<FrameViewer>(*window, "compareBFrameViewer"), "quality_side_by_side_viewer_b.png");
        child<QAction>(*window, "actionCompareWipe")->trigger();
        writeScreenshot(*window, "quality_wipe_heatmaps.png");

        // Later batches rebuild the pair table; the measured columns stay.
        auto* controllerB = child<ProjectController>(*window, "compareBProjectController");
        emit controllerB->pictureBatchDecoded(controllerB->pictures());
        QCOMPARE(model->index(kPairRow, kWinnerColumn).data().toString(), winner);
        QCOMPARE(model->index(kPairRow, kPsnrAllAColumn).data().toString(), psnrAllA);

        // Quality Detect decodes both streams afresh and measures every pair.
        child<QAction>(*window, "actionAnalyzeFullStreamQuality")->trigger();
        QCOMPARE(statusText(*window), QStringLiteral("Quality analysis started: Quality Detect"));
        QTRY_COMPARE_WITH_TIMEOUT(qualityStatusText(*window), QStringLiteral("Quality analysis finished: Quality Detect"),
                                  kWaitMs);
        QCOMPARE(child<QualityMetricChartWidget>(*window, "qualityMetricChart")->frameCount(), kFrames);
        for (int row = 0; row < kFrames; ++row) {
            QVERIFY2(!model->index(row, kWinnerColumn).data().toString().isEmpty(), qPrintable(QString::number(row)));
        }
        QCOMPARE(model->index(kPairRow, kPsnrAllAColumn).data().toString(), psnrAllA);

    }

    void aCanceledRunSaysSo()
    {
        const auto window = openComparison();
        QVERIFY(window);
        invoke(*window, "onCancelQualityAnalysisRequested");  // nothing running: only the message
        QCOMPARE(statusText(*window), QStringLiteral("Quality analysis cancellation requested"));

        invoke(*window, "onAnalyzeVisiblePairQualityRequested");
        QCOMPARE(statusText(*window), QStringLiteral("Quality analysis started: visible pairs"));
        invoke(*window, "onCancelQualityAnalysisRequested");
        QTRY_COMPARE_WITH_TIMEOUT(qualityStatusText(*window), QStringLiteral("Quality analysis canceled: visible pairs"),
                                  kWaitMs);
    }

    void closingDuringARunReturns()
    {
        auto window = openComparison();
        QVERIFY(window);
        invoke(*window, "onAnalyzeVisiblePairQualityRequested");
        QCOMPARE(statusText(*window), QStringLiteral("Quality analysis started: visible pairs"));
        window->close();
        window.reset();
        QTest::qWait(50);  // any result still queued for the window is dropped
    }
};

VEXILO_QT_TEST(MainWindowQualityTest)
#include "MainWindowQualityTest.moc"
