#pragma once

#include "vexilo/ai/AiChatRecords.h"
#include "vexilo/ai/AiQuestionTemplates.h"

#include <QWidget>

#include <cstdint>
#include <functional>
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
    // The evidence is built from everything the window has loaded, so it is built only when it
    // is needed: while the panel is shown, when a question goes out, or when its text is read.
    // The source builds it; invalidateEvidence says that what it describes has changed.
    void setEvidenceSource(std::function<QString()> source);
    void invalidateEvidence();
    [[nodiscard]] const QString& evidenceText() const;
    // How often the source was asked, for the benchmarks that show what the laziness saves.
    [[nodiscard]] std::uint64_t evidenceBuildCount() const { return evidenceBuildCount_; }
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

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildLayout();
    void connectSignals();
    void rebuildStaleEvidence() const;

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
    std::function<QString()> evidenceSource_;
    // A cache of the source's text, filled on demand, so it changes behind const.
    mutable QString evidenceText_;
    mutable bool evidenceStale_ = false;
    mutable bool buildingEvidence_ = false;
    mutable std::uint64_t evidenceBuildCount_ = 0;
};

}  // namespace vexilo
