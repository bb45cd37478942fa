#include "SyntaxRowBuilders.h"
#include "SyntaxRowFormat.h"

#include "vexilo/models/PictureSyntaxModel.h"

#include <unordered_map>

namespace vexilo::syntaxrows {
namespace {

using analysis::SliceInfo;
using analysis::StableId;
using analysis::StableIdHash;

constexpr const char* kHeader = "slice_segment_header()";
constexpr const char* kDerived = "derived decoder state";
constexpr const char* kRawFlagSemantics = "Raw signaled flag when present";

// Where slice_segment_header() codes each element: the branches that enclose it, outermost
// first, joined as the picture syntax model nests them.
constexpr const char* kNotFirstSegment = "not first slice segment";
constexpr const char* kDependentFlagBranch = "not first slice segment && dependent_slice_segments_enabled_flag == true";
constexpr const char* kIndependentSegment = "independent slice segment";
constexpr const char* kOutputFlagBranch = "independent slice segment && output_flag_present_flag == true";
constexpr const char* kNonIdrBranch = "independent slice segment && non-IDR picture";
constexpr const char* kSpsRpsIndexBranch = "independent slice segment && non-IDR picture && "
                                           "short_term_ref_pic_set_sps_flag == true && num_short_term_ref_pic_sets > 1";
constexpr const char* kPredictedBranch = "independent slice segment && P/B slice";
constexpr const char* kOverrideBranch = "independent slice segment && P/B slice && num_ref_idx_active_override_flag == true";
constexpr const char* kOverrideL1Branch =
    "independent slice segment && P/B slice && num_ref_idx_active_override_flag == true && B slice";
constexpr const char* kListModificationBranch =
    "independent slice segment && P/B slice && lists_modification_present_flag == true && NumPicTotalCurr > 1";
constexpr const char* kSliceRpsBranch =
    "independent slice segment && non-IDR picture && short_term_ref_pic_set_sps_flag == false";
constexpr const char* kWeightedPredictionBranch = "independent slice segment && P/B slice && weighted prediction";
// Inside ref_pic_lists_modification() a row's condition starts at the structure.
constexpr const char* kListModification = "ref_pic_lists_modification()";
constexpr const char* kListModificationL1 = "B slice";

// The records of one reference collection grouped by their slice, in stored order.
template <typename Record>
class BySlice {
public:
    explicit BySlice(const std::vector<Record>& records)
    {
        for (const Record& record : records) {
            groups_[record.parentSliceId].push_back(&record);
        }
    }

    [[nodiscard]] const std::vector<const Record*>& of(const StableId& slice) const
    {
        static const std::vector<const Record*> kNone;
        const auto found = groups_.find(slice);
        return found == groups_.end() ? kNone : found->second;
    }

private:
    std::unordered_map<StableId, std::vector<const Record*>, StableIdHash> groups_;
};

QString indexText(const std::optional<std::uint8_t>& index) { return formatOptionalUInt8(index); }

QString referenceListLabel(analysis::ReferenceList list)
{
    switch (list) {
    case analysis::ReferenceList::L0:
        return QStringLiteral("L0");
    case analysis::ReferenceList::L1:
        return QStringLiteral("L1");
    default:
        return QStringLiteral("Unknown");
    }
}

std::optional<std::uint8_t> sliceTypeCode(const std::optional<analysis::SliceType>& type)
{
    return type ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*type)) : std::nullopt;
}

// The picture parameter sets of the document, to find the one a slice refers to: the last set of
// its id that the stream sent before the slice. A unit whose place is unknown counts as before.
class PictureParameterSets {
public:
    explicit PictureParameterSets(const PictureSyntaxModel& model) : model_(model)
    {
        for (const analysis::ParameterSetInfo& set : model.analysis().parameterSets) {
            if (set.kind == analysis::ParameterSetKind::Pps && set.parameterSetId) {
                sets_.push_back({&set, offsetOf(set.parentNalUnitId)});
            }
        }
    }

    [[nodiscard]] const analysis::ParameterSetInfo* activeFor(const SliceInfo& slice) const
    {
        const std::optional<std::uint64_t> sliceOffset = offsetOf(slice.parentNalUnitId);
        const analysis::ParameterSetInfo* active = nullptr;
        for (const SentSet& sent : sets_) {
            const bool before = !sliceOffset || !sent.offset || *sent.offset < *sliceOffset;
            if (before && sent.set->parameterSetId == slice.ppsId) {
                active = sent.set;
            }
        }
        return active;
    }

private:
    struct SentSet {
        const analysis::ParameterSetInfo* set;
        std::optional<std::uint64_t> offset;
    };

    [[nodiscard]] std::optional<std::uint64_t> offsetOf(const StableId& nalUnitId) const
    {
        const analysis::NalUnitInfo* nalUnit = model_.nalUnitById(nalUnitId);
        return nalUnit != nullptr ? std::optional<std::uint64_t>(nalUnit->byteOffset) : std::nullopt;
    }

    const PictureSyntaxModel& model_;
    std::vector<SentSet> sets_;
};

class SliceRows {
public:
    SliceRows(const PictureSyntaxModel& model, std::vector<SyntaxRow>& rows)
        : model_(model), rows_(rows), pictureParameterSets_(model)
    {
    }

    void append(const SliceInfo& slice)
    {
        rows_.push_back({internedText(kHeader), sliceSummaryText(slice), QStringLiteral("slice NAL"),
                         parseStatusText(slice.parseStatus),
                         QStringLiteral("Slice header raw syntax plus derived decoder state")});
        rows_.push_back({QStringLiteral("parent nal_unit()"),
                         nalUnitSummaryById(model_.nalUnits(), slice.parentNalUnitId),
                         QStringLiteral("slice NAL association"), internedText(kStatusPresent),
                         QStringLiteral("NAL that owns this slice header")});
        appendRawSyntax(slice);
        appendDerivedState(slice);
    }

private:
    template <typename T>
    void field(const char* name, const QString& value, const std::optional<T>& source, const char* condition,
               const char* semantics)
    {
        appendSyntaxRow(rows_, internedText(name), value, internedText(condition), source.has_value(),
                        internedText(semantics));
    }

    void appendRawSyntax(const SliceInfo& slice)
    {
        field("first_slice_segment_in_pic_flag", formatOptionalBool(slice.firstSliceSegmentInPic),
              slice.firstSliceSegmentInPic, kHeader, kRawFlagSemantics);
        field("no_output_of_prior_pics_flag", formatOptionalBool(slice.noOutputOfPriorPics), slice.noOutputOfPriorPics,
              "IRAP picture", kRawFlagSemantics);
        field("slice_pic_parameter_set_id", formatOptionalUInt16(slice.ppsId), slice.ppsId, kHeader,
              "Raw PPS id signaled by slice");
        field("dependent_slice_segment_flag", formatOptionalBool(slice.dependentSliceSegment),
              slice.dependentSliceSegment, kDependentFlagBranch,
              "Raw dependent segment flag when present");
        field("slice_segment_address", formatOptionalUInt32(slice.sliceSegmentAddress), slice.sliceSegmentAddress,
              kNotFirstSegment, "Raw slice segment address when present");
        field("slice_type", slice.signaledType ? sliceTypeText(*slice.signaledType) : internedText(kNotAvailable),
              sliceTypeCode(slice.signaledType), kIndependentSegment,
              "Raw signaled slice type; effective type is shown separately");
        field("pic_output_flag", formatOptionalBool(slice.slicePicOutput), slice.slicePicOutput,
              kOutputFlagBranch, "Raw slice output flag when present");
        field("slice_pic_order_cnt_lsb", formatOptionalInt32(slice.slicePicOrderCntLsb), slice.slicePicOrderCntLsb,
              kNonIdrBranch, "Raw POC LSB syntax element when exported");
        field("short_term_ref_pic_set_sps_flag", formatOptionalBool(slice.shortTermRefPicSetSps),
              slice.shortTermRefPicSetSps, kNonIdrBranch,
              "Raw flag distinguishing slice-local RPS vs SPS RPS");
        if (slice.shortTermRefPicSetSps == false && slice.dependentSliceSegment != true) {
            appendUnsupportedRow(rows_, QStringLiteral("st_ref_pic_set( num_short_term_ref_pic_sets )"),
                                 internedText(kSliceRpsBranch),
                                 QStringLiteral("Slice RPS syntax is not exported; its entries follow the header"));
        }
        field("short_term_ref_pic_set_idx", formatOptionalUInt32(slice.shortTermRefPicSetIdx),
              slice.shortTermRefPicSetIdx, kSpsRpsIndexBranch, "Raw SPS RPS index when present");
        field("num_ref_idx_active_override_flag", formatOptionalBool(slice.numRefIdxActiveOverride),
              slice.numRefIdxActiveOverride, kPredictedBranch, "Raw reference count override flag");
        field("num_ref_idx_l0_active_minus1", formatOptionalUInt8Minus1(slice.numRefIdxL0Active),
              slice.numRefIdxL0Active, kOverrideBranch,
              "Repository stores active L0 count; UI shows minus1 syntax value");
        field("num_ref_idx_l1_active_minus1", formatOptionalUInt8Minus1(slice.numRefIdxL1Active),
              slice.numRefIdxL1Active, kOverrideL1Branch,
              "Repository stores active L1 count; UI shows minus1 syntax value");
        const bool modified = slice.refPicListModificationL0.has_value() || slice.refPicListModificationL1.has_value();
        rows_.push_back({internedText(kListModification), {}, internedText(kListModificationBranch),
                         internedText(modified ? kStatusPresent : kStatusUnknown),
                         QStringLiteral("Reference picture list modification syntax")});
        field("ref_pic_list_modification_flag_l0", formatOptionalBool(slice.refPicListModificationL0),
              slice.refPicListModificationL0, kListModification, "Raw L0 list modification flag");
        field("ref_pic_list_modification_flag_l1", formatOptionalBool(slice.refPicListModificationL1),
              slice.refPicListModificationL1, kListModificationL1, "Raw L1 list modification flag");
        if (weightedPrediction(slice)) {
            appendUnsupportedRow(rows_, QStringLiteral("pred_weight_table()"), internedText(kWeightedPredictionBranch),
                                 QStringLiteral("Prediction weights are not exported"));
        }
        field("slice_qp_delta", formatOptionalInt16(slice.sliceQpDelta), slice.sliceQpDelta, kIndependentSegment,
              "Raw QP delta signaled in the slice header");
        field("num_entry_point_offsets", formatOptionalUInt32(slice.numEntryPointOffsets), slice.numEntryPointOffsets,
              "tiles or WPP", "Entry point count for tile/WPP substreams");
    }

    void appendDerivedState(const SliceInfo& slice)
    {
        rows_.push_back({QStringLiteral("effective_slice_type"), sliceTypeText(slice.type), internedText(kDerived),
                         internedText(slice.type != analysis::SliceType::Undetermined ? kStatusDerived
                                                                                            : kStatusUnknown),
                         QStringLiteral("Effective type after dependent-slice inheritance")});
        field("PicOrderCntVal", formatOptionalInt32(slice.poc), slice.poc, kDerived, "Derived HEVC POC");
        field("first_ctu_address", formatOptionalUInt32(slice.firstCtuAddress), slice.firstCtuAddress, kDerived,
              "Effective first CTU address used by block association");
        field("SliceQpY", formatOptionalInt16(slice.sliceQp), slice.sliceQp, kDerived,
              "Final slice QP before CU/TU deltas");
        field("tile_id", formatOptionalUInt32(slice.tileId), slice.tileId, kDerived,
              "Tile id associated with this slice when exported");
    }

    // pred_weight_table() is coded for P slices under weighted_pred_flag and B slices under
    // weighted_bipred_flag of the slice's picture parameter set.
    [[nodiscard]] bool weightedPrediction(const SliceInfo& slice) const
    {
        const analysis::ParameterSetInfo* pps = pictureParameterSets_.activeFor(slice);
        if (pps == nullptr || slice.dependentSliceSegment == true) {
            return false;
        }
        return (slice.type == analysis::SliceType::P && syntaxFieldIsSet(*pps, "weighted_pred_flag")) ||
               (slice.type == analysis::SliceType::B && syntaxFieldIsSet(*pps, "weighted_bipred_flag"));
    }

    const PictureSyntaxModel& model_;
    std::vector<SyntaxRow>& rows_;
    PictureParameterSets pictureParameterSets_;
};

}  // namespace

void buildSliceHeaderSyntax(const PictureSyntaxModel& model, std::vector<SyntaxRow>& rows)
{
    const analysis::StreamAnalysis& document = model.analysis();
    const BySlice shortTerm(document.shortTermReferencePictures);
    const BySlice longTerm(document.longTermReferencePictures);
    const BySlice lists(document.referencePictures);
    const BySlice dpb(document.dpbSnapshotEntries);
    SliceRows sliceRows(model, rows);
    for (const SliceInfo& slice : document.slices) {
        if (!model.belongsToShownPicture(slice.pictureId)) {
            continue;
        }
        sliceRows.append(slice);
        for (const auto* entry : shortTerm.of(slice.id)) {
            rows.push_back({QStringLiteral("st_ref_pic_set[%1]").arg(indexText(entry->entryIndex)),
                            QStringLiteral("delta_poc=%1 poc=%2 used=%3 negative=%4")
                                .arg(formatOptionalInt32(entry->deltaPoc), formatOptionalInt32(entry->poc),
                                     formatOptionalBool(entry->used), formatOptionalBool(entry->negative)),
                            QStringLiteral("short-term RPS"),
                            QStringLiteral("%1/%2").arg(rpsSourceText(entry->deltaPocOrigin),
                                                        rpsSourceText(entry->usedOrigin)),
                            QStringLiteral("Short-term RPS entry exported after slice header parsing")});
        }
        for (const auto* entry : longTerm.of(slice.id)) {
            rows.push_back({QStringLiteral("lt_ref_pic_set[%1]").arg(indexText(entry->entryIndex)),
                            QStringLiteral("poc_lsb=%1 poc=%2 used=%3 delta_msb=%4")
                                .arg(formatOptionalInt32(entry->pocLsb), formatOptionalInt32(entry->poc),
                                     formatOptionalBool(entry->used), formatOptionalUInt32(entry->deltaPocMsbCycle)),
                            QStringLiteral("long-term RPS"), rpsSourceText(entry->origin),
                            QStringLiteral("Long-term RPS entry exported after slice header parsing")});
        }
        for (const auto* entry : lists.of(slice.id)) {
            rows.push_back({QStringLiteral("RefPicList%1[%2]").arg(referenceListLabel(entry->list),
                                                                   indexText(entry->listIndex)),
                            QStringLiteral("picture=%1 poc=%2 long_term=%3")
                                .arg(formatOptionalUInt64(entry->targetPictureId), formatOptionalInt32(entry->poc),
                                     formatOptionalBool(entry->longTerm)),
                            QStringLiteral("derived reference list"), referenceStatusText(entry->status),
                            QStringLiteral("Actual L0/L1 reference identity used by prediction")});
        }
        for (const auto* entry : dpb.of(slice.id)) {
            rows.push_back({QStringLiteral("DPB[%1]").arg(indexText(entry->slot)),
                            QStringLiteral("picture=%1 poc=%2 ST=%3 LT=%4 output=%5")
                                .arg(formatOptionalUInt64(entry->pictureId), formatOptionalInt32(entry->poc),
                                     formatOptionalBool(entry->shortTermReference),
                                     formatOptionalBool(entry->longTermReference), formatOptionalBool(entry->output)),
                            QStringLiteral("derived DPB snapshot"), referenceStatusText(entry->status),
                            QStringLiteral("Bounded decoded-picture-buffer summary")});
        }
    }
}

}  // namespace vexilo::syntaxrows
