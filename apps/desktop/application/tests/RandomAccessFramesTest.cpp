// Frames that are not in the cache come from the nearest random-access picture: on the in-process
// road with the index its decode recorded, and from the index of a stream analysis the real
// worker wrote. Each frame equals the same picture of a decode from the stream's start, and the
// pictures around it are read ahead in the way the user steps.

#include "TestMedia.h"
#include "AnalyzedStreamFixture.h"
#include "ProjectSignalRecorder.h"

#include "vexilo/application/StreamRandomAccess.h"
#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/RandomAccessIndexRecorder.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>

namespace vexilo::application {
namespace {

using test::ProjectSignalRecorder;

constexpr std::uint64_t kFrameBytes176x144 = 38016;
// Six frames: a window of two pictures on each side of the selected one.
constexpr std::uint64_t kSixFrames = 6 * kFrameBytes176x144;
constexpr std::uint8_t kFirstRandomAccessType = 16;
constexpr std::uint8_t kLastRandomAccessType = 21;

using test::testMedia;

// A decode from the start, by display index, with the index it recorded on the way.
struct Reference {
    std::vector<domain::VideoFrame> frames;
    std::shared_ptr<const media::RandomAccessIndex> index;
};

Reference decodeFromTheStart(const std::filesystem::path& clip)
{
    Reference reference;
    auto source = media::FFmpegVideoSource::open(clip);
    EXPECT_TRUE(source.ok());
    if (!source.ok()) {
        return reference;
    }
    media::RandomAccessIndexRecorder recorder(source.value().nalFraming());
    const auto outcome = source.value().decodeSequentially(
        [&](media::FFmpegDecodedPicture picture) {
            recorder.notePictureOutput(picture.picture.decodeIndex.value_or(-1), picture.picture.displayIndex);
            reference.frames.push_back(std::move(picture.frame));
        },
        {}, [&](std::int64_t decodeIndex, std::span<const std::uint8_t> data, std::int64_t position) {
            recorder.notePacket(decodeIndex, data, position);
        });
    EXPECT_TRUE(outcome.ok());
    reference.index = recorder.snapshot();
    return reference;
}

ProjectControllerOptions inProcessWithSixFrames()
{
    ProjectControllerOptions options;
    options.frameCacheBytes = kSixFrames;
    options.useAnalyzerWorker = false;
    return options;
}

// Selects the picture and waits for its frame, from the cache or decoded.
VideoFramePtr show(ProjectController& controller, ProjectSignalRecorder& recorder, domain::PictureId picture)
{
    recorder.frames.clear();
    if (!controller.selectPicture(picture) || !ProjectSignalRecorder::waitFor([&] { return !recorder.frames.empty(); })) {
        return {};
    }
    return recorder.frames.back();
}

class SteppedClips : public testing::TestWithParam<const char*> {};

TEST_P(SteppedClips, EveryFrameIsThePictureOfADecodeFromTheStartAndEveryDecodeStartsAtARandomAccessPicture)
{
    const std::filesystem::path clip = testMedia(GetParam());
    const Reference reference = decodeFromTheStart(clip);
    const auto last = static_cast<domain::PictureId>(reference.frames.size()) - 1;
    ProjectController controller(nullptr, inProcessWithSixFrames());
    ProjectSignalRecorder recorder(controller);
    controller.openProject(clip);
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return recorder.hasEnded(); }));
    ASSERT_EQ(controller.pictureCount(), reference.frames.size());
    ASSERT_FALSE(controller.cachedFrame(0)) << "the cache holds the last pictures only";

    // Forward from the start, back across the cache's reach, a jump near the end and back again.
    std::vector<domain::PictureId> steps;
    for (domain::PictureId picture = 0; picture <= 9; ++picture) {
        steps.push_back(picture);
    }
    for (domain::PictureId picture = 8; picture >= 0; --picture) {
        steps.push_back(picture);
    }
    for (domain::PictureId picture = last - 1; picture >= last - 8; --picture) {
        steps.push_back(picture);
    }
    steps.push_back(3);
    for (const domain::PictureId picture : steps) {
        const VideoFramePtr frame = show(controller, recorder, picture);
        ASSERT_TRUE(frame) << "picture " << picture << ": " << recorder.unavailableReasons.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(frame->index, picture);
        domain::VideoFrame expected = reference.frames[static_cast<std::size_t>(picture)];
        expected.index = picture;
        EXPECT_EQ(*frame, expected) << "picture " << picture;
    }

    const FrameDecodeCounts counts = controller.frameDecodeCounts();
    EXPECT_EQ(counts.streamStarts, 0U) << "the open recorded where every decode can start";
    EXPECT_GT(counts.randomAccessStarts, 2U);
    for (const RandomAccessStartRecord& start : counts.recentStarts) {
        EXPECT_GE(start.nalUnitType, kFirstRandomAccessType);
        EXPECT_LE(start.nalUnitType, kLastRandomAccessType);
    }
}

INSTANTIATE_TEST_SUITE_P(RandomAccessFrames, SteppedClips,
                         testing::Values("main_420_8bit_gop8.hevc", "bpyramid_420_8bit.mp4",
                                         "observer_open_gop_pyramid.hevc"));

TEST(RandomAccessFrames, ThePicturesBeyondTheOneShownAreReadAheadInTheWayTheUserSteps)
{
    const std::filesystem::path clip = testMedia("main_420_8bit_gop8.hevc");
    ProjectController controller(nullptr, inProcessWithSixFrames());
    ProjectSignalRecorder recorder(controller);
    controller.openProject(clip);
    ASSERT_TRUE(ProjectSignalRecorder::waitFor([&] { return recorder.hasEnded(); }));

    ASSERT_TRUE(show(controller, recorder, 5));
    ASSERT_TRUE(show(controller, recorder, 6));
    EXPECT_TRUE(ProjectSignalRecorder::waitFor([&] { return controller.cachedFrame(7) && controller.cachedFrame(8); }))
        << "two ahead of a step forward";
    ASSERT_TRUE(show(controller, recorder, 13));
    ASSERT_TRUE(show(controller, recorder, 12));
    ASSERT_TRUE(show(controller, recorder, 11));
    EXPECT_TRUE(ProjectSignalRecorder::waitFor([&] { return controller.cachedFrame(10) && controller.cachedFrame(9); }))
        << "two ahead of a step back, once the nearer one is used up";
    recorder.clear();
    ASSERT_TRUE(controller.selectPicture(10));
    EXPECT_EQ(recorder.names, (QStringList{QStringLiteral("selected:10"), QStringLiteral("frameReady")}))
        << "a step onto a picture read ahead shows it at once";
}

// The worker's analysis of a clip, and the index a decode from its start records.
class AnalysedClips : public testing::TestWithParam<const char*> {};

TEST_P(AnalysedClips, AStreamAnalysisGivesThePicturesAndStartsADecodeRecords)
{
    const std::filesystem::path clip = testMedia(GetParam());
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    auto analysed = vexilo::test::analyzeWithWorker(clip, scratch.path().toStdString(), "stream_index");
    ASSERT_TRUE(std::holds_alternative<vexilo::test::AnalyzedStream>(analysed)) << std::get<std::string>(analysed);
    const auto fromDocument = makeRandomAccessIndex(*std::get<vexilo::test::AnalyzedStream>(analysed).stream);
    const auto recorded = decodeFromTheStart(clip).index;
    const bool elementary = clip.extension() == ".hevc";

    ASSERT_EQ(fromDocument->size(), recorded->size());
    ASSERT_EQ(fromDocument->randomAccessPictureCount(), recorded->randomAccessPictureCount());
    for (std::size_t position = 0; position < recorded->size(); ++position) {
        const media::IndexedPicture& expected = recorded->at(position);
        const media::IndexedPicture& listed = fromDocument->at(position);
        EXPECT_EQ(listed.firstSliceOffset, expected.firstSliceOffset) << position;
        EXPECT_EQ(listed.nalUnitType, expected.nalUnitType) << position;
        EXPECT_EQ(listed.displayIndex, expected.displayIndex) << position;
        // A container's samples are found by their slices; only an elementary stream is entered
        // where its access unit begins.
        if (elementary) {
            EXPECT_EQ(listed.accessUnitOffset, expected.accessUnitOffset) << position;
        }
        if (!expected.displayIndex) {
            continue;
        }
        const auto plannedFromDocument = fromDocument->startFor(*expected.displayIndex);
        const auto plannedFromDecode = recorded->startFor(*expected.displayIndex);
        ASSERT_TRUE(plannedFromDocument && plannedFromDecode) << position;
        EXPECT_EQ(plannedFromDocument->decodePosition, plannedFromDecode->decodePosition) << position;
        EXPECT_EQ(plannedFromDocument->firstOutputDisplayIndex, plannedFromDecode->firstOutputDisplayIndex) << position;
        EXPECT_EQ(plannedFromDocument->parameterSets, plannedFromDecode->parameterSets) << position;
    }
}

INSTANTIATE_TEST_SUITE_P(StreamRandomAccess, AnalysedClips,
                         testing::Values("main_420_8bit_gop8.hevc", "main_420_8bit_gop8.mp4",
                                         "observer_open_gop_pyramid.hevc"));

}  // namespace
}  // namespace vexilo::application
