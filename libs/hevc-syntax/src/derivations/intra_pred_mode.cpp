#include "derivations/intra_pred_mode.h"

#include <algorithm>

namespace vexilo::hevc::derivations {
namespace {

// Table 8-3: modeIdc to IntraPredModeC when ChromaArrayType is 2.
constexpr std::array<std::uint8_t, 35> kMode422{0,  1,  2,  2,  2,  2,  3,  5,  7,  8,  10, 11,
                                                13, 15, 16, 18, 19, 20, 21, 22, 23, 23, 24, 24,
                                                25, 25, 26, 27, 27, 28, 28, 29, 29, 30, 31};

} // namespace

std::array<std::uint32_t, 3> candModeList(std::uint32_t candIntraPredModeA, std::uint32_t candIntraPredModeB)
{
    const std::uint32_t a = candIntraPredModeA;
    const std::uint32_t b = candIntraPredModeB;
    if (a == b) {
        if (a < 2) {
            return {INTRA_PLANAR, INTRA_DC, INTRA_ANGULAR26};
        }
        return {a, 2 + ((a + 29) % 32), 2 + ((a - 2 + 1) % 32)};
    }
    std::uint32_t third = INTRA_ANGULAR26;
    if (a != INTRA_PLANAR && b != INTRA_PLANAR) {
        third = INTRA_PLANAR;
    } else if (a != INTRA_DC && b != INTRA_DC) {
        third = INTRA_DC;
    }
    return {a, b, third};
}

std::uint32_t IntraPredModeY(const std::array<std::uint32_t, 3>& candModeList, bool prev_intra_luma_pred_flag,
                             std::uint32_t mpm_idx, std::uint32_t rem_intra_luma_pred_mode)
{
    if (prev_intra_luma_pred_flag) {
        return candModeList[std::min<std::uint32_t>(mpm_idx, 2)];
    }
    std::array<std::uint32_t, 3> sorted = candModeList;
    std::sort(sorted.begin(), sorted.end());
    std::uint32_t mode = rem_intra_luma_pred_mode;
    for (const std::uint32_t candidate : sorted) {
        if (mode >= candidate) {
            ++mode;
        }
    }
    return mode;
}

std::uint32_t IntraPredModeC(std::uint32_t intra_chroma_pred_mode, std::uint32_t intraPredModeY,
                             std::uint32_t ChromaArrayType)
{
    // Table 8-2: the four fixed modes, replaced by angular 34 when they equal the luma mode.
    constexpr std::array<std::uint32_t, 4> kFixed{INTRA_PLANAR, INTRA_ANGULAR26, INTRA_ANGULAR10, INTRA_DC};
    std::uint32_t modeIdc = intraPredModeY;
    if (intra_chroma_pred_mode < 4) {
        modeIdc = kFixed[intra_chroma_pred_mode] == intraPredModeY ? 34U : kFixed[intra_chroma_pred_mode];
    }
    if (ChromaArrayType == 2 && modeIdc < kMode422.size()) {
        return kMode422[modeIdc];
    }
    return modeIdc;
}

} // namespace vexilo::hevc::derivations
