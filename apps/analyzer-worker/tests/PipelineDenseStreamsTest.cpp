// Streams at the worst block density, at 1080p, 4K and the largest picture H.265 allows,
// through the worker program: "picture_structure" keeps every block of the picture asked
// for, and every picture keeps its summary.
#include "PipelineTestSupport.h"
#include "WorkerAnalysisRun.h"

#include "oracle/De265Oracle.h"
#include "oracle/DocumentRendering.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vexilo::analyzer {
namespace {

namespace oracle = hevc::oracle;
using testing::ScratchDirectory;

// The worker under the sanitizers takes minutes over the largest pictures.
constexpr int kDenseAnalysisTimeoutMs = 900000;
constexpr qint64 kMiddlePicture = 2;
constexpr std::uint32_t kCtbSize = 32;

struct DenseCase {
    const char* name;
    const char* file;
    std::uint32_t width;
    std::uint32_t height;
    // libde265's seven bitmaps of the largest pictures would take gigabytes.
    bool compareWithLibde265;
};

void PrintTo(const DenseCase& c, std::ostream* os) { *os << c.name; }

std::optional<analysis::StreamAnalysis> cachedPictureDocument(const std::filesystem::path& cacheRoot,
                                                              std::uint64_t pictureId)
{
    std::optional<analysis::StreamAnalysis> found;
    testing::forEachCachedPicture(cacheRoot, [&](const analysis::StreamAnalysis& document) {
        if (document.pictures.size() == 1 && document.pictures.front().pictureId == pictureId) {
            found = document;
        }
    });
    return found;
}

// Every luma sample of the picture lies in exactly one leaf CU; the first sample that does
// not, as text, or empty.
std::string leafCodingBlockTiling(const analysis::StreamAnalysis& document, std::uint32_t width,
                                  std::uint32_t height)
{
    std::vector<std::uint8_t> cover(std::size_t{width} * height, 0);
    for (const analysis::CuInfo& cu : document.cus) {
        if (cu.split.value_or(false)) {
            continue;
        }
        const analysis::BlockRect& b = cu.bounds;
        if (b.x < 0 || b.y < 0 || b.x + std::int64_t{b.width} > width || b.y + std::int64_t{b.height} > height) {
            return "leaf CU outside the picture at " + std::to_string(b.x) + "," + std::to_string(b.y);
        }
        for (std::uint32_t y = 0; y < b.height; ++y) {
            for (std::uint32_t x = 0; x < b.width; ++x) {
                ++cover[(static_cast<std::size_t>(b.y) + y) * width + static_cast<std::size_t>(b.x) + x];
            }
        }
    }
    for (std::size_t i = 0; i < cover.size(); ++i) {
        if (cover[i] != 1) {
            return "sample " + std::to_string(i % width) + "," + std::to_string(i / width) + " lies in " +
                   std::to_string(cover[i]) + " leaf CUs";
        }
    }
    return {};
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void expectLibde265Agrees(const std::filesystem::path& input, const analysis::StreamAnalysis& picture)
{
    const oracle::OracleRun libde265 = oracle::renderWithDe265(readBytes(input));
    ASSERT_TRUE(libde265.error.empty()) << libde265.error;
    const auto outputIndex = static_cast<std::size_t>(picture.pictures.front().displayIndex.value_or(-1));
    ASSERT_LT(outputIndex, libde265.pictures.size());
    std::vector<oracle::PictureBitmaps> expected{libde265.pictures[outputIndex]};
    std::vector<oracle::PictureBitmaps> ours = oracle::renderDocument(picture);
    oracle::clearIntraModesOverPcmBlocks(expected, ours, picture);
    const auto mismatch = oracle::firstMismatch(expected, ours);
    EXPECT_FALSE(mismatch) << oracle::describe(*mismatch);
}

class PipelineDenseStreams : public ::testing::TestWithParam<DenseCase> {};

TEST_P(PipelineDenseStreams, PictureStructureKeepsEveryBlockOfTheMiddlePicture)
{
    const DenseCase& c = GetParam();
    ScratchDirectory scratch;
    ScratchDirectory inputs;
    const std::filesystem::path input = testing::asHevcFile(testing::testMedia(c.file), inputs);
    testing::WorkerRunOptions options;
    options.targetDecodePictureId = kMiddlePicture;
    options.timeoutMs = kDenseAnalysisTimeoutMs;
    const testing::WorkerTask task = testing::analyzeThroughWorker(input, scratch.path(), "picture_structure", options);
    ASSERT_EQ(task.end.value("type").toString().toStdString(), "analysisFinished") << testing::textOf(task.end);
    EXPECT_EQ(task.end.value("payload").toObject().value("picturesWithBlocks").toInteger(), 1);

    const auto stream = testing::readCachedStream(scratch.path());
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(stream)) << std::get<std::string>(stream);
    const auto& document = std::get<analysis::StreamAnalysis>(stream);
    EXPECT_EQ(document.pictures.size(), 3u) << "every picture keeps its summary";
    for (const analysis::AnalysisErrorInfo& error : document.errors) {
        ADD_FAILURE() << error.code << ": " << error.detail;
    }

    const std::optional<analysis::StreamAnalysis> picture = cachedPictureDocument(scratch.path(), kMiddlePicture);
    ASSERT_TRUE(picture);
    const std::uint64_t ctbs = std::uint64_t{(c.width + kCtbSize - 1) / kCtbSize} * ((c.height + kCtbSize - 1) / kCtbSize);
    EXPECT_EQ(picture->ctus.size(), ctbs);
    EXPECT_EQ(leafCodingBlockTiling(*picture, c.width, c.height), "");
    EXPECT_GT(picture->pus.size(), picture->cus.size() / 2);
    EXPECT_GT(picture->tus.size(), picture->cus.size() / 2);
    const analysis::PictureAnalysisSummary& summary = picture->pictures.front();
    EXPECT_EQ(summary.completeness, analysis::PictureCompleteness::Complete);
    EXPECT_EQ(summary.cuCount, picture->cus.size());
    EXPECT_EQ(summary.tuCount, picture->tus.size());
    if (c.compareWithLibde265) {
        expectLibde265Agrees(input, *picture);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, PipelineDenseStreams,
                         ::testing::Values(DenseCase{"Hd", "dense_1920x1080.hevc", 1920, 1080, true},
                                           DenseCase{"Uhd", "dense_3840x2160.hevc", 3840, 2160, true},
                                           DenseCase{"Largest", "dense_8192x4320.hevc", 8192, 4320, false}),
                         [](const ::testing::TestParamInfo<DenseCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace vexilo::analyzer
