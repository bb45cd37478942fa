// video_parameter_set_rbsp() (7.3.2.1), seq_parameter_set_rbsp() (7.3.2.2) and
// pic_parameter_set_rbsp() (7.3.2.3) with the variables derived from them.
#pragma once

#include "bit_reader.h"
#include "profile_tier_level.h"
#include "scaling_list.h"
#include "st_ref_pic_set.h"
#include "vui.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vexilo::hevc {

constexpr std::uint32_t kMaxVpsCount = 16;
constexpr std::uint32_t kMaxSpsCount = 16;
constexpr std::uint32_t kMaxPpsCount = 64;
constexpr std::uint32_t kMaxLongTermRefPicsSps = 32;
constexpr std::uint32_t kMaxVpsLayerSets = 1024;

// A value outside its range that decoders tolerate: the structure is kept, with the value
// adjusted as FFmpeg's decoder adjusts it, and the warning names the element and where it
// starts in the RBSP.
struct SyntaxWarning {
    const char* element = "";
    std::uint64_t bitPosition = 0;
    const char* message = "";
};

struct SubLayerOrdering {
    std::uint32_t max_dec_pic_buffering_minus1 = 0;
    std::uint32_t max_num_reorder_pics = 0;
    std::uint32_t max_latency_increase_plus1 = 0;
    bool signaled = false;
};

struct VpsLayerSet {
    std::uint32_t layerSetIndex = 0;
    std::uint64_t includedLayerMask = 0; // bit j = layer_id_included_flag[i][j]
};

struct Vps {
    std::uint32_t vps_video_parameter_set_id = 0;
    bool vps_base_layer_internal_flag = false;
    bool vps_base_layer_available_flag = false;
    std::uint32_t vps_max_layers_minus1 = 0;
    std::uint32_t vps_max_sub_layers_minus1 = 0;
    bool vps_temporal_id_nesting_flag = false;
    ProfileTierLevel profileTierLevel;
    bool vps_sub_layer_ordering_info_present_flag = false;
    std::array<SubLayerOrdering, kMaxSubLayers> subLayerOrdering{};
    std::uint32_t vps_max_layer_id = 0;
    std::uint32_t vps_num_layer_sets_minus1 = 0;
    std::vector<VpsLayerSet> layerSets; // layer sets 1..vps_num_layer_sets_minus1
    bool vps_timing_info_present_flag = false;
    std::uint32_t vps_num_units_in_tick = 0;
    std::uint32_t vps_time_scale = 0;
    bool vps_poc_proportional_to_timing_flag = false;
    std::uint32_t vps_num_ticks_poc_diff_one_minus1 = 0;
    std::uint32_t vps_num_hrd_parameters = 0;
    std::vector<HrdParameters> hrdParameters;
    bool vps_extension_flag = false;
};

struct SpsRangeExtension {
    bool transform_skip_rotation_enabled_flag = false;
    bool transform_skip_context_enabled_flag = false;
    bool implicit_rdpcm_enabled_flag = false;
    bool explicit_rdpcm_enabled_flag = false;
    bool extended_precision_processing_flag = false;
    bool intra_smoothing_disabled_flag = false;
    bool high_precision_offsets_enabled_flag = false;
    bool persistent_rice_adaptation_enabled_flag = false;
    bool cabac_bypass_alignment_enabled_flag = false;
};

struct SpsSccExtension {
    bool sps_curr_pic_ref_enabled_flag = false;
    bool palette_mode_enabled_flag = false;
    std::uint32_t palette_max_size = 0;
    std::uint32_t delta_palette_max_predictor_size = 0;
    bool sps_palette_predictor_initializers_present_flag = false;
    std::uint32_t motion_vector_resolution_control_idc = 0;
    bool intra_boundary_filtering_disabled_flag = false;
};

struct Sps {
    std::vector<SyntaxWarning> warnings;
    std::uint32_t sps_video_parameter_set_id = 0;
    std::uint32_t sps_max_sub_layers_minus1 = 0;
    bool sps_temporal_id_nesting_flag = false;
    ProfileTierLevel profileTierLevel;
    std::uint32_t sps_seq_parameter_set_id = 0;
    std::uint32_t chroma_format_idc = 0;
    bool separate_colour_plane_flag = false;
    std::uint32_t pic_width_in_luma_samples = 0;
    std::uint32_t pic_height_in_luma_samples = 0;
    bool conformance_window_flag = false;
    Window conformanceWindow;
    std::uint32_t bit_depth_luma_minus8 = 0;
    std::uint32_t bit_depth_chroma_minus8 = 0;
    std::uint32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
    bool sps_sub_layer_ordering_info_present_flag = false;
    std::array<SubLayerOrdering, kMaxSubLayers> subLayerOrdering{};
    std::uint32_t log2_min_luma_coding_block_size_minus3 = 0;
    std::uint32_t log2_diff_max_min_luma_coding_block_size = 0;
    std::uint32_t log2_min_luma_transform_block_size_minus2 = 0;
    std::uint32_t log2_diff_max_min_luma_transform_block_size = 0;
    std::uint32_t max_transform_hierarchy_depth_inter = 0;
    std::uint32_t max_transform_hierarchy_depth_intra = 0;
    bool scaling_list_enabled_flag = false;
    bool sps_scaling_list_data_present_flag = false;
    ScalingList scalingList;
    bool amp_enabled_flag = false;
    bool sample_adaptive_offset_enabled_flag = false;
    bool pcm_enabled_flag = false;
    std::uint32_t pcm_sample_bit_depth_luma_minus1 = 0;
    std::uint32_t pcm_sample_bit_depth_chroma_minus1 = 0;
    std::uint32_t log2_min_pcm_luma_coding_block_size_minus3 = 0;
    std::uint32_t log2_diff_max_min_pcm_luma_coding_block_size = 0;
    bool pcm_loop_filter_disabled_flag = false;
    std::uint32_t num_short_term_ref_pic_sets = 0;
    std::vector<ShortTermRefPicSet> shortTermRefPicSets;
    bool long_term_ref_pics_present_flag = false;
    std::uint32_t num_long_term_ref_pics_sps = 0;
    std::array<std::uint32_t, kMaxLongTermRefPicsSps> lt_ref_pic_poc_lsb_sps{};
    std::array<bool, kMaxLongTermRefPicsSps> used_by_curr_pic_lt_sps_flag{};
    bool sps_temporal_mvp_enabled_flag = false;
    bool strong_intra_smoothing_enabled_flag = false;
    bool vui_parameters_present_flag = false;
    VuiParameters vui;
    bool sps_extension_present_flag = false;
    bool sps_range_extension_flag = false;
    bool sps_multilayer_extension_flag = false;
    bool sps_3d_extension_flag = false;
    bool sps_scc_extension_flag = false;
    std::uint32_t sps_extension_4bits = 0;
    SpsRangeExtension range;
    bool inter_view_mv_vert_constraint_flag = false;
    SpsSccExtension scc;

    // Derived variables (7.4.3.2).
    std::uint32_t ChromaArrayType = 0;
    std::uint32_t SubWidthC = 1;
    std::uint32_t SubHeightC = 1;
    std::uint32_t BitDepthY = 8;
    std::uint32_t BitDepthC = 8;
    std::uint32_t QpBdOffsetY = 0;
    std::uint32_t QpBdOffsetC = 0;
    std::uint32_t MaxPicOrderCntLsb = 16;
    std::uint32_t MinCbLog2SizeY = 3;
    std::uint32_t CtbLog2SizeY = 4;
    std::uint32_t MinCbSizeY = 8;
    std::uint32_t CtbSizeY = 16;
    std::uint32_t PicWidthInMinCbsY = 0;
    std::uint32_t PicHeightInMinCbsY = 0;
    std::uint32_t PicWidthInCtbsY = 0;
    std::uint32_t PicHeightInCtbsY = 0;
    std::uint32_t PicSizeInCtbsY = 0;
    std::uint32_t MinTbLog2SizeY = 2;
    std::uint32_t MaxTbLog2SizeY = 5;
    std::uint32_t PcmBitDepthY = 0;
    std::uint32_t PcmBitDepthC = 0;
    std::uint32_t Log2MinIpcmCbSizeY = 0;
    std::uint32_t Log2MaxIpcmCbSizeY = 0;
    std::uint32_t WpOffsetBdShiftY = 0;
    std::uint32_t WpOffsetBdShiftC = 0;
    std::uint32_t WpOffsetHalfRangeY = 128;
    std::uint32_t WpOffsetHalfRangeC = 128;

    [[nodiscard]] const SubLayerOrdering& highestSubLayer() const
    {
        return subLayerOrdering[sps_max_sub_layers_minus1];
    }
};

struct PpsRangeExtension {
    std::uint32_t log2_max_transform_skip_block_size_minus2 = 0;
    bool cross_component_prediction_enabled_flag = false;
    bool chroma_qp_offset_list_enabled_flag = false;
    std::uint32_t diff_cu_chroma_qp_offset_depth = 0;
    std::uint32_t chroma_qp_offset_list_len_minus1 = 0;
    std::array<std::int32_t, 6> cb_qp_offset_list{};
    std::array<std::int32_t, 6> cr_qp_offset_list{};
    std::uint32_t log2_sao_offset_scale_luma = 0;
    std::uint32_t log2_sao_offset_scale_chroma = 0;
};

struct PpsSccExtension {
    bool pps_curr_pic_ref_enabled_flag = false;
    bool residual_adaptive_colour_transform_enabled_flag = false;
    bool pps_slice_act_qp_offsets_present_flag = false;
    std::int32_t pps_act_y_qp_offset_plus5 = 0;
    std::int32_t pps_act_cb_qp_offset_plus5 = 0;
    std::int32_t pps_act_cr_qp_offset_plus3 = 0;
    bool pps_palette_predictor_initializers_present_flag = false;
};

constexpr std::uint32_t kMaxTileColumns = 20;
constexpr std::uint32_t kMaxTileRows = 22;

struct Pps {
    std::uint32_t pps_pic_parameter_set_id = 0;
    std::uint32_t pps_seq_parameter_set_id = 0;
    bool dependent_slice_segments_enabled_flag = false;
    bool output_flag_present_flag = false;
    std::uint32_t num_extra_slice_header_bits = 0;
    bool sign_data_hiding_enabled_flag = false;
    bool cabac_init_present_flag = false;
    std::uint32_t num_ref_idx_l0_default_active_minus1 = 0;
    std::uint32_t num_ref_idx_l1_default_active_minus1 = 0;
    std::int32_t init_qp_minus26 = 0;
    bool constrained_intra_pred_flag = false;
    bool transform_skip_enabled_flag = false;
    bool cu_qp_delta_enabled_flag = false;
    std::uint32_t diff_cu_qp_delta_depth = 0;
    std::int32_t pps_cb_qp_offset = 0;
    std::int32_t pps_cr_qp_offset = 0;
    bool pps_slice_chroma_qp_offsets_present_flag = false;
    bool weighted_pred_flag = false;
    bool weighted_bipred_flag = false;
    bool transquant_bypass_enabled_flag = false;
    bool tiles_enabled_flag = false;
    bool entropy_coding_sync_enabled_flag = false;
    std::uint32_t num_tile_columns_minus1 = 0;
    std::uint32_t num_tile_rows_minus1 = 0;
    bool uniform_spacing_flag = true;
    std::vector<std::uint32_t> column_width_minus1;
    std::vector<std::uint32_t> row_height_minus1;
    bool loop_filter_across_tiles_enabled_flag = true;
    bool pps_loop_filter_across_slices_enabled_flag = false;
    bool deblocking_filter_control_present_flag = false;
    bool deblocking_filter_override_enabled_flag = false;
    bool pps_deblocking_filter_disabled_flag = false;
    std::int32_t pps_beta_offset_div2 = 0;
    std::int32_t pps_tc_offset_div2 = 0;
    bool pps_scaling_list_data_present_flag = false;
    ScalingList scalingList;
    bool lists_modification_present_flag = false;
    std::uint32_t log2_parallel_merge_level_minus2 = 0;
    bool slice_segment_header_extension_present_flag = false;
    bool pps_extension_present_flag = false;
    bool pps_range_extension_flag = false;
    bool pps_multilayer_extension_flag = false;
    bool pps_3d_extension_flag = false;
    bool pps_scc_extension_flag = false;
    std::uint32_t pps_extension_4bits = 0;
    PpsRangeExtension range;
    PpsSccExtension scc;
    // The multilayer and 3D extensions concern layers this parser does not decode; when
    // either is present the rest of the RBSP is left unread.
    bool extensionsLeftUnparsed = false;
};

// What one SPS/PPS pair gives the slice data: the tile and scan conversion of 6.5.1 and
// 6.5.2, the PPS variables that depend on the SPS (7.4.3.3) and the scaling lists in force.
struct PictureLayout {
    std::uint32_t Log2MinCuQpDeltaSize = 0;
    std::uint32_t Log2MinCuChromaQpOffsetSize = 0;
    std::uint32_t Log2ParMrgLevel = 2;
    std::uint32_t Log2MaxTransformSkipSize = 2;
    ScalingList scalingList; // the PPS's lists, else the SPS's (flat 16 when disabled)

    std::vector<std::uint32_t> colWidth;
    std::vector<std::uint32_t> rowHeight;
    std::vector<std::uint32_t> colBd;
    std::vector<std::uint32_t> rowBd;
    std::vector<std::uint32_t> CtbAddrRsToTs;
    std::vector<std::uint32_t> CtbAddrTsToRs;
    std::vector<std::uint32_t> TileId; // indexed by tile-scan address
};

// The result of parsing one parameter set: the set, or the reason it was refused and where.
template <typename T>
struct ParseResult {
    std::optional<T> value;
    std::string error;
    SyntaxFault errorAt;
};

// Runs `parse` (BitReader& -> T) over an RBSP; a refusal becomes the result's error.
template <typename T, typename Parse>
ParseResult<T> parseRbsp(std::span<const std::uint8_t> rbsp, Parse&& parse)
{
    ParseResult<T> result;
    BitReader reader(rbsp);
    try {
        result.value = parse(reader);
    } catch (const SyntaxError& error) {
        result.error = error.what();
        result.errorAt = faultOf(error, reader);
    }
    return result;
}

ParseResult<Vps> parseVps(std::span<const std::uint8_t> rbsp);
ParseResult<Sps> parseSps(std::span<const std::uint8_t> rbsp);
ParseResult<Pps> parsePps(std::span<const std::uint8_t> rbsp);

// Throws SyntaxError when the PPS's tile grid does not fit the SPS's picture.
PictureLayout derivePictureLayout(const Sps& sps, const Pps& pps);
// colWidth and rowHeight alone (6.5.1), without the picture-sized scan tables.
struct TileGrid {
    std::vector<std::uint32_t> colWidth;
    std::vector<std::uint32_t> rowHeight;
};
TileGrid deriveTileGrid(const Sps& sps, const Pps& pps);

} // namespace vexilo::hevc
