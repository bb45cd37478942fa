#include "AnalyzedStreamFixture.h"

#include "vexilo/models/SyntaxTreeModel.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QAbstractItemModelTester>
#include <QTemporaryDir>
#include <QTest>

#include <unordered_map>

using vexilo::SyntaxTreeModel;
using namespace vexilo::analysis;

namespace {

StableId idOf(std::uint64_t low) { return StableId{3, low}; }

QString text(const QModelIndex& index, int column) { return index.siblingAtColumn(column).data().toString(); }

BlockRect rect(std::int32_t x, std::int32_t y, std::uint32_t size) { return BlockRect{x, y, size, size, 1}; }

// NAL 1 carries a slice and an SPS; a CTU under the slice; CUs before and after their parent;
// a TU under a TU; a PU with a motion vector; a CTU without a slice; a slice without its NAL unit.
std::shared_ptr<StreamAnalysis> smallDocument() {
    auto document = std::make_shared<StreamAnalysis>();
    NalUnitInfo nal;
    nal.id = idOf(1);
    nal.kind = NalUnitKind::Slice;
    nal.nalUnitType = 1;
    nal.byteOffset = 10;
    nal.byteSize = 20;
    nal.pictureId = 5;
    NalUnitInfo odd;
    odd.id = idOf(2);
    odd.kind = static_cast<NalUnitKind>(8);
    odd.byteSpanReliable = false;
    document->nalUnits = {nal, odd};

    ParameterSetInfo sps;
    sps.id = idOf(10);
    sps.parentNalUnitId = idOf(1);
    sps.kind = ParameterSetKind::Undetermined;
    document->parameterSets = {sps};

    SliceInfo slice;
    slice.id = idOf(20);
    slice.parentNalUnitId = idOf(1);
    slice.pictureId = 5;
    slice.displayIndex = 9;
    slice.parseStatus = ParseStatus::Parsed;
    SliceInfo lost = slice;
    lost.id = idOf(21);
    lost.parentNalUnitId = idOf(99);
    document->slices = {slice, lost};

    CtuInfo ctu;
    ctu.id = idOf(30);
    ctu.sliceInfoId = idOf(20);
    ctu.bounds = rect(0, 0, 64);
    CtuInfo loose;
    loose.id = idOf(31);
    loose.bounds = rect(64, 0, 64);
    document->ctus = {ctu, loose};

    CuInfo early;  // names a parent CU that comes later in the collection
    early.id = idOf(40);
    early.parentCtuId = idOf(30);
    early.parentCuId = idOf(41);
    CuInfo parent;
    parent.id = idOf(41);
    parent.parentCtuId = idOf(30);
    parent.parseStatus = BlockParseStatus::Parsed;
    CuInfo child;
    child.id = idOf(42);
    child.parentCtuId = idOf(30);
    child.parentCuId = idOf(41);
    document->cus = {early, parent, child};

    PuInfo pu;
    pu.id = idOf(50);
    pu.parentCuId = idOf(42);
    pu.partitionMode = PartitionMode::Part2NxN;
    pu.refIdxL0 = -1;
    document->pus = {pu};
    TuInfo rootTu;
    rootTu.id = idOf(60);
    rootTu.parentCuId = idOf(42);
    TuInfo leafTu;
    leafTu.id = idOf(61);
    leafTu.parentCuId = idOf(42);
    leafTu.parentTuId = idOf(60);
    leafTu.cbfLuma = true;
    document->tus = {rootTu, leafTu};
    MotionVectorInfo mv;
    mv.id = idOf(70);
    mv.parentPuId = idOf(50);
    mv.mvX = -6;
    document->motionVectors = {mv};
    return document;
}

// The parent the tree gives an object, as an identity (null for the top level).
StableId parentIdOf(const SyntaxTreeModel& model, const StableId& id) {
    const QModelIndex index = model.indexForObject(id);
    return model.objectIdAt(model.parent(index)).value_or(StableId{});
}

}  // namespace

class SyntaxTreeModelTest : public QObject {
    Q_OBJECT

private slots:
    void emptyDocumentHasNoRows() {
        SyntaxTreeModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setAnalysis(std::make_shared<StreamAnalysis>());
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(!model.hasChildren());
        QVERIFY(!model.objectIdAt(QModelIndex()).has_value());
        QVERIFY(!model.pictureIdAt(QModelIndex()).has_value());
        QCOMPARE(model.headerData(3, Qt::Horizontal).toString(), QStringLiteral("Status"));
        QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QStringLiteral("Meaning"));
        QVERIFY(!model.headerData(5, Qt::Horizontal).isValid());
    }

    void objectsNestUnderTheParentsCreatedBeforeThem() {
        SyntaxTreeModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setAnalysis(smallDocument());

        // Two NAL units, then the slice-less CTU and the CU whose parent CU came later.
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(model.objectIdAt(model.index(2, 0)), std::optional(idOf(31)));
        QCOMPARE(model.objectIdAt(model.index(3, 0)), std::optional(idOf(40)));
        QVERIFY(!model.indexForObject(idOf(21)).isValid());  // slice without its NAL unit
        QCOMPARE(parentIdOf(model, idOf(10)), idOf(1));
        QCOMPARE(parentIdOf(model, idOf(20)), idOf(1));
        QCOMPARE(parentIdOf(model, idOf(30)), idOf(20));
        QCOMPARE(parentIdOf(model, idOf(41)), idOf(30));
        QCOMPARE(parentIdOf(model, idOf(42)), idOf(41));
        QCOMPARE(parentIdOf(model, idOf(50)), idOf(42));
        QCOMPARE(parentIdOf(model, idOf(60)), idOf(42));
        QCOMPARE(parentIdOf(model, idOf(61)), idOf(60));
        QCOMPARE(parentIdOf(model, idOf(70)), idOf(50));
        QVERIFY(!model.indexForObject(StableId{}).isValid());
    }

    void rowsCarryTextsAndRoles() {
        SyntaxTreeModel model;
        model.setAnalysis(smallDocument());
        const QModelIndex nal = model.indexForObject(idOf(1));
        QCOMPARE(text(nal, 0), QStringLiteral("Slice"));
        QCOMPARE(text(nal, 1), QStringLiteral("type=1 offset=10 size=20"));
        QCOMPARE(text(nal, 3), QStringLiteral("present"));
        const QModelIndex odd = model.indexForObject(idOf(2));
        QCOMPARE(text(odd, 0), QStringLiteral("Unknown NAL"));
        QCOMPARE(text(odd, 3), QStringLiteral("partial"));
        QCOMPARE(text(model.indexForObject(idOf(10)), 0), QStringLiteral("Parameter set"));
        const QModelIndex slice = model.indexForObject(idOf(20));
        QCOMPARE(text(slice, 1), QStringLiteral("type=Unknown poc=N/A first_ctu=N/A"));
        QCOMPARE(slice.data(SyntaxTreeModel::KindRole).toInt(), 4);
        QCOMPARE(slice.data(SyntaxTreeModel::PictureIdRole).toULongLong(), 5ULL);
        QCOMPARE(slice.data(SyntaxTreeModel::SecondaryValueRole).toLongLong(), 9LL);
        QCOMPARE(model.pictureIdAt(slice), std::optional<vexilo::domain::PictureId>(5));
        const QModelIndex ctu = model.indexForObject(idOf(30));
        QCOMPARE(text(ctu, 1), QStringLiteral("RS=N/A TS=N/A x=0 y=0 64x64"));
        QVERIFY(!model.pictureIdAt(ctu).has_value());
        QVERIFY(!ctu.data(SyntaxTreeModel::PictureIdRole).isValid());
        QVERIFY(!ctu.data(SyntaxTreeModel::SecondaryValueRole).isValid());
        QCOMPARE(ctu.data(SyntaxTreeModel::ObjectIdLowRole).toULongLong(), 30ULL);
        QCOMPARE(ctu.data(SyntaxTreeModel::ObjectIdHighRole).toULongLong(), 3ULL);
        QCOMPARE(text(model.indexForObject(idOf(40)), 1), QStringLiteral("unknown depth=N/A qp=N/A x=0 y=0 0x0"));
        QCOMPARE(text(model.indexForObject(idOf(40)), 3), QStringLiteral("partial"));
        QCOMPARE(text(model.indexForObject(idOf(41)), 3), QStringLiteral("derived"));
        QCOMPARE(text(model.indexForObject(idOf(50)), 1),
                 QStringLiteral("part=0 mode=2NxN refL0=-1 refL1=N/A x=0 y=0 0x0"));
        QCOMPARE(text(model.indexForObject(idOf(61)), 1), QStringLiteral("depth=N/A qp=N/A cbfY=true x=0 y=0 0x0"));
        QCOMPARE(text(model.indexForObject(idOf(70)), 1), QStringLiteral("unknown x=-6 y=N/A refPoc=N/A"));
    }

    // Over the documents the real worker writes (blocks included), every object is found,
    // names its own identity, and sits where its parent links put it.
    // An identity given to two objects is found where a pre-order walk meets it first, which is
    // not where it was created first; objects of their own identity are still found.
    void aRepeatedIdentityIsFoundWhereAWalkMeetsItFirst() {
        auto document = smallDocument();
        document->ctus[0].id = idOf(2);  // the CTU under NAL 1's slice takes NAL 2's identity
        document->cus[0].parentCtuId = idOf(2);
        document->cus[1].parentCtuId = idOf(2);
        document->cus[2].parentCtuId = idOf(2);
        SyntaxTreeModel model;
        model.setAnalysis(document);
        const QModelIndex shared = model.indexForObject(idOf(2));
        QCOMPARE(model.data(shared, SyntaxTreeModel::KindRole).toInt(), static_cast<int>(vexilo::SyntaxTreeNodeKind::Ctu));
        QCOMPARE(parentIdOf(model, idOf(2)), idOf(20));
        QCOMPARE(parentIdOf(model, idOf(42)), idOf(41));
        QCOMPARE(model.objectIdAt(model.indexForObject(idOf(70))), std::optional(idOf(70)));

        // The next document repeats nothing: the same model finds its objects without the table.
        model.setAnalysis(smallDocument());
        QCOMPARE(model.data(model.indexForObject(idOf(2)), SyntaxTreeModel::KindRole).toInt(),
                 static_cast<int>(vexilo::SyntaxTreeNodeKind::NalUnit));
        QVERIFY(!model.indexForObject(idOf(12345)).isValid());
    }

    void workerDocumentsKeepEveryObjectFindable() {
        struct Source {
            std::filesystem::path path;
        };
        const std::vector<std::filesystem::path> streams{
            vexilo::test::generatedStream("bpyramid_420_8bit.mp4"),
            vexilo::test::referenceStream("s04_ldp_tiles_uniform_lf_across.bit"),
            vexilo::test::referenceStream("s07_ldb_slices_ctu_dependent_segments_aud.bit"),
            vexilo::test::referenceStream("s09_ldp_long_term_ref.bit")};
        for (const auto& stream : streams) {
            QTemporaryDir cache;
            const auto analyzed =
                vexilo::test::analyzeWithWorker(stream, cache.path().toStdString(), "bounded_structure");
            if (const auto* error = std::get_if<std::string>(&analyzed)) {
                QFAIL(error->c_str());
            }
            const auto& pictures = std::get<vexilo::test::AnalyzedStream>(analyzed).pictures;
            QVERIFY(!pictures.empty());
            for (const auto& picture : {pictures.front(), pictures.back()}) {
                SyntaxTreeModel model;
                QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
                model.setAnalysis(picture);
                QVERIFY(!picture->cus.empty());
                std::size_t found = 0;
                const auto check = [&](const StableId& id, const std::optional<StableId>& expectedParent) {
                    const QModelIndex index = model.indexForObject(id);
                    QVERIFY(index.isValid());
                    QCOMPARE(model.objectIdAt(index), std::optional(id));
                    if (expectedParent.has_value()) {
                        QCOMPARE(parentIdOf(model, id), *expectedParent);
                    }
                    ++found;
                };
                for (const auto& nal : picture->nalUnits) check(nal.id, StableId{});
                for (const auto& slice : picture->slices) check(slice.id, slice.parentNalUnitId);
                for (const auto& ctu : picture->ctus) check(ctu.id, ctu.sliceInfoId);
                for (const auto& cu : picture->cus) check(cu.id, cu.parentCuId.value_or(cu.parentCtuId));
                for (const auto& pu : picture->pus) check(pu.id, pu.parentCuId);
                for (const auto& tu : picture->tus) check(tu.id, tu.parentTuId.value_or(tu.parentCuId));
                for (const auto& mv : picture->motionVectors) check(mv.id, mv.parentPuId);
                QVERIFY(found > picture->cus.size());
            }
        }
    }
};

VEXILO_QT_TEST(SyntaxTreeModelTest)
#include "SyntaxTreeModelTest.moc"
