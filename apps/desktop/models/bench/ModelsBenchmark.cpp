// Builds every analysis object model over a synthetic dense 4K picture (every CTU split
// down to 8x8 CUs, each with a PU, a TU and a motion vector: about 500,000 blocks) and
// prints the time per model.

#include "vexilo/bench/BenchSupport.h"
#include "vexilo/models/BlockInfoModel.h"
#include "vexilo/models/ComparePicturePairModel.h"
#include "vexilo/models/InspectorModel.h"
#include "vexilo/models/PictureStatisticsModel.h"
#include "vexilo/models/PictureTableModel.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace {

using namespace vexilo;
using analysis::StableId;

constexpr std::uint32_t kWidth = 3840;
constexpr std::uint32_t kHeight = 2160;
constexpr std::uint32_t kCtuSize = 64;
constexpr std::uint32_t kLeafSize = 8;
constexpr domain::PictureId kPictureId = 1;
constexpr int kPictureCount = 10'000;
constexpr double kGoalMilliseconds = 200.0;

struct DenseDocument {
    std::shared_ptr<analysis::StreamAnalysis> document = std::make_shared<analysis::StreamAnalysis>();
    std::uint64_t nextId = 1;
    StableId lastCtu{};
    StableId lastLeafCu{};
    StableId lastPu{};
    StableId lastTu{};
    StableId lastMotionVector{};

    StableId newId() { return StableId{0x4b, nextId++}; }

    void addLeaf(const StableId& ctuId, const StableId& parentCu, const analysis::BlockRect& bounds) {
        analysis::CuInfo cu;
        cu.id = newId();
        cu.parentCtuId = ctuId;
        cu.parentCuId = parentCu;
        cu.bounds = bounds;
        cu.depth = 3;
        cu.predictionMode = analysis::PredictionMode::Inter;
        cu.partitionMode = analysis::PartitionMode::Part2Nx2N;
        cu.qp = 32;
        cu.split = false;
        cu.parseStatus = analysis::BlockParseStatus::Parsed;
        document->cus.push_back(cu);
        analysis::PuInfo pu;
        pu.id = newId();
        pu.parentCuId = cu.id;
        pu.bounds = bounds;
        pu.predictionMode = analysis::PredictionMode::Inter;
        pu.partitionMode = analysis::PartitionMode::Part2Nx2N;
        pu.interDirection = analysis::InterDirection::L0;
        pu.parseStatus = analysis::BlockParseStatus::Parsed;
        document->pus.push_back(pu);
        analysis::TuInfo tu;
        tu.id = newId();
        tu.parentCuId = cu.id;
        tu.bounds = bounds;
        tu.depth = 0;
        tu.split = false;
        tu.parseStatus = analysis::BlockParseStatus::Parsed;
        document->tus.push_back(tu);
        analysis::MotionVectorInfo mv;
        mv.id = newId();
        mv.parentPuId = pu.id;
        mv.list = analysis::ReferenceList::L0;
        mv.mvX = 4;
        mv.mvY = -4;
        document->motionVectors.push_back(mv);
        lastLeafCu = cu.id;
        lastPu = pu.id;
        lastTu = tu.id;
        lastMotionVector = mv.id;
    }

    void addQuadtree(const StableId& ctuId, const std::optional<StableId>& parentCu, analysis::BlockRect bounds,
                     std::uint8_t depth) {
        if (bounds.width == kLeafSize) {
            addLeaf(ctuId, parentCu.value_or(StableId{}), bounds);
            return;
        }
        analysis::CuInfo cu;
        cu.id = newId();
        cu.parentCtuId = ctuId;
        cu.parentCuId = parentCu;
        cu.bounds = bounds;
        cu.depth = depth;
        cu.split = true;
        document->cus.push_back(cu);
        const std::uint32_t half = bounds.width / 2;
        for (std::uint32_t quadrant = 0; quadrant < 4; ++quadrant) {
            analysis::BlockRect child = bounds;
            child.x += static_cast<std::int32_t>((quadrant % 2) * half);
            child.y += static_cast<std::int32_t>((quadrant / 2) * half);
            child.width = half;
            child.height = half;
            addQuadtree(ctuId, cu.id, child, static_cast<std::uint8_t>(depth + 1));
        }
    }

    void build() {
        analysis::PictureAnalysisSummary picture;
        picture.id = newId();
        picture.pictureId = kPictureId;
        picture.width = kWidth;
        picture.height = kHeight;
        document->pictures.push_back(picture);
        analysis::SliceInfo slice;
        slice.id = newId();
        document->slices.push_back(slice);
        std::uint32_t address = 0;
        for (std::uint32_t y = 0; y < kHeight; y += kCtuSize) {
            for (std::uint32_t x = 0; x < kWidth; x += kCtuSize) {
                analysis::CtuInfo ctu;
                ctu.id = newId();
                ctu.parentPictureSummaryId = picture.id;
                ctu.sliceInfoId = slice.id;
                ctu.bounds = {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), kCtuSize, kCtuSize, 1};
                ctu.ctuAddressRs = address++;
                document->ctus.push_back(ctu);
                addQuadtree(ctu.id, std::nullopt, ctu.bounds, 0);
                lastCtu = ctu.id;
            }
        }
    }
};

void report(const char* model, double seconds) {
    std::printf("%-28s %8.1f ms  (goal <= %.0f ms)\n", model, seconds * 1000.0, kGoalMilliseconds);
}

domain::PictureInfoBatch pictureBatch(domain::PictureId firstId) {
    domain::PictureInfoBatch batch;
    for (int index = 0; index < kPictureCount; ++index) {
        domain::PictureInfo info;
        info.id = firstId + index;
        info.displayIndex = index;
        info.width = 3840;
        info.height = 2160;
        info.bitDepth = 10;
        batch.push_back(info);
    }
    return batch;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    DenseDocument dense;
    dense.build();
    const auto& document = *dense.document;
    std::printf("dense 4K picture: %zu CTUs, %zu CUs, %zu PUs, %zu TUs, %zu MVs\n", document.ctus.size(),
                document.cus.size(), document.pus.size(), document.tus.size(), document.motionVectors.size());
    constexpr int kRuns = 3;

    report("InspectorModel", bench::bestSecondsOf(kRuns, [&] {
               InspectorModel model;
               model.setAnalysis(dense.document);
               model.explainPicture(kPictureId);
               for (const StableId& id : {dense.lastCtu, dense.lastLeafCu, dense.lastPu, dense.lastTu,
                                          dense.lastMotionVector}) {
                   model.explainObject(id);
               }
               model.showBlockInfo("Hover", "1", "0", "x=0 y=0", dense.lastCtu, dense.lastLeafCu, dense.lastPu,
                                   dense.lastTu);
           }));
    report("BlockInfoModel", bench::bestSecondsOf(kRuns, [&] {
               BlockInfoModel model;
               model.setAnalysis(dense.document);
               model.showBlockInfo("Hover", "1", "0", "x=0 y=0", dense.lastCtu, dense.lastLeafCu, dense.lastPu,
                                   dense.lastTu);
           }));
    report("PictureStatisticsModel", bench::bestSecondsOf(kRuns, [&] {
               PictureStatisticsModel model;
               model.rebuildStatistics(document, kPictureId);
           }));
    report("PictureTableModel (10k)", bench::bestSecondsOf(kRuns, [&] {
               PictureTableModel model;
               model.appendPictures(pictureBatch(1));
               analysis::PictureAnalysisSummary summary;
               summary.poc = 0;
               for (int index = 0; index < kPictureCount; ++index) {
                   summary.pictureId = static_cast<std::uint64_t>(1 + index);
                   model.updatePicture(summary);
                   model.setAnalysisStatus(1 + index, QStringLiteral("loaded"));
               }
           }));
    report("ComparePicturePairModel (10k)", bench::bestSecondsOf(kRuns, [&] {
               ComparePicturePairModel model;
               model.setPictures(pictureBatch(1), pictureBatch(100'001));
               domain::ReferenceYuvSource reference;
               reference.width = 3840;
               reference.height = 2160;
               reference.layout = domain::ReferenceYuvLayout::I010;
               reference.matchedFrames = kPictureCount;
               model.setReferenceYuvSource(reference);
               application::QualityResultStore store;
               model.setQualityResultStore(&store);
               for (int index = 0; index < kPictureCount; ++index) {
                   application::QualityPairResult result;
                   result.frameIndex = index;
                   result.metricsA.emplace();
                   result.metricsB.emplace();
                   store.store({std::move(result)});
               }
           }));
    return 0;
}
