// What the slice segments of one picture share while their slice data is parsed: the
// per-4x4 block facts that context selection and the intra mode and QP predictors read from
// neighbours, which slice each CTB belongs to (availability, ITU-T H.265 6.4.1), and the
// context variables stored for WPP and dependent slice segments (9.3.2.3).
#pragma once

#include "cabac/context_tables.h"
#include "derivations/motion_vectors.h"
#include "parameter_sets.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace vexilo::hevc::slice_data {

constexpr std::uint32_t kBlockLog2Size = 2; // facts are kept per 4x4 luma samples

// All zero bytes by default, so that a picture's blocks are cleared with one memset.
struct MinBlock {
    std::uint8_t ctDepth = 0;
    std::uint8_t cuSkipFlag = 0;
    std::uint8_t intra = 0;   // CuPredMode == MODE_INTRA
    std::uint8_t pcmFlag = 0;
    std::uint8_t intraPredModeY = 0; // read in intra blocks only, which set it
    std::int8_t qpY = 0;
};

class PictureBlockState {
public:
    // Sizes the arrays for the picture and forgets everything of the previous one.
    void beginPicture(const Sps& sps, const PictureLayout& layout);

    [[nodiscard]] MinBlock& at(std::uint32_t x, std::uint32_t y)
    {
        return blocks_[(static_cast<std::size_t>(y) >> kBlockLog2Size) * widthInBlocks_ +
                       (x >> kBlockLog2Size)];
    }
    // Whether the arrays were sized for pictures of this SPS; a slice segment of another
    // picture size must not be parsed into them.
    [[nodiscard]] bool fits(const Sps& sps) const
    {
        return !blocks_.empty() && picWidth_ == sps.pic_width_in_luma_samples &&
               picHeight_ == sps.pic_height_in_luma_samples && ctbLog2Size_ == sps.CtbLog2SizeY &&
               ctbSliceAddrRs_.size() == sps.PicSizeInCtbsY;
    }

    // Sets `value` through `field` on the 4x4 blocks of the rectangle that lookups can reach
    // (its right column and bottom row, see forEachEdgeRunOfBlocks).
    template <typename Field, typename Value>
    void fillEdges(std::uint32_t x0, std::uint32_t y0, std::uint32_t width, std::uint32_t height, Field field,
              Value value)
    {
        forEachEdgeRunOfBlocks(x0, y0, width, height, [&](std::size_t first, std::size_t count) {
            MinBlock* row = blocks_.data() + first;
            for (std::size_t i = 0; i < count; ++i) {
                row[i].*field = value;
            }
        });
    }

    // Sets every 4x4 block of the rectangle, inside as well: the PBs of an intra NxN CB look
    // up blocks inside it.
    void fillBlocks(std::uint32_t x0, std::uint32_t y0, std::uint32_t width, std::uint32_t height,
                    const MinBlock& value)
    {
        forEachRowOfBlocks(x0, y0, width, height, [&](std::size_t first, std::size_t count) {
            std::fill_n(blocks_.begin() + static_cast<std::ptrdiff_t>(first), count, value);
        });
    }

    // Sets the 4x4 blocks of the rectangle that lookups from outside it can reach.
    void fillEdgeBlocks(std::uint32_t x0, std::uint32_t y0, std::uint32_t width, std::uint32_t height,
                        const MinBlock& value)
    {
        forEachEdgeRunOfBlocks(x0, y0, width, height, [&](std::size_t first, std::size_t count) {
            std::fill_n(blocks_.begin() + static_cast<std::ptrdiff_t>(first), count, value);
        });
    }

    // 6.4.1, z-scan order availability: the neighbour is inside the picture, in the current
    // slice and tile, and not later than the current block in decoding order (MinTbAddrZs).
    [[nodiscard]] bool available(std::uint32_t xCurr, std::uint32_t yCurr, std::int64_t xNb, std::int64_t yNb) const;

    // 6.4.2, availability of a neighbouring prediction block: as 6.4.1 from the prediction
    // block outside the current coding block; inside it, every earlier PU (whatever its
    // z-scan position) except the lower left PU of an NxN CU for its second PU; never an
    // intra block.
    struct PredictionBlock {
        std::uint32_t xCb = 0;
        std::uint32_t yCb = 0;
        std::uint32_t nCbS = 0;
        std::uint32_t xPb = 0;
        std::uint32_t yPb = 0;
        std::uint32_t nPbW = 0;
        std::uint32_t nPbH = 0;
        std::uint32_t partIdx = 0;
    };
    [[nodiscard]] bool availablePb(const PredictionBlock& pb, std::int64_t xNb, std::int64_t yNb) const;

    // Motion of the inter prediction blocks decoded so far (8.5.3.2); meaningful only where
    // availablePb holds.
    [[nodiscard]] const derivations::MvField& motionAt(std::uint32_t x, std::uint32_t y) const
    {
        return motion_[(static_cast<std::size_t>(y) >> kBlockLog2Size) * widthInBlocks_ + (x >> kBlockLog2Size)];
    }
    // Records a prediction block's motion for its neighbours and, 16x16-compressed with its
    // references' POCs, for later pictures' TMVP.
    void storeMotion(std::uint32_t xPb, std::uint32_t yPb, std::uint32_t nPbW, std::uint32_t nPbH,
                     const derivations::CollocatedBlock& block);
    // The picture's motion for TMVP, to keep with the picture while it can be a reference.
    [[nodiscard]] std::shared_ptr<const derivations::CollocatedMotionField> collocatedMotion() const
    {
        return collocated_;
    }

    void setCtbSlice(std::uint32_t ctbAddrRs, std::uint32_t sliceAddrRs) { ctbSliceAddrRs_[ctbAddrRs] = sliceAddrRs; }
    [[nodiscard]] std::uint32_t ctbAddrOf(std::uint32_t x, std::uint32_t y) const
    {
        return (y >> ctbLog2Size_) * picWidthInCtbs_ + (x >> ctbLog2Size_);
    }
    [[nodiscard]] std::uint32_t tileColumnStart(std::uint32_t ctbX) const { return tileColumnStart_[ctbX]; }
    [[nodiscard]] std::uint32_t tileColumnWidth(std::uint32_t ctbX) const { return tileColumnWidth_[ctbX]; }

    // Context storage of 9.3.2.3 (TableStateIdxWpp/Ds with the Rice statistics).
    std::optional<cabac::ContextSet> wppStorage;
    std::optional<cabac::ContextSet> dependentSliceStorage;
    // qPY_PREV carried into a dependent slice segment (8.6.1).
    std::int32_t lastCuQpY = 0;
    std::int32_t CuQpOffsetCb = 0;
    std::int32_t CuQpOffsetCr = 0;

private:
    static constexpr std::uint32_t kNoSlice = 0xFFFFFFFFU;

    // The 4x4 blocks a rectangle covers inside the picture, by index.
    struct BlockRange {
        std::size_t firstColumn = 0;
        std::size_t lastColumn = 0;
        std::size_t firstRow = 0;
        std::size_t lastRow = 0;
    };
    [[nodiscard]] std::optional<BlockRange> blockRange(std::uint32_t x0, std::uint32_t y0, std::uint32_t width,
                                                       std::uint32_t height) const
    {
        const std::uint64_t xEnd = std::min<std::uint64_t>(std::uint64_t{x0} + width, picWidth_);
        const std::uint64_t yEnd = std::min<std::uint64_t>(std::uint64_t{y0} + height, picHeight_);
        if (x0 >= xEnd || y0 >= yEnd) {
            return std::nullopt;
        }
        return BlockRange{x0 >> kBlockLog2Size, static_cast<std::size_t>((xEnd - 1) >> kBlockLog2Size),
                          y0 >> kBlockLog2Size, static_cast<std::size_t>((yEnd - 1) >> kBlockLog2Size)};
    }

    // Calls `visit(firstIndex, count)` for every row of 4x4 blocks the rectangle covers.
    template <typename Visit>
    void forEachRowOfBlocks(std::uint32_t x0, std::uint32_t y0, std::uint32_t width, std::uint32_t height,
                            Visit visit) const
    {
        if (const auto range = blockRange(x0, y0, width, height)) {
            for (std::size_t row = range->firstRow; row <= range->lastRow; ++row) {
                visit(row * widthInBlocks_ + range->firstColumn, range->lastColumn - range->firstColumn + 1);
            }
        }
    }

    // Calls `visit(firstIndex, count)` for the right column and the bottom row of the 4x4
    // blocks the rectangle covers. Outside the CB being parsed, those are all that is ever
    // looked up: every lookup there is of a neighbour to the left, above, above-left,
    // above-right or below-left of the block being parsed, which lies in the right column or
    // the bottom row of an earlier block. Writing only them saves most of the stores of
    // large blocks.
    template <typename Visit>
    void forEachEdgeRunOfBlocks(std::uint32_t x0, std::uint32_t y0, std::uint32_t width, std::uint32_t height,
                                Visit visit) const
    {
        if (const auto range = blockRange(x0, y0, width, height)) {
            for (std::size_t row = range->firstRow; row < range->lastRow; ++row) {
                visit(row * widthInBlocks_ + range->lastColumn, 1);
            }
            visit(range->lastRow * widthInBlocks_ + range->firstColumn, range->lastColumn - range->firstColumn + 1);
        }
    }

    std::vector<MinBlock> blocks_;
    std::vector<derivations::MvField> motion_;
    std::shared_ptr<derivations::CollocatedMotionField> collocated_;
    std::vector<std::uint32_t> ctbSliceAddrRs_;
    std::vector<std::uint32_t> ctbTileId_; // by raster-scan address
    std::vector<std::uint32_t> ctbAddrRsToTs_;
    std::uint32_t minTbLog2Size_ = 2;
    // MinTbAddrZs inside one CTB, by (yTb << (CtbLog2SizeY - MinTbLog2SizeY)) + xTb.
    std::vector<std::uint16_t> zScanInCtb_;
    [[nodiscard]] std::uint32_t zScanInCtb(std::uint32_t x, std::uint32_t y) const;
    std::vector<std::uint32_t> tileColumnStart_;
    std::vector<std::uint32_t> tileColumnWidth_;
    std::uint32_t widthInBlocks_ = 0;
    std::uint32_t picWidth_ = 0;
    std::uint32_t picHeight_ = 0;
    std::uint32_t ctbLog2Size_ = 4;
    std::uint32_t picWidthInCtbs_ = 0;
};

} // namespace vexilo::hevc::slice_data
