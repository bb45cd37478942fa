// Damage that the decoder passes over without a word must still reach the document: a picture
// whose slices stop short, one whose packet FFmpeg rejected, and those predicted from a picture
// that was lost are each marked in their summary and named by an issue in their own document.
#include "PipelineTestSupport.h"
#include "builder/StreamAnalysisBuilder.h"
#include "pipeline/AnalysisPipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace vexilo::analyzer {
namespace {

using analysis::PictureCompleteness;
using Bytes = std::vector<char>;

// A 1920x1080 stream of 64x64 CTBs: 30 columns by 17 rows.
constexpr char kFullHdClip[] = "viewer_1080p_420_8bit.hevc";
constexpr std::uint64_t kFullHdCtbs = 510;
constexpr std::uint32_t kLastSliceNalType = 31;

Bytes readStream(const std::filesystem::path& path)
{
    std::ifstream source(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(source), std::istreambuf_iterator<char>()};
}

void writeStream(const std::filesystem::path& path, const Bytes& stream)
{
    std::ofstream(path, std::ios::binary).write(stream.data(), static_cast<std::streamsize>(stream.size()));
}

// Payload start and end of every coded slice NAL unit, in stream order.
std::vector<std::pair<std::size_t, std::size_t>> sliceNalUnits(const Bytes& stream)
{
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i + 2 < stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            starts.push_back(i + 3);
        }
    }
    std::vector<std::pair<std::size_t, std::size_t>> units;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : stream.size();
        const auto type = (static_cast<std::uint32_t>(static_cast<unsigned char>(stream[starts[k]])) >> 1) & 0x3F;
        if (type <= kLastSliceNalType) {
            units.emplace_back(starts[k], end);
        }
    }
    return units;
}

struct Analysed {
    analysis::StreamAnalysis stream;
    // Each picture's own document, by picture identity.
    std::map<std::uint64_t, analysis::StreamAnalysis> pictures;
};

Analysed analyse(const std::filesystem::path& path, const std::filesystem::path& cache, AnalysisMode mode,
                 std::uint64_t target = 0)
{
    CancelRequest cancel;
    const AnalyzerRunResult result = analyzeHevcToMetadata(path, cache, cancel, mode, target, {});
    EXPECT_TRUE(result.succeeded) << result.code << ": " << result.detail;
    Analysed analysed;
    auto stream = testing::readCachedStream(cache);
    if (!std::holds_alternative<analysis::StreamAnalysis>(stream)) {
        ADD_FAILURE() << std::get<std::string>(stream);
        return analysed;
    }
    analysed.stream = std::move(std::get<analysis::StreamAnalysis>(stream));
    testing::forEachCachedPicture(cache, [&](analysis::StreamAnalysis picture) {
        const std::uint64_t identity = picture.pictures.at(0).pictureId.value_or(0);
        analysed.pictures.emplace(identity, std::move(picture));
    });
    return analysed;
}

// The picture's own findings of one code.
std::vector<analysis::AnalysisErrorInfo> issuesOf(const analysis::StreamAnalysis& picture, const std::string& code)
{
    std::vector<analysis::AnalysisErrorInfo> found;
    for (const analysis::AnalysisErrorInfo& error : picture.errors) {
        if (error.code == code) {
            EXPECT_EQ(error.relatedObjectId, picture.pictures.at(0).id) << error.detail;
            found.push_back(error);
        }
    }
    return found;
}

std::uint64_t parsedCtus(const analysis::StreamAnalysis& picture)
{
    std::uint64_t parsed = 0;
    for (const analysis::CtuInfo& ctu : picture.ctus) {
        parsed += ctu.parseStatus == analysis::BlockParseStatus::Parsed ? 1U : 0U;
    }
    return parsed;
}

std::string pictureNamed(const analysis::PictureAnalysisSummary& picture)
{
    return "pictureId=" + std::to_string(picture.pictureId.value_or(0)) +
           "; decodeIndex=" + std::to_string(picture.decodeIndex.value_or(-1)) + "; ";
}

TEST(PipelineDamagedPictures, AStreamCutInsideItsLastSliceLeavesThatPicturePartialWithItsCtuCounts)
{
    testing::ScratchDirectory scratch;
    Bytes stream = readStream(testing::testMedia(kFullHdClip));
    const auto units = sliceNalUnits(stream);
    ASSERT_EQ(units.size(), 3u);
    const auto [begin, end] = units.back();
    stream.resize(begin + (end - begin) * 8 / 10);
    writeStream(scratch / "cut.hevc", stream);

    const Analysed whole = analyse(testing::testMedia(kFullHdClip), scratch / "whole", AnalysisMode::BoundedStructure);
    for (const auto& [identity, picture] : whole.pictures) {
        EXPECT_EQ(picture.pictures.at(0).completeness, PictureCompleteness::Complete) << identity;
        EXPECT_TRUE(issuesOf(picture, "analyzer.picture_incomplete").empty()) << identity;
        EXPECT_EQ(picture.pictures.at(0).ctuCount, kFullHdCtbs);
    }

    const Analysed cut = analyse(scratch / "cut.hevc", scratch / "cut", AnalysisMode::BoundedStructure);
    ASSERT_EQ(cut.pictures.size(), 3u);
    const std::uint64_t last = cut.pictures.rbegin()->first;
    for (const auto& [identity, picture] : cut.pictures) {
        const auto issues = issuesOf(picture, "analyzer.picture_incomplete");
        if (identity != last) {
            EXPECT_EQ(picture.pictures.at(0).completeness, PictureCompleteness::Complete) << identity;
            EXPECT_TRUE(issues.empty()) << identity;
            continue;
        }
        const std::uint64_t found = parsedCtus(picture);
        EXPECT_GT(found, 0u);
        EXPECT_LT(found, kFullHdCtbs);
        EXPECT_EQ(picture.pictures.at(0).completeness, PictureCompleteness::Partial);
        ASSERT_EQ(issues.size(), 1u);
        EXPECT_EQ(issues[0].detail, pictureNamed(picture.pictures.at(0)) + "ctus=" + std::to_string(found) +
                                        "; expectedCtus=" + std::to_string(kFullHdCtbs));
        EXPECT_EQ(issues[0].message, "The picture's slices do not cover it; some of its CTUs are missing");
    }
    // The stream's own document carries the mark in its summaries, the issue only in the picture's.
    for (const analysis::PictureAnalysisSummary& summary : cut.stream.pictures) {
        EXPECT_EQ(summary.completeness,
                  summary.pictureId == last ? PictureCompleteness::Partial : PictureCompleteness::Complete);
    }

    // The structure run of that one picture, as the desktop asks for it, finds the same.
    const Analysed target = analyse(scratch / "cut.hevc", scratch / "target", AnalysisMode::PictureStructure, last);
    const auto issues = issuesOf(target.pictures.at(last), "analyzer.picture_incomplete");
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_EQ(issues[0].detail, issuesOf(cut.pictures.at(last), "analyzer.picture_incomplete").at(0).detail);
}

// A slice header made nonsense: FFmpeg rejects the packet and outputs no picture for it, and
// the pictures predicted from the lost one are decoded from a picture the decoder made up.
TEST(PipelineDamagedPictures, PicturesPredictedFromALostPictureAreMarkedFailedAndNameTheMissingPoc)
{
    testing::ScratchDirectory scratch;
    Bytes stream = readStream(testing::testMedia("main_420_8bit_gop8.hevc"));
    const auto units = sliceNalUnits(stream);
    ASSERT_GT(units.size(), 8u);
    const auto [begin, end] = units[5];
    std::fill(stream.begin() + static_cast<std::ptrdiff_t>(begin + 2),
              stream.begin() + static_cast<std::ptrdiff_t>(std::min(end, begin + 24)), static_cast<char>(0xFF));
    writeStream(scratch / "garbled.hevc", stream);

    const Analysed clean =
        analyse(testing::testMedia("main_420_8bit_gop8.hevc"), scratch / "clean", AnalysisMode::StreamIndex);
    for (const analysis::PictureAnalysisSummary& summary : clean.stream.pictures) {
        EXPECT_NE(summary.completeness, PictureCompleteness::Failed) << pictureNamed(summary);
    }
    EXPECT_TRUE(clean.stream.errors.empty());

    const Analysed garbled = analyse(scratch / "garbled.hevc", scratch / "garbled", AnalysisMode::StreamIndex);
    std::size_t rejectedPackets = 0;
    for (const analysis::AnalysisErrorInfo& error : garbled.stream.errors) {
        rejectedPackets += error.code == "analyzer.packet_rejected" ? 1U : 0U;
    }
    EXPECT_EQ(rejectedPackets, 1u);
    std::size_t failed = 0;
    for (const analysis::PictureAnalysisSummary& summary : garbled.stream.pictures) {
        const analysis::StreamAnalysis& picture = garbled.pictures.at(summary.pictureId.value_or(0));
        const auto issues = issuesOf(picture, "analyzer.picture_reference_missing");
        if (summary.completeness != PictureCompleteness::Failed) {
            EXPECT_TRUE(issues.empty()) << pictureNamed(summary);
            continue;
        }
        ++failed;
        ASSERT_EQ(issues.size(), 1u) << pictureNamed(summary);
        // The lost picture is the P picture of POC 8.
        EXPECT_EQ(issues[0].detail, pictureNamed(summary) + "missingReferencePocs=8");
    }
    EXPECT_GE(failed, 1u);
}

// Whole streams of every coding structure the reference encoder makes (tiles, wavefronts,
// dependent slices, long-term references, CRA with skipped RASL pictures) mark no picture.
TEST(PipelineDamagedPictures, NoPictureOfAnIntactReferenceStreamIsMarked)
{
    const std::vector<testing::ReferenceStream> streams = testing::readReferenceStreamManifest();
    ASSERT_FALSE(streams.empty());
    for (const testing::ReferenceStream& reference : streams) {
        SCOPED_TRACE(reference.file);
        testing::ScratchDirectory scratch;
        // The demuxer knows an elementary stream by its extension.
        std::filesystem::copy_file(testing::referenceStreams() / reference.file, scratch / "stream.hevc");
        const Analysed analysed = analyse(scratch / "stream.hevc", scratch / "cache", AnalysisMode::BoundedStructure);
        for (const auto& [identity, picture] : analysed.pictures) {
            EXPECT_EQ(picture.pictures.at(0).completeness, PictureCompleteness::Complete) << identity;
            for (const analysis::AnalysisErrorInfo& error : picture.errors) {
                EXPECT_FALSE(error.code.starts_with("analyzer.picture_")) << error.code << " " << error.detail;
            }
        }
    }
}

// FFmpeg may still output a picture whose packet it rejected: the picture whose slices lay in
// the packet's bytes is marked failed and named once, whatever else its packets did.
TEST(PipelineDamagedPictures, APictureWhosePacketWasRejectedIsMarkedFailedOnce)
{
    analysis::StreamAnalysis document;
    document.id = analysis::StableId{1, 2};
    const auto addPicture = [&](std::uint64_t identity, std::int64_t decodeIndex, std::uint64_t sliceOffset) {
        analysis::PictureAnalysisSummary picture;
        picture.id = analysis::StableId{10, identity};
        picture.pictureId = identity;
        picture.decodeIndex = decodeIndex;
        picture.completeness = PictureCompleteness::Partial;
        document.pictures.push_back(picture);
        analysis::NalUnitInfo nal;
        nal.id = analysis::StableId{20, identity};
        nal.kind = analysis::NalUnitKind::Slice;
        nal.byteOffset = sliceOffset;
        nal.byteSize = 100;
        nal.byteSpanReliable = true;
        nal.pictureId = identity;
        document.nalUnits.push_back(nal);
    };
    addPicture(7, 2, 1200);
    addPicture(8, 3, 1500);
    const std::vector<RejectedPacket> packets{{3, 1000, 500, -22}, {4, 1100, 200, -22}, {5, std::nullopt, 0, -22}};

    recordRejectedPackets(document, packets);

    std::vector<std::string> codes;
    for (const analysis::AnalysisErrorInfo& error : document.errors) {
        codes.push_back(error.code);
    }
    EXPECT_EQ(codes, (std::vector<std::string>{"analyzer.packet_rejected", "analyzer.picture_rejected",
                                               "analyzer.packet_rejected", "analyzer.packet_rejected"}));
    const analysis::AnalysisErrorInfo& issue = document.errors[1];
    EXPECT_EQ(issue.relatedObjectId, document.pictures[0].id);
    EXPECT_EQ(issue.detail, "pictureId=7; decodeIndex=2; packetIndex=3");
    EXPECT_EQ(issue.errorValue, 3u);
    EXPECT_FALSE(document.errors[0].relatedObjectId.has_value());
    EXPECT_EQ(document.pictures[0].completeness, PictureCompleteness::Failed);
    // The packet's bytes end where the second picture's slice begins.
    EXPECT_EQ(document.pictures[1].completeness, PictureCompleteness::Partial);
}

}  // namespace
}  // namespace vexilo::analyzer
