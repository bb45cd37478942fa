#include "parameter_sets.h"

#include <algorithm>

namespace vexilo::hevc {

namespace {
constexpr std::uint32_t kMaxChromaFormatIdc = 3;
constexpr std::uint32_t kMaxBitDepthMinus8 = 8;
constexpr std::uint32_t kMaxLog2MaxPocLsbMinus4 = 12;
constexpr std::uint32_t kMaxDecPicBufferingMinus1 = 15;
constexpr std::uint32_t kMinCtbLog2SizeY = 4;
constexpr std::uint32_t kMaxCtbLog2SizeY = 6;
constexpr std::uint32_t kMaxPictureDimension = 16888; // level 6.2 limit, keeps products in range

void parseSubLayerOrdering(BitReader& reader, Sps& sps)
{
    sps.sps_sub_layer_ordering_info_present_flag = reader.flag();
    const std::uint32_t first = sps.sps_sub_layer_ordering_info_present_flag ? 0 : sps.sps_max_sub_layers_minus1;
    for (std::uint32_t i = first; i <= sps.sps_max_sub_layers_minus1; ++i) {
        SubLayerOrdering& ordering = sps.subLayerOrdering[i];
        ordering.max_dec_pic_buffering_minus1 =
            reader.ueMax(kMaxDecPicBufferingMinus1, "sps_max_dec_pic_buffering_minus1 above 15");
        const std::uint64_t reorderPosition = reader.position();
        ordering.max_num_reorder_pics =
            reader.ueMax(kMaxDecPicBufferingMinus1, "sps_max_num_reorder_pics above the largest DPB");
        if (ordering.max_num_reorder_pics > ordering.max_dec_pic_buffering_minus1) {
            // Streams in the wild signal this; decoders grow the DPB to fit and go on.
            sps.warnings.push_back({"sps_max_num_reorder_pics", reorderPosition,
                                    "sps_max_num_reorder_pics above sps_max_dec_pic_buffering_minus1; "
                                    "the DPB grows to hold the reordered pictures"});
            ordering.max_dec_pic_buffering_minus1 = ordering.max_num_reorder_pics;
        }
        ordering.max_latency_increase_plus1 = reader.ue();
        ordering.signaled = true;
    }
    for (std::uint32_t i = 0; i < first; ++i) {
        sps.subLayerOrdering[i] = sps.subLayerOrdering[first];
        sps.subLayerOrdering[i].signaled = false;
    }
}

void parseCodingBlockSizes(BitReader& reader, Sps& sps)
{
    sps.log2_min_luma_coding_block_size_minus3 = reader.ueMax(3, "log2_min_luma_coding_block_size_minus3 above 3");
    sps.log2_diff_max_min_luma_coding_block_size = reader.ueMax(3, "log2_diff_max_min_luma_coding_block_size above 3");
    sps.log2_min_luma_transform_block_size_minus2 = reader.ueMax(3, "log2_min_luma_transform_block_size_minus2 above 3");
    sps.log2_diff_max_min_luma_transform_block_size = reader.ueMax(3, "log2_diff_max_min_luma_transform_block_size above 3");
    sps.MinCbLog2SizeY = sps.log2_min_luma_coding_block_size_minus3 + 3U;
    sps.CtbLog2SizeY = sps.MinCbLog2SizeY + sps.log2_diff_max_min_luma_coding_block_size;
    require(sps.CtbLog2SizeY >= kMinCtbLog2SizeY && sps.CtbLog2SizeY <= kMaxCtbLog2SizeY, "CtbLog2SizeY outside 4..6");
    sps.MinTbLog2SizeY = sps.log2_min_luma_transform_block_size_minus2 + 2U;
    sps.MaxTbLog2SizeY = sps.MinTbLog2SizeY + sps.log2_diff_max_min_luma_transform_block_size;
    require(sps.MinTbLog2SizeY < sps.MinCbLog2SizeY, "MinTbLog2SizeY not below MinCbLog2SizeY");
    require(sps.MaxTbLog2SizeY <= std::min(sps.CtbLog2SizeY, 5U), "MaxTbLog2SizeY above Min(CtbLog2SizeY, 5)");
    const std::uint32_t maxDepth = sps.CtbLog2SizeY - sps.MinTbLog2SizeY;
    sps.max_transform_hierarchy_depth_inter = reader.ueMax(maxDepth, "max_transform_hierarchy_depth_inter out of range");
    sps.max_transform_hierarchy_depth_intra = reader.ueMax(maxDepth, "max_transform_hierarchy_depth_intra out of range");
}

void parsePcm(BitReader& reader, Sps& sps)
{
    sps.pcm_enabled_flag = reader.flag();
    if (!sps.pcm_enabled_flag) {
        return;
    }
    sps.pcm_sample_bit_depth_luma_minus1 = reader.u(4);
    sps.pcm_sample_bit_depth_chroma_minus1 = reader.u(4);
    sps.log2_min_pcm_luma_coding_block_size_minus3 = reader.ueMax(2, "log2_min_pcm_luma_coding_block_size_minus3 above 2");
    sps.log2_diff_max_min_pcm_luma_coding_block_size = reader.ueMax(2, "log2_diff_max_min_pcm_luma_coding_block_size above 2");
    sps.pcm_loop_filter_disabled_flag = reader.flag();
    sps.PcmBitDepthY = sps.pcm_sample_bit_depth_luma_minus1 + 1U;
    sps.PcmBitDepthC = sps.pcm_sample_bit_depth_chroma_minus1 + 1U;
    require(sps.PcmBitDepthY <= sps.BitDepthY && sps.PcmBitDepthC <= sps.BitDepthC, "PCM bit depth above the bit depth");
    sps.Log2MinIpcmCbSizeY = sps.log2_min_pcm_luma_coding_block_size_minus3 + 3U;
    sps.Log2MaxIpcmCbSizeY = sps.Log2MinIpcmCbSizeY + sps.log2_diff_max_min_pcm_luma_coding_block_size;
    require(sps.Log2MaxIpcmCbSizeY <= std::min(sps.CtbLog2SizeY, 5U), "Log2MaxIpcmCbSizeY out of range");
}

void parseLongTermRefPics(BitReader& reader, Sps& sps)
{
    sps.long_term_ref_pics_present_flag = reader.flag();
    if (!sps.long_term_ref_pics_present_flag) {
        return;
    }
    sps.num_long_term_ref_pics_sps = reader.ueMax(kMaxLongTermRefPicsSps, "num_long_term_ref_pics_sps above 32");
    const unsigned lsbBits = sps.log2_max_pic_order_cnt_lsb_minus4 + 4U;
    for (std::uint32_t i = 0; i < sps.num_long_term_ref_pics_sps; ++i) {
        sps.lt_ref_pic_poc_lsb_sps[i] = reader.u(lsbBits);
        sps.used_by_curr_pic_lt_sps_flag[i] = reader.flag();
    }
}

void parseSpsRangeExtension(BitReader& reader, SpsRangeExtension& range)
{
    range.transform_skip_rotation_enabled_flag = reader.flag();
    range.transform_skip_context_enabled_flag = reader.flag();
    range.implicit_rdpcm_enabled_flag = reader.flag();
    range.explicit_rdpcm_enabled_flag = reader.flag();
    range.extended_precision_processing_flag = reader.flag();
    range.intra_smoothing_disabled_flag = reader.flag();
    range.high_precision_offsets_enabled_flag = reader.flag();
    range.persistent_rice_adaptation_enabled_flag = reader.flag();
    range.cabac_bypass_alignment_enabled_flag = reader.flag();
}

// sps_3d_extension() (I.7.3.2.2.5); read only to reach the SCC extension behind it.
void skipSps3dExtension(BitReader& reader)
{
    for (int d = 0; d <= 1; ++d) {
        reader.flag(); // iv_di_mc_enabled_flag
        reader.flag(); // iv_mv_scal_enabled_flag
        if (d == 0) {
            reader.ue();   // log2_ivmc_sub_pb_size_minus3
            reader.flag(); // iv_res_pred_enabled_flag
            reader.flag(); // depth_ref_enabled_flag
            reader.flag(); // vsp_mc_enabled_flag
            reader.flag(); // dbbp_enabled_flag
        } else {
            reader.flag(); // tex_mc_enabled_flag
            reader.ue();   // log2_texmc_sub_pb_size_minus3
            reader.flag(); // intra_contour_enabled_flag
            reader.flag(); // intra_dc_only_wedge_enabled_flag
            reader.flag(); // cqt_cu_part_pred_enabled_flag
            reader.flag(); // inter_dc_only_enabled_flag
            reader.flag(); // skip_intra_enabled_flag
        }
    }
}

void parseSpsSccExtension(BitReader& reader, Sps& sps)
{
    SpsSccExtension& scc = sps.scc;
    scc.sps_curr_pic_ref_enabled_flag = reader.flag();
    scc.palette_mode_enabled_flag = reader.flag();
    if (scc.palette_mode_enabled_flag) {
        scc.palette_max_size = reader.ueMax(64, "palette_max_size above 64");
        scc.delta_palette_max_predictor_size = reader.ueMax(128, "delta_palette_max_predictor_size above 128");
        scc.sps_palette_predictor_initializers_present_flag = reader.flag();
        if (scc.sps_palette_predictor_initializers_present_flag) {
            const std::uint32_t count = reader.ueMax(127, "sps_num_palette_predictor_initializers_minus1 above 127") + 1U;
            const std::uint32_t components = sps.chroma_format_idc == 0 ? 1U : 3U;
            for (std::uint32_t comp = 0; comp < components; ++comp) {
                reader.skipBits(static_cast<std::uint64_t>(count) * (comp == 0 ? sps.BitDepthY : sps.BitDepthC));
            }
        }
    }
    scc.motion_vector_resolution_control_idc = reader.u(2);
    scc.intra_boundary_filtering_disabled_flag = reader.flag();
}

void deriveSpsVariables(Sps& sps)
{
    sps.ChromaArrayType = sps.separate_colour_plane_flag ? 0 : sps.chroma_format_idc;
    sps.SubWidthC = (sps.chroma_format_idc == 1 || sps.chroma_format_idc == 2) ? 2 : 1;
    sps.SubHeightC = sps.chroma_format_idc == 1 ? 2 : 1;
    sps.MinCbSizeY = 1U << sps.MinCbLog2SizeY;
    sps.CtbSizeY = 1U << sps.CtbLog2SizeY;
    sps.PicWidthInMinCbsY = sps.pic_width_in_luma_samples / sps.MinCbSizeY;
    sps.PicHeightInMinCbsY = sps.pic_height_in_luma_samples / sps.MinCbSizeY;
    sps.PicWidthInCtbsY = (sps.pic_width_in_luma_samples + sps.CtbSizeY - 1U) / sps.CtbSizeY;
    sps.PicHeightInCtbsY = (sps.pic_height_in_luma_samples + sps.CtbSizeY - 1U) / sps.CtbSizeY;
    sps.PicSizeInCtbsY = sps.PicWidthInCtbsY * sps.PicHeightInCtbsY;
    const bool highPrecision = sps.range.high_precision_offsets_enabled_flag;
    sps.WpOffsetBdShiftY = highPrecision ? 0 : sps.BitDepthY - 8U;
    sps.WpOffsetBdShiftC = highPrecision ? 0 : sps.BitDepthC - 8U;
    sps.WpOffsetHalfRangeY = 1U << (highPrecision ? sps.BitDepthY - 1U : 7U);
    sps.WpOffsetHalfRangeC = 1U << (highPrecision ? sps.BitDepthC - 1U : 7U);
}

void checkConformanceWindow(const Sps& sps)
{
    const Window& w = sps.conformanceWindow;
    const std::uint64_t horizontal = (static_cast<std::uint64_t>(w.left) + w.right) * sps.SubWidthC;
    const std::uint64_t vertical = (static_cast<std::uint64_t>(w.top) + w.bottom) * sps.SubHeightC;
    require(horizontal < sps.pic_width_in_luma_samples && vertical < sps.pic_height_in_luma_samples,
            "conformance window leaves no picture");
}

Sps parseSpsSyntax(BitReader& reader)
{
    Sps sps;
    sps.sps_video_parameter_set_id = reader.u(4);
    sps.sps_max_sub_layers_minus1 = reader.u(3);
    require(sps.sps_max_sub_layers_minus1 < kMaxSubLayers, "sps_max_sub_layers_minus1 above 6");
    sps.sps_temporal_id_nesting_flag = reader.flag();
    sps.profileTierLevel = parseProfileTierLevel(reader, true, sps.sps_max_sub_layers_minus1);
    sps.sps_seq_parameter_set_id = reader.ueMax(kMaxSpsCount - 1U, "sps_seq_parameter_set_id above 15");
    sps.chroma_format_idc = reader.ueMax(kMaxChromaFormatIdc, "chroma_format_idc above 3");
    if (sps.chroma_format_idc == 3) {
        sps.separate_colour_plane_flag = reader.flag();
    }
    sps.pic_width_in_luma_samples = reader.ueMax(kMaxPictureDimension, "pic_width_in_luma_samples too large");
    sps.pic_height_in_luma_samples = reader.ueMax(kMaxPictureDimension, "pic_height_in_luma_samples too large");
    require(sps.pic_width_in_luma_samples > 0 && sps.pic_height_in_luma_samples > 0, "picture size is 0");
    sps.conformance_window_flag = reader.flag();
    if (sps.conformance_window_flag) {
        sps.conformanceWindow = {reader.ue(), reader.ue(), reader.ue(), reader.ue()};
    }
    sps.bit_depth_luma_minus8 = reader.ueMax(kMaxBitDepthMinus8, "bit_depth_luma_minus8 above 8");
    sps.bit_depth_chroma_minus8 = reader.ueMax(kMaxBitDepthMinus8, "bit_depth_chroma_minus8 above 8");
    sps.BitDepthY = 8U + sps.bit_depth_luma_minus8;
    sps.BitDepthC = 8U + sps.bit_depth_chroma_minus8;
    sps.QpBdOffsetY = 6U * sps.bit_depth_luma_minus8;
    sps.QpBdOffsetC = 6U * sps.bit_depth_chroma_minus8;
    sps.log2_max_pic_order_cnt_lsb_minus4 = reader.ueMax(kMaxLog2MaxPocLsbMinus4, "log2_max_pic_order_cnt_lsb_minus4 above 12");
    sps.MaxPicOrderCntLsb = 1U << (sps.log2_max_pic_order_cnt_lsb_minus4 + 4U);
    parseSubLayerOrdering(reader, sps);
    parseCodingBlockSizes(reader, sps);
    require(sps.pic_width_in_luma_samples % (1U << sps.MinCbLog2SizeY) == 0 &&
                sps.pic_height_in_luma_samples % (1U << sps.MinCbLog2SizeY) == 0,
            "picture size is not a multiple of MinCbSizeY");
    sps.scaling_list_enabled_flag = reader.flag();
    sps.scalingList = defaultScalingList();
    if (sps.scaling_list_enabled_flag) {
        sps.sps_scaling_list_data_present_flag = reader.flag();
        if (sps.sps_scaling_list_data_present_flag) {
            sps.scalingList = parseScalingListData(reader, sps.separate_colour_plane_flag ? 0 : sps.chroma_format_idc);
        }
    }
    sps.amp_enabled_flag = reader.flag();
    sps.sample_adaptive_offset_enabled_flag = reader.flag();
    parsePcm(reader, sps);
    sps.num_short_term_ref_pic_sets = reader.ueMax(kMaxShortTermRefPicSets, "num_short_term_ref_pic_sets above 64");
    for (std::uint32_t i = 0; i < sps.num_short_term_ref_pic_sets; ++i) {
        sps.shortTermRefPicSets.push_back(
            parseStRefPicSet(reader, i, sps.shortTermRefPicSets, sps.num_short_term_ref_pic_sets));
    }
    parseLongTermRefPics(reader, sps);
    sps.sps_temporal_mvp_enabled_flag = reader.flag();
    sps.strong_intra_smoothing_enabled_flag = reader.flag();
    sps.vui_parameters_present_flag = reader.flag();
    if (sps.vui_parameters_present_flag) {
        sps.vui = parseVuiParameters(reader, sps.sps_max_sub_layers_minus1);
    }
    sps.sps_extension_present_flag = reader.flag();
    if (sps.sps_extension_present_flag) {
        sps.sps_range_extension_flag = reader.flag();
        sps.sps_multilayer_extension_flag = reader.flag();
        sps.sps_3d_extension_flag = reader.flag();
        sps.sps_scc_extension_flag = reader.flag();
        sps.sps_extension_4bits = reader.u(4);
    }
    if (sps.sps_range_extension_flag) {
        parseSpsRangeExtension(reader, sps.range);
    }
    if (sps.sps_multilayer_extension_flag) {
        sps.inter_view_mv_vert_constraint_flag = reader.flag();
    }
    if (sps.sps_3d_extension_flag) {
        skipSps3dExtension(reader);
    }
    if (sps.sps_scc_extension_flag) {
        parseSpsSccExtension(reader, sps);
    }
    deriveSpsVariables(sps);
    checkConformanceWindow(sps);
    return sps;
}
} // namespace

ParseResult<Sps> parseSps(std::span<const std::uint8_t> rbsp)
{
    return parseRbsp<Sps>(rbsp, [](BitReader& reader) { return parseSpsSyntax(reader); });
}

} // namespace vexilo::hevc
