#include "builder/BitReader.h"

namespace vexilo::analyzer {
namespace {

constexpr unsigned kMaxBits = 64;
constexpr unsigned kMaxLeadingZeros = 31;
constexpr std::size_t kMaxValueBytes = 8;

}  // namespace

bool BitReader::readBit(std::uint64_t& bit) noexcept
{
    if (bitsLeft() == 0) {
        return false;
    }
    const std::uint8_t byte = bytes_[position_ / 8];
    bit = (byte >> (7 - position_ % 8)) & 1u;
    ++position_;
    return true;
}

std::optional<std::uint64_t> BitReader::readBits(unsigned n) noexcept
{
    if (n > kMaxBits || n > bitsLeft()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (unsigned i = 0; i < n; ++i) {
        std::uint64_t bit = 0;
        readBit(bit);
        value = (value << 1) | bit;
    }
    return value;
}

std::optional<std::uint64_t> BitReader::readUe() noexcept
{
    unsigned zeros = 0;
    for (;;) {
        std::uint64_t bit = 0;
        if (!readBit(bit)) {
            return std::nullopt;
        }
        if (bit == 1) {
            break;
        }
        if (++zeros > kMaxLeadingZeros) {
            return std::nullopt;
        }
    }
    const std::optional<std::uint64_t> suffix = readBits(zeros);
    if (!suffix) {
        return std::nullopt;
    }
    return ((std::uint64_t{1} << zeros) - 1) + *suffix;
}

std::optional<std::int64_t> BitReader::readSe() noexcept
{
    const std::optional<std::uint64_t> codeNum = readUe();
    if (!codeNum) {
        return std::nullopt;
    }
    const auto k = static_cast<std::int64_t>(*codeNum);
    return (k % 2 == 1) ? (k + 1) / 2 : -(k / 2);
}

std::optional<std::int64_t> BitReader::readSigned(unsigned n) noexcept
{
    const std::optional<std::uint64_t> bits = readBits(n);
    if (!bits) {
        return std::nullopt;
    }
    if (n == 0 || n == kMaxBits) {
        return static_cast<std::int64_t>(*bits);
    }
    const std::uint64_t signBit = std::uint64_t{1} << (n - 1);
    return static_cast<std::int64_t>(*bits ^ signBit) - static_cast<std::int64_t>(signBit);
}

std::optional<std::uint64_t> readBigEndianValue(std::span<const std::uint8_t> bytes, std::size_t offset,
                                                std::size_t n) noexcept
{
    if (n > kMaxValueBytes || offset > bytes.size() || n > bytes.size() - offset) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        value = (value << 8) | bytes[offset + i];
    }
    return value;
}

}  // namespace vexilo::analyzer
