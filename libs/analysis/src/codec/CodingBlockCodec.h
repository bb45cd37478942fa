#pragma once

// Stored form of the CTU, CU, PU, TU and motion-vector collections.
// Verifiers run on untrusted buffers; decoders only on buffers that passed them.

#include "vexilo/analysis/records/CodingBlockRecords.h"
#include "vexilo/analysis/fb/coding_block_records_generated.h"

#include "codec/RecordSlots.h"

#include <flatbuffers/flatbuffers.h>

#include <vector>

namespace vexilo::analysis {

namespace slots {

// Stored field by field: the generated struct zeroes its three padding bytes.
template <>
struct StructCodec<BlockRect> {
    using Stored = fb::BlockRect;
    static Stored encode(const BlockRect& rect)
    {
        return Stored(rect.x, rect.y, rect.width, rect.height, rect.unit);
    }
    static BlockRect decode(const Stored& stored)
    {
        return {stored.x(), stored.y(), stored.width(), stored.height(), stored.unit()};
    }
};

}  // namespace slots

// Create functions of the CU, PU and TU tables: the builder and one argument per slot in
// slot order (structs by pointer, null for an absent identity; optional scalars as
// flatbuffers::Optional). The record encoders walk the slot lists instead.
inline constexpr auto* createCuTable = &fb::CreateCuTable;
inline constexpr auto* createPuTable = &fb::CreatePuTable;
inline constexpr auto* createTuTable = &fb::CreateTuTable;

// Record-level codec shared with the document codec, one overload per record type.
flatbuffers::Offset<fb::CtuTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder, const CtuInfo& record);
flatbuffers::Offset<fb::CuTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder, const CuInfo& record);
flatbuffers::Offset<fb::PuTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder, const PuInfo& record);
flatbuffers::Offset<fb::TuTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder, const TuInfo& record);
flatbuffers::Offset<fb::MotionVectorTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                        const MotionVectorInfo& record);
// The same into a document's builder: blocks are most of its tables.
flatbuffers::Offset<fb::CtuTable> encodeRecord(slots::IndexedVtableBuilder& builder, const CtuInfo& record);
flatbuffers::Offset<fb::CuTable> encodeRecord(slots::IndexedVtableBuilder& builder, const CuInfo& record);
flatbuffers::Offset<fb::PuTable> encodeRecord(slots::IndexedVtableBuilder& builder, const PuInfo& record);
flatbuffers::Offset<fb::TuTable> encodeRecord(slots::IndexedVtableBuilder& builder, const TuInfo& record);
flatbuffers::Offset<fb::MotionVectorTable> encodeRecord(slots::IndexedVtableBuilder& builder,
                                                        const MotionVectorInfo& record);

CtuInfo decodeRecord(const fb::CtuTable& table);
CuInfo decodeRecord(const fb::CuTable& table);
PuInfo decodeRecord(const fb::PuTable& table);
TuInfo decodeRecord(const fb::TuTable& table);
MotionVectorInfo decodeRecord(const fb::MotionVectorTable& table);

// ctus
bool verifyCtuVector(flatbuffers::Verifier& verifier, const slots::TableVector<fb::CtuTable>* tables);
std::vector<CtuInfo> decodeCtus(const slots::TableVector<fb::CtuTable>* tables);
CtuInfo decodeCtu(const fb::CtuTable& table);
flatbuffers::Offset<slots::TableVector<fb::CtuTable>> encodeCtus(flatbuffers::FlatBufferBuilder& builder,
                                                                 const std::vector<CtuInfo>& records);
flatbuffers::Offset<fb::CtuTable> encodeCtu(flatbuffers::FlatBufferBuilder& builder, const CtuInfo& record);

// cus
bool verifyCuTable(flatbuffers::Verifier& verifier, const fb::CuTable& table);
std::vector<CuInfo> decodeCus(const slots::TableVector<fb::CuTable>* tables);
CuInfo decodeCu(const fb::CuTable& table);
flatbuffers::Offset<slots::TableVector<fb::CuTable>> encodeCus(flatbuffers::FlatBufferBuilder& builder,
                                                               const std::vector<CuInfo>& records);
flatbuffers::Offset<fb::CuTable> encodeCu(flatbuffers::FlatBufferBuilder& builder, const CuInfo& record);

// pus
bool verifyPuTable(flatbuffers::Verifier& verifier, const fb::PuTable& table);
std::vector<PuInfo> decodePus(const slots::TableVector<fb::PuTable>* tables);
PuInfo decodePu(const fb::PuTable& table);
flatbuffers::Offset<slots::TableVector<fb::PuTable>> encodePus(flatbuffers::FlatBufferBuilder& builder,
                                                               const std::vector<PuInfo>& records);
flatbuffers::Offset<fb::PuTable> encodePu(flatbuffers::FlatBufferBuilder& builder, const PuInfo& record);

// tus
bool verifyTuTable(flatbuffers::Verifier& verifier, const fb::TuTable& table);
std::vector<TuInfo> decodeTus(const slots::TableVector<fb::TuTable>* tables);
TuInfo decodeTu(const fb::TuTable& table);
flatbuffers::Offset<slots::TableVector<fb::TuTable>> encodeTus(flatbuffers::FlatBufferBuilder& builder,
                                                               const std::vector<TuInfo>& records);
flatbuffers::Offset<fb::TuTable> encodeTu(flatbuffers::FlatBufferBuilder& builder, const TuInfo& record);

// motionVectors
bool verifyMotionVectorTable(flatbuffers::Verifier& verifier, const fb::MotionVectorTable& table);
std::vector<MotionVectorInfo> decodeMotionVectors(const slots::TableVector<fb::MotionVectorTable>* tables);
MotionVectorInfo decodeMotionVector(const fb::MotionVectorTable& table);
flatbuffers::Offset<slots::TableVector<fb::MotionVectorTable>> encodeMotionVectors(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<MotionVectorInfo>& records);
flatbuffers::Offset<fb::MotionVectorTable> encodeMotionVector(flatbuffers::FlatBufferBuilder& builder,
                                                              const MotionVectorInfo& record);

}  // namespace vexilo::analysis
