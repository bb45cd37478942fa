#include "vexilo/ai/OpenAICompatibleClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <vector>

namespace vexilo::ai {

namespace {

constexpr auto kChatCompletionsPath = "/chat/completions";
constexpr qsizetype kBodyExcerptBytes = 2048;
constexpr int kFirstHttpErrorStatus = 400;

AiClientError makeAiClientError(const QString& code, const QString& message, const QString& detail,
                                bool recoverable = true)
{
    return AiClientError{code, message, detail, recoverable};
}

QString chatCompletionsUrl(QString baseUrl)
{
    while (baseUrl.endsWith(QLatin1Char('/'))) {
        baseUrl.chop(1);
    }
    return baseUrl + QLatin1String(kChatCompletionsPath);
}

// A key from the environment may carry line breaks that would split the header.
bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar character) { return character.category() == QChar::Other_Control; });
}

struct ValidationRule {
    std::function<bool(const AiChatRequest&)> fails;
    const char* code;
    const char* message;
    std::function<QString(const AiChatRequest&)> detail;
};

QString noDetail(const AiChatRequest&) { return {}; }

const std::vector<ValidationRule>& validationRules()
{
    static const std::vector<ValidationRule> rules{
        {[](const AiChatRequest& r) { return r.provider.baseUrl.trimmed().isEmpty(); }, "ai.provider_missing",
         "AI provider base URL is missing", noDetail},
        {[](const AiChatRequest& r) { return !QUrl(chatCompletionsUrl(r.provider.baseUrl), QUrl::TolerantMode).isValid(); },
         "ai.provider_invalid", "AI provider base URL is invalid",
         [](const AiChatRequest& r) { return r.provider.baseUrl; }},
        {[](const AiChatRequest& r) { return r.model.trimmed().isEmpty(); }, "ai.model_missing",
         "AI model name is missing", noDetail},
        {[](const AiChatRequest& r) { return r.apiKey.trimmed().isEmpty(); }, "ai.api_key_missing",
         "AI API key is missing",
         [](const AiChatRequest& r) {
             return QStringLiteral("Enter an API key or set %1.").arg(r.provider.apiKeyEnvironmentVariable);
         }},
        {[](const AiChatRequest& r) { return hasControlCharacter(r.apiKey.trimmed()); }, "ai.api_key_invalid",
         "AI API key contains control characters",
         [](const AiChatRequest& r) {
             return QStringLiteral("Remove line breaks and control characters from the key or from %1.")
                 .arg(r.provider.apiKeyEnvironmentVariable);
         }},
        {[](const AiChatRequest& r) { return r.userContent.trimmed().isEmpty(); }, "ai.prompt_missing",
         "AI question is empty", noDetail},
    };
    return rules;
}

AiClientError validateChatRequest(const AiChatRequest& request)
{
    for (const ValidationRule& rule : validationRules()) {
        if (rule.fails(request)) {
            return makeAiClientError(QLatin1String(rule.code), QLatin1String(rule.message), rule.detail(request));
        }
    }
    return {};
}

QByteArray buildChatRequestBody(const AiChatRequest& request)
{
    QJsonArray messages;
    if (!request.systemPrompt.trimmed().isEmpty()) {
        messages.append(QJsonObject{{QStringLiteral("role"), QStringLiteral("system")},
                                    {QStringLiteral("content"), request.systemPrompt}});
    }
    messages.append(
        QJsonObject{{QStringLiteral("role"), QStringLiteral("user")}, {QStringLiteral("content"), request.userContent}});
    const QJsonObject body{
        {QStringLiteral("model"), request.model.trimmed()},
        {QStringLiteral("messages"), messages},
        {QStringLiteral("temperature"), request.temperature},
        {QStringLiteral("max_tokens"), request.maxTokens},
        {QStringLiteral("stream"), false},
    };
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QString providerErrorMessage(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonValue error = document.object().value(QStringLiteral("error"));
    if (!document.isObject() || !error.isObject()) {
        return {};
    }
    return error.toObject().value(QStringLiteral("message")).toString();
}

QString bodyExcerpt(const QByteArray& body)
{
    return QString::fromUtf8(body.left(kBodyExcerptBytes));
}

QString providerMessageOr(const QByteArray& body, const QString& fallback)
{
    const QString message = providerErrorMessage(body);
    return message.isEmpty() ? fallback : message;
}

QNetworkRequest makeNetworkRequest(const AiChatRequest& request)
{
    QNetworkRequest networkRequest(QUrl(chatCompletionsUrl(request.provider.baseUrl), QUrl::TolerantMode));
    networkRequest.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    networkRequest.setRawHeader("Authorization", "Bearer " + request.apiKey.trimmed().toUtf8());
    networkRequest.setRawHeader("Accept", "application/json");
    // Qt's default follows a redirect to another host with the bearer key attached.
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    return networkRequest;
}

AiClientError tooLargeError()
{
    return makeAiClientError(QStringLiteral("ai.response_too_large"), QStringLiteral("AI provider response is too large"),
                             QStringLiteral("The response exceeded %1 bytes.").arg(OpenAICompatibleClient::kMaxReplyBytes));
}

}  // namespace

OpenAICompatibleClient::OpenAICompatibleClient(QObject* parent)
    : QObject(parent), manager_(new QNetworkAccessManager(this)), timer_(new QTimer(this))
{
    registerAiMetaTypes();
    manager_->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &OpenAICompatibleClient::onTimeout);
}

bool OpenAICompatibleClient::isBusy() const
{
    return !reply_.isNull();
}

void OpenAICompatibleClient::sendChat(vexilo::ai::AiChatRequest request)
{
    if (isBusy()) {
        emit chatFailed(makeAiClientError(QStringLiteral("ai.busy"), QStringLiteral("AI request is already running"),
                                          QStringLiteral("Cancel the active request before asking again.")));
        return;
    }
    const AiClientError error = validateChatRequest(request);
    if (error.isError()) {
        emit chatFailed(error);
        emit chatFinished();
        return;
    }
    request_ = std::move(request);
    aborted_ = false;
    QNetworkReply* reply = manager_->post(makeNetworkRequest(request_), buildChatRequestBody(request_));
    reply_ = reply;
    timer_->start(request_.timeoutMs);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onReplyFinished(reply); });
    connect(reply, &QNetworkReply::downloadProgress, this,
            [this, reply](qint64 received, qint64 total) { onDownloadProgress(reply, received, total); });
}

void OpenAICompatibleClient::cancel()
{
    abortReply();
}

bool OpenAICompatibleClient::abortReply()
{
    QNetworkReply* reply = reply_.data();
    if (reply == nullptr) {
        return false;
    }
    aborted_ = true;
    reply->abort();
    return true;
}

void OpenAICompatibleClient::releaseReply()
{
    timer_->stop();
    if (reply_) {
        reply_->deleteLater();
        reply_ = nullptr;
    }
    request_.apiKey.clear();
}

void OpenAICompatibleClient::failRequest(const AiClientError& error)
{
    releaseReply();
    emit chatFailed(error);
    emit chatFinished();
}

void OpenAICompatibleClient::onDownloadProgress(QNetworkReply* reply, qint64 received, qint64 total)
{
    if (reply != reply_ || (received <= kMaxReplyBytes && total <= kMaxReplyBytes)) {
        return;
    }
    // Detached first, so that the abort's own finished signal reports nothing.
    reply->disconnect(this);
    reply->abort();
    failRequest(tooLargeError());
}

void OpenAICompatibleClient::onReplyFinished(QNetworkReply* reply)
{
    if (reply != reply_) {
        reply->deleteLater();
        return;
    }
    timer_->stop();
    if (aborted_) {
        releaseReply();
        emit chatFinished();
        return;
    }
    const QByteArray body = reply->read(kMaxReplyBytes + 1);
    if (body.size() > kMaxReplyBytes) {
        failRequest(tooLargeError());
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Qt marks 4xx and 5xx replies as network errors too; the status tells them apart.
    if (status >= kFirstHttpErrorStatus) {
        failRequest(makeAiClientError(
            QStringLiteral("ai.http"), QStringLiteral("AI provider returned an HTTP error"),
            QStringLiteral("HTTP %1: %2").arg(QString::number(status), providerMessageOr(body, bodyExcerpt(body)))));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        failRequest(makeAiClientError(QStringLiteral("ai.network"), QStringLiteral("AI provider request failed"),
                                      providerMessageOr(body, reply->errorString())));
        return;
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        failRequest(makeAiClientError(QStringLiteral("ai.bad_json"), QStringLiteral("AI provider returned malformed JSON"),
                                      parseError.errorString()));
        return;
    }
    const QJsonObject root = document.object();
    const QJsonArray choices = root.value(QStringLiteral("choices")).toArray();
    if (choices.isEmpty() || !choices.first().isObject()) {
        failRequest(makeAiClientError(QStringLiteral("ai.bad_response"),
                                      QStringLiteral("AI provider response has no choices"), bodyExcerpt(body)));
        return;
    }
    const QString answer = choices.first()
                               .toObject()
                               .value(QStringLiteral("message"))
                               .toObject()
                               .value(QStringLiteral("content"))
                               .toString()
                               .trimmed();
    if (answer.isEmpty()) {
        failRequest(makeAiClientError(QStringLiteral("ai.empty_response"),
                                      QStringLiteral("AI provider returned an empty answer"), bodyExcerpt(body)));
        return;
    }
    const QJsonValue reportedModel = root.value(QStringLiteral("model"));
    const AiChatResponse response{request_.provider.displayName,
                                  reportedModel.isString() ? reportedModel.toString() : request_.model.trimmed(), answer};
    releaseReply();
    emit chatSucceeded(response);
    emit chatFinished();
}

void OpenAICompatibleClient::onTimeout()
{
    if (!abortReply()) {
        return;
    }
    failRequest(makeAiClientError(QStringLiteral("ai.timeout"), QStringLiteral("AI request timed out"),
                                  QStringLiteral("The provider did not finish before the request timeout.")));
}

}  // namespace vexilo::ai
