#include "vexilo/ai/AiChatPanel.h"

#include "vexilo/ai/OpenAICompatibleClient.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace vexilo {

namespace {

constexpr auto kDefaultEvidenceText =
    "No Vexilo project evidence is loaded. Say that stream analysis evidence is unavailable.";
constexpr auto kSystemPrompt =
    "You are Vexilo AI Assistant for HEVC bitstream and quality analysis. Use only the provided Vexilo evidence. If "
    "required evidence is missing, say it is unavailable and explain what analysis must be run. Do not invent frame, "
    "QP, POC, bitrate, PSNR, SSIM, VMAF, or block-level facts. For built-in templates, start with the exact evidence "
    "that supports the answer, then separate likely explanations from missing or unavailable evidence.";
constexpr auto kUserContentFormat = "Vexilo evidence:\n%1\n\nUser question:\n%2";
constexpr auto kInitialLogText = "AI Assistant ready";
constexpr auto kQuestionPlaceholder =
    "Ask about the current stream, selected picture, quality metrics, or A/B comparison.";
constexpr int kQuestionMaximumHeight = 96;
constexpr int kCustomQuestionData = -1;

constexpr auto kSpeakerSystem = "System";
constexpr auto kSpeakerUser = "User";
constexpr auto kSpeakerAi = "AI";

QString speaker(const char* name)
{
    return QString::fromLatin1(name);
}

}  // namespace

AiChatPanel::AiChatPanel(QWidget* parent) : AiChatPanel(ai::aiProviderPresets(), parent) {}

AiChatPanel::AiChatPanel(std::vector<ai::AiProviderConfig> providers, QWidget* parent)
    : QWidget(parent),
      presets_(providers.empty() ? ai::aiProviderPresets() : std::move(providers)),
      templates_(ai::aiQuestionTemplates()),
      client_(new ai::OpenAICompatibleClient(this))
{
    buildLayout();
    connectSignals();
    evidenceText_ = QString::fromLatin1(kDefaultEvidenceText);
    onProviderChanged(0);
    setBusy(false);
}

void AiChatPanel::buildLayout()
{
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout();
    layout->addLayout(form);

    providerCombo_ = new QComboBox(this);
    providerCombo_->setObjectName(QStringLiteral("aiProviderCombo"));
    for (const auto& preset : presets_) {
        providerCombo_->addItem(preset.displayName, static_cast<int>(preset.kind));
    }
    form->addRow(QStringLiteral("Provider"), providerCombo_);

    modelCombo_ = new QComboBox(this);
    modelCombo_->setObjectName(QStringLiteral("aiModelCombo"));
    modelCombo_->setEditable(true);
    form->addRow(QStringLiteral("Model"), modelCombo_);

    apiKeyEdit_ = new QLineEdit(this);
    apiKeyEdit_->setObjectName(QStringLiteral("aiApiKeyEdit"));
    apiKeyEdit_->setEchoMode(QLineEdit::Password);
    apiKeyEdit_->setClearButtonEnabled(true);
    form->addRow(QStringLiteral("API key"), apiKeyEdit_);

    auto* templateRow = new QWidget(this);
    auto* templateLayout = new QHBoxLayout(templateRow);
    templateLayout->setContentsMargins(0, 0, 0, 0);
    templateCombo_ = new QComboBox(templateRow);
    templateCombo_->setObjectName(QStringLiteral("aiTemplateCombo"));
    templateCombo_->addItem(QStringLiteral("Custom question"), kCustomQuestionData);
    for (const auto& questionTemplate : templates_) {
        templateCombo_->addItem(questionTemplate.title, questionTemplate.id);
    }
    useTemplateButton_ = new QPushButton(QStringLiteral("Use Template"), templateRow);
    useTemplateButton_->setObjectName(QStringLiteral("aiUseTemplateButton"));
    templateLayout->addWidget(templateCombo_, 1);
    templateLayout->addWidget(useTemplateButton_, 0);
    form->addRow(QStringLiteral("Template"), templateRow);

    statusLabel_ = new QLabel(this);
    statusLabel_->setObjectName(QStringLiteral("aiStatusLabel"));
    statusLabel_->setTextFormat(Qt::PlainText);  // preset names come from the settings file
    statusLabel_->setWordWrap(true);
    layout->addWidget(statusLabel_);

    conversationLog_ = new QPlainTextEdit(this);
    conversationLog_->setObjectName(QStringLiteral("aiConversationLog"));
    conversationLog_->setReadOnly(true);
    conversationLog_->setPlainText(QString::fromLatin1(kInitialLogText));
    layout->addWidget(conversationLog_, 1);

    questionEdit_ = new QPlainTextEdit(this);
    questionEdit_->setObjectName(QStringLiteral("aiQuestionEdit"));
    questionEdit_->setPlaceholderText(QString::fromLatin1(kQuestionPlaceholder));
    questionEdit_->setMaximumHeight(kQuestionMaximumHeight);
    layout->addWidget(questionEdit_, 0);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("aiCancelButton"));
    buttons->addWidget(cancelButton_);
    askButton_ = new QPushButton(QStringLiteral("Ask"), this);
    askButton_->setObjectName(QStringLiteral("aiAskButton"));
    buttons->addWidget(askButton_);
    layout->addLayout(buttons);
}

void AiChatPanel::connectSignals()
{
    connect(providerCombo_, &QComboBox::currentIndexChanged, this, &AiChatPanel::onProviderChanged);
    connect(useTemplateButton_, &QPushButton::clicked, this, &AiChatPanel::onApplyTemplateRequested);
    connect(askButton_, &QPushButton::clicked, this, &AiChatPanel::onAskRequested);
    connect(cancelButton_, &QPushButton::clicked, this, &AiChatPanel::onCancelRequested);
    connect(client_, &ai::OpenAICompatibleClient::chatSucceeded, this, &AiChatPanel::onChatSucceeded);
    connect(client_, &ai::OpenAICompatibleClient::chatFailed, this, &AiChatPanel::onChatFailed);
    connect(client_, &ai::OpenAICompatibleClient::chatFinished, this, &AiChatPanel::onChatFinished);
}

void AiChatPanel::setEvidenceText(const QString& text)
{
    const QString trimmed = text.trimmed();
    evidenceText_ = trimmed.isEmpty() ? QString::fromLatin1(kDefaultEvidenceText) : trimmed;
    evidenceStale_ = false;
}

void AiChatPanel::setEvidenceSource(std::function<QString()> source)
{
    evidenceSource_ = std::move(source);
}

void AiChatPanel::invalidateEvidence()
{
    if (!evidenceSource_) {
        return;
    }
    evidenceStale_ = true;
    if (isVisible()) {
        rebuildStaleEvidence();
    }
}

const QString& AiChatPanel::evidenceText() const
{
    rebuildStaleEvidence();
    return evidenceText_;
}

void AiChatPanel::rebuildStaleEvidence() const
{
    // A source that reports a change while it builds leaves the text stale for the next reader
    // rather than building inside itself.
    if (!evidenceStale_ || !evidenceSource_ || buildingEvidence_) {
        return;
    }
    buildingEvidence_ = true;
    evidenceStale_ = false;
    ++evidenceBuildCount_;
    const QString text = evidenceSource_().trimmed();
    buildingEvidence_ = false;
    evidenceText_ = text.isEmpty() ? QString::fromLatin1(kDefaultEvidenceText) : text;
}

void AiChatPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    rebuildStaleEvidence();
}

void AiChatPanel::appendConversation(const QString& speakerName, const QString& text)
{
    const QString entry = QStringLiteral("%1:\n%2").arg(speakerName, text.trimmed());
    if (conversationLog_->document()->isEmpty()) {
        conversationLog_->setPlainText(entry);
    } else {
        // A new block adds one line feed; the leading one makes the blank line between entries.
        conversationLog_->appendPlainText(QLatin1Char('\n') + entry);
    }
    QScrollBar* scrollBar = conversationLog_->verticalScrollBar();
    scrollBar->setValue(scrollBar->maximum());
}

ai::AiProviderConfig AiChatPanel::currentProvider() const
{
    const int index = providerCombo_->currentIndex();
    return index >= 0 && static_cast<std::size_t>(index) < presets_.size() ? presets_[static_cast<std::size_t>(index)]
                                                                           : presets_.front();
}

QString AiChatPanel::environmentValue(const QString& name)
{
    return QString::fromLocal8Bit(qgetenv(name.toUtf8().constData()));
}

void AiChatPanel::setBusy(bool busy)
{
    askButton_->setEnabled(!busy);
    cancelButton_->setEnabled(busy);
    for (QWidget* widget : std::initializer_list<QWidget*>{providerCombo_, modelCombo_, apiKeyEdit_, templateCombo_,
                                                            useTemplateButton_}) {
        widget->setEnabled(!busy);
    }
    if (busy) {
        statusLabel_->setText(QStringLiteral("AI request running..."));
    } else {
        onProviderChanged(providerCombo_->currentIndex());
    }
}

void AiChatPanel::onProviderChanged(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= presets_.size()) {
        return;
    }
    const ai::AiProviderConfig& preset = presets_[static_cast<std::size_t>(index)];
    modelCombo_->clear();
    modelCombo_->addItem(preset.defaultModel);
    modelCombo_->setCurrentText(preset.defaultModel);
    apiKeyEdit_->setPlaceholderText(QStringLiteral("Optional; otherwise use %1").arg(preset.apiKeyEnvironmentVariable));
    const QString keyState = environmentValue(preset.apiKeyEnvironmentVariable).isEmpty()
                                 ? QStringLiteral("Provider: %1. API key not found in %2.")
                                 : QStringLiteral("Provider: %1. API key available from %2.");
    statusLabel_->setText(keyState.arg(preset.displayName, preset.apiKeyEnvironmentVariable));
}

void AiChatPanel::onApplyTemplateRequested()
{
    const int index = templateCombo_->currentIndex();
    if (index < 1 || static_cast<std::size_t>(index) > templates_.size()) {
        return;
    }
    const ai::AiQuestionTemplate& chosen = templates_[static_cast<std::size_t>(index - 1)];
    questionEdit_->setPlainText(chosen.instruction);
    appendConversation(speaker(kSpeakerSystem), QStringLiteral("Template applied: %1\nRequired evidence: %2")
                                                    .arg(chosen.title, chosen.requiredEvidence));
}

void AiChatPanel::onAskRequested()
{
    const QString question = questionEdit_->toPlainText().trimmed();
    if (question.isEmpty()) {
        appendConversation(speaker(kSpeakerSystem), QStringLiteral("Question is empty."));
        return;
    }
    ai::AiChatRequest request;
    request.provider = currentProvider();
    request.model = modelCombo_->currentText().trimmed();
    const QString typedKey = apiKeyEdit_->text().trimmed();
    request.apiKey = typedKey.isEmpty() ? environmentValue(request.provider.apiKeyEnvironmentVariable) : typedKey;
    request.systemPrompt = QString::fromLatin1(kSystemPrompt);
    request.userContent = QString::fromLatin1(kUserContentFormat).arg(evidenceText(), question);
    appendConversation(speaker(kSpeakerUser), question);
    setBusy(true);
    client_->sendChat(std::move(request));
}

void AiChatPanel::onCancelRequested()
{
    if (!client_->isBusy()) {
        return;
    }
    client_->cancel();
    appendConversation(speaker(kSpeakerSystem), QStringLiteral("AI request canceled."));
}

void AiChatPanel::onChatSucceeded(vexilo::ai::AiChatResponse response)
{
    appendConversation(speaker(kSpeakerAi),
                       QStringLiteral("[%1 / %2]\n%3").arg(response.provider, response.model, response.answer));
}

void AiChatPanel::onChatFailed(vexilo::ai::AiClientError error)
{
    appendConversation(speaker(kSpeakerSystem), QStringLiteral("%1: %2\n%3").arg(error.code, error.message, error.detail));
}

void AiChatPanel::onChatFinished()
{
    setBusy(false);
}

}  // namespace vexilo
