#include "vexilo/ffmpeg_handles/FrameDescription.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <array>

namespace vexilo::ffmpeg {
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

constexpr std::array kMatrices{
    MatrixMapping{AVCOL_SPC_BT709, ColourMatrix::Bt709},
    MatrixMapping{AVCOL_SPC_FCC, ColourMatrix::Bt601},
    MatrixMapping{AVCOL_SPC_BT470BG, ColourMatrix::Bt601},
    MatrixMapping{AVCOL_SPC_SMPTE170M, ColourMatrix::Bt601},
    MatrixMapping{AVCOL_SPC_SMPTE240M, ColourMatrix::Bt601},
    MatrixMapping{AVCOL_SPC_BT2020_NCL, ColourMatrix::Bt2020},
};

std::optional<ChromaFormat> chromaFormatOf(const AVPixFmtDescriptor& descriptor)
{
    const auto found = std::find_if(kChromaSubsamplings.begin(), kChromaSubsamplings.end(),
                                    [&descriptor](const ChromaSubsampling& subsampling) {
                                        return subsampling.log2Width == descriptor.log2_chroma_w &&
                                               subsampling.log2Height == descriptor.log2_chroma_h;
                                    });
    return found == kChromaSubsamplings.end() ? std::nullopt : std::optional{found->format};
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

} // namespace

std::int32_t PlanarLayout::chromaWidth(std::int32_t lumaWidth) const { return ceilShift(lumaWidth, log2ChromaWidth); }

std::int32_t PlanarLayout::chromaHeight(std::int32_t lumaHeight) const
{
    return ceilShift(lumaHeight, log2ChromaHeight);
}

std::optional<PlanarLayout> planarLayoutOf(int pixelFormat)
{
    const AVPixFmtDescriptor* descriptor =
        pixelFormat < 0 ? nullptr : av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixelFormat));
    if (descriptor == nullptr) {
        return std::nullopt;
    }
    PlanarLayout layout;
    layout.monochrome = isPlanarGray(*descriptor);
    if (layout.monochrome) {
        layout.chromaFormat = ChromaFormat::Yuv420;
        layout.log2ChromaWidth = 1;
        layout.log2ChromaHeight = 1;
    } else {
        const std::optional<ChromaFormat> chromaFormat = chromaFormatOf(*descriptor);
        if (!isThreePlaneYuv(*descriptor) || !chromaFormat) {
            return std::nullopt;
        }
        layout.chromaFormat = *chromaFormat;
        layout.log2ChromaWidth = descriptor->log2_chroma_w;
        layout.log2ChromaHeight = descriptor->log2_chroma_h;
    }
    layout.bitDepth = descriptor->comp[0].depth;
    if (layout.bitDepth < 1 || layout.bitDepth > kMaxSampleBitDepth) {
        return std::nullopt;
    }
    layout.bytesPerSample = layout.bitDepth <= 8 ? 1 : 2;
    return layout;
}

PictureType pictureTypeOf(AVPictureType type)
{
    const auto found = std::find_if(kPictureTypes.begin(), kPictureTypes.end(),
                                    [type](const PictureTypeMapping& mapping) { return mapping.decoderType == type; });
    return found == kPictureTypes.end() ? PictureType::None : found->type;
}

ColourRange colourRangeOf(AVColorRange range)
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

ColourMatrix colourMatrixOf(AVColorSpace colourSpace)
{
    const auto found = std::find_if(kMatrices.begin(), kMatrices.end(), [colourSpace](const MatrixMapping& mapping) {
        return mapping.colourSpace == colourSpace;
    });
    return found == kMatrices.end() ? ColourMatrix::Unspecified : found->matrix;
}

std::string pixelFormatName(int pixelFormat)
{
    const char* name = pixelFormat < 0 ? nullptr : av_get_pix_fmt_name(static_cast<AVPixelFormat>(pixelFormat));
    return name != nullptr ? std::string(name) : std::string();
}

} // namespace vexilo::ffmpeg
