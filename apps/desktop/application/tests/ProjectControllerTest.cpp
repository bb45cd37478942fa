// The project controller on its in-process road: real files, real FFmpeg decoding on real
// decode threads, every signal in the order a window sees it.

#include "TestMedia.h"
#include "ProjectSignalRecorder.h"

#include "vexilo/application/FfmpegDecodeWorker.h"
#include "vexilo/application/FfmpegFrameDecodeWorker.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <algorithm>
#include <memory>
#include <thread>

namespace vexilo::application {
namespace {

using test::ProjectSignalRecorder;

constexpr std::uint64_t kSeventyPictures = 70;

using test::testMedia;

ProjectControllerOptions inProcessOptions(std::uint64_t cacheBytes = kDefaultFrameCacheBytes)
{
    ProjectControllerOptions options;
    options.frameCacheBytes = cacheBytes;
    options.useAnalyzerWorker = false;
    return options;
}

// Batches that only the picture count ends: no machine, however loaded, reaches an hour.
ProjectControllerOptions countedBatchOptions()
{
    ProjectControllerOptions options = inProcessOptions();
    options.decodeBatchInterval = std::chrono::hours(1);
    return options;
}

// What ffprobe counts in the same file: packets read and frames decoded.
std::pair<std::uint64_t, std::uint64_t> ffprobeCounts(const std::filesystem::path& path)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_packets"),
                 QStringLiteral("-count_frames"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=nb_read_packets,nb_read_frames"), QStringLiteral("-of"),
                 QStringLiteral("csv=p=0"), QString::fromStdString(path.string())});
    probe.waitForFinished(30000);
    const QStringList fields = QString::fromLatin1(probe.readAllStandardOutput()).trimmed().split(QLatin1Char(','));
    if (fields.size() != 2) {
        return {0, 0};
    }
    return {fields[1].toULongLong(), fields[0].toULongLong()};
}

// The signal names one decode reports for the given batch sizes, thumbnails included.
QStringList expectedDecodeSignals(const std::vector<int>& batchSizes)
{
    QStringList names{QStringLiteral("taskStarted"), QStringLiteral("progress:0:0"), QStringLiteral("state:Analyzing"),
                      QStringLiteral("streamReady"), QStringLiteral("progress:1:0")};
    int total = 0;
    for (const int size : batchSizes) {
        for (int i = 0; i < size; ++i) {
            names.append(QStringLiteral("thumbnail"));
        }
        total += size;
        names.append(QStringLiteral("batch:%1").arg(size));
        names.append(QStringLiteral("progress:1:%1").arg(total));
    }
    return names;
}

bool openAndWait(ProjectController& controller, ProjectSignalRecorder& recorder, const char* clip)
{
    controller.openProject(testMedia(clip));
    return ProjectSignalRecorder::waitFor([&] { return recorder.hasEnded(); });
}

TEST(ProjectControllerTest, InProcessOpenReportsBatchesAndTheDecoderCounts)
{
    ProjectController controller(nullptr, countedBatchOptions());
    EXPECT_EQ(controller.objectName(), QStringLiteral("projectController"));
    EXPECT_TRUE(ProjectController::isBackendAvailable());
    ProjectSignalRecorder recorder(controller);
    ASSERT_TRUE(openAndWait(controller, recorder, "project_70_pictures.hevc"));

    // The first picture is reported alone, then 32 at a time, then the rest.
    std::vector<int> sizes;
    for (const PictureInfoBatch& batch : recorder.batches) {
        sizes.push_back(static_cast<int>(batch.size()));
    }
    EXPECT_EQ(sizes, (std::vector<int>{1, 32, 32, 5}));
    QStringList expected{QStringLiteral("state:Opening")};
    expected += expectedDecodeSignals({1, 32, 32, 5});
    expected += QStringList{QStringLiteral("state:Ready"), QStringLiteral("taskFinished")};
    EXPECT_EQ(recorder.names, expected);
    EXPECT_EQ(controller.state(), ProjectState::Ready);
    EXPECT_FALSE(controller.hasActiveTask());
    ASSERT_EQ(controller.pictureCount(), kSeventyPictures);
    ASSERT_TRUE(controller.streamInfo());
    EXPECT_EQ(controller.streamInfo()->width, 64);
    EXPECT_EQ(recorder.startedPaths, QStringList{QString::fromStdString(testMedia("project_70_pictures.hevc").string())});

    const auto [packets, frames] = ffprobeCounts(testMedia("project_70_pictures.hevc"));
    ASSERT_EQ(recorder.summaries.size(), 1U);
    EXPECT_EQ(recorder.summaries[0].packetsRead, packets);
    EXPECT_EQ(recorder.summaries[0].packetsSent, packets);
    EXPECT_EQ(recorder.summaries[0].picturesDecoded, frames);
    EXPECT_EQ(frames, kSeventyPictures);

    for (std::size_t i = 0; i < recorder.thumbnails.size(); ++i) {
        EXPECT_EQ(recorder.thumbnails[i].displayIndex, i);
        EXPECT_EQ(recorder.thumbnails[i].rgba.size(), 32640U);
    }
    EXPECT_TRUE(controller.cachedFrame(69));
}

TEST(ProjectControllerTest, PicturesSlowerThanTheBatchIntervalAreReportedWithoutWaitingForACount)
{
    // Every picture takes longer than an interval of nothing, so each one ends its batch; the
    // default interval does the same for a stream decoded slower than one picture per 50 ms.
    EXPECT_EQ(ProjectControllerOptions{}.decodeBatchInterval, std::chrono::milliseconds(50));
    ProjectControllerOptions options = inProcessOptions();
    options.decodeBatchInterval = std::chrono::milliseconds(0);
    ProjectController controller(nullptr, options);
    ProjectSignalRecorder recorder(controller);
    ASSERT_TRUE(openAndWait(controller, recorder, "project_70_pictures.hevc"));

    const std::vector<int> onePictureEach(kSeventyPictures, 1);
    QStringList expected{QStringLiteral("state:Opening")};
    expected += expectedDecodeSignals(onePictureEach);
    expected += QStringList{QStringLiteral("state:Ready"), QStringLiteral("taskFinished")};
    EXPECT_EQ(recorder.names, expected);
    EXPECT_EQ(controller.pictureCount(), kSeventyPictures);
}

TEST(ProjectControllerTest, RefusesOpensItCannotTakeAndClosesToEmpty)
{
    ProjectController controller(nullptr, inProcessOptions());
    ProjectSignalRecorder recorder(controller);
    controller.openProject({});
    ASSERT_EQ(recorder.errors.size(), 1U);
    EXPECT_EQ(recorder.errors[0].code, QStringLiteral("invalid_source_path"));
    EXPECT_EQ(recorder.errors[0].message, QStringLiteral("No HEVC source path was provided"));
    EXPECT_EQ(recorder.errors[0].source, QStringLiteral("ProjectController"));
    EXPECT_TRUE(recorder.errors[0].recoverable);
    EXPECT_EQ(controller.state(), ProjectState::Empty);

    recorder.clear();
    ASSERT_TRUE(openAndWait(controller, recorder, "main_420_8bit_gop8.hevc"));
    controller.openProject(testMedia("main_420_8bit_gop8.hevc"));
    ASSERT_EQ(recorder.errors.size(), 1U);
    EXPECT_EQ(recorder.errors[0].code, QStringLiteral("invalid_project_state"));
    EXPECT_EQ(recorder.errors[0].message, QStringLiteral("A project task is already active"));
    EXPECT_EQ(recorder.errors[0].detail, QStringLiteral("Close or cancel the current project first."));
    EXPECT_EQ(controller.state(), ProjectState::Ready);

    ASSERT_TRUE(controller.selectPicture(2));
    recorder.clear();
    controller.closeProject();
    EXPECT_EQ(recorder.names, (QStringList{QStringLiteral("state:Closing"), QStringLiteral("selectionCleared"),
                                           QStringLiteral("state:Empty")}));
    EXPECT_EQ(controller.pictureCount(), 0U);
    EXPECT_FALSE(controller.cachedFrame(0));

    recorder.clear();
    ASSERT_TRUE(openAndWait(controller, recorder, "main_420_8bit_gop8.hevc"));
    EXPECT_EQ(controller.state(), ProjectState::Ready);
}

TEST(ProjectControllerTest, AFailedOpenEndsInError)
{
    ProjectController controller(nullptr, inProcessOptions());
    ProjectSignalRecorder recorder(controller);
    ASSERT_TRUE(openAndWait(controller, recorder, "no_such_clip.hevc"));
    ASSERT_EQ(recorder.errors.size(), 1U);
    EXPECT_EQ(recorder.errors[0].code, QStringLiteral("ffmpeg_error"));
    EXPECT_EQ(recorder.errors[0].source, QStringLiteral("FFmpeg"));
    EXPECT_TRUE(recorder.errors[0].message.startsWith(QStringLiteral("FFmpeg backend failed for '")));
    EXPECT_FALSE(recorder.errors[0].recoverable);
    EXPECT_EQ(recorder.names, (QStringList{QStringLiteral("state:Opening"), QStringLiteral("taskStarted"),
                                           QStringLiteral("progress:0:0"), QStringLiteral("state:Error"),
                                           QStringLiteral("taskError:ffmpeg_error")}));
    EXPECT_EQ(controller.state(), ProjectState::Error);
}

TEST(ProjectControllerTest, CancelDuringAnOpenEndsEmptyAndTheNextOpenGetsOnlyItsOwnPictures)
{
    ProjectController controller(nullptr, inProcessOptions());
    ProjectSignalRecorder recorder(controller);
    controller.openProject(testMedia("client_long_640x360.hevc"));
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return !recorder.batches.empty(); }));
    const auto cancelAt = recorder.names.size();
    controller.cancelTask();
    EXPECT_EQ(controller.state(), ProjectState::Cancelling);
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return recorder.has(QStringLiteral("taskCanceled")); }));
    const QStringList afterCancel = recorder.names.mid(cancelAt);
    EXPECT_EQ(afterCancel, (QStringList{QStringLiteral("state:Cancelling"), QStringLiteral("state:Empty"),
                                        QStringLiteral("taskCanceled")}))
        << "no batch, thumbnail or progress once cancelling: " << afterCancel.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(controller.pictureCount(), 0U);

    recorder.clear();
    ASSERT_TRUE(openAndWait(controller, recorder, "project_70_pictures.hevc"));
    QTest::qWait(50);
    EXPECT_EQ(controller.pictureCount(), kSeventyPictures);
    std::uint64_t reported = 0;
    for (const PictureInfoBatch& batch : recorder.batches) {
        reported += batch.size();
    }
    EXPECT_EQ(reported, kSeventyPictures);
    EXPECT_EQ(recorder.startedPaths.size(), 1);
}

TEST(ProjectControllerTest, CloseBeforeTheDecodeThreadStartsEndsWithOneCancel)
{
    ProjectController controller(nullptr, inProcessOptions());
    ProjectSignalRecorder recorder(controller);
    controller.openProject(testMedia("client_long_640x360.hevc"));
    controller.closeProject();
    QTest::qWait(100);
    EXPECT_EQ(recorder.names, (QStringList{QStringLiteral("state:Opening"), QStringLiteral("state:Closing"),
                                           QStringLiteral("state:Empty"), QStringLiteral("taskCanceled")}));
    EXPECT_FALSE(controller.hasActiveTask());
}

TEST(ProjectControllerTest, CloseDuringDecodingWaitsAndEndsEmpty)
{
    ProjectController controller(nullptr, inProcessOptions());
    ProjectSignalRecorder recorder(controller);
    controller.openProject(testMedia("client_long_640x360.hevc"));
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return !recorder.batches.empty(); }));
    controller.closeProject();
    EXPECT_EQ(controller.state(), ProjectState::Empty);
    EXPECT_EQ(recorder.names.count(QStringLiteral("taskCanceled")), 1);
    EXPECT_EQ(recorder.names.mid(recorder.names.size() - 3),
              (QStringList{QStringLiteral("state:Closing"), QStringLiteral("state:Empty"), QStringLiteral("taskCanceled")}));
    const auto closedAt = recorder.names.size();
    QTest::qWait(100);
    EXPECT_EQ(recorder.names.size(), closedAt) << "late events of the closed task are dropped";
}

TEST(ProjectControllerTest, OnDemandFrameAfterEvictionIsByteIdentical)
{
    ProjectController reference(nullptr, inProcessOptions());
    ProjectSignalRecorder referenceRecorder(reference);
    ASSERT_TRUE(openAndWait(reference, referenceRecorder, "main_420_8bit_gop8.hevc"));
    const VideoFramePtr cached = reference.cachedFrame(5);
    ASSERT_TRUE(cached);

    // Room for two frames of 176 x 144: picture 5 is long gone when the decode ends.
    ProjectController controller(nullptr, inProcessOptions(2 * 38016));
    ProjectSignalRecorder recorder(controller);
    ASSERT_TRUE(openAndWait(controller, recorder, "main_420_8bit_gop8.hevc"));
    ASSERT_FALSE(controller.cachedFrame(5));
    recorder.clear();
    ASSERT_TRUE(controller.selectPicture(5));
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return !recorder.frames.empty(); }));
    EXPECT_EQ(recorder.names, (QStringList{QStringLiteral("selected:5"), QStringLiteral("frameReady")}));
    EXPECT_EQ(*recorder.frames[0], *cached);
    EXPECT_TRUE(controller.cachedFrame(5)) << "an on-demand frame joins the cache";

    recorder.clear();
    EXPECT_TRUE(controller.selectPicture(5));
    EXPECT_TRUE(recorder.names.isEmpty()) << "selecting the selected picture again emits nothing";
    EXPECT_FALSE(controller.selectPicture(1000));
    controller.clearPictureSelection();
    EXPECT_EQ(recorder.names, QStringList{QStringLiteral("selectionCleared")});
}

TEST(ProjectControllerTest, ShutdownAndDestructionJoinRunningFrameThreads)
{
    for (const bool explicitShutdown : {true, false}) {
        auto controller = std::make_unique<ProjectController>(nullptr, inProcessOptions(1));
        ProjectSignalRecorder recorder(*controller);
        ASSERT_TRUE(openAndWait(*controller, recorder, "client_long_640x360.hevc"));
        ASSERT_TRUE(controller->selectPicture(47));
        ASSERT_TRUE(controller->findChild<QThread*>(QStringLiteral("ffmpegFrameDecodeThread")));
        if (explicitShutdown) {
            controller->shutdown();
            EXPECT_EQ(controller->state(), ProjectState::Empty);
            EXPECT_FALSE(controller->findChild<QThread*>(QStringLiteral("ffmpegFrameDecodeThread")));
            controller->shutdown();
            controller->openProject(testMedia("client_long_640x360.hevc"));
            EXPECT_EQ(controller->state(), ProjectState::Empty) << "no open while shutting down";
        }
        controller.reset();
        QTest::qWait(20);
    }
}

TEST(ProjectControllerTest, TwelveBitAndMonochromeStreamsDecodeInProcess)
{
    struct Case {
        const char* clip;
        std::int32_t bitDepth;
        std::uint64_t pictures;
    };
    for (const Case& c : {Case{"project_420_12bit.hevc", 12, 6}, Case{"observer_422_12bit.hevc", 12, 6},
                          Case{"mono_400_8bit.hevc", 8, 8}}) {
        ProjectController controller(nullptr, inProcessOptions());
        ProjectSignalRecorder recorder(controller);
        ASSERT_TRUE(openAndWait(controller, recorder, c.clip)) << c.clip;
        ASSERT_EQ(recorder.summaries.size(), 1U) << c.clip << " " << recorder.names.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(controller.pictureCount(), c.pictures) << c.clip;
        EXPECT_EQ(recorder.thumbnails.size(), c.pictures) << c.clip;
        const VideoFramePtr frame = controller.cachedFrame(0);
        ASSERT_TRUE(frame) << c.clip;
        EXPECT_EQ(frame->bitDepth, c.bitDepth) << c.clip;
        ASSERT_EQ(frame->planes.size(), 3U) << c.clip;
    }
}

TEST(ProjectControllerTest, MonochromeThumbnailsAreGrey)
{
    ProjectController controller(nullptr, inProcessOptions());
    ProjectSignalRecorder recorder(controller);
    ASSERT_TRUE(openAndWait(controller, recorder, "mono_400_8bit.hevc"));
    ASSERT_FALSE(recorder.thumbnails.empty());
    const std::vector<std::uint8_t>& rgba = recorder.thumbnails[0].rgba;
    for (std::size_t pixel = 0; pixel < rgba.size(); pixel += 4) {
        ASSERT_EQ(rgba[pixel], rgba[pixel + 1]) << pixel;
        ASSERT_EQ(rgba[pixel + 1], rgba[pixel + 2]) << pixel;
    }
}

TEST(FfmpegDecodeWorkerTest, CanceledBeforeItRunsReportsStartedThenCanceled)
{
    registerProjectMetaTypes();
    auto shared = std::make_shared<DecodeTaskSharedState>();
    shared->cancelRequested = true;
    FfmpegDecodeWorker worker(9, testMedia("main_420_8bit_gop8.hevc"), shared, std::make_shared<VideoFrameCache>(0));
    QStringList names;
    QObject::connect(&worker, &FfmpegDecodeWorker::started, [&] { names.append(QStringLiteral("started")); });
    QObject::connect(&worker, &FfmpegDecodeWorker::progress, [&] { names.append(QStringLiteral("progress")); });
    QObject::connect(&worker, &FfmpegDecodeWorker::canceled, [&](qulonglong id) {
        names.append(QStringLiteral("canceled:%1").arg(id));
    });
    worker.run();
    EXPECT_EQ(names, (QStringList{QStringLiteral("started"), QStringLiteral("canceled:9")}));
    EXPECT_EQ(shared->terminalKind, DecodeTerminalKind::Canceled);
    EXPECT_EQ(shared->summary.picturesDecoded, 0U);
}

TEST(FfmpegFrameDecodeWorkerTest, ReportsAPictureBeyondTheEnd)
{
    registerProjectMetaTypes();
    FfmpegFrameDecodeWorker worker(testMedia("main_420_8bit_gop8.hevc"), std::make_shared<VideoFrameCache>(0));
    QStringList reasons;
    std::atomic<bool> told{false};
    QObject::connect(&worker, &FfmpegFrameDecodeWorker::unavailable,
                     [&](qulonglong, domain::PictureId, const QString& reason) {
                         reasons.append(reason);
                         told = true;
                     });
    worker.request(FrameRequest{4, 1000, 1000, true, 1});
    std::thread decoding([&worker] { worker.run(); });
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return told.load(); }));
    worker.stop();
    decoding.join();
    EXPECT_EQ(reasons, QStringList{QStringLiteral("Decoded display index 1000 was not found")});
    EXPECT_EQ(worker.counts().streamStarts, 1U) << "no index: from the stream's start";
}

}  // namespace
}  // namespace vexilo::application
