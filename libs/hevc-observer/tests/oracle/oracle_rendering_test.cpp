// The drawing primitives mark exactly the pixels libde265 marks, the grid reader inverts the
// grid drawing, and the comparison names the first difference.
#include "oracle/DocumentRendering.h"
#include "oracle/OracleDocument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>

namespace vexilo::hevc::oracle {
namespace {

using analysis::BlockRect;
using Pixels = std::set<std::pair<std::int64_t, std::int64_t>>;

BlockRect rect(std::int32_t x, std::int32_t y, std::uint32_t w, std::uint32_t h)
{
    return {x, y, w, h, analysis::kBlockRectUnitLumaSample};
}

Pixels drawnPixels(const Bitmap& bitmap)
{
    Pixels pixels;
    for (std::uint32_t y = 0; y < bitmap.height; ++y) {
        for (std::uint32_t x = 0; x < bitmap.width; ++x) {
            if (bitmap.at(x, y) != kBackground) {
                pixels.insert({x, y});
            }
        }
    }
    return pixels;
}

struct QpCase {
    int qp;
    std::uint32_t grey;
};

TEST(OracleRendering, QpGreySpreadsQp20To40OverTheGreyRange)
{
    for (const QpCase& c : std::initializer_list<QpCase>{
             {-6, 0}, {19, 0}, {20, 0}, {21, 12}, {27, 89}, {30, 127}, {39, 242}, {40, 255}, {51, 255}}) {
        EXPECT_EQ(draw::qpColour(c.qp), c.grey | c.grey << 8 | c.grey << 16) << "QP " << c.qp;
    }
    // Strictly inside the range every QP has a grey of its own.
    for (int qp = 21; qp < 40; ++qp) {
        EXPECT_EQ(qpFromGrey(draw::qpColour(qp)), qp);
    }
}

TEST(OracleRendering, PredictionModesBlendTheirColourIntoTheBackground)
{
    const std::initializer_list<std::pair<analysis::PredictionMode, std::uint32_t>> cases{
        {analysis::PredictionMode::Intra, 0x7F0000},
        {analysis::PredictionMode::Skip, 0x007F00},
        {analysis::PredictionMode::Inter, 0x00007F},
    };
    for (const auto& [mode, blended] : cases) {
        Bitmap bitmap(2, 2);
        draw::blend(bitmap, rect(0, 0, 2, 2), *draw::predictionModeColour(mode));
        EXPECT_EQ(bitmap.pixels, std::vector<std::uint32_t>(4, blended));
    }
    EXPECT_FALSE(draw::predictionModeColour(analysis::PredictionMode::Unknown));
}

TEST(OracleRendering, BlockEdgesAreTopRowAndLeftColumnClippedToThePicture)
{
    Bitmap bitmap(10, 6);
    draw::blockEdges(bitmap, rect(4, 2, 8, 8), 1);
    Pixels expected;
    for (std::int64_t x = 4; x < 10; ++x) {
        expected.insert({x, 2});
    }
    for (std::int64_t y = 2; y < 6; ++y) {
        expected.insert({4, y});
    }
    EXPECT_EQ(drawnPixels(bitmap), expected);
}

struct LineCase {
    std::int64_t dx;
    std::int64_t dy;
    Pixels pixels; // relative to the start (8, 8)
};

TEST(OracleRendering, MotionLinesStepForwardAlongTheLongerAxis)
{
    const std::vector<LineCase> cases{
        {0, 0, {{0, 0}}},
        {3, 0, {{0, 0}, {1, 0}, {2, 0}, {3, 0}}},
        {4, 2, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}},
        {2, -2, {{0, 0}, {1, -1}, {2, -2}}},
        {-1, 3, {{0, 0}, {0, 1}, {0, 2}, {-1, 3}}},
        // A longer axis pointing left or up draws nothing, as libde265's loop never runs.
        {0, -2, {}},
        {-3, 1, {}},
        {-2, 2, {}},
        {2, -3, {}},
    };
    for (const LineCase& c : cases) {
        Bitmap bitmap(17, 17);
        draw::line(bitmap, 8, 8, 8 + c.dx, 8 + c.dy, 1);
        Pixels expected;
        for (const auto& [x, y] : c.pixels) {
            expected.insert({8 + x, 8 + y});
        }
        EXPECT_EQ(drawnPixels(bitmap), expected) << c.dx << ", " << c.dy;
    }
}

TEST(OracleRendering, MotionStartsAtThePbCentreInItsListColour)
{
    Bitmap bitmap(16, 16);
    analysis::MotionVectorInfo vector;
    vector.list = analysis::ReferenceList::L1;
    vector.mvX = 2;
    vector.mvY = 0;
    draw::motion(bitmap, rect(0, 0, 8, 4), vector);
    EXPECT_EQ(drawnPixels(bitmap), (Pixels{{4, 2}, {5, 2}, {6, 2}}));
    EXPECT_EQ(bitmap.at(4, 2), draw::kMotionL1Colour);
}

struct GlyphCase {
    int mode;
    BlockRect pb;
    Pixels pixels;
};

TEST(OracleRendering, IntraGlyphsShowPlanarDcAndTheAngle)
{
    const std::vector<GlyphCase> cases{
        // Planar: a square ring of half the block's size around the centre.
        {0, rect(0, 0, 4, 4), {{1, 1}, {2, 1}, {3, 1}, {1, 2}, {3, 2}, {1, 3}, {2, 3}, {3, 3}}},
        // DC on a 4x4 block: the four neighbours of the centre.
        {1, rect(0, 0, 4, 4), {{2, 1}, {2, 3}, {1, 2}, {3, 2}}},
        // Pure horizontal (10) and vertical (26) prediction: a line along the direction.
        {10, rect(0, 0, 4, 4), {{0, 2}, {1, 2}, {2, 2}, {3, 2}}},
        {26, rect(0, 0, 4, 4), {{2, 0}, {2, 1}, {2, 2}, {2, 3}}},
        {26, rect(0, 0, 8, 4), {{4, 0}, {4, 1}, {4, 2}, {4, 3}}},
        // The 45-degree diagonals reach one sample past the block, 2 past its bottom edge
        // and 34 past its right edge, because each steps along its own axis; 18 runs the
        // other way.
        {2, rect(0, 0, 4, 4), {{0, 4}, {1, 3}, {2, 2}, {3, 1}}},
        {34, rect(0, 0, 4, 4), {{1, 3}, {2, 2}, {3, 1}, {4, 0}}},
        {18, rect(0, 0, 4, 4), {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
    };
    for (const GlyphCase& c : cases) {
        Bitmap bitmap(8, 8);
        draw::intraGlyph(bitmap, c.pb, c.mode, 1);
        EXPECT_EQ(drawnPixels(bitmap), c.pixels) << "mode " << c.mode;
    }
}

TEST(OracleRendering, GridReadsBackAsTheTilingThatDrewIt)
{
    const std::vector<std::vector<BlockRect>> tilings{
        {rect(0, 0, 16, 8)},
        {rect(0, 0, 8, 8), rect(8, 0, 8, 8), rect(0, 8, 16, 8)},
        // Asymmetric partitions and 4-sample blocks.
        {rect(0, 0, 4, 16), rect(4, 0, 12, 4), rect(4, 4, 4, 4), rect(8, 4, 8, 12), rect(4, 8, 4, 8)},
    };
    for (const auto& tiling : tilings) {
        const std::uint32_t height = tiling == tilings.front() ? 8 : 16;
        Bitmap grid(16, height);
        for (const BlockRect& block : tiling) {
            draw::blockEdges(grid, block, kCodingBlockGridColour);
        }
        auto expected = tiling;
        std::sort(expected.begin(), expected.end(),
                  [](const BlockRect& a, const BlockRect& b) { return std::pair(a.y, a.x) < std::pair(b.y, b.x); });
        EXPECT_EQ(blocksFromGrid(grid, kCodingBlockGridColour), expected);
    }
}

TEST(OracleRendering, FirstMismatchNamesPictureKindAndPosition)
{
    const std::vector<PictureBitmaps> expected(2, PictureBitmaps(8, 8));
    auto actual = expected;
    EXPECT_FALSE(firstMismatch(expected, actual));

    actual[1].of(BitmapKind::QpMap).set(3, 5, 7);
    actual[1].of(BitmapKind::Motion).set(0, 0, 7);
    const auto mismatch = firstMismatch(expected, actual);
    ASSERT_TRUE(mismatch);
    EXPECT_EQ(mismatch->picture, 1U);
    EXPECT_EQ(mismatch->kind, BitmapKind::QpMap);
    EXPECT_EQ(std::pair(mismatch->x, mismatch->y), std::pair(3U, 5U));
    EXPECT_EQ(describe(*mismatch), "picture 1 (output order): QP map differs at (3, 5): libde265 0x0, document 0x7");
    EXPECT_FALSE(firstMismatch(expected, actual, {BitmapKind::CodingBlockGrid}));

    actual.pop_back();
    EXPECT_EQ(firstMismatch(expected, actual)->note, "2 pictures expected, 1 rendered");
    EXPECT_EQ(firstMismatch(expected, {PictureBitmaps(8, 16), PictureBitmaps(8, 8)})->note,
              "coded size 8x8 expected, 8x16 rendered");
}

TEST(OracleRendering, DocumentPicturesRenderInDisplayOrderWithLeafBlocksOnly)
{
    analysis::StreamAnalysis document;
    for (const std::int64_t display : {1, 0}) {
        analysis::PictureAnalysisSummary picture;
        picture.id = {1, static_cast<std::uint64_t>(display + 1)};
        picture.displayIndex = display;
        document.pictures.push_back(picture);
        analysis::CtuInfo ctu;
        ctu.id = {2, static_cast<std::uint64_t>(display + 1)};
        ctu.parentPictureSummaryId = picture.id;
        ctu.bounds = rect(0, 0, 16, 8);
        document.ctus.push_back(ctu);
    }
    analysis::CuInfo root;
    root.id = {3, 1};
    root.parentCtuId = {2, 2}; // display index 1
    root.bounds = rect(0, 0, 16, 8);
    root.split = true;
    analysis::CuInfo leaf = root;
    leaf.id = {3, 2};
    leaf.bounds = rect(8, 0, 8, 8);
    leaf.split = false;
    leaf.qp = 30;
    document.cus = {root, leaf};

    const auto rendered = renderDocument(document);
    ASSERT_EQ(rendered.size(), 2U);
    EXPECT_TRUE(drawnPixels(rendered[0].of(BitmapKind::CodingBlockGrid)).empty());
    EXPECT_EQ(drawnPixels(rendered[1].of(BitmapKind::CodingBlockGrid)).size(), 15U);
    EXPECT_EQ(rendered[1].of(BitmapKind::QpMap).at(12, 4), draw::qpColour(30));
    EXPECT_EQ(rendered[1].of(BitmapKind::QpMap).at(4, 4), kBackground);
}

} // namespace
} // namespace vexilo::hevc::oracle
