#include "vexilo/models/InspectorModel.h"

#include "ModelTestSupport.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QSignalSpy>
#include <QTest>

using namespace vexilo;
using vexilo::test::idOf;
using vexilo::test::lumaRect;
using vexilo::test::rowText;

namespace {

// A picture with one CTU, a root CU split into two child CUs, one PU with a vector and
// four TUs under the root, one slice with one entry of each kind, and an entry of another slice.
std::shared_ptr<analysis::StreamAnalysis> blockDocument() {
    auto document = std::make_shared<analysis::StreamAnalysis>();
    analysis::PictureAnalysisSummary picture;
    picture.id = idOf(1);
    picture.pictureId = 7;
    picture.displayIndex = 3;
    picture.poc = 6;
    picture.pictureType = analysis::PictureType::B;
    picture.width = 64;
    picture.height = 64;
    picture.sliceCount = 1;
    picture.completeness = analysis::PictureCompleteness::Complete;
    document->pictures.push_back(picture);

    analysis::SliceInfo slice;
    slice.id = idOf(2);
    slice.type = analysis::SliceType::B;
    slice.poc = 6;
    slice.firstCtuAddress = 0;
    slice.parseStatus = analysis::ParseStatus::Parsed;
    document->slices.push_back(slice);

    analysis::CtuInfo ctu;
    ctu.id = idOf(3);
    ctu.parentPictureSummaryId = picture.id;
    ctu.sliceInfoId = slice.id;
    ctu.bounds = lumaRect(0, 0, 64, 64);
    ctu.ctuAddressRs = 0;
    ctu.ctuAddressTs = 0;
    ctu.parseStatus = analysis::BlockParseStatus::Parsed;
    document->ctus.push_back(ctu);

    analysis::CuInfo root;
    root.id = idOf(10);
    root.parentCtuId = ctu.id;
    root.bounds = lumaRect(0, 0, 64, 64);
    root.depth = 0;
    root.predictionMode = analysis::PredictionMode::Inter;
    root.qp = 30;
    root.split = true;
    root.parseStatus = analysis::BlockParseStatus::Parsed;
    document->cus.push_back(root);
    for (std::uint64_t child = 0; child < 2; ++child) {
        analysis::CuInfo cu = root;
        cu.id = idOf(11 + child);
        cu.parentCuId = root.id;
        cu.split = false;
        cu.depth = 1;
        cu.bounds = lumaRect(static_cast<std::int32_t>(32 * child), 0, 32, 32);
        document->cus.push_back(cu);
    }
    analysis::PuInfo pu;
    pu.id = idOf(20);
    pu.parentCuId = root.id;
    pu.bounds = lumaRect(0, 0, 64, 64);
    pu.predictionMode = analysis::PredictionMode::Inter;
    pu.partitionMode = analysis::PartitionMode::Part2Nx2N;
    pu.interDirection = analysis::InterDirection::L0;
    pu.refIdxL0 = static_cast<std::int8_t>(-1);
    document->pus.push_back(pu);
    for (std::uint64_t index = 0; index < 4; ++index) {
        analysis::TuInfo tu;
        tu.id = idOf(30 + index);
        tu.parentCuId = root.id;
        tu.bounds = lumaRect(0, 0, 32, 32);
        tu.depth = 1;
        document->tus.push_back(tu);
    }
    analysis::MotionVectorInfo mv;
    mv.id = idOf(40);
    mv.parentPuId = pu.id;
    mv.list = analysis::ReferenceList::L0;
    mv.mvX = 5;
    document->motionVectors.push_back(mv);

    analysis::ShortTermReferencePictureEntry shortTerm;
    shortTerm.id = idOf(50);
    shortTerm.parentSliceId = slice.id;
    shortTerm.entryIndex = 0;
    shortTerm.deltaPoc = -2;
    shortTerm.deltaPocOrigin = analysis::ValueOrigin::SliceHeader;
    document->shortTermReferencePictures.push_back(shortTerm);
    shortTerm.id = idOf(51);
    shortTerm.parentSliceId = idOf(999);
    document->shortTermReferencePictures.push_back(shortTerm);
    analysis::ReferencePictureEntry reference;
    reference.id = idOf(52);
    reference.parentSliceId = slice.id;
    reference.list = analysis::ReferenceList::L1;
    reference.listIndex = 0;
    reference.targetPictureId = 5;
    reference.status = analysis::ReferenceStatus::Available;
    document->referencePictures.push_back(reference);
    return document;
}

QStringList fields(const InspectorModel& model) {
    return vexilo::test::columnTexts(model, 0);
}

}  // namespace

class InspectorModelTest : public QObject {
    Q_OBJECT

private slots:
    void freshModelShowsHeadersAndNoRows() {
        InspectorModel model;
        const auto tester = vexilo::test::watch(&model);
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.columnCount(), 5);
        QStringList headers;
        for (int section = 0; section < 6; ++section) {
            headers << model.headerData(section, Qt::Horizontal).toString();
        }
        QCOMPARE(headers, QStringList({"Field", "Value", "Condition", "Status", "Semantics", ""}));
        QVERIFY(!model.headerData(0, Qt::Vertical).isValid());
        QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
    }

    void nullDocumentStillShowsTheAnalysisRowAndUnknownObjects() {
        InspectorModel model;
        const auto tester = vexilo::test::watch(&model);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.setAnalysis(nullptr);
        QCOMPARE(resets.count(), 1);
        QCOMPARE(rowText(model, 0), QStringLiteral("Analysis | loaded | Repository picture payload | present | "
                                                   "Select a NAL or Slice row to inspect detailed fields"));
        model.explainObject({});
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(rowText(model, 0), QStringLiteral("Selection | id:00000000 | Known object ID | unknown | "
                                                   "Object is not present in repository payload"));
        QVERIFY(!model.data(model.index(0, 5)).isValid());
        QVERIFY(!model.data(model.index(0, 0), Qt::FontRole).isValid());
        model.clear();
        QCOMPARE(model.rowCount(), 0);
    }

    void firstCollectionInSearchOrderWins() {
        auto document = blockDocument();
        analysis::NalUnitInfo nal;
        nal.id = idOf(10);  // also a CU's identity
        nal.kind = analysis::NalUnitKind::Slice;
        nal.byteSpanReliable = false;
        nal.byteOffset = 100;
        nal.byteSize = 20;
        document->nalUnits.push_back(nal);
        InspectorModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setAnalysis(document);
        model.explainObject(idOf(10));
        QCOMPARE(model.rowCount(), 8);
        QCOMPARE(rowText(model, 0), QStringLiteral("NAL | NAL Slice type=N/A @ byte 100 +20 | Annex-B scanner | "
                                                   "partial | Semantic NAL identity in input byte order"));
        QCOMPARE(model.data(model.index(5, 1)).toString(), QStringLiteral("100 + 20"));
        QCOMPARE(model.data(model.index(5, 3)).toString(), QStringLiteral("partial"));
        QCOMPARE(rowText(model, 7), QStringLiteral("Internal object ID | 0000000000005eed:000000000000000a | "
                                                   "Vexilo cache | debug | Stable internal ID for selection/cache joins"));
    }

    void sliceListsOnlyItsOwnEntries() {
        InspectorModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setAnalysis(blockDocument());
        model.explainObject(idOf(2));
        QCOMPARE(model.rowCount(), 17);
        QCOMPARE(rowText(model, 14), QStringLiteral("ST RPS[0] | delta=-2 poc=N/A used=N/A neg=N/A | short-term RPS | "
                                                    "slice-header | Short-term reference picture set entry"));
        QCOMPARE(rowText(model, 15), QStringLiteral("L1[0] | target=5 poc=N/A long_term=N/A | actual RefPicList | "
                                                    "available | Effective L0/L1 reference list entry"));
        QCOMPARE(model.data(model.index(16, 0)).toString(), QStringLiteral("Internal object ID"));
        QCOMPARE(rowText(model, 3).section(" | ", 1, 3),
                 QStringLiteral("N/A | not present on dependent slice segments when omitted | unknown"));

        auto lonely = std::make_shared<analysis::StreamAnalysis>();
        analysis::SliceInfo slice;
        slice.id = idOf(77);
        lonely->slices.push_back(slice);
        model.setAnalysis(lonely);
        model.explainObject(idOf(77));
        QCOMPARE(model.rowCount(), 15);
    }

    void unknownKindsAndStatusesOfSyntaxObjects() {
        auto document = std::make_shared<analysis::StreamAnalysis>();
        analysis::ParameterSetInfo parameterSet;
        parameterSet.id = idOf(1);
        parameterSet.parentNalUnitId = idOf(0xdead);
        document->parameterSets.push_back(parameterSet);
        analysis::SeiMessageInfo sei;
        sei.id = idOf(2);
        sei.status = analysis::SeiStatus::Unsupported;
        sei.payloadType = 5;
        document->seiMessages.push_back(sei);
        InspectorModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setAnalysis(document);

        model.explainObject(idOf(1));
        QCOMPARE(model.rowCount(), 10);
        QCOMPARE(rowText(model, 0).section(" | ", 1, 3),
                 QStringLiteral("Unknown parameter_set_id=N/A profile=Unknown | parameter-set syntax | unknown"));
        QCOMPARE(rowText(model, 1).section(" | ", 1, 3),
                 QStringLiteral("Unresolved NAL (id:0000dead) | parameter-set NAL | present"));
        QCOMPARE(rowText(model, 2).section(" | ", 1, 3), QStringLiteral("Unknown | parent NAL type | unknown"));
        QCOMPARE(rowText(model, 5).section(" | ", 1, 3), QStringLiteral("N/A x N/A | SPS conformance | unknown"));

        model.explainObject(idOf(2));
        QCOMPARE(model.rowCount(), 7);
        QCOMPARE(rowText(model, 0).section(" | ", 1, 3), QStringLiteral("SEI payload_type=5 size=N/A | SEI syntax | unsupported"));
        QCOMPARE(rowText(model, 4).section(" | ", 1, 3), QStringLiteral("unsupported | SEI parser | unsupported"));
        QCOMPARE(rowText(model, 5).section(" | ", 1, 3), QStringLiteral(" | SEI payload | unknown"));
    }

    void pictureExplanationCountsThePayload() {
        InspectorModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setAnalysis(blockDocument());
        model.explainPicture(8);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(rowText(model, 1), QStringLiteral("Picture analysis | N/A | Repository picture payload | unknown | "
                                                   "No matching picture summary in this payload"));
        model.explainPicture(7);
        QCOMPARE(fields(model), QStringList({"Picture ID", "Display index", "POC", "Completeness", "Slices",
                                             "RPS entries", "Reference lists", "DPB snapshot"}));
        QCOMPARE(model.data(model.index(3, 3)).toString(), QStringLiteral("complete"));
        QCOMPARE(model.data(model.index(5, 1)).toString(), QStringLiteral("ST=2 LT=0"));
        QCOMPARE(model.data(model.index(6, 1)).toString(), QStringLiteral("L0/L1 entries=1"));
        QCOMPARE(model.data(model.index(7, 1)).toString(), QStringLiteral("0 entries"));
    }

    void codingBlocksShowHierarchyAndCounts() {
        auto document = blockDocument();
        analysis::CtuInfo orphan = document->ctus.front();
        orphan.id = idOf(4);
        orphan.sliceInfoId = analysis::StableId{0, 0xabc};
        orphan.bounds.unit = 0;
        document->ctus.push_back(orphan);
        analysis::CuInfo lost = document->cus.front();
        lost.id = idOf(13);
        lost.parentCuId = analysis::StableId{0, 42};
        document->cus.push_back(lost);
        InspectorModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setAnalysis(document);

        model.explainObject(idOf(3));
        QCOMPARE(model.rowCount(), 9);
        QCOMPARE(model.data(model.index(2, 1)).toString(), QStringLiteral("Slice B POC=6 firstCTU=0 display=N/A"));
        QCOMPARE(model.data(model.index(3, 1)).toString(), QStringLiteral("4"));  // every CU names its CTU
        QCOMPARE(model.data(model.index(1, 1)).toString(),
                 QStringLiteral("Picture display=3 POC=6 type=B size=64x64"));
        model.explainObject(idOf(4));
        QCOMPARE(rowText(model, 2).section(" | ", 1, 3),
                 QStringLiteral("Unresolved slice (id:00000abc) | slice association | derived"));
        QCOMPARE(model.data(model.index(3, 1)).toString(), QStringLiteral("0"));
        QCOMPARE(model.data(model.index(6, 3)).toString(), QStringLiteral("unknown"));

        model.explainObject(idOf(10));
        QCOMPARE(model.rowCount(), 15);
        QCOMPARE(rowText(model, 2).section(" | ", 1, 3), QStringLiteral("N/A | split hierarchy | unknown"));
        QCOMPARE(model.data(model.index(3, 1)).toString(), QStringLiteral("CU=2 PU=1 TU=4"));
        QCOMPARE(rowText(model, 12).section(" | ", 1, 3), QStringLiteral("Y=30 Cb=N/A Cr=N/A | final decoder QP | derived"));
        model.explainObject(idOf(13));
        QCOMPARE(rowText(model, 2).section(" | ", 1, 3),
                 QStringLiteral("Unresolved CU (id:0000002a) | split hierarchy | derived"));

        model.explainObject(idOf(20));
        QCOMPARE(model.rowCount(), 14);
        QCOMPARE(model.data(model.index(2, 1)).toString(), QStringLiteral("1"));
        QCOMPARE(rowText(model, 8).section(" | ", 1, 3), QStringLiteral("luma=N/A chroma=N/A | intra PU | unknown"));
        QCOMPARE(model.data(model.index(9, 1)).toString(), QStringLiteral("flag=N/A index=N/A"));
        QCOMPARE(rowText(model, 10).section(" | ", 1, 3),
                 QStringLiteral("idx=-1 poc=N/A status=unknown | actual L0 list | unknown"));

        model.explainObject(idOf(30));
        QCOMPARE(model.rowCount(), 13);
        QCOMPARE(model.data(model.index(9, 1)).toString(), QStringLiteral("explicit Y=N/A Cb=N/A Cr=N/A"));

        model.explainObject(idOf(40));
        QCOMPARE(model.rowCount(), 7);
        QCOMPARE(rowText(model, 0).section(" | ", 1, 3),
                 QStringLiteral("MV L0 refIdx=N/A refPOC=N/A x=5 y=N/A quarter-luma | decoder motion state | unknown"));
        QCOMPARE(rowText(model, 3).section(" | ", 1, 3),
                 QStringLiteral("x=5 y=N/A unit=quarter-luma | decoder motion state | unknown"));
    }

    void blockInfoRows() {
        InspectorModel model;
        const auto tester = vexilo::test::watch(&model);
        model.setAnalysis(blockDocument());
        model.showBlockInfo("Hover HEVC block", "7", "3", "x=1 y=2", {}, {}, {}, {});
        QCOMPARE(model.rowCount(), 9);
        for (int row = 5; row < 9; ++row) {
            QCOMPARE(model.data(model.index(row, 1)).toString(), QStringLiteral("N/A"));
            QCOMPARE(model.data(model.index(row, 3)).toString(), QStringLiteral("unavailable"));
        }
        model.showBlockInfo("Locked", "7", "3", "x=1 y=2", idOf(3), idOf(10), idOf(20), idOf(30));
        QCOMPARE(fields(model), QStringList({"Block Info", "Interaction", "Picture ID", "Display index", "Luma sample",
                                             "CTU", "CU", "PU", "TU", "CU prediction", "CU QP", "PU prediction",
                                             "PU references", "TU residual", "TU QP"}));
        QCOMPARE(model.data(model.index(9, 1)).toString(), QStringLiteral("mode=inter part=N/A skip=N/A split=true"));
        QCOMPARE(rowText(model, 12).section(" | ", 1, 3),
                 QStringLiteral("L0 idx=-1 poc=N/A status=unknown; L1 idx=N/A poc=N/A status=unknown | "
                                "actual reference list | unknown"));
        model.showBlockInfo("Locked", "7", "3", "x=1 y=2", idOf(3), analysis::StableId{0, 0x99}, {}, {});
        QCOMPARE(model.rowCount(), 9);
        QCOMPARE(rowText(model, 6).section(" | ", 1, 3),
                 QStringLiteral("Unresolved CU (id:00000099) | coding unit | derived"));

        model.showBlockInfoUnavailable("Hover", "7", "3", "x=1 y=2", "cell 0,0");
        QCOMPARE(model.rowCount(), 7);
        QCOMPARE(rowText(model, 5), QStringLiteral("Fallback cell | cell 0,0 | 64x64 display grid | not bitstream metadata | "
                                                   "Spatial fallback for UI inspection before SPS/CTU metadata is available"));
        model.showSingleRow("a", "b", "c", "d", "e");
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(rowText(model, 0), QStringLiteral("a | b | c | d | e"));
    }

    void documentTextsAreShownLiterally() {
        auto document = std::make_shared<analysis::StreamAnalysis>();
        analysis::NalUnitInfo nal;
        nal.id = idOf(1);
        nal.contentHash = std::string("%1 <b>bold</b> \xff\xfe end");
        document->nalUnits.push_back(nal);
        InspectorModel model;
        model.setAnalysis(document);
        model.explainObject(idOf(1));
        const QString hash = model.data(model.index(6, 1)).toString();
        QVERIFY(hash.startsWith(QStringLiteral("%1 <b>bold</b> ")));
        QVERIFY(hash.endsWith(QStringLiteral(" end")));
        QVERIFY(hash.contains(QChar::ReplacementCharacter));
        QCOMPARE(model.data(model.index(6, 3)).toString(), QStringLiteral("present"));
        model.showBlockInfoUnavailable("%1", "%2", "<i>", "x", "%1%2");
        QCOMPARE(model.data(model.index(1, 1)).toString(), QStringLiteral("%1"));
        QCOMPARE(model.data(model.index(5, 1)).toString(), QStringLiteral("%1%2"));
    }
};

VEXILO_QT_TEST(InspectorModelTest)
#include "InspectorModelTest.moc"
