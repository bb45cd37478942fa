// The C entry points and the feed calls: registration rules, that no event arrives after
// av_vexilo_clear_observer returns or after the callback has failed, and that a session that
// throws says so before it goes quiet; each whether the events come on the feeding thread or
// on a delivery thread of the registration's own.
#include "test_support.h"

#include <vexilo/hevc_observer/observer_feed.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace vexilo::hevc::test {
namespace {

struct CodecContextFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

class ObserverFrontTest : public ::testing::TestWithParam<Delivery> {
protected:
    void SetUp() override
    {
        stream_ = readFile(referenceStreamsDir() / "s06_ra_wavefront.bit");
        packet_->data = stream_.data();
        packet_->size = static_cast<int>(stream_.size());
    }
    void TearDown() override
    {
        av_vexilo_clear_observer(context_.get());
        packet_->data = nullptr;
        packet_->size = 0;
    }
    std::int64_t feedStream() { return hevc_observer::feedPacket(context_.get(), packet_.get(), 0); }
    int observe(const VexiloObserverRegistration& registration)
    {
        const int result = av_vexilo_set_observer(context_.get(), &registration);
        if (result == VEXILO_OBSERVER_RESULT_OK && GetParam() == Delivery::OnOwnThread) {
            hevc_observer::deliverOnOwnThread(context_.get());
        }
        return result;
    }
    // Feeds the whole stream and waits until its events are delivered.
    void feedStreamAndFlush()
    {
        feedStream();
        hevc_observer::feedFlush(context_.get());
        hevc_observer::waitForDelivery(context_.get());
    }

    std::unique_ptr<AVCodecContext, CodecContextFreer> context_{avcodec_alloc_context3(nullptr)};
    std::unique_ptr<AVPacket, PacketFreer> packet_{av_packet_alloc()};
    std::vector<std::uint8_t> stream_;
};

TEST_P(ObserverFrontTest, RefusesInvalidRegistrations)
{
    EventRecorder recorder;
    const VexiloObserverRegistration valid = recorder.registration(VEXILO_OBSERVER_EVENT_MASK_ALL);
    struct Case {
        const char* name;
        VexiloObserverRegistration registration;
    };
    std::vector<Case> cases = {{"short record", valid}, {"ABI 7", valid}, {"no callback", valid}};
    cases[0].registration.size = 31;
    cases[1].registration.abiVersion = 7;
    cases[2].registration.callback = nullptr;
    for (const Case& c : cases) {
        EXPECT_EQ(av_vexilo_set_observer(context_.get(), &c.registration), VEXILO_OBSERVER_RESULT_INVALID_ARGUMENT) << c.name;
    }
    EXPECT_EQ(av_vexilo_set_observer(nullptr, &valid), VEXILO_OBSERVER_RESULT_INVALID_ARGUMENT);
    EXPECT_EQ(av_vexilo_set_observer(context_.get(), nullptr), VEXILO_OBSERVER_RESULT_INVALID_ARGUMENT);
    EXPECT_EQ(av_vexilo_clear_observer(nullptr), VEXILO_OBSERVER_RESULT_INVALID_ARGUMENT);
    hevc_observer::deliverOnOwnThread(context_.get());
    EXPECT_EQ(feedStream(), 0) << "no registration, no token";
    hevc_observer::waitForDelivery(context_.get());
    EXPECT_TRUE(recorder.events.empty());
}

TEST_P(ObserverFrontTest, ClearDeliversWhatWasFedBeforeItAndNothingAfter)
{
    EventRecorder onCallingThread;
    {
        const std::unique_ptr<AVCodecContext, CodecContextFreer> other(avcodec_alloc_context3(nullptr));
        const VexiloObserverRegistration registration = onCallingThread.registration(VEXILO_OBSERVER_EVENT_MASK_ALL);
        ASSERT_EQ(av_vexilo_set_observer(other.get(), &registration), VEXILO_OBSERVER_RESULT_OK);
        hevc_observer::feedPacket(other.get(), packet_.get(), 0);
        av_vexilo_clear_observer(other.get());
    }
    EventRecorder recorder;
    const VexiloObserverRegistration registration = recorder.registration(VEXILO_OBSERVER_EVENT_MASK_ALL);
    ASSERT_EQ(observe(registration), VEXILO_OBSERVER_RESULT_OK);
    EXPECT_EQ(feedStream(), 1);
    EXPECT_EQ(av_vexilo_clear_observer(context_.get()), VEXILO_OBSERVER_RESULT_OK);
    const std::size_t delivered = recorder.events.size();
    EXPECT_GT(delivered, 0U);
    EXPECT_EQ(delivered, onCallingThread.events.size());
    EXPECT_EQ(feedStream(), 0) << "no registration, no token";
    hevc_observer::feedFlush(context_.get());
    hevc_observer::waitForDelivery(context_.get());
    EXPECT_EQ(recorder.events.size(), delivered);
}

TEST_P(ObserverFrontTest, ARegistrationReplacesTheEarlierOne)
{
    EventRecorder first;
    EventRecorder second;
    const VexiloObserverRegistration firstRegistration = first.registration(VEXILO_OBSERVER_EVENT_MASK_ALL);
    const VexiloObserverRegistration secondRegistration = second.registration(VEXILO_OBSERVER_EVENT_MASK_ALL);
    ASSERT_EQ(observe(firstRegistration), VEXILO_OBSERVER_RESULT_OK);
    ASSERT_EQ(observe(secondRegistration), VEXILO_OBSERVER_RESULT_OK);
    feedStreamAndFlush();
    EXPECT_TRUE(first.events.empty());
    EXPECT_FALSE(second.events.empty());
}

struct StoppingReceiver {
    AVCodecContext* context = nullptr;
    int answer = 0;
    bool clearInside = false;
    std::size_t received = 0;
    std::size_t stopAfter = 3;

    static int callback(void* opaque, std::uint64_t /*flags*/, const VexiloObserverEventHeader* /*event*/)
    {
        auto* self = static_cast<StoppingReceiver*>(opaque);
        ++self->received;
        if (self->received < self->stopAfter) {
            return VEXILO_OBSERVER_RESULT_OK;
        }
        if (self->clearInside) {
            av_vexilo_clear_observer(self->context);
        }
        return self->answer;
    }
};

TEST_P(ObserverFrontTest, AFailedCallbackOrAClearInsideTheCallbackEndsDelivery)
{
    struct Case {
        const char* name;
        int answer;
        bool clearInside;
    };
    for (const Case c : {Case{"callback fails", VEXILO_OBSERVER_RESULT_FATAL, false},
                         Case{"callback clears its registration", VEXILO_OBSERVER_RESULT_OK, true}}) {
        StoppingReceiver receiver;
        receiver.context = context_.get();
        receiver.answer = c.answer;
        receiver.clearInside = c.clearInside;
        VexiloObserverRegistration registration{};
        registration.size = VEXILO_OBSERVER_REGISTRATION_SIZE;
        registration.abiVersion = VEXILO_OBSERVER_ABI_VERSION;
        registration.eventMask = VEXILO_OBSERVER_EVENT_MASK_ALL;
        registration.callback = &StoppingReceiver::callback;
        registration.opaque = &receiver;
        ASSERT_EQ(observe(registration), VEXILO_OBSERVER_RESULT_OK);
        feedStreamAndFlush();
        EXPECT_EQ(receiver.received, receiver.stopAfter) << c.name;
        av_vexilo_clear_observer(context_.get());
    }
}

// Throws out of the delivery of the first SPS, as a fault inside the session would.
struct ThrowingReceiver {
    EventRecorder recorder;

    static int callback(void* opaque, std::uint64_t flags, const VexiloObserverEventHeader* event)
    {
        auto* self = static_cast<ThrowingReceiver*>(opaque);
        EventRecorder::callback(&self->recorder, flags, event);
        if (event->kind == VEXILO_OBSERVER_EVENT_SPS) {
            throw std::runtime_error("SPS handling broke");
        }
        return VEXILO_OBSERVER_RESULT_OK;
    }
};

TEST_P(ObserverFrontTest, ASessionThatThrowsReportsItsFailureAndDeliversNothingMore)
{
    ThrowingReceiver receiver;
    VexiloObserverRegistration registration = receiver.recorder.registration(VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX);
    registration.callback = &ThrowingReceiver::callback;
    registration.opaque = &receiver;
    ASSERT_EQ(observe(registration), VEXILO_OBSERVER_RESULT_OK);
    feedStreamAndFlush();

    // Delivered although the mask leaves kind 23 out: an analysis must learn of the failure.
    ASSERT_GE(receiver.recorder.events.size(), 2U);
    const auto* last = reinterpret_cast<const VexiloObserverEventHeader*>(receiver.recorder.events.back().data());
    ASSERT_EQ(last->kind, VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC) << "nothing follows the failure";
    const auto failures =
        receiver.recorder.ofKind<VexiloObserverSyntaxDiagnosticEvent>(VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC);
    ASSERT_EQ(failures.size(), 1U);
    EXPECT_EQ(failures[0].outcome, VEXILO_OBSERVER_DIAGNOSTIC_SESSION_FAILED);
    EXPECT_NE(std::string(failures[0].message).find("SPS handling broke"), std::string::npos) << failures[0].message;
    EXPECT_EQ(failures[0].bitPositionKnown, 0U);
    const auto nalUnits = receiver.recorder.ofKind<VexiloObserverNalUnitEvent>(VEXILO_OBSERVER_EVENT_NAL_UNIT);
    ASSERT_FALSE(nalUnits.empty());
    EXPECT_EQ(failures[0].nalIdentity, nalUnits.back().nalIdentity) << "the NAL unit being handled when it failed";
}

std::string deliveryName(const ::testing::TestParamInfo<Delivery>& info)
{
    return info.param == Delivery::OnOwnThread ? "OnOwnThread" : "OnCallingThread";
}

INSTANTIATE_TEST_SUITE_P(Delivery, ObserverFrontTest,
                         ::testing::Values(Delivery::OnCallingThread, Delivery::OnOwnThread), deliveryName);

} // namespace
} // namespace vexilo::hevc::test
