// Bit-level reading of RBSP data (ITU-T H.265 7.2, 7.3.1.1, 9.2).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexilo::hevc {

// Thrown inside the syntax parsers when the bitstream ends early or a value is out of its
// allowed range; every parser entry point catches it and turns it into a parse status.
// The parser's messages start with the syntax element or variable they are about, so the
// element is read off the message. A range check knows where its element starts in the
// RBSP; other failures leave the position to the entry point, which knows where the
// reader stood.
class SyntaxError : public std::runtime_error {
public:
    explicit SyntaxError(const std::string& message, std::optional<std::uint64_t> bitPosition = std::nullopt);

    // Empty when the message names no element (the data ended, a structure is missing).
    [[nodiscard]] const std::string& element() const { return element_; }
    [[nodiscard]] std::optional<std::uint64_t> bitPosition() const { return bitPosition_; }

private:
    std::string element_;
    std::optional<std::uint64_t> bitPosition_;
};

// Where a refused structure went wrong: the element (or derived variable) at fault and the
// RBSP bit at which it starts, or at which the parser stood when it gave up.
struct SyntaxFault {
    std::string element;
    std::uint64_t bitPosition = 0;
};

// Fails the current parse with `message` unless `condition` holds.
void require(bool condition, const char* message);

// A NAL unit's payload with emulation_prevention_three_byte removed. The removed positions
// are kept so that byte positions in the RBSP can be mapped back to NAL unit bytes (entry
// point offsets count the emulation prevention bytes).
struct Rbsp {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint64_t> removedNalPositions; // positions in the escaped input

    // Position in the escaped input of the RBSP byte at `rbspPosition`.
    [[nodiscard]] std::uint64_t toNalPosition(std::uint64_t rbspPosition) const;
};

Rbsp unescapeRbsp(std::span<const std::uint8_t> escaped);

class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> rbsp);

    std::uint32_t u(unsigned bits); // u(n), n <= 32
    bool flag() { return u(1) != 0; }
    std::uint32_t ue();             // ue(v), 0 .. 2^32 - 2
    std::int32_t se();              // se(v)
    std::uint32_t ueMax(std::uint32_t maximum, const char* name);
    std::int32_t seRange(std::int32_t minimum, std::int32_t maximum, const char* name);
    void skipBits(std::uint64_t bits);

    [[nodiscard]] bool byteAligned() const { return (position_ & 7U) == 0; }
    [[nodiscard]] std::uint64_t position() const { return position_; }
    [[nodiscard]] std::uint64_t bitsLeft() const { return sizeBits_ - position_; }
    [[nodiscard]] bool more_rbsp_data() const;
    void byte_alignment(); // alignment_bit_equal_to_one followed by zero bits

private:
    std::span<const std::uint8_t> data_;
    std::uint64_t sizeBits_;
    std::uint64_t position_ = 0;
};

// The fault of `error`, thrown while `reader` was reading the structure.
[[nodiscard]] SyntaxFault faultOf(const SyntaxError& error, const BitReader& reader);

// Ceil(Log2(value)) for value >= 1, as the H.265 syntax uses for u(v) lengths.
unsigned ceilLog2(std::uint64_t value);

} // namespace vexilo::hevc
