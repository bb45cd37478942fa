#pragma once

#include <cstddef>
#include <vector>

namespace vexilo::analysis {

// Transparent huge pages are often handed out on request only (the "madvise" mode). A
// large buffer then pays one page fault per 4 KiB the first time it is written, and on
// some virtual machines those faults cost more than the writing itself; 2 MiB pages cut
// them five hundredfold.
inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
// Smaller buffers are left alone: they rarely span a whole huge page.
inline constexpr std::size_t kHugePageAdviceThreshold = 2 * kHugePageBytes;

// Asks for huge pages over the whole 2 MiB pages inside [data, data + bytes). It takes
// effect on memory not yet touched. Returns whether the system took the advice; the
// memory works the same either way.
bool adviseHugePages(void* data, std::size_t bytes) noexcept;

// Reserves room for `count` values and, when that is large, asks for huge pages over the
// room not yet written.
template <typename Value>
void reserveOnHugePages(std::vector<Value>& values, std::size_t count)
{
    if (count <= values.capacity()) {
        return;
    }
    values.reserve(count);
    const std::size_t freeBytes = (values.capacity() - values.size()) * sizeof(Value);
    if (freeBytes >= kHugePageAdviceThreshold) {
        adviseHugePages(values.data() + values.size(), freeBytes);
    }
}

}  // namespace vexilo::analysis
