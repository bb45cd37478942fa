#include "codec/SeiSliceErrorCodec.h"

#include "codec/RecordSlots.h"
#include "codec/ReferenceSlots.h"

#include <tuple>

namespace vexilo::analysis {
namespace {

using slots::slot;
using slots::stringSlot;
using slots::tableListSlot;

constexpr auto seiMessageSlots()
{
    using T = fb::SeiMessageTable;
    using R = SeiMessageInfo;
    return std::tuple{
        slot(&R::id, T::VT_ID),
        slot(&R::parentNalUnitId, T::VT_PARENTNALUNITID),
        slot(&R::pictureId, T::VT_PICTUREID),
        slot(&R::payloadType, T::VT_PAYLOADTYPE),
        slot(&R::payloadSize, T::VT_PAYLOADSIZE),
        stringSlot(&R::payloadHash, T::VT_PAYLOADHASH),
        slot(&R::status, T::VT_STATUS),
        tableListSlot<fb::SyntaxElementTable>(&R::syntaxElements, T::VT_SYNTAXELEMENTS),
        slot(&R::truncated, T::VT_TRUNCATED),
    };
}

constexpr auto sliceSlots()
{
    using T = fb::SliceTable;
    using R = SliceInfo;
    return std::tuple{
        slot(&R::id, T::VT_ID),
        slot(&R::parentNalUnitId, T::VT_PARENTNALUNITID),
        slot(&R::pictureId, T::VT_PICTUREID),
        slot(&R::type, T::VT_TYPE),
        slot(&R::firstCtuAddress, T::VT_FIRSTCTUADDRESS),
        slot(&R::sliceSegmentAddress, T::VT_SLICESEGMENTADDRESS),
        slot(&R::dependentSliceSegment, T::VT_DEPENDENTSLICESEGMENT),
        slot(&R::ppsId, T::VT_PPSID),
        slot(&R::poc, T::VT_POC),
        slot(&R::sliceQp, T::VT_SLICEQP),
        slot(&R::tileId, T::VT_TILEID),
        slot(&R::parseStatus, T::VT_PARSESTATUS),
        slot(&R::parserErrorCode, T::VT_PARSERERRORCODE),
        slot(&R::firstSliceSegmentInPic, T::VT_FIRSTSLICESEGMENTINPIC),
        slot(&R::noOutputOfPriorPics, T::VT_NOOUTPUTOFPRIORPICS),
        slot(&R::signaledType, T::VT_SIGNALEDTYPE),
        slot(&R::slicePicOutput, T::VT_SLICEPICOUTPUT),
        slot(&R::slicePicOrderCntLsb, T::VT_SLICEPICORDERCNTLSB),
        slot(&R::shortTermRefPicSetSps, T::VT_SHORTTERMREFPICSETSPS),
        slot(&R::shortTermRefPicSetIdx, T::VT_SHORTTERMREFPICSETIDX),
        slot(&R::numRefIdxActiveOverride, T::VT_NUMREFIDXACTIVEOVERRIDE),
        slot(&R::numRefIdxL0Active, T::VT_NUMREFIDXL0ACTIVE),
        slot(&R::numRefIdxL1Active, T::VT_NUMREFIDXL1ACTIVE),
        slot(&R::refPicListModificationL0, T::VT_REFPICLISTMODIFICATIONL0),
        slot(&R::refPicListModificationL1, T::VT_REFPICLISTMODIFICATIONL1),
        slot(&R::sliceQpDelta, T::VT_SLICEQPDELTA),
        slot(&R::numEntryPointOffsets, T::VT_NUMENTRYPOINTOFFSETS),
        slot(&R::decodeIndex, T::VT_DECODEINDEX),
        slot(&R::displayIndex, T::VT_DISPLAYINDEX),
        slot(&R::referenceStateStatus, T::VT_REFERENCESTATESTATUS),
        slot(&R::referenceStateErrorCode, T::VT_REFERENCESTATEERRORCODE),
        slot(&R::shortTermRpsCount, T::VT_SHORTTERMRPSCOUNT),
        slot(&R::longTermRpsCount, T::VT_LONGTERMRPSCOUNT),
        slot(&R::refPicListL0Count, T::VT_REFPICLISTL0COUNT),
        slot(&R::refPicListL1Count, T::VT_REFPICLISTL1COUNT),
        slot(&R::dpbEntryCount, T::VT_DPBENTRYCOUNT),
    };
}

constexpr auto analysisErrorSlots()
{
    using T = fb::AnalysisErrorTable;
    using R = AnalysisErrorInfo;
    return std::tuple{
        slot(&R::id, T::VT_ID),
        slot(&R::parentStreamAnalysisId, T::VT_PARENTSTREAMANALYSISID),
        slot(&R::relatedObjectId, T::VT_RELATEDOBJECTID),
        slot(&R::severity, T::VT_SEVERITY),
        stringSlot(&R::code, T::VT_CODE),
        stringSlot(&R::component, T::VT_COMPONENT),
        stringSlot(&R::message, T::VT_MESSAGE),
        stringSlot(&R::detail, T::VT_DETAIL),
        slot(&R::errorFlag, T::VT_ERRORFLAG),
        slot(&R::errorValue, T::VT_ERRORVALUE),
    };
}

}  // namespace

flatbuffers::Offset<fb::SeiMessageTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                      const SeiMessageInfo& record)
{
    return slots::encodeTableWithReferences<fb::SeiMessageTable>(builder, record, seiMessageSlots());
}

flatbuffers::Offset<fb::SliceTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                 const SliceInfo& record)
{
    return slots::encodeTable<fb::SliceTable>(builder, record, sliceSlots());
}

flatbuffers::Offset<fb::AnalysisErrorTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                         const AnalysisErrorInfo& record)
{
    return slots::encodeTableWithReferences<fb::AnalysisErrorTable>(builder, record, analysisErrorSlots());
}

SeiMessageInfo decodeRecord(const fb::SeiMessageTable& table)
{
    return slots::decodeTable<SeiMessageInfo>(table, seiMessageSlots());
}

SliceInfo decodeRecord(const fb::SliceTable& table)
{
    return slots::decodeTable<SliceInfo>(table, sliceSlots());
}

AnalysisErrorInfo decodeRecord(const fb::AnalysisErrorTable& table)
{
    return slots::decodeTable<AnalysisErrorInfo>(table, analysisErrorSlots());
}

std::uint64_t referencedStringBytes(const fb::SeiMessageTable& table)
{
    return slots::sumReferencedStringBytes(table, seiMessageSlots());
}

std::uint64_t referencedStringBytes(const fb::AnalysisErrorTable& table)
{
    return slots::sumReferencedStringBytes(table, analysisErrorSlots());
}

std::uint64_t nestedRecordBytes(const fb::SeiMessageTable& table)
{
    return slots::sumDecodedRecordBytes(table, seiMessageSlots());
}

bool verifySeiMessageTable(flatbuffers::Verifier& verifier, const fb::SeiMessageTable& table)
{
    return table.Verify(verifier);
}

bool verifySliceTable(flatbuffers::Verifier& verifier, const fb::SliceTable& table)
{
    return table.Verify(verifier);
}

bool verifyAnalysisErrorTable(flatbuffers::Verifier& verifier, const fb::AnalysisErrorTable& table)
{
    return table.Verify(verifier);
}

std::vector<SeiMessageInfo> decodeSeiMessages(const SeiTableVector<fb::SeiMessageTable>* tables)
{
    return slots::decodeRecords(tables);
}

SeiMessageInfo decodeSeiMessage(const fb::SeiMessageTable& table)
{
    return decodeRecord(table);
}

std::vector<SliceInfo> decodeSlices(const SeiTableVector<fb::SliceTable>* tables)
{
    return slots::decodeRecords(tables);
}

SliceInfo decodeSlice(const fb::SliceTable& table)
{
    return decodeRecord(table);
}

std::vector<AnalysisErrorInfo> decodeAnalysisErrors(const SeiTableVector<fb::AnalysisErrorTable>* tables)
{
    return slots::decodeRecords(tables);
}

AnalysisErrorInfo decodeAnalysisError(const fb::AnalysisErrorTable& table)
{
    return decodeRecord(table);
}

flatbuffers::Offset<SeiTableVector<fb::SeiMessageTable>> encodeSeiMessages(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<SeiMessageInfo>& records)
{
    return slots::encodeRecords<fb::SeiMessageTable>(builder, records);
}

flatbuffers::Offset<SeiTableVector<fb::SliceTable>> encodeSlices(flatbuffers::FlatBufferBuilder& builder,
                                                                 const std::vector<SliceInfo>& records)
{
    return slots::encodeRecords<fb::SliceTable>(builder, records);
}

flatbuffers::Offset<fb::SliceTable> encodeSlice(flatbuffers::FlatBufferBuilder& builder, const SliceInfo& record)
{
    return encodeRecord(builder, record);
}

flatbuffers::Offset<SeiTableVector<fb::AnalysisErrorTable>> encodeAnalysisErrors(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<AnalysisErrorInfo>& records)
{
    return slots::encodeRecords<fb::AnalysisErrorTable>(builder, records);
}

}  // namespace vexilo::analysis
