// Up-right diagonal, horizontal and vertical scan orders (ITU-T H.265 6.5.3 to 6.5.5) for
// blocks of 1x1 to 8x8 positions: sub-blocks of a transform block and coefficients of a
// 4x4 sub-block. Built at compile time, so that tables derived from them are constants too.
#pragma once

#include <array>
#include <cstdint>

namespace vexilo::hevc::slice_data {

struct ScanPosition {
    std::uint8_t x = 0;
    std::uint8_t y = 0;
};

enum ScanIdx : std::uint32_t { kScanDiagonal = 0, kScanHorizontal = 1, kScanVertical = 2 };

namespace detail {

using Scan = std::array<ScanPosition, 64>;

constexpr Scan diagonalScan(std::uint32_t blkSize)
{
    Scan scan{};
    std::uint32_t i = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    const auto size = static_cast<std::int32_t>(blkSize);
    while (i < blkSize * blkSize) {
        while (y >= 0) {
            if (x < size && y < size) {
                scan[i++] = {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)};
            }
            --y;
            ++x;
        }
        y = x;
        x = 0;
    }
    return scan;
}

constexpr Scan rasterScan(std::uint32_t blkSize, bool vertical)
{
    Scan scan{};
    std::uint32_t i = 0;
    for (std::uint32_t outer = 0; outer < blkSize; ++outer) {
        for (std::uint32_t inner = 0; inner < blkSize; ++inner) {
            const auto a = static_cast<std::uint8_t>(inner);
            const auto b = static_cast<std::uint8_t>(outer);
            scan[i++] = vertical ? ScanPosition{b, a} : ScanPosition{a, b};
        }
    }
    return scan;
}

// [log2BlockSize][scanIdx]
constexpr std::array<std::array<Scan, 3>, 4> kScanOrders = [] {
    std::array<std::array<Scan, 3>, 4> tables{};
    for (std::uint32_t log2 = 0; log2 < 4; ++log2) {
        tables[log2][kScanDiagonal] = diagonalScan(1U << log2);
        tables[log2][kScanHorizontal] = rasterScan(1U << log2, false);
        tables[log2][kScanVertical] = rasterScan(1U << log2, true);
    }
    return tables;
}();

// The inverse: sPos by [log2BlockSize][scanIdx][(y << log2BlockSize) + x].
constexpr std::array<std::array<std::array<std::uint8_t, 64>, 3>, 4> kScanPositions = [] {
    std::array<std::array<std::array<std::uint8_t, 64>, 3>, 4> positions{};
    for (std::uint32_t log2 = 0; log2 < 4; ++log2) {
        for (std::uint32_t scanIdx = 0; scanIdx < 3; ++scanIdx) {
            for (std::uint32_t sPos = 0; sPos < (1U << (2 * log2)); ++sPos) {
                const ScanPosition at = kScanOrders[log2][scanIdx][sPos];
                positions[log2][scanIdx][(static_cast<std::uint32_t>(at.y) << log2) + at.x] =
                    static_cast<std::uint8_t>(sPos);
            }
        }
    }
    return positions;
}();

} // namespace detail

// ScanOrder[log2BlockSize][scanIdx][sPos] for log2BlockSize 0..3.
constexpr const std::array<ScanPosition, 64>& scanOrder(std::uint32_t log2BlockSize, std::uint32_t scanIdx)
{
    return detail::kScanOrders[log2BlockSize][scanIdx];
}

// The sPos at which scanOrder(log2BlockSize, scanIdx) visits (x, y).
constexpr std::uint32_t scanPositionOf(std::uint32_t log2BlockSize, std::uint32_t scanIdx, std::uint32_t x,
                                       std::uint32_t y)
{
    return detail::kScanPositions[log2BlockSize][scanIdx][(y << log2BlockSize) + x];
}

} // namespace vexilo::hevc::slice_data
