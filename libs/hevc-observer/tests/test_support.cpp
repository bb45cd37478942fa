#include "test_support.h"

#include <vexilo/ffmpeg_handles/PacketIdentityCarrier.h>
#include <vexilo/hevc_observer/observer_feed.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <fstream>
#include <iterator>
#include <cstdio>
#include <sstream>

namespace vexilo::hevc::test {

int EventRecorder::callback(void* opaque, std::uint64_t /*flags*/, const VexiloObserverEventHeader* event)
{
    auto* recorder = static_cast<EventRecorder*>(opaque);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(event);
    recorder->events.emplace_back(bytes, bytes + event->size);
    return VEXILO_OBSERVER_RESULT_OK;
}

VexiloObserverRegistration EventRecorder::registration(std::uint64_t mask)
{
    VexiloObserverRegistration record{};
    record.size = VEXILO_OBSERVER_REGISTRATION_SIZE;
    record.abiVersion = VEXILO_OBSERVER_ABI_VERSION;
    record.eventMask = mask;
    record.callback = &EventRecorder::callback;
    record.opaque = this;
    return record;
}

namespace {
int drain(AVCodecContext* codec, AVFrame* frame, ffmpeg::PacketIdentityCarrier& carrier, DecodeRun& run)
{
    for (;;) {
        const int result = avcodec_receive_frame(codec, frame);
        if (result < 0) {
            return result;
        }
        carrier.afterReceive(*frame);
        vexilo::hevc_observer::feedFrame(codec, frame, run.framesReturned++);
        av_frame_unref(frame);
    }
}
} // namespace

DecodeRun decodeWithObserver(const std::filesystem::path& path, EventRecorder& recorder, std::uint64_t mask,
                             int frameThreads, Delivery delivery)
{
    DecodeRun run;
    AVFormatContext* rawFormat = nullptr;
    if (avformat_open_input(&rawFormat, path.string().c_str(), nullptr, nullptr) < 0) {
        run.error = "open failed";
        return run;
    }
    ffmpeg::FormatContextPtr format(rawFormat);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        run.error = "probe failed";
        return run;
    }
    const AVCodec* decoder = nullptr;
    const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (streamIndex < 0 || decoder == nullptr) {
        run.error = "no video stream";
        return run;
    }
    ffmpeg::CodecContextPtr codec(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(codec.get(), format->streams[streamIndex]->codecpar);
    if (frameThreads > 1) {
        codec->thread_count = frameThreads;
        codec->thread_type = FF_THREAD_FRAME;
    }
    ffmpeg::enablePacketIdentityPassThrough(*codec);
    const VexiloObserverRegistration registration = recorder.registration(mask);
    if (av_vexilo_set_observer(codec.get(), &registration) < 0 || avcodec_open2(codec.get(), decoder, nullptr) < 0) {
        run.error = "decoder setup failed";
        return run;
    }
    if (delivery == Delivery::OnOwnThread) {
        vexilo::hevc_observer::deliverOnOwnThread(codec.get());
    }
    vexilo::hevc_observer::feedExtradata(codec.get());
    run.opened = true;
    ffmpeg::PacketPtr packet(av_packet_alloc());
    ffmpeg::FramePtr frame(av_frame_alloc());
    ffmpeg::PacketIdentityCarrier carrier(*codec);
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == streamIndex) {
            ffmpeg::attachPacketToken(*packet,
                                      vexilo::hevc_observer::feedPacket(codec.get(), packet.get(), packet->pos));
            carrier.beforeSend(*packet);
            int result = avcodec_send_packet(codec.get(), packet.get());
            while (result == AVERROR(EAGAIN)) {
                drain(codec.get(), frame.get(), carrier, run);
                carrier.beforeSend(*packet);
                result = avcodec_send_packet(codec.get(), packet.get());
            }
            drain(codec.get(), frame.get(), carrier, run);
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    drain(codec.get(), frame.get(), carrier, run);
    vexilo::hevc_observer::feedFlush(codec.get());
    av_vexilo_clear_observer(codec.get());
    return run;
}

} // namespace vexilo::hevc::test
