// What FFmpeg's HEVC decoder does not decode, told from a stream's own parameter sets. FFmpeg's
// SPS parser refuses such a stream outright: its probe then finds no size or pixel format, and
// its decoder rejects every packet as if the packet were damaged, although the stream is valid.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

extern "C" {
struct AVCodecParameters;
}

namespace vexilo::ffmpeg {

struct UndecodableHevcFormat {
    std::string_view reason;  // a fixed sentence: what this build's FFmpeg does not decode
    std::uint32_t bitDepthLuma = 0;
    std::uint32_t bitDepthChroma = 0;

    // "bitDepthLuma=16; bitDepthChroma=16"
    [[nodiscard]] std::string detail() const;
};

// The first SPS among the NAL units of an Annex-B buffer or of an HEVC decoder configuration
// record that this build's FFmpeg cannot decode; empty when every SPS there is one it decodes,
// or none can be read.
[[nodiscard]] std::optional<UndecodableHevcFormat> findUndecodableHevcFormat(
    std::span<const std::uint8_t> parameterSets);

// The same for a probed stream, read from its extradata; empty when the probe found coded
// dimensions, that is when FFmpeg took the stream's SPS.
[[nodiscard]] std::optional<UndecodableHevcFormat> findUndecodableHevcFormat(const AVCodecParameters& parameters);

} // namespace vexilo::ffmpeg
