// What a decoded FFmpeg frame says about its picture, read the same way by the worker and by
// the desktop's own decoder, so that a picture shows in the same colours and with the same
// type whichever of them decoded it.
#pragma once

#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/VideoFrame.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <cstdint>
#include <optional>
#include <string>

namespace vexilo::ffmpeg {

// The planes of a pixel format as a VideoFrame holds them: Y, U, V in that order. A luma-only
// (4:0:0) format is described as 4:2:0, its chroma to be filled with mid grey: the frame
// channel and every viewer expect three planes, and such a picture then shows as the grey
// picture it is.
struct PlanarLayout {
    domain::ChromaFormat chromaFormat = domain::ChromaFormat::None;
    std::int32_t bitDepth = 0;  // of the first component
    std::int32_t bytesPerSample = 0;  // 1 up to 8 bits, else 2
    int log2ChromaWidth = 0;
    int log2ChromaHeight = 0;
    bool monochrome = false;

    [[nodiscard]] std::int32_t chromaWidth(std::int32_t lumaWidth) const;
    [[nodiscard]] std::int32_t chromaHeight(std::int32_t lumaHeight) const;
};

// The layout of a planar three-plane YUV format at 4:2:0, 4:2:2 or 4:4:4, or of a planar grey
// format, of 1 to 16 bits. Empty for every other format (RGB, semi-planar, packed, paletted,
// hardware, 4:1:1, alpha) and for one FFmpeg does not know.
[[nodiscard]] std::optional<PlanarLayout> planarLayoutOf(int pixelFormat);

[[nodiscard]] domain::PictureType pictureTypeOf(AVPictureType type);
[[nodiscard]] domain::ColourRange colourRangeOf(AVColorRange range);
[[nodiscard]] domain::ColourMatrix colourMatrixOf(AVColorSpace colourSpace);

// FFmpeg's name of the format; empty when it has none.
[[nodiscard]] std::string pixelFormatName(int pixelFormat);

} // namespace vexilo::ffmpeg
