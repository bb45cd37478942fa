#include "builder/BuilderCodes.h"
#include "builder/BuilderValues.h"
#include "builder/DocumentBuilder.h"
#include "builder/ParameterSetSyntax.h"

#include <algorithm>

namespace vexilo::analyzer {
namespace {

namespace codes = builder_codes;
using analysis::ParameterSetKind;
using Event = VexiloObserverParameterSetEvent;

constexpr std::uint32_t kVpsNalUnitType = 32;
constexpr std::uint16_t kMaxPpsId = 63;
constexpr std::uint16_t kMaxVpsSpsId = 15;
constexpr std::uint8_t kMinLog2CtuSize = 4;
constexpr std::uint8_t kMaxLog2CtuSize = 6;
constexpr std::uint8_t kMaxProfileIdc = 31;
constexpr std::uint8_t kMaxProfileSpace = 3;
constexpr std::uint8_t kMaxChromaFormatIdc = 3;
constexpr std::uint8_t kMaxSubLayers = 7;
constexpr std::uint8_t kMaxVpsLayers = 64;
constexpr std::uint8_t kMaxLayerId = 63;
constexpr std::uint16_t kMaxVpsLayerSets = 1024;
constexpr std::uint16_t kMaxTileCount = 65535;
constexpr std::size_t kMaxExplicitLayerSets = 1023;

bool hasFlag(const Event& event, std::uint32_t bit)
{
    return (event.flags & bit) != 0;
}

std::optional<std::uint8_t> byteInRange(std::uint32_t value, std::uint8_t low, std::uint8_t high)
{
    return optionalInRange<std::uint8_t>(value, low, high);
}

analysis::ProfileTierLevelInfo generalProfileTierLevel(const Event& event)
{
    analysis::ProfileTierLevelInfo entry;
    entry.profilePresentFlag = true;
    entry.levelPresentFlag = true;
    entry.profileSpace = byteInRange(event.generalProfileSpace, 0, kMaxProfileSpace);
    entry.tierFlag = event.generalTierFlag != 0;
    entry.profileIdc = byteInRange(event.profileIdc, 0, kMaxProfileIdc);
    entry.profileCompatibilityFlags = event.generalProfileCompatibilityFlags;
    analysis::setProfileConstraintFlags(entry, static_cast<std::uint16_t>(event.generalConstraintFlags & 0xFFFFu),
                                        static_cast<std::uint16_t>(event.generalConstraintPresence & 0xFFFFu));
    entry.levelIdc = byteInRange(event.levelIdc, 0, 255);
    return entry;
}

analysis::ProfileTierLevelInfo subLayerProfileTierLevel(const Event& event, std::size_t i)
{
    analysis::ProfileTierLevelInfo entry;
    entry.subLayerId = static_cast<std::uint8_t>(i);
    entry.profilePresentFlag = ((event.subLayerProfilePresentMask >> i) & 1u) != 0;
    entry.levelPresentFlag = ((event.subLayerLevelPresentMask >> i) & 1u) != 0;
    if (entry.profilePresentFlag) {
        entry.profileSpace = byteInRange(event.subLayerProfileSpace[i], 0, kMaxProfileSpace);
        entry.tierFlag = event.subLayerTierFlag[i] != 0;
        entry.profileIdc = byteInRange(event.subLayerProfileIdc[i], 0, kMaxProfileIdc);
        entry.profileCompatibilityFlags = event.subLayerProfileCompatibilityFlags[i];
        analysis::setProfileConstraintFlags(
            entry, static_cast<std::uint16_t>(event.subLayerConstraintFlags[i] & 0xFFFFu),
            static_cast<std::uint16_t>(event.subLayerConstraintPresence[i] & 0xFFFFu));
    }
    if (entry.levelPresentFlag) {
        entry.levelIdc = byteInRange(event.subLayerLevelIdc[i], 0, 255);
    }
    return entry;
}

void fillProfileTierLevels(const Event& event, analysis::ParameterSetInfo& record)
{
    record.profileTierLevels.push_back(generalProfileTierLevel(event));
    const std::size_t subLayers = record.maxSubLayers.value_or(0);
    for (std::size_t i = 0; i + 1 < subLayers; ++i) {
        record.profileTierLevels.push_back(subLayerProfileTierLevel(event, i));
    }
}

void fillVpsSubLayerOrdering(const Event& event, analysis::ParameterSetInfo& record)
{
    const std::size_t subLayers = record.maxSubLayers.value_or(0);
    if (subLayers == 0) {
        return;
    }
    const bool orderingPresent = event.vpsSubLayerOrderingInfoPresent != 0;
    for (std::size_t i = orderingPresent ? 0 : subLayers - 1; i < subLayers; ++i) {
        const std::uint32_t buffering = event.vpsMaxDecPicBufferingPlus1[i];
        if (buffering == 0) {
            continue;
        }
        record.vpsSubLayerOrdering.push_back(analysis::VpsSubLayerOrderingInfo{
            static_cast<std::uint8_t>(i), buffering - 1, event.vpsMaxNumReorderPics[i],
            event.vpsMaxLatencyIncreasePlus1[i]});
    }
}

void fillVpsDetail(const Event& event, analysis::ParameterSetInfo& record)
{
    record.vpsBaseLayerInternal = hasFlag(event, VEXILO_OBSERVER_PS_VPS_BASE_LAYER_INTERNAL);
    record.vpsBaseLayerAvailable = hasFlag(event, VEXILO_OBSERVER_PS_VPS_BASE_LAYER_AVAILABLE);
    record.vpsMaxLayers = byteInRange(event.vpsLayerCount, 1, kMaxVpsLayers);
    record.vpsSubLayerOrderingInfoPresent = event.vpsSubLayerOrderingInfoPresent != 0;
    fillVpsSubLayerOrdering(event, record);
    record.vpsMaxLayerId = byteInRange(event.vpsMaxLayerId, 0, kMaxLayerId);
    record.vpsNumLayerSets = optionalInRange<std::uint16_t>(event.vpsNumLayerSets, std::uint16_t{1}, kMaxVpsLayerSets);
    const bool timing = event.vpsTimingInfoPresent != 0;
    record.vpsTimingInfoPresent = timing;
    if (timing) {
        record.vpsNumUnitsInTick = event.vpsNumUnitsInTick;
        record.vpsTimeScale = event.vpsTimeScale;
        const bool proportional = event.vpsPocProportionalToTiming != 0;
        record.vpsPocProportionalToTiming = proportional;
        if (proportional) {
            record.vpsNumTicksPocDiffOne = event.vpsNumTicksPocDiffOneMinus1;
        }
        // vps_num_hrd_parameters lives inside the timing information.
        record.vpsNumHrdParameters = event.vpsNumHrdParameters;
    }
    record.vpsExtension = event.vpsExtension != 0;
}

std::optional<std::uint16_t> parameterSetIdOf(ParameterSetKind kind, std::uint32_t id)
{
    const std::uint16_t highest = kind == ParameterSetKind::Pps ? kMaxPpsId : kMaxVpsSpsId;
    return optionalInRange<std::uint16_t>(id, std::uint16_t{0}, highest);
}

std::optional<std::uint16_t> referencedIdOf(ParameterSetKind kind, std::uint32_t id)
{
    if (kind == ParameterSetKind::Vps || id == VEXILO_OBSERVER_NO_PARAMETER_SET_ID) {
        return std::nullopt;
    }
    return optionalInRange<std::uint16_t>(id, std::uint16_t{0}, kMaxVpsSpsId);
}

}  // namespace

bool DocumentBuilder::handleParameterSet(const ObserverEventRecord& record)
{
    const Event& event = record.payload.parameterSet;
    const std::uint32_t expectedNalType = kVpsNalUnitType + (record.kind - VEXILO_OBSERVER_EVENT_VPS);
    if (!currentNal_ || currentNal_->nalUnitType != expectedNalType) {
        ensureSyntheticNal(composeKey32(event.parameterSetKind, event.parameterSetId), expectedNalType,
                           event.contentHash);
        issues_.appendAnalyzerIssue(codes::kExtradataParameterSet, codes::kExtradataParameterSetMessage,
                                    "parameterSetKind=" + std::to_string(event.parameterSetKind) +
                                        "; parameterSetId=" + std::to_string(event.parameterSetId));
    }
    noteParameterSetGrid(event);
    const std::uint64_t key = (std::uint64_t{event.parameterSetKind} << 32) | event.parameterSetId;
    const analysis::StableId id =
        deriveStableId(currentNal_->id, ObjectKind::ParameterSet, key, nextChildOfCurrentNal());
    if (!claimIdentity(id, "parameterSets")) {
        return true;
    }
    analysis::ParameterSetInfo ps;
    ps.id = id;
    ps.parentNalUnitId = currentNal_->id;
    ps.kind = parameterSetKindOf(event.parameterSetKind);
    ps.parameterSetId = parameterSetIdOf(ps.kind, event.parameterSetId);
    ps.profile = profileOf(event.profileIdc, event.bitDepthLuma);
    ps.width = optionalDimension(event.width);
    ps.height = optionalDimension(event.height);
    ps.bitDepth = optionalBitDepth(event.bitDepthLuma);
    ps.log2CtuSize = byteInRange(event.log2CtuSize, kMinLog2CtuSize, kMaxLog2CtuSize);
    ps.profileIdc = byteInRange(event.profileIdc, 1, kMaxProfileIdc);
    ps.levelIdc = byteInRange(event.levelIdc, 1, 255);
    ps.chromaBitDepth = optionalBitDepth(event.bitDepthChroma);
    ps.contentHash = fnv1a64Fingerprint(event.contentHash);
    ps.referencedParameterSetId = referencedIdOf(ps.kind, event.referencedParameterSetId);
    ps.maxSubLayers = byteInRange(event.maxSubLayers, 1, kMaxSubLayers);

    const bool isVps = ps.kind == ParameterSetKind::Vps;
    const bool isSps = ps.kind == ParameterSetKind::Sps;
    const bool isPps = ps.kind == ParameterSetKind::Pps;
    if (isSps) {
        ps.chromaFormatIdc = byteInRange(event.chromaFormatIdc, 0, kMaxChromaFormatIdc);
        ps.numShortTermRefPicSets = event.numShortTermRefPicSets;
        ps.sampleAdaptiveOffsetEnabled = hasFlag(event, VEXILO_OBSERVER_PS_SAMPLE_ADAPTIVE_OFFSET_ENABLED);
        ps.temporalMvpEnabled = hasFlag(event, VEXILO_OBSERVER_PS_TEMPORAL_MVP_ENABLED);
    }
    if (isVps || isSps) {
        ps.temporalIdNesting = hasFlag(event, VEXILO_OBSERVER_PS_TEMPORAL_ID_NESTING);
    }
    if (isPps) {
        ps.tilesEnabled = hasFlag(event, VEXILO_OBSERVER_PS_TILES_ENABLED);
        ps.entropyCodingSyncEnabled = hasFlag(event, VEXILO_OBSERVER_PS_ENTROPY_CODING_SYNC_ENABLED);
        ps.numTileColumns = optionalInRange<std::uint16_t>(event.numTileColumns, std::uint16_t{1}, kMaxTileCount);
        ps.numTileRows = optionalInRange<std::uint16_t>(event.numTileRows, std::uint16_t{1}, kMaxTileCount);
        ps.dependentSliceSegmentsEnabled = hasFlag(event, VEXILO_OBSERVER_PS_DEPENDENT_SLICE_SEGMENTS_ENABLED);
        ps.outputFlagPresent = hasFlag(event, VEXILO_OBSERVER_PS_OUTPUT_FLAG_PRESENT);
        appendPpsSyntaxElements(event, ps.syntaxElements);
    }
    if (isVps) {
        fillVpsDetail(event, ps);
    }
    if (isVps || isSps) {
        fillProfileTierLevels(event, ps);
    }
    if (isSps) {
        appendSpsSyntaxElements(event, ps.syntaxElements);
    }
    document_.parameterSets.push_back(std::move(ps));
    return true;
}

bool DocumentBuilder::handleVpsLayerSet(const ObserverEventRecord& record)
{
    const VexiloObserverVpsLayerSetEvent& event = record.payload.vpsLayerSet;
    if (!currentNal_ || event.layerSetIndex < VEXILO_OBSERVER_LAYER_SET_INDEX_MIN ||
        event.layerSetIndex > VEXILO_OBSERVER_LAYER_SET_INDEX_MAX || event.maxLayerId > VEXILO_OBSERVER_LAYER_ID_MAX) {
        return fail(codes::kVpsLayerSetIdentity, codes::kVpsLayerSetIdentityMessage);
    }
    const auto owner = std::find_if(document_.parameterSets.rbegin(), document_.parameterSets.rend(),
                                    [&](const analysis::ParameterSetInfo& ps) {
                                        return ps.kind == ParameterSetKind::Vps &&
                                               ps.parentNalUnitId == currentNal_->id && ps.parameterSetId &&
                                               *ps.parameterSetId == event.vpsId;
                                    });
    if (owner == document_.parameterSets.rend()) {
        return fail(codes::kVpsLayerSetParent, codes::kVpsLayerSetParentMessage);
    }
    const auto layerSetId = static_cast<std::uint16_t>(event.layerSetIndex);
    const bool repeated = std::any_of(owner->vpsLayerSets.begin(), owner->vpsLayerSets.end(),
                                      [&](const analysis::VpsLayerSetInfo& set) { return set.layerSetId == layerSetId; });
    const bool beyondCount = owner->vpsNumLayerSets && layerSetId >= *owner->vpsNumLayerSets;
    const bool beyondMaxLayer = owner->vpsMaxLayerId && *owner->vpsMaxLayerId < kMaxLayerId &&
                                (event.includedLayerMask >> (*owner->vpsMaxLayerId + 1)) != 0;
    if (repeated || beyondCount || beyondMaxLayer || owner->vpsLayerSets.size() >= kMaxExplicitLayerSets) {
        issues_.appendAnalyzerIssue(codes::kVpsLayerSetDropped, codes::kVpsLayerSetDroppedMessage,
                                    "layerSetId=" + std::to_string(layerSetId));
        return true;
    }
    owner->vpsLayerSets.push_back(analysis::VpsLayerSetInfo{layerSetId, event.includedLayerMask});
    return true;
}

}  // namespace vexilo::analyzer
