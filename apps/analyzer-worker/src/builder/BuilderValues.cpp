#include "builder/BuilderValues.h"

#include <cstdio>

namespace vexilo::analyzer {
namespace {

constexpr char kHashPrefix[] = "fnv1a64:";

template <typename Enum>
Enum keptInRange(std::uint32_t value, std::uint32_t highest) noexcept
{
    return value >= 1 && value <= highest ? static_cast<Enum>(value) : Enum{};
}

}  // namespace

std::string fnv1a64Fingerprint(std::uint64_t hash)
{
    char digits[17] = {};
    std::snprintf(digits, sizeof(digits), "%016llx", static_cast<unsigned long long>(hash));
    return kHashPrefix + std::string(digits);
}

std::string pathToUtf8Text(const std::filesystem::path& path)
{
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

std::optional<std::int64_t> optionalTimestamp(std::int64_t value) noexcept
{
    return value == std::numeric_limits<std::int64_t>::min() ? std::nullopt : std::optional<std::int64_t>(value);
}

analysis::ParseStatus parseStatusOf(std::uint32_t value) noexcept
{
    return keptInRange<analysis::ParseStatus>(value, 2);
}

analysis::BlockParseStatus blockParseStatusOf(std::uint32_t value) noexcept
{
    return keptInRange<analysis::BlockParseStatus>(value, 2);
}

analysis::ReferenceStatus referenceStatusOf(std::uint32_t value) noexcept
{
    return keptInRange<analysis::ReferenceStatus>(value, 4);
}

analysis::ValueOrigin valueOriginOf(std::uint32_t value) noexcept
{
    return keptInRange<analysis::ValueOrigin>(value, 3);
}

analysis::PictureType pictureTypeOf(std::uint32_t value) noexcept
{
    return keptInRange<analysis::PictureType>(value, 3);
}

analysis::SeiStatus seiStatusOf(std::uint32_t value) noexcept
{
    return keptInRange<analysis::SeiStatus>(value, 3);
}

analysis::PredictionMode predictionModeOf(std::uint32_t value) noexcept
{
    return keptInRange<analysis::PredictionMode>(value, 3);
}

analysis::InterDirection interDirectionOf(std::uint32_t value) noexcept
{
    return keptInRange<analysis::InterDirection>(value, 3);
}

analysis::PartitionMode partitionModeOf(std::uint32_t value) noexcept
{
    return keptInRange<analysis::PartitionMode>(value, 8);
}

analysis::ParameterSetKind parameterSetKindOf(std::uint32_t value) noexcept
{
    return keptInRange<analysis::ParameterSetKind>(value, 3);
}

analysis::ReferenceList referenceListOf(std::uint32_t value) noexcept
{
    switch (value) {
    case 0: return analysis::ReferenceList::L0;
    case 1: return analysis::ReferenceList::L1;
    default: return analysis::ReferenceList::Unknown;
    }
}

analysis::SliceType sliceTypeOf(std::uint32_t value) noexcept
{
    switch (value) {
    case 0: return analysis::SliceType::B;
    case 1: return analysis::SliceType::P;
    case 2: return analysis::SliceType::I;
    default: return analysis::SliceType::Undetermined;
    }
}

analysis::StreamProfile profileOf(std::int64_t profileIdc, std::uint32_t lumaBitDepth) noexcept
{
    // Anything that is not a profile_idc reads as "other profile".
    const std::uint8_t idc = profileIdc >= 0 && profileIdc <= 255 ? static_cast<std::uint8_t>(profileIdc) : 0;
    const std::optional<std::uint8_t> depth =
        lumaBitDepth >= 1 && lumaBitDepth <= 255 ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(lumaBitDepth))
                                                 : std::nullopt;
    return analysis::profileFromProfileIdc(idc, depth);
}

}  // namespace vexilo::analyzer
