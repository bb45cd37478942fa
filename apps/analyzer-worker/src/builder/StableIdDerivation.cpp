#include "builder/StableIdDerivation.h"

#include <array>
#include <bit>
#include <cstddef>

namespace vexilo::analyzer {
namespace {

constexpr std::uint64_t kGoldenRatio = 0x9e3779b97f4a7c15ULL;
constexpr std::uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

// kFnvPrime to the powers 0 to 8.
constexpr std::array<std::uint64_t, 9> kFnvPrimePowers = [] {
    std::array<std::uint64_t, 9> powers{};
    powers[0] = 1;
    for (std::size_t n = 1; n < powers.size(); ++n) {
        powers[n] = powers[n - 1] * kFnvPrime;
    }
    return powers;
}();

std::uint64_t fnvAddLittleEndian(std::uint64_t hash, std::uint64_t value) noexcept
{
    // A zero byte only multiplies by the prime, so the zero bytes above the value's highest
    // set byte (nearly all of them: keys are small, the extra value mostly 0) take one
    // multiplication together instead of one each; a block's identity costs a few
    // multiplications instead of sixteen dependent ones.
    const auto bytes = static_cast<unsigned>((std::bit_width(value) + 7) / 8);
    for (unsigned byte = 0; byte < bytes; ++byte) {
        hash ^= (value >> (8 * byte)) & 0xFFu;
        hash *= kFnvPrime;
    }
    return hash * kFnvPrimePowers[8 - bytes];
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
