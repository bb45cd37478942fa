#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

namespace vexilo::bench {

// Runs the event loop until `done` holds; false when it did not within `timeoutMs`.
inline bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

}  // namespace vexilo::bench
