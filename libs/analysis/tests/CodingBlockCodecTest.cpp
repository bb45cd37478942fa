#include "codec/CodingBlockCodec.h"
#include "codec/ReferenceSlots.h"

#include "RecordTableTestSupport.h"

#include <gtest/gtest.h>

#include <array>

namespace vexilo::analysis::codec_test {
namespace {

using IdentitySlots = std::vector<std::pair<int, StableId>>;

constexpr BlockRect kZeroRect{};

struct Ctus {
    using Record = CtuInfo;
    using Table = fb::CtuTable;
    static constexpr int kSlotCount = 9;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1, 3}; }
    static std::vector<int> zeroDefaultedSlots() { return {7}; }
    static auto encode(flatbuffers::FlatBufferBuilder& builder, const std::vector<Record>& records)
    {
        return encodeCtus(builder, records);
    }
    static std::vector<Record> decode(const slots::TableVector<Table>* tables) { return decodeCtus(tables); }
    static Record everyOptionalZero()
    {
        return {.sliceInfoId = StableId{}, .ctuAddressRs = 0, .ctuAuxValue = 0, .ctuAddressTs = 0,
                .parserErrorCode = 0};
    }
    static Record distinctValues()
    {
        return {.id = {1, 2}, .parentPictureSummaryId = {3, 4}, .sliceInfoId = StableId{5, 6},
                .bounds = {64, 128, 64, 64, 1}, .ctuAddressRs = 17, .ctuAuxValue = 0xDEADBEEF,
                .ctuAddressTs = 18, .parseStatus = BlockParseStatus::Malformed,
                .parserErrorCode = -1094995529};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{4, 4, 17}, {5, 4, 0xDEADBEEF}, {6, 4, 18}, {7, 1, 2}, {8, 4, -1094995529}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {1, 2}}, {1, {3, 4}}, {2, {5, 6}}}; }
};

struct Cus {
    using Record = CuInfo;
    using Table = fb::CuTable;
    static constexpr int kSlotCount = 30;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1, 2}; }
    static std::vector<int> zeroDefaultedSlots() { return {4, 7}; }
    static auto encode(flatbuffers::FlatBufferBuilder& builder, const std::vector<Record>& records)
    {
        return encodeCus(builder, records);
    }
    static std::vector<Record> decode(const slots::TableVector<Table>* tables) { return decodeCus(tables); }
    static Record everyOptionalZero()
    {
        return {.depth = 0, .qp = 0, .parentCuId = StableId{}, .parserErrorCode = 0, .split = false,
                .skip = false, .partitionMode = PartitionMode::Unknown, .pcm = false,
                .transquantBypass = false, .signaledSplit = false, .signaledSkip = false,
                .signaledPredictionMode = PredictionMode::Unknown,
                .signaledPartitionMode = PartitionMode::Unknown, .signaledPcm = false,
                .signaledTransquantBypass = false, .chromaQpCb = 0, .chromaQpCr = 0, .cuQpDelta = 0,
                .chromaQpOffsetFlag = false, .chromaQpOffsetIndex = 0, .chromaQpOffsetCb = 0,
                .chromaQpOffsetCr = 0, .signaledCuQpDelta = 0, .signaledChromaQpOffsetFlag = false,
                .signaledChromaQpOffsetIndex = 0};
    }
    static Record distinctValues()
    {
        return {.id = {1, 2}, .parentCtuId = {3, 4}, .bounds = {8, 16, 8, 8, 1}, .depth = 3,
                .predictionMode = PredictionMode::Inter, .qp = -48, .parentCuId = StableId{7, 8},
                .parseStatus = BlockParseStatus::Parsed, .parserErrorCode = -22, .split = true,
                .skip = false, .partitionMode = PartitionMode::PartnRx2N, .pcm = true,
                .transquantBypass = false, .signaledSplit = true, .signaledSkip = false,
                .signaledPredictionMode = PredictionMode::Skip,
                .signaledPartitionMode = PartitionMode::Part2NxnU, .signaledPcm = true,
                .signaledTransquantBypass = false, .chromaQpCb = -12, .chromaQpCr = 51,
                .cuQpDelta = -32, .chromaQpOffsetFlag = true, .chromaQpOffsetIndex = -5,
                .chromaQpOffsetCb = -12, .chromaQpOffsetCr = 12, .signaledCuQpDelta = 26,
                .signaledChromaQpOffsetFlag = false, .signaledChromaQpOffsetIndex = 4};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{3, 1, 3},   {4, 1, 2},   {5, 2, -48},  {7, 1, 1},   {8, 4, -22},  {9, 1, 1},
                {10, 1, 0},  {11, 1, 8},  {12, 1, 1},   {13, 1, 0},  {14, 1, 1},   {15, 1, 0},
                {16, 1, 3},  {17, 1, 5},  {18, 1, 1},   {19, 1, 0},  {20, 2, -12}, {21, 2, 51},
                {22, 2, -32}, {23, 1, 1}, {24, 1, -5},  {25, 1, -12}, {26, 1, 12}, {27, 2, 26},
                {28, 1, 0},  {29, 1, 4}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {1, 2}}, {1, {3, 4}}, {6, {7, 8}}}; }
};

struct Pus {
    using Record = PuInfo;
    using Table = fb::PuTable;
    static constexpr int kSlotCount = 28;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1, 2}; }
    static std::vector<int> zeroDefaultedSlots() { return {3, 4, 7, 8, 9}; }
    static auto encode(flatbuffers::FlatBufferBuilder& builder, const std::vector<Record>& records)
    {
        return encodePus(builder, records);
    }
    static std::vector<Record> decode(const slots::TableVector<Table>* tables) { return decodePus(tables); }
    static Record everyOptionalZero()
    {
        return {.referencePictureL0Id = StableId{}, .referencePictureL1Id = StableId{},
                .parserErrorCode = 0, .intraLumaMode = 0, .intraChromaMode = 0, .mergeFlag = false,
                .mergeIndex = 0, .refIdxL0 = 0, .refIdxL1 = 0, .refPocL0 = 0, .refPocL1 = 0,
                .refStatusL0 = ReferenceStatus::Unknown, .refStatusL1 = ReferenceStatus::Unknown,
                .signaledIntraLumaMode = 0, .signaledIntraChromaMode = 0, .signaledMergeFlag = false,
                .signaledMergeIndex = 0, .signaledInterDirection = InterDirection::Unknown,
                .signaledRefIdxL0 = 0, .signaledRefIdxL1 = 0};
    }
    static Record distinctValues()
    {
        return {.id = {1, 2}, .parentCuId = {3, 4}, .bounds = {16, 8, 8, 4, 1},
                .partitionMode = PartitionMode::Part2NxN, .interDirection = InterDirection::Bi,
                .referencePictureL0Id = StableId{9, 10}, .referencePictureL1Id = StableId{11, 12},
                .partIndex = 1, .predictionMode = PredictionMode::Inter,
                .parseStatus = BlockParseStatus::Malformed, .parserErrorCode = -1, .intraLumaMode = 26,
                .intraChromaMode = 4, .mergeFlag = true, .mergeIndex = 4, .refIdxL0 = -1, .refIdxL1 = 15,
                .refPocL0 = -8, .refPocL1 = 16, .refStatusL0 = ReferenceStatus::CurrentPicture,
                .refStatusL1 = ReferenceStatus::Corrupt, .signaledIntraLumaMode = 34,
                .signaledIntraChromaMode = 2, .signaledMergeFlag = false, .signaledMergeIndex = 3,
                .signaledInterDirection = InterDirection::L1, .signaledRefIdxL0 = 7,
                .signaledRefIdxL1 = -2};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{3, 1, 2},   {4, 1, 3},   {7, 1, 1},   {8, 1, 2},   {9, 1, 2},   {10, 4, -1},
                {11, 1, 26}, {12, 1, 4},  {13, 1, 1},  {14, 1, 4},  {15, 1, -1}, {16, 1, 15},
                {17, 4, -8}, {18, 4, 16}, {19, 1, 4},  {20, 1, 3},  {21, 1, 34}, {22, 1, 2},
                {23, 1, 0},  {24, 1, 3},  {25, 1, 2},  {26, 1, 7},  {27, 1, -2}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {1, 2}}, {1, {3, 4}}, {5, {9, 10}}, {6, {11, 12}}}; }
};

struct Tus {
    using Record = TuInfo;
    using Table = fb::TuTable;
    static constexpr int kSlotCount = 48;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1, 2}; }
    static std::vector<int> zeroDefaultedSlots() { return {30}; }
    static auto encode(flatbuffers::FlatBufferBuilder& builder, const std::vector<Record>& records)
    {
        return encodeTus(builder, records);
    }
    static std::vector<Record> decode(const slots::TableVector<Table>* tables) { return decodeTus(tables); }
    static Record everyOptionalZero()
    {
        return {.depth = 0, .cbfLuma = false, .cbfCb = false, .cbfCr = false, .parentTuId = StableId{},
                .split = false, .transformSkipLuma = false, .transformSkipCb = false,
                .transformSkipCr = false, .explicitRdpcmLuma = false, .explicitRdpcmCb = false,
                .explicitRdpcmCr = false, .implicitRdpcmLuma = false, .implicitRdpcmCb = false,
                .implicitRdpcmCr = false, .rdpcmDirectionLuma = 0, .rdpcmDirectionCb = 0,
                .rdpcmDirectionCr = 0, .transquantBypass = false, .qp = 0, .chromaQpCb = 0,
                .chromaQpCr = 0, .cuQpDelta = 0, .chromaQpOffsetFlag = false, .chromaQpOffsetIndex = 0,
                .chromaQpOffsetCb = 0, .chromaQpOffsetCr = 0, .parserErrorCode = 0,
                .signaledSplit = false, .signaledCbfLuma = false, .signaledCbfCb = false,
                .signaledCbfCr = false, .signaledTransformSkipLuma = false,
                .signaledTransformSkipCb = false, .signaledTransformSkipCr = false,
                .signaledExplicitRdpcmLuma = false, .signaledExplicitRdpcmCb = false,
                .signaledExplicitRdpcmCr = false, .signaledRdpcmDirectionLuma = 0,
                .signaledRdpcmDirectionCb = 0, .signaledRdpcmDirectionCr = 0, .signaledCuQpDelta = 0,
                .signaledChromaQpOffsetFlag = false, .signaledChromaQpOffsetIndex = 0};
    }
    static Record distinctValues()
    {
        return {.id = {1, 2}, .parentCuId = {3, 4}, .bounds = {32, 32, 16, 16, 1}, .depth = 2,
                .cbfLuma = true, .cbfCb = false, .cbfCr = true, .parentTuId = StableId{13, 14},
                .split = false, .transformSkipLuma = true, .transformSkipCb = false,
                .transformSkipCr = true, .explicitRdpcmLuma = false, .explicitRdpcmCb = true,
                .explicitRdpcmCr = false, .implicitRdpcmLuma = true, .implicitRdpcmCb = false,
                .implicitRdpcmCr = true, .rdpcmDirectionLuma = 1, .rdpcmDirectionCb = 0,
                .rdpcmDirectionCr = 1, .transquantBypass = false, .qp = 37, .chromaQpCb = -6,
                .chromaQpCr = 29, .cuQpDelta = -26, .chromaQpOffsetFlag = true, .chromaQpOffsetIndex = 5,
                .chromaQpOffsetCb = -12, .chromaQpOffsetCr = 11, .parseStatus = BlockParseStatus::Parsed,
                .parserErrorCode = -5, .signaledSplit = true, .signaledCbfLuma = false,
                .signaledCbfCb = true, .signaledCbfCr = false, .signaledTransformSkipLuma = true,
                .signaledTransformSkipCb = false, .signaledTransformSkipCr = true,
                .signaledExplicitRdpcmLuma = false, .signaledExplicitRdpcmCb = true,
                .signaledExplicitRdpcmCr = false, .signaledRdpcmDirectionLuma = 0,
                .signaledRdpcmDirectionCb = 1, .signaledRdpcmDirectionCr = 0, .signaledCuQpDelta = -3,
                .signaledChromaQpOffsetFlag = true, .signaledChromaQpOffsetIndex = -1};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{3, 1, 2},   {4, 1, 1},   {5, 1, 0},   {6, 1, 1},   {8, 1, 0},   {9, 1, 1},
                {10, 1, 0},  {11, 1, 1},  {12, 1, 0},  {13, 1, 1},  {14, 1, 0},  {15, 1, 1},
                {16, 1, 0},  {17, 1, 1},  {18, 1, 1},  {19, 1, 0},  {20, 1, 1},  {21, 1, 0},
                {22, 2, 37}, {23, 2, -6}, {24, 2, 29}, {25, 2, -26}, {26, 1, 1}, {27, 1, 5},
                {28, 1, -12}, {29, 1, 11}, {30, 1, 1}, {31, 4, -5}, {32, 1, 1},  {33, 1, 0},
                {34, 1, 1},  {35, 1, 0},  {36, 1, 1},  {37, 1, 0},  {38, 1, 1},  {39, 1, 0},
                {40, 1, 1},  {41, 1, 0},  {42, 1, 0},  {43, 1, 1},  {44, 1, 0},  {45, 2, -3},
                {46, 1, 1},  {47, 1, -1}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {1, 2}}, {1, {3, 4}}, {7, {13, 14}}}; }
};

struct MotionVectors {
    using Record = MotionVectorInfo;
    using Table = fb::MotionVectorTable;
    static constexpr int kSlotCount = 14;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1}; }
    static std::vector<int> zeroDefaultedSlots() { return {2, 6}; }
    static auto encode(flatbuffers::FlatBufferBuilder& builder, const std::vector<Record>& records)
    {
        return encodeMotionVectors(builder, records);
    }
    static std::vector<Record> decode(const slots::TableVector<Table>* tables)
    {
        return decodeMotionVectors(tables);
    }
    static Record everyOptionalZero()
    {
        return {.referencePictureId = StableId{}, .mvX = 0, .mvY = 0, .referenceIndex = 0,
                .referencePoc = 0, .referenceStatus = ReferenceStatus::Unknown, .mvdX = 0, .mvdY = 0,
                .signaledMvdX = 0, .signaledMvdY = 0};
    }
    static Record distinctValues()
    {
        return {.id = {1, 2}, .parentPuId = {3, 4}, .list = ReferenceList::L1,
                .referencePictureId = StableId{15, 16}, .mvX = -17, .mvY = 33,
                .unit = MotionVectorUnit::QuarterLumaSample, .referenceIndex = 2, .referencePoc = 40,
                .referenceStatus = ReferenceStatus::Available, .mvdX = -4, .mvdY = 8,
                .signaledMvdX = -5, .signaledMvdY = 9};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{2, 1, 2}, {4, 4, -17}, {5, 4, 33},  {6, 1, 1},  {7, 1, 2},
                {8, 4, 40}, {9, 1, 1},  {10, 4, -4}, {11, 4, 8}, {12, 4, -5}, {13, 4, 9}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {1, 2}}, {1, {3, 4}}, {3, {15, 16}}}; }
};

using CodingBlockCollections = ::testing::Types<Ctus, Cus, Pus, Tus, MotionVectors>;
INSTANTIATE_TYPED_TEST_SUITE_P(CodingBlockRecords, RecordCodecContract, CodingBlockCollections);

static_assert(sizeof(fb::BlockRect) == 20 && alignof(fb::BlockRect) == 4);

struct BoundsCase {
    BlockRect bounds;
    std::array<std::uint8_t, 20> stored;
};

class BlockRectStoredForm : public ::testing::TestWithParam<BoundsCase> {};

TEST_P(BlockRectStoredForm, IsTwentyLittleEndianBytesWithZeroPadding)
{
    const CuInfo cu{.bounds = GetParam().bounds};
    const EncodedCollection<fb::CuTable> encoded(std::vector{cu}, &encodeCus);
    const auto& table = encoded.onlyTable();
    const std::uint8_t* stored = slots::asRawTable(table).GetAddressOf(vtableOffsetOfSlot(2));
    ASSERT_NE(stored, nullptr);
    std::array<std::uint8_t, 20> bytes{};
    std::memcpy(bytes.data(), stored, bytes.size());
    EXPECT_EQ(bytes, GetParam().stored);
    EXPECT_EQ(decodeCu(table).bounds, GetParam().bounds);
}

INSTANTIATE_TEST_SUITE_P(
    Rectangles, BlockRectStoredForm,
    ::testing::Values(
        BoundsCase{{64, 0, 32, 32, 1},
                   {0x40, 0, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0, 0x20, 0, 0, 0, 1, 0, 0, 0}},
        // Out-of-range values pass unchanged; the validator judges them.
        BoundsCase{{-8, 0x01020304, 0xFFFFFFFF, 0, 0xAB},
                   {0xF8, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xAB, 0, 0, 0}},
        BoundsCase{kZeroRect, {}}));

TEST(CuRecord, EffectiveAndSignaledFormsStayIndependent)
{
    const CuInfo cu{.split = false, .signaledSplit = true};
    const EncodedCollection<fb::CuTable> encoded(std::vector{cu}, &encodeCus);
    const CuInfo decoded = decodeCu(encoded.onlyTable());
    EXPECT_EQ(decoded.split, std::optional<bool>(false));
    EXPECT_EQ(decoded.skip, std::nullopt);
    EXPECT_EQ(decoded.signaledSplit, std::optional<bool>(true));
}

// A TU from a writer that knew only the first 32 slots: the vtable ends there and every
// signaled field reads absent.
TEST(TuRecord, ShorterVtableReadsSignaledFieldsAbsent)
{
    TuInfo tu = Tus::distinctValues();
    tu.signaledSplit = tu.signaledCbfLuma = tu.signaledCbfCb = tu.signaledCbfCr = std::nullopt;
    tu.signaledTransformSkipLuma = tu.signaledTransformSkipCb = tu.signaledTransformSkipCr = std::nullopt;
    tu.signaledExplicitRdpcmLuma = tu.signaledExplicitRdpcmCb = tu.signaledExplicitRdpcmCr = std::nullopt;
    tu.signaledRdpcmDirectionLuma = tu.signaledRdpcmDirectionCb = tu.signaledRdpcmDirectionCr = std::nullopt;
    tu.signaledCuQpDelta = std::nullopt;
    tu.signaledChromaQpOffsetFlag = std::nullopt;
    tu.signaledChromaQpOffsetIndex = std::nullopt;

    const EncodedCollection<fb::TuTable> encoded(std::vector{tu}, &encodeTus);
    const auto& table = encoded.onlyTable();
    flatbuffers::voffset_t vtableSize = 0;
    std::memcpy(&vtableSize, slots::asRawTable(table).GetVTable(), sizeof vtableSize);
    EXPECT_EQ(vtableSize, vtableOffsetOfSlot(32));
    EXPECT_EQ(decodeTu(table), tu);
}

TEST(StoredBooleans, AnyNonZeroByteReadsTrueInBlockTables)
{
    const auto bytes = HandWrittenTable{}
                           .scalar<std::uint8_t>(9, 7)   // split
                           .scalar<std::uint8_t>(14, 0)  // signaledSplit
                           .finishAsCollection<fb::CuTable>();
    const auto* tables = verifiedTables<fb::CuTable>(bytes);
    ASSERT_NE(tables, nullptr);
    const CuInfo cu = decodeCu(*tables->Get(0));
    EXPECT_EQ(cu.split, std::optional<bool>(true));
    EXPECT_EQ(cu.signaledSplit, std::optional<bool>(false));
    EXPECT_EQ(cu.bounds, kZeroRect);
}

// CUs whose optional fields are present by a fixed pseudo-random sequence: a few dozen vtable
// shapes, recurring from one batch to the next.
std::vector<CuInfo> cusOfManyShapes(std::uint32_t seed)
{
    std::vector<CuInfo> cus;
    std::uint32_t bits = seed;
    for (std::uint64_t index = 0; index < 48; ++index) {
        bits = bits * 1664525U + 1013904223U;
        CuInfo cu;
        cu.id = {0xb, index + 1};
        cu.parentCtuId = {0xa, 1};
        cu.depth = (bits & 0x100U) != 0 ? std::optional<std::uint8_t>(1) : std::nullopt;
        cu.qp = (bits & 0x200U) != 0 ? std::optional<std::int16_t>(30) : std::nullopt;
        cu.split = (bits & 0x400U) != 0 ? std::optional<bool>(false) : std::nullopt;
        cu.signaledSkip = (bits & 0x800U) != 0 ? std::optional<bool>(true) : std::nullopt;
        cu.chromaQpCb = (bits & 0x1000U) != 0 ? std::optional<std::int16_t>(-2) : std::nullopt;
        cu.parentCuId = (bits & 0x2000U) != 0 ? std::optional<StableId>(StableId{0xb, 1}) : std::nullopt;
        cus.push_back(cu);
    }
    return cus;
}

// Batches through the builder's own record encoders, then through FlatBuffers' search (the
// collection encoder takes the base class), then through its own again.
template <typename Builder>
std::vector<std::uint8_t> encodeBatches(Builder& builder)
{
    const std::vector batches{slots::encodeRecords<fb::CuTable>(builder, cusOfManyShapes(1)),
                              encodeCus(builder, cusOfManyShapes(2)),
                              slots::encodeRecords<fb::CuTable>(builder, cusOfManyShapes(3))};
    builder.Finish(builder.CreateVector(batches));
    return {builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize()};
}

// Every vtable written once, whichever search found the earlier equal one.
TEST(IndexedVtableBuilder, WritesTheBytesOfFlatBuffersOwnSearch)
{
    flatbuffers::FlatBufferBuilder plain;
    slots::IndexedVtableBuilder indexed;
    const std::vector<std::uint8_t> expected = encodeBatches(plain);
    EXPECT_EQ(encodeBatches(indexed), expected);
}

}  // namespace
}  // namespace vexilo::analysis::codec_test
