#pragma once

#include "pipeline/AnalysisPipeline.h"

#include <atomic>
#include <cstdint>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace vexilo::ffmpeg {
class PacketIdentityCarrier;
}

namespace vexilo::analyzer {

class ObserverEventCollector;

// The collector's registration with one decoder. It is made once, before the decoder opens,
// and given up at a failure or at the end of the stream. Dropped block events do not end
// it: they cost their picture's blocks, never the stream-level events after them.
class ObserverAttachment {
public:
    explicit ObserverAttachment(ObserverEventCollector& collector) : collector_(collector) {}

    // The collector's result; negative when the decoder refused the registration.
    int attach(AVCodecContext* context, std::uint64_t eventMask);
    // Clears a registration still in force (finalising the collector); 0 when there was none.
    int detachIfAttached();

    [[nodiscard]] bool attached() const noexcept { return attached_; }
    [[nodiscard]] bool collectorFailed() const noexcept;

private:
    ObserverEventCollector& collector_;
    bool attached_ = false;
};

// Drains the decoder's output: gives each frame its packet's identity back, hands it to the
// observer and to the sink and counts the output ordinal. AVERROR_EXIT on cancellation, AVERROR_EXTERNAL when
// a frame cannot be converted, the sink refuses it or the collector failed; else the code that
// ended the drain (usually AVERROR(EAGAIN) or AVERROR_EOF).
[[nodiscard]] int receiveDecodedFrames(const std::atomic<bool>& cancelRequested, AVCodecContext& context,
                                       ffmpeg::PacketIdentityCarrier& identities, AVFrame& frame,
                                       const FrameSink& frameSink, std::uint64_t& outputOrdinal,
                                       ObserverAttachment& observer);

// Sends one packet (null for the end of the stream), carrying its opaque_ref to its frames,
// draining while the decoder is full and once after the packet was taken; returns the last
// code obtained.
[[nodiscard]] int sendPacketAndDrain(const std::atomic<bool>& cancelRequested, AVCodecContext& context,
                                     ffmpeg::PacketIdentityCarrier& identities, const AVPacket* packet,
                                     AVFrame& frame, const FrameSink& frameSink, std::uint64_t& outputOrdinal,
                                     ObserverAttachment& observer);

}  // namespace vexilo::analyzer
