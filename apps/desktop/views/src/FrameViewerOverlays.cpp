// The FrameViewer's overlays: the records it draws over the image, the heat map, highlights,
// legend and status line.
#include "vexilo/views/FrameViewer.h"

#include "FrameViewerSupport.h"
#include "OverlayRaster.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>

namespace vexilo {
namespace {

using analysis::StableId;

const QString kOverlayNoPicture = QStringLiteral("Overlay inactive: no picture selected");
const QString kOverlayAllDisabled = QStringLiteral("Overlay inactive: all layers disabled");
const QString kOverlayRunPictureStructure = QStringLiteral(
    "Overlay data unavailable for enabled layers on this picture: run Tools > Analyze Current Picture Structure");
const QString kOverlayRunStreamAnalysis = QStringLiteral("Overlay data unavailable: run Tools > Analyze Stream first");
const QString kOverlayReady = QStringLiteral("Overlay ready: CTU=%1 CU=%2 TU=%3 PU=%4 QP blocks=%5 MV=%6 Quality=%7");
const QString kLegendQpMap = QStringLiteral("QP Map: fixed [-48,51], known=%1 unknown=%2");
const QString kLegendHeatmap =
    QStringLiteral("Quality Heatmap: %1 %2, PSNR [20,50] dB, SSIM [0,1], MSE [0,100], blocks=%3");

// The outline layers: kind, colour, line style and legend line.
struct OutlineStyle {
    OverlayKind kind;
    QColor colour;
    std::span<const double> pattern;
    const char* legend;
};
const std::array<OutlineStyle, kOutlineKindCount> kOutlineStyles{{
    {OverlayKind::Ctu, QColor(255, 210, 64, 220), OverlayRaster::kSolid, "CTU: yellow solid"},
    {OverlayKind::Cu, QColor(48, 170, 255, 220), OverlayRaster::kDash, "CU: blue dashed"},
    {OverlayKind::Tu, QColor(170, 96, 255, 220), OverlayRaster::kDot, "TU: purple dotted"},
    {OverlayKind::Pu, QColor(64, 230, 128, 220), OverlayRaster::kDashDot, "PU: green dash-dot"},
}};
const char* const kLegendMotionVectors = "MV: L0 red, L1 blue, quarter-luma -> /4 samples";

const QColor kNoValueFill(120, 120, 120, 105);
const QColor kInfinitePsnrFill(0, 210, 90, 125);
const QColor kSelectedCellOutline(255, 255, 255, 230);
const QColor kUnknownQpOutline(230, 230, 230, 120);
const QColor kMotionVectorL0(255, 80, 80, 230);
const QColor kMotionVectorL1(80, 160, 255, 230);
const QColor kMotionVectorOther(255, 255, 255, 220);
const QColor kMotionVectorUnavailable(170, 170, 170, 210);
const QColor kHoverHighlight(255, 170, 48, 245);
const QColor kSelectedHighlight(255, 255, 255, 255);
const QColor kLockedCell(255, 255, 255, 245);
const QColor kHoveredCell(255, 170, 48, 245);
const QColor kLegendFill(0, 0, 0, 145);
const QColor kLegendOutline(255, 255, 255, 230);

constexpr float kPsnrLow = 20.0F;
constexpr float kPsnrSpan = 30.0F;
constexpr float kMseSpan = 100.0F;
constexpr float kHeatAlpha = 0.48F;
constexpr float kHeatBlue = 0.08F;
constexpr int kLowestQp = -48;
constexpr int kHighestQp = 51;
constexpr std::uint8_t kParsed = 1;
constexpr std::uint8_t kListL0 = 1;
constexpr std::uint8_t kListL1 = 2;
constexpr std::uint8_t kReferenceAvailable = 1;
constexpr double kZeroVectorLength = 0.5;
constexpr double kZeroVectorRadius = 2.0;
constexpr double kArrowHeadPixels = 8.0;
constexpr double kArrowHeadMinimum = 6.0;
constexpr double kArrowHeadSpread = 0.45;
constexpr int kFallbackCellFillAlpha = 36;
constexpr int kLegendMargin = 12;
constexpr int kLegendPaddingX = 8;
constexpr int kLegendPaddingY = 6;
constexpr int kLegendMinimumWidth = 260;
constexpr double kImageLayerAreaFactor = 2.0;
constexpr double kMaxImageLayerSide = 8192.0;
constexpr int kImageLayerMargin = 96;

QPen squareCapPen(const QColor& colour, int width)
{
    QPen pen(colour, width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    pen.setCosmetic(true);
    return pen;
}

QPen highlightPen(const QColor& colour, int width)
{
    QPen pen(colour, width, Qt::SolidLine);
    pen.setCosmetic(true);
    return pen;
}

const media::PlaneQualityMetrics& planeOf(const media::RegionQualityMetrics& cell, FrameViewer::QualityMetricPlane plane)
{
    switch (plane) {
    case FrameViewer::PlaneY:
        return cell.yMetrics;
    case FrameViewer::PlaneU:
        return cell.uMetrics;
    case FrameViewer::PlaneV:
        return cell.vMetrics;
    case FrameViewer::PlaneAll:
        break;
    }
    return cell.allMetrics;
}

std::optional<double> metricOf(const media::PlaneQualityMetrics& metrics, FrameViewer::QualityMetricKind kind)
{
    if (metrics.status != media::QualityMetricStatus::Available) {
        return std::nullopt;
    }
    switch (kind) {
    case FrameViewer::Psnr:
        return metrics.psnr;
    case FrameViewer::Ssim:
        return metrics.ssim;
    case FrameViewer::Mse:
        break;
    }
    return metrics.mse;
}

QColor heatColour(std::optional<double> value, FrameViewer::QualityMetricKind kind)
{
    if (!value) {
        return kNoValueFill;
    }
    if (kind == FrameViewer::Psnr && std::isinf(*value) && *value > 0.0) {
        return kInfinitePsnrFill;
    }
    const auto metric = static_cast<float>(*value);
    float t = 0.0F;
    switch (kind) {
    case FrameViewer::Psnr:
        t = std::clamp((metric - kPsnrLow) / kPsnrSpan, 0.0F, 1.0F);
        break;
    case FrameViewer::Ssim:
        t = std::clamp(metric, 0.0F, 1.0F);
        break;
    case FrameViewer::Mse:
        t = std::clamp(metric / kMseSpan, 0.0F, 1.0F);
        return QColor::fromRgbF(t, 1.0F - t, kHeatBlue, kHeatAlpha);
    }
    return QColor::fromRgbF(1.0F - t, t, kHeatBlue, kHeatAlpha);
}

QColor qpColour(int qp)
{
    const auto q = static_cast<float>(qp);
    const float hue = ((1.0F - (q - static_cast<float>(kLowestQp)) / 99.0F) * 240.0F) / 360.0F;
    return QColor::fromHsvF(hue, 0.85F, 0.95F, 0.42F);
}

// The fill of every QP, made once: a dense picture has a hundred thousand QP blocks, and each
// zoom step fills them all again.
std::uint32_t qpFill(std::int16_t qp)
{
    static const std::array<std::uint32_t, kHighestQp - kLowestQp + 1> fills = [] {
        std::array<std::uint32_t, kHighestQp - kLowestQp + 1> table{};
        for (int value = kLowestQp; value <= kHighestQp; ++value) {
            table[static_cast<std::size_t>(value - kLowestQp)] = OverlayRaster::premultiplied(qpColour(value));
        }
        return table;
    }();
    return fills[static_cast<std::size_t>(std::clamp<int>(qp, kLowestQp, kHighestQp) - kLowestQp)];
}

QColor motionVectorColour(const MotionVectorRecord& vector)
{
    if (vector.referenceStatus && *vector.referenceStatus != kReferenceAvailable) {
        return kMotionVectorUnavailable;
    }
    return vector.list == kListL0 ? kMotionVectorL0 : vector.list == kListL1 ? kMotionVectorL1 : kMotionVectorOther;
}

}  // namespace

QString qualityMetricPlaneName(FrameViewer::QualityMetricPlane plane)
{
    static const std::array<QString, 4> names{QStringLiteral("Y"), QStringLiteral("U"), QStringLiteral("V"),
                                              QStringLiteral("All")};
    return names[static_cast<std::size_t>(plane)];
}

QString qualityMetricKindName(FrameViewer::QualityMetricKind kind)
{
    static const std::array<QString, 3> names{QStringLiteral("PSNR"), QStringLiteral("SSIM"), QStringLiteral("MSE")};
    return names[static_cast<std::size_t>(kind)];
}

std::optional<double> chosenHeatmapValue(const media::RegionQualityMetrics& cell, FrameViewer::QualityMetricKind kind,
                                         FrameViewer::QualityMetricPlane plane)
{
    return metricOf(planeOf(cell, plane), kind);
}

void FrameViewer::setAnalysis(std::shared_ptr<const analysis::StreamAnalysis> analysis)
{
    analysis_ = analysis != nullptr ? std::move(analysis) : std::make_shared<const analysis::StreamAnalysis>();
    selectedObject_.reset();
    rebuildOverlayPrimitives();
    update();
}

void FrameViewer::clearAnalysis()
{
    analysis_ = std::make_shared<const analysis::StreamAnalysis>();
    overlays_.clear();
    overlaysChanged();
    selectedObject_.reset();
    clearInspectionState();
    update();
}

void FrameViewer::setSelectedObject(std::optional<analysis::StableId> objectId)
{
    selectedObject_ = objectId;
    if (objectId) {
        hoveredObject_.reset();
        hoverBlock_ = {};
        lockBlock_ = {};
        hoverCell_ = {};
        lockCell_ = {};
    }
    update();
}

void FrameViewer::setQualityHeatmap(std::vector<media::RegionQualityMetrics> cells, const QString& label)
{
    heatmapCells_ = std::move(cells);
    heatmapLabel_ = label;
    overlaysChanged();
    selectedHeatmapCell_.reset();
    update();
}

void FrameViewer::clearQualityHeatmap()
{
    heatmapCells_.clear();
    heatmapLabel_.clear();
    overlaysChanged();
    selectedHeatmapCell_.reset();
    update();
}

void FrameViewer::setLayerEnabled(OverlayKind kind, bool enabled)
{
    layers_[static_cast<std::size_t>(kind)] = enabled;
    update();
}

void FrameViewer::setCtuOverlayEnabled(bool enabled) { setLayerEnabled(OverlayKind::Ctu, enabled); }
void FrameViewer::setCuOverlayEnabled(bool enabled) { setLayerEnabled(OverlayKind::Cu, enabled); }
void FrameViewer::setTuOverlayEnabled(bool enabled) { setLayerEnabled(OverlayKind::Tu, enabled); }
void FrameViewer::setPuOverlayEnabled(bool enabled) { setLayerEnabled(OverlayKind::Pu, enabled); }
void FrameViewer::setQpMapOverlayEnabled(bool enabled) { setLayerEnabled(OverlayKind::QpBlock, enabled); }
void FrameViewer::setMotionVectorOverlayEnabled(bool enabled) { setLayerEnabled(OverlayKind::MotionVector, enabled); }
void FrameViewer::setQualityHeatmapOverlayEnabled(bool enabled)
{
    setLayerEnabled(OverlayKind::QualityHeatmap, enabled);
}

void FrameViewer::setQualityHeatmapMetricKind(QualityMetricKind kind)
{
    if (heatmapKind_ != kind) {
        heatmapKind_ = kind;
        update();
    }
}

void FrameViewer::setQualityHeatmapMetricPlane(QualityMetricPlane plane)
{
    if (heatmapPlane_ != plane) {
        heatmapPlane_ = plane;
        update();
    }
}

void FrameViewer::rebuildOverlayPrimitives()
{
    overlaysChanged();
    overlays_.rebuild(*analysis_, frame_ != nullptr ? static_cast<std::uint64_t>(frame_->index) : 0);
}

bool FrameViewer::anyLayerEnabled() const
{
    return std::any_of(layers_.begin(), layers_.end(), [](bool enabled) { return enabled; });
}

bool FrameViewer::hasOverlayDataForEnabledLayers() const
{
    if (layerEnabled(OverlayKind::MotionVector) && !overlays_.motionVectors().empty()) {
        return true;
    }
    if (layerEnabled(OverlayKind::QualityHeatmap) && !heatmapCells_.empty()) {
        return true;
    }
    for (const OverlayKind kind :
         {OverlayKind::Ctu, OverlayKind::Cu, OverlayKind::Tu, OverlayKind::Pu, OverlayKind::QpBlock}) {
        if (layerEnabled(kind) && overlays_.countOf(kind) > 0) {
            return true;
        }
    }
    return false;
}

QString FrameViewer::overlayStatusText() const
{
    if (!hasFrame()) {
        return kOverlayNoPicture;
    }
    if (!anyLayerEnabled()) {
        return kOverlayAllDisabled;
    }
    if (!hasOverlayDataForEnabledLayers()) {
        return analysis_->id.isNull() ? kOverlayRunStreamAnalysis : kOverlayRunPictureStructure;
    }
    return kOverlayReady.arg(overlays_.countOf(OverlayKind::Ctu))
        .arg(overlays_.countOf(OverlayKind::Cu))
        .arg(overlays_.countOf(OverlayKind::Tu))
        .arg(overlays_.countOf(OverlayKind::Pu))
        .arg(overlays_.countOf(OverlayKind::QpBlock))
        .arg(overlays_.motionVectors().size())
        .arg(heatmapCells_.size());
}

int FrameViewer::overlayPenWidth() const
{
    return std::clamp(static_cast<int>(std::lround(devicePixelRatioF() * 1.5)), 1, 3);
}

QPointF FrameViewer::updateOverlayLayer() const
{
    // While the whole image fits a layer of modest size, the layer covers the image (and a
    // margin for arrows leaving it) and survives pans; a zoomed-in view covers the widget.
    const double ratio = devicePixelRatioF();
    const QRectF target = imageTargetRect();
    const QPointF deviceTopLeft = target.topLeft() * ratio;
    const QSizeF deviceImage = target.size() * ratio;
    const QSize widgetDevice(static_cast<int>(std::ceil(width() * ratio)), static_cast<int>(std::ceil(height() * ratio)));
    const bool followsImage = deviceImage.width() * deviceImage.height() <=
                                  kImageLayerAreaFactor * static_cast<double>(widgetDevice.width()) * widgetDevice.height() &&
                              std::max(deviceImage.width(), deviceImage.height()) <= kMaxImageLayerSide;
    QPointF layerTopLeft;
    QSize layerSize = widgetDevice;
    if (followsImage) {
        layerTopLeft = QPointF(std::floor(deviceTopLeft.x()) - kImageLayerMargin,
                               std::floor(deviceTopLeft.y()) - kImageLayerMargin);
        layerSize = QSize(static_cast<int>(std::ceil(deviceImage.width())) + 2 * kImageLayerMargin + 1,
                          static_cast<int>(std::ceil(deviceImage.height())) + 2 * kImageLayerMargin + 1);
    }
    const OverlayLayerKey key{deviceTopLeft - layerTopLeft, layerSize, displayScale(), ratio, layers_,
                              overlayGeneration_, heatmapKind_, heatmapPlane_, selectedHeatmapCell_};
    if (overlayLayerKey_ != key) {
        renderOverlayLayer(overlayLayer_, layerSize, key.origin);
        overlayLayerKey_ = key;
    }
    return layerTopLeft;
}

void FrameViewer::renderOverlayLayer(QImage& layer, QSize deviceSize, QPointF origin) const
{
    const double ratio = devicePixelRatioF();
    if (layer.size() != deviceSize || layer.format() != QImage::Format_ARGB32_Premultiplied) {
        layer = QImage(deviceSize, QImage::Format_ARGB32_Premultiplied);
    }
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    OverlayRaster raster(layer, overlayMarks_);
    const double scale = displayScale() * ratio;
    const auto toDevice = [&](QPointF imagePoint) { return origin + imagePoint * scale; };
    const auto deviceRect = [&](const QRectF& rect) { return QRectF(toDevice(rect.topLeft()), rect.size() * scale); };
    const int penWidth = overlayPenWidth();

    if (layerEnabled(OverlayKind::QualityHeatmap)) {
        const int selectedWidth = std::max(2, penWidth + 1);
        for (std::size_t index = 0; index < heatmapCells_.size(); ++index) {
            const media::RegionQualityMetrics& cell = heatmapCells_[index];
            const QRectF mapped = deviceRect(QRectF(cell.x, cell.y, cell.width, cell.height));
            raster.fillRect(mapped, heatColour(chosenHeatmapValue(cell, heatmapKind_, heatmapPlane_), heatmapKind_));
            if (selectedHeatmapCell_ == index) {
                raster.markRectOutline(mapped, selectedWidth, OverlayRaster::kSolid);
                raster.fillMarked(kSelectedCellOutline);
            }
        }
    }

    const std::vector<OverlayRecord>& records = overlays_.records();
    if (layerEnabled(OverlayKind::QpBlock)) {
        for (const OverlayRecord& record : records) {
            if (record.kind != OverlayKind::QpBlock) {
                continue;
            }
            const QRectF mapped = deviceRect(record.rect);
            if (!raster.touches(mapped)) {
                continue;
            }
            if (record.parseStatus == kParsed && record.qp) {
                raster.fillRect(mapped, qpFill(*record.qp));
            } else {
                raster.fillRect(mapped, kNoValueFill);
                raster.markRectOutline(mapped, penWidth, OverlayRaster::kDash);
                raster.fillMarked(kUnknownQpOutline);
            }
        }
    }

    for (const OutlineStyle& style : kOutlineStyles) {
        if (!layerEnabled(style.kind) || overlays_.countOf(style.kind) == 0) {
            continue;
        }
        for (const OverlayRecord& record : records) {
            if (record.kind != style.kind) {
                continue;
            }
            const QRectF mapped = deviceRect(record.rect);
            if (raster.touches(mapped)) {
                raster.markRectOutline(mapped, penWidth, style.pattern);
            }
        }
        raster.fillMarked(style.colour);
    }

    if (layerEnabled(OverlayKind::MotionVector)) {
        const double headLength = std::max(kArrowHeadPixels / std::max(displayScale(), 0.1), kArrowHeadMinimum) * ratio;
        for (const MotionVectorRecord& vector : overlays_.motionVectors()) {
            const QPointF a = toDevice(vector.start);
            const QPointF b = toDevice(vector.start + vector.delta);
            if (!raster.touches(QRectF(a, b).normalized())) {
                continue;
            }
            const QColor colour = motionVectorColour(vector);
            const double length = std::hypot(b.x() - a.x(), b.y() - a.y());
            if (length <= kZeroVectorLength * ratio) {
                if (length > 0.0) {
                    raster.drawLine(a, b, colour, penWidth);
                }
                raster.drawCircle(a, kZeroVectorRadius * ratio, colour, penWidth);
                continue;
            }
            const QPointF unit = (b - a) / length;
            const QPointF base = b - headLength * unit;
            const QPointF normal(-unit.y(), unit.x());
            raster.drawLine(a, b, colour, penWidth);
            raster.drawLine(b, base + kArrowHeadSpread * headLength * normal, colour, penWidth);
            raster.drawLine(b, base - kArrowHeadSpread * headLength * normal, colour, penWidth);
        }
    }
}

void FrameViewer::drawHighlights(QPainter& painter) const
{
    const int penWidth = overlayPenWidth();
    const QRectF target = imageTargetRect();
    const double scale = displayScale();
    const auto toWidget = [&](QPointF imagePoint) { return target.topLeft() + imagePoint * scale; };
    const auto highlight = [&](const std::optional<StableId>& id, const QColor& colour, int width) {
        if (!id) {
            return;
        }
        painter.setPen(highlightPen(colour, width));
        painter.setBrush(Qt::NoBrush);
        for (const std::uint32_t index : overlays_.recordsHighlightedBy(*id)) {
            painter.drawRect(imageToWidget(overlays_.records()[index].rect));
        }
        for (const std::uint32_t index : overlays_.motionVectorsHighlightedBy(*id)) {
            const MotionVectorRecord& vector = overlays_.motionVectors()[index];
            painter.drawLine(toWidget(vector.start), toWidget(vector.start + vector.delta));
        }
    };
    highlight(hoveredObject_, kHoverHighlight, std::max(penWidth + 1, 2));
    highlight(selectedObject_, kSelectedHighlight, std::max(penWidth + 2, 2));
}

void FrameViewer::drawFallbackCell(QPainter& painter) const
{
    const FallbackCell* cell = lockCell_.valid ? &lockCell_ : hoverCell_.valid ? &hoverCell_ : nullptr;
    if (cell == nullptr) {
        return;
    }
    const bool locked = cell == &lockCell_;
    const QColor colour = locked ? kLockedCell : kHoveredCell;
    const QRectF mapped = imageToWidget(QRectF(cell->cell));
    painter.fillRect(mapped, QColor(colour.red(), colour.green(), colour.blue(), kFallbackCellFillAlpha));
    painter.setPen(squareCapPen(colour, locked ? 3 : 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(mapped);
}

void FrameViewer::drawLegend(QPainter& painter) const
{
    if (!anyLayerEnabled()) {
        return;
    }
    QStringList lines{overlayStatusText()};
    for (const OutlineStyle& style : kOutlineStyles) {
        if (layerEnabled(style.kind)) {
            lines << QString::fromLatin1(style.legend);
        }
    }
    if (layerEnabled(OverlayKind::QpBlock)) {
        lines << kLegendQpMap.arg(overlays_.qpKnownCount()).arg(overlays_.qpUnknownCount());
    }
    if (layerEnabled(OverlayKind::MotionVector)) {
        lines << QString::fromLatin1(kLegendMotionVectors);
    }
    if (layerEnabled(OverlayKind::QualityHeatmap)) {
        lines << kLegendHeatmap.arg(qualityMetricPlaneName(heatmapPlane_), qualityMetricKindName(heatmapKind_))
                     .arg(heatmapCells_.size());
    }
    const QString text = lines.join(QLatin1Char('\n'));
    const QRect measured =
        painter.fontMetrics().boundingRect(QRect(0, 0, width() / 2, height()), Qt::TextWordWrap, text);
    const QRect box(kLegendMargin, kLegendMargin, std::max(measured.width() + 2 * kLegendPaddingX, kLegendMinimumWidth),
                    measured.height() + 2 * kLegendPaddingY);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(box, kLegendFill);
    painter.setPen(kLegendOutline);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(box);
    painter.drawText(box.adjusted(kLegendPaddingX, kLegendPaddingY, -kLegendPaddingX, -kLegendPaddingY),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
}

}  // namespace vexilo
