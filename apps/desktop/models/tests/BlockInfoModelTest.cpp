#include "vexilo/models/BlockInfoModel.h"

#include "ModelTestSupport.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QBrush>
#include <QFont>
#include <QSignalSpy>
#include <QTest>

using namespace vexilo;
using vexilo::test::idOf;
using vexilo::test::lumaRect;

namespace {

std::shared_ptr<analysis::StreamAnalysis> blockDocument() {
    auto document = std::make_shared<analysis::StreamAnalysis>();
    analysis::SliceInfo slice;
    slice.id = idOf(2);
    slice.type = analysis::SliceType::P;
    slice.poc = 4;
    slice.sliceQp = 27;
    slice.tileId = 1;
    slice.parseStatus = analysis::ParseStatus::Parsed;
    document->slices.push_back(slice);
    analysis::CtuInfo ctu;
    ctu.id = idOf(3);
    ctu.sliceInfoId = slice.id;
    ctu.bounds = lumaRect(64, 0, 64, 64);
    ctu.ctuAddressRs = 1;
    document->ctus.push_back(ctu);
    ctu.id = idOf(4);
    ctu.sliceInfoId = analysis::StableId{0, 0x77};
    document->ctus.push_back(ctu);
    analysis::CuInfo cu;
    cu.id = idOf(10);
    cu.bounds = lumaRect(64, 0, 0, 64);
    cu.partitionMode = static_cast<analysis::PartitionMode>(9);
    document->cus.push_back(cu);
    analysis::PuInfo pu;
    pu.id = idOf(20);
    pu.bounds = lumaRect(64, 0, 32, 64);
    pu.refStatusL1 = analysis::ReferenceStatus::CurrentPicture;
    document->pus.push_back(pu);
    analysis::TuInfo tu;
    tu.id = idOf(30);
    tu.bounds = lumaRect(64, 0, 32, 32);
    document->tus.push_back(tu);
    return document;
}

int rowNamed(const BlockInfoModel& model, const QString& name, int from = 0) {
    for (int row = from; row < model.rowCount(); ++row) {
        if (model.rows()[static_cast<std::size_t>(row)].name == name) {
            return row;
        }
    }
    return -1;
}

QString valueOf(const BlockInfoModel& model, const QString& name, int from = 0) {
    const int row = rowNamed(model, name, from);
    return row < 0 ? QStringLiteral("<missing>") : model.data(model.index(row, 1)).toString();
}

QColor brushColour(const QVariant& value) {
    return value.value<QBrush>().color();
}

}  // namespace

class BlockInfoModelTest : public QObject {
    Q_OBJECT

private slots:
    void shapeAndHeaders() {
        BlockInfoModel model;
        const auto tester = vexilo::test::watch(&model);
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.columnCount(), 2);
        QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("name"));
        QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("value"));
        QVERIFY(!model.headerData(2, Qt::Horizontal).isValid());
        QVERIFY(!model.headerData(0, Qt::Vertical).isValid());
        model.showMessage("Title", "detail", "idle");
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.rowCount(model.index(0, 0)), 0);
        QCOMPARE(model.columnCount(model.index(0, 0)), 0);
        QCOMPARE(model.data(model.index(1, 0)).toString(), QStringLiteral("  state"));
    }

    void emptyIdentitiesGiveTheShortListing() {
        BlockInfoModel model;
        const auto tester = vexilo::test::watch(&model);
        model.showBlockInfo("Hover HEVC block", "7", "3", "x=1 y=2", {}, {}, {}, {});
        QCOMPARE(model.rowCount(), 28);
        QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("structure metadata"));
        QCOMPARE(valueOf(model, "lock state"), QStringLiteral("hover"));
        QCOMPARE(valueOf(model, "source"), QStringLiteral("FFmpeg analyzer worker"));
    }

    void everythingFoundGivesTheFullListing() {
        BlockInfoModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setAnalysis(blockDocument());
        model.showBlockInfo("Locked HEVC block", "7", "3", "x=65 y=2", idOf(3), idOf(10), idOf(20), idOf(30));
        QCOMPARE(model.rowCount(), 72);
        QCOMPARE(valueOf(model, "slice id"), QStringLiteral("id:00000002"));
        QCOMPARE(valueOf(model, "type"), QStringLiteral("P"));
        QCOMPARE(valueOf(model, "QP"), QStringLiteral("27"));
        QCOMPARE(valueOf(model, "bounds", rowNamed(model, "coding tree unit")), QStringLiteral("x=64 y=0 w=64 h=64"));
        QCOMPARE(valueOf(model, "bounds", rowNamed(model, "coding unit")), QStringLiteral("N/A"));
        QCOMPARE(valueOf(model, "prediction mode"), QStringLiteral("Unknown"));
        QCOMPARE(valueOf(model, "partition mode"), QStringLiteral("Unknown"));
        QCOMPARE(valueOf(model, "L1 ref status"), QStringLiteral("current picture"));
        QCOMPARE(valueOf(model, "L0 ref status"), QStringLiteral("N/A"));
        QCOMPARE(valueOf(model, "lock state"), QStringLiteral("locked"));
    }

    void unresolvedSliceShowsItsReference() {
        BlockInfoModel model;
        model.setAnalysis(blockDocument());
        model.showBlockInfo("locked lower case", "7", "3", "x", idOf(4), {}, {}, {});
        QCOMPARE(valueOf(model, "slice id"), QStringLiteral("id:00000077"));
        QCOMPARE(valueOf(model, "POC"), QStringLiteral("N/A"));
        QCOMPARE(rowNamed(model, "first CTU addr"), -1);
        QCOMPARE(rowNamed(model, "parse status", rowNamed(model, "slice")),
                 rowNamed(model, "parse status", rowNamed(model, "coding tree unit")));
        QCOMPARE(valueOf(model, "lock state"), QStringLiteral("hover"));
    }

    void rowsAreStyledByKind() {
        BlockInfoModel model;
        model.setAnalysis(blockDocument());
        model.showBlockInfo("Locked HEVC block", "N/A", "Unknown", "x", {}, idOf(10), {}, {});
        const QModelIndex titleName = model.index(0, 0);
        const QModelIndex titleValue = model.index(0, 1);
        QCOMPARE(model.data(titleName).toString(), QStringLiteral("  Block Info"));
        QCOMPARE(model.data(titleValue, Qt::FontRole).value<QFont>().family(), QStringLiteral("Consolas"));
        QCOMPARE(model.data(titleName, Qt::FontRole).value<QFont>().weight(), QFont::Bold);
        QCOMPARE(brushColour(model.data(titleName, Qt::BackgroundRole)), QColor(222, 235, 255));
        QVERIFY(model.data(titleName, Qt::ToolTipRole).toString().startsWith("Hover updates continuously"));
        QCOMPARE(model.data(titleName, Qt::TextAlignmentRole).value<Qt::Alignment>(),
                 Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));

        const int section = rowNamed(model, "location");
        QCOMPARE(model.data(model.index(section, 0)).toString(), QStringLiteral("location"));
        QCOMPARE(model.data(model.index(section, 1)).toString(), QString());
        QCOMPARE(brushColour(model.data(model.index(section, 1), Qt::ForegroundRole)), QColor(245, 247, 250));
        QCOMPARE(brushColour(model.data(model.index(section, 0), Qt::BackgroundRole)), QColor(54, 66, 82));

        const int absent = rowNamed(model, "picture id");  // value "N/A": grey in both columns
        QCOMPARE(brushColour(model.data(model.index(absent, 0), Qt::ForegroundRole)), QColor(116, 124, 135));
        QCOMPARE(brushColour(model.data(model.index(absent, 1), Qt::ForegroundRole)), QColor(116, 124, 135));
        const int capitalUnknown = rowNamed(model, "display index");  // "Unknown" keeps the normal colours
        QCOMPARE(brushColour(model.data(model.index(capitalUnknown, 0), Qt::ForegroundRole)), QColor(76, 84, 96));
        QVERIFY(!model.data(model.index(capitalUnknown, 1), Qt::ForegroundRole).isValid());
        QVERIFY(!model.data(model.index(capitalUnknown, 0), Qt::FontRole).isValid());
        QCOMPARE(model.data(model.index(capitalUnknown, 1), Qt::FontRole).value<QFont>().weight(), QFont::Normal);
        QVERIFY(!model.data(model.index(capitalUnknown, 0), Qt::ToolTipRole).isValid());
        QVERIFY(!model.data(model.index(capitalUnknown, 0), Qt::UserRole).isValid());
    }

    void fallbackListing() {
        BlockInfoModel model;
        const auto tester = vexilo::test::watch(&model);
        model.showBlockInfoUnavailable("Hover", "7", "3", "x=1 y=2", "cell (0, 0)");
        QCOMPARE(model.rowCount(), 14);
        QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("fallback grid"));
        const int warning = rowNamed(model, "source");
        QCOMPARE(model.rows()[static_cast<std::size_t>(warning)].kind, BlockInfoRowKind::Warning);
        QCOMPARE(brushColour(model.data(model.index(warning, 0), Qt::ForegroundRole)), QColor(138, 88, 0));
        QCOMPARE(brushColour(model.data(model.index(warning, 1), Qt::BackgroundRole)), QColor(255, 244, 214));
        QCOMPARE(model.data(model.index(warning, 1), Qt::ToolTipRole).toString(),
                 QStringLiteral("Run picture structure analysis to replace this with actual CTU/CU/PU/TU data."));
        QCOMPARE(valueOf(model, "source", warning + 1), QStringLiteral("viewer 64x64 grid"));
        QCOMPARE(valueOf(model, "confidence"), QStringLiteral("fallback only"));
    }

    void newDocumentLeavesTheListingUntilTheNextShow() {
        BlockInfoModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setAnalysis(blockDocument());
        model.showBlockInfo("Hover", "7", "3", "x", idOf(3), {}, {}, {});
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.setAnalysis(nullptr);
        QCOMPARE(resets.count(), 0);
        QCOMPARE(valueOf(model, "slice id"), QStringLiteral("id:00000002"));
        model.showBlockInfo("Hover", "7", "3", "x", idOf(3), {}, {}, {});
        QCOMPARE(valueOf(model, "CTU id"), QStringLiteral("N/A"));
        model.clear();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(resets.count(), 2);
    }

    void labels() {
        using namespace blockinfo;
        QCOMPARE(blockIdText({}), QStringLiteral("N/A"));
        QCOMPARE(blockIdText({1, 0}), QStringLiteral("id:00000000"));
        QCOMPARE(blockRectText(lumaRect(-1, 2, 3, 4)), QStringLiteral("x=-1 y=2 w=3 h=4"));
        QCOMPARE(referenceAvailabilityLabel(4), QStringLiteral("current picture"));
        QCOMPARE(partModeLabel(0), QStringLiteral("Unknown"));
        QCOMPARE(interDirectionLabel(0), QStringLiteral("Unknown"));
        QCOMPARE(lockStateText("Locked"), QStringLiteral("locked"));
        QCOMPARE(lockStateText("locked"), QStringLiteral("hover"));
    }
};

VEXILO_QT_TEST(BlockInfoModelTest)
#include "BlockInfoModelTest.moc"
