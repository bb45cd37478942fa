// Shared helpers of the observer tests: an event recorder behind av_vexilo_set_observer, and a small FFmpeg decoding loop that drives the feed calls
// the way the analysis pipeline does.
#pragma once

#include "stream_walker.h"

#include <vexilo/hevc_observer/observer_abi.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace vexilo::hevc::test {

// Copies of every event a registration received, in delivery order.
class EventRecorder {
public:
    static int callback(void* opaque, std::uint64_t flags, const VexiloObserverEventHeader* event);
    [[nodiscard]] VexiloObserverRegistration registration(std::uint64_t mask);

    std::vector<std::vector<std::uint8_t>> events;

    template <typename Event>
    [[nodiscard]] std::vector<Event> ofKind(std::uint32_t kind) const
    {
        std::vector<Event> found;
        for (const auto& bytes : events) {
            const auto* header = reinterpret_cast<const VexiloObserverEventHeader*>(bytes.data());
            if (header->kind == kind) {
                Event event{};
                std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(sizeof(Event)),
                          reinterpret_cast<std::uint8_t*>(&event));
                found.push_back(event);
            }
        }
        return found;
    }
};

struct DecodeRun {
    bool opened = false;
    std::int64_t framesReturned = 0;
    std::string error;
};

// Where a registration delivers its events.
enum class Delivery { OnCallingThread, OnOwnThread };

// Demuxes and decodes `path` with FFmpeg, feeding the observer registered on the decoder
// with `recorder` and `mask`.
// `frameThreads` above 1 decodes with FFmpeg's frame threading.
DecodeRun decodeWithObserver(const std::filesystem::path& path, EventRecorder& recorder, std::uint64_t mask,
                             int frameThreads = 1, Delivery delivery = Delivery::OnCallingThread);

} // namespace vexilo::hevc::test
