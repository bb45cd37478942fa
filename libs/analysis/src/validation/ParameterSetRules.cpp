#include "validation/CollectionRules.h"

#include <algorithm>
#include <bitset>
#include <string>
#include <unordered_set>

namespace vexilo::analysis::validation {
namespace {

using Kind = ValidationIssueKind;
using Ps = ParameterSetInfo;

// profile_tier_level(): one general entry and at most six sub-layer entries.
constexpr std::size_t kMaxProfileTierLevels = 7;
constexpr std::uint8_t kMaxPtlSubLayerId = 5;
constexpr std::size_t kMaxSyntaxElements = 512;
constexpr std::size_t kMaxVpsSubLayerOrdering = 7;
constexpr std::uint8_t kMaxVpsOrderingSubLayerId = 6;
constexpr std::size_t kMaxVpsLayerSets = 1023;
constexpr std::uint8_t kLayerMaskBits = 64;

bool isKind(const Ps& set, ParameterSetKind kind)
{
    return set.kind == kind;
}

bool hasParameterSetIdOutOfRange(const ValidationContext&, const Ps& set)
{
    const std::uint16_t largest = isKind(set, ParameterSetKind::Pps) ? 63 : 15;
    return set.parameterSetId && *set.parameterSetId > largest;
}

bool hasInvalidReferencedId(const ValidationContext&, const Ps& set)
{
    // A VPS references nothing; SPS and PPS name a VPS or SPS id.
    return set.referencedParameterSetId &&
           (isKind(set, ParameterSetKind::Vps) || *set.referencedParameterSetId > 15);
}

// --- profile_tier_level entries ---------------------------------------------------------------

bool hasTooManyProfileTierLevels(const ValidationContext&, const Ps& set)
{
    return set.profileTierLevels.size() > kMaxProfileTierLevels;
}

bool isPtlSubLayerIdBeyondMax(std::uint8_t subLayerId, const std::optional<std::uint8_t>& maxSubLayers)
{
    return subLayerId > kMaxPtlSubLayerId || (maxSubLayers && subLayerId + 1 >= *maxSubLayers);
}

void checkProfileTierLevels(ValidationContext& context, const Ps& set)
{
    std::bitset<256> seenSubLayers;
    for (const ProfileTierLevelInfo& entry : set.profileTierLevels) {
        if (entry.subLayerId) {
            const std::uint8_t subLayerId = *entry.subLayerId;
            if (isPtlSubLayerIdBeyondMax(subLayerId, set.maxSubLayers)) {
                context.report(Kind::InvalidRange, set.id, "parameterSets.profileTierLevels.subLayerId",
                               "PTL sub-layer ID exceeds sps/vps_max_sub_layers_minus1");
            } else if (seenSubLayers.test(subLayerId)) {
                context.report(Kind::InvalidValue, set.id, "parameterSets.profileTierLevels.subLayerId",
                               "PTL sub-layer IDs must be unique");
            } else {
                seenSubLayers.set(subLayerId);
            }
        }
        if (entry.profileSpace && *entry.profileSpace > 3) {
            context.report(Kind::InvalidRange, set.id, "parameterSets.profileTierLevels.profileSpace",
                           "PTL profile_space must be in [0, 3]");
        }
        if (entry.profileIdc && *entry.profileIdc > 31) {
            context.report(Kind::InvalidRange, set.id, "parameterSets.profileTierLevels.profileIdc",
                           "PTL profile_idc must be in [0, 31]");
        }
    }
}

bool lacksSingleGeneralEntry(const ValidationContext&, const Ps& set)
{
    const auto generalEntries = std::count_if(set.profileTierLevels.begin(), set.profileTierLevels.end(),
                                              [](const ProfileTierLevelInfo& entry) { return !entry.subLayerId; });
    return !set.profileTierLevels.empty() && generalEntries != 1;
}

// --- syntax elements ----------------------------------------------------------------------------

bool hasTooManySyntaxElements(const ValidationContext&, const Ps& set)
{
    return set.syntaxElements.size() > kMaxSyntaxElements;
}

void checkParameterSetSyntaxElements(ValidationContext& context, const Ps& set)
{
    static constexpr SyntaxElementPaths kPaths{"parameterSets.syntaxElements.name",
                                               "parameterSets.syntaxElements.displayValue",
                                               "parameter-set syntax element names must be unique"};
    checkSyntaxElements(context, set.id, set.syntaxElements, kPaths);
}

// --- VPS detail ---------------------------------------------------------------------------------

bool hasVpsDetailOutsideVps(const ValidationContext&, const Ps& set)
{
    const bool hasDetail =
        anyPresent<&Ps::vpsBaseLayerInternal, &Ps::vpsBaseLayerAvailable, &Ps::vpsMaxLayers,
                   &Ps::vpsSubLayerOrderingInfoPresent, &Ps::vpsMaxLayerId, &Ps::vpsNumLayerSets,
                   &Ps::vpsTimingInfoPresent, &Ps::vpsNumUnitsInTick, &Ps::vpsTimeScale,
                   &Ps::vpsPocProportionalToTiming, &Ps::vpsNumTicksPocDiffOne, &Ps::vpsNumHrdParameters,
                   &Ps::vpsExtension>(set) ||
        !set.vpsSubLayerOrdering.empty() || !set.vpsLayerSets.empty();
    return hasDetail && !isKind(set, ParameterSetKind::Vps);
}

void checkVpsSubLayerOrdering(ValidationContext& context, const Ps& set)
{
    for (const VpsSubLayerOrderingInfo& entry : set.vpsSubLayerOrdering) {
        if (entry.subLayerId > kMaxVpsOrderingSubLayerId ||
            (set.maxSubLayers && entry.subLayerId >= *set.maxSubLayers)) {
            context.report(Kind::InvalidRange, set.id, "parameterSets.vpsSubLayerOrdering.subLayerId",
                           "VPS ordering sub-layer ID exceeds max sub-layers");
        }
    }
}

bool hasTooManyVpsSubLayerOrderings(const ValidationContext&, const Ps& set)
{
    return set.vpsSubLayerOrdering.size() > kMaxVpsSubLayerOrdering;
}

bool hasTooManyVpsLayerSets(const ValidationContext&, const Ps& set)
{
    return set.vpsLayerSets.size() > kMaxVpsLayerSets;
}

bool hasLayerAboveMaxLayerId(std::uint64_t includedLayerMask, const std::optional<std::uint8_t>& maxLayerId)
{
    if (!maxLayerId || *maxLayerId >= kLayerMaskBits - 1) {
        return false;
    }
    return (includedLayerMask >> (*maxLayerId + 1)) != 0;
}

void checkVpsLayerSets(ValidationContext& context, const Ps& set)
{
    std::unordered_set<std::uint16_t> seenIds;
    seenIds.reserve(set.vpsLayerSets.size());
    for (const VpsLayerSetInfo& entry : set.vpsLayerSets) {
        // Layer set 0 is implicit; explicit ones count up to vps_num_layer_sets_minus1.
        if (entry.layerSetId == 0 || (set.vpsNumLayerSets && entry.layerSetId >= *set.vpsNumLayerSets)) {
            context.report(Kind::InvalidRange, set.id, "parameterSets.vpsLayerSets.layerSetId",
                           "explicit VPS layer-set ID must be in [1, vps_num_layer_sets_minus1]");
        }
        if (!seenIds.insert(entry.layerSetId).second) {
            context.report(Kind::InvalidValue, set.id, "parameterSets.vpsLayerSets.layerSetId",
                           "VPS layer-set IDs must be unique");
        }
        if (hasLayerAboveMaxLayerId(entry.includedLayerMask, set.vpsMaxLayerId)) {
            context.report(Kind::InvalidRange, set.id, "parameterSets.vpsLayerSets.includedLayerMask",
                           "VPS layer-set mask contains a layer above vps_max_layer_id");
        }
    }
}

bool hasTimingWithoutTimingFlag(const ValidationContext&, const Ps& set)
{
    return anyPresent<&Ps::vpsNumUnitsInTick, &Ps::vpsTimeScale, &Ps::vpsPocProportionalToTiming,
                      &Ps::vpsNumTicksPocDiffOne, &Ps::vpsNumHrdParameters>(set) &&
           !set.vpsTimingInfoPresent.value_or(false);
}

bool hasTicksWithoutProportionalTiming(const ValidationContext&, const Ps& set)
{
    return set.vpsNumTicksPocDiffOne && !set.vpsPocProportionalToTiming.value_or(false);
}

constexpr std::tuple kParameterSetRules{
    parentRow<&Ps::parentNalUnitId>("parameterSets.parentNalUnitId", ParentCollection::NalUnits),
    enumRow<&Ps::kind>("parameterSets.kind", kHighestParameterSetKind),
    enumRow<&Ps::profile>("parameterSets.profile", kHighestStreamProfile),
    ConditionRow<Ps>{"parameterSets.parameterSetId", &hasParameterSetIdOutOfRange, Kind::InvalidRange,
                     "parameter-set ID exceeds the HEVC range for its kind"},
    codedDimensionRow<&Ps::width>("parameterSets.width"),
    codedDimensionRow<&Ps::height>("parameterSets.height"),
    bitDepthRow<&Ps::bitDepth>("parameterSets.bitDepth"),
    rangeRow<&Ps::log2CtuSize>("parameterSets.log2CtuSize", 4, 6, "log2 CTU size must be in [4, 6]"),
    optionalStringRow<&Ps::contentHash>("parameterSets.contentHash"),
    ConditionRow<Ps>{"parameterSets.referencedParameterSetId", &hasInvalidReferencedId, Kind::InvalidRange,
                     "referenced parameter-set ID is not valid for this HEVC kind"},
    rangeRow<&Ps::profileIdc>("parameterSets.profileIdc", 0, 31, "HEVC profile_idc must be in [0, 31]"),
    rangeRow<&Ps::chromaFormatIdc>("parameterSets.chromaFormatIdc", 0, 3, "chroma_format_idc must be in [0, 3]"),
    bitDepthRow<&Ps::chromaBitDepth>("parameterSets.chromaBitDepth"),
    rangeRow<&Ps::maxSubLayers>("parameterSets.maxSubLayers", 1, 7, "HEVC max sub-layers must be in [1, 7]"),
    rangeRow<&Ps::numTileColumns>("parameterSets.numTileColumns", 1, 65535,
                                  "known tile-column count must be non-zero"),
    rangeRow<&Ps::numTileRows>("parameterSets.numTileRows", 1, 65535, "known tile-row count must be non-zero"),
    ConditionRow<Ps>{"parameterSets.profileTierLevels", &hasTooManyProfileTierLevels, Kind::ResourceLimit,
                     "profile_tier_level contains more than one general and six sub-layer entries"},
    ListRow<Ps>{&checkProfileTierLevels},
    ConditionRow<Ps>{"parameterSets.profileTierLevels", &lacksSingleGeneralEntry, Kind::InvalidValue,
                     "profile_tier_level must contain exactly one general entry"},
    ConditionRow<Ps>{"parameterSets.syntaxElements", &hasTooManySyntaxElements, Kind::ResourceLimit,
                     "parameter set contains more than 512 syntax elements"},
    ListRow<Ps>{&checkParameterSetSyntaxElements},
    ConditionRow<Ps>{"parameterSets.vpsDetail", &hasVpsDetailOutsideVps, Kind::InvalidRange,
                     "VPS detail fields are only valid for a VPS"},
    rangeRow<&Ps::vpsMaxLayers>("parameterSets.vpsMaxLayers", 1, 64, "HEVC VPS layer count must be in [1, 64]"),
    rangeRow<&Ps::vpsMaxLayerId>("parameterSets.vpsMaxLayerId", 0, 63, "HEVC VPS max layer ID must be in [0, 63]"),
    rangeRow<&Ps::vpsNumLayerSets>("parameterSets.vpsNumLayerSets", 1, 1024,
                                   "HEVC VPS layer-set count must be in [1, 1024]"),
    ListRow<Ps>{&checkVpsSubLayerOrdering},
    ConditionRow<Ps>{"parameterSets.vpsSubLayerOrdering", &hasTooManyVpsSubLayerOrderings, Kind::ResourceLimit,
                     "VPS sub-layer ordering contains more than 7 entries"},
    ConditionRow<Ps>{"parameterSets.vpsLayerSets", &hasTooManyVpsLayerSets, Kind::ResourceLimit,
                     "VPS contains more than 1023 explicit layer sets"},
    ListRow<Ps>{&checkVpsLayerSets},
    ConditionRow<Ps>{"parameterSets.vpsTimingInfo", &hasTimingWithoutTimingFlag, Kind::InvalidRange,
                     "VPS timing child fields require vps_timing_info_present_flag"},
    ConditionRow<Ps>{"parameterSets.vpsNumTicksPocDiffOne", &hasTicksWithoutProportionalTiming, Kind::InvalidRange,
                     "vps_num_ticks_poc_diff_one_minus1 requires proportional timing"},
};

}  // namespace

void validateParameterSets(ValidationContext& context)
{
    validateElements<kParameterSetRules>(context, context.document().parameterSets);
}

}  // namespace vexilo::analysis::validation
