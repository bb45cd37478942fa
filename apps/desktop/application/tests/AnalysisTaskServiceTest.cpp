// The task service driving the real worker over generated streams, reading back the cache it
// wrote, and the service's own refusals.

#include "TaskServiceRecorder.h"
#include "vexilo/application/AnalysisCacheLocation.h"

#include <gtest/gtest.h>

#include <QStandardPaths>
#include <QTemporaryDir>

#include <fstream>
#include <map>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace vexilo::application {
namespace {

using test::TaskServiceRecorder;
using Status = PictureAnalysisStatus;

QString testMedia(const char* name)
{
    return QStringLiteral(VEXILO_TEST_MEDIA_DIR "/") + QLatin1String(name);
}

AnalysisTaskServiceOptions serviceOptions(const QTemporaryDir& root)
{
    AnalysisTaskServiceOptions options;
    options.worker.workerProgram = QStringLiteral(VEXILO_WORKER_EXECUTABLE);
    options.cacheRoot = pathFromQString(root.path()) / "cache-root";
    return options;
}

std::vector<domain::PictureInfo> sortedByDisplay(std::vector<domain::PictureInfo> pictures)
{
    std::sort(pictures.begin(), pictures.end(),
              [](const auto& left, const auto& right) { return left.displayIndex < right.displayIndex; });
    return pictures;
}

bool analyseToIndex(AnalysisTaskService& service, TaskServiceRecorder& recorder, const QString& source)
{
    service.startAnalysis(source, false);
    if (!TaskServiceRecorder::waitFor([&] { return recorder.has("analysisFinished") || !recorder.errors.empty(); })) {
        return false;
    }
    // The controller hands the service the decoded pictures before the index arrives.
    service.setDecodedPictures(recorder.frames);
    return TaskServiceRecorder::waitFor([&] { return recorder.has("analysisIndexReady") || !recorder.errors.empty(); }) &&
           recorder.errors.empty();
}

class AnalysisTaskServiceTest : public ::testing::Test {
protected:
    QTemporaryDir root_;
};

TEST_F(AnalysisTaskServiceTest, AnalysesABPyramidStreamAndRewritesEveryReferenceToOutputPictures)
{
    AnalysisTaskService service(nullptr, serviceOptions(root_));
    TaskServiceRecorder recorder(service);
    const QString source = testMedia("bpyramid_420_8bit.mp4");
    ASSERT_TRUE(analyseToIndex(service, recorder, source)) << recorder.firstErrorText().toStdString();
    EXPECT_EQ(service.cacheDirectory(), analysisCacheDirectory(pathFromQString(root_.path()) / "cache-root", source));
    ASSERT_FALSE(recorder.frames.empty());

    const std::vector<domain::PictureInfo> pictures = sortedByDisplay(recorder.frames);
    for (const domain::PictureInfo& picture : pictures) {
        EXPECT_EQ(service.pictureAnalysisStatus(picture.id), Status::IndexReady) << picture.id;
    }
    service.preloadPictureAnalyses(pictures.back().id);
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return recorder.payloads.size() == pictures.size(); }))
        << recorder.payloads.size() << " of " << pictures.size() << "; " << recorder.firstErrorText().toStdString();
    EXPECT_EQ(recorder.payloads.front().pictureId, pictures.back().id) << "the asked-for picture loads first";

    const std::vector<QString> expectedOrder{"analysisStarted", "analysisFinished", "streamAnalysisLoaded",
                                             "analysisIndexReady", "pictureAnalysisLoaded"};
    EXPECT_EQ(recorder.distinctOrder(), expectedOrder);
    const std::uint64_t generation = service.generation();
    for (const qulonglong each : recorder.generations) {
        EXPECT_EQ(each, generation);
    }

    // Each payload names its own picture by the project's id; every reference and DPB entry
    // names the output picture whose POC it carries.
    std::map<std::uint64_t, std::int32_t> pocOfPicture;
    bool ordersDiffer = false;
    for (const PictureAnalysisPayload& payload : recorder.payloads) {
        ASSERT_EQ(payload.analysis->pictures.size(), 1U);
        const auto& summary = payload.analysis->pictures.front();
        EXPECT_EQ(summary.pictureId, std::optional(static_cast<std::uint64_t>(payload.pictureId)));
        ASSERT_TRUE(summary.poc.has_value());
        pocOfPicture[static_cast<std::uint64_t>(payload.pictureId)] = *summary.poc;
        ordersDiffer = ordersDiffer || summary.decodeIndex != summary.displayIndex;
        for (const auto& slice : payload.analysis->slices) {
            EXPECT_EQ(slice.pictureId, summary.pictureId);
        }
        EXPECT_EQ(service.pictureAnalysisStatus(payload.pictureId), Status::IndexReady);
    }
    EXPECT_TRUE(ordersDiffer) << "the stream must reorder for this test to mean anything";
    std::size_t checkedReferences = 0;
    for (const PictureAnalysisPayload& payload : recorder.payloads) {
        for (const auto& reference : payload.analysis->referencePictures) {
            ASSERT_TRUE(reference.targetPictureId.has_value()) << "every reference of a whole stream maps";
            ASSERT_TRUE(pocOfPicture.contains(*reference.targetPictureId));
            EXPECT_EQ(pocOfPicture[*reference.targetPictureId], reference.poc) << "picture " << payload.pictureId;
            ++checkedReferences;
        }
        for (const auto& entry : payload.analysis->dpbSnapshotEntries) {
            if (entry.pictureId) {
                ASSERT_TRUE(pocOfPicture.contains(*entry.pictureId));
                EXPECT_EQ(pocOfPicture[*entry.pictureId], entry.poc);
            }
        }
    }
    EXPECT_GT(checkedReferences, pictures.size()) << "B pictures reference two pictures";
    service.shutdown();
}

// Only the asked-for picture of a preload, and every picture asked for on its own, carries the
// stream's records the views show; the rest carry their own records, as complete as ever.
TEST_F(AnalysisTaskServiceTest, PreloadCompletesOnlyTheAskedForPictureAndALoadCompletesAny)
{
    AnalysisTaskService service(nullptr, serviceOptions(root_));
    TaskServiceRecorder recorder(service);
    ASSERT_TRUE(analyseToIndex(service, recorder, testMedia("main_420_8bit_gop8.hevc")))
        << recorder.firstErrorText().toStdString();
    const std::vector<domain::PictureInfo> pictures = sortedByDisplay(recorder.frames);
    const domain::PictureId asked = pictures[3].id;
    service.preloadPictureAnalyses(asked);
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return recorder.payloads.size() == pictures.size(); }))
        << recorder.firstErrorText().toStdString();
    std::map<domain::PictureId, StreamAnalysisPtr> preloaded;
    for (const PictureAnalysisPayload& payload : recorder.payloads) {
        const bool complete = payload.pictureId == asked;
        EXPECT_EQ(payload.extent, complete ? analysis::PayloadExtent::Complete : analysis::PayloadExtent::PictureRecords)
            << payload.pictureId;
        EXPECT_EQ(payload.analysis->parameterSets.empty(), !complete) << payload.pictureId;
        EXPECT_FALSE(payload.analysis->slices.empty()) << payload.pictureId;
        preloaded[payload.pictureId] = payload.analysis;
    }

    const domain::PictureId later = pictures[5].id;
    recorder.payloads.clear();
    service.loadPictureAnalysis(later);
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return !recorder.payloads.empty(); }));
    const PictureAnalysisPayload& loaded = recorder.payloads.front();
    EXPECT_EQ(loaded.extent, analysis::PayloadExtent::Complete);
    EXPECT_EQ(loaded.analysis->parameterSets, preloaded.at(asked)->parameterSets);
    EXPECT_EQ(loaded.analysis->slices, preloaded.at(later)->slices);
    EXPECT_EQ(loaded.analysis->pictures, preloaded.at(later)->pictures);
    EXPECT_EQ(loaded.analysis->errors, preloaded.at(later)->errors);
    service.shutdown();
}

TEST_F(AnalysisTaskServiceTest, ReanalyzeEmptiesTheCacheDirectoryAndAPlainAnalyzeKeepsIt)
{
    AnalysisTaskService service(nullptr, serviceOptions(root_));
    TaskServiceRecorder recorder(service);
    const QString source = testMedia("main_420_8bit_gop8.hevc");
    ASSERT_TRUE(analyseToIndex(service, recorder, source)) << recorder.firstErrorText().toStdString();
    const auto marker = service.cacheDirectory() / "left-over";
    std::ofstream(marker) << "x";
    const std::uint64_t before = service.generation();

    service.startAnalysis(source, false);
    EXPECT_TRUE(std::filesystem::exists(marker));
    EXPECT_EQ(service.generation(), before + 1);
    EXPECT_TRUE(service.isBusy());
    service.startAnalysis(source, true);
    EXPECT_TRUE(std::filesystem::exists(marker)) << "a start while busy does nothing";
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return !service.isBusy(); }));

    service.startAnalysis(source, true);
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_TRUE(std::filesystem::is_directory(service.cacheDirectory()));
    service.shutdown();
}

TEST_F(AnalysisTaskServiceTest, ClearCacheWithoutASourceReportsAtOnceWithANewGeneration)
{
    AnalysisTaskService service(nullptr, serviceOptions(root_));
    TaskServiceRecorder recorder(service);
    const std::uint64_t before = service.generation();
    service.clearCache();
    ASSERT_EQ(recorder.generations.size(), 1U);
    EXPECT_TRUE(recorder.has("cacheCleared"));
    EXPECT_EQ(recorder.generations.front(), before + 1);
}

TEST_F(AnalysisTaskServiceTest, ClearCacheRemovesTheSourcesDirectoryAndForgetsItsPictures)
{
    AnalysisTaskService service(nullptr, serviceOptions(root_));
    TaskServiceRecorder recorder(service);
    ASSERT_TRUE(analyseToIndex(service, recorder, testMedia("main_420_8bit_gop8.hevc")))
        << recorder.firstErrorText().toStdString();
    const domain::PictureId first = recorder.frames.front().id;
    service.preloadPictureAnalyses();
    service.clearCache();
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return recorder.has("cacheCleared"); }));
    EXPECT_FALSE(std::filesystem::exists(service.cacheDirectory()));
    EXPECT_EQ(service.pictureAnalysisStatus(first), Status::None);
    QTest::qWait(200);
    EXPECT_TRUE(recorder.payloads.empty()) << "loads started before the clear are dropped";
    service.shutdown();
}

TEST_F(AnalysisTaskServiceTest, PictureRequestsWithoutAnIndexAreRefused)
{
    AnalysisTaskService service(nullptr, serviceOptions(root_));
    TaskServiceRecorder recorder(service);
    service.analyzePictureStructure(5);
    EXPECT_TRUE(recorder.errors.empty()) << "nothing happens without a source";

    ASSERT_TRUE(analyseToIndex(service, recorder, testMedia("main_420_8bit_gop8.hevc")))
        << recorder.firstErrorText().toStdString();
    constexpr domain::PictureId kUnknown = 987654;
    service.analyzePictureStructure(kUnknown);
    ASSERT_EQ(recorder.errors.size(), 1U);
    EXPECT_EQ(recorder.errors[0].code, "analysis.picture_identity_missing");
    EXPECT_EQ(recorder.errors[0].message, "No analyzer decode-picture identity is available");
    EXPECT_EQ(recorder.errors[0].pictureId, std::optional(kUnknown));
    EXPECT_TRUE(recorder.errors[0].recoverable);
    EXPECT_EQ(recorder.lastState[kUnknown].status, Status::None);
    EXPECT_EQ(recorder.lastState[kUnknown].message, "Run Analyze Stream first to build the picture index");
    EXPECT_FALSE(service.isBusy());

    service.loadPictureAnalysis(kUnknown);
    EXPECT_EQ(recorder.lastState[kUnknown].status, Status::None);
    EXPECT_EQ(recorder.lastState[kUnknown].message, "No cached analysis for this picture");
    service.shutdown();
}

TEST_F(AnalysisTaskServiceTest, PictureStructureAnalysisReloadsTheIndexUnderANewGeneration)
{
    AnalysisTaskService service(nullptr, serviceOptions(root_));
    TaskServiceRecorder recorder(service);
    ASSERT_TRUE(analyseToIndex(service, recorder, testMedia("main_420_8bit_gop8.hevc")))
        << recorder.firstErrorText().toStdString();
    const domain::PictureId picture = sortedByDisplay(recorder.frames)[2].id;
    service.preloadPictureAnalyses();
    const std::uint64_t before = service.generation();
    const std::size_t streamsBefore = recorder.streams.size();
    service.analyzePictureStructure(picture);
    EXPECT_EQ(service.generation(), before + 1) << "the abandoned preload's results are stale now";
    EXPECT_EQ(service.pictureAnalysisStatus(picture), Status::Pending);
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return recorder.streams.size() > streamsBefore; }))
        << recorder.firstErrorText().toStdString();
    EXPECT_EQ(service.pictureAnalysisStatus(picture), Status::IndexReady);
    for (const PictureAnalysisPayload& payload : recorder.payloads) {
        EXPECT_EQ(payload.generation, before) << "no load of the abandoned preload was accepted late";
    }

    recorder.payloads.clear();
    service.loadPictureAnalysis(picture);
    ASSERT_TRUE(TaskServiceRecorder::waitFor([&] { return !recorder.payloads.empty(); }));
    EXPECT_FALSE(recorder.payloads.back().analysis->ctus.empty()) << "the structure is in the cache now";
    service.shutdown();
}

TEST_F(AnalysisTaskServiceTest, DefaultCacheRootIsPrivateToTheUserAndAForeignRootIsRefused)
{
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root_.path() + QStringLiteral("/xdg")));
    const std::filesystem::path defaultRoot = defaultAnalysisCacheRoot();
    ASSERT_EQ(defaultRoot.string().rfind(root_.path().toStdString() + "/xdg/", 0), 0U) << defaultRoot;

    AnalysisTaskServiceOptions options = serviceOptions(root_);
    options.cacheRoot.clear();
    {
        AnalysisTaskService service(nullptr, options);
        TaskServiceRecorder recorder(service);
        service.startAnalysis(testMedia("main_420_8bit_gop8.hevc"), false);
        EXPECT_TRUE(recorder.errors.empty()) << recorder.firstErrorText().toStdString();
        EXPECT_EQ(service.cacheDirectory().parent_path(), defaultRoot);
        struct stat status {};
        ASSERT_EQ(::stat(defaultRoot.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777U, 0700U);
        service.shutdown();
    }

    if (::geteuid() != 0) {
        GTEST_SKIP() << "handing the root to another user needs root";
    }
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(::chown(defaultRoot.c_str(), kNobody, kNobody), 0);
    AnalysisTaskService service(nullptr, options);
    TaskServiceRecorder recorder(service);
    service.startAnalysis(QStringLiteral("/elsewhere/other.hevc"), false);
    ASSERT_EQ(recorder.errors.size(), 1U);
    EXPECT_EQ(recorder.errors[0].code, "analysis_cache.create_failed");
    EXPECT_EQ(recorder.errors[0].message, "Could not create analysis cache directory");
    EXPECT_TRUE(recorder.errors[0].detail.contains(QLatin1String("owned by another user")));
    EXPECT_FALSE(service.isBusy());
    EXPECT_FALSE(std::filesystem::exists(service.cacheDirectory())) << "nothing is written into a foreign root";
    qunsetenv("XDG_CACHE_HOME");
}

}  // namespace
}  // namespace vexilo::application
