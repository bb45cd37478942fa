#include "OverlayRaster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexilo {
namespace {

// Nearest integer, halves away from zero, as std::lround but without the library call that
// dominates a loop over every pixel of a line.
int roundToPixel(double value)
{
    return static_cast<int>(value >= 0.0 ? value + 0.5 : value - 0.5);
}

// source over destination, both premultiplied; two channels per multiplication.
std::uint32_t over(std::uint32_t source, std::uint32_t destination)
{
    const std::uint32_t inverse = 255 - (source >> 24);
    std::uint32_t redBlue = (destination & 0x00FF00FFU) * inverse;
    redBlue = ((redBlue + ((redBlue >> 8) & 0x00FF00FFU) + 0x00800080U) >> 8) & 0x00FF00FFU;
    std::uint32_t alphaGreen = ((destination >> 8) & 0x00FF00FFU) * inverse;
    alphaGreen = (alphaGreen + ((alphaGreen >> 8) & 0x00FF00FFU) + 0x00800080U) & 0xFF00FF00U;
    return source + (redBlue | alphaGreen);
}

// First pixel whose centre is at or after `coordinate`.
int firstPixelFrom(double coordinate) { return static_cast<int>(std::ceil(coordinate - 0.5)); }

}  // namespace

// Steps along a dash pattern pixel by pixel, without a division per pixel.
class OverlayRaster::DashWalker {
public:
    // At the start of the pattern's first segment.
    DashWalker(int width, std::span<const double> pattern) : width_(width), pattern_(pattern)
    {
        if (pattern_.size() >= 2) {
            remaining_ = pattern_[0] * width_;
        }
    }

    [[nodiscard]] bool on() const { return pattern_.size() < 2 || segment_ % 2 == 0; }

    void advance(double distance)
    {
        if (pattern_.size() < 2 || distance <= 0.0) {
            return;
        }
        remaining_ -= distance;
        while (remaining_ <= 0.0) {
            segment_ = (segment_ + 1) % pattern_.size();
            remaining_ += pattern_[segment_] * width_;
        }
    }

private:
    int width_;
    std::span<const double> pattern_;
    std::size_t segment_ = 0;
    double remaining_ = 0.0;
};

std::uint32_t OverlayRaster::premultiplied(const QColor& colour)
{
    const int alpha = colour.alpha();
    const auto scale = [&](int channel) { return static_cast<std::uint32_t>((channel * alpha + 127) / 255); };
    return (static_cast<std::uint32_t>(alpha) << 24) | (scale(colour.red()) << 16) | (scale(colour.green()) << 8) |
           scale(colour.blue());
}

// bits() detaches once here; every later write goes through the pointer, not through scanLine's
// detach check per span or pixel.
OverlayRaster::OverlayRaster(QImage& target, std::vector<std::uint8_t>& marks)
    : width_(target.width()), height_(target.height()),
      pixels_(reinterpret_cast<std::uint32_t*>(target.bits())),
      stride_(static_cast<std::size_t>(target.bytesPerLine()) / sizeof(std::uint32_t)), marks_(marks),
      markedTop_(height_)
{
}

std::uint32_t* OverlayRaster::row(int y) const { return pixels_ + static_cast<std::size_t>(y) * stride_; }

bool OverlayRaster::touches(const QRectF& rect) const
{
    return rect.right() >= -4.0 && rect.bottom() >= -4.0 && rect.left() <= width_ + 4.0 && rect.top() <= height_ + 4.0;
}

void OverlayRaster::blendPixel(int x, int y, std::uint32_t colour)
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return;
    }
    std::uint32_t* pixels = row(y);
    pixels[x] = over(colour, pixels[x]);
}

void OverlayRaster::blendSpan(int y, int fromX, int toX, std::uint32_t colour)
{
    if (y < 0 || y >= height_) {
        return;
    }
    fromX = std::max(fromX, 0);
    toX = std::min(toX, width_);
    std::uint32_t* pixels = row(y);
    for (int x = fromX; x < toX; ++x) {
        pixels[x] = over(colour, pixels[x]);
    }
}

void OverlayRaster::fillRect(const QRectF& rect, const QColor& colour) { fillRect(rect, premultiplied(colour)); }

void OverlayRaster::fillRect(const QRectF& rect, std::uint32_t source)
{
    const int top = std::max(firstPixelFrom(rect.top()), 0);
    const int bottom = std::min(firstPixelFrom(rect.bottom()), height_);
    const int left = firstPixelFrom(rect.left());
    const int right = firstPixelFrom(rect.right());
    for (int y = top; y < bottom; ++y) {
        blendSpan(y, left, right, source);
    }
}

void OverlayRaster::markRows(int top, int bottom)
{
    if (marks_.size() < static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_)) {
        marks_.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), 0);
    }
    markedTop_ = std::min(markedTop_, top);
    markedBottom_ = std::max(markedBottom_, bottom);
}

// Walks the marked rows a word of marks at a time: outlines of a dense picture mark millions of
// pixels, and the rows between the first and the last mark are read once in memory order.
void OverlayRaster::fillMarked(const QColor& colour)
{
    const std::uint32_t source = premultiplied(colour);
    for (int y = markedTop_; y <= markedBottom_; ++y) {
        std::uint8_t* marks = marks_.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
        std::uint32_t* pixels = row(y);
        int x = 0;
        while (x < width_) {
            if (x + 8 <= width_) {
                std::uint64_t word = 0;
                std::memcpy(&word, marks + x, sizeof(word));
                if (word == 0) {
                    x += 8;
                    continue;
                }
            }
            if (marks[x] != 0) {
                pixels[x] = over(source, pixels[x]);
                marks[x] = 0;
            }
            ++x;
        }
    }
    markedTop_ = height_;
    markedBottom_ = -1;
}

OverlayRaster::~OverlayRaster()
{
    // The marks go back to their owner cleared, as the next raster expects them.
    for (int y = markedTop_; y <= markedBottom_; ++y) {
        std::fill_n(marks_.begin() + static_cast<std::ptrdiff_t>(y) * width_, width_, std::uint8_t{0});
    }
}

// The dash walk carries on from one edge to the next, so that a rectangle's pattern runs around
// it unbroken without a division per edge; the marks are clipped to the image once per edge,
// not per pixel.
void OverlayRaster::markEdge(QPointF from, QPointF to, DashWalker& dash, int width)
{
    const double half = width / 2.0;
    const bool horizontal = from.y() == to.y();
    const double start = horizontal ? from.x() : from.y();
    const double end = horizontal ? to.x() : to.y();
    const double across = horizontal ? from.y() : from.x();
    const double length = std::abs(end - start);
    // Horizontal edges reach over the corners by half a pen; vertical ones stop short of them,
    // so no corner pixel is blended twice.
    const double reach = horizontal ? half : -half;
    const int first = firstPixelFrom(std::min(start, end) - reach);
    const int last = firstPixelFrom(std::max(start, end) + reach);
    const int acrossFirst = roundToPixel(across - half);
    const int acrossFrom = std::max(acrossFirst, 0);
    const int acrossTo = std::min(acrossFirst + width, horizontal ? height_ : width_);
    const int alongFrom = std::max(first, 0);
    const int alongTo = std::min(last, horizontal ? width_ : height_);
    // The edge's own pixels walk a copy: the ones reaching over its end must not move the
    // pattern's start for the next edge.
    DashWalker edgeDash = dash;
    dash.advance(length);
    if (acrossFrom >= acrossTo || alongFrom >= alongTo) {
        return;
    }
    if (horizontal) {
        markRows(acrossFrom, acrossTo - 1);
    } else {
        markRows(alongFrom, alongTo - 1);
    }
    const auto rowWidth = static_cast<std::size_t>(width_);
    // Pixels are visited in the edge's own direction so that the dash walk only moves forward;
    // the cap pixels before the start take the pattern's state there.
    const bool forward = end >= start;
    const int count = last - first;
    double walked = 0.0;
    for (int step = 0; step < count; ++step) {
        const int along = forward ? first + step : last - 1 - step;
        const double distance = std::max((forward ? 1.0 : -1.0) * (along + 0.5 - start), 0.0);
        edgeDash.advance(distance - walked);
        walked = distance;
        if (!edgeDash.on() || along < alongFrom || along >= alongTo) {
            continue;
        }
        if (horizontal) {
            for (int y = acrossFrom; y < acrossTo; ++y) {
                marks_[static_cast<std::size_t>(y) * rowWidth + static_cast<std::size_t>(along)] = 1;
            }
        } else {
            std::fill_n(marks_.begin() + static_cast<std::ptrdiff_t>(along) * width_ + acrossFrom,
                        acrossTo - acrossFrom, std::uint8_t{1});
        }
    }
}

void OverlayRaster::markRectOutline(const QRectF& rect, int width, std::span<const double> pattern)
{
    DashWalker dash(width, pattern);
    markEdge(rect.topLeft(), rect.topRight(), dash, width);
    markEdge(rect.topRight(), rect.bottomRight(), dash, width);
    markEdge(rect.bottomRight(), rect.bottomLeft(), dash, width);
    markEdge(rect.bottomLeft(), rect.topLeft(), dash, width);
}

void OverlayRaster::drawLine(QPointF a, QPointF b, const QColor& colour, int width)
{
    const std::uint32_t source = premultiplied(colour);
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    const bool alongX = std::abs(dx) >= std::abs(dy);
    if (!alongX) {
        std::swap(a.rx(), a.ry());
        std::swap(b.rx(), b.ry());
    }
    if (a.x() > b.x()) {
        std::swap(a, b);
    }
    const double slope = b.x() == a.x() ? 0.0 : (b.y() - a.y()) / (b.x() - a.x());
    // One run of `width` pixels across the line per step along its major axis, both clipped to
    // the image before the run rather than at each pixel.
    const int majorExtent = alongX ? width_ : height_;
    const int minorExtent = alongX ? height_ : width_;
    const int first = std::max(firstPixelFrom(a.x() - width / 2.0), 0);
    const int last = std::min(firstPixelFrom(b.x() + width / 2.0), majorExtent);
    for (int major = first; major < last; ++major) {
        const double t = std::clamp(major + 0.5, a.x(), b.x());
        const int minorFirst = roundToPixel(a.y() + (t - a.x()) * slope - width / 2.0);
        const int minorFrom = std::max(minorFirst, 0);
        const int minorTo = std::min(minorFirst + width, minorExtent);
        for (int minor = minorFrom; minor < minorTo; ++minor) {
            std::uint32_t& pixel = alongX ? row(minor)[major] : row(major)[minor];
            pixel = over(source, pixel);
        }
    }
}

void OverlayRaster::drawCircle(QPointF centre, double radius, const QColor& colour, int width)
{
    const std::uint32_t source = premultiplied(colour);
    const double half = width / 2.0;
    const int reach = static_cast<int>(std::ceil(radius + half)) + 1;
    const int centreX = static_cast<int>(std::floor(centre.x()));
    const int centreY = static_cast<int>(std::floor(centre.y()));
    for (int y = centreY - reach; y <= centreY + reach; ++y) {
        for (int x = centreX - reach; x <= centreX + reach; ++x) {
            const double distance = std::hypot(x + 0.5 - centre.x(), y + 0.5 - centre.y());
            if (std::abs(distance - radius) < half) {
                blendPixel(x, y, source);
            }
        }
    }
}

}  // namespace vexilo
