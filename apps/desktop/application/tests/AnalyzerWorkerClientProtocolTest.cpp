// The client against a scripted fake worker that does on purpose what the real worker never
// does, so that every failure the client reports is seen with its exact text.

#include "WorkerClientRecorder.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <optional>

namespace vexilo::application {
namespace {

using test::WorkerClientRecorder;
using State = AnalyzerWorkerState;

constexpr auto kProtocolError = "worker.protocol_error";
constexpr auto kProtocolMessage = "Analyzer Worker sent an invalid protocol message";
// Long enough to outlast a dead process's last signals, so a second report would be seen.
constexpr int kSettleMs = 300;

AnalyzerWorkerClientOptions fakeWorker(const char* script)
{
    AnalyzerWorkerClientOptions options;
    options.workerProgram = QStringLiteral(VEXILO_FAKE_WORKER_EXECUTABLE);
    options.workerArguments = {QStringLiteral("--script"), QLatin1String(script)};
    return options;
}

bool waitForState(const AnalyzerWorkerClient& client, State state)
{
    return WorkerClientRecorder::waitFor([&] { return client.state() == state; });
}

struct Session {
    explicit Session(const AnalyzerWorkerClientOptions& options) : client(nullptr, options), recorder(client) {}

    bool startReady()
    {
        startId = client.start();
        return !startId.isEmpty() && waitForState(client, State::Ready);
    }

    AnalyzerTaskRequest analyze(const QString& taskId = {})
    {
        return client.analyze(QStringLiteral("/input.hevc"), cacheRoot.path(), AnalyzerAnalysisMode::StreamIndex,
                              taskId);
    }

    // Waits for the one fatal report and then a little longer, so that any second one shows.
    bool failsOnce()
    {
        const bool failed = waitForState(client, State::Failed);
        QTest::qWait(kSettleMs);
        return failed && recorder.errors.size() == 1;
    }

    [[nodiscard]] bool failedForGood() const
    {
        const auto& states = recorder.states;
        const auto failed = std::find(states.begin(), states.end(), State::Failed);
        return failed != states.end() && std::find(failed, states.end(), State::Ready) == states.end();
    }

    AnalyzerWorkerClient client;
    WorkerClientRecorder recorder;
    QTemporaryDir cacheRoot;
    QString startId;
};

struct DefectCase {
    const char* script;
    bool analyzes;  // the defect shows only once an analysis runs
    const char* detail;
    bool atTheEnd = false;  // the defect comes with the run's end line
};

TEST(AnalyzerWorkerClientProtocolTest, EveryProtocolDefectIsOneFatalErrorThatEndsTheWorker)
{
    const std::vector<DefectCase> cases{
        {"unknown_request", false, "Analyzer Worker event has an unknown requestId"},
        {"repeat_hello", false, "Analyzer Worker event has an unknown requestId"},
        {"wrong_type", false, "Analyzer Worker event type does not match its request"},
        {"oversized_line", false, "Analyzer Worker produced an oversized JSONL line"},
        {"unterminated_line", false, "Analyzer Worker ended with an incomplete JSONL line"},
        {"invalid_json", false, "invalid JSON object: "},
        {"repeat_sequence", true, "Analyzer Worker event sequence is not strictly increasing"},
        {"task_mismatch", true, "Analyzer Worker event taskId does not match its request"},
        {"repeat_frame", true, "Analyzer frame sequence is not strictly increasing"},
        {"bad_frame", true, "Frame packet magic does not match VXFR", true},
        {"bad_frame_mid", true, "Frame packet magic does not match VXFR"},
        {"invalid_line_mid", true, "invalid JSON object: "},
        {"repeat_sequence_end", true, "Analyzer Worker event sequence is not strictly increasing"},
    };
    for (const DefectCase& testCase : cases) {
        SCOPED_TRACE(testCase.script);
        Session session(fakeWorker(testCase.script));
        ASSERT_FALSE(session.client.start().isEmpty());
        if (testCase.analyzes) {
            ASSERT_TRUE(waitForState(session.client, State::Ready));
            ASSERT_FALSE(session.analyze().isEmpty());
        }
        if (testCase.atTheEnd) {
            // Nothing is read meanwhile, so the frames wait beside the end line and the broken one
            // is found while the frame channel is drained for that line.
            QThread::msleep(kSettleMs * 5);
        }
        ASSERT_TRUE(session.failsOnce()) << session.recorder.errors.size() << " errors";
        const AnalyzerWorkerError& error = session.recorder.errors[0];
        EXPECT_EQ(error.code, kProtocolError);
        EXPECT_EQ(error.message, kProtocolMessage);
        EXPECT_TRUE(error.detail.startsWith(QLatin1String(testCase.detail))) << error.detail.toStdString();
        EXPECT_TRUE(error.recoverable);
        EXPECT_EQ(error.exitCode, 0);
        EXPECT_TRUE(session.failedForGood()) << "a defective run never comes back to Ready";
        EXPECT_FALSE(session.recorder.hasEvent(QStringLiteral("analysisFinished")))
            << "the end line of a defective run is not passed on";
        EXPECT_TRUE(session.client.analyze(QStringLiteral("/x.hevc"), QStringLiteral("/tmp"),
                                           AnalyzerAnalysisMode::StreamIndex).isEmpty());
    }
}

TEST(AnalyzerWorkerClientProtocolTest, HelloAnsweredByAnErrorIsAFatalStartFailure)
{
    Session session(fakeWorker("hello_error"));
    ASSERT_FALSE(session.client.start().isEmpty());
    ASSERT_TRUE(waitForState(session.client, State::Failed));
    QTest::qWait(kSettleMs);
    ASSERT_EQ(session.recorder.errors.size(), 2U);
    const AnalyzerWorkerError& workerError = session.recorder.errors[0];
    EXPECT_EQ(workerError.code, "protocol.unsupported_client");
    EXPECT_EQ(workerError.message, "Client is not supported");
    EXPECT_FALSE(workerError.recoverable);
    const AnalyzerWorkerError& startError = session.recorder.errors[1];
    EXPECT_EQ(startError.code, "worker.hello_rejected");
    EXPECT_EQ(startError.message, "Analyzer Worker rejected the hello request");
    EXPECT_EQ(startError.detail, "protocol.unsupported_client");
    EXPECT_EQ(startError.requestId, workerError.requestId);
    EXPECT_EQ(session.recorder.events.size(), 1U);
}

struct ExitCase {
    const char* script;
    const char* detail;  // empty: the signal's own exit code, crash status
};

TEST(AnalyzerWorkerClientProtocolTest, AnEndWithoutShutdownIsACrash)
{
    for (const ExitCase& testCase : {ExitCase{"exit_zero", "exitCode=0, exitStatus=0"}, ExitCase{"crash", ""}}) {
        SCOPED_TRACE(testCase.script);
        Session session(fakeWorker(testCase.script));
        ASSERT_FALSE(session.client.start().isEmpty());
        ASSERT_TRUE(session.failsOnce());
        const AnalyzerWorkerError& error = session.recorder.errors[0];
        EXPECT_EQ(error.code, "worker.crashed");
        EXPECT_EQ(error.message, "Analyzer Worker exited unexpectedly");
        const QString detail = *testCase.detail != '\0'
                                   ? QLatin1String(testCase.detail)
                                   : QStringLiteral("exitCode=%1, exitStatus=1").arg(error.exitCode);
        EXPECT_EQ(error.detail, detail);
    }
}

struct SilenceCase {
    const char* script;
    const char* requestType;
    bool analyzes;
    bool cancels;
};

TEST(AnalyzerWorkerClientProtocolTest, SilencePastADeadlineTimesOut)
{
    const std::vector<SilenceCase> cases{
        {"silent", "hello", false, false},
        {"silent_analyze", "analyze", true, false},
        {"probe_then_silent", "analyze", true, false},
        {"silent_cancel", "cancel", true, true},
    };
    for (const SilenceCase& testCase : cases) {
        SCOPED_TRACE(testCase.script);
        AnalyzerWorkerClientOptions options = fakeWorker(testCase.script);
        // Deadlines short for the request under test, generous for those before it
        // (the sanitized fake needs a while to answer "hello" on a loaded machine).
        options.controlTimeoutMs = testCase.analyzes ? (testCase.cancels ? 1500 : 10000) : 200;
        options.analyzeTimeoutMs = testCase.cancels ? 60000 : 300;
        Session session(options);
        session.startId = session.client.start();
        AnalyzerTaskRequest task;
        QString expectedRequestId = session.startId;
        if (testCase.analyzes) {
            ASSERT_TRUE(waitForState(session.client, State::Ready));
            task = session.analyze();
            expectedRequestId = task.requestId;
        }
        if (testCase.cancels) {
            ASSERT_TRUE(WorkerClientRecorder::waitFor(
                [&] { return session.recorder.hasEvent(QStringLiteral("analysisStarted")); }));
            expectedRequestId = session.client.cancel(task.taskId);
        }
        ASSERT_TRUE(session.failsOnce());
        const AnalyzerWorkerError& error = session.recorder.errors[0];
        EXPECT_EQ(error.code, "worker.timeout");
        EXPECT_EQ(error.message, "Analyzer Worker request timed out");
        EXPECT_EQ(error.detail, QStringLiteral("type=%1").arg(QLatin1String(testCase.requestType)));
        EXPECT_EQ(error.requestId, expectedRequestId);
        EXPECT_EQ(error.taskId, task.taskId);
    }
}

// A loaded machine can stall the GUI thread past both deadlines while the worker starts and
// answers in time: the deadlines count the worker's time, not the stall's.
TEST(AnalyzerWorkerClientProtocolTest, AStalledGuiThreadDoesNotFailAWorkerThatAnsweredInTime)
{
    constexpr unsigned long kStallMs = 2000;
    AnalyzerWorkerClientOptions options = fakeWorker("normal");
    options.startTimeoutMs = 100;
    options.controlTimeoutMs = 100;
    Session session(options);
    QObject::connect(&session.client, &AnalyzerWorkerClient::workerStarted, &session.client,
                     [] { QThread::msleep(kStallMs); });  // right after "hello" was written
    ASSERT_FALSE(session.client.start().isEmpty());
    QThread::msleep(kStallMs);  // the process starts while nothing here runs
    ASSERT_TRUE(WorkerClientRecorder::waitFor([&] {
        return session.client.state() == State::Ready || session.client.state() == State::Failed;
    }));
    EXPECT_EQ(session.client.state(), State::Ready);
    EXPECT_TRUE(session.recorder.errors.empty()) << session.recorder.errors.front().code.toStdString();
    session.client.shutdown();
}

TEST(AnalyzerWorkerClientProtocolTest, FramesKeepAnAnalysisAlivePastItsDeadline)
{
    AnalyzerWorkerClientOptions options = fakeWorker("slow_frames");
    options.analyzeTimeoutMs = 500;  // the fake sends a frame every 100 ms for 1.5 s
    Session session(options);
    ASSERT_TRUE(session.startReady());
    ASSERT_FALSE(session.analyze().isEmpty());
    ASSERT_TRUE(WorkerClientRecorder::waitFor([&] { return session.client.state() != State::Busy; }));
    EXPECT_TRUE(session.recorder.errors.empty()) << session.recorder.errors.front().detail.toStdString();
    EXPECT_TRUE(session.recorder.hasEvent(QStringLiteral("analysisFinished")));
    EXPECT_EQ(session.recorder.frames.size(), 15U);
    session.client.shutdown();
}

TEST(AnalyzerWorkerClientProtocolTest, AWorkerErrorForAnAnalysisFreesTheTask)
{
    Session session(fakeWorker("analyze_error"));
    ASSERT_TRUE(session.startReady());
    const AnalyzerTaskRequest task = session.analyze(QStringLiteral("task.1"));
    ASSERT_EQ(task.taskId, "task.1");
    ASSERT_TRUE(waitForState(session.client, State::Ready));
    ASSERT_EQ(session.recorder.errors.size(), 1U);
    const AnalyzerWorkerError& error = session.recorder.errors[0];
    EXPECT_EQ(error.code, "analyzer.invalid_input");
    EXPECT_EQ(error.message, "Analyze requires a non-empty inputPath");
    EXPECT_EQ(error.requestId, task.requestId);
    EXPECT_EQ(error.taskId, "task.1");
    EXPECT_TRUE(error.recoverable);
    EXPECT_TRUE(session.recorder.hasEvent(QStringLiteral("error"), task.requestId));
    EXPECT_FALSE(session.analyze().isEmpty()) << "the client takes the next task";
    session.client.shutdown();
}

TEST(AnalyzerWorkerClientProtocolTest, OnlyOneFrameConnectionAtATime)
{
    Session session(fakeWorker("second_connection"));
    ASSERT_TRUE(session.startReady());
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        session.recorder.frames.clear();
        ASSERT_FALSE(session.analyze().isEmpty());
        ASSERT_TRUE(WorkerClientRecorder::waitFor(
            [&] { return session.client.state() == State::Ready && session.recorder.frames.size() == 3; }));
        EXPECT_EQ(session.recorder.frames.front().sequence, 1U) << "each task numbers its frames from 1";
        QTest::qWait(50);  // lets the finished task's connection close before the next one opens
    }
    EXPECT_TRUE(WorkerClientRecorder::waitFor(
        [&] { return session.recorder.stderrText.contains(QLatin1String("second frame connection closed")); }))
        << session.recorder.stderrText.toStdString();
    EXPECT_TRUE(session.recorder.errors.empty());
    session.client.shutdown();
}

TEST(AnalyzerWorkerClientProtocolTest, ASlowShutdownEndsInAKillWithinItsBound)
{
    AnalyzerWorkerClientOptions options = fakeWorker("slow_shutdown");
    options.shutdownTimeoutMs = 300;
    Session session(options);
    ASSERT_TRUE(session.startReady());
    session.client.shutdown();
    EXPECT_EQ(session.client.state(), State::NotRunning);
    ASSERT_EQ(session.recorder.errors.size(), 1U);
    EXPECT_EQ(session.recorder.errors[0].code, "worker.crashed");
    EXPECT_TRUE(session.recorder.errors[0].detail.endsWith(QLatin1String("exitStatus=1")));
}

TEST(AnalyzerWorkerClientProtocolTest, RequestsThatCannotBeSentAreRefusedWithoutWriting)
{
    Session session(fakeWorker("normal"));
    session.analyze(QStringLiteral("early"));
    ASSERT_TRUE(session.startReady());
    session.client.analyzePictureStructure(QStringLiteral("/input.hevc"), session.cacheRoot.path(), 0,
                                           QStringLiteral("t0"));
    session.analyze(QString(129, QLatin1Char('a')));
    session.analyze(QStringLiteral("-starts-with-dash"));
    session.client.cancel(QStringLiteral("never-started"));

    struct Expected {
        const char* code;
        const char* message;
        QString taskId;
    };
    const std::vector<Expected> expected{
        {"worker.invalid_state", "Analyzer Worker is not ready for a new task", QStringLiteral("early")},
        {"worker.invalid_target_picture", "Target decode picture ID must be positive", QStringLiteral("t0")},
        {"worker.invalid_task_id", "The Analyzer task ID is not a valid protocol identifier", QString(129, 'a')},
        {"worker.invalid_task_id", "The Analyzer task ID is not a valid protocol identifier",
         QStringLiteral("-starts-with-dash")},
        {"worker.task_not_active", "The requested Analyzer task is not active", QStringLiteral("never-started")},
    };
    ASSERT_EQ(session.recorder.errors.size(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index) {
        const AnalyzerWorkerError& error = session.recorder.errors[index];
        EXPECT_EQ(error.code, expected[index].code);
        EXPECT_EQ(error.message, expected[index].message);
        EXPECT_EQ(error.taskId, expected[index].taskId);
        EXPECT_TRUE(error.detail.isEmpty());
        EXPECT_TRUE(error.recoverable);
    }
    EXPECT_EQ(session.client.state(), State::Ready) << "none of them harms the run";
    EXPECT_EQ(session.recorder.events.size(), 1U) << "nothing was written, so nothing was answered";

    const AnalyzerTaskRequest busy = session.analyze();
    ASSERT_FALSE(busy.isEmpty());
    session.analyze();
    EXPECT_EQ(session.recorder.errors.back().code, "worker.invalid_state") << "one task at a time";
    session.client.shutdown();
}

TEST(AnalyzerWorkerClientProtocolTest, ModeNamesOnTheWire)
{
    Session session(fakeWorker("normal"));
    ASSERT_TRUE(session.startReady());
    struct ModeName {
        AnalyzerAnalysisMode mode;
        const char* name;
    };
    for (const ModeName& mode : {ModeName{AnalyzerAnalysisMode::BoundedStructure, "bounded_structure"},
                                 ModeName{static_cast<AnalyzerAnalysisMode>(7), "stream_index"}}) {
        ASSERT_FALSE(session.client.analyze(QStringLiteral("/in.hevc"), QStringLiteral("/cache"), mode.mode).isEmpty());
        ASSERT_TRUE(waitForState(session.client, State::Ready));
        const protocol::AnalyzerProtocolMessage* started =
            session.recorder.lastEvent(QStringLiteral("analysisStarted"));
        ASSERT_NE(started, nullptr);
        EXPECT_EQ(started->payload.value("analysisMode").toString(), QLatin1String(mode.name));
    }
    ASSERT_FALSE(session.client.analyzePictureStructure(QStringLiteral("/in.hevc"), QStringLiteral("/cache"), 12)
                     .isEmpty());
    ASSERT_TRUE(waitForState(session.client, State::Ready));
    const QJsonObject payload = session.recorder.lastEvent(QStringLiteral("analysisStarted"))->payload;
    EXPECT_EQ(payload.value("analysisMode").toString(), "picture_structure");
    EXPECT_EQ(payload.value("targetDecodePictureId").toInteger(), 12);
    EXPECT_EQ(payload.value("inputPath").toString(), "/in.hevc");
    EXPECT_EQ(payload.value("cacheRoot").toString(), "/cache");
    session.client.shutdown();
    EXPECT_TRUE(session.recorder.errors.empty());
}

TEST(AnalyzerWorkerClientProtocolTest, StartFailuresAreReportedAgainstTheStartId)
{
    AnalyzerWorkerClientOptions missing;
    missing.workerProgram = QStringLiteral("/nonexistent/vexilo-analyzer-worker");
    Session session(missing);
    const QString startId = session.client.start();
    ASSERT_FALSE(startId.isEmpty());
    ASSERT_TRUE(session.failsOnce());
    EXPECT_EQ(session.recorder.errors[0].code, "worker.start_failed");
    EXPECT_EQ(session.recorder.errors[0].message, "Analyzer Worker could not be started");
    EXPECT_EQ(session.recorder.errors[0].requestId, startId);
    EXPECT_FALSE(session.recorder.errors[0].detail.isEmpty());

    // The local server makes its socket in the temporary directory; without one it cannot listen.
    const QByteArray temporary = qgetenv("TMPDIR");
    qputenv("TMPDIR", "/proc");
    Session unlistened(fakeWorker("normal"));
    const QString noStart = unlistened.client.start();
    qputenv("TMPDIR", temporary);
    EXPECT_TRUE(noStart.isEmpty());
    EXPECT_EQ(unlistened.client.state(), State::Failed);
    ASSERT_EQ(unlistened.recorder.errors.size(), 1U);
    EXPECT_EQ(unlistened.recorder.errors[0].code, "worker.frame_channel_listen_failed");
    EXPECT_EQ(unlistened.recorder.errors[0].message, "Could not create the Analyzer frame channel");
    EXPECT_FALSE(unlistened.recorder.errors[0].detail.isEmpty());
}


}  // namespace
}  // namespace vexilo::application
