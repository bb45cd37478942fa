// One picture's structure analysed on demand over a cache whose pass kept no blocks: the real
// worker takes the stream up at the random-access picture the service names, and the picture
// gets the blocks, identities, POC and display index that a pass over the whole stream gives it.

#include "AnalyzedStreamFixture.h"
#include "TaskServiceRecorder.h"

#include "vexilo/application/AnalysisCacheLocation.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>

namespace vexilo::application {
namespace {

using test::TaskServiceRecorder;

constexpr const char* kBlockBudgetVariable = "VEXILO_ANALYZER_TEST_BLOCK_BUDGET_BYTES";

std::vector<analysis::StableId> idsOf(const std::vector<analysis::SliceInfo>& slices)
{
    std::vector<analysis::StableId> ids;
    std::transform(slices.begin(), slices.end(), std::back_inserter(ids),
                   [](const analysis::SliceInfo& slice) { return slice.id; });
    return ids;
}

// The whole pass's document of the picture shown at `displayIndex`.
const analysis::StreamAnalysis* referenceOf(const vexilo::test::AnalyzedStream& whole, std::int64_t displayIndex)
{
    for (const auto& picture : whole.pictures) {
        if (picture->pictures.size() == 1 && picture->pictures.front().displayIndex == displayIndex) {
            return picture.get();
        }
    }
    return nullptr;
}

class StructureClips : public testing::TestWithParam<const char*> {};

TEST_P(StructureClips, APicturesBlocksFromItsRandomAccessPictureAreThoseOfTheWholePass)
{
    const std::filesystem::path clip = std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / GetParam();
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    auto analysed = vexilo::test::analyzeWithWorker(clip, pathFromQString(root.path()) / "whole", "bounded_structure");
    ASSERT_TRUE(std::holds_alternative<vexilo::test::AnalyzedStream>(analysed)) << std::get<std::string>(analysed);
    const auto& whole = std::get<vexilo::test::AnalyzedStream>(analysed);

    AnalysisTaskServiceOptions options;
    options.worker.workerProgram = QStringLiteral(VEXILO_WORKER_EXECUTABLE);
    options.cacheRoot = pathFromQString(root.path()) / "cache-root";
    AnalysisTaskService service(nullptr, options);
    TaskServiceRecorder recorder(service);
    // A pass that keeps no picture's blocks.
    qputenv(kBlockBudgetVariable, "1");
    service.startAnalysis(pathToQString(clip), false);
    const bool finished = TaskServiceRecorder::waitFor([&] { return recorder.has("analysisFinished"); });
    qunsetenv(kBlockBudgetVariable);
    ASSERT_TRUE(finished) << recorder.firstErrorText().toStdString();
    service.setDecodedPictures(recorder.frames);
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return recorder.has("analysisIndexReady"); }));
    const std::uint64_t packetsOfTheStream = service.lastRunPacketCounts().sent;
    ASSERT_NE(service.randomAccessIndex(), nullptr);

    // The last picture, and one in the middle: both in groups of pictures after the first.
    const auto last = static_cast<std::int64_t>(recorder.frames.size()) - 1;
    for (const std::int64_t displayIndex : {last, last / 2 + 1}) {
        const domain::PictureId picture = displayIndex;
        const std::size_t streamsBefore = recorder.streams.size();
        service.analyzePictureStructure(picture);
        ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return recorder.streams.size() > streamsBefore; }))
            << recorder.firstErrorText().toStdString();
        EXPECT_LT(service.lastRunPacketCounts().sent, packetsOfTheStream / 2 + 2)
            << "picture " << displayIndex << ": the run began at its random-access picture";

        recorder.payloads.clear();
        service.loadPictureAnalysis(picture);
        ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return !recorder.payloads.empty(); }));
        const analysis::StreamAnalysis& shown = *recorder.payloads.back().analysis;
        const analysis::StreamAnalysis* expected = referenceOf(whole, displayIndex);
        ASSERT_NE(expected, nullptr);
        ASSERT_FALSE(shown.ctus.empty()) << "picture " << displayIndex;
        ASSERT_EQ(shown.pictures.size(), 1U);
        EXPECT_EQ(shown.pictures.front().id, expected->pictures.front().id) << "picture " << displayIndex;
        EXPECT_EQ(shown.pictures.front().poc, expected->pictures.front().poc) << "picture " << displayIndex;
        EXPECT_EQ(shown.pictures.front().displayIndex, displayIndex);
        EXPECT_EQ(idsOf(shown.slices), idsOf(expected->slices)) << "picture " << displayIndex;
        EXPECT_EQ(shown.ctus, expected->ctus) << "picture " << displayIndex;
        EXPECT_EQ(shown.cus, expected->cus) << "picture " << displayIndex;
        EXPECT_EQ(shown.pus, expected->pus) << "picture " << displayIndex;
        EXPECT_EQ(shown.tus, expected->tus) << "picture " << displayIndex;
        EXPECT_EQ(shown.motionVectors, expected->motionVectors) << "picture " << displayIndex;
    }
    service.shutdown();
}

INSTANTIATE_TEST_SUITE_P(PictureStructureFromRandomAccess, StructureClips,
                         testing::Values("main_420_8bit_gop8.hevc", "observer_open_gop_pyramid.hevc",
                                         "main_420_8bit_gop8.mp4"));

}  // namespace
}  // namespace vexilo::application
