#include "codec/NalParameterSetCodec.h"

#include "codec/RecordSlots.h"
#include "codec/ReferenceSlots.h"

#include <tuple>

namespace vexilo::analysis {
namespace {

using slots::slot;
using slots::stringSlot;
using slots::tableListSlot;

constexpr auto nalUnitSlots()
{
    using T = fb::NalUnitTable;
    using R = NalUnitInfo;
    return std::tuple{
        slot(&R::id, T::VT_ID),
        slot(&R::parentStreamAnalysisId, T::VT_PARENTSTREAMANALYSISID),
        slot(&R::byteOffset, T::VT_BYTEOFFSET),
        slot(&R::byteSize, T::VT_BYTESIZE),
        slot(&R::kind, T::VT_KIND),
        slot(&R::nalUnitType, T::VT_NALUNITTYPE),
        slot(&R::layerId, T::VT_LAYERID),
        slot(&R::temporalId, T::VT_TEMPORALID),
        slot(&R::pictureId, T::VT_PICTUREID),
        slot(&R::startCodeLength, T::VT_STARTCODELENGTH),
        stringSlot(&R::contentHash, T::VT_CONTENTHASH),
        slot(&R::byteSpanReliable, T::VT_BYTESPANRELIABLE, true),
    };
}

constexpr auto vpsSubLayerOrderingSlots()
{
    using T = fb::VpsSubLayerOrderingTable;
    using R = VpsSubLayerOrderingInfo;
    return std::tuple{
        slot(&R::subLayerId, T::VT_SUBLAYERID),
        slot(&R::maxDecPicBufferingMinus1, T::VT_MAXDECPICBUFFERINGMINUS1),
        slot(&R::maxNumReorderPics, T::VT_MAXNUMREORDERPICS),
        slot(&R::maxLatencyIncreasePlus1, T::VT_MAXLATENCYINCREASEPLUS1),
    };
}

constexpr auto vpsLayerSetSlots()
{
    using T = fb::VpsLayerSetTable;
    using R = VpsLayerSetInfo;
    return std::tuple{
        slot(&R::layerSetId, T::VT_LAYERSETID),
        slot(&R::includedLayerMask, T::VT_INCLUDEDLAYERMASK),
    };
}

constexpr auto profileTierLevelSlots()
{
    using T = fb::ProfileTierLevelTable;
    using R = ProfileTierLevelInfo;
    return std::tuple{
        slot(&R::subLayerId, T::VT_SUBLAYERID),
        slot(&R::profilePresentFlag, T::VT_PROFILEPRESENTFLAG),
        slot(&R::levelPresentFlag, T::VT_LEVELPRESENTFLAG),
        slot(&R::profileSpace, T::VT_PROFILESPACE),
        slot(&R::tierFlag, T::VT_TIERFLAG),
        slot(&R::profileIdc, T::VT_PROFILEIDC),
        slot(&R::profileCompatibilityFlags, T::VT_PROFILECOMPATIBILITYFLAGS),
        slot(&R::progressiveSourceFlag, T::VT_PROGRESSIVESOURCEFLAG),
        slot(&R::interlacedSourceFlag, T::VT_INTERLACEDSOURCEFLAG),
        slot(&R::nonPackedConstraintFlag, T::VT_NONPACKEDCONSTRAINTFLAG),
        slot(&R::frameOnlyConstraintFlag, T::VT_FRAMEONLYCONSTRAINTFLAG),
        slot(&R::max12bitConstraintFlag, T::VT_MAX12BITCONSTRAINTFLAG),
        slot(&R::max10bitConstraintFlag, T::VT_MAX10BITCONSTRAINTFLAG),
        slot(&R::max8bitConstraintFlag, T::VT_MAX8BITCONSTRAINTFLAG),
        slot(&R::max422chromaConstraintFlag, T::VT_MAX422CHROMACONSTRAINTFLAG),
        slot(&R::max420chromaConstraintFlag, T::VT_MAX420CHROMACONSTRAINTFLAG),
        slot(&R::maxMonochromeConstraintFlag, T::VT_MAXMONOCHROMECONSTRAINTFLAG),
        slot(&R::intraConstraintFlag, T::VT_INTRACONSTRAINTFLAG),
        slot(&R::onePictureOnlyConstraintFlag, T::VT_ONEPICTUREONLYCONSTRAINTFLAG),
        slot(&R::lowerBitRateConstraintFlag, T::VT_LOWERBITRATECONSTRAINTFLAG),
        slot(&R::max14bitConstraintFlag, T::VT_MAX14BITCONSTRAINTFLAG),
        slot(&R::inbldFlag, T::VT_INBLDFLAG),
        slot(&R::levelIdc, T::VT_LEVELIDC),
    };
}

constexpr auto syntaxElementSlots()
{
    using T = fb::SyntaxElementTable;
    using R = SyntaxElementInfo;
    return std::tuple{
        stringSlot(&R::name, T::VT_NAME),
        slot(&R::value, T::VT_VALUE),
        stringSlot(&R::displayValue, T::VT_DISPLAYVALUE),
    };
}

constexpr auto parameterSetSlots()
{
    using T = fb::ParameterSetTable;
    using R = ParameterSetInfo;
    return std::tuple{
        slot(&R::id, T::VT_ID),
        slot(&R::parentNalUnitId, T::VT_PARENTNALUNITID),
        slot(&R::kind, T::VT_KIND),
        slot(&R::parameterSetId, T::VT_PARAMETERSETID),
        slot(&R::profile, T::VT_PROFILE),
        slot(&R::width, T::VT_WIDTH),
        slot(&R::height, T::VT_HEIGHT),
        slot(&R::bitDepth, T::VT_BITDEPTH),
        slot(&R::log2CtuSize, T::VT_LOG2CTUSIZE),
        slot(&R::tilesEnabled, T::VT_TILESENABLED),
        slot(&R::entropyCodingSyncEnabled, T::VT_ENTROPYCODINGSYNCENABLED),
        stringSlot(&R::contentHash, T::VT_CONTENTHASH),
        slot(&R::referencedParameterSetId, T::VT_REFERENCEDPARAMETERSETID),
        slot(&R::profileIdc, T::VT_PROFILEIDC),
        slot(&R::levelIdc, T::VT_LEVELIDC),
        slot(&R::chromaFormatIdc, T::VT_CHROMAFORMATIDC),
        slot(&R::chromaBitDepth, T::VT_CHROMABITDEPTH),
        slot(&R::maxSubLayers, T::VT_MAXSUBLAYERS),
        slot(&R::numShortTermRefPicSets, T::VT_NUMSHORTTERMREFPICSETS),
        slot(&R::numTileColumns, T::VT_NUMTILECOLUMNS),
        slot(&R::numTileRows, T::VT_NUMTILEROWS),
        slot(&R::temporalIdNesting, T::VT_TEMPORALIDNESTING),
        slot(&R::sampleAdaptiveOffsetEnabled, T::VT_SAMPLEADAPTIVEOFFSETENABLED),
        slot(&R::temporalMvpEnabled, T::VT_TEMPORALMVPENABLED),
        slot(&R::dependentSliceSegmentsEnabled, T::VT_DEPENDENTSLICESEGMENTSENABLED),
        slot(&R::outputFlagPresent, T::VT_OUTPUTFLAGPRESENT),
        slot(&R::vpsBaseLayerInternal, T::VT_VPSBASELAYERINTERNAL),
        slot(&R::vpsBaseLayerAvailable, T::VT_VPSBASELAYERAVAILABLE),
        slot(&R::vpsMaxLayers, T::VT_VPSMAXLAYERS),
        slot(&R::vpsSubLayerOrderingInfoPresent, T::VT_VPSSUBLAYERORDERINGINFOPRESENT),
        tableListSlot<fb::VpsSubLayerOrderingTable>(&R::vpsSubLayerOrdering, T::VT_VPSSUBLAYERORDERING),
        slot(&R::vpsMaxLayerId, T::VT_VPSMAXLAYERID),
        slot(&R::vpsNumLayerSets, T::VT_VPSNUMLAYERSETS),
        slot(&R::vpsTimingInfoPresent, T::VT_VPSTIMINGINFOPRESENT),
        slot(&R::vpsNumUnitsInTick, T::VT_VPSNUMUNITSINTICK),
        slot(&R::vpsTimeScale, T::VT_VPSTIMESCALE),
        slot(&R::vpsPocProportionalToTiming, T::VT_VPSPOCPROPORTIONALTOTIMING),
        slot(&R::vpsNumTicksPocDiffOne, T::VT_VPSNUMTICKSPOCDIFFONE),
        slot(&R::vpsNumHrdParameters, T::VT_VPSNUMHRDPARAMETERS),
        tableListSlot<fb::VpsLayerSetTable>(&R::vpsLayerSets, T::VT_VPSLAYERSETS),
        slot(&R::vpsExtension, T::VT_VPSEXTENSION),
        tableListSlot<fb::ProfileTierLevelTable>(&R::profileTierLevels, T::VT_PROFILETIERLEVELS),
        tableListSlot<fb::SyntaxElementTable>(&R::syntaxElements, T::VT_SYNTAXELEMENTS),
    };
}

}  // namespace

flatbuffers::Offset<fb::NalUnitTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                   const NalUnitInfo& record)
{
    return slots::encodeTableWithReferences<fb::NalUnitTable>(builder, record, nalUnitSlots());
}

flatbuffers::Offset<fb::ParameterSetTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                        const ParameterSetInfo& record)
{
    return slots::encodeTableWithReferences<fb::ParameterSetTable>(builder, record, parameterSetSlots());
}

flatbuffers::Offset<fb::VpsSubLayerOrderingTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                               const VpsSubLayerOrderingInfo& record)
{
    return slots::encodeTable<fb::VpsSubLayerOrderingTable>(builder, record, vpsSubLayerOrderingSlots());
}

flatbuffers::Offset<fb::VpsLayerSetTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                       const VpsLayerSetInfo& record)
{
    return slots::encodeTable<fb::VpsLayerSetTable>(builder, record, vpsLayerSetSlots());
}

flatbuffers::Offset<fb::ProfileTierLevelTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                            const ProfileTierLevelInfo& record)
{
    return slots::encodeTable<fb::ProfileTierLevelTable>(builder, record, profileTierLevelSlots());
}

flatbuffers::Offset<fb::SyntaxElementTable> encodeRecord(flatbuffers::FlatBufferBuilder& builder,
                                                         const SyntaxElementInfo& record)
{
    return slots::encodeTableWithReferences<fb::SyntaxElementTable>(builder, record, syntaxElementSlots());
}

NalUnitInfo decodeRecord(const fb::NalUnitTable& table)
{
    return slots::decodeTable<NalUnitInfo>(table, nalUnitSlots());
}

ParameterSetInfo decodeRecord(const fb::ParameterSetTable& table)
{
    return slots::decodeTable<ParameterSetInfo>(table, parameterSetSlots());
}

VpsSubLayerOrderingInfo decodeRecord(const fb::VpsSubLayerOrderingTable& table)
{
    return slots::decodeTable<VpsSubLayerOrderingInfo>(table, vpsSubLayerOrderingSlots());
}

VpsLayerSetInfo decodeRecord(const fb::VpsLayerSetTable& table)
{
    return slots::decodeTable<VpsLayerSetInfo>(table, vpsLayerSetSlots());
}

ProfileTierLevelInfo decodeRecord(const fb::ProfileTierLevelTable& table)
{
    return slots::decodeTable<ProfileTierLevelInfo>(table, profileTierLevelSlots());
}

SyntaxElementInfo decodeRecord(const fb::SyntaxElementTable& table)
{
    return slots::decodeTable<SyntaxElementInfo>(table, syntaxElementSlots());
}

std::uint64_t referencedStringBytes(const fb::NalUnitTable& table)
{
    return slots::sumReferencedStringBytes(table, nalUnitSlots());
}

std::uint64_t referencedStringBytes(const fb::ParameterSetTable& table)
{
    return slots::sumReferencedStringBytes(table, parameterSetSlots());
}

std::uint64_t referencedStringBytes(const fb::SyntaxElementTable& table)
{
    return slots::sumReferencedStringBytes(table, syntaxElementSlots());
}

std::uint64_t nestedRecordBytes(const fb::ParameterSetTable& table)
{
    return slots::sumDecodedRecordBytes(table, parameterSetSlots());
}

bool verifyNalUnitTable(flatbuffers::Verifier& verifier, const fb::NalUnitTable& table)
{
    return table.Verify(verifier);
}

bool verifyParameterSetTable(flatbuffers::Verifier& verifier, const fb::ParameterSetTable& table)
{
    return table.Verify(verifier);
}

bool verifyProfileTierLevelTable(flatbuffers::Verifier& verifier, const fb::ProfileTierLevelTable& table)
{
    return table.Verify(verifier);
}

bool verifySyntaxElementVector(flatbuffers::Verifier& verifier,
                               const NalTableVector<fb::SyntaxElementTable>* tables)
{
    return slots::verifyTableVector(verifier, tables);
}

bool verifyVpsSubLayerOrderingVector(flatbuffers::Verifier& verifier,
                                     const NalTableVector<fb::VpsSubLayerOrderingTable>* tables)
{
    return slots::verifyTableVector(verifier, tables);
}

std::vector<NalUnitInfo> decodeNalUnits(const NalTableVector<fb::NalUnitTable>* tables)
{
    return slots::decodeRecords(tables);
}

NalUnitInfo decodeNalUnit(const fb::NalUnitTable& table)
{
    return decodeRecord(table);
}

std::vector<ParameterSetInfo> decodeParameterSets(const NalTableVector<fb::ParameterSetTable>* tables)
{
    return slots::decodeRecords(tables);
}

ParameterSetInfo decodeParameterSet(const fb::ParameterSetTable& table)
{
    return decodeRecord(table);
}

ProfileTierLevelInfo decodeProfileTierLevel(const fb::ProfileTierLevelTable& table)
{
    return decodeRecord(table);
}

std::vector<SyntaxElementInfo> decodeSyntaxElements(const NalTableVector<fb::SyntaxElementTable>* tables)
{
    return slots::decodeRecords(tables);
}

std::vector<VpsSubLayerOrderingInfo> decodeVpsSubLayerOrdering(
    const NalTableVector<fb::VpsSubLayerOrderingTable>* tables)
{
    return slots::decodeRecords(tables);
}

std::vector<VpsLayerSetInfo> decodeVpsLayerSets(const NalTableVector<fb::VpsLayerSetTable>* tables)
{
    return slots::decodeRecords(tables);
}

flatbuffers::Offset<NalTableVector<fb::NalUnitTable>> encodeNalUnits(flatbuffers::FlatBufferBuilder& builder,
                                                                    const std::vector<NalUnitInfo>& records)
{
    return slots::encodeRecords<fb::NalUnitTable>(builder, records);
}

flatbuffers::Offset<NalTableVector<fb::ParameterSetTable>> encodeParameterSets(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<ParameterSetInfo>& records)
{
    return slots::encodeRecords<fb::ParameterSetTable>(builder, records);
}

flatbuffers::Offset<fb::ParameterSetTable> encodeParameterSet(flatbuffers::FlatBufferBuilder& builder,
                                                              const ParameterSetInfo& record)
{
    return encodeRecord(builder, record);
}

flatbuffers::Offset<NalTableVector<fb::ProfileTierLevelTable>> encodeProfileTierLevels(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<ProfileTierLevelInfo>& records)
{
    return slots::encodeRecords<fb::ProfileTierLevelTable>(builder, records);
}

flatbuffers::Offset<fb::ProfileTierLevelTable> encodeProfileTierLevel(flatbuffers::FlatBufferBuilder& builder,
                                                                      const ProfileTierLevelInfo& record)
{
    return encodeRecord(builder, record);
}

flatbuffers::Offset<NalTableVector<fb::SyntaxElementTable>> encodeSyntaxElements(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<SyntaxElementInfo>& records)
{
    return slots::encodeRecords<fb::SyntaxElementTable>(builder, records);
}

flatbuffers::Offset<NalTableVector<fb::VpsSubLayerOrderingTable>> encodeVpsSubLayerOrdering(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<VpsSubLayerOrderingInfo>& records)
{
    return slots::encodeRecords<fb::VpsSubLayerOrderingTable>(builder, records);
}

flatbuffers::Offset<NalTableVector<fb::VpsLayerSetTable>> encodeVpsLayerSets(
    flatbuffers::FlatBufferBuilder& builder, const std::vector<VpsLayerSetInfo>& records)
{
    return slots::encodeRecords<fb::VpsLayerSetTable>(builder, records);
}

}  // namespace vexilo::analysis
