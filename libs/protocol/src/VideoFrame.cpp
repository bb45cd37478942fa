#include "vexilo/domain/VideoFrame.h"

namespace vexilo::domain {

VideoPlane makeNeutralChromaPlane(std::uint8_t planeIndex, std::int32_t width, std::int32_t height,
                                  std::int32_t bitDepth, std::int32_t bytesPerSample)
{
    VideoPlane plane;
    plane.planeIndex = planeIndex;
    plane.width = width;
    plane.height = height;
    plane.stride = static_cast<std::int64_t>(width) * bytesPerSample;
    plane.bytesPerSample = bytesPerSample;
    const auto sampleCount = static_cast<std::size_t>(static_cast<std::int64_t>(width) * height);
    const auto midGrey = static_cast<std::uint16_t>(1U << (bitDepth - 1));
    if (bytesPerSample == 1) {
        plane.samples.assign(sampleCount, static_cast<std::uint8_t>(midGrey));
        return plane;
    }
    plane.samples.resize(sampleCount * 2);
    for (std::size_t sample = 0; sample < sampleCount; ++sample) {
        plane.samples[2 * sample] = static_cast<std::uint8_t>(midGrey & 0xffU);
        plane.samples[2 * sample + 1] = static_cast<std::uint8_t>(midGrey >> 8);
    }
    return plane;
}

}  // namespace vexilo::domain
