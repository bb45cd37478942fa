#include "vexilo/models/HevcSyntaxEntry.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTest>

#include <set>
#include <string>

namespace {

// The catalogued syntax as Rec. ITU-T H.265 (07/2024) defines it, one line per clause
// ("clause: name = descriptor; structure(); ..."), written from its syntax tables.
constexpr const char* kStandardSyntax = R"(
7.3.1.1-7.3.1.2: nal_unit(); nal_unit_header(); forbidden_zero_bit = f(1); nal_unit_type = u(6); nuh_layer_id = u(6); nuh_temporal_id_plus1 = u(3)
7.3.2.1: video_parameter_set_rbsp(); vps_video_parameter_set_id = u(4); vps_base_layer_internal_flag = u(1); vps_base_layer_available_flag = u(1); vps_max_layers_minus1 = u(6); vps_max_sub_layers_minus1 = u(3); vps_temporal_id_nesting_flag = u(1); vps_reserved_0xffff_16bits = u(16); vps_sub_layer_ordering_info_present_flag = u(1); vps_max_dec_pic_buffering_minus1[] = ue(v); vps_max_num_reorder_pics[] = ue(v); vps_max_latency_increase_plus1[] = ue(v); vps_max_layer_id = u(6); vps_num_layer_sets_minus1 = ue(v); layer_id_included_flag[][] = u(1); vps_timing_info_present_flag = u(1); vps_num_units_in_tick = u(32); vps_time_scale = u(32); vps_poc_proportional_to_timing_flag = u(1); vps_num_ticks_poc_diff_one_minus1 = ue(v); vps_num_hrd_parameters = ue(v); hrd_layer_set_idx[] = ue(v); cprms_present_flag[] = u(1); vps_extension_flag = u(1); vps_extension_data_flag = u(1)
7.3.3: profile_tier_level(); general_profile_space = u(2); general_tier_flag = u(1); general_profile_idc = u(5); general_profile_compatibility_flag[] = u(1); general_progressive_source_flag = u(1); general_interlaced_source_flag = u(1); general_non_packed_constraint_flag = u(1); general_frame_only_constraint_flag = u(1); general_max_12bit_constraint_flag = u(1); general_max_10bit_constraint_flag = u(1); general_max_8bit_constraint_flag = u(1); general_max_422chroma_constraint_flag = u(1); general_max_420chroma_constraint_flag = u(1); general_max_monochrome_constraint_flag = u(1); general_intra_constraint_flag = u(1); general_one_picture_only_constraint_flag = u(1); general_lower_bit_rate_constraint_flag = u(1); general_max_14bit_constraint_flag = u(1); general_inbld_flag = u(1); general_reserved_zero_7bits = u(7); general_reserved_zero_33bits = u(33); general_reserved_zero_34bits = u(34); general_reserved_zero_35bits = u(35); general_reserved_zero_43bits = u(43); general_reserved_zero_bit = u(1); general_level_idc = u(8); sub_layer_profile_present_flag[] = u(1); sub_layer_level_present_flag[] = u(1); reserved_zero_2bits[] = u(2); sub_layer_profile_space[] = u(2); sub_layer_tier_flag[] = u(1); sub_layer_profile_idc[] = u(5); sub_layer_profile_compatibility_flag[][] = u(1); sub_layer_progressive_source_flag[] = u(1); sub_layer_interlaced_source_flag[] = u(1); sub_layer_non_packed_constraint_flag[] = u(1); sub_layer_frame_only_constraint_flag[] = u(1); sub_layer_max_12bit_constraint_flag[] = u(1); sub_layer_max_10bit_constraint_flag[] = u(1); sub_layer_max_8bit_constraint_flag[] = u(1); sub_layer_max_422chroma_constraint_flag[] = u(1); sub_layer_max_420chroma_constraint_flag[] = u(1); sub_layer_max_monochrome_constraint_flag[] = u(1); sub_layer_intra_constraint_flag[] = u(1); sub_layer_one_picture_only_constraint_flag[] = u(1); sub_layer_lower_bit_rate_constraint_flag[] = u(1); sub_layer_max_14bit_constraint_flag[] = u(1); sub_layer_inbld_flag[] = u(1); sub_layer_reserved_zero_7bits[] = u(7); sub_layer_reserved_zero_33bits[] = u(33); sub_layer_reserved_zero_34bits[] = u(34); sub_layer_reserved_zero_35bits[] = u(35); sub_layer_reserved_zero_43bits[] = u(43); sub_layer_reserved_zero_bit[] = u(1); sub_layer_level_idc[] = u(8)
7.3.2.11: rbsp_trailing_bits()
7.3.2.2: seq_parameter_set_rbsp(); sps_video_parameter_set_id = u(4); sps_max_sub_layers_minus1 = u(3); sps_temporal_id_nesting_flag = u(1); sps_seq_parameter_set_id = ue(v); chroma_format_idc = ue(v); separate_colour_plane_flag = u(1); pic_width_in_luma_samples = ue(v); pic_height_in_luma_samples = ue(v); conformance_window_flag = u(1); conf_win_left_offset = ue(v); conf_win_right_offset = ue(v); conf_win_top_offset = ue(v); conf_win_bottom_offset = ue(v); bit_depth_luma_minus8 = ue(v); bit_depth_chroma_minus8 = ue(v); log2_max_pic_order_cnt_lsb_minus4 = ue(v); sps_sub_layer_ordering_info_present_flag = u(1); sps_max_dec_pic_buffering_minus1[] = ue(v); sps_max_num_reorder_pics[] = ue(v); sps_max_latency_increase_plus1[] = ue(v); log2_min_luma_coding_block_size_minus3 = ue(v); log2_diff_max_min_luma_coding_block_size = ue(v); log2_min_luma_transform_block_size_minus2 = ue(v); log2_diff_max_min_luma_transform_block_size = ue(v); max_transform_hierarchy_depth_inter = ue(v); max_transform_hierarchy_depth_intra = ue(v); scaling_list_enabled_flag = u(1); sps_scaling_list_data_present_flag = u(1); amp_enabled_flag = u(1); sample_adaptive_offset_enabled_flag = u(1); pcm_enabled_flag = u(1); pcm_sample_bit_depth_luma_minus1 = u(4); pcm_sample_bit_depth_chroma_minus1 = u(4); log2_min_pcm_luma_coding_block_size_minus3 = ue(v); log2_diff_max_min_pcm_luma_coding_block_size = ue(v); pcm_loop_filter_disabled_flag = u(1); num_short_term_ref_pic_sets = ue(v); long_term_ref_pics_present_flag = u(1); num_long_term_ref_pics_sps = ue(v); lt_ref_pic_poc_lsb_sps[] = u(v); used_by_curr_pic_lt_sps_flag[] = u(1); sps_temporal_mvp_enabled_flag = u(1); strong_intra_smoothing_enabled_flag = u(1); vui_parameters_present_flag = u(1); sps_extension_present_flag = u(1); sps_range_extension_flag = u(1); sps_multilayer_extension_flag = u(1); sps_3d_extension_flag = u(1); sps_scc_extension_flag = u(1); sps_extension_4bits = u(4); sps_extension_data_flag = u(1)
7.3.2.2.2: sps_range_extension(); transform_skip_rotation_enabled_flag = u(1); transform_skip_context_enabled_flag = u(1); implicit_rdpcm_enabled_flag = u(1); explicit_rdpcm_enabled_flag = u(1); extended_precision_processing_flag = u(1); intra_smoothing_disabled_flag = u(1); high_precision_offsets_enabled_flag = u(1); persistent_rice_adaptation_enabled_flag = u(1); cabac_bypass_alignment_enabled_flag = u(1)
7.3.2.2.3: sps_scc_extension()
F.7.3.2.2.4: sps_multilayer_extension()
I.7.3.2.2.5: sps_3d_extension()
7.3.4: scaling_list_data()
7.3.7: st_ref_pic_set( stRpsIdx ); st_ref_pic_set( num_short_term_ref_pic_sets )
E.2.1: vui_parameters(); aspect_ratio_info_present_flag = u(1); aspect_ratio_idc = u(8); sar_width = u(16); sar_height = u(16); overscan_info_present_flag = u(1); overscan_appropriate_flag = u(1); video_signal_type_present_flag = u(1); video_format = u(3); video_full_range_flag = u(1); colour_description_present_flag = u(1); colour_primaries = u(8); transfer_characteristics = u(8); matrix_coeffs = u(8); chroma_loc_info_present_flag = u(1); chroma_sample_loc_type_top_field = ue(v); chroma_sample_loc_type_bottom_field = ue(v); neutral_chroma_indication_flag = u(1); field_seq_flag = u(1); frame_field_info_present_flag = u(1); default_display_window_flag = u(1); def_disp_win_left_offset = ue(v); def_disp_win_right_offset = ue(v); def_disp_win_top_offset = ue(v); def_disp_win_bottom_offset = ue(v); vui_timing_info_present_flag = u(1); vui_num_units_in_tick = u(32); vui_time_scale = u(32); vui_poc_proportional_to_timing_flag = u(1); vui_num_ticks_poc_diff_one_minus1 = ue(v); vui_hrd_parameters_present_flag = u(1); bitstream_restriction_flag = u(1); tiles_fixed_structure_flag = u(1); motion_vectors_over_pic_boundaries_flag = u(1); restricted_ref_pic_lists_flag = u(1); min_spatial_segmentation_idc = ue(v); max_bytes_per_pic_denom = ue(v); max_bits_per_min_cu_denom = ue(v); log2_max_mv_length_horizontal = ue(v); log2_max_mv_length_vertical = ue(v)
E.2.2: hrd_parameters(); hrd_parameters( cprms_present_flag[ i ], vps_max_sub_layers_minus1 )
7.3.2.3: pic_parameter_set_rbsp(); pps_pic_parameter_set_id = ue(v); pps_seq_parameter_set_id = ue(v); dependent_slice_segments_enabled_flag = u(1); output_flag_present_flag = u(1); num_extra_slice_header_bits = u(3); sign_data_hiding_enabled_flag = u(1); cabac_init_present_flag = u(1); num_ref_idx_l0_default_active_minus1 = ue(v); num_ref_idx_l1_default_active_minus1 = ue(v); init_qp_minus26 = se(v); constrained_intra_pred_flag = u(1); transform_skip_enabled_flag = u(1); cu_qp_delta_enabled_flag = u(1); diff_cu_qp_delta_depth = ue(v); pps_cb_qp_offset = se(v); pps_cr_qp_offset = se(v); pps_slice_chroma_qp_offsets_present_flag = u(1); weighted_pred_flag = u(1); weighted_bipred_flag = u(1); transquant_bypass_enabled_flag = u(1); tiles_enabled_flag = u(1); entropy_coding_sync_enabled_flag = u(1); num_tile_columns_minus1 = ue(v); num_tile_rows_minus1 = ue(v); uniform_spacing_flag = u(1); column_width_minus1[] = ue(v); row_height_minus1[] = ue(v); loop_filter_across_tiles_enabled_flag = u(1); pps_loop_filter_across_slices_enabled_flag = u(1); deblocking_filter_control_present_flag = u(1); deblocking_filter_override_enabled_flag = u(1); pps_deblocking_filter_disabled_flag = u(1); pps_beta_offset_div2 = se(v); pps_tc_offset_div2 = se(v); pps_scaling_list_data_present_flag = u(1); lists_modification_present_flag = u(1); log2_parallel_merge_level_minus2 = ue(v); slice_segment_header_extension_present_flag = u(1); pps_extension_present_flag = u(1); pps_range_extension_flag = u(1); pps_multilayer_extension_flag = u(1); pps_3d_extension_flag = u(1); pps_scc_extension_flag = u(1); pps_extension_4bits = u(4); pps_extension_data_flag = u(1)
7.3.2.3.2: pps_range_extension(); log2_max_transform_skip_block_size_minus2 = ue(v); cross_component_prediction_enabled_flag = u(1); chroma_qp_offset_list_enabled_flag = u(1); diff_cu_chroma_qp_offset_depth = ue(v); chroma_qp_offset_list_len_minus1 = ue(v); cb_qp_offset_list[] = se(v); cr_qp_offset_list[] = se(v); log2_sao_offset_scale_luma = ue(v); log2_sao_offset_scale_chroma = ue(v)
7.3.2.3.3: pps_scc_extension()
F.7.3.2.3.4: pps_multilayer_extension()
I.7.3.2.3.7: pps_3d_extension()
7.3.2.4: sei_rbsp()
7.3.5: sei_message(); ff_byte = f(8); last_payload_type_byte = u(8); last_payload_size_byte = u(8)
D.2.1: sei_payload()
D.2.6: itu_t_t35_country_code = b(8); itu_t_t35_country_code_extension_byte = b(8); itu_t_t35_payload_byte[] = b(8)
D.2.7: uuid_iso_iec_11578 = u(128); user_data_payload_byte[] = b(8)
D.2.8: recovery_poc_cnt = se(v); exact_match_flag = u(1); broken_link_flag = u(1)
D.2.13: film_grain_characteristics_cancel_flag = u(1); film_grain_model_id = u(2); separate_colour_description_present_flag = u(1); film_grain_bit_depth_luma_minus8 = u(3); film_grain_bit_depth_chroma_minus8 = u(3); film_grain_full_range_flag = u(1); film_grain_colour_primaries = u(8); film_grain_transfer_characteristics = u(8); film_grain_matrix_coeffs = u(8); blending_mode_id = u(2); log2_scale_factor = u(4); comp_model_present_flag[] = u(1); num_intensity_intervals_minus1[] = u(8); num_model_values_minus1[] = u(3); intensity_interval_lower_bound[][] = u(8); intensity_interval_upper_bound[][] = u(8); comp_model_value[][][] = se(v); film_grain_characteristics_persistence_flag = u(1)
D.2.16: frame_packing_arrangement_id = ue(v); frame_packing_arrangement_cancel_flag = u(1); frame_packing_arrangement_type = u(7); quincunx_sampling_flag = u(1); content_interpretation_type = u(6); spatial_flipping_flag = u(1); frame0_flipped_flag = u(1); field_views_flag = u(1); current_frame_is_frame0_flag = u(1); frame0_self_contained_flag = u(1); frame1_self_contained_flag = u(1); frame0_grid_position_x = u(4); frame0_grid_position_y = u(4); frame1_grid_position_x = u(4); frame1_grid_position_y = u(4); frame_packing_arrangement_reserved_byte = u(8); frame_packing_arrangement_persistence_flag = u(1); upsampled_aspect_ratio_flag = u(1)
D.2.17: display_orientation_cancel_flag = u(1); hor_flip = u(1); ver_flip = u(1); anticlockwise_rotation = u(16); display_orientation_persistence_flag = u(1)
D.2.20: hash_type = u(8); picture_md5[][] = b(8); picture_crc[] = u(16); picture_checksum[] = u(32)
D.2.21: active_video_parameter_set_id = u(4); self_contained_cvs_flag = u(1); no_parameter_set_update_flag = u(1); num_sps_ids_minus1 = ue(v); active_seq_parameter_set_id[] = ue(v)
D.2.27: num_clock_ts = u(2); clock_timestamp_flag[] = u(1); units_field_based_flag[] = u(1); counting_type[] = u(5); full_timestamp_flag[] = u(1); discontinuity_flag[] = u(1); cnt_dropped_flag[] = u(1); n_frames[] = u(9); seconds_flag[] = u(1); seconds_value[] = u(6); minutes_flag[] = u(1); minutes_value[] = u(6); hours_flag[] = u(1); hours_value[] = u(5); time_offset_length[] = u(5); time_offset_value[] = i(v)
D.2.28: display_primaries_x[] = u(16); display_primaries_y[] = u(16); white_point_x = u(16); white_point_y = u(16); max_display_mastering_luminance = u(32); min_display_mastering_luminance = u(32)
D.2.35: max_content_light_level = u(16); max_pic_average_light_level = u(16)
D.2.38: preferred_transfer_characteristics = u(8)
D.2.39: ambient_illuminance = u(32); ambient_light_x = u(16); ambient_light_y = u(16)
G.14.2.3: prec_ref_display_width = ue(v); ref_viewing_distance_flag = u(1); prec_ref_viewing_dist = ue(v); num_ref_displays_minus1 = ue(v); left_view_id[] = ue(v); right_view_id[] = ue(v); exponent_ref_display_width[] = u(6); mantissa_ref_display_width[] = u(v); exponent_ref_viewing_distance[] = u(6); mantissa_ref_viewing_distance[] = u(v); additional_shift_present_flag[] = u(1); num_sample_shift_plus512[] = u(10); three_dimensional_reference_displays_extension_flag = u(1)
7.3.6.1: slice_segment_header(); first_slice_segment_in_pic_flag = u(1); no_output_of_prior_pics_flag = u(1); slice_pic_parameter_set_id = ue(v); dependent_slice_segment_flag = u(1); slice_segment_address = u(v); slice_type = ue(v); pic_output_flag = u(1); slice_pic_order_cnt_lsb = u(v); short_term_ref_pic_set_sps_flag = u(1); short_term_ref_pic_set_idx = u(v); num_ref_idx_active_override_flag = u(1); num_ref_idx_l0_active_minus1 = ue(v); num_ref_idx_l1_active_minus1 = ue(v); slice_qp_delta = se(v); num_entry_point_offsets = ue(v)
7.3.6.2: ref_pic_lists_modification(); ref_pic_list_modification_flag_l0 = u(1); ref_pic_list_modification_flag_l1 = u(1)
7.3.6.3: pred_weight_table()
)";

struct StandardSyntax {
    QString descriptor;
    QString clause;
};

QMap<QString, StandardSyntax> parseStandardSyntax()
{
    QMap<QString, StandardSyntax> table;
    for (const QString& line : QString::fromLatin1(kStandardSyntax).split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(QStringLiteral(": "));
        const QString clause = QStringLiteral("H.265 (07/2024) ") + line.left(colon);
        for (const QString& item : line.mid(colon + 2).split(u';')) {
            const QStringList parts = item.split(u'=');
            table.insert(parts.front().trimmed(), {parts.size() > 1 ? parts.back().trimmed() : QString(), clause});
        }
    }
    return table;
}

QString textOf(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

class HevcSyntaxEntryTest : public QObject {
    Q_OBJECT

private slots:
    void everyEntryMatchesTheStandard()
    {
        const QMap<QString, StandardSyntax> standard = parseStandardSyntax();
        QCOMPARE(standard.size(), qsizetype{382});
        std::set<std::string_view> names;
        for (const vexilo::HevcSyntaxEntry& entry : vexilo::hevcSyntaxCatalog) {
            const QString name = textOf(entry.name);
            QVERIFY2(names.insert(entry.name).second, qPrintable(name));
            QVERIFY2(standard.contains(name), qPrintable(name));
            QCOMPARE(textOf(entry.descriptor), standard.value(name).descriptor);
            QCOMPARE(textOf(entry.specReference), standard.value(name).clause);
            QCOMPARE(entry.kind, entry.descriptor.empty() ? vexilo::kHevcSyntaxStructure : vexilo::kHevcSyntaxElement);
        }
    }

    void descriptionsAreShortNounPhrases()
    {
        for (const vexilo::HevcSyntaxEntry& entry : vexilo::hevcSyntaxCatalog) {
            const QString description = textOf(entry.description);
            const qsizetype words = description.split(u' ', Qt::SkipEmptyParts).size();
            QVERIFY2(words >= 2 && words <= 7, qPrintable(description));
            QVERIFY2(!description.endsWith(u'.'), qPrintable(description));
        }
    }

    void descriptorHistogram()
    {
        QMap<QString, int> histogram;
        for (const vexilo::HevcSyntaxEntry& entry : vexilo::hevcSyntaxCatalog) {
            ++histogram[textOf(entry.descriptor)];
        }
        const QMap<QString, int> expected{{"u(1)", 168}, {"ue(v)", 71}, {"", 27},     {"u(8)", 17},  {"u(16)", 13},
                                          {"u(4)", 12},  {"se(v)", 10}, {"u(6)", 9},   {"u(3)", 8},   {"u(32)", 8},
                                          {"u(v)", 6},   {"u(2)", 6},   {"u(5)", 5},   {"b(8)", 5},   {"f(1)", 1},
                                          {"f(8)", 1},   {"u(128)", 1}, {"u(7)", 3},   {"u(9)", 1},   {"i(v)", 1},
                                          {"u(10)", 1},  {"u(33)", 2},  {"u(34)", 2},  {"u(35)", 2},  {"u(43)", 2}};
        QCOMPARE(histogram, expected);
    }

    void lookUpByNameIndexesAndCallForms_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("found");
        QTest::newRow("exact") << "nal_unit_type" << "nal_unit_type";
        QTest::newRow("capitals") << "NAL_UNIT_TYPE" << "";
        QTest::newRow("numeric index") << "general_profile_compatibility_flag[5]" << "general_profile_compatibility_flag[]";
        QTest::newRow("variable index") << "general_profile_compatibility_flag[j]" << "general_profile_compatibility_flag[]";
        QTest::newRow("pattern itself") << "general_profile_compatibility_flag[]" << "general_profile_compatibility_flag[]";
        QTest::newRow("no index") << "general_profile_compatibility_flag" << "";
        QTest::newRow("unclosed index") << "general_profile_compatibility_flag[5" << "";
        QTest::newRow("two indexes") << "sub_layer_profile_compatibility_flag[1][7]"
                                     << "sub_layer_profile_compatibility_flag[][]";
        QTest::newRow("one of two indexes") << "sub_layer_profile_compatibility_flag[1]" << "";
        QTest::newRow("three indexes") << "comp_model_value[0][1][2]" << "comp_model_value[][][]";
        QTest::newRow("ptl call") << "profile_tier_level( 1, vps_max_sub_layers_minus1 )" << "profile_tier_level()";
        QTest::newRow("ptl bare") << "profile_tier_level" << "";
        QTest::newRow("payload call") << "sei_payload( payloadType, payloadSize )" << "sei_payload()";
        QTest::newRow("message") << "sei_message()" << "sei_message()";
        QTest::newRow("vps hrd") << "hrd_parameters( cprms_present_flag[ i ], vps_max_sub_layers_minus1 )"
                                 << "hrd_parameters( cprms_present_flag[ i ], vps_max_sub_layers_minus1 )";
        QTest::newRow("hrd other call") << "hrd_parameters( 1, sps_max_sub_layers_minus1 )" << "";
        QTest::newRow("sps hrd") << "hrd_parameters()" << "hrd_parameters()";
        QTest::newRow("short-term rps") << "st_ref_pic_set( stRpsIdx )" << "st_ref_pic_set( stRpsIdx )";
        QTest::newRow("output flag") << "pic_output_flag" << "pic_output_flag";
        QTest::newRow("old output flag") << "slice_pic_output_flag" << "";
        QTest::newRow("empty") << "" << "";
    }

    void lookUpByNameIndexesAndCallForms()
    {
        QFETCH(QString, name);
        QFETCH(QString, found);
        const QByteArray utf8 = name.toUtf8();
        const vexilo::HevcSyntaxEntry* entry =
            vexilo::findHevcSyntaxEntry(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
        QCOMPARE(entry == nullptr ? QString() : textOf(entry->name), found);
    }
};

VEXILO_QT_TEST(HevcSyntaxEntryTest)
#include "HevcSyntaxEntryTest.moc"
