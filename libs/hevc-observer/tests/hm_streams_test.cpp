// Every reference stream of the HEVC reference encoder, through the observer on its own and
// through FFmpeg's decoder with the feed calls, against the stream manifest.
#include "observer_session.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <functional>

namespace vexilo::hevc::test {
namespace {

class HmStreamTest : public ::testing::TestWithParam<ReferenceStream> {
protected:
    // The whole file as one Annex-B buffer, straight into a session.
    static std::unique_ptr<ObserverSession> parseWholeFile(const ReferenceStream& row, EventRecorder& recorder)
    {
        const auto bytes = readFile(referenceStreamsDir() / row.file);
        EXPECT_FALSE(bytes.empty()) << row.file;
        auto session = std::make_unique<ObserverSession>(
            EventSink(&EventRecorder::callback, &recorder, VEXILO_OBSERVER_EVENT_MASK_ALL));
        PacketStamp stamp;
        stamp.filePosition = 0;
        session->feedPacket(bytes, stamp);
        session->feedFlush();
        return session;
    }
};

TEST_P(HmStreamTest, DecodeAndOutputOrderFollowTheDecodingProcess)
{
    const ReferenceStream& row = GetParam();
    EventRecorder recorder;
    const auto session = parseWholeFile(row, recorder);
    std::vector<std::int32_t> decodeOrder;
    for (const PictureRecord& picture : session->pictures()) {
        decodeOrder.push_back(picture.poc);
    }
    std::vector<std::int32_t> outputOrder;
    for (const OutputPicture& picture : session->modelOutput()) {
        outputOrder.push_back(picture.PicOrderCntVal);
    }
    EXPECT_EQ(decodeOrder, row.pocDecodeOrder);
    EXPECT_EQ(outputOrder, row.pocOutputOrder);

    for (const auto& slice : recorder.ofKind<VexiloObserverSliceEvent>(VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER)) {
        EXPECT_EQ(slice.parseStatus, 1U) << "slice " << slice.sliceIdentity;
    }
    for (const auto& state : recorder.ofKind<VexiloObserverReferenceStateEvent>(VEXILO_OBSERVER_EVENT_REFERENCE_STATE_MARKER)) {
        EXPECT_EQ(state.status, 1U) << "slice " << state.sliceIdentity;
    }
}

TEST_P(HmStreamTest, ParameterSetsCarryTheManifestValues)
{
    const ReferenceStream& row = GetParam();
    EventRecorder recorder;
    parseWholeFile(row, recorder);
    const auto spsEvents = recorder.ofKind<VexiloObserverParameterSetEvent>(VEXILO_OBSERVER_EVENT_SPS);
    ASSERT_FALSE(spsEvents.empty());
    for (const auto& sps : spsEvents) {
        EXPECT_EQ(sps.width, row.codedWidth);
        EXPECT_EQ(sps.height, row.codedHeight);
        EXPECT_EQ(sps.chromaFormatIdc, row.chromaFormatIdc);
        EXPECT_EQ(sps.bitDepthLuma, row.bitDepthLuma);
        if (row.chromaFormatIdc != 0) {
            EXPECT_EQ(sps.bitDepthChroma, row.bitDepthChroma);
        }
        EXPECT_EQ(1U << sps.log2CtuSize, row.ctuSize);
        EXPECT_EQ(1U << sps.log2MinLumaCodingBlockSize, row.minCuSize);
    }
    EXPECT_FALSE(recorder.ofKind<VexiloObserverParameterSetEvent>(VEXILO_OBSERVER_EVENT_VPS).empty());
    EXPECT_FALSE(recorder.ofKind<VexiloObserverParameterSetEvent>(VEXILO_OBSERVER_EVENT_PPS).empty());
}

TEST_P(HmStreamTest, FfmpegOutputMapsToTheManifestOutputOrder)
{
    const ReferenceStream& row = GetParam();
    EventRecorder recorder;
    const DecodeRun run = decodeWithObserver(referenceStreamsDir() / row.file, recorder, VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX);
    ASSERT_TRUE(run.opened) << run.error;
    const auto outputs = recorder.ofKind<VexiloObserverPictureOutputEvent>(VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT);
    ASSERT_EQ(static_cast<std::int64_t>(outputs.size()), run.framesReturned);
    std::vector<std::int32_t> outputOrder;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        outputOrder.push_back(outputs[i].poc);
        EXPECT_EQ(outputs[i].header.displayIndex, static_cast<std::int64_t>(i));
        EXPECT_NE(outputs[i].pictureIdentity, 0U);
    }
    EXPECT_EQ(outputOrder, row.pocOutputOrder);
}

TEST_P(HmStreamTest, FrameThreadedDecodingMapsFramesTheSameWay)
{
    const ReferenceStream& row = GetParam();
    EventRecorder recorder;
    const DecodeRun run =
        decodeWithObserver(referenceStreamsDir() / row.file, recorder, VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX, 4);
    ASSERT_TRUE(run.opened) << run.error;
    std::vector<std::int32_t> outputOrder;
    for (const auto& output : recorder.ofKind<VexiloObserverPictureOutputEvent>(VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT)) {
        outputOrder.push_back(output.poc);
    }
    EXPECT_EQ(outputOrder, row.pocOutputOrder);
}

// An SEI message event points at its payload only while it is delivered; the rest of every
// event is the same whichever thread delivers it.
std::vector<std::uint8_t> withoutPayloadAddress(std::vector<std::uint8_t> event)
{
    const auto* header = reinterpret_cast<const VexiloObserverEventHeader*>(event.data());
    if (header->kind == VEXILO_OBSERVER_EVENT_SEI_MESSAGE) {
        const std::size_t at = offsetof(VexiloObserverSeiMessageEvent, payload);
        std::fill_n(event.begin() + static_cast<std::ptrdiff_t>(at), sizeof(const std::uint8_t*), 0);
    }
    return event;
}

TEST_P(HmStreamTest, DeliveryOnItsOwnThreadGivesTheEventsOfDeliveryOnTheCallingThread)
{
    const std::filesystem::path stream = referenceStreamsDir() / GetParam().file;
    EventRecorder onCallingThread;
    EventRecorder onOwnThread;
    ASSERT_TRUE(decodeWithObserver(stream, onCallingThread, VEXILO_OBSERVER_EVENT_MASK_ALL).opened);
    ASSERT_TRUE(
        decodeWithObserver(stream, onOwnThread, VEXILO_OBSERVER_EVENT_MASK_ALL, 1, Delivery::OnOwnThread).opened);
    ASSERT_GT(onCallingThread.events.size(), 0U);
    ASSERT_EQ(onOwnThread.events.size(), onCallingThread.events.size());
    for (std::size_t i = 0; i < onCallingThread.events.size(); ++i) {
        ASSERT_EQ(withoutPayloadAddress(onOwnThread.events[i]), withoutPayloadAddress(onCallingThread.events[i]))
            << "event " << i;
    }
}

std::string streamName(const ::testing::TestParamInfo<ReferenceStream>& info)
{
    return info.param.file.substr(0, info.param.file.find('.'));
}

INSTANTIATE_TEST_SUITE_P(Manifest, HmStreamTest, ::testing::ValuesIn(readReferenceStreamManifest()), streamName);

TEST(HmTilesTest, TileGridsMatchTheStreams)
{
    struct Case {
        const char* file;
        std::vector<std::uint32_t> columns;
        std::vector<std::uint32_t> rows;
        bool uniform;
    };
    const std::vector<Case> cases = {
        {"s04_ldp_tiles_uniform_lf_across.bit", {4, 4, 4}, {1, 1}, true},
        {"s05_ldb_tiles_nonuniform_no_lf_across.bit", {8, 9, 8}, {4, 2}, false},
    };
    for (const Case& c : cases) {
        ReferenceStream row;
        row.file = c.file;
        EventRecorder recorder;
        auto session = std::make_unique<ObserverSession>(
            EventSink(&EventRecorder::callback, &recorder, VEXILO_OBSERVER_EVENT_MASK_ALL));
        session->feedPacket(readFile(referenceStreamsDir() / c.file), PacketStamp{});
        const auto pps = recorder.ofKind<VexiloObserverParameterSetEvent>(VEXILO_OBSERVER_EVENT_PPS);
        ASSERT_FALSE(pps.empty()) << c.file;
        EXPECT_EQ(pps[0].numTileColumns, c.columns.size()) << c.file;
        EXPECT_EQ(pps[0].numTileRows, c.rows.size()) << c.file;
        EXPECT_EQ((pps[0].ppsFlags & VEXILO_OBSERVER_PPS_UNIFORM_SPACING) != 0, c.uniform) << c.file;
        EXPECT_EQ(std::vector<std::uint32_t>(pps[0].columnWidths, pps[0].columnWidths + c.columns.size()), c.columns);
        EXPECT_EQ(std::vector<std::uint32_t>(pps[0].rowHeights, pps[0].rowHeights + c.rows.size()), c.rows);
    }
}

} // namespace
} // namespace vexilo::hevc::test

namespace vexilo::hevc::test {
namespace {

struct SyntaxCase {
    const char* file;
    const char* what;
    std::function<bool(const EventRecorder&)> holds;
};

std::vector<VexiloObserverSliceEvent> slicesOf(const EventRecorder& recorder)
{
    return recorder.ofKind<VexiloObserverSliceEvent>(VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER);
}

bool anySlice(const EventRecorder& recorder, const std::function<bool(const VexiloObserverSliceEvent&)>& test)
{
    const auto slices = slicesOf(recorder);
    return std::any_of(slices.begin(), slices.end(), test);
}

TEST(HmSyntaxTest, SliceAndReferenceEventsReflectTheCodedSyntax)
{
    const std::vector<SyntaxCase> cases = {
        {"s07_ldb_slices_ctu_dependent_segments_aud.bit", "dependent segments inherit the slice type",
         [](const EventRecorder& r) {
             return anySlice(r, [](const VexiloObserverSliceEvent& s) {
                 return s.dependentSliceSegment == 1 && (s.presentMaskA & VEXILO_OBSERVER_SLICE_A_SIGNALED_SLICE_TYPE) == 0 &&
                        (s.presentMaskB & VEXILO_OBSERVER_SLICE_B_SLICE_TYPE) != 0 && s.sliceType == 0 && s.sliceSegmentAddress > 0;
             });
         }},
        {"s11_ldb_output_flag_extra_sh_bits.bit", "pic_output_flag 0 on POC 2 and 5",
         [](const EventRecorder& r) {
             const auto slices = slicesOf(r);
             return std::all_of(slices.begin(), slices.end(), [](const VexiloObserverSliceEvent& s) {
                 return (s.presentMaskA & VEXILO_OBSERVER_SLICE_A_SLICE_PIC_OUTPUT) != 0 &&
                        (s.slicePicOutput == 0) == (s.poc == 2 || s.poc == 5);
             });
         }},
        {"s09_ldp_long_term_ref.bit", "POC 0 is used as a long-term reference",
         [](const EventRecorder& r) {
             const auto entries = r.ofKind<VexiloObserverReferenceListEvent>(VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY);
             return std::any_of(entries.begin(), entries.end(), [](const VexiloObserverReferenceListEvent& e) {
                 return e.longTerm == 1 && e.poc == 0 && e.status == 1 && e.targetPictureId == 1;
             });
         }},
        {"s10_ra_ref_list_modification.bit", "L0 is reversed by ref_pic_list_modification",
         [](const EventRecorder& r) {
             return anySlice(r, [](const VexiloObserverSliceEvent& s) {
                        return s.refPicListModificationL0 == 1 &&
                               (s.presentMaskA & VEXILO_OBSERVER_SLICE_A_REF_PIC_LIST_MODIFICATION_L0) != 0;
                    }) &&
                    anySlice(r, [](const VexiloObserverSliceEvent& s) { return s.refPicListModificationL1 == 1; });
         }},
        {"s06_ra_wavefront.bit", "one entry point per further CTU row",
         [](const EventRecorder& r) {
             const auto slices = slicesOf(r);
             return std::all_of(slices.begin(), slices.end(),
                                [](const VexiloObserverSliceEvent& s) { return s.numEntryPointOffsets == 4; });
         }},
        {"s04_ldp_tiles_uniform_lf_across.bit", "one entry point per further tile",
         [](const EventRecorder& r) {
             const auto slices = slicesOf(r);
             return std::all_of(slices.begin(), slices.end(),
                                [](const VexiloObserverSliceEvent& s) { return s.numEntryPointOffsets == 5; });
         }},
        {"s01_ra_gop8_cra_rasl_vui.bit", "RASL pictures of a CRA inside the stream reference across it",
         [](const EventRecorder& r) {
             const auto states = r.ofKind<VexiloObserverReferenceStateEvent>(VEXILO_OBSERVER_EVENT_REFERENCE_STATE_MARKER);
             return states.size() == 12 && std::all_of(states.begin(), states.end(), [](const auto& s) { return s.status == 1; });
         }},
        {"s02_ra_starts_with_cra_rasl_skipped.bit", "skipped RASL slices belong to no picture",
         [](const EventRecorder& r) {
             const auto slices = slicesOf(r);
             return std::count_if(slices.begin(), slices.end(),
                                  [](const VexiloObserverSliceEvent& s) { return s.pictureIdentity == 0; }) == 7;
         }},
        {"s03_ra_idr_radl.bit", "leading pictures of the second IDR get negative POCs",
         [](const EventRecorder& r) { return anySlice(r, [](const VexiloObserverSliceEvent& s) { return s.poc == -3; }); }},
        {"s01_ra_gop8_cra_rasl_vui.bit", "SEI messages keep type and size",
         [](const EventRecorder& r) {
             const auto sei = r.ofKind<VexiloObserverSeiMessageEvent>(VEXILO_OBSERVER_EVENT_SEI_MESSAGE);
             return sei.size() == 28 && std::all_of(sei.begin(), sei.end(), [](const auto& m) {
                        return m.status == 1 && (m.payloadType == 0 || m.payloadType == 1 || m.payloadType == 6 ||
                                                 m.payloadType == 132);
                    });
         }},
    };
    for (const SyntaxCase& c : cases) {
        EventRecorder recorder;
        ObserverSession session(EventSink(&EventRecorder::callback, &recorder, VEXILO_OBSERVER_EVENT_MASK_ALL));
        PacketStamp stamp;
        stamp.filePosition = 0;
        session.feedPacket(readFile(referenceStreamsDir() / c.file), stamp);
        session.feedFlush();
        EXPECT_TRUE(c.holds(recorder)) << c.file << ": " << c.what;
    }
}

} // namespace
} // namespace vexilo::hevc::test
