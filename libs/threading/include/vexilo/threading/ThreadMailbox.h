#pragma once

#include <QObject>

#include <functional>
#include <mutex>
#include <vector>

class QSocketNotifier;

namespace vexilo::threading {

// Carries work from background threads to the thread this object lives on (its owner: the
// GUI thread of the desktop, the main thread of the worker).
// The work crosses under a standard mutex and the owner is woken through an eventfd it watches,
// so a background thread never touches Qt's posted-event queue. That queue and its locks live
// in uninstrumented Qt, where ThreadSanitizer cannot see them: data sent along a queued signal,
// and even the queue's own storage, would look raced to it. Everything here is visible to it.
class ThreadMailbox : public QObject {
    Q_OBJECT

public:
    explicit ThreadMailbox(QObject* parent = nullptr);
    ~ThreadMailbox() override;

    ThreadMailbox(const ThreadMailbox&) = delete;
    ThreadMailbox& operator=(const ThreadMailbox&) = delete;

    // From any thread. Deliveries run in the order they were posted. Whoever posts must be done
    // posting before this object goes; deliveries still pending then are dropped.
    void post(std::function<void()> delivery);

private:
    void deliverPending();

    int wakeFd_ = -1;
    QSocketNotifier* wakeNotifier_ = nullptr;
    std::mutex mutex_;
    std::vector<std::function<void()>> pending_;
};

}  // namespace vexilo::threading
