#include "codec/AnalysisBufferVerifier.h"

#include "CodecDocumentTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
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
