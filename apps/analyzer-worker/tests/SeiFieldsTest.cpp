#include "ObserverEventBytes.h"
#include "builder/SeiPayloadFields.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace vexilo::analyzer {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Expected = std::vector<std::pair<std::string, std::int64_t>>;

// Packs a bit string ("1011 0...") into bytes, padding the last byte with zeros.
Bytes bits(const std::string& text)
{
    Bytes bytes;
    int count = 0;
    for (const char c : text) {
        if (c != '0' && c != '1') {
            continue;
        }
        if (count % 8 == 0) {
            bytes.push_back(0);
        }
        if (c == '1') {
            bytes.back() = static_cast<std::uint8_t>(bytes.back() | (0x80u >> (count % 8)));
        }
        ++count;
    }
    return bytes;
}

Bytes sequence(std::size_t size, std::uint8_t first = 0)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

struct SeiCase {
    const char* name;
    std::uint32_t payloadType;
    Bytes payload;
    Expected expected;
};

class SeiPayloadDecoding : public ::testing::TestWithParam<SeiCase> {};

TEST_P(SeiPayloadDecoding, GivesTheNamedFields)
{
    const SeiCase& c = GetParam();
    std::vector<analysis::SyntaxElementInfo> entries;
    bool overflow = false;
    appendSeiPayloadFields(c.payloadType, c.payload, entries, overflow);
    EXPECT_FALSE(overflow);
    Expected actual;
    for (const analysis::SyntaxElementInfo& entry : entries) {
        actual.emplace_back(entry.name, entry.value);
    }
    EXPECT_EQ(actual, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    EveryPayloadType, SeiPayloadDecoding,
    ::testing::Values(
        SeiCase{"buffering period", 0, {0xFF, 0xFF}, {}},
        SeiCase{"pic timing", 1, {0xFF}, {}},
        SeiCase{"unlisted type", 100, {0xFF}, {}},
        SeiCase{"beyond 176", 177, {0xFF}, {}},
        SeiCase{"t35 empty", 4, {}, {}},
        SeiCase{"t35 extended country", 4, {0xFF, 0x01},
                {{"itu_t_t35_country_code", 255}, {"itu_t_t35_country_code_extension_byte", 1}}},
        SeiCase{"t35 bytes", 4, {0xB5, 0x00, 0x31},
                {{"itu_t_t35_country_code", 181}, {"itu_t_t35_payload_byte[0]", 0}, {"itu_t_t35_payload_byte[1]", 49}}},
        SeiCase{"unregistered 15 bytes", 5, sequence(15), {}},
        SeiCase{"recovery point", 6, bits("00101 1 0"),
                {{"recovery_poc_cnt", -2}, {"exact_match_flag", 1}, {"broken_link_flag", 0}}},
        SeiCase{"recovery point codeNum 0", 6, bits("1 0 1"),
                {{"recovery_poc_cnt", 0}, {"exact_match_flag", 0}, {"broken_link_flag", 1}}},
        SeiCase{"recovery point codeNum 1", 6, bits("010"),
                {{"recovery_poc_cnt", 1}, {"exact_match_flag", 0}, {"broken_link_flag", 0}}},
        SeiCase{"recovery point codeNum 2", 6, bits("011"),
                {{"recovery_poc_cnt", -1}, {"exact_match_flag", 0}, {"broken_link_flag", 0}}},
        SeiCase{"recovery point codeNum 3", 6, bits("00100"),
                {{"recovery_poc_cnt", 2}, {"exact_match_flag", 0}, {"broken_link_flag", 0}}},
        SeiCase{"film grain cancelled", 19, bits("1"), {{"film_grain_characteristics_cancel_flag", 1}}},
        SeiCase{"film grain one model", 19,
                bits("0 01 0 00 0001 100 00000000 001 00000001 00000010 1 010 1"),
                {{"film_grain_characteristics_cancel_flag", 0}, {"film_grain_model_id", 1},
                 {"separate_colour_description_present_flag", 0}, {"blending_mode_id", 0}, {"log2_scale_factor", 1},
                 {"comp_model_present_flag[0]", 1}, {"comp_model_present_flag[1]", 0},
                 {"comp_model_present_flag[2]", 0}, {"num_intensity_intervals_minus1[0]", 0},
                 {"num_model_values_minus1[0]", 1}, {"intensity_interval_lower_bound[0][0]", 1},
                 {"intensity_interval_upper_bound[0][0]", 2}, {"comp_model_value[0][0][0]", 0},
                 {"comp_model_value[0][0][1]", 1}, {"film_grain_characteristics_persistence_flag", 1}}},
        // Each modelled component's counts are followed at once by its intervals and model values.
        SeiCase{"film grain two models", 19,
                bits("0 00 0 00 0011 1 0 1"
                     " 00000001 000 00010000 00111111 00100 01000000 11111111 011"
                     " 00000000 010 00000000 11111111 1 00110 00101"
                     " 1"),
                {{"film_grain_characteristics_cancel_flag", 0}, {"film_grain_model_id", 0},
                 {"separate_colour_description_present_flag", 0}, {"blending_mode_id", 0}, {"log2_scale_factor", 3},
                 {"comp_model_present_flag[0]", 1}, {"comp_model_present_flag[1]", 0},
                 {"comp_model_present_flag[2]", 1}, {"num_intensity_intervals_minus1[0]", 1},
                 {"num_model_values_minus1[0]", 0}, {"intensity_interval_lower_bound[0][0]", 16},
                 {"intensity_interval_upper_bound[0][0]", 63}, {"comp_model_value[0][0][0]", 2},
                 {"intensity_interval_lower_bound[0][1]", 64}, {"intensity_interval_upper_bound[0][1]", 255},
                 {"comp_model_value[0][1][0]", -1}, {"num_intensity_intervals_minus1[2]", 0},
                 {"num_model_values_minus1[2]", 2}, {"intensity_interval_lower_bound[2][0]", 0},
                 {"intensity_interval_upper_bound[2][0]", 255}, {"comp_model_value[2][0][0]", 0},
                 {"comp_model_value[2][0][1]", 3}, {"comp_model_value[2][0][2]", -2},
                 {"film_grain_characteristics_persistence_flag", 1}}},
        SeiCase{"film grain three models with a colour description", 19,
                bits("0 01 1 010 010 1 00001001 00010000 00001001 01 0101 1 1 1"
                     " 00000000 001 00000000 11111111 0001010 00111"
                     " 00000000 000 00000000 10000000 010"
                     " 00000000 000 10000001 11111111 0001001"
                     " 0"),
                {{"film_grain_characteristics_cancel_flag", 0}, {"film_grain_model_id", 1},
                 {"separate_colour_description_present_flag", 1}, {"film_grain_bit_depth_luma_minus8", 2},
                 {"film_grain_bit_depth_chroma_minus8", 2}, {"film_grain_full_range_flag", 1},
                 {"film_grain_colour_primaries", 9}, {"film_grain_transfer_characteristics", 16},
                 {"film_grain_matrix_coeffs", 9}, {"blending_mode_id", 1}, {"log2_scale_factor", 5},
                 {"comp_model_present_flag[0]", 1}, {"comp_model_present_flag[1]", 1},
                 {"comp_model_present_flag[2]", 1}, {"num_intensity_intervals_minus1[0]", 0},
                 {"num_model_values_minus1[0]", 1}, {"intensity_interval_lower_bound[0][0]", 0},
                 {"intensity_interval_upper_bound[0][0]", 255}, {"comp_model_value[0][0][0]", 5},
                 {"comp_model_value[0][0][1]", -3}, {"num_intensity_intervals_minus1[1]", 0},
                 {"num_model_values_minus1[1]", 0}, {"intensity_interval_lower_bound[1][0]", 0},
                 {"intensity_interval_upper_bound[1][0]", 128}, {"comp_model_value[1][0][0]", 1},
                 {"num_intensity_intervals_minus1[2]", 0}, {"num_model_values_minus1[2]", 0},
                 {"intensity_interval_lower_bound[2][0]", 129}, {"intensity_interval_upper_bound[2][0]", 255},
                 {"comp_model_value[2][0][0]", -4}, {"film_grain_characteristics_persistence_flag", 0}}},
        SeiCase{"frame packing cancelled", 45, bits("1 1 1"),
                {{"frame_packing_arrangement_id", 0}, {"frame_packing_arrangement_cancel_flag", 1},
                 {"upsampled_aspect_ratio_flag", 1}}},
        SeiCase{"frame packing without cancel flag", 45, bits("0000000"), {}},
        SeiCase{"frame packing type 5", 45, bits("1 0 0000101 0 000001 0 0 0 1 0 0 00000000 1 0"),
                {{"frame_packing_arrangement_id", 0}, {"frame_packing_arrangement_cancel_flag", 0},
                 {"frame_packing_arrangement_type", 5}, {"quincunx_sampling_flag", 0},
                 {"content_interpretation_type", 1}, {"spatial_flipping_flag", 0}, {"frame0_flipped_flag", 0},
                 {"field_views_flag", 0}, {"current_frame_is_frame0_flag", 1}, {"frame0_self_contained_flag", 0},
                 {"frame1_self_contained_flag", 0}, {"frame_packing_arrangement_reserved_byte", 0},
                 {"frame_packing_arrangement_persistence_flag", 1}, {"upsampled_aspect_ratio_flag", 0}}},
        SeiCase{"display orientation cancelled", 47, {0x80}, {{"display_orientation_cancel_flag", 1}}},
        SeiCase{"display orientation", 47, bits("0 1 0 0000000000000011 1"),
                {{"display_orientation_cancel_flag", 0}, {"hor_flip", 1}, {"ver_flip", 0},
                 {"anticlockwise_rotation", 3}, {"display_orientation_persistence_flag", 1}}},
        SeiCase{"display orientation truncated", 47, bits("0 1 0 00000"),
                {{"display_orientation_cancel_flag", 0}, {"hor_flip", 1}, {"ver_flip", 0},
                 {"display_orientation_persistence_flag", 0}}},
        SeiCase{"active parameter sets", 129, bits("0001 1 0 010 1 011"),
                {{"active_video_parameter_set_id", 1}, {"self_contained_cvs_flag", 1},
                 {"no_parameter_set_update_flag", 0}, {"num_sps_ids_minus1", 1},
                 {"active_seq_parameter_set_id[0]", 0}, {"active_seq_parameter_set_id[1]", 2}}},
        SeiCase{"picture md5", 132, [] { Bytes b = sequence(33); b[0] = 0; return b; }(),
                [] {
                    Expected e{{"hash_type", 0}};
                    for (int i = 0; i < 16; ++i) {
                        e.emplace_back("picture_md5[0][" + std::to_string(i) + "]", 1 + i);
                    }
                    for (int i = 0; i < 16; ++i) {
                        e.emplace_back("picture_md5[1][" + std::to_string(i) + "]", 17 + i);
                    }
                    return e;
                }()},
        SeiCase{"picture crc with 4 bytes", 132, {1, 0x12, 0x34, 0x56, 0x78},
                {{"hash_type", 1}, {"picture_crc[0]", 0x1234}, {"picture_crc[1]", 0x5678}}},
        SeiCase{"picture checksum", 132, {2, 0, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 9},
                {{"hash_type", 2}, {"picture_checksum[0]", 256}, {"picture_checksum[1]", 0xFFFFFFFF}}},
        SeiCase{"unknown hash", 132, {7, 1, 2}, {{"hash_type", 7}}},
        SeiCase{"empty hash", 132, {}, {}},
        SeiCase{"time code none", 136, bits("00"), {{"num_clock_ts", 0}}},
        SeiCase{"time code full", 136,
                bits("01 1 0 00001 1 0 0 000000010 000011 000010 00001 00101 11111"),
                {{"num_clock_ts", 1}, {"clock_timestamp_flag[0]", 1}, {"units_field_based_flag[0]", 0},
                 {"counting_type[0]", 1}, {"full_timestamp_flag[0]", 1}, {"discontinuity_flag[0]", 0},
                 {"cnt_dropped_flag[0]", 0}, {"n_frames[0]", 2}, {"seconds_value[0]", 3},
                 {"minutes_value[0]", 2}, {"hours_value[0]", 1}, {"time_offset_length[0]", 5},
                 {"time_offset_value[0]", -1}}},
        SeiCase{"time code partial", 136,
                bits("10 0 1 0 00000 0 0 0 000000000 1 000100 0 00000 1"),
                {{"num_clock_ts", 2}, {"clock_timestamp_flag[0]", 0}, {"clock_timestamp_flag[1]", 1},
                 {"units_field_based_flag[1]", 0}, {"counting_type[1]", 0}, {"full_timestamp_flag[1]", 0},
                 {"discontinuity_flag[1]", 0}, {"cnt_dropped_flag[1]", 0}, {"n_frames[1]", 0},
                 {"seconds_flag[1]", 1}, {"seconds_value[1]", 4}, {"minutes_flag[1]", 0},
                 {"time_offset_length[1]", 0}}},
        SeiCase{"mastering display 13 bytes", 137, sequence(13),
                {{"display_primaries_x[0]", 0x0001}, {"display_primaries_y[0]", 0x0203},
                 {"display_primaries_x[1]", 0x0405}, {"display_primaries_y[1]", 0x0607},
                 {"display_primaries_x[2]", 0x0809}, {"display_primaries_y[2]", 0x0A0B}}},
        SeiCase{"mastering display whole", 137, sequence(24),
                {{"display_primaries_x[0]", 0x0001}, {"display_primaries_y[0]", 0x0203},
                 {"display_primaries_x[1]", 0x0405}, {"display_primaries_y[1]", 0x0607},
                 {"display_primaries_x[2]", 0x0809}, {"display_primaries_y[2]", 0x0A0B},
                 {"white_point_x", 0x0C0D}, {"white_point_y", 0x0E0F},
                 {"max_display_mastering_luminance", 0x10111213}, {"min_display_mastering_luminance", 0x14151617}}},
        SeiCase{"content light level 3 bytes", 144, {0x03, 0xE8, 0x01}, {{"max_content_light_level", 1000}}},
        SeiCase{"content light level", 144, {0x03, 0xE8, 0x01, 0x90},
                {{"max_content_light_level", 1000}, {"max_pic_average_light_level", 400}}},
        SeiCase{"alternative transfer", 147, {16}, {{"preferred_transfer_characteristics", 16}}},
        SeiCase{"alternative transfer empty", 147, {}, {}},
        SeiCase{"ambient viewing 7 bytes", 148, sequence(7, 1),
                {{"ambient_illuminance", 0x01020304}, {"ambient_light_x", 0x0506}}},
        SeiCase{"3d displays", 176, bits("1 0 1 1 1 000010 0 1"),
                {{"prec_ref_display_width", 0}, {"ref_viewing_distance_flag", 0}, {"num_ref_displays_minus1", 0},
                 {"left_view_id[0]", 0}, {"right_view_id[0]", 0}, {"exponent_ref_display_width[0]", 2},
                 {"mantissa_ref_display_width[0]", 0}, {"additional_shift_present_flag[0]", 0},
                 {"three_dimensional_reference_displays_extension_flag", 1}}},
        SeiCase{"3d displays loop cut short", 176, bits("1 0 1 1 1"),
                {{"prec_ref_display_width", 0}, {"ref_viewing_distance_flag", 0}, {"num_ref_displays_minus1", 0},
                 {"three_dimensional_reference_displays_extension_flag", 0}}},
        // A mantissa wider than one 32-bit read: 40 + 31 - 31 bits.
        SeiCase{"3d displays 40 bit mantissa", 176,
                bits("00000100000 0 1 1 1 101000 1" + std::string(38, '0') + "1 0 1"),
                {{"prec_ref_display_width", 31}, {"ref_viewing_distance_flag", 0}, {"num_ref_displays_minus1", 0},
                 {"left_view_id[0]", 0}, {"right_view_id[0]", 0}, {"exponent_ref_display_width[0]", 40},
                 {"mantissa_ref_display_width[0]", (std::int64_t{1} << 39) + 1},
                 {"additional_shift_present_flag[0]", 0},
                 {"three_dimensional_reference_displays_extension_flag", 1}}},
        // 63 + 40 - 31 bits cannot be one value: the display ends there, without taking any bits.
        SeiCase{"3d displays mantissa above 64 bits", 176,
                bits("00000101001 0 1 1 1 111111 1" + std::string(80, '0')),
                {{"prec_ref_display_width", 40}, {"ref_viewing_distance_flag", 0}, {"num_ref_displays_minus1", 0},
                 {"left_view_id[0]", 0}, {"right_view_id[0]", 0}, {"exponent_ref_display_width[0]", 63},
                 {"three_dimensional_reference_displays_extension_flag", 1}}},
        // An Exp-Golomb code with 32 leading zeros is longer than any value it may hold.
        SeiCase{"recovery point code too long", 6, Bytes(5, 0), {}},
        SeiCase{"recovery point cut inside its code", 6, bits("0000 0000 01"), {}}),
    [](const ::testing::TestParamInfo<SeiCase>& test) { return testing::caseName(test.param.name); });

TEST(SeiPayloadLimits, UnregisteredUserDataKeepsTheUuidAndEveryByte)
{
    Bytes payload = sequence(256);
    std::vector<analysis::SyntaxElementInfo> entries;
    bool overflow = false;
    appendSeiPayloadFields(5, payload, entries, overflow);
    ASSERT_EQ(entries.size(), 241u);
    EXPECT_FALSE(overflow);
    EXPECT_EQ(entries[0].name, "uuid_iso_iec_11578");
    EXPECT_EQ(entries[0].value, 0);
    EXPECT_EQ(entries[0].displayValue, "000102030405060708090a0b0c0d0e0f");
    EXPECT_EQ(entries[1].name, "user_data_payload_byte[0]");
    EXPECT_EQ(entries[1].value, 16);

    entries.clear();
    appendSeiPayloadFields(5, sequence(16), entries, overflow);
    EXPECT_EQ(entries.size(), 1u);
}

TEST(SeiPayloadLimits, T35OfFullLengthFillsTheListExactly)
{
    std::vector<analysis::SyntaxElementInfo> entries;
    bool overflow = false;
    appendSeiPayloadFields(4, sequence(256, 1), entries, overflow);
    EXPECT_EQ(entries.size(), 256u);
    EXPECT_FALSE(overflow);
}

TEST(SeiPayloadLimits, FilmGrainBeyond256EntriesSetsTheOverflowAndReadsOn)
{
    // One component with 40 intervals of 8 model values: 2 + 8 entries per interval.
    std::string text = "0 00 0 00 0000 100 00100111 111";
    for (int i = 0; i < 40; ++i) {
        text += " 00000001 00000010";
        for (int j = 0; j < 8; ++j) {
            text += " 1";
        }
    }
    text += " 1";
    const Bytes payload = bits(text);
    ASSERT_LE(payload.size(), 256u);
    std::vector<analysis::SyntaxElementInfo> entries;
    bool overflow = false;
    appendSeiPayloadFields(19, payload, entries, overflow);
    EXPECT_EQ(entries.size(), 256u);
    EXPECT_TRUE(overflow);
    EXPECT_EQ(entries.back().name, "comp_model_value[0][24][3]");
}

}  // namespace
}  // namespace vexilo::analyzer
