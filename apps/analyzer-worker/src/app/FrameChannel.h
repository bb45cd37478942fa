#pragma once

#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/VideoFrame.h"

#include <QByteArray>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

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
// slows it down instead of growing memory. A frame is megabytes: packets are serialised into
// buffers that are reused, and the bytes go to the socket's descriptor directly rather than
// through a second copy in the socket's own buffer, because fresh allocations of that size cost
// more in page faults than the copies themselves.
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
    void writeQueuedPackets();
    void stopWriter();
    [[nodiscard]] QByteArray takeSpareBuffer();

    int descriptor_ = -1;
    // Readable once the sender is abandoned: wakes a write that waits for the reader.
    int stop_ = -1;
    std::uint64_t maxQueuedBytes_;
    std::uint64_t sequence_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<QByteArray> queued_;
    std::vector<QByteArray> spare_;
    std::uint64_t queuedBytes_ = 0;
    bool failed_ = false;
    bool finishing_ = false;
    std::thread writer_;
};

}  // namespace vexilo::analyzer
