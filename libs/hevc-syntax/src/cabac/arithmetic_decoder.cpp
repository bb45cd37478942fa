#include "cabac/arithmetic_decoder.h"

#include "bit_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace vexilo::hevc::cabac {
namespace {

// std::byteswap is C++23.
std::uint64_t byteSwap(std::uint64_t value)
{
    return __builtin_bswap64(value);
}

} // namespace

namespace detail {

// Table 9-52, rangeTabLps[pStateIdx][qRangeIdx].
constexpr std::array<std::array<std::uint8_t, 4>, 64> kRangeTabLps{{
    {128, 176, 208, 240}, {128, 167, 197, 227}, {128, 158, 187, 216}, {123, 150, 178, 205},
    {116, 142, 169, 195}, {111, 135, 160, 185}, {105, 128, 152, 175}, {100, 122, 144, 166},
    {95, 116, 137, 158},  {90, 110, 130, 150},  {85, 104, 123, 142},  {81, 99, 117, 135},
    {77, 94, 111, 128},   {73, 89, 105, 122},   {69, 85, 100, 116},   {66, 80, 95, 110},
    {62, 76, 90, 104},    {59, 72, 86, 99},     {56, 69, 81, 94},     {53, 65, 77, 89},
    {51, 62, 73, 85},     {48, 59, 69, 80},     {46, 56, 66, 76},     {43, 53, 63, 72},
    {41, 50, 59, 69},     {39, 48, 56, 65},     {37, 45, 54, 62},     {35, 43, 51, 59},
    {33, 41, 48, 56},     {32, 39, 46, 53},     {30, 37, 43, 50},     {29, 35, 41, 48},
    {27, 33, 39, 45},     {26, 31, 37, 43},     {24, 30, 35, 41},     {23, 28, 33, 39},
    {22, 27, 32, 37},     {21, 26, 30, 35},     {20, 24, 29, 33},     {19, 23, 27, 31},
    {18, 22, 26, 30},     {17, 21, 25, 28},     {16, 20, 23, 27},     {15, 19, 22, 25},
    {14, 18, 21, 24},     {14, 17, 20, 23},     {13, 16, 19, 22},     {12, 15, 18, 21},
    {12, 14, 17, 20},     {11, 14, 16, 19},     {11, 13, 15, 18},     {10, 12, 15, 17},
    {10, 12, 14, 16},     {9, 11, 13, 15},      {9, 11, 12, 14},      {8, 10, 12, 14},
    {8, 9, 11, 13},       {7, 9, 11, 12},       {7, 9, 10, 12},       {7, 8, 10, 11},
    {6, 8, 9, 11},        {6, 7, 9, 10},        {6, 7, 8, 9},         {2, 2, 2, 2},
}};

// Table 9-53: transIdxMps is pStateIdx + 1 up to 62, where the states saturate.
constexpr std::array<std::array<std::uint8_t, 64>, 2> kTransIdx = [] {
    std::array<std::array<std::uint8_t, 64>, 2> next{{
        {},
        {0,  0,  1,  2,  2,  4,  4,  5,  6,  7,  8,  9,  9,  11, 11, 12, 13, 13, 15, 15, 16, 16,
         18, 18, 19, 19, 21, 21, 22, 22, 23, 24, 24, 25, 26, 26, 27, 27, 28, 29, 29, 30, 30, 30,
         31, 32, 32, 33, 33, 33, 34, 34, 35, 35, 35, 36, 36, 36, 37, 37, 37, 38, 38, 63},
    }};
    for (std::size_t p = 0; p < next[0].size(); ++p) {
        next[0][p] = static_cast<std::uint8_t>(p < 62 ? p + 1 : p);
    }
    return next;
}();

constexpr std::array<std::array<std::uint8_t, 4>, 128> kRangeTabLpsByState = [] {
    std::array<std::array<std::uint8_t, 4>, 128> byState{};
    for (std::size_t state = 0; state < byState.size(); ++state) {
        byState[state] = kRangeTabLps[state >> 1U];
    }
    return byState;
}();

constexpr std::array<std::array<std::uint8_t, 128>, 2> kNextState = [] {
    std::array<std::array<std::uint8_t, 128>, 2> next{};
    for (unsigned isLps = 0; isLps < 2; ++isLps) {
        for (unsigned state = 0; state < 128; ++state) {
            const unsigned pStateIdx = state >> 1U;
            const unsigned valMps = (state & 1U) ^ (isLps != 0 && pStateIdx == 0 ? 1U : 0U);
            next[isLps][state] = static_cast<std::uint8_t>((unsigned{kTransIdx[isLps][pStateIdx]} << 1U) | valMps);
        }
    }
    return next;
}();

void throwEndOfSliceData()
{
    throw SyntaxError("slice segment data ends inside the arithmetic code");
}

} // namespace detail

std::uint32_t rangeTabLps(unsigned pStateIdx, unsigned qRangeIdx)
{
    return detail::kRangeTabLps[pStateIdx][qRangeIdx];
}

std::uint8_t transIdxLps(unsigned pStateIdx)
{
    return detail::kTransIdx[1][pStateIdx];
}

ArithmeticDecoder::ArithmeticDecoder(std::span<const std::uint8_t> data, std::uint64_t bitPosition)
    : data_(data), sizeBits_(static_cast<std::uint64_t>(data.size()) * 8U)
{
    seek(bitPosition);
}

void ArithmeticDecoder::refillFor(unsigned count)
{
    refill();
    if (lookahead_ < count) {
        detail::throwEndOfSliceData();
    }
}

void ArithmeticDecoder::refill()
{
    // Whole bytes only, as long as the register and the look-ahead fit in 64 bits.
    const unsigned room = (kValueBits - kRegisterBits - lookahead_) / 8U;
    if (room == 0) {
        return;
    }
    if (data_.size() - nextByte_ >= sizeof(std::uint64_t)) {
        std::uint64_t next = 0;
        std::memcpy(&next, data_.data() + nextByte_, sizeof(next));
        if constexpr (std::endian::native == std::endian::little) {
            next = byteSwap(next);
        }
        const unsigned bits = room * 8U;
        value_ = (value_ << bits) | (next >> (kValueBits - bits));
        lookahead_ += bits;
        nextByte_ += room;
        return;
    }
    for (unsigned byte = 0; byte < room && nextByte_ < data_.size(); ++byte) {
        value_ = (value_ << 8U) | data_[nextByte_++];
        lookahead_ += 8;
    }
}

void ArithmeticDecoder::seek(std::uint64_t bitPosition)
{
    const std::uint64_t position = std::min(bitPosition, sizeBits_);
    nextByte_ = static_cast<std::size_t>(position >> 3U);
    value_ = 0;
    lookahead_ = 0;
    const auto within = static_cast<unsigned>(position & 7U);
    if (within != 0) {
        // The rest of a byte the position falls inside; the bits before it stay behind.
        value_ = data_[nextByte_++] & ((1U << (8U - within)) - 1U);
        lookahead_ = 8U - within;
    }
}

void ArithmeticDecoder::initialise()
{
    ivlCurrRange_ = 510;
    if (lookahead_ < kRegisterBits) {
        refillFor(kRegisterBits);
    }
    // Raw reads before may have left bits above the look-ahead.
    value_ &= lookaheadMask();
    lookahead_ -= kRegisterBits;
    // 9.3.2.5: a conforming stream never starts with an offset of 510 or 511.
    require((value_ >> lookahead_) < 510, "ivlOffset at arithmetic decoder initialisation is 510 or 511");
}

bool ArithmeticDecoder::decodeTerminate()
{
    ivlCurrRange_ -= 2;
    const std::uint64_t scaledRange = std::uint64_t{ivlCurrRange_} << lookahead_;
    if (value_ >= scaledRange) {
        // No renormalisation: the arithmetic code ends here. Its last bit, already in the
        // register, is the one the syntax goes on with (rbsp_stop_one_bit,
        // alignment_bit_equal_to_one, or the bit in front of pcm_alignment_zero_bit), so it is
        // handed back to the raw bit reading.
        seek(bitPosition() - 1);
        return true;
    }
    if (ivlCurrRange_ < 256) {
        ivlCurrRange_ <<= 1U;
        takeIntoRegister(1);
    }
    return false;
}

} // namespace vexilo::hevc::cabac
