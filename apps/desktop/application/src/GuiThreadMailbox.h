#pragma once

#include <QObject>

#include <functional>
#include <mutex>
#include <vector>

class QSocketNotifier;

namespace vexilo::application {

// Carries work from background threads to the thread this object lives on (the GUI thread).
// The work crosses under a standard mutex and the owner is woken through an eventfd it watches,
// so a background thread never touches Qt's posted-event queue. That queue and its locks live
// in uninstrumented Qt, where ThreadSanitizer cannot see them: data sent along a queued signal,
// and even the queue's own storage, would look raced to it. Everything here is visible to it.
class GuiThreadMailbox : public QObject {
    Q_OBJECT

public:
    explicit GuiThreadMailbox(QObject* parent = nullptr);
    ~GuiThreadMailbox() override;

    GuiThreadMailbox(const GuiThreadMailbox&) = delete;
    GuiThreadMailbox& operator=(const GuiThreadMailbox&) = delete;

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

}  // namespace vexilo::application
