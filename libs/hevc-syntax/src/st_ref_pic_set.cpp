#include "st_ref_pic_set.h"

namespace vexilo::hevc {

namespace {
constexpr std::uint32_t kMaxDeltaPocMinus1 = (1U << 15U) - 1U;

void appendS0(ShortTermRefPicSet& set, std::int32_t dPoc, bool used)
{
    require(set.NumNegativePics < kMaxDeltaPocs, "predicted RPS has more than 16 negative pictures");
    set.DeltaPocS0[set.NumNegativePics] = dPoc;
    set.UsedByCurrPicS0[set.NumNegativePics++] = used;
}

void appendS1(ShortTermRefPicSet& set, std::int32_t dPoc, bool used)
{
    require(set.NumPositivePics < kMaxDeltaPocs, "predicted RPS has more than 16 positive pictures");
    set.DeltaPocS1[set.NumPositivePics] = dPoc;
    set.UsedByCurrPicS1[set.NumPositivePics++] = used;
}

// Equations 7-61 and 7-62.
ShortTermRefPicSet predictFromReference(BitReader& reader, const ShortTermRefPicSet& ref,
                                        std::uint32_t delta_idx_minus1)
{
    ShortTermRefPicSet set;
    set.inter_ref_pic_set_prediction_flag = true;
    set.delta_idx_minus1 = delta_idx_minus1;
    const bool delta_rps_sign = reader.flag();
    const std::uint32_t abs_delta_rps_minus1 = reader.ueMax(kMaxDeltaPocMinus1, "abs_delta_rps_minus1 out of range");
    const std::int32_t deltaRps =
        (1 - 2 * static_cast<std::int32_t>(delta_rps_sign)) * static_cast<std::int32_t>(abs_delta_rps_minus1 + 1U);
    std::array<bool, kMaxDeltaPocs + 1> used_by_curr_pic_flag{};
    std::array<bool, kMaxDeltaPocs + 1> use_delta_flag{};
    for (std::uint32_t j = 0; j <= ref.NumDeltaPocs(); ++j) {
        used_by_curr_pic_flag[j] = reader.flag();
        use_delta_flag[j] = used_by_curr_pic_flag[j] || reader.flag();
    }
    const std::uint32_t numNeg = ref.NumNegativePics;
    const std::uint32_t numDelta = ref.NumDeltaPocs();
    for (std::uint32_t j = ref.NumPositivePics; j-- > 0;) {
        const std::int32_t dPoc = ref.DeltaPocS1[j] + deltaRps;
        if (dPoc < 0 && use_delta_flag[numNeg + j]) {
            appendS0(set, dPoc, used_by_curr_pic_flag[numNeg + j]);
        }
    }
    if (deltaRps < 0 && use_delta_flag[numDelta]) {
        appendS0(set, deltaRps, used_by_curr_pic_flag[numDelta]);
    }
    for (std::uint32_t j = 0; j < numNeg; ++j) {
        const std::int32_t dPoc = ref.DeltaPocS0[j] + deltaRps;
        if (dPoc < 0 && use_delta_flag[j]) {
            appendS0(set, dPoc, used_by_curr_pic_flag[j]);
        }
    }
    for (std::uint32_t j = numNeg; j-- > 0;) {
        const std::int32_t dPoc = ref.DeltaPocS0[j] + deltaRps;
        if (dPoc > 0 && use_delta_flag[j]) {
            appendS1(set, dPoc, used_by_curr_pic_flag[j]);
        }
    }
    if (deltaRps > 0 && use_delta_flag[numDelta]) {
        appendS1(set, deltaRps, used_by_curr_pic_flag[numDelta]);
    }
    for (std::uint32_t j = 0; j < ref.NumPositivePics; ++j) {
        const std::int32_t dPoc = ref.DeltaPocS1[j] + deltaRps;
        if (dPoc > 0 && use_delta_flag[numNeg + j]) {
            appendS1(set, dPoc, used_by_curr_pic_flag[numNeg + j]);
        }
    }
    require(set.NumDeltaPocs() <= kMaxDeltaPocs, "predicted RPS has more than 16 pictures");
    return set;
}
} // namespace

ShortTermRefPicSet parseStRefPicSet(BitReader& reader, std::uint32_t stRpsIdx,
                                    std::span<const ShortTermRefPicSet> sets,
                                    std::uint32_t num_short_term_ref_pic_sets)
{
    require(stRpsIdx <= sets.size(), "st_ref_pic_set index beyond the known sets");
    const bool inter_ref_pic_set_prediction_flag = stRpsIdx != 0 && reader.flag();
    if (inter_ref_pic_set_prediction_flag) {
        std::uint32_t delta_idx_minus1 = 0;
        if (stRpsIdx == num_short_term_ref_pic_sets) {
            delta_idx_minus1 = reader.ueMax(stRpsIdx - 1U, "delta_idx_minus1 out of range");
        }
        const std::uint32_t RefRpsIdx = stRpsIdx - (delta_idx_minus1 + 1U);
        return predictFromReference(reader, sets[RefRpsIdx], delta_idx_minus1);
    }
    ShortTermRefPicSet set;
    const std::uint32_t maxPictures = kMaxDeltaPocs;
    set.NumNegativePics = reader.ueMax(maxPictures, "num_negative_pics out of range");
    set.NumPositivePics = reader.ueMax(maxPictures - set.NumNegativePics, "num_positive_pics out of range");
    std::int32_t poc = 0;
    for (std::uint32_t i = 0; i < set.NumNegativePics; ++i) {
        poc -= static_cast<std::int32_t>(reader.ueMax(kMaxDeltaPocMinus1, "delta_poc_s0_minus1 out of range") + 1U);
        set.DeltaPocS0[i] = poc;
        set.UsedByCurrPicS0[i] = reader.flag();
    }
    poc = 0;
    for (std::uint32_t i = 0; i < set.NumPositivePics; ++i) {
        poc += static_cast<std::int32_t>(reader.ueMax(kMaxDeltaPocMinus1, "delta_poc_s1_minus1 out of range") + 1U);
        set.DeltaPocS1[i] = poc;
        set.UsedByCurrPicS1[i] = reader.flag();
    }
    return set;
}

} // namespace vexilo::hevc
