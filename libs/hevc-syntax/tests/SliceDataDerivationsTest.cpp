// Variables the block parse derives on the way: intra modes (8.4.2, 8.4.3), QpY and the
// chroma QP table (8.6.1) and the scan orders (6.5.3 to 6.5.5).
#include "derivations/intra_pred_mode.h"
#include "derivations/qp.h"
#include "slice_data/scan_order.h"

#include <gtest/gtest.h>

#include <vector>

namespace vexilo::hevc {
namespace {

struct CandCase {
    std::uint32_t a;
    std::uint32_t b;
    std::array<std::uint32_t, 3> list;
};

class CandModeList : public ::testing::TestWithParam<CandCase> {};

TEST_P(CandModeList, FollowsTheMostProbableModeRules)
{
    const CandCase& c = GetParam();
    EXPECT_EQ(derivations::candModeList(c.a, c.b), c.list);
}

INSTANTIATE_TEST_SUITE_P(IntraModes, CandModeList,
                         ::testing::Values(CandCase{0, 0, {0, 1, 26}}, CandCase{1, 1, {0, 1, 26}},
                                           CandCase{10, 10, {10, 9, 11}}, CandCase{2, 2, {2, 33, 3}},
                                           CandCase{34, 34, {34, 33, 3}}, CandCase{0, 26, {0, 26, 1}},
                                           CandCase{1, 26, {1, 26, 0}}, CandCase{0, 1, {0, 1, 26}},
                                           CandCase{10, 26, {10, 26, 0}}));

TEST(IntraPredModeY, RemainingModeSkipsTheCandidatesInAscendingOrder)
{
    const std::array<std::uint32_t, 3> list{26, 0, 1}; // unsorted on purpose
    EXPECT_EQ(derivations::IntraPredModeY(list, false, 0, 0), 2U);
    EXPECT_EQ(derivations::IntraPredModeY(list, false, 0, 23), 25U);
    EXPECT_EQ(derivations::IntraPredModeY(list, false, 0, 31), 34U);
    EXPECT_EQ(derivations::IntraPredModeY(list, true, 2, 0), 1U);
}

struct ChromaCase {
    std::uint32_t intra_chroma_pred_mode;
    std::uint32_t intraPredModeY;
    std::uint32_t ChromaArrayType;
    std::uint32_t expected;
};

class IntraPredModeC : public ::testing::TestWithParam<ChromaCase> {};

TEST_P(IntraPredModeC, MapsThroughTables8_2And8_3)
{
    const ChromaCase& c = GetParam();
    EXPECT_EQ(derivations::IntraPredModeC(c.intra_chroma_pred_mode, c.intraPredModeY, c.ChromaArrayType), c.expected);
}

INSTANTIATE_TEST_SUITE_P(IntraModes, IntraPredModeC,
                         ::testing::Values(ChromaCase{4, 10, 1, 10}, ChromaCase{0, 0, 1, 34}, ChromaCase{1, 0, 1, 26},
                                           ChromaCase{2, 26, 1, 10}, ChromaCase{3, 1, 1, 34}, ChromaCase{0, 5, 3, 0},
                                           ChromaCase{4, 10, 2, 10}, ChromaCase{4, 6, 2, 3},
                                           ChromaCase{0, 0, 2, 31}, ChromaCase{4, 18, 2, 21},
                                           ChromaCase{1, 5, 2, 26}));

struct QpCase {
    std::int32_t qPY_PRED;
    std::int32_t CuQpDeltaVal;
    std::int32_t QpBdOffsetY;
    std::int32_t expected;
};

class QpY : public ::testing::TestWithParam<QpCase> {};

TEST_P(QpY, WrapsAroundTheRangeOfTheBitDepth)
{
    const QpCase& c = GetParam();
    EXPECT_EQ(derivations::QpY(c.qPY_PRED, c.CuQpDeltaVal, c.QpBdOffsetY), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Quantisation, QpY,
                         ::testing::Values(QpCase{26, 0, 0, 26}, QpCase{51, 1, 0, 0}, QpCase{0, -1, 0, 51},
                                           QpCase{-12, -1, 12, 51}, QpCase{51, 1, 12, -12}, QpCase{30, -26, 0, 4}));

TEST(ChromaQp, Table8_10OnlyFor420)
{
    const std::vector<std::pair<std::int32_t, std::int32_t>> table420{{29, 29}, {30, 29}, {34, 33}, {35, 33},
                                                                      {43, 37}, {44, 38}, {51, 45}, {-6, -6}};
    for (const auto& [qPi, qPc] : table420) {
        EXPECT_EQ(derivations::chromaQpFromIndex(qPi, 1), qPc) << qPi;
    }
    EXPECT_EQ(derivations::chromaQpFromIndex(40, 2), 40);
    EXPECT_EQ(derivations::chromaQpFromIndex(55, 3), 51);
}

struct ScanCase {
    std::uint32_t log2BlockSize;
    std::uint32_t scanIdx;
    std::vector<std::pair<int, int>> firstPositions;
};

class ScanOrder : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanOrder, StartsAsSpecified)
{
    const ScanCase& c = GetParam();
    const auto& scan = slice_data::scanOrder(c.log2BlockSize, c.scanIdx);
    for (std::size_t i = 0; i < c.firstPositions.size(); ++i) {
        EXPECT_EQ(scan[i].x, c.firstPositions[i].first) << i;
        EXPECT_EQ(scan[i].y, c.firstPositions[i].second) << i;
    }
    const std::uint32_t last = (1U << (2 * c.log2BlockSize)) - 1;
    const std::uint32_t corner = (1U << c.log2BlockSize) - 1;
    EXPECT_EQ(scan[last].x, corner);
    EXPECT_EQ(scan[last].y, corner);
}

TEST(ScanOrder, VisitsEveryPositionOnceWhereItsInverseSays)
{
    for (std::uint32_t log2BlockSize = 0; log2BlockSize < 4; ++log2BlockSize) {
        for (std::uint32_t scanIdx = 0; scanIdx < 3; ++scanIdx) {
            const auto& scan = slice_data::scanOrder(log2BlockSize, scanIdx);
            for (std::uint32_t sPos = 0; sPos < (1U << (2 * log2BlockSize)); ++sPos) {
                EXPECT_EQ(slice_data::scanPositionOf(log2BlockSize, scanIdx, scan[sPos].x, scan[sPos].y), sPos)
                    << "log2 " << log2BlockSize << " scan " << scanIdx;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Scans, ScanOrder,
                         ::testing::Values(ScanCase{2, 0, {{0, 0}, {0, 1}, {1, 0}, {0, 2}, {1, 1}, {2, 0}, {0, 3}}},
                                           ScanCase{1, 0, {{0, 0}, {0, 1}, {1, 0}, {1, 1}}},
                                           ScanCase{1, 1, {{0, 0}, {1, 0}, {0, 1}, {1, 1}}},
                                           ScanCase{2, 2, {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}}},
                                           ScanCase{3, 0, {{0, 0}, {0, 1}, {1, 0}, {0, 2}}},
                                           ScanCase{0, 0, {{0, 0}}}));

} // namespace
} // namespace vexilo::hevc
