#include "app/WorkerArguments.h"

namespace vexilo::analyzer {
namespace {

constexpr QLatin1StringView kParentPidOption{"--parent-pid"};
constexpr QLatin1StringView kFrameChannelOption{"--frame-channel"};

bool applyOption(const QString& option, const QString& value, WorkerArguments& arguments)
{
    if (option == kParentPidOption) {
        bool converted = false;
        const qint64 pid = value.toLongLong(&converted, 10);
        if (!converted || pid < 1) {
            return false;
        }
        arguments.parentPid = pid;
        return true;
    }
    if (option == kFrameChannelOption) {
        if (value.isEmpty()) {
            return false;
        }
        arguments.frameChannel = value;
        return true;
    }
    return false;
}

}  // namespace

std::optional<WorkerArguments> parseWorkerArguments(const QStringList& arguments)
{
    if (arguments.size() < 2) {
        return std::nullopt;
    }
    WorkerArguments parsed;
    for (qsizetype index = 1; index < arguments.size(); index += 2) {
        if (index + 1 >= arguments.size() || !applyOption(arguments[index], arguments[index + 1], parsed)) {
            return std::nullopt;
        }
    }
    if (parsed.parentPid < 1) {
        return std::nullopt;
    }
    return parsed;
}

bool isPingCommandLine(const QStringList& arguments)
{
    return arguments.size() == 2 && arguments[1] == QLatin1StringView(kPingArgument);
}

}  // namespace vexilo::analyzer
