#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vexilo {

// One syntax structure or syntax element of Rec. ITU-T H.265 as the syntax views
// show it: the descriptor of its syntax table, a short meaning and the clause.
struct HevcSyntaxEntry {
    std::string_view name;           // "nal_unit()", "general_profile_compatibility_flag[]"
    std::string_view descriptor;     // "u(1)", "ue(v)" ...; empty for a structure
    std::string_view description;    // short English noun phrase
    std::uint64_t kind = 0;          // kHevcSyntaxStructure or kHevcSyntaxElement
    std::string_view specReference;  // "H.265 (07/2024) " and the clause
};

inline constexpr std::uint64_t kHevcSyntaxStructure = 0;
inline constexpr std::uint64_t kHevcSyntaxElement = 1;

inline constexpr std::size_t kHevcSyntaxCatalogSize = 382;

extern const std::array<HevcSyntaxEntry, kHevcSyntaxCatalogSize> hevcSyntaxCatalog;

// The catalogue entry of a syntax name in UTF-8, or null. Indexed names match
// entries written with "[]" per index ("flag[5]" finds "flag[]"); the call forms
// "profile_tier_level( ... )" and "sei_payload( ... )" find their structures.
// Pure, allocation-free and safe from any thread.
[[nodiscard]] const HevcSyntaxEntry* findHevcSyntaxEntry(std::string_view name) noexcept;

}  // namespace vexilo
