#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexilo::domain {

enum class ChromaFormat : std::uint8_t {
    None = 0,
    Yuv420 = 1,
    Yuv422 = 2,
    Yuv444 = 3,
};

enum class ColourRange : std::uint8_t {
    Unspecified = 0,
    Limited = 1,
    Full = 2,
};

enum class ColourMatrix : std::uint8_t {
    Unspecified = 0,
    Bt601 = 1,
    Bt709 = 2,
    Bt2020 = 3,
};

inline constexpr std::uint8_t kMaxChromaFormatCode = 3;
inline constexpr std::uint8_t kMaxColourRangeCode = 2;
inline constexpr std::uint8_t kMaxColourMatrixCode = 3;

enum class PlaneIndex : std::uint8_t {
    Y = 0,
    U = 1,
    V = 2,
};

inline constexpr std::size_t kMaxVideoPlanes = 3;

// Pixel-format name of a packed frame: four 8-bit samples per pixel, no planes.
inline constexpr const char* kPackedRgba8FormatName = "rgba8";
inline constexpr std::int64_t kPackedRgba8BytesPerPixel = 4;

// One plane of a planar frame; `samples` holds `stride` x `height` bytes, rows top to bottom.
struct VideoPlane {
    std::uint8_t planeIndex = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int64_t stride = 0;
    std::int32_t bytesPerSample = 1;
    std::vector<std::uint8_t> samples;

    friend bool operator==(const VideoPlane&, const VideoPlane&) = default;
};

// A decoded frame, never changed once built. Planar YUV (three planes 0, 1, 2, no packed
// data) or packed "rgba8" (no planes, `packedStride` and `packedData` set).
struct VideoFrame {
    std::int64_t index = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitDepth = 0;
    std::string pixelFormatName;
    ChromaFormat chromaFormat = ChromaFormat::None;
    ColourRange colourRange = ColourRange::Unspecified;
    ColourMatrix matrix = ColourMatrix::Unspecified;
    std::vector<VideoPlane> planes;
    std::int64_t packedStride = 0;
    std::vector<std::uint8_t> packedData;

    friend bool operator==(const VideoFrame&, const VideoFrame&) = default;
};

// A chroma plane of mid grey (2^(bitDepth - 1)) in every sample. Monochrome (4:0:0) pictures
// carry luma only, but every frame user expects three planes: both decoders give such a picture
// these as its U and V planes, so that it shows as the grey picture it is.
[[nodiscard]] VideoPlane makeNeutralChromaPlane(std::uint8_t planeIndex, std::int32_t width, std::int32_t height,
                                                std::int32_t bitDepth, std::int32_t bytesPerSample);

// Frames are shared between threads (frame cache, decode workers, viewers) without copying.
using VideoFramePtr = std::shared_ptr<const VideoFrame>;

}  // namespace vexilo::domain
