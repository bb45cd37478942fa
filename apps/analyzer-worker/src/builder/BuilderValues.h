#pragma once

#include "vexilo/analysis/StreamAnalysis.h"

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <utility>

// Value conversions from observer event fields to document fields. Optional fields
// are set only for values the document can hold; anything else stays absent.
namespace vexilo::analyzer {

// "fnv1a64:" and the value as 16 lowercase hexadecimal digits.
[[nodiscard]] std::string fnv1a64Fingerprint(std::uint64_t hash);

[[nodiscard]] std::string pathToUtf8Text(const std::filesystem::path& path);

[[nodiscard]] std::optional<std::int64_t> optionalTimestamp(std::int64_t value) noexcept;

template <typename Target, typename Source>
[[nodiscard]] constexpr std::optional<Target> optionalInRange(Source value, Target low, Target high) noexcept
{
    if (std::cmp_less(value, low) || std::cmp_greater(value, high)) {
        return std::nullopt;
    }
    return static_cast<Target>(value);
}

template <typename Target, typename Source>
[[nodiscard]] constexpr std::optional<Target> optionalPositive(Source value) noexcept
{
    return optionalInRange<Target>(value, Target{1}, std::numeric_limits<Target>::max());
}

// Widths and heights the document accepts: [1, 65535].
template <typename Source>
[[nodiscard]] constexpr std::optional<std::uint32_t> optionalDimension(Source value) noexcept
{
    return optionalInRange<std::uint32_t>(value, 1u, 65535u);
}

// Bit depths the document accepts: [8, 16].
template <typename Source>
[[nodiscard]] constexpr std::optional<std::uint8_t> optionalBitDepth(Source value) noexcept
{
    return optionalInRange<std::uint8_t>(value, std::uint8_t{8}, std::uint8_t{16});
}

[[nodiscard]] constexpr std::optional<std::int32_t> optionalNegative(std::int32_t value) noexcept
{
    return value < 0 ? std::optional<std::int32_t>(value) : std::nullopt;
}

// 1, 2 kept, anything else 0 (parse and reference-state status).
[[nodiscard]] analysis::ParseStatus parseStatusOf(std::uint32_t value) noexcept;
[[nodiscard]] analysis::BlockParseStatus blockParseStatusOf(std::uint32_t value) noexcept;
// 1-4 kept, anything else 0.
[[nodiscard]] analysis::ReferenceStatus referenceStatusOf(std::uint32_t value) noexcept;
// 1-3 kept, anything else 0.
[[nodiscard]] analysis::ValueOrigin valueOriginOf(std::uint32_t value) noexcept;
[[nodiscard]] analysis::PictureType pictureTypeOf(std::uint32_t value) noexcept;
[[nodiscard]] analysis::SeiStatus seiStatusOf(std::uint32_t value) noexcept;
[[nodiscard]] analysis::PredictionMode predictionModeOf(std::uint32_t value) noexcept;
[[nodiscard]] analysis::InterDirection interDirectionOf(std::uint32_t value) noexcept;
[[nodiscard]] analysis::PartitionMode partitionModeOf(std::uint32_t value) noexcept;
[[nodiscard]] analysis::ParameterSetKind parameterSetKindOf(std::uint32_t value) noexcept;
// Event 0 L0, 1 L1.
[[nodiscard]] analysis::ReferenceList referenceListOf(std::uint32_t value) noexcept;
// Event 0 B, 1 P, 2 I.
[[nodiscard]] analysis::SliceType sliceTypeOf(std::uint32_t value) noexcept;
// The profile shown for a profile_idc and a luma bit depth.
[[nodiscard]] analysis::StreamProfile profileOf(std::int64_t profileIdc, std::uint32_t lumaBitDepth) noexcept;

// Low 16 bits of a signed event value, as the document's 16-bit fields take them.
[[nodiscard]] constexpr std::int16_t low16(std::int32_t value) noexcept
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu));
}

}  // namespace vexilo::analyzer
