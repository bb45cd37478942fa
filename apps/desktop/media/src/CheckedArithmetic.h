#pragma once

#include <cstdint>
#include <optional>

namespace vexilo::media {

// Sizes taken from files, streams or user input are combined only through these, so that
// hostile geometry ends in a refusal instead of a wrapped allocation size.
[[nodiscard]] inline std::optional<std::uint64_t> checkedMultiply(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) {
        return std::nullopt;
    }
    return product;
}

[[nodiscard]] inline std::optional<std::uint64_t> checkedAdd(std::uint64_t a, std::uint64_t b) {
    std::uint64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return std::nullopt;
    }
    return sum;
}

}  // namespace vexilo::media
