#pragma once

#include "vexilo/domain/VideoFrame.h"

#include <array>
#include <cstdint>

namespace vexilo::media {

// One sample at (x, y), both clamped into the plane: one byte, or a little-endian 16-bit word
// for any other sample width. The plane must hold stride x height bytes.
[[nodiscard]] std::uint16_t readPlaneSample(const domain::VideoPlane& plane, std::int32_t x, std::int32_t y) noexcept;

// A sample of `bitDepth` bits as an 8-bit grey level (rounded to nearest).
[[nodiscard]] std::uint8_t scaleSampleTo8Bits(std::uint32_t sample, std::int32_t bitDepth) noexcept;

// Luma weights of a colour matrix.
struct YuvCoefficients {
    double kr = 0.0;
    double kb = 0.0;

    friend bool operator==(const YuvCoefficients&, const YuvCoefficients&) = default;
};

inline constexpr YuvCoefficients kBt601Coefficients{0.299, 0.114};
inline constexpr YuvCoefficients kBt709Coefficients{0.2126, 0.0722};
inline constexpr YuvCoefficients kBt2020Coefficients{0.2627, 0.0593};

// The weights a frame is shown with: its matrix, or for an unspecified matrix BT.709 on HD
// sizes (width >= 1280 or height >= 577) and BT.601 below; unknown matrix codes use BT.601.
[[nodiscard]] YuvCoefficients displayCoefficientsFor(const domain::VideoFrame& frame) noexcept;

// How the samples of a frame map to R'G'B'.
struct YuvToRgbParameters {
    std::int32_t bitDepth = 8;
    bool fullRange = false;
    YuvCoefficients coefficients = kBt601Coefficients;
};

[[nodiscard]] YuvToRgbParameters displayParametersFor(const domain::VideoFrame& frame) noexcept;

// The colour of one Y, U, V triple as R, G, B bytes, evaluated in double precision. This is the
// definition of the display colour; the frame conversion reproduces it byte for byte.
[[nodiscard]] std::array<std::uint8_t, 3> yuvToRgbExact(std::uint32_t y, std::uint32_t u, std::uint32_t v,
                                                        const YuvToRgbParameters& parameters) noexcept;

}  // namespace vexilo::media
