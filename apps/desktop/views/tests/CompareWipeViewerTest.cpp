#include "ViewerTestSupport.h"
#include "vexilo/test/QtTestRegistry.h"
#include "vexilo/views/CompareWipeViewer.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using vexilo::CompareWipeViewer;

namespace {

QImage filled(QSize size, const QColor& colour)
{
    QImage image(size, QImage::Format_RGBA8888);
    image.fill(colour);
    return image;
}

const QColor kRed(220, 30, 30);
const QColor kBlue(30, 60, 220);
const QColor kLine(255, 230, 80);

}  // namespace

class CompareWipeViewerTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CompareWipeViewer> viewer_;

    // 640 x 360 pictures in an 800 x 600 widget: the fitted rectangle is (0, 75, 800, 450).
    CompareWipeViewer& showViewer(bool withB = true)
    {
        viewer_ = std::make_unique<CompareWipeViewer>();
        viewer_->resize(800, 600);
        viewer_->setImages(filled(QSize(640, 360), kRed), withB ? filled(QSize(320, 180), kBlue) : QImage(),
                           QStringLiteral("A: left  B: right"));
        viewer_->show();
        if (!QTest::qWaitForWindowExposed(viewer_.get())) {
            qFatal("wipe viewer window was not exposed");
        }
        return *viewer_;
    }

    static void moveMouse(CompareWipeViewer& viewer, QPointF point, Qt::MouseButtons buttons = Qt::NoButton)
    {
        QMouseEvent move(QEvent::MouseMove, point, viewer.mapToGlobal(point), Qt::NoButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&viewer, &move);
    }

private slots:
    void setsTheRatioWithinItsRangeAndTolerance()
    {
        CompareWipeViewer& viewer = showViewer();
        QCOMPARE(viewer.objectName(), QStringLiteral("compareWipeViewer"));
        QSignalSpy changed(&viewer, &CompareWipeViewer::wipeRatioChanged);
        viewer.setWipeRatio(1.7);
        QCOMPARE(viewer.wipeRatio(), 1.0);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toDouble(), 1.0);
        viewer.setWipeRatio(1.0);
        QCOMPARE(changed.count(), 1);
        viewer.setWipeRatio(0.5);
        viewer.setWipeRatio(0.50005);
        QCOMPARE(viewer.wipeRatio(), 0.5);
        QCOMPARE(changed.count(), 2);
        viewer.setWipeRatio(-3.0);
        QCOMPARE(viewer.wipeRatio(), 0.0);
    }

    void wipesAtThreeTenths()
    {
        CompareWipeViewer& viewer = showViewer();
        viewer.setWipeRatio(0.3);
        QCOMPARE(viewer.fittedRect(), QRectF(0, 75, 800, 450));
        const QImage grabbed = viewer.grab().toImage();
        // The line at x = 240: A left of it, B (stretched to A's rectangle) right of it.
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(100, 200), kRed);
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(236, 120), kRed);
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(244, 120), kBlue);
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(700, 500), kBlue);
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(240, 120), kLine);
        // The handle at the middle of the line, 7 x 18 radii.
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(245, 300), kLine);
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(249, 300), kBlue);
        // Outside the fitted rectangle only the window colour.
        QCOMPARE(grabbed.pixelColor(400, 40), viewer.palette().color(QPalette::Window));
        vexilo::test::saveScreenshot(grabbed, QStringLiteral("compare-wipe-viewer-0.3.png"));
    }

    void dragsTheLineFromCloseByOnly()
    {
        CompareWipeViewer& viewer = showViewer();
        QSignalSpy changed(&viewer, &CompareWipeViewer::wipeRatioChanged);
        // The line is at x = 400; 9 pixels away does not grab it.
        QTest::mousePress(&viewer, Qt::LeftButton, {}, QPoint(409, 300));
        moveMouse(viewer, QPointF(600, 300), Qt::LeftButton);
        QTest::mouseRelease(&viewer, Qt::LeftButton, {}, QPoint(600, 300));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(viewer.wipeRatio(), 0.5);

        moveMouse(viewer, QPointF(408, 300));
        QCOMPARE(viewer.cursor().shape(), Qt::SplitHCursor);
        QTest::mousePress(&viewer, Qt::LeftButton, {}, QPoint(408, 300));
        QCOMPARE(viewer.wipeRatio(), 0.51);
        moveMouse(viewer, QPointF(200, 300), Qt::LeftButton);
        QCOMPARE(viewer.wipeRatio(), 0.25);
        // Past the right edge the ratio stops at 1, so A fills the rectangle.
        moveMouse(viewer, QPointF(900, 300), Qt::LeftButton);
        QCOMPARE(viewer.wipeRatio(), 1.0);
        QTest::mouseRelease(&viewer, Qt::LeftButton, {}, QPoint(900, 300));
        moveMouse(viewer, QPointF(300, 300));
        QCOMPARE(viewer.wipeRatio(), 1.0);
        QCOMPARE(changed.count(), 3);
        VEXILO_COMPARE_COLOUR(viewer.grab().toImage().pixelColor(790, 300), kRed);
    }

    void oneImageHasNoLine()
    {
        CompareWipeViewer& viewer = showViewer(false);
        QSignalSpy changed(&viewer, &CompareWipeViewer::wipeRatioChanged);
        moveMouse(viewer, QPointF(400, 300));
        QCOMPARE(viewer.cursor().shape(), Qt::ArrowCursor);
        QTest::mousePress(&viewer, Qt::LeftButton, {}, QPoint(400, 300));
        moveMouse(viewer, QPointF(100, 300), Qt::LeftButton);
        QTest::mouseRelease(&viewer, Qt::LeftButton, {}, QPoint(100, 300));
        QCOMPARE(changed.count(), 0);
        const QImage grabbed = viewer.grab().toImage();
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(400, 120), kRed);
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(700, 120), kRed);
    }

    void clearShowsTheMessageWithoutCaption()
    {
        CompareWipeViewer& viewer = showViewer();
        QImage grabbed = viewer.grab().toImage();
        // The caption box: translucent black over the window above the picture.
        const QColor window = viewer.palette().color(QPalette::Window);
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(250, 16), vexilo::test::blended(QColor(0, 0, 0, 130), window));
        viewer.clear(QStringLiteral("Open A and B streams for wipe compare"));
        grabbed = viewer.grab().toImage();
        QCOMPARE(grabbed.pixelColor(250, 16), window);
        bool anyText = false;
        for (int x = 250; x < 550 && !anyText; ++x) {
            anyText = grabbed.pixelColor(x, 300) != window;
        }
        QVERIFY(anyText);
        QCOMPARE(viewer.wipeRatio(), 0.5);
    }
};

VEXILO_QT_TEST(CompareWipeViewerTest)
#include "CompareWipeViewerTest.moc"
