#pragma once

// Row functions, value formatters and summary texts shared by the section
// builders of the picture syntax model.

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/models/SyntaxRow.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vexilo {
class NalUnitIndex;
}

namespace vexilo::syntaxrows {

inline constexpr const char* kNotAvailable = "N/A";
inline constexpr const char* kStatusPresent = "present";
inline constexpr const char* kStatusUnknown = "unknown";
inline constexpr const char* kStatusUnsupported = "unsupported";
inline constexpr const char* kStatusDerived = "derived";
inline constexpr const char* kStatusPartial = "partial";
inline constexpr const char* kStatusValidated = "validated";
inline constexpr const char* kTrailingBitsName = "rbsp_trailing_bits()";
inline constexpr const char* kTrailingBitsSemantics = "RBSP trailing bits are consumed by FFmpeg";

// The text of a string literal, converted once and then shared: a selection builds tens
// of thousands of rows whose fixed texts would otherwise each be a fresh allocation.
[[nodiscard]] QString internedText(const char* literal);

inline constexpr int kSharedNumberCount = 1024;
[[nodiscard]] QString sharedNumberText(int value);  // 0 <= value < kSharedNumberCount

// A number in decimal; the small ones, which most syntax values are, are made once.
template <typename T>
[[nodiscard]] QString numberText(T value)
{
    if (value >= 0 && value < static_cast<T>(kSharedNumberCount)) {
        return sharedNumberText(static_cast<int>(value));
    }
    return QString::number(value);
}

// Rows.
void appendSyntaxRow(std::vector<SyntaxRow>& rows, QString syntax, QString value, QString condition,
                     bool present, QString semantics);
void appendUnsupportedRow(std::vector<SyntaxRow>& rows, QString syntax, QString condition, QString semantics);
void appendExportedSyntaxRow(std::vector<SyntaxRow>& rows, const analysis::ParameterSetInfo& parameterSet,
                             const QString& syntax, QString condition, QString semantics);
void appendProfileTierLevelRows(std::vector<SyntaxRow>& rows, const analysis::ParameterSetInfo& parameterSet);

// Predicates.
[[nodiscard]] const analysis::SyntaxElementInfo* findSyntaxElement(const analysis::ParameterSetInfo& parameterSet,
                                                                   std::string_view name);
[[nodiscard]] bool syntaxFieldIsSet(const analysis::ParameterSetInfo& parameterSet, std::string_view name);
[[nodiscard]] bool startsWithAscii(std::string_view text, const char* prefix);

// Summaries and names.
[[nodiscard]] QString nalUnitSummaryText(const analysis::NalUnitInfo& nalUnit);
[[nodiscard]] QString nalUnitSummaryById(const NalUnitIndex& nalUnits, const analysis::StableId& id);
[[nodiscard]] QString parameterSetRbspName(analysis::ParameterSetKind kind);
[[nodiscard]] QString sliceSummaryText(const analysis::SliceInfo& slice);
[[nodiscard]] QString seiPayloadTypeName(std::uint32_t payloadType);

// Value formatters ("N/A" for an absent value).
[[nodiscard]] QString formatOptionalUInt8(const std::optional<std::uint8_t>& value);
[[nodiscard]] QString formatOptionalUInt16(const std::optional<std::uint16_t>& value);
[[nodiscard]] QString formatOptionalUInt32(const std::optional<std::uint32_t>& value);
[[nodiscard]] QString formatOptionalUInt64(const std::optional<std::uint64_t>& value);
[[nodiscard]] QString formatOptionalInt16(const std::optional<std::int16_t>& value);
[[nodiscard]] QString formatOptionalInt32(const std::optional<std::int32_t>& value);
[[nodiscard]] QString formatOptionalBool(const std::optional<bool>& value);
[[nodiscard]] QString formatOptionalUInt8Minus8(const std::optional<std::uint8_t>& value);
[[nodiscard]] QString formatOptionalUInt8Minus1(const std::optional<std::uint8_t>& value);
[[nodiscard]] QString formatOptionalUInt16Minus1(const std::optional<std::uint16_t>& value);
[[nodiscard]] QString boolText(bool value);

template <typename T>
[[nodiscard]] QString presentOrUnknown(const std::optional<T>& value)
{
    return internedText(value.has_value() ? kStatusPresent : kStatusUnknown);
}

// Display texts of document codes.
[[nodiscard]] QString nalUnitKindText(analysis::NalUnitKind kind);
[[nodiscard]] QString parameterSetKindText(analysis::ParameterSetKind kind);
[[nodiscard]] QString profileText(analysis::StreamProfile profile);
[[nodiscard]] QString sliceTypeText(analysis::SliceType type);
[[nodiscard]] QString parseStatusText(analysis::ParseStatus status);
[[nodiscard]] QString rpsSourceText(analysis::ValueOrigin origin);
[[nodiscard]] QString referenceStatusText(analysis::ReferenceStatus status);
[[nodiscard]] QString stableIdText(const analysis::StableId& id);

}  // namespace vexilo::syntaxrows
