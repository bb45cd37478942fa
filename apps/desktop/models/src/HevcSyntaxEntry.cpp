#include "vexilo/models/HevcSyntaxEntry.h"

namespace vexilo {
namespace {

// Rows name these two structures by their call, arguments included.
constexpr std::string_view kProfileTierLevelCall = "profile_tier_level(";
constexpr std::string_view kProfileTierLevelName = "profile_tier_level()";
constexpr std::string_view kSeiPayloadCall = "sei_payload(";
constexpr std::string_view kSeiPayloadName = "sei_payload()";
constexpr std::string_view kIndexPlaceholder = "[]";

std::string_view searchTextOf(std::string_view name) noexcept
{
    if (name.starts_with(kProfileTierLevelCall)) {
        return kProfileTierLevelName;
    }
    if (name.starts_with(kSeiPayloadCall)) {
        return kSeiPayloadName;
    }
    return name;
}

// "[]" in the pattern stands for one non-empty bracketed index of the text.
bool matchesIndexedPattern(std::string_view pattern, std::string_view text) noexcept
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < pattern.size() && j < text.size()) {
        if (pattern.substr(i, kIndexPlaceholder.size()) == kIndexPlaceholder) {
            if (text[j] != '[') {
                return false;
            }
            const std::size_t close = text.find(']', j + 1);
            if (close == std::string_view::npos || close == j + 1) {
                return false;
            }
            i += kIndexPlaceholder.size();
            j = close + 1;
            continue;
        }
        if (pattern[i] != text[j]) {
            return false;
        }
        ++i;
        ++j;
    }
    return i == pattern.size() && j == text.size();
}

}  // namespace

const HevcSyntaxEntry* findHevcSyntaxEntry(std::string_view name) noexcept
{
    const std::string_view searchText = searchTextOf(name);
    for (const HevcSyntaxEntry& entry : hevcSyntaxCatalog) {
        if (entry.name == searchText) {
            return &entry;
        }
        if (entry.name.find(kIndexPlaceholder) != std::string_view::npos &&
            matchesIndexedPattern(entry.name, searchText)) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace vexilo
