#pragma once

#include "vexilo/protocol/FramePacket.h"
#include "vexilo/threading/ThreadMailbox.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

namespace vexilo::application {

// Shown by debuggers and /proc.
inline constexpr const char* kFrameChannelThreadName = "vexiloFrameRead";

// Decoded packets the reader may hold before its owner has taken them. A burst of 4K 10-bit
// frames (25 MB each in 4:2:0, 50 MB in 4:4:4) fits; beyond it the reader stops reading, and the
// worker's writer waits until the owner catches up.
inline constexpr std::uint64_t kMaxUndeliveredFrameBytes = 256ULL * 1024 * 1024;

// The most the socket buffers ahead of the reader, so that a stopped reader really stops.
inline constexpr qint64 kFrameChannelReadChunkBytes = 4LL * 1024 * 1024;

// Bytes on the frame channel that no packet can be framed from; the reader reads nothing
// more from that connection.
struct FrameChannelDefect {
    QString message;
};

using FrameChannelItem = std::variant<protocol::AnalyzerFramePacket, FrameChannelDefect>;

struct FrameChannelShared;
class FrameChannelThread;

// The frame channel's server and socket, read and framed on a thread of their own, so that a
// busy owner thread never stalls the worker's writer. Packets wait in order until the owner
// takes them. Every member is called on the owner's thread, the one that constructed it.
class AnalyzerFrameChannel {
public:
    // `itemsWaiting` runs on the owner's thread, once per batch of items read while none was
    // announced; the owner then takes items until there are none.
    explicit AnalyzerFrameChannel(std::function<void()> itemsWaiting,
                                  std::uint64_t maxUndeliveredBytes = kMaxUndeliveredFrameBytes);
    ~AnalyzerFrameChannel();

    AnalyzerFrameChannel(const AnalyzerFrameChannel&) = delete;
    AnalyzerFrameChannel& operator=(const AnalyzerFrameChannel&) = delete;

    // Stops any earlier reader, starts a new one and listens on `name`: the server's error
    // text, or empty when listening.
    QString open(const QString& name);
    // Joins the reader: server, connection and undelivered items are gone. Safe to repeat.
    void stop();
    [[nodiscard]] bool isOpen() const;

    // Forgets every item not yet taken and whatever else the current connection brings: the
    // next task's packets come on a connection of their own.
    void dropFrames();

    enum class ReadOutcome : std::uint8_t { Done, MoreWaiting, TimedOut };
    // Has the reader take every connection and every byte the socket holds at this moment,
    // waiting at most `wait`. MoreWaiting: it stopped at the limit of undelivered bytes, so
    // the owner takes items and asks again.
    ReadOutcome readNow(std::chrono::milliseconds wait);

    [[nodiscard]] std::optional<FrameChannelItem> takeNext();
    [[nodiscard]] std::uint64_t undeliveredBytes() const;

private:
    void announce();
    void resumeReaderIfStalled(bool stalled);

    std::function<void()> itemsWaiting_;
    std::unique_ptr<FrameChannelShared> shared_;
    threading::ThreadMailbox ownerMailbox_;  // carries the reader's announcements to the owner's thread
    std::unique_ptr<FrameChannelThread> thread_;
};

}  // namespace vexilo::application
