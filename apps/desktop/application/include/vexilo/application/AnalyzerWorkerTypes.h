#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace vexilo::application {

enum class AnalyzerWorkerState : std::int32_t {
    NotRunning = 0,
    Starting = 1,
    Ready = 2,
    Busy = 3,
    ShuttingDown = 4,
    Failed = 5,
};

// What an "analyze" request asks the worker to write; any other value travels as StreamIndex.
enum class AnalyzerAnalysisMode : std::int32_t {
    StreamIndex = 0,
    PictureStructure = 1,
    BoundedStructure = 2,
};

// A failure reported by the worker client, or an "error" event of the worker itself.
struct AnalyzerWorkerError {
    QString code;
    QString message;
    QString detail;
    QString requestId;
    QString taskId;
    std::int32_t exitCode = 0;  // set only for "worker.crashed"
    bool recoverable = true;
};

// Both ids are empty when the request was not sent.
struct AnalyzerTaskRequest {
    QString requestId;
    QString taskId;

    [[nodiscard]] bool isEmpty() const { return requestId.isEmpty(); }
};

struct AnalyzerWorkerClientOptions {
    QString workerProgram;  // empty: the built worker, else a search beside the desktop program
    QStringList workerArguments;
    std::int32_t startTimeoutMs = 3000;
    std::int32_t controlTimeoutMs = 3000;
    std::int32_t analyzeTimeoutMs = 300000;
    std::int32_t shutdownTimeoutMs = 2000;
};

}  // namespace vexilo::application

Q_DECLARE_METATYPE(vexilo::application::AnalyzerWorkerState)
Q_DECLARE_METATYPE(vexilo::application::AnalyzerWorkerError)
Q_DECLARE_METATYPE(vexilo::application::AnalyzerTaskRequest)
