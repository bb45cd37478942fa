// The documents the blocks pass writes for every reference stream and a set of generated ones,
// pinned by digests of what the cache reader gives back: a change to how the pass builds,
// splits or writes them must leave every record, id and value as it was. Every one of these
// streams is intact, so the same pass also shows that no picture of any coding structure (tiles,
// wavefronts, dependent slices, long-term references, CRA with skipped RASL pictures, pictures
// never output) is marked, and that no block is reported without its picture.
#include "PipelineTestSupport.h"
#include "pipeline/AnalysisPipeline.h"

#include <QCryptographicHash>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vexilo::analyzer {
namespace {

using testing::ScratchDirectory;

// What one stream's cache reads back to. The source digest says which bytes were analysed: a
// generated stream that an encoder made differently has other documents, and is not compared.
struct StreamDigests {
    std::string stream;
    std::string sourceDigest;
    std::string streamDocument;
    std::vector<std::string> pictureDocuments;
};

const std::vector<StreamDigests> kPinnedDigests{
#include "CacheDocumentDigests.inc"
};

constexpr char kWriteDigestsVariable[] = "VEXILO_WRITE_DIGESTS";
// A picture's digest is cut to 64 bits: enough to tell which one changed.
constexpr std::size_t kPictureDigestHexDigits = 16;
constexpr std::size_t kPictureDigestsPerLine = 4;
constexpr char kInputPlaceholder[] = "<input>";

// Generated streams the worker's other tests decode, small enough to analyse in a second under
// the sanitizers: each chroma format and bit depth, B pyramids and open GOPs, slices, wavefront,
// lossless, odd sizes and an MP4 container.
constexpr std::array kGeneratedStreams{
    "main_420_8bit_gop8.hevc",
    "main10_420_10bit.hevc",
    "rext_422_10bit.hevc",
    "rext_444_8bit.hevc",
    "mono_400_8bit.hevc",
    "wavefront_slices.hevc",
    "lossless.hevc",
    "amp_weighted_sei.hevc",
    "odd_size_intra.hevc",
    "observer_open_gop_pyramid.hevc",
    "observer_422_12bit.hevc",
    "observer_444_12bit_intra.hevc",
    "observer_tools_420_8bit.hevc",
    "observer_slices_wpp_10bit.hevc",
    "models_bpyramid_420_8bit.hevc",
    "bpyramid_420_8bit.mp4",
};

struct DigestedStream {
    std::string name;
    std::filesystem::path path;
};

void PrintTo(const DigestedStream& stream, std::ostream* os)
{
    *os << stream.name;
}

std::string sha256Hex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().toStdString();
}

std::string fileDigest(const std::filesystem::path& path)
{
    QFile file(QString::fromStdString(path.string()));
    return file.open(QIODevice::ReadOnly) ? sha256Hex(file.readAll()) : std::string();
}

void replaceAll(std::string& text, std::string_view from, std::string_view to)
{
    if (from.empty()) {
        return;
    }
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// Error details name the input as it was given, which depends on where the checkout and the
// generated media lie; everything else in a document follows from the stream's bytes.
analysis::StreamAnalysis withoutRunPaths(analysis::StreamAnalysis document, const std::filesystem::path& input)
{
    for (analysis::AnalysisErrorInfo& error : document.errors) {
        replaceAll(error.detail, input.string(), kInputPlaceholder);
    }
    return document;
}

// The digest of the document's canonical "VXSA" bytes, the serialiser's own order of fields.
// The cache reader has validated the document already, and only error details were changed.
std::string documentDigest(const analysis::StreamAnalysis& document, const std::filesystem::path& input)
{
    const analysis::AnalysisSerializeResult bytes =
        analysis::serializeValidatedStreamAnalysis(withoutRunPaths(document, input));
    if (const auto* error = std::get_if<analysis::AnalysisReadError>(&bytes)) {
        ADD_FAILURE() << "document does not serialise: " << error->message;
        return {};
    }
    const auto& buffer = std::get<std::vector<std::uint8_t>>(bytes);
    return sha256Hex(QByteArray(reinterpret_cast<const char*>(buffer.data()), static_cast<qsizetype>(buffer.size())));
}

// Blocks of pictures that are decoded but never output (pic_output_flag 0) belong to no picture
// of the document: they are left out, not reported as blocks without identity.
void expectIntactStream(const analysis::StreamAnalysis& document)
{
    for (const analysis::AnalysisErrorInfo& error : document.errors) {
        EXPECT_FALSE(error.code.ends_with("_identity")) << error.code << " " << error.detail;
    }
}

void expectIntactPicture(const analysis::StreamAnalysis& document)
{
    ASSERT_EQ(document.pictures.size(), 1u);
    EXPECT_EQ(document.pictures.front().completeness, analysis::PictureCompleteness::Complete)
        << document.pictures.front().pictureId.value_or(0);
    for (const analysis::AnalysisErrorInfo& error : document.errors) {
        EXPECT_FALSE(error.relatedObjectId) << error.code << " " << error.detail;
    }
}

// The stream document and every picture document of a written cache, in manifest order, each
// checked as a document of an intact stream.
StreamDigests digestIntactCache(const std::string& stream, const std::filesystem::path& input,
                                const std::filesystem::path& cacheRoot)
{
    StreamDigests digests{stream, fileDigest(input), {}, {}};
    const auto manifest = analysis::openAnalysisCache(cacheRoot);
    if (const auto* error = std::get_if<analysis::CacheError>(&manifest)) {
        ADD_FAILURE() << "manifest: " << error->message;
        return digests;
    }
    const auto& opened = std::get<analysis::CacheManifest>(manifest);
    const auto document = analysis::readCachedStream(cacheRoot, opened);
    if (const auto* error = std::get_if<analysis::CacheError>(&document)) {
        ADD_FAILURE() << "stream document: " << error->message;
        return digests;
    }
    expectIntactStream(std::get<analysis::StreamAnalysis>(document));
    digests.streamDocument = documentDigest(std::get<analysis::StreamAnalysis>(document), input);
    for (const analysis::ManifestPictureEntry& entry : opened.pictures) {
        const auto picture = analysis::readCachedPictureFromManifest(cacheRoot, opened, entry);
        if (const auto* error = std::get_if<analysis::CacheError>(&picture)) {
            ADD_FAILURE() << "picture " << entry.path << ": " << error->message;
            digests.pictureDocuments.emplace_back();
            continue;
        }
        expectIntactPicture(std::get<analysis::StreamAnalysis>(picture));
        digests.pictureDocuments.push_back(
            documentDigest(std::get<analysis::StreamAnalysis>(picture), input).substr(0, kPictureDigestHexDigits));
    }
    return digests;
}

const StreamDigests* pinnedDigestsOf(const std::string& stream)
{
    const auto found = std::find_if(kPinnedDigests.begin(), kPinnedDigests.end(),
                                    [&](const StreamDigests& pinned) { return pinned.stream == stream; });
    return found == kPinnedDigests.end() ? nullptr : &*found;
}

std::string inQuotes(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

std::string tableEntry(const StreamDigests& digests)
{
    std::ostringstream entry;
    entry << "{" << inQuotes(digests.stream) << ",\n " << inQuotes(digests.sourceDigest) << ",\n "
          << inQuotes(digests.streamDocument) << ",\n {";
    for (std::size_t index = 0; index < digests.pictureDocuments.size(); ++index) {
        const bool lineStart = index % kPictureDigestsPerLine == 0;
        entry << (index == 0 ? "" : ",") << (lineStart ? "\n  " : " ") << inQuotes(digests.pictureDocuments[index]);
    }
    entry << "}},\n";
    return entry.str();
}

constexpr char kTableHeader[] =
    "// Digests of the documents the analysis cache of each stream reads back to, written by\n"
    "// CacheDocumentDigestsTest.cpp: the stream's file, its stream document, and each picture\n"
    "// document in manifest order (SHA-256 of the re-serialised \"VXSA\" bytes, the input path in\n"
    "// error details replaced; pictures cut to 64 bits). To write it again from a build's pass, in\n"
    "// the checkout, with the worker's test program of that build:\n"
    "//   export VEXILO_WRITE_DIGESTS=$PWD/apps/analyzer-worker/tests/CacheDocumentDigests.inc\n"
    "//   BUILD/apps/analyzer-worker/analyzer_worker_tests --gtest_filter='*CacheDocumentDigests*'\n"
    "// Streams left out of the run keep their entries.\n";

class CacheDocumentDigests : public ::testing::TestWithParam<DigestedStream> {
public:
    // Every suite's digests go to the file the environment names, beside the pinned entries of
    // streams this run did not analyse.
    static void TearDownTestSuite()
    {
        const QByteArray target = qgetenv(kWriteDigestsVariable);
        if (target.isEmpty()) {
            return;
        }
        std::map<std::string, StreamDigests> table;
        for (const StreamDigests& pinned : kPinnedDigests) {
            table[pinned.stream] = pinned;
        }
        for (const auto& [stream, digests] : computed()) {
            table[stream] = digests;
        }
        std::ofstream out(target.toStdString(), std::ios::binary | std::ios::trunc);
        out << kTableHeader;
        for (const auto& [stream, digests] : table) {
            out << tableEntry(digests);
        }
    }

protected:
    static std::map<std::string, StreamDigests>& computed()
    {
        static std::map<std::string, StreamDigests> digests;
        return digests;
    }
};

// Each run analyses its own copy under a new name, so that a digest that took in where the
// stream lies cannot be pinned in the first place.
std::filesystem::path copiedInto(const ScratchDirectory& scratch, const std::filesystem::path& stream)
{
    const std::filesystem::path copy = scratch / "input" / stream.filename();
    std::filesystem::create_directory(copy.parent_path());
    std::filesystem::copy_file(stream, copy);
    return copy;
}

void expectSamePictures(const std::vector<std::string>& actual, const std::vector<std::string>& pinned)
{
    ASSERT_EQ(actual.size(), pinned.size()) << "picture documents in the manifest";
    for (std::size_t index = 0; index < actual.size(); ++index) {
        EXPECT_EQ(actual[index], pinned[index]) << "picture document " << index << " of the manifest";
    }
}

TEST_P(CacheDocumentDigests, CacheOfAnIntactStreamReadsBackToThePinnedDocuments)
{
    const DigestedStream& stream = GetParam();
    const ScratchDirectory scratch(testing::memoryBackedTemporaryDirectory());
    const std::filesystem::path input = copiedInto(scratch, stream.path);
    CancelRequest cancel;
    const AnalyzerRunResult result =
        analyzeHevcToMetadata(input, scratch / "cache", cancel, AnalysisMode::BoundedStructure, 0, {});
    ASSERT_TRUE(result.succeeded) << result.code << ": " << result.detail;
    const StreamDigests actual = digestIntactCache(stream.name, input, scratch / "cache");
    computed()[stream.name] = actual;
    if (qEnvironmentVariableIsSet(kWriteDigestsVariable)) {
        return;
    }

    const StreamDigests* pinned = pinnedDigestsOf(stream.name);
    ASSERT_NE(pinned, nullptr) << stream.name << " has no pinned digests; write the table with "
                               << kWriteDigestsVariable;
    if (actual.sourceDigest != pinned->sourceDigest) {
        GTEST_SKIP() << stream.name << " was generated with other bytes than those whose documents are pinned";
    }
    EXPECT_EQ(actual.streamDocument, pinned->streamDocument) << "stream document";
    expectSamePictures(actual.pictureDocuments, pinned->pictureDocuments);
}

std::string testNameOf(const std::string& stream)
{
    std::string name = stream;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
    return name;
}

std::vector<DigestedStream> digestedReferenceStreams()
{
    std::vector<DigestedStream> streams;
    for (const testing::ReferenceStream& stream : testing::readReferenceStreamManifest()) {
        streams.push_back({stream.file, testing::referenceStreams() / stream.file});
    }
    return streams;
}

std::vector<DigestedStream> digestedGeneratedStreams()
{
    std::vector<DigestedStream> streams;
    for (const char* name : kGeneratedStreams) {
        streams.push_back({name, testing::testMedia(name)});
    }
    return streams;
}

const auto kTestName = [](const ::testing::TestParamInfo<DigestedStream>& testCase) {
    return testNameOf(testCase.param.name);
};

INSTANTIATE_TEST_SUITE_P(HmStreams, CacheDocumentDigests, ::testing::ValuesIn(digestedReferenceStreams()), kTestName);
INSTANTIATE_TEST_SUITE_P(GeneratedStreams, CacheDocumentDigests, ::testing::ValuesIn(digestedGeneratedStreams()),
                         kTestName);

}  // namespace
}  // namespace vexilo::analyzer
