#include "codec/PictureReferenceCodec.h"

#include "RecordTableTestSupport.h"

#include <gtest/gtest.h>

namespace vexilo::analysis::codec_test {
namespace {

using IdentitySlots = std::vector<std::pair<int, StableId>>;

struct PictureSummaries {
    using Record = PictureAnalysisSummary;
    using Table = fb::PictureSummaryTable;
    static constexpr int kSlotCount = 18;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1}; }
    static std::vector<int> zeroDefaultedSlots() { return {8, 17}; }
    static auto encode(flatbuffers::FlatBufferBuilder& builder, const std::vector<Record>& records)
    {
        return encodePictureSummaries(builder, records);
    }
    static std::vector<Record> decode(const slots::TableVector<Table>* tables)
    {
        // The document reader decodes this collection itself, one summary at a time.
        std::vector<Record> records;
        if (tables != nullptr) {
            for (const Table* table : *tables) {
                records.push_back(decodePictureSummary(*table));
            }
        }
        return records;
    }
    static Record everyOptionalZero()
    {
        return {.pictureId = 0, .displayIndex = 0, .decodeIndex = 0, .pts = 0, .dts = 0, .poc = 0,
                .width = 0, .height = 0, .bitDepth = 0, .sliceCount = 0, .ctuCount = 0, .cuCount = 0,
                .puCount = 0, .tuCount = 0};
    }
    static Record distinctValues()
    {
        return {.id = {0x1111, 0x2222}, .parentStreamAnalysisId = {0x3333, 0x4444},
                .pictureId = 0x0102030405060708, .displayIndex = -7, .decodeIndex = 9,
                .pts = -1234567890123, .dts = 1234567890123, .poc = -3, .pictureType = PictureType::B,
                .width = 1920, .height = 1080, .bitDepth = 10, .sliceCount = 4, .ctuCount = 510,
                .cuCount = 5000000000, .puCount = 6000000001, .tuCount = 7000000002,
                .completeness = PictureCompleteness::Complete};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{2, 8, 0x0102030405060708}, {3, 8, -7},           {4, 8, 9},
                {5, 8, -1234567890123},     {6, 8, 1234567890123}, {7, 4, -3},
                {8, 1, 3},                  {9, 4, 1920},          {10, 4, 1080},
                {11, 1, 10},                {12, 4, 4},            {13, 4, 510},
                {14, 8, 5000000000},        {15, 8, 6000000001},   {16, 8, 7000000002},
                {17, 1, 2}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {0x1111, 0x2222}}, {1, {0x3333, 0x4444}}}; }
};

struct ReferencePictures {
    using Record = ReferencePictureEntry;
    using Table = fb::ReferencePictureTable;
    static constexpr int kSlotCount = 9;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1}; }
    static std::vector<int> zeroDefaultedSlots() { return {2, 7}; }
    static auto encode(flatbuffers::FlatBufferBuilder& builder, const std::vector<Record>& records)
    {
        return encodeReferencePictures(builder, records);
    }
    static std::vector<Record> decode(const slots::TableVector<Table>* tables)
    {
        return decodeReferencePictures(tables);
    }
    static Record everyOptionalZero()
    {
        return {.listIndex = 0, .targetPictureId = 0, .poc = 0, .longTerm = false,
                .origin = ValueOrigin::Unknown};
    }
    static Record distinctValues()
    {
        return {.id = {1, 2}, .parentSliceId = {3, 4}, .list = ReferenceList::L1, .listIndex = 3,
                .targetPictureId = 0x7766554433221100, .poc = -16, .longTerm = true,
                .status = ReferenceStatus::Unavailable, .origin = ValueOrigin::SliceHeader};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{2, 1, 2}, {3, 1, 3}, {4, 8, 0x7766554433221100}, {5, 4, -16}, {6, 1, 1}, {7, 1, 2}, {8, 1, 1}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {1, 2}}, {1, {3, 4}}}; }
};

struct ShortTermReferences {
    using Record = ShortTermReferencePictureEntry;
    using Table = fb::ShortTermReferenceTable;
    static constexpr int kSlotCount = 9;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1}; }
    static std::vector<int> zeroDefaultedSlots() { return {8}; }
    static auto encode(flatbuffers::FlatBufferBuilder& builder, const std::vector<Record>& records)
    {
        return encodeShortTermReferencePictures(builder, records);
    }
    static std::vector<Record> decode(const slots::TableVector<Table>* tables)
    {
        return decodeShortTermReferencePictures(tables);
    }
    static Record everyOptionalZero()
    {
        return {.entryIndex = 0, .deltaPoc = 0, .poc = 0, .used = false, .negative = false,
                .deltaPocOrigin = ValueOrigin::Unknown, .usedOrigin = ValueOrigin::Unknown};
    }
    static Record distinctValues()
    {
        return {.id = {5, 6}, .parentSliceId = {7, 8}, .entryIndex = 5, .deltaPoc = -4, .poc = 12,
                .used = true, .negative = false, .deltaPocOrigin = ValueOrigin::Sps,
                .usedOrigin = ValueOrigin::SliceHeader};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{2, 1, 5}, {3, 4, -4}, {4, 4, 12}, {5, 1, 1}, {6, 1, 0}, {7, 1, 2}, {8, 1, 1}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {5, 6}}, {1, {7, 8}}}; }
};

struct LongTermReferences {
    using Record = LongTermReferencePictureEntry;
    using Table = fb::LongTermReferenceTable;
    static constexpr int kSlotCount = 9;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1}; }
    static std::vector<int> zeroDefaultedSlots() { return {8}; }
    static auto encode(flatbuffers::FlatBufferBuilder& builder, const std::vector<Record>& records)
    {
        return encodeLongTermReferencePictures(builder, records);
    }
    static std::vector<Record> decode(const slots::TableVector<Table>* tables)
    {
        return decodeLongTermReferencePictures(tables);
    }
    static Record everyOptionalZero()
    {
        return {.entryIndex = 0, .pocLsb = 0, .poc = 0, .used = false, .deltaPocMsbPresent = false,
                .deltaPocMsbCycle = 0};
    }
    static Record distinctValues()
    {
        return {.id = {9, 10}, .parentSliceId = {11, 12}, .entryIndex = 1, .pocLsb = 200, .poc = -300,
                .used = false, .deltaPocMsbPresent = true, .deltaPocMsbCycle = 70000,
                .origin = ValueOrigin::SliceHeader};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{2, 1, 1}, {3, 4, 200}, {4, 4, -300}, {5, 1, 0}, {6, 1, 1}, {7, 4, 70000}, {8, 1, 1}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {9, 10}}, {1, {11, 12}}}; }
};

struct DpbSnapshots {
    using Record = DpbSnapshotEntry;
    using Table = fb::DpbSnapshotEntryTable;
    static constexpr int kSlotCount = 12;
    static std::vector<int> alwaysWrittenSlots() { return {0, 1}; }
    static std::vector<int> zeroDefaultedSlots() { return {10}; }
    static auto encode(flatbuffers::FlatBufferBuilder& builder, const std::vector<Record>& records)
    {
        return encodeDpbSnapshotEntries(builder, records);
    }
    static std::vector<Record> decode(const slots::TableVector<Table>* tables)
    {
        return decodeDpbSnapshotEntries(tables);
    }
    static Record everyOptionalZero()
    {
        return {.slot = 0, .pictureId = 0, .poc = 0, .output = false, .shortTermReference = false,
                .longTermReference = false, .frameFlag3 = false, .frameFlag4 = false,
                .origin = ValueOrigin::Unknown};
    }
    static Record distinctValues()
    {
        return {.id = {13, 14}, .parentSliceId = {15, 16}, .slot = 15, .pictureId = 0x1234567890, .poc = 64,
                .output = true, .shortTermReference = false, .longTermReference = true,
                .frameFlag3 = false, .frameFlag4 = true, .status = ReferenceStatus::Available,
                .origin = ValueOrigin::Sps};
    }
    static std::vector<StoredScalar> distinctScalars()
    {
        return {{2, 1, 15}, {3, 8, 0x1234567890}, {4, 4, 64}, {5, 1, 1},  {6, 1, 0},
                {7, 1, 1},  {8, 1, 0},            {9, 1, 1},  {10, 1, 1}, {11, 1, 2}};
    }
    static IdentitySlots distinctIdentities() { return {{0, {13, 14}}, {1, {15, 16}}}; }
};

using PictureAndReferenceCollections =
    ::testing::Types<PictureSummaries, ReferencePictures, ShortTermReferences, LongTermReferences, DpbSnapshots>;
INSTANTIATE_TYPED_TEST_SUITE_P(PictureRecords, RecordCodecContract, PictureAndReferenceCollections);

// Origin fields default per table: 3 (derived) in some, 0 in others.
TEST(ReferenceOriginDefaults, MissingOriginSlotsReadTheirTablesDefault)
{
    const auto listBytes = HandWrittenTable{}.finishAsCollection<fb::ReferencePictureTable>();
    const auto shortTermBytes = HandWrittenTable{}.finishAsCollection<fb::ShortTermReferenceTable>();
    const auto longTermBytes = HandWrittenTable{}.finishAsCollection<fb::LongTermReferenceTable>();
    const auto dpbBytes = HandWrittenTable{}.finishAsCollection<fb::DpbSnapshotEntryTable>();

    EXPECT_EQ(decodeReferencePicture(*verifiedTables<fb::ReferencePictureTable>(listBytes)->Get(0)).origin,
              ValueOrigin::Derived);
    const auto shortTerm =
        decodeShortTermReferencePicture(*verifiedTables<fb::ShortTermReferenceTable>(shortTermBytes)->Get(0));
    EXPECT_EQ(shortTerm.deltaPocOrigin, ValueOrigin::Derived);
    EXPECT_EQ(shortTerm.usedOrigin, ValueOrigin::Unknown);
    EXPECT_EQ(decodeLongTermReferencePicture(*verifiedTables<fb::LongTermReferenceTable>(longTermBytes)->Get(0)).origin,
              ValueOrigin::Unknown);
    EXPECT_EQ(decodeDpbSnapshotEntry(*verifiedTables<fb::DpbSnapshotEntryTable>(dpbBytes)->Get(0)).origin,
              ValueOrigin::Derived);
}

struct OriginCase {
    ValueOrigin origin;
    bool slotWritten;
};

class ReferenceListEntryOrigin : public ::testing::TestWithParam<OriginCase> {};

TEST_P(ReferenceListEntryOrigin, IsLeftOutOnlyWhenDerived)
{
    const ReferencePictureEntry entry{.origin = GetParam().origin};
    const EncodedCollection<fb::ReferencePictureTable> encoded(std::vector{entry}, &encodeReferencePictures);
    const auto& table = encoded.onlyTable();
    EXPECT_EQ(slots::asRawTable(table).CheckField(vtableOffsetOfSlot(8)), GetParam().slotWritten);
    EXPECT_EQ(decodeReferencePicture(table).origin, GetParam().origin);
}

INSTANTIATE_TEST_SUITE_P(Origins, ReferenceListEntryOrigin,
                         ::testing::Values(OriginCase{ValueOrigin::Derived, false},
                                           OriginCase{ValueOrigin::Unknown, true},
                                           OriginCase{ValueOrigin::SliceHeader, true},
                                           OriginCase{ValueOrigin{200}, true}));

struct PictureTypeCase {
    std::uint32_t recordValue;
    bool slotWritten;
    std::uint8_t storedByte;
    std::uint32_t readBack;
};

class PictureTypeWidth : public ::testing::TestWithParam<PictureTypeCase> {};

// The record keeps 32 bits, the table one byte.
TEST_P(PictureTypeWidth, KeepsTheLowByte)
{
    const auto& testCase = GetParam();
    const PictureAnalysisSummary summary{.pictureType = PictureType{testCase.recordValue}};
    const EncodedCollection<fb::PictureSummaryTable> encoded(std::vector{summary}, &encodePictureSummaries);
    const auto& table = encoded.onlyTable();
    const std::uint8_t* stored = slots::asRawTable(table).GetAddressOf(vtableOffsetOfSlot(8));
    ASSERT_EQ(stored != nullptr, testCase.slotWritten);
    if (stored != nullptr) {
        EXPECT_EQ(*stored, testCase.storedByte);
    }
    EXPECT_EQ(static_cast<std::uint32_t>(decodePictureSummary(table).pictureType), testCase.readBack);
}

INSTANTIATE_TEST_SUITE_P(Codes, PictureTypeWidth,
                         ::testing::Values(PictureTypeCase{3, true, 3, 3}, PictureTypeCase{0, false, 0, 0},
                                           PictureTypeCase{0x103, true, 3, 3},
                                           PictureTypeCase{0x100, false, 0, 0}));

TEST(StoredBooleans, AnyNonZeroByteReadsTrue)
{
    const auto bytes = HandWrittenTable{}
                           .scalar<std::uint8_t>(5, 2)     // used
                           .scalar<std::uint8_t>(6, 0)     // negative
                           .finishAsCollection<fb::ShortTermReferenceTable>();
    const auto* tables = verifiedTables<fb::ShortTermReferenceTable>(bytes);
    ASSERT_NE(tables, nullptr);
    const auto entry = decodeShortTermReferencePicture(*tables->Get(0));
    EXPECT_EQ(entry.used, std::optional<bool>(true));
    EXPECT_EQ(entry.negative, std::optional<bool>(false));
}

// A picture summary laid out by hand: root offset, a vtable of three slots, then the table
// with `pictureId` at the given distance from the table start.
std::vector<std::uint8_t> summaryWithPictureIdAt(std::uint16_t fieldOffset)
{
    constexpr std::uint32_t kTableStart = 16;
    const auto tableSize = static_cast<std::uint16_t>(fieldOffset + 8);
    std::vector<std::uint8_t> bytes(kTableStart + tableSize, 0);
    const auto put = [&bytes](std::size_t at, auto value) { std::memcpy(bytes.data() + at, &value, sizeof value); };
    put(0, kTableStart);                                // root table offset
    put(4, std::uint16_t{10});                          // vtable size: header and three slots
    put(6, tableSize);                                  // table size
    put(8, std::uint16_t{0});                           // id: missing
    put(10, std::uint16_t{0});                          // parentStreamAnalysisId: missing
    put(12, fieldOffset);                               // pictureId
    put(kTableStart, std::int32_t{kTableStart - 4});    // table -> vtable
    put(kTableStart + fieldOffset, std::uint64_t{42});
    return bytes;
}

struct AlignmentCase {
    std::uint16_t fieldOffset;
    bool verifies;
};

class PictureSummaryAlignment : public ::testing::TestWithParam<AlignmentCase> {};

TEST_P(PictureSummaryAlignment, RejectsMisalignedWideField)
{
    const auto bytes = summaryWithPictureIdAt(GetParam().fieldOffset);
    flatbuffers::Verifier verifier(bytes.data(), bytes.size());
    ASSERT_NE(verifier.VerifyOffset(0), 0u);
    const auto* table = flatbuffers::GetRoot<fb::PictureSummaryTable>(bytes.data());
    EXPECT_EQ(verifyPictureSummaryTable(verifier, *table), GetParam().verifies);
    if (GetParam().verifies) {
        EXPECT_EQ(decodePictureSummary(*table).pictureId, std::optional<std::uint64_t>(42));
    }
}

INSTANTIATE_TEST_SUITE_P(Offsets, PictureSummaryAlignment,
                         ::testing::Values(AlignmentCase{8, true}, AlignmentCase{4, false},
                                           AlignmentCase{12, false}));

}  // namespace
}  // namespace vexilo::analysis::codec_test
