// Final motion vectors of real streams: every inter prediction unit of the HM reference
// streams and x265 clips gets motion consistent with its syntax and its slice's reference
// picture lists, and the motion kept for TMVP follows the DPB.
#include "bit_reader.h"
#include "decoding_process.h"
#include "derivations/reference_motion.h"
#include "nal_unit.h"
#include "parameter_sets.h"
#include "slice_data/slice_data_parser.h"
#include "slice_header.h"
#include "stream_walker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>

namespace vexilo::hevc::test {
namespace {

struct MotionCounts {
    std::uint64_t interPus = 0;
    std::uint64_t mergePus = 0;
    std::uint64_t biPredictedPus = 0;
    std::uint64_t restrictedBiPredictions = 0;
    std::uint64_t nonZeroVectors = 0;
    std::uint64_t longTermReferences = 0;
    std::array<std::int32_t, 2> maxSignaledRefIdx{-1, -1};
};

struct MotionRun {
    std::vector<std::string> failures;
    MotionCounts counts;
    std::size_t mostPicturesWithMotion = 0; // peak of the reference motion store
};

// What must hold for the motion of every inter prediction unit of a slice.
class MotionCheckingSink : public slice_data::BlockSink {
public:
    MotionCheckingSink(MotionRun& run, const SliceSegmentHeader& header, const derivations::RefPicLists& lists,
                       std::string where)
        : run_(run), header_(header), lists_(lists), where_(std::move(where))
    {
    }

    void predictionUnit(const slice_data::PredictionUnit& pu) override
    {
        MotionCounts& counts = run_.counts;
        ++counts.interPus;
        counts.mergePus += pu.merge_flag ? 1U : 0U;
        counts.biPredictedPus += pu.predFlagLX[0] && pu.predFlagLX[1] ? 1U : 0U;
        counts.restrictedBiPredictions += pu.biPredictionRestricted ? 1U : 0U;
        const std::string at = where_ + " PU at (" + std::to_string(pu.x0) + "," + std::to_string(pu.y0) + ") " +
                               std::to_string(pu.nPbW) + "x" + std::to_string(pu.nPbH) + ": ";
        if (!pu.motionDerived) {
            run_.failures.push_back(at + "no motion derived");
            return;
        }
        if (!pu.predFlagLX[0] && !pu.predFlagLX[1]) {
            run_.failures.push_back(at + "predicts from no list");
        }
        if (!header_.isB() && pu.predFlagLX[1]) {
            run_.failures.push_back(at + "L1 prediction in a P slice");
        }
        if (pu.nPbW + pu.nPbH == 12 && pu.predFlagLX[0] && pu.predFlagLX[1]) {
            run_.failures.push_back(at + "bi-prediction of an 8x4 or 4x8 block");
        }
        if (!pu.merge_flag) {
            const std::array<bool, 2> signaledLists{pu.inter_pred_idc != slice_data::PRED_L1,
                                                     pu.inter_pred_idc != slice_data::PRED_L0};
            if (pu.predFlagLX != signaledLists || pu.refIdxLX != pu.ref_idx) {
                run_.failures.push_back(at + "motion does not follow inter_pred_idc and ref_idx");
            }
        }
        for (unsigned X = 0; X < 2; ++X) {
            if (const auto ref_idx = pu.signaled_ref_idx[X]) {
                counts.maxSignaledRefIdx[X] =
                    std::max(counts.maxSignaledRefIdx[X], static_cast<std::int32_t>(*ref_idx));
            }
            if (!pu.predFlagLX[X]) {
                continue;
            }
            const auto refIdx = static_cast<std::size_t>(pu.refIdxLX[X]);
            if (pu.refIdxLX[X] < 0 || refIdx >= lists_[X].size()) {
                run_.failures.push_back(at + "refIdxL" + std::to_string(X) + " " + std::to_string(pu.refIdxLX[X]) +
                                        " outside the list");
                continue;
            }
            if (pu.refPocLX[X] != lists_[X][refIdx].poc || pu.refIsLongTermLX[X] != lists_[X][refIdx].longTerm) {
                run_.failures.push_back(at + "reference POC is not the list entry's");
            }
            counts.nonZeroVectors += pu.mvLX[X] != std::array<std::int32_t, 2>{} ? 1U : 0U;
            counts.longTermReferences += pu.refIsLongTermLX[X] ? 1U : 0U;
        }
    }

private:
    MotionRun& run_;
    const SliceSegmentHeader& header_;
    const derivations::RefPicLists& lists_;
    std::string where_;
};

// Walks an Annex-B stream the way the observer does, with the decoding process supplying the
// reference picture lists and the store keeping each picture's motion while it is in the DPB.
MotionRun deriveMotion(const std::filesystem::path& path)
{
    MotionRun run;
    DecodingProcess decoding;
    derivations::ReferenceMotionStore motionStore;
    slice_data::PictureBlockState state;
    bool pictureDecoded = false;
    PictureStart start;
    std::uint64_t sliceSegments = 0;

    StreamWalker walker;
    walker.onNalUnit = [&](const NalUnitHeader& nal) {
        if (nal.nal_unit_type == EOS_NUT) {
            decoding.endOfSequence();
        }
    };
    walker.onSliceSegment = [&](const WalkedSliceSegment& segment) {
        const SliceHeaderParse& parse = segment.header;
        const std::string where = path.filename().string() + " slice segment " + std::to_string(sliceSegments++);
        if (!parse.parsed) {
            run.failures.push_back(where + ": slice header: " + parse.error);
            return;
        }
        const SliceSegmentHeader& h = parse.header;
        if (h.first_slice_segment_in_pic_flag) {
            start = decoding.beginPicture(h, *parse.sps);
            pictureDecoded = start.decoded;
            if (!pictureDecoded) {
                return;
            }
            state.beginPicture(*parse.sps, *parse.layout);
            motionStore.keep(start.pictureIdentity, state.collocatedMotion());
            motionStore.retainDpbPictures(decoding.dpb());
            run.mostPicturesWithMotion = std::max(run.mostPicturesWithMotion, motionStore.size());
        }
        if (!pictureDecoded) {
            return; // a skipped RASL picture
        }
        slice_data::SliceDataInput input;
        input.sps = parse.sps.get();
        input.pps = parse.pps.get();
        input.layout = parse.layout.get();
        input.header = &h;
        input.sliceData = std::span(segment.rbsp.bytes).subspan(h.sliceDataByteOffset);
        input.PicOrderCntVal = start.PicOrderCntVal;
        input.RefPicList = motionStore.refPicLists(decoding.buildRefPicLists(h, *parse.pps), decoding.dpb());
        MotionCheckingSink sink(run, h, input.RefPicList, where);
        const slice_data::SliceDataResult result = slice_data::parseSliceSegmentData(input, state, sink);
        if (!result.parsed) {
            run.failures.push_back(where + ": " + result.error);
        }
    };
    walker.walk(readFile(path));
    return run;
}

void expectNoFailures(const MotionRun& run)
{
    for (std::size_t i = 0; i < run.failures.size() && i < 20; ++i) {
        ADD_FAILURE() << run.failures[i];
    }
    EXPECT_LE(run.failures.size(), 0U);
}

// "max ref_idx used L0/L1: a/b" of the reference decoder's syntax counts: the largest
// ref_idx_lX it parsed; "-" (-1 here) for none.
std::optional<std::array<std::int32_t, 2>> maxRefIdxOf(const std::string& parsedSyntax)
{
    const std::string kKey = "max ref_idx used L0/L1: ";
    const std::size_t at = parsedSyntax.find(kKey);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    std::array<std::int32_t, 2> result{};
    std::istringstream values(parsedSyntax.substr(at + kKey.size()));
    for (std::size_t X = 0; X < 2; ++X) {
        std::string text;
        std::getline(values, text, X == 0 ? '/' : ';');
        result[X] = text.rfind('-', 0) == 0 ? -1 : std::stoi(text);
    }
    return result;
}

bool hasInterPictures(const ReferenceStream& row)
{
    return row.file.find("_ai_") == std::string::npos && row.file.find("intra") == std::string::npos;
}

class MotionHmStreamTest : public ::testing::TestWithParam<ReferenceStream> {};

TEST_P(MotionHmStreamTest, EveryInterPredictionUnitGetsConsistentMotion)
{
    const MotionRun run = deriveMotion(referenceStreamsDir() / GetParam().file);
    expectNoFailures(run);
    const MotionCounts& c = run.counts;
    if (const auto expected = maxRefIdxOf(GetParam().parsedSyntax)) {
        EXPECT_EQ(c.maxSignaledRefIdx, *expected) << "largest signaled ref_idx_l0/l1";
    }
    const std::string& file = GetParam().file;
    if (hasInterPictures(GetParam())) {
        EXPECT_GT(c.interPus, 0U);
        EXPECT_GT(c.nonZeroVectors, 0U);
        // P slices only in the low-delay P streams; bi-prediction everywhere else.
        if (file.find("_ldp_") != std::string::npos) {
            EXPECT_EQ(c.biPredictedPus, 0U);
        } else {
            EXPECT_GT(c.biPredictedPus, 0U);
        }
    }
    EXPECT_EQ(c.longTermReferences > 0, file.find("long_term") != std::string::npos);
    // Pictures leave the store with the DPB: never more than its 16 pictures plus the current.
    EXPECT_LE(run.mostPicturesWithMotion, 17U);
}

// Merge candidates that were bi-predictive turn up in 8x4 and 4x8 blocks of B slices, and are
// cut down to L0 there (the per-PU check above sees no bi-predicted 8x4 or 4x8 block).
TEST(MotionHmStreams, BiPredictiveMergeCandidatesOfSmallBlocksAreRestricted)
{
    std::uint64_t restricted = 0;
    for (const char* file : {"s01_ra_gop8_cra_rasl_vui.bit", "s33_ldb_tmvp_slice_level_merge_cands.bit"}) {
        const MotionRun run = deriveMotion(referenceStreamsDir() / file);
        expectNoFailures(run);
        restricted += run.counts.restrictedBiPredictions;
    }
    EXPECT_GT(restricted, 0U);
}

INSTANTIATE_TEST_SUITE_P(HmStreams, MotionHmStreamTest, ::testing::ValuesIn(readReferenceStreamManifest()),
                         [](const ::testing::TestParamInfo<ReferenceStream>& param) {
                             return param.param.file.substr(0, param.param.file.find('.'));
                         });

class MotionX265ClipTest : public ::testing::TestWithParam<std::string> {};

TEST_P(MotionX265ClipTest, EveryInterPredictionUnitGetsConsistentMotion)
{
    const MotionRun run = deriveMotion(testMediaDir() / GetParam());
    expectNoFailures(run);
}

INSTANTIATE_TEST_SUITE_P(X265Clips, MotionX265ClipTest,
                         ::testing::Values("main_420_8bit_gop8.hevc", "main10_420_10bit.hevc", "rext_422_10bit.hevc",
                                           "rext_444_8bit.hevc", "mono_400_8bit.hevc", "wavefront_slices.hevc",
                                           "lossless.hevc", "amp_weighted_sei.hevc", "quality_high.hevc",
                                           "quality_low.hevc", "odd_177x97_444_8bit.hevc", "observer_422_12bit.hevc",
                                           "observer_open_gop_pyramid.hevc", "observer_tools_420_8bit.hevc",
                                           "observer_slices_wpp_10bit.hevc"),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                             return param.param.substr(0, param.param.find('.'));
                         });

} // namespace
} // namespace vexilo::hevc::test
