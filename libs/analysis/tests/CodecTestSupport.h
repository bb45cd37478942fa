#pragma once

// Record-level helpers for the NAL, parameter-set, SEI, slice and error codecs: a
// collection goes through the same bounded encoder and list decoder the document uses.

#include "codec/ReferenceSlots.h"

#include "RecordTableTestSupport.h"

#include <flatbuffers/flatbuffers.h>

#include <utility>
#include <vector>

namespace vexilo::analysis::codec_test {

using IdentitySlots = std::vector<std::pair<int, StableId>>;

// Supplies the collection encode and decode of a traits type whose Record and Table
// have encodeRecord and decodeRecord overloads.
template <typename RecordType, typename TableType>
struct CollectionCodecOf {
    using Record = RecordType;
    using Table = TableType;

    static auto encode(flatbuffers::FlatBufferBuilder& builder, const std::vector<Record>& records)
    {
        return slots::encodeRecords<Table>(builder, records);
    }
    static std::vector<Record> decode(const slots::TableVector<Table>* tables)
    {
        return slots::decodeRecords(tables);
    }
};

}  // namespace vexilo::analysis::codec_test
