#include "cabac/context_tables.h"

#include <algorithm>

namespace vexilo::hevc::cabac {
namespace {

// initValue of every context, per initType, in the order of Element. Elements that an
// initType never codes (inter syntax in I slices) carry 154, the neutral state.
constexpr std::uint8_t kInitType0[] = { // I slices
    153,                                // sao_merge_flag
    200,                                // sao_type_idx
    139, 141, 157,                      // split_cu_flag
    154,                                // cu_transquant_bypass_flag
    154, 154, 154,                      // cu_skip_flag
    154,                                // pred_mode_flag
    184, 154, 154, 154,                 // part_mode
    184,                                // prev_intra_luma_pred_flag
    63,                                 // intra_chroma_pred_mode
    154,                                // rqt_root_cbf
    154,                                // merge_flag
    154,                                // merge_idx
    154, 154, 154, 154, 154,            // inter_pred_idc
    154, 154,                           // ref_idx
    154,                                // mvp_flag
    153, 138, 138,                      // split_transform_flag
    111, 141,                           // cbf_luma
    94, 138, 182, 154, 154,             // cbf_chroma
    154,                                // abs_mvd_greater0_flag
    154,                                // abs_mvd_greater1_flag
    154, 154,                           // cu_qp_delta_abs
    139, 139,                           // transform_skip_flag (luma, chroma)
    // last_sig_coeff_x_prefix, then last_sig_coeff_y_prefix
    110, 110, 124, 125, 140, 153, 125, 127, 140, 109, 111, 143, 127, 111, 79, 108, 123, 63,
    110, 110, 124, 125, 140, 153, 125, 127, 140, 109, 111, 143, 127, 111, 79, 108, 123, 63,
    91, 171, 134, 141,                  // coded_sub_block_flag
    111, 111, 125, 110, 110, 94, 124, 108, 124, 107, 125, 141, 179, 153, 125, 107, 125, 141,
    179, 153, 125, 107, 125, 141, 179, 153, 125, 140, 139, 182, 182, 152, 136, 152, 136, 153,
    136, 139, 111, 136, 139, 111, 141, 111, // sig_coeff_flag
    140, 92, 137, 138, 140, 152, 138, 139, 153, 74, 149, 92, 139, 107, 122, 152, 140, 179,
    166, 182, 140, 227, 122, 197,       // coeff_abs_level_greater1_flag
    138, 153, 136, 167, 152, 152,       // coeff_abs_level_greater2_flag
    154, 154,                           // explicit_rdpcm_flag
    154, 154,                           // explicit_rdpcm_dir_flag
    154, 154, 154, 154, 154, 154, 154, 154, // log2_res_scale_abs_plus1
    154, 154,                           // res_scale_sign_flag
    154,                                // cu_chroma_qp_offset_flag
    154,                                // cu_chroma_qp_offset_idx
};
static_assert(sizeof(kInitType0) == kContextCount);

constexpr std::uint8_t kInitType1[] = { // P slices, or B slices with cabac_init_flag
    153,                                // sao_merge_flag
    185,                                // sao_type_idx
    107, 139, 126,                      // split_cu_flag
    154,                                // cu_transquant_bypass_flag
    197, 185, 201,                      // cu_skip_flag
    149,                                // pred_mode_flag
    154, 139, 154, 154,                 // part_mode
    154,                                // prev_intra_luma_pred_flag
    152,                                // intra_chroma_pred_mode
    79,                                 // rqt_root_cbf
    110,                                // merge_flag
    122,                                // merge_idx
    95, 79, 63, 31, 31,                 // inter_pred_idc
    153, 153,                           // ref_idx
    168,                                // mvp_flag
    124, 138, 94,                       // split_transform_flag
    153, 111,                           // cbf_luma
    149, 107, 167, 154, 154,            // cbf_chroma
    140,                                // abs_mvd_greater0_flag
    198,                                // abs_mvd_greater1_flag
    154, 154,                           // cu_qp_delta_abs
    139, 139,                           // transform_skip_flag (luma, chroma)
    125, 110, 94, 110, 95, 79, 125, 111, 110, 78, 110, 111, 111, 95, 94, 108, 123, 108, // last_sig_coeff_x_prefix
    125, 110, 94, 110, 95, 79, 125, 111, 110, 78, 110, 111, 111, 95, 94, 108, 123, 108, // last_sig_coeff_y_prefix
    121, 140, 61, 154,                  // coded_sub_block_flag
    155, 154, 139, 153, 139, 123, 123, 63, 153, 166, 183, 140, 136, 153, 154, 166, 183, 140,
    136, 153, 154, 166, 183, 140, 136, 153, 154, 170, 153, 123, 123, 107, 121, 107, 121, 167,
    151, 183, 140, 151, 183, 140, 140, 140, // sig_coeff_flag
    154, 196, 196, 167, 154, 152, 167, 182, 182, 134, 149, 136, 153, 121, 136, 137, 169, 194,
    166, 167, 154, 167, 137, 182,       // coeff_abs_level_greater1_flag
    107, 167, 91, 122, 107, 167,        // coeff_abs_level_greater2_flag
    139, 139,                           // explicit_rdpcm_flag
    139, 139,                           // explicit_rdpcm_dir_flag
    154, 154, 154, 154, 154, 154, 154, 154, // log2_res_scale_abs_plus1
    154, 154,                           // res_scale_sign_flag
    154,                                // cu_chroma_qp_offset_flag
    154,                                // cu_chroma_qp_offset_idx
};
static_assert(sizeof(kInitType1) == kContextCount);

constexpr std::uint8_t kInitType2[] = { // B slices, or P slices with cabac_init_flag
    153,                                // sao_merge_flag
    160,                                // sao_type_idx
    107, 139, 126,                      // split_cu_flag
    154,                                // cu_transquant_bypass_flag
    197, 185, 201,                      // cu_skip_flag
    134,                                // pred_mode_flag
    154, 139, 154, 154,                 // part_mode
    183,                                // prev_intra_luma_pred_flag
    152,                                // intra_chroma_pred_mode
    79,                                 // rqt_root_cbf
    154,                                // merge_flag
    137,                                // merge_idx
    95, 79, 63, 31, 31,                 // inter_pred_idc
    153, 153,                           // ref_idx
    168,                                // mvp_flag
    224, 167, 122,                      // split_transform_flag
    153, 111,                           // cbf_luma
    149, 92, 167, 154, 154,             // cbf_chroma
    169,                                // abs_mvd_greater0_flag
    198,                                // abs_mvd_greater1_flag
    154, 154,                           // cu_qp_delta_abs
    139, 139,                           // transform_skip_flag (luma, chroma)
    125, 110, 124, 110, 95, 94, 125, 111, 111, 79, 125, 126, 111, 111, 79, 108, 123, 93, // last_sig_coeff_x_prefix
    125, 110, 124, 110, 95, 94, 125, 111, 111, 79, 125, 126, 111, 111, 79, 108, 123, 93, // last_sig_coeff_y_prefix
    121, 140, 61, 154,                  // coded_sub_block_flag
    170, 154, 139, 153, 139, 123, 123, 63, 124, 166, 183, 140, 136, 153, 154, 166, 183, 140,
    136, 153, 154, 166, 183, 140, 136, 153, 154, 170, 153, 138, 138, 122, 121, 122, 121, 167,
    151, 183, 140, 151, 183, 140, 140, 140, // sig_coeff_flag
    154, 196, 167, 167, 154, 152, 167, 182, 182, 134, 149, 136, 153, 121, 136, 122, 169, 208,
    166, 167, 154, 152, 167, 182,       // coeff_abs_level_greater1_flag
    107, 167, 91, 107, 107, 167,        // coeff_abs_level_greater2_flag
    139, 139,                           // explicit_rdpcm_flag
    139, 139,                           // explicit_rdpcm_dir_flag
    154, 154, 154, 154, 154, 154, 154, 154, // log2_res_scale_abs_plus1
    154, 154,                           // res_scale_sign_flag
    154,                                // cu_chroma_qp_offset_flag
    154,                                // cu_chroma_qp_offset_idx
};
static_assert(sizeof(kInitType2) == kContextCount);

constexpr const std::uint8_t* kInitValues[3] = {kInitType0, kInitType1, kInitType2};

} // namespace

unsigned initTypeOf(std::uint32_t sliceType, bool cabacInitFlag)
{
    constexpr std::uint32_t kSliceB = 0;
    constexpr std::uint32_t kSliceP = 1;
    if (sliceType == kSliceP) {
        return cabacInitFlag ? 2U : 1U;
    }
    if (sliceType == kSliceB) {
        return cabacInitFlag ? 1U : 2U;
    }
    return 0;
}

std::uint8_t initValue(unsigned initType, Element element, unsigned ctxInc)
{
    return kInitValues[initType][contextOffset(element) + ctxInc];
}

void initialiseContexts(ContextSet& set, unsigned initType, std::int32_t SliceQpY)
{
    const std::int32_t qp = std::clamp(SliceQpY, 0, 51);
    for (std::size_t i = 0; i < kContextCount; ++i) {
        const std::int32_t value = kInitValues[initType][i];
        const std::int32_t slopeIdx = value >> 4;
        const std::int32_t offsetIdx = value & 15;
        const std::int32_t m = slopeIdx * 5 - 45;
        const std::int32_t n = (offsetIdx << 3) - 16;
        const std::int32_t preCtxState = std::clamp(((m * qp) >> 4) + n, 1, 126);
        const bool valMps = preCtxState > 63;
        set.contexts[i] = ContextVariable::of(static_cast<unsigned>(valMps ? preCtxState - 64 : 63 - preCtxState),
                                              valMps ? 1U : 0U);
    }
    set.StatCoeff = {};
}

} // namespace vexilo::hevc::cabac
