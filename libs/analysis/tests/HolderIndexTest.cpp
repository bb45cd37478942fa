#include "validation/HolderIndex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vexilo::analysis::validation {
namespace {

struct IdAt {
    const std::vector<StableId>* ids;
    StableId operator()(std::uint64_t holder) const { return (*ids)[static_cast<std::size_t>(holder)]; }
};

// Ids that differ in one low bit only, as counters give them, and ids that differ in the
// high word only; the index grows from empty without a reserve.
TEST(HolderIndex, KeepsTheFirstHolderOfEveryIdThroughGrowth)
{
    std::vector<StableId> ids;
    for (std::uint64_t i = 0; i < 20000; ++i) {
        ids.push_back(i % 2 == 0 ? StableId{7, i} : StableId{i, 7});
    }
    // Every id a second time, held by a later record.
    const std::size_t distinct = ids.size();
    for (std::size_t i = 0; i < distinct; ++i) {
        ids.push_back(ids[i]);
    }
    HolderIndex<IdAt> index(IdAt{&ids});
    for (std::size_t holder = 0; holder < ids.size(); ++holder) {
        const auto insertion = index.insert(ids[holder], holder);
        EXPECT_EQ(insertion.inserted, holder < distinct) << holder;
        EXPECT_EQ(insertion.stored, holder % distinct) << holder;
    }
    for (std::size_t holder = 0; holder < distinct; ++holder) {
        std::uint64_t found = 0;
        ASSERT_TRUE(index.find(ids[holder], found)) << holder;
        EXPECT_EQ(found, holder);
    }
    std::uint64_t found = 0;
    EXPECT_FALSE(index.find(StableId{7, 1}, found)) << "only {1, 7} was added";
    EXPECT_FALSE(index.find(StableId{123456, 654321}, found));
    EXPECT_FALSE(HolderIndex<IdAt>(IdAt{&ids}).find(ids[0], found)) << "an empty index holds nothing";
}

// Reserved tables take any size, so probes wrap past a last slot that is not a power of two
// less one; every count up to a few hundred fills its table to the reserve with hashed-looking
// ids and then with each id again.
TEST(HolderIndex, ReservedTablesOfAnySizeKeepEveryFirstHolder)
{
    for (std::size_t count = 1; count <= 300; ++count) {
        std::vector<StableId> ids;
        for (std::uint64_t i = 0; i < count; ++i) {
            ids.push_back(StableId{i * 0x9e3779b97f4a7c15ULL + count, ~i});
        }
        for (std::size_t i = 0; i < count; ++i) {
            ids.push_back(ids[i]);
        }
        HolderIndex<IdAt> index(IdAt{&ids});
        index.reserve(count);
        for (std::size_t holder = 0; holder < ids.size(); ++holder) {
            const auto insertion = index.insert(ids[holder], holder);
            ASSERT_EQ(insertion.inserted, holder < count) << count << " ids, holder " << holder;
            ASSERT_EQ(insertion.stored, holder % count) << count << " ids, holder " << holder;
        }
        std::uint64_t found = 0;
        EXPECT_FALSE(index.find(StableId{count, count}, found)) << count << " ids";
    }
}

// The cache writer reserves for every entry it has before each lookup, one entry more each
// time: the table must grow by doubling then, not be rebuilt for every entry.
TEST(HolderIndex, ReservingALittleMoreEachTimeGrowsTheTableByDoubling)
{
    std::vector<StableId> ids;
    HolderIndex<IdAt> index(IdAt{&ids});
    std::size_t sizes = 0;
    std::size_t capacity = 0;
    for (std::uint64_t i = 0; i < 100000; ++i) {
        ids.push_back(StableId{i * 0x9e3779b97f4a7c15ULL, i});
        index.reserve(ids.size());
        ASSERT_TRUE(index.insert(ids.back(), i).inserted);
        if (index.capacity() != capacity) {
            capacity = index.capacity();
            ++sizes;
        }
    }
    EXPECT_LE(sizes, 16U) << "a hundred thousand ids fit after about a dozen doublings";
    std::uint64_t found = 0;
    ASSERT_TRUE(index.find(ids[54321], found));
    EXPECT_EQ(found, 54321U);
}

}  // namespace
}  // namespace vexilo::analysis::validation
