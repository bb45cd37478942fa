// Renders the block records of our analysis document into the same seven bitmaps that
// libde265 draws (De265Oracle.h), so that a correct document compares byte-identical, and
// finds the first difference between two renderings.
#pragma once

#include "oracle/De265Oracle.h"

#include <vexilo/analysis/StreamAnalysis.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vexilo::hevc::oracle {

// One prediction block with what its drawing needs from its CU and its motion vectors.
struct PredictionBlock {
    analysis::PuInfo pu;
    std::optional<analysis::MotionVectorInfo> l0;
    std::optional<analysis::MotionVectorInfo> l1;
};

// The leaf blocks of one output picture, in the order libde265 draws them: CBs and TBs CTU
// by CTU in raster order, in quadtree (z) order inside a CTU; PBs CB by CB in raster order
// of the CBs' corners. Split CUs and TUs are left out; they draw nothing of their own.
struct PictureBlocks {
    std::uint32_t codedWidth = 0;
    std::uint32_t codedHeight = 0;
    std::vector<analysis::CuInfo> codingBlocks;
    std::vector<analysis::TuInfo> transformBlocks;
    std::vector<PredictionBlock> predictionBlocks;
};

// The document's pictures in output (display) order. The coded size of a picture is the
// extent of its CTUs, which the document clips to the coded picture.
std::vector<PictureBlocks> blocksByOutputPicture(const analysis::StreamAnalysis& document);

PictureBitmaps renderBlocks(const PictureBlocks& blocks);
std::vector<PictureBitmaps> renderDocument(const analysis::StreamAnalysis& document);

// A PCM CB has no intra prediction mode (none is derived for it), but libde265 draws a
// glyph there from whatever mode its buffer last held. Clears the intra-mode bitmaps of both
// renderings over the document's PCM CBs, and over the pixel a glyph may stick out by.
void clearIntraModesOverPcmBlocks(std::vector<PictureBitmaps>& libde265, std::vector<PictureBitmaps>& ours,
                                  const analysis::StreamAnalysis& document);

// The drawing primitives, one per kind of mark libde265 makes.
namespace draw {
inline constexpr std::uint32_t kIntraColour = 0xFF0000;
inline constexpr std::uint32_t kSkipColour = 0x00FF00;
inline constexpr std::uint32_t kInterColour = 0x0000FF;
inline constexpr std::uint32_t kMotionL0Colour = 0xFF0000;
inline constexpr std::uint32_t kMotionL1Colour = 0x00FF00;

void blockEdges(Bitmap& bitmap, const analysis::BlockRect& rect, std::uint32_t colour);
void fill(Bitmap& bitmap, const analysis::BlockRect& rect, std::uint32_t colour);
void blend(Bitmap& bitmap, const analysis::BlockRect& rect, std::uint32_t colour);
std::uint32_t qpColour(int qp);
std::optional<std::uint32_t> predictionModeColour(analysis::PredictionMode mode);
// Calls `plot` for every pixel of the glyph libde265 draws for an intra mode, before clipping.
void forEachGlyphPixel(const analysis::BlockRect& rect, int mode,
                       const std::function<void(std::int64_t, std::int64_t)>& plot);
void intraGlyph(Bitmap& bitmap, const analysis::BlockRect& rect, int mode, std::uint32_t colour);
// Calls `plot` for every pixel of the line libde265 draws from (x0, y0) to (x1, y1), before
// clipping: one pixel per step along the longer axis, both ends included.
void forEachLinePixel(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
                      const std::function<void(std::int64_t, std::int64_t)>& plot);
// As forEachLinePixel, until `plot` returns false; false when it stopped early.
bool forEachLinePixelWhile(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
                           const std::function<bool(std::int64_t, std::int64_t)>& plot);
void line(Bitmap& bitmap, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, std::uint32_t colour);
void motion(Bitmap& bitmap, const analysis::BlockRect& rect, const analysis::MotionVectorInfo& vector);
} // namespace draw

struct BitmapMismatch {
    std::size_t picture = 0; // output order
    BitmapKind kind = BitmapKind::CodingBlockGrid;
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t expected = 0;
    std::uint32_t actual = 0;
    std::string note; // set for differences of picture count or size
};

// The first difference, picture by picture in output order, kind by kind, in raster order;
// `expected` is libde265's rendering, whose motion counts only where motionIsReliable.
std::optional<BitmapMismatch> firstMismatch(const std::vector<PictureBitmaps>& expected,
                                            const std::vector<PictureBitmaps>& actual,
                                            const std::vector<BitmapKind>& kinds = {kAllBitmapKinds.begin(),
                                                                                    kAllBitmapKinds.end()});

// Of the pixels either rendering draws in bitmaps of `kind`, the share drawn alike, over
// all pictures both have (1 when neither draws anything); motion only where reliable.
double agreement(const std::vector<PictureBitmaps>& expected, const std::vector<PictureBitmaps>& actual,
                 BitmapKind kind);
std::string describe(const BitmapMismatch& mismatch);

} // namespace vexilo::hevc::oracle
