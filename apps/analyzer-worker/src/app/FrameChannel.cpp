#include "app/FrameChannel.h"

#include "vexilo/protocol/FramePacket.h"

#include <QLocalSocket>

namespace vexilo::analyzer {

bool sendAnalyzerFramePacket(QLocalSocket& socket, std::uint64_t& sequence, domain::PictureInfo picture,
                             domain::VideoFrame frame)
{
    protocol::AnalyzerFramePacket packet;
    packet.sequence = ++sequence;
    packet.picture = std::move(picture);
    packet.frame = std::move(frame);
    const QByteArray bytes = protocol::serializeAnalyzerFramePacket(packet);
    if (bytes.isEmpty()) {
        return false;
    }
    if (socket.write(bytes) != bytes.size()) {
        return false;
    }
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(kFramePacketWriteTimeoutMs)) {
            return false;
        }
    }
    return true;
}

}  // namespace vexilo::analyzer
