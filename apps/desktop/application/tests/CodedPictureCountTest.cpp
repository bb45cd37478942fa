// The picture count an analyzer-road open reports its progress against, read from the NAL unit
// headers of real and hand-made byte streams.

#include "TestMedia.h"
#include "vexilo/application/CodedPictureCount.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <vector>

namespace vexilo::application {
namespace {

using test::testMedia;

// One NAL unit behind a four-byte start code: its two header bytes, then the payload.
void appendNalUnit(std::vector<char>& stream, unsigned type, unsigned layer, std::vector<unsigned char> payload)
{
    stream.insert(stream.end(), {'\0', '\0', '\0', '\1'});
    stream.push_back(static_cast<char>((type << 1U) | (layer >> 5U)));
    stream.push_back(static_cast<char>(((layer & 0x1FU) << 3U) | 1U));
    for (const unsigned char byte : payload) {
        stream.push_back(static_cast<char>(byte));
    }
}

constexpr unsigned kTrailR = 1;
constexpr unsigned kIdrWRadl = 19;
constexpr unsigned kVps = 32;
constexpr unsigned kSps = 33;
constexpr unsigned kPps = 34;
constexpr unsigned kPrefixSei = 39;
constexpr unsigned kFiller = 38;
constexpr unsigned char kFirstSliceSegment = 0x80;
constexpr unsigned char kLaterSliceSegment = 0x40;

class CodedPictureCountTest : public testing::Test {
protected:
    std::filesystem::path write(const std::vector<char>& bytes)
    {
        const std::filesystem::path path = std::filesystem::path(scratch_.path().toStdString()) / "stream.hevc";
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    QTemporaryDir scratch_;
};

TEST_F(CodedPictureCountTest, CountsThePicturesOfEncodedStreams)
{
    EXPECT_EQ(countCodedPictures(testMedia("main_420_8bit_gop8.hevc")), 24U);
    EXPECT_EQ(countCodedPictures(testMedia("project_70_pictures.hevc")), 70U);
}

// Parameter sets, SEI, the later slice segments of a picture and a second layer's slices start
// no picture; a start code split across two reads still counts.
TEST_F(CodedPictureCountTest, OnlyBaseLayerSlicesThatStartAPictureCount)
{
    std::vector<char> stream;
    appendNalUnit(stream, kVps, 0, {0x0C});
    appendNalUnit(stream, kSps, 0, {0x01});
    appendNalUnit(stream, kPps, 0, {0xC1});
    appendNalUnit(stream, kPrefixSei, 0, {0x05});
    appendNalUnit(stream, kIdrWRadl, 0, {kFirstSliceSegment});
    appendNalUnit(stream, kIdrWRadl, 0, {kLaterSliceSegment});
    appendNalUnit(stream, kTrailR, 1, {kFirstSliceSegment});
    // Filler up to just short of the reading size, so the next start code straddles two reads.
    const std::size_t fillTo = (std::size_t{1} << 20) - 2;
    appendNalUnit(stream, kFiller, 0, std::vector<unsigned char>(fillTo - stream.size() - 6, 0xFF));
    appendNalUnit(stream, kTrailR, 0, {kFirstSliceSegment});
    appendNalUnit(stream, kTrailR, 0, {kLaterSliceSegment});
    EXPECT_EQ(countCodedPictures(write(stream)), 2U);
}

TEST_F(CodedPictureCountTest, GivesNothingForWhatIsNoByteStreamOfPictures)
{
    EXPECT_FALSE(countCodedPictures(testMedia("main_420_8bit_gop8.mp4"))) << "a container";
    EXPECT_FALSE(countCodedPictures(scratch_.path().toStdString() + "/missing.hevc"));
    std::vector<char> parameterSetsOnly;
    appendNalUnit(parameterSetsOnly, kVps, 0, {0x0C});
    appendNalUnit(parameterSetsOnly, kSps, 0, {0x01});
    EXPECT_FALSE(countCodedPictures(write(parameterSetsOnly)));
}

TEST_F(CodedPictureCountTest, AStopRequestGivesUp)
{
    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(countCodedPictures(testMedia("main_420_8bit_gop8.hevc"), stop.get_token()));
}

}  // namespace
}  // namespace vexilo::application
