#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The few operating-system services the worker needs: a standard input that is read without
// ever blocking the event loop, and a watch on the parent process.
namespace vexilo::analyzer::platform {

enum class InputReadStatus {
    Data,    // bytes were appended
    Empty,   // nothing waiting right now
    Closed,  // end of input: the writer closed the pipe, or a read failed
    Failed,  // the input cannot even be polled; `error` holds errno
};

struct InputRead {
    InputReadStatus status = InputReadStatus::Empty;
    int error = 0;
};

inline constexpr int kStandardInputDescriptor = 0;

// True when the descriptor is open.
[[nodiscard]] bool isDescriptorOpen(int descriptor);

// Appends at most `maxBytes` waiting bytes to `buffer` with one read; never blocks.
[[nodiscard]] InputRead readAvailableInput(int descriptor, QByteArray& buffer, qsizetype maxBytes);

// A handle on a process that reports, without waiting, whether it has ended.
class ParentProcessWatch {
public:
    ParentProcessWatch() = default;
    ~ParentProcessWatch();
    ParentProcessWatch(const ParentProcessWatch&) = delete;
    ParentProcessWatch& operator=(const ParentProcessWatch&) = delete;

    // False when the process does not exist or cannot be watched.
    [[nodiscard]] bool open(std::int64_t pid);
    [[nodiscard]] bool isOpen() const { return descriptor_ >= 0 || fallbackPid_ > 0; }
    // A failed check counts as still running, like a wait that could not be made.
    [[nodiscard]] bool hasExited() const;
    void close();

private:
    int descriptor_ = -1;
    int fallbackPid_ = 0;  // only when the kernel has no process descriptors
};

// A closed standard output must surface as a failed write, not as a fatal signal.
void ignoreBrokenPipeSignal();

// Every picture allocates and frees the same large buffers (decoded frames, the frames sent
// to the desktop, block state, motion fields). Kept on the heap instead of being mapped and
// unmapped each time, they are not paid for again in page faults.
void keepLargeAllocationsOnTheHeap();

// "errno 9 (Bad file descriptor)": the form diagnostics quote system errors in.
[[nodiscard]] QString describeSystemError(int error);

}  // namespace vexilo::analyzer::platform
