#include "pipeline/DecodeLoop.h"

#include "collector/ObserverEventCollector.h"
#include "frames/PictureFrameConversion.h"

#include "vexilo/ffmpeg_handles/PacketIdentityCarrier.h"
#include "vexilo/hevc_observer/observer_feed.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include <utility>

namespace vexilo::analyzer {
namespace {

// Hands one received frame to the sink; false when it cannot be converted or is refused.
bool deliverFrame(const AVFrame& frame, std::uint64_t outputOrdinal, const FrameSink& frameSink)
{
    auto converted = makePictureAndFrame(frame, outputOrdinal);
    if (!converted) {
        return false;
    }
    return frameSink(converted->first, std::move(converted->second));
}

}  // namespace

int ObserverAttachment::attach(AVCodecContext* context, std::uint64_t eventMask)
{
    const int result = collector_.attach(context, eventMask);
    attached_ = result >= 0;
    if (attached_) {
        // The parse of the stream's syntax then runs beside the decoding of it.
        hevc_observer::deliverOnOwnThread(context);
    }
    return result;
}

int ObserverAttachment::detachIfAttached()
{
    if (!attached_) {
        return 0;
    }
    attached_ = false;
    return collector_.detach();
}

bool ObserverAttachment::collectorFailed() const noexcept
{
    return collector_.failed();
}

int receiveDecodedFrames(const std::atomic<bool>& cancelRequested, AVCodecContext& context,
                         ffmpeg::PacketIdentityCarrier& identities, AVFrame& frame, const FrameSink& frameSink,
                         std::uint64_t& outputOrdinal, ObserverAttachment& observer)
{
    for (;;) {
        if (cancelRequested.load()) {
            return AVERROR_EXIT;
        }
        const int received = avcodec_receive_frame(&context, &frame);
        if (received < 0) {
            return received;
        }
        identities.afterReceive(frame);
        hevc_observer::feedFrame(&context, &frame, static_cast<std::int64_t>(outputOrdinal));
        if (frameSink && !deliverFrame(frame, outputOrdinal, frameSink)) {
            av_frame_unref(&frame);
            return AVERROR_EXTERNAL;
        }
        ++outputOrdinal;
        av_frame_unref(&frame);
        if (observer.collectorFailed()) {
            return AVERROR_EXTERNAL;
        }
    }
}

int sendPacketAndDrain(const std::atomic<bool>& cancelRequested, AVCodecContext& context,
                       ffmpeg::PacketIdentityCarrier& identities, const AVPacket* packet, AVFrame& frame,
                       const FrameSink& frameSink, std::uint64_t& outputOrdinal, ObserverAttachment& observer)
{
    const auto drain = [&] {
        return receiveDecodedFrames(cancelRequested, context, identities, frame, frameSink, outputOrdinal, observer);
    };
    const auto send = [&] {
        if (packet != nullptr) {
            identities.beforeSend(*packet);
        }
        return avcodec_send_packet(&context, packet);
    };
    int code = send();
    while (code == AVERROR(EAGAIN)) {
        code = drain();
        if (code != AVERROR(EAGAIN) && code != AVERROR_EOF) {
            return code;
        }
        code = send();
    }
    if (code < 0) {
        return code;
    }
    return drain();
}

}  // namespace vexilo::analyzer
