#pragma once

#include "TestDocumentParts.h"
#include "vexilo/analysis/DomainValidation.h"
#include "vexilo/analysis/StreamAnalysis.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vexilo::analysis::validation_test {

// What the validator says of an enum value outside its numeric range.
inline constexpr const char* kEnumMessage = "enum value is outside the stable v1 numeric range";

using test_parts::lumaRect;
using test_parts::numbered;

// Identities of the base document; each object kind has its own high word.
namespace ids {
using namespace test_parts::ids;
inline constexpr StableId kSliceNal{0x1, 5};
inline constexpr StableId kSlice{0x4, 1};
inline constexpr StableId kReferencePicture{0x5, 1};
inline constexpr StableId kShortTerm{0x6, 1};
inline constexpr StableId kLongTerm{0x7, 1};
inline constexpr StableId kDpbEntry{0x8, 1};
inline constexpr StableId kPicture{0x9, 1};
inline constexpr StableId kCtu{0xa, 1};
inline constexpr StableId kRootCu{0xb, 1};
inline constexpr StableId kLeafCu{0xb, 2};
inline constexpr StableId kPu{0xc, 1};
inline constexpr StableId kRootTu{0xd, 1};
inline constexpr StableId kLeafTu{0xd, 2};
inline constexpr StableId kMotionVector{0xe, 1};
inline constexpr StableId kError{0xf, 1};
}  // namespace ids

// A small document that passes every rule: one object of each collection (two CUs
// and two TUs for the quadtree rules), wired to each other by their ids.
inline StreamAnalysis makeValidDocument()
{
    StreamAnalysis document;
    document.id = ids::kDocument;
    document.compactId = 1;
    document.sourceFingerprint = "sha256:" + std::string(64, 'a');
    document.profile = StreamProfile::Main;
    document.width = 1920;
    document.height = 1080;
    document.bitDepth = 8;

    test_parts::addParameterSetNalUnits(document);
    document.nalUnits.push_back(test_parts::makeNalUnit(ids::kSeiNal, NalUnitKind::PrefixSei, 39, 72));
    document.nalUnits.push_back(test_parts::makeNalUnit(ids::kSliceNal, NalUnitKind::Slice, 19, 96));

    test_parts::addParameterSets(document);
    document.parameterSets.front().syntaxElements = {{"vps_video_parameter_set_id", 0, ""},
                                                     {"vps_max_sub_layers_minus1", 0, ""}};

    SeiMessageInfo sei;
    sei.id = ids::kSei;
    sei.parentNalUnitId = ids::kSeiNal;
    sei.payloadType = 5;
    sei.status = SeiStatus::Parsed;
    sei.syntaxElements = {{"uuid_iso_iec_11578", 1, "01"}};
    document.seiMessages.push_back(sei);

    SliceInfo slice;
    slice.id = ids::kSlice;
    slice.parentNalUnitId = ids::kSliceNal;
    slice.type = SliceType::P;
    slice.ppsId = 0;
    slice.sliceQp = 30;
    slice.parseStatus = ParseStatus::Parsed;
    slice.referenceStateStatus = ParseStatus::Parsed;
    slice.numRefIdxL0Active = 1;
    document.slices.push_back(slice);

    document.referencePictures.push_back(ReferencePictureEntry{.id = ids::kReferencePicture,
                                                               .parentSliceId = ids::kSlice,
                                                               .list = ReferenceList::L0,
                                                               .listIndex = 0,
                                                               .status = ReferenceStatus::Available});
    document.shortTermReferencePictures.push_back(
        ShortTermReferencePictureEntry{.id = ids::kShortTerm, .parentSliceId = ids::kSlice, .entryIndex = 0});
    document.longTermReferencePictures.push_back(
        LongTermReferencePictureEntry{.id = ids::kLongTerm, .parentSliceId = ids::kSlice, .entryIndex = 0});
    document.dpbSnapshotEntries.push_back(
        DpbSnapshotEntry{.id = ids::kDpbEntry, .parentSliceId = ids::kSlice, .slot = 0});

    document.pictures.push_back(PictureAnalysisSummary{.id = ids::kPicture,
                                                       .parentStreamAnalysisId = ids::kDocument,
                                                       .pictureType = PictureType::P,
                                                       .width = 1920,
                                                       .height = 1080,
                                                       .bitDepth = 8,
                                                       .completeness = PictureCompleteness::Complete});

    document.ctus.push_back(CtuInfo{.id = ids::kCtu,
                                    .parentPictureSummaryId = ids::kPicture,
                                    .sliceInfoId = ids::kSlice,
                                    .bounds = lumaRect(0, 0, 64, 64),
                                    .parseStatus = BlockParseStatus::Parsed});

    CuInfo rootCu;
    rootCu.id = ids::kRootCu;
    rootCu.parentCtuId = ids::kCtu;
    rootCu.bounds = lumaRect(0, 0, 64, 64);
    rootCu.depth = 0;
    rootCu.split = true;
    rootCu.parseStatus = BlockParseStatus::Parsed;
    document.cus.push_back(rootCu);

    CuInfo leafCu;
    leafCu.id = ids::kLeafCu;
    leafCu.parentCtuId = ids::kCtu;
    leafCu.parentCuId = ids::kRootCu;
    leafCu.bounds = lumaRect(0, 0, 32, 32);
    leafCu.depth = 1;
    leafCu.split = false;
    leafCu.predictionMode = PredictionMode::Inter;
    leafCu.partitionMode = PartitionMode::Part2Nx2N;
    leafCu.qp = 30;
    leafCu.parseStatus = BlockParseStatus::Parsed;
    document.cus.push_back(leafCu);

    PuInfo pu;
    pu.id = ids::kPu;
    pu.parentCuId = ids::kLeafCu;
    pu.bounds = lumaRect(0, 0, 32, 32);
    pu.partitionMode = PartitionMode::Part2Nx2N;
    pu.interDirection = InterDirection::L0;
    pu.predictionMode = PredictionMode::Inter;
    pu.referencePictureL0Id = ids::kReferencePicture;
    pu.refIdxL0 = 0;
    pu.parseStatus = BlockParseStatus::Parsed;
    document.pus.push_back(pu);

    TuInfo rootTu;
    rootTu.id = ids::kRootTu;
    rootTu.parentCuId = ids::kLeafCu;
    rootTu.bounds = lumaRect(0, 0, 32, 32);
    rootTu.depth = 0;
    rootTu.split = true;
    rootTu.cbfLuma = true;
    rootTu.parseStatus = BlockParseStatus::Parsed;
    document.tus.push_back(rootTu);

    TuInfo leafTu;
    leafTu.id = ids::kLeafTu;
    leafTu.parentCuId = ids::kLeafCu;
    leafTu.parentTuId = ids::kRootTu;
    leafTu.bounds = lumaRect(16, 16, 16, 16);
    leafTu.depth = 1;
    leafTu.split = false;
    leafTu.qp = 30;
    leafTu.parseStatus = BlockParseStatus::Parsed;
    document.tus.push_back(leafTu);

    document.motionVectors.push_back(MotionVectorInfo{.id = ids::kMotionVector,
                                                      .parentPuId = ids::kPu,
                                                      .list = ReferenceList::L0,
                                                      .referencePictureId = ids::kReferencePicture,
                                                      .mvX = -4,
                                                      .mvY = 8,
                                                      .unit = MotionVectorUnit::QuarterLumaSample,
                                                      .referenceIndex = 0});

    AnalysisErrorInfo error;
    error.id = ids::kError;
    error.parentStreamAnalysisId = ids::kDocument;
    error.relatedObjectId = ids::kSlice;
    error.severity = 2;
    error.code = "analyzer.extradata_parameter_set";
    error.component = "AnalyzerWorker";
    error.message = "parameter set came from extradata";
    document.errors.push_back(error);
    return document;
}

// What a test expects of one issue; an empty message is not compared.
struct ExpectedIssue {
    ValidationIssueKind kind;
    std::optional<StableId> objectId;
    std::string field;
    std::string message;
};

// One mutation of the valid base document and the issues it must yield, in order.
struct MutationCase {
    std::string name;
    std::function<void(StreamAnalysis&)> mutate;
    std::vector<ExpectedIssue> expected;
};

inline std::ostream& operator<<(std::ostream& out, const MutationCase& mutation)
{
    return out << mutation.name;
}

inline std::string describe(const ValidationIssues& issues)
{
    return issues.empty() ? std::string("no issues") : formatValidationIssues(issues);
}

inline void expectIssues(const ValidationIssues& actual, const std::vector<ExpectedIssue>& expected)
{
    ASSERT_EQ(actual.size(), expected.size()) << describe(actual);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("issue " + std::to_string(i) + ": " + describe(actual));
        EXPECT_EQ(actual[i].kind, expected[i].kind);
        EXPECT_EQ(actual[i].objectId, expected[i].objectId);
        EXPECT_EQ(actual[i].field, expected[i].field);
        if (!expected[i].message.empty()) {
            EXPECT_EQ(actual[i].message, expected[i].message);
        }
    }
}

inline void runMutationCase(const MutationCase& mutation)
{
    StreamAnalysis document = makeValidDocument();
    mutation.mutate(document);
    expectIssues(validateStreamAnalysis(document), mutation.expected);
}

// A readable test name from a case name ("width 0" -> "width_0").
inline std::string testNameOf(const ::testing::TestParamInfo<MutationCase>& info)
{
    std::string name;
    for (const char c : info.param.name) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        name += alnum ? c : '_';
    }
    return name;
}

}  // namespace vexilo::analysis::validation_test
