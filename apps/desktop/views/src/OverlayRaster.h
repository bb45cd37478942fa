#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>

#include <cstdint>
#include <span>
#include <vector>

namespace vexilo {

// Draws the frame viewer's overlay layer straight into a premultiplied ARGB32 image in device
// pixels: axis-aligned fills and dashed outlines as pixel spans, arrows as thick lines. A dense
// picture has hundreds of thousands of blocks, far beyond what the painter's path stroking can
// redraw in a frame interval; spans cost only the pixels they touch. Strokes are antialiased,
// as the painter's would be: a pixel the pen covers in part takes that share of its colour.
class OverlayRaster {
public:
    // Dash pattern lengths in pen widths, alternately on and off, as Qt's pen styles define them.
    static constexpr double kSolid[] = {1.0};
    static constexpr double kDash[] = {4.0, 2.0};
    static constexpr double kDot[] = {1.0, 2.0};
    static constexpr double kDashDot[] = {4.0, 2.0, 1.0, 2.0};
    // The widest pen an outline is marked with.
    static constexpr int kMaxPenWidth = 8;

    // `marks` is working memory kept by the caller from one layer to the next (a redraw of a
    // layer of millions of pixels need not fault in a fresh one); it comes in and goes back with
    // every byte zero.
    OverlayRaster(QImage& target, std::vector<std::uint8_t>& marks);
    ~OverlayRaster();
    OverlayRaster(const OverlayRaster&) = delete;
    OverlayRaster& operator=(const OverlayRaster&) = delete;

    // The colour as this raster stores it: premultiplied ARGB32.
    [[nodiscard]] static std::uint32_t premultiplied(const QColor& colour);

    // Blends the colour over the pixels whose centres lie in the rectangle: not antialiased, so
    // that cells sharing an edge tile without a seam where both would blend a share.
    void fillRect(const QRectF& rect, const QColor& colour);
    void fillRect(const QRectF& rect, std::uint32_t premultipliedColour);
    // Marks the outline of the rectangle, a pen of `width` pixels centred on its edges, with the
    // share of each pixel it covers; the dash pattern runs clockwise from the top-left corner.
    // An empty or one-entry pattern is solid.
    void markRectOutline(const QRectF& rect, int width, std::span<const double> pattern);
    // Blends the colour once over every marked pixel, by its share, and clears the marks:
    // outlines that share an edge look like one stroked path, not a darker double line.
    void fillMarked(const QColor& colour);
    // A line of `width` pixels from a to b.
    void drawLine(QPointF a, QPointF b, const QColor& colour, int width);
    // The outline of a small circle.
    void drawCircle(QPointF centre, double radius, const QColor& colour, int width);

    // Whether a rectangle in device pixels touches the image.
    [[nodiscard]] bool touches(const QRectF& rect) const;

private:
    void blendPixel(int x, int y, std::uint32_t premultiplied);
    void blendSpan(int y, int fromX, int toX, std::uint32_t premultiplied);
    class DashWalker;

    // Makes sure the marks cover the image and rows `top` to `bottom` are walked by fillMarked.
    void markRows(int top, int bottom);
    void markEdge(QPointF from, QPointF to, DashWalker& dash, int width);
    [[nodiscard]] std::uint32_t* row(int y) const;

    int width_ = 0;
    int height_ = 0;
    std::uint32_t* pixels_ = nullptr;
    std::size_t stride_ = 0;
    // One byte per pixel, the share of it covered (0 unmarked), row after row at the image's
    // width; rows from markedTop_ to markedBottom_ may hold marks.
    std::vector<std::uint8_t>& marks_;
    int markedTop_ = 0;
    int markedBottom_ = -1;
};

}  // namespace vexilo
