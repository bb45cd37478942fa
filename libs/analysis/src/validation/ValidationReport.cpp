#include "vexilo/analysis/DomainValidation.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>
#include <utility>

namespace vexilo::analysis {
namespace {

constexpr std::array<std::string_view, 9> kIssueKindNames = {
    "InvalidSchemaVersion", "InvalidStableId", "DuplicateStableId",
    "MissingParent",        "WrongParentType", "InvalidCoordinate",
    "InvalidRange",         "ResourceLimit",   "InvalidValue",
};
constexpr std::string_view kUnknownIssueKindName = "Unknown";

// The report names the first issues only; the total tells how many there were.
constexpr std::size_t kReportedIssueCount = 8;

void appendNumber(std::string& text, std::uint64_t value, int base)
{
    std::array<char, 24> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value, base);
    text.append(digits.data(), result.ptr);
}

void appendIssue(std::string& text, std::size_t position, const ValidationIssue& issue)
{
    text += "; [";
    appendNumber(text, position, 10);
    text += "] ";
    text += validationIssueKindName(issue.kind);
    if (issue.objectId) {
        text += " object=0x";
        appendNumber(text, issue.objectId->high, 16);
        text += ':';
        appendNumber(text, issue.objectId->low, 16);
    }
    text += " field=";
    text += issue.field;
    text += " message=";
    text += issue.message;
}

}  // namespace

void appendValidationIssue(ValidationIssues& issues, ValidationIssueKind kind,
                           std::optional<StableId> objectId, std::string&& field,
                           std::string&& message)
{
    issues.push_back(ValidationIssue{kind, objectId, std::move(field), std::move(message)});
    // Moved-from strings are only "valid"; the contract says they end up empty.
    field.clear();
    message.clear();
}

std::string validationIssueKindName(std::uint32_t kind)
{
    return std::string(kind < kIssueKindNames.size() ? kIssueKindNames[kind] : kUnknownIssueKindName);
}

std::string validationIssueKindName(ValidationIssueKind kind)
{
    return validationIssueKindName(static_cast<std::uint32_t>(kind));
}

std::string formatValidationIssues(std::span<const ValidationIssue> issues)
{
    std::string text = "domain validation failed with ";
    appendNumber(text, issues.size(), 10);
    text += " issue(s)";
    const std::size_t reported = std::min(issues.size(), kReportedIssueCount);
    for (std::size_t position = 0; position < reported; ++position) {
        appendIssue(text, position, issues[position]);
    }
    return text;
}

}  // namespace vexilo::analysis
