#include "builder/AnalyzerIssues.h"
#include "builder/BuilderCodes.h"
#include "builder/StableIdDerivation.h"
#include "builder/StreamAnalysisBuilder.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

namespace vexilo::analyzer {
namespace {

namespace codes = builder_codes;

// A slice NAL unit where the file holds it, and the picture it belongs to.
struct PlacedSlice {
    std::uint64_t byteOffset = 0;
    std::uint64_t pictureIdentity = 0;

    bool operator<(const PlacedSlice& other) const noexcept { return byteOffset < other.byteOffset; }
};

std::vector<PlacedSlice> placedSlices(const analysis::StreamAnalysis& document)
{
    std::vector<PlacedSlice> slices;
    for (const analysis::NalUnitInfo& nal : document.nalUnits) {
        if (nal.kind == analysis::NalUnitKind::Slice && nal.byteSpanReliable && nal.pictureId) {
            slices.push_back(PlacedSlice{nal.byteOffset, *nal.pictureId});
        }
    }
    std::sort(slices.begin(), slices.end());
    return slices;
}

// The pictures whose slices lie inside the packet's bytes, each once.
std::vector<std::uint64_t> picturesInPacket(const std::vector<PlacedSlice>& slices, const RejectedPacket& packet)
{
    std::vector<std::uint64_t> pictures;
    if (!packet.byteOffset || *packet.byteOffset < 0 || packet.byteSize == 0) {
        return pictures;
    }
    const auto begin = static_cast<std::uint64_t>(*packet.byteOffset);
    const std::uint64_t end = begin + std::min(packet.byteSize, ~begin);
    for (auto slice = std::lower_bound(slices.begin(), slices.end(), PlacedSlice{begin, 0});
         slice != slices.end() && slice->byteOffset < end; ++slice) {
        if (std::find(pictures.begin(), pictures.end(), slice->pictureIdentity) == pictures.end()) {
            pictures.push_back(slice->pictureIdentity);
        }
    }
    return pictures;
}

analysis::AnalysisErrorInfo rejectedPacketRecord(const analysis::StreamAnalysis& document,
                                                 const RejectedPacket& packet)
{
    analysis::AnalysisErrorInfo error = analyzerErrorRecord(
        document.id, deriveStableId(document.id, ObjectKind::RejectedPacket, packet.packetIndex),
        codes::kPacketRejected, codes::kPacketRejectedMessage,
        "packetIndex=" + std::to_string(packet.packetIndex) +
            "; byteOffset=" + std::to_string(packet.byteOffset.value_or(-1)) +
            "; ffmpegCode=" + std::to_string(packet.ffmpegCode));
    error.errorValue = packet.packetIndex;
    return error;
}

// The decoder may still output a picture whose packet it rejected; what it shows of it is not
// what the stream says, and the analysis of the packet's syntax is no whole picture either.
void markRejectedPicture(analysis::StreamAnalysis& document, analysis::PictureAnalysisSummary& picture,
                         const RejectedPacket& packet)
{
    if (picture.completeness != analysis::PictureCompleteness::Failed) {
        picture.completeness = analysis::PictureCompleteness::Partial;
    }
    analysis::AnalysisErrorInfo issue =
        pictureIssueRecord(document.id, picture, ObjectKind::RejectedPictureIssue, codes::kPictureRejected,
                           codes::kPictureRejectedMessage, "packetIndex=" + std::to_string(packet.packetIndex));
    issue.errorValue = packet.packetIndex;
    document.errors.push_back(std::move(issue));
}

}  // namespace

void recordRejectedPackets(analysis::StreamAnalysis& document, std::span<const RejectedPacket> packets)
{
    if (packets.empty()) {
        return;
    }
    const std::vector<PlacedSlice> slices = placedSlices(document);
    std::unordered_map<std::uint64_t, std::size_t> pictureByIdentity;
    for (std::size_t i = 0; i < document.pictures.size(); ++i) {
        if (document.pictures[i].pictureId) {
            pictureByIdentity.try_emplace(*document.pictures[i].pictureId, i);
        }
    }
    for (const RejectedPacket& packet : packets) {
        document.errors.push_back(rejectedPacketRecord(document, packet));
        for (const std::uint64_t pictureIdentity : picturesInPacket(slices, packet)) {
            const auto found = pictureByIdentity.find(pictureIdentity);
            // A picture is named once, by the first of its packets that was rejected.
            if (found != pictureByIdentity.end()) {
                markRejectedPicture(document, document.pictures[found->second], packet);
                pictureByIdentity.erase(found);
            }
        }
    }
}

}  // namespace vexilo::analyzer
