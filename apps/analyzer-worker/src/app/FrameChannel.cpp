#include "app/FrameChannel.h"

#include "vexilo/protocol/FramePacket.h"

#include <QLocalSocket>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <utility>

namespace vexilo::analyzer {
namespace {

// Writes every byte to the non-blocking socket descriptor, waiting while the peer's buffer is full;
// gives up when `stop` becomes readable.
bool writeAll(int descriptor, int stop, const char* data, std::size_t size)
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
            std::array<pollfd, 2> ready{pollfd{descriptor, POLLOUT, 0}, pollfd{stop, POLLIN, 0}};
            if (::poll(ready.data(), ready.size(), kFramePacketWriteTimeoutMs) <= 0 || ready[1].revents != 0) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

// A frame is megabytes and the desktop reads it in bursts: with the default buffer of a couple of
// hundred kilobytes the writer would wait on the reader dozens of times per frame. The kernel
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

FramePacketSender::FramePacketSender(QLocalSocket& socket, std::uint64_t maxQueuedBytes)
    : maxQueuedBytes_(maxQueuedBytes)
{
    // Whatever the socket itself still buffers goes first, so that the packets stay in order;
    // from here on only the writing thread touches the descriptor.
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(kFramePacketWriteTimeoutMs)) {
            break;
        }
    }
    if (socket.bytesToWrite() > 0 || socket.state() != QLocalSocket::ConnectedState) {
        failed_ = true;
        return;
    }
    descriptor_ = static_cast<int>(socket.socketDescriptor());
    stop_ = ::eventfd(0, EFD_CLOEXEC);
    if (stop_ < 0) {
        failed_ = true;
        return;
    }
    enlargeSendBuffer(descriptor_);
    writer_ = std::thread([this] { writeQueuedPackets(); });
}

FramePacketSender::~FramePacketSender()
{
    abandon();
    if (stop_ >= 0) {
        ::close(stop_);
    }
}

QByteArray FramePacketSender::takeSpareBuffer()
{
    const std::scoped_lock lock(mutex_);
    if (spare_.empty()) {
        return {};
    }
    QByteArray buffer = std::move(spare_.back());
    spare_.pop_back();
    return buffer;
}

bool FramePacketSender::send(domain::PictureInfo picture, domain::VideoFrame frame)
{
    protocol::AnalyzerFramePacket packet;
    packet.sequence = ++sequence_;
    packet.picture = std::move(picture);
    packet.frame = std::move(frame);
    QByteArray bytes = takeSpareBuffer();
    if (!protocol::serializeAnalyzerFramePacketInto(packet, bytes)) {
        return false;
    }
    const auto size = static_cast<std::uint64_t>(bytes.size());
    std::unique_lock lock(mutex_);
    // One packet is always let in, however large, so that a frame above the bound still goes.
    changed_.wait(lock, [&] {
        return failed_ || finishing_ || queued_.empty() || queuedBytes_ + size <= maxQueuedBytes_;
    });
    if (failed_ || finishing_) {
        return false;
    }
    queuedBytes_ += size;
    queued_.push_back(std::move(bytes));
    changed_.notify_all();
    return true;
}

void FramePacketSender::writeQueuedPackets()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !queued_.empty() || finishing_; });
        if (queued_.empty()) {
            return;
        }
        QByteArray bytes = std::move(queued_.front());
        queued_.pop_front();
        lock.unlock();
        const bool written =
            writeAll(descriptor_, stop_, bytes.constData(), static_cast<std::size_t>(bytes.size()));
        lock.lock();
        queuedBytes_ -= static_cast<std::uint64_t>(bytes.size());
        if (!written) {
            // The reader is gone or stuck: what is still queued would only wait for the same.
            failed_ = true;
            queued_.clear();
            queuedBytes_ = 0;
        } else if (spare_.size() < 2) {
            spare_.push_back(std::move(bytes));
        }
        changed_.notify_all();
    }
}

bool FramePacketSender::finish()
{
    {
        const std::scoped_lock lock(mutex_);
        finishing_ = true;
    }
    stopWriter();
    const std::scoped_lock lock(mutex_);
    return !failed_;
}

void FramePacketSender::abandon()
{
    {
        const std::scoped_lock lock(mutex_);
        if (!writer_.joinable()) {
            finishing_ = true;
            return;
        }
        finishing_ = true;
        // A packet being written still counts until its write returns.
        for (const QByteArray& bytes : queued_) {
            queuedBytes_ -= static_cast<std::uint64_t>(bytes.size());
        }
        queued_.clear();
    }
    // Wakes a write that waits for room in the socket: it gives up at once instead of timing out.
    const std::uint64_t wake = 1;
    static_cast<void>(::write(stop_, &wake, sizeof(wake)));
    stopWriter();
}

void FramePacketSender::stopWriter()
{
    changed_.notify_all();
    if (writer_.joinable()) {
        writer_.join();
    }
}

}  // namespace vexilo::analyzer
