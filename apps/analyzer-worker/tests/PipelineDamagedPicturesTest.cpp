// Damage that the decoder passes over without a word must still reach the document: a picture
// whose slices stop short, one whose packet FFmpeg rejected, and those predicted from a picture
// that was lost are each marked in their summary and named by an issue in their own document.
#include "PipelineTestSupport.h"
#include "builder/StreamAnalysisBuilder.h"
#include "pipeline/AnalysisPipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
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

// Damaged copies of reference streams, one damage each: every frame FFmpeg puts out is a
// picture of the document, with the decode index and POC the reference decoder gives it, but
// for the one damaged, which is partial and named by an error of its own; the pictures decoded
// before it stay whole and unnamed.
struct DamagedCopy {
    const char* name;
    const char* stream;
    // Among the stream's slice NAL units; from the end when negative.
    int slice;
    Bytes (*damage)(Bytes stream, std::pair<std::size_t, std::size_t> slice);
    std::int64_t damagedDecodeIndex;
    // The slice header could not be read, so nothing says the picture's POC.
    bool pocUnknown = false;
};

Bytes withSliceHeaderBitFlipped(Bytes stream, std::pair<std::size_t, std::size_t> slice)
{
    // A bit FFmpeg reads past but that leaves the header misaligned for the syntax parser.
    stream[slice.first + 4] ^= static_cast<char>(0x10);
    return stream;
}

Bytes withSliceDataFlipped(Bytes stream, std::pair<std::size_t, std::size_t> slice)
{
    const std::size_t from = slice.first + (slice.second - slice.first) / 3;
    for (std::size_t i = from; i < from + 4; ++i) {
        stream[i] ^= static_cast<char>(0x5A);
    }
    return stream;
}

Bytes withSliceDuplicated(Bytes stream, std::pair<std::size_t, std::size_t> slice)
{
    Bytes copy{'\0', '\0', '\1'};
    copy.insert(copy.end(), stream.begin() + static_cast<std::ptrdiff_t>(slice.first),
                stream.begin() + static_cast<std::ptrdiff_t>(slice.second));
    stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(slice.second), copy.begin(), copy.end());
    return stream;
}

Bytes withSliceDropped(Bytes stream, std::pair<std::size_t, std::size_t> slice)
{
    stream.erase(stream.begin() + static_cast<std::ptrdiff_t>(slice.first - 3),
                 stream.begin() + static_cast<std::ptrdiff_t>(slice.second));
    return stream;
}

Bytes cutInsideSlice(Bytes stream, std::pair<std::size_t, std::size_t> slice)
{
    stream.resize(slice.first + (slice.second - slice.first) / 2);
    return stream;
}

void PrintTo(const DamagedCopy& copy, std::ostream* out) { *out << copy.name; }

class PipelineDamagedCopies : public ::testing::TestWithParam<DamagedCopy> {};

TEST_P(PipelineDamagedCopies, EveryPictureFFmpegPutsOutIsDescribedAndTheDamagedOneIsNamed)
{
    const DamagedCopy& damaged = GetParam();
    const std::vector<testing::ReferenceStream> streams = testing::readReferenceStreamManifest();
    const auto reference = std::find_if(streams.begin(), streams.end(),
                                        [&](const auto& stream) { return stream.file == damaged.stream; });
    ASSERT_NE(reference, streams.end());
    const Bytes original = readStream(testing::referenceStreams() / damaged.stream);
    const auto units = sliceNalUnits(original);
    const std::size_t slice =
        damaged.slice >= 0 ? static_cast<std::size_t>(damaged.slice) : units.size() - static_cast<std::size_t>(-damaged.slice);
    ASSERT_LT(slice, units.size());
    testing::ScratchDirectory scratch;
    writeStream(scratch / "damaged.hevc", damaged.damage(original, units[slice]));
    const std::optional<std::vector<std::int64_t>> ffmpegFrames = testing::ffmpegOutputPts(scratch / "damaged.hevc");
    ASSERT_TRUE(ffmpegFrames);
    ASSERT_EQ(ffmpegFrames->size(), reference->pocDecodeOrder.size());

    const Analysed analysed = analyse(scratch / "damaged.hevc", scratch / "cache", AnalysisMode::BoundedStructure);
    const std::vector<analysis::PictureAnalysisSummary> output = testing::outputPictures(analysed.stream);
    ASSERT_EQ(output.size(), ffmpegFrames->size());
    std::size_t named = 0;
    for (std::size_t display = 0; display < output.size(); ++display) {
        const analysis::PictureAnalysisSummary& summary = output[display];
        SCOPED_TRACE(pictureNamed(summary));
        EXPECT_EQ(summary.displayIndex, static_cast<std::int64_t>(display));
        ASSERT_TRUE(summary.decodeIndex);
        const auto decodeIndex = static_cast<std::size_t>(*summary.decodeIndex);
        ASSERT_LT(decodeIndex, reference->pocDecodeOrder.size());
        const bool isDamaged = *summary.decodeIndex == damaged.damagedDecodeIndex;
        if (isDamaged && damaged.pocUnknown) {
            EXPECT_FALSE(summary.poc);
        } else {
            EXPECT_EQ(summary.poc, reference->pocDecodeOrder[decodeIndex]);
        }
        const analysis::StreamAnalysis& picture = analysed.pictures.at(summary.pictureId.value_or(0));
        const std::string name = pictureNamed(summary);
        std::size_t ownErrors = 0;
        for (const analysis::AnalysisErrorInfo& error : picture.errors) {
            EXPECT_EQ(error.relatedObjectId, summary.id) << error.code;
            EXPECT_NE(error.detail.find(name.substr(0, name.size() - 2)), std::string::npos)
                << error.code << ": " << error.detail;
            ownErrors += error.errorFlag ? 1U : 0U;
        }
        if (isDamaged) {
            ++named;
            EXPECT_EQ(summary.completeness, PictureCompleteness::Partial);
            EXPECT_GE(ownErrors, 1u);
        } else if (*summary.decodeIndex < damaged.damagedDecodeIndex) {
            EXPECT_EQ(summary.completeness, PictureCompleteness::Complete);
            EXPECT_EQ(ownErrors, 0u);
        }
    }
    EXPECT_EQ(named, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    ReferenceStreams, PipelineDamagedCopies,
    ::testing::Values(
        DamagedCopy{"SliceHeaderRefused", "s20_ldb_amp_tmvp_off.bit", 1, withSliceHeaderBitFlipped, 1, true},
        // The CRA picture: its RASL pictures are still decoded, as FFmpeg decodes them.
        DamagedCopy{"IrapSliceHeaderRefused", "s01_ra_gop8_cra_rasl_vui.bit", 1, withSliceHeaderBitFlipped, 1, true},
        DamagedCopy{"SliceDataFlipped", "s20_ldb_amp_tmvp_off.bit", 2, withSliceDataFlipped, 2},
        DamagedCopy{"SliceDuplicated", "s07_ldb_slices_ctu_dependent_segments_aud.bit", 2, withSliceDuplicated, 0},
        DamagedCopy{"SliceDropped", "s07_ldb_slices_ctu_dependent_segments_aud.bit", 2, withSliceDropped, 0},
        DamagedCopy{"LastAccessUnitCut", "s20_ldb_amp_tmvp_off.bit", -1, cutInsideSlice, 5}),
    [](const ::testing::TestParamInfo<DamagedCopy>& copy) { return std::string(copy.param.name); });

// FFmpeg may still output a picture whose packet it rejected: the picture whose slices lay in
// the packet's bytes is marked partial and named once, whatever else its packets did.
TEST(PipelineDamagedPictures, APictureWhosePacketWasRejectedIsMarkedPartialOnce)
{
    analysis::StreamAnalysis document;
    document.id = analysis::StableId{1, 2};
    const auto addPicture = [&](std::uint64_t identity, std::int64_t decodeIndex, std::uint64_t sliceOffset) {
        analysis::PictureAnalysisSummary picture;
        picture.id = analysis::StableId{10, identity};
        picture.pictureId = identity;
        picture.decodeIndex = decodeIndex;
        picture.completeness = PictureCompleteness::Complete;
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
    EXPECT_EQ(document.pictures[0].completeness, PictureCompleteness::Partial);
    // The packet's bytes end where the second picture's slice begins.
    EXPECT_EQ(document.pictures[1].completeness, PictureCompleteness::Complete);
}

}  // namespace
}  // namespace vexilo::analyzer
