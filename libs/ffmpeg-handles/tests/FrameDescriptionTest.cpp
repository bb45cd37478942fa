// The one reading of a decoded frame's pixel format that the worker and the desktop share.
#include "vexilo/ffmpeg_handles/FrameDescription.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <ostream>

namespace vexilo::ffmpeg {
namespace {

using domain::ChromaFormat;

struct LayoutCase {
    AVPixelFormat format;
    ChromaFormat chromaFormat;
    std::int32_t bitDepth;
    std::int32_t bytesPerSample;
    bool monochrome;
    // Chroma plane size of a 1921 x 1081 picture.
    std::int32_t chromaWidth;
    std::int32_t chromaHeight;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << av_get_pix_fmt_name(c.format); }

class PlanarFormats : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(PlanarFormats, AreDescribedAsTheirThreePlanes)
{
    const LayoutCase& c = GetParam();
    const std::optional<PlanarLayout> layout = planarLayoutOf(c.format);
    ASSERT_TRUE(layout.has_value());
    EXPECT_EQ(layout->chromaFormat, c.chromaFormat);
    EXPECT_EQ(layout->bitDepth, c.bitDepth);
    EXPECT_EQ(layout->bytesPerSample, c.bytesPerSample);
    EXPECT_EQ(layout->monochrome, c.monochrome);
    EXPECT_EQ(layout->chromaWidth(1921), c.chromaWidth);
    EXPECT_EQ(layout->chromaHeight(1081), c.chromaHeight);
    EXPECT_EQ(pixelFormatName(c.format), av_get_pix_fmt_name(c.format));
}

INSTANTIATE_TEST_SUITE_P(
    FrameDescription, PlanarFormats,
    ::testing::Values(LayoutCase{AV_PIX_FMT_YUV420P, ChromaFormat::Yuv420, 8, 1, false, 961, 541},
                      LayoutCase{AV_PIX_FMT_YUVJ420P, ChromaFormat::Yuv420, 8, 1, false, 961, 541},
                      LayoutCase{AV_PIX_FMT_YUV420P10LE, ChromaFormat::Yuv420, 10, 2, false, 961, 541},
                      LayoutCase{AV_PIX_FMT_YUV422P12LE, ChromaFormat::Yuv422, 12, 2, false, 961, 1081},
                      LayoutCase{AV_PIX_FMT_YUV444P16LE, ChromaFormat::Yuv444, 16, 2, false, 1921, 1081},
                      LayoutCase{AV_PIX_FMT_GRAY8, ChromaFormat::Yuv420, 8, 1, true, 961, 541},
                      LayoutCase{AV_PIX_FMT_GRAY12LE, ChromaFormat::Yuv420, 12, 2, true, 961, 541}));

class OtherFormats : public ::testing::TestWithParam<int> {};

TEST_P(OtherFormats, HaveNoPlanarLayout)
{
    EXPECT_FALSE(planarLayoutOf(GetParam()).has_value()) << pixelFormatName(GetParam());
}

// Semi-planar, packed, planar RGB, grey with alpha, paletted, 4:1:1 and 4:1:0, float, and formats FFmpeg
// does not know.
INSTANTIATE_TEST_SUITE_P(FrameDescription, OtherFormats,
                         ::testing::Values(AV_PIX_FMT_NV12, AV_PIX_FMT_P010LE, AV_PIX_FMT_YUYV422, AV_PIX_FMT_RGBA,
                                           AV_PIX_FMT_GBRP, AV_PIX_FMT_GBRP10LE, AV_PIX_FMT_YA8,
                                           AV_PIX_FMT_PAL8, AV_PIX_FMT_YUV411P,
                                           AV_PIX_FMT_YUV410P, AV_PIX_FMT_GRAYF32LE, AV_PIX_FMT_NONE, 100000));

TEST(FrameDescription, NamesNoFormatThatFFmpegDoesNotKnow)
{
    EXPECT_EQ(pixelFormatName(AV_PIX_FMT_NONE), "");
    EXPECT_EQ(pixelFormatName(100000), "");
}

} // namespace
} // namespace vexilo::ffmpeg
