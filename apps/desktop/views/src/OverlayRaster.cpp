#include "OverlayRaster.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

namespace vexilo {
namespace {

// A premultiplied colour with every channel times factor / 255; two channels per multiplication.
std::uint32_t scaled(std::uint32_t colour, std::uint32_t factor)
{
    std::uint32_t redBlue = (colour & 0x00FF00FFU) * factor;
    redBlue = ((redBlue + ((redBlue >> 8) & 0x00FF00FFU) + 0x00800080U) >> 8) & 0x00FF00FFU;
    std::uint32_t alphaGreen = ((colour >> 8) & 0x00FF00FFU) * factor;
    alphaGreen = (alphaGreen + ((alphaGreen >> 8) & 0x00FF00FFU) + 0x00800080U) & 0xFF00FF00U;
    return redBlue | alphaGreen;
}

// source over destination, both premultiplied.
std::uint32_t over(std::uint32_t source, std::uint32_t destination)
{
    return source + scaled(destination, 255 - (source >> 24));
}

// floor and ceil without the library calls that would dominate a loop over the columns of a line.
int floorToPixel(double value)
{
    const auto truncated = static_cast<int>(value);
    return truncated - (value < truncated ? 1 : 0);
}

int ceilToPixel(double value)
{
    const auto truncated = static_cast<int>(value);
    return truncated + (value > truncated ? 1 : 0);
}

// First pixel whose centre is at or after `coordinate`.
int firstPixelFrom(double coordinate) { return static_cast<int>(std::ceil(coordinate - 0.5)); }

// How much of pixel `pixel` (from pixel to pixel + 1) lies between `from` and `to`.
double overlap(double from, double to, int pixel)
{
    return std::max(0.0, std::min(to, pixel + 1.0) - std::max(from, static_cast<double>(pixel)));
}

// A share of a pixel covered, 0 to 1, as the 0 to 255 of a mark or a colour factor.
std::uint8_t coverageByte(double share)
{
    return static_cast<std::uint8_t>(std::clamp(share, 0.0, 1.0) * 255.0 + 0.5);
}

// How much of a pixel a pen edge covers whose distance from the pixel's centre is `distance`,
// for a pen reaching `half` from its middle: a box filter one pixel wide.
double penCoverage(double distance, double half) { return std::clamp(half + 0.5 - distance, 0.0, 1.0); }

}  // namespace

// Walks a dash pattern along an outline, segment by segment, without a division per pixel.
// Distances are measured from the walk's start; segments alternate on and off, the first on.
class OverlayRaster::DashWalker {
public:
    // At the start of the pattern's first segment.
    DashWalker(int width, std::span<const double> pattern) : width_(width), pattern_(pattern)
    {
        if (!solid()) {
            segmentEnd_ = length(0);
        }
    }

    // Moves the start `distance` further along the pattern.
    void advance(double distance)
    {
        if (solid() || distance <= 0.0) {
            return;
        }
        segmentEnd_ -= distance;
        skipSegmentsEndingBy(0.0);
    }

    // How much of the stretch from `from` to `to` lies on dashes. Before the start the pattern is
    // taken as it is there. Calls come in the order of `from`: the walk only moves forward.
    [[nodiscard]] double onLength(double from, double to)
    {
        if (solid()) {
            return to - from;
        }
        double on = 0.0;
        if (from < 0.0) {
            on += isOn(segment_) ? std::min(to, 0.0) - from : 0.0;
            from = 0.0;
        }
        skipSegmentsEndingBy(from);
        std::size_t segment = segment_;
        double segmentEnd = segmentEnd_;
        double segmentStart = segmentEnd - length(segment);
        while (segmentStart < to) {
            if (isOn(segment)) {
                on += std::max(0.0, std::min(segmentEnd, to) - std::max(segmentStart, from));
            }
            segment = next(segment);
            segmentStart = segmentEnd;
            segmentEnd += length(segment);
        }
        return on;
    }

private:
    [[nodiscard]] bool solid() const { return pattern_.size() < 2; }
    [[nodiscard]] static bool isOn(std::size_t segment) { return segment % 2 == 0; }
    [[nodiscard]] double length(std::size_t segment) const { return pattern_[segment] * width_; }
    [[nodiscard]] std::size_t next(std::size_t segment) const { return (segment + 1) % pattern_.size(); }

    void skipSegmentsEndingBy(double distance)
    {
        while (segmentEnd_ <= distance) {
            segment_ = next(segment_);
            segmentEnd_ += length(segment_);
        }
    }

    int width_;
    std::span<const double> pattern_;
    std::size_t segment_ = 0;
    double segmentEnd_ = 0.0;  // where the current segment ends
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
// pixels, and the rows between the first and the last mark are read once in memory order. Each
// mark is the share of its pixel that the outlines cover, and blends that share of the colour.
void OverlayRaster::fillMarked(const QColor& colour)
{
    std::array<std::uint32_t, 256> shares{};
    const std::uint32_t source = premultiplied(colour);
    for (std::uint32_t share = 0; share < shares.size(); ++share) {
        shares[share] = scaled(source, share);
    }
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
                pixels[x] = over(shares[marks[x]], pixels[x]);
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
// not per pixel. A pixel's mark is the share of it that the pen covers, along the edge (dash
// ends, caps) times across it (the pen's sides); where outlines meet, the larger share holds,
// so that shared edges look like one stroked path, not a darker double line.
void OverlayRaster::markEdge(QPointF from, QPointF to, DashWalker& dash, int width)
{
    const double half = width / 2.0;
    const bool horizontal = from.y() == to.y();
    const double start = horizontal ? from.x() : from.y();
    const double end = horizontal ? to.x() : to.y();
    const double across = horizontal ? from.y() : from.x();
    // Horizontal edges reach over the corners by half a pen; vertical ones stop short of them.
    const double reach = horizontal ? half : -half;
    const double low = std::min(start, end) - reach;
    const double high = std::max(start, end) + reach;
    // The edge's own pixels walk a copy: the ones reaching over its end must not move the
    // pattern's start for the next edge.
    DashWalker edgeDash = dash;
    dash.advance(std::abs(end - start));
    const double acrossLow = across - half;
    const double acrossHigh = across + half;
    const int acrossFrom = std::max(floorToPixel(acrossLow), 0);
    const int acrossTo = std::min(ceilToPixel(acrossHigh), horizontal ? height_ : width_);
    const int alongFrom = std::max(floorToPixel(low), 0);
    const int alongTo = std::min(ceilToPixel(high), horizontal ? width_ : height_);
    if (high <= low || acrossFrom >= acrossTo || alongFrom >= alongTo) {
        return;
    }
    if (horizontal) {
        markRows(acrossFrom, acrossTo - 1);
    } else {
        markRows(alongFrom, alongTo - 1);
    }
    // The pen's sides cover the same shares of the pixels across it all along the edge.
    std::array<double, kMaxPenWidth + 2> acrossShares{};
    const int acrossCount = std::min(acrossTo - acrossFrom, static_cast<int>(acrossShares.size()));
    for (int side = 0; side < acrossCount; ++side) {
        acrossShares[static_cast<std::size_t>(side)] = overlap(acrossLow, acrossHigh, acrossFrom + side);
    }
    const std::size_t alongStride = horizontal ? 1 : static_cast<std::size_t>(width_);
    const std::size_t acrossStride = horizontal ? static_cast<std::size_t>(width_) : 1;
    std::uint8_t* const firstSide = marks_.data() + static_cast<std::size_t>(acrossFrom) * acrossStride;
    // Pixels are visited in the edge's own direction so that the dash walk only moves forward.
    const bool forward = end >= start;
    const int count = alongTo - alongFrom;
    for (int step = 0; step < count; ++step) {
        const int along = forward ? alongFrom + step : alongTo - 1 - step;
        const double pixelLow = std::max(static_cast<double>(along), low);
        const double pixelHigh = std::min(along + 1.0, high);
        const double alongShare = forward ? edgeDash.onLength(pixelLow - start, pixelHigh - start)
                                          : edgeDash.onLength(start - pixelHigh, start - pixelLow);
        if (alongShare <= 0.0) {
            continue;
        }
        std::uint8_t* mark = firstSide + static_cast<std::size_t>(along) * alongStride;
        for (int side = 0; side < acrossCount; ++side, mark += acrossStride) {
            *mark = std::max(*mark, coverageByte(alongShare * acrossShares[static_cast<std::size_t>(side)]));
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

// Each pixel near the line blends the share of it that the pen covers. Across the line that is
// the share of the pixel's column that the pen's slice through the column's centre covers (so
// only the two pixels at its sides are partly covered); near the ends it is also cut by the
// square caps, from the pixel centre's distance along the line.
void OverlayRaster::drawLine(QPointF a, QPointF b, const QColor& colour, int width)
{
    const std::uint32_t source = premultiplied(colour);
    const double half = width / 2.0;
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
    const double length = std::hypot(b.x() - a.x(), b.y() - a.y());
    const QPointF unit = length > 0.0 ? (b - a) / length : QPointF(1.0, 0.0);
    const double slope = b.x() == a.x() ? 0.0 : (b.y() - a.y()) / (b.x() - a.x());
    // The pen's half extent along the minor axis, and how near the ends the caps can reach into
    // a column's pixels.
    const double halfThickness = half / unit.x();
    const double capZone = halfThickness + 1.5;
    // One run of pixels across the line per step along its major axis, both clipped to the
    // image before the run rather than at each pixel.
    const int majorExtent = alongX ? width_ : height_;
    const int minorExtent = alongX ? height_ : width_;
    const std::ptrdiff_t minorStep = alongX ? static_cast<std::ptrdiff_t>(stride_) : 1;
    const int first = std::max(floorToPixel(a.x() - half - 1.0), 0);
    const int last = std::min(ceilToPixel(b.x() + half + 1.0), majorExtent);
    for (int major = first; major < last; ++major) {
        const double centre = major + 0.5;
        const double lineMinor = a.y() + (centre - a.x()) * slope;
        const double low = lineMinor - halfThickness;
        const double high = lineMinor + halfThickness;
        const int minorFrom = std::max(floorToPixel(low), 0);
        const int minorTo = std::min(ceilToPixel(high), minorExtent);
        const bool nearEnd = centre < a.x() + capZone || centre > b.x() - capZone;
        std::uint32_t* pixel = alongX ? row(minorFrom) + major : row(major) + minorFrom;
        for (int minor = minorFrom; minor < minorTo; ++minor, pixel += minorStep) {
            double share = overlap(low, high, minor);
            if (nearEnd) {
                const double along = (centre - a.x()) * unit.x() + (minor + 0.5 - a.y()) * unit.y();
                share *= penCoverage(-along, half) * penCoverage(along - length, half);
            }
            const std::uint8_t byte = coverageByte(share);
            if (byte != 0) {
                *pixel = over(byte == 255 ? source : scaled(source, byte), *pixel);
            }
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
            const double share = penCoverage(std::abs(distance - radius), half);
            if (share > 0.0) {
                blendPixel(x, y, scaled(source, coverageByte(share)));
            }
        }
    }
}

}  // namespace vexilo
