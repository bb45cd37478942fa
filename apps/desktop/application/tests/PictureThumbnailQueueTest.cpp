// The thumbnail thread of the analyzer road: order, task tags, waiting for the last picture and
// forgetting the pictures of an open that ended.

#include "PictureThumbnailQueue.h"

#include "vexilo/application/PictureThumbnailMaker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace vexilo::application {
namespace {

VideoFramePtr greyFrame(domain::PictureId id, std::uint8_t luma)
{
    auto frame = std::make_shared<domain::VideoFrame>();
    frame->index = id;
    frame->width = 16;
    frame->height = 8;
    frame->bitDepth = 8;
    for (std::uint8_t plane = 0; plane < 3; ++plane) {
        const std::int32_t width = plane == 0 ? 16 : 8;
        const std::int32_t height = plane == 0 ? 8 : 4;
        frame->planes.push_back({plane, width, height, width, 1,
                                 std::vector<std::uint8_t>(static_cast<std::size_t>(width * height),
                                                           plane == 0 ? luma : std::uint8_t{128})});
    }
    return frame;
}

domain::PictureInfo pictureOf(domain::PictureId id, std::int64_t displayIndex)
{
    domain::PictureInfo picture;
    picture.id = id;
    picture.displayIndex = displayIndex;
    return picture;
}

std::vector<PictureThumbnailQueue::Finished> takeAll(PictureThumbnailQueue& queue)
{
    std::vector<PictureThumbnailQueue::Finished> all;
    while (auto next = queue.takeNextFinished()) {
        all.push_back(std::move(*next));
    }
    return all;
}

TEST(PictureThumbnailQueueTest, PicturesComeOutInOrderWithTheMakersThumbnailAndTheirTask)
{
    std::atomic<int> wakeUps = 0;
    PictureThumbnailQueue queue([&wakeUps] { ++wakeUps; });
    std::vector<VideoFramePtr> frames;
    for (int picture = 0; picture < 40; ++picture) {
        frames.push_back(greyFrame(100 + picture, static_cast<std::uint8_t>(16 + picture * 5)));
        queue.submit(picture < 20 ? 1 : 2, frames.back(), pictureOf(100 + picture, 39 - picture));
    }
    queue.submit(2, nullptr, pictureOf(999, 0));
    queue.waitUntilIdle();

    const std::vector<PictureThumbnailQueue::Finished> finished = takeAll(queue);
    ASSERT_EQ(finished.size(), 40U) << "a missing frame is no picture";
    for (std::size_t position = 0; position < finished.size(); ++position) {
        const auto& picture = finished[position];
        EXPECT_EQ(picture.taskId, position < 20 ? 1U : 2U);
        EXPECT_EQ(picture.picture.id, static_cast<domain::PictureId>(100 + position));
        const PictureThumbnail expected = makePictureThumbnail(*frames[position], 39 - position);
        EXPECT_EQ(picture.thumbnail.displayIndex, expected.displayIndex);
        EXPECT_EQ(picture.thumbnail.rgba, expected.rgba) << position;
    }
    EXPECT_GE(wakeUps.load(), 1);
    EXPECT_FALSE(queue.takeNextFinished());
}

TEST(PictureThumbnailQueueTest, DiscardForgetsEverythingButThePictureBeingMade)
{
    PictureThumbnailQueue queue([] {});
    const VideoFramePtr frame = greyFrame(1, 60);
    for (int picture = 0; picture < 500; ++picture) {
        queue.submit(7, frame, pictureOf(picture, picture));
    }
    queue.discard();
    queue.waitUntilIdle();
    // The one in the making when the discard came still arrives, with its task, for the owner to drop.
    const std::vector<PictureThumbnailQueue::Finished> left = takeAll(queue);
    EXPECT_LE(left.size(), 1U);

    queue.submit(8, frame, pictureOf(1, 0));
    queue.waitUntilIdle();
    const std::vector<PictureThumbnailQueue::Finished> after = takeAll(queue);
    ASSERT_EQ(after.size(), 1U);
    EXPECT_EQ(after[0].taskId, 8U);
}

TEST(PictureThumbnailQueueTest, GoesAwayWithPicturesStillQueued)
{
    const VideoFramePtr frame = greyFrame(1, 60);
    {
        PictureThumbnailQueue queue([] {});
        for (int picture = 0; picture < 2000; ++picture) {
            queue.submit(1, frame, pictureOf(picture, picture));
        }
    }
    EXPECT_EQ(frame.use_count(), 1) << "every queued frame let go";
}

}  // namespace
}  // namespace vexilo::application
