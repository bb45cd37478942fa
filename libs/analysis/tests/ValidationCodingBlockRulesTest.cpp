#include "ValidationTestDocument.h"

#include <gtest/gtest.h>

#include <vector>

namespace vexilo::analysis {
namespace {

using validation_test::ExpectedIssue;
using validation_test::MutationCase;
using validation_test::lumaRect;
namespace ids = validation_test::ids;
using Kind = ValidationIssueKind;

using validation_test::kEnumMessage;
constexpr const char* kBoundsMessage = "block bounds require non-negative luma-sample coordinates and non-zero size";
constexpr const char* kCtuOutsideMessage = "CTU bounds must be contained by the coded SPS picture";

constexpr StableId kOtherCtu{0xa, 2};
constexpr StableId kOtherCu{0xb, 3};
constexpr StableId kOtherTu{0xd, 3};

CuInfo& rootCuOf(StreamAnalysis& d) { return d.cus[0]; }
CuInfo& leafCuOf(StreamAnalysis& d) { return d.cus[1]; }
TuInfo& rootTuOf(StreamAnalysis& d) { return d.tus[0]; }
TuInfo& leafTuOf(StreamAnalysis& d) { return d.tus[1]; }

void addCtu(StreamAnalysis& d, const BlockRect& bounds)
{
    CtuInfo ctu;
    ctu.id = kOtherCtu;
    ctu.parentPictureSummaryId = ids::kPicture;
    ctu.bounds = bounds;
    d.ctus.push_back(ctu);
}

ParameterSetInfo spsOfSize(StableId id, std::uint32_t width, std::uint32_t height)
{
    ParameterSetInfo sps;
    sps.id = id;
    sps.parentNalUnitId = ids::kSpsNal;
    sps.kind = ParameterSetKind::Sps;
    sps.width = width;
    sps.height = height;
    return sps;
}

// Replaces the base SPS with SPS records of the given sizes, in order.
void setSpsSizes(StreamAnalysis& d, std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes)
{
    d.parameterSets.erase(d.parameterSets.begin() + 1);
    std::uint64_t next = 0x10;
    for (const auto& [width, height] : sizes) {
        d.parameterSets.push_back(spsOfSize(StableId{0x2, next++}, width, height));
    }
}

// A slice's reference list of `count` entries after the base one, and one PU per
// reference (cloned from the base PU) in the given order: lookups that jump back
// and forth within the list, as inter PUs make them.
StableId listedReference(std::uint64_t index) { return StableId{0x5, 100 + index}; }

void addReferencesInOrder(StreamAnalysis& d, std::uint64_t count, const std::vector<StableId>& references)
{
    for (std::uint64_t index = 0; index < count; ++index) {
        d.referencePictures.push_back(ReferencePictureEntry{.id = listedReference(index),
                                                            .parentSliceId = ids::kSlice,
                                                            .list = ReferenceList::L0,
                                                            .listIndex = static_cast<std::uint8_t>(index % 16),
                                                            .status = ReferenceStatus::Available});
    }
    std::uint64_t next = 100;
    for (const StableId& reference : references) {
        PuInfo pu = d.pus[0];
        pu.id = StableId{0xc, next++};
        pu.referencePictureL0Id = reference;
        d.pus.push_back(pu);
    }
}

CuInfo cuInOtherCtu()
{
    CuInfo cu;
    cu.id = kOtherCu;
    cu.parentCtuId = kOtherCtu;
    cu.bounds = lumaRect(64, 0, 64, 64);
    return cu;
}

TuInfo tuInRootCu()
{
    TuInfo tu;
    tu.id = kOtherTu;
    tu.parentCuId = ids::kRootCu;
    tu.bounds = lumaRect(32, 32, 32, 32);
    return tu;
}

// --- ctus -------------------------------------------------------------------------------------

std::vector<MutationCase> ctuCases()
{
    const ExpectedIssue outside{Kind::InvalidCoordinate, kOtherCtu, "ctus.bounds", kCtuOutsideMessage};
    const auto ctuAt = [](std::int32_t x, std::int32_t y) {
        return [=](StreamAnalysis& d) { addCtu(d, lumaRect(x, y, 64, 64)); };
    };
    return {
        {"parent picture is a slice",
         [](StreamAnalysis& d) { d.ctus[0].parentPictureSummaryId = ids::kSlice; },
         {{Kind::WrongParentType, ids::kCtu, "ctus.parentPictureSummaryId", ""}}},
        {"slice link names a picture",
         [](StreamAnalysis& d) { d.ctus[0].sliceInfoId = ids::kPicture; },
         {{Kind::WrongParentType, ids::kCtu, "ctus.sliceInfoId", ""}}},
        {"absent slice link passes", [](StreamAnalysis& d) { d.ctus[0].sliceInfoId.reset(); }, {}},
        {"parse status 3",
         [](StreamAnalysis& d) { d.ctus[0].parseStatus = static_cast<BlockParseStatus>(3); },
         {{Kind::InvalidRange, ids::kCtu, "ctus.parseStatus", kEnumMessage}}},
        {"malformed without error code",
         [](StreamAnalysis& d) { d.ctus[0].parseStatus = BlockParseStatus::Malformed; },
         {{Kind::InvalidValue, ids::kCtu, "ctus.parserErrorCode",
           "malformed CTU must preserve its decoder error code"}}},
        {"malformed with error code passes",
         [](StreamAnalysis& d) {
             d.ctus[0].parseStatus = BlockParseStatus::Malformed;
             d.ctus[0].parserErrorCode = -1094995529;
         },
         {}},
        {"malformed bounds fail the CTU and every CU under it",
         [](StreamAnalysis& d) { d.ctus[0].bounds.width = 0; },
         {{Kind::InvalidCoordinate, ids::kCtu, "ctus.bounds", kBoundsMessage},
          {Kind::InvalidCoordinate, ids::kCtu, "ctus.bounds", kCtuOutsideMessage},
          {Kind::InvalidCoordinate, ids::kRootCu, "cus.bounds", "CU bounds must be contained by the parent CTU"},
          {Kind::InvalidCoordinate, ids::kLeafCu, "cus.bounds", "CU bounds must be contained by the parent CTU"}}},
        {"CTU at the right edge passes", ctuAt(1856, 0), {}},
        {"CTU past the right edge", ctuAt(1888, 0), {outside}},
        {"CTU past the picture but inside a wider SPS",
         [](StreamAnalysis& d) {
             setSpsSizes(d, {{2048, 1080}});
             addCtu(d, lumaRect(1888, 0, 64, 64));
         },
         {}},
        {"CTU of a picture without known width passes",
         [](StreamAnalysis& d) {
             d.pictures[0].width.reset();
             addCtu(d, lumaRect(5000, 0, 64, 64));
         },
         {}},
        {"the larger of two SPS is the SPS picture",
         [](StreamAnalysis& d) {
             setSpsSizes(d, {{1280, 720}, {2560, 1440}});
             addCtu(d, lumaRect(2496, 1376, 64, 64));
         },
         {}},
        {"a smaller later SPS does not replace the first",
         [](StreamAnalysis& d) {
             setSpsSizes(d, {{2560, 1440}, {1280, 720}});
             addCtu(d, lumaRect(2496, 1376, 64, 64));
         },
         {}},
        {"on equal areas the earlier SPS stays",
         [](StreamAnalysis& d) {
             setSpsSizes(d, {{1920, 1088}, {1088, 1920}});
             d.pictures[0].width = 64;
             d.pictures[0].height = 64;
             addCtu(d, lumaRect(0, 1856, 64, 64));
         },
         {outside}},
        {"without a sized SPS the root size is the SPS picture",
         [](StreamAnalysis& d) {
             setSpsSizes(d, {{1920, 1080}});
             d.parameterSets.back().width.reset();
             d.width = 3840;
             d.height = 2160;
             addCtu(d, lumaRect(3776, 2096, 64, 64));
         },
         {}},
        {"without any SPS picture the picture alone decides",
         [](StreamAnalysis& d) {
             setSpsSizes(d, {});
             d.width.reset();
             addCtu(d, lumaRect(1888, 0, 64, 64));
         },
         {outside}},
    };
}

// --- cus --------------------------------------------------------------------------------------

std::vector<MutationCase> cuCases()
{
    const auto leafCu = [](auto change) { return [=](StreamAnalysis& d) { change(leafCuOf(d)); }; };
    const ExpectedIssue splitLeaf{Kind::InvalidValue, ids::kRootCu, "cus.split",
                                  "split quadtree nodes cannot expose leaf-only decoder state"};
    const ExpectedIssue cuQpRange{Kind::InvalidRange, ids::kLeafCu, "cus.qp",
                                  "CU QP must be in the supported HEVC range [-48, 51]"};
    return {
        {"parent CTU is a picture",
         [](StreamAnalysis& d) { rootCuOf(d).parentCtuId = ids::kPicture; },
         {{Kind::WrongParentType, ids::kRootCu, "cus.parentCtuId", ""},
          {Kind::WrongParentType, ids::kLeafCu, "cus.parentCuId", "parent CU must belong to the same CTU"}}},
        {"enum fields one past their range", leafCu([](CuInfo& cu) {
             cu.predictionMode = static_cast<PredictionMode>(4);
             cu.parseStatus = static_cast<BlockParseStatus>(3);
             cu.partitionMode = static_cast<PartitionMode>(9);
             cu.signaledPredictionMode = static_cast<PredictionMode>(4);
             cu.signaledPartitionMode = static_cast<PartitionMode>(9);
         }),
         {{Kind::InvalidRange, ids::kLeafCu, "cus.predictionMode", kEnumMessage},
          {Kind::InvalidRange, ids::kLeafCu, "cus.parseStatus", kEnumMessage},
          {Kind::InvalidRange, ids::kLeafCu, "cus.partitionMode", kEnumMessage},
          {Kind::InvalidRange, ids::kLeafCu, "cus.signaledPredictionMode", kEnumMessage},
          {Kind::InvalidRange, ids::kLeafCu, "cus.signaledPartitionMode", kEnumMessage}}},
        {"enum fields at their largest pass", leafCu([](CuInfo& cu) {
             cu.predictionMode = PredictionMode::Skip;
             cu.partitionMode = PartitionMode::PartnRx2N;
             cu.signaledPartitionMode = PartitionMode::PartnRx2N;
         }),
         {}},
        {"parent CU in another CTU, stored later",
         [](StreamAnalysis& d) {
             addCtu(d, lumaRect(64, 0, 64, 64));
             d.cus.push_back(cuInOtherCtu());
             leafCuOf(d).parentCuId = kOtherCu;
         },
         {{Kind::WrongParentType, ids::kLeafCu, "cus.parentCuId", "parent CU must belong to the same CTU"}}},
        {"parent CU in another CTU, stored earlier",
         [](StreamAnalysis& d) {
             addCtu(d, lumaRect(64, 0, 64, 64));
             d.cus.insert(d.cus.begin(), cuInOtherCtu());
             d.cus[2].parentCuId = kOtherCu;
         },
         {{Kind::WrongParentType, ids::kLeafCu, "cus.parentCuId", "parent CU must belong to the same CTU"},
          {Kind::InvalidCoordinate, ids::kLeafCu, "cus.parentCuId", "parent CU bounds must contain child CU bounds"}}},
        {"parent CU stored later is not compared by bounds",
         [](StreamAnalysis& d) {
             std::swap(d.cus[0], d.cus[1]);
             d.cus[1].bounds = lumaRect(0, 0, 16, 16);  // the parent, now after its child
         },
         {}},
        {"a duplicated CU id keeps the first holder's bounds",
         [](StreamAnalysis& d) {
             CuInfo duplicate = leafCuOf(d);
             duplicate.bounds = lumaRect(32, 32, 32, 32);
             d.cus.push_back(duplicate);
         },
         {{Kind::DuplicateStableId, ids::kLeafCu, "cus[2].id", ""}}},
        {"a duplicated CU id stored first decides the containment",
         [](StreamAnalysis& d) {
             CuInfo duplicate = leafCuOf(d);
             duplicate.bounds = lumaRect(32, 32, 32, 32);
             d.cus.insert(d.cus.begin() + 1, duplicate);
         },
         {{Kind::DuplicateStableId, ids::kLeafCu, "cus[2].id", ""},
          {Kind::InvalidCoordinate, ids::kPu, "pus.bounds", "PU bounds must be contained by the parent CU"},
          {Kind::InvalidCoordinate, ids::kRootTu, "tus.bounds", ""},
          {Kind::InvalidCoordinate, ids::kLeafTu, "tus.bounds", ""}}},
        {"parent CU names a PU",
         [](StreamAnalysis& d) { leafCuOf(d).parentCuId = ids::kPu; },
         {{Kind::WrongParentType, ids::kLeafCu, "cus.parentCuId", "parent ID resolves to the wrong analysis object type"}}},
        {"malformed bounds fail every containment that reaches them", leafCu([](CuInfo& cu) { cu.bounds.unit = 0; }),
         {{Kind::InvalidCoordinate, ids::kLeafCu, "cus.bounds", kBoundsMessage},
          {Kind::InvalidCoordinate, ids::kLeafCu, "cus.bounds", "CU bounds must be contained by the parent CTU"},
          {Kind::InvalidCoordinate, ids::kLeafCu, "cus.parentCuId", "parent CU bounds must contain child CU bounds"},
          {Kind::InvalidCoordinate, ids::kPu, "pus.bounds", "PU bounds must be contained by the parent CU"},
          {Kind::InvalidCoordinate, ids::kRootTu, "tus.bounds", "TU bounds must be contained by the parent CU"},
          {Kind::InvalidCoordinate, ids::kLeafTu, "tus.bounds", "TU bounds must be contained by the parent CU"}}},
        {"CU outside its CTU", leafCu([](CuInfo& cu) { cu.bounds = lumaRect(48, 48, 32, 32); }),
         {{Kind::InvalidCoordinate, ids::kLeafCu, "cus.bounds", "CU bounds must be contained by the parent CTU"},
          {Kind::InvalidCoordinate, ids::kLeafCu, "cus.parentCuId", "parent CU bounds must contain child CU bounds"},
          {Kind::InvalidCoordinate, ids::kPu, "pus.bounds", ""},
          {Kind::InvalidCoordinate, ids::kRootTu, "tus.bounds", ""},
          {Kind::InvalidCoordinate, ids::kLeafTu, "tus.bounds", ""}}},
        {"split CU with skip only passes", [](StreamAnalysis& d) { rootCuOf(d).skip = false; }, {}},
        {"split CU with qp", [](StreamAnalysis& d) { rootCuOf(d).qp = 30; }, {splitLeaf}},
        {"split CU with prediction mode",
         [](StreamAnalysis& d) { rootCuOf(d).predictionMode = PredictionMode::Intra; },
         {splitLeaf}},
        {"split CU with pcm", [](StreamAnalysis& d) { rootCuOf(d).pcm = false; }, {splitLeaf}},
        {"split CU with signaled state passes",
         [](StreamAnalysis& d) {
             rootCuOf(d).signaledPredictionMode = PredictionMode::Intra;
             rootCuOf(d).signaledPartitionMode = PartitionMode::Part2Nx2N;
         },
         {}},
        {"unsplit CU with leaf state passes", leafCu([](CuInfo& cu) { cu.transquantBypass = true; }), {}},
        {"qp -49", leafCu([](CuInfo& cu) { cu.qp = -49; }), {cuQpRange}},
        {"qp 52", leafCu([](CuInfo& cu) { cu.qp = 52; }), {cuQpRange}},
        {"qp -48 passes", leafCu([](CuInfo& cu) { cu.qp = -48; }), {}},
        {"chroma QPs", leafCu([](CuInfo& cu) {
             cu.chromaQpCb = 52;
             cu.chromaQpCr = -49;
         }),
         {{Kind::InvalidRange, ids::kLeafCu, "cus.chromaQpCb", "CU chroma QP must be in the supported HEVC range [-48, 51]"},
          {Kind::InvalidRange, ids::kLeafCu, "cus.chromaQpCr", "CU chroma QP must be in the supported HEVC range [-48, 51]"}}},
        {"QP deltas", leafCu([](CuInfo& cu) {
             cu.cuQpDelta = 33;
             cu.signaledCuQpDelta = -33;
         }),
         {{Kind::InvalidRange, ids::kLeafCu, "cus.cuQpDelta", "CU QP delta must be in the broad HEVC range [-32, 32]"},
          {Kind::InvalidRange, ids::kLeafCu, "cus.signaledCuQpDelta",
           "signaled CU QP delta must be in the broad HEVC range [-32, 32]"}}},
        {"QP deltas at their bounds pass", leafCu([](CuInfo& cu) {
             cu.cuQpDelta = -32;
             cu.signaledCuQpDelta = 32;
         }),
         {}},
        {"chroma offset indices 6", leafCu([](CuInfo& cu) {
             cu.chromaQpOffsetIndex = 6;
             cu.signaledChromaQpOffsetIndex = 6;
         }),
         {{Kind::InvalidRange, ids::kLeafCu, "cus.chromaQpOffsetIndex", "HEVC chroma QP offset index must be in [0, 5]"},
          {Kind::InvalidRange, ids::kLeafCu, "cus.signaledChromaQpOffsetIndex",
           "signaled HEVC chroma QP offset index must be in [0, 5]"}}},
        {"chroma offset index -1", leafCu([](CuInfo& cu) { cu.chromaQpOffsetIndex = -1; }),
         {{Kind::InvalidRange, ids::kLeafCu, "cus.chromaQpOffsetIndex", ""}}},
        {"chroma offsets", leafCu([](CuInfo& cu) {
             cu.chromaQpOffsetCb = 13;
             cu.chromaQpOffsetCr = -13;
         }),
         {{Kind::InvalidRange, ids::kLeafCu, "cus.chromaQpOffsetCb", "HEVC chroma QP offset must be in [-12, 12]"},
          {Kind::InvalidRange, ids::kLeafCu, "cus.chromaQpOffsetCr", "HEVC chroma QP offset must be in [-12, 12]"}}},
        {"depth 7", leafCu([](CuInfo& cu) { cu.depth = 7; }),
         {{Kind::InvalidRange, ids::kLeafCu, "cus.depth", "CU depth must be in the v1 storage range [0, 6]"}}},
        {"malformed without error code", leafCu([](CuInfo& cu) { cu.parseStatus = BlockParseStatus::Malformed; }),
         {{Kind::InvalidValue, ids::kLeafCu, "cus.parserErrorCode", "malformed CU must preserve its decoder error code"}}},
    };
}

// --- pus --------------------------------------------------------------------------------------

std::vector<MutationCase> puCases()
{
    const auto pu = [](auto change) { return [=](StreamAnalysis& d) { change(d.pus[0]); }; };
    const ExpectedIssue refIdxL0{Kind::InvalidRange, ids::kPu, "pus.refIdxL0", "HEVC reference index must be in [0, 15]"};
    return {
        {"parent CU is a TU", pu([](PuInfo& p) { p.parentCuId = ids::kRootTu; }),
         {{Kind::WrongParentType, ids::kPu, "pus.parentCuId", ""}}},
        {"part index 4", pu([](PuInfo& p) { p.partIndex = 4; }),
         {{Kind::InvalidRange, ids::kPu, "pus.partIndex", "HEVC PU part index must be in [0, 3]"}}},
        {"part index 3 passes", pu([](PuInfo& p) { p.partIndex = 3; }), {}},
        {"partition mode 9 is one enum issue", pu([](PuInfo& p) { p.partitionMode = static_cast<PartitionMode>(9); }),
         {{Kind::InvalidRange, ids::kPu, "pus.partitionMode", kEnumMessage}}},
        {"enum fields one past their range", pu([](PuInfo& p) {
             p.predictionMode = static_cast<PredictionMode>(4);
             p.interDirection = static_cast<InterDirection>(4);
             p.parseStatus = static_cast<BlockParseStatus>(3);
             p.signaledInterDirection = static_cast<InterDirection>(4);
             p.refStatusL0 = static_cast<ReferenceStatus>(5);
             p.refStatusL1 = static_cast<ReferenceStatus>(5);
         }),
         {{Kind::InvalidRange, ids::kPu, "pus.predictionMode", kEnumMessage},
          {Kind::InvalidRange, ids::kPu, "pus.interDirection", kEnumMessage},
          {Kind::InvalidRange, ids::kPu, "pus.parseStatus", kEnumMessage},
          {Kind::InvalidRange, ids::kPu, "pus.signaledInterDirection", kEnumMessage},
          {Kind::InvalidRange, ids::kPu, "pus.refStatusL0", kEnumMessage},
          {Kind::InvalidRange, ids::kPu, "pus.refStatusL1", kEnumMessage}}},
        {"malformed without error code", pu([](PuInfo& p) { p.parseStatus = BlockParseStatus::Malformed; }),
         {{Kind::InvalidValue, ids::kPu, "pus.parserErrorCode",
           "malformed PU entries must retain the decoder error code"}}},
        {"intra modes 35", pu([](PuInfo& p) {
             p.intraLumaMode = 35;
             p.intraChromaMode = 35;
             p.signaledIntraLumaMode = 35;
             p.signaledIntraChromaMode = 35;
         }),
         {{Kind::InvalidRange, ids::kPu, "pus.intraLumaMode", "HEVC intra prediction mode must be in [0, 34]"},
          {Kind::InvalidRange, ids::kPu, "pus.intraChromaMode", ""},
          {Kind::InvalidRange, ids::kPu, "pus.signaledIntraLumaMode", ""},
          {Kind::InvalidRange, ids::kPu, "pus.signaledIntraChromaMode", ""}}},
        {"intra mode 34 passes", pu([](PuInfo& p) { p.intraLumaMode = 34; }), {}},
        {"merge indices 5", pu([](PuInfo& p) {
             p.mergeIndex = 5;
             p.signaledMergeIndex = 5;
         }),
         {{Kind::InvalidRange, ids::kPu, "pus.mergeIndex", "HEVC merge index must be in [0, 4]"},
          {Kind::InvalidRange, ids::kPu, "pus.signaledMergeIndex", "HEVC signaled merge index must be in [0, 4]"}}},
        {"reference index -1", pu([](PuInfo& p) { p.refIdxL0 = -1; }), {refIdxL0}},
        {"reference index 16", pu([](PuInfo& p) { p.refIdxL0 = 16; }), {refIdxL0}},
        {"other reference indices 16", pu([](PuInfo& p) {
             p.refIdxL1 = 16;
             p.signaledRefIdxL0 = 16;
             p.signaledRefIdxL1 = -1;
         }),
         {{Kind::InvalidRange, ids::kPu, "pus.refIdxL1", ""},
          {Kind::InvalidRange, ids::kPu, "pus.signaledRefIdxL0", ""},
          {Kind::InvalidRange, ids::kPu, "pus.signaledRefIdxL1", ""}}},
        {"PU outside its CU", pu([](PuInfo& p) { p.bounds = lumaRect(0, 16, 32, 32); }),
         {{Kind::InvalidCoordinate, ids::kPu, "pus.bounds", "PU bounds must be contained by the parent CU"}}},
        {"malformed PU bounds", pu([](PuInfo& p) { p.bounds.x = -8; }),
         {{Kind::InvalidCoordinate, ids::kPu, "pus.bounds", kBoundsMessage},
          {Kind::InvalidCoordinate, ids::kPu, "pus.bounds", "PU bounds must be contained by the parent CU"}}},
        {"reference picture links", pu([](PuInfo& p) {
             p.referencePictureL0Id = ids::kSlice;
             p.referencePictureL1Id = StableId{0x5, 99};
         }),
         {{Kind::WrongParentType, ids::kPu, "pus.referencePictureL0Id", ""},
          {Kind::MissingParent, ids::kPu, "pus.referencePictureL1Id", ""}}},
        {"references back and forth in a long list resolve, and a missing one or a CU does not",
         [](StreamAnalysis& d) {
             addReferencesInOrder(d, 20,
                                  {listedReference(19), listedReference(12), listedReference(2), ids::kReferencePicture,
                                   listedReference(5), StableId{0x5, 99}, listedReference(19), ids::kLeafCu,
                                   listedReference(18)});
         },
         {{Kind::MissingParent, StableId{0xc, 105}, "pus.referencePictureL0Id", ""},
          {Kind::WrongParentType, StableId{0xc, 107}, "pus.referencePictureL0Id", ""}}},
    };
}

// --- tus --------------------------------------------------------------------------------------

std::vector<MutationCase> tuCases()
{
    const auto leafTu = [](auto change) { return [=](StreamAnalysis& d) { change(leafTuOf(d)); }; };
    const ExpectedIssue otherCu{Kind::WrongParentType, ids::kLeafTu, "tus.parentTuId", "parent TU must belong to the same CU"};
    const ExpectedIssue notContained{Kind::InvalidCoordinate, ids::kLeafTu, "tus.parentTuId",
                                     "parent TU bounds must contain child TU bounds"};
    const ExpectedIssue splitLeaf{Kind::InvalidValue, ids::kRootTu, "tus.split",
                                  "split transform-tree nodes cannot expose leaf-only residual/QP state"};
    return {
        {"parent CU is a CTU", leafTu([](TuInfo& t) { t.parentCuId = ids::kCtu; }),
         {{Kind::WrongParentType, ids::kLeafTu, "tus.parentCuId", ""},
          // The parent TU now lies in another CU.
          otherCu}},
        {"TU outside its CU", leafTu([](TuInfo& t) { t.bounds = lumaRect(24, 24, 16, 16); }),
         {{Kind::InvalidCoordinate, ids::kLeafTu, "tus.bounds", "TU bounds must be contained by the parent CU"},
          notContained}},
        {"depth 7", leafTu([](TuInfo& t) { t.depth = 7; }),
         {{Kind::InvalidRange, ids::kLeafTu, "tus.depth", "TU depth must be in the v1 storage range [0, 6]"}}},
        {"parent TU names a CU", leafTu([](TuInfo& t) { t.parentTuId = ids::kLeafCu; }),
         {{Kind::WrongParentType, ids::kLeafTu, "tus.parentTuId", "parent ID resolves to the wrong analysis object type"}}},
        {"parent TU in another CU, stored later",
         [](StreamAnalysis& d) {
             d.tus.push_back(tuInRootCu());
             leafTuOf(d).parentTuId = kOtherTu;
         },
         {otherCu}},
        {"parent TU in another CU, stored earlier and not containing",
         [](StreamAnalysis& d) {
             d.tus.insert(d.tus.begin(), tuInRootCu());
             d.tus[2].parentTuId = kOtherTu;
         },
         {otherCu, notContained}},
        {"split TU with coded block flags and QP delta passes", [](StreamAnalysis& d) {
             rootTuOf(d).cbfCb = true;
             rootTuOf(d).cuQpDelta = 2;
             rootTuOf(d).rdpcmDirectionLuma = 1;
         },
         {}},
        {"split TU with transform skip", [](StreamAnalysis& d) { rootTuOf(d).transformSkipCb = false; }, {splitLeaf}},
        {"split TU with implicit RDPCM", [](StreamAnalysis& d) { rootTuOf(d).implicitRdpcmCr = true; }, {splitLeaf}},
        {"split TU with chroma QP", [](StreamAnalysis& d) { rootTuOf(d).chromaQpCr = 30; }, {splitLeaf}},
        {"malformed without error code", leafTu([](TuInfo& t) { t.parseStatus = BlockParseStatus::Malformed; }),
         {{Kind::InvalidValue, ids::kLeafTu, "tus.parserErrorCode",
           "malformed TU entries must retain the decoder error code"}}},
        {"parse status has no enum row", leafTu([](TuInfo& t) { t.parseStatus = static_cast<BlockParseStatus>(9); }),
         {}},
        {"QPs out of range", leafTu([](TuInfo& t) {
             t.qp = 52;
             t.chromaQpCb = -49;
             t.chromaQpCr = 60;
         }),
         {{Kind::InvalidRange, ids::kLeafTu, "tus.qp", "TU QP must be in the supported HEVC range [-48, 51]"},
          {Kind::InvalidRange, ids::kLeafTu, "tus.chromaQpCb", ""},
          {Kind::InvalidRange, ids::kLeafTu, "tus.chromaQpCr", ""}}},
        {"QP deltas out of range", leafTu([](TuInfo& t) {
             t.cuQpDelta = -33;
             t.signaledCuQpDelta = 33;
         }),
         {{Kind::InvalidRange, ids::kLeafTu, "tus.cuQpDelta", "TU QP delta must be in the broad HEVC range [-32, 32]"},
          {Kind::InvalidRange, ids::kLeafTu, "tus.signaledCuQpDelta", ""}}},
        {"chroma offsets and indices", leafTu([](TuInfo& t) {
             t.chromaQpOffsetCb = -13;
             t.chromaQpOffsetCr = 13;
             t.chromaQpOffsetIndex = 6;
             t.signaledChromaQpOffsetIndex = 6;
         }),
         {{Kind::InvalidRange, ids::kLeafTu, "tus.chromaQpOffsetCb", "HEVC chroma QP offset must be in [-12, 12]"},
          {Kind::InvalidRange, ids::kLeafTu, "tus.chromaQpOffsetCr", ""},
          {Kind::InvalidRange, ids::kLeafTu, "tus.chromaQpOffsetIndex", "HEVC chroma QP offset index must be in [0, 5]"},
          {Kind::InvalidRange, ids::kLeafTu, "tus.signaledChromaQpOffsetIndex",
           "HEVC chroma QP offset index must be in [0, 5]"}}},
        {"RDPCM directions 2", leafTu([](TuInfo& t) {
             t.rdpcmDirectionLuma = 2;
             t.rdpcmDirectionCb = 2;
             t.rdpcmDirectionCr = 2;
             t.signaledRdpcmDirectionLuma = 2;
             t.signaledRdpcmDirectionCb = 2;
             t.signaledRdpcmDirectionCr = 2;
         }),
         {{Kind::InvalidRange, ids::kLeafTu, "tus.rdpcmDirectionLuma", "HEVC RDPCM direction must be 0 or 1"},
          {Kind::InvalidRange, ids::kLeafTu, "tus.rdpcmDirectionCb", ""},
          {Kind::InvalidRange, ids::kLeafTu, "tus.rdpcmDirectionCr", ""},
          {Kind::InvalidRange, ids::kLeafTu, "tus.signaledRdpcmDirectionLuma", ""},
          {Kind::InvalidRange, ids::kLeafTu, "tus.signaledRdpcmDirectionCb", ""},
          {Kind::InvalidRange, ids::kLeafTu, "tus.signaledRdpcmDirectionCr", ""}}},
    };
}

// --- motionVectors ----------------------------------------------------------------------------

constexpr const char* kMvPairMessage =
    "known motion-vector components must be a pair measured in quarter-luma-sample units";

std::vector<MutationCase> motionVectorCases()
{
    const auto mv = [](auto change) { return [=](StreamAnalysis& d) { change(d.motionVectors[0]); }; };
    const ExpectedIssue pair{Kind::InvalidValue, ids::kMotionVector, "motionVectors", kMvPairMessage};
    const ExpectedIssue unitEnum{Kind::InvalidRange, ids::kMotionVector, "motionVectors.unit", kEnumMessage};
    return {
        {"parent PU is a CU", mv([](MotionVectorInfo& v) { v.parentPuId = ids::kLeafCu; }),
         {{Kind::WrongParentType, ids::kMotionVector, "motionVectors.parentPuId", ""}}},
        {"list 3 and status 5", mv([](MotionVectorInfo& v) {
             v.list = static_cast<ReferenceList>(3);
             v.referenceStatus = static_cast<ReferenceStatus>(5);
         }),
         {{Kind::InvalidRange, ids::kMotionVector, "motionVectors.list", kEnumMessage},
          {Kind::InvalidRange, ids::kMotionVector, "motionVectors.referenceStatus", kEnumMessage}}},
        {"reference picture names nothing", mv([](MotionVectorInfo& v) { v.referencePictureId = StableId{0x5, 42}; }),
         {{Kind::MissingParent, ids::kMotionVector, "motionVectors.referencePictureId", ""}}},
        {"reference index -1", mv([](MotionVectorInfo& v) { v.referenceIndex = -1; }),
         {{Kind::InvalidRange, ids::kMotionVector, "motionVectors.referenceIndex",
           "HEVC reference index must be in [0, 15]"}}},
        {"reference index 15 passes", mv([](MotionVectorInfo& v) { v.referenceIndex = 15; }), {}},
        {"only mvX", mv([](MotionVectorInfo& v) { v.mvY.reset(); }), {pair}},
        {"both components in unit 0", mv([](MotionVectorInfo& v) { v.unit = MotionVectorUnit::Unknown; }), {pair}},
        {"unit 2 with components", mv([](MotionVectorInfo& v) { v.unit = static_cast<MotionVectorUnit>(2); }),
         {unitEnum, pair}},
        {"no components in unit 0 passes", mv([](MotionVectorInfo& v) {
             v.mvX.reset();
             v.mvY.reset();
             v.unit = MotionVectorUnit::Unknown;
         }),
         {}},
        {"unit 2 without components", mv([](MotionVectorInfo& v) {
             v.mvX.reset();
             v.mvY.reset();
             v.unit = static_cast<MotionVectorUnit>(2);
         }),
         {unitEnum}},
        {"only mvdY", mv([](MotionVectorInfo& v) { v.mvdY = 3; }),
         {{Kind::InvalidValue, ids::kMotionVector, "motionVectors.mvd",
           "known MVD components must be a pair measured in quarter-luma-sample units"}}},
        {"MVD pair passes", mv([](MotionVectorInfo& v) {
             v.mvdX = 0;
             v.mvdY = 0;
             v.signaledMvdX = -1;
             v.signaledMvdY = 1;
         }),
         {}},
        {"only signaled MVD x", mv([](MotionVectorInfo& v) { v.signaledMvdX = 3; }),
         {{Kind::InvalidValue, ids::kMotionVector, "motionVectors.signaledMvd",
           "known signaled MVD components must be a pair measured in quarter-luma-sample units"}}},
    };
}

class CtuRules : public ::testing::TestWithParam<MutationCase> {};
class CuRules : public ::testing::TestWithParam<MutationCase> {};
class PuRules : public ::testing::TestWithParam<MutationCase> {};
class TuRules : public ::testing::TestWithParam<MutationCase> {};
class MotionVectorRules : public ::testing::TestWithParam<MutationCase> {};

TEST_P(CtuRules, YieldExpectedIssues) { validation_test::runMutationCase(GetParam()); }
TEST_P(CuRules, YieldExpectedIssues) { validation_test::runMutationCase(GetParam()); }
TEST_P(PuRules, YieldExpectedIssues) { validation_test::runMutationCase(GetParam()); }
TEST_P(TuRules, YieldExpectedIssues) { validation_test::runMutationCase(GetParam()); }
TEST_P(MotionVectorRules, YieldExpectedIssues) { validation_test::runMutationCase(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Validation, CtuRules, ::testing::ValuesIn(ctuCases()), validation_test::testNameOf);
INSTANTIATE_TEST_SUITE_P(Validation, CuRules, ::testing::ValuesIn(cuCases()), validation_test::testNameOf);
INSTANTIATE_TEST_SUITE_P(Validation, PuRules, ::testing::ValuesIn(puCases()), validation_test::testNameOf);
INSTANTIATE_TEST_SUITE_P(Validation, TuRules, ::testing::ValuesIn(tuCases()), validation_test::testNameOf);
INSTANTIATE_TEST_SUITE_P(Validation, MotionVectorRules, ::testing::ValuesIn(motionVectorCases()),
                         validation_test::testNameOf);

}  // namespace
}  // namespace vexilo::analysis
