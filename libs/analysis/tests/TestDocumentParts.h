#pragma once

// Pieces shared by the synthetic documents of the validation and cache tests: the stream's
// identities, its NAL units and a VPS/SPS/PPS triple that pass every rule.

#include "vexilo/analysis/StreamAnalysis.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vexilo::analysis::test_parts {

// Each object kind has its own high word.
namespace ids {
inline constexpr StableId kDocument{0xd0c, 1};
inline constexpr StableId kVpsNal{0x1, 1};
inline constexpr StableId kSpsNal{0x1, 2};
inline constexpr StableId kPpsNal{0x1, 3};
inline constexpr StableId kSeiNal{0x1, 4};
inline constexpr StableId kVps{0x2, 1};
inline constexpr StableId kSps{0x2, 2};
inline constexpr StableId kPps{0x2, 3};
inline constexpr StableId kSei{0x3, 1};
}  // namespace ids

// "e" + std::to_string(i) would do, but GCC 12 at -O2 warns falsely (-Wrestrict) on a literal
// added to a temporary string.
inline std::string numbered(std::string_view prefix, std::int64_t number)
{
    std::string text(prefix);
    text += std::to_string(number);
    return text;
}

inline BlockRect lumaRect(std::int32_t x, std::int32_t y, std::uint32_t width, std::uint32_t height)
{
    return BlockRect{x, y, width, height, kBlockRectUnitLumaSample};
}

inline NalUnitInfo makeNalUnit(StableId id, NalUnitKind kind, std::uint8_t type, std::uint64_t offset)
{
    NalUnitInfo unit;
    unit.id = id;
    unit.parentStreamAnalysisId = ids::kDocument;
    unit.byteOffset = offset;
    unit.byteSize = 20;
    unit.kind = kind;
    unit.nalUnitType = type;
    unit.layerId = 0;
    unit.temporalId = 0;
    unit.startCodeLength = 4;
    unit.contentHash = "fnv1a64:0000000000000001";
    return unit;
}

// The NAL units of the three parameter sets, at offsets 0, 24 and 48.
inline void addParameterSetNalUnits(StreamAnalysis& document)
{
    document.nalUnits.push_back(makeNalUnit(ids::kVpsNal, NalUnitKind::Vps, 32, 0));
    document.nalUnits.push_back(makeNalUnit(ids::kSpsNal, NalUnitKind::Sps, 33, 24));
    document.nalUnits.push_back(makeNalUnit(ids::kPpsNal, NalUnitKind::Pps, 34, 48));
}

// A Main-profile 1920x1080 VPS, SPS and PPS, in that order.
inline void addParameterSets(StreamAnalysis& document)
{
    ParameterSetInfo vps;
    vps.id = ids::kVps;
    vps.parentNalUnitId = ids::kVpsNal;
    vps.kind = ParameterSetKind::Vps;
    vps.parameterSetId = 0;
    vps.maxSubLayers = 1;
    vps.profileTierLevels.push_back(ProfileTierLevelInfo{
        .profilePresentFlag = true, .levelPresentFlag = true, .profileIdc = 1, .levelIdc = 93});
    vps.vpsMaxLayers = 1;
    vps.vpsMaxLayerId = 0;
    vps.vpsNumLayerSets = 1;
    vps.vpsTimingInfoPresent = false;
    vps.vpsSubLayerOrdering.push_back(VpsSubLayerOrderingInfo{0, 4, 2, 0});
    document.parameterSets.push_back(vps);

    ParameterSetInfo sps;
    sps.id = ids::kSps;
    sps.parentNalUnitId = ids::kSpsNal;
    sps.kind = ParameterSetKind::Sps;
    sps.parameterSetId = 0;
    sps.profile = StreamProfile::Main;
    sps.width = 1920;
    sps.height = 1080;
    sps.bitDepth = 8;
    sps.log2CtuSize = 6;
    sps.referencedParameterSetId = 0;
    sps.profileIdc = 1;
    sps.chromaFormatIdc = 1;
    sps.chromaBitDepth = 8;
    sps.maxSubLayers = 1;
    document.parameterSets.push_back(sps);

    ParameterSetInfo pps;
    pps.id = ids::kPps;
    pps.parentNalUnitId = ids::kPpsNal;
    pps.kind = ParameterSetKind::Pps;
    pps.parameterSetId = 0;
    pps.referencedParameterSetId = 0;
    pps.numTileColumns = 1;
    pps.numTileRows = 1;
    document.parameterSets.push_back(pps);
}

}  // namespace vexilo::analysis::test_parts
