#include "frames/PictureFrameConversion.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <array>
#include <cstring>

namespace vexilo::analyzer {
namespace {

using domain::ChromaFormat;
using domain::ColourMatrix;
using domain::ColourRange;
using domain::PictureType;

constexpr int kPlaneCount = 3;
constexpr int kMaxSampleBitDepth = 16;

struct ChromaSubsampling {
    int log2Width;
    int log2Height;
    ChromaFormat format;
};

constexpr std::array kChromaSubsamplings{
    ChromaSubsampling{1, 1, ChromaFormat::Yuv420},
    ChromaSubsampling{1, 0, ChromaFormat::Yuv422},
    ChromaSubsampling{0, 0, ChromaFormat::Yuv444},
};

struct PictureTypeMapping {
    AVPictureType decoderType;
    PictureType type;
};

constexpr std::array kPictureTypes{
    PictureTypeMapping{AV_PICTURE_TYPE_I, PictureType::I},
    PictureTypeMapping{AV_PICTURE_TYPE_P, PictureType::P},
    PictureTypeMapping{AV_PICTURE_TYPE_B, PictureType::B},
};

struct MatrixMapping {
    AVColorSpace colourSpace;
    ColourMatrix matrix;
};

// The same choice as the desktop's in-process decoder, so that a picture shows in the same
// colours whichever road decoded it.
constexpr std::array kMatrices{
    MatrixMapping{AVCOL_SPC_BT709, ColourMatrix::Bt709},
    MatrixMapping{AVCOL_SPC_FCC, ColourMatrix::Bt601},
    MatrixMapping{AVCOL_SPC_BT470BG, ColourMatrix::Bt601},
    MatrixMapping{AVCOL_SPC_SMPTE170M, ColourMatrix::Bt601},
    MatrixMapping{AVCOL_SPC_SMPTE240M, ColourMatrix::Bt601},
    MatrixMapping{AVCOL_SPC_BT2020_NCL, ColourMatrix::Bt2020},
};

PictureType mapPictureType(AVPictureType decoderType)
{
    for (const PictureTypeMapping& mapping : kPictureTypes) {
        if (mapping.decoderType == decoderType) {
            return mapping.type;
        }
    }
    return PictureType::None;
}

ColourMatrix mapMatrix(AVColorSpace colourSpace)
{
    for (const MatrixMapping& mapping : kMatrices) {
        if (mapping.colourSpace == colourSpace) {
            return mapping.matrix;
        }
    }
    return ColourMatrix::Unspecified;
}

ColourRange mapRange(AVColorRange range)
{
    switch (range) {
    case AVCOL_RANGE_MPEG:
        return ColourRange::Limited;
    case AVCOL_RANGE_JPEG:
        return ColourRange::Full;
    default:
        return ColourRange::Unspecified;
    }
}

std::optional<ChromaFormat> chromaFormatOf(const AVPixFmtDescriptor& descriptor)
{
    for (const ChromaSubsampling& subsampling : kChromaSubsamplings) {
        if (subsampling.log2Width == descriptor.log2_chroma_w && subsampling.log2Height == descriptor.log2_chroma_h) {
            return subsampling.format;
        }
    }
    return std::nullopt;
}

// Planar RGB shares the subsampling of 4:4:4 YUV; its planes are G, B, R and must not pass as Y, U, V.
bool isThreePlaneYuv(const AVPixFmtDescriptor& descriptor)
{
    constexpr std::uint64_t refusedFlags = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL |
                                           AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_FLOAT;
    if ((descriptor.flags & refusedFlags) != 0 || (descriptor.flags & AV_PIX_FMT_FLAG_PLANAR) == 0) {
        return false;
    }
    if (descriptor.nb_components < kPlaneCount) {
        return false;
    }
    for (int component = 0; component < kPlaneCount; ++component) {
        if (descriptor.comp[component].plane != component) {
            return false;
        }
    }
    return true;
}

// Monochrome (4:0:0) pictures carry luma only. The frame channel and every viewer expect three
// planes, so such a picture travels as 4:2:0 with mid-grey chroma: it shows as the grey picture
// it is, and a 4:0:0 stream analyses like any other instead of failing on its first frame.
bool isPlanarGray(const AVPixFmtDescriptor& descriptor)
{
    constexpr std::uint64_t refusedFlags = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL |
                                           AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_ALPHA;
    return (descriptor.flags & refusedFlags) == 0 && descriptor.nb_components == 1 &&
           descriptor.comp[0].plane == 0 && descriptor.comp[0].step <= 2;
}

std::int32_t ceilShift(std::int32_t value, int shift)
{
    return static_cast<std::int32_t>((static_cast<std::int64_t>(value) + (1LL << shift) - 1) >> shift);
}

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
    plane.samples.resize(static_cast<std::size_t>(planeBytes));
    const std::uint8_t* source = frame.data[planeIndex];
    for (std::int64_t row = 0; row < height; ++row) {
        // Line sizes may be negative (bottom-up storage); row r always starts at data + linesize * r.
        std::memcpy(plane.samples.data() + row * rowBytes, source + lineSize * row, static_cast<std::size_t>(rowBytes));
    }
    return plane;
}

domain::VideoPlane neutralChromaPlane(int planeIndex, std::int32_t width, std::int32_t height, std::int32_t bitDepth,
                                     std::int32_t bytesPerSample)
{
    domain::VideoPlane plane;
    plane.planeIndex = static_cast<std::uint8_t>(planeIndex);
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

}  // namespace

std::optional<std::pair<domain::PictureInfo, domain::VideoFrame>> makePictureAndFrame(const AVFrame& frame,
                                                                                       std::uint64_t outputOrdinal)
{
    if (frame.width < 1 || frame.height < 1 || frame.format < 0) {
        return std::nullopt;
    }
    const auto pixelFormat = static_cast<AVPixelFormat>(frame.format);
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(pixelFormat);
    if (descriptor == nullptr) {
        return std::nullopt;
    }
    const bool monochrome = isPlanarGray(*descriptor);
    if (!monochrome && !isThreePlaneYuv(*descriptor)) {
        return std::nullopt;
    }
    const std::optional<ChromaFormat> chromaFormat =
        monochrome ? std::optional{ChromaFormat::Yuv420} : chromaFormatOf(*descriptor);
    const bool chromaPresent = monochrome || (frame.data[1] != nullptr && frame.data[2] != nullptr);
    if (!chromaFormat || frame.data[0] == nullptr || !chromaPresent) {
        return std::nullopt;
    }
    const std::int32_t bitDepth = descriptor->comp[0].depth;
    if (bitDepth < 1 || bitDepth > kMaxSampleBitDepth) {
        return std::nullopt;
    }
    const std::int32_t bytesPerSample = bitDepth <= 8 ? 1 : 2;
    const auto ordinal = static_cast<std::int64_t>(outputOrdinal);

    domain::PictureInfo picture;
    picture.id = ordinal;
    picture.displayIndex = ordinal;
    if (frame.pts != AV_NOPTS_VALUE) {
        picture.pts = frame.pts;
    }
    picture.pictureType = mapPictureType(frame.pict_type);
    picture.width = frame.width;
    picture.height = frame.height;
    picture.bitDepth = bitDepth;

    domain::VideoFrame video;
    video.index = ordinal;
    video.width = frame.width;
    video.height = frame.height;
    video.bitDepth = bitDepth;
    if (const char* name = av_get_pix_fmt_name(pixelFormat)) {
        video.pixelFormatName = name;
    }
    video.chromaFormat = *chromaFormat;
    video.colourRange = mapRange(frame.color_range);
    video.matrix = mapMatrix(frame.colorspace);

    for (int planeIndex = 0; planeIndex < kPlaneCount; ++planeIndex) {
        const bool luma = planeIndex == 0;
        if (monochrome && !luma) {
            video.planes.push_back(neutralChromaPlane(planeIndex, ceilShift(frame.width, 1), ceilShift(frame.height, 1),
                                                      bitDepth, bytesPerSample));
            continue;
        }
        const std::int32_t width = luma ? frame.width : ceilShift(frame.width, descriptor->log2_chroma_w);
        const std::int32_t height = luma ? frame.height : ceilShift(frame.height, descriptor->log2_chroma_h);
        std::optional<domain::VideoPlane> plane = copyPlane(frame, planeIndex, width, height, bytesPerSample);
        if (!plane) {
            return std::nullopt;
        }
        video.planes.push_back(std::move(*plane));
    }
    return std::pair{std::move(picture), std::move(video)};
}

}  // namespace vexilo::analyzer
