#include "ViewerTestSupport.h"
#include "vexilo/media/SampleConversion.h"
#include "vexilo/test/QtTestRegistry.h"
#include "vexilo/views/FrameViewer.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

using vexilo::FrameViewer;
using vexilo::analysis::StableId;
using vexilo::test::DocumentBuilder;
using vexilo::test::idOf;

namespace {

constexpr std::int64_t kPictureId = 7;
const QColor kBlack(0, 0, 0);
const QColor kCtuOutline(255, 210, 64, 220);
const QPointF kCtuEdge(100, 63);

// Every block the overlay tests draw, in a 256 x 256 black picture.
struct SampleDocument {
    DocumentBuilder builder{kPictureId};
    StableId ctu;
    StableId rootCu;
    StableId cuQp51;
    StableId cuQpLow;
    StableId cuQpUnknown;
    StableId cuInter;
    StableId tu;
    StableId interPu;
    StableId zeroPu;
    StableId vector;
    StableId zeroVector;

    SampleDocument()
    {
        for (int y = 0; y < 256; y += 64) {
            for (int x = 0; x < 256; x += 64) {
                const StableId id = builder.ctu(100 + static_cast<std::uint64_t>(y / 16 + x / 64), x, y);
                if (x == 128 && y == 128) {
                    ctu = id;
                }
            }
        }
        rootCu = builder.cu(200, ctu, DocumentBuilder::rect(128, 128, 64, 64), 30);
        cuQp51 = builder.cu(201, ctu, DocumentBuilder::rect(128, 128, 32, 32), 51, rootCu);
        cuQpLow = builder.cu(202, ctu, DocumentBuilder::rect(160, 128, 32, 32), -48, rootCu);
        cuQpUnknown = builder.cu(203, ctu, DocumentBuilder::rect(128, 160, 32, 32), std::nullopt, rootCu);
        cuInter = builder.cu(204, ctu, DocumentBuilder::rect(160, 160, 32, 32), 30, rootCu);
        tu = builder.tu(301, cuQp51, DocumentBuilder::rect(128, 128, 16, 16));
        interPu = builder.pu(401, cuInter, DocumentBuilder::rect(160, 160, 32, 32));
        zeroPu = builder.pu(402, cuQpLow, DocumentBuilder::rect(160, 128, 32, 32));
        // From the PU centre (176, 176) 100 samples to the right, beyond the blocks at x = 256.
        vector = builder.motionVector(501, interPu, 400, 0);
        zeroVector = builder.motionVector(502, zeroPu, 0, 0);
    }
};

// Wider than the 256 x 256 block grid, so that a strip of the picture has no block.
vexilo::domain::VideoFramePtr blackFrame(int width = 320, int height = 256)
{
    return vexilo::test::share(vexilo::test::makeFlatYuvFrame(width, height, 8, 16, 128, 128), kPictureId);
}

// A 4:4:4 picture in four quadrants: three flat colours (top-left, top-right, bottom-left) and,
// bottom right, columns alternating one sample wide between black and white.
struct QuadrantColour {
    std::uint32_t y;
    std::uint32_t u;
    std::uint32_t v;
};
constexpr std::array<QuadrantColour, 3> kFlatQuadrants{{{81, 90, 240}, {145, 54, 34}, {41, 240, 110}}};

vexilo::domain::VideoFramePtr quadrantFrame(int width, int height)
{
    vexilo::domain::VideoFrame frame =
        vexilo::test::makeFlatYuvFrame(width, height, 8, 16, 128, 128, vexilo::domain::ChromaFormat::Yuv444);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int quadrant = (y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0);
            const auto at = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x);
            if (quadrant == 3) {
                frame.planes[0].samples[at] = x % 2 == 0 ? 16 : 235;
                continue;
            }
            const QuadrantColour& colour = kFlatQuadrants[static_cast<std::size_t>(quadrant)];
            frame.planes[0].samples[at] = static_cast<std::uint8_t>(colour.y);
            frame.planes[1].samples[at] = static_cast<std::uint8_t>(colour.u);
            frame.planes[2].samples[at] = static_cast<std::uint8_t>(colour.v);
        }
    }
    return vexilo::test::share(std::move(frame), kPictureId);
}

std::array<bool, 7> allLayersOff() { return {}; }

void setLayers(FrameViewer& viewer, const std::array<bool, 7>& layers)
{
    viewer.setCtuOverlayEnabled(layers[0]);
    viewer.setCuOverlayEnabled(layers[1]);
    viewer.setTuOverlayEnabled(layers[2]);
    viewer.setPuOverlayEnabled(layers[3]);
    viewer.setQpMapOverlayEnabled(layers[4]);
    viewer.setMotionVectorOverlayEnabled(layers[5]);
    viewer.setQualityHeatmapOverlayEnabled(layers[6]);
}

vexilo::media::PlaneQualityMetrics availableMetrics(double psnr, double ssim, double mse)
{
    vexilo::media::PlaneQualityMetrics metrics;
    metrics.status = vexilo::media::QualityMetricStatus::Available;
    metrics.psnr = psnr;
    metrics.ssim = ssim;
    metrics.mse = mse;
    return metrics;
}

vexilo::media::RegionQualityMetrics heatCell(int x, int y, vexilo::media::PlaneQualityMetrics all)
{
    vexilo::media::RegionQualityMetrics cell;
    cell.x = x;
    cell.y = y;
    cell.width = 64;
    cell.height = 64;
    cell.allMetrics = std::move(all);
    return cell;
}

}  // namespace

class FrameViewerTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FrameViewer> viewer_;

    FrameViewer& showViewer(QSize size = QSize(800, 600))
    {
        viewer_ = std::make_unique<FrameViewer>();
        viewer_->resize(size);
        viewer_->show();
        if (!QTest::qWaitForWindowExposed(viewer_.get())) {
            qFatal("frame viewer window was not exposed");
        }
        return *viewer_;
    }

    // The grabbed pixel over an image sample.
    static QColor pixelAtSample(FrameViewer& viewer, const QImage& grabbed, QPointF sample)
    {
        const QPointF point = viewer.imageTargetRect().topLeft() + (sample + QPointF(0.5, 0.5)) * viewer.displayScale();
        return grabbed.pixelColor(static_cast<int>(std::floor(point.x())), static_cast<int>(std::floor(point.y())));
    }

    // The widget point over the top-left corner of a sample, at actual size.
    static QPoint pointAtSample(FrameViewer& viewer, QPointF sample)
    {
        const QPointF point = viewer.imageTargetRect().topLeft() + sample * viewer.displayScale();
        return {static_cast<int>(std::floor(point.x())), static_cast<int>(std::floor(point.y()))};
    }

    // Moves are sent straight to the widget: the first synthetic move into a fresh window is not
    // always delivered by the platform.
    static void moveMouse(FrameViewer& viewer, QPointF point, Qt::MouseButtons buttons = Qt::NoButton)
    {
        QMouseEvent move(QEvent::MouseMove, point, viewer.mapToGlobal(point), Qt::NoButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&viewer, &move);
    }

    FrameViewer& showSampleDocument(const SampleDocument& sample, const std::array<bool, 7>& layers)
    {
        FrameViewer& viewer = showViewer();
        viewer.setFrame(blackFrame(), 3);
        viewer.setAnalysis(sample.builder.share());
        viewer.showActualSize();
        setLayers(viewer, layers);
        return viewer;
    }

    // One square CU at (corner, corner) in the CTU at the origin, its dashed outline alone.
    FrameViewer& showOneCuOutline(int corner, int size)
    {
        DocumentBuilder builder{kPictureId};
        const StableId ctu = builder.ctu(100, 0, 0);
        builder.cu(200, ctu, DocumentBuilder::rect(corner, corner, size, size), 30);
        FrameViewer& viewer = showViewer();
        viewer.setFrame(blackFrame(), 3);
        viewer.setAnalysis(builder.share());
        std::array<bool, 7> layers = allLayersOff();
        layers[1] = true;
        setLayers(viewer, layers);
        return viewer;
    }

    // The sample document with its CTU outlines alone; a CTU edge crosses kCtuEdge.
    FrameViewer& showCtuOutlines(const SampleDocument& sample)
    {
        std::array<bool, 7> layers = allLayersOff();
        layers[0] = true;
        return showSampleDocument(sample, layers);
    }

private slots:
    void initTestCase() { vexilo::test::keepOpenGlDriverLoaded(); }

    void startsWithNoProjectOpened()
    {
        FrameViewer& viewer = showViewer();
        QCOMPARE(viewer.objectName(), QStringLiteral("frameViewer"));
        QCOMPARE(viewer.statusMessage(), QStringLiteral("No project opened"));
        QVERIFY(!viewer.hasFrame());
        QCOMPARE(viewer.minimumSize(), QSize(480, 270));
        QCOMPARE(viewer.focusPolicy(), Qt::StrongFocus);
        QCOMPARE(viewer.overlayStatusText(), QStringLiteral("Overlay inactive: no picture selected"));
        // The text is painted where the picture would be.
        const QImage grabbed = viewer.grabFramebuffer();
        bool anyText = false;
        const QColor background = grabbed.pixelColor(5, 5);
        for (int x = 300; x < 500 && !anyText; ++x) {
            anyText = grabbed.pixelColor(x, 300) != background;
        }
        QVERIFY(anyText);
    }

    void showsLimitedRangeBlackAndWhite()
    {
        FrameViewer& viewer = showViewer();
        QSignalSpy available(&viewer, &FrameViewer::frameAvailabilityChanged);
        vexilo::domain::VideoFrame frame = vexilo::test::makeFlatYuvFrame(64, 32, 8, 16, 128, 128);
        for (int y = 0; y < 32; ++y) {
            std::fill_n(frame.planes[0].samples.begin() + y * 64 + 32, 32, std::uint8_t{235});
        }
        viewer.setFrame(vexilo::test::share(frame), 0);
        QCOMPARE(available.count(), 1);
        QCOMPARE(available.at(0).at(0).toBool(), true);
        setLayers(viewer, allLayersOff());
        const QImage grabbed = viewer.grabFramebuffer();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {8, 16}), QColor(0, 0, 0));
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {56, 16}), QColor(255, 255, 255));
        QCOMPARE(viewer.displayImage().pixelColor(0, 0), QColor(0, 0, 0, 255));
        QCOMPARE(viewer.displayImage().pixelColor(63, 0), QColor(255, 255, 255, 255));
    }

    void choosesTheMatrixByFrameSizeWhenUnspecified_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("bt709");
        QTest::newRow("1920x1080") << 1920 << 1080 << true;
        QTest::newRow("720x576") << 720 << 576 << false;
        QTest::newRow("720x577") << 720 << 577 << true;
    }

    void choosesTheMatrixByFrameSizeWhenUnspecified()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, bt709);
        FrameViewer& viewer = showViewer();
        setLayers(viewer, allLayersOff());
        viewer.setFrame(vexilo::test::share(vexilo::test::makeFlatYuvFrame(width, height, 8, 81, 90, 240)), 0);
        const auto colour709 = vexilo::media::yuvToRgbExact(81, 90, 240, {8, false, vexilo::media::kBt709Coefficients});
        const auto colour601 = vexilo::media::yuvToRgbExact(81, 90, 240, {8, false, vexilo::media::kBt601Coefficients});
        QVERIFY(colour709 != colour601);
        const auto& expected = bt709 ? colour709 : colour601;
        const QColor shown = pixelAtSample(viewer, viewer.grabFramebuffer(), {width / 2.0, height / 2.0});
        QCOMPARE(shown, QColor(expected[0], expected[1], expected[2]));
    }

    void scalesGreyComponentsOfEachBitDepth_data()
    {
        QTest::addColumn<int>("bitDepth");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("u");
        QTest::addColumn<int>("v");
        QTest::addColumn<QList<int>>("greys");
        QTest::newRow("8-bit") << 8 << 200 << 16 << 255 << QList<int>{200, 16, 255};
        QTest::newRow("10-bit") << 10 << 1023 << 512 << 4 << QList<int>{255, 128, 1};
        QTest::newRow("12-bit") << 12 << 4095 << 2048 << 0 << QList<int>{255, 128, 0};
    }

    void scalesGreyComponentsOfEachBitDepth()
    {
        QFETCH(int, bitDepth);
        QFETCH(int, y);
        QFETCH(int, u);
        QFETCH(int, v);
        QFETCH(QList<int>, greys);
        FrameViewer& viewer = showViewer();
        setLayers(viewer, allLayersOff());
        viewer.setFrame(vexilo::test::share(vexilo::test::makeFlatYuvFrame(
                            64, 64, bitDepth, static_cast<std::uint32_t>(y), static_cast<std::uint32_t>(u),
                            static_cast<std::uint32_t>(v))),
                        0);
        const std::array<void (FrameViewer::*)(), 3> components{
            &FrameViewer::showLumaComponent, &FrameViewer::showUComponent, &FrameViewer::showVComponent};
        for (std::size_t component = 0; component < components.size(); ++component) {
            (viewer.*components[component])();
            const int grey = greys[static_cast<qsizetype>(component)];
            QCOMPARE(pixelAtSample(viewer, viewer.grabFramebuffer(), {32, 32}), QColor(grey, grey, grey));
        }
        viewer.showCombinedComponents();
        QVERIFY(viewer.hasFrame());
    }

    // A picture larger than the viewer is shown smaller: each flat region keeps its colour up to
    // a few pixels from its edge, and a pattern finer than a pixel shows as its average grey.
    void fittedLargePictureKeepsColoursInPlace_data()
    {
        QTest::addColumn<QSize>("pictureSize");
        QTest::addColumn<QSize>("viewerSize");
        QTest::newRow("1080p at 0.42") << QSize(1920, 1080) << QSize(800, 600);
        QTest::newRow("1440p at 0.19") << QSize(2560, 1440) << QSize(480, 270);
    }

    void fittedLargePictureKeepsColoursInPlace()
    {
        QFETCH(QSize, pictureSize);
        QFETCH(QSize, viewerSize);
        FrameViewer& viewer = showViewer(viewerSize);
        setLayers(viewer, allLayersOff());
        viewer.setFrame(quadrantFrame(pictureSize.width(), pictureSize.height()), 0);
        QVERIFY(viewer.displayScale() < 0.5);
        const QImage grabbed = viewer.grabFramebuffer();
        const double halfWidth = pictureSize.width() / 2.0;
        const double halfHeight = pictureSize.height() / 2.0;
        // Far enough from an edge that the nearest other region lies six pixels away.
        const double margin = 6.0 / viewer.displayScale();
        for (std::size_t quadrant = 0; quadrant < kFlatQuadrants.size(); ++quadrant) {
            const QuadrantColour& colour = kFlatQuadrants[quadrant];
            const auto rgb = vexilo::media::yuvToRgbExact(colour.y, colour.u, colour.v,
                                                          {8, false, vexilo::media::kBt709Coefficients});
            const QColor expected(rgb[0], rgb[1], rgb[2]);
            const double left = quadrant % 2 == 0 ? 0.0 : halfWidth;
            const double top = quadrant < 2 ? 0.0 : halfHeight;
            for (const QPointF corner : {QPointF(margin, margin), QPointF(halfWidth - margin, margin),
                                         QPointF(margin, halfHeight - margin),
                                         QPointF(halfWidth - margin, halfHeight - margin),
                                         QPointF(halfWidth / 2, halfHeight / 2)}) {
                VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, QPointF(left, top) + corner), expected);
            }
        }
        const QPoint fineStart = pointAtSample(viewer, {halfWidth * 1.25, halfHeight * 1.5});
        for (int x = fineStart.x(); x < fineStart.x() + 24; ++x) {
            const QColor fine = grabbed.pixelColor(x, fineStart.y());
            QVERIFY2(vexilo::test::closeTo(fine, QColor(128, 128, 128), 12),
                     qPrintable(QStringLiteral("x %1: ").arg(x) + vexilo::test::describe(fine)));
        }
        vexilo::test::saveScreenshot(grabbed, QStringLiteral("frame-viewer-fitted-%1x%2.png")
                                                  .arg(pictureSize.width())
                                                  .arg(pictureSize.height()));
    }

    void refusesUnusableFramesWithTheirReason_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("size") << 0 << "Frame dimensions must be positive";
        QTest::newRow("packed format") << 1 << "Unsupported display pixel format: bgra";
        QTest::newRow("packed stride") << 2 << "Frame stride is smaller than one RGBA row";
        QTest::newRow("packed buffer") << 3 << "Frame buffer is smaller than its dimensions and stride require";
        QTest::newRow("two planes") << 4 << "YUV frame must contain Y, U and V planes";
        QTest::newRow("plane size") << 5 << "YUV plane dimensions must be positive";
        QTest::newRow("plane stride") << 6 << "YUV plane stride is smaller than one sample row";
        QTest::newRow("plane buffer") << 7 << "YUV plane buffer is smaller than dimensions require";
        QTest::newRow("negative stride") << 8 << "YUV plane buffer is smaller than dimensions require";
        QTest::newRow("missing plane") << 9 << "YUV frame is missing one or more planes";
    }

    void refusesUnusableFramesWithTheirReason()
    {
        QFETCH(int, fault);
        QFETCH(QString, message);
        vexilo::domain::VideoFrame packed;
        packed.width = 16;
        packed.height = 8;
        packed.pixelFormatName = "rgba8";
        packed.packedStride = 64;
        packed.packedData.assign(64 * 8, 0xFF);
        const vexilo::domain::VideoFrame valid = vexilo::test::makeFlatYuvFrame(16, 8, 8, 16, 128, 128);
        vexilo::domain::VideoFrame planar = valid;
        vexilo::domain::VideoFrame* frame = fault <= 3 ? &packed : &planar;
        switch (fault) {
        case 0: packed.height = 0; break;
        case 1: packed.pixelFormatName = "bgra"; break;
        case 2: packed.packedStride = 60; break;
        case 3: packed.packedData.resize(64 * 8 - 1); break;
        case 4: planar.planes.pop_back(); break;
        case 5: planar.planes[1].bytesPerSample = 0; break;
        case 6: planar.planes[0].stride = 15; break;
        case 7: planar.planes[2].samples.pop_back(); break;
        case 8: planar.planes[0].stride = -16; break;
        case 9: planar.planes[2].planeIndex = 1; break;
        default: break;
        }
        FrameViewer& viewer = showViewer();
        viewer.setFrame(vexilo::test::share(valid), 0);
        QVERIFY(viewer.hasFrame());
        QSignalSpy available(&viewer, &FrameViewer::frameAvailabilityChanged);
        QSignalSpy transform(&viewer, &FrameViewer::viewTransformChanged);
        viewer.setFrame(vexilo::test::share(*frame), 0);
        QVERIFY(!viewer.hasFrame());
        QCOMPARE(viewer.statusMessage(), message);
        QCOMPARE(available.count(), 1);
        QCOMPARE(available.at(0).at(0).toBool(), false);
        QCOMPARE(transform.count(), 1);
    }

    void showsPackedFramesWithoutConversion()
    {
        FrameViewer& viewer = showViewer();
        setLayers(viewer, allLayersOff());
        vexilo::domain::VideoFrame packed;
        packed.width = 4;
        packed.height = 2;
        packed.pixelFormatName = "rgba8";
        packed.packedStride = 20;
        packed.packedData.assign(40, 0);
        for (std::size_t pixel = 0; pixel < 8; ++pixel) {
            const std::size_t at = (pixel / 4) * 20 + (pixel % 4) * 4;
            packed.packedData[at] = 10;
            packed.packedData[at + 1] = 200;
            packed.packedData[at + 2] = 30;
            packed.packedData[at + 3] = 255;
        }
        viewer.setFrame(vexilo::test::share(packed), 0);
        QVERIFY(viewer.hasFrame());
        QCOMPARE(viewer.displayImage().pixelColor(3, 1), QColor(10, 200, 30));
        QCOMPARE(pixelAtSample(viewer, viewer.grabFramebuffer(), {2, 1}), QColor(10, 200, 30));
    }

    // The image handed out (to the wipe view) outlives a packed frame whose memory the viewer's
    // image wraps, and shares a converted frame's pixels rather than copying them.
    void theDisplayImageOutlivesAPackedFrameAndSharesAConvertedOne()
    {
        FrameViewer& viewer = showViewer();
        vexilo::domain::VideoFrame packed;
        packed.width = 2;
        packed.height = 1;
        packed.pixelFormatName = "rgba8";
        packed.packedStride = 8;
        packed.packedData = {10, 200, 30, 255, 10, 200, 30, 255};
        viewer.setFrame(vexilo::test::share(packed), 0);
        const QImage handedOut = viewer.displayImage();
        viewer.setFrame(vexilo::test::share(vexilo::test::makeFlatYuvFrame(16, 8, 8, 16, 128, 128)), 1);
        QCOMPARE(handedOut.pixelColor(1, 0), QColor(10, 200, 30));

        const QImage first = viewer.displayImage();
        QCOMPARE(viewer.displayImage().constBits(), first.constBits());
        QCOMPARE(first.pixelColor(0, 0), QColor(0, 0, 0, 255));
    }

    void zoomsFromTheFittedScaleAndClamps()
    {
        FrameViewer& viewer = showViewer();
        QSignalSpy transform(&viewer, &FrameViewer::viewTransformChanged);
        viewer.fitToWindow();
        viewer.zoomIn();
        QCOMPARE(transform.count(), 0);

        viewer.setFrame(blackFrame(1600, 1200), 0);
        const double fitted = viewer.displayScale();
        QCOMPARE(fitted, 0.5);
        viewer.zoomIn();
        QCOMPARE(viewer.viewMode(), FrameViewer::CustomZoom);
        QCOMPARE(viewer.zoomFactor(), 0.5 * viewer.devicePixelRatioF() * 1.25);
        for (int step = 0; step < 40; ++step) {
            viewer.zoomIn();
        }
        QCOMPARE(viewer.zoomFactor(), 64.0);
        for (int step = 0; step < 80; ++step) {
            viewer.zoomOut();
        }
        QCOMPARE(viewer.zoomFactor(), 0.01);

        QWheelEvent wheel(QPointF(100, 100), viewer.mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&viewer, &wheel);
        QCOMPARE(viewer.zoomFactor(), 0.0125);

        transform.clear();
        viewer.setViewTransform(FrameViewer::CustomZoom, 100.0, QPointF(5, 6));
        QCOMPARE(viewer.zoomFactor(), 64.0);
        QCOMPARE(viewer.panOffset(), QPointF(5, 6));
        QCOMPARE(transform.count(), 0);
        viewer.showActualSize();
        QCOMPARE(viewer.zoomFactor(), 1.0);
        QCOMPARE(viewer.panOffset(), QPointF());
        viewer.fitToWindow();
        QCOMPARE(viewer.viewMode(), FrameViewer::FitToWindow);
        QCOMPARE(transform.count(), 2);
    }

    void clearFrameKeepsTheHeatmapAndSetFrameDropsIt()
    {
        FrameViewer& viewer = showViewer();
        viewer.setFrame(blackFrame(), 0);
        viewer.setQualityHeatmap({heatCell(0, 0, availableMetrics(30, 0.9, 10))}, QStringLiteral("A quality"));
        QVERIFY(viewer.overlayStatusText().endsWith(QStringLiteral("Quality=1")));
        QSignalSpy available(&viewer, &FrameViewer::frameAvailabilityChanged);
        viewer.clearFrame(QStringLiteral("Decoding"));
        QCOMPARE(viewer.statusMessage(), QStringLiteral("Decoding"));
        QCOMPARE(available.count(), 1);
        QCOMPARE(viewer.qualityHeatmapCells().size(), std::size_t{1});
        viewer.setFrame(blackFrame(), 0);
        QVERIFY(viewer.qualityHeatmapCells().empty());
        QCOMPARE(viewer.overlayStatusText(), QStringLiteral("Overlay data unavailable: run Tools > Analyze Stream first"));
    }

    void drawsEachOutlineLayerInItsColour_data()
    {
        QTest::addColumn<int>("layer");
        QTest::addColumn<QPointF>("sample");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("CTU") << 0 << QPointF(100, 63) << QColor(255, 210, 64, 220);
        QTest::newRow("CU") << 1 << QPointF(130, 128) << QColor(48, 170, 255, 220);
        QTest::newRow("TU") << 2 << QPointF(129, 128) << QColor(170, 96, 255, 220);
        QTest::newRow("PU") << 3 << QPointF(160, 178) << QColor(64, 230, 128, 220);
    }

    void drawsEachOutlineLayerInItsColour()
    {
        QFETCH(int, layer);
        QFETCH(QPointF, sample);
        QFETCH(QColor, colour);
        SampleDocument document;
        std::array<bool, 7> layers = allLayersOff();
        layers[static_cast<std::size_t>(layer)] = true;
        FrameViewer& viewer = showSampleDocument(document, layers);
        const QImage grabbed = viewer.grabFramebuffer();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, sample), vexilo::test::blended(colour, kBlack));
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, QPointF(136, 150)), kBlack);
    }

    void outlinesMoveWithThePan()
    {
        SampleDocument document;
        FrameViewer& viewer = showCtuOutlines(document);
        const QColor ctu = vexilo::test::blended(kCtuOutline, kBlack);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, viewer.grabFramebuffer(), kCtuEdge), ctu);
        for (const QPointF pan : {QPointF(37, -21), QPointF(-80, 44)}) {
            viewer.setViewTransform(FrameViewer::ActualSize, 1.0, pan);
            const QImage grabbed = viewer.grabFramebuffer();
            VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {100, 63}), ctu);
            VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {100, 70}), kBlack);
        }
    }

    // A dashed outline's pattern runs on around the corner: a CU outline of pen width 2 dashes
    // 8 pixels on and 4 off, so its right edge, 64 pixels into the pattern, starts 4 pixels
    // into a dash and breaks after them.
    void dashedOutlinesRunOnAroundTheCorner()
    {
        FrameViewer& viewer = showOneCuOutline(0, 64);
        viewer.showActualSize();
        const QImage grabbed = viewer.grabFramebuffer();
        const QColor dash = vexilo::test::blended(QColor(48, 170, 255, 220), kBlack);
        // Top edge, from the left corner: on, off, on.
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {2, 0}), dash);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {9, 0}), kBlack);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {13, 0}), dash);
        // Right edge, from the top: the rest of the dash, a gap, the next dash.
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {63, 2}), dash);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {63, 5}), kBlack);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {63, 10}), dash);
    }

    // A zoom step draws the layer anew at the new scale: the outlines land on the new edges and
    // nothing of the previous scale's outlines is left, rows that held them included (at twice
    // the scale, the old edge rows fall half-way into the CTUs).
    void zoomStepsRedrawOutlinesWithoutTheOldOnes()
    {
        SampleDocument document;
        FrameViewer& viewer = showCtuOutlines(document);
        const QColor ctu = vexilo::test::blended(kCtuOutline, kBlack);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, viewer.grabFramebuffer(), kCtuEdge), ctu);
        for (const double zoom : {2.0, 1.5, 2.0}) {
            viewer.setViewTransform(FrameViewer::CustomZoom, zoom, QPointF());
            const QImage grabbed = viewer.grabFramebuffer();
            VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {100, 63.8}), ctu);
            for (double x = 8; x < 250; x += 7) {
                if (std::abs(std::remainder(x, 64.0)) < 4.0) {
                    continue;
                }
                for (const double y : {32.0, 42.5, 85.0}) {
                    VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {x, y}), kBlack);
                }
            }
        }
    }

    // Picture and layer live in textures between paints: every change must reach the screen,
    // whether the new image has the old size (updated in place) or not (texture remade).
    void repaintsFollowEveryChangeOfPictureAndLayers()
    {
        SampleDocument document;
        FrameViewer& viewer = showSampleDocument(document, allLayersOff());
        const QColor white(255, 255, 255);
        const QColor ctu = vexilo::test::blended(kCtuOutline, kBlack);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, viewer.grabFramebuffer(), kCtuEdge), kBlack);

        viewer.setFrame(vexilo::test::share(vexilo::test::makeFlatYuvFrame(320, 256, 8, 235, 128, 128), kPictureId), 3);
        viewer.showActualSize();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, viewer.grabFramebuffer(), {100, 63}), white);
        viewer.showUComponent();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, viewer.grabFramebuffer(), {100, 63}), QColor(128, 128, 128));
        viewer.showCombinedComponents();

        viewer.setCtuOverlayEnabled(true);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, viewer.grabFramebuffer(), {100, 63}),
                              vexilo::test::blended(kCtuOutline, white));
        viewer.setFrame(blackFrame(), 3);
        viewer.setAnalysis(document.builder.share());
        viewer.showActualSize();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, viewer.grabFramebuffer(), {100, 63}), ctu);
        viewer.setCtuOverlayEnabled(false);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, viewer.grabFramebuffer(), {100, 63}), kBlack);

        // A smaller picture: the old texture's size must not linger.
        viewer.setFrame(vexilo::test::share(vexilo::test::makeFlatYuvFrame(64, 32, 8, 235, 128, 128), kPictureId), 3);
        viewer.showActualSize();
        const QImage small = viewer.grabFramebuffer();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, small, {63, 31}), white);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, small, {64, 16}), small.pixelColor(2, 2));
    }

    // A widget moved into another window gets a new GL context: the picture and its layer
    // are drawn again from fresh textures.
    void keepsDrawingAfterMovingToAnotherWindow()
    {
        SampleDocument document;
        FrameViewer& viewer = showCtuOutlines(document);
        const QColor ctu = vexilo::test::blended(kCtuOutline, kBlack);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, viewer.grabFramebuffer(), kCtuEdge), ctu);

        QWidget window;
        window.resize(900, 700);
        viewer.setParent(&window);
        viewer.move(0, 0);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QImage grabbed = viewer.grabFramebuffer();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {100, 63}), ctu);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {100, 70}), kBlack);
        viewer.setParent(nullptr);
    }

    void paintsQpHuesAndUnknownQpGrey()
    {
        SampleDocument document;
        std::array<bool, 7> layers = allLayersOff();
        layers[4] = true;
        FrameViewer& viewer = showSampleDocument(document, layers);
        const QImage grabbed = viewer.grabFramebuffer();
        // The root CU (QP 30) lies under its children: their fills are blended over it.
        const QColor root = vexilo::test::blended(QColor::fromHsvF((1.0F - 78.0F / 99.0F) * 240.0F / 360.0F, 0.85F,
                                                                    0.95F, 0.42F),
                                                  kBlack);
        const QColor red = QColor::fromHsvF(0.0F, 0.85F, 0.95F, 0.42F);
        const QColor blue = QColor::fromHsvF(240.0F / 360.0F, 0.85F, 0.95F, 0.42F);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {144, 144}), vexilo::test::blended(red, root));
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {176, 144}), vexilo::test::blended(blue, root));
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {144, 176}),
                              vexilo::test::blended(QColor(120, 120, 120, 105), root));
        QVERIFY(viewer.overlayStatusText().startsWith(QStringLiteral("Overlay ready: CTU=16 CU=5 TU=1 PU=2 QP blocks=5")));
        QCOMPARE(viewer.overlays().qpKnownCount(), 4U);
        QCOMPARE(viewer.overlays().qpUnknownCount(), 1U);
        vexilo::test::saveScreenshot(grabbed, QStringLiteral("frame-viewer-qp-map.png"));
    }

    void paintsHeatmapCellsByMetric()
    {
        SampleDocument document;
        std::array<bool, 7> layers = allLayersOff();
        layers[6] = true;
        FrameViewer& viewer = showSampleDocument(document, layers);
        vexilo::media::RegionQualityMetrics failed = heatCell(128, 0, {});
        failed.allMetrics.status = vexilo::media::QualityMetricStatus::FormatMismatch;
        viewer.setQualityHeatmap({heatCell(0, 128, availableMetrics(std::numeric_limits<double>::infinity(), 1.0, 0.0)),
                                  heatCell(64, 128, availableMetrics(20.0, 0.5, 100.0)), failed},
                                 QStringLiteral("A quality"));
        QImage grabbed = viewer.grabFramebuffer();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {32, 160}), vexilo::test::blended(QColor(0, 210, 90, 125), kBlack));
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {96, 160}),
                              vexilo::test::blended(QColor::fromRgbF(1.0F, 0.0F, 0.08F, 0.48F), kBlack));
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {160, 32}), vexilo::test::blended(QColor(120, 120, 120, 105), kBlack));

        viewer.setQualityHeatmapMetricKind(FrameViewer::Ssim);
        grabbed = viewer.grabFramebuffer();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {32, 160}),
                              vexilo::test::blended(QColor::fromRgbF(0.0F, 1.0F, 0.08F, 0.48F), kBlack));
        viewer.setQualityHeatmapMetricKind(FrameViewer::Mse);
        grabbed = viewer.grabFramebuffer();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {96, 160}),
                              vexilo::test::blended(QColor::fromRgbF(1.0F, 0.0F, 0.08F, 0.48F), kBlack));
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {32, 160}),
                              vexilo::test::blended(QColor::fromRgbF(0.0F, 1.0F, 0.08F, 0.48F), kBlack));
    }

    void drawsAMotionVectorArrowAndAZeroVectorCircle()
    {
        SampleDocument document;
        std::array<bool, 7> layers = allLayersOff();
        layers[5] = true;
        FrameViewer& viewer = showSampleDocument(document, layers);
        const QImage grabbed = viewer.grabFramebuffer();
        const QColor red = vexilo::test::blended(QColor(255, 80, 80, 230), kBlack);
        // The shaft from (176, 176) to (276, 176), and nothing beside it.
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {230, 176}), red);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {230, 172}), kBlack);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {284, 176}), kBlack);
        // The head: two strokes back from the tip, 8 pixels long at this scale.
        const double spread = 0.45 * 8.0;
        QVERIFY(pixelAtSample(viewer, grabbed, {276 - 4, 176 - spread / 2}).red() > 100);
        QVERIFY(pixelAtSample(viewer, grabbed, {276 - 4, 176 + spread / 2 - 1}).red() > 100);
        // The zero vector at (176, 144): a circle of radius 2, nearly empty in the middle (the
        // pen, 1 to 3 pixels from the centre, covers a fifth of the pixels there).
        QVERIFY(pixelAtSample(viewer, grabbed, {176, 142}).red() > 100);
        QVERIFY(pixelAtSample(viewer, grabbed, {176, 144}).red() < 60);
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {176, 147}), kBlack);
        QCOMPARE(viewer.overlays().motionVectors().size(), std::size_t{2});
        QCOMPARE(viewer.overlays().motionVectors()[0].delta, QPointF(100, 0));
    }

    // The layer is drawn antialiased: along a slanting arrow the pixels at its edges take part of
    // its colour, between the black picture and the full colour, at actual size and zoomed in.
    // Without antialiasing every pixel is one or the other, and the shaft steps like a staircase.
    void slantingArrowsAreAntialiased_data()
    {
        QTest::addColumn<double>("zoom");
        QTest::newRow("actual size") << 1.0;
        QTest::newRow("four times") << 4.0;
    }

    void slantingArrowsAreAntialiased()
    {
        QFETCH(double, zoom);
        DocumentBuilder builder{kPictureId};
        const StableId ctu = builder.ctu(100, 64, 64);
        const StableId cu = builder.cu(200, ctu, DocumentBuilder::rect(64, 64, 32, 32), std::nullopt);
        const StableId pu = builder.pu(300, cu, DocumentBuilder::rect(64, 64, 32, 32));
        // From the PU centre (80, 80) to (120, 105), and a steeper one of L1 down to (95, 120).
        builder.motionVector(400, pu, 160, 100);
        builder.motionVector(401, pu, 60, 160, vexilo::analysis::ReferenceList::L1);
        FrameViewer& viewer = showViewer();
        viewer.setFrame(blackFrame(), 3);
        viewer.setAnalysis(builder.share());
        // The arrows' middle at the widget's centre; the picture's centre is (160, 128).
        viewer.setViewTransform(FrameViewer::CustomZoom, zoom, QPointF(60, 28) * zoom);
        std::array<bool, 7> layers = allLayersOff();
        layers[5] = true;
        setLayers(viewer, layers);
        const QImage grabbed = viewer.grabFramebuffer();
        // For a person to look at: the arrows over dashed CU and PU outlines and a grey QP block.
        setLayers(viewer, {false, true, false, true, true, true, false});
        vexilo::test::saveScreenshot(viewer.grabFramebuffer(),
                                     QStringLiteral("frame-viewer-antialiased-zoom-%1.png").arg(zoom));

        const int fullRed = vexilo::test::blended(QColor(255, 80, 80, 230), kBlack).red();
        const QPoint from = pointAtSample(viewer, {80, 80});
        const QPoint to = pointAtSample(viewer, {120, 105});
        int columns = 0;
        int softColumns = 0;
        // The shaft's first half, well before the head: each column of pixels across it.
        for (int x = from.x() + 2; x < (from.x() + to.x()) / 2; ++x) {
            const double lineY = from.y() + (x + 0.5 - from.x()) * (to.y() - from.y()) / (to.x() - from.x());
            bool soft = false;
            for (int y = static_cast<int>(lineY) - 4; y <= static_cast<int>(lineY) + 4; ++y) {
                const int red = grabbed.pixelColor(x, y).red();
                soft = soft || (red > 20 && red < fullRed - 20);
            }
            ++columns;
            softColumns += soft ? 1 : 0;
        }
        QVERIFY(columns >= 10);
        QVERIFY2(softColumns * 10 >= columns * 9, qPrintable(QStringLiteral("%1 of %2").arg(softColumns).arg(columns)));
    }

    // At a scale where edges and dash ends fall between pixels, those pixels take the share of
    // the outline's colour that the pen covers, as the painter's antialiasing would give them.
    void dashedOutlinesBetweenPixelsAreAntialiased()
    {
        FrameViewer& viewer = showOneCuOutline(16, 32);
        viewer.setViewTransform(FrameViewer::CustomZoom, 1.3, QPointF(0.45, 0.2));
        const QImage grabbed = viewer.grabFramebuffer();
        vexilo::test::saveScreenshot(grabbed, QStringLiteral("frame-viewer-antialiased-dashes-zoom-1.3.png"));

        // The top edge's pen, two pixels wide, covers one row whole and parts of the two beside it.
        const QRectF target = viewer.imageTargetRect();
        const double edgeY = target.top() + 16 * viewer.displayScale();
        const int middle = static_cast<int>(std::floor(edgeY));
        const int fullBlue = vexilo::test::blended(QColor(48, 170, 255, 220), kBlack).blue();
        const auto partly = [&](int x, int y) {
            const int blue = grabbed.pixelColor(x, y).blue();
            return blue > 20 && blue < fullBlue - 20;
        };
        int dashEnds = 0;
        int sides = 0;
        for (int x = static_cast<int>(target.left() + 18 * viewer.displayScale());
             x < static_cast<int>(target.left() + 46 * viewer.displayScale()); ++x) {
            dashEnds += partly(x, middle) ? 1 : 0;
            sides += partly(x, middle - 1) && partly(x, middle + 1) ? 1 : 0;
        }
        // 36 pixels of a pattern 8 on and 4 off: at least five dash ends between pixels.
        QVERIFY2(dashEnds >= 5, qPrintable(QString::number(dashEnds)));
        QVERIFY2(sides >= 12, qPrintable(QString::number(sides)));
    }

    // Zoomed in, the layer covers the widget and an arrow runs off its left side: the part in
    // view is drawn up to the widget's edge, the rest is cut there.
    void arrowsLeavingTheViewAreCutAtItsEdge()
    {
        SampleDocument document;
        std::array<bool, 7> layers = allLayersOff();
        layers[5] = true;
        FrameViewer& viewer = showSampleDocument(document, layers);
        // Sample (240, 176) at the widget's centre, eight pixels a sample: the shaft from sample
        // 176 to 276 spans widget x -112 to 688 on row 300.
        viewer.setViewTransform(FrameViewer::CustomZoom, 8.0, QPointF(-640, -384));
        QCOMPARE(pointAtSample(viewer, {240, 176}), QPoint(400, 300));
        const QImage grabbed = viewer.grabFramebuffer();
        const QColor red = vexilo::test::blended(QColor(255, 80, 80, 230), kBlack);
        for (const int x : {0, 1, 400, 680}) {
            VEXILO_COMPARE_COLOUR(grabbed.pixelColor(x, 300), red);
        }
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(0, 296), kBlack);
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(720, 300), kBlack);
        // What lies off the left must not wrap round to the end of the rows above.
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(790, 298), kBlack);
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(790, 299), kBlack);
    }

    void legendFollowsTheLayers()
    {
        FrameViewer& viewer = showViewer();
        viewer.setFrame(blackFrame(), 0);
        viewer.showActualSize();
        QCOMPARE(viewer.overlayStatusText(), QStringLiteral("Overlay data unavailable: run Tools > Analyze Stream first"));
        QImage grabbed = viewer.grabFramebuffer();
        VEXILO_COMPARE_COLOUR(grabbed.pixelColor(14, 14), vexilo::test::blended(QColor(0, 0, 0, 145), viewer.palette().color(QPalette::Window)));
        vexilo::analysis::StreamAnalysis other;
        other.id = idOf(9);
        viewer.setAnalysis(std::make_shared<const vexilo::analysis::StreamAnalysis>(other));
        QCOMPARE(viewer.overlayStatusText(),
                 QStringLiteral("Overlay data unavailable for enabled layers on this picture: run Tools > Analyze "
                                "Current Picture Structure"));
        setLayers(viewer, allLayersOff());
        QCOMPARE(viewer.overlayStatusText(), QStringLiteral("Overlay inactive: all layers disabled"));
        grabbed = viewer.grabFramebuffer();
        QCOMPARE(grabbed.pixelColor(14, 14), viewer.palette().color(QPalette::Window));
    }

    void selectingACuOutlinesItsFamily()
    {
        SampleDocument document;
        std::array<bool, 7> layers = allLayersOff();
        layers[0] = true;
        FrameViewer& viewer = showSampleDocument(document, layers);
        const auto highlighted = viewer.overlays().recordsHighlightedBy(document.rootCu);
        std::vector<StableId> ids;
        for (const std::uint32_t index : highlighted) {
            ids.push_back(viewer.overlays().records()[index].objectId);
        }
        // Itself as CU and QP block, its four child CUs twice each; TUs and PUs hang below the children.
        QCOMPARE(ids.size(), std::size_t{10});
        viewer.setSelectedObject(document.cuQp51);
        const QImage grabbed = viewer.grabFramebuffer();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {140, 127}), QColor(255, 255, 255));
        // Its TU (related id = the CU) at (128..144, 128..144) is outlined too.
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {143, 135}), QColor(255, 255, 255));
    }

    void hoverLockAndEscape()
    {
        SampleDocument document;
        FrameViewer& viewer = showSampleDocument(document, allLayersOff());
        QSignalSpy available(&viewer, &FrameViewer::blockInfoAvailable);
        QSignalSpy cleared(&viewer, &FrameViewer::blockInfoCleared);
        QSignalSpy selected(&viewer, &FrameViewer::analysisObjectSelected);
        moveMouse(viewer, pointAtSample(viewer, {130, 131}));
        QCOMPARE(available.count(), 1);
        QList<QVariant> report = available.takeFirst();
        QCOMPARE(report.at(0).toString(), QStringLiteral("Hover HEVC block"));
        QCOMPARE(report.at(1).toString(), QStringLiteral("7"));
        QCOMPARE(report.at(2).toString(), QStringLiteral("3"));
        QCOMPARE(report.at(3).toString(), QStringLiteral("x=130 y=131 unit=luma-sample"));
        QCOMPARE(report.at(4).value<StableId>(), document.ctu);
        QCOMPARE(report.at(5).value<StableId>(), document.cuQp51);
        QCOMPARE(report.at(6).value<StableId>(), StableId{});
        QCOMPARE(report.at(7).value<StableId>(), document.tu);

        // The same sample again says nothing; the next sample of the same block does.
        moveMouse(viewer, pointAtSample(viewer, {130.5, 131.5}));
        QCOMPARE(available.count(), 0);
        moveMouse(viewer, pointAtSample(viewer, {131, 131}));
        QCOMPARE(available.count(), 1);
        available.clear();

        // The press alone chooses nothing; the release without movement locks.
        QTest::mousePress(&viewer, Qt::LeftButton, {}, pointAtSample(viewer, {170, 170}));
        QCOMPARE(selected.count(), 0);
        QTest::mouseRelease(&viewer, Qt::LeftButton, {}, pointAtSample(viewer, {170, 170}));
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).value<StableId>(), document.interPu);
        QCOMPARE(available.count(), 1);
        QCOMPARE(available.at(0).at(0).toString(), QStringLiteral("Locked HEVC block"));
        moveMouse(viewer, pointAtSample(viewer, {10, 10}));
        QCOMPARE(available.count(), 1);
        QCOMPARE(cleared.count(), 0);

        QTest::keyClick(&viewer, Qt::Key_Escape);
        QCOMPARE(cleared.count(), 1);
        QCOMPARE(cleared.at(0).at(0).toString(),
                 QStringLiteral("Block lock cleared; move the mouse over the frame to inspect"));
        moveMouse(viewer, pointAtSample(viewer, {10, 11}));
        QCOMPARE(available.count(), 2);
        QCOMPARE(available.at(1).at(0).toString(), QStringLiteral("Hover HEVC block"));

        // Off the image the report clears.
        moveMouse(viewer, QPoint(5, 5));
        QCOMPARE(cleared.count(), 2);
        QCOMPARE(cleared.at(1).at(0).toString(), QStringLiteral("Move the mouse over the frame to inspect block info"));
    }

    void equalBlocksGoToTheEarlierOne()
    {
        DocumentBuilder builder(kPictureId);
        const StableId ctu = builder.ctu(1, 0, 0);
        const StableId first = builder.cu(10, ctu, DocumentBuilder::rect(0, 0, 32, 32));
        builder.cu(11, ctu, DocumentBuilder::rect(0, 0, 32, 32));
        FrameViewer& viewer = showViewer();
        viewer.setFrame(blackFrame(), 0);
        viewer.setAnalysis(builder.share());
        viewer.showActualSize();
        QSignalSpy available(&viewer, &FrameViewer::blockInfoAvailable);
        moveMouse(viewer, pointAtSample(viewer, {5, 5}));
        QCOMPARE(available.count(), 1);
        QCOMPARE(available.at(0).at(5).value<StableId>(), first);
    }

    void fallbackCellAtThePictureCorner()
    {
        FrameViewer& viewer = showViewer();
        viewer.setFrame(vexilo::test::share(vexilo::test::makeFlatYuvFrame(1920, 1080, 8, 16, 128, 128), 42), 5);
        viewer.setViewTransform(FrameViewer::ActualSize, 1.0, QPointF(-1000, -500));
        QSignalSpy unavailable(&viewer, &FrameViewer::blockInfoUnavailable);
        moveMouse(viewer, pointAtSample(viewer, {1900, 1070}));
        QCOMPARE(unavailable.count(), 1);
        const QList<QVariant> report = unavailable.at(0);
        QCOMPARE(report.at(0).toString(), QStringLiteral("Hover fallback grid cell"));
        QCOMPARE(report.at(1).toString(), QStringLiteral("42"));
        QCOMPARE(report.at(2).toString(), QStringLiteral("5"));
        QCOMPARE(report.at(3).toString(), QStringLiteral("x=1900 y=1070 unit=luma-sample"));
        QCOMPARE(report.at(4).toString(), QStringLiteral("x=1856 y=1024 w=64 h=56 cell=64x64 fallback"));

        // A click without movement locks the cell.
        QTest::mouseClick(&viewer, Qt::LeftButton, {}, pointAtSample(viewer, {1900, 1070}));
        QCOMPARE(unavailable.count(), 2);
        QCOMPARE(unavailable.at(1).at(0).toString(), QStringLiteral("Locked fallback grid cell"));
        const QImage grabbed = viewer.grabFramebuffer();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {1860, 1060}), vexilo::test::blended(QColor(255, 255, 255, 36), kBlack));
    }

    void dragPansTheView()
    {
        FrameViewer& viewer = showViewer();
        viewer.setFrame(blackFrame(), 0);
        viewer.showActualSize();
        QSignalSpy transform(&viewer, &FrameViewer::viewTransformChanged);
        QSignalSpy unavailable(&viewer, &FrameViewer::blockInfoUnavailable);
        const QPoint start = pointAtSample(viewer, {100, 100});
        QTest::mousePress(&viewer, Qt::LeftButton, {}, start);
        moveMouse(viewer, start + QPoint(30, 0), Qt::LeftButton);
        moveMouse(viewer, start + QPoint(50, 20), Qt::LeftButton);
        QTest::mouseRelease(&viewer, Qt::LeftButton, {}, start + QPoint(50, 20));
        QCOMPARE(viewer.panOffset(), QPointF(50, 20));
        QCOMPARE(transform.count(), 2);
        QCOMPARE(unavailable.count(), 0);
        QCOMPARE(viewer.cursor().shape(), Qt::ArrowCursor);
    }

    // Zoomed in over an analysed picture every point is a block and a heat-map cell: a drag must
    // still pan, and only a click chooses.
    void dragPansAZoomedAnalysedPictureAndAClickStillChooses()
    {
        SampleDocument document;
        FrameViewer& viewer = showSampleDocument(document, allLayersOff());
        viewer.setQualityHeatmapOverlayEnabled(true);
        viewer.setQualityHeatmap({heatCell(192, 128, availableMetrics(35, 0.9, 3))}, QStringLiteral("A quality"));
        viewer.setViewTransform(FrameViewer::CustomZoom, 8.0, QPointF(-640, -384));
        QSignalSpy selected(&viewer, &FrameViewer::analysisObjectSelected);
        QSignalSpy available(&viewer, &FrameViewer::blockInfoAvailable);
        QSignalSpy heatmap(&viewer, &FrameViewer::qualityHeatmapBlockSelected);
        const QPoint start = pointAtSample(viewer, {240, 176});
        const QImage before = viewer.grabFramebuffer();

        QTest::mousePress(&viewer, Qt::LeftButton, {}, start);
        moveMouse(viewer, start + QPoint(QApplication::startDragDistance(), 0), Qt::LeftButton);
        moveMouse(viewer, start + QPoint(48, 32), Qt::LeftButton);
        QTest::mouseRelease(&viewer, Qt::LeftButton, {}, start + QPoint(48, 32));
        QCOMPARE(viewer.panOffset(), QPointF(-640 + 48, -384 + 32));
        QCOMPARE(pointAtSample(viewer, {240, 176}), start + QPoint(48, 32));
        QCOMPARE(selected.count(), 0);
        QCOMPARE(available.count(), 0);
        QCOMPARE(heatmap.count(), 0);
        const QImage after = viewer.grabFramebuffer();
        QCOMPARE(after.pixelColor(start + QPoint(48, 32)), before.pixelColor(start));
        vexilo::test::saveScreenshot(after, QStringLiteral("frame-viewer-zoom8-panned.png"));

        // Without movement the press is a click: the heat map takes it, then, switched off, the block.
        QTest::mouseClick(&viewer, Qt::LeftButton, {}, start);
        QCOMPARE(heatmap.count(), 1);
        QCOMPARE(selected.count(), 0);
        viewer.setQualityHeatmapOverlayEnabled(false);
        QTest::mouseClick(&viewer, Qt::LeftButton, {}, start);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(available.count(), 1);
        QCOMPARE(available.at(0).at(0).toString(), QStringLiteral("Locked HEVC block"));
    }

    void clickSelectsAMotionVector()
    {
        SampleDocument document;
        std::array<bool, 7> layers = allLayersOff();
        layers[5] = true;
        FrameViewer& viewer = showSampleDocument(document, layers);
        QSignalSpy selected(&viewer, &FrameViewer::analysisObjectSelected);
        QSignalSpy available(&viewer, &FrameViewer::blockInfoAvailable);
        // Right of x = 256 no block holds the point, but the arrow passes 2 pixels above it.
        QTest::mouseClick(&viewer, Qt::LeftButton, {}, pointAtSample(viewer, {266, 178}));
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).value<StableId>(), document.vector);
        QCOMPARE(available.count(), 0);
        const QImage grabbed = viewer.grabFramebuffer();
        VEXILO_COMPARE_COLOUR(pixelAtSample(viewer, grabbed, {262, 176}), QColor(255, 255, 255));
    }

    void heatmapClickReportsTheCellWithoutLocking()
    {
        SampleDocument document;
        FrameViewer& viewer = showSampleDocument(document, allLayersOff());
        viewer.setQualityHeatmapOverlayEnabled(true);
        vexilo::media::RegionQualityMetrics failed = heatCell(64, 0, {});
        viewer.setQualityHeatmap({heatCell(0, 0, availableMetrics(35.1234, 0.9, 3.0)), failed,
                                  heatCell(128, 0, availableMetrics(std::numeric_limits<double>::infinity(), 1, 0))},
                                 QStringLiteral("A quality"));
        QSignalSpy summary(&viewer, &FrameViewer::qualityHeatmapBlockSelected);
        QSignalSpy selected(&viewer, &FrameViewer::analysisObjectSelected);
        QTest::mouseClick(&viewer, Qt::LeftButton, {}, pointAtSample(viewer, {10, 10}));
        QTest::mouseClick(&viewer, Qt::LeftButton, {}, pointAtSample(viewer, {70, 10}));
        QTest::mouseClick(&viewer, Qt::LeftButton, {}, pointAtSample(viewer, {130, 10}));
        QCOMPARE(summary.count(), 3);
        QCOMPARE(summary.at(0).at(0).toString(), QStringLiteral("A quality block  x=0 y=0 size=64x64  All PSNR=35.123"));
        QCOMPARE(summary.at(1).at(0).toString(), QStringLiteral("A quality block  x=64 y=0 size=64x64  All PSNR=N/A"));
        QCOMPARE(summary.at(2).at(0).toString(), QStringLiteral("A quality block  x=128 y=0 size=64x64  All PSNR=inf"));
        QCOMPARE(selected.count(), 0);
        viewer.setQualityHeatmap({heatCell(0, 0, availableMetrics(35, 0.9, 3))}, QString());
        viewer.setQualityHeatmapMetricPlane(FrameViewer::PlaneY);
        QTest::mouseClick(&viewer, Qt::LeftButton, {}, pointAtSample(viewer, {10, 10}));
        QCOMPARE(summary.at(3).at(0).toString(), QStringLiteral("Quality block  x=0 y=0 size=64x64  Y PSNR=N/A"));
    }
};

VEXILO_QT_TEST(FrameViewerTest)
#include "FrameViewerTest.moc"
