#include "LocalChatServer.h"
#include "vexilo/ai/AiChatPanel.h"
#include "vexilo/test/QtTestRegistry.h"

#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

using vexilo::AiChatPanel;
using vexilo::ai::AiProviderConfig;
using vexilo::ai::test::LocalChatServer;

namespace {

constexpr int kSignalWaitMs = 10000;
constexpr auto kTestKeyVariable = "VEXILO_TEST_AI_PANEL_KEY";

template <typename Widget>
Widget* part(const AiChatPanel& panel, const char* name)
{
    auto* widget = panel.findChild<Widget*>(QString::fromLatin1(name));
    if (widget == nullptr) {
        qFatal("missing widget %s", name);
    }
    return widget;
}

QString logText(const AiChatPanel& panel)
{
    return part<QPlainTextEdit>(panel, "aiConversationLog")->toPlainText();
}

void ask(AiChatPanel& panel, const QString& question)
{
    auto* edit = part<QPlainTextEdit>(panel, "aiQuestionEdit");
    edit->clear();
    QTest::keyClicks(edit, question);
    QTest::mouseClick(part<QPushButton>(panel, "aiAskButton"), Qt::LeftButton);
}

std::vector<AiProviderConfig> localProviders(const LocalChatServer& server)
{
    return {{vexilo::ai::AiProviderKind::Gpt, QStringLiteral("Local"), server.baseUrl(), QStringLiteral("local-model-1"),
             QString::fromLatin1(kTestKeyVariable)}};
}

void saveScreenshot(QWidget& widget, const QString& name)
{
    const QString directory = QStringLiteral(VEXILO_TEST_OUTPUT_DIR "/ai");
    QDir().mkpath(directory);
    const QImage image = widget.grab().toImage();
    QVERIFY(image.save(directory + QLatin1Char('/') + name + QStringLiteral(".png")));
}

// Idle and busy differ only in which controls accept input.
void verifyBusy(const AiChatPanel& panel, bool busy)
{
    QCOMPARE(part<QPushButton>(panel, "aiAskButton")->isEnabled(), !busy);
    QCOMPARE(part<QPushButton>(panel, "aiCancelButton")->isEnabled(), busy);
    QCOMPARE(part<QComboBox>(panel, "aiProviderCombo")->isEnabled(), !busy);
    QCOMPARE(part<QComboBox>(panel, "aiModelCombo")->isEnabled(), !busy);
    QCOMPARE(part<QLineEdit>(panel, "aiApiKeyEdit")->isEnabled(), !busy);
    QCOMPARE(part<QComboBox>(panel, "aiTemplateCombo")->isEnabled(), !busy);
    QCOMPARE(part<QPushButton>(panel, "aiUseTemplateButton")->isEnabled(), !busy);
    QVERIFY(part<QPlainTextEdit>(panel, "aiQuestionEdit")->isEnabled());
}

QString userContentOf(const LocalChatServer::ReceivedRequest& request)
{
    const QJsonArray messages =
        QJsonDocument::fromJson(request.body).object().value(QStringLiteral("messages")).toArray();
    return messages.last().toObject().value(QStringLiteral("content")).toString();
}

}  // namespace

class AiChatPanelTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        for (const char* name : {"OPENAI_API_KEY", "DEEPSEEK_API_KEY", "GEMINI_API_KEY", kTestKeyVariable}) {
            qunsetenv(name);
        }
    }

    void startsIdleWithItsNamedParts()
    {
        AiChatPanel panel(nullptr);
        panel.resize(420, 560);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));

        auto* providers = part<QComboBox>(panel, "aiProviderCombo");
        QCOMPARE(providers->count(), 3);
        const QStringList names{"GPT", "DeepSeek", "Gemini"};
        for (int k = 0; k < 3; ++k) {
            QCOMPARE(providers->itemText(k), names.at(k));
            QCOMPARE(providers->itemData(k).toInt(), k);
        }
        auto* models = part<QComboBox>(panel, "aiModelCombo");
        QVERIFY(models->isEditable());
        QCOMPARE(models->currentText(), QStringLiteral("gpt-4o-mini"));
        auto* key = part<QLineEdit>(panel, "aiApiKeyEdit");
        QCOMPARE(key->echoMode(), QLineEdit::Password);
        QVERIFY(key->isClearButtonEnabled());
        QCOMPARE(key->placeholderText(), QStringLiteral("Optional; otherwise use OPENAI_API_KEY"));
        auto* templates = part<QComboBox>(panel, "aiTemplateCombo");
        QCOMPARE(templates->count(), 4);
        QCOMPARE(templates->itemText(0), QStringLiteral("Custom question"));
        QCOMPARE(templates->itemData(0).toInt(), -1);
        QCOMPARE(templates->itemText(3), QStringLiteral("A/B Quality Difference"));
        QCOMPARE(templates->itemData(3).toInt(), 2);
        QCOMPARE(part<QPushButton>(panel, "aiUseTemplateButton")->text(), QStringLiteral("Use Template"));
        QCOMPARE(logText(panel), QStringLiteral("AI Assistant ready"));
        QVERIFY(part<QPlainTextEdit>(panel, "aiConversationLog")->isReadOnly());
        auto* question = part<QPlainTextEdit>(panel, "aiQuestionEdit");
        QCOMPARE(question->placeholderText(),
                 QStringLiteral("Ask about the current stream, selected picture, quality metrics, or A/B comparison."));
        QCOMPARE(question->maximumHeight(), 96);
        QCOMPARE(part<QLabel>(panel, "aiStatusLabel")->text(),
                 QStringLiteral("Provider: GPT. API key not found in OPENAI_API_KEY."));
        verifyBusy(panel, false);

        providers->setCurrentIndex(1);
        QCOMPARE(models->currentText(), QStringLiteral("deepseek-chat"));
        QCOMPARE(key->placeholderText(), QStringLiteral("Optional; otherwise use DEEPSEEK_API_KEY"));

        const QImage image = panel.grab().toImage();
        QVERIFY(image.width() >= 420 && image.height() >= 560);
        QVERIFY(image.pixel(5, 5) != image.pixel(image.width() / 2, image.height() / 2) ||
                image.pixel(5, 5) != image.pixel(image.width() - 20, image.height() - 20));
        saveScreenshot(panel, QStringLiteral("AiChatPanel-idle"));
    }

    void emptyQuestionStaysLocal()
    {
        AiChatPanel panel(nullptr);
        ask(panel, QStringLiteral("   "));
        QCOMPARE(logText(panel), QStringLiteral("AI Assistant ready\n\nSystem:\nQuestion is empty."));
        verifyBusy(panel, false);
    }

    void missingKeyIsReportedAndThePanelReturnsToIdle()
    {
        AiChatPanel panel(nullptr);
        ask(panel, QStringLiteral("Why is frame 7 large?"));
        QCOMPARE(logText(panel), QStringLiteral("AI Assistant ready\n\nUser:\nWhy is frame 7 large?\n\nSystem:\n"
                                                "ai.api_key_missing: AI API key is missing\n"
                                                "Enter an API key or set OPENAI_API_KEY."));
        verifyBusy(panel, false);
        QCOMPARE(part<QComboBox>(panel, "aiModelCombo")->currentText(), QStringLiteral("gpt-4o-mini"));
    }

    void templatesFillTheQuestion()
    {
        AiChatPanel panel(nullptr);
        auto* templates = part<QComboBox>(panel, "aiTemplateCombo");
        auto* apply = part<QPushButton>(panel, "aiUseTemplateButton");
        QTest::mouseClick(apply, Qt::LeftButton);
        QCOMPARE(logText(panel), QStringLiteral("AI Assistant ready"));

        templates->setCurrentIndex(2);
        QTest::mouseClick(apply, Qt::LeftButton);
        const QString instruction = part<QPlainTextEdit>(panel, "aiQuestionEdit")->toPlainText();
        QVERIFY(instruction.startsWith(QStringLiteral("Use the Vexilo evidence to diagnose why")));
        QCOMPARE(logText(panel), QStringLiteral("AI Assistant ready\n\nSystem:\nTemplate applied: Quality Drop\n"
                                                "Required evidence: Requires Reference YUV and Quality Detect "
                                                "results; structure analysis improves codec-level causes."));
    }

    void askingShowsTheAnswer()
    {
        LocalChatServer server;
        server.setReply(LocalChatServer::chatAnswer(QStringLiteral("Frame 7 is an IDR picture.")));
        AiChatPanel panel(localProviders(server), nullptr);
        QTest::keyClicks(part<QLineEdit>(panel, "aiApiKeyEdit"), QStringLiteral("typed-key"));
        ask(panel, QStringLiteral("Why is frame 7 large?"));
        QTRY_VERIFY_WITH_TIMEOUT(part<QPushButton>(panel, "aiAskButton")->isEnabled(), kSignalWaitMs);

        QCOMPARE(logText(panel), QStringLiteral("AI Assistant ready\n\nUser:\nWhy is frame 7 large?\n\n"
                                                "AI:\n[Local / local-model]\nFrame 7 is an IDR picture."));
        QCOMPARE(server.requests().size(), 1);
        const auto& received = server.requests().first();
        QCOMPARE(received.headers.value("authorization"), QByteArray("Bearer typed-key"));
        QCOMPARE(userContentOf(received),
                 QStringLiteral("Vexilo evidence:\nNo Vexilo project evidence is loaded. Say that stream analysis "
                                "evidence is unavailable.\n\nUser question:\nWhy is frame 7 large?"));
        const QJsonObject body = QJsonDocument::fromJson(received.body).object();
        QVERIFY(body.value(QStringLiteral("messages"))
                    .toArray()
                    .first()
                    .toObject()
                    .value(QStringLiteral("content"))
                    .toString()
                    .startsWith(QStringLiteral("You are Vexilo AI Assistant for HEVC bitstream and quality analysis.")));
        saveScreenshot(panel, QStringLiteral("AiChatPanel-answered"));
    }

    void evidenceIsBuiltOnlyWhenSomethingNeedsIt()
    {
        LocalChatServer server;
        AiChatPanel panel(localProviders(server), nullptr);
        int builds = 0;
        int changes = 0;
        panel.setEvidenceSource([&] {
            ++builds;
            return QStringLiteral("changes: %1").arg(changes);
        });
        // Hidden: changes only mark it, however many there are.
        for (changes = 1; changes <= 5; ++changes) {
            panel.invalidateEvidence();
        }
        QCOMPARE(builds, 0);
        // Reading builds once, from the latest state, and a second read reuses it.
        QCOMPARE(panel.evidenceText(), QStringLiteral("changes: 6"));
        QCOMPARE(panel.evidenceText(), QStringLiteral("changes: 6"));
        QCOMPARE(builds, 1);

        // Shown: the stale text is built as the panel appears, and every change rebuilds it.
        panel.invalidateEvidence();
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QCOMPARE(builds, 2);
        changes = 9;
        panel.invalidateEvidence();
        QCOMPARE(builds, 3);
        QCOMPARE(panel.evidenceText(), QStringLiteral("changes: 9"));
        QCOMPARE(panel.evidenceBuildCount(), 3U);
    }

    void aChangeReportedWhileBuildingLeavesTheEvidenceStale()
    {
        LocalChatServer server;
        AiChatPanel panel(localProviders(server), nullptr);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        int builds = 0;
        panel.setEvidenceSource([&] {
            // A source that, like the window's, brings waiting work up to date first.
            if (++builds == 1) {
                panel.invalidateEvidence();
            }
            return QStringLiteral("build %1").arg(builds);
        });
        panel.invalidateEvidence();
        QCOMPARE(builds, 1);
        QCOMPARE(panel.evidenceText(), QStringLiteral("build 2"));
    }

    void aQuestionGoesOutWithTheEvidenceBuiltForIt()
    {
        LocalChatServer server;
        server.setReply(LocalChatServer::silence());
        qputenv(kTestKeyVariable, "environment-key");
        AiChatPanel panel(localProviders(server), nullptr);
        QString state = QStringLiteral("first");
        panel.setEvidenceSource([&] { return QStringLiteral("state: %1").arg(state); });
        panel.invalidateEvidence();
        state = QStringLiteral("latest");
        ask(panel, QStringLiteral("What changed?"));
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, kSignalWaitMs);
        QCOMPARE(userContentOf(server.requests().first()),
                 QStringLiteral("Vexilo evidence:\nstate: latest\n\nUser question:\nWhat changed?"));
        QTest::mouseClick(part<QPushButton>(panel, "aiCancelButton"), Qt::LeftButton);
    }

    void busyWhileTheServiceWorksAndCancelReturnsToIdle()
    {
        LocalChatServer server;
        server.setReply(LocalChatServer::silence());
        qputenv(kTestKeyVariable, "environment-key");
        AiChatPanel panel(localProviders(server), nullptr);
        QCOMPARE(part<QLabel>(panel, "aiStatusLabel")->text(),
                 QStringLiteral("Provider: Local. API key available from VEXILO_TEST_AI_PANEL_KEY."));
        auto* models = part<QComboBox>(panel, "aiModelCombo");
        models->setCurrentText(QStringLiteral("  typed-model "));
        panel.setEvidenceText(QStringLiteral("  frames: 12 (%2 and %1 stay)  "));
        ask(panel, QStringLiteral("Explain %1"));

        verifyBusy(panel, true);
        QCOMPARE(part<QLabel>(panel, "aiStatusLabel")->text(), QStringLiteral("AI request running..."));
        QTRY_COMPARE_WITH_TIMEOUT(server.requests().size(), 1, kSignalWaitMs);
        const auto& received = server.requests().first();
        QCOMPARE(received.headers.value("authorization"), QByteArray("Bearer environment-key"));
        QCOMPARE(QJsonDocument::fromJson(received.body).object().value(QStringLiteral("model")).toString(),
                 QStringLiteral("typed-model"));
        QCOMPARE(userContentOf(received),
                 QStringLiteral("Vexilo evidence:\nframes: 12 (%2 and %1 stay)\n\nUser question:\nExplain %1"));
        saveScreenshot(panel, QStringLiteral("AiChatPanel-busy"));

        QTest::mouseClick(part<QPushButton>(panel, "aiCancelButton"), Qt::LeftButton);
        verifyBusy(panel, false);
        QVERIFY(logText(panel).endsWith(QStringLiteral("User:\nExplain %1\n\nSystem:\nAI request canceled.")));
        QCOMPARE(models->currentText(), QStringLiteral("local-model-1"));
        QCOMPARE(part<QLabel>(panel, "aiStatusLabel")->text(),
                 QStringLiteral("Provider: Local. API key available from VEXILO_TEST_AI_PANEL_KEY."));

        const QString before = logText(panel);
        QTest::mouseClick(part<QPushButton>(panel, "aiCancelButton"), Qt::LeftButton);
        QCOMPARE(logText(panel), before);
    }

    void providerFailureIsLogged()
    {
        LocalChatServer server;
        server.setReply(LocalChatServer::jsonReply(401, R"({"error":{"message":"Bad key"}})"));
        AiChatPanel panel(localProviders(server), nullptr);
        QTest::keyClicks(part<QLineEdit>(panel, "aiApiKeyEdit"), QStringLiteral("wrong"));
        ask(panel, QStringLiteral("Hello?"));
        QTRY_VERIFY_WITH_TIMEOUT(part<QPushButton>(panel, "aiAskButton")->isEnabled(), kSignalWaitMs);
        QVERIFY(logText(panel).endsWith(
            QStringLiteral("System:\nai.http: AI provider returned an HTTP error\nHTTP 401: Bad key")));
    }
};

VEXILO_QT_TEST(AiChatPanelTest)
#include "AiChatPanelTest.moc"
