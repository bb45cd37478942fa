#include "app/StandardStreams.h"

#include "vexilo/protocol/ProtocolMessage.h"

namespace vexilo::analyzer {
namespace {

std::unique_ptr<QFile> openOver(std::FILE* stream)
{
    auto file = std::make_unique<QFile>();
    // Unbuffered: every write goes straight to the C stream, and flush() reports its failure.
    (void)file->open(stream, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle);
    return file;
}

bool writeAll(QFile& file, const QByteArray& bytes)
{
    if (!file.isOpen()) {
        return false;
    }
    const qint64 written = file.write(bytes);
    const bool flushed = file.flush();
    return written == bytes.size() && flushed;
}

}  // namespace

StandardStreams openStandardStreams(std::FILE* output, std::FILE* diagnostics)
{
    StandardStreams streams;
    streams.stdoutFile = openOver(output);
    streams.stderrFile = openOver(diagnostics);
    return streams;
}

void writeTextLine(StandardStreams& streams, const QString& text)
{
    QByteArray line = text.toUtf8();
    if (!line.endsWith('\n')) {
        line.append('\n');
    }
    (void)writeAll(*streams.stderrFile, line);
}

bool writeEvent(StandardStreams& streams, const QString& type, const QString& requestId, const QString& taskId,
                const QJsonObject& payload)
{
    protocol::AnalyzerProtocolMessage message;
    message.type = type;
    message.requestId = requestId;
    message.taskId = taskId;
    message.payload = payload;
    message.sequence = ++streams.eventSequence;
    return writeAll(*streams.stdoutFile, protocol::serializeProtocolMessage(message, protocol::ProtocolDirection::Event));
}

}  // namespace vexilo::analyzer
