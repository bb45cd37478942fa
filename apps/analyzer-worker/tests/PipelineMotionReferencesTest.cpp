// What the picture documents say about inter prediction on real streams: the merge flag a
// skipped CU implies without coding it, and the status of every picture a prediction unit
// refers to, on clean streams and on a copy that lost one reference picture.
#include "PipelineTestSupport.h"
#include "pipeline/AnalysisPipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

namespace vexilo::analyzer {
namespace {

using analysis::ReferenceStatus;
using testing::ScratchDirectory;

void runBoundedStructure(const std::filesystem::path& input, const std::filesystem::path& cacheRoot)
{
    CancelRequest cancel;
    const AnalyzerRunResult result =
        analyzeHevcToMetadata(input, cacheRoot, cancel, AnalysisMode::BoundedStructure, 0, {});
    ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
}

// One reference of a prediction unit or motion vector, as the documents hold it.
struct ReferenceUse {
    std::int32_t poc = 0;
    ReferenceStatus status = ReferenceStatus::Unknown;
};

struct MotionFacts {
    std::size_t skippedCuPus = 0;
    std::size_t skippedCuPusWithMergeFlag = 0;
    std::size_t skippedCuPusWithSignaledMergeFlag = 0;
    std::size_t codedMergeFlags = 0;
    std::vector<ReferenceUse> references;
    std::size_t referencesWithoutStatus = 0;
    std::map<std::int64_t, std::int32_t> pocByDecodeIndex;
};

void collectReference(MotionFacts& facts, const std::optional<std::int8_t>& index,
                      const std::optional<std::int32_t>& poc, const std::optional<ReferenceStatus>& status)
{
    if (!index) {
        return;
    }
    if (!poc || !status) {
        ++facts.referencesWithoutStatus;
        return;
    }
    facts.references.push_back({*poc, *status});
}

void collectPicture(MotionFacts& facts, const analysis::StreamAnalysis& document)
{
    for (const analysis::PictureAnalysisSummary& picture : document.pictures) {
        if (picture.decodeIndex && picture.poc) {
            facts.pocByDecodeIndex[*picture.decodeIndex] = *picture.poc;
        }
    }
    std::unordered_set<analysis::StableId, analysis::StableIdHash> skippedCus;
    for (const analysis::CuInfo& cu : document.cus) {
        if (cu.skip.value_or(false)) {
            skippedCus.insert(cu.id);
        }
    }
    for (const analysis::PuInfo& pu : document.pus) {
        if (skippedCus.contains(pu.parentCuId)) {
            ++facts.skippedCuPus;
            facts.skippedCuPusWithMergeFlag += pu.mergeFlag == std::optional<bool>(true) ? 1U : 0U;
            facts.skippedCuPusWithSignaledMergeFlag += pu.signaledMergeFlag.has_value() ? 1U : 0U;
        } else if (pu.signaledMergeFlag) {
            ++facts.codedMergeFlags;
            EXPECT_EQ(pu.signaledMergeFlag, pu.mergeFlag);
        }
        collectReference(facts, pu.refIdxL0, pu.refPocL0, pu.refStatusL0);
        collectReference(facts, pu.refIdxL1, pu.refPocL1, pu.refStatusL1);
    }
    for (const analysis::MotionVectorInfo& mv : document.motionVectors) {
        collectReference(facts, mv.referenceIndex, mv.referencePoc, mv.referenceStatus);
    }
}

MotionFacts motionFactsOf(const std::filesystem::path& input)
{
    ScratchDirectory cache;
    MotionFacts facts;
    runBoundedStructure(input, cache.path());
    testing::forEachCachedPicture(cache.path(),
                                  [&](const analysis::StreamAnalysis& document) { collectPicture(facts, document); });
    return facts;
}

std::size_t countStatus(const MotionFacts& facts, ReferenceStatus status)
{
    return static_cast<std::size_t>(std::count_if(facts.references.begin(), facts.references.end(),
                                                  [&](const ReferenceUse& use) { return use.status == status; }));
}

struct CleanStream {
    const char* name;
    std::filesystem::path input;
    bool hasSkippedCus;
};

void PrintTo(const CleanStream& c, std::ostream* os) { *os << c.name; }

class CleanStreamMotion : public ::testing::TestWithParam<CleanStream> {};

TEST_P(CleanStreamMotion, SkippedCusMergeAndEveryReferenceIsAvailable)
{
    const MotionFacts facts = motionFactsOf(GetParam().input);
    if (GetParam().hasSkippedCus) {
        EXPECT_GT(facts.skippedCuPus, 0U);
    }
    EXPECT_EQ(facts.skippedCuPusWithMergeFlag, facts.skippedCuPus);
    EXPECT_EQ(facts.skippedCuPusWithSignaledMergeFlag, 0U);
    EXPECT_GT(facts.codedMergeFlags, 0U);

    ASSERT_FALSE(facts.references.empty());
    EXPECT_EQ(facts.referencesWithoutStatus, 0U);
    EXPECT_EQ(countStatus(facts, ReferenceStatus::Available), facts.references.size());
}

INSTANTIATE_TEST_SUITE_P(
    Streams, CleanStreamMotion,
    ::testing::Values(
        CleanStream{"HmRandomAccessWavefront", testing::referenceStreams() / "s06_ra_wavefront.bit", true},
        CleanStream{"HmLongTermReference", testing::referenceStreams() / "s09_ldp_long_term_ref.bit", true},
        CleanStream{"HmListModification", testing::referenceStreams() / "s10_ra_ref_list_modification.bit", true},
        CleanStream{"HmLeadingPictures", testing::referenceStreams() / "s01_ra_gop8_cra_rasl_vui.bit", true},
        CleanStream{"X265BPyramid", testing::testMedia("models_bpyramid_420_8bit.hevc"), true},
        CleanStream{"X265OpenGop", testing::testMedia("observer_open_gop_pyramid.hevc"), true}),
    [](const ::testing::TestParamInfo<CleanStream>& test) { return std::string(test.param.name); });

// Annex-B NAL units with their start codes, in stream order.
std::vector<std::string> annexBNalUnits(const std::string& bytes)
{
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i + 3 <= bytes.size(); ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            // A four-byte start code keeps its leading zero with the unit it opens.
            starts.push_back(i > 0 && bytes[i - 1] == 0 ? i - 1 : i);
            i += 2;
        }
    }
    std::vector<std::string> units;
    for (std::size_t n = 0; n < starts.size(); ++n) {
        const std::size_t end = n + 1 < starts.size() ? starts[n + 1] : bytes.size();
        units.push_back(bytes.substr(starts[n], end - starts[n]));
    }
    return units;
}

// Copies `input` without the slice segments of the picture at `dropDecodeIndex` (decode
// order), as if the network had lost that picture.
void writeWithoutPicture(const std::filesystem::path& input, std::int64_t dropDecodeIndex,
                         const std::filesystem::path& output)
{
    std::ifstream in(input, std::ios::binary | std::ios::ate);
    std::string bytes(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0).read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::ofstream out(output, std::ios::binary);
    std::int64_t picture = -1;
    for (const std::string& unit : annexBNalUnits(bytes)) {
        const std::size_t header = unit.find('\1') + 1;
        ASSERT_LT(header + 2, unit.size());
        const unsigned type = (static_cast<unsigned char>(unit[header]) >> 1U) & 0x3FU;
        const bool vcl = type < 32;
        if (vcl && (static_cast<unsigned char>(unit[header + 2]) & 0x80U) != 0) {
            ++picture; // first_slice_segment_in_pic_flag
        }
        if (!(vcl && picture == dropDecodeIndex)) {
            out.write(unit.data(), static_cast<std::streamsize>(unit.size()));
        }
    }
}

struct LostPicture {
    const char* name;
    std::filesystem::path input;
    std::int64_t decodeIndex;
};

void PrintTo(const LostPicture& c, std::ostream* os) { *os << c.name; }

class LostReferencePicture : public ::testing::TestWithParam<LostPicture> {};

TEST_P(LostReferencePicture, ReferencesToItAreUnavailableAndTheOthersAvailable)
{
    const LostPicture& c = GetParam();
    const MotionFacts clean = motionFactsOf(c.input);
    ASSERT_EQ(clean.pocByDecodeIndex.count(c.decodeIndex), 1U);
    const std::int32_t lostPoc = clean.pocByDecodeIndex.at(c.decodeIndex);

    ScratchDirectory inputs;
    const std::filesystem::path damaged = inputs / "lost_picture.hevc";
    writeWithoutPicture(c.input, c.decodeIndex, damaged);
    const MotionFacts facts = motionFactsOf(damaged);
    EXPECT_EQ(facts.pocByDecodeIndex.size() + 1, clean.pocByDecodeIndex.size());

    std::size_t toLost = 0;
    for (const ReferenceUse& use : facts.references) {
        if (use.poc == lostPoc) {
            ++toLost;
            EXPECT_EQ(use.status, ReferenceStatus::Unavailable) << "reference to POC " << use.poc;
        } else {
            EXPECT_EQ(use.status, ReferenceStatus::Available) << "reference to POC " << use.poc;
        }
    }
    EXPECT_GT(toLost, 0U) << "no prediction unit referred to the lost POC " << lostPoc;
    EXPECT_EQ(facts.referencesWithoutStatus, 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, LostReferencePicture,
    ::testing::Values(
        // POC 1 of a low-delay P stream, which every following picture predicts from.
        LostPicture{"HmLowDelayP", testing::referenceStreams() / "s26_ldp_ctu32_mincu16_confwin_checksum.bit", 1},
        // The first P picture of an x265 B pyramid: the B pictures before it in output order
        // predict from it as well.
        LostPicture{"X265BPyramid", testing::testMedia("models_bpyramid_420_8bit.hevc"), 1}),
    [](const ::testing::TestParamInfo<LostPicture>& test) { return std::string(test.param.name); });

} // namespace
} // namespace vexilo::analyzer
