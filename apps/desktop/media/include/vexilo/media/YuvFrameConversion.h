#pragma once

#include "vexilo/domain/VideoFrame.h"

#include <cstdint>
#include <optional>

namespace vexilo::media {

// What a frame is shown as: the colour picture, or one component as grey.
enum class DisplayComponent : std::uint32_t {
    Colour = 0,
    Y = 1,
    U = 2,
    V = 3,
};

// The Y, U and V planes of a planar frame, each the first of the list with its plane index.
struct YuvPlaneSet {
    const domain::VideoPlane* y = nullptr;
    const domain::VideoPlane* u = nullptr;
    const domain::VideoPlane* v = nullptr;
};

// Empty when the frame lacks any of the three planes.
[[nodiscard]] std::optional<YuvPlaneSet> findYuvPlanes(const domain::VideoFrame& frame) noexcept;

// Writes frame.width x frame.height RGBA pixels (R, G, B, 255) to `destination`, whose rows lie
// `destinationStride` bytes apart. Chroma of pixel (x, y) is read at ((x * U.width) / width,
// (y * U.height) / height), clamped into each plane. The planes must have positive sizes and hold
// stride x height bytes. The output equals yuvToRgbExact (colour) or scaleSampleTo8Bits (grey)
// pixel for pixel, computed with integer tables.
void convertYuvToRgba(const domain::VideoFrame& frame, const YuvPlaneSet& planes, DisplayComponent component,
                      std::uint8_t* destination, std::int64_t destinationStride);

}  // namespace vexilo::media
