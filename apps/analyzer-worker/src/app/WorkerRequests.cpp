#include "app/AnalyzeRequest.h"
#include "app/WorkerApplication.h"
#include "app/WorkerArguments.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
}

#include <QCoreApplication>
#include <QJsonDocument>

#include <array>

namespace vexilo::analyzer {
namespace {

namespace type = protocol::message_type;

constexpr int kFrameProtocolVersion = 1;
constexpr int kAnalysisSchemaVersion = 1;
constexpr auto kInvalidRequestIdPattern = "invalid-request-%1";

struct RequestError {
    const char* code;
    const char* message;
};

constexpr RequestError kInvalidRequest{"protocol.invalid_request", "Invalid Analyzer Worker protocol request"};
constexpr RequestError kHelloRequired{"protocol.hello_required", "hello must complete before other requests"};
constexpr RequestError kShutdownPending{"analyzer.shutdown_pending", "Analyzer Worker shutdown is already pending"};
constexpr RequestError kShuttingDown{"analyzer.shutting_down", "Analyzer Worker is shutting down"};
constexpr RequestError kBusy{"analyzer.busy", "Analyzer Worker already has an active task"};
constexpr RequestError kTaskNotActive{"analyzer.task_not_active", "The requested Analyzer task is not active"};

namespace key {
constexpr QLatin1StringView workerName{"workerName"};
constexpr QLatin1StringView protocolVersion{"protocolVersion"};
constexpr QLatin1StringView processId{"processId"};
constexpr QLatin1StringView parentProcessId{"parentProcessId"};
constexpr QLatin1StringView localFrameTransport{"localFrameTransport"};
constexpr QLatin1StringView frameProtocolVersion{"frameProtocolVersion"};
constexpr QLatin1StringView inputExtensions{"inputExtensions"};
constexpr QLatin1StringView analysisSchemaVersion{"analysisSchemaVersion"};
constexpr QLatin1StringView ffmpegVersion{"ffmpegVersion"};
constexpr QLatin1StringView avcodecVersion{"avcodecVersion"};
constexpr QLatin1StringView alreadyRequested{"alreadyRequested"};
constexpr QLatin1StringView accepted{"accepted"};
constexpr QLatin1StringView inputPath{"inputPath"};
constexpr QLatin1StringView cacheRoot{"cacheRoot"};
constexpr QLatin1StringView mode{"mode"};
constexpr QLatin1StringView targetDecodePictureId{"targetDecodePictureId"};
constexpr QLatin1StringView code{"code"};
constexpr QLatin1StringView message{"message"};
constexpr QLatin1StringView detail{"detail"};
constexpr QLatin1StringView recoverable{"recoverable"};
}  // namespace key

// Features the worker always offers, in the order the desktop has always seen them.
constexpr std::array kFixedCapabilities{
    QLatin1StringView("controlledProbe"),   QLatin1StringView("lifecycleObserver"),
    QLatin1StringView("structureAnalysis"), QLatin1StringView("nalParameterSetSei"),
    QLatin1StringView("sliceReferenceState"), QLatin1StringView("cuData"),
    QLatin1StringView("puData"),            QLatin1StringView("tuData"),
};

QString avcodecVersionText()
{
    const unsigned version = avcodec_version();
    return QStringLiteral("%1.%2.%3").arg(version >> 16U).arg((version >> 8U) & 0xFFU).arg(version & 0xFFU);
}

QJsonObject capabilitiesPayload(bool hasFrameChannel)
{
    QJsonObject payload;
    for (const QLatin1StringView capability : kFixedCapabilities) {
        payload.insert(capability, true);
    }
    payload.insert(key::localFrameTransport, hasFrameChannel);
    payload.insert(key::frameProtocolVersion, kFrameProtocolVersion);
    payload.insert(key::inputExtensions, supportedInputExtensions());
    payload.insert(key::analysisSchemaVersion, kAnalysisSchemaVersion);
    payload.insert(key::ffmpegVersion, QString::fromUtf8(av_version_info()));
    payload.insert(key::avcodecVersion, avcodecVersionText());
    return payload;
}

}  // namespace

void WorkerApplication::handleLine(const QByteArray& line)
{
    const protocol::ProtocolParseResult parsed = protocol::parseProtocolLine(line, protocol::ProtocolDirection::Request);
    if (const auto* error = std::get_if<protocol::ProtocolParseError>(&parsed)) {
        sendError(errorRequestId(line), QString(), QString::fromLatin1(kInvalidRequest.code),
                  QString::fromLatin1(kInvalidRequest.message), error->message, false);
        return;
    }
    handleRequest(std::get<protocol::AnalyzerProtocolMessage>(parsed));
}

QString WorkerApplication::errorRequestId(const QByteArray& bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (document.isObject()) {
        const QString requestId = document.object().value(protocol::key::requestId).toString();
        if (protocol::isValidProtocolIdentifier(requestId)) {
            return requestId;
        }
    }
    ++invalidRequestCounter_;
    return QString::fromLatin1(kInvalidRequestIdPattern).arg(invalidRequestCounter_);
}

void WorkerApplication::handleRequest(const protocol::AnalyzerProtocolMessage& request)
{
    if (request.type == type::hello) {
        handleHello(request);
        return;
    }
    if (request.type == type::shutdown) {
        handleShutdownRequest(request);
        return;
    }
    if (!helloReceived_) {
        sendError(request.requestId, request.taskId, QString::fromLatin1(kHelloRequired.code),
                  QString::fromLatin1(kHelloRequired.message), QString(), true);
        return;
    }
    if (request.type == type::capabilities) {
        handleCapabilities(request);
    } else if (request.type == type::analyze) {
        handleAnalyze(request);
    } else if (request.type == type::cancel) {
        handleCancel(request);
    }
}

void WorkerApplication::handleHello(const protocol::AnalyzerProtocolMessage& request)
{
    helloReceived_ = true;
    const QJsonObject payload{
        {key::workerName, QString::fromLatin1(kWorkerApplicationName)},
        {key::protocolVersion, protocol::kProtocolVersion},
        {key::processId, QCoreApplication::applicationPid()},
        {key::parentProcessId, static_cast<qint64>(parentPid_)},
    };
    writeEventOrExit(QString(type::hello), request.requestId, QString(), payload);
}

void WorkerApplication::handleCapabilities(const protocol::AnalyzerProtocolMessage& request)
{
    writeEventOrExit(QString(type::capabilities), request.requestId, QString(),
                     capabilitiesPayload(!frameChannel_.isEmpty()));
}

void WorkerApplication::handleShutdownRequest(const protocol::AnalyzerProtocolMessage& request)
{
    if (pendingShutdown_) {
        sendError(request.requestId, QString(), QString::fromLatin1(kShutdownPending.code),
                  QString::fromLatin1(kShutdownPending.message), QString(), true);
        return;
    }
    pendingShutdown_ = request;
    if (activeTask_) {
        // Acknowledged once the task has reported its end.
        cancelActiveTask();
        return;
    }
    handleShutdown();
}

void WorkerApplication::handleShutdown()
{
    if (!pendingShutdown_ || activeTask_) {
        return;
    }
    writeEventOrExit(QString(type::shutdownAcknowledged), pendingShutdown_->requestId, QString(),
                     QJsonObject{{key::accepted, true}});
    stdinPollTimer_.stop();
    parentWatchTimer_.stop();
    QTimer::singleShot(0, this, [] { QCoreApplication::quit(); });
}

void WorkerApplication::handleCancel(const protocol::AnalyzerProtocolMessage& request)
{
    if (activeTask_ && activeTask_->taskId == request.taskId) {
        const bool alreadyRequested = activeTask_->cancelRequest->requested.exchange(true);
        writeEventOrExit(QString(type::cancelAcknowledged), request.requestId, request.taskId,
                         QJsonObject{{key::alreadyRequested, alreadyRequested}});
        return;
    }
    if (canceledTaskIds_.contains(request.taskId)) {
        writeEventOrExit(QString(type::cancelAcknowledged), request.requestId, request.taskId,
                         QJsonObject{{key::alreadyRequested, true}});
        return;
    }
    sendError(request.requestId, request.taskId, QString::fromLatin1(kTaskNotActive.code),
              QString::fromLatin1(kTaskNotActive.message), QString(), true);
}

void WorkerApplication::rememberCanceledTask(const QString& taskId)
{
    if (canceledTaskIds_.contains(taskId)) {
        return;
    }
    canceledTaskIds_.insert(taskId);
    canceledTaskOrder_.append(taskId);
    while (canceledTaskOrder_.size() > kMaxRememberedCanceledTasks) {
        canceledTaskIds_.remove(canceledTaskOrder_.takeFirst());
    }
}

void WorkerApplication::handleAnalyze(const protocol::AnalyzerProtocolMessage& request)
{
    if (pendingShutdown_) {
        sendError(request.requestId, request.taskId, QString::fromLatin1(kShuttingDown.code),
                  QString::fromLatin1(kShuttingDown.message), QString(), true);
        return;
    }
    if (activeTask_) {
        sendError(request.requestId, request.taskId, QString::fromLatin1(kBusy.code),
                  QString::fromLatin1(kBusy.message), activeTask_->taskId, true);
        return;
    }
    const AnalyzeRequestCheck check = validateAnalyzeRequest(request.payload);
    if (!check.ok) {
        sendError(request.requestId, request.taskId, check.code, check.message, check.detail, true);
        return;
    }

    auto cancelRequest = std::make_shared<CancelRequest>();
    activeTask_ = ActiveTask{request.requestId, request.taskId, cancelRequest};
    writeEventOrExit(QString(type::analysisStarted), request.requestId, request.taskId,
                     QJsonObject{
                         {key::inputPath, check.inputPath},
                         {key::cacheRoot, check.cacheRoot},
                         {key::mode, check.mode},
                         {key::targetDecodePictureId, static_cast<qint64>(check.targetDecodePictureId)},
                     });

    if (taskThread_.joinable()) {
        taskThread_.join();  // the earlier task has already delivered its result
    }
    TaskRecord task{QPointer<WorkerApplication>(this), request.requestId, request.taskId, check.inputPath,
                    check.cacheRoot, check.mode, frameChannel_,
                    PictureTarget{check.targetDecodePictureId, check.structureStart}, cancelRequest, pipeline_,
                    completions_};
    taskThread_ = std::jthread(
        [task = std::move(task)](const std::stop_token& stopToken) { runAnalysisTask(stopToken, task); });
}

void WorkerApplication::sendError(const QString& requestId, const QString& taskId, const QString& code,
                                  const QString& message, const QString& detail, bool recoverable)
{
    writeEventOrExit(QString(type::error), requestId, taskId,
                     QJsonObject{
                         {key::code, code},
                         {key::message, message},
                         {key::detail, detail},
                         {key::recoverable, recoverable},
                     });
}

}  // namespace vexilo::analyzer
