#include "vexilo/analysis/AnalysisCodec.h"

#include "CodecDocumentTestSupport.h"
#include "RecordTableTestSupport.h"
#include "ManyBlocksDocument.h"
#include "ValidationTestDocument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

namespace vexilo::analysis::codec_test {
namespace {

namespace messages = analysis_read_messages;
using Root = fb::AnalysisDocumentTable;

constexpr int kFirstCollectionSlot = 8;
constexpr int kLastCollectionSlot = 22;

const Root& rootOf(const std::vector<std::uint8_t>& bytes)
{
    return *fb::GetAnalysisDocumentTable(bytes.data());
}

TEST(DocumentCodec, EveryCollectionFilledRoundTripsExactly)
{
    const StreamAnalysis original = validation_test::makeValidDocument();
    const std::vector<std::size_t> sizes{
        original.nalUnits.size(),       original.parameterSets.size(),
        original.seiMessages.size(),    original.slices.size(),
        original.referencePictures.size(), original.pictures.size(),
        original.ctus.size(),           original.cus.size(),
        original.pus.size(),            original.tus.size(),
        original.motionVectors.size(),  original.errors.size(),
        original.shortTermReferencePictures.size(), original.longTermReferencePictures.size(),
        original.dpbSnapshotEntries.size()};
    ASSERT_TRUE(std::ranges::none_of(sizes, [](std::size_t size) { return size == 0; }));
    const std::vector<std::uint8_t> bytes = serializeOrFail(original);
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 8), kAnalysisFileIdentifier);
    EXPECT_EQ(readOrFail(bytes), original);
}

// A reader that shows a picture's place in the stream leaves its blocks unread and gets every
// other record exactly; the document it gets still validates.
TEST(DocumentCodec, ReadingWithoutBlocksLeavesOnlyTheBlocksOut)
{
    const StreamAnalysis original = validation_test::makeValidDocument();
    const std::vector<std::uint8_t> bytes = serializeOrFail(original);
    const AnalysisReadResult read = readStreamAnalysis(bytes, AnalysisReadExtent::WithoutBlocks);
    ASSERT_TRUE(std::holds_alternative<StreamAnalysis>(read)) << std::get<AnalysisReadError>(read).message;
    StreamAnalysis expected = original;
    expected.ctus.clear();
    expected.cus.clear();
    expected.pus.clear();
    expected.tus.clear();
    expected.motionVectors.clear();
    EXPECT_EQ(std::get<StreamAnalysis>(read), expected);
}

// The serialiser sizes its builder from the records; strings far larger than their records
// make the builder grow while writing, and the result must not depend on that.
TEST(DocumentCodec, StringsLargerThanTheBuildersStartRoundTripExactly)
{
    StreamAnalysis original = validation_test::makeValidDocument();
    ASSERT_FALSE(original.errors.empty());
    for (std::size_t i = 0; i < original.errors.size(); ++i) {
        original.errors[i].detail = std::string(200'000 + i, static_cast<char>('a' + i % 26));
    }
    const auto written = serializeStreamAnalysis(original);
    ASSERT_TRUE(std::holds_alternative<std::vector<std::uint8_t>>(written));
    const auto& bytes = std::get<std::vector<std::uint8_t>>(written);
    EXPECT_GT(bytes.size(), 200'000u * original.errors.size());
    const AnalysisReadResult read = readStreamAnalysis(bytes);
    ASSERT_TRUE(std::holds_alternative<StreamAnalysis>(read));
    EXPECT_EQ(std::get<StreamAnalysis>(read), original);
}

TEST(DocumentCodec, ADocumentOfManyBlocksReadsBackExactlyAndStillValidated)
{
    StreamAnalysis original = documentWithManyBlocks(260);
    ASSERT_GT(original.motionVectors.size(), std::size_t{65'536});
    EXPECT_EQ(readOrFail(serializeOrFail(original)), original);

    // Written without the writer's check, so that only the reader can find the stray TU.
    original.tus.back().bounds.x += 64;
    const auto written = serializeValidatedStreamAnalysis(original);
    ASSERT_TRUE(std::holds_alternative<std::vector<std::uint8_t>>(written));
    const AnalysisReadResult read = readStreamAnalysis(std::get<std::vector<std::uint8_t>>(written));
    ASSERT_TRUE(std::holds_alternative<AnalysisReadError>(read));
    const AnalysisReadError& error = std::get<AnalysisReadError>(read);
    EXPECT_EQ(error.status, AnalysisReadStatus::ValidationFailed);
    ASSERT_FALSE(error.issues.empty());
    EXPECT_EQ(error.issues.front().objectId, original.tus.back().id);
}

// Large block collections are checked side by side; their issues still come in the order of
// the collections and, within each, of the records.
TEST(DocumentCodec, IssuesOfManyBlocksComeInCollectionAndRecordOrder)
{
    StreamAnalysis document = documentWithManyBlocks(260);
    ASSERT_TRUE(validateStreamAnalysis(document).empty());
    document.motionVectors.front().list = static_cast<ReferenceList>(9);
    document.tus.front().depth = 9;
    document.pus[document.pus.size() / 2].partIndex = 9;
    document.cus.back().qp = 99;
    document.cus[document.cus.size() / 3].depth = 9;
    document.ctus.back().parseStatus = static_cast<BlockParseStatus>(9);

    const ValidationIssues issues = validateStreamAnalysis(document);
    const std::vector<std::pair<std::string, StableId>> expected{
        {"ctus.parseStatus", document.ctus.back().id},
        {"cus.depth", document.cus[document.cus.size() / 3].id},
        {"cus.qp", document.cus.back().id},
        {"pus.partIndex", document.pus[document.pus.size() / 2].id},
        {"tus.depth", document.tus.front().id},
        {"motionVectors.list", document.motionVectors.front().id},
    };
    std::vector<std::pair<std::string, StableId>> found;
    for (const ValidationIssue& issue : issues) {
        found.emplace_back(issue.field, issue.objectId.value_or(StableId{}));
    }
    EXPECT_EQ(found, expected);
}

TEST(DocumentCodec, VersionOneWritesAnEmptyHeaderAndEveryCollectionVector)
{
    const std::vector<std::uint8_t> bytes = serializeOrFail(minimalDocument());
    const Root& root = rootOf(bytes);
    ASSERT_NE(root.header(), nullptr);
    EXPECT_TRUE(presentSlots(*root.header(), 2).empty());
    const flatbuffers::Table& raw = slots::asRawTable(root);
    for (int slot = kFirstCollectionSlot; slot <= kLastCollectionSlot; ++slot) {
        SCOPED_TRACE(::testing::Message() << "root slot " << slot);
        const auto* vector =
            raw.GetPointer<const flatbuffers::Vector<flatbuffers::uoffset_t>*>(vtableOffsetOfSlot(slot));
        ASSERT_NE(vector, nullptr);
        EXPECT_EQ(vector->size(), 0u);
    }
    // Absent root optionals are left out; profile 0 is its default.
    EXPECT_EQ(presentSlots(root, kFirstCollectionSlot), (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(readOrFail(bytes), minimalDocument());
}

TEST(DocumentCodec, RootOptionalsKeepPresenceAndValue)
{
    StreamAnalysis withZeroCompactId = minimalDocument();
    withZeroCompactId.compactId = 0;
    StreamAnalysis everyRootField = minimalDocument();
    everyRootField.compactId = UINT64_MAX;
    everyRootField.profile = StreamProfile::Main10;
    everyRootField.width = 65535;
    everyRootField.height = 1;
    everyRootField.bitDepth = 16;
    StreamAnalysis laterVersion = minimalDocument();
    laterVersion.minimumReaderVersion = 1;
    for (const StreamAnalysis& original : {withZeroCompactId, everyRootField, laterVersion}) {
        EXPECT_EQ(readOrFail(serializeOrFail(original)), original);
    }
}

TEST(DocumentCodec, ReadsFromAnyAddressAlignment)
{
    const std::vector<std::uint8_t> bytes = serializeOrFail(validation_test::makeValidDocument());
    std::vector<std::uint8_t> shifted(bytes.size() + 1);
    std::memcpy(shifted.data() + 1, bytes.data(), bytes.size());
    EXPECT_EQ(readOrFail(std::span<const std::uint8_t>(shifted).subspan(1)), validation_test::makeValidDocument());
}

struct ReadCase {
    std::string name;
    std::function<std::vector<std::uint8_t>()> bytes;
    AnalysisReadStatus status;
    std::string_view message;
};

std::vector<std::uint8_t> validBytes()
{
    return serializeOrFail(validation_test::makeValidDocument());
}

// A parameter set whose one syntax element lacks its required name.
std::vector<std::uint8_t> syntaxElementWithoutName()
{
    HandWrittenRoot root;
    auto& builder = root.builder();
    auto start = builder.StartTable();
    builder.AddElement<std::int64_t>(fb::SyntaxElementTable::VT_VALUE, 7);
    const flatbuffers::Offset<fb::SyntaxElementTable> element(builder.EndTable(start));
    const auto elements = builder.CreateVector(&element, 1);
    start = builder.StartTable();
    builder.AddOffset(fb::ParameterSetTable::VT_SYNTAXELEMENTS, elements);
    const flatbuffers::Offset<fb::ParameterSetTable> parameterSet(builder.EndTable(start));
    return root.collection(Root::VT_PARAMETERSETS, builder.CreateVector(&parameterSet, 1).o).finish();
}

// Many NAL units that all point at one string: a small buffer that would decode into
// copies far larger than itself.
std::vector<std::uint8_t> nalUnitsSharingOneString()
{
    HandWrittenRoot root;
    auto& builder = root.builder();
    const auto shared = builder.CreateString(std::string(64 * 1024, 'h'));
    std::vector<flatbuffers::Offset<fb::NalUnitTable>> units;
    for (int index = 0; index < 64; ++index) {
        const auto start = builder.StartTable();
        builder.AddOffset(fb::NalUnitTable::VT_CONTENTHASH, shared);
        units.emplace_back(builder.EndTable(start));
    }
    return root.collection(Root::VT_NALUNITS, builder.CreateVector(units).o).finish();
}

std::vector<ReadCase> readCases()
{
    const auto withBytes = [](std::function<void(std::vector<std::uint8_t>&)> change) {
        return [change] {
            std::vector<std::uint8_t> bytes = validBytes();
            change(bytes);
            return bytes;
        };
    };
    return {
        {"empty", [] { return std::vector<std::uint8_t>{}; }, AnalysisReadStatus::MalformedBuffer,
         messages::kEmptyBuffer},
        {"eleven bytes", [] { return std::vector<std::uint8_t>{8, 0, 0, 0, 'V', 'X', 'S', 'A', 0, 0, 0}; },
         AnalysisReadStatus::MalformedBuffer, messages::kNotAVexiloBuffer},
        {"wrong identifier", withBytes([](auto& bytes) { bytes[7] = 'B'; }), AnalysisReadStatus::MalformedBuffer,
         messages::kNotAVexiloBuffer},
        {"zero root offset", withBytes([](auto& bytes) { std::fill_n(bytes.begin(), 4, 0); }),
         AnalysisReadStatus::MalformedBuffer, messages::kNotAVexiloBuffer},
        {"root offset past the end", withBytes([](auto& bytes) { std::fill_n(bytes.begin(), 4, 0xff); }),
         AnalysisReadStatus::MalformedBuffer, messages::kNotAVexiloBuffer},
        {"truncated", withBytes([](auto& bytes) { bytes.resize(bytes.size() / 2); }),
         AnalysisReadStatus::MalformedBuffer, messages::kNotAVexiloBuffer},
        {"syntax element without name", syntaxElementWithoutName, AnalysisReadStatus::MalformedBuffer,
         messages::kNotAVexiloBuffer},
        {"strings shared beyond the buffer size", nalUnitsSharingOneString, AnalysisReadStatus::MalformedBuffer,
         messages::kNotAVexiloBuffer},
        {"no schema header", [] { return HandWrittenRoot{}.withoutHeader().finish(); },
         AnalysisReadStatus::MalformedBuffer, messages::kMissingSchemaHeader},
        {"schema version 2", [] { return HandWrittenRoot{}.versions(2, std::nullopt).finish(); },
         AnalysisReadStatus::UnreadableSchemaVersion, messages::kUnreadableSchemaVersion},
        {"minimum reader version 2", [] { return HandWrittenRoot{}.versions(1, 2).finish(); },
         AnalysisReadStatus::UnreadableSchemaVersion, messages::kUnreadableSchemaVersion},
        {"minimum reader version 0", [] { return HandWrittenRoot{}.versions(std::nullopt, 0).finish(); },
         AnalysisReadStatus::ValidationFailed, messages::kDecodedDocumentInvalid},
        {"width stored as 0", [] { return HandWrittenRoot{}.width(0).finish(); },
         AnalysisReadStatus::ValidationFailed, messages::kDecodedDocumentInvalid},
    };
}

TEST(DocumentReader, RefusesEachMalformedOrUnreadableBufferWithItsStatus)
{
    for (const ReadCase& readCase : readCases()) {
        SCOPED_TRACE(readCase.name);
        const std::vector<std::uint8_t> bytes = readCase.bytes();
        expectReadError(readStreamAnalysis(bytes), readCase.status, readCase.message);
    }
}

TEST(DocumentReader, ValidationFailuresCarryTheValidatorsIssues)
{
    const auto zeroMinimum = readStreamAnalysis(HandWrittenRoot{}.versions(std::nullopt, 0).finish());
    const auto& versionIssues = std::get<AnalysisReadError>(zeroMinimum).issues;
    ASSERT_EQ(versionIssues.size(), 1u);
    EXPECT_EQ(versionIssues[0].kind, ValidationIssueKind::InvalidSchemaVersion);

    const auto zeroWidth = readStreamAnalysis(HandWrittenRoot{}.width(0).finish());
    const auto& widthIssues = std::get<AnalysisReadError>(zeroWidth).issues;
    ASSERT_EQ(widthIssues.size(), 1u);
    EXPECT_EQ(widthIssues[0].field, "width");
}

TEST(DocumentReader, HeaderWithoutFieldsAndRootWithoutCollectionsRead)
{
    EXPECT_EQ(readOrFail(HandWrittenRoot{}.finish()), minimalDocument());
    EXPECT_EQ(readOrFail(HandWrittenRoot{}.versions(1, 1).finish()), minimalDocument());
}

TEST(DocumentReader, SizeLimitIsCheckedBeforeVerification)
{
    const std::size_t limit = kMaxAnalysisBufferBytes;
    // Left uninitialised past the first bytes: the reader must not look further.
    const auto storage = std::make_unique_for_overwrite<std::uint8_t[]>(limit + 1);
    std::fill_n(storage.get(), 16, std::uint8_t{0});
    expectReadError(readStreamAnalysis({storage.get(), limit}), AnalysisReadStatus::MalformedBuffer,
                    messages::kNotAVexiloBuffer);
    expectReadError(readStreamAnalysis({storage.get(), limit + 1}), AnalysisReadStatus::ResourceLimit,
                    messages::kBufferTooLarge);
}

TEST(DocumentReader, SurvivesEveryTruncationAndSingleByteDamage)
{
    const std::vector<std::uint8_t> bytes = validBytes();
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        // Cutting only trailing padding may leave a whole document; anything else must fail.
        const auto result = readStreamAnalysis(std::span<const std::uint8_t>(bytes).first(size));
        if (const auto* analysis = std::get_if<StreamAnalysis>(&result)) {
            EXPECT_EQ(*analysis, validation_test::makeValidDocument()) << "size " << size;
        }
    }
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        std::vector<std::uint8_t> damaged = bytes;
        damaged[index] ^= 0xa5;
        (void)readStreamAnalysis(damaged);  // any result, but no crash and no sanitizer report
    }
}

TEST(DocumentSerializer, RefusesAnInvalidDocumentBeforeBuilding)
{
    StreamAnalysis zeroId = validation_test::makeValidDocument();
    zeroId.id = StableId{};
    StreamAnalysis zeroWidth = validation_test::makeValidDocument();
    zeroWidth.width = 0;
    for (const StreamAnalysis& invalid : {zeroId, zeroWidth}) {
        const auto result = serializeStreamAnalysis(invalid);
        const auto* error = std::get_if<AnalysisReadError>(&result);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->status, AnalysisReadStatus::ValidationFailed);
        EXPECT_EQ(error->message, messages::kDocumentInvalid);
        ASSERT_FALSE(error->issues.empty());
        EXPECT_EQ(formatValidationIssues(error->issues), formatValidationIssues(validateStreamAnalysis(invalid)));
    }
}

}  // namespace
}  // namespace vexilo::analysis::codec_test
