// Runs one analysis through the real worker program's protocol, as the desktop does:
// hello, analyze, wait for the task's end, shutdown. Shared by the worker benchmarks.
#pragma once

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <sched.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

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

// The peak resident memory of a running process so far (VmHWM), in bytes; 0 when unknown.
inline std::uint64_t peakResidentBytes(qint64 pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stoull(line.substr(6)) * 1024;
        }
    }
    return 0;
}

// The "analysisFinished" payload, or nothing when the worker failed or the task did not end
// in success. `analyze` holds the analyze payload beyond inputPath and cacheRoot;
// `frameChannel`, when given, is the local socket the worker sends its frames to. The
// worker's peak resident memory goes to `peakBytes` when given. With `core`, the worker and
// every thread it starts run on that core alone.
inline std::optional<QJsonObject> analyseThroughWorker(const std::filesystem::path& input,
                                                       const std::filesystem::path& cacheRoot,
                                                       QJsonObject analyze, const QString& frameChannel = {},
                                                       std::uint64_t* peakBytes = nullptr,
                                                       std::optional<int> core = std::nullopt)
{
    QProcess worker;
    if (core) {
        worker.setChildProcessModifier([one = *core] {
            cpu_set_t cores;
            CPU_ZERO(&cores);
            CPU_SET(static_cast<std::size_t>(one), &cores);
            static_cast<void>(sched_setaffinity(0, sizeof(cores), &cores));
        });
    }
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
    if (peakBytes != nullptr) {
        *peakBytes = peakResidentBytes(worker.processId());
    }
    worker.write(workerRequestLine({}, "shutdown", "r3"));
    worker.closeWriteChannel();
    worker.waitForFinished();
    return finished;
}

}  // namespace vexilo::bench
