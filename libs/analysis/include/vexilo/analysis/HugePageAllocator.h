#pragma once

#include "vexilo/analysis/HugePages.h"

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>

namespace vexilo::analysis {

// An allocator for the few arrays of a long stream's analysis that run to tens of megabytes
// and are touched all over (identity tables): it asks the kernel for transparent huge pages
// there, so filling them costs a fault per 2 MiB instead of one per 4 KiB. Smaller arrays
// come from the ordinary allocator.
template <typename T>
class HugePageAllocator {
public:
    using value_type = T;

    HugePageAllocator() noexcept = default;
    template <typename U>
    explicit HugePageAllocator(const HugePageAllocator<U>&) noexcept
    {
    }

    [[nodiscard]] T* allocate(std::size_t count)
    {
        if (!isHuge(count)) {
            return std::allocator<T>{}.allocate(count);
        }
        if (count > (std::numeric_limits<std::size_t>::max() - kHugePageBytes) / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        void* memory = std::aligned_alloc(kHugePageBytes, roundedBytes(count));
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        adviseHugePages(memory, roundedBytes(count));
        return static_cast<T*>(memory);
    }

    void deallocate(T* memory, std::size_t count) noexcept
    {
        if (!isHuge(count)) {
            std::allocator<T>{}.deallocate(memory, count);
            return;
        }
        std::free(memory);
    }

    template <typename U>
    friend bool operator==(const HugePageAllocator&, const HugePageAllocator<U>&) noexcept
    {
        return true;
    }

private:
    static bool isHuge(std::size_t count) noexcept { return count >= kHugePageBytes / sizeof(T); }

    // aligned_alloc wants a multiple of the alignment; allocate has checked the count.
    static std::size_t roundedBytes(std::size_t count) noexcept
    {
        return (count * sizeof(T) + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    }
};

}  // namespace vexilo::analysis
