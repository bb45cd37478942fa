#include "vexilo/threading/ThreadMailbox.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include <sys/eventfd.h>
#include <unistd.h>

namespace vexilo::threading {

ThreadMailbox::ThreadMailbox(QObject* parent)
    : QObject(parent), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (wakeFd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    wakeNotifier_ = new QSocketNotifier(static_cast<qintptr>(wakeFd_), QSocketNotifier::Read, this);
    connect(wakeNotifier_, &QSocketNotifier::activated, this, &ThreadMailbox::deliverPending);
}

ThreadMailbox::~ThreadMailbox()
{
    delete wakeNotifier_;
    ::close(wakeFd_);
}

void ThreadMailbox::post(std::function<void()> delivery)
{
    const std::lock_guard lock(mutex_);
    // One wake-up serves everything posted until the owner takes it.
    const bool wakeOwner = pending_.empty();
    pending_.push_back(std::move(delivery));
    if (wakeOwner) {
        const std::uint64_t one = 1;
        // Cannot fail short of the counter's overflow, which one write per batch never reaches.
        [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    }
}

void ThreadMailbox::deliverPending()
{
    std::uint64_t wakeUps = 0;
    [[maybe_unused]] const ssize_t drained = ::read(wakeFd_, &wakeUps, sizeof wakeUps);
    std::vector<std::function<void()>> delivered;
    {
        const std::lock_guard lock(mutex_);
        delivered.swap(pending_);
    }
    for (const std::function<void()>& delivery : delivered) {
        delivery();
    }
}

}  // namespace vexilo::threading
