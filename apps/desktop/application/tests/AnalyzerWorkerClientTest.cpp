// The client against the real worker program: real pipes, a real local socket, real decoding
// of generated streams into a real cache directory.

#include "WorkerClientRecorder.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <utility>

#include <sys/types.h>

namespace vexilo::application {
namespace {

using test::WorkerClientRecorder;
using State = AnalyzerWorkerState;


QString testMedia(const char* name)
{
    return QStringLiteral(VEXILO_TEST_MEDIA_DIR "/") + QLatin1String(name);
}

AnalyzerWorkerClientOptions realWorker()
{
    AnalyzerWorkerClientOptions options;
    options.workerProgram = QStringLiteral(VEXILO_WORKER_EXECUTABLE);
    return options;
}

bool startAndGreet(AnalyzerWorkerClient& client)
{
    return !client.start().isEmpty() &&
           WorkerClientRecorder::waitFor([&client] { return client.state() == State::Ready; });
}

std::int64_t payloadCount(const protocol::AnalyzerProtocolMessage* event, const char* key)
{
    return event != nullptr ? event->payload.value(QLatin1String(key)).toInteger(-1) : -1;
}

TEST(AnalyzerWorkerClientTest, StartsGreetsAndShutsTheWorkerDownCleanly)
{
    AnalyzerWorkerClient client(nullptr, realWorker());
    WorkerClientRecorder recorder(client);
    const QString startId = client.start();
    ASSERT_FALSE(startId.isEmpty());
    EXPECT_EQ(client.state(), State::Starting);
    EXPECT_TRUE(client.start().isEmpty()) << "a second start while starting";
    ASSERT_TRUE(WorkerClientRecorder::waitFor([&] { return client.state() == State::Ready; }));
    EXPECT_GT(recorder.processId, 0);
    ASSERT_EQ(recorder.events.size(), 1U);
    EXPECT_EQ(recorder.events[0].type, "hello");
    EXPECT_EQ(recorder.events[0].requestId, startId);
    EXPECT_TRUE(client.start().isEmpty()) << "a second start while ready";

    client.shutdown();
    EXPECT_EQ(client.state(), State::NotRunning);
    EXPECT_TRUE(recorder.hasEvent(QStringLiteral("shutdownAcknowledged")));
    EXPECT_TRUE(recorder.errors.empty()) << recorder.errors.front().code.toStdString();
    const std::vector<State> expected{State::Starting, State::Ready, State::ShuttingDown, State::NotRunning};
    EXPECT_EQ(recorder.states, expected);
}

struct ModeCase {
    const char* name;
    AnalyzerAnalysisMode mode;
};

TEST(AnalyzerWorkerClientTest, AnalysesAStreamInEveryModeWithFramesInDisplayOrder)
{
    AnalyzerWorkerClient client(nullptr, realWorker());
    WorkerClientRecorder recorder(client);
    ASSERT_TRUE(startAndGreet(client));
    const QString input = testMedia("main_420_8bit_gop8.hevc");
    constexpr std::size_t kPictures = 24;

    const std::vector<ModeCase> modes{{"stream_index", AnalyzerAnalysisMode::StreamIndex},
                                      {"picture_structure", AnalyzerAnalysisMode::PictureStructure},
                                      {"bounded_structure", AnalyzerAnalysisMode::BoundedStructure}};
    for (const ModeCase& mode : modes) {
        SCOPED_TRACE(mode.name);
        QTemporaryDir cacheRoot;
        recorder.frames.clear();
        recorder.events.clear();
        const AnalyzerTaskRequest request =
            mode.mode == AnalyzerAnalysisMode::PictureStructure
                ? client.analyzePictureStructure(input, cacheRoot.path(), 1)
                : client.analyze(input, cacheRoot.path(), mode.mode, QStringLiteral("task-%1").arg(mode.name));
        ASSERT_FALSE(request.isEmpty());
        EXPECT_EQ(client.state(), State::Busy);
        ASSERT_TRUE(WorkerClientRecorder::waitFor([&] {
            return client.state() != State::Busy && recorder.frames.size() >= kPictures;
        }));
        ASSERT_TRUE(recorder.errors.empty()) << recorder.errors.front().detail.toStdString();
        EXPECT_EQ(client.state(), State::Ready);
        const protocol::AnalyzerProtocolMessage* started = recorder.lastEvent(QStringLiteral("analysisStarted"));
        ASSERT_NE(started, nullptr);
        EXPECT_EQ(started->payload.value("mode").toString(), QLatin1String(mode.name));
        const protocol::AnalyzerProtocolMessage* finished = recorder.lastEvent(QStringLiteral("analysisFinished"));
        ASSERT_NE(finished, nullptr);
        EXPECT_EQ(finished->taskId, request.taskId);
        EXPECT_TRUE(QFileInfo::exists(finished->payload.value("metadataPath").toString()));
        EXPECT_EQ(payloadCount(recorder.lastEvent(QStringLiteral("probeResult")), "decodedPictureCount"),
                  static_cast<std::int64_t>(kPictures));

        ASSERT_EQ(recorder.frames.size(), kPictures);
        for (std::size_t index = 0; index < kPictures; ++index) {
            EXPECT_EQ(recorder.frames[index].sequence, index + 1);
            EXPECT_EQ(recorder.frames[index].picture.displayIndex, static_cast<std::int64_t>(index));
            EXPECT_EQ(recorder.frames[index].planeCount, 3U);
        }
    }
    client.shutdown();
    EXPECT_TRUE(recorder.errors.empty());
}

// The worker waits at most 5 s for each frame write; a GUI thread busy for longer, here inside a
// receiver of the first frame, must not cost the analysis, nor any frame of it.
TEST(AnalyzerWorkerClientTest, AGuiThreadBusyPastTheWorkersWriteWaitLosesNoFrame)
{
    constexpr unsigned long kBusyMs = 6500;
    constexpr std::size_t kPictures = 48;  // 640x360: the socket holds about one of them
    AnalyzerWorkerClient client(nullptr, realWorker());
    WorkerClientRecorder recorder(client);
    ASSERT_TRUE(startAndGreet(client));
    bool busyOnce = false;
    QObject::connect(&client, &AnalyzerWorkerClient::frameReceived, &client, [&busyOnce] {
        if (!std::exchange(busyOnce, true)) {
            QThread::msleep(kBusyMs);
        }
    });
    QTemporaryDir cacheRoot;
    const AnalyzerTaskRequest request = client.analyze(testMedia("client_long_640x360.hevc"), cacheRoot.path(),
                                                       AnalyzerAnalysisMode::StreamIndex);
    ASSERT_FALSE(request.isEmpty());
    ASSERT_TRUE(WorkerClientRecorder::waitFor([&] { return client.state() != State::Busy; }));
    ASSERT_TRUE(recorder.errors.empty()) << recorder.errors.front().code.toStdString() << ": "
                                         << recorder.errors.front().detail.toStdString();
    EXPECT_TRUE(recorder.hasEvent(QStringLiteral("analysisFinished"), request.requestId));
    ASSERT_EQ(recorder.frames.size(), kPictures);
    for (std::size_t index = 0; index < kPictures; ++index) {
        EXPECT_EQ(recorder.frames[index].sequence, index + 1);
        EXPECT_EQ(recorder.frames[index].picture.displayIndex, static_cast<std::int64_t>(index));
    }
    client.shutdown();
}

TEST(AnalyzerWorkerClientTest, CancelsARunningAnalysis)
{
    AnalyzerWorkerClient client(nullptr, realWorker());
    WorkerClientRecorder recorder(client);
    ASSERT_TRUE(startAndGreet(client));
    QTemporaryDir cacheRoot;
    const AnalyzerTaskRequest request = client.analyze(testMedia("client_long_640x360.hevc"), cacheRoot.path(),
                                                       AnalyzerAnalysisMode::BoundedStructure);
    ASSERT_FALSE(request.isEmpty());
    ASSERT_TRUE(WorkerClientRecorder::waitFor([&] { return !recorder.frames.empty(); }));

    const QString cancelId = client.cancel(request.taskId);
    ASSERT_FALSE(cancelId.isEmpty());
    EXPECT_EQ(client.cancel(request.taskId), cancelId) << "a second cancel sends nothing new";
    ASSERT_TRUE(WorkerClientRecorder::waitFor([&] { return client.state() == State::Ready; }));
    EXPECT_TRUE(recorder.hasEvent(QStringLiteral("cancelAcknowledged"), cancelId));
    EXPECT_TRUE(recorder.hasEvent(QStringLiteral("analysisCanceled"), request.requestId));
    EXPECT_TRUE(recorder.errors.empty());

    client.cancel(request.taskId);
    ASSERT_EQ(recorder.errors.size(), 1U);
    EXPECT_EQ(recorder.errors[0].code, "worker.task_not_active");
    EXPECT_EQ(recorder.errors[0].message, "The requested Analyzer task is not active");

    // Nothing of the canceled task reaches the next one.
    constexpr std::size_t kNextPictures = 24;
    recorder.frames.clear();
    QTemporaryDir nextCacheRoot;
    ASSERT_FALSE(client.analyze(testMedia("main_420_8bit_gop8.hevc"), nextCacheRoot.path(),
                                AnalyzerAnalysisMode::StreamIndex).isEmpty());
    ASSERT_TRUE(WorkerClientRecorder::waitFor([&] { return client.state() != State::Busy; }));
    EXPECT_EQ(recorder.errors.size(), 1U);
    ASSERT_EQ(recorder.frames.size(), kNextPictures);
    EXPECT_EQ(recorder.frames.front().sequence, 1U);
    EXPECT_EQ(recorder.frames.back().sequence, kNextPictures);
    client.shutdown();
    EXPECT_EQ(client.state(), State::NotRunning);
}

TEST(AnalyzerWorkerClientTest, ReportsTheWorkersDeathAsACrash)
{
    AnalyzerWorkerClient client(nullptr, realWorker());
    WorkerClientRecorder recorder(client);
    ASSERT_TRUE(startAndGreet(client));
    ASSERT_EQ(::kill(static_cast<pid_t>(recorder.processId), SIGKILL), 0);
    ASSERT_TRUE(WorkerClientRecorder::waitFor([&] { return client.state() == State::Failed; }));
    ASSERT_EQ(recorder.errors.size(), 1U);
    const AnalyzerWorkerError& error = recorder.errors[0];
    EXPECT_EQ(error.code, "worker.crashed");
    EXPECT_EQ(error.message, "Analyzer Worker exited unexpectedly");
    EXPECT_EQ(error.detail, QStringLiteral("exitCode=%1, exitStatus=1").arg(error.exitCode));
    EXPECT_TRUE(error.recoverable);

    // A failed client starts again from scratch.
    ASSERT_TRUE(startAndGreet(client));
    client.shutdown();
    EXPECT_EQ(recorder.errors.size(), 1U);
}

}  // namespace
}  // namespace vexilo::application
