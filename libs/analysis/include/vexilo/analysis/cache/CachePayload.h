#pragma once

#include "vexilo/analysis/AnalysisCodec.h"
#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheError.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace vexilo::analysis {

// The document's "VXSA" bytes; a serialiser refusal becomes invalid_payload on `path`.
[[nodiscard]] CacheResult<std::vector<std::uint8_t>>
serializeCachePayload(const StreamAnalysis& analysis, const std::filesystem::path& path);

// The document read and validated from a payload; a reader refusal becomes
// invalid_payload on `path` (its validation issues are not carried over).
[[nodiscard]] CacheResult<StreamAnalysis>
decodeCachedAnalysisPayload(std::span<const std::uint8_t> payload, const std::filesystem::path& path,
                            AnalysisReadExtent extent = AnalysisReadExtent::Whole);

}  // namespace vexilo::analysis
