#include "SyntaxRowBuilders.h"
#include "SyntaxRowFormat.h"

#include "vexilo/models/PictureSyntaxModel.h"

#include <algorithm>
#include <initializer_list>

namespace vexilo::syntaxrows {
namespace {

using analysis::ParameterSetInfo;
using analysis::ParameterSetKind;

constexpr const char* kVps = "video_parameter_set_rbsp()";
constexpr const char* kSps = "seq_parameter_set_rbsp()";
constexpr const char* kPps = "pic_parameter_set_rbsp()";
constexpr const char* kVui = "vui_parameters()";
constexpr const char* kTimingCondition = "vps_timing_info_present_flag == true";
constexpr const char* kVpsHrdLoop = "vps_timing_info_present_flag == true && vps HRD loop";
constexpr const char* kVpsHrdLoopAfterFirst = "vps_timing_info_present_flag == true && vps HRD loop && i > 0";
constexpr const char* kVpsLayerSetLoop = "vps layer-set loop";
constexpr const char* kSubLayerCountSemantics = "Repository stores max sub-layer count; UI shows minus1 syntax value";
constexpr const char* kNestingSemantics = "Temporal nesting flag when exported";
constexpr const char* kPtlSemantics = "Profile, tier and level syntax structure";
constexpr int kLayerMaskBits = 64;

// Appends the rows of one parameter set, one call per line of its syntax table.
class ParameterSetRows {
public:
    ParameterSetRows(const PictureSyntaxModel& model, std::vector<SyntaxRow>& rows, const ParameterSetInfo& set)
        : model_(model), rows_(rows), set_(set)
    {
    }

    void append()
    {
        rows_.push_back({parameterSetRbspName(set_.kind),
                         QStringLiteral("%1 %2 parent=%3")
                             .arg(parameterSetKindText(set_.kind), formatOptionalUInt16(set_.parameterSetId),
                                  nalUnitSummaryById(model_.nalUnits(), set_.parentNalUnitId)),
                         QStringLiteral("parameter-set NAL"), kStatusPresent,
                         QStringLiteral("Parameter set parsed by the FFmpeg analyzer observer")});
        switch (set_.kind) {
        case ParameterSetKind::Vps:
            appendVps();
            break;
        case ParameterSetKind::Sps:
            appendSps();
            break;
        case ParameterSetKind::Pps:
            appendPps();
            break;
        default:
            break;
        }
        rows_.push_back({QStringLiteral("rbsp_hash"), QString::fromStdString(set_.contentHash),
                         QStringLiteral("parameter-set payload"),
                         internedText(set_.contentHash.empty() ? kStatusUnknown : kStatusDerived),
                         QStringLiteral("Payload bytes are not stored; hash is retained for identity")});
    }

private:
    template <typename T>
    void field(const char* name, const QString& value, const std::optional<T>& source, const char* condition,
               const char* semantics = "")
    {
        appendSyntaxRow(rows_, internedText(name), value, internedText(condition), source.has_value(),
                        internedText(semantics));
    }

    void present(const char* name, const QString& value, const char* condition)
    {
        rows_.push_back({internedText(name), value, internedText(condition), internedText(kStatusPresent), {}});
    }

    void exported(const char* condition, std::initializer_list<const char*> names)
    {
        for (const char* name : names) {
            appendExportedSyntaxRow(rows_, set_, internedText(name), internedText(condition), {});
        }
    }

    void exportedWithPrefix(const char* condition, std::initializer_list<const char*> prefixes)
    {
        for (const analysis::SyntaxElementInfo& element : set_.syntaxElements) {
            for (const char* prefix : prefixes) {
                if (startsWithAscii(element.name, prefix)) {
                    appendExportedSyntaxRow(rows_, set_, QString::fromStdString(element.name),
                                            internedText(condition), {});
                    break;
                }
            }
        }
    }

    void unsupported(const char* name, const char* condition, const char* semantics)
    {
        appendUnsupportedRow(rows_, internedText(name), internedText(condition),
                             internedText(semantics));
    }

    void unsupportedIfSet(const char* gate, const char* name, const char* condition, const char* semantics)
    {
        if (syntaxFieldIsSet(set_, gate)) {
            unsupported(name, condition, semantics);
        }
    }

    void structureIfSet(const char* gate, const char* name, const char* condition, const char* status,
                        const char* semantics)
    {
        if (syntaxFieldIsSet(set_, gate)) {
            rows_.push_back({internedText(name), {}, internedText(condition),
                             internedText(status), internedText(semantics)});
        }
    }

    void profileTierLevel(const char* name, const char* condition)
    {
        rows_.push_back({internedText(name), QStringLiteral("profile=%1").arg(profileText(set_.profile)),
                         internedText(condition),
                         internedText(set_.profile != analysis::StreamProfile::Undetermined ? kStatusPresent
                                                                                                  : kStatusUnknown),
                         internedText(kPtlSemantics)});
        appendProfileTierLevelRows(rows_, set_);
    }

    void trailingBits(const char* condition)
    {
        rows_.push_back({internedText(kTrailingBitsName), internedText(kNotAvailable),
                         internedText(condition), internedText(kStatusValidated), internedText(kTrailingBitsSemantics)});
    }

    void appendVps();
    void appendVpsLayerSets();
    void appendVpsTiming();
    void appendSps();
    void appendVui();
    void appendSpsExtensions();
    void appendPps();

    const PictureSyntaxModel& model_;
    std::vector<SyntaxRow>& rows_;
    const ParameterSetInfo& set_;
};

void ParameterSetRows::appendVps()
{
    field("vps_video_parameter_set_id", formatOptionalUInt16(set_.parameterSetId), set_.parameterSetId, kVps,
          "VPS id exported by FFmpeg");
    field("vps_base_layer_internal_flag", formatOptionalBool(set_.vpsBaseLayerInternal), set_.vpsBaseLayerInternal,
          kVps);
    field("vps_base_layer_available_flag", formatOptionalBool(set_.vpsBaseLayerAvailable),
          set_.vpsBaseLayerAvailable, kVps);
    field("vps_max_layers_minus1", formatOptionalUInt8Minus1(set_.vpsMaxLayers), set_.vpsMaxLayers, kVps);
    field("vps_max_sub_layers_minus1", formatOptionalUInt8Minus1(set_.maxSubLayers), set_.maxSubLayers, kVps,
          kSubLayerCountSemantics);
    field("vps_temporal_id_nesting_flag", formatOptionalBool(set_.temporalIdNesting), set_.temporalIdNesting, kVps,
          kNestingSemantics);
    unsupported("vps_reserved_0xffff_16bits", kVps, "Reserved syntax is validated but not exported");
    profileTierLevel("profile_tier_level( 1, vps_max_sub_layers_minus1 )", kVps);
    field("vps_sub_layer_ordering_info_present_flag", formatOptionalBool(set_.vpsSubLayerOrderingInfoPresent),
          set_.vpsSubLayerOrderingInfoPresent, kVps);
    for (const analysis::VpsSubLayerOrderingInfo& entry : set_.vpsSubLayerOrdering) {
        const QString index = QStringLiteral("[%1]").arg(entry.subLayerId);
        const QString condition = QStringLiteral("vps sub-layer ordering loop");
        rows_.push_back({QStringLiteral("vps_max_dec_pic_buffering_minus1") + index,
                         numberText(entry.maxDecPicBufferingMinus1), condition, internedText(kStatusPresent), {}});
        rows_.push_back({QStringLiteral("vps_max_num_reorder_pics") + index, numberText(entry.maxNumReorderPics),
                         condition, internedText(kStatusPresent), {}});
        rows_.push_back({QStringLiteral("vps_max_latency_increase_plus1") + index,
                         numberText(entry.maxLatencyIncreasePlus1), condition, internedText(kStatusPresent), {}});
    }
    field("vps_max_layer_id", formatOptionalUInt8(set_.vpsMaxLayerId), set_.vpsMaxLayerId, kVps);
    field("vps_num_layer_sets_minus1", formatOptionalUInt16Minus1(set_.vpsNumLayerSets), set_.vpsNumLayerSets, kVps);
    appendVpsLayerSets();
    field("vps_timing_info_present_flag", formatOptionalBool(set_.vpsTimingInfoPresent), set_.vpsTimingInfoPresent,
          kVps);
    appendVpsTiming();
    field("vps_extension_flag", formatOptionalBool(set_.vpsExtension), set_.vpsExtension, kVps);
    if (set_.vpsExtension.value_or(false)) {
        unsupported("vps_extension_data_flag", "VPS extension data loop",
                    "Unspecified extension bits are not retained");
    }
    trailingBits(kVps);
}

void ParameterSetRows::appendVpsLayerSets()
{
    if (set_.vpsMaxLayerId) {
        const int lastLayer = std::min<int>(*set_.vpsMaxLayerId, kLayerMaskBits - 1);
        for (const analysis::VpsLayerSetInfo& layerSet : set_.vpsLayerSets) {
            for (int j = 0; j <= lastLayer; ++j) {
                rows_.push_back({QStringLiteral("layer_id_included_flag[%1][%2]").arg(layerSet.layerSetId).arg(j),
                                 boolText(((layerSet.includedLayerMask >> j) & 1U) != 0U),
                                 internedText(kVpsLayerSetLoop), internedText(kStatusPresent), {}});
            }
        }
    }
    if (set_.vpsNumLayerSets.value_or(0) >= 2 && set_.vpsLayerSets.empty()) {
        unsupported("layer_id_included_flag[][]", kVpsLayerSetLoop, "Layer-set matrix was not exported by the backend");
    }
}

// Everything after the flag is coded inside if( vps_timing_info_present_flag ): the tick count
// under its proportionality flag, then the HRD count and its loop.
void ParameterSetRows::appendVpsTiming()
{
    if (!set_.vpsTimingInfoPresent.value_or(false)) {
        return;
    }
    if (set_.vpsNumUnitsInTick) {
        present("vps_num_units_in_tick", formatOptionalUInt32(set_.vpsNumUnitsInTick), kTimingCondition);
    }
    if (set_.vpsTimeScale) {
        present("vps_time_scale", formatOptionalUInt32(set_.vpsTimeScale), kTimingCondition);
    }
    if (set_.vpsPocProportionalToTiming) {
        present("vps_poc_proportional_to_timing_flag", formatOptionalBool(set_.vpsPocProportionalToTiming),
                kTimingCondition);
        // The document keeps the coded value, the minus-one form, in this field.
        if (*set_.vpsPocProportionalToTiming && set_.vpsNumTicksPocDiffOne) {
            present("vps_num_ticks_poc_diff_one_minus1", formatOptionalUInt32(set_.vpsNumTicksPocDiffOne),
                    "vps_timing_info_present_flag == true && vps_poc_proportional_to_timing_flag == true");
        }
    }
    if (!set_.vpsNumHrdParameters) {
        return;
    }
    present("vps_num_hrd_parameters", formatOptionalUInt32(set_.vpsNumHrdParameters), kTimingCondition);
    const std::uint32_t structures = *set_.vpsNumHrdParameters;
    if (structures == 0) {
        return;
    }
    unsupported("hrd_layer_set_idx[]", kVpsHrdLoop, "Per-HRD layer-set indices are not exported yet");
    // The first structure always carries the common parameters: its flag is not coded.
    if (structures > 1) {
        unsupported("cprms_present_flag[]", kVpsHrdLoopAfterFirst, "Per-HRD common-parameter flags are not exported yet");
    }
    unsupported("hrd_parameters( cprms_present_flag[ i ], vps_max_sub_layers_minus1 )", kVpsHrdLoop,
                "HRD child syntax is not exported yet");
}

// In the order of seq_parameter_set_rbsp(): amp, SAO and PCM come before the reference picture sets.
void ParameterSetRows::appendSps()
{
    field("sps_video_parameter_set_id", formatOptionalUInt16(set_.referencedParameterSetId),
          set_.referencedParameterSetId, kSps, "Referenced VPS id");
    field("sps_max_sub_layers_minus1", formatOptionalUInt8Minus1(set_.maxSubLayers), set_.maxSubLayers, kSps,
          kSubLayerCountSemantics);
    field("sps_temporal_id_nesting_flag", formatOptionalBool(set_.temporalIdNesting), set_.temporalIdNesting, kSps,
          kNestingSemantics);
    profileTierLevel("profile_tier_level( 1, sps_max_sub_layers_minus1 )", kSps);
    field("sps_seq_parameter_set_id", formatOptionalUInt16(set_.parameterSetId), set_.parameterSetId, kSps,
          "SPS id exported by FFmpeg");
    field("chroma_format_idc", formatOptionalUInt8(set_.chromaFormatIdc), set_.chromaFormatIdc, kSps,
          "HEVC chroma format idc");
    exported("chroma_format_idc == 3", {"separate_colour_plane_flag"});
    field("pic_width_in_luma_samples", formatOptionalUInt32(set_.width), set_.width, kSps,
          "Coded picture width in luma samples");
    field("pic_height_in_luma_samples", formatOptionalUInt32(set_.height), set_.height, kSps,
          "Coded picture height in luma samples");
    exported(kSps, {"conformance_window_flag"});
    exported("conformance_window_flag == true",
             {"conf_win_left_offset", "conf_win_right_offset", "conf_win_top_offset", "conf_win_bottom_offset"});
    field("bit_depth_luma_minus8", formatOptionalUInt8Minus8(set_.bitDepth), set_.bitDepth, kSps,
          "Repository stores bit depth; UI shows minus8 syntax value");
    field("bit_depth_chroma_minus8", formatOptionalUInt8Minus8(set_.chromaBitDepth), set_.chromaBitDepth, kSps,
          "Repository stores chroma bit depth; UI shows minus8 syntax value");
    exported(kSps, {"log2_max_pic_order_cnt_lsb_minus4", "sps_sub_layer_ordering_info_present_flag"});
    exportedWithPrefix("sps sub-layer ordering loop", {"sps_max_dec_pic_buffering_minus1[", "sps_max_num_reorder_pics[",
                                                        "sps_max_latency_increase_plus1["});
    exported(kSps, {"log2_min_luma_coding_block_size_minus3", "log2_diff_max_min_luma_coding_block_size",
                    "log2_min_luma_transform_block_size_minus2", "log2_diff_max_min_luma_transform_block_size",
                    "max_transform_hierarchy_depth_inter", "max_transform_hierarchy_depth_intra",
                    "scaling_list_enabled_flag"});
    exported("scaling_list_enabled_flag == true", {"sps_scaling_list_data_present_flag"});
    unsupportedIfSet("sps_scaling_list_data_present_flag", "scaling_list_data()",
                     "scaling_list_enabled_flag == true && sps_scaling_list_data_present_flag == true",
                     "Scaling-list coefficients are not exported");
    exported(kSps, {"amp_enabled_flag"});
    field("sample_adaptive_offset_enabled_flag", formatOptionalBool(set_.sampleAdaptiveOffsetEnabled),
          set_.sampleAdaptiveOffsetEnabled, kSps, "SAO enable flag");
    exported(kSps, {"pcm_enabled_flag"});
    exported("pcm_enabled_flag == true",
             {"pcm_sample_bit_depth_luma_minus1", "pcm_sample_bit_depth_chroma_minus1",
              "log2_min_pcm_luma_coding_block_size_minus3", "log2_diff_max_min_pcm_luma_coding_block_size",
              "pcm_loop_filter_disabled_flag"});
    field("num_short_term_ref_pic_sets", formatOptionalUInt32(set_.numShortTermRefPicSets),
          set_.numShortTermRefPicSets, kSps, "Number of SPS short-term reference picture sets");
    if (set_.numShortTermRefPicSets.value_or(0) > 0) {
        unsupported("st_ref_pic_set( stRpsIdx )", "SPS short-term RPS loop",
                    "RPS entries are exported with slices, not nested here");
    }
    exported(kSps, {"long_term_ref_pics_present_flag"});
    exported("long_term_ref_pics_present_flag == true", {"num_long_term_ref_pics_sps"});
    exportedWithPrefix("long_term_ref_pics_present_flag == true && SPS long-term picture loop",
                       {"lt_ref_pic_poc_lsb_sps[", "used_by_curr_pic_lt_sps_flag["});
    field("sps_temporal_mvp_enabled_flag", formatOptionalBool(set_.temporalMvpEnabled), set_.temporalMvpEnabled, kSps,
          "Temporal motion-vector prediction enable flag");
    exported(kSps, {"strong_intra_smoothing_enabled_flag", "vui_parameters_present_flag"});
    appendVui();
    appendSpsExtensions();
    trailingBits(kSps);
    field("CtbLog2SizeY", formatOptionalUInt8(set_.log2CtuSize), set_.log2CtuSize,
          "derived from SPS coding block syntax", "Derived CTU log2 luma size used by block overlays");
}

// Inside vui_parameters() a row's condition starts at the structure: the model nests the
// structure under its own flag.
void ParameterSetRows::appendVui()
{
    constexpr const char* kTiming = "vui_timing_info_present_flag == true";
    structureIfSet("vui_parameters_present_flag", kVui, "vui_parameters_present_flag == true", kStatusPresent,
                   "Video usability information syntax");
    exported(kVui, {"aspect_ratio_info_present_flag"});
    exported("aspect_ratio_info_present_flag == true", {"aspect_ratio_idc"});
    exported("aspect_ratio_info_present_flag == true && aspect_ratio_idc == 255", {"sar_width", "sar_height"});
    exported(kVui, {"overscan_info_present_flag"});
    exported("overscan_info_present_flag == true", {"overscan_appropriate_flag"});
    exported(kVui, {"video_signal_type_present_flag"});
    exported("video_signal_type_present_flag == true",
             {"video_format", "video_full_range_flag", "colour_description_present_flag"});
    exported("video_signal_type_present_flag == true && colour_description_present_flag == true",
             {"colour_primaries", "transfer_characteristics", "matrix_coeffs"});
    exported(kVui, {"chroma_loc_info_present_flag"});
    exported("chroma_loc_info_present_flag == true",
             {"chroma_sample_loc_type_top_field", "chroma_sample_loc_type_bottom_field"});
    exported(kVui, {"neutral_chroma_indication_flag", "field_seq_flag", "frame_field_info_present_flag",
                    "default_display_window_flag"});
    exported("default_display_window_flag == true", {"def_disp_win_left_offset", "def_disp_win_right_offset",
                                                      "def_disp_win_top_offset", "def_disp_win_bottom_offset"});
    exported(kVui, {"vui_timing_info_present_flag"});
    exported(kTiming, {"vui_num_units_in_tick", "vui_time_scale", "vui_poc_proportional_to_timing_flag"});
    exported("vui_timing_info_present_flag == true && vui_poc_proportional_to_timing_flag == true",
             {"vui_num_ticks_poc_diff_one_minus1"});
    exported(kTiming, {"vui_hrd_parameters_present_flag"});
    structureIfSet("vui_hrd_parameters_present_flag", "hrd_parameters()",
                   "vui_timing_info_present_flag == true && vui_hrd_parameters_present_flag == true",
                   kStatusUnsupported, "HRD child syntax is not exported");
    exported(kVui, {"bitstream_restriction_flag"});
    exported("bitstream_restriction_flag == true",
             {"tiles_fixed_structure_flag", "motion_vectors_over_pic_boundaries_flag", "restricted_ref_pic_lists_flag",
              "min_spatial_segmentation_idc", "max_bytes_per_pic_denom", "max_bits_per_min_cu_denom",
              "log2_max_mv_length_horizontal", "log2_max_mv_length_vertical"});
}

void ParameterSetRows::appendSpsExtensions()
{
    exported(kSps, {"sps_extension_present_flag"});
    exported("sps_extension_present_flag == true", {"sps_range_extension_flag", "sps_multilayer_extension_flag",
                                                     "sps_3d_extension_flag", "sps_scc_extension_flag",
                                                     "sps_extension_4bits"});
    structureIfSet("sps_range_extension_flag", "sps_range_extension()", "sps_range_extension_flag == true",
                   kStatusPresent, "SPS range-extension syntax");
    exported("sps_range_extension()",
             {"transform_skip_rotation_enabled_flag", "transform_skip_context_enabled_flag",
              "implicit_rdpcm_enabled_flag", "explicit_rdpcm_enabled_flag", "extended_precision_processing_flag",
              "intra_smoothing_disabled_flag", "high_precision_offsets_enabled_flag",
              "persistent_rice_adaptation_enabled_flag", "cabac_bypass_alignment_enabled_flag"});
    unsupportedIfSet("sps_multilayer_extension_flag", "sps_multilayer_extension()",
                     "sps_multilayer_extension_flag == true", "SPS multilayer-extension payload is not exported");
    unsupportedIfSet("sps_3d_extension_flag", "sps_3d_extension()", "sps_3d_extension_flag == true",
                     "SPS 3D-extension payload is not exported");
    unsupportedIfSet("sps_scc_extension_flag", "sps_scc_extension()", "sps_scc_extension_flag == true",
                     "SPS SCC-extension payload is not exported");
    unsupportedIfSet("sps_extension_4bits", "sps_extension_data_flag", "SPS extension data loop",
                     "Unspecified SPS extension bits are not retained");
}

void ParameterSetRows::appendPps()
{
    constexpr const char* kRangeExtension = "pps_range_extension()";
    constexpr const char* kChromaQpOffsetList = "chroma_qp_offset_list_enabled_flag == true";
    field("pps_pic_parameter_set_id", formatOptionalUInt16(set_.parameterSetId), set_.parameterSetId, kPps,
          "PPS id exported by FFmpeg");
    field("pps_seq_parameter_set_id", formatOptionalUInt16(set_.referencedParameterSetId),
          set_.referencedParameterSetId, kPps, "Referenced SPS id");
    exported(kPps, {"dependent_slice_segments_enabled_flag", "output_flag_present_flag", "num_extra_slice_header_bits",
                    "sign_data_hiding_enabled_flag", "cabac_init_present_flag", "num_ref_idx_l0_default_active_minus1",
                    "num_ref_idx_l1_default_active_minus1", "init_qp_minus26", "constrained_intra_pred_flag",
                    "transform_skip_enabled_flag", "cu_qp_delta_enabled_flag"});
    exported("cu_qp_delta_enabled_flag == true", {"diff_cu_qp_delta_depth"});
    exported(kPps, {"pps_cb_qp_offset", "pps_cr_qp_offset", "pps_slice_chroma_qp_offsets_present_flag",
                    "weighted_pred_flag", "weighted_bipred_flag", "transquant_bypass_enabled_flag",
                    "tiles_enabled_flag", "entropy_coding_sync_enabled_flag"});
    exported("tiles_enabled_flag == true", {"num_tile_columns_minus1", "num_tile_rows_minus1", "uniform_spacing_flag"});
    exportedWithPrefix("tiles_enabled_flag == true && uniform_spacing_flag == false && tile column loop",
                       {"column_width_minus1["});
    exportedWithPrefix("tiles_enabled_flag == true && uniform_spacing_flag == false && tile row loop",
                       {"row_height_minus1["});
    exported("tiles_enabled_flag == true", {"loop_filter_across_tiles_enabled_flag"});
    exported(kPps, {"pps_loop_filter_across_slices_enabled_flag", "deblocking_filter_control_present_flag"});
    exported("deblocking_filter_control_present_flag == true",
             {"deblocking_filter_override_enabled_flag", "pps_deblocking_filter_disabled_flag"});
    exported("deblocking_filter_control_present_flag == true && pps_deblocking_filter_disabled_flag == false",
             {"pps_beta_offset_div2", "pps_tc_offset_div2"});
    exported(kPps, {"pps_scaling_list_data_present_flag"});
    unsupportedIfSet("pps_scaling_list_data_present_flag", "scaling_list_data()",
                     "pps_scaling_list_data_present_flag == true", "PPS scaling-list coefficients are not exported");
    exported(kPps, {"lists_modification_present_flag", "log2_parallel_merge_level_minus2",
                    "slice_segment_header_extension_present_flag", "pps_extension_present_flag"});
    exported("pps_extension_present_flag == true", {"pps_range_extension_flag", "pps_multilayer_extension_flag",
                                                     "pps_3d_extension_flag", "pps_scc_extension_flag",
                                                     "pps_extension_4bits"});
    // Inside pps_range_extension() a row's condition starts at the structure.
    structureIfSet("pps_range_extension_flag", "pps_range_extension()", "pps_range_extension_flag == true",
                   kStatusPresent, "PPS range-extension syntax");
    exported("transform_skip_enabled_flag == true", {"log2_max_transform_skip_block_size_minus2"});
    exported(kRangeExtension, {"cross_component_prediction_enabled_flag", "chroma_qp_offset_list_enabled_flag"});
    exported(kChromaQpOffsetList, {"diff_cu_chroma_qp_offset_depth", "chroma_qp_offset_list_len_minus1"});
    exportedWithPrefix("chroma_qp_offset_list_enabled_flag == true && chroma QP offset list loop",
                       {"cb_qp_offset_list[", "cr_qp_offset_list["});
    exported(kRangeExtension, {"log2_sao_offset_scale_luma", "log2_sao_offset_scale_chroma"});
    unsupportedIfSet("pps_multilayer_extension_flag", "pps_multilayer_extension()",
                     "pps_multilayer_extension_flag == true", "PPS multilayer-extension payload is not exported");
    unsupportedIfSet("pps_3d_extension_flag", "pps_3d_extension()", "pps_3d_extension_flag == true",
                     "PPS 3D-extension payload is not exported");
    unsupportedIfSet("pps_scc_extension_flag", "pps_scc_extension()", "pps_scc_extension_flag == true",
                     "PPS SCC-extension payload is not exported");
    unsupportedIfSet("pps_extension_4bits", "pps_extension_data_flag", "PPS extension data loop",
                     "Unspecified PPS extension bits are not retained");
    trailingBits(kPps);
}

}  // namespace

std::vector<SyntaxStructure> parameterSetStructures(const PictureSyntaxModel& model, ParameterSetKind kind)
{
    std::vector<SyntaxStructure> structures;
    for (const ParameterSetInfo& set : model.analysis().parameterSets) {
        if (set.kind == kind) {
            structures.emplace_back(
                [&model, &set](std::vector<SyntaxRow>& rows) { ParameterSetRows(model, rows, set).append(); });
        }
    }
    return structures;
}

}  // namespace vexilo::syntaxrows
