// Where an analysis' time goes below the worker's own bookkeeping, timed in this process on
// one thread with the stream's packets read into memory beforehand: FFmpeg's decoding alone
// (the floor no analysis can go under), and our syntax observer parsing the same packets with
// a receiver that only counts the events. Benchmarks print these beside their end-to-end
// figures, so that a reader sees how much of a run is decoding, parsing and the rest.
#pragma once

#include "vexilo/bench/BenchSupport.h"

#include <vexilo/hevc_observer/observer_abi.h>
#include <vexilo/hevc_observer/observer_feed.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace vexilo::bench {

struct PacketBytes {
    std::vector<std::uint8_t> bytes;
    std::int64_t position = 0;
};

// The stream's packets as the demuxer cuts them, so that decoding and parsing are timed
// without I/O.
inline std::vector<PacketBytes> readPackets(const std::filesystem::path& path)
{
    std::vector<PacketBytes> packets;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        return packets;
    }
    AVPacket* packet = av_packet_alloc();
    while (packet != nullptr && av_read_frame(format, packet) >= 0) {
        packets.push_back({std::vector<std::uint8_t>(packet->data, packet->data + packet->size), packet->pos});
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    return packets;
}

// Points `packet` at borrowed bytes; it must be detached again before it is freed.
inline void borrowInto(AVPacket& packet, const PacketBytes& bytes)
{
    packet.data = const_cast<std::uint8_t*>(bytes.bytes.data());
    packet.size = static_cast<int>(bytes.bytes.size());
}

// CPU seconds of decoding every packet with FFmpeg's HEVC decoder on one thread, as the worker
// decodes; negative when the decoder cannot be opened.
inline double decodeOnlyCpuSeconds(const std::vector<PacketBytes>& packets)
{
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_HEVC);
    AVCodecContext* context = avcodec_alloc_context3(decoder);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    double seconds = -1.0;
    if (context != nullptr && packet != nullptr && frame != nullptr) {
        context->thread_count = 1;
        if (avcodec_open2(context, decoder, nullptr) == 0) {
            seconds = ownCpuSecondsOf([&] {
                auto drain = [&] {
                    while (avcodec_receive_frame(context, frame) == 0) {
                        av_frame_unref(frame);
                    }
                };
                for (const PacketBytes& bytes : packets) {
                    borrowInto(*packet, bytes);
                    avcodec_send_packet(context, packet);
                    drain();
                }
                avcodec_send_packet(context, nullptr);
                drain();
            });
        }
    }
    if (packet != nullptr) {
        packet->data = nullptr;
        packet->size = 0;
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return seconds;
}

struct ParseRun {
    double cpuSeconds = 0;
    std::uint64_t events = 0;
    std::uint64_t ctus = 0;
};

inline int countEvent(void* opaque, std::uint64_t /*flags*/, const VexiloObserverEventHeader* event)
{
    auto& run = *static_cast<ParseRun*>(opaque);
    ++run.events;
    if (event->kind == VEXILO_OBSERVER_EVENT_CTU) {
        ++run.ctus;
    }
    return 0;
}

// Feeds every packet to the observer of a decoder context that never decodes, delivering the
// kinds of `eventMask` to `callback`; the CPU time of the feeding alone, or a negative time
// when the observer could not be set up.
inline double feedObserverOnly(const std::vector<PacketBytes>& packets, std::uint64_t eventMask,
                               VexiloObserverCallback callback, void* opaque)
{
    double cpuSeconds = -1.0;
    AVCodecContext* context = avcodec_alloc_context3(nullptr);
    AVPacket* packet = av_packet_alloc();
    VexiloObserverRegistration registration{};
    registration.size = VEXILO_OBSERVER_REGISTRATION_SIZE;
    registration.abiVersion = VEXILO_OBSERVER_ABI_VERSION;
    registration.eventMask = eventMask;
    registration.callback = callback;
    registration.opaque = opaque;
    if (context != nullptr && packet != nullptr && av_vexilo_set_observer(context, &registration) == 0) {
        cpuSeconds = ownCpuSecondsOf([&] {
            for (const PacketBytes& bytes : packets) {
                borrowInto(*packet, bytes);
                // Nothing is decoded here, so no frame ever asks for the packet's token.
                hevc_observer::feedPacket(context, packet, bytes.position);
            }
            hevc_observer::feedFlush(context);
        });
        av_vexilo_clear_observer(context);
        packet->data = nullptr;
        packet->size = 0;
    }
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return cpuSeconds;
}

// The observer's parse alone, its events counted.
inline ParseRun parseOnly(const std::vector<PacketBytes>& packets, std::uint64_t eventMask)
{
    ParseRun run;
    run.cpuSeconds = std::max(0.0, feedObserverOnly(packets, eventMask, &countEvent, &run));
    return run;
}

inline ParseRun bestParseOf(int runs, const std::vector<PacketBytes>& packets, std::uint64_t eventMask)
{
    ParseRun best = parseOnly(packets, eventMask);
    for (int run = 1; run < runs; ++run) {
        const ParseRun next = parseOnly(packets, eventMask);
        best = next.cpuSeconds < best.cpuSeconds ? next : best;
    }
    return best;
}

} // namespace vexilo::bench
