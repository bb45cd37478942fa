// Syntax-layer cases the reference streams do not reach: SEI framing, the configuration
// record, tile scans and reference list composition.
#include "nal_unit.h"
#include "parameter_sets.h"
#include "profile_tier_level.h"
#include "ref_pic_list_sources.h"
#include "sei.h"
#include "bit_writer.h"
#include "scaling_list.h"
#include "st_ref_pic_set.h"
#include "stream_patch.h"
#include "stream_walker.h"

#include <gtest/gtest.h>

namespace vexilo::hevc {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes left, const Bytes& right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

TEST(SeiSplitTest, SplitsTypeSizeAndPayloadOfEachMessage)
{
    struct Case {
        const char* name;
        Bytes rbsp;
        std::vector<std::pair<std::uint32_t, std::uint64_t>> messages; // type, signaled size
        std::vector<std::size_t> copied;
        bool malformed;
    };
    const std::vector<Case> cases = {
        {"one message", {0x05, 0x02, 0xAA, 0xBB, 0x80}, {{5, 2}}, {2}, false},
        {"two messages", {0x01, 0x01, 0x11, 0x84, 0x00, 0x80}, {{1, 1}, {132, 0}}, {1, 0}, false},
        {"ff-extended type and size", Bytes{0xFF, 0x05, 0xFF, 0x00} + Bytes(255, 0x42) + Bytes{0x80},
         {{260, 255}}, {255}, false},
        {"payload runs past the end", {0x04, 0x09, 0x01, 0x02}, {{4, 9}}, {2}, true},
        {"size byte missing", {0x04}, {}, {}, true},
        {"only trailing bits", {0x80}, {}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SeiSplit split = splitSeiMessages(c.rbsp);
        EXPECT_EQ(split.malformed, c.malformed);
        ASSERT_EQ(split.messages.size(), c.messages.size());
        for (std::size_t i = 0; i < c.messages.size(); ++i) {
            EXPECT_EQ(split.messages[i].payloadType, c.messages[i].first);
            EXPECT_EQ(split.messages[i].payloadSize, c.messages[i].second);
            EXPECT_EQ(split.messages[i].payload.size(), c.copied[i]);
        }
    }
}

Bytes hvcCRecord(std::uint8_t lengthSizeMinusOne, const std::vector<std::pair<std::uint8_t, Bytes>>& arrays)
{
    Bytes record(23, 0);
    record[0] = 1;
    record[1] = 0x01;  // general_profile_idc 1
    record[12] = 93;   // general_level_idc
    record[16] = 0xFD; // chroma_format_idc 1
    record[17] = 0xFA; // bit_depth_luma_minus8 2
    record[18] = 0xF8;
    record[21] = static_cast<std::uint8_t>(0x0C | lengthSizeMinusOne); // one temporal layer, nested
    record[22] = static_cast<std::uint8_t>(arrays.size());
    for (const auto& [type, nal] : arrays) {
        record.push_back(type);
        record.insert(record.end(), {0x00, 0x01});
        record.push_back(static_cast<std::uint8_t>(nal.size() >> 8U));
        record.push_back(static_cast<std::uint8_t>(nal.size()));
        record.insert(record.end(), nal.begin(), nal.end());
    }
    return record;
}

TEST(HvcCTest, ReadsTheRecordAndStopsAtTruncatedArrays)
{
    const Bytes sps = {0x42, 0x01, 0x01, 0x02, 0x03};
    const Bytes record = hvcCRecord(3, {{SPS_NUT, sps}, {PPS_NUT, {0x44, 0x01, 0xC0}}});
    const auto parsed = parseHvcC(record);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->general_profile_idc, 1U);
    EXPECT_EQ(parsed->general_level_idc, 93U);
    EXPECT_EQ(parsed->chromaFormat, 1U);
    EXPECT_EQ(parsed->bitDepthLumaMinus8, 2U);
    EXPECT_EQ(parsed->numTemporalLayers, 1U);
    EXPECT_TRUE(parsed->temporalIdNested);
    EXPECT_EQ(parsed->lengthSizeMinusOne, 3U);
    ASSERT_EQ(parsed->nalUnits.size(), 2U);
    EXPECT_EQ(parsed->nalUnits[0].offset, 28U);
    EXPECT_EQ(parsed->nalUnits[0].size, sps.size());
    EXPECT_EQ(parsed->nalUnits[0].NAL_unit_type, SPS_NUT);
    EXPECT_EQ(parsed->nalUnits[1].NAL_unit_type, PPS_NUT);
    EXPECT_EQ(parsed->nalUnits[1].indexInArray, 0U);
    EXPECT_TRUE(parsed->complete);

    const Bytes cut(record.begin(), record.end() - 2);
    const auto truncated = parseHvcC(cut);
    ASSERT_TRUE(truncated.has_value());
    EXPECT_FALSE(truncated->complete);
    EXPECT_EQ(truncated->nalUnits.size(), 1U);
    EXPECT_FALSE(parseHvcC(Bytes(22, 1)).has_value());
    EXPECT_FALSE(parseHvcC(Bytes{0x00, 0x00, 0x00, 0x01, 0x40, 0x01}).has_value()); // Annex-B, not hvcC
}

TEST(SpsTest, NumReorderPicsAboveTheDpbSizeIsKeptWithAWarning)
{
    // The first SPS of an x265 clip, re-encoded with sps_max_num_reorder_pics one above
    // sps_max_dec_pic_buffering_minus1.
    const auto stream = test::readFile(test::testMediaDir() / "main_420_8bit_gop8.hevc");
    test::SpsReorderField field;
    const auto patched = test::withReorderAboveTheDpb(stream, field);
    const auto rbsp = test::rbspOf(patched, *test::firstNalUnitOfType(patched, SPS_NUT));
    const std::uint32_t decPicBufferingMinus1 = field.maxDecPicBufferingMinus1;
    const std::uint64_t reorderBitPosition = field.bitPosition;
    ASSERT_LT(decPicBufferingMinus1, 15U);
    const ParseResult<Sps> parsed = parseSps(rbsp);
    ASSERT_TRUE(parsed.value.has_value()) << parsed.error;
    ASSERT_EQ(parsed.value->warnings.size(), 1U);
    EXPECT_STREQ(parsed.value->warnings[0].element, "sps_max_num_reorder_pics");
    EXPECT_EQ(parsed.value->warnings[0].bitPosition, reorderBitPosition);
    // As FFmpeg's decoder does: the DPB grows to hold the pictures waiting for reordering.
    EXPECT_EQ(parsed.value->subLayerOrdering[0].max_num_reorder_pics, decPicBufferingMinus1 + 1U);
    EXPECT_EQ(parsed.value->subLayerOrdering[0].max_dec_pic_buffering_minus1, decPicBufferingMinus1 + 1U);
}

TEST(SyntaxErrorTest, NamesTheElementItsMessageStartsWith)
{
    struct Case {
        const char* message;
        const char* element;
    };
    const Case cases[] = {
        {"scaling_list_dc_coef_minus8 out of range", "scaling_list_dc_coef_minus8"},
        {"CtbLog2SizeY outside 4..6", "CtbLog2SizeY"},
        {"Log2MaxIpcmCbSizeY out of range", "Log2MaxIpcmCbSizeY"},
        {"IRAP picture with a P or B slice", ""},
        {"PCM bit depth above the bit depth", ""},
        {"Exp-Golomb code longer than 32 bits", ""},
        {"bitstream ends inside a syntax element", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SyntaxError(c.message).element(), c.element) << c.message;
    }
}

TEST(RefusedParameterSetTest, ErrorNamesTheElementAndTheBitWhereItStarts)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> rbsp;
        const char* element;
        std::uint64_t bitPosition;
    };
    const Case cases[] = {
        {"PPS id above 63", test::BitWriter().ue(64).finish(), "pps_pic_parameter_set_id", 0},
        {"SPS id of the PPS above 15", test::BitWriter().ue(0).ue(16).finish(), "pps_seq_parameter_set_id", 1},
        {"init_qp_minus26 below its range",
         test::BitWriter().ue(0).ue(0).u(7, 0).ue(0).ue(0).se(-100).finish(), "init_qp_minus26", 11},
        // Data that ends inside an element names none; the position is where reading stopped.
        {"ends inside the PPS id", {0x00}, "", 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ParseResult<Pps> parsed = parsePps(c.rbsp);
        ASSERT_FALSE(parsed.value.has_value());
        EXPECT_FALSE(parsed.error.empty());
        EXPECT_EQ(parsed.errorAt.element, c.element);
        EXPECT_EQ(parsed.errorAt.bitPosition, c.bitPosition);
    }
}

TEST(PictureLayoutTest, TileScanFollowsColumnsThenRows)
{
    Sps sps;
    sps.PicWidthInCtbsY = 5;
    sps.PicHeightInCtbsY = 3;
    sps.PicSizeInCtbsY = 15;
    Pps pps;
    pps.tiles_enabled_flag = true;
    pps.num_tile_columns_minus1 = 1;
    pps.num_tile_rows_minus1 = 1;
    pps.uniform_spacing_flag = false;
    pps.column_width_minus1 = {1}; // columns of 2 and 3 CTBs
    pps.row_height_minus1 = {0};   // rows of 1 and 2 CTBs
    const PictureLayout layout = derivePictureLayout(sps, pps);
    EXPECT_EQ(layout.colWidth, (std::vector<std::uint32_t>{2, 3}));
    EXPECT_EQ(layout.rowHeight, (std::vector<std::uint32_t>{1, 2}));
    // Raster row 0: tile 0 holds CTBs 0-1, tile 1 holds 2-4.
    EXPECT_EQ(layout.CtbAddrRsToTs[0], 0U);
    EXPECT_EQ(layout.CtbAddrRsToTs[1], 1U);
    EXPECT_EQ(layout.CtbAddrRsToTs[2], 2U);
    EXPECT_EQ(layout.CtbAddrRsToTs[5], 5U);  // tile 2 starts at raster 5
    EXPECT_EQ(layout.CtbAddrRsToTs[7], 9U);  // tile 3 starts at raster 7 after tile 2's 4 CTBs
    EXPECT_EQ(layout.CtbAddrRsToTs[14], 14U);
    for (std::uint32_t rs = 0; rs < 15; ++rs) {
        EXPECT_EQ(layout.CtbAddrTsToRs[layout.CtbAddrRsToTs[rs]], rs);
    }
    EXPECT_EQ(layout.TileId[layout.CtbAddrRsToTs[12]], 3U);

    Pps tooWide = pps;
    tooWide.column_width_minus1 = {4}; // 5 CTBs leave nothing for the last column
    EXPECT_THROW(derivePictureLayout(sps, tooWide), SyntaxError);

    Pps uniform = pps;
    uniform.uniform_spacing_flag = true;
    uniform.num_tile_columns_minus1 = 2;
    EXPECT_EQ(derivePictureLayout(sps, uniform).colWidth, (std::vector<std::uint32_t>{1, 2, 2}));
}

TEST(RefPicListCompositionTest, FollowsTheRpsSubsetsAndModifications)
{
    using S = RpsSubset;
    struct Case {
        const char* name;
        unsigned listX;
        RefPicListInputs inputs;
        std::vector<std::uint32_t> listEntries;
        std::vector<std::pair<S, std::uint32_t>> expected;
    };
    const std::vector<Case> cases = {
        {"L0 before, after, long-term", 0, {2, 1, 1, false, 4}, {},
         {{S::StCurrBefore, 0}, {S::StCurrBefore, 1}, {S::StCurrAfter, 0}, {S::LtCurr, 0}}},
        {"L1 after first", 1, {2, 1, 0, false, 3}, {}, {{S::StCurrAfter, 0}, {S::StCurrBefore, 0}, {S::StCurrBefore, 1}}},
        {"short list repeats cyclically", 0, {1, 1, 0, false, 4}, {},
         {{S::StCurrBefore, 0}, {S::StCurrAfter, 0}, {S::StCurrBefore, 0}, {S::StCurrAfter, 0}}},
        {"list_entry reorders", 0, {2, 1, 0, false, 2}, {2, 0}, {{S::StCurrAfter, 0}, {S::StCurrBefore, 0}}},
        {"current picture takes the last place", 0, {2, 0, 0, true, 2}, {},
         {{S::StCurrBefore, 0}, {S::CurrentPicture, 0}}},
        {"no references gives no list", 0, {0, 0, 0, false, 2}, {}, {}},
        {"list_entry beyond the temporary list", 0, {1, 0, 0, false, 1}, {5}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RefPicListInputs inputs = c.inputs;
        inputs.ref_pic_list_modification_flag = !c.listEntries.empty();
        inputs.list_entry = c.listEntries.data();
        const auto list = composeRefPicList(c.listX, inputs);
        ASSERT_EQ(list.size(), c.expected.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i].subset, c.expected[i].first) << i;
            EXPECT_EQ(list[i].index, c.expected[i].second) << i;
        }
    }
}

} // namespace
} // namespace vexilo::hevc

namespace vexilo::hevc {
namespace {

TEST(ProfileTierLevelTest, CompatibilityFlagJIsBitJ)
{
    test::BitWriter bits;
    bits.u(2, 0).flag(false).u(5, 4); // Format range extensions profile
    for (unsigned j = 0; j < 32; ++j) {
        bits.flag(j == 4 || j == 9); // compatible with profiles 4 and 9
    }
    bits.u(4, 0).u(9, 0).u(34, 0).flag(false); // source flags, nine constraint flags, reserved bits, inbld
    bits.u(8, 93);
    const auto rbsp = bits.finish();
    BitReader reader(rbsp);
    const ProfileTierLevel ptl = parseProfileTierLevel(reader, true, 0);
    EXPECT_EQ(ptl.general.profile_compatibility_flags, (1U << 4) | (1U << 9));
    EXPECT_EQ(ptl.general.level_idc, 93U);
}

TEST(ScalingListDataTest, PredictionCopiesReferenceMatricesAndDefaults)
{
    test::BitWriter bits;
    for (unsigned sizeId = 0; sizeId < 4; ++sizeId) {
        for (unsigned matrixId = 0; matrixId < 6; matrixId += sizeId == 3 ? 3U : 1U) {
            if (sizeId == 0 && matrixId == 0) {
                bits.flag(true); // explicit: 8 + 1 + 1 + ... rising by one
                for (unsigned i = 0; i < 16; ++i) {
                    bits.se(1);
                }
            } else if (sizeId == 0 && matrixId == 1) {
                bits.flag(false).ue(1); // copy of matrix 0
            } else if (sizeId == 2 && matrixId == 0) {
                bits.flag(true).se(-3); // scaling_list_dc_coef_minus8: DC 5
                for (unsigned i = 0; i < 64; ++i) {
                    bits.se(i == 0 ? 4 : 0); // the first delta counts from the DC value: 9 throughout
                }
            } else if (sizeId == 3 && matrixId == 3) {
                bits.flag(false).ue(1); // refMatrixId 0 of the 32x32 lists (step 3)
            } else {
                bits.flag(false).ue(0); // the default list
            }
        }
    }
    const auto rbsp = bits.finish();
    BitReader reader(rbsp);
    const ScalingList list = parseScalingListData(reader, 3);
    EXPECT_EQ(list.ScalingList[0][0][0], 9);
    EXPECT_EQ(list.ScalingList[0][0][15], 24);
    EXPECT_EQ(list.ScalingList[0][1], list.ScalingList[0][0]);
    EXPECT_EQ(list.ScalingList[0][2][5], 16);
    EXPECT_EQ(list.ScalingList[1][0][63], 115); // intra default
    EXPECT_EQ(list.ScalingList[1][3][63], 91);  // inter default
    EXPECT_EQ(list.dcCoef[2][0], 5);
    EXPECT_EQ(list.ScalingList[2][0][0], 9);
    EXPECT_EQ(list.ScalingList[2][0][63], 9);
    EXPECT_EQ(list.ScalingList[3][3], list.ScalingList[3][0]);
    EXPECT_EQ(list.dcCoef[3][3], list.dcCoef[3][0]);
    // 4:4:4 takes the 32x32 chroma lists from the 16x16 ones.
    EXPECT_EQ(list.ScalingList[3][1], list.ScalingList[2][1]);
    EXPECT_EQ(list.ScalingList[3][4], list.ScalingList[2][4]);

    test::BitWriter badDelta;
    badDelta.flag(false).ue(1); // sizeId 0, matrixId 0 has nothing to copy from
    const auto badRbsp = badDelta.finish();
    BitReader badReader(badRbsp);
    EXPECT_THROW(parseScalingListData(badReader, 1), SyntaxError);
}

TEST(StRefPicSetTest, InterPredictionDerivesFromTheReferenceSet)
{
    // Set 0: POC deltas -1 -3 | +2, all used. Set 1 predicts from it with deltaRps = -1.
    test::BitWriter bits;
    bits.ue(2).ue(1);           // num_negative_pics, num_positive_pics
    bits.ue(0).flag(true);      // -1
    bits.ue(1).flag(true);      // -3
    bits.ue(1).flag(true);      // +2
    bits.flag(true);            // inter_ref_pic_set_prediction_flag (set 1, not the slice's)
    bits.flag(true).ue(0);      // delta_rps_sign 1, abs_delta_rps_minus1 0: deltaRps -1
    // j over the reference's -1, -3, +2 and deltaRps itself.
    bits.flag(true);            // -1 - 1 = -2, used
    bits.flag(false).flag(true); // -3 - 1 = -4, not used but kept
    bits.flag(true);            // +2 - 1 = +1, used
    bits.flag(false).flag(false); // deltaRps itself (-1) dropped
    const auto rbsp = bits.finish();
    BitReader reader(rbsp);
    std::vector<ShortTermRefPicSet> sets;
    sets.push_back(parseStRefPicSet(reader, 0, sets, 2));
    sets.push_back(parseStRefPicSet(reader, 1, sets, 2));
    const ShortTermRefPicSet& predicted = sets[1];
    EXPECT_TRUE(predicted.inter_ref_pic_set_prediction_flag);
    ASSERT_EQ(predicted.NumNegativePics, 2U);
    ASSERT_EQ(predicted.NumPositivePics, 1U);
    EXPECT_EQ(predicted.DeltaPocS0[0], -2);
    EXPECT_TRUE(predicted.UsedByCurrPicS0[0]);
    EXPECT_EQ(predicted.DeltaPocS0[1], -4);
    EXPECT_FALSE(predicted.UsedByCurrPicS0[1]);
    EXPECT_EQ(predicted.DeltaPocS1[0], 1);
    EXPECT_TRUE(predicted.UsedByCurrPicS1[0]);
}

} // namespace
} // namespace vexilo::hevc
