#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vexilo::analyzer {

// One NAL unit of an HEVC decoder configuration record.
struct ConfigurationRecordNalUnit {
    std::uint32_t arrayNalUnitType = 0;
    // Index of the unit within its array.
    std::uint32_t indexInArray = 0;
    // Byte position of the unit's bytes within the record.
    std::uint64_t bytePosition = 0;
    std::span<const std::uint8_t> bytes;
};

// The fields of an ISO/IEC 14496-15 HEVC decoder configuration record that the
// document uses.
struct ConfigurationRecord {
    std::uint8_t generalProfileIdc = 0;
    std::uint8_t generalLevelIdc = 0;
    std::uint8_t chromaFormatIdc = 0;
    std::uint8_t lumaBitDepth = 8;
    std::uint8_t chromaBitDepth = 8;
    std::uint8_t numTemporalLayers = 0;
    bool temporalIdNested = false;
    std::vector<ConfigurationRecordNalUnit> nalUnits;
};

// Empty unless the bytes are a configuration record (at least 23 bytes, version 1).
// Reading stops at the first field that would run past the end; the units read so far
// are kept.
[[nodiscard]] std::optional<ConfigurationRecord> parseConfigurationRecord(std::span<const std::uint8_t> bytes);

}  // namespace vexilo::analyzer
