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

// One context variable (9.3.2.2): pStateIdx and valMps kept as one value,
// (pStateIdx << 1) | valMps, so that a bin reads and writes a single value. Not a byte: a
// store through a character type may alias anything, so the compiler would reload the
// engine's registers from memory after every bin.
struct ContextVariable {
    std::uint16_t state = 0;

    static constexpr ContextVariable of(unsigned pStateIdx, unsigned valMps)
    {
        return ContextVariable{static_cast<std::uint16_t>((pStateIdx << 1U) | (valMps & 1U))};
    }
    [[nodiscard]] constexpr unsigned pStateIdx() const { return state >> 1U; }
    [[nodiscard]] constexpr unsigned valMps() const { return state & 1U; }
};

// Table 9-52 rangeTabLps[pStateIdx][qRangeIdx] and Table 9-53 transIdxLps.
std::uint32_t rangeTabLps(unsigned pStateIdx, unsigned qRangeIdx);
std::uint8_t transIdxLps(unsigned pStateIdx);

namespace detail {
extern const std::array<std::array<std::uint8_t, 4>, 64> kRangeTabLps;
// Table 9-53 by [bin was the least probable symbol][pStateIdx]: transIdxMps, transIdxLps.
extern const std::array<std::array<std::uint8_t, 64>, 2> kTransIdx;
// The same two tables by ContextVariable::state: rangeTabLps, and the next state with
// valMps flipped where 9.3.4.3.2 flips it.
extern const std::array<std::array<std::uint8_t, 4>, 128> kRangeTabLpsByState;
extern const std::array<std::array<std::uint8_t, 128>, 2> kNextState;
[[noreturn]] void throwEndOfSliceData();
} // namespace detail

// The engine decodes a bin or two per syntax element of every coefficient, so its hot paths
// live here to be inlined. The 9-bit register is kept scaled: `value_` holds ivlOffset
// followed by `lookahead_` bits of slice data already read, so renormalisation only counts
// bits (nothing moves) and the data is read a 64-bit word at a time. The read position stays
// exact: the bits the standard's register has taken in are those before the look-ahead.
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
        const std::uint32_t state = context.state;
        std::uint32_t range = ivlCurrRange_;
        const std::uint32_t ivlLpsRange = detail::kRangeTabLpsByState[state][(range >> 6U) & 3U];
        range -= ivlLpsRange;
        const std::uint64_t scaledRange = std::uint64_t{range} << lookahead_;
        const std::uint32_t isLps = value_ >= scaledRange ? 1U : 0U;
        value_ -= scaledRange & (0U - std::uint64_t{isLps});
        range ^= (range ^ ivlLpsRange) & (0U - isLps);
        context.state = detail::kNextState[isLps][state];
        // As many doublings as bring the range back to 256 or more (none after most MPS bins).
        const auto shift = static_cast<unsigned>(std::countl_zero(range)) - kRangeLeadingZeros;
        ivlCurrRange_ = range << shift;
        takeIntoRegister(shift);
        return ((state & 1U) ^ isLps) != 0;
    }

    bool decodeBypass()
    {
        takeIntoRegister(1);
        const std::uint64_t scaledRange = std::uint64_t{ivlCurrRange_} << lookahead_;
        const bool isOne = value_ >= scaledRange;
        value_ -= scaledRange & (0U - std::uint64_t{isOne});
        return isOne;
    }

    // Most significant bin first. Decoding n bypass bins is a long division of the offset
    // followed by the next n bits by the range, so it is done as one.
    std::uint32_t decodeBypassBits(unsigned count)
    {
        if (count == 0) {
            return 0;
        }
        takeIntoRegister(count);
        // The offset followed by `count` bits has at most 9 + 32 bits.
        const std::uint64_t dividend = value_ >> lookahead_;
        const std::uint64_t quotient = dividend / ivlCurrRange_;
        value_ = ((dividend - quotient * ivlCurrRange_) << lookahead_) | (value_ & lookaheadMask());
        return static_cast<std::uint32_t>(quotient);
    }

    bool decodeTerminate();

    // 9.3.4.3.6: with cabac_bypass_alignment_enabled_flag, bypass bins of escape data start
    // from ivlCurrRange 256.
    void alignBypass() { ivlCurrRange_ = 256; }

    // Raw bits outside the arithmetic code: pcm_sample(), byte_alignment() and the trailing
    // bits after a terminate bin equal to 1. At most 32 at a time.
    std::uint32_t readBits(unsigned count)
    {
        takeIntoRegister(count);
        const std::uint64_t mask = (std::uint64_t{1} << count) - 1U;
        return static_cast<std::uint32_t>((value_ >> lookahead_) & mask);
    }
    // Skips raw bits (pcm_sample()); the caller has checked that they are there.
    void skipBits(std::uint64_t count) { seek(bitPosition() + count); }
    [[nodiscard]] std::uint64_t bitPosition() const { return std::uint64_t{nextByte_} * 8U - lookahead_; }
    [[nodiscard]] std::uint64_t sizeBits() const { return sizeBits_; }
    [[nodiscard]] bool byteAligned() const { return (lookahead_ & 7U) == 0; }

private:
    // A 9-bit range has 23 leading zero bits in 32 when it is 256 or more.
    static constexpr unsigned kRangeLeadingZeros = 23;
    static constexpr unsigned kValueBits = 64;
    static constexpr unsigned kRegisterBits = 9;

    // The register takes in the next `count` bits (0 to 32): they stop being look-ahead.
    void takeIntoRegister(unsigned count)
    {
        if (lookahead_ < count) [[unlikely]] {
            refillFor(count);
        }
        lookahead_ -= count;
    }
    [[nodiscard]] std::uint64_t lookaheadMask() const { return (std::uint64_t{1} << lookahead_) - 1U; }
    // Reads ahead until at least `count` bits are there, or throws at the end of the data.
    void refillFor(unsigned count);
    void refill();
    // Moves the read position, outside the arithmetic code's register.
    void seek(std::uint64_t bitPosition);

    std::span<const std::uint8_t> data_;
    std::uint64_t sizeBits_;
    // ivlOffset << lookahead_, followed by the look-ahead bits. Raw bit reads leave bits
    // above the register that initialise() clears.
    std::uint64_t value_ = 0;
    unsigned lookahead_ = 0;     // bits read from the data but not yet taken in
    std::size_t nextByte_ = 0;   // the first byte not yet read
    std::uint32_t ivlCurrRange_ = 510;
};

} // namespace vexilo::hevc::cabac
