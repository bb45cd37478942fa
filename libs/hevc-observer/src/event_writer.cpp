#include "event_writer.h"

#include "fnv1a.h"

#include <algorithm>
#include <array>
#include <utility>

namespace vexilo::hevc {

namespace {
constexpr std::uint32_t kStatusOk = 1;
constexpr std::uint32_t kStatusMalformed = 2;
constexpr std::uint32_t kSeiStatusParsed = 1;
constexpr std::uint32_t kSeiStatusMalformed = 3;

constexpr std::uint32_t flagValue(bool flag) { return flag ? 1U : 0U; }

template <typename Word>
void setBit(Word& word, Word bit, bool value)
{
    if (value) {
        word |= bit;
    }
}

// Signaled slice header elements and the presence bit that reports each.
constexpr std::array<std::pair<SignaledField, std::uint64_t>, 17> kSliceSignaledBits = {{
    {kFirstSliceSegmentInPicFlag, VEXILO_OBSERVER_SLICE_A_FIRST_SLICE_SEGMENT_IN_PIC},
    {kNoOutputOfPriorPicsFlag, VEXILO_OBSERVER_SLICE_A_NO_OUTPUT_OF_PRIOR_PICS},
    {kSlicePicParameterSetId, VEXILO_OBSERVER_SLICE_A_PPS_ID},
    {kDependentSliceSegmentFlag, VEXILO_OBSERVER_SLICE_A_DEPENDENT_SLICE_SEGMENT},
    {kSliceSegmentAddress, VEXILO_OBSERVER_SLICE_A_SLICE_SEGMENT_ADDRESS},
    {kSliceTypeField, VEXILO_OBSERVER_SLICE_A_SIGNALED_SLICE_TYPE},
    {kPicOutputFlag, VEXILO_OBSERVER_SLICE_A_SLICE_PIC_OUTPUT},
    {kSlicePicOrderCntLsb, VEXILO_OBSERVER_SLICE_A_SLICE_PIC_ORDER_CNT_LSB},
    {kShortTermRefPicSetSpsFlag, VEXILO_OBSERVER_SLICE_A_SHORT_TERM_REF_PIC_SET_SPS},
    {kShortTermRefPicSetIdx, VEXILO_OBSERVER_SLICE_A_SHORT_TERM_REF_PIC_SET_IDX},
    {kNumRefIdxActiveOverrideFlag, VEXILO_OBSERVER_SLICE_A_NUM_REF_IDX_ACTIVE_OVERRIDE},
    {kNumRefIdxL0Active, VEXILO_OBSERVER_SLICE_A_NUM_REF_IDX_L0_ACTIVE},
    {kNumRefIdxL1Active, VEXILO_OBSERVER_SLICE_A_NUM_REF_IDX_L1_ACTIVE},
    {kRefPicListModificationFlagL0, VEXILO_OBSERVER_SLICE_A_REF_PIC_LIST_MODIFICATION_L0},
    {kRefPicListModificationFlagL1, VEXILO_OBSERVER_SLICE_A_REF_PIC_LIST_MODIFICATION_L1},
    {kSliceQpDelta, VEXILO_OBSERVER_SLICE_A_SLICE_QP_DELTA},
    {kNumEntryPointOffsets, VEXILO_OBSERVER_SLICE_A_NUM_ENTRY_POINT_OFFSETS},
}};

template <typename Event>
Event makeEvent(std::uint32_t kind, const EventStamp& stamp)
{
    Event event{};
    fillEventHeader(event.header, kind, static_cast<std::uint32_t>(sizeof(Event)), stamp);
    return event;
}

std::uint32_t profileFlags(const ProfileInfo& info) { return info.constraintFlags; }

template <std::size_t Bytes>
void copyText(char (&field)[Bytes], std::string_view text)
{
    const std::size_t length = std::min(text.size(), Bytes - 1U);
    std::copy_n(text.data(), length, field);
    field[length] = '\0';
}

void writeProfileTierLevel(VexiloObserverParameterSetEvent& event, const ProfileTierLevel& ptl)
{
    event.profileIdc = ptl.general.profile_idc;
    event.levelIdc = ptl.general.level_idc;
    event.generalProfileSpace = ptl.general.profile_space;
    event.generalTierFlag = flagValue(ptl.general.tier_flag);
    event.generalProfileCompatibilityFlags = ptl.general.profile_compatibility_flags;
    event.generalConstraintFlags = profileFlags(ptl.general);
    event.generalConstraintPresence = ptl.general.constraintFlagsPresent;
    for (std::uint32_t i = 0; i < ptl.maxNumSubLayersMinus1; ++i) {
        const ProfileInfo& sub = ptl.subLayer[i];
        if (ptl.sub_layer_profile_present_flag[i]) {
            event.subLayerProfilePresentMask |= 1U << i;
            event.subLayerProfileSpace[i] = sub.profile_space;
            event.subLayerTierFlag[i] = flagValue(sub.tier_flag);
            event.subLayerProfileIdc[i] = sub.profile_idc;
            event.subLayerProfileCompatibilityFlags[i] = sub.profile_compatibility_flags;
            event.subLayerConstraintFlags[i] = profileFlags(sub);
            event.subLayerConstraintPresence[i] = sub.constraintFlagsPresent;
        }
        if (ptl.sub_layer_level_present_flag[i]) {
            event.subLayerLevelPresentMask |= 1U << i;
            event.subLayerLevelIdc[i] = sub.level_idc;
        }
    }
}

template <std::size_t N>
void writeSubLayerOrdering(const std::array<SubLayerOrdering, N>& ordering, std::uint32_t maxSubLayersMinus1,
                           std::uint32_t* buffering, std::uint32_t* reorder, std::uint32_t* latency)
{
    for (std::uint32_t i = 0; i <= maxSubLayersMinus1 && i < N; ++i) {
        if (!ordering[i].signaled) {
            continue;
        }
        buffering[i] = ordering[i].max_dec_pic_buffering_minus1 + 1U;
        reorder[i] = ordering[i].max_num_reorder_pics;
        latency[i] = ordering[i].max_latency_increase_plus1;
    }
}

void writeWindow(std::uint32_t* offsets, const Window& window)
{
    offsets[0] = window.left;
    offsets[1] = window.right;
    offsets[2] = window.top;
    offsets[3] = window.bottom;
}

std::uint64_t spsFlagWord(const Sps& sps)
{
    std::uint64_t flags = 0;
    setBit(flags, VEXILO_OBSERVER_SPS_SEPARATE_COLOUR_PLANE, sps.separate_colour_plane_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_CONFORMANCE_WINDOW, sps.conformance_window_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_SUB_LAYER_ORDERING_INFO_PRESENT, sps.sps_sub_layer_ordering_info_present_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_SCALING_LIST_ENABLED, sps.scaling_list_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_SCALING_LIST_DATA_PRESENT, sps.sps_scaling_list_data_present_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_AMP_ENABLED, sps.amp_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_LONG_TERM_REF_PICS_PRESENT, sps.long_term_ref_pics_present_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_PCM_ENABLED, sps.pcm_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_PCM_LOOP_FILTER_DISABLED, sps.pcm_loop_filter_disabled_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_STRONG_INTRA_SMOOTHING_ENABLED, sps.strong_intra_smoothing_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_VUI_PARAMETERS_PRESENT, sps.vui_parameters_present_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_EXTENSION_PRESENT, sps.sps_extension_present_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_RANGE_EXTENSION, sps.sps_range_extension_flag);
    const SpsRangeExtension& r = sps.range;
    setBit(flags, VEXILO_OBSERVER_SPS_TRANSFORM_SKIP_ROTATION_ENABLED, r.transform_skip_rotation_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_TRANSFORM_SKIP_CONTEXT_ENABLED, r.transform_skip_context_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_IMPLICIT_RDPCM_ENABLED, r.implicit_rdpcm_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_EXPLICIT_RDPCM_ENABLED, r.explicit_rdpcm_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_EXTENDED_PRECISION_PROCESSING, r.extended_precision_processing_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_INTRA_SMOOTHING_DISABLED, r.intra_smoothing_disabled_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_HIGH_PRECISION_OFFSETS_ENABLED, r.high_precision_offsets_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_PERSISTENT_RICE_ADAPTATION_ENABLED, r.persistent_rice_adaptation_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_SPS_CABAC_BYPASS_ALIGNMENT_ENABLED, r.cabac_bypass_alignment_enabled_flag);
    return flags;
}

std::uint64_t vuiFlagWord(const VuiParameters& vui)
{
    std::uint64_t flags = 0;
    setBit(flags, VEXILO_OBSERVER_VUI_ASPECT_RATIO_INFO_PRESENT, vui.aspect_ratio_info_present_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_OVERSCAN_INFO_PRESENT, vui.overscan_info_present_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_OVERSCAN_APPROPRIATE, vui.overscan_appropriate_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_VIDEO_SIGNAL_TYPE_PRESENT, vui.video_signal_type_present_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_VIDEO_FULL_RANGE, vui.video_full_range_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_COLOUR_DESCRIPTION_PRESENT, vui.colour_description_present_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_CHROMA_LOC_INFO_PRESENT, vui.chroma_loc_info_present_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_NEUTRAL_CHROMA_INDICATION, vui.neutral_chroma_indication_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_FIELD_SEQ, vui.field_seq_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_FRAME_FIELD_INFO_PRESENT, vui.frame_field_info_present_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_DEFAULT_DISPLAY_WINDOW, vui.default_display_window_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_TIMING_INFO_PRESENT, vui.vui_timing_info_present_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_POC_PROPORTIONAL_TO_TIMING, vui.vui_poc_proportional_to_timing_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_HRD_PARAMETERS_PRESENT, vui.vui_hrd_parameters_present_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_BITSTREAM_RESTRICTION, vui.bitstream_restriction_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_TILES_FIXED_STRUCTURE, vui.tiles_fixed_structure_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_MOTION_VECTORS_OVER_PIC_BOUNDARIES, vui.motion_vectors_over_pic_boundaries_flag);
    setBit(flags, VEXILO_OBSERVER_VUI_RESTRICTED_REF_PIC_LISTS, vui.restricted_ref_pic_lists_flag);
    return flags;
}

void writeVui(VexiloObserverParameterSetEvent& event, const VuiParameters& vui)
{
    event.vuiFlags = vuiFlagWord(vui);
    event.aspectRatioIdc = vui.aspect_ratio_idc;
    event.sarWidth = vui.sar_width;
    event.sarHeight = vui.sar_height;
    event.videoFormat = vui.video_format;
    event.colourPrimaries = vui.colour_primaries;
    event.transferCharacteristics = vui.transfer_characteristics;
    event.matrixCoeffs = vui.matrix_coeffs;
    event.chromaSampleLocTypeTopField = vui.chroma_sample_loc_type_top_field;
    event.chromaSampleLocTypeBottomField = vui.chroma_sample_loc_type_bottom_field;
    writeWindow(event.defaultDisplayWindowOffsets, vui.defaultDisplayWindow);
    event.vuiNumUnitsInTick = vui.vui_num_units_in_tick;
    event.vuiTimeScale = vui.vui_time_scale;
    event.vuiNumTicksPocDiffOneMinus1 = vui.vui_num_ticks_poc_diff_one_minus1;
    event.minSpatialSegmentationIdc = vui.min_spatial_segmentation_idc;
    event.maxBytesPerPicDenom = vui.max_bytes_per_pic_denom;
    event.maxBitsPerMinCuDenom = vui.max_bits_per_min_cu_denom;
    event.log2MaxMvLengthHorizontal = vui.log2_max_mv_length_horizontal;
    event.log2MaxMvLengthVertical = vui.log2_max_mv_length_vertical;
}

std::uint64_t ppsFlagWord(const Pps& pps)
{
    std::uint64_t flags = 0;
    setBit(flags, VEXILO_OBSERVER_PPS_SIGN_DATA_HIDING_ENABLED, pps.sign_data_hiding_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_CABAC_INIT_PRESENT, pps.cabac_init_present_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_CONSTRAINED_INTRA_PRED, pps.constrained_intra_pred_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_TRANSFORM_SKIP_ENABLED, pps.transform_skip_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_CU_QP_DELTA_ENABLED, pps.cu_qp_delta_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_SLICE_CHROMA_QP_OFFSETS_PRESENT, pps.pps_slice_chroma_qp_offsets_present_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_WEIGHTED_PRED, pps.weighted_pred_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_WEIGHTED_BIPRED, pps.weighted_bipred_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_TRANSQUANT_BYPASS_ENABLED, pps.transquant_bypass_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_UNIFORM_SPACING, pps.tiles_enabled_flag && pps.uniform_spacing_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_LOOP_FILTER_ACROSS_TILES_ENABLED,
           pps.tiles_enabled_flag && pps.loop_filter_across_tiles_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_LOOP_FILTER_ACROSS_SLICES_ENABLED, pps.pps_loop_filter_across_slices_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_DEBLOCKING_FILTER_CONTROL_PRESENT, pps.deblocking_filter_control_present_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_DEBLOCKING_FILTER_OVERRIDE_ENABLED, pps.deblocking_filter_override_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_DEBLOCKING_FILTER_DISABLED, pps.pps_deblocking_filter_disabled_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_SCALING_LIST_DATA_PRESENT, pps.pps_scaling_list_data_present_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_LISTS_MODIFICATION_PRESENT, pps.lists_modification_present_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_SLICE_SEGMENT_HEADER_EXTENSION_PRESENT, pps.slice_segment_header_extension_present_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_EXTENSION_PRESENT, pps.pps_extension_present_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_RANGE_EXTENSION, pps.pps_range_extension_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_MULTILAYER_EXTENSION, pps.pps_multilayer_extension_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_3D_EXTENSION, pps.pps_3d_extension_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_SCC_EXTENSION, pps.pps_scc_extension_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_CROSS_COMPONENT_PREDICTION_ENABLED, pps.range.cross_component_prediction_enabled_flag);
    setBit(flags, VEXILO_OBSERVER_PPS_CHROMA_QP_OFFSET_LIST_ENABLED, pps.range.chroma_qp_offset_list_enabled_flag);
    return flags;
}

void writeTileSizes(VexiloObserverParameterSetEvent& event, const Pps& pps, const Sps* sps)
{
    event.numTileColumns = pps.num_tile_columns_minus1 + 1U;
    event.numTileRows = pps.num_tile_rows_minus1 + 1U;
    if (sps != nullptr) {
        try {
            const TileGrid grid = deriveTileGrid(*sps, pps);
            std::copy(grid.colWidth.begin(), grid.colWidth.end(), event.columnWidths);
            std::copy(grid.rowHeight.begin(), grid.rowHeight.end(), event.rowHeights);
            return;
        } catch (const SyntaxError&) {
            // The grid does not fit this SPS; report what the PPS itself says.
        }
    }
    for (std::size_t i = 0; i < pps.column_width_minus1.size(); ++i) {
        event.columnWidths[i] = pps.column_width_minus1[i] + 1U;
    }
    for (std::size_t i = 0; i < pps.row_height_minus1.size(); ++i) {
        event.rowHeights[i] = pps.row_height_minus1[i] + 1U;
    }
}
} // namespace

void fillEventHeader(VexiloObserverEventHeader& header, std::uint32_t kind, std::uint32_t size, const EventStamp& stamp)
{
    header.size = size;
    header.abiVersion = VEXILO_OBSERVER_ABI_VERSION;
    header.kind = kind;
    header.displayIndex = stamp.displayIndex;
    header.pts = stamp.pts;
    header.dts = stamp.dts;
    header.width = stamp.width;
    header.height = stamp.height;
    header.pictureType = stamp.pictureType;
}

VexiloObserverEventHeader writeMarkerEvent(std::uint32_t kind)
{
    VexiloObserverEventHeader header{};
    fillEventHeader(header, kind, VEXILO_OBSERVER_EVENT_HEADER_SIZE, EventStamp{});
    return header;
}

VexiloObserverSyntaxDiagnosticEvent writeSyntaxDiagnosticEvent(const DiagnosticFacts& facts, const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverSyntaxDiagnosticEvent>(VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC, stamp);
    event.nalIdentity = facts.nalIdentity;
    event.nalUnitType = facts.nalUnitType;
    event.outcome = facts.outcome;
    event.bitPosition = facts.bitPosition.value_or(0);
    event.bitPositionKnown = flagValue(facts.bitPosition.has_value());
    copyText(event.element, facts.element);
    copyText(event.message, facts.message);
    return event;
}

VexiloObserverNalUnitEvent writeNalUnitEvent(const NalUnitFacts& nal, const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverNalUnitEvent>(VEXILO_OBSERVER_EVENT_NAL_UNIT, stamp);
    event.byteOffset = nal.byteOffset ? static_cast<std::int64_t>(*nal.byteOffset) : -1;
    event.byteLocationKnown = flagValue(nal.byteOffset.has_value());
    event.byteSize = nal.byteSize;
    event.contentHash = nal.contentHash;
    event.indexInPacket = nal.indexInPacket;
    event.startCodeLength = nal.startCodeLength;
    event.nalUnitType = nal.header.nal_unit_type;
    event.layerId = nal.header.nuh_layer_id;
    event.temporalId = nal.header.TemporalId();
    event.nalIdentity = nal.nalIdentity;
    return event;
}

VexiloObserverParameterSetEvent writeVpsEvent(const Vps& vps, std::uint64_t contentHash, const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverParameterSetEvent>(VEXILO_OBSERVER_EVENT_VPS, stamp);
    event.contentHash = contentHash;
    event.parameterSetKind = VEXILO_OBSERVER_PARAMETER_SET_VPS;
    event.parameterSetId = vps.vps_video_parameter_set_id;
    event.referencedParameterSetId = VEXILO_OBSERVER_NO_PARAMETER_SET_ID;
    event.maxSubLayers = vps.vps_max_sub_layers_minus1 + 1U;
    setBit(event.flags, VEXILO_OBSERVER_PS_TEMPORAL_ID_NESTING, vps.vps_temporal_id_nesting_flag);
    setBit(event.flags, VEXILO_OBSERVER_PS_VPS_BASE_LAYER_INTERNAL, vps.vps_base_layer_internal_flag);
    setBit(event.flags, VEXILO_OBSERVER_PS_VPS_BASE_LAYER_AVAILABLE, vps.vps_base_layer_available_flag);
    event.vpsLayerCount = vps.vps_max_layers_minus1 + 1U;
    event.vpsSubLayerOrderingInfoPresent = flagValue(vps.vps_sub_layer_ordering_info_present_flag);
    writeSubLayerOrdering(vps.subLayerOrdering, vps.vps_max_sub_layers_minus1, event.vpsMaxDecPicBufferingPlus1,
                          event.vpsMaxNumReorderPics, event.vpsMaxLatencyIncreasePlus1);
    event.vpsMaxLayerId = vps.vps_max_layer_id;
    event.vpsNumLayerSets = vps.vps_num_layer_sets_minus1 + 1U;
    event.vpsTimingInfoPresent = flagValue(vps.vps_timing_info_present_flag);
    event.vpsNumUnitsInTick = vps.vps_num_units_in_tick;
    event.vpsTimeScale = vps.vps_time_scale;
    event.vpsPocProportionalToTiming = flagValue(vps.vps_poc_proportional_to_timing_flag);
    event.vpsNumTicksPocDiffOneMinus1 = vps.vps_num_ticks_poc_diff_one_minus1;
    event.vpsNumHrdParameters = vps.vps_num_hrd_parameters;
    event.vpsExtension = flagValue(vps.vps_extension_flag);
    writeProfileTierLevel(event, vps.profileTierLevel);
    return event;
}

VexiloObserverVpsLayerSetEvent writeVpsLayerSetEvent(const Vps& vps, const VpsLayerSet& layerSet,
                                                     const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverVpsLayerSetEvent>(VEXILO_OBSERVER_EVENT_VPS_LAYER_SET, stamp);
    event.includedLayerMask = layerSet.includedLayerMask;
    event.vpsId = vps.vps_video_parameter_set_id;
    event.layerSetIndex = layerSet.layerSetIndex;
    event.maxLayerId = vps.vps_max_layer_id;
    return event;
}

VexiloObserverParameterSetEvent writeSpsEvent(const Sps& sps, std::uint64_t contentHash, const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverParameterSetEvent>(VEXILO_OBSERVER_EVENT_SPS, stamp);
    event.contentHash = contentHash;
    event.parameterSetKind = VEXILO_OBSERVER_PARAMETER_SET_SPS;
    event.parameterSetId = sps.sps_seq_parameter_set_id;
    event.referencedParameterSetId = sps.sps_video_parameter_set_id;
    event.width = sps.pic_width_in_luma_samples;
    event.height = sps.pic_height_in_luma_samples;
    event.header.width = event.width;
    event.header.height = event.height;
    event.chromaFormatIdc = sps.chroma_format_idc;
    event.bitDepthLuma = sps.BitDepthY;
    event.bitDepthChroma = sps.BitDepthC;
    event.log2CtuSize = sps.CtbLog2SizeY;
    event.maxSubLayers = sps.sps_max_sub_layers_minus1 + 1U;
    event.numShortTermRefPicSets = sps.num_short_term_ref_pic_sets;
    setBit(event.flags, VEXILO_OBSERVER_PS_TEMPORAL_ID_NESTING, sps.sps_temporal_id_nesting_flag);
    setBit(event.flags, VEXILO_OBSERVER_PS_SAMPLE_ADAPTIVE_OFFSET_ENABLED, sps.sample_adaptive_offset_enabled_flag);
    setBit(event.flags, VEXILO_OBSERVER_PS_TEMPORAL_MVP_ENABLED, sps.sps_temporal_mvp_enabled_flag);
    writeProfileTierLevel(event, sps.profileTierLevel);
    event.spsFlags = spsFlagWord(sps);
    event.log2MaxPicOrderCntLsb = sps.log2_max_pic_order_cnt_lsb_minus4 + 4U;
    writeSubLayerOrdering(sps.subLayerOrdering, sps.sps_max_sub_layers_minus1, event.spsMaxDecPicBufferingPlus1,
                          event.spsMaxNumReorderPics, event.spsMaxLatencyIncreasePlus1);
    event.log2MinLumaCodingBlockSize = sps.MinCbLog2SizeY;
    event.log2DiffMaxMinLumaCodingBlockSize = sps.log2_diff_max_min_luma_coding_block_size;
    event.log2MinLumaTransformBlockSize = sps.MinTbLog2SizeY;
    event.log2DiffMaxMinLumaTransformBlockSize = sps.log2_diff_max_min_luma_transform_block_size;
    event.maxTransformHierarchyDepthInter = sps.max_transform_hierarchy_depth_inter;
    event.maxTransformHierarchyDepthIntra = sps.max_transform_hierarchy_depth_intra;
    writeWindow(event.conformanceWindowOffsets, sps.conformanceWindow);
    event.numLongTermRefPicsSps = sps.num_long_term_ref_pics_sps;
    for (std::uint32_t i = 0; i < sps.num_long_term_ref_pics_sps; ++i) {
        event.ltRefPicPocLsbSps[i] = sps.lt_ref_pic_poc_lsb_sps[i];
        event.usedByCurrPicLtSpsFlags |= flagValue(sps.used_by_curr_pic_lt_sps_flag[i]) << i;
    }
    if (sps.pcm_enabled_flag) {
        event.pcmSampleBitDepthLuma = sps.PcmBitDepthY;
        event.pcmSampleBitDepthChroma = sps.PcmBitDepthC;
        event.log2MinPcmLumaCodingBlockSize = sps.Log2MinIpcmCbSizeY;
        event.log2MaxPcmLumaCodingBlockSize = sps.Log2MaxIpcmCbSizeY;
    }
    event.spsExtension4bits = sps.sps_extension_4bits;
    if (sps.vui_parameters_present_flag) {
        writeVui(event, sps.vui);
    }
    return event;
}

VexiloObserverParameterSetEvent writePpsEvent(const Pps& pps, const Sps* sps, std::uint64_t contentHash,
                                              const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverParameterSetEvent>(VEXILO_OBSERVER_EVENT_PPS, stamp);
    event.contentHash = contentHash;
    event.parameterSetKind = VEXILO_OBSERVER_PARAMETER_SET_PPS;
    event.parameterSetId = pps.pps_pic_parameter_set_id;
    event.referencedParameterSetId = pps.pps_seq_parameter_set_id;
    setBit(event.flags, VEXILO_OBSERVER_PS_TILES_ENABLED, pps.tiles_enabled_flag);
    setBit(event.flags, VEXILO_OBSERVER_PS_ENTROPY_CODING_SYNC_ENABLED, pps.entropy_coding_sync_enabled_flag);
    setBit(event.flags, VEXILO_OBSERVER_PS_DEPENDENT_SLICE_SEGMENTS_ENABLED, pps.dependent_slice_segments_enabled_flag);
    setBit(event.flags, VEXILO_OBSERVER_PS_OUTPUT_FLAG_PRESENT, pps.output_flag_present_flag);
    writeTileSizes(event, pps, sps);
    event.ppsFlags = ppsFlagWord(pps);
    event.numExtraSliceHeaderBits = pps.num_extra_slice_header_bits;
    event.numRefIdxL0DefaultActive = pps.num_ref_idx_l0_default_active_minus1 + 1U;
    event.numRefIdxL1DefaultActive = pps.num_ref_idx_l1_default_active_minus1 + 1U;
    event.initQpMinus26 = pps.init_qp_minus26;
    event.diffCuQpDeltaDepth = pps.diff_cu_qp_delta_depth;
    event.cbQpOffset = pps.pps_cb_qp_offset;
    event.crQpOffset = pps.pps_cr_qp_offset;
    event.betaOffset = 2 * pps.pps_beta_offset_div2;
    event.tcOffset = 2 * pps.pps_tc_offset_div2;
    event.log2ParallelMergeLevel = pps.log2_parallel_merge_level_minus2 + 2U;
    event.ppsExtension4bits = pps.pps_extension_4bits;
    const PpsRangeExtension& range = pps.range;
    event.log2MaxTransformSkipBlockSize = range.log2_max_transform_skip_block_size_minus2 + 2U;
    event.diffCuChromaQpOffsetDepth = range.diff_cu_chroma_qp_offset_depth;
    event.chromaQpOffsetListLenMinus1 = range.chroma_qp_offset_list_len_minus1;
    if (range.chroma_qp_offset_list_enabled_flag) {
        for (std::uint32_t i = 0; i <= range.chroma_qp_offset_list_len_minus1; ++i) {
            event.cbQpOffsetList[i] = range.cb_qp_offset_list[i];
            event.crQpOffsetList[i] = range.cr_qp_offset_list[i];
        }
    }
    event.log2SaoOffsetScaleLuma = range.log2_sao_offset_scale_luma;
    event.log2SaoOffsetScaleChroma = range.log2_sao_offset_scale_chroma;
    return event;
}

VexiloObserverSeiMessageEvent writeSeiMessageEvent(const SeiMessage& message, std::uint32_t indexInNal,
                                                   std::uint32_t nalUnitType, const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverSeiMessageEvent>(VEXILO_OBSERVER_EVENT_SEI_MESSAGE, stamp);
    event.payloadSize = message.payloadSize;
    event.payloadHash = fnv1a64(message.payload);
    event.messageIndexInNal = indexInNal;
    event.payloadType = message.payloadType;
    event.nalUnitType = nalUnitType;
    event.status = message.complete ? kSeiStatusParsed : kSeiStatusMalformed;
    event.payload = message.payload.empty() ? nullptr : message.payload.data();
    event.payloadBytesLength = static_cast<std::uint32_t>(std::min<std::size_t>(message.payload.size(), UINT32_MAX));
    return event;
}

VexiloObserverSliceEvent writeSliceEvent(const SliceSegmentHeader& h, const SliceFacts& facts, const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverSliceEvent>(VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER, stamp);
    event.nalIdentity = facts.nalIdentity;
    event.sliceIdentity = facts.sliceIdentity;
    event.pictureIdentity = facts.pictureIdentity;
    for (const auto& [field, bit] : kSliceSignaledBits) {
        setBit(event.presentMaskA, bit, ((h.signaled >> field) & 1U) != 0);
    }
    setBit(event.presentMaskB, VEXILO_OBSERVER_SLICE_B_PICTURE_IDENTITY, facts.pictureIdentity != 0);
    setBit(event.presentMaskB, VEXILO_OBSERVER_SLICE_B_SLICE_TYPE, facts.parsed);
    setBit(event.presentMaskB, VEXILO_OBSERVER_SLICE_B_FIRST_CTU_ADDRESS, facts.parsed);
    setBit(event.presentMaskB, VEXILO_OBSERVER_SLICE_B_POC, facts.poc.has_value());
    setBit(event.presentMaskB, VEXILO_OBSERVER_SLICE_B_SLICE_QP, facts.parsed);
    setBit(event.presentMaskB, VEXILO_OBSERVER_SLICE_B_TILE_ID, facts.parsed);
    event.parseStatus = facts.parsed ? kStatusOk : kStatusMalformed;
    event.parserErrorCode = facts.parsed ? 0 : facts.errorCode;
    event.nalUnitType = h.nal.nal_unit_type;
    event.temporalId = h.nal.TemporalId();
    event.sliceDataNalOffset = static_cast<std::uint32_t>(std::min<std::uint64_t>(facts.sliceDataNalOffset, UINT32_MAX));
    event.firstSliceSegmentInPic = flagValue(h.first_slice_segment_in_pic_flag);
    event.noOutputOfPriorPics = flagValue(h.no_output_of_prior_pics_flag);
    event.ppsId = h.slice_pic_parameter_set_id;
    event.dependentSliceSegment = flagValue(h.dependent_slice_segment_flag);
    event.sliceSegmentAddress = h.slice_segment_address;
    event.signaledSliceType = h.slice_type;
    event.sliceType = h.slice_type;
    event.slicePicOutput = flagValue(h.pic_output_flag);
    event.slicePicOrderCntLsb = static_cast<std::int32_t>(h.slice_pic_order_cnt_lsb);
    event.poc = facts.poc.value_or(0);
    event.shortTermRefPicSetSps = flagValue(h.short_term_ref_pic_set_sps_flag);
    event.shortTermRefPicSetIdx =
        h.short_term_ref_pic_set_sps_flag ? static_cast<std::int32_t>(h.short_term_ref_pic_set_idx) : -1;
    event.numRefIdxActiveOverride = flagValue(h.num_ref_idx_active_override_flag);
    event.numRefIdxL0Active = h.isIntra() ? 0 : h.num_ref_idx_l0_active_minus1 + 1U;
    event.numRefIdxL1Active = h.isB() ? h.num_ref_idx_l1_active_minus1 + 1U : 0;
    event.refPicListModificationL0 = flagValue(h.ref_pic_list_modification_flag_l0);
    event.refPicListModificationL1 = flagValue(h.ref_pic_list_modification_flag_l1);
    event.sliceQpDelta = h.slice_qp_delta;
    event.sliceQp = h.SliceQpY;
    event.firstCtuAddress = h.slice_segment_address;
    event.tileId = h.TileIdOfFirstCtb;
    event.numEntryPointOffsets = h.num_entry_point_offsets;
    return event;
}

VexiloObserverShortTermRpsEvent writeShortTermRpsEvent(const ShortTermRpsEntry& entry, std::uint32_t entryIndex,
                                                       const SliceSegmentHeader& header,
                                                       const PictureIdentityFacts& identity, const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverShortTermRpsEvent>(VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY, stamp);
    event.sliceIdentity = identity.sliceIdentity;
    event.pictureIdentity = identity.pictureIdentity;
    event.entryIndex = entryIndex;
    event.deltaPoc = entry.deltaPoc;
    event.poc = entry.poc;
    event.used = flagValue(entry.used);
    event.negative = flagValue(entry.negative);
    const std::uint32_t setOrigin =
        header.short_term_ref_pic_set_sps_flag ? VEXILO_OBSERVER_ORIGIN_INFERRED : VEXILO_OBSERVER_ORIGIN_SIGNALED;
    event.deltaPocOrigin = header.stRps.inter_ref_pic_set_prediction_flag ? VEXILO_OBSERVER_ORIGIN_DERIVED : setOrigin;
    event.usedOrigin = setOrigin;
    return event;
}

VexiloObserverLongTermRpsEvent writeLongTermRpsEvent(const LongTermRpsEntry& entry, std::uint32_t entryIndex,
                                                     const PictureIdentityFacts& identity, const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverLongTermRpsEvent>(VEXILO_OBSERVER_EVENT_LONG_TERM_RPS_ENTRY, stamp);
    event.sliceIdentity = identity.sliceIdentity;
    event.pictureIdentity = identity.pictureIdentity;
    event.entryIndex = entryIndex;
    event.pocLsb = static_cast<std::int32_t>(entry.pocLsb);
    event.poc = entry.poc;
    event.used = flagValue(entry.used);
    event.deltaPocMsbPresent = flagValue(entry.delta_poc_msb_present_flag);
    event.deltaPocMsbCycle = entry.delta_poc_msb_cycle_lt;
    event.origin = entry.fromSps ? VEXILO_OBSERVER_ORIGIN_INFERRED : VEXILO_OBSERVER_ORIGIN_SIGNALED;
    return event;
}

VexiloObserverReferenceListEvent writeReferenceListEvent(const ReferenceTarget& target, std::uint64_t targetPictureId,
                                                         std::uint32_t status, std::uint32_t list,
                                                         std::uint32_t listIndex, const PictureIdentityFacts& identity,
                                                         const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverReferenceListEvent>(VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY, stamp);
    event.sliceIdentity = identity.sliceIdentity;
    event.pictureIdentity = identity.pictureIdentity;
    event.targetPictureId = targetPictureId;
    event.list = list;
    event.listIndex = listIndex;
    event.poc = target.poc;
    event.longTerm = flagValue(target.longTerm);
    event.status = status;
    return event;
}

VexiloObserverDpbEntryEvent writeDpbEntryEvent(const DpbPicture& picture, std::uint32_t slot, std::uint32_t status,
                                               const PictureIdentityFacts& identity, const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverDpbEntryEvent>(VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY, stamp);
    event.sliceIdentity = identity.sliceIdentity;
    event.pictureIdentity = identity.pictureIdentity;
    event.pictureId = picture.pictureIdentity;
    event.slot = slot;
    event.poc = static_cast<std::uint32_t>(picture.PicOrderCntVal);
    setBit(event.frameFlags, VEXILO_OBSERVER_DPB_OUTPUT, picture.neededForOutput);
    setBit(event.frameFlags, VEXILO_OBSERVER_DPB_SHORT_TERM_REFERENCE, picture.marking == ReferenceMarking::ShortTerm);
    setBit(event.frameFlags, VEXILO_OBSERVER_DPB_LONG_TERM_REFERENCE, picture.marking == ReferenceMarking::LongTerm);
    // Further flags: bit 3 the picture being decoded, bit 4 a picture generated for a missing reference.
    setBit(event.frameFlags, VEXILO_OBSERVER_DPB_FRAME_FLAG_3, picture.current);
    setBit(event.frameFlags, VEXILO_OBSERVER_DPB_FRAME_FLAG_4, picture.generated);
    event.status = status;
    return event;
}

VexiloObserverReferenceStateEvent writeReferenceStateEvent(const ReferenceStateCounts& counts,
                                                           const PictureIdentityFacts& identity, const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverReferenceStateEvent>(VEXILO_OBSERVER_EVENT_REFERENCE_STATE_MARKER, stamp);
    event.sliceIdentity = identity.sliceIdentity;
    event.pictureIdentity = identity.pictureIdentity;
    event.status = counts.constructed ? kStatusOk : kStatusMalformed;
    event.errorCode = counts.constructed ? 0 : counts.errorCode;
    event.shortTermRpsCount = counts.shortTerm;
    event.longTermRpsCount = counts.longTerm;
    event.refPicListL0Count = counts.listL0;
    event.refPicListL1Count = counts.listL1;
    event.dpbEntryCount = counts.dpbEntries;
    return event;
}

VexiloObserverPictureOutputEvent writePictureOutputEvent(const OutputFacts& facts, const EventStamp& stamp)
{
    auto event = makeEvent<VexiloObserverPictureOutputEvent>(VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT, stamp);
    event.pictureIdentity = facts.pictureIdentity;
    event.decodeIndex = static_cast<std::int64_t>(facts.pictureIdentity) - 1;
    event.poc = facts.poc;
    event.nalUnitType = facts.nalUnitType;
    event.temporalId = facts.temporalId;
    return event;
}

} // namespace vexilo::hevc
