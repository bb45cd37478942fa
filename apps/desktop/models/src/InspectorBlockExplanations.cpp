// The inspector's explainers of CTUs, CUs, PUs, TUs and motion vectors, and of the block
// under the mouse in the frame viewer.

#include "vexilo/models/InspectorModel.h"

#include "InspectorRowRules.h"

#include <utility>

namespace vexilo {
namespace {

using namespace display;
using namespace inspector;
using analysis::StableId;

const QString kLumaGrid = QStringLiteral("luma sample grid");
const QString kDecoderState = QStringLiteral("decoder state");
const QString kDecoderCallback = QStringLiteral("decoder callback");
const QString kFinalQp = QStringLiteral("final decoder QP");
const QString kResidualSyntax = QStringLiteral("residual syntax");
const QString kDecodedFrame = QStringLiteral("decoded frame");
const QString kViewerInput = QStringLiteral("viewer input");

QString parseStatusOf(analysis::BlockParseStatus status) {
    return parseStatusText(codeOf(status));
}

InspectorRow parseStatusRow(analysis::BlockParseStatus status, const QString& semantics) {
    const QString text = parseStatusOf(status);
    return {QStringLiteral("Parse status"), text, kDecoderCallback, text, semantics};
}

InspectorRow geometryRow(const analysis::BlockRect& bounds, const QString& semantics) {
    return {QStringLiteral("Geometry"), blockBoundsText(bounds), kLumaGrid, unitRule(bounds), semantics};
}

// The rows both block listings begin with, after their own first row.
void appendViewerRows(std::vector<InspectorRow>& rows, const QString& interaction, const QString& interactionSemantics,
                      const QString& pictureId, const QString& displayIndex, const QString& lumaSample) {
    rows.push_back({QStringLiteral("Interaction"), interaction, kViewerInput, QStringLiteral("live"),
                    interactionSemantics});
    rows.push_back({QStringLiteral("Picture ID"), pictureId, kDecodedFrame, kPresent,
                    QStringLiteral("Vexilo domain picture identity")});
    rows.push_back({QStringLiteral("Display index"), displayIndex, kDecodedFrame, kPresent,
                    QStringLiteral("Presentation-order index shown in the viewer")});
    rows.push_back({QStringLiteral("Luma sample"), lumaSample, QStringLiteral("viewer coordinate transform"), kDerived,
                    QStringLiteral("Mouse position mapped from viewport to decoded luma coordinates")});
}

template <typename Record>
InspectorRow blockReferenceRow(const char* field, const StableId& id, const Record* found,
                               QString (*reference)(const Record*, const StableId&), const char* condition,
                               const char* semantics) {
    return {QString::fromLatin1(field), id.isNull() ? kNotAvailableText : reference(found, id),
            QString::fromLatin1(condition), provenanceText(id), QString::fromLatin1(semantics)};
}

}  // namespace

void InspectorModel::explainCtu(const analysis::CtuInfo& ctu) {
    const QString parseStatus = parseStatusOf(ctu.parseStatus);
    QString slice = kNotAvailableText;
    if (ctu.sliceInfoId.has_value()) {
        slice = sliceReferenceText(index_.slice(*ctu.sliceInfoId), *ctu.sliceInfoId);
    }
    setRows({
        {QStringLiteral("CTU"), ctuSummaryText(ctu), QStringLiteral("coding tree traversal"), parseStatus,
         QStringLiteral("Semantic CTU identity")},
        {QStringLiteral("Parent picture"),
         pictureReferenceText(index_.picture(ctu.parentPictureSummaryId), ctu.parentPictureSummaryId),
         QStringLiteral("picture summary"), kPresent, QStringLiteral("PictureAnalysisSummary that owns this CTU")},
        {QStringLiteral("Slice"), slice, QStringLiteral("slice association"), derivedRule(ctu.sliceInfoId),
         QStringLiteral("Slice that covered this CTU when available")},
        {QStringLiteral("Child CUs"), decimalText(index_.cuCountOfCtu(ctu.id)), QStringLiteral("CTU/CU hierarchy"),
         kDerived, QStringLiteral("Number of CUs directly owned by this CTU")},
        {QStringLiteral("CTU RS"), formatOptionalUInt32(ctu.ctuAddressRs), kDecoderState, derivedRule(ctu.ctuAddressRs),
         QStringLiteral("Raster-scan CTU address")},
        {QStringLiteral("CTU TS"), formatOptionalUInt32(ctu.ctuAddressTs), kDecoderState, derivedRule(ctu.ctuAddressTs),
         QStringLiteral("Tile-scan CTU address")},
        geometryRow(ctu.bounds, QStringLiteral("Coded-coordinate rectangle, clipped to coded picture bounds")),
        parseStatusRow(ctu.parseStatus, QStringLiteral("Malformed/partial CTU is not treated as normal block data")),
        identityRow(ctu.id),
    });
}

void InspectorModel::explainCu(const analysis::CuInfo& cu) {
    QString parentCu = kNotAvailableText;
    if (cu.parentCuId.has_value()) {
        parentCu = cuReferenceText(index_.cu(*cu.parentCuId), *cu.parentCuId);
    }
    const QString partMode =
        cu.partitionMode.has_value() ? partModeText(codeOf(*cu.partitionMode)) : kNotAvailableText;
    setRows({
        {QStringLiteral("CU"), cuSummaryText(cu), QStringLiteral("coding quadtree"), parseStatusOf(cu.parseStatus),
         QStringLiteral("Semantic CU identity")},
        {QStringLiteral("Parent CTU"), ctuReferenceText(index_.ctu(cu.parentCtuId), cu.parentCtuId),
         QStringLiteral("CTU/CU hierarchy"), kPresent, QStringLiteral("CTU that owns this CU")},
        {QStringLiteral("Parent CU"), parentCu, QStringLiteral("split hierarchy"), derivedRule(cu.parentCuId),
         QStringLiteral("Parent CU for recursive split; absent for root CU")},
        {QStringLiteral("Children"),
         QStringLiteral("CU=%1 PU=%2 TU=%3")
             .arg(decimalText(index_.childCuCountOfCu(cu.id)), decimalText(index_.puCountOfCu(cu.id)),
                  decimalText(index_.tuCountOfCu(cu.id))),
         QStringLiteral("block hierarchy"), kDerived, QStringLiteral("Immediate child CUs plus associated PU/TU counts")},
        geometryRow(cu.bounds, QStringLiteral("CU coded-coordinate rectangle")),
        {QStringLiteral("Depth"), formatOptionalUInt8(cu.depth), QStringLiteral("coding quadtree"),
         derivedRule(cu.depth), QStringLiteral("CU quadtree depth")},
        {QStringLiteral("Split"), formatOptionalBool(cu.split), kDecoderState, derivedRule(cu.split),
         QStringLiteral("Effective split state; raw signaled split is separate")},
        {QStringLiteral("Skip"), formatOptionalBool(cu.skip), kDecoderState, derivedRule(cu.skip),
         QStringLiteral("Effective skip state; raw signaled skip is separate")},
        {QStringLiteral("Pred mode"), predictionModeText(codeOf(cu.predictionMode)), kDecoderState,
         codeRule(cu.predictionMode, kDerived), QStringLiteral("Effective CU prediction mode")},
        {QStringLiteral("Part mode"), partMode, kDecoderState, derivedRule(cu.partitionMode),
         QStringLiteral("Effective partition mode")},
        {QStringLiteral("PCM"), formatOptionalBool(cu.pcm), kDecoderState, derivedRule(cu.pcm),
         QStringLiteral("PCM coding state")},
        {QStringLiteral("Transquant bypass"), formatOptionalBool(cu.transquantBypass), kDecoderState,
         derivedRule(cu.transquantBypass), QStringLiteral("CU transquant bypass state")},
        {QStringLiteral("QP"), qpTripleText(cu.qp, cu.chromaQpCb, cu.chromaQpCr), kFinalQp, derivedRule(cu.qp),
         QStringLiteral("Final block-level QP used by QP Map")},
        parseStatusRow(cu.parseStatus, QStringLiteral("Malformed/partial CU is not treated as normal block data")),
        identityRow(cu.id),
    });
}

void InspectorModel::explainPu(const analysis::PuInfo& pu) {
    setRows({
        {QStringLiteral("PU"), puSummaryText(pu), QStringLiteral("prediction unit traversal"),
         parseStatusOf(pu.parseStatus), QStringLiteral("Semantic PU identity")},
        {QStringLiteral("Parent CU"), cuReferenceText(index_.cu(pu.parentCuId), pu.parentCuId),
         QStringLiteral("CU/PU hierarchy"), kPresent, QStringLiteral("CU that owns this prediction unit")},
        {QStringLiteral("Child MVs"), decimalText(index_.motionVectorCountOfPu(pu.id)), QStringLiteral("PU/MV hierarchy"),
         kDerived, QStringLiteral("Motion vectors directly owned by this PU")},
        geometryRow(pu.bounds, QStringLiteral("PU coded-coordinate rectangle")),
        {QStringLiteral("Part index"), decimalText(pu.partIndex), QStringLiteral("partition traversal"), kDerived,
         QStringLiteral("Stable PU part index within parent CU")},
        {QStringLiteral("Pred mode"), predictionModeText(codeOf(pu.predictionMode)), kDecoderState,
         codeRule(pu.predictionMode, kDerived), QStringLiteral("Effective PU prediction mode")},
        {QStringLiteral("Part mode"), partModeText(codeOf(pu.partitionMode)), kDecoderState,
         codeRule(pu.partitionMode, kDerived), QStringLiteral("Effective PU partition mode")},
        {QStringLiteral("Inter pred idc"), interDirectionText(codeOf(pu.interDirection)), kDecoderState,
         codeRule(pu.interDirection, kDerived), QStringLiteral("L0/L1/Bi prediction direction")},
        {QStringLiteral("Intra modes"),
         QStringLiteral("luma=%1 chroma=%2")
             .arg(formatOptionalUInt8(pu.intraLumaMode), formatOptionalUInt8(pu.intraChromaMode)),
         QStringLiteral("intra PU"), derivedRule(pu.intraLumaMode),
         QStringLiteral("Intra luma/chroma prediction modes when available")},
        {QStringLiteral("Merge"),
         QStringLiteral("flag=%1 index=%2").arg(formatOptionalBool(pu.mergeFlag), formatOptionalUInt8(pu.mergeIndex)),
         QStringLiteral("inter/skip PU"), derivedRule(pu.mergeFlag), QStringLiteral("Merge candidate state")},
        {QStringLiteral("L0 reference"), referenceTripleText(pu.refIdxL0, pu.refPocL0, pu.refStatusL0),
         QStringLiteral("actual L0 list"), optionalReferenceStatusText(pu.refStatusL0),
         QStringLiteral("L0 reference identity and availability")},
        {QStringLiteral("L1 reference"), referenceTripleText(pu.refIdxL1, pu.refPocL1, pu.refStatusL1),
         QStringLiteral("actual L1 list"), optionalReferenceStatusText(pu.refStatusL1),
         QStringLiteral("L1 reference identity and availability")},
        parseStatusRow(pu.parseStatus, QStringLiteral("Malformed/partial PU is not treated as normal block data")),
        identityRow(pu.id),
    });
}

void InspectorModel::explainTu(const analysis::TuInfo& tu) {
    QString parentTu = kNotAvailableText;
    if (tu.parentTuId.has_value()) {
        parentTu = tuReferenceText(index_.tu(*tu.parentTuId), *tu.parentTuId);
    }
    const QString splitHierarchy = QStringLiteral("transform split hierarchy");
    setRows({
        {QStringLiteral("TU"), tuSummaryText(tu), QStringLiteral("transform tree"), parseStatusOf(tu.parseStatus),
         QStringLiteral("Semantic TU identity")},
        {QStringLiteral("Parent CU"), cuReferenceText(index_.cu(tu.parentCuId), tu.parentCuId),
         QStringLiteral("CU/TU hierarchy"), kPresent, QStringLiteral("CU that owns this transform unit")},
        {QStringLiteral("Parent TU"), parentTu, splitHierarchy, derivedRule(tu.parentTuId),
         QStringLiteral("Parent TU for recursive transform split; absent for root TU")},
        {QStringLiteral("Child TUs"), decimalText(index_.childTuCountOfTu(tu.id)), splitHierarchy, kDerived,
         QStringLiteral("Immediate child transform units")},
        geometryRow(tu.bounds, QStringLiteral("TU coded-coordinate rectangle")),
        {QStringLiteral("Depth"), formatOptionalUInt8(tu.depth), QStringLiteral("transform tree"),
         derivedRule(tu.depth), QStringLiteral("TU depth")},
        {QStringLiteral("Split"), formatOptionalBool(tu.split), kDecoderState, derivedRule(tu.split),
         QStringLiteral("Effective transform split state")},
        {QStringLiteral("CBF"), flagTripleText(tu.cbfLuma, tu.cbfCb, tu.cbfCr), kResidualSyntax, derivedRule(tu.cbfLuma),
         QStringLiteral("Coded block flags for Y/Cb/Cr")},
        {QStringLiteral("Transform skip"),
         flagTripleText(tu.transformSkipLuma, tu.transformSkipCb, tu.transformSkipCr), kResidualSyntax,
         derivedRule(tu.transformSkipLuma), QStringLiteral("Transform-skip state")},
        {QStringLiteral("RDPCM"),
         QStringLiteral("explicit %1")
             .arg(flagTripleText(tu.explicitRdpcmLuma, tu.explicitRdpcmCb, tu.explicitRdpcmCr)),
         kResidualSyntax, derivedRule(tu.explicitRdpcmLuma), QStringLiteral("RDPCM metadata; coefficients are not stored")},
        {QStringLiteral("QP"), qpTripleText(tu.qp, tu.chromaQpCb, tu.chromaQpCr), kFinalQp, derivedRule(tu.qp),
         QStringLiteral("Final TU-associated QP when available")},
        parseStatusRow(tu.parseStatus, QStringLiteral("Malformed/partial TU is not treated as normal residual data")),
        identityRow(tu.id),
    });
}

void InspectorModel::explainMotionVector(const analysis::MotionVectorInfo& motionVector) {
    const QString vectorStatus = bothPresentRule(motionVector.mvX.has_value(), motionVector.mvY.has_value());
    const QString motionState = QStringLiteral("decoder motion state");
    const QString referenceStatus = optionalReferenceStatusText(motionVector.referenceStatus);
    setRows({
        {QStringLiteral("Motion vector"), motionVectorSummaryText(motionVector), motionState, vectorStatus,
         QStringLiteral("Semantic MV identity; internal ID hidden in debug row")},
        {QStringLiteral("Parent PU"), puReferenceText(index_.pu(motionVector.parentPuId), motionVector.parentPuId),
         QStringLiteral("PU/MV hierarchy"), kPresent, QStringLiteral("Prediction unit that owns this motion vector")},
        {QStringLiteral("List"), referenceListText(codeOf(motionVector.list)), QStringLiteral("inter prediction list"),
         codeRule(motionVector.list, kDerived), QStringLiteral("Reference list identity; L0 red, L1 blue in Viewer")},
        {QStringLiteral("MV"),
         QStringLiteral("x=%1 y=%2 unit=quarter-luma")
             .arg(formatOptionalInt32(motionVector.mvX), formatOptionalInt32(motionVector.mvY)),
         motionState, vectorStatus, QStringLiteral("Stored in quarter-luma samples; Viewer draws MV/4 luma displacement")},
        {QStringLiteral("MVD"),
         QStringLiteral("x=%1 y=%2").arg(formatOptionalInt32(motionVector.mvdX), formatOptionalInt32(motionVector.mvdY)),
         QStringLiteral("AMVP/merge syntax"),
         bothPresentRule(motionVector.mvdX.has_value(), motionVector.mvdY.has_value()),
         QStringLiteral("Motion-vector difference when exported")},
        {QStringLiteral("Reference"),
         referenceTripleText(motionVector.referenceIndex, motionVector.referencePoc, motionVector.referenceStatus),
         QStringLiteral("actual reference list"), referenceStatus, QStringLiteral("Reference identity used by this MV")},
        identityRow(motionVector.id),
    });
}

void InspectorModel::showBlockInfo(const QString& interaction, const QString& pictureId, const QString& displayIndex,
                                   const QString& lumaSample, const StableId& ctuId, const StableId& cuId,
                                   const StableId& puId, const StableId& tuId) {
    std::vector<InspectorRow> rows{
        {QStringLiteral("Block Info"), QStringLiteral("Structure metadata available"),
         QStringLiteral("FFmpeg analyzer worker"), kDerived,
         QStringLiteral("Real HEVC block metadata loaded from Vexilo analysis cache")},
    };
    appendViewerRows(rows, interaction, QStringLiteral("Hover updates continuously; click locks the current block"),
                     pictureId, displayIndex, lumaSample);
    rows.push_back(blockReferenceRow("CTU", ctuId, index_.ctu(ctuId), &ctuReferenceText, "coding tree unit",
                                     "Smallest matching CTU containing this luma sample"));
    rows.push_back(blockReferenceRow("CU", cuId, index_.cu(cuId), &cuReferenceText, "coding unit",
                                     "Smallest matching CU containing this luma sample"));
    rows.push_back(blockReferenceRow("PU", puId, index_.pu(puId), &puReferenceText, "prediction unit",
                                     "Smallest matching PU containing this luma sample"));
    rows.push_back(blockReferenceRow("TU", tuId, index_.tu(tuId), &tuReferenceText, "transform unit",
                                     "Smallest matching TU containing this luma sample"));
    appendBlockDetailRows(rows, cuId, puId, tuId);
    setRows(std::move(rows));
}

void InspectorModel::appendBlockDetailRows(std::vector<InspectorRow>& rows, const StableId& cuId,
                                           const StableId& puId, const StableId& tuId) const {
    const auto* cu = cuId.isNull() ? nullptr : index_.cu(cuId);
    const auto* pu = puId.isNull() ? nullptr : index_.pu(puId);
    const auto* tu = tuId.isNull() ? nullptr : index_.tu(tuId);
    if (cu != nullptr) {
        const QString partMode =
            cu->partitionMode.has_value() ? partModeText(codeOf(*cu->partitionMode)) : kNotAvailableText;
        rows.push_back({QStringLiteral("CU prediction"),
                        QStringLiteral("mode=%1 part=%2 skip=%3 split=%4")
                            .arg(predictionModeText(codeOf(cu->predictionMode)), partMode,
                                 formatOptionalBool(cu->skip), formatOptionalBool(cu->split)),
                        kDecoderState, codeRule(cu->predictionMode, kDerived),
                        QStringLiteral("Effective CU prediction and split state")});
        rows.push_back({QStringLiteral("CU QP"), qpTripleText(cu->qp, cu->chromaQpCb, cu->chromaQpCr), kFinalQp,
                        derivedRule(cu->qp), QStringLiteral("Block-level quantization parameters when exported")});
    }
    if (pu != nullptr) {
        rows.push_back({QStringLiteral("PU prediction"),
                        QStringLiteral("mode=%1 dir=%2 merge=%3 idx=%4")
                            .arg(predictionModeText(codeOf(pu->predictionMode)),
                                 interDirectionText(codeOf(pu->interDirection)), formatOptionalBool(pu->mergeFlag),
                                 formatOptionalUInt8(pu->mergeIndex)),
                        kDecoderState, codeRule(pu->predictionMode, kDerived),
                        QStringLiteral("Effective PU prediction state")});
        const bool anyStatus = pu->refStatusL0.has_value() || pu->refStatusL1.has_value();
        rows.push_back({QStringLiteral("PU references"),
                        QStringLiteral("L0 %1; L1 %2")
                            .arg(referenceTripleText(pu->refIdxL0, pu->refPocL0, pu->refStatusL0),
                                 referenceTripleText(pu->refIdxL1, pu->refPocL1, pu->refStatusL1)),
                        QStringLiteral("actual reference list"), anyStatus ? kDerived : kUnknown,
                        QStringLiteral("Reference identities available for inter prediction")});
    }
    if (tu != nullptr) {
        rows.push_back({QStringLiteral("TU residual"),
                        QStringLiteral("CBF %1 split=%2")
                            .arg(flagTripleText(tu->cbfLuma, tu->cbfCb, tu->cbfCr), formatOptionalBool(tu->split)),
                        kResidualSyntax, derivedRule(tu->cbfLuma),
                        QStringLiteral("Transform split and coded block flag state")});
        rows.push_back({QStringLiteral("TU QP"), qpTripleText(tu->qp, tu->chromaQpCb, tu->chromaQpCr), kFinalQp,
                        derivedRule(tu->qp), QStringLiteral("TU-associated quantization parameters when exported")});
    }
}

void InspectorModel::showBlockInfoUnavailable(const QString& interaction, const QString& pictureId,
                                              const QString& displayIndex, const QString& lumaSample,
                                              const QString& fallbackCell) {
    std::vector<InspectorRow> rows{
        {QStringLiteral("Block Info"), QStringLiteral("Structure metadata unavailable"),
         QStringLiteral("viewer hover/click"), QStringLiteral("unavailable"),
         QStringLiteral("Real CTU/CU/PU/TU/MV data requires analyzer worker structure output")},
    };
    appendViewerRows(rows, interaction, QStringLiteral("Hover updates continuously; click locks the current cell"),
                     pictureId, displayIndex, lumaSample);
    rows.push_back({QStringLiteral("Fallback cell"), fallbackCell, QStringLiteral("64x64 display grid"),
                    QStringLiteral("not bitstream metadata"),
                    QStringLiteral("Spatial fallback for UI inspection before SPS/CTU metadata is available")});
    rows.push_back({QStringLiteral("Next data source"), QStringLiteral("Analyze Current Picture Structure"),
                    QStringLiteral("FFmpeg analyzer worker"), QStringLiteral("required"),
                    QStringLiteral("Will replace fallback cell with actual HEVC block hierarchy when exported")});
    setRows(std::move(rows));
}

}  // namespace vexilo
