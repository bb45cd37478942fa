#include "app/FrameChannel.h"

#include "vexilo/protocol/FramePacket.h"

#include <QLocalSocket>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <span>
#include <utility>
#include <vector>

namespace vexilo::analyzer {
namespace {

// Drops the first `count` bytes of the pieces.
void skipWritten(std::span<iovec>& pieces, std::size_t count)
{
    while (!pieces.empty() && count >= pieces.front().iov_len) {
        count -= pieces.front().iov_len;
        pieces = pieces.subspan(1);
    }
    if (!pieces.empty()) {
        pieces.front().iov_base = static_cast<char*>(pieces.front().iov_base) + count;
        pieces.front().iov_len -= count;
    }
}

// Writes every byte of the pieces, in order, to the non-blocking socket descriptor, waiting while
// the peer's buffer is full; gives up when `stop` becomes readable.
bool writeAll(int descriptor, int stop, std::span<iovec> pieces)
{
    while (!pieces.empty()) {
        msghdr message{};
        message.msg_iov = pieces.data();
        message.msg_iovlen = pieces.size();
        const ssize_t written = ::sendmsg(descriptor, &message, MSG_NOSIGNAL);
        if (written > 0) {
            skipWritten(pieces, static_cast<std::size_t>(written));
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

// The framing around the plane samples, and the samples where the frame holds them. An iovec
// names writable memory whatever the call does with it; sendmsg only reads it.
std::vector<iovec> piecesOf(const protocol::FramePacketFraming& framing, const domain::VideoFrame& frame)
{
    std::vector<iovec> pieces;
    auto* framingBytes = const_cast<char*>(framing.bytes.constData());
    qsizetype framed = 0;
    for (std::size_t plane = 0; plane < framing.sampleCuts.size(); ++plane) {
        const qsizetype cut = framing.sampleCuts[plane];
        const std::vector<std::uint8_t>& samples = frame.planes[plane].samples;
        pieces.push_back({framingBytes + framed, static_cast<std::size_t>(cut - framed)});
        pieces.push_back({const_cast<std::uint8_t*>(samples.data()), samples.size()});
        framed = cut;
    }
    pieces.push_back({framingBytes + framed, static_cast<std::size_t>(framing.bytes.size() - framed)});
    return pieces;
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

std::uint64_t FramePacketSender::QueuedPacket::size() const
{
    return static_cast<std::uint64_t>(framing.bytes.size()) + protocol::planeSampleBytes(frame);
}

FramePacketSender::~FramePacketSender()
{
    abandon();
    if (stop_ >= 0) {
        ::close(stop_);
    }
}

bool FramePacketSender::send(domain::PictureInfo picture, domain::VideoFrame frame)
{
    protocol::AnalyzerFramePacket packet;
    packet.sequence = ++sequence_;
    packet.picture = std::move(picture);
    packet.frame = std::move(frame);
    QueuedPacket queued;
    if (!protocol::serializeAnalyzerFramePacketFramingInto(packet, queued.framing)) {
        return false;
    }
    queued.frame = std::move(packet.frame);
    const std::uint64_t size = queued.size();
    std::unique_lock lock(mutex_);
    // One packet is always let in, however large, so that a frame above the bound still goes.
    changed_.wait(lock, [&] {
        return failed_ || finishing_ || queued_.empty() || queuedBytes_ + size <= maxQueuedBytes_;
    });
    if (failed_ || finishing_) {
        return false;
    }
    queuedBytes_ += size;
    queued_.push_back(std::move(queued));
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
        QueuedPacket packet = std::move(queued_.front());
        queued_.pop_front();
        lock.unlock();
        std::vector<iovec> pieces = piecesOf(packet.framing, packet.frame);
        const bool written = writeAll(descriptor_, stop_, pieces);
        lock.lock();
        queuedBytes_ -= packet.size();
        if (!written) {
            // The reader is gone or stuck: what is still queued would only wait for the same.
            failed_ = true;
            queued_.clear();
            queuedBytes_ = 0;
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
        for (const QueuedPacket& packet : queued_) {
            queuedBytes_ -= packet.size();
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
