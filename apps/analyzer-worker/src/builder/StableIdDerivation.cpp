#include "builder/StableIdDerivation.h"

#include <array>

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

}  // namespace

analysis::StableId deriveStableId(const analysis::StableId& parent, std::uint64_t objectKind, std::uint64_t key,
                                  std::uint64_t extra) noexcept
{
    analysis::StableId id;
    id.high = (objectKind * kGoldenRatio) ^ parent.high;
    std::uint64_t hash = kFnvOffsetBasis;
    for (const std::uint64_t word : std::array{parent.high, parent.low, objectKind, key, extra}) {
        hash = fnvAddLittleEndian(hash, word);
    }
    id.low = hash;
    if (id.high == 0 && id.low == 0) {
        id.low = 1;
    }
    return id;
}

}  // namespace vexilo::analyzer
