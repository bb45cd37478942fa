#include "ObserverEventBytes.h"
#include "builder/StableIdDerivation.h"
#include "builder/StreamAnalysisBuilder.h"
#include "collector/ObserverEventCollector.h"
#include "vexilo/analysis/DocumentId.h"
#include "vexilo/analysis/DomainValidation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

namespace vexilo::analyzer {
namespace {

using testing::EventBytes;
using analysis::StableId;

constexpr char kFingerprint[] = "sha256:00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
constexpr char kInputPath[] = "/streams/input.hevc";
constexpr ObserverCollectorLimits kLimits{4, 64};

std::uint64_t fnvOfZeroBytes(std::size_t count)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (std::size_t i = 0; i < count; ++i) {
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

TEST(StableIdDerivation, MatchesTheDocumentedFormula)
{
    EXPECT_EQ(deriveStableId(StableId{}, 0, 0, 0), (StableId{0, fnvOfZeroBytes(40)}));
    EXPECT_EQ(fnvOfZeroBytes(40), 0x40d69e0cf0f65c45ULL);
    const StableId parent{0x1111, 0x2222};
    const StableId child = deriveStableId(parent, 5, 7, 0);
    EXPECT_EQ(child, (StableId{0x1715609f7c747d78ULL, 0x8f0776de70f62505ULL}));
    EXPECT_NE(child, deriveStableId(parent, 5, 7, 1)) << "the extra value takes part";
    EXPECT_NE(child, deriveStableId(parent, 5, 8, 0));
    EXPECT_EQ(composeKey32(2, 5), 0x8000000200000005ULL);
    EXPECT_EQ(composeKey48(5, 0xFFFF123456789ABCULL), 0x9005123456789ABCULL);
}

// Children of several parents and kinds derived interleaved, as the builder derives the TUs,
// PUs and vectors of neighbouring blocks, get the identities each gets derived alone.
TEST(StableIdDerivation, InterleavedParentsAndKindsDeriveAsIfAlone)
{
    const StableId first{0x1111, 0x2222};
    const StableId second{0x1111, 0x2223};
    const std::array<std::uint64_t, 3> kinds{12, 14, 12 + 16};  // the last two share a memo slot
    std::vector<StableId> interleaved;
    for (std::uint64_t key = 0; key < 4; ++key) {
        for (const std::uint64_t kind : kinds) {
            interleaved.push_back(deriveStableId(first, kind, key, 0));
            interleaved.push_back(deriveStableId(second, kind, key, key));
        }
    }
    std::vector<StableId> alone;
    for (std::uint64_t key = 0; key < 4; ++key) {
        for (const std::uint64_t kind : kinds) {
            static_cast<void>(deriveStableId(StableId{kind, key}, kind, 0, 0));  // another parent in between
            alone.push_back(deriveStableId(first, kind, key, 0));
            static_cast<void>(deriveStableId(StableId{key, kind}, kind, 0, 0));
            alone.push_back(deriveStableId(second, kind, key, key));
        }
    }
    EXPECT_EQ(interleaved, alone);
    EXPECT_NE(interleaved[0], interleaved[1]) << "parents that differ in their low half only";
    EXPECT_EQ(deriveStableId(first, 5, 7, 0), deriveStableId(StableId{0x1111, 0x2222}, 5, 7, 0));
    EXPECT_EQ(deriveStableId(StableId{0x1111, 0x2222}, 5, 7, 0),
              (StableId{0x1715609f7c747d78ULL, 0x8f0776de70f62505ULL}))
        << "a remembered prefix of another parent must not leak into this one";
}

// The formula byte by byte, as the documents of earlier versions were made with it.
StableId derivedByteByByte(const StableId& parent, std::uint64_t kind, std::uint64_t key, std::uint64_t extra)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const std::uint64_t word : {parent.high, parent.low, kind, key, extra}) {
        for (int byte = 0; byte < 8; ++byte) {
            hash ^= (word >> (8 * byte)) & 0xFFu;
            hash *= 0x100000001b3ULL;
        }
    }
    StableId id{(kind * 0x9e3779b97f4a7c15ULL) ^ parent.high, hash};
    if (id.high == 0 && id.low == 0) {
        id.low = 1;
    }
    return id;
}

// Keys and extra values of every byte length, with zero bytes inside and at either end.
TEST(StableIdDerivation, KeysOfAnyByteLengthDeriveAsByteByByte)
{
    std::vector<std::uint64_t> values{0, 1, 0xFF, 0x100, 0x1234, 0xFF0000, 0x0100000001ULL, ~std::uint64_t{0},
                                      std::uint64_t{1} << 63, 0x00FF00FF00FF00FFULL};
    for (unsigned shift = 0; shift < 64; shift += 7) {
        values.push_back(0x9e3779b97f4a7c15ULL >> shift);
    }
    const StableId parent{0xA5A5'0000'1234'0000ULL, 0x0000'0000'FFFF'0001ULL};
    for (const std::uint64_t key : values) {
        for (const std::uint64_t extra : {std::uint64_t{0}, std::uint64_t{3}, key, ~key}) {
            ASSERT_EQ(deriveStableId(parent, 11, key, extra), derivedByteByByte(parent, 11, key, extra))
                << "key " << key << " extra " << extra;
        }
    }
}

class StreamScript {
public:
    StreamScript& add(EventBytes event)
    {
        events_.push_back(std::move(event));
        return *this;
    }

    // VPS, SPS and PPS in their own NAL units, then a prefix SEI.
    StreamScript& parameterSets(std::uint32_t width = 64, std::uint32_t height = 64)
    {
        add(testing::nalUnitEvent(100, 0, 32));
        add(testing::parameterSetEvent(VEXILO_OBSERVER_EVENT_VPS, 0));
        add(testing::nalUnitEvent(101, 100, 33));
        add(testing::parameterSetEvent(VEXILO_OBSERVER_EVENT_SPS, 0, width, height, 0x5555));
        add(testing::nalUnitEvent(102, 200, 34));
        add(testing::parameterSetEvent(VEXILO_OBSERVER_EVENT_PPS, 0, 0, 0, 0x6666));
        add(testing::nalUnitEvent(103, 300, 39));
        add(testing::seiEvent(147, {16}));
        return *this;
    }

    // One picture of one slice and one 64x64 CTU with a CU, a PU and two TUs.
    StreamScript& picture(std::uint64_t p, std::int32_t refIdxL0 = -1)
    {
        const std::uint64_t slice = pictureSlice(p);
        add(testing::cuEvent(slice, p, 0, 1, 0, 0, 0, 64));
        add(testing::puEvent(slice, p, 0, 1, 0, 0, 0, 64, refIdxL0));
        add(testing::tuEvent(slice, p, 0, 1, 1, 0, 0, 0, 64));
        add(testing::tuEvent(slice, p, 0, 1, 2, 1, 0, 0, 32));
        add(testing::ctuEvent(slice, p, 0, 0, 0, 64, 64));
        return pictureOutput(p);
    }

    // The NAL unit, slice and slice entries of picture `p`, whose blocks the caller adds
    // before pictureOutput(p). Returns the slice's identity.
    std::uint64_t pictureSlice(std::uint64_t p)
    {
        const std::uint64_t nal = 200 + p;
        const std::uint64_t slice = 300 + p;
        add(testing::nalUnitEvent(nal, static_cast<std::int64_t>(1000 * p), 1));
        add(testing::sliceEvent(nal, slice, p));
        add(testing::sliceChildEvent(VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY, slice, p, 0));
        add(testing::sliceChildEvent(VEXILO_OBSERVER_EVENT_LONG_TERM_RPS_ENTRY, slice, p, 0));
        if (p > 1) {
            add(testing::referenceListEvent(slice, p, 0, 0, p - 1));
        }
        add(testing::sliceChildEvent(VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY, slice, p, 0));
        add(testing::sliceChildEvent(VEXILO_OBSERVER_EVENT_REFERENCE_STATE_MARKER, slice, p, 1));
        return slice;
    }

    StreamScript& pictureOutput(std::uint64_t p)
    {
        add(testing::pictureOutputEvent(p, static_cast<std::int64_t>(p) - 1, static_cast<std::int64_t>(p) - 1));
        return *this;
    }

    [[nodiscard]] StreamAnalysisBuildResult build(const DecoderContextInfo& context = defaultContext(),
                                                  std::uint64_t capacity = 4096,
                                                  ObserverCollectorLimits limits = kLimits) const
    {
        const std::unique_ptr<ObserverEventCollector> collector = collect(capacity, limits);
        return buildStreamAnalysis(kInputPath, kFingerprint, context, *collector);
    }

    [[nodiscard]] std::unique_ptr<ObserverEventCollector> collect(std::uint64_t capacity = 4096,
                                                                  ObserverCollectorLimits limits = kLimits) const
    {
        auto collector = std::make_unique<ObserverEventCollector>(capacity, 0, limits);
        for (const EventBytes& event : events_) {
            EXPECT_EQ(collector->onEvent(event.header()), 0);
        }
        collector->finalize();
        return collector;
    }

    static DecoderContextInfo defaultContext()
    {
        DecoderContextInfo context;
        context.width = 64;
        context.height = 64;
        context.profile = 1;
        context.lumaBitDepth = 8;
        return context;
    }

private:
    std::vector<EventBytes> events_;
};

const analysis::StreamAnalysis& documentOf(const StreamAnalysisBuildResult& result)
{
    if (const auto* error = std::get_if<StreamAnalysisBuildError>(&result)) {
        ADD_FAILURE() << "build failed: " << error->code << " / " << error->message;
        static const analysis::StreamAnalysis empty;
        return empty;
    }
    return std::get<analysis::StreamAnalysis>(result);
}

void expectValid(const analysis::StreamAnalysis& document)
{
    const analysis::ValidationIssues issues = analysis::validateStreamAnalysis(document);
    EXPECT_TRUE(issues.empty()) << analysis::formatValidationIssues(issues);
}

bool hasIssue(const analysis::StreamAnalysis& document, const std::string& code)
{
    return std::any_of(document.errors.begin(), document.errors.end(),
                       [&](const analysis::AnalysisErrorInfo& error) { return error.code == code; });
}

TEST(StreamAnalysisBuilder, BuildsAValidDocumentFromAScriptedStream)
{
    StreamScript script;
    script.parameterSets().picture(1).picture(2, 0).picture(3, 0);
    const StreamAnalysisBuildResult result = script.build();
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);

    EXPECT_EQ(document.id, documentIdFromFingerprint(kFingerprint));
    EXPECT_EQ(document.nalUnits.size(), 7u);
    EXPECT_EQ(document.parameterSets.size(), 3u);
    EXPECT_EQ(document.seiMessages.size(), 1u);
    EXPECT_EQ(document.slices.size(), 3u);
    EXPECT_EQ(document.pictures.size(), 3u);
    EXPECT_EQ(document.shortTermReferencePictures.size(), 3u);
    EXPECT_EQ(document.longTermReferencePictures.size(), 3u);
    EXPECT_EQ(document.referencePictures.size(), 2u);
    EXPECT_EQ(document.dpbSnapshotEntries.size(), 3u);
    EXPECT_EQ(document.ctus.size(), 3u);
    EXPECT_EQ(document.cus.size(), 3u);
    EXPECT_EQ(document.pus.size(), 3u);
    EXPECT_EQ(document.tus.size(), 6u);
    EXPECT_EQ(document.motionVectors.size(), 3u);
    EXPECT_TRUE(document.errors.empty());

    // Identities follow from the parents.
    const StableId firstNal = deriveStableId(document.id, 1, 0, 0);
    EXPECT_EQ(document.nalUnits[0].id, firstNal);
    EXPECT_EQ(document.parameterSets[0].id, deriveStableId(firstNal, 2, (1ULL << 32) | 0, 0));
    const StableId picture2 = deriveStableId(document.id, 4, 2, 0);
    const StableId ctu = deriveStableId(picture2, 10, 0, 0);
    const StableId cu = deriveStableId(ctu, 11, 1, 0);
    const StableId pu = deriveStableId(cu, 12, 0, 0);
    const auto puRecord = std::find_if(document.pus.begin(), document.pus.end(),
                                       [&](const analysis::PuInfo& record) { return record.id == pu; });
    ASSERT_NE(puRecord, document.pus.end());
    const StableId slice2 = deriveStableId(deriveStableId(document.id, 1, 2000, 0), 5, 302, 0);
    EXPECT_EQ(puRecord->referencePictureL0Id, deriveStableId(slice2, 6, 0, 0));
    const StableId cuOfPicture1 = deriveStableId(deriveStableId(deriveStableId(document.id, 4, 1, 0), 10, 0, 0), 11, 1, 0);
    EXPECT_EQ(document.tus[1].parentTuId, deriveStableId(cuOfPicture1, 14, 1, 0));

    // Pictures gather their slices, blocks and SEI.
    const analysis::PictureAnalysisSummary& first = document.pictures[0];
    EXPECT_EQ(first.sliceCount, 1u);
    EXPECT_EQ(first.ctuCount, 1u);
    EXPECT_EQ(first.cuCount, 1u);
    EXPECT_EQ(first.tuCount, 2u);
    EXPECT_EQ(document.seiMessages[0].pictureId, 1u);
    EXPECT_EQ(document.seiMessages[0].syntaxElements.size(), 1u);
    EXPECT_EQ(document.slices[1].displayIndex, 1);
}

TEST(StreamAnalysisBuilder, AddsTheParameterSetsOfTheConfigurationRecord)
{
    // hvcC with one SPS array: a two-byte header plus two payload bytes.
    std::vector<std::uint8_t> extradata(23, 0);
    extradata[0] = 1;
    extradata[1] = 2;     // profile idc 2
    extradata[12] = 120;  // level
    extradata[16] = 1;    // 4:2:0
    extradata[17] = 2;    // luma 10 bits
    extradata[18] = 2;
    extradata[21] = (1 << 3) | (1 << 2);
    extradata[22] = 2;
    const std::uint8_t arrays[] = {0x21, 0x00, 0x01, 0x00, 0x04, 0x42, 0x01, 0xAA, 0xBB,
                                   0x22, 0x00, 0x02, 0x00, 0x03, 0x44, 0x01, 0xCC};
    extradata.insert(extradata.end(), std::begin(arrays), std::end(arrays));
    DecoderContextInfo context = StreamScript::defaultContext();
    context.extradata = extradata;

    StreamScript script;
    script.picture(1);
    const StreamAnalysisBuildResult result = script.build(context);
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);
    ASSERT_EQ(document.parameterSets.size(), 2u) << "the second PPS entry runs past the end";
    const analysis::ParameterSetInfo& sps = document.parameterSets[0];
    EXPECT_EQ(sps.kind, analysis::ParameterSetKind::Sps);
    EXPECT_EQ(sps.profile, analysis::StreamProfile::Main10);
    EXPECT_EQ(sps.bitDepth, 10);
    EXPECT_EQ(sps.width, 64u);
    EXPECT_EQ(sps.maxSubLayers, 1);
    EXPECT_EQ(sps.id, deriveStableId(document.nalUnits[1].id, 2, (33ULL << 32) | 0, 0));
    EXPECT_EQ(document.nalUnits[1].id, deriveStableId(document.id, 1, 0xa000000000000000ULL | 28, 0));
    EXPECT_FALSE(document.nalUnits[1].byteSpanReliable);
    EXPECT_EQ(document.parameterSets[1].kind, analysis::ParameterSetKind::Pps);
}

TEST(StreamAnalysisBuilder, MadeUpNalUnitsCarryParameterSetsAndSeiFromExtradata)
{
    StreamScript script;
    script.add(testing::parameterSetEvent(VEXILO_OBSERVER_EVENT_SPS, 0, 64, 64))
        .add(testing::parameterSetEvent(VEXILO_OBSERVER_EVENT_SPS, 0, 64, 64))
        .add(testing::seiEvent(147, {1}))
        .picture(1);
    const StreamAnalysisBuildResult result = script.build();
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);
    EXPECT_TRUE(hasIssue(document, "analyzer.extradata_parameter_set"));
    EXPECT_TRUE(hasIssue(document, "analyzer.extradata_sei"));
    EXPECT_EQ(document.parameterSets.size(), 2u) << "a repeated set stays distinct by its counter";
    EXPECT_EQ(document.parameterSets[0].parentNalUnitId, deriveStableId(document.id, 1, composeKey32(2, 0), 0));
}

struct FatalCase {
    const char* name;
    std::vector<EventBytes> events;
    const char* code;
    const char* message;
};

class StreamAnalysisBuilderFatal : public ::testing::TestWithParam<FatalCase> {};

TEST_P(StreamAnalysisBuilderFatal, DiscardsTheDocument)
{
    const FatalCase& c = GetParam();
    StreamScript script;
    script.add(testing::nalUnitEvent(1, 0, 1)).add(testing::sliceEvent(1, 5, 1)).add(testing::pictureOutputEvent(1, 0, 0));
    for (const EventBytes& event : c.events) {
        script.add(event);
    }
    const StreamAnalysisBuildResult result = script.build();
    const auto* error = std::get_if<StreamAnalysisBuildError>(&result);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, c.code);
    EXPECT_EQ(error->message, c.message);
    EXPECT_EQ(error->detail, std::string("path=") + kInputPath);
    EXPECT_EQ(error->ffmpegCode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFatalError, StreamAnalysisBuilderFatal,
    ::testing::Values(
        FatalCase{"output without display index", {testing::pictureOutputEvent(2, -1, 1)}, "analyzer.picture_identity",
                  "Picture output has no decode/display identity"},
        FatalCase{"lifecycle without output", {EventBytes(4, 64).displayIndex(9)}, "analyzer.picture_output_order",
                  "Lifecycle picture has no HEVC output event"},
        FatalCase{"layer set index 0", {testing::vpsLayerSetEvent(0, 0, 0, 1)}, "analyzer.vps_layer_set_identity",
                  "VPS layer-set event has invalid identity or bounds"},
        FatalCase{"layer set without VPS", {testing::vpsLayerSetEvent(0, 1, 0, 1)}, "analyzer.vps_layer_set_parent",
                  "VPS layer-set event has no parent VPS"},
        FatalCase{"slice without NAL", {testing::sliceEvent(99, 6, 1)}, "analyzer.slice_identity",
                  "FFmpeg observer produced a slice without its NAL identity"},
        FatalCase{"short-term RPS", {testing::sliceChildEvent(12, 77, 1, 0)}, "analyzer.rps_identity",
                  "Short-term RPS event has no parent slice"},
        FatalCase{"long-term RPS", {testing::sliceChildEvent(13, 77, 1, 0)}, "analyzer.rps_identity",
                  "Long-term RPS event has no parent slice"},
        FatalCase{"reference list", {testing::referenceListEvent(77, 1, 0, 0, 1)}, "analyzer.rpl_identity",
                  "Reference-list event has no parent slice"},
        FatalCase{"DPB", {testing::sliceChildEvent(15, 77, 1, 0)}, "analyzer.dpb_identity",
                  "DPB event has no parent slice"},
        FatalCase{"reference state", {testing::sliceChildEvent(16, 77, 1, 1)}, "analyzer.reference_state_identity",
                  "Reference-state marker has no parent slice"}),
    [](const ::testing::TestParamInfo<FatalCase>& test) { return testing::caseName(test.param.name); });

struct IssueCase {
    const char* name;
    std::vector<EventBytes> events;
    const char* code;
};

class StreamAnalysisBuilderIssues : public ::testing::TestWithParam<IssueCase> {};

TEST_P(StreamAnalysisBuilderIssues, RecordsOneIssuePerCodeAndStaysValid)
{
    const IssueCase& c = GetParam();
    StreamScript script;
    script.parameterSets().picture(1);
    for (const EventBytes& event : c.events) {
        script.add(event);
    }
    const StreamAnalysisBuildResult result = script.build();
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);
    const auto count = std::count_if(document.errors.begin(), document.errors.end(),
                                     [&](const analysis::AnalysisErrorInfo& error) { return error.code == c.code; });
    EXPECT_EQ(count, 1) << c.name;
    for (const analysis::AnalysisErrorInfo& error : document.errors) {
        EXPECT_EQ(error.severity, 2);
        EXPECT_EQ(error.component, "AnalyzerWorker");
        EXPECT_TRUE(error.errorFlag);
        EXPECT_EQ(error.detail.rfind(std::string("path=") + kInputPath, 0), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryNonFatalIssue, StreamAnalysisBuilderIssues,
    ::testing::Values(
        IssueCase{"CTU of unknown picture",
                  {testing::ctuEvent(301, 9, 0, 0, 0, 64, 64), testing::ctuEvent(301, 9, 1, 64, 0, 64, 64)},
                  "analyzer.ctu_identity"},
        IssueCase{"CTU of unknown slice", {testing::ctuEvent(999, 1, 1, 0, 0, 32, 32)}, "analyzer.ctu_slice_identity"},
        IssueCase{"CU without picture", {testing::cuEvent(301, 9, 0, 5, 0, 0, 0, 8), testing::ctuEvent(301, 9, 0, 0, 0, 64, 64)},
                  "analyzer.cu_identity"},
        IssueCase{"PU without picture", {testing::puEvent(301, 9, 0, 5, 0, 0, 0, 8, -1), testing::ctuEvent(301, 9, 0, 0, 0, 64, 64)},
                  "analyzer.pu_identity"},
        IssueCase{"PU of unknown slice",
                  {testing::cuEvent(999, 1, 1, 7, 0, 0, 0, 8), testing::puEvent(999, 1, 1, 7, 0, 0, 0, 8, 0),
                   testing::ctuEvent(301, 1, 1, 0, 0, 32, 32)},
                  "analyzer.pu_slice_identity"},
        IssueCase{"TU without picture", {testing::tuEvent(301, 9, 0, 5, 6, 0, 0, 0, 8), testing::ctuEvent(301, 9, 0, 0, 0, 64, 64)},
                  "analyzer.tu_identity"},
        IssueCase{"repeated CTU address",
                  {testing::ctuEvent(301, 1, 0, 0, 0, 64, 64), testing::ctuEvent(301, 1, 0, 0, 0, 64, 64)},
                  "analyzer.duplicate_identity"},
        IssueCase{"CTU outside the picture", {testing::ctuEvent(301, 1, 5, 4000, 0, 64, 64)}, "analyzer.block_geometry"}),
    [](const ::testing::TestParamInfo<IssueCase>& test) { return testing::caseName(test.param.name); });

const analysis::AnalysisErrorInfo* errorWithCode(const analysis::StreamAnalysis& document, const std::string& code)
{
    const auto found = std::find_if(document.errors.begin(), document.errors.end(),
                                    [&](const analysis::AnalysisErrorInfo& error) { return error.code == code; });
    return found != document.errors.end() ? &*found : nullptr;
}

TEST(StreamAnalysisBuilder, SyntaxDiagnosticsBecomeErrorsAndWarningsNamingTheirNalUnit)
{
    StreamScript script;
    script.parameterSets().picture(1);
    script.add(testing::syntaxDiagnosticEvent(101, 33, VEXILO_OBSERVER_DIAGNOSTIC_TOLERATED, "sps_max_num_reorder_pics",
                                              "SPS kept: reorder above the DPB", 141));
    script.add(testing::nalUnitEvent(104, 400, 34));
    script.add(testing::syntaxDiagnosticEvent(104, 34, VEXILO_OBSERVER_DIAGNOSTIC_REJECTED, "pps_pic_parameter_set_id",
                                              "PPS refused: pps_pic_parameter_set_id above 63", 16));
    // An element without its terminating zero stops at the field's end.
    script.add(testing::syntaxDiagnosticEvent(104, 34, VEXILO_OBSERVER_DIAGNOSTIC_REJECTED, std::string(60, 'x'),
                                              "PPS refused", 20));
    script.add(testing::syntaxDiagnosticEvent(104, 34, 9, "unknown_outcome", "not reported", 0));
    script.add(testing::syntaxDiagnosticEvent(0, 0, VEXILO_OBSERVER_DIAGNOSTIC_SESSION_FAILED, "", "", std::nullopt));
    const StreamAnalysisBuildResult result = script.build();
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);

    const analysis::AnalysisErrorInfo* warning = errorWithCode(document, "analyzer.syntax_value_tolerated");
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->severity, 1);
    EXPECT_FALSE(warning->errorFlag);
    EXPECT_EQ(warning->message, "SPS kept: reorder above the DPB");
    EXPECT_EQ(warning->detail, std::string("path=") + kInputPath +
                                   "; nalUnit=101; byteOffset=100; nalUnitType=33; element=sps_max_num_reorder_pics; "
                                   "bitPosition=141");
    EXPECT_FALSE(warning->relatedObjectId.has_value()) << "kept in the stream's own document";

    const auto rejected = std::count_if(document.errors.begin(), document.errors.end(), [](const auto& error) {
        return error.code == "analyzer.syntax_structure_rejected";
    });
    EXPECT_EQ(rejected, 2) << "one record per refused structure";
    const std::string expectedDetail = std::string("path=") + kInputPath +
                                       "; nalUnit=104; byteOffset=400; nalUnitType=34; "
                                       "element=pps_pic_parameter_set_id; bitPosition=16";
    const auto error = std::find_if(document.errors.begin(), document.errors.end(),
                                    [&](const auto& e) { return e.detail == expectedDetail; });
    ASSERT_NE(error, document.errors.end());
    EXPECT_EQ(error->code, "analyzer.syntax_structure_rejected");
    EXPECT_EQ(error->severity, 3);
    EXPECT_TRUE(error->errorFlag);
    EXPECT_EQ(error->message, "PPS refused: pps_pic_parameter_set_id above 63");
    const std::string cutElement = "element=" + std::string(47, 'x') + ";";
    EXPECT_TRUE(std::any_of(document.errors.begin(), document.errors.end(),
                            [&](const auto& e) { return e.detail.find(cutElement) != std::string::npos; }));

    const analysis::AnalysisErrorInfo* failure = errorWithCode(document, "analyzer.syntax_observer_failed");
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->severity, 4);
    EXPECT_FALSE(failure->message.empty()) << "a fixed message stands in for an empty one";
    EXPECT_EQ(failure->detail.find("bitPosition"), std::string::npos);
    EXPECT_FALSE(hasIssue(document, "unknown_outcome"));
    EXPECT_EQ(std::count_if(document.errors.begin(), document.errors.end(),
                            [](const auto& e) { return e.message == "not reported"; }),
              0);
}

TEST(StreamAnalysisBuilder, DamagedLinksAreLeftOutAndTheDocumentStaysValid)
{
    StreamScript script;
    script.parameterSets().picture(1);
    // A PU that refers to a list entry that does not exist, a CU whose parent CU is
    // missing, and a CU without its CTU.
    script.add(testing::cuEvent(301, 1, 0, 9, 55, 0, 0, 16))
        .add(testing::puEvent(301, 1, 0, 9, 0, 0, 0, 16, 3))
        .add(testing::ctuEvent(301, 1, 0, 0, 0, 64, 64))
        .add(testing::cuEvent(301, 1, 8, 3, 0, 4000, 0, 16))
        .add(testing::ctuEvent(301, 1, 8, 4000, 0, 64, 64));
    const StreamAnalysisBuildResult result = script.build();
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);
    const auto cu9 = std::find_if(document.cus.begin(), document.cus.end(), [&](const analysis::CuInfo& cu) {
        return cu.bounds.width == 16;
    });
    ASSERT_NE(cu9, document.cus.end());
    EXPECT_FALSE(cu9->parentCuId);
    for (const analysis::PuInfo& pu : document.pus) {
        if (pu.bounds.width == 16) {
            EXPECT_FALSE(pu.referencePictureL0Id);
        }
    }
    EXPECT_EQ(document.cus.size(), 2u) << "the CU of the dropped CTU is gone";
}

// A PU outside its CU goes with its vector; a repeated PU goes with its repeated vector while
// the first keeps its own.
TEST(StreamAnalysisBuilder, MotionVectorsGoWithTheirPusOnly)
{
    StreamScript script;
    script.parameterSets().picture(1);
    script.add(testing::puEvent(301, 1, 0, 1, 1, 60, 0, 16, -1))
        .add(testing::puEvent(301, 1, 0, 1, 0, 0, 0, 64, -1))
        .add(testing::ctuEvent(301, 1, 0, 0, 0, 64, 64));
    const auto expectOneVectorOnTheOnePu = [](const analysis::StreamAnalysis& document) {
        expectValid(document);
        ASSERT_EQ(document.pus.size(), 1u);
        ASSERT_EQ(document.motionVectors.size(), 1u);
        EXPECT_EQ(document.motionVectors[0].parentPuId, document.pus[0].id);
    };
    const StreamAnalysisBuildResult result = script.build();
    expectOneVectorOnTheOnePu(documentOf(result));
    EXPECT_TRUE(hasIssue(documentOf(result), "analyzer.block_geometry"));

    StreamScript repeatedOnly;
    repeatedOnly.parameterSets().picture(1);
    repeatedOnly.add(testing::puEvent(301, 1, 0, 1, 0, 0, 0, 64, -1)).add(testing::ctuEvent(301, 1, 0, 0, 0, 64, 64));
    const StreamAnalysisBuildResult repeated = repeatedOnly.build();
    expectOneVectorOnTheOnePu(documentOf(repeated));
}

// The document's room for motion vectors is what the collector counted. Between two inter PUs
// lie more intra PUs than a search looks ahead: the second vector still finds its PU.
TEST(StreamAnalysisBuilder, MotionVectorsFarFromTheLastKeepTheirPusAndAreCountedAhead)
{
    constexpr std::uint32_t kCuSize = 8;
    constexpr std::uint64_t kCusPerSide = 64 / kCuSize;
    constexpr std::uint64_t kFirstCu = 10;
    StreamScript script;
    script.parameterSets();
    const std::uint64_t slice = script.pictureSlice(1);
    for (std::uint64_t k = 0; k < kCusPerSide * kCusPerSide; ++k) {
        const auto x = static_cast<std::uint32_t>((k % kCusPerSide) * kCuSize);
        const auto y = static_cast<std::uint32_t>((k / kCusPerSide) * kCuSize);
        const bool inter = k == 0 || k + 1 == kCusPerSide * kCusPerSide;
        script.add(testing::cuEvent(slice, 1, 0, kFirstCu + k, 0, x, y, kCuSize));
        for (std::uint32_t part = 0; part < (inter ? 1u : 2u); ++part) {
            EventBytes pu = testing::puEvent(slice, 1, 0, kFirstCu + k, part, x, y, kCuSize, -1);
            if (!inter) {
                pu.put<std::uint64_t>(96, (1u << 2) | (1u << 3) | (1u << 8) | (1u << 9) | (1u << 11) | (1u << 17));
            }
            script.add(std::move(pu));
        }
    }
    script.add(testing::ctuEvent(slice, 1, 0, 0, 0, 64, 64)).pictureOutput(1);

    // Room for the CTU's 64 CUs and their PUs.
    constexpr ObserverCollectorLimits kLimitsOfADenseCtu{4, 1024};
    EXPECT_EQ(script.collect(4096, kLimitsOfADenseCtu)->motionVectorCount(), 2u);
    const StreamAnalysisBuildResult result = script.build(StreamScript::defaultContext(), 4096, kLimitsOfADenseCtu);
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);
    EXPECT_EQ(document.pus.size(), 126u);
    EXPECT_FALSE(hasIssue(document, "analyzer.block_geometry"));
    ASSERT_EQ(document.motionVectors.size(), 2u);
    EXPECT_EQ(document.motionVectors.front().parentPuId, document.pus.front().id);
    EXPECT_EQ(document.motionVectors.back().parentPuId, document.pus.back().id);
}

// A picture that loses its blocks takes its motion vectors out of the count.
TEST(StreamAnalysisBuilder, APictureWithoutItsBlocksLeavesNoMotionVectorsToCount)
{
    StreamScript script;
    script.parameterSets().picture(1).picture(2);
    EXPECT_EQ(script.collect()->motionVectorCount(), 2u);
    constexpr std::uint64_t kBlocksOfOnePicture = 5;
    EXPECT_EQ(script.collect(kBlocksOfOnePicture)->motionVectorCount(), 1u);
    const StreamAnalysisBuildResult result = script.build(StreamScript::defaultContext(), kBlocksOfOnePicture);
    EXPECT_EQ(documentOf(result).motionVectors.size(), 1u);
}

// A CTU split down to 16x16 CUs puts a parent CU far before its last children, so parents
// are found wherever they lie; a CU placed outside the parent it names loses only its link.
TEST(StreamAnalysisBuilder, CuTreeLinksStandWhereverTheParentLies)
{
    constexpr std::uint64_t kPicture = 2;
    constexpr std::uint64_t kNal = 202;
    constexpr std::uint64_t kSlice = 302;
    StreamScript script;
    script.parameterSets().picture(1);
    script.add(testing::nalUnitEvent(kNal, 2000, 1)).add(testing::sliceEvent(kNal, kSlice, kPicture));
    std::uint64_t nextCu = 1;
    const std::uint64_t root = nextCu++;
    script.add(testing::cuEvent(kSlice, kPicture, 0, root, 0, 0, 0, 64));
    // A TU of a CU that is not there, met before the others: the search for its CU runs to
    // the end and gives way to the index by identity, which must find the others as well.
    script.add(testing::tuEvent(kSlice, kPicture, 0, 99, 1, 0, 0, 0, 16));
    std::vector<std::uint64_t> quadrants;
    for (std::uint32_t q = 0; q < 4; ++q) {
        const std::uint32_t qx = q % 2 * 32;
        const std::uint32_t qy = q / 2 * 32;
        quadrants.push_back(nextCu++);
        script.add(testing::cuEvent(kSlice, kPicture, 0, quadrants.back(), root, qx, qy, 32));
        for (std::uint32_t l = 0; l < 4; ++l) {
            const std::uint64_t leaf = nextCu++;
            const std::uint32_t x = qx + l % 2 * 16;
            const std::uint32_t y = qy + l / 2 * 16;
            script.add(testing::cuEvent(kSlice, kPicture, 0, leaf, quadrants.back(), x, y, 16))
                .add(testing::tuEvent(kSlice, kPicture, 0, leaf, 1, 0, x, y, 16));
        }
    }
    const std::uint64_t stray = nextCu;
    script.add(testing::cuEvent(kSlice, kPicture, 0, stray, quadrants[0], 48, 48, 16))
        .add(testing::ctuEvent(kSlice, kPicture, 0, 0, 0, 64, 64))
        .add(testing::pictureOutputEvent(kPicture, 1, 1));

    const StreamAnalysisBuildResult result = script.build();
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);
    const StableId ctu = deriveStableId(deriveStableId(document.id, 4, kPicture, 0), 10, 0, 0);
    std::size_t cus = 0;
    std::size_t linked = 0;
    for (const analysis::CuInfo& cu : document.cus) {
        if (cu.parentCtuId != ctu) {
            continue;
        }
        ++cus;
        linked += cu.parentCuId.has_value() ? 1U : 0U;
        if (cu.id == deriveStableId(ctu, 11, stray, 0)) {
            EXPECT_FALSE(cu.parentCuId) << "the stray CU lies outside the quadrant it names";
        } else if (cu.id != deriveStableId(ctu, 11, root, 0)) {
            EXPECT_TRUE(cu.parentCuId);
        }
    }
    EXPECT_EQ(cus, 22u);
    EXPECT_EQ(linked, 20u);
    const auto tusOfPicture = std::count_if(document.tus.begin(), document.tus.end(), [&](const analysis::TuInfo& tu) {
        return std::any_of(document.cus.begin(), document.cus.end(),
                           [&](const analysis::CuInfo& cu) { return cu.id == tu.parentCuId && cu.parentCtuId == ctu; });
    });
    EXPECT_EQ(tusOfPicture, 16);
    EXPECT_EQ(document.tus.size(), 2u + 16u) << "the TU without its CU is gone";
    EXPECT_EQ(document.pictures[1].cuCount, 22u);
    EXPECT_EQ(document.pictures[1].tuCount, 16u);
}

TEST(StreamAnalysisBuilder, OrdinalKeysStayApartFromByteOffsets)
{
    StreamScript script;
    script.add(testing::nalUnitEvent(1, 5, 35)).add(testing::nalUnitEvent(2, -1, 35, 5)).picture(1);
    const StreamAnalysisBuildResult result = script.build();
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);
    EXPECT_EQ(document.nalUnits.size(), 3u);
    EXPECT_FALSE(hasIssue(document, "analyzer.duplicate_identity"));
}

TEST(StreamAnalysisBuilder, AnSpsKeepsItsOwnSizeAfterAResolutionChange)
{
    StreamScript script;
    script.parameterSets(32, 32);
    script.add(testing::nalUnitEvent(110, 150, 33)).add(testing::parameterSetEvent(VEXILO_OBSERVER_EVENT_SPS, 1, 0, 0, 0x9999));
    script.picture(1);
    DecoderContextInfo context = StreamScript::defaultContext();
    context.width = 16;
    context.height = 16;
    const StreamAnalysisBuildResult result = script.build(context);
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);
    EXPECT_EQ(document.width, 64u) << "the root widens to the CTUs";
    std::vector<std::uint32_t> spsWidths;
    for (const analysis::ParameterSetInfo& ps : document.parameterSets) {
        if (ps.kind == analysis::ParameterSetKind::Sps) {
            spsWidths.push_back(ps.width.value_or(0));
        }
    }
    EXPECT_EQ(spsWidths, (std::vector<std::uint32_t>{32, 64})) << "only the SPS without a size is widened";
}

TEST(StreamAnalysisBuilder, CtuExtentsOf65536DoNotWiden)
{
    StreamScript script;
    script.picture(1);
    script.add(testing::ctuEvent(301, 2, 0, 65472, 0, 64, 64)).add(testing::pictureOutputEvent(2, 1, 1, 0, 0));
    script.add(testing::ctuEvent(301, 3, 0, 65471, 0, 64, 64)).add(testing::pictureOutputEvent(3, 2, 2, 0, 0));
    const StreamAnalysisBuildResult result = script.build();
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);
    EXPECT_EQ(document.width, 65535u);
}

// Each picture brings five block events: a bound of 12 keeps the first two pictures whole
// and the third without blocks, while every stream-level record stays.
TEST(StreamAnalysisBuilder, ABlockBoundKeepsWholePicturesAndEveryStreamRecord)
{
    StreamScript script;
    script.parameterSets().picture(1).picture(2, 0).picture(3, 0);
    const StreamAnalysisBuildResult result = script.build(StreamScript::defaultContext(), 12);
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);
    EXPECT_EQ(document.pictures.size(), 3u);
    EXPECT_EQ(document.slices.size(), 3u);
    EXPECT_EQ(document.referencePictures.size(), 2u);
    EXPECT_EQ(document.ctus.size(), 2u);
    EXPECT_EQ(document.tus.size(), 4u);
    using analysis::PictureCompleteness;
    EXPECT_EQ(document.pictures[0].completeness, PictureCompleteness::Complete);
    EXPECT_EQ(document.pictures[1].completeness, PictureCompleteness::Complete);
    EXPECT_EQ(document.pictures[2].completeness, PictureCompleteness::Partial);
    EXPECT_FALSE(document.pictures[2].ctuCount.has_value());

    ASSERT_EQ(document.errors.size(), 2u);
    const analysis::AnalysisErrorInfo& partial = document.errors[0];
    EXPECT_EQ(partial.code, "analyzer.observer_partial");
    EXPECT_EQ(partial.message, "Some CTU/CU/PU/TU observer events were dropped by bounded collectors");
    EXPECT_EQ(partial.id, deriveStableId(document.id, 98, 5, 0));
    EXPECT_FALSE(partial.relatedObjectId.has_value());
    EXPECT_TRUE(partial.detail.starts_with("capacity=12; collected=")) << partial.detail;
    EXPECT_TRUE(partial.detail.ends_with("; dropped=5; fatalLine=0; picturesWithBlocks=2; picturesWithoutBlocks=1"))
        << partial.detail;

    const analysis::AnalysisErrorInfo& picture = document.errors[1];
    EXPECT_EQ(picture.code, "analyzer.observer_partial");
    EXPECT_EQ(picture.relatedObjectId, document.pictures[2].id);
    EXPECT_EQ(picture.detail, "pictureId=3; decodeIndex=2; ctus=1; cus=1; pus=1; tus=2; dropped=5");
}

std::vector<std::string> syntaxNames(const analysis::ParameterSetInfo& ps)
{
    std::vector<std::string> names;
    for (const analysis::SyntaxElementInfo& entry : ps.syntaxElements) {
        names.push_back(entry.name);
    }
    return names;
}

const analysis::SyntaxElementInfo* entryNamed(const analysis::ParameterSetInfo& ps, const std::string& name)
{
    for (const analysis::SyntaxElementInfo& entry : ps.syntaxElements) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

TEST(StreamAnalysisBuilder, ParameterSetSyntaxFollowsItsPresenceFlags)
{
    EventBytes sps = testing::parameterSetEvent(VEXILO_OBSERVER_EVENT_SPS, 0, 64, 64);
    sps.put<std::uint64_t>(496, VEXILO_OBSERVER_SPS_VUI_PARAMETERS_PRESENT | VEXILO_OBSERVER_SPS_LONG_TERM_REF_PICS_PRESENT)
        .put<std::uint32_t>(504, 8)
        .put<std::uint32_t>(632, 2)
        .put<std::uint32_t>(636, 3)
        .put<std::uint32_t>(640, 5)
        .put<std::uint32_t>(764, 0b10)
        .put<std::uint64_t>(792, VEXILO_OBSERVER_VUI_ASPECT_RATIO_INFO_PRESENT)
        .put<std::uint32_t>(800, 255)
        .put<std::uint32_t>(804, 4)
        .put<std::uint32_t>(808, 3);
    EventBytes pps = testing::parameterSetEvent(VEXILO_OBSERVER_EVENT_PPS, 0);
    pps.put<std::uint32_t>(136, VEXILO_OBSERVER_PS_TILES_ENABLED)
        .put<std::uint32_t>(128, 3)
        .put<std::uint32_t>(132, 2)
        .put<std::uint64_t>(888, VEXILO_OBSERVER_PPS_DEBLOCKING_FILTER_CONTROL_PRESENT)
        .put<std::uint32_t>(924, 10)
        .put<std::uint32_t>(928, 7)
        .put<std::uint32_t>(1004, 4)
        .put<std::int32_t>(1092, -4)
        .put<std::int32_t>(1096, 6);
    StreamScript script;
    script.add(testing::nalUnitEvent(101, 100, 33)).add(sps).add(testing::nalUnitEvent(102, 200, 34)).add(pps).picture(1);
    const StreamAnalysisBuildResult result = script.build();
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);
    ASSERT_EQ(document.parameterSets.size(), 2u);
    const analysis::ParameterSetInfo& spsRecord = document.parameterSets[0];
    const std::vector<std::string> spsNames = syntaxNames(spsRecord);
    EXPECT_EQ(std::count(spsNames.begin(), spsNames.end(), "separate_colour_plane_flag"), 0) << "4:2:0 has no such flag";
    EXPECT_EQ(entryNamed(spsRecord, "log2_max_pic_order_cnt_lsb_minus4")->value, 4);
    EXPECT_EQ(entryNamed(spsRecord, "lt_ref_pic_poc_lsb_sps[1]")->value, 5);
    EXPECT_EQ(entryNamed(spsRecord, "used_by_curr_pic_lt_sps_flag[0]")->value, 0);
    EXPECT_EQ(entryNamed(spsRecord, "used_by_curr_pic_lt_sps_flag[1]")->value, 1);
    EXPECT_EQ(entryNamed(spsRecord, "sar_width")->value, 4);
    EXPECT_EQ(entryNamed(spsRecord, "conf_win_left_offset"), nullptr);
    EXPECT_EQ(entryNamed(spsRecord, "sps_range_extension_flag"), nullptr);

    const analysis::ParameterSetInfo& ppsRecord = document.parameterSets[1];
    EXPECT_EQ(entryNamed(ppsRecord, "num_tile_columns_minus1")->value, 2);
    EXPECT_EQ(entryNamed(ppsRecord, "column_width_minus1[0]")->value, 9);
    EXPECT_EQ(entryNamed(ppsRecord, "column_width_minus1[1]")->value, 6);
    EXPECT_EQ(entryNamed(ppsRecord, "column_width_minus1[2]"), nullptr);
    EXPECT_EQ(entryNamed(ppsRecord, "row_height_minus1[0]")->value, 3);
    EXPECT_EQ(entryNamed(ppsRecord, "row_height_minus1[1]"), nullptr);
    EXPECT_EQ(entryNamed(ppsRecord, "pps_beta_offset_div2")->value, -2);
    EXPECT_EQ(entryNamed(ppsRecord, "pps_tc_offset_div2")->value, 3);
    EXPECT_EQ(entryNamed(ppsRecord, "diff_cu_qp_delta_depth"), nullptr);
    EXPECT_EQ(entryNamed(ppsRecord, "pps_extension_4bits"), nullptr);
    EXPECT_EQ(ppsRecord.numTileColumns, 3);
}

TEST(StreamAnalysisBuilder, VpsLayerSetsJoinTheirVps)
{
    StreamScript script;
    EventBytes vps = testing::parameterSetEvent(VEXILO_OBSERVER_EVENT_VPS, 0);
    vps.put<std::uint32_t>(232, 2).put<std::uint32_t>(236, 4);
    script.add(testing::nalUnitEvent(100, 0, 32))
        .add(vps)
        .add(testing::vpsLayerSetEvent(0, 1, 2, 0b111))
        .add(testing::vpsLayerSetEvent(0, 2, 2, 0b1000))
        .picture(1);
    const StreamAnalysisBuildResult result = script.build();
    const analysis::StreamAnalysis& document = documentOf(result);
    expectValid(document);
    ASSERT_EQ(document.parameterSets.size(), 1u);
    ASSERT_EQ(document.parameterSets[0].vpsLayerSets.size(), 1u);
    EXPECT_EQ(document.parameterSets[0].vpsLayerSets[0].layerSetId, 1);
    EXPECT_TRUE(hasIssue(document, "analyzer.vps_layer_set_dropped"));
}

}  // namespace
}  // namespace vexilo::analyzer
