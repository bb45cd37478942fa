#pragma once

#include <optional>
#include <vector>

namespace vexilo {

// The compare-pair rows that the AI evidence describes: the current row, then the rows of measured
// frames (in frame order, up to 16 rows in all), then the first rows of the table until 8 are listed.
// Rows outside [0, rowCount) and repeats are left out; a measured frame without a row is given as -1.
[[nodiscard]] std::vector<int> sampleComparePairRows(int rowCount, std::optional<int> currentRow,
                                                     const std::vector<int>& measuredRows);

inline constexpr std::size_t kMeasuredPairSampleLimit = 16;
inline constexpr std::size_t kLeadingPairSampleLimit = 8;

}  // namespace vexilo
