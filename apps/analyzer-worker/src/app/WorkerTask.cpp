#include "app/AnalyzeRequest.h"
#include "app/FrameChannel.h"
#include "app/TaskPayloads.h"
#include "app/WorkerApplication.h"

#include <QLocalSocket>

#include <optional>

#include <stdexcept>

namespace vexilo::analyzer {
namespace {

namespace type = protocol::message_type;

constexpr auto kFrameChannelUnreachable = "Could not connect to local frame channel: %1";

std::filesystem::path toPath(const QString& text)
{
    return std::filesystem::path(text.toStdU16String());
}

bool cancellationRequested(const std::stop_token& stopToken, const CancelRequest& cancelRequest)
{
    return stopToken.stop_requested() || cancelRequest.requested.load();
}

// The frame channel of one task: connected before the analysis runs, closed after it.
std::unique_ptr<QLocalSocket> connectFrameChannel(const QString& name)
{
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(name, QIODevice::WriteOnly);
    if (!socket->waitForConnected(kFrameChannelConnectTimeoutMs)) {
        throw std::runtime_error(QString::fromLatin1(kFrameChannelUnreachable).arg(socket->errorString()).toStdString());
    }
    return socket;
}

void closeFrameChannel(std::unique_ptr<QLocalSocket>& socket)
{
    if (socket && socket->state() != QLocalSocket::UnconnectedState) {
        socket->disconnectFromServer();
    }
    socket.reset();
}

}  // namespace

void WorkerApplication::runAnalysisTask(const std::stop_token& stopToken, const TaskRecord& task)
{
    if (cancellationRequested(stopToken, *task.cancelRequest)) {
        postCompletion(task, true, buildCanceledPayload());
        return;
    }

    bool ok = true;
    QJsonObject payload;
    try {
        std::unique_ptr<QLocalSocket> socket;
        std::optional<FramePacketSender> frameSender;
        FrameSink sendDecodedFrame;
        if (!task.frameChannel.isEmpty()) {
            socket = connectFrameChannel(task.frameChannel);
            frameSender.emplace(*socket);
            sendDecodedFrame = [&frameSender](domain::PictureInfo picture, domain::VideoFrame frame) {
                return frameSender->send(std::move(picture), std::move(frame));
            };
        }
        const AnalysisMode mode = analysisModeFromName(task.modeName).value_or(AnalysisMode::StreamIndex);
        const AnalyzerRunResult result =
            task.pipeline(toPath(task.inputPath), toPath(task.cacheRoot), *task.cancelRequest, mode, task.target,
                          std::move(sendDecodedFrame));
        if (result.canceled) {
            payload = buildCanceledPayload();
        } else if (result.succeeded) {
            payload = buildSuccessPayload(result, task.modeName, task.target.decodePictureId);
        } else {
            ok = false;
            payload = buildRunErrorPayload(result);
        }
        // Every frame is taken before the outcome is told. Frames the desktop did not take (it is
        // gone or stuck) fail the run as a frame refused while decoding would: the desktop's
        // pictures would otherwise lack frames that a finished analysis promises.
        if (frameSender && !result.canceled && !frameSender->finish() && ok) {
            ok = false;
            payload = buildRunErrorPayload(frameDeliveryFailed(toPath(task.inputPath)));
        }
        // A cancelled task drops the frames still queued: the desktop no longer wants them.
        frameSender.reset();
        closeFrameChannel(socket);
    } catch (const std::exception& exception) {
        ok = false;
        payload = buildExceptionPayload(&exception);
    } catch (...) {
        ok = false;
        payload = buildExceptionPayload(nullptr);
    }

    // A cancellation requested while the run was finishing wins over whatever it produced.
    if (cancellationRequested(stopToken, *task.cancelRequest)) {
        ok = true;
        payload = buildCanceledPayload();
    }
    postCompletion(task, ok, payload);
}

void WorkerApplication::postCompletion(const TaskRecord& task, bool ok, const QJsonObject& payload)
{
    // The application joins this thread before it goes, so its mailbox is still there.
    task.completions->post([application = task.application, requestId = task.requestId, taskId = task.taskId, ok,
                            payload] {
        if (!application.isNull()) {
            application->finishTask(requestId, taskId, ok, payload);
        }
    });
}

void WorkerApplication::finishTask(const QString& requestId, const QString& taskId, bool ok,
                                   const QJsonObject& payload)
{
    if (!activeTask_ || activeTask_->requestId != requestId || activeTask_->taskId != taskId) {
        return;
    }
    const bool canceled = activeTask_->cancelRequest->requested.load() || isCanceledPayload(payload);
    activeTask_.reset();

    if (canceled) {
        rememberCanceledTask(taskId);
        writeEventOrExit(QString(type::analysisCanceled), requestId, taskId,
                         buildAnalysisCanceledPayload(pendingShutdown_.has_value()));
    } else if (ok) {
        writeEventOrExit(QString(type::probeResult), requestId, taskId, payload);
        writeEventOrExit(QString(type::analysisFinished), requestId, taskId, buildAnalysisFinishedPayload(payload));
    } else {
        writeEventOrExit(QString(type::error), requestId, taskId, payload);
    }
    handleShutdown();
}

}  // namespace vexilo::analyzer
