#include "vexilo/models/PictureStatisticsModel.h"

#include "ModelTestSupport.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QSignalSpy>
#include <QTest>

using namespace vexilo;
using vexilo::test::idOf;
using vexilo::test::lumaRect;
using vexilo::test::rowText;

namespace {

// Picture 5 with one 64x64 CTU: a split root CU over 32x32, 16x16 (twice) and 8x8 leaves,
// one leaf outside luma units, PUs of four sizes and TUs under them; and a CU of another picture.
analysis::StreamAnalysis statisticsDocument() {
    analysis::StreamAnalysis document;
    analysis::PictureAnalysisSummary picture;
    picture.id = idOf(1);
    picture.pictureId = 5;
    document.pictures.push_back(picture);
    analysis::CtuInfo ctu;
    ctu.id = idOf(2);
    ctu.parentPictureSummaryId = picture.id;
    document.ctus.push_back(ctu);

    const auto addCu = [&](std::uint64_t id, analysis::BlockRect bounds, analysis::PredictionMode mode,
                           std::optional<bool> split, std::optional<bool> skip = std::nullopt) {
        analysis::CuInfo cu;
        cu.id = idOf(id);
        cu.parentCtuId = ctu.id;
        cu.bounds = bounds;
        cu.predictionMode = mode;
        cu.split = split;
        cu.skip = skip;
        cu.parseStatus = analysis::BlockParseStatus::Parsed;
        document.cus.push_back(cu);
    };
    addCu(10, lumaRect(0, 0, 64, 64), analysis::PredictionMode::Intra, true);
    addCu(11, lumaRect(0, 0, 32, 32), analysis::PredictionMode::Intra, false);
    addCu(12, lumaRect(32, 0, 16, 16), analysis::PredictionMode::Inter, std::nullopt);
    addCu(13, lumaRect(48, 0, 16, 16), analysis::PredictionMode::Inter, false, true);
    addCu(14, lumaRect(32, 16, 8, 8), static_cast<analysis::PredictionMode>(9), false);
    addCu(15, analysis::BlockRect{40, 16, 8, 8, 0}, analysis::PredictionMode::Skip, false);

    analysis::CuInfo foreign = document.cus[1];
    foreign.id = idOf(99);
    foreign.parentCtuId = idOf(98);
    document.cus.push_back(foreign);

    analysis::PuInfo pu;
    pu.id = idOf(20);
    pu.parentCuId = idOf(10);  // under the split CU: still counted
    pu.bounds = lumaRect(0, 0, 16, 8);
    pu.partitionMode = analysis::PartitionMode::Part2NxN;
    pu.parseStatus = analysis::BlockParseStatus::Parsed;
    document.pus.push_back(pu);
    const auto addPu = [&](std::uint64_t id, std::uint64_t cu, analysis::BlockRect bounds, analysis::PartitionMode mode) {
        pu.id = idOf(id);
        pu.parentCuId = idOf(cu);
        pu.bounds = bounds;
        pu.partitionMode = mode;
        document.pus.push_back(pu);
    };
    addPu(21, 11, lumaRect(0, 0, 32, 32), analysis::PartitionMode::Part2Nx2N);
    addPu(22, 12, lumaRect(32, 0, 8, 16), analysis::PartitionMode::PartNx2N);
    addPu(23, 14, lumaRect(32, 16, 8, 8), analysis::PartitionMode::Part2Nx2N);

    analysis::TuInfo tu;
    tu.id = idOf(30);
    tu.parentCuId = idOf(11);
    tu.bounds = lumaRect(0, 0, 32, 32);
    tu.depth = 0;
    tu.split = true;  // split TUs are not counted
    document.tus.push_back(tu);
    tu.id = idOf(31);
    tu.split = false;
    tu.depth = 1;
    tu.bounds = lumaRect(0, 0, 16, 16);
    tu.parseStatus = analysis::BlockParseStatus::Malformed;
    document.tus.push_back(tu);
    tu.id = idOf(32);
    tu.depth.reset();
    document.tus.push_back(tu);
    return document;
}

}  // namespace

class PictureStatisticsModelTest : public QObject {
    Q_OBJECT

private slots:
    // Sizes read from the smallest block to the largest, equal areas the narrower first; the
    // other items in text order.
    void bucketsAreCountedPerCategoryInTheirOrder() {
        PictureStatisticsModel model;
        const auto tester = vexilo::test::watch(&model);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.rebuildStatistics(statisticsDocument(), 5);
        QCOMPARE(resets.count(), 1);
        QStringList rows;
        for (int row = 0; row < model.rowCount(); ++row) {
            rows << rowText(model, row);
        }
        QCOMPARE(rows, QStringList({
                           "CU Size | 8x8 | 1 | 64 | 4.0% | derived",
                           "CU Size | 16x16 | 2 | 512 | 32.0% | derived",
                           "CU Size | 32x32 | 1 | 1024 | 64.0% | derived",
                           "CU Size | Unknown | 1 | N/A | 0.0% | partial",
                           // shares of the category's 1600 luma samples, not of the picture
                           "CU Prediction Mode | Inter | 1 | 256 | 16.0% | derived",
                           "CU Prediction Mode | Intra | 1 | 1024 | 64.0% | derived",
                           "CU Prediction Mode | Skip | 2 | 256 | 16.0% | partial",
                           "CU Prediction Mode | Unknown | 1 | 64 | 4.0% | derived",
                           // of 1344 samples
                           "PU Partition | 8x8 2Nx2N | 1 | 64 | 4.8% | derived",
                           "PU Partition | 8x16 Nx2N | 1 | 128 | 9.5% | derived",
                           "PU Partition | 16x8 2NxN | 1 | 128 | 9.5% | derived",
                           "PU Partition | 32x32 2Nx2N | 1 | 1024 | 76.2% | derived",
                           "TU Depth | Depth 1 | 1 | 256 | 50.0% | partial",
                           "TU Depth | Unknown | 1 | 256 | 50.0% | partial",
                       }));
        QCOMPARE(model.columnCount(), 6);
        QCOMPARE(model.headerData(5, Qt::Horizontal).toString(), QStringLiteral("Status"));
        QVERIFY(!model.headerData(6, Qt::Horizontal).isValid());
        QVERIFY(!model.data(model.index(0, 0), Qt::EditRole).isValid());
    }

    void messagesForMissingData() {
        PictureStatisticsModel model;
        const auto tester = vexilo::test::watch(&model);
        model.rebuildStatistics(statisticsDocument(), 6);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(rowText(model, 0), QStringLiteral("Statistics | No picture analysis summary | 0 | N/A | N/A | unavailable"));

        analysis::StreamAnalysis summariesOnly;
        summariesOnly.pictures = statisticsDocument().pictures;
        model.rebuildStatistics(summariesOnly, 5);
        QCOMPARE(rowText(model, 0),
                 QStringLiteral("Statistics | No CU/PU/TU data for this picture | 0 | N/A | N/A | unavailable"));
        model.showMessage("Loading", "pending");
        QCOMPARE(rowText(model, 0), QStringLiteral("Statistics | Loading | 0 | N/A | N/A | pending"));
        model.clear();
        QCOMPARE(model.rowCount(), 0);
    }
};

VEXILO_QT_TEST(PictureStatisticsModelTest)
#include "PictureStatisticsModelTest.moc"
