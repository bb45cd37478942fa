#pragma once

#include "vexilo/analysis/StableId.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexilo::analysis {

// Enumerations of the document are small unsigned codes with 0 meaning "not
// determined". A stored value above the highest code is kept as it is (the
// validator reports it), so every enumeration accepts any number of its width.

enum class NalUnitKind : std::uint8_t {
    Other = 0,
    Vps = 1,
    Sps = 2,
    Pps = 3,
    Aud = 4,
    PrefixSei = 5,
    SuffixSei = 6,
    Slice = 7,
};
inline constexpr std::uint8_t kHighestNalUnitKind = 7;

enum class ParameterSetKind : std::uint8_t {
    Undetermined = 0,
    Vps = 1,
    Sps = 2,
    Pps = 3,
};
inline constexpr std::uint8_t kHighestParameterSetKind = 3;

// The stream or parameter-set profile as the desktop names it.
enum class StreamProfile : std::uint8_t {
    Undetermined = 0,
    Main = 1,
    Main10 = 2,
};
inline constexpr std::uint8_t kHighestStreamProfile = 2;

// The profile a parameter set is shown as, from general_profile_idc and the luma
// bit depth (an absent bit depth counts as 8 bits).
[[nodiscard]] StreamProfile profileFromProfileIdc(std::uint8_t profileIdc,
                                                  std::optional<std::uint8_t> lumaBitDepth) noexcept;

// A named syntax value of a parameter set or SEI message.
struct SyntaxElementInfo {
    std::string name{};  // as in Rec. ITU-T H.265, e.g. "init_qp_minus26"
    std::int64_t value = 0;
    std::string displayValue{};  // empty when the integer says all

    friend bool operator==(const SyntaxElementInfo&, const SyntaxElementInfo&) = default;
};

struct NalUnitInfo {
    StableId id{};
    StableId parentStreamAnalysisId{};
    std::uint64_t byteOffset = 0;
    std::uint64_t byteSize = 0;
    NalUnitKind kind = NalUnitKind::Other;
    std::optional<std::uint8_t> nalUnitType{};
    std::optional<std::uint8_t> layerId{};
    std::optional<std::uint8_t> temporalId{};
    std::optional<std::uint64_t> pictureId{};
    std::optional<std::uint8_t> startCodeLength{};
    std::string contentHash{};
    // False for units whose input location the decoder did not report (extradata).
    bool byteSpanReliable = true;

    friend bool operator==(const NalUnitInfo&, const NalUnitInfo&) = default;
};

struct VpsSubLayerOrderingInfo {
    std::uint8_t subLayerId = 0;
    std::uint32_t maxDecPicBufferingMinus1 = 0;
    std::uint32_t maxNumReorderPics = 0;
    std::uint32_t maxLatencyIncreasePlus1 = 0;

    friend bool operator==(const VpsSubLayerOrderingInfo&, const VpsSubLayerOrderingInfo&) = default;
};

struct VpsLayerSetInfo {
    std::uint16_t layerSetId = 0;
    std::uint64_t includedLayerMask = 0;  // bit j: layer j is in the set

    friend bool operator==(const VpsLayerSetInfo&, const VpsLayerSetInfo&) = default;
};

// One profile_tier_level() entry: the general one (no subLayerId) or a sub-layer's.
struct ProfileTierLevelInfo {
    std::optional<std::uint8_t> subLayerId{};
    bool profilePresentFlag = false;
    bool levelPresentFlag = false;
    std::optional<std::uint8_t> profileSpace{};
    std::optional<bool> tierFlag{};
    std::optional<std::uint8_t> profileIdc{};
    std::optional<std::uint32_t> profileCompatibilityFlags{};
    std::optional<bool> progressiveSourceFlag{};
    std::optional<bool> interlacedSourceFlag{};
    std::optional<bool> nonPackedConstraintFlag{};
    std::optional<bool> frameOnlyConstraintFlag{};
    std::optional<bool> max12bitConstraintFlag{};
    std::optional<bool> max10bitConstraintFlag{};
    std::optional<bool> max8bitConstraintFlag{};
    std::optional<bool> max422chromaConstraintFlag{};
    std::optional<bool> max420chromaConstraintFlag{};
    std::optional<bool> maxMonochromeConstraintFlag{};
    std::optional<bool> intraConstraintFlag{};
    std::optional<bool> onePictureOnlyConstraintFlag{};
    std::optional<bool> lowerBitRateConstraintFlag{};
    std::optional<bool> max14bitConstraintFlag{};
    std::optional<bool> inbldFlag{};
    std::optional<std::uint8_t> levelIdc{};

    friend bool operator==(const ProfileTierLevelInfo&, const ProfileTierLevelInfo&) = default;
};

// Number of constraint flags the decoder reports as a value word and a present word.
inline constexpr std::size_t kProfileConstraintFlagCount = 15;

// Sets the constraint flags (progressiveSourceFlag ... inbldFlag, bit k for the
// k-th of them) whose bit is set in presentBits, each to its bit in valueBits.
void setProfileConstraintFlags(ProfileTierLevelInfo& entry, std::uint16_t valueBits,
                               std::uint16_t presentBits);

// VPS, SPS or PPS. The VPS detail (vpsBaseLayerInternal ... vpsExtension, the two
// VPS lists included) may be present only on a VPS.
struct ParameterSetInfo {
    StableId id{};
    StableId parentNalUnitId{};
    ParameterSetKind kind = ParameterSetKind::Undetermined;
    std::optional<std::uint16_t> parameterSetId{};
    StreamProfile profile = StreamProfile::Undetermined;
    std::optional<std::uint32_t> width{};
    std::optional<std::uint32_t> height{};
    std::optional<std::uint8_t> bitDepth{};
    std::optional<std::uint8_t> log2CtuSize{};
    std::optional<bool> tilesEnabled{};
    std::optional<bool> entropyCodingSyncEnabled{};
    std::string contentHash{};
    std::optional<std::uint16_t> referencedParameterSetId{};
    std::optional<std::uint8_t> profileIdc{};
    std::optional<std::uint8_t> levelIdc{};
    std::optional<std::uint8_t> chromaFormatIdc{};
    std::optional<std::uint8_t> chromaBitDepth{};
    std::optional<std::uint8_t> maxSubLayers{};
    std::optional<std::uint32_t> numShortTermRefPicSets{};
    std::optional<std::uint16_t> numTileColumns{};
    std::optional<std::uint16_t> numTileRows{};
    std::optional<bool> temporalIdNesting{};
    std::optional<bool> sampleAdaptiveOffsetEnabled{};
    std::optional<bool> temporalMvpEnabled{};
    std::optional<bool> dependentSliceSegmentsEnabled{};
    std::optional<bool> outputFlagPresent{};
    std::optional<bool> vpsBaseLayerInternal{};
    std::optional<bool> vpsBaseLayerAvailable{};
    std::optional<std::uint8_t> vpsMaxLayers{};
    std::optional<bool> vpsSubLayerOrderingInfoPresent{};
    std::vector<VpsSubLayerOrderingInfo> vpsSubLayerOrdering{};
    std::optional<std::uint8_t> vpsMaxLayerId{};
    std::optional<std::uint16_t> vpsNumLayerSets{};
    std::vector<VpsLayerSetInfo> vpsLayerSets{};
    std::optional<bool> vpsTimingInfoPresent{};
    std::optional<std::uint32_t> vpsNumUnitsInTick{};
    std::optional<std::uint32_t> vpsTimeScale{};
    std::optional<bool> vpsPocProportionalToTiming{};
    std::optional<std::uint32_t> vpsNumTicksPocDiffOne{};
    std::optional<std::uint32_t> vpsNumHrdParameters{};
    std::optional<bool> vpsExtension{};
    std::vector<ProfileTierLevelInfo> profileTierLevels{};
    std::vector<SyntaxElementInfo> syntaxElements{};

    friend bool operator==(const ParameterSetInfo&, const ParameterSetInfo&) = default;
};

}  // namespace vexilo::analysis
