#pragma once

// A hand-written scanner for the few shapes the manifest parser looks for. It
// accepts and refuses exactly what these ECMAScript patterns do, first match
// anywhere in the text:
//   "KEY"\s*:\s*"([^"]*)"        string field
//   "KEY"\s*:\s*(\d+)            number field
//   \{\s*"stable_id_high"\s*:\s*(\d+)\s*,\s*"stable_id_low"\s*:\s*(\d+)\s*,\s*"path"\s*:\s*"([^"]*)"\s*\}
// Every step only moves forward, so a scan is linear in the text and uses no
// recursion; a backtracking regex engine overflows its stack on long values.

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace vexilo::analysis::manifestscan {

// The raw characters between the quotes of the first matching string field.
[[nodiscard]] std::optional<std::string_view> findStringField(std::string_view text,
                                                              std::string_view key);

// The digits of the first matching number field (not converted).
[[nodiscard]] std::optional<std::string_view> findNumberDigits(std::string_view text,
                                                               std::string_view key);

struct PictureEntryMatch {
    std::string_view highDigits;
    std::string_view lowDigits;
    std::string_view path;
};

// Calls `visit` for every non-overlapping entry match in text order; stops early
// when `visit` returns false.
void forEachPictureEntry(std::string_view text,
                         const std::function<bool(const PictureEntryMatch&)>& visit);

// Base-10 digits as an unsigned 64-bit number; absent when it does not fit.
[[nodiscard]] std::optional<std::uint64_t> parseDecimalU64(std::string_view digits) noexcept;

}  // namespace vexilo::analysis::manifestscan
