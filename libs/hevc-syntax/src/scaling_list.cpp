#include "scaling_list.h"

#include <algorithm>

namespace vexilo::hevc {

namespace {
constexpr unsigned kSizeIds = 4;
constexpr unsigned kMatrixIds = 6;
constexpr std::uint8_t kFlatScalingFactor = 16;

// Table 7-6, intra (matrixId 0..2) and inter (matrixId 3..5) defaults for sizeId 1..3.
constexpr std::array<std::uint8_t, 64> kDefaultIntra8x8 = {
    16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 17, 16, 17, 16, 17, 18, 17, 18, 18, 17, 18, 21,
    19, 20, 21, 20, 19, 21, 24, 22, 22, 24, 24, 22, 22, 24, 25, 25, 27, 30, 27, 25, 25, 29,
    31, 35, 35, 31, 29, 36, 41, 44, 41, 36, 47, 54, 54, 47, 65, 70, 65, 88, 88, 115};
constexpr std::array<std::uint8_t, 64> kDefaultInter8x8 = {
    16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 17, 17, 17, 17, 17, 18, 18, 18, 18, 18, 18, 20,
    20, 20, 20, 20, 20, 20, 24, 24, 24, 24, 24, 24, 24, 24, 25, 25, 25, 25, 25, 25, 25, 28,
    28, 28, 28, 28, 28, 33, 33, 33, 33, 33, 41, 41, 41, 41, 54, 54, 54, 71, 71, 91};

void setDefault(ScalingList& list, unsigned sizeId, unsigned matrixId)
{
    auto& matrix = list.ScalingList[sizeId][matrixId];
    if (sizeId == 0) {
        matrix.fill(kFlatScalingFactor);
    } else {
        matrix = matrixId < 3 ? kDefaultIntra8x8 : kDefaultInter8x8;
    }
    list.dcCoef[sizeId][matrixId] = kFlatScalingFactor;
}

unsigned coefNum(unsigned sizeId) { return std::min(64U, 1U << (4U + (sizeId << 1U))); }
} // namespace

ScalingList defaultScalingList()
{
    ScalingList list;
    for (unsigned sizeId = 0; sizeId < kSizeIds; ++sizeId) {
        for (unsigned matrixId = 0; matrixId < kMatrixIds; ++matrixId) {
            setDefault(list, sizeId, matrixId);
        }
    }
    return list;
}

ScalingList flatScalingList()
{
    ScalingList list;
    for (auto& size : list.ScalingList) {
        for (auto& matrix : size) {
            matrix.fill(kFlatScalingFactor);
        }
    }
    for (auto& dc : list.dcCoef) {
        dc.fill(kFlatScalingFactor);
    }
    return list;
}

ScalingList parseScalingListData(BitReader& reader, std::uint32_t chromaArrayType)
{
    ScalingList list = defaultScalingList();
    for (unsigned sizeId = 0; sizeId < kSizeIds; ++sizeId) {
        const unsigned step = sizeId == 3 ? 3U : 1U;
        for (unsigned matrixId = 0; matrixId < kMatrixIds; matrixId += step) {
            const bool scaling_list_pred_mode_flag = reader.flag();
            if (!scaling_list_pred_mode_flag) {
                const std::uint32_t scaling_list_pred_matrix_id_delta =
                    reader.ueMax(matrixId / step, "scaling_list_pred_matrix_id_delta out of range");
                if (scaling_list_pred_matrix_id_delta == 0) {
                    setDefault(list, sizeId, matrixId);
                } else {
                    const unsigned refMatrixId = matrixId - scaling_list_pred_matrix_id_delta * step;
                    list.ScalingList[sizeId][matrixId] = list.ScalingList[sizeId][refMatrixId];
                    list.dcCoef[sizeId][matrixId] = list.dcCoef[sizeId][refMatrixId];
                }
                continue;
            }
            int nextCoef = 8;
            if (sizeId > 1) {
                const std::int32_t scaling_list_dc_coef_minus8 =
                    reader.seRange(-7, 247, "scaling_list_dc_coef_minus8 out of range");
                nextCoef = scaling_list_dc_coef_minus8 + 8;
                list.dcCoef[sizeId][matrixId] = static_cast<std::uint8_t>(nextCoef);
            }
            for (unsigned i = 0; i < coefNum(sizeId); ++i) {
                const std::int32_t scaling_list_delta_coef =
                    reader.seRange(-128, 127, "scaling_list_delta_coef out of range");
                nextCoef = (nextCoef + scaling_list_delta_coef + 256) % 256;
                require(nextCoef > 0, "ScalingList entry is 0");
                list.ScalingList[sizeId][matrixId][i] = static_cast<std::uint8_t>(nextCoef);
            }
        }
    }
    if (chromaArrayType == 3) {
        for (const unsigned matrixId : {1U, 2U, 4U, 5U}) {
            list.ScalingList[3][matrixId] = list.ScalingList[2][matrixId];
            list.dcCoef[3][matrixId] = list.dcCoef[2][matrixId];
        }
    }
    return list;
}

} // namespace vexilo::hevc
