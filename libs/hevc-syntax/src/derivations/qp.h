// Luma and chroma quantisation parameters (ITU-T H.265 8.6.1). Inline: every coding unit
// derives them.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace vexilo::hevc::derivations {

// QpY from its predictor qPY_PRED and CuQpDeltaVal, equation 8-283.
inline std::int32_t QpY(std::int32_t qPY_PRED, std::int32_t CuQpDeltaVal, std::int32_t QpBdOffsetY)
{
    return ((qPY_PRED + CuQpDeltaVal + 52 + 2 * QpBdOffsetY) % (52 + QpBdOffsetY)) - QpBdOffsetY;
}

// qPCb / qPCr from qPiCb / qPiCr: Table 8-10 for ChromaArrayType 1, Min(qPi, 51) otherwise.
inline std::int32_t chromaQpFromIndex(std::int32_t qPi, std::uint32_t ChromaArrayType)
{
    if (ChromaArrayType != 1) {
        return std::min(qPi, 51);
    }
    if (qPi < 30) {
        return qPi;
    }
    if (qPi > 43) {
        return qPi - 6;
    }
    constexpr std::array<std::int32_t, 14> kTable{29, 30, 31, 32, 33, 33, 34, 34, 35, 35, 36, 36, 37, 37};
    return kTable[static_cast<std::size_t>(qPi - 30)];
}

} // namespace vexilo::hevc::derivations
