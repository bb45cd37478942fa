// Runs one analysis through the real worker program's protocol, as the desktop does:
// hello, analyze, wait for the task's end, shutdown. Shared by the worker benchmarks.
#pragma once

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <cstdio>
#include <filesystem>
#include <optional>

namespace vexilo::bench {

inline constexpr int kWorkerTimeoutMs = 600'000;

inline QByteArray workerRequestLine(const QJsonObject& payload, const char* type, const char* requestId,
                                    const char* taskId = "")
{
    QJsonObject message{{"protocolVersion", 3}, {"type", type}, {"requestId", requestId}, {"payload", payload}};
    if (*taskId != '\0') {
        message.insert("taskId", taskId);
    }
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

// The "analysisFinished" payload, or nothing when the worker failed or the task did not end
// in success. `analyze` holds the analyze payload beyond inputPath and cacheRoot;
// `frameChannel`, when given, is the local socket the worker sends its frames to.
inline std::optional<QJsonObject> analyseThroughWorker(const std::filesystem::path& input,
                                                       const std::filesystem::path& cacheRoot,
                                                       QJsonObject analyze, const QString& frameChannel = {})
{
    QProcess worker;
    QStringList arguments{QStringLiteral("--parent-pid"), QString::number(QCoreApplication::applicationPid())};
    if (!frameChannel.isEmpty()) {
        arguments << QStringLiteral("--frame-channel") << frameChannel;
    }
    worker.start(QStringLiteral(VEXILO_WORKER_EXECUTABLE), arguments);
    if (!worker.waitForStarted()) {
        return std::nullopt;
    }
    worker.write(workerRequestLine({}, "hello", "r1"));
    analyze.insert("inputPath", QString::fromStdString(input.string()));
    analyze.insert("cacheRoot", QString::fromStdString(cacheRoot.string()));
    worker.write(workerRequestLine(analyze, "analyze", "r2", "bench"));
    std::optional<QJsonObject> finished;
    bool ended = false;
    while (!ended && worker.waitForReadyRead(kWorkerTimeoutMs)) {
        while (worker.canReadLine()) {
            const QJsonObject event = QJsonDocument::fromJson(worker.readLine()).object();
            const QString type = event.value("type").toString();
            if (type == "analysisFinished") {
                finished = event.value("payload").toObject();
                ended = true;
            } else if (type == "error" || type == "analysisCanceled") {
                std::fprintf(stderr, "worker: %s\n", QJsonDocument(event).toJson().constData());
                ended = true;
            }
        }
    }
    worker.write(workerRequestLine({}, "shutdown", "r3"));
    worker.closeWriteChannel();
    worker.waitForFinished();
    return finished;
}

}  // namespace vexilo::bench
