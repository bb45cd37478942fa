#include "builder/AnalyzerIssues.h"
#include "builder/BuilderCodes.h"
#include "builder/StableIdDerivation.h"
#include "builder/StreamAnalysisBuilder.h"

#include <string>

namespace vexilo::analyzer {

namespace codes = builder_codes;

void recordRejectedPackets(analysis::StreamAnalysis& document, std::span<const RejectedPacket> packets)
{
    for (const RejectedPacket& packet : packets) {
        analysis::AnalysisErrorInfo error = analyzerErrorRecord(
            document.id, deriveStableId(document.id, ObjectKind::RejectedPacket, packet.packetIndex),
            codes::kPacketRejected, codes::kPacketRejectedMessage,
            "packetIndex=" + std::to_string(packet.packetIndex) +
                "; byteOffset=" + std::to_string(packet.byteOffset.value_or(-1)) +
                "; ffmpegCode=" + std::to_string(packet.ffmpegCode));
        error.errorValue = packet.packetIndex;
        document.errors.push_back(std::move(error));
    }
}

}  // namespace vexilo::analyzer
