// The arithmetic decoding engine of CABAC (ITU-T H.265 9.3.4.3): regular, bypass and
// terminate bins over slice segment data, bit-exact with the standard's 9-bit register so
// that the read position is known exactly at end_of_subset_one_bit, pcm_flag and the end of
// the slice segment.
#pragma once

#include <array>
#include <bit>
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

namespace detail {
extern const std::array<std::array<std::uint8_t, 4>, 64> kRangeTabLps;
// Table 9-53 by [bin was the least probable symbol][pStateIdx]: transIdxMps, transIdxLps.
extern const std::array<std::array<std::uint8_t, 64>, 2> kTransIdx;
[[noreturn]] void throwEndOfSliceData();
} // namespace detail

// The engine decodes a bin or two per syntax element of every coefficient, so its hot paths
// live here to be inlined, and the slice data is read through a 64-bit window rather than
// bit by bit. The read position stays exact: it counts the bits the standard's 9-bit
// register has taken in.
class ArithmeticDecoder {
public:
    // `data` is the slice segment data; `bitPosition` where the engine starts reading.
    ArithmeticDecoder(std::span<const std::uint8_t> data, std::uint64_t bitPosition);

    // 9.3.2.5: ivlCurrRange = 510 and ivlOffset = read_bits(9) at the current position.
    void initialise();

    // Written without branches on the decoded bin, which a processor cannot predict: the
    // least probable symbol's case is selected with masks and one-step renormalisation.
    bool decodeDecision(ContextVariable& context)
    {
        const std::uint32_t pStateIdx = context.pStateIdx;
        const std::uint32_t valMps = context.valMps;
        std::uint32_t range = ivlCurrRange_;
        std::uint32_t offset = ivlOffset_;
        const std::uint32_t ivlLpsRange = detail::kRangeTabLps[pStateIdx][(range >> 6U) & 3U];
        range -= ivlLpsRange;
        const std::uint32_t isLps = offset >= range ? 1U : 0U;
        const std::uint32_t lpsMask = 0U - isLps;
        offset -= range & lpsMask;
        range ^= (range ^ ivlLpsRange) & lpsMask;
        context.pStateIdx = detail::kTransIdx[isLps][pStateIdx];
        context.valMps = static_cast<std::uint8_t>(valMps ^ (isLps & (pStateIdx == 0 ? 1U : 0U)));
        // As many doublings as bring the range back to 256 or more (none after most MPS bins).
        const auto shift = static_cast<unsigned>(std::countl_zero(range)) - kRangeLeadingZeros;
        ivlCurrRange_ = range << shift;
        ivlOffset_ = (offset << shift) | take(shift);
        return (valMps ^ isLps) != 0;
    }

    bool decodeBypass()
    {
        const std::uint32_t offset = (ivlOffset_ << 1U) | take(1);
        const std::uint32_t isOne = offset >= ivlCurrRange_ ? 1U : 0U;
        ivlOffset_ = offset - (ivlCurrRange_ & (0U - isOne));
        return isOne != 0;
    }

    // Most significant bin first. Decoding n bypass bins is a long division of the offset
    // followed by the next n bits by the range, so it is done as one, in chunks that keep
    // the dividend within 32 bits.
    std::uint32_t decodeBypassBits(unsigned count)
    {
        std::uint32_t value = 0;
        while (count > 0) {
            const unsigned chunk = count < kBypassChunk ? count : kBypassChunk;
            const std::uint32_t dividend = (ivlOffset_ << chunk) | take(chunk);
            const std::uint32_t quotient = dividend / ivlCurrRange_;
            ivlOffset_ = dividend - quotient * ivlCurrRange_;
            value = (value << chunk) | quotient;
            count -= chunk;
        }
        return value;
    }

    bool decodeTerminate();

    // 9.3.4.3.6: with cabac_bypass_alignment_enabled_flag, bypass bins of escape data start
    // from ivlCurrRange 256.
    void alignBypass() { ivlCurrRange_ = 256; }

    // Raw bits outside the arithmetic code: pcm_sample(), byte_alignment() and the trailing
    // bits after a terminate bin equal to 1. At most 32 at a time.
    std::uint32_t readBits(unsigned count) { return take(count); }
    // Skips raw bits (pcm_sample()); the caller has checked that they are there.
    void skipBits(std::uint64_t count) { seek(position_ + count); }
    [[nodiscard]] std::uint64_t bitPosition() const { return position_; }
    [[nodiscard]] std::uint64_t sizeBits() const { return sizeBits_; }
    [[nodiscard]] bool byteAligned() const { return (position_ & 7U) == 0; }

private:
    // A 9-bit range has 23 leading zero bits in 32 when it is 256 or more.
    static constexpr unsigned kRangeLeadingZeros = 23;
    static constexpr unsigned kWindowBits = 64;
    // A 9-bit offset followed by this many bits still fits in 32.
    static constexpr unsigned kBypassChunk = 16;

    // The next `count` bits (0 to 32), most significant first.
    std::uint32_t take(unsigned count)
    {
        if (windowBits_ < count) {
            refill();
            if (windowBits_ < count) {
                detail::throwEndOfSliceData();
            }
        }
        // Two shifts, so that a count of 0 takes nothing instead of shifting by 64.
        const auto bits = static_cast<std::uint32_t>((window_ >> 1U) >> (kWindowBits - 1U - count));
        window_ <<= count;
        windowBits_ -= count;
        position_ += count;
        return bits;
    }
    void refill();
    // Moves the read position, outside the arithmetic code's register.
    void seek(std::uint64_t bitPosition);

    std::span<const std::uint8_t> data_;
    std::uint64_t sizeBits_;
    std::uint64_t position_ = 0;
    std::uint64_t window_ = 0;   // the bits after position_, most significant first
    unsigned windowBits_ = 0;    // how many of them are valid
    std::size_t nextByte_ = 0;   // the first byte not yet in the window
    std::uint32_t ivlCurrRange_ = 510;
    std::uint32_t ivlOffset_ = 0;
};

} // namespace vexilo::hevc::cabac
