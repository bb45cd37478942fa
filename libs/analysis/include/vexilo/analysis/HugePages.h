#pragma once

#include <atomic>
#include <cstddef>
#include <future>
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

// Buffers that a writer is about to fill from front to back, their pages faulted in on a
// thread of its own meanwhile. Where the kernel zeroes fresh pages slowly (a virtual
// machine's memory that its host has not backed yet) that is most of the cost of filling
// a large buffer, and it then runs on another core. Nothing is written: the writer may
// fill the same pages at once. The buffers must stay where they are until this ends.
class PagesFaultedBeside {
public:
    struct Room {
        void* data = nullptr;
        std::size_t bytes = 0;
    };

    // Starts only when the rooms are large together and a thread can be had, with more
    // threads where the process has the cores for them: one thread alone zeroes more slowly
    // than the writer fills. The rooms' fronts are faulted in first.
    explicit PagesFaultedBeside(std::vector<Room> rooms);
    // Stops the threads at their next step; the futures then wait for them.
    ~PagesFaultedBeside();
    PagesFaultedBeside(const PagesFaultedBeside&) = delete;
    PagesFaultedBeside& operator=(const PagesFaultedBeside&) = delete;

private:
    // Steps `firstStep`, `firstStep + stride`, ... of every room.
    void faultIn(std::size_t firstStep, std::size_t stride) const noexcept;

    // Declared before the work, so that they outlive the threads that read them.
    std::atomic<bool> stopping_{false};
    std::vector<Room> rooms_;
    std::vector<std::future<void>> faulting_;
};

// The room a vector has reserved beyond its values.
template <typename Value>
PagesFaultedBeside::Room unwrittenRoomOf(std::vector<Value>& values)
{
    return {values.data() + values.size(), (values.capacity() - values.size()) * sizeof(Value)};
}

}  // namespace vexilo::analysis
