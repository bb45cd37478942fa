#pragma once

#include "vexilo/ai/AiChatRecords.h"

#include <QObject>
#include <QPointer>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace vexilo::ai {

// Sends one chat-completions request at a time and reports the answer or the failure.
// After a request went on the wire chatFinished always follows; on a time-out it can
// come twice for one request, so a caller's busy state must tolerate a repeat.
class OpenAICompatibleClient : public QObject {
    Q_OBJECT

public:
    // A reply body beyond this is refused, so that a misbehaving service cannot fill memory.
    static constexpr qint64 kMaxReplyBytes = 8 * 1024 * 1024;

    explicit OpenAICompatibleClient(QObject* parent = nullptr);

    [[nodiscard]] bool isBusy() const;

signals:
    void chatSucceeded(vexilo::ai::AiChatResponse response);
    void chatFailed(vexilo::ai::AiClientError error);
    void chatFinished();

public slots:
    void sendChat(vexilo::ai::AiChatRequest request);
    void cancel();

private:
    // Marks the abort as the client's own, so that the reply's finished handling stays quiet.
    bool abortReply();
    void releaseReply();
    void failRequest(const AiClientError& error);
    void onReplyFinished(QNetworkReply* reply);
    void onDownloadProgress(QNetworkReply* reply, qint64 received, qint64 total);
    void onTimeout();

    QNetworkAccessManager* manager_;
    QPointer<QNetworkReply> reply_;
    QTimer* timer_;
    AiChatRequest request_;
    bool aborted_ = false;
};

}  // namespace vexilo::ai
