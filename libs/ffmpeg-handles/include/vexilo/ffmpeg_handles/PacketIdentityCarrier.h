// Brings each packet's opaque_ref to the frames decoded from it. Newer FFmpeg copies the
// packet's opaque_ref itself when AV_CODEC_FLAG_COPY_OPAQUE is set (and FFmpeg 7 has nothing
// else); older releases such as 5.1 only reorder one 64-bit value per packet
// (reordered_opaque), so there the reference is kept here under a key that travels in that
// value and is put back on the frame as its opaque_ref.
#pragma once

#include "vexilo/ffmpeg_handles/FFmpegHandles.h"

#include <cstdint>
#include <map>

namespace vexilo::ffmpeg {

// Asks the decoder to carry each packet's opaque_ref to its frames, where the headers offer
// that; call before avcodec_open2.
void enablePacketIdentityPassThrough(AVCodecContext& context);

class PacketIdentityCarrier {
public:
    explicit PacketIdentityCarrier(AVCodecContext& context) : context_(context) { }

    // Call with the packet (carrying its opaque_ref) right before each send, also when the
    // send is repeated after AVERROR(EAGAIN).
    void beforeSend(const AVPacket& packet);
    // Call with each received frame before reading its opaque_ref.
    void afterReceive(AVFrame& frame);

private:
    AVCodecContext& context_;
    std::map<std::int64_t, BufferPtr> pending_;
    std::int64_t nextKey_ = 1; // reordered_opaque is 0 on frames that carry nothing
    BufferPtr lastSent_; // held, so that no later packet's buffer can reuse its address
};

// A 64-bit value as a packet's opaque_ref (replacing any it had), and read back from the
// opaque_ref of a frame; 0 when the frame carries none.
bool attachPacketToken(AVPacket& packet, std::int64_t token);
std::int64_t packetTokenOf(const AVFrame& frame);

} // namespace vexilo::ffmpeg
