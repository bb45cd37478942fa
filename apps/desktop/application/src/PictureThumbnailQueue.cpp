#include "PictureThumbnailQueue.h"

#include "vexilo/application/PictureThumbnailMaker.h"

#include <utility>

namespace vexilo::application {

PictureThumbnailQueue::PictureThumbnailQueue(std::function<void()> onFinished)
    : onFinished_(std::move(onFinished)), thread_([this](const std::stop_token& stop) { run(stop); })
{
}

PictureThumbnailQueue::~PictureThumbnailQueue()
{
    thread_.request_stop();
    thread_.join();
}

void PictureThumbnailQueue::submit(std::uint64_t taskId, VideoFramePtr frame, const domain::PictureInfo& picture)
{
    if (!frame) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        requests_.push_back({taskId, std::move(frame), picture});
    }
    wake_.notify_one();
}

std::optional<PictureThumbnailQueue::Finished> PictureThumbnailQueue::takeNextFinished()
{
    const std::lock_guard lock(mutex_);
    if (finished_.empty()) {
        return std::nullopt;
    }
    Finished next = std::move(finished_.front());
    finished_.pop_front();
    return next;
}

void PictureThumbnailQueue::waitUntilIdle()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return requests_.empty() && !working_; });
}

void PictureThumbnailQueue::discard()
{
    const std::lock_guard lock(mutex_);
    requests_.clear();
    finished_.clear();
}

void PictureThumbnailQueue::run(const std::stop_token& stop)
{
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        if (!wake_.wait(lock, stop, [this] { return !requests_.empty(); })) {
            break;
        }
        Request request = std::move(requests_.front());
        requests_.pop_front();
        working_ = true;
        lock.unlock();
        Finished made{request.taskId, request.picture,
                      makePictureThumbnail(*request.frame, static_cast<std::uint64_t>(request.picture.displayIndex))};
        // The frame goes here, outside the lock, should this be its last holder.
        request.frame.reset();
        lock.lock();
        working_ = false;
        // A discard while the thumbnail was made leaves its task behind; the owner drops it by its id.
        const bool firstWaiting = finished_.empty();
        finished_.push_back(std::move(made));
        if (requests_.empty()) {
            idle_.notify_all();
        }
        if (firstWaiting) {
            lock.unlock();
            onFinished_();
            lock.lock();
        }
    }
    working_ = false;
    idle_.notify_all();
}

}  // namespace vexilo::application
