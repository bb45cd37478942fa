#include "codec/PictureReferenceCodec.h"

namespace vexilo::analysis {
namespace {

using slots::narrowedSlot;
using slots::slot;

using SummaryTable = fb::PictureSummaryTable;
const auto kPictureSummarySlots = std::make_tuple(
    slot(&PictureAnalysisSummary::id, SummaryTable::VT_ID),
    slot(&PictureAnalysisSummary::parentStreamAnalysisId, SummaryTable::VT_PARENTSTREAMANALYSISID),
    slot(&PictureAnalysisSummary::pictureId, SummaryTable::VT_PICTUREID),
    slot(&PictureAnalysisSummary::displayIndex, SummaryTable::VT_DISPLAYINDEX),
    slot(&PictureAnalysisSummary::decodeIndex, SummaryTable::VT_DECODEINDEX),
    slot(&PictureAnalysisSummary::pts, SummaryTable::VT_PTS),
    slot(&PictureAnalysisSummary::dts, SummaryTable::VT_DTS),
    slot(&PictureAnalysisSummary::poc, SummaryTable::VT_POC),
    // 32 bits in memory, one byte on disk.
    narrowedSlot<std::uint8_t>(&PictureAnalysisSummary::pictureType, SummaryTable::VT_PICTURETYPE),
    slot(&PictureAnalysisSummary::width, SummaryTable::VT_WIDTH),
    slot(&PictureAnalysisSummary::height, SummaryTable::VT_HEIGHT),
    slot(&PictureAnalysisSummary::bitDepth, SummaryTable::VT_BITDEPTH),
    slot(&PictureAnalysisSummary::sliceCount, SummaryTable::VT_SLICECOUNT),
    slot(&PictureAnalysisSummary::ctuCount, SummaryTable::VT_CTUCOUNT),
    slot(&PictureAnalysisSummary::cuCount, SummaryTable::VT_CUCOUNT),
    slot(&PictureAnalysisSummary::puCount, SummaryTable::VT_PUCOUNT),
    slot(&PictureAnalysisSummary::tuCount, SummaryTable::VT_TUCOUNT),
    slot(&PictureAnalysisSummary::completeness, SummaryTable::VT_COMPLETENESS));

using ListTable = fb::ReferencePictureTable;
const auto kReferencePictureSlots = std::make_tuple(
    slot(&ReferencePictureEntry::id, ListTable::VT_ID),
    slot(&ReferencePictureEntry::parentSliceId, ListTable::VT_PARENTSLICEID),
    slot(&ReferencePictureEntry::list, ListTable::VT_LIST),
    slot(&ReferencePictureEntry::listIndex, ListTable::VT_LISTINDEX),
    slot(&ReferencePictureEntry::targetPictureId, ListTable::VT_TARGETPICTUREID),
    slot(&ReferencePictureEntry::poc, ListTable::VT_POC),
    slot(&ReferencePictureEntry::longTerm, ListTable::VT_LONGTERM),
    slot(&ReferencePictureEntry::status, ListTable::VT_STATUS),
    slot(&ReferencePictureEntry::origin, ListTable::VT_ORIGIN, ValueOrigin::Derived));

using ShortTermTable = fb::ShortTermReferenceTable;
const auto kShortTermReferenceSlots = std::make_tuple(
    slot(&ShortTermReferencePictureEntry::id, ShortTermTable::VT_ID),
    slot(&ShortTermReferencePictureEntry::parentSliceId, ShortTermTable::VT_PARENTSLICEID),
    slot(&ShortTermReferencePictureEntry::entryIndex, ShortTermTable::VT_ENTRYINDEX),
    slot(&ShortTermReferencePictureEntry::deltaPoc, ShortTermTable::VT_DELTAPOC),
    slot(&ShortTermReferencePictureEntry::poc, ShortTermTable::VT_POC),
    slot(&ShortTermReferencePictureEntry::used, ShortTermTable::VT_USED),
    slot(&ShortTermReferencePictureEntry::negative, ShortTermTable::VT_NEGATIVE),
    slot(&ShortTermReferencePictureEntry::deltaPocOrigin, ShortTermTable::VT_DELTAPOCORIGIN,
         ValueOrigin::Derived),
    slot(&ShortTermReferencePictureEntry::usedOrigin, ShortTermTable::VT_USEDORIGIN,
         ValueOrigin::Unknown));

using LongTermTable = fb::LongTermReferenceTable;
const auto kLongTermReferenceSlots = std::make_tuple(
    slot(&LongTermReferencePictureEntry::id, LongTermTable::VT_ID),
    slot(&LongTermReferencePictureEntry::parentSliceId, LongTermTable::VT_PARENTSLICEID),
    slot(&LongTermReferencePictureEntry::entryIndex, LongTermTable::VT_ENTRYINDEX),
    slot(&LongTermReferencePictureEntry::pocLsb, LongTermTable::VT_POCLSB),
    slot(&LongTermReferencePictureEntry::poc, LongTermTable::VT_POC),
    slot(&LongTermReferencePictureEntry::used, LongTermTable::VT_USED),
    slot(&LongTermReferencePictureEntry::deltaPocMsbPresent, LongTermTable::VT_DELTAPOCMSBPRESENT),
    slot(&LongTermReferencePictureEntry::deltaPocMsbCycle, LongTermTable::VT_DELTAPOCMSBCYCLE),
    slot(&LongTermReferencePictureEntry::origin, LongTermTable::VT_ORIGIN, ValueOrigin::Unknown));

using DpbTable = fb::DpbSnapshotEntryTable;
const auto kDpbSnapshotEntrySlots = std::make_tuple(
    slot(&DpbSnapshotEntry::id, DpbTable::VT_ID),
    slot(&DpbSnapshotEntry::parentSliceId, DpbTable::VT_PARENTSLICEID),
    slot(&DpbSnapshotEntry::slot, DpbTable::VT_SLOT),
    slot(&DpbSnapshotEntry::pictureId, DpbTable::VT_PICTUREID),
    slot(&DpbSnapshotEntry::poc, DpbTable::VT_POC),
    slot(&DpbSnapshotEntry::output, DpbTable::VT_OUTPUT),
    slot(&DpbSnapshotEntry::shortTermReference, DpbTable::VT_SHORTTERMREFERENCE),
    slot(&DpbSnapshotEntry::longTermReference, DpbTable::VT_LONGTERMREFERENCE),
    slot(&DpbSnapshotEntry::frameFlag3, DpbTable::VT_FRAMEFLAG3),
    slot(&DpbSnapshotEntry::frameFlag4, DpbTable::VT_FRAMEFLAG4),
    slot(&DpbSnapshotEntry::status, DpbTable::VT_STATUS),
    slot(&DpbSnapshotEntry::origin, DpbTable::VT_ORIGIN, ValueOrigin::Derived));

}  // namespace

flatbuffers::Offset<fb::PictureSummaryTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                          const PictureAnalysisSummary& record)
{
    return slots::encodeTable<fb::PictureSummaryTable>(builder, record, kPictureSummarySlots);
}

flatbuffers::Offset<fb::ReferencePictureTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                            const ReferencePictureEntry& record)
{
    return slots::encodeTable<fb::ReferencePictureTable>(builder, record, kReferencePictureSlots);
}

flatbuffers::Offset<fb::ShortTermReferenceTable> encodeRecord(
    flatbuffers::FlatBufferBuilder& builder, const ShortTermReferencePictureEntry& record)
{
    return slots::encodeTable<fb::ShortTermReferenceTable>(builder, record, kShortTermReferenceSlots);
}

flatbuffers::Offset<fb::LongTermReferenceTable> encodeRecord(
    flatbuffers::FlatBufferBuilder& builder, const LongTermReferencePictureEntry& record)
{
    return slots::encodeTable<fb::LongTermReferenceTable>(builder, record, kLongTermReferenceSlots);
}

flatbuffers::Offset<fb::DpbSnapshotEntryTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                            const DpbSnapshotEntry& record)
{
    return slots::encodeTable<fb::DpbSnapshotEntryTable>(builder, record, kDpbSnapshotEntrySlots);
}

PictureAnalysisSummary decodeRecord(const fb::PictureSummaryTable& table)
{
    return slots::decodeTable<PictureAnalysisSummary>(table, kPictureSummarySlots);
}

ReferencePictureEntry decodeRecord(const fb::ReferencePictureTable& table)
{
    return slots::decodeTable<ReferencePictureEntry>(table, kReferencePictureSlots);
}

ShortTermReferencePictureEntry decodeRecord(const fb::ShortTermReferenceTable& table)
{
    return slots::decodeTable<ShortTermReferencePictureEntry>(table, kShortTermReferenceSlots);
}

LongTermReferencePictureEntry decodeRecord(const fb::LongTermReferenceTable& table)
{
    return slots::decodeTable<LongTermReferencePictureEntry>(table, kLongTermReferenceSlots);
}

DpbSnapshotEntry decodeRecord(const fb::DpbSnapshotEntryTable& table)
{
    return slots::decodeTable<DpbSnapshotEntry>(table, kDpbSnapshotEntrySlots);
}

// pictures

bool verifyPictureSummaryTable(flatbuffers::Verifier& verifier, const fb::PictureSummaryTable& table)
{
    return table.Verify(verifier);
}

PictureAnalysisSummary decodePictureSummary(const fb::PictureSummaryTable& table)
{
    return decodeRecord(table);
}

flatbuffers::Offset<fb::PictureSummaryTable> encodePictureSummary(
    flatbuffers::FlatBufferBuilder& builder, const PictureAnalysisSummary& record)
{
    return encodeRecord(builder, record);
}

flatbuffers::Offset<slots::TableVector<fb::PictureSummaryTable>> encodePictureSummaries(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<PictureAnalysisSummary>& records)
{
    return slots::encodeCollection<fb::PictureSummaryTable>(builder, records, kPictureSummarySlots);
}

// referencePictures

bool verifyReferencePictureVector(flatbuffers::Verifier& verifier,
                                  const slots::TableVector<fb::ReferencePictureTable>* tables)
{
    return slots::verifyTableVector(verifier, tables);
}

std::vector<ReferencePictureEntry> decodeReferencePictures(
    const slots::TableVector<fb::ReferencePictureTable>* tables)
{
    return slots::decodeCollection<ReferencePictureEntry>(tables, kReferencePictureSlots);
}

ReferencePictureEntry decodeReferencePicture(const fb::ReferencePictureTable& table)
{
    return decodeRecord(table);
}

flatbuffers::Offset<slots::TableVector<fb::ReferencePictureTable>> encodeReferencePictures(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<ReferencePictureEntry>& records)
{
    return slots::encodeCollection<fb::ReferencePictureTable>(builder, records, kReferencePictureSlots);
}

flatbuffers::Offset<fb::ReferencePictureTable> encodeReferencePicture(
    flatbuffers::FlatBufferBuilder& builder, const ReferencePictureEntry& record)
{
    return encodeRecord(builder, record);
}

// shortTermReferencePictures

bool verifyShortTermReferenceVector(flatbuffers::Verifier& verifier,
                                    const slots::TableVector<fb::ShortTermReferenceTable>* tables)
{
    return slots::verifyTableVector(verifier, tables);
}

std::vector<ShortTermReferencePictureEntry> decodeShortTermReferencePictures(
    const slots::TableVector<fb::ShortTermReferenceTable>* tables)
{
    return slots::decodeCollection<ShortTermReferencePictureEntry>(tables, kShortTermReferenceSlots);
}

ShortTermReferencePictureEntry decodeShortTermReferencePicture(const fb::ShortTermReferenceTable& table)
{
    return decodeRecord(table);
}

flatbuffers::Offset<slots::TableVector<fb::ShortTermReferenceTable>> encodeShortTermReferencePictures(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<ShortTermReferencePictureEntry>& records)
{
    return slots::encodeCollection<fb::ShortTermReferenceTable>(builder, records, kShortTermReferenceSlots);
}

flatbuffers::Offset<fb::ShortTermReferenceTable> encodeShortTermReferencePicture(
    flatbuffers::FlatBufferBuilder& builder, const ShortTermReferencePictureEntry& record)
{
    return encodeRecord(builder, record);
}

// longTermReferencePictures

bool verifyLongTermReferenceVector(flatbuffers::Verifier& verifier,
                                   const slots::TableVector<fb::LongTermReferenceTable>* tables)
{
    return slots::verifyTableVector(verifier, tables);
}

std::vector<LongTermReferencePictureEntry> decodeLongTermReferencePictures(
    const slots::TableVector<fb::LongTermReferenceTable>* tables)
{
    return slots::decodeCollection<LongTermReferencePictureEntry>(tables, kLongTermReferenceSlots);
}

LongTermReferencePictureEntry decodeLongTermReferencePicture(const fb::LongTermReferenceTable& table)
{
    return decodeRecord(table);
}

flatbuffers::Offset<slots::TableVector<fb::LongTermReferenceTable>> encodeLongTermReferencePictures(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<LongTermReferencePictureEntry>& records)
{
    return slots::encodeCollection<fb::LongTermReferenceTable>(builder, records, kLongTermReferenceSlots);
}

flatbuffers::Offset<fb::LongTermReferenceTable> encodeLongTermReferencePicture(
    flatbuffers::FlatBufferBuilder& builder, const LongTermReferencePictureEntry& record)
{
    return encodeRecord(builder, record);
}

// dpbSnapshotEntries

bool verifyDpbSnapshotEntryTable(flatbuffers::Verifier& verifier, const fb::DpbSnapshotEntryTable& table)
{
    return table.Verify(verifier);
}

std::vector<DpbSnapshotEntry> decodeDpbSnapshotEntries(
    const slots::TableVector<fb::DpbSnapshotEntryTable>* tables)
{
    return slots::decodeCollection<DpbSnapshotEntry>(tables, kDpbSnapshotEntrySlots);
}

DpbSnapshotEntry decodeDpbSnapshotEntry(const fb::DpbSnapshotEntryTable& table)
{
    return decodeRecord(table);
}

flatbuffers::Offset<slots::TableVector<fb::DpbSnapshotEntryTable>> encodeDpbSnapshotEntries(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<DpbSnapshotEntry>& records)
{
    return slots::encodeCollection<fb::DpbSnapshotEntryTable>(builder, records, kDpbSnapshotEntrySlots);
}

flatbuffers::Offset<fb::DpbSnapshotEntryTable> encodeDpbSnapshotEntry(
    flatbuffers::FlatBufferBuilder& builder, const DpbSnapshotEntry& record)
{
    return encodeRecord(builder, record);
}

}  // namespace vexilo::analysis
