#include "codec/NalParameterSetCodec.h"

#include "CodecTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vexilo::analysis::codec_test {
namespace {

constexpr std::uint64_t kBit63 = std::uint64_t{1} << 63;

std::int64_t asStored(std::uint64_t value)
{
    return static_cast<std::int64_t>(value);
}

struct NalUnits : CollectionCodecOf<NalUnitInfo, fb::NalUnitTable> {
    static constexpr int kSlotCount = 12;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1, 10}; }
    // byteSpanReliable (slot 11) keeps its default true and is left out like the zeros.
    static std::vector<int> zeroDefaultedSlots() { return {2, 3, 4, 11}; }
    static Record everyOptionalZero()
    {
        return {.nalUnitType = 0, .layerId = 0, .temporalId = 0, .pictureId = 0, .startCodeLength = 0};
    }
    static Record distinctValues()
    {
        return {.id = {0x1111, 0x2222},
                .parentStreamAnalysisId = {0x3333, 0x4444},
                .byteOffset = kBit63 | 1,
                .byteSize = 0x0102030405060708,
                .kind = static_cast<NalUnitKind>(9),
                .nalUnitType = 63,
                .layerId = 5,
                .temporalId = 6,
                .pictureId = 0xfedcba9876543210,
                .startCodeLength = 4,
                .contentHash = "fnv1a64:0123456789abcdef",
                .byteSpanReliable = false};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{2, 8, asStored(kBit63 | 1)}, {3, 8, 0x0102030405060708}, {4, 1, 9},
                {5, 1, 63},                   {6, 1, 5},                  {7, 1, 6},
                {8, 8, asStored(0xfedcba9876543210)},                     {9, 1, 4},
                {11, 1, 0}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {0x1111, 0x2222}}, {1, {0x3333, 0x4444}}}; }
};

struct ParameterSets : CollectionCodecOf<ParameterSetInfo, fb::ParameterSetTable> {
    static constexpr int kSlotCount = 43;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1, 11, 30, 39, 41, 42}; }
    static std::vector<int> zeroDefaultedSlots() { return {2, 4}; }
    static Record everyOptionalZero()
    {
        return {.parameterSetId = 0, .width = 0, .height = 0, .bitDepth = 0, .log2CtuSize = 0,
                .tilesEnabled = false, .entropyCodingSyncEnabled = false, .referencedParameterSetId = 0,
                .profileIdc = 0, .levelIdc = 0, .chromaFormatIdc = 0, .chromaBitDepth = 0,
                .maxSubLayers = 0, .numShortTermRefPicSets = 0, .numTileColumns = 0, .numTileRows = 0,
                .temporalIdNesting = false, .sampleAdaptiveOffsetEnabled = false,
                .temporalMvpEnabled = false, .dependentSliceSegmentsEnabled = false,
                .outputFlagPresent = false, .vpsBaseLayerInternal = false, .vpsBaseLayerAvailable = false,
                .vpsMaxLayers = 0, .vpsSubLayerOrderingInfoPresent = false, .vpsMaxLayerId = 0,
                .vpsNumLayerSets = 0, .vpsTimingInfoPresent = false, .vpsNumUnitsInTick = 0,
                .vpsTimeScale = 0, .vpsPocProportionalToTiming = false, .vpsNumTicksPocDiffOne = 0,
                .vpsNumHrdParameters = 0, .vpsExtension = false};
    }
    // Neighbouring booleans alternate, so that two swapped slots cannot both read right.
    static Record distinctValues()
    {
        return {.id = {0x1111, 0x2222},
                .parentNalUnitId = {0x3333, 0x4444},
                .kind = ParameterSetKind::Pps,
                .parameterSetId = 300,
                .profile = StreamProfile::Main10,
                .width = 70000,
                .height = 65535,
                .bitDepth = 10,
                .log2CtuSize = 6,
                .tilesEnabled = true,
                .entropyCodingSyncEnabled = false,
                .contentHash = "fnv1a64:00000000000000ff",
                .referencedParameterSetId = 513,
                .profileIdc = 31,
                .levelIdc = 186,
                .chromaFormatIdc = 3,
                .chromaBitDepth = 12,
                .maxSubLayers = 7,
                .numShortTermRefPicSets = 100000,
                .numTileColumns = 20,
                .numTileRows = 22,
                .temporalIdNesting = true,
                .sampleAdaptiveOffsetEnabled = false,
                .temporalMvpEnabled = true,
                .dependentSliceSegmentsEnabled = false,
                .outputFlagPresent = true,
                .vpsBaseLayerInternal = false,
                .vpsBaseLayerAvailable = true,
                .vpsMaxLayers = 64,
                .vpsSubLayerOrderingInfoPresent = false,
                .vpsSubLayerOrdering = {{1, 2, 3, 4}, {2, 5, 6, 7}},
                .vpsMaxLayerId = 62,
                .vpsNumLayerSets = 1024,
                .vpsLayerSets = {{1, kBit63 | 1}, {2, 6}},
                .vpsTimingInfoPresent = true,
                .vpsNumUnitsInTick = 1001,
                .vpsTimeScale = 60000,
                .vpsPocProportionalToTiming = false,
                .vpsNumTicksPocDiffOne = 4000000000,
                .vpsNumHrdParameters = 3,
                .vpsExtension = true,
                .profileTierLevels = {{.profilePresentFlag = true, .levelPresentFlag = true, .profileIdc = 2,
                                       .levelIdc = 120},
                                      {.subLayerId = 0, .levelPresentFlag = true, .levelIdc = 90}},
                .syntaxElements = {{"init_qp_minus26", -26, ""}, {"sps_max_dec_pic_buffering_minus1", 5, "5"}}};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{2, 1, 3},         {3, 2, 300},     {4, 1, 2},    {5, 4, 70000},  {6, 4, 65535},
                {7, 1, 10},        {8, 1, 6},       {9, 1, 1},    {10, 1, 0},     {12, 2, 513},
                {13, 1, 31},       {14, 1, 186},    {15, 1, 3},   {16, 1, 12},    {17, 1, 7},
                {18, 4, 100000},   {19, 2, 20},     {20, 2, 22},  {21, 1, 1},     {22, 1, 0},
                {23, 1, 1},        {24, 1, 0},      {25, 1, 1},   {26, 1, 0},     {27, 1, 1},
                {28, 1, 64},       {29, 1, 0},      {31, 1, 62},  {32, 2, 1024},  {33, 1, 1},
                {34, 4, 1001},     {35, 4, 60000},  {36, 1, 0},   {37, 4, 4000000000},
                {38, 4, 3},        {40, 1, 1}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {0x1111, 0x2222}}, {1, {0x3333, 0x4444}}}; }
};

struct VpsSubLayerOrderings : CollectionCodecOf<VpsSubLayerOrderingInfo, fb::VpsSubLayerOrderingTable> {
    static constexpr int kSlotCount = 4;
    static std::vector<int> alwaysWrittenSlots() { return {}; }
    static std::vector<int> zeroDefaultedSlots() { return {0, 1, 2, 3}; }
    static Record everyOptionalZero() { return {}; }
    static Record distinctValues() { return {6, 0xffffffff, 7, 8}; }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{0, 1, 6}, {1, 4, 0xffffffff}, {2, 4, 7}, {3, 4, 8}};
    }
    static IdentitySlots distinctIdentities() { return {}; }
};

struct VpsLayerSets : CollectionCodecOf<VpsLayerSetInfo, fb::VpsLayerSetTable> {
    static constexpr int kSlotCount = 2;
    static std::vector<int> alwaysWrittenSlots() { return {}; }
    static std::vector<int> zeroDefaultedSlots() { return {0, 1}; }
    static Record everyOptionalZero() { return {}; }
    static Record distinctValues() { return {1023, kBit63 | 5}; }
    static std::vector<StoredScalar> distinctScalars() { return {{0, 2, 1023}, {1, 8, asStored(kBit63 | 5)}}; }
    static IdentitySlots distinctIdentities() { return {}; }
};

struct ProfileTierLevels : CollectionCodecOf<ProfileTierLevelInfo, fb::ProfileTierLevelTable> {
    static constexpr int kSlotCount = 23;
    static std::vector<int> alwaysWrittenSlots() { return {}; }
    static std::vector<int> zeroDefaultedSlots() { return {1, 2}; }
    static Record everyOptionalZero()
    {
        return {.subLayerId = 0, .profileSpace = 0, .tierFlag = false, .profileIdc = 0,
                .profileCompatibilityFlags = 0, .progressiveSourceFlag = false,
                .interlacedSourceFlag = false, .nonPackedConstraintFlag = false,
                .frameOnlyConstraintFlag = false, .max12bitConstraintFlag = false,
                .max10bitConstraintFlag = false, .max8bitConstraintFlag = false,
                .max422chromaConstraintFlag = false, .max420chromaConstraintFlag = false,
                .maxMonochromeConstraintFlag = false, .intraConstraintFlag = false,
                .onePictureOnlyConstraintFlag = false, .lowerBitRateConstraintFlag = false,
                .max14bitConstraintFlag = false, .inbldFlag = false, .levelIdc = 0};
    }
    static Record distinctValues()
    {
        return {.subLayerId = 5, .profilePresentFlag = true, .levelPresentFlag = true, .profileSpace = 3,
                .tierFlag = true, .profileIdc = 31, .profileCompatibilityFlags = 0x80000001,
                .progressiveSourceFlag = true, .interlacedSourceFlag = false,
                .nonPackedConstraintFlag = true, .frameOnlyConstraintFlag = false,
                .max12bitConstraintFlag = true, .max10bitConstraintFlag = false,
                .max8bitConstraintFlag = true, .max422chromaConstraintFlag = false,
                .max420chromaConstraintFlag = true, .maxMonochromeConstraintFlag = false,
                .intraConstraintFlag = true, .onePictureOnlyConstraintFlag = false,
                .lowerBitRateConstraintFlag = true, .max14bitConstraintFlag = false, .inbldFlag = true,
                .levelIdc = 255};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        std::vector<StoredScalar> stored{{0, 1, 5}, {1, 1, 1}, {2, 1, 1}, {3, 1, 3},
                                         {4, 1, 1}, {5, 1, 31}, {6, 4, 0x80000001}, {22, 1, 255}};
        for (int slot = 7; slot <= 21; ++slot) {
            stored.push_back({slot, 1, (slot - 7) % 2 == 0 ? 1 : 0});
        }
        return stored;
    }
    static IdentitySlots distinctIdentities() { return {}; }
};

using NalParameterSetCollections =
    ::testing::Types<NalUnits, ParameterSets, VpsSubLayerOrderings, VpsLayerSets, ProfileTierLevels>;
INSTANTIATE_TYPED_TEST_SUITE_P(NalParameterSet, RecordCodecContract, NalParameterSetCollections);

using SyntaxElements = CollectionCodecOf<SyntaxElementInfo, fb::SyntaxElementTable>;

TEST(SyntaxElementCodec, RoundTripsSignedValuesAndEmptyTexts)
{
    const std::vector<SyntaxElementInfo> elements{
        {"init_qp_minus26", -26, ""}, {"", std::int64_t{-1} << 63, "min"}, {"value", INT64_MAX, ""}};
    const EncodedCollection<fb::SyntaxElementTable> encoded(elements, &SyntaxElements::encode);
    const auto* tables = encoded.verified();
    ASSERT_NE(tables, nullptr);
    EXPECT_EQ(SyntaxElements::decode(tables), elements);
}

TEST(SyntaxElementCodec, TableWithoutNameFailsVerification)
{
    const std::vector<std::uint8_t> bytes =
        HandWrittenTable{}.scalar<std::int64_t>(1, 7).finishAsCollection<fb::SyntaxElementTable>();
    EXPECT_EQ(verifiedTables<fb::SyntaxElementTable>(bytes), nullptr);
}

TEST(ParameterSetCodec, AnyNonZeroFlagByteReadsAsTrue)
{
    const std::vector<std::uint8_t> bytes = HandWrittenTable{}
                                                .scalar<std::uint8_t>(9, 2)    // tilesEnabled
                                                .scalar<std::uint8_t>(10, 0)   // entropyCodingSyncEnabled
                                                .finishAsCollection<fb::ParameterSetTable>();
    const auto* tables = verifiedTables<fb::ParameterSetTable>(bytes);
    ASSERT_NE(tables, nullptr);
    const auto records = ParameterSets::decode(tables);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].tilesEnabled, std::optional<bool>(true));
    EXPECT_EQ(records[0].entropyCodingSyncEnabled, std::optional<bool>(false));
}

TEST(NalUnitCodec, ByteSpanReliableFalseIsStoredAndMissingReadsTrue)
{
    NalUnitInfo unreliable;
    unreliable.byteSpanReliable = false;
    const std::vector<NalUnitInfo> units{unreliable, NalUnitInfo{}};
    const EncodedCollection<fb::NalUnitTable> encoded(units, &NalUnits::encode);
    const auto* tables = encoded.verified();
    ASSERT_NE(tables, nullptr);
    EXPECT_TRUE(slots::asRawTable(*tables->Get(0)).CheckField(vtableOffsetOfSlot(11)));
    EXPECT_FALSE(slots::asRawTable(*tables->Get(1)).CheckField(vtableOffsetOfSlot(11)));
    const auto records = NalUnits::decode(tables);
    EXPECT_FALSE(records[0].byteSpanReliable);
    EXPECT_TRUE(records[1].byteSpanReliable);
}

struct ProfileCase {
    std::uint8_t profileIdc;
    std::optional<std::uint8_t> bitDepth;
    StreamProfile expected;
};

TEST(ParameterSetProfile, FollowsProfileIdcAndLumaBitDepth)
{
    const std::vector<ProfileCase> cases{
        {1, 8, StreamProfile::Main},         {1, 9, StreamProfile::Main10},
        {1, std::nullopt, StreamProfile::Main}, {2, 8, StreamProfile::Main10},
        {2, 10, StreamProfile::Main10},     {4, 8, StreamProfile::Undetermined},
        {0, 12, StreamProfile::Main10},     {31, std::nullopt, StreamProfile::Undetermined},
    };
    for (const ProfileCase& profileCase : cases) {
        SCOPED_TRACE(::testing::Message() << "profile_idc " << int{profileCase.profileIdc});
        EXPECT_EQ(profileFromProfileIdc(profileCase.profileIdc, profileCase.bitDepth), profileCase.expected);
    }
}

TEST(ProfileConstraintFlags, OnlyPresentBitsAreSetFromTheValueWord)
{
    ProfileTierLevelInfo entry;
    // present: bits 0, 1 and 14; values: bit 0 and bit 5 (not present, so ignored)
    setProfileConstraintFlags(entry, 0b0000'0000'0010'0001, 0b0100'0000'0000'0011);
    EXPECT_EQ(entry.progressiveSourceFlag, std::optional<bool>(true));
    EXPECT_EQ(entry.interlacedSourceFlag, std::optional<bool>(false));
    EXPECT_EQ(entry.inbldFlag, std::optional<bool>(false));
    EXPECT_FALSE(entry.max10bitConstraintFlag.has_value());
    EXPECT_FALSE(entry.nonPackedConstraintFlag.has_value());
}

}  // namespace
}  // namespace vexilo::analysis::codec_test
