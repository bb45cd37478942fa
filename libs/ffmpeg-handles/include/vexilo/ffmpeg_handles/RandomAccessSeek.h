// What a decode that starts at a random-access picture needs of the input, in both programs:
// where each packet's pictures lie in the file, and the demuxer put at the access unit of one
// picture, with the parameter sets that came before it gathered into a packet of their own.
//
// A picture is named by the file position of its first slice segment's NAL unit header: the
// same number whether the file is read from its start or from any access unit on, in an
// elementary stream as in a container.
#pragma once

#include "vexilo/ffmpeg_handles/FFmpegHandles.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace vexilo::ffmpeg {

// How packets frame their NAL units: start codes, or big-endian lengths of `lengthSize` bytes
// (an hvcC configuration record, as MP4 and MOV carry it).
struct NalFraming {
    unsigned lengthSize = 0;  // 0: Annex-B start codes

    [[nodiscard]] bool annexB() const noexcept { return lengthSize == 0; }
};

[[nodiscard]] NalFraming nalFramingOf(const AVCodecParameters& parameters) noexcept;

struct FileSpan {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;

    friend bool operator==(const FileSpan&, const FileSpan&) = default;
};

// What one packet holds, in file positions.
struct PacketNalUnits {
    // The NAL unit header of the first slice segment of the base layer; absent when the packet
    // has none or its position is unknown.
    std::optional<std::uint64_t> firstSliceOffset;
    std::uint8_t firstSliceNalUnitType = 0;
    // VPS, SPS and PPS NAL units, header included, start codes and lengths not.
    std::vector<FileSpan> parameterSets;
};

// `position` is the packet's position in the file (AVPacket::pos); -1 when unknown.
[[nodiscard]] PacketNalUnits scanPacketNalUnits(std::span<const std::uint8_t> data, std::int64_t position,
                                                NalFraming framing);

// The access unit a decode starts at: where it begins (an elementary stream is entered there)
// and its first slice segment (which names its picture, and finds its sample in a container).
struct AccessUnitStart {
    std::uint64_t accessUnitOffset = 0;
    std::uint64_t firstSliceOffset = 0;
};

// Puts the demuxer at the access unit and reads its packet into `firstPacket`: a byte seek in an
// elementary stream, a seek to the sample that holds it in a container, and packets before it
// read past. A negative AVERROR when the input cannot be entered there; the demuxer then stands
// anywhere.
[[nodiscard]] int seekToAccessUnit(AVFormatContext& input, int streamIndex, NalFraming framing,
                                   const AccessUnitStart& start, AVPacket& firstPacket);

// The NAL units of `spans`, read from the file and framed as the stream frames them: a packet
// the decoder takes ahead of an access unit whose parameter sets came earlier in the stream.
// Empty when a span cannot be read.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> readParameterSetPacket(const std::filesystem::path& path,
                                                                              std::span<const FileSpan> spans,
                                                                              NalFraming framing);

// The packet's bytes, copied into `packet` (which owns them afterwards); false when FFmpeg has
// no memory for them.
[[nodiscard]] bool fillPacket(AVPacket& packet, std::span<const std::uint8_t> bytes);

} // namespace vexilo::ffmpeg
