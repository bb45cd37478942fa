// Random access as the frame reader does it: the index a sequential decode records, the start it
// plans for each picture, and the pictures a decode from there puts out, each against the same
// picture of a decode from the stream's start.
#include "TestSupport.h"
#include "vexilo/media/FFmpegFrameReader.h"
#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/RandomAccessIndexRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace vexilo::media {
namespace {

namespace fs = std::filesystem;
using test::mediaPath;

// H.265 NAL unit types of the synthetic index.
constexpr std::uint8_t kTrail = 1;
constexpr std::uint8_t kRadl = 7;
constexpr std::uint8_t kRasl = 9;
constexpr std::uint8_t kIdr = 19;
constexpr std::uint8_t kCra = 21;

// A decode from the stream's start with the index it recorded on the way.
struct Recorded {
    std::vector<FFmpegDecodedPicture> pictures;  // by display index
    std::shared_ptr<const RandomAccessIndex> index;
    std::vector<ffmpeg::FileSpan> parameterSets;  // every one the packets carry
};

Recorded recordSequentialDecode(const fs::path& path) {
    Recorded recorded;
    auto source = FFmpegVideoSource::open(path);
    EXPECT_TRUE(source.ok()) << (source.ok() ? "" : source.error().message);
    if (!source.ok()) {
        return recorded;
    }
    RandomAccessIndexRecorder recorder(source.value().nalFraming());
    auto outcome = source.value().decodeSequentially(
        [&](FFmpegDecodedPicture picture) {
            recorder.notePictureOutput(picture.picture.decodeIndex.value_or(-1), picture.picture.displayIndex);
            recorded.pictures.push_back(std::move(picture));
        },
        {},
        [&](std::int64_t decodeIndex, std::span<const std::uint8_t> data, std::int64_t position) {
            recorder.notePacket(decodeIndex, data, position);
            const ffmpeg::PacketNalUnits units = ffmpeg::scanPacketNalUnits(data, position, source.value().nalFraming());
            recorded.parameterSets.insert(recorded.parameterSets.end(), units.parameterSets.begin(),
                                          units.parameterSets.end());
        });
    EXPECT_TRUE(outcome.ok());
    recorded.index = recorder.snapshot();
    return recorded;
}

// Every picture the reader puts out from the start it plans for `displayIndex`, up to that one,
// by the display index the index gives it.
std::map<std::int64_t, FFmpegDecodedPicture> decodeFromItsStart(FFmpegFrameReader& reader,
                                                                const RandomAccessIndex& index,
                                                                std::int64_t displayIndex,
                                                                std::vector<std::int64_t>& labelsInOrder) {
    std::map<std::int64_t, FFmpegDecodedPicture> shown;
    const std::optional<RandomAccessStart> start = index.startFor(displayIndex);
    EXPECT_TRUE(start) << "picture " << displayIndex;
    if (!start) {
        return shown;
    }
    const std::optional<FFmpegError> entered = reader.startAt(*start);
    EXPECT_FALSE(entered) << (entered ? entered->message : "");
    auto outcome = reader.decodeOn(
        [&](const DecodedPictureOrigin& origin) {
            const std::optional<std::int64_t> label =
                origin.firstSliceOffset ? index.displayIndexOf(*origin.firstSliceOffset) : std::nullopt;
            labelsInOrder.push_back(label.value_or(-1));
            return label.has_value();
        },
        [&](const DecodedPictureOrigin& origin, FFmpegDecodedPicture picture) {
            const std::int64_t label = *index.displayIndexOf(*origin.firstSliceOffset);
            picture.frame.index = label;
            shown.emplace(label, std::move(picture));
        },
        [&] { return shown.contains(displayIndex); });
    EXPECT_TRUE(outcome.ok()) << (outcome.ok() ? "" : outcome.error().message);
    return shown;
}

struct ClipCase {
    const char* name;
    const char* clip;
};

class RandomAccessClips : public testing::TestWithParam<ClipCase> {};

TEST_P(RandomAccessClips, EveryPictureDecodedFromItsStartIsThePictureOfADecodeFromTheBeginning) {
    const Recorded recorded = recordSequentialDecode(mediaPath(GetParam().clip));
    ASSERT_FALSE(recorded.pictures.empty());
    ASSERT_GT(recorded.index->randomAccessPictureCount(), 1U) << "a clip with more than one way in";
    auto reader = FFmpegFrameReader::open(mediaPath(GetParam().clip));
    ASSERT_TRUE(reader.ok()) << reader.error().message;
    EXPECT_TRUE(reader.value().readsFromStreamStart());
    // From the last picture back, so that every start is a seek away from where the reader stands.
    for (auto displayIndex = static_cast<std::int64_t>(recorded.pictures.size()) - 1; displayIndex >= 0;
         --displayIndex) {
        std::vector<std::int64_t> labels;
        const auto shown = decodeFromItsStart(reader.value(), *recorded.index, displayIndex, labels);
        ASSERT_TRUE(shown.contains(displayIndex)) << "picture " << displayIndex;
        EXPECT_EQ(shown.at(displayIndex).frame, recorded.pictures[static_cast<std::size_t>(displayIndex)].frame)
            << "picture " << displayIndex;
        // The pictures come out as a decode from the start puts them out, from the planned first one on.
        const RandomAccessStart start = *recorded.index->startFor(displayIndex);
        ASSERT_FALSE(labels.empty());
        EXPECT_EQ(labels.front(), start.firstOutputDisplayIndex) << "picture " << displayIndex;
        for (std::size_t i = 1; i < labels.size(); ++i) {
            EXPECT_EQ(labels[i], labels[i - 1] + 1) << "picture " << displayIndex;
        }
        EXPECT_FALSE(reader.value().readsFromStreamStart());
    }
}

INSTANTIATE_TEST_SUITE_P(FFmpegFrameReader, RandomAccessClips,
                         testing::Values(ClipCase{"AnnexBOpenGop", "main_420_8bit_gop8.hevc"},
                                         ClipCase{"Mp4EditList", "main_420_8bit_gop8.mp4"},
                                         ClipCase{"Mp4BPyramid", "bpyramid_420_8bit.mp4"},
                                         ClipCase{"AnnexBOpenGopPyramid", "observer_open_gop_pyramid.hevc"},
                                         ClipCase{"Mp4OpenGopPyramid", "observer_open_gop_pyramid.mp4"},
                                         ClipCase{"AudioBeforeVideo", "audio_first_hevc.mp4"}),
                         test::CaseName());

// The clip with the parameter sets of every access unit but the first cut out.
fs::path withParameterSetsOnlyAtTheStart(const fs::path& clip, const Recorded& recorded,
                                         const test::ScratchDirectory& scratch) {
    std::vector<std::uint8_t> bytes = test::readFileBytes(clip);
    std::vector<bool> dropped(bytes.size(), false);
    for (const ffmpeg::FileSpan& span : recorded.parameterSets) {
        if (span.offset < recorded.index->at(1).accessUnitOffset) {
            continue;
        }
        // The unit and its start code with the zero byte before it.
        const std::uint64_t from = span.offset - (bytes[span.offset - 4] == 0 ? 4 : 3);
        std::fill(dropped.begin() + static_cast<std::ptrdiff_t>(from),
                  dropped.begin() + static_cast<std::ptrdiff_t>(span.offset + span.size), true);
    }
    std::vector<std::uint8_t> kept;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!dropped[i]) {
            kept.push_back(bytes[i]);
        }
    }
    const fs::path copy = scratch.file("headers_once.hevc");
    test::writeFileBytes(copy, kept);
    return copy;
}

TEST(FFmpegFrameReader, GivesTheDecoderTheParameterSetsThatCameBeforeTheAccessUnit) {
    const Recorded original = recordSequentialDecode(mediaPath("main_420_8bit_gop8.hevc"));
    test::ScratchDirectory scratch;
    const fs::path clip = withParameterSetsOnlyAtTheStart(mediaPath("main_420_8bit_gop8.hevc"), original, scratch);
    const Recorded recorded = recordSequentialDecode(clip);
    ASSERT_EQ(recorded.pictures.size(), original.pictures.size());
    const auto lastPicture = static_cast<std::int64_t>(recorded.pictures.size()) - 1;
    const RandomAccessStart start = *recorded.index->startFor(lastPicture);
    ASSERT_GT(start.decodePosition, 0U);
    ASSERT_EQ(start.parameterSets.size(), 3U) << "the VPS, SPS and PPS of the first access unit";
    EXPECT_LT(start.parameterSets.back().offset, start.picture.accessUnitOffset);

    auto reader = FFmpegFrameReader::open(clip);
    ASSERT_TRUE(reader.ok());
    std::vector<std::int64_t> labels;
    const auto shown = decodeFromItsStart(reader.value(), *recorded.index, lastPicture, labels);
    ASSERT_TRUE(shown.contains(lastPicture));
    EXPECT_EQ(shown.at(lastPicture).frame, original.pictures.back().frame);
    EXPECT_GT(original.parameterSets.size(), recorded.parameterSets.size());
}

TEST(FFmpegFrameReader, GoesOnFromWhereItStoppedAndSaysWhereTheStreamEnds) {
    const Recorded recorded = recordSequentialDecode(mediaPath("main_420_8bit_gop8.mp4"));
    auto reader = FFmpegFrameReader::open(mediaPath("main_420_8bit_gop8.mp4"), DecoderThreads::Single);
    ASSERT_TRUE(reader.ok());
    std::vector<std::uint64_t> ordinals;
    const auto keepAll = [](const DecodedPictureOrigin&) { return true; };
    const auto note = [&](const DecodedPictureOrigin& origin, FFmpegDecodedPicture picture) {
        EXPECT_EQ(picture.frame, recorded.pictures.at(origin.outputOrdinal).frame) << origin.outputOrdinal;
        ordinals.push_back(origin.outputOrdinal);
    };
    // Stopped after every third picture, then taken on: nothing is lost or put out twice.
    for (;;) {
        const std::size_t before = ordinals.size();
        auto outcome = reader.value().decodeOn(keepAll, note, [&] { return ordinals.size() >= before + 3; });
        ASSERT_TRUE(outcome.ok());
        if (outcome.value() == FFmpegFrameReader::Outcome::EndOfStream) {
            break;
        }
    }
    ASSERT_EQ(ordinals.size(), recorded.pictures.size());
    for (std::size_t i = 0; i < ordinals.size(); ++i) {
        EXPECT_EQ(ordinals[i], i);
    }
    // A start after the end of the stream works as any other.
    std::vector<std::int64_t> labels;
    EXPECT_TRUE(decodeFromItsStart(reader.value(), *recorded.index, 3, labels).contains(3));
}

TEST(FFmpegFrameReader, AStartTheFileDoesNotHoldIsRefusedAndNothingIsPutOutAfterIt) {
    const Recorded recorded = recordSequentialDecode(mediaPath("main_420_8bit_gop8.hevc"));
    auto reader = FFmpegFrameReader::open(mediaPath("main_420_8bit_gop8.hevc"));
    ASSERT_TRUE(reader.ok());
    RandomAccessStart start = *recorded.index->startFor(20);
    start.picture.firstSliceOffset += 1;  // no NAL unit begins there
    const std::optional<FFmpegError> refused = reader.value().startAt(start);
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->detail.find("Cannot enter the stream at the random-access picture"), std::string::npos);
    auto outcome = reader.value().decodeOn([](const DecodedPictureOrigin&) { return true; },
                                           [](const DecodedPictureOrigin&, FFmpegDecodedPicture) {}, {});
    EXPECT_FALSE(outcome.ok());
}

// --- The plan of a start, on an index made by hand -------------------------------------------

RandomAccessIndex handMadeIndex() {
    // Decode order: IDR 0 | TRAIL | TRAIL | CRA 5 with RASL 3, 4 | TRAIL 6 | CRA 10 with RASL 7,
    // RADL 8, 9 | TRAIL 11. Parameter sets: the same SPS twice, then another content.
    struct Entry {
        std::uint8_t type;
        std::int64_t display;
    };
    const std::vector<Entry> entries{{kIdr, 0},  {kTrail, 1}, {kTrail, 2}, {kCra, 5},  {kRasl, 3}, {kRasl, 4},
                                     {kTrail, 6}, {kCra, 10},  {kRasl, 7},  {kRadl, 8}, {kRadl, 9}, {kTrail, 11}};
    RandomAccessIndex index;
    std::uint64_t offset = 100;
    for (const Entry& entry : entries) {
        index.appendPicture({offset + 10, offset, entry.type, entry.display});
        offset += 100;
    }
    index.appendParameterSet({10, 5}, 1);
    index.appendParameterSet({320, 5}, 1);
    index.appendParameterSet({330, 5}, 2);
    index.appendParameterSet({900, 5}, 3);
    return index;
}

TEST(RandomAccessIndex, StartsAtTheNearestRandomAccessPictureAndOneEarlierForARaslPicture) {
    const RandomAccessIndex index = handMadeIndex();
    EXPECT_EQ(index.randomAccessPictureCount(), 3U);
    struct Case {
        std::int64_t target;
        std::size_t startPosition;
        std::int64_t firstOutput;
    };
    for (const Case& c : {Case{0, 0, 0}, Case{2, 0, 0}, Case{5, 3, 5}, Case{6, 3, 5}, Case{3, 0, 0},
                          Case{4, 0, 0}, Case{8, 7, 8}, Case{11, 7, 8}, Case{7, 3, 5}, Case{10, 7, 8}}) {
        const std::optional<RandomAccessStart> start = index.startFor(c.target);
        ASSERT_TRUE(start) << c.target;
        EXPECT_EQ(start->decodePosition, c.startPosition) << c.target;
        EXPECT_EQ(start->picture, index.at(c.startPosition)) << c.target;
        EXPECT_EQ(start->firstOutputDisplayIndex, c.firstOutput) << c.target;
    }
    EXPECT_FALSE(index.startFor(12));
}

TEST(RandomAccessIndex, GivesTheLastParameterSetOfEachContentBeforeTheAccessUnitInStreamOrder) {
    const RandomAccessIndex index = handMadeIndex();
    EXPECT_EQ(index.startFor(0)->parameterSets, (std::vector<ffmpeg::FileSpan>{{10, 5}}));
    EXPECT_EQ(index.startFor(2)->parameterSets, (std::vector<ffmpeg::FileSpan>{{10, 5}}));
    EXPECT_EQ(index.startFor(6)->parameterSets, (std::vector<ffmpeg::FileSpan>{{320, 5}, {330, 5}}));
    EXPECT_EQ(index.startFor(11)->parameterSets, (std::vector<ffmpeg::FileSpan>{{320, 5}, {330, 5}}));
}

TEST(RandomAccessIndex, NamesPicturesByTheirFirstSliceAndMovesADisplayIndexWhenItIsSetAgain) {
    RandomAccessIndex index = handMadeIndex();
    EXPECT_EQ(index.displayIndexOf(410), 5);
    EXPECT_FALSE(index.displayIndexOf(400));
    EXPECT_EQ(index.decodePositionOf(9), 10U);
    index.setDisplayIndex(10, 42);
    EXPECT_FALSE(index.decodePositionOf(9));
    EXPECT_EQ(index.decodePositionOf(42), 10U);
    EXPECT_EQ(index.displayIndexOf(1110), 42);
}

}  // namespace
}  // namespace vexilo::media
