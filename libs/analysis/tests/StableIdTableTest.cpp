#include "vexilo/analysis/StableIdTable.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vexilo::analysis {
namespace {

StableId idOf(std::uint64_t n)
{
    return StableId{n * 0x9e3779b97f4a7c15ULL, n};
}

// A hundred thousand entries force many rehashes, from slot arrays of the ordinary
// allocator to ones of huge pages; every value must survive them.
TEST(StableIdTableTest, ValuesSurviveGrowthAndTheFirstInsertWins)
{
    constexpr std::uint64_t kCount = 100'000;
    StableIdTable<std::uint64_t> table;
    for (std::uint64_t n = 1; n <= kCount; ++n) {
        ASSERT_TRUE(table.insert(idOf(n), n));
        EXPECT_FALSE(table.insert(idOf(n), n + 1));
    }
    EXPECT_EQ(table.size(), kCount);
    for (std::uint64_t n = 1; n <= kCount; ++n) {
        const std::uint64_t* value = table.find(idOf(n));
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(*value, n);
    }
    EXPECT_EQ(table.find(idOf(kCount + 1)), nullptr);
}

TEST(StableIdTableTest, CountersByIdentityKeepCountingAcrossGrowth)
{
    StableIdTable<std::uint64_t> counters;
    counters.reserve(4);
    for (std::uint64_t round = 0; round < 3; ++round) {
        for (std::uint64_t n = 1; n <= 100; ++n) {
            EXPECT_EQ(counters.at(idOf(n))++, round);
        }
    }
    EXPECT_EQ(counters.size(), 100u);
}

// The null identity marks free slots: it is never stored, yet at() still gives it a value.
TEST(StableIdTableTest, TheNullIdentityIsNeverAnEntry)
{
    StableIdTable<int> table;
    EXPECT_FALSE(table.insert(StableId{}, 1));
    EXPECT_EQ(table.find(StableId{}), nullptr);
    table.at(StableId{}) = 5;
    EXPECT_EQ(table.at(StableId{}), 5);
    EXPECT_EQ(table.size(), 0u);
    EXPECT_FALSE(table.contains(StableId{}));

    StableIdSet set;
    EXPECT_TRUE(set.insert(idOf(1), {}));
    EXPECT_TRUE(set.contains(idOf(1)));
    EXPECT_FALSE(set.contains(idOf(2)));
}

}  // namespace
}  // namespace vexilo::analysis
