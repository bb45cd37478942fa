#include "TestSupport.h"
#include "vexilo/media/PathText.h"
#include "vexilo/media/ReferenceYuv.h"

#include <gtest/gtest.h>

#include <QString>

#include <clocale>
#include <fstream>
#include <limits>
#include <optional>

namespace vexilo::media {
namespace {

namespace fs = std::filesystem;
using domain::ChromaFormat;
using domain::ReferenceYuvLayout;
using domain::ReferenceYuvSource;
using test::ScratchDirectory;

ReferenceYuvSource makeSource(fs::path path, std::int32_t width, std::int32_t height, ReferenceYuvLayout layout,
                              std::int64_t frameOffset = 0) {
    ReferenceYuvSource source;
    source.path = std::move(path);
    source.width = width;
    source.height = height;
    source.layout = layout;
    source.frameOffset = frameOffset;
    return source;
}

void makeFileOfSize(const fs::path& path, std::uintmax_t size) {
    test::writeFileBytes(path, {});
    fs::resize_file(path, size);
}

// --- Metadata checks that need no file -------------------------------------------------

struct EnteredMetadataCase {
    const char* name;
    const char* path;
    std::int32_t width;
    std::int32_t height;
    std::uint8_t layout;
    std::int64_t frameOffset;
    const char* message;
};

class EnteredMetadata : public testing::TestWithParam<EnteredMetadataCase> {};

TEST_P(EnteredMetadata, FailsWithTheFirstBrokenRule) {
    const EnteredMetadataCase& c = GetParam();
    const auto result = validateReferenceYuvMetadata(
        makeSource(c.path, c.width, c.height, static_cast<ReferenceYuvLayout>(c.layout), c.frameOffset));
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.message, c.message);
    EXPECT_FALSE(result.frameSizeBytes);
    EXPECT_FALSE(result.physicalFrameCount);
    EXPECT_FALSE(result.matchedFrameCount);
}

constexpr std::int32_t kMaxInt32 = std::numeric_limits<std::int32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    ReferenceYuv, EnteredMetadata,
    testing::Values(
        EnteredMetadataCase{"EmptyPath", "", 0, 0, 0, -1, "Reference YUV path is empty"},
        EnteredMetadataCase{"ZeroWidth", "x.yuv", 0, 10, 1, 0, "Reference YUV width and height must be positive"},
        EnteredMetadataCase{"NegativeHeight", "x.yuv", 10, -1, 1, 0,
                            "Reference YUV width and height must be positive"},
        EnteredMetadataCase{"UnknownLayout", "x.yuv", 10, 10, 0, -1, "Reference YUV layout is unknown"},
        EnteredMetadataCase{"NegativeOffset", "x.yuv", 10, 10, 1, -1, "Reference YUV frame offset cannot be negative"},
        EnteredMetadataCase{"LayoutBeyondTable", "x.yuv", 10, 10, 8, 0,
                            "Reference YUV frame size could not be derived"},
        EnteredMetadataCase{"FrameSizeOverflows", "x.yuv", kMaxInt32, kMaxInt32, 7, 0,
                            "Reference YUV frame size could not be derived"}),
    test::CaseName());

// --- Frame size by layout ----------------------------------------------------------------

struct FrameSizeCase {
    const char* name;
    std::int32_t width;
    std::int32_t height;
    ReferenceYuvLayout layout;
    std::uint64_t frameSize;
};

class FrameSize : public testing::TestWithParam<FrameSizeCase> {};

TEST_P(FrameSize, IsDerivedFromLayoutAndRoundedUpChroma) {
    const FrameSizeCase& c = GetParam();
    ScratchDirectory directory;
    const fs::path path = directory.file("two-frames.yuv");
    makeFileOfSize(path, 2 * c.frameSize);
    const auto result = validateReferenceYuvMetadata(makeSource(path, c.width, c.height, c.layout, 1));
    EXPECT_TRUE(result.valid) << result.message;
    EXPECT_EQ(result.message, "Reference YUV metadata is valid");
    EXPECT_EQ(result.frameSizeBytes, c.frameSize);
    EXPECT_EQ(result.physicalFrameCount, 2U);
    EXPECT_EQ(result.matchedFrameCount, 1U);
}

INSTANTIATE_TEST_SUITE_P(
    ReferenceYuv, FrameSize,
    testing::Values(FrameSizeCase{"I420_1080p", 1920, 1080, ReferenceYuvLayout::I420, 3'110'400},
                    FrameSizeCase{"I420_Odd", 1921, 1081, ReferenceYuvLayout::I420, 3'116'403},
                    FrameSizeCase{"I010", 4, 2, ReferenceYuvLayout::I010, 24},
                    FrameSizeCase{"P010", 4, 2, ReferenceYuvLayout::P010, 24},
                    FrameSizeCase{"Yuv422P8_Odd", 3, 3, ReferenceYuvLayout::Yuv422P8, 21},
                    FrameSizeCase{"Yuv422P10_OnePixel", 1, 1, ReferenceYuvLayout::Yuv422P10Le, 6},
                    FrameSizeCase{"Yuv444P8", 2, 2, ReferenceYuvLayout::Yuv444P8, 12},
                    FrameSizeCase{"Yuv444P10", 2, 2, ReferenceYuvLayout::Yuv444P10Le, 24}),
    test::CaseName());

// --- Checks against the file on disk -----------------------------------------------------

enum class FileSetup { Missing, MissingBelowFile, Directory, SymlinkLoop, NameTooLong, Bytes11, Bytes13, Bytes12 };

struct FileCheckCase {
    const char* name;
    FileSetup setup;
    std::int64_t frameOffset;
    bool valid;
    const char* message;
    std::optional<std::uint64_t> physicalFrames;
    std::optional<std::uint64_t> matchedFrames;
};

fs::path prepare(const ScratchDirectory& directory, FileSetup setup) {
    switch (setup) {
        case FileSetup::Missing:
            return directory.file("missing.yuv");
        case FileSetup::MissingBelowFile:
            makeFileOfSize(directory.file("plain-file"), 1);
            return directory.file("plain-file") / "clip.yuv";
        case FileSetup::Directory:
            fs::create_directory(directory.file("folder.yuv"));
            return directory.file("folder.yuv");
        case FileSetup::SymlinkLoop:
            fs::create_symlink(directory.file("b.yuv"), directory.file("a.yuv"));
            fs::create_symlink(directory.file("a.yuv"), directory.file("b.yuv"));
            return directory.file("a.yuv");
        case FileSetup::NameTooLong:
            return directory.file(std::string(300, 'n') + ".yuv");
        case FileSetup::Bytes11:
            makeFileOfSize(directory.file("eleven.yuv"), 11);
            return directory.file("eleven.yuv");
        case FileSetup::Bytes13:
            makeFileOfSize(directory.file("thirteen.yuv"), 13);
            return directory.file("thirteen.yuv");
        case FileSetup::Bytes12:
            makeFileOfSize(directory.file("twelve.yuv"), 12);
            return directory.file("twelve.yuv");
    }
    return {};
}

class FileChecks : public testing::TestWithParam<FileCheckCase> {};

TEST_P(FileChecks, ReportTheFileProblemWithTheFrameSize) {
    const FileCheckCase& c = GetParam();
    ScratchDirectory directory;
    const fs::path path = prepare(directory, c.setup);
    // 2 x 2 4:4:4 8-bit: 12 bytes per frame.
    const auto result =
        validateReferenceYuvMetadata(makeSource(path, 2, 2, ReferenceYuvLayout::Yuv444P8, c.frameOffset));
    EXPECT_EQ(result.valid, c.valid);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(result.frameSizeBytes, 12U);
    EXPECT_EQ(result.physicalFrameCount, c.physicalFrames);
    EXPECT_EQ(result.matchedFrameCount, c.matchedFrames);
}

INSTANTIATE_TEST_SUITE_P(
    ReferenceYuv, FileChecks,
    testing::Values(
        FileCheckCase{"Missing", FileSetup::Missing, 0, false, "Reference YUV file does not exist", {}, {}},
        FileCheckCase{"MissingBelowAFile", FileSetup::MissingBelowFile, 0, false, "Reference YUV file does not exist",
                      {}, {}},
        FileCheckCase{"Directory", FileSetup::Directory, 0, false, "Reference YUV path is not a regular file", {}, {}},
        FileCheckCase{"SymlinkLoop", FileSetup::SymlinkLoop, 0, false,
                      "Reference YUV file cannot be inspected: Too many levels of symbolic links", {}, {}},
        FileCheckCase{"NameTooLong", FileSetup::NameTooLong, 0, false,
                      "Reference YUV file cannot be inspected: File name too long", {}, {}},
        FileCheckCase{"SmallerThanOneFrame", FileSetup::Bytes11, 0, false,
                      "Reference YUV file is smaller than one frame", {}, {}},
        FileCheckCase{"NotWholeFrames", FileSetup::Bytes13, 0, false,
                      "Reference YUV file size is not an exact multiple of frame size", {}, {}},
        FileCheckCase{"OneFrame", FileSetup::Bytes12, 0, true, "Reference YUV metadata is valid", 1U, 1U},
        FileCheckCase{"OffsetSkipsEveryFrame", FileSetup::Bytes12, 1, false,
                      "Reference YUV frame offset skips every frame", 1U, {}}),
    test::CaseName());

TEST(ReferenceYuvPaths, NonAsciiNamesFromTheGuiWorkUnderTheCLocale) {
    std::setlocale(LC_ALL, "C");
    ScratchDirectory directory;
    const QString name = QString::fromUtf8("r\xC3\xA9" "f\xC3\xA9rence-\xE6\x98\xA0\xE5\x83\x8F.yuv");
    const fs::path path = pathFromQString(pathToQString(directory.path()) + "/" + name);
    makeFileOfSize(path, 12);
    EXPECT_TRUE(fs::exists(directory.path() / fs::path(u8"r\u00e9f\u00e9rence-\u6620\u50cf.yuv")));
    const auto result = validateReferenceYuvMetadata(makeSource(path, 2, 2, ReferenceYuvLayout::Yuv444P8));
    EXPECT_TRUE(result.valid) << result.message;
    EXPECT_EQ(pathToQString(path).right(name.size()), name);
}

// --- Reading frames ----------------------------------------------------------------------

TEST(ReferenceYuvRead, RefusesBeforeTouchingTheFile) {
    struct Case {
        std::int64_t index;
        std::uint64_t fileSize;
        const char* message;
    };
    const Case cases[] = {
        {-1, 0, "Reference YUV frame index cannot be negative"},
        {0, 13, "Reference YUV file size is not an exact multiple of frame size"},
        {2, 36, "Reference YUV frame index is outside the matched frame range"},  // offset 1 leaves 2 frames
        {7, 36, "Reference YUV frame index is outside the matched frame range"},
    };
    for (const Case& c : cases) {
        ScratchDirectory directory;
        const fs::path path = directory.file("frames.yuv");
        if (c.fileSize > 0) {
            makeFileOfSize(path, c.fileSize);
        }
        const auto result = readReferenceYuvFrame(makeSource(path, 2, 2, ReferenceYuvLayout::Yuv444P8, 1), c.index);
        EXPECT_FALSE(result.loaded);
        EXPECT_EQ(result.message, c.message) << "index " << c.index;
        EXPECT_FALSE(result.frame);
    }
}

TEST(ReferenceYuvRead, MissingFileReportsTheValidationMessage) {
    const auto result =
        readReferenceYuvFrame(makeSource("/nonexistent/vexilo/ref.yuv", 2, 2, ReferenceYuvLayout::I420), 0);
    EXPECT_FALSE(result.loaded);
    EXPECT_EQ(result.message, "Reference YUV file does not exist");
}

struct LayoutReadCase {
    const char* name;
    ReferenceYuvLayout layout;
    std::int32_t width;
    std::int32_t height;
    const char* pixelFormat;
    ChromaFormat chroma;
    std::int32_t bitDepth;
    std::int32_t chromaWidth;
    std::int32_t chromaHeight;
};

class LayoutRead : public testing::TestWithParam<LayoutReadCase> {};

// Each planar layout stores Y, U, V one after the other; the frame after the offset is
// read, and every plane carries the bytes of its own area of that frame.
TEST_P(LayoutRead, SplitsTheFrameIntoTightPlanes) {
    const LayoutReadCase& c = GetParam();
    const std::int32_t bytesPerSample = c.bitDepth > 8 ? 2 : 1;
    const auto lumaBytes = static_cast<std::size_t>(c.width * c.height * bytesPerSample);
    const auto chromaBytes = static_cast<std::size_t>(c.chromaWidth * c.chromaHeight * bytesPerSample);
    const std::size_t frameSize = lumaBytes + 2 * chromaBytes;
    std::vector<std::uint8_t> bytes(3 * frameSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / frameSize * 31) & 0x03U);  // small values: valid 10-bit too
    }
    ScratchDirectory directory;
    const fs::path path = directory.file("clip.yuv");
    test::writeFileBytes(path, bytes);
    ReferenceYuvSource source = makeSource(path, c.width, c.height, c.layout, 1);
    source.colourRange = domain::ColourRange::Full;

    const auto result = readReferenceYuvFrame(source, 1);
    ASSERT_TRUE(result.loaded) << result.message;
    EXPECT_EQ(result.message, "Reference YUV frame loaded");
    const domain::VideoFrame& frame = *result.frame;
    EXPECT_EQ(frame.index, 1);
    EXPECT_EQ(frame.width, c.width);
    EXPECT_EQ(frame.height, c.height);
    EXPECT_EQ(frame.bitDepth, c.bitDepth);
    EXPECT_EQ(frame.pixelFormatName, c.pixelFormat);
    EXPECT_EQ(frame.chromaFormat, c.chroma);
    EXPECT_EQ(frame.colourRange, domain::ColourRange::Full);
    EXPECT_EQ(frame.matrix, domain::ColourMatrix::Unspecified);
    EXPECT_TRUE(frame.packedData.empty());
    ASSERT_EQ(frame.planes.size(), 3U);

    const auto frameStart = bytes.begin() + static_cast<std::ptrdiff_t>(2 * frameSize);  // offset 1 + index 1
    const auto area = [&](std::size_t start, std::size_t length) {
        return std::vector<std::uint8_t>(frameStart + static_cast<std::ptrdiff_t>(start),
                                         frameStart + static_cast<std::ptrdiff_t>(start + length));
    };
    const std::vector<std::uint8_t> expected[] = {area(0, lumaBytes), area(lumaBytes, chromaBytes),
                                                  area(lumaBytes + chromaBytes, chromaBytes)};
    for (std::uint8_t i = 0; i < 3; ++i) {
        const domain::VideoPlane& plane = frame.planes[i];
        EXPECT_EQ(plane.planeIndex, i);
        EXPECT_EQ(plane.width, i == 0 ? c.width : c.chromaWidth);
        EXPECT_EQ(plane.height, i == 0 ? c.height : c.chromaHeight);
        EXPECT_EQ(plane.bytesPerSample, bytesPerSample);
        EXPECT_EQ(plane.stride, static_cast<std::int64_t>(plane.width) * bytesPerSample);
        EXPECT_EQ(plane.samples, expected[i]) << "plane " << int{i};
    }
}

INSTANTIATE_TEST_SUITE_P(
    ReferenceYuv, LayoutRead,
    testing::Values(
        LayoutReadCase{"I420_Odd", ReferenceYuvLayout::I420, 5, 3, "yuv420p", ChromaFormat::Yuv420, 8, 3, 2},
        LayoutReadCase{"I010", ReferenceYuvLayout::I010, 4, 4, "yuv420p10le", ChromaFormat::Yuv420, 10, 2, 2},
        LayoutReadCase{"Yuv422P8", ReferenceYuvLayout::Yuv422P8, 5, 2, "yuv422p", ChromaFormat::Yuv422, 8, 3, 2},
        LayoutReadCase{"Yuv422P10", ReferenceYuvLayout::Yuv422P10Le, 4, 2, "yuv422p10le", ChromaFormat::Yuv422, 10,
                       2, 2},
        LayoutReadCase{"Yuv444P8", ReferenceYuvLayout::Yuv444P8, 3, 3, "yuv444p", ChromaFormat::Yuv444, 8, 3, 3},
        LayoutReadCase{"Yuv444P10", ReferenceYuvLayout::Yuv444P10Le, 2, 3, "yuv444p10le", ChromaFormat::Yuv444, 10,
                       2, 3}),
    test::CaseName());

// P010 keeps samples in the high ten bits and interleaves U and V; the frame must hold
// plain 10-bit planar values like an I010 frame.
TEST(ReferenceYuvRead, P010IsSplitAndShiftedToTenBitValues) {
    const std::vector<std::uint32_t> luma = {0, 1, 2, 3, 512, 1000, 1022, 1023};
    const std::vector<std::uint32_t> chromaPairs = {100, 900, 200, 800};  // U0 V0 U1 V1
    std::vector<std::uint32_t> words;
    for (const std::uint32_t value : luma) {
        words.push_back(value << 6);
    }
    for (const std::uint32_t value : chromaPairs) {
        words.push_back(value << 6);
    }
    const domain::VideoPlane packed = test::makePlane(0, 12, 1, 2, words);
    ScratchDirectory directory;
    const fs::path path = directory.file("p010.yuv");
    test::writeFileBytes(path, packed.samples);

    const auto result = readReferenceYuvFrame(makeSource(path, 4, 2, ReferenceYuvLayout::P010), 0);
    ASSERT_TRUE(result.loaded) << result.message;
    const domain::VideoFrame& frame = *result.frame;
    EXPECT_EQ(frame.pixelFormatName, "p010le");
    EXPECT_EQ(frame.bitDepth, 10);
    EXPECT_EQ(frame.planes[0], test::makePlane(0, 4, 2, 2, luma));
    EXPECT_EQ(frame.planes[1], test::makePlane(1, 2, 1, 2, {100, 200}));
    EXPECT_EQ(frame.planes[2], test::makePlane(2, 2, 1, 2, {900, 800}));
}

TEST(ReferenceYuvRead, SeeksToOffsetPlusIndexTimesFrameSize) {
    constexpr std::uint64_t kFrameSize = 3'110'400;
    ScratchDirectory directory;
    const fs::path path = directory.file("hd.yuv");
    makeFileOfSize(path, 4 * kFrameSize);
    {
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(9'331'200);
        file.put('\x7B');
        file.seekp(static_cast<std::streamoff>(9'331'200 + kFrameSize - 1));
        file.put('\x5A');
    }
    const auto result = readReferenceYuvFrame(makeSource(path, 1920, 1080, ReferenceYuvLayout::I420, 1), 2);
    ASSERT_TRUE(result.loaded) << result.message;
    EXPECT_EQ(result.frame->planes[0].samples.front(), 0x7B);
    EXPECT_EQ(result.frame->planes[2].samples.back(), 0x5A);
    EXPECT_EQ(result.frame->planes[1].width, 960);
    EXPECT_EQ(result.frame->planes[1].height, 540);
}

// Frame after frame into one frame: the same planes as fresh reads, in the storage the
// first read made, also when the frame held another layout before.
TEST(ReferenceYuvRead, IntoAReusedFrameKeepsItsStorage) {
    for (const ReferenceYuvLayout layout : {ReferenceYuvLayout::I010, ReferenceYuvLayout::P010}) {
        std::vector<std::uint32_t> words(3 * 12);
        for (std::size_t i = 0; i < words.size(); ++i) {
            words[i] = static_cast<std::uint32_t>((i * 37) % 1024) << 6;
        }
        ScratchDirectory directory;
        const fs::path path = directory.file("clip.yuv");
        test::writeFileBytes(path, test::makePlane(0, 36, 1, 2, words).samples);
        const ReferenceYuvSource source = makeSource(path, 4, 2, layout);

        domain::VideoFrame frame = test::makeFlatFrame(64, 64, 8, ChromaFormat::Yuv444, 1, 2);
        std::vector<std::uint8_t> scratch;
        const ReferenceYuvReadStatus first = readReferenceYuvFrameInto(source, 0, frame, scratch);
        ASSERT_TRUE(first.loaded) << first.message;
        const std::uint8_t* lumaStorage = frame.planes[0].samples.data();
        for (const std::int64_t k : {1, 2, 0}) {
            const ReferenceYuvReadStatus status = readReferenceYuvFrameInto(source, k, frame, scratch);
            ASSERT_TRUE(status.loaded) << status.message;
            EXPECT_EQ(status.message, "Reference YUV frame loaded");
            EXPECT_EQ(frame, *readReferenceYuvFrame(source, k).frame) << "frame " << k;
            EXPECT_EQ(frame.planes[0].samples.data(), lumaStorage);
        }
        EXPECT_EQ(readReferenceYuvFrameInto(source, 3, frame, scratch).message,
                  "Reference YUV frame index is outside the matched frame range");
    }
}

TEST(ReferenceYuvLayoutTable, MapsRawLayoutValuesToChromaFormats) {
    const std::pair<std::uint8_t, ChromaFormat> cases[] = {
        {0, ChromaFormat::None},   {1, ChromaFormat::Yuv420}, {2, ChromaFormat::Yuv420}, {3, ChromaFormat::Yuv420},
        {4, ChromaFormat::Yuv422}, {5, ChromaFormat::Yuv422}, {6, ChromaFormat::Yuv444}, {7, ChromaFormat::Yuv444},
        {8, ChromaFormat::None},   {255, ChromaFormat::None}};
    for (const auto& [layout, chroma] : cases) {
        EXPECT_EQ(chromaFormatForLayout(layout), chroma) << int{layout};
    }
    EXPECT_EQ(referenceYuvLayoutInfo(static_cast<ReferenceYuvLayout>(200)).displayName, "Unknown");
    EXPECT_EQ(referenceYuvLayoutInfo(ReferenceYuvLayout::Yuv422P10Le).displayName, "YUV422P10LE");
}

}  // namespace
}  // namespace vexilo::media
