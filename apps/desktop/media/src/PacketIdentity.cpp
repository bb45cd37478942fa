#include "PacketIdentity.h"

#include <cstring>

namespace vexilo::media {

bool attachPacketIdentity(AVPacket& packet, const PacketIdentityRecord& record) {
    BufferPtr buffer(av_buffer_alloc(kPacketIdentityRecordSize));
    if (!buffer) {
        return false;
    }
    std::memcpy(buffer->data, &record, sizeof(record));
    av_buffer_unref(&packet.opaque_ref);
    packet.opaque_ref = buffer.release();
    return true;
}

}  // namespace vexilo::media
