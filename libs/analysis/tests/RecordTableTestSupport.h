#pragma once

// Helpers for record-level codec tests: a collection encoded as the root vector of a
// buffer, verified like the reader verifies it, and raw looks at the stored slots.

#include "codec/RecordSlots.h"

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace vexilo::analysis::codec_test {

// Null unless the buffer's root vector passes the verifier with its default options.
template <typename Table>
const slots::TableVector<Table>* verifiedTables(const std::vector<std::uint8_t>& bytes)
{
    flatbuffers::Verifier verifier(bytes.data(), bytes.size());
    if (verifier.VerifyOffset(0) == 0) {
        return nullptr;
    }
    const auto* tables = flatbuffers::GetRoot<slots::TableVector<Table>>(bytes.data());
    return slots::verifyTableVector(verifier, tables) ? tables : nullptr;
}

template <typename Table>
class EncodedCollection {
public:
    template <typename Record, typename EncodeCollection>
    EncodedCollection(const std::vector<Record>& records, EncodeCollection encodeCollection)
    {
        builder_.Finish(encodeCollection(builder_, records));
        bytes_.assign(builder_.GetBufferPointer(), builder_.GetBufferPointer() + builder_.GetSize());
    }

    [[nodiscard]] const slots::TableVector<Table>* verified() const { return verifiedTables<Table>(bytes_); }
    [[nodiscard]] const std::vector<std::uint8_t>& bytes() const { return bytes_; }

    [[nodiscard]] const Table& onlyTable() const
    {
        const auto* tables = verified();
        EXPECT_NE(tables, nullptr);
        EXPECT_EQ(tables->size(), 1u);
        return *tables->Get(0);
    }

private:
    flatbuffers::FlatBufferBuilder builder_{1024};
    std::vector<std::uint8_t> bytes_;
};

inline constexpr flatbuffers::voffset_t vtableOffsetOfSlot(int slot)
{
    return static_cast<flatbuffers::voffset_t>(4 + 2 * slot);
}

template <typename Table>
std::vector<int> presentSlots(const Table& table, int slotCount)
{
    const flatbuffers::Table& raw = slots::asRawTable(table);
    std::vector<int> present;
    for (int slot = 0; slot < slotCount; ++slot) {
        if (raw.CheckField(vtableOffsetOfSlot(slot))) {
            present.push_back(slot);
        }
    }
    return present;
}

// One stored scalar: its slot, its width in bytes and its value (two's complement for
// signed fields, so -1 in a byte is 0xFF).
struct StoredScalar {
    int slot;
    int width;
    std::int64_t value;
};

template <typename Table>
void expectStoredScalars(const Table& table, const std::vector<StoredScalar>& expected)
{
    const flatbuffers::Table& raw = slots::asRawTable(table);
    for (const StoredScalar& field : expected) {
        SCOPED_TRACE(::testing::Message() << "slot " << field.slot);
        const std::uint8_t* address = raw.GetAddressOf(vtableOffsetOfSlot(field.slot));
        ASSERT_NE(address, nullptr);
        std::uint64_t stored = 0;
        std::memcpy(&stored, address, static_cast<std::size_t>(field.width));  // little-endian host
        const std::uint64_t mask =
            field.width == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * field.width)) - 1;
        EXPECT_EQ(stored, static_cast<std::uint64_t>(field.value) & mask);
    }
}

inline void expectStoredStableId(const flatbuffers::Table& raw, int slot, const StableId& expected)
{
    SCOPED_TRACE(::testing::Message() << "identity slot " << slot);
    const std::uint8_t* address = raw.GetAddressOf(vtableOffsetOfSlot(slot));
    ASSERT_NE(address, nullptr);
    std::uint64_t words[2] = {};
    std::memcpy(words, address, sizeof words);  // high first, little-endian host
    EXPECT_EQ(words[0], expected.high);
    EXPECT_EQ(words[1], expected.low);
}

// Builds one table by hand from raw slots, as a writer other than ours would.
class HandWrittenTable {
public:
    template <typename Scalar>
    HandWrittenTable& scalar(int slot, Scalar value)
    {
        pending_.push_back([slot, value](flatbuffers::FlatBufferBuilder& builder) {
            builder.AddElement<Scalar>(vtableOffsetOfSlot(slot), value);
        });
        return *this;
    }

    template <typename Table>
    std::vector<std::uint8_t> finishAsCollection()
    {
        flatbuffers::FlatBufferBuilder builder;
        const auto start = builder.StartTable();
        for (const auto& add : pending_) {
            add(builder);
        }
        const flatbuffers::Offset<Table> table(builder.EndTable(start));
        builder.Finish(builder.CreateVector(&table, 1));
        return {builder.GetBufferPointer(), builder.GetBufferPointer() + builder.GetSize()};
    }

private:
    std::vector<std::function<void(flatbuffers::FlatBufferBuilder&)>> pending_;
};

// The contract every record codec keeps, checked per collection. A traits type gives:
// Record, Table, kSlotCount, alwaysWrittenSlots(), zeroDefaultedSlots() (plain scalars
// whose default is 0), encode/decode of a collection, everyOptionalZero(), and
// distinctValues() with its stored form distinctScalars() and distinctIdentities().
template <typename Traits>
class RecordCodecContract : public ::testing::Test {
protected:
    static std::vector<typename Traits::Record> roundTrip(const std::vector<typename Traits::Record>& records)
    {
        const EncodedCollection<typename Traits::Table> encoded(records, &Traits::encode);
        const auto* tables = encoded.verified();
        EXPECT_NE(tables, nullptr);
        return tables != nullptr ? Traits::decode(tables) : std::vector<typename Traits::Record>{};
    }

    static std::vector<int> allSlots()
    {
        std::vector<int> slots(static_cast<std::size_t>(Traits::kSlotCount));
        for (int slot = 0; slot < Traits::kSlotCount; ++slot) {
            slots[static_cast<std::size_t>(slot)] = slot;
        }
        return slots;
    }
};

TYPED_TEST_SUITE_P(RecordCodecContract);

TYPED_TEST_P(RecordCodecContract, RoundTripsEveryShapeInOrder)
{
    using Traits = TypeParam;
    using Record = typename Traits::Record;
    const std::vector<Record> records{Record{}, Traits::everyOptionalZero(), Traits::distinctValues()};
    EXPECT_EQ(this->roundTrip(records), records);
}

TYPED_TEST_P(RecordCodecContract, DefaultRecordStoresOnlyTheAlwaysWrittenSlots)
{
    using Traits = TypeParam;
    const EncodedCollection<typename Traits::Table> encoded(
        std::vector<typename Traits::Record>{typename Traits::Record{}}, &Traits::encode);
    EXPECT_EQ(presentSlots(encoded.onlyTable(), Traits::kSlotCount), Traits::alwaysWrittenSlots());
}

TYPED_TEST_P(RecordCodecContract, OptionalZeroIsWrittenButDefaultedZeroIsNot)
{
    using Traits = TypeParam;
    const EncodedCollection<typename Traits::Table> encoded(
        std::vector<typename Traits::Record>{Traits::everyOptionalZero()}, &Traits::encode);
    std::vector<int> expected;
    const std::vector<int> defaulted = Traits::zeroDefaultedSlots();
    for (int slot : this->allSlots()) {
        if (std::find(defaulted.begin(), defaulted.end(), slot) == defaulted.end()) {
            expected.push_back(slot);
        }
    }
    EXPECT_EQ(presentSlots(encoded.onlyTable(), Traits::kSlotCount), expected);
}

TYPED_TEST_P(RecordCodecContract, EachMemberLandsInItsSlotWithItsWidth)
{
    using Traits = TypeParam;
    const EncodedCollection<typename Traits::Table> encoded(
        std::vector<typename Traits::Record>{Traits::distinctValues()}, &Traits::encode);
    const auto& table = encoded.onlyTable();
    EXPECT_EQ(presentSlots(table, Traits::kSlotCount), this->allSlots());
    expectStoredScalars(table, Traits::distinctScalars());
    for (const auto& [slot, id] : Traits::distinctIdentities()) {
        expectStoredStableId(slots::asRawTable(table), slot, id);
    }
}

TYPED_TEST_P(RecordCodecContract, TableWithoutFieldsReadsTheMissingFieldValues)
{
    using Traits = TypeParam;
    using Table = typename Traits::Table;
    const std::vector<std::uint8_t> bytes = HandWrittenTable{}.finishAsCollection<Table>();
    const auto* tables = verifiedTables<Table>(bytes);
    ASSERT_NE(tables, nullptr);
    EXPECT_EQ(Traits::decode(tables), std::vector<typename Traits::Record>{typename Traits::Record{}});
}

TYPED_TEST_P(RecordCodecContract, EmptyCollectionIsWrittenAndMissingOneReadsEmpty)
{
    using Traits = TypeParam;
    using Table = typename Traits::Table;
    const EncodedCollection<Table> encoded(std::vector<typename Traits::Record>{}, &Traits::encode);
    const auto* tables = encoded.verified();
    ASSERT_NE(tables, nullptr);
    EXPECT_EQ(tables->size(), 0u);
    EXPECT_TRUE(Traits::decode(tables).empty());
    EXPECT_TRUE(Traits::decode(nullptr).empty());
}

REGISTER_TYPED_TEST_SUITE_P(RecordCodecContract, RoundTripsEveryShapeInOrder,
                            DefaultRecordStoresOnlyTheAlwaysWrittenSlots,
                            OptionalZeroIsWrittenButDefaultedZeroIsNot,
                            EachMemberLandsInItsSlotWithItsWidth,
                            TableWithoutFieldsReadsTheMissingFieldValues,
                            EmptyCollectionIsWrittenAndMissingOneReadsEmpty);

}  // namespace vexilo::analysis::codec_test
