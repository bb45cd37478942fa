#include "builder/ParameterSetSyntax.h"

#include <algorithm>
#include <span>
#include <string>

namespace vexilo::analyzer {
namespace {

using Entries = std::vector<analysis::SyntaxElementInfo>;
using Event = VexiloObserverParameterSetEvent;

constexpr std::uint32_t kChromaFormat444 = 3;
constexpr std::uint32_t kExtendedSar = 255;

class SyntaxWriter {
public:
    explicit SyntaxWriter(Entries& entries) : entries_(entries) {}

    void add(std::string name, std::int64_t value) { entries_.push_back({std::move(name), value, {}}); }
    void addFlag(std::string name, bool value) { add(std::move(name), value ? 1 : 0); }
    void addIndexed(const char* name, std::size_t index, std::int64_t value)
    {
        std::string indexedName = name;
        indexedName += '[';
        indexedName += std::to_string(index);
        indexedName += ']';
        add(std::move(indexedName), value);
    }

private:
    Entries& entries_;
};

// A run of flags read from one flag word.
struct FlagEntry {
    const char* name;
    std::uint64_t bit;
};

void addFlags(SyntaxWriter& out, std::uint64_t word, std::span<const FlagEntry> flags)
{
    for (const FlagEntry& flag : flags) {
        out.addFlag(flag.name, (word & flag.bit) != 0);
    }
}

// A run of plain values, each read from the event by a member pointer.
struct ValueEntry {
    const char* name;
    std::uint32_t Event::*field;
    std::int64_t minus = 0;
};

void addValues(SyntaxWriter& out, const Event& event, std::span<const ValueEntry> values)
{
    for (const ValueEntry& value : values) {
        out.add(value.name, std::int64_t{event.*value.field} - value.minus);
    }
}

constexpr const char* kConformanceWindowNames[] = {"conf_win_left_offset", "conf_win_right_offset",
                                                   "conf_win_top_offset", "conf_win_bottom_offset"};
constexpr const char* kDefaultDisplayWindowNames[] = {"def_disp_win_left_offset", "def_disp_win_right_offset",
                                                      "def_disp_win_top_offset", "def_disp_win_bottom_offset"};

constexpr ValueEntry kSpsCodingBlockValues[] = {
    {"log2_min_luma_coding_block_size_minus3", &Event::log2MinLumaCodingBlockSize, 3},
    {"log2_diff_max_min_luma_coding_block_size", &Event::log2DiffMaxMinLumaCodingBlockSize},
    {"log2_min_luma_transform_block_size_minus2", &Event::log2MinLumaTransformBlockSize, 2},
    {"log2_diff_max_min_luma_transform_block_size", &Event::log2DiffMaxMinLumaTransformBlockSize},
    {"max_transform_hierarchy_depth_inter", &Event::maxTransformHierarchyDepthInter},
    {"max_transform_hierarchy_depth_intra", &Event::maxTransformHierarchyDepthIntra},
};

constexpr FlagEntry kSpsRangeExtensionFlags[] = {
    {"transform_skip_rotation_enabled_flag", VEXILO_OBSERVER_SPS_TRANSFORM_SKIP_ROTATION_ENABLED},
    {"transform_skip_context_enabled_flag", VEXILO_OBSERVER_SPS_TRANSFORM_SKIP_CONTEXT_ENABLED},
    {"implicit_rdpcm_enabled_flag", VEXILO_OBSERVER_SPS_IMPLICIT_RDPCM_ENABLED},
    {"explicit_rdpcm_enabled_flag", VEXILO_OBSERVER_SPS_EXPLICIT_RDPCM_ENABLED},
    {"extended_precision_processing_flag", VEXILO_OBSERVER_SPS_EXTENDED_PRECISION_PROCESSING},
    {"intra_smoothing_disabled_flag", VEXILO_OBSERVER_SPS_INTRA_SMOOTHING_DISABLED},
    {"high_precision_offsets_enabled_flag", VEXILO_OBSERVER_SPS_HIGH_PRECISION_OFFSETS_ENABLED},
    {"persistent_rice_adaptation_enabled_flag", VEXILO_OBSERVER_SPS_PERSISTENT_RICE_ADAPTATION_ENABLED},
    {"cabac_bypass_alignment_enabled_flag", VEXILO_OBSERVER_SPS_CABAC_BYPASS_ALIGNMENT_ENABLED},
};

constexpr FlagEntry kVuiFrameFlags[] = {
    {"neutral_chroma_indication_flag", VEXILO_OBSERVER_VUI_NEUTRAL_CHROMA_INDICATION},
    {"field_seq_flag", VEXILO_OBSERVER_VUI_FIELD_SEQ},
    {"frame_field_info_present_flag", VEXILO_OBSERVER_VUI_FRAME_FIELD_INFO_PRESENT},
};

constexpr FlagEntry kVuiRestrictionFlags[] = {
    {"tiles_fixed_structure_flag", VEXILO_OBSERVER_VUI_TILES_FIXED_STRUCTURE},
    {"motion_vectors_over_pic_boundaries_flag", VEXILO_OBSERVER_VUI_MOTION_VECTORS_OVER_PIC_BOUNDARIES},
    {"restricted_ref_pic_lists_flag", VEXILO_OBSERVER_VUI_RESTRICTED_REF_PIC_LISTS},
};

constexpr ValueEntry kVuiRestrictionValues[] = {
    {"min_spatial_segmentation_idc", &Event::minSpatialSegmentationIdc},
    {"max_bytes_per_pic_denom", &Event::maxBytesPerPicDenom},
    {"max_bits_per_min_cu_denom", &Event::maxBitsPerMinCuDenom},
    {"log2_max_mv_length_horizontal", &Event::log2MaxMvLengthHorizontal},
    {"log2_max_mv_length_vertical", &Event::log2MaxMvLengthVertical},
};

constexpr FlagEntry kPpsCodingFlags[] = {
    {"constrained_intra_pred_flag", VEXILO_OBSERVER_PPS_CONSTRAINED_INTRA_PRED},
    {"transform_skip_enabled_flag", VEXILO_OBSERVER_PPS_TRANSFORM_SKIP_ENABLED},
    {"cu_qp_delta_enabled_flag", VEXILO_OBSERVER_PPS_CU_QP_DELTA_ENABLED},
};

constexpr FlagEntry kPpsPredictionFlags[] = {
    {"pps_slice_chroma_qp_offsets_present_flag", VEXILO_OBSERVER_PPS_SLICE_CHROMA_QP_OFFSETS_PRESENT},
    {"weighted_pred_flag", VEXILO_OBSERVER_PPS_WEIGHTED_PRED},
    {"weighted_bipred_flag", VEXILO_OBSERVER_PPS_WEIGHTED_BIPRED},
    {"transquant_bypass_enabled_flag", VEXILO_OBSERVER_PPS_TRANSQUANT_BYPASS_ENABLED},
};

constexpr FlagEntry kPpsExtensionFlags[] = {
    {"pps_range_extension_flag", VEXILO_OBSERVER_PPS_RANGE_EXTENSION},
    {"pps_multilayer_extension_flag", VEXILO_OBSERVER_PPS_MULTILAYER_EXTENSION},
    {"pps_3d_extension_flag", VEXILO_OBSERVER_PPS_3D_EXTENSION},
    {"pps_scc_extension_flag", VEXILO_OBSERVER_PPS_SCC_EXTENSION},
};

bool has(std::uint64_t word, std::uint64_t bit)
{
    return (word & bit) != 0;
}

std::size_t boundedCount(std::uint32_t count, std::size_t capacity)
{
    return std::min<std::size_t>(count, capacity);
}

void appendSpsSubLayerOrdering(SyntaxWriter& out, const Event& sps)
{
    const bool orderingPresent = has(sps.spsFlags, VEXILO_OBSERVER_SPS_SUB_LAYER_ORDERING_INFO_PRESENT);
    out.addFlag("sps_sub_layer_ordering_info_present_flag", orderingPresent);
    const std::size_t subLayers = boundedCount(sps.maxSubLayers, VEXILO_OBSERVER_MAX_SUB_LAYERS);
    if (subLayers == 0) {
        return;
    }
    for (std::size_t i = orderingPresent ? 0 : subLayers - 1; i < subLayers; ++i) {
        out.addIndexed("sps_max_dec_pic_buffering_minus1", i, std::int64_t{sps.spsMaxDecPicBufferingPlus1[i]} - 1);
        out.addIndexed("sps_max_num_reorder_pics", i, sps.spsMaxNumReorderPics[i]);
        out.addIndexed("sps_max_latency_increase_plus1", i, sps.spsMaxLatencyIncreasePlus1[i]);
    }
}

void appendSpsPcm(SyntaxWriter& out, const Event& sps)
{
    const bool pcmEnabled = has(sps.spsFlags, VEXILO_OBSERVER_SPS_PCM_ENABLED);
    out.addFlag("pcm_enabled_flag", pcmEnabled);
    if (!pcmEnabled) {
        return;
    }
    out.add("pcm_sample_bit_depth_luma_minus1", std::int64_t{sps.pcmSampleBitDepthLuma} - 1);
    out.add("pcm_sample_bit_depth_chroma_minus1", std::int64_t{sps.pcmSampleBitDepthChroma} - 1);
    out.add("log2_min_pcm_luma_coding_block_size_minus3", std::int64_t{sps.log2MinPcmLumaCodingBlockSize} - 3);
    out.add("log2_diff_max_min_pcm_luma_coding_block_size",
            std::int64_t{sps.log2MaxPcmLumaCodingBlockSize} - std::int64_t{sps.log2MinPcmLumaCodingBlockSize});
    out.addFlag("pcm_loop_filter_disabled_flag", has(sps.spsFlags, VEXILO_OBSERVER_SPS_PCM_LOOP_FILTER_DISABLED));
}

void appendSpsLongTermPictures(SyntaxWriter& out, const Event& sps)
{
    const bool present = has(sps.spsFlags, VEXILO_OBSERVER_SPS_LONG_TERM_REF_PICS_PRESENT);
    out.addFlag("long_term_ref_pics_present_flag", present);
    if (!present) {
        return;
    }
    out.add("num_long_term_ref_pics_sps", sps.numLongTermRefPicsSps);
    const std::size_t count = boundedCount(sps.numLongTermRefPicsSps, VEXILO_OBSERVER_MAX_LONG_TERM_REF_PICS_SPS);
    for (std::size_t i = 0; i < count; ++i) {
        out.addIndexed("lt_ref_pic_poc_lsb_sps", i, sps.ltRefPicPocLsbSps[i]);
        out.addIndexed("used_by_curr_pic_lt_sps_flag", i, (sps.usedByCurrPicLtSpsFlags >> i) & 1u);
    }
}

void appendVui(SyntaxWriter& out, const Event& sps)
{
    const std::uint64_t vui = sps.vuiFlags;
    if (has(vui, VEXILO_OBSERVER_VUI_ASPECT_RATIO_INFO_PRESENT)) {
        out.addFlag("aspect_ratio_info_present_flag", true);
        out.add("aspect_ratio_idc", sps.aspectRatioIdc);
        if (sps.aspectRatioIdc == kExtendedSar) {
            out.add("sar_width", sps.sarWidth);
            out.add("sar_height", sps.sarHeight);
        }
    } else {
        out.addFlag("aspect_ratio_info_present_flag", false);
    }
    out.addFlag("overscan_info_present_flag", has(vui, VEXILO_OBSERVER_VUI_OVERSCAN_INFO_PRESENT));
    if (has(vui, VEXILO_OBSERVER_VUI_OVERSCAN_INFO_PRESENT)) {
        out.addFlag("overscan_appropriate_flag", has(vui, VEXILO_OBSERVER_VUI_OVERSCAN_APPROPRIATE));
    }
    out.addFlag("video_signal_type_present_flag", has(vui, VEXILO_OBSERVER_VUI_VIDEO_SIGNAL_TYPE_PRESENT));
    if (has(vui, VEXILO_OBSERVER_VUI_VIDEO_SIGNAL_TYPE_PRESENT)) {
        out.add("video_format", sps.videoFormat);
        out.addFlag("video_full_range_flag", has(vui, VEXILO_OBSERVER_VUI_VIDEO_FULL_RANGE));
        out.addFlag("colour_description_present_flag", has(vui, VEXILO_OBSERVER_VUI_COLOUR_DESCRIPTION_PRESENT));
        if (has(vui, VEXILO_OBSERVER_VUI_COLOUR_DESCRIPTION_PRESENT)) {
            out.add("colour_primaries", sps.colourPrimaries);
            out.add("transfer_characteristics", sps.transferCharacteristics);
            out.add("matrix_coeffs", sps.matrixCoeffs);
        }
    }
    out.addFlag("chroma_loc_info_present_flag", has(vui, VEXILO_OBSERVER_VUI_CHROMA_LOC_INFO_PRESENT));
    if (has(vui, VEXILO_OBSERVER_VUI_CHROMA_LOC_INFO_PRESENT)) {
        out.add("chroma_sample_loc_type_top_field", sps.chromaSampleLocTypeTopField);
        out.add("chroma_sample_loc_type_bottom_field", sps.chromaSampleLocTypeBottomField);
    }
    addFlags(out, vui, kVuiFrameFlags);
    out.addFlag("default_display_window_flag", has(vui, VEXILO_OBSERVER_VUI_DEFAULT_DISPLAY_WINDOW));
    if (has(vui, VEXILO_OBSERVER_VUI_DEFAULT_DISPLAY_WINDOW)) {
        for (std::size_t i = 0; i < std::size(kDefaultDisplayWindowNames); ++i) {
            out.add(kDefaultDisplayWindowNames[i], sps.defaultDisplayWindowOffsets[i]);
        }
    }
    out.addFlag("vui_timing_info_present_flag", has(vui, VEXILO_OBSERVER_VUI_TIMING_INFO_PRESENT));
    if (has(vui, VEXILO_OBSERVER_VUI_TIMING_INFO_PRESENT)) {
        out.add("vui_num_units_in_tick", sps.vuiNumUnitsInTick);
        out.add("vui_time_scale", sps.vuiTimeScale);
        out.addFlag("vui_poc_proportional_to_timing_flag", has(vui, VEXILO_OBSERVER_VUI_POC_PROPORTIONAL_TO_TIMING));
        if (has(vui, VEXILO_OBSERVER_VUI_POC_PROPORTIONAL_TO_TIMING)) {
            out.add("vui_num_ticks_poc_diff_one_minus1", sps.vuiNumTicksPocDiffOneMinus1);
        }
        out.addFlag("vui_hrd_parameters_present_flag", has(vui, VEXILO_OBSERVER_VUI_HRD_PARAMETERS_PRESENT));
    }
    out.addFlag("bitstream_restriction_flag", has(vui, VEXILO_OBSERVER_VUI_BITSTREAM_RESTRICTION));
    if (has(vui, VEXILO_OBSERVER_VUI_BITSTREAM_RESTRICTION)) {
        addFlags(out, vui, kVuiRestrictionFlags);
        addValues(out, sps, kVuiRestrictionValues);
    }
}

void appendSpsExtensions(SyntaxWriter& out, const Event& sps)
{
    const bool extensionPresent = has(sps.spsFlags, VEXILO_OBSERVER_SPS_EXTENSION_PRESENT);
    out.addFlag("sps_extension_present_flag", extensionPresent);
    if (!extensionPresent) {
        return;
    }
    const bool rangeExtension = has(sps.spsFlags, VEXILO_OBSERVER_SPS_RANGE_EXTENSION);
    out.addFlag("sps_range_extension_flag", rangeExtension);
    out.add("sps_extension_4bits", sps.spsExtension4bits);
    if (rangeExtension) {
        addFlags(out, sps.spsFlags, kSpsRangeExtensionFlags);
    }
}

void appendPpsTiles(SyntaxWriter& out, const Event& pps)
{
    const bool tilesEnabled = (pps.flags & VEXILO_OBSERVER_PS_TILES_ENABLED) != 0;
    out.addFlag("tiles_enabled_flag", tilesEnabled);
    out.addFlag("entropy_coding_sync_enabled_flag", (pps.flags & VEXILO_OBSERVER_PS_ENTROPY_CODING_SYNC_ENABLED) != 0);
    if (!tilesEnabled) {
        return;
    }
    out.add("num_tile_columns_minus1", std::int64_t{pps.numTileColumns} - 1);
    out.add("num_tile_rows_minus1", std::int64_t{pps.numTileRows} - 1);
    const bool uniform = has(pps.ppsFlags, VEXILO_OBSERVER_PPS_UNIFORM_SPACING);
    out.addFlag("uniform_spacing_flag", uniform);
    if (!uniform) {
        const std::size_t columns =
            pps.numTileColumns == 0 ? 0 : boundedCount(pps.numTileColumns - 1, VEXILO_OBSERVER_MAX_TILE_COLUMNS);
        for (std::size_t i = 0; i < columns; ++i) {
            out.addIndexed("column_width_minus1", i, std::int64_t{pps.columnWidths[i]} - 1);
        }
        const std::size_t rows =
            pps.numTileRows == 0 ? 0 : boundedCount(pps.numTileRows - 1, VEXILO_OBSERVER_MAX_TILE_ROWS);
        for (std::size_t i = 0; i < rows; ++i) {
            out.addIndexed("row_height_minus1", i, std::int64_t{pps.rowHeights[i]} - 1);
        }
    }
    out.addFlag("loop_filter_across_tiles_enabled_flag",
                has(pps.ppsFlags, VEXILO_OBSERVER_PPS_LOOP_FILTER_ACROSS_TILES_ENABLED));
}

void appendPpsDeblocking(SyntaxWriter& out, const Event& pps)
{
    const std::uint64_t flags = pps.ppsFlags;
    out.addFlag("pps_loop_filter_across_slices_enabled_flag",
                has(flags, VEXILO_OBSERVER_PPS_LOOP_FILTER_ACROSS_SLICES_ENABLED));
    const bool controlPresent = has(flags, VEXILO_OBSERVER_PPS_DEBLOCKING_FILTER_CONTROL_PRESENT);
    out.addFlag("deblocking_filter_control_present_flag", controlPresent);
    if (!controlPresent) {
        return;
    }
    out.addFlag("deblocking_filter_override_enabled_flag",
                has(flags, VEXILO_OBSERVER_PPS_DEBLOCKING_FILTER_OVERRIDE_ENABLED));
    const bool disabled = has(flags, VEXILO_OBSERVER_PPS_DEBLOCKING_FILTER_DISABLED);
    out.addFlag("pps_deblocking_filter_disabled_flag", disabled);
    if (!disabled) {
        out.add("pps_beta_offset_div2", pps.betaOffset / 2);
        out.add("pps_tc_offset_div2", pps.tcOffset / 2);
    }
}

void appendPpsRangeExtension(SyntaxWriter& out, const Event& pps)
{
    const std::uint64_t flags = pps.ppsFlags;
    if (has(flags, VEXILO_OBSERVER_PPS_TRANSFORM_SKIP_ENABLED)) {
        out.add("log2_max_transform_skip_block_size_minus2", std::int64_t{pps.log2MaxTransformSkipBlockSize} - 2);
    }
    out.addFlag("cross_component_prediction_enabled_flag",
                has(flags, VEXILO_OBSERVER_PPS_CROSS_COMPONENT_PREDICTION_ENABLED));
    const bool listEnabled = has(flags, VEXILO_OBSERVER_PPS_CHROMA_QP_OFFSET_LIST_ENABLED);
    out.addFlag("chroma_qp_offset_list_enabled_flag", listEnabled);
    if (listEnabled) {
        out.add("diff_cu_chroma_qp_offset_depth", pps.diffCuChromaQpOffsetDepth);
        out.add("chroma_qp_offset_list_len_minus1", pps.chromaQpOffsetListLenMinus1);
        const std::size_t entries = std::min<std::size_t>(std::size_t{pps.chromaQpOffsetListLenMinus1} + 1,
                                                          VEXILO_OBSERVER_MAX_CHROMA_QP_OFFSET_LIST);
        for (std::size_t i = 0; i < entries; ++i) {
            out.addIndexed("cb_qp_offset_list", i, pps.cbQpOffsetList[i]);
            out.addIndexed("cr_qp_offset_list", i, pps.crQpOffsetList[i]);
        }
    }
    out.add("log2_sao_offset_scale_luma", pps.log2SaoOffsetScaleLuma);
    out.add("log2_sao_offset_scale_chroma", pps.log2SaoOffsetScaleChroma);
}

}  // namespace

void appendSpsSyntaxElements(const Event& sps, Entries& entries)
{
    SyntaxWriter out(entries);
    const std::uint64_t flags = sps.spsFlags;
    if (sps.chromaFormatIdc == kChromaFormat444) {
        out.addFlag("separate_colour_plane_flag", has(flags, VEXILO_OBSERVER_SPS_SEPARATE_COLOUR_PLANE));
    }
    out.add("pic_width_in_luma_samples", sps.width);
    out.add("pic_height_in_luma_samples", sps.height);
    out.addFlag("conformance_window_flag", has(flags, VEXILO_OBSERVER_SPS_CONFORMANCE_WINDOW));
    if (has(flags, VEXILO_OBSERVER_SPS_CONFORMANCE_WINDOW)) {
        for (std::size_t i = 0; i < std::size(kConformanceWindowNames); ++i) {
            out.add(kConformanceWindowNames[i], sps.conformanceWindowOffsets[i]);
        }
    }
    out.add("bit_depth_luma_minus8", std::int64_t{sps.bitDepthLuma} - 8);
    out.add("bit_depth_chroma_minus8", std::int64_t{sps.bitDepthChroma} - 8);
    out.add("log2_max_pic_order_cnt_lsb_minus4", std::int64_t{sps.log2MaxPicOrderCntLsb} - 4);
    appendSpsSubLayerOrdering(out, sps);
    addValues(out, sps, kSpsCodingBlockValues);
    out.addFlag("scaling_list_enabled_flag", has(flags, VEXILO_OBSERVER_SPS_SCALING_LIST_ENABLED));
    if (has(flags, VEXILO_OBSERVER_SPS_SCALING_LIST_ENABLED)) {
        out.addFlag("sps_scaling_list_data_present_flag", has(flags, VEXILO_OBSERVER_SPS_SCALING_LIST_DATA_PRESENT));
    }
    out.addFlag("amp_enabled_flag", has(flags, VEXILO_OBSERVER_SPS_AMP_ENABLED));
    out.addFlag("sample_adaptive_offset_enabled_flag",
                (sps.flags & VEXILO_OBSERVER_PS_SAMPLE_ADAPTIVE_OFFSET_ENABLED) != 0);
    appendSpsPcm(out, sps);
    out.add("num_short_term_ref_pic_sets", sps.numShortTermRefPicSets);
    appendSpsLongTermPictures(out, sps);
    out.addFlag("sps_temporal_mvp_enabled_flag", (sps.flags & VEXILO_OBSERVER_PS_TEMPORAL_MVP_ENABLED) != 0);
    out.addFlag("strong_intra_smoothing_enabled_flag", has(flags, VEXILO_OBSERVER_SPS_STRONG_INTRA_SMOOTHING_ENABLED));
    out.addFlag("vui_parameters_present_flag", has(flags, VEXILO_OBSERVER_SPS_VUI_PARAMETERS_PRESENT));
    if (has(flags, VEXILO_OBSERVER_SPS_VUI_PARAMETERS_PRESENT)) {
        appendVui(out, sps);
    }
    appendSpsExtensions(out, sps);
}

void appendPpsSyntaxElements(const Event& pps, Entries& entries)
{
    SyntaxWriter out(entries);
    const std::uint64_t flags = pps.ppsFlags;
    out.addFlag("dependent_slice_segments_enabled_flag",
                (pps.flags & VEXILO_OBSERVER_PS_DEPENDENT_SLICE_SEGMENTS_ENABLED) != 0);
    out.addFlag("output_flag_present_flag", (pps.flags & VEXILO_OBSERVER_PS_OUTPUT_FLAG_PRESENT) != 0);
    out.add("num_extra_slice_header_bits", pps.numExtraSliceHeaderBits);
    out.addFlag("sign_data_hiding_enabled_flag", has(flags, VEXILO_OBSERVER_PPS_SIGN_DATA_HIDING_ENABLED));
    out.addFlag("cabac_init_present_flag", has(flags, VEXILO_OBSERVER_PPS_CABAC_INIT_PRESENT));
    out.add("num_ref_idx_l0_default_active_minus1", std::int64_t{pps.numRefIdxL0DefaultActive} - 1);
    out.add("num_ref_idx_l1_default_active_minus1", std::int64_t{pps.numRefIdxL1DefaultActive} - 1);
    out.add("init_qp_minus26", pps.initQpMinus26);
    addFlags(out, flags, kPpsCodingFlags);
    if (has(flags, VEXILO_OBSERVER_PPS_CU_QP_DELTA_ENABLED)) {
        out.add("diff_cu_qp_delta_depth", pps.diffCuQpDeltaDepth);
    }
    out.add("pps_cb_qp_offset", pps.cbQpOffset);
    out.add("pps_cr_qp_offset", pps.crQpOffset);
    addFlags(out, flags, kPpsPredictionFlags);
    appendPpsTiles(out, pps);
    appendPpsDeblocking(out, pps);
    out.addFlag("pps_scaling_list_data_present_flag", has(flags, VEXILO_OBSERVER_PPS_SCALING_LIST_DATA_PRESENT));
    out.addFlag("lists_modification_present_flag", has(flags, VEXILO_OBSERVER_PPS_LISTS_MODIFICATION_PRESENT));
    out.add("log2_parallel_merge_level_minus2", std::int64_t{pps.log2ParallelMergeLevel} - 2);
    out.addFlag("slice_segment_header_extension_present_flag",
                has(flags, VEXILO_OBSERVER_PPS_SLICE_SEGMENT_HEADER_EXTENSION_PRESENT));
    const bool extensionPresent = has(flags, VEXILO_OBSERVER_PPS_EXTENSION_PRESENT);
    out.addFlag("pps_extension_present_flag", extensionPresent);
    if (!extensionPresent) {
        return;
    }
    addFlags(out, flags, kPpsExtensionFlags);
    out.add("pps_extension_4bits", pps.ppsExtension4bits);
    if (has(flags, VEXILO_OBSERVER_PPS_RANGE_EXTENSION)) {
        appendPpsRangeExtension(out, pps);
    }
}

}  // namespace vexilo::analyzer
