#include "frames/PictureFrameConversion.h"

#include "vexilo/ffmpeg_handles/FrameDescription.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace vexilo::analyzer {
namespace {

constexpr int kPlaneCount = 3;

std::optional<domain::VideoPlane> copyPlane(const AVFrame& frame, int planeIndex, std::int32_t width,
                                            std::int32_t height, std::int32_t bytesPerSample)
{
    const std::int64_t rowBytes = static_cast<std::int64_t>(width) * bytesPerSample;
    const std::int64_t lineSize = frame.linesize[planeIndex];
    if (lineSize == 0 || (lineSize < 0 ? -lineSize : lineSize) < rowBytes) {
        return std::nullopt;
    }
    std::int64_t planeBytes = 0;
    if (__builtin_mul_overflow(rowBytes, static_cast<std::int64_t>(height), &planeBytes)) {
        return std::nullopt;
    }

    domain::VideoPlane plane;
    plane.planeIndex = static_cast<std::uint8_t>(planeIndex);
    plane.width = width;
    plane.height = height;
    plane.stride = rowBytes;
    plane.bytesPerSample = bytesPerSample;
    // Rows are appended rather than copied over a resized vector, which would first fill
    // every byte of a frame-sized plane with zeros only to overwrite it.
    plane.samples.reserve(static_cast<std::size_t>(planeBytes));
    const std::uint8_t* source = frame.data[planeIndex];
    for (std::int64_t row = 0; row < height; ++row) {
        // Line sizes may be negative (bottom-up storage); row r always starts at data + linesize * r.
        const std::uint8_t* rowStart = source + lineSize * row;
        plane.samples.insert(plane.samples.end(), rowStart, rowStart + rowBytes);
    }
    return plane;
}

}  // namespace

std::optional<std::pair<domain::PictureInfo, domain::VideoFrame>> makePictureAndFrame(const AVFrame& frame,
                                                                                       std::uint64_t outputOrdinal)
{
    if (frame.width < 1 || frame.height < 1 || frame.format < 0) {
        return std::nullopt;
    }
    const std::optional<ffmpeg::PlanarLayout> layout = ffmpeg::planarLayoutOf(frame.format);
    if (!layout) {
        return std::nullopt;
    }
    const bool chromaPresent = layout->monochrome || (frame.data[1] != nullptr && frame.data[2] != nullptr);
    if (frame.data[0] == nullptr || !chromaPresent) {
        return std::nullopt;
    }
    const auto ordinal = static_cast<std::int64_t>(outputOrdinal);

    domain::PictureInfo picture;
    picture.id = ordinal;
    picture.displayIndex = ordinal;
    if (frame.pts != AV_NOPTS_VALUE) {
        picture.pts = frame.pts;
    }
    picture.pictureType = ffmpeg::pictureTypeOf(frame.pict_type);
    picture.width = frame.width;
    picture.height = frame.height;
    picture.bitDepth = layout->bitDepth;

    domain::VideoFrame video;
    video.index = ordinal;
    video.width = frame.width;
    video.height = frame.height;
    video.bitDepth = layout->bitDepth;
    video.pixelFormatName = ffmpeg::pixelFormatName(frame.format);
    video.chromaFormat = layout->chromaFormat;
    video.colourRange = ffmpeg::colourRangeOf(frame.color_range);
    video.matrix = ffmpeg::colourMatrixOf(frame.colorspace);

    for (int planeIndex = 0; planeIndex < kPlaneCount; ++planeIndex) {
        const bool luma = planeIndex == 0;
        const std::int32_t width = luma ? frame.width : layout->chromaWidth(frame.width);
        const std::int32_t height = luma ? frame.height : layout->chromaHeight(frame.height);
        if (layout->monochrome && !luma) {
            video.planes.push_back(domain::makeNeutralChromaPlane(static_cast<std::uint8_t>(planeIndex), width, height,
                                                                  layout->bitDepth, layout->bytesPerSample));
            continue;
        }
        std::optional<domain::VideoPlane> plane = copyPlane(frame, planeIndex, width, height, layout->bytesPerSample);
        if (!plane) {
            return std::nullopt;
        }
        video.planes.push_back(std::move(*plane));
    }
    return std::pair{std::move(picture), std::move(video)};
}

}  // namespace vexilo::analyzer
