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

using vexilo::PictureSyntaxModel;
using vexilo::test::dumpSyntaxTree;
using vexilo::test::nodeAt;
namespace analysis = vexilo::analysis;

namespace {

using Section = PictureSyntaxModel::Section;
using Document = std::shared_ptr<const analysis::StreamAnalysis>;

constexpr vexilo::domain::PictureId kFirstPicture = 7;
constexpr vexilo::domain::PictureId kSecondPicture = 8;

analysis::StableId idOf(std::uint64_t low) { return {0x1000, low}; }

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
    set.id = idOf(0x50 + static_cast<std::uint64_t>(kind));
    set.parentNalUnitId = idOf(0x90);
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
    nal.id = idOf(0x90);
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
    message.id = idOf(0x300 + parent);
    message.parentNalUnitId = idOf(parent);
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
    set.id = idOf(0x5000 + number);
    set.parameterSetId = number;
    set.numShortTermRefPicSets = number % 4;
    return set;
}

Document withParameterSets(std::vector<analysis::ParameterSetInfo> sets)
{
    auto document = std::const_pointer_cast<analysis::StreamAnalysis>(withParameterSet(sets.front()));
    document->parameterSets = std::move(sets);
    return document;
}

}  // namespace

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
    ff_byte | 255 × 1 | f(8) | while( next_bits( 8 ) == 0xFF ) for payloadSize | present | Payload type or payload size extension byte | H.265 (07/2024) 7.3.5
    last_payload_size_byte | 45 | u(8) | sei_message() | present | Last byte of the payload size | H.265 (07/2024) 7.3.5
    sei_payload( payloadType, payloadSize ) | user_data_registered_itu_t_t35 |  | sei_message() | partial | Payload syntax selected by payloadType | H.265 (07/2024) D.2.1
      itu_t_t35_country_code | 181 | b(8) | user_data_registered_itu_t_t35 | present | ITU-T T.35 country code | H.265 (07/2024) D.2.6
      itu_t_t35_payload_byte[0] | 0x31 | b(8) | user_data_registered_itu_t_t35 | present | Registered user data byte | H.265 (07/2024) D.2.6
  sei_message() | payload_type_255, N/A byte(s) |  | do ... while( more_rbsp_data() ) | parsed | One supplemental enhancement information message | H.265 (07/2024) 7.3.5
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

    void profileTierLevelRowsNestWithTheirConditions()
    {
        analysis::ParameterSetInfo set = parameterSet(analysis::ParameterSetKind::Vps, {});
        analysis::ProfileTierLevelInfo general;
        general.profilePresentFlag = general.levelPresentFlag = true;
        general.profileIdc = 1;
        general.profileCompatibilityFlags = 0x6;
        general.levelIdc = 93;
        analysis::ProfileTierLevelInfo subLayer;
        subLayer.subLayerId = 2;
        subLayer.levelPresentFlag = true;
        subLayer.levelIdc = 90;
        set.profileTierLevels = {general, subLayer};
        set.profile = analysis::StreamProfile::Main;
        const ShownSection shown(Section::Vps, withParameterSet(set));
        const QModelIndex ptl = nodeAt(shown.model, {0, 7});
        QCOMPARE(ptl.data().toString(), QStringLiteral("profile_tier_level( 1, vps_max_sub_layers_minus1 )"));
        QCOMPARE(ptl.siblingAtColumn(1).data().toString(), QStringLiteral("profile=Main"));
        // Sub-layer 2 is listed, so the structure covers at least four sub-layers: alignment bits 3 to 7.
        QCOMPARE(shown.model.rowCount(ptl), 1 + 32 + 1 + 2 + 5 + 1);
        QStringList rows;
        for (int row = 0; row < shown.model.rowCount(ptl); ++row) {
            rows << shown.model.index(row, 0, ptl).data().toString() + u'=' +
                        shown.model.index(row, 1, ptl).data().toString() + u'@' +
                        shown.model.index(row, 3, ptl).data().toString();
        }
        QCOMPARE(rows.first(), QStringLiteral("general_profile_idc=1@profilePresentFlag"));
        QCOMPARE(rows.at(1), QStringLiteral("general_profile_compatibility_flag[0]=false@profilePresentFlag == true"));
        QCOMPARE(rows.at(2), QStringLiteral("general_profile_compatibility_flag[1]=true@profilePresentFlag == true"));
        QCOMPARE(rows.mid(33), (QStringList{"general_level_idc=93@profile_tier_level()",
                                            "sub_layer_profile_present_flag[2]=false@profile_tier_level()",
                                            "sub_layer_level_present_flag[2]=true@profile_tier_level()",
                                            "reserved_zero_2bits[3]=N/A@maxNumSubLayersMinus1 > 0",
                                            "reserved_zero_2bits[4]=N/A@maxNumSubLayersMinus1 > 0",
                                            "reserved_zero_2bits[5]=N/A@maxNumSubLayersMinus1 > 0",
                                            "reserved_zero_2bits[6]=N/A@maxNumSubLayersMinus1 > 0",
                                            "reserved_zero_2bits[7]=N/A@maxNumSubLayersMinus1 > 0",
                                            "sub_layer_level_idc[2]=90@sub_layer_level_present_flag[2] == true"}));
        QCOMPARE(shown.model.index(36, 2, ptl).data().toString(), QStringLiteral("u(2)"));
        QCOMPARE(shown.model.index(41, 2, ptl).data().toString(), QStringLiteral("u(8)"));

        // With a stored count of two sub-layers, the one sub-layer's profile follows all the flag pairs.
        subLayer.subLayerId = 0;
        subLayer.profilePresentFlag = true;
        subLayer.profileIdc = 2;
        set.profileTierLevels = {general, subLayer};
        set.maxSubLayers = 2;
        const ShownSection counted(Section::Vps, withParameterSet(set));
        const QModelIndex countedPtl = nodeAt(counted.model, {0, 7});
        QStringList names;
        for (int row = 34; row < counted.model.rowCount(countedPtl); ++row) {
            names << counted.model.index(row, 0, countedPtl).data().toString() + u'@' +
                         counted.model.index(row, 3, countedPtl).data().toString();
        }
        QCOMPARE(names.mid(0, 3), (QStringList{"sub_layer_profile_present_flag[0]@profile_tier_level()",
                                              "sub_layer_level_present_flag[0]@profile_tier_level()",
                                              "reserved_zero_2bits[1]@maxNumSubLayersMinus1 > 0"}));
        QCOMPARE(names.mid(9), (QStringList{"sub_layer_profile_idc[0]@sub_layer_profile_present_flag[0] == true",
                                           "sub_layer_level_idc[0]@sub_layer_level_present_flag[0] == true"}));
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
        QVERIFY(dump.contains(QStringLiteral("    lt_ref_pic_poc_lsb_sps[0] | 4 | u(v) | long_term_ref_pics_present_flag == true")));
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
        const QString dump = shown.dump();
        QVERIFY2(dump.contains(QStringLiteral(R"(
  vui_parameters() |  |  | vui_parameters_present_flag == true | present | Video usability information syntax | H.265 (07/2024) E.2.1
    video_signal_type_present_flag | 1 | u(1) | vui_parameters() | present | Video signal type present | H.265 (07/2024) E.2.1
    video_format | 5 | u(3) | video_signal_type_present_flag == true | present | Source video format | H.265 (07/2024) E.2.1
    vui_hrd_parameters_present_flag | 1 | u(1) | vui_timing_info_present_flag == true | present | VUI HRD parameters present | H.265 (07/2024) E.2.1
    hrd_parameters() |  |  | vui_hrd_parameters_present_flag == true | unsupported | Hypothetical reference decoder syntax | H.265 (07/2024) E.2.2
  if( sps_extension_present_flag ) |)")),
                 qPrintable(dump));
        QVERIFY2(dump.contains(QStringLiteral("\n  if( sps_range_extension_flag ) |")), qPrintable(dump));
        QVERIFY2(dump.contains(QStringLiteral("\n  rbsp_trailing_bits() | N/A |  | seq_parameter_set_rbsp() |")),
                 qPrintable(dump));
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
        const QString dump = shown.dump();
        QVERIFY2(dump.contains(QStringLiteral(R"(
  if( tiles_enabled_flag ) |  |  | tiles_enabled_flag == true | condition | Conditional syntax branch from Rec. ITU-T H.265 | H.265 (07/2024) 7.3.2.3
    num_tile_columns_minus1 | 1 | ue(v) | tiles_enabled_flag == true | present | Tile columns minus one | H.265 (07/2024) 7.3.2.3
    num_tile_rows_minus1 | 1 | ue(v) | tiles_enabled_flag == true | present | Tile rows minus one | H.265 (07/2024) 7.3.2.3
    uniform_spacing_flag | 0 | u(1) | tiles_enabled_flag == true | present | Uniformly spaced tiles | H.265 (07/2024) 7.3.2.3
    if( !uniform_spacing_flag ) |  |  | tiles_enabled_flag == true && uniform_spacing_flag == false | condition | Conditional syntax branch from Rec. ITU-T H.265 | H.265 (07/2024) 7.3.2.3
      column_width_minus1[0] | 3 | ue(v) | tiles_enabled_flag == true && uniform_spacing_flag == false | present | Tile column width minus one | H.265 (07/2024) 7.3.2.3
      row_height_minus1[0] | 2 | ue(v) | tiles_enabled_flag == true && uniform_spacing_flag == false | present | Tile row height minus one | H.265 (07/2024) 7.3.2.3
    loop_filter_across_tiles_enabled_flag | 1 | u(1) | tiles_enabled_flag == true | present | Loop filtering across tile edges | H.265 (07/2024) 7.3.2.3
)")), qPrintable(dump));
        QVERIFY2(dump.contains(QStringLiteral(R"(
  pps_range_extension() |  |  | pps_range_extension_flag == true | present | PPS range-extension syntax | H.265 (07/2024) 7.3.2.3.2
    cross_component_prediction_enabled_flag | 0 | u(1) | pps_range_extension_flag == true | present | Cross-component prediction enabled | H.265 (07/2024) 7.3.2.3.2
    log2_sao_offset_scale_luma | 1 | ue(v) | pps_range_extension_flag == true | present | Luma SAO offset scale | H.265 (07/2024) 7.3.2.3.2
  if( pps_extension_4bits ) while( more_rbsp_data() ) |  |  | PPS extension data loop | condition | Conditional syntax branch from Rec. ITU-T H.265 | H.265 (07/2024) 7.3.2.3
    pps_extension_data_flag | N/A | u(1) | PPS extension data loop | unsupported | PPS extension data bit | H.265 (07/2024) 7.3.2.3
  rbsp_trailing_bits() | N/A |  | pic_parameter_set_rbsp() | validated | RBSP alignment and stop bits | H.265 (07/2024) 7.3.2.11
)")), qPrintable(dump));
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
        ref_pic_list_modification_flag_l0 | true | u(1) | independent slice segment && P/B slice && lists_modification_present_flag == true && NumPicTotalCurr > 1 | present | Reference picture list 0 modified | H.265 (07/2024) 7.3.6.2
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

private:
    static Document nalDocument()
    {
        auto document = std::make_shared<analysis::StreamAnalysis>();
        analysis::NalUnitInfo slice;
        slice.id = idOf(0x11);
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
        vps.id = idOf(0x12);
        vps.byteSize = 24;
        vps.kind = analysis::NalUnitKind::Vps;
        vps.byteSpanReliable = false;
        analysis::NalUnitInfo other = slice;
        other.id = idOf(0x13);
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
        prefix.id = idOf(0x21);
        prefix.byteSize = 320;
        prefix.kind = analysis::NalUnitKind::PrefixSei;
        prefix.pictureId = kFirstPicture;
        analysis::NalUnitInfo suffix = prefix;
        suffix.id = idOf(0x22);
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
        slice.id = idOf(0x41);
        slice.pictureId = kFirstPicture;
        slice.type = analysis::SliceType::P;
        slice.firstCtuAddress = 0;
        slice.poc = 8;
        slice.parseStatus = analysis::ParseStatus::Parsed;
        slice.numRefIdxL1Active = 0;
        slice.refPicListModificationL0 = true;
        analysis::SliceInfo other = slice;
        other.id = idOf(0x42);
        other.pictureId = kSecondPicture;
        analysis::SliceInfo unowned = slice;
        unowned.id = idOf(0x43);
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

VEXILO_QT_TEST(PictureSyntaxModelTest)
#include "PictureSyntaxModelTest.moc"
