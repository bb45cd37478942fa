#include "sei.h"

namespace vexilo::hevc {

namespace {
constexpr std::uint8_t kExtensionByte = 0xFF;
constexpr std::uint8_t kRbspStopByte = 0x80;

// The ff_byte-extended value of payloadType or payloadSize; false when the data ends first.
bool readExtendedValue(std::span<const std::uint8_t> rbsp, std::uint64_t& position, std::uint64_t& value)
{
    value = 0;
    while (position < rbsp.size()) {
        const std::uint8_t byte = rbsp[static_cast<std::size_t>(position++)];
        value += byte;
        if (byte != kExtensionByte) {
            return true;
        }
    }
    return false;
}

bool onlyTrailingBitsLeft(std::span<const std::uint8_t> rbsp, std::uint64_t position)
{
    if (position >= rbsp.size()) {
        return true;
    }
    if (rbsp[static_cast<std::size_t>(position)] != kRbspStopByte) {
        return false;
    }
    for (std::uint64_t i = position + 1; i < rbsp.size(); ++i) {
        if (rbsp[static_cast<std::size_t>(i)] != 0) {
            return false;
        }
    }
    return true;
}
} // namespace

SeiSplit splitSeiMessages(std::span<const std::uint8_t> rbsp)
{
    SeiSplit split;
    std::uint64_t position = 0;
    while (!onlyTrailingBitsLeft(rbsp, position)) {
        SeiMessage message;
        std::uint64_t payloadType = 0;
        std::uint64_t payloadSize = 0;
        if (!readExtendedValue(rbsp, position, payloadType) || !readExtendedValue(rbsp, position, payloadSize) ||
            payloadType > UINT32_MAX) {
            split.malformed = true;
            break;
        }
        message.payloadType = static_cast<std::uint32_t>(payloadType);
        message.payloadSize = payloadSize;
        const std::uint64_t available = rbsp.size() - position;
        const std::uint64_t copied = payloadSize <= available ? payloadSize : available;
        const auto begin = rbsp.begin() + static_cast<std::ptrdiff_t>(position);
        message.payload.assign(begin, begin + static_cast<std::ptrdiff_t>(copied));
        message.complete = copied == payloadSize;
        position += copied;
        split.messages.push_back(std::move(message));
        if (copied != payloadSize) {
            split.malformed = true;
            break;
        }
    }
    return split;
}

} // namespace vexilo::hevc
