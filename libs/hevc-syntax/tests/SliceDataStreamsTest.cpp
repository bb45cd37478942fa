// Slice data of real streams, HM reference streams and x265 clips: every slice segment must
// parse to end_of_slice_segment_flag at its last CTU with its bytes used up, subsets must
// start at the signaled entry points, and the syntax counts must match those the HM decoder
// reported for each stream.
#include "bit_reader.h"
#include "nal_unit.h"
#include "parameter_sets.h"
#include "slice_data/slice_data_parser.h"
#include "slice_header.h"
#include "stream_walker.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>
#include <map>
#include <sstream>

namespace vexilo::hevc::test {
namespace {

using slice_data::PartMode;

// Syntax counts over a whole stream, in the terms of the manifest's parsedSyntax line.
struct SyntaxCounts {
    std::uint64_t transformSkipTbs = 0;
    std::map<std::string, std::uint64_t> ampPus; // by part mode name, per CU
    std::map<std::uint32_t, std::uint64_t> pcmCus; // by CU size
    std::uint64_t bypassCus = 0;
    std::uint64_t nonBypassCus = 0;
    std::uint64_t saoBand = 0; // (CTB, component group) with signaled band offset
    std::uint64_t saoEdge = 0;
    std::uint64_t entryPoints = 0;
    std::array<std::uint64_t, 2> chromaQpOffsetFlags{}; // [0] flag 0, [1] flag 1
    std::array<std::uint64_t, 2> explicitRdpcmFlags{};
    std::array<std::uint64_t, 2> resScaleZeroNonZero{};
    std::uint64_t implicitRdpcmTbs = 0;
    std::uint64_t singleSignificanceContextTbs = 0;
    // Geometry: leaf CUs that their PUs or transform leaves do not tile exactly.
    std::uint64_t cusNotTiledByPus = 0;
    std::uint64_t cusNotTiledByTus = 0;
    std::uint64_t cuArea = 0; // luma samples of leaf CUs inside the picture
};

class CountingSink : public slice_data::BlockSink {
public:
    explicit CountingSink(SyntaxCounts& counts) : counts_(counts) {}

    // Off for pictures the reference decoder skipped (RASL pictures of the first CRA).
    bool enabled = true;
    slice_data::CodingTreeUnit lastCtu;
    std::uint32_t pictureWidth = 0;
    std::uint32_t pictureHeight = 0;

    void predictionUnit(const slice_data::PredictionUnit& pu) override
    {
        puArea_ += std::uint64_t{pu.nPbW} * pu.nPbH;
    }
    void codingUnit(const slice_data::CodingUnit& cu) override
    {
        // Inter CUs are tiled by their prediction units, and every CU with a transform tree by
        // its transform leaves.
        const std::uint64_t area = std::uint64_t{1} << (2 * cu.log2CbSize);
        if (cu.CuPredMode != slice_data::PredMode::Intra && puArea_ != area) {
            ++counts_.cusNotTiledByPus;
        }
        if (tuLeafArea_ != 0 && tuLeafArea_ != area) {
            ++counts_.cusNotTiledByTus;
        }
        puArea_ = 0;
        tuLeafArea_ = 0;
        counts_.cuArea += std::uint64_t{std::min(1U << cu.log2CbSize, pictureWidth - cu.x0)} *
                          std::min(1U << cu.log2CbSize, pictureHeight - cu.y0);
        if (!enabled) {
            return;
        }
        static const std::map<PartMode, std::string> kAmp{{PartMode::PART_2NxnU, "2NxnU"},
                                                          {PartMode::PART_2NxnD, "2NxnD"},
                                                          {PartMode::PART_nLx2N, "nLx2N"},
                                                          {PartMode::PART_nRx2N, "nRx2N"}};
        if (const auto amp = kAmp.find(cu.partMode); amp != kAmp.end()) {
            ++counts_.ampPus[amp->second];
        }
        if (cu.pcm_flag) {
            ++counts_.pcmCus[1U << cu.log2CbSize];
        }
        if (cu.signaled_cu_chroma_qp_offset_flag) {
            ++counts_.chromaQpOffsetFlags[*cu.signaled_cu_chroma_qp_offset_flag ? 1 : 0];
        }
        if (cu.signaled_cu_transquant_bypass_flag) {
            ++(cu.cu_transquant_bypass_flag ? counts_.bypassCus : counts_.nonBypassCus);
        }
    }
    void transformTreeNode(const slice_data::TransformTreeNode& node) override
    {
        if (!node.split_transform_flag) {
            tuLeafArea_ += std::uint64_t{1} << (2 * node.log2TrafoSize);
        }
        if (!enabled) {
            return;
        }
        for (const slice_data::ResidualBlock& block : node.residuals) {
            if (block.coded && block.transform_skip_flag) {
                ++counts_.transformSkipTbs;
            }
            counts_.implicitRdpcmTbs += block.implicitRdpcm ? 1 : 0;
            counts_.singleSignificanceContextTbs += block.coded && block.singleSignificanceContext ? 1 : 0;
            if (block.explicitRdpcmSignaled) {
                ++counts_.explicitRdpcmFlags[block.explicit_rdpcm_flag ? 1 : 0];
            }
        }
        for (unsigned c = 0; c < 2; ++c) {
            if (node.crossComponentSignaled[c]) {
                ++counts_.resScaleZeroNonZero[node.log2_res_scale_abs_plus1[c] != 0 ? 1 : 0];
            }
        }
    }
    void codingTreeUnit(const slice_data::CodingTreeUnit& ctu) override
    {
        lastCtu = ctu;
        if (!enabled || !ctu.saoSignaled || ctu.sao_merge_left_flag || ctu.sao_merge_up_flag) {
            return;
        }
        for (unsigned group = 0; group < 2; ++group) {
            const std::uint8_t type = ctu.SaoTypeIdx[group];
            counts_.saoBand += type == 1 ? 1 : 0;
            counts_.saoEdge += type == 2 ? 1 : 0;
        }
    }

private:
    SyntaxCounts& counts_;
    std::uint64_t puArea_ = 0;
    std::uint64_t tuLeafArea_ = 0;
};

// Damages the slice data of some slice segments (a copy of the RBSP from the first byte of
// slice_segment_data()); returns whether it did.
using Corruptor = std::function<bool(std::uint64_t sliceSegment, std::vector<std::uint8_t>& sliceData)>;

struct StreamParse {
    std::uint64_t sliceSegments = 0;
    std::uint64_t corruptedSegments = 0;
    std::uint64_t corruptedFailures = 0;
    std::uint64_t pictureArea = 0; // luma samples of all pictures
    std::uint64_t ctus = 0;
    std::vector<std::string> failures;
    SyntaxCounts counts;
};

// Walks an Annex-B stream the way the observer does: parameter sets and slice headers with
// the stream-level parsers, then every slice segment's data.
// With a corruptor only what must hold for damaged data is checked: a damaged segment fails
// with its last CTU marked, and an undamaged independent slice segment parses.
StreamParse parseStream(const std::filesystem::path& path, const Corruptor& corruptor = {})
{
    StreamParse parse;
    slice_data::PictureBlockState state;
    CountingSink sink(parse.counts);
    std::uint32_t expectedNextCtb = 0;
    std::uint32_t pictureCtbs = 0;
    bool firstPicture = true;
    bool raslSkipped = false;

    StreamWalker walker;
    walker.onNalUnit = [&](const NalUnitHeader& nal) {
        if (!isVcl(nal.nal_unit_type)) {
            return;
        }
        if (isIrap(nal.nal_unit_type)) {
            raslSkipped = firstPicture && !isIdr(nal.nal_unit_type);
        }
        firstPicture = false;
        sink.enabled = !(raslSkipped && isRasl(nal.nal_unit_type));
    };
    walker.onSliceSegment = [&](const WalkedSliceSegment& segment) {
        const Rbsp& rbsp = segment.rbsp;
        const SliceHeaderParse& sliceHeader = segment.header;
        const std::string where = path.filename().string() + " slice segment " + std::to_string(parse.sliceSegments);
        ++parse.sliceSegments;
        if (!sliceHeader.parsed) {
            parse.failures.push_back(where + ": slice header: " + sliceHeader.error);
            return;
        }
        const SliceSegmentHeader& h = sliceHeader.header;
        if (h.first_slice_segment_in_pic_flag) {
            if (!corruptor && expectedNextCtb != pictureCtbs) {
                parse.failures.push_back(where + ": previous picture ended at CTB " + std::to_string(expectedNextCtb));
            }
            state.beginPicture(*sliceHeader.sps, *sliceHeader.layout);
            sink.pictureWidth = sliceHeader.sps->pic_width_in_luma_samples;
            sink.pictureHeight = sliceHeader.sps->pic_height_in_luma_samples;
            parse.pictureArea += std::uint64_t{sink.pictureWidth} * sink.pictureHeight;
            pictureCtbs = sliceHeader.sps->PicSizeInCtbsY;
            expectedNextCtb = 0;
        }
        if (!corruptor && h.CtbAddrInTs != expectedNextCtb) {
            parse.failures.push_back(where + ": starts at CTB " + std::to_string(h.CtbAddrInTs) + ", expected " +
                                     std::to_string(expectedNextCtb));
        }
        std::vector<std::uint8_t> sliceData(rbsp.bytes.begin() + static_cast<std::ptrdiff_t>(h.sliceDataByteOffset),
                                            rbsp.bytes.end());
        const bool corrupted = corruptor && corruptor(parse.sliceSegments - 1, sliceData);
        slice_data::SliceDataInput input;
        input.sps = sliceHeader.sps.get();
        input.pps = sliceHeader.pps.get();
        input.layout = sliceHeader.layout.get();
        input.header = &h;
        input.sliceData = sliceData;
        const slice_data::SliceDataResult result = slice_data::parseSliceSegmentData(input, state, sink);
        parse.ctus += result.ctusParsed;
        if (corruptor) {
            parse.corruptedSegments += corrupted ? 1 : 0;
            if (!result.parsed) {
                parse.corruptedFailures += corrupted ? 1 : 0;
                // Either a CTU could not be parsed and says so, or the syntax between or after
                // complete CTUs (end_of_subset_one_bit, alignment, trailing bits) was wrong.
                const bool ctuMarked = !sink.lastCtu.parsed && !sink.lastCtu.error.empty() &&
                                       sink.lastCtu.CtbAddrInTs == result.endCtbAddrTs;
                const bool betweenCtus = result.ctusParsed > 0 && sink.lastCtu.parsed &&
                                         sink.lastCtu.CtbAddrInTs + 1 == result.endCtbAddrTs;
                if (!ctuMarked && !betweenCtus) {
                    parse.failures.push_back(where + ": failed without a malformed CTU record: " + result.error);
                }
                if (!corrupted && !h.dependent_slice_segment_flag) {
                    parse.failures.push_back(where + ": undamaged slice segment failed: " + result.error);
                }
            }
            return;
        }
        expectedNextCtb = result.endCtbAddrTs;
        if (!result.parsed) {
            parse.failures.push_back(where + " (POC lsb " + std::to_string(h.slice_pic_order_cnt_lsb) + ", CTB " +
                                     std::to_string(result.endCtbAddrTs) + "): " + result.error);
            return;
        }
        // Subset k starts at the sum of the first k entry point offsets, counted in the NAL
        // unit's bytes with emulation prevention.
        parse.counts.entryPoints += h.num_entry_point_offsets;
        if (result.subsetStarts.size() != h.num_entry_point_offsets + 1U) {
            parse.failures.push_back(where + ": " + std::to_string(result.subsetStarts.size()) + " subsets for " +
                                     std::to_string(h.num_entry_point_offsets) + " entry points");
            return;
        }
        const std::uint64_t dataStart = rbsp.toNalPosition(h.sliceDataByteOffset);
        std::uint64_t firstByte = 0;
        for (std::size_t k = 1; k < result.subsetStarts.size(); ++k) {
            firstByte += h.entry_point_offset_minus1[k - 1] + 1U;
            const std::uint64_t actual = rbsp.toNalPosition(h.sliceDataByteOffset + result.subsetStarts[k]) - dataStart;
            if (actual != firstByte) {
                parse.failures.push_back(where + ": subset " + std::to_string(k) + " at byte " +
                                         std::to_string(actual) + ", entry point " + std::to_string(firstByte));
            }
        }
    };
    walker.walk(readFile(path));
    if (!corruptor && expectedNextCtb != pictureCtbs) {
        parse.failures.push_back(path.filename().string() + ": last picture ended at CTB " +
                                 std::to_string(expectedNextCtb));
    }
    return parse;
}

// The number right behind `key`; with `second`, the one behind the "/" that follows it.
std::optional<std::uint64_t> countAfter(const std::string& line, const std::string& key, bool second = false)
{
    std::size_t position = line.find(key);
    if (position == std::string::npos) {
        return std::nullopt;
    }
    position += key.size();
    if (second) {
        position = line.find('/', position);
        if (position == std::string::npos) {
            return std::nullopt;
        }
        ++position;
    }
    std::size_t digits = 0;
    while (position + digits < line.size() && std::isdigit(static_cast<unsigned char>(line[position + digits])) != 0) {
        ++digits;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return std::stoull(line.substr(position, digits));
}

// The number right in front of `key` ("5 of 8x8").
std::optional<std::uint64_t> countBefore(const std::string& line, const std::string& key)
{
    const std::size_t end = line.find(key);
    if (end == std::string::npos) {
        return std::nullopt;
    }
    std::size_t begin = end;
    while (begin > 0 && std::isdigit(static_cast<unsigned char>(line[begin - 1])) != 0) {
        --begin;
    }
    if (begin == end) {
        return std::nullopt;
    }
    return std::stoull(line.substr(begin, end - begin));
}

// The leaf CUs cover every picture once, and prediction and transform blocks tile their CUs.
void expectBlocksTileThePictures(const StreamParse& parse)
{
    EXPECT_EQ(parse.counts.cuArea, parse.pictureArea);
    EXPECT_EQ(parse.counts.cusNotTiledByPus, 0U);
    EXPECT_EQ(parse.counts.cusNotTiledByTus, 0U);
}

class SliceDataHmStreamTest : public ::testing::TestWithParam<ReferenceStream> {};

TEST_P(SliceDataHmStreamTest, EverySliceSegmentParsesToItsEnd)
{
    const ReferenceStream& row = GetParam();
    const StreamParse parse = parseStream(referenceStreamsDir() / row.file);
    EXPECT_GT(parse.sliceSegments, 0U);
    EXPECT_GT(parse.ctus, 0U);
    for (const std::string& failure : parse.failures) {
        ADD_FAILURE() << failure;
    }
    expectBlocksTileThePictures(parse);
}

TEST_P(SliceDataHmStreamTest, SyntaxCountsMatchTheReferenceDecoder)
{
    const ReferenceStream& row = GetParam();
    const std::string& line = row.parsedSyntax;
    ASSERT_FALSE(line.empty()) << row.file;
    const StreamParse parse = parseStream(referenceStreamsDir() / row.file);
    ASSERT_TRUE(parse.failures.empty()) << parse.failures.front();
    const SyntaxCounts& counts = parse.counts;
    const std::string kSao = "SAO band/edge (CTB, component group): ";
    const std::string kBypass = "cu_transquant_bypass_flag 1/0: ";
    if (const auto first = countAfter(line, "transform_skip_flag=1 TBs: ")) {
        // "N 4x4, M 8x8, ...": the sum over the sizes
        std::uint64_t expected = *first;
        for (const std::uint32_t size : {8U, 16U, 32U}) {
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on " " + std::string&&.
            std::string key = " ";
            key += std::to_string(size) + "x" + std::to_string(size);
            const std::size_t listEnd = line.find(';', line.find("transform_skip_flag=1 TBs: "));
            const std::size_t at = line.find(key);
            if (at != std::string::npos && at < listEnd) {
                expected += countBefore(line.substr(0, at + key.size()), key).value_or(0);
            }
        }
        EXPECT_EQ(counts.transformSkipTbs, expected) << "transform_skip_flag TBs";
    }
    for (const char* amp : {"2NxnU", "2NxnD", "nLx2N", "nRx2N"}) {
        const auto expected = countAfter(line, std::string(amp) + " ");
        const auto found = counts.ampPus.find(amp);
        EXPECT_EQ(found == counts.ampPus.end() ? 0U : found->second, expected.value_or(0)) << amp;
    }
    if (const auto expected = countAfter(line, kSao)) {
        EXPECT_EQ(counts.saoBand, *expected) << "SAO band";
        EXPECT_EQ(counts.saoEdge, countAfter(line, kSao, true).value_or(0))
            << "SAO edge";
    }
    if (const auto expected = countAfter(line, kBypass)) {
        EXPECT_EQ(counts.bypassCus, *expected);
        EXPECT_EQ(counts.nonBypassCus, countAfter(line, kBypass, true).value_or(0));
    }
    for (const std::uint32_t size : {8U, 16U, 32U}) {
        const auto expected = countBefore(line, " of " + std::to_string(size) + "x" + std::to_string(size));
        const auto found = counts.pcmCus.find(size);
        if (line.find("pcm_flag=1") != std::string::npos) {
            EXPECT_EQ(found == counts.pcmCus.end() ? 0U : found->second, expected.value_or(0)) << "PCM " << size;
        }
    }
    // "A/B" pairs: (value 1 or non-zero) / (value 0)
    const std::vector<std::pair<std::string, std::array<std::uint64_t, 2>>> pairs{
        {"cu_chroma_qp_offset_flag 1/0: ", counts.chromaQpOffsetFlags},
        {"explicit_rdpcm_flag 1/0: ", counts.explicitRdpcmFlags},
        {"log2_res_scale_abs_plus1 non-zero/zero: ", counts.resScaleZeroNonZero},
    };
    for (const auto& [key, found] : pairs) {
        if (const auto ones = countAfter(line, key)) {
            EXPECT_EQ(found[1], *ones) << key;
            EXPECT_EQ(found[0], countAfter(line, key, true).value_or(0)) << key;
        }
    }
    if (const auto expected = countAfter(line, "implicit RDPCM applied: ")) {
        EXPECT_EQ(counts.implicitRdpcmTbs, *expected) << "implicit RDPCM";
    }
    if (const auto expected = countAfter(line, "TS/bypass TBs with single significance context: ")) {
        EXPECT_EQ(counts.singleSignificanceContextTbs, *expected) << "single significance context";
    }
    if (const auto expected = countAfter(line, "entry points: ")) {
        EXPECT_EQ(counts.entryPoints, *expected);
    }
}

INSTANTIATE_TEST_SUITE_P(HmStreams, SliceDataHmStreamTest, ::testing::ValuesIn(readReferenceStreamManifest()),
                         [](const ::testing::TestParamInfo<ReferenceStream>& param) {
                             return param.param.file.substr(0, param.param.file.find('.'));
                         });

struct Damage {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&, std::mt19937&)> apply;
};

class SliceDataDamageTest : public ::testing::TestWithParam<Damage> {};

// Every other slice segment of every reference stream damaged: the parse of a damaged segment
// may fail but stops inside the data with a malformed CTU, and segments that were left alone
// parse as before.
TEST_P(SliceDataDamageTest, DamagedSegmentsFailCleanlyAndOthersStillParse)
{
    const Damage& damage = GetParam();
    std::uint64_t corrupted = 0;
    std::uint64_t failed = 0;
    for (const ReferenceStream& row : readReferenceStreamManifest()) {
        std::mt19937 random(7);
        const StreamParse parse = parseStream(referenceStreamsDir() / row.file,
                                              [&](std::uint64_t segment, std::vector<std::uint8_t>& data) {
                                                  if (segment % 2 == 0 || data.size() < 4) {
                                                      return false;
                                                  }
                                                  damage.apply(data, random);
                                                  return true;
                                              });
        for (const std::string& failure : parse.failures) {
            ADD_FAILURE() << failure;
        }
        corrupted += parse.corruptedSegments;
        failed += parse.corruptedFailures;
    }
    EXPECT_GT(corrupted, 100U);
    EXPECT_GT(failed, corrupted / 4) << "the damage hardly ever showed";
}

INSTANTIATE_TEST_SUITE_P(
    Damage, SliceDataDamageTest,
    ::testing::Values(
        Damage{"truncated",
               [](std::vector<std::uint8_t>& data, std::mt19937&) { data.resize(data.size() / 2); }},
        Damage{"flipped_bytes",
               [](std::vector<std::uint8_t>& data, std::mt19937& random) {
                   std::uniform_int_distribution<std::size_t> at(0, data.size() - 1);
                   for (int i = 0; i < 4; ++i) {
                       data[at(random)] ^= 0x5A;
                   }
               }},
        Damage{"zero_run", [](std::vector<std::uint8_t>& data,
                              std::mt19937&) { std::fill(data.begin() + static_cast<std::ptrdiff_t>(data.size() / 3), data.end(), 0); }},
        Damage{"ones_run",
               [](std::vector<std::uint8_t>& data, std::mt19937&) {
                   std::fill(data.begin() + static_cast<std::ptrdiff_t>(data.size() / 3), data.end(), 0xFF);
               }},
        Damage{"random_tail",
               [](std::vector<std::uint8_t>& data, std::mt19937& random) {
                   std::uniform_int_distribution<int> byte(0, 255);
                   for (std::size_t i = data.size() / 4; i < data.size(); ++i) {
                       data[i] = static_cast<std::uint8_t>(byte(random));
                   }
               }}),
    [](const ::testing::TestParamInfo<Damage>& param) { return std::string(param.param.name); });

// x265 clips of the test media (4:2:0 8 and 10 bit, 4:2:2 10 and 12 bit, 4:4:4 8 and 12
// bit, 4:0:0, WPP with slices, lossless, AMP with weighted prediction, open GOP pyramids,
// scaling lists with sign hiding and transform skip, partial CTUs).
class SliceDataX265ClipTest : public ::testing::TestWithParam<std::string> {};

TEST_P(SliceDataX265ClipTest, EverySliceSegmentParsesToItsEnd)
{
    const auto path = testMediaDir() / GetParam();
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    const StreamParse parse = parseStream(path);
    EXPECT_GT(parse.ctus, 0U);
    for (const std::string& failure : parse.failures) {
        ADD_FAILURE() << failure;
    }
    expectBlocksTileThePictures(parse);
}

INSTANTIATE_TEST_SUITE_P(X265Clips, SliceDataX265ClipTest,
                         ::testing::Values("main_420_8bit_gop8.hevc", "main10_420_10bit.hevc", "rext_422_10bit.hevc",
                                           "rext_444_8bit.hevc", "mono_400_8bit.hevc", "wavefront_slices.hevc",
                                           "lossless.hevc", "amp_weighted_sei.hevc", "odd_size_intra.hevc",
                                           "quality_high.hevc", "quality_low.hevc", "odd_177x97_444_8bit.hevc",
                                           "observer_444_12bit_intra.hevc", "observer_422_12bit.hevc",
                                           "observer_open_gop_pyramid.hevc", "observer_tools_420_8bit.hevc",
                                           "observer_slices_wpp_10bit.hevc"),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                             return param.param.substr(0, param.param.find('.'));
                         });

} // namespace
} // namespace vexilo::hevc::test
