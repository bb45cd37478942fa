#pragma once

// Record <-> table mapping driven by one slot list per record: each entry names a record
// member and its vtable offset, and the generic walkers below encode, decode and verify
// every slot the same way. The slot lists live next to the codec of each record family.

#include "vexilo/analysis/HugePages.h"
#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/fb/common_types_generated.h"

#include "codec/IndexedVtableBuilder.h"

#include <flatbuffers/flatbuffers.h>

#include <cstddef>
#include <optional>
#include <tuple>
#include <type_traits>
#include <vector>

namespace vexilo::analysis::slots {

// How an inline struct member is carried; specialised once per struct type.
template <typename Value>
struct StructCodec;

template <>
struct StructCodec<StableId> {
    using Stored = fb::StableId;
    static Stored encode(const StableId& id) { return Stored(id.high, id.low); }
    static StableId decode(const Stored& stored) { return {stored.high(), stored.low()}; }
};

template <typename Value>
concept InlineStruct = requires { typename StructCodec<Value>::Stored; };

// The stored scalar of a member: enumerations by the width of their code, booleans as u8.
template <typename Value>
struct NaturalStored {
    using Type = Value;
};
template <>
struct NaturalStored<bool> {
    using Type = std::uint8_t;
};
template <typename Value>
    requires std::is_enum_v<Value>
struct NaturalStored<Value> {
    using Type = std::underlying_type_t<Value>;
};

template <typename Stored, typename Value>
constexpr Stored toStored(Value value)
{
    if constexpr (std::is_same_v<Value, bool>) {
        return static_cast<Stored>(value ? 1 : 0);
    } else if constexpr (std::is_enum_v<Value>) {
        // A code wider than its stored form keeps its low bits only.
        return static_cast<Stored>(static_cast<std::underlying_type_t<Value>>(value));
    } else {
        return static_cast<Stored>(value);
    }
}

template <typename Value, typename Stored>
constexpr Value fromStored(Stored stored)
{
    if constexpr (std::is_same_v<Value, bool>) {
        // Any non-zero byte is true, whoever wrote it.
        return stored != 0;
    } else if constexpr (std::is_enum_v<Value>) {
        return static_cast<Value>(static_cast<std::underlying_type_t<Value>>(stored));
    } else {
        return static_cast<Value>(stored);
    }
}

// The generated accessor classes derive privately from flatbuffers::Table and add no
// data, so a table is its own flatbuffers::Table at the same address.
template <typename Table>
const flatbuffers::Table& asRawTable(const Table& table)
{
    return *reinterpret_cast<const flatbuffers::Table*>(&table);
}

// A struct written always; a table without it reads as the zero value.
template <typename Record, InlineStruct Value>
struct RequiredStructSlot {
    using Stored = typename StructCodec<Value>::Stored;
    static constexpr std::size_t alignment = alignof(Stored);

    Value Record::*member;
    flatbuffers::voffset_t offset;

    void encode(flatbuffers::FlatBufferBuilder& builder, const Record& record) const
    {
        const Stored stored = StructCodec<Value>::encode(record.*member);
        builder.AddStruct(offset, &stored);
    }
    void decode(const flatbuffers::Table& table, Record& record) const
    {
        const auto* stored = table.GetStruct<const Stored*>(offset);
        record.*member = stored ? StructCodec<Value>::decode(*stored) : Value{};
    }
};

// A struct written exactly when present.
template <typename Record, InlineStruct Value>
struct OptionalStructSlot {
    using Stored = typename StructCodec<Value>::Stored;
    static constexpr std::size_t alignment = alignof(Stored);

    std::optional<Value> Record::*member;
    flatbuffers::voffset_t offset;

    void encode(flatbuffers::FlatBufferBuilder& builder, const Record& record) const
    {
        if (const auto& value = record.*member) {
            const Stored stored = StructCodec<Value>::encode(*value);
            builder.AddStruct(offset, &stored);
        }
    }
    void decode(const flatbuffers::Table& table, Record& record) const
    {
        const auto* stored = table.GetStruct<const Stored*>(offset);
        record.*member = stored ? std::optional<Value>(StructCodec<Value>::decode(*stored))
                                : std::nullopt;
    }
};

// An optional scalar: written exactly when present, whatever its value.
template <typename Record, typename Value, typename Stored>
struct OptionalScalarSlot {
    static constexpr std::size_t alignment = sizeof(Stored);

    std::optional<Value> Record::*member;
    flatbuffers::voffset_t offset;

    void encode(flatbuffers::FlatBufferBuilder& builder, const Record& record) const
    {
        if (const auto& value = record.*member) {
            builder.AddElement<Stored>(offset, toStored<Stored>(*value));
        }
    }
    void decode(const flatbuffers::Table& table, Record& record) const
    {
        const auto stored = table.GetOptional<Stored, Stored>(offset);
        record.*member = stored ? std::optional<Value>(fromStored<Value>(*stored)) : std::nullopt;
    }
};

// A plain scalar: left out when it equals the table's default, read as that default when
// missing.
template <typename Record, typename Value, typename Stored>
struct DefaultedScalarSlot {
    static constexpr std::size_t alignment = sizeof(Stored);

    Value Record::*member;
    flatbuffers::voffset_t offset;
    Stored defaultValue;

    void encode(flatbuffers::FlatBufferBuilder& builder, const Record& record) const
    {
        builder.AddElement<Stored>(offset, toStored<Stored>(record.*member), defaultValue);
    }
    void decode(const flatbuffers::Table& table, Record& record) const
    {
        record.*member = fromStored<Value>(table.GetField<Stored>(offset, defaultValue));
    }
};

template <typename Record, typename Value>
constexpr auto slot(std::optional<Value> Record::*member, flatbuffers::voffset_t offset)
{
    if constexpr (InlineStruct<Value>) {
        return OptionalStructSlot<Record, Value>{member, offset};
    } else {
        return OptionalScalarSlot<Record, Value, typename NaturalStored<Value>::Type>{member, offset};
    }
}

template <typename Record, typename Value>
constexpr auto slot(Value Record::*member, flatbuffers::voffset_t offset, Value defaultValue = Value{})
{
    if constexpr (InlineStruct<Value>) {
        return RequiredStructSlot<Record, Value>{member, offset};
    } else {
        using Stored = typename NaturalStored<Value>::Type;
        return DefaultedScalarSlot<Record, Value, Stored>{member, offset,
                                                          toStored<Stored>(defaultValue)};
    }
}

// A plain scalar stored narrower than its record member (only its low bits are kept).
template <typename Stored, typename Record, typename Value>
constexpr auto narrowedSlot(Value Record::*member, flatbuffers::voffset_t offset)
{
    return DefaultedScalarSlot<Record, Value, Stored>{member, offset, Stored{}};
}

// Fields are added widest alignment first so that the table carries no padding between
// them; the order does not change the table's meaning.
template <std::size_t Alignment, typename Record, typename Slot>
void encodeIfAligned(const Slot& field, flatbuffers::FlatBufferBuilder& builder, const Record& record)
{
    if constexpr (Slot::alignment == Alignment) {
        field.encode(builder, record);
    }
}

// Tables of a builder that indexes its vtables look the equal vtable up in the index.
inline flatbuffers::uoffset_t endTable(flatbuffers::FlatBufferBuilder& builder, flatbuffers::uoffset_t start)
{
    return builder.EndTable(start);
}
inline flatbuffers::uoffset_t endTable(IndexedVtableBuilder& builder, flatbuffers::uoffset_t start)
{
    return builder.EndTableIndexed(start);
}

template <typename Table, typename Builder, typename Record, typename... Slots>
flatbuffers::Offset<Table> encodeTable(Builder& builder, const Record& record, const std::tuple<Slots...>& slotList)
{
    const auto start = builder.StartTable();
    std::apply(
        [&](const auto&... field) {
            (encodeIfAligned<8>(field, builder, record), ...);
            (encodeIfAligned<4>(field, builder, record), ...);
            (encodeIfAligned<2>(field, builder, record), ...);
            (encodeIfAligned<1>(field, builder, record), ...);
        },
        slotList);
    return flatbuffers::Offset<Table>(endTable(builder, start));
}

template <typename Record, typename Table, typename... Slots>
Record decodeTable(const Table& table, const std::tuple<Slots...>& slotList)
{
    const flatbuffers::Table& raw = asRawTable(table);
    Record record;
    std::apply([&](const auto&... field) { (field.decode(raw, record), ...); }, slotList);
    return record;
}

// Collections: a vector of tables in record order.
template <typename Table>
using TableVector = flatbuffers::Vector<flatbuffers::Offset<Table>>;

// A missing vector is an empty collection.
template <typename Record, typename Table, typename... Slots>
std::vector<Record> decodeCollection(const TableVector<Table>* tables, const std::tuple<Slots...>& slotList)
{
    std::vector<Record> records;
    if (tables == nullptr) {
        return records;
    }
    reserveOnHugePages(records, tables->size());
    for (const Table* table : *tables) {
        records.push_back(decodeTable<Record>(*table, slotList));
    }
    return records;
}

// An empty collection still gives an (empty) vector.
template <typename Table, typename Record, typename... Slots>
flatbuffers::Offset<TableVector<Table>> encodeCollection(flatbuffers::FlatBufferBuilder& builder,
                                                         const std::vector<Record>& records,
                                                         const std::tuple<Slots...>& slotList)
{
    std::vector<flatbuffers::Offset<Table>> offsets;
    reserveOnHugePages(offsets, records.size());
    for (const Record& record : records) {
        offsets.push_back(encodeTable<Table>(builder, record, slotList));
    }
    return builder.CreateVector(offsets);
}

// A missing vector passes; otherwise the vector and every table in it must verify.
template <typename Table>
bool verifyTableVector(flatbuffers::Verifier& verifier, const TableVector<Table>* tables)
{
    return verifier.VerifyVector(tables) && verifier.VerifyVectorOfTables(tables);
}

}  // namespace vexilo::analysis::slots
