#include "codec/CodingBlockCodec.h"

namespace vexilo::analysis {
namespace {

using slots::slot;

using CtuT = fb::CtuTable;
const auto kCtuSlots = std::make_tuple(
    slot(&CtuInfo::id, CtuT::VT_ID),
    slot(&CtuInfo::parentPictureSummaryId, CtuT::VT_PARENTPICTURESUMMARYID),
    slot(&CtuInfo::sliceInfoId, CtuT::VT_SLICEINFOID),
    slot(&CtuInfo::bounds, CtuT::VT_BOUNDS),
    slot(&CtuInfo::ctuAddressRs, CtuT::VT_CTUADDRESSRS),
    slot(&CtuInfo::ctuAuxValue, CtuT::VT_CTUAUXVALUE),
    slot(&CtuInfo::ctuAddressTs, CtuT::VT_CTUADDRESSTS),
    slot(&CtuInfo::parseStatus, CtuT::VT_PARSESTATUS),
    slot(&CtuInfo::parserErrorCode, CtuT::VT_PARSERERRORCODE));

using CuT = fb::CuTable;
const auto kCuSlots = std::make_tuple(
    slot(&CuInfo::id, CuT::VT_ID),
    slot(&CuInfo::parentCtuId, CuT::VT_PARENTCTUID),
    slot(&CuInfo::bounds, CuT::VT_BOUNDS),
    slot(&CuInfo::depth, CuT::VT_DEPTH),
    slot(&CuInfo::predictionMode, CuT::VT_PREDICTIONMODE),
    slot(&CuInfo::qp, CuT::VT_QP),
    slot(&CuInfo::parentCuId, CuT::VT_PARENTCUID),
    slot(&CuInfo::parseStatus, CuT::VT_PARSESTATUS),
    slot(&CuInfo::parserErrorCode, CuT::VT_PARSERERRORCODE),
    slot(&CuInfo::split, CuT::VT_SPLIT),
    slot(&CuInfo::skip, CuT::VT_SKIP),
    slot(&CuInfo::partitionMode, CuT::VT_PARTITIONMODE),
    slot(&CuInfo::pcm, CuT::VT_PCM),
    slot(&CuInfo::transquantBypass, CuT::VT_TRANSQUANTBYPASS),
    slot(&CuInfo::signaledSplit, CuT::VT_SIGNALEDSPLIT),
    slot(&CuInfo::signaledSkip, CuT::VT_SIGNALEDSKIP),
    slot(&CuInfo::signaledPredictionMode, CuT::VT_SIGNALEDPREDICTIONMODE),
    slot(&CuInfo::signaledPartitionMode, CuT::VT_SIGNALEDPARTITIONMODE),
    slot(&CuInfo::signaledPcm, CuT::VT_SIGNALEDPCM),
    slot(&CuInfo::signaledTransquantBypass, CuT::VT_SIGNALEDTRANSQUANTBYPASS),
    slot(&CuInfo::chromaQpCb, CuT::VT_CHROMAQPCB),
    slot(&CuInfo::chromaQpCr, CuT::VT_CHROMAQPCR),
    slot(&CuInfo::cuQpDelta, CuT::VT_CUQPDELTA),
    slot(&CuInfo::chromaQpOffsetFlag, CuT::VT_CHROMAQPOFFSETFLAG),
    slot(&CuInfo::chromaQpOffsetIndex, CuT::VT_CHROMAQPOFFSETINDEX),
    slot(&CuInfo::chromaQpOffsetCb, CuT::VT_CHROMAQPOFFSETCB),
    slot(&CuInfo::chromaQpOffsetCr, CuT::VT_CHROMAQPOFFSETCR),
    slot(&CuInfo::signaledCuQpDelta, CuT::VT_SIGNALEDCUQPDELTA),
    slot(&CuInfo::signaledChromaQpOffsetFlag, CuT::VT_SIGNALEDCHROMAQPOFFSETFLAG),
    slot(&CuInfo::signaledChromaQpOffsetIndex, CuT::VT_SIGNALEDCHROMAQPOFFSETINDEX));

using PuT = fb::PuTable;
const auto kPuSlots = std::make_tuple(
    slot(&PuInfo::id, PuT::VT_ID),
    slot(&PuInfo::parentCuId, PuT::VT_PARENTCUID),
    slot(&PuInfo::bounds, PuT::VT_BOUNDS),
    slot(&PuInfo::partitionMode, PuT::VT_PARTITIONMODE),
    slot(&PuInfo::interDirection, PuT::VT_INTERDIRECTION),
    slot(&PuInfo::referencePictureL0Id, PuT::VT_REFERENCEPICTUREL0ID),
    slot(&PuInfo::referencePictureL1Id, PuT::VT_REFERENCEPICTUREL1ID),
    slot(&PuInfo::partIndex, PuT::VT_PARTINDEX),
    slot(&PuInfo::predictionMode, PuT::VT_PREDICTIONMODE),
    slot(&PuInfo::parseStatus, PuT::VT_PARSESTATUS),
    slot(&PuInfo::parserErrorCode, PuT::VT_PARSERERRORCODE),
    slot(&PuInfo::intraLumaMode, PuT::VT_INTRALUMAMODE),
    slot(&PuInfo::intraChromaMode, PuT::VT_INTRACHROMAMODE),
    slot(&PuInfo::mergeFlag, PuT::VT_MERGEFLAG),
    slot(&PuInfo::mergeIndex, PuT::VT_MERGEINDEX),
    slot(&PuInfo::refIdxL0, PuT::VT_REFIDXL0),
    slot(&PuInfo::refIdxL1, PuT::VT_REFIDXL1),
    slot(&PuInfo::refPocL0, PuT::VT_REFPOCL0),
    slot(&PuInfo::refPocL1, PuT::VT_REFPOCL1),
    slot(&PuInfo::refStatusL0, PuT::VT_REFSTATUSL0),
    slot(&PuInfo::refStatusL1, PuT::VT_REFSTATUSL1),
    slot(&PuInfo::signaledIntraLumaMode, PuT::VT_SIGNALEDINTRALUMAMODE),
    slot(&PuInfo::signaledIntraChromaMode, PuT::VT_SIGNALEDINTRACHROMAMODE),
    slot(&PuInfo::signaledMergeFlag, PuT::VT_SIGNALEDMERGEFLAG),
    slot(&PuInfo::signaledMergeIndex, PuT::VT_SIGNALEDMERGEINDEX),
    slot(&PuInfo::signaledInterDirection, PuT::VT_SIGNALEDINTERDIRECTION),
    slot(&PuInfo::signaledRefIdxL0, PuT::VT_SIGNALEDREFIDXL0),
    slot(&PuInfo::signaledRefIdxL1, PuT::VT_SIGNALEDREFIDXL1));

using TuT = fb::TuTable;
const auto kTuSlots = std::make_tuple(
    slot(&TuInfo::id, TuT::VT_ID),
    slot(&TuInfo::parentCuId, TuT::VT_PARENTCUID),
    slot(&TuInfo::bounds, TuT::VT_BOUNDS),
    slot(&TuInfo::depth, TuT::VT_DEPTH),
    slot(&TuInfo::cbfLuma, TuT::VT_CBFLUMA),
    slot(&TuInfo::cbfCb, TuT::VT_CBFCB),
    slot(&TuInfo::cbfCr, TuT::VT_CBFCR),
    slot(&TuInfo::parentTuId, TuT::VT_PARENTTUID),
    slot(&TuInfo::split, TuT::VT_SPLIT),
    slot(&TuInfo::transformSkipLuma, TuT::VT_TRANSFORMSKIPLUMA),
    slot(&TuInfo::transformSkipCb, TuT::VT_TRANSFORMSKIPCB),
    slot(&TuInfo::transformSkipCr, TuT::VT_TRANSFORMSKIPCR),
    slot(&TuInfo::explicitRdpcmLuma, TuT::VT_EXPLICITRDPCMLUMA),
    slot(&TuInfo::explicitRdpcmCb, TuT::VT_EXPLICITRDPCMCB),
    slot(&TuInfo::explicitRdpcmCr, TuT::VT_EXPLICITRDPCMCR),
    slot(&TuInfo::implicitRdpcmLuma, TuT::VT_IMPLICITRDPCMLUMA),
    slot(&TuInfo::implicitRdpcmCb, TuT::VT_IMPLICITRDPCMCB),
    slot(&TuInfo::implicitRdpcmCr, TuT::VT_IMPLICITRDPCMCR),
    slot(&TuInfo::rdpcmDirectionLuma, TuT::VT_RDPCMDIRECTIONLUMA),
    slot(&TuInfo::rdpcmDirectionCb, TuT::VT_RDPCMDIRECTIONCB),
    slot(&TuInfo::rdpcmDirectionCr, TuT::VT_RDPCMDIRECTIONCR),
    slot(&TuInfo::transquantBypass, TuT::VT_TRANSQUANTBYPASS),
    slot(&TuInfo::qp, TuT::VT_QP),
    slot(&TuInfo::chromaQpCb, TuT::VT_CHROMAQPCB),
    slot(&TuInfo::chromaQpCr, TuT::VT_CHROMAQPCR),
    slot(&TuInfo::cuQpDelta, TuT::VT_CUQPDELTA),
    slot(&TuInfo::chromaQpOffsetFlag, TuT::VT_CHROMAQPOFFSETFLAG),
    slot(&TuInfo::chromaQpOffsetIndex, TuT::VT_CHROMAQPOFFSETINDEX),
    slot(&TuInfo::chromaQpOffsetCb, TuT::VT_CHROMAQPOFFSETCB),
    slot(&TuInfo::chromaQpOffsetCr, TuT::VT_CHROMAQPOFFSETCR),
    slot(&TuInfo::parseStatus, TuT::VT_PARSESTATUS),
    slot(&TuInfo::parserErrorCode, TuT::VT_PARSERERRORCODE),
    slot(&TuInfo::signaledSplit, TuT::VT_SIGNALEDSPLIT),
    slot(&TuInfo::signaledCbfLuma, TuT::VT_SIGNALEDCBFLUMA),
    slot(&TuInfo::signaledCbfCb, TuT::VT_SIGNALEDCBFCB),
    slot(&TuInfo::signaledCbfCr, TuT::VT_SIGNALEDCBFCR),
    slot(&TuInfo::signaledTransformSkipLuma, TuT::VT_SIGNALEDTRANSFORMSKIPLUMA),
    slot(&TuInfo::signaledTransformSkipCb, TuT::VT_SIGNALEDTRANSFORMSKIPCB),
    slot(&TuInfo::signaledTransformSkipCr, TuT::VT_SIGNALEDTRANSFORMSKIPCR),
    slot(&TuInfo::signaledExplicitRdpcmLuma, TuT::VT_SIGNALEDEXPLICITRDPCMLUMA),
    slot(&TuInfo::signaledExplicitRdpcmCb, TuT::VT_SIGNALEDEXPLICITRDPCMCB),
    slot(&TuInfo::signaledExplicitRdpcmCr, TuT::VT_SIGNALEDEXPLICITRDPCMCR),
    slot(&TuInfo::signaledRdpcmDirectionLuma, TuT::VT_SIGNALEDRDPCMDIRECTIONLUMA),
    slot(&TuInfo::signaledRdpcmDirectionCb, TuT::VT_SIGNALEDRDPCMDIRECTIONCB),
    slot(&TuInfo::signaledRdpcmDirectionCr, TuT::VT_SIGNALEDRDPCMDIRECTIONCR),
    slot(&TuInfo::signaledCuQpDelta, TuT::VT_SIGNALEDCUQPDELTA),
    slot(&TuInfo::signaledChromaQpOffsetFlag, TuT::VT_SIGNALEDCHROMAQPOFFSETFLAG),
    slot(&TuInfo::signaledChromaQpOffsetIndex, TuT::VT_SIGNALEDCHROMAQPOFFSETINDEX));

using MvT = fb::MotionVectorTable;
const auto kMotionVectorSlots = std::make_tuple(
    slot(&MotionVectorInfo::id, MvT::VT_ID),
    slot(&MotionVectorInfo::parentPuId, MvT::VT_PARENTPUID),
    slot(&MotionVectorInfo::list, MvT::VT_LIST),
    slot(&MotionVectorInfo::referencePictureId, MvT::VT_REFERENCEPICTUREID),
    slot(&MotionVectorInfo::mvX, MvT::VT_MVX),
    slot(&MotionVectorInfo::mvY, MvT::VT_MVY),
    slot(&MotionVectorInfo::unit, MvT::VT_UNIT),
    slot(&MotionVectorInfo::referenceIndex, MvT::VT_REFERENCEINDEX),
    slot(&MotionVectorInfo::referencePoc, MvT::VT_REFERENCEPOC),
    slot(&MotionVectorInfo::referenceStatus, MvT::VT_REFERENCESTATUS),
    slot(&MotionVectorInfo::mvdX, MvT::VT_MVDX),
    slot(&MotionVectorInfo::mvdY, MvT::VT_MVDY),
    slot(&MotionVectorInfo::signaledMvdX, MvT::VT_SIGNALEDMVDX),
    slot(&MotionVectorInfo::signaledMvdY, MvT::VT_SIGNALEDMVDY));

}  // namespace

flatbuffers::Offset<fb::CtuTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder, const CtuInfo& record)
{
    return slots::encodeTable<fb::CtuTable>(builder, record, kCtuSlots);
}

flatbuffers::Offset<fb::CuTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder, const CuInfo& record)
{
    return slots::encodeTable<fb::CuTable>(builder, record, kCuSlots);
}

flatbuffers::Offset<fb::PuTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder, const PuInfo& record)
{
    return slots::encodeTable<fb::PuTable>(builder, record, kPuSlots);
}

flatbuffers::Offset<fb::TuTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder, const TuInfo& record)
{
    return slots::encodeTable<fb::TuTable>(builder, record, kTuSlots);
}

flatbuffers::Offset<fb::MotionVectorTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                        const MotionVectorInfo& record)
{
    return slots::encodeTable<fb::MotionVectorTable>(builder, record, kMotionVectorSlots);
}

flatbuffers::Offset<fb::CtuTable> encodeRecord(slots::IndexedVtableBuilder& builder, const CtuInfo& record)
{
    return slots::encodeTable<fb::CtuTable>(builder, record, kCtuSlots);
}

flatbuffers::Offset<fb::CuTable> encodeRecord(slots::IndexedVtableBuilder& builder, const CuInfo& record)
{
    return slots::encodeTable<fb::CuTable>(builder, record, kCuSlots);
}

flatbuffers::Offset<fb::PuTable> encodeRecord(slots::IndexedVtableBuilder& builder, const PuInfo& record)
{
    return slots::encodeTable<fb::PuTable>(builder, record, kPuSlots);
}

flatbuffers::Offset<fb::TuTable> encodeRecord(slots::IndexedVtableBuilder& builder, const TuInfo& record)
{
    return slots::encodeTable<fb::TuTable>(builder, record, kTuSlots);
}

flatbuffers::Offset<fb::MotionVectorTable> encodeRecord(slots::IndexedVtableBuilder& builder,
                                                        const MotionVectorInfo& record)
{
    return slots::encodeTable<fb::MotionVectorTable>(builder, record, kMotionVectorSlots);
}

CtuInfo decodeRecord(const fb::CtuTable& table)
{
    return slots::decodeTable<CtuInfo>(table, kCtuSlots);
}

CuInfo decodeRecord(const fb::CuTable& table)
{
    return slots::decodeTable<CuInfo>(table, kCuSlots);
}

PuInfo decodeRecord(const fb::PuTable& table)
{
    return slots::decodeTable<PuInfo>(table, kPuSlots);
}

TuInfo decodeRecord(const fb::TuTable& table)
{
    return slots::decodeTable<TuInfo>(table, kTuSlots);
}

MotionVectorInfo decodeRecord(const fb::MotionVectorTable& table)
{
    return slots::decodeTable<MotionVectorInfo>(table, kMotionVectorSlots);
}

// ctus

bool verifyCtuVector(flatbuffers::Verifier& verifier, const slots::TableVector<fb::CtuTable>* tables)
{
    return slots::verifyTableVector(verifier, tables);
}

std::vector<CtuInfo> decodeCtus(const slots::TableVector<fb::CtuTable>* tables)
{
    return slots::decodeCollection<CtuInfo>(tables, kCtuSlots);
}

CtuInfo decodeCtu(const fb::CtuTable& table)
{
    return decodeRecord(table);
}

flatbuffers::Offset<slots::TableVector<fb::CtuTable>> encodeCtus(flatbuffers::FlatBufferBuilder& builder,
                                                                 const std::vector<CtuInfo>& records)
{
    return slots::encodeCollection<fb::CtuTable>(builder, records, kCtuSlots);
}

flatbuffers::Offset<fb::CtuTable> encodeCtu(flatbuffers::FlatBufferBuilder& builder, const CtuInfo& record)
{
    return encodeRecord(builder, record);
}

// cus

bool verifyCuTable(flatbuffers::Verifier& verifier, const fb::CuTable& table)
{
    return table.Verify(verifier);
}

std::vector<CuInfo> decodeCus(const slots::TableVector<fb::CuTable>* tables)
{
    return slots::decodeCollection<CuInfo>(tables, kCuSlots);
}

CuInfo decodeCu(const fb::CuTable& table)
{
    return decodeRecord(table);
}

flatbuffers::Offset<slots::TableVector<fb::CuTable>> encodeCus(flatbuffers::FlatBufferBuilder& builder,
                                                               const std::vector<CuInfo>& records)
{
    return slots::encodeCollection<fb::CuTable>(builder, records, kCuSlots);
}

flatbuffers::Offset<fb::CuTable> encodeCu(flatbuffers::FlatBufferBuilder& builder, const CuInfo& record)
{
    return encodeRecord(builder, record);
}

// pus

bool verifyPuTable(flatbuffers::Verifier& verifier, const fb::PuTable& table)
{
    return table.Verify(verifier);
}

std::vector<PuInfo> decodePus(const slots::TableVector<fb::PuTable>* tables)
{
    return slots::decodeCollection<PuInfo>(tables, kPuSlots);
}

PuInfo decodePu(const fb::PuTable& table)
{
    return decodeRecord(table);
}

flatbuffers::Offset<slots::TableVector<fb::PuTable>> encodePus(flatbuffers::FlatBufferBuilder& builder,
                                                               const std::vector<PuInfo>& records)
{
    return slots::encodeCollection<fb::PuTable>(builder, records, kPuSlots);
}

flatbuffers::Offset<fb::PuTable> encodePu(flatbuffers::FlatBufferBuilder& builder, const PuInfo& record)
{
    return encodeRecord(builder, record);
}

// tus

bool verifyTuTable(flatbuffers::Verifier& verifier, const fb::TuTable& table)
{
    return table.Verify(verifier);
}

std::vector<TuInfo> decodeTus(const slots::TableVector<fb::TuTable>* tables)
{
    return slots::decodeCollection<TuInfo>(tables, kTuSlots);
}

TuInfo decodeTu(const fb::TuTable& table)
{
    return decodeRecord(table);
}

flatbuffers::Offset<slots::TableVector<fb::TuTable>> encodeTus(flatbuffers::FlatBufferBuilder& builder,
                                                               const std::vector<TuInfo>& records)
{
    return slots::encodeCollection<fb::TuTable>(builder, records, kTuSlots);
}

flatbuffers::Offset<fb::TuTable> encodeTu(flatbuffers::FlatBufferBuilder& builder, const TuInfo& record)
{
    return encodeRecord(builder, record);
}

// motionVectors

bool verifyMotionVectorTable(flatbuffers::Verifier& verifier, const fb::MotionVectorTable& table)
{
    return table.Verify(verifier);
}

std::vector<MotionVectorInfo> decodeMotionVectors(const slots::TableVector<fb::MotionVectorTable>* tables)
{
    return slots::decodeCollection<MotionVectorInfo>(tables, kMotionVectorSlots);
}

MotionVectorInfo decodeMotionVector(const fb::MotionVectorTable& table)
{
    return decodeRecord(table);
}

flatbuffers::Offset<slots::TableVector<fb::MotionVectorTable>> encodeMotionVectors(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<MotionVectorInfo>& records)
{
    return slots::encodeCollection<fb::MotionVectorTable>(builder, records, kMotionVectorSlots);
}

flatbuffers::Offset<fb::MotionVectorTable> encodeMotionVector(flatbuffers::FlatBufferBuilder& builder,
                                                              const MotionVectorInfo& record)
{
    return encodeRecord(builder, record);
}

}  // namespace vexilo::analysis
