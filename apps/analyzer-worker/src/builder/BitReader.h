#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vexilo::analyzer {

// Reads an SEI payload bit by bit, most significant bit first.
class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> bytes) noexcept : bytes_(bytes) {}

    // n from 0 to 64; fails (without moving) when n is above 64 or fewer bits are left.
    [[nodiscard]] std::optional<std::uint64_t> readBits(unsigned n) noexcept;
    // ue(v) with at most 31 leading zero bits; bits consumed before a failure stay consumed.
    [[nodiscard]] std::optional<std::uint64_t> readUe() noexcept;
    // se(v).
    [[nodiscard]] std::optional<std::int64_t> readSe() noexcept;
    // i(n): n bits, sign-extended from bit n - 1.
    [[nodiscard]] std::optional<std::int64_t> readSigned(unsigned n) noexcept;

    [[nodiscard]] std::uint64_t bitsLeft() const noexcept { return bytes_.size() * 8 - position_; }

private:
    bool readBit(std::uint64_t& bit) noexcept;

    std::span<const std::uint8_t> bytes_;
    std::uint64_t position_ = 0;
};

// n bytes (0 to 8) at a byte offset, big-endian; empty when n is above 8 or the bytes
// run past the end.
[[nodiscard]] std::optional<std::uint64_t> readBigEndianValue(std::span<const std::uint8_t> bytes, std::size_t offset,
                                                              std::size_t n) noexcept;

}  // namespace vexilo::analyzer
