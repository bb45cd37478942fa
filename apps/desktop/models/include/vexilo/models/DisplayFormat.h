#pragma once

// The one vocabulary in which every table of the desktop shows analysis values: an absent
// optional is "N/A", a code outside its table "unknown" or "Unknown", a boolean "true" or
// "false", numbers in plain decimal, identities in lower-case hexadecimal.

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/StreamAnalysis.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace vexilo::display {

inline const QString kNotAvailableText = QStringLiteral("N/A");
inline const QString kUnknownStatusText = QStringLiteral("unknown");

// Any enumeration of the document (or a plain code) as the number a text table is keyed by.
template <typename Code>
[[nodiscard]] constexpr auto codeOf(Code code) noexcept {
    if constexpr (std::is_enum_v<Code>) {
        return static_cast<std::underlying_type_t<Code>>(code);
    } else {
        return code;
    }
}

// Decimal of an integer of any width, keeping its signedness (an int8 of 0xFF is "-1").
template <typename Number>
[[nodiscard]] QString decimalText(Number value) {
    static_assert(std::is_integral_v<Number>);
    if constexpr (std::is_signed_v<Number>) {
        return QString::number(static_cast<qlonglong>(value));
    } else {
        return QString::number(static_cast<qulonglong>(value));
    }
}

template <typename Number>
[[nodiscard]] QString formatOptionalNumber(const std::optional<Number>& value) {
    return value.has_value() ? decimalText(*value) : kNotAvailableText;
}

[[nodiscard]] QString formatOptionalInt8(const std::optional<std::int8_t>& value);
[[nodiscard]] QString formatOptionalUInt8(const std::optional<std::uint8_t>& value);
[[nodiscard]] QString formatOptionalInt16(const std::optional<std::int16_t>& value);
[[nodiscard]] QString formatOptionalUInt16(const std::optional<std::uint16_t>& value);
[[nodiscard]] QString formatOptionalInt32(const std::optional<std::int32_t>& value);
[[nodiscard]] QString formatOptionalUInt32(const std::optional<std::uint32_t>& value);
[[nodiscard]] QString formatOptionalInt64(const std::optional<std::int64_t>& value);
[[nodiscard]] QString formatOptionalUInt64(const std::optional<std::uint64_t>& value);
[[nodiscard]] QString formatOptionalBool(const std::optional<bool>& value);

// The status text when the optional holds a value, else "unknown".
template <typename Value>
[[nodiscard]] QString presenceStatusText(const std::optional<Value>& value, const QString& status) {
    return value.has_value() ? status : kUnknownStatusText;
}

// "derived" for a non-null identity, else "unavailable".
[[nodiscard]] QString provenanceText(const analysis::StableId& id);

// "id:" and the low half in hexadecimal, at least 8 digits (the high half is not shown).
[[nodiscard]] QString shortIdText(const analysis::StableId& id);
// Both halves, 16 hexadecimal digits each, "high:low".
[[nodiscard]] QString stableIdText(const analysis::StableId& id);

// Text of a document string (UTF-8; invalid sequences become replacement characters).
[[nodiscard]] QString utf8Text(const std::string& text);

[[nodiscard]] QString parseStatusText(std::uint8_t code);
[[nodiscard]] QString seiStatusText(std::uint8_t code);
[[nodiscard]] QString nalUnitKindText(std::uint8_t code);
[[nodiscard]] QString parameterSetKindText(std::uint8_t code);
[[nodiscard]] QString profileText(std::uint8_t code);
[[nodiscard]] QString sliceTypeText(std::uint8_t code);
// A picture summary's type: the slice-type texts, over the summary's wider code.
[[nodiscard]] QString pictureTypeText(std::uint32_t code);
// The table cell of a picture type: "I", "P" or "B", anything else "N/A".
[[nodiscard]] QString pictureTypeCellText(std::uint32_t code);
[[nodiscard]] QString pictureCompletenessText(std::uint8_t code);
[[nodiscard]] QString rpsSourceText(std::uint8_t code);
[[nodiscard]] QString referenceStatusText(std::uint8_t code);
[[nodiscard]] QString referenceListText(std::uint8_t code);
[[nodiscard]] QString interDirectionText(std::uint8_t code);
[[nodiscard]] QString predictionModeText(std::uint8_t code);
[[nodiscard]] QString partModeText(std::uint8_t code);

// "x=%1 y=%2 w=%3 h=%4 unit=%5" with unit "luma-sample" or "unknown".
[[nodiscard]] QString blockBoundsText(const analysis::BlockRect& bounds);

[[nodiscard]] QString nalUnitSummaryText(const analysis::NalUnitInfo& nalUnit);
[[nodiscard]] QString sliceSummaryText(const analysis::SliceInfo& slice);
[[nodiscard]] QString pictureSummaryText(const analysis::PictureAnalysisSummary& picture);
[[nodiscard]] QString ctuSummaryText(const analysis::CtuInfo& ctu);
[[nodiscard]] QString cuSummaryText(const analysis::CuInfo& cu);
[[nodiscard]] QString puSummaryText(const analysis::PuInfo& pu);
[[nodiscard]] QString tuSummaryText(const analysis::TuInfo& tu);
[[nodiscard]] QString motionVectorSummaryText(const analysis::MotionVectorInfo& motionVector);

// Object references: the summary of the object found (null when none carries the id), or
// "Unresolved <kind> (id:...)". The document overloads take the first object of its
// collection with that id; models that already index the document pass what they found.
[[nodiscard]] QString nalUnitReferenceText(const analysis::NalUnitInfo* found, const analysis::StableId& id);
[[nodiscard]] QString sliceReferenceText(const analysis::SliceInfo* found, const analysis::StableId& id);
[[nodiscard]] QString pictureReferenceText(const analysis::PictureAnalysisSummary* found,
                                           const analysis::StableId& id);
[[nodiscard]] QString ctuReferenceText(const analysis::CtuInfo* found, const analysis::StableId& id);
[[nodiscard]] QString cuReferenceText(const analysis::CuInfo* found, const analysis::StableId& id);
[[nodiscard]] QString puReferenceText(const analysis::PuInfo* found, const analysis::StableId& id);
[[nodiscard]] QString tuReferenceText(const analysis::TuInfo* found, const analysis::StableId& id);

[[nodiscard]] QString nalUnitReferenceText(const analysis::StreamAnalysis& analysis, const analysis::StableId& id);
[[nodiscard]] QString sliceReferenceText(const analysis::StreamAnalysis& analysis, const analysis::StableId& id);
[[nodiscard]] QString pictureReferenceText(const analysis::StreamAnalysis& analysis, const analysis::StableId& id);
[[nodiscard]] QString ctuReferenceText(const analysis::StreamAnalysis& analysis, const analysis::StableId& id);
[[nodiscard]] QString cuReferenceText(const analysis::StreamAnalysis& analysis, const analysis::StableId& id);
[[nodiscard]] QString puReferenceText(const analysis::StreamAnalysis& analysis, const analysis::StableId& id);
[[nodiscard]] QString tuReferenceText(const analysis::StreamAnalysis& analysis, const analysis::StableId& id);

// The first record of a collection whose identity equals `id`, or null.
template <typename Record>
[[nodiscard]] const Record* findFirstById(const std::vector<Record>& records, const analysis::StableId& id) {
    for (const Record& record : records) {
        if (record.id == id) {
            return &record;
        }
    }
    return nullptr;
}

}  // namespace vexilo::display
