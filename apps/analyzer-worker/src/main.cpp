#include "app/PosixPlatform.h"
#include "app/StandardStreams.h"
#include "app/WorkerApplication.h"
#include "app/WorkerArguments.h"
#include "pipeline/AnalysisPipeline.h"

#include "vexilo/protocol/ProtocolMessage.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <cstdio>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 64;
constexpr int kExitStartFailed = 69;
constexpr int kExitPingFailed = 70;

constexpr auto kPingRequestId = "ping";

int runPing()
{
    vexilo::analyzer::StandardStreams streams = vexilo::analyzer::openStandardStreams();
    const bool written = vexilo::analyzer::writeEvent(streams, QString(vexilo::protocol::message_type::pong),
                                                      QString::fromLatin1(kPingRequestId), QString(),
                                                      QJsonObject{{QStringLiteral("status"), QStringLiteral("ok")}});
    return written ? kExitOk : kExitPingFailed;
}

}  // namespace

int main(int argc, char* argv[])
{
    vexilo::analyzer::platform::ignoreBrokenPipeSignal();
    vexilo::analyzer::platform::keepLargeAllocationsOnTheHeap();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(vexilo::analyzer::kWorkerApplicationName));

    const QStringList arguments = QCoreApplication::arguments();
    if (vexilo::analyzer::isPingCommandLine(arguments)) {
        return runPing();
    }
    const std::optional<vexilo::analyzer::WorkerArguments> parsed = vexilo::analyzer::parseWorkerArguments(arguments);
    if (!parsed) {
        std::fputs(vexilo::analyzer::kWorkerUsageText, stderr);
        return kExitUsage;
    }

    int exitCode = kExitStartFailed;
    {
        vexilo::analyzer::WorkerApplication worker(parsed->parentPid, parsed->frameChannel,
                                                  vexilo::analyzer::analyzeHevcToMetadata);
        if (worker.start()) {
            exitCode = QCoreApplication::exec();
        }
    }
    return exitCode;
}
