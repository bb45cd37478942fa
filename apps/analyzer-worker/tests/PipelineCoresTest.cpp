// The pass spreads its work over the cores it may use (the decoder's frame threads, pictures
// read back beside the one being made, checksums beside the writer): what it writes must not
// depend on how many there are, for a clean stream and for a damaged one, whose rejected
// packets a threaded decoder would be quick to name wrongly.
#include "PipelineTestSupport.h"
#include "pipeline/AnalysisPipeline.h"

#include "vexilo/test/OneCorePin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace vexilo::analyzer {
namespace {

using Bytes = std::vector<char>;
using CacheFiles = std::map<std::string, Bytes>;

Bytes fileBytes(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Every file of the cache directory but the stamp (which holds the time the source was read)
// and the writer's lock file, by path within the directory.
CacheFiles cacheFiles(const std::filesystem::path& directory)
{
    CacheFiles files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && !name.starts_with(".") && name != "source.stamp") {
            files.emplace(std::filesystem::relative(entry.path(), directory).string(), fileBytes(entry.path()));
        }
    }
    return files;
}

struct Pass {
    AnalyzerRunResult result;
    std::size_t framesDelivered = 0;
    CacheFiles files;
};

Pass runPass(const std::filesystem::path& clip, const std::filesystem::path& cacheRoot)
{
    Pass pass;
    CancelRequest cancel;
    pass.result = analyzeHevcToMetadata(clip, cacheRoot, cancel, AnalysisMode::BoundedStructure, 0,
                                        [&pass](domain::PictureInfo, domain::VideoFrame) {
                                            ++pass.framesDelivered;
                                            return true;
                                        });
    pass.files = cacheFiles(cacheRoot);
    return pass;
}

// The slice NAL units of an Annex-B stream, as [begin, end) byte ranges of their payloads.
std::vector<std::pair<std::size_t, std::size_t>> sliceNalUnitSpans(const Bytes& stream)
{
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at + 3 < stream.size(); ++at) {
        if (stream[at] == 0 && stream[at + 1] == 0 && stream[at + 2] == 1) {
            starts.push_back(at + 3);
        }
    }
    std::vector<std::pair<std::size_t, std::size_t>> slices;
    for (std::size_t index = 0; index < starts.size(); ++index) {
        const std::size_t end = index + 1 < starts.size() ? starts[index + 1] - 3 : stream.size();
        const auto nalType = (static_cast<unsigned char>(stream[starts[index]]) >> 1U) & 0x3FU;
        if (nalType < 32 && end > starts[index] + 24) {
            slices.emplace_back(starts[index], end);
        }
    }
    return slices;
}

// A copy of the stream with one slice header garbled, one slice's data flipped and one slice
// cut short: packets the decoder rejects, at places a threaded decoder reports late.
Bytes damagedWithinCopy(Bytes stream)
{
    const auto slices = sliceNalUnitSpans(stream);
    EXPECT_GT(slices.size(), 20U);
    const auto [garbled, garbledEnd] = slices[5];
    std::fill(stream.begin() + static_cast<std::ptrdiff_t>(garbled + 2),
              stream.begin() + static_cast<std::ptrdiff_t>(garbled + 24), static_cast<char>(0xFF));
    const auto [flipped, flippedEnd] = slices[11];
    for (std::size_t at = flipped + 16; at < flippedEnd; at += 7) {
        stream[at] = static_cast<char>(stream[at] ^ 0x5A);
    }
    const auto [cut, cutEnd] = slices[17];
    stream.erase(stream.begin() + static_cast<std::ptrdiff_t>((cut + cutEnd) / 2),
                 stream.begin() + static_cast<std::ptrdiff_t>(cutEnd));
    return stream;
}

// A copy whose last slices are damaged, the last one cut off as in a file copied in part: damage
// that a threaded decoder reports only while it is flushed.
Bytes damagedAtTheEndCopy(Bytes stream)
{
    const auto slices = sliceNalUnitSpans(stream);
    EXPECT_GT(slices.size(), 3U);
    const auto [garbled, garbledEnd] = slices[slices.size() - 3];
    std::fill(stream.begin() + static_cast<std::ptrdiff_t>(garbled + 2),
              stream.begin() + static_cast<std::ptrdiff_t>(garbled + 24), static_cast<char>(0xFF));
    const auto [last, lastEnd] = slices.back();
    stream.resize(last + (lastEnd - last) / 3);
    return stream;
}

std::size_t rejectedPackets(const std::filesystem::path& cacheRoot)
{
    const auto stream = testing::readCachedStreamOnly(cacheRoot);
    const auto* document = std::get_if<analysis::StreamAnalysis>(&stream);
    if (document == nullptr) {
        ADD_FAILURE() << std::get<std::string>(stream);
        return 0;
    }
    return static_cast<std::size_t>(std::count_if(
        document->errors.begin(), document->errors.end(),
        [](const analysis::AnalysisErrorInfo& error) { return error.code == "analyzer.packet_rejected"; }));
}

// Returns the packets the decoder rejected.
std::size_t expectSamePass(const std::filesystem::path& clip)
{
    testing::ScratchDirectory scratch;
    const Pass everyCore = runPass(clip, scratch / "every-core");
    const Pass oneCore = [&] {
        const vexilo::test::OneCorePin pin;
        return runPass(clip, scratch / "one-core");
    }();
    EXPECT_TRUE(everyCore.result.succeeded) << everyCore.result.code << ": " << everyCore.result.detail;
    EXPECT_TRUE(oneCore.result.succeeded) << oneCore.result.code << ": " << oneCore.result.detail;
    EXPECT_EQ(everyCore.framesDelivered, oneCore.framesDelivered);
    EXPECT_FALSE(everyCore.files.empty());
    std::vector<std::string> differing;
    for (const auto& [path, bytes] : everyCore.files) {
        const auto other = oneCore.files.find(path);
        if (other == oneCore.files.end() || other->second != bytes) {
            differing.push_back(path);
        }
    }
    EXPECT_EQ(everyCore.files.size(), oneCore.files.size());
    EXPECT_EQ(differing, std::vector<std::string>{});
    return rejectedPackets(scratch / "one-core");
}

class PipelineCores : public ::testing::TestWithParam<const char*> {};

TEST_P(PipelineCores, OneCoreAndEveryCoreWriteTheSameCacheForACleanAndADamagedStream)
{
    const std::filesystem::path clip = testing::testMedia(GetParam());
    {
        SCOPED_TRACE("clean");
        EXPECT_EQ(expectSamePass(clip), 0U);
    }
    for (const auto& [name, damage] : {std::pair{"damaged within", &damagedWithinCopy},
                                       std::pair{"damaged at the end", &damagedAtTheEndCopy}}) {
        SCOPED_TRACE(name);
        testing::ScratchDirectory scratch;
        const std::filesystem::path damaged = scratch / "damaged.hevc";
        const Bytes bytes = damage(fileBytes(clip));
        std::ofstream(damaged, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        EXPECT_GT(expectSamePass(damaged), 0U);
    }
}

INSTANTIATE_TEST_SUITE_P(Clips, PipelineCores,
                         ::testing::Values("observer_open_gop_pyramid.hevc", "main_420_8bit_gop8.hevc"),
                         testing::clipTestName);

}  // namespace
}  // namespace vexilo::analyzer
