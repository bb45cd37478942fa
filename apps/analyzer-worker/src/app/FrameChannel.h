#pragma once

#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/VideoFrame.h"

#include <QByteArray>

#include <cstdint>

class QLocalSocket;

namespace vexilo::analyzer {

inline constexpr int kFrameChannelConnectTimeoutMs = 3000;
inline constexpr int kFramePacketWriteTimeoutMs = 5000;
// Asked of the kernel for the frame channel: room for a few frames of 1080p.
inline constexpr int kFrameChannelSendBufferBytes = 32 * 1024 * 1024;

// Sends a task's pictures as frame packets over one connected socket, each after the previous
// one has been taken, so a slow reader slows the analysis down instead of growing memory. A
// frame is megabytes: one buffer serves every packet, and the bytes go to the socket's
// descriptor directly rather than through a second copy in the socket's own buffer, because
// fresh allocations of that size cost more in page faults than the copies themselves.
class FramePacketSender {
public:
    // Enlarges the connected socket's send buffer so that a frame rarely waits on the reader.
    explicit FramePacketSender(QLocalSocket& socket);

    // The sequence advances even when the packet is refused.
    [[nodiscard]] bool send(domain::PictureInfo picture, domain::VideoFrame frame);

private:
    QLocalSocket& socket_;
    std::uint64_t sequence_ = 0;
    QByteArray bytes_;
};

}  // namespace vexilo::analyzer
