#include "ObserverEventBytes.h"
#include "collector/ObserverEventCollector.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <filesystem>
#include <string>
#include <thread>

#include <unistd.h>

namespace vexilo::analyzer {
namespace {

using testing::EventBytes;

// Small staging areas keep these collectors cheap; the limits do not change the rules.
constexpr ObserverCollectorLimits kSmallLimits{4, 8};

EventBytes cuOf(std::uint64_t picture, std::uint32_t ctu, std::uint64_t cu)
{
    return testing::cuEvent(1, picture, ctu, cu, 0, 0, 0, 8);
}

EventBytes ctuOf(std::uint64_t picture, std::uint32_t ctu)
{
    return testing::ctuEvent(1, picture, ctu, 0, 0, 16, 16);
}

// What a finalised collector tells of its events without their being read, checked against
// reading every one: the kept blocks by kind and the places of all other events.
void expectSummariesOfTheReadEvents(const ObserverEventCollector& collector)
{
    std::array<std::uint64_t, 4> blocks{};
    std::vector<std::uint64_t> streamPositions;
    for (std::uint64_t index = 0; index < collector.eventCount(); ++index) {
        const std::uint32_t kind = collector.eventKindAt(index);
        if (isBlockEventKind(kind)) {
            ++blocks[kind - VEXILO_OBSERVER_EVENT_CTU];
        } else {
            streamPositions.push_back(index);
        }
    }
    EXPECT_EQ(collector.blockEventCountsByKind(), blocks);
    EXPECT_EQ(collector.streamEventPositions(), streamPositions);
}

TEST(ObserverCollectorLimits, BlockBudgetIsAQuarterOfTheMemoryUpTo4GiB)
{
    const std::uint64_t gib = std::uint64_t{1} << 30;
    EXPECT_EQ(defaultBlockBudgetBytes(8 * gib), 2 * gib);
    EXPECT_EQ(defaultBlockBudgetBytes(64 * gib), 4 * gib);
    EXPECT_EQ(defaultBlockBudgetBytes(0), 4 * gib) << "unknown memory";
}

TEST(ObserverCollectorLimits, SpsBoundsTheBlocksOfAPicture)
{
    VexiloObserverParameterSetEvent sps{};
    sps.width = 3840;
    sps.height = 2160;
    sps.log2CtuSize = 6;
    sps.log2MinLumaCodingBlockSize = 3;
    sps.log2MinLumaTransformBlockSize = 2;
    // 60x34 CTBs; CU nodes 64 down to 8, four PUs per 8x8 CU, TU nodes 64 down to 4.
    const std::uint64_t area = 60ull * 34 * 64 * 64;
    const std::uint64_t cuNodes = area / 4096 + area / 1024 + area / 256 + area / 64;
    const std::uint64_t tuNodes = cuNodes + area / 16;
    EXPECT_EQ(maxBlockEventsPerPicture(sps), 2040 + cuNodes + 4 * (area / 64) + tuNodes);

    // Without an SPS the largest picture H.265 allows, at its finest grid, bounds it.
    const VexiloObserverParameterSetEvent none{};
    EXPECT_GT(maxBlockEventsPerPicture(none), maxBlockEventsPerPicture(sps) * 4);
}

struct FatalCase {
    const char* name;
    EventBytes event;
    std::uint32_t line;
};

TEST(ObserverCollectorFatalLines, BadHeadersAndShortEventsFail)
{
    EventBytes version7 = testing::marker(1, 0);
    version7.put<std::uint32_t>(4, 7);
    EventBytes size63 = testing::marker(1, 0);
    size63.put<std::uint32_t>(0, 63);
    const FatalCase cases[] = {
        {"abi version 7", version7, kFatalLineBadHeader},
        {"size 63", size63, kFatalLineBadHeader},
        {"short CU", EventBytes(VEXILO_OBSERVER_EVENT_CU, 207), kFatalLineShortEvent},
    };
    for (const FatalCase& c : cases) {
        ObserverEventCollector collector(16, 0, kSmallLimits);
        EXPECT_EQ(collector.onEvent(c.event.header()), -1) << c.name;
        EXPECT_TRUE(collector.failed()) << c.name;
        EXPECT_EQ(collector.fatalLine(), c.line) << c.name;
        EXPECT_EQ(collector.droppedCount(), 1u) << c.name;
    }
    ObserverEventCollector collector(16, 0, kSmallLimits);
    EXPECT_EQ(collector.onEvent(nullptr), -1);
    EXPECT_EQ(collector.onEvent(EventBytes(VEXILO_OBSERVER_EVENT_CU, 207).header()), -1);
    EXPECT_EQ(collector.fatalLine(), kFatalLineBadHeader) << "the first fatal line wins";
}

TEST(ObserverCollectorPictureDrops, StagingMoreThanTheSlotHoldsCostsThePictureItsBlocks)
{
    ObserverEventCollector collector(kNoBlockEventBound, 0, ObserverCollectorLimits{2, 1024});
    for (std::uint64_t cu = 1; cu <= 1023; ++cu) {
        ASSERT_EQ(collector.onEvent(cuOf(7, 0, cu).header()), 0);
    }
    ASSERT_EQ(collector.onEvent(ctuOf(7, 0).header()), 0);
    EXPECT_EQ(collector.eventCount(), 1024u) << "a CTU commits with its 1023 blocks";

    for (std::uint64_t cu = 1; cu <= 1025; ++cu) {
        ASSERT_EQ(collector.onEvent(cuOf(7, 1, cu).header()), 0);
    }
    ASSERT_EQ(collector.onEvent(testing::nalUnitEvent(3, 0, 1).header()), 0);
    collector.finalize();
    EXPECT_FALSE(collector.failed());
    EXPECT_EQ(collector.eventCount(), 1u) << "the NAL unit stays, picture 7 keeps no block";
    expectSummariesOfTheReadEvents(collector);
    EXPECT_EQ(collector.droppedCount(), 1024u + 1025u);
    const std::vector<PictureBlockLoss> losses = collector.picturesWithLostBlocks();
    ASSERT_EQ(losses.size(), 1u);
    EXPECT_EQ(losses[0].pictureIdentity, 7u);
    EXPECT_EQ(losses[0].droppedEvents, 1024u + 1025u);
}

TEST(ObserverCollectorPictureDrops, ABatchLeftOpenAtFinalizationCostsThePictureItsBlocks)
{
    ObserverEventCollector collector(16, 0, kSmallLimits);
    ASSERT_EQ(collector.onEvent(cuOf(6, 0, 1).header()), 0);
    ASSERT_EQ(collector.onEvent(ctuOf(6, 0).header()), 0);
    ASSERT_EQ(collector.onEvent(cuOf(7, 0, 1).header()), 0);
    ASSERT_EQ(collector.onEvent(ctuOf(7, 0).header()), 0);
    ASSERT_EQ(collector.onEvent(cuOf(7, 1, 2).header()), 0);
    collector.finalize();
    EXPECT_FALSE(collector.failed());
    EXPECT_EQ(collector.fatalLine(), 0u);
    EXPECT_EQ(collector.droppedCount(), 3u);
    EXPECT_EQ(collector.eventCount(), 2u) << "picture 6 is whole";
    expectSummariesOfTheReadEvents(collector);
    EXPECT_EQ(collector.picturesWithBlocks(), 1u);
    ASSERT_EQ(collector.picturesWithLostBlocks().size(), 1u);
    EXPECT_EQ(collector.picturesWithLostBlocks()[0].cus, 2u) << "both CUs the picture brought";
}

// Pictures keep their blocks whole, first in decode order, until the bound is reached;
// the stream-level events around them are all kept.
TEST(ObserverCollectorPictureDrops, TheBoundKeepsWholePicturesInDecodeOrder)
{
    ObserverEventCollector collector(5, 0, kSmallLimits);
    std::uint64_t nal = 1;
    for (std::uint64_t picture = 7; picture <= 9; ++picture) {
        ASSERT_EQ(collector.onEvent(testing::nalUnitEvent(nal, static_cast<std::int64_t>(nal), 1).header()), 0);
        ++nal;
        for (std::uint32_t ctu = 0; ctu < 2; ++ctu) {
            ASSERT_EQ(collector.onEvent(cuOf(picture, ctu, 1).header()), 0);
            ASSERT_EQ(collector.onEvent(ctuOf(picture, ctu).header()), 0);
        }
    }
    collector.finalize();
    EXPECT_FALSE(collector.failed());
    EXPECT_EQ(collector.eventCount(), 3u + 4u) << "three NAL units and picture 7's blocks";
    expectSummariesOfTheReadEvents(collector);
    EXPECT_EQ(collector.droppedCount(), 8u);
    EXPECT_EQ(collector.picturesWithBlocks(), 1u);
    const std::vector<PictureBlockLoss> losses = collector.picturesWithLostBlocks();
    ASSERT_EQ(losses.size(), 2u);
    EXPECT_EQ(losses[0].pictureIdentity, 8u);
    EXPECT_EQ(losses[1].pictureIdentity, 9u) << "it would fit, but comes after a picture that did not";
    EXPECT_EQ(losses[1].ctus, 2u);
    EXPECT_EQ(losses[1].cus, 2u);
}

// Pictures are made into documents one at a time, so the budget holds for each by itself:
// a picture too large for it loses its blocks, and the pictures after it keep theirs.
TEST(ObserverCollectorPictureDrops, TheMemoryBudgetHoldsForEachPictureByItself)
{
    constexpr std::uint32_t kLargePictureCtus = 512;
    ObserverCollectorLimits limits = kSmallLimits;
    limits.blockBudgetBytes = 64 * 1024;
    ObserverEventCollector collector(kNoBlockEventBound, 0, limits);
    const auto addPicture = [&](std::uint64_t picture, std::uint32_t ctus) {
        for (std::uint32_t ctu = 0; ctu < ctus; ++ctu) {
            ASSERT_EQ(collector.onEvent(cuOf(picture, ctu, 1).header()), 0);
            ASSERT_EQ(collector.onEvent(ctuOf(picture, ctu).header()), 0);
        }
    };
    addPicture(6, 2);
    addPicture(7, kLargePictureCtus);
    addPicture(8, 2);
    collector.finalize();
    EXPECT_EQ(collector.picturesWithBlocks(), 2u);
    const std::vector<PictureBlockLoss> losses = collector.picturesWithLostBlocks();
    ASSERT_EQ(losses.size(), 1u);
    EXPECT_EQ(losses[0].pictureIdentity, 7u);
    EXPECT_EQ(losses[0].ctus, kLargePictureCtus) << "the picture names every block it brought";
    EXPECT_EQ(collector.keptBlocksOf(7).blocks, (std::array<std::uint64_t, 4>{}));
    EXPECT_EQ(collector.keptBlocksOf(8).blocks, (std::array<std::uint64_t, 4>{2, 2, 0, 0}));
    expectSummariesOfTheReadEvents(collector);
}

// A picture's blocks are read on their own, in the builder's order, and go once it is made.
TEST(ObserverCollectorPictureDrops, EachPicturesBlocksAreReadAndGivenBackOnTheirOwn)
{
    ObserverEventCollector collector(kNoBlockEventBound, 0, kSmallLimits);
    for (std::uint64_t picture = 6; picture <= 7; ++picture) {
        for (std::uint32_t ctu = 2; ctu-- > 0;) {
            ASSERT_EQ(collector.onEvent(cuOf(picture, ctu, 1).header()), 0);
            ASSERT_EQ(collector.onEvent(ctuOf(picture, ctu).header()), 0);
        }
    }
    collector.finalize();
    std::vector<std::uint64_t> sortedBlocksOfPicture7;
    for (std::uint64_t index = 0; index < collector.eventCount(); ++index) {
        const ObserverEventRecord record = collector.eventAt(index);
        if (record.pictureIdentity == 7) {
            sortedBlocksOfPicture7.push_back((std::uint64_t{record.kind} << 32) | record.ctuAddress);
        }
    }
    std::vector<std::uint64_t> read;
    std::vector<std::uint64_t> ctusRead;
    ObserverEventRecord record;
    collector.forEachBlockOf(
        7, [&](const ObserverEventRecord& block) { read.push_back((std::uint64_t{block.kind} << 32) | block.ctuAddress); },
        record);
    collector.forEachBlockOf(
        7, [&](const ObserverEventRecord& block) { ctusRead.push_back(block.ctuAddress); }, record,
        VEXILO_OBSERVER_EVENT_CTU);
    EXPECT_EQ(read, sortedBlocksOfPicture7);
    EXPECT_EQ(ctusRead, (std::vector<std::uint64_t>{0, 1}));

    collector.releaseBlocksOf(7);
    std::size_t readAfterRelease = 0;
    collector.forEachBlockOf(7, [&](const ObserverEventRecord&) { ++readAfterRelease; }, record);
    EXPECT_EQ(readAfterRelease, 0u);
    collector.forEachBlockOf(6, [&](const ObserverEventRecord&) { ++readAfterRelease; }, record);
    EXPECT_EQ(readAfterRelease, 4u) << "the other picture keeps its blocks";
    EXPECT_EQ(collector.picturesWithBlocks(), 2u) << "a picture made keeps counting as one with blocks";
}

TEST(ObserverCollectorPictureDrops, ATargetPictureIgnoresTheBoundAndTheBudget)
{
    ObserverCollectorLimits limits = kSmallLimits;
    limits.blockBudgetBytes = 1;
    ObserverEventCollector collector(1, 7, limits);
    ASSERT_EQ(collector.onEvent(testing::parameterSetEvent(VEXILO_OBSERVER_EVENT_SPS, 0, 64, 64).header()), 0);
    for (std::uint32_t ctu = 0; ctu < 4; ++ctu) {
        ASSERT_EQ(collector.onEvent(cuOf(7, ctu, 1).header()), 0);
        ASSERT_EQ(collector.onEvent(ctuOf(7, ctu).header()), 0);
    }
    collector.finalize();
    EXPECT_EQ(collector.eventCount(), 1u + 8u);
    EXPECT_EQ(collector.droppedCount(), 0u);
}

struct DropCase {
    const char* name;
    std::vector<EventBytes> events;
    std::uint64_t dropped;
    std::uint64_t kept;
};

class ObserverCollectorDrops : public ::testing::TestWithParam<DropCase> {};

TEST_P(ObserverCollectorDrops, CountsWithoutFailing)
{
    const DropCase& c = GetParam();
    ObserverEventCollector collector(8, 0, kSmallLimits);
    for (const EventBytes& event : c.events) {
        EXPECT_EQ(collector.onEvent(event.header()), 0) << c.name;
    }
    collector.finalize();
    EXPECT_FALSE(collector.failed()) << c.name;
    EXPECT_EQ(collector.fatalLine(), 0u) << c.name;
    EXPECT_EQ(collector.droppedCount(), c.dropped) << c.name;
    EXPECT_EQ(collector.eventCount(), c.kept) << c.name;
}

std::vector<EventBytes> markers(std::size_t count)
{
    std::vector<EventBytes> events;
    for (std::size_t i = 0; i < count; ++i) {
        events.push_back(testing::marker(VEXILO_OBSERVER_EVENT_LIFECYCLE, i));
    }
    return events;
}

INSTANTIATE_TEST_SUITE_P(
    EveryCountedDrop, ObserverCollectorDrops,
    ::testing::Values(
        DropCase{"stream events are never bounded", markers(10), 0, 10},
        DropCase{"block without picture", {testing::cuEvent(1, 0, 0, 5, 0, 0, 0, 8)}, 1, 0},
        DropCase{"CU without identity", {cuOf(7, 0, 0)}, 1, 0},
        DropCase{"CU without extent", {testing::cuEvent(1, 7, 0, 5, 0, 0, 0, 0)}, 1, 0},
        DropCase{"PU part index 4", {testing::puEvent(1, 7, 0, 5, 4, 0, 0, 8, -1)}, 1, 0},
        DropCase{"TU without identity", {testing::tuEvent(1, 7, 0, 5, 0, 0, 0, 0, 8)}, 1, 0},
        DropCase{"abandoned batch", {cuOf(7, 0, 1), cuOf(7, 0, 2), cuOf(7, 1, 3), ctuOf(7, 1)}, 4, 0},
        DropCase{"CTU of another address", {cuOf(7, 0, 1), ctuOf(7, 1)}, 2, 0},
        DropCase{"CTU without extent", {cuOf(7, 0, 1), testing::ctuEvent(1, 7, 0, 0, 0, 0, 16)}, 2, 0},
        DropCase{"a bad block costs the blocks kept before it",
                 {cuOf(7, 0, 1), ctuOf(7, 0), cuOf(7, 1, 0), cuOf(7, 2, 1), ctuOf(7, 2)}, 5, 0},
        DropCase{"other pictures keep theirs", {cuOf(7, 0, 0), cuOf(8, 0, 1), ctuOf(8, 0)}, 1, 2}),
    [](const ::testing::TestParamInfo<DropCase>& test) { return testing::caseName(test.param.name); });

TEST(ObserverCollectorDrops, ThreadsBeyondTheSlotsLoseTheirStreamEvents)
{
    ObserverEventCollector collector(16, 0, ObserverCollectorLimits{2, 8});
    const auto sendNal = [&](std::uint64_t identity) {
        std::thread([&collector, identity] {
            EXPECT_EQ(collector.onEvent(testing::nalUnitEvent(identity, static_cast<std::int64_t>(identity), 1).header()), 0);
        }).join();
    };
    sendNal(1);
    sendNal(2);
    sendNal(3);
    EXPECT_EQ(collector.droppedCount(), 1u);
    EXPECT_FALSE(collector.failed());
    EXPECT_EQ(collector.eventCount(), 2u);
}

TEST(ObserverCollectorDrops, IgnoresBlocksOfOtherPicturesUnderATarget)
{
    ObserverEventCollector collector(16, 7, kSmallLimits);
    EXPECT_EQ(collector.onEvent(cuOf(8, 0, 1).header()), 0);
    EXPECT_EQ(collector.onEvent(ctuOf(8, 0).header()), 0);
    EXPECT_EQ(collector.onEvent(cuOf(7, 0, 1).header()), 0);
    EXPECT_EQ(collector.onEvent(ctuOf(7, 0).header()), 0);
    collector.finalize();
    EXPECT_EQ(collector.droppedCount(), 0u);
    EXPECT_EQ(collector.eventCount(), 2u);
}

TEST(ObserverCollectorStreamEvents, InheritTheNalIdentityOfTheirThread)
{
    ObserverEventCollector collector(16, 0, kSmallLimits);
    ASSERT_EQ(collector.onEvent(testing::nalUnitEvent(55, 0, 33).header()), 0);
    ASSERT_EQ(collector.onEvent(testing::parameterSetEvent(VEXILO_OBSERVER_EVENT_SPS, 0).header()), 0);
    collector.finalize();
    ASSERT_EQ(collector.eventCount(), 2u);
    EXPECT_EQ(collector.eventAt(1).kind, VEXILO_OBSERVER_EVENT_SPS);
    EXPECT_EQ(collector.eventAt(1).nalIdentity, 55u);
}

TEST(ObserverCollectorAccess, EventAtRejectsIndicesBeyondTheCount)
{
    ObserverEventCollector collector(16, 0, kSmallLimits);
    ASSERT_EQ(collector.onEvent(testing::marker(5, 1).header()), 0);
    ASSERT_EQ(collector.onEvent(cuOf(7, 0, 1).header()), 0);
    ASSERT_EQ(collector.onEvent(ctuOf(7, 0).header()), 0);
    EXPECT_EQ(collector.eventAt(0).kind, 5u) << "stream events first";
    EXPECT_EQ(collector.eventAt(1).kind, VEXILO_OBSERVER_EVENT_CU) << "then the blocks as they came";
    EXPECT_EQ(collector.eventAt(2).kind, VEXILO_OBSERVER_EVENT_CTU);
    try {
        (void)collector.eventAt(3);
        FAIL() << "expected std::out_of_range";
    } catch (const std::out_of_range& error) {
        EXPECT_STREQ(error.what(), "Analyzer observer event index is out of range");
    }
    collector.finalize();
    collector.finalize();
    EXPECT_EQ(collector.eventCount(), 3u);
    EXPECT_THROW((void)collector.eventAt(3), std::out_of_range);
}

TEST(ObserverCollectorAccess, StatisticsTextNamesTheCounters)
{
    ObserverEventCollector collector(2, 0, kSmallLimits);
    for (const EventBytes& event : markers(6)) {
        ASSERT_EQ(collector.onEvent(event.header()), 0);
    }
    ASSERT_EQ(collector.onEvent(cuOf(7, 0, 1).header()), 0);
    ASSERT_EQ(collector.onEvent(ctuOf(7, 0).header()), 0);
    ASSERT_EQ(collector.onEvent(ctuOf(8, 0).header()), 0);
    EXPECT_EQ(collector.statisticsText(),
              "capacity=2; collected=8; dropped=1; fatalLine=0; picturesWithBlocks=1; picturesWithoutBlocks=1");
}

std::uint64_t expectedSliceIdentity(const EventBytes& event)
{
    const auto kind = event.get<std::uint32_t>(8);
    if (kind == VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER) {
        return event.get<std::uint64_t>(72);
    }
    const bool sliceChild = kind >= VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY &&
                            kind <= VEXILO_OBSERVER_EVENT_REFERENCE_STATE_MARKER;
    return sliceChild ? event.get<std::uint64_t>(64) : 0;
}

std::uint64_t expectedPictureIdentity(const EventBytes& event)
{
    const auto kind = event.get<std::uint32_t>(8);
    if (kind == VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER) {
        return event.get<std::uint64_t>(80);
    }
    if (kind == VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT) {
        return event.get<std::uint64_t>(64);
    }
    return expectedSliceIdentity(event) != 0 ? event.get<std::uint64_t>(72) : 0;
}

// The whole order of one small stream, delivered shuffled by several threads at once.
TEST(ObserverCollectorOrder, SortsShuffledEventsOfSeveralThreadsIntoTheBuilderOrder)
{
    std::vector<EventBytes> expected;
    expected.push_back(testing::marker(VEXILO_OBSERVER_EVENT_START_MARKER, 900));
    for (std::uint64_t picture = 1; picture <= 3; ++picture) {
        const std::int64_t offset = static_cast<std::int64_t>(picture) * 1000;
        expected.push_back(testing::nalUnitEvent(picture, offset, 1, picture));
        expected.push_back(testing::sliceEvent(picture, 10 + picture, picture));
        expected.push_back(testing::sliceChildEvent(VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY, 10 + picture, picture, 0));
        expected.push_back(testing::sliceChildEvent(VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY, 10 + picture, picture, 1));
        expected.push_back(testing::referenceListEvent(10 + picture, picture, 0, 0, 1));
        expected.push_back(testing::sliceChildEvent(VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY, 10 + picture, picture, 0));
    }
    for (std::uint64_t picture = 1; picture <= 3; ++picture) {
        expected.push_back(testing::pictureOutputEvent(picture, static_cast<std::int64_t>(picture) + 5, 0));
    }
    expected.push_back(testing::marker(VEXILO_OBSERVER_EVENT_END_MARKER, 0));

    std::vector<const EventBytes*> shuffled;
    for (const EventBytes& event : expected) {
        shuffled.push_back(&event);
    }
    std::mt19937 random(1234);
    std::shuffle(shuffled.begin(), shuffled.end(), random);

    ObserverEventCollector collector(64, 0, kSmallLimits);
    constexpr std::size_t kThreads = 4;
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t i = t; i < shuffled.size(); i += kThreads) {
                // Events of the NAL group inherit from their own thread; these all carry one.
                EXPECT_EQ(collector.onEvent(shuffled[i]->header()), 0);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    collector.finalize();
    ASSERT_EQ(collector.eventCount(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ObserverEventRecord& record = collector.eventAt(i);
        EXPECT_EQ(record.kind, expected[i].get<std::uint32_t>(8)) << "position " << i;
        EXPECT_EQ(record.ordinal, expected[i].get<std::uint64_t>(16)) << "position " << i;
        EXPECT_EQ(record.sliceIdentity, expectedSliceIdentity(expected[i])) << "position " << i;
        EXPECT_EQ(record.pictureIdentity, expectedPictureIdentity(expected[i])) << "position " << i;
        if (record.kind == VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY) {
            EXPECT_EQ(record.payload.shortTermRps.entryIndex, expected[i].get<std::uint32_t>(80)) << "position " << i;
        }
    }
}

// Slice threads bring the CTUs of one picture at once; each thread's blocks are stored as
// differences to its own earlier blocks, which must not mix with the other threads'.
TEST(ObserverCollectorOrder, BlocksOfOnePictureFromSeveralThreadsAllReadBack)
{
    constexpr std::uint32_t kThreads = 4;
    constexpr std::uint32_t kCtusPerThread = 300;
    constexpr std::uint32_t kCusPerCtu = 4;
    constexpr std::uint32_t kCtusPerRow = 60;
    ObserverEventCollector collector(kNoBlockEventBound, 0, ObserverCollectorLimits{8, 64});
    std::vector<std::thread> threads;
    for (std::uint32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&collector, t] {
            for (std::uint32_t i = 0; i < kCtusPerThread; ++i) {
                const std::uint32_t ctu = i * kThreads + t;
                const std::uint32_t x = ctu % kCtusPerRow * 16;
                const std::uint32_t y = ctu / kCtusPerRow * 16;
                for (std::uint32_t cu = 0; cu < kCusPerCtu; ++cu) {
                    const EventBytes event = testing::cuEvent(1, 7, ctu, 1 + ctu * kCusPerCtu + cu, 0, x + cu % 2 * 8,
                                                              y + cu / 2 * 8, 8);
                    EXPECT_EQ(collector.onEvent(event.header()), 0);
                }
                EXPECT_EQ(collector.onEvent(testing::ctuEvent(1, 7, ctu, x, y, 16, 16).header()), 0);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    collector.finalize();
    EXPECT_EQ(collector.droppedCount(), 0u);
    ASSERT_EQ(collector.eventCount(), kThreads * kCtusPerThread * (kCusPerCtu + 1));
    std::vector<bool> seen(kThreads * kCtusPerThread * kCusPerCtu + 1, false);
    for (std::uint64_t i = 0; i < collector.eventCount(); ++i) {
        const ObserverEventRecord record = collector.eventAt(i);
        if (record.kind != VEXILO_OBSERVER_EVENT_CU) {
            continue;
        }
        const std::uint64_t cu = record.payload.cu.cuIdentity;
        ASSERT_TRUE(cu >= 1 && cu < seen.size()) << i;
        const std::uint32_t ctu = static_cast<std::uint32_t>((cu - 1) / kCusPerCtu);
        const std::uint32_t part = static_cast<std::uint32_t>((cu - 1) % kCusPerCtu);
        EXPECT_FALSE(seen[cu]) << cu;
        seen[cu] = true;
        EXPECT_EQ(record.ctuAddress, ctu) << cu;
        EXPECT_EQ(record.bounds.x, ctu % kCtusPerRow * 16 + part % 2 * 8) << cu;
        EXPECT_EQ(record.bounds.y, ctu / kCtusPerRow * 16 + part / 2 * 8) << cu;
    }
    EXPECT_EQ(static_cast<std::uint64_t>(std::count(seen.begin() + 1, seen.end(), true)),
              std::uint64_t{kThreads} * kCtusPerThread * kCusPerCtu);
}

TEST(ObserverCollectorOrder, BlocksFollowTheirSliceAndCtuOrder)
{
    ObserverEventCollector collector(64, 0, kSmallLimits);
    ASSERT_EQ(collector.onEvent(testing::nalUnitEvent(1, 0, 1).header()), 0);
    ASSERT_EQ(collector.onEvent(testing::sliceEvent(1, 1, 7).header()), 0);
    ASSERT_EQ(collector.onEvent(testing::tuEvent(1, 7, 1, 2, 9, 0, 0, 0, 8).header()), 0);
    ASSERT_EQ(collector.onEvent(cuOf(7, 1, 2).header()), 0);
    ASSERT_EQ(collector.onEvent(ctuOf(7, 1).header()), 0);
    ASSERT_EQ(collector.onEvent(cuOf(7, 0, 3).header()), 0);
    ASSERT_EQ(collector.onEvent(ctuOf(7, 0).header()), 0);
    collector.finalize();
    const std::uint32_t kinds[] = {6, 11, 18, 19, 18, 19, 21};
    const std::uint32_t ctus[] = {0, 0, 0, 0, 1, 1, 1};
    ASSERT_EQ(collector.eventCount(), std::size(kinds));
    for (std::size_t i = 0; i < std::size(kinds); ++i) {
        EXPECT_EQ(collector.eventAt(i).kind, kinds[i]) << i;
        EXPECT_EQ(collector.eventAt(i).ctuAddress, ctus[i]) << i;
    }
    expectSummariesOfTheReadEvents(collector);
}

// The stream events come after every picture's blocks and one picture is reported late, so
// whole runs of events fall behind those before them and have to be merged back in between.
TEST(ObserverCollectorOrder, EventsReportedBehindTheirPlaceAreMergedBackInBetween)
{
    constexpr std::uint64_t kPictures = 6;
    constexpr std::uint64_t kLatePicture = 3;
    ObserverEventCollector collector(256, 0, kSmallLimits);
    const auto deliver = [&collector](std::uint64_t picture) {
        const auto slice = 10 + picture;
        const auto position = static_cast<std::int64_t>(picture);
        ASSERT_EQ(collector.onEvent(testing::nalUnitEvent(picture, position * 1000, 1).header()), 0);
        ASSERT_EQ(collector.onEvent(testing::sliceEvent(picture, slice, picture).header()), 0);
        for (std::uint32_t ctu = 0; ctu < 2; ++ctu) {
            for (std::uint64_t cu = 1; cu <= 2; ++cu) {
                const auto event = testing::cuEvent(slice, picture, ctu, ctu * 2 + cu, 0, 0, 0, 8);
                ASSERT_EQ(collector.onEvent(event.header()), 0);
            }
            ASSERT_EQ(collector.onEvent(testing::ctuEvent(slice, picture, ctu, ctu * 16, 0, 16, 16).header()), 0);
        }
        ASSERT_EQ(collector.onEvent(testing::pictureOutputEvent(picture, position, 0).header()), 0);
    };
    for (std::uint64_t picture = 1; picture <= kPictures; ++picture) {
        if (picture != kLatePicture) {
            deliver(picture);
        }
        if (picture == kPictures - 1) {
            deliver(kLatePicture);
        }
    }
    collector.finalize();

    // Each picture's NAL unit, slice and blocks in the stream's order, then the pictures put out.
    struct Expected {
        std::uint32_t kind;
        std::uint64_t picture;
    };
    std::vector<Expected> expected;
    for (std::uint64_t picture = 1; picture <= kPictures; ++picture) {
        expected.push_back({VEXILO_OBSERVER_EVENT_NAL_UNIT, 0});
        expected.push_back({VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER, picture});
        for (int ctu = 0; ctu < 2; ++ctu) {
            expected.push_back({VEXILO_OBSERVER_EVENT_CTU, picture});
            expected.push_back({VEXILO_OBSERVER_EVENT_CU, picture});
            expected.push_back({VEXILO_OBSERVER_EVENT_CU, picture});
        }
    }
    for (std::uint64_t picture = 1; picture <= kPictures; ++picture) {
        expected.push_back({VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT, picture});
    }
    ASSERT_EQ(collector.eventCount(), expected.size());
    std::uint64_t nalPicture = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ObserverEventRecord record = collector.eventAt(i);
        EXPECT_EQ(record.kind, expected[i].kind) << "position " << i;
        if (record.kind == VEXILO_OBSERVER_EVENT_NAL_UNIT) {
            EXPECT_EQ(record.nalIdentity, ++nalPicture) << "position " << i;
        } else {
            EXPECT_EQ(record.pictureIdentity, expected[i].picture) << "position " << i;
        }
    }
}

// Producers that work on several pictures at once report whole pictures in any order: the
// blocks still come out picture by picture behind their own NAL unit and slice.
TEST(ObserverCollectorOrder, PicturesReportedInAnyOrderComeOutInTheStreamsOrder)
{
    constexpr std::uint64_t kPictures = 12;
    constexpr std::uint32_t kCtus = 3;
    ObserverEventCollector collector(1024, 0, kSmallLimits);
    for (std::uint64_t picture = 1; picture <= kPictures; ++picture) {
        const auto position = static_cast<std::int64_t>(picture) * 1000;
        ASSERT_EQ(collector.onEvent(testing::nalUnitEvent(picture, position, 1).header()), 0);
        ASSERT_EQ(collector.onEvent(testing::sliceEvent(picture, 10 + picture, picture).header()), 0);
    }
    std::vector<std::uint64_t> reportOrder;
    for (std::uint64_t picture = kPictures; picture >= 1; --picture) {
        reportOrder.push_back(picture);
    }
    std::mt19937 random(77);
    std::shuffle(reportOrder.begin() + kPictures / 2, reportOrder.end(), random);
    for (const std::uint64_t picture : reportOrder) {
        for (std::uint32_t ctu = 0; ctu < kCtus; ++ctu) {
            for (std::uint64_t cu = 1; cu <= 2; ++cu) {
                const auto event = testing::cuEvent(10 + picture, picture, ctu, ctu * 2 + cu, 0, 0, 0, 8);
                ASSERT_EQ(collector.onEvent(event.header()), 0);
            }
            ASSERT_EQ(collector.onEvent(testing::ctuEvent(10 + picture, picture, ctu, ctu * 16, 0, 16, 16).header()), 0);
        }
    }
    collector.finalize();

    ASSERT_EQ(collector.eventCount(), kPictures * (2 + kCtus * 3));
    std::uint64_t index = 0;
    for (std::uint64_t picture = 1; picture <= kPictures; ++picture) {
        EXPECT_EQ(collector.eventAt(index++).nalIdentity, picture);
        EXPECT_EQ(collector.eventAt(index++).sliceIdentity, 10 + picture);
        for (std::uint32_t ctu = 0; ctu < kCtus; ++ctu) {
            for (const std::uint32_t kind : {VEXILO_OBSERVER_EVENT_CTU, VEXILO_OBSERVER_EVENT_CU, VEXILO_OBSERVER_EVENT_CU}) {
                const ObserverEventRecord record = collector.eventAt(index);
                EXPECT_EQ(record.kind, kind) << "position " << index;
                EXPECT_EQ(record.pictureIdentity, picture) << "position " << index;
                EXPECT_EQ(record.ctuAddress, ctu) << "position " << index;
                ++index;
            }
        }
    }
    expectSummariesOfTheReadEvents(collector);
}

// Blocks that wait on disk from the moment their picture is put out come back as those kept in
// memory do: each picture's in the builder's order, placed by its own slices.
TEST(ObserverCollectorOrder, SpilledPicturesReadBackInTheOrderOfThoseKeptInMemory)
{
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("vexilo-spill-test-" + std::to_string(::getpid()));
    ObserverEventCollector inMemory(kNoBlockEventBound, 0, kSmallLimits);
    ObserverEventCollector spilled(kNoBlockEventBound, 0, kSmallLimits);
    spilled.spillPicturesInto(directory);
    const auto feed = [](ObserverEventCollector& collector) {
        for (std::uint64_t picture = 7; picture <= 9; ++picture) {
            for (std::uint64_t slice = 0; slice < 2; ++slice) {
                const std::uint64_t nal = picture * 10 + slice;
                ASSERT_EQ(collector.onEvent(testing::nalUnitEvent(nal, static_cast<std::int64_t>(nal * 100), 1).header()),
                          0);
                ASSERT_EQ(collector.onEvent(testing::sliceEvent(nal, nal, picture, 2 * static_cast<std::uint32_t>(slice))
                                                .header()),
                          0);
                // Each slice's CTUs come last first, as threads of the decoder may bring them.
                for (std::uint32_t ctu = 2 * static_cast<std::uint32_t>(slice) + 2; ctu-- > 2 * slice;) {
                    ASSERT_EQ(collector.onEvent(testing::cuEvent(nal, picture, ctu, ctu + 1, 0, 0, 0, 8).header()), 0);
                    ASSERT_EQ(collector.onEvent(testing::ctuEvent(nal, picture, ctu, 0, 0, 16, 16).header()), 0);
                }
            }
            ASSERT_EQ(collector.onEvent(testing::pictureOutputEvent(picture, static_cast<std::int64_t>(picture - 7),
                                                                    static_cast<std::int64_t>(picture - 7))
                                            .header()),
                      0);
        }
    };
    feed(inMemory);
    feed(spilled);
    EXPECT_EQ(spilled.spilledEventCount(), 3u * 8u) << "every picture went to disk once put out";
    inMemory.finalize();
    spilled.finalize();
    EXPECT_TRUE(std::filesystem::is_empty(directory)) << "the spill file is gone from the directory at once";
    const auto blocksOf = [](const ObserverEventCollector& collector, std::uint64_t picture) {
        std::vector<std::uint64_t> blocks;
        ObserverEventRecord record;
        collector.forEachBlockOf(
            picture,
            [&](const ObserverEventRecord& block) {
                blocks.push_back((std::uint64_t{block.kind} << 32) | (block.ctuAddress << 8) | block.sliceIdentity % 10);
            },
            record);
        return blocks;
    };
    for (std::uint64_t picture = 7; picture <= 9; ++picture) {
        SCOPED_TRACE(picture);
        EXPECT_EQ(blocksOf(spilled, picture).size(), 8u);
        EXPECT_EQ(blocksOf(spilled, picture), blocksOf(inMemory, picture));
        EXPECT_EQ(spilled.keptBlocksOf(picture).blocks, inMemory.keptBlocksOf(picture).blocks);
    }
    EXPECT_EQ(spilled.picturesWithBlocks(), 3u);
    std::filesystem::remove_all(directory);
}

TEST(ObserverCollectorAttach, RefusesNullContextsSecondAttachesAndForeignThreads)
{
    ObserverEventCollector collector(16, 0, kSmallLimits);
    EXPECT_EQ(collector.attach(nullptr, VEXILO_OBSERVER_EVENT_MASK_ALL), -22);

    const std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> context(
        avcodec_alloc_context3(nullptr), [](AVCodecContext* c) { avcodec_free_context(&c); });
    ASSERT_NE(context, nullptr);
    int foreignResult = 0;
    std::thread([&] { foreignResult = collector.attach(context.get(), VEXILO_OBSERVER_EVENT_MASK_ALL); }).join();
    EXPECT_EQ(foreignResult, -22);
    EXPECT_FALSE(collector.isAttached());

    ASSERT_GE(collector.attach(context.get(), VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX), 0);
    EXPECT_TRUE(collector.isAttached());
    EXPECT_EQ(collector.attach(context.get(), VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX), -22);
    EXPECT_GE(collector.detach(), 0);
    EXPECT_FALSE(collector.isAttached());
    EXPECT_EQ(collector.detach(), 0) << "detaching twice is harmless";
}

}  // namespace
}  // namespace vexilo::analyzer
