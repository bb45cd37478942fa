#include "LocalChatServer.h"
#include "vexilo/ai/OpenAICompatibleClient.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QTcpServer>
#include <QtTest>

using vexilo::ai::AiChatRequest;
using vexilo::ai::AiClientError;
using vexilo::ai::OpenAICompatibleClient;
using vexilo::ai::test::LocalChatServer;

namespace {

constexpr int kSignalWaitMs = 10000;

// Every signal of the client in arrival order, with what it carried.
struct SignalLog {
    QStringList events;
    QList<AiClientError> errors;
    QList<vexilo::ai::AiChatResponse> responses;

    explicit SignalLog(OpenAICompatibleClient& client)
    {
        QObject::connect(&client, &OpenAICompatibleClient::chatSucceeded, &client, [this](auto response) {
            events.append(QStringLiteral("succeeded"));
            responses.append(response);
        });
        QObject::connect(&client, &OpenAICompatibleClient::chatFailed, &client, [this](AiClientError error) {
            events.append(QStringLiteral("failed:") + error.code);
            errors.append(error);
        });
        QObject::connect(&client, &OpenAICompatibleClient::chatFinished, &client,
                         [this] { events.append(QStringLiteral("finished")); });
    }

    [[nodiscard]] bool finished() const { return events.contains(QStringLiteral("finished")); }
};

AiChatRequest requestFor(const QString& baseUrl);

// A client, the local service it talks to, and the log of the client's signals.
struct ClientRig {
    LocalChatServer server;
    OpenAICompatibleClient client;
    SignalLog log{client};

    bool askAndWait(const AiChatRequest& request)
    {
        client.sendChat(request);
        return QTest::qWaitFor([this] { return log.finished(); }, kSignalWaitMs);
    }
};

AiChatRequest requestFor(const QString& baseUrl)
{
    AiChatRequest request;
    request.provider.displayName = QStringLiteral("Local");
    request.provider.baseUrl = baseUrl;
    request.provider.apiKeyEnvironmentVariable = QStringLiteral("LOCAL_TEST_KEY");
    request.model = QStringLiteral("test-model");
    request.apiKey = QStringLiteral("secret-key");
    request.userContent = QStringLiteral("What is loaded?");
    return request;
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

}  // namespace

class OpenAICompatibleClientTest : public QObject {
    Q_OBJECT

private slots:
    void defaultsAndPresets()
    {
        const AiChatRequest request;
        QCOMPARE(request.timeoutMs, 60000);
        QCOMPARE(request.maxTokens, 1200);
        QCOMPARE(request.temperature, 0.2);
        const auto presets = vexilo::ai::aiProviderPresets();
        QCOMPARE(presets.size(), std::size_t{3});
        QCOMPARE(presets[0].displayName, QStringLiteral("GPT"));
        QCOMPARE(presets[0].apiKeyEnvironmentVariable, QStringLiteral("OPENAI_API_KEY"));
        QCOMPARE(presets[1].defaultModel, QStringLiteral("deepseek-chat"));
        QCOMPARE(presets[2].kind, vexilo::ai::AiProviderKind::Gemini);
        for (const auto& preset : presets) {
            QVERIFY(preset.baseUrl.startsWith(QStringLiteral("https://")));
        }
    }

    void sendsExactHeadersAndBody()
    {
        ClientRig rig;
        auto& [server, client, log] = rig;
        AiChatRequest request = requestFor(server.baseUrl());
        request.apiKey = QStringLiteral("  secret-key \t");
        request.model = QStringLiteral(" test-model ");
        request.systemPrompt = QStringLiteral("  Be brief.  ");
        request.userContent = QStringLiteral("  Why?  ");
        client.sendChat(request);
        QVERIFY(client.isBusy());
        QTRY_VERIFY_WITH_TIMEOUT(log.finished(), kSignalWaitMs);

        QCOMPARE(server.requests().size(), 1);
        const auto& received = server.requests().first();
        QCOMPARE(received.method, QByteArray("POST"));
        QCOMPARE(received.path, QByteArray("/v1/chat/completions"));
        QCOMPARE(received.headers.value("authorization"), QByteArray("Bearer secret-key"));
        QCOMPARE(received.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(received.headers.value("accept"), QByteArray("application/json"));
        QCOMPARE(received.body,
                 QByteArray(R"({"max_tokens":1200,"messages":[{"content":"  Be brief.  ","role":"system"},)"
                            R"({"content":"  Why?  ","role":"user"}],"model":"test-model","stream":false,)"
                            R"("temperature":0.2})"));
        QCOMPARE(log.events, QStringList({"succeeded", "finished"}));
        QCOMPARE(log.responses.first().provider, QStringLiteral("Local"));
        QCOMPARE(log.responses.first().model, QStringLiteral("local-model"));
        QCOMPARE(log.responses.first().answer, QStringLiteral("Hello"));
        QVERIFY(!client.isBusy());
    }

    void blankSystemPromptSendsUserMessageOnly()
    {
        ClientRig rig;
        auto& [server, client, log] = rig;
        AiChatRequest request = requestFor(server.baseUrl());
        request.systemPrompt = QStringLiteral("   ");
        QVERIFY(rig.askAndWait(request));
        const QJsonObject body = QJsonDocument::fromJson(server.requests().first().body).object();
        QCOMPARE(QJsonDocument(body.value(QStringLiteral("messages")).toArray()).toJson(QJsonDocument::Compact),
                 QByteArray(R"([{"content":"What is loaded?","role":"user"}])"));
    }

    void trailingSlashesOfTheBaseUrl()
    {
        const QList<QPair<QString, QByteArray>> cases{
            {QStringLiteral("/v1"), "/v1/chat/completions"},
            {QStringLiteral("/v1/"), "/v1/chat/completions"},
            {QStringLiteral("/v1///"), "/v1/chat/completions"},
            {QStringLiteral("/"), "/chat/completions"},
            {QStringLiteral(""), "/chat/completions"},
        };
        for (const auto& [suffix, expectedPath] : cases) {
            ClientRig rig;
            auto& [server, client, log] = rig;
            QVERIFY(rig.askAndWait(requestFor(server.baseUrl(suffix))));
            QVERIFY2(server.requests().size() == 1, qPrintable(suffix));
            QCOMPARE(server.requests().first().path, expectedPath);
        }
    }

    void answerWithoutModelReportsTheRequestedModel()
    {
        ClientRig rig;
        auto& [server, client, log] = rig;
        server.setReply(LocalChatServer::chatAnswer(QStringLiteral("  \n The answer. \n"), QString()));
        QVERIFY(rig.askAndWait(requestFor(server.baseUrl())));
        QCOMPARE(log.events, QStringList({"succeeded", "finished"}));
        QCOMPARE(log.responses.first().model, QStringLiteral("test-model"));
        QCOMPARE(log.responses.first().answer, QStringLiteral("The answer."));
    }

    void providerFailuresBecomeErrorRecords()
    {
        const QByteArray longBody(3000, 'x');
        struct Case {
            const char* name;
            LocalChatServer::Reply reply;
            QString code;
            QString detail;  // null: only checked to be non-empty
        };
        const QList<Case> cases{
            {"401 with provider message",
             LocalChatServer::jsonReply(401, R"({"error":{"message":"Incorrect API key provided"}})"),
             "ai.http", "HTTP 401: Incorrect API key provided"},
            {"429 plain text", LocalChatServer::jsonReply(429, "slow down"), "ai.http", "HTTP 429: slow down"},
            {"500 error not an object", LocalChatServer::jsonReply(500, R"({"error":"boom"})"), "ai.http",
             R"(HTTP 500: {"error":"boom"})"},
            {"500 long body", LocalChatServer::jsonReply(500, longBody), "ai.http",
             "HTTP 500: " + QString(2048, QLatin1Char('x'))},
            {"malformed JSON", LocalChatServer::jsonReply(200, "{\"choices\": ["), "ai.bad_json", QString()},
            {"JSON array", LocalChatServer::jsonReply(200, "[1]"), "ai.bad_json", QString()},
            {"empty choices", LocalChatServer::jsonReply(200, R"({"choices":[]})"), "ai.bad_response",
             R"({"choices":[]})"},
            {"choice not an object", LocalChatServer::jsonReply(200, R"({"choices":[7]})"), "ai.bad_response",
             R"({"choices":[7]})"},
            {"blank answer", LocalChatServer::chatAnswer(QStringLiteral(" \n\t ")), "ai.empty_response", QString()},
            {"body over the limit",
             LocalChatServer::jsonReply(200, QByteArray(OpenAICompatibleClient::kMaxReplyBytes + 1, ' ')),
             "ai.response_too_large", QString()},
        };
        for (const Case& testCase : cases) {
            ClientRig rig;
            auto& [server, client, log] = rig;
            server.setReply(testCase.reply);
            QVERIFY(rig.askAndWait(requestFor(server.baseUrl())));
            QVERIFY2(log.events == QStringList({"failed:" + testCase.code, "finished"}),
                     qPrintable(QString::fromLatin1(testCase.name) + ": " + log.events.join(QLatin1Char(','))));
            const AiClientError& error = log.errors.first();
            QVERIFY(error.recoverable);
            QVERIFY(!error.message.isEmpty());
            if (testCase.detail.isNull()) {
                QVERIFY2(!error.detail.isEmpty(), testCase.name);
            } else {
                QCOMPARE(error.detail, testCase.detail);
            }
            QVERIFY(!client.isBusy());
        }
    }

    void invalidRequestsNeverReachTheService()
    {
        LocalChatServer server;
        struct Case {
            std::function<void(AiChatRequest&)> spoil;
            QString code;
            QString message;
            QString detail;
        };
        const QList<Case> cases{
            {[](AiChatRequest& r) { r.provider.baseUrl = QStringLiteral("  "); }, "ai.provider_missing",
             "AI provider base URL is missing", ""},
            {[](AiChatRequest& r) { r.provider.baseUrl = QStringLiteral("http://[::1"); }, "ai.provider_invalid",
             "AI provider base URL is invalid", "http://[::1"},
            {[](AiChatRequest& r) { r.model = QStringLiteral(" "); }, "ai.model_missing", "AI model name is missing", ""},
            {[](AiChatRequest& r) { r.apiKey = QStringLiteral("\t"); }, "ai.api_key_missing", "AI API key is missing",
             "Enter an API key or set LOCAL_TEST_KEY."},
            {[](AiChatRequest& r) { r.apiKey = QStringLiteral("abc\r\nX-Injected: 1"); }, "ai.api_key_invalid",
             "AI API key contains control characters",
             "Remove line breaks and control characters from the key or from LOCAL_TEST_KEY."},
            {[](AiChatRequest& r) { r.userContent = QStringLiteral(" \n"); }, "ai.prompt_missing",
             "AI question is empty", ""},
            {[](AiChatRequest& r) {
                 r.model.clear();
                 r.apiKey.clear();
             },
             "ai.model_missing", "AI model name is missing", ""},
        };
        for (const Case& testCase : cases) {
            OpenAICompatibleClient client;
            SignalLog log(client);
            AiChatRequest request = requestFor(server.baseUrl());
            testCase.spoil(request);
            client.sendChat(request);
            QCOMPARE(log.events, QStringList({"failed:" + testCase.code, "finished"}));
            QCOMPARE(log.errors.first().message, testCase.message);
            QCOMPARE(log.errors.first().detail, testCase.detail);
            QVERIFY(!client.isBusy());
        }
        QTest::qWait(50);
        QCOMPARE(server.connectionCount(), 0);
    }

    void connectionFailureIsANetworkError()
    {
        ClientRig rig;
        QVERIFY(rig.askAndWait(requestFor(QStringLiteral("http://127.0.0.1:%1/v1").arg(closedPort()))));
        const SignalLog& log = rig.log;
        QCOMPARE(log.events, QStringList({"failed:ai.network", "finished"}));
        QVERIFY(!log.errors.first().detail.isEmpty());
    }

    void redirectToAnotherOriginIsRefused()
    {
        LocalChatServer elsewhere;
        ClientRig rig;
        auto& [server, client, log] = rig;
        LocalChatServer::Reply redirect = LocalChatServer::jsonReply(307, "");
        const QByteArray target = elsewhere.baseUrl(QStringLiteral("/v1/chat/completions")).toUtf8();
        redirect.headers.append(qMakePair(QByteArray("Location"), target));
        server.setReply(redirect);
        QVERIFY(rig.askAndWait(requestFor(server.baseUrl())));
        QCOMPARE(log.events, QStringList({"failed:ai.network", "finished"}));
        QTest::qWait(100);
        QCOMPARE(elsewhere.connectionCount(), 0);
    }

    void redirectWithinTheOriginIsFollowedWithTheKey()
    {
        ClientRig rig;
        auto& [server, client, log] = rig;
        LocalChatServer::Reply redirect = LocalChatServer::jsonReply(307, "");
        redirect.headers.append(qMakePair(QByteArray("Location"), QByteArray("/v2/chat/completions")));
        server.setReplyForPath("/v1/chat/completions", redirect);
        server.setReply(LocalChatServer::chatAnswer(QStringLiteral("moved")));
        QVERIFY(rig.askAndWait(requestFor(server.baseUrl())));
        QCOMPARE(log.events, QStringList({"succeeded", "finished"}));
        QCOMPARE(server.requests().size(), 2);
        QCOMPARE(server.requests().last().path, QByteArray("/v2/chat/completions"));
        QCOMPARE(server.requests().last().headers.value("authorization"), QByteArray("Bearer secret-key"));
    }

    void timeoutAbortsASlowService()
    {
        ClientRig rig;
        auto& [server, client, log] = rig;
        LocalChatServer::Reply slow = LocalChatServer::chatAnswer(QStringLiteral("late"));
        slow.delayMs = 2000;
        server.setReply(slow);
        AiChatRequest request = requestFor(server.baseUrl());
        request.timeoutMs = 300;
        client.sendChat(request);
        QTRY_VERIFY_WITH_TIMEOUT(log.errors.size() == 1, kSignalWaitMs);
        QCOMPARE(log.errors.first().code, QStringLiteral("ai.timeout"));
        QCOMPARE(log.errors.first().detail, QStringLiteral("The provider did not finish before the request timeout."));
        // The abort reports its own finished first; the time-out failure and its finished follow.
        QCOMPARE(log.events, QStringList({"finished", "failed:ai.timeout", "finished"}));
        QVERIFY(!client.isBusy());
        QTest::qWait(2300);  // the late answer must not surface
        QCOMPARE(log.events.size(), 3);
    }

    void cancelReportsOnlyFinished()
    {
        ClientRig rig;
        auto& [server, client, log] = rig;
        server.setReply(LocalChatServer::silence());
        client.cancel();
        QVERIFY(log.events.isEmpty());
        client.sendChat(requestFor(server.baseUrl()));
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, kSignalWaitMs);
        client.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(log.finished(), kSignalWaitMs);
        QTest::qWait(50);
        QCOMPARE(log.events, QStringList({"finished"}));
        QVERIFY(!client.isBusy());
    }

    void secondRequestWhileBusyIsRefused()
    {
        ClientRig rig;
        auto& [server, client, log] = rig;
        server.setReply(LocalChatServer::silence());
        client.sendChat(requestFor(server.baseUrl()));
        client.sendChat(requestFor(server.baseUrl()));
        QCOMPARE(log.events, QStringList({"failed:ai.busy"}));
        QCOMPARE(log.errors.first().message, QStringLiteral("AI request is already running"));
        QCOMPARE(log.errors.first().detail, QStringLiteral("Cancel the active request before asking again."));
        QVERIFY(client.isBusy());
        client.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(log.finished(), kSignalWaitMs);
    }

    void staleReplyIsDroppedWithoutSignal()
    {
        ClientRig rig;
        auto& [server, client, log] = rig;
        server.setReply(LocalChatServer::silence());
        client.sendChat(requestFor(server.baseUrl()));
        const QPointer<QNetworkReply> staleReply = client.findChild<QNetworkReply*>();
        QVERIFY(staleReply);
        client.cancel();
        QCOMPARE(log.events, QStringList({"finished"}));

        server.setReply(LocalChatServer::chatAnswer(QStringLiteral("fresh")));
        client.sendChat(requestFor(server.baseUrl()));
        // The earlier reply reports once more, as a late network event would.
        QVERIFY(staleReply);
        emit staleReply->finished();
        QCOMPARE(log.events, QStringList({"finished"}));
        QVERIFY(client.isBusy());
        QTRY_COMPARE_WITH_TIMEOUT(log.events.size(), 3, kSignalWaitMs);
        QCOMPARE(log.events, QStringList({"finished", "succeeded", "finished"}));
        QCOMPARE(log.responses.first().answer, QStringLiteral("fresh"));
    }
};

VEXILO_QT_TEST(OpenAICompatibleClientTest)
#include "OpenAICompatibleClientTest.moc"
