#pragma once

#include "vexilo/application/QualityResultStore.h"
#include "vexilo/media/QualityMetrics.h"

#include <QWidget>

#include <cstdint>
#include <optional>
#include <vector>

namespace vexilo {

// A hand-painted line chart of one quality metric over frame number, one line for stream A
// and one for stream B. Hovering shows the nearest frame's values; a click marks that frame
// and reports it. Its points are the measured pairs of the quality result store, one per frame
// index; the chart repaints as the store changes and keeps no copy of them.
class QualityMetricChartWidget : public QWidget {
    Q_OBJECT

public:
    explicit QualityMetricChartWidget(QWidget* parent = nullptr);

    // The store whose pairs are the points (may be null: no points).
    void setQualityResultStore(const application::QualityResultStore* store);
    // Forgets the marked frame.
    void clear();
    [[nodiscard]] int frameCount() const noexcept { return static_cast<int>(points().size()); }
    [[nodiscard]] std::optional<std::int64_t> markedFrame() const noexcept { return markedFrame_; }

    // 0 PSNR, 1 SSIM, 2 MSE, 3 VMAF.
    void setMetricKind(int kind);
    // 0 Y, 1 U, 2 V, 3 All.
    void setMetricPlane(int plane);
    // 0 to 5 one elementary VMAF feature; anything else the VMAF score.
    void setVmafFeature(int feature);
    void setSeriesAVisible(bool visible);
    void setSeriesBVisible(bool visible);

signals:
    void frameActivated(std::int64_t frameIndex);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    struct Ranges {
        std::int64_t frameMin = 0;
        std::int64_t frameMax = 0;
        double valueMin = 0.0;
        double valueMax = 1.0;
        bool nonFiniteSeen = false;
    };

    [[nodiscard]] std::optional<double> metricValue(const std::optional<media::FrameQualityMetrics>& side) const;
    [[nodiscard]] QString metricTitle() const;
    [[nodiscard]] QRectF plotRect() const;
    [[nodiscard]] const application::QualityResultStore::Results& points() const noexcept;
    [[nodiscard]] bool hasVisibleValue(const application::QualityPairResult& point) const;
    [[nodiscard]] std::optional<Ranges> ranges() const;
    [[nodiscard]] double frameX(std::int64_t frame, const Ranges& ranges) const;
    [[nodiscard]] std::optional<std::int64_t> frameAt(QPointF position) const;

    void paintLabels(QPainter& painter, const Ranges& ranges);
    void paintSeries(QPainter& painter, const Ranges& ranges, bool sideA);
    void paintMarker(QPainter& painter, const Ranges& ranges);

    const application::QualityResultStore* store_ = nullptr;
    int metricKind_ = 0;
    int metricPlane_ = 3;
    int vmafFeature_ = 6;
    bool seriesAVisible_ = true;
    bool seriesBVisible_ = true;
    std::optional<std::int64_t> markedFrame_;
};

}  // namespace vexilo
