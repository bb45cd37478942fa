#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace vexilo::analyzer {

// The packets a frame-threaded decoder is still working on. Such a decoder answers for a packet
// only once it has been handed one more packet for each of its other threads, oldest first: the
// damage it reports while taking a packet is that of the packet so many before it, and the damage
// it reports while it is flushed is that of a packet it still held. A decoder on one thread
// answers for each packet as it takes it. Before the flush the decoder is handed fillers (packets
// of one access unit delimiter, which decode to nothing) until it has answered for every packet
// of the stream, since while flushing it passes over the packets it has no answer for without a
// word, and damage it reported then could not be told to be whose.
class PacketsInDecoder {
public:
    struct Packet {
        std::uint64_t index = 0;
        std::int64_t position = -1;
        std::uint64_t byteSize = 0;
        bool filler = false;
    };

    explicit PacketsInDecoder(int frameThreads = 1) noexcept
        : answeredLater_(frameThreads > 1 ? static_cast<std::size_t>(frameThreads - 1) : 0)
    {
    }

    // Takes the packet handed to the decoder; the packet of the stream whose answer comes with
    // it, when one does.
    [[nodiscard]] std::optional<Packet> hand(const Packet& packet);
    // The fillers that bring out every answer the decoder still owes.
    [[nodiscard]] std::size_t fillersBeforeFlush() const noexcept { return answeredLater_; }
    // While the decoder is flushed: the held packet of the stream its next damage report is
    // about, when it still holds one.
    [[nodiscard]] std::optional<Packet> damagedWhileFlushed();

private:
    std::size_t answeredLater_;
    std::deque<Packet> held_;
};

}  // namespace vexilo::analyzer
