// The arithmetic decoding engine of CABAC (ITU-T H.265 9.3.4.3): regular, bypass and
// terminate bins over slice segment data, bit-exact with the standard's 9-bit register so
// that the read position is known exactly at end_of_subset_one_bit, pcm_flag and the end of
// the slice segment.
#pragma once

#include <cstdint>
#include <span>

namespace vexilo::hevc::cabac {

// One context variable (9.3.2.2): pStateIdx and valMps.
struct ContextVariable {
    std::uint8_t pStateIdx = 0;
    std::uint8_t valMps = 0;
};

// Table 9-52 rangeTabLps[pStateIdx][qRangeIdx] and Table 9-53 transIdxLps.
std::uint32_t rangeTabLps(unsigned pStateIdx, unsigned qRangeIdx);
std::uint8_t transIdxLps(unsigned pStateIdx);

class ArithmeticDecoder {
public:
    // `data` is the slice segment data; `bitPosition` where the engine starts reading.
    ArithmeticDecoder(std::span<const std::uint8_t> data, std::uint64_t bitPosition);

    // 9.3.2.5: ivlCurrRange = 510 and ivlOffset = read_bits(9) at the current position.
    void initialise();

    bool decodeDecision(ContextVariable& context);
    bool decodeBypass();
    std::uint32_t decodeBypassBits(unsigned count); // most significant bin first
    bool decodeTerminate();

    // 9.3.4.3.6: with cabac_bypass_alignment_enabled_flag, bypass bins of escape data start
    // from ivlCurrRange 256.
    void alignBypass() { ivlCurrRange_ = 256; }

    // Raw bits outside the arithmetic code: pcm_sample(), byte_alignment() and the trailing
    // bits after a terminate bin equal to 1.
    std::uint32_t readBits(unsigned count);
    [[nodiscard]] std::uint64_t bitPosition() const { return position_; }
    [[nodiscard]] std::uint64_t sizeBits() const { return sizeBits_; }
    [[nodiscard]] bool byteAligned() const { return (position_ & 7U) == 0; }

private:
    std::uint32_t readBit();

    std::span<const std::uint8_t> data_;
    std::uint64_t sizeBits_;
    std::uint64_t position_;
    std::uint32_t ivlCurrRange_ = 510;
    std::uint32_t ivlOffset_ = 0;
};

} // namespace vexilo::hevc::cabac
