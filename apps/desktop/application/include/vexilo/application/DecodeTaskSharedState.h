#pragma once

#include "vexilo/application/ProjectTypes.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace vexilo::application {

enum class DecodeTerminalKind : std::uint32_t {
    None = 0,
    Finished = 1,
    Error = 2,
    Canceled = 3,
};

// Shared by the controller and one decode task. The GUI thread sets the cancel flag while the
// decode thread polls it; the terminal record is written under the mutex before the terminal
// signal and read by the controller only after the task's thread has ended.
struct DecodeTaskSharedState {
    std::atomic<bool> cancelRequested{false};

    std::mutex mutex;
    DecodeTerminalKind terminalKind = DecodeTerminalKind::None;
    ProjectTaskSummary summary;
    ProjectTaskError error;

    void writeTerminal(DecodeTerminalKind kind, const ProjectTaskSummary& taskSummary, const ProjectTaskError& taskError)
    {
        const std::lock_guard lock(mutex);
        terminalKind = kind;
        summary = taskSummary;
        error = taskError;
    }
};

}  // namespace vexilo::application
