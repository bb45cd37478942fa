#pragma once

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/records/NalParameterSetRecords.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexilo::analysis {

enum class SeiStatus : std::uint8_t {
    Undetermined = 0,
    Parsed = 1,
    Unsupported = 2,
    Malformed = 3,
};
inline constexpr std::uint8_t kHighestSeiStatus = 3;

enum class SliceType : std::uint8_t {
    Undetermined = 0,
    I = 1,
    P = 2,
    B = 3,
};
inline constexpr std::uint8_t kHighestSliceType = 3;

// State of a slice header parse, and of a slice's reference construction
// (where Parsed means "constructed").
enum class ParseStatus : std::uint8_t {
    Undetermined = 0,
    Parsed = 1,
    Malformed = 2,
};
inline constexpr std::uint8_t kHighestParseStatus = 2;

inline constexpr std::uint8_t kHighestErrorSeverity = 4;

struct SeiMessageInfo {
    StableId id{};
    StableId parentNalUnitId{};
    std::optional<std::uint64_t> pictureId{};
    std::optional<std::uint32_t> payloadType{};
    std::optional<std::uint64_t> payloadSize{};
    std::string payloadHash{};
    SeiStatus status = SeiStatus::Undetermined;
    std::vector<SyntaxElementInfo> syntaxElements{};
    bool truncated = false;

    friend bool operator==(const SeiMessageInfo&, const SeiMessageInfo&) = default;
};

// One slice segment header: signaled syntax as parsed, the decoder's derived
// state, and summaries of the slice's reference construction.
struct SliceInfo {
    StableId id{};
    StableId parentNalUnitId{};
    std::optional<std::uint64_t> pictureId{};
    SliceType type = SliceType::Undetermined;
    std::optional<std::uint32_t> firstCtuAddress{};
    std::optional<std::uint32_t> sliceSegmentAddress{};
    std::optional<bool> dependentSliceSegment{};
    std::optional<std::uint16_t> ppsId{};
    std::optional<std::int32_t> poc{};
    std::optional<std::int16_t> sliceQp{};
    std::optional<std::uint32_t> tileId{};
    ParseStatus parseStatus = ParseStatus::Undetermined;
    std::optional<std::int32_t> parserErrorCode{};
    std::optional<bool> firstSliceSegmentInPic{};
    std::optional<bool> noOutputOfPriorPics{};
    std::optional<SliceType> signaledType{};
    std::optional<bool> slicePicOutput{};
    std::optional<std::int32_t> slicePicOrderCntLsb{};
    std::optional<bool> shortTermRefPicSetSps{};
    std::optional<std::uint32_t> shortTermRefPicSetIdx{};
    std::optional<bool> numRefIdxActiveOverride{};
    std::optional<std::uint8_t> numRefIdxL0Active{};
    std::optional<std::uint8_t> numRefIdxL1Active{};
    std::optional<bool> refPicListModificationL0{};
    std::optional<bool> refPicListModificationL1{};
    std::optional<std::int16_t> sliceQpDelta{};
    std::optional<std::uint32_t> numEntryPointOffsets{};
    std::optional<std::int64_t> decodeIndex{};
    std::optional<std::int64_t> displayIndex{};
    ParseStatus referenceStateStatus = ParseStatus::Undetermined;
    std::optional<std::int32_t> referenceStateErrorCode{};
    std::optional<std::uint32_t> shortTermRpsCount{};
    std::optional<std::uint32_t> longTermRpsCount{};
    std::optional<std::uint32_t> refPicListL0Count{};
    std::optional<std::uint32_t> refPicListL1Count{};
    std::optional<std::uint32_t> dpbEntryCount{};

    friend bool operator==(const SliceInfo&, const SliceInfo&) = default;
};

struct AnalysisErrorInfo {
    StableId id{};
    StableId parentStreamAnalysisId{};
    // Present (even all zero) exactly when the stored form names an object.
    std::optional<StableId> relatedObjectId{};
    std::uint8_t severity = 0;  // 0-4; the builder's analysis issues carry 2
    std::string code{};
    std::string component{};
    std::string message{};
    std::string detail{};
    bool errorFlag = false;
    std::optional<std::uint64_t> errorValue{};

    friend bool operator==(const AnalysisErrorInfo&, const AnalysisErrorInfo&) = default;
};

}  // namespace vexilo::analysis
