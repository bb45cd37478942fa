#include "parameter_sets.h"

#include <utility>

namespace vexilo::hevc {

namespace {
constexpr std::int32_t kMinInitQpMinus26 = -(26 + 48); // -(26 + QpBdOffsetY) at 16 bits
constexpr std::int32_t kMaxInitQpMinus26 = 25;
constexpr std::uint32_t kMaxChromaQpOffsetListLenMinus1 = 5;

void parseTiles(BitReader& reader, Pps& pps)
{
    pps.num_tile_columns_minus1 = reader.ueMax(kMaxTileColumns - 1U, "num_tile_columns_minus1 above 19");
    pps.num_tile_rows_minus1 = reader.ueMax(kMaxTileRows - 1U, "num_tile_rows_minus1 above 21");
    require(pps.num_tile_columns_minus1 > 0 || pps.num_tile_rows_minus1 > 0, "tiles enabled with a single tile");
    pps.uniform_spacing_flag = reader.flag();
    if (!pps.uniform_spacing_flag) {
        for (std::uint32_t i = 0; i < pps.num_tile_columns_minus1; ++i) {
            pps.column_width_minus1.push_back(reader.ue());
        }
        for (std::uint32_t i = 0; i < pps.num_tile_rows_minus1; ++i) {
            pps.row_height_minus1.push_back(reader.ue());
        }
    }
    pps.loop_filter_across_tiles_enabled_flag = reader.flag();
}

void parseDeblockingControl(BitReader& reader, Pps& pps)
{
    pps.deblocking_filter_control_present_flag = reader.flag();
    if (!pps.deblocking_filter_control_present_flag) {
        return;
    }
    pps.deblocking_filter_override_enabled_flag = reader.flag();
    pps.pps_deblocking_filter_disabled_flag = reader.flag();
    if (!pps.pps_deblocking_filter_disabled_flag) {
        pps.pps_beta_offset_div2 = reader.seRange(-6, 6, "pps_beta_offset_div2 outside -6..6");
        pps.pps_tc_offset_div2 = reader.seRange(-6, 6, "pps_tc_offset_div2 outside -6..6");
    }
}

void parsePpsRangeExtension(BitReader& reader, Pps& pps)
{
    PpsRangeExtension& range = pps.range;
    if (pps.transform_skip_enabled_flag) {
        range.log2_max_transform_skip_block_size_minus2 = reader.ueMax(3, "log2_max_transform_skip_block_size_minus2 above 3");
    }
    range.cross_component_prediction_enabled_flag = reader.flag();
    range.chroma_qp_offset_list_enabled_flag = reader.flag();
    if (range.chroma_qp_offset_list_enabled_flag) {
        range.diff_cu_chroma_qp_offset_depth = reader.ueMax(3, "diff_cu_chroma_qp_offset_depth above 3");
        range.chroma_qp_offset_list_len_minus1 =
            reader.ueMax(kMaxChromaQpOffsetListLenMinus1, "chroma_qp_offset_list_len_minus1 above 5");
        for (std::uint32_t i = 0; i <= range.chroma_qp_offset_list_len_minus1; ++i) {
            range.cb_qp_offset_list[i] = reader.seRange(-12, 12, "cb_qp_offset_list outside -12..12");
            range.cr_qp_offset_list[i] = reader.seRange(-12, 12, "cr_qp_offset_list outside -12..12");
        }
    }
    range.log2_sao_offset_scale_luma = reader.ueMax(6, "log2_sao_offset_scale_luma above 6");
    range.log2_sao_offset_scale_chroma = reader.ueMax(6, "log2_sao_offset_scale_chroma above 6");
}

void parsePpsSccExtension(BitReader& reader, Pps& pps)
{
    PpsSccExtension& scc = pps.scc;
    scc.pps_curr_pic_ref_enabled_flag = reader.flag();
    scc.residual_adaptive_colour_transform_enabled_flag = reader.flag();
    if (scc.residual_adaptive_colour_transform_enabled_flag) {
        scc.pps_slice_act_qp_offsets_present_flag = reader.flag();
        scc.pps_act_y_qp_offset_plus5 = reader.seRange(-7, 17, "pps_act_y_qp_offset_plus5 out of range");
        scc.pps_act_cb_qp_offset_plus5 = reader.seRange(-7, 17, "pps_act_cb_qp_offset_plus5 out of range");
        scc.pps_act_cr_qp_offset_plus3 = reader.seRange(-9, 15, "pps_act_cr_qp_offset_plus3 out of range");
    }
    scc.pps_palette_predictor_initializers_present_flag = reader.flag();
    // The initializers themselves are not kept; nothing in the slice header depends on them.
}

Pps parsePpsSyntax(BitReader& reader)
{
    Pps pps;
    pps.pps_pic_parameter_set_id = reader.ueMax(kMaxPpsCount - 1U, "pps_pic_parameter_set_id above 63");
    pps.pps_seq_parameter_set_id = reader.ueMax(kMaxSpsCount - 1U, "pps_seq_parameter_set_id above 15");
    pps.dependent_slice_segments_enabled_flag = reader.flag();
    pps.output_flag_present_flag = reader.flag();
    pps.num_extra_slice_header_bits = reader.u(3);
    pps.sign_data_hiding_enabled_flag = reader.flag();
    pps.cabac_init_present_flag = reader.flag();
    pps.num_ref_idx_l0_default_active_minus1 = reader.ueMax(14, "num_ref_idx_l0_default_active_minus1 above 14");
    pps.num_ref_idx_l1_default_active_minus1 = reader.ueMax(14, "num_ref_idx_l1_default_active_minus1 above 14");
    pps.init_qp_minus26 = reader.seRange(kMinInitQpMinus26, kMaxInitQpMinus26, "init_qp_minus26 out of range");
    pps.constrained_intra_pred_flag = reader.flag();
    pps.transform_skip_enabled_flag = reader.flag();
    pps.cu_qp_delta_enabled_flag = reader.flag();
    if (pps.cu_qp_delta_enabled_flag) {
        pps.diff_cu_qp_delta_depth = reader.ueMax(3, "diff_cu_qp_delta_depth above 3");
    }
    pps.pps_cb_qp_offset = reader.seRange(-12, 12, "pps_cb_qp_offset outside -12..12");
    pps.pps_cr_qp_offset = reader.seRange(-12, 12, "pps_cr_qp_offset outside -12..12");
    pps.pps_slice_chroma_qp_offsets_present_flag = reader.flag();
    pps.weighted_pred_flag = reader.flag();
    pps.weighted_bipred_flag = reader.flag();
    pps.transquant_bypass_enabled_flag = reader.flag();
    pps.tiles_enabled_flag = reader.flag();
    pps.entropy_coding_sync_enabled_flag = reader.flag();
    if (pps.tiles_enabled_flag) {
        parseTiles(reader, pps);
    }
    pps.pps_loop_filter_across_slices_enabled_flag = reader.flag();
    parseDeblockingControl(reader, pps);
    pps.pps_scaling_list_data_present_flag = reader.flag();
    pps.scalingList = defaultScalingList();
    if (pps.pps_scaling_list_data_present_flag) {
        // ChromaArrayType is not known before activation; the 4:4:4 copy happens then.
        pps.scalingList = parseScalingListData(reader, 0);
    }
    pps.lists_modification_present_flag = reader.flag();
    pps.log2_parallel_merge_level_minus2 = reader.ueMax(4, "log2_parallel_merge_level_minus2 above 4");
    pps.slice_segment_header_extension_present_flag = reader.flag();
    pps.pps_extension_present_flag = reader.flag();
    if (pps.pps_extension_present_flag) {
        pps.pps_range_extension_flag = reader.flag();
        pps.pps_multilayer_extension_flag = reader.flag();
        pps.pps_3d_extension_flag = reader.flag();
        pps.pps_scc_extension_flag = reader.flag();
        pps.pps_extension_4bits = reader.u(4);
    }
    if (pps.pps_range_extension_flag) {
        parsePpsRangeExtension(reader, pps);
    }
    if (pps.pps_multilayer_extension_flag || pps.pps_3d_extension_flag) {
        pps.extensionsLeftUnparsed = true;
    } else if (pps.pps_scc_extension_flag) {
        parsePpsSccExtension(reader, pps);
    }
    return pps;
}

// 6.5.1, equations 6-3 and 6-4 (uniform spacing) or the signaled sizes with the last
// column/row taking the rest.
std::vector<std::uint32_t> tileSizes(std::uint32_t numMinus1, bool uniform, const std::vector<std::uint32_t>& minus1,
                                     std::uint32_t picSizeInCtbs)
{
    const std::uint32_t count = numMinus1 + 1U;
    require(count <= picSizeInCtbs, "more tiles than CTBs in a picture dimension");
    std::vector<std::uint32_t> sizes(count);
    if (uniform) {
        for (std::uint32_t i = 0; i < count; ++i) {
            sizes[i] = ((i + 1U) * picSizeInCtbs) / count - (i * picSizeInCtbs) / count;
        }
        return sizes;
    }
    std::uint64_t used = 0;
    for (std::uint32_t i = 0; i < numMinus1; ++i) {
        sizes[i] = minus1[i] + 1U;
        used += sizes[i];
    }
    require(used < picSizeInCtbs, "tile sizes exceed the picture");
    sizes[numMinus1] = static_cast<std::uint32_t>(picSizeInCtbs - used);
    return sizes;
}

std::vector<std::uint32_t> boundaries(const std::vector<std::uint32_t>& sizes)
{
    std::vector<std::uint32_t> bd(sizes.size() + 1U, 0);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        bd[i + 1] = bd[i] + sizes[i];
    }
    return bd;
}
} // namespace

ParseResult<Pps> parsePps(std::span<const std::uint8_t> rbsp)
{
    return parseRbsp<Pps>(rbsp, [](BitReader& reader) { return parsePpsSyntax(reader); });
}

namespace {
void deriveSpsDependentVariables(const Sps& sps, const Pps& pps, PictureLayout& layout)
{
    require(pps.diff_cu_qp_delta_depth <= sps.log2_diff_max_min_luma_coding_block_size,
            "diff_cu_qp_delta_depth above log2_diff_max_min_luma_coding_block_size");
    require(pps.range.diff_cu_chroma_qp_offset_depth <= sps.log2_diff_max_min_luma_coding_block_size,
            "diff_cu_chroma_qp_offset_depth above log2_diff_max_min_luma_coding_block_size");
    layout.Log2MinCuQpDeltaSize = sps.CtbLog2SizeY - pps.diff_cu_qp_delta_depth;
    layout.Log2MinCuChromaQpOffsetSize = sps.CtbLog2SizeY - pps.range.diff_cu_chroma_qp_offset_depth;
    layout.Log2ParMrgLevel = pps.log2_parallel_merge_level_minus2 + 2U;
    require(layout.Log2ParMrgLevel <= sps.CtbLog2SizeY, "Log2ParMrgLevel above CtbLog2SizeY");
    layout.Log2MaxTransformSkipSize = pps.range.log2_max_transform_skip_block_size_minus2 + 2U;
    if (!sps.scaling_list_enabled_flag) {
        layout.scalingList = flatScalingList();
        return;
    }
    layout.scalingList = pps.pps_scaling_list_data_present_flag ? pps.scalingList : sps.scalingList;
    if (pps.pps_scaling_list_data_present_flag && sps.ChromaArrayType == 3) {
        // The PPS was parsed before its SPS was known; the 4:4:4 chroma 32x32 copies happen now.
        for (const unsigned matrixId : {1U, 2U, 4U, 5U}) {
            layout.scalingList.ScalingList[3][matrixId] = layout.scalingList.ScalingList[2][matrixId];
            layout.scalingList.dcCoef[3][matrixId] = layout.scalingList.dcCoef[2][matrixId];
        }
    }
}
} // namespace

TileGrid deriveTileGrid(const Sps& sps, const Pps& pps)
{
    TileGrid grid;
    grid.colWidth = tileSizes(pps.num_tile_columns_minus1, pps.uniform_spacing_flag, pps.column_width_minus1,
                              sps.PicWidthInCtbsY);
    grid.rowHeight = tileSizes(pps.num_tile_rows_minus1, pps.uniform_spacing_flag, pps.row_height_minus1,
                               sps.PicHeightInCtbsY);
    return grid;
}

PictureLayout derivePictureLayout(const Sps& sps, const Pps& pps)
{
    PictureLayout layout;
    deriveSpsDependentVariables(sps, pps, layout);
    TileGrid grid = deriveTileGrid(sps, pps);
    layout.colWidth = std::move(grid.colWidth);
    layout.rowHeight = std::move(grid.rowHeight);
    layout.colBd = boundaries(layout.colWidth);
    layout.rowBd = boundaries(layout.rowHeight);
    const std::uint32_t picSize = sps.PicSizeInCtbsY;
    layout.CtbAddrRsToTs.assign(picSize, 0);
    layout.CtbAddrTsToRs.assign(picSize, 0);
    layout.TileId.assign(picSize, 0);
    // Equation 6-5.
    for (std::uint32_t ctbAddrRs = 0; ctbAddrRs < picSize; ++ctbAddrRs) {
        const std::uint32_t tbX = ctbAddrRs % sps.PicWidthInCtbsY;
        const std::uint32_t tbY = ctbAddrRs / sps.PicWidthInCtbsY;
        std::uint32_t tileX = 0;
        std::uint32_t tileY = 0;
        for (std::uint32_t i = 0; i <= pps.num_tile_columns_minus1; ++i) {
            if (tbX >= layout.colBd[i]) {
                tileX = i;
            }
        }
        for (std::uint32_t j = 0; j <= pps.num_tile_rows_minus1; ++j) {
            if (tbY >= layout.rowBd[j]) {
                tileY = j;
            }
        }
        std::uint32_t value = 0;
        for (std::uint32_t i = 0; i < tileX; ++i) {
            value += layout.rowHeight[tileY] * layout.colWidth[i];
        }
        for (std::uint32_t j = 0; j < tileY; ++j) {
            value += sps.PicWidthInCtbsY * layout.rowHeight[j];
        }
        value += (tbY - layout.rowBd[tileY]) * layout.colWidth[tileX] + tbX - layout.colBd[tileX];
        layout.CtbAddrRsToTs[ctbAddrRs] = value;
        layout.CtbAddrTsToRs[value] = ctbAddrRs;
    }
    // Equation 6-7.
    std::uint32_t tileIdx = 0;
    for (std::uint32_t j = 0; j <= pps.num_tile_rows_minus1; ++j) {
        for (std::uint32_t i = 0; i <= pps.num_tile_columns_minus1; ++i, ++tileIdx) {
            for (std::uint32_t y = layout.rowBd[j]; y < layout.rowBd[j + 1]; ++y) {
                for (std::uint32_t x = layout.colBd[i]; x < layout.colBd[i + 1]; ++x) {
                    layout.TileId[layout.CtbAddrRsToTs[y * sps.PicWidthInCtbsY + x]] = tileIdx;
                }
            }
        }
    }
    return layout;
}

} // namespace vexilo::hevc
