// The FrameViewer's block inspection: hover and lock hit tests, clicks, pan drag and Escape.
#include "vexilo/views/FrameViewer.h"

#include "FrameViewerSupport.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <cmath>

namespace vexilo {
namespace {

using analysis::StableId;

const QString kHoverBlock = QStringLiteral("Hover HEVC block");
const QString kLockedBlock = QStringLiteral("Locked HEVC block");
const QString kHoverCell = QStringLiteral("Hover fallback grid cell");
const QString kLockedCell = QStringLiteral("Locked fallback grid cell");
const QString kLumaSampleText = QStringLiteral("x=%1 y=%2 unit=luma-sample");
const QString kFallbackCellText = QStringLiteral("x=%1 y=%2 w=%3 h=%4 cell=64x64 fallback");
const QString kMoveToInspect = QStringLiteral("Move the mouse over the frame to inspect block info");
const QString kLockCleared = QStringLiteral("Block lock cleared; move the mouse over the frame to inspect");
const QString kNoPictureSelected = QStringLiteral("No picture selected");
const QString kHeatmapSummary = QStringLiteral("%1 block  x=%2 y=%3 size=%4x%5  %6 %7=%8");
const QString kDefaultHeatmapLabel = QStringLiteral("Quality");

constexpr int kFallbackCellSize = 64;
constexpr double kMotionVectorPickDistance = 5.0;
constexpr double kDegenerateSegment = 0.0001;

StableId innermostId(const BlockIds& ids)
{
    for (const StableId& id : {ids.tuId, ids.puId, ids.cuId}) {
        if (!id.isNull()) {
            return id;
        }
    }
    return ids.ctuId;
}

double distanceToSegment(QPointF p, QPointF a, QPointF b)
{
    const QPointF ab = b - a;
    const double lengthSquared = QPointF::dotProduct(ab, ab);
    if (lengthSquared <= kDegenerateSegment) {
        return std::hypot(p.x() - a.x(), p.y() - a.y());
    }
    const double t = std::clamp(QPointF::dotProduct(p - a, ab) / lengthSquared, 0.0, 1.0);
    const QPointF nearest = a + t * ab;
    return std::hypot(p.x() - nearest.x(), p.y() - nearest.y());
}

QString metricValueText(std::optional<double> value)
{
    if (!value) {
        return QStringLiteral("N/A");
    }
    if (std::isinf(*value)) {
        return QStringLiteral("inf");
    }
    return QString::number(*value, 'f', 3);
}

}  // namespace

void FrameViewer::clearInspectionState()
{
    hoveredObject_.reset();
    hoverBlock_ = {};
    lockBlock_ = {};
    hoverCell_ = {};
    lockCell_ = {};
    locked_ = false;
    if (dragging_) {
        unsetCursor();
    }
    dragging_ = false;
    pressPending_ = false;
}

bool FrameViewer::isInsideImage(QPointF point, QPointF& imagePoint) const
{
    if (!hasFrame() || !imageTargetRect().contains(point)) {
        return false;
    }
    imagePoint = widgetToImage(point);
    return imagePoint.x() >= 0.0 && imagePoint.y() >= 0.0 && imagePoint.x() < frame_->width &&
           imagePoint.y() < frame_->height;
}

namespace {

QPoint lumaSampleOf(QPointF imagePoint, int width, int height)
{
    return {std::clamp(static_cast<int>(std::floor(imagePoint.x())), 0, width - 1),
            std::clamp(static_cast<int>(std::floor(imagePoint.y())), 0, height - 1)};
}

}  // namespace

FrameViewer::BlockHit FrameViewer::blockAt(QPointF point) const
{
    QPointF imagePoint;
    if (overlays_.records().empty() || !isInsideImage(point, imagePoint)) {
        return {};
    }
    BlockHit hit;
    hit.lumaSample = lumaSampleOf(imagePoint, frame_->width, frame_->height);
    hit.ids = overlays_.smallestBlocksAt(imagePoint);
    hit.valid = hit.ids.any();
    return hit;
}

FrameViewer::FallbackCell FrameViewer::fallbackCellAt(QPointF point) const
{
    QPointF imagePoint;
    if (!isInsideImage(point, imagePoint)) {
        return {};
    }
    FallbackCell cell;
    cell.lumaSample = lumaSampleOf(imagePoint, frame_->width, frame_->height);
    const int cellX = cell.lumaSample.x() / kFallbackCellSize * kFallbackCellSize;
    const int cellY = cell.lumaSample.y() / kFallbackCellSize * kFallbackCellSize;
    cell.cell = QRect(cellX, cellY, std::min(frame_->width - cellX, kFallbackCellSize),
                      std::min(frame_->height - cellY, kFallbackCellSize));
    cell.valid = true;
    return cell;
}

std::optional<StableId> FrameViewer::objectAt(QPointF point) const
{
    if (layerEnabled(OverlayKind::MotionVector)) {
        const QRectF target = imageTargetRect();
        const double scale = displayScale();
        const std::vector<MotionVectorRecord>& vectors = overlays_.motionVectors();
        for (auto vector = vectors.rbegin(); vector != vectors.rend(); ++vector) {
            const QPointF a = target.topLeft() + vector->start * scale;
            const QPointF b = target.topLeft() + (vector->start + vector->delta) * scale;
            if (distanceToSegment(point, a, b) <= kMotionVectorPickDistance) {
                return vector->objectId;
            }
        }
    }
    if (const std::optional<std::size_t> record = overlays_.lastRecordAt(widgetToImage(point), layers_)) {
        return overlays_.records()[*record].objectId;
    }
    return std::nullopt;
}

void FrameViewer::emitBlockInfoAvailable(const QString& interaction, const BlockHit& hit)
{
    emit blockInfoAvailable(interaction, QString::number(frame_ != nullptr ? frame_->index : 0),
                            QString::number(displayIndex_),
                            kLumaSampleText.arg(hit.lumaSample.x()).arg(hit.lumaSample.y()), hit.ids.ctuId,
                            hit.ids.cuId, hit.ids.puId, hit.ids.tuId);
}

void FrameViewer::emitBlockInfoUnavailable(const QString& interaction, const FallbackCell& cell)
{
    emit blockInfoUnavailable(interaction, QString::number(frame_ != nullptr ? frame_->index : 0),
                              QString::number(displayIndex_),
                              kLumaSampleText.arg(cell.lumaSample.x()).arg(cell.lumaSample.y()),
                              kFallbackCellText.arg(cell.cell.x())
                                  .arg(cell.cell.y())
                                  .arg(cell.cell.width())
                                  .arg(cell.cell.height()));
}

void FrameViewer::updateHover(QPointF point)
{
    if (locked_) {
        return;
    }
    if (!hasFrame()) {
        clearHover(kNoPictureSelected);
        return;
    }
    if (const BlockHit hit = blockAt(point); hit.valid) {
        if (hoverBlock_.valid && hoverBlock_.lumaSample == hit.lumaSample && hoverBlock_.ids == hit.ids &&
            !hoverCell_.valid) {
            return;
        }
        hoverBlock_ = hit;
        hoveredObject_ = innermostId(hit.ids);
        hoverCell_ = {};
        update();
        emitBlockInfoAvailable(kHoverBlock, hit);
        return;
    }
    if (const FallbackCell cell = fallbackCellAt(point); cell.valid) {
        if (hoverCell_.valid && hoverCell_.lumaSample == cell.lumaSample && hoverCell_.cell == cell.cell &&
            !hoveredObject_ && !hoverBlock_.valid) {
            return;
        }
        hoveredObject_.reset();
        hoverBlock_ = {};
        hoverCell_ = cell;
        update();
        emitBlockInfoUnavailable(kHoverCell, cell);
        return;
    }
    clearHover(kMoveToInspect);
}

void FrameViewer::clearHover(const QString& message)
{
    if (locked_) {
        return;
    }
    if (hoveredObject_ || hoverBlock_.valid || hoverCell_.valid) {
        hoveredObject_.reset();
        hoverBlock_ = {};
        hoverCell_ = {};
        update();
        emit blockInfoCleared(message);
    }
}

QString FrameViewer::heatmapSummary(const media::RegionQualityMetrics& cell) const
{
    return kHeatmapSummary.arg(heatmapLabel_.isEmpty() ? kDefaultHeatmapLabel : heatmapLabel_)
        .arg(cell.x)
        .arg(cell.y)
        .arg(cell.width)
        .arg(cell.height)
        .arg(qualityMetricPlaneName(heatmapPlane_), qualityMetricKindName(heatmapKind_),
             metricValueText(chosenHeatmapValue(cell, heatmapKind_, heatmapPlane_)));
}

bool FrameViewer::selectHeatmapCellAt(QPointF point)
{
    if (!layerEnabled(OverlayKind::QualityHeatmap) || heatmapCells_.empty()) {
        return false;
    }
    const QPointF imagePoint = widgetToImage(point);
    for (std::size_t index = heatmapCells_.size(); index-- > 0;) {
        const media::RegionQualityMetrics& cell = heatmapCells_[index];
        if (QRectF(cell.x, cell.y, cell.width, cell.height).contains(imagePoint)) {
            selectedHeatmapCell_ = index;
            update();
            emit qualityHeatmapBlockSelected(heatmapSummary(cell));
            return true;
        }
    }
    return false;
}

void FrameViewer::lockBlock(const BlockHit& hit)
{
    const StableId innermost = innermostId(hit.ids);
    selectedObject_ = innermost;
    hoveredObject_.reset();
    hoverBlock_ = {};
    lockBlock_ = hit;
    hoverCell_ = {};
    lockCell_ = {};
    locked_ = true;
    update();
    emit analysisObjectSelected(innermost);
    emitBlockInfoAvailable(kLockedBlock, hit);
}

void FrameViewer::lockObject(const StableId& objectId)
{
    selectedObject_ = objectId;
    hoveredObject_.reset();
    hoverBlock_ = {};
    lockBlock_ = {};
    hoverCell_ = {};
    lockCell_ = {};
    locked_ = true;
    update();
    emit analysisObjectSelected(objectId);
}

void FrameViewer::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !hasFrame()) {
        QOpenGLWidget::mousePressEvent(event);
        return;
    }
    // Nothing is chosen at the press: it may still become a pan, and zoomed in over an analysed
    // picture every point is some block, so locking here would leave nothing to drag.
    const QPointF point = event->position();
    event->accept();
    pressPending_ = true;
    pressPosition_ = point;
    lastDragPosition_ = point;
}

void FrameViewer::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF point = event->position();
    if (pressPending_ && !dragging_) {
        const QPointF moved = point - pressPosition_;
        if (std::abs(moved.x()) + std::abs(moved.y()) >= QApplication::startDragDistance()) {
            dragging_ = true;
            pressPending_ = false;
            setCursor(Qt::ClosedHandCursor);
        }
    }
    if (dragging_) {
        panOffset_ += point - lastDragPosition_;
        lastDragPosition_ = point;
        update();
        emit viewTransformChanged();
        event->accept();
        return;
    }
    if (event->buttons().testFlag(Qt::LeftButton)) {
        QOpenGLWidget::mouseMoveEvent(event);
        return;
    }
    updateHover(point);
    event->accept();
}

bool FrameViewer::lockBlockOrObjectAt(QPointF point)
{
    if (const BlockHit hit = blockAt(point); hit.valid) {
        lockBlock(hit);
        return true;
    }
    if (const std::optional<StableId> object = objectAt(point)) {
        lockObject(*object);
        return true;
    }
    return false;
}

void FrameViewer::lockAtRelease(QPointF point)
{
    if (lockBlockOrObjectAt(point)) {
        return;
    }
    selectedObject_.reset();
    hoveredObject_.reset();
    hoverCell_ = {};
    if (const FallbackCell cell = fallbackCellAt(point); cell.valid) {
        lockCell_ = cell;
        locked_ = true;
        update();
        emitBlockInfoUnavailable(kLockedCell, cell);
        return;
    }
    locked_ = false;
    hoverBlock_ = {};
    lockBlock_ = {};
    lockCell_ = {};
    update();
    emit blockInfoCleared(kMoveToInspect);
}

void FrameViewer::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && pressPending_) {
        pressPending_ = false;
        if (!selectHeatmapCellAt(event->position())) {
            lockAtRelease(event->position());
        }
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton && dragging_) {
        dragging_ = false;
        unsetCursor();
        event->accept();
        return;
    }
    QOpenGLWidget::mouseReleaseEvent(event);
}

void FrameViewer::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Escape || !locked_) {
        QOpenGLWidget::keyPressEvent(event);
        return;
    }
    locked_ = false;
    selectedObject_.reset();
    hoverBlock_ = {};
    lockBlock_ = {};
    lockCell_ = {};
    update();
    emit blockInfoCleared(kLockCleared);
    event->accept();
}

void FrameViewer::leaveEvent(QEvent* event)
{
    clearHover(kMoveToInspect);
    QOpenGLWidget::leaveEvent(event);
}

}  // namespace vexilo
