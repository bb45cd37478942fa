#pragma once

#include "vexilo/application/ApplicationTypes.h"
#include "vexilo/application/PictureThumbnail.h"
#include "vexilo/domain/PictureInfo.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace vexilo::application {

// Makes the strip's thumbnails of arriving frames on a thread of its own: the scaling and colour
// conversion cost more than everything else the GUI thread does for a picture of the analyzer
// road. Finished pictures wait here with their thumbnails, tagged with the task that asked for
// them, until the owner takes them; `onFinished` (called on the queue's thread) tells that some
// are waiting.
class PictureThumbnailQueue {
public:
    struct Finished {
        std::uint64_t taskId = 0;
        domain::PictureInfo picture;
        PictureThumbnail thumbnail;
    };

    explicit PictureThumbnailQueue(std::function<void()> onFinished);
    ~PictureThumbnailQueue();

    PictureThumbnailQueue(const PictureThumbnailQueue&) = delete;
    PictureThumbnailQueue& operator=(const PictureThumbnailQueue&) = delete;

    void submit(std::uint64_t taskId, VideoFramePtr frame, const domain::PictureInfo& picture);
    // The first finished picture not taken yet, in the order they were submitted.
    [[nodiscard]] std::optional<Finished> takeNextFinished();
    // Blocks until every submitted picture is finished.
    void waitUntilIdle();
    // Forgets pictures not started yet and pictures not taken yet.
    void discard();

private:
    struct Request {
        std::uint64_t taskId = 0;
        VideoFramePtr frame;
        domain::PictureInfo picture;
    };

    void run(const std::stop_token& stop);

    std::function<void()> onFinished_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::condition_variable idle_;
    std::deque<Request> requests_;
    std::deque<Finished> finished_;
    bool working_ = false;
    // Last: started once every member it uses exists, joined before any of them goes.
    std::jthread thread_;
};

}  // namespace vexilo::application
