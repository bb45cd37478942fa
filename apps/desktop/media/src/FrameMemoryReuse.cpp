#include "FrameMemoryReuse.h"

#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vexilo::media {
namespace {

// Above the largest frame the desktop decodes (4:4:4 16-bit 4K is about 50 MB), and a trim
// threshold that keeps a few frames' worth of freed memory.
constexpr int kMmapThresholdBytes = 64 * 1024 * 1024;
constexpr int kTrimThresholdBytes = 256 * 1024 * 1024;

}  // namespace

void keepFreedFrameMemoryForReuse() noexcept {
    static std::once_flag once;
    std::call_once(once, [] {
#if defined(__GLIBC__)
        mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
        mallopt(M_TRIM_THRESHOLD, kTrimThresholdBytes);
#endif
    });
}

}  // namespace vexilo::media
