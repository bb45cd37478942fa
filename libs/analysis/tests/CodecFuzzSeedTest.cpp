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
    return std::filesystem::path(__FILE__).parent_path().parent_path() / "fuzz" / "corpus" /
           "fuzz_read_stream_analysis";
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

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
            const std::vector<std::uint8_t> bytes = serializeOrFail(document);
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        // Seeds must stay documents the reader accepts; they need not match today's
        // generator byte for byte.
        const StreamAnalysis seed = readOrFail(readFile(path));
        EXPECT_FALSE(seed.sourceFingerprint.empty());
    }
}

}  // namespace
}  // namespace vexilo::analysis::codec_test
