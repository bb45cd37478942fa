#include "builder/BuilderCodes.h"
#include "builder/BuilderValues.h"
#include "builder/DocumentBuilder.h"

namespace vexilo::analyzer {
namespace {

namespace codes = builder_codes;

constexpr std::uint8_t kMaxBlockDepth = 6;
constexpr std::int16_t kMinQp = -48;
constexpr std::int16_t kMaxQp = 51;
constexpr std::int16_t kMaxQpDelta = 32;
constexpr std::int8_t kMaxChromaQpOffsetIndex = 5;
constexpr std::int8_t kMaxChromaQpOffset = 12;
constexpr std::uint8_t kMaxIntraMode = 34;
constexpr std::uint8_t kMaxMergeIndex = 4;
constexpr std::int8_t kMaxReferenceIndex = 15;
constexpr std::uint8_t kMaxRdpcmDirection = 1;

constexpr bool hasBit(std::uint64_t mask, std::uint64_t bit) noexcept
{
    return (mask & bit) != 0;
}

analysis::BlockRect blockRectOf(const VexiloObserverBlockBounds& bounds) noexcept
{
    // Coordinates beyond the signed range come out negative and fail the bounds
    // check of the consistency pass, as they should.
    return analysis::BlockRect{static_cast<std::int32_t>(bounds.x), static_cast<std::int32_t>(bounds.y), bounds.width,
                               bounds.height, analysis::kBlockRectUnitLumaSample};
}

// A block marked malformed must carry its decoder error code; without one its state
// is not known.
template <typename Block>
void setParseState(Block& block, std::uint32_t status, std::int32_t errorCode) noexcept
{
    block.parserErrorCode = optionalNegative(errorCode);
    block.parseStatus = blockParseStatusOf(status);
    if (block.parseStatus == analysis::BlockParseStatus::Malformed && !block.parserErrorCode) {
        block.parseStatus = analysis::BlockParseStatus::Unknown;
    }
}

std::optional<std::int16_t> qpOf(std::int32_t value) noexcept
{
    return optionalInRange<std::int16_t>(low16(value), kMinQp, kMaxQp);
}

std::optional<std::int16_t> qpDeltaOf(std::int32_t value) noexcept
{
    return optionalInRange<std::int16_t>(low16(value), std::int16_t{-kMaxQpDelta}, kMaxQpDelta);
}

std::optional<std::int8_t> chromaQpOffsetIndexOf(std::int32_t value) noexcept
{
    return optionalInRange<std::int8_t>(value, std::int8_t{0}, kMaxChromaQpOffsetIndex);
}

std::optional<std::int8_t> chromaQpOffsetOf(std::int32_t value) noexcept
{
    return optionalInRange<std::int8_t>(value, std::int8_t{-kMaxChromaQpOffset}, kMaxChromaQpOffset);
}

std::optional<std::uint8_t> depthOf(std::uint32_t value) noexcept
{
    return optionalInRange<std::uint8_t>(value & 0xFFu, std::uint8_t{0}, kMaxBlockDepth);
}

std::optional<std::uint8_t> intraModeOf(std::int32_t value) noexcept
{
    return optionalInRange<std::uint8_t>(value, std::uint8_t{0}, kMaxIntraMode);
}

std::optional<std::uint8_t> mergeIndexOf(std::uint32_t value) noexcept
{
    return optionalInRange<std::uint8_t>(value, std::uint8_t{0}, kMaxMergeIndex);
}

std::optional<std::int8_t> referenceIndexOf(std::int32_t value) noexcept
{
    return optionalInRange<std::int8_t>(value, std::int8_t{0}, kMaxReferenceIndex);
}

std::optional<std::uint8_t> rdpcmDirectionOf(std::int32_t value) noexcept
{
    return optionalInRange<std::uint8_t>(value, std::uint8_t{0}, kMaxRdpcmDirection);
}

std::optional<bool> flagIf(bool present, std::uint32_t value) noexcept
{
    return present ? std::optional<bool>(value != 0) : std::nullopt;
}

void increment(std::optional<std::uint32_t>& count)
{
    count = count.value_or(0) + 1;
}

void increment(std::optional<std::uint64_t>& count)
{
    count = count.value_or(0) + 1;
}

// A quadtree node that splits further has no leaf decoder state; a damaged stream
// that reports both keeps only the split.
void dropLeafStateOfSplitCu(analysis::CuInfo& cu)
{
    if (cu.split.value_or(false)) {
        cu.predictionMode = analysis::PredictionMode::Unknown;
        cu.qp.reset();
        cu.partitionMode.reset();
        cu.pcm.reset();
        cu.transquantBypass.reset();
    }
}

void dropLeafStateOfSplitTu(analysis::TuInfo& tu)
{
    if (tu.split.value_or(false)) {
        for (std::optional<bool>* flag : {&tu.transformSkipLuma, &tu.transformSkipCb, &tu.transformSkipCr,
                                          &tu.explicitRdpcmLuma, &tu.explicitRdpcmCb, &tu.explicitRdpcmCr,
                                          &tu.implicitRdpcmLuma, &tu.implicitRdpcmCb, &tu.implicitRdpcmCr}) {
            flag->reset();
        }
        tu.qp.reset();
        tu.chromaQpCb.reset();
        tu.chromaQpCr.reset();
    }
}

}  // namespace

// Block records are made in their place in the document, whose collections are reserved for
// every block: millions of them are not made aside and copied in.
void DocumentBuilder::handleCtu(const ObserverEventRecord& record)
{
    analysis::PictureAnalysisSummary* picture = blockPictureOf(record.pictureIdentity);
    if (picture == nullptr) {
        issues_.appendAnalyzerIssue(codes::kCtuIdentity, codes::kCtuIdentityMessage);
        return;
    }
    const SliceEntry* slice = sliceOf(record.sliceIdentity);
    if (slice == nullptr) {
        issues_.appendAnalyzerIssue(codes::kCtuSliceIdentity, codes::kCtuSliceIdentityMessage,
                                    codes::kSliceIdDetail + std::to_string(record.sliceIdentity));
    }
    const analysis::StableId id = ctuIdOf(picture->id, record.ctuAddress);
    const VexiloObserverCtuEvent& event = record.payload.ctu;
    analysis::CtuInfo& ctu = blockDocument_->ctus.emplace_back();
    ctu.id = id;
    ctu.parentPictureSummaryId = picture->id;
    if (slice != nullptr) {
        ctu.sliceInfoId = slice->id;
    }
    ctu.bounds = blockRectOf(record.bounds);
    ctu.ctuAddressRs = event.ctuAddress;
    ctu.ctuAuxValue = event.ctuAuxValue;
    ctu.ctuAddressTs = event.ctuAddressTs;
    setParseState(ctu, event.parseStatus, event.parserErrorCode);
    increment(picture->ctuCount);
}

void DocumentBuilder::handleCu(const ObserverEventRecord& record)
{
    const VexiloObserverCuEvent& event = record.payload.cu;
    analysis::PictureAnalysisSummary* picture = blockPictureOf(record.pictureIdentity);
    if (picture == nullptr || event.cuIdentity == 0) {
        issues_.appendAnalyzerIssue(codes::kCuIdentity, codes::kCuIdentityMessage);
        return;
    }
    const analysis::StableId ctuId = ctuIdOf(picture->id, record.ctuAddress);
    const analysis::StableId id = cuIdOf(ctuId, event.cuIdentity);
    const std::uint64_t present = event.presentMask;
    const std::uint64_t signaled = event.signaledMask;
    analysis::CuInfo& cu = blockDocument_->cus.emplace_back();
    cu.id = id;
    cu.parentCtuId = ctuId;
    if (event.parentCuIdentity != 0) {
        cu.parentCuId = deriveStableId(ctuId, ObjectKind::Cu, event.parentCuIdentity);
    }
    cu.bounds = blockRectOf(record.bounds);
    setParseState(cu, event.parseStatus, event.parserErrorCode);
    if (hasBit(present, VEXILO_OBSERVER_CU_DEPTH)) cu.depth = depthOf(event.depth);
    cu.split = flagIf(hasBit(present, VEXILO_OBSERVER_CU_SPLIT), event.split);
    cu.skip = flagIf(hasBit(present, VEXILO_OBSERVER_CU_SKIP), event.skip);
    if (hasBit(present, VEXILO_OBSERVER_CU_PREDICTION_MODE)) cu.predictionMode = predictionModeOf(event.predictionMode);
    if (hasBit(present, VEXILO_OBSERVER_CU_PARTITION_MODE)) cu.partitionMode = partitionModeOf(event.partitionMode);
    cu.pcm = flagIf(hasBit(present, VEXILO_OBSERVER_CU_PCM), event.pcm);
    cu.transquantBypass = flagIf(hasBit(present, VEXILO_OBSERVER_CU_TRANSQUANT_BYPASS), event.transquantBypass);
    if (hasBit(present, VEXILO_OBSERVER_CU_QP)) cu.qp = qpOf(event.qp);
    if (hasBit(present, VEXILO_OBSERVER_CU_CHROMA_QP_CB)) cu.chromaQpCb = qpOf(event.chromaQpCb);
    if (hasBit(present, VEXILO_OBSERVER_CU_CHROMA_QP_CR)) cu.chromaQpCr = qpOf(event.chromaQpCr);
    if (hasBit(present, VEXILO_OBSERVER_CU_QP_DELTA)) cu.cuQpDelta = qpDeltaOf(event.qpDelta);
    if (hasBit(present, VEXILO_OBSERVER_CU_CHROMA_QP_OFFSET)) {
        cu.chromaQpOffsetFlag = event.chromaQpOffsetFlag != 0;
        cu.chromaQpOffsetIndex = chromaQpOffsetIndexOf(event.chromaQpOffsetIndex);
        cu.chromaQpOffsetCb = chromaQpOffsetOf(event.chromaQpOffsetCb);
        cu.chromaQpOffsetCr = chromaQpOffsetOf(event.chromaQpOffsetCr);
    }
    cu.signaledSplit = flagIf(hasBit(signaled, VEXILO_OBSERVER_CU_SIGNALED_SPLIT), event.split);
    cu.signaledSkip = flagIf(hasBit(signaled, VEXILO_OBSERVER_CU_SIGNALED_SKIP), event.skip);
    if (hasBit(signaled, VEXILO_OBSERVER_CU_SIGNALED_PREDICTION_MODE))
        cu.signaledPredictionMode = predictionModeOf(event.predictionMode);
    if (hasBit(signaled, VEXILO_OBSERVER_CU_SIGNALED_PARTITION_MODE))
        cu.signaledPartitionMode = partitionModeOf(event.partitionMode);
    cu.signaledPcm = flagIf(hasBit(signaled, VEXILO_OBSERVER_CU_SIGNALED_PCM), event.pcm);
    cu.signaledTransquantBypass =
        flagIf(hasBit(signaled, VEXILO_OBSERVER_CU_SIGNALED_TRANSQUANT_BYPASS), event.transquantBypass);
    if (hasBit(signaled, VEXILO_OBSERVER_CU_SIGNALED_QP_DELTA)) cu.signaledCuQpDelta = qpDeltaOf(event.qpDelta);
    cu.signaledChromaQpOffsetFlag =
        flagIf(hasBit(signaled, VEXILO_OBSERVER_CU_SIGNALED_CHROMA_QP_OFFSET_FLAG), event.chromaQpOffsetFlag);
    if (hasBit(signaled, VEXILO_OBSERVER_CU_SIGNALED_CHROMA_QP_OFFSET_INDEX))
        cu.signaledChromaQpOffsetIndex = chromaQpOffsetIndexOf(event.chromaQpOffsetIndex);
    dropLeafStateOfSplitCu(cu);
    increment(picture->cuCount);
}

void DocumentBuilder::handlePu(const ObserverEventRecord& record)
{
    const VexiloObserverPuEvent& event = record.payload.pu;
    analysis::PictureAnalysisSummary* picture = blockPictureOf(record.pictureIdentity);
    if (picture == nullptr || event.cuIdentity == 0 || event.partIndex > VEXILO_OBSERVER_PU_MAX_PART_INDEX) {
        issues_.appendAnalyzerIssue(codes::kPuIdentity, codes::kPuIdentityMessage);
        return;
    }
    const SliceEntry* slice = sliceOf(record.sliceIdentity);
    if (slice == nullptr) {
        issues_.appendAnalyzerIssue(codes::kPuSliceIdentity, codes::kPuSliceIdentityMessage,
                                    codes::kSliceIdDetail + std::to_string(record.sliceIdentity));
    }
    const analysis::StableId cuId = cuIdOf(ctuIdOf(picture->id, record.ctuAddress), event.cuIdentity);
    const analysis::StableId id = deriveStableId(cuId, ObjectKind::Pu, event.partIndex);
    const std::uint64_t a = event.presentMaskA;
    const std::uint64_t b = event.presentMaskB;
    analysis::PuInfo& pu = blockDocument_->pus.emplace_back();
    pu.id = id;
    pu.parentCuId = cuId;
    pu.bounds = blockRectOf(record.bounds);
    pu.partIndex = static_cast<std::uint8_t>(event.partIndex);
    setParseState(pu, event.parseStatus, static_cast<std::int32_t>(event.parserErrorCode));
    if (hasBit(b, VEXILO_OBSERVER_PU_B_PREDICTION_MODE)) pu.predictionMode = predictionModeOf(event.predictionMode);
    if (hasBit(b, VEXILO_OBSERVER_PU_B_PARTITION_MODE)) pu.partitionMode = partitionModeOf(event.partitionMode);
    if (hasBit(b, VEXILO_OBSERVER_PU_B_INTER_DIRECTION)) pu.interDirection = interDirectionOf(event.interDirection);
    if (hasBit(b, VEXILO_OBSERVER_PU_B_INTRA_LUMA_MODE)) pu.intraLumaMode = intraModeOf(event.intraLumaMode);
    if (hasBit(b, VEXILO_OBSERVER_PU_B_INTRA_CHROMA_MODE)) pu.intraChromaMode = intraModeOf(event.intraChromaMode);
    pu.mergeFlag = flagIf(hasBit(b, VEXILO_OBSERVER_PU_B_MERGE_FLAG), event.mergeFlag);
    if (hasBit(b, VEXILO_OBSERVER_PU_B_MERGE_INDEX)) pu.mergeIndex = mergeIndexOf(event.mergeIndex);
    if (hasBit(b, VEXILO_OBSERVER_PU_B_REF_IDX_L0)) {
        pu.refIdxL0 = referenceIndexOf(event.refIdxL0);
        pu.refStatusL0 = referenceStatusOf(event.refStatusL0);
    }
    if (hasBit(b, VEXILO_OBSERVER_PU_B_REF_IDX_L1)) {
        pu.refIdxL1 = referenceIndexOf(event.refIdxL1);
        pu.refStatusL1 = referenceStatusOf(event.refStatusL1);
    }
    if (hasBit(b, VEXILO_OBSERVER_PU_B_REF_POC_L0)) pu.refPocL0 = event.refPocL0;
    if (hasBit(b, VEXILO_OBSERVER_PU_B_REF_POC_L1)) pu.refPocL1 = event.refPocL1;
    pu.referencePictureL0Id = referenceEntryIdOf(slice, VEXILO_OBSERVER_LIST_L0, event.refIdxL0);
    pu.referencePictureL1Id = referenceEntryIdOf(slice, VEXILO_OBSERVER_LIST_L1, event.refIdxL1);
    if (hasBit(a, VEXILO_OBSERVER_PU_A_SIGNALED_INTRA_LUMA_MODE)) pu.signaledIntraLumaMode = intraModeOf(event.intraLumaMode);
    if (hasBit(a, VEXILO_OBSERVER_PU_A_SIGNALED_INTRA_CHROMA_MODE))
        pu.signaledIntraChromaMode = intraModeOf(event.intraChromaMode);
    pu.signaledMergeFlag = flagIf(hasBit(a, VEXILO_OBSERVER_PU_A_SIGNALED_MERGE_FLAG), event.mergeFlag);
    if (hasBit(a, VEXILO_OBSERVER_PU_A_SIGNALED_MERGE_INDEX)) pu.signaledMergeIndex = mergeIndexOf(event.mergeIndex);
    if (hasBit(a, VEXILO_OBSERVER_PU_A_SIGNALED_INTER_DIRECTION))
        pu.signaledInterDirection = interDirectionOf(event.interDirection);
    if (hasBit(a, VEXILO_OBSERVER_PU_A_SIGNALED_REF_IDX_L0)) pu.signaledRefIdxL0 = referenceIndexOf(event.refIdxL0);
    if (hasBit(a, VEXILO_OBSERVER_PU_A_SIGNALED_REF_IDX_L1)) pu.signaledRefIdxL1 = referenceIndexOf(event.refIdxL1);

    struct ListValues {
        analysis::ReferenceList list;
        std::uint64_t mvBit;
        std::uint64_t mvdBit;
        std::uint64_t signaledMvdBit;
        VexiloObserverMotionVector mv;
        VexiloObserverMotionVector mvd;
        const std::optional<analysis::StableId>& reference;
        const std::optional<std::int8_t>& referenceIndex;
        const std::optional<std::int32_t>& referencePoc;
        const std::optional<analysis::ReferenceStatus>& referenceStatus;
    };
    const ListValues lists[] = {
        {analysis::ReferenceList::L0, VEXILO_OBSERVER_PU_B_MV_L0, VEXILO_OBSERVER_PU_B_MVD_L0,
         VEXILO_OBSERVER_PU_A_SIGNALED_MVD_L0, event.mvL0, event.mvdL0, pu.referencePictureL0Id, pu.refIdxL0,
         pu.refPocL0, pu.refStatusL0},
        {analysis::ReferenceList::L1, VEXILO_OBSERVER_PU_B_MV_L1, VEXILO_OBSERVER_PU_B_MVD_L1,
         VEXILO_OBSERVER_PU_A_SIGNALED_MVD_L1, event.mvL1, event.mvdL1, pu.referencePictureL1Id, pu.refIdxL1,
         pu.refPocL1, pu.refStatusL1},
    };
    for (std::uint64_t listKey = 0; listKey < std::size(lists); ++listKey) {
        const ListValues& values = lists[listKey];
        if (!hasBit(b, values.mvBit)) {
            continue;
        }
        const analysis::StableId mvId = deriveStableId(id, ObjectKind::MotionVector, listKey);
        analysis::MotionVectorInfo& mv = blockDocument_->motionVectors.emplace_back();
        mv.id = mvId;
        mv.parentPuId = id;
        mv.list = values.list;
        mv.referencePictureId = values.reference;
        mv.referenceIndex = values.referenceIndex;
        mv.referencePoc = values.referencePoc;
        mv.referenceStatus = values.referenceStatus;
        mv.mvX = values.mv.x;
        mv.mvY = values.mv.y;
        mv.unit = analysis::MotionVectorUnit::QuarterLumaSample;
        if (hasBit(b, values.mvdBit)) {
            mv.mvdX = values.mvd.x;
            mv.mvdY = values.mvd.y;
        }
        if (hasBit(a, values.signaledMvdBit)) {
            mv.signaledMvdX = values.mvd.x;
            mv.signaledMvdY = values.mvd.y;
        }
    }
    increment(picture->puCount);
}

void DocumentBuilder::handleTu(const ObserverEventRecord& record)
{
    const VexiloObserverTuEvent& event = record.payload.tu;
    analysis::PictureAnalysisSummary* picture = blockPictureOf(record.pictureIdentity);
    if (picture == nullptr || event.cuIdentity == 0 || event.tuIdentity == 0) {
        issues_.appendAnalyzerIssue(codes::kTuIdentity, codes::kTuIdentityMessage);
        return;
    }
    const analysis::StableId cuId = cuIdOf(ctuIdOf(picture->id, record.ctuAddress), event.cuIdentity);
    const analysis::StableId id = deriveStableId(cuId, ObjectKind::Tu, event.tuIdentity);
    const std::uint64_t p = event.presentMask;
    const std::uint64_t s = event.signaledMask;
    analysis::TuInfo& tu = blockDocument_->tus.emplace_back();
    tu.id = id;
    tu.parentCuId = cuId;
    if (event.parentTuIdentity != 0) {
        tu.parentTuId = deriveStableId(cuId, ObjectKind::Tu, event.parentTuIdentity);
    }
    tu.bounds = blockRectOf(record.bounds);
    setParseState(tu, event.parseStatus, static_cast<std::int32_t>(event.parserErrorCode));
    if (hasBit(p, VEXILO_OBSERVER_TU_DEPTH)) tu.depth = depthOf(event.depth);
    tu.split = flagIf(hasBit(p, VEXILO_OBSERVER_TU_SPLIT), event.split);
    tu.cbfLuma = flagIf(hasBit(p, VEXILO_OBSERVER_TU_CBF_LUMA), event.codedBlockFlags.luma);
    tu.cbfCb = flagIf(hasBit(p, VEXILO_OBSERVER_TU_CBF_CB), event.codedBlockFlags.cb);
    tu.cbfCr = flagIf(hasBit(p, VEXILO_OBSERVER_TU_CBF_CR), event.codedBlockFlags.cr);
    tu.transformSkipLuma = flagIf(hasBit(p, VEXILO_OBSERVER_TU_TRANSFORM_SKIP_LUMA), event.transformSkip.luma);
    tu.transformSkipCb = flagIf(hasBit(p, VEXILO_OBSERVER_TU_TRANSFORM_SKIP_CB), event.transformSkip.cb);
    tu.transformSkipCr = flagIf(hasBit(p, VEXILO_OBSERVER_TU_TRANSFORM_SKIP_CR), event.transformSkip.cr);
    tu.explicitRdpcmLuma = flagIf(hasBit(p, VEXILO_OBSERVER_TU_EXPLICIT_RDPCM_LUMA), event.explicitRdpcm.luma);
    tu.explicitRdpcmCb = flagIf(hasBit(p, VEXILO_OBSERVER_TU_EXPLICIT_RDPCM_CB), event.explicitRdpcm.cb);
    tu.explicitRdpcmCr = flagIf(hasBit(p, VEXILO_OBSERVER_TU_EXPLICIT_RDPCM_CR), event.explicitRdpcm.cr);
    tu.implicitRdpcmLuma = flagIf(hasBit(p, VEXILO_OBSERVER_TU_IMPLICIT_RDPCM_LUMA), event.implicitRdpcm.luma);
    tu.implicitRdpcmCb = flagIf(hasBit(p, VEXILO_OBSERVER_TU_IMPLICIT_RDPCM_CB), event.implicitRdpcm.cb);
    tu.implicitRdpcmCr = flagIf(hasBit(p, VEXILO_OBSERVER_TU_IMPLICIT_RDPCM_CR), event.implicitRdpcm.cr);
    if (hasBit(p, VEXILO_OBSERVER_TU_RDPCM_DIRECTION_LUMA)) tu.rdpcmDirectionLuma = rdpcmDirectionOf(event.rdpcmDirection.luma);
    if (hasBit(p, VEXILO_OBSERVER_TU_RDPCM_DIRECTION_CB)) tu.rdpcmDirectionCb = rdpcmDirectionOf(event.rdpcmDirection.cb);
    if (hasBit(p, VEXILO_OBSERVER_TU_RDPCM_DIRECTION_CR)) tu.rdpcmDirectionCr = rdpcmDirectionOf(event.rdpcmDirection.cr);
    tu.transquantBypass = flagIf(hasBit(p, VEXILO_OBSERVER_TU_TRANSQUANT_BYPASS), event.transquantBypass);
    if (hasBit(p, VEXILO_OBSERVER_TU_QP)) tu.qp = qpOf(event.qp);
    if (hasBit(p, VEXILO_OBSERVER_TU_CHROMA_QP_CB)) tu.chromaQpCb = qpOf(event.chromaQpCb);
    if (hasBit(p, VEXILO_OBSERVER_TU_CHROMA_QP_CR)) tu.chromaQpCr = qpOf(event.chromaQpCr);
    if (hasBit(p, VEXILO_OBSERVER_TU_QP_DELTA)) tu.cuQpDelta = qpDeltaOf(event.qpDelta);
    if (hasBit(p, VEXILO_OBSERVER_TU_CHROMA_QP_OFFSET)) {
        tu.chromaQpOffsetFlag = event.chromaQpOffsetFlag != 0;
        tu.chromaQpOffsetIndex = chromaQpOffsetIndexOf(event.chromaQpOffsetIndex);
        tu.chromaQpOffsetCb = chromaQpOffsetOf(event.chromaQpOffsetCb);
        tu.chromaQpOffsetCr = chromaQpOffsetOf(event.chromaQpOffsetCr);
    }
    tu.signaledSplit = flagIf(hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_SPLIT), event.split);
    tu.signaledCbfLuma = flagIf(hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_CBF_LUMA), event.codedBlockFlags.luma);
    tu.signaledCbfCb = flagIf(hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_CBF_CB), event.codedBlockFlags.cb);
    tu.signaledCbfCr = flagIf(hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_CBF_CR), event.codedBlockFlags.cr);
    tu.signaledTransformSkipLuma =
        flagIf(hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_TRANSFORM_SKIP_LUMA), event.transformSkip.luma);
    tu.signaledTransformSkipCb = flagIf(hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_TRANSFORM_SKIP_CB), event.transformSkip.cb);
    tu.signaledTransformSkipCr = flagIf(hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_TRANSFORM_SKIP_CR), event.transformSkip.cr);
    tu.signaledExplicitRdpcmLuma =
        flagIf(hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_EXPLICIT_RDPCM_LUMA), event.explicitRdpcm.luma);
    tu.signaledExplicitRdpcmCb = flagIf(hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_EXPLICIT_RDPCM_CB), event.explicitRdpcm.cb);
    tu.signaledExplicitRdpcmCr = flagIf(hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_EXPLICIT_RDPCM_CR), event.explicitRdpcm.cr);
    if (hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_RDPCM_DIRECTION_LUMA))
        tu.signaledRdpcmDirectionLuma = rdpcmDirectionOf(event.rdpcmDirection.luma);
    if (hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_RDPCM_DIRECTION_CB))
        tu.signaledRdpcmDirectionCb = rdpcmDirectionOf(event.rdpcmDirection.cb);
    if (hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_RDPCM_DIRECTION_CR))
        tu.signaledRdpcmDirectionCr = rdpcmDirectionOf(event.rdpcmDirection.cr);
    if (hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_QP_DELTA)) tu.signaledCuQpDelta = qpDeltaOf(event.qpDelta);
    tu.signaledChromaQpOffsetFlag =
        flagIf(hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_CHROMA_QP_OFFSET_FLAG), event.chromaQpOffsetFlag);
    if (hasBit(s, VEXILO_OBSERVER_TU_SIGNALED_CHROMA_QP_OFFSET_INDEX))
        tu.signaledChromaQpOffsetIndex = chromaQpOffsetIndexOf(event.chromaQpOffsetIndex);
    dropLeafStateOfSplitTu(tu);
    increment(picture->tuCount);
}

}  // namespace vexilo::analyzer
