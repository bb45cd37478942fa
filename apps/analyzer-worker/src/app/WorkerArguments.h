#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace vexilo::analyzer {

inline constexpr const char* kWorkerApplicationName = "vexilo-analyzer-worker";
inline constexpr const char* kWorkerUsageText =
    "Usage: vexilo-analyzer-worker --parent-pid <pid> [--frame-channel <name>]\n";
inline constexpr const char* kPingArgument = "--ping";

struct WorkerArguments {
    std::int64_t parentPid = 0;
    QString frameChannel;  // empty when no frame channel was given
};

// Element 0 (the program) is skipped; empty when the command line is invalid.
[[nodiscard]] std::optional<WorkerArguments> parseWorkerArguments(const QStringList& arguments);

// True for exactly the program and "--ping".
[[nodiscard]] bool isPingCommandLine(const QStringList& arguments);

}  // namespace vexilo::analyzer
