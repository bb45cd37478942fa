// The inspector's explainers of NAL units, parameter sets, SEI messages and slices.

#include "vexilo/models/InspectorModel.h"

#include "InspectorRowRules.h"

#include <utility>

namespace vexilo {
namespace {

using namespace display;
using namespace inspector;

}  // namespace

void InspectorModel::explainNalUnit(const analysis::NalUnitInfo& nalUnit) {
    const QString locationStatus = nalUnit.byteSpanReliable ? kPresent : QStringLiteral("partial");
    const QString scanner = QStringLiteral("Annex-B scanner");
    const QString header = QStringLiteral("NAL header");
    setRows({
        {QStringLiteral("NAL"), nalUnitSummaryText(nalUnit), scanner, locationStatus,
         QStringLiteral("Semantic NAL identity in input byte order")},
        {QStringLiteral("Kind"), nalUnitKindText(codeOf(nalUnit.kind)), QStringLiteral("HEVC nal_unit_type"),
         codeRule(nalUnit.kind, kPresent), QStringLiteral("Vexilo NAL category")},
        {QStringLiteral("nal_unit_type"), formatOptionalUInt8(nalUnit.nalUnitType), header,
         signaledRule(nalUnit.nalUnitType), QStringLiteral("HEVC 6-bit nal_unit_type")},
        {QStringLiteral("nuh_layer_id"), formatOptionalUInt8(nalUnit.layerId), header, signaledRule(nalUnit.layerId),
         QStringLiteral("HEVC layer ID")},
        {QStringLiteral("temporal_id"), formatOptionalUInt8(nalUnit.temporalId), header,
         signaledRule(nalUnit.temporalId), QStringLiteral("nuh_temporal_id_plus1 minus one")},
        {QStringLiteral("byte span"),
         QStringLiteral("%1 + %2").arg(decimalText(nalUnit.byteOffset), decimalText(nalUnit.byteSize)), scanner,
         locationStatus, QStringLiteral("Byte offset and size in input order")},
        {QStringLiteral("content hash"), utf8Text(nalUnit.contentHash), QStringLiteral("escaped NAL bytes"),
         nonEmptyRule(nalUnit.contentHash), QStringLiteral("Bounded identity summary, not payload bytes")},
        identityRow(nalUnit.id),
    });
}

void InspectorModel::explainParameterSet(const analysis::ParameterSetInfo& parameterSet) {
    const QString kind = parameterSetKindText(codeOf(parameterSet.kind));
    const QString profile = profileText(codeOf(parameterSet.profile));
    const QString pps = QStringLiteral("PPS");
    setRows({
        {QStringLiteral("Parameter set"),
         QStringLiteral("%1 parameter_set_id=%2 profile=%3")
             .arg(kind, formatOptionalUInt16(parameterSet.parameterSetId), profile),
         QStringLiteral("parameter-set syntax"), codeRule(parameterSet.kind, kPresent),
         QStringLiteral("Semantic VPS/SPS/PPS identity")},
        {QStringLiteral("Parent NAL"),
         nalUnitReferenceText(index_.nalUnit(parameterSet.parentNalUnitId), parameterSet.parentNalUnitId),
         QStringLiteral("parameter-set NAL"), kPresent, QStringLiteral("NAL that carries this parameter set")},
        {QStringLiteral("Kind"), kind, QStringLiteral("parent NAL type"), codeRule(parameterSet.kind, kPresent),
         QStringLiteral("VPS/SPS/PPS classification")},
        {QStringLiteral("parameter_set_id"), formatOptionalUInt16(parameterSet.parameterSetId),
         QStringLiteral("raw parameter-set syntax"), signaledRule(parameterSet.parameterSetId),
         QStringLiteral("VPS/SPS/PPS syntax ID")},
        {QStringLiteral("profile"), profile, QStringLiteral("profile tier level"),
         codeRule(parameterSet.profile, kSignaled), QStringLiteral("HEVC profile when available")},
        {QStringLiteral("coded size"),
         QStringLiteral("%1 x %2").arg(formatOptionalUInt32(parameterSet.width),
                                        formatOptionalUInt32(parameterSet.height)),
         QStringLiteral("SPS conformance"), signaledRule(parameterSet.width),
         QStringLiteral("Coded luma dimensions when exported")},
        {QStringLiteral("bit depth"), formatOptionalUInt8(parameterSet.bitDepth), QStringLiteral("SPS bit depth"),
         signaledRule(parameterSet.bitDepth), QStringLiteral("Luma bit depth")},
        {QStringLiteral("tiles_enabled_flag"), formatOptionalBool(parameterSet.tilesEnabled), pps,
         signaledRule(parameterSet.tilesEnabled), QStringLiteral("Tile syntax availability")},
        {QStringLiteral("entropy_coding_sync_enabled_flag"), formatOptionalBool(parameterSet.entropyCodingSyncEnabled),
         pps, signaledRule(parameterSet.entropyCodingSyncEnabled), QStringLiteral("WPP syntax availability")},
        identityRow(parameterSet.id),
    });
}

void InspectorModel::explainSeiMessage(const analysis::SeiMessageInfo& seiMessage) {
    const QString status = seiStatusText(codeOf(seiMessage.status));
    const QString syntax = QStringLiteral("SEI syntax");
    const QString payloadType = formatOptionalUInt32(seiMessage.payloadType);
    const QString payloadSize = formatOptionalUInt64(seiMessage.payloadSize);
    setRows({
        {QStringLiteral("SEI"), QStringLiteral("SEI payload_type=%1 size=%2").arg(payloadType, payloadSize), syntax,
         status, QStringLiteral("Semantic SEI identity")},
        {QStringLiteral("Parent NAL"),
         nalUnitReferenceText(index_.nalUnit(seiMessage.parentNalUnitId), seiMessage.parentNalUnitId),
         QStringLiteral("SEI NAL"), kPresent, QStringLiteral("NAL that carries this SEI message")},
        {QStringLiteral("payload_type"), payloadType, syntax, signaledRule(seiMessage.payloadType),
         QStringLiteral("SEI payload type code")},
        {QStringLiteral("payload_size"), payloadSize, syntax, signaledRule(seiMessage.payloadSize),
         QStringLiteral("SEI payload size in bytes")},
        {QStringLiteral("status"), status, QStringLiteral("SEI parser"), status,
         QStringLiteral("Unsupported is distinct from malformed and unknown")},
        {QStringLiteral("payload hash"), utf8Text(seiMessage.payloadHash), QStringLiteral("SEI payload"),
         nonEmptyRule(seiMessage.payloadHash), QStringLiteral("Payload identity summary, not full payload storage")},
        identityRow(seiMessage.id),
    });
}

void InspectorModel::explainSlice(const analysis::SliceInfo& slice) {
    const QString parseStatus = parseStatusText(codeOf(slice.parseStatus));
    const QString referenceState = parseStatusText(codeOf(slice.referenceStateStatus));
    const QString decoderState = QStringLiteral("decoder state");
    const QString sliceHeader = QStringLiteral("slice header");
    const QString rawSyntax = QStringLiteral("Raw slice-header syntax");
    const QString signaledType =
        slice.signaledType.has_value() ? sliceTypeText(codeOf(*slice.signaledType)) : kNotAvailableText;
    std::vector<InspectorRow> rows{
        {QStringLiteral("Slice"), sliceSummaryText(slice), QStringLiteral("slice header / decoder state"), parseStatus,
         QStringLiteral("Semantic slice identity for this picture")},
        {QStringLiteral("Parent NAL"), nalUnitReferenceText(index_.nalUnit(slice.parentNalUnitId), slice.parentNalUnitId),
         QStringLiteral("slice NAL"), kPresent, QStringLiteral("NAL -> Slice association")},
        {QStringLiteral("effective slice type"), sliceTypeText(codeOf(slice.type)), decoderState,
         codeRule(slice.type, kDerived), QStringLiteral("Effective slice type after parsing/dependency handling")},
        {QStringLiteral("signaled slice_type"), signaledType,
         QStringLiteral("not present on dependent slice segments when omitted"), signaledRule(slice.signaledType),
         rawSyntax},
        {QStringLiteral("first_slice_segment_in_pic_flag"), formatOptionalBool(slice.firstSliceSegmentInPic),
         sliceHeader, signaledRule(slice.firstSliceSegmentInPic), rawSyntax},
        {QStringLiteral("dependent_slice_segment_flag"), formatOptionalBool(slice.dependentSliceSegment),
         QStringLiteral("PPS dependent_slice_segments_enabled_flag"), signaledRule(slice.dependentSliceSegment),
         QStringLiteral("Raw/dependent segment state when available")},
        {QStringLiteral("slice_segment_address"), formatOptionalUInt32(slice.sliceSegmentAddress),
         QStringLiteral("not present for first slice of picture"), signaledRule(slice.sliceSegmentAddress),
         QStringLiteral("Raw slice-header address")},
        {QStringLiteral("first CTU address"), formatOptionalUInt32(slice.firstCtuAddress), decoderState,
         derivedRule(slice.firstCtuAddress), QStringLiteral("Effective first CTU address")},
        {QStringLiteral("POC"), formatOptionalInt32(slice.poc), decoderState, derivedRule(slice.poc),
         QStringLiteral("Effective picture order count")},
        {QStringLiteral("pic_order_cnt_lsb"), formatOptionalInt32(slice.slicePicOrderCntLsb), sliceHeader,
         signaledRule(slice.slicePicOrderCntLsb), QStringLiteral("Raw POC LSB syntax")},
        {QStringLiteral("slice_qp_delta"), formatOptionalInt16(slice.sliceQpDelta), sliceHeader,
         signaledRule(slice.sliceQpDelta), QStringLiteral("Raw QP delta syntax")},
        {QStringLiteral("slice QP"), formatOptionalInt16(slice.sliceQp), decoderState, derivedRule(slice.sliceQp),
         QStringLiteral("Effective slice QP")},
        {QStringLiteral("parse status"), parseStatus, QStringLiteral("parser"), parseStatus,
         QStringLiteral("Malformed is distinct from unknown/partial")},
        {QStringLiteral("reference state"), referenceState, QStringLiteral("after RPS/RPL/DPB construction"),
         referenceState, QStringLiteral("Reference construction status")},
    };
    appendSliceEntryRows(rows, slice.id);
    rows.push_back(identityRow(slice.id));
    setRows(std::move(rows));
}

void InspectorModel::appendSliceEntryRows(std::vector<InspectorRow>& rows, const analysis::StableId& sliceId) const {
    for (const auto* entry : index_.shortTermEntriesOf(sliceId)) {
        rows.push_back({QStringLiteral("ST RPS[%1]").arg(formatOptionalUInt8(entry->entryIndex)),
                        QStringLiteral("delta=%1 poc=%2 used=%3 neg=%4")
                            .arg(formatOptionalInt32(entry->deltaPoc), formatOptionalInt32(entry->poc),
                                 formatOptionalBool(entry->used), formatOptionalBool(entry->negative)),
                        QStringLiteral("short-term RPS"), rpsSourceText(codeOf(entry->deltaPocOrigin)),
                        QStringLiteral("Short-term reference picture set entry")});
    }
    for (const auto* entry : index_.longTermEntriesOf(sliceId)) {
        rows.push_back({QStringLiteral("LT RPS[%1]").arg(formatOptionalUInt8(entry->entryIndex)),
                        QStringLiteral("poc_lsb=%1 poc=%2 used=%3 msb_cycle=%4")
                            .arg(formatOptionalInt32(entry->pocLsb), formatOptionalInt32(entry->poc),
                                 formatOptionalBool(entry->used), formatOptionalUInt32(entry->deltaPocMsbCycle)),
                        QStringLiteral("long-term RPS"), rpsSourceText(codeOf(entry->origin)),
                        QStringLiteral("Long-term reference picture set entry")});
    }
    for (const auto* entry : index_.referenceEntriesOf(sliceId)) {
        rows.push_back({QStringLiteral("%1[%2]").arg(referenceListText(codeOf(entry->list)),
                                                     formatOptionalUInt8(entry->listIndex)),
                        QStringLiteral("target=%1 poc=%2 long_term=%3")
                            .arg(formatOptionalUInt64(entry->targetPictureId), formatOptionalInt32(entry->poc),
                                 formatOptionalBool(entry->longTerm)),
                        QStringLiteral("actual RefPicList"), referenceStatusText(codeOf(entry->status)),
                        QStringLiteral("Effective L0/L1 reference list entry")});
    }
    for (const auto* entry : index_.dpbEntriesOf(sliceId)) {
        rows.push_back({QStringLiteral("DPB slot %1").arg(formatOptionalUInt8(entry->slot)),
                        QStringLiteral("picture=%1 poc=%2 ST=%3 LT=%4 output=%5")
                            .arg(formatOptionalUInt64(entry->pictureId), formatOptionalInt32(entry->poc),
                                 formatOptionalBool(entry->shortTermReference),
                                 formatOptionalBool(entry->longTermReference), formatOptionalBool(entry->output)),
                        QStringLiteral("decoder DPB snapshot"), referenceStatusText(codeOf(entry->status)),
                        QStringLiteral("Bounded DPB state after reference construction")});
    }
}

}  // namespace vexilo
