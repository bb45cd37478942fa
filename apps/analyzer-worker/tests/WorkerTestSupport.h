#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>

#include <functional>
#include <optional>

namespace vexilo::analyzer::testing {

// The worker needs a Qt application object for its timers, sockets and queued calls.
inline QCoreApplication& coreApplication()
{
    static int argc = 1;
    static char name[] = "analyzer_worker_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* application = QCoreApplication::instance() != nullptr
                                               ? QCoreApplication::instance()
                                               : new QCoreApplication(argc, argv);
    return *application;
}

// Runs the event loop until the condition holds or the time is up; true when it held.
inline bool spinUntil(const std::function<bool()>& condition, int timeoutMs = 10000)
{
    coreApplication();
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

inline QByteArray requestLine(const char* type, const char* requestId, const QJsonObject& payload = {},
                              const char* taskId = nullptr)
{
    QJsonObject object{{"protocolVersion", 3}, {"type", type}, {"requestId", requestId}, {"payload", payload}};
    if (taskId != nullptr) {
        object.insert(QStringLiteral("taskId"), QString::fromLatin1(taskId));
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// Cuts event lines out of whatever bytes arrive.
class EventLineBuffer {
public:
    void append(const QByteArray& bytes) { pending_ += bytes; }

    std::optional<QJsonObject> take()
    {
        const qsizetype end = pending_.indexOf('\n');
        if (end < 0) {
            return std::nullopt;
        }
        const QByteArray line = pending_.first(end);
        pending_.remove(0, end + 1);
        return QJsonDocument::fromJson(line).object();
    }

private:
    QByteArray pending_;
};

// The real worker binary behind real pipes.
class WorkerProcess {
public:
    explicit WorkerProcess(const QStringList& arguments, const std::function<void(QProcess&)>& prepare = {})
    {
        coreApplication();
        if (prepare) {
            prepare(process);
        }
        process.start(QStringLiteral(VEXILO_WORKER_EXECUTABLE), arguments);
        process.waitForStarted(10000);
    }

    ~WorkerProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    void send(const QByteArray& bytes)
    {
        process.write(bytes);
        process.waitForBytesWritten(5000);
    }

    // The next event line, or an empty object when none arrives in time.
    QJsonObject nextEvent(int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            events_.append(process.readAllStandardOutput());
            if (std::optional<QJsonObject> event = events_.take()) {
                return *event;
            }
            if (deadline.hasExpired() || !process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                events_.append(process.readAllStandardOutput());
                return events_.take().value_or(QJsonObject{});
            }
        }
    }

    // The exit code, or -1 when the worker did not end in time.
    int waitForExit(int timeoutMs = 10000)
    {
        if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        return process.exitCode();
    }

    QProcess process;

private:
    EventLineBuffer events_;
};

}  // namespace vexilo::analyzer::testing

// Readable failure messages for payload comparisons.
inline void PrintTo(const QJsonObject& object, std::ostream* os)
{
    *os << QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}
