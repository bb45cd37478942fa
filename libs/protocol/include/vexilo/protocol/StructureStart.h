#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QLatin1StringView>

#include <cstdint>
#include <optional>
#include <vector>

namespace vexilo::protocol {

// Where the worker's analysis of one picture's structure takes up the stream, carried in the
// "analyze" request: the access unit of a random-access picture at or before the picture, and
// what an analysis of the stream from its start had counted by then. The desktop works it out
// from the stream's analysis; a run that starts there gives the picture the identities, POC and
// display index that run gave it, at the cost of the pictures from that point on.
struct StructureStart {
    std::uint64_t accessUnitOffset = 0;
    std::uint64_t firstSliceOffset = 0;
    std::uint64_t picturesBefore = 0;
    std::uint64_t slicesBefore = 0;
    std::uint64_t nalUnitsBefore = 0;
    std::int32_t picOrderCnt = 0;
    std::int64_t firstDisplayIndex = 0;
    // Whether its RASL pictures, which a decode from it skips, took decode identities there.
    bool skippedPicturesTakeIdentities = false;
    struct Span {
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        friend bool operator==(const Span&, const Span&) = default;
    };
    // The parameter sets to give the decoder ahead of the access unit, in stream order.
    std::vector<Span> parameterSets;

    friend bool operator==(const StructureStart&, const StructureStart&) = default;
};

// The member of the "analyze" payload that holds it.
inline constexpr QLatin1StringView kStructureStartKey{"structureStart"};

[[nodiscard]] QJsonObject structureStartToJson(const StructureStart& start);
// Empty when the value is not an object of whole numbers in range (and a boolean flag).
[[nodiscard]] std::optional<StructureStart> structureStartFromJson(const QJsonValue& value);

}  // namespace vexilo::protocol
