#pragma once

#include "vexilo/analysis/AnalysisCodec.h"

#include <cstdint>
#include <span>

namespace vexilo::analysis {

// Checks that the bytes hold a "VXSA" document buffer whose root table and everything
// reachable from it verify, counting at most `maxTables` table visits. The bytes must
// start on an 8-byte boundary so that verified fields can be read in place.
[[nodiscard]] bool verifyAnalysisBuffer(std::span<const std::uint8_t> bytes,
                                        std::uint32_t maxTables = kMaxVerifiedTables);

}  // namespace vexilo::analysis
