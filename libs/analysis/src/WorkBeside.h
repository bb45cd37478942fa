#pragma once

#include <sched.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <future>
#include <system_error>
#include <type_traits>
#include <utility>

namespace vexilo::analysis {

// A dense picture's blocks are most of what reading its document costs: a block collection of
// this many records is verified, decoded and validated on a thread of its own beside the rest.
inline constexpr std::uint64_t kBlocksWorthAThread = 65'536;

// The cores this process may run on, at least one.
inline std::size_t usableCores() noexcept
{
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) != 0) {
        return 1;
    }
    return static_cast<std::size_t>(std::max(CPU_COUNT(&cores), 1));
}

// Starts `work` on a thread of its own when it is worth one and the process has a core beside
// the asking thread's; otherwise, or when no thread can be had, it runs in the thread that asks
// for its result (on a single core a thread beside would only add switches between the two).
// The future joins the thread when it goes, so nothing the work refers to can be freed under it.
template <typename Work>
[[nodiscard]] std::future<std::invoke_result_t<Work&>> startBeside(bool worthAThread, Work work)
{
    if (worthAThread && usableCores() > 1) {
        try {
            return std::async(std::launch::async, work);
        } catch (const std::system_error&) {
            // No thread to be had: the work waits for its result to be asked for.
        }
    }
    return std::async(std::launch::deferred, std::move(work));
}

}  // namespace vexilo::analysis
