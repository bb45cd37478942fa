#pragma once

#include "vexilo/analysis/StableId.h"

#include <cstdint>
#include <optional>

namespace vexilo::analysis {

// Enumeration codes are stored as small unsigned numbers with 0 meaning "not determined".
// Codes outside the named values are kept as they are, so that the validator can report them.

// Kept 32 bits wide in memory; the stored form keeps only the low byte.
enum class PictureType : std::uint32_t {
    Unknown = 0,
    I = 1,
    P = 2,
    B = 3,
};

enum class PictureCompleteness : std::uint8_t {
    Unknown = 0,
    Partial = 1,
    Complete = 2,
    Failed = 3,
};

enum class ReferenceList : std::uint8_t {
    Unknown = 0,
    L0 = 1,
    L1 = 2,
};

enum class ReferenceStatus : std::uint8_t {
    Unknown = 0,
    Available = 1,
    Unavailable = 2,
    Corrupt = 3,
    CurrentPicture = 4,
};

// Where a value came from.
enum class ValueOrigin : std::uint8_t {
    Unknown = 0,
    SliceHeader = 1,
    Sps = 2,
    Derived = 3,
};

// One per decoded picture (collection `pictures`); parent: the document.
struct PictureAnalysisSummary {
    StableId id{};
    StableId parentStreamAnalysisId{};
    std::optional<std::uint64_t> pictureId{};
    std::optional<std::int64_t> displayIndex{};
    std::optional<std::int64_t> decodeIndex{};
    std::optional<std::int64_t> pts{};
    std::optional<std::int64_t> dts{};
    std::optional<std::int32_t> poc{};
    PictureType pictureType = PictureType::Unknown;
    std::optional<std::uint32_t> width{};
    std::optional<std::uint32_t> height{};
    std::optional<std::uint8_t> bitDepth{};
    std::optional<std::uint32_t> sliceCount{};
    std::optional<std::uint32_t> ctuCount{};
    std::optional<std::uint64_t> cuCount{};
    std::optional<std::uint64_t> puCount{};
    std::optional<std::uint64_t> tuCount{};
    PictureCompleteness completeness = PictureCompleteness::Unknown;

    friend bool operator==(const PictureAnalysisSummary&, const PictureAnalysisSummary&) = default;
};

// One entry of a slice's actual reference picture list L0 or L1 (collection `referencePictures`).
struct ReferencePictureEntry {
    StableId id{};
    StableId parentSliceId{};
    ReferenceList list = ReferenceList::Unknown;
    std::optional<std::uint8_t> listIndex{};
    std::optional<std::uint64_t> targetPictureId{};
    std::optional<std::int32_t> poc{};
    std::optional<bool> longTerm{};
    ReferenceStatus status = ReferenceStatus::Unknown;
    ValueOrigin origin = ValueOrigin::Derived;

    friend bool operator==(const ReferencePictureEntry&, const ReferencePictureEntry&) = default;
};

// One entry of the short-term reference picture set a slice uses
// (collection `shortTermReferencePictures`).
struct ShortTermReferencePictureEntry {
    StableId id{};
    StableId parentSliceId{};
    std::optional<std::uint8_t> entryIndex{};
    std::optional<std::int32_t> deltaPoc{};
    std::optional<std::int32_t> poc{};
    std::optional<bool> used{};
    std::optional<bool> negative{};
    ValueOrigin deltaPocOrigin = ValueOrigin::Derived;
    ValueOrigin usedOrigin = ValueOrigin::Unknown;

    friend bool operator==(const ShortTermReferencePictureEntry&,
                           const ShortTermReferencePictureEntry&) = default;
};

// One long-term reference picture entry of a slice, in slice-header syntax order
// (collection `longTermReferencePictures`).
struct LongTermReferencePictureEntry {
    StableId id{};
    StableId parentSliceId{};
    std::optional<std::uint8_t> entryIndex{};
    std::optional<std::int32_t> pocLsb{};
    std::optional<std::int32_t> poc{};
    std::optional<bool> used{};
    std::optional<bool> deltaPocMsbPresent{};
    std::optional<std::uint32_t> deltaPocMsbCycle{};
    ValueOrigin origin = ValueOrigin::Unknown;

    friend bool operator==(const LongTermReferencePictureEntry&,
                           const LongTermReferencePictureEntry&) = default;
};

// One occupied decoded-picture-buffer slot after a slice's reference construction
// (collection `dpbSnapshotEntries`). The five flags mirror bits 0 to 4 of the decoder's
// frame flag word.
struct DpbSnapshotEntry {
    StableId id{};
    StableId parentSliceId{};
    std::optional<std::uint8_t> slot{};
    std::optional<std::uint64_t> pictureId{};
    std::optional<std::int32_t> poc{};
    std::optional<bool> output{};
    std::optional<bool> shortTermReference{};
    std::optional<bool> longTermReference{};
    std::optional<bool> frameFlag3{};
    std::optional<bool> frameFlag4{};
    ReferenceStatus status = ReferenceStatus::Unknown;
    ValueOrigin origin = ValueOrigin::Derived;

    friend bool operator==(const DpbSnapshotEntry&, const DpbSnapshotEntry&) = default;
};

}  // namespace vexilo::analysis
