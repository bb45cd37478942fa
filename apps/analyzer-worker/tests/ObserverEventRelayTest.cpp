// The relay keeps the observer's events on a thread of its own: the sink behind it must get
// exactly what it would get called directly, in the same order, with SEI payloads that outlive
// the callback, and nothing after the event it answered as fatal.
#include "ObserverEventBytes.h"
#include "collector/ObserverEventRelay.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexilo::analyzer {
namespace {

using testing::EventBytes;

// What the sink saw of each event: its ordinal and, for an SEI message, its payload bytes.
struct SeenEvent {
    std::uint64_t ordinal = 0;
    std::vector<std::uint8_t> payload;

    bool operator==(const SeenEvent&) const = default;
};

class RecordingSink final : public ObserverEventSink {
public:
    explicit RecordingSink(std::optional<std::uint64_t> fatalOrdinal = std::nullopt) : fatalOrdinal_(fatalOrdinal) {}

    int onEvent(const VexiloObserverEventHeader* event) override
    {
        if (event == nullptr) {
            seen.push_back({~std::uint64_t{0}, {}});
            return VEXILO_OBSERVER_RESULT_OK;
        }
        SeenEvent record{event->ordinal, {}};
        if (event->kind == VEXILO_OBSERVER_EVENT_SEI_MESSAGE) {
            const auto* message = reinterpret_cast<const VexiloObserverSeiMessageEvent*>(event);
            record.payload.assign(message->payload, message->payload + message->payloadBytesLength);
        }
        seen.push_back(std::move(record));
        return fatalOrdinal_ == event->ordinal ? VEXILO_OBSERVER_RESULT_FATAL : VEXILO_OBSERVER_RESULT_OK;
    }

    std::vector<SeenEvent> seen;

private:
    std::optional<std::uint64_t> fatalOrdinal_;
};

// Thousands of events, every tenth an SEI message whose payload is gone once it is handed over,
// so that they fill several batches.
std::vector<SeenEvent> handManyEvents(ObserverEventSink& relay, std::vector<int>& answers)
{
    std::vector<SeenEvent> handed;
    for (std::uint64_t ordinal = 1; ordinal <= 5000; ++ordinal) {
        std::vector<std::uint8_t> payload;
        std::optional<EventBytes> event;
        if (ordinal % 10 == 0) {
            payload.assign(ordinal % 200 + 1, static_cast<std::uint8_t>(ordinal));
            event = testing::seiEvent(5, payload);
            event->ordinal(ordinal);
        } else {
            event = testing::nalUnitEvent(ordinal, static_cast<std::int64_t>(ordinal) * 100, 1, ordinal);
        }
        answers.push_back(relay.onEvent(event->header()));
        handed.push_back({ordinal, payload});
    }
    return handed;
}

TEST(ObserverEventRelayTest, TheSinkGetsEveryEventInOrderWithItsSeiPayloadOnceDrained)
{
    RecordingSink sink;
    std::vector<int> answers;
    std::vector<SeenEvent> handed;
    {
        ObserverEventRelay relay(sink);
        handed = handManyEvents(relay, answers);
        // An event the relay does not copy comes after those before it.
        EXPECT_EQ(relay.onEvent(nullptr), VEXILO_OBSERVER_RESULT_OK);
        handed.push_back({~std::uint64_t{0}, {}});
        const EventBytes last = testing::marker(VEXILO_OBSERVER_EVENT_START_MARKER, 6000);
        EXPECT_EQ(relay.onEvent(last.header()), VEXILO_OBSERVER_RESULT_OK);
        handed.push_back({6000, {}});
        relay.drain();
        EXPECT_EQ(sink.seen, handed);
    }
    EXPECT_EQ(sink.seen, handed);
    EXPECT_EQ(answers, std::vector<int>(answers.size(), VEXILO_OBSERVER_RESULT_OK));
}

TEST(ObserverEventRelayTest, AfterAFatalAnswerTheSinkGetsNothingMoreAndTheObserverHearsOfIt)
{
    RecordingSink sink(1234);
    std::vector<int> answers;
    {
        ObserverEventRelay relay(sink);
        static_cast<void>(handManyEvents(relay, answers));
        relay.drain();
        EXPECT_EQ(relay.onEvent(testing::marker(VEXILO_OBSERVER_EVENT_START_MARKER, 7000).header()),
                  VEXILO_OBSERVER_RESULT_FATAL);
    }
    ASSERT_EQ(sink.seen.size(), 1234U);
    EXPECT_EQ(sink.seen.back().ordinal, 1234U);
}

}  // namespace
}  // namespace vexilo::analyzer
