#include "ViewTestSupport.h"

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/test/QtTestRegistry.h"
#include "vexilo/views/PictureStripWidget.h"

#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

using vexilo::PictureStripWidget;
using vexilo::application::PictureThumbnail;
using vexilo::domain::PictureId;
using vexilo::test::colourNear;
using vexilo::test::grabImage;
using vexilo::test::showSized;
using vexilo::test::sameColour;
using StripMode = vexilo::PictureStripWidget::StripMode;
namespace analysis = vexilo::analysis;

namespace {

constexpr PictureId kFirstPictureId = 1000;
const QColor kYellow(255, 230, 80);
const QColor kL0Red(220, 64, 64);
const QColor kL1Blue(74, 132, 230);
const QColor kTileColours[] = {QColor(250, 20, 20), QColor(20, 250, 20), QColor(20, 20, 250), QColor(250, 250, 20),
                               QColor(20, 250, 250), QColor(250, 20, 250), QColor(130, 60, 10), QColor(10, 60, 130),
                               QColor(60, 130, 10), QColor(200, 200, 200)};

PictureThumbnail solidThumbnail(PictureId id, std::uint64_t displayIndex, const QColor& colour, int width = 120,
                                int height = 68) {
    PictureThumbnail thumbnail{id, displayIndex, width, height, {}};
    for (int pixel = 0; pixel < width * height; ++pixel) {
        thumbnail.rgba.insert(thumbnail.rgba.end(), {static_cast<std::uint8_t>(colour.red()),
                                                     static_cast<std::uint8_t>(colour.green()),
                                                     static_cast<std::uint8_t>(colour.blue()), 255});
    }
    return thumbnail;
}

// The documented layout, so that tests can point at tiles, nodes and the timeline.
int barTop(const QWidget& widget) { return std::max(widget.height() - 15, 0); }
// The bar ends before the position label, which is as wide as the stream's largest position.
QRect timelineBar(const PictureStripWidget& strip) {
    const auto count = static_cast<qsizetype>(strip.tileCount());
    const int labelRoom =
        count == 0 ? 0 : strip.fontMetrics().horizontalAdvance(QStringLiteral("Timeline %1 / %1").arg(count)) + 10;
    return QRect(14, barTop(strip), std::max(strip.width() - 28 - labelRoom, 0), 8);
}
QRect tileRect(const PictureStripWidget& strip, int position) {
    const int height = std::min(std::max(barTop(strip) - 30, 88), barTop(strip) - 16);
    return QRect(position * 128 - strip.scrollOffset() + 8, 8, 120, std::max(height, 1));
}
QRect imageRect(const PictureStripWidget& strip, int position) { return tileRect(strip, position).adjusted(3, 3, -3, -19); }
QRect nodeRect(const PictureStripWidget& strip, int position) {
    return QRect(position * 114 - strip.scrollOffset() + 8, (std::max(barTop(strip) - 30, 44) - 44) / 3 + 12, 96, 44);
}
QPoint imageProbe(const PictureStripWidget& strip, int position) {
    // Above the display-index caption, which is drawn over the lower part of the image.
    return imageRect(strip, position).topLeft() + QPoint(57, 20);
}

// A point on the arc drawn between two nodes on the given lane, t in [0, 1].
QPoint arcPoint(const QRect& from, const QRect& to, int lane, double t) {
    const QPointF start(QRectF(from).center().x(), from.top());
    const QPointF end(QRectF(to).center().x(), to.top());
    const double lift = std::min(std::abs(end.x() - start.x()) / 10.0, 30.0);
    const double peakY = std::max(std::min(from.top(), to.top()) - 12.0 - 9 * (lane % 4) - lift, 4.0);
    const double s = 1.0 - t;
    const double x = s * s * s * start.x() + 3 * s * s * t * start.x() + 3 * s * t * t * end.x() + t * t * t * end.x();
    const double y = (s * s * s + t * t * t) * start.y() + 3 * s * t * peakY;
    return QPoint(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
}

bool arcDrawn(const QImage& image, const QRect& from, const QRect& to, int lane, const QColor& colour) {
    for (const double t : {0.15, 0.3, 0.7, 0.85}) {
        if (!colourNear(image, arcPoint(from, to, lane, t), colour, 40)) {
            return false;
        }
    }
    return true;
}

struct TestReference {
    int sourcePicture;
    std::uint8_t list;
    std::optional<int> targetPicture;  // by picture id
    std::optional<std::int32_t> poc;   // by POC
    analysis::ReferenceStatus status = analysis::ReferenceStatus::Available;
};

// One slice per picture; picture i has POC pocs[i] and the id kFirstPictureId + i.
analysis::StreamAnalysis documentOf(const std::vector<int>& pictures, const std::vector<std::int32_t>& pocs,
                                    const std::vector<TestReference>& references) {
    analysis::StreamAnalysis document;
    for (const int picture : pictures) {
        const auto id = static_cast<std::uint64_t>(kFirstPictureId + picture);
        const auto key = static_cast<std::uint64_t>(picture + 1);
        analysis::PictureAnalysisSummary summary;
        summary.id = {2, key};
        summary.pictureId = id;
        summary.poc = pocs[static_cast<std::size_t>(picture)];
        document.pictures.push_back(summary);
        analysis::SliceInfo slice;
        slice.id = {1, key};
        slice.pictureId = id;
        slice.poc = summary.poc;
        document.slices.push_back(slice);
    }
    std::uint64_t entry = 1;
    for (const TestReference& reference : references) {
        analysis::ReferencePictureEntry record;
        record.id = {3, entry++};
        record.parentSliceId = {1, static_cast<std::uint64_t>(reference.sourcePicture + 1)};
        record.list = static_cast<analysis::ReferenceList>(reference.list);
        record.listIndex = static_cast<std::uint8_t>(entry % 4);
        if (reference.targetPicture) {
            record.targetPictureId = static_cast<std::uint64_t>(kFirstPictureId + *reference.targetPicture);
        }
        record.poc = reference.poc;
        record.status = reference.status;
        document.referencePictures.push_back(record);
    }
    return document;
}

std::vector<int> picturesUpTo(int count) {
    std::vector<int> pictures;
    for (int picture = 0; picture < count; ++picture) {
        pictures.push_back(picture);
    }
    return pictures;
}

void addSolidTiles(PictureStripWidget& strip, int count) {
    for (int position = 0; position < count; ++position) {
        strip.setThumbnail(solidThumbnail(kFirstPictureId + position, static_cast<std::uint64_t>(position),
                                          kTileColours[position % 10]));
    }
}

void wheel(PictureStripWidget& strip, int delta, int times) {
    for (int step = 0; step < times; ++step) {
        QWheelEvent event(QPointF(50, 50), strip.mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&strip, &event);
    }
}

std::vector<PictureId> activatedIds(const QSignalSpy& spy) {
    std::vector<PictureId> ids;
    for (const QList<QVariant>& arguments : spy) {
        ids.push_back(arguments.at(0).value<PictureId>());
    }
    return ids;
}

// A shown strip in hierarchy mode with `tiles` pictures, the one at `current` current.
void showHierarchy(PictureStripWidget& strip, int width, int tiles, int current) {
    showSized(strip, width, 230);
    addSolidTiles(strip, tiles);
    strip.setStripMode(StripMode::ReferenceHierarchy);
    strip.setCurrentPicture(kFirstPictureId + current);
}

}  // namespace

class PictureStripWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void startsEmptyAndIgnoresPointing() {
        PictureStripWidget strip;
        showSized(strip, 600, 156);
        QCOMPARE(strip.objectName(), QStringLiteral("pictureStrip"));
        QCOMPARE(strip.minimumHeight(), 96);
        QCOMPARE(strip.sizeHint(), QSize(520, 156));
        QCOMPARE(strip.focusPolicy(), Qt::StrongFocus);
        QVERIFY(strip.hasMouseTracking());
        QCOMPARE(strip.stripMode(), StripMode::Thumbnails);

        const QImage image = grabImage(strip);
        const QColor background = strip.palette().color(QPalette::Base).darker(108);
        // No timeline without tiles.
        QVERIFY(sameColour(image.pixelColor(timelineBar(strip).center()), background, 0));
        QVERIFY(sameColour(image.pixelColor(imageProbe(strip, 0)), background, 0));

        QSignalSpy activated(&strip, &PictureStripWidget::pictureActivated);
        wheel(strip, -120, 3);
        QCOMPARE(strip.scrollOffset(), 0);
        QTest::mouseClick(&strip, Qt::LeftButton, {}, imageProbe(strip, 0));
        QTest::mouseClick(&strip, Qt::LeftButton, {}, timelineBar(strip).center());
        QCOMPARE(activated.count(), 0);
    }

    void showsTilesInDisplayOrder() {
        PictureStripWidget strip;
        showSized(strip, 700, 156);
        // Thumbnails arrive in decode order.
        for (const int displayIndex : {0, 4, 2, 1, 3}) {
            strip.setThumbnail(solidThumbnail(kFirstPictureId + displayIndex, static_cast<std::uint64_t>(displayIndex),
                                              kTileColours[displayIndex]));
        }
        QCOMPARE(strip.tileCount(), std::size_t{5});
        QImage image = grabImage(strip);
        for (int position = 0; position < 5; ++position) {
            QVERIFY2(sameColour(image.pixelColor(imageProbe(strip, position)), kTileColours[position], 2),
                     qPrintable(QStringLiteral("tile %1").arg(position)));
        }
        vexilo::test::saveScreenshot(image, QStringLiteral("picture_strip_solid_tiles.png"));

        // A new image for a known picture stays in its place.
        strip.setThumbnail(solidThumbnail(kFirstPictureId + 2, 2, kTileColours[7]));
        image = grabImage(strip);
        QCOMPARE(strip.tileCount(), std::size_t{5});
        QVERIFY(sameColour(image.pixelColor(imageProbe(strip, 2)), kTileColours[7], 2));
        QVERIFY(sameColour(image.pixelColor(imageProbe(strip, 3)), kTileColours[3], 2));

        // A picture whose display index changes moves to its sorted place.
        strip.setThumbnail(solidThumbnail(kFirstPictureId, 9, kTileColours[0]));
        image = grabImage(strip);
        QVERIFY(sameColour(image.pixelColor(imageProbe(strip, 0)), kTileColours[1], 2));
        QVERIFY(sameColour(image.pixelColor(imageProbe(strip, 4)), kTileColours[0], 2));
    }

    void ignoresMalformedThumbnails_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("missingBytes");
        QTest::newRow("zero height") << 120 << 0 << 0;
        QTest::newRow("zero width") << 0 << 68 << 0;
        QTest::newRow("negative width") << -120 << 68 << 0;
        QTest::newRow("one byte short") << 120 << 68 << 1;
        QTest::newRow("no bytes") << 120 << 68 << 120 * 68 * 4;
    }

    void ignoresMalformedThumbnails() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, missingBytes);
        PictureStripWidget strip;
        showSized(strip, 400, 156);
        strip.setThumbnail(solidThumbnail(kFirstPictureId, 0, kTileColours[0]));

        PictureThumbnail malformed = solidThumbnail(kFirstPictureId, 0, kTileColours[1]);
        malformed.width = width;
        malformed.height = height;
        malformed.rgba.resize(malformed.rgba.size() - static_cast<std::size_t>(missingBytes));
        strip.setThumbnail(malformed);
        malformed.pictureId = kFirstPictureId + 1;
        strip.setThumbnail(malformed);

        QCOMPARE(strip.tileCount(), std::size_t{1});
        QVERIFY(sameColour(grabImage(strip).pixelColor(imageProbe(strip, 0)), kTileColours[0], 2));
    }

    void marksTheCurrentTileAndTimeline() {
        PictureStripWidget strip;
        showSized(strip, 700, 156);
        QSignalSpy activated(&strip, &PictureStripWidget::pictureActivated);
        strip.setThumbnail(solidThumbnail(kFirstPictureId, 0, kTileColours[0]));
        strip.setCurrentPicture(kFirstPictureId);
        const QRect bar = timelineBar(strip);
        QImage image = grabImage(strip);
        // A single current tile: the knob sits on the bar's left edge.
        QVERIFY(colourNear(image, QPoint(bar.left(), bar.top() + 4), kYellow, 10, 0));

        addSolidTiles(strip, 5);
        strip.setCurrentPicture(kFirstPictureId + 2);
        image = grabImage(strip);
        QVERIFY(colourNear(image, imageRect(strip, 2).topLeft() + QPoint(0, 30), kYellow, 10, 0));
        QVERIFY(!colourNear(image, imageRect(strip, 1).topLeft() + QPoint(0, 30), kYellow, 40, 1));
        QVERIFY(colourNear(image, QRectF(tileRect(strip, 2)).topLeft().toPoint() + QPoint(1, 1),
                           vexilo::test::blended(strip.palette().color(QPalette::Base).darker(108),
                                                 QColor(54, 117, 210), 120),
                           3, 0));
        const int knobX = bar.left() + static_cast<int>(std::lround(bar.width() * 0.5));
        QVERIFY(colourNear(image, QPoint(knobX, bar.top() + 4), kYellow, 10, 0));
        QVERIFY(!colourNear(image, QPoint(knobX + 12, bar.top() + 4), kYellow, 40, 0));
        QCOMPARE(activated.count(), 0);

        strip.setCurrentPicture(std::nullopt);
        image = grabImage(strip);
        QVERIFY(!colourNear(image, QPoint(knobX, bar.top() + 4), kYellow, 40, 1));
    }

    void clicksAndDragsActivatePictures() {
        PictureStripWidget strip;
        showSized(strip, 700, 156);
        addSolidTiles(strip, 5);
        QSignalSpy activated(&strip, &PictureStripWidget::pictureActivated);

        QTest::mouseClick(&strip, Qt::LeftButton, {}, imageProbe(strip, 1));
        strip.setCurrentPicture(kFirstPictureId + 1);
        QTest::mouseClick(&strip, Qt::LeftButton, {}, imageProbe(strip, 1));
        QCOMPARE(activatedIds(activated), (std::vector<PictureId>{kFirstPictureId + 1, kFirstPictureId + 1}));

        // Dragging across three tiles activates each once; wandering inside one, once.
        activated.clear();
        QTest::mousePress(&strip, Qt::LeftButton, {}, imageProbe(strip, 0));
        for (int x = imageProbe(strip, 0).x(); x <= imageProbe(strip, 2).x(); x += 8) {
            QTest::mouseMove(&strip, QPoint(x, imageProbe(strip, 0).y()));
        }
        QTest::mouseRelease(&strip, Qt::LeftButton, {}, imageProbe(strip, 2));
        QCOMPARE(activatedIds(activated),
                 (std::vector<PictureId>{kFirstPictureId, kFirstPictureId + 1, kFirstPictureId + 2}));

        activated.clear();
        QTest::mousePress(&strip, Qt::LeftButton, {}, imageProbe(strip, 3));
        for (const int dx : {10, -20, 15, -5, 30}) {
            QTest::mouseMove(&strip, imageProbe(strip, 3) + QPoint(dx, 0));
        }
        QTest::mouseRelease(&strip, Qt::LeftButton, {}, imageProbe(strip, 3));
        QCOMPARE(activated.count(), 1);

        // Hovering and other buttons do nothing.
        activated.clear();
        QTest::mouseMove(&strip, imageProbe(strip, 4));
        QTest::mouseMove(&strip, imageProbe(strip, 0));
        QTest::mouseClick(&strip, Qt::RightButton, {}, imageProbe(strip, 2));
        QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(tileRect(strip, 4).right() + 4, 40));
        QCOMPARE(activated.count(), 0);
    }

    void thePositionLabelLeavesTheCaptionsOfAShortStripUncovered() {
        // Short enough that the tiles keep their least height and reach down to the timeline.
        constexpr int kShortHeight = 110;
        const auto stripOf = [](int tiles) {
            auto strip = std::make_unique<PictureStripWidget>();
            showSized(*strip, 700, kShortHeight);
            addSolidTiles(*strip, tiles);
            // The first picture keeps the knob on the bar's left edge whatever the count.
            strip->setCurrentPicture(kFirstPictureId);
            return strip;
        };
        // Both strips show the same six tiles; only the label's count differs, "6" against "7".
        const auto six = stripOf(6);
        const auto seven = stripOf(7);
        const QImage sixImage = grabImage(*six);
        const QImage sevenImage = grabImage(*seven);
        QCOMPARE(sixImage.size(), sevenImage.size());
        const QRect bar = timelineBar(*six);
        QCOMPARE(timelineBar(*seven), bar);
        int labelPixels = 0;
        for (int y = 0; y < sixImage.height(); ++y) {
            for (int x = 0; x < sixImage.width(); ++x) {
                if (sixImage.pixel(x, y) == sevenImage.pixel(x, y)) {
                    continue;
                }
                ++labelPixels;
                QVERIFY2(x > bar.right() && std::abs(y - bar.center().y()) <= 8,
                         qPrintable(QStringLiteral("label pixel at %1,%2").arg(x).arg(y)));
                for (int position = 0; position < 6; ++position) {
                    QVERIFY(!tileRect(*six, position).contains(x, y));
                }
            }
        }
        QVERIFY(labelPixels > 0);
        vexilo::test::saveScreenshot(sixImage, QStringLiteral("picture_strip_short_timeline_label.png"));
    }

    void scrubbingTheTimelineWalksEveryPicture() {
        PictureStripWidget strip;
        showSized(strip, 700, 156);
        addSolidTiles(strip, 7);
        QSignalSpy activated(&strip, &PictureStripWidget::pictureActivated);
        const QRect bar = timelineBar(strip);
        const int y = bar.top() + 4;

        QTest::mousePress(&strip, Qt::LeftButton, {}, QPoint(bar.left(), y));
        for (int x = bar.left(); x <= bar.right() + 10; x += 3) {
            QTest::mouseMove(&strip, QPoint(x, bar.top() - 6));  // the hit band reaches 7 px above the bar
        }
        QTest::mouseRelease(&strip, Qt::LeftButton, {}, QPoint(bar.right() + 10, y));
        std::vector<PictureId> expected;
        for (int position = 0; position < 7; ++position) {
            expected.push_back(kFirstPictureId + position);
        }
        QCOMPARE(activatedIds(activated), expected);

        // A press on the bar activates the picture under it; moving back re-activates.
        activated.clear();
        QTest::mousePress(&strip, Qt::LeftButton, {}, QPoint(bar.right(), y));
        QTest::mouseMove(&strip, QPoint(bar.left(), y));
        QTest::mouseRelease(&strip, Qt::LeftButton, {}, QPoint(bar.left(), y));
        QCOMPARE(activatedIds(activated), (std::vector<PictureId>{kFirstPictureId + 6, kFirstPictureId}));
    }

    void scrollOffsetStaysWithinTheContent() {
        PictureStripWidget strip;
        showSized(strip, 600, 156);
        addSolidTiles(strip, 10);
        QSignalSpy activated(&strip, &PictureStripWidget::pictureActivated);
        wheel(strip, -120, 1);
        QCOMPARE(strip.scrollOffset(), 64);
        wheel(strip, -1, 30);
        QCOMPARE(strip.scrollOffset(), 10 * 128 + 8 - 600);
        QCOMPARE(strip.maximumScrollOffset(), 688);
        strip.setStripMode(StripMode::ReferenceHierarchy);
        QCOMPARE(strip.scrollOffset(), 10 * 114 + 8 - 600);
        wheel(strip, 480, 1);
        QCOMPARE(strip.scrollOffset(), 548 - 64);
        wheel(strip, 120, 20);
        QCOMPARE(strip.scrollOffset(), 0);

        // Tiles under a scrolled view are still found where they are drawn.
        strip.setStripMode(StripMode::Thumbnails);
        wheel(strip, -120, 3);
        QTest::mouseClick(&strip, Qt::LeftButton, {}, imageProbe(strip, 3));
        QCOMPARE(activatedIds(activated), (std::vector<PictureId>{kFirstPictureId + 3}));
        QVERIFY(sameColour(grabImage(strip).pixelColor(imageProbe(strip, 3)), kTileColours[3], 2));
    }

    void keepsTheCurrentPictureInView() {
        PictureStripWidget strip;
        showSized(strip, 600, 156);
        addSolidTiles(strip, 10);
        strip.setCurrentPicture(kFirstPictureId + 9);
        QCOMPARE(strip.scrollOffset(), 9 * 128 + 8 + 119 - 600 + 8);
        strip.setCurrentPicture(kFirstPictureId + 1);
        QCOMPARE(strip.scrollOffset(), 128);
        strip.setCurrentPicture(kFirstPictureId);
        QCOMPARE(strip.scrollOffset(), 0);
        strip.setCurrentPicture(kFirstPictureId + 5);
        QCOMPARE(strip.scrollOffset(), 5 * 128 + 8 + 119 - 600 + 8);
        strip.resize(1400, 156);
        QCOMPARE(strip.scrollOffset(), 0);

        strip.clear();
        QCOMPARE(strip.tileCount(), std::size_t{0});
        QCOMPARE(strip.scrollOffset(), 0);
        QCOMPARE(strip.currentPicture(), std::nullopt);
    }

    void drawsTheReferenceHierarchyOfABPyramid() {
        PictureStripWidget strip;
        showHierarchy(strip, 1100, 9, 4);
        const std::vector<std::int32_t> pocs{0, 1, 2, 3, 4, 5, 6, 7, 8};
        // Decode order 0 8 4 2 1 3 6 5 7; the second half names its targets by POC only.
        const std::vector<TestReference> references{
            {8, 1, 0, 0},       {4, 1, 0, 0},       {4, 2, 8, 8},       {2, 1, 0, 0},
            {2, 2, 4, 4},       {1, 1, 0, 0},       {1, 2, 2, 2},       {3, 1, 2, 2},
            {3, 2, {}, 4},      {6, 1, {}, 4},      {6, 2, {}, 8},      {5, 1, {}, 4},
            {5, 2, {}, 6},      {7, 1, {}, 6},      {7, 2, {}, 8},
        };
        strip.setAnalysis(documentOf(picturesUpTo(9), pocs, references));
        const QImage image = grabImage(strip);
        vexilo::test::saveScreenshot(image, QStringLiteral("picture_strip_b_pyramid_hierarchy.png"));

        const QRect node8 = nodeRect(strip, 8);
        QVERIFY(arcDrawn(image, node8, nodeRect(strip, 0), 0, kL0Red));
        QVERIFY(arcDrawn(image, nodeRect(strip, 4), node8, 2, kL1Blue));
        QVERIFY(arcDrawn(image, nodeRect(strip, 1), nodeRect(strip, 2), 6 % 4, kL1Blue));
        QVERIFY(arcDrawn(image, nodeRect(strip, 5), nodeRect(strip, 6), 12 % 4, kL1Blue));
        // The current node is filled and outlined as current.
        QVERIFY(colourNear(image, nodeRect(strip, 4).topLeft() + QPoint(1, 22), kYellow, 10, 1));
        QVERIFY(!colourNear(image, nodeRect(strip, 3).topLeft() + QPoint(1, 22), kYellow, 40, 1));
    }

    void parallelEdgesUseFourLanes() {
        PictureStripWidget strip;
        showHierarchy(strip, 700, 2, 1);
        const std::vector<std::int32_t> pocs{0, 16};
        strip.setAnalysis(documentOf({0, 1}, pocs, {{1, 1, 0, 0}}));
        const QRect from = nodeRect(strip, 1);
        const QRect to = nodeRect(strip, 0);
        QImage image = grabImage(strip);
        QVERIFY(arcDrawn(image, from, to, 0, kL0Red));
        QVERIFY(!arcDrawn(image, from, to, 1, kL0Red));

        // Loading the same picture again replaces its edges rather than adding to them.
        strip.setAnalysis(documentOf({0, 1}, pocs, {{1, 1, 0, 0}}));
        image = grabImage(strip);
        QVERIFY(!arcDrawn(image, from, to, 1, kL0Red));

        strip.setAnalysis(documentOf({0, 1}, pocs, std::vector<TestReference>(5, TestReference{1, 1, 0, 0})));
        image = grabImage(strip);
        for (const int lane : {0, 1, 2, 3}) {
            QVERIFY2(arcDrawn(image, from, to, lane, kL0Red), qPrintable(QStringLiteral("lane %1").arg(lane)));
        }

        strip.clearAnalysis();
        image = grabImage(strip);
        QVERIFY(!arcDrawn(image, from, to, 0, kL0Red));
    }

    void boxesReferencesOutsideTheStrip() {
        PictureStripWidget strip;
        showHierarchy(strip, 700, 2, 1);
        // An L1 reference with neither target id nor POC, and one to a POC no tile has.
        strip.setAnalysis(documentOf({0, 1}, {0, 8}, {{1, 2, {}, {}}, {1, 1, {}, 40}}));
        const QImage image = grabImage(strip);
        vexilo::test::saveScreenshot(image, QStringLiteral("picture_strip_external_references.png"));

        const QRect node = nodeRect(strip, 1);
        const QColor background = strip.palette().color(QPalette::Base).darker(108);
        const QRect firstBox(node.right() + 12, node.bottom() + 8, 158, 22);
        const QRect secondBox = firstBox.translated(0, 26);
        QVERIFY(colourNear(image, firstBox.topRight() + QPoint(-4, 3), vexilo::test::blended(background, kL1Blue, 42),
                           3, 0));
        QVERIFY(colourNear(image, secondBox.topRight() + QPoint(-4, 3), vexilo::test::blended(background, kL0Red, 42),
                           3, 0));
        QVERIFY(!arcDrawn(image, node, nodeRect(strip, 0), 0, kL0Red));
    }

    void keepsThumbnailsWithinTheByteBudget() {
        constexpr std::int64_t kImageBytes = 120 * 68 * 4;
        PictureStripWidget strip;
        showSized(strip, 260, 156);  // tiles 0 and 1 in view
        strip.setThumbnailByteBudget(3 * kImageBytes);
        vexilo::domain::PictureInfo bPicture;
        bPicture.id = kFirstPictureId + 2;
        bPicture.displayIndex = 2;
        bPicture.pictureType = vexilo::domain::PictureType::B;
        strip.addPictures({bPicture});
        addSolidTiles(strip, 3);
        (void)grabImage(strip);  // tiles 0 and 1 are shown, tile 2 is not
        strip.setThumbnail(solidThumbnail(kFirstPictureId + 3, 3, kTileColours[3]));
        QCOMPARE(strip.thumbnailBytes(), 3 * kImageBytes);
        QCOMPARE(strip.tileCount(), std::size_t{4});

        QImage image = grabImage(strip);
        QVERIFY(sameColour(image.pixelColor(imageProbe(strip, 0)), kTileColours[0], 2));
        QVERIFY(sameColour(image.pixelColor(imageProbe(strip, 1)), kTileColours[1], 2));
        wheel(strip, -120, 4);
        image = grabImage(strip);
        vexilo::test::saveScreenshot(image, QStringLiteral("picture_strip_thumbnail_let_go.png"));
        // Let go first, tile 2 shows its picture type instead; tile 3 kept its image.
        QVERIFY(sameColour(image.pixelColor(imageProbe(strip, 2) + QPoint(-40, 0)), QColor(72, 112, 200), 2));
        QVERIFY(sameColour(image.pixelColor(imageProbe(strip, 3)), kTileColours[3], 2));

        strip.setThumbnailByteBudget(0);
        QCOMPARE(strip.thumbnailBytes(), 0);
        QCOMPARE(strip.tileCount(), std::size_t{4});
    }

    // A tile whose thumbnail was let go asks for it once it is painted, once per loss, and the
    // answer shows where the user scrolled to, without the scroll jumping back to the current tile.
    void aTileWithoutItsThumbnailAsksForItOnceWhenInView() {
        PictureStripWidget strip;
        showSized(strip, 260, 156);  // tiles 0 and 1 in view
        addSolidTiles(strip, 6);
        strip.setCurrentPicture(kFirstPictureId);
        QSignalSpy wanted(&strip, &PictureStripWidget::thumbnailWanted);
        strip.setThumbnailByteBudget(0);
        strip.setThumbnailByteBudget(vexilo::kDefaultPictureStripThumbnailBudgetBytes);
        (void)grabImage(strip);
        QTRY_COMPARE(wanted.count(), 2);
        QCOMPARE(wanted.at(0).at(0).value<PictureId>(), kFirstPictureId);
        QCOMPARE(wanted.at(1).at(1).toLongLong(), 1);
        (void)grabImage(strip);
        QTest::qWait(20);
        QCOMPARE(wanted.count(), 2);

        wheel(strip, -120, 4);
        const int scrolled = strip.scrollOffset();
        QVERIFY(scrolled > 0);
        (void)grabImage(strip);
        QTRY_VERIFY(wanted.count() > 2);
        const auto asked = wanted.last().at(0).value<PictureId>();
        const auto displayIndex = static_cast<int>(wanted.last().at(1).toLongLong());
        QCOMPARE(asked, kFirstPictureId + displayIndex);
        strip.restoreThumbnail(solidThumbnail(asked, static_cast<std::uint64_t>(displayIndex), kTileColours[9]));
        strip.restoreThumbnail(solidThumbnail(kFirstPictureId + 40, 40, kTileColours[9]));
        QCOMPARE(strip.scrollOffset(), scrolled);
        QCOMPARE(strip.tileCount(), std::size_t{6});  // a restore adds no tile
        QVERIFY(sameColour(grabImage(strip).pixelColor(imageProbe(strip, displayIndex)), kTileColours[9], 2));

        // Let go again, it asks again; answered at once within a budget too small for even one
        // image, each tile in view asks once, not at every paint the answers cause.
        QObject::connect(&strip, &PictureStripWidget::thumbnailWanted, &strip,
                         [&strip](PictureId pictureId, qint64 index) {
                             strip.restoreThumbnail(solidThumbnail(pictureId, static_cast<std::uint64_t>(index),
                                                                   kTileColours[8]));
                         });
        const qsizetype before = wanted.count();
        strip.setThumbnailByteBudget(0);
        (void)grabImage(strip);
        QTRY_VERIFY(wanted.count() > before);
        QTest::qWait(100);
        (void)grabImage(strip);
        QTest::qWait(100);
        QVERIFY2(wanted.count() - before <= 3, qPrintable(QString::number(wanted.count() - before)));
        QCOMPARE(strip.thumbnailBytes(), 0);
    }

    // Ids need not count the pictures from zero: an id that arrives long before its neighbours,
    // one below zero and one far beyond the rest keep their type and their place.
    void picturesOfAnyIdKeepTheirTypeAndPlace() {
        using vexilo::domain::PictureType;
        constexpr int kOrdinals = 5000;
        constexpr PictureId kHugeId = 5'000'000'000'000;
        struct Picture {
            PictureId id;
            std::int64_t displayIndex;
            PictureType type;
        };
        std::vector<Picture> pictures = {{9000, 0, PictureType::I}};
        for (int ordinal = 0; ordinal < kOrdinals; ++ordinal) {
            pictures.push_back({ordinal, 10 + ordinal, PictureType::B});
        }
        pictures.insert(pictures.end(), {{12000, 1, PictureType::P}, {-5, 2, PictureType::P}, {kHugeId, 3, PictureType::I}});

        PictureStripWidget strip;
        showSized(strip, 600, 156);
        strip.setThumbnailByteBudget(0);  // every tile shows its type
        for (const Picture& picture : pictures) {
            vexilo::domain::PictureInfo info;
            info.id = picture.id;
            info.displayIndex = picture.displayIndex;
            info.pictureType = picture.type;
            strip.addPictures({info});
            strip.setThumbnail(
                solidThumbnail(picture.id, static_cast<std::uint64_t>(picture.displayIndex), kTileColours[0]));
        }
        QCOMPARE(strip.tileCount(), pictures.size());
        const QColor kI(196, 84, 60);
        const QColor kP(64, 150, 96);
        const QColor kB(72, 112, 200);
        QImage image = grabImage(strip);
        int position = 0;
        for (const QColor& expected : {kI, kP, kP, kI, kB}) {
            QVERIFY2(sameColour(image.pixelColor(imageProbe(strip, position) + QPoint(-40, 0)), expected, 2),
                     qPrintable(QStringLiteral("tile %1").arg(position)));
            ++position;
        }

        strip.setCurrentPicture(4000);
        QCOMPARE(strip.scrollOffset(), (4 + 4000) * 128 + 8 + 119 - 600 + 8);
        strip.setCurrentPicture(kHugeId);
        QCOMPARE(strip.scrollOffset(), 3 * 128);
        strip.setCurrentPicture(9000);
        QCOMPARE(strip.scrollOffset(), 0);

        strip.clear();
        vexilo::domain::PictureInfo again;
        again.id = 9000;
        again.pictureType = PictureType::P;
        strip.addPictures({again});
        strip.setThumbnail(solidThumbnail(9000, 0, kTileColours[0]));
        QVERIFY(sameColour(grabImage(strip).pixelColor(imageProbe(strip, 0) + QPoint(-40, 0)), kP, 2));
    }

    void screenshotsOfADecodedStream() {
        const auto pictures = vexilo::test::decodeTestClip("main_420_8bit_gop8.hevc");
        QVERIFY(!pictures.empty());
        PictureStripWidget strip;
        showSized(strip, 1100, 156);
        for (const auto& picture : pictures) {
            strip.setThumbnail(vexilo::test::thumbnailOf(picture));
        }
        QCOMPARE(strip.tileCount(), pictures.size());
        strip.setCurrentPicture(pictures[3].picture.id);
        QImage image = grabImage(strip);
        vexilo::test::saveScreenshot(image, QStringLiteral("picture_strip_thumbnails.png"));
        // The first picture of the clip is not the background.
        QVERIFY(!sameColour(image.pixelColor(imageProbe(strip, 0)),
                            strip.palette().color(QPalette::Base).darker(108), 8));

        // The clip's pyramid (GOP of 8, three B pictures) over its first nine pictures.
        std::vector<std::int32_t> pocs;
        for (std::size_t index = 0; index < pictures.size(); ++index) {
            pocs.push_back(static_cast<std::int32_t>(index));
        }
        std::vector<TestReference> references{{4, 1, 0, 0}, {4, 2, 8, 8}, {2, 1, 0, 0}, {2, 2, 4, 4},
                                              {6, 1, 4, 4}, {6, 2, 8, 8}, {1, 1, 0, 0}, {3, 2, 4, 4},
                                              {8, 1, 0, 0}, {9, 1, {}, 3, analysis::ReferenceStatus::Unavailable}};
        analysis::StreamAnalysis document = documentOf(picturesUpTo(10), pocs, references);
        for (auto& summary : document.pictures) {
            summary.pictureId = static_cast<std::uint64_t>(pictures[summary.pictureId.value() - kFirstPictureId].picture.id);
        }
        for (auto& slice : document.slices) {
            slice.pictureId = static_cast<std::uint64_t>(pictures[slice.pictureId.value() - kFirstPictureId].picture.id);
        }
        for (auto& reference : document.referencePictures) {
            if (reference.targetPictureId) {
                reference.targetPictureId =
                    static_cast<std::uint64_t>(pictures[*reference.targetPictureId - kFirstPictureId].picture.id);
            }
        }
        strip.setStripMode(StripMode::ReferenceHierarchy);
        strip.resize(1100, 240);
        strip.setAnalysis(document);
        image = grabImage(strip);
        vexilo::test::saveScreenshot(image, QStringLiteral("picture_strip_reference_hierarchy.png"));
    }
};

VEXILO_QT_TEST(PictureStripWidgetTest)
#include "PictureStripWidgetTest.moc"
