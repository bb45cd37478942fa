// POC derivation, RPS marking and the C.5.2 output process on hand-made slice headers, for
// the cases the reference streams do not contain.
#include "decoding_process.h"

#include <gtest/gtest.h>

namespace vexilo::hevc {
namespace {

Sps makeSps(std::uint32_t reorder, std::uint32_t maxDecPicBufferingMinus1 = 5)
{
    Sps sps;
    sps.MaxPicOrderCntLsb = 16;
    sps.sps_max_sub_layers_minus1 = 0;
    sps.subLayerOrdering[0].max_dec_pic_buffering_minus1 = maxDecPicBufferingMinus1;
    sps.subLayerOrdering[0].max_num_reorder_pics = reorder;
    return sps;
}

// A first slice segment of type `nalType` with POC LSB `lsb` whose short-term RPS holds the
// given deltas (negative before, positive after), all used by the picture.
SliceSegmentHeader makeHeader(std::uint32_t nalType, std::uint32_t lsb, std::vector<std::int32_t> deltas = {})
{
    SliceSegmentHeader header;
    header.nal.nal_unit_type = nalType;
    header.nal.nuh_temporal_id_plus1 = 1;
    header.first_slice_segment_in_pic_flag = true;
    header.slice_pic_order_cnt_lsb = lsb;
    header.slice_type = deltas.empty() ? kSliceI : kSliceP;
    for (const std::int32_t delta : deltas) {
        ShortTermRefPicSet& rps = header.stRps;
        if (delta < 0) {
            rps.DeltaPocS0[rps.NumNegativePics] = delta;
            rps.UsedByCurrPicS0[rps.NumNegativePics++] = true;
        } else {
            rps.DeltaPocS1[rps.NumPositivePics] = delta;
            rps.UsedByCurrPicS1[rps.NumPositivePics++] = true;
        }
    }
    return header;
}

std::vector<std::int32_t> outputPocs(DecodingProcess& process)
{
    std::vector<std::int32_t> pocs;
    for (const OutputPicture& picture : process.takeOutput()) {
        pocs.push_back(picture.PicOrderCntVal);
    }
    return pocs;
}

TEST(DecodingProcessTest, PicOrderCntMsbFollowsLsbWrapAround)
{
    const Sps sps = makeSps(0);
    DecodingProcess process;
    std::vector<std::int32_t> pocs;
    pocs.push_back(process.beginPicture(makeHeader(IDR_W_RADL, 0), sps).PicOrderCntVal);
    for (const std::uint32_t lsb : {6U, 12U, 2U, 9U, 15U, 1U}) {
        pocs.push_back(process.beginPicture(makeHeader(TRAIL_R, lsb, {-1}), sps).PicOrderCntVal);
    }
    EXPECT_EQ(pocs, (std::vector<std::int32_t>{0, 6, 12, 18, 25, 31, 33}));
}

TEST(DecodingProcessTest, OutputOrderDependsOnReorderAndIrapHandling)
{
    struct Picture {
        std::uint32_t nalType;
        std::uint32_t lsb;
        std::vector<std::int32_t> deltas;
        bool noOutputOfPriorPics = false;
        bool endOfSequenceBefore = false;
        bool picOutput = true;
    };
    struct Case {
        const char* name;
        std::uint32_t reorder;
        std::vector<Picture> pictures;
        std::vector<std::int32_t> expectedOutput;
    };
    const std::vector<Case> cases = {
        {"no reordering outputs in decoding order", 0,
         {{IDR_W_RADL, 0, {}}, {TRAIL_R, 2, {-2}}, {TRAIL_R, 1, {-1, 1}}}, {0, 2, 1}},
        {"reordering outputs in POC order", 1,
         {{IDR_W_RADL, 0, {}}, {TRAIL_R, 2, {-2}}, {TRAIL_R, 1, {-1, 1}}}, {0, 1, 2}},
        {"pic_output_flag 0 is never output", 1,
         {{IDR_W_RADL, 0, {}}, {TRAIL_R, 2, {-2}, false, false, false}, {TRAIL_R, 1, {-1, 1}}}, {0, 1}},
        {"IDR outputs what waits", 4, {{IDR_W_RADL, 0, {}}, {TRAIL_R, 1, {-1}}, {IDR_N_LP, 0, {}}}, {0, 1, 0}},
        {"no_output_of_prior_pics_flag discards what waits", 4,
         {{IDR_W_RADL, 0, {}}, {TRAIL_R, 1, {-1}}, {IDR_N_LP, 0, {}, true}}, {0}},
        {"CRA after end of sequence discards and skips its RASL", 4,
         {{IDR_W_RADL, 0, {}}, {TRAIL_R, 1, {-1}}, {CRA_NUT, 8, {}, false, true}, {RASL_N, 7, {-9, 1}}}, {8}},
        {"CRA within the stream keeps its RASL", 4,
         {{IDR_W_RADL, 0, {}}, {CRA_NUT, 8, {}}, {RASL_N, 7, {-7, 1}}}, {0, 7, 8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Sps sps = makeSps(c.reorder);
        DecodingProcess process;
        std::vector<std::int32_t> output;
        for (const Picture& picture : c.pictures) {
            if (picture.endOfSequenceBefore) {
                process.endOfSequence();
            }
            SliceSegmentHeader header = makeHeader(picture.nalType, picture.lsb, picture.deltas);
            header.no_output_of_prior_pics_flag = picture.noOutputOfPriorPics;
            header.pic_output_flag = picture.picOutput;
            process.beginPicture(header, sps);
            const auto pocs = outputPocs(process);
            output.insert(output.end(), pocs.begin(), pocs.end());
        }
        process.flush();
        const auto pocs = outputPocs(process);
        output.insert(output.end(), pocs.begin(), pocs.end());
        EXPECT_EQ(output, c.expectedOutput);
    }
}

TEST(DecodingProcessTest, ReferencesAreMarkedAndMissingOnesGenerated)
{
    const Sps sps = makeSps(0);
    DecodingProcess process;
    process.beginPicture(makeHeader(IDR_W_RADL, 0), sps);
    process.beginPicture(makeHeader(TRAIL_R, 1, {-1}), sps);
    // POC 2 keeps POC 1 and names POC -2, which never existed.
    const PictureStart start = process.beginPicture(makeHeader(TRAIL_R, 2, {-1, -4}), sps);
    EXPECT_TRUE(start.missingReference);
    ASSERT_EQ(start.shortTerm.size(), 2U);
    EXPECT_EQ(start.shortTerm[1].poc, -2);

    Pps pps;
    SliceSegmentHeader header = makeHeader(TRAIL_R, 2, {-1, -4});
    header.NumPocStCurrBefore = 2;
    header.num_ref_idx_l0_active_minus1 = 1;
    const SliceReferenceLists lists = process.buildRefPicLists(header, pps);
    ASSERT_EQ(lists.lists[0].size(), 2U);
    EXPECT_EQ(lists.lists[0][0].poc, 1);
    EXPECT_FALSE(lists.lists[0][0].generated);
    EXPECT_EQ(lists.lists[0][1].poc, -2);
    EXPECT_TRUE(lists.lists[0][1].generated);

    std::size_t shortTerm = 0;
    std::size_t unused = 0;
    for (const DpbPicture& picture : process.dpb()) {
        if (!picture.occupied || picture.current) {
            continue;
        }
        shortTerm += picture.marking == ReferenceMarking::ShortTerm ? 1U : 0U;
        unused += picture.marking == ReferenceMarking::Unused ? 1U : 0U;
    }
    EXPECT_EQ(shortTerm, 2U); // POC 1 and the generated POC -2; POC 0 left the RPS
    EXPECT_EQ(unused, 0U);    // POC 0 was output and unused, so its buffer was emptied
}

} // namespace
} // namespace vexilo::hevc
