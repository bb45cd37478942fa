#pragma once

#include "vexilo/ai/AiEvidenceSnapshot.h"

#include <QString>

namespace vexilo::ai {

// Renders the bounded plain-text evidence pack of one snapshot; a pure function of it.
class AiEvidencePackBuilder {
public:
    explicit AiEvidencePackBuilder(AiEvidenceSnapshot snapshot);

    [[nodiscard]] QString build() const;

private:
    AiEvidenceSnapshot snapshot_;
};

// Cuts `text` to `limit` UTF-16 units (0: no limit), ending a cut text with the marker.
[[nodiscard]] QString limitEvidenceText(const QString& text, std::uint64_t limit);

}  // namespace vexilo::ai
