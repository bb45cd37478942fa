// slice_segment_data() (ITU-T H.265 7.3.8) over the CABAC engine: CTUs with SAO, the coding
// quadtree, coding, prediction and transform units, and residual_coding() parsed in full and
// discarded. One object parses one slice segment; what slice segments of a picture share
// lives in the PictureBlockState the caller keeps for the picture.
#pragma once

#include "cabac/arithmetic_decoder.h"
#include "cabac/context_tables.h"
#include "derivations/motion_vectors.h"
#include "parameter_sets.h"
#include "slice_data/block_sink.h"
#include "slice_data/picture_block_state.h"
#include "slice_header.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vexilo::hevc::slice_data {

struct SliceDataInput {
    const Sps* sps = nullptr;
    const Pps* pps = nullptr;
    const PictureLayout* layout = nullptr;
    const SliceSegmentHeader* header = nullptr;
    // The slice segment's RBSP from the first byte of slice_segment_data() to its end.
    std::span<const std::uint8_t> sliceData;
    // For the motion vectors of P and B slices: the current picture's POC and the slice's
    // RefPicList0/1 with each picture's motion for TMVP (see derivations/reference_motion.h).
    // Without lists the prediction units come out with motionDerived false.
    std::int32_t PicOrderCntVal = 0;
    derivations::RefPicLists RefPicList;
};

struct SliceDataResult {
    bool parsed = false; // ended with end_of_slice_segment_flag and well-formed trailing bits
    std::string error;
    std::uint32_t ctusParsed = 0;
    std::uint32_t endCtbAddrTs = 0;           // one past the last CTU the parse completed
    std::vector<std::uint64_t> subsetStarts;  // byte offsets in sliceData, first is 0
    std::uint64_t trailingBytes = 0;          // bytes behind rbsp_slice_segment_trailing_bits
};

// Parses the slice segment; the caller has called state.beginPicture() for its picture and
// keeps `state` for the picture's later slice segments. Never throws for bad data.
SliceDataResult parseSliceSegmentData(const SliceDataInput& input, PictureBlockState& state, BlockSink& sink);

class SliceDataParser {
public:
    SliceDataParser(const SliceDataInput& input, PictureBlockState& state, BlockSink& sink);
    SliceDataResult run();

private:

    // slice_segment_data.cpp
    void slice_segment_data();
    void startCtu(bool firstInSegment);
    void initialiseContexts();
    void sao(std::uint32_t rx, std::uint32_t ry);
    void rbsp_slice_segment_trailing_bits();
    void byte_alignment();

    // coding_unit.cpp
    void coding_quadtree(std::uint32_t x0, std::uint32_t y0, std::uint32_t log2CbSize, std::uint32_t cqtDepth);
    void coding_unit(CodingUnit& cu);
    void pcm_sample(const CodingUnit& cu);
    void intraModes(CodingUnit& cu);
    void prediction_unit(CodingUnit& cu, std::uint32_t x0, std::uint32_t y0, std::uint32_t nPbW, std::uint32_t nPbH,
                         std::uint32_t partIdx);
    void mvd_coding(PredictionUnit& pu, unsigned refList);
    void deriveMotion(const CodingUnit& cu, PredictionUnit& pu);
    PartMode part_mode(const CodingUnit& cu);
    void markCodingBlock(const CodingUnit& cu);
    void startQuantizationGroup(std::uint32_t x0, std::uint32_t y0);
    void deriveQpY(CodingUnit& cu);

    // transform_tree.cpp
    void transform_tree(CodingUnit& cu, std::uint32_t x0, std::uint32_t y0, std::uint32_t xBase, std::uint32_t yBase,
                        std::uint32_t log2TrafoSize, std::uint32_t trafoDepth, std::uint32_t blkIdx,
                        const std::array<bool, 2>& parentCbfCb, const std::array<bool, 2>& parentCbfCr);
    void transform_unit(CodingUnit& cu, TransformTreeNode& node, std::uint32_t xBase, std::uint32_t yBase,
                        const std::array<bool, 2>& parentCbfCb, const std::array<bool, 2>& parentCbfCr);
    void delta_qp(CodingUnit& cu, TransformTreeNode& node);
    void chroma_qp_offset(CodingUnit& cu, TransformTreeNode& node);
    void cross_comp_pred(TransformTreeNode& node, unsigned c);

    // residual_coding.cpp
    void residual_coding(const CodingUnit& cu, ResidualBlock& block, std::uint32_t x0, std::uint32_t y0,
                         std::uint32_t log2TrafoSize, unsigned cIdx);
    std::uint32_t scanIdxFor(const CodingUnit& cu, std::uint32_t x0, std::uint32_t y0, std::uint32_t log2TrafoSize,
                             unsigned cIdx) const;
    std::uint32_t coeff_abs_level_remaining(std::uint32_t cRiceParam);
    std::uint32_t expGolombBypass(unsigned k); // k-th order Exp-Golomb, 9.3.3.3

    bool decode(cabac::Element element, unsigned ctxInc)
    {
        return engine_.decodeDecision(contexts_.at(element, ctxInc));
    }
    // Partition index of the intra prediction block that covers (x, y) inside `cu`.
    static std::uint32_t intraPartition(const CodingUnit& cu, std::uint32_t x, std::uint32_t y);

    const Sps& sps_;
    const Pps& pps_;
    const PictureLayout& layout_;
    const SliceSegmentHeader& header_;
    std::span<const std::uint8_t> data_;
    PictureBlockState& state_;
    BlockSink& sink_;
    cabac::ArithmeticDecoder engine_;
    cabac::ContextSet contexts_;
    SliceDataResult result_;
    derivations::RefPicLists RefPicList_;
    derivations::SliceMotionContext motion_;

    std::uint32_t CtbAddrInTs_ = 0;
    std::uint32_t CtbAddrInRs_ = 0;
    std::uint32_t xCtb_ = 0;
    std::uint32_t yCtb_ = 0;
    CodingTreeUnit ctu_;
    bool ctuOpen_ = false; // entered, and its CTU record not yet handed out
    std::uint32_t cuPreorder_ = 0;
    std::uint32_t tuPreorder_ = 0;
    std::uint32_t currentCuPreorder_ = 0;
    bool firstPuMergeFlag_ = false;

    // Quantisation group state (7.3.8.4, 8.6.1).
    bool IsCuQpDeltaCoded_ = false;
    std::int32_t CuQpDeltaVal_ = 0;
    bool IsCuChromaQpOffsetCoded_ = false;
    std::uint32_t xQg_ = 0;
    std::uint32_t yQg_ = 0;
    std::int32_t qPY_PREV_ = 0;
};

} // namespace vexilo::hevc::slice_data
