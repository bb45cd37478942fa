// The blocks of the documents the pipeline writes, read back from the cache and rendered
// as libde265 draws its own, equal libde265's drawing picture by picture: the check that
// the observer's events reach the document unchanged (the observer's own tests compare
// its events the same way on every stream).
#include "PipelineTestSupport.h"
#include "pipeline/AnalysisPipeline.h"

#include "oracle/De265Oracle.h"
#include "oracle/DocumentRendering.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace vexilo::analyzer {
namespace {

namespace oracle = hevc::oracle;
using testing::ScratchDirectory;

template <typename Records>
void append(Records& into, const Records& from)
{
    into.insert(into.end(), from.begin(), from.end());
}

// Every cached picture document, as one document of the pictures and their blocks.
analysis::StreamAnalysis cachedBlocks(const std::filesystem::path& cacheRoot)
{
    analysis::StreamAnalysis blocks;
    testing::forEachCachedPicture(cacheRoot, [&](const analysis::StreamAnalysis& document) {
        append(blocks.pictures, document.pictures);
        append(blocks.ctus, document.ctus);
        append(blocks.cus, document.cus);
        append(blocks.pus, document.pus);
        append(blocks.tus, document.tus);
        append(blocks.motionVectors, document.motionVectors);
    });
    return blocks;
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct StreamCase {
    const char* name;
    std::filesystem::path input;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class PipelineBlocksMatchLibde265 : public ::testing::TestWithParam<StreamCase> {};

TEST_P(PipelineBlocksMatchLibde265, CachedPicturesRenderAsLibde265DrawsThem)
{
    ScratchDirectory scratch;
    CancelRequest cancel;
    const AnalyzerRunResult result =
        analyzeHevcToMetadata(GetParam().input, scratch.path(), cancel, AnalysisMode::BoundedStructure, 0, {});
    ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
    const analysis::StreamAnalysis document = cachedBlocks(scratch.path());
    ASSERT_FALSE(document.cus.empty());

    oracle::OracleRun libde265 = oracle::renderWithDe265(readBytes(GetParam().input));
    ASSERT_TRUE(libde265.error.empty()) << libde265.error;
    auto ours = oracle::renderDocument(document);
    oracle::clearIntraModesOverPcmBlocks(libde265.pictures, ours, document);
    const auto mismatch = oracle::firstMismatch(libde265.pictures, ours);
    EXPECT_FALSE(mismatch) << oracle::describe(*mismatch);
}

// Random access with B pictures, tiles, PCM, AMP with TMVP off, a conformance window, 4:4:4
// at 12 bits, and x265's GOP of 8 and 4:2:2 at 12 bits.
INSTANTIATE_TEST_SUITE_P(
    Streams, PipelineBlocksMatchLibde265,
    ::testing::Values(StreamCase{"HmRandomAccess", testing::referenceStreams() / "s01_ra_gop8_cra_rasl_vui.bit"},
                      StreamCase{"HmTiles", testing::referenceStreams() / "s05_ldb_tiles_nonuniform_no_lf_across.bit"},
                      StreamCase{"HmPcm", testing::referenceStreams() / "s12_ai_pcm_loop_filter_disabled.bit"},
                      StreamCase{"HmAmp", testing::referenceStreams() / "s20_ldb_amp_tmvp_off.bit"},
                      StreamCase{"HmConformanceWindow",
                                 testing::referenceStreams() / "s26_ldp_ctu32_mincu16_confwin_checksum.bit"},
                      StreamCase{"Hm444", testing::referenceStreams() / "s30_444_12_intra_rext.bit"},
                      StreamCase{"X265Gop8", testing::testMedia("main_420_8bit_gop8.hevc")},
                      StreamCase{"X265422", testing::testMedia("observer_422_12bit.hevc")}),
    [](const ::testing::TestParamInfo<StreamCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace vexilo::analyzer
