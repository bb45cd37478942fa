#include "vexilo/analysis/AnalysisCodec.h"

#include "CodecDocumentTestSupport.h"
#include "ValidationTestDocument.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace vexilo::analysis::codec_test {
namespace {

// Set to rewrite the reader fuzzer's seed corpus from the documents below.
constexpr const char* kWriteSeedsVariable = "VEXILO_WRITE_FUZZ_SEEDS";

std::filesystem::path seedDirectory()
{
    return std::filesystem::path(VEXILO_ANALYSIS_FUZZ_CORPUS_DIR) / "fuzz_read_stream_analysis";
}

std::vector<std::pair<std::string, StreamAnalysis>> seedDocuments()
{
    StreamAnalysis everyRootField = validation_test::makeValidDocument();
    everyRootField.errors.front().detail = "detail";
    everyRootField.errors.front().errorValue = 7;
    return {{"minimal.vxsa", minimalDocument()},
            {"every_collection.vxsa", validation_test::makeValidDocument()},
            {"every_root_field.vxsa", everyRootField}};
}

// Buffers that aim many entries at one table, for the fuzzer to grow from.
std::vector<std::pair<std::string, std::vector<std::uint8_t>>> aliasedSeeds()
{
    return {{"aliased_layer_sets.vxsa", sharedLayerSetBuffer(64)},
            {"aliased_layer_sets_padded.vxsa", sharedLayerSetBuffer(64, 64 * kSmallestTableFootprintBytes)},
            {"aliased_parameter_sets.vxsa", sharedParameterSetBuffer(3)},
            {"aliased_parameter_sets_padded.vxsa", sharedParameterSetBuffer(64, 64 * kSmallestTableFootprintBytes)}};
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(FuzzSeedCorpus, SeedsAreReadableDocuments)
{
    const bool rewrite = std::getenv(kWriteSeedsVariable) != nullptr;
    if (rewrite) {
        std::filesystem::create_directories(seedDirectory());
    }
    for (const auto& [name, document] : seedDocuments()) {
        SCOPED_TRACE(name);
        const std::filesystem::path path = seedDirectory() / name;
        if (rewrite) {
            writeFile(path, serializeOrFail(document));
        }
        // Seeds must stay documents the reader accepts; they need not match today's
        // generator byte for byte.
        const StreamAnalysis seed = readOrFail(readFile(path));
        EXPECT_FALSE(seed.sourceFingerprint.empty());
    }
}

TEST(FuzzSeedCorpus, AliasedSeedsAreRefused)
{
    for (const auto& [name, bytes] : aliasedSeeds()) {
        SCOPED_TRACE(name);
        const std::filesystem::path path = seedDirectory() / name;
        if (std::getenv(kWriteSeedsVariable) != nullptr) {
            writeFile(path, bytes);
        }
        const std::vector<std::uint8_t> seed = readFile(path);
        ASSERT_FALSE(seed.empty());
        const AnalysisReadResult read = readStreamAnalysis(seed);
        const auto* error = std::get_if<AnalysisReadError>(&read);
        ASSERT_NE(error, nullptr);
        EXPECT_TRUE(error->status == AnalysisReadStatus::MalformedBuffer ||
                    error->status == AnalysisReadStatus::ValidationFailed)
            << error->message;
    }
}

}  // namespace
}  // namespace vexilo::analysis::codec_test
