#include "validation/CollectionRules.h"

#include <string>
#include <unordered_set>

namespace vexilo::analysis::validation {
namespace {

using Kind = ValidationIssueKind;

constexpr std::tuple kRootRules{
    requiredStringRow<&StreamAnalysis::sourceFingerprint>("sourceFingerprint"),
    enumRow<&StreamAnalysis::profile>("profile", kHighestStreamProfile),
    codedDimensionRow<&StreamAnalysis::width>("width"),
    codedDimensionRow<&StreamAnalysis::height>("height"),
    bitDepthRow<&StreamAnalysis::bitDepth>("bitDepth"),
};

// --- nalUnits -------------------------------------------------------------------------------

// The overflow test stands on its own: even an unreliable span must fit in 64 bits.
bool hasBadByteSpan(const ValidationContext&, const NalUnitInfo& unit)
{
    const bool emptyReliableSpan = unit.byteSpanReliable && unit.byteSize == 0;
    const bool overflows = unit.byteOffset > ~unit.byteSize;
    return emptyReliableSpan || overflows;
}

constexpr std::tuple kNalUnitRules{
    parentRow<&NalUnitInfo::parentStreamAnalysisId>("nalUnits.parentStreamAnalysisId", ParentCollection::Stream),
    enumRow<&NalUnitInfo::kind>("nalUnits.kind", kHighestNalUnitKind),
    ConditionRow<NalUnitInfo>{"nalUnits.byteSize", &hasBadByteSpan, Kind::InvalidRange,
                              "reliable NAL byte span must be non-empty and must not overflow uint64"},
    rangeRow<&NalUnitInfo::nalUnitType>("nalUnits.nalUnitType", 0, 63, "HEVC nal_unit_type must be in [0, 63]"),
    rangeRow<&NalUnitInfo::layerId>("nalUnits.layerId", 0, 63, "HEVC nuh_layer_id must be in [0, 63]"),
    rangeRow<&NalUnitInfo::temporalId>("nalUnits.temporalId", 0, 6, "HEVC temporal ID must be in [0, 6]"),
    rangeRow<&NalUnitInfo::startCodeLength>("nalUnits.startCodeLength", 3, 4,
                                            "known Annex-B start-code length must be 3 or 4 bytes"),
    optionalStringRow<&NalUnitInfo::contentHash>("nalUnits.contentHash"),
};

// --- seiMessages ----------------------------------------------------------------------------

constexpr std::size_t kMaxSeiSyntaxElements = 256;

bool hasTooManySeiSyntaxElements(const ValidationContext&, const SeiMessageInfo& message)
{
    return message.syntaxElements.size() > kMaxSeiSyntaxElements;
}

void checkSeiSyntaxElements(ValidationContext& context, const SeiMessageInfo& message)
{
    static constexpr SyntaxElementPaths kPaths{"seiMessages.syntaxElements.name",
                                               "seiMessages.syntaxElements.displayValue",
                                               "SEI syntax element names must be unique"};
    checkSyntaxElements(context, message.id, message.syntaxElements, kPaths);
}

constexpr std::tuple kSeiMessageRules{
    parentRow<&SeiMessageInfo::parentNalUnitId>("seiMessages.parentNalUnitId", ParentCollection::NalUnits),
    optionalStringRow<&SeiMessageInfo::payloadHash>("seiMessages.payloadHash"),
    enumRow<&SeiMessageInfo::status>("seiMessages.status", kHighestSeiStatus),
    ConditionRow<SeiMessageInfo>{"seiMessages.syntaxElements", &hasTooManySeiSyntaxElements, Kind::ResourceLimit,
                                 "SEI message contains more than 256 exported syntax elements"},
    ListRow<SeiMessageInfo>{&checkSeiSyntaxElements},
};

// --- slices ---------------------------------------------------------------------------------

constexpr std::tuple kSliceRules{
    parentRow<&SliceInfo::parentNalUnitId>("slices.parentNalUnitId", ParentCollection::NalUnits),
    enumRow<&SliceInfo::type>("slices.type", kHighestSliceType),
    enumRow<&SliceInfo::parseStatus>("slices.parseStatus", kHighestParseStatus),
    enumRow<&SliceInfo::referenceStateStatus>("slices.referenceStateStatus", kHighestParseStatus),
    enumRow<&SliceInfo::signaledType>("slices.signaledType", kHighestSliceType),
    rangeRow<&SliceInfo::ppsId>("slices.ppsId", 0, 63, "PPS ID must be in [0, 63]"),
    rangeRow<&SliceInfo::sliceQp>("slices.sliceQp", kMinQp, kMaxQp,
                                  "slice QP must be in the supported HEVC range [-48, 51]"),
    rangeRow<&SliceInfo::numRefIdxL0Active>("slices.numRefIdxL0Active", 0, 15,
                                            "active L0 reference count must be in [0, 15]"),
    rangeRow<&SliceInfo::numRefIdxL1Active>("slices.numRefIdxL1Active", 0, 15,
                                            "active L1 reference count must be in [0, 15]"),
};

// --- reference collections ------------------------------------------------------------------

constexpr std::tuple kReferencePictureRules{
    parentRow<&ReferencePictureEntry::parentSliceId>("referencePictures.parentSliceId", ParentCollection::Slices),
    enumRow<&ReferencePictureEntry::list>("referencePictures.list", kHighestReferenceList),
    rangeRow<&ReferencePictureEntry::listIndex>("referencePictures.listIndex", 0, 15,
                                                "reference-list index must be in [0, 15]"),
    enumRow<&ReferencePictureEntry::status>("referencePictures.status", kHighestReferenceStatus),
    enumRow<&ReferencePictureEntry::origin>("referencePictures.origin", kHighestValueOrigin),
};

constexpr std::tuple kShortTermReferenceRules{
    parentRow<&ShortTermReferencePictureEntry::parentSliceId>("shortTermReferencePictures.parentSliceId",
                                                              ParentCollection::Slices),
    enumRow<&ShortTermReferencePictureEntry::deltaPocOrigin>("shortTermReferencePictures.deltaPocOrigin",
                                                             kHighestValueOrigin),
    enumRow<&ShortTermReferencePictureEntry::usedOrigin>("shortTermReferencePictures.usedOrigin",
                                                         kHighestValueOrigin),
    rangeRow<&ShortTermReferencePictureEntry::entryIndex>("shortTermReferencePictures.entryIndex", 0, 31,
                                                          "short-term RPS index must be in [0, 31]"),
};

constexpr std::tuple kLongTermReferenceRules{
    parentRow<&LongTermReferencePictureEntry::parentSliceId>("longTermReferencePictures.parentSliceId",
                                                             ParentCollection::Slices),
    enumRow<&LongTermReferencePictureEntry::origin>("longTermReferencePictures.origin", kHighestValueOrigin),
    rangeRow<&LongTermReferencePictureEntry::entryIndex>("longTermReferencePictures.entryIndex", 0, 31,
                                                         "long-term RPS index must be in [0, 31]"),
};

constexpr std::tuple kDpbSnapshotRules{
    parentRow<&DpbSnapshotEntry::parentSliceId>("dpbSnapshotEntries.parentSliceId", ParentCollection::Slices),
    enumRow<&DpbSnapshotEntry::status>("dpbSnapshotEntries.status", kHighestReferenceStatus),
    enumRow<&DpbSnapshotEntry::origin>("dpbSnapshotEntries.origin", kHighestValueOrigin),
    rangeRow<&DpbSnapshotEntry::slot>("dpbSnapshotEntries.slot", 0, 31, "HEVC DPB slot must be in [0, 31]"),
};

// --- pictures -------------------------------------------------------------------------------

constexpr std::tuple kPictureRules{
    parentRow<&PictureAnalysisSummary::parentStreamAnalysisId>("pictures.parentStreamAnalysisId",
                                                               ParentCollection::Stream),
    enumRow<&PictureAnalysisSummary::pictureType>("pictures.pictureType", kHighestPictureType),
    enumRow<&PictureAnalysisSummary::completeness>("pictures.completeness", kHighestPictureCompleteness),
    codedDimensionRow<&PictureAnalysisSummary::width>("pictures.width"),
    codedDimensionRow<&PictureAnalysisSummary::height>("pictures.height"),
    bitDepthRow<&PictureAnalysisSummary::bitDepth>("pictures.bitDepth"),
};

// Pictures of known size bound their CTUs (the block rules read this table).
void recordPictureSize(ValidationContext& context, const PictureAnalysisSummary& picture, std::size_t position)
{
    if (picture.width.value_or(0) != 0 && picture.height.value_or(0) != 0) {
        context.pictureSizes.insert(picture.id, position);
    }
}

// --- errors ---------------------------------------------------------------------------------

bool hasUnresolvedRelatedObject(const ValidationContext& context, const AnalysisErrorInfo& error)
{
    return error.relatedObjectId && !context.identities.contains(*error.relatedObjectId);
}

constexpr std::tuple kErrorRules{
    parentRow<&AnalysisErrorInfo::parentStreamAnalysisId>("errors.parentStreamAnalysisId", ParentCollection::Stream),
    enumRow<&AnalysisErrorInfo::severity>("errors.severity", kHighestErrorSeverity),
    ConditionRow<AnalysisErrorInfo>{"errors.relatedObjectId", &hasUnresolvedRelatedObject, Kind::MissingParent,
                                    "related object ID does not resolve within this analysis document"},
    requiredStringRow<&AnalysisErrorInfo::code>("errors.code"),
    requiredStringRow<&AnalysisErrorInfo::component>("errors.component"),
    requiredStringRow<&AnalysisErrorInfo::message>("errors.message"),
    optionalStringRow<&AnalysisErrorInfo::detail>("errors.detail"),
};

}  // namespace

void checkSyntaxElements(ValidationContext& context, const StableId& objectId,
                         const std::vector<SyntaxElementInfo>& elements, const SyntaxElementPaths& paths)
{
    std::unordered_set<std::string_view> names;
    names.reserve(elements.size());
    for (const SyntaxElementInfo& element : elements) {
        checkSchemaString(context, objectId, element.name, true, paths.name);
        checkSchemaString(context, objectId, element.displayValue, false, paths.displayValue);
        if (!names.insert(element.name).second) {
            context.report(Kind::InvalidValue, objectId, std::string(paths.name), paths.duplicateNameMessage);
        }
    }
}

void validateRootFields(ValidationContext& context)
{
    applyRules<kRootRules>(context, context.document());
}

void validateStreamCollections(ValidationContext& context)
{
    const StreamAnalysis& document = context.document();
    validateElements<kNalUnitRules>(context, document.nalUnits);
    validateParameterSets(context);
    validateElements<kSeiMessageRules>(context, document.seiMessages);
    validateElements<kSliceRules>(context, document.slices);
    validateElements<kReferencePictureRules>(context, document.referencePictures);
    validateElements<kShortTermReferenceRules>(context, document.shortTermReferencePictures);
    validateElements<kLongTermReferenceRules>(context, document.longTermReferencePictures);
    validateElements<kDpbSnapshotRules>(context, document.dpbSnapshotEntries);
    context.pictureSizes.reserve(document.pictures.size());
    validateElements<kPictureRules>(context, document.pictures, &recordPictureSize);
}

void validateErrors(ValidationContext& context)
{
    validateElements<kErrorRules>(context, context.document().errors);
}

}  // namespace vexilo::analysis::validation
