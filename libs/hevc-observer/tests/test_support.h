// Shared helpers of the observer tests: the reference streams' manifest, an event recorder
// behind av_vexilo_set_observer, and a small FFmpeg decoding loop that drives the feed calls
// the way the analysis pipeline does.
#pragma once

#include "nal_unit.h"
#include "slice_header.h"

#include <vexilo/hevc_observer/observer_abi.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace vexilo::hevc::test {

std::filesystem::path hmStreamsDir();
std::filesystem::path testMediaDir();
std::vector<std::uint8_t> readFile(const std::filesystem::path& path);

struct ManifestRow {
    std::string file;
    std::uint32_t width = 0; // coded size
    std::uint32_t height = 0;
    std::uint32_t chromaFormatIdc = 0;
    std::uint32_t bitDepthLuma = 0;
    std::uint32_t bitDepthChroma = 0;
    std::uint32_t ctuSize = 0;
    std::uint32_t minCuSize = 0;
    std::uint32_t picturesDecoded = 0;
    std::vector<std::int32_t> decodeOrderPocs;
    std::vector<std::int32_t> outputOrderPocs;
};

void PrintTo(const ManifestRow& row, std::ostream* out);
std::vector<ManifestRow> readManifest();

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

// Demuxes and decodes `path` with FFmpeg, feeding the observer registered on the decoder
// with `recorder` and `mask`.
// `frameThreads` above 1 decodes with FFmpeg's frame threading.
DecodeRun decodeWithObserver(const std::filesystem::path& path, EventRecorder& recorder, std::uint64_t mask,
                             int frameThreads = 1);

// Keeps the VPS, SPS or PPS that `rbsp` carries in `store`, as a decoder would; other NAL unit
// types are left alone. Parse failures leave the store as it was.
void keepParameterSet(ParameterSetStore& store, const NalUnitHeader& header, std::span<const std::uint8_t> rbsp);

} // namespace vexilo::hevc::test
