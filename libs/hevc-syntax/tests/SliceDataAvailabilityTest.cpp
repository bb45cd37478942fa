// Neighbour availability of 6.4.1 and 6.4.2 across z-scan order, slices and tiles.
#include "slice_data/picture_block_state.h"

#include <gtest/gtest.h>

#include <numeric>

namespace vexilo::hevc::slice_data {
namespace {

// 128x64 luma samples in 32x32 CTBs (4x2), minimum transform blocks of 4x4; with
// `twoTileColumns` the CTB columns 0-1 and 2-3 are tiles of their own.
struct Picture {
    Sps sps;
    PictureLayout layout;
    PictureBlockState state;

    explicit Picture(bool twoTileColumns)
    {
        sps.pic_width_in_luma_samples = 128;
        sps.pic_height_in_luma_samples = 64;
        sps.CtbLog2SizeY = 5;
        sps.PicWidthInCtbsY = 4;
        sps.PicHeightInCtbsY = 2;
        sps.PicSizeInCtbsY = 8;
        sps.MinTbLog2SizeY = 2;
        if (twoTileColumns) {
            layout.colWidth = {2, 2};
            layout.colBd = {0, 2, 4};
            layout.CtbAddrRsToTs = {0, 1, 4, 5, 2, 3, 6, 7};
            layout.CtbAddrTsToRs = {0, 1, 4, 5, 2, 3, 6, 7};
            layout.TileId = {0, 0, 0, 0, 1, 1, 1, 1};
        } else {
            layout.colWidth = {4};
            layout.colBd = {0, 4};
            layout.CtbAddrRsToTs.resize(8);
            std::iota(layout.CtbAddrRsToTs.begin(), layout.CtbAddrRsToTs.end(), 0U);
            layout.CtbAddrTsToRs = layout.CtbAddrRsToTs;
            layout.TileId.assign(8, 0);
        }
        state.beginPicture(sps, layout);
    }
};

struct AvailabilityCase {
    const char* name;
    bool twoTileColumns;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ctbSlices; // CTB raster address, SliceAddrRs
    std::uint32_t xCurr;
    std::uint32_t yCurr;
    std::int64_t xNb;
    std::int64_t yNb;
    bool available;
};

class ZScanAvailability : public ::testing::TestWithParam<AvailabilityCase> {};

TEST_P(ZScanAvailability, FollowsDecodingOrderSlicesAndTiles)
{
    const AvailabilityCase& c = GetParam();
    Picture picture(c.twoTileColumns);
    for (const auto& [ctb, slice] : c.ctbSlices) {
        picture.state.setCtbSlice(ctb, slice);
    }
    EXPECT_EQ(picture.state.available(c.xCurr, c.yCurr, c.xNb, c.yNb), c.available);
}

INSTANTIATE_TEST_SUITE_P(
    Neighbours, ZScanAvailability,
    ::testing::Values(
        AvailabilityCase{"left_in_ctb", false, {{0, 0}}, 8, 8, 7, 8, true},
        AvailabilityCase{"upper_right_quadrant_precedes_lower_left", false, {{0, 0}}, 0, 16, 16, 15, true},
        AvailabilityCase{"lower_right_quadrant_follows_lower_left", false, {{0, 0}}, 0, 16, 16, 16, false},
        AvailabilityCase{"same_minimum_block", false, {{0, 0}}, 5, 5, 4, 4, true},
        AvailabilityCase{"in_ctb_no_slice_has_reached", false, {}, 8, 8, 7, 8, false},
        AvailabilityCase{"outside_picture", false, {{0, 0}}, 0, 0, -1, 0, false},
        AvailabilityCase{"left_ctb_same_slice", false, {{0, 0}, {1, 0}}, 32, 0, 31, 0, true},
        AvailabilityCase{"left_ctb_other_slice", false, {{0, 0}, {1, 1}}, 32, 0, 31, 0, false},
        AvailabilityCase{"above_right_ctb_decoded", false, {{0, 0}, {1, 0}, {4, 0}}, 0, 32, 32, 31, true},
        AvailabilityCase{"right_ctb_not_yet_decoded", false, {{0, 0}}, 31, 0, 32, 0, false},
        AvailabilityCase{"left_ctb_other_tile", true, {{0, 0}, {1, 0}, {4, 0}, {5, 0}, {2, 0}}, 64, 0, 63, 0, false},
        AvailabilityCase{"above_ctb_same_tile_later_in_raster", true, {{0, 0}, {1, 0}, {4, 0}, {5, 0}}, 32, 32, 32,
                         31, true}),
    [](const ::testing::TestParamInfo<AvailabilityCase>& param) { return std::string(param.param.name); });

TEST(PredictionBlockAvailability, ExcludesIntraNeighboursAndTheThirdPuOfNxN)
{
    Picture picture(false);
    picture.state.setCtbSlice(0, 0);
    // A 16x16 inter CU at (16, 0) in NxN; an intra CU at (0, 0).
    MinBlock intra;
    intra.intra = 1;
    picture.state.fillBlocks(0, 0, 16, 16, intra);
    PictureBlockState::PredictionBlock pb{16, 0, 16, 24, 0, 8, 8, 1};
    EXPECT_FALSE(picture.state.availablePb(pb, 23, 8)) << "lower left PU of the same CU";
    EXPECT_TRUE(picture.state.availablePb(pb, 23, 7)) << "first PU of the same CU";
    pb = {16, 0, 16, 16, 0, 16, 16, 0};
    EXPECT_FALSE(picture.state.availablePb(pb, 15, 0)) << "intra neighbour";
    picture.state.fillBlocks(0, 0, 16, 16, MinBlock{});
    EXPECT_TRUE(picture.state.availablePb(pb, 15, 0));
}

} // namespace
} // namespace vexilo::hevc::slice_data
