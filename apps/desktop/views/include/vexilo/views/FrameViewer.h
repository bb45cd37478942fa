#pragma once

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/domain/VideoFrame.h"
#include "vexilo/media/QualityMetrics.h"
#include "vexilo/views/FrameOverlays.h"

#include <QImage>
#include <QOpenGLWidget>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QPainter;

namespace vexilo {

class ImageQuadRenderer;

// The centre of the window: one decoded frame in colour or as one grey component, fitted,
// at actual size or zoomed, panned, with the picture's coding structure, QP map, motion vectors
// and quality heat map drawn over it, and the block under the mouse reported by signals.
class FrameViewer : public QOpenGLWidget {
    Q_OBJECT

public:
    enum ViewMode { FitToWindow = 0, ActualSize = 1, CustomZoom = 2 };
    Q_ENUM(ViewMode)
    enum QualityMetricKind { Psnr = 0, Ssim = 1, Mse = 2 };
    Q_ENUM(QualityMetricKind)
    enum QualityMetricPlane { PlaneY = 0, PlaneU = 1, PlaneV = 2, PlaneAll = 3 };
    Q_ENUM(QualityMetricPlane)

    explicit FrameViewer(QWidget* parent = nullptr);
    ~FrameViewer() override;

    void setFrame(domain::VideoFramePtr frame, qint64 displayIndex);
    void clearFrame(const QString& message);
    void showFrameUnavailable(const QString& reason);

    void setAnalysis(std::shared_ptr<const analysis::StreamAnalysis> analysis);
    void clearAnalysis();
    void setSelectedObject(std::optional<analysis::StableId> objectId);
    void setQualityHeatmap(std::vector<media::RegionQualityMetrics> cells, const QString& label);
    void clearQualityHeatmap();

    [[nodiscard]] bool hasFrame() const;
    [[nodiscard]] QImage displayImage() const;
    [[nodiscard]] qint64 displayIndex() const { return displayIndex_; }
    [[nodiscard]] QString statusMessage() const { return statusMessage_; }
    [[nodiscard]] ViewMode viewMode() const { return viewMode_; }
    [[nodiscard]] double zoomFactor() const { return zoomFactor_; }
    [[nodiscard]] QPointF panOffset() const { return panOffset_; }

    // Where the image lies in the widget, in logical pixels; null without an image.
    [[nodiscard]] QRectF imageTargetRect() const;
    [[nodiscard]] double displayScale() const;
    [[nodiscard]] QString overlayStatusText() const;
    [[nodiscard]] const FrameOverlays& overlays() const { return overlays_; }
    [[nodiscard]] const std::vector<media::RegionQualityMetrics>& qualityHeatmapCells() const { return heatmapCells_; }

signals:
    void frameAvailabilityChanged(bool available);
    void viewTransformChanged();
    void analysisObjectHovered(vexilo::analysis::StableId objectId);
    void analysisObjectSelected(vexilo::analysis::StableId objectId);
    void blockInfoAvailable(QString interaction, QString pictureId, QString displayIndex, QString lumaSample,
                            vexilo::analysis::StableId ctuId, vexilo::analysis::StableId cuId,
                            vexilo::analysis::StableId puId, vexilo::analysis::StableId tuId);
    void blockInfoUnavailable(QString interaction, QString pictureId, QString displayIndex, QString lumaSample,
                              QString fallbackCell);
    void blockInfoCleared(QString message);
    void qualityHeatmapBlockSelected(QString summary);

public slots:
    void fitToWindow();
    void showActualSize();
    void zoomIn();
    void zoomOut();
    void setViewTransform(vexilo::FrameViewer::ViewMode mode, double zoomFactor, QPointF panOffset);
    void showCombinedComponents();
    void showLumaComponent();
    void showUComponent();
    void showVComponent();
    void setCtuOverlayEnabled(bool enabled);
    void setCuOverlayEnabled(bool enabled);
    void setTuOverlayEnabled(bool enabled);
    void setPuOverlayEnabled(bool enabled);
    void setQpMapOverlayEnabled(bool enabled);
    void setMotionVectorOverlayEnabled(bool enabled);
    void setQualityHeatmapOverlayEnabled(bool enabled);
    void setQualityHeatmapMetricKind(vexilo::FrameViewer::QualityMetricKind kind);
    void setQualityHeatmapMetricPlane(vexilo::FrameViewer::QualityMetricPlane plane);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;

private:
    struct BlockHit {
        QPoint lumaSample;
        BlockIds ids;
        bool valid = false;
    };
    struct FallbackCell {
        QPoint lumaSample;
        QRect cell;
        bool valid = false;
    };
    // What the cached overlay layer was drawn for.
    struct OverlayLayerKey {
        QPointF origin;
        QSize size;
        double scale = 0.0;
        double devicePixelRatio = 0.0;
        OverlayLayerSwitches layers{};
        std::uint64_t generation = 0;
        QualityMetricKind kind = Psnr;
        QualityMetricPlane plane = PlaneAll;
        std::optional<std::size_t> selectedCell;

        bool operator==(const OverlayLayerKey&) const = default;
    };

    // Display (frame, conversion, view transform).
    void setComponentMode(std::uint32_t mode);
    void resetViewTransform();
    bool rebuildDisplayImage(QString& error);
    [[nodiscard]] double fitScale() const;
    [[nodiscard]] QPointF widgetToImage(QPointF point) const;
    [[nodiscard]] QRectF imageToWidget(const QRectF& rect) const;
    void zoomBy(double factor);
    void setLayerEnabled(OverlayKind kind, bool enabled);
    void rebuildOverlayPrimitives();

    // Inspection (hover, lock, clicks).
    void clearInspectionState();
    [[nodiscard]] BlockHit blockAt(QPointF point) const;
    [[nodiscard]] FallbackCell fallbackCellAt(QPointF point) const;
    [[nodiscard]] std::optional<analysis::StableId> objectAt(QPointF point) const;
    [[nodiscard]] bool isInsideImage(QPointF point, QPointF& imagePoint) const;
    void updateHover(QPointF point);
    void clearHover(const QString& message);
    bool selectHeatmapCellAt(QPointF point);
    void lockBlock(const BlockHit& hit);
    void lockObject(const analysis::StableId& objectId);
    bool lockBlockOrObjectAt(QPointF point);
    void lockAtRelease(QPointF point);
    void emitBlockInfoAvailable(const QString& interaction, const BlockHit& hit);
    void emitBlockInfoUnavailable(const QString& interaction, const FallbackCell& cell);
    [[nodiscard]] QString heatmapSummary(const media::RegionQualityMetrics& cell) const;

    // Painting: the picture and the overlay layer as cached textures where the context can
    // hold them, the painter for the rest.
    void paintFrame();
    void releaseGlResources();

    // Overlays.
    [[nodiscard]] QPointF updateOverlayLayer() const;
    void renderOverlayLayer(QImage& layer, QSize deviceSize, QPointF origin) const;
    void drawHighlights(QPainter& painter) const;
    void overlaysChanged() { ++overlayGeneration_; }
    void drawFallbackCell(QPainter& painter) const;
    void drawLegend(QPainter& painter) const;
    [[nodiscard]] bool hasOverlayDataForEnabledLayers() const;
    [[nodiscard]] bool anyLayerEnabled() const;
    [[nodiscard]] bool layerEnabled(OverlayKind kind) const { return layers_[static_cast<std::size_t>(kind)]; }
    [[nodiscard]] int overlayPenWidth() const;

    domain::VideoFramePtr frame_;
    QImage displayImage_;
    QString statusMessage_;
    qint64 displayIndex_ = 0;
    ViewMode viewMode_ = FitToWindow;
    std::uint32_t componentMode_ = 0;
    double zoomFactor_ = 1.0;
    QPointF panOffset_;

    QPointF lastDragPosition_;
    QPointF pressPosition_;
    bool dragging_ = false;
    bool pressPending_ = false;

    std::shared_ptr<const analysis::StreamAnalysis> analysis_;
    OverlayLayerSwitches layers_{true, false, false, false, false, false, true};
    FrameOverlays overlays_;
    std::vector<media::RegionQualityMetrics> heatmapCells_;
    QString heatmapLabel_;
    QualityMetricKind heatmapKind_ = Psnr;
    QualityMetricPlane heatmapPlane_ = PlaneAll;

    std::optional<analysis::StableId> selectedObject_;
    std::optional<analysis::StableId> hoveredObject_;
    BlockHit hoverBlock_;
    BlockHit lockBlock_;
    FallbackCell hoverCell_;
    FallbackCell lockCell_;
    std::optional<std::size_t> selectedHeatmapCell_;
    bool locked_ = false;

    // The layers under the highlights, redrawn only when what they show or where changes.
    std::uint64_t overlayGeneration_ = 0;
    mutable QImage overlayLayer_;
    // The overlay raster's per-pixel marks, kept from one layer drawing to the next.
    mutable std::vector<std::uint8_t> overlayMarks_;
    mutable std::optional<OverlayLayerKey> overlayLayerKey_;

    std::unique_ptr<ImageQuadRenderer> quadRenderer_;
};

}  // namespace vexilo
