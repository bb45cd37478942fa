// What the analysis pipeline hands our HEVC observer. FFmpeg's decoder cannot call the
// observer itself, so the pipeline shows it exactly what the decoder is given and what it
// returns; the observer registered with av_vexilo_set_observer on the same codec context
// then delivers its events synchronously, on the calling thread, from inside these calls,
// or, once deliverOnOwnThread was called, on a thread of its own in the order they were fed.
//
// Order of calls for one decoding run:
//   av_vexilo_set_observer(context, &registration);   // before avcodec_open2
//   deliverOnOwnThread(context);                      // optional, before the first feed call
//   ffmpeg::enablePacketIdentityPassThrough(*context); // before avcodec_open2
//   feedExtradata(context);                           // once, after avcodec_parameters_to_context
//   resumeAt(context, point);                         // optional: the stream is taken up mid-way
//   ffmpeg::PacketIdentityCarrier carrier(*context);
//   for each packet of the stream:
//       ffmpeg::attachPacketToken(*packet, feedPacket(context, packet, packet->pos));
//       carrier.beforeSend(*packet); avcodec_send_packet(context, packet) ...
//       for each frame avcodec_receive_frame returns:
//           carrier.afterReceive(*frame);
//           feedFrame(context, frame, outputOrdinal++);
//   avcodec_send_packet(context, nullptr); drain frames with feedFrame as above
//   feedFlush(context);
//   av_vexilo_clear_observer(context);                // no event arrives after it returns
//
// Every call is cheap and does nothing when no observer is registered for the context.
#pragma once

#include <cstdint>

extern "C" {
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
}

namespace vexilo::hevc_observer {

// From now on the registration's events are delivered on a thread of its own, which parses
// what the feed calls hand it while the caller decodes: each call copies what it is given
// and returns, waiting only while much fed work is still queued. The events and their order
// are those of delivery on the calling thread. av_vexilo_clear_observer delivers all that was
// fed before it, then returns. Call it on the feeding thread, before the first feed call.
void deliverOnOwnThread(AVCodecContext* context);

// Returns once every event of the work fed so far has been delivered.
void waitForDelivery(AVCodecContext* context);

// The decoder's configuration record (hvcC) or Annex-B parameter sets in context->extradata.
void feedExtradata(AVCodecContext* context);

// Call once per packet, right before its first avcodec_send_packet (not again when the send
// is repeated after AVERROR(EAGAIN)), with the packet's byte position in the input file
// (packet->pos; -1 when unknown). Returns the packet's token, to attach to the packet as its
// opaque_ref (vexilo/ffmpeg_handles/PacketIdentityCarrier.h): FFmpeg carries it to the frames
// decoded from the packet (PacketIdentityCarrier does the carrying where the FFmpeg headers
// lack AV_CODEC_FLAG_COPY_OPAQUE), and feedFrame maps them back to their pictures with it.
std::int64_t feedPacket(AVCodecContext* context, const AVPacket* packet, std::int64_t fileBytePosition);

// Where a decode that starts at a random-access picture in the middle of a stream takes it up:
// what the session, fed the stream from its start, had counted by then.
struct ResumePoint {
    std::uint64_t picturesBefore = 0;  // decode identities the pictures before it took
    std::uint64_t slicesBefore = 0;    // slice segments before it
    std::uint64_t nalUnitsBefore = 0;  // NAL units of the packets before its access unit
    std::int32_t picOrderCnt = 0;      // its PicOrderCntVal
    // Whether its RASL pictures, which a decode from it cannot decode, took identities there.
    bool skippedPicturesTakeIdentities = false;
};

// Call once, after feedExtradata and any packet of parameter sets given ahead, right before the
// random-access picture's packet: the pictures, slices and NAL units from there on get the
// identities, and the pictures the POCs, that a decode from the start gave them.
void resumeAt(AVCodecContext* context, const ResumePoint& point);

// Every frame avcodec_receive_frame returns; `displayIndex` is the pipeline's output ordinal
// (0, 1, 2, ...), the same number the frame's picture record carries.
void feedFrame(AVCodecContext* context, const AVFrame* frame, std::int64_t displayIndex);

// End of stream, after the decoder has been drained.
void feedFlush(AVCodecContext* context);

} // namespace vexilo::hevc_observer
