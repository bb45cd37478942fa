#include "ModelTestSupport.h"
#include "SyntaxTreeDump.h"

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/models/PictureSyntaxModel.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QAbstractItemModelTester>
#include <QObject>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>
#include <tuple>

using vexilo::PictureSyntaxModel;
using vexilo::test::dumpSyntaxTree;
using vexilo::test::findNode;
using vexilo::test::nodeAt;
using vexilo::test::syntaxTable;
using vexilo::test::tableDifference;
namespace analysis = vexilo::analysis;

namespace {

using Section = PictureSyntaxModel::Section;
using Document = std::shared_ptr<const analysis::StreamAnalysis>;

constexpr vexilo::domain::PictureId kFirstPicture = 7;
constexpr vexilo::domain::PictureId kSecondPicture = 8;

analysis::StableId documentObjectId(std::uint64_t low) { return {0x1000, low}; }

// Builds the model of one section over a document, checked by the model tester.
class ShownSection {
public:
    ShownSection(Section section, Document document, vexilo::domain::PictureId picture = kFirstPicture)
        : model(section), tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest)
    {
        model.setAnalysis(std::move(document), picture);
    }

    [[nodiscard]] QString dump() const { return dumpSyntaxTree(model); }
    [[nodiscard]] QString cell(std::initializer_list<int> path, int column) const
    {
        return nodeAt(model, path, column).data().toString();
    }

    PictureSyntaxModel model;
    QAbstractItemModelTester tester;
};

analysis::ParameterSetInfo parameterSet(analysis::ParameterSetKind kind,
                                        std::vector<std::pair<const char*, std::int64_t>> elements)
{
    analysis::ParameterSetInfo set;
    set.id = documentObjectId(0x50 + static_cast<std::uint64_t>(kind));
    set.parentNalUnitId = documentObjectId(0x90);
    set.kind = kind;
    set.parameterSetId = 0;
    for (const auto& [name, value] : elements) {
        set.syntaxElements.push_back({name, value, {}});
    }
    return set;
}

Document withParameterSet(analysis::ParameterSetInfo set)
{
    auto document = std::make_shared<analysis::StreamAnalysis>();
    analysis::NalUnitInfo nal;
    nal.id = documentObjectId(0x90);
    nal.byteOffset = 10;
    nal.byteSize = 20;
    nal.kind = static_cast<analysis::NalUnitKind>(set.kind);
    document->nalUnits.push_back(nal);
    document->parameterSets.push_back(std::move(set));
    return document;
}

analysis::SeiMessageInfo seiMessage(std::uint64_t parent, std::optional<std::uint32_t> type,
                                    std::optional<std::uint64_t> size)
{
    analysis::SeiMessageInfo message;
    message.id = documentObjectId(0x300 + parent);
    message.parentNalUnitId = documentObjectId(parent);
    message.payloadType = type;
    message.payloadSize = size;
    message.status = analysis::SeiStatus::Parsed;
    return message;
}

// Sets of one kind that differ in id and in the branches and containers their rows fold into.
analysis::ParameterSetInfo variedSps(std::uint16_t number)
{
    analysis::ParameterSetInfo set = parameterSet(
        analysis::ParameterSetKind::Sps,
        {{"vui_parameters_present_flag", number % 2}, {"video_signal_type_present_flag", 1}, {"video_format", number % 6},
         {"long_term_ref_pics_present_flag", number % 3 == 0 ? 1 : 0}, {"num_long_term_ref_pics_sps", 1},
         {"lt_ref_pic_poc_lsb_sps[0]", number}, {"sps_range_extension_flag", 1}, {"implicit_rdpcm_enabled_flag", 1}});
    set.id = documentObjectId(0x5000 + number);
    set.parameterSetId = number;
    set.numShortTermRefPicSets = number % 4;
    return set;
}

// A profile with its idc, its own compatibility flag and no constraint flags.
analysis::ProfileTierLevelInfo profileOf(std::uint8_t profileIdc)
{
    analysis::ProfileTierLevelInfo entry;
    entry.profilePresentFlag = entry.levelPresentFlag = true;
    entry.profileSpace = 0;
    entry.tierFlag = false;
    entry.profileIdc = profileIdc;
    entry.profileCompatibilityFlags = 1U << profileIdc;
    return entry;
}

Document withParameterSets(std::vector<analysis::ParameterSetInfo> sets)
{
    auto document = std::const_pointer_cast<analysis::StreamAnalysis>(withParameterSet(sets.front()));
    document->parameterSets = std::move(sets);
    return document;
}

// The test class shares the anonymous namespace of the types its members hold.
class PictureSyntaxModelTest : public QObject {
    Q_OBJECT

private slots:
    void emptyDocumentShowsThePlaceholderRow()
    {
        for (const Section section : {Section::NalUnits, Section::Vps, Section::Sps, Section::Pps, Section::Sei,
                                      Section::SliceHeader}) {
            const ShownSection shown(section, std::make_shared<analysis::StreamAnalysis>());
            QCOMPARE(shown.dump(), QStringLiteral("syntax_table() | N/A |  | current PictureAnalysis | unknown | "
                                                  "No matching syntax records were present in this payload | \n"));
        }
        const ShownSection nullDocument(Section::Sps, nullptr);
        QCOMPARE(nullDocument.model.rowCount(), 1);
    }

    void statusRowAndClearReplaceEverythingInOneReset()
    {
        ShownSection shown(Section::NalUnits, std::make_shared<analysis::StreamAnalysis>());
        QSignalSpy resets(&shown.model, &QAbstractItemModel::modelReset);
        shown.model.showAnalysisStatus(QStringLiteral("Loading"), QStringLiteral("partial"));
        QCOMPARE(shown.dump(), QStringLiteral("analysis_data() | Loading |  | current PictureAnalysis | partial | "
                                              "Run Analyze Stream to populate syntax values from the repository | \n"));
        shown.model.clear();
        QCOMPARE(shown.model.rowCount(), 0);
        QCOMPARE(resets.size(), 2);
    }

    void itemQueriesOutsideTheTreeAreInvalid()
    {
        const ShownSection shown(Section::NalUnits, nalDocument());
        QVERIFY(!shown.model.index(0, 7).isValid());
        QVERIFY(!shown.model.index(-1, 0).isValid());
        QCOMPARE(shown.model.rowCount(shown.model.index(0, 3)), 0);
        QVERIFY(!shown.model.headerData(0, Qt::Vertical).isValid());
        QCOMPARE(shown.model.headerData(6, Qt::Horizontal).toString(), QStringLiteral("Spec"));
        QVERIFY(!shown.model.index(0, 0).data(Qt::ToolTipRole).isValid());
    }

    void nalUnitsOfThePictureWithTheirHeaderGroup()
    {
        const ShownSection shown(Section::NalUnits, nalDocument());
        QCOMPARE(shown.dump(), QStringLiteral(R"(nal_unit() | Slice byte=100 size=50 id:00000011 |  | Annex-B NAL byte order | present | HEVC network abstraction layer unit | H.265 (07/2024) 7.3.1.1-7.3.1.2
  start_code_prefix | 4 |  | Annex-B byte stream | present | Start-code length in bytes when the observer can determine it | 
  nal_unit_header() |  |  | nal_unit_header() | condition | HEVC NAL unit header | H.265 (07/2024) 7.3.1.1-7.3.1.2
    forbidden_zero_bit | N/A | f(1) | nal_unit_header() | unsupported | Forbidden zero bit | H.265 (07/2024) 7.3.1.1-7.3.1.2
    nal_unit_type | 1 | u(6) | nal_unit_header() | present | NAL unit type | H.265 (07/2024) 7.3.1.1-7.3.1.2
    nuh_layer_id | 0 | u(6) | nal_unit_header() | present | NAL unit header layer identifier | H.265 (07/2024) 7.3.1.1-7.3.1.2
    nuh_temporal_id_plus1 | 1 | u(3) | nal_unit_header() | present | Temporal identifier plus one | H.265 (07/2024) 7.3.1.1-7.3.1.2
  rbsp_byte[] | abc |  | NAL payload | derived | Payload bytes are not stored; content hash is retained for identity | 
  byte_offset | 100 |  | input stream | derived | Input byte offset; partial when FFmpeg could not report reliable location | 
nal_unit() | VPS byte=0 size=24 id:00000012 |  | Annex-B NAL byte order | present | HEVC network abstraction layer unit | H.265 (07/2024) 7.3.1.1-7.3.1.2
  start_code_prefix | N/A |  | Annex-B byte stream | unknown | Start-code length in bytes when the observer can determine it | 
  nal_unit_header() |  |  | nal_unit_header() | condition | HEVC NAL unit header | H.265 (07/2024) 7.3.1.1-7.3.1.2
    forbidden_zero_bit | N/A | f(1) | nal_unit_header() | unsupported | Forbidden zero bit | H.265 (07/2024) 7.3.1.1-7.3.1.2
    nal_unit_type | N/A | u(6) | nal_unit_header() | unknown | NAL unit type | H.265 (07/2024) 7.3.1.1-7.3.1.2
    nuh_layer_id | N/A | u(6) | nal_unit_header() | unknown | NAL unit header layer identifier | H.265 (07/2024) 7.3.1.1-7.3.1.2
    nuh_temporal_id_plus1 | N/A | u(3) | nal_unit_header() | unknown | Temporal identifier plus one | H.265 (07/2024) 7.3.1.1-7.3.1.2
  rbsp_byte[] |  |  | NAL payload | unknown | Payload bytes are not stored; content hash is retained for identity | 
  byte_offset | 0 |  | input stream | partial | Input byte offset; partial when FFmpeg could not report reliable location | 
)"));
        // The unit without a picture is shown for every picture; the other picture's unit is not.
        const ShownSection second(Section::NalUnits, nalDocument(), kSecondPicture);
        QCOMPARE(second.model.rowCount(), 2);
        QCOMPARE(second.cell({1}, 1), QStringLiteral("Slice byte=200 size=60 id:00000013"));
    }

    void seiMessagesWithTheirExtensionBytesAndPayloads()
    {
        const ShownSection shown(Section::Sei, seiDocument());
        QCOMPARE(shown.dump(), QStringLiteral(R"(sei_rbsp() | Prefix SEI byte=0 size=320 id:00000021 |  | SEI NAL unit | present | Supplemental enhancement information RBSP | H.265 (07/2024) 7.3.2.4
  sei_message() | user_data_registered_itu_t_t35, 300 byte(s) |  | do ... while( more_rbsp_data() ) | parsed | One supplemental enhancement information message | H.265 (07/2024) 7.3.5
    last_payload_type_byte | 4 | u(8) | sei_message() | present | Last byte of the payload type | H.265 (07/2024) 7.3.5
    while( next_bits( 8 ) == 0xFF ) |  |  | while( next_bits( 8 ) == 0xFF ) for payloadSize | condition | Conditional syntax branch from Rec. ITU-T H.265 | H.265 (07/2024) 7.3.5
      ff_byte | 255 × 1 | f(8) | while( next_bits( 8 ) == 0xFF ) for payloadSize | present | Payload type or payload size extension byte | H.265 (07/2024) 7.3.5
    last_payload_size_byte | 45 | u(8) | sei_message() | present | Last byte of the payload size | H.265 (07/2024) 7.3.5
    sei_payload( payloadType, payloadSize ) | user_data_registered_itu_t_t35 |  | sei_message() | partial | Payload syntax selected by payloadType | H.265 (07/2024) D.2.1
      itu_t_t35_country_code | 181 | b(8) | user_data_registered_itu_t_t35 | present | ITU-T T.35 country code | H.265 (07/2024) D.2.6
      itu_t_t35_payload_byte[0] | 0x31 | b(8) | user_data_registered_itu_t_t35 | present | Registered user data byte | H.265 (07/2024) D.2.6
  sei_message() | payload_type_255, N/A byte(s) |  | do ... while( more_rbsp_data() ) | parsed | One supplemental enhancement information message | H.265 (07/2024) 7.3.5
    while( next_bits( 8 ) == 0xFF ) |  |  | while( next_bits( 8 ) == 0xFF ) for payloadType | condition | Conditional syntax branch from Rec. ITU-T H.265 | H.265 (07/2024) 7.3.5
      ff_byte | 255 × 1 | f(8) | while( next_bits( 8 ) == 0xFF ) for payloadType | present | Payload type or payload size extension byte | H.265 (07/2024) 7.3.5
    last_payload_type_byte | 0 | u(8) | sei_message() | present | Last byte of the payload type | H.265 (07/2024) 7.3.5
    sei_payload( payloadType, payloadSize ) | payload_type_255 |  | sei_message() | parsed | Payload syntax selected by payloadType | H.265 (07/2024) D.2.1
  rbsp_trailing_bits() | N/A |  | sei_rbsp() | validated | RBSP alignment and stop bits | H.265 (07/2024) 7.3.2.11
sei_rbsp() | SEI parent=id:00000099 |  | SEI NAL unit | partial | Supplemental enhancement information RBSP | H.265 (07/2024) 7.3.2.4
  sei_message() | unknown payload type, 2 byte(s) |  | do ... while( more_rbsp_data() ) | parsed | One supplemental enhancement information message | H.265 (07/2024) 7.3.5
    last_payload_size_byte | 2 | u(8) | sei_message() | present | Last byte of the payload size | H.265 (07/2024) 7.3.5
    sei_payload( payloadType, payloadSize ) | N/A |  | sei_message() | parsed | Payload syntax selected by payloadType | H.265 (07/2024) D.2.1
      recovery_poc_cnt | 0 | se(v) | unknown payload type | present | Recovery point POC count | H.265 (07/2024) D.2.8
)"));
        QCOMPARE(nodeAt(shown.model, {0, 0, 3}).siblingAtColumn(5).data(), QVariant(QStringLiteral("Payload syntax selected by payloadType")));

        auto unnamed = std::make_shared<analysis::StreamAnalysis>(*seiDocument());
        unnamed->seiMessages = {seiMessage(0x21, 200, 0)};
        const ShownSection other(Section::Sei, unnamed);
        QCOMPARE(other.cell({0, 0}, 1), QStringLiteral("payload_type_200, 0 byte(s)"));
        // The other picture's message alone: its SEI NAL unit adds nothing.
        const ShownSection second(Section::Sei, seiDocument(), kSecondPicture);
        QCOMPARE(second.model.rowCount(), 2);
        QCOMPARE(second.cell({1}, 1), QStringLiteral("SEI parent=id:00000099"));
    }

    // The branches 7.3.3 takes for a profile: the 14-bit flag for profile 5, the 43 reserved bits
    // for profile 3, the reserved bit instead of inbld for profile 6; sub-layer data follows
    // the flag pairs and the alignment bits, each part under its own sub-layer's flag.
    void profileTierLevelRowsTakeTheirProfilesBranches()
    {
        analysis::ParameterSetInfo set = parameterSet(analysis::ParameterSetKind::Vps, {});
        analysis::ProfileTierLevelInfo general = profileOf(5);
        constexpr std::uint16_t kAllConstraintFlags = 0x7FFF;
        constexpr std::uint16_t kSetFlags = 0x1039;  // progressive, frame-only, 12-bit, 10-bit, lower bit rate
        analysis::setProfileConstraintFlags(general, kSetFlags, kAllConstraintFlags);
        general.levelIdc = 93;
        analysis::ProfileTierLevelInfo stillPicture = profileOf(3);
        stillPicture.subLayerId = 0;
        stillPicture.levelPresentFlag = true;
        stillPicture.levelIdc = 90;
        analysis::ProfileTierLevelInfo multiview = profileOf(6);
        multiview.subLayerId = 1;
        multiview.levelPresentFlag = false;
        set.profileTierLevels = {general, stillPicture, multiview};
        set.maxSubLayers = 3;
        const ShownSection shown(Section::Vps, withParameterSet(set));
        const QModelIndex ptl = nodeAt(shown.model, {0, 7});
        const QString table = syntaxTable(shown.model, ptl, {QStringLiteral("for( j = 0; j < 32; j++ )")});
        const QString expected = QStringLiteral(R"(profile_tier_level( 1, vps_max_sub_layers_minus1 )
  if( profilePresentFlag )
    general_profile_space = 0
    general_tier_flag = false
    general_profile_idc = 5
    for( j = 0; j < 32; j++ ) [32 rows]
    general_progressive_source_flag = true
    general_interlaced_source_flag = false
    general_non_packed_constraint_flag = false
    general_frame_only_constraint_flag = true
    if( general_profile_idc == 4 || general_profile_compatibility_flag[ 4 ] || general_profile_idc == 5 || general_profile_compatibility_flag[ 5 ] || general_profile_idc == 6 || general_profile_compatibility_flag[ 6 ] || general_profile_idc == 7 || general_profile_compatibility_flag[ 7 ] || general_profile_idc == 8 || general_profile_compatibility_flag[ 8 ] || general_profile_idc == 9 || general_profile_compatibility_flag[ 9 ] || general_profile_idc == 10 || general_profile_compatibility_flag[ 10 ] || general_profile_idc == 11 || general_profile_compatibility_flag[ 11 ] )
      general_max_12bit_constraint_flag = true
      general_max_10bit_constraint_flag = true
      general_max_8bit_constraint_flag = false
      general_max_422chroma_constraint_flag = false
      general_max_420chroma_constraint_flag = false
      general_max_monochrome_constraint_flag = false
      general_intra_constraint_flag = false
      general_one_picture_only_constraint_flag = false
      general_lower_bit_rate_constraint_flag = true
      if( general_profile_idc == 5 || general_profile_compatibility_flag[ 5 ] || general_profile_idc == 9 || general_profile_compatibility_flag[ 9 ] || general_profile_idc == 10 || general_profile_compatibility_flag[ 10 ] || general_profile_idc == 11 || general_profile_compatibility_flag[ 11 ] )
        general_max_14bit_constraint_flag = false
        general_reserved_zero_33bits = N/A
    if( general_profile_idc == 1 || general_profile_compatibility_flag[ 1 ] || general_profile_idc == 2 || general_profile_compatibility_flag[ 2 ] || general_profile_idc == 3 || general_profile_compatibility_flag[ 3 ] || general_profile_idc == 4 || general_profile_compatibility_flag[ 4 ] || general_profile_idc == 5 || general_profile_compatibility_flag[ 5 ] || general_profile_idc == 9 || general_profile_compatibility_flag[ 9 ] || general_profile_idc == 11 || general_profile_compatibility_flag[ 11 ] )
      general_inbld_flag = false
  general_level_idc = 93
  for( i = 0; i < maxNumSubLayersMinus1; i++ )
    sub_layer_profile_present_flag[0] = true
    sub_layer_level_present_flag[0] = true
    sub_layer_profile_present_flag[1] = true
    sub_layer_level_present_flag[1] = false
  if( maxNumSubLayersMinus1 > 0 )
    for( i = maxNumSubLayersMinus1; i < 8; i++ )
      reserved_zero_2bits[2] = N/A
      reserved_zero_2bits[3] = N/A
      reserved_zero_2bits[4] = N/A
      reserved_zero_2bits[5] = N/A
      reserved_zero_2bits[6] = N/A
      reserved_zero_2bits[7] = N/A
  for( i = 0; i < maxNumSubLayersMinus1; i++ )
    if( sub_layer_profile_present_flag[ i ] )
      sub_layer_profile_space[0] = 0
      sub_layer_tier_flag[0] = false
      sub_layer_profile_idc[0] = 3
      for( j = 0; j < 32; j++ ) [32 rows]
      else
        sub_layer_reserved_zero_43bits[0] = N/A
    if( sub_layer_level_present_flag[ i ] )
      sub_layer_level_idc[0] = 90
    if( sub_layer_profile_present_flag[ i ] )
      sub_layer_profile_space[1] = 0
      sub_layer_tier_flag[1] = false
      sub_layer_profile_idc[1] = 6
      for( j = 0; j < 32; j++ ) [32 rows]
      if( sub_layer_profile_idc[ i ] == 4 || sub_layer_profile_compatibility_flag[ i ][ 4 ] || sub_layer_profile_idc[ i ] == 5 || sub_layer_profile_compatibility_flag[ i ][ 5 ] || sub_layer_profile_idc[ i ] == 6 || sub_layer_profile_compatibility_flag[ i ][ 6 ] || sub_layer_profile_idc[ i ] == 7 || sub_layer_profile_compatibility_flag[ i ][ 7 ] || sub_layer_profile_idc[ i ] == 8 || sub_layer_profile_compatibility_flag[ i ][ 8 ] || sub_layer_profile_idc[ i ] == 9 || sub_layer_profile_compatibility_flag[ i ][ 9 ] || sub_layer_profile_idc[ i ] == 10 || sub_layer_profile_compatibility_flag[ i ][ 10 ] || sub_layer_profile_idc[ i ] == 11 || sub_layer_profile_compatibility_flag[ i ][ 11 ] )
        else
          sub_layer_reserved_zero_34bits[1] = N/A
      else
        sub_layer_reserved_zero_bit[1] = N/A
)");
        QVERIFY2(table == expected, qPrintable(tableDifference(table, expected)));

        // Without a stored count, the highest listed sub-layer bounds the structure.
        set.maxSubLayers.reset();
        multiview.subLayerId = 2;
        set.profileTierLevels = {general, multiview};
        const ShownSection uncounted(Section::Vps, withParameterSet(set));
        QVERIFY(findNode(uncounted.model, QStringLiteral("reserved_zero_2bits[3]")).isValid());
        QVERIFY(!findNode(uncounted.model, QStringLiteral("reserved_zero_2bits[2]")).isValid());
    }

    void vpsLayerSetsTimingAndHrdRows()
    {
        analysis::ParameterSetInfo set = parameterSet(analysis::ParameterSetKind::Vps, {});
        set.vpsMaxLayerId = 2;
        set.vpsNumLayerSets = 2;
        set.vpsLayerSets = {{1, 0b101}, {2, 0b010}};
        set.vpsTimingInfoPresent = true;
        set.vpsNumUnitsInTick = 1001;
        set.vpsPocProportionalToTiming = false;
        set.vpsNumTicksPocDiffOne = 5;
        set.vpsNumHrdParameters = 0;
        const ShownSection shown(Section::Vps, withParameterSet(set));
        const QString dump = shown.dump();
        QVERIFY2(dump.contains(QStringLiteral(R"(
  for( i = 1; i <= vps_num_layer_sets_minus1; i++ ) |  |  | vps layer-set loop | condition | VPS layer-set syntax loop | H.265 (07/2024) 7.3.2.1
    for( j = 0; j <= vps_max_layer_id; j++ ) |  |  | vps layer-set loop | condition | VPS layer-membership syntax loop | H.265 (07/2024) 7.3.2.1
      layer_id_included_flag[1][0] | true | u(1) | vps layer-set loop | present | Layer membership in a layer set | H.265 (07/2024) 7.3.2.1
      layer_id_included_flag[1][1] | false | u(1) | vps layer-set loop | present | Layer membership in a layer set | H.265 (07/2024) 7.3.2.1
      layer_id_included_flag[1][2] | true | u(1) | vps layer-set loop | present | Layer membership in a layer set | H.265 (07/2024) 7.3.2.1
      layer_id_included_flag[2][0] | false | u(1) | vps layer-set loop | present | Layer membership in a layer set | H.265 (07/2024) 7.3.2.1
      layer_id_included_flag[2][1] | true | u(1) | vps layer-set loop | present | Layer membership in a layer set | H.265 (07/2024) 7.3.2.1
      layer_id_included_flag[2][2] | false | u(1) | vps layer-set loop | present | Layer membership in a layer set | H.265 (07/2024) 7.3.2.1
  vps_timing_info_present_flag | true | u(1) | video_parameter_set_rbsp() | present | VPS timing information present | H.265 (07/2024) 7.3.2.1
  if( vps_timing_info_present_flag ) |  |  | vps_timing_info_present_flag == true | condition | Conditional syntax branch from Rec. ITU-T H.265 | H.265 (07/2024) 7.3.2.1
    vps_num_units_in_tick | 1001 | u(32) | vps_timing_info_present_flag == true | present | VPS time units per clock tick | H.265 (07/2024) 7.3.2.1
    vps_poc_proportional_to_timing_flag | false | u(1) | vps_timing_info_present_flag == true | present | VPS POC proportional to timing | H.265 (07/2024) 7.3.2.1
    vps_num_hrd_parameters | 0 | ue(v) | vps_timing_info_present_flag == true | present | Number of VPS HRD parameter structures | H.265 (07/2024) 7.3.2.1
  vps_extension_flag | N/A | u(1) | video_parameter_set_rbsp() | unknown | VPS extension present | H.265 (07/2024) 7.3.2.1
)")), qPrintable(dump));
        QVERIFY(!dump.contains(QStringLiteral("vps_num_ticks_poc_diff_one_minus1")));
        QVERIFY(!dump.contains(QStringLiteral("vps HRD loop")));

        // 7.3.2.1: the tick count under its flag, the HRD loop after the count, all inside the
        // timing branch; the first HRD structure codes no common-parameter flag.
        set.vpsTimeScale = 60000;
        set.vpsPocProportionalToTiming = true;
        set.vpsNumTicksPocDiffOne = 4;
        set.vpsNumHrdParameters = 2;
        const ShownSection hrd(Section::Vps, withParameterSet(set));
        const QString timing = syntaxTable(hrd.model, findNode(hrd.model, QStringLiteral("if( vps_timing_info_present_flag )")));
        const QString expected = QStringLiteral(R"(if( vps_timing_info_present_flag )
  vps_num_units_in_tick = 1001
  vps_time_scale = 60000
  vps_poc_proportional_to_timing_flag = true
  if( vps_poc_proportional_to_timing_flag )
    vps_num_ticks_poc_diff_one_minus1 = 4
  vps_num_hrd_parameters = 2
  for( i = 0; i < vps_num_hrd_parameters; i++ )
    hrd_layer_set_idx[] = N/A
    if( i > 0 )
      cprms_present_flag[] = N/A
    hrd_parameters( cprms_present_flag[ i ], vps_max_sub_layers_minus1 )
)");
        QVERIFY2(timing == expected, qPrintable(tableDifference(timing, expected)));
        set.vpsNumHrdParameters = 1;
        QVERIFY(!ShownSection(Section::Vps, withParameterSet(set)).dump().contains(QStringLiteral("cprms_present_flag[]")));

        set.vpsTimingInfoPresent = false;
        set.vpsMaxLayerId.reset();
        const ShownSection untimed(Section::Vps, withParameterSet(set));
        QVERIFY(!untimed.dump().contains(QStringLiteral("vps_num_units_in_tick")));
        QVERIFY(!untimed.dump().contains(QStringLiteral("layer_id_included_flag")));

        // Layer sets announced but not exported: one placeholder row, and none for a single set.
        set.vpsLayerSets.clear();
        const ShownSection unexported(Section::Vps, withParameterSet(set));
        QVERIFY(unexported.dump().contains(QStringLiteral(
            "      layer_id_included_flag[][] | N/A | u(1) | vps layer-set loop | unsupported | Layer membership in a layer set")));
        set.vpsNumLayerSets = 1;
        const ShownSection single(Section::Vps, withParameterSet(set));
        QVERIFY(!single.dump().contains(QStringLiteral("layer_id_included_flag")));
    }

    void spsCodesAmpSaoAndPcmBeforeTheReferencePictureSets()
    {
        analysis::ParameterSetInfo set = parameterSet(
            analysis::ParameterSetKind::Sps,
            {{"amp_enabled_flag", 1}, {"pcm_enabled_flag", 0}, {"long_term_ref_pics_present_flag", 1},
             {"num_long_term_ref_pics_sps", 1}, {"lt_ref_pic_poc_lsb_sps[0]", 4}, {"used_by_curr_pic_lt_sps_flag[0]", 1},
             {"sps_max_dec_pic_buffering_minus1[2]", 4}, {"sps_sub_layer_ordering_info_present_flag", 1}});
        set.numShortTermRefPicSets = 3;
        set.sampleAdaptiveOffsetEnabled = true;
        set.maxSubLayers = 0;
        const ShownSection shown(Section::Sps, withParameterSet(set));
        QStringList names;
        for (int row = 0; row < shown.model.rowCount(nodeAt(shown.model, {0})); ++row) {
            names << shown.cell({0, row}, 0);
        }
        const auto position = [&names](const char* name) { return names.indexOf(QLatin1String(name)); };
        QVERIFY(position("amp_enabled_flag") < position("sample_adaptive_offset_enabled_flag"));
        QVERIFY(position("sample_adaptive_offset_enabled_flag") < position("pcm_enabled_flag"));
        QVERIFY(position("pcm_enabled_flag") < position("num_short_term_ref_pic_sets"));
        QVERIFY(position("num_short_term_ref_pic_sets") <
                position("for( i = 0; i < num_short_term_ref_pic_sets; i++ )"));
        QVERIFY(position("for( i = 0; i < num_short_term_ref_pic_sets; i++ )") <
                position("long_term_ref_pics_present_flag"));
        QVERIFY(position("sps_sub_layer_ordering_info_present_flag") <
                position("for( i = sps_sub_layer_ordering_info_present_flag ? 0 : sps_max_sub_layers_minus1; "
                         "i <= sps_max_sub_layers_minus1; i++ )"));
        QCOMPARE(names.mid(names.size() - 3),
                 (QStringList{"rbsp_trailing_bits()", "CtbLog2SizeY", "rbsp_hash"}));
        const QString dump = shown.dump();
        QVERIFY(dump.contains(QStringLiteral("    st_ref_pic_set( stRpsIdx ) | N/A |  | SPS short-term RPS loop | "
                                             "unsupported | Short-term reference picture set syntax | H.265 (07/2024) 7.3.7")));
        QVERIFY(dump.contains(QStringLiteral("  sps_max_sub_layers_minus1 | N/A | u(3) | seq_parameter_set_rbsp() | present")));
        QVERIFY2(dump.contains(QStringLiteral("\n    for( i = 0; i < num_long_term_ref_pics_sps; i++ ) |  |  | "
                                              "long_term_ref_pics_present_flag == true && SPS long-term picture loop | "
                                              "condition | Conditional syntax branch from Rec. ITU-T H.265 | H.265 (07/2024) 7.3.2.2\n"
                                              "      lt_ref_pic_poc_lsb_sps[0] | 4 | u(v) |")),
                 qPrintable(dump));
    }

    // Only the parameter sets a view opens are folded, and the tree reads the same whichever order
    // they are opened in and as each set reads alone.
    void parameterSetsFoldWhenAViewFirstOpensThem()
    {
        constexpr int kSets = 24;
        std::vector<analysis::ParameterSetInfo> sets;
        for (int number = 0; number < kSets; ++number) {
            sets.push_back(variedSps(static_cast<std::uint16_t>(number)));
        }
        const Document document = withParameterSets(sets);

        PictureSyntaxModel opened(Section::Sps);
        opened.setAnalysis(document, kFirstPicture);
        QCOMPARE(opened.rowCount(), kSets);
        for (int row = 0; row < kSets; ++row) {
            const QModelIndex set = opened.index(row, 0);
            QVERIFY(opened.hasChildren(set));
            QVERIFY(!(opened.flags(set) & Qt::ItemNeverHasChildren));
            QCOMPARE(set.data().toString(), QStringLiteral("seq_parameter_set_rbsp()"));
        }
        QCOMPARE(opened.madeRowCount(), std::size_t{kSets});

        const QModelIndex fifth = opened.index(5, 0);
        const int children = opened.rowCount(fifth);
        QVERIFY(children > 5);
        const std::size_t afterOne = opened.madeRowCount();
        QVERIFY(afterOne >= std::size_t{kSets} + static_cast<std::size_t>(children));
        QVERIFY(opened.flags(opened.index(0, 0, fifth)) & Qt::ItemNeverHasChildren);
        (void)opened.index(1, 0, fifth);
        QCOMPARE(opened.madeRowCount(), afterOne);

        PictureSyntaxModel backwards(Section::Sps);
        backwards.setAnalysis(document, kFirstPicture);
        for (int row = kSets - 1; row >= 0; --row) {
            (void)backwards.index(0, 0, backwards.index(row, 0));
        }
        QString alone;
        for (const analysis::ParameterSetInfo& set : sets) {
            alone += ShownSection(Section::Sps, withParameterSet(set)).dump();
        }
        QCOMPARE(dumpSyntaxTree(backwards), alone);
        QCOMPARE(dumpSyntaxTree(opened), alone);
        QAbstractItemModelTester tester(&opened, QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    // A new document replaces the unopened sets, whose rows read the old one.
    void aNewDocumentDropsTheSetsNotYetOpened()
    {
        PictureSyntaxModel model(Section::Sps);
        model.setAnalysis(withParameterSets({variedSps(1), variedSps(2)}), kFirstPicture);
        model.setAnalysis(withParameterSets({variedSps(3)}), kFirstPicture);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(dumpSyntaxTree(model), ShownSection(Section::Sps, withParameterSet(variedSps(3))).dump());
        model.showAnalysisStatus(QStringLiteral("Loading"), QStringLiteral("partial"));
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.rowCount(model.index(0, 0)), 0);
        QVERIFY(!model.hasChildren(model.index(0, 0)));
    }

    // A view may still walk the old tree while it hears that a reset begins. Rows not folded yet
    // are folded then, from the old document, which the model alone held: every replacement
    // must keep it (and its NAL unit index) until the reset has begun. The model tester folds
    // every row as soon as it is attached, so it watches a second run of each case.
    void theOldTreeReadsTheOldDocumentWhileTheResetBegins()
    {
        const std::vector<std::pair<Section, std::function<Document()>>> documents{
            {Section::Sps, [] { return withParameterSets({variedSps(1), variedSps(2)}); }},
            {Section::NalUnits, [] { return nalDocument(); }},
        };
        const std::vector<std::pair<const char*, std::function<void(PictureSyntaxModel&)>>> replacements{
            {"another document", [](PictureSyntaxModel& model) { model.setAnalysis(seiDocument(), kSecondPicture); }},
            {"a status row",
             [](PictureSyntaxModel& model) {
                 model.showAnalysisStatus(QStringLiteral("Loading"), QStringLiteral("partial"));
             }},
            {"nothing", [](PictureSyntaxModel& model) { model.clear(); }},
        };
        for (const auto& [section, document] : documents) {
            for (const auto& [name, replace] : replacements) {
                for (const bool tested : {false, true}) {
                    const QString oldTree = ShownSection(section, document()).dump();
                    PictureSyntaxModel model(section);
                    const auto tester = tested ? vexilo::test::watch(&model) : nullptr;
                    model.setAnalysis(document(), kFirstPicture);
                    QString walked;
                    QObject::connect(&model, &QAbstractItemModel::modelAboutToBeReset,
                                     [&walked, &model] { walked = dumpSyntaxTree(model); });
                    replace(model);
                    QVERIFY2(walked == oldTree, name);
                    QVERIFY2(dumpSyntaxTree(model) != oldTree, name);
                }
            }
        }
    }

    void vuiContainerEndsWithItsOwnRows()
    {
        // No sps_extension_present_flag exported: the rows after the VUI still leave it.
        const analysis::ParameterSetInfo set = parameterSet(
            analysis::ParameterSetKind::Sps,
            {{"vui_parameters_present_flag", 1}, {"video_signal_type_present_flag", 1}, {"video_format", 5},
             {"vui_hrd_parameters_present_flag", 1}, {"sps_range_extension_flag", 1},
             {"implicit_rdpcm_enabled_flag", 1}, {"sps_extension_4bits", 0}});
        const ShownSection shown(Section::Sps, withParameterSet(set));
        const QString table = syntaxTable(shown.model, shown.model.index(0, 0));
        QVERIFY2(table.endsWith(QStringLiteral(R"(
  vui_parameters_present_flag = 1
  if( vui_parameters_present_flag )
    vui_parameters()
      video_signal_type_present_flag = 1
      if( video_signal_type_present_flag )
        video_format = 5
      if( vui_timing_info_present_flag )
        vui_hrd_parameters_present_flag = 1
        if( vui_hrd_parameters_present_flag )
          hrd_parameters()
  if( sps_extension_present_flag )
    sps_range_extension_flag = 1
    sps_extension_4bits = 0
  if( sps_range_extension_flag )
    sps_range_extension()
      implicit_rdpcm_enabled_flag = 1
  rbsp_trailing_bits()
  CtbLog2SizeY
  rbsp_hash
)")),
                 qPrintable(table));
    }

    void vuiRowsWithoutTheVuiStructure()
    {
        const analysis::ParameterSetInfo set = parameterSet(
            analysis::ParameterSetKind::Sps, {{"vui_parameters_present_flag", 0}, {"aspect_ratio_info_present_flag", 0}});
        const ShownSection shown(Section::Sps, withParameterSet(set));
        const QString dump = shown.dump();
        QVERIFY(!dump.contains(QStringLiteral("\n  vui_parameters() |")));
        QVERIFY2(dump.contains(QStringLiteral("\n  vui_parameters_present_flag | 0 | u(1) | seq_parameter_set_rbsp() | present")),
                 qPrintable(dump));
        QVERIFY2(dump.contains(QStringLiteral("\n  aspect_ratio_info_present_flag | 0 | u(1) | vui_parameters() | present")),
                 qPrintable(dump));
    }

    void ppsRangeExtensionAndTileBranches()
    {
        const analysis::ParameterSetInfo set = parameterSet(
            analysis::ParameterSetKind::Pps,
            {{"tiles_enabled_flag", 1}, {"num_tile_columns_minus1", 1}, {"num_tile_rows_minus1", 1},
             {"uniform_spacing_flag", 0}, {"column_width_minus1[0]", 3}, {"row_height_minus1[0]", 2},
             {"loop_filter_across_tiles_enabled_flag", 1}, {"pps_extension_present_flag", 1},
             {"pps_range_extension_flag", 1}, {"pps_extension_4bits", 1}, {"cross_component_prediction_enabled_flag", 0},
             {"log2_sao_offset_scale_luma", 1}});
        const ShownSection shown(Section::Pps, withParameterSet(set));
        const QString table = syntaxTable(shown.model, shown.model.index(0, 0));
        QVERIFY2(table.endsWith(QStringLiteral(R"(
  tiles_enabled_flag = 1
  if( tiles_enabled_flag )
    num_tile_columns_minus1 = 1
    num_tile_rows_minus1 = 1
    uniform_spacing_flag = 0
    if( !uniform_spacing_flag )
      for( i = 0; i < num_tile_columns_minus1; i++ )
        column_width_minus1[0] = 3
      for( i = 0; i < num_tile_rows_minus1; i++ )
        row_height_minus1[0] = 2
    loop_filter_across_tiles_enabled_flag = 1
  pps_extension_present_flag = 1
  if( pps_extension_present_flag )
    pps_range_extension_flag = 1
    pps_extension_4bits = 1
  if( pps_range_extension_flag )
    pps_range_extension()
      cross_component_prediction_enabled_flag = 0
      log2_sao_offset_scale_luma = 1
  if( pps_extension_4bits ) while( more_rbsp_data() )
    pps_extension_data_flag = N/A
  rbsp_trailing_bits()
  rbsp_hash
)")),
                 qPrintable(table));
    }

    void sliceHeaderRowsAndItsReferenceStructures()
    {
        const ShownSection shown(Section::SliceHeader, sliceDocument());
        QCOMPARE(shown.model.rowCount(), 2);  // the picture's slice and the slice without a picture
        const QModelIndex first = nodeAt(shown.model, {0});
        QCOMPARE(first.siblingAtColumn(1).data().toString(), QStringLiteral("Slice P POC=8 CTU=0 id:00000041"));
        const QString dump = shown.dump();
        QVERIFY2(dump.contains(QStringLiteral(R"(
  if( !dependent_slice_segment_flag ) |  |  | independent slice segment | condition | Conditional syntax branch from Rec. ITU-T H.265 | H.265 (07/2024) 7.3.6.1
    slice_type | N/A | ue(v) | independent slice segment | unknown | Slice coding type | H.265 (07/2024) 7.3.6.1
    if( output_flag_present_flag ) |  |  | independent slice segment && output_flag_present_flag == true | condition | Conditional syntax branch from Rec. ITU-T H.265 | H.265 (07/2024) 7.3.6.1
      pic_output_flag | N/A | u(1) | independent slice segment && output_flag_present_flag == true | unknown | Picture output and removal | H.265 (07/2024) 7.3.6.1
)")), qPrintable(dump));
        QVERIFY2(dump.contains(QStringLiteral(R"(
          num_ref_idx_l1_active_minus1 | N/A | ue(v) | independent slice segment && P/B slice && num_ref_idx_active_override_flag == true && B slice | present | Active L1 references minus one | H.265 (07/2024) 7.3.6.1
      if( lists_modification_present_flag && NumPicTotalCurr > 1 ) |  |  | independent slice segment && P/B slice && lists_modification_present_flag == true && NumPicTotalCurr > 1 | condition | Conditional syntax branch from Rec. ITU-T H.265 | H.265 (07/2024) 7.3.6.2
        ref_pic_lists_modification() |  |  | independent slice segment && P/B slice && lists_modification_present_flag == true && NumPicTotalCurr > 1 | present | Reference picture list modification syntax | H.265 (07/2024) 7.3.6.2
          ref_pic_list_modification_flag_l0 | true | u(1) | ref_pic_lists_modification() | present | Reference picture list 0 modified | H.265 (07/2024) 7.3.6.2
          if( slice_type == B ) |  |  | B slice | condition | Conditional syntax branch from Rec. ITU-T H.265 | H.265 (07/2024) 7.3.6.2
            ref_pic_list_modification_flag_l1 | N/A | u(1) | B slice | unknown | Reference picture list 1 modified | H.265 (07/2024) 7.3.6.2
    slice_qp_delta | N/A | se(v) | independent slice segment | unknown | Slice QP delta | H.265 (07/2024) 7.3.6.1
)")), qPrintable(dump));
        QVERIFY2(dump.contains(QStringLiteral(R"(
  effective_slice_type | P |  | derived decoder state | derived | Effective type after dependent-slice inheritance | 
  PicOrderCntVal | 8 |  | derived decoder state | present | Derived HEVC POC | 
  first_ctu_address | 0 |  | derived decoder state | present | Effective first CTU address used by block association | 
  SliceQpY | N/A |  | derived decoder state | unknown | Final slice QP before CU/TU deltas | 
  tile_id | N/A |  | derived decoder state | unknown | Tile id associated with this slice when exported | 
  st_ref_pic_set[0] | delta_poc=-1 poc=7 used=true negative=true |  | short-term RPS | slice-header/derived | Short-term RPS entry exported after slice header parsing | 
  st_ref_pic_set[1] | delta_poc=N/A poc=N/A used=N/A negative=N/A |  | short-term RPS | derived/unknown | Short-term RPS entry exported after slice header parsing | 
  st_ref_pic_set[N/A] | delta_poc=N/A poc=N/A used=N/A negative=N/A |  | short-term RPS | derived/unknown | Short-term RPS entry exported after slice header parsing | 
  lt_ref_pic_set[0] | poc_lsb=0 poc=0 used=false delta_msb=1 |  | long-term RPS | sps | Long-term RPS entry exported after slice header parsing | 
  RefPicListL0[0] | picture=3 poc=7 long_term=false |  | derived reference list | available | Actual L0/L1 reference identity used by prediction | 
  RefPicListL1[0] | picture=N/A poc=N/A long_term=N/A |  | derived reference list | unknown | Actual L0/L1 reference identity used by prediction | 
  RefPicListUnknown[N/A] | picture=N/A poc=N/A long_term=N/A |  | derived reference list | unknown | Actual L0/L1 reference identity used by prediction | 
  RefPicListL0[1] | picture=N/A poc=N/A long_term=N/A |  | derived reference list | unknown | Actual L0/L1 reference identity used by prediction | 
)")), qPrintable(dump));
        const std::function<int(const QModelIndex&)> leavesBelow = [&](const QModelIndex& parent) {
            int leaves = 0;
            for (int row = 0; row < shown.model.rowCount(parent); ++row) {
                const QModelIndex child = shown.model.index(row, 0, parent);
                leaves += shown.model.rowCount(child) == 0 ? 1 : leavesBelow(child);
            }
            return leaves;
        };
        QCOMPARE(leavesBelow(first), 24 - 1 + 3 + 1 + 4 + 5);
    }

    // A slice uses the last picture parameter set of its id sent before it: the weight table
    // shows where that set enables weighted prediction for the slice's type.
    void predWeightTableFollowsTheSlicesPictureParameterSet()
    {
        auto document = std::make_shared<analysis::StreamAnalysis>();
        const auto addUnit = [&](std::uint64_t id, std::uint64_t offset) {
            analysis::NalUnitInfo unit;
            unit.id = documentObjectId(id);
            unit.byteOffset = offset;
            document->nalUnits.push_back(unit);
        };
        for (const auto& [unit, offset, weighted] : {std::tuple{0x61, 0, 1}, std::tuple{0x62, 500, 0}}) {
            addUnit(static_cast<std::uint64_t>(unit), static_cast<std::uint64_t>(offset));
            analysis::ParameterSetInfo pps =
                parameterSet(analysis::ParameterSetKind::Pps, {{"weighted_pred_flag", weighted}, {"weighted_bipred_flag", 0}});
            pps.parentNalUnitId = documentObjectId(static_cast<std::uint64_t>(unit));
            document->parameterSets.push_back(pps);
        }
        for (const auto& [unit, offset, type] : {std::tuple{0x71, 100, analysis::SliceType::P},
                                                 std::tuple{0x72, 600, analysis::SliceType::P},
                                                 std::tuple{0x73, 150, analysis::SliceType::B}}) {
            addUnit(static_cast<std::uint64_t>(unit), static_cast<std::uint64_t>(offset));
            analysis::SliceInfo slice;
            slice.id = documentObjectId(static_cast<std::uint64_t>(unit) + 0x100);
            slice.parentNalUnitId = documentObjectId(static_cast<std::uint64_t>(unit));
            slice.type = type;
            slice.ppsId = 0;
            document->slices.push_back(slice);
        }
        const ShownSection shown(Section::SliceHeader, document);
        QStringList weighted;
        for (int row = 0; row < shown.model.rowCount(); ++row) {
            weighted << (findNode(shown.model, QStringLiteral("pred_weight_table()"), shown.model.index(row, 0)).isValid()
                             ? QStringLiteral("table")
                             : QStringLiteral("none"));
        }
        QCOMPARE(weighted, (QStringList{"table", "none", "none"}));
    }

private:
    static Document nalDocument()
    {
        auto document = std::make_shared<analysis::StreamAnalysis>();
        analysis::NalUnitInfo slice;
        slice.id = documentObjectId(0x11);
        slice.byteOffset = 100;
        slice.byteSize = 50;
        slice.kind = analysis::NalUnitKind::Slice;
        slice.nalUnitType = 1;
        slice.layerId = 0;
        slice.temporalId = 0;
        slice.pictureId = kFirstPicture;
        slice.startCodeLength = 4;
        slice.contentHash = "abc";
        analysis::NalUnitInfo vps;
        vps.id = documentObjectId(0x12);
        vps.byteSize = 24;
        vps.kind = analysis::NalUnitKind::Vps;
        vps.byteSpanReliable = false;
        analysis::NalUnitInfo other = slice;
        other.id = documentObjectId(0x13);
        other.byteOffset = 200;
        other.byteSize = 60;
        other.pictureId = kSecondPicture;
        document->nalUnits = {slice, vps, other};
        return document;
    }

    static Document seiDocument()
    {
        auto document = std::make_shared<analysis::StreamAnalysis>();
        analysis::NalUnitInfo prefix;
        prefix.id = documentObjectId(0x21);
        prefix.byteSize = 320;
        prefix.kind = analysis::NalUnitKind::PrefixSei;
        prefix.pictureId = kFirstPicture;
        analysis::NalUnitInfo suffix = prefix;
        suffix.id = documentObjectId(0x22);
        suffix.kind = analysis::NalUnitKind::SuffixSei;
        document->nalUnits = {prefix, suffix};
        analysis::SeiMessageInfo registered = seiMessage(0x21, 4, 300);
        registered.truncated = true;
        registered.syntaxElements = {{"itu_t_t35_country_code", 181, {}}, {"itu_t_t35_payload_byte[0]", 49, "0x31"}};
        analysis::SeiMessageInfo extended = seiMessage(0x21, 255, std::nullopt);
        analysis::SeiMessageInfo otherPicture = seiMessage(0x22, 132, 16);
        otherPicture.pictureId = kSecondPicture;
        analysis::SeiMessageInfo orphan = seiMessage(0x99, std::nullopt, 2);
        orphan.syntaxElements = {{"recovery_poc_cnt", 0, {}}};
        document->seiMessages = {registered, extended, otherPicture, orphan};
        return document;
    }

    static Document sliceDocument()
    {
        auto document = std::make_shared<analysis::StreamAnalysis>();
        analysis::SliceInfo slice;
        slice.id = documentObjectId(0x41);
        slice.pictureId = kFirstPicture;
        slice.type = analysis::SliceType::P;
        slice.firstCtuAddress = 0;
        slice.poc = 8;
        slice.parseStatus = analysis::ParseStatus::Parsed;
        slice.numRefIdxL1Active = 0;
        slice.refPicListModificationL0 = true;
        analysis::SliceInfo other = slice;
        other.id = documentObjectId(0x42);
        other.pictureId = kSecondPicture;
        analysis::SliceInfo unowned = slice;
        unowned.id = documentObjectId(0x43);
        unowned.pictureId.reset();
        document->slices = {slice, other, unowned};

        analysis::ShortTermReferencePictureEntry shortTerm;
        shortTerm.parentSliceId = slice.id;
        shortTerm.entryIndex = 0;
        shortTerm.deltaPoc = -1;
        shortTerm.poc = 7;
        shortTerm.used = shortTerm.negative = true;
        shortTerm.deltaPocOrigin = analysis::ValueOrigin::SliceHeader;
        shortTerm.usedOrigin = analysis::ValueOrigin::Derived;
        analysis::ShortTermReferencePictureEntry bare;
        bare.parentSliceId = slice.id;
        bare.entryIndex = 1;
        analysis::ShortTermReferencePictureEntry otherSlices = bare;
        otherSlices.parentSliceId = other.id;
        analysis::ShortTermReferencePictureEntry unindexed;
        unindexed.parentSliceId = slice.id;
        document->shortTermReferencePictures = {shortTerm, otherSlices, bare, unindexed};

        analysis::LongTermReferencePictureEntry longTerm;
        longTerm.parentSliceId = slice.id;
        longTerm.entryIndex = 0;
        longTerm.pocLsb = 0;
        longTerm.poc = 0;
        longTerm.used = false;
        longTerm.deltaPocMsbCycle = 1;
        longTerm.origin = analysis::ValueOrigin::Sps;
        document->longTermReferencePictures = {longTerm};

        analysis::ReferencePictureEntry l0;
        l0.parentSliceId = slice.id;
        l0.list = analysis::ReferenceList::L0;
        l0.listIndex = 0;
        l0.targetPictureId = 3;
        l0.poc = 7;
        l0.longTerm = false;
        l0.status = analysis::ReferenceStatus::Available;
        analysis::ReferencePictureEntry l1;
        l1.parentSliceId = slice.id;
        l1.list = analysis::ReferenceList::L1;
        l1.listIndex = 0;
        analysis::ReferencePictureEntry unknownList;
        unknownList.parentSliceId = slice.id;
        analysis::ReferencePictureEntry second = l1;
        second.list = analysis::ReferenceList::L0;
        second.listIndex = 1;
        document->referencePictures = {l0, l1, unknownList, second};

        for (std::uint8_t slot = 0; slot < 5; ++slot) {
            analysis::DpbSnapshotEntry entry;
            entry.parentSliceId = slice.id;
            entry.slot = slot;
            entry.status = analysis::ReferenceStatus::CurrentPicture;
            document->dpbSnapshotEntries.push_back(entry);
        }
        return document;
    }
};

}  // namespace

VEXILO_QT_TEST(PictureSyntaxModelTest)
#include "PictureSyntaxModelTest.moc"
