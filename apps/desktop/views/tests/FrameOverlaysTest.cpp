#include "ViewerTestSupport.h"
#include "vexilo/test/QtTestRegistry.h"
#include "vexilo/views/FrameOverlays.h"

#include <QTest>

#include <algorithm>

#include <vector>

using vexilo::FrameOverlays;
using vexilo::OverlayKind;
using vexilo::analysis::StableId;
using vexilo::test::DocumentBuilder;
using vexilo::test::idOf;

namespace {

constexpr std::uint64_t kPicture = 7;

std::vector<StableId> objectIds(const FrameOverlays& overlays, OverlayKind kind)
{
    std::vector<StableId> ids;
    for (const vexilo::OverlayRecord& record : overlays.records()) {
        if (record.kind == kind) {
            ids.push_back(record.objectId);
        }
    }
    return ids;
}

}  // namespace

class FrameOverlaysTest : public QObject {
    Q_OBJECT

private slots:
    void keepsOnlyThePicturesDrawableBlocks()
    {
        DocumentBuilder builder(kPicture);
        const StableId ctu = builder.ctu(1, 0, 0);
        // A CTU of another picture summary, and the blocks below it.
        vexilo::analysis::CtuInfo foreign = builder.document().ctus.front();
        foreign.id = idOf(2);
        foreign.parentPictureSummaryId = idOf(99);
        builder.document().ctus.push_back(foreign);
        const StableId cu = builder.cu(10, ctu, DocumentBuilder::rect(0, 0, 32, 32), 22);
        const StableId unknownQp = builder.cu(11, ctu, DocumentBuilder::rect(32, 0, 32, 32), std::nullopt);
        builder.cu(12, foreign.id, DocumentBuilder::rect(0, 32, 32, 32), 30);
        // Bounds in an unknown unit or of zero size still count towards the QP counters.
        builder.cu(13, ctu, {0, 32, 32, 32, 0}, 40);
        builder.cu(14, ctu, DocumentBuilder::rect(0, 32, 0, 32), std::nullopt);
        builder.cu(15, idOf(404), DocumentBuilder::rect(32, 32, 32, 32), 10);
        const StableId tu = builder.tu(20, cu, DocumentBuilder::rect(0, 0, 16, 16));
        builder.tu(21, idOf(12), DocumentBuilder::rect(0, 32, 16, 16));
        const StableId pu = builder.pu(30, cu, DocumentBuilder::rect(0, 0, 32, 16));
        const StableId vector = builder.motionVector(40, pu, -6, 10, vexilo::analysis::ReferenceList::L1);
        builder.motionVector(41, pu, 1, 1);
        builder.document().motionVectors.back().unit = vexilo::analysis::MotionVectorUnit::Unknown;
        builder.motionVector(42, idOf(404), 1, 1);
        builder.motionVector(43, pu, 1, 1);
        builder.document().motionVectors.back().mvY.reset();

        FrameOverlays overlays;
        overlays.rebuild(builder.document(), kPicture);
        QCOMPARE(objectIds(overlays, OverlayKind::Ctu), (std::vector<StableId>{ctu}));
        QCOMPARE(objectIds(overlays, OverlayKind::Cu), (std::vector<StableId>{cu, unknownQp}));
        QCOMPARE(objectIds(overlays, OverlayKind::QpBlock), (std::vector<StableId>{cu, unknownQp}));
        QCOMPARE(objectIds(overlays, OverlayKind::Tu), (std::vector<StableId>{tu}));
        QCOMPARE(objectIds(overlays, OverlayKind::Pu), (std::vector<StableId>{pu}));
        QCOMPARE(overlays.qpKnownCount(), 2U);
        QCOMPARE(overlays.qpUnknownCount(), 2U);
        QCOMPARE(overlays.motionVectors().size(), std::size_t{1});
        const vexilo::MotionVectorRecord& arrow = overlays.motionVectors().front();
        QCOMPARE(arrow.objectId, vector);
        QCOMPARE(arrow.start, QPointF(16, 8));
        QCOMPARE(arrow.delta, QPointF(-1.5, 2.5));
        QCOMPARE(arrow.list, std::uint8_t{2});

        // Another picture id finds nothing.
        overlays.rebuild(builder.document(), kPicture + 1);
        QVERIFY(overlays.records().empty());
        QCOMPARE(overlays.qpKnownCount(), 0U);
    }

    void relatedIdsFollowTheParents()
    {
        DocumentBuilder builder(kPicture);
        const StableId ctu = builder.ctu(1, 0, 0);
        builder.document().ctus.front().sliceInfoId = idOf(5);
        const StableId root = builder.cu(10, ctu, DocumentBuilder::rect(0, 0, 64, 64));
        const StableId child = builder.cu(11, ctu, DocumentBuilder::rect(0, 0, 32, 32), 20, root);
        const StableId rootTu = builder.tu(20, child, DocumentBuilder::rect(0, 0, 32, 32));
        const StableId childTu = builder.tu(21, child, DocumentBuilder::rect(0, 0, 16, 16));
        builder.document().tus.back().parentTuId = rootTu;
        builder.pu(30, child, DocumentBuilder::rect(0, 0, 32, 32));

        FrameOverlays overlays;
        overlays.rebuild(builder.document(), kPicture);
        std::vector<StableId> related;
        for (const vexilo::OverlayRecord& record : overlays.records()) {
            related.push_back(record.relatedId);
        }
        // CTU, root CU and QP, child CU and QP, two TUs, PU.
        QCOMPARE(related,
                 (std::vector<StableId>{idOf(5), ctu, ctu, root, root, child, rootTu, child}));
        // The slice outlines its CTU; the child CU its own two records, both TUs' parent chain
        // starts at it (the root TU) and its PU.
        QCOMPARE(overlays.recordsHighlightedBy(idOf(5)).size(), std::size_t{1});
        QCOMPARE(overlays.recordsHighlightedBy(child).size(), std::size_t{4});
        QCOMPARE(overlays.recordsHighlightedBy(childTu).size(), std::size_t{1});
        QVERIFY(overlays.recordsHighlightedBy(StableId{}).empty());
    }

    // A coding or transform quadtree node that splits further has no QP and is no unit of its own:
    // only its leaves are counted and get QP blocks, while it keeps its outline for highlighting.
    void splitQuadtreeNodesAreOutlinedButNotCounted()
    {
        DocumentBuilder builder(kPicture);
        const StableId ctu = builder.ctu(1, 0, 0);
        const StableId root = builder.cu(10, ctu, DocumentBuilder::rect(0, 0, 64, 64), std::nullopt);
        builder.document().cus.back().split = true;
        const StableId node = builder.cu(11, ctu, DocumentBuilder::rect(0, 0, 32, 32), std::nullopt, root);
        builder.document().cus.back().split = true;
        const StableId leaf = builder.cu(12, ctu, DocumentBuilder::rect(0, 0, 16, 16), 27, node);
        builder.document().cus.back().split = false;
        const StableId big = builder.cu(13, ctu, DocumentBuilder::rect(32, 0, 32, 32), 30, root);
        const StableId transformRoot = builder.tu(20, leaf, DocumentBuilder::rect(0, 0, 16, 16));
        builder.document().tus.back().split = true;
        for (int quarter = 0; quarter < 4; ++quarter) {
            builder.tu(21 + static_cast<std::uint64_t>(quarter), leaf,
                       DocumentBuilder::rect(quarter % 2 * 8, quarter / 2 * 8, 8, 8));
            builder.document().tus.back().parentTuId = transformRoot;
        }

        FrameOverlays overlays;
        overlays.rebuild(builder.document(), kPicture);
        QCOMPARE(overlays.countOf(OverlayKind::Cu), std::size_t{2});
        QCOMPARE(overlays.countOf(OverlayKind::QpBlock), std::size_t{2});
        QCOMPARE(overlays.countOf(OverlayKind::Tu), std::size_t{4});
        QCOMPARE(overlays.qpKnownCount(), 2U);
        QCOMPARE(overlays.qpUnknownCount(), 0U);
        QCOMPARE(objectIds(overlays, OverlayKind::Cu), (std::vector<StableId>{root, node, leaf, big}));
        QCOMPARE(objectIds(overlays, OverlayKind::QpBlock), (std::vector<StableId>{leaf, big}));
        QCOMPARE(objectIds(overlays, OverlayKind::Tu).size(), std::size_t{5});
        // Choosing the root outlines it and the CUs it splits into.
        QCOMPARE(overlays.recordsHighlightedBy(root).size(), std::size_t{4});
        // The hit test still finds the leaves.
        QCOMPARE(overlays.smallestBlocksAt({4, 4}).cuId, leaf);
    }

    // Parents are usually found a few places after the last one; children listed out of their
    // parents' order, far from them, or naming a parent twice must find the same parents.
    void findsParentsWhateverTheOrderOfTheChildren()
    {
        DocumentBuilder builder(kPicture);
        const StableId ctu = builder.ctu(1, 0, 0);
        std::vector<StableId> cus;
        std::vector<StableId> pus;
        for (int index = 0; index < 32; ++index) {
            const int x = (index % 8) * 8;
            const int y = (index / 8) * 8;
            cus.push_back(builder.cu(100 + static_cast<std::uint64_t>(index), ctu, DocumentBuilder::rect(x, y, 8, 8)));
        }
        // PUs and TUs backwards, then a TU of the first CU after those of the last.
        for (int index = 31; index >= 0; --index) {
            const auto at = static_cast<std::size_t>(index);
            const int x = (index % 8) * 8;
            const int y = (index / 8) * 8;
            pus.push_back(builder.pu(300 + at, cus[at], DocumentBuilder::rect(x, y, 8, 4)));
            builder.tu(200 + at, cus[at], DocumentBuilder::rect(x, y, 4, 4));
        }
        builder.tu(250, cus.front(), DocumentBuilder::rect(4, 4, 4, 4));
        // Vectors alternate between the ends of the PU list.
        for (std::size_t index = 0; index < pus.size(); ++index) {
            const std::size_t pu = index % 2 == 0 ? index / 2 : pus.size() - 1 - index / 2;
            builder.motionVector(400 + index, pus[pu], 4, 0);
        }

        FrameOverlays overlays;
        overlays.rebuild(builder.document(), kPicture);
        QCOMPARE(overlays.countOf(OverlayKind::Tu), std::size_t{33});
        QCOMPARE(overlays.countOf(OverlayKind::Pu), std::size_t{32});
        QCOMPARE(overlays.motionVectors().size(), std::size_t{32});
        for (const vexilo::MotionVectorRecord& vector : overlays.motionVectors()) {
            const auto pu = static_cast<std::size_t>(
                std::find(pus.begin(), pus.end(), vector.puId) - pus.begin());
            const int cu = 31 - static_cast<int>(pu);
            QCOMPARE(vector.start, QPointF((cu % 8) * 8 + 4, (cu / 8) * 8 + 2));
        }
        // The first CU: its outline and QP block, its two TUs and its PU.
        QCOMPARE(overlays.recordsHighlightedBy(cus.front()).size(), std::size_t{5});
    }

    void hitTestsTakeTheSmallestBlockAndTheLastEnabledRecord()
    {
        DocumentBuilder builder(kPicture);
        const StableId ctu = builder.ctu(1, 0, 0);
        const StableId big = builder.cu(10, ctu, DocumentBuilder::rect(0, 0, 64, 64));
        const StableId small = builder.cu(11, ctu, DocumentBuilder::rect(0, 0, 32, 32), 20, big);
        const StableId twin = builder.cu(12, ctu, DocumentBuilder::rect(0, 0, 32, 32), 20, big);
        const StableId tu = builder.tu(20, small, DocumentBuilder::rect(32, 32, 32, 32));

        FrameOverlays overlays;
        overlays.rebuild(builder.document(), kPicture);
        vexilo::BlockIds ids = overlays.smallestBlocksAt({10, 10});
        QCOMPARE(ids.ctuId, ctu);
        QCOMPARE(ids.cuId, small);
        QVERIFY(ids.tuId.isNull());
        QVERIFY(ids.cuId != twin);
        // Half-open: x = 32 is outside the 32-wide CUs, inside the TU.
        ids = overlays.smallestBlocksAt({32, 32});
        QCOMPARE(ids.cuId, big);
        QCOMPARE(ids.tuId, tu);
        QVERIFY(!overlays.smallestBlocksAt({64, 10}).any());
        QVERIFY(!overlays.smallestBlocksAt({-1, 10}).any());

        vexilo::OverlayLayerSwitches layers{};
        QVERIFY(!overlays.lastRecordAt({32, 32}, layers).has_value());
        layers[static_cast<std::size_t>(OverlayKind::Cu)] = true;
        // Closed: the point on the twins' corner finds the last of them.
        const std::optional<std::size_t> record = overlays.lastRecordAt({32, 32}, layers);
        QVERIFY(record.has_value());
        QCOMPARE(overlays.records()[*record].objectId, twin);
        layers[static_cast<std::size_t>(OverlayKind::QpBlock)] = true;
        QCOMPARE(overlays.records()[*overlays.lastRecordAt({32, 32}, layers)].kind, OverlayKind::QpBlock);
    }
};

VEXILO_QT_TEST(FrameOverlaysTest)
#include "FrameOverlaysTest.moc"
