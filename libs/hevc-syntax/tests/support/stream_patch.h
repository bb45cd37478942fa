// Surgery on real streams for the tests of damaged and out-of-range syntax: one element of one
// NAL unit re-encoded with another value, the rest of the stream left as it was.
#pragma once

#include "nal_unit.h"

#include <cstdint>
#include <optional>
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

} // namespace vexilo::hevc::test
