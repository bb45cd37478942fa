#pragma once

#include <QMetaType>
#include <QString>

#include <vector>

namespace vexilo::ai {

// Which built-in provider a configuration came from; stored as an int in combo data.
enum class AiProviderKind : int {
    Gpt = 0,
    DeepSeek = 1,
    Gemini = 2,
};

// One OpenAI-compatible chat-completions service.
struct AiProviderConfig {
    AiProviderKind kind = AiProviderKind::Gpt;
    QString displayName;
    QString baseUrl;  // the client appends "/chat/completions"
    QString defaultModel;
    QString apiKeyEnvironmentVariable;  // consulted when no key is typed
};

inline constexpr int kDefaultChatTimeoutMs = 60000;
inline constexpr int kDefaultChatMaxTokens = 1200;
inline constexpr double kDefaultChatTemperature = 0.2;

// One question to send. The key lives here only while the request is being served.
struct AiChatRequest {
    AiProviderConfig provider;
    QString model;
    QString apiKey;
    QString systemPrompt;  // not sent when blank
    QString userContent;
    int timeoutMs = kDefaultChatTimeoutMs;
    int maxTokens = kDefaultChatMaxTokens;
    double temperature = kDefaultChatTemperature;
};

struct AiChatResponse {
    QString provider;  // display name of the provider that was asked
    QString model;     // as the service reports it, else the requested model
    QString answer;    // trimmed
};

// An empty code means no error.
struct AiClientError {
    QString code;
    QString message;
    QString detail;
    bool recoverable = true;

    [[nodiscard]] bool isError() const { return !code.isEmpty(); }
};

// The built-in providers, GPT first; a fresh list on every call.
[[nodiscard]] std::vector<AiProviderConfig> aiProviderPresets();

// Makes the records usable in queued signals; safe to call more than once.
void registerAiMetaTypes();

}  // namespace vexilo::ai

Q_DECLARE_METATYPE(vexilo::ai::AiProviderKind)
Q_DECLARE_METATYPE(vexilo::ai::AiProviderConfig)
Q_DECLARE_METATYPE(vexilo::ai::AiChatRequest)
Q_DECLARE_METATYPE(vexilo::ai::AiChatResponse)
Q_DECLARE_METATYPE(vexilo::ai::AiClientError)
