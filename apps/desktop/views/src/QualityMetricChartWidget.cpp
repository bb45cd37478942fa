#include "vexilo/views/QualityMetricChartWidget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextOption>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>
#include <vector>

namespace vexilo {
namespace {

using media::FrameQualityMetrics;
using media::PlaneQualityMetrics;
using media::QualityMetricStatus;

constexpr int kMinimumHeight = 180;
constexpr int kMetricPsnr = 0;
constexpr int kMetricSsim = 1;
constexpr int kMetricVmaf = 3;
constexpr double kPlotLeft = 54.0;
constexpr double kPlotTop = 18.0;
constexpr int kPlotHorizontalMargin = 72;
constexpr int kPlotVerticalMargin = 54;
constexpr double kLegendRadius = 4.0;
constexpr double kLoneValueRadius = 3.0;

struct VmafFeatureChoice {
    const char* label;  // as the VMAF backend names the feature
    const char* shortText;
};

const VmafFeatureChoice kVmafFeatures[] = {
    {"integer_adm2", "adm2"},
    {"integer_motion2", "motion2"},
    {"integer_vif_scale0", "scale0"},
    {"integer_vif_scale1", "scale1"},
    {"integer_vif_scale2", "scale2"},
    {"integer_vif_scale3", "scale3"},
};
const char* const kVmafScoreShortText = "All";

const VmafFeatureChoice* vmafFeatureChoice(int feature) {
    if (feature < 0 || feature >= static_cast<int>(std::size(kVmafFeatures))) {
        return nullptr;
    }
    return &kVmafFeatures[feature];
}

struct SeriesLook {
    QColor colour;
    const char* label;
    double legendOffset;  // below the plot's top edge
};

const SeriesLook kSeriesA{QColor(230, 126, 34), "A", 0.0};
const SeriesLook kSeriesB{QColor(52, 152, 219), "B", 18.0};
const QColor kMarkerColour(241, 196, 15);

const PlaneQualityMetrics& planeOf(const FrameQualityMetrics& metrics, int plane) {
    switch (plane) {
    case 0:
        return metrics.y;
    case 1:
        return metrics.u;
    case 2:
        return metrics.v;
    default:
        return metrics.all;
    }
}

QString planeName(int plane) {
    static const char* const names[] = {"Y", "U", "V"};
    return QString::fromLatin1(plane >= 0 && plane < 3 ? names[plane] : "All");
}

QString metricKindName(int kind) {
    switch (kind) {
    case kMetricPsnr:
        return QStringLiteral("PSNR");
    case kMetricSsim:
        return QStringLiteral("SSIM");
    default:
        return QStringLiteral("MSE");
    }
}

QString formatValue(std::optional<double> value) {
    if (!value) {
        return QStringLiteral("N/A");
    }
    if (std::isinf(*value)) {
        return QStringLiteral("inf");
    }
    return QString::number(*value, 'f', 3);
}

QPen seriesPen(const QColor& colour, qreal width, Qt::PenStyle style) {
    QPen pen(colour, width, style, Qt::SquareCap, Qt::BevelJoin);
    pen.setCosmetic(false);
    return pen;
}

template <typename Value>
bool storeIfChanged(Value& member, Value value) {
    if (member == value) {
        return false;
    }
    member = value;
    return true;
}

}  // namespace

QualityMetricChartWidget::QualityMetricChartWidget(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(kMinimumHeight);
    setAttribute(Qt::WA_MouseTracking, true);
    setAutoFillBackground(false);
}

void QualityMetricChartWidget::setQualityResultStore(const application::QualityResultStore* store) {
    if (store_ != nullptr) {
        disconnect(store_, nullptr, this, nullptr);
    }
    store_ = store;
    if (store != nullptr) {
        connect(store, &application::QualityResultStore::pairsStored, this, [this] { update(); });
        connect(store, &application::QualityResultStore::cleared, this, &QualityMetricChartWidget::clear);
        connect(store, &QObject::destroyed, this, [this] { store_ = nullptr; });
    }
    clear();
}

const application::QualityResultStore::Results& QualityMetricChartWidget::points() const noexcept {
    static const application::QualityResultStore::Results none;
    return store_ != nullptr ? store_->results() : none;
}

void QualityMetricChartWidget::clear() {
    markedFrame_.reset();
    update();
}

void QualityMetricChartWidget::setMetricKind(int kind) {
    if (storeIfChanged(metricKind_, kind)) {
        update();
    }
}

void QualityMetricChartWidget::setMetricPlane(int plane) {
    if (storeIfChanged(metricPlane_, plane)) {
        update();
    }
}

void QualityMetricChartWidget::setVmafFeature(int feature) {
    if (storeIfChanged(vmafFeature_, feature)) {
        update();
    }
}

void QualityMetricChartWidget::setSeriesAVisible(bool visible) {
    if (storeIfChanged(seriesAVisible_, visible)) {
        update();
    }
}

void QualityMetricChartWidget::setSeriesBVisible(bool visible) {
    if (storeIfChanged(seriesBVisible_, visible)) {
        update();
    }
}

std::optional<double> QualityMetricChartWidget::metricValue(const std::optional<FrameQualityMetrics>& side) const {
    if (!side) {
        return std::nullopt;
    }
    if (metricKind_ == kMetricVmaf) {
        if (side->vmaf.status != QualityMetricStatus::Available) {
            return std::nullopt;
        }
        const VmafFeatureChoice* choice = vmafFeatureChoice(vmafFeature_);
        if (choice == nullptr) {
            return side->vmaf.score;
        }
        const auto& features = side->vmaf.features;
        const auto feature = std::find_if(features.begin(), features.end(),
                                          [&](const media::VmafFeatureScore& score) { return score.name == choice->label; });
        return feature == features.end() ? std::nullopt : feature->score;
    }
    const PlaneQualityMetrics& plane = planeOf(*side, metricPlane_);
    if (plane.status != QualityMetricStatus::Available) {
        return std::nullopt;
    }
    switch (metricKind_) {
    case kMetricPsnr:
        return plane.psnr;
    case kMetricSsim:
        return plane.ssim;
    default:
        return plane.mse;
    }
}

QString QualityMetricChartWidget::metricTitle() const {
    if (metricKind_ == kMetricVmaf) {
        const VmafFeatureChoice* choice = vmafFeatureChoice(vmafFeature_);
        return QStringLiteral("VMAF / %1").arg(QString::fromLatin1(choice ? choice->shortText : kVmafScoreShortText));
    }
    return QStringLiteral("%1 / %2").arg(metricKindName(metricKind_), planeName(metricPlane_));
}

QRectF QualityMetricChartWidget::plotRect() const {
    return QRectF(kPlotLeft, kPlotTop, std::max(width() - kPlotHorizontalMargin, 1),
                  std::max(height() - kPlotVerticalMargin, 1));
}

bool QualityMetricChartWidget::hasVisibleValue(const application::QualityPairResult& point) const {
    return (seriesAVisible_ && metricValue(point.metricsA)) || (seriesBVisible_ && metricValue(point.metricsB));
}

std::optional<QualityMetricChartWidget::Ranges> QualityMetricChartWidget::ranges() const {
    std::optional<Ranges> result;
    std::optional<double> finiteMin;
    std::optional<double> finiteMax;
    bool nonFiniteSeen = false;
    const auto takeValue = [&](bool visible, const std::optional<FrameQualityMetrics>& side) {
        const std::optional<double> value = visible ? metricValue(side) : std::nullopt;
        if (!value) {
            return false;
        }
        if (!std::isfinite(*value)) {
            nonFiniteSeen = true;
        } else {
            finiteMin = std::min(finiteMin.value_or(*value), *value);
            finiteMax = std::max(finiteMax.value_or(*value), *value);
        }
        return true;
    };
    for (const auto& [frameIndex, point] : points()) {
        const bool fromA = takeValue(seriesAVisible_, point.metricsA);
        const bool fromB = takeValue(seriesBVisible_, point.metricsB);
        if (!fromA && !fromB) {
            continue;
        }
        if (!result) {
            result = Ranges{frameIndex, frameIndex};
        }
        result->frameMax = frameIndex;  // points are sorted
    }
    if (!result) {
        return std::nullopt;
    }
    if (result->frameMin == result->frameMax) {
        result->frameMax += 1;
    }
    result->valueMin = finiteMin.value_or(0.0);
    result->valueMax = finiteMax.value_or(1.0);
    if (result->valueMin == result->valueMax) {
        const double value = result->valueMin;
        const double pad = value == 0.0 ? 1.0 : 0.05 * std::abs(value);
        result->valueMin = value - pad;
        result->valueMax = value + pad;
    }
    result->nonFiniteSeen = nonFiniteSeen;
    if (nonFiniteSeen) {
        result->valueMax += std::max(0.05 * std::abs(result->valueMax - result->valueMin), 1.0);
    }
    return result;
}

double QualityMetricChartWidget::frameX(std::int64_t frame, const Ranges& ranges) const {
    const QRectF plot = plotRect();
    return plot.left() + plot.width() * static_cast<double>(frame - ranges.frameMin) /
                             static_cast<double>(ranges.frameMax - ranges.frameMin);
}

std::optional<std::int64_t> QualityMetricChartWidget::frameAt(QPointF position) const {
    if (points().empty() || !plotRect().contains(position)) {
        return std::nullopt;
    }
    const std::optional<Ranges> range = ranges();
    if (!range) {
        return std::nullopt;
    }
    std::optional<std::int64_t> nearest;
    double nearestDistance = 0.0;
    for (const auto& [frameIndex, point] : points()) {
        if (!hasVisibleValue(point)) {
            continue;
        }
        const double distance = std::abs(position.x() - frameX(frameIndex, *range));
        if (!nearest || distance < nearestDistance) {
            nearest = frameIndex;
            nearestDistance = distance;
        }
    }
    return nearest;
}

void QualityMetricChartWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    const QRectF plot = plotRect();
    painter.setPen(seriesPen(palette().color(QPalette::Mid), 1.0, Qt::SolidLine));
    painter.drawRect(plot);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QRectF(0, 0, width(), kPlotTop), Qt::AlignCenter,
                     QStringLiteral("%1 over frame number").arg(metricTitle()));

    if (points().empty()) {
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("No quality metrics computed"));
        return;
    }
    const std::optional<Ranges> range = ranges();
    if (!range) {
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("No %1 values").arg(metricTitle()));
        return;
    }
    paintLabels(painter, *range);
    if (seriesAVisible_) {
        paintSeries(painter, *range, true);
    }
    if (seriesBVisible_) {
        paintSeries(painter, *range, false);
    }
    paintMarker(painter, *range);
}

void QualityMetricChartWidget::paintLabels(QPainter& painter, const Ranges& range) {
    const QRectF plot = plotRect();
    painter.setPen(palette().color(QPalette::Text));
    const QString top = range.nonFiniteSeen ? QStringLiteral("inf") : formatValue(range.valueMax);
    painter.drawText(QRectF(0, plot.top() - 8, 50, 18), Qt::AlignRight | Qt::AlignVCenter, top);
    painter.drawText(QRectF(0, plot.bottom() - 10, 50, 18), Qt::AlignRight | Qt::AlignVCenter,
                     formatValue(range.valueMin));
    painter.drawText(QRectF(plot.left() - 20, plot.bottom() + 6, 80, 18), Qt::AlignLeft | Qt::AlignVCenter,
                     QString::number(range.frameMin));
    painter.drawText(QRectF(plot.right() - 60, plot.bottom() + 6, 80, 18), Qt::AlignRight | Qt::AlignVCenter,
                     QString::number(range.frameMax));
}

void QualityMetricChartWidget::paintSeries(QPainter& painter, const Ranges& range, bool sideA) {
    const SeriesLook& look = sideA ? kSeriesA : kSeriesB;
    const QRectF plot = plotRect();
    const QPen pen = seriesPen(look.colour, 2.0, Qt::SolidLine);

    // A value with no measured neighbour has no line to be seen on: it is drawn as a dot.
    QPainterPath path;
    std::vector<QPointF> loneValues;
    std::size_t runLength = 0;
    const auto endRun = [&] {
        if (runLength == 1) {
            loneValues.push_back(path.currentPosition());
        }
        runLength = 0;
    };
    for (const auto& [frameIndex, point] : points()) {
        const std::optional<double> value = metricValue(sideA ? point.metricsA : point.metricsB);
        if (!value) {
            endRun();
            continue;
        }
        const double x = frameX(frameIndex, range);
        const double y = std::isfinite(*value)
                             ? plot.bottom() - plot.height() * (*value - range.valueMin) / (range.valueMax - range.valueMin)
                             : plot.top();
        if (runLength == 0) {
            path.moveTo(x, y);
        } else {
            path.lineTo(x, y);
        }
        ++runLength;
    }
    endRun();
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    painter.setBrush(look.colour);
    for (const QPointF& lone : loneValues) {
        painter.drawEllipse(lone, kLoneValueRadius, kLoneValueRadius);
    }

    const QPointF legendCentre(plot.right() - 78, plot.top() + 10 + look.legendOffset);
    painter.setBrush(look.colour);
    painter.drawEllipse(legendCentre, kLegendRadius, kLegendRadius);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QRectF(plot.right() - 68, plot.top() + 1 + look.legendOffset, 60, 18),
                     QString::fromLatin1(look.label), QTextOption());
}

void QualityMetricChartWidget::paintMarker(QPainter& painter, const Ranges& range) {
    if (!markedFrame_ || *markedFrame_ < range.frameMin || *markedFrame_ > range.frameMax) {
        return;
    }
    const QRectF plot = plotRect();
    const double x = frameX(*markedFrame_, range);
    painter.setPen(seriesPen(kMarkerColour, 1.5, Qt::DashLine));
    painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
}

void QualityMetricChartWidget::mouseMoveEvent(QMouseEvent* event) {
    const std::optional<std::int64_t> frame = frameAt(event->position());
    if (!frame) {
        return;
    }
    const application::QualityPairResult& point = points().at(*frame);
    const QString text = QStringLiteral("Frame %1\nA %2: %3\nB %2: %4")
                             .arg(QString::number(*frame), metricTitle(), formatValue(metricValue(point.metricsA)),
                                  formatValue(metricValue(point.metricsB)));
    QToolTip::showText(event->globalPosition().toPoint(), text, this);
}

void QualityMetricChartWidget::mousePressEvent(QMouseEvent* event) {
    const std::optional<std::int64_t> frame = frameAt(event->position());
    if (!frame) {
        return;
    }
    markedFrame_ = frame;
    update();
    emit frameActivated(*frame);
}

}  // namespace vexilo
