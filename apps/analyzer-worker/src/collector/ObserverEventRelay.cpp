#include "collector/ObserverEventRelay.h"

#include <cstring>
#include <utility>

namespace vexilo::analyzer {
namespace {

constexpr std::size_t kWordBytes = sizeof(std::uint64_t);
// Events are copied in batches of about this many words: few enough hand-overs that they cost
// nothing beside the events, few enough words that a batch stays in the caches.
constexpr std::size_t kBatchWords = 8192;
// Batches that may wait for the sink before the parser waits for it in turn.
constexpr std::size_t kWaitingBatchLimit = 16;
// Larger than any event the observer writes; what claims more is left to the sink to refuse.
constexpr std::uint32_t kLargestCopiedEvent = 64 * 1024;

std::size_t wordsFor(std::size_t bytes) noexcept
{
    return (bytes + kWordBytes - 1) / kWordBytes;
}

// An SEI message's payload lies outside its event and is valid only during the callback: it is
// copied behind the event, and the event points to the copy once the sink is to have it.
const VexiloObserverSeiMessageEvent* seiMessageWithPayload(const VexiloObserverEventHeader& event) noexcept
{
    if (event.kind != VEXILO_OBSERVER_EVENT_SEI_MESSAGE || event.size < sizeof(VexiloObserverSeiMessageEvent)) {
        return nullptr;
    }
    const auto* message = reinterpret_cast<const VexiloObserverSeiMessageEvent*>(&event);
    return message->payload != nullptr && message->payloadBytesLength != 0 ? message : nullptr;
}

}  // namespace

ObserverEventRelay::ObserverEventRelay(ObserverEventSink& sink) : sink_(sink), thread_([this] { run(); })
{
    open_.reserve(kBatchWords);
}

ObserverEventRelay::~ObserverEventRelay()
{
    {
        const std::lock_guard lock(mutex_);
        if (!open_.empty()) {
            waiting_.push_back(std::move(open_));
        }
        finishing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

int ObserverEventRelay::onEvent(const VexiloObserverEventHeader* event)
{
    if (sinkFailed_.load()) {
        return VEXILO_OBSERVER_RESULT_FATAL;
    }
    if (event == nullptr || event->size < sizeof(VexiloObserverEventHeader) || event->size > kLargestCopiedEvent) {
        drain();
        if (sinkFailed_.load()) {
            return VEXILO_OBSERVER_RESULT_FATAL;
        }
        const int answer = sink_.onEvent(event);
        if (answer < 0) {
            sinkFailed_.store(true);
        }
        return answer;
    }
    // Each entry: its length in words, the event, then the payload of an SEI message.
    const VexiloObserverSeiMessageEvent* message = seiMessageWithPayload(*event);
    const std::size_t eventWords = wordsFor(event->size);
    const std::size_t payloadWords = message != nullptr ? wordsFor(message->payloadBytesLength) : 0;
    const std::size_t at = open_.size();
    open_.resize(at + 1 + eventWords + payloadWords);
    open_[at] = 1 + eventWords + payloadWords;
    std::memcpy(open_.data() + at + 1, event, event->size);
    if (message != nullptr) {
        std::memcpy(open_.data() + at + 1 + eventWords, message->payload, message->payloadBytesLength);
    }
    if (open_.size() >= kBatchWords) {
        handOverOpenBatch();
    }
    return VEXILO_OBSERVER_RESULT_OK;
}

void ObserverEventRelay::drain()
{
    std::unique_lock lock(mutex_);
    if (!open_.empty()) {
        waiting_.push_back(std::move(open_));
        open_ = Batch();
        changed_.notify_all();
    }
    changed_.wait(lock, [&] { return waiting_.empty() && !delivering_; });
}

void ObserverEventRelay::handOverOpenBatch()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_.size() < kWaitingBatchLimit; });
    waiting_.push_back(std::move(open_));
    if (spare_.empty()) {
        open_ = Batch();
        open_.reserve(kBatchWords * 2);
    } else {
        open_ = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
}

void ObserverEventRelay::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !waiting_.empty() || finishing_; });
        if (waiting_.empty()) {
            return;
        }
        Batch batch = std::move(waiting_.front());
        waiting_.pop_front();
        delivering_ = true;
        lock.unlock();
        deliver(batch);
        batch.clear();
        lock.lock();
        spare_.push_back(std::move(batch));
        delivering_ = false;
        changed_.notify_all();
    }
}

void ObserverEventRelay::deliver(Batch& batch)
{
    for (std::size_t at = 0; at < batch.size() && !sinkFailed_.load(); at += batch[at]) {
        auto* event = reinterpret_cast<VexiloObserverEventHeader*>(batch.data() + at + 1);
        if (seiMessageWithPayload(*event) != nullptr) {
            reinterpret_cast<VexiloObserverSeiMessageEvent*>(event)->payload =
                reinterpret_cast<const std::uint8_t*>(batch.data() + at + 1 + wordsFor(event->size));
        }
        if (sink_.onEvent(event) < 0) {
            sinkFailed_.store(true);
        }
    }
}

}  // namespace vexilo::analyzer
