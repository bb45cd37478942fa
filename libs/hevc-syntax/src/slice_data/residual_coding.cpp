// residual_coding() (7.3.8.11) with the context selection of 9.3.4.2.4 to 9.3.4.2.7 and the
// binarisation of coeff_abs_level_remaining (9.3.3.11). Coefficient values are not kept:
// the syntax is parsed so that the arithmetic decoder stays in step.
#include "slice_data/slice_data_parser.h"

#include "bit_reader.h"
#include "derivations/intra_pred_mode.h"
#include "slice_data/scan_order.h"

#include <algorithm>
#include <bit>

namespace vexilo::hevc::slice_data {

using cabac::Element;

namespace {

// Beyond this no coefficient of any bit depth fits; only damaged data gets here.
constexpr std::uint32_t kMaxRiceParam = 24;

// ctxIdxMap of 9.3.4.2.5 for 4x4 transform blocks.
constexpr std::array<std::uint8_t, 16> kCtxIdxMap{0, 1, 4, 5, 2, 3, 4, 5, 6, 6, 8, 8, 7, 7, 8, 8};

// sigCtx of 9.3.4.2.5 inside a sub-block of a transform block larger than 4x4, by the
// coded sub-block flags to the right and below (prevCsbf) and the position (yP << 2) + xP.
constexpr std::array<std::array<std::uint8_t, 16>, 4> kSigCtxByPrevCsbf{{
    {2, 1, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, // neither: by xP + yP
    {2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}, // right: by yP
    {2, 1, 0, 0, 2, 1, 0, 0, 2, 1, 0, 0, 2, 1, 0, 0}, // below: by xP
    {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}, // both
}};
constexpr unsigned kChromaSigCtxOffset = 27;

using SigCtxByScanPos = std::array<std::uint8_t, 16>;

// A table by position (yP << 2) + xP, reordered by a 4x4 scan position.
constexpr SigCtxByScanPos byScanPosition(const std::array<std::uint8_t, 16>& byPosition, std::uint32_t scanIdx)
{
    SigCtxByScanPos byScan{};
    const auto& scan = scanOrder(2, scanIdx);
    for (std::size_t n = 0; n < byScan.size(); ++n) {
        byScan[n] = byPosition[(static_cast<std::size_t>(scan[n].y) << 2U) + scan[n].x];
    }
    return byScan;
}

// The two tables above by scan position, so that the coefficient loop indexes them with
// its own counter instead of going through the scan's coordinates.
constexpr std::array<SigCtxByScanPos, 3> kCtxIdxMapByScanPos{
    byScanPosition(kCtxIdxMap, 0), byScanPosition(kCtxIdxMap, 1), byScanPosition(kCtxIdxMap, 2)};
constexpr auto kSigCtxByPrevCsbfByScanPos = [] {
    std::array<std::array<SigCtxByScanPos, 4>, 3> tables{};
    for (std::uint32_t scanIdx = 0; scanIdx < 3; ++scanIdx) {
        for (std::size_t prevCsbf = 0; prevCsbf < 4; ++prevCsbf) {
            tables[scanIdx][prevCsbf] = byScanPosition(kSigCtxByPrevCsbf[prevCsbf], scanIdx);
        }
    }
    return tables;
}();
constexpr SigCtxByScanPos kSingleSigCtx{};

// ctxInc of sig_coeff_flag (9.3.4.2.5), set up once per transform block and sub-block so
// that the per-coefficient selection is base plus a table entry by scan position.
class SigCoeffContexts {
public:
    SigCoeffContexts(std::uint32_t log2TrafoSize, unsigned cIdx, std::uint32_t scanIdx, bool singleContext)
        : log2TrafoSize_(log2TrafoSize), cIdx_(cIdx), scanIdx_(scanIdx), singleContext_(singleContext),
          channelOffset_(cIdx == 0 ? 0U : kChromaSigCtxOffset)
    {
        if (singleContext) {
            byScanPos_ = &kSingleSigCtx;
            base_ = cIdx == 0 ? 42U : kChromaSigCtxOffset + 16U;
        } else if (log2TrafoSize == 2) {
            byScanPos_ = &kCtxIdxMapByScanPos[scanIdx];
            base_ = channelOffset_;
        }
    }

    void beginSubBlock(std::uint32_t xS, std::uint32_t yS, std::uint32_t prevCsbf)
    {
        if (singleContext_ || log2TrafoSize_ == 2) {
            return;
        }
        byScanPos_ = &kSigCtxByPrevCsbfByScanPos[scanIdx_][prevCsbf];
        if (cIdx_ == 0) {
            base_ = (xS + yS > 0 ? 3U : 0U) + (log2TrafoSize_ == 3 ? (scanIdx_ == 0 ? 9U : 15U) : 21U);
        } else {
            base_ = channelOffset_ + (log2TrafoSize_ == 3 ? 9U : 12U);
        }
        firstSubBlock_ = xS + yS == 0;
    }

    // Scan position n of the current sub-block, n > 0.
    [[nodiscard]] unsigned ctxInc(std::int32_t n) const { return base_ + (*byScanPos_)[static_cast<std::size_t>(n)]; }

    // Scan position 0: the block's own DC position has a context of its own.
    [[nodiscard]] unsigned dcCtxInc() const
    {
        return firstSubBlock_ && !singleContext_ && log2TrafoSize_ > 2 ? channelOffset_ : ctxInc(0);
    }

private:
    std::uint32_t log2TrafoSize_;
    unsigned cIdx_;
    std::uint32_t scanIdx_;
    bool singleContext_; // transform_skip_context_enabled_flag with skip or bypass
    unsigned channelOffset_;
    const SigCtxByScanPos* byScanPos_ = &kSingleSigCtx;
    unsigned base_ = 0;
    bool firstSubBlock_ = false;
};

// The highest scan position whose bit is set in a non-empty mask of a sub-block's positions.
std::int32_t highestScanPosition(std::uint32_t mask)
{
    return 31 - std::countl_zero(mask);
}

// The bits set in a mask of a sub-block's 16 positions, counted in registers: without a
// population-count instruction in the target, std::popcount is a library call.
unsigned significantCount(std::uint32_t mask)
{
    mask = mask - ((mask >> 1U) & 0x5555U);
    mask = (mask & 0x3333U) + ((mask >> 2U) & 0x3333U);
    mask = (mask + (mask >> 4U)) & 0x0F0FU;
    return (mask + (mask >> 8U)) & 0x1FU;
}

// LastSignificantCoeffX/Y from prefix and suffix (7.4.9.11).
std::uint32_t lastSignificantCoeff(std::uint32_t prefix, std::uint32_t suffix)
{
    if (prefix <= 3) {
        return prefix;
    }
    return (1U << ((prefix >> 1U) - 1U)) * (2U + (prefix & 1U)) + suffix;
}

} // namespace

std::uint32_t SliceDataParser::scanIdxFor(const CodingUnit& cu, std::uint32_t x0, std::uint32_t y0,
                                          std::uint32_t log2TrafoSize, unsigned cIdx) const
{
    const std::uint32_t ChromaArrayType = sps_.ChromaArrayType;
    if (cu.CuPredMode != PredMode::Intra ||
        !(log2TrafoSize == 2 || (log2TrafoSize == 3 && (cIdx == 0 || ChromaArrayType == 3)))) {
        return kScanDiagonal;
    }
    const std::uint32_t part = intraPartition(cu, x0, y0);
    const std::uint32_t predModeIntra =
        cIdx == 0 ? cu.IntraPredModeY[part] : cu.IntraPredModeC[ChromaArrayType == 3 ? part : 0];
    if (predModeIntra >= 6 && predModeIntra <= 14) {
        return kScanVertical;
    }
    if (predModeIntra >= 22 && predModeIntra <= 30) {
        return kScanHorizontal;
    }
    return kScanDiagonal;
}

std::uint32_t SliceDataParser::coeff_abs_level_remaining(std::uint32_t cRiceParam)
{
    // Prefix: TR with cMax 4 << cRiceParam; past it an EG(cRiceParam + 1) suffix, which is
    // the same as continuing the unary prefix with ever longer suffixes.
    constexpr std::uint32_t kMaxPrefix = 32;
    std::uint32_t prefix = 0;
    while (engine_.decodeBypass()) {
        ++prefix;
        require(prefix <= kMaxPrefix, "coeff_abs_level_remaining prefix too long");
    }
    if (prefix <= 3) {
        return (prefix << cRiceParam) + engine_.decodeBypassBits(cRiceParam);
    }
    const std::uint32_t suffixBits = prefix - 3 + cRiceParam;
    require(suffixBits <= 31, "coeff_abs_level_remaining out of range");
    const std::uint64_t value = ((((std::uint64_t{1}) << (prefix - 3)) + 2) << cRiceParam) +
                                engine_.decodeBypassBits(suffixBits);
    require(value <= 0x7FFFFFFFU, "coeff_abs_level_remaining out of range");
    return static_cast<std::uint32_t>(value);
}

void SliceDataParser::residual_coding(const CodingUnit& cu, ResidualBlock& block, std::uint32_t x0,
                                      std::uint32_t y0, std::uint32_t log2TrafoSize, unsigned cIdx)
{
    require(log2TrafoSize >= 2 && log2TrafoSize <= 5, "transform block size out of range");
    require(!sps_.range.extended_precision_processing_flag, "extended_precision_processing_flag is not supported");
    const bool bypass = cu.cu_transquant_bypass_flag;
    const unsigned channel = cIdx == 0 ? 0 : 1;
    block.coded = true;

    bool transform_skip_flag = false;
    if (pps_.transform_skip_enabled_flag && !bypass && log2TrafoSize <= layout_.Log2MaxTransformSkipSize) {
        transform_skip_flag = decode(Element::transform_skip_flag, channel);
        block.transform_skip_flag = transform_skip_flag;
        block.transformSkipSignaled = true;
    }
    bool explicit_rdpcm_flag = false;
    if (cu.CuPredMode == PredMode::Inter && sps_.range.explicit_rdpcm_enabled_flag && (transform_skip_flag || bypass)) {
        explicit_rdpcm_flag = decode(Element::explicit_rdpcm_flag, channel);
        block.explicit_rdpcm_flag = explicit_rdpcm_flag;
        block.explicitRdpcmSignaled = true;
        if (explicit_rdpcm_flag) {
            block.explicit_rdpcm_dir_flag = decode(Element::explicit_rdpcm_dir_flag, channel);
        }
    }

    // last_sig_coeff_x/y_prefix (9.3.4.2.3) and their suffixes.
    const unsigned ctxOffset = cIdx == 0 ? 3 * (log2TrafoSize - 2) + ((log2TrafoSize - 1) >> 2) : 15;
    const unsigned ctxShift = cIdx == 0 ? (log2TrafoSize + 1) >> 2 : log2TrafoSize - 2;
    const std::uint32_t cMax = (log2TrafoSize << 1) - 1;
    auto lastPrefix = [&](Element element) {
        std::uint32_t value = 0;
        while (value < cMax && decode(element, ctxOffset + (value >> ctxShift))) {
            ++value;
        }
        return value;
    };
    const std::uint32_t last_sig_coeff_x_prefix = lastPrefix(Element::last_sig_coeff_x_prefix);
    const std::uint32_t last_sig_coeff_y_prefix = lastPrefix(Element::last_sig_coeff_y_prefix);
    auto lastSuffix = [&](std::uint32_t prefix) {
        return prefix > 3 ? engine_.decodeBypassBits((prefix >> 1U) - 1U) : 0U;
    };
    const std::uint32_t last_sig_coeff_x_suffix = lastSuffix(last_sig_coeff_x_prefix);
    const std::uint32_t last_sig_coeff_y_suffix = lastSuffix(last_sig_coeff_y_prefix);
    std::uint32_t LastSignificantCoeffX = lastSignificantCoeff(last_sig_coeff_x_prefix, last_sig_coeff_x_suffix);
    std::uint32_t LastSignificantCoeffY = lastSignificantCoeff(last_sig_coeff_y_prefix, last_sig_coeff_y_suffix);
    const std::uint32_t scanIdx = scanIdxFor(cu, x0, y0, log2TrafoSize, cIdx);
    if (scanIdx == kScanVertical) {
        std::swap(LastSignificantCoeffX, LastSignificantCoeffY);
    }
    const std::uint32_t size = 1U << log2TrafoSize;
    require(LastSignificantCoeffX < size && LastSignificantCoeffY < size, "last significant coefficient outside the block");

    const std::uint32_t log2SbCount = log2TrafoSize - 2;
    const std::uint32_t sbWidth = 1U << log2SbCount;
    const auto& subBlockScan = scanOrder(log2SbCount, scanIdx);
    const auto lastSubBlock = static_cast<std::int32_t>(
        scanPositionOf(log2SbCount, scanIdx, LastSignificantCoeffX >> 2, LastSignificantCoeffY >> 2));
    const auto lastScanPos = static_cast<std::int32_t>(
        scanPositionOf(2, scanIdx, LastSignificantCoeffX & 3U, LastSignificantCoeffY & 3U));

    std::uint32_t predModeIntra = derivations::INTRA_DC;
    if (cu.CuPredMode == PredMode::Intra) {
        const std::uint32_t part = intraPartition(cu, x0, y0);
        predModeIntra = cIdx == 0 ? cu.IntraPredModeY[part] : cu.IntraPredModeC[sps_.ChromaArrayType == 3 ? part : 0];
    }
    const bool horizontalOrVertical =
        predModeIntra == derivations::INTRA_ANGULAR10 || predModeIntra == derivations::INTRA_ANGULAR26;
    block.implicitRdpcm = cu.CuPredMode == PredMode::Intra && sps_.range.implicit_rdpcm_enabled_flag &&
                          (transform_skip_flag || bypass) && horizontalOrVertical;
    if (block.implicitRdpcm) {
        block.rdpcmDirection = predModeIntra == derivations::INTRA_ANGULAR26 ? 1 : 0;
    } else if (explicit_rdpcm_flag) {
        block.rdpcmDirection = block.explicit_rdpcm_dir_flag ? 1 : 0;
    }
    // Sign hiding is off where RDPCM applies (bypass blocks are excluded on their own).
    const bool intraImplicitRdpcm = cu.CuPredMode == PredMode::Intra && sps_.range.implicit_rdpcm_enabled_flag &&
                                    transform_skip_flag && horizontalOrVertical;
    const bool signHidingAllowed =
        pps_.sign_data_hiding_enabled_flag && !(bypass || intraImplicitRdpcm || explicit_rdpcm_flag);
    const bool persistentRice = sps_.range.persistent_rice_adaptation_enabled_flag;
    const unsigned sbType = (cIdx == 0 ? 2U : 0U) + ((transform_skip_flag || bypass) ? 1U : 0U);

    block.singleSignificanceContext =
        sps_.range.transform_skip_context_enabled_flag && (transform_skip_flag || bypass);
    SigCoeffContexts sigContexts(log2TrafoSize, cIdx, scanIdx, block.singleSignificanceContext);

    std::array<std::array<bool, 8>, 8> coded_sub_block_flag{}; // [xS][yS]
    unsigned greater1Ctx = 1; // as left by the previous sub-block with coefficients
    for (std::int32_t i = lastSubBlock; i >= 0; --i) {
        const std::uint32_t xS = subBlockScan[static_cast<std::size_t>(i)].x;
        const std::uint32_t yS = subBlockScan[static_cast<std::size_t>(i)].y;
        const std::uint32_t csbfRight = xS + 1 < sbWidth && coded_sub_block_flag[xS + 1][yS] ? 1U : 0U;
        const std::uint32_t csbfBelow = yS + 1 < sbWidth && coded_sub_block_flag[xS][yS + 1] ? 1U : 0U;
        bool inferSbDcSigCoeffFlag = false;
        bool codedSubBlock = true;
        if (i < lastSubBlock && i > 0) {
            codedSubBlock = decode(Element::coded_sub_block_flag, std::min(csbfRight + csbfBelow, 1U) + (cIdx > 0 ? 2U : 0U));
            inferSbDcSigCoeffFlag = true;
        }
        coded_sub_block_flag[xS][yS] = codedSubBlock;
        if (!codedSubBlock) {
            continue;
        }
        sigContexts.beginSubBlock(xS, yS, csbfRight + 2 * csbfBelow);

        std::uint32_t sigMask = 0; // bit n: sig_coeff_flag at scan position n
        std::int32_t n = 15;
        if (i == lastSubBlock) {
            sigMask = 1U << static_cast<unsigned>(lastScanPos);
            n = lastScanPos - 1;
        }
        // The flags are as likely 0 as 1, so they are folded in without branching on them.
        for (; n > 0; --n) {
            const std::uint32_t sig_coeff_flag = decode(Element::sig_coeff_flag, sigContexts.ctxInc(n));
            sigMask |= sig_coeff_flag << static_cast<unsigned>(n);
        }
        if (n == 0) {
            if (inferSbDcSigCoeffFlag && sigMask == 0) {
                sigMask = 1U; // DC of a coded sub-block with no other significant coefficient
            } else {
                sigMask |= decode(Element::sig_coeff_flag, sigContexts.dcCtxInc()) ? 1U : 0U;
            }
        }
        if (sigMask == 0) {
            continue;
        }

        // coeff_abs_level_greater1_flag for the first eight (9.3.4.2.6).
        unsigned ctxSet = (i == 0 || cIdx > 0) ? 0U : 2U;
        if (greater1Ctx == 0) {
            ++ctxSet;
        }
        greater1Ctx = 1;
        std::uint32_t greater1Mask = 0;
        unsigned numGreater1Flag = 0;
        std::int32_t lastGreater1ScanPos = -1;
        const std::int32_t lastSigScanPos = highestScanPosition(sigMask);
        const std::int32_t firstSigScanPos = std::countr_zero(sigMask);
        // Visits the significant positions only, from the highest down; the flags are folded
        // in without branching on them.
        std::uint32_t pending = sigMask;
        for (; pending != 0 && numGreater1Flag < 8; ++numGreater1Flag) {
            const std::int32_t m = highestScanPosition(pending);
            pending &= ~(1U << static_cast<unsigned>(m));
            const bool flag =
                decode(Element::coeff_abs_level_greater1_flag, ctxSet * 4 + greater1Ctx + (cIdx > 0 ? 16U : 0U));
            greater1Mask |= (flag ? 1U : 0U) << static_cast<unsigned>(m);
            lastGreater1ScanPos = flag && lastGreater1ScanPos == -1 ? m : lastGreater1ScanPos;
            greater1Ctx = flag ? 0U : greater1Ctx + (greater1Ctx > 0 && greater1Ctx < 3 ? 1U : 0U);
        }
        const bool signHidden = signHidingAllowed && lastSigScanPos - firstSigScanPos > 3;
        bool greater2 = false;
        std::uint32_t lastGreater1Bit = 0;
        if (lastGreater1ScanPos != -1) {
            greater2 = decode(Element::coeff_abs_level_greater2_flag, ctxSet + (cIdx > 0 ? 4U : 0U));
            lastGreater1Bit = 1U << static_cast<unsigned>(lastGreater1ScanPos);
        }
        // The coefficients with a coeff_abs_level_remaining: those past the eighth (still
        // pending, they have no greater1 flag), those of the first eight whose greater1 flag
        // is 1 but for the one that has a greater2 flag, and that one if its flag is 1. Most
        // sub-blocks have none, so only these are visited below.
        const std::uint32_t escapeMask =
            pending | (greater1Mask & ~lastGreater1Bit) | (greater2 ? lastGreater1Bit : 0U);
        const bool escapeDataPresent = escapeMask != 0;
        if (sps_.range.cabac_bypass_alignment_enabled_flag && escapeDataPresent) {
            engine_.alignBypass();
        }
        // coeff_sign_flag, one per significant coefficient but the hidden one.
        const unsigned signs = significantCount(sigMask) - (signHidden ? 1U : 0U);
        engine_.decodeBypassBits(signs);

        std::uint32_t cRiceParam = persistentRice ? contexts_.StatCoeff[sbType] / 4 : 0;
        require(cRiceParam <= kMaxRiceParam, "Rice parameter out of range");
        bool firstRemaining = true;
        for (std::uint32_t unvisited = escapeMask; unvisited != 0;) {
            const std::int32_t m = highestScanPosition(unvisited);
            const auto bit = 1U << static_cast<unsigned>(m);
            unvisited &= ~bit;
            // The level its flags already account for.
            const std::uint32_t baseLevel = (pending & bit) != 0 ? 1U : (bit == lastGreater1Bit ? 3U : 2U);
            const std::uint32_t remaining = coeff_abs_level_remaining(cRiceParam);
            if (persistentRice && firstRemaining) {
                std::uint32_t& StatCoeff = contexts_.StatCoeff[sbType];
                if (remaining >= (3U << (StatCoeff / 4))) {
                    ++StatCoeff;
                } else if (2U * remaining < (1U << (StatCoeff / 4)) && StatCoeff > 0) {
                    --StatCoeff;
                }
            }
            firstRemaining = false;
            const std::uint64_t absLevel = std::uint64_t{baseLevel} + remaining;
            if (absLevel > 3U * (std::uint64_t{1} << cRiceParam)) {
                cRiceParam = persistentRice ? cRiceParam + 1 : std::min<std::uint32_t>(cRiceParam + 1, 4);
                require(cRiceParam <= kMaxRiceParam, "Rice parameter out of range");
            }
        }
    }
}

} // namespace vexilo::hevc::slice_data
