#include "builder/BuilderCodes.h"
#include "builder/BuilderValues.h"
#include "builder/DocumentBuilder.h"

namespace vexilo::analyzer {
namespace {

namespace codes = builder_codes;

constexpr std::uint8_t kMaxRpsEntryIndex = 31;
constexpr std::uint8_t kMaxDpbSlot = 31;
constexpr std::uint8_t kMaxReferenceListIndex = 15;
constexpr std::uint16_t kMaxPpsId = 63;
constexpr std::int16_t kMinSliceQp = -48;
constexpr std::int16_t kMaxSliceQp = 51;

constexpr bool hasBit(std::uint64_t mask, std::uint64_t bit) noexcept
{
    return (mask & bit) != 0;
}

std::uint8_t lowByte(std::uint32_t value) noexcept
{
    return static_cast<std::uint8_t>(value & 0xFFu);
}

}  // namespace

bool DocumentBuilder::handleSlice(const ObserverEventRecord& record)
{
    const auto nal = nalByIdentity_.find(record.nalIdentity);
    if (record.sliceIdentity == 0 || record.nalIdentity == 0 || nal == nalByIdentity_.end()) {
        return fail(codes::kSliceIdentity, codes::kSliceIdentityMessage);
    }
    const analysis::StableId id = deriveStableId(nal->second, ObjectKind::Slice, record.sliceIdentity);
    if (!claimIdentity(id, "slices")) {
        return true;
    }
    const VexiloObserverSliceEvent& event = record.payload.slice;
    const std::uint64_t a = event.presentMaskA;
    const std::uint64_t b = event.presentMaskB;
    analysis::SliceInfo slice;
    slice.id = id;
    slice.parentNalUnitId = nal->second;
    slice.parseStatus = parseStatusOf(event.parseStatus);
    slice.parserErrorCode = optionalNegative(event.parserErrorCode);
    if (hasBit(b, VEXILO_OBSERVER_SLICE_B_PICTURE_IDENTITY)) {
        slice.pictureId = record.pictureIdentity;
        slice.decodeIndex = static_cast<std::int64_t>(record.pictureIdentity - 1);
    }
    if (hasBit(b, VEXILO_OBSERVER_SLICE_B_SLICE_TYPE)) slice.type = sliceTypeOf(event.sliceType);
    if (hasBit(b, VEXILO_OBSERVER_SLICE_B_FIRST_CTU_ADDRESS)) slice.firstCtuAddress = event.firstCtuAddress;
    if (hasBit(b, VEXILO_OBSERVER_SLICE_B_POC)) slice.poc = event.poc;
    if (hasBit(b, VEXILO_OBSERVER_SLICE_B_SLICE_QP))
        slice.sliceQp = optionalInRange<std::int16_t>(low16(event.sliceQp), kMinSliceQp, kMaxSliceQp);
    if (hasBit(b, VEXILO_OBSERVER_SLICE_B_TILE_ID)) slice.tileId = event.tileId;
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_FIRST_SLICE_SEGMENT_IN_PIC))
        slice.firstSliceSegmentInPic = event.firstSliceSegmentInPic != 0;
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_NO_OUTPUT_OF_PRIOR_PICS))
        slice.noOutputOfPriorPics = event.noOutputOfPriorPics != 0;
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_PPS_ID))
        slice.ppsId = optionalInRange<std::uint16_t>(event.ppsId & 0xFFFFu, std::uint16_t{0}, kMaxPpsId);
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_DEPENDENT_SLICE_SEGMENT))
        slice.dependentSliceSegment = event.dependentSliceSegment != 0;
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_SLICE_SEGMENT_ADDRESS)) slice.sliceSegmentAddress = event.sliceSegmentAddress;
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_SIGNALED_SLICE_TYPE)) slice.signaledType = sliceTypeOf(event.signaledSliceType);
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_SLICE_PIC_OUTPUT)) slice.slicePicOutput = event.slicePicOutput != 0;
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_SLICE_PIC_ORDER_CNT_LSB)) slice.slicePicOrderCntLsb = event.slicePicOrderCntLsb;
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_SHORT_TERM_REF_PIC_SET_SPS))
        slice.shortTermRefPicSetSps = event.shortTermRefPicSetSps != 0;
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_SHORT_TERM_REF_PIC_SET_IDX) && event.shortTermRefPicSetIdx >= 0)
        slice.shortTermRefPicSetIdx = static_cast<std::uint32_t>(event.shortTermRefPicSetIdx);
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_NUM_REF_IDX_ACTIVE_OVERRIDE))
        slice.numRefIdxActiveOverride = event.numRefIdxActiveOverride != 0;
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_NUM_REF_IDX_L0_ACTIVE))
        slice.numRefIdxL0Active = optionalInRange<std::uint8_t>(lowByte(event.numRefIdxL0Active), std::uint8_t{0},
                                                                kMaxReferenceListIndex);
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_NUM_REF_IDX_L1_ACTIVE))
        slice.numRefIdxL1Active = optionalInRange<std::uint8_t>(lowByte(event.numRefIdxL1Active), std::uint8_t{0},
                                                                kMaxReferenceListIndex);
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_REF_PIC_LIST_MODIFICATION_L0))
        slice.refPicListModificationL0 = event.refPicListModificationL0 != 0;
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_REF_PIC_LIST_MODIFICATION_L1))
        slice.refPicListModificationL1 = event.refPicListModificationL1 != 0;
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_SLICE_QP_DELTA)) slice.sliceQpDelta = low16(event.sliceQpDelta);
    if (hasBit(a, VEXILO_OBSERVER_SLICE_A_NUM_ENTRY_POINT_OFFSETS)) slice.numEntryPointOffsets = event.numEntryPointOffsets;
    if (slice.pictureId) {
        notePictureGrid(*slice.pictureId, slice.ppsId);
    }
    slicesByIdentity_.emplace(record.sliceIdentity, SliceEntry{document_.slices.size(), id});
    document_.slices.push_back(std::move(slice));
    return true;
}

bool DocumentBuilder::handleShortTermRps(const ObserverEventRecord& record)
{
    const SliceEntry* slice = sliceOf(record.sliceIdentity);
    if (slice == nullptr) {
        return fail(codes::kRpsIdentity, codes::kShortTermRpsIdentityMessage);
    }
    const VexiloObserverShortTermRpsEvent& event = record.payload.shortTermRps;
    const analysis::StableId id = deriveStableId(slice->id, ObjectKind::ShortTermRpsEntry, event.entryIndex);
    if (!claimIdentity(id, "shortTermReferencePictures")) {
        return true;
    }
    analysis::ShortTermReferencePictureEntry entry;
    entry.id = id;
    entry.parentSliceId = slice->id;
    entry.entryIndex = optionalInRange<std::uint8_t>(event.entryIndex, std::uint8_t{0}, kMaxRpsEntryIndex);
    entry.deltaPoc = event.deltaPoc;
    entry.poc = event.poc;
    entry.used = event.used != 0;
    entry.negative = event.negative != 0;
    entry.deltaPocOrigin = valueOriginOf(event.deltaPocOrigin);
    entry.usedOrigin = valueOriginOf(event.usedOrigin);
    document_.shortTermReferencePictures.push_back(std::move(entry));
    return true;
}

bool DocumentBuilder::handleLongTermRps(const ObserverEventRecord& record)
{
    const SliceEntry* slice = sliceOf(record.sliceIdentity);
    if (slice == nullptr) {
        return fail(codes::kRpsIdentity, codes::kLongTermRpsIdentityMessage);
    }
    const VexiloObserverLongTermRpsEvent& event = record.payload.longTermRps;
    const analysis::StableId id = deriveStableId(slice->id, ObjectKind::LongTermRpsEntry, event.entryIndex);
    if (!claimIdentity(id, "longTermReferencePictures")) {
        return true;
    }
    analysis::LongTermReferencePictureEntry entry;
    entry.id = id;
    entry.parentSliceId = slice->id;
    entry.entryIndex = optionalInRange<std::uint8_t>(event.entryIndex, std::uint8_t{0}, kMaxRpsEntryIndex);
    entry.pocLsb = event.pocLsb;
    entry.poc = event.poc;
    entry.used = event.used != 0;
    entry.deltaPocMsbPresent = event.deltaPocMsbPresent != 0;
    if (event.deltaPocMsbPresent != 0) {
        entry.deltaPocMsbCycle = event.deltaPocMsbCycle;
    }
    entry.origin = valueOriginOf(event.origin);
    document_.longTermReferencePictures.push_back(std::move(entry));
    return true;
}

bool DocumentBuilder::handleReferenceList(const ObserverEventRecord& record)
{
    const SliceEntry* slice = sliceOf(record.sliceIdentity);
    if (slice == nullptr) {
        return fail(codes::kRplIdentity, codes::kRplIdentityMessage);
    }
    const VexiloObserverReferenceListEvent& event = record.payload.referenceList;
    const std::uint64_t key = (std::uint64_t{event.list} << 32) | event.listIndex;
    const analysis::StableId id = deriveStableId(slice->id, ObjectKind::ReferenceListEntry, key);
    if (!claimIdentity(id, "referencePictures")) {
        return true;
    }
    analysis::ReferencePictureEntry entry;
    entry.id = id;
    entry.parentSliceId = slice->id;
    entry.list = referenceListOf(event.list);
    entry.listIndex = optionalInRange<std::uint8_t>(event.listIndex, std::uint8_t{0}, kMaxReferenceListIndex);
    if (event.targetPictureId != 0) {
        entry.targetPictureId = event.targetPictureId;
    }
    entry.poc = event.poc;
    entry.longTerm = event.longTerm != 0;
    entry.status = referenceStatusOf(event.status);
    entry.origin = analysis::ValueOrigin::Derived;
    document_.referencePictures.push_back(std::move(entry));
    return true;
}

bool DocumentBuilder::handleDpbEntry(const ObserverEventRecord& record)
{
    const SliceEntry* slice = sliceOf(record.sliceIdentity);
    if (slice == nullptr) {
        return fail(codes::kDpbIdentity, codes::kDpbIdentityMessage);
    }
    const VexiloObserverDpbEntryEvent& event = record.payload.dpbEntry;
    const analysis::StableId id = deriveStableId(slice->id, ObjectKind::DpbSnapshotEntry, event.slot);
    if (!claimIdentity(id, "dpbSnapshotEntries")) {
        return true;
    }
    analysis::DpbSnapshotEntry entry;
    entry.id = id;
    entry.parentSliceId = slice->id;
    entry.slot = optionalInRange<std::uint8_t>(event.slot, std::uint8_t{0}, kMaxDpbSlot);
    if (event.pictureId != 0) {
        entry.pictureId = event.pictureId;
    }
    entry.poc = static_cast<std::int32_t>(event.poc);
    entry.output = hasBit(event.frameFlags, VEXILO_OBSERVER_DPB_OUTPUT);
    entry.shortTermReference = hasBit(event.frameFlags, VEXILO_OBSERVER_DPB_SHORT_TERM_REFERENCE);
    entry.longTermReference = hasBit(event.frameFlags, VEXILO_OBSERVER_DPB_LONG_TERM_REFERENCE);
    entry.frameFlag3 = hasBit(event.frameFlags, VEXILO_OBSERVER_DPB_FRAME_FLAG_3);
    entry.frameFlag4 = hasBit(event.frameFlags, VEXILO_OBSERVER_DPB_FRAME_FLAG_4);
    entry.status = referenceStatusOf(event.status);
    entry.origin = analysis::ValueOrigin::Derived;
    document_.dpbSnapshotEntries.push_back(std::move(entry));
    return true;
}

bool DocumentBuilder::handleReferenceState(const ObserverEventRecord& record)
{
    const SliceEntry* entry = sliceOf(record.sliceIdentity);
    if (entry == nullptr) {
        return fail(codes::kReferenceStateIdentity, codes::kReferenceStateIdentityMessage);
    }
    const VexiloObserverReferenceStateEvent& event = record.payload.referenceState;
    analysis::SliceInfo& slice = document_.slices[entry->position];
    slice.referenceStateStatus = parseStatusOf(event.status);
    slice.referenceStateErrorCode = optionalNegative(event.errorCode);
    slice.shortTermRpsCount = event.shortTermRpsCount;
    slice.longTermRpsCount = event.longTermRpsCount;
    slice.refPicListL0Count = event.refPicListL0Count;
    slice.refPicListL1Count = event.refPicListL1Count;
    slice.dpbEntryCount = event.dpbEntryCount;
    return true;
}

bool DocumentBuilder::handlePictureOutput(const ObserverEventRecord& record)
{
    if (record.pictureIdentity == 0 || record.displayIndex < 0) {
        return fail(codes::kPictureIdentity, codes::kPictureIdentityMessage);
    }
    analysis::PictureAnalysisSummary* picture = pictureOf(record.pictureIdentity);
    if (picture == nullptr) {
        return fail(codes::kPictureIdentity, codes::kPictureNotIndexedMessage);
    }
    const VexiloObserverPictureOutputEvent& event = record.payload.pictureOutput;
    picture->displayIndex = record.displayIndex;
    picture->decodeIndex = event.decodeIndex >= 0 ? std::optional<std::int64_t>(event.decodeIndex) : std::nullopt;
    picture->pts = optionalTimestamp(record.pts);
    picture->dts = optionalTimestamp(record.dts);
    picture->poc = event.poc;
    picture->pictureType = pictureTypeOf(record.pictureType);
    if (const auto width = optionalDimension(record.width)) picture->width = width;
    if (const auto height = optionalDimension(record.height)) picture->height = height;
    return true;
}

bool DocumentBuilder::handlePictureLifecycleUpdate(const ObserverEventRecord& record)
{
    const auto found = picturesByDisplayIndex_.find(record.displayIndex);
    if (found == picturesByDisplayIndex_.end()) {
        return fail(codes::kPictureOutputOrder, codes::kPictureOutputOrderMessage);
    }
    analysis::PictureAnalysisSummary& picture = document_.pictures[found->second];
    picture.pts = optionalTimestamp(record.pts);
    picture.dts = optionalTimestamp(record.dts);
    picture.pictureType = pictureTypeOf(record.pictureType);
    if (const auto width = optionalDimension(record.width)) picture.width = width;
    if (const auto height = optionalDimension(record.height)) picture.height = height;
    return true;
}

}  // namespace vexilo::analyzer
