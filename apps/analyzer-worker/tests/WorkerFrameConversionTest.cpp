#include "frames/PictureFrameConversion.h"
#include "vexilo/protocol/FramePacket.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <memory>
#include <string>

namespace vexilo::analyzer {
namespace {

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

// A decoded-looking frame whose every sample byte tells its plane, row and column.
FramePtr makeFrame(AVPixelFormat format, int width, int height, int alignment = 64)
{
    FramePtr frame(av_frame_alloc());
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), alignment) < 0) {
        return nullptr;
    }
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && frame->data[plane] != nullptr; ++plane) {
        const int rows = plane == 0 ? height : AV_CEIL_RSHIFT(height, av_pix_fmt_desc_get(format)->log2_chroma_h);
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < frame->linesize[plane]; ++column) {
                frame->data[plane][row * frame->linesize[plane] + column] =
                    static_cast<std::uint8_t>(plane * 100 + row * 7 + column);
            }
        }
    }
    return frame;
}

struct PlanarCase {
    AVPixelFormat format;
    int width;
    int height;
    domain::ChromaFormat chroma;
    int bitDepth;
    int chromaWidth;
    int chromaHeight;
};

void PrintTo(const PlanarCase& c, std::ostream* os) { *os << av_get_pix_fmt_name(c.format) << ' ' << c.width << 'x' << c.height; }

class FrameConversionPlanarTest : public ::testing::TestWithParam<PlanarCase> {};

TEST_P(FrameConversionPlanarTest, CopiesTightlyPackedPlanes)
{
    const PlanarCase& c = GetParam();
    FramePtr frame = makeFrame(c.format, c.width, c.height);
    ASSERT_NE(frame, nullptr);
    frame->pts = 1234;
    frame->pict_type = AV_PICTURE_TYPE_B;
    const auto converted = makePictureAndFrame(*frame, 9);
    ASSERT_TRUE(converted.has_value());
    const auto& [picture, video] = *converted;

    EXPECT_EQ(picture.id, 9);
    EXPECT_EQ(picture.displayIndex, 9);
    EXPECT_EQ(picture.pts, std::optional<std::int64_t>(1234));
    EXPECT_FALSE(picture.dts || picture.poc || picture.packetIndex || picture.decodeIndex);
    EXPECT_EQ(picture.pictureType, domain::PictureType::B);
    EXPECT_EQ(picture.bitDepth, c.bitDepth);
    EXPECT_EQ(video.index, 9);
    EXPECT_EQ(video.bitDepth, c.bitDepth);
    EXPECT_EQ(video.chromaFormat, c.chroma);
    EXPECT_EQ(video.pixelFormatName, av_get_pix_fmt_name(c.format));
    EXPECT_TRUE(video.packedData.empty());
    ASSERT_EQ(video.planes.size(), 3U);
    const int bytesPerSample = c.bitDepth <= 8 ? 1 : 2;
    for (int index = 0; index < 3; ++index) {
        const domain::VideoPlane& plane = video.planes[static_cast<std::size_t>(index)];
        EXPECT_EQ(plane.planeIndex, index);
        EXPECT_EQ(plane.width, index == 0 ? c.width : c.chromaWidth);
        EXPECT_EQ(plane.height, index == 0 ? c.height : c.chromaHeight);
        EXPECT_EQ(plane.bytesPerSample, bytesPerSample);
        EXPECT_EQ(plane.stride, static_cast<std::int64_t>(plane.width) * bytesPerSample);
        ASSERT_EQ(plane.samples.size(), static_cast<std::size_t>(plane.stride * plane.height));
        // The last byte of the last row comes from the decoder's padded row, not its padding.
        const std::int64_t lastRow = plane.height - 1;
        const std::int64_t lastColumn = plane.stride - 1;
        EXPECT_EQ(plane.samples.back(), static_cast<std::uint8_t>(index * 100 + lastRow * 7 + lastColumn));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FrameConversionPlanarTest,
    ::testing::Values(PlanarCase{AV_PIX_FMT_YUV420P, 1921, 1081, domain::ChromaFormat::Yuv420, 8, 961, 541},
                      PlanarCase{AV_PIX_FMT_YUV420P10LE, 33, 17, domain::ChromaFormat::Yuv420, 10, 17, 9},
                      PlanarCase{AV_PIX_FMT_YUV422P, 7, 5, domain::ChromaFormat::Yuv422, 8, 4, 5},
                      PlanarCase{AV_PIX_FMT_YUV444P12LE, 6, 3, domain::ChromaFormat::Yuv444, 12, 6, 3},
                      PlanarCase{AV_PIX_FMT_YUVJ420P, 4, 4, domain::ChromaFormat::Yuv420, 8, 2, 2}));

class FrameConversionRefusalTest : public ::testing::TestWithParam<AVPixelFormat> {};

TEST_P(FrameConversionRefusalTest, RefusesFormatsThatAreNotThreePlaneYuv)
{
    FramePtr frame = makeFrame(GetParam(), 8, 8);
    ASSERT_NE(frame, nullptr);
    EXPECT_FALSE(makePictureAndFrame(*frame, 0).has_value()) << av_get_pix_fmt_name(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Formats, FrameConversionRefusalTest,
                         ::testing::Values(AV_PIX_FMT_YA8, AV_PIX_FMT_NV12, AV_PIX_FMT_P010LE,
                                           AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV410P, AV_PIX_FMT_GBRP,
                                           AV_PIX_FMT_GBRP10LE, AV_PIX_FMT_RGBA, AV_PIX_FMT_PAL8,
                                           AV_PIX_FMT_YUYV422));

struct MonochromeCase {
    AVPixelFormat format;
    int bitDepth;
    std::uint16_t midGrey;
};

class FrameConversionMonochromeTest : public ::testing::TestWithParam<MonochromeCase> {};

TEST_P(FrameConversionMonochromeTest, TravelsAsFourTwoZeroWithMidGreyChroma)
{
    const MonochromeCase& c = GetParam();
    FramePtr frame = makeFrame(c.format, 5, 3);
    ASSERT_NE(frame, nullptr);
    const auto converted = makePictureAndFrame(*frame, 2);
    ASSERT_TRUE(converted.has_value());
    const domain::VideoFrame& video = converted->second;
    EXPECT_EQ(video.chromaFormat, domain::ChromaFormat::Yuv420);
    EXPECT_EQ(video.bitDepth, c.bitDepth);
    EXPECT_EQ(video.pixelFormatName, av_get_pix_fmt_name(c.format));
    ASSERT_EQ(video.planes.size(), 3u);
    const int bytesPerSample = c.bitDepth <= 8 ? 1 : 2;
    EXPECT_EQ(video.planes[0].samples[0], frame->data[0][0]);
    EXPECT_EQ(video.planes[0].samples[static_cast<std::size_t>(5 * bytesPerSample)], frame->data[0][frame->linesize[0]]);
    for (int chroma = 1; chroma < 3; ++chroma) {
        const domain::VideoPlane& plane = video.planes[static_cast<std::size_t>(chroma)];
        EXPECT_EQ(plane.width, 3);
        EXPECT_EQ(plane.height, 2);
        ASSERT_EQ(plane.samples.size(), static_cast<std::size_t>(3 * 2 * bytesPerSample));
        for (std::size_t sample = 0; sample < plane.samples.size(); sample += static_cast<std::size_t>(bytesPerSample)) {
            const std::uint16_t value = bytesPerSample == 1
                                            ? plane.samples[sample]
                                            : static_cast<std::uint16_t>(plane.samples[sample] | plane.samples[sample + 1] << 8);
            EXPECT_EQ(value, c.midGrey);
        }
    }
    EXPECT_TRUE(protocol::videoFrameLayoutProblem(video).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Formats, FrameConversionMonochromeTest,
                         ::testing::Values(MonochromeCase{AV_PIX_FMT_GRAY8, 8, 128},
                                           MonochromeCase{AV_PIX_FMT_GRAY10LE, 10, 512},
                                           MonochromeCase{AV_PIX_FMT_GRAY12LE, 12, 2048}));

TEST(FrameConversion, HonoursNegativeLineSizes)
{
    FramePtr frame = makeFrame(AV_PIX_FMT_YUV420P, 4, 4);
    ASSERT_NE(frame, nullptr);
    // Present the same buffers bottom-up: row r now lives at data + linesize * r with a negative line size.
    const auto upright = makePictureAndFrame(*frame, 0);
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? 4 : 2;
        frame->data[plane] += frame->linesize[plane] * (rows - 1);
        frame->linesize[plane] = -frame->linesize[plane];
    }
    const auto flipped = makePictureAndFrame(*frame, 0);
    ASSERT_TRUE(upright && flipped);
    const auto& uprightLuma = upright->second.planes[0].samples;
    const auto& flippedLuma = flipped->second.planes[0].samples;
    for (std::size_t row = 0; row < 4; ++row) {
        EXPECT_TRUE(std::equal(flippedLuma.begin() + static_cast<std::ptrdiff_t>(row * 4),
                               flippedLuma.begin() + static_cast<std::ptrdiff_t>(row * 4 + 4),
                               uprightLuma.begin() + static_cast<std::ptrdiff_t>((3 - row) * 4)));
    }
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? 4 : 2;
        frame->linesize[plane] = -frame->linesize[plane];
        frame->data[plane] -= frame->linesize[plane] * (rows - 1);
    }
}

TEST(FrameConversion, MapsColourPropertiesAndMissingTimestamps)
{
    struct ColourCase {
        AVColorRange range;
        AVColorSpace space;
        domain::ColourRange expectedRange;
        domain::ColourMatrix expectedMatrix;
    };
    const ColourCase cases[] = {
        {AVCOL_RANGE_MPEG, AVCOL_SPC_BT709, domain::ColourRange::Limited, domain::ColourMatrix::Bt709},
        {AVCOL_RANGE_JPEG, AVCOL_SPC_BT470BG, domain::ColourRange::Full, domain::ColourMatrix::Bt601},
        {AVCOL_RANGE_UNSPECIFIED, AVCOL_SPC_SMPTE170M, domain::ColourRange::Unspecified, domain::ColourMatrix::Bt601},
        {AVCOL_RANGE_MPEG, AVCOL_SPC_FCC, domain::ColourRange::Limited, domain::ColourMatrix::Bt601},
        {AVCOL_RANGE_MPEG, AVCOL_SPC_SMPTE240M, domain::ColourRange::Limited, domain::ColourMatrix::Bt601},
        {AVCOL_RANGE_MPEG, AVCOL_SPC_BT2020_NCL, domain::ColourRange::Limited, domain::ColourMatrix::Bt2020},
        {AVCOL_RANGE_MPEG, AVCOL_SPC_BT2020_CL, domain::ColourRange::Limited, domain::ColourMatrix::Unspecified},
    };
    for (const ColourCase& c : cases) {
        FramePtr frame = makeFrame(AV_PIX_FMT_YUV420P, 2, 2);
        frame->color_range = c.range;
        frame->colorspace = c.space;
        frame->pts = AV_NOPTS_VALUE;
        frame->pict_type = AV_PICTURE_TYPE_BI;
        const auto converted = makePictureAndFrame(*frame, 0);
        ASSERT_TRUE(converted.has_value());
        EXPECT_EQ(converted->second.colourRange, c.expectedRange);
        EXPECT_EQ(converted->second.matrix, c.expectedMatrix);
        EXPECT_FALSE(converted->first.pts.has_value());
        EXPECT_EQ(converted->first.pictureType, domain::PictureType::None);
    }
}

TEST(FrameConversion, RefusesMissingPlanesShortLinesAndEmptyFrames)
{
    FramePtr frame = makeFrame(AV_PIX_FMT_YUV420P, 8, 8);
    uint8_t* chromaV = frame->data[2];
    frame->data[2] = nullptr;
    EXPECT_FALSE(makePictureAndFrame(*frame, 0));
    frame->data[2] = chromaV;

    const int lumaLine = frame->linesize[0];
    frame->linesize[0] = 7;
    EXPECT_FALSE(makePictureAndFrame(*frame, 0));
    frame->linesize[0] = 0;
    EXPECT_FALSE(makePictureAndFrame(*frame, 0));
    frame->linesize[0] = lumaLine;
    EXPECT_TRUE(makePictureAndFrame(*frame, 0));

    frame->width = 0;
    EXPECT_FALSE(makePictureAndFrame(*frame, 0));
    frame->width = 8;
    frame->format = -1;
    EXPECT_FALSE(makePictureAndFrame(*frame, 0));
    frame->format = AV_PIX_FMT_YUV420P;
}

}  // namespace
}  // namespace vexilo::analyzer
