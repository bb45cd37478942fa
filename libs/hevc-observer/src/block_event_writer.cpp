#include "block_event_writer.h"

#include "observer_session.h"

#include <algorithm>
#include <array>
#include <utility>

namespace vexilo::hevc {

namespace {

using slice_data::CodingUnit;
using slice_data::PartMode;
using slice_data::PredictionUnit;
using slice_data::PredMode;
using slice_data::ResidualBlock;
using slice_data::TransformTreeNode;

// Bit layout of a tree node identity: tag, log2 size, y and x of the top-left luma sample.
constexpr std::uint64_t kTreeIdentityTag = UINT64_C(1) << 63;
constexpr unsigned kTreeLog2SizeShift = 48;
constexpr unsigned kTreeYShift = 24;
// The TU order key sorts a CTU's transform nodes by their CU, then within the CU.
constexpr unsigned kTuOrderCuShift = 16;
constexpr std::int32_t kNoValue = -1;
constexpr std::uint32_t kComponents = 3;

std::uint32_t predictionModeOf(const CodingUnit& cu)
{
    switch (cu.CuPredMode) {
    case PredMode::Skip:
        return VEXILO_OBSERVER_PRED_MODE_SKIP;
    case PredMode::Inter:
        return VEXILO_OBSERVER_PRED_MODE_INTER;
    default:
        return VEXILO_OBSERVER_PRED_MODE_INTRA;
    }
}

std::uint32_t partitionModeOf(const CodingUnit& cu) { return static_cast<std::uint32_t>(cu.partMode) + 1U; }

std::uint32_t flag(bool value) { return value ? 1U : 0U; }

// Sets `bit` in `mask` when `condition` holds.
void mark(std::uint64_t& mask, std::uint64_t bit, bool condition)
{
    if (condition) {
        mask |= bit;
    }
}

// What residual_coding() said about one colour component of a transform unit; the two
// chroma blocks of a 4:2:2 unit count as one component.
struct ComponentResidual {
    bool coded = false;
    bool transformSkip = false;
    bool transformSkipSignaled = false;
    bool explicitRdpcm = false;
    bool explicitRdpcmSignaled = false;
    bool implicitRdpcm = false;
    std::int32_t rdpcmDirection = kNoValue;
    bool rdpcmDirectionSignaled = false;
};

void merge(ComponentResidual& into, const ResidualBlock& block)
{
    into.coded = into.coded || block.coded;
    into.transformSkip = into.transformSkip || block.transform_skip_flag;
    into.transformSkipSignaled = into.transformSkipSignaled || block.transformSkipSignaled;
    into.explicitRdpcm = into.explicitRdpcm || block.explicit_rdpcm_flag;
    into.explicitRdpcmSignaled = into.explicitRdpcmSignaled || block.explicitRdpcmSignaled;
    into.implicitRdpcm = into.implicitRdpcm || block.implicitRdpcm;
    if ((block.explicit_rdpcm_flag || block.implicitRdpcm) && into.rdpcmDirection == kNoValue) {
        into.rdpcmDirection = block.rdpcmDirection;
        into.rdpcmDirectionSignaled = block.explicit_rdpcm_flag;
    }
}

ComponentResidual componentResidual(const TransformTreeNode& node, std::uint32_t cIdx)
{
    // residuals: [0] luma, [1]/[2] Cb, [3]/[4] Cr (the second of each pair only with 4:2:2).
    ComponentResidual result;
    if (cIdx == 0) {
        merge(result, node.residuals[0]);
        return result;
    }
    const std::size_t first = 2U * cIdx - 1U;
    merge(result, node.residuals[first]);
    merge(result, node.residuals[first + 1U]);
    return result;
}

// The per-component masks of a TU event, in luma, Cb, Cr order.
struct ComponentBits {
    std::uint64_t cbf;
    std::uint64_t signaledCbf;
    std::uint64_t transformSkip;
    std::uint64_t signaledTransformSkip;
    std::uint64_t explicitRdpcm;
    std::uint64_t signaledExplicitRdpcm;
    std::uint64_t implicitRdpcm;
    std::uint64_t rdpcmDirection;
    std::uint64_t signaledRdpcmDirection;
};

constexpr std::array<ComponentBits, kComponents> kComponentBits{{
    {VEXILO_OBSERVER_TU_CBF_LUMA, VEXILO_OBSERVER_TU_SIGNALED_CBF_LUMA, VEXILO_OBSERVER_TU_TRANSFORM_SKIP_LUMA,
     VEXILO_OBSERVER_TU_SIGNALED_TRANSFORM_SKIP_LUMA, VEXILO_OBSERVER_TU_EXPLICIT_RDPCM_LUMA,
     VEXILO_OBSERVER_TU_SIGNALED_EXPLICIT_RDPCM_LUMA, VEXILO_OBSERVER_TU_IMPLICIT_RDPCM_LUMA,
     VEXILO_OBSERVER_TU_RDPCM_DIRECTION_LUMA, VEXILO_OBSERVER_TU_SIGNALED_RDPCM_DIRECTION_LUMA},
    {VEXILO_OBSERVER_TU_CBF_CB, VEXILO_OBSERVER_TU_SIGNALED_CBF_CB, VEXILO_OBSERVER_TU_TRANSFORM_SKIP_CB,
     VEXILO_OBSERVER_TU_SIGNALED_TRANSFORM_SKIP_CB, VEXILO_OBSERVER_TU_EXPLICIT_RDPCM_CB,
     VEXILO_OBSERVER_TU_SIGNALED_EXPLICIT_RDPCM_CB, VEXILO_OBSERVER_TU_IMPLICIT_RDPCM_CB,
     VEXILO_OBSERVER_TU_RDPCM_DIRECTION_CB, VEXILO_OBSERVER_TU_SIGNALED_RDPCM_DIRECTION_CB},
    {VEXILO_OBSERVER_TU_CBF_CR, VEXILO_OBSERVER_TU_SIGNALED_CBF_CR, VEXILO_OBSERVER_TU_TRANSFORM_SKIP_CR,
     VEXILO_OBSERVER_TU_SIGNALED_TRANSFORM_SKIP_CR, VEXILO_OBSERVER_TU_EXPLICIT_RDPCM_CR,
     VEXILO_OBSERVER_TU_SIGNALED_EXPLICIT_RDPCM_CR, VEXILO_OBSERVER_TU_IMPLICIT_RDPCM_CR,
     VEXILO_OBSERVER_TU_RDPCM_DIRECTION_CR, VEXILO_OBSERVER_TU_SIGNALED_RDPCM_DIRECTION_CR},
}};

std::uint32_t& componentFlag(VexiloObserverComponentFlags& flags, std::uint32_t cIdx)
{
    return cIdx == 0 ? flags.luma : (cIdx == 1 ? flags.cb : flags.cr);
}

std::int32_t& componentValue(VexiloObserverComponentValues& values, std::uint32_t cIdx)
{
    return cIdx == 0 ? values.luma : (cIdx == 1 ? values.cb : values.cr);
}

// Whether the chroma coded block flags belong to this node (7.3.8.8): 4x4 luma nodes of
// 4:2:0 and 4:2:2 leave them to their parent.
bool carriesChromaCbf(const Sps& sps, const TransformTreeNode& node)
{
    return sps.ChromaArrayType != 0 && (node.log2TrafoSize > 2 || sps.ChromaArrayType == 3);
}

// Whether this transform unit codes chroma residual syntax: the parent's chroma of four 4x4
// luma blocks travels with the last of them (7.3.8.10).
bool codesChroma(const Sps& sps, const TransformTreeNode& node)
{
    return !node.split_transform_flag && sps.ChromaArrayType != 0 &&
           (node.log2TrafoSize > 2 || sps.ChromaArrayType == 3 || node.blkIdx == 3);
}

// Chroma QP as the document keeps it: QpCb/QpCr without QpBdOffsetC (8.6.1).
std::int32_t chromaQpOf(const Sps& sps, std::int32_t QpPrime)
{
    return QpPrime - static_cast<std::int32_t>(sps.QpBdOffsetC);
}

// The presence bits of the QP fields that CU and TU events share.
struct QuantisationBits {
    std::uint64_t qp;
    std::uint64_t chromaQp; // Cb and Cr
    std::uint64_t qpDelta;
    std::uint64_t chromaQpOffset;
};

constexpr QuantisationBits kCuQuantisationBits{
    VEXILO_OBSERVER_CU_QP, VEXILO_OBSERVER_CU_CHROMA_QP_CB | VEXILO_OBSERVER_CU_CHROMA_QP_CR,
    VEXILO_OBSERVER_CU_QP_DELTA, VEXILO_OBSERVER_CU_CHROMA_QP_OFFSET};
constexpr QuantisationBits kTuQuantisationBits{
    VEXILO_OBSERVER_TU_QP, VEXILO_OBSERVER_TU_CHROMA_QP_CB | VEXILO_OBSERVER_TU_CHROMA_QP_CR,
    VEXILO_OBSERVER_TU_QP_DELTA, VEXILO_OBSERVER_TU_CHROMA_QP_OFFSET};

// QpY, the chroma QPs and the CU chroma QP offsets (8.6.1) that the CU and its transform
// units share.
template <typename Event>
void fillQuantisation(Event& event, const CodingUnit& cu, const Sps& sps, const SliceSegmentHeader& header,
                      const QuantisationBits& bits)
{
    event.qp = cu.QpY;
    event.qpDelta = cu.CuQpDeltaVal;
    event.presentMask |= bits.qp | bits.qpDelta;
    if (cu.QpPrimeCb && cu.QpPrimeCr) {
        event.chromaQpCb = chromaQpOf(sps, *cu.QpPrimeCb);
        event.chromaQpCr = chromaQpOf(sps, *cu.QpPrimeCr);
        event.presentMask |= bits.chromaQp;
    }
    if (header.cu_chroma_qp_offset_enabled_flag) {
        event.chromaQpOffsetFlag = flag(cu.cu_chroma_qp_offset_flag);
        event.chromaQpOffsetIndex =
            cu.cu_chroma_qp_offset_flag ? static_cast<std::int32_t>(cu.cu_chroma_qp_offset_idx) : kNoValue;
        event.chromaQpOffsetCb = cu.CuQpOffsetCb;
        event.chromaQpOffsetCr = cu.CuQpOffsetCr;
        event.presentMask |= bits.chromaQpOffset;
    }
}

// Where each reference list's values go in a PU event.
struct PredictionListFields {
    std::int32_t VexiloObserverPuEvent::*refIdx;
    std::int32_t VexiloObserverPuEvent::*refPoc;
    std::uint32_t VexiloObserverPuEvent::*refStatus;
    VexiloObserverMotionVector VexiloObserverPuEvent::*mv;
    VexiloObserverMotionVector VexiloObserverPuEvent::*mvd;
    std::uint64_t refIdxBit;
    std::uint64_t signaledRefIdxBit;
    std::uint64_t refPocBit;
    std::uint64_t mvBit;
    std::uint64_t mvdBit;
    std::uint64_t signaledMvdBit;
};

constexpr std::array<PredictionListFields, 2> kPredictionLists{{
    {&VexiloObserverPuEvent::refIdxL0, &VexiloObserverPuEvent::refPocL0, &VexiloObserverPuEvent::refStatusL0,
     &VexiloObserverPuEvent::mvL0, &VexiloObserverPuEvent::mvdL0, VEXILO_OBSERVER_PU_B_REF_IDX_L0,
     VEXILO_OBSERVER_PU_A_SIGNALED_REF_IDX_L0, VEXILO_OBSERVER_PU_B_REF_POC_L0, VEXILO_OBSERVER_PU_B_MV_L0,
     VEXILO_OBSERVER_PU_B_MVD_L0, VEXILO_OBSERVER_PU_A_SIGNALED_MVD_L0},
    {&VexiloObserverPuEvent::refIdxL1, &VexiloObserverPuEvent::refPocL1, &VexiloObserverPuEvent::refStatusL1,
     &VexiloObserverPuEvent::mvL1, &VexiloObserverPuEvent::mvdL1, VEXILO_OBSERVER_PU_B_REF_IDX_L1,
     VEXILO_OBSERVER_PU_A_SIGNALED_REF_IDX_L1, VEXILO_OBSERVER_PU_B_REF_POC_L1, VEXILO_OBSERVER_PU_B_MV_L1,
     VEXILO_OBSERVER_PU_B_MVD_L1, VEXILO_OBSERVER_PU_A_SIGNALED_MVD_L1},
}};

// What mvd_coding() and the syntax before it said: an AMVP unit's direction, and per list in
// use its reference index and MVD, signaled or inferred (num_ref_idx_active of 1,
// mvd_l1_zero_flag).
void fillSignaledMotion(VexiloObserverPuEvent& event, const PredictionUnit& pu)
{
    event.interDirection = static_cast<std::uint32_t>(pu.inter_pred_idc) + 1U;
    event.presentMaskB |= VEXILO_OBSERVER_PU_B_INTER_DIRECTION;
    mark(event.presentMaskA, VEXILO_OBSERVER_PU_A_SIGNALED_INTER_DIRECTION, pu.signaled_inter_pred_idc.has_value());
    for (std::size_t list = 0; list < kPredictionLists.size(); ++list) {
        if (pu.inter_pred_idc != slice_data::PRED_BI && static_cast<std::size_t>(pu.inter_pred_idc) != list) {
            continue;
        }
        const PredictionListFields& fields = kPredictionLists[list];
        event.*fields.refIdx = pu.ref_idx[list];
        (event.*fields.mvd).x = pu.MvdLX[list][0];
        (event.*fields.mvd).y = pu.MvdLX[list][1];
        event.presentMaskB |= fields.refIdxBit | fields.mvdBit;
        mark(event.presentMaskA, fields.signaledRefIdxBit, pu.signaled_ref_idx[list].has_value());
        mark(event.presentMaskA, fields.signaledMvdBit, pu.mvdSignaled[list]);
    }
}

// The status of RefPicListX[refIdx]; an index past the list names no picture at all.
std::uint32_t referenceStatusOf(const RefPicListStatuses& statuses, std::size_t X, std::int32_t refIdx)
{
    const std::vector<std::uint32_t>& list = statuses[X];
    return refIdx >= 0 && static_cast<std::size_t>(refIdx) < list.size() ? list[static_cast<std::size_t>(refIdx)]
                                                                          : VEXILO_OBSERVER_REFERENCE_UNAVAILABLE;
}

// The final motion of 8.5.3.2.1, merged or predicted: direction, reference indices, their
// POCs and statuses, and the vectors.
void fillDerivedMotion(VexiloObserverPuEvent& event, const PredictionUnit& pu, const RefPicListStatuses& statuses)
{
    const bool l0 = pu.predFlagLX[0];
    const bool l1 = pu.predFlagLX[1];
    event.interDirection = l0 && l1 ? VEXILO_OBSERVER_INTER_DIRECTION_BI
                                    : (l1 ? VEXILO_OBSERVER_INTER_DIRECTION_L1 : VEXILO_OBSERVER_INTER_DIRECTION_L0);
    event.presentMaskB |= VEXILO_OBSERVER_PU_B_INTER_DIRECTION;
    for (std::size_t list = 0; list < kPredictionLists.size(); ++list) {
        if (!pu.predFlagLX[list]) {
            continue;
        }
        const PredictionListFields& fields = kPredictionLists[list];
        event.*fields.refIdx = pu.refIdxLX[list];
        event.*fields.refPoc = pu.refPocLX[list];
        event.*fields.refStatus = referenceStatusOf(statuses, list, pu.refIdxLX[list]);
        (event.*fields.mv).x = pu.mvLX[list][0];
        (event.*fields.mv).y = pu.mvLX[list][1];
        event.presentMaskB |= fields.refIdxBit | fields.refPocBit | fields.mvBit;
    }
}

} // namespace

std::uint64_t blockTreeIdentity(std::uint32_t x0, std::uint32_t y0, std::uint32_t log2Size)
{
    return kTreeIdentityTag | (std::uint64_t{log2Size} << kTreeLog2SizeShift) | (std::uint64_t{y0} << kTreeYShift) |
           x0;
}

std::uint64_t parentBlockTreeIdentity(std::uint32_t x0, std::uint32_t y0, std::uint32_t log2Size)
{
    const std::uint32_t parentMask = ~((2U << log2Size) - 1U);
    return blockTreeIdentity(x0 & parentMask, y0 & parentMask, log2Size + 1U);
}

BlockEventWriter::BlockEventWriter(const SliceBlockFacts& facts, BlockEventDelivery deliver)
    : facts_(facts), deliver_(std::move(deliver))
{
}

template <typename Event>
Event BlockEventWriter::makeBlockEvent(std::uint32_t kind, std::uint32_t x0, std::uint32_t y0, std::uint32_t width,
                                       std::uint32_t height) const
{
    Event event{};
    fillEventHeader(event.header, kind, static_cast<std::uint32_t>(sizeof(Event)), facts_.stamp);
    event.sliceIdentity = facts_.sliceIdentity;
    event.pictureIdentity = facts_.pictureIdentity;
    const Sps& sps = *facts_.sps;
    event.ctuAddress = (y0 >> sps.CtbLog2SizeY) * sps.PicWidthInCtbsY + (x0 >> sps.CtbLog2SizeY);
    // Nodes at the right and bottom picture edges reach past the picture; the document keeps
    // only the part inside it.
    event.bounds.x = x0;
    event.bounds.y = y0;
    event.bounds.width = std::min(width, sps.pic_width_in_luma_samples - std::min(x0, sps.pic_width_in_luma_samples));
    event.bounds.height =
        std::min(height, sps.pic_height_in_luma_samples - std::min(y0, sps.pic_height_in_luma_samples));
    return event;
}

template <typename Node>
VexiloObserverCuEvent BlockEventWriter::makeQuadtreeEvent(const Node& node) const
{
    const std::uint32_t size = 1U << node.log2CbSize;
    auto event = makeBlockEvent<VexiloObserverCuEvent>(VEXILO_OBSERVER_EVENT_CU, node.x0, node.y0, size, size);
    event.cuIdentity = blockTreeIdentity(node.x0, node.y0, node.log2CbSize);
    event.parentCuIdentity = node.cqtDepth == 0 ? 0 : parentBlockTreeIdentity(node.x0, node.y0, node.log2CbSize);
    event.cuOrderKey = node.preorderIndex;
    event.parseStatus = VEXILO_OBSERVER_PARSE_STATUS_PARSED;
    event.depth = node.cqtDepth;
    event.presentMask = VEXILO_OBSERVER_CU_DEPTH | VEXILO_OBSERVER_CU_SPLIT;
    mark(event.signaledMask, VEXILO_OBSERVER_CU_SIGNALED_SPLIT, node.split_cu_flag.has_value());
    return event;
}

VexiloObserverPuEvent BlockEventWriter::makePredictionEvent(const CodingUnit& cu, std::uint32_t x0, std::uint32_t y0,
                                                            std::uint32_t width, std::uint32_t height,
                                                            std::uint32_t partIdx) const
{
    auto event = makeBlockEvent<VexiloObserverPuEvent>(VEXILO_OBSERVER_EVENT_PU, x0, y0, width, height);
    event.cuIdentity = blockTreeIdentity(cu.x0, cu.y0, cu.log2CbSize);
    event.partIndex = partIdx;
    event.predictionMode = predictionModeOf(cu);
    event.partitionMode = partitionModeOf(cu);
    event.parseStatus = VEXILO_OBSERVER_PARSE_STATUS_PARSED;
    event.intraLumaMode = kNoValue;
    event.intraChromaMode = kNoValue;
    event.refIdxL0 = kNoValue;
    event.refIdxL1 = kNoValue;
    event.refPocL0 = kNoValue;
    event.refPocL1 = kNoValue;
    event.presentMaskB = VEXILO_OBSERVER_PU_B_PARTITION_MODE | VEXILO_OBSERVER_PU_B_PREDICTION_MODE;
    return event;
}

void BlockEventWriter::codingQuadtreeNode(const slice_data::CodingQuadtreeNode& node)
{
    auto event = makeQuadtreeEvent(node);
    event.split = 1;
    send(event);
}

void BlockEventWriter::predictionUnit(const PredictionUnit& pu) { pendingPus_.push_back(pu); }

void BlockEventWriter::transformTreeNode(const TransformTreeNode& node) { pendingTransformNodes_.push_back(node); }

void BlockEventWriter::codingUnit(const CodingUnit& cu)
{
    auto event = makeQuadtreeEvent(cu);
    event.split = 0;
    event.skip = flag(cu.cu_skip_flag);
    event.predictionMode = predictionModeOf(cu);
    event.partitionMode = partitionModeOf(cu);
    event.pcm = flag(cu.pcm_flag);
    event.transquantBypass = flag(cu.cu_transquant_bypass_flag);
    event.presentMask |= VEXILO_OBSERVER_CU_SKIP | VEXILO_OBSERVER_CU_PREDICTION_MODE |
                         VEXILO_OBSERVER_CU_PARTITION_MODE | VEXILO_OBSERVER_CU_PCM |
                         VEXILO_OBSERVER_CU_TRANSQUANT_BYPASS;
    fillQuantisation(event, cu, *facts_.sps, *facts_.header, kCuQuantisationBits);
    mark(event.signaledMask, VEXILO_OBSERVER_CU_SIGNALED_SKIP, cu.signaled_cu_skip_flag.has_value());
    mark(event.signaledMask, VEXILO_OBSERVER_CU_SIGNALED_PREDICTION_MODE, cu.pred_mode_flag.has_value());
    mark(event.signaledMask, VEXILO_OBSERVER_CU_SIGNALED_PARTITION_MODE, cu.signaled_part_mode.has_value());
    mark(event.signaledMask, VEXILO_OBSERVER_CU_SIGNALED_PCM, cu.signaled_pcm_flag.has_value());
    mark(event.signaledMask, VEXILO_OBSERVER_CU_SIGNALED_TRANSQUANT_BYPASS,
         cu.signaled_cu_transquant_bypass_flag.has_value());
    mark(event.signaledMask, VEXILO_OBSERVER_CU_SIGNALED_QP_DELTA, cu.signaled_CuQpDeltaVal.has_value());
    mark(event.signaledMask, VEXILO_OBSERVER_CU_SIGNALED_CHROMA_QP_OFFSET_FLAG,
         cu.signaled_cu_chroma_qp_offset_flag.has_value());
    mark(event.signaledMask, VEXILO_OBSERVER_CU_SIGNALED_CHROMA_QP_OFFSET_INDEX,
         cu.signaled_cu_chroma_qp_offset_idx.has_value());
    send(event);

    if (cu.CuPredMode == PredMode::Intra) {
        sendIntraPredictionUnits(cu);
    } else {
        for (const PredictionUnit& pu : pendingPus_) {
            sendInterPredictionUnit(cu, pu);
        }
    }
    for (const TransformTreeNode& node : pendingTransformNodes_) {
        sendTransformNode(cu, node);
    }
    pendingPus_.clear();
    pendingTransformNodes_.clear();
}

void BlockEventWriter::sendInterPredictionUnit(const CodingUnit& cu, const PredictionUnit& pu)
{
    auto event = makePredictionEvent(cu, pu.x0, pu.y0, pu.nPbW, pu.nPbH, pu.partIdx);
    event.mergeFlag = flag(pu.merge_flag);
    event.presentMaskB |= VEXILO_OBSERVER_PU_B_MERGE_FLAG;
    mark(event.presentMaskA, VEXILO_OBSERVER_PU_A_SIGNALED_MERGE_FLAG, pu.signaled_merge_flag.has_value());
    if (pu.merge_flag) {
        event.mergeIndex = pu.merge_idx;
        event.presentMaskB |= VEXILO_OBSERVER_PU_B_MERGE_INDEX;
        mark(event.presentMaskA, VEXILO_OBSERVER_PU_A_SIGNALED_MERGE_INDEX, pu.signaled_merge_idx.has_value());
    } else {
        fillSignaledMotion(event, pu);
    }
    // Without the slice's reference lists a merged unit's direction stays unknown (8.5.3.2.2).
    if (pu.motionDerived) {
        fillDerivedMotion(event, pu, facts_.referenceStatus);
    }
    send(event);
}

void BlockEventWriter::sendIntraPredictionUnits(const CodingUnit& cu)
{
    const bool nxn = cu.partMode == PartMode::PART_NxN;
    const std::uint32_t count = nxn ? 4U : 1U;
    const std::uint32_t size = (1U << cu.log2CbSize) >> (nxn ? 1U : 0U);
    for (std::uint32_t partIdx = 0; partIdx < count; ++partIdx) {
        const std::uint32_t x0 = cu.x0 + (partIdx & 1U) * size;
        const std::uint32_t y0 = cu.y0 + (partIdx >> 1U) * size;
        auto event = makePredictionEvent(cu, x0, y0, size, size, partIdx);
        // PCM samples replace prediction: such a CU has no intra modes.
        if (partIdx < cu.numIntraPartitions) {
            event.intraLumaMode = cu.IntraPredModeY[partIdx];
            event.presentMaskB |= VEXILO_OBSERVER_PU_B_INTRA_LUMA_MODE;
            event.presentMaskA |= VEXILO_OBSERVER_PU_A_SIGNALED_INTRA_LUMA_MODE;
        }
        if (cu.numChromaModes > 0) {
            // One chroma mode serves all four blocks unless ChromaArrayType is 3.
            const std::uint32_t chromaIdx = cu.numChromaModes == count ? partIdx : 0U;
            event.intraChromaMode = cu.IntraPredModeC[chromaIdx];
            event.presentMaskB |= VEXILO_OBSERVER_PU_B_INTRA_CHROMA_MODE;
            event.presentMaskA |= VEXILO_OBSERVER_PU_A_SIGNALED_INTRA_CHROMA_MODE;
        }
        send(event);
    }
}

void BlockEventWriter::sendTransformNode(const CodingUnit& cu, const TransformTreeNode& node)
{
    const Sps& sps = *facts_.sps;
    const std::uint32_t size = 1U << node.log2TrafoSize;
    auto event = makeBlockEvent<VexiloObserverTuEvent>(VEXILO_OBSERVER_EVENT_TU, node.x0, node.y0, size, size);
    event.cuIdentity = blockTreeIdentity(cu.x0, cu.y0, cu.log2CbSize);
    event.tuIdentity = blockTreeIdentity(node.x0, node.y0, node.log2TrafoSize);
    event.parentTuIdentity =
        node.trafoDepth == 0 ? 0 : parentBlockTreeIdentity(node.x0, node.y0, node.log2TrafoSize);
    event.tuOrderKey = (node.cuPreorderIndex << kTuOrderCuShift) | node.preorderIndex;
    event.parseStatus = VEXILO_OBSERVER_PARSE_STATUS_PARSED;
    event.depth = node.trafoDepth;
    event.split = flag(node.split_transform_flag);
    event.rdpcmDirection = {kNoValue, kNoValue, kNoValue};
    event.presentMask = VEXILO_OBSERVER_TU_DEPTH | VEXILO_OBSERVER_TU_SPLIT;
    mark(event.signaledMask, VEXILO_OBSERVER_TU_SIGNALED_SPLIT, node.signaled_split_transform_flag.has_value());

    if (carriesChromaCbf(sps, node)) {
        event.codedBlockFlags.cb = flag(node.cbf_cb[0] || node.cbf_cb[1]);
        event.codedBlockFlags.cr = flag(node.cbf_cr[0] || node.cbf_cr[1]);
        event.presentMask |= VEXILO_OBSERVER_TU_CBF_CB | VEXILO_OBSERVER_TU_CBF_CR;
        mark(event.signaledMask, VEXILO_OBSERVER_TU_SIGNALED_CBF_CB, node.cbfSignaledCb[0]);
        mark(event.signaledMask, VEXILO_OBSERVER_TU_SIGNALED_CBF_CR, node.cbfSignaledCr[0]);
    }
    if (node.split_transform_flag) {
        send(event);
        return;
    }

    event.codedBlockFlags.luma = flag(node.cbf_luma);
    event.presentMask |= VEXILO_OBSERVER_TU_CBF_LUMA;
    mark(event.signaledMask, VEXILO_OBSERVER_TU_SIGNALED_CBF_LUMA, node.signaled_cbf_luma.has_value());
    const std::uint32_t components = codesChroma(sps, node) ? kComponents : 1U;
    for (std::uint32_t cIdx = 0; cIdx < components; ++cIdx) {
        const ComponentResidual residual = componentResidual(node, cIdx);
        const ComponentBits& bits = kComponentBits[cIdx];
        if (cIdx != 0 && !carriesChromaCbf(sps, node)) {
            // The chroma of the parent: its flags are known from what was coded here.
            componentFlag(event.codedBlockFlags, cIdx) = flag(residual.coded);
            event.presentMask |= bits.cbf;
        }
        componentFlag(event.transformSkip, cIdx) = flag(residual.transformSkip);
        componentFlag(event.explicitRdpcm, cIdx) = flag(residual.explicitRdpcm);
        componentFlag(event.implicitRdpcm, cIdx) = flag(residual.implicitRdpcm);
        event.presentMask |= bits.transformSkip | bits.explicitRdpcm | bits.implicitRdpcm;
        mark(event.signaledMask, bits.signaledTransformSkip, residual.transformSkipSignaled);
        mark(event.signaledMask, bits.signaledExplicitRdpcm, residual.explicitRdpcmSignaled);
        if (residual.rdpcmDirection != kNoValue) {
            componentValue(event.rdpcmDirection, cIdx) = residual.rdpcmDirection;
            event.presentMask |= bits.rdpcmDirection;
            mark(event.signaledMask, bits.signaledRdpcmDirection, residual.rdpcmDirectionSignaled);
        }
    }

    event.transquantBypass = flag(cu.cu_transquant_bypass_flag);
    event.presentMask |= VEXILO_OBSERVER_TU_TRANSQUANT_BYPASS;
    fillQuantisation(event, cu, sps, *facts_.header, kTuQuantisationBits);
    mark(event.signaledMask, VEXILO_OBSERVER_TU_SIGNALED_QP_DELTA, node.signaled_CuQpDeltaVal.has_value());
    mark(event.signaledMask, VEXILO_OBSERVER_TU_SIGNALED_CHROMA_QP_OFFSET_FLAG,
         node.signaled_cu_chroma_qp_offset_flag.has_value());
    mark(event.signaledMask, VEXILO_OBSERVER_TU_SIGNALED_CHROMA_QP_OFFSET_INDEX,
         node.signaled_cu_chroma_qp_offset_idx.has_value());
    send(event);
}

void BlockEventWriter::codingTreeUnit(const slice_data::CodingTreeUnit& ctu)
{
    // Records of a CU whose parse broke off stay behind: they have no CU to belong to.
    pendingPus_.clear();
    pendingTransformNodes_.clear();
    const std::uint32_t size = facts_.sps->CtbSizeY;
    auto event = makeBlockEvent<VexiloObserverCtuEvent>(VEXILO_OBSERVER_EVENT_CTU, ctu.xCtb, ctu.yCtb, size, size);
    event.ctuAddress = ctu.CtbAddrInRs;
    event.ctuAddressTs = ctu.CtbAddrInTs;
    event.ctuAuxValue = facts_.header->SliceAddrRs;
    event.parseStatus = ctu.parsed ? VEXILO_OBSERVER_PARSE_STATUS_PARSED : VEXILO_OBSERVER_PARSE_STATUS_MALFORMED;
    event.parserErrorCode = ctu.parsed ? 0 : kErrorInvalidData;
    send(event);
}

slice_data::SliceDataResult writeSliceBlockEvents(const SliceBlockFacts& facts, std::span<const std::uint8_t> sliceData,
                                                  slice_data::PictureBlockState& state,
                                                  const BlockEventDelivery& deliver)
{
    BlockEventWriter writer(facts, deliver);
    slice_data::SliceDataInput input;
    input.sps = facts.sps;
    input.pps = facts.pps;
    input.layout = facts.layout;
    input.header = facts.header;
    input.sliceData = sliceData;
    input.PicOrderCntVal = facts.PicOrderCntVal;
    input.RefPicList = facts.RefPicList;
    return slice_data::parseSliceSegmentData(input, state, writer);
}

} // namespace vexilo::hevc
