#include "pipeline/PacketsInDecoder.h"

namespace vexilo::analyzer {

std::optional<PacketsInDecoder::Packet> PacketsInDecoder::hand(const Packet& packet)
{
    held_.push_back(packet);
    if (held_.size() <= answeredLater_) {
        return std::nullopt;
    }
    const Packet answered = held_.front();
    held_.pop_front();
    return answered.filler ? std::nullopt : std::optional<Packet>(answered);
}

std::optional<PacketsInDecoder::Packet> PacketsInDecoder::damagedWhileFlushed()
{
    while (!held_.empty()) {
        const Packet held = held_.front();
        held_.pop_front();
        if (!held.filler) {
            return held;
        }
    }
    return std::nullopt;
}

}  // namespace vexilo::analyzer
