#pragma once

#include "validation/ValidationContext.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

// Rule tables: each collection's rules are one tuple of rows in validation order,
// walked by applyRules(). A row names its field path and reads its value through a
// pointer to the record member, so a table reads like the rule list it encodes.
// A tuple rather than an array of variants: every row is then a constant the compiler
// sees through, so its reader and condition are inlined instead of being called through
// a pointer for each of millions of blocks.
namespace vexilo::analysis::validation {

template <typename Record>
using NumberReader = std::optional<std::int64_t> (*)(const Record&);

template <typename Record>
using ReferenceReader = std::optional<StableId> (*)(const Record&);

// A number (plain or optional; absent values pass) that must lie in [min, max].
template <typename Record>
struct RangeRow {
    std::string_view field;
    NumberReader<Record> value;
    std::int64_t min;
    std::int64_t max;
    std::string_view message;
};

// A reference (plain or optional; absent ones pass) into a typed identity set.
template <typename Record>
struct ParentRow {
    std::string_view field;
    ReferenceReader<Record> reference;
    ParentCollection parent;
};

template <typename Record>
struct StringRow {
    std::string_view field;
    const std::string& (*value)(const Record&);
    bool required;
};

// A rule with a condition of its own and a fixed kind and message.
template <typename Record>
struct ConditionRow {
    std::string_view field;
    bool (*fails)(const ValidationContext&, const Record&);
    ValidationIssueKind kind;
    std::string_view message;
};

// Rules over a nested list, which keep state across its entries.
template <typename Record>
struct ListRow {
    void (*apply)(ValidationContext&, const Record&);
};

// --- reading members generically --------------------------------------------------------

template <typename T>
struct MemberPointerTraits;

template <typename Record, typename Field>
struct MemberPointerTraits<Field Record::*> {
    using RecordType = Record;
    using FieldType = Field;
};

template <auto Member>
using RecordOf = typename MemberPointerTraits<decltype(Member)>::RecordType;

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <typename T>
constexpr std::int64_t widenNumber(T value) noexcept
{
    if constexpr (std::is_enum_v<T>) {
        return widenNumber(static_cast<std::underlying_type_t<T>>(value));
    } else {
        // u64 fields have no range rule; refusing them here keeps the widening exact.
        static_assert(std::is_integral_v<T> && !(std::is_unsigned_v<T> && sizeof(T) == sizeof(std::uint64_t)),
                      "range rules take integers that fit a signed 64-bit number");
        return static_cast<std::int64_t>(value);
    }
}

template <typename Field>
constexpr std::optional<std::int64_t> widenField(const Field& field) noexcept
{
    if constexpr (IsOptional<Field>::value) {
        return field ? std::optional<std::int64_t>(widenNumber(*field)) : std::nullopt;
    } else {
        return widenNumber(field);
    }
}

template <auto Member>
std::optional<std::int64_t> readNumber(const RecordOf<Member>& record)
{
    return widenField(record.*Member);
}

template <auto Member>
std::optional<StableId> readReference(const RecordOf<Member>& record)
{
    return record.*Member;
}

template <auto Member>
const std::string& readString(const RecordOf<Member>& record)
{
    return record.*Member;
}

template <auto Member>
constexpr bool isPresent(const RecordOf<Member>& record)
{
    return (record.*Member).has_value();
}

// True when any of the optional members is present.
template <auto... Members, typename Record>
constexpr bool anyPresent(const Record& record)
{
    return (isPresent<Members>(record) || ...);
}

// --- row factories ------------------------------------------------------------------------

template <auto Member>
constexpr RangeRow<RecordOf<Member>> rangeRow(std::string_view field, std::int64_t min, std::int64_t max,
                                              std::string_view message)
{
    return {field, &readNumber<Member>, min, max, message};
}

template <auto Member>
constexpr RangeRow<RecordOf<Member>> enumRow(std::string_view field, std::int64_t largest)
{
    return {field, &readNumber<Member>, 0, largest, kEnumRangeMessage};
}

template <auto Member>
constexpr RangeRow<RecordOf<Member>> bitDepthRow(std::string_view field)
{
    return {field, &readNumber<Member>, kMinBitDepth, kMaxBitDepth, kBitDepthMessage};
}

template <auto Member>
constexpr RangeRow<RecordOf<Member>> codedDimensionRow(std::string_view field)
{
    return {field, &readNumber<Member>, kMinCodedDimension, kMaxCodedDimension, kCodedDimensionMessage};
}

template <auto Member>
constexpr ParentRow<RecordOf<Member>> parentRow(std::string_view field, ParentCollection parent)
{
    return {field, &readReference<Member>, parent};
}

template <auto Member>
constexpr StringRow<RecordOf<Member>> requiredStringRow(std::string_view field)
{
    return {field, &readString<Member>, true};
}

template <auto Member>
constexpr StringRow<RecordOf<Member>> optionalStringRow(std::string_view field)
{
    return {field, &readString<Member>, false};
}

template <typename Record>
bool hasMalformedBounds(const ValidationContext&, const Record& record)
{
    return !blockBoundsWellFormed(record.bounds);
}

template <typename Record>
constexpr ConditionRow<Record> blockBoundsRow(std::string_view field)
{
    return {field, &hasMalformedBounds<Record>, ValidationIssueKind::InvalidCoordinate, kBlockBoundsMessage};
}

// A malformed block (parse status 2) must keep the decoder's error code.
template <typename Record>
bool lostParserErrorCode(const ValidationContext&, const Record& record)
{
    return static_cast<std::uint8_t>(record.parseStatus) == 2 && !record.parserErrorCode;
}

template <typename Record>
constexpr ConditionRow<Record> parserErrorCodeRow(std::string_view field, std::string_view message)
{
    return {field, &lostParserErrorCode<Record>, ValidationIssueKind::InvalidValue, message};
}

// --- walking the tables ---------------------------------------------------------------------

// Each row is applied inline where its table is walked: an out-of-line applyRow would be
// shared by every row of its kind and would read the row's reader through a pointer again.

template <typename Record>
[[gnu::always_inline]] inline void applyRow(ValidationContext& context, const Record& record,
                                             const RangeRow<Record>& row)
{
    const std::optional<std::int64_t> value = row.value(record);
    if (value && (*value < row.min || *value > row.max)) {
        context.report(ValidationIssueKind::InvalidRange, record.id, std::string(row.field), row.message);
    }
}

template <typename Record>
[[gnu::always_inline]] inline void applyRow(ValidationContext& context, const Record& record,
                                             const ParentRow<Record>& row)
{
    if (const std::optional<StableId> reference = row.reference(record)) {
        checkParentReference(context, record.id, *reference, row.parent, row.field);
    }
}

template <typename Record>
[[gnu::always_inline]] inline void applyRow(ValidationContext& context, const Record& record,
                                             const StringRow<Record>& row)
{
    checkSchemaString(context, record.id, row.value(record), row.required, row.field);
}

template <typename Record>
[[gnu::always_inline]] inline void applyRow(ValidationContext& context, const Record& record,
                                             const ConditionRow<Record>& row)
{
    if (row.fails(context, record)) {
        context.report(row.kind, record.id, std::string(row.field), row.message);
    }
}

template <typename Record>
[[gnu::always_inline]] inline void applyRow(ValidationContext& context, const Record& record,
                                             const ListRow<Record>& row)
{
    row.apply(context, record);
}

// The table is a template argument, so each row's reader and condition are constants
// here and are inlined like hand-written checks.
template <const auto& Rules, typename Record>
void applyRules(ValidationContext& context, const Record& record)
{
    constexpr std::size_t kRowCount = std::tuple_size_v<std::remove_cvref_t<decltype(Rules)>>;
    [&]<std::size_t... Row>(std::index_sequence<Row...>) {
        (applyRow(context, record, std::get<Row>(Rules)), ...);
    }(std::make_index_sequence<kRowCount>{});
}

// Runs the rules on every element in storage order; `afterEach` fills the lookup
// tables that later elements or collections consult.
template <const auto& Rules, typename Record>
void validateElements(ValidationContext& context, const std::vector<Record>& records,
                      void (*afterEach)(ValidationContext&, const Record&, std::size_t) = nullptr)
{
    for (std::size_t position = 0; position < records.size(); ++position) {
        context.currentElement = position;
        applyRules<Rules>(context, records[position]);
        if (afterEach != nullptr) {
            afterEach(context, records[position], position);
        }
    }
}

}  // namespace vexilo::analysis::validation
