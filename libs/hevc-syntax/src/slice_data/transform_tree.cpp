// transform_tree(), transform_unit(), delta_qp(), chroma_qp_offset() and cross_comp_pred()
// (7.3.8.8, 7.3.8.10, 7.3.8.12, 7.3.8.14).
#include "slice_data/slice_data_parser.h"

#include "bit_reader.h"

namespace vexilo::hevc::slice_data {

using cabac::Element;

void SliceDataParser::transform_tree(CodingUnit& cu, std::uint32_t x0, std::uint32_t y0, std::uint32_t xBase,
                                     std::uint32_t yBase, std::uint32_t log2TrafoSize, std::uint32_t trafoDepth,
                                     std::uint32_t blkIdx, const std::array<bool, 2>& parentCbfCb,
                                     const std::array<bool, 2>& parentCbfCr)
{
    TransformTreeNode node;
    node.x0 = x0;
    node.y0 = y0;
    node.log2TrafoSize = log2TrafoSize;
    node.trafoDepth = trafoDepth;
    node.blkIdx = blkIdx;
    node.preorderIndex = tuPreorder_++;
    node.cuPreorderIndex = cu.preorderIndex;

    const bool intra = cu.CuPredMode == PredMode::Intra;
    const bool IntraSplitFlag = intra && cu.partMode == PartMode::PART_NxN;
    const std::uint32_t MaxTrafoDepth = intra ? sps_.max_transform_hierarchy_depth_intra + (IntraSplitFlag ? 1U : 0U)
                                              : sps_.max_transform_hierarchy_depth_inter;
    const bool interSplitFlag = sps_.max_transform_hierarchy_depth_inter == 0 && cu.CuPredMode == PredMode::Inter &&
                                cu.partMode != PartMode::PART_2Nx2N && trafoDepth == 0;
    if (log2TrafoSize <= sps_.MaxTbLog2SizeY && log2TrafoSize > sps_.MinTbLog2SizeY && trafoDepth < MaxTrafoDepth &&
        !(IntraSplitFlag && trafoDepth == 0)) {
        node.split_transform_flag = decode(Element::split_transform_flag, 5 - log2TrafoSize);
        node.signaled_split_transform_flag = node.split_transform_flag;
    } else {
        node.split_transform_flag =
            log2TrafoSize > sps_.MaxTbLog2SizeY || (IntraSplitFlag && trafoDepth == 0) || interSplitFlag;
    }
    require(!node.split_transform_flag || log2TrafoSize > 2, "transform tree split below 4x4");

    const std::uint32_t ChromaArrayType = sps_.ChromaArrayType;
    if ((log2TrafoSize > 2 && ChromaArrayType != 0) || ChromaArrayType == 3) {
        const bool secondChromaBlock = ChromaArrayType == 2 && (!node.split_transform_flag || log2TrafoSize == 3);
        auto chromaCbf = [&](std::array<bool, 2>& cbf, std::array<bool, 2>& signaled, bool parent) {
            if (trafoDepth == 0 || parent) {
                cbf[0] = decode(Element::cbf_chroma, trafoDepth);
                signaled[0] = true;
                if (secondChromaBlock) {
                    cbf[1] = decode(Element::cbf_chroma, trafoDepth);
                    signaled[1] = true;
                }
            }
        };
        chromaCbf(node.cbf_cb, node.cbfSignaledCb, parentCbfCb[0]);
        chromaCbf(node.cbf_cr, node.cbfSignaledCr, parentCbfCr[0]);
    }

    if (node.split_transform_flag) {
        sink_.transformTreeNode(node);
        const std::uint32_t half = 1U << (log2TrafoSize - 1);
        for (std::uint32_t i = 0; i < 4; ++i) {
            transform_tree(cu, x0 + (i & 1U) * half, y0 + (i >> 1U) * half, x0, y0, log2TrafoSize - 1, trafoDepth + 1,
                           i, node.cbf_cb, node.cbf_cr);
        }
        return;
    }
    node.cbf_luma = true;
    if (intra || trafoDepth != 0 || node.cbf_cb[0] || node.cbf_cr[0] ||
        (ChromaArrayType == 2 && (node.cbf_cb[1] || node.cbf_cr[1]))) {
        node.cbf_luma = decode(Element::cbf_luma, trafoDepth == 0 ? 1 : 0);
        node.signaled_cbf_luma = node.cbf_luma;
    }
    transform_unit(cu, node, xBase, yBase, parentCbfCb, parentCbfCr);
    sink_.transformTreeNode(node);
}

void SliceDataParser::transform_unit(CodingUnit& cu, TransformTreeNode& node, std::uint32_t xBase,
                                     std::uint32_t yBase, const std::array<bool, 2>& parentCbfCb,
                                     const std::array<bool, 2>& parentCbfCr)
{
    const std::uint32_t ChromaArrayType = sps_.ChromaArrayType;
    const std::uint32_t log2TrafoSize = node.log2TrafoSize;
    const std::uint32_t log2TrafoSizeC = std::max<std::uint32_t>(2, log2TrafoSize - (ChromaArrayType == 3 ? 0 : 1));
    // 4x4 luma blocks of 4:2:0 and 4:2:2 share the chroma blocks of their parent, coded with
    // the last of the four.
    const bool chromaOfParent = ChromaArrayType != 3 && log2TrafoSize == 2;
    const std::array<bool, 2>& cbfCb = chromaOfParent ? parentCbfCb : node.cbf_cb;
    const std::array<bool, 2>& cbfCr = chromaOfParent ? parentCbfCr : node.cbf_cr;
    const unsigned chromaBlocks = ChromaArrayType == 2 ? 2 : 1;
    const bool cbfChroma =
        ChromaArrayType != 0 && (cbfCb[0] || cbfCr[0] || (ChromaArrayType == 2 && (cbfCb[1] || cbfCr[1])));
    if (!node.cbf_luma && !cbfChroma) {
        return;
    }
    delta_qp(cu, node);
    if (cbfChroma && !cu.cu_transquant_bypass_flag) {
        chroma_qp_offset(cu, node);
    }
    if (node.cbf_luma) {
        residual_coding(cu, node.residuals[0], node.x0, node.y0, log2TrafoSize, 0);
    }
    if (ChromaArrayType == 0) {
        return;
    }
    if (log2TrafoSize > 2 || ChromaArrayType == 3) {
        const bool crossComponent =
            pps_.range.cross_component_prediction_enabled_flag && node.cbf_luma &&
            (cu.CuPredMode == PredMode::Inter ||
             cu.intra_chroma_pred_mode[intraPartition(cu, node.x0, node.y0)] == 4);
        for (unsigned cIdx = 1; cIdx <= 2; ++cIdx) {
            if (crossComponent) {
                cross_comp_pred(node, cIdx - 1);
            }
            const std::array<bool, 2>& cbf = cIdx == 1 ? cbfCb : cbfCr;
            for (unsigned tIdx = 0; tIdx < chromaBlocks; ++tIdx) {
                if (cbf[tIdx]) {
                    residual_coding(cu, node.residuals[2 * cIdx - 1 + tIdx], node.x0, node.y0 + (tIdx << log2TrafoSizeC),
                                    log2TrafoSizeC, cIdx);
                }
            }
        }
    } else if (node.blkIdx == 3) {
        for (unsigned cIdx = 1; cIdx <= 2; ++cIdx) {
            const std::array<bool, 2>& cbf = cIdx == 1 ? cbfCb : cbfCr;
            for (unsigned tIdx = 0; tIdx < chromaBlocks; ++tIdx) {
                if (cbf[tIdx]) {
                    residual_coding(cu, node.residuals[2 * cIdx - 1 + tIdx], xBase, yBase + (tIdx << log2TrafoSizeC), 2,
                                    cIdx);
                }
            }
        }
    }
}

void SliceDataParser::delta_qp(CodingUnit& cu, TransformTreeNode& node)
{
    if (!pps_.cu_qp_delta_enabled_flag || IsCuQpDeltaCoded_) {
        return;
    }
    IsCuQpDeltaCoded_ = true;
    // cu_qp_delta_abs: TU prefix with cMax 5 (first bin ctxInc 0, others 1), EG0 suffix.
    std::uint64_t cu_qp_delta_abs = 0;
    while (cu_qp_delta_abs < 5 && decode(Element::cu_qp_delta_abs, cu_qp_delta_abs == 0 ? 0 : 1)) {
        ++cu_qp_delta_abs;
    }
    if (cu_qp_delta_abs == 5) {
        cu_qp_delta_abs += expGolombBypass(0);
    }
    const std::uint64_t halfOffset = sps_.QpBdOffsetY / 2;
    require(cu_qp_delta_abs <= 26 + halfOffset, "cu_qp_delta_abs out of range");
    std::int32_t value = static_cast<std::int32_t>(cu_qp_delta_abs);
    if (cu_qp_delta_abs > 0 && engine_.decodeBypass()) { // cu_qp_delta_sign_flag
        value = -value;
    }
    require(value <= 25 + static_cast<std::int32_t>(halfOffset), "CuQpDeltaVal out of range");
    CuQpDeltaVal_ = value;
    cu.signaled_CuQpDeltaVal = value;
    node.signaled_CuQpDeltaVal = value;
}

void SliceDataParser::chroma_qp_offset(CodingUnit& cu, TransformTreeNode& node)
{
    if (!header_.cu_chroma_qp_offset_enabled_flag || IsCuChromaQpOffsetCoded_) {
        return;
    }
    const bool flag = decode(Element::cu_chroma_qp_offset_flag, 0);
    std::uint32_t idx = 0;
    const std::uint32_t cMax = pps_.range.chroma_qp_offset_list_len_minus1;
    if (flag && cMax > 0) {
        while (idx < cMax && decode(Element::cu_chroma_qp_offset_idx, 0)) {
            ++idx;
        }
        cu.signaled_cu_chroma_qp_offset_idx = idx;
        node.signaled_cu_chroma_qp_offset_idx = idx;
    }
    require(idx < pps_.range.cb_qp_offset_list.size(), "cu_chroma_qp_offset_idx out of range");
    IsCuChromaQpOffsetCoded_ = true;
    cu.signaled_cu_chroma_qp_offset_flag = flag;
    node.signaled_cu_chroma_qp_offset_flag = flag;
    cu.cu_chroma_qp_offset_flag = flag;
    cu.cu_chroma_qp_offset_idx = idx;
    state_.CuQpOffsetCb = flag ? pps_.range.cb_qp_offset_list[idx] : 0;
    state_.CuQpOffsetCr = flag ? pps_.range.cr_qp_offset_list[idx] : 0;
}

void SliceDataParser::cross_comp_pred(TransformTreeNode& node, unsigned c)
{
    std::uint8_t log2_res_scale_abs_plus1 = 0;
    while (log2_res_scale_abs_plus1 < 4 && decode(Element::log2_res_scale_abs_plus1, 4 * c + log2_res_scale_abs_plus1)) {
        ++log2_res_scale_abs_plus1;
    }
    node.log2_res_scale_abs_plus1[c] = log2_res_scale_abs_plus1;
    if (log2_res_scale_abs_plus1 != 0) {
        node.res_scale_sign_flag[c] = decode(Element::res_scale_sign_flag, c);
    }
    node.crossComponentSignaled[c] = true;
}

} // namespace vexilo::hevc::slice_data
