// coding_quadtree(), coding_unit(), pcm_sample(), prediction_unit() and mvd_coding()
// (7.3.8.4 to 7.3.8.7, 7.3.8.9), with the intra mode and QpY derivations (8.4.2, 8.4.3,
// 8.6.1) that later syntax and neighbouring blocks depend on.
#include "slice_data/slice_data_parser.h"

#include "bit_reader.h"
#include "derivations/intra_pred_mode.h"
#include "derivations/qp.h"

#include <algorithm>

namespace vexilo::hevc::slice_data {

using cabac::Element;

void SliceDataParser::coding_quadtree(std::uint32_t x0, std::uint32_t y0, std::uint32_t log2CbSize,
                                      std::uint32_t cqtDepth)
{
    const std::uint32_t size = 1U << log2CbSize;
    std::optional<bool> signaled;
    bool split_cu_flag = log2CbSize > sps_.MinCbLog2SizeY;
    if (x0 + size <= sps_.pic_width_in_luma_samples && y0 + size <= sps_.pic_height_in_luma_samples && log2CbSize > sps_.MinCbLog2SizeY) {
        // 9.3.4.2.2: one context step for each neighbour coded deeper than this node.
        unsigned ctxInc = 0;
        if (state_.available(x0, y0, std::int64_t{x0} - 1, y0) && state_.at(x0 - 1, y0).ctDepth > cqtDepth) {
            ++ctxInc;
        }
        if (state_.available(x0, y0, x0, std::int64_t{y0} - 1) && state_.at(x0, y0 - 1).ctDepth > cqtDepth) {
            ++ctxInc;
        }
        split_cu_flag = decode(Element::split_cu_flag, ctxInc);
        signaled = split_cu_flag;
    }
    if (log2CbSize >= layout_.Log2MinCuQpDeltaSize) {
        IsCuQpDeltaCoded_ = false;
        CuQpDeltaVal_ = 0;
        startQuantizationGroup(x0, y0);
    }
    if (header_.cu_chroma_qp_offset_enabled_flag && log2CbSize >= layout_.Log2MinCuChromaQpOffsetSize) {
        IsCuChromaQpOffsetCoded_ = false;
    }
    if (split_cu_flag) {
        CodingQuadtreeNode node;
        node.x0 = x0;
        node.y0 = y0;
        node.log2CbSize = log2CbSize;
        node.cqtDepth = cqtDepth;
        node.preorderIndex = cuPreorder_++;
        node.split_cu_flag = signaled;
        sink_.codingQuadtreeNode(node);
        const std::uint32_t half = size >> 1U;
        for (std::uint32_t i = 0; i < 4; ++i) {
            const std::uint32_t x = x0 + (i & 1U) * half;
            const std::uint32_t y = y0 + (i >> 1U) * half;
            if (x < sps_.pic_width_in_luma_samples && y < sps_.pic_height_in_luma_samples) {
                coding_quadtree(x, y, log2CbSize - 1, cqtDepth + 1);
            }
        }
        return;
    }
    CodingUnit cu;
    cu.x0 = x0;
    cu.y0 = y0;
    cu.log2CbSize = log2CbSize;
    cu.cqtDepth = cqtDepth;
    cu.preorderIndex = cuPreorder_++;
    cu.split_cu_flag = signaled;
    coding_unit(cu);
}

void SliceDataParser::startQuantizationGroup(std::uint32_t x0, std::uint32_t y0)
{
    xQg_ = x0;
    yQg_ = y0;
    qPY_PREV_ = state_.lastCuQpY;
}

void SliceDataParser::deriveQpY(CodingUnit& cu)
{
    // qPY_A and qPY_B come from the quantization group's neighbours only inside the CTB.
    const std::int32_t qPY_A = xQg_ > xCtb_ ? state_.at(xQg_ - 1, yQg_).qpY : qPY_PREV_;
    const std::int32_t qPY_B = yQg_ > yCtb_ ? state_.at(xQg_, yQg_ - 1).qpY : qPY_PREV_;
    const std::int32_t qPY_PRED = (qPY_A + qPY_B + 1) >> 1;
    cu.CuQpDeltaVal = CuQpDeltaVal_;
    cu.QpY = derivations::QpY(qPY_PRED, CuQpDeltaVal_, static_cast<std::int32_t>(sps_.QpBdOffsetY));
    const std::uint32_t size = 1U << cu.log2CbSize;
    state_.fillEdges(cu.x0, cu.y0, size, size, &MinBlock::qpY, static_cast<std::int8_t>(cu.QpY));
    state_.lastCuQpY = cu.QpY;
    cu.CuQpOffsetCb = state_.CuQpOffsetCb;
    cu.CuQpOffsetCr = state_.CuQpOffsetCr;
    if (sps_.ChromaArrayType != 0) {
        const auto QpBdOffsetC = static_cast<std::int32_t>(sps_.QpBdOffsetC);
        auto QpPrime = [&](std::int32_t ppsOffset, std::int32_t sliceOffset, std::int32_t cuOffset) {
            const std::int32_t qPi = std::clamp(cu.QpY + ppsOffset + sliceOffset + cuOffset, -QpBdOffsetC, 57);
            return derivations::chromaQpFromIndex(qPi, sps_.ChromaArrayType) + QpBdOffsetC;
        };
        cu.QpPrimeCb = QpPrime(pps_.pps_cb_qp_offset, header_.slice_cb_qp_offset, cu.CuQpOffsetCb);
        cu.QpPrimeCr = QpPrime(pps_.pps_cr_qp_offset, header_.slice_cr_qp_offset, cu.CuQpOffsetCr);
    }
}

void SliceDataParser::markCodingBlock(const CodingUnit& cu)
{
    // One pass over the CB's 4x4 blocks for what its neighbours and its own PBs look up;
    // the QP and intra modes follow once derived.
    MinBlock block;
    block.ctDepth = static_cast<std::uint8_t>(cu.cqtDepth);
    block.cuSkipFlag = cu.cu_skip_flag ? 1 : 0;
    block.intra = cu.CuPredMode == PredMode::Intra ? 1 : 0;
    block.intraPredModeY = derivations::INTRA_DC;
    const std::uint32_t nCbS = 1U << cu.log2CbSize;
    // Only the PBs of an intra NxN split, in CBs of the smallest size, look at blocks inside
    // their own CB; everything else is looked up from outside, at the edges.
    if (block.intra != 0 && cu.log2CbSize == sps_.MinCbLog2SizeY) {
        state_.fillBlocks(cu.x0, cu.y0, nCbS, nCbS, block);
    } else {
        state_.fillEdgeBlocks(cu.x0, cu.y0, nCbS, nCbS, block);
    }
}

void SliceDataParser::coding_unit(CodingUnit& cu)
{
    const std::uint32_t x0 = cu.x0;
    const std::uint32_t y0 = cu.y0;
    const std::uint32_t nCbS = 1U << cu.log2CbSize;
    currentCuPreorder_ = cu.preorderIndex;
    tuPreorder_ = 0;

    if (pps_.transquant_bypass_enabled_flag) {
        cu.cu_transquant_bypass_flag = decode(Element::cu_transquant_bypass_flag, 0);
        cu.signaled_cu_transquant_bypass_flag = cu.cu_transquant_bypass_flag;
    }
    if (!header_.isIntra()) {
        unsigned ctxInc = 0;
        if (state_.available(x0, y0, std::int64_t{x0} - 1, y0) && state_.at(x0 - 1, y0).cuSkipFlag != 0) {
            ++ctxInc;
        }
        if (state_.available(x0, y0, x0, std::int64_t{y0} - 1) && state_.at(x0, y0 - 1).cuSkipFlag != 0) {
            ++ctxInc;
        }
        cu.cu_skip_flag = decode(Element::cu_skip_flag, ctxInc);
        cu.signaled_cu_skip_flag = cu.cu_skip_flag;
    }

    bool firstPuMerged = false;
    if (cu.cu_skip_flag) {
        cu.CuPredMode = PredMode::Skip;
        markCodingBlock(cu);
        prediction_unit(cu, x0, y0, nCbS, nCbS, 0);
    } else {
        cu.CuPredMode = PredMode::Intra;
        if (!header_.isIntra()) {
            cu.pred_mode_flag = decode(Element::pred_mode_flag, 0);
            cu.CuPredMode = *cu.pred_mode_flag ? PredMode::Intra : PredMode::Inter;
        }
        const bool intra = cu.CuPredMode == PredMode::Intra;
        markCodingBlock(cu);
        if (!intra || cu.log2CbSize == sps_.MinCbLog2SizeY) {
            cu.partMode = part_mode(cu);
            cu.signaled_part_mode = cu.partMode;
        }
        if (intra) {
            if (cu.partMode == PartMode::PART_2Nx2N && sps_.pcm_enabled_flag &&
                cu.log2CbSize >= sps_.Log2MinIpcmCbSizeY && cu.log2CbSize <= sps_.Log2MaxIpcmCbSizeY) {
                cu.pcm_flag = engine_.decodeTerminate();
                cu.signaled_pcm_flag = cu.pcm_flag;
            }
            if (cu.pcm_flag) {
                state_.fillEdges(x0, y0, nCbS, nCbS, &MinBlock::pcmFlag, std::uint8_t{1});
                pcm_sample(cu);
            } else {
                intraModes(cu);
            }
        } else {
            const std::uint32_t h = nCbS / 2;
            const std::uint32_t q = nCbS / 4;
            switch (cu.partMode) {
            case PartMode::PART_2Nx2N:
                prediction_unit(cu, x0, y0, nCbS, nCbS, 0);
                break;
            case PartMode::PART_2NxN:
                prediction_unit(cu, x0, y0, nCbS, h, 0);
                prediction_unit(cu, x0, y0 + h, nCbS, h, 1);
                break;
            case PartMode::PART_Nx2N:
                prediction_unit(cu, x0, y0, h, nCbS, 0);
                prediction_unit(cu, x0 + h, y0, h, nCbS, 1);
                break;
            case PartMode::PART_2NxnU:
                prediction_unit(cu, x0, y0, nCbS, q, 0);
                prediction_unit(cu, x0, y0 + q, nCbS, nCbS - q, 1);
                break;
            case PartMode::PART_2NxnD:
                prediction_unit(cu, x0, y0, nCbS, nCbS - q, 0);
                prediction_unit(cu, x0, y0 + nCbS - q, nCbS, q, 1);
                break;
            case PartMode::PART_nLx2N:
                prediction_unit(cu, x0, y0, q, nCbS, 0);
                prediction_unit(cu, x0 + q, y0, nCbS - q, nCbS, 1);
                break;
            case PartMode::PART_nRx2N:
                prediction_unit(cu, x0, y0, nCbS - q, nCbS, 0);
                prediction_unit(cu, x0 + nCbS - q, y0, q, nCbS, 1);
                break;
            case PartMode::PART_NxN:
                prediction_unit(cu, x0, y0, h, h, 0);
                prediction_unit(cu, x0 + h, y0, h, h, 1);
                prediction_unit(cu, x0, y0 + h, h, h, 2);
                prediction_unit(cu, x0 + h, y0 + h, h, h, 3);
                break;
            }
            firstPuMerged = firstPuMergeFlag_;
        }
        if (!cu.pcm_flag) {
            bool rqt_root_cbf = true;
            if (cu.CuPredMode != PredMode::Intra && !(cu.partMode == PartMode::PART_2Nx2N && firstPuMerged)) {
                rqt_root_cbf = decode(Element::rqt_root_cbf, 0);
                cu.rqt_root_cbf = rqt_root_cbf;
            }
            if (rqt_root_cbf) {
                transform_tree(cu, x0, y0, x0, y0, cu.log2CbSize, 0, 0, {}, {});
            }
        }
    }
    deriveQpY(cu);
    sink_.codingUnit(cu);
}

PartMode SliceDataParser::part_mode(const CodingUnit& cu)
{
    if (cu.CuPredMode == PredMode::Intra) {
        return decode(Element::part_mode, 0) ? PartMode::PART_2Nx2N : PartMode::PART_NxN;
    }
    if (decode(Element::part_mode, 0)) {
        return PartMode::PART_2Nx2N;
    }
    if (cu.log2CbSize == sps_.MinCbLog2SizeY) {
        if (decode(Element::part_mode, 1)) {
            return PartMode::PART_2NxN;
        }
        if (cu.log2CbSize == 3) {
            return PartMode::PART_Nx2N; // no inter NxN in 8x8 CUs
        }
        return decode(Element::part_mode, 2) ? PartMode::PART_Nx2N : PartMode::PART_NxN;
    }
    const bool horizontal = decode(Element::part_mode, 1);
    if (!sps_.amp_enabled_flag) {
        return horizontal ? PartMode::PART_2NxN : PartMode::PART_Nx2N;
    }
    if (decode(Element::part_mode, 3)) {
        return horizontal ? PartMode::PART_2NxN : PartMode::PART_Nx2N;
    }
    const bool lowerOrRight = engine_.decodeBypass();
    if (horizontal) {
        return lowerOrRight ? PartMode::PART_2NxnD : PartMode::PART_2NxnU;
    }
    return lowerOrRight ? PartMode::PART_nRx2N : PartMode::PART_nLx2N;
}

void SliceDataParser::pcm_sample(const CodingUnit& cu)
{
    // The bit after the terminating pcm_flag bin ends the arithmetic code; then
    // pcm_alignment_zero_bit up to the byte boundary.
    engine_.readBits(1);
    while (!engine_.byteAligned()) {
        require(engine_.readBits(1) == 0, "pcm_alignment_zero_bit is 1");
    }
    const std::uint64_t nCbS = std::uint64_t{1} << cu.log2CbSize;
    std::uint64_t bits = nCbS * nCbS * sps_.PcmBitDepthY;
    if (sps_.ChromaArrayType != 0) {
        bits += 2U * (nCbS / sps_.SubWidthC) * (nCbS / sps_.SubHeightC) * sps_.PcmBitDepthC;
    }
    require(engine_.sizeBits() - engine_.bitPosition() >= bits, "pcm_sample() runs past the slice data");
    engine_.skipBits(bits);
    engine_.initialise();
}

std::uint32_t SliceDataParser::intraPartition(const CodingUnit& cu, std::uint32_t x, std::uint32_t y)
{
    if (cu.partMode != PartMode::PART_NxN) {
        return 0;
    }
    const std::uint32_t half = 1U << (cu.log2CbSize - 1);
    return (y >= cu.y0 + half ? 2U : 0U) + (x >= cu.x0 + half ? 1U : 0U);
}

void SliceDataParser::intraModes(CodingUnit& cu)
{
    const std::uint32_t nCbS = 1U << cu.log2CbSize;
    const bool nxn = cu.partMode == PartMode::PART_NxN;
    const std::uint32_t pbOffset = nxn ? nCbS / 2 : nCbS;
    cu.numIntraPartitions = nxn ? 4 : 1;
    for (std::uint32_t i = 0; i < cu.numIntraPartitions; ++i) {
        cu.prev_intra_luma_pred_flag[i] = decode(Element::prev_intra_luma_pred_flag, 0);
    }
    for (std::uint32_t i = 0; i < cu.numIntraPartitions; ++i) {
        if (cu.prev_intra_luma_pred_flag[i]) {
            std::uint8_t mpm_idx = 0;
            while (mpm_idx < 2 && engine_.decodeBypass()) {
                ++mpm_idx;
            }
            cu.mpm_idx[i] = mpm_idx;
        } else {
            cu.rem_intra_luma_pred_mode[i] = static_cast<std::uint8_t>(engine_.decodeBypassBits(5));
        }
    }
    for (std::uint32_t i = 0; i < cu.numIntraPartitions; ++i) {
        const std::uint32_t xPb = cu.x0 + (i & 1U) * pbOffset;
        const std::uint32_t yPb = cu.y0 + (i >> 1U) * pbOffset;
        auto candidate = [&](std::int64_t xNb, std::int64_t yNb, bool above) -> std::uint32_t {
            if (!state_.available(xPb, yPb, xNb, yNb)) {
                return derivations::INTRA_DC;
            }
            const MinBlock& block = state_.at(static_cast<std::uint32_t>(xNb), static_cast<std::uint32_t>(yNb));
            if (block.intra == 0 || block.pcmFlag != 0) {
                return derivations::INTRA_DC;
            }
            // The line buffer ends at the CTB: no above candidate from the CTB row above.
            if (above && yNb < static_cast<std::int64_t>((yPb >> sps_.CtbLog2SizeY) << sps_.CtbLog2SizeY)) {
                return derivations::INTRA_DC;
            }
            return block.intraPredModeY;
        };
        const auto list = derivations::candModeList(candidate(std::int64_t{xPb} - 1, yPb, false),
                                                    candidate(xPb, std::int64_t{yPb} - 1, true));
        const std::uint32_t mode = derivations::IntraPredModeY(list, cu.prev_intra_luma_pred_flag[i], cu.mpm_idx[i],
                                                               cu.rem_intra_luma_pred_mode[i]);
        cu.IntraPredModeY[i] = static_cast<std::uint8_t>(mode);
        state_.fillEdges(xPb, yPb, pbOffset, pbOffset, &MinBlock::intraPredModeY, static_cast<std::uint8_t>(mode));
    }
    if (sps_.ChromaArrayType == 0) {
        return;
    }
    cu.numChromaModes = sps_.ChromaArrayType == 3 ? cu.numIntraPartitions : 1;
    for (std::uint32_t i = 0; i < cu.numChromaModes; ++i) {
        std::uint8_t value = 4;
        if (decode(Element::intra_chroma_pred_mode, 0)) {
            value = static_cast<std::uint8_t>(engine_.decodeBypassBits(2));
        }
        cu.intra_chroma_pred_mode[i] = value;
        cu.IntraPredModeC[i] = static_cast<std::uint8_t>(
            derivations::IntraPredModeC(value, cu.IntraPredModeY[i], sps_.ChromaArrayType));
    }
}

void SliceDataParser::prediction_unit(CodingUnit& cu, std::uint32_t x0, std::uint32_t y0, std::uint32_t nPbW,
                                      std::uint32_t nPbH, std::uint32_t partIdx)
{
    PredictionUnit pu;
    pu.x0 = x0;
    pu.y0 = y0;
    pu.nPbW = nPbW;
    pu.nPbH = nPbH;
    pu.partIdx = partIdx;
    pu.cuPreorderIndex = cu.preorderIndex;
    auto merge_idx = [&] {
        // TR with cMax MaxNumMergeCand - 1; only the first bin is context coded.
        std::uint32_t value = 0;
        const std::uint32_t cMax = header_.MaxNumMergeCand - 1;
        while (value < cMax && (value == 0 ? decode(Element::merge_idx, 0) : engine_.decodeBypass())) {
            ++value;
        }
        pu.merge_idx = value;
        pu.signaled_merge_idx = value;
    };
    if (cu.cu_skip_flag) {
        pu.merge_flag = true;
        if (header_.MaxNumMergeCand > 1) {
            merge_idx();
        }
    } else {
        pu.merge_flag = decode(Element::merge_flag, 0);
        pu.signaled_merge_flag = pu.merge_flag;
        if (pu.merge_flag) {
            if (header_.MaxNumMergeCand > 1) {
                merge_idx();
            }
        } else {
            if (header_.isB()) {
                if (nPbW + nPbH != 12 && decode(Element::inter_pred_idc, cu.cqtDepth)) {
                    pu.inter_pred_idc = PRED_BI;
                } else {
                    pu.inter_pred_idc = decode(Element::inter_pred_idc, 4) ? PRED_L1 : PRED_L0;
                }
                pu.signaled_inter_pred_idc = pu.inter_pred_idc;
            }
            const std::array<std::uint32_t, 2> num_ref_idx_active_minus1{header_.num_ref_idx_l0_active_minus1,
                                                                         header_.num_ref_idx_l1_active_minus1};
            for (unsigned X = 0; X < 2; ++X) {
                if (pu.inter_pred_idc == (X == 0 ? PRED_L1 : PRED_L0)) {
                    continue;
                }
                pu.ref_idx[X] = 0;
                if (num_ref_idx_active_minus1[X] > 0) {
                    // TR with cMax num_ref_idx_active_minus1; two context coded bins.
                    std::uint32_t value = 0;
                    while (value < num_ref_idx_active_minus1[X] &&
                           (value < 2 ? decode(Element::ref_idx, value) : engine_.decodeBypass())) {
                        ++value;
                    }
                    pu.ref_idx[X] = static_cast<std::int32_t>(value);
                    pu.signaled_ref_idx[X] = value;
                }
                if (X == 1 && header_.mvd_l1_zero_flag && pu.inter_pred_idc == PRED_BI) {
                    pu.MvdLX[1] = {0, 0};
                } else {
                    mvd_coding(pu, X);
                }
                pu.mvp_flag[X] = decode(Element::mvp_flag, 0) ? 1 : 0;
            }
        }
    }
    if (partIdx == 0) {
        firstPuMergeFlag_ = pu.merge_flag;
    }
    deriveMotion(cu, pu);
    sink_.predictionUnit(pu);
}

void SliceDataParser::deriveMotion(const CodingUnit& cu, PredictionUnit& pu)
{
    using derivations::Mv;
    using derivations::MvField;
    derivations::PredictionBlockPosition pb;
    pb.xCb = cu.x0;
    pb.yCb = cu.y0;
    pb.nCbS = 1U << cu.log2CbSize;
    pb.xPb = pu.x0;
    pb.yPb = pu.y0;
    pb.nPbW = pu.nPbW;
    pb.nPbH = pu.nPbH;
    pb.partIdx = pu.partIdx;
    pb.PartMode = static_cast<std::uint8_t>(cu.partMode);

    MvField motion;
    if (pu.merge_flag) {
        const derivations::MergeCandidates mergeCandList =
            derivations::mergeCandList(motion_, state_, pb, pu.merge_idx + 1);
        motion = mergeCandList[std::min<std::size_t>(pu.merge_idx, mergeCandList.size() - 1)];
        pu.biPredictionRestricted = derivations::restrictBiPrediction(motion, pu.nPbW, pu.nPbH);
    } else {
        for (unsigned X = 0; X < 2; ++X) {
            if (pu.ref_idx[X] < 0) {
                continue;
            }
            motion.refIdxLX[X] = static_cast<std::int8_t>(pu.ref_idx[X]);
            const Mv mvpLX = derivations::mvpListLX(motion_, state_, pb, X, pu.ref_idx[X])[pu.mvp_flag[X]];
            motion.mvLX[X] = derivations::addMvd(mvpLX, Mv{pu.MvdLX[X][0], pu.MvdLX[X][1]});
            pu.mvpLX[X] = {mvpLX.x, mvpLX.y};
        }
    }

    derivations::CollocatedBlock stored;
    stored.motion = motion;
    bool refIdxInRange = true;
    for (unsigned X = 0; X < 2; ++X) {
        pu.predFlagLX[X] = motion.predFlag(X);
        pu.refIdxLX[X] = motion.refIdxLX[X];
        pu.mvLX[X] = {motion.mvLX[X].x, motion.mvLX[X].y};
        if (motion.predFlag(X)) {
            refIdxInRange = refIdxInRange && static_cast<std::size_t>(motion.refIdxLX[X]) < RefPicList_[X].size();
            const derivations::ReferencePicture& reference = motion_.refPic(X, motion.refIdxLX[X]);
            pu.refPocLX[X] = reference.poc;
            pu.refIsLongTermLX[X] = reference.longTerm;
            stored.refPoc[X] = reference.poc;
            stored.refIsLongTerm[X] = reference.longTerm;
        }
    }
    pu.motionDerived = refIdxInRange;
    state_.storeMotion(pu.x0, pu.y0, pu.nPbW, pu.nPbH, stored);
}

void SliceDataParser::mvd_coding(PredictionUnit& pu, unsigned refList)
{
    const bool greater0[2] = {decode(Element::abs_mvd_greater0_flag, 0), decode(Element::abs_mvd_greater0_flag, 0)};
    const bool greater1[2] = {greater0[0] && decode(Element::abs_mvd_greater1_flag, 0),
                              greater0[1] && decode(Element::abs_mvd_greater1_flag, 0)};
    for (unsigned compIdx = 0; compIdx < 2; ++compIdx) {
        std::int64_t value = 0;
        if (greater0[compIdx]) {
            value = 1;
            if (greater1[compIdx]) {
                value = 2 + static_cast<std::int64_t>(expGolombBypass(1)); // abs_mvd_minus2
            }
            if (engine_.decodeBypass()) { // mvd_sign_flag
                value = -value;
            }
        }
        require(value >= -(1 << 15) && value < (1 << 15), "motion vector difference out of range");
        pu.MvdLX[refList][compIdx] = static_cast<std::int32_t>(value);
    }
    pu.mvdSignaled[refList] = true;
}

std::uint32_t SliceDataParser::expGolombBypass(unsigned k)
{
    std::uint64_t value = 0;
    while (engine_.decodeBypass()) {
        value += std::uint64_t{1} << k;
        ++k;
        require(k < 32, "Exp-Golomb prefix too long");
    }
    value += engine_.decodeBypassBits(k);
    require(value <= 0xFFFFFFFFU, "Exp-Golomb value out of range");
    return static_cast<std::uint32_t>(value);
}

} // namespace vexilo::hevc::slice_data
