// A real decode of a stream with B-pictures: every frame comes out carrying the token of the
// packet it was decoded from, in whichever route the FFmpeg headers offer.
#include "vexilo/ffmpeg_handles/PacketIdentityCarrier.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

namespace vexilo::ffmpeg {
namespace {

struct DecodeRun {
    std::map<std::int64_t, std::int64_t> tokenOfPts; // pts -> token its packet carried
    std::int64_t frames = 0;
    std::int64_t framesWithTheirPacketsToken = 0;
};

void receiveAll(AVCodecContext& codec, AVFrame& frame, PacketIdentityCarrier& carrier, DecodeRun& run)
{
    while (avcodec_receive_frame(&codec, &frame) >= 0) {
        carrier.afterReceive(frame);
        ++run.frames;
        const auto sent = run.tokenOfPts.find(frame.pts);
        if (sent != run.tokenOfPts.end() && packetTokenOf(frame) == sent->second) {
            ++run.framesWithTheirPacketsToken;
        }
        av_frame_unref(&frame);
    }
}

DecodeRun decodeWithTokens(const std::filesystem::path& path)
{
    DecodeRun run;
    AVFormatContext* rawFormat = nullptr;
    if (avformat_open_input(&rawFormat, path.string().c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return run;
    }
    FormatContextPtr format(rawFormat);
    const AVCodec* decoder = nullptr;
    const bool probed = avformat_find_stream_info(format.get(), nullptr) >= 0;
    const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (!probed || streamIndex < 0 || decoder == nullptr) {
        ADD_FAILURE() << "no video stream in " << path;
        return run;
    }
    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    avcodec_parameters_to_context(codec.get(), format->streams[streamIndex]->codecpar);
    enablePacketIdentityPassThrough(*codec);
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) {
        ADD_FAILURE() << "cannot open the decoder";
        return run;
    }
    PacketIdentityCarrier carrier(*codec);
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    std::int64_t token = 1000;
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == streamIndex) {
            EXPECT_TRUE(attachPacketToken(*packet, ++token));
            run.tokenOfPts[packet->pts] = token;
            carrier.beforeSend(*packet);
            while (avcodec_send_packet(codec.get(), packet.get()) == AVERROR(EAGAIN)) {
                receiveAll(*codec, *frame, carrier, run);
                carrier.beforeSend(*packet);
            }
            receiveAll(*codec, *frame, carrier, run);
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    receiveAll(*codec, *frame, carrier, run);
    return run;
}

TEST(PacketIdentityCarrier, EveryFrameCarriesTheTokenOfItsOwnPacketThroughReordering)
{
    const DecodeRun run =
        decodeWithTokens(std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / "observer_open_gop_pyramid.mp4");
    ASSERT_GT(run.frames, 0);
    EXPECT_EQ(run.framesWithTheirPacketsToken, run.frames);
    // The leading pictures of the opening CRA are not output: fewer frames than packets.
    EXPECT_LE(static_cast<std::size_t>(run.frames), run.tokenOfPts.size());
}

TEST(PacketIdentityCarrier, FramesWithoutATokenReadAsZero)
{
    FramePtr frame(av_frame_alloc());
    EXPECT_EQ(packetTokenOf(*frame), 0);
    PacketPtr packet(av_packet_alloc());
    ASSERT_TRUE(attachPacketToken(*packet, 42));
    ASSERT_TRUE(attachPacketToken(*packet, 43)); // replaces, without leaking the first
    frame->opaque_ref = av_buffer_ref(packet->opaque_ref);
    EXPECT_EQ(packetTokenOf(*frame), 43);
}

} // namespace
} // namespace vexilo::ffmpeg
