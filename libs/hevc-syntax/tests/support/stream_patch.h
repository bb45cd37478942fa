// Surgery on real streams for the tests of damaged and out-of-range syntax: one element of one
// NAL unit re-encoded with another value, the rest of the stream left as it was.
#pragma once

#include "nal_unit.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <span>
#include <vector>

namespace vexilo::hevc::test {

using StreamBytes = std::vector<std::uint8_t>;

// The first NAL unit of `nalUnitType` in an Annex-B stream.
std::optional<NalUnitSpan> firstNalUnitOfType(std::span<const std::uint8_t> stream, std::uint32_t nalUnitType);

// The RBSP of a NAL unit: its bytes behind the two-byte header, emulation prevention removed.
StreamBytes rbspOf(std::span<const std::uint8_t> stream, const NalUnitSpan& nal);

// Bits from the NAL unit's first byte to bit `rbspBit` of its RBSP, counting the header and
// the emulation prevention bytes on the way, as a reader of the file counts them.
std::uint64_t nalBitOf(std::span<const std::uint8_t> stream, const NalUnitSpan& nal, std::uint64_t rbspBit);

// `rbsp` with the ue(v) element that starts at `bitPosition` coded as `value` instead;
// everything up to rbsp_stop_one_bit follows it unchanged, then new trailing bits.
StreamBytes withUe(std::span<const std::uint8_t> rbsp, std::uint64_t bitPosition, std::uint32_t value);

// The stream with the NAL unit's RBSP replaced (escaped again behind the same header).
StreamBytes withRbsp(std::span<const std::uint8_t> stream, const NalUnitSpan& nal, std::span<const std::uint8_t> rbsp);

// The stream with a copy of the NAL unit right after it (behind a four-byte start code),
// carrying `rbsp` instead of its own. Returns the copy's place in `placed`.
StreamBytes withCopyAfter(std::span<const std::uint8_t> stream, const NalUnitSpan& nal,
                          std::span<const std::uint8_t> rbsp, NalUnitSpan& placed);

// Where the sub-layer ordering of an SPS with one sub-layer (as x265 and the reference
// encoder write them) starts: sps_max_dec_pic_buffering_minus1[0] and the RBSP bit of
// sps_max_num_reorder_pics[0] behind it. Read by hand, not by the parser under test.
struct SpsReorderField {
    std::uint32_t maxDecPicBufferingMinus1 = 0;
    std::uint64_t bitPosition = 0;
};
SpsReorderField locateSpsReorderField(std::span<const std::uint8_t> spsRbsp);

// The stream with its first SPS saying sps_max_num_reorder_pics[0] is one above
// sps_max_dec_pic_buffering_minus1[0], which decoders accept. `field` receives the
// original SPS's values.
StreamBytes withReorderAboveTheDpb(std::span<const std::uint8_t> stream, SpsReorderField& field);

// The stream raised to deeper samples, as a stream of the 16-bit profiles: every SPS says
// `bitDepthLuma` and `bitDepthChroma`, the bit-depth constraint flags of every VPS and SPS
// (max_12bit, max_10bit, max_8bit) are cleared, and with `extendedPrecision` every SPS gains a
// range extension that sets extended_precision_processing_flag alone (an SPS that has
// extensions already is refused). Suffix SEI NAL units are left out: the picture hashes they
// carry were taken at the source's depth. Nothing else changes, slice data included, so the
// source must be one whose slice data read the same at the new depths: no SAO offsets when it
// has fewer than 10 bits (their length grows with the depth up to 10), and, with
// `extendedPrecision`, no coefficient level large enough to reach the escape of its limited
// binarisation. Streams of one sub-layer.
struct SampleBitDepths {
    std::uint32_t luma = 16;
    std::uint32_t chroma = 16;
};
StreamBytes withSampleBitDepths(std::span<const std::uint8_t> stream, SampleBitDepths depths, bool extendedPrecision);

// Valid streams FFmpeg's HEVC decoder refuses for their sample depths, made from streams kept
// for the tests: Main 4:4:4 16 Intra from the reference encoder's 4:4:4 12-bit intra stream,
// 4:0:0 16-bit with extended precision from the 4:0:0 8-bit stream without SAO, and one whose
// chroma is deeper than its luma.
struct DeepSampleStream {
    const char* name;
    std::filesystem::path source;
    SampleBitDepths depths;
    bool extendedPrecision = false;
};
std::vector<DeepSampleStream> deepSampleStreams();
inline void PrintTo(const DeepSampleStream& stream, std::ostream* out) { *out << stream.name; }

// Writes the stream as `directory`/<name>.hevc and returns that path.
std::filesystem::path writeDeepSampleStream(const DeepSampleStream& stream, const std::filesystem::path& directory);

} // namespace vexilo::hevc::test
