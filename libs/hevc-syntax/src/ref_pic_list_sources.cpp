#include "ref_pic_list_sources.h"

#include <algorithm>

namespace vexilo::hevc {

std::vector<RefPicListSource> composeRefPicList(unsigned listX, const RefPicListInputs& inputs)
{
    const std::uint32_t total = inputs.NumPicTotalCurr();
    if (total == 0 || inputs.num_ref_idx_active == 0) {
        return {};
    }
    const std::uint32_t NumRpsCurrTempList = std::max(inputs.num_ref_idx_active, total);
    std::vector<RefPicListSource> temp;
    temp.reserve(NumRpsCurrTempList);
    const RpsSubset first = listX == 0 ? RpsSubset::StCurrBefore : RpsSubset::StCurrAfter;
    const RpsSubset second = listX == 0 ? RpsSubset::StCurrAfter : RpsSubset::StCurrBefore;
    const std::uint32_t firstCount = listX == 0 ? inputs.NumPocStCurrBefore : inputs.NumPocStCurrAfter;
    const std::uint32_t secondCount = listX == 0 ? inputs.NumPocStCurrAfter : inputs.NumPocStCurrBefore;
    while (temp.size() < NumRpsCurrTempList) {
        for (std::uint32_t i = 0; i < firstCount && temp.size() < NumRpsCurrTempList; ++i) {
            temp.push_back({first, i});
        }
        for (std::uint32_t i = 0; i < secondCount && temp.size() < NumRpsCurrTempList; ++i) {
            temp.push_back({second, i});
        }
        for (std::uint32_t i = 0; i < inputs.NumPocLtCurr && temp.size() < NumRpsCurrTempList; ++i) {
            temp.push_back({RpsSubset::LtCurr, i});
        }
        if (inputs.pps_curr_pic_ref_enabled_flag && temp.size() < NumRpsCurrTempList) {
            temp.push_back({RpsSubset::CurrentPicture, 0});
        }
    }
    std::vector<RefPicListSource> list(inputs.num_ref_idx_active);
    for (std::uint32_t rIdx = 0; rIdx < inputs.num_ref_idx_active; ++rIdx) {
        const std::uint32_t tempIdx = inputs.ref_pic_list_modification_flag ? inputs.list_entry[rIdx] : rIdx;
        if (tempIdx >= temp.size()) {
            return {};
        }
        list[rIdx] = temp[tempIdx];
    }
    // Equation 8-9: with the current picture as a reference and no modification, it takes
    // the last place of a list too short to reach it otherwise.
    if (listX == 0 && inputs.pps_curr_pic_ref_enabled_flag && !inputs.ref_pic_list_modification_flag &&
        NumRpsCurrTempList > inputs.num_ref_idx_active) {
        list[inputs.num_ref_idx_active - 1] = {RpsSubset::CurrentPicture, 0};
    }
    return list;
}

} // namespace vexilo::hevc
