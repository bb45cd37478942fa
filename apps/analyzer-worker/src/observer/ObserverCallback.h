#pragma once

#include "vexilo/hevc_observer/observer_abi.h"

#include <cstdint>

namespace vexilo::analyzer {

// The callback registered with the decoder; `opaque` is the ObserverEventCollector.
// -1 for a null collector, else the collector's answer; nothing thrown inside escapes
// into the decoder.
int observerCallback(void* opaque, std::uint64_t flags, const VexiloObserverEventHeader* event) noexcept;

}  // namespace vexilo::analyzer
