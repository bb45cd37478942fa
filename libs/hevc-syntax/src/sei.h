// sei_rbsp() / sei_message() splitting (ITU-T H.265 7.3.2.4, 7.3.5): type, size and the
// payload bytes of each message, without interpreting the payload.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vexilo::hevc {

struct SeiMessage {
    std::uint32_t payloadType = 0;
    std::uint64_t payloadSize = 0;        // as signaled
    std::vector<std::uint8_t> payload;    // RBSP bytes, fewer than payloadSize when truncated
    bool complete = true;
};

struct SeiSplit {
    std::vector<SeiMessage> messages;
    bool malformed = false; // a header or payload ran past the end of the NAL unit
};

// `rbsp` starts behind the two-byte NAL unit header.
SeiSplit splitSeiMessages(std::span<const std::uint8_t> rbsp);

} // namespace vexilo::hevc
