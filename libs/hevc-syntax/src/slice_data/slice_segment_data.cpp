// slice_segment_data(), coding_tree_unit() and sao() (7.3.8.1 to 7.3.8.3) with the context
// initialisation, storage and synchronisation of 9.3.1 and 9.3.2 at slice segment, tile and
// wavefront row starts.
#include "slice_data/slice_data_parser.h"

#include "bit_reader.h"

#include <algorithm>

namespace vexilo::hevc::slice_data {

using cabac::Element;

SliceDataResult parseSliceSegmentData(const SliceDataInput& input, PictureBlockState& state, BlockSink& sink)
{
    SliceDataParser parser(input, state, sink);
    return parser.run();
}

SliceDataParser::SliceDataParser(const SliceDataInput& input, PictureBlockState& state, BlockSink& sink)
    : sps_(*input.sps), pps_(*input.pps), layout_(*input.layout), header_(*input.header), data_(input.sliceData),
      state_(state), sink_(sink), engine_(input.sliceData, 0), RefPicList_(input.RefPicList)
{
    motion_.PicOrderCntVal = input.PicOrderCntVal;
    motion_.isB = header_.isB();
    motion_.MaxNumMergeCand = header_.MaxNumMergeCand;
    motion_.Log2ParMrgLevel = layout_.Log2ParMrgLevel;
    motion_.num_ref_idx_active = {header_.num_ref_idx_l0_active_minus1 + 1U, header_.num_ref_idx_l1_active_minus1 + 1U};
    motion_.RefPicList = &RefPicList_;
    motion_.slice_temporal_mvp_enabled_flag = header_.slice_temporal_mvp_enabled_flag;
    motion_.collocated_from_l0_flag = header_.collocated_from_l0_flag;
    motion_.collocated_ref_idx = header_.collocated_ref_idx;
    motion_.CtbLog2SizeY = sps_.CtbLog2SizeY;
    motion_.pic_width_in_luma_samples = sps_.pic_width_in_luma_samples;
    motion_.pic_height_in_luma_samples = sps_.pic_height_in_luma_samples;
}

SliceDataResult SliceDataParser::run()
{
    try {
        require(!pps_.scc.residual_adaptive_colour_transform_enabled_flag && !sps_.scc.palette_mode_enabled_flag &&
                    !pps_.scc.pps_curr_pic_ref_enabled_flag,
                "screen content coding tools are not supported");
        require(sps_.PicSizeInCtbsY == layout_.CtbAddrTsToRs.size() && layout_.TileId.size() == sps_.PicSizeInCtbsY &&
                    layout_.CtbAddrRsToTs.size() == sps_.PicSizeInCtbsY,
                "picture layout does not match the SPS");
        require(state_.fits(sps_), "slice segment of another picture size than the picture state");
        slice_segment_data();
        result_.parsed = true;
    } catch (const SyntaxError& error) {
        result_.error = error.what();
        if (ctuOpen_) {
            ctuOpen_ = false;
            ctu_.error = result_.error;
            sink_.codingTreeUnit(ctu_);
        }
    }
    return result_;
}

void SliceDataParser::slice_segment_data()
{
    CtbAddrInTs_ = header_.CtbAddrInTs;
    require(CtbAddrInTs_ < sps_.PicSizeInCtbsY, "slice_segment_address outside the picture");
    CtbAddrInRs_ = layout_.CtbAddrTsToRs[CtbAddrInTs_];
    result_.endCtbAddrTs = CtbAddrInTs_;
    result_.subsetStarts.push_back(0);
    if (!header_.dependent_slice_segment_flag) {
        state_.lastCuQpY = header_.SliceQpY;
        state_.CuQpOffsetCb = 0;
        state_.CuQpOffsetCr = 0;
    }
    bool firstInSegment = true;
    bool end_of_slice_segment_flag = false;
    do {
        startCtu(firstInSegment);
        firstInSegment = false;
        if (header_.slice_sao_luma_flag || header_.slice_sao_chroma_flag) {
            sao(xCtb_ >> sps_.CtbLog2SizeY, yCtb_ >> sps_.CtbLog2SizeY);
        }
        coding_quadtree(xCtb_, yCtb_, sps_.CtbLog2SizeY, 0);
        end_of_slice_segment_flag = engine_.decodeTerminate();

        // 9.3.2.3: the state after the second CTB of a row seeds the next row.
        const std::uint32_t ctbX = CtbAddrInRs_ % sps_.PicWidthInCtbsY;
        if (pps_.entropy_coding_sync_enabled_flag &&
            (ctbX == state_.tileColumnStart(ctbX) + 1 || state_.tileColumnWidth(ctbX) == 1)) {
            state_.wppStorage = contexts_;
        }
        ctu_.parsed = true;
        ctuOpen_ = false;
        sink_.codingTreeUnit(ctu_);
        ++result_.ctusParsed;
        ++CtbAddrInTs_;
        result_.endCtbAddrTs = CtbAddrInTs_;
        if (end_of_slice_segment_flag) {
            if (pps_.dependent_slice_segments_enabled_flag) {
                state_.dependentSliceStorage = contexts_;
            }
            rbsp_slice_segment_trailing_bits();
            return;
        }
        require(CtbAddrInTs_ < sps_.PicSizeInCtbsY, "slice segment runs past the last CTB of the picture");
        CtbAddrInRs_ = layout_.CtbAddrTsToRs[CtbAddrInTs_];
        const bool tileChange = pps_.tiles_enabled_flag && layout_.TileId[CtbAddrInTs_] != layout_.TileId[CtbAddrInTs_ - 1];
        const bool rowChange = pps_.entropy_coding_sync_enabled_flag &&
                               (CtbAddrInRs_ % sps_.PicWidthInCtbsY == 0 ||
                                layout_.TileId[CtbAddrInTs_] != layout_.TileId[layout_.CtbAddrRsToTs[CtbAddrInRs_ - 1]]);
        if (tileChange || rowChange) {
            require(engine_.decodeTerminate(), "end_of_subset_one_bit is 0");
            byte_alignment();
            result_.subsetStarts.push_back(engine_.bitPosition() / 8U);
        }
    } while (true);
}

void SliceDataParser::startCtu(bool firstInSegment)
{
    xCtb_ = (CtbAddrInRs_ % sps_.PicWidthInCtbsY) << sps_.CtbLog2SizeY;
    yCtb_ = (CtbAddrInRs_ / sps_.PicWidthInCtbsY) << sps_.CtbLog2SizeY;
    state_.setCtbSlice(CtbAddrInRs_, header_.SliceAddrRs);
    ctu_ = CodingTreeUnit{};
    ctu_.CtbAddrInRs = CtbAddrInRs_;
    ctu_.CtbAddrInTs = CtbAddrInTs_;
    ctu_.xCtb = xCtb_;
    ctu_.yCtb = yCtb_;
    cuPreorder_ = 0;
    ctuOpen_ = true;

    const bool firstCtbInTile = CtbAddrInTs_ == 0 || layout_.TileId[CtbAddrInTs_] != layout_.TileId[CtbAddrInTs_ - 1];
    const std::uint32_t ctbX = CtbAddrInRs_ % sps_.PicWidthInCtbsY;
    const bool wppRowStart = pps_.entropy_coding_sync_enabled_flag && ctbX == state_.tileColumnStart(ctbX);
    if (firstCtbInTile || wppRowStart) {
        // qPY_PREV restarts at SliceQpY in each tile and, with wavefronts, each CTB row.
        state_.lastCuQpY = header_.SliceQpY;
    }
    if (!firstInSegment && !firstCtbInTile && !wppRowStart) {
        return;
    }
    engine_.initialise();
    if (firstCtbInTile) {
        initialiseContexts();
    } else if (wppRowStart) {
        const std::int64_t xTr = static_cast<std::int64_t>(xCtb_) + (std::int64_t{1} << sps_.CtbLog2SizeY);
        const std::int64_t yTr = static_cast<std::int64_t>(yCtb_) - (std::int64_t{1} << sps_.CtbLog2SizeY);
        if (state_.available(xCtb_, yCtb_, xTr, yTr) && state_.wppStorage) {
            contexts_ = *state_.wppStorage;
        } else {
            initialiseContexts();
        }
    } else if (header_.dependent_slice_segment_flag) {
        require(state_.dependentSliceStorage.has_value(),
                "dependent slice segment without a preceding slice segment of the picture");
        contexts_ = *state_.dependentSliceStorage;
    } else {
        initialiseContexts();
    }
}

void SliceDataParser::initialiseContexts()
{
    cabac::initialiseContexts(contexts_, cabac::initTypeOf(header_.slice_type, header_.cabac_init_flag),
                              header_.SliceQpY);
}

void SliceDataParser::byte_alignment()
{
    require(engine_.readBits(1) == 1, "alignment_bit_equal_to_one is 0");
    while (!engine_.byteAligned()) {
        require(engine_.readBits(1) == 0, "alignment_bit_equal_to_zero is 1");
    }
}

void SliceDataParser::rbsp_slice_segment_trailing_bits()
{
    require(engine_.readBits(1) == 1, "rbsp_stop_one_bit is 0");
    while (!engine_.byteAligned()) {
        require(engine_.readBits(1) == 0, "rbsp_alignment_zero_bit is 1");
    }
    const std::uint64_t end = engine_.bitPosition() / 8U;
    result_.trailingBytes = data_.size() - end;
    // Only cabac_zero_words may follow.
    require(std::all_of(data_.begin() + static_cast<std::ptrdiff_t>(end), data_.end(),
                        [](std::uint8_t byte) { return byte == 0; }),
            "data after the end of the slice segment");
}

void SliceDataParser::sao(std::uint32_t rx, std::uint32_t ry)
{
    ctu_.saoSignaled = true;
    if (rx > 0) {
        const bool leftCtbInSliceSeg = CtbAddrInRs_ > header_.SliceAddrRs;
        const bool leftCtbInTile = layout_.TileId[CtbAddrInTs_] == layout_.TileId[layout_.CtbAddrRsToTs[CtbAddrInRs_ - 1]];
        if (leftCtbInSliceSeg && leftCtbInTile) {
            ctu_.sao_merge_left_flag = decode(Element::sao_merge_flag, 0);
        }
    }
    if (ry > 0 && !ctu_.sao_merge_left_flag) {
        const bool upCtbInSliceSeg = (CtbAddrInRs_ - sps_.PicWidthInCtbsY) >= header_.SliceAddrRs;
        const bool upCtbInTile =
            layout_.TileId[CtbAddrInTs_] == layout_.TileId[layout_.CtbAddrRsToTs[CtbAddrInRs_ - sps_.PicWidthInCtbsY]];
        if (upCtbInSliceSeg && upCtbInTile) {
            ctu_.sao_merge_up_flag = decode(Element::sao_merge_flag, 0);
        }
    }
    if (ctu_.sao_merge_left_flag || ctu_.sao_merge_up_flag) {
        return; // the parameters are the neighbour's; they are not tracked here
    }
    const unsigned components = sps_.ChromaArrayType != 0 ? 3 : 1;
    for (unsigned cIdx = 0; cIdx < components; ++cIdx) {
        if (!((header_.slice_sao_luma_flag && cIdx == 0) || (header_.slice_sao_chroma_flag && cIdx > 0))) {
            continue;
        }
        if (cIdx == 2) {
            ctu_.SaoTypeIdx[2] = ctu_.SaoTypeIdx[1];
        } else {
            // sao_type_idx_luma / sao_type_idx_chroma: TR cMax 2, first bin context coded.
            std::uint8_t type = 0;
            if (decode(Element::sao_type_idx, 0)) {
                type = engine_.decodeBypass() ? 2 : 1;
            }
            ctu_.SaoTypeIdx[cIdx] = type;
        }
        if (ctu_.SaoTypeIdx[cIdx] == 0) {
            continue;
        }
        const std::uint32_t bitDepth = cIdx == 0 ? sps_.BitDepthY : sps_.BitDepthC;
        const std::uint32_t cMax = (1U << (std::min<std::uint32_t>(bitDepth, 10) - 5)) - 1;
        std::array<std::uint32_t, 4> sao_offset_abs{};
        for (auto& offset : sao_offset_abs) {
            while (offset < cMax && engine_.decodeBypass()) {
                ++offset;
            }
        }
        if (ctu_.SaoTypeIdx[cIdx] == 1) {
            for (const std::uint32_t offset : sao_offset_abs) {
                if (offset != 0) {
                    engine_.decodeBypass(); // sao_offset_sign
                }
            }
            engine_.decodeBypassBits(5); // sao_band_position
        } else if (cIdx < 2) {
            engine_.decodeBypassBits(2); // sao_eo_class_luma / sao_eo_class_chroma
        }
    }
}

} // namespace vexilo::hevc::slice_data
