#pragma once

// A synthetic 4K inter-coded stream document: each 64x64 CTU holds a split root CU
// with four 32x32 leaf CUs, each leaf with one PU, one TU and one motion vector.

#include "vexilo/analysis/StreamAnalysis.h"

#include <cstdint>
#include <string>

namespace vexilo::analysis::bench {

inline constexpr std::uint32_t kCtuSize = 64;
inline constexpr std::uint32_t kLeafSize = 32;
inline constexpr std::uint32_t kPictureWidth = 3840;
inline constexpr std::uint32_t kPictureHeight = 2176;  // 34 whole CTU rows
inline constexpr std::uint64_t kBlockRecordsPerCtu = 1 + 4 * 4;  // root CU; per leaf CU, PU, TU, MV

// Identity of the n-th object of one kind: the kind in the high word keeps kinds apart.
inline StableId objectId(std::uint64_t kind, std::uint64_t index)
{
    return StableId{kind, index + 1};
}

class SyntheticStream {
public:
    explicit SyntheticStream(std::uint64_t blockRecords)
    {
        document_.id = objectId(kDocumentKind, 0);
        document_.compactId = document_.id.low;
        document_.sourceFingerprint = "sha256:" + std::string(64, 'c');
        document_.profile = StreamProfile::Main;
        document_.width = kPictureWidth;
        document_.height = kPictureHeight;
        document_.bitDepth = 8;
        const std::uint64_t ctuCount = (blockRecords + kBlockRecordsPerCtu - 1) / kBlockRecordsPerCtu;
        reserve(ctuCount);
        for (std::uint64_t ctu = 0; ctu < ctuCount; ++ctu) {
            addCtu(ctu);
        }
    }

    [[nodiscard]] const StreamAnalysis& document() const { return document_; }

private:
    static constexpr std::uint64_t kDocumentKind = 0x10;
    static constexpr std::uint64_t kNalKind = 0x11;
    static constexpr std::uint64_t kSliceKind = 0x12;
    static constexpr std::uint64_t kReferenceKind = 0x13;
    static constexpr std::uint64_t kPictureKind = 0x14;
    static constexpr std::uint64_t kCtuKind = 0x15;
    static constexpr std::uint64_t kCuKind = 0x16;
    static constexpr std::uint64_t kPuKind = 0x17;
    static constexpr std::uint64_t kTuKind = 0x18;
    static constexpr std::uint64_t kMotionVectorKind = 0x19;
    static constexpr std::uint64_t kCtusPerRow = kPictureWidth / kCtuSize;
    static constexpr std::uint64_t kCtusPerPicture = kCtusPerRow * (kPictureHeight / kCtuSize);

    static BlockRect luma(std::uint64_t x, std::uint64_t y, std::uint32_t size)
    {
        return BlockRect{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), size, size,
                         kBlockRectUnitLumaSample};
    }

    void reserve(std::uint64_t ctuCount)
    {
        document_.ctus.reserve(ctuCount);
        document_.cus.reserve(ctuCount * 5);
        document_.pus.reserve(ctuCount * 4);
        document_.tus.reserve(ctuCount * 4);
        document_.motionVectors.reserve(ctuCount * 4);
    }

    void addPicture(std::uint64_t picture)
    {
        NalUnitInfo unit;
        unit.id = objectId(kNalKind, picture);
        unit.parentStreamAnalysisId = document_.id;
        unit.byteOffset = picture * 100'000;
        unit.byteSize = 90'000;
        unit.kind = NalUnitKind::Slice;
        unit.nalUnitType = 1;
        unit.temporalId = 0;
        unit.layerId = 0;
        unit.startCodeLength = 4;
        unit.pictureId = picture;
        unit.contentHash = "fnv1a64:0123456789abcdef";
        document_.nalUnits.push_back(unit);

        SliceInfo slice;
        slice.id = objectId(kSliceKind, picture);
        slice.parentNalUnitId = unit.id;
        slice.pictureId = picture;
        slice.type = SliceType::P;
        slice.firstCtuAddress = 0;
        slice.ppsId = 0;
        slice.poc = static_cast<std::int32_t>(picture);
        slice.sliceQp = 32;
        slice.parseStatus = ParseStatus::Parsed;
        slice.referenceStateStatus = ParseStatus::Parsed;
        slice.numRefIdxL0Active = 1;
        document_.slices.push_back(slice);

        document_.referencePictures.push_back(ReferencePictureEntry{.id = objectId(kReferenceKind, picture),
                                                                    .parentSliceId = slice.id,
                                                                    .list = ReferenceList::L0,
                                                                    .listIndex = 0,
                                                                    .status = ReferenceStatus::Available});
        document_.pictures.push_back(PictureAnalysisSummary{.id = objectId(kPictureKind, picture),
                                                            .parentStreamAnalysisId = document_.id,
                                                            .pictureId = picture,
                                                            .decodeIndex = static_cast<std::int64_t>(picture),
                                                            .pictureType = PictureType::P,
                                                            .width = kPictureWidth,
                                                            .height = kPictureHeight,
                                                            .bitDepth = 8,
                                                            .completeness = PictureCompleteness::Complete});
    }

    void addCtu(std::uint64_t ctu)
    {
        const std::uint64_t picture = ctu / kCtusPerPicture;
        if (ctu % kCtusPerPicture == 0) {
            addPicture(picture);
        }
        const std::uint64_t inPicture = ctu % kCtusPerPicture;
        const std::uint64_t x = (inPicture % kCtusPerRow) * kCtuSize;
        const std::uint64_t y = (inPicture / kCtusPerRow) * kCtuSize;
        const StableId ctuId = objectId(kCtuKind, ctu);
        document_.ctus.push_back(CtuInfo{.id = ctuId,
                                         .parentPictureSummaryId = objectId(kPictureKind, picture),
                                         .sliceInfoId = objectId(kSliceKind, picture),
                                         .bounds = luma(x, y, kCtuSize),
                                         .ctuAddressRs = static_cast<std::uint32_t>(inPicture),
                                         .parseStatus = BlockParseStatus::Parsed});

        CuInfo root;
        root.id = objectId(kCuKind, ctu * 5);
        root.parentCtuId = ctuId;
        root.bounds = luma(x, y, kCtuSize);
        root.depth = 0;
        root.split = true;
        root.parseStatus = BlockParseStatus::Parsed;
        document_.cus.push_back(root);
        for (std::uint64_t leaf = 0; leaf < 4; ++leaf) {
            addLeaf(ctu, root.id, leaf, x + (leaf % 2) * kLeafSize, y + (leaf / 2) * kLeafSize,
                    objectId(kReferenceKind, picture));
        }
    }

    void addLeaf(std::uint64_t ctu, StableId rootCu, std::uint64_t leaf, std::uint64_t x, std::uint64_t y,
                 StableId reference)
    {
        const std::uint64_t index = ctu * 4 + leaf;
        CuInfo cu;
        cu.id = objectId(kCuKind, ctu * 5 + 1 + leaf);
        cu.parentCtuId = objectId(kCtuKind, ctu);
        cu.parentCuId = rootCu;
        cu.bounds = luma(x, y, kLeafSize);
        cu.depth = 1;
        cu.split = false;
        cu.predictionMode = PredictionMode::Inter;
        cu.partitionMode = PartitionMode::Part2Nx2N;
        cu.qp = 32;
        cu.parseStatus = BlockParseStatus::Parsed;
        document_.cus.push_back(cu);

        PuInfo pu;
        pu.id = objectId(kPuKind, index);
        pu.parentCuId = cu.id;
        pu.bounds = cu.bounds;
        pu.partitionMode = PartitionMode::Part2Nx2N;
        pu.interDirection = InterDirection::L0;
        pu.predictionMode = PredictionMode::Inter;
        pu.referencePictureL0Id = reference;
        pu.refIdxL0 = 0;
        pu.mergeFlag = false;
        pu.parseStatus = BlockParseStatus::Parsed;
        document_.pus.push_back(pu);

        TuInfo tu;
        tu.id = objectId(kTuKind, index);
        tu.parentCuId = cu.id;
        tu.bounds = cu.bounds;
        tu.depth = 0;
        tu.split = false;
        tu.cbfLuma = (index % 3) != 0;
        tu.cbfCb = false;
        tu.cbfCr = false;
        tu.qp = 32;
        tu.parseStatus = BlockParseStatus::Parsed;
        document_.tus.push_back(tu);

        document_.motionVectors.push_back(
            MotionVectorInfo{.id = objectId(kMotionVectorKind, index),
                             .parentPuId = pu.id,
                             .list = ReferenceList::L0,
                             .referencePictureId = reference,
                             .mvX = static_cast<std::int32_t>(index % 64) - 32,
                             .mvY = static_cast<std::int32_t>(index % 16) - 8,
                             .unit = MotionVectorUnit::QuarterLumaSample,
                             .referenceIndex = 0,
                             .mvdX = 1,
                             .mvdY = -1});
    }

    StreamAnalysis document_;
};

}  // namespace vexilo::analysis::bench
