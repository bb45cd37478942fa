// Each picture's temporal layer, slice type, slice QP and final reference picture lists, as
// the documents hold them, equal what the reference decoder printed while it decoded the
// stream: the check of the slice table and the reference lists on the tools x265 never emits
// (long-term pictures, list modification, tiles, dependent segments, weighted prediction,
// range extensions).
#include "PipelineTestSupport.h"
#include "pipeline/AnalysisPipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace vexilo::analyzer {
namespace {

using testing::ScratchDirectory;

// One picture as a decoder reports it: its temporal layer, the type and QP of its last slice
// and the POCs of its final lists.
struct DecodedPicture {
    std::int32_t poc = 0;
    std::int32_t temporalId = -1;
    char sliceType = '?';
    std::int32_t sliceQp = 0;
    std::vector<std::int32_t> listL0;
    std::vector<std::int32_t> listL1;

    friend bool operator==(const DecodedPicture&, const DecodedPicture&) = default;
};

void PrintTo(const DecodedPicture& picture, std::ostream* os)
{
    const auto printList = [os](const char* name, const std::vector<std::int32_t>& pocs) {
        *os << " [" << name;
        for (const std::int32_t poc : pocs) {
            *os << " " << poc;
        }
        *os << "]";
    };
    *os << "POC " << picture.poc << " TId " << picture.temporalId << " " << picture.sliceType << " QP "
        << picture.sliceQp;
    printList("L0", picture.listL0);
    printList("L1", picture.listL1);
}

std::vector<std::int32_t> pocList(const std::string& text)
{
    std::istringstream words(text);
    std::vector<std::int32_t> pocs;
    for (std::int32_t poc = 0; words >> poc;) {
        pocs.push_back(poc);
    }
    return pocs;
}

// The reference decoder's line per picture put out, in decode order. It writes a picture that
// is not used for reference with a lower-case type; the type is what is compared here. It prints
// every picture it decodes, while the document holds the pictures put out (`outputOrder`).
std::vector<DecodedPicture> hmOutputPictures(const std::filesystem::path& log, std::vector<std::int32_t> outputOrder)
{
    static const std::regex line(
        R"(^POC\s+(-?\d+) TId: (\d+) \( ([IPBipb])-SLICE, QP\s+(-?\d+) \).*\[L0 ([-\d ]*)\] \[L1 ([-\d ]*)\])");
    std::ifstream file(log);
    std::vector<DecodedPicture> pictures;
    for (std::string text; std::getline(file, text);) {
        std::smatch match;
        if (!std::regex_search(text, match, line)) {
            continue;
        }
        DecodedPicture picture;
        picture.poc = std::stoi(match[1]);
        picture.temporalId = std::stoi(match[2]);
        picture.sliceType = static_cast<char>(std::toupper(static_cast<unsigned char>(match[3].str()[0])));
        picture.sliceQp = std::stoi(match[4]);
        picture.listL0 = pocList(match[5]);
        picture.listL1 = pocList(match[6]);
        if (const auto output = std::find(outputOrder.begin(), outputOrder.end(), picture.poc);
            output != outputOrder.end()) {
            outputOrder.erase(output);
            pictures.push_back(std::move(picture));
        }
    }
    return pictures;
}

char sliceTypeLetter(analysis::SliceType type)
{
    switch (type) {
    case analysis::SliceType::I: return 'I';
    case analysis::SliceType::P: return 'P';
    case analysis::SliceType::B: return 'B';
    case analysis::SliceType::Undetermined: break;
    }
    return '?';
}

using ListsBySlice = std::map<analysis::StableId, std::map<std::uint8_t, std::int32_t>>;

// Each slice's list of one kind: the POC at every list index.
ListsBySlice referenceListsBySlice(const analysis::StreamAnalysis& document, analysis::ReferenceList kind)
{
    ListsBySlice lists;
    for (const analysis::ReferencePictureEntry& entry : document.referencePictures) {
        if (entry.list == kind) {
            lists[entry.parentSliceId][entry.listIndex.value_or(0xff)] = entry.poc.value_or(INT32_MIN);
        }
    }
    return lists;
}

std::vector<std::int32_t> listOf(const ListsBySlice& lists, const analysis::StableId& slice)
{
    std::vector<std::int32_t> pocs;
    if (const auto found = lists.find(slice); found != lists.end()) {
        for (const auto& [index, poc] : found->second) {
            pocs.push_back(poc);
        }
    }
    return pocs;
}

std::vector<const analysis::PictureAnalysisSummary*> picturesInDecodeOrder(const analysis::StreamAnalysis& document)
{
    std::vector<const analysis::PictureAnalysisSummary*> pictures;
    for (const analysis::PictureAnalysisSummary& picture : document.pictures) {
        if (picture.decodeIndex && picture.pictureId) {
            pictures.push_back(&picture);
        }
    }
    std::sort(pictures.begin(), pictures.end(),
              [](const auto* left, const auto* right) { return *left->decodeIndex < *right->decodeIndex; });
    return pictures;
}

// The same per picture from the document, pictures in decode order.
std::vector<DecodedPicture> documentPictures(const analysis::StreamAnalysis& document)
{
    std::map<std::uint64_t, const analysis::SliceInfo*> lastSliceOfPicture;
    for (const analysis::SliceInfo& slice : document.slices) {
        if (slice.pictureId) {
            lastSliceOfPicture[*slice.pictureId] = &slice;
        }
    }
    std::map<analysis::StableId, std::int32_t> temporalIdOfNalUnit;
    for (const analysis::NalUnitInfo& nal : document.nalUnits) {
        temporalIdOfNalUnit[nal.id] = nal.temporalId.value_or(-1);
    }
    const ListsBySlice listsL0 = referenceListsBySlice(document, analysis::ReferenceList::L0);
    const ListsBySlice listsL1 = referenceListsBySlice(document, analysis::ReferenceList::L1);
    std::vector<DecodedPicture> decoded;
    for (const analysis::PictureAnalysisSummary* picture : picturesInDecodeOrder(document)) {
        DecodedPicture out;
        out.poc = picture->poc.value_or(INT32_MIN);
        if (const auto found = lastSliceOfPicture.find(*picture->pictureId); found != lastSliceOfPicture.end()) {
            const analysis::SliceInfo& slice = *found->second;
            out.temporalId = temporalIdOfNalUnit[slice.parentNalUnitId];
            out.sliceType = sliceTypeLetter(slice.type);
            out.sliceQp = slice.sliceQp.value_or(INT32_MIN);
            out.listL0 = listOf(listsL0, slice.id);
            out.listL1 = listOf(listsL1, slice.id);
        }
        decoded.push_back(std::move(out));
    }
    return decoded;
}

class PipelineSlicesMatchHm : public ::testing::TestWithParam<testing::ReferenceStream> {};

TEST_P(PipelineSlicesMatchHm, EveryPictureHasTheReferenceDecodersLayerSliceTypeQpAndLists)
{
    const testing::ReferenceStream& stream = GetParam();
    ScratchDirectory scratch;
    CancelRequest cancel;
    const AnalyzerRunResult result = analyzeHevcToMetadata(testing::referenceStreams() / stream.file, scratch / "cache",
                                                           cancel, AnalysisMode::BoundedStructure, 0, {});
    ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
    auto cached = testing::readCachedStreamOnly(scratch / "cache");
    ASSERT_TRUE(std::holds_alternative<analysis::StreamAnalysis>(cached)) << std::get<std::string>(cached);
    // The lists are kept with their pictures' blocks.
    auto& document = std::get<analysis::StreamAnalysis>(cached);
    testing::forEachCachedPicture(scratch / "cache", [&](const analysis::StreamAnalysis& picture) {
        document.referencePictures.insert(document.referencePictures.end(), picture.referencePictures.begin(),
                                          picture.referencePictures.end());
    });

    std::filesystem::path log = testing::referenceStreams() / stream.file;
    log.replace_extension(".hmdec.txt");
    const std::vector<DecodedPicture> expected = hmOutputPictures(log, stream.pocOutputOrder);
    ASSERT_FALSE(expected.empty()) << log;
    EXPECT_EQ(documentPictures(document), expected);
}

INSTANTIATE_TEST_SUITE_P(HmStreams, PipelineSlicesMatchHm, ::testing::ValuesIn(testing::readReferenceStreamManifest()),
                         [](const ::testing::TestParamInfo<testing::ReferenceStream>& testCase) {
                             return testCase.param.file.substr(0, 3);
                         });

}  // namespace
}  // namespace vexilo::analyzer
