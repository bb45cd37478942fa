#pragma once

#include "vexilo/media/SampleConversion.h"

namespace vexilo::media::detail {

// Y' in [0, 1] and Cb or Cr in [-0.5, 0.5] of one sample: the first step of yuvToRgbExact,
// shared with the tables of the frame conversion so that both see the same values.
[[nodiscard]] double normalisedLuma(std::uint32_t y, const YuvToRgbParameters& parameters) noexcept;
[[nodiscard]] double normalisedChroma(std::uint32_t c, const YuvToRgbParameters& parameters) noexcept;

}  // namespace vexilo::media::detail
