// Thumbnails: exact pixels, colour matrix choice and the frames that give none.

#include "vexilo/application/PictureThumbnailMaker.h"
#include "vexilo/media/SampleConversion.h"

#include <gtest/gtest.h>

#include <array>

namespace vexilo::application {
namespace {

using domain::ColourMatrix;
using domain::ColourRange;

domain::VideoPlane planeOf(std::uint8_t index, std::int32_t width, std::int32_t height, std::int32_t bytesPerSample,
                           std::uint16_t value)
{
    domain::VideoPlane plane;
    plane.planeIndex = index;
    plane.width = width;
    plane.height = height;
    plane.bytesPerSample = bytesPerSample;
    plane.stride = static_cast<std::int64_t>(width) * bytesPerSample;
    plane.samples.resize(static_cast<std::size_t>(plane.stride * height));
    for (std::size_t i = 0; i < plane.samples.size(); i += static_cast<std::size_t>(bytesPerSample)) {
        plane.samples[i] = static_cast<std::uint8_t>(value & 0xffU);
        if (bytesPerSample == 2) {
            plane.samples[i + 1] = static_cast<std::uint8_t>(value >> 8);
        }
    }
    return plane;
}

domain::VideoFrame uniformFrame(std::int32_t width, std::int32_t height, std::int32_t bitDepth, std::uint16_t y,
                                std::uint16_t u, std::uint16_t v)
{
    domain::VideoFrame frame;
    frame.index = 7;
    frame.width = width;
    frame.height = height;
    frame.bitDepth = bitDepth;
    frame.colourRange = ColourRange::Limited;
    const std::int32_t bytes = bitDepth > 8 ? 2 : 1;
    frame.planes = {planeOf(0, width, height, bytes, y), planeOf(1, (width + 1) / 2, (height + 1) / 2, bytes, u),
                    planeOf(2, (width + 1) / 2, (height + 1) / 2, bytes, v)};
    return frame;
}

std::array<std::uint8_t, 4> pixelAt(const PictureThumbnail& thumbnail, int x, int y)
{
    const auto offset = (static_cast<std::size_t>(y) * kPictureThumbnailWidth + static_cast<std::size_t>(x)) * 4;
    return {thumbnail.rgba[offset], thumbnail.rgba[offset + 1], thumbnail.rgba[offset + 2], thumbnail.rgba[offset + 3]};
}

TEST(PictureThumbnailMakerTest, TenBitMidGreyIsExact)
{
    const PictureThumbnail thumbnail = makePictureThumbnail(uniformFrame(64, 48, 10, 502, 512, 512), 3);
    EXPECT_EQ(thumbnail.pictureId, 7);
    EXPECT_EQ(thumbnail.displayIndex, 3U);
    EXPECT_EQ(thumbnail.width, 120);
    EXPECT_EQ(thumbnail.height, 68);
    ASSERT_EQ(thumbnail.rgba.size(), 32640U);
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{119, 67}, std::pair{60, 30}}) {
        EXPECT_EQ(pixelAt(thumbnail, x, y), (std::array<std::uint8_t, 4>{128, 128, 128, 255}));
    }
}

TEST(PictureThumbnailMakerTest, UnspecifiedMatrixFollowsTheFrameSize)
{
    // A saturated red-ish sample: its green channel tells BT.601 from BT.709.
    struct Case {
        std::int32_t width, height;
        ColourMatrix matrix;
        std::uint8_t green;
    };
    // Y=81, U=90, V=240 (limited 8-bit): G is 0 under BT.601 and 24 under BT.709 weights.
    const Case cases[] = {{1920, 1080, ColourMatrix::Unspecified, 24},
                          {720, 576, ColourMatrix::Unspecified, 0},
                          {720, 576, ColourMatrix::Bt709, 24},
                          {1920, 1080, ColourMatrix::Bt601, 0}};
    for (const Case& c : cases) {
        domain::VideoFrame frame = uniformFrame(c.width, c.height, 8, 81, 90, 240);
        frame.matrix = c.matrix;
        const PictureThumbnail thumbnail = makePictureThumbnail(frame, 0);
        ASSERT_FALSE(thumbnail.rgba.empty());
        EXPECT_EQ(pixelAt(thumbnail, 5, 5)[1], c.green) << c.width << "x" << c.height;
    }
}

TEST(PictureThumbnailMakerTest, SamplesOnANearestGrid)
{
    // Left half dark, right half bright: the column switch lies where x * width / 120 reaches 32.
    domain::VideoFrame frame = uniformFrame(64, 64, 8, 16, 128, 128);
    for (std::int32_t row = 0; row < 64; ++row) {
        for (std::int32_t column = 32; column < 64; ++column) {
            frame.planes[0].samples[static_cast<std::size_t>(row * 64 + column)] = 235;
        }
    }
    const PictureThumbnail thumbnail = makePictureThumbnail(frame, 0);
    EXPECT_EQ(pixelAt(thumbnail, 59, 10)[0], 0);
    EXPECT_EQ(pixelAt(thumbnail, 60, 10)[0], 255);
}

TEST(PictureThumbnailMakerTest, EightBitPicturesMatchTheExactColourAtEveryPixel)
{
    // Every sample differs from its neighbours, so a pixel read from the wrong place or
    // coloured by other weights shows; both ranges and every matrix, at an SD and an HD size.
    for (const auto& [width, height] : {std::pair{64, 64}, std::pair{1280, 720}}) {
        for (const ColourRange range : {ColourRange::Limited, ColourRange::Full}) {
            for (const ColourMatrix matrix :
                 {ColourMatrix::Unspecified, ColourMatrix::Bt601, ColourMatrix::Bt709, ColourMatrix::Bt2020}) {
                domain::VideoFrame frame = uniformFrame(width, height, 8, 0, 0, 0);
                frame.colourRange = range;
                frame.matrix = matrix;
                for (domain::VideoPlane& plane : frame.planes) {
                    for (std::size_t i = 0; i < plane.samples.size(); ++i) {
                        plane.samples[i] = static_cast<std::uint8_t>((i * 37U + plane.planeIndex * 91U) % 256U);
                    }
                }
                const PictureThumbnail thumbnail = makePictureThumbnail(frame, 0);
                ASSERT_EQ(thumbnail.rgba.size(), 32640U);
                const media::YuvToRgbParameters parameters = media::displayParametersFor(frame);
                int mismatches = 0;
                for (int y = 0; y < kPictureThumbnailHeight; ++y) {
                    for (int x = 0; x < kPictureThumbnailWidth; ++x) {
                        const int sx = x * width / kPictureThumbnailWidth;
                        const int sy = y * height / kPictureThumbnailHeight;
                        const auto rgb = media::yuvToRgbExact(media::readPlaneSample(frame.planes[0], sx, sy),
                                                              media::readPlaneSample(frame.planes[1], sx / 2, sy / 2),
                                                              media::readPlaneSample(frame.planes[2], sx / 2, sy / 2),
                                                              parameters);
                        const auto pixel = pixelAt(thumbnail, x, y);
                        mismatches += pixel != std::array<std::uint8_t, 4>{rgb[0], rgb[1], rgb[2], 255} ? 1 : 0;
                    }
                }
                EXPECT_EQ(mismatches, 0) << width << "x" << height << " range " << static_cast<int>(range)
                                         << " matrix " << static_cast<int>(matrix);
            }
        }
    }
}

TEST(PictureThumbnailMakerTest, UnreadableFramesGiveNoThumbnail)
{
    domain::VideoFrame twoPlanes = uniformFrame(16, 16, 8, 16, 128, 128);
    twoPlanes.planes.pop_back();
    domain::VideoFrame narrowStride = uniformFrame(16, 16, 8, 16, 128, 128);
    narrowStride.planes[1].stride = narrowStride.planes[1].width - 1;
    domain::VideoFrame shortBuffer = uniformFrame(16, 16, 8, 16, 128, 128);
    shortBuffer.planes[0].samples.resize(10);
    domain::VideoFrame missingV = uniformFrame(16, 16, 8, 16, 128, 128);
    missingV.planes[2].planeIndex = 1;
    domain::VideoFrame noPlanes;
    noPlanes.width = 16;
    noPlanes.height = 16;
    for (const domain::VideoFrame* frame : {&twoPlanes, &narrowStride, &shortBuffer, &missingV, &noPlanes}) {
        EXPECT_TRUE(makePictureThumbnail(*frame, 0).rgba.empty());
    }
}

TEST(PictureThumbnailMakerTest, PackedRgbaFramesAreSampledAsTheyAre)
{
    domain::VideoFrame frame;
    frame.width = 2;
    frame.height = 2;
    frame.pixelFormatName = domain::kPackedRgba8FormatName;
    frame.packedStride = 8;
    frame.packedData = {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0, 100, 110, 120, 0};
    const PictureThumbnail thumbnail = makePictureThumbnail(frame, 0);
    ASSERT_FALSE(thumbnail.rgba.empty());
    EXPECT_EQ(pixelAt(thumbnail, 0, 0), (std::array<std::uint8_t, 4>{10, 20, 30, 255}));
    EXPECT_EQ(pixelAt(thumbnail, 119, 67), (std::array<std::uint8_t, 4>{100, 110, 120, 255}));

    frame.packedData.resize(12);
    EXPECT_TRUE(makePictureThumbnail(frame, 0).rgba.empty()) << "a row beyond the buffer empties the result";
    frame.packedData.resize(16);
    frame.packedStride = 7;
    EXPECT_TRUE(makePictureThumbnail(frame, 0).rgba.empty());
}

}  // namespace
}  // namespace vexilo::application
