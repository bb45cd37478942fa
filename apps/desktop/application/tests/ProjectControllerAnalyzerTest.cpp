// The project controller on the analyzer road: the real worker program over real pipes and a
// real frame channel, its fallback to the in-process decoder, and the faults of an old run.

#include "TestMedia.h"
#include "ProjectSignalRecorder.h"
#include "ffmpeg_tools.h"
#include "stream_patch.h"

#include "vexilo/analysis/cache/CacheReader.h"
#include "vexilo/analysis/cache/SourceStamp.h"
#include "vexilo/application/AnalysisCacheLocation.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/error.h>
}

#include <QTemporaryDir>
#include <QTimer>

#include <optional>
#include <utility>
#include <vector>

namespace vexilo::application {
namespace {

using test::ProjectSignalRecorder;

using test::testMedia;

// What the controller said, for a failure's message.
std::string said(const ProjectSignalRecorder& recorder)
{
    return recorder.names.join(QLatin1Char(' ')).toStdString();
}

// Whatever ended the open before, the next one starts once and goes through the worker.
void expectTheNextOpenOnTheAnalyzerRoad(ProjectController& controller, ProjectSignalRecorder& recorder)
{
    recorder.clear();
    controller.openProject(testMedia("main_420_8bit_gop8.hevc"));
    EXPECT_TRUE(ProjectSignalRecorder::waitFor([&] { return recorder.has(QStringLiteral("analysisStarted")); }))
        << said(recorder);
    EXPECT_EQ(recorder.startedPaths.size(), 1);
    controller.closeProject();
}

class ProjectControllerAnalyzerTest : public testing::Test {
protected:
    ProjectControllerOptions analyzerOptions(const QString& workerProgram = QStringLiteral(VEXILO_WORKER_EXECUTABLE))
    {
        ProjectControllerOptions options;
        options.analysisOptions.worker.workerProgram = workerProgram;
        options.analysisOptions.cacheRoot = cacheRoot_.path().toStdString();
        return options;
    }

    static bool openAndWait(ProjectController& controller, ProjectSignalRecorder& recorder, const char* clip)
    {
        controller.openProject(testMedia(clip));
        return ProjectSignalRecorder::waitFor([&] { return recorder.hasEnded(); });
    }

    // What every accepted frame packet reports, in order.
    static QStringList packetSignals(int count)
    {
        QStringList names{QStringLiteral("state:Analyzing"), QStringLiteral("streamReady")};
        for (int picture = 1; picture <= count; ++picture) {
            names += {QStringLiteral("thumbnail"), QStringLiteral("batch:1"), QStringLiteral("progress:1:%1").arg(picture)};
        }
        return names;
    }

    QTemporaryDir cacheRoot_;
};

TEST_F(ProjectControllerAnalyzerTest, OpensThroughTheWorkerOnePictureAtATime)
{
    ProjectController controller(nullptr, analyzerOptions());
    ProjectSignalRecorder recorder(controller);
    ASSERT_TRUE(openAndWait(controller, recorder, "main_420_8bit_gop8.hevc"));
    // The worker's "analysisStarted" line and its first frame travel on different channels.
    QStringList expected{QStringLiteral("state:Opening"), QStringLiteral("taskStarted"), QStringLiteral("progress:0:0")};
    expected += packetSignals(24);
    expected += {QStringLiteral("analysisFinished"), QStringLiteral("state:Ready"), QStringLiteral("taskFinished")};
    EXPECT_EQ(recorder.without({QStringLiteral("analysisStarted"), QStringLiteral("streamAnalysisLoaded")}), expected);
    EXPECT_EQ(recorder.names.count(QStringLiteral("analysisStarted")), 1);
    EXPECT_LT(recorder.names.indexOf(QStringLiteral("analysisStarted")),
              recorder.names.indexOf(QStringLiteral("analysisFinished")));
    ASSERT_EQ(recorder.summaries.size(), 1U);
    EXPECT_EQ(recorder.summaries[0].picturesDecoded, 24U);
    // The worker's own packet counts: one access unit per packet in an elementary stream.
    EXPECT_EQ(recorder.summaries[0].packetsRead, 24U);
    EXPECT_EQ(recorder.summaries[0].packetsSent, 24U);
    ASSERT_TRUE(controller.streamInfo());
    EXPECT_EQ(controller.streamInfo()->codecName, "hevc");
    EXPECT_EQ(controller.streamInfo()->frameCount, -1);
    EXPECT_EQ(controller.streamInfo()->width, 176);
    EXPECT_EQ(controller.pictureCount(), 24U);
    EXPECT_TRUE(ProjectSignalRecorder::waitFor([&] { return recorder.has(QStringLiteral("streamAnalysisLoaded")); }));
}

// The worker sends each picture once its pass has analysed it; the open counts ahead how many
// there will be, so that its progress can say how far the pass is.
TEST_F(ProjectControllerAnalyzerTest, ProgressTellsHowManyPicturesThePassGoesThrough)
{
    ProjectController controller(nullptr, analyzerOptions());
    ProjectSignalRecorder recorder(controller);
    std::vector<ProjectTaskProgress> progress;
    QObject::connect(&controller, &ProjectController::taskProgress,
                     [&progress](const ProjectTaskProgress& step) { progress.push_back(step); });
    ASSERT_TRUE(openAndWait(controller, recorder, "main_420_8bit_gop8.hevc")) << said(recorder);
    ASSERT_EQ(progress.size(), 25U) << "probing, then one step per picture";
    EXPECT_EQ(progress.front().expectedPictures, 0U);
    for (const ProjectTaskProgress& step : progress) {
        EXPECT_TRUE(step.expectedPictures == 0 || step.expectedPictures == 24U) << step.expectedPictures;
    }
    EXPECT_EQ(progress.back().decodedPictures, 24U);
    EXPECT_EQ(progress.back().expectedPictures, 24U);
}

TEST_F(ProjectControllerAnalyzerTest, FallsBackInProcessWhenTheWorkerCannotStart)
{
    ProjectController controller(nullptr, analyzerOptions(QStringLiteral("/nonexistent/vexilo-analyzer-worker")));
    ProjectSignalRecorder recorder(controller);
    ASSERT_TRUE(openAndWait(controller, recorder, "main_420_8bit_gop8.hevc"));
    const QStringList names = recorder.without({QStringLiteral("thumbnail"), QStringLiteral("batch:"),
                                                QStringLiteral("progress:1:")});
    ASSERT_GE(names.size(), 5);
    EXPECT_EQ(names.mid(0, 3), (QStringList{QStringLiteral("state:Opening"), QStringLiteral("taskStarted"),
                                            QStringLiteral("progress:0:0")}));
    EXPECT_TRUE(names[3].startsWith(QStringLiteral("analysisError:"))) << names[3].toStdString();
    EXPECT_EQ(names.mid(4), (QStringList{QStringLiteral("state:Error"), QStringLiteral("state:Opening"),
                                         QStringLiteral("progress:0:0"), QStringLiteral("state:Analyzing"),
                                         QStringLiteral("streamReady"), QStringLiteral("state:Ready"),
                                         QStringLiteral("taskFinished")}));
    EXPECT_EQ(recorder.startedPaths.size(), 1) << "one taskStarted per open";
    EXPECT_EQ(controller.pictureCount(), 24U);
    ASSERT_EQ(recorder.summaries.size(), 1U);
    EXPECT_GT(recorder.summaries[0].packetsRead, 0U) << "the in-process decoder's counts";
}

TEST_F(ProjectControllerAnalyzerTest, CloseBeforeTheFallbackReopensLeavesTheNextOpenOnTheAnalyzerRoad)
{
    ProjectController controller(nullptr, analyzerOptions(QStringLiteral("/nonexistent/vexilo-analyzer-worker")));
    ProjectSignalRecorder recorder(controller);
    controller.openProject(testMedia("main_420_8bit_gop8.hevc"));
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return controller.state() == ProjectState::Error; }));
    controller.closeProject();
    EXPECT_EQ(controller.state(), ProjectState::Empty);
    QTest::qWait(50);
    EXPECT_EQ(controller.state(), ProjectState::Empty) << "the pending fallback must not reopen a closed project";

    recorder.clear();
    ASSERT_TRUE(openAndWait(controller, recorder, "main_420_8bit_gop8.hevc"));
    EXPECT_TRUE(recorder.names.filter(QStringLiteral("analysisError:")).size() == 1)
        << "the next open tried the worker first: " << said(recorder);
    EXPECT_EQ(recorder.startedPaths.size(), 1);
    EXPECT_EQ(controller.state(), ProjectState::Ready);
}

TEST_F(ProjectControllerAnalyzerTest, AnOpenRightAfterACancelGetsOnlyItsOwnPictures)
{
    ProjectController controller(nullptr, analyzerOptions());
    ProjectSignalRecorder recorder(controller);
    controller.openProject(testMedia("client_long_640x360.hevc"));
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return !recorder.batches.empty(); }));
    controller.cancelTask();
    EXPECT_EQ(controller.state(), ProjectState::Empty);
    EXPECT_EQ(recorder.names.mid(recorder.names.size() - 3),
              (QStringList{QStringLiteral("state:Cancelling"), QStringLiteral("state:Empty"),
                           QStringLiteral("taskCanceled")}));

    recorder.clear();
    ASSERT_TRUE(openAndWait(controller, recorder, "main_420_8bit_gop8.hevc"));
    QTest::qWait(200);
    EXPECT_FALSE(recorder.has(QStringLiteral("state:Error"))) << "the new open stays on the analyzer road";
    EXPECT_EQ(recorder.names.count(QStringLiteral("taskFinished")), 1);
    EXPECT_EQ(recorder.names.count(QStringLiteral("taskCanceled")), 0);
    EXPECT_EQ(controller.state(), ProjectState::Ready);
    EXPECT_EQ(controller.pictureCount(), 24U);
    for (const domain::PictureInfo& picture : controller.pictures()) {
        EXPECT_EQ(picture.width, 176) << "picture " << picture.id << " came from the cancelled run";
    }
}

// A valid stream that FFmpeg does not decode for its sample depth opens on neither road. The
// worker writes its stream-level analysis and calls no packet damaged; the in-process decoder,
// whose error ends the open, says what this build's FFmpeg does not decode.
TEST_F(ProjectControllerAnalyzerTest, AStreamFfmpegDoesNotDecodeEndsSayingWhatItDoesNotDecode)
{
    QTemporaryDir streams;
    for (const hevc::test::DeepSampleStream& deep : hevc::test::deepSampleStreams()) {
        SCOPED_TRACE(deep.name);
        const std::filesystem::path path = hevc::test::writeDeepSampleStream(deep, streams.path().toStdString());
        ProjectController controller(nullptr, analyzerOptions());
        ProjectSignalRecorder recorder(controller);
        controller.openProject(path);
        ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return recorder.hasEnded(); })) << said(recorder);
        EXPECT_EQ(controller.state(), ProjectState::Error);
        EXPECT_EQ(controller.pictureCount(), 0U);
        EXPECT_TRUE(recorder.names.filter(QStringLiteral("analysisError:")).isEmpty()) << said(recorder);

        ASSERT_EQ(recorder.errors.size(), 1U) << said(recorder);
        const ProjectTaskError& error = recorder.errors.front();
        EXPECT_EQ(error.backendCode, AVERROR_PATCHWELCOME);
        EXPECT_TRUE(error.message.contains(QStringLiteral("not decoded by this build's FFmpeg"))) << error.message.toStdString();
        EXPECT_FALSE(error.message.contains(QStringLiteral("dimensions"))) << error.message.toStdString();
        const auto luma = hevc::test::ffmpegTracedValue(path, "bit_depth_luma_minus8");
        const auto chroma = hevc::test::ffmpegTracedValue(path, "bit_depth_chroma_minus8");
        ASSERT_TRUE(luma && chroma);
        EXPECT_TRUE(error.detail.endsWith(QStringLiteral("bitDepthLuma=%1; bitDepthChroma=%2").arg(*luma + 8).arg(*chroma + 8)))
            << error.detail.toStdString();

        const std::filesystem::path directory = analysisCacheDirectory(cacheRoot_.path().toStdString(), pathToQString(path));
        EXPECT_TRUE(std::holds_alternative<analysis::CacheManifest>(analysis::openAnalysisCache(directory)))
            << "the worker wrote the stream-level analysis";
    }
}

// The cancelled pass leaves the pictures it finished in the cache, but not as the source's
// analysis: the reopen analyses the stream again and every picture then has its blocks.
TEST_F(ProjectControllerAnalyzerTest, ACancelledPassKeepsWholePicturesAndTheReopenAnalysesAgain)
{
    const char* clip = "client_long_640x360.hevc";
    constexpr std::size_t kClipPictures = 48;
    ProjectController controller(nullptr, analyzerOptions());
    ProjectSignalRecorder recorder(controller);
    controller.openProject(testMedia(clip));
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return !recorder.batches.empty(); }));
    controller.cancelTask();
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return !controller.isAnalysisBusy(); })) << said(recorder);

    const std::filesystem::path directory =
        analysisCacheDirectory(cacheRoot_.path().toStdString(), pathToQString(testMedia(clip)));
    EXPECT_FALSE(analysis::readSourceStamp(directory)) << "a cancelled pass is not the source's analysis";
    const auto manifest = analysis::openAnalysisCache(directory);
    ASSERT_TRUE(std::holds_alternative<analysis::CacheManifest>(manifest)) << "the finished pictures are kept";
    const std::size_t kept = std::get<analysis::CacheManifest>(manifest).pictures.size();
    for (const analysis::ManifestPictureEntry& entry : std::get<analysis::CacheManifest>(manifest).pictures) {
        const auto picture = analysis::readCachedPicture(directory, entry);
        ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(picture)) << entry.path;
        const analysis::StreamAnalysis& document = std::get<analysis::StreamAnalysis>(picture);
        EXPECT_EQ(document.pictures.front().ctuCount.value_or(0), document.ctus.size()) << entry.path;
    }

    recorder.clear();
    StreamAnalysisPtr reopened;
    QObject::connect(&controller, &ProjectController::streamAnalysisLoaded,
                     [&reopened](qulonglong, StreamAnalysisPtr document) { reopened = std::move(document); });
    ASSERT_TRUE(openAndWait(controller, recorder, clip)) << said(recorder);
    EXPECT_TRUE(recorder.has(QStringLiteral("analysisStarted"))) << "the stream is analysed again";
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return reopened != nullptr; }));
    // On a busy machine the pass may have put out every picture before the cancel reached it;
    // it is cancelled all the same, and the reopen has every picture either way.
    EXPECT_LE(kept, kClipPictures);
    EXPECT_EQ(reopened->pictures.size(), kClipPictures);
    EXPECT_EQ(reopened->pictures.size(), controller.pictureCount());
    for (const analysis::PictureAnalysisSummary& summary : reopened->pictures) {
        EXPECT_GT(summary.ctuCount.value_or(0), 0U) << "every picture has its blocks";
    }
}

TEST_F(ProjectControllerAnalyzerTest, CloseDuringAnOpenEndsItAndTheNextOpenUsesTheWorkerAgain)
{
    ProjectController controller(nullptr, analyzerOptions());
    ProjectSignalRecorder recorder(controller);
    controller.openProject(testMedia("client_long_640x360.hevc"));
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return !recorder.batches.empty(); }));
    recorder.clear();
    controller.closeProject();
    QTest::qWait(300);
    EXPECT_EQ(recorder.names, (QStringList{QStringLiteral("state:Closing"), QStringLiteral("state:Empty"),
                                           QStringLiteral("taskCanceled")}));
    EXPECT_FALSE(controller.hasActiveTask());

    recorder.clear();
    ASSERT_TRUE(openAndWait(controller, recorder, "main_420_8bit_gop8.hevc"));
    EXPECT_TRUE(recorder.has(QStringLiteral("analysisStarted")));
    EXPECT_FALSE(recorder.has(QStringLiteral("state:Error")));
    EXPECT_EQ(controller.pictureCount(), 24U);
}

TEST_F(ProjectControllerAnalyzerTest, AProtocolDefectFallsBackAndTheNextOpenTriesTheWorkerAgain)
{
    for (const char* script : {"bad_frame_mid", "invalid_line_mid", "bad_frame", "repeat_sequence_end"}) {
        SCOPED_TRACE(script);
        ProjectControllerOptions options = analyzerOptions(QStringLiteral(VEXILO_FAKE_WORKER_EXECUTABLE));
        options.analysisOptions.worker.workerArguments = {QStringLiteral("--script"), QLatin1String(script)};
        ProjectController controller(nullptr, options);
        ProjectSignalRecorder recorder(controller);
        ASSERT_TRUE(openAndWait(controller, recorder, "main_420_8bit_gop8.hevc")) << said(recorder);
        EXPECT_EQ(recorder.names.filter(QStringLiteral("analysisError:")),
                  QStringList{QStringLiteral("analysisError:worker.protocol_error")});
        EXPECT_TRUE(recorder.has(QStringLiteral("state:Error"))) << "it left Analyzing for the fallback";
        EXPECT_EQ(controller.state(), ProjectState::Ready);
        EXPECT_EQ(controller.pictureCount(), 24U) << "the in-process decoder's pictures";
        EXPECT_EQ(recorder.startedPaths.size(), 1);
        EXPECT_FALSE(controller.isAnalysisBusy());

        controller.closeProject();
        expectTheNextOpenOnTheAnalyzerRoad(controller, recorder);
    }
}

TEST_F(ProjectControllerAnalyzerTest, ACancelledOpenLeavesTheNextOpenOnTheAnalyzerRoad)
{
    struct CancelCase {
        const char* script;
        bool duringFallback;  // cancel the decoder's reopen after a defective worker, not the worker's run
    };
    for (const CancelCase& testCase : {CancelCase{"cancelable", false}, CancelCase{"bad_frame_mid", true}}) {
        SCOPED_TRACE(testCase.script);
        ProjectControllerOptions options = analyzerOptions(QStringLiteral(VEXILO_FAKE_WORKER_EXECUTABLE));
        options.analysisOptions.worker.workerArguments = {QStringLiteral("--script"),
                                                          QLatin1String(testCase.script)};
        ProjectController controller(nullptr, options);
        ProjectSignalRecorder recorder(controller);
        // Cancelled from the event loop at the first moment the open is on the chosen road.
        bool armed = true;
        int openings = 0;
        const auto cancelSoon = [&] {
            if (std::exchange(armed, false)) {
                QTimer::singleShot(0, &controller, [&controller] { controller.cancelTask(); });
            }
        };
        QObject::connect(&controller, &ProjectController::analysisStarted, &controller, [&] {
            if (!testCase.duringFallback) {
                cancelSoon();
            }
        });
        QObject::connect(&controller, &ProjectController::stateChanged, &controller, [&](ProjectState state) {
            if (testCase.duringFallback && state == ProjectState::Opening && ++openings == 2) {
                cancelSoon();
            }
        });
        controller.openProject(testMedia("main_420_8bit_gop8.hevc"));
        ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return recorder.has(QStringLiteral("taskCanceled")); }))
            << said(recorder);
        QTest::qWait(300);
        EXPECT_EQ(controller.state(), ProjectState::Empty) << said(recorder);

        expectTheNextOpenOnTheAnalyzerRoad(controller, recorder);
    }
}

TEST_F(ProjectControllerAnalyzerTest, TwelveBitAndMonochromeFramesMatchOnBothRoads)
{
    for (const char* clip : {"project_420_12bit.hevc", "mono_400_8bit.hevc", "observer_422_12bit.hevc"}) {
        ProjectController analyzer(nullptr, analyzerOptions());
        ProjectSignalRecorder analyzerRecorder(analyzer);
        ASSERT_TRUE(openAndWait(analyzer, analyzerRecorder, clip)) << clip;
        EXPECT_FALSE(analyzerRecorder.has(QStringLiteral("state:Error"))) << clip;

        ProjectControllerOptions inProcessOptions;
        inProcessOptions.useAnalyzerWorker = false;
        ProjectController inProcess(nullptr, inProcessOptions);
        ProjectSignalRecorder inProcessRecorder(inProcess);
        ASSERT_TRUE(openAndWait(inProcess, inProcessRecorder, clip)) << clip;

        ASSERT_EQ(analyzer.pictureCount(), inProcess.pictureCount()) << clip;
        for (domain::PictureId id = 0; id < static_cast<domain::PictureId>(inProcess.pictureCount()); ++id) {
            const VideoFramePtr fromWorker = analyzer.cachedFrame(id);
            const VideoFramePtr fromDecoder = inProcess.cachedFrame(id);
            ASSERT_TRUE(fromWorker && fromDecoder) << clip << " picture " << id;
            EXPECT_EQ(*fromWorker, *fromDecoder) << clip << " picture " << id;
        }
        ASSERT_EQ(analyzerRecorder.thumbnails.size(), inProcessRecorder.thumbnails.size()) << clip;
        for (std::size_t i = 0; i < analyzerRecorder.thumbnails.size(); ++i) {
            EXPECT_EQ(analyzerRecorder.thumbnails[i].rgba, inProcessRecorder.thumbnails[i].rgba) << clip << " " << i;
        }
    }
}

TEST_F(ProjectControllerAnalyzerTest, OnDemandFramesOfAnAnalyzedStreamDecodeInProcess)
{
    ProjectControllerOptions options = analyzerOptions();
    options.frameCacheBytes = 1;
    ProjectController controller(nullptr, options);
    ProjectSignalRecorder recorder(controller);
    ASSERT_TRUE(openAndWait(controller, recorder, "project_420_12bit.hevc"));
    ASSERT_TRUE(controller.selectPicture(3));
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return !recorder.frames.empty(); }))
        << recorder.unavailableReasons.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(recorder.frames[0]->bitDepth, 12);
    EXPECT_EQ(recorder.frames[0]->index, 3);
}

}  // namespace
}  // namespace vexilo::application
