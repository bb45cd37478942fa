#include "vexilo/media/SampleConversion.h"

#include "SampleConversionDetail.h"

#include <algorithm>
#include <cmath>

namespace vexilo::media {
namespace {

// Frames at least this wide or tall are HD; an unspecified matrix is then taken as BT.709.
constexpr std::int32_t kHdMinimumWidth = 1280;
constexpr std::int32_t kHdMinimumHeight = 577;
constexpr std::int32_t kMaxScaledBitDepth = 16;

std::uint8_t clampToByte(long value) noexcept {
    return static_cast<std::uint8_t>(std::clamp(value, 0L, 255L));
}

}  // namespace

std::uint16_t readPlaneSample(const domain::VideoPlane& plane, std::int32_t x, std::int32_t y) noexcept {
    const std::int64_t column = std::clamp<std::int64_t>(x, 0, std::max(plane.width - 1, 0));
    const std::int64_t row = std::clamp<std::int64_t>(y, 0, std::max(plane.height - 1, 0));
    const std::size_t offset = static_cast<std::size_t>(row * plane.stride + column * plane.bytesPerSample);
    if (plane.bytesPerSample == 1) {
        return plane.samples[offset];
    }
    return static_cast<std::uint16_t>(plane.samples[offset] | (plane.samples[offset + 1] << 8));
}

std::uint8_t scaleSampleTo8Bits(std::uint32_t sample, std::int32_t bitDepth) noexcept {
    if (bitDepth < 9) {
        return static_cast<std::uint8_t>(std::min<std::uint32_t>(sample, 255));
    }
    const std::uint64_t max = (std::uint64_t{1} << std::min(bitDepth, kMaxScaledBitDepth)) - 1;
    const std::uint64_t scaled = (std::uint64_t{sample} * 255 + max / 2) / max;
    return static_cast<std::uint8_t>(std::min<std::uint64_t>(scaled, 255));
}

YuvCoefficients displayCoefficientsFor(const domain::VideoFrame& frame) noexcept {
    switch (frame.matrix) {
    case domain::ColourMatrix::Bt601:
        return kBt601Coefficients;
    case domain::ColourMatrix::Bt709:
        return kBt709Coefficients;
    case domain::ColourMatrix::Bt2020:
        return kBt2020Coefficients;
    case domain::ColourMatrix::Unspecified:
        return frame.width >= kHdMinimumWidth || frame.height >= kHdMinimumHeight ? kBt709Coefficients
                                                                                  : kBt601Coefficients;
    }
    return kBt601Coefficients;
}

YuvToRgbParameters displayParametersFor(const domain::VideoFrame& frame) noexcept {
    return {frame.bitDepth, frame.colourRange == domain::ColourRange::Full, displayCoefficientsFor(frame)};
}

namespace detail {

namespace {

double sampleScale(const YuvToRgbParameters& parameters) noexcept {
    return std::ldexp(1.0, std::max(parameters.bitDepth - 8, 0));
}

double fullRangeMaximum(const YuvToRgbParameters& parameters) noexcept {
    return std::ldexp(1.0, std::clamp(parameters.bitDepth, 1, kMaxScaledBitDepth)) - 1.0;
}

}  // namespace

double normalisedLuma(std::uint32_t y, const YuvToRgbParameters& parameters) noexcept {
    const double s = sampleScale(parameters);
    const double luma = parameters.fullRange ? y / fullRangeMaximum(parameters) : (y - 16.0 * s) / (219.0 * s);
    return std::clamp(luma, 0.0, 1.0);
}

double normalisedChroma(std::uint32_t c, const YuvToRgbParameters& parameters) noexcept {
    const double s = sampleScale(parameters);
    const double chroma = (c - 128.0 * s) / (parameters.fullRange ? fullRangeMaximum(parameters) : 224.0 * s);
    return std::clamp(chroma, -0.5, 0.5);
}

}  // namespace detail

std::array<std::uint8_t, 3> yuvToRgbExact(std::uint32_t y, std::uint32_t u, std::uint32_t v,
                                          const YuvToRgbParameters& parameters) noexcept {
    const double luma = detail::normalisedLuma(y, parameters);
    const double cb = detail::normalisedChroma(u, parameters);
    const double cr = detail::normalisedChroma(v, parameters);
    const double kr = parameters.coefficients.kr;
    const double kb = parameters.coefficients.kb;
    const double r = luma + 2.0 * (1.0 - kr) * cr;
    const double b = luma + 2.0 * (1.0 - kb) * cb;
    const double g = (luma - kr * r - kb * b) / (1.0 - kr - kb);
    return {clampToByte(std::lround(r * 255.0)), clampToByte(std::lround(g * 255.0)),
            clampToByte(std::lround(b * 255.0))};
}

}  // namespace vexilo::media
