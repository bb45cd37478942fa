#pragma once

#include "vexilo/application/AnalyzerWorkerTypes.h"
#include "vexilo/protocol/FramePacket.h"
#include "vexilo/protocol/ProtocolMessage.h"
#include "vexilo/protocol/StructureStart.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace vexilo::application {

class AnalyzerFrameChannel;

// The desktop's side of `vexilo-analyzer-worker`: starts it, speaks the JSON-lines protocol
// on its standard streams, reads decoded frames from the local-socket frame channel, and holds
// every request to a deadline. Any event that does not fit the request it answers is a fatal
// protocol error that ends the worker. Lives on the GUI thread; only the frame channel is read
// on a thread of its own, and its frames are emitted here.
class AnalyzerWorkerClient : public QObject {
    Q_OBJECT

public:
    explicit AnalyzerWorkerClient(QObject* parent = nullptr, AnalyzerWorkerClientOptions options = {});
    ~AnalyzerWorkerClient() override;

    AnalyzerWorkerClient(const AnalyzerWorkerClient&) = delete;
    AnalyzerWorkerClient& operator=(const AnalyzerWorkerClient&) = delete;

    // The start id (also the "hello" request id), or empty when nothing was started.
    QString start();
    [[nodiscard]] AnalyzerWorkerState state() const { return state_; }

    AnalyzerTaskRequest analyze(const QString& inputPath, const QString& cacheRoot, AnalyzerAnalysisMode mode,
                                const QString& taskId = {});
    // With a structure start, the worker decodes from that random-access picture on when its
    // cache of the stream is complete.
    AnalyzerTaskRequest analyzePictureStructure(const QString& inputPath, const QString& cacheRoot,
                                                std::uint64_t targetDecodePictureId, const QString& taskId = {},
                                                const std::optional<protocol::StructureStart>& start = std::nullopt);
    // The request id of the "cancel" sent (or already sent) for the task, or empty.
    QString cancel(const QString& taskId);

    // Asks the worker to quit, then terminates and finally kills it; blocks for at most
    // min(shutdown, 500) + shutdown + 500 + 1000 ms.
    void shutdown();

signals:
    void stateChanged(vexilo::application::AnalyzerWorkerState state);
    void workerStarted(qlonglong processId);
    void eventReceived(const vexilo::protocol::AnalyzerProtocolMessage& event);
    void frameReceived(const vexilo::protocol::AnalyzerFramePacket& frame);
    void stderrTextReceived(const QString& text);
    void errorOccurred(const vexilo::application::AnalyzerWorkerError& error);

private:
    using Clock = std::chrono::steady_clock;

    struct PendingRequest {
        QString type;
        QString taskId;
        Clock::time_point deadline;
    };

    void setState(AnalyzerWorkerState state);
    void onProcessStarted();
    void onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onProcessError(QProcess::ProcessError error);
    void onStartTimeout();
    void scanDeadlines();

    QString sendRequest(const QString& type, const QString& taskId, const QJsonObject& payload,
                        std::int32_t timeoutMs);
    [[nodiscard]] QByteArray requestLine(const QString& type, const QString& requestId, const QString& taskId,
                                         const QJsonObject& payload) const;
    bool writeLine(const QByteArray& line);
    AnalyzerTaskRequest sendAnalyze(const QString& taskId, const QJsonObject& payload);

    void readStandardOutput();
    void readStandardError();
    void handleEvent(const protocol::AnalyzerProtocolMessage& event);
    void finishRequest(const QString& requestId, const PendingRequest& request,
                       const protocol::AnalyzerProtocolMessage& event);
    void emitWorkerError(const protocol::AnalyzerProtocolMessage& event);

    void deliverFrames();
    void rejectFrames(const QString& defect);
    void drainFrameChannel();
    void rearmAnalyzeDeadlines();

    void fail(const AnalyzerWorkerError& error, bool fatal);
    void failProtocol(const QString& defect);
    [[nodiscard]] AnalyzerWorkerError clientError(const char* code, const char* message, const QString& detail,
                                                  const QString& requestId, const QString& taskId) const;
    void forgetRequests();
    [[nodiscard]] Clock::time_point deadlineAfter(std::int32_t timeoutMs) const;

    QString program_;
    QStringList arguments_;
    std::int32_t startTimeoutMs_;
    std::int32_t controlTimeoutMs_;
    std::int32_t analyzeTimeoutMs_;
    std::int32_t shutdownTimeoutMs_;

    QProcess* process_ = nullptr;
    std::unique_ptr<AnalyzerFrameChannel> frameChannel_;
    QTimer timeoutTimer_;
    QTimer startTimer_;

    AnalyzerWorkerState state_ = AnalyzerWorkerState::NotRunning;
    QByteArray outputBuffer_;
    QString frameChannelName_;
    QHash<QString, PendingRequest> pendingRequests_;
    QHash<QString, QString> cancelRequests_;  // task id -> request id of its "cancel"
    QString startId_;
    QString shutdownRequestId_;
    QString activeTaskId_;
    std::uint64_t lastEventSequence_ = 0;
    std::uint64_t lastFrameSequence_ = 0;
    bool shutdownRequested_ = false;
    bool fatalReported_ = false;
};

}  // namespace vexilo::application
