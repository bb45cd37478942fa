#pragma once

#include "vexilo/analysis/StreamAnalysis.h"

namespace vexilo::analysis {

// Any CTU, CU, PU, TU or motion vector.
[[nodiscard]] bool hasBlockStructure(const StreamAnalysis& document) noexcept;

void clearBlockStructure(StreamAnalysis& document) noexcept;

}  // namespace vexilo::analysis
