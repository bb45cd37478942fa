#pragma once

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/records/PictureReferenceRecords.h"

#include <cstdint>
#include <optional>

namespace vexilo::analysis {

// Block records carry most decoder values twice: the effective value under the plain name
// and the value as signaled in the bitstream under the `signaled` prefix; either may be
// absent on its own.

enum class BlockParseStatus : std::uint8_t {
    Unknown = 0,
    Parsed = 1,
    // The record then carries the decoder's error code in `parserErrorCode`.
    Malformed = 2,
};

enum class PredictionMode : std::uint8_t {
    Unknown = 0,
    Intra = 1,
    Inter = 2,
    Skip = 3,
};

// Named after H.265's PartMode values.
enum class PartitionMode : std::uint8_t {
    Unknown = 0,
    Part2Nx2N = 1,
    Part2NxN = 2,
    PartNx2N = 3,
    PartNxN = 4,
    Part2NxnU = 5,
    Part2NxnD = 6,
    PartnLx2N = 7,
    PartnRx2N = 8,
};

enum class InterDirection : std::uint8_t {
    Unknown = 0,
    L0 = 1,
    L1 = 2,
    Bi = 3,
};

enum class MotionVectorUnit : std::uint8_t {
    Unknown = 0,
    QuarterLumaSample = 1,
};

// `BlockRect::unit` of a rectangle measured in luma samples (0 is "not determined").
inline constexpr std::uint8_t kBlockRectUnitLumaSample = 1;

// A block's rectangle in coded-picture coordinates.
struct BlockRect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t unit = 0;

    friend bool operator==(const BlockRect&, const BlockRect&) = default;
};

// Collection `ctus`; parent: a picture summary.
struct CtuInfo {
    StableId id{};
    StableId parentPictureSummaryId{};
    std::optional<StableId> sliceInfoId{};
    BlockRect bounds{};
    std::optional<std::uint32_t> ctuAddressRs{};
    // The decoder's third CTU value after the raster- and tile-scan addresses, kept verbatim.
    std::optional<std::uint32_t> ctuAuxValue{};
    std::optional<std::uint32_t> ctuAddressTs{};
    BlockParseStatus parseStatus = BlockParseStatus::Unknown;
    std::optional<std::int32_t> parserErrorCode{};

    friend bool operator==(const CtuInfo&, const CtuInfo&) = default;
};

// Collection `cus`; parent: a CTU. `parentCuId` names the quadtree parent, absent at the root.
struct CuInfo {
    StableId id{};
    StableId parentCtuId{};
    BlockRect bounds{};
    std::optional<std::uint8_t> depth{};
    PredictionMode predictionMode = PredictionMode::Unknown;
    std::optional<std::int16_t> qp{};
    std::optional<StableId> parentCuId{};
    BlockParseStatus parseStatus = BlockParseStatus::Unknown;
    std::optional<std::int32_t> parserErrorCode{};
    std::optional<bool> split{};
    std::optional<bool> skip{};
    std::optional<PartitionMode> partitionMode{};
    std::optional<bool> pcm{};
    std::optional<bool> transquantBypass{};
    std::optional<bool> signaledSplit{};
    std::optional<bool> signaledSkip{};
    std::optional<PredictionMode> signaledPredictionMode{};
    std::optional<PartitionMode> signaledPartitionMode{};
    std::optional<bool> signaledPcm{};
    std::optional<bool> signaledTransquantBypass{};
    std::optional<std::int16_t> chromaQpCb{};
    std::optional<std::int16_t> chromaQpCr{};
    std::optional<std::int16_t> cuQpDelta{};
    std::optional<bool> chromaQpOffsetFlag{};
    std::optional<std::int8_t> chromaQpOffsetIndex{};
    std::optional<std::int8_t> chromaQpOffsetCb{};
    std::optional<std::int8_t> chromaQpOffsetCr{};
    std::optional<std::int16_t> signaledCuQpDelta{};
    std::optional<bool> signaledChromaQpOffsetFlag{};
    std::optional<std::int8_t> signaledChromaQpOffsetIndex{};

    friend bool operator==(const CuInfo&, const CuInfo&) = default;
};

// Collection `pus`; parent: a CU.
struct PuInfo {
    StableId id{};
    StableId parentCuId{};
    BlockRect bounds{};
    PartitionMode partitionMode = PartitionMode::Unknown;
    InterDirection interDirection = InterDirection::Unknown;
    std::optional<StableId> referencePictureL0Id{};
    std::optional<StableId> referencePictureL1Id{};
    std::uint8_t partIndex = 0;
    PredictionMode predictionMode = PredictionMode::Unknown;
    BlockParseStatus parseStatus = BlockParseStatus::Unknown;
    std::optional<std::int32_t> parserErrorCode{};
    std::optional<std::uint8_t> intraLumaMode{};
    std::optional<std::uint8_t> intraChromaMode{};
    std::optional<bool> mergeFlag{};
    std::optional<std::uint8_t> mergeIndex{};
    std::optional<std::int8_t> refIdxL0{};
    std::optional<std::int8_t> refIdxL1{};
    std::optional<std::int32_t> refPocL0{};
    std::optional<std::int32_t> refPocL1{};
    std::optional<ReferenceStatus> refStatusL0{};
    std::optional<ReferenceStatus> refStatusL1{};
    std::optional<std::uint8_t> signaledIntraLumaMode{};
    std::optional<std::uint8_t> signaledIntraChromaMode{};
    std::optional<bool> signaledMergeFlag{};
    std::optional<std::uint8_t> signaledMergeIndex{};
    std::optional<InterDirection> signaledInterDirection{};
    std::optional<std::int8_t> signaledRefIdxL0{};
    std::optional<std::int8_t> signaledRefIdxL1{};

    friend bool operator==(const PuInfo&, const PuInfo&) = default;
};

// Collection `tus`; parent: a CU. `parentTuId` names the transform-tree parent, absent at
// the root. No coefficients are kept.
struct TuInfo {
    StableId id{};
    StableId parentCuId{};
    BlockRect bounds{};
    std::optional<std::uint8_t> depth{};
    std::optional<bool> cbfLuma{};
    std::optional<bool> cbfCb{};
    std::optional<bool> cbfCr{};
    std::optional<StableId> parentTuId{};
    std::optional<bool> split{};
    std::optional<bool> transformSkipLuma{};
    std::optional<bool> transformSkipCb{};
    std::optional<bool> transformSkipCr{};
    std::optional<bool> explicitRdpcmLuma{};
    std::optional<bool> explicitRdpcmCb{};
    std::optional<bool> explicitRdpcmCr{};
    // Reported by the decoder after the explicit flags; there is no signaled twin.
    std::optional<bool> implicitRdpcmLuma{};
    std::optional<bool> implicitRdpcmCb{};
    std::optional<bool> implicitRdpcmCr{};
    std::optional<std::uint8_t> rdpcmDirectionLuma{};
    std::optional<std::uint8_t> rdpcmDirectionCb{};
    std::optional<std::uint8_t> rdpcmDirectionCr{};
    std::optional<bool> transquantBypass{};
    std::optional<std::int16_t> qp{};
    std::optional<std::int16_t> chromaQpCb{};
    std::optional<std::int16_t> chromaQpCr{};
    std::optional<std::int16_t> cuQpDelta{};
    std::optional<bool> chromaQpOffsetFlag{};
    std::optional<std::int8_t> chromaQpOffsetIndex{};
    std::optional<std::int8_t> chromaQpOffsetCb{};
    std::optional<std::int8_t> chromaQpOffsetCr{};
    BlockParseStatus parseStatus = BlockParseStatus::Unknown;
    std::optional<std::int32_t> parserErrorCode{};
    std::optional<bool> signaledSplit{};
    std::optional<bool> signaledCbfLuma{};
    std::optional<bool> signaledCbfCb{};
    std::optional<bool> signaledCbfCr{};
    std::optional<bool> signaledTransformSkipLuma{};
    std::optional<bool> signaledTransformSkipCb{};
    std::optional<bool> signaledTransformSkipCr{};
    std::optional<bool> signaledExplicitRdpcmLuma{};
    std::optional<bool> signaledExplicitRdpcmCb{};
    std::optional<bool> signaledExplicitRdpcmCr{};
    std::optional<std::uint8_t> signaledRdpcmDirectionLuma{};
    std::optional<std::uint8_t> signaledRdpcmDirectionCb{};
    std::optional<std::uint8_t> signaledRdpcmDirectionCr{};
    std::optional<std::int16_t> signaledCuQpDelta{};
    std::optional<bool> signaledChromaQpOffsetFlag{};
    std::optional<std::int8_t> signaledChromaQpOffsetIndex{};

    friend bool operator==(const TuInfo&, const TuInfo&) = default;
};

// Collection `motionVectors`; parent: a PU. Components are in quarter luma samples when
// `unit` says so.
struct MotionVectorInfo {
    StableId id{};
    StableId parentPuId{};
    ReferenceList list = ReferenceList::Unknown;
    std::optional<StableId> referencePictureId{};
    std::optional<std::int32_t> mvX{};
    std::optional<std::int32_t> mvY{};
    MotionVectorUnit unit = MotionVectorUnit::Unknown;
    std::optional<std::int8_t> referenceIndex{};
    std::optional<std::int32_t> referencePoc{};
    std::optional<ReferenceStatus> referenceStatus{};
    std::optional<std::int32_t> mvdX{};
    std::optional<std::int32_t> mvdY{};
    std::optional<std::int32_t> signaledMvdX{};
    std::optional<std::int32_t> signaledMvdY{};

    friend bool operator==(const MotionVectorInfo&, const MotionVectorInfo&) = default;
};

}  // namespace vexilo::analysis
