#include "AnalyzedStreamFixture.h"

#include "vexilo/models/StreamStatisticsModel.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <map>
#include <optional>

using vexilo::StreamStatisticsModel;
using namespace vexilo::analysis;
using vexilo::domain::PictureInfo;
using DecodedType = vexilo::domain::PictureType;

namespace {

// The row of a section (by name) and, below it, the row of a value (by name); invalid when absent.
QModelIndex rowNamed(const StreamStatisticsModel& model, const QString& section, const QString& name = {}) {
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex sectionIndex = model.index(row, 0);
        if (sectionIndex.data().toString() != section) {
            continue;
        }
        if (name.isEmpty()) {
            return sectionIndex;
        }
        for (int child = 0; child < model.rowCount(sectionIndex); ++child) {
            const QModelIndex childIndex = model.index(child, 0, sectionIndex);
            if (childIndex.data().toString() == name) {
                return childIndex;
            }
        }
    }
    return {};
}

QString column(const QModelIndex& row, int column) { return row.siblingAtColumn(column).data().toString(); }

vexilo::domain::StreamInfo streamInfo() {
    vexilo::domain::StreamInfo info;
    info.codecName = "hevc";
    info.width = 1920;
    info.height = 1080;
    info.bitDepth = 10;
    info.pixelFormatName = "yuv420p10le";
    info.frameCount = 0;
    return info;
}

PictureInfo picture(DecodedType type) {
    PictureInfo info;
    info.pictureType = type;
    return info;
}

StreamAnalysis documentWithSps() {
    StreamAnalysis document;
    document.profile = StreamProfile::Main10;
    document.width = 1920;
    document.height = 1088;
    ParameterSetInfo sps;
    sps.kind = ParameterSetKind::Sps;
    sps.levelIdc = 93;
    sps.chromaFormatIdc = 5;
    sps.sampleAdaptiveOffsetEnabled = true;
    document.parameterSets = {sps};
    for (const std::int16_t qp : {std::int16_t{30}, std::int16_t{26}, std::int16_t{33}}) {
        SliceInfo slice;
        slice.type = SliceType::P;
        slice.sliceQp = qp;
        document.slices.push_back(slice);
    }
    return document;
}

}  // namespace

class StreamStatisticsModelTest : public QObject {
    Q_OBJECT

private slots:
    void startsWithNoProjectAndIgnoresPicturesAlone() {
        StreamStatisticsModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.columnCount(), 4);
        QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("No project opened"));

        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.appendPictures({});
        model.clearStreamAnalysis();
        QCOMPARE(resets.count(), 0);
        model.appendPictures({picture(DecodedType::I)});
        QCOMPARE(resets.count(), 1);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("No project opened"));
    }

    void framesCountDecodedPicturesByType() {
        StreamStatisticsModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setStreamInfo(streamInfo());
        QCOMPARE(column(rowNamed(model, "frames", "total"), 1), QStringLiteral("0"));
        QVERIFY(!rowNamed(model, "frames", "I").data(StreamStatisticsModel::kPercentPermilleRole).isValid());
        QCOMPARE(column(rowNamed(model, "frames", "I"), 2), QString());

        model.appendPictures({picture(DecodedType::I), picture(DecodedType::P)});
        model.appendPictures({picture(DecodedType::P)});
        QCOMPARE(column(rowNamed(model, "frames", "total"), 1), QStringLiteral("3"));
        QCOMPARE(column(rowNamed(model, "frames", "I"), 2), QStringLiteral("33.3%"));
        QCOMPARE(column(rowNamed(model, "frames", "P"), 2), QStringLiteral("66.7%"));
        QCOMPARE(column(rowNamed(model, "frames", "B"), 2), QStringLiteral("0.0%"));
        QCOMPARE(column(rowNamed(model, "frames", "Unknown"), 2), QStringLiteral("0.0%"));
        QCOMPARE(rowNamed(model, "frames", "P").data(StreamStatisticsModel::kPercentPermilleRole).toInt(), 666);

        QCOMPARE(column(rowNamed(model, "stream", "resolution"), 1), QStringLiteral("1920 x 1080"));
        QCOMPARE(column(rowNamed(model, "stream", "profile"), 3), QStringLiteral("unavailable"));
        QCOMPARE(column(rowNamed(model, "bitstream index", "analysis index"), 1), QStringLiteral("Run Analyze Stream"));
        QCOMPARE(rowNamed(model, "stream", "codec").siblingAtColumn(1).data(Qt::TextAlignmentRole).toInt(),
                 static_cast<int>(Qt::AlignRight | Qt::AlignVCenter));
        QVERIFY(!rowNamed(model, "stream", "codec").data(Qt::TextAlignmentRole).isValid());
    }

    void analysisRowsReadTheFirstSpsAndPps() {
        StreamStatisticsModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setStreamAnalysis(documentWithSps());

        QCOMPARE(column(rowNamed(model, "stream", "profile"), 1), QStringLiteral("Main 10"));
        QCOMPARE(column(rowNamed(model, "stream", "level / tier"), 1), QStringLiteral("3.1 / N/A"));
        QCOMPARE(column(rowNamed(model, "stream", "chroma format"), 1), QStringLiteral("Unknown (5)"));
        QCOMPARE(column(rowNamed(model, "stream", "coded resolution"), 1), QStringLiteral("1920 x 1088"));
        QCOMPARE(column(rowNamed(model, "qp", "slice QP"), 1), QStringLiteral("min 26 / max 33 / avg 29.7"));
        QCOMPARE(column(rowNamed(model, "bitstream index", "P slice segments"), 2), QStringLiteral("100.0%"));
        QVERIFY(!rowNamed(model, "bitstream index", "I slice segments").isValid());
        QCOMPARE(column(rowNamed(model, "coding tools", "SAO"), 1), QStringLiteral("Enabled"));
        QCOMPARE(column(rowNamed(model, "coding tools", "temporal MVP"), 3), QStringLiteral("unavailable"));
        for (const char* ppsRow : {"tiles", "tile columns", "tile rows", "WPP", "dependent slices", "output flag present"}) {
            QCOMPARE(column(rowNamed(model, "coding tools", ppsRow), 1), QStringLiteral("N/A"));
            QCOMPARE(column(rowNamed(model, "coding tools", ppsRow), 3), QStringLiteral("unavailable"));
        }
        QCOMPARE(column(rowNamed(model, "syntax bit allocation", "syntax element bit cost"), 1),
                 QStringLiteral("Requires analyzer schema extension"));

        StreamAnalysis withoutQp = documentWithSps();
        for (SliceInfo& slice : withoutQp.slices) {
            slice.sliceQp.reset();
        }
        model.setStreamAnalysis(withoutQp);
        QCOMPARE(column(rowNamed(model, "qp", "slice QP"), 1), QStringLiteral("N/A"));
        QCOMPARE(column(rowNamed(model, "qp", "slice QP"), 3), QStringLiteral("unavailable"));
        QCOMPARE(column(rowNamed(model, "qp", "slice segments with a QP"), 1), QStringLiteral("0 of 3"));

        model.clearStreamAnalysis();
        QCOMPARE(model.rowCount(), 1);
    }

    // A cache written before the stream-level document kept its slices: the counts come from
    // the picture summaries, and the QP range says it is not there rather than that no slice has one.
    void summariesCountSlicesOfAnOlderCache() {
        StreamAnalysis document = documentWithSps();
        document.slices.clear();
        for (const std::uint32_t slices : {2U, 3U}) {
            PictureAnalysisSummary summary;
            summary.sliceCount = slices;
            document.pictures.push_back(summary);
        }
        document.pictures.back().ctuCount = 40;
        document.pictures.back().cuCount = 100;
        StreamStatisticsModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setStreamAnalysis(document);
        QCOMPARE(column(rowNamed(model, "bitstream index", "slice segments"), 1), QStringLiteral("5"));
        QCOMPARE(column(rowNamed(model, "structure summary", "slice segments"), 1), QStringLiteral("5"));
        QCOMPARE(column(rowNamed(model, "qp", "slice QP"), 3), QStringLiteral("unavailable"));
        QVERIFY(column(rowNamed(model, "qp", "slice QP"), 1).contains(QStringLiteral("not in this cache")));
        QCOMPARE(column(rowNamed(model, "structure summary", "pictures with known blocks"), 1),
                 QStringLiteral("1 of 2"));
        QCOMPARE(column(rowNamed(model, "structure summary", "CUs in pictures with known blocks"), 1),
                 QStringLiteral("100"));

        document.pictures.back().ctuCount.reset();
        model.setStreamAnalysis(document);
        QCOMPARE(column(rowNamed(model, "structure summary", "CTUs in pictures with known blocks"), 3),
                 QStringLiteral("unavailable"));
    }

    // The counts of a document the real worker wrote, as the test computes them from it.
    void workerDocumentCountsMatchTheDocument() {
        QTemporaryDir cache;
        const auto analyzed = vexilo::test::analyzeWithWorker(
            vexilo::test::generatedStream("bpyramid_420_8bit.mp4"), cache.path().toStdString(), "stream_index");
        if (const auto* error = std::get_if<std::string>(&analyzed)) {
            QFAIL(error->c_str());
        }
        const StreamAnalysis& document = *std::get<vexilo::test::AnalyzedStream>(analyzed).stream;
        StreamStatisticsModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setStreamAnalysis(document);

        QCOMPARE(column(rowNamed(model, "bitstream index", "NAL units"), 1), QString::number(document.nalUnits.size()));
        QCOMPARE(column(rowNamed(model, "bitstream index", "SEI messages"), 1),
                 QString::number(document.seiMessages.size()));
        QCOMPARE(column(rowNamed(model, "frames", "total"), 1), QString::number(document.pictures.size()));
        const auto countOf = [&](PictureType type) {
            return std::count_if(document.pictures.begin(), document.pictures.end(), [&](const auto& summary) {
                return static_cast<std::uint32_t>(summary.pictureType) == static_cast<std::uint32_t>(type);
            });
        };
        QCOMPARE(column(rowNamed(model, "frames", "B"), 1), QString::number(countOf(PictureType::B)));
        QVERIFY(countOf(PictureType::B) > 0);
        QCOMPARE(column(rowNamed(model, "structure summary", "pictures"), 1), QString::number(document.pictures.size()));
        QCOMPARE(column(rowNamed(model, "stream", "profile"), 1), QStringLiteral("Main"));
    }

    void wholeStreamSliceFiguresEqualThoseOfThePictureDocuments_data() {
        QTest::addColumn<QString>("stream");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("severalSlicesPerPicture");
        QTest::newRow("several slices and dependent segments")
            << "s07_ldb_slices_ctu_dependent_segments_aud.bit" << "stream_index" << true;
        QTest::newRow("uniform tiles") << "s04_ldp_tiles_uniform_lf_across.bit" << "stream_index" << false;
        QTest::newRow("non-uniform tiles with blocks") << "s05_ldb_tiles_nonuniform_no_lf_across.bit"
                                                       << "bounded_structure" << false;
        QTest::newRow("long-term references") << "s09_ldp_long_term_ref.bit" << "stream_index" << false;
    }

    // The stream-level document alone gives what every picture's document says of its slices
    // (and of its blocks, where the run stored them).
    void wholeStreamSliceFiguresEqualThoseOfThePictureDocuments() {
        QFETCH(QString, stream);
        QFETCH(QString, mode);
        QFETCH(bool, severalSlicesPerPicture);
        QTemporaryDir cache;
        const QByteArray modeName = mode.toLatin1();
        const auto analyzed = vexilo::test::analyzeWithWorker(vexilo::test::referenceStream(qPrintable(stream)),
                                                              cache.path().toStdString(), modeName.constData());
        if (const auto* error = std::get_if<std::string>(&analyzed)) {
            QFAIL(error->c_str());
        }
        const auto& documents = std::get<vexilo::test::AnalyzedStream>(analyzed);
        std::uint64_t slices = 0;
        std::uint64_t picturesWithBlocks = 0;
        std::uint64_t ctus = 0;
        std::map<SliceType, std::uint64_t> byType;
        std::optional<std::int16_t> lowest;
        std::optional<std::int16_t> highest;
        for (const auto& picture : documents.pictures) {
            for (const SliceInfo& slice : picture->slices) {
                ++slices;
                ++byType[slice.type];
                if (slice.sliceQp) {
                    lowest = std::min(lowest.value_or(*slice.sliceQp), *slice.sliceQp);
                    highest = std::max(highest.value_or(*slice.sliceQp), *slice.sliceQp);
                }
            }
            if (!picture->ctus.empty()) {
                ++picturesWithBlocks;
                ctus += picture->ctus.size();
            }
        }
        QVERIFY(severalSlicesPerPicture ? slices > documents.pictures.size() : slices == documents.pictures.size());
        QVERIFY(lowest.has_value());

        StreamStatisticsModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setStreamAnalysis(*documents.stream);
        QCOMPARE(column(rowNamed(model, "bitstream index", "slice segments"), 1), QString::number(slices));
        QCOMPARE(column(rowNamed(model, "structure summary", "slice segments"), 1), QString::number(slices));
        for (const auto& [type, count] : byType) {
            const QString label = type == SliceType::I ? "I" : type == SliceType::P ? "P" : type == SliceType::B ? "B"
                                                                                                                : "Unknown";
            QCOMPARE(column(rowNamed(model, "bitstream index", label + " slice segments"), 1), QString::number(count));
        }
        QVERIFY(column(rowNamed(model, "qp", "slice QP"), 1)
                    .startsWith(QStringLiteral("min %1 / max %2 / ").arg(*lowest).arg(*highest)));
        QCOMPARE(column(rowNamed(model, "structure summary", "pictures with known blocks"), 1),
                 QStringLiteral("%1 of %2").arg(picturesWithBlocks).arg(documents.pictures.size()));
        if (picturesWithBlocks > 0) {
            QCOMPARE(column(rowNamed(model, "structure summary", "CTUs in pictures with known blocks"), 1),
                     QString::number(ctus));
        }
    }
};

VEXILO_QT_TEST(StreamStatisticsModelTest)
#include "StreamStatisticsModelTest.moc"
