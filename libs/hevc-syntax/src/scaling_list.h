// scaling_list_data() (ITU-T H.265 7.3.4) with the default lists of 7.4.5.
#pragma once

#include "bit_reader.h"

#include <array>
#include <cstdint>

namespace vexilo::hevc {

struct ScalingList {
    // ScalingList[sizeId][matrixId][i], i in up-right diagonal order; 16 entries for sizeId 0.
    std::array<std::array<std::array<std::uint8_t, 64>, 6>, 4> ScalingList{};
    // scaling_list_dc_coef_minus8 + 8 for sizeId 2 and 3 (16 where not signaled).
    std::array<std::array<std::uint8_t, 6>, 4> dcCoef{};
};

ScalingList defaultScalingList();
// Every factor 16: the lists in force when scaling_list_enabled_flag is 0.
ScalingList flatScalingList();
// `chromaArrayType` 3 makes the 32x32 chroma matrices (matrixId 1, 2, 4, 5) copies of the
// 16x16 ones, as the range extensions require.
ScalingList parseScalingListData(BitReader& reader, std::uint32_t chromaArrayType);

} // namespace vexilo::hevc
