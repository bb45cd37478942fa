#pragma once

#include "validation/RuleTable.h"
#include "validation/ValidationContext.h"

#include <cstdint>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vexilo::analysis::validation {

// The rules of the root fields and of each collection, in the order that
// validateStreamAnalysis runs them.
void validateRootFields(ValidationContext& context);
void validateStreamCollections(ValidationContext& context);  // nalUnits to pictures
void validateCodingBlocks(ValidationContext& context);       // ctus to motionVectors
void validateErrors(ValidationContext& context);

void validateParameterSets(ValidationContext& context);

// The rows of a syntax-element list (parameter sets and SEI messages share them):
// name required, display value optional, names unique byte for byte.
struct SyntaxElementPaths {
    std::string_view name;
    std::string_view displayValue;
    std::string_view duplicateNameMessage;
};
void checkSyntaxElements(ValidationContext& context, const StableId& objectId,
                         const std::vector<SyntaxElementInfo>& elements, const SyntaxElementPaths& paths);

// The largest code each enumeration of the schema accepts.
template <typename Enum>
constexpr std::int64_t highestCode(Enum last) noexcept
{
    return static_cast<std::int64_t>(static_cast<std::underlying_type_t<Enum>>(last));
}
inline constexpr std::int64_t kHighestPictureType = highestCode(PictureType::B);
inline constexpr std::int64_t kHighestPictureCompleteness = highestCode(PictureCompleteness::Failed);
inline constexpr std::int64_t kHighestReferenceList = highestCode(ReferenceList::L1);
inline constexpr std::int64_t kHighestReferenceStatus = highestCode(ReferenceStatus::CurrentPicture);
inline constexpr std::int64_t kHighestValueOrigin = highestCode(ValueOrigin::Derived);
inline constexpr std::int64_t kHighestBlockParseStatus = highestCode(BlockParseStatus::Malformed);
inline constexpr std::int64_t kHighestPredictionMode = highestCode(PredictionMode::Skip);
inline constexpr std::int64_t kHighestPartitionMode = highestCode(PartitionMode::PartnRx2N);
inline constexpr std::int64_t kHighestInterDirection = highestCode(InterDirection::Bi);
inline constexpr std::int64_t kHighestMotionVectorUnit = highestCode(MotionVectorUnit::QuarterLumaSample);

// Ranges shared by several collections.
inline constexpr std::int64_t kMinQp = -48;
inline constexpr std::int64_t kMaxQp = 51;
inline constexpr std::int64_t kMaxQpDelta = 32;
inline constexpr std::int64_t kMaxReferenceIndex = 15;
inline constexpr std::string_view kReferenceIndexMessage = "HEVC reference index must be in [0, 15]";

}  // namespace vexilo::analysis::validation
