#include "codec/AnalysisBufferVerifier.h"

#include "CodecDocumentTestSupport.h"
#include "ManyBlocksDocument.h"
#include "ValidationTestDocument.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace vexilo::analysis::codec_test {
namespace {

namespace messages = analysis_read_messages;

constexpr int kSubLayerPtlEntries = 6;
constexpr int kOrderingEntries = 7;

// Parameter sets packed with the smallest tables a valid document can hold: empty
// sub-layer ordering entries and near-empty profile-tier-level entries.
StreamAnalysis documentOfSmallTables(std::uint64_t parameterSetCount)
{
    StreamAnalysis analysis = minimalDocument();
    NalUnitInfo vpsUnit;
    vpsUnit.id = {0x1, 1};
    vpsUnit.parentStreamAnalysisId = analysis.id;
    vpsUnit.kind = NalUnitKind::Vps;
    vpsUnit.byteSize = 1;
    analysis.nalUnits.push_back(vpsUnit);

    ParameterSetInfo vps;
    vps.parentNalUnitId = vpsUnit.id;
    vps.kind = ParameterSetKind::Vps;
    vps.vpsSubLayerOrdering.assign(kOrderingEntries, VpsSubLayerOrderingInfo{});
    vps.profileTierLevels.push_back(ProfileTierLevelInfo{});
    for (int subLayer = 0; subLayer < kSubLayerPtlEntries; ++subLayer) {
        vps.profileTierLevels.push_back(ProfileTierLevelInfo{.subLayerId = static_cast<std::uint8_t>(subLayer)});
    }
    analysis.parameterSets.reserve(parameterSetCount);
    for (std::uint64_t index = 0; index < parameterSetCount; ++index) {
        vps.id = {0x2, index + 1};
        analysis.parameterSets.push_back(vps);
    }
    return analysis;
}

// The verifier FlatBuffers generates for the schema, with the reader's limits.
bool generatedVerifierAccepts(std::span<const std::uint8_t> bytes, std::uint32_t maxTables)
{
    flatbuffers::Verifier::Options options;
    options.max_depth = kMaxVerifiedDepth;
    options.max_tables = maxTables;
    options.check_alignment = true;
    flatbuffers::Verifier verifier(bytes.data(), bytes.size(), options);
    return fb::VerifyAnalysisDocumentTableBuffer(verifier);
}

// Bytes at an 8-byte boundary, as the reader hands them to the verifier.
class AlignedCopy {
public:
    explicit AlignedCopy(const std::vector<std::uint8_t>& bytes)
        : words_((bytes.size() + 7) / 8), size_(bytes.size())
    {
        std::memcpy(words_.data(), bytes.data(), bytes.size());
    }
    std::span<std::uint8_t> bytes() { return {reinterpret_cast<std::uint8_t*>(words_.data()), size_}; }

private:
    std::vector<std::uint64_t> words_;
    std::size_t size_;
};

void expectBothVerifiersAgree(std::span<const std::uint8_t> bytes, std::uint32_t maxTables, const char* what)
{
    EXPECT_EQ(verifyAnalysisBuffer(bytes, maxTables), generatedVerifierAccepts(bytes, maxTables))
        << what << ", " << bytes.size() << " bytes, at most " << maxTables << " tables";
}

// The block collections' tables are verified apart from the rest of the document; whatever
// the damage, the verdict is the generated verifier's.
TEST(BufferVerifier, AgreesWithTheGeneratedVerifierOnDamagedAndCutBuffers)
{
    const std::vector<std::uint8_t> written = serializeOrFail(validation_test::makeValidDocument());
    AlignedCopy valid(written);
    ASSERT_TRUE(verifyAnalysisBuffer(valid.bytes(), kMaxVerifiedTables));
    for (std::size_t length = 0; length <= written.size(); ++length) {
        expectBothVerifiersAgree(valid.bytes().first(length), kMaxVerifiedTables, "cut");
    }
    std::mt19937 random(2026);
    std::uniform_int_distribution<std::size_t> position(0, written.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    int refused = 0;
    for (int trial = 0; trial < 20'000; ++trial) {
        AlignedCopy damaged(written);
        for (int change = 0; change < 1 + trial % 4; ++change) {
            damaged.bytes()[position(random)] = static_cast<std::uint8_t>(byte(random));
        }
        refused += verifyAnalysisBuffer(damaged.bytes(), kMaxVerifiedTables) ? 0 : 1;
        expectBothVerifiersAgree(damaged.bytes(), kMaxVerifiedTables, "damaged");
    }
    EXPECT_GT(refused, 1000) << "the damage must reach what the verifier checks";
}

// Every table is counted once against the limit, whichever verifier visits it.
TEST(BufferVerifier, TheTableLimitCountsTheBlockTablesWithTheRest)
{
    const std::vector<std::uint8_t> written = serializeOrFail(validation_test::makeValidDocument());
    AlignedCopy bytes(written);
    std::uint32_t fewestAccepted = 1;
    while (!generatedVerifierAccepts(bytes.bytes(), fewestAccepted)) {
        ASSERT_LT(fewestAccepted, 10'000u);
        ++fewestAccepted;
    }
    EXPECT_FALSE(verifyAnalysisBuffer(bytes.bytes(), fewestAccepted - 1));
    EXPECT_TRUE(verifyAnalysisBuffer(bytes.bytes(), fewestAccepted));
}

// Large block collections are verified on threads of their own: a damaged table deep in one
// of them still refuses the buffer.
TEST(BufferVerifier, ADamagedTableAmongManyBlocksRefusesTheBuffer)
{
    const std::vector<std::uint8_t> written = serializeOrFail(documentWithManyBlocks(260));
    AlignedCopy bytes(written);
    const std::uint32_t limit = maxVerifiedTablesFor(written.size());
    ASSERT_TRUE(verifyAnalysisBuffer(bytes.bytes(), limit));
    const auto* tus = fb::GetAnalysisDocumentTable(bytes.bytes().data())->tus();
    ASSERT_NE(tus, nullptr);
    ASSERT_GE(tus->size(), 65'536u);
    const auto* table = reinterpret_cast<const std::uint8_t*>(tus->Get(tus->size() - 7));
    // The table's offset to its vtable, aimed beyond the buffer.
    const flatbuffers::soffset_t beyond = -static_cast<flatbuffers::soffset_t>(written.size());
    std::memcpy(bytes.bytes().data() + (table - bytes.bytes().data()), &beyond, sizeof(beyond));
    EXPECT_FALSE(generatedVerifierAccepts(bytes.bytes(), limit));
    EXPECT_FALSE(verifyAnalysisBuffer(bytes.bytes(), limit));
}

TEST(VerifierTableLimit, DenseDocumentBeyondTheRuntimeDefaultReadsBack)
{
    constexpr std::uint64_t kParameterSets = 70'000;
    // root, header, the NAL unit, and per parameter set itself and its nested entries
    constexpr std::uint64_t kTables = 3 + kParameterSets * (1 + kOrderingEntries + 1 + kSubLayerPtlEntries);
    static_assert(kTables > 1'000'000, "must exceed the FlatBuffers runtime's default table limit");

    const StreamAnalysis dense = documentOfSmallTables(kParameterSets);
    const std::vector<std::uint8_t> bytes = serializeOrFail(dense);
    // The limit assumes that no table of ours costs less than this; a denser writer would
    // make documents the reader refuses.
    EXPECT_GE(bytes.size(), kTables * kSmallestTableFootprintBytes);
    // The densest records the serialiser writes stay well inside the decode budget.
    const std::uint64_t decoded = kParameterSets * (sizeof(ParameterSetInfo) +
                                                    kOrderingEntries * sizeof(VpsSubLayerOrderingInfo) +
                                                    (1 + kSubLayerPtlEntries) * sizeof(ProfileTierLevelInfo));
    EXPECT_LE(decoded, bytes.size() * 7);
    EXPECT_EQ(readOrFail(bytes), dense);
}

TEST(VerifierTableLimit, TableVisitsBeyondOnePerEightBufferBytesAreRefused)
{
    constexpr std::uint32_t kReferences = 100'000;
    // The aliased shape with bytes enough of its own verifies and decodes (and then fails
    // validation on its zero parameter-set id)...
    expectReadError(readStreamAnalysis(sharedLayerSetBuffer(kReferences, kReferences * kSmallestTableFootprintBytes)),
                    AnalysisReadStatus::ValidationFailed, messages::kDecodedDocumentInvalid);
    // ...so without them, only the visit count can refuse it.
    const std::vector<std::uint8_t> aliased = sharedLayerSetBuffer(kReferences);
    EXPECT_LT(aliased.size(), std::size_t{kReferences} * kSmallestTableFootprintBytes);
    expectReadError(readStreamAnalysis(aliased), AnalysisReadStatus::MalformedBuffer, messages::kNotAVexiloBuffer);
}

TEST(VerifierTableLimit, EightMegabytesAimedAtOneTableAreRefused)
{
    const std::vector<std::uint8_t> aliased = sharedLayerSetBuffer(2'000'000);
    EXPECT_LE(aliased.size(), std::size_t{8} << 20);
    expectReadError(readStreamAnalysis(aliased), AnalysisReadStatus::MalformedBuffer, messages::kNotAVexiloBuffer);
}

TEST(DecodeBudget, RecordsDecodedPerReferenceStayWithinSixteenBytesPerBufferByte)
{
    // Two references to one parameter set decode into two records, which validation refuses...
    expectReadError(readStreamAnalysis(sharedParameterSetBuffer(2)), AnalysisReadStatus::ValidationFailed,
                    messages::kDecodedDocumentInvalid);
    // ...while many, even with 8 bytes of their own each, would decode into far more memory
    // than the budget allows; they are refused before anything is decoded.
    constexpr std::uint32_t kReferences = 100'000;
    const std::vector<std::uint8_t> aliased =
        sharedParameterSetBuffer(kReferences, kReferences * kSmallestTableFootprintBytes);
    EXPECT_GT(std::uint64_t{kReferences} * sizeof(ParameterSetInfo),
              aliased.size() * kMaxDecodedRecordBytesPerBufferByte);
    expectReadError(readStreamAnalysis(aliased), AnalysisReadStatus::MalformedBuffer, messages::kNotAVexiloBuffer);
}

// Errors whose four strings all have the longest length validation accepts.
StreamAnalysis documentOfLongErrors(std::uint64_t errorCount)
{
    const std::string longest(0x100000, 'x');
    StreamAnalysis analysis = minimalDocument();
    for (std::uint64_t index = 0; index < errorCount; ++index) {
        analysis.errors.push_back(AnalysisErrorInfo{.id = {0x3, index + 1},
                                                    .parentStreamAnalysisId = analysis.id,
                                                    .code = longest,
                                                    .component = longest,
                                                    .message = longest,
                                                    .detail = longest});
    }
    return analysis;
}

TEST(SerializerBufferLimit, DocumentJustBelowTheLimitIsWrittenAndReadBack)
{
    const StreamAnalysis large = documentOfLongErrors(127);  // 508 MiB of strings
    const std::vector<std::uint8_t> bytes = serializeOrFail(large);
    EXPECT_LE(bytes.size(), kMaxAnalysisBufferBytes);
    EXPECT_EQ(readOrFail(bytes), large);
}

TEST(SerializerBufferLimit, DocumentBeyondTheLimitIsRefused)
{
    const auto result = serializeStreamAnalysis(documentOfLongErrors(129));  // 516 MiB of strings
    const auto* error = std::get_if<AnalysisReadError>(&result);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->status, AnalysisReadStatus::ResourceLimit);
    EXPECT_EQ(error->message, messages::kSerializedTooLarge);
    EXPECT_TRUE(error->issues.empty());
}

}  // namespace
}  // namespace vexilo::analysis::codec_test
