#include "TestSupport.h"
#include "vexilo/media/FFmpegVideoSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <new>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace vexilo::media {
namespace {

namespace fs = std::filesystem;
using test::mediaPath;
using test::ScratchDirectory;

constexpr std::int32_t kInvalidArgument = -22;
constexpr std::int32_t kNoSuchFile = -2;
constexpr std::int32_t kIoError = -5;
constexpr std::int32_t kInvalidData = -1094995529;
constexpr std::int32_t kExternal = -542398533;
constexpr std::int32_t kOutOfMemory = -12;

std::string errorSummary(const FFmpegError& error) {
    return error.message;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

void expectError(const FFmpegError& error, const fs::path& path, std::int32_t code, const std::string& sentence) {
    EXPECT_EQ(error.path, path);
    EXPECT_EQ(error.code, code);
    EXPECT_TRUE(startsWith(error.detail, sentence + ": ")) << error.detail;
    EXPECT_EQ(error.message,
              "FFmpeg backend failed for '" + path.string() + "' (FFmpeg error " + std::to_string(code) + "): " +
                  error.detail);
}

std::vector<FFmpegDecodedPicture> decodeAll(const fs::path& path, FFmpegDecodeSummary* summary = nullptr) {
    auto source = FFmpegVideoSource::open(path);
    EXPECT_TRUE(source.ok()) << (source.ok() ? "" : errorSummary(source.error()));
    std::vector<FFmpegDecodedPicture> pictures;
    if (!source.ok()) {
        return pictures;
    }
    auto result = source.value().decodeSequentially(
        [&pictures](FFmpegDecodedPicture picture) { pictures.push_back(std::move(picture)); }, {});
    EXPECT_TRUE(result.ok()) << (result.ok() ? "" : errorSummary(result.error()));
    if (result.ok() && summary != nullptr) {
        *summary = result.value();
    }
    return pictures;
}

TEST(FFmpegErrorFormat, NamesThePathTheCodeTheSentenceAndFfmpegsText) {
    struct Case {
        std::int32_t code;
        const char* detail;
    };
    const Case cases[] = {{kInvalidArgument, "Cannot open the input stream: Invalid argument"},
                          {kInvalidData, "Cannot open the input stream: Invalid data found when processing input"},
                          {-123456789, "Cannot open the input stream: Unknown FFmpeg error"}};
    const fs::path path = fs::path(u8"/clips/\u00e9t\u00e9.hevc");
    for (const Case& c : cases) {
        const FFmpegError error = formatFfmpegError(path, c.code, "Cannot open the input stream");
        EXPECT_EQ(error.path, path);
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.detail, c.detail);
        EXPECT_EQ(error.message, "FFmpeg backend failed for '/clips/\xC3\xA9t\xC3\xA9.hevc' (FFmpeg error " +
                                     std::to_string(c.code) + "): " + c.detail);
    }
}

// --- Input check -------------------------------------------------------------------------

enum class InputSetup { RegularFile, Missing, Directory, SymlinkLoop };

struct InputCase {
    const char* name;
    const char* fileName;
    InputSetup setup;
    std::optional<std::int32_t> code;
    const char* sentence;
};

class InputCheck : public testing::TestWithParam<InputCase> {};

TEST_P(InputCheck, AcceptsOnlyLocalFilesOfTheSupportedKinds) {
    const InputCase& c = GetParam();
    ScratchDirectory directory;
    const fs::path path = directory.file(c.fileName);
    switch (c.setup) {
        case InputSetup::RegularFile:
            test::writeFileBytes(path, {0});
            break;
        case InputSetup::Missing:
            break;
        case InputSetup::Directory:
            fs::create_directory(path);
            break;
        case InputSetup::SymlinkLoop:
            fs::create_symlink(path, path);
            break;
    }
    const std::optional<FFmpegError> error = validateInputPath(path);
    ASSERT_EQ(error.has_value(), c.code.has_value());
    if (error) {
        expectError(*error, path, *c.code, c.sentence);
    }
}

constexpr const char* kExtensionSentence = "Only local .hevc, .h265, .mp4, .m4v, or .mov HEVC inputs are supported";

INSTANTIATE_TEST_SUITE_P(
    FFmpegVideoSource, InputCheck,
    testing::Values(
        InputCase{"UpperCaseHevc", "clip.HEVC", InputSetup::RegularFile, std::nullopt, ""},
        InputCase{"H265", "clip.h265", InputSetup::RegularFile, std::nullopt, ""},
        InputCase{"Mp4", "clip.mp4", InputSetup::RegularFile, std::nullopt, ""},
        InputCase{"M4v", "clip.M4V", InputSetup::RegularFile, std::nullopt, ""},
        InputCase{"Mov", "clip.mov", InputSetup::RegularFile, std::nullopt, ""},
        InputCase{"BackupSuffix", "clip.hevc.bak", InputSetup::RegularFile, kInvalidArgument, kExtensionSentence},
        InputCase{"H264", "clip.264", InputSetup::RegularFile, kInvalidArgument, kExtensionSentence},
        InputCase{"NoExtension", "clip", InputSetup::RegularFile, kInvalidArgument, kExtensionSentence},
        InputCase{"Missing", "missing.hevc", InputSetup::Missing, kNoSuchFile, "Cannot inspect the local input file"},
        InputCase{"SymlinkLoop", "loop.hevc", InputSetup::SymlinkLoop, kIoError, "Cannot inspect the local input file"},
        InputCase{"DirectoryNamedMp4", "x.mp4", InputSetup::Directory, kInvalidArgument,
                  "Input path is not a regular local file"}),
    test::CaseName());

// --- Open --------------------------------------------------------------------------------

struct OpenFailureCase {
    const char* name;
    const char* clip;  // a generated clip, or empty for a scratch file of `content`
    const char* fileName;
    std::vector<std::uint8_t> content;
    std::int32_t code;
    const char* sentence;
};

class OpenFailures : public testing::TestWithParam<OpenFailureCase> {};

TEST_P(OpenFailures, ReleaseEverythingAndReportTheStep) {
    const OpenFailureCase& c = GetParam();
    ScratchDirectory directory;
    fs::path path = mediaPath(c.clip);
    if (std::string(c.clip).empty()) {
        path = directory.file(c.fileName);
        test::writeFileBytes(path, c.content);
    }
    auto source = FFmpegVideoSource::open(path);
    ASSERT_FALSE(source.ok());
    expectError(source.error(), path, c.code, c.sentence);
}

INSTANTIATE_TEST_SUITE_P(
    FFmpegVideoSource, OpenFailures,
    testing::Values(
        OpenFailureCase{"H264OnlyMp4", "h264_only.mp4", "", {}, kInvalidData, "Video stream codec is not HEVC"},
        OpenFailureCase{"AudioOnlyMp4", "audio_only.mp4", "", {}, -1381258232, "Cannot find a video stream"},
        OpenFailureCase{"EmptyElementaryStream", "", "empty.hevc", {}, kInvalidData,
                        "HEVC stream information has no valid coded dimensions"},
        OpenFailureCase{"NotAnMp4", "", "text.mp4", std::vector<std::uint8_t>(64, 'x'), kInvalidData,
                        "Cannot open the input stream"}),
    test::CaseName());

TEST(FFmpegVideoSourceOpen, ReturnsAnUnchangedInputCheckFailure) {
    auto source = FFmpegVideoSource::open("/nonexistent/vexilo/clip.hevc");
    ASSERT_FALSE(source.ok());
    expectError(source.error(), "/nonexistent/vexilo/clip.hevc", kNoSuchFile, "Cannot inspect the local input file");
}

struct StreamInfoCase {
    const char* name;
    const char* clip;
    std::int64_t streamIndex;
    std::int32_t width;
    std::int32_t height;
    std::int32_t bitDepth;
    const char* pixelFormat;
    std::int64_t frameCount;
};

class ProbedStreams : public testing::TestWithParam<StreamInfoCase> {};

TEST_P(ProbedStreams, DescribeTheChosenVideoStream) {
    const StreamInfoCase& c = GetParam();
    auto source = FFmpegVideoSource::open(mediaPath(c.clip));
    ASSERT_TRUE(source.ok()) << source.error().message;
    const domain::StreamInfo& info = source.value().streamInfo();
    EXPECT_EQ(info.streamIndex, c.streamIndex);
    EXPECT_EQ(info.sourcePath, mediaPath(c.clip));
    EXPECT_EQ(info.codecName, "hevc");
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
    EXPECT_EQ(info.bitDepth, c.bitDepth);
    EXPECT_EQ(info.pixelFormatName, c.pixelFormat);
    EXPECT_EQ(info.frameCount, c.frameCount);
}

INSTANTIATE_TEST_SUITE_P(
    FFmpegVideoSource, ProbedStreams,
    testing::Values(
        StreamInfoCase{"Main8", "main_420_8bit_gop8.hevc", 0, 176, 144, 8, "yuv420p", -1},
        StreamInfoCase{"Main8Mp4", "main_420_8bit_gop8.mp4", 0, 176, 144, 8, "yuv420p", 24},
        StreamInfoCase{"Main10Mov", "main10_420_10bit.mov", 0, 176, 144, 10, "yuv420p10le", 12},
        StreamInfoCase{"AudioFirst", "audio_first_hevc.mp4", 1, 176, 144, 8, "yuv420p", 24},
        StreamInfoCase{"Odd444", "odd_177x97_444_8bit.hevc", 0, 177, 97, 8, "yuv444p", -1}),
    test::CaseName());

// --- Decoding against FFmpeg's own tools -------------------------------------------------

struct ProbedPacket {
    int streamIndex = 0;
    std::optional<std::int64_t> pts;
    std::optional<std::int64_t> dts;
    bool discarded = false;  // edit lists mark packets whose pictures the decoder drops
};

std::optional<std::int64_t> parseTimestamp(const std::string& text) {
    if (text.empty() || text == "N/A") {
        return std::nullopt;
    }
    return std::stoll(text);
}

// Every packet of every stream in read order, as ffprobe reads them.
std::vector<ProbedPacket> probePackets(const fs::path& path) {
    std::istringstream lines(test::runCommand(
        "ffprobe -v error -show_entries packet=stream_index,pts,dts,flags -of csv=p=0 " + test::shellQuoted(path)));
    std::vector<ProbedPacket> packets;
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || std::isdigit(static_cast<unsigned char>(line.front())) == 0) {
            continue;  // side data of the packet before
        }
        std::istringstream fields(line);
        std::string streamIndex;
        std::string pts;
        std::string dts;
        std::string flags;
        std::getline(fields, streamIndex, ',');
        std::getline(fields, pts, ',');
        std::getline(fields, dts, ',');
        std::getline(fields, flags, ',');
        packets.push_back(ProbedPacket{std::stoi(streamIndex), parseTimestamp(pts), parseTimestamp(dts),
                                       flags.find('D') != std::string::npos});
    }
    return packets;
}

std::uint64_t probeFrameCount(const fs::path& path) {
    return std::stoull(test::runCommand("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                        "stream=nb_read_frames -of csv=p=0 " +
                                        test::shellQuoted(path)));
}

std::vector<std::uint8_t> ffmpegRawVideo(const fs::path& path, const std::string& pixelFormat) {
    ScratchDirectory directory;
    const fs::path raw = directory.file("frames.raw");
    test::runCommand("ffmpeg -hide_banner -loglevel error -nostdin -y -i " + test::shellQuoted(path) +
                     " -map 0:v:0 -fps_mode passthrough -pix_fmt " + pixelFormat + " -f rawvideo " +
                     test::shellQuoted(raw));
    return test::readFileBytes(raw);
}

struct DecodeCase {
    const char* name;
    const char* clip;
    const char* pixelFormat;
    bool drainsAtEnd;  // B-pyramids leave pictures in the decoder until the flush
};

class DecodedClips : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodedClips, MatchFfmpegByteForByteAndCarryTheirPacketIdentity) {
    const DecodeCase& c = GetParam();
    const fs::path path = mediaPath(c.clip);
    FFmpegDecodeSummary summary;
    const std::vector<FFmpegDecodedPicture> pictures = decodeAll(path, &summary);

    ASSERT_EQ(pictures.size(), probeFrameCount(path));
    std::vector<std::uint8_t> decodedBytes;
    for (const FFmpegDecodedPicture& picture : pictures) {
        EXPECT_EQ(picture.frame.pixelFormatName, c.pixelFormat);
        for (const domain::VideoPlane& plane : picture.frame.planes) {
            decodedBytes.insert(decodedBytes.end(), plane.samples.begin(), plane.samples.end());
        }
    }
    EXPECT_TRUE(decodedBytes == ffmpegRawVideo(path, c.pixelFormat)) << "decoded planes differ from ffmpeg's";

    const std::vector<ProbedPacket> packets = probePackets(path);
    const int videoStream = packets.at(static_cast<std::size_t>(*pictures.front().picture.packetIndex)).streamIndex;
    std::vector<std::int64_t> videoOrdinalOfPacket(packets.size(), -1);
    std::vector<std::int64_t> outputOrdinals;  // video packets whose pictures are not dropped
    std::int64_t videoPackets = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        if (packets[i].streamIndex == videoStream) {
            if (!packets[i].discarded) {
                outputOrdinals.push_back(videoPackets);
            }
            videoOrdinalOfPacket[i] = videoPackets++;
        }
    }
    EXPECT_EQ(summary.packetsRead, packets.size());
    EXPECT_EQ(summary.packetsSent, static_cast<std::uint64_t>(videoPackets));
    EXPECT_EQ(summary.picturesDecoded, pictures.size());
    EXPECT_FALSE(summary.canceled);
    EXPECT_EQ(summary.picturesDrained > 0, c.drainsAtEnd);

    std::vector<std::int64_t> decodeIndexes;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const domain::PictureInfo& picture = pictures[i].picture;
        EXPECT_EQ(picture.id, static_cast<domain::PictureId>(i));
        EXPECT_EQ(picture.displayIndex, static_cast<std::int64_t>(i));
        ASSERT_TRUE(picture.packetIndex && picture.decodeIndex) << "picture " << i;
        const auto packet = static_cast<std::size_t>(*picture.packetIndex);
        ASSERT_LT(packet, packets.size());
        EXPECT_EQ(packets[packet].streamIndex, videoStream);
        EXPECT_EQ(*picture.decodeIndex, videoOrdinalOfPacket[packet]) << "picture " << i;
        EXPECT_EQ(picture.dts, packets[packet].dts) << "picture " << i;
        if (packets[packet].pts) {
            EXPECT_EQ(picture.pts, packets[packet].pts) << "picture " << i;
        }
        decodeIndexes.push_back(*picture.decodeIndex);
    }
    // Without dropped packets this is a permutation of 0 .. n-1.
    std::sort(decodeIndexes.begin(), decodeIndexes.end());
    EXPECT_EQ(decodeIndexes, outputOrdinals);
}

INSTANTIATE_TEST_SUITE_P(
    FFmpegVideoSource, DecodedClips,
    testing::Values(DecodeCase{"Main8BPyramid", "main_420_8bit_gop8.hevc", "yuv420p", true},
                    DecodeCase{"Main8Mp4EditList", "main_420_8bit_gop8.mp4", "yuv420p", true},
                    DecodeCase{"BPyramidMp4", "bpyramid_420_8bit.mp4", "yuv420p", true},
                    DecodeCase{"BPyramid10BitMov", "bpyramid_420_10bit.mov", "yuv420p10le", true},
                    DecodeCase{"Main10", "main10_420_10bit.hevc", "yuv420p10le", true},
                    DecodeCase{"Main10MovEditList", "main10_420_10bit.mov", "yuv420p10le", true},
                    DecodeCase{"Rext422", "rext_422_10bit.hevc", "yuv422p10le", false},
                    DecodeCase{"Rext444", "rext_444_8bit.hevc", "yuv444p", false},
                    DecodeCase{"Odd444", "odd_177x97_444_8bit.hevc", "yuv444p", true},
                    DecodeCase{"AudioBeforeVideo", "audio_first_hevc.mp4", "yuv420p", true}),
    test::CaseName());

// --- The run's own rules -----------------------------------------------------------------

TEST(FFmpegVideoSourceDecode, CancelAtOnceIsASuccessWithNothingDone) {
    auto source = FFmpegVideoSource::open(mediaPath("main_420_8bit_gop8.hevc"));
    ASSERT_TRUE(source.ok());
    auto result = source.value().decodeSequentially([](FFmpegDecodedPicture) {}, [] { return true; });
    ASSERT_TRUE(result.ok());
    EXPECT_TRUE(result.value().canceled);
    EXPECT_EQ(result.value().packetsRead, 0U);
    EXPECT_EQ(result.value().packetsSent, 0U);
    EXPECT_EQ(result.value().picturesDecoded, 0U);
    EXPECT_EQ(result.value().picturesDrained, 0U);
}

TEST(FFmpegVideoSourceDecode, CancelTakesEffectWithinOnePicture) {
    auto source = FFmpegVideoSource::open(mediaPath("main_420_8bit_gop8.mp4"));
    ASSERT_TRUE(source.ok());
    int delivered = 0;
    auto result = source.value().decodeSequentially([&delivered](FFmpegDecodedPicture) { ++delivered; },
                                                    [&delivered] { return delivered >= 3; });
    ASSERT_TRUE(result.ok());
    EXPECT_TRUE(result.value().canceled);
    EXPECT_EQ(result.value().picturesDecoded, 3U);
    EXPECT_EQ(delivered, 3);
}

// A damaged packet is what an analyser is opened for: the decoder refuses it as invalid data,
// the run notes it and goes on, and the pictures around it still come out.
TEST(FFmpegVideoSourceDecode, PassesOverADamagedPacketAndDecodesTheRest) {
    const ScratchDirectory scratch;
    std::vector<std::uint8_t> bytes = test::readFileBytes(mediaPath("main_420_8bit_gop8.hevc"));
    // The header of the fourth coded slice becomes nonsense (no reference lists where the
    // SPS has none) that the decoder refuses as invalid data.
    std::size_t slices = 0;
    for (std::size_t i = 0; i + 3 < bytes.size(); ++i) {
        const bool slice = bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && ((bytes[i + 3] >> 1) & 0x3F) <= 21;
        if (slice && slices++ == 3) {
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(i + 5), 22, std::uint8_t{0xFF});
            break;
        }
    }
    const fs::path path = scratch.path() / "damaged.hevc";
    test::writeFileBytes(path, bytes);
    auto source = FFmpegVideoSource::open(path);
    ASSERT_TRUE(source.ok());
    std::uint64_t delivered = 0;
    auto result = source.value().decodeSequentially([&delivered](FFmpegDecodedPicture) { ++delivered; }, {});
    ASSERT_TRUE(result.ok()) << result.error().detail;
    EXPECT_GE(result.value().packetsRejected, 1U);
    EXPECT_EQ(result.value().picturesDecoded, delivered);
    const std::string ffmpegFrames = test::runCommand("ffmpeg -hide_banner -nostdin -loglevel quiet -i " + test::shellQuoted(path) +
                                                " -map 0:v:0 -fps_mode passthrough -f framemd5 - | grep -vc '^#'");
    EXPECT_GE(delivered, std::stoull(ffmpegFrames));
    EXPECT_GT(delivered, 10U);
}

struct ThrowingCase {
    const char* name;
    std::function<void()> thrower;
    bool fromCancelPredicate;
    std::int32_t code;
    const char* detail;
};

class ThrowingCallbacks : public testing::TestWithParam<ThrowingCase> {};

TEST_P(ThrowingCallbacks, EndTheRunWithAnErrorRecord) {
    const ThrowingCase& c = GetParam();
    const fs::path path = mediaPath("main_420_8bit_gop8.hevc");
    auto source = FFmpegVideoSource::open(path);
    ASSERT_TRUE(source.ok());
    FFmpegVideoSource::PictureCallback onPicture = [&c](FFmpegDecodedPicture) {
        if (!c.fromCancelPredicate) {
            c.thrower();
        }
    };
    FFmpegVideoSource::CancelPredicate shouldCancel = [&c] {
        if (c.fromCancelPredicate) {
            c.thrower();
        }
        return false;
    };
    auto result = source.value().decodeSequentially(onPicture, shouldCancel);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, c.code);
    EXPECT_EQ(result.error().path, path);
    EXPECT_TRUE(startsWith(result.error().detail, c.detail)) << result.error().detail;

    // However the first run ended, the source cannot decode again.
    auto again = source.value().decodeSequentially([](FFmpegDecodedPicture) {}, {});
    ASSERT_FALSE(again.ok());
    expectError(again.error(), path, kInvalidArgument, "Sequential decode can only be started once per open source");
}

INSTANTIATE_TEST_SUITE_P(
    FFmpegVideoSource, ThrowingCallbacks,
    testing::Values(
        ThrowingCase{"RuntimeError", [] { throw std::runtime_error("boom"); }, false, kExternal,
                     "Decode callback failed: boom: "},
        ThrowingCase{"BadAlloc", [] { throw std::bad_alloc(); }, false, kOutOfMemory,
                     "Not enough memory while decoding HEVC frames: "},
        ThrowingCase{"NotAnException", [] { throw 42; }, false, kExternal,
                     "Decode callback failed with an unknown exception: "},
        ThrowingCase{"FromCancelPredicate", [] { throw std::logic_error("cancel broke"); }, true, kExternal,
                     "Decode callback failed: cancel broke: "}),
    test::CaseName());

TEST(FFmpegVideoSourceDecode, ChecksComeBeforeTheRunStarts) {
    const fs::path path = mediaPath("rext_444_8bit.hevc");
    auto opened = FFmpegVideoSource::open(path);
    ASSERT_TRUE(opened.ok());
    FFmpegVideoSource source = std::move(opened).value();

    auto noCallback = source.decodeSequentially({}, {});
    ASSERT_FALSE(noCallback.ok());
    expectError(noCallback.error(), path, kInvalidArgument, "A decoded-picture callback is required");

    // A refused call does not use up the one decode run.
    FFmpegVideoSource moved = std::move(source);
    int pictures = 0;
    auto run = moved.decodeSequentially([&pictures](FFmpegDecodedPicture) { ++pictures; }, {});
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(pictures, 8);

    auto movedFrom = source.decodeSequentially([](FFmpegDecodedPicture) {}, {});  // NOLINT(bugprone-use-after-move)
    ASSERT_FALSE(movedFrom.ok());
    EXPECT_EQ(movedFrom.error().code, kInvalidArgument);
    EXPECT_TRUE(startsWith(movedFrom.error().detail, "The FFmpeg video source is not open: "));
}

TEST(FFmpegVideoSourceDecode, ReleasesBothFunctionsBeforeReturning) {
    auto source = FFmpegVideoSource::open(mediaPath("rext_444_8bit.hevc"));
    ASSERT_TRUE(source.ok());
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    auto result = source.value().decodeSequentially([held = token](FFmpegDecodedPicture) {},
                                                    [held = std::move(token)] { return false; });
    EXPECT_TRUE(result.ok());
    EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace vexilo::media
