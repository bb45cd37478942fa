#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace vexilo::ai {

// A built-in question the chat panel offers, with the evidence its answer needs.
struct AiQuestionTemplate {
    std::int32_t id = 0;
    QString title;
    QString instruction;
    QString requiredEvidence;
};

// The built-in templates, freshly built on each call.
[[nodiscard]] std::vector<AiQuestionTemplate> aiQuestionTemplates();

}  // namespace vexilo::ai
