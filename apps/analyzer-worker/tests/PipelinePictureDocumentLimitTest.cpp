// A picture whose document would not fit the cache's payload limit is written without its
// coding blocks, marked partial and named by an issue, never refused as a whole. The limit
// is lowered for the worker so that a small real stream reaches that path.
#include "PipelineTestSupport.h"
#include "WorkerAnalysisRun.h"

#include "vexilo/analysis/AnalysisCodec.h"
#include "vexilo/analysis/cache/CacheWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

namespace vexilo::analyzer {
namespace {

using testing::ScratchDirectory;

constexpr qint64 kTargetPicture = 2;

std::optional<analysis::StreamAnalysis> cachedPicture(const std::filesystem::path& cacheRoot, std::uint64_t pictureId)
{
    std::optional<analysis::StreamAnalysis> found;
    testing::forEachCachedPicture(cacheRoot, [&](const analysis::StreamAnalysis& document) {
        if (document.pictures.size() == 1 && document.pictures.front().pictureId == pictureId) {
            found = document;
        }
    });
    return found;
}

std::uint64_t serializedSize(const analysis::StreamAnalysis& document)
{
    const auto bytes = analysis::serializeStreamAnalysis(document);
    EXPECT_TRUE(std::holds_alternative<std::vector<std::uint8_t>>(bytes));
    return std::holds_alternative<std::vector<std::uint8_t>>(bytes)
               ? std::get<std::vector<std::uint8_t>>(bytes).size()
               : 0;
}

analysis::StreamAnalysis withoutBlocks(analysis::StreamAnalysis document)
{
    analysis::clearBlockStructure(document);
    return document;
}

TEST(PipelinePictureDocumentLimit, APictureTooLargeForItsDocumentKeepsItsSummaryWithoutBlocks)
{
    ScratchDirectory inputs;
    const std::filesystem::path input = testing::asHevcFile(testing::testMedia("main_420_8bit_gop8.hevc"), inputs);
    testing::WorkerRunOptions options;
    options.targetDecodePictureId = kTargetPicture;

    // An unrestricted run shows how large the target's document is with and without blocks.
    ScratchDirectory full;
    ASSERT_EQ(testing::analyzeThroughWorker(input, full.path(), "picture_structure", options)
                  .end.value("type").toString().toStdString(),
              "analysisFinished");
    const std::optional<analysis::StreamAnalysis> structured = cachedPicture(full.path(), kTargetPicture);
    ASSERT_TRUE(structured);
    ASSERT_FALSE(structured->cus.empty());
    const std::uint64_t withBlocks = serializedSize(*structured);
    std::uint64_t largestBare = 0;
    testing::forEachCachedPicture(full.path(), [&](const analysis::StreamAnalysis& document) {
        largestBare = std::max(largestBare, serializedSize(withoutBlocks(document)));
    });
    ASSERT_LT(largestBare, withBlocks);
    const std::uint64_t limit = (largestBare + withBlocks) / 2;

    ScratchDirectory limited;
    options.pictureDocumentLimit = QString::number(limit);
    const testing::WorkerTask task = testing::analyzeThroughWorker(input, limited.path(), "picture_structure", options);
    ASSERT_EQ(task.end.value("type").toString().toStdString(), "analysisFinished") << testing::textOf(task.end);
    EXPECT_EQ(task.end.value("payload").toObject().value("picturesWithBlocks").toInteger(), 0);
    EXPECT_EQ(testing::countOf(task, "cuCount"), 0);

    const std::optional<analysis::StreamAnalysis> picture = cachedPicture(limited.path(), kTargetPicture);
    ASSERT_TRUE(picture) << "the reader accepts the picture document";
    EXPECT_TRUE(picture->ctus.empty());
    EXPECT_TRUE(picture->cus.empty());
    EXPECT_TRUE(picture->tus.empty());
    EXPECT_EQ(picture->slices, structured->slices);
    EXPECT_EQ(picture->nalUnits, structured->nalUnits);
    const analysis::PictureAnalysisSummary& summary = picture->pictures.front();
    EXPECT_EQ(summary.completeness, analysis::PictureCompleteness::Partial);
    EXPECT_FALSE(summary.cuCount.has_value());

    ASSERT_FALSE(picture->errors.empty());
    const analysis::AnalysisErrorInfo& issue = picture->errors.back();
    EXPECT_EQ(issue.code, "analyzer.picture_blocks_omitted");
    EXPECT_EQ(issue.relatedObjectId, summary.id);
    const std::string& detail = issue.detail;
    EXPECT_NE(detail.find("pictureId=" + std::to_string(kTargetPicture) + ";"), std::string::npos) << detail;
    EXPECT_NE(detail.find("cus=" + std::to_string(structured->cus.size()) + ";"), std::string::npos) << detail;
    EXPECT_NE(detail.find("payloadBytes=" + std::to_string(withBlocks) + ";"), std::string::npos) << detail;
    EXPECT_NE(detail.find("limitBytes=" + std::to_string(limit)), std::string::npos) << detail;

    const auto stream = testing::readCachedStream(limited.path());
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(stream)) << std::get<std::string>(stream);
    const auto& pictures = std::get<analysis::StreamAnalysis>(stream).pictures;
    EXPECT_EQ(pictures.size(), std::get<analysis::StreamAnalysis>(testing::readCachedStream(full.path())).pictures.size());
    for (const analysis::PictureAnalysisSummary& each : pictures) {
        if (each.id == summary.id) {
            EXPECT_EQ(each, summary) << "the stream-level summary says the same";
        }
    }
}

}  // namespace
}  // namespace vexilo::analyzer
