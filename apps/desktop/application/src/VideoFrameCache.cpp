#include "vexilo/application/VideoFrameCache.h"

namespace vexilo::application {

VideoFrameCache::VideoFrameCache(std::uint64_t budgetBytes) : budget_(budgetBytes) {}

std::uint64_t VideoFrameCache::frameBytes(const domain::VideoFrame& frame) noexcept
{
    std::uint64_t bytes = frame.packedData.size();
    for (const domain::VideoPlane& plane : frame.planes) {
        bytes += plane.samples.size();
    }
    return bytes;
}

void VideoFrameCache::insert(VideoFramePtr frame)
{
    if (!frame) {
        return;
    }
    const std::uint64_t bytes = frameBytes(*frame);
    if (bytes == 0) {
        return;
    }
    const domain::PictureId key = frame->index;
    const std::lock_guard lock(mutex_);
    removeLocked(key);
    if (bytes > budget_) {
        return;
    }
    while (!recency_.empty() && totalBytes_ > budget_ - bytes) {
        removeLocked(recency_.back());
    }
    recency_.push_front(key);
    entries_.emplace(key, Entry{std::move(frame), bytes, recency_.begin()});
    totalBytes_ += bytes;
}

VideoFramePtr VideoFrameCache::find(domain::PictureId pictureId)
{
    const std::lock_guard lock(mutex_);
    const auto found = entries_.find(pictureId);
    if (found == entries_.end()) {
        return {};
    }
    recency_.splice(recency_.begin(), recency_, found->second.position);
    return found->second.frame;
}

void VideoFrameCache::markMostRecentlyUsed(domain::PictureId pictureId)
{
    static_cast<void>(find(pictureId));
}

void VideoFrameCache::remove(domain::PictureId pictureId)
{
    const std::lock_guard lock(mutex_);
    removeLocked(pictureId);
}

void VideoFrameCache::removeLocked(domain::PictureId pictureId)
{
    const auto found = entries_.find(pictureId);
    if (found == entries_.end()) {
        return;
    }
    totalBytes_ -= found->second.bytes;
    recency_.erase(found->second.position);
    entries_.erase(found);
}

void VideoFrameCache::clear()
{
    const std::lock_guard lock(mutex_);
    entries_.clear();
    recency_.clear();
    totalBytes_ = 0;
}

std::uint64_t VideoFrameCache::totalBytes() const
{
    const std::lock_guard lock(mutex_);
    return totalBytes_;
}

std::size_t VideoFrameCache::size() const
{
    const std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace vexilo::application
