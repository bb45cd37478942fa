// Builds RBSP bits for hand-made syntax in tests.
#pragma once

#include <cstdint>
#include <vector>

namespace vexilo::hevc::test {

class BitWriter {
public:
    BitWriter& u(unsigned bits, std::uint64_t value)
    {
        for (unsigned i = bits; i-- > 0;) {
            bit(static_cast<unsigned>((value >> i) & 1U));
        }
        return *this;
    }
    BitWriter& flag(bool value) { return u(1, value ? 1U : 0U); }
    BitWriter& ue(std::uint64_t value)
    {
        const std::uint64_t codeNum = value + 1U;
        unsigned length = 0;
        while ((codeNum >> (length + 1U)) != 0) {
            ++length;
        }
        u(length, 0);
        return u(length + 1U, codeNum);
    }
    BitWriter& se(std::int64_t value)
    {
        return ue(value > 0 ? static_cast<std::uint64_t>(2 * value - 1) : static_cast<std::uint64_t>(-2 * value));
    }
    // rbsp_trailing_bits()
    std::vector<std::uint8_t> finish()
    {
        bit(1);
        while (used_ != 0) {
            bit(0);
        }
        return bytes_;
    }

private:
    void bit(unsigned value)
    {
        if (used_ == 0) {
            bytes_.push_back(0);
        }
        bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (value << (7U - used_)));
        used_ = (used_ + 1U) % 8U;
    }
    std::vector<std::uint8_t> bytes_;
    unsigned used_ = 0;
};

} // namespace vexilo::hevc::test
