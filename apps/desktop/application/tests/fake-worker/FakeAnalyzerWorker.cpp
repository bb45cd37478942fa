// A scripted stand-in for vexilo-analyzer-worker. It speaks the same protocol, but its
// script (`--script NAME` before the usual options) makes it do on purpose what the real
// worker never does: break sequences, answer the wrong request, go silent, crash, refuse to
// quit. Each script departs from the well-behaved run at one point only.

#include "vexilo/protocol/FramePacket.h"
#include "RequestLoop.h"
#include "vexilo/protocol/ProtocolMessage.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QStringList>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include <unistd.h>

namespace {

namespace type = vexilo::protocol::message_type;
using vexilo::protocol::AnalyzerProtocolMessage;

constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 8;
constexpr int kFramesPerTask = 3;
constexpr int kSlowFrameCount = 15;
constexpr int kSlowFrameIntervalMs = 100;
constexpr int kConnectTimeoutMs = 3000;
constexpr std::size_t kOversizedLineBytes = 1'100'000;

struct Options {
    QString script;
    QString frameChannel;
};

Options parseOptions(const QStringList& arguments)
{
    Options options;
    for (qsizetype index = 1; index + 1 < arguments.size(); index += 2) {
        if (arguments[index] == QLatin1String("--script")) {
            options.script = arguments[index + 1];
        } else if (arguments[index] == QLatin1String("--frame-channel")) {
            options.frameChannel = arguments[index + 1];
        }
    }
    return options;
}

// Leaves without the sanitizers' exit-time leak check, which would change the exit code
// that the tests look at.
[[noreturn]] void exitNow(int code)
{
    std::fflush(nullptr);
    ::_exit(code);
}

[[noreturn]] void idleForever()
{
    for (;;) {
        QThread::msleep(1000);
    }
}

QByteArray framePacket(std::uint64_t sequence)
{
    vexilo::protocol::AnalyzerFramePacket packet;
    packet.sequence = sequence;
    packet.picture.id = static_cast<std::int64_t>(sequence);
    packet.picture.displayIndex = static_cast<std::int64_t>(sequence) - 1;
    packet.picture.width = kFrameWidth;
    packet.picture.height = kFrameHeight;
    packet.picture.bitDepth = 8;
    packet.frame.index = packet.picture.id;
    packet.frame.width = kFrameWidth;
    packet.frame.height = kFrameHeight;
    packet.frame.bitDepth = 8;
    packet.frame.pixelFormatName = "yuv420p";
    packet.frame.chromaFormat = vexilo::domain::ChromaFormat::Yuv420;
    for (std::uint8_t index = 0; index < 3; ++index) {
        const std::int32_t width = index == 0 ? kFrameWidth : kFrameWidth / 2;
        const std::int32_t height = index == 0 ? kFrameHeight : kFrameHeight / 2;
        packet.frame.planes.push_back({index, width, height, width, 1,
                                       std::vector<std::uint8_t>(static_cast<std::size_t>(width * height), index)});
    }
    return vexilo::protocol::serializeAnalyzerFramePacket(packet);
}

class FakeWorker {
public:
    explicit FakeWorker(Options options) : options_(std::move(options)) {}

    void run()
    {
        vexilo::test::forEachRequest([this](const AnalyzerProtocolMessage& request) { handle(request); });
    }

private:
    [[nodiscard]] bool is(const char* script) const { return options_.script == QLatin1String(script); }

    void send(const QString& eventType, const QString& requestId, const QString& taskId,
              const QJsonObject& payload = {}, std::uint64_t sequence = 0)
    {
        AnalyzerProtocolMessage event;
        event.type = eventType;
        event.requestId = requestId;
        event.taskId = taskId;
        event.sequence = sequence != 0 ? sequence : ++sequence_;
        event.payload = payload;
        writeRaw(vexilo::protocol::serializeProtocolMessage(event, vexilo::protocol::ProtocolDirection::Event));
    }

    static void writeRaw(const QByteArray& bytes)
    {
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
        std::fflush(stdout);
    }

    void handle(const AnalyzerProtocolMessage& request)
    {
        if (request.type == type::hello) {
            handleHello(request);
        } else if (request.type == type::analyze) {
            handleAnalyze(request);
        } else if (request.type == type::cancel) {
            handleCancel(request);
        } else if (request.type == type::shutdown) {
            handleShutdown(request);
        }
    }

    void handleHello(const AnalyzerProtocolMessage& request)
    {
        if (is("silent")) {
            return;
        }
        if (is("hello_error")) {
            send(QString(type::error), request.requestId, {},
                 {{"code", "protocol.unsupported_client"}, {"message", "Client is not supported"},
                  {"detail", "clientProtocolVersion"}, {"recoverable", false}});
            return;
        }
        if (is("unknown_request")) {
            send(QString(type::hello), QStringLiteral("not-a-request"), {});
            return;
        }
        if (is("wrong_type")) {
            send(QString(type::shutdownAcknowledged), request.requestId, {});
            return;
        }
        send(QString(type::hello), request.requestId, {}, {{"workerName", "fake"}});
        afterHello(request);
    }

    void afterHello(const AnalyzerProtocolMessage& request)
    {
        if (is("repeat_hello")) {
            send(QString(type::hello), request.requestId, {});
        } else if (is("oversized_line")) {
            writeRaw(QByteArray(static_cast<qsizetype>(kOversizedLineBytes), 'x'));
            idleForever();
        } else if (is("unterminated_line")) {
            writeRaw(QByteArrayLiteral("{\"protocolVersion\":3"));
            exitNow(0);
        } else if (is("invalid_json")) {
            writeRaw(QByteArrayLiteral("not json\n"));
        } else if (is("exit_zero")) {
            exitNow(0);
        } else if (is("crash")) {
            std::raise(SIGKILL);
        }
    }

    void handleAnalyze(const AnalyzerProtocolMessage& request)
    {
        const QString& taskId = request.taskId;
        if (is("task_mismatch")) {
            send(QString(type::analysisStarted), request.requestId, QStringLiteral("someone-else"));
            return;
        }
        if (is("repeat_sequence")) {
            send(QString(type::analysisStarted), request.requestId, taskId, {}, sequence_);
            return;
        }
        if (is("analyze_error")) {
            send(QString(type::error), request.requestId, taskId,
                 {{"code", "analyzer.invalid_input"}, {"message", "Analyze requires a non-empty inputPath"},
                  {"detail", ""}, {"recoverable", true}});
            return;
        }
        send(QString(type::analysisStarted), request.requestId, taskId, request.payload);
        if (is("silent_analyze")) {
            return;
        }
        if (is("probe_then_silent")) {
            send(QString(type::probeResult), request.requestId, taskId);
            return;
        }
        activeRequestId_ = request.requestId;
        activeTaskId_ = taskId;
        if (is("cancelable") || is("silent_cancel")) {
            return;  // runs until canceled
        }
        sendFrames();
        if (is("bad_frame_mid")) {
            return;  // the broken packet is the run's last word
        }
        if (is("invalid_line_mid")) {
            writeRaw(QByteArrayLiteral("not json\n"));
            return;
        }
        send(QString(type::probeResult), request.requestId, taskId, request.payload);
        // "repeat_sequence_end" breaks the run only with its end line.
        send(QString(type::analysisFinished), request.requestId, taskId, request.payload,
             is("repeat_sequence_end") ? sequence_ : 0);
        activeRequestId_.clear();
    }

    std::unique_ptr<QLocalSocket> connectFrameChannel()
    {
        auto socket = std::make_unique<QLocalSocket>();
        socket->connectToServer(options_.frameChannel, QIODevice::WriteOnly);
        if (!socket->waitForConnected(kConnectTimeoutMs)) {
            std::fprintf(stderr, "frame channel unreachable\n");
            return nullptr;
        }
        return socket;
    }

    static void writeFrame(QLocalSocket& socket, const QByteArray& bytes)
    {
        socket.write(bytes);
        while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(kConnectTimeoutMs)) {
        }
    }

    void sendFrames()
    {
        std::unique_ptr<QLocalSocket> socket = connectFrameChannel();
        if (!socket) {
            return;
        }
        if (is("second_connection") && !secondConnectionTried_) {
            secondConnectionTried_ = true;
            std::unique_ptr<QLocalSocket> second = connectFrameChannel();
            const bool closed = second && (second->state() == QLocalSocket::UnconnectedState ||
                                           second->waitForDisconnected(kConnectTimeoutMs));
            std::fprintf(stderr, closed ? "second frame connection closed\n" : "second frame connection kept\n");
            std::fflush(stderr);
        }
        const int count = is("slow_frames") ? kSlowFrameCount : kFramesPerTask;
        for (int frame = 1; frame <= count; ++frame) {
            if (is("slow_frames")) {
                QThread::msleep(kSlowFrameIntervalMs);
            }
            writeFrame(*socket, framePacket(static_cast<std::uint64_t>(frame)));
        }
        if (is("repeat_frame")) {
            writeFrame(*socket, framePacket(static_cast<std::uint64_t>(count)));
        } else if (is("bad_frame") || is("bad_frame_mid")) {
            QByteArray bytes = framePacket(static_cast<std::uint64_t>(count + 1));
            bytes[0] = 'W';
            writeFrame(*socket, bytes);
        }
        socket->disconnectFromServer();
        if (socket->state() != QLocalSocket::UnconnectedState) {
            socket->waitForDisconnected(kConnectTimeoutMs);
        }
    }

    void handleCancel(const AnalyzerProtocolMessage& request)
    {
        if (is("silent_cancel")) {
            return;
        }
        send(QString(type::cancelAcknowledged), request.requestId, request.taskId, {{"alreadyRequested", false}});
        if (request.taskId == activeTaskId_ && !activeRequestId_.isEmpty()) {
            send(QString(type::analysisCanceled), activeRequestId_, activeTaskId_, {{"reason", "requested"}});
            activeRequestId_.clear();
        }
    }

    void handleShutdown(const AnalyzerProtocolMessage& request)
    {
        if (is("slow_shutdown")) {
            std::signal(SIGTERM, SIG_IGN);
            idleForever();
        }
        send(QString(type::shutdownAcknowledged), request.requestId, {}, {{"accepted", true}});
        exitNow(0);
    }

    Options options_;
    std::uint64_t sequence_ = 0;
    QString activeRequestId_;
    QString activeTaskId_;
    bool secondConnectionTried_ = false;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    FakeWorker worker(parseOptions(QCoreApplication::arguments()));
    worker.run();
    return 0;
}
