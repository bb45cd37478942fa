#include "collector/CompactEventStore.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace vexilo::analyzer {
namespace {

constexpr std::size_t kHeadBytes = offsetof(ObserverEventRecord, payloadCopiedSize);

// A record of `kind` with random values in everything its kind may use; block kinds share
// most values with their predecessor, as consecutive blocks of one CTU do.
ObserverEventRecord randomRecord(std::mt19937_64& random, std::uint32_t kind, const ObserverEventRecord* previous)
{
    ObserverEventRecord record;
    if (previous != nullptr && previous->kind == kind && random() % 4 != 0) {
        record = *previous;
        record.ordinal = previous->ordinal + 1;
        record.bounds.x = static_cast<std::uint32_t>(random() % 8192);
        return record;
    }
    auto* head = reinterpret_cast<std::byte*>(&record);
    for (std::size_t i = 0; i < kHeadBytes; ++i) {
        head[i] = static_cast<std::byte>(random() % 3 == 0 ? random() : 0);
    }
    record.kind = kind;
    const std::size_t layout = std::min<std::size_t>(observerEventMinimumSize(kind), sizeof(ObserverEventPayload));
    for (std::size_t i = 0; i < layout; ++i) {
        record.payload.raw[i] = static_cast<std::uint8_t>(random() % 2 == 0 ? random() : 0);
    }
    if (kind == VEXILO_OBSERVER_EVENT_SEI_MESSAGE) {
        record.payloadCopiedSize = static_cast<std::uint32_t>(random() % (kSeiPayloadCopyLimit + 1));
        record.payloadTruncated = random() % 2 == 0;
        for (std::uint32_t i = 0; i < record.payloadCopiedSize; ++i) {
            record.payloadBytes[i] = static_cast<std::uint8_t>(random());
        }
    }
    return record;
}

void expectSameRecord(const ObserverEventRecord& actual, const ObserverEventRecord& expected, std::size_t index)
{
    EXPECT_EQ(std::memcmp(&actual, &expected, kHeadBytes), 0) << "head of record " << index;
    EXPECT_EQ(actual.payloadCopiedSize, expected.payloadCopiedSize) << index;
    EXPECT_EQ(actual.payloadTruncated, expected.payloadTruncated) << index;
    EXPECT_EQ(actual.payloadBytes, expected.payloadBytes) << index;
    EXPECT_EQ(actual.payload.raw, expected.payload.raw) << index;
}

// Two stores share one append cache, as the pictures of the collector do. Kinds beyond the
// known ones share one slot, so a record may differ from its base in its kind.
TEST(CompactEventStore, GivesBackEveryRecordOfEveryKindAsAppended)
{
    std::mt19937_64 random(42);
    std::array<std::vector<ObserverEventRecord>, 2> expected;
    std::array<CompactEventStore, 2> stores;
    auto cache = std::make_unique<CompactEventStore::AppendCache>();
    for (std::size_t i = 0; i < 6000; ++i) {
        const std::size_t store = random() % 2;
        const auto kind = static_cast<std::uint32_t>(random() % (VEXILO_OBSERVER_EVENT_KIND_COUNT + 3));
        std::vector<ObserverEventRecord>& records = expected[store];
        records.push_back(randomRecord(random, kind, records.empty() ? nullptr : &records.back()));
        stores[store].append(records.back(), *cache);
    }
    for (std::size_t store = 0; store < stores.size(); ++store) {
        ASSERT_EQ(stores[store].size(), expected[store].size());
        for (std::size_t i = 0; i < expected[store].size(); ++i) {
            expectSameRecord(stores[store].at(i), expected[store][i], i);
            EXPECT_EQ(stores[store].kindAt(i), expected[store][i].kind) << i;
        }
    }
}

// A store's image brings back every record, bases and differences alike; words that are not
// an image leave the store empty.
TEST(CompactEventStore, AnImageRestoresTheSameRecordsAndNothingElseRestoresAny)
{
    std::mt19937_64 random(7);
    std::vector<ObserverEventRecord> expected;
    CompactEventStore store;
    auto cache = std::make_unique<CompactEventStore::AppendCache>();
    for (std::size_t i = 0; i < 5000; ++i) {
        const auto kind = static_cast<std::uint32_t>(VEXILO_OBSERVER_EVENT_CTU + random() % 4);
        expected.push_back(randomRecord(random, kind, expected.empty() ? nullptr : &expected.back()));
        store.append(expected.back(), *cache);
    }
    std::vector<std::uint32_t> image;
    store.saveImage(image);
    CompactEventStore restored;
    ASSERT_TRUE(restored.restore(image));
    ASSERT_EQ(restored.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expectSameRecord(restored.at(i), expected[i], i);
    }
    image.pop_back();
    EXPECT_FALSE(restored.restore(image)) << "a cut image";
    EXPECT_EQ(restored.size(), 0u);
    image.assign(6, 0xFFFFFFFFu);
    EXPECT_FALSE(restored.restore(image)) << "counts beyond the image";
    EXPECT_EQ(restored.size(), 0u);
}

// Threads encode batches against bases of their own and append them in whatever order the
// lock gives them, so a difference's base may lie in the same batch or many records back,
// behind other threads' batches; a discarded batch leaves no base behind.
TEST(CompactEventStore, BatchesOfInterleavedCachesReadBackAsEncoded)
{
    std::mt19937_64 random(11);
    constexpr std::size_t kCaches = 3;
    constexpr std::uint64_t kStoreKey = 77;
    struct Producer {
        std::unique_ptr<CompactEventStore::AppendCache> cache = std::make_unique<CompactEventStore::AppendCache>();
        CompactEventStore::Batch batch;
        std::vector<ObserverEventRecord> pending;
        std::optional<ObserverEventRecord> previous;
    };
    std::array<Producer, kCaches> producers;
    std::vector<ObserverEventRecord> expected;
    CompactEventStore store;
    for (std::size_t i = 0; i < 6000; ++i) {
        Producer& producer = producers[random() % kCaches];
        const auto kind = static_cast<std::uint32_t>(VEXILO_OBSERVER_EVENT_CTU + random() % 4);
        producer.previous = randomRecord(random, kind, producer.previous ? &*producer.previous : nullptr);
        producer.pending.push_back(*producer.previous);
        CompactEventStore::encode(producer.pending.back(), *producer.cache, kStoreKey, producer.batch);
        const auto choice = random() % 16;
        if (choice < 4) {
            store.append(producer.batch, *producer.cache);
            expected.insert(expected.end(), producer.pending.begin(), producer.pending.end());
            producer.pending.clear();
        } else if (choice == 4) {
            // Its picture lost its blocks: the collector never appends the batch.
            CompactEventStore::discard(producer.batch, *producer.cache);
            producer.pending.clear();
        }
        EXPECT_EQ(producer.batch.size(), producer.pending.size());
    }
    ASSERT_EQ(store.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        expectSameRecord(store.at(i), expected[i], i);
    }
}

TEST(CompactEventStore, KeepsBlockRunsInAFewDozenBytesEachAndClearsToNothing)
{
    std::mt19937_64 random(7);
    CompactEventStore store;
    auto cache = std::make_unique<CompactEventStore::AppendCache>();
    ObserverEventRecord tu = randomRecord(random, VEXILO_OBSERVER_EVENT_TU, nullptr);
    constexpr std::size_t kBlocks = 100000;
    for (std::size_t i = 0; i < kBlocks; ++i) {
        tu.ordinal += 1;
        tu.payload.tu.tuIdentity = i + 1;
        tu.payload.tu.bounds.x = static_cast<std::uint32_t>((i * 4) % 3840);
        tu.payload.tu.bounds.y = static_cast<std::uint32_t>((i * 4) / 3840 * 4);
        store.append(tu, *cache);
    }
    EXPECT_LT(store.bytesUsed() / kBlocks, 64u);
    EXPECT_EQ(store.at(kBlocks - 1).payload.tu.tuIdentity, kBlocks);
    store.clear();
    EXPECT_EQ(store.size(), 0u);
    EXPECT_EQ(store.bytesUsed(), 0u);
}

// A block's payload repeats the ordinal, CTU and bounds of the record's head, as the intake
// makes it; a run of blocks whose place changes each time pays for the change once.
TEST(CompactEventStore, ABlockPaysOnceForWhatItsPayloadRepeatsOfItsHead)
{
    std::mt19937_64 random(9);
    const ObserverEventRecord first = randomRecord(random, VEXILO_OBSERVER_EVENT_CU, nullptr);
    std::vector<ObserverEventRecord> blocks;
    CompactEventStore store;
    auto cache = std::make_unique<CompactEventStore::AppendCache>();
    constexpr std::size_t kBlocks = 20000;
    for (std::size_t i = 0; i < kBlocks; ++i) {
        ObserverEventRecord cu = first;
        cu.ordinal = first.ordinal + i;
        cu.ctuAddress = static_cast<std::uint32_t>(i / 16);
        cu.bounds = VexiloObserverBlockBounds{static_cast<std::uint32_t>(i % 240 * 8),
                                              static_cast<std::uint32_t>(i / 240 * 8), 8, 8};
        cu.payload.cu.header.ordinal = cu.ordinal;
        cu.payload.cu.ctuAddress = cu.ctuAddress;
        cu.payload.cu.bounds = cu.bounds;
        blocks.push_back(cu);
        store.append(cu, *cache);
    }
    // Ten words each; thirteen when the payload's copies are stored as the changes they are.
    EXPECT_LT(store.wordsWritten(), 11 * kBlocks);
    for (std::size_t i = 0; i < kBlocks; i += 997) {
        expectSameRecord(store.at(i), blocks[i], i);
    }
}

// The records move with the store. The moved-from store stays usable, and what it receives
// afterwards is its own: neither the append cache's bases nor the bases a reader decoded of
// the records that moved away may stand in for its records, although they sit at the same
// places.
TEST(CompactEventStore, AMovedFromStoreHoldsOnlyWhatItReceivesAfterwards)
{
    std::mt19937_64 random(5);
    const auto fill = [&](CompactEventStore& store, CompactEventStore::AppendCache& cache) {
        std::vector<ObserverEventRecord> records;
        for (std::size_t i = 0; i < 20; ++i) {
            records.push_back(randomRecord(random, VEXILO_OBSERVER_EVENT_CU, records.empty() ? nullptr : &records.back()));
            store.append(records.back(), cache);
        }
        return records;
    };
    auto cache = std::make_unique<CompactEventStore::AppendCache>();
    CompactEventStore original;
    const std::vector<ObserverEventRecord> first = fill(original, *cache);
    expectSameRecord(original.at(5), first[5], 5);

    CompactEventStore moved(std::move(original));
    const std::vector<ObserverEventRecord> second = fill(original, *cache);
    for (std::size_t i = 0; i < second.size(); ++i) {
        expectSameRecord(moved.at(i), first[i], i);
        expectSameRecord(original.at(i), second[i], i);
    }
}

}  // namespace
}  // namespace vexilo::analyzer
