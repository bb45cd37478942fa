#pragma once

// Stored form of SEI messages, slices and analysis errors.

#include "vexilo/analysis/records/SeiSliceErrorRecords.h"
#include "vexilo/analysis/fb/nal_sei_slice_records_generated.h"

#include <flatbuffers/flatbuffers.h>

#include <cstdint>
#include <vector>

namespace vexilo::analysis {

flatbuffers::Offset<fb::SeiMessageTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                      const SeiMessageInfo& record);
flatbuffers::Offset<fb::SliceTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                 const SliceInfo& record);
flatbuffers::Offset<fb::AnalysisErrorTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                         const AnalysisErrorInfo& record);

SeiMessageInfo decodeRecord(const fb::SeiMessageTable& table);
SliceInfo decodeRecord(const fb::SliceTable& table);
AnalysisErrorInfo decodeRecord(const fb::AnalysisErrorTable& table);

std::uint64_t referencedStringBytes(const fb::SeiMessageTable& table);
std::uint64_t referencedStringBytes(const fb::AnalysisErrorTable& table);
std::uint64_t nestedRecordBytes(const fb::SeiMessageTable& table);

template <typename Table>
using SeiTableVector = flatbuffers::Vector<flatbuffers::Offset<Table>>;

// Per-table and per-collection entry points over the overloads above.
bool verifySeiMessageTable(flatbuffers::Verifier& verifier, const fb::SeiMessageTable& table);
bool verifySliceTable(flatbuffers::Verifier& verifier, const fb::SliceTable& table);
bool verifyAnalysisErrorTable(flatbuffers::Verifier& verifier, const fb::AnalysisErrorTable& table);

std::vector<SeiMessageInfo> decodeSeiMessages(const SeiTableVector<fb::SeiMessageTable>* tables);
SeiMessageInfo decodeSeiMessage(const fb::SeiMessageTable& table);
std::vector<SliceInfo> decodeSlices(const SeiTableVector<fb::SliceTable>* tables);
SliceInfo decodeSlice(const fb::SliceTable& table);
std::vector<AnalysisErrorInfo> decodeAnalysisErrors(const SeiTableVector<fb::AnalysisErrorTable>* tables);
AnalysisErrorInfo decodeAnalysisError(const fb::AnalysisErrorTable& table);

flatbuffers::Offset<SeiTableVector<fb::SeiMessageTable>> encodeSeiMessages(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<SeiMessageInfo>& records);
flatbuffers::Offset<SeiTableVector<fb::SliceTable>> encodeSlices(flatbuffers::FlatBufferBuilder& builder,
                                                                 const std::vector<SliceInfo>& records);
flatbuffers::Offset<fb::SliceTable> encodeSlice(flatbuffers::FlatBufferBuilder& builder, const SliceInfo& record);
flatbuffers::Offset<SeiTableVector<fb::AnalysisErrorTable>> encodeAnalysisErrors(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<AnalysisErrorInfo>& records);

}  // namespace vexilo::analysis
