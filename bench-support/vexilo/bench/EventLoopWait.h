#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>

namespace vexilo::bench {

// Runs the event loop until `done` holds; false when it did not within `timeoutMs`. The loop
// sleeps between events: one that polls takes a core from the work it is timing.
inline bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs)
{
    // Wakes the wait at least this often, to look at `done` and the clock.
    constexpr int kRecheckMs = 2;
    QTimer recheck;
    recheck.start(kRecheckMs);
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

}  // namespace vexilo::bench
