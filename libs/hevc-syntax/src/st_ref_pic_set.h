// st_ref_pic_set() (ITU-T H.265 7.3.7) with the derivations of 7.4.8, including inter-RPS
// prediction.
#pragma once

#include "bit_reader.h"

#include <array>
#include <cstdint>
#include <span>

namespace vexilo::hevc {

constexpr unsigned kMaxDeltaPocs = 16;
constexpr std::uint32_t kMaxShortTermRefPicSets = 64;

// Where a value of the set came from, as the event records name it.
enum class RpsValueOrigin : std::uint32_t { SliceHeader = 1, Sps = 2, Derived = 3 };

struct ShortTermRefPicSet {
    bool inter_ref_pic_set_prediction_flag = false;
    std::uint32_t delta_idx_minus1 = 0;
    std::uint32_t NumNegativePics = 0;
    std::uint32_t NumPositivePics = 0;
    std::array<std::int32_t, kMaxDeltaPocs> DeltaPocS0{};
    std::array<std::int32_t, kMaxDeltaPocs> DeltaPocS1{};
    std::array<bool, kMaxDeltaPocs> UsedByCurrPicS0{};
    std::array<bool, kMaxDeltaPocs> UsedByCurrPicS1{};
    [[nodiscard]] std::uint32_t NumDeltaPocs() const { return NumNegativePics + NumPositivePics; }
};

// `sets` holds the sets 0..stRpsIdx-1 already parsed (the SPS ones); stRpsIdx equal to
// num_short_term_ref_pic_sets means the set of a slice header. num_negative_pics and
// num_positive_pics are bounded by the 16 pictures a DPB can hold rather than by
// sps_max_dec_pic_buffering_minus1, as decoders accept encoders that understate the latter.
ShortTermRefPicSet parseStRefPicSet(BitReader& reader, std::uint32_t stRpsIdx,
                                    std::span<const ShortTermRefPicSet> sets,
                                    std::uint32_t num_short_term_ref_pic_sets);

} // namespace vexilo::hevc
