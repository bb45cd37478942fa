// Arbitrary bytes as an Annex-B stream through the observer's public entry points: the
// registration, the packet feed (whole and cut in two), frames and the flush, delivered on
// the feeding thread or, when the first byte's top bit is set, on the observer's own.
#include <vexilo/hevc_observer/observer_abi.h>
#include <vexilo/hevc_observer/observer_feed.h>
#include <vexilo/ffmpeg_handles/PacketIdentityCarrier.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstddef>
#include <cstdint>

namespace {

int touchEvent(void* opaque, std::uint64_t /*flags*/, const VexiloObserverEventHeader* event)
{
    // Reading every byte lets the sanitizers see an event that claims more than it holds.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(event);
    std::uint64_t sum = 0;
    for (std::uint32_t i = 0; i < event->size; ++i) {
        sum += bytes[i];
    }
    if (event->kind == VEXILO_OBSERVER_EVENT_SEI_MESSAGE) {
        const auto* sei = reinterpret_cast<const VexiloObserverSeiMessageEvent*>(event);
        for (std::uint32_t i = 0; i < sei->payloadBytesLength; ++i) {
            sum += sei->payload[i];
        }
    }
    *static_cast<std::uint64_t*>(opaque) += sum;
    return 0;
}

void feed(AVCodecContext* context, AVPacket* packet, const std::uint8_t* data, std::size_t size, std::int64_t position)
{
    packet->data = const_cast<std::uint8_t*>(data);
    packet->size = static_cast<int>(size);
    packet->pts = position;
    packet->dts = position;
    vexilo::ffmpeg::attachPacketToken(*packet, vexilo::hevc_observer::feedPacket(context, packet, position));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static AVCodecContext* context = avcodec_alloc_context3(nullptr);
    static AVPacket* packet = av_packet_alloc();
    static AVFrame* frame = av_frame_alloc();
    if (context == nullptr || packet == nullptr || frame == nullptr || size > (1U << 20)) {
        return 0;
    }
    std::uint64_t checksum = 0;
    VexiloObserverRegistration registration{};
    registration.size = VEXILO_OBSERVER_REGISTRATION_SIZE;
    registration.abiVersion = VEXILO_OBSERVER_ABI_VERSION;
    registration.eventMask = VEXILO_OBSERVER_EVENT_MASK_ALL;
    registration.callback = &touchEvent;
    registration.opaque = &checksum;
    if (av_vexilo_set_observer(context, &registration) != 0) {
        return 0;
    }
    if (size != 0 && (data[0] & 0x80U) != 0) {
        vexilo::hevc_observer::deliverOnOwnThread(context);
    }
    const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    feed(context, packet, data, cut, 0);
    feed(context, packet, data + cut, size - cut, static_cast<std::int64_t>(cut));
    for (std::int64_t displayIndex = 0; displayIndex < 4; ++displayIndex) {
        av_buffer_unref(&frame->opaque_ref);
        if (displayIndex % 3 != 0 && packet->opaque_ref != nullptr) {
            frame->opaque_ref = av_buffer_ref(packet->opaque_ref); // the last packet's token
        }
        vexilo::hevc_observer::feedFrame(context, frame, displayIndex);
    }
    vexilo::hevc_observer::feedFlush(context);
    av_vexilo_clear_observer(context);
    av_buffer_unref(&frame->opaque_ref);
    av_packet_unref(packet); // drops the token; the data was never the packet's own
    return 0;
}
