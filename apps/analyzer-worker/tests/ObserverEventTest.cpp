#include "ObserverEventBytes.h"
#include "observer/ObserverCallback.h"
#include "observer/ObserverEventRecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace vexilo::analyzer {
namespace {

using testing::EventBytes;

template <typename T>
T recordValueAt(const ObserverEventRecord& record, std::size_t eventOffset)
{
    // The record keeps the kind's layout whole, so an event offset maps onto the payload.
    T value{};
    std::memcpy(&value, record.payload.raw.data() + eventOffset, sizeof(T));
    return value;
}

struct MinimumSizeCase {
    std::uint32_t kind;
    std::uint32_t minimumSize;
};

class ObserverEventMinimumSize : public ::testing::TestWithParam<MinimumSizeCase> {};

TEST_P(ObserverEventMinimumSize, AcceptsTheMinimumAndRejectsOneByteLess)
{
    const MinimumSizeCase c = GetParam();
    ObserverEventRecord record;
    EXPECT_TRUE(normalizeObserverEvent(*EventBytes(c.kind, c.minimumSize).header(), record));
    EXPECT_EQ(record.kind, c.kind);
    if (c.minimumSize > 64) {
        EXPECT_FALSE(normalizeObserverEvent(*EventBytes(c.kind, c.minimumSize - 1).header(), record));
    }
    EXPECT_EQ(observerEventMinimumSize(c.kind), c.minimumSize);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ObserverEventMinimumSize,
                         ::testing::Values(MinimumSizeCase{1, 64}, MinimumSizeCase{2, 64}, MinimumSizeCase{3, 64},
                                           MinimumSizeCase{4, 64}, MinimumSizeCase{5, 64}, MinimumSizeCase{6, 120},
                                           MinimumSizeCase{7, 1176}, MinimumSizeCase{8, 1176},
                                           MinimumSizeCase{9, 1176}, MinimumSizeCase{10, 112},
                                           MinimumSizeCase{11, 216}, MinimumSizeCase{12, 112},
                                           MinimumSizeCase{13, 112}, MinimumSizeCase{14, 112},
                                           MinimumSizeCase{15, 104}, MinimumSizeCase{16, 112},
                                           MinimumSizeCase{17, 96}, MinimumSizeCase{18, 120},
                                           MinimumSizeCase{19, 208}, MinimumSizeCase{20, 240},
                                           MinimumSizeCase{21, 264}, MinimumSizeCase{22, 88},
                                           MinimumSizeCase{23, 272}, MinimumSizeCase{24, 64}, MinimumSizeCase{1000, 64}),
                         [](const ::testing::TestParamInfo<MinimumSizeCase>& test) {
                             return "Kind" + std::to_string(test.param.kind);
                         });

TEST(ObserverEventHeader, RejectsNullWrongVersionAndShortHeaders)
{
    EXPECT_FALSE(isValidObserverEventHeader(nullptr));
    EventBytes version7(VEXILO_OBSERVER_EVENT_START_MARKER, 64);
    version7.put<std::uint32_t>(4, 7);
    EXPECT_FALSE(isValidObserverEventHeader(version7.header()));
    EventBytes size63(VEXILO_OBSERVER_EVENT_START_MARKER, 64);
    size63.put<std::uint32_t>(0, 63);
    EXPECT_FALSE(isValidObserverEventHeader(size63.header()));
    EXPECT_TRUE(isValidObserverEventHeader(EventBytes(VEXILO_OBSERVER_EVENT_START_MARKER, 64).header()));
}

TEST(ObserverEventNormalization, CopiesTheHeaderAndLetsParameterSetsReplaceTheSize)
{
    EventBytes sps = testing::parameterSetEvent(VEXILO_OBSERVER_EVENT_SPS, 0, 1920, 1080);
    sps.ordinal(42).displayIndex(3).timestamps(1000, 900).size(16, 16).pictureType(2).put<std::uint32_t>(60, 0xBEEF);
    ObserverEventRecord record;
    ASSERT_TRUE(normalizeObserverEvent(*sps.header(), record));
    EXPECT_EQ(record.abiVersion, 8u);
    EXPECT_EQ(record.ordinal, 42u);
    EXPECT_EQ(record.displayIndex, 3);
    EXPECT_EQ(record.pts, 1000);
    EXPECT_EQ(record.dts, 900);
    EXPECT_EQ(record.width, 1920u);
    EXPECT_EQ(record.height, 1080u);
    EXPECT_EQ(record.pictureType, 2u);
    EXPECT_EQ(record.headerReserved, 0xBEEFu);
    EXPECT_EQ(record.payload.parameterSet.parameterSetKind, 2u);
}

TEST(ObserverEventNormalization, FillsTheSharedSlotsOfEachKind)
{
    ObserverEventRecord record;
    ASSERT_TRUE(normalizeObserverEvent(*testing::nalUnitEvent(77, 10, 1).header(), record));
    EXPECT_EQ(record.nalIdentity, 77u);

    ASSERT_TRUE(normalizeObserverEvent(*testing::sliceEvent(77, 5, 9).header(), record));
    EXPECT_EQ(record.nalIdentity, 77u);
    EXPECT_EQ(record.sliceIdentity, 5u);
    EXPECT_EQ(record.pictureIdentity, 9u);

    ASSERT_TRUE(normalizeObserverEvent(*testing::tuEvent(5, 9, 3, 11, 12, 0, 8, 16, 4).header(), record));
    EXPECT_EQ(record.sliceIdentity, 5u);
    EXPECT_EQ(record.pictureIdentity, 9u);
    EXPECT_EQ(record.ctuAddress, 3u);
    EXPECT_EQ(record.bounds.x, 8u);
    EXPECT_EQ(record.bounds.y, 16u);
    EXPECT_EQ(record.bounds.width, 4u);
    EXPECT_EQ(tuIdentityOf(record), 12u);
    EXPECT_EQ(cuIdentityOf(record), 11u);
}

TEST(ObserverEventNormalization, KeepsAtMost256SeiPayloadBytes)
{
    std::vector<std::uint8_t> payload(300);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(i);
    }
    ObserverEventRecord record;
    ASSERT_TRUE(normalizeObserverEvent(*testing::seiEvent(5, payload).header(), record));
    EXPECT_EQ(record.payloadCopiedSize, 256u);
    EXPECT_TRUE(record.payloadTruncated);
    EXPECT_EQ(record.payloadBytes[255], 255);
    EXPECT_EQ(record.payload.sei.payload, nullptr);

    EventBytes withoutPointer = testing::seiEvent(5, payload);
    withoutPointer.put<const std::uint8_t*>(96, nullptr);
    ASSERT_TRUE(normalizeObserverEvent(*withoutPointer.header(), record));
    EXPECT_EQ(record.payloadCopiedSize, 0u);
    EXPECT_EQ(record.payload.sei.payloadType, 5u);
}

// One presence rule: with `bit` of the mask at `maskOffset` clear, the value at
// `fieldOffset` reads `cleared` whatever the event held.
struct PresenceCase {
    const char* name;
    std::uint32_t kind;
    std::size_t maskOffset;
    unsigned bit;
    std::size_t fieldOffset;
    std::size_t fieldWidth;
    std::int64_t cleared;
};

class ObserverEventFixUp : public ::testing::TestWithParam<PresenceCase> {};

std::int64_t readSigned(const ObserverEventRecord& record, std::size_t offset, std::size_t width)
{
    return width == 8 ? recordValueAt<std::int64_t>(record, offset) : recordValueAt<std::int32_t>(record, offset);
}

TEST_P(ObserverEventFixUp, ClearsTheValueOfAnAbsentBitOnly)
{
    const PresenceCase c = GetParam();
    EventBytes event(c.kind, observerEventMinimumSize(c.kind));
    // Every payload word holds a marker; the masks are rewritten below.
    for (std::size_t offset = 64; offset + 4 <= event.byteSize(); offset += 4) {
        event.put<std::int32_t>(offset, 0x11);
    }
    const std::size_t maskOffsets[] = {88, 96, 104, 112};
    for (const std::size_t maskOffset : maskOffsets) {
        event.put<std::uint64_t>(maskOffset, ~std::uint64_t{0});
    }
    ObserverEventRecord record;
    ASSERT_TRUE(normalizeObserverEvent(*event.header(), record));
    fixUpObserverEvent(record);
    const std::int64_t kept = readSigned(record, c.fieldOffset, c.fieldWidth);
    EXPECT_NE(kept, c.cleared) << c.name;

    event.put<std::uint64_t>(c.maskOffset, ~(std::uint64_t{1} << c.bit));
    ASSERT_TRUE(normalizeObserverEvent(*event.header(), record));
    fixUpObserverEvent(record);
    EXPECT_EQ(readSigned(record, c.fieldOffset, c.fieldWidth), c.cleared) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    EveryRule, ObserverEventFixUp,
    ::testing::Values(
        PresenceCase{"slice address", 11, 88, 4, 140, 4, 0}, PresenceCase{"slice signaled type", 11, 88, 5, 144, 4, 0},
        PresenceCase{"slice poc lsb", 11, 88, 7, 156, 4, 0}, PresenceCase{"slice qp delta", 11, 88, 15, 192, 4, 0},
        PresenceCase{"slice poc", 11, 96, 3, 160, 4, 0}, PresenceCase{"slice qp", 11, 96, 4, 196, 4, 0},
        PresenceCase{"cu skip", 19, 104, 3, 148, 4, 0}, PresenceCase{"cu split", 19, 104, 4, 152, 4, 0},
        PresenceCase{"cu partition", 19, 104, 5, 156, 4, 0}, PresenceCase{"cu pcm", 19, 104, 6, 160, 4, 0},
        PresenceCase{"cu bypass", 19, 104, 7, 164, 4, 0}, PresenceCase{"cu qp", 19, 104, 8, 168, 4, 0},
        PresenceCase{"cu chroma qp cb", 19, 104, 9, 180, 4, 0}, PresenceCase{"cu chroma qp cr", 19, 104, 10, 184, 4, 0},
        PresenceCase{"cu qp delta", 19, 104, 11, 188, 4, 0},
        PresenceCase{"cu chroma offset flag", 19, 104, 12, 192, 4, 0},
        PresenceCase{"cu chroma offset index", 19, 104, 12, 196, 4, -1},
        PresenceCase{"cu chroma offset cb", 19, 104, 12, 200, 4, 0},
        PresenceCase{"pu intra luma", 20, 96, 4, 140, 4, -1}, PresenceCase{"pu intra chroma", 20, 96, 5, 144, 4, -1},
        PresenceCase{"pu merge flag", 20, 96, 6, 148, 4, 0}, PresenceCase{"pu merge index", 20, 96, 7, 152, 4, 0},
        PresenceCase{"pu inter direction", 20, 96, 8, 156, 4, 0}, PresenceCase{"pu ref idx l0", 20, 96, 9, 160, 4, -1},
        PresenceCase{"pu ref idx l1", 20, 96, 10, 164, 4, -1}, PresenceCase{"pu ref poc l0", 20, 96, 11, 168, 4, -1},
        PresenceCase{"pu ref value l0", 20, 96, 11, 176, 8, 0}, PresenceCase{"pu ref status l0", 20, 96, 11, 224, 4, 0},
        PresenceCase{"pu ref poc l1", 20, 96, 12, 172, 4, -1}, PresenceCase{"pu ref value l1", 20, 96, 12, 184, 8, 0},
        PresenceCase{"pu ref status l1", 20, 96, 12, 228, 4, 0}, PresenceCase{"pu mv l0 x", 20, 96, 15, 192, 4, 0},
        PresenceCase{"pu mv l0 y", 20, 96, 15, 196, 4, 0}, PresenceCase{"pu mv l1 x", 20, 96, 16, 200, 4, 0},
        PresenceCase{"pu mv l1 y", 20, 96, 16, 204, 4, 0}, PresenceCase{"pu mvd l0", 20, 96, 17, 208, 4, 0},
        PresenceCase{"pu mvd l0 y", 20, 96, 17, 212, 4, 0}, PresenceCase{"pu mvd l1", 20, 96, 18, 216, 4, 0},
        PresenceCase{"pu mvd l1 y", 20, 96, 18, 220, 4, 0}, PresenceCase{"tu cbf luma", 21, 112, 3, 156, 4, 0},
        PresenceCase{"tu cbf cb", 21, 112, 4, 160, 4, 0}, PresenceCase{"tu cbf cr", 21, 112, 5, 164, 4, 0},
        PresenceCase{"tu skip luma", 21, 112, 6, 168, 4, 0}, PresenceCase{"tu skip cb", 21, 112, 7, 172, 4, 0},
        PresenceCase{"tu skip cr", 21, 112, 8, 176, 4, 0}, PresenceCase{"tu explicit luma", 21, 112, 9, 180, 4, 0},
        PresenceCase{"tu explicit cb", 21, 112, 10, 184, 4, 0}, PresenceCase{"tu explicit cr", 21, 112, 11, 188, 4, 0},
        PresenceCase{"tu direction luma", 21, 112, 12, 204, 4, -1},
        PresenceCase{"tu direction cb", 21, 112, 13, 208, 4, -1},
        PresenceCase{"tu direction cr", 21, 112, 14, 212, 4, -1},
        PresenceCase{"tu implicit luma", 21, 112, 15, 192, 4, 0}, PresenceCase{"tu implicit cb", 21, 112, 16, 196, 4, 0},
        PresenceCase{"tu implicit cr", 21, 112, 17, 200, 4, 0}, PresenceCase{"tu qp", 21, 112, 18, 220, 4, 0},
        PresenceCase{"tu chroma qp cb", 21, 112, 19, 224, 4, 0}, PresenceCase{"tu chroma qp cr", 21, 112, 20, 228, 4, 0},
        PresenceCase{"tu qp delta", 21, 112, 21, 232, 4, 0}, PresenceCase{"tu bypass", 21, 112, 23, 216, 4, 0},
        PresenceCase{"tu offset flag", 21, 112, 22, 236, 4, 0}, PresenceCase{"tu offset index", 21, 112, 22, 240, 4, -1},
        PresenceCase{"tu offset cb", 21, 112, 22, 244, 4, 0}),
    [](const ::testing::TestParamInfo<PresenceCase>& test) { return testing::caseName(test.param.name); });

// The signaled masks say where a value came from, never whether it exists: a skipped CU's
// merge flag is 1 without being coded, and MVDs that mvd_l1_zero_flag or a merge make zero
// stay the values they are.
TEST(ObserverEventFixUp, KeepsInferredValuesOfEveryBlockKind)
{
    struct SignaledMask {
        std::uint32_t kind;
        std::size_t signaledMaskOffset;
        std::size_t valueMaskOffset;
    };
    for (const SignaledMask c : {SignaledMask{20, 88, 96}, SignaledMask{19, 96, 104}, SignaledMask{21, 104, 112}}) {
        EventBytes event(c.kind, observerEventMinimumSize(c.kind));
        for (std::size_t offset = 64; offset + 4 <= event.byteSize(); offset += 4) {
            event.put<std::int32_t>(offset, 0x11);
        }
        event.put<std::uint64_t>(c.signaledMaskOffset, 0);
        event.put<std::uint64_t>(c.valueMaskOffset, ~std::uint64_t{0});
        ObserverEventRecord record;
        ASSERT_TRUE(normalizeObserverEvent(*event.header(), record));
        fixUpObserverEvent(record);
        for (std::size_t offset = 120; offset + 4 <= event.byteSize(); offset += 4) {
            EXPECT_EQ(recordValueAt<std::int32_t>(record, offset), 0x11) << "kind " << c.kind << " offset " << offset;
        }
    }
}

TEST(ObserverEventFixUp, LeavesOtherKindsAlone)
{
    EventBytes nal = testing::nalUnitEvent(3, 10, 1);
    ObserverEventRecord record;
    ASSERT_TRUE(normalizeObserverEvent(*nal.header(), record));
    const ObserverEventRecord before = record;
    fixUpObserverEvent(record);
    EXPECT_EQ(std::memcmp(&before, &record, sizeof(record)), 0);
}

TEST(ObserverCallback, ReportsAFatalResultWithoutACollector)
{
    EXPECT_EQ(observerCallback(nullptr, 0, testing::marker(1, 0).header()), -1);
}

TEST(ObserverCallback, PassesTheSinksAnswerAndTurnsWhatItThrowsIntoAFatalResult)
{
    struct ScriptedSink final : ObserverEventSink {
        int answer = 0;
        bool throws = false;
        const VexiloObserverEventHeader* received = nullptr;
        int onEvent(const VexiloObserverEventHeader* event) override
        {
            received = event;
            if (throws) {
                throw std::runtime_error("sink failed");
            }
            return answer;
        }
    };
    const EventBytes event = testing::marker(1, 0);
    ScriptedSink sink;
    void* opaque = static_cast<ObserverEventSink*>(&sink);
    EXPECT_EQ(observerCallback(opaque, 0, event.header()), 0);
    EXPECT_EQ(sink.received, event.header());
    sink.answer = -1;
    EXPECT_EQ(observerCallback(opaque, 0, event.header()), -1);
    sink.answer = 0;
    sink.throws = true;
    EXPECT_EQ(observerCallback(opaque, 0, event.header()), -1);
}

}  // namespace
}  // namespace vexilo::analyzer
