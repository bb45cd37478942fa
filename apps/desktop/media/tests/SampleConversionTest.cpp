#include "TestSupport.h"
#include "vexilo/media/SampleConversion.h"
#include "vexilo/media/YuvFrameConversion.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vexilo::media {
namespace {

using domain::ChromaFormat;
using domain::ColourMatrix;
using domain::ColourRange;
using Rgb = std::array<std::uint8_t, 3>;

TEST(ReadPlaneSample, ReadsLittleEndianWordsAndClampsCoordinatesIntoThePlane) {
    const domain::VideoPlane bytes = test::makePlane(0, 3, 2, 1, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(readPlaneSample(bytes, 1, 1), 5);
    EXPECT_EQ(readPlaneSample(bytes, -7, -1), 1);
    EXPECT_EQ(readPlaneSample(bytes, 99, 99), 6);
    EXPECT_EQ(readPlaneSample(bytes, 2, -3), 3);

    const domain::VideoPlane words = test::makePlane(1, 2, 1, 2, {0x0123, 0x03FF});
    EXPECT_EQ(readPlaneSample(words, 0, 0), 0x0123);
    EXPECT_EQ(readPlaneSample(words, 5, 0), 0x03FF);
}

TEST(ScaleSampleTo8Bits, RoundsToTheNearestGreyLevel) {
    struct Case {
        std::uint32_t sample;
        std::int32_t bitDepth;
        std::uint8_t grey;
    };
    const std::vector<Case> cases{{0, 8, 0},       {200, 8, 200},    {300, 8, 255},   {1023, 10, 255},
                                  {512, 10, 128},  {4, 10, 1},       {1, 10, 0},      {4095, 12, 255},
                                  {2048, 12, 128}, {65535, 16, 255}, {65535, 20, 255}, {70000, 16, 255}};
    for (const Case& c : cases) {
        EXPECT_EQ(scaleSampleTo8Bits(c.sample, c.bitDepth), c.grey) << c.sample << " at " << c.bitDepth << " bits";
    }
}

TEST(DisplayCoefficients, UnspecifiedMatrixFollowsThePictureSize) {
    struct Case {
        std::int32_t width;
        std::int32_t height;
        ColourMatrix matrix;
        YuvCoefficients expected;
    };
    const std::vector<Case> cases{
        {1920, 1080, ColourMatrix::Unspecified, kBt709Coefficients},
        {720, 576, ColourMatrix::Unspecified, kBt601Coefficients},
        {720, 577, ColourMatrix::Unspecified, kBt709Coefficients},
        {1280, 720, ColourMatrix::Unspecified, kBt709Coefficients},
        {1920, 1080, ColourMatrix::Bt601, kBt601Coefficients},
        {176, 144, ColourMatrix::Bt709, kBt709Coefficients},
        {176, 144, ColourMatrix::Bt2020, kBt2020Coefficients},
        {1920, 1080, static_cast<ColourMatrix>(9), kBt601Coefficients},
    };
    for (const Case& c : cases) {
        domain::VideoFrame frame;
        frame.width = c.width;
        frame.height = c.height;
        frame.matrix = c.matrix;
        EXPECT_EQ(displayCoefficientsFor(frame), c.expected) << c.width << "x" << c.height;
    }
}

TEST(YuvToRgbExact, MapsBlackWhiteAndPrimariesByRangeAndMatrix) {
    const YuvToRgbParameters limited8{8, false, kBt709Coefficients};
    EXPECT_EQ(yuvToRgbExact(16, 128, 128, limited8), (Rgb{0, 0, 0}));
    EXPECT_EQ(yuvToRgbExact(235, 128, 128, limited8), (Rgb{255, 255, 255}));
    EXPECT_EQ(yuvToRgbExact(0, 128, 128, limited8), (Rgb{0, 0, 0}));
    EXPECT_EQ(yuvToRgbExact(255, 128, 128, limited8), (Rgb{255, 255, 255}));

    const YuvToRgbParameters full10{10, true, kBt601Coefficients};
    EXPECT_EQ(yuvToRgbExact(1023, 512, 512, full10), (Rgb{255, 255, 255}));
    EXPECT_EQ(yuvToRgbExact(0, 512, 512, full10), (Rgb{0, 0, 0}));

    // The same limited-range red differs between the matrices.
    const Rgb red709 = yuvToRgbExact(63, 102, 240, limited8);
    const Rgb red601 = yuvToRgbExact(63, 102, 240, YuvToRgbParameters{8, false, kBt601Coefficients});
    EXPECT_NE(red709, red601);
    EXPECT_GT(red709[0], 240);
    EXPECT_LT(red709[1], 20);
}

// A 4:4:4 frame whose pixels are the given triples, row by row.
domain::VideoFrame tripleFrame(std::int32_t width, std::int32_t height, std::int32_t bitDepth,
                               const std::vector<std::array<std::uint32_t, 3>>& triples) {
    std::array<std::vector<std::uint32_t>, 3> values;
    for (const auto& triple : triples) {
        for (std::size_t plane = 0; plane < 3; ++plane) {
            values[plane].push_back(triple[plane]);
        }
    }
    domain::VideoFrame frame;
    frame.width = width;
    frame.height = height;
    frame.bitDepth = bitDepth;
    frame.chromaFormat = ChromaFormat::Yuv444;
    const std::int32_t bytes = bitDepth > 8 ? 2 : 1;
    for (std::uint8_t plane = 0; plane < 3; ++plane) {
        frame.planes.push_back(test::makePlane(plane, width, height, bytes, values[plane]));
    }
    return frame;
}

std::vector<std::uint8_t> convert(const domain::VideoFrame& frame, DisplayComponent component) {
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height) * 4);
    const std::optional<YuvPlaneSet> planes = findYuvPlanes(frame);
    EXPECT_TRUE(planes.has_value());
    convertYuvToRgba(frame, *planes, component, rgba.data(), static_cast<std::int64_t>(frame.width) * 4);
    return rgba;
}

// Every pixel of the table conversion against the double-precision definition.
void expectConversionMatchesExact(const domain::VideoFrame& frame, const std::string& label) {
    const std::vector<std::uint8_t> rgba = convert(frame, DisplayComponent::Colour);
    const YuvToRgbParameters parameters = displayParametersFor(frame);
    const YuvPlaneSet planes = *findYuvPlanes(frame);
    int mismatches = 0;
    for (std::int32_t y = 0; y < frame.height; ++y) {
        for (std::int32_t x = 0; x < frame.width; ++x) {
            const std::int32_t cx = static_cast<std::int32_t>(std::int64_t{x} * planes.u->width / frame.width);
            const std::int32_t cy = static_cast<std::int32_t>(std::int64_t{y} * planes.u->height / frame.height);
            const Rgb expected = yuvToRgbExact(readPlaneSample(*planes.y, x, y), readPlaneSample(*planes.u, cx, cy),
                                               readPlaneSample(*planes.v, cx, cy), parameters);
            const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width) +
                                    static_cast<std::size_t>(x)) * 4;
            const Rgb actual{rgba[at], rgba[at + 1], rgba[at + 2]};
            if ((actual != expected || rgba[at + 3] != 255) && ++mismatches <= 5) {
                ADD_FAILURE() << label << " pixel " << x << "," << y << ": " << int(actual[0]) << " " << int(actual[1])
                              << " " << int(actual[2]) << " != " << int(expected[0]) << " " << int(expected[1]) << " "
                              << int(expected[2]);
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << label;
}

struct ParameterCase {
    std::string name;
    std::int32_t bitDepth;
    ColourRange range;
    ColourMatrix matrix;
};

class ColourConversion : public ::testing::TestWithParam<ParameterCase> {};

TEST_P(ColourConversion, TablesReproduceTheDoublePrecisionColoursOnRandomSamples) {
    const ParameterCase& c = GetParam();
    std::mt19937 random(static_cast<std::uint32_t>(c.bitDepth * 31 + static_cast<int>(c.matrix)));
    // Samples beyond the bit depth occur in damaged frames; they clamp like the definition says.
    std::uniform_int_distribution<std::uint32_t> sample(0, c.bitDepth > 8 ? 65535U : 255U);
    std::uniform_int_distribution<std::uint32_t> inRange(0, (1U << c.bitDepth) - 1);
    std::vector<std::array<std::uint32_t, 3>> triples;
    for (int i = 0; i < 256 * 256; ++i) {
        auto& pick = i % 8 == 0 ? sample : inRange;
        triples.push_back({pick(random), pick(random), pick(random)});
    }
    domain::VideoFrame frame = tripleFrame(256, 256, c.bitDepth, triples);
    frame.colourRange = c.range;
    frame.matrix = c.matrix;
    expectConversionMatchesExact(frame, c.name);
}

INSTANTIATE_TEST_SUITE_P(
    RangesAndMatrices, ColourConversion,
    ::testing::Values(ParameterCase{"Limited8Bt601", 8, ColourRange::Limited, ColourMatrix::Bt601},
                      ParameterCase{"Full8Bt709", 8, ColourRange::Full, ColourMatrix::Bt709},
                      ParameterCase{"Limited10Bt709", 10, ColourRange::Limited, ColourMatrix::Bt709},
                      ParameterCase{"Full10Bt2020", 10, ColourRange::Full, ColourMatrix::Bt2020},
                      ParameterCase{"Unspecified12", 12, ColourRange::Unspecified, ColourMatrix::Unspecified},
                      ParameterCase{"Full16Bt601", 16, ColourRange::Full, ColourMatrix::Bt601}),
    test::CaseName{});

// Every 8-bit luma level with every chroma pair, limited range BT.709.
TEST(ColourConversionExhaustive, EveryEightBitTripleMatchesTheDefinition) {
    for (std::uint32_t luma = 0; luma < 256; luma += 5) {
        std::vector<std::array<std::uint32_t, 3>> triples;
        for (std::uint32_t v = 0; v < 256; ++v) {
            for (std::uint32_t u = 0; u < 256; ++u) {
                triples.push_back({luma, u, v});
            }
        }
        domain::VideoFrame frame = tripleFrame(256, 256, 8, triples);
        frame.matrix = ColourMatrix::Bt709;
        expectConversionMatchesExact(frame, "luma " + std::to_string(luma));
    }
}

// 10-bit limited Y = 210 is exactly 255 / 6 = 42.5 before rounding: the definition's own
// double arithmetic decides it, and the tables must agree.
TEST(ColourConversionExhaustive, ExactHalfwayValuesFollowTheDefinition) {
    std::vector<std::array<std::uint32_t, 3>> triples;
    for (std::uint32_t luma = 0; luma < 1024; ++luma) {
        triples.push_back({luma, 512, 512});
    }
    domain::VideoFrame frame = tripleFrame(1024, 1, 10, triples);
    frame.matrix = ColourMatrix::Bt601;
    expectConversionMatchesExact(frame, "10-bit neutral greys");
    frame.colourRange = ColourRange::Full;
    expectConversionMatchesExact(frame, "10-bit full-range neutral greys");
}

TEST(ColourConversion, OddWidthChromaIsReadInsideThePlane) {
    // 5 x 3 picture with 3 x 2 chroma: column x reads chroma (3x)/5, row y reads (2y)/3.
    domain::VideoFrame frame;
    frame.width = 5;
    frame.height = 3;
    frame.bitDepth = 8;
    frame.chromaFormat = ChromaFormat::Yuv420;
    frame.planes.push_back(test::makePlane(0, 5, 3, 1, std::vector<std::uint32_t>(15, 128)));
    frame.planes.push_back(test::makePlane(1, 3, 2, 1, {10, 20, 30, 40, 50, 60}));
    frame.planes.push_back(test::makePlane(2, 3, 2, 1, {110, 120, 130, 140, 150, 160}));
    const std::vector<std::uint8_t> u = convert(frame, DisplayComponent::U);
    const std::vector<std::uint8_t> v = convert(frame, DisplayComponent::V);
    const std::vector<std::uint8_t> expectedU{10, 10, 20, 20, 30, 10, 10, 20, 20, 30, 40, 40, 50, 50, 60};
    for (std::size_t pixel = 0; pixel < expectedU.size(); ++pixel) {
        EXPECT_EQ(u[pixel * 4], expectedU[pixel]) << "pixel " << pixel;
        EXPECT_EQ(v[pixel * 4], expectedU[pixel] + 100) << "pixel " << pixel;
        EXPECT_EQ(u[pixel * 4 + 3], 255);
    }
    expectConversionMatchesExact(frame, "odd 4:2:0");
}

TEST(ColourConversion, GreyComponentsScaleTheirOwnPlane) {
    domain::VideoFrame frame = tripleFrame(3, 1, 10, {{1023, 512, 0}, {512, 4, 1023}, {0, 1023, 512}});
    const std::vector<std::uint8_t> y = convert(frame, DisplayComponent::Y);
    const std::vector<std::uint8_t> u = convert(frame, DisplayComponent::U);
    const std::vector<std::uint8_t> v = convert(frame, DisplayComponent::V);
    EXPECT_EQ((std::vector<std::uint8_t>{y[0], y[4], y[8]}), (std::vector<std::uint8_t>{255, 128, 0}));
    EXPECT_EQ((std::vector<std::uint8_t>{u[0], u[4], u[8]}), (std::vector<std::uint8_t>{128, 1, 255}));
    EXPECT_EQ((std::vector<std::uint8_t>{v[0], v[4], v[8]}), (std::vector<std::uint8_t>{0, 255, 128}));
    EXPECT_EQ(y[1], y[0]);
    EXPECT_EQ(y[2], y[0]);
}

TEST(ColourConversion, PlanesSmallerThanThePictureRepeatTheirLastSamples) {
    domain::VideoFrame frame;
    frame.width = 4;
    frame.height = 2;
    frame.bitDepth = 8;
    frame.planes.push_back(test::makePlane(0, 2, 1, 1, {50, 60}));
    frame.planes.push_back(test::makePlane(2, 1, 1, 1, {128}));
    frame.planes.push_back(test::makePlane(1, 1, 1, 1, {128}));
    const std::vector<std::uint8_t> y = convert(frame, DisplayComponent::Y);
    EXPECT_EQ((std::vector<std::uint8_t>{y[0], y[4], y[8], y[12], y[16], y[28]}),
              (std::vector<std::uint8_t>{50, 60, 60, 60, 50, 60}));
}

TEST(FindYuvPlanes, TakesTheFirstPlaneOfEachIndexAndRefusesAMissingOne) {
    domain::VideoFrame frame = test::makeFlatFrame(4, 4, 8, ChromaFormat::Yuv420, 16, 128);
    frame.planes.push_back(test::makePlane(0, 1, 1, 1, {1}));
    const std::optional<YuvPlaneSet> planes = findYuvPlanes(frame);
    ASSERT_TRUE(planes.has_value());
    EXPECT_EQ(planes->y, &frame.planes[0]);
    EXPECT_EQ(planes->v, &frame.planes[2]);
    frame.planes[2].planeIndex = 0;
    EXPECT_FALSE(findYuvPlanes(frame).has_value());
}

}  // namespace
}  // namespace vexilo::media
