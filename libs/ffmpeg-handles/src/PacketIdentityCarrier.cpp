#include "vexilo/ffmpeg_handles/PacketIdentityCarrier.h"

#include <cstring>

namespace vexilo::ffmpeg {
namespace {
// Records of packets whose pictures never came out (discarded or undecodable) are dropped
// once the decoder is this many packets further; the decoded picture buffer holds far fewer.
[[maybe_unused]] constexpr std::int64_t kPendingIdentityWindow = 1024;
} // namespace

void enablePacketIdentityPassThrough(AVCodecContext& context)
{
#if defined(AV_CODEC_FLAG_COPY_OPAQUE)
    context.flags |= AV_CODEC_FLAG_COPY_OPAQUE;
#else
    static_cast<void>(context);
#endif
}

void PacketIdentityCarrier::beforeSend(const AVPacket& packet)
{
#if defined(AV_CODEC_FLAG_COPY_OPAQUE)
    static_cast<void>(packet);
#else
    if (packet.opaque_ref == nullptr) {
        context_.reordered_opaque = 0;
        lastSent_.reset();
        return;
    }
    if (lastSent_ && packet.opaque_ref->buffer == lastSent_->buffer) {
        return; // the same packet again after AVERROR(EAGAIN): its key is already set
    }
    lastSent_.reset(av_buffer_ref(packet.opaque_ref));
    const std::int64_t key = nextKey_++;
    context_.reordered_opaque = key;
    pending_.emplace(key, BufferPtr(av_buffer_ref(packet.opaque_ref)));
    pending_.erase(pending_.begin(), pending_.lower_bound(key - kPendingIdentityWindow));
#endif
}

void PacketIdentityCarrier::afterReceive(AVFrame& frame)
{
#if defined(AV_CODEC_FLAG_COPY_OPAQUE)
    static_cast<void>(frame);
#else
    if (frame.opaque_ref != nullptr) {
        return;
    }
    const auto found = pending_.find(frame.reordered_opaque);
    if (found == pending_.end() || !found->second) {
        return;
    }
    frame.opaque_ref = found->second.release();
    pending_.erase(found);
#endif
}

bool attachPacketToken(AVPacket& packet, std::int64_t token)
{
    BufferPtr buffer(av_buffer_alloc(sizeof(token)));
    if (!buffer) {
        return false;
    }
    std::memcpy(buffer->data, &token, sizeof(token));
    av_buffer_unref(&packet.opaque_ref);
    packet.opaque_ref = buffer.release();
    return true;
}

std::int64_t packetTokenOf(const AVFrame& frame)
{
    std::int64_t token = 0;
    if (frame.opaque_ref != nullptr && frame.opaque_ref->size >= sizeof(token)) {
        std::memcpy(&token, frame.opaque_ref->data, sizeof(token));
    }
    return token;
}

} // namespace vexilo::ffmpeg
