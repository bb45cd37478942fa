#include "vexilo/application/AnalyzerWorkerClient.h"

#include "AnalyzerFrameChannel.h"
#include "vexilo/application/AnalyzerWorkerProgram.h"
#include "vexilo/application/ApplicationMetaTypes.h"

#include <QCoreApplication>
#include <QUuid>

#include <algorithm>
#include <array>

namespace vexilo::application {
namespace {

namespace type = protocol::message_type;
using protocol::AnalyzerProtocolMessage;
using protocol::ProtocolDirection;

constexpr int kDeadlineScanIntervalMs = 25;
constexpr int kShutdownWriteWaitCapMs = 500;
constexpr int kTerminateWaitMs = 500;
constexpr int kKillWaitMs = 1000;
// How long the end of a task waits for the frame reader to take what the socket holds. The reader
// only frames bytes already there, so this is reached only on a machine that hardly runs it.
constexpr std::chrono::milliseconds kFrameDrainWaitMs{5000};

constexpr auto kFrameChannelNamePattern = "vexilo-frame-%1-%2";
constexpr auto kParentPidOption = "--parent-pid";
constexpr auto kFrameChannelOption = "--frame-channel";
constexpr auto kClientName = "VexiloDesktop";

#ifdef VEXILO_BUILT_WORKER_PATH
constexpr auto kBuiltWorkerPath = VEXILO_BUILT_WORKER_PATH;
#else
constexpr auto kBuiltWorkerPath = "";
#endif

namespace key {
constexpr QLatin1StringView clientName{"clientName"};
constexpr QLatin1StringView clientProtocolVersion{"clientProtocolVersion"};
constexpr QLatin1StringView inputPath{"inputPath"};
constexpr QLatin1StringView cacheRoot{"cacheRoot"};
constexpr QLatin1StringView analysisMode{"analysisMode"};
constexpr QLatin1StringView targetDecodePictureId{"targetDecodePictureId"};
constexpr QLatin1StringView code{"code"};
constexpr QLatin1StringView message{"message"};
constexpr QLatin1StringView detail{"detail"};
constexpr QLatin1StringView recoverable{"recoverable"};
}  // namespace key

// The client's own failures: code and fixed sentence.
struct ErrorText {
    const char* code;
    const char* message;
};

constexpr ErrorText kListenFailed{"worker.frame_channel_listen_failed", "Could not create the Analyzer frame channel"};
constexpr ErrorText kStartFailed{"worker.start_failed", "Analyzer Worker could not be started"};
constexpr ErrorText kStartTimeout{"worker.start_timeout", "Analyzer Worker did not start before the timeout"};
constexpr ErrorText kHelloWriteFailed{"worker.write_failed", "Could not send hello to Analyzer Worker"};
constexpr ErrorText kWriteFailed{"worker.write_failed", "Could not write a request to Analyzer Worker"};
constexpr ErrorText kHelloRejected{"worker.hello_rejected", "Analyzer Worker rejected the hello request"};
constexpr ErrorText kInvalidState{"worker.invalid_state", "Analyzer Worker is not ready for a new task"};
constexpr ErrorText kInvalidTaskId{"worker.invalid_task_id", "The Analyzer task ID is not a valid protocol identifier"};
constexpr ErrorText kInvalidTarget{"worker.invalid_target_picture", "Target decode picture ID must be positive"};
constexpr ErrorText kTaskNotActive{"worker.task_not_active", "The requested Analyzer task is not active"};
constexpr ErrorText kTimeout{"worker.timeout", "Analyzer Worker request timed out"};
constexpr ErrorText kProtocolError{"worker.protocol_error", "Analyzer Worker sent an invalid protocol message"};
constexpr ErrorText kCrashed{"worker.crashed", "Analyzer Worker exited unexpectedly"};

constexpr auto kTimeoutDetail = "type=%1";
constexpr auto kCrashDetail = "exitCode=%1, exitStatus=%2";

// Protocol defects the client finds itself.
constexpr auto kOversizedLine = "Analyzer Worker produced an oversized JSONL line";
constexpr auto kEventSequenceNotIncreasing = "Analyzer Worker event sequence is not strictly increasing";
constexpr auto kUnknownRequestId = "Analyzer Worker event has an unknown requestId";
constexpr auto kEventTypeMismatch = "Analyzer Worker event type does not match its request";
constexpr auto kEventTaskIdMismatch = "Analyzer Worker event taskId does not match its request";
constexpr auto kIncompleteLineAtExit = "Analyzer Worker ended with an incomplete JSONL line";
constexpr auto kFrameSequenceNotIncreasing = "Analyzer frame sequence is not strictly increasing";

constexpr std::array kAnalysisModeNames{QLatin1StringView("stream_index"), QLatin1StringView("picture_structure"),
                                        QLatin1StringView("bounded_structure")};

// Which events answer which request, and which of them end it; "error" answers and ends any.
struct EventRule {
    QLatin1StringView requestType;
    std::array<QLatin1StringView, 4> accepted;
    std::array<QLatin1StringView, 2> terminal;
};

const std::array kEventRules{
    EventRule{type::hello, {type::hello}, {type::hello}},
    EventRule{type::capabilities, {type::capabilities}, {type::capabilities}},
    EventRule{type::analyze,
              {type::analysisStarted, type::probeResult, type::analysisFinished, type::analysisCanceled},
              {type::analysisFinished, type::analysisCanceled}},
    EventRule{type::cancel, {type::cancelAcknowledged}, {type::cancelAcknowledged}},
    EventRule{type::shutdown, {type::shutdownAcknowledged}, {type::shutdownAcknowledged}},
};

template <std::size_t N>
bool listed(const std::array<QLatin1StringView, N>& names, const QString& name)
{
    return std::any_of(names.begin(), names.end(),
                       [&name](QLatin1StringView entry) { return !entry.isEmpty() && entry == name; });
}

const EventRule* ruleFor(const QString& requestType)
{
    const auto* rule = std::find_if(kEventRules.begin(), kEventRules.end(),
                                    [&requestType](const EventRule& entry) { return entry.requestType == requestType; });
    return rule == kEventRules.end() ? nullptr : rule;
}

bool eventAnswers(const QString& requestType, const QString& eventType)
{
    const EventRule* rule = ruleFor(requestType);
    return eventType == type::error || (rule != nullptr && listed(rule->accepted, eventType));
}

bool eventEnds(const QString& requestType, const QString& eventType)
{
    const EventRule* rule = ruleFor(requestType);
    return eventType == type::error || (rule != nullptr && listed(rule->terminal, eventType));
}

QString freshId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString modeName(AnalyzerAnalysisMode mode)
{
    const auto index = static_cast<std::size_t>(mode);
    return QString(index < kAnalysisModeNames.size() ? kAnalysisModeNames[index] : kAnalysisModeNames.front());
}

QString processIdText()
{
    return QString::number(QCoreApplication::applicationPid());
}

}  // namespace

AnalyzerWorkerClient::AnalyzerWorkerClient(QObject* parent, AnalyzerWorkerClientOptions options)
    : QObject(parent),
      program_(std::move(options.workerProgram)),
      arguments_(std::move(options.workerArguments)),
      startTimeoutMs_(std::max(options.startTimeoutMs, 1)),
      controlTimeoutMs_(std::max(options.controlTimeoutMs, 1)),
      analyzeTimeoutMs_(std::max(options.analyzeTimeoutMs, 1)),
      shutdownTimeoutMs_(std::max(options.shutdownTimeoutMs, 1)),
      process_(new QProcess(this)),
      frameChannel_(std::make_unique<AnalyzerFrameChannel>([this] { deliverFrames(); }))
{
    registerApplicationMetaTypes();
    process_->setProcessChannelMode(QProcess::SeparateChannels);
    connect(process_, &QProcess::started, this, &AnalyzerWorkerClient::onProcessStarted);
    connect(process_, &QProcess::readyReadStandardOutput, this, &AnalyzerWorkerClient::readStandardOutput);
    connect(process_, &QProcess::readyReadStandardError, this, &AnalyzerWorkerClient::readStandardError);
    connect(process_, &QProcess::finished, this, &AnalyzerWorkerClient::onProcessFinished);
    connect(process_, &QProcess::errorOccurred, this, &AnalyzerWorkerClient::onProcessError);

    startTimer_.setSingleShot(true);
    connect(&startTimer_, &QTimer::timeout, this, &AnalyzerWorkerClient::onStartTimeout);
    timeoutTimer_.setInterval(kDeadlineScanIntervalMs);
    connect(&timeoutTimer_, &QTimer::timeout, this, &AnalyzerWorkerClient::scanDeadlines);
    timeoutTimer_.start();
}

AnalyzerWorkerClient::~AnalyzerWorkerClient()
{
    shutdown();
    // The process must not report into a half-destroyed client.
    process_->disconnect(this);
}

void AnalyzerWorkerClient::setState(AnalyzerWorkerState state)
{
    if (state_ == state) {
        return;
    }
    state_ = state;
    emit stateChanged(state);
}

// --- Start ------------------------------------------------------------------------------

QString AnalyzerWorkerClient::start()
{
    // A failed run killed its process, but the kill may not have been reaped yet; without this
    // wait a start right after a failure would be refused with nothing left to retry it.
    if (state_ == AnalyzerWorkerState::Failed && process_->state() != QProcess::NotRunning) {
        process_->waitForFinished(kKillWaitMs);
    }
    if (process_->state() != QProcess::NotRunning ||
        (state_ != AnalyzerWorkerState::NotRunning && state_ != AnalyzerWorkerState::Failed)) {
        return {};
    }
    outputBuffer_.clear();

    frameChannelName_ = QString::fromLatin1(kFrameChannelNamePattern).arg(processIdText(), freshId());
    const QString listenError = frameChannel_->open(frameChannelName_);
    if (!listenError.isEmpty()) {
        frameChannel_->stop();
        fail(clientError(kListenFailed.code, kListenFailed.message, listenError, {}, {}), false);
        setState(AnalyzerWorkerState::Failed);
        return {};
    }

    forgetRequests();
    shutdownRequestId_.clear();
    lastEventSequence_ = 0;
    lastFrameSequence_ = 0;
    shutdownRequested_ = false;
    fatalReported_ = false;
    startId_ = freshId();

    const QString program = program_.isEmpty()
                                ? locateAnalyzerWorkerProgram(QCoreApplication::applicationDirPath(),
                                                              QString::fromUtf8(kBuiltWorkerPath))
                                : program_;
    QStringList arguments = arguments_;
    arguments << QString::fromLatin1(kParentPidOption) << processIdText() << QString::fromLatin1(kFrameChannelOption)
              << frameChannelName_;

    setState(AnalyzerWorkerState::Starting);
    process_->setProgram(program);
    process_->setArguments(arguments);
    process_->setProcessEnvironment(analyzerWorkerEnvironment(QProcessEnvironment::systemEnvironment()));
    const QString startId = startId_;
    process_->start(QIODevice::ReadWrite);
    // Armed once the launch call has returned: forking a large process on a loaded machine
    // takes time that is not the worker's.
    if (state_ == AnalyzerWorkerState::Starting) {
        startTimer_.start(startTimeoutMs_);
    }
    return startId;
}

void AnalyzerWorkerClient::onProcessStarted()
{
    startTimer_.stop();
    emit workerStarted(static_cast<qlonglong>(process_->processId()));
    const QJsonObject payload{
        {key::clientName, QString::fromLatin1(kClientName)},
        {key::clientProtocolVersion, protocol::kProtocolVersion},
    };
    if (!writeLine(requestLine(QString(type::hello), startId_, {}, payload))) {
        fail(clientError(kHelloWriteFailed.code, kHelloWriteFailed.message, process_->errorString(), startId_, {}),
             true);
        return;
    }
    pendingRequests_.insert(startId_, PendingRequest{QString(type::hello), {}, deadlineAfter(controlTimeoutMs_)});
}

void AnalyzerWorkerClient::onProcessError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || fatalReported_) {
        return;  // a crash arrives as the process's end
    }
    startTimer_.stop();
    fail(clientError(kStartFailed.code, kStartFailed.message, process_->errorString(), startId_, {}), false);
    fatalReported_ = true;
    setState(AnalyzerWorkerState::Failed);
}

void AnalyzerWorkerClient::onStartTimeout()
{
    // The timer and the start notice may both be due after a stall of the GUI thread; a process
    // that has in fact started is not late.
    if (state_ != AnalyzerWorkerState::Starting || process_->waitForStarted(0)) {
        return;
    }
    fail(clientError(kStartTimeout.code, kStartTimeout.message, process_->program(), startId_, {}), true);
}

void AnalyzerWorkerClient::onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    startTimer_.stop();
    readStandardOutput();
    readStandardError();
    if (!outputBuffer_.isEmpty() && !fatalReported_) {
        failProtocol(QString::fromLatin1(kIncompleteLineAtExit));
    }
    frameChannel_->stop();  // what a dead worker wrote last belongs to no task
    if (!fatalReported_) {
        if (shutdownRequested_ && exitStatus == QProcess::NormalExit && exitCode == 0) {
            forgetRequests();
            setState(AnalyzerWorkerState::NotRunning);
            return;
        }
        fatalReported_ = true;
        AnalyzerWorkerError error = clientError(
            kCrashed.code, kCrashed.message,
            QString::fromLatin1(kCrashDetail).arg(exitCode).arg(static_cast<int>(exitStatus)), {}, activeTaskId_);
        error.exitCode = exitCode;
        emit errorOccurred(error);
        forgetRequests();
    }
    setState(AnalyzerWorkerState::Failed);
}

// --- Requests ---------------------------------------------------------------------------

QByteArray AnalyzerWorkerClient::requestLine(const QString& type, const QString& requestId, const QString& taskId,
                                             const QJsonObject& payload) const
{
    AnalyzerProtocolMessage message;
    message.type = type;
    message.requestId = requestId;
    message.taskId = taskId;
    message.payload = payload;
    return protocol::serializeProtocolMessage(message, ProtocolDirection::Request);
}

bool AnalyzerWorkerClient::writeLine(const QByteArray& line)
{
    return process_->write(line) == line.size();
}

QString AnalyzerWorkerClient::sendRequest(const QString& type, const QString& taskId, const QJsonObject& payload,
                                          std::int32_t timeoutMs)
{
    const QString requestId = freshId();
    if (!writeLine(requestLine(type, requestId, taskId, payload))) {
        fail(clientError(kWriteFailed.code, kWriteFailed.message, process_->errorString(), requestId, taskId), true);
        return {};
    }
    pendingRequests_.insert(requestId, PendingRequest{type, taskId, deadlineAfter(timeoutMs)});
    return requestId;
}

AnalyzerTaskRequest AnalyzerWorkerClient::sendAnalyze(const QString& requestedTaskId, const QJsonObject& payload)
{
    if (state_ != AnalyzerWorkerState::Ready || !activeTaskId_.isEmpty()) {
        fail(clientError(kInvalidState.code, kInvalidState.message, {}, {}, requestedTaskId), false);
        return {};
    }
    const QString taskId = requestedTaskId.isEmpty() ? freshId() : requestedTaskId;
    if (!protocol::isValidProtocolIdentifier(taskId)) {
        fail(clientError(kInvalidTaskId.code, kInvalidTaskId.message, {}, {}, taskId), false);
        return {};
    }
    activeTaskId_ = taskId;
    cancelRequests_.remove(taskId);
    lastFrameSequence_ = 0;
    frameChannel_->dropFrames();
    const QString requestId = sendRequest(QString(type::analyze), taskId, payload, analyzeTimeoutMs_);
    if (requestId.isEmpty()) {
        activeTaskId_.clear();
        return {};
    }
    setState(AnalyzerWorkerState::Busy);
    return AnalyzerTaskRequest{requestId, taskId};
}

AnalyzerTaskRequest AnalyzerWorkerClient::analyze(const QString& inputPath, const QString& cacheRoot,
                                                  AnalyzerAnalysisMode mode, const QString& taskId)
{
    return sendAnalyze(taskId, QJsonObject{
                                   {key::inputPath, inputPath},
                                   {key::cacheRoot, cacheRoot},
                                   {key::analysisMode, modeName(mode)},
                               });
}

AnalyzerTaskRequest AnalyzerWorkerClient::analyzePictureStructure(const QString& inputPath, const QString& cacheRoot,
                                                                  std::uint64_t targetDecodePictureId,
                                                                  const QString& taskId,
                                                                  const std::optional<protocol::StructureStart>& start)
{
    if (targetDecodePictureId == 0) {
        fail(clientError(kInvalidTarget.code, kInvalidTarget.message, {}, {}, taskId), false);
        return {};
    }
    QJsonObject payload{
        {key::inputPath, inputPath},
        {key::cacheRoot, cacheRoot},
        {key::analysisMode, modeName(AnalyzerAnalysisMode::PictureStructure)},
        {key::targetDecodePictureId, static_cast<qint64>(targetDecodePictureId)},
    };
    if (start) {
        payload.insert(protocol::kStructureStartKey, protocol::structureStartToJson(*start));
    }
    return sendAnalyze(taskId, payload);
}

QString AnalyzerWorkerClient::cancel(const QString& taskId)
{
    if (taskId == activeTaskId_ && cancelRequests_.contains(taskId)) {
        return cancelRequests_.value(taskId);
    }
    if (state_ == AnalyzerWorkerState::Busy && !taskId.isEmpty() && taskId == activeTaskId_) {
        const QString requestId = sendRequest(QString(type::cancel), taskId, QJsonObject(), controlTimeoutMs_);
        if (!requestId.isEmpty()) {
            cancelRequests_.insert(taskId, requestId);
        }
        return requestId;
    }
    fail(clientError(kTaskNotActive.code, kTaskNotActive.message, {}, {}, taskId), false);
    return {};
}

// --- Events -----------------------------------------------------------------------------

void AnalyzerWorkerClient::readStandardOutput()
{
    outputBuffer_.append(process_->readAllStandardOutput());
    if (outputBuffer_.size() > protocol::kMaxProtocolLineBytes && !outputBuffer_.contains('\n')) {
        failProtocol(QString::fromLatin1(kOversizedLine));
        return;
    }
    qsizetype lineEnd = outputBuffer_.indexOf('\n');
    while (lineEnd >= 0) {
        const QByteArray line = outputBuffer_.first(lineEnd + 1);
        outputBuffer_.remove(0, lineEnd + 1);
        const protocol::ProtocolParseResult parsed = protocol::parseProtocolLine(line, ProtocolDirection::Event);
        if (const auto* error = std::get_if<protocol::ProtocolParseError>(&parsed)) {
            failProtocol(error->message);
            return;
        }
        handleEvent(std::get<AnalyzerProtocolMessage>(parsed));
        if (fatalReported_) {
            return;
        }
        lineEnd = outputBuffer_.indexOf('\n');
    }
}

void AnalyzerWorkerClient::readStandardError()
{
    const QByteArray text = process_->readAllStandardError();
    if (!text.isEmpty()) {
        emit stderrTextReceived(QString::fromUtf8(text));
    }
}

void AnalyzerWorkerClient::handleEvent(const AnalyzerProtocolMessage& event)
{
    if (event.sequence <= lastEventSequence_) {
        failProtocol(QString::fromLatin1(kEventSequenceNotIncreasing));
        return;
    }
    lastEventSequence_ = event.sequence;
    const auto pending = pendingRequests_.constFind(event.requestId);
    if (pending == pendingRequests_.constEnd()) {
        failProtocol(QString::fromLatin1(kUnknownRequestId));
        return;
    }
    const PendingRequest request = pending.value();
    if (!eventAnswers(request.type, event.type)) {
        failProtocol(QString::fromLatin1(kEventTypeMismatch));
        return;
    }
    if (!request.taskId.isEmpty() && event.taskId != request.taskId) {
        failProtocol(QString::fromLatin1(kEventTaskIdMismatch));
        return;
    }

    rearmAnalyzeDeadlines();  // any answer shows the worker alive
    if (request.type == type::analyze && eventEnds(request.type, event.type)) {
        drainFrameChannel();
        if (fatalReported_) {
            return;  // a broken frame failed the run; its end line no longer speaks for it
        }
    }
    emit eventReceived(event);
    if (event.type == type::error) {
        emitWorkerError(event);
    }
    if (!eventEnds(request.type, event.type)) {
        pendingRequests_[event.requestId].deadline = deadlineAfter(analyzeTimeoutMs_);
        return;
    }
    finishRequest(event.requestId, request, event);
}

void AnalyzerWorkerClient::emitWorkerError(const AnalyzerProtocolMessage& event)
{
    AnalyzerWorkerError error;
    error.code = event.payload.value(key::code).toString();
    error.message = event.payload.value(key::message).toString();
    error.detail = event.payload.value(key::detail).toString();
    error.requestId = event.requestId;
    error.taskId = event.taskId;
    error.recoverable = event.payload.value(key::recoverable).toBool(false);
    emit errorOccurred(error);
}

void AnalyzerWorkerClient::finishRequest(const QString& requestId, const PendingRequest& request,
                                         const AnalyzerProtocolMessage& event)
{
    pendingRequests_.remove(requestId);
    if (request.type == type::hello) {
        if (event.type == type::hello) {
            setState(AnalyzerWorkerState::Ready);
            return;
        }
        // A worker that refuses the greeting can run no task: without this the client would
        // wait in Starting for ever beside a live process.
        fail(clientError(kHelloRejected.code, kHelloRejected.message, event.payload.value(key::code).toString(),
                         requestId, {}),
             true);
    } else if (request.type == type::analyze) {
        activeTaskId_.clear();
        cancelRequests_.remove(request.taskId);
        if (state_ != AnalyzerWorkerState::ShuttingDown) {
            setState(AnalyzerWorkerState::Ready);
        }
    } else if (request.type == type::shutdown) {
        shutdownRequested_ = true;
        process_->closeWriteChannel();
    }
}

// --- Deadlines --------------------------------------------------------------------------

AnalyzerWorkerClient::Clock::time_point AnalyzerWorkerClient::deadlineAfter(std::int32_t timeoutMs) const
{
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

void AnalyzerWorkerClient::scanDeadlines()
{
    const Clock::time_point now = Clock::now();
    const auto overdue = [now](const PendingRequest& request) { return request.deadline <= now; };
    if (std::none_of(pendingRequests_.cbegin(), pendingRequests_.cend(), overdue)) {
        return;
    }
    // After a stall of the GUI thread the answer, or frames that show progress, may be waiting
    // unread beside this timer: a request counts as late only when nothing has answered it.
    deliverFrames();
    readStandardOutput();
    if (fatalReported_) {
        return;
    }
    for (auto it = pendingRequests_.cbegin(); it != pendingRequests_.cend(); ++it) {
        if (it->deadline <= now) {
            fail(clientError(kTimeout.code, kTimeout.message, QString::fromLatin1(kTimeoutDetail).arg(it->type),
                             it.key(), it->taskId),
                 true);
            return;
        }
    }
}

// An analysis that keeps delivering frames is making progress, however long the stream.
void AnalyzerWorkerClient::rearmAnalyzeDeadlines()
{
    for (PendingRequest& request : pendingRequests_) {
        if (request.type == type::analyze) {
            request.deadline = deadlineAfter(analyzeTimeoutMs_);
        }
    }
}

// --- Frame channel ----------------------------------------------------------------------

// The worker writes a task's frames before its end line, but the two travel on different channels:
// without this, frames still unread in the socket would reach receivers after the task had ended.
void AnalyzerWorkerClient::drainFrameChannel()
{
    const Clock::time_point deadline = Clock::now() + kFrameDrainWaitMs;
    for (;;) {
        const auto wait = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                                   std::chrono::milliseconds(0));
        const AnalyzerFrameChannel::ReadOutcome outcome = frameChannel_->readNow(wait);
        deliverFrames();
        // More waiting means the reader stopped at its limit; having taken its items, ask again.
        if (outcome != AnalyzerFrameChannel::ReadOutcome::MoreWaiting || fatalReported_) {
            return;
        }
    }
}

void AnalyzerWorkerClient::deliverFrames()
{
    while (std::optional<FrameChannelItem> item = frameChannel_->takeNext()) {
        if (const auto* defect = std::get_if<FrameChannelDefect>(&*item)) {
            rejectFrames(defect->message);
            return;
        }
        const auto& packet = std::get<protocol::AnalyzerFramePacket>(*item);
        if (packet.sequence <= lastFrameSequence_) {
            rejectFrames(QString::fromLatin1(kFrameSequenceNotIncreasing));
            return;
        }
        lastFrameSequence_ = packet.sequence;
        rearmAnalyzeDeadlines();
        emit frameReceived(packet);
    }
}

void AnalyzerWorkerClient::rejectFrames(const QString& defect)
{
    frameChannel_->dropFrames();  // what follows a broken packet in the stream means nothing
    failProtocol(defect);
}

// --- Failures ---------------------------------------------------------------------------

AnalyzerWorkerError AnalyzerWorkerClient::clientError(const char* code, const char* message, const QString& detail,
                                                      const QString& requestId, const QString& taskId) const
{
    AnalyzerWorkerError error;
    error.code = QString::fromLatin1(code);
    error.message = QString::fromLatin1(message);
    error.detail = detail;
    error.requestId = requestId;
    error.taskId = taskId;
    return error;
}

void AnalyzerWorkerClient::forgetRequests()
{
    pendingRequests_.clear();
    activeTaskId_.clear();
    cancelRequests_.clear();
}

void AnalyzerWorkerClient::fail(const AnalyzerWorkerError& error, bool fatal)
{
    if (!fatal) {
        emit errorOccurred(error);
        return;
    }
    if (fatalReported_) {
        return;  // one fatal report per run; the rest follows from the first
    }
    fatalReported_ = true;
    emit errorOccurred(error);
    forgetRequests();
    frameChannel_->stop();  // the run is over; nothing it still sends is wanted
    setState(AnalyzerWorkerState::Failed);
    if (process_->state() != QProcess::NotRunning) {
        process_->kill();
    }
}

void AnalyzerWorkerClient::failProtocol(const QString& defect)
{
    fail(clientError(kProtocolError.code, kProtocolError.message, defect, {}, {}), true);
}

// --- Shutdown ---------------------------------------------------------------------------

void AnalyzerWorkerClient::shutdown()
{
    startTimer_.stop();
    frameChannel_->stop();
    if (process_->state() == QProcess::NotRunning) {
        setState(AnalyzerWorkerState::NotRunning);
        return;
    }
    shutdownRequested_ = true;
    if (process_->state() == QProcess::Starting) {
        process_->kill();
        process_->waitForFinished(kKillWaitMs);
        setState(AnalyzerWorkerState::NotRunning);
        return;
    }
    if (shutdownRequestId_.isEmpty()) {
        setState(AnalyzerWorkerState::ShuttingDown);
        shutdownRequestId_ = sendRequest(QString(type::shutdown), {}, QJsonObject(), shutdownTimeoutMs_);
    }
    process_->waitForBytesWritten(std::min(shutdownTimeoutMs_, kShutdownWriteWaitCapMs));
    if (process_->state() == QProcess::NotRunning || process_->waitForFinished(shutdownTimeoutMs_)) {
        setState(AnalyzerWorkerState::NotRunning);
        return;
    }
    process_->terminate();
    if (process_->waitForFinished(kTerminateWaitMs)) {
        setState(AnalyzerWorkerState::NotRunning);
        return;
    }
    process_->kill();
    process_->waitForFinished(kKillWaitMs);
    setState(AnalyzerWorkerState::NotRunning);
}

}  // namespace vexilo::application
