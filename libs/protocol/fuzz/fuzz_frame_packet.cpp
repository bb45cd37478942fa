// Feeds arbitrary bytes to the frame-packet decoder; an accepted packet must encode again and
// decode back to the same packet.
#include "vexilo/protocol/FramePacket.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace vexilo::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    const FramePacketDecodeResult decoded = decodeAnalyzerFramePacket(bytes);
    if (const auto* packet = std::get_if<AnalyzerFramePacket>(&decoded)) {
        const FramePacketDecodeResult again = decodeAnalyzerFramePacket(serializeAnalyzerFramePacket(*packet));
        const auto* reparsed = std::get_if<AnalyzerFramePacket>(&again);
        if (reparsed == nullptr || reparsed->sequence != packet->sequence || reparsed->picture != packet->picture ||
            reparsed->frame != packet->frame) {
            std::abort();
        }
    }
    if (size >= static_cast<std::size_t>(kFramePacketHeaderSize)) {
        (void)decodeFramePacketBody(bytes.sliced(kFramePacketHeaderSize));
    }
    return 0;
}
