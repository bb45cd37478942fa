// Each syntax structure the picture syntax sections show, on a stream that codes it, against
// a tree typed from its syntax table in Rec. ITU-T H.265 (07/2024) clause 7.3 and Annex E:
// every branch and loop a node, its elements inside it in the table's order. The values are
// the ones FFmpeg's trace_headers filter prints for the same streams.

#include "SyntaxStreamSections.h"

#include "vexilo/test/QtTestRegistry.h"

#include <QObject>
#include <QTest>

#include <algorithm>

using namespace vexilo::test;
namespace analysis = vexilo::analysis;

namespace {

constexpr const char* kVuiStream = "models_vui_timing.hevc";
constexpr const char* kVpsPtl = "profile_tier_level( 1, vps_max_sub_layers_minus1 )";
constexpr const char* kSpsPtl = "profile_tier_level( 1, sps_max_sub_layers_minus1 )";
constexpr const char* kCompatibilityLoop = "for( j = 0; j < 32; j++ )";
constexpr const char* kSeiPayload = "sei_payload( payloadType, payloadSize )";
constexpr const char* kDerivedRows = "  effective_slice_type\n";

// The sections of the stream's first picture, or of the first picture `wanted` accepts.
PictureSections sectionsOf(const QString& stream, bool (*wanted)(const analysis::StreamAnalysis&) = nullptr)
{
    const WorkerAnalysis& analysis = analysed(stream);
    [&] { QVERIFY2(analysis.error.isEmpty() && !analysis.pictures.empty(), qPrintable(analysis.error)); }();
    const analysis::StreamAnalysis* picture = wanted != nullptr ? pictureWith(analysis, wanted)
                                                                : &analysis.pictures.front();
    [&] { QVERIFY(picture != nullptr); }();
    return PictureSections(*picture);
}

// The table of the first node of that name in the section, or an empty text.
QString tableOf(const PictureSections& sections, Section section, const char* node, const QStringList& counted = {})
{
    const vexilo::PictureSyntaxModel& model = sections.model(section);
    const QModelIndex index = findNode(model, QString::fromLatin1(node));
    return index.isValid() ? syntaxTable(model, index, counted) : QString();
}

bool hasPSlice(const analysis::StreamAnalysis& document)
{
    return std::any_of(document.slices.begin(), document.slices.end(),
                       [](const analysis::SliceInfo& slice) { return slice.type == analysis::SliceType::P; });
}

bool hasDependentBSlice(const analysis::StreamAnalysis& document)
{
    return std::any_of(document.slices.begin(), document.slices.end(), [](const analysis::SliceInfo& slice) {
        return slice.dependentSliceSegment.value_or(false) && slice.type == analysis::SliceType::B;
    });
}

// The compatibility flags a profile_tier_level() sets, by name.
QStringList setCompatibilityFlags(const vexilo::PictureSyntaxModel& model, const char* ptl)
{
    const QModelIndex loop = findNode(model, QLatin1String(kCompatibilityLoop), findNode(model, QLatin1String(ptl)));
    QStringList set;
    for (int row = 0; row < model.rowCount(loop); ++row) {
        if (cellOf(model.index(row, 0, loop), 1) == QStringLiteral("true")) {
            set << cellOf(model.index(row, 0, loop), 0);
        }
    }
    return set;
}

// A failure names the first line that differs: QCOMPARE cuts long texts short.
void compareTables(const QString& actual, const QString& expected)
{
    QVERIFY2(actual == expected, qPrintable(tableDifference(actual, expected)));
}

}  // namespace

class SyntaxTablesTest : public QObject {
    Q_OBJECT

private slots:
    // 7.3.1.1 and 7.3.1.2; the start code (B.2) and the payload's identity are the analyser's own rows.
    void nalUnitHeader()
    {
        const PictureSections sections = sectionsOf(QLatin1String(kVuiStream));
        compareTables(tableOf(sections, Section::NalUnits, "nal_unit()"), QStringLiteral(R"(nal_unit()
  start_code_prefix
  nal_unit_header()
    forbidden_zero_bit = N/A
    nal_unit_type = 32
    nuh_layer_id = 0
    nuh_temporal_id_plus1 = 1
  rbsp_byte[]
  byte_offset
)"));
    }

    // 7.3.2.1: the tick count, the HRD count and its loop all sit inside the timing branch.
    void videoParameterSet()
    {
        const PictureSections sections = sectionsOf(QLatin1String(kVuiStream));
        compareTables(tableOf(sections, Section::Vps, "video_parameter_set_rbsp()", {kVpsPtl}),
                 QStringLiteral(R"(video_parameter_set_rbsp()
  vps_video_parameter_set_id = 0
  vps_base_layer_internal_flag = true
  vps_base_layer_available_flag = true
  vps_max_layers_minus1 = 0
  vps_max_sub_layers_minus1 = 0
  vps_temporal_id_nesting_flag = true
  vps_reserved_0xffff_16bits = N/A
  profile_tier_level( 1, vps_max_sub_layers_minus1 ) [2 rows]
  vps_sub_layer_ordering_info_present_flag = true
  for( i = vps_sub_layer_ordering_info_present_flag ? 0 : vps_max_sub_layers_minus1; i <= vps_max_sub_layers_minus1; i++ )
    vps_max_dec_pic_buffering_minus1[0] = 3
    vps_max_num_reorder_pics[0] = 1
    vps_max_latency_increase_plus1[0] = 2
  vps_max_layer_id = 0
  vps_num_layer_sets_minus1 = 0
  vps_timing_info_present_flag = true
  if( vps_timing_info_present_flag )
    vps_num_units_in_tick = 1
    vps_time_scale = 25
    vps_poc_proportional_to_timing_flag = true
    if( vps_poc_proportional_to_timing_flag )
      vps_num_ticks_poc_diff_one_minus1 = 0
    vps_num_hrd_parameters = 0
  vps_extension_flag = false
  rbsp_trailing_bits()
  rbsp_hash
)"));
    }

    // 7.3.3: the profile inside if( profilePresentFlag ), its constraint flags in the branch its
    // profile takes, the sub-layer flags and the alignment bits in their loops.
    void profileTierLevel_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<int>("section");
        QTest::addColumn<QString>("ptl");
        QTest::addColumn<QStringList>("compatible");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Main with a sub-layer")
            << "models_temporal_layers.hevc" << int(Section::Vps) << kVpsPtl
            << QStringList{"general_profile_compatibility_flag[1]", "general_profile_compatibility_flag[2]"}
            << QStringLiteral(R"(profile_tier_level( 1, vps_max_sub_layers_minus1 )
  if( profilePresentFlag )
    general_profile_space = 0
    general_tier_flag = false
    general_profile_idc = 1
    for( j = 0; j < 32; j++ ) [32 rows]
    general_progressive_source_flag = true
    general_interlaced_source_flag = false
    general_non_packed_constraint_flag = false
    general_frame_only_constraint_flag = true
    else if( general_profile_idc == 2 || general_profile_compatibility_flag[ 2 ] )
      general_reserved_zero_7bits = N/A
      general_one_picture_only_constraint_flag = false
      general_reserved_zero_35bits = N/A
    if( general_profile_idc == 1 || general_profile_compatibility_flag[ 1 ] || general_profile_idc == 2 || general_profile_compatibility_flag[ 2 ] || general_profile_idc == 3 || general_profile_compatibility_flag[ 3 ] || general_profile_idc == 4 || general_profile_compatibility_flag[ 4 ] || general_profile_idc == 5 || general_profile_compatibility_flag[ 5 ] || general_profile_idc == 9 || general_profile_compatibility_flag[ 9 ] || general_profile_idc == 11 || general_profile_compatibility_flag[ 11 ] )
      general_inbld_flag = false
  general_level_idc = 60
  for( i = 0; i < maxNumSubLayersMinus1; i++ )
    sub_layer_profile_present_flag[0] = false
    sub_layer_level_present_flag[0] = false
  if( maxNumSubLayersMinus1 > 0 )
    for( i = maxNumSubLayersMinus1; i < 8; i++ )
      reserved_zero_2bits[1] = N/A
      reserved_zero_2bits[2] = N/A
      reserved_zero_2bits[3] = N/A
      reserved_zero_2bits[4] = N/A
      reserved_zero_2bits[5] = N/A
      reserved_zero_2bits[6] = N/A
      reserved_zero_2bits[7] = N/A
)");
        QTest::newRow("format range extensions") << "s29_444_8_ccp_rdpcm_tsrot.bit" << int(Section::Sps) << kSpsPtl
                                                 << QStringList{"general_profile_compatibility_flag[4]"}
                                                 << QStringLiteral(R"(profile_tier_level( 1, sps_max_sub_layers_minus1 )
  if( profilePresentFlag )
    general_profile_space = 0
    general_tier_flag = false
    general_profile_idc = 4
    for( j = 0; j < 32; j++ ) [32 rows]
    general_progressive_source_flag = false
    general_interlaced_source_flag = false
    general_non_packed_constraint_flag = false
    general_frame_only_constraint_flag = false
    if( general_profile_idc == 4 || general_profile_compatibility_flag[ 4 ] || general_profile_idc == 5 || general_profile_compatibility_flag[ 5 ] || general_profile_idc == 6 || general_profile_compatibility_flag[ 6 ] || general_profile_idc == 7 || general_profile_compatibility_flag[ 7 ] || general_profile_idc == 8 || general_profile_compatibility_flag[ 8 ] || general_profile_idc == 9 || general_profile_compatibility_flag[ 9 ] || general_profile_idc == 10 || general_profile_compatibility_flag[ 10 ] || general_profile_idc == 11 || general_profile_compatibility_flag[ 11 ] )
      general_max_12bit_constraint_flag = true
      general_max_10bit_constraint_flag = true
      general_max_8bit_constraint_flag = true
      general_max_422chroma_constraint_flag = false
      general_max_420chroma_constraint_flag = false
      general_max_monochrome_constraint_flag = false
      general_intra_constraint_flag = false
      general_one_picture_only_constraint_flag = false
      general_lower_bit_rate_constraint_flag = true
      else
        general_reserved_zero_34bits = N/A
    if( general_profile_idc == 1 || general_profile_compatibility_flag[ 1 ] || general_profile_idc == 2 || general_profile_compatibility_flag[ 2 ] || general_profile_idc == 3 || general_profile_compatibility_flag[ 3 ] || general_profile_idc == 4 || general_profile_compatibility_flag[ 4 ] || general_profile_idc == 5 || general_profile_compatibility_flag[ 5 ] || general_profile_idc == 9 || general_profile_compatibility_flag[ 9 ] || general_profile_idc == 11 || general_profile_compatibility_flag[ 11 ] )
      general_inbld_flag = false
  general_level_idc = 123
)");
    }

    void profileTierLevel()
    {
        QFETCH(QString, stream);
        QFETCH(int, section);
        QFETCH(QString, ptl);
        QFETCH(QStringList, compatible);
        QFETCH(QString, expected);
        const PictureSections sections = sectionsOf(stream);
        const vexilo::PictureSyntaxModel& model = sections.model(static_cast<Section>(section));
        compareTables(syntaxTable(model, findNode(model, ptl), {kCompatibilityLoop}), expected);
        QCOMPARE(setCompatibilityFlags(model, qPrintable(ptl)), compatible);
    }

    // 7.3.2.2 with E.2.1: vui_parameters() inside its flag's branch, every VUI part in its own
    // branch, the HRD structure inside both the timing and the HRD branch.
    void sequenceParameterSetWithVui()
    {
        const PictureSections sections = sectionsOf(QLatin1String(kVuiStream));
        compareTables(tableOf(sections, Section::Sps, "seq_parameter_set_rbsp()", {kSpsPtl}),
                 QStringLiteral(R"(seq_parameter_set_rbsp()
  sps_video_parameter_set_id = 0
  sps_max_sub_layers_minus1 = 0
  sps_temporal_id_nesting_flag = true
  profile_tier_level( 1, sps_max_sub_layers_minus1 ) [2 rows]
  sps_seq_parameter_set_id = 0
  chroma_format_idc = 1
  pic_width_in_luma_samples = 64
  pic_height_in_luma_samples = 64
  conformance_window_flag = 0
  bit_depth_luma_minus8 = 0
  bit_depth_chroma_minus8 = 0
  log2_max_pic_order_cnt_lsb_minus4 = 4
  sps_sub_layer_ordering_info_present_flag = 1
  for( i = sps_sub_layer_ordering_info_present_flag ? 0 : sps_max_sub_layers_minus1; i <= sps_max_sub_layers_minus1; i++ )
    sps_max_dec_pic_buffering_minus1[0] = 3
    sps_max_num_reorder_pics[0] = 1
    sps_max_latency_increase_plus1[0] = 2
  log2_min_luma_coding_block_size_minus3 = 0
  log2_diff_max_min_luma_coding_block_size = 3
  log2_min_luma_transform_block_size_minus2 = 0
  log2_diff_max_min_luma_transform_block_size = 3
  max_transform_hierarchy_depth_inter = 0
  max_transform_hierarchy_depth_intra = 0
  scaling_list_enabled_flag = 0
  amp_enabled_flag = 0
  sample_adaptive_offset_enabled_flag = true
  pcm_enabled_flag = 0
  num_short_term_ref_pic_sets = 0
  long_term_ref_pics_present_flag = 0
  sps_temporal_mvp_enabled_flag = true
  strong_intra_smoothing_enabled_flag = 1
  vui_parameters_present_flag = 1
  if( vui_parameters_present_flag )
    vui_parameters()
      aspect_ratio_info_present_flag = 1
      if( aspect_ratio_info_present_flag )
        aspect_ratio_idc = 255
        if( aspect_ratio_idc == EXTENDED_SAR )
          sar_width = 13
          sar_height = 7
      overscan_info_present_flag = 1
      if( overscan_info_present_flag )
        overscan_appropriate_flag = 0
      video_signal_type_present_flag = 1
      if( video_signal_type_present_flag )
        video_format = 1
        video_full_range_flag = 1
        colour_description_present_flag = 1
        if( colour_description_present_flag )
          colour_primaries = 1
          transfer_characteristics = 1
          matrix_coeffs = 1
      chroma_loc_info_present_flag = 1
      if( chroma_loc_info_present_flag )
        chroma_sample_loc_type_top_field = 1
        chroma_sample_loc_type_bottom_field = 1
      neutral_chroma_indication_flag = 0
      field_seq_flag = 0
      frame_field_info_present_flag = 0
      default_display_window_flag = 1
      if( default_display_window_flag )
        def_disp_win_left_offset = 2
        def_disp_win_right_offset = 2
        def_disp_win_top_offset = 0
        def_disp_win_bottom_offset = 0
      vui_timing_info_present_flag = 1
      if( vui_timing_info_present_flag )
        vui_num_units_in_tick = 1
        vui_time_scale = 25
        vui_poc_proportional_to_timing_flag = 1
        if( vui_poc_proportional_to_timing_flag )
          vui_num_ticks_poc_diff_one_minus1 = 0
        vui_hrd_parameters_present_flag = 1
        if( vui_hrd_parameters_present_flag )
          hrd_parameters()
      bitstream_restriction_flag = 0
  sps_extension_present_flag = 0
  rbsp_trailing_bits()
  CtbLog2SizeY
  rbsp_hash
)"));
        // E.2.2: what the HRD structure codes is not exported; the row says so and where it is defined.
        const QModelIndex hrd = findNode(sections.model(Section::Sps), QStringLiteral("hrd_parameters()"));
        QCOMPARE(cellOf(hrd, 4), QStringLiteral("unsupported"));
        QCOMPARE(cellOf(hrd, 6), QStringLiteral("H.265 (07/2024) E.2.2"));
    }

    // 7.3.2.2 and 7.3.2.2.2: the range-extension flags are children of their structure's row.
    void sequenceParameterSetExtensions()
    {
        const PictureSections sections = sectionsOf(QStringLiteral("s29_444_8_ccp_rdpcm_tsrot.bit"));
        const QString table = tableOf(sections, Section::Sps, "seq_parameter_set_rbsp()", {kSpsPtl});
        QVERIFY2(table.endsWith(QStringLiteral(R"(
  sps_extension_present_flag = 1
  if( sps_extension_present_flag )
    sps_range_extension_flag = 1
    sps_extension_4bits = 0
  if( sps_range_extension_flag )
    sps_range_extension()
      transform_skip_rotation_enabled_flag = 1
      transform_skip_context_enabled_flag = 1
      implicit_rdpcm_enabled_flag = 1
      explicit_rdpcm_enabled_flag = 1
      extended_precision_processing_flag = 0
      intra_smoothing_disabled_flag = 0
      high_precision_offsets_enabled_flag = 0
      persistent_rice_adaptation_enabled_flag = 0
      cabac_bypass_alignment_enabled_flag = 0
  rbsp_trailing_bits()
  CtbLog2SizeY
  rbsp_hash
)")),
                 qPrintable(table));
        QCOMPARE(cellOf(findNode(sections.model(Section::Sps), QStringLiteral("implicit_rdpcm_enabled_flag")), 6),
                 QStringLiteral("H.265 (07/2024) 7.3.2.2.2"));
    }

    // 7.3.2.2 and 7.3.4: scaling_list_data( ) and its present flag inside if( scaling_list_enabled_flag ).
    void scalingLists_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<QString>("expected");
        QTest::newRow("custom lists") << "s17_ra_scaling_list_custom.bit" << QStringLiteral(R"(if( scaling_list_enabled_flag )
  sps_scaling_list_data_present_flag = 1
  if( sps_scaling_list_data_present_flag )
    scaling_list_data()
)");
        QTest::newRow("default lists") << "s16_ai_scaling_list_default_sbh.bit"
                                       << QStringLiteral(R"(if( scaling_list_enabled_flag )
  sps_scaling_list_data_present_flag = 0
)");
    }

    void scalingLists()
    {
        QFETCH(QString, stream);
        QFETCH(QString, expected);
        const PictureSections sections = sectionsOf(stream);
        compareTables(tableOf(sections, Section::Sps, "if( scaling_list_enabled_flag )"), expected);
        const vexilo::PictureSyntaxModel& sps = sections.model(Section::Sps);
        const QModelIndex enabled = findNode(sps, QStringLiteral("scaling_list_enabled_flag"));
        QCOMPARE(findNode(sps, QStringLiteral("if( scaling_list_enabled_flag )")).row(), enabled.row() + 1);
        if (const QModelIndex lists = findNode(sps, QStringLiteral("scaling_list_data()")); lists.isValid()) {
            QCOMPARE(cellOf(lists, 4), QStringLiteral("unsupported"));
            QCOMPARE(cellOf(lists, 6), QStringLiteral("H.265 (07/2024) 7.3.4"));
        }
    }

    // 7.3.2.3 and 7.3.2.3.2: tile loops, deblocking branches, the range extension under its flag
    // with the chroma QP offset list inside its own branch and loop.
    void pictureParameterSet_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<QString>("node");
        QTest::addColumn<QString>("expected");
        QTest::newRow("range extension") << "s28_422_10_chroma_qp_offset_list.bit" << "pic_parameter_set_rbsp()"
                                         << QStringLiteral(R"(pic_parameter_set_rbsp()
  pps_pic_parameter_set_id = 0
  pps_seq_parameter_set_id = 0
  dependent_slice_segments_enabled_flag = 0
  output_flag_present_flag = 0
  num_extra_slice_header_bits = 0
  sign_data_hiding_enabled_flag = 1
  cabac_init_present_flag = 1
  num_ref_idx_l0_default_active_minus1 = 3
  num_ref_idx_l1_default_active_minus1 = 3
  init_qp_minus26 = 0
  constrained_intra_pred_flag = 0
  transform_skip_enabled_flag = 1
  cu_qp_delta_enabled_flag = 0
  pps_cb_qp_offset = 1
  pps_cr_qp_offset = -1
  pps_slice_chroma_qp_offsets_present_flag = 0
  weighted_pred_flag = 0
  weighted_bipred_flag = 0
  transquant_bypass_enabled_flag = 0
  tiles_enabled_flag = 0
  entropy_coding_sync_enabled_flag = 0
  pps_loop_filter_across_slices_enabled_flag = 1
  deblocking_filter_control_present_flag = 0
  pps_scaling_list_data_present_flag = 0
  lists_modification_present_flag = 0
  log2_parallel_merge_level_minus2 = 0
  slice_segment_header_extension_present_flag = 0
  pps_extension_present_flag = 1
  if( pps_extension_present_flag )
    pps_range_extension_flag = 1
    pps_multilayer_extension_flag = 0
    pps_3d_extension_flag = 0
    pps_scc_extension_flag = 0
    pps_extension_4bits = 0
  if( pps_range_extension_flag )
    pps_range_extension()
      if( transform_skip_enabled_flag )
        log2_max_transform_skip_block_size_minus2 = 0
      cross_component_prediction_enabled_flag = 0
      chroma_qp_offset_list_enabled_flag = 1
      if( chroma_qp_offset_list_enabled_flag )
        diff_cu_chroma_qp_offset_depth = 1
        chroma_qp_offset_list_len_minus1 = 0
        for( i = 0; i <= chroma_qp_offset_list_len_minus1; i++ )
          cb_qp_offset_list[0] = 6
          cr_qp_offset_list[0] = 6
      log2_sao_offset_scale_luma = 0
      log2_sao_offset_scale_chroma = 0
  rbsp_trailing_bits()
  rbsp_hash
)");
        QTest::newRow("non-uniform tiles") << "s05_ldb_tiles_nonuniform_no_lf_across.bit" << "if( tiles_enabled_flag )"
                                           << QStringLiteral(R"(if( tiles_enabled_flag )
  num_tile_columns_minus1 = 2
  num_tile_rows_minus1 = 1
  uniform_spacing_flag = 0
  if( !uniform_spacing_flag )
    for( i = 0; i < num_tile_columns_minus1; i++ )
      column_width_minus1[0] = 7
      column_width_minus1[1] = 8
    for( i = 0; i < num_tile_rows_minus1; i++ )
      row_height_minus1[0] = 3
  loop_filter_across_tiles_enabled_flag = 0
)");
        QTest::newRow("deblocking override") << "s21_ldb_cip_deblock_override.bit"
                                             << "if( deblocking_filter_control_present_flag )"
                                             << QStringLiteral(R"(if( deblocking_filter_control_present_flag )
  deblocking_filter_override_enabled_flag = 1
  pps_deblocking_filter_disabled_flag = 0
  if( !pps_deblocking_filter_disabled_flag )
    pps_beta_offset_div2 = 2
    pps_tc_offset_div2 = -1
)");
    }

    void pictureParameterSet()
    {
        QFETCH(QString, stream);
        QFETCH(QString, node);
        QFETCH(QString, expected);
        const PictureSections sections = sectionsOf(stream);
        compareTables(tableOf(sections, Section::Pps, qPrintable(node)), expected);
        const QModelIndex extension = findNode(sections.model(Section::Pps), QStringLiteral("pps_range_extension()"));
        QVERIFY(!extension.isValid() || cellOf(extension, 6) == QStringLiteral("H.265 (07/2024) 7.3.2.3.2"));
    }

    // 7.3.5: each byte loop of the payload type and size is a node of its own.
    void seiMessageHeader_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<QString>("expected");
        QTest::newRow("long payload") << "amp_weighted_sei.hevc" << QStringLiteral(R"(sei_rbsp()
  sei_message()
    last_payload_type_byte = 5
    while( next_bits( 8 ) == 0xFF )
      ff_byte = 255 × 8
    last_payload_size_byte = 228
    sei_payload( payloadType, payloadSize ) [241 rows]
  rbsp_trailing_bits()
)");
        QTest::newRow("short payload") << kVuiStream << QStringLiteral(R"(sei_rbsp()
  sei_message()
    last_payload_type_byte = 129
    last_payload_size_byte = 1
    sei_payload( payloadType, payloadSize ) [5 rows]
  rbsp_trailing_bits()
)");
    }

    void seiMessageHeader()
    {
        QFETCH(QString, stream);
        QFETCH(QString, expected);
        const PictureSections sections = sectionsOf(stream);
        compareTables(tableOf(sections, Section::Sei, "sei_rbsp()", {kSeiPayload}), expected);
    }

    // 7.3.6.1 with 7.3.6.2, 7.3.6.3 and 7.3.7: each element in the branches that enclose it,
    // the list modification in its own structure, the slice's own RPS and weight tables where
    // the stream codes them. Rows after the header's syntax are the decoder's derived state.
    void sliceSegmentHeader_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<bool>("dependent");
        QTest::addColumn<QString>("expected");
        QTest::newRow("weighted P slice") << kVuiStream << false << QStringLiteral(R"(slice_segment_header()
  parent nal_unit()
  first_slice_segment_in_pic_flag = true
  if( nal_unit_type >= BLA_W_LP && nal_unit_type <= RSV_IRAP_VCL23 )
    no_output_of_prior_pics_flag = N/A
  slice_pic_parameter_set_id = 0
  if( !first_slice_segment_in_pic_flag )
    if( dependent_slice_segments_enabled_flag )
      dependent_slice_segment_flag = N/A
    slice_segment_address = N/A
  if( !dependent_slice_segment_flag )
    slice_type = P
    if( output_flag_present_flag )
      pic_output_flag = N/A
    if( nal_unit_type != IDR_W_RADL && nal_unit_type != IDR_N_LP )
      slice_pic_order_cnt_lsb = 2
      short_term_ref_pic_set_sps_flag = false
      if( !short_term_ref_pic_set_sps_flag )
        st_ref_pic_set( num_short_term_ref_pic_sets )
      else if( num_short_term_ref_pic_sets > 1 )
        short_term_ref_pic_set_idx = N/A
    if( slice_type == P || slice_type == B )
      num_ref_idx_active_override_flag = false
      if( num_ref_idx_active_override_flag )
        num_ref_idx_l0_active_minus1 = 0
        if( slice_type == B )
          num_ref_idx_l1_active_minus1 = N/A
      if( lists_modification_present_flag && NumPicTotalCurr > 1 )
        ref_pic_lists_modification()
          ref_pic_list_modification_flag_l0 = N/A
          if( slice_type == B )
            ref_pic_list_modification_flag_l1 = N/A
      if( ( weighted_pred_flag && slice_type == P ) || ( weighted_bipred_flag && slice_type == B ) )
        pred_weight_table()
    slice_qp_delta = 7
  if( tiles_enabled_flag || entropy_coding_sync_enabled_flag )
    num_entry_point_offsets = N/A
)");
        QTest::newRow("dependent B segment") << "s07_ldb_slices_ctu_dependent_segments_aud.bit" << true
                                             << QStringLiteral(R"(slice_segment_header()
  parent nal_unit()
  first_slice_segment_in_pic_flag = false
  if( nal_unit_type >= BLA_W_LP && nal_unit_type <= RSV_IRAP_VCL23 )
    no_output_of_prior_pics_flag = N/A
  slice_pic_parameter_set_id = 0
  if( !first_slice_segment_in_pic_flag )
    if( dependent_slice_segments_enabled_flag )
      dependent_slice_segment_flag = true
    slice_segment_address = 5
  if( !dependent_slice_segment_flag )
    slice_type = N/A
    if( output_flag_present_flag )
      pic_output_flag = N/A
    if( nal_unit_type != IDR_W_RADL && nal_unit_type != IDR_N_LP )
      slice_pic_order_cnt_lsb = N/A
      short_term_ref_pic_set_sps_flag = N/A
      else if( num_short_term_ref_pic_sets > 1 )
        short_term_ref_pic_set_idx = N/A
    if( slice_type == P || slice_type == B )
      num_ref_idx_active_override_flag = N/A
      if( num_ref_idx_active_override_flag )
        num_ref_idx_l0_active_minus1 = N/A
        if( slice_type == B )
          num_ref_idx_l1_active_minus1 = N/A
      if( lists_modification_present_flag && NumPicTotalCurr > 1 )
        ref_pic_lists_modification()
          ref_pic_list_modification_flag_l0 = N/A
          if( slice_type == B )
            ref_pic_list_modification_flag_l1 = N/A
    slice_qp_delta = N/A
  if( tiles_enabled_flag || entropy_coding_sync_enabled_flag )
    num_entry_point_offsets = N/A
)");
    }

    void sliceSegmentHeader()
    {
        QFETCH(QString, stream);
        QFETCH(bool, dependent);
        QFETCH(QString, expected);
        const PictureSections sections = sectionsOf(stream, dependent ? hasDependentBSlice : hasPSlice);
        const vexilo::PictureSyntaxModel& slices = sections.model(Section::SliceHeader);
        QModelIndex header;
        for (int row = 0; row < slices.rowCount() && !header.isValid(); ++row) {
            const QModelIndex flag = findNode(slices, QStringLiteral("dependent_slice_segment_flag"), slices.index(row, 0));
            if ((cellOf(flag, 1) == QStringLiteral("true")) == dependent) {
                header = slices.index(row, 0);
            }
        }
        QVERIFY(header.isValid());
        const QString table = syntaxTable(slices, header);
        compareTables(table.left(table.indexOf(QLatin1String(kDerivedRows))), expected);
    }
};

VEXILO_QT_TEST(SyntaxTablesTest)
#include "SyntaxTablesTest.moc"
