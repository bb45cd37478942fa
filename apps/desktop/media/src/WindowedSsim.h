#pragma once

#include "vexilo/domain/VideoFrame.h"

#include <cstdint>
#include <optional>

namespace vexilo::media {

// A rectangle of a plane, in that plane's own samples.
struct PlaneArea {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// The SSIM index of an area as ffmpeg's ssim filter computes it: the mean over 8 x 8
// windows placed on a 4-sample grid from the area's top-left corner (columns and rows
// beyond the last whole 4-sample step are not read), each window scored with the filter's
// integer sums and constants for the peak of `bitDepth`. Nothing when the area holds no
// whole window. The caller has checked that both planes share geometry and that every row
// of the area lies inside their storage.
[[nodiscard]] std::optional<double> windowedSsim(const domain::VideoPlane& reference,
                                                 const domain::VideoPlane& encoded, std::int32_t bitDepth,
                                                 const PlaneArea& area);

}  // namespace vexilo::media
