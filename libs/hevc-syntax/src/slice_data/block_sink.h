// What the slice data parser hands out: every coding quadtree node, coding unit, prediction
// unit and transform tree node of a CTU, then the CTU itself. Optional members hold syntax
// elements exactly when they were signaled; the plain members hold the effective values
// (signaled or inferred, ITU-T H.265 7.4.9).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vexilo::hevc::slice_data {

enum class PredMode : std::uint8_t { Inter = 0, Intra = 1, Skip = 2 };

// PartMode in the order of Table 7-10.
enum class PartMode : std::uint8_t {
    PART_2Nx2N = 0, PART_2NxN = 1, PART_Nx2N = 2, PART_NxN = 3,
    PART_2NxnU = 4, PART_2NxnD = 5, PART_nLx2N = 6, PART_nRx2N = 7,
};

enum InterPredIdc : std::uint8_t { PRED_L0 = 0, PRED_L1 = 1, PRED_BI = 2 };

// A node of coding_quadtree() that splits (split_cu_flag equal to 1, signaled or inferred).
struct CodingQuadtreeNode {
    std::uint32_t x0 = 0;
    std::uint32_t y0 = 0;
    std::uint32_t log2CbSize = 0;
    std::uint32_t cqtDepth = 0;
    std::uint32_t preorderIndex = 0; // among the quadtree nodes and CUs of the CTU
    std::optional<bool> split_cu_flag; // signaled value; absent when inferred
};

struct CodingUnit {
    std::uint32_t x0 = 0;
    std::uint32_t y0 = 0;
    std::uint32_t log2CbSize = 0;
    std::uint32_t cqtDepth = 0;
    std::uint32_t preorderIndex = 0;
    std::optional<bool> split_cu_flag; // signaled 0; absent when inferred 0

    bool cu_transquant_bypass_flag = false;
    std::optional<bool> signaled_cu_transquant_bypass_flag;
    bool cu_skip_flag = false;
    std::optional<bool> signaled_cu_skip_flag;
    PredMode CuPredMode = PredMode::Intra;
    std::optional<bool> pred_mode_flag;
    PartMode partMode = PartMode::PART_2Nx2N;
    std::optional<PartMode> signaled_part_mode;
    bool pcm_flag = false;
    std::optional<bool> signaled_pcm_flag;
    std::optional<bool> rqt_root_cbf;

    // Intra: one entry per prediction block (four with PART_NxN, else the first).
    std::uint32_t numIntraPartitions = 0;
    std::array<bool, 4> prev_intra_luma_pred_flag{};
    std::array<std::uint8_t, 4> mpm_idx{};
    std::array<std::uint8_t, 4> rem_intra_luma_pred_mode{};
    std::array<std::uint8_t, 4> IntraPredModeY{};
    std::uint32_t numChromaModes = 0; // 4 with ChromaArrayType 3 and PART_NxN, 0 for 4:0:0
    std::array<std::uint8_t, 4> intra_chroma_pred_mode{};
    std::array<std::uint8_t, 4> IntraPredModeC{};

    // Quantisation state once the CU has been parsed (7.4.9.14, 8.6.1).
    std::int32_t CuQpDeltaVal = 0;
    std::optional<std::int32_t> signaled_CuQpDeltaVal; // when this CU carried cu_qp_delta_abs
    std::int32_t QpY = 0;
    // Qp'Cb and Qp'Cr (8.6.1, with QpBdOffsetC); absent for 4:0:0.
    std::optional<std::int32_t> QpPrimeCb;
    std::optional<std::int32_t> QpPrimeCr;
    bool cu_chroma_qp_offset_flag = false;
    std::uint32_t cu_chroma_qp_offset_idx = 0;
    std::optional<bool> signaled_cu_chroma_qp_offset_flag;
    std::optional<std::uint32_t> signaled_cu_chroma_qp_offset_idx;
    std::int32_t CuQpOffsetCb = 0;
    std::int32_t CuQpOffsetCr = 0;
};

struct PredictionUnit {
    std::uint32_t x0 = 0;
    std::uint32_t y0 = 0;
    std::uint32_t nPbW = 0;
    std::uint32_t nPbH = 0;
    std::uint32_t partIdx = 0;
    std::uint32_t cuPreorderIndex = 0;
    bool merge_flag = false;
    std::optional<bool> signaled_merge_flag; // absent in skipped CUs (inferred 1)
    std::uint32_t merge_idx = 0;
    std::optional<std::uint32_t> signaled_merge_idx;
    InterPredIdc inter_pred_idc = PRED_L0; // meaningful when merge_flag is 0
    std::optional<InterPredIdc> signaled_inter_pred_idc;
    std::array<std::int32_t, 2> ref_idx{-1, -1};
    std::array<std::optional<std::uint32_t>, 2> signaled_ref_idx{};
    std::array<std::array<std::int32_t, 2>, 2> MvdLX{}; // [list][component]
    std::array<bool, 2> mvdSignaled{};
    std::array<std::uint8_t, 2> mvp_flag{};

    // Final luma motion (8.5.3.2.1), derived when the slice's reference picture lists were
    // supplied with its data; [X] for list X. Vectors in quarter luma samples, zero for an
    // unused list.
    bool motionDerived = false;
    std::array<bool, 2> predFlagLX{};
    std::array<std::int32_t, 2> refIdxLX{-1, -1};
    std::array<std::array<std::int32_t, 2>, 2> mvLX{};  // [list][component]
    std::array<std::array<std::int32_t, 2>, 2> mvpLX{}; // the predictor of AMVP units
    std::array<std::int32_t, 2> refPocLX{};             // PicOrderCntVal of RefPicListX[refIdxLX]
    std::array<bool, 2> refIsLongTermLX{};
    // A merge candidate that was bi-predictive, turned into L0 prediction for an 8x4 or 4x8
    // block (8.5.3.2.2).
    bool biPredictionRestricted = false;
};

// One residual_coding() of a transform unit.
struct ResidualBlock {
    bool coded = false;
    bool transform_skip_flag = false;
    bool transformSkipSignaled = false;
    bool explicit_rdpcm_flag = false;
    bool explicit_rdpcm_dir_flag = false;
    bool explicitRdpcmSignaled = false;
    // Implicit RDPCM of intra blocks without transform (8.6.2): horizontal or vertical
    // prediction with transform skip or transquant bypass.
    bool implicitRdpcm = false;
    std::uint8_t rdpcmDirection = 0; // with either RDPCM: 0 horizontal, 1 vertical
    // sig_coeff_flag used the one transform_skip_context context.
    bool singleSignificanceContext = false;
};

// Every node of transform_tree(); split nodes carry no transform unit data.
struct TransformTreeNode {
    std::uint32_t x0 = 0;
    std::uint32_t y0 = 0;
    std::uint32_t log2TrafoSize = 0;
    std::uint32_t trafoDepth = 0;
    std::uint32_t blkIdx = 0;
    std::uint32_t preorderIndex = 0; // among the transform nodes of the CU
    std::uint32_t cuPreorderIndex = 0;
    bool split_transform_flag = false;
    std::optional<bool> signaled_split_transform_flag;
    // Quantisation syntax carried by this transform unit.
    std::optional<std::int32_t> signaled_CuQpDeltaVal;
    std::optional<bool> signaled_cu_chroma_qp_offset_flag;
    std::optional<std::uint32_t> signaled_cu_chroma_qp_offset_idx;
    // [0] the block, [1] the lower block of a 4:2:2 pair; both as signaled or inferred.
    std::array<bool, 2> cbf_cb{};
    std::array<bool, 2> cbf_cr{};
    std::array<bool, 2> cbfSignaledCb{};
    std::array<bool, 2> cbfSignaledCr{};
    bool cbf_luma = false;
    std::optional<bool> signaled_cbf_luma;
    // The residual blocks of the transform unit: [0] luma, [1] Cb, [3] Cr, and with 4:2:2 the
    // lower chroma blocks [2] Cb and [4] Cr.
    std::array<ResidualBlock, 5> residuals{};
    std::array<std::uint8_t, 2> log2_res_scale_abs_plus1{};
    std::array<bool, 2> res_scale_sign_flag{};
    std::array<bool, 2> crossComponentSignaled{};
};

struct CodingTreeUnit {
    std::uint32_t CtbAddrInRs = 0;
    std::uint32_t CtbAddrInTs = 0;
    std::uint32_t xCtb = 0;
    std::uint32_t yCtb = 0;
    bool parsed = false; // false: the slice segment's parse stopped inside this CTU
    std::string error;
    // SaoTypeIdx per component (0 not applied, 1 band offset, 2 edge offset) and whether
    // the parameters came from sao_merge_left_flag / sao_merge_up_flag.
    std::array<std::uint8_t, 3> SaoTypeIdx{};
    bool sao_merge_left_flag = false;
    bool sao_merge_up_flag = false;
    bool saoSignaled = false; // sao() was present in this CTU
};

class BlockSink {
public:
    BlockSink() = default;
    BlockSink(const BlockSink&) = delete;
    BlockSink& operator=(const BlockSink&) = delete;
    virtual ~BlockSink() = default;

    // Called in parse order; a CU's prediction units and transform nodes precede the CU.
    virtual void codingQuadtreeNode(const CodingQuadtreeNode&) {}
    virtual void predictionUnit(const PredictionUnit&) {}
    virtual void transformTreeNode(const TransformTreeNode&) {}
    virtual void codingUnit(const CodingUnit&) {}
    // Last for every CTU the parse entered, also when it failed inside it.
    virtual void codingTreeUnit(const CodingTreeUnit&) {}
};

} // namespace vexilo::hevc::slice_data
