// Frame viewer on a synthetic dense 4K picture: overlay build, repaint with every overlay on,
// block hit test and the RGBA conversion of a 10-bit frame, each beside the straightforward
// per-element walk it replaces where that walk can run in reasonable time. Figures are CPU
// time of this process, best of a few runs.
//
// Repaints are measured in a 1920x1080 and a 1600x900 viewer, each beside the floor of the
// GL underneath: an empty paintGL read back, and the picture alone (one textured quad). On a
// software rasteriser (llvmpipe) the quad of a fitted 4K picture alone can take longer than a
// frame interval, and the overlay layer is a second quad of the same size.
//
// Run on a display (xvfb-run, QT_QPA_PLATFORM=xcb): the viewer paints through OpenGL.
#include "vexilo/bench/BenchSupport.h"
#include "vexilo/media/SampleConversion.h"
#include "vexilo/media/YuvFrameConversion.h"
#include "vexilo/views/FrameOverlays.h"
#include "vexilo/views/FrameViewer.h"

#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>

#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

using vexilo::analysis::StableId;
using vexilo::analysis::StreamAnalysis;

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;
constexpr int kCtuSize = 64;
constexpr std::int64_t kPictureId = 1;

vexilo::analysis::BlockRect rect(int x, int y, int size)
{
    return {x, y, static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(size),
            vexilo::analysis::kBlockRectUnitLumaSample};
}

// Every CTU: a 64 quadtree down to 16, eleven of its 16s split to 8; each leaf CU has one PU
// with one motion vector and a root TU, and every other leaf splits its TU in four.
class DensePicture {
public:
    DensePicture()
    {
        document.id = {9, 9};
        vexilo::analysis::PictureAnalysisSummary picture;
        picture.id = next();
        picture.pictureId = kPictureId;
        document.pictures.push_back(picture);
        for (int y = 0; y < kHeight; y += kCtuSize) {
            for (int x = 0; x < kWidth; x += kCtuSize) {
                addCtu(picture.id, x, y);
            }
        }
    }

    StreamAnalysis document;

private:
    // Real ids are digests: spread the counter the same way, so that no index gains from order.
    StableId next()
    {
        std::uint64_t mixed = ++counter_;
        mixed ^= mixed >> 33;
        mixed *= 0xff51afd7ed558ccdULL;
        mixed ^= mixed >> 33;
        return {0x5EED, mixed};
    }

    StableId addCu(const StableId& ctu, std::optional<StableId> parent, int x, int y, int size)
    {
        vexilo::analysis::CuInfo cu;
        cu.id = next();
        cu.parentCtuId = ctu;
        cu.parentCuId = parent;
        cu.bounds = rect(x, y, size);
        cu.qp = static_cast<std::int16_t>(random_() % 52);
        cu.parseStatus = vexilo::analysis::BlockParseStatus::Parsed;
        document.cus.push_back(cu);
        return cu.id;
    }

    void addLeaf(const StableId& ctu, const StableId& parent, int x, int y, int size)
    {
        const StableId cu = addCu(ctu, parent, x, y, size);
        vexilo::analysis::PuInfo pu;
        pu.id = next();
        pu.parentCuId = cu;
        pu.bounds = rect(x, y, size);
        pu.parseStatus = vexilo::analysis::BlockParseStatus::Parsed;
        document.pus.push_back(pu);
        vexilo::analysis::MotionVectorInfo vector;
        vector.id = next();
        vector.parentPuId = pu.id;
        vector.list = leaves_ % 2 == 0 ? vexilo::analysis::ReferenceList::L0 : vexilo::analysis::ReferenceList::L1;
        vector.mvX = static_cast<std::int32_t>(random_() % 129) - 64;
        vector.mvY = static_cast<std::int32_t>(random_() % 129) - 64;
        vector.unit = vexilo::analysis::MotionVectorUnit::QuarterLumaSample;
        vector.referenceStatus = vexilo::analysis::ReferenceStatus::Available;
        document.motionVectors.push_back(vector);
        vexilo::analysis::TuInfo root;
        root.id = next();
        root.parentCuId = cu;
        root.bounds = rect(x, y, size);
        root.parseStatus = vexilo::analysis::BlockParseStatus::Parsed;
        document.tus.push_back(root);
        if (++leaves_ % 2 == 0) {
            const int half = size / 2;
            for (int quarter = 0; quarter < 4; ++quarter) {
                vexilo::analysis::TuInfo child = root;
                child.id = next();
                child.parentTuId = root.id;
                child.bounds = rect(x + (quarter % 2) * half, y + (quarter / 2) * half, half);
                document.tus.push_back(child);
            }
        }
    }

    void addCtu(const StableId& picture, int x, int y)
    {
        vexilo::analysis::CtuInfo ctu;
        ctu.id = next();
        ctu.parentPictureSummaryId = picture;
        ctu.bounds = rect(x, y, kCtuSize);
        ctu.parseStatus = vexilo::analysis::BlockParseStatus::Parsed;
        document.ctus.push_back(ctu);
        const StableId root = addCu(ctu.id, std::nullopt, x, y, 64);
        int sixteens = 0;
        for (int q32 = 0; q32 < 4; ++q32) {
            const int x32 = x + (q32 % 2) * 32;
            const int y32 = y + (q32 / 2) * 32;
            const StableId cu32 = addCu(ctu.id, root, x32, y32, 32);
            for (int q16 = 0; q16 < 4; ++q16) {
                const int x16 = x32 + (q16 % 2) * 16;
                const int y16 = y32 + (q16 / 2) * 16;
                if (sixteens++ < 11) {
                    const StableId cu16 = addCu(ctu.id, cu32, x16, y16, 16);
                    for (int q8 = 0; q8 < 4; ++q8) {
                        addLeaf(ctu.id, cu16, x16 + (q8 % 2) * 8, y16 + (q8 / 2) * 8, 8);
                    }
                } else {
                    addLeaf(ctu.id, cu32, x16, y16, 16);
                }
            }
        }
    }

    std::uint64_t counter_ = 0;
    std::uint64_t leaves_ = 0;
    std::mt19937 random_{42};
};

vexilo::domain::VideoFrame tenBitFrame()
{
    vexilo::domain::VideoFrame frame;
    frame.index = kPictureId;
    frame.width = kWidth;
    frame.height = kHeight;
    frame.bitDepth = 10;
    frame.pixelFormatName = "yuv420p10le";
    frame.chromaFormat = vexilo::domain::ChromaFormat::Yuv420;
    frame.colourRange = vexilo::domain::ColourRange::Limited;
    std::mt19937 random(7);
    for (std::uint8_t index = 0; index < 3; ++index) {
        vexilo::domain::VideoPlane plane;
        plane.planeIndex = index;
        plane.width = index == 0 ? kWidth : kWidth / 2;
        plane.height = index == 0 ? kHeight : kHeight / 2;
        plane.bytesPerSample = 2;
        plane.stride = plane.width * 2;
        plane.samples.resize(static_cast<std::size_t>(plane.stride) * static_cast<std::size_t>(plane.height));
        for (std::size_t sample = 0; sample < plane.samples.size(); sample += 2) {
            const auto value = static_cast<std::uint32_t>(64 + random() % 877);
            plane.samples[sample] = static_cast<std::uint8_t>(value & 0xFF);
            plane.samples[sample + 1] = static_cast<std::uint8_t>(value >> 8);
        }
        frame.planes.push_back(std::move(plane));
    }
    return frame;
}

// The per-pixel double-precision conversion the tables replace.
void convertPixelByPixel(const vexilo::domain::VideoFrame& frame, std::vector<std::uint8_t>& rgba)
{
    const auto planes = *vexilo::media::findYuvPlanes(frame);
    const vexilo::media::YuvToRgbParameters parameters = vexilo::media::displayParametersFor(frame);
    std::size_t at = 0;
    for (std::int32_t y = 0; y < frame.height; ++y) {
        for (std::int32_t x = 0; x < frame.width; ++x) {
            const auto cx = static_cast<std::int32_t>(std::int64_t{x} * planes.u->width / frame.width);
            const auto cy = static_cast<std::int32_t>(std::int64_t{y} * planes.u->height / frame.height);
            const auto colour = vexilo::media::yuvToRgbExact(vexilo::media::readPlaneSample(*planes.y, x, y),
                                                             vexilo::media::readPlaneSample(*planes.u, cx, cy),
                                                             vexilo::media::readPlaneSample(*planes.v, cx, cy),
                                                             parameters);
            rgba[at++] = colour[0];
            rgba[at++] = colour[1];
            rgba[at++] = colour[2];
            rgba[at++] = 255;
        }
    }
}

// The walk over every record that the grid replaces.
StableId smallestCuByWalk(const vexilo::FrameOverlays& overlays, QPointF point)
{
    const vexilo::OverlayRecord* best = nullptr;
    for (const vexilo::OverlayRecord& record : overlays.records()) {
        if (record.kind == vexilo::OverlayKind::Cu && record.rect.left() <= point.x() &&
            point.x() < record.rect.right() && record.rect.top() <= point.y() && point.y() < record.rect.bottom() &&
            (best == nullptr || record.rect.width() * record.rect.height() < best->rect.width() * best->rect.height())) {
            best = &record;
        }
    }
    return best == nullptr ? StableId{} : best->objectId;
}

double milliseconds(double seconds) { return seconds * 1000.0; }

// What a repaint through grabFramebuffer costs before anything is drawn: the framebuffer
// clear and its read back.
class ClearOnlyWidget : public QOpenGLWidget {
protected:
    void paintGL() override
    {
        QOpenGLFunctions* gl = QOpenGLContext::currentContext()->functions();
        gl->glClearColor(0.2F, 0.2F, 0.2F, 1.0F);
        gl->glClear(GL_COLOR_BUFFER_BIT);
    }
};

// CPU time of this process (the GL driver's threads included), best of `runs`: on a shared
// machine it varies far less than wall-clock time.
double bestCpuSecondsOf(int runs, const std::function<void()>& work)
{
    return vexilo::bench::bestOf(runs, [&] { return vexilo::bench::ownCpuSecondsOf(work); });
}

// Repaints of a viewer of `size` logical pixels showing the picture with every overlay on, each
// figure beside what the same size costs with nothing drawn and with the picture alone.
void measureRepaints(QSize size, const vexilo::domain::VideoFramePtr& frame,
                     const std::shared_ptr<const StreamAnalysis>& document,
                     const std::vector<vexilo::media::RegionQualityMetrics>& cells)
{
    std::printf("viewer of %dx%d logical pixels:\n", size.width(), size.height());
    ClearOnlyWidget empty;
    empty.resize(size);
    empty.show();
    QApplication::processEvents();
    (void)empty.grabFramebuffer();
    const double floor = bestCpuSecondsOf(5, [&] { (void)empty.grabFramebuffer(); });
    empty.hide();

    vexilo::FrameViewer viewer;
    viewer.resize(size);
    viewer.show();
    QApplication::processEvents();
    viewer.setFrame(frame, 0);
    const double setAnalysis = bestCpuSecondsOf(1, [&] { viewer.setAnalysis(document); });
    viewer.setQualityHeatmap(cells, QStringLiteral("A quality"));
    // grabFramebuffer runs paintGL into the widget's framebuffer and reads it back.
    const auto repaint = [&] { (void)viewer.grabFramebuffer(); };
    viewer.setCtuOverlayEnabled(false);
    viewer.setQualityHeatmapOverlayEnabled(false);
    repaint();
    const double pictureOnly = bestCpuSecondsOf(5, repaint);
    for (auto enable : {&vexilo::FrameViewer::setCtuOverlayEnabled, &vexilo::FrameViewer::setCuOverlayEnabled,
                        &vexilo::FrameViewer::setTuOverlayEnabled, &vexilo::FrameViewer::setPuOverlayEnabled,
                        &vexilo::FrameViewer::setQpMapOverlayEnabled,
                        &vexilo::FrameViewer::setMotionVectorOverlayEnabled,
                        &vexilo::FrameViewer::setQualityHeatmapOverlayEnabled}) {
        (viewer.*enable)(true);
    }
    const double first = bestCpuSecondsOf(1, repaint);
    // Hover, lock and legend changes reuse the overlay layer and both textures.
    const double cached = bestCpuSecondsOf(5, repaint);
    // At fit the layer covers the image and moves with it.
    double pan = 0.0;
    const double panned = bestCpuSecondsOf(3, [&] {
        pan += 1.0;
        viewer.setViewTransform(vexilo::FrameViewer::FitToWindow, 1.0, QPointF(pan, 0.0));
        repaint();
    });
    bool smaller = false;
    const double rezoomed = bestCpuSecondsOf(3, [&] {
        smaller = !smaller;
        viewer.setViewTransform(vexilo::FrameViewer::CustomZoom, smaller ? 0.45 : 0.5, QPointF());
        repaint();
    });
    viewer.setViewTransform(vexilo::FrameViewer::CustomZoom, 4.0, QPointF());
    repaint();
    const double zoomedIn = bestCpuSecondsOf(3, [&] {
        pan += 1.0;
        viewer.setViewTransform(vexilo::FrameViewer::CustomZoom, 4.0, QPointF(pan, 0.0));
        repaint();
    });
    std::printf("  setAnalysis (overlay build in a fresh viewer): %.1f ms\n", milliseconds(setAnalysis));
    std::printf("  repaint, every overlay on, hover or lock change: %.1f ms (goal <= 16)\n", milliseconds(cached));
    std::printf("  repaint, every overlay on, after a pan at fit: %.1f ms (goal <= 16)\n", milliseconds(panned));
    std::printf("  repaint after a zoom step (whole overlay layer redrawn): %.1f ms; pan while zoomed x4: %.1f ms; "
                "first paint: %.1f ms\n",
                milliseconds(rezoomed), milliseconds(zoomedIn), milliseconds(first));
    std::printf("  floor on this GL: empty paintGL read back: %.1f ms; picture alone: %.1f ms\n", milliseconds(floor),
                milliseconds(pictureOnly));
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const DensePicture picture;
    const vexilo::domain::VideoFrame frame = tenBitFrame();
    std::printf("dense 4K picture: %zu CTUs, %zu CUs, %zu TUs, %zu PUs, %zu motion vectors\n",
                picture.document.ctus.size(), picture.document.cus.size(), picture.document.tus.size(),
                picture.document.pus.size(), picture.document.motionVectors.size());

    vexilo::FrameOverlays overlays;
    const double build = bestCpuSecondsOf(3, [&] { overlays.rebuild(picture.document, kPictureId); });
    std::printf("overlay build: %.1f ms (goal <= 100), %zu records\n", milliseconds(build), overlays.records().size());

    std::mt19937 random(3);
    std::vector<QPointF> points;
    for (int i = 0; i < 2000; ++i) {
        points.emplace_back(static_cast<double>(random() % kWidth) + 0.5, static_cast<double>(random() % kHeight) + 0.5);
    }
    std::size_t found = 0;
    const double hits = bestCpuSecondsOf(3, [&] {
        for (const QPointF& point : points) {
            found += overlays.smallestBlocksAt(point).any() ? 1U : 0U;
        }
    });
    const double walks = bestCpuSecondsOf(1, [&] {
        for (std::size_t i = 0; i < 50; ++i) {
            found += smallestCuByWalk(overlays, points[i]).isNull() ? 0U : 1U;
        }
    });
    std::printf("hit test: %.4f ms per point (goal <= 1); record walk: %.3f ms per point (%zu hits)\n",
                milliseconds(hits) / static_cast<double>(points.size()), milliseconds(walks) / 50.0, found);

    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(kWidth) * kHeight * 4);
    const auto planes = *vexilo::media::findYuvPlanes(frame);
    // Wall-clock time here: the conversion spreads its rows over a few threads.
    const double tables = vexilo::bench::bestSecondsOf(3, [&] {
        vexilo::media::convertYuvToRgba(frame, planes, vexilo::media::DisplayComponent::Colour, rgba.data(),
                                        kWidth * 4);
    });
    const double perPixel = vexilo::bench::bestSecondsOf(1, [&] { convertPixelByPixel(frame, rgba); });
    std::printf("4K 10-bit RGBA conversion, wall clock: %.1f ms (goal <= 40); per-pixel double precision: %.1f ms\n",
                milliseconds(tables), milliseconds(perPixel));

    std::vector<vexilo::media::RegionQualityMetrics> cells;
    for (int y = 0; y < kHeight; y += 64) {
        for (int x = 0; x < kWidth; x += 64) {
            vexilo::media::RegionQualityMetrics cell;
            cell.x = x;
            cell.y = y;
            cell.width = 64;
            cell.height = std::min(64, kHeight - y);
            cell.allMetrics.status = vexilo::media::QualityMetricStatus::Available;
            cell.allMetrics.psnr = 20.0 + static_cast<double>(random() % 30);
            cells.push_back(cell);
        }
    }
    const auto sharedFrame = std::make_shared<const vexilo::domain::VideoFrame>(frame);
    const auto sharedDocument = std::make_shared<const StreamAnalysis>(picture.document);
    for (const QSize size : {QSize(1920, 1080), QSize(1600, 900)}) {
        measureRepaints(size, sharedFrame, sharedDocument, cells);
    }
    return 0;
}
