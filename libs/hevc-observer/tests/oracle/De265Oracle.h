// libde265 as an independent decoder of the same streams: it renders its own view of every
// output picture's blocks into bitmaps through the drawing functions its library exports.
// The acceptance check of the block-level analysis compares those bitmaps with bitmaps
// rendered from our document (DocumentRendering.h).
//
// What each drawing function draws, as established by experiment on the reference streams
// (every bitmap here holds one 32-bit value per pixel: the functions are called with four
// bytes per pixel, so a pixel value is the little-endian word they store):
//   CB, TB and PB grids: for every leaf coding, transform or prediction block, its top row
//     and its left column in the colour given, clipped to the coded picture; nothing on
//     the right and bottom picture edges. Intra NxN prediction blocks count as four PBs.
//     A CU without a transform tree shows on the TB grid as one TB covering it.
//   QP map: every CB filled with grey g | g << 8 | g << 16 (top byte 0), where
//     g = (QpY - 20) * 255 / 20 in C integer arithmetic, clamped to [0, 255].
//   Prediction modes: every CB blended with its mode's colour, each byte becoming
//     (old + colour) / 2: intra 0xFF0000, skip 0x00FF00, inter 0x0000FF.
//   Intra modes: per intra PB a glyph in the colour given, around the centre
//     (cx, cy) = (x + w/2, y + h/2): planar a square ring at distance w/4; DC a "circle" of
//     points (cx + i, cy +- k), (cx +- k, cy + i) for i in [-w/4, w/4) with
//     k = (sqrt(w*w - 16*i*i) + 2) / 4; an angular mode a line of one pixel per i in
//     [-w/2, w/2) displaced by (angle*i +- 16) / 32 (intraPredAngle, rounded away from
//     zero), along the prediction direction: stepping down the rows for modes 18 and up (26
//     a vertical line), across the columns otherwise (10 a horizontal line). A glyph can
//     stick out of its PB by a pixel.
//   Motion: per PB, for L0 (0xFF0000) then L1 (0x00FF00), a line from the PB's centre to
//     the centre plus the vector taken as pixels (four times its length in samples), one
//     pixel per step along the longer axis (|dx| >= |dy| steps x), the other coordinate by
//     C integer division, clipped to the picture. The loop only counts upwards, so a line
//     whose longer axis points left or up draws nothing (a zero vector draws one pixel).
//     PBs are drawn CB by CB in raster order of the CBs' top-left corners over the whole
//     picture, PBs of a CB in partition order. libde265 also draws lines from intra PBs,
//     out of motion data it never wrote for them: left over from an earlier picture in a
//     reused buffer, or whatever fresh memory held (under AddressSanitizer, long lines
//     across the picture). Its motion drawing is therefore only compared on pictures
//     without intra CBs.
// All seven draw over the full coded picture, not the cropped output window, so the
// bitmaps have the coded size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexilo::hevc::oracle {

enum class BitmapKind : std::uint8_t {
    CodingBlockGrid,
    TransformBlockGrid,
    PredictionBlockGrid,
    QpMap,
    PredictionModes,
    IntraModes,
    Motion,
};
inline constexpr std::size_t kBitmapKindCount = 7;
inline constexpr std::array<BitmapKind, kBitmapKindCount> kAllBitmapKinds{
    BitmapKind::CodingBlockGrid, BitmapKind::TransformBlockGrid, BitmapKind::PredictionBlockGrid,
    BitmapKind::QpMap,           BitmapKind::PredictionModes,    BitmapKind::IntraModes,
    BitmapKind::Motion,
};
std::string_view bitmapKindName(BitmapKind kind);

// Colours we hand to the drawing functions that take one; distinct so that a bitmap of the
// wrong kind can never compare equal by accident.
inline constexpr std::uint32_t kCodingBlockGridColour = 0x00FFFF01;
inline constexpr std::uint32_t kTransformBlockGridColour = 0x00FFFF02;
inline constexpr std::uint32_t kPredictionBlockGridColour = 0x00FFFF03;
inline constexpr std::uint32_t kIntraModeColour = 0x00FFFF04;
// Every bitmap starts out as this; the prediction-mode blend depends on it.
inline constexpr std::uint32_t kBackground = 0;

struct Bitmap {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint32_t> pixels;

    Bitmap() = default;
    Bitmap(std::uint32_t w, std::uint32_t h) : width(w), height(h), pixels(std::size_t{w} * h, kBackground) {}

    [[nodiscard]] bool contains(std::int64_t x, std::int64_t y) const
    {
        return x >= 0 && y >= 0 && x < width && y < height;
    }
    [[nodiscard]] std::uint32_t at(std::uint32_t x, std::uint32_t y) const { return pixels[index(x, y)]; }
    void set(std::uint32_t x, std::uint32_t y, std::uint32_t value) { pixels[index(x, y)] = value; }

    friend bool operator==(const Bitmap&, const Bitmap&) = default;

private:
    [[nodiscard]] std::size_t index(std::uint32_t x, std::uint32_t y) const { return std::size_t{y} * width + x; }
};

struct PictureBitmaps {
    std::uint32_t codedWidth = 0;
    std::uint32_t codedHeight = 0;
    std::array<Bitmap, kBitmapKindCount> bitmaps;

    PictureBitmaps() = default;
    PictureBitmaps(std::uint32_t width, std::uint32_t height);

    [[nodiscard]] Bitmap& of(BitmapKind kind) { return bitmaps[static_cast<std::size_t>(kind)]; }
    [[nodiscard]] const Bitmap& of(BitmapKind kind) const { return bitmaps[static_cast<std::size_t>(kind)]; }
};

// Whether libde265's motion drawing of this picture shows only real vectors: it has no
// intra CB (see above).
bool motionIsReliable(const PictureBitmaps& pictures);

struct OracleRun {
    // Output pictures in output order.
    std::vector<PictureBitmaps> pictures;
    // Empty unless libde265 reported an error that stopped decoding.
    std::string error;
};

// Decodes an Annex-B stream with libde265 on the calling thread and renders every output
// picture's seven bitmaps.
OracleRun renderWithDe265(const std::vector<std::uint8_t>& annexB);

} // namespace vexilo::hevc::oracle
