#pragma once

#include "QualityMetricsDetail.h"

#include <cstddef>
#include <cstdint>

namespace vexilo::media {

// Adds the six sums of `count` consecutive sample pairs starting at the given bytes;
// samples are 1 byte, or 2 bytes little-endian. Integer accumulation keeps every sum
// exact (the same value a double accumulator holds while it stays below 2^53) and lets
// the compiler vectorise the loop.
void accumulateSampleRun(const std::uint8_t* reference, const std::uint8_t* encoded, std::size_t count,
                         std::int32_t bytesPerSample, SampleSums& sums);

}  // namespace vexilo::media
