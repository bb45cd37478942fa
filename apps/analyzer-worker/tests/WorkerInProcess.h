#pragma once

#include "WorkerTestSupport.h"
#include "app/WorkerApplication.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace vexilo::analyzer::testing {

// A WorkerApplication inside the test process, talking through pipes of its own, so a test can
// hand it an analysis pipeline and watch the task thread.
class InProcessWorker {
public:
    InProcessWorker(AnalysisPipeline pipeline, const QString& frameChannel)
    {
        coreApplication();
        int input[2] = {-1, -1};
        int output[2] = {-1, -1};
        if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
            return;
        }
        inputRead_ = input[0];
        inputWrite_ = input[1];
        outputRead_ = output[0];
        ::fcntl(outputRead_, F_SETFL, O_NONBLOCK);
        output_ = ::fdopen(output[1], "w");
        diagnostics_ = std::fopen("/dev/null", "w");
        worker_ = std::make_unique<WorkerApplication>(
            static_cast<std::int64_t>(::getpid()), frameChannel, std::move(pipeline), nullptr,
            WorkerChannels{inputRead_, output_, diagnostics_});
        started_ = worker_->start();
    }

    ~InProcessWorker()
    {
        worker_.reset();  // joins the task thread
        for (const int descriptor : {inputRead_, inputWrite_, outputRead_}) {
            if (descriptor >= 0) {
                ::close(descriptor);
            }
        }
        if (output_ != nullptr) {
            std::fclose(output_);
        }
        if (diagnostics_ != nullptr) {
            std::fclose(diagnostics_);
        }
    }

    InProcessWorker(const InProcessWorker&) = delete;
    InProcessWorker& operator=(const InProcessWorker&) = delete;

    [[nodiscard]] bool started() const { return started_; }

    void send(const QByteArray& bytes) { (void)::write(inputWrite_, bytes.constData(), static_cast<std::size_t>(bytes.size())); }

    // The next event, running the event loop meanwhile; empty when none arrives in time.
    QJsonObject nextEvent(int timeoutMs = 10000)
    {
        std::optional<QJsonObject> event;
        spinUntil(
            [this, &event] {
                drainOutput();
                event = events_.take();
                return event.has_value();
            },
            timeoutMs);
        return event.value_or(QJsonObject{});
    }

    // True when no event arrives within the time.
    bool staysQuiet(int timeoutMs)
    {
        const QJsonObject event = nextEvent(timeoutMs);
        return event.isEmpty();
    }

private:
    void drainOutput()
    {
        char chunk[4096];
        for (;;) {
            const ssize_t count = ::read(outputRead_, chunk, sizeof chunk);
            if (count <= 0) {
                return;
            }
            events_.append(QByteArray(chunk, static_cast<qsizetype>(count)));
        }
    }

    int inputRead_ = -1;
    int inputWrite_ = -1;
    int outputRead_ = -1;
    std::FILE* output_ = nullptr;
    std::FILE* diagnostics_ = nullptr;
    std::unique_ptr<WorkerApplication> worker_;
    EventLineBuffer events_;
    bool started_ = false;
};

}  // namespace vexilo::analyzer::testing
