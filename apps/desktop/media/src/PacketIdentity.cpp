#include "PacketIdentity.h"

#include "vexilo/media/DecodedFrameConversion.h"

#include <cstring>

namespace vexilo::media {
namespace {

#if !defined(AV_CODEC_FLAG_COPY_OPAQUE)
// Records of packets whose pictures never came out (discarded or undecodable) are dropped
// once the decoder is this many packets further; the decoded picture buffer holds far fewer.
constexpr std::int64_t kPendingIdentityWindow = 1024;
// reordered_opaque is 0 on frames that carry nothing, so keys start at 1.
constexpr std::int64_t kFirstIdentityKey = 1;

std::int64_t identityKeyOf(const AVPacket& packet) {
    PacketIdentityRecord record;
    std::memcpy(&record, packet.opaque_ref->data, sizeof(record));
    return record.decodeIndex + kFirstIdentityKey;
}
#endif

}  // namespace

void enablePacketIdentityPassThrough(AVCodecContext& context) {
#if defined(AV_CODEC_FLAG_COPY_OPAQUE)
    context.flags |= AV_CODEC_FLAG_COPY_OPAQUE;
#else
    static_cast<void>(context);
#endif
}

void PacketIdentityCarrier::beforeSend(const AVPacket& packet) {
#if defined(AV_CODEC_FLAG_COPY_OPAQUE)
    static_cast<void>(packet);
#else
    if (packet.opaque_ref == nullptr || packet.opaque_ref->size < kPacketIdentityRecordSize) {
        context_.reordered_opaque = 0;
        return;
    }
    const std::int64_t key = identityKeyOf(packet);
    context_.reordered_opaque = key;
    if (pending_.find(key) == pending_.end()) {
        pending_.emplace(key, BufferPtr(av_buffer_ref(packet.opaque_ref)));
    }
    pending_.erase(pending_.begin(), pending_.lower_bound(key - kPendingIdentityWindow));
#endif
}

void PacketIdentityCarrier::afterReceive(AVFrame& frame) {
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

}  // namespace vexilo::media
