#include "vexilo/views/PictureStripWidget.h"

#include "PictureIdTable.h"
#include "PictureStripReferences.h"
#include "PictureStripTiles.h"

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/application/PictureThumbnail.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vexilo {
namespace {

using domain::PictureId;

constexpr int kMinimumHeight = 96;
constexpr QSize kSizeHint(520, 156);
constexpr int kMargin = 8;
constexpr int kTileStride = 128;
constexpr int kTileWidth = 120;
constexpr int kMinimumTileHeight = 88;
constexpr int kCaptionTop = 72;
constexpr int kCaptionHeight = 16;
constexpr int kNodeStride = 114;
constexpr int kNodeWidth = 96;
constexpr int kNodeHeight = 44;
constexpr int kWheelStep = 64;
constexpr int kTimelineInset = 14;
constexpr int kTimelineHeight = 8;
constexpr int kTimelineHitMargin = 7;
constexpr int kTimelineLabelGap = 10;
constexpr int kTimelineLabelHeight = 16;
constexpr int kBackgroundDarkerFactor = 108;
constexpr int kExternalBoxWidth = 158;
constexpr int kExternalBoxHeight = 22;
constexpr int kExternalBoxSpacing = 26;

const QString kNoFramesText = QStringLiteral("Decoded picture strip: no frames decoded");
const QString kRunAnalysisText = QStringLiteral("Reference Hierarchy: run Analyze Stream for refs");
const QString kNoReferencesText = QStringLiteral("Reference Hierarchy: no references loaded yet");
const QString kHierarchySummaryText =
    QStringLiteral("Reference Hierarchy: %1 known edges, %2 external refs | L0 red, L1 blue, dashed=missing/unknown");

const QColor kCurrentTileFill(54, 117, 210, 120);
const QColor kTileFill(0, 0, 0, 70);
const QColor kCurrentOutline(255, 230, 80, 255);
const QColor kTileOutline(160, 160, 160, 255);
const QColor kCurrentNodeFill(54, 117, 210, 170);
const QColor kNodeFill(0, 0, 0, 75);
const QColor kNodeOutline(150, 150, 150, 255);
const QColor kCurrentText(255, 255, 255, 255);
const QColor kHitBandFill(0, 0, 0, 35);
const QColor kTimelineBarFill(90, 90, 90, 210);
const QColor kTimelineProgressFill(54, 117, 210, 230);
const QColor kTimelineKnobPen(20, 20, 20, 210);
const QColor kArcLabelFill(0, 0, 0, 130);

struct PictureTypeLook {
    domain::PictureType type;
    QColor fill;
    const char* letter;
};

// How a tile looks once its thumbnail was let go, by picture type; the last row is the fallback.
const PictureTypeLook kPictureTypeLooks[] = {
    {domain::PictureType::I, QColor(196, 84, 60), "I"},
    {domain::PictureType::P, QColor(64, 150, 96), "P"},
    {domain::PictureType::B, QColor(72, 112, 200), "B"},
    {domain::PictureType::None, QColor(96, 96, 96), "?"},
};

const PictureTypeLook& pictureTypeLook(domain::PictureType type) {
    for (const PictureTypeLook& look : kPictureTypeLooks) {
        if (look.type == type) {
            return look;
        }
    }
    return kPictureTypeLooks[std::size(kPictureTypeLooks) - 1];
}

QString referenceListName(std::uint8_t list) {
    switch (list) {
    case kReferenceListL0:
        return QStringLiteral("L0");
    case kReferenceListL1:
        return QStringLiteral("L1");
    default:
        return QStringLiteral("L?");
    }
}

QString referenceStatusName(std::uint8_t status) {
    static const char* const names[] = {"unknown", "available", "missing", "corrupt", "current"};
    return QString::fromLatin1(status < std::size(names) ? names[status] : names[0]);
}

QColor referenceListColour(std::uint8_t list) {
    switch (list) {
    case kReferenceListL0:
        return QColor(220, 64, 64, 255);
    case kReferenceListL1:
        return QColor(74, 132, 230, 255);
    default:
        return QColor(170, 170, 170, 255);
    }
}

bool isDashed(const ReferenceEdge& edge) {
    return edge.status != kReferenceStatusAvailable && edge.status != kReferenceStatusCurrent;
}

QPen strokePen(const QColor& colour, qreal width, bool dashed, bool cosmetic) {
    QPen pen(colour, width, dashed ? Qt::DashLine : Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    pen.setCosmetic(cosmetic);
    return pen;
}

int clampToInt(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

QPoint roundedPoint(QPointF point) {
    return QPoint(clampToInt(std::lround(point.x())), clampToInt(std::lround(point.y())));
}

void drawArrowHead(QPainter& painter, QPointF tip, double angle, const QColor& colour) {
    constexpr double kLength = 7.0;
    constexpr double kSpread = 0.45;
    const QPointF corners[] = {
        tip,
        tip - kLength * QPointF(std::cos(angle - kSpread), std::sin(angle - kSpread)),
        tip - kLength * QPointF(std::cos(angle + kSpread), std::sin(angle + kSpread)),
    };
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPolygon(corners, 3, Qt::OddEvenFill);
}

void drawReferenceArc(QPainter& painter, const QRect& from, const QRect& to, const QColor& colour, bool dashed,
                      const QString& label, int lane) {
    constexpr int kLanes = 4;
    const QPointF start(QRectF(from).center().x(), from.top());
    const QPointF end(QRectF(to).center().x(), to.top());
    const double lift = std::min(std::abs(end.x() - start.x()) / 10.0, 30.0);
    const double peakY = std::max(std::min(from.top(), to.top()) - 12.0 - 9.0 * (lane % kLanes) - lift, 4.0);

    QPainterPath path(start);
    path.cubicTo(QPointF(start.x(), peakY), QPointF(end.x(), peakY), end);
    painter.setPen(strokePen(colour, 2.0, dashed, true));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    drawArrowHead(painter, end, end.x() >= start.x() ? 0.8 : 2.34, colour);

    if (label.isEmpty()) {
        return;
    }
    const QRect labelRect(clampToInt(std::lround((start.x() + end.x()) * 0.5)) - 28,
                          clampToInt(std::lround(peakY - 10.0)), 56, 16);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kArcLabelFill);
    painter.drawRoundedRect(labelRect, 4.0, 4.0);
    painter.setPen(colour.lighter(135));
    painter.drawText(labelRect, Qt::AlignCenter, label);
}

void drawArrowLine(QPainter& painter, QPointF from, QPointF to, const QColor& colour, bool dashed) {
    painter.setPen(strokePen(colour, 2.0, dashed, true));
    painter.drawLine(from, to);
    drawArrowHead(painter, to, std::atan2(to.y() - from.y(), to.x() - from.x()), colour);
}

QString edgeLabel(const ReferenceEdge& edge) {
    QString label = referenceListName(edge.list);
    if (edge.listIndex) {
        label += QString::number(*edge.listIndex);
    }
    return label;
}

QString externalReferenceText(const ReferenceEdge& edge) {
    return QStringLiteral("%1%2 %3 %4")
        .arg(referenceListName(edge.list),
             edge.listIndex ? QStringLiteral("[%1]").arg(*edge.listIndex) : QStringLiteral("[?]"),
             edge.referencedPoc ? QStringLiteral("POC %1").arg(*edge.referencedPoc) : QStringLiteral("POC N/A"),
             referenceStatusName(edge.status));
}

QString pocText(const std::optional<std::int32_t>& poc) {
    return poc ? QStringLiteral("POC %1").arg(*poc) : QStringLiteral("POC N/A");
}

}  // namespace

PictureStripWidget::PictureStripWidget(QWidget* parent)
    : QWidget(parent),
      tiles_(std::make_unique<PictureStripTiles>(kDefaultPictureStripThumbnailBudgetBytes)),
      references_(std::make_unique<PictureStripReferences>()),
      pictureTypes_(std::make_unique<PictureIdTable<domain::PictureType>>()) {
    setObjectName(QStringLiteral("pictureStrip"));
    setMinimumHeight(kMinimumHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

PictureStripWidget::~PictureStripWidget() = default;

QSize PictureStripWidget::sizeHint() const {
    return kSizeHint;
}

std::size_t PictureStripWidget::tileCount() const noexcept {
    return tiles_->size();
}

std::int64_t PictureStripWidget::thumbnailBytes() const noexcept {
    return tiles_->imageBytes();
}

namespace {

// The thumbnail's own copy of its pixels; null for a malformed one (no size, too few bytes).
QImage imageOf(const application::PictureThumbnail& thumbnail) {
    if (thumbnail.width <= 0 || thumbnail.height <= 0 || thumbnail.width > std::numeric_limits<int>::max() / 4) {
        return {};
    }
    const std::uint64_t needed = static_cast<std::uint64_t>(thumbnail.width) *
                                 static_cast<std::uint64_t>(thumbnail.height) * 4U;
    if (thumbnail.rgba.size() < needed) {
        return {};
    }
    return QImage(thumbnail.rgba.data(), thumbnail.width, thumbnail.height, thumbnail.width * 4,
                  QImage::Format_RGBA8888)
        .copy();
}

}  // namespace

void PictureStripWidget::setThumbnail(const application::PictureThumbnail& thumbnail) {
    QImage image = imageOf(thumbnail);
    if (image.isNull()) {
        return;
    }
    tiles_->setThumbnail(thumbnail.pictureId, static_cast<std::int64_t>(thumbnail.displayIndex), std::move(image));
    clampScrollOffset();
    ensureCurrentVisible();
    update();
}

void PictureStripWidget::restoreThumbnail(const application::PictureThumbnail& thumbnail) {
    const std::optional<std::size_t> position = tiles_->positionOf(thumbnail.pictureId);
    QImage image = imageOf(thumbnail);
    if (!position || image.isNull()) {
        return;
    }
    tiles_->restoreImage(*position, std::move(image));
    update();
}

void PictureStripWidget::askForWantedThumbnails() {
    // Taken first: a receiver that answers at once adds tiles' images while this runs.
    const auto wanted = std::exchange(wantedThumbnails_, {});
    for (const auto& [pictureId, displayIndex] : wanted) {
        emit thumbnailWanted(pictureId, displayIndex);
    }
}

void PictureStripWidget::addPictures(const domain::PictureInfoBatch& pictures) {
    for (const domain::PictureInfo& picture : pictures) {
        pictureTypes_->set(picture.id, picture.pictureType);
    }
    update();
}

void PictureStripWidget::setThumbnailByteBudget(std::int64_t bytes) {
    tiles_->setByteBudget(bytes);
    update();
}

void PictureStripWidget::setAnalysis(const analysis::StreamAnalysis& document) {
    references_->merge(document);
    analysisLoaded_ = true;
    update();
}

void PictureStripWidget::clearAnalysis() {
    references_->clear();
    analysisLoaded_ = false;
    update();
}

void PictureStripWidget::clear() {
    tiles_->clear();
    wantedThumbnails_.clear();
    references_->clear();
    pictureTypes_->clear();
    analysisLoaded_ = false;
    currentPicture_.reset();
    scrollOffset_ = 0;
    dragging_ = false;
    scrubbing_ = false;
    lastActivatedPicture_.reset();
    update();
}

void PictureStripWidget::setCurrentPicture(std::optional<PictureId> pictureId) {
    currentPicture_ = pictureId;
    ensureCurrentVisible();
    update();
}

void PictureStripWidget::setStripMode(StripMode mode) {
    if (mode == stripMode_) {
        return;
    }
    stripMode_ = mode;
    clampScrollOffset();
    ensureCurrentVisible();
    update();
}

// ---- geometry

// The label sits on the bar's own row, after its end: above the bar it covered the captions of
// the tiles whenever the strip was too short for both.
QRect PictureStripWidget::timelineBar() const {
    const int labelRoom = timelineLabelWidth() + kTimelineLabelGap;
    return QRect(kTimelineInset, timelineTop(), std::max(width() - 2 * kTimelineInset - labelRoom, 0),
                 kTimelineHeight);
}

// What lies above the timeline needs only its top, not the label's measured width.
int PictureStripWidget::timelineTop() const {
    return std::max(height() - 15, 0);
}

QRect PictureStripWidget::timelineLabelRect() const {
    const QRect bar = timelineBar();
    return QRect(bar.right() + 1 + kTimelineLabelGap, bar.center().y() - kTimelineLabelHeight / 2,
                 timelineLabelWidth(), kTimelineLabelHeight);
}

// Wide enough for the largest position of the stream, so that the bar keeps its length while
// the user steps.
int PictureStripWidget::timelineLabelWidth() const {
    if (tiles_->empty()) {
        return 0;
    }
    return fontMetrics().horizontalAdvance(timelineLabelText(tiles_->size(), tiles_->size()));
}

QString PictureStripWidget::timelineLabelText(std::size_t position, std::size_t count) {
    return QStringLiteral("Timeline %1 / %2").arg(position).arg(count);
}

QRect PictureStripWidget::timelineHitBand() const {
    return timelineBar().adjusted(0, -kTimelineHitMargin, 0, kTimelineHitMargin);
}

QRect PictureStripWidget::hierarchyDrawingArea() const {
    return QRect(0, 0, width(), std::max(timelineTop() - 24, 0));
}

QRect PictureStripWidget::tileRect(std::size_t position) const {
    const std::int64_t left = static_cast<std::int64_t>(position) * kTileStride - scrollOffset_ + kMargin;
    // A strip too short for the least height gives the tiles' height up to the timeline's row.
    const int barTop = timelineTop();
    const int height = std::min(std::max(barTop - 30, kMinimumTileHeight), barTop - kTimelineHitMargin - 1 - kMargin);
    return QRect(clampToInt(left), kMargin, kTileWidth, std::max(height, 1));
}

QRect PictureStripWidget::hierarchyNodeRect(std::size_t position) const {
    const std::int64_t left = static_cast<std::int64_t>(position) * kNodeStride - scrollOffset_ + kMargin;
    const int top = (std::max(timelineTop() - 30, kNodeHeight) - kNodeHeight) / 3 + 12;
    return QRect(clampToInt(left), top, kNodeWidth, kNodeHeight);
}

QRect PictureStripWidget::modeRect(std::size_t position) const {
    return stripMode_ == StripMode::Thumbnails ? tileRect(position) : hierarchyNodeRect(position);
}

int PictureStripWidget::modeStride() const noexcept {
    return stripMode_ == StripMode::Thumbnails ? kTileStride : kNodeStride;
}

int PictureStripWidget::maximumScrollOffset() const {
    if (tiles_->empty()) {
        return 0;
    }
    const std::int64_t contentWidth = static_cast<std::int64_t>(tiles_->size()) * modeStride() + kMargin;
    return clampToInt(std::max<std::int64_t>(contentWidth - width(), 0));
}

// The tiles whose rectangles may reach into the columns [left, right]; a slot wider on each
// side than needed, the callers test the exact rectangles.
PictureStripWidget::TileRange PictureStripWidget::tilesAcross(int left, int right) const {
    const int stride = modeStride();
    const std::int64_t firstColumn = static_cast<std::int64_t>(left) + scrollOffset_ - kMargin;
    const std::int64_t lastColumn = static_cast<std::int64_t>(right) + scrollOffset_ - kMargin;
    const std::int64_t first = std::max<std::int64_t>(firstColumn / stride - 1, 0);
    const std::int64_t last = std::max<std::int64_t>(lastColumn / stride + 2, 0);
    const auto count = static_cast<std::int64_t>(tiles_->size());
    return TileRange{static_cast<std::size_t>(std::min(first, count)), static_cast<std::size_t>(std::min(last, count))};
}

void PictureStripWidget::clampScrollOffset() {
    scrollOffset_ = std::clamp(scrollOffset_, 0, maximumScrollOffset());
}

void PictureStripWidget::ensureCurrentVisible() {
    if (!currentPicture_ || tiles_->empty()) {
        return;
    }
    const std::optional<std::size_t> position = tiles_->positionOf(*currentPicture_);
    if (!position) {
        return;
    }
    const QRect rect = modeRect(*position);
    const int right = rect.left() + rect.width() - 1;
    if (rect.left() < kMargin) {
        scrollOffset_ = std::max(scrollOffset_ - kMargin + rect.left(), 0);
    } else if (right > width() - kMargin) {
        scrollOffset_ = std::min(scrollOffset_ - width() + right + kMargin, maximumScrollOffset());
    }
    clampScrollOffset();
}

bool PictureStripWidget::isCurrent(std::size_t position) const {
    return currentPicture_ && tiles_->at(position).pictureId == *currentPicture_;
}

// ---- pointing

int PictureStripWidget::pictureIndexAt(QPointF point) const {
    const QPoint rounded = roundedPoint(point);
    const TileRange range = tilesAcross(rounded.x(), rounded.x());
    for (std::size_t position = range.first; position < range.last; ++position) {
        if (modeRect(position).contains(rounded)) {
            return static_cast<int>(position);
        }
    }
    return -1;
}

int PictureStripWidget::timelineIndexAt(QPointF point) const {
    const QRect bar = timelineBar();
    if (tiles_->empty() || !timelineHitBand().contains(roundedPoint(point)) || bar.width() < 1) {
        return -1;
    }
    const double fraction = std::clamp((point.x() - bar.left()) / std::max(bar.width(), 1), 0.0, 1.0);
    const auto lastIndex = static_cast<long>(tiles_->size()) - 1;
    return static_cast<int>(std::clamp(std::lround(static_cast<double>(lastIndex) * fraction), 0L, lastIndex));
}

void PictureStripWidget::scrubToPosition(QPointF point) {
    const int index = timelineIndexAt(point);
    if (index < 0) {
        return;
    }
    const PictureId pictureId = tiles_->at(static_cast<std::size_t>(index)).pictureId;
    if (lastActivatedPicture_ != pictureId) {
        activate(pictureId);
    }
}

void PictureStripWidget::activate(PictureId pictureId) {
    lastActivatedPicture_ = pictureId;
    emit pictureActivated(pictureId);
}

void PictureStripWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    dragging_ = true;
    if (timelineHitBand().contains(roundedPoint(event->position()))) {
        scrubbing_ = true;
        scrubToPosition(event->position());
        event->accept();
        return;
    }
    scrubbing_ = false;
    lastActivatedPicture_.reset();
    const int index = pictureIndexAt(event->position());
    if (index >= 0) {
        activate(tiles_->at(static_cast<std::size_t>(index)).pictureId);
    }
    event->accept();
}

void PictureStripWidget::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    if (scrubbing_) {
        scrubToPosition(event->position());
        event->accept();
        return;
    }
    const int index = pictureIndexAt(event->position());
    if (index >= 0) {
        const PictureId pictureId = tiles_->at(static_cast<std::size_t>(index)).pictureId;
        if (lastActivatedPicture_ != pictureId) {
            activate(pictureId);
        }
    }
    update();
    event->accept();
}

void PictureStripWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dragging_ = false;
    scrubbing_ = false;
    lastActivatedPicture_.reset();
    event->accept();
}

void PictureStripWidget::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        QWidget::wheelEvent(event);
        return;
    }
    scrollOffset_ += delta > 0 ? -kWheelStep : kWheelStep;
    clampScrollOffset();
    update();
    event->accept();
}

void PictureStripWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    clampScrollOffset();
    ensureCurrentVisible();
}

// ---- painting

void PictureStripWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base).darker(kBackgroundDarkerFactor));
    if (tiles_->empty()) {
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        painter.drawText(rect(), Qt::AlignCenter, kNoFramesText);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (stripMode_ == StripMode::Thumbnails) {
        paintThumbnails(painter);
    } else {
        paintReferenceHierarchy(painter);
    }
    paintTimeline(painter);
}

void PictureStripWidget::paintThumbnails(QPainter& painter) {
    const TileRange range = tilesAcross(0, width());
    for (std::size_t position = range.first; position < range.last; ++position) {
        const QRect tile = tileRect(position);
        if (!tile.intersects(rect())) {
            continue;
        }
        const bool current = isCurrent(position);
        const PictureStripTile& record = tiles_->at(position);
        painter.fillRect(tile, current ? kCurrentTileFill : kTileFill);

        const QRect imageRect = tile.adjusted(3, 3, -3, -19);
        const QImage* image = tiles_->imageAt(position);
        if (image == nullptr) {
            paintPictureTypeTile(painter, imageRect, record.pictureId);
            if (tiles_->askForImageOnce(position)) {
                if (wantedThumbnails_.empty()) {
                    // Asked after the paint, so that no answer changes the tiles being painted.
                    QMetaObject::invokeMethod(this, &PictureStripWidget::askForWantedThumbnails, Qt::QueuedConnection);
                }
                wantedThumbnails_.emplace_back(record.pictureId, record.displayIndex);
            }
        } else {
            painter.drawImage(imageRect, *image);
            tiles_->markShown(position);
        }
        painter.setPen(strokePen(current ? kCurrentOutline : kTileOutline, current ? 3 : 1, false, true));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(imageRect);

        painter.setPen(current ? kCurrentText : palette().color(QPalette::Text));
        // A tile shortened for the timeline keeps its caption inside it.
        const int captionTop = std::min(kCaptionTop, tile.height() - kCaptionHeight);
        painter.drawText(tile.adjusted(4, captionTop, -4, -3), Qt::AlignCenter,
                         QStringLiteral("#%1").arg(record.displayIndex));
    }
}

void PictureStripWidget::paintPictureTypeTile(QPainter& painter, const QRect& imageRect, PictureId pictureId) const {
    const domain::PictureType* known = pictureTypes_->find(pictureId);
    const PictureTypeLook& look = pictureTypeLook(known == nullptr ? domain::PictureType::None : *known);
    painter.fillRect(imageRect, look.fill);
    painter.setPen(kCurrentText);
    painter.drawText(imageRect, Qt::AlignCenter, QString::fromLatin1(look.letter));
}

void PictureStripWidget::paintReferenceHierarchy(QPainter& painter) {
    const QRect area = hierarchyDrawingArea();
    const QRect edgeBand = area.adjusted(-kNodeWidth, -kNodeHeight, kNodeWidth, 4);
    const QRect nodeBand = area.adjusted(-kNodeWidth, 0, kNodeWidth, 0);
    const TileRange range = tilesAcross(-kNodeWidth, width() + kNodeWidth);
    const std::vector<std::size_t> edges =
        analysisLoaded_ ? references_->edgesTouchingTiles(*tiles_, range.first, range.last) : std::vector<std::size_t>{};

    int knownEdges = 0;
    int externalRefs = 0;
    for (const std::size_t edgePosition : edges) {
        const ReferenceEdge& edge = references_->edges()[edgePosition];
        const std::optional<std::size_t> source =
            edge.sourcePictureId ? tiles_->positionOf(*edge.sourcePictureId) : std::nullopt;
        if (!source) {
            continue;
        }
        const QRect sourceNode = hierarchyNodeRect(*source);
        const bool sourceVisible = sourceNode.intersects(edgeBand);
        const std::optional<std::size_t> target = references_->targetTileOf(edge, *tiles_);
        if (!target) {
            externalRefs += sourceVisible ? 1 : 0;
            continue;
        }
        const QRect targetNode = hierarchyNodeRect(*target);
        if (sourceVisible || targetNode.intersects(edgeBand)) {
            drawReferenceArc(painter, sourceNode, targetNode, referenceListColour(edge.list), isDashed(edge),
                             edgeLabel(edge), knownEdges);
            ++knownEdges;
        }
    }

    for (std::size_t position = range.first; position < range.last; ++position) {
        if (hierarchyNodeRect(position).intersects(nodeBand)) {
            paintHierarchyNode(painter, position);
        }
    }

    const QColor hintColour = palette().color(QPalette::Disabled, QPalette::Text);
    painter.setPen(hintColour);
    const QRect messageRect = area.adjusted(12, 4, -12, -4);
    if (!analysisLoaded_ || !currentPicture_) {
        painter.drawText(messageRect, Qt::AlignRight | Qt::AlignTop, kRunAnalysisText);
        return;
    }
    if (references_->edges().empty()) {
        painter.drawText(messageRect, Qt::AlignRight | Qt::AlignTop, kNoReferencesText);
    }
    paintExternalReferences(painter, edges);

    painter.setPen(hintColour);
    painter.drawText(QRect(12, area.bottom() - 18, width() - 24, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     kHierarchySummaryText.arg(knownEdges).arg(externalRefs));
}

void PictureStripWidget::paintHierarchyNode(QPainter& painter, std::size_t position) {
    constexpr qreal kRadius = 7.0;
    const QRect node = hierarchyNodeRect(position);
    const bool current = isCurrent(position);
    painter.setPen(Qt::NoPen);
    painter.setBrush(current ? kCurrentNodeFill : kNodeFill);
    painter.drawRoundedRect(node, kRadius, kRadius);

    painter.setBrush(Qt::NoBrush);
    painter.setPen(strokePen(current ? kCurrentOutline : kNodeOutline, current ? 3 : 1, false, true));
    painter.drawRoundedRect(node.adjusted(1, 1, -1, -1), kRadius, kRadius);

    painter.setPen(current ? kCurrentText : palette().color(QPalette::Text));
    painter.drawText(node.adjusted(5, 3, -5, -22), Qt::AlignCenter,
                     QStringLiteral("Pic #%1").arg(tiles_->at(position).displayIndex));
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    painter.drawText(node.adjusted(5, 21, -5, -4), Qt::AlignCenter, nodePocText(position));
}

QString PictureStripWidget::nodePocText(std::size_t position) {
    if (!analysisLoaded_) {
        return pocText(std::nullopt);
    }
    const PictureId pictureId = tiles_->at(position).pictureId;
    if (const auto record = references_->pictureRecordPoc(pictureId)) {
        return pocText(*record);
    }
    if (isCurrent(position)) {
        const auto slice = references_->firstSlicePoc(pictureId);
        if (slice && *slice) {
            return pocText(*slice);
        }
    }
    return pocText(std::nullopt);
}

void PictureStripWidget::paintExternalReferences(QPainter& painter, const std::vector<std::size_t>& edges) {
    const QRect area = hierarchyDrawingArea();
    const QRect nodeBand = area.adjusted(-kNodeWidth, 0, kNodeWidth, 0);
    std::unordered_map<std::size_t, int> boxesBelow;
    for (const std::size_t edgePosition : edges) {
        const ReferenceEdge& edge = references_->edges()[edgePosition];
        const std::optional<std::size_t> source =
            edge.sourcePictureId ? tiles_->positionOf(*edge.sourcePictureId) : std::nullopt;
        if (!source || references_->targetTileOf(edge, *tiles_)) {
            continue;
        }
        const QRect node = hierarchyNodeRect(*source);
        if (!node.intersects(nodeBand)) {
            continue;
        }
        int& boxes = boxesBelow[*source];
        const int y0 = node.bottom() + boxes * kExternalBoxSpacing;
        if (y0 + 30 > area.bottom()) {
            continue;
        }
        const int preferredX = node.center().x() < width() / 2 ? node.right() + 12 : node.left() - 170;
        const int x = std::clamp(preferredX, kMargin, std::max(width() - 166, kMargin));
        const QRect box(x, y0 + 8, kExternalBoxWidth, kExternalBoxHeight);
        const QColor colour = referenceListColour(edge.list);
        QColor fill = colour;
        fill.setAlpha(42);
        painter.setPen(strokePen(colour, 1.0, isDashed(edge), true));
        painter.setBrush(fill);
        painter.drawRoundedRect(box, 5.0, 5.0);
        painter.setPen(colour.lighter(130));
        painter.drawText(box.adjusted(6, 1, -6, -1), Qt::AlignLeft | Qt::AlignVCenter, externalReferenceText(edge));
        drawArrowLine(painter, QPointF(node.center().x(), node.bottom()), QPointF(box.center().x(), box.top()), colour,
                      isDashed(edge));
        ++boxes;
    }
}

void PictureStripWidget::paintTimeline(QPainter& painter) {
    constexpr qreal kBarRadius = 4.0;
    constexpr qreal kKnobRadius = 7.0;
    const QRect bar = timelineBar();
    painter.fillRect(timelineHitBand(), kHitBandFill);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kTimelineBarFill);
    painter.drawRoundedRect(bar, kBarRadius, kBarRadius);

    const std::size_t count = tiles_->size();
    QString text = timelineLabelText(0, count);
    const std::optional<std::size_t> current = currentPicture_ ? tiles_->positionOf(*currentPicture_) : std::nullopt;
    if (current) {
        const double fraction = count == 1 ? 0.0 : static_cast<double>(*current) / static_cast<double>(count - 1);
        const int x = bar.left() + clampToInt(std::lround(bar.width() * fraction));
        QRect progress = bar;
        progress.setRight(x);
        painter.setBrush(kTimelineProgressFill);
        painter.drawRoundedRect(progress, kBarRadius, kBarRadius);
        painter.setBrush(kCurrentOutline);
        painter.setPen(strokePen(kTimelineKnobPen, 1.0, false, false));
        painter.drawEllipse(QPointF(x, QRectF(bar).center().y()), kKnobRadius, kKnobRadius);
        text = timelineLabelText(*current + 1, count);
    }
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(timelineLabelRect(), Qt::AlignRight | Qt::AlignVCenter, text);
}

}  // namespace vexilo
