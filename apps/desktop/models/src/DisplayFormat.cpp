#include "vexilo/models/DisplayFormat.h"

#include "CodeTable.h"

#include <array>

namespace vexilo::display {
namespace {

using analysis::StableId;

constexpr std::array kParseStatus{CodeText{1, "parsed"}, CodeText{2, "malformed"}};
constexpr std::array kSeiStatus{CodeText{0, "unknown"}, CodeText{1, "parsed"}, CodeText{2, "unsupported"},
                                CodeText{3, "malformed"}};
constexpr std::array kNalUnitKind{CodeText{1, "VPS"},        CodeText{2, "SPS"},        CodeText{3, "PPS"},
                                  CodeText{4, "AUD"},        CodeText{5, "Prefix SEI"}, CodeText{6, "Suffix SEI"},
                                  CodeText{7, "Slice"}};
constexpr std::array kParameterSetKind{CodeText{0, "Unknown"}, CodeText{1, "VPS"}, CodeText{2, "SPS"},
                                       CodeText{3, "PPS"}};
constexpr std::array kProfile{CodeText{0, "Unknown"}, CodeText{1, "Main"}, CodeText{2, "Main 10"}};
constexpr std::array kSliceType{CodeText{0, "Unknown"}, CodeText{1, "I"}, CodeText{2, "P"}, CodeText{3, "B"}};
constexpr std::array kCompleteness{CodeText{0, "unknown"}, CodeText{1, "partial"}, CodeText{2, "complete"},
                                   CodeText{3, "failed"}};
constexpr std::array kRpsSource{CodeText{0, "unknown"}, CodeText{1, "slice-header"}, CodeText{2, "sps"},
                                CodeText{3, "derived"}};
constexpr std::array kReferenceStatus{CodeText{0, "unknown"}, CodeText{1, "available"},
                                      CodeText{2, "unavailable"}, CodeText{3, "corrupt"},
                                      CodeText{4, "current-picture"}};
constexpr std::array kReferenceList{CodeText{0, "Unknown"}, CodeText{1, "L0"}, CodeText{2, "L1"}};
constexpr std::array kInterDirection{CodeText{0, "unknown"}, CodeText{1, "L0"}, CodeText{2, "L1"},
                                     CodeText{3, "Bi"}};
constexpr std::array kPredictionMode{CodeText{0, "unknown"}, CodeText{1, "intra"}, CodeText{2, "inter"},
                                     CodeText{3, "skip"}};


QString hexText(std::uint64_t value, int minimumDigits) {
    return QStringLiteral("%1").arg(static_cast<qulonglong>(value), minimumDigits, 16, QLatin1Char('0'));
}

template <typename Record, typename Summary>
QString referenceText(const Record* found, const StableId& id, Summary summary, const char* unresolvedFormat) {
    if (found != nullptr) {
        return summary(*found);
    }
    return QString::fromLatin1(unresolvedFormat).arg(shortIdText(id));
}

}  // namespace

QString formatOptionalInt8(const std::optional<std::int8_t>& value) { return formatOptionalNumber(value); }
QString formatOptionalUInt8(const std::optional<std::uint8_t>& value) { return formatOptionalNumber(value); }
QString formatOptionalInt16(const std::optional<std::int16_t>& value) { return formatOptionalNumber(value); }
QString formatOptionalUInt16(const std::optional<std::uint16_t>& value) { return formatOptionalNumber(value); }
QString formatOptionalInt32(const std::optional<std::int32_t>& value) { return formatOptionalNumber(value); }
QString formatOptionalUInt32(const std::optional<std::uint32_t>& value) { return formatOptionalNumber(value); }
QString formatOptionalInt64(const std::optional<std::int64_t>& value) { return formatOptionalNumber(value); }
QString formatOptionalUInt64(const std::optional<std::uint64_t>& value) { return formatOptionalNumber(value); }

QString formatOptionalBool(const std::optional<bool>& value) {
    if (!value.has_value()) {
        return kNotAvailableText;
    }
    return *value ? QStringLiteral("true") : QStringLiteral("false");
}

QString provenanceText(const StableId& id) {
    return id.isNull() ? QStringLiteral("unavailable") : QStringLiteral("derived");
}

QString shortIdText(const StableId& id) {
    return QStringLiteral("id:%1").arg(hexText(id.low, 8));
}

QString stableIdText(const StableId& id) {
    return QStringLiteral("%1:%2").arg(hexText(id.high, 16), hexText(id.low, 16));
}

QString utf8Text(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString parseStatusText(std::uint8_t code) { return lookUp({kParseStatus, "unknown"}, code); }
QString seiStatusText(std::uint8_t code) { return lookUp({kSeiStatus, "unknown"}, code); }
QString nalUnitKindText(std::uint8_t code) { return lookUp({kNalUnitKind, "Unknown"}, code); }
QString parameterSetKindText(std::uint8_t code) { return lookUp({kParameterSetKind, "Unknown"}, code); }
QString profileText(std::uint8_t code) { return lookUp({kProfile, "Unknown"}, code); }
QString sliceTypeText(std::uint8_t code) { return lookUp({kSliceType, "Unknown"}, code); }
QString pictureTypeText(std::uint32_t code) { return lookUp({kSliceType, "Unknown"}, code); }
QString pictureTypeCellText(std::uint32_t code) {
    return lookUp({std::span(kSliceType).subspan(1), "N/A"}, code);
}
QString pictureCompletenessText(std::uint8_t code) { return lookUp({kCompleteness, "unknown"}, code); }
QString rpsSourceText(std::uint8_t code) { return lookUp({kRpsSource, "unknown"}, code); }
QString referenceStatusText(std::uint8_t code) { return lookUp({kReferenceStatus, "unknown"}, code); }
QString referenceListText(std::uint8_t code) { return lookUp({kReferenceList, "Unknown"}, code); }
QString interDirectionText(std::uint8_t code) { return lookUp({kInterDirection, "unknown"}, code); }
QString predictionModeText(std::uint8_t code) { return lookUp({kPredictionMode, "unknown"}, code); }
QString partModeText(std::uint8_t code) { return lookUp({kPartModeNames, "unknown"}, code); }

QString blockBoundsText(const analysis::BlockRect& bounds) {
    const QString unit = bounds.unit == analysis::kBlockRectUnitLumaSample ? QStringLiteral("luma-sample")
                                                                            : kUnknownStatusText;
    return QStringLiteral("x=%1 y=%2 w=%3 h=%4 unit=%5")
        .arg(decimalText(bounds.x), decimalText(bounds.y), decimalText(bounds.width), decimalText(bounds.height),
             unit);
}

QString nalUnitSummaryText(const analysis::NalUnitInfo& nalUnit) {
    return QStringLiteral("NAL %1 type=%2 @ byte %3 +%4")
        .arg(nalUnitKindText(codeOf(nalUnit.kind)), formatOptionalUInt8(nalUnit.nalUnitType),
             decimalText(nalUnit.byteOffset), decimalText(nalUnit.byteSize));
}

QString sliceSummaryText(const analysis::SliceInfo& slice) {
    return QStringLiteral("Slice %1 POC=%2 firstCTU=%3 display=%4")
        .arg(sliceTypeText(codeOf(slice.type)), formatOptionalInt32(slice.poc),
             formatOptionalUInt32(slice.firstCtuAddress), formatOptionalInt64(slice.displayIndex));
}

QString pictureSummaryText(const analysis::PictureAnalysisSummary& picture) {
    return QStringLiteral("Picture display=%1 POC=%2 type=%3 size=%4x%5")
        .arg(formatOptionalInt64(picture.displayIndex), formatOptionalInt32(picture.poc),
             pictureTypeText(codeOf(picture.pictureType)), formatOptionalUInt32(picture.width),
             formatOptionalUInt32(picture.height));
}

QString ctuSummaryText(const analysis::CtuInfo& ctu) {
    return QStringLiteral("CTU RS=%1 TS=%2 %3")
        .arg(formatOptionalUInt32(ctu.ctuAddressRs), formatOptionalUInt32(ctu.ctuAddressTs),
             blockBoundsText(ctu.bounds));
}

QString cuSummaryText(const analysis::CuInfo& cu) {
    return QStringLiteral("CU depth=%1 pred=%2 QP=%3 %4")
        .arg(formatOptionalUInt8(cu.depth), predictionModeText(codeOf(cu.predictionMode)),
             formatOptionalInt16(cu.qp), blockBoundsText(cu.bounds));
}

QString puSummaryText(const analysis::PuInfo& pu) {
    return QStringLiteral("PU part=%1 pred=%2 inter=%3 %4")
        .arg(decimalText(pu.partIndex), predictionModeText(codeOf(pu.predictionMode)),
             interDirectionText(codeOf(pu.interDirection)), blockBoundsText(pu.bounds));
}

QString tuSummaryText(const analysis::TuInfo& tu) {
    return QStringLiteral("TU depth=%1 CBF Y=%2 Cb=%3 Cr=%4 %5")
        .arg(formatOptionalUInt8(tu.depth), formatOptionalBool(tu.cbfLuma), formatOptionalBool(tu.cbfCb),
             formatOptionalBool(tu.cbfCr), blockBoundsText(tu.bounds));
}

QString motionVectorSummaryText(const analysis::MotionVectorInfo& motionVector) {
    return QStringLiteral("MV %1 refIdx=%2 refPOC=%3 x=%4 y=%5 quarter-luma")
        .arg(referenceListText(codeOf(motionVector.list)), formatOptionalInt8(motionVector.referenceIndex),
             formatOptionalInt32(motionVector.referencePoc), formatOptionalInt32(motionVector.mvX),
             formatOptionalInt32(motionVector.mvY));
}

QString nalUnitReferenceText(const analysis::NalUnitInfo* found, const StableId& id) {
    return referenceText(found, id, nalUnitSummaryText, "Unresolved NAL (%1)");
}
QString sliceReferenceText(const analysis::SliceInfo* found, const StableId& id) {
    return referenceText(found, id, sliceSummaryText, "Unresolved slice (%1)");
}
QString pictureReferenceText(const analysis::PictureAnalysisSummary* found, const StableId& id) {
    return referenceText(found, id, pictureSummaryText, "Unresolved picture (%1)");
}
QString ctuReferenceText(const analysis::CtuInfo* found, const StableId& id) {
    return referenceText(found, id, ctuSummaryText, "Unresolved CTU (%1)");
}
QString cuReferenceText(const analysis::CuInfo* found, const StableId& id) {
    return referenceText(found, id, cuSummaryText, "Unresolved CU (%1)");
}
QString puReferenceText(const analysis::PuInfo* found, const StableId& id) {
    return referenceText(found, id, puSummaryText, "Unresolved PU (%1)");
}
QString tuReferenceText(const analysis::TuInfo* found, const StableId& id) {
    return referenceText(found, id, tuSummaryText, "Unresolved TU (%1)");
}

QString nalUnitReferenceText(const analysis::StreamAnalysis& analysis, const StableId& id) {
    return nalUnitReferenceText(findFirstById(analysis.nalUnits, id), id);
}
QString sliceReferenceText(const analysis::StreamAnalysis& analysis, const StableId& id) {
    return sliceReferenceText(findFirstById(analysis.slices, id), id);
}
QString pictureReferenceText(const analysis::StreamAnalysis& analysis, const StableId& id) {
    return pictureReferenceText(findFirstById(analysis.pictures, id), id);
}
QString ctuReferenceText(const analysis::StreamAnalysis& analysis, const StableId& id) {
    return ctuReferenceText(findFirstById(analysis.ctus, id), id);
}
QString cuReferenceText(const analysis::StreamAnalysis& analysis, const StableId& id) {
    return cuReferenceText(findFirstById(analysis.cus, id), id);
}
QString puReferenceText(const analysis::StreamAnalysis& analysis, const StableId& id) {
    return puReferenceText(findFirstById(analysis.pus, id), id);
}
QString tuReferenceText(const analysis::StreamAnalysis& analysis, const StableId& id) {
    return tuReferenceText(findFirstById(analysis.tus, id), id);
}

}  // namespace vexilo::display
