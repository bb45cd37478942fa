// The desktop's end of the worker's frame channel without the desktop: a reader on its own
// thread that takes every byte as it comes and counts them, so that a benchmark measures the
// worker's side of a pass that sends its frames, as the window's pass does.
#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QString>
#include <QThread>
#include <QUuid>

#include <cstdint>
#include <latch>
#include <memory>

namespace vexilo::bench {

class FrameChannelDrain {
public:
    static constexpr int kWaitMs = 600'000;

    FrameChannelDrain() : name_(QStringLiteral("bench-frame-%1").arg(QUuid::createUuid().toString(QUuid::Id128)))
    {
        // A QThread: socket notifiers refuse threads that Qt did not start.
        thread_.reset(QThread::create([this] { drain(); }));
        thread_->start();
        listening_.wait();
    }

    [[nodiscard]] const QString& name() const { return name_; }

    std::uint64_t finish()
    {
        thread_->wait();
        return bytes_;
    }

private:
    void drain()
    {
        QLocalServer server;
        const bool listening = server.listen(name_);
        listening_.count_down();
        if (!listening || !server.waitForNewConnection(kWaitMs)) {
            return;
        }
        QLocalSocket* socket = server.nextPendingConnection();
        while (socket->waitForReadyRead(kWaitMs) || socket->bytesAvailable() > 0) {
            bytes_ += static_cast<std::uint64_t>(socket->readAll().size());
        }
    }

    QString name_;
    std::latch listening_{1};
    std::uint64_t bytes_ = 0;
    std::unique_ptr<QThread> thread_;
};

}  // namespace vexilo::bench
