#include "vexilo/analysis/HugePages.h"

#include "WorkBeside.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

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

namespace {

// Below this the faults are too few to be worth a thread.
constexpr std::size_t kBytesWorthFaultingBeside = std::size_t{64} << 20;
// Threads that fault beside one writer, at most, and never more than the cores beside its own.
constexpr std::size_t kMaxFaultingThreads = 3;
// Each step faults in this share of every room, so that the writer, which fills the rooms
// side by side, finds each of them ready about as far.
constexpr std::size_t kSteps = 64;

}  // namespace

PagesFaultedBeside::PagesFaultedBeside(std::vector<Room> rooms) : rooms_(std::move(rooms))
{
#if defined(MADV_POPULATE_WRITE)
    std::size_t total = 0;
    for (const Room& room : rooms_) {
        total += room.bytes;
    }
    if (total < kBytesWorthFaultingBeside) {
        return;
    }
    // On a single core the writer faults as it goes: a thread beside would cost the same time.
    const std::size_t threads = std::min(usableCores() - 1, kMaxFaultingThreads);
    faulting_.reserve(threads);
    for (std::size_t firstStep = 0; firstStep < threads; ++firstStep) {
        // Without a thread the work is left deferred, and so never done: the writer faults as it goes.
        faulting_.push_back(startBeside(true, [this, firstStep, threads] { faultIn(firstStep, threads); }));
    }
#endif
}

PagesFaultedBeside::~PagesFaultedBeside()
{
    stopping_.store(true);
}

void PagesFaultedBeside::faultIn(std::size_t firstStep, std::size_t stride) const noexcept
{
#if defined(MADV_POPULATE_WRITE)
    const auto pageBytes = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    for (std::size_t step = firstStep; step < kSteps; step += stride) {
        for (const Room& room : rooms_) {
            if (stopping_.load(std::memory_order_relaxed)) {
                return;
            }
            const auto begin = reinterpret_cast<std::uintptr_t>(room.data);
            // Whole pages from the one that holds the step's first byte.
            const std::uintptr_t first = (begin + room.bytes * step / kSteps) & ~(pageBytes - 1);
            const std::uintptr_t end = begin + room.bytes * (step + 1) / kSteps;
            // A kernel without the request says so at once; the writer then faults as it goes.
            if (end > first && madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE) != 0 &&
                errno == EINVAL) {
                return;
            }
        }
    }
#else
    (void)firstStep;
    (void)stride;
#endif
}

}  // namespace vexilo::analysis
