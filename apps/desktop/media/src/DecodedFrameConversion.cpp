#include "vexilo/media/DecodedFrameConversion.h"

#include "CheckedArithmetic.h"

#include "vexilo/ffmpeg_handles/FrameDescription.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

#include <algorithm>
#include <array>
#include <cstring>

namespace vexilo::media {
namespace {

constexpr std::string_view kInvalidFrame = "Decoder returned a frame with invalid dimensions or pixel format";
constexpr std::string_view kUnsupportedFormatPrefix = "Unsupported decoded display pixel format for YUV viewer: ";
constexpr std::string_view kUnknownFormatName = "unknown";
constexpr std::string_view kIncompleteFrame = "Decoder returned an incomplete planar YUV frame";

// The formats the YUV viewer takes, narrower than every planar layout FFmpeg describes (no
// 16-bit, no full-range "J" aliases); their layout comes from the shared description.
constexpr std::array kViewerPixelFormats{
    AV_PIX_FMT_YUV420P,     AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV422P,     AV_PIX_FMT_YUV422P10LE,
    AV_PIX_FMT_YUV444P,     AV_PIX_FMT_YUV444P10LE, AV_PIX_FMT_YUV420P12LE, AV_PIX_FMT_YUV422P12LE,
    AV_PIX_FMT_YUV444P12LE, AV_PIX_FMT_GRAY8,       AV_PIX_FMT_GRAY10LE,    AV_PIX_FMT_GRAY12LE,
};

std::optional<ffmpeg::PlanarLayout> viewerLayoutOf(int format) {
    const bool offered = std::find(kViewerPixelFormats.begin(), kViewerPixelFormats.end(), format) !=
                         kViewerPixelFormats.end();
    return offered ? ffmpeg::planarLayoutOf(format) : std::nullopt;
}

std::optional<std::int64_t> presentTimestamp(std::int64_t value) {
    return value == AV_NOPTS_VALUE ? std::nullopt : std::optional<std::int64_t>(value);
}

domain::PictureInfo describePicture(const AVFrame& frame, std::uint64_t index, std::int32_t bitDepth) {
    domain::PictureInfo picture;
    picture.id = static_cast<domain::PictureId>(index);
    picture.displayIndex = static_cast<std::int64_t>(index);
    picture.pts = presentTimestamp(frame.pts);
    picture.pictureType = ffmpeg::pictureTypeOf(frame.pict_type);
    picture.width = frame.width;
    picture.height = frame.height;
    picture.bitDepth = bitDepth;
    if (const std::optional<PacketIdentityRecord> record = packetIdentityOf(frame)) {
        picture.packetIndex = record->packetIndex;
        picture.decodeIndex = record->decodeIndex;
        if (!picture.pts) {
            picture.pts = presentTimestamp(record->pts);
        }
        picture.dts = presentTimestamp(record->dts);
    }
    return picture;
}

// Monochrome (4:0:0) pictures become 4:2:0 with mid-grey chroma, exactly as the analyzer
// worker sends them.
std::optional<domain::VideoPlane> copyChromaPlane(const AVFrame& frame, const ffmpeg::PlanarLayout& layout,
                                                  std::uint8_t planeIndex) {
    const std::int32_t width = layout.chromaWidth(frame.width);
    const std::int32_t height = layout.chromaHeight(frame.height);
    if (layout.monochrome) {
        return domain::makeNeutralChromaPlane(planeIndex, width, height, layout.bitDepth, layout.bytesPerSample);
    }
    return copyDecodedPlane(frame, planeIndex, planeIndex, width, height, layout.bytesPerSample);
}

}  // namespace

std::optional<PacketIdentityRecord> packetIdentityOf(const AVFrame& frame) {
    const AVBufferRef* buffer = frame.opaque_ref;
    if (buffer == nullptr || buffer->data == nullptr || buffer->size < kPacketIdentityRecordSize) {
        return std::nullopt;
    }
    PacketIdentityRecord record;
    std::memcpy(&record, buffer->data, sizeof(record));
    if (record.tag != kPacketIdentityTag) {
        return std::nullopt;
    }
    return record;
}

std::optional<domain::VideoPlane> copyDecodedPlane(const AVFrame& frame, int planeIndex, std::uint8_t recordedIndex,
                                                   std::int32_t width, std::int32_t height,
                                                   std::int32_t bytesPerSample) {
    if (planeIndex < 0 || planeIndex >= AV_NUM_DATA_POINTERS) {
        return std::nullopt;
    }
    const auto plane = static_cast<std::size_t>(planeIndex);
    const std::uint8_t* source = frame.data[plane];
    const int lineSize = frame.linesize[plane];
    if (source == nullptr || lineSize < 1 || width < 1 || height < 1 || bytesPerSample < 1) {
        return std::nullopt;
    }
    const auto rowBytes = checkedMultiply(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(bytesPerSample));
    if (!rowBytes || static_cast<std::uint64_t>(lineSize) < *rowBytes) {
        return std::nullopt;
    }
    const auto planeBytes = checkedMultiply(*rowBytes, static_cast<std::uint64_t>(height));
    if (!planeBytes) {
        return std::nullopt;
    }
    domain::VideoPlane copy;
    copy.planeIndex = recordedIndex;
    copy.width = width;
    copy.height = height;
    copy.stride = static_cast<std::int64_t>(*rowBytes);
    copy.bytesPerSample = bytesPerSample;
    copy.samples.resize(static_cast<std::size_t>(*planeBytes));
    const auto rowLength = static_cast<std::size_t>(*rowBytes);
    for (std::size_t row = 0; row < static_cast<std::size_t>(height); ++row) {
        std::memcpy(copy.samples.data() + row * rowLength, source + row * static_cast<std::size_t>(lineSize),
                    rowLength);
    }
    return copy;
}

FFmpegResult<FFmpegDecodedPicture> convertDecodedFrame(const AVFrame& frame, const std::filesystem::path& sourcePath,
                                                       std::uint64_t index) {
    if (frame.width < 1 || frame.height < 1 || frame.format < 0) {
        return formatFfmpegError(sourcePath, AVERROR_INVALIDDATA, kInvalidFrame);
    }
    const std::optional<ffmpeg::PlanarLayout> layout = viewerLayoutOf(frame.format);
    if (!layout) {
        const std::string name = ffmpeg::pixelFormatName(frame.format);
        return formatFfmpegError(sourcePath, AVERROR_PATCHWELCOME,
                                 std::string(kUnsupportedFormatPrefix) +
                                     (name.empty() ? std::string(kUnknownFormatName) : name));
    }

    FFmpegDecodedPicture decoded;
    decoded.picture = describePicture(frame, index, layout->bitDepth);

    domain::VideoFrame& video = decoded.frame;
    video.index = static_cast<std::int64_t>(index);
    video.width = frame.width;
    video.height = frame.height;
    video.bitDepth = layout->bitDepth;
    video.pixelFormatName = ffmpeg::pixelFormatName(frame.format);
    video.chromaFormat = layout->chromaFormat;
    video.colourRange = ffmpeg::colourRangeOf(frame.color_range);
    video.matrix = ffmpeg::colourMatrixOf(frame.colorspace);

    auto luma = copyDecodedPlane(frame, 0, 0, frame.width, frame.height, layout->bytesPerSample);
    auto u = copyChromaPlane(frame, *layout, 1);
    auto v = copyChromaPlane(frame, *layout, 2);
    if (!luma || !u || !v) {
        return formatFfmpegError(sourcePath, AVERROR_INVALIDDATA, kIncompleteFrame);
    }
    video.planes = {std::move(*luma), std::move(*u), std::move(*v)};
    return decoded;
}

}  // namespace vexilo::media
