#include "vexilo/analysis/records/NalParameterSetRecords.h"

#include <array>
#include <cstddef>

namespace vexilo::analysis {
namespace {

constexpr std::uint8_t kMainProfileIdc = 1;
constexpr std::uint8_t kMain10ProfileIdc = 2;
constexpr std::uint8_t kEightBitDepth = 8;

// The constraint flags in the order of their bits in the decoder's value and present words.
constexpr std::array<std::optional<bool> ProfileTierLevelInfo::*, kProfileConstraintFlagCount>
    kConstraintFlagsByBit{
        &ProfileTierLevelInfo::progressiveSourceFlag,
        &ProfileTierLevelInfo::interlacedSourceFlag,
        &ProfileTierLevelInfo::nonPackedConstraintFlag,
        &ProfileTierLevelInfo::frameOnlyConstraintFlag,
        &ProfileTierLevelInfo::max12bitConstraintFlag,
        &ProfileTierLevelInfo::max10bitConstraintFlag,
        &ProfileTierLevelInfo::max8bitConstraintFlag,
        &ProfileTierLevelInfo::max422chromaConstraintFlag,
        &ProfileTierLevelInfo::max420chromaConstraintFlag,
        &ProfileTierLevelInfo::maxMonochromeConstraintFlag,
        &ProfileTierLevelInfo::intraConstraintFlag,
        &ProfileTierLevelInfo::onePictureOnlyConstraintFlag,
        &ProfileTierLevelInfo::lowerBitRateConstraintFlag,
        &ProfileTierLevelInfo::max14bitConstraintFlag,
        &ProfileTierLevelInfo::inbldFlag,
    };

}  // namespace

StreamProfile profileFromProfileIdc(std::uint8_t profileIdc,
                                    std::optional<std::uint8_t> lumaBitDepth) noexcept
{
    const bool highBitDepth = lumaBitDepth.value_or(kEightBitDepth) > kEightBitDepth;
    if (profileIdc == kMain10ProfileIdc || highBitDepth) {
        return StreamProfile::Main10;
    }
    return profileIdc == kMainProfileIdc ? StreamProfile::Main : StreamProfile::Undetermined;
}

void setProfileConstraintFlags(ProfileTierLevelInfo& entry, std::uint16_t valueBits,
                               std::uint16_t presentBits)
{
    for (std::size_t bit = 0; bit < kConstraintFlagsByBit.size(); ++bit) {
        const auto mask = static_cast<std::uint16_t>(1U << bit);
        if ((presentBits & mask) != 0) {
            entry.*kConstraintFlagsByBit[bit] = (valueBits & mask) != 0;
        }
    }
}

}  // namespace vexilo::analysis
