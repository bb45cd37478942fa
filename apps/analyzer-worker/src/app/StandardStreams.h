#pragma once

#include <QFile>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <memory>

namespace vexilo::analyzer {

// The worker's two output streams and the process-wide event sequence.
struct StandardStreams {
    std::unique_ptr<QFile> stdoutFile;
    std::unique_ptr<QFile> stderrFile;
    std::uint64_t eventSequence = 0;  // of the last event written; never reset
};

// Opens both files over the C streams without taking them over: closing a file leaves its
// stream open. The default streams are the process's; tests hand in pipes of their own.
[[nodiscard]] StandardStreams openStandardStreams(std::FILE* output = stdout, std::FILE* diagnostics = stderr);

// One UTF-8 diagnostic line; failures are ignored, there is nowhere left to report them.
void writeTextLine(StandardStreams& streams, const QString& text);

// One event line with the next sequence number; true only when the whole line was written and flushed.
[[nodiscard]] bool writeEvent(StandardStreams& streams, const QString& type, const QString& requestId,
                              const QString& taskId, const QJsonObject& payload);

}  // namespace vexilo::analyzer
