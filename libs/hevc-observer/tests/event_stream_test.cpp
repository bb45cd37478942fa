// The events as the collector receives them: well-formed per the layouts, located in the
// file, and the same from run to run whatever the mask asks for.
#include "fnv1a.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace vexilo::hevc::test {
namespace {

const std::map<std::uint32_t, std::uint32_t> kMinimumSizes = {
    {VEXILO_OBSERVER_EVENT_START_MARKER, VEXILO_OBSERVER_MIN_SIZE_MARKER},
    {VEXILO_OBSERVER_EVENT_END_MARKER, VEXILO_OBSERVER_MIN_SIZE_MARKER},
    {VEXILO_OBSERVER_EVENT_NAL_UNIT, VEXILO_OBSERVER_MIN_SIZE_NAL_UNIT},
    {VEXILO_OBSERVER_EVENT_VPS, VEXILO_OBSERVER_MIN_SIZE_PARAMETER_SET},
    {VEXILO_OBSERVER_EVENT_SPS, VEXILO_OBSERVER_MIN_SIZE_PARAMETER_SET},
    {VEXILO_OBSERVER_EVENT_PPS, VEXILO_OBSERVER_MIN_SIZE_PARAMETER_SET},
    {VEXILO_OBSERVER_EVENT_SEI_MESSAGE, VEXILO_OBSERVER_MIN_SIZE_SEI_MESSAGE},
    {VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER, VEXILO_OBSERVER_MIN_SIZE_SLICE_SEGMENT_HEADER},
    {VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY, VEXILO_OBSERVER_MIN_SIZE_RPS_ENTRY},
    {VEXILO_OBSERVER_EVENT_LONG_TERM_RPS_ENTRY, VEXILO_OBSERVER_MIN_SIZE_RPS_ENTRY},
    {VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY, VEXILO_OBSERVER_MIN_SIZE_REFERENCE_LIST_ENTRY},
    {VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY, VEXILO_OBSERVER_MIN_SIZE_DPB_SNAPSHOT_ENTRY},
    {VEXILO_OBSERVER_EVENT_REFERENCE_STATE_MARKER, VEXILO_OBSERVER_MIN_SIZE_REFERENCE_STATE_MARKER},
    {VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT, VEXILO_OBSERVER_MIN_SIZE_PICTURE_OUTPUT},
    {VEXILO_OBSERVER_EVENT_VPS_LAYER_SET, VEXILO_OBSERVER_MIN_SIZE_VPS_LAYER_SET},
};

const VexiloObserverEventHeader& headerOf(const std::vector<std::uint8_t>& bytes)
{
    return *reinterpret_cast<const VexiloObserverEventHeader*>(bytes.data());
}

// The HEVC clips of test-media/generate-streams.sh. Named here rather than found on disk,
// because the tests are listed before the fixture has generated them.
std::vector<std::filesystem::path> hevcClips()
{
    const std::vector<const char*> names = {
        "main_420_8bit_gop8.hevc",       "main10_420_10bit.hevc",          "rext_422_10bit.hevc",
        "rext_444_8bit.hevc",            "mono_400_8bit.hevc",             "wavefront_slices.hevc",
        "lossless.hevc",                 "amp_weighted_sei.hevc",          "odd_size_intra.hevc",
        "quality_high.hevc",             "quality_low.hevc",               "main_420_8bit_gop8.mp4",
        "main10_420_10bit.mov",          "odd_177x97_444_8bit.hevc",       "bpyramid_420_8bit.mp4",
        "bpyramid_420_10bit.mov",        "audio_first_hevc.mp4",           "observer_444_12bit_intra.hevc",
        "observer_422_12bit.hevc",       "observer_open_gop_pyramid.hevc", "observer_open_gop_pyramid.mp4",
        "observer_tools_420_8bit.hevc",  "observer_slices_wpp_10bit.hevc",
    };
    std::vector<std::filesystem::path> clips;
    for (const char* name : names) {
        clips.push_back(testMediaDir() / name);
    }
    return clips;
}

// Identity fields of the events that name objects: (kind, ordinal, identity, picture).
std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t, std::uint64_t>> identities(const EventRecorder& recorder)
{
    std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t, std::uint64_t>> found;
    for (const auto& nal : recorder.ofKind<VexiloObserverNalUnitEvent>(VEXILO_OBSERVER_EVENT_NAL_UNIT)) {
        found.emplace_back(6U, nal.header.ordinal, nal.nalIdentity, static_cast<std::uint64_t>(nal.byteOffset));
    }
    for (const auto& slice : recorder.ofKind<VexiloObserverSliceEvent>(VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER)) {
        found.emplace_back(11U, slice.header.ordinal, slice.sliceIdentity, slice.pictureIdentity);
    }
    for (const auto& output : recorder.ofKind<VexiloObserverPictureOutputEvent>(VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT)) {
        found.emplace_back(17U, output.header.ordinal, output.pictureIdentity,
                           static_cast<std::uint64_t>(output.header.displayIndex));
    }
    std::sort(found.begin(), found.end());
    return found;
}

// The events of a run without what legitimately differs between runs: the address of an SEI
// payload, valid only during its callback.
std::vector<std::vector<std::uint8_t>> comparable(const EventRecorder& recorder)
{
    std::vector<std::vector<std::uint8_t>> events = recorder.events;
    for (auto& bytes : events) {
        if (headerOf(bytes).kind == VEXILO_OBSERVER_EVENT_SEI_MESSAGE) {
            const auto pointerAt = offsetof(VexiloObserverSeiMessageEvent, payload);
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(pointerAt), sizeof(void*), std::uint8_t{0});
        }
    }
    return events;
}

class ClipTest : public ::testing::TestWithParam<std::filesystem::path> {};

TEST_P(ClipTest, DecodesWithWellFormedEventsForEveryPicture)
{
    EventRecorder recorder;
    const DecodeRun run = decodeWithObserver(GetParam(), recorder, VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX);
    ASSERT_TRUE(run.opened) << run.error;
    ASSERT_GT(run.framesReturned, 0);

    std::uint64_t lastOrdinal = 0;
    for (const auto& bytes : recorder.events) {
        const VexiloObserverEventHeader& header = headerOf(bytes);
        EXPECT_EQ(header.abiVersion, VEXILO_OBSERVER_ABI_VERSION);
        ASSERT_TRUE(kMinimumSizes.contains(header.kind)) << "kind " << header.kind;
        EXPECT_GE(header.size, kMinimumSizes.at(header.kind));
        EXPECT_NE(VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX & VEXILO_OBSERVER_EVENT_MASK_BIT(header.kind), 0U);
        EXPECT_GT(header.ordinal, lastOrdinal);
        lastOrdinal = header.ordinal;
    }
    EXPECT_EQ(headerOf(recorder.events.front()).kind, static_cast<std::uint32_t>(VEXILO_OBSERVER_EVENT_START_MARKER));
    EXPECT_EQ(headerOf(recorder.events.back()).kind, static_cast<std::uint32_t>(VEXILO_OBSERVER_EVENT_END_MARKER));

    for (const auto& slice : recorder.ofKind<VexiloObserverSliceEvent>(VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER)) {
        EXPECT_EQ(slice.parseStatus, 1U);
        EXPECT_NE(slice.pictureIdentity, 0U);
    }
    const auto outputs = recorder.ofKind<VexiloObserverPictureOutputEvent>(VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT);
    EXPECT_EQ(static_cast<std::int64_t>(outputs.size()), run.framesReturned);
    std::set<std::uint64_t> outputPictures;
    for (const auto& output : outputs) {
        EXPECT_TRUE(outputPictures.insert(output.pictureIdentity).second) << "picture output twice";
        EXPECT_EQ(output.decodeIndex + 1, static_cast<std::int64_t>(output.pictureIdentity));
    }
}

TEST_P(ClipTest, NalUnitsAreLocatedInTheFile)
{
    EventRecorder recorder;
    ASSERT_TRUE(decodeWithObserver(GetParam(), recorder, VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX).opened);
    const auto file = readFile(GetParam());
    const bool annexB = GetParam().extension() == ".hevc";
    std::set<std::uint64_t> parameterSetHashes;
    std::size_t located = 0;
    for (const auto& nal : recorder.ofKind<VexiloObserverNalUnitEvent>(VEXILO_OBSERVER_EVENT_NAL_UNIT)) {
        if (nal.nalUnitType >= 32 && nal.nalUnitType <= 34) {
            parameterSetHashes.insert(nal.contentHash);
        }
        if (nal.byteLocationKnown == 0) {
            EXPECT_FALSE(annexB) << "Annex-B NAL units always have a location";
            EXPECT_EQ(nal.byteOffset, -1);
            continue;
        }
        ++located;
        const auto offset = static_cast<std::uint64_t>(nal.byteOffset);
        ASSERT_LE(offset + nal.byteSize, file.size());
        const std::span<const std::uint8_t> bytes(file.data() + offset, static_cast<std::size_t>(nal.byteSize));
        EXPECT_EQ(fnv1a64(bytes), nal.contentHash) << "NAL at " << offset;
        if (annexB) {
            ASSERT_TRUE(nal.startCodeLength == 3 || nal.startCodeLength == 4);
            ASSERT_GE(offset, nal.startCodeLength);
            EXPECT_EQ(file[offset - 1], 1U);
            EXPECT_EQ(file[offset - 2], 0U);
            EXPECT_EQ(file[offset - 3], 0U);
        } else {
            EXPECT_EQ(nal.startCodeLength, 0U);
        }
    }
    EXPECT_GT(located, 0U);
    // A parameter set has one content hash whether it came from a packet or the configuration record.
    for (const auto& sps : recorder.ofKind<VexiloObserverParameterSetEvent>(VEXILO_OBSERVER_EVENT_SPS)) {
        EXPECT_TRUE(parameterSetHashes.contains(sps.contentHash));
    }
}

TEST_P(ClipTest, IdentitiesAreDeterministicAndIndependentOfTheMask)
{
    EventRecorder all;
    EventRecorder again;
    EventRecorder sparse;
    ASSERT_TRUE(decodeWithObserver(GetParam(), all, VEXILO_OBSERVER_EVENT_MASK_ALL).opened);
    ASSERT_TRUE(decodeWithObserver(GetParam(), again, VEXILO_OBSERVER_EVENT_MASK_ALL).opened);
    const std::uint64_t onlyNamedObjects = VEXILO_OBSERVER_EVENT_MASK_BIT(VEXILO_OBSERVER_EVENT_NAL_UNIT) |
                                           VEXILO_OBSERVER_EVENT_MASK_BIT(VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER) |
                                           VEXILO_OBSERVER_EVENT_MASK_BIT(VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT);
    ASSERT_TRUE(decodeWithObserver(GetParam(), sparse, onlyNamedObjects).opened);
    EXPECT_TRUE(comparable(all) == comparable(again)) << "two runs of the same file differ";
    EXPECT_EQ(identities(all), identities(sparse));
    for (const auto& bytes : sparse.events) {
        EXPECT_NE(onlyNamedObjects & VEXILO_OBSERVER_EVENT_MASK_BIT(headerOf(bytes).kind), 0U);
    }
}

std::string clipName(const ::testing::TestParamInfo<std::filesystem::path>& info)
{
    std::string name = info.param.filename().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(TestMedia, ClipTest, ::testing::ValuesIn(hevcClips()), clipName);

} // namespace
} // namespace vexilo::hevc::test
