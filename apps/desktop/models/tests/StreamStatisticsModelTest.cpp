#include "AnalyzedStreamFixture.h"

#include "vexilo/models/StreamStatisticsModel.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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
        QCOMPARE(column(rowNamed(model, "qp", "slice qp"), 1), QStringLiteral("min 26 / max 33 / avg 29.7"));
        QCOMPARE(column(rowNamed(model, "bitstream index", "slice P"), 2), QStringLiteral("100.0%"));
        QVERIFY(!rowNamed(model, "bitstream index", "slice I").isValid());
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
        QCOMPARE(column(rowNamed(model, "qp", "slice qp"), 1), QStringLiteral("N/A"));
        QCOMPARE(column(rowNamed(model, "qp", "slice qp"), 3), QStringLiteral("unavailable"));

        model.clearStreamAnalysis();
        QCOMPARE(model.rowCount(), 1);
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
};

VEXILO_QT_TEST(StreamStatisticsModelTest)
#include "StreamStatisticsModelTest.moc"
