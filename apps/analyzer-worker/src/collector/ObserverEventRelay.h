#pragma once

#include "observer/ObserverCallback.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace vexilo::analyzer {

// Hands the observer's events to a sink on a thread of its own, in the order they came, so
// that the thread that parses the stream goes on parsing while the sink keeps them. The sink
// gets exactly what it would get called directly: once it answers an event as fatal it is
// handed no later one, and the observer hears of it at its next event. An event too odd to copy
// is handed over at once, after those before it. The observer delivers the events of one
// registration one at a time, under its lock, so they come from one thread at a time.
class ObserverEventRelay final : public ObserverEventSink {
public:
    explicit ObserverEventRelay(ObserverEventSink& sink);
    ~ObserverEventRelay();
    ObserverEventRelay(const ObserverEventRelay&) = delete;
    ObserverEventRelay& operator=(const ObserverEventRelay&) = delete;

    int onEvent(const VexiloObserverEventHeader* event) override;
    // Returns once the sink has every event given so far.
    void drain();

private:
    using Batch = std::vector<std::uint64_t>;

    void handOverOpenBatch();
    void run();
    void deliver(Batch& batch);

    ObserverEventSink& sink_;
    Batch open_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Batch> waiting_;
    std::vector<Batch> spare_;
    bool delivering_ = false;
    bool finishing_ = false;
    std::atomic<bool> sinkFailed_{false};
    std::thread thread_;  // last: started once everything it uses is there
};

}  // namespace vexilo::analyzer
