#include "profile_tier_level.h"

namespace vexilo::hevc {

namespace {

bool profileOrCompatible(const ProfileInfo& info, std::initializer_list<std::uint32_t> profiles)
{
    for (const std::uint32_t idc : profiles) {
        if (info.profile_idc == idc || ((info.profile_compatibility_flags >> idc) & 1U) != 0) {
            return true;
        }
    }
    return false;
}

void readConstraintFlag(BitReader& reader, ProfileInfo& info, ConstraintFlagBit bit)
{
    info.constraintFlags |= reader.u(1) << bit;
    info.constraintFlagsPresent |= 1U << bit;
}

// The 88 bits shared by general_profile_* and sub_layer_profile_*.
ProfileInfo parseProfile(BitReader& reader)
{
    ProfileInfo info;
    info.profile_space = reader.u(2);
    info.tier_flag = reader.flag();
    info.profile_idc = reader.u(5);
    // general_profile_compatibility_flag[ j ] comes first for j = 0: store it in bit j, not bit 31 - j.
    for (std::uint32_t j = 0; j < 32; ++j) {
        info.profile_compatibility_flags |= reader.u(1) << j;
    }
    for (const ConstraintFlagBit bit :
         {kProgressiveSource, kInterlacedSource, kNonPackedConstraint, kFrameOnlyConstraint}) {
        readConstraintFlag(reader, info, bit);
    }
    if (profileOrCompatible(info, {4, 5, 6, 7, 8, 9, 10, 11})) {
        for (const ConstraintFlagBit bit : {kMax12bit, kMax10bit, kMax8bit, kMax422chroma, kMax420chroma,
                                            kMaxMonochrome, kIntraConstraint, kOnePictureOnly, kLowerBitRate}) {
            readConstraintFlag(reader, info, bit);
        }
        if (profileOrCompatible(info, {5, 9, 10, 11})) {
            readConstraintFlag(reader, info, kMax14bit);
            reader.skipBits(33); // general_reserved_zero_33bits
        } else {
            reader.skipBits(34); // general_reserved_zero_34bits
        }
    } else if (profileOrCompatible(info, {2})) {
        reader.skipBits(7); // general_reserved_zero_7bits
        readConstraintFlag(reader, info, kOnePictureOnly);
        reader.skipBits(35); // general_reserved_zero_35bits
    } else {
        reader.skipBits(43); // general_reserved_zero_43bits
    }
    if (profileOrCompatible(info, {1, 2, 3, 4, 5, 9, 11})) {
        readConstraintFlag(reader, info, kInbld);
    } else {
        reader.skipBits(1); // general_reserved_zero_bit
    }
    return info;
}

} // namespace

ProfileTierLevel parseProfileTierLevel(BitReader& reader, bool profilePresentFlag,
                                       std::uint32_t maxNumSubLayersMinus1)
{
    require(maxNumSubLayersMinus1 < kMaxSubLayers, "maxNumSubLayersMinus1 above 6");
    ProfileTierLevel ptl;
    ptl.maxNumSubLayersMinus1 = maxNumSubLayersMinus1;
    if (profilePresentFlag) {
        ptl.general = parseProfile(reader);
    }
    ptl.general.level_idc = reader.u(8);
    for (std::uint32_t i = 0; i < maxNumSubLayersMinus1; ++i) {
        ptl.sub_layer_profile_present_flag[i] = reader.flag();
        ptl.sub_layer_level_present_flag[i] = reader.flag();
    }
    if (maxNumSubLayersMinus1 > 0) {
        reader.skipBits(2U * (8U - maxNumSubLayersMinus1)); // reserved_zero_2bits
    }
    for (std::uint32_t i = 0; i < maxNumSubLayersMinus1; ++i) {
        if (ptl.sub_layer_profile_present_flag[i]) {
            ptl.subLayer[i] = parseProfile(reader);
        }
        if (ptl.sub_layer_level_present_flag[i]) {
            ptl.subLayer[i].level_idc = reader.u(8);
        }
    }
    return ptl;
}

} // namespace vexilo::hevc
