#include "vexilo/ai/AiChatRecords.h"

namespace vexilo::ai {

std::vector<AiProviderConfig> aiProviderPresets()
{
    return {
        {AiProviderKind::Gpt, QStringLiteral("GPT"), QStringLiteral("https://api.openai.com/v1"),
         QStringLiteral("gpt-4o-mini"), QStringLiteral("OPENAI_API_KEY")},
        {AiProviderKind::DeepSeek, QStringLiteral("DeepSeek"), QStringLiteral("https://api.deepseek.com/v1"),
         QStringLiteral("deepseek-chat"), QStringLiteral("DEEPSEEK_API_KEY")},
        {AiProviderKind::Gemini, QStringLiteral("Gemini"),
         QStringLiteral("https://generativelanguage.googleapis.com/v1beta/openai"), QStringLiteral("gemini-1.5-flash"),
         QStringLiteral("GEMINI_API_KEY")},
    };
}

void registerAiMetaTypes()
{
    qRegisterMetaType<AiChatRequest>("vexilo::ai::AiChatRequest");
    qRegisterMetaType<AiChatResponse>("vexilo::ai::AiChatResponse");
    qRegisterMetaType<AiClientError>("vexilo::ai::AiClientError");
    qRegisterMetaType<AiProviderConfig>("vexilo::ai::AiProviderConfig");
    qRegisterMetaType<AiProviderKind>("vexilo::ai::AiProviderKind");
}

}  // namespace vexilo::ai
