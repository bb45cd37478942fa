#include "app/FrameChannel.h"

#include "vexilo/protocol/FramePacket.h"

#include <QLocalSocket>

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace vexilo::analyzer {
namespace {

// Writes every byte to the non-blocking socket descriptor, waiting while the peer's buffer is full.
bool writeAll(int descriptor, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::send(descriptor, data, size, MSG_NOSIGNAL);
        if (written > 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{descriptor, POLLOUT, 0};
            if (::poll(&ready, 1, kFramePacketWriteTimeoutMs) <= 0) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

// A frame is megabytes and the desktop reads it in bursts: with the default buffer of a couple of
// hundred kilobytes the analysis would wait on the reader dozens of times per frame. The kernel
// caps the request at what the system allows; a refusal only keeps the default.
void enlargeSendBuffer(int descriptor)
{
    if (descriptor < 0) {
        return;
    }
    const int requested = kFrameChannelSendBufferBytes;
    static_cast<void>(::setsockopt(descriptor, SOL_SOCKET, SO_SNDBUF, &requested, sizeof(requested)));
}

}  // namespace

FramePacketSender::FramePacketSender(QLocalSocket& socket) : socket_(socket)
{
    enlargeSendBuffer(static_cast<int>(socket_.socketDescriptor()));
}

bool FramePacketSender::send(domain::PictureInfo picture, domain::VideoFrame frame)
{
    protocol::AnalyzerFramePacket packet;
    packet.sequence = ++sequence_;
    packet.picture = std::move(picture);
    packet.frame = std::move(frame);
    if (!protocol::serializeAnalyzerFramePacketInto(packet, bytes_)) {
        return false;
    }
    // Whatever the socket still buffers goes first, so that the stream of packets stays in order.
    while (socket_.bytesToWrite() > 0) {
        if (!socket_.waitForBytesWritten(kFramePacketWriteTimeoutMs)) {
            return false;
        }
    }
    const auto descriptor = static_cast<int>(socket_.socketDescriptor());
    return descriptor >= 0 && writeAll(descriptor, bytes_.constData(), static_cast<std::size_t>(bytes_.size()));
}

}  // namespace vexilo::analyzer
