#include "vexilo/media/RandomAccessIndexRecorder.h"

namespace vexilo::media {
namespace {

constexpr std::uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

std::uint64_t contentKeyOf(std::span<const std::uint8_t> bytes) {
    std::uint64_t hash = kFnvOffsetBasis;
    for (const std::uint8_t byte : bytes) {
        hash = (hash ^ byte) * kFnvPrime;
    }
    return hash;
}

}  // namespace

void RandomAccessIndexRecorder::notePacket(std::int64_t decodeIndex, std::span<const std::uint8_t> data,
                                           std::int64_t position) {
    const ffmpeg::PacketNalUnits units = ffmpeg::scanPacketNalUnits(data, position, framing_);
    const auto packetStart = static_cast<std::uint64_t>(position);
    for (const ffmpeg::FileSpan& span : units.parameterSets) {
        index_.appendParameterSet(span, contentKeyOf(data.subspan(static_cast<std::size_t>(span.offset - packetStart),
                                                                 static_cast<std::size_t>(span.size))));
    }
    if (!units.firstSliceOffset) {
        return;
    }
    positionByDecodeIndex_.emplace(decodeIndex, index_.size());
    index_.appendPicture({*units.firstSliceOffset, packetStart, units.firstSliceNalUnitType, std::nullopt});
}

void RandomAccessIndexRecorder::notePictureOutput(std::int64_t decodeIndex, std::int64_t displayIndex) {
    const auto found = positionByDecodeIndex_.find(decodeIndex);
    if (found != positionByDecodeIndex_.end()) {
        index_.setDisplayIndex(found->second, displayIndex);
        positionByDecodeIndex_.erase(found);
    }
}

std::shared_ptr<const RandomAccessIndex> RandomAccessIndexRecorder::snapshot() const {
    return std::make_shared<const RandomAccessIndex>(index_);
}

}  // namespace vexilo::media
