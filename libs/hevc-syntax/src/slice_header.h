// slice_segment_header() (ITU-T H.265 7.3.6) with pred_weight_table() (7.3.6.3),
// ref_pic_lists_modification() (7.3.6.2) and the semantics of 7.4.7.
#pragma once

#include "bit_reader.h"
#include "nal_unit.h"
#include "parameter_sets.h"
#include "ref_pic_list_sources.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexilo::hevc {

enum SliceType : std::uint32_t { kSliceB = 0, kSliceP = 1, kSliceI = 2 };

constexpr std::uint32_t kMaxLongTermPictures = 32;
constexpr std::uint32_t kMaxSliceHeaderExtensionLength = 256;

// Syntax elements a slice segment header signaled itself (bit per element); a dependent
// slice segment takes the others from its independent slice segment.
enum SignaledField : unsigned {
    kFirstSliceSegmentInPicFlag = 0,
    kNoOutputOfPriorPicsFlag = 1,
    kSlicePicParameterSetId = 2,
    kDependentSliceSegmentFlag = 3,
    kSliceSegmentAddress = 4,
    kSliceTypeField = 5,
    kPicOutputFlag = 6,
    kSlicePicOrderCntLsb = 7,
    kShortTermRefPicSetSpsFlag = 8,
    kShortTermRefPicSetIdx = 9,
    kNumRefIdxActiveOverrideFlag = 10,
    kNumRefIdxL0Active = 11,
    kNumRefIdxL1Active = 12,
    kRefPicListModificationFlagL0 = 13,
    kRefPicListModificationFlagL1 = 14,
    kSliceQpDelta = 15,
    kNumEntryPointOffsets = 16,
};

struct LongTermRefPic {
    bool fromSps = false;
    std::uint32_t lt_idx_sps = 0;
    std::uint32_t PocLsbLt = 0;
    bool UsedByCurrPicLt = false;
    bool delta_poc_msb_present_flag = false;
    std::uint32_t delta_poc_msb_cycle_lt = 0;
    std::uint64_t DeltaPocMsbCycleLt = 0; // accumulated, equation 7-52
};

struct PredWeightTable {
    std::uint32_t luma_log2_weight_denom = 0;
    std::uint32_t ChromaLog2WeightDenom = 0;
    struct Entry {
        bool luma_weight_flag = false;
        bool chroma_weight_flag = false;
        std::int32_t LumaWeight = 0;
        std::int32_t luma_offset = 0;
        std::array<std::int32_t, 2> ChromaWeight{};
        std::array<std::int32_t, 2> ChromaOffset{};
    };
    std::array<std::array<Entry, kMaxRefIdxActive + 1>, 2> lists{};
};

struct SliceSegmentHeader {
    NalUnitHeader nal;
    std::uint64_t signaled = 0; // bits of SignaledField

    bool first_slice_segment_in_pic_flag = false;
    bool no_output_of_prior_pics_flag = false;
    std::uint32_t slice_pic_parameter_set_id = 0;
    bool dependent_slice_segment_flag = false;
    std::uint32_t slice_segment_address = 0;
    std::uint32_t slice_reserved_flags = 0;
    std::uint32_t slice_type = kSliceI;
    bool pic_output_flag = true;
    std::uint32_t colour_plane_id = 0;
    std::uint32_t slice_pic_order_cnt_lsb = 0;
    bool short_term_ref_pic_set_sps_flag = false;
    std::uint32_t short_term_ref_pic_set_idx = 0;
    std::uint64_t stRpsBits = 0; // st_ref_pic_set() size in bits when in the header
    ShortTermRefPicSet stRps;    // the set in use (CurrRpsIdx), copied
    std::uint32_t num_long_term_sps = 0;
    std::uint32_t num_long_term_pics = 0;
    std::vector<LongTermRefPic> longTerm;
    bool slice_temporal_mvp_enabled_flag = false;
    bool slice_sao_luma_flag = false;
    bool slice_sao_chroma_flag = false;
    bool num_ref_idx_active_override_flag = false;
    std::uint32_t num_ref_idx_l0_active_minus1 = 0;
    std::uint32_t num_ref_idx_l1_active_minus1 = 0;
    bool ref_pic_list_modification_flag_l0 = false;
    bool ref_pic_list_modification_flag_l1 = false;
    std::array<std::uint32_t, kMaxRefIdxActive + 1> list_entry_l0{};
    std::array<std::uint32_t, kMaxRefIdxActive + 1> list_entry_l1{};
    bool mvd_l1_zero_flag = false;
    bool cabac_init_flag = false;
    bool collocated_from_l0_flag = true;
    std::uint32_t collocated_ref_idx = 0;
    PredWeightTable predWeightTable;
    std::uint32_t five_minus_max_num_merge_cand = 0;
    bool use_integer_mv_flag = false;
    std::int32_t slice_qp_delta = 0;
    std::int32_t slice_cb_qp_offset = 0;
    std::int32_t slice_cr_qp_offset = 0;
    std::int32_t slice_act_y_qp_offset = 0;
    std::int32_t slice_act_cb_qp_offset = 0;
    std::int32_t slice_act_cr_qp_offset = 0;
    bool cu_chroma_qp_offset_enabled_flag = false;
    bool deblocking_filter_override_flag = false;
    bool slice_deblocking_filter_disabled_flag = false;
    std::int32_t slice_beta_offset_div2 = 0;
    std::int32_t slice_tc_offset_div2 = 0;
    bool slice_loop_filter_across_slices_enabled_flag = false;
    std::uint32_t num_entry_point_offsets = 0;
    std::uint32_t offset_len_minus1 = 0;
    std::vector<std::uint32_t> entry_point_offset_minus1;
    std::uint32_t slice_segment_header_extension_length = 0;

    // Derived (7.4.7.1).
    std::uint32_t SliceAddrRs = 0;  // address of the first CTB of the independent slice
    std::int32_t SliceQpY = 26;
    std::uint32_t MaxNumMergeCand = 5;
    std::uint32_t NumPicTotalCurr = 0;
    std::uint32_t NumPocStCurrBefore = 0;
    std::uint32_t NumPocStCurrAfter = 0;
    std::uint32_t NumPocLtCurr = 0;
    std::uint32_t CtbAddrInTs = 0;  // tile-scan address of slice_segment_address
    std::uint32_t TileIdOfFirstCtb = 0;
    std::uint64_t sliceDataByteOffset = 0; // in the RBSP, after byte_alignment()

    [[nodiscard]] bool isP() const { return slice_type == kSliceP; }
    [[nodiscard]] bool isB() const { return slice_type == kSliceB; }
    [[nodiscard]] bool isIntra() const { return slice_type == kSliceI; }
    [[nodiscard]] RefPicListInputs refPicListInputs(unsigned listX, const Pps& pps) const;
};

struct ParameterSetStore {
    std::array<std::shared_ptr<const Vps>, kMaxVpsCount> vps;
    std::array<std::shared_ptr<const Sps>, kMaxSpsCount> sps;
    std::array<std::shared_ptr<const Pps>, kMaxPpsCount> pps;
};

// What a slice segment header needs from outside the NAL unit.
struct SliceHeaderContext {
    const ParameterSetStore* parameterSets = nullptr;
    // The independent slice segment that a dependent one continues (same picture), or null.
    const SliceSegmentHeader* independentSlice = nullptr;
    // The layout of the previous slice, reused when it was derived from the same sets.
    std::shared_ptr<const PictureLayout> layout;
    const Sps* layoutSps = nullptr;
    const Pps* layoutPps = nullptr;
};

struct SliceHeaderParse {
    SliceSegmentHeader header; // filled as far as the parse got
    std::shared_ptr<const Sps> sps;
    std::shared_ptr<const Pps> pps;
    std::shared_ptr<const PictureLayout> layout;
    bool parsed = false;
    bool missingParameterSet = false;
    std::string error;
    SyntaxFault errorAt;
};

// `rbsp` starts behind the two-byte NAL unit header.
SliceHeaderParse parseSliceSegmentHeader(std::span<const std::uint8_t> rbsp, const NalUnitHeader& nal,
                                         const SliceHeaderContext& context);

} // namespace vexilo::hevc
