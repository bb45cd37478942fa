#include "vexilo/ffmpeg_handles/RandomAccessSeek.h"

#include "nal_unit.h"

extern "C" {
#include <libavutil/error.h>
}

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <limits>

namespace vexilo::ffmpeg {
namespace {

constexpr std::size_t kHvcCFixedPartSize = 23;
constexpr std::size_t kLengthSizeByte = 21;
constexpr std::uint8_t kHvcCVersion = 1;
// A parameter set is a few hundred bytes; anything near this is no parameter set.
constexpr std::uint64_t kLargestParameterSetBytes = 1U << 20;
// A container seek lands on the sync sample at or before the one asked for; the packets
// between are read past. Far more than any distance between sync samples.
constexpr int kMostPacketsPastTheSeek = 1 << 16;
constexpr std::array<std::uint8_t, 4> kStartCode{0, 0, 0, 1};

bool isParameterSet(std::uint32_t nalUnitType)
{
    return nalUnitType == hevc::VPS_NUT || nalUnitType == hevc::SPS_NUT || nalUnitType == hevc::PPS_NUT;
}

std::vector<hevc::NalUnitSpan> splitPacket(std::span<const std::uint8_t> data, NalFraming framing)
{
    return framing.annexB() ? hevc::splitAnnexB(data) : hevc::splitLengthPrefixed(data, framing.lengthSize).nalUnits;
}

// The video packet that begins the access unit, read past whatever comes before it.
int readUpToAccessUnit(AVFormatContext& input, int streamIndex, NalFraming framing, const AccessUnitStart& start,
                       AVPacket& packet)
{
    for (int read = 0; read < kMostPacketsPastTheSeek; ++read) {
        av_packet_unref(&packet);
        if (const int code = av_read_frame(&input, &packet); code < 0) {
            return code;
        }
        if (packet.stream_index != streamIndex) {
            continue;
        }
        const PacketNalUnits units =
            scanPacketNalUnits({packet.data, static_cast<std::size_t>(std::max(packet.size, 0))}, packet.pos, framing);
        if (!units.firstSliceOffset || *units.firstSliceOffset < start.firstSliceOffset) {
            continue;
        }
        return *units.firstSliceOffset == start.firstSliceOffset ? 0 : AVERROR(ESPIPE);
    }
    return AVERROR(ESPIPE);
}

// The sync sample at or before the sample holding the slice, by its decode timestamp.
std::optional<std::int64_t> sampleTimestampOf(const AVStream& stream, std::uint64_t firstSliceOffset)
{
    const int entries = avformat_index_get_entries_count(&stream);
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(const_cast<AVStream*>(&stream), i);
        if (entry == nullptr || entry->pos < 0 || entry->size <= 0) {
            continue;
        }
        const auto begin = static_cast<std::uint64_t>(entry->pos);
        if (firstSliceOffset >= begin && firstSliceOffset - begin < static_cast<std::uint64_t>(entry->size)) {
            return entry->timestamp;
        }
    }
    return std::nullopt;
}

void appendFramed(std::vector<std::uint8_t>& packet, std::span<const std::uint8_t> nal, NalFraming framing)
{
    if (framing.annexB()) {
        packet.insert(packet.end(), kStartCode.begin(), kStartCode.end());
    } else {
        for (unsigned byte = framing.lengthSize; byte-- > 0;) {
            packet.push_back(static_cast<std::uint8_t>(nal.size() >> (8U * byte)));
        }
    }
    packet.insert(packet.end(), nal.begin(), nal.end());
}

bool fitsItsLength(std::uint64_t size, NalFraming framing)
{
    return framing.annexB() || framing.lengthSize >= sizeof(std::uint32_t) ||
           size < (std::uint64_t{1} << (8U * framing.lengthSize));
}

} // namespace

NalFraming nalFramingOf(const AVCodecParameters& parameters) noexcept
{
    if (parameters.extradata == nullptr || parameters.extradata_size < static_cast<int>(kHvcCFixedPartSize) ||
        parameters.extradata[0] != kHvcCVersion) {
        return {};
    }
    return NalFraming{(parameters.extradata[kLengthSizeByte] & 3U) + 1U};
}

PacketNalUnits scanPacketNalUnits(std::span<const std::uint8_t> data, std::int64_t position, NalFraming framing)
{
    PacketNalUnits units;
    if (position < 0) {
        return units;
    }
    const auto base = static_cast<std::uint64_t>(position);
    for (const hevc::NalUnitSpan& span : splitPacket(data, framing)) {
        const std::optional<hevc::NalUnitHeader> header =
            hevc::parseNalUnitHeader(data.subspan(static_cast<std::size_t>(span.offset)));
        if (!header || header->nuh_layer_id != 0) {
            continue;
        }
        if (hevc::isVcl(header->nal_unit_type) && !units.firstSliceOffset) {
            units.firstSliceOffset = base + span.offset;
            units.firstSliceNalUnitType = static_cast<std::uint8_t>(header->nal_unit_type);
        } else if (isParameterSet(header->nal_unit_type)) {
            units.parameterSets.push_back({base + span.offset, span.size});
        }
    }
    return units;
}

int seekToAccessUnit(AVFormatContext& input, int streamIndex, NalFraming framing, const AccessUnitStart& start,
                     AVPacket& firstPacket)
{
    if (streamIndex < 0 || static_cast<unsigned>(streamIndex) >= input.nb_streams) {
        return AVERROR(EINVAL);
    }
    int sought = 0;
    if (framing.annexB()) {
        sought = av_seek_frame(&input, streamIndex, static_cast<std::int64_t>(start.accessUnitOffset), AVSEEK_FLAG_BYTE);
    } else {
        const std::optional<std::int64_t> timestamp = sampleTimestampOf(*input.streams[streamIndex], start.firstSliceOffset);
        if (!timestamp) {
            return AVERROR(ESPIPE);
        }
        sought = av_seek_frame(&input, streamIndex, *timestamp, AVSEEK_FLAG_BACKWARD);
    }
    if (sought < 0) {
        return sought;
    }
    return readUpToAccessUnit(input, streamIndex, framing, start, firstPacket);
}

std::optional<std::vector<std::uint8_t>> readParameterSetPacket(const std::filesystem::path& path,
                                                                std::span<const FileSpan> spans, NalFraming framing)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> packet;
    std::vector<std::uint8_t> nal;
    for (const FileSpan& span : spans) {
        if (span.size == 0 || span.size > kLargestParameterSetBytes || !fitsItsLength(span.size, framing) ||
            span.offset > static_cast<std::uint64_t>(std::numeric_limits<std::streamoff>::max())) {
            return std::nullopt;
        }
        nal.resize(static_cast<std::size_t>(span.size));
        file.seekg(static_cast<std::streamoff>(span.offset));
        if (!file.read(reinterpret_cast<char*>(nal.data()), static_cast<std::streamsize>(nal.size()))) {
            return std::nullopt;
        }
        appendFramed(packet, nal, framing);
    }
    return packet;
}

bool fillPacket(AVPacket& packet, std::span<const std::uint8_t> bytes)
{
    av_packet_unref(&packet);
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() - AV_INPUT_BUFFER_PADDING_SIZE) ||
        av_new_packet(&packet, static_cast<int>(bytes.size())) < 0) {
        return false;
    }
    std::memcpy(packet.data, bytes.data(), bytes.size());
    return true;
}

} // namespace vexilo::ffmpeg
