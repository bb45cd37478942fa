#pragma once

#include "vexilo/application/PictureThumbnail.h"
#include "vexilo/domain/VideoFrame.h"

#include <cstdint>

namespace vexilo::application {

// A 120 x 68 nearest-sample RGBA image of a frame; empty `rgba` when the frame cannot be read.
// Pure, callable on any thread.
[[nodiscard]] PictureThumbnail makePictureThumbnail(const domain::VideoFrame& frame, std::uint64_t displayIndex);

}  // namespace vexilo::application
