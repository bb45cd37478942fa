#include "WorkerTestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QRandomGenerator>

#include <string>

namespace vexilo::analyzer {
namespace {

using testing::WorkerProcess;

constexpr auto kUsageText = "Usage: vexilo-analyzer-worker --parent-pid <pid> [--frame-channel <name>]\n";

QStringList withOwnParent(const QStringList& extra = {})
{
    return QStringList{QStringLiteral("--parent-pid"), QString::number(QCoreApplication::applicationPid())} + extra;
}

TEST(WorkerProcess, PingPrintsOnePongAndExitsZero)
{
    WorkerProcess worker({QStringLiteral("--ping")});
    ASSERT_EQ(worker.waitForExit(), 0);
    const QList<QByteArray> lines = worker.process.readAllStandardOutput().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].isEmpty());
    const QJsonObject event = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(event.value(QStringLiteral("type")).toString(), QStringLiteral("pong"));
    EXPECT_EQ(event.value(QStringLiteral("requestId")).toString(), QStringLiteral("ping"));
    EXPECT_EQ(event.value(QStringLiteral("sequence")).toInteger(), 1);
    EXPECT_EQ(event.value(QStringLiteral("protocolVersion")).toInteger(), 3);
    EXPECT_FALSE(event.contains(QStringLiteral("taskId")));
    EXPECT_EQ(event.value(QStringLiteral("payload")).toObject(), (QJsonObject{{"status", "ok"}}));
}

class WorkerUsageTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(WorkerUsageTest, PrintsUsageAndExits64)
{
    QStringList arguments;
    for (const std::string& argument : GetParam()) {
        arguments.append(QString::fromStdString(argument));
    }
    WorkerProcess worker(arguments);
    ASSERT_EQ(worker.waitForExit(), 64);
    EXPECT_TRUE(worker.process.readAllStandardOutput().isEmpty());
    EXPECT_EQ(worker.process.readAllStandardError().toStdString(), kUsageText);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, WorkerUsageTest,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"--ping", "--parent-pid", "1"},
                      std::vector<std::string>{"--parent-pid", "1", "--ping"},
                      std::vector<std::string>{"--parent-pid", "0"}, std::vector<std::string>{"--parent-pid", "-5"},
                      std::vector<std::string>{"--parent-pid", "x"}, std::vector<std::string>{"--parent-pid", "12abc"},
                      std::vector<std::string>{"--parent-pid"},
                      std::vector<std::string>{"--parent-pid", "1", "--frame-channel", ""},
                      std::vector<std::string>{"--frame-channel", "vexilo-frame-1-x"},
                      std::vector<std::string>{"--parent-pid", "1", "--frame-channel"},
                      std::vector<std::string>{"--parent-pid", "1", "--verbose", "1"},
                      std::vector<std::string>{"--parent-pid", "99999999999999999999"}));

TEST(WorkerProcess, MissingParentExits69)
{
    WorkerProcess worker({QStringLiteral("--parent-pid"), QStringLiteral("2147483646")});
    ASSERT_EQ(worker.waitForExit(), 69);
    EXPECT_TRUE(worker.process.readAllStandardOutput().isEmpty());
    EXPECT_EQ(worker.process.readAllStandardError(), QByteArray("Analyzer Worker parent process is unavailable\n"));
}

TEST(WorkerProcess, ClosingInputExits72)
{
    WorkerProcess worker(withOwnParent());
    worker.send(testing::requestLine("hello", "h1"));
    EXPECT_EQ(worker.nextEvent().value(QStringLiteral("type")).toString(), QStringLiteral("hello"));
    worker.process.closeWriteChannel();
    ASSERT_EQ(worker.waitForExit(), 72);
    const QByteArray diagnostics = worker.process.readAllStandardError();
    EXPECT_TRUE(diagnostics.startsWith("Analyzer Worker started with protocolVersion=3\n"));
    EXPECT_TRUE(diagnostics.endsWith("Analyzer Worker stdin closed; exiting to avoid an orphan\n"));
}

TEST(WorkerProcess, NullDeviceInputExits72)
{
    WorkerProcess worker(withOwnParent(), [](QProcess& process) {
        process.setStandardInputFile(QProcess::nullDevice());
    });
    EXPECT_EQ(worker.waitForExit(), 72);
}

TEST(WorkerProcess, ShutdownWrittenJustBeforeClosingIsAcknowledged)
{
    WorkerProcess worker(withOwnParent());
    worker.process.write(testing::requestLine("shutdown", "bye"));
    worker.process.closeWriteChannel();
    const QJsonObject event = worker.nextEvent();
    EXPECT_EQ(event.value(QStringLiteral("type")).toString(), QStringLiteral("shutdownAcknowledged"));
    EXPECT_EQ(event.value(QStringLiteral("requestId")).toString(), QStringLiteral("bye"));
    EXPECT_EQ(event.value(QStringLiteral("payload")).toObject(), (QJsonObject{{"accepted", true}}));
    EXPECT_EQ(worker.waitForExit(), 0);
}

constexpr int kLoadedMachineExitWaitMs = 30000;

// The worker's 500 ms goal is measured by bench_worker_parent_exit; a loaded machine may
// stall any process for longer, so the test only bounds the wait generously.
TEST(WorkerProcess, ParentEndingExits72)
{
    QProcess parent;
    parent.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    ASSERT_TRUE(parent.waitForStarted());
    WorkerProcess worker({QStringLiteral("--parent-pid"), QString::number(parent.processId())});
    worker.send(testing::requestLine("hello", "h1"));
    ASSERT_EQ(worker.nextEvent().value(QStringLiteral("type")).toString(), QStringLiteral("hello"));

    parent.kill();
    ASSERT_EQ(worker.waitForExit(kLoadedMachineExitWaitMs), 72);
    parent.waitForFinished();
    EXPECT_TRUE(worker.process.readAllStandardError().endsWith(
        "Analyzer Worker parent exited; terminating orphan worker\n"));
}

TEST(WorkerProcess, ClosedOutputExits74)
{
    // The worker's standard output feeds a process that ends at once, closing the pipe's read end.
    QProcess reader;
    WorkerProcess worker(withOwnParent(), [&reader](QProcess& process) { process.setStandardOutputProcess(&reader); });
    reader.start(QStringLiteral("true"), QStringList());
    ASSERT_TRUE(reader.waitForFinished());
    worker.send(testing::requestLine("hello", "h1"));
    ASSERT_EQ(worker.waitForExit(), 74);
    EXPECT_TRUE(worker.process.readAllStandardError().endsWith("Could not write JSONL event to stdout\n"));
}

TEST(WorkerProcess, OversizedLineIsReportedOnceAndSkipped)
{
    WorkerProcess worker(withOwnParent());
    // Exactly the limit without a line feed is still a line in the making.
    worker.send(QByteArray(1'048'576, 'x'));
    worker.send(testing::requestLine("hello", "h0").chopped(1));
    // The line ends here, but it is far over the limit: reported once, then dropped to its end.
    worker.send(QByteArray(70'000, 'y') + "\n" + testing::requestLine("hello", "h1"));
    QJsonObject event = worker.nextEvent();
    EXPECT_EQ(event.value(QStringLiteral("type")).toString(), QStringLiteral("error"));
    EXPECT_EQ(event.value(QStringLiteral("requestId")).toString(), QStringLiteral("invalid-request-1"));
    EXPECT_EQ(event.value(QStringLiteral("payload")).toObject(),
              (QJsonObject{{"code", "protocol.line_too_large"},
                           {"message", "Protocol request exceeds the 1 MiB line limit"},
                           {"detail", ""},
                           {"recoverable", false}}));
    event = worker.nextEvent();
    EXPECT_EQ(event.value(QStringLiteral("type")).toString(), QStringLiteral("hello"));
    EXPECT_EQ(event.value(QStringLiteral("requestId")).toString(), QStringLiteral("h1"));
    EXPECT_EQ(event.value(QStringLiteral("sequence")).toInteger(), 2);
}

TEST(WorkerProcess, LongLineArrivingWholeReachesTheCodec)
{
    WorkerProcess worker(withOwnParent());
    worker.send(QByteArray(1'048'577, ' ') + "\n");
    const QJsonObject event = worker.nextEvent();
    const QJsonObject payload = event.value(QStringLiteral("payload")).toObject();
    EXPECT_EQ(payload.value(QStringLiteral("code")).toString(), QStringLiteral("protocol.invalid_request"));
    EXPECT_EQ(payload.value(QStringLiteral("detail")).toString(), QStringLiteral("protocol line exceeds 1 MiB"));
}

TEST(WorkerProcess, FastWriterCannotGrowTheInputBuffer)
{
    WorkerProcess worker(withOwnParent());
    // 64 MiB without a line feed: exactly one error, and the worker keeps answering.
    const QByteArray chunk(1 << 20, 'z');
    for (int i = 0; i < 64; ++i) {
        worker.send(chunk);
    }
    worker.send("\n" + testing::requestLine("hello", "after"));
    const QJsonObject error = worker.nextEvent();
    EXPECT_EQ(error.value(QStringLiteral("payload")).toObject().value(QStringLiteral("code")).toString(),
              QStringLiteral("protocol.line_too_large"));
    const QJsonObject hello = worker.nextEvent();
    EXPECT_EQ(hello.value(QStringLiteral("requestId")).toString(), QStringLiteral("after"));
}

TEST(WorkerProcess, RandomLinesEachGetOneInvalidRequestError)
{
    WorkerProcess worker(withOwnParent());
    QRandomGenerator random(77);
    constexpr int kLines = 200;
    QByteArray input;
    for (int line = 0; line < kLines; ++line) {
        const int length = random.bounded(0, 300);
        for (int i = 0; i < length; ++i) {
            const auto byte = static_cast<char>(random.bounded(0, 256));
            input.append(byte == '\n' ? '{' : byte);
        }
        input.append('\n');
    }
    worker.send(input + testing::requestLine("hello", "still-here"));
    for (int line = 0; line < kLines; ++line) {
        const QJsonObject event = worker.nextEvent();
        ASSERT_EQ(event.value(QStringLiteral("payload")).toObject().value(QStringLiteral("code")).toString(),
                  QStringLiteral("protocol.invalid_request"))
            << "line " << line;
    }
    EXPECT_EQ(worker.nextEvent().value(QStringLiteral("requestId")).toString(), QStringLiteral("still-here"));
}

}  // namespace
}  // namespace vexilo::analyzer
