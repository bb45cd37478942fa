#include "codec/SeiSliceErrorCodec.h"

#include "CodecTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vexilo::analysis::codec_test {
namespace {

struct SeiMessages : CollectionCodecOf<SeiMessageInfo, fb::SeiMessageTable> {
    static constexpr int kSlotCount = 9;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1, 5, 7}; }
    static std::vector<int> zeroDefaultedSlots() { return {6, 8}; }
    static Record everyOptionalZero() { return {.pictureId = 0, .payloadType = 0, .payloadSize = 0}; }
    static Record distinctValues()
    {
        return {.id = {0x1111, 0x2222},
                .parentNalUnitId = {0x3333, 0x4444},
                .pictureId = 0x8000000000000007,
                .payloadType = 137,
                .payloadSize = std::uint64_t{1} << 40,
                .payloadHash = "fnv1a64:0000000000000abc",
                .status = static_cast<SeiStatus>(7),
                .syntaxElements = {{"payload_type", 137, ""}, {"max_content_light_level", 1000, "1000 cd/m2"}},
                .truncated = true};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{2, 8, static_cast<std::int64_t>(0x8000000000000007)},
                {3, 4, 137},
                {4, 8, std::int64_t{1} << 40},
                {6, 1, 7},
                {8, 1, 1}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {0x1111, 0x2222}}, {1, {0x3333, 0x4444}}}; }
};

struct Slices : CollectionCodecOf<SliceInfo, fb::SliceTable> {
    static constexpr int kSlotCount = 36;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1}; }
    static std::vector<int> zeroDefaultedSlots() { return {3, 11, 29}; }
    static Record everyOptionalZero()
    {
        return {.pictureId = 0, .firstCtuAddress = 0, .sliceSegmentAddress = 0,
                .dependentSliceSegment = false, .ppsId = 0, .poc = 0, .sliceQp = 0, .tileId = 0,
                .parserErrorCode = 0, .firstSliceSegmentInPic = false, .noOutputOfPriorPics = false,
                .signaledType = SliceType::Undetermined, .slicePicOutput = false, .slicePicOrderCntLsb = 0,
                .shortTermRefPicSetSps = false, .shortTermRefPicSetIdx = 0,
                .numRefIdxActiveOverride = false, .numRefIdxL0Active = 0, .numRefIdxL1Active = 0,
                .refPicListModificationL0 = false, .refPicListModificationL1 = false, .sliceQpDelta = 0,
                .numEntryPointOffsets = 0, .decodeIndex = 0, .displayIndex = 0,
                .referenceStateErrorCode = 0, .shortTermRpsCount = 0, .longTermRpsCount = 0,
                .refPicListL0Count = 0, .refPicListL1Count = 0, .dpbEntryCount = 0};
    }
    // Signed fields carry negative values so that a wrong width or sign shows.
    static Record distinctValues()
    {
        return {.id = {0x1111, 0x2222},
                .parentNalUnitId = {0x3333, 0x4444},
                .pictureId = 0x0102030405060708,
                .type = SliceType::B,
                .firstCtuAddress = 70000,
                .sliceSegmentAddress = 70001,
                .dependentSliceSegment = true,
                .ppsId = 300,
                .poc = -1,
                .sliceQp = -48,
                .tileId = 99,
                .parseStatus = ParseStatus::Malformed,
                .parserErrorCode = -1094995529,
                .firstSliceSegmentInPic = false,
                .noOutputOfPriorPics = true,
                .signaledType = SliceType::P,
                .slicePicOutput = false,
                .slicePicOrderCntLsb = 255,
                .shortTermRefPicSetSps = true,
                .shortTermRefPicSetIdx = 64,
                .numRefIdxActiveOverride = false,
                .numRefIdxL0Active = 15,
                .numRefIdxL1Active = 14,
                .refPicListModificationL0 = true,
                .refPicListModificationL1 = false,
                .sliceQpDelta = -26,
                .numEntryPointOffsets = 440,
                .decodeIndex = std::int64_t{1} << 40,
                .displayIndex = -2,
                .referenceStateStatus = ParseStatus::Parsed,
                .referenceStateErrorCode = -22,
                .shortTermRpsCount = 4,
                .longTermRpsCount = 2,
                .refPicListL0Count = 3,
                .refPicListL1Count = 5,
                .dpbEntryCount = 6};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{2, 8, 0x0102030405060708}, {3, 1, 3},     {4, 4, 70000},   {5, 4, 70001},
                {6, 1, 1},                  {7, 2, 300},   {8, 4, -1},      {9, 2, -48},
                {10, 4, 99},                {11, 1, 2},    {12, 4, -1094995529},
                {13, 1, 0},                 {14, 1, 1},    {15, 1, 2},      {16, 1, 0},
                {17, 4, 255},               {18, 1, 1},    {19, 4, 64},     {20, 1, 0},
                {21, 1, 15},                {22, 1, 14},   {23, 1, 1},      {24, 1, 0},
                {25, 2, -26},               {26, 4, 440},  {27, 8, std::int64_t{1} << 40},
                {28, 8, -2},                {29, 1, 1},    {30, 4, -22},    {31, 4, 4},
                {32, 4, 2},                 {33, 4, 3},    {34, 4, 5},      {35, 4, 6}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {0x1111, 0x2222}}, {1, {0x3333, 0x4444}}}; }
};

struct AnalysisErrors : CollectionCodecOf<AnalysisErrorInfo, fb::AnalysisErrorTable> {
    static constexpr int kSlotCount = 10;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1, 4, 5, 6, 7}; }
    static std::vector<int> zeroDefaultedSlots() { return {3, 8}; }
    // A related object that is present with both words zero stays present.
    static Record everyOptionalZero() { return {.relatedObjectId = StableId{}, .errorValue = 0}; }
    static Record distinctValues()
    {
        return {.id = {0x1111, 0x2222},
                .parentStreamAnalysisId = {0x3333, 0x4444},
                .relatedObjectId = StableId{0x5555, 0x6666},
                .severity = 4,
                .code = "analyzer.extradata_parameter_set",
                .component = "AnalyzerWorker",
                .message = "parameter set came from extradata",
                .detail = "nal=33",
                .errorFlag = true,
                .errorValue = UINT64_MAX};
    }
    static std::vector<StoredScalar> distinctScalars() { return {{3, 1, 4}, {8, 1, 1}, {9, 8, -1}}; }
    static IdentitySlots distinctIdentities()
    {
        return {{0, {0x1111, 0x2222}}, {1, {0x3333, 0x4444}}, {2, {0x5555, 0x6666}}};
    }
};

using SeiSliceErrorCollections = ::testing::Types<SeiMessages, Slices, AnalysisErrors>;
INSTANTIATE_TYPED_TEST_SUITE_P(SeiSliceError, RecordCodecContract, SeiSliceErrorCollections);

TEST(SeiMessageCodec, KeepsMoreSyntaxEntriesThanTheValidatorAllows)
{
    SeiMessageInfo message;
    for (int index = 0; index < 300; ++index) {
        message.syntaxElements.push_back({"element_" + std::to_string(index), -index, ""});
    }
    const std::vector<SeiMessageInfo> messages{message};
    const EncodedCollection<fb::SeiMessageTable> encoded(messages, &SeiMessages::encode);
    const auto* tables = encoded.verified();
    ASSERT_NE(tables, nullptr);
    EXPECT_EQ(SeiMessages::decode(tables), messages);
}

TEST(AnalysisErrorCodec, EmptyStringsAreStoredAndReadBackEmpty)
{
    const std::vector<AnalysisErrorInfo> errors{AnalysisErrorInfo{.code = "x", .detail = ""}};
    const EncodedCollection<fb::AnalysisErrorTable> encoded(errors, &AnalysisErrors::encode);
    const auto& table = encoded.onlyTable();
    const auto* detail = table.detail();
    ASSERT_NE(detail, nullptr);
    EXPECT_EQ(detail->size(), 0u);
    ASSERT_NE(table.component(), nullptr);
    EXPECT_EQ(AnalysisErrors::decode(encoded.verified()), errors);
}

}  // namespace
}  // namespace vexilo::analysis::codec_test
