#include "observer/ObserverEventRecord.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>

namespace vexilo::analyzer {
namespace {

using CopyPayload = void (*)(const VexiloObserverEventHeader& event, ObserverEventRecord& record);

// Reads the observer's layout of one kind from the event bytes; the caller has checked
// that the event is at least that long.
template <typename Layout>
Layout readLayout(const VexiloObserverEventHeader& event) noexcept
{
    Layout layout;
    std::memcpy(&layout, &event, sizeof(Layout));
    return layout;
}

void copyNothing(const VexiloObserverEventHeader&, ObserverEventRecord&) {}

void copyNalUnit(const VexiloObserverEventHeader& event, ObserverEventRecord& record)
{
    record.payload.nalUnit = readLayout<VexiloObserverNalUnitEvent>(event);
    record.nalIdentity = record.payload.nalUnit.nalIdentity;
}

void copyParameterSet(const VexiloObserverEventHeader& event, ObserverEventRecord& record)
{
    record.payload.parameterSet = readLayout<VexiloObserverParameterSetEvent>(event);
    record.width = record.payload.parameterSet.width;
    record.height = record.payload.parameterSet.height;
}

void copySeiMessage(const VexiloObserverEventHeader& event, ObserverEventRecord& record)
{
    VexiloObserverSeiMessageEvent sei = readLayout<VexiloObserverSeiMessageEvent>(event);
    const std::uint32_t copied =
        sei.payloadBytesLength < kSeiPayloadCopyLimit ? sei.payloadBytesLength
                                                      : static_cast<std::uint32_t>(kSeiPayloadCopyLimit);
    record.payloadTruncated = sei.payloadBytesLength > kSeiPayloadCopyLimit;
    if (copied != 0 && sei.payload != nullptr) {
        std::memcpy(record.payloadBytes.data(), sei.payload, copied);
        record.payloadCopiedSize = copied;
    }
    // The decoder's buffer is gone once the callback returns.
    sei.payload = nullptr;
    record.payload.sei = sei;
}

void copySlice(const VexiloObserverEventHeader& event, ObserverEventRecord& record)
{
    record.payload.slice = readLayout<VexiloObserverSliceEvent>(event);
    record.nalIdentity = record.payload.slice.nalIdentity;
    record.sliceIdentity = record.payload.slice.sliceIdentity;
    record.pictureIdentity = record.payload.slice.pictureIdentity;
}

template <typename Layout, Layout ObserverEventPayload::*member>
void copySliceChild(const VexiloObserverEventHeader& event, ObserverEventRecord& record)
{
    const Layout layout = readLayout<Layout>(event);
    record.payload.*member = layout;
    record.sliceIdentity = layout.sliceIdentity;
    record.pictureIdentity = layout.pictureIdentity;
}

void copyPictureOutput(const VexiloObserverEventHeader& event, ObserverEventRecord& record)
{
    record.payload.pictureOutput = readLayout<VexiloObserverPictureOutputEvent>(event);
    record.pictureIdentity = record.payload.pictureOutput.pictureIdentity;
}

// Blocks are nearly all of the events: their layout goes straight into the payload, every
// byte of it, which therefore needs no clearing first.
template <typename Layout, Layout ObserverEventPayload::*member>
void copyBlock(const VexiloObserverEventHeader& event, ObserverEventRecord& record)
{
    std::memcpy(static_cast<void*>(&(record.payload.*member)), &event, sizeof(Layout));
    const Layout& layout = record.payload.*member;
    record.sliceIdentity = layout.sliceIdentity;
    record.pictureIdentity = layout.pictureIdentity;
    record.ctuAddress = layout.ctuAddress;
    record.bounds = layout.bounds;
}

void copyVpsLayerSet(const VexiloObserverEventHeader& event, ObserverEventRecord& record)
{
    record.payload.vpsLayerSet = readLayout<VexiloObserverVpsLayerSetEvent>(event);
}

void copySyntaxDiagnostic(const VexiloObserverEventHeader& event, ObserverEventRecord& record)
{
    VexiloObserverSyntaxDiagnosticEvent diagnostic = readLayout<VexiloObserverSyntaxDiagnosticEvent>(event);
    // The texts come from outside: they end inside their fields whatever the event says.
    diagnostic.element[sizeof diagnostic.element - 1] = '\0';
    diagnostic.message[sizeof diagnostic.message - 1] = '\0';
    record.payload.syntaxDiagnostic = diagnostic;
    record.nalIdentity = diagnostic.nalIdentity;
}

struct EventKindLayout {
    std::uint32_t minimumSize;
    CopyPayload copy;
    // The payload's leading bytes the copy writes whatever the event holds.
    std::size_t bytesCopiedWhole = 0;
};

// Indexed by kind; kind 0 and kinds above 23 carry the header alone.
constexpr EventKindLayout kEventKindLayouts[] = {
    {VEXILO_OBSERVER_MIN_SIZE_MARKER, copyNothing},  // 0 (not a kind)
    {VEXILO_OBSERVER_MIN_SIZE_MARKER, copyNothing},  // 1 start marker
    {VEXILO_OBSERVER_MIN_SIZE_MARKER, copyNothing},  // 2 end marker
    {VEXILO_OBSERVER_MIN_SIZE_MARKER, copyNothing},  // 3 picture lifecycle event
    {VEXILO_OBSERVER_MIN_SIZE_MARKER, copyNothing},  // 4 picture lifecycle update
    {VEXILO_OBSERVER_MIN_SIZE_MARKER, copyNothing},  // 5 lifecycle event
    {VEXILO_OBSERVER_MIN_SIZE_NAL_UNIT, copyNalUnit},
    {VEXILO_OBSERVER_MIN_SIZE_PARAMETER_SET, copyParameterSet},  // 7 VPS
    {VEXILO_OBSERVER_MIN_SIZE_PARAMETER_SET, copyParameterSet},  // 8 SPS
    {VEXILO_OBSERVER_MIN_SIZE_PARAMETER_SET, copyParameterSet},  // 9 PPS
    {VEXILO_OBSERVER_MIN_SIZE_SEI_MESSAGE, copySeiMessage},
    {VEXILO_OBSERVER_MIN_SIZE_SLICE_SEGMENT_HEADER, copySlice},
    {VEXILO_OBSERVER_MIN_SIZE_RPS_ENTRY,
     copySliceChild<VexiloObserverShortTermRpsEvent, &ObserverEventPayload::shortTermRps>},
    {VEXILO_OBSERVER_MIN_SIZE_RPS_ENTRY,
     copySliceChild<VexiloObserverLongTermRpsEvent, &ObserverEventPayload::longTermRps>},
    {VEXILO_OBSERVER_MIN_SIZE_REFERENCE_LIST_ENTRY,
     copySliceChild<VexiloObserverReferenceListEvent, &ObserverEventPayload::referenceList>},
    {VEXILO_OBSERVER_MIN_SIZE_DPB_SNAPSHOT_ENTRY,
     copySliceChild<VexiloObserverDpbEntryEvent, &ObserverEventPayload::dpbEntry>},
    {VEXILO_OBSERVER_MIN_SIZE_REFERENCE_STATE_MARKER,
     copySliceChild<VexiloObserverReferenceStateEvent, &ObserverEventPayload::referenceState>},
    {VEXILO_OBSERVER_MIN_SIZE_PICTURE_OUTPUT, copyPictureOutput},
    {VEXILO_OBSERVER_MIN_SIZE_CTU, copyBlock<VexiloObserverCtuEvent, &ObserverEventPayload::ctu>, sizeof(VexiloObserverCtuEvent)},
    {VEXILO_OBSERVER_MIN_SIZE_CU, copyBlock<VexiloObserverCuEvent, &ObserverEventPayload::cu>, sizeof(VexiloObserverCuEvent)},
    {VEXILO_OBSERVER_MIN_SIZE_PU, copyBlock<VexiloObserverPuEvent, &ObserverEventPayload::pu>, sizeof(VexiloObserverPuEvent)},
    {VEXILO_OBSERVER_MIN_SIZE_TU, copyBlock<VexiloObserverTuEvent, &ObserverEventPayload::tu>, sizeof(VexiloObserverTuEvent)},
    {VEXILO_OBSERVER_MIN_SIZE_VPS_LAYER_SET, copyVpsLayerSet},
    {VEXILO_OBSERVER_MIN_SIZE_SYNTAX_DIAGNOSTIC, copySyntaxDiagnostic},
};
static_assert(std::size(kEventKindLayouts) == VEXILO_OBSERVER_EVENT_KIND_COUNT + 1);

const EventKindLayout& layoutOfKind(std::uint32_t kind) noexcept
{
    return kind < std::size(kEventKindLayouts) ? kEventKindLayouts[kind] : kEventKindLayouts[0];
}

// The record's head and the part of its payload the kind's layout covers get their default
// values; the rest keeps what it held, which nothing of this kind reads. Clearing all 2048
// bytes for every event cost more than the rest of the intake.
void resetUsedPart(ObserverEventRecord& record, std::uint32_t kind) noexcept
{
    static const ObserverEventRecord kDefaults{};
    std::memcpy(static_cast<void*>(&record), &kDefaults, offsetof(ObserverEventRecord, payloadBytes));
    const EventKindLayout& layout = layoutOfKind(kind);
    const std::size_t used = std::min<std::size_t>(layout.minimumSize, sizeof(ObserverEventPayload));
    if (used > layout.bytesCopiedWhole) {
        std::memset(reinterpret_cast<std::byte*>(&record.payload) + layout.bytesCopiedWhole, 0,
                    used - layout.bytesCopiedWhole);
    }
}

// One presence rule: when `bit` is clear in the mask, `clear` resets the value(s) it
// vouches for to their "not signaled" form.
struct PresenceRule {
    std::uint64_t bit;
    void (*clear)(ObserverEventPayload& payload);
};

void applyPresenceRules(std::uint64_t mask, std::span<const PresenceRule> rules,
                        ObserverEventPayload& payload) noexcept
{
    for (const PresenceRule& rule : rules) {
        if ((mask & rule.bit) == 0) {
            rule.clear(payload);
        }
    }
}

constexpr PresenceRule kSliceMaskARules[] = {
    {VEXILO_OBSERVER_SLICE_A_SLICE_SEGMENT_ADDRESS, [](ObserverEventPayload& p) { p.slice.sliceSegmentAddress = 0; }},
    {VEXILO_OBSERVER_SLICE_A_SIGNALED_SLICE_TYPE, [](ObserverEventPayload& p) { p.slice.signaledSliceType = 0; }},
    {VEXILO_OBSERVER_SLICE_A_SLICE_PIC_ORDER_CNT_LSB, [](ObserverEventPayload& p) { p.slice.slicePicOrderCntLsb = 0; }},
    {VEXILO_OBSERVER_SLICE_A_SLICE_QP_DELTA, [](ObserverEventPayload& p) { p.slice.sliceQpDelta = 0; }},
};
constexpr PresenceRule kSliceMaskBRules[] = {
    {VEXILO_OBSERVER_SLICE_B_POC, [](ObserverEventPayload& p) { p.slice.poc = 0; }},
    {VEXILO_OBSERVER_SLICE_B_SLICE_QP, [](ObserverEventPayload& p) { p.slice.sliceQp = 0; }},
};

constexpr PresenceRule kCuRules[] = {
    {VEXILO_OBSERVER_CU_SKIP, [](ObserverEventPayload& p) { p.cu.skip = 0; }},
    {VEXILO_OBSERVER_CU_PREDICTION_MODE, [](ObserverEventPayload& p) { p.cu.predictionMode = 0; }},
    {VEXILO_OBSERVER_CU_PARTITION_MODE, [](ObserverEventPayload& p) { p.cu.partitionMode = 0; }},
    {VEXILO_OBSERVER_CU_PCM, [](ObserverEventPayload& p) { p.cu.pcm = 0; }},
    {VEXILO_OBSERVER_CU_TRANSQUANT_BYPASS, [](ObserverEventPayload& p) { p.cu.transquantBypass = 0; }},
    {VEXILO_OBSERVER_CU_QP, [](ObserverEventPayload& p) { p.cu.qp = 0; }},
    {VEXILO_OBSERVER_CU_CHROMA_QP_CB, [](ObserverEventPayload& p) { p.cu.chromaQpCb = 0; }},
    {VEXILO_OBSERVER_CU_CHROMA_QP_CR, [](ObserverEventPayload& p) { p.cu.chromaQpCr = 0; }},
    {VEXILO_OBSERVER_CU_QP_DELTA, [](ObserverEventPayload& p) { p.cu.qpDelta = 0; }},
    {VEXILO_OBSERVER_CU_CHROMA_QP_OFFSET,
     [](ObserverEventPayload& p) {
         p.cu.chromaQpOffsetFlag = 0;
         p.cu.chromaQpOffsetIndex = -1;
         p.cu.chromaQpOffsetCb = 0;
     }},
};

// Only the B mask vouches for values. The A mask says which of them the stream signaled, and
// an inferred value is as real as a signaled one: a skipped CU's merge_flag is 1 although
// nothing codes it, mvd_l1_zero_flag makes MvdL1 zero without mvd_coding().
constexpr PresenceRule kPuMaskBRules[] = {
    {VEXILO_OBSERVER_PU_B_INTRA_LUMA_MODE, [](ObserverEventPayload& p) { p.pu.intraLumaMode = -1; }},
    {VEXILO_OBSERVER_PU_B_INTRA_CHROMA_MODE, [](ObserverEventPayload& p) { p.pu.intraChromaMode = -1; }},
    {VEXILO_OBSERVER_PU_B_MERGE_FLAG, [](ObserverEventPayload& p) { p.pu.mergeFlag = 0; }},
    {VEXILO_OBSERVER_PU_B_MERGE_INDEX, [](ObserverEventPayload& p) { p.pu.mergeIndex = 0; }},
    {VEXILO_OBSERVER_PU_B_INTER_DIRECTION, [](ObserverEventPayload& p) { p.pu.interDirection = 0; }},
    {VEXILO_OBSERVER_PU_B_REF_IDX_L0, [](ObserverEventPayload& p) { p.pu.refIdxL0 = -1; }},
    {VEXILO_OBSERVER_PU_B_REF_IDX_L1, [](ObserverEventPayload& p) { p.pu.refIdxL1 = -1; }},
    {VEXILO_OBSERVER_PU_B_REF_POC_L0,
     [](ObserverEventPayload& p) {
         p.pu.refPocL0 = -1;
         p.pu.puL0ReferenceValue = 0;
         p.pu.refStatusL0 = 0;
     }},
    {VEXILO_OBSERVER_PU_B_REF_POC_L1,
     [](ObserverEventPayload& p) {
         p.pu.refPocL1 = -1;
         p.pu.puL1ReferenceValue = 0;
         p.pu.refStatusL1 = 0;
     }},
    {VEXILO_OBSERVER_PU_B_MV_L0, [](ObserverEventPayload& p) { p.pu.mvL0 = {}; }},
    {VEXILO_OBSERVER_PU_B_MV_L1, [](ObserverEventPayload& p) { p.pu.mvL1 = {}; }},
    {VEXILO_OBSERVER_PU_B_MVD_L0, [](ObserverEventPayload& p) { p.pu.mvdL0 = {}; }},
    {VEXILO_OBSERVER_PU_B_MVD_L1, [](ObserverEventPayload& p) { p.pu.mvdL1 = {}; }},
};

constexpr PresenceRule kTuRules[] = {
    {VEXILO_OBSERVER_TU_CBF_LUMA, [](ObserverEventPayload& p) { p.tu.codedBlockFlags.luma = 0; }},
    {VEXILO_OBSERVER_TU_CBF_CB, [](ObserverEventPayload& p) { p.tu.codedBlockFlags.cb = 0; }},
    {VEXILO_OBSERVER_TU_CBF_CR, [](ObserverEventPayload& p) { p.tu.codedBlockFlags.cr = 0; }},
    {VEXILO_OBSERVER_TU_TRANSFORM_SKIP_LUMA, [](ObserverEventPayload& p) { p.tu.transformSkip.luma = 0; }},
    {VEXILO_OBSERVER_TU_TRANSFORM_SKIP_CB, [](ObserverEventPayload& p) { p.tu.transformSkip.cb = 0; }},
    {VEXILO_OBSERVER_TU_TRANSFORM_SKIP_CR, [](ObserverEventPayload& p) { p.tu.transformSkip.cr = 0; }},
    {VEXILO_OBSERVER_TU_EXPLICIT_RDPCM_LUMA, [](ObserverEventPayload& p) { p.tu.explicitRdpcm.luma = 0; }},
    {VEXILO_OBSERVER_TU_EXPLICIT_RDPCM_CB, [](ObserverEventPayload& p) { p.tu.explicitRdpcm.cb = 0; }},
    {VEXILO_OBSERVER_TU_EXPLICIT_RDPCM_CR, [](ObserverEventPayload& p) { p.tu.explicitRdpcm.cr = 0; }},
    {VEXILO_OBSERVER_TU_RDPCM_DIRECTION_LUMA, [](ObserverEventPayload& p) { p.tu.rdpcmDirection.luma = -1; }},
    {VEXILO_OBSERVER_TU_RDPCM_DIRECTION_CB, [](ObserverEventPayload& p) { p.tu.rdpcmDirection.cb = -1; }},
    {VEXILO_OBSERVER_TU_RDPCM_DIRECTION_CR, [](ObserverEventPayload& p) { p.tu.rdpcmDirection.cr = -1; }},
    {VEXILO_OBSERVER_TU_IMPLICIT_RDPCM_LUMA, [](ObserverEventPayload& p) { p.tu.implicitRdpcm.luma = 0; }},
    {VEXILO_OBSERVER_TU_IMPLICIT_RDPCM_CB, [](ObserverEventPayload& p) { p.tu.implicitRdpcm.cb = 0; }},
    {VEXILO_OBSERVER_TU_IMPLICIT_RDPCM_CR, [](ObserverEventPayload& p) { p.tu.implicitRdpcm.cr = 0; }},
    {VEXILO_OBSERVER_TU_QP, [](ObserverEventPayload& p) { p.tu.qp = 0; }},
    {VEXILO_OBSERVER_TU_CHROMA_QP_CB, [](ObserverEventPayload& p) { p.tu.chromaQpCb = 0; }},
    {VEXILO_OBSERVER_TU_CHROMA_QP_CR, [](ObserverEventPayload& p) { p.tu.chromaQpCr = 0; }},
    {VEXILO_OBSERVER_TU_QP_DELTA, [](ObserverEventPayload& p) { p.tu.qpDelta = 0; }},
    {VEXILO_OBSERVER_TU_TRANSQUANT_BYPASS, [](ObserverEventPayload& p) { p.tu.transquantBypass = 0; }},
    {VEXILO_OBSERVER_TU_CHROMA_QP_OFFSET,
     [](ObserverEventPayload& p) {
         p.tu.chromaQpOffsetFlag = 0;
         p.tu.chromaQpOffsetIndex = -1;
         p.tu.chromaQpOffsetCb = 0;
     }},
};

}  // namespace

std::uint32_t observerEventMinimumSize(std::uint32_t kind) noexcept
{
    return layoutOfKind(kind).minimumSize;
}

bool isValidObserverEventHeader(const VexiloObserverEventHeader* event) noexcept
{
    return event != nullptr && event->abiVersion == kObserverAbiVersion &&
           event->size >= kObserverEventHeaderSize;
}

bool normalizeObserverEvent(const VexiloObserverEventHeader& event, ObserverEventRecord& record) noexcept
{
    resetUsedPart(record, event.kind);
    record.abiVersion = event.abiVersion;
    record.kind = event.kind;
    record.ordinal = event.ordinal;
    record.displayIndex = event.displayIndex;
    record.pts = event.pts;
    record.dts = event.dts;
    record.width = event.width;
    record.height = event.height;
    record.pictureType = event.pictureType;
    record.headerReserved = event.headerReserved;

    const EventKindLayout& layout = layoutOfKind(event.kind);
    if (event.size < layout.minimumSize) {
        return false;
    }
    layout.copy(event, record);
    return true;
}

void fixUpObserverEvent(ObserverEventRecord& record) noexcept
{
    ObserverEventPayload& payload = record.payload;
    switch (record.kind) {
    case VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER:
        applyPresenceRules(payload.slice.presentMaskA, kSliceMaskARules, payload);
        applyPresenceRules(payload.slice.presentMaskB, kSliceMaskBRules, payload);
        break;
    case VEXILO_OBSERVER_EVENT_CU:
        applyPresenceRules(payload.cu.presentMask, kCuRules, payload);
        break;
    case VEXILO_OBSERVER_EVENT_PU:
        applyPresenceRules(payload.pu.presentMaskB, kPuMaskBRules, payload);
        break;
    case VEXILO_OBSERVER_EVENT_TU:
        applyPresenceRules(payload.tu.presentMask, kTuRules, payload);
        break;
    default:
        break;
    }
}

std::uint64_t tuIdentityOf(const ObserverEventRecord& record) noexcept
{
    return record.kind == VEXILO_OBSERVER_EVENT_TU ? record.payload.tu.tuIdentity : 0;
}

std::uint64_t cuIdentityOf(const ObserverEventRecord& record) noexcept
{
    switch (record.kind) {
    case VEXILO_OBSERVER_EVENT_CU:
        return record.payload.cu.cuIdentity;
    case VEXILO_OBSERVER_EVENT_PU:
        return record.payload.pu.cuIdentity;
    case VEXILO_OBSERVER_EVENT_TU:
        return record.payload.tu.cuIdentity;
    default:
        return 0;
    }
}

}  // namespace vexilo::analyzer
