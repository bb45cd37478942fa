#pragma once

// One "analyze" request through the worker program, as the desktop sends it, and what came
// back: the task's last event and its probe result with the counts.
#include "PipelineTestSupport.h"
#include "WorkerTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <filesystem>
#include <optional>
#include <string>

namespace vexilo::analyzer::testing {

inline constexpr int kWorkerAnalysisTimeoutMs = 120000;

struct WorkerTask {
    QJsonObject end;
    QJsonObject probe;
};

struct WorkerRunOptions {
    std::optional<qint64> targetDecodePictureId;
    // VEXILO_ANALYZER_MAX_EVENTS for the worker, when set.
    std::optional<QString> eventCapacity;
    // VEXILO_ANALYZER_TEST_PICTURE_DOCUMENT_LIMIT for the worker, when set.
    std::optional<QString> pictureDocumentLimit;
    int timeoutMs = kWorkerAnalysisTimeoutMs;
};

inline bool endsTask(const QJsonObject& event)
{
    const QString type = event.value("type").toString();
    return event.isEmpty() || type == "analysisFinished" || type == "analysisCanceled" || type == "error";
}

// The worker takes elementary streams by their ".hevc" name only.
inline std::filesystem::path asHevcFile(const std::filesystem::path& stream, const ScratchDirectory& scratch)
{
    const std::filesystem::path copy = scratch / (stream.stem().string() + ".hevc");
    std::filesystem::copy_file(stream, copy, std::filesystem::copy_options::overwrite_existing);
    return copy;
}

inline WorkerTask analyzeThroughWorker(const std::filesystem::path& input, const std::filesystem::path& cacheRoot,
                                       const char* mode, const WorkerRunOptions& options = {})
{
    WorkerProcess worker({QStringLiteral("--parent-pid"), QString::number(QCoreApplication::applicationPid())},
                         [&options](QProcess& process) {
                             QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
                             if (options.eventCapacity) {
                                 environment.insert(QStringLiteral("VEXILO_ANALYZER_MAX_EVENTS"),
                                                    *options.eventCapacity);
                             }
                             if (options.pictureDocumentLimit) {
                                 environment.insert(QStringLiteral("VEXILO_ANALYZER_TEST_PICTURE_DOCUMENT_LIMIT"),
                                                    *options.pictureDocumentLimit);
                             }
                             process.setProcessEnvironment(environment);
                         });
    worker.send(requestLine("hello", "h1"));
    worker.nextEvent();
    QJsonObject payload{{"inputPath", QString::fromStdString(input.string())},
                        {"cacheRoot", QString::fromStdString(cacheRoot.string())},
                        {"analysisMode", mode}};
    if (options.targetDecodePictureId) {
        payload.insert("targetDecodePictureId", *options.targetDecodePictureId);
    }
    worker.send(requestLine("analyze", "a1", payload, "t1"));
    WorkerTask task;
    do {
        task.end = worker.nextEvent(options.timeoutMs);
        if (task.end.value("type").toString() == "probeResult") {
            task.probe = task.end;
        }
    } while (!endsTask(task.end));
    return task;
}

inline std::string textOf(const QJsonObject& event)
{
    return QJsonDocument(event).toJson(QJsonDocument::Compact).toStdString();
}

inline qint64 countOf(const WorkerTask& task, const char* key)
{
    return task.probe.value("payload").toObject().value(key).toInteger();
}

}  // namespace vexilo::analyzer::testing
