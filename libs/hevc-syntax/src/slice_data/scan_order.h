// Up-right diagonal, horizontal and vertical scan orders (ITU-T H.265 6.5.3 to 6.5.5) for
// blocks of 1x1 to 8x8 positions: sub-blocks of a transform block and coefficients of a
// 4x4 sub-block.
#pragma once

#include <array>
#include <cstdint>

namespace vexilo::hevc::slice_data {

struct ScanPosition {
    std::uint8_t x = 0;
    std::uint8_t y = 0;
};

enum ScanIdx : std::uint32_t { kScanDiagonal = 0, kScanHorizontal = 1, kScanVertical = 2 };

// ScanOrder[log2BlockSize][scanIdx][sPos] for log2BlockSize 0..3.
const std::array<ScanPosition, 64>& scanOrder(std::uint32_t log2BlockSize, std::uint32_t scanIdx);

} // namespace vexilo::hevc::slice_data
