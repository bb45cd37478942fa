// A second, independent account of the QP map: x265's per-frame average QP from its CSV
// log agrees with the QPs libde265 draws for the same clip.
#include "oracle/De265Oracle.h"
#include "oracle/OracleDocument.h"
#include "oracle/X265CsvLog.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <vector>

namespace vexilo::hevc::oracle {
namespace {

// x265 logs the mean of its fractional adaptive QPs, not of the coded CU QPs; on this clip
// the coded ones average about half a step higher.
constexpr double kAverageQpTolerance = 1.0;

double averageDrawnQp(const Bitmap& qpMap)
{
    double sum = 0;
    for (const std::uint32_t pixel : qpMap.pixels) {
        sum += qpFromGrey(pixel).value_or(0);
    }
    return sum / static_cast<double>(qpMap.pixels.size());
}

TEST(X265CsvLog, ReadsAverageQpByPoc)
{
    const auto path = std::filesystem::path(::testing::TempDir()) / "x265_log.csv";
    {
        std::ofstream out(path);
        out << "Encode Order, Type, POC, QP, Bits\n0, I-SLICE,    0, 28.57,  17752\n1, P-SLICE,    4, 29.99, 10880\n";
    }
    const auto averages = readX265AverageQpByPoc(path);
    ASSERT_TRUE(averages);
    EXPECT_EQ(*averages, (std::map<std::int32_t, double>{{0, 28.57}, {4, 29.99}}));
    EXPECT_FALSE(readX265AverageQpByPoc(path.string() + ".missing"));
}

TEST(X265CsvLog, FrameAverageQpMatchesLibde265QpMap)
{
    const auto media = test::testMediaDir();
    const auto averages = readX265AverageQpByPoc(media / "oracle_csv_qp.csv");
    ASSERT_TRUE(averages) << "the test fixture writes oracle_csv_qp.csv";
    const OracleRun oracle = renderWithDe265(test::readFile(media / "oracle_csv_qp.hevc"));
    ASSERT_TRUE(oracle.error.empty()) << oracle.error;
    // One closed GOP from an IDR: the output index is the POC.
    ASSERT_EQ(oracle.pictures.size(), averages->size());
    std::vector<double> drawn;
    std::vector<double> logged;
    for (std::size_t poc = 0; poc < oracle.pictures.size(); ++poc) {
        drawn.push_back(averageDrawnQp(oracle.pictures[poc].of(BitmapKind::QpMap)));
        logged.push_back(averages->at(static_cast<std::int32_t>(poc)));
        EXPECT_NEAR(drawn.back(), logged.back(), kAverageQpTolerance) << "POC " << poc;
    }
    // Within the tolerance the frames must still rank alike at the extremes.
    EXPECT_EQ(std::max_element(drawn.begin(), drawn.end()) - drawn.begin(),
              std::max_element(logged.begin(), logged.end()) - logged.begin());
    EXPECT_EQ(std::min_element(drawn.begin(), drawn.end()) - drawn.begin(),
              std::min_element(logged.begin(), logged.end()) - logged.begin());
}

} // namespace
} // namespace vexilo::hevc::oracle
