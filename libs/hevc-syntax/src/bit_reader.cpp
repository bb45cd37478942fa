#include "bit_reader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace vexilo::hevc {

namespace {
constexpr const char* kEndOfData = "bitstream ends inside a syntax element";
constexpr unsigned kMaxLeadingZeroBits = 31;

bool isNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Syntax elements are snake_case (scaling_list_dc_coef_minus8), derived variables CamelCase
// with an inner capital (CtbLog2SizeY); plain words and abbreviations (IRAP, PCM) are not names.
bool isSyntaxName(std::string_view word)
{
    if (word.empty() || !std::all_of(word.begin(), word.end(), isNameCharacter)) {
        return false;
    }
    const bool snakeCase = word.find('_') != std::string_view::npos;
    const bool hasLower = std::any_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; });
    const bool innerCapital = std::any_of(word.begin() + 1, word.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    return snakeCase || (hasLower && innerCapital);
}

std::string leadingSyntaxName(std::string_view message)
{
    const std::string_view word = message.substr(0, message.find(' '));
    return isSyntaxName(word) ? std::string(word) : std::string();
}
} // namespace

SyntaxError::SyntaxError(const std::string& message, std::optional<std::uint64_t> bitPosition)
    : std::runtime_error(message), element_(leadingSyntaxName(message)), bitPosition_(bitPosition)
{
}

SyntaxFault faultOf(const SyntaxError& error, const BitReader& reader)
{
    return SyntaxFault{error.element(), error.bitPosition().value_or(reader.position())};
}

void require(bool condition, const char* message)
{
    if (!condition) {
        throw SyntaxError(message);
    }
}

std::uint64_t Rbsp::toNalPosition(std::uint64_t rbspPosition) const
{
    // Each removed byte before the target shifts it one further in the escaped input.
    std::uint64_t nalPosition = rbspPosition;
    for (const std::uint64_t removed : removedNalPositions) {
        if (removed > nalPosition) {
            break;
        }
        ++nalPosition;
    }
    return nalPosition;
}

Rbsp unescapeRbsp(std::span<const std::uint8_t> escaped)
{
    Rbsp rbsp;
    rbsp.bytes.reserve(escaped.size());
    const std::uint8_t* data = escaped.data();
    unsigned zeroRun = 0;
    std::size_t i = 0;
    while (i < escaped.size()) {
        if (zeroRun == 0) {
            // Up to the next zero byte nothing can be an emulation prevention byte: copied in
            // one piece, found with memchr, as slice data has few zero bytes.
            const auto* zero = static_cast<const std::uint8_t*>(std::memchr(data + i, 0, escaped.size() - i));
            const std::size_t end = zero == nullptr ? escaped.size() : static_cast<std::size_t>(zero - data);
            rbsp.bytes.insert(rbsp.bytes.end(), data + i, data + end);
            i = end;
            if (i == escaped.size()) {
                break;
            }
        }
        const std::uint8_t byte = data[i++];
        if (zeroRun >= 2 && byte == 0x03) {
            rbsp.removedNalPositions.push_back(i - 1);
            zeroRun = 0;
            continue;
        }
        rbsp.bytes.push_back(byte);
        zeroRun = byte == 0 ? zeroRun + 1 : 0;
    }
    return rbsp;
}

BitReader::BitReader(std::span<const std::uint8_t> rbsp)
    : data_(rbsp), sizeBits_(static_cast<std::uint64_t>(rbsp.size()) * 8U)
{
}

std::uint32_t BitReader::u(unsigned bits)
{
    require(bits <= 32, "bit count above 32");
    require(bitsLeft() >= bits, kEndOfData);
    std::uint32_t value = 0;
    for (unsigned i = 0; i < bits; ++i) {
        const std::uint8_t byte = data_[static_cast<std::size_t>(position_ >> 3U)];
        const unsigned bit = (byte >> (7U - (position_ & 7U))) & 1U;
        value = (value << 1U) | bit;
        ++position_;
    }
    return value;
}

std::uint32_t BitReader::ue()
{
    unsigned leadingZeroBits = 0;
    while (u(1) == 0) {
        ++leadingZeroBits;
        require(leadingZeroBits <= kMaxLeadingZeroBits, "Exp-Golomb code longer than 32 bits");
    }
    if (leadingZeroBits == 0) {
        return 0;
    }
    const std::uint64_t suffix = u(leadingZeroBits);
    return static_cast<std::uint32_t>((std::uint64_t{1} << leadingZeroBits) - 1U + suffix);
}

std::int32_t BitReader::se()
{
    const std::uint64_t k = ue();
    const auto magnitude = static_cast<std::int64_t>((k + 1U) / 2U);
    return static_cast<std::int32_t>((k & 1U) != 0 ? magnitude : -magnitude);
}

std::uint32_t BitReader::ueMax(std::uint32_t maximum, const char* name)
{
    const std::uint64_t start = position_;
    const std::uint32_t value = ue();
    if (value > maximum) {
        throw SyntaxError(name, start);
    }
    return value;
}

std::int32_t BitReader::seRange(std::int32_t minimum, std::int32_t maximum, const char* name)
{
    const std::uint64_t start = position_;
    const std::int32_t value = se();
    if (value < minimum || value > maximum) {
        throw SyntaxError(name, start);
    }
    return value;
}

void BitReader::skipBits(std::uint64_t bits)
{
    require(bitsLeft() >= bits, kEndOfData);
    position_ += bits;
}

bool BitReader::more_rbsp_data() const
{
    // True while anything other than rbsp_stop_one_bit and its trailing zeros is left.
    if (position_ >= sizeBits_) {
        return false;
    }
    std::uint64_t lastOneBit = sizeBits_;
    for (std::size_t byteIndex = data_.size(); byteIndex > 0; --byteIndex) {
        const std::uint8_t byte = data_[byteIndex - 1];
        if (byte != 0) {
            unsigned trailingZeros = 0;
            while (((byte >> trailingZeros) & 1U) == 0) {
                ++trailingZeros;
            }
            lastOneBit = static_cast<std::uint64_t>(byteIndex) * 8U - 1U - trailingZeros;
            break;
        }
    }
    return lastOneBit != sizeBits_ && position_ < lastOneBit;
}

void BitReader::byte_alignment()
{
    require(u(1) == 1, "alignment_bit_equal_to_one is 0");
    while (!byteAligned()) {
        require(u(1) == 0, "alignment_bit_equal_to_zero is 1");
    }
}

unsigned ceilLog2(std::uint64_t value)
{
    unsigned bits = 0;
    while ((std::uint64_t{1} << bits) < value && bits < 63) {
        ++bits;
    }
    return bits;
}

} // namespace vexilo::hevc
