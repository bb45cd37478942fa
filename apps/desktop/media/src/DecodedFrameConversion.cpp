#include "vexilo/media/DecodedFrameConversion.h"

#include "CheckedArithmetic.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <array>
#include <cstring>

namespace vexilo::media {
namespace {

using domain::ChromaFormat;
using domain::ColourMatrix;
using domain::ColourRange;

constexpr std::string_view kInvalidFrame = "Decoder returned a frame with invalid dimensions or pixel format";
constexpr std::string_view kUnsupportedFormatPrefix = "Unsupported decoded display pixel format for YUV viewer: ";
constexpr std::string_view kUnknownFormatName = "unknown";
constexpr std::string_view kIncompleteFrame = "Decoder returned an incomplete planar YUV frame";

struct AcceptedPixelFormat {
    AVPixelFormat format;
    ChromaFormat chroma;
    bool monochrome = false;
};

constexpr std::array kAcceptedPixelFormats{
    AcceptedPixelFormat{AV_PIX_FMT_YUV420P, ChromaFormat::Yuv420},
    AcceptedPixelFormat{AV_PIX_FMT_YUV420P10LE, ChromaFormat::Yuv420},
    AcceptedPixelFormat{AV_PIX_FMT_YUV422P, ChromaFormat::Yuv422},
    AcceptedPixelFormat{AV_PIX_FMT_YUV422P10LE, ChromaFormat::Yuv422},
    AcceptedPixelFormat{AV_PIX_FMT_YUV444P, ChromaFormat::Yuv444},
    AcceptedPixelFormat{AV_PIX_FMT_YUV444P10LE, ChromaFormat::Yuv444},
    AcceptedPixelFormat{AV_PIX_FMT_YUV420P12LE, ChromaFormat::Yuv420},
    AcceptedPixelFormat{AV_PIX_FMT_YUV422P12LE, ChromaFormat::Yuv422},
    AcceptedPixelFormat{AV_PIX_FMT_YUV444P12LE, ChromaFormat::Yuv444},
    AcceptedPixelFormat{AV_PIX_FMT_GRAY8, ChromaFormat::Yuv420, true},
    AcceptedPixelFormat{AV_PIX_FMT_GRAY10LE, ChromaFormat::Yuv420, true},
    AcceptedPixelFormat{AV_PIX_FMT_GRAY12LE, ChromaFormat::Yuv420, true},
};

struct MatrixMapping {
    AVColorSpace colorspace;
    ColourMatrix matrix;
};

constexpr std::array kMatrixMappings{
    MatrixMapping{AVCOL_SPC_BT709, ColourMatrix::Bt709},
    MatrixMapping{AVCOL_SPC_FCC, ColourMatrix::Bt601},
    MatrixMapping{AVCOL_SPC_BT470BG, ColourMatrix::Bt601},
    MatrixMapping{AVCOL_SPC_SMPTE170M, ColourMatrix::Bt601},
    MatrixMapping{AVCOL_SPC_SMPTE240M, ColourMatrix::Bt601},
    MatrixMapping{AVCOL_SPC_BT2020_NCL, ColourMatrix::Bt2020},
};

const AcceptedPixelFormat* findAcceptedFormat(int format) {
    const auto found = std::find_if(kAcceptedPixelFormats.begin(), kAcceptedPixelFormats.end(),
                                    [format](const AcceptedPixelFormat& entry) { return entry.format == format; });
    return found == kAcceptedPixelFormats.end() ? nullptr : &*found;
}

ColourRange colourRangeOf(AVColorRange range) {
    switch (range) {
        case AVCOL_RANGE_MPEG:
            return ColourRange::Limited;
        case AVCOL_RANGE_JPEG:
            return ColourRange::Full;
        default:
            return ColourRange::Unspecified;
    }
}

ColourMatrix colourMatrixOf(AVColorSpace colorspace) {
    const auto found = std::find_if(kMatrixMappings.begin(), kMatrixMappings.end(),
                                    [colorspace](const MatrixMapping& entry) { return entry.colorspace == colorspace; });
    return found == kMatrixMappings.end() ? ColourMatrix::Unspecified : found->matrix;
}

domain::PictureType pictureTypeOf(AVPictureType type) {
    switch (type) {
        case AV_PICTURE_TYPE_I:
            return domain::PictureType::I;
        case AV_PICTURE_TYPE_P:
            return domain::PictureType::P;
        case AV_PICTURE_TYPE_B:
            return domain::PictureType::B;
        default:
            return domain::PictureType::None;
    }
}

std::string pixelFormatName(int format) {
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(format));
    return name != nullptr ? std::string(name) : std::string();
}

std::optional<PacketIdentityRecord> readIdentityRecord(const AVFrame& frame) {
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

std::optional<std::int64_t> presentTimestamp(std::int64_t value) {
    return value == AV_NOPTS_VALUE ? std::nullopt : std::optional<std::int64_t>(value);
}

domain::PictureInfo describePicture(const AVFrame& frame, std::uint64_t index, std::int32_t bitDepth) {
    domain::PictureInfo picture;
    picture.id = static_cast<domain::PictureId>(index);
    picture.displayIndex = static_cast<std::int64_t>(index);
    picture.pts = presentTimestamp(frame.pts);
    picture.pictureType = pictureTypeOf(frame.pict_type);
    picture.width = frame.width;
    picture.height = frame.height;
    picture.bitDepth = bitDepth;
    if (const std::optional<PacketIdentityRecord> record = readIdentityRecord(frame)) {
        picture.packetIndex = record->packetIndex;
        picture.decodeIndex = record->decodeIndex;
        if (!picture.pts) {
            picture.pts = presentTimestamp(record->pts);
        }
        picture.dts = presentTimestamp(record->dts);
    }
    return picture;
}

// Monochrome (4:0:0) pictures carry luma only, but every frame user expects three planes: such a
// picture becomes 4:2:0 with mid-grey chroma, exactly as the analyzer worker sends it.
domain::VideoPlane neutralChromaPlane(std::uint8_t planeIndex, std::int32_t width, std::int32_t height,
                                      std::int32_t bitDepth, std::int32_t bytesPerSample) {
    domain::VideoPlane plane;
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

std::optional<domain::VideoPlane> copyChromaPlane(const AVFrame& frame, const AcceptedPixelFormat& accepted,
                                                  std::uint8_t planeIndex, std::int32_t width, std::int32_t height,
                                                  std::int32_t bitDepth, std::int32_t bytesPerSample) {
    if (accepted.monochrome) {
        return neutralChromaPlane(planeIndex, width, height, bitDepth, bytesPerSample);
    }
    return copyDecodedPlane(frame, planeIndex, planeIndex, width, height, bytesPerSample);
}

}  // namespace

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
    const AcceptedPixelFormat* accepted = findAcceptedFormat(frame.format);
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (accepted == nullptr || descriptor == nullptr) {
        const std::string name = pixelFormatName(frame.format);
        return formatFfmpegError(sourcePath, AVERROR_PATCHWELCOME,
                                 std::string(kUnsupportedFormatPrefix) +
                                     (name.empty() ? std::string(kUnknownFormatName) : name));
    }
    const auto bitDepth = static_cast<std::int32_t>(descriptor->comp[0].depth);
    const std::int32_t bytesPerSample = bitDepth > 8 ? 2 : 1;

    FFmpegDecodedPicture decoded;
    decoded.picture = describePicture(frame, index, bitDepth);

    domain::VideoFrame& video = decoded.frame;
    video.index = static_cast<std::int64_t>(index);
    video.width = frame.width;
    video.height = frame.height;
    video.bitDepth = bitDepth;
    video.pixelFormatName = pixelFormatName(frame.format);
    video.chromaFormat = accepted->chroma;
    video.colourRange = colourRangeOf(frame.color_range);
    video.matrix = colourMatrixOf(frame.colorspace);

    const int log2ChromaWidth = accepted->monochrome ? 1 : static_cast<int>(descriptor->log2_chroma_w);
    const int log2ChromaHeight = accepted->monochrome ? 1 : static_cast<int>(descriptor->log2_chroma_h);
    const std::int32_t chromaWidth = AV_CEIL_RSHIFT(frame.width, log2ChromaWidth);
    const std::int32_t chromaHeight = AV_CEIL_RSHIFT(frame.height, log2ChromaHeight);
    auto luma = copyDecodedPlane(frame, 0, 0, frame.width, frame.height, bytesPerSample);
    auto u = copyChromaPlane(frame, *accepted, 1, chromaWidth, chromaHeight, bitDepth, bytesPerSample);
    auto v = copyChromaPlane(frame, *accepted, 2, chromaWidth, chromaHeight, bitDepth, bytesPerSample);
    if (!luma || !u || !v) {
        return formatFfmpegError(sourcePath, AVERROR_INVALIDDATA, kIncompleteFrame);
    }
    video.planes = {std::move(*luma), std::move(*u), std::move(*v)};
    return decoded;
}

}  // namespace vexilo::media
