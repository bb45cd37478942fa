// Context variables of every context-coded syntax element of slice_segment_data() and their
// initialisation (ITU-T H.265 9.3.2.2, Tables 9-5 to 9-37), plus the storage that WPP and
// dependent slice segments synchronise from (9.3.2.3, 9.3.2.4).
#pragma once

#include "cabac/arithmetic_decoder.h"

#include <array>
#include <cassert>
#include <cstdint>

namespace vexilo::hevc::cabac {

// The context-coded syntax elements, each owning a run of context indices (ctxInc 0..n-1).
enum class Element : unsigned {
    sao_merge_flag, // sao_merge_left_flag and sao_merge_up_flag
    sao_type_idx, // sao_type_idx_luma and sao_type_idx_chroma
    split_cu_flag,
    cu_transquant_bypass_flag,
    cu_skip_flag,
    pred_mode_flag,
    part_mode,
    prev_intra_luma_pred_flag,
    intra_chroma_pred_mode,
    rqt_root_cbf,
    merge_flag,
    merge_idx,
    inter_pred_idc,
    ref_idx, // ref_idx_l0 and ref_idx_l1
    mvp_flag, // mvp_l0_flag and mvp_l1_flag
    split_transform_flag,
    cbf_luma,
    cbf_chroma, // cbf_cb and cbf_cr
    abs_mvd_greater0_flag,
    abs_mvd_greater1_flag,
    cu_qp_delta_abs,
    transform_skip_flag, // ctxInc 0 luma, 1 chroma
    last_sig_coeff_x_prefix,
    last_sig_coeff_y_prefix,
    coded_sub_block_flag,
    sig_coeff_flag, // 42 regular plus the two transform_skip_context ones
    coeff_abs_level_greater1_flag,
    coeff_abs_level_greater2_flag,
    explicit_rdpcm_flag, // ctxInc 0 luma, 1 chroma
    explicit_rdpcm_dir_flag, // ctxInc 0 luma, 1 chroma
    log2_res_scale_abs_plus1,
    res_scale_sign_flag,
    cu_chroma_qp_offset_flag,
    cu_chroma_qp_offset_idx,
    count_
};

constexpr std::size_t kElementCount = static_cast<std::size_t>(Element::count_);

// How many contexts each element owns, element beside count, in the order of Element.
struct ElementContexts {
    Element element;
    std::uint8_t count;
};

constexpr std::array<ElementContexts, kElementCount> kElementContexts{{
    {Element::sao_merge_flag, 1},
    {Element::sao_type_idx, 1},
    {Element::split_cu_flag, 3},
    {Element::cu_transquant_bypass_flag, 1},
    {Element::cu_skip_flag, 3},
    {Element::pred_mode_flag, 1},
    {Element::part_mode, 4},
    {Element::prev_intra_luma_pred_flag, 1},
    {Element::intra_chroma_pred_mode, 1},
    {Element::rqt_root_cbf, 1},
    {Element::merge_flag, 1},
    {Element::merge_idx, 1},
    {Element::inter_pred_idc, 5},
    {Element::ref_idx, 2},
    {Element::mvp_flag, 1},
    {Element::split_transform_flag, 3},
    {Element::cbf_luma, 2},
    {Element::cbf_chroma, 5},
    {Element::abs_mvd_greater0_flag, 1},
    {Element::abs_mvd_greater1_flag, 1},
    {Element::cu_qp_delta_abs, 2},
    {Element::transform_skip_flag, 2},
    {Element::last_sig_coeff_x_prefix, 18},
    {Element::last_sig_coeff_y_prefix, 18},
    {Element::coded_sub_block_flag, 4},
    {Element::sig_coeff_flag, 44},
    {Element::coeff_abs_level_greater1_flag, 24},
    {Element::coeff_abs_level_greater2_flag, 6},
    {Element::explicit_rdpcm_flag, 2},
    {Element::explicit_rdpcm_dir_flag, 2},
    {Element::log2_res_scale_abs_plus1, 8},
    {Element::res_scale_sign_flag, 2},
    {Element::cu_chroma_qp_offset_flag, 1},
    {Element::cu_chroma_qp_offset_idx, 1},
}};

constexpr bool rowsFollowElementOrder()
{
    for (std::size_t i = 0; i < kElementCount; ++i) {
        if (kElementContexts[i].element != static_cast<Element>(i)) {
            return false;
        }
    }
    return true;
}
static_assert(rowsFollowElementOrder(), "kElementContexts must list every Element once, in enum order");

constexpr unsigned contextCountOf(Element element)
{
    return kElementContexts[static_cast<std::size_t>(element)].count;
}

constexpr std::size_t contextOffset(Element element)
{
    std::size_t offset = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(element); ++i) {
        offset += kElementContexts[i].count;
    }
    return offset;
}

constexpr std::size_t kContextCount = contextOffset(Element::count_);

// contextOffset() of every element, so that selecting a context at run time is a lookup.
constexpr std::array<std::uint16_t, kElementCount> kContextOffsets = [] {
    std::array<std::uint16_t, kElementCount> offsets{};
    for (std::size_t i = 0; i < kElementCount; ++i) {
        offsets[i] = static_cast<std::uint16_t>(contextOffset(static_cast<Element>(i)));
    }
    return offsets;
}();

// All context variables of a slice segment plus the Rice statistics of persistent Rice
// adaptation, which are stored and synchronised together with them (9.3.2.3, 9.3.2.4).
struct ContextSet {
    std::array<ContextVariable, kContextCount> contexts{};
    std::array<std::uint32_t, 4> StatCoeff{};

    ContextVariable& at(Element element, unsigned ctxInc)
    {
        assert(ctxInc < contextCountOf(element));
        return contexts[kContextOffsets[static_cast<std::size_t>(element)] + ctxInc];
    }
};

// initType of 9.3.2.2 from slice_type and cabac_init_flag.
unsigned initTypeOf(std::uint32_t sliceType, bool cabacInitFlag);

// Initialises every context variable for `initType` at SliceQpY, and clears StatCoeff.
void initialiseContexts(ContextSet& set, unsigned initType, std::int32_t SliceQpY);

// The initValue of one context (exposed for the tests of the tables).
std::uint8_t initValue(unsigned initType, Element element, unsigned ctxInc);

} // namespace vexilo::hevc::cabac
