// Intra prediction modes from their syntax elements: the most probable mode list and
// IntraPredModeY (ITU-T H.265 8.4.2) and IntraPredModeC with the 4:2:2 mapping (8.4.3).
#pragma once

#include <array>
#include <cstdint>

namespace vexilo::hevc::derivations {

constexpr std::uint32_t INTRA_PLANAR = 0;
constexpr std::uint32_t INTRA_DC = 1;
constexpr std::uint32_t INTRA_ANGULAR10 = 10; // horizontal
constexpr std::uint32_t INTRA_ANGULAR26 = 26; // vertical

// candModeList from the left (A) and above (B) candidates of 8.4.2, already reduced to
// INTRA_DC where a neighbour is unavailable, not intra, PCM or above the CTB.
std::array<std::uint32_t, 3> candModeList(std::uint32_t candIntraPredModeA, std::uint32_t candIntraPredModeB);

std::uint32_t IntraPredModeY(const std::array<std::uint32_t, 3>& candModeList, bool prev_intra_luma_pred_flag,
                             std::uint32_t mpm_idx, std::uint32_t rem_intra_luma_pred_mode);

std::uint32_t IntraPredModeC(std::uint32_t intra_chroma_pred_mode, std::uint32_t intraPredModeY,
                             std::uint32_t ChromaArrayType);

} // namespace vexilo::hevc::derivations
