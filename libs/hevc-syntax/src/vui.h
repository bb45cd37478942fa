// hrd_parameters() (E.2.2), sub_layer_hrd_parameters() (E.2.3) and vui_parameters() (E.2.1).
#pragma once

#include "bit_reader.h"
#include "profile_tier_level.h"

#include <array>
#include <cstdint>
#include <vector>

namespace vexilo::hevc {

struct SubLayerHrdParameters {
    struct Cpb {
        std::uint32_t bit_rate_value_minus1 = 0;
        std::uint32_t cpb_size_value_minus1 = 0;
        std::uint32_t cpb_size_du_value_minus1 = 0;
        std::uint32_t bit_rate_du_value_minus1 = 0;
        bool cbr_flag = false;
    };
    std::vector<Cpb> cpbs;
};

struct HrdSubLayer {
    bool fixed_pic_rate_general_flag = false;
    bool fixed_pic_rate_within_cvs_flag = false;
    std::uint32_t elemental_duration_in_tc_minus1 = 0;
    bool low_delay_hrd_flag = false;
    std::uint32_t cpb_cnt_minus1 = 0;
    SubLayerHrdParameters nal;
    SubLayerHrdParameters vcl;
};

struct HrdParameters {
    bool nal_hrd_parameters_present_flag = false;
    bool vcl_hrd_parameters_present_flag = false;
    bool sub_pic_hrd_params_present_flag = false;
    std::uint32_t tick_divisor_minus2 = 0;
    std::uint32_t du_cpb_removal_delay_increment_length_minus1 = 0;
    bool sub_pic_cpb_params_in_pic_timing_sei_flag = false;
    std::uint32_t dpb_output_delay_du_length_minus1 = 0;
    std::uint32_t bit_rate_scale = 0;
    std::uint32_t cpb_size_scale = 0;
    std::uint32_t cpb_size_du_scale = 0;
    std::uint32_t initial_cpb_removal_delay_length_minus1 = 23;
    std::uint32_t au_cpb_removal_delay_length_minus1 = 23;
    std::uint32_t dpb_output_delay_length_minus1 = 23;
    std::array<HrdSubLayer, kMaxSubLayers> subLayers{};
};

HrdParameters parseHrdParameters(BitReader& reader, bool commonInfPresentFlag,
                                 std::uint32_t maxNumSubLayersMinus1);

struct Window {
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    std::uint32_t top = 0;
    std::uint32_t bottom = 0;
};

struct VuiParameters {
    bool aspect_ratio_info_present_flag = false;
    std::uint32_t aspect_ratio_idc = 0;
    std::uint32_t sar_width = 0;
    std::uint32_t sar_height = 0;
    bool overscan_info_present_flag = false;
    bool overscan_appropriate_flag = false;
    bool video_signal_type_present_flag = false;
    std::uint32_t video_format = 5;
    bool video_full_range_flag = false;
    bool colour_description_present_flag = false;
    std::uint32_t colour_primaries = 2;
    std::uint32_t transfer_characteristics = 2;
    std::uint32_t matrix_coeffs = 2;
    bool chroma_loc_info_present_flag = false;
    std::uint32_t chroma_sample_loc_type_top_field = 0;
    std::uint32_t chroma_sample_loc_type_bottom_field = 0;
    bool neutral_chroma_indication_flag = false;
    bool field_seq_flag = false;
    bool frame_field_info_present_flag = false;
    bool default_display_window_flag = false;
    Window defaultDisplayWindow;
    bool vui_timing_info_present_flag = false;
    std::uint32_t vui_num_units_in_tick = 0;
    std::uint32_t vui_time_scale = 0;
    bool vui_poc_proportional_to_timing_flag = false;
    std::uint32_t vui_num_ticks_poc_diff_one_minus1 = 0;
    bool vui_hrd_parameters_present_flag = false;
    HrdParameters hrd;
    bool bitstream_restriction_flag = false;
    bool tiles_fixed_structure_flag = false;
    bool motion_vectors_over_pic_boundaries_flag = true;
    bool restricted_ref_pic_lists_flag = false;
    std::uint32_t min_spatial_segmentation_idc = 0;
    std::uint32_t max_bytes_per_pic_denom = 2;
    std::uint32_t max_bits_per_min_cu_denom = 1;
    std::uint32_t log2_max_mv_length_horizontal = 15;
    std::uint32_t log2_max_mv_length_vertical = 15;
};

constexpr std::uint32_t kExtendedSar = 255;

VuiParameters parseVuiParameters(BitReader& reader, std::uint32_t sps_max_sub_layers_minus1);

} // namespace vexilo::hevc
