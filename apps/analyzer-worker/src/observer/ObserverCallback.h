#pragma once

#include "vexilo/hevc_observer/observer_abi.h"

#include <cstdint>

namespace vexilo::analyzer {

// Whatever takes the decoder's events; the collector is one. It sits above the observer glue,
// so the callback knows only this much of it.
class ObserverEventSink {
public:
    // Called from any decoder thread. 0 = kept or counted as dropped; -1 = fatal.
    virtual int onEvent(const VexiloObserverEventHeader* event) = 0;

protected:
    ObserverEventSink() = default;
    ObserverEventSink(const ObserverEventSink&) = default;
    ObserverEventSink& operator=(const ObserverEventSink&) = default;
    ~ObserverEventSink() = default;
};

// The callback registered with the decoder; `opaque` is an ObserverEventSink pointer.
// -1 for a null sink, else the sink's answer; nothing thrown inside escapes into the decoder.
int observerCallback(void* opaque, std::uint64_t flags, const VexiloObserverEventHeader* event) noexcept;

}  // namespace vexilo::analyzer
