// Merge, AMVP and TMVP candidates (8.5.3.2.2 to 8.5.3.2.9) on small hand-built
// neighbourhoods: one 64x64 CTB whose blocks left of and above the current prediction block
// carry chosen motion, reference lists of a B slice at POC 12, and a collocated picture.
#include "derivations/reference_motion.h"
#include "slice_data/block_sink.h"
#include "slice_data/picture_block_state.h"

#include <gtest/gtest.h>

#include <numeric>

namespace vexilo::hevc::derivations {

void PrintTo(const MvField& field, std::ostream* out)
{
    for (unsigned X = 0; X < 2; ++X) {
        *out << "L" << X << "[" << int{field.refIdxLX[X]} << "](" << field.mvLX[X].x << "," << field.mvLX[X].y << ") ";
    }
}

void PrintTo(const Mv& mv, std::ostream* out)
{
    *out << "(" << mv.x << "," << mv.y << ")";
}

namespace {

using slice_data::PartMode;

MvField uniL0(std::int32_t x, std::int32_t y, std::int8_t refIdx = 0)
{
    MvField field;
    field.mvLX[0] = {x, y};
    field.refIdxLX[0] = refIdx;
    return field;
}

MvField uniL1(std::int32_t x, std::int32_t y, std::int8_t refIdx = 0)
{
    MvField field;
    field.mvLX[1] = {x, y};
    field.refIdxLX[1] = refIdx;
    return field;
}

MvField bi(Mv l0, std::int8_t refIdxL0, Mv l1, std::int8_t refIdxL1)
{
    MvField field;
    field.mvLX = {l0, l1};
    field.refIdxLX = {refIdxL0, refIdxL1};
    return field;
}

// The whole list, or its first `needed` entries, as a vector that the expectations compare.
std::vector<MvField> candidates(const SliceMotionContext& slice, const slice_data::PictureBlockState& state,
                                const PredictionBlockPosition& pb, std::uint32_t needed = MergeCandidates::kCapacity)
{
    const MergeCandidates list = mergeCandList(slice, state, pb, needed);
    return {list.begin(), list.end()};
}

// The neighbour positions of a 16x16 prediction block at (32, 32): all five are decoded
// before it in z-scan order.
constexpr std::uint32_t kPb = 32;
struct Place {
    std::uint32_t x;
    std::uint32_t y;
};
constexpr Place A0{24, 48};
constexpr Place A1{24, 40};
constexpr Place B0{48, 24};
constexpr Place B1{40, 24};
constexpr Place B2{24, 24};

struct Neighbourhood {
    Sps sps;
    PictureLayout layout;
    slice_data::PictureBlockState state;
    RefPicLists lists;
    SliceMotionContext slice;

    Neighbourhood()
    {
        sps.pic_width_in_luma_samples = 128;
        sps.pic_height_in_luma_samples = 128;
        sps.CtbLog2SizeY = 6;
        sps.PicWidthInCtbsY = 2;
        sps.PicHeightInCtbsY = 2;
        sps.PicSizeInCtbsY = 4;
        sps.MinTbLog2SizeY = 2;
        layout.colWidth = {2};
        layout.colBd = {0, 2};
        layout.CtbAddrRsToTs = {0, 1, 2, 3};
        layout.CtbAddrTsToRs = layout.CtbAddrRsToTs;
        layout.TileId.assign(4, 0);
        state.beginPicture(sps, layout);
        for (std::uint32_t ctb = 0; ctb < 4; ++ctb) {
            state.setCtbSlice(ctb, 0);
        }
        // Nothing is inter until a test says so.
        slice_data::MinBlock intra;
        intra.intra = 1;
        state.fillBlocks(0, 0, 128, 128, intra);
        // L0: POC 8, POC 4; L1: POC 16, POC 8.
        lists[0] = {ReferencePicture{8, false, nullptr}, ReferencePicture{4, false, nullptr}};
        lists[1] = {ReferencePicture{16, false, nullptr}, ReferencePicture{8, false, nullptr}};
        slice.PicOrderCntVal = 12;
        slice.isB = true;
        slice.MaxNumMergeCand = 5;
        slice.Log2ParMrgLevel = 2;
        slice.num_ref_idx_active = {2, 2};
        slice.RefPicList = &lists;
        slice.CtbLog2SizeY = 6;
        slice.pic_width_in_luma_samples = 128;
        slice.pic_height_in_luma_samples = 128;
    }

    // An 8x8 inter block with `motion` at `place`.
    void put(Place place, const MvField& motion)
    {
        state.fillBlocks(place.x, place.y, 8, 8, slice_data::MinBlock{});
        CollocatedBlock block;
        block.motion = motion;
        state.storeMotion(place.x, place.y, 8, 8, block);
    }

    [[nodiscard]] static PredictionBlockPosition pb16(PartMode partMode = PartMode::PART_2Nx2N)
    {
        PredictionBlockPosition pb;
        pb.xCb = pb.xPb = kPb;
        pb.yCb = pb.yPb = kPb;
        pb.nCbS = pb.nPbW = pb.nPbH = 16;
        pb.PartMode = static_cast<std::uint8_t>(partMode);
        return pb;
    }
};

MvField zero(std::int8_t refIdx)
{
    return bi({}, refIdx, {}, refIdx);
}

// ---------------------------------------------------------------------------------------

struct MergeCase {
    const char* name;
    std::vector<std::pair<Place, MvField>> neighbours;
    std::uint32_t Log2ParMrgLevel;
    std::vector<MvField> expected;
};

class MergeCandidateList : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeCandidateList, FollowsSpatialPruningCombinedAndZeroCandidates)
{
    const MergeCase& c = GetParam();
    Neighbourhood n;
    n.slice.Log2ParMrgLevel = c.Log2ParMrgLevel;
    for (const auto& [place, motion] : c.neighbours) {
        n.put(place, motion);
    }
    EXPECT_EQ(candidates(n.slice, n.state, Neighbourhood::pb16()), c.expected);
    // A list built only as far as merge_idx needs agrees with the whole list up to there.
    for (std::uint32_t needed = 1; needed < c.expected.size(); ++needed) {
        const std::vector<MvField> prefix(c.expected.begin(), c.expected.begin() + needed);
        EXPECT_EQ(candidates(n.slice, n.state, Neighbourhood::pb16(), needed), prefix) << needed << " needed";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Merge, MergeCandidateList,
    ::testing::Values(
        MergeCase{"order_A1_B1_B0_A0_and_B2_left_out_after_four",
                  {{A0, uniL0(1, 0)}, {A1, uniL0(2, 0)}, {B0, uniL0(3, 0)}, {B1, uniL0(4, 0)}, {B2, uniL0(5, 0)}},
                  2,
                  {uniL0(2, 0), uniL0(4, 0), uniL0(3, 0), uniL0(1, 0), zero(0)}},
        MergeCase{"B1_equal_to_A1_is_pruned_and_B2_fills_in",
                  {{A0, uniL0(1, 0)}, {A1, uniL0(2, 0)}, {B0, uniL0(3, 0)}, {B1, uniL0(2, 0)}, {B2, uniL0(5, 0)}},
                  2,
                  {uniL0(2, 0), uniL0(3, 0), uniL0(1, 0), uniL0(5, 0), zero(0)}},
        MergeCase{"B0_is_compared_with_B1_only",
                  {{A1, uniL0(2, 0)}, {B0, uniL0(2, 0)}, {B1, uniL0(4, 0)}},
                  2,
                  {uniL0(2, 0), uniL0(4, 0), uniL0(2, 0), zero(0), zero(1)}},
        MergeCase{"same_vector_other_reference_is_not_pruned",
                  {{A1, uniL0(2, 0, 0)}, {B1, uniL0(2, 0, 1)}},
                  2,
                  {uniL0(2, 0, 0), uniL0(2, 0, 1), zero(0), zero(1), zero(0)}},
        MergeCase{"neighbours_inside_the_merge_estimation_region_are_unavailable",
                  {{A1, uniL0(2, 0)}, {B1, uniL0(4, 0)}},
                  6,
                  {zero(0), zero(1), zero(0), zero(0), zero(0)}},
        MergeCase{"combined_bi_predictive_from_L0_and_L1_halves",
                  {{A1, uniL0(2, 0)}, {B1, uniL1(7, 1)}},
                  2,
                  {uniL0(2, 0), uniL1(7, 1), bi({2, 0}, 0, {7, 1}, 0), zero(0), zero(1)}},
        MergeCase{"no_combination_of_identical_motion_towards_one_picture",
                  // L0[0] and L1[1] are both POC 8: the combination would repeat a uni-prediction.
                  {{A1, uniL0(2, 0, 0)}, {B1, uniL1(2, 0, 1)}},
                  2,
                  {uniL0(2, 0, 0), uniL1(2, 0, 1), zero(0), zero(1), zero(0)}}),
    [](const ::testing::TestParamInfo<MergeCase>& param) { return std::string(param.param.name); });

TEST(MergeCandidateList, SecondPartitionDoesNotMergeWithTheFirst)
{
    const MvField first = uniL0(9, 9);
    // Nx2N: the right 8x16 half at (40, 32); its A1 is the left half.
    Neighbourhood vertical;
    vertical.put(A1, uniL0(2, 0));
    vertical.put(B1, uniL0(4, 0));
    vertical.put({32, 32}, first);
    vertical.put({32, 40}, first);
    PredictionBlockPosition right = Neighbourhood::pb16(PartMode::PART_Nx2N);
    right.xPb = 40;
    right.nPbW = 8;
    right.partIdx = 1;
    for (const MvField& candidate : candidates(vertical.slice, vertical.state, right)) {
        EXPECT_NE(candidate, first) << "A1 of the second Nx2N partition";
    }
    // 2NxN: the lower 16x8 half at (32, 40); its B1 is the upper half.
    Neighbourhood horizontal;
    horizontal.put(A1, uniL0(2, 0));
    horizontal.put({32, 32}, first);
    horizontal.put({40, 32}, first);
    PredictionBlockPosition lower = Neighbourhood::pb16(PartMode::PART_2NxN);
    lower.yPb = 40;
    lower.nPbH = 8;
    lower.partIdx = 1;
    const std::vector<MvField> list = candidates(horizontal.slice, horizontal.state, lower);
    EXPECT_EQ(list[0], uniL0(2, 0));
    for (const MvField& candidate : list) {
        EXPECT_NE(candidate, first) << "B1 of the second 2NxN partition";
    }
    // The same block as the first of a 2Nx2N-less split would take it.
    lower.PartMode = static_cast<std::uint8_t>(PartMode::PART_NxN);
    lower.partIdx = 2;
    lower.nPbW = 8;
    EXPECT_EQ(candidates(horizontal.slice, horizontal.state, lower)[1], first);
}

TEST(MergeCandidateList, EightByEightCodingUnitsShareOneListAboveTheSmallestLevel)
{
    Neighbourhood n;
    n.put({24, 32}, uniL0(2, 0)); // left of the 8x8 CU at (32, 32)
    n.put({32, 24}, uniL0(4, 0)); // above it
    PredictionBlockPosition first;
    first.xCb = first.xPb = 32;
    first.yCb = first.yPb = 32;
    first.nCbS = 8;
    first.nPbW = 4;
    first.nPbH = 8;
    first.PartMode = static_cast<std::uint8_t>(PartMode::PART_Nx2N);
    PredictionBlockPosition second = first;
    second.xPb = 36;
    second.partIdx = 1;
    n.slice.Log2ParMrgLevel = 3;
    EXPECT_EQ(candidates(n.slice, n.state, first), candidates(n.slice, n.state, second));
    n.slice.Log2ParMrgLevel = 2;
    EXPECT_NE(candidates(n.slice, n.state, first), candidates(n.slice, n.state, second));
}

TEST(MergeCandidateList, PSliceZeroCandidatesUseL0Only)
{
    Neighbourhood n;
    n.slice.isB = false;
    n.slice.num_ref_idx_active = {3, 0};
    n.slice.MaxNumMergeCand = 4;
    const std::vector<MvField> expected{uniL0(0, 0, 0), uniL0(0, 0, 1), uniL0(0, 0, 2), uniL0(0, 0, 0)};
    EXPECT_EQ(candidates(n.slice, n.state, Neighbourhood::pb16()), expected);
}

struct RestrictionCase {
    std::uint32_t nPbW;
    std::uint32_t nPbH;
    MvField motion;
    bool restricted;
};

class BiPredictionRestriction : public ::testing::TestWithParam<RestrictionCase> {};

TEST_P(BiPredictionRestriction, DropsL1OfBiPredicted8x4And4x8)
{
    const RestrictionCase& c = GetParam();
    MvField motion = c.motion;
    EXPECT_EQ(restrictBiPrediction(motion, c.nPbW, c.nPbH), c.restricted);
    MvField expected = c.motion;
    if (c.restricted) {
        expected.refIdxLX[1] = -1;
        expected.mvLX[1] = {};
    }
    EXPECT_EQ(motion, expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BiPredictionRestriction,
                         ::testing::Values(RestrictionCase{8, 4, bi({1, 2}, 0, {3, 4}, 1), true},
                                           RestrictionCase{4, 8, bi({1, 2}, 1, {3, 4}, 0), true},
                                           RestrictionCase{8, 8, bi({1, 2}, 0, {3, 4}, 1), false},
                                           RestrictionCase{16, 4, bi({1, 2}, 0, {3, 4}, 1), false},
                                           RestrictionCase{8, 4, uniL1(3, 4), false}));

// ---------------------------------------------------------------------------------------

struct ScaleCase {
    Mv mv;
    std::int32_t td;
    std::int32_t tb;
    Mv expected;
};

class MvScaling : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(MvScaling, ScalesByPocDistanceWithRoundingAndClipping)
{
    const ScaleCase& c = GetParam();
    EXPECT_EQ(scaleMv(c.mv, c.td, c.tb), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Distances, MvScaling,
                         ::testing::Values(ScaleCase{{64, -32}, 8, 4, {32, -16}},   // half the distance
                                           ScaleCase{{5, -5}, 1, 2, {10, -10}},      // twice
                                           ScaleCase{{3, -3}, 4, 1, {1, -1}},        // rounds half away from zero
                                           ScaleCase{{100, 0}, -4, 4, {-100, 0}},    // other direction
                                           ScaleCase{{30000, 0}, 1, 32, {32767, 0}}, // vector clipped
                                           ScaleCase{{256, 0}, 1, 100, {4095, 0}},   // factor clipped
                                           ScaleCase{{256, 0}, 300, 64, {129, 0}})); // td clipped to 127

struct MvdCase {
    Mv mvp;
    Mv mvd;
    Mv expected;
};

class MvdAddition : public ::testing::TestWithParam<MvdCase> {};

TEST_P(MvdAddition, WrapsToSixteenBits)
{
    EXPECT_EQ(addMvd(GetParam().mvp, GetParam().mvd), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Sums, MvdAddition,
                         ::testing::Values(MvdCase{{3, -4}, {10, 10}, {13, 6}},
                                           MvdCase{{32767, 0}, {1, 0}, {-32768, 0}},
                                           MvdCase{{0, -32768}, {0, -1}, {0, 32767}},
                                           MvdCase{{-20000, 20000}, {-20000, 20000}, {25536, -25536}}));

// ---------------------------------------------------------------------------------------

struct AmvpCase {
    const char* name;
    std::vector<std::pair<Place, MvField>> neighbours;
    std::vector<std::uint32_t> longTermL0; // indices of L0 marked long-term
    unsigned X;
    std::int32_t refIdxLX;
    std::array<Mv, 2> expected;
};

class AmvpCandidateList : public ::testing::TestWithParam<AmvpCase> {};

TEST_P(AmvpCandidateList, PicksSpatialCandidatesInOrderWithScaling)
{
    const AmvpCase& c = GetParam();
    Neighbourhood n;
    for (const std::uint32_t index : c.longTermL0) {
        n.lists[0][index].longTerm = true;
    }
    for (const auto& [place, motion] : c.neighbours) {
        n.put(place, motion);
    }
    EXPECT_EQ(mvpListLX(n.slice, n.state, Neighbourhood::pb16(), c.X, c.refIdxLX), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Amvp, AmvpCandidateList,
    ::testing::Values(
        AmvpCase{"A0_before_A1_and_B0_before_B1", {{A0, uniL0(1, 0)}, {A1, uniL0(2, 0)}, {B0, uniL0(3, 0)}, {B1, uniL0(4, 0)}},
                 {}, 0, 0, {Mv{1, 0}, Mv{3, 0}}},
        AmvpCase{"same_picture_through_the_other_list", {{A1, uniL1(6, 6, 1)}, {B1, uniL1(7, 7, 0)}},
                 // L1[1] is POC 8 like L0[0]; L1[0] (POC 16) only with scaling, which B never needs
                 // while A is available.
                 {}, 0, 0, {Mv{6, 6}, Mv{}}},
        AmvpCase{"A_scaled_to_the_wanted_distance", {{A1, uniL0(64, -32, 1)}},
                 // POC 4 at distance 8 scaled to POC 8 at distance 4.
                 {}, 0, 0, {Mv{32, -16}, Mv{}}},
        AmvpCase{"without_left_neighbours_B_stands_in_for_A_and_B_is_scaled",
                 {{B0, uniL0(64, 0, 1)}, {B1, uniL0(3, 0, 0)}},
                 // A takes B1 unscaled; B is then B0 scaled (POC 4 -> POC 8).
                 {}, 0, 0, {Mv{3, 0}, Mv{32, 0}}},
        AmvpCase{"with_left_neighbours_B_is_not_scaled", {{A1, uniL0(64, 0, 1)}, {B1, uniL0(64, 0, 1)}},
                 {}, 0, 0, {Mv{32, 0}, Mv{}}},
        AmvpCase{"equal_candidates_collapse", {{A1, uniL0(5, 5)}, {B1, uniL0(5, 5)}}, {}, 0, 0, {Mv{5, 5}, Mv{}}},
        AmvpCase{"long_term_reference_is_neither_matched_to_short_term_nor_scaled",
                 {{A1, uniL0(64, 0, 1)}, {B1, uniL0(40, 0, 1)}},
                 {1}, 0, 0, {Mv{}, Mv{}}},
        AmvpCase{"long_term_to_long_term_unscaled", {{A1, uniL0(64, 0, 1)}}, {0, 1}, 0, 0, {Mv{64, 0}, Mv{}}}),
    [](const ::testing::TestParamInfo<AmvpCase>& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------------------

struct TemporalCase {
    const char* name;
    std::uint32_t yPb;                    // of a 16x16 block at x 32
    std::vector<std::pair<Place, CollocatedBlock>> colBlocks; // 16x16 blocks of ColPic
    bool collocated_from_l0_flag;
    bool targetLongTerm;
    unsigned X;
    TemporalCandidate expected;
};

CollocatedBlock colMotion(const MvField& motion, std::array<std::int32_t, 2> refPoc,
                          std::array<bool, 2> longTerm = {false, false})
{
    return {motion, refPoc, longTerm};
}

class TemporalMvPrediction : public ::testing::TestWithParam<TemporalCase> {};

TEST_P(TemporalMvPrediction, TakesBottomRightThenCentreOfTheCompressedField)
{
    const TemporalCase& c = GetParam();
    Neighbourhood n;
    auto field = std::make_shared<CollocatedMotionField>(128, 128);
    for (const auto& [place, block] : c.colBlocks) {
        field->store(place.x, place.y, 16, 16, block);
    }
    // ColPic is POC 16: L1[0] without collocated_from_l0_flag; L0[1] (made POC 16) with it.
    n.lists[1][0].motion = field;
    n.lists[0][1] = ReferencePicture{16, false, field};
    n.lists[0][0].longTerm = c.targetLongTerm;
    n.slice.slice_temporal_mvp_enabled_flag = true;
    n.slice.collocated_from_l0_flag = c.collocated_from_l0_flag;
    n.slice.collocated_ref_idx = c.collocated_from_l0_flag ? 1 : 0;
    PredictionBlockPosition pb = Neighbourhood::pb16();
    pb.yCb = pb.yPb = c.yPb;
    const TemporalCandidate found = temporalMvLX(n.slice, pb, c.X, 0);
    EXPECT_EQ(found.availableFlagLXCol, c.expected.availableFlagLXCol);
    EXPECT_EQ(found.mvLXCol, c.expected.mvLXCol);
}

INSTANTIATE_TEST_SUITE_P(
    Tmvp, TemporalMvPrediction,
    ::testing::Values(
        // Target L0[0] is POC 8 at distance 4; ColPic POC 16 pointing at POC 8 has distance 8.
        TemporalCase{"bottom_right_scaled", 32, {{{48, 48}, colMotion(uniL0(64, 32), {8, 0})}}, false, false, 0,
                     {true, {32, 16}}},
        TemporalCase{"centre_when_bottom_right_is_intra", 32,
                     {{{32, 32}, colMotion(uniL0(-16, 8), {8, 0})}}, false, false, 0, {true, {-8, 4}}},
        TemporalCase{"centre_when_bottom_right_is_in_the_next_ctb_row", 48,
                     {{{48, 64}, colMotion(uniL0(64, 32), {8, 0})}, {{32, 48}, colMotion(uniL0(8, 8), {8, 0})}},
                     false, false, 0, {true, {4, 4}}},
        TemporalCase{"same_distance_is_not_scaled", 32, {{{48, 48}, colMotion(uniL0(7, 7), {20, 0})}}, false, false, 1,
                     // Target L1[0] is POC 16 at distance -4; ColPic to POC 20 is -4 as well.
                     {true, {7, 7}}},
        TemporalCase{"long_term_mismatch_is_unavailable", 32,
                     {{{48, 48}, colMotion(uniL0(64, 32), {8, 0}, {true, false})}}, false, false, 0, {false, {}}},
        TemporalCase{"long_term_target_takes_the_vector_unscaled", 32,
                     {{{48, 48}, colMotion(uniL0(64, 32), {8, 0}, {true, false})}}, false, true, 0, {true, {64, 32}}},
        TemporalCase{"bi_predicted_col_with_backward_references_uses_list_N", 32,
                     {{{48, 48}, colMotion(bi({64, 0}, 0, {0, 64}, 0), {8, 24})}}, true, false, 0,
                     // collocated_from_l0_flag 1: N = 1, so the L1 vector (towards POC 24, distance -8).
                     {true, {0, -32}}},
        TemporalCase{"unused_list_of_col_is_skipped", 32, {{{48, 48}, colMotion(uniL1(16, 0), {0, 8})}}, false, false, 0,
                     {true, {8, 0}}}),
    [](const ::testing::TestParamInfo<TemporalCase>& param) { return std::string(param.param.name); });

TEST(TemporalMvPrediction, NothingWithoutSliceTemporalMvpOrCollocatedMotion)
{
    Neighbourhood n;
    auto field = std::make_shared<CollocatedMotionField>(128, 128);
    field->store(32, 32, 32, 32, colMotion(uniL0(4, 4), {8, 0}));
    n.lists[1][0].motion = field;
    n.slice.collocated_from_l0_flag = false;
    EXPECT_FALSE(temporalMvLX(n.slice, Neighbourhood::pb16(), 0, 0).availableFlagLXCol);
    n.slice.slice_temporal_mvp_enabled_flag = true;
    EXPECT_TRUE(temporalMvLX(n.slice, Neighbourhood::pb16(), 0, 0).availableFlagLXCol);
    n.lists[1][0].motion = nullptr; // a generated picture
    EXPECT_FALSE(temporalMvLX(n.slice, Neighbourhood::pb16(), 0, 0).availableFlagLXCol);
}

TEST(CollocatedMotionField, KeepsTheTopLeftMotionOfEach16x16Block)
{
    CollocatedMotionField field(64, 32);
    field.store(0, 0, 8, 8, colMotion(uniL0(1, 1), {0, 0}));
    field.store(8, 0, 8, 8, colMotion(uniL0(2, 2), {0, 0}));   // no grid point: not kept
    field.store(16, 0, 48, 32, colMotion(uniL0(3, 3), {0, 0})); // six grid points
    EXPECT_EQ(field.at(15, 15)->motion, uniL0(1, 1));
    EXPECT_EQ(field.at(63, 31)->motion, uniL0(3, 3));
    EXPECT_EQ(field.at(0, 16)->motion, MvField{});
    EXPECT_EQ(field.at(64, 0), nullptr);
}

// ---------------------------------------------------------------------------------------

TEST(ReferenceMotionStore, KeepsMotionWhilePicturesAreInTheDpb)
{
    ReferenceMotionStore store;
    std::array<DpbPicture, kDpbSlots> dpb{};
    auto motionOf = [](std::int32_t mvx) {
        auto field = std::make_shared<CollocatedMotionField>(16, 16);
        field->store(0, 0, 16, 16, colMotion(uniL0(mvx, 0), {0, 0}));
        return field;
    };
    for (std::uint64_t identity = 1; identity <= 3; ++identity) {
        store.keep(identity, motionOf(static_cast<std::int32_t>(identity)));
    }
    dpb[0] = DpbPicture{true, 1, 0, ReferenceMarking::ShortTerm};
    dpb[5] = DpbPicture{true, 3, 8, ReferenceMarking::LongTerm};
    dpb[6] = DpbPicture{true, 0, 4, ReferenceMarking::ShortTerm, false, 0, true}; // generated
    store.retainDpbPictures(dpb);
    EXPECT_EQ(store.size(), 2U);
    EXPECT_EQ(store.find(2), nullptr);

    SliceReferenceLists lists;
    lists.lists[0] = {ReferenceTarget{5, 8, true}, ReferenceTarget{6, 4, false, true}, ReferenceTarget{std::nullopt, 2}};
    lists.lists[1] = {ReferenceTarget{0, 0}};
    const RefPicLists refPicLists = store.refPicLists(lists, dpb);
    ASSERT_EQ(refPicLists[0].size(), 3U);
    EXPECT_EQ(refPicLists[0][0].poc, 8);
    EXPECT_TRUE(refPicLists[0][0].longTerm);
    ASSERT_NE(refPicLists[0][0].motion, nullptr);
    EXPECT_EQ(refPicLists[0][0].motion->at(0, 0)->motion, uniL0(3, 0));
    EXPECT_EQ(refPicLists[0][1].motion, nullptr) << "generated picture";
    EXPECT_EQ(refPicLists[0][2].motion, nullptr) << "no picture";
    ASSERT_EQ(refPicLists[1].size(), 1U);
    EXPECT_EQ(refPicLists[1][0].motion->at(8, 8)->motion, uniL0(1, 0));
}

} // namespace
} // namespace vexilo::hevc::derivations
