#include "bit_reader.h"
#include "nal_unit.h"

#include <gtest/gtest.h>

#include <vector>

namespace vexilo::hevc {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(RbspTest, RemovesEmulationPreventionBytesAndMapsPositionsBack)
{
    struct Case {
        Bytes escaped;
        Bytes rbsp;
    };
    const std::vector<Case> cases = {
        {{0x00, 0x00, 0x03, 0x01}, {0x00, 0x00, 0x01}},
        {{0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x02}, {0x00, 0x00, 0x00, 0x00, 0x02}},
        {{0x00, 0x03, 0x00}, {0x00, 0x03, 0x00}},        // one zero is not enough
        {{0x00, 0x00, 0x03}, {0x00, 0x00}},              // trailing cabac_zero_word form
        {{0x12, 0x00, 0x00, 0x00, 0x03}, {0x12, 0x00, 0x00, 0x00}},
        {{0x12, 0x34, 0x00, 0x00, 0x03, 0x03, 0x56}, {0x12, 0x34, 0x00, 0x00, 0x03, 0x56}}, // only the first 0x03
        {{0x12, 0x34, 0x56}, {0x12, 0x34, 0x56}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unescapeRbsp(c.escaped).bytes, c.rbsp);
    }
    const Rbsp rbsp = unescapeRbsp(Bytes{0xAA, 0x00, 0x00, 0x03, 0x01, 0xBB});
    EXPECT_EQ(rbsp.toNalPosition(0), 0U);
    EXPECT_EQ(rbsp.toNalPosition(3), 4U); // 0x01 sits behind the removed byte
    EXPECT_EQ(rbsp.toNalPosition(4), 5U);
    const Rbsp twice = unescapeRbsp(Bytes{0x11, 0x22, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 0x44});
    EXPECT_EQ(twice.removedNalPositions, (std::vector<std::uint64_t>{4, 7}));
}

TEST(BitReaderTest, ReadsFixedAndExpGolombCodes)
{
    // 1 | 010 | 011 | 00100 | 00101 | 0001000 -> u(1)=1, ue=1, ue=2, ue=3, se=-2, ue=7
    const Bytes data = {0b10100110, 0b01000010, 0b10001000};
    BitReader reader(data);
    EXPECT_EQ(reader.u(1), 1U);
    EXPECT_EQ(reader.ue(), 1U);
    EXPECT_EQ(reader.ue(), 2U);
    EXPECT_EQ(reader.ue(), 3U);
    EXPECT_EQ(reader.se(), -2);
    EXPECT_EQ(reader.ue(), 7U);
    EXPECT_EQ(reader.bitsLeft(), 0U);
    EXPECT_THROW(reader.u(1), SyntaxError);
}

TEST(BitReaderTest, RejectsOverlongAndTruncatedCodes)
{
    const Bytes zeros(5, 0x00);
    BitReader overlong(zeros);
    EXPECT_THROW(overlong.ue(), SyntaxError);
    const Bytes truncated = {0x00, 0x01}; // 15 leading zeros, suffix missing
    BitReader shortReader(truncated);
    EXPECT_THROW(shortReader.ue(), SyntaxError);
    const Bytes maxValue = {0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00}; // 32 zeros then 1
    BitReader tooLong(maxValue);
    EXPECT_THROW(tooLong.ue(), SyntaxError);
}

TEST(BitReaderTest, MoreRbspDataStopsAtTheStopBit)
{
    const Bytes data = {0xA0, 0x80, 0x00};
    BitReader reader(data);
    EXPECT_TRUE(reader.more_rbsp_data());
    reader.u(8);
    EXPECT_FALSE(reader.more_rbsp_data());
}

TEST(NalUnitSplitTest, AnnexBStartCodesAndTrailingZeros)
{
    const Bytes stream = {0x00, 0x00, 0x00, 0x01, 0x40, 0x01, 0xAA, 0x00, 0x00, // 4-byte code, trailing zero
                          0x00, 0x00, 0x01, 0x42, 0x01, 0xBB, 0x00, 0x00, 0x01, 0x44, 0x01};
    const auto nalUnits = splitAnnexB(stream);
    ASSERT_EQ(nalUnits.size(), 3U);
    EXPECT_EQ(nalUnits[0].offset, 4U);
    EXPECT_EQ(nalUnits[0].size, 3U);
    EXPECT_EQ(nalUnits[0].startCodeLength, 4U);
    EXPECT_EQ(nalUnits[1].offset, 12U);
    EXPECT_EQ(nalUnits[1].startCodeLength, 4U);
    EXPECT_EQ(nalUnits[2].offset, 18U);
    EXPECT_EQ(nalUnits[2].startCodeLength, 3U);
    EXPECT_EQ(nalUnits[2].size, 2U);
}

TEST(NalUnitSplitTest, AnnexBIgnoresLeadingBytesAndLookalikes)
{
    // Junk before the first start code; 0x000002 and a 0x0000 at the end are no start codes;
    // a start code at the very end opens an empty NAL unit, which is left out.
    const Bytes stream = {0x55, 0x00, 0x66, 0x00, 0x00, 0x01, 0x40, 0x01, 0x00, 0x00,
                          0x02, 0x77, 0x00, 0x00, 0x01, 0x42, 0x00, 0x00, 0x00, 0x00, 0x01};
    const auto nalUnits = splitAnnexB(stream);
    ASSERT_EQ(nalUnits.size(), 2U);
    EXPECT_EQ(nalUnits[0].offset, 6U);
    EXPECT_EQ(nalUnits[0].size, 6U);
    EXPECT_EQ(nalUnits[0].startCodeLength, 3U);
    EXPECT_EQ(nalUnits[1].offset, 15U);
    EXPECT_EQ(nalUnits[1].size, 1U);
    EXPECT_TRUE(splitAnnexB(Bytes{0x00, 0x00}).empty());
}

TEST(NalUnitSplitTest, LengthPrefixedStopsAtAnOverlongLength)
{
    const Bytes sample = {0x00, 0x00, 0x00, 0x02, 0x40, 0x01, 0x00, 0x00, 0x00, 0x09, 0x42};
    const auto split = splitLengthPrefixed(sample, 4);
    EXPECT_FALSE(split.complete);
    ASSERT_EQ(split.nalUnits.size(), 1U);
    EXPECT_EQ(split.nalUnits[0].offset, 4U);
    EXPECT_EQ(split.nalUnits[0].size, 2U);
    EXPECT_FALSE(splitLengthPrefixed(sample, 3).complete);
}

TEST(NalUnitHeaderTest, DecodesFieldsAndRefusesForbiddenValues)
{
    const Bytes idr = {0x26, 0x01};
    const auto header = parseNalUnitHeader(idr);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->nal_unit_type, IDR_W_RADL);
    EXPECT_EQ(header->nuh_layer_id, 0U);
    EXPECT_EQ(header->TemporalId(), 0U);
    EXPECT_FALSE(parseNalUnitHeader(Bytes{0xA6, 0x01}).has_value()); // forbidden_zero_bit
    EXPECT_FALSE(parseNalUnitHeader(Bytes{0x26, 0x00}).has_value()); // nuh_temporal_id_plus1 == 0
    EXPECT_FALSE(parseNalUnitHeader(Bytes{0x26}).has_value());
}

} // namespace
} // namespace vexilo::hevc
