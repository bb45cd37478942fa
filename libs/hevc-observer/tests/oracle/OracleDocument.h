// A document made from libde265's own rendering: the block rectangles are read back from
// its grids, QPs and prediction modes from its maps, intra modes and motion vectors by
// finding the glyph and the line that reproduce what it drew. Rendering that document with
// DocumentRendering must give libde265's bitmaps back; this proves the two renderers agree
// before our own parser is judged by them.
#pragma once

#include "oracle/De265Oracle.h"

#include <vexilo/analysis/StreamAnalysis.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace vexilo::hevc::oracle {

// Rectangles of the block tiling whose top and left edges `grid` shows in `colour`, in
// raster order of their top-left corners. Blocks are at least 4 samples wide and high.
std::vector<analysis::BlockRect> blocksFromGrid(const Bitmap& grid, std::uint32_t colour);

// The QpY a QP-map pixel shows. QPs up to 20 all show as 0 and from 40 as 255; such a grey
// reads back as the lowest QP that shows it.
std::optional<std::int16_t> qpFromGrey(std::uint32_t pixel);

// Reading motion back searches every painted pixel per PB and list, far slower than the
// rest; it can be left out.
enum class MotionReadBack : std::uint8_t { Skip, Read };

// `ctuSize` places the blocks in CTUs, which fixes the order in which lines are drawn.
analysis::StreamAnalysis documentFromOracle(const std::vector<PictureBitmaps>& pictures, std::uint32_t ctuSize,
                                            MotionReadBack motion);

} // namespace vexilo::hevc::oracle
