#include "app/WorkerApplication.h"

#include <QCoreApplication>

#include <cstring>

namespace vexilo::analyzer {
namespace {

// Exit codes of the worker process.
constexpr int kExitInputOrParentGone = 72;
constexpr int kExitOutputFailed = 74;

constexpr qsizetype kMaxLineBytes = protocol::kMaxProtocolLineBytes;
constexpr qsizetype kMaxReadBytes = 65'536;
// A fast writer must not grow the buffer without bound between two ticks.
constexpr qsizetype kMaxInputBytesPerTick = 4 * kMaxLineBytes;

constexpr auto kInvalidParentPid = "Invalid or missing --parent-pid";
constexpr auto kStdinUnavailable = "Analyzer Worker stdin is unavailable";
constexpr auto kParentUnavailable = "Analyzer Worker parent process is unavailable";
constexpr auto kStarted = "Analyzer Worker started with protocolVersion=3";
constexpr auto kStdinPollFailed = "Could not poll Analyzer Worker stdin: %1";
constexpr auto kStdinClosed = "Analyzer Worker stdin closed; exiting to avoid an orphan";
constexpr auto kParentExited = "Analyzer Worker parent exited; terminating orphan worker";
constexpr auto kEventWriteFailed = "Could not write JSONL event to stdout";

constexpr auto kLineTooLargeCode = "protocol.line_too_large";
constexpr auto kLineTooLargeMessage = "Protocol request exceeds the 1 MiB line limit";

bool containsLineFeed(const QByteArray& buffer, qsizetype from)
{
    return std::memchr(buffer.constData() + from, '\n', static_cast<std::size_t>(buffer.size() - from)) != nullptr;
}

}  // namespace

WorkerApplication::WorkerApplication(std::int64_t parentPid, QString frameChannel, AnalysisPipeline pipeline,
                                     QObject* parent, WorkerChannels channels)
    : QObject(parent),
      parentPid_(parentPid),
      frameChannel_(std::move(frameChannel)),
      pipeline_(std::move(pipeline)),
      streams_(openStandardStreams(channels.output, channels.diagnostics)),
      channels_(channels)
{
    completions_ = new threading::ThreadMailbox(this);
    stdinPollTimer_.setInterval(kStdinPollIntervalMs);
    parentWatchTimer_.setInterval(kParentWatchIntervalMs);
    connect(&stdinPollTimer_, &QTimer::timeout, this, [this] { pollStdin(); });
    connect(&parentWatchTimer_, &QTimer::timeout, this, [this] { checkParentProcess(); });
}

WorkerApplication::~WorkerApplication()
{
    stdinPollTimer_.stop();
    parentWatchTimer_.stop();
    cancelActiveTask();
    if (taskThread_.joinable()) {
        taskThread_.request_stop();
        taskThread_.join();
    }
    parentProcess_.close();
}

bool WorkerApplication::start()
{
    if (parentPid_ < 1) {
        writeTextLine(streams_, QString::fromLatin1(kInvalidParentPid));
        return false;
    }
    if (!platform::isDescriptorOpen(channels_.inputDescriptor)) {
        writeTextLine(streams_, QString::fromLatin1(kStdinUnavailable));
        return false;
    }
    stdinDescriptor_ = channels_.inputDescriptor;
    if (!parentProcess_.open(parentPid_)) {
        writeTextLine(streams_, QString::fromLatin1(kParentUnavailable));
        return false;
    }
    stdinPollTimer_.start();
    parentWatchTimer_.start();
    writeTextLine(streams_, QString::fromLatin1(kStarted));
    return true;
}

void WorkerApplication::pollStdin()
{
    if (stdinClosed_) {
        return;
    }
    const std::optional<platform::InputRead> end = drainStdin();
    // Lines that arrived together with the end of input are still answered: a "shutdown"
    // written just before the desktop closes the pipe must be acknowledged.
    frameBufferedLines();
    if (end) {
        handleInputEnd(*end);
    }
}

std::optional<platform::InputRead> WorkerApplication::drainStdin()
{
    // The buffer holds no line feed when a tick starts: framing consumed every complete line.
    bool bufferHasLineFeed = false;
    qsizetype bytesThisTick = 0;
    while (bytesThisTick < kMaxInputBytesPerTick) {
        const qsizetype before = stdinBuffer_.size();
        const platform::InputRead read =
            platform::readAvailableInput(stdinDescriptor_, stdinBuffer_, std::min(kMaxReadBytes, kMaxInputBytesPerTick - bytesThisTick));
        if (read.status == platform::InputReadStatus::Empty) {
            return std::nullopt;
        }
        if (read.status != platform::InputReadStatus::Data) {
            return read;
        }
        bytesThisTick += stdinBuffer_.size() - before;
        bufferHasLineFeed = bufferHasLineFeed || containsLineFeed(stdinBuffer_, before);
        if (!bufferHasLineFeed && stdinBuffer_.size() > kMaxLineBytes) {
            return std::nullopt;  // framing reports the oversized line at once
        }
    }
    return std::nullopt;
}

void WorkerApplication::frameBufferedLines()
{
    if (discardingOversizedLine_) {
        const qsizetype lineEnd = stdinBuffer_.indexOf('\n');
        if (lineEnd < 0) {
            stdinBuffer_.clear();
            return;
        }
        stdinBuffer_.remove(0, lineEnd + 1);
        discardingOversizedLine_ = false;
    }
    if (stdinBuffer_.size() > kMaxLineBytes && !stdinBuffer_.contains('\n')) {
        sendError(errorRequestId(stdinBuffer_), QString(), QString::fromLatin1(kLineTooLargeCode),
                  QString::fromLatin1(kLineTooLargeMessage), QString(), false);
        stdinBuffer_.clear();
        discardingOversizedLine_ = true;
        return;
    }
    qsizetype lineStart = 0;
    for (qsizetype lineEnd = stdinBuffer_.indexOf('\n'); lineEnd >= 0;
         lineEnd = stdinBuffer_.indexOf('\n', lineStart)) {
        handleLine(stdinBuffer_.sliced(lineStart, lineEnd + 1 - lineStart));
        lineStart = lineEnd + 1;
    }
    stdinBuffer_.remove(0, lineStart);
}

void WorkerApplication::handleInputEnd(const platform::InputRead& end)
{
    if (end.status == platform::InputReadStatus::Failed) {
        writeTextLine(streams_, QString::fromLatin1(kStdinPollFailed).arg(platform::describeSystemError(end.error)));
    }
    exitOnStdinClosed();
}

void WorkerApplication::exitOnStdinClosed()
{
    stdinClosed_ = true;
    stdinPollTimer_.stop();
    cancelActiveTask();
    if (pendingShutdown_) {
        // The desktop asked for a shutdown before it closed the pipe: that shutdown ends the
        // worker (at once, or when the canceled task has reported), with exit code 0.
        return;
    }
    writeTextLine(streams_, QString::fromLatin1(kStdinClosed));
    QCoreApplication::exit(kExitInputOrParentGone);
}

void WorkerApplication::checkParentProcess()
{
    if (parentExited_ || !parentProcess_.hasExited()) {
        return;
    }
    parentExited_ = true;
    parentWatchTimer_.stop();
    cancelActiveTask();
    writeTextLine(streams_, QString::fromLatin1(kParentExited));
    QCoreApplication::exit(kExitInputOrParentGone);
}

void WorkerApplication::cancelActiveTask()
{
    // Only a worker that is going away cancels on its own; what the task would keep for later
    // requests would never be asked for.
    if (activeTask_) {
        activeTask_->cancelRequest->keepCompletePictures.store(false);
        activeTask_->cancelRequest->requested.store(true);
    }
}

void WorkerApplication::writeEventOrExit(const QString& type, const QString& requestId, const QString& taskId,
                                         const QJsonObject& payload)
{
    if (!writeEvent(streams_, type, requestId, taskId, payload)) {
        writeTextLine(streams_, QString::fromLatin1(kEventWriteFailed));
        QCoreApplication::exit(kExitOutputFailed);
    }
}

}  // namespace vexilo::analyzer
