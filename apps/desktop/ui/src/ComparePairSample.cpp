#include "ComparePairSample.h"

#include <algorithm>

namespace vexilo {
namespace {

bool addRow(std::vector<int>& rows, int row, int rowCount)
{
    if (row < 0 || row >= rowCount || std::find(rows.begin(), rows.end(), row) != rows.end()) {
        return false;
    }
    rows.push_back(row);
    return true;
}

}  // namespace

std::vector<int> sampleComparePairRows(int rowCount, std::optional<int> currentRow,
                                       const std::vector<int>& measuredRows)
{
    std::vector<int> rows;
    if (currentRow) {
        addRow(rows, *currentRow, rowCount);
    }
    for (const int row : measuredRows) {
        if (rows.size() >= kMeasuredPairSampleLimit) {
            break;
        }
        addRow(rows, row, rowCount);
    }
    for (int row = 0; row < rowCount && rows.size() < kLeadingPairSampleLimit; ++row) {
        addRow(rows, row, rowCount);
    }
    return rows;
}

}  // namespace vexilo
