// Luma and chroma quantisation parameters (ITU-T H.265 8.6.1).
#pragma once

#include <cstdint>

namespace vexilo::hevc::derivations {

// QpY from its predictor qPY_PRED and CuQpDeltaVal, equation 8-283.
std::int32_t QpY(std::int32_t qPY_PRED, std::int32_t CuQpDeltaVal, std::int32_t QpBdOffsetY);

// qPCb / qPCr from qPiCb / qPiCr: Table 8-10 for ChromaArrayType 1, Min(qPi, 51) otherwise.
std::int32_t chromaQpFromIndex(std::int32_t qPi, std::uint32_t ChromaArrayType);

} // namespace vexilo::hevc::derivations
