#include "collector/ChunkArena.h"
#include "collector/CompactEventStore.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <utility>
#include <vector>

namespace vexilo::analyzer {
namespace {

// Memory calls that count what the arena asks of the system and can be told to fail.
struct FakeSystem {
    static inline int maps = 0;
    static inline int unmaps = 0;
    static inline int advice = 0;
    static inline bool mapFails = false;
    static inline std::vector<std::pair<void*, std::size_t>> released;

    static void reset()
    {
        maps = unmaps = advice = 0;
        mapFails = false;
        released.clear();
    }
    static void* map(std::size_t bytes)
    {
        ++maps;
        return mapFails ? nullptr : ChunkArena::systemMemoryCalls().map(bytes);
    }
    static void unmap(void* data, std::size_t bytes)
    {
        ++unmaps;
        ChunkArena::systemMemoryCalls().unmap(data, bytes);
    }
    // As on a system without huge pages.
    static bool refuseAdvice(void*, std::size_t)
    {
        ++advice;
        return false;
    }
    static void release(void* data, std::size_t bytes)
    {
        released.emplace_back(data, bytes);
        ChunkArena::systemMemoryCalls().release(data, bytes);
    }
    static ChunkArena::MemoryCalls calls() { return {&map, &refuseAdvice, &unmap, &release}; }
};

class ChunkArenaTest : public ::testing::Test {
protected:
    void SetUp() override { FakeSystem::reset(); }
};

TEST_F(ChunkArenaTest, HandsOutDisjointPowerOfTwoBlocksFromFewMappingsAndReusesGivenBackOnes)
{
    {
        ChunkArena arena(FakeSystem::calls());
        EXPECT_EQ(ChunkArena::blockBytesFor(1), ChunkArena::kSmallestBlockBytes);
        EXPECT_EQ(ChunkArena::blockBytesFor(5000), 8192u);
        EXPECT_EQ(ChunkArena::blockBytesFor(8192), 8192u);

        struct Block {
            std::uint8_t* data;
            std::size_t bytes;
        };
        std::vector<Block> blocks;
        for (std::size_t i = 0; i < 400; ++i) {
            const std::size_t bytes = ChunkArena::kSmallestBlockBytes << (i % 9);
            auto* data = static_cast<std::uint8_t*>(arena.take(bytes));
            std::memset(data, static_cast<int>(i), bytes);
            blocks.push_back({data, bytes});
        }
        // Every block still holds its own filling: none overlaps another.
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const Block& block = blocks[i];
            EXPECT_TRUE(std::all_of(block.data, block.data + block.bytes,
                                    [i](std::uint8_t b) { return b == static_cast<std::uint8_t>(i); }))
                << "block " << i;
        }
        // About 11 MiB of blocks: one region, asked once for huge pages.
        EXPECT_EQ(FakeSystem::maps, 1);
        EXPECT_EQ(FakeSystem::advice, 1);

        arena.give(blocks[7].data, blocks[7].bytes);
        EXPECT_EQ(arena.take(blocks[7].bytes), blocks[7].data);
        EXPECT_EQ(FakeSystem::unmaps, 0);
    }
    EXPECT_EQ(FakeSystem::unmaps, FakeSystem::maps);
}

// Stores emptied once a stream is decoded give their region's pages back only when the
// region's last block comes back; the region stays mapped and its blocks serve again.
TEST_F(ChunkArenaTest, RegionPagesGoBackWithTheLastBlockAndItsBlocksServeAgain)
{
    ChunkArena arena(FakeSystem::calls());
    constexpr std::size_t kBytes = 256 << 10;
    constexpr std::size_t kBlocksPerRegion = ChunkArena::kRegionBytes / kBytes;
    std::vector<void*> firstRegion;
    for (std::size_t i = 0; i < kBlocksPerRegion; ++i) {
        firstRegion.push_back(arena.take(kBytes));
        std::memset(firstRegion.back(), 7, kBytes);
    }
    void* secondRegion = arena.take(kBytes);
    ASSERT_EQ(FakeSystem::maps, 2);

    for (std::size_t i = 0; i + 1 < firstRegion.size(); ++i) {
        arena.give(firstRegion[i], kBytes);
    }
    EXPECT_TRUE(FakeSystem::released.empty()) << "a region with a block still out keeps its pages";
    arena.give(firstRegion.back(), kBytes);
    ASSERT_EQ(FakeSystem::released.size(), 1u);
    EXPECT_EQ(FakeSystem::released[0].second, ChunkArena::kRegionBytes);
    const auto regionStart = reinterpret_cast<std::uintptr_t>(FakeSystem::released[0].first);
    for (void* block : firstRegion) {
        const auto address = reinterpret_cast<std::uintptr_t>(block);
        EXPECT_TRUE(address >= regionStart && address < regionStart + ChunkArena::kRegionBytes);
    }

    // Taken again, a released block reads as fresh memory and keeps what is written to it.
    auto* reused = static_cast<std::uint8_t*>(arena.take(kBytes));
    EXPECT_NE(std::find(firstRegion.begin(), firstRegion.end(), reused), firstRegion.end());
    EXPECT_EQ(reused[0], 0);
    std::memset(reused, 9, kBytes);
    EXPECT_EQ(reused[kBytes - 1], 9);
    EXPECT_EQ(FakeSystem::maps, 2);
    EXPECT_EQ(FakeSystem::unmaps, 0);

    // The region comes back a second time: its pages go again.
    arena.give(reused, kBytes);
    EXPECT_EQ(FakeSystem::released.size(), 2u);
    arena.give(secondRegion, kBytes);
    EXPECT_EQ(FakeSystem::released.size(), 3u);
}

TEST_F(ChunkArenaTest, LargeBlocksHaveMappingsOfTheirOwnThatGoBackWhenGiven)
{
    ChunkArena arena(FakeSystem::calls());
    const std::size_t bytes = ChunkArena::kLargestSharedBlockBytes + 1;
    void* block = arena.take(bytes);
    std::memset(block, 1, bytes);
    EXPECT_EQ(FakeSystem::maps, 1);
    EXPECT_GE(arena.mappedBytes(), ChunkArena::blockBytesFor(bytes));
    arena.give(block, bytes);
    EXPECT_EQ(FakeSystem::unmaps, 1);
    EXPECT_EQ(arena.mappedBytes(), 0u);
}

TEST_F(ChunkArenaTest, NoMemoryFromTheSystemIsABadAllocAndTheArenaStaysUsable)
{
    ChunkArena arena(FakeSystem::calls());
    FakeSystem::mapFails = true;
    EXPECT_THROW((void)arena.take(100), std::bad_alloc);
    FakeSystem::mapFails = false;
    auto* block = static_cast<std::uint8_t*>(arena.take(100));
    block[99] = 5;
    EXPECT_EQ(block[99], 5);
}

// Stores sharing an arena whose huge-page advice is refused keep every record across
// chunk and offset-block boundaries, through a clear that gives their blocks back and a
// move that hands them to another store.
TEST_F(ChunkArenaTest, StoresWithoutHugePagesKeepEveryRecordThroughClearAndMove)
{
    auto arena = std::make_shared<ChunkArena>(FakeSystem::calls());
    auto cache = std::make_unique<CompactEventStore::AppendCache>();
    const auto record = [](std::uint64_t i) {
        ObserverEventRecord cu;
        cu.kind = VEXILO_OBSERVER_EVENT_CU;
        cu.ordinal = i;
        cu.pictureIdentity = 1 + i % 3;
        cu.payload.cu.cuIdentity = i * 7 + 1;
        cu.payload.cu.qp = static_cast<std::int32_t>(i % 52);
        return cu;
    };
    const auto expectRecords = [&](const CompactEventStore& store, std::uint64_t first, std::uint64_t count) {
        ASSERT_EQ(store.size(), count);
        for (std::uint64_t i = 0; i < count; ++i) {
            const ObserverEventRecord read = store.at(i);
            ASSERT_EQ(read.ordinal, first + i);
            ASSERT_EQ(read.payload.cu.cuIdentity, (first + i) * 7 + 1);
            ASSERT_EQ(read.payload.cu.qp, static_cast<std::int32_t>((first + i) % 52));
        }
    };
    constexpr std::uint64_t kRecords = 70000;
    std::vector<CompactEventStore> stores;
    stores.emplace_back(arena);
    for (std::uint64_t i = 0; i < kRecords; ++i) {
        stores[0].append(record(i), *cache);
    }
    expectRecords(stores[0], 0, kRecords);
    const std::size_t mappedBefore = arena->mappedBytes();

    // The cleared store's blocks serve the refill: nothing more is mapped.
    stores[0].clear();
    for (std::uint64_t i = 0; i < kRecords; ++i) {
        stores[0].append(record(kRecords + i), *cache);
    }
    EXPECT_EQ(arena->mappedBytes(), mappedBefore);
    for (int i = 0; i < 8; ++i) {
        stores.emplace_back(arena);  // moves the first store as the vector grows
    }
    expectRecords(stores[0], kRecords, kRecords);
    EXPECT_GT(FakeSystem::advice, 0);
}

}  // namespace
}  // namespace vexilo::analyzer
