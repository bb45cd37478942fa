#pragma once

#include "FFmpegHandles.h"

#include <cstdint>
#include <map>

namespace vexilo::media {

// Asks the decoder to carry each packet's opaque_ref to the frames decoded from it, where
// the headers offer that.
void enablePacketIdentityPassThrough(AVCodecContext& context);

// Brings each packet's identity record to the frames decoded from it. Newer FFmpeg copies
// the packet's opaque_ref itself (AV_CODEC_FLAG_COPY_OPAQUE); older releases such as 5.1
// only reorder one 64-bit value per packet (reordered_opaque), so there the record is kept
// here under a key that travels in that value and is put back on the frame as its
// opaque_ref.
class PacketIdentityCarrier {
public:
    explicit PacketIdentityCarrier(AVCodecContext& context) : context_(context) {}

    // Call with the packet (carrying its record) right before each send.
    void beforeSend(const AVPacket& packet);
    // Call with each received frame before reading its identity.
    void afterReceive(AVFrame& frame);

private:
    AVCodecContext& context_;
    std::map<std::int64_t, BufferPtr> pending_;
};

}  // namespace vexilo::media
