#include "SyntaxTreeDump.h"
#include "WorkerAnalysis.h"

#include "vexilo/models/PictureSyntaxModel.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QTest>

#include <algorithm>
#include <map>
#include <memory>
#include <tuple>

using vexilo::PictureSyntaxModel;
namespace analysis = vexilo::analysis;

namespace {

using Section = PictureSyntaxModel::Section;

constexpr const char* kUpdateGoldenVariable = "VEXILO_UPDATE_SYNTAX_GOLDEN";

struct SectionName {
    Section section;
    const char* name;
};

constexpr std::array<SectionName, 6> kSections{{{Section::NalUnits, "NAL"},
                                                {Section::Vps, "VPS"},
                                                {Section::Sps, "SPS"},
                                                {Section::Pps, "PPS"},
                                                {Section::Sei, "SEI"},
                                                {Section::SliceHeader, "Slice"}}};

std::filesystem::path streamPath(const QString& name)
{
    if (name.endsWith(QStringLiteral(".bit"))) {
        return std::filesystem::path(VEXILO_REFERENCE_STREAMS_DIR) / "hm" / name.toStdString();
    }
    return std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / name.toStdString();
}

// Each stream goes through the worker once per test run.
const vexilo::test::WorkerAnalysis& analysed(const QString& name)
{
    static std::map<QString, vexilo::test::WorkerAnalysis> analyses;
    auto found = analyses.find(name);
    if (found == analyses.end()) {
        found = analyses.emplace(name, vexilo::test::analyseWithWorker(streamPath(name))).first;
    }
    return found->second;
}

vexilo::domain::PictureId pictureIdOf(const analysis::StreamAnalysis& document)
{
    return document.pictures.empty() ? 0 : static_cast<vexilo::domain::PictureId>(
                                               document.pictures.front().pictureId.value_or(0));
}

// The six sections of one picture, each checked by the model tester.
class PictureSections {
public:
    explicit PictureSections(const analysis::StreamAnalysis& document)
        : document_(std::make_shared<const analysis::StreamAnalysis>(document))
    {
        for (const SectionName& section : kSections) {
            auto model = std::make_unique<PictureSyntaxModel>(section.section);
            testers_.push_back(std::make_unique<QAbstractItemModelTester>(
                model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest));
            model->setAnalysis(document_, pictureIdOf(document));
            models_.push_back(std::move(model));
        }
    }

    [[nodiscard]] const PictureSyntaxModel& model(Section section) const
    {
        return *models_[static_cast<std::size_t>(section)];
    }

    [[nodiscard]] QString dump(Section section) const { return vexilo::test::dumpSyntaxTree(model(section)); }

    // The parameter-set sections list the whole stream's sets whatever the picture,
    // so the later pictures of a golden file leave them out.
    [[nodiscard]] QString dumpAll(bool withParameterSets = true) const
    {
        QString text;
        for (const SectionName& section : kSections) {
            const bool parameterSets = section.section == Section::Vps || section.section == Section::Sps ||
                                       section.section == Section::Pps;
            if (parameterSets && !withParameterSets) {
                continue;
            }
            text += QStringLiteral("=== picture %1, %2 ===\n").arg(pictureIdOf(*document_)).arg(QLatin1String(section.name));
            text += dump(section.section);
        }
        return text;
    }

private:
    std::shared_ptr<const analysis::StreamAnalysis> document_;
    std::vector<std::unique_ptr<PictureSyntaxModel>> models_;
    std::vector<std::unique_ptr<QAbstractItemModelTester>> testers_;
};

// Every section of the first picture and the picture sections of the last; a golden file per stream.
QString goldenDump(const vexilo::test::WorkerAnalysis& analysis)
{
    QString text;
    for (const std::size_t index : {std::size_t{0}, analysis.pictures.size() - 1}) {
        text += PictureSections(analysis.pictures[index]).dumpAll(index == 0);
        if (analysis.pictures.size() == 1) {
            break;
        }
    }
    return text;
}

QString goldenPath(const QString& stream)
{
    return QStringLiteral(VEXILO_MODELS_GOLDEN_DIR "/") + QFileInfo(stream).completeBaseName() + QStringLiteral(".txt");
}

// The rows below the node whose first column is `syntax`, searched through the whole tree.
QModelIndex findNode(const QAbstractItemModel& model, const QString& syntax, const QModelIndex& parent = {})
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        if (index.data().toString() == syntax) {
            return index;
        }
        if (const QModelIndex inner = findNode(model, syntax, index); inner.isValid()) {
            return inner;
        }
    }
    return {};
}

QString cellOf(const QModelIndex& index, int column) { return index.siblingAtColumn(column).data().toString(); }

// The names from the top-level node down to `index`, joined by " > ".
QString pathTo(const QModelIndex& index)
{
    QStringList names;
    for (QModelIndex node = index; node.isValid(); node = node.parent()) {
        names.prepend(cellOf(node, 0));
    }
    return names.join(QStringLiteral(" > "));
}

QStringList childNames(const QAbstractItemModel& model, const QModelIndex& parent)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        names.append(cellOf(model.index(row, 0, parent), 0));
    }
    return names;
}

struct ExpectedBranch {
    const char* syntax;
    const char* path;  // from the structure down to the element's own branch
};

// Each element of `expected` sits where its path says, searched from the first top-level node.
void expectBranches(const PictureSyntaxModel& model, std::initializer_list<ExpectedBranch> expected)
{
    for (const ExpectedBranch& branch : expected) {
        const QModelIndex node = findNode(model, QString::fromLatin1(branch.syntax), model.index(0, 0));
        QVERIFY2(node.isValid(), branch.syntax);
        QCOMPARE(pathTo(node), QStringLiteral("%1 > %2").arg(QLatin1String(branch.path), QLatin1String(branch.syntax)));
    }
}

const analysis::StreamAnalysis* pictureWith(const vexilo::test::WorkerAnalysis& analysis,
                                            bool (*wanted)(const analysis::StreamAnalysis&))
{
    for (const analysis::StreamAnalysis& picture : analysis.pictures) {
        if (wanted(picture)) {
            return &picture;
        }
    }
    return nullptr;
}

}  // namespace

class PictureSyntaxGoldenTest : public QObject {
    Q_OBJECT

private slots:
    void sectionsMatchTheirGoldenDumps_data()
    {
        QTest::addColumn<QString>("stream");
        for (const char* stream : {"amp_weighted_sei.hevc", "s01_ra_gop8_cra_rasl_vui.bit", "s09_ldp_long_term_ref.bit",
                                   "s10_ra_ref_list_modification.bit", "s17_ra_scaling_list_custom.bit",
                                   "s29_444_8_ccp_rdpcm_tsrot.bit"}) {
            QTest::newRow(stream) << QString::fromLatin1(stream);
        }
    }

    void sectionsMatchTheirGoldenDumps()
    {
        QFETCH(QString, stream);
        const vexilo::test::WorkerAnalysis& analysis = analysed(stream);
        QVERIFY2(analysis.error.isEmpty(), qPrintable(analysis.error));
        QVERIFY(!analysis.pictures.empty());
        const QString dump = goldenDump(analysis);
        QFile golden(goldenPath(stream));
        if (qEnvironmentVariableIsSet(kUpdateGoldenVariable)) {
            QDir().mkpath(QFileInfo(golden).absolutePath());
            QVERIFY(golden.open(QIODevice::WriteOnly | QIODevice::Truncate));
            golden.write(dump.toUtf8());
            return;
        }
        QVERIFY2(golden.open(QIODevice::ReadOnly),
                 qPrintable(QStringLiteral("%1 is missing; run with %2=1 to write it")
                                .arg(golden.fileName(), QLatin1String(kUpdateGoldenVariable))));
        const QStringList expected = QString::fromUtf8(golden.readAll()).split(u'\n');
        const QStringList actual = dump.split(u'\n');
        for (qsizetype line = 0; line < std::min(expected.size(), actual.size()); ++line) {
            QVERIFY2(actual[line] == expected[line],
                     qPrintable(QStringLiteral("%1 line %2:\n  actual   %3\n  expected %4")
                                    .arg(golden.fileName())
                                    .arg(line + 1)
                                    .arg(actual[line], expected[line])));
        }
        QCOMPARE(actual.size(), expected.size());
    }

    void seiOfSeveralPayloadTypesUnderTheirMessages()
    {
        const vexilo::test::WorkerAnalysis& analysis = analysed(QStringLiteral("amp_weighted_sei.hevc"));
        QVERIFY2(analysis.error.isEmpty(), qPrintable(analysis.error));
        const PictureSections first(analysis.pictures.front());
        const PictureSyntaxModel& sei = first.model(Section::Sei);
        QStringList payloads;
        for (int root = 0; root < sei.rowCount(); ++root) {
            const QModelIndex rbsp = sei.index(root, 0);
            QCOMPARE(rbsp.data().toString(), QStringLiteral("sei_rbsp()"));
            for (int row = 0; row < sei.rowCount(rbsp); ++row) {
                const QModelIndex message = sei.index(row, 0, rbsp);
                if (message.data().toString() == QStringLiteral("sei_message()")) {
                    const QModelIndex payload = findNode(sei, QStringLiteral("sei_payload( payloadType, payloadSize )"), message);
                    QVERIFY(payload.isValid());
                    QCOMPARE(cellOf(payload, 6), QStringLiteral("H.265 (07/2024) D.2.1"));
                    payloads << cellOf(payload, 1);
                }
            }
            QCOMPARE(sei.index(sei.rowCount(rbsp) - 1, 0, rbsp).data().toString(), QStringLiteral("rbsp_trailing_bits()"));
        }
        QVERIFY2(payloads.contains(QStringLiteral("user_data_unregistered")), qPrintable(payloads.join(u',')));
        QVERIFY2(payloads.contains(QStringLiteral("decoded_picture_hash")), qPrintable(payloads.join(u',')));
        // The headers repeat at every IRAP: every parameter set of the stream is listed.
        const PictureSyntaxModel& sps = first.model(Section::Sps);
        QVERIFY(sps.rowCount() >= 1);
        for (int root = 0; root < sps.rowCount(); ++root) {
            const QModelIndex set = sps.index(root, 0);
            QCOMPARE(set.data().toString(), QStringLiteral("seq_parameter_set_rbsp()"));
            QCOMPARE(sps.index(sps.rowCount(set) - 1, 0, set).data().toString(), QStringLiteral("rbsp_hash"));
        }
    }

    void spsWithVuiAndHrd()
    {
        const vexilo::test::WorkerAnalysis& analysis = analysed(QStringLiteral("s01_ra_gop8_cra_rasl_vui.bit"));
        QVERIFY2(analysis.error.isEmpty(), qPrintable(analysis.error));
        const PictureSections first(analysis.pictures.front());
        const PictureSyntaxModel& sps = first.model(Section::Sps);
        const QModelIndex vui = findNode(sps, QStringLiteral("vui_parameters()"));
        QVERIFY(vui.isValid());
        QCOMPARE(vui.parent(), sps.index(0, 0));
        QCOMPARE(cellOf(vui, 6), QStringLiteral("H.265 (07/2024) E.2.1"));
        const QModelIndex hrd = findNode(sps, QStringLiteral("hrd_parameters()"), vui);
        QVERIFY(hrd.isValid());
        QCOMPARE(cellOf(hrd, 4), QStringLiteral("unsupported"));
        QCOMPARE(cellOf(hrd, 6), QStringLiteral("H.265 (07/2024) E.2.2"));
        const QModelIndex colour = findNode(sps, QStringLiteral("colour_primaries"), vui);
        QVERIFY(colour.isValid());
        QCOMPARE(cellOf(colour, 3), QStringLiteral("colour_description_present_flag == true"));
        // Nothing after the VUI nests in it.
        QVERIFY(!findNode(sps, QStringLiteral("rbsp_trailing_bits()"), vui).isValid());
        const QModelIndex level = findNode(sps, QStringLiteral("general_level_idc"));
        QCOMPARE(cellOf(level, 1), QStringLiteral("123"));
        QCOMPARE(cellOf(level, 3), QStringLiteral("profile_tier_level()"));
    }

    void scalingListsOfTheSps()
    {
        const vexilo::test::WorkerAnalysis& analysis = analysed(QStringLiteral("s17_ra_scaling_list_custom.bit"));
        QVERIFY2(analysis.error.isEmpty(), qPrintable(analysis.error));
        const PictureSections first(analysis.pictures.front());
        const PictureSyntaxModel& sps = first.model(Section::Sps);
        const QModelIndex flag = findNode(sps, QStringLiteral("sps_scaling_list_data_present_flag"));
        QCOMPARE(cellOf(flag, 1), QStringLiteral("1"));
        const QModelIndex lists = findNode(sps, QStringLiteral("scaling_list_data()"));
        QCOMPARE(cellOf(lists, 4), QStringLiteral("unsupported"));
        QCOMPARE(cellOf(lists, 6), QStringLiteral("H.265 (07/2024) 7.3.4"));
        QCOMPARE(cellOf(lists.parent(), 0), QStringLiteral("if( sps_scaling_list_data_present_flag )"));
    }

    void ppsRangeExtension()
    {
        const vexilo::test::WorkerAnalysis& analysis = analysed(QStringLiteral("s29_444_8_ccp_rdpcm_tsrot.bit"));
        QVERIFY2(analysis.error.isEmpty(), qPrintable(analysis.error));
        const PictureSections first(analysis.pictures.front());
        const PictureSyntaxModel& pps = first.model(Section::Pps);
        const QModelIndex extension = findNode(pps, QStringLiteral("pps_range_extension()"));
        QVERIFY(extension.isValid());
        QCOMPARE(cellOf(findNode(pps, QStringLiteral("cross_component_prediction_enabled_flag"), extension), 1),
                 QStringLiteral("1"));
        QCOMPARE(cellOf(findNode(pps, QStringLiteral("log2_max_transform_skip_block_size_minus2"), extension), 1),
                 QStringLiteral("1"));
        QVERIFY(!findNode(pps, QStringLiteral("rbsp_trailing_bits()"), extension).isValid());
        const PictureSyntaxModel& sps = first.model(Section::Sps);
        QCOMPARE(cellOf(findNode(sps, QStringLiteral("implicit_rdpcm_enabled_flag")), 1), QStringLiteral("1"));
        // Each extension structure, and what it codes, cites its own subclause.
        QCOMPARE(cellOf(extension, 6), QStringLiteral("H.265 (07/2024) 7.3.2.3.2"));
        QCOMPARE(cellOf(findNode(pps, QStringLiteral("cross_component_prediction_enabled_flag")), 6),
                 QStringLiteral("H.265 (07/2024) 7.3.2.3.2"));
        QCOMPARE(cellOf(findNode(pps, QStringLiteral("pps_range_extension_flag")), 6),
                 QStringLiteral("H.265 (07/2024) 7.3.2.3"));
        QCOMPARE(cellOf(findNode(sps, QStringLiteral("sps_range_extension()")), 6),
                 QStringLiteral("H.265 (07/2024) 7.3.2.2.2"));
        QCOMPARE(cellOf(findNode(sps, QStringLiteral("implicit_rdpcm_enabled_flag")), 6),
                 QStringLiteral("H.265 (07/2024) 7.3.2.2.2"));
        QCOMPARE(cellOf(findNode(sps, QStringLiteral("chroma_format_idc")), 1), QStringLiteral("3"));
    }

    // profile_tier_level( 1, maxNumSubLayersMinus1 ) with one sub-layer besides the highest:
    // the flag pairs of every sub-layer, the alignment bits up to eight sub-layers, then each
    // sub-layer's profile and level under its own flag.
    void subLayersOfTheProfileTierLevel()
    {
        const vexilo::test::WorkerAnalysis& analysis = analysed(QStringLiteral("models_temporal_layers.hevc"));
        QVERIFY2(analysis.error.isEmpty(), qPrintable(analysis.error));
        const PictureSections first(analysis.pictures.front());
        for (const auto& [section, call, count] :
             {std::tuple{Section::Vps, "profile_tier_level( 1, vps_max_sub_layers_minus1 )", "vps_max_sub_layers_minus1"},
              std::tuple{Section::Sps, "profile_tier_level( 1, sps_max_sub_layers_minus1 )", "sps_max_sub_layers_minus1"}}) {
            const PictureSyntaxModel& model = first.model(section);
            QCOMPARE(cellOf(findNode(model, QString::fromLatin1(count)), 1), QStringLiteral("1"));
            const QModelIndex ptl = findNode(model, QString::fromLatin1(call));
            QVERIFY(ptl.isValid());
            const QStringList names = childNames(model, ptl);
            const qsizetype level = names.indexOf(QStringLiteral("general_level_idc"));
            QVERIFY(level > 0);
            QStringList expected{QStringLiteral("sub_layer_profile_present_flag[0]"),
                                 QStringLiteral("sub_layer_level_present_flag[0]")};
            for (int i = 1; i < 8; ++i) {
                expected.append(QStringLiteral("reserved_zero_2bits[%1]").arg(i));
            }
            const bool profilePresent = cellOf(findNode(model, expected[0], ptl), 1) == QStringLiteral("true");
            const bool levelPresent = cellOf(findNode(model, expected[1], ptl), 1) == QStringLiteral("true");
            const QStringList after = names.mid(level + 1);
            QCOMPARE(after.mid(0, expected.size()), expected);
            QStringList data = after.mid(expected.size());
            if (levelPresent) {
                QCOMPARE(data.takeLast(), QStringLiteral("sub_layer_level_idc[0]"));
                QCOMPARE(cellOf(findNode(model, QStringLiteral("sub_layer_level_idc[0]"), ptl), 3),
                         QStringLiteral("sub_layer_level_present_flag[0] == true"));
            }
            QCOMPARE(data.isEmpty(), !profilePresent);
            if (profilePresent) {
                QCOMPARE(data.front(), QStringLiteral("sub_layer_profile_space[0]"));
                for (const QString& name : data) {
                    QCOMPARE(cellOf(findNode(model, name, ptl), 3),
                             QStringLiteral("sub_layer_profile_present_flag[0] == true"));
                }
            }
            QCOMPARE(cellOf(findNode(model, QStringLiteral("reserved_zero_2bits[7]"), ptl), 3),
                     QStringLiteral("maxNumSubLayersMinus1 > 0"));
        }
    }

    void sliceSegmentHeaderBranches()
    {
        const vexilo::test::WorkerAnalysis& analysis =
            analysed(QStringLiteral("s07_ldb_slices_ctu_dependent_segments_aud.bit"));
        QVERIFY2(analysis.error.isEmpty(), qPrintable(analysis.error));
        const analysis::StreamAnalysis* picture = pictureWith(analysis, [](const analysis::StreamAnalysis& document) {
            return std::any_of(document.slices.begin(), document.slices.end(), [](const analysis::SliceInfo& slice) {
                return slice.dependentSliceSegment.value_or(false) && slice.type == analysis::SliceType::B;
            });
        });
        QVERIFY(picture != nullptr);
        const PictureSections sections(*picture);
        const PictureSyntaxModel& slices = sections.model(Section::SliceHeader);
        constexpr const char* kIndependent = "slice_segment_header() > if( !dependent_slice_segment_flag )";
        constexpr const char* kPredicted =
            "slice_segment_header() > if( !dependent_slice_segment_flag ) > if( slice_type == P || slice_type == B )";
        expectBranches(
            slices,
            {{"first_slice_segment_in_pic_flag", "slice_segment_header()"},
             {"no_output_of_prior_pics_flag",
              "slice_segment_header() > if( nal_unit_type >= BLA_W_LP && nal_unit_type <= RSV_IRAP_VCL23 )"},
             {"slice_pic_parameter_set_id", "slice_segment_header()"},
             {"dependent_slice_segment_flag",
              "slice_segment_header() > if( !first_slice_segment_in_pic_flag ) > "
              "if( dependent_slice_segments_enabled_flag )"},
             {"slice_segment_address", "slice_segment_header() > if( !first_slice_segment_in_pic_flag )"},
             {"slice_type", kIndependent},
             {"pic_output_flag", "slice_segment_header() > if( !dependent_slice_segment_flag ) > "
                                 "if( output_flag_present_flag )"},
             {"slice_pic_order_cnt_lsb", "slice_segment_header() > if( !dependent_slice_segment_flag ) > "
                                         "if( nal_unit_type != IDR_W_RADL && nal_unit_type != IDR_N_LP )"},
             {"short_term_ref_pic_set_sps_flag", "slice_segment_header() > if( !dependent_slice_segment_flag ) > "
                                                 "if( nal_unit_type != IDR_W_RADL && nal_unit_type != IDR_N_LP )"},
             {"short_term_ref_pic_set_idx", "slice_segment_header() > if( !dependent_slice_segment_flag ) > "
                                            "if( nal_unit_type != IDR_W_RADL && nal_unit_type != IDR_N_LP ) > "
                                            "else if( num_short_term_ref_pic_sets > 1 )"},
             {"num_ref_idx_active_override_flag", kPredicted},
             {"num_ref_idx_l0_active_minus1",
              "slice_segment_header() > if( !dependent_slice_segment_flag ) > if( slice_type == P || slice_type == B ) > "
              "if( num_ref_idx_active_override_flag )"},
             {"num_ref_idx_l1_active_minus1",
              "slice_segment_header() > if( !dependent_slice_segment_flag ) > if( slice_type == P || slice_type == B ) > "
              "if( num_ref_idx_active_override_flag ) > if( slice_type == B )"},
             {"ref_pic_list_modification_flag_l0",
              "slice_segment_header() > if( !dependent_slice_segment_flag ) > if( slice_type == P || slice_type == B ) > "
              "if( lists_modification_present_flag && NumPicTotalCurr > 1 )"},
             {"ref_pic_list_modification_flag_l1",
              "slice_segment_header() > if( !dependent_slice_segment_flag ) > if( slice_type == P || slice_type == B ) > "
              "if( lists_modification_present_flag && NumPicTotalCurr > 1 ) > if( slice_type == B )"},
             {"slice_qp_delta", kIndependent},
             {"num_entry_point_offsets",
              "slice_segment_header() > if( tiles_enabled_flag || entropy_coding_sync_enabled_flag )"}});
        // The independent part in the standard's order: slice_qp_delta after the P/B branch.
        const QModelIndex independent = findNode(slices, QStringLiteral("slice_type")).parent();
        QCOMPARE(childNames(slices, independent),
                 (QStringList{"slice_type", "if( output_flag_present_flag )",
                              "if( nal_unit_type != IDR_W_RADL && nal_unit_type != IDR_N_LP )",
                              "if( slice_type == P || slice_type == B )", "slice_qp_delta"}));
        bool dependentShown = false;
        for (int row = 0; row < slices.rowCount(); ++row) {
            const QModelIndex flag = findNode(slices, QStringLiteral("dependent_slice_segment_flag"), slices.index(row, 0));
            dependentShown = dependentShown || cellOf(flag, 1) == QStringLiteral("true");
        }
        QVERIFY(dependentShown);
    }

    void pictureParameterSetBranches_data()
    {
        QTest::addColumn<QString>("stream");
        QTest::newRow("non-uniform tiles") << "s05_ldb_tiles_nonuniform_no_lf_across.bit";
        QTest::newRow("deblocking override") << "s21_ldb_cip_deblock_override.bit";
    }

    void pictureParameterSetBranches()
    {
        QFETCH(QString, stream);
        const vexilo::test::WorkerAnalysis& analysis = analysed(stream);
        QVERIFY2(analysis.error.isEmpty(), qPrintable(analysis.error));
        const PictureSections first(analysis.pictures.front());
        const PictureSyntaxModel& pps = first.model(Section::Pps);
        if (stream.startsWith(QStringLiteral("s05"))) {
            expectBranches(pps, {{"uniform_spacing_flag", "pic_parameter_set_rbsp() > if( tiles_enabled_flag )"},
                                 {"column_width_minus1[0]",
                                  "pic_parameter_set_rbsp() > if( tiles_enabled_flag ) > if( !uniform_spacing_flag )"},
                                 {"column_width_minus1[1]",
                                  "pic_parameter_set_rbsp() > if( tiles_enabled_flag ) > if( !uniform_spacing_flag )"},
                                 {"row_height_minus1[0]",
                                  "pic_parameter_set_rbsp() > if( tiles_enabled_flag ) > if( !uniform_spacing_flag )"},
                                 {"loop_filter_across_tiles_enabled_flag",
                                  "pic_parameter_set_rbsp() > if( tiles_enabled_flag )"}});
            // Column widths 8 and 9 CTUs, row height 4 CTUs.
            QCOMPARE(cellOf(findNode(pps, QStringLiteral("column_width_minus1[1]")), 1), QStringLiteral("8"));
            QCOMPARE(cellOf(findNode(pps, QStringLiteral("row_height_minus1[0]")), 1), QStringLiteral("3"));
            return;
        }
        expectBranches(pps, {{"deblocking_filter_override_enabled_flag",
                              "pic_parameter_set_rbsp() > if( deblocking_filter_control_present_flag )"},
                             {"pps_deblocking_filter_disabled_flag",
                              "pic_parameter_set_rbsp() > if( deblocking_filter_control_present_flag )"},
                             {"pps_beta_offset_div2", "pic_parameter_set_rbsp() > if( deblocking_filter_control_present_flag ) > "
                                                      "if( !pps_deblocking_filter_disabled_flag )"},
                             {"pps_tc_offset_div2", "pic_parameter_set_rbsp() > if( deblocking_filter_control_present_flag ) > "
                                                    "if( !pps_deblocking_filter_disabled_flag )"}});
    }

    void longTermReferencesOfASlice()
    {
        const vexilo::test::WorkerAnalysis& analysis = analysed(QStringLiteral("s09_ldp_long_term_ref.bit"));
        QVERIFY2(analysis.error.isEmpty(), qPrintable(analysis.error));
        const analysis::StreamAnalysis* picture = pictureWith(
            analysis, [](const analysis::StreamAnalysis& document) { return !document.longTermReferencePictures.empty(); });
        QVERIFY(picture != nullptr);
        const PictureSections sections(*picture);
        const PictureSyntaxModel& slices = sections.model(Section::SliceHeader);
        const QModelIndex longTerm = findNode(slices, QStringLiteral("lt_ref_pic_set[0]"));
        QVERIFY(longTerm.isValid());
        QCOMPARE(cellOf(longTerm, 3), QStringLiteral("long-term RPS"));
        QVERIFY(cellOf(longTerm, 1).startsWith(QStringLiteral("poc_lsb=0 poc=0 used=true")));
        QCOMPARE(cellOf(findNode(sections.model(Section::Sps), QStringLiteral("long_term_ref_pics_present_flag")), 1),
                 QStringLiteral("1"));
    }

    void referenceListModification()
    {
        const vexilo::test::WorkerAnalysis& analysis = analysed(QStringLiteral("s10_ra_ref_list_modification.bit"));
        QVERIFY2(analysis.error.isEmpty(), qPrintable(analysis.error));
        const analysis::StreamAnalysis* picture = pictureWith(analysis, [](const analysis::StreamAnalysis& document) {
            return !document.slices.empty() && document.slices.front().refPicListModificationL0.value_or(false);
        });
        QVERIFY(picture != nullptr);
        const PictureSections sections(*picture);
        const QModelIndex flag = findNode(sections.model(Section::SliceHeader),
                                          QStringLiteral("ref_pic_list_modification_flag_l0"));
        QCOMPARE(cellOf(flag, 1), QStringLiteral("true"));
        QCOMPARE(cellOf(flag, 6), QStringLiteral("H.265 (07/2024) 7.3.6.2"));
        QCOMPARE(cellOf(findNode(sections.model(Section::Pps), QStringLiteral("lists_modification_present_flag")), 1),
                 QStringLiteral("1"));
    }
};

VEXILO_QT_TEST(PictureSyntaxGoldenTest)
#include "PictureSyntaxGoldenTest.moc"
