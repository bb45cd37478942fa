// A worker that answers every "analyze" at once and reports, as the written stream document,
// whatever path `--metadata-path` names: the desktop must never take that path's folder for its
// cache directory.

#include "RequestLoop.h"
#include "vexilo/protocol/ProtocolMessage.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <string>

#include <unistd.h>

namespace {

namespace type = vexilo::protocol::message_type;
using vexilo::protocol::AnalyzerProtocolMessage;

class ForgingWorker {
public:
    explicit ForgingWorker(QString metadataPath) : metadataPath_(std::move(metadataPath)) {}

    void run()
    {
        vexilo::test::forEachRequest([this](const AnalyzerProtocolMessage& request) { handle(request); });
    }

private:
    void send(const QString& eventType, const AnalyzerProtocolMessage& request, const QJsonObject& payload = {})
    {
        AnalyzerProtocolMessage event;
        event.type = eventType;
        event.requestId = request.requestId;
        event.taskId = request.taskId;
        event.sequence = ++sequence_;
        event.payload = payload;
        const QByteArray bytes =
            vexilo::protocol::serializeProtocolMessage(event, vexilo::protocol::ProtocolDirection::Event);
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
        std::fflush(stdout);
    }

    void handle(const AnalyzerProtocolMessage& request)
    {
        const QJsonObject forged{{"metadataPath", metadataPath_}};
        if (request.type == type::hello) {
            send(QString(type::hello), request, {{"workerName", "forging"}});
        } else if (request.type == type::analyze) {
            send(QString(type::analysisStarted), request);
            send(QString(type::probeResult), request, forged);
            send(QString(type::analysisFinished), request, forged);
        } else if (request.type == type::shutdown) {
            send(QString(type::shutdownAcknowledged), request, {{"accepted", true}});
            std::fflush(nullptr);
            ::_exit(0);
        }
    }

    QString metadataPath_;
    std::uint64_t sequence_ = 0;
};

QString metadataPathArgument(const QStringList& arguments)
{
    const qsizetype index = arguments.indexOf(QStringLiteral("--metadata-path"));
    return index >= 0 && index + 1 < arguments.size() ? arguments[index + 1] : QString();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ForgingWorker worker(metadataPathArgument(QCoreApplication::arguments()));
    worker.run();
    return 0;
}
