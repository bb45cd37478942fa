#pragma once

#include "vexilo/analysis/StableId.h"

#include <cstdint>

namespace vexilo::analyzer {

// Object kinds of the identity derivation: every analysis object's identity follows
// from its parent's, its kind, a key and an extra value.
enum class ObjectKind : std::uint64_t {
    NalUnit = 1,
    ParameterSet = 2,
    SeiMessage = 3,
    PictureSummary = 4,
    Slice = 5,
    ReferenceListEntry = 6,
    ShortTermRpsEntry = 7,
    LongTermRpsEntry = 8,
    DpbSnapshotEntry = 9,
    Ctu = 10,
    Cu = 11,
    Pu = 12,
    MotionVector = 13,
    Tu = 14,
    UndecodedStreamIssue = 91,
    MissingReferenceIssue = 92,
    RejectedPictureIssue = 93,
    IncompletePictureIssue = 94,
    SyntaxDiagnostic = 95,
    OmittedBlocksIssue = 96,
    AnalyzerIssue = 97,
    PartialCollectionIssue = 98,
    RejectedPacket = 99,
};

[[nodiscard]] analysis::StableId deriveStableId(const analysis::StableId& parent, std::uint64_t objectKind,
                                                std::uint64_t key, std::uint64_t extra) noexcept;

[[nodiscard]] inline analysis::StableId deriveStableId(const analysis::StableId& parent, ObjectKind objectKind,
                                                       std::uint64_t key, std::uint64_t extra = 0) noexcept
{
    return deriveStableId(parent, static_cast<std::uint64_t>(objectKind), key, extra);
}

// Keys of NAL units that have no byte location of their own; the top bits keep them
// apart from byte offsets.
[[nodiscard]] constexpr std::uint64_t composeKey32(std::uint32_t a, std::uint32_t b) noexcept
{
    return (std::uint64_t{a} << 32) | b | 0x8000000000000000ULL;
}

[[nodiscard]] constexpr std::uint64_t composeKey48(std::uint64_t a, std::uint64_t b) noexcept
{
    return (a << 48) | (b & 0xFFFFFFFFFFFFULL) | 0x9000000000000000ULL;
}

}  // namespace vexilo::analyzer
