// What the syntax observer says about a stream reaches its document: a structure set out of
// its range by one changed element becomes an error naming that element, its bit and its
// NAL unit, and a value that decoders tolerate becomes a warning while the analysis goes on
// to the last picture.
#include "PipelineTestSupport.h"
#include "pipeline/AnalysisPipeline.h"

#include "stream_patch.h"
#include "stream_walker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <vector>

namespace vexilo::analyzer {
namespace {

namespace syntax = hevc::test;

constexpr char kTolerated[] = "analyzer.syntax_value_tolerated";
constexpr char kRejected[] = "analyzer.syntax_structure_rejected";

struct Analysis {
    AnalyzerRunResult result;
    analysis::StreamAnalysis document;
};

// Analyses `stream` and expects the analysis to reach every picture FFmpeg decodes of it.
Analysis analyzeToTheLastPicture(const testing::ScratchDirectory& scratch, const std::vector<std::uint8_t>& stream,
                                 AnalysisMode mode)
{
    const std::filesystem::path input = scratch / "patched.hevc";
    std::ofstream(input, std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    CancelRequest cancel;
    Analysis analysis;
    analysis.result = analyzeHevcToMetadata(input, scratch / "cache", cancel, mode, 0,
                                            [](domain::PictureInfo, domain::VideoFrame) { return true; });
    EXPECT_TRUE(analysis.result.succeeded) << analysis.result.code << " " << analysis.result.detail;
    auto cached = testing::readCachedStream(scratch / "cache");
    if (auto* document = std::get_if<analysis::StreamAnalysis>(&cached)) {
        analysis.document = std::move(*document);
    } else {
        ADD_FAILURE() << std::get<std::string>(cached);
    }
    const auto decodedFrames = testing::ffmpegOutputPts(input);
    EXPECT_TRUE(decodedFrames.has_value());
    if (decodedFrames) {
        EXPECT_EQ(testing::outputPictures(analysis.document).size(), decodedFrames->size());
    }
    return analysis;
}

std::vector<const analysis::AnalysisErrorInfo*> errorsWithCode(const analysis::StreamAnalysis& document,
                                                               std::string_view code)
{
    std::vector<const analysis::AnalysisErrorInfo*> found;
    for (const analysis::AnalysisErrorInfo& error : document.errors) {
        if (error.code == code) {
            found.push_back(&error);
        }
    }
    return found;
}

// Every error record in one line, for the message of a failed expectation.
std::string errorList(const analysis::StreamAnalysis& document)
{
    std::string list;
    for (const analysis::AnalysisErrorInfo& error : document.errors) {
        list += error.code + " (" + error.message + "; " + error.detail + ")\n";
    }
    return list;
}

// The NAL unit whose byte offset the error's detail names.
const analysis::NalUnitInfo* nalUnitOf(const analysis::StreamAnalysis& document, const analysis::AnalysisErrorInfo& error)
{
    constexpr std::string_view kByteOffset = "; byteOffset=";
    const std::size_t at = error.detail.find(kByteOffset);
    if (at == std::string::npos) {
        return nullptr;
    }
    const std::uint64_t offset = std::stoull(error.detail.substr(at + kByteOffset.size()));
    for (const analysis::NalUnitInfo& nal : document.nalUnits) {
        if (nal.byteSpanReliable && nal.byteOffset == offset) {
            return &nal;
        }
    }
    return nullptr;
}

TEST(PipelineSyntaxDiagnostics, ReorderAboveTheDpbIsAnalysedToTheEndWithAWarning)
{
    const auto stream = syntax::readFile(testing::testMedia("main_420_8bit_gop8.hevc"));
    syntax::SpsReorderField field;
    const auto patched = syntax::withReorderAboveTheDpb(stream, field);
    testing::ScratchDirectory scratch;
    const Analysis analysis = analyzeToTheLastPicture(scratch, patched, AnalysisMode::StreamIndex);
    EXPECT_TRUE(errorsWithCode(analysis.document, kRejected).empty());

    const auto warnings = errorsWithCode(analysis.document, kTolerated);
    ASSERT_EQ(warnings.size(), 1U) << errorList(analysis.document);
    EXPECT_EQ(warnings[0]->severity, 1);
    const std::uint64_t bit = syntax::nalBitOf(patched, *syntax::firstNalUnitOfType(patched, hevc::SPS_NUT),
                                               field.bitPosition);
    EXPECT_NE(warnings[0]->detail.find("element=sps_max_num_reorder_pics; bitPosition=" + std::to_string(bit)),
              std::string::npos)
        << warnings[0]->detail;
    const analysis::NalUnitInfo* sps = nalUnitOf(analysis.document, *warnings[0]);
    ASSERT_NE(sps, nullptr);
    EXPECT_EQ(sps->nalUnitType, 33);
}

TEST(PipelineSyntaxDiagnostics, AnOutOfRangeElementBecomesAnErrorOfItsNalUnit)
{
    // A second PPS behind the stream's own says it is PPS 64: it is refused, and the
    // pictures that use the first one decode as before.
    const auto stream = syntax::readFile(testing::referenceStreams() / "s04_ldp_tiles_uniform_lf_across.bit");
    const auto pps = syntax::firstNalUnitOfType(stream, hevc::PPS_NUT);
    ASSERT_TRUE(pps.has_value());
    hevc::NalUnitSpan refused;
    const auto damaged =
        syntax::withCopyAfter(stream, *pps, syntax::withUe(syntax::rbspOf(stream, *pps), 0, 64), refused);
    testing::ScratchDirectory scratch;
    const Analysis analysis = analyzeToTheLastPicture(scratch, damaged, AnalysisMode::BoundedStructure);

    const auto errors = errorsWithCode(analysis.document, kRejected);
    ASSERT_EQ(errors.size(), 1U) << errorList(analysis.document);
    const analysis::AnalysisErrorInfo& error = *errors.front();
    EXPECT_EQ(error.severity, 3);
    EXPECT_TRUE(error.errorFlag);
    EXPECT_NE(error.message.find("pps_pic_parameter_set_id"), std::string::npos) << error.message;
    EXPECT_NE(error.detail.find("element=pps_pic_parameter_set_id; bitPosition=16"), std::string::npos)
        << error.detail;
    const analysis::NalUnitInfo* nal = nalUnitOf(analysis.document, error);
    ASSERT_NE(nal, nullptr);
    EXPECT_EQ(nal->nalUnitType, 34);
    EXPECT_EQ(nal->byteOffset, refused.offset);
}

}  // namespace
}  // namespace vexilo::analyzer
