#include "vexilo/protocol/StructureStart.h"

#include <QJsonArray>

#include <cmath>
#include <limits>

namespace vexilo::protocol {
namespace {

namespace key {
constexpr QLatin1StringView accessUnitOffset{"accessUnitOffset"};
constexpr QLatin1StringView firstSliceOffset{"firstSliceOffset"};
constexpr QLatin1StringView picturesBefore{"picturesBefore"};
constexpr QLatin1StringView slicesBefore{"slicesBefore"};
constexpr QLatin1StringView nalUnitsBefore{"nalUnitsBefore"};
constexpr QLatin1StringView picOrderCnt{"picOrderCnt"};
constexpr QLatin1StringView firstDisplayIndex{"firstDisplayIndex"};
constexpr QLatin1StringView skippedPicturesTakeIdentities{"skippedPicturesTakeIdentities"};
constexpr QLatin1StringView parameterSets{"parameterSets"};
}  // namespace key

// JSON numbers are doubles: whole numbers are exact up to 2^53.
constexpr double kLargestExactWhole = 9007199254740992.0;
constexpr std::size_t kSpanFields = 2;

std::optional<std::int64_t> wholeNumber(const QJsonValue& value, double lowest, double highest)
{
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!(number >= lowest && number <= highest) || std::trunc(number) != number) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(number);
}

std::optional<std::uint64_t> count(const QJsonObject& object, QLatin1StringView name)
{
    const auto number = wholeNumber(object.value(name), 0.0, kLargestExactWhole);
    return number ? std::optional(static_cast<std::uint64_t>(*number)) : std::nullopt;
}

QJsonValue asJson(std::uint64_t number)
{
    return QJsonValue(static_cast<double>(number));
}

std::optional<std::vector<StructureStart::Span>> spansFrom(const QJsonValue& value)
{
    if (!value.isArray()) {
        return std::nullopt;
    }
    std::vector<StructureStart::Span> spans;
    for (const QJsonValue& entry : value.toArray()) {
        const QJsonArray pair = entry.toArray();
        const auto offset = wholeNumber(pair.at(0), 0.0, kLargestExactWhole);
        const auto size = wholeNumber(pair.at(1), 1.0, kLargestExactWhole);
        if (!entry.isArray() || pair.size() != static_cast<qsizetype>(kSpanFields) || !offset || !size) {
            return std::nullopt;
        }
        spans.push_back({static_cast<std::uint64_t>(*offset), static_cast<std::uint64_t>(*size)});
    }
    return spans;
}

}  // namespace

QJsonObject structureStartToJson(const StructureStart& start)
{
    QJsonArray spans;
    for (const StructureStart::Span& span : start.parameterSets) {
        spans.append(QJsonArray{asJson(span.offset), asJson(span.size)});
    }
    return QJsonObject{
        {key::accessUnitOffset, asJson(start.accessUnitOffset)},
        {key::firstSliceOffset, asJson(start.firstSliceOffset)},
        {key::picturesBefore, asJson(start.picturesBefore)},
        {key::slicesBefore, asJson(start.slicesBefore)},
        {key::nalUnitsBefore, asJson(start.nalUnitsBefore)},
        {key::picOrderCnt, start.picOrderCnt},
        {key::firstDisplayIndex, static_cast<double>(start.firstDisplayIndex)},
        {key::skippedPicturesTakeIdentities, start.skippedPicturesTakeIdentities},
        {key::parameterSets, spans},
    };
}

std::optional<StructureStart> structureStartFromJson(const QJsonValue& value)
{
    const QJsonObject object = value.toObject();
    const auto accessUnitOffset = count(object, key::accessUnitOffset);
    const auto firstSliceOffset = count(object, key::firstSliceOffset);
    const auto picturesBefore = count(object, key::picturesBefore);
    const auto slicesBefore = count(object, key::slicesBefore);
    const auto nalUnitsBefore = count(object, key::nalUnitsBefore);
    const auto firstDisplayIndex = count(object, key::firstDisplayIndex);
    const auto picOrderCnt = wholeNumber(object.value(key::picOrderCnt), std::numeric_limits<std::int32_t>::min(),
                                         std::numeric_limits<std::int32_t>::max());
    const QJsonValue flag = object.value(key::skippedPicturesTakeIdentities);
    const auto spans = spansFrom(object.value(key::parameterSets));
    if (!value.isObject() || !accessUnitOffset || !firstSliceOffset || !picturesBefore || !slicesBefore ||
        !nalUnitsBefore || !firstDisplayIndex || !picOrderCnt || !flag.isBool() || !spans ||
        *firstSliceOffset < *accessUnitOffset) {
        return std::nullopt;
    }
    StructureStart start;
    start.accessUnitOffset = *accessUnitOffset;
    start.firstSliceOffset = *firstSliceOffset;
    start.picturesBefore = *picturesBefore;
    start.slicesBefore = *slicesBefore;
    start.nalUnitsBefore = *nalUnitsBefore;
    start.picOrderCnt = static_cast<std::int32_t>(*picOrderCnt);
    start.firstDisplayIndex = static_cast<std::int64_t>(*firstDisplayIndex);
    start.skippedPicturesTakeIdentities = flag.toBool();
    start.parameterSets = std::move(*spans);
    return start;
}

}  // namespace vexilo::protocol
