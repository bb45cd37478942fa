#include "slice_data/picture_block_state.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace vexilo::hevc::slice_data {
namespace {

// Position of a minimum transform block in the z-scan of its CTB (6.5.2, equation 6-10).
std::uint32_t zScanAddress(std::uint32_t xTb, std::uint32_t yTb, std::uint32_t log2TbsPerCtb)
{
    std::uint32_t address = 0;
    for (std::uint32_t i = 0; i < log2TbsPerCtb; ++i) {
        const std::uint32_t m = 1U << i;
        address += ((m & xTb) != 0 ? m * m : 0U) + ((m & yTb) != 0 ? 2U * m * m : 0U);
    }
    return address;
}

} // namespace

void PictureBlockState::beginPicture(const Sps& sps, const PictureLayout& layout)
{
    picWidth_ = sps.pic_width_in_luma_samples;
    picHeight_ = sps.pic_height_in_luma_samples;
    ctbLog2Size_ = sps.CtbLog2SizeY;
    picWidthInCtbs_ = sps.PicWidthInCtbsY;
    widthInBlocks_ = (picWidth_ + (1U << kBlockLog2Size) - 1U) >> kBlockLog2Size;
    const std::uint32_t heightInBlocks = (picHeight_ + (1U << kBlockLog2Size) - 1U) >> kBlockLog2Size;
    blocks_.resize(static_cast<std::size_t>(widthInBlocks_) * heightInBlocks);
    // MinBlock{} is all zero bytes: one memset instead of a store per 6-byte record.
    static_assert(std::is_trivially_copyable_v<MinBlock>);
    std::memset(static_cast<void*>(blocks_.data()), 0, blocks_.size() * sizeof(MinBlock));
    // Not cleared: motion is only looked up at available inter blocks, which this picture
    // has written; a damaged slice can at worst show a stale vector, whose reference index
    // the derivations check against the current lists.
    motion_.resize(blocks_.size());
    // A fresh field: the previous picture's may still be held as a reference.
    collocated_ = std::make_shared<derivations::CollocatedMotionField>(picWidth_, picHeight_);
    ctbSliceAddrRs_.assign(sps.PicSizeInCtbsY, kNoSlice);
    ctbTileId_.assign(sps.PicSizeInCtbsY, 0);
    ctbAddrRsToTs_ = layout.CtbAddrRsToTs;
    ctbAddrRsToTs_.resize(sps.PicSizeInCtbsY, 0);
    minTbLog2Size_ = std::min(sps.MinTbLog2SizeY, sps.CtbLog2SizeY);
    const std::uint32_t log2TbsPerCtb = ctbLog2Size_ - minTbLog2Size_;
    zScanInCtb_.resize(std::size_t{1} << (2 * log2TbsPerCtb));
    for (std::uint32_t yTb = 0; yTb < (1U << log2TbsPerCtb); ++yTb) {
        for (std::uint32_t xTb = 0; xTb < (1U << log2TbsPerCtb); ++xTb) {
            zScanInCtb_[(yTb << log2TbsPerCtb) + xTb] = static_cast<std::uint16_t>(zScanAddress(xTb, yTb, log2TbsPerCtb));
        }
    }
    for (std::size_t ts = 0; ts < layout.CtbAddrTsToRs.size() && ts < layout.TileId.size(); ++ts) {
        const std::uint32_t rs = layout.CtbAddrTsToRs[ts];
        if (rs < ctbTileId_.size()) {
            ctbTileId_[rs] = layout.TileId[ts];
        }
    }
    tileColumnStart_.assign(picWidthInCtbs_, 0);
    tileColumnWidth_.assign(picWidthInCtbs_, picWidthInCtbs_);
    for (std::size_t column = 0; column < layout.colWidth.size() && column < layout.colBd.size(); ++column) {
        for (std::uint32_t x = layout.colBd[column];
             x < layout.colBd[column] + layout.colWidth[column] && x < picWidthInCtbs_; ++x) {
            tileColumnStart_[x] = layout.colBd[column];
            tileColumnWidth_[x] = layout.colWidth[column];
        }
    }
    wppStorage.reset();
    dependentSliceStorage.reset();
    lastCuQpY = 0;
    CuQpOffsetCb = 0;
    CuQpOffsetCr = 0;
}

void PictureBlockState::storeMotion(std::uint32_t xPb, std::uint32_t yPb, std::uint32_t nPbW, std::uint32_t nPbH,
                                    const derivations::CollocatedBlock& block)
{
    forEachEdgeRunOfBlocks(xPb, yPb, nPbW, nPbH, [&](std::size_t first, std::size_t count) {
        std::fill_n(motion_.begin() + static_cast<std::ptrdiff_t>(first), count, block.motion);
    });
    collocated_->store(xPb, yPb, nPbW, nPbH, block);
}

std::uint32_t PictureBlockState::zScanInCtb(std::uint32_t x, std::uint32_t y) const
{
    const std::uint32_t mask = (1U << ctbLog2Size_) - 1U;
    const std::uint32_t log2TbsPerCtb = ctbLog2Size_ - minTbLog2Size_;
    return zScanInCtb_[(((y & mask) >> minTbLog2Size_) << log2TbsPerCtb) + ((x & mask) >> minTbLog2Size_)];
}

bool PictureBlockState::available(std::uint32_t xCurr, std::uint32_t yCurr, std::int64_t xNb, std::int64_t yNb) const
{
    if (xNb < 0 || yNb < 0 || xNb >= picWidth_ || yNb >= picHeight_) {
        return false;
    }
    const auto x = static_cast<std::uint32_t>(xNb);
    const auto y = static_cast<std::uint32_t>(yNb);
    const std::uint32_t current = ctbAddrOf(xCurr, yCurr);
    const std::uint32_t neighbour = ctbAddrOf(x, y);
    if (neighbour == current) {
        // Most neighbours lie in the current CTB, whose slice and tile are its own.
        return ctbSliceAddrRs_[current] != kNoSlice && zScanInCtb(x, y) <= zScanInCtb(xCurr, yCurr);
    }
    if (ctbSliceAddrRs_[neighbour] == kNoSlice || ctbSliceAddrRs_[neighbour] != ctbSliceAddrRs_[current] ||
        ctbTileId_[neighbour] != ctbTileId_[current]) {
        return false;
    }
    return ctbAddrRsToTs_[neighbour] < ctbAddrRsToTs_[current];
}

bool PictureBlockState::availablePb(const PredictionBlock& pb, std::int64_t xNb, std::int64_t yNb) const
{
    const bool sameCb = pb.xCb <= xNb && pb.yCb <= yNb && std::int64_t{pb.xCb} + pb.nCbS > xNb &&
                        std::int64_t{pb.yCb} + pb.nCbS > yNb;
    if (sameCb) {
        // An earlier PU of the current CB, which is inter; but the third PU of an NxN CU
        // comes after the second.
        return !(pb.nPbW << 1U == pb.nCbS && pb.nPbH << 1U == pb.nCbS && pb.partIdx == 1 &&
                 std::int64_t{pb.yCb} + pb.nPbH <= yNb && std::int64_t{pb.xCb} + pb.nPbW > xNb);
    }
    // Outside the current CB the z-scan check ensures the neighbour's CU has been parsed.
    return available(pb.xPb, pb.yPb, xNb, yNb) &&
           blocks_[(static_cast<std::size_t>(yNb) >> kBlockLog2Size) * widthInBlocks_ +
                   (static_cast<std::size_t>(xNb) >> kBlockLog2Size)]
                   .intra == 0;
}

} // namespace vexilo::hevc::slice_data
