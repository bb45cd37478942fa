#pragma once

// A picture document as dense as H.265 coding gets at a given size, for the benchmarks of
// everything that walks blocks: 64x64 CTUs split into 8x8 CUs, each CU with two PUs, four
// TUs and one motion vector per PU, all carried by one slice of one NAL unit.

#include "vexilo/analysis/StreamAnalysis.h"

#include <cstdint>
#include <memory>

namespace vexilo::bench {

inline std::shared_ptr<analysis::StreamAnalysis> makeDensePictureDocument(std::uint32_t width, std::uint32_t height) {
    using namespace analysis;
    constexpr std::uint32_t kCtuSize = 64;
    constexpr std::uint32_t kCuSize = 8;
    std::uint64_t nextId = 1;
    const auto newId = [&nextId] { return StableId{0x5eed, nextId++}; };

    auto document = std::make_shared<StreamAnalysis>();
    document->width = width;
    document->height = height;
    NalUnitInfo nalUnit;
    nalUnit.id = newId();
    nalUnit.kind = NalUnitKind::Slice;
    nalUnit.pictureId = 1;
    document->nalUnits.push_back(nalUnit);
    SliceInfo slice;
    slice.id = newId();
    slice.parentNalUnitId = nalUnit.id;
    slice.pictureId = 1;
    slice.type = SliceType::B;
    slice.parseStatus = ParseStatus::Parsed;
    document->slices.push_back(slice);
    PictureAnalysisSummary summary;
    summary.id = newId();
    summary.pictureId = 1;
    document->pictures.push_back(summary);

    for (std::uint32_t ctuY = 0; ctuY < height; ctuY += kCtuSize) {
        for (std::uint32_t ctuX = 0; ctuX < width; ctuX += kCtuSize) {
            CtuInfo ctu;
            ctu.id = newId();
            ctu.parentPictureSummaryId = summary.id;
            ctu.sliceInfoId = slice.id;
            ctu.bounds = BlockRect{static_cast<std::int32_t>(ctuX), static_cast<std::int32_t>(ctuY), kCtuSize,
                                   kCtuSize, kBlockRectUnitLumaSample};
            ctu.ctuAddressRs = static_cast<std::uint32_t>(document->ctus.size());
            ctu.parseStatus = BlockParseStatus::Parsed;
            document->ctus.push_back(ctu);
            for (std::uint32_t cuY = ctuY; cuY < std::min(ctuY + kCtuSize, height); cuY += kCuSize) {
                for (std::uint32_t cuX = ctuX; cuX < std::min(ctuX + kCtuSize, width); cuX += kCuSize) {
                    const auto x = static_cast<std::int32_t>(cuX);
                    const auto y = static_cast<std::int32_t>(cuY);
                    CuInfo cu;
                    cu.id = newId();
                    cu.parentCtuId = ctu.id;
                    cu.bounds = BlockRect{x, y, kCuSize, kCuSize, kBlockRectUnitLumaSample};
                    cu.depth = 3;
                    cu.predictionMode = PredictionMode::Inter;
                    cu.partitionMode = PartitionMode::Part2NxN;
                    cu.qp = 32;
                    cu.parseStatus = BlockParseStatus::Parsed;
                    document->cus.push_back(cu);
                    for (std::uint8_t part = 0; part < 2; ++part) {
                        PuInfo pu;
                        pu.id = newId();
                        pu.parentCuId = cu.id;
                        pu.bounds = BlockRect{x, y + part * 4, kCuSize, 4, kBlockRectUnitLumaSample};
                        pu.partIndex = part;
                        pu.partitionMode = PartitionMode::Part2NxN;
                        pu.predictionMode = PredictionMode::Inter;
                        pu.interDirection = InterDirection::L0;
                        pu.refIdxL0 = 0;
                        pu.parseStatus = BlockParseStatus::Parsed;
                        document->pus.push_back(pu);
                        MotionVectorInfo motionVector;
                        motionVector.id = newId();
                        motionVector.parentPuId = pu.id;
                        motionVector.list = ReferenceList::L0;
                        motionVector.mvX = static_cast<std::int32_t>(cuX % 37) - 18;
                        motionVector.mvY = static_cast<std::int32_t>(cuY % 29) - 14;
                        motionVector.unit = MotionVectorUnit::QuarterLumaSample;
                        document->motionVectors.push_back(motionVector);
                    }
                    for (std::uint32_t tu = 0; tu < 4; ++tu) {
                        TuInfo transformUnit;
                        transformUnit.id = newId();
                        transformUnit.parentCuId = cu.id;
                        transformUnit.bounds = BlockRect{x + static_cast<std::int32_t>(tu % 2) * 4,
                                                         y + static_cast<std::int32_t>(tu / 2) * 4, 4, 4,
                                                         kBlockRectUnitLumaSample};
                        transformUnit.depth = 1;
                        transformUnit.cbfLuma = tu % 2 == 0;
                        transformUnit.qp = 32;
                        transformUnit.parseStatus = BlockParseStatus::Parsed;
                        document->tus.push_back(transformUnit);
                    }
                }
            }
        }
    }
    document->pictures.front().ctuCount = static_cast<std::uint32_t>(document->ctus.size());
    document->pictures.front().cuCount = document->cus.size();
    document->pictures.front().puCount = document->pus.size();
    document->pictures.front().tuCount = document->tus.size();
    return document;
}

}  // namespace vexilo::bench
