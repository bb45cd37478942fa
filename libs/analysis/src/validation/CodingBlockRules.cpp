#include "WorkBeside.h"
#include "validation/CollectionRules.h"

#include <array>
#include <future>
#include <vector>

namespace vexilo::analysis::validation {
namespace {

using Kind = ValidationIssueKind;

constexpr std::int64_t kMaxChromaQpOffsetIndex = 5;
constexpr std::int64_t kMaxChromaQpOffset = 12;
constexpr std::int64_t kMaxRdpcmDirection = 1;
constexpr std::int64_t kMaxIntraPredictionMode = 34;
constexpr std::int64_t kMaxBlockDepth = 6;
constexpr std::int64_t kMaxMergeIndex = 4;
constexpr std::int64_t kMaxPartIndex = 3;

constexpr std::string_view kChromaQpOffsetIndexMessage = "HEVC chroma QP offset index must be in [0, 5]";
constexpr std::string_view kChromaQpOffsetMessage = "HEVC chroma QP offset must be in [-12, 12]";
constexpr std::string_view kRdpcmDirectionMessage = "HEVC RDPCM direction must be 0 or 1";
constexpr std::string_view kIntraPredictionModeMessage = "HEVC intra prediction mode must be in [0, 34]";
constexpr std::string_view kTuQpMessage = "TU QP must be in the supported HEVC range [-48, 51]";
constexpr std::string_view kTuQpDeltaMessage = "TU QP delta must be in the broad HEVC range [-32, 32]";
constexpr std::string_view kCuChromaQpMessage = "CU chroma QP must be in the supported HEVC range [-48, 51]";

// The HEVC range checks shared by the block tables.
template <auto Member>
constexpr auto checkChromaQpOffsetIndex(std::string_view field)
{
    return rangeRow<Member>(field, 0, kMaxChromaQpOffsetIndex, kChromaQpOffsetIndexMessage);
}
template <auto Member>
constexpr auto checkReferenceIndex(std::string_view field)
{
    return rangeRow<Member>(field, 0, kMaxReferenceIndex, kReferenceIndexMessage);
}
template <auto Member>
constexpr auto checkChromaQpOffset(std::string_view field)
{
    return rangeRow<Member>(field, -kMaxChromaQpOffset, kMaxChromaQpOffset, kChromaQpOffsetMessage);
}
template <auto Member>
constexpr auto checkRdpcmDirection(std::string_view field)
{
    return rangeRow<Member>(field, 0, kMaxRdpcmDirection, kRdpcmDirectionMessage);
}
template <auto Member>
constexpr auto checkIntraPredictionMode(std::string_view field)
{
    return rangeRow<Member>(field, 0, kMaxIntraPredictionMode, kIntraPredictionModeMessage);
}
template <auto Member>
constexpr auto checkTuQp(std::string_view field)
{
    return rangeRow<Member>(field, kMinQp, kMaxQp, kTuQpMessage);
}
template <auto Member>
constexpr auto checkTuQpDelta(std::string_view field)
{
    return rangeRow<Member>(field, -kMaxQpDelta, kMaxQpDelta, kTuQpDeltaMessage);
}

BlockRect codedPictureRect(std::uint32_t width, std::uint32_t height)
{
    return BlockRect{0, 0, width, height, kBlockRectUnitLumaSample};
}

// The largest SPS picture of known size (the earliest on equal areas), else the
// document's own size when known.
std::optional<BlockRect> findSpsPicture(const StreamAnalysis& document)
{
    std::optional<BlockRect> largest;
    std::uint64_t largestArea = 0;
    for (const ParameterSetInfo& set : document.parameterSets) {
        if (set.kind != ParameterSetKind::Sps || set.width.value_or(0) == 0 || set.height.value_or(0) == 0) {
            continue;
        }
        const std::uint64_t area = std::uint64_t{*set.width} * std::uint64_t{*set.height};
        if (!largest || area > largestArea) {
            largest = codedPictureRect(*set.width, *set.height);
            largestArea = area;
        }
    }
    if (!largest && document.width.value_or(0) != 0 && document.height.value_or(0) != 0) {
        largest = codedPictureRect(*document.width, *document.height);
    }
    return largest;
}

// The bounds tables of CUs and TUs grow while their own collection is visited:
// only holders before the current element are in them.
template <typename Record>
const Record* earlierHolder(const ValidationContext& context, const TypedIdentities<Record>& identities,
                            const StableId& id)
{
    const std::optional<std::size_t> position = identities.firstPosition(id);
    return position && *position < context.currentElement ? &identities.at(*position) : nullptr;
}

// --- ctus -----------------------------------------------------------------------------------

bool liesOutsideCodedPicture(const ValidationContext& context, const CtuInfo& ctu)
{
    std::uint64_t sizedPicture = 0;
    if (!context.pictureSizes.find(ctu.parentPictureSummaryId, sizedPicture)) {
        return false;
    }
    const PictureAnalysisSummary* picture = &context.document().pictures[static_cast<std::size_t>(sizedPicture)];
    // A wider SPS picture can excuse a CTU that its picture's own size does not hold.
    const bool inPicture = blockContains(codedPictureRect(*picture->width, *picture->height), ctu.bounds);
    const bool inSpsPicture = context.spsPicture && blockContains(*context.spsPicture, ctu.bounds);
    return !inPicture && !inSpsPicture;
}

constexpr std::tuple kCtuRules{
    parentRow<&CtuInfo::parentPictureSummaryId>("ctus.parentPictureSummaryId", ParentCollection::Pictures),
    parentRow<&CtuInfo::sliceInfoId>("ctus.sliceInfoId", ParentCollection::Slices),
    blockBoundsRow<CtuInfo>("ctus.bounds"),
    enumRow<&CtuInfo::parseStatus>("ctus.parseStatus", kHighestBlockParseStatus),
    parserErrorCodeRow<CtuInfo>("ctus.parserErrorCode", "malformed CTU must preserve its decoder error code"),
    ConditionRow<CtuInfo>{"ctus.bounds", &liesOutsideCodedPicture, Kind::InvalidCoordinate,
                          "CTU bounds must be contained by the coded SPS picture"},
};

// --- cus ------------------------------------------------------------------------------------

bool parentCuInOtherCtu(const ValidationContext& context, const CuInfo& cu)
{
    if (!cu.parentCuId) {
        return false;
    }
    const CuInfo* parent = context.cuIds.firstHolder(*cu.parentCuId);
    return parent != nullptr && parent->parentCtuId != cu.parentCtuId;
}

bool cuOutsideCtu(const ValidationContext& context, const CuInfo& cu)
{
    const CtuInfo* ctu = context.ctuIds.firstHolder(cu.parentCtuId);
    return ctu != nullptr && !blockContains(ctu->bounds, cu.bounds);
}

bool splitCuWithLeafState(const ValidationContext&, const CuInfo& cu)
{
    return cu.split.value_or(false) &&
           (cu.predictionMode != PredictionMode::Unknown ||
            anyPresent<&CuInfo::qp, &CuInfo::partitionMode, &CuInfo::pcm, &CuInfo::transquantBypass>(cu));
}

bool cuOutsideParentCu(const ValidationContext& context, const CuInfo& cu)
{
    if (!cu.parentCuId) {
        return false;
    }
    const CuInfo* parent = earlierHolder(context, context.cuIds, *cu.parentCuId);
    return parent != nullptr && !blockContains(parent->bounds, cu.bounds);
}

constexpr std::tuple kCuRules{
    parentRow<&CuInfo::parentCtuId>("cus.parentCtuId", ParentCollection::Ctus),
    blockBoundsRow<CuInfo>("cus.bounds"),
    enumRow<&CuInfo::predictionMode>("cus.predictionMode", kHighestPredictionMode),
    enumRow<&CuInfo::parseStatus>("cus.parseStatus", kHighestBlockParseStatus),
    enumRow<&CuInfo::partitionMode>("cus.partitionMode", kHighestPartitionMode),
    enumRow<&CuInfo::signaledPredictionMode>("cus.signaledPredictionMode", kHighestPredictionMode),
    enumRow<&CuInfo::signaledPartitionMode>("cus.signaledPartitionMode", kHighestPartitionMode),
    parentRow<&CuInfo::parentCuId>("cus.parentCuId", ParentCollection::Cus),
    ConditionRow<CuInfo>{"cus.parentCuId", &parentCuInOtherCtu, Kind::WrongParentType,
                         "parent CU must belong to the same CTU"},
    ConditionRow<CuInfo>{"cus.bounds", &cuOutsideCtu, Kind::InvalidCoordinate,
                         "CU bounds must be contained by the parent CTU"},
    rangeRow<&CuInfo::qp>("cus.qp", kMinQp, kMaxQp, "CU QP must be in the supported HEVC range [-48, 51]"),
    rangeRow<&CuInfo::chromaQpCb>("cus.chromaQpCb", kMinQp, kMaxQp, kCuChromaQpMessage),
    rangeRow<&CuInfo::chromaQpCr>("cus.chromaQpCr", kMinQp, kMaxQp, kCuChromaQpMessage),
    rangeRow<&CuInfo::cuQpDelta>("cus.cuQpDelta", -kMaxQpDelta, kMaxQpDelta,
                                 "CU QP delta must be in the broad HEVC range [-32, 32]"),
    rangeRow<&CuInfo::signaledCuQpDelta>("cus.signaledCuQpDelta", -kMaxQpDelta, kMaxQpDelta,
                                         "signaled CU QP delta must be in the broad HEVC range [-32, 32]"),
    checkChromaQpOffsetIndex<&CuInfo::chromaQpOffsetIndex>("cus.chromaQpOffsetIndex"),
    rangeRow<&CuInfo::signaledChromaQpOffsetIndex>("cus.signaledChromaQpOffsetIndex", 0, kMaxChromaQpOffsetIndex,
                                                   "signaled HEVC chroma QP offset index must be in [0, 5]"),
    checkChromaQpOffset<&CuInfo::chromaQpOffsetCb>("cus.chromaQpOffsetCb"),
    checkChromaQpOffset<&CuInfo::chromaQpOffsetCr>("cus.chromaQpOffsetCr"),
    rangeRow<&CuInfo::depth>("cus.depth", 0, kMaxBlockDepth, "CU depth must be in the v1 storage range [0, 6]"),
    parserErrorCodeRow<CuInfo>("cus.parserErrorCode", "malformed CU must preserve its decoder error code"),
    ConditionRow<CuInfo>{"cus.split", &splitCuWithLeafState, Kind::InvalidValue,
                         "split quadtree nodes cannot expose leaf-only decoder state"},
    ConditionRow<CuInfo>{"cus.parentCuId", &cuOutsideParentCu, Kind::InvalidCoordinate,
                         "parent CU bounds must contain child CU bounds"},
};

// --- pus ------------------------------------------------------------------------------------

bool puOutsideCu(const ValidationContext& context, const PuInfo& pu)
{
    const CuInfo* cu = context.cuIds.firstHolder(pu.parentCuId);
    return cu != nullptr && !blockContains(cu->bounds, pu.bounds);
}

constexpr std::tuple kPuRules{
    parentRow<&PuInfo::parentCuId>("pus.parentCuId", ParentCollection::Cus),
    blockBoundsRow<PuInfo>("pus.bounds"),
    enumRow<&PuInfo::predictionMode>("pus.predictionMode", kHighestPredictionMode),
    enumRow<&PuInfo::partitionMode>("pus.partitionMode", kHighestPartitionMode),
    enumRow<&PuInfo::interDirection>("pus.interDirection", kHighestInterDirection),
    enumRow<&PuInfo::parseStatus>("pus.parseStatus", kHighestBlockParseStatus),
    rangeRow<&PuInfo::partIndex>("pus.partIndex", 0, kMaxPartIndex, "HEVC PU part index must be in [0, 3]"),
    parserErrorCodeRow<PuInfo>("pus.parserErrorCode", "malformed PU entries must retain the decoder error code"),
    enumRow<&PuInfo::signaledInterDirection>("pus.signaledInterDirection", kHighestInterDirection),
    enumRow<&PuInfo::refStatusL0>("pus.refStatusL0", kHighestReferenceStatus),
    enumRow<&PuInfo::refStatusL1>("pus.refStatusL1", kHighestReferenceStatus),
    checkIntraPredictionMode<&PuInfo::intraLumaMode>("pus.intraLumaMode"),
    checkIntraPredictionMode<&PuInfo::intraChromaMode>("pus.intraChromaMode"),
    checkIntraPredictionMode<&PuInfo::signaledIntraLumaMode>("pus.signaledIntraLumaMode"),
    checkIntraPredictionMode<&PuInfo::signaledIntraChromaMode>("pus.signaledIntraChromaMode"),
    rangeRow<&PuInfo::mergeIndex>("pus.mergeIndex", 0, kMaxMergeIndex, "HEVC merge index must be in [0, 4]"),
    rangeRow<&PuInfo::signaledMergeIndex>("pus.signaledMergeIndex", 0, kMaxMergeIndex,
                                          "HEVC signaled merge index must be in [0, 4]"),
    checkReferenceIndex<&PuInfo::refIdxL0>("pus.refIdxL0"),
    checkReferenceIndex<&PuInfo::refIdxL1>("pus.refIdxL1"),
    checkReferenceIndex<&PuInfo::signaledRefIdxL0>("pus.signaledRefIdxL0"),
    checkReferenceIndex<&PuInfo::signaledRefIdxL1>("pus.signaledRefIdxL1"),
    ConditionRow<PuInfo>{"pus.bounds", &puOutsideCu, Kind::InvalidCoordinate,
                         "PU bounds must be contained by the parent CU"},
    parentRow<&PuInfo::referencePictureL0Id>("pus.referencePictureL0Id", ParentCollection::ReferencePictures),
    parentRow<&PuInfo::referencePictureL1Id>("pus.referencePictureL1Id", ParentCollection::ReferencePictures),
};

// --- tus ------------------------------------------------------------------------------------

bool tuOutsideCu(const ValidationContext& context, const TuInfo& tu)
{
    const CuInfo* cu = context.cuIds.firstHolder(tu.parentCuId);
    return cu != nullptr && !blockContains(cu->bounds, tu.bounds);
}

bool parentTuInOtherCu(const ValidationContext& context, const TuInfo& tu)
{
    if (!tu.parentTuId) {
        return false;
    }
    const TuInfo* parent = context.tuIds.firstHolder(*tu.parentTuId);
    return parent != nullptr && parent->parentCuId != tu.parentCuId;
}

bool tuOutsideParentTu(const ValidationContext& context, const TuInfo& tu)
{
    if (!tu.parentTuId) {
        return false;
    }
    const TuInfo* parent = earlierHolder(context, context.tuIds, *tu.parentTuId);
    return parent != nullptr && !blockContains(parent->bounds, tu.bounds);
}

bool splitTuWithLeafState(const ValidationContext&, const TuInfo& tu)
{
    return tu.split.value_or(false) &&
           anyPresent<&TuInfo::transformSkipLuma, &TuInfo::transformSkipCb, &TuInfo::transformSkipCr,
                      &TuInfo::explicitRdpcmLuma, &TuInfo::explicitRdpcmCb, &TuInfo::explicitRdpcmCr,
                      &TuInfo::implicitRdpcmLuma, &TuInfo::implicitRdpcmCb, &TuInfo::implicitRdpcmCr, &TuInfo::qp,
                      &TuInfo::chromaQpCb, &TuInfo::chromaQpCr>(tu);
}

constexpr std::tuple kTuRules{
    parentRow<&TuInfo::parentCuId>("tus.parentCuId", ParentCollection::Cus),
    blockBoundsRow<TuInfo>("tus.bounds"),
    ConditionRow<TuInfo>{"tus.bounds", &tuOutsideCu, Kind::InvalidCoordinate,
                         "TU bounds must be contained by the parent CU"},
    rangeRow<&TuInfo::depth>("tus.depth", 0, kMaxBlockDepth, "TU depth must be in the v1 storage range [0, 6]"),
    parentRow<&TuInfo::parentTuId>("tus.parentTuId", ParentCollection::Tus),
    ConditionRow<TuInfo>{"tus.parentTuId", &parentTuInOtherCu, Kind::WrongParentType,
                         "parent TU must belong to the same CU"},
    ConditionRow<TuInfo>{"tus.parentTuId", &tuOutsideParentTu, Kind::InvalidCoordinate,
                         "parent TU bounds must contain child TU bounds"},
    parserErrorCodeRow<TuInfo>("tus.parserErrorCode", "malformed TU entries must retain the decoder error code"),
    ConditionRow<TuInfo>{"tus.split", &splitTuWithLeafState, Kind::InvalidValue,
                         "split transform-tree nodes cannot expose leaf-only residual/QP state"},
    checkTuQp<&TuInfo::qp>("tus.qp"),
    checkTuQp<&TuInfo::chromaQpCb>("tus.chromaQpCb"),
    checkTuQp<&TuInfo::chromaQpCr>("tus.chromaQpCr"),
    checkTuQpDelta<&TuInfo::cuQpDelta>("tus.cuQpDelta"),
    checkTuQpDelta<&TuInfo::signaledCuQpDelta>("tus.signaledCuQpDelta"),
    checkChromaQpOffset<&TuInfo::chromaQpOffsetCb>("tus.chromaQpOffsetCb"),
    checkChromaQpOffset<&TuInfo::chromaQpOffsetCr>("tus.chromaQpOffsetCr"),
    checkChromaQpOffsetIndex<&TuInfo::chromaQpOffsetIndex>("tus.chromaQpOffsetIndex"),
    checkChromaQpOffsetIndex<&TuInfo::signaledChromaQpOffsetIndex>("tus.signaledChromaQpOffsetIndex"),
    checkRdpcmDirection<&TuInfo::rdpcmDirectionLuma>("tus.rdpcmDirectionLuma"),
    checkRdpcmDirection<&TuInfo::rdpcmDirectionCb>("tus.rdpcmDirectionCb"),
    checkRdpcmDirection<&TuInfo::rdpcmDirectionCr>("tus.rdpcmDirectionCr"),
    checkRdpcmDirection<&TuInfo::signaledRdpcmDirectionLuma>("tus.signaledRdpcmDirectionLuma"),
    checkRdpcmDirection<&TuInfo::signaledRdpcmDirectionCb>("tus.signaledRdpcmDirectionCb"),
    checkRdpcmDirection<&TuInfo::signaledRdpcmDirectionCr>("tus.signaledRdpcmDirectionCr"),
};

// --- motionVectors --------------------------------------------------------------------------

// Known components come in pairs, measured in quarter luma samples.
template <auto ComponentX, auto ComponentY>
bool hasUnpairedComponents(const ValidationContext&, const MotionVectorInfo& vector)
{
    const bool hasX = isPresent<ComponentX>(vector);
    const bool hasY = isPresent<ComponentY>(vector);
    return hasX != hasY || (hasX && vector.unit != MotionVectorUnit::QuarterLumaSample);
}

using Mv = MotionVectorInfo;

constexpr std::tuple kMotionVectorRules{
    parentRow<&Mv::parentPuId>("motionVectors.parentPuId", ParentCollection::Pus),
    enumRow<&Mv::list>("motionVectors.list", kHighestReferenceList),
    enumRow<&Mv::unit>("motionVectors.unit", kHighestMotionVectorUnit),
    enumRow<&Mv::referenceStatus>("motionVectors.referenceStatus", kHighestReferenceStatus),
    parentRow<&Mv::referencePictureId>("motionVectors.referencePictureId", ParentCollection::ReferencePictures),
    checkReferenceIndex<&Mv::referenceIndex>("motionVectors.referenceIndex"),
    ConditionRow<Mv>{"motionVectors", &hasUnpairedComponents<&Mv::mvX, &Mv::mvY>, Kind::InvalidValue,
                     "known motion-vector components must be a pair measured in quarter-luma-sample units"},
    ConditionRow<Mv>{"motionVectors.mvd", &hasUnpairedComponents<&Mv::mvdX, &Mv::mvdY>, Kind::InvalidValue,
                     "known MVD components must be a pair measured in quarter-luma-sample units"},
    ConditionRow<Mv>{"motionVectors.signaledMvd", &hasUnpairedComponents<&Mv::signaledMvdX, &Mv::signaledMvdY>,
                     Kind::InvalidValue,
                     "known signaled MVD components must be a pair measured in quarter-luma-sample units"},
};

// The issues of one collection's rules, found on a context of their own.
template <const auto& Rules, typename Record>
std::future<ValidationIssues> validateBeside(const ValidationContext& origin, const std::vector<Record>& records)
{
    return startBeside(records.size() >= kBlocksWorthAThread, [&origin, &records] {
        ValidationIssues issues;
        ValidationContext fork(origin, issues);
        validateElements<Rules>(fork, records);
        return issues;
    });
}

}  // namespace

// Every block rule reads only identities and tables that are complete by now, so the
// collections are checked side by side. Their issues join in collection order: the order
// one thread checking them in turn reports them in.
void validateCodingBlocks(ValidationContext& context)
{
    const StreamAnalysis& document = context.document();
    context.spsPicture = findSpsPicture(document);
    std::array<std::future<ValidationIssues>, 5> collections{
        validateBeside<kCtuRules>(context, document.ctus), validateBeside<kCuRules>(context, document.cus),
        validateBeside<kPuRules>(context, document.pus), validateBeside<kTuRules>(context, document.tus),
        validateBeside<kMotionVectorRules>(context, document.motionVectors)};
    for (std::future<ValidationIssues>& collection : collections) {
        context.reportAll(collection.get());
    }
}

}  // namespace vexilo::analysis::validation
