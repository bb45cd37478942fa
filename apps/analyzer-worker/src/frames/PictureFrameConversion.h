#pragma once

#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/VideoFrame.h"

#include <cstdint>
#include <optional>
#include <utility>

struct AVFrame;

namespace vexilo::analyzer {

// Copies one decoded planar YUV frame into tightly packed planes. Empty when the frame cannot
// be represented (no size, not three-plane YUV at 4:2:0, 4:2:2 or 4:4:4, RGB, missing planes,
// line sizes shorter than a row).
[[nodiscard]] std::optional<std::pair<domain::PictureInfo, domain::VideoFrame>> makePictureAndFrame(
    const AVFrame& frame, std::uint64_t outputOrdinal);

}  // namespace vexilo::analyzer
