#include "app/PosixPlatform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vexilo::analyzer::platform {
namespace {

constexpr qsizetype kMaxReadBytes = 65'536;

// 0: ready, 1: nothing yet, -1: failed (errno set).
int pollReadable(int descriptor, short& events)
{
    pollfd entry{descriptor, POLLIN, 0};
    const int ready = ::poll(&entry, 1, 0);
    if (ready < 0) {
        return errno == EINTR ? 1 : -1;
    }
    events = entry.revents;
    return ready == 0 ? 1 : 0;
}

int openProcessDescriptor(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

}  // namespace

bool isDescriptorOpen(int descriptor)
{
    return ::fcntl(descriptor, F_GETFD) != -1;
}

InputRead readAvailableInput(int descriptor, QByteArray& buffer, qsizetype maxBytes)
{
    short events = 0;
    const int polled = pollReadable(descriptor, events);
    if (polled < 0) {
        return {InputReadStatus::Failed, errno};
    }
    if (polled > 0) {
        return {InputReadStatus::Empty, 0};
    }
    if ((events & POLLNVAL) != 0) {
        return {InputReadStatus::Failed, EBADF};
    }

    const qsizetype chunk = std::min(maxBytes, kMaxReadBytes);
    if (chunk <= 0) {
        return {InputReadStatus::Empty, 0};
    }
    const qsizetype oldSize = buffer.size();
    buffer.resize(oldSize + chunk);
    const ssize_t count = ::read(descriptor, buffer.data() + oldSize, static_cast<std::size_t>(chunk));
    const int readError = errno;
    buffer.resize(oldSize + std::max<qsizetype>(count, 0));
    if (count > 0) {
        return {InputReadStatus::Data, 0};
    }
    if (count < 0 && (readError == EAGAIN || readError == EINTR)) {
        return {InputReadStatus::Empty, 0};
    }
    return {InputReadStatus::Closed, count < 0 ? readError : 0};
}

ParentProcessWatch::~ParentProcessWatch()
{
    close();
}

bool ParentProcessWatch::open(std::int64_t pid)
{
    close();
    // Larger values are no process id here; never let them wrap onto another process.
    if (pid < 1 || pid > INT_MAX) {
        return false;
    }
    const auto processId = static_cast<pid_t>(pid);
    descriptor_ = openProcessDescriptor(processId);
    if (descriptor_ >= 0) {
        return true;
    }
    if (errno != ENOSYS) {
        return false;
    }
    // Old kernels: fall back to probing the id, which may be reused after the parent ends.
    if (::kill(processId, 0) == 0 || errno == EPERM) {
        fallbackPid_ = processId;
        return true;
    }
    return false;
}

bool ParentProcessWatch::hasExited() const
{
    if (descriptor_ >= 0) {
        short events = 0;
        // A process descriptor turns readable when the process has ended.
        return pollReadable(descriptor_, events) == 0 && (events & POLLIN) != 0;
    }
    if (fallbackPid_ > 0) {
        return ::kill(fallbackPid_, 0) != 0 && errno == ESRCH;
    }
    return false;
}

void ParentProcessWatch::close()
{
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
    fallbackPid_ = 0;
}

void keepLargeAllocationsOnTheHeap()
{
#if defined(__GLIBC__)
    constexpr int kMmapThresholdBytes = 64 * 1024 * 1024;
    constexpr int kTrimThresholdBytes = 256 * 1024 * 1024;
    mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
    mallopt(M_TRIM_THRESHOLD, kTrimThresholdBytes);
    // The analysis runs on its own thread, whose arena would be made of separate mappings
    // that glibc unmaps as soon as their top is free, whatever the trim threshold: every
    // frame's planes would be faulted in afresh. One arena for the few threads there are.
    mallopt(M_ARENA_MAX, 1);
#endif
}

void ignoreBrokenPipeSignal()
{
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
}

QString describeSystemError(int error)
{
    return QStringLiteral("errno %1 (%2)").arg(error).arg(QString::fromLocal8Bit(std::strerror(error)));
}

}  // namespace vexilo::analyzer::platform
