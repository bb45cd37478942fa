#include "slice_data/scan_order.h"

namespace vexilo::hevc::slice_data {
namespace {

using Scan = std::array<ScanPosition, 64>;

Scan diagonalScan(std::uint32_t blkSize)
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

Scan rasterScan(std::uint32_t blkSize, bool vertical)
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

struct ScanTables {
    std::array<std::array<Scan, 3>, 4> tables{};
    ScanTables()
    {
        for (std::uint32_t log2 = 0; log2 < 4; ++log2) {
            tables[log2][kScanDiagonal] = diagonalScan(1U << log2);
            tables[log2][kScanHorizontal] = rasterScan(1U << log2, false);
            tables[log2][kScanVertical] = rasterScan(1U << log2, true);
        }
    }
};

} // namespace

const std::array<ScanPosition, 64>& scanOrder(std::uint32_t log2BlockSize, std::uint32_t scanIdx)
{
    static const ScanTables kTables;
    return kTables.tables[log2BlockSize][scanIdx];
}

} // namespace vexilo::hevc::slice_data
