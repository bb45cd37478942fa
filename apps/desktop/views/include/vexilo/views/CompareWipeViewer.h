#pragma once

#include <QImage>
#include <QRectF>
#include <QString>
#include <QWidget>

namespace vexilo {

// Picture A left of a draggable vertical split line, picture B right of it, both fitted into
// the same rectangle.
class CompareWipeViewer : public QWidget {
    Q_OBJECT

public:
    explicit CompareWipeViewer(QWidget* parent = nullptr);

    void setImages(const QImage& a, const QImage& b, const QString& caption);
    void clear(const QString& message);
    void setWipeRatio(double ratio);
    [[nodiscard]] double wipeRatio() const { return wipeRatio_; }

    // The rectangle both pictures are drawn into; null without a picture or widget size.
    [[nodiscard]] QRectF fittedRect() const;

signals:
    void wipeRatioChanged(double ratio);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    [[nodiscard]] double wipeLineX(const QRectF& rect) const;
    [[nodiscard]] bool isNearWipeLine(QPointF point) const;
    void setWipeRatioFromX(QPointF point);
    void storeRatio(double ratio);

    QImage imageA_;
    QImage imageB_;
    QString caption_;
    QString message_;
    double wipeRatio_ = 0.5;
    bool dragging_ = false;
};

}  // namespace vexilo
