#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

class QTcpSocket;

namespace vexilo::ai::test {

// A chat service on 127.0.0.1 for tests: records every request it reads and answers each
// with the configured reply (optionally late, or never), speaking plain HTTP/1.1.
class LocalChatServer : public QObject {
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        int delayMs = 0;
        bool never = false;  // keep the connection open without answering
    };

    struct ReceivedRequest {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers;  // names in lower case
        QByteArray body;
    };

    explicit LocalChatServer(QObject* parent = nullptr);

    [[nodiscard]] QString baseUrl(const QString& path = QStringLiteral("/v1")) const;
    [[nodiscard]] quint16 port() const;
    void setReply(Reply reply) { reply_ = std::move(reply); }
    // Answers requests for `path` with `reply` instead of the general one.
    void setReplyForPath(const QByteArray& path, Reply reply) { pathReplies_.insert(path, std::move(reply)); }
    [[nodiscard]] const QList<ReceivedRequest>& requests() const { return requests_; }
    [[nodiscard]] int connectionCount() const { return connections_; }

    static Reply jsonReply(int status, const QByteArray& body);
    static Reply silence();  // reads the request and never answers
    static Reply chatAnswer(const QString& content, const QString& model = QStringLiteral("local-model"));

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void answer(const QPointer<QTcpSocket>& socket, const Reply& reply);

    Reply reply_;
    QHash<QByteArray, Reply> pathReplies_;
    QList<ReceivedRequest> requests_;
    QHash<QTcpSocket*, QByteArray> pending_;
    int connections_ = 0;
    QTcpServer server_;  // last: its sockets report their destruction into the members above
};

}  // namespace vexilo::ai::test
