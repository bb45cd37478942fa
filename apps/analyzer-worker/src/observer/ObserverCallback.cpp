#include "observer/ObserverCallback.h"

namespace vexilo::analyzer {

int observerCallback(void* opaque, std::uint64_t /*flags*/, const VexiloObserverEventHeader* event) noexcept
{
    if (opaque == nullptr) {
        return VEXILO_OBSERVER_RESULT_FATAL;
    }
    try {
        return static_cast<ObserverEventSink*>(opaque)->onEvent(event);
    } catch (...) {
        return VEXILO_OBSERVER_RESULT_FATAL;
    }
}

}  // namespace vexilo::analyzer
