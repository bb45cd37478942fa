#include "vexilo/views/FrameViewer.h"

#include "FrameImage.h"
#include "ImageQuadRenderer.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QPalette>
#include <QWheelEvent>

#include <algorithm>

namespace vexilo {
namespace {

const QString kNoProjectOpened = QStringLiteral("No project opened");
constexpr double kMinimumZoom = 0.01;
constexpr double kMaximumZoom = 64.0;
constexpr double kZoomStep = 1.25;
constexpr int kStatusMessageInset = 24;
constexpr QSize kMinimumViewerSize(480, 270);

}  // namespace

FrameViewer::FrameViewer(QWidget* parent)
    : QOpenGLWidget(parent), statusMessage_(kNoProjectOpened),
      analysis_(std::make_shared<const analysis::StreamAnalysis>()),
      quadRenderer_(std::make_unique<ImageQuadRenderer>())
{
    setObjectName(QStringLiteral("frameViewer"));
    setMinimumSize(kMinimumViewerSize);
    setAttribute(Qt::WA_MouseTracking);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);
}

FrameViewer::~FrameViewer()
{
    releaseGlResources();
    // The base class destroys the context after this object is gone: no call back into it.
    if (context() != nullptr) {
        disconnect(context(), nullptr, this, nullptr);
    }
}

void FrameViewer::releaseGlResources()
{
    if (quadRenderer_ == nullptr) {
        return;
    }
    // Textures belong to the widget's context: delete them while it is current.
    if (context() != nullptr) {
        makeCurrent();
        quadRenderer_->release();
        doneCurrent();
    }
    quadRenderer_.reset();
}

bool FrameViewer::hasFrame() const { return frame_ != nullptr && !displayImage_.isNull(); }

// A packed frame's image wraps the frame's own memory, which must not outlive the frame; a
// converted image owns its pixels and is shared until either holder writes to it (a dense 4K
// picture's image is 33 MB).
QImage FrameViewer::displayImage() const
{
    const bool wrapsFrame = frame_ != nullptr && !frame_->packedData.empty() &&
                            displayImage_.constBits() == frame_->packedData.data();
    return wrapsFrame ? displayImage_.copy() : displayImage_;
}

bool FrameViewer::rebuildDisplayImage(QString& error)
{
    displayImage_ = makeDisplayImage(frame_.get(), static_cast<media::DisplayComponent>(componentMode_), error);
    return !displayImage_.isNull();
}

void FrameViewer::setFrame(domain::VideoFramePtr frame, qint64 displayIndex)
{
    const bool hadImage = hasFrame();
    displayImage_ = QImage();
    frame_ = std::move(frame);
    displayIndex_ = displayIndex;
    statusMessage_.clear();
    overlays_.clear();
    heatmapCells_.clear();
    heatmapLabel_.clear();
    selectedHeatmapCell_.reset();
    selectedObject_.reset();
    clearInspectionState();
    QString error;
    if (!rebuildDisplayImage(error)) {
        displayImage_ = QImage();
        frame_.reset();
        statusMessage_ = error;
    }
    resetViewTransform();
    rebuildOverlayPrimitives();
    update();
    if (hadImage != hasFrame()) {
        emit frameAvailabilityChanged(hasFrame());
    }
    emit viewTransformChanged();
}

void FrameViewer::clearFrame(const QString& message)
{
    const bool hadImage = hasFrame();
    displayImage_ = QImage();
    frame_.reset();
    analysis_ = std::make_shared<const analysis::StreamAnalysis>();
    overlays_.clear();
    overlaysChanged();
    selectedObject_.reset();
    clearInspectionState();
    statusMessage_ = message;
    displayIndex_ = 0;
    resetViewTransform();
    update();
    if (hadImage) {
        emit frameAvailabilityChanged(false);
    }
    emit viewTransformChanged();
}

void FrameViewer::showFrameUnavailable(const QString& reason) { clearFrame(reason); }

void FrameViewer::resetViewTransform()
{
    viewMode_ = FitToWindow;
    zoomFactor_ = 1.0;
    panOffset_ = QPointF();
}

void FrameViewer::setComponentMode(std::uint32_t mode)
{
    if (componentMode_ == mode) {
        return;
    }
    componentMode_ = mode;
    if (frame_ != nullptr) {
        const bool hadImage = hasFrame();
        QString error;
        if (!rebuildDisplayImage(error)) {
            displayImage_ = QImage();
            frame_.reset();
            statusMessage_ = error;
            if (hadImage) {
                emit frameAvailabilityChanged(false);
            }
        }
    }
    update();
}

void FrameViewer::showCombinedComponents() { setComponentMode(0); }
void FrameViewer::showLumaComponent() { setComponentMode(1); }
void FrameViewer::showUComponent() { setComponentMode(2); }
void FrameViewer::showVComponent() { setComponentMode(3); }

double FrameViewer::fitScale() const
{
    if (!frame_ || frame_->width <= 0 || frame_->height <= 0 || width() <= 0 || height() <= 0) {
        return 1.0;
    }
    return std::min(static_cast<double>(height()) / frame_->height, static_cast<double>(width()) / frame_->width);
}

double FrameViewer::displayScale() const
{
    return viewMode_ == FitToWindow ? fitScale() : zoomFactor_ / devicePixelRatioF();
}

QRectF FrameViewer::imageTargetRect() const
{
    if (!hasFrame() || width() <= 0 || height() <= 0) {
        return {};
    }
    const double scale = displayScale();
    const double targetWidth = frame_->width * scale;
    const double targetHeight = frame_->height * scale;
    return {width() / 2.0 + panOffset_.x() - targetWidth / 2.0, height() / 2.0 + panOffset_.y() - targetHeight / 2.0,
            targetWidth, targetHeight};
}

QPointF FrameViewer::widgetToImage(QPointF point) const
{
    const double scale = displayScale();
    if (scale <= 0.0) {
        return {};
    }
    return (point - imageTargetRect().topLeft()) / scale;
}

QRectF FrameViewer::imageToWidget(const QRectF& rect) const
{
    const double scale = displayScale();
    return {imageTargetRect().topLeft() + rect.topLeft() * scale, rect.size() * scale};
}

void FrameViewer::fitToWindow()
{
    if (!hasFrame()) {
        return;
    }
    viewMode_ = FitToWindow;
    panOffset_ = QPointF();
    update();
    emit viewTransformChanged();
}

void FrameViewer::showActualSize()
{
    if (!hasFrame()) {
        return;
    }
    viewMode_ = ActualSize;
    zoomFactor_ = 1.0;
    panOffset_ = QPointF();
    update();
    emit viewTransformChanged();
}

void FrameViewer::zoomBy(double factor)
{
    if (!hasFrame()) {
        return;
    }
    const double base = viewMode_ == FitToWindow ? fitScale() * devicePixelRatioF() : zoomFactor_;
    viewMode_ = CustomZoom;
    zoomFactor_ = std::clamp(base * factor, kMinimumZoom, kMaximumZoom);
    update();
    emit viewTransformChanged();
}

void FrameViewer::zoomIn() { zoomBy(kZoomStep); }
void FrameViewer::zoomOut() { zoomBy(1.0 / kZoomStep); }

void FrameViewer::setViewTransform(ViewMode mode, double zoomFactor, QPointF panOffset)
{
    viewMode_ = mode;
    zoomFactor_ = std::clamp(zoomFactor, kMinimumZoom, kMaximumZoom);
    panOffset_ = panOffset;
    update();
}

void FrameViewer::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    if (!hasFrame() || delta == 0) {
        QOpenGLWidget::wheelEvent(event);
        return;
    }
    if (delta > 0) {
        zoomIn();
    } else {
        zoomOut();
    }
    event->accept();
}

void FrameViewer::initializeGL()
{
    // A widget moved to another window gets a new context; the old one takes its textures along.
    if (quadRenderer_ == nullptr) {
        quadRenderer_ = std::make_unique<ImageQuadRenderer>();
    }
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &FrameViewer::releaseGlResources,
            Qt::UniqueConnection);
}

void FrameViewer::resizeGL(int /*width*/, int /*height*/)
{
    if (viewMode_ == FitToWindow) {
        emit viewTransformChanged();
    }
}

void FrameViewer::paintGL()
{
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (context != nullptr && context->functions() != nullptr) {
        const QColor background = palette().color(QPalette::Window);
        QOpenGLFunctions* gl = context->functions();
        gl->glClearColor(static_cast<float>(background.redF()), static_cast<float>(background.greenF()),
                         static_cast<float>(background.blueF()), 1.0F);
        gl->glClear(GL_COLOR_BUFFER_BIT);
    }
    if (hasFrame()) {
        paintFrame();
        return;
    }
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(rect().adjusted(kStatusMessageInset, kStatusMessageInset, -kStatusMessageInset,
                                     -kStatusMessageInset),
                     Qt::AlignCenter | Qt::TextWordWrap, statusMessage_);
}

void FrameViewer::paintFrame()
{
    const double ratio = devicePixelRatioF();
    const QRectF target = imageTargetRect();
    const bool smooth = displayScale() < 1.0;
    const bool hasLayer = hasOverlayDataForEnabledLayers();
    const QPointF layerTopLeft = hasLayer ? updateOverlayLayer() : QPointF();
    const bool pictureDrawn = quadRenderer_ != nullptr &&
                              quadRenderer_->draw(ImageQuadRenderer::Slot::Picture, displayImage_,
                                                  QRectF(target.topLeft() * ratio, target.size() * ratio), smooth);
    // The layer goes over the picture: as a texture only when the picture went as one.
    const bool layerDrawn = pictureDrawn && hasLayer &&
                            quadRenderer_->draw(ImageQuadRenderer::Slot::OverlayLayer, overlayLayer_,
                                                QRectF(layerTopLeft, overlayLayer_.size()), false);
    QPainter painter(this);
    if (!pictureDrawn) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
        painter.drawImage(target, displayImage_);
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    if (hasLayer) {
        if (!layerDrawn) {
            painter.drawImage(layerTopLeft / ratio, overlayLayer_);
        }
        drawHighlights(painter);
    }
    drawFallbackCell(painter);
    drawLegend(painter);
}

}  // namespace vexilo
