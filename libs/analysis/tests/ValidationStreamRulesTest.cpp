#include "ValidationTestDocument.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace vexilo::analysis {
namespace {

using validation_test::ExpectedIssue;
using validation_test::MutationCase;
using validation_test::numbered;
namespace ids = validation_test::ids;
using Kind = ValidationIssueKind;

using validation_test::kEnumMessage;

ParameterSetInfo& vpsOf(StreamAnalysis& d) { return d.parameterSets[0]; }
ParameterSetInfo& spsOf(StreamAnalysis& d) { return d.parameterSets[1]; }
ParameterSetInfo& ppsOf(StreamAnalysis& d) { return d.parameterSets[2]; }

ProfileTierLevelInfo subLayerEntry(std::uint8_t subLayerId)
{
    ProfileTierLevelInfo entry;
    entry.subLayerId = subLayerId;
    return entry;
}

// --- nalUnits ---------------------------------------------------------------------------------

constexpr const char* kByteSpanMessage = "reliable NAL byte span must be non-empty and must not overflow uint64";

std::vector<MutationCase> nalUnitCases()
{
    const ExpectedIssue byteSpan{Kind::InvalidRange, ids::kVpsNal, "nalUnits.byteSize", kByteSpanMessage};
    const ExpectedIssue startCode{Kind::InvalidRange, ids::kVpsNal, "nalUnits.startCodeLength",
                                  "known Annex-B start-code length must be 3 or 4 bytes"};
    constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
    return {
        {"unreliable empty span passes",
         [](StreamAnalysis& d) {
             d.nalUnits[0].byteSpanReliable = false;
             d.nalUnits[0].byteSize = 0;
         },
         {}},
        {"reliable empty span", [](StreamAnalysis& d) { d.nalUnits[0].byteSize = 0; }, {byteSpan}},
        {"span overflowing uint64",
         [](StreamAnalysis& d) {
             d.nalUnits[0].byteOffset = kMax;
             d.nalUnits[0].byteSize = 1;
         },
         {byteSpan}},
        {"unreliable span overflowing uint64",
         [](StreamAnalysis& d) {
             d.nalUnits[0].byteSpanReliable = false;
             d.nalUnits[0].byteOffset = kMax;
             d.nalUnits[0].byteSize = 1;
         },
         {byteSpan}},
        {"span ending at uint64 max passes",
         [](StreamAnalysis& d) {
             d.nalUnits[0].byteOffset = kMax - 1;
             d.nalUnits[0].byteSize = 1;
         },
         {}},
        {"kind 8",
         [](StreamAnalysis& d) { d.nalUnits[0].kind = static_cast<NalUnitKind>(8); },
         {{Kind::InvalidRange, ids::kVpsNal, "nalUnits.kind", kEnumMessage}}},
        {"nal unit type 64",
         [](StreamAnalysis& d) { d.nalUnits[0].nalUnitType = 64; },
         {{Kind::InvalidRange, ids::kVpsNal, "nalUnits.nalUnitType", "HEVC nal_unit_type must be in [0, 63]"}}},
        {"layer id 64",
         [](StreamAnalysis& d) { d.nalUnits[0].layerId = 64; },
         {{Kind::InvalidRange, ids::kVpsNal, "nalUnits.layerId", "HEVC nuh_layer_id must be in [0, 63]"}}},
        {"layer id 63 passes", [](StreamAnalysis& d) { d.nalUnits[0].layerId = 63; }, {}},
        {"temporal id 7",
         [](StreamAnalysis& d) { d.nalUnits[0].temporalId = 7; },
         {{Kind::InvalidRange, ids::kVpsNal, "nalUnits.temporalId", "HEVC temporal ID must be in [0, 6]"}}},
        {"start code 3 passes", [](StreamAnalysis& d) { d.nalUnits[0].startCodeLength = 3; }, {}},
        {"start code absent passes", [](StreamAnalysis& d) { d.nalUnits[0].startCodeLength.reset(); }, {}},
        {"start code 0", [](StreamAnalysis& d) { d.nalUnits[0].startCodeLength = 0; }, {startCode}},
        {"start code 2", [](StreamAnalysis& d) { d.nalUnits[0].startCodeLength = 2; }, {startCode}},
        {"start code 5", [](StreamAnalysis& d) { d.nalUnits[0].startCodeLength = 5; }, {startCode}},
        {"content hash over 1 MiB",
         [](StreamAnalysis& d) { d.nalUnits[0].contentHash.assign(0x100001, 'h'); },
         {{Kind::ResourceLimit, ids::kVpsNal, "nalUnits.contentHash", ""}}},
        {"rows run in table order",
         [](StreamAnalysis& d) {
             d.nalUnits[1].contentHash.assign(0x100001, 'h');
             d.nalUnits[1].temporalId = 9;
             d.nalUnits[1].byteSize = 0;
             d.nalUnits[1].parentStreamAnalysisId = ids::kPicture;
         },
         {{Kind::WrongParentType, ids::kSpsNal, "nalUnits.parentStreamAnalysisId", ""},
          {Kind::InvalidRange, ids::kSpsNal, "nalUnits.byteSize", ""},
          {Kind::InvalidRange, ids::kSpsNal, "nalUnits.temporalId", ""},
          {Kind::ResourceLimit, ids::kSpsNal, "nalUnits.contentHash", ""}}},
    };
}

// --- parameterSets: scalar fields -------------------------------------------------------------

constexpr const char* kParameterSetIdMessage = "parameter-set ID exceeds the HEVC range for its kind";
constexpr const char* kReferencedIdMessage = "referenced parameter-set ID is not valid for this HEVC kind";

std::vector<MutationCase> parameterSetCases()
{
    const ExpectedIssue spsId{Kind::InvalidRange, ids::kSps, "parameterSets.parameterSetId", kParameterSetIdMessage};
    return {
        {"PPS id 63 passes", [](StreamAnalysis& d) { ppsOf(d).parameterSetId = 63; }, {}},
        {"PPS id 64",
         [](StreamAnalysis& d) { ppsOf(d).parameterSetId = 64; },
         {{Kind::InvalidRange, ids::kPps, "parameterSets.parameterSetId", kParameterSetIdMessage}}},
        {"SPS id 16", [](StreamAnalysis& d) { spsOf(d).parameterSetId = 16; }, {spsId}},
        {"kind 0 with id 16",
         [](StreamAnalysis& d) {
             spsOf(d).kind = ParameterSetKind::Undetermined;
             spsOf(d).parameterSetId = 16;
         },
         {spsId}},
        {"kind 4",
         [](StreamAnalysis& d) { ppsOf(d).kind = static_cast<ParameterSetKind>(4); },
         {{Kind::InvalidRange, ids::kPps, "parameterSets.kind", kEnumMessage}}},
        {"profile 3",
         [](StreamAnalysis& d) { spsOf(d).profile = static_cast<StreamProfile>(3); },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.profile", kEnumMessage}}},
        {"width 0",
         [](StreamAnalysis& d) { spsOf(d).width = 0; },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.width", ""}}},
        {"height 70000",
         [](StreamAnalysis& d) { spsOf(d).height = 70000; },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.height", ""}}},
        {"bit depth 17",
         [](StreamAnalysis& d) { spsOf(d).bitDepth = 17; },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.bitDepth", ""}}},
        {"log2 CTU size 3",
         [](StreamAnalysis& d) { spsOf(d).log2CtuSize = 3; },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.log2CtuSize", "log2 CTU size must be in [4, 6]"}}},
        {"log2 CTU size 7",
         [](StreamAnalysis& d) { spsOf(d).log2CtuSize = 7; },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.log2CtuSize", ""}}},
        {"VPS referencing id 0",
         [](StreamAnalysis& d) { vpsOf(d).referencedParameterSetId = 0; },
         {{Kind::InvalidRange, ids::kVps, "parameterSets.referencedParameterSetId", kReferencedIdMessage}}},
        {"SPS referencing 15 passes", [](StreamAnalysis& d) { spsOf(d).referencedParameterSetId = 15; }, {}},
        {"SPS referencing 16",
         [](StreamAnalysis& d) { spsOf(d).referencedParameterSetId = 16; },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.referencedParameterSetId", kReferencedIdMessage}}},
        {"profile idc 32",
         [](StreamAnalysis& d) { spsOf(d).profileIdc = 32; },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.profileIdc", "HEVC profile_idc must be in [0, 31]"}}},
        {"chroma format 4",
         [](StreamAnalysis& d) { spsOf(d).chromaFormatIdc = 4; },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.chromaFormatIdc", "chroma_format_idc must be in [0, 3]"}}},
        {"chroma bit depth 5",
         [](StreamAnalysis& d) { spsOf(d).chromaBitDepth = 5; },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.chromaBitDepth",
           "known bit depth must be in the range [8, 16]"}}},
        {"max sub-layers 0",
         [](StreamAnalysis& d) { spsOf(d).maxSubLayers = 0; },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.maxSubLayers", "HEVC max sub-layers must be in [1, 7]"}}},
        {"max sub-layers 8",
         [](StreamAnalysis& d) { spsOf(d).maxSubLayers = 8; },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.maxSubLayers", ""}}},
        {"tile columns 0",
         [](StreamAnalysis& d) { ppsOf(d).numTileColumns = 0; },
         {{Kind::InvalidRange, ids::kPps, "parameterSets.numTileColumns",
           "known tile-column count must be non-zero"}}},
        {"tile rows 0",
         [](StreamAnalysis& d) { ppsOf(d).numTileRows = 0; },
         {{Kind::InvalidRange, ids::kPps, "parameterSets.numTileRows", "known tile-row count must be non-zero"}}},
        {"syntax names compare byte for byte",
         [](StreamAnalysis& d) { spsOf(d).syntaxElements = {{"a", 1, ""}, {"A", 2, ""}}; },
         {}},
        {"repeated syntax name",
         [](StreamAnalysis& d) { spsOf(d).syntaxElements = {{"a", 1, ""}, {"b", 1, ""}, {"a", 2, ""}}; },
         {{Kind::InvalidValue, ids::kSps, "parameterSets.syntaxElements.name",
           "parameter-set syntax element names must be unique"}}},
        {"two empty syntax names",
         [](StreamAnalysis& d) { spsOf(d).syntaxElements = {{"", 1, ""}, {"", 2, ""}}; },
         {{Kind::InvalidValue, ids::kSps, "parameterSets.syntaxElements.name", "value must not be empty"},
          {Kind::InvalidValue, ids::kSps, "parameterSets.syntaxElements.name", "value must not be empty"},
          {Kind::InvalidValue, ids::kSps, "parameterSets.syntaxElements.name",
           "parameter-set syntax element names must be unique"}}},
        {"syntax display value over 1 MiB",
         [](StreamAnalysis& d) { spsOf(d).syntaxElements = {{"a", 1, std::string(0x100001, 'v')}}; },
         {{Kind::ResourceLimit, ids::kSps, "parameterSets.syntaxElements.displayValue", ""}}},
        {"513 syntax elements",
         [](StreamAnalysis& d) {
             for (int i = 0; i < 513; ++i) {
                 spsOf(d).syntaxElements.push_back({numbered("e", i), i, ""});
             }
         },
         {{Kind::ResourceLimit, ids::kSps, "parameterSets.syntaxElements",
           "parameter set contains more than 512 syntax elements"}}},
        {"512 syntax elements pass",
         [](StreamAnalysis& d) {
             for (int i = 0; i < 512; ++i) {
                 spsOf(d).syntaxElements.push_back({numbered("e", i), i, ""});
             }
         },
         {}},
    };
}

// --- parameterSets: profile_tier_level --------------------------------------------------------

constexpr const char* kPtlExceedsMessage = "PTL sub-layer ID exceeds sps/vps_max_sub_layers_minus1";
constexpr const char* kPtlUniqueMessage = "PTL sub-layer IDs must be unique";
constexpr const char* kPtlGeneralMessage = "profile_tier_level must contain exactly one general entry";

std::vector<MutationCase> profileTierLevelCases()
{
    const ExpectedIssue exceeds{Kind::InvalidRange, ids::kSps, "parameterSets.profileTierLevels.subLayerId",
                                kPtlExceedsMessage};
    const ExpectedIssue repeated{Kind::InvalidValue, ids::kSps, "parameterSets.profileTierLevels.subLayerId",
                                 kPtlUniqueMessage};
    const auto withPtl = [](std::optional<std::uint8_t> maxSubLayers, std::vector<std::uint8_t> subLayers) {
        return [=](StreamAnalysis& d) {
            spsOf(d).maxSubLayers = maxSubLayers;
            spsOf(d).profileTierLevels = {ProfileTierLevelInfo{}};
            for (const std::uint8_t id : subLayers) {
                spsOf(d).profileTierLevels.push_back(subLayerEntry(id));
            }
        };
    };
    return {
        {"empty list passes", [](StreamAnalysis& d) { vpsOf(d).profileTierLevels.clear(); }, {}},
        {"max 3 allows sub-layers 0 and 1", withPtl(3, {0, 1}), {}},
        {"max 3 refuses sub-layer 2", withPtl(3, {0, 1, 2}), {exceeds}},
        {"without max sub-layers 0 to 5 pass", withPtl(std::nullopt, {0, 1, 2, 3, 4, 5}), {}},
        {"without max sub-layer 6 exceeds", withPtl(std::nullopt, {6}), {exceeds}},
        {"repeated valid sub-layer", withPtl(3, {1, 1}), {repeated}},
        {"repeated out-of-range sub-layer is not a repetition", withPtl(3, {4, 4}), {exceeds, exceeds}},
        {"two general entries",
         [](StreamAnalysis& d) { spsOf(d).profileTierLevels = {ProfileTierLevelInfo{}, ProfileTierLevelInfo{}}; },
         {{Kind::InvalidValue, ids::kSps, "parameterSets.profileTierLevels", kPtlGeneralMessage}}},
        {"no general entry",
         [](StreamAnalysis& d) {
             spsOf(d).maxSubLayers = 2;
             spsOf(d).profileTierLevels = {subLayerEntry(0)};
         },
         {{Kind::InvalidValue, ids::kSps, "parameterSets.profileTierLevels", kPtlGeneralMessage}}},
        {"eight entries",
         withPtl(std::nullopt, {0, 1, 2, 3, 4, 5, 5}),
         {{Kind::ResourceLimit, ids::kSps, "parameterSets.profileTierLevels",
           "profile_tier_level contains more than one general and six sub-layer entries"},
          repeated}},
        {"entry rows in order per entry",
         [](StreamAnalysis& d) {
             ProfileTierLevelInfo general;
             general.profileSpace = 4;
             ProfileTierLevelInfo subLayer = subLayerEntry(9);
             subLayer.profileIdc = 32;
             spsOf(d).profileTierLevels = {general, subLayer};
         },
         {{Kind::InvalidRange, ids::kSps, "parameterSets.profileTierLevels.profileSpace",
           "PTL profile_space must be in [0, 3]"},
          exceeds,
          {Kind::InvalidRange, ids::kSps, "parameterSets.profileTierLevels.profileIdc",
           "PTL profile_idc must be in [0, 31]"}}},
    };
}

// --- parameterSets: VPS detail ------------------------------------------------------------------

constexpr const char* kVpsDetailMessage = "VPS detail fields are only valid for a VPS";
constexpr const char* kVpsTimingMessage = "VPS timing child fields require vps_timing_info_present_flag";
constexpr const char* kVpsTicksMessage = "vps_num_ticks_poc_diff_one_minus1 requires proportional timing";
constexpr const char* kLayerSetRangeMessage = "explicit VPS layer-set ID must be in [1, vps_num_layer_sets_minus1]";

std::vector<MutationCase> vpsCases()
{
    const ExpectedIssue detail{Kind::InvalidRange, ids::kSps, "parameterSets.vpsDetail", kVpsDetailMessage};
    const ExpectedIssue orderingExceeds{Kind::InvalidRange, ids::kVps, "parameterSets.vpsSubLayerOrdering.subLayerId",
                                       "VPS ordering sub-layer ID exceeds max sub-layers"};
    const ExpectedIssue layerSetRange{Kind::InvalidRange, ids::kVps, "parameterSets.vpsLayerSets.layerSetId",
                                      kLayerSetRangeMessage};
    const ExpectedIssue layerSetRepeated{Kind::InvalidValue, ids::kVps, "parameterSets.vpsLayerSets.layerSetId",
                                         "VPS layer-set IDs must be unique"};
    const ExpectedIssue maskAbove{Kind::InvalidRange, ids::kVps, "parameterSets.vpsLayerSets.includedLayerMask",
                                  "VPS layer-set mask contains a layer above vps_max_layer_id"};
    const auto withOrdering = [](std::optional<std::uint8_t> maxSubLayers, std::vector<std::uint8_t> subLayers) {
        return [=](StreamAnalysis& d) {
            vpsOf(d).maxSubLayers = maxSubLayers;
            vpsOf(d).vpsSubLayerOrdering.clear();
            for (const std::uint8_t id : subLayers) {
                vpsOf(d).vpsSubLayerOrdering.push_back(VpsSubLayerOrderingInfo{id, 0, 0, 0});
            }
        };
    };
    const auto withLayerSets = [](std::optional<std::uint16_t> numLayerSets, std::vector<std::uint16_t> layerSets) {
        return [=](StreamAnalysis& d) {
            vpsOf(d).vpsNumLayerSets = numLayerSets;
            for (const std::uint16_t id : layerSets) {
                vpsOf(d).vpsLayerSets.push_back(VpsLayerSetInfo{id, 1});
            }
        };
    };
    const auto withMask = [](std::optional<std::uint8_t> maxLayerId, std::uint64_t mask) {
        return [=](StreamAnalysis& d) {
            vpsOf(d).vpsMaxLayerId = maxLayerId;
            vpsOf(d).vpsNumLayerSets = 2;
            vpsOf(d).vpsLayerSets = {VpsLayerSetInfo{1, mask}};
        };
    };
    return {
        {"SPS with extension flag false", [](StreamAnalysis& d) { spsOf(d).vpsExtension = false; }, {detail}},
        {"SPS with layer sets list",
         [](StreamAnalysis& d) { spsOf(d).vpsLayerSets = {VpsLayerSetInfo{1, 1}}; },
         {detail}},
        {"VPS with extension flag passes", [](StreamAnalysis& d) { vpsOf(d).vpsExtension = false; }, {}},
        {"max layers 0",
         [](StreamAnalysis& d) { vpsOf(d).vpsMaxLayers = 0; },
         {{Kind::InvalidRange, ids::kVps, "parameterSets.vpsMaxLayers", "HEVC VPS layer count must be in [1, 64]"}}},
        {"max layers 65",
         [](StreamAnalysis& d) { vpsOf(d).vpsMaxLayers = 65; },
         {{Kind::InvalidRange, ids::kVps, "parameterSets.vpsMaxLayers", ""}}},
        {"max layer id 64",
         [](StreamAnalysis& d) { vpsOf(d).vpsMaxLayerId = 64; },
         {{Kind::InvalidRange, ids::kVps, "parameterSets.vpsMaxLayerId", "HEVC VPS max layer ID must be in [0, 63]"}}},
        {"layer-set count 1025",
         [](StreamAnalysis& d) { vpsOf(d).vpsNumLayerSets = 1025; },
         {{Kind::InvalidRange, ids::kVps, "parameterSets.vpsNumLayerSets",
           "HEVC VPS layer-set count must be in [1, 1024]"}}},
        {"ordering 0 to 2 pass with max 3", withOrdering(3, {0, 1, 2}), {}},
        {"ordering 3 exceeds max 3", withOrdering(3, {3}), {orderingExceeds}},
        {"ordering 0 to 6 pass without max", withOrdering(std::nullopt, {0, 1, 2, 3, 4, 5, 6}), {}},
        {"ordering 7 exceeds without max", withOrdering(std::nullopt, {7}), {orderingExceeds}},
        {"eight ordering entries",
         withOrdering(std::nullopt, {0, 1, 2, 3, 4, 5, 6, 6}),
         {{Kind::ResourceLimit, ids::kVps, "parameterSets.vpsSubLayerOrdering",
           "VPS sub-layer ordering contains more than 7 entries"}}},
        {"layer sets 1 to 3 pass with count 4", withLayerSets(4, {1, 2, 3}), {}},
        {"layer set 4 with count 4", withLayerSets(4, {4}), {layerSetRange}},
        {"layer set 0", withLayerSets(4, {0}), {layerSetRange}},
        {"any non-zero layer set passes without count", withLayerSets(std::nullopt, {1, 900}), {}},
        {"two layer sets 0", withLayerSets(4, {0, 0}), {layerSetRange, layerSetRange, layerSetRepeated}},
        {"1024 layer sets",
         [](StreamAnalysis& d) {
             vpsOf(d).vpsNumLayerSets.reset();
             for (std::uint16_t id = 1; id <= 1024; ++id) {
                 vpsOf(d).vpsLayerSets.push_back(VpsLayerSetInfo{id, 1});
             }
         },
         {{Kind::ResourceLimit, ids::kVps, "parameterSets.vpsLayerSets",
           "VPS contains more than 1023 explicit layer sets"}}},
        {"mask within max layer id 2", withMask(2, 0b111), {}},
        {"mask above max layer id 2", withMask(2, 0b1000), {maskAbove}},
        {"any mask with max layer id 63", withMask(63, ~std::uint64_t{0}), {}},
        {"any mask without max layer id", withMask(std::nullopt, ~std::uint64_t{0}), {}},
        {"time scale without timing flag",
         [](StreamAnalysis& d) {
             vpsOf(d).vpsTimingInfoPresent.reset();
             vpsOf(d).vpsTimeScale = 90000;
         },
         {{Kind::InvalidRange, ids::kVps, "parameterSets.vpsTimingInfo", kVpsTimingMessage}}},
        {"ticks with timing but without proportional flag",
         [](StreamAnalysis& d) {
             vpsOf(d).vpsTimingInfoPresent = true;
             vpsOf(d).vpsPocProportionalToTiming = false;
             vpsOf(d).vpsNumTicksPocDiffOne = 1;
         },
         {{Kind::InvalidRange, ids::kVps, "parameterSets.vpsNumTicksPocDiffOne", kVpsTicksMessage}}},
        {"ticks without either flag",
         [](StreamAnalysis& d) {
             vpsOf(d).vpsTimingInfoPresent.reset();
             vpsOf(d).vpsNumTicksPocDiffOne = 1;
         },
         {{Kind::InvalidRange, ids::kVps, "parameterSets.vpsTimingInfo", kVpsTimingMessage},
          {Kind::InvalidRange, ids::kVps, "parameterSets.vpsNumTicksPocDiffOne", kVpsTicksMessage}}},
        {"complete timing passes",
         [](StreamAnalysis& d) {
             vpsOf(d).vpsTimingInfoPresent = true;
             vpsOf(d).vpsNumUnitsInTick = 1001;
             vpsOf(d).vpsTimeScale = 60000;
             vpsOf(d).vpsPocProportionalToTiming = true;
             vpsOf(d).vpsNumTicksPocDiffOne = 0;
             vpsOf(d).vpsNumHrdParameters = 0;
         },
         {}},
    };
}

// --- seiMessages and slices ---------------------------------------------------------------------

std::vector<MutationCase> seiAndSliceCases()
{
    const auto sliceQp = [](std::int16_t qp) { return [=](StreamAnalysis& d) { d.slices[0].sliceQp = qp; }; };
    const ExpectedIssue badSliceQp{Kind::InvalidRange, ids::kSlice, "slices.sliceQp",
                                   "slice QP must be in the supported HEVC range [-48, 51]"};
    return {
        {"SEI parent is a slice",
         [](StreamAnalysis& d) { d.seiMessages[0].parentNalUnitId = ids::kSlice; },
         {{Kind::WrongParentType, ids::kSei, "seiMessages.parentNalUnitId", ""}}},
        {"SEI status 4",
         [](StreamAnalysis& d) { d.seiMessages[0].status = static_cast<SeiStatus>(4); },
         {{Kind::InvalidRange, ids::kSei, "seiMessages.status", kEnumMessage}}},
        {"SEI payload hash over 1 MiB",
         [](StreamAnalysis& d) { d.seiMessages[0].payloadHash.assign(0x100001, 'p'); },
         {{Kind::ResourceLimit, ids::kSei, "seiMessages.payloadHash", ""}}},
        {"257 SEI syntax elements",
         [](StreamAnalysis& d) {
             d.seiMessages[0].syntaxElements.clear();
             for (int i = 0; i < 257; ++i) {
                 d.seiMessages[0].syntaxElements.push_back({numbered("f", i), 0, ""});
             }
         },
         {{Kind::ResourceLimit, ids::kSei, "seiMessages.syntaxElements",
           "SEI message contains more than 256 exported syntax elements"}}},
        {"SEI repeated and empty names",
         [](StreamAnalysis& d) { d.seiMessages[0].syntaxElements = {{"x", 0, ""}, {"", 0, ""}, {"x", 1, ""}}; },
         {{Kind::InvalidValue, ids::kSei, "seiMessages.syntaxElements.name", "value must not be empty"},
          {Kind::InvalidValue, ids::kSei, "seiMessages.syntaxElements.name",
           "SEI syntax element names must be unique"}}},
        {"slice type 4",
         [](StreamAnalysis& d) { d.slices[0].type = static_cast<SliceType>(4); },
         {{Kind::InvalidRange, ids::kSlice, "slices.type", kEnumMessage}}},
        {"slice parse status 3",
         [](StreamAnalysis& d) { d.slices[0].parseStatus = static_cast<ParseStatus>(3); },
         {{Kind::InvalidRange, ids::kSlice, "slices.parseStatus", kEnumMessage}}},
        {"slice reference state 3",
         [](StreamAnalysis& d) { d.slices[0].referenceStateStatus = static_cast<ParseStatus>(3); },
         {{Kind::InvalidRange, ids::kSlice, "slices.referenceStateStatus", kEnumMessage}}},
        {"signaled type 4",
         [](StreamAnalysis& d) { d.slices[0].signaledType = static_cast<SliceType>(4); },
         {{Kind::InvalidRange, ids::kSlice, "slices.signaledType", kEnumMessage}}},
        {"signaled type absent passes", [](StreamAnalysis& d) { d.slices[0].signaledType.reset(); }, {}},
        {"PPS id 64",
         [](StreamAnalysis& d) { d.slices[0].ppsId = 64; },
         {{Kind::InvalidRange, ids::kSlice, "slices.ppsId", "PPS ID must be in [0, 63]"}}},
        {"slice QP -48 passes", sliceQp(-48), {}},
        {"slice QP 51 passes", sliceQp(51), {}},
        {"slice QP -49", sliceQp(-49), {badSliceQp}},
        {"slice QP 52", sliceQp(52), {badSliceQp}},
        {"L0 active 16",
         [](StreamAnalysis& d) { d.slices[0].numRefIdxL0Active = 16; },
         {{Kind::InvalidRange, ids::kSlice, "slices.numRefIdxL0Active",
           "active L0 reference count must be in [0, 15]"}}},
        {"L1 active 16",
         [](StreamAnalysis& d) { d.slices[0].numRefIdxL1Active = 16; },
         {{Kind::InvalidRange, ids::kSlice, "slices.numRefIdxL1Active",
           "active L1 reference count must be in [0, 15]"}}},
    };
}

// --- reference collections and pictures ---------------------------------------------------------

std::vector<MutationCase> referenceAndPictureCases()
{
    return {
        {"reference parent is a NAL unit",
         [](StreamAnalysis& d) { d.referencePictures[0].parentSliceId = ids::kSliceNal; },
         {{Kind::WrongParentType, ids::kReferencePicture, "referencePictures.parentSliceId", ""}}},
        {"reference list 3",
         [](StreamAnalysis& d) { d.referencePictures[0].list = static_cast<ReferenceList>(3); },
         {{Kind::InvalidRange, ids::kReferencePicture, "referencePictures.list", kEnumMessage}}},
        {"reference list index 16",
         [](StreamAnalysis& d) { d.referencePictures[0].listIndex = 16; },
         {{Kind::InvalidRange, ids::kReferencePicture, "referencePictures.listIndex",
           "reference-list index must be in [0, 15]"}}},
        {"reference status 5",
         [](StreamAnalysis& d) { d.referencePictures[0].status = static_cast<ReferenceStatus>(5); },
         {{Kind::InvalidRange, ids::kReferencePicture, "referencePictures.status", kEnumMessage}}},
        {"reference origin 4",
         [](StreamAnalysis& d) { d.referencePictures[0].origin = static_cast<ValueOrigin>(4); },
         {{Kind::InvalidRange, ids::kReferencePicture, "referencePictures.origin", kEnumMessage}}},
        {"short-term parent missing",
         [](StreamAnalysis& d) { d.shortTermReferencePictures[0].parentSliceId = StableId{0x55, 5}; },
         {{Kind::MissingParent, ids::kShortTerm, "shortTermReferencePictures.parentSliceId", ""}}},
        {"short-term origins 4",
         [](StreamAnalysis& d) {
             d.shortTermReferencePictures[0].deltaPocOrigin = static_cast<ValueOrigin>(4);
             d.shortTermReferencePictures[0].usedOrigin = static_cast<ValueOrigin>(4);
         },
         {{Kind::InvalidRange, ids::kShortTerm, "shortTermReferencePictures.deltaPocOrigin", kEnumMessage},
          {Kind::InvalidRange, ids::kShortTerm, "shortTermReferencePictures.usedOrigin", kEnumMessage}}},
        {"short-term index 32",
         [](StreamAnalysis& d) { d.shortTermReferencePictures[0].entryIndex = 32; },
         {{Kind::InvalidRange, ids::kShortTerm, "shortTermReferencePictures.entryIndex",
           "short-term RPS index must be in [0, 31]"}}},
        {"long-term origin 4",
         [](StreamAnalysis& d) { d.longTermReferencePictures[0].origin = static_cast<ValueOrigin>(4); },
         {{Kind::InvalidRange, ids::kLongTerm, "longTermReferencePictures.origin", kEnumMessage}}},
        {"long-term index 32",
         [](StreamAnalysis& d) { d.longTermReferencePictures[0].entryIndex = 32; },
         {{Kind::InvalidRange, ids::kLongTerm, "longTermReferencePictures.entryIndex",
           "long-term RPS index must be in [0, 31]"}}},
        {"DPB status 5 and origin 4",
         [](StreamAnalysis& d) {
             d.dpbSnapshotEntries[0].status = static_cast<ReferenceStatus>(5);
             d.dpbSnapshotEntries[0].origin = static_cast<ValueOrigin>(4);
         },
         {{Kind::InvalidRange, ids::kDpbEntry, "dpbSnapshotEntries.status", kEnumMessage},
          {Kind::InvalidRange, ids::kDpbEntry, "dpbSnapshotEntries.origin", kEnumMessage}}},
        {"DPB slot 32",
         [](StreamAnalysis& d) { d.dpbSnapshotEntries[0].slot = 32; },
         {{Kind::InvalidRange, ids::kDpbEntry, "dpbSnapshotEntries.slot", "HEVC DPB slot must be in [0, 31]"}}},
        {"reference collections validated before pictures",
         [](StreamAnalysis& d) {
             d.pictures[0].completeness = static_cast<PictureCompleteness>(4);
             d.dpbSnapshotEntries[0].slot = 40;
             d.referencePictures[0].listIndex = 40;
         },
         {{Kind::InvalidRange, ids::kReferencePicture, "referencePictures.listIndex", ""},
          {Kind::InvalidRange, ids::kDpbEntry, "dpbSnapshotEntries.slot", ""},
          {Kind::InvalidRange, ids::kPicture, "pictures.completeness", kEnumMessage}}},
        {"picture type -1",
         [](StreamAnalysis& d) { d.pictures[0].pictureType = static_cast<PictureType>(0xffffffffu); },
         {{Kind::InvalidRange, ids::kPicture, "pictures.pictureType", kEnumMessage}}},
        {"picture type 4",
         [](StreamAnalysis& d) { d.pictures[0].pictureType = static_cast<PictureType>(4); },
         {{Kind::InvalidRange, ids::kPicture, "pictures.pictureType", kEnumMessage}}},
        {"picture parent is a NAL unit",
         [](StreamAnalysis& d) { d.pictures[0].parentStreamAnalysisId = ids::kVpsNal; },
         {{Kind::WrongParentType, ids::kPicture, "pictures.parentStreamAnalysisId", ""}}},
        {"picture sizes and depth",
         [](StreamAnalysis& d) {
             d.pictures[0].width = 0;
             d.pictures[0].height = 65536;
             d.pictures[0].bitDepth = 2;
         },
         {{Kind::InvalidRange, ids::kPicture, "pictures.width", ""},
          {Kind::InvalidRange, ids::kPicture, "pictures.height", ""},
          {Kind::InvalidRange, ids::kPicture, "pictures.bitDepth", ""}}},
    };
}

// --- errors ---------------------------------------------------------------------------------------

std::vector<MutationCase> errorCases()
{
    return {
        {"related object is the document", [](StreamAnalysis& d) { d.errors[0].relatedObjectId = ids::kDocument; }, {}},
        {"related object is a coding block", [](StreamAnalysis& d) { d.errors[0].relatedObjectId = ids::kLeafTu; }, {}},
        {"related object names nothing",
         [](StreamAnalysis& d) { d.errors[0].relatedObjectId = StableId{0x99, 9}; },
         {{Kind::MissingParent, ids::kError, "errors.relatedObjectId",
           "related object ID does not resolve within this analysis document"}}},
        {"related object all zero",
         [](StreamAnalysis& d) { d.errors[0].relatedObjectId = StableId{}; },
         {{Kind::MissingParent, ids::kError, "errors.relatedObjectId", ""}}},
        {"error parent is a picture",
         [](StreamAnalysis& d) { d.errors[0].parentStreamAnalysisId = ids::kPicture; },
         {{Kind::WrongParentType, ids::kError, "errors.parentStreamAnalysisId", ""}}},
        {"severity 5",
         [](StreamAnalysis& d) { d.errors[0].severity = 5; },
         {{Kind::InvalidRange, ids::kError, "errors.severity", kEnumMessage}}},
        {"empty detail passes", [](StreamAnalysis& d) { d.errors[0].detail.clear(); }, {}},
        {"empty code, component and message",
         [](StreamAnalysis& d) {
             d.errors[0].code.clear();
             d.errors[0].component.clear();
             d.errors[0].message.clear();
         },
         {{Kind::InvalidValue, ids::kError, "errors.code", "value must not be empty"},
          {Kind::InvalidValue, ids::kError, "errors.component", "value must not be empty"},
          {Kind::InvalidValue, ids::kError, "errors.message", "value must not be empty"}}},
        {"errors validated after blocks",
         [](StreamAnalysis& d) {
             d.errors[0].severity = 7;
             d.motionVectors[0].list = static_cast<ReferenceList>(3);
         },
         {{Kind::InvalidRange, ids::kMotionVector, "motionVectors.list", ""},
          {Kind::InvalidRange, ids::kError, "errors.severity", ""}}},
    };
}

class NalUnitRules : public ::testing::TestWithParam<MutationCase> {};
class ParameterSetRules : public ::testing::TestWithParam<MutationCase> {};
class ProfileTierLevelRules : public ::testing::TestWithParam<MutationCase> {};
class VpsRules : public ::testing::TestWithParam<MutationCase> {};
class SeiAndSliceRules : public ::testing::TestWithParam<MutationCase> {};
class ReferenceAndPictureRules : public ::testing::TestWithParam<MutationCase> {};
class ErrorRules : public ::testing::TestWithParam<MutationCase> {};

TEST_P(NalUnitRules, YieldExpectedIssues) { validation_test::runMutationCase(GetParam()); }
TEST_P(ParameterSetRules, YieldExpectedIssues) { validation_test::runMutationCase(GetParam()); }
TEST_P(ProfileTierLevelRules, YieldExpectedIssues) { validation_test::runMutationCase(GetParam()); }
TEST_P(VpsRules, YieldExpectedIssues) { validation_test::runMutationCase(GetParam()); }
TEST_P(SeiAndSliceRules, YieldExpectedIssues) { validation_test::runMutationCase(GetParam()); }
TEST_P(ReferenceAndPictureRules, YieldExpectedIssues) { validation_test::runMutationCase(GetParam()); }
TEST_P(ErrorRules, YieldExpectedIssues) { validation_test::runMutationCase(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Validation, NalUnitRules, ::testing::ValuesIn(nalUnitCases()), validation_test::testNameOf);
INSTANTIATE_TEST_SUITE_P(Validation, ParameterSetRules, ::testing::ValuesIn(parameterSetCases()),
                         validation_test::testNameOf);
INSTANTIATE_TEST_SUITE_P(Validation, ProfileTierLevelRules, ::testing::ValuesIn(profileTierLevelCases()),
                         validation_test::testNameOf);
INSTANTIATE_TEST_SUITE_P(Validation, VpsRules, ::testing::ValuesIn(vpsCases()), validation_test::testNameOf);
INSTANTIATE_TEST_SUITE_P(Validation, SeiAndSliceRules, ::testing::ValuesIn(seiAndSliceCases()),
                         validation_test::testNameOf);
INSTANTIATE_TEST_SUITE_P(Validation, ReferenceAndPictureRules, ::testing::ValuesIn(referenceAndPictureCases()),
                         validation_test::testNameOf);
INSTANTIATE_TEST_SUITE_P(Validation, ErrorRules, ::testing::ValuesIn(errorCases()), validation_test::testNameOf);

}  // namespace
}  // namespace vexilo::analysis
