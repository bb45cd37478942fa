#include "slice_header.h"

#include <algorithm>

namespace vexilo::hevc {

namespace {
constexpr std::int32_t kMaxSliceQpY = 51;
constexpr std::uint32_t kMaxOffsetLenMinus1 = 31;

class SliceHeaderParser {
public:
    SliceHeaderParser(BitReader& reader, SliceHeaderParse& result, const SliceHeaderContext& context)
        : reader_(reader), result_(result), h_(result.header), context_(context)
    {
    }

    void parse();

private:
    void mark(SignaledField field) { h_.signaled |= std::uint64_t{1} << field; }
    void activateParameterSets();
    void slice_segment_address();
    void inheritFromIndependentSlice();
    void independentSliceFields();
    void picOrderCntAndReferenceSets();
    void short_term_ref_pic_set();
    void long_term_ref_pics();
    void countCurrentReferences();
    void interPredictionFields();
    void ref_pic_lists_modification();
    void pred_weight_table();
    void predWeightsOfList(unsigned listX, std::uint32_t numRefIdxActive);
    void quantisationAndFilterFields();
    void entry_points();
    void slice_segment_header_extension();

    BitReader& reader_;
    SliceHeaderParse& result_;
    SliceSegmentHeader& h_;
    const SliceHeaderContext& context_;
    const Sps* sps_ = nullptr;
    const Pps* pps_ = nullptr;
    std::uint64_t slicePpsIdPosition_ = 0;
};

void SliceHeaderParser::parse()
{
    h_.first_slice_segment_in_pic_flag = reader_.flag();
    mark(kFirstSliceSegmentInPicFlag);
    if (isIrap(h_.nal.nal_unit_type)) {
        h_.no_output_of_prior_pics_flag = reader_.flag();
        mark(kNoOutputOfPriorPicsFlag);
    }
    slicePpsIdPosition_ = reader_.position();
    h_.slice_pic_parameter_set_id = reader_.ueMax(kMaxPpsCount - 1U, "slice_pic_parameter_set_id above 63");
    mark(kSlicePicParameterSetId);
    activateParameterSets();
    if (!h_.first_slice_segment_in_pic_flag) {
        if (pps_->dependent_slice_segments_enabled_flag) {
            h_.dependent_slice_segment_flag = reader_.flag();
            mark(kDependentSliceSegmentFlag);
        }
        slice_segment_address();
    }
    if (h_.dependent_slice_segment_flag) {
        inheritFromIndependentSlice();
    } else {
        h_.SliceAddrRs = h_.slice_segment_address;
        independentSliceFields();
    }
    entry_points();
    slice_segment_header_extension();
    reader_.byte_alignment();
    h_.sliceDataByteOffset = reader_.position() / 8U;
}

void SliceHeaderParser::activateParameterSets()
{
    const ParameterSetStore& store = *context_.parameterSets;
    result_.pps = store.pps[h_.slice_pic_parameter_set_id];
    if (!result_.pps) {
        result_.missingParameterSet = true;
        throw SyntaxError("slice_pic_parameter_set_id names a PPS that was not received", slicePpsIdPosition_);
    }
    result_.sps = store.sps[result_.pps->pps_seq_parameter_set_id];
    if (!result_.sps) {
        result_.missingParameterSet = true;
        throw SyntaxError("slice_pic_parameter_set_id names a PPS whose SPS was not received", slicePpsIdPosition_);
    }
    sps_ = result_.sps.get();
    pps_ = result_.pps.get();
    if (context_.layout && context_.layoutSps == sps_ && context_.layoutPps == pps_) {
        result_.layout = context_.layout;
    } else {
        result_.layout = std::make_shared<const PictureLayout>(derivePictureLayout(*sps_, *pps_));
    }
}

void SliceHeaderParser::slice_segment_address()
{
    h_.slice_segment_address = reader_.u(ceilLog2(sps_->PicSizeInCtbsY));
    mark(kSliceSegmentAddress);
    require(h_.slice_segment_address < sps_->PicSizeInCtbsY, "slice_segment_address beyond the picture");
    h_.CtbAddrInTs = result_.layout->CtbAddrRsToTs[h_.slice_segment_address];
    h_.TileIdOfFirstCtb = result_.layout->TileId[h_.CtbAddrInTs];
}

// A dependent slice segment carries the values of the slice it continues (7.4.7.1).
void SliceHeaderParser::inheritFromIndependentSlice()
{
    const SliceSegmentHeader* independent = context_.independentSlice;
    require(independent != nullptr, "dependent slice segment without a preceding slice segment");
    require(independent->slice_pic_parameter_set_id == h_.slice_pic_parameter_set_id,
            "dependent slice segment changes the PPS");
    SliceSegmentHeader own = h_;
    h_ = *independent;
    h_.nal = own.nal;
    h_.signaled = own.signaled;
    h_.first_slice_segment_in_pic_flag = own.first_slice_segment_in_pic_flag;
    h_.no_output_of_prior_pics_flag = own.no_output_of_prior_pics_flag;
    h_.dependent_slice_segment_flag = true;
    h_.slice_segment_address = own.slice_segment_address;
    h_.CtbAddrInTs = own.CtbAddrInTs;
    h_.TileIdOfFirstCtb = own.TileIdOfFirstCtb;
    h_.num_entry_point_offsets = 0;
    h_.offset_len_minus1 = 0;
    h_.entry_point_offset_minus1.clear();
    h_.slice_segment_header_extension_length = 0;
}

void SliceHeaderParser::independentSliceFields()
{
    for (std::uint32_t i = 0; i < pps_->num_extra_slice_header_bits; ++i) {
        h_.slice_reserved_flags |= reader_.u(1) << i;
    }
    h_.slice_type = reader_.ueMax(kSliceI, "slice_type above 2");
    mark(kSliceTypeField);
    if (isIrap(h_.nal.nal_unit_type)) {
        require(h_.slice_type == kSliceI, "IRAP picture with a P or B slice");
    }
    if (pps_->output_flag_present_flag) {
        h_.pic_output_flag = reader_.flag();
        mark(kPicOutputFlag);
    }
    if (sps_->separate_colour_plane_flag) {
        h_.colour_plane_id = reader_.u(2);
        require(h_.colour_plane_id <= 2, "colour_plane_id above 2");
    }
    if (!isIdr(h_.nal.nal_unit_type)) {
        picOrderCntAndReferenceSets();
    }
    countCurrentReferences();
    if (sps_->sample_adaptive_offset_enabled_flag) {
        h_.slice_sao_luma_flag = reader_.flag();
        if (sps_->ChromaArrayType != 0) {
            h_.slice_sao_chroma_flag = reader_.flag();
        }
    }
    if (!h_.isIntra()) {
        interPredictionFields();
    }
    quantisationAndFilterFields();
}

void SliceHeaderParser::picOrderCntAndReferenceSets()
{
    h_.slice_pic_order_cnt_lsb = reader_.u(sps_->log2_max_pic_order_cnt_lsb_minus4 + 4U);
    mark(kSlicePicOrderCntLsb);
    h_.short_term_ref_pic_set_sps_flag = reader_.flag();
    mark(kShortTermRefPicSetSpsFlag);
    if (!h_.short_term_ref_pic_set_sps_flag) {
        short_term_ref_pic_set();
    } else {
        require(sps_->num_short_term_ref_pic_sets > 0, "short_term_ref_pic_set_sps_flag without SPS sets");
        if (sps_->num_short_term_ref_pic_sets > 1) {
            h_.short_term_ref_pic_set_idx = reader_.u(ceilLog2(sps_->num_short_term_ref_pic_sets));
            require(h_.short_term_ref_pic_set_idx < sps_->num_short_term_ref_pic_sets,
                    "short_term_ref_pic_set_idx out of range");
        }
        mark(kShortTermRefPicSetIdx);
        h_.stRps = sps_->shortTermRefPicSets[h_.short_term_ref_pic_set_idx];
    }
    if (sps_->long_term_ref_pics_present_flag) {
        long_term_ref_pics();
    }
    if (sps_->sps_temporal_mvp_enabled_flag) {
        h_.slice_temporal_mvp_enabled_flag = reader_.flag();
    }
}

void SliceHeaderParser::short_term_ref_pic_set()
{
    const std::uint64_t start = reader_.position();
    h_.stRps = parseStRefPicSet(reader_, sps_->num_short_term_ref_pic_sets, sps_->shortTermRefPicSets,
                                sps_->num_short_term_ref_pic_sets);
    h_.stRpsBits = reader_.position() - start;
}

void SliceHeaderParser::long_term_ref_pics()
{
    if (sps_->num_long_term_ref_pics_sps > 0) {
        h_.num_long_term_sps = reader_.ueMax(sps_->num_long_term_ref_pics_sps, "num_long_term_sps out of range");
    }
    h_.num_long_term_pics = reader_.ueMax(kMaxLongTermPictures - h_.num_long_term_sps, "num_long_term_pics out of range");
    const std::uint32_t count = h_.num_long_term_sps + h_.num_long_term_pics;
    require(count + h_.stRps.NumDeltaPocs() <= kMaxLongTermPictures, "too many reference pictures");
    const unsigned lsbBits = sps_->log2_max_pic_order_cnt_lsb_minus4 + 4U;
    for (std::uint32_t i = 0; i < count; ++i) {
        LongTermRefPic lt;
        if (i < h_.num_long_term_sps) {
            lt.fromSps = true;
            if (sps_->num_long_term_ref_pics_sps > 1) {
                lt.lt_idx_sps = reader_.u(ceilLog2(sps_->num_long_term_ref_pics_sps));
                require(lt.lt_idx_sps < sps_->num_long_term_ref_pics_sps, "lt_idx_sps out of range");
            }
            lt.PocLsbLt = sps_->lt_ref_pic_poc_lsb_sps[lt.lt_idx_sps];
            lt.UsedByCurrPicLt = sps_->used_by_curr_pic_lt_sps_flag[lt.lt_idx_sps];
        } else {
            lt.PocLsbLt = reader_.u(lsbBits);
            lt.UsedByCurrPicLt = reader_.flag();
        }
        lt.delta_poc_msb_present_flag = reader_.flag();
        if (lt.delta_poc_msb_present_flag) {
            lt.delta_poc_msb_cycle_lt = reader_.ue();
        }
        // Equation 7-52: the cycles accumulate within the SPS part and within the header part.
        lt.DeltaPocMsbCycleLt = lt.delta_poc_msb_cycle_lt;
        if (i != 0 && i != h_.num_long_term_sps) {
            lt.DeltaPocMsbCycleLt += h_.longTerm.back().DeltaPocMsbCycleLt;
        }
        h_.longTerm.push_back(lt);
    }
}

void SliceHeaderParser::countCurrentReferences()
{
    h_.NumPocStCurrBefore = 0;
    h_.NumPocStCurrAfter = 0;
    h_.NumPocLtCurr = 0;
    for (std::uint32_t i = 0; i < h_.stRps.NumNegativePics; ++i) {
        h_.NumPocStCurrBefore += h_.stRps.UsedByCurrPicS0[i] ? 1U : 0U;
    }
    for (std::uint32_t i = 0; i < h_.stRps.NumPositivePics; ++i) {
        h_.NumPocStCurrAfter += h_.stRps.UsedByCurrPicS1[i] ? 1U : 0U;
    }
    for (const LongTermRefPic& lt : h_.longTerm) {
        h_.NumPocLtCurr += lt.UsedByCurrPicLt ? 1U : 0U;
    }
    h_.NumPicTotalCurr = h_.NumPocStCurrBefore + h_.NumPocStCurrAfter + h_.NumPocLtCurr +
                         (pps_->scc.pps_curr_pic_ref_enabled_flag ? 1U : 0U);
}

void SliceHeaderParser::interPredictionFields()
{
    require(h_.NumPicTotalCurr > 0, "P or B slice without reference pictures");
    h_.num_ref_idx_l0_active_minus1 = pps_->num_ref_idx_l0_default_active_minus1;
    h_.num_ref_idx_l1_active_minus1 = pps_->num_ref_idx_l1_default_active_minus1;
    h_.num_ref_idx_active_override_flag = reader_.flag();
    mark(kNumRefIdxActiveOverrideFlag);
    if (h_.num_ref_idx_active_override_flag) {
        h_.num_ref_idx_l0_active_minus1 = reader_.ueMax(kMaxRefIdxActive - 1U, "num_ref_idx_l0_active_minus1 above 14");
        if (h_.isB()) {
            h_.num_ref_idx_l1_active_minus1 = reader_.ueMax(kMaxRefIdxActive - 1U, "num_ref_idx_l1_active_minus1 above 14");
        }
    }
    mark(kNumRefIdxL0Active);
    if (h_.isB()) {
        mark(kNumRefIdxL1Active);
    }
    if (pps_->lists_modification_present_flag && h_.NumPicTotalCurr > 1) {
        ref_pic_lists_modification();
    }
    if (h_.isB()) {
        h_.mvd_l1_zero_flag = reader_.flag();
    }
    if (pps_->cabac_init_present_flag) {
        h_.cabac_init_flag = reader_.flag();
    }
    if (h_.slice_temporal_mvp_enabled_flag) {
        if (h_.isB()) {
            h_.collocated_from_l0_flag = reader_.flag();
        }
        const std::uint32_t activeMinus1 =
            h_.collocated_from_l0_flag ? h_.num_ref_idx_l0_active_minus1 : h_.num_ref_idx_l1_active_minus1;
        if (activeMinus1 > 0) {
            h_.collocated_ref_idx = reader_.ueMax(activeMinus1, "collocated_ref_idx out of range");
        }
    }
    if ((pps_->weighted_pred_flag && h_.isP()) || (pps_->weighted_bipred_flag && h_.isB())) {
        pred_weight_table();
    }
    h_.five_minus_max_num_merge_cand = reader_.ueMax(4, "five_minus_max_num_merge_cand above 4");
    h_.MaxNumMergeCand = 5U - h_.five_minus_max_num_merge_cand;
    if (sps_->scc.motion_vector_resolution_control_idc == 2) {
        h_.use_integer_mv_flag = reader_.flag();
    }
}

void SliceHeaderParser::ref_pic_lists_modification()
{
    const unsigned entryBits = ceilLog2(h_.NumPicTotalCurr);
    h_.ref_pic_list_modification_flag_l0 = reader_.flag();
    mark(kRefPicListModificationFlagL0);
    if (h_.ref_pic_list_modification_flag_l0) {
        for (std::uint32_t i = 0; i <= h_.num_ref_idx_l0_active_minus1; ++i) {
            h_.list_entry_l0[i] = reader_.u(entryBits);
            require(h_.list_entry_l0[i] < h_.NumPicTotalCurr, "list_entry_l0 out of range");
        }
    }
    if (h_.isB()) {
        h_.ref_pic_list_modification_flag_l1 = reader_.flag();
        mark(kRefPicListModificationFlagL1);
        if (h_.ref_pic_list_modification_flag_l1) {
            for (std::uint32_t i = 0; i <= h_.num_ref_idx_l1_active_minus1; ++i) {
                h_.list_entry_l1[i] = reader_.u(entryBits);
                require(h_.list_entry_l1[i] < h_.NumPicTotalCurr, "list_entry_l1 out of range");
            }
        }
    }
}

void SliceHeaderParser::pred_weight_table()
{
    PredWeightTable& table = h_.predWeightTable;
    table.luma_log2_weight_denom = reader_.ueMax(7, "luma_log2_weight_denom above 7");
    if (sps_->ChromaArrayType != 0) {
        const std::int32_t delta_chroma_log2_weight_denom = reader_.se();
        const std::int64_t chromaDenom = static_cast<std::int64_t>(table.luma_log2_weight_denom) + delta_chroma_log2_weight_denom;
        require(chromaDenom >= 0 && chromaDenom <= 7, "ChromaLog2WeightDenom outside 0..7");
        table.ChromaLog2WeightDenom = static_cast<std::uint32_t>(chromaDenom);
    }
    predWeightsOfList(0, h_.num_ref_idx_l0_active_minus1 + 1U);
    if (h_.isB()) {
        predWeightsOfList(1, h_.num_ref_idx_l1_active_minus1 + 1U);
    }
}

void SliceHeaderParser::predWeightsOfList(unsigned listX, std::uint32_t numRefIdxActive)
{
    PredWeightTable& table = h_.predWeightTable;
    auto& entries = table.lists[listX];
    // With the current picture as a reference, its entries carry no weights (POC equal to the
    // current picture's); only that case needs the list composition.
    const std::vector<RefPicListSource> sources = composeRefPicList(listX, h_.refPicListInputs(listX, *pps_));
    const auto weighted = [&](std::uint32_t i) {
        return i >= sources.size() || sources[i].subset != RpsSubset::CurrentPicture;
    };
    for (std::uint32_t i = 0; i < numRefIdxActive; ++i) {
        entries[i].luma_weight_flag = weighted(i) && reader_.flag();
    }
    if (sps_->ChromaArrayType != 0) {
        for (std::uint32_t i = 0; i < numRefIdxActive; ++i) {
            entries[i].chroma_weight_flag = weighted(i) && reader_.flag();
        }
    }
    const auto halfRangeY = static_cast<std::int32_t>(sps_->WpOffsetHalfRangeY);
    const auto halfRangeC = static_cast<std::int32_t>(sps_->WpOffsetHalfRangeC);
    const std::int32_t lumaDenom = 1 << table.luma_log2_weight_denom;
    const std::int32_t chromaDenom = 1 << table.ChromaLog2WeightDenom;
    for (std::uint32_t i = 0; i < numRefIdxActive; ++i) {
        auto& entry = entries[i];
        entry.LumaWeight = lumaDenom;
        entry.ChromaWeight = {chromaDenom, chromaDenom};
        if (entry.luma_weight_flag) {
            entry.LumaWeight = lumaDenom + reader_.seRange(-128, 127, "delta_luma_weight out of range");
            entry.luma_offset = reader_.seRange(-halfRangeY, halfRangeY - 1, "luma_offset out of range");
        }
        if (entry.chroma_weight_flag) {
            for (unsigned j = 0; j < 2; ++j) {
                entry.ChromaWeight[j] = chromaDenom + reader_.seRange(-128, 127, "delta_chroma_weight out of range");
                const std::int32_t delta_chroma_offset =
                    reader_.seRange(-4 * halfRangeC, 4 * halfRangeC - 1, "delta_chroma_offset out of range");
                const std::int32_t offset =
                    (halfRangeC - ((halfRangeC * entry.ChromaWeight[j]) >> table.ChromaLog2WeightDenom)) + delta_chroma_offset;
                entry.ChromaOffset[j] = std::clamp(offset, -halfRangeC, halfRangeC - 1);
            }
        }
    }
}

void SliceHeaderParser::quantisationAndFilterFields()
{
    h_.slice_qp_delta = reader_.se();
    mark(kSliceQpDelta);
    const std::int64_t sliceQpY = 26 + static_cast<std::int64_t>(pps_->init_qp_minus26) + h_.slice_qp_delta;
    require(sliceQpY >= -static_cast<std::int64_t>(sps_->QpBdOffsetY) && sliceQpY <= kMaxSliceQpY, "SliceQpY out of range");
    h_.SliceQpY = static_cast<std::int32_t>(sliceQpY);
    if (pps_->pps_slice_chroma_qp_offsets_present_flag) {
        h_.slice_cb_qp_offset = reader_.seRange(-12, 12, "slice_cb_qp_offset outside -12..12");
        h_.slice_cr_qp_offset = reader_.seRange(-12, 12, "slice_cr_qp_offset outside -12..12");
    }
    if (pps_->scc.pps_slice_act_qp_offsets_present_flag) {
        h_.slice_act_y_qp_offset = reader_.seRange(-12, 12, "slice_act_y_qp_offset outside -12..12");
        h_.slice_act_cb_qp_offset = reader_.seRange(-12, 12, "slice_act_cb_qp_offset outside -12..12");
        h_.slice_act_cr_qp_offset = reader_.seRange(-12, 12, "slice_act_cr_qp_offset outside -12..12");
    }
    if (pps_->range.chroma_qp_offset_list_enabled_flag) {
        h_.cu_chroma_qp_offset_enabled_flag = reader_.flag();
    }
    if (pps_->deblocking_filter_override_enabled_flag) {
        h_.deblocking_filter_override_flag = reader_.flag();
    }
    h_.slice_deblocking_filter_disabled_flag = pps_->pps_deblocking_filter_disabled_flag;
    h_.slice_beta_offset_div2 = pps_->pps_beta_offset_div2;
    h_.slice_tc_offset_div2 = pps_->pps_tc_offset_div2;
    if (h_.deblocking_filter_override_flag) {
        h_.slice_deblocking_filter_disabled_flag = reader_.flag();
        if (!h_.slice_deblocking_filter_disabled_flag) {
            h_.slice_beta_offset_div2 = reader_.seRange(-6, 6, "slice_beta_offset_div2 outside -6..6");
            h_.slice_tc_offset_div2 = reader_.seRange(-6, 6, "slice_tc_offset_div2 outside -6..6");
        }
    }
    h_.slice_loop_filter_across_slices_enabled_flag = pps_->pps_loop_filter_across_slices_enabled_flag;
    if (pps_->pps_loop_filter_across_slices_enabled_flag &&
        (h_.slice_sao_luma_flag || h_.slice_sao_chroma_flag || !h_.slice_deblocking_filter_disabled_flag)) {
        h_.slice_loop_filter_across_slices_enabled_flag = reader_.flag();
    }
}

void SliceHeaderParser::entry_points()
{
    if (!pps_->tiles_enabled_flag && !pps_->entropy_coding_sync_enabled_flag) {
        return;
    }
    const std::uint64_t columns = pps_->num_tile_columns_minus1 + 1U;
    const std::uint64_t rows = pps_->num_tile_rows_minus1 + 1U;
    std::uint64_t maxOffsets = 0;
    if (pps_->tiles_enabled_flag && pps_->entropy_coding_sync_enabled_flag) {
        maxOffsets = columns * sps_->PicHeightInCtbsY - 1U;
    } else if (pps_->tiles_enabled_flag) {
        maxOffsets = columns * rows - 1U;
    } else {
        maxOffsets = sps_->PicHeightInCtbsY - 1U;
    }
    h_.num_entry_point_offsets = reader_.ueMax(static_cast<std::uint32_t>(maxOffsets), "num_entry_point_offsets out of range");
    mark(kNumEntryPointOffsets);
    if (h_.num_entry_point_offsets == 0) {
        return;
    }
    h_.offset_len_minus1 = reader_.ueMax(kMaxOffsetLenMinus1, "offset_len_minus1 above 31");
    // Each offset takes at least one bit, so the count is bounded by what is left to read.
    require(h_.num_entry_point_offsets <= reader_.bitsLeft(), "entry points run past the NAL unit");
    h_.entry_point_offset_minus1.reserve(h_.num_entry_point_offsets);
    for (std::uint32_t i = 0; i < h_.num_entry_point_offsets; ++i) {
        h_.entry_point_offset_minus1.push_back(reader_.u(h_.offset_len_minus1 + 1U));
    }
}

void SliceHeaderParser::slice_segment_header_extension()
{
    if (!pps_->slice_segment_header_extension_present_flag) {
        return;
    }
    h_.slice_segment_header_extension_length =
        reader_.ueMax(kMaxSliceHeaderExtensionLength, "slice_segment_header_extension_length above 256");
    reader_.skipBits(std::uint64_t{8} * h_.slice_segment_header_extension_length);
}
} // namespace

RefPicListInputs SliceSegmentHeader::refPicListInputs(unsigned listX, const Pps& pps) const
{
    RefPicListInputs inputs;
    inputs.NumPocStCurrBefore = NumPocStCurrBefore;
    inputs.NumPocStCurrAfter = NumPocStCurrAfter;
    inputs.NumPocLtCurr = NumPocLtCurr;
    inputs.pps_curr_pic_ref_enabled_flag = pps.scc.pps_curr_pic_ref_enabled_flag;
    if (listX == 0) {
        inputs.num_ref_idx_active = isIntra() ? 0 : num_ref_idx_l0_active_minus1 + 1U;
        inputs.ref_pic_list_modification_flag = ref_pic_list_modification_flag_l0;
        inputs.list_entry = list_entry_l0.data();
    } else {
        inputs.num_ref_idx_active = isB() ? num_ref_idx_l1_active_minus1 + 1U : 0;
        inputs.ref_pic_list_modification_flag = ref_pic_list_modification_flag_l1;
        inputs.list_entry = list_entry_l1.data();
    }
    return inputs;
}

SliceHeaderParse parseSliceSegmentHeader(std::span<const std::uint8_t> rbsp, const NalUnitHeader& nal,
                                         const SliceHeaderContext& context)
{
    SliceHeaderParse result;
    result.header.nal = nal;
    BitReader reader(rbsp);
    try {
        require(context.parameterSets != nullptr, "no parameter sets");
        SliceHeaderParser parser(reader, result, context);
        parser.parse();
        result.parsed = true;
    } catch (const SyntaxError& error) {
        result.error = error.what();
        result.errorAt = faultOf(error, reader);
    }
    return result;
}

} // namespace vexilo::hevc
