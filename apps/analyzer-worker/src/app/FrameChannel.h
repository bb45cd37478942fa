#pragma once

#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/VideoFrame.h"
#include "vexilo/protocol/FramePacket.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

class QLocalSocket;

namespace vexilo::analyzer {

inline constexpr int kFrameChannelConnectTimeoutMs = 3000;
inline constexpr int kFramePacketWriteTimeoutMs = 5000;
// Asked of the kernel for the frame channel: room for a few frames of 1080p.
inline constexpr int kFrameChannelSendBufferBytes = 32 * 1024 * 1024;
// Packets the analysis may have ahead of the socket: ten frames of 1080p 10-bit.
inline constexpr std::uint64_t kMaxQueuedFramePacketBytes = 64ULL * 1024 * 1024;

// Sends a task's pictures as frame packets over one connected socket. The analysis only
// serialises a packet and queues it; a thread of the sender's own writes the queue to the
// socket, so that a desktop that is busy for a moment (as it is while the stream opens) does
// not hold the analysis up. The queue is bounded: a reader that stays slower than the analysis
// slows it down instead of growing memory. A frame is megabytes: only the bytes around its
// samples are serialised, and the packet goes to the socket's descriptor from those and from the
// frame's own planes, neither through a copy of the samples into one packet array nor through a
// second copy in the socket's own buffer.
class FramePacketSender {
public:
    // Enlarges the connected socket's send buffer so that a frame rarely waits on the reader.
    explicit FramePacketSender(QLocalSocket& socket, std::uint64_t maxQueuedBytes = kMaxQueuedFramePacketBytes);
    ~FramePacketSender();
    FramePacketSender(const FramePacketSender&) = delete;
    FramePacketSender& operator=(const FramePacketSender&) = delete;

    // Queues the packet. False when the packet is refused or an earlier packet could not be
    // written; the sequence advances even when the packet is refused.
    [[nodiscard]] bool send(domain::PictureInfo picture, domain::VideoFrame frame);

    // Waits until every queued packet is written and stops the writing thread. False when a
    // packet could not be written. Later sends are refused.
    bool finish();

    // Stops at once: what is queued is dropped and a packet being written is cut short, so that
    // a cancelled task does not wait on a reader that may no longer read (the reader then finds
    // a packet cut off, which it drops with the channel). Later sends are refused. The
    // destructor abandons a sender not finished.
    void abandon();

private:
    // A packet waiting for the socket: its framing and the frame whose samples go between.
    struct QueuedPacket {
        protocol::FramePacketFraming framing;
        domain::VideoFrame frame;
        [[nodiscard]] std::uint64_t size() const;
    };

    void writeQueuedPackets();
    void stopWriter();

    int descriptor_ = -1;
    // Readable once the sender is abandoned: wakes a write that waits for the reader.
    int stop_ = -1;
    std::uint64_t maxQueuedBytes_;
    std::uint64_t sequence_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<QueuedPacket> queued_;
    std::uint64_t queuedBytes_ = 0;
    bool failed_ = false;
    bool finishing_ = false;
    std::thread writer_;
};

}  // namespace vexilo::analyzer
