#pragma once

// Stored form of the picture summaries and of the four per-slice reference collections.
// Verifiers run on untrusted buffers; decoders only on buffers that passed them.

#include "vexilo/analysis/records/PictureReferenceRecords.h"
#include "vexilo/analysis/fb/picture_records_generated.h"

#include "codec/RecordSlots.h"

#include <flatbuffers/flatbuffers.h>

#include <vector>

namespace vexilo::analysis {

// Record-level codec shared with the document codec, one overload per record type.
flatbuffers::Offset<fb::PictureSummaryTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                          const PictureAnalysisSummary& record);
flatbuffers::Offset<fb::ReferencePictureTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                            const ReferencePictureEntry& record);
flatbuffers::Offset<fb::ShortTermReferenceTable> encodeRecord(
    flatbuffers::FlatBufferBuilder& builder, const ShortTermReferencePictureEntry& record);
flatbuffers::Offset<fb::LongTermReferenceTable> encodeRecord(
    flatbuffers::FlatBufferBuilder& builder, const LongTermReferencePictureEntry& record);
flatbuffers::Offset<fb::DpbSnapshotEntryTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                            const DpbSnapshotEntry& record);

PictureAnalysisSummary decodeRecord(const fb::PictureSummaryTable& table);
ReferencePictureEntry decodeRecord(const fb::ReferencePictureTable& table);
ShortTermReferencePictureEntry decodeRecord(const fb::ShortTermReferenceTable& table);
LongTermReferencePictureEntry decodeRecord(const fb::LongTermReferenceTable& table);
DpbSnapshotEntry decodeRecord(const fb::DpbSnapshotEntryTable& table);

// pictures
bool verifyPictureSummaryTable(flatbuffers::Verifier& verifier, const fb::PictureSummaryTable& table);
PictureAnalysisSummary decodePictureSummary(const fb::PictureSummaryTable& table);
flatbuffers::Offset<fb::PictureSummaryTable> encodePictureSummary(
    flatbuffers::FlatBufferBuilder& builder, const PictureAnalysisSummary& record);
flatbuffers::Offset<slots::TableVector<fb::PictureSummaryTable>> encodePictureSummaries(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<PictureAnalysisSummary>& records);

// referencePictures
bool verifyReferencePictureVector(flatbuffers::Verifier& verifier,
                                  const slots::TableVector<fb::ReferencePictureTable>* tables);
std::vector<ReferencePictureEntry> decodeReferencePictures(
    const slots::TableVector<fb::ReferencePictureTable>* tables);
ReferencePictureEntry decodeReferencePicture(const fb::ReferencePictureTable& table);
flatbuffers::Offset<slots::TableVector<fb::ReferencePictureTable>> encodeReferencePictures(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<ReferencePictureEntry>& records);
flatbuffers::Offset<fb::ReferencePictureTable> encodeReferencePicture(
    flatbuffers::FlatBufferBuilder& builder, const ReferencePictureEntry& record);

// shortTermReferencePictures
bool verifyShortTermReferenceVector(flatbuffers::Verifier& verifier,
                                    const slots::TableVector<fb::ShortTermReferenceTable>* tables);
std::vector<ShortTermReferencePictureEntry> decodeShortTermReferencePictures(
    const slots::TableVector<fb::ShortTermReferenceTable>* tables);
ShortTermReferencePictureEntry decodeShortTermReferencePicture(const fb::ShortTermReferenceTable& table);
flatbuffers::Offset<slots::TableVector<fb::ShortTermReferenceTable>> encodeShortTermReferencePictures(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<ShortTermReferencePictureEntry>& records);
flatbuffers::Offset<fb::ShortTermReferenceTable> encodeShortTermReferencePicture(
    flatbuffers::FlatBufferBuilder& builder, const ShortTermReferencePictureEntry& record);

// longTermReferencePictures
bool verifyLongTermReferenceVector(flatbuffers::Verifier& verifier,
                                   const slots::TableVector<fb::LongTermReferenceTable>* tables);
std::vector<LongTermReferencePictureEntry> decodeLongTermReferencePictures(
    const slots::TableVector<fb::LongTermReferenceTable>* tables);
LongTermReferencePictureEntry decodeLongTermReferencePicture(const fb::LongTermReferenceTable& table);
flatbuffers::Offset<slots::TableVector<fb::LongTermReferenceTable>> encodeLongTermReferencePictures(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<LongTermReferencePictureEntry>& records);
flatbuffers::Offset<fb::LongTermReferenceTable> encodeLongTermReferencePicture(
    flatbuffers::FlatBufferBuilder& builder, const LongTermReferencePictureEntry& record);

// dpbSnapshotEntries
bool verifyDpbSnapshotEntryTable(flatbuffers::Verifier& verifier, const fb::DpbSnapshotEntryTable& table);
std::vector<DpbSnapshotEntry> decodeDpbSnapshotEntries(
    const slots::TableVector<fb::DpbSnapshotEntryTable>* tables);
DpbSnapshotEntry decodeDpbSnapshotEntry(const fb::DpbSnapshotEntryTable& table);
flatbuffers::Offset<slots::TableVector<fb::DpbSnapshotEntryTable>> encodeDpbSnapshotEntries(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<DpbSnapshotEntry>& records);
flatbuffers::Offset<fb::DpbSnapshotEntryTable> encodeDpbSnapshotEntry(
    flatbuffers::FlatBufferBuilder& builder, const DpbSnapshotEntry& record);

}  // namespace vexilo::analysis
