#pragma once

#include "vexilo/application/ApplicationTypes.h"

#include <cstdint>
#include <list>
#include <mutex>
#include <unordered_map>

namespace vexilo::application {

// Decoded frames of one project, least recently used first out, within a byte budget.
// Filled from decode threads and read on the GUI thread; every operation takes the one mutex.
class VideoFrameCache {
public:
    explicit VideoFrameCache(std::uint64_t budgetBytes);

    // The frame may silently not be cached (null, empty, or larger than the whole budget).
    void insert(VideoFramePtr frame);
    // Empty when absent; a hit makes the entry the most recently used.
    [[nodiscard]] VideoFramePtr find(domain::PictureId pictureId);
    // As a hit would, without taking the frame; nothing when absent.
    void markMostRecentlyUsed(domain::PictureId pictureId);
    void remove(domain::PictureId pictureId);
    void clear();

    [[nodiscard]] std::uint64_t budgetBytes() const noexcept { return budget_; }
    [[nodiscard]] std::uint64_t totalBytes() const;
    [[nodiscard]] std::size_t size() const;

    // What a frame costs the budget: the buffers it really holds, not width x height.
    [[nodiscard]] static std::uint64_t frameBytes(const domain::VideoFrame& frame) noexcept;

private:
    struct Entry {
        VideoFramePtr frame;
        std::uint64_t bytes = 0;
        std::list<domain::PictureId>::iterator position;
    };

    void removeLocked(domain::PictureId pictureId);

    const std::uint64_t budget_;
    mutable std::mutex mutex_;
    std::uint64_t totalBytes_ = 0;
    std::list<domain::PictureId> recency_;
    std::unordered_map<domain::PictureId, Entry> entries_;
};

}  // namespace vexilo::application
