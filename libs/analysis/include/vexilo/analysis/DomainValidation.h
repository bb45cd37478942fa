#pragma once

#include "vexilo/analysis/StableId.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vexilo::analysis {

struct StreamAnalysis;

// The class of one validation finding; stored as a plain number so that a kind
// read from elsewhere survives even when it is outside the known range.
enum class ValidationIssueKind : std::uint32_t {
    InvalidSchemaVersion = 0,
    InvalidStableId = 1,
    DuplicateStableId = 2,
    MissingParent = 3,
    WrongParentType = 4,
    InvalidCoordinate = 5,
    InvalidRange = 6,
    ResourceLimit = 7,
    InvalidValue = 8,
};

// One finding of domain validation. `objectId` names the object the finding is
// about; `field` is a schema field path ("nalUnits.temporalId"), and only identity
// paths carry an element index ("nalUnits[3].id").
struct ValidationIssue {
    ValidationIssueKind kind = ValidationIssueKind::InvalidValue;
    std::optional<StableId> objectId;
    std::string field;
    std::string message;
};

using ValidationIssues = std::vector<ValidationIssue>;

// Checks the whole document and returns every finding in the order the rules
// fire; an empty list means the document is valid. Never throws for bad content.
[[nodiscard]] ValidationIssues validateStreamAnalysis(const StreamAnalysis& analysis);

// Appends one issue, taking over both strings (the caller's are left empty).
void appendValidationIssue(ValidationIssues& issues, ValidationIssueKind kind,
                           std::optional<StableId> objectId, std::string&& field,
                           std::string&& message);

// The kind's name ("InvalidRange"), or "Unknown" for numbers outside 0 to 8.
[[nodiscard]] std::string validationIssueKindName(std::uint32_t kind);
[[nodiscard]] std::string validationIssueKindName(ValidationIssueKind kind);

// The one-line report: the total, then the first eight issues.
[[nodiscard]] std::string formatValidationIssues(std::span<const ValidationIssue> issues);

}  // namespace vexilo::analysis
