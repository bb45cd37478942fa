#include "vui.h"

namespace vexilo::hevc {

namespace {
constexpr std::uint32_t kMaxCpbCntMinus1 = 31;

SubLayerHrdParameters parseSubLayerHrdParameters(BitReader& reader, std::uint32_t cpb_cnt_minus1,
                                                 bool sub_pic_hrd_params_present_flag)
{
    SubLayerHrdParameters parameters;
    parameters.cpbs.resize(cpb_cnt_minus1 + 1U);
    for (auto& cpb : parameters.cpbs) {
        cpb.bit_rate_value_minus1 = reader.ue();
        cpb.cpb_size_value_minus1 = reader.ue();
        if (sub_pic_hrd_params_present_flag) {
            cpb.cpb_size_du_value_minus1 = reader.ue();
            cpb.bit_rate_du_value_minus1 = reader.ue();
        }
        cpb.cbr_flag = reader.flag();
    }
    return parameters;
}
} // namespace

HrdParameters parseHrdParameters(BitReader& reader, bool commonInfPresentFlag,
                                 std::uint32_t maxNumSubLayersMinus1)
{
    require(maxNumSubLayersMinus1 < kMaxSubLayers, "maxNumSubLayersMinus1 above 6");
    HrdParameters hrd;
    if (commonInfPresentFlag) {
        hrd.nal_hrd_parameters_present_flag = reader.flag();
        hrd.vcl_hrd_parameters_present_flag = reader.flag();
        if (hrd.nal_hrd_parameters_present_flag || hrd.vcl_hrd_parameters_present_flag) {
            hrd.sub_pic_hrd_params_present_flag = reader.flag();
            if (hrd.sub_pic_hrd_params_present_flag) {
                hrd.tick_divisor_minus2 = reader.u(8);
                hrd.du_cpb_removal_delay_increment_length_minus1 = reader.u(5);
                hrd.sub_pic_cpb_params_in_pic_timing_sei_flag = reader.flag();
                hrd.dpb_output_delay_du_length_minus1 = reader.u(5);
            }
            hrd.bit_rate_scale = reader.u(4);
            hrd.cpb_size_scale = reader.u(4);
            if (hrd.sub_pic_hrd_params_present_flag) {
                hrd.cpb_size_du_scale = reader.u(4);
            }
            hrd.initial_cpb_removal_delay_length_minus1 = reader.u(5);
            hrd.au_cpb_removal_delay_length_minus1 = reader.u(5);
            hrd.dpb_output_delay_length_minus1 = reader.u(5);
        }
    }
    for (std::uint32_t i = 0; i <= maxNumSubLayersMinus1; ++i) {
        HrdSubLayer& layer = hrd.subLayers[i];
        layer.fixed_pic_rate_general_flag = reader.flag();
        layer.fixed_pic_rate_within_cvs_flag = layer.fixed_pic_rate_general_flag || reader.flag();
        if (layer.fixed_pic_rate_within_cvs_flag) {
            layer.elemental_duration_in_tc_minus1 = reader.ueMax(2047, "elemental_duration_in_tc_minus1 above 2047");
        } else {
            layer.low_delay_hrd_flag = reader.flag();
        }
        if (!layer.low_delay_hrd_flag) {
            layer.cpb_cnt_minus1 = reader.ueMax(kMaxCpbCntMinus1, "cpb_cnt_minus1 above 31");
        }
        if (hrd.nal_hrd_parameters_present_flag) {
            layer.nal = parseSubLayerHrdParameters(reader, layer.cpb_cnt_minus1, hrd.sub_pic_hrd_params_present_flag);
        }
        if (hrd.vcl_hrd_parameters_present_flag) {
            layer.vcl = parseSubLayerHrdParameters(reader, layer.cpb_cnt_minus1, hrd.sub_pic_hrd_params_present_flag);
        }
    }
    return hrd;
}

VuiParameters parseVuiParameters(BitReader& reader, std::uint32_t sps_max_sub_layers_minus1)
{
    VuiParameters vui;
    vui.aspect_ratio_info_present_flag = reader.flag();
    if (vui.aspect_ratio_info_present_flag) {
        vui.aspect_ratio_idc = reader.u(8);
        if (vui.aspect_ratio_idc == kExtendedSar) {
            vui.sar_width = reader.u(16);
            vui.sar_height = reader.u(16);
        }
    }
    vui.overscan_info_present_flag = reader.flag();
    if (vui.overscan_info_present_flag) {
        vui.overscan_appropriate_flag = reader.flag();
    }
    vui.video_signal_type_present_flag = reader.flag();
    if (vui.video_signal_type_present_flag) {
        vui.video_format = reader.u(3);
        vui.video_full_range_flag = reader.flag();
        vui.colour_description_present_flag = reader.flag();
        if (vui.colour_description_present_flag) {
            vui.colour_primaries = reader.u(8);
            vui.transfer_characteristics = reader.u(8);
            vui.matrix_coeffs = reader.u(8);
        }
    }
    vui.chroma_loc_info_present_flag = reader.flag();
    if (vui.chroma_loc_info_present_flag) {
        vui.chroma_sample_loc_type_top_field = reader.ueMax(5, "chroma_sample_loc_type_top_field above 5");
        vui.chroma_sample_loc_type_bottom_field = reader.ueMax(5, "chroma_sample_loc_type_bottom_field above 5");
    }
    vui.neutral_chroma_indication_flag = reader.flag();
    vui.field_seq_flag = reader.flag();
    vui.frame_field_info_present_flag = reader.flag();
    vui.default_display_window_flag = reader.flag();
    if (vui.default_display_window_flag) {
        vui.defaultDisplayWindow = {reader.ue(), reader.ue(), reader.ue(), reader.ue()};
    }
    vui.vui_timing_info_present_flag = reader.flag();
    if (vui.vui_timing_info_present_flag) {
        vui.vui_num_units_in_tick = reader.u(32);
        vui.vui_time_scale = reader.u(32);
        vui.vui_poc_proportional_to_timing_flag = reader.flag();
        if (vui.vui_poc_proportional_to_timing_flag) {
            vui.vui_num_ticks_poc_diff_one_minus1 = reader.ue();
        }
        vui.vui_hrd_parameters_present_flag = reader.flag();
        if (vui.vui_hrd_parameters_present_flag) {
            vui.hrd = parseHrdParameters(reader, true, sps_max_sub_layers_minus1);
        }
    }
    vui.bitstream_restriction_flag = reader.flag();
    if (vui.bitstream_restriction_flag) {
        vui.tiles_fixed_structure_flag = reader.flag();
        vui.motion_vectors_over_pic_boundaries_flag = reader.flag();
        vui.restricted_ref_pic_lists_flag = reader.flag();
        vui.min_spatial_segmentation_idc = reader.ueMax(4095, "min_spatial_segmentation_idc above 4095");
        vui.max_bytes_per_pic_denom = reader.ueMax(16, "max_bytes_per_pic_denom above 16");
        vui.max_bits_per_min_cu_denom = reader.ueMax(16, "max_bits_per_min_cu_denom above 16");
        vui.log2_max_mv_length_horizontal = reader.ueMax(15, "log2_max_mv_length_horizontal above 15");
        vui.log2_max_mv_length_vertical = reader.ueMax(15, "log2_max_mv_length_vertical above 15");
    }
    return vui;
}

} // namespace vexilo::hevc
