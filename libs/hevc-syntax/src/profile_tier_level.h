// profile_tier_level() (ITU-T H.265 7.3.3).
#pragma once

#include "bit_reader.h"

#include <array>
#include <cstdint>

namespace vexilo::hevc {

constexpr unsigned kMaxSubLayers = 7;

// Bit positions of the constraint flags inside `constraintFlags`/`constraintFlagsPresent`.
enum ConstraintFlagBit : unsigned {
    kProgressiveSource = 0, kInterlacedSource = 1, kNonPackedConstraint = 2, kFrameOnlyConstraint = 3,
    kMax12bit = 4, kMax10bit = 5, kMax8bit = 6, kMax422chroma = 7, kMax420chroma = 8,
    kMaxMonochrome = 9, kIntraConstraint = 10, kOnePictureOnly = 11, kLowerBitRate = 12,
    kMax14bit = 13, kInbld = 14,
};

struct ProfileInfo {
    std::uint32_t profile_space = 0;
    bool tier_flag = false;
    std::uint32_t profile_idc = 0;
    std::uint32_t profile_compatibility_flags = 0; // bit j = profile_compatibility_flag[j]
    std::uint32_t constraintFlags = 0;
    std::uint32_t constraintFlagsPresent = 0;
    std::uint32_t level_idc = 0;
};

struct ProfileTierLevel {
    ProfileInfo general;
    std::uint32_t maxNumSubLayersMinus1 = 0;
    std::array<bool, kMaxSubLayers> sub_layer_profile_present_flag{};
    std::array<bool, kMaxSubLayers> sub_layer_level_present_flag{};
    std::array<ProfileInfo, kMaxSubLayers> subLayer{};
};

ProfileTierLevel parseProfileTierLevel(BitReader& reader, bool profilePresentFlag,
                                       std::uint32_t maxNumSubLayersMinus1);

} // namespace vexilo::hevc
