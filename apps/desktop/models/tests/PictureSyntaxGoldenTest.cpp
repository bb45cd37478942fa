#include "SyntaxStreamSections.h"

#include "vexilo/models/PictureSyntaxModel.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QTest>

#include <algorithm>

using vexilo::PictureSyntaxModel;
// Named one by one: a directive would carry the shared helpers into the test files compiled
// beside this one, where their own helpers of the same names then become ambiguous.
using vexilo::test::analysed;
using vexilo::test::cellOf;
using vexilo::test::findNode;
using vexilo::test::PictureSections;
using vexilo::test::pictureWith;
using vexilo::test::Section;
using vexilo::test::WorkerAnalysis;
namespace analysis = vexilo::analysis;

namespace {

constexpr const char* kUpdateGoldenVariable = "VEXILO_UPDATE_SYNTAX_GOLDEN";

// Every section of the first picture and the picture sections of the last; a golden file per stream.
QString goldenDump(const WorkerAnalysis& analysis)
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
        const WorkerAnalysis& analysis = analysed(stream);
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
        const WorkerAnalysis& analysis = analysed(QStringLiteral("amp_weighted_sei.hevc"));
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

    void longTermReferencesOfASlice()
    {
        const WorkerAnalysis& analysis = analysed(QStringLiteral("s09_ldp_long_term_ref.bit"));
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
        const WorkerAnalysis& analysis = analysed(QStringLiteral("s10_ra_ref_list_modification.bit"));
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
