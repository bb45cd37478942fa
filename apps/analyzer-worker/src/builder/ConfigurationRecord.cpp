#include "builder/ConfigurationRecord.h"

namespace vexilo::analyzer {
namespace {

constexpr std::size_t kFixedPartSize = 23;
constexpr std::uint8_t kConfigurationVersion = 1;
constexpr std::size_t kProfileByte = 1;
constexpr std::size_t kLevelByte = 12;
constexpr std::size_t kChromaFormatByte = 16;
constexpr std::size_t kLumaBitDepthByte = 17;
constexpr std::size_t kChromaBitDepthByte = 18;
constexpr std::size_t kTemporalByte = 21;
constexpr std::size_t kArrayCountByte = 22;

class RecordReader {
public:
    explicit RecordReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    [[nodiscard]] std::uint64_t position() const noexcept { return position_; }

    bool readByte(std::uint8_t& value) noexcept
    {
        if (!has(1)) {
            return false;
        }
        value = bytes_[position_++];
        return true;
    }

    bool readBigEndian16(std::uint16_t& value) noexcept
    {
        if (!has(2)) {
            return false;
        }
        value = static_cast<std::uint16_t>((bytes_[position_] << 8) | bytes_[position_ + 1]);
        position_ += 2;
        return true;
    }

    bool readSpan(std::size_t length, std::span<const std::uint8_t>& value) noexcept
    {
        if (!has(length)) {
            return false;
        }
        value = bytes_.subspan(position_, length);
        position_ += length;
        return true;
    }

    void skipTo(std::size_t position) noexcept { position_ = position; }

private:
    [[nodiscard]] bool has(std::size_t count) const noexcept { return count <= bytes_.size() - position_; }

    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// Reads the arrays until a field would run past the end.
void readArrays(RecordReader& reader, std::uint8_t arrayCount, std::vector<ConfigurationRecordNalUnit>& units)
{
    for (std::uint8_t array = 0; array < arrayCount; ++array) {
        std::uint8_t typeByte = 0;
        std::uint16_t nalCount = 0;
        if (!reader.readByte(typeByte) || !reader.readBigEndian16(nalCount)) {
            return;
        }
        for (std::uint32_t index = 0; index < nalCount; ++index) {
            std::uint16_t length = 0;
            ConfigurationRecordNalUnit unit;
            if (!reader.readBigEndian16(length)) {
                return;
            }
            unit.bytePosition = reader.position();
            if (!reader.readSpan(length, unit.bytes)) {
                return;
            }
            unit.arrayNalUnitType = typeByte & 0x3Fu;
            unit.indexInArray = index;
            units.push_back(unit);
        }
    }
}

}  // namespace

std::optional<ConfigurationRecord> parseConfigurationRecord(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kFixedPartSize || bytes[0] != kConfigurationVersion) {
        return std::nullopt;
    }
    ConfigurationRecord record;
    record.generalProfileIdc = bytes[kProfileByte] & 0x1Fu;
    record.generalLevelIdc = bytes[kLevelByte];
    record.chromaFormatIdc = bytes[kChromaFormatByte] & 0x03u;
    record.lumaBitDepth = static_cast<std::uint8_t>((bytes[kLumaBitDepthByte] & 0x07u) + 8);
    record.chromaBitDepth = static_cast<std::uint8_t>((bytes[kChromaBitDepthByte] & 0x07u) + 8);
    record.numTemporalLayers = static_cast<std::uint8_t>((bytes[kTemporalByte] >> 3) & 0x07u);
    record.temporalIdNested = (bytes[kTemporalByte] & 0x04u) != 0;
    RecordReader reader(bytes);
    reader.skipTo(kFixedPartSize);
    readArrays(reader, bytes[kArrayCountByte], record.nalUnits);
    return record;
}

}  // namespace vexilo::analyzer
