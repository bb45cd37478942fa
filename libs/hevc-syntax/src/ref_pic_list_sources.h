// The composition of RefPicList0/RefPicList1 from the reference picture set subsets
// (ITU-T H.265 8.3.4, equations 8-8 to 8-10), independent of which pictures fill them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace vexilo::hevc {

constexpr std::uint32_t kMaxRefIdxActive = 15;

enum class RpsSubset : std::uint32_t { StCurrBefore, StCurrAfter, LtCurr, CurrentPicture };

struct RefPicListSource {
    RpsSubset subset = RpsSubset::StCurrBefore;
    std::uint32_t index = 0; // position inside the subset
};

struct RefPicListInputs {
    std::uint32_t NumPocStCurrBefore = 0;
    std::uint32_t NumPocStCurrAfter = 0;
    std::uint32_t NumPocLtCurr = 0;
    bool pps_curr_pic_ref_enabled_flag = false;
    std::uint32_t num_ref_idx_active = 0; // num_ref_idx_lX_active_minus1 + 1
    bool ref_pic_list_modification_flag = false;
    const std::uint32_t* list_entry = nullptr; // num_ref_idx_active entries when modified
    [[nodiscard]] std::uint32_t NumPicTotalCurr() const
    {
        return NumPocStCurrBefore + NumPocStCurrAfter + NumPocLtCurr + (pps_curr_pic_ref_enabled_flag ? 1U : 0U);
    }
};

// Entries 0..num_ref_idx_active-1 of list X (0 or 1); empty when NumPicTotalCurr is 0 or a
// list_entry value points past RefPicListTempX.
std::vector<RefPicListSource> composeRefPicList(unsigned listX, const RefPicListInputs& inputs);

} // namespace vexilo::hevc
