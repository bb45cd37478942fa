#pragma once

// Slots whose value lives outside the table (strings and nested lists of tables), the
// table encoder that builds those first, and the size guards of the document codec.
// Extends the scalar and struct slots of RecordSlots.h.

#include "vexilo/analysis/AnalysisCodec.h"

#include "codec/RecordSlots.h"

// Every record codec is declared before the walkers below, so that their calls find the
// encodeRecord, decodeRecord, referencedStringBytes and nestedRecordBytes overload of each
// table.
#include "codec/CodingBlockCodec.h"
#include "codec/NalParameterSetCodec.h"
#include "codec/PictureReferenceCodec.h"
#include "codec/SeiSliceErrorCodec.h"

#include <flatbuffers/flatbuffers.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace vexilo::analysis::slots {

// The serialiser refuses anything above the buffer limit; stopping every collection
// loop as soon as the builder passes it keeps the builder far from its own 2 GiB
// ceiling, since one record (its strings and lists bounded by validation) adds at most
// a few MiB before the next check.
inline bool encodeBudgetExhausted(const flatbuffers::FlatBufferBuilder& builder)
{
    return builder.GetSize() > kMaxAnalysisBufferBytes;
}

template <typename Table, typename Builder, typename Record, typename Encode>
flatbuffers::Offset<TableVector<Table>> encodeBoundedCollection(Builder& builder, const std::vector<Record>& records,
                                                                Encode encode)
{
    std::vector<flatbuffers::Offset<Table>> offsets;
    reserveOnHugePages(offsets, records.size());
    for (const Record& record : records) {
        if (encodeBudgetExhausted(builder)) {
            break;
        }
        offsets.push_back(encode(builder, record));
    }
    return builder.CreateVector(offsets);
}

// Decodes every table of a vector in order; a missing vector is an empty list.
template <typename Record, typename Table, typename Decode>
std::vector<Record> decodeTableList(const TableVector<Table>* tables, Decode decode)
{
    std::vector<Record> records;
    if (tables == nullptr) {
        return records;
    }
    reserveOnHugePages(records, tables->size());
    for (const Table* table : *tables) {
        records.push_back(decode(*table));
    }
    return records;
}

// A collection of records with an encodeRecord overload, as a vector of tables.
template <typename Table, typename Builder, typename Record>
flatbuffers::Offset<TableVector<Table>> encodeRecords(Builder& builder, const std::vector<Record>& records)
{
    return encodeBoundedCollection<Table>(
        builder, records, [](Builder& target, const Record& record) { return encodeRecord(target, record); });
}

// A vector of tables with a decodeRecord overload, as a collection of records.
template <typename Table>
auto decodeRecords(const TableVector<Table>* tables)
{
    using Record = decltype(decodeRecord(std::declval<const Table&>()));
    return decodeTableList<Record>(tables, [](const Table& table) { return decodeRecord(table); });
}

// A string: always written (an empty one too); a missing one reads as empty.
template <typename Record>
struct StringSlot {
    static constexpr std::size_t alignment = sizeof(flatbuffers::uoffset_t);

    std::string Record::*member;
    flatbuffers::voffset_t offset;

    flatbuffers::uoffset_t build(flatbuffers::FlatBufferBuilder& builder, const Record& record) const
    {
        return builder.CreateString(record.*member).o;
    }
    void decode(const flatbuffers::Table& table, Record& record) const
    {
        const auto* text = table.GetPointer<const flatbuffers::String*>(offset);
        if (text != nullptr) {
            (record.*member).assign(text->c_str(), text->size());
        } else {
            (record.*member).clear();
        }
    }
    std::uint64_t referencedBytes(const flatbuffers::Table& table) const
    {
        const auto* text = table.GetPointer<const flatbuffers::String*>(offset);
        return text != nullptr ? text->size() : 0;
    }
};

// A nested list: a vector of tables, always written; a missing one reads as empty.
template <typename Record, typename Element, typename Table>
struct TableListSlot {
    static constexpr std::size_t alignment = sizeof(flatbuffers::uoffset_t);

    std::vector<Element> Record::*member;
    flatbuffers::voffset_t offset;

    template <typename Builder>
    flatbuffers::uoffset_t build(Builder& builder, const Record& record) const
    {
        return encodeRecords<Table>(builder, record.*member).o;
    }
    void decode(const flatbuffers::Table& table, Record& record) const
    {
        record.*member = decodeRecords(tables(table));
    }
    std::uint64_t referencedBytes(const flatbuffers::Table& table) const
    {
        std::uint64_t total = 0;
        if constexpr (requires(const Table& entry) { referencedStringBytes(entry); }) {
            if (const auto* entries = tables(table)) {
                for (const Table* entry : *entries) {
                    total += referencedStringBytes(*entry);
                }
            }
        }
        return total;
    }
    // The records this list becomes, nested lists included; every table the list points
    // at counts once per reference, as decoding copies it once per reference.
    std::uint64_t decodedRecordBytes(const flatbuffers::Table& table) const
    {
        const auto* entries = tables(table);
        if (entries == nullptr) {
            return 0;
        }
        std::uint64_t total = std::uint64_t{entries->size()} * sizeof(Element);
        if constexpr (requires(const Table& entry) { nestedRecordBytes(entry); }) {
            for (const Table* entry : *entries) {
                total += nestedRecordBytes(*entry);
            }
        }
        return total;
    }
    std::uint64_t elementCount(const flatbuffers::Table& table) const
    {
        const auto* entries = tables(table);
        return entries != nullptr ? entries->size() : 0;
    }
    // What the records of the list take in memory; their tables seldom take more.
    std::uint64_t recordBytes(const Record& record) const
    {
        return std::uint64_t{(record.*member).size()} * sizeof(Element);
    }

private:
    const TableVector<Table>* tables(const flatbuffers::Table& table) const
    {
        return table.GetPointer<const TableVector<Table>*>(offset);
    }
};

template <typename Record>
constexpr auto stringSlot(std::string Record::*member, flatbuffers::voffset_t offset)
{
    return StringSlot<Record>{member, offset};
}

template <typename Table, typename Record, typename Element>
constexpr auto tableListSlot(std::vector<Element> Record::*member, flatbuffers::voffset_t offset)
{
    return TableListSlot<Record, Element, Table>{member, offset};
}

template <typename Slot, typename Record>
concept ReferenceSlot = requires(const Slot& field, flatbuffers::FlatBufferBuilder& builder,
                                 const Record& record) { field.build(builder, record); };

template <std::size_t Alignment, typename Record, typename Slot>
void addAligned(const Slot& field, flatbuffers::FlatBufferBuilder& builder, const Record& record,
                flatbuffers::uoffset_t reference)
{
    if constexpr (Slot::alignment == Alignment) {
        if constexpr (ReferenceSlot<Slot, Record>) {
            builder.AddOffset(field.offset, flatbuffers::Offset<void>(reference));
        } else {
            field.encode(builder, record);
        }
    }
}

// Strings and nested lists go into the buffer before their table starts; then every
// field is added, widest first.
template <typename Table, typename Builder, typename Record, typename... Slots>
flatbuffers::Offset<Table> encodeTableWithReferences(Builder& builder, const Record& record,
                                                     const std::tuple<Slots...>& slotList)
{
    std::array<flatbuffers::uoffset_t, sizeof...(Slots)> references{};
    return [&]<std::size_t... Index>(std::index_sequence<Index...>) {
        (
            [&] {
                if constexpr (ReferenceSlot<Slots, Record>) {
                    references[Index] = std::get<Index>(slotList).build(builder, record);
                }
            }(),
            ...);
        const auto start = builder.StartTable();
        (addAligned<8>(std::get<Index>(slotList), builder, record, references[Index]), ...);
        (addAligned<4>(std::get<Index>(slotList), builder, record, references[Index]), ...);
        (addAligned<2>(std::get<Index>(slotList), builder, record, references[Index]), ...);
        (addAligned<1>(std::get<Index>(slotList), builder, record, references[Index]), ...);
        return flatbuffers::Offset<Table>(endTable(builder, start));
    }(std::index_sequence_for<Slots...>{});
}

template <typename Slot>
std::uint64_t referencedBytesOf(const Slot& field, const flatbuffers::Table& table)
{
    if constexpr (requires { field.referencedBytes(table); }) {
        return field.referencedBytes(table);
    } else {
        return 0;
    }
}

// The sum of one measure over every slot of a table.
template <typename Table, typename... Slots, typename Measure>
std::uint64_t sumOverSlots(const Table& table, const std::tuple<Slots...>& slotList, Measure measure)
{
    const flatbuffers::Table& raw = asRawTable(table);
    return std::apply([&](const auto&... field) { return (std::uint64_t{0} + ... + measure(field, raw)); },
                      slotList);
}

template <typename Table, typename... Slots>
std::uint64_t sumReferencedStringBytes(const Table& table, const std::tuple<Slots...>& slotList)
{
    return sumOverSlots(table, slotList,
                        [](const auto& field, const flatbuffers::Table& raw) { return referencedBytesOf(field, raw); });
}

template <typename Slot>
std::uint64_t decodedRecordBytesOf(const Slot& field, const flatbuffers::Table& table)
{
    if constexpr (requires { field.decodedRecordBytes(table); }) {
        return field.decodedRecordBytes(table);
    } else {
        return 0;
    }
}

template <typename Table, typename... Slots>
std::uint64_t sumDecodedRecordBytes(const Table& table, const std::tuple<Slots...>& slotList)
{
    return sumOverSlots(table, slotList, [](const auto& field, const flatbuffers::Table& raw) {
        return decodedRecordBytesOf(field, raw);
    });
}

}  // namespace vexilo::analysis::slots
