// The CABAC decoding engine against an encoder written from the informative encoding process
// of ITU-T H.265 9.3.5, and the context tables against entries of Tables 9-5 to 9-37.
#include "cabac/arithmetic_decoder.h"
#include "cabac/context_tables.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace vexilo::hevc::cabac {
namespace {

class ArithmeticEncoder {
public:
    void encodeDecision(ContextVariable& context, bool binVal)
    {
        unsigned pStateIdx = context.pStateIdx();
        unsigned valMps = context.valMps();
        const std::uint32_t lps = rangeTabLps(pStateIdx, (ivlCurrRange_ >> 6U) & 3U);
        ivlCurrRange_ -= lps;
        if (binVal != (valMps != 0)) {
            ivlLow_ += ivlCurrRange_;
            ivlCurrRange_ = lps;
            if (pStateIdx == 0) {
                valMps = 1U - valMps;
            }
            pStateIdx = transIdxLps(pStateIdx);
        } else if (pStateIdx < 62) {
            ++pStateIdx;
        }
        context = ContextVariable::of(pStateIdx, valMps);
        renormE();
    }
    void encodeBypass(bool binVal)
    {
        ivlLow_ <<= 1U;
        if (binVal) {
            ivlLow_ += ivlCurrRange_;
        }
        if (ivlLow_ >= 1024) {
            putBit(1);
            ivlLow_ -= 1024;
        } else if (ivlLow_ < 512) {
            putBit(0);
        } else {
            ivlLow_ -= 512;
            ++bitsOutstanding_;
        }
    }
    void encodeTerminate(bool binVal)
    {
        ivlCurrRange_ -= 2;
        if (binVal) {
            ivlLow_ += ivlCurrRange_;
            ivlCurrRange_ = 2;
            renormE();
            putBit((ivlLow_ >> 9U) & 1U);
            writeBit((ivlLow_ >> 8U) & 1U);
            writeBit(1); // ((ivlLow >> 7) & 3) | 1: its last bit is the stop bit
        } else {
            renormE();
        }
    }
    void writeBit(std::uint32_t bit)
    {
        if ((bits_ & 7U) == 0) {
            bytes.push_back(0);
        }
        bytes.back() = static_cast<std::uint8_t>(bytes.back() | (bit << (7U - (bits_ & 7U))));
        ++bits_;
    }
    [[nodiscard]] std::uint64_t bits() const { return bits_; }

    std::vector<std::uint8_t> bytes;

private:
    void renormE()
    {
        while (ivlCurrRange_ < 256) {
            if (ivlLow_ < 256) {
                putBit(0);
            } else if (ivlLow_ >= 512) {
                ivlLow_ -= 512;
                putBit(1);
            } else {
                ivlLow_ -= 256;
                ++bitsOutstanding_;
            }
            ivlCurrRange_ <<= 1U;
            ivlLow_ <<= 1U;
        }
    }
    void putBit(std::uint32_t bit)
    {
        if (firstBitFlag_) {
            firstBitFlag_ = false;
        } else {
            writeBit(bit);
        }
        for (; bitsOutstanding_ > 0; --bitsOutstanding_) {
            writeBit(1U - bit);
        }
    }

    std::uint32_t ivlLow_ = 0;
    std::uint32_t ivlCurrRange_ = 510;
    bool firstBitFlag_ = true;
    std::uint32_t bitsOutstanding_ = 0;
    std::uint64_t bits_ = 0;
};

enum class BinKind { Decision, Bypass, Terminate };
struct Bin {
    BinKind kind;
    unsigned context;
    bool value;
};

struct RoundTripCase {
    const char* name;
    unsigned seed;
    double skew; // probability of a 1 for decision bins, to drive states towards both ends
    bool bypassHeavy;
};

class ArithmeticRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(ArithmeticRoundTrip, DecoderReturnsEveryBinAndStopsAtTheStopBit)
{
    const RoundTripCase& c = GetParam();
    std::mt19937 random(c.seed);
    std::bernoulli_distribution skewed(c.skew);
    std::bernoulli_distribution fair(0.5);
    std::uniform_int_distribution<unsigned> pick(0, 99);
    std::vector<Bin> bins;
    for (int i = 0; i < 20000; ++i) {
        const unsigned roll = pick(random);
        if (roll < 2) {
            bins.push_back({BinKind::Terminate, 0, false}); // end_of_slice_segment_flag 0
        } else if (roll < (c.bypassHeavy ? 60U : 20U)) {
            bins.push_back({BinKind::Bypass, 0, fair(random)});
        } else {
            bins.push_back({BinKind::Decision, roll % 8, skewed(random)});
        }
    }
    bins.push_back({BinKind::Terminate, 0, true});

    std::vector<ContextVariable> encoderContexts(8, ContextVariable::of(30, 1));
    ArithmeticEncoder encoder;
    encoder.writeBit(1); // leading raw bit the decoder must skip
    for (const Bin& bin : bins) {
        switch (bin.kind) {
        case BinKind::Decision:
            encoder.encodeDecision(encoderContexts[bin.context], bin.value);
            break;
        case BinKind::Bypass:
            encoder.encodeBypass(bin.value);
            break;
        case BinKind::Terminate:
            encoder.encodeTerminate(bin.value);
            break;
        }
    }
    const std::uint64_t stopBit = encoder.bits() - 1;

    std::vector<ContextVariable> decoderContexts(8, ContextVariable::of(30, 1));
    ArithmeticDecoder decoder(encoder.bytes, 1);
    decoder.initialise();
    for (std::size_t i = 0; i < bins.size(); ++i) {
        const Bin& bin = bins[i];
        bool value = false;
        switch (bin.kind) {
        case BinKind::Decision:
            value = decoder.decodeDecision(decoderContexts[bin.context]);
            break;
        case BinKind::Bypass:
            value = decoder.decodeBypass();
            break;
        case BinKind::Terminate:
            value = decoder.decodeTerminate();
            break;
        }
        ASSERT_EQ(value, bin.value) << "bin " << i;
    }
    EXPECT_EQ(decoder.bitPosition(), stopBit);
    EXPECT_EQ(decoder.readBits(1), 1U);
}

INSTANTIATE_TEST_SUITE_P(Cabac, ArithmeticRoundTrip,
                         ::testing::Values(RoundTripCase{"balanced", 1, 0.5, false},
                                           RoundTripCase{"mostly_ones", 2, 0.97, false},
                                           RoundTripCase{"mostly_zeros", 3, 0.02, false},
                                           RoundTripCase{"bypass_runs", 4, 0.5, true}),
                         [](const ::testing::TestParamInfo<RoundTripCase>& param) { return param.param.name; });

// Runs of bypass bins decoded as one value (signs, suffixes) must equal the bins decoded
// one by one, for every run length including those longer than one division can take.
TEST(ArithmeticDecoder, BypassRunsDecodeAsTheirBinsMostSignificantFirst)
{
    std::mt19937 random(11);
    std::uniform_int_distribution<unsigned> length(0, 32);
    std::bernoulli_distribution fair(0.5);
    std::vector<std::pair<unsigned, std::uint32_t>> runs; // length, value
    ContextVariable encoderContext = ContextVariable::of(20, 0);
    ArithmeticEncoder encoder;
    for (int i = 0; i < 3000; ++i) {
        encoder.encodeDecision(encoderContext, fair(random));
        const unsigned n = length(random);
        std::uint32_t value = 0;
        for (unsigned b = 0; b < n; ++b) {
            const bool bit = fair(random);
            encoder.encodeBypass(bit);
            value = (value << 1U) | (bit ? 1U : 0U);
        }
        runs.emplace_back(n, value);
    }
    encoder.encodeTerminate(true);

    ContextVariable decoderContext = ContextVariable::of(20, 0);
    ArithmeticDecoder decoder(encoder.bytes, 0);
    decoder.initialise();
    for (std::size_t i = 0; i < runs.size(); ++i) {
        decoder.decodeDecision(decoderContext);
        ASSERT_EQ(decoder.decodeBypassBits(runs[i].first), runs[i].second) << "run " << i;
    }
    EXPECT_TRUE(decoder.decodeTerminate());
}

// Substreams (WPP rows, tiles) and PCM samples end the arithmetic code with a terminate bin
// of 1, go on with raw bits to a byte boundary (and PCM sample bits), and start the code
// afresh: the engine has to pick up exactly there, whatever it had read ahead.
TEST(ArithmeticDecoder, RestartsAfterEachSubstreamsAlignmentAndSkippedSamples)
{
    std::mt19937 random(23);
    std::uniform_int_distribution<unsigned> binCount(0, 300);
    std::uniform_int_distribution<unsigned> sampleBytes(0, 3); // 0: no samples
    std::uniform_int_distribution<unsigned> sampleByteCount(1, 12);
    std::bernoulli_distribution fair(0.5);
    struct Substream {
        std::vector<std::pair<bool, bool>> bins; // bypass?, value
        unsigned skippedBytes;
    };
    std::vector<Substream> substreams(60);
    std::vector<std::uint8_t> data;
    for (Substream& substream : substreams) {
        ArithmeticEncoder encoder;
        ContextVariable context = ContextVariable::of(10, 1);
        for (unsigned i = binCount(random); i > 0; --i) {
            const bool bypass = fair(random);
            const bool value = fair(random);
            if (bypass) {
                encoder.encodeBypass(value);
            } else {
                encoder.encodeDecision(context, value);
            }
            substream.bins.emplace_back(bypass, value);
        }
        encoder.encodeTerminate(true);
        while ((encoder.bits() & 7U) != 0) {
            encoder.writeBit(0);
        }
        data.insert(data.end(), encoder.bytes.begin(), encoder.bytes.end());
        substream.skippedBytes = sampleBytes(random) == 0 ? sampleByteCount(random) : 0;
        for (unsigned i = 0; i < substream.skippedBytes; ++i) {
            data.push_back(static_cast<std::uint8_t>(random()));
        }
    }

    ArithmeticDecoder decoder(data, 0);
    for (std::size_t s = 0; s < substreams.size(); ++s) {
        decoder.initialise();
        ContextVariable context = ContextVariable::of(10, 1);
        for (const auto& [bypass, value] : substreams[s].bins) {
            ASSERT_EQ(bypass ? decoder.decodeBypass() : decoder.decodeDecision(context), value) << "substream " << s;
        }
        ASSERT_TRUE(decoder.decodeTerminate()) << "substream " << s;
        ASSERT_EQ(decoder.readBits(1), 1U) << "substream " << s;
        while (!decoder.byteAligned()) {
            ASSERT_EQ(decoder.readBits(1), 0U) << "substream " << s;
        }
        // A WPP row or tile goes straight on; PCM samples are skipped first.
        if (substreams[s].skippedBytes != 0) {
            decoder.skipBits(std::uint64_t{substreams[s].skippedBytes} * 8U);
        }
    }
    EXPECT_EQ(decoder.bitPosition(), decoder.sizeBits());
}

TEST(ArithmeticDecoder, RefusesAnOffsetOf510AndReadsNoFurtherThanTheData)
{
    const std::vector<std::uint8_t> offset510{0xFF, 0x00};
    ArithmeticDecoder refused(offset510, 0);
    EXPECT_ANY_THROW(refused.initialise());

    const std::vector<std::uint8_t> shortData{0x00, 0x00};
    ArithmeticDecoder decoder(shortData, 0);
    decoder.initialise();
    EXPECT_ANY_THROW({
        for (int i = 0; i < 64; ++i) {
            decoder.decodeBypass();
        }
    });
}

struct InitValueCase {
    unsigned initType;
    Element element;
    std::vector<std::uint8_t> values; // ctxInc 0, 1, ...
};

class ContextInitValues : public ::testing::TestWithParam<InitValueCase> {};

TEST_P(ContextInitValues, MatchTheStandardsTables)
{
    const InitValueCase& c = GetParam();
    ASSERT_EQ(c.values.size(), contextCountOf(c.element));
    for (unsigned ctxInc = 0; ctxInc < c.values.size(); ++ctxInc) {
        EXPECT_EQ(initValue(c.initType, c.element, ctxInc), c.values[ctxInc]) << "ctxInc " << ctxInc;
    }
}

// First, last and odd-sized elements of each initType, where an off-by-one in the table
// layout would show.
INSTANTIATE_TEST_SUITE_P(
    Cabac, ContextInitValues,
    ::testing::Values(InitValueCase{0, Element::sao_merge_flag, {153}},
                      InitValueCase{0, Element::split_cu_flag, {139, 141, 157}},
                      InitValueCase{1, Element::cu_skip_flag, {197, 185, 201}},
                      InitValueCase{2, Element::pred_mode_flag, {134}},
                      InitValueCase{1, Element::part_mode, {154, 139, 154, 154}},
                      InitValueCase{0, Element::part_mode, {184, 154, 154, 154}},
                      InitValueCase{2, Element::inter_pred_idc, {95, 79, 63, 31, 31}},
                      InitValueCase{2, Element::split_transform_flag, {224, 167, 122}},
                      InitValueCase{1, Element::cbf_chroma, {149, 107, 167, 154, 154}},
                      InitValueCase{2, Element::abs_mvd_greater0_flag, {169}},
                      InitValueCase{1, Element::coded_sub_block_flag, {121, 140, 61, 154}},
                      InitValueCase{2, Element::coeff_abs_level_greater2_flag, {107, 167, 91, 107, 107, 167}},
                      InitValueCase{1, Element::explicit_rdpcm_dir_flag, {139, 139}},
                      InitValueCase{2, Element::cu_chroma_qp_offset_idx, {154}}));

TEST(ContextInitValues, TransformSkipSignificanceContextsFollowTheRegularOnes)
{
    EXPECT_EQ(initValue(0, Element::sig_coeff_flag, 41), 111);
    EXPECT_EQ(initValue(0, Element::sig_coeff_flag, 42), 141);
    EXPECT_EQ(initValue(0, Element::sig_coeff_flag, 43), 111);
    EXPECT_EQ(initValue(1, Element::sig_coeff_flag, 42), 140);
    EXPECT_EQ(initValue(2, Element::sig_coeff_flag, 0), 170);
}

struct InitStateCase {
    std::uint8_t initValue;
    std::int32_t SliceQpY;
    std::uint8_t pStateIdx;
    std::uint8_t valMps;
};

class ContextInitialisation : public ::testing::TestWithParam<InitStateCase> {};

TEST_P(ContextInitialisation, DerivesStateFromInitValueAndQp)
{
    // cu_transquant_bypass_flag has initValue 154 everywhere; split_cu_flag ctxInc 0 of
    // initType 0 has 139 and of initType 1 107.
    const InitStateCase& c = GetParam();
    const unsigned initType = c.initValue == 107 ? 1 : 0;
    const Element element = c.initValue == 154 ? Element::cu_transquant_bypass_flag : Element::split_cu_flag;
    ContextSet set;
    set.StatCoeff = {3, 3, 3, 3};
    initialiseContexts(set, initType, c.SliceQpY);
    EXPECT_EQ(set.at(element, 0).pStateIdx(), c.pStateIdx);
    EXPECT_EQ(set.at(element, 0).valMps(), c.valMps);
    EXPECT_EQ(set.StatCoeff, (std::array<std::uint32_t, 4>{}));
}

INSTANTIATE_TEST_SUITE_P(Cabac, ContextInitialisation,
                         ::testing::Values(InitStateCase{154, 26, 0, 1}, InitStateCase{154, 51, 0, 1},
                                           InitStateCase{139, 26, 0, 0}, InitStateCase{139, 0, 8, 1},
                                           InitStateCase{139, 60, 7, 0}, // QP clipped to 51
                                           InitStateCase{107, 22, 12, 0}));

TEST(ContextInitialisation, InitTypeFollowsSliceTypeAndCabacInitFlag)
{
    constexpr std::uint32_t B = 0;
    constexpr std::uint32_t P = 1;
    constexpr std::uint32_t I = 2;
    EXPECT_EQ(initTypeOf(I, false), 0U);
    EXPECT_EQ(initTypeOf(P, false), 1U);
    EXPECT_EQ(initTypeOf(P, true), 2U);
    EXPECT_EQ(initTypeOf(B, false), 2U);
    EXPECT_EQ(initTypeOf(B, true), 1U);
}

} // namespace
} // namespace vexilo::hevc::cabac
