#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace vexilo::analysis {

// The 128-bit identity of one analysis object; both words zero is the null identity.
struct StableId {
    std::uint64_t high = 0;
    std::uint64_t low = 0;

    [[nodiscard]] constexpr bool isNull() const noexcept { return high == 0 && low == 0; }
    friend constexpr auto operator<=>(const StableId&, const StableId&) = default;
};

struct StableIdHash {
    std::size_t operator()(const StableId& id) const noexcept
    {
        // The words are already well mixed (digest bytes or FNV output); fold them.
        return static_cast<std::size_t>(id.high * 0x9e3779b97f4a7c15ULL ^ id.low);
    }
};

}  // namespace vexilo::analysis
