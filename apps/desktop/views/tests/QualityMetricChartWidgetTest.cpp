#include "ViewTestSupport.h"

#include "vexilo/test/QtTestRegistry.h"
#include "vexilo/views/QualityMetricChartWidget.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <cmath>
#include <limits>
#include <optional>

using vexilo::QualityMetricChartWidget;
using vexilo::media::FrameQualityMetrics;
using vexilo::media::PlaneQualityMetrics;
using vexilo::media::QualityMetricStatus;
using vexilo::test::colourNear;
using vexilo::test::grabImage;
using vexilo::test::showSized;

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
const QColor kSeriesAColour(230, 126, 34);
const QColor kSeriesBColour(52, 152, 219);
constexpr int kPlotLeft = 54;
constexpr int kPlotTop = 18;

PlaneQualityMetrics availablePlane(double psnr, double ssim, double mse) {
    PlaneQualityMetrics plane;
    plane.status = QualityMetricStatus::Available;
    plane.psnr = psnr;
    plane.ssim = ssim;
    plane.mse = mse;
    return plane;
}

// Planes Y, U, V and All get PSNR psnr, psnr + 1, psnr + 2, psnr + 3; SSIM and MSE follow.
FrameQualityMetrics metricsWithPsnr(double psnr) {
    FrameQualityMetrics metrics;
    metrics.y = availablePlane(psnr, 0.91, 10.0);
    metrics.u = availablePlane(psnr + 1, 0.92, 11.0);
    metrics.v = availablePlane(psnr + 2, 0.93, 12.0);
    metrics.all = availablePlane(psnr + 3, 0.94, 13.0);
    metrics.vmaf.status = QualityMetricStatus::Available;
    metrics.vmaf.score = 87.5;
    metrics.vmaf.features = {{"integer_adm2", 0.97, {}}, {"integer_vif_scale3", 0.5, {}}};
    return metrics;
}

// One measured pair as the quality service stores it; the chart draws the store.
struct FramePoint {
    std::int64_t frameIndex = 0;
    std::optional<FrameQualityMetrics> a;
    std::optional<FrameQualityMetrics> b;
};

void setFramePoint(vexilo::application::QualityResultStore& store, FramePoint point) {
    vexilo::application::QualityPairResult result;
    result.frameIndex = point.frameIndex;
    result.metricsA = std::move(point.a);
    result.metricsB = std::move(point.b);
    store.store({std::move(result)});
}

FramePoint pointA(std::int64_t frame, double psnr) {
    return FramePoint{frame, metricsWithPsnr(psnr), std::nullopt};
}

int plotRight(const QWidget& chart) { return kPlotLeft + std::max(chart.width() - 72, 1); }
int plotBottom(const QWidget& chart) { return kPlotTop + std::max(chart.height() - 54, 1); }

// The move reaches the widget at once on every platform: QTest::mouseMove warps the real
// pointer where there is one (xcb), whose event then arrives after the tooltip was read.
QString tooltipAt(QualityMetricChartWidget& chart, QPoint position) {
    QToolTip::hideText();
    QMouseEvent move(QEvent::MouseMove, QPointF(position), QPointF(chart.mapToGlobal(position)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &move);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

// The dashed marker, antialiased over the pixel columns beside x, in the upper part of the
// plot (the tests keep their lines lower): yellow, neither the white plot nor the grey frame.
bool markerAt(const QImage& image, int x) {
    for (int y = kPlotTop + 2; y < kPlotTop + 40; ++y) {
        for (const int column : {x - 1, x}) {
            const QColor colour = image.pixelColor(column, y);
            if (colour.red() > 200 && colour.green() > 150 && colour.blue() < 130) {
                return true;
            }
        }
    }
    return false;
}

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

class QualityMetricChartWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void emptyChartIgnoresPointing() {
        QualityMetricChartWidget chart;
        vexilo::application::QualityResultStore store;
        chart.setQualityResultStore(&store);
        showSized(chart, 472, 234);
        QCOMPARE(chart.minimumHeight(), 180);
        QVERIFY(chart.testAttribute(Qt::WA_MouseTracking));
        QCOMPARE(chart.frameCount(), 0);
        QSignalSpy activated(&chart, &QualityMetricChartWidget::frameActivated);
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(200, 100));
        QCOMPARE(tooltipAt(chart, QPoint(200, 100)), QString());
        QCOMPARE(activated.count(), 0);
        QCOMPARE(chart.markedFrame(), std::nullopt);
    }

    void hitTestUsesOnlyTheFrameAxis() {
        QualityMetricChartWidget chart;
        vexilo::application::QualityResultStore store;
        chart.setQualityResultStore(&store);
        showSized(chart, 472, 234);  // plot 400 px wide
        for (std::int64_t frame = 0; frame <= 30; ++frame) {
            const bool measured = frame >= 10 && frame <= 20;
            setFramePoint(store, measured ? pointA(frame, 30.0)  // a flat line across the middle
                                         : FramePoint{frame, std::nullopt, std::nullopt});
        }
        QCOMPARE(chart.frameCount(), 31);
        QSignalSpy activated(&chart, &QualityMetricChartWidget::frameActivated);

        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(kPlotLeft, plotBottom(chart)));
        QCOMPARE(chart.markedFrame(), std::optional<std::int64_t>(10));
        QVERIFY(markerAt(grabImage(chart), kPlotLeft));
        QTest::mouseClick(&chart, Qt::RightButton, {}, QPoint(plotRight(chart), kPlotTop));
        QCOMPARE(chart.markedFrame(), std::optional<std::int64_t>(20));
        // Between frames 14 (x 214) and 15 (x 254): nearest wins; a tie goes to the earlier frame.
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(kPlotLeft + 40 * 4 + 21, 60));
        QCOMPARE(chart.markedFrame(), std::optional<std::int64_t>(15));
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(kPlotLeft + 40 * 4 + 20, 60));
        QCOMPARE(chart.markedFrame(), std::optional<std::int64_t>(14));
        const QImage image = grabImage(chart);
        QVERIFY(markerAt(image, kPlotLeft + 40 * 4));
        QVERIFY(!markerAt(image, kPlotLeft + 40 * 5));

        // Outside the plot nothing is hit.
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(kPlotLeft - 2, 60));
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(200, plotBottom(chart) + 3));
        QCOMPARE(activated.count(), 4);
        QCOMPARE(activated.at(0).at(0).value<std::int64_t>(), 10);
        QCOMPARE(activated.at(3).at(0).value<std::int64_t>(), 14);

        store.clear();
        QCOMPARE(chart.frameCount(), 0);
        QCOMPARE(chart.markedFrame(), std::nullopt);
    }

    void infinitePsnrSitsOnTheTopEdge() {
        QualityMetricChartWidget chart;
        vexilo::application::QualityResultStore store;
        chart.setQualityResultStore(&store);
        showSized(chart, 472, 234);  // plot 400 x 180
        const double values[] = {30.0, 35.0, kInfinity, 32.0, 31.0};
        for (std::int64_t frame = 0; frame < 5; ++frame) {
            FramePoint point = pointA(frame, values[frame]);
            point.a->all.psnr = values[frame];
            setFramePoint(store, point);
        }
        const QImage image = grabImage(chart);
        vexilo::test::saveScreenshot(image, QStringLiteral("quality_chart_infinite_psnr.png"));
        // Value range [30, 35] plus max(0.05 x 5, 1.0) of headroom for the infinite point.
        const auto yOf = [&](double value) {
            return static_cast<int>(std::lround(plotBottom(chart) - 180.0 * (value - 30.0) / 6.0));
        };
        QVERIFY(colourNear(image, QPoint(kPlotLeft + 200, kPlotTop), kSeriesAColour, 20, 1));
        QVERIFY(colourNear(image, QPoint(kPlotLeft + 100, yOf(35.0)), kSeriesAColour, 20, 1));
        QVERIFY(colourNear(image, QPoint(kPlotLeft + 300, yOf(32.0)), kSeriesAColour, 20, 1));
        QVERIFY(colourNear(image, QPoint(kPlotLeft, plotBottom(chart)), kSeriesAColour, 20, 1));

        QCOMPARE(tooltipAt(chart, QPoint(kPlotLeft + 190, 100)),
                 QStringLiteral("Frame 2\nA PSNR / All: inf\nB PSNR / All: N/A"));
        QCOMPARE(tooltipAt(chart, QPoint(kPlotLeft + 96, 170)),
                 QStringLiteral("Frame 1\nA PSNR / All: 35.000\nB PSNR / All: N/A"));
    }

    // The one pair a user asks for, and a value whose neighbours failed, have no line to show
    // them: each is a dot where the line would pass.
    void valuesWithoutNeighboursAreDots() {
        QualityMetricChartWidget chart;
        vexilo::application::QualityResultStore store;
        chart.setQualityResultStore(&store);
        showSized(chart, 472, 234);  // plot 400 px wide
        // A lone frame stands at the left edge of a range one frame wide.
        setFramePoint(store, FramePoint{3, metricsWithPsnr(40.0), metricsWithPsnr(20.0)});
        QImage image = grabImage(chart);
        vexilo::test::saveScreenshot(image, QStringLiteral("quality_chart_single_pair.png"));
        QVERIFY(colourNear(image, QPoint(kPlotLeft + 2, kPlotTop), kSeriesAColour, 20, 2));
        QVERIFY(colourNear(image, QPoint(kPlotLeft + 2, plotBottom(chart)), kSeriesBColour, 20, 2));
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(kPlotLeft + 150, 100));
        QCOMPARE(chart.markedFrame(), std::optional<std::int64_t>(3));

        store.clear();
        const FrameQualityMetrics failed = vexilo::media::makeFailedFrameQualityMetrics(
            QualityMetricStatus::MissingEncodedFrame, "frame missing");
        for (const FramePoint& point : {pointA(0, 30.0), FramePoint{1, failed, std::nullopt}, pointA(2, 35.0),
                                        FramePoint{3, failed, std::nullopt}, pointA(4, 30.0), pointA(5, 30.0)}) {
            setFramePoint(store, point);
        }
        image = grabImage(chart);
        QVERIFY(colourNear(image, QPoint(kPlotLeft + 160, kPlotTop), kSeriesAColour, 20, 2));
        QVERIFY(colourNear(image, QPoint(kPlotLeft + 2, plotBottom(chart)), kSeriesAColour, 20, 2));
        QVERIFY(colourNear(image, QPoint(kPlotLeft + 360, plotBottom(chart)), kSeriesAColour, 20, 1));
        // Between the dots nothing joins them.
        QVERIFY(!colourNear(image, QPoint(kPlotLeft + 80, plotBottom(chart) - 90), kSeriesAColour, 40, 3));
    }

    void tooltipNamesTheChosenMetric_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("plane");
        QTest::addColumn<int>("feature");
        QTest::addColumn<QString>("expected");
        const QString frame = QStringLiteral("Frame 7\n");
        QTest::newRow("PSNR Y") << 0 << 0 << 6 << frame + "A PSNR / Y: 40.000\nB PSNR / Y: 20.000";
        QTest::newRow("PSNR V") << 0 << 2 << 6 << frame + "A PSNR / V: 42.000\nB PSNR / V: 22.000";
        QTest::newRow("SSIM U") << 1 << 1 << 6 << frame + "A SSIM / U: 0.920\nB SSIM / U: 0.920";
        QTest::newRow("MSE plane out of range") << 2 << 9 << 6 << frame + "A MSE / All: 13.000\nB MSE / All: 13.000";
        QTest::newRow("kind out of range is MSE") << 7 << 3 << 6 << frame + "A MSE / All: 13.000\nB MSE / All: 13.000";
        QTest::newRow("VMAF score") << 3 << 0 << 6 << frame + "A VMAF / All: 87.500\nB VMAF / All: 87.500";
        QTest::newRow("VMAF negative feature") << 3 << 0 << -1 << frame + "A VMAF / All: 87.500\nB VMAF / All: 87.500";
        QTest::newRow("VMAF adm2") << 3 << 0 << 0 << frame + "A VMAF / adm2: 0.970\nB VMAF / adm2: 0.970";
        QTest::newRow("VMAF missing scale2") << 3 << 0 << 4 << QString();
        QTest::newRow("VMAF scale3") << 3 << 0 << 5 << frame + "A VMAF / scale3: 0.500\nB VMAF / scale3: 0.500";
    }

    void tooltipNamesTheChosenMetric() {
        QFETCH(int, kind);
        QFETCH(int, plane);
        QFETCH(int, feature);
        QFETCH(QString, expected);
        QualityMetricChartWidget chart;
        vexilo::application::QualityResultStore store;
        chart.setQualityResultStore(&store);
        showSized(chart, 472, 234);
        setFramePoint(store, FramePoint{7, metricsWithPsnr(40.0), metricsWithPsnr(20.0)});
        chart.setMetricKind(kind);
        chart.setMetricPlane(plane);
        chart.setVmafFeature(feature);
        QCOMPARE(tooltipAt(chart, QPoint(100, 100)), expected);
    }

    void failedOrHiddenSeriesGiveNoValues() {
        QualityMetricChartWidget chart;
        vexilo::application::QualityResultStore store;
        chart.setQualityResultStore(&store);
        showSized(chart, 472, 234);
        FrameQualityMetrics failed = vexilo::media::makeFailedFrameQualityMetrics(
            QualityMetricStatus::MissingEncodedFrame, "frame missing");
        setFramePoint(store, FramePoint{3, failed, failed});
        QSignalSpy activated(&chart, &QualityMetricChartWidget::frameActivated);
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(tooltipAt(chart, QPoint(100, 100)), QString());

        // A replacement result takes both sides, an absent side included.
        setFramePoint(store, FramePoint{3, metricsWithPsnr(40.0), std::nullopt});
        QCOMPARE(chart.frameCount(), 1);
        QCOMPARE(tooltipAt(chart, QPoint(100, 100)), QStringLiteral("Frame 3\nA PSNR / All: 43.000\nB PSNR / All: N/A"));
        chart.setSeriesAVisible(false);
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(tooltipAt(chart, QPoint(100, 100)), QString());
        QCOMPARE(activated.count(), 0);
    }

    void linesAreStrokedNeverFilled() {
        QualityMetricChartWidget chart;
        vexilo::application::QualityResultStore store;
        chart.setQualityResultStore(&store);
        showSized(chart, 472, 234);
        chart.setSeriesAVisible(false);
        const double values[] = {40.0, 20.0, 40.0};
        for (std::int64_t frame = 0; frame < 3; ++frame) {
            setFramePoint(store, FramePoint{frame, metricsWithPsnr(10.0), metricsWithPsnr(values[frame] - 3.0)});
        }
        const QImage image = grabImage(chart);
        vexilo::test::saveScreenshot(image, QStringLiteral("quality_chart_series_b.png"));
        const QColor base = chart.palette().color(QPalette::Base);
        QVERIFY(colourNear(image, QPoint(kPlotLeft + 200, plotBottom(chart)), kSeriesBColour, 20, 1));
        // Inside the V, between its arms: background.
        QVERIFY(vexilo::test::sameColour(image.pixelColor(kPlotLeft + 200, kPlotTop + 40), base, 0));
        QVERIFY(!colourNear(image, QPoint(kPlotLeft + 100, plotBottom(chart) - 90), kSeriesAColour, 40, 1));
    }

    void repaintsOnlyOnChange() {
        QualityMetricChartWidget chart;
        vexilo::application::QualityResultStore store;
        chart.setQualityResultStore(&store);
        showSized(chart, 472, 234);
        PaintCounter counter;
        chart.installEventFilter(&counter);
        QCoreApplication::processEvents();
        counter.paints = 0;
        chart.setMetricKind(1);
        QCoreApplication::processEvents();
        chart.setMetricKind(1);
        chart.setMetricPlane(3);
        chart.setVmafFeature(6);
        chart.setSeriesAVisible(true);
        chart.setSeriesBVisible(true);
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 1);
    }

    void screenshotOfMeasuredStreams() {
        const auto reference = vexilo::test::decodeTestClip("quality_high.hevc");
        const auto encoded = vexilo::test::decodeTestClip("quality_low.hevc");
        QVERIFY(!reference.empty());
        QCOMPARE(encoded.size(), reference.size());
        QualityMetricChartWidget chart;
        vexilo::application::QualityResultStore store;
        chart.setQualityResultStore(&store);
        showSized(chart, 640, 260);
        for (std::size_t index = 0; index < reference.size(); ++index) {
            // B is the reference measured against itself: identical, so its PSNR is infinite.
            setFramePoint(store, FramePoint{
                static_cast<std::int64_t>(index),
                vexilo::media::computeFrameQualityMetrics(reference[index].frame, encoded[index].frame),
                vexilo::media::computeFrameQualityMetrics(reference[index].frame, reference[index].frame)});
        }
        QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(kPlotLeft + 2 * (640 - 72) / 9, 120));
        QCOMPARE(chart.markedFrame(), std::optional<std::int64_t>(2));
        vexilo::test::saveScreenshot(grabImage(chart), QStringLiteral("quality_chart_psnr.png"));
        chart.setMetricKind(1);
        chart.setMetricPlane(0);
        vexilo::test::saveScreenshot(grabImage(chart), QStringLiteral("quality_chart_ssim_y.png"));
    }
};

VEXILO_QT_TEST(QualityMetricChartWidgetTest)
#include "QualityMetricChartWidgetTest.moc"
