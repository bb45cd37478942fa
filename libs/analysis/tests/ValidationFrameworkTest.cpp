#include "ManyBlocksDocument.h"
#include "ValidationTestDocument.h"
#include "validation/ValidationContext.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace vexilo::analysis {
namespace {

using validation_test::ExpectedIssue;
using validation_test::MutationCase;
using validation_test::lumaRect;
using validation_test::numbered;
namespace ids = validation_test::ids;
using Kind = ValidationIssueKind;

TEST(ValidationFramework, ValidBaseDocumentHasNoIssues)
{
    const ValidationIssues issues = validateStreamAnalysis(validation_test::makeValidDocument());
    EXPECT_TRUE(issues.empty()) << validation_test::describe(issues);
}

// A document of this many ids has its identities registered in parts side by side; zero and
// repeated ids are still reported in document order, and lookups still find first holders.
TEST(ValidationFramework, ZeroAndRepeatedIdsOfALargeDocumentComeInDocumentOrder)
{
    StreamAnalysis document = codec_test::documentWithManyBlocks(260);
    ASSERT_GE(document.ctus.size() + document.cus.size() + document.pus.size() + document.tus.size(), 262'144u);
    const std::size_t lastPu = document.pus.size() - 1;
    const std::size_t middleCu = document.cus.size() / 2;
    document.ctus[7].id = StableId{};
    document.cus[middleCu].id = StableId{};
    document.pus[lastPu].id = document.pus[3].id;
    // Repeats of ids that fall to every part, in a row of TUs.
    constexpr std::size_t kRepeatedTus = 32;
    for (std::size_t repeat = 0; repeat < kRepeatedTus; ++repeat) {
        document.tus[10 + repeat * 997].id = document.cus[5 + repeat].id;
    }
    document.motionVectors[0].id = document.id;

    std::vector<std::tuple<Kind, std::string, StableId>> identityIssues;
    for (const ValidationIssue& issue : validateStreamAnalysis(document)) {
        if (issue.kind == Kind::InvalidStableId || issue.kind == Kind::DuplicateStableId) {
            identityIssues.emplace_back(issue.kind, issue.field, issue.objectId.value_or(StableId{}));
        }
    }
    std::vector<std::tuple<Kind, std::string, StableId>> expected{
        {Kind::InvalidStableId, "ctus[7].id", StableId{}},
        {Kind::InvalidStableId, "cus[" + std::to_string(middleCu) + "].id", StableId{}},
        {Kind::DuplicateStableId, "pus[" + std::to_string(lastPu) + "].id", document.pus[3].id},
    };
    for (std::size_t repeat = 0; repeat < kRepeatedTus; ++repeat) {
        expected.emplace_back(Kind::DuplicateStableId, "tus[" + std::to_string(10 + repeat * 997) + "].id",
                              document.cus[5 + repeat].id);
    }
    expected.emplace_back(Kind::DuplicateStableId, "motionVectors[0].id", document.id);
    EXPECT_EQ(identityIssues, expected);
}

TEST(ValidationFramework, DefaultDocumentYieldsZeroIdThenEmptyFingerprint)
{
    const ValidationIssues issues = validateStreamAnalysis(StreamAnalysis{});
    validation_test::expectIssues(
        issues, {{Kind::InvalidStableId, std::nullopt, "id",
                  "the all-zero stable ID is reserved for an unknown identity"},
                 {Kind::InvalidValue, StableId{0, 0}, "sourceFingerprint", "value must not be empty"}});
    EXPECT_EQ(formatValidationIssues(issues),
              "domain validation failed with 2 issue(s)"
              "; [0] InvalidStableId field=id message=the all-zero stable ID is reserved for an unknown identity"
              "; [1] InvalidValue object=0x0:0 field=sourceFingerprint message=value must not be empty");
}

class ValidationFrameworkCase : public ::testing::TestWithParam<MutationCase> {};
TEST_P(ValidationFrameworkCase, YieldsExpectedIssues)
{
    validation_test::runMutationCase(GetParam());
}

constexpr const char* kSchemaMessage =
    "schema version must be v1 and minimumReaderVersion must be within [1, schemaVersion]";

std::vector<MutationCase> frameworkCases()
{
    const ExpectedIssue schemaIssue{Kind::InvalidSchemaVersion, ids::kDocument, "schemaVersion", kSchemaMessage};
    const ExpectedIssue lumaWidth0{Kind::InvalidRange, ids::kDocument, "width",
                                   "known coded dimensions must be in the range [1, 65535]"};
    return {
        {"minimum reader version 0", [](StreamAnalysis& d) { d.minimumReaderVersion = 0; }, {schemaIssue}},
        {"minimum reader version 2", [](StreamAnalysis& d) { d.minimumReaderVersion = 2; }, {schemaIssue}},
        {"schema version 2", [](StreamAnalysis& d) { d.schemaVersion = 2; }, {schemaIssue}},
        {"schema issue without object when id is zero",
         [](StreamAnalysis& d) {
             d = StreamAnalysis{};
             d.sourceFingerprint = "x";
             d.schemaVersion = 2;
         },
         {{Kind::InvalidSchemaVersion, std::nullopt, "schemaVersion", kSchemaMessage},
          {Kind::InvalidStableId, std::nullopt, "id", ""}}},
        {"zero element id has indexed path and no object",
         [](StreamAnalysis& d) { d.errors[0].id = StableId{}; },
         {{Kind::InvalidStableId, std::nullopt, "errors[0].id", ""}}},
        {"duplicate id reported on later holder only",
         [](StreamAnalysis& d) {
             d.cus[1].id = ids::kSliceNal;
             d.pus[0].parentCuId = ids::kSliceNal;
             d.tus[0].parentCuId = ids::kSliceNal;
             d.tus[1].parentCuId = ids::kSliceNal;
         },
         {{Kind::DuplicateStableId, ids::kSliceNal, "cus[1].id",
           "stable IDs must be unique across the complete analysis document"}}},
        {"an id of a NAL unit and two CUs resolves to the first CU",
         [](StreamAnalysis& d) {
             d.cus[1].id = ids::kSliceNal;
             CuInfo elsewhere = d.cus[1];
             elsewhere.bounds = validation_test::lumaRect(32, 32, 32, 32);
             d.cus.push_back(elsewhere);
             d.pus[0].parentCuId = ids::kSliceNal;
             d.tus[0].parentCuId = ids::kSliceNal;
             d.tus[1].parentCuId = ids::kSliceNal;
         },
         {{Kind::DuplicateStableId, ids::kSliceNal, "cus[1].id", ""},
          {Kind::DuplicateStableId, ids::kSliceNal, "cus[2].id", ""}}},
        {"three holders yield two duplicates",
         [](StreamAnalysis& d) {
             d.shortTermReferencePictures[0].id = ids::kError;
             d.dpbSnapshotEntries[0].id = ids::kError;
         },
         {{Kind::DuplicateStableId, ids::kError, "shortTermReferencePictures[0].id", ""},
          {Kind::DuplicateStableId, ids::kError, "dpbSnapshotEntries[0].id", ""}}},
        {"element reusing the document id is a duplicate",
         [](StreamAnalysis& d) { d.motionVectors[0].id = ids::kDocument; },
         {{Kind::DuplicateStableId, ids::kDocument, "motionVectors[0].id", ""}}},
        {"parent of another collection is wrong type",
         [](StreamAnalysis& d) { d.slices[0].parentNalUnitId = ids::kPicture; },
         {{Kind::WrongParentType, ids::kSlice, "slices.parentNalUnitId",
           "parent ID resolves to the wrong analysis object type"}}},
        {"document id as NAL parent is wrong type",
         [](StreamAnalysis& d) { d.parameterSets[1].parentNalUnitId = ids::kDocument; },
         {{Kind::WrongParentType, ids::kSps, "parameterSets.parentNalUnitId", ""}}},
        {"unknown parent is missing",
         [](StreamAnalysis& d) { d.seiMessages[0].parentNalUnitId = StableId{0x77, 7}; },
         {{Kind::MissingParent, ids::kSei, "seiMessages.parentNalUnitId",
           "parent ID does not resolve within this analysis document"}}},
        {"zero parent is missing",
         [](StreamAnalysis& d) { d.nalUnits[0].parentStreamAnalysisId = StableId{}; },
         {{Kind::MissingParent, ids::kVpsNal, "nalUnits.parentStreamAnalysisId", ""}}},
        {"zero root-level parent resolves in a zero-id document",
         [](StreamAnalysis& d) {
             d.id = StableId{};
             for (auto& unit : d.nalUnits) unit.parentStreamAnalysisId = StableId{};
             d.pictures[0].parentStreamAnalysisId = StableId{};
             d.errors[0].parentStreamAnalysisId = StableId{};
         },
         {{Kind::InvalidStableId, std::nullopt, "id", ""}}},
        {"a duplicated id stays in both typed sets",
         [](StreamAnalysis& d) {
             // The slice NAL unit takes the picture's id: the slice still finds its
             // NAL unit and the CTU its picture.
             d.nalUnits[4].id = ids::kPicture;
             d.slices[0].parentNalUnitId = ids::kPicture;
         },
         {{Kind::DuplicateStableId, ids::kPicture, "pictures[0].id", ""}}},
        {"fingerprint of exactly 1 MiB passes",
         [](StreamAnalysis& d) { d.sourceFingerprint.assign(0x100000, 'a'); }, {}},
        {"fingerprint one byte over 1 MiB",
         [](StreamAnalysis& d) { d.sourceFingerprint.assign(0x100001, 'a'); },
         {{Kind::ResourceLimit, ids::kDocument, "sourceFingerprint", "string exceeds the schema resource limit"}}},
        {"empty optional string passes", [](StreamAnalysis& d) { d.nalUnits[0].contentHash.clear(); }, {}},
        {"absent sizes pass",
         [](StreamAnalysis& d) {
             d.width.reset();
             d.height.reset();
             d.bitDepth.reset();
         },
         {}},
        {"width 0", [](StreamAnalysis& d) { d.width = 0; }, {lumaWidth0}},
        {"width 65536",
         [](StreamAnalysis& d) { d.width = 65536; },
         {{Kind::InvalidRange, ids::kDocument, "width", ""}}},
        {"height 65535 passes", [](StreamAnalysis& d) { d.height = 65535; }, {}},
        {"bit depth 16 passes", [](StreamAnalysis& d) { d.bitDepth = 16; }, {}},
        {"bit depth 17",
         [](StreamAnalysis& d) { d.bitDepth = 17; },
         {{Kind::InvalidRange, ids::kDocument, "bitDepth", "known bit depth must be in the range [8, 16]"}}},
        {"bit depth 7",
         [](StreamAnalysis& d) { d.bitDepth = 7; },
         {{Kind::InvalidRange, ids::kDocument, "bitDepth", ""}}},
        {"profile 3",
         [](StreamAnalysis& d) { d.profile = static_cast<StreamProfile>(3); },
         {{Kind::InvalidRange, ids::kDocument, "profile", "enum value is outside the stable v1 numeric range"}}},
        {"issues follow the phase order",
         [](StreamAnalysis& d) {
             d.errors[0].severity = 9;        // last collection of the element rules
             d.nalUnits[0].temporalId = 7;    // first collection
             d.bitDepth = 4;                  // root rules
             d.ctus[0].id = ids::kSlice;      // identity registration
             d.minimumReaderVersion = 3;      // schema header
         },
         {{Kind::InvalidSchemaVersion, ids::kDocument, "schemaVersion", ""},
          {Kind::DuplicateStableId, ids::kSlice, "ctus[0].id", ""},
          {Kind::InvalidRange, ids::kDocument, "bitDepth", ""},
          {Kind::InvalidRange, ids::kVpsNal, "nalUnits.temporalId", ""},
          // No object carries the CUs' parent CTU id any more.
          {Kind::MissingParent, ids::kRootCu, "cus.parentCtuId", ""},
          {Kind::MissingParent, ids::kLeafCu, "cus.parentCtuId", ""},
          {Kind::InvalidRange, ids::kError, "errors.severity", ""}}},
    };
}

INSTANTIATE_TEST_SUITE_P(Rules, ValidationFrameworkCase, ::testing::ValuesIn(frameworkCases()),
                         validation_test::testNameOf);

TEST(ValidationFramework, CollectionLimitAllowsExactlyTheLimit)
{
    for (const auto& [count, expectIssue] : std::vector<std::pair<std::uint64_t, bool>>{
             {0, false}, {100'000'000, false}, {100'000'001, true}}) {
        StreamAnalysis document;
        ValidationIssues issues;
        validation::ValidationContext context(document, issues);
        validation::checkCollectionLimit(context, count, "dpbSnapshotEntries");
        if (!expectIssue) {
            EXPECT_TRUE(issues.empty()) << count;
            continue;
        }
        validation_test::expectIssues(issues, {{Kind::ResourceLimit, std::nullopt, "dpbSnapshotEntries",
                                        "collection exceeds the schema resource limit"}});
    }
}

struct BoundsCase {
    BlockRect bounds;
    bool wellFormed;
};

TEST(ValidationFramework, BlockBoundsWellFormedness)
{
    const std::vector<BoundsCase> cases = {
        {lumaRect(0, 0, 8, 8), true},       {lumaRect(0, 0, 0, 8), false},
        {lumaRect(0, 0, 8, 0), false},      {BlockRect{0, 0, 8, 8, 0}, false},
        {BlockRect{}, false},               {BlockRect{0, 0, 8, 8, 2}, false},
        {lumaRect(-1, 0, 8, 8), false},     {lumaRect(0, -1, 8, 8), false},
    };
    for (const BoundsCase& testCase : cases) {
        EXPECT_EQ(validation::blockBoundsWellFormed(testCase.bounds), testCase.wellFormed)
            << testCase.bounds.x << "," << testCase.bounds.y << " " << testCase.bounds.width << "x"
            << testCase.bounds.height << " unit " << int{testCase.bounds.unit};
    }
}

struct ContainmentCase {
    BlockRect outer;
    BlockRect inner;
    bool contained;
};

TEST(ValidationFramework, BlockContainment)
{
    const BlockRect farEdge = lumaRect(0x7fffffff, 0x7fffffff, 0xffffffffu, 0xffffffffu);
    const std::vector<ContainmentCase> cases = {
        {lumaRect(0, 0, 64, 64), lumaRect(0, 0, 64, 64), true},
        {lumaRect(0, 0, 64, 64), lumaRect(32, 32, 32, 32), true},
        {lumaRect(0, 0, 64, 64), lumaRect(32, 32, 33, 32), false},
        {lumaRect(16, 16, 64, 64), lumaRect(8, 16, 8, 8), false},
        {lumaRect(0, 0, 64, 64), BlockRect{0, 0, 8, 8, 0}, false},
        {BlockRect{0, 0, 64, 64, 0}, lumaRect(0, 0, 8, 8), false},
        // Sums past 32 bits must not wrap into a false "contained".
        {lumaRect(0, 0, 64, 64), farEdge, false},
        {farEdge, farEdge, true},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(validation::blockContains(cases[i].outer, cases[i].inner), cases[i].contained) << "case " << i;
    }
}

TEST(ValidationReport, KindNames)
{
    const std::vector<std::pair<std::uint32_t, std::string>> names = {
        {0, "InvalidSchemaVersion"}, {1, "InvalidStableId"}, {2, "DuplicateStableId"},
        {3, "MissingParent"},        {4, "WrongParentType"}, {5, "InvalidCoordinate"},
        {6, "InvalidRange"},         {7, "ResourceLimit"},   {8, "InvalidValue"},
        {9, "Unknown"},              {0xffffffffu, "Unknown"},
    };
    for (const auto& [kind, name] : names) {
        EXPECT_EQ(validationIssueKindName(kind), name);
    }
}

TEST(ValidationReport, NoIssues)
{
    EXPECT_EQ(formatValidationIssues({}), "domain validation failed with 0 issue(s)");
}

TEST(ValidationReport, OneIssueWithObject)
{
    const ValidationIssues issues = {
        {Kind::InvalidRange, StableId{0xABCDEF0123456789ULL, 0x10}, "nalUnits.temporalId",
         "HEVC temporal ID must be in [0, 6]"}};
    EXPECT_EQ(formatValidationIssues(issues),
              "domain validation failed with 1 issue(s); [0] InvalidRange object=0xabcdef0123456789:10 "
              "field=nalUnits.temporalId message=HEVC temporal ID must be in [0, 6]");
}

TEST(ValidationReport, NineIssuesListTheFirstEight)
{
    ValidationIssues issues;
    for (std::uint32_t i = 0; i < 9; ++i) {
        std::optional<StableId> object;
        if (i % 2 == 1) {
            object = StableId{0, i};
        }
        issues.push_back({static_cast<Kind>(i), object, numbered("f", i), numbered("m", i)});
    }
    EXPECT_EQ(formatValidationIssues(issues),
              "domain validation failed with 9 issue(s)"
              "; [0] InvalidSchemaVersion field=f0 message=m0"
              "; [1] InvalidStableId object=0x0:1 field=f1 message=m1"
              "; [2] DuplicateStableId field=f2 message=m2"
              "; [3] MissingParent object=0x0:3 field=f3 message=m3"
              "; [4] WrongParentType field=f4 message=m4"
              "; [5] InvalidCoordinate object=0x0:5 field=f5 message=m5"
              "; [6] InvalidRange field=f6 message=m6"
              "; [7] ResourceLimit object=0x0:7 field=f7 message=m7");
}

TEST(ValidationReport, UnknownKindIsNamedUnknown)
{
    const ValidationIssues issues = {{static_cast<Kind>(42), std::nullopt, "x", "y"}};
    EXPECT_EQ(formatValidationIssues(issues), "domain validation failed with 1 issue(s); [0] Unknown field=x message=y");
}

TEST(ValidationReport, AppendTakesOverBothStrings)
{
    ValidationIssues issues;
    std::string field = "pus.refIdxL0";
    std::string message = "HEVC reference index must be in [0, 15]";
    appendValidationIssue(issues, Kind::InvalidRange, ids::kPu, std::move(field), std::move(message));
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_EQ(issues[0].field, "pus.refIdxL0");
    EXPECT_EQ(issues[0].message, "HEVC reference index must be in [0, 15]");
    EXPECT_EQ(issues[0].objectId, ids::kPu);
    EXPECT_TRUE(field.empty());
    EXPECT_TRUE(message.empty());
}

}  // namespace
}  // namespace vexilo::analysis
