#pragma once

#include "vexilo/ai/AiChatRecords.h"
#include "vexilo/ai/AiQuestionTemplates.h"

#include <QWidget>

#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vexilo {

namespace ai {
class OpenAICompatibleClient;
}

// The AI assistant dock's widget: provider, model, key and template choice, a question,
// and the conversation log. Questions go out with the evidence text the window sets.
class AiChatPanel : public QWidget {
    Q_OBJECT

public:
    explicit AiChatPanel(QWidget* parent = nullptr);
    // For tests only: a panel whose providers are the given ones (a local service), so
    // that no setting or variable can ever redirect the built-in providers and their keys.
    AiChatPanel(std::vector<ai::AiProviderConfig> providers, QWidget* parent);

    void setEvidenceText(const QString& text);
    [[nodiscard]] const QString& evidenceText() const { return evidenceText_; }
    void appendConversation(const QString& speaker, const QString& text);
    [[nodiscard]] ai::AiProviderConfig currentProvider() const;
    [[nodiscard]] static QString environmentValue(const QString& name);
    void setBusy(bool busy);

private slots:
    void onProviderChanged(int index);
    void onApplyTemplateRequested();
    void onAskRequested();
    void onCancelRequested();
    void onChatSucceeded(vexilo::ai::AiChatResponse response);
    void onChatFailed(vexilo::ai::AiClientError error);
    void onChatFinished();

private:
    void buildLayout();
    void connectSignals();

    std::vector<ai::AiProviderConfig> presets_;
    std::vector<ai::AiQuestionTemplate> templates_;
    ai::OpenAICompatibleClient* client_;
    QComboBox* providerCombo_ = nullptr;
    QComboBox* modelCombo_ = nullptr;
    QComboBox* templateCombo_ = nullptr;
    QLineEdit* apiKeyEdit_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPlainTextEdit* conversationLog_ = nullptr;
    QPlainTextEdit* questionEdit_ = nullptr;
    QPushButton* useTemplateButton_ = nullptr;
    QPushButton* askButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QString evidenceText_;
};

}  // namespace vexilo
