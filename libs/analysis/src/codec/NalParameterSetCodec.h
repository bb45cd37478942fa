#pragma once

// Stored form of NAL units and parameter sets with their nested lists. Tables are
// verified by their generated verifiers; the decoders run only on verified buffers.

#include "vexilo/analysis/records/NalParameterSetRecords.h"
#include "vexilo/analysis/fb/nal_sei_slice_records_generated.h"

#include <flatbuffers/flatbuffers.h>

#include <cstdint>
#include <vector>

namespace vexilo::analysis {

flatbuffers::Offset<fb::NalUnitTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                   const NalUnitInfo& record);
flatbuffers::Offset<fb::ParameterSetTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                        const ParameterSetInfo& record);
flatbuffers::Offset<fb::VpsSubLayerOrderingTable> encodeRecord(
    flatbuffers::FlatBufferBuilder& builder, const VpsSubLayerOrderingInfo& record);
flatbuffers::Offset<fb::VpsLayerSetTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                       const VpsLayerSetInfo& record);
flatbuffers::Offset<fb::ProfileTierLevelTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                            const ProfileTierLevelInfo& record);
flatbuffers::Offset<fb::SyntaxElementTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                         const SyntaxElementInfo& record);

NalUnitInfo decodeRecord(const fb::NalUnitTable& table);
ParameterSetInfo decodeRecord(const fb::ParameterSetTable& table);
VpsSubLayerOrderingInfo decodeRecord(const fb::VpsSubLayerOrderingTable& table);
VpsLayerSetInfo decodeRecord(const fb::VpsLayerSetTable& table);
ProfileTierLevelInfo decodeRecord(const fb::ProfileTierLevelTable& table);
SyntaxElementInfo decodeRecord(const fb::SyntaxElementTable& table);

// Bytes of all strings a verified table reaches, nested lists included. A buffer can
// point many tables at one string; the reader compares the sum with the buffer size
// before it copies anything.
std::uint64_t referencedStringBytes(const fb::NalUnitTable& table);
std::uint64_t referencedStringBytes(const fb::ParameterSetTable& table);
std::uint64_t referencedStringBytes(const fb::SyntaxElementTable& table);

// Bytes the records of a verified table's nested lists take once decoded, the lists of
// those records included.
std::uint64_t nestedRecordBytes(const fb::ParameterSetTable& table);

template <typename Table>
using NalTableVector = flatbuffers::Vector<flatbuffers::Offset<Table>>;

// Per-table and per-collection entry points; each is a thin wrapper over the overloads
// above and the generic walkers of ReferenceSlots.h. Verifiers take untrusted tables,
// and a missing vector passes.
bool verifyNalUnitTable(flatbuffers::Verifier& verifier, const fb::NalUnitTable& table);
bool verifyParameterSetTable(flatbuffers::Verifier& verifier, const fb::ParameterSetTable& table);
bool verifyProfileTierLevelTable(flatbuffers::Verifier& verifier, const fb::ProfileTierLevelTable& table);
bool verifySyntaxElementVector(flatbuffers::Verifier& verifier,
                               const NalTableVector<fb::SyntaxElementTable>* tables);
bool verifyVpsSubLayerOrderingVector(flatbuffers::Verifier& verifier,
                                     const NalTableVector<fb::VpsSubLayerOrderingTable>* tables);

std::vector<NalUnitInfo> decodeNalUnits(const NalTableVector<fb::NalUnitTable>* tables);
NalUnitInfo decodeNalUnit(const fb::NalUnitTable& table);
std::vector<ParameterSetInfo> decodeParameterSets(const NalTableVector<fb::ParameterSetTable>* tables);
ParameterSetInfo decodeParameterSet(const fb::ParameterSetTable& table);
ProfileTierLevelInfo decodeProfileTierLevel(const fb::ProfileTierLevelTable& table);
std::vector<SyntaxElementInfo> decodeSyntaxElements(const NalTableVector<fb::SyntaxElementTable>* tables);
std::vector<VpsSubLayerOrderingInfo> decodeVpsSubLayerOrdering(
    const NalTableVector<fb::VpsSubLayerOrderingTable>* tables);
std::vector<VpsLayerSetInfo> decodeVpsLayerSets(const NalTableVector<fb::VpsLayerSetTable>* tables);

flatbuffers::Offset<NalTableVector<fb::NalUnitTable>> encodeNalUnits(flatbuffers::FlatBufferBuilder& builder,
                                                                    const std::vector<NalUnitInfo>& records);
flatbuffers::Offset<NalTableVector<fb::ParameterSetTable>> encodeParameterSets(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<ParameterSetInfo>& records);
flatbuffers::Offset<fb::ParameterSetTable> encodeParameterSet(flatbuffers::FlatBufferBuilder& builder,
                                                              const ParameterSetInfo& record);
flatbuffers::Offset<NalTableVector<fb::ProfileTierLevelTable>> encodeProfileTierLevels(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<ProfileTierLevelInfo>& records);
flatbuffers::Offset<fb::ProfileTierLevelTable> encodeProfileTierLevel(flatbuffers::FlatBufferBuilder& builder,
                                                                      const ProfileTierLevelInfo& record);
flatbuffers::Offset<NalTableVector<fb::SyntaxElementTable>> encodeSyntaxElements(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<SyntaxElementInfo>& records);
flatbuffers::Offset<NalTableVector<fb::VpsSubLayerOrderingTable>> encodeVpsSubLayerOrdering(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<VpsSubLayerOrderingInfo>& records);
flatbuffers::Offset<NalTableVector<fb::VpsLayerSetTable>> encodeVpsLayerSets(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<VpsLayerSetInfo>& records);

}  // namespace vexilo::analysis
