// Luma motion vectors of inter prediction units (ITU-T H.265 8.5.3.2): merge mode with its
// spatial, temporal, combined bi-predictive and zero candidates (8.5.3.2.2 to 8.5.3.2.5),
// motion vector prediction (8.5.3.2.6, 8.5.3.2.7), temporal prediction from the collocated
// picture's 16x16-compressed motion (8.5.3.2.8, 8.5.3.2.9), and mvLX = mvpLX + MvdLX.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vexilo::hevc::slice_data {
class PictureBlockState;
}

namespace vexilo::hevc::derivations {

struct Mv {
    std::int32_t x = 0;
    std::int32_t y = 0;
    friend bool operator==(const Mv&, const Mv&) = default;
};

// Motion of one prediction block; PredFlagLX is RefIdxLX >= 0.
struct MvField {
    std::array<Mv, 2> mvLX{};
    std::array<std::int8_t, 2> refIdxLX{-1, -1};

    [[nodiscard]] bool predFlag(unsigned X) const { return refIdxLX[X] >= 0; }
    friend bool operator==(const MvField&, const MvField&) = default;
};

// "The same motion vectors and reference indices" of the merge pruning: vectors of unused
// lists do not count.
bool sameMotion(const MvField& a, const MvField& b);

// What TMVP needs of one 16x16 block of a decoded picture (8.5.3.2.8): its motion, and the
// POC and long-term marking each vector's reference had while that picture was decoded.
struct CollocatedBlock {
    MvField motion; // both refIdxLX -1: intra or not decoded
    std::array<std::int32_t, 2> refPoc{};
    std::array<bool, 2> refIsLongTerm{};
};

class CollocatedMotionField {
public:
    CollocatedMotionField(std::uint32_t width, std::uint32_t height);

    // The block covering ((x >> 4) << 4, (y >> 4) << 4); nullptr outside the picture.
    [[nodiscard]] const CollocatedBlock* at(std::uint32_t x, std::uint32_t y) const;
    // Records the motion of a prediction block on the 16x16 grid points it covers.
    void store(std::uint32_t xPb, std::uint32_t yPb, std::uint32_t nPbW, std::uint32_t nPbH,
               const CollocatedBlock& block);

private:
    static constexpr std::uint32_t kLog2Grid = 4;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::uint32_t widthInBlocks_ = 0;
    std::vector<CollocatedBlock> blocks_;
};

// One entry of RefPicList0/1 of the current slice.
struct ReferencePicture {
    std::int32_t poc = 0;
    bool longTerm = false;
    // Motion of the picture for TMVP; null for generated or unknown pictures, which count as
    // intra throughout (8.3.3.2).
    std::shared_ptr<const CollocatedMotionField> motion;
};

using RefPicLists = std::array<std::vector<ReferencePicture>, 2>;

// The slice-level inputs of the motion derivations.
struct SliceMotionContext {
    std::int32_t PicOrderCntVal = 0;
    bool isB = false;
    std::uint32_t MaxNumMergeCand = 5;
    std::uint32_t Log2ParMrgLevel = 2;
    std::array<std::uint32_t, 2> num_ref_idx_active{}; // num_ref_idx_lX_active_minus1 + 1
    const RefPicLists* RefPicList = nullptr;
    bool slice_temporal_mvp_enabled_flag = false;
    bool collocated_from_l0_flag = true;
    std::uint32_t collocated_ref_idx = 0;
    std::uint32_t CtbLog2SizeY = 4;
    std::uint32_t pic_width_in_luma_samples = 0;
    std::uint32_t pic_height_in_luma_samples = 0;

    // RefPicListX[refIdx]; a default short-term picture of POC 0 when the index is outside
    // the list, which only damaged or unsupplied lists produce.
    [[nodiscard]] const ReferencePicture& refPic(unsigned X, std::int32_t refIdx) const;
    // The list entry of ColPic (8.5.3.2.8).
    [[nodiscard]] const ReferencePicture& colPicEntry() const;
    // DiffPicOrderCnt(aPic, currPic) <= 0 for every picture of both lists (8.5.3.2.9).
    [[nodiscard]] bool NoBackwardPredFlag() const;
};

// Location of the prediction block and its coding block.
struct PredictionBlockPosition {
    std::uint32_t xCb = 0;
    std::uint32_t yCb = 0;
    std::uint32_t nCbS = 0;
    std::uint32_t xPb = 0;
    std::uint32_t yPb = 0;
    std::uint32_t nPbW = 0;
    std::uint32_t nPbH = 0;
    std::uint32_t partIdx = 0;
    std::uint8_t PartMode = 0; // slice_data::PartMode
};

// A short list kept in place: the derivations run for every prediction unit, and a heap
// allocation each would cost more than the derivation itself.
template <typename T, std::size_t Capacity>
class ShortList {
public:
    static constexpr std::size_t kCapacity = Capacity;

    // Entries past the capacity are dropped; the lists of the standard never reach it.
    void push_back(const T& value)
    {
        if (size_ < Capacity) {
            entries_[size_++] = value;
        }
    }
    void truncate(std::size_t size) { size_ = std::min(size_, size); }
    [[nodiscard]] std::size_t size() const { return size_; }
    [[nodiscard]] bool empty() const { return size_ == 0; }
    [[nodiscard]] const T& operator[](std::size_t index) const { return entries_[index]; }
    [[nodiscard]] const T* begin() const { return entries_.data(); }
    [[nodiscard]] const T* end() const { return entries_.data() + size_; }

private:
    std::array<T, Capacity> entries_{};
    std::size_t size_ = 0;
};

// MaxNumMergeCand is at most 5 (7.4.7.1).
using MergeCandidates = ShortList<MvField, 5>;

// The merge candidate list of 8.5.3.2.2 steps 1 to 7 (before the 8x4/4x8 restriction),
// MaxNumMergeCand entries long; or only its first `needed` entries, which do not depend on
// the later ones, when fewer are needed.
MergeCandidates mergeCandList(const SliceMotionContext& slice, const slice_data::PictureBlockState& picture,
                              const PredictionBlockPosition& pb, std::uint32_t needed = MergeCandidates::kCapacity);

// 8.5.3.2.2 step 10: 8x4 and 4x8 blocks, whose bi-prediction would cost the most memory
// bandwidth, keep only the L0 half of a bi-predictive candidate. Returns whether it did so.
bool restrictBiPrediction(MvField& motion, std::uint32_t nOrigPbW, std::uint32_t nOrigPbH);

// mvpListLX of 8.5.3.2.6 for the reference refIdxLX of list X.
std::array<Mv, 2> mvpListLX(const SliceMotionContext& slice, const slice_data::PictureBlockState& picture,
                            const PredictionBlockPosition& pb, unsigned X, std::int32_t refIdxLX);

// mvLX = mvpLX + MvdLX, wrapped to 16 bits (8.5.3.2.1).
Mv addMvd(const Mv& mvpLX, const Mv& MvdLX);

// Vector scaling by POC distances (8.5.3.2.7, 8.5.3.2.9): td for the candidate's reference,
// tb for the wanted one, both before clipping.
Mv scaleMv(const Mv& mv, std::int32_t td, std::int32_t tb);

// mvLXCol and availableFlagLXCol of 8.5.3.2.8.
struct TemporalCandidate {
    bool availableFlagLXCol = false;
    Mv mvLXCol;
};
TemporalCandidate temporalMvLX(const SliceMotionContext& slice, const PredictionBlockPosition& pb, unsigned X,
                               std::int32_t refIdxLX);

} // namespace vexilo::hevc::derivations
