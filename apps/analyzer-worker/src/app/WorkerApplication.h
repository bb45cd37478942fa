#pragma once

#include "app/PosixPlatform.h"
#include "app/StandardStreams.h"
#include "pipeline/AnalysisPipeline.h"

#include "vexilo/protocol/ProtocolMessage.h"
#include "vexilo/threading/ThreadMailbox.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <stop_token>
#include <thread>

namespace vexilo::analyzer {

inline constexpr int kStdinPollIntervalMs = 10;
inline constexpr int kParentWatchIntervalMs = 250;
inline constexpr int kMaxRememberedCanceledTasks = 128;

// Where the worker reads requests and writes events and diagnostics; the process's own
// standard streams unless a test hands in pipes.
struct WorkerChannels {
    int inputDescriptor = platform::kStandardInputDescriptor;
    std::FILE* output = stdout;
    std::FILE* diagnostics = stderr;
};

struct ActiveTask {
    QString requestId;
    QString taskId;
    std::shared_ptr<CancelRequest> cancelRequest;
};

// The worker on its main thread: reads request lines, answers them, runs one analysis task at
// a time on its own thread and ends the process when its input or its parent goes away.
class WorkerApplication : public QObject {
    Q_OBJECT

public:
    WorkerApplication(std::int64_t parentPid, QString frameChannel, AnalysisPipeline pipeline,
                      QObject* parent = nullptr, WorkerChannels channels = {});
    ~WorkerApplication() override;
    WorkerApplication(const WorkerApplication&) = delete;
    WorkerApplication& operator=(const WorkerApplication&) = delete;

    // False when the worker cannot run (diagnostic already written).
    [[nodiscard]] bool start();

private:
    // What the task thread needs, copied when it starts.
    struct TaskRecord {
        QPointer<WorkerApplication> application;
        QString requestId;
        QString taskId;
        QString inputPath;
        QString cacheRoot;
        QString modeName;
        QString frameChannel;
        PictureTarget target;
        std::shared_ptr<CancelRequest> cancelRequest;
        AnalysisPipeline pipeline;
        // Where the task hands its result to the main thread.
        threading::ThreadMailbox* completions = nullptr;
    };

    // Standard input and the parent process.
    void pollStdin();
    [[nodiscard]] std::optional<platform::InputRead> drainStdin();
    void frameBufferedLines();
    void handleInputEnd(const platform::InputRead& end);
    void exitOnStdinClosed();
    void checkParentProcess();
    void cancelActiveTask();

    // Requests.
    void handleLine(const QByteArray& line);
    void handleRequest(const protocol::AnalyzerProtocolMessage& request);
    void handleHello(const protocol::AnalyzerProtocolMessage& request);
    void handleCapabilities(const protocol::AnalyzerProtocolMessage& request);
    void handleAnalyze(const protocol::AnalyzerProtocolMessage& request);
    void handleCancel(const protocol::AnalyzerProtocolMessage& request);
    void handleShutdownRequest(const protocol::AnalyzerProtocolMessage& request);
    void handleShutdown();
    void rememberCanceledTask(const QString& taskId);
    [[nodiscard]] QString errorRequestId(const QByteArray& bytes);

    // Events.
    void writeEventOrExit(const QString& type, const QString& requestId, const QString& taskId,
                          const QJsonObject& payload);
    void sendError(const QString& requestId, const QString& taskId, const QString& code, const QString& message,
                   const QString& detail, bool recoverable);

    // The analysis task.
    static void runAnalysisTask(const std::stop_token& stopToken, const TaskRecord& task);
    static void postCompletion(const TaskRecord& task, bool ok, const QJsonObject& payload);
    void finishTask(const QString& requestId, const QString& taskId, bool ok, const QJsonObject& payload);

    std::int64_t parentPid_ = 0;
    QString frameChannel_;
    AnalysisPipeline pipeline_;
    int stdinDescriptor_ = -1;
    platform::ParentProcessWatch parentProcess_;
    QTimer stdinPollTimer_;
    QTimer parentWatchTimer_;
    QByteArray stdinBuffer_;
    StandardStreams streams_;
    std::optional<ActiveTask> activeTask_;
    // A child, so it outlives the destructor body, which joins the task thread.
    threading::ThreadMailbox* completions_ = nullptr;
    std::optional<protocol::AnalyzerProtocolMessage> pendingShutdown_;
    QSet<QString> canceledTaskIds_;
    QList<QString> canceledTaskOrder_;
    std::jthread taskThread_;
    std::uint64_t invalidRequestCounter_ = 0;
    bool helloReceived_ = false;
    bool discardingOversizedLine_ = false;
    bool stdinClosed_ = false;
    bool parentExited_ = false;
    WorkerChannels channels_;
};

}  // namespace vexilo::analyzer
