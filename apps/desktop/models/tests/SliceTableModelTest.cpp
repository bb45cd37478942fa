#include "AnalyzedStreamFixture.h"

#include "vexilo/models/SliceTableModel.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QAbstractItemModelTester>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using vexilo::SliceTableModel;
using namespace vexilo::analysis;

namespace {

StableId idOf(std::uint64_t low) { return StableId{7, low}; }

SliceInfo slice(std::uint64_t low, std::optional<std::uint32_t> segment, std::optional<std::uint32_t> firstCtu) {
    SliceInfo info;
    info.id = idOf(low);
    info.parentNalUnitId = idOf(1000 + low);
    info.sliceSegmentAddress = segment;
    info.firstCtuAddress = firstCtu;
    return info;
}

QString cell(const SliceTableModel& model, int row, int column) {
    return model.data(model.index(row, column)).toString();
}

}  // namespace

class SliceTableModelTest : public QObject {
    Q_OBJECT

private slots:
    void rowsSortBySegmentThenFirstCtuThenIdentity() {
        auto document = std::make_shared<StreamAnalysis>();
        document->slices = {slice(9, 40, 0), slice(5, std::nullopt, 12), slice(8, std::nullopt, std::nullopt),
                            slice(3, 12, 99), slice(2, std::nullopt, std::nullopt)};
        SliceTableModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setAnalysis(document);

        std::vector<std::uint64_t> order;
        for (int row = 0; row < model.rowCount(); ++row) {
            order.push_back(model.sliceIdAt(row)->low);
        }
        // Key 0 (no address) first, ties by the low id half; then 12 (segment 12, first CTU 12), then 40.
        QCOMPARE(order, (std::vector<std::uint64_t>{2, 8, 3, 5, 9}));
    }

    void cellsShowTheSliceAndItsNalUnit() {
        auto document = std::make_shared<StreamAnalysis>();
        NalUnitInfo nalUnit;
        nalUnit.id = idOf(1001);
        nalUnit.kind = NalUnitKind::Slice;
        nalUnit.nalUnitType = 19;
        nalUnit.byteOffset = 4242;
        document->nalUnits = {nalUnit};
        SliceInfo known = slice(1, std::nullopt, 0);
        known.type = SliceType::I;
        known.sliceQp = -3;
        known.referenceStateStatus = ParseStatus::Malformed;
        known.shortTermRpsCount = 2;
        known.dependentSliceSegment = false;
        SliceInfo orphan = slice(2, 5, 5);
        orphan.parentNalUnitId = StableId{1, 0x2a};
        document->slices = {known, orphan};
        SliceTableModel model;
        model.setAnalysis(document);

        QCOMPARE(cell(model, 0, 0), QStringLiteral("Slice I POC=N/A CTU=0"));
        QCOMPARE(cell(model, 0, 1), QStringLiteral("NAL Slice type=19 @ 4242"));
        QCOMPARE(cell(model, 0, 2), QStringLiteral("I"));
        QCOMPARE(cell(model, 0, 5), QStringLiteral("false"));
        QCOMPARE(cell(model, 0, 7), QStringLiteral("-3"));
        QCOMPARE(cell(model, 0, 8), QStringLiteral("unknown"));
        QCOMPARE(cell(model, 0, 9), QStringLiteral("malformed"));
        QCOMPARE(cell(model, 0, 10), QStringLiteral("ST=2 LT=N/A"));
        QCOMPARE(cell(model, 1, 1), QStringLiteral("NAL id:0000002a"));
        QCOMPARE(cell(model, 1, 2), QStringLiteral("Unknown"));
    }

    void rolesAndBoundsGiveIdentitiesOrNothing() {
        auto document = std::make_shared<StreamAnalysis>();
        SliceInfo withPicture = slice(1, 0, 0);
        withPicture.pictureId = 77;
        withPicture.displayIndex = -4;
        document->slices = {withPicture, slice(2, 1, 1)};
        SliceTableModel model;
        model.setAnalysis(document);

        QCOMPARE(model.data(model.index(0, 0), SliceTableModel::SliceIdHighRole).toULongLong(), 7ULL);
        QCOMPARE(model.data(model.index(0, 0), SliceTableModel::SliceIdLowRole).toULongLong(), 1ULL);
        QCOMPARE(model.data(model.index(0, 0), SliceTableModel::NalUnitIdLowRole).toULongLong(), 1001ULL);
        QCOMPARE(model.data(model.index(0, 0), SliceTableModel::PictureIdRole).toULongLong(), 77ULL);
        QCOMPARE(model.data(model.index(0, 0), SliceTableModel::SecondaryValueRole).toLongLong(), -4LL);
        QVERIFY(!model.data(model.index(1, 0), SliceTableModel::PictureIdRole).isValid());
        QVERIFY(!model.data(model.index(1, 0), SliceTableModel::SecondaryValueRole).isValid());
        QVERIFY(!model.data(model.index(0, 0), Qt::UserRole + 7).isValid());
        QCOMPARE(model.pictureIdAt(0), std::optional<vexilo::domain::PictureId>(77));
        QVERIFY(!model.sliceIdAt(-1).has_value());
        QVERIFY(!model.sliceIdAt(model.rowCount()).has_value());
        QVERIFY(!model.pictureIdAt(2).has_value());
        QCOMPARE(model.rowCount(model.index(0, 0)), 0);
        QCOMPARE(model.columnCount(model.index(0, 0)), 14);
        QCOMPARE(model.headerData(13, Qt::Horizontal).toString(), QStringLiteral("DPB"));
        QVERIFY(!model.headerData(14, Qt::Horizontal).isValid());
        QVERIFY(!model.headerData(0, Qt::Vertical).isValid());

        model.setAnalysis(nullptr);
        QCOMPARE(model.rowCount(), 0);
        model.setAnalysis(document);
        model.clear();
        QCOMPARE(model.rowCount(), 0);
    }

    // Every slice the real worker writes for a stream with tiles and dependent slice segments
    // shows up once, in address order, each naming the NAL unit that carries it.
    void workerDocumentsListEverySliceInAddressOrder() {
        for (const char* stream : {"s07_ldb_slices_ctu_dependent_segments_aud.bit", "s05_ldb_tiles_nonuniform_no_lf_across.bit"}) {
            QTemporaryDir cache;
            const auto analyzed =
                vexilo::test::analyzeWithWorker(vexilo::test::referenceStream(stream), cache.path().toStdString(),
                                                "stream_index");
            if (const auto* error = std::get_if<std::string>(&analyzed)) {
                QFAIL(error->c_str());
            }
            for (const auto& picture : std::get<vexilo::test::AnalyzedStream>(analyzed).pictures) {
                SliceTableModel model;
                QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
                model.setAnalysis(picture);
                QCOMPARE(static_cast<std::size_t>(model.rowCount()), picture->slices.size());
                std::uint32_t previousKey = 0;
                for (int row = 0; row < model.rowCount(); ++row) {
                    const auto found = std::find_if(picture->slices.begin(), picture->slices.end(),
                                                    [&](const SliceInfo& info) { return info.id == *model.sliceIdAt(row); });
                    QVERIFY(found != picture->slices.end());
                    const std::uint32_t key = found->sliceSegmentAddress.value_or(found->firstCtuAddress.value_or(0));
                    QVERIFY(key >= previousKey);
                    previousKey = key;
                    QVERIFY2(cell(model, row, 1).startsWith(QStringLiteral("NAL Slice type=")),
                             qPrintable(cell(model, row, 1)));
                }
            }
        }
    }
};

VEXILO_QT_TEST(SliceTableModelTest)
#include "SliceTableModelTest.moc"
