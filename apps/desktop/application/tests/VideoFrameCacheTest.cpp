// The decoded-frame cache: byte accounting, recency and the budget.

#include "vexilo/application/VideoFrameCache.h"

#include <gtest/gtest.h>

namespace vexilo::application {
namespace {

constexpr std::uint64_t kFrameBytes = 100;

VideoFramePtr frameOf(domain::PictureId id, std::size_t bytes = kFrameBytes)
{
    domain::VideoFrame frame;
    frame.index = id;
    frame.width = 4;
    frame.height = 4;
    frame.planes.resize(1);
    frame.planes[0].samples.resize(bytes);
    return std::make_shared<const domain::VideoFrame>(std::move(frame));
}

TEST(VideoFrameCacheTest, CountsEveryBufferAFrameHolds)
{
    domain::VideoFrame frame;
    frame.planes.resize(3);
    frame.planes[0].samples.resize(64);
    frame.planes[1].samples.resize(16);
    frame.planes[2].samples.resize(16);
    frame.packedData.resize(8);
    EXPECT_EQ(VideoFrameCache::frameBytes(frame), 104U);
}

TEST(VideoFrameCacheTest, EvictsTheLeastRecentlyUsedFrame)
{
    VideoFrameCache cache(3 * kFrameBytes);
    cache.insert(frameOf(1));
    cache.insert(frameOf(2));
    cache.insert(frameOf(3));
    ASSERT_TRUE(cache.find(1));
    cache.insert(frameOf(4));
    EXPECT_TRUE(cache.find(1));
    EXPECT_FALSE(cache.find(2));
    EXPECT_TRUE(cache.find(3));
    EXPECT_TRUE(cache.find(4));
    EXPECT_EQ(cache.totalBytes(), 3 * kFrameBytes);
}

TEST(VideoFrameCacheTest, RefusesWhatItCannotHoldAndKeepsTheBytesRight)
{
    VideoFrameCache cache(3 * kFrameBytes);
    cache.insert(frameOf(1));
    cache.insert(frameOf(1));
    EXPECT_EQ(cache.size(), 1U);
    EXPECT_EQ(cache.totalBytes(), kFrameBytes) << "a re-inserted picture is counted once";

    cache.insert(frameOf(2));
    cache.insert(frameOf(2, 4 * kFrameBytes));
    EXPECT_FALSE(cache.find(2)) << "the oversized frame replaces nothing and the old entry is gone";
    EXPECT_EQ(cache.totalBytes(), kFrameBytes);

    cache.insert(nullptr);
    cache.insert(frameOf(3, 0));
    EXPECT_EQ(cache.size(), 1U);
    EXPECT_FALSE(cache.find(3));
}

TEST(VideoFrameCacheTest, EvictedFramesStayAliveForTheirHolders)
{
    VideoFrameCache cache(kFrameBytes);
    cache.insert(frameOf(1));
    const VideoFramePtr held = cache.find(1);
    cache.insert(frameOf(2));
    EXPECT_FALSE(cache.find(1));
    ASSERT_TRUE(held);
    EXPECT_EQ(held->index, 1);
}

TEST(VideoFrameCacheTest, ClearEmptiesEverything)
{
    VideoFrameCache cache(10 * kFrameBytes);
    for (domain::PictureId id = 0; id < 5; ++id) {
        cache.insert(frameOf(id));
    }
    cache.remove(2);
    EXPECT_EQ(cache.totalBytes(), 4 * kFrameBytes);
    cache.clear();
    EXPECT_EQ(cache.totalBytes(), 0U);
    for (domain::PictureId id = 0; id < 5; ++id) {
        EXPECT_FALSE(cache.find(id));
    }
}

}  // namespace
}  // namespace vexilo::application
