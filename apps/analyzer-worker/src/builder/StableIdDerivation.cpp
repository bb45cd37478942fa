#include "builder/StableIdDerivation.h"

#include <array>
#include <cstddef>

namespace vexilo::analyzer {
namespace {

constexpr std::uint64_t kGoldenRatio = 0x9e3779b97f4a7c15ULL;
constexpr std::uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

std::uint64_t fnvAddLittleEndian(std::uint64_t hash, std::uint64_t value) noexcept
{
    for (int byte = 0; byte < 8; ++byte) {
        hash ^= (value >> (8 * byte)) & 0xFFu;
        hash *= kFnvPrime;
    }
    return hash;
}

// The hash after the parent and the kind, the first 24 of its 40 bytes: the children of one
// parent are derived one after another (the TUs and PUs of a CU, the vectors of a PU), and
// this state is their common part. One remembered parent per kind, for each thread.
struct PrefixMemo {
    static constexpr std::size_t kSlots = 16;
    struct Slot {
        analysis::StableId parent;
        std::uint64_t objectKind = 0;
        std::uint64_t hash = 0;
        bool filled = false;
    };
    std::array<Slot, kSlots> remembered{};

    std::uint64_t hashOf(const analysis::StableId& parent, std::uint64_t objectKind) noexcept
    {
        Slot& slot = remembered[objectKind % kSlots];
        if (!slot.filled || slot.parent != parent || slot.objectKind != objectKind) {
            std::uint64_t hash = kFnvOffsetBasis;
            for (const std::uint64_t word : std::array{parent.high, parent.low, objectKind}) {
                hash = fnvAddLittleEndian(hash, word);
            }
            slot = Slot{parent, objectKind, hash, true};
        }
        return slot.hash;
    }
};

}  // namespace

analysis::StableId deriveStableId(const analysis::StableId& parent, std::uint64_t objectKind, std::uint64_t key,
                                  std::uint64_t extra) noexcept
{
    thread_local PrefixMemo memo;
    analysis::StableId id;
    id.high = (objectKind * kGoldenRatio) ^ parent.high;
    std::uint64_t hash = memo.hashOf(parent, objectKind);
    for (const std::uint64_t word : std::array{key, extra}) {
        hash = fnvAddLittleEndian(hash, word);
    }
    id.low = hash;
    if (id.high == 0 && id.low == 0) {
        id.low = 1;
    }
    return id;
}

}  // namespace vexilo::analyzer
