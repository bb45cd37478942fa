#include "LocalChatServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>

namespace vexilo::ai::test {

namespace {

constexpr QByteArrayView kHeaderEnd = "\r\n\r\n";

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 307: return "Temporary Redirect";
    case 401: return "Unauthorized";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

// Parses a complete request out of `buffer`; false while more bytes are needed.
bool parseRequest(const QByteArray& buffer, LocalChatServer::ReceivedRequest& request)
{
    const qsizetype headerEnd = buffer.indexOf(kHeaderEnd);
    if (headerEnd < 0) {
        return false;
    }
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0) {
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    const qsizetype bodyStart = headerEnd + kHeaderEnd.size();
    if (buffer.size() - bodyStart < length) {
        return false;
    }
    request.body = buffer.mid(bodyStart, length);
    return true;
}

}  // namespace

LocalChatServer::LocalChatServer(QObject* parent) : QObject(parent)
{
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, &LocalChatServer::onNewConnection);
    reply_ = chatAnswer(QStringLiteral("Hello"));
}

QString LocalChatServer::baseUrl(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

quint16 LocalChatServer::port() const
{
    return server_.serverPort();
}

LocalChatServer::Reply LocalChatServer::jsonReply(int status, const QByteArray& body)
{
    Reply reply;
    reply.status = status;
    reply.body = body;
    reply.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
    return reply;
}

LocalChatServer::Reply LocalChatServer::silence()
{
    Reply reply;
    reply.never = true;
    return reply;
}

LocalChatServer::Reply LocalChatServer::chatAnswer(const QString& content, const QString& model)
{
    QJsonObject message{{QStringLiteral("role"), QStringLiteral("assistant")}, {QStringLiteral("content"), content}};
    QJsonObject root{{QStringLiteral("choices"), QJsonArray{QJsonObject{{QStringLiteral("message"), message}}}}};
    if (!model.isEmpty()) {
        root.insert(QStringLiteral("model"), model);
    }
    return jsonReply(200, QJsonDocument(root).toJson(QJsonDocument::Compact));
}

void LocalChatServer::onNewConnection()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        ++connections_;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { pending_.remove(socket); });
    }
}

void LocalChatServer::onReadyRead(QTcpSocket* socket)
{
    QByteArray& buffer = pending_[socket];
    buffer.append(socket->readAll());
    ReceivedRequest request;
    if (!parseRequest(buffer, request)) {
        return;
    }
    buffer.clear();
    requests_.append(request);
    const Reply reply = pathReplies_.value(request.path, reply_);
    if (reply.never) {
        return;
    }
    QPointer<QTcpSocket> guarded(socket);
    if (reply.delayMs > 0) {
        QTimer::singleShot(reply.delayMs, this, [this, guarded, reply] { answer(guarded, reply); });
    } else {
        answer(guarded, reply);
    }
}

void LocalChatServer::answer(const QPointer<QTcpSocket>& socket, const Reply& reply)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    QByteArray response = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    for (const auto& [name, value] : reply.headers) {
        response += name + ": " + value + "\r\n";
    }
    response += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(response);
    socket->write(reply.body);
    socket->disconnectFromHost();
}

}  // namespace vexilo::ai::test
