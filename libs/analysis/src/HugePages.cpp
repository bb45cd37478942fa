#include "vexilo/analysis/HugePages.h"

#include <cstdint>

#include <sys/mman.h>

namespace vexilo::analysis {

bool adviseHugePages(void* data, std::size_t bytes) noexcept
{
#if !defined(MADV_HUGEPAGE)
    (void)data;
    (void)bytes;
    return false;
#else
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t firstWhole = (begin + kHugePageBytes - 1) & ~std::uintptr_t{kHugePageBytes - 1};
    const std::uintptr_t endWhole = (begin + bytes) & ~std::uintptr_t{kHugePageBytes - 1};
    if (bytes == 0 || endWhole <= firstWhole) {
        return false;
    }
    return madvise(reinterpret_cast<void*>(firstWhole), endWhole - firstWhole, MADV_HUGEPAGE) == 0;
#endif
}

}  // namespace vexilo::analysis
