#include "vexilo/views/CompareWipeViewer.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace vexilo {
namespace {

const QString kOpenBothStreams = QStringLiteral("Open A and B streams for wipe compare");
const QString kDefaultCaption = QStringLiteral("A/B Wipe");
constexpr double kRatioTolerance = 0.0001;
constexpr double kGrabDistance = 8.0;
const QColor kLineColour(255, 230, 80, 255);
const QColor kHandleOutline(20, 20, 20, 200);
const QColor kCaptionOutline(255, 255, 255, 230);
const QColor kCaptionFill(0, 0, 0, 130);
constexpr double kHandleRadiusX = 7.0;
constexpr double kHandleRadiusY = 18.0;
const QRectF kCaptionBox(12, 12, 250, 24);
constexpr double kCaptionRadius = 5.0;
constexpr int kCaptionPadding = 8;
constexpr QSize kMinimumViewerSize(480, 270);

}  // namespace

CompareWipeViewer::CompareWipeViewer(QWidget* parent) : QWidget(parent), message_(kOpenBothStreams)
{
    setObjectName(QStringLiteral("compareWipeViewer"));
    setMinimumSize(kMinimumViewerSize);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void CompareWipeViewer::setImages(const QImage& a, const QImage& b, const QString& caption)
{
    imageA_ = a;
    imageB_ = b;
    caption_ = caption;
    message_.clear();
    update();
}

void CompareWipeViewer::clear(const QString& message)
{
    imageA_ = QImage();
    imageB_ = QImage();
    caption_.clear();
    message_ = message;
    update();
}

void CompareWipeViewer::storeRatio(double ratio)
{
    if (std::abs(ratio - wipeRatio_) < kRatioTolerance) {
        return;
    }
    wipeRatio_ = ratio;
    update();
    emit wipeRatioChanged(wipeRatio_);
}

void CompareWipeViewer::setWipeRatio(double ratio) { storeRatio(std::clamp(ratio, 0.0, 1.0)); }

QRectF CompareWipeViewer::fittedRect() const
{
    const QSize reference = imageA_.isNull() ? imageB_.size() : imageA_.size();
    if (reference.isEmpty() || width() <= 0 || height() <= 0) {
        return {};
    }
    const double scale = std::min(static_cast<double>(height()) / reference.height(),
                                  static_cast<double>(width()) / reference.width());
    const double fittedWidth = reference.width() * scale;
    const double fittedHeight = reference.height() * scale;
    return {(width() - fittedWidth) / 2.0, (height() - fittedHeight) / 2.0, fittedWidth, fittedHeight};
}

double CompareWipeViewer::wipeLineX(const QRectF& rect) const { return rect.left() + rect.width() * wipeRatio_; }

bool CompareWipeViewer::isNearWipeLine(QPointF point) const
{
    const QRectF rect = fittedRect();
    return !rect.isEmpty() && !imageA_.isNull() && !imageB_.isNull() &&
           std::abs(point.x() - wipeLineX(rect)) <= kGrabDistance && rect.top() <= point.y() &&
           point.y() <= rect.bottom();
}

void CompareWipeViewer::setWipeRatioFromX(QPointF point)
{
    const QRectF rect = fittedRect();
    if (rect.width() > 0.0) {
        storeRatio(std::clamp((point.x() - rect.left()) / rect.width(), 0.0, 1.0));
    }
}

void CompareWipeViewer::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && isNearWipeLine(event->position())) {
        dragging_ = true;
        setWipeRatioFromX(event->position());
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void CompareWipeViewer::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_) {
        setWipeRatioFromX(event->position());
        event->accept();
        return;
    }
    setCursor(isNearWipeLine(event->position()) ? Qt::SplitHCursor : Qt::ArrowCursor);
    QWidget::mouseMoveEvent(event);
}

void CompareWipeViewer::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && dragging_) {
        dragging_ = false;
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void CompareWipeViewer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    update();
}

void CompareWipeViewer::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    const QRectF fitted = fittedRect();
    if (fitted.isEmpty() || (imageA_.isNull() && imageB_.isNull())) {
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        painter.drawText(rect(), Qt::AlignCenter, message_);
        return;
    }
    if (imageB_.isNull()) {
        painter.drawImage(fitted, imageA_);
    } else if (imageA_.isNull()) {
        painter.drawImage(fitted, imageB_);
    } else {
        const double lineX = wipeLineX(fitted);
        painter.save();
        painter.setClipRect(QRectF(fitted.left(), fitted.top(), std::max(lineX - fitted.left(), 0.0), fitted.height()));
        painter.drawImage(fitted, imageA_);
        painter.restore();
        painter.save();
        painter.setClipRect(QRectF(lineX, fitted.top(), std::max(fitted.right() - lineX, 0.0), fitted.height()));
        painter.drawImage(fitted, imageB_);
        painter.restore();

        QPen linePen(kLineColour, 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
        linePen.setCosmetic(true);
        painter.setPen(linePen);
        painter.drawLine(QPointF(lineX, fitted.top()), QPointF(lineX, fitted.bottom()));
        painter.setBrush(kLineColour);
        painter.setPen(QPen(kHandleOutline, 1.0));
        painter.drawEllipse(QPointF(lineX, fitted.center().y()), kHandleRadiusX, kHandleRadiusY);
    }
    painter.setPen(kCaptionOutline);
    painter.setBrush(kCaptionFill);
    painter.drawRoundedRect(kCaptionBox, kCaptionRadius, kCaptionRadius, Qt::AbsoluteSize);
    painter.drawText(kCaptionBox.adjusted(kCaptionPadding, 0, -kCaptionPadding, 0), Qt::AlignLeft | Qt::AlignVCenter,
                     caption_.isEmpty() ? kDefaultCaption : caption_);
}

}  // namespace vexilo
