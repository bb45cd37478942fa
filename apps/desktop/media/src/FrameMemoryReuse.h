#pragma once

namespace vexilo::media {

// Each decoded picture becomes a freshly allocated frame of several megabytes. With glibc's
// default dynamic thresholds every such block is mmapped and handed back to the kernel when the
// frame dies, so the next frame faults its pages in again; decoding then runs at less than half
// of ffmpeg's speed. Raising the mmap and trim thresholds once per process lets freed frames be
// reused from the heap. Safe to call from any thread, any number of times.
void keepFreedFrameMemoryForReuse() noexcept;

}  // namespace vexilo::media
