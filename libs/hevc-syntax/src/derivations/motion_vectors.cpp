#include "derivations/motion_vectors.h"

#include "slice_data/block_sink.h"
#include "slice_data/picture_block_state.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace vexilo::hevc::derivations {

using slice_data::PartMode;
using slice_data::PictureBlockState;

bool sameMotion(const MvField& a, const MvField& b)
{
    for (unsigned X = 0; X < 2; ++X) {
        if (a.refIdxLX[X] != b.refIdxLX[X] || (a.predFlag(X) && a.mvLX[X] != b.mvLX[X])) {
            return false;
        }
    }
    return true;
}

CollocatedMotionField::CollocatedMotionField(std::uint32_t width, std::uint32_t height)
    : width_(width), height_(height), widthInBlocks_((width + (1U << kLog2Grid) - 1U) >> kLog2Grid),
      blocks_(static_cast<std::size_t>(widthInBlocks_) * ((height + (1U << kLog2Grid) - 1U) >> kLog2Grid))
{
}

const CollocatedBlock* CollocatedMotionField::at(std::uint32_t x, std::uint32_t y) const
{
    if (x >= width_ || y >= height_) {
        return nullptr;
    }
    return &blocks_[static_cast<std::size_t>(y >> kLog2Grid) * widthInBlocks_ + (x >> kLog2Grid)];
}

void CollocatedMotionField::store(std::uint32_t xPb, std::uint32_t yPb, std::uint32_t nPbW, std::uint32_t nPbH,
                                  const CollocatedBlock& block)
{
    // A block is represented by the motion at its top-left sample; only prediction blocks
    // that contain a grid point leave a trace.
    constexpr std::uint32_t grid = 1U << kLog2Grid;
    const std::uint32_t xFirst = (xPb + grid - 1U) & ~(grid - 1U);
    const std::uint32_t yFirst = (yPb + grid - 1U) & ~(grid - 1U);
    for (std::uint32_t y = yFirst; y < yPb + nPbH && y < height_; y += grid) {
        for (std::uint32_t x = xFirst; x < xPb + nPbW && x < width_; x += grid) {
            blocks_[static_cast<std::size_t>(y >> kLog2Grid) * widthInBlocks_ + (x >> kLog2Grid)] = block;
        }
    }
}

const ReferencePicture& SliceMotionContext::refPic(unsigned X, std::int32_t refIdx) const
{
    static const ReferencePicture kMissing;
    if (RefPicList == nullptr || refIdx < 0 || static_cast<std::size_t>(refIdx) >= (*RefPicList)[X].size()) {
        return kMissing;
    }
    return (*RefPicList)[X][static_cast<std::size_t>(refIdx)];
}

const ReferencePicture& SliceMotionContext::colPicEntry() const
{
    const unsigned list = isB && !collocated_from_l0_flag ? 1U : 0U;
    return refPic(list, static_cast<std::int32_t>(collocated_ref_idx));
}

bool SliceMotionContext::NoBackwardPredFlag() const
{
    if (RefPicList == nullptr) {
        return true;
    }
    for (const auto& list : *RefPicList) {
        for (const ReferencePicture& picture : list) {
            if (picture.poc > PicOrderCntVal) {
                return false;
            }
        }
    }
    return true;
}

namespace {

std::int32_t Clip3(std::int32_t low, std::int32_t high, std::int32_t value)
{
    return std::clamp(value, low, high);
}

std::int32_t Sign(std::int64_t value)
{
    return value > 0 ? 1 : (value < 0 ? -1 : 0);
}

std::int32_t wrap16(std::int32_t value)
{
    const auto u = static_cast<std::uint16_t>(static_cast<std::uint32_t>(value));
    return u >= 0x8000U ? static_cast<std::int32_t>(u) - 0x10000 : static_cast<std::int32_t>(u);
}

PictureBlockState::PredictionBlock asPredictionBlock(const PredictionBlockPosition& pb)
{
    return {pb.xCb, pb.yCb, pb.nCbS, pb.xPb, pb.yPb, pb.nPbW, pb.nPbH, pb.partIdx};
}

struct Neighbour {
    std::int64_t x = 0;
    std::int64_t y = 0;
};

// The neighbouring locations of 8.5.3.2.3 and 8.5.3.2.7.
Neighbour A0(const PredictionBlockPosition& pb)
{
    return {std::int64_t{pb.xPb} - 1, std::int64_t{pb.yPb} + pb.nPbH};
}
Neighbour A1(const PredictionBlockPosition& pb)
{
    return {std::int64_t{pb.xPb} - 1, std::int64_t{pb.yPb} + pb.nPbH - 1};
}
Neighbour B0(const PredictionBlockPosition& pb)
{
    return {std::int64_t{pb.xPb} + pb.nPbW, std::int64_t{pb.yPb} - 1};
}
Neighbour B1(const PredictionBlockPosition& pb)
{
    return {std::int64_t{pb.xPb} + pb.nPbW - 1, std::int64_t{pb.yPb} - 1};
}
Neighbour B2(const PredictionBlockPosition& pb)
{
    return {std::int64_t{pb.xPb} - 1, std::int64_t{pb.yPb} - 1};
}

const MvField& motionOf(const PictureBlockState& picture, const Neighbour& nb)
{
    return picture.motionAt(static_cast<std::uint32_t>(nb.x), static_cast<std::uint32_t>(nb.y));
}

// ---------------------------------------------------------------------------------------
// Temporal motion vector prediction (8.5.3.2.8, 8.5.3.2.9)

TemporalCandidate collocatedMvs(const SliceMotionContext& slice, const CollocatedBlock* colPb, unsigned X,
                                std::int32_t refIdxLX)
{
    if (colPb == nullptr || (!colPb->motion.predFlag(0) && !colPb->motion.predFlag(1))) {
        return {}; // intra, or outside the collocated picture's decoded area
    }
    unsigned listCol = 0;
    if (!colPb->motion.predFlag(0)) {
        listCol = 1;
    } else if (colPb->motion.predFlag(1)) {
        listCol = slice.NoBackwardPredFlag() ? X : (slice.collocated_from_l0_flag ? 1U : 0U);
    }
    const ReferencePicture& target = slice.refPic(X, refIdxLX);
    if (target.longTerm != colPb->refIsLongTerm[listCol]) {
        return {};
    }
    const Mv mvCol = colPb->motion.mvLX[listCol];
    const std::int32_t colPocDiff = slice.colPicEntry().poc - colPb->refPoc[listCol];
    const std::int32_t currPocDiff = slice.PicOrderCntVal - target.poc;
    if (target.longTerm || colPocDiff == currPocDiff) {
        return {true, mvCol};
    }
    return {true, scaleMv(mvCol, colPocDiff, currPocDiff)};
}

// ---------------------------------------------------------------------------------------
// Merge mode (8.5.3.2.2 to 8.5.3.2.5)

// 8.5.3.2.3, as far as the first `wanted` candidates: each candidate's flag depends only on
// neighbours before it in the list order (A1, B1, B0, A0, B2), so the neighbours after the
// last wanted one are not looked at. Most merged units want the first candidate only.
MergeCandidates spatialMergeCandidates(const SliceMotionContext& slice, const PictureBlockState& picture,
                                       const PredictionBlockPosition& pb, std::size_t wanted)
{
    const auto partMode = static_cast<PartMode>(pb.PartMode);
    const PictureBlockState::PredictionBlock current = asPredictionBlock(pb);
    auto availableN = [&](const Neighbour& nb) {
        // Inside the current merge estimation region the neighbour is not yet known.
        const std::uint32_t level = slice.Log2ParMrgLevel;
        if ((pb.xPb >> level) == (nb.x >> level) && (pb.yPb >> level) == (nb.y >> level)) {
            return false;
        }
        return picture.availablePb(current, nb.x, nb.y);
    };
    auto sameAs = [&](bool availableOther, const Neighbour& other, const Neighbour& nb) {
        return availableOther && sameMotion(motionOf(picture, other), motionOf(picture, nb));
    };
    MergeCandidates list;
    // Appends the neighbour's motion if its flag is set; true once the list is long enough.
    auto addAndCheckFull = [&](bool availableFlag, const Neighbour& nb) {
        if (availableFlag) {
            list.push_back(motionOf(picture, nb));
        }
        return list.size() >= wanted;
    };

    // availableN of each neighbour, with the second prediction unit of a two-part split never
    // taking the first one's motion (that would be a 2Nx2N split).
    const Neighbour a1 = A1(pb);
    const bool availableA1 = !(pb.partIdx == 1 && (partMode == PartMode::PART_Nx2N ||
                                                   partMode == PartMode::PART_nLx2N ||
                                                   partMode == PartMode::PART_nRx2N)) &&
                             availableN(a1);
    const bool availableFlagA1 = availableA1;
    if (addAndCheckFull(availableFlagA1, a1)) {
        return list;
    }
    const Neighbour b1 = B1(pb);
    const bool availableB1 = !(pb.partIdx == 1 && (partMode == PartMode::PART_2NxN ||
                                                   partMode == PartMode::PART_2NxnU ||
                                                   partMode == PartMode::PART_2NxnD)) &&
                             availableN(b1);
    const bool availableFlagB1 = availableB1 && !sameAs(availableA1, a1, b1);
    if (addAndCheckFull(availableFlagB1, b1)) {
        return list;
    }
    const Neighbour b0 = B0(pb);
    const bool availableFlagB0 = availableN(b0) && !sameAs(availableB1, b1, b0);
    if (addAndCheckFull(availableFlagB0, b0)) {
        return list;
    }
    const Neighbour a0 = A0(pb);
    const bool availableFlagA0 = availableN(a0) && !sameAs(availableA1, a1, a0);
    if (addAndCheckFull(availableFlagA0, a0)) {
        return list;
    }
    const Neighbour b2 = B2(pb);
    const bool availableFlagB2 = availableN(b2) && !sameAs(availableA1, a1, b2) && !sameAs(availableB1, b1, b2) &&
                                 !(availableFlagA0 && availableFlagA1 && availableFlagB0 && availableFlagB1);
    addAndCheckFull(availableFlagB2, b2);
    return list;
}

// 8.5.3.2.2 step 3: the temporal merge candidate with refIdxLXCol 0.
std::optional<MvField> temporalMergeCandidate(const SliceMotionContext& slice, const PredictionBlockPosition& pb)
{
    MvField Col;
    bool availableFlagCol = false;
    for (unsigned X = 0; X < (slice.isB ? 2U : 1U); ++X) {
        const TemporalCandidate candidate = temporalMvLX(slice, pb, X, 0);
        if (candidate.availableFlagLXCol) {
            Col.mvLX[X] = candidate.mvLXCol;
            Col.refIdxLX[X] = 0;
            availableFlagCol = true;
        }
    }
    if (!availableFlagCol) {
        return std::nullopt;
    }
    return Col;
}

// 8.5.3.2.4
void combinedBiPredictiveMergeCandidates(const SliceMotionContext& slice, std::uint32_t wanted, MergeCandidates& list)
{
    static constexpr std::array<std::pair<std::size_t, std::size_t>, 12> kCombIdx{
        {{0, 1}, {1, 0}, {0, 2}, {2, 0}, {1, 2}, {2, 1}, {0, 3}, {3, 0}, {1, 3}, {3, 1}, {2, 3}, {3, 2}}};
    const std::size_t numOrigMergeCand = list.size();
    if (!slice.isB || numOrigMergeCand <= 1 || numOrigMergeCand >= slice.MaxNumMergeCand) {
        return;
    }
    for (std::size_t combIdx = 0; combIdx < numOrigMergeCand * (numOrigMergeCand - 1) && list.size() < wanted;
         ++combIdx) {
        const MvField l0Cand = list[kCombIdx[combIdx].first];
        const MvField l1Cand = list[kCombIdx[combIdx].second];
        if (!l0Cand.predFlag(0) || !l1Cand.predFlag(1)) {
            continue;
        }
        const bool samePicture = slice.refPic(0, l0Cand.refIdxLX[0]).poc == slice.refPic(1, l1Cand.refIdxLX[1]).poc;
        if (samePicture && l0Cand.mvLX[0] == l1Cand.mvLX[1]) {
            continue;
        }
        MvField combCand;
        combCand.mvLX = {l0Cand.mvLX[0], l1Cand.mvLX[1]};
        combCand.refIdxLX = {l0Cand.refIdxLX[0], l1Cand.refIdxLX[1]};
        list.push_back(combCand);
    }
}

// 8.5.3.2.5
void zeroMergeCandidates(const SliceMotionContext& slice, std::uint32_t wanted, MergeCandidates& list)
{
    const std::uint32_t numRefIdx =
        slice.isB ? std::min(slice.num_ref_idx_active[0], slice.num_ref_idx_active[1]) : slice.num_ref_idx_active[0];
    for (std::uint32_t zeroIdx = 0; list.size() < wanted; ++zeroIdx) {
        MvField zeroCand;
        const auto refIdx = static_cast<std::int8_t>(zeroIdx < numRefIdx ? zeroIdx : 0);
        zeroCand.refIdxLX = {refIdx, slice.isB ? refIdx : std::int8_t{-1}};
        list.push_back(zeroCand);
    }
}

// ---------------------------------------------------------------------------------------
// Spatial motion vector predictor candidates (8.5.3.2.7)

struct SpatialMvp {
    bool availableFlag = false;
    Mv mv;
};

// The neighbour's vector when it points at RefPicListX[refIdxLX] itself, from LX before LY.
SpatialMvp unscaledCandidate(const SliceMotionContext& slice, const MvField& neighbour, unsigned X,
                             std::int32_t refIdxLX)
{
    const std::int32_t wantedPoc = slice.refPic(X, refIdxLX).poc;
    for (const unsigned list : {X, 1U - X}) {
        if (neighbour.predFlag(list) && slice.refPic(list, neighbour.refIdxLX[list]).poc == wantedPoc) {
            return {true, neighbour.mvLX[list]};
        }
    }
    return {};
}

// The neighbour's vector towards a reference of the same long-term marking, scaled by the
// POC distances when both references are short-term.
SpatialMvp scaledCandidate(const SliceMotionContext& slice, const MvField& neighbour, unsigned X,
                           std::int32_t refIdxLX)
{
    const ReferencePicture& wanted = slice.refPic(X, refIdxLX);
    for (const unsigned list : {X, 1U - X}) {
        if (!neighbour.predFlag(list)) {
            continue;
        }
        const ReferencePicture& used = slice.refPic(list, neighbour.refIdxLX[list]);
        if (used.longTerm != wanted.longTerm) {
            continue;
        }
        const Mv mv = neighbour.mvLX[list];
        if (used.longTerm) {
            return {true, mv};
        }
        return {true, scaleMv(mv, slice.PicOrderCntVal - used.poc, slice.PicOrderCntVal - wanted.poc)};
    }
    return {};
}

struct SpatialMvpCandidates {
    SpatialMvp A;
    SpatialMvp B;
};

SpatialMvpCandidates spatialMvpCandidates(const SliceMotionContext& slice, const PictureBlockState& picture,
                                          const PredictionBlockPosition& pb, unsigned X, std::int32_t refIdxLX)
{
    const PictureBlockState::PredictionBlock current = asPredictionBlock(pb);
    auto availableNeighbours = [&](std::initializer_list<Neighbour> neighbours) {
        ShortList<const MvField*, 3> found;
        for (const Neighbour& nb : neighbours) {
            if (picture.availablePb(current, nb.x, nb.y)) {
                found.push_back(&motionOf(picture, nb));
            }
        }
        return found;
    };
    auto firstOf = [&](const ShortList<const MvField*, 3>& neighbours, auto candidate) {
        for (const MvField* neighbour : neighbours) {
            if (const SpatialMvp found = candidate(slice, *neighbour, X, refIdxLX); found.availableFlag) {
                return found;
            }
        }
        return SpatialMvp{};
    };

    SpatialMvpCandidates result;
    const auto a = availableNeighbours({A0(pb), A1(pb)});
    const bool isScaledFlagLX = !a.empty();
    result.A = firstOf(a, unscaledCandidate);
    if (!result.A.availableFlag) {
        result.A = firstOf(a, scaledCandidate);
    }

    const auto b = availableNeighbours({B0(pb), B1(pb), B2(pb)});
    result.B = firstOf(b, unscaledCandidate);
    if (!isScaledFlagLX) {
        // Without left neighbours, B stands in for A and may itself be scaled.
        if (result.B.availableFlag) {
            result.A = result.B;
        }
        result.B = firstOf(b, scaledCandidate);
    }
    return result;
}

} // namespace

Mv scaleMv(const Mv& mv, std::int32_t td, std::int32_t tb)
{
    td = Clip3(-128, 127, td);
    tb = Clip3(-128, 127, tb);
    if (td == 0) {
        return mv; // a picture referencing itself: only damaged streams get here
    }
    const std::int32_t tx = (16384 + (std::abs(td) >> 1)) / td;
    const std::int32_t distScaleFactor = Clip3(-4096, 4095, (tb * tx + 32) >> 6);
    auto scale = [&](std::int32_t component) {
        const std::int64_t product = std::int64_t{distScaleFactor} * component;
        return Clip3(-32768, 32767,
                     Sign(product) * static_cast<std::int32_t>((std::llabs(product) + 127) >> 8));
    };
    return {scale(mv.x), scale(mv.y)};
}

Mv addMvd(const Mv& mvpLX, const Mv& MvdLX)
{
    return {wrap16(mvpLX.x + MvdLX.x), wrap16(mvpLX.y + MvdLX.y)};
}

TemporalCandidate temporalMvLX(const SliceMotionContext& slice, const PredictionBlockPosition& pb, unsigned X,
                               std::int32_t refIdxLX)
{
    const CollocatedMotionField* colPic =
        slice.slice_temporal_mvp_enabled_flag ? slice.colPicEntry().motion.get() : nullptr;
    if (colPic == nullptr) {
        return {};
    }
    // Bottom right, only within the CTB row of the prediction block; then the centre.
    const std::uint32_t xColBr = pb.xPb + pb.nPbW;
    const std::uint32_t yColBr = pb.yPb + pb.nPbH;
    if ((pb.yPb >> slice.CtbLog2SizeY) == (yColBr >> slice.CtbLog2SizeY) &&
        yColBr < slice.pic_height_in_luma_samples && xColBr < slice.pic_width_in_luma_samples) {
        const TemporalCandidate bottomRight = collocatedMvs(slice, colPic->at(xColBr, yColBr), X, refIdxLX);
        if (bottomRight.availableFlagLXCol) {
            return bottomRight;
        }
    }
    const std::uint32_t xColCtr = pb.xPb + (pb.nPbW >> 1U);
    const std::uint32_t yColCtr = pb.yPb + (pb.nPbH >> 1U);
    return collocatedMvs(slice, colPic->at(xColCtr, yColCtr), X, refIdxLX);
}

MergeCandidates mergeCandList(const SliceMotionContext& slice, const PictureBlockState& picture,
                              const PredictionBlockPosition& pb, std::uint32_t needed)
{
    PredictionBlockPosition merged = pb;
    if (slice.Log2ParMrgLevel > 2 && pb.nCbS == 8) {
        // All prediction units of an 8x8 coding unit share the list of the 2Nx2N unit.
        merged.xPb = pb.xCb;
        merged.yPb = pb.yCb;
        merged.nPbW = pb.nCbS;
        merged.nPbH = pb.nCbS;
        merged.partIdx = 0;
        merged.PartMode = static_cast<std::uint8_t>(PartMode::PART_2Nx2N);
    }
    // Every step only appends, so the list can stop growing once it holds what is needed.
    const auto wanted = static_cast<std::uint32_t>(
        std::min<std::size_t>({needed, slice.MaxNumMergeCand, MergeCandidates::kCapacity}));
    MergeCandidates list = spatialMergeCandidates(slice, picture, merged, wanted);
    if (list.size() < wanted) {
        if (const std::optional<MvField> Col = temporalMergeCandidate(slice, merged)) {
            list.push_back(*Col);
        }
    }
    list.truncate(wanted);
    combinedBiPredictiveMergeCandidates(slice, wanted, list);
    zeroMergeCandidates(slice, wanted, list);
    return list;
}

bool restrictBiPrediction(MvField& motion, std::uint32_t nOrigPbW, std::uint32_t nOrigPbH)
{
    if (!motion.predFlag(0) || !motion.predFlag(1) || nOrigPbW + nOrigPbH != 12) {
        return false;
    }
    motion.refIdxLX[1] = -1;
    motion.mvLX[1] = {};
    return true;
}

std::array<Mv, 2> mvpListLX(const SliceMotionContext& slice, const PictureBlockState& picture,
                            const PredictionBlockPosition& pb, unsigned X, std::int32_t refIdxLX)
{
    const SpatialMvpCandidates spatial = spatialMvpCandidates(slice, picture, pb, X, refIdxLX);
    // Zero vectors fill what the candidates leave empty.
    ShortList<Mv, 2> list;
    if (spatial.A.availableFlag) {
        list.push_back(spatial.A.mv);
    }
    if (spatial.B.availableFlag && !(spatial.A.availableFlag && spatial.A.mv == spatial.B.mv)) {
        list.push_back(spatial.B.mv);
    }
    if (list.size() < 2) {
        if (const TemporalCandidate Col = temporalMvLX(slice, pb, X, refIdxLX); Col.availableFlagLXCol) {
            list.push_back(Col.mvLXCol);
        }
    }
    return {list.size() > 0 ? list[0] : Mv{}, list.size() > 1 ? list[1] : Mv{}};
}

} // namespace vexilo::hevc::derivations
