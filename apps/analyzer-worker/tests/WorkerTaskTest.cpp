#include "WorkerFramePacketReader.h"
#include "WorkerInProcess.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/error.h>
}

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QUuid>

#include <atomic>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <thread>

namespace vexilo::analyzer {
namespace {

using testing::InProcessWorker;
using testing::WirePacket;

domain::VideoFrame smallFrame(std::int64_t index)
{
    domain::VideoFrame frame;
    frame.index = index;
    frame.width = 3;
    frame.height = 2;
    frame.bitDepth = 8;
    frame.pixelFormatName = "yuv420p";
    frame.chromaFormat = domain::ChromaFormat::Yuv420;
    frame.colourRange = domain::ColourRange::Full;
    frame.matrix = domain::ColourMatrix::Bt2020;
    const std::array<std::pair<int, int>, 3> sizes{{{3, 2}, {2, 1}, {2, 1}}};
    for (std::uint8_t plane = 0; plane < 3; ++plane) {
        domain::VideoPlane entry;
        entry.planeIndex = plane;
        entry.width = sizes[plane].first;
        entry.height = sizes[plane].second;
        entry.stride = entry.width;
        entry.bytesPerSample = 1;
        for (int i = 0; i < entry.width * entry.height; ++i) {
            entry.samples.push_back(static_cast<std::uint8_t>(index * 16 + plane * 4 + i));
        }
        frame.planes.push_back(entry);
    }
    return frame;
}

domain::PictureInfo smallPicture(std::int64_t index)
{
    domain::PictureInfo picture;
    picture.id = index;
    picture.displayIndex = index;
    picture.pts = index * 1000;
    picture.pictureType = domain::PictureType::P;
    picture.width = 3;
    picture.height = 2;
    picture.bitDepth = 8;
    return picture;
}

AnalyzerRunResult successfulResult(const std::filesystem::path& input, const std::filesystem::path& cacheRoot)
{
    AnalyzerRunResult result;
    result.succeeded = true;
    result.inputPath = input;
    result.codecName = "hevc";
    result.width = 3;
    result.height = 2;
    result.bitDepth = 8;
    result.pixelFormat = "yuv420p";
    result.pictureCount = 4;
    result.metadataPath = cacheRoot / "stream.vxmeta";
    result.nalUnitCount = 1;
    result.parameterSetCount = 2;
    result.seiMessageCount = 3;
    result.sliceCount = 4;
    result.shortTermReferenceCount = 5;
    result.longTermReferenceCount = 6;
    result.referenceListEntryCount = 7;
    result.dpbSnapshotEntryCount = 8;
    result.decodedPictureCount = 4;
    result.ctuCount = 9;
    result.cuCount = 10;
    result.puCount = 0;
    result.tuCount = 12;
    result.motionVectorCount = 13;
    result.picturesWithBlocks = 1;
    result.packetsRead = 6;
    result.packetsSent = 5;
    return result;
}

// Sends `frames` pictures through the sink, then reports success.
AnalysisPipeline framesPipeline(int frames)
{
    return [frames](const std::filesystem::path& input, const std::filesystem::path& cacheRoot,
                    const CancelRequest&, AnalysisMode, const PictureTarget&, FrameSink sink) {
        for (int i = 0; i < frames && sink; ++i) {
            if (!sink(smallPicture(i), smallFrame(i))) {
                AnalyzerRunResult failed;
                failed.code = "analyzer.decode_failed";
                return failed;
            }
        }
        return successfulResult(input, cacheRoot);
    };
}

class WorkerTaskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::coreApplication();
        ASSERT_TRUE(directory.isValid());
        QFile input(directory.filePath(QStringLiteral("clip.hevc")));
        ASSERT_TRUE(input.open(QIODevice::WriteOnly));
        input.write("not really hevc");
        ASSERT_TRUE(QDir(directory.path()).mkdir(QStringLiteral("cache")));
        channelName = QStringLiteral("vexilo-frame-test-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces));
    }

    QByteArray analyzeLine(const char* requestId, const char* taskId, QJsonObject extra = {}) const
    {
        extra.insert(QStringLiteral("inputPath"), directory.filePath(QStringLiteral("clip.hevc")));
        extra.insert(QStringLiteral("cacheRoot"), directory.filePath(QStringLiteral("cache")));
        return testing::requestLine("analyze", requestId, extra, taskId);
    }

    QString cachePath() const { return QFileInfo(directory.filePath(QStringLiteral("cache"))).canonicalFilePath(); }

    static QJsonObject expectEvent(InProcessWorker& worker, const char* type, const char* taskId)
    {
        const QJsonObject event = worker.nextEvent();
        EXPECT_EQ(event.value(QStringLiteral("type")).toString().toStdString(), type);
        EXPECT_EQ(event.value(QStringLiteral("taskId")).toString().toStdString(), taskId);
        return event.value(QStringLiteral("payload")).toObject();
    }

    QTemporaryDir directory;
    QString channelName;
};

// Accepts the worker's frame channel and collects whole packets from it.
class FrameChannelServer {
public:
    explicit FrameChannelServer(const QString& name)
    {
        QLocalServer::removeServer(name);
        server_.listen(name);
        QObject::connect(&server_, &QLocalServer::newConnection, [this] {
            while (QLocalSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QLocalSocket::readyRead, [this, socket] { buffer_ += socket->readAll(); });
            }
        });
    }

    [[nodiscard]] bool listening() const { return server_.isListening(); }

    std::vector<WirePacket> takePackets()
    {
        std::vector<WirePacket> packets;
        qsizetype consumed = 0;
        while (std::optional<WirePacket> packet = testing::readWirePacket(buffer_, consumed)) {
            packets.push_back(*packet);
            buffer_.remove(0, consumed);
        }
        return packets;
    }

private:
    QLocalServer server_;
    QByteArray buffer_;
};

TEST_F(WorkerTaskTest, SendsFramePacketsThenProbeResultAndAnalysisFinished)
{
    FrameChannelServer server(channelName);
    ASSERT_TRUE(server.listening());
    InProcessWorker worker(framesPipeline(3), channelName);
    ASSERT_TRUE(worker.started());
    worker.send(testing::requestLine("hello", "h1"));
    worker.nextEvent();

    worker.send(analyzeLine("a1", "t1", {{"analysisMode", "picture_structure"}, {"targetDecodePictureId", 7}}));
    expectEvent(worker, "analysisStarted", "t1");
    const QJsonObject probe = expectEvent(worker, "probeResult", "t1");
    const QString metadataPath = cachePath() + QStringLiteral("/stream.vxmeta");
    EXPECT_EQ(probe, (QJsonObject{{"codecName", "hevc"},
                                  {"width", 3},
                                  {"height", 2},
                                  {"bitDepth", 8},
                                  {"pixelFormat", "yuv420p"},
                                  {"pictureCount", 4},
                                  {"analysisMode", "picture_structure"},
                                  {"targetDecodePictureId", 7},
                                  {"metadataPath", metadataPath},
                                  {"nalUnitCount", 1},
                                  {"parameterSetCount", 2},
                                  {"seiMessageCount", 3},
                                  {"sliceCount", 4},
                                  {"shortTermReferenceCount", 5},
                                  {"longTermReferenceCount", 6},
                                  {"referenceListEntryCount", 7},
                                  {"dpbSnapshotEntryCount", 8},
                                  {"decodedPictureCount", 4},
                                  {"ctuCount", 9},
                                  {"cuCount", 10},
                                  {"puCount", 0},
                                  {"tuCount", 12},
                                  {"motionVectorCount", 13},
                                  {"structuresEmitted", 80},
                                  {"picturesWithBlocks", 1},
                                  {"packetsRead", 6},
                                  {"packetsSent", 5}}));
    const QJsonObject finished = expectEvent(worker, "analysisFinished", "t1");
    EXPECT_EQ(finished, (QJsonObject{{"probeCompleted", true},
                                     {"analysisMode", "picture_structure"},
                                     {"targetDecodePictureId", 7},
                                     {"structuresEmitted", 80},
                                     {"metadataPath", metadataPath},
                                     {"nalUnitCount", 1},
                                     {"parameterSetCount", 2},
                                     {"seiMessageCount", 3},
                                     {"sliceCount", 4},
                                     {"shortTermReferenceCount", 5},
                                     {"longTermReferenceCount", 6},
                                     {"referenceListEntryCount", 7},
                                     {"dpbSnapshotEntryCount", 8},
                                     {"ctuCount", 9},
                                     {"cuCount", 10},
                                     {"puCount", 0},
                                     {"tuCount", 12},
                                     {"motionVectorCount", 13},
                                     {"cuDataProduced", true},
                                     {"puDataProduced", false},
                                     {"tuDataProduced", true},
                                     {"picturesWithBlocks", 1},
                                     {"packetsRead", 6},
                                     {"packetsSent", 5}}));

    // Every packet was taken before the task's last events were written.
    std::vector<WirePacket> packets;
    ASSERT_TRUE(testing::spinUntil([&] {
        for (const WirePacket& packet : server.takePackets()) {
            packets.push_back(packet);
        }
        return packets.size() >= 3;
    }));
    for (std::size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].sequence, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(packets[i].pictureId, static_cast<std::int64_t>(i));
        EXPECT_EQ(packets[i].pts, static_cast<std::int64_t>(i * 1000));
    }

    // A second task numbers its packets from 1 again.
    worker.send(analyzeLine("a2", "t2"));
    expectEvent(worker, "analysisStarted", "t2");
    expectEvent(worker, "probeResult", "t2");
    expectEvent(worker, "analysisFinished", "t2");
    packets.clear();
    ASSERT_TRUE(testing::spinUntil([&] {
        for (const WirePacket& packet : server.takePackets()) {
            packets.push_back(packet);
        }
        return packets.size() >= 3;
    }));
    EXPECT_EQ(packets.front().sequence, 1);
    EXPECT_EQ(packets.back().sequence, 3);
}

TEST_F(WorkerTaskTest, WithoutFrameChannelThePipelineGetsNoSink)
{
    bool sinkGiven = true;
    InProcessWorker worker(
        [&sinkGiven](const std::filesystem::path& input, const std::filesystem::path& cacheRoot,
                     const CancelRequest&, AnalysisMode, const PictureTarget&, FrameSink sink) {
            sinkGiven = static_cast<bool>(sink);
            return successfulResult(input, cacheRoot);
        },
        QString());
    worker.send(testing::requestLine("hello", "h1") + analyzeLine("a1", "t1"));
    worker.nextEvent();
    expectEvent(worker, "analysisStarted", "t1");
    expectEvent(worker, "probeResult", "t1");
    expectEvent(worker, "analysisFinished", "t1");
    EXPECT_FALSE(sinkGiven);
}

TEST_F(WorkerTaskTest, ModeAndTargetReachThePipeline)
{
    std::atomic<int> seenMode{-1};
    std::atomic<std::uint64_t> seenTarget{0};
    InProcessWorker worker(
        [&](const std::filesystem::path& input, const std::filesystem::path& cacheRoot, const CancelRequest&,
            AnalysisMode mode, const PictureTarget& target, FrameSink) {
            seenMode = static_cast<int>(mode);
            seenTarget = target.decodePictureId;
            return successfulResult(input, cacheRoot);
        },
        QString());
    worker.send(testing::requestLine("hello", "h1") +
                analyzeLine("a1", "t1", {{"analysisMode", "bounded_structure"}, {"targetDecodePictureId", 12}}));
    worker.nextEvent();
    expectEvent(worker, "analysisStarted", "t1");
    expectEvent(worker, "probeResult", "t1");
    EXPECT_EQ(seenMode.load(), static_cast<int>(AnalysisMode::BoundedStructure));
    EXPECT_EQ(seenTarget.load(), 12U);
}

// The pipeline only returns once it sees the cancel flag, and then claims success anyway.
AnalysisPipeline successAfterCancel()
{
    return [](const std::filesystem::path& input, const std::filesystem::path& cacheRoot,
              const CancelRequest& cancelRequest, AnalysisMode, const PictureTarget&, FrameSink) {
        while (!cancelRequest.requested.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return successfulResult(input, cacheRoot);
    };
}

TEST_F(WorkerTaskTest, CancellationWinsOverSuccess)
{
    InProcessWorker worker(successAfterCancel(), QString());
    worker.send(testing::requestLine("hello", "h1") + analyzeLine("a1", "t1"));
    worker.nextEvent();
    expectEvent(worker, "analysisStarted", "t1");
    worker.send(testing::requestLine("analyze", "a2", {}, "t2"));
    EXPECT_EQ(expectEvent(worker, "error", "t2").value(QStringLiteral("detail")).toString(), QStringLiteral("t1"));
    worker.send(testing::requestLine("cancel", "c1", {}, "t1"));
    EXPECT_EQ(expectEvent(worker, "cancelAcknowledged", "t1"), (QJsonObject{{"alreadyRequested", false}}));
    EXPECT_EQ(expectEvent(worker, "analysisCanceled", "t1"), (QJsonObject{{"reason", "requested"}}));
    worker.send(testing::requestLine("cancel", "c2", {}, "t1"));
    EXPECT_EQ(expectEvent(worker, "cancelAcknowledged", "t1"), (QJsonObject{{"alreadyRequested", true}}));
}

TEST_F(WorkerTaskTest, RemembersTheLast128CanceledTasks)
{
    InProcessWorker worker(
        [](const std::filesystem::path&, const std::filesystem::path&, const CancelRequest&, AnalysisMode,
           const PictureTarget&, FrameSink) {
            AnalyzerRunResult result;
            result.canceled = true;
            return result;
        },
        QString());
    worker.send(testing::requestLine("hello", "h1"));
    worker.nextEvent();
    for (int task = 0; task <= 128; ++task) {
        const QByteArray taskId = "t" + QByteArray::number(task);
        worker.send(analyzeLine("a", taskId.constData()));
        expectEvent(worker, "analysisStarted", taskId.constData());
        expectEvent(worker, "analysisCanceled", taskId.constData());
    }
    worker.send(testing::requestLine("cancel", "c0", {}, "t0"));
    EXPECT_EQ(expectEvent(worker, "error", "t0").value(QStringLiteral("code")).toString(),
              QStringLiteral("analyzer.task_not_active"));
    worker.send(testing::requestLine("cancel", "c1", {}, "t1"));
    EXPECT_EQ(expectEvent(worker, "cancelAcknowledged", "t1"), (QJsonObject{{"alreadyRequested", true}}));
}

TEST_F(WorkerTaskTest, ShutdownDuringTaskCancelsWithReasonShutdownThenAcknowledges)
{
    InProcessWorker worker(successAfterCancel(), QString());
    worker.send(testing::requestLine("hello", "h1") + analyzeLine("a1", "t1"));
    worker.nextEvent();
    expectEvent(worker, "analysisStarted", "t1");
    EXPECT_TRUE(worker.staysQuiet(100));
    worker.send(testing::requestLine("shutdown", "s1"));
    EXPECT_EQ(expectEvent(worker, "analysisCanceled", "t1"), (QJsonObject{{"reason", "shutdown"}}));
    const QJsonObject acknowledged = worker.nextEvent();
    EXPECT_EQ(acknowledged.value(QStringLiteral("type")).toString(), QStringLiteral("shutdownAcknowledged"));
    EXPECT_EQ(acknowledged.value(QStringLiteral("requestId")).toString(), QStringLiteral("s1"));
}

struct OutcomeCase {
    const char* name;
    AnalysisPipeline pipeline;
    const char* eventType;
    QJsonObject payload;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class WorkerTaskOutcomeTest : public WorkerTaskTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(WorkerTaskOutcomeTest, EndsWithTheSpecifiedEvent)
{
    InProcessWorker worker(GetParam().pipeline, QString());
    worker.send(testing::requestLine("hello", "h1") + analyzeLine("a1", "t1"));
    worker.nextEvent();
    expectEvent(worker, "analysisStarted", "t1");
    EXPECT_EQ(expectEvent(worker, GetParam().eventType, "t1"), GetParam().payload);
    EXPECT_TRUE(worker.staysQuiet(50));
}

AnalyzerRunResult failedRun()
{
    AnalyzerRunResult result;
    result.code = "analyzer.decode_failed";
    result.message = "FFmpeg failed while decoding the HEVC input";
    result.detail = "path=/x.hevc; ffmpegCode=-1163346256; description=External library failure";
    result.ffmpegCode = -1163346256;
    return result;
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, WorkerTaskOutcomeTest,
    ::testing::Values(
        OutcomeCase{"FailedRun",
                    [](const auto&, const auto&, const auto&, auto, auto, auto) { return failedRun(); }, "error",
                    QJsonObject{{"code", "analyzer.decode_failed"},
                                {"message", "FFmpeg failed while decoding the HEVC input"},
                                {"detail", "path=/x.hevc; ffmpegCode=-1163346256; description=External library failure"},
                                {"ffmpegCode", -1163346256},
                                {"recoverable", true}}},
        OutcomeCase{"StdException",
                    [](const auto&, const auto&, const auto&, auto, auto, auto) -> AnalyzerRunResult {
                        throw std::runtime_error("out of d\xc3\xa9" "codeurs");
                    },
                    "error",
                    QJsonObject{{"code", "analyzer.probe_exception"},
                                {"message", "FFmpeg probe raised an exception"},
                                {"detail", QStringLiteral("out of d\u00e9codeurs")},
                                {"recoverable", true}}},
        OutcomeCase{"UnknownException",
                    [](const auto&, const auto&, const auto&, auto, auto, auto) -> AnalyzerRunResult { throw 42; },
                    "error",
                    QJsonObject{{"code", "analyzer.probe_exception"},
                                {"message", "FFmpeg probe raised an unknown exception"},
                                {"detail", ""},
                                {"recoverable", true}}},
        OutcomeCase{"CanceledRun",
                    [](const auto&, const auto&, const auto&, auto, auto, auto) {
                        AnalyzerRunResult result;
                        result.canceled = true;
                        return result;
                    },
                    "analysisCanceled", QJsonObject{{"reason", "requested"}}}),
    [](const ::testing::TestParamInfo<OutcomeCase>& param) { return std::string(param.param.name); });

TEST_F(WorkerTaskTest, NegativePictureCountIsNullAndCuNeedsCtus)
{
    InProcessWorker worker(
        [](const std::filesystem::path& input, const std::filesystem::path& cacheRoot, const CancelRequest&,
           AnalysisMode, const PictureTarget&, FrameSink) {
            AnalyzerRunResult result = successfulResult(input, cacheRoot);
            result.pictureCount = -1;
            result.ctuCount = 0;
            result.puCount = 1;
            result.tuCount = 0;
            return result;
        },
        QString());
    worker.send(testing::requestLine("hello", "h1") + analyzeLine("a1", "t1"));
    worker.nextEvent();
    expectEvent(worker, "analysisStarted", "t1");
    const QJsonObject probe = expectEvent(worker, "probeResult", "t1");
    EXPECT_TRUE(probe.value(QStringLiteral("pictureCount")).isNull());
    EXPECT_EQ(probe.size(), 27);
    const QJsonObject finished = expectEvent(worker, "analysisFinished", "t1");
    EXPECT_EQ(finished.size(), 24);
    EXPECT_FALSE(finished.value(QStringLiteral("cuDataProduced")).toBool(true));
    EXPECT_TRUE(finished.value(QStringLiteral("puDataProduced")).toBool(false));
    EXPECT_FALSE(finished.value(QStringLiteral("tuDataProduced")).toBool(true));
    EXPECT_EQ(finished.value(QStringLiteral("structuresEmitted")), probe.value(QStringLiteral("structuresEmitted")));
}

// The desktop hangs up on the frame channel while the last frame is still on its way: the run
// does not finish as if every picture had arrived, it ends as a frame refused while decoding.
TEST_F(WorkerTaskTest, AFrameTheDesktopNeverTookFailsTheRun)
{
    QLocalServer server;
    QLocalServer::removeServer(channelName);
    ASSERT_TRUE(server.listen(channelName));
    std::atomic<bool> hungUp = false;
    QObject::connect(&server, &QLocalServer::newConnection, [&] {
        while (QLocalSocket* socket = server.nextPendingConnection()) {
            socket->abort();
            socket->deleteLater();
            hungUp = true;
        }
    });
    InProcessWorker worker(
        [&hungUp](const std::filesystem::path& input, const std::filesystem::path& cacheRoot, const CancelRequest&,
                  AnalysisMode, const PictureTarget&, FrameSink sink) {
            for (int waited = 0; !hungUp && waited < 5000; ++waited) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            // Queued: the write that fails comes after the run has succeeded.
            static_cast<void>(sink(smallPicture(0), smallFrame(0)));
            return successfulResult(input, cacheRoot);
        },
        channelName);
    worker.send(testing::requestLine("hello", "h1") + analyzeLine("a1", "t1"));
    worker.nextEvent();
    expectEvent(worker, "analysisStarted", "t1");
    const QJsonObject error = expectEvent(worker, "error", "t1");
    EXPECT_TRUE(hungUp);
    EXPECT_EQ(error.value(QStringLiteral("code")).toString(), QStringLiteral("analyzer.decode_failed"));
    EXPECT_EQ(error.value(QStringLiteral("message")).toString(),
              QStringLiteral("FFmpeg failed while decoding the HEVC input"));
    EXPECT_EQ(error.value(QStringLiteral("ffmpegCode")).toInt(), AVERROR_EXTERNAL);
}

TEST_F(WorkerTaskTest, UnreachableFrameChannelEndsWithProbeException)
{
    bool pipelineRan = false;
    InProcessWorker worker(
        [&pipelineRan](const std::filesystem::path&, const std::filesystem::path&, const CancelRequest&,
                       AnalysisMode, const PictureTarget&, FrameSink) {
            pipelineRan = true;
            return AnalyzerRunResult{};
        },
        channelName);
    worker.send(testing::requestLine("hello", "h1") + analyzeLine("a1", "t1"));
    worker.nextEvent();
    expectEvent(worker, "analysisStarted", "t1");
    const QJsonObject error = expectEvent(worker, "error", "t1");
    EXPECT_EQ(error.value(QStringLiteral("code")).toString(), QStringLiteral("analyzer.probe_exception"));
    EXPECT_TRUE(error.value(QStringLiteral("detail"))
                    .toString()
                    .startsWith(QStringLiteral("Could not connect to local frame channel: ")));
    EXPECT_FALSE(error.contains(QStringLiteral("ffmpegCode")));
    EXPECT_FALSE(pipelineRan);
}

}  // namespace
}  // namespace vexilo::analyzer
