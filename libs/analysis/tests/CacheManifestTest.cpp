#include "vexilo/analysis/cache/CacheManifest.h"
#include "vexilo/analysis/cache/CachePaths.h"

#include "CacheTestSupport.h"
#include "cache/ManifestScanner.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

// GCC 12 reports a false maybe-uninitialized inside libstdc++'s regex compiler; clang has no
// such warning and would report the unknown name instead.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>

namespace vexilo::analysis {
namespace {

using cachetest::errorOf;
using cachetest::expectError;
using cachetest::valueOf;
using Kind = CacheErrorKind;
using namespace std::string_view_literals;

constexpr const char* kOnePictureManifest =
    "{\n"
    "  \"magic\": \"VexiloAnalysisCacheManifest\",\n"
    "  \"container_version\": 3,\n"
    "  \"schema_version\": 1,\n"
    "  \"minimum_reader_version\": 1,\n"
    "  \"endianness\": \"little\",\n"
    "  \"source_fingerprint\": \"sha256:ab\",\n"
    "  \"stream\": \"stream.vxmeta\",\n"
    "  \"index\": \"index.vxidx\",\n"
    "  \"pictures_dir\": \"pictures\",\n"
    "  \"picture_count\": 1,\n"
    "  \"pictures\": [\n"
    "    { \"stable_id_high\": 171, \"stable_id_low\": 205, \"path\": "
    "\"pictures/00000000000000ab-00000000000000cd.vxpic\" }\n"
    "  ]\n"
    "}\n";

CacheManifest onePictureManifest()
{
    CacheManifest manifest;
    manifest.sourceFingerprint = "sha256:ab";
    manifest.pictures.push_back({StableId{0xab, 0xcd}, std::filesystem::path("pictures") /
                                                           pictureCacheFileName({0xab, 0xcd})});
    return manifest;
}

// A manifest text around the given picture lines, with a settable count.
std::string manifestText(const std::string& pictureLines, const std::string& count,
                         const std::string& extra = "")
{
    return "{\n  \"magic\": \"VexiloAnalysisCacheManifest\",\n  \"container_version\": 3,\n"
           "  \"schema_version\": 1,\n  \"minimum_reader_version\": 1,\n" +
           extra +
           "  \"source_fingerprint\": \"sha256:ab\",\n  \"stream\": \"stream.vxmeta\",\n"
           "  \"index\": \"index.vxidx\",\n  \"pictures_dir\": \"pictures\",\n"
           "  \"picture_count\": " +
           count + ",\n  \"pictures\": [\n" + pictureLines + "  ]\n}\n";
}

std::string entryLine(const std::string& high, const std::string& low, const std::string& path)
{
    return "    { \"stable_id_high\": " + high + ", \"stable_id_low\": " + low + ", \"path\": \"" +
           path + "\" }\n";
}

TEST(CacheManifestTextTest, WritesTheManifestByteForByte)
{
    EXPECT_EQ(serializeManifestJson(onePictureManifest()), kOnePictureManifest);
    EXPECT_EQ(valueOf(parseManifestJson(kOnePictureManifest, "manifest.json")),
              onePictureManifest());
}

TEST(CacheManifestTextTest, EmptyManifestHasFourteenLinesAndRoundTrips)
{
    const std::string text = serializeManifestJson(CacheManifest{});
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 14);
    EXPECT_TRUE(text.ends_with("  \"picture_count\": 0,\n  \"pictures\": [\n  ]\n}\n")) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(valueOf(parseManifestJson(text, "m")), CacheManifest{});
}

TEST(CacheManifestTextTest, EntriesAreSeparatedByCommasButTheLast)
{
    CacheManifest manifest;
    manifest.pictures = {
        {StableId{0, 1}, "pictures/0000000000000000-0000000000000001.vxpic"},
        {StableId{~0ULL, ~0ULL}, "pictures/ffffffffffffffff-ffffffffffffffff.vxpic"}};
    const std::string text = serializeManifestJson(manifest);
    EXPECT_NE(text.find("\"stable_id_low\": 1, \"path\": "
                        "\"pictures/0000000000000000-0000000000000001.vxpic\" },\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"stable_id_low\": 18446744073709551615, \"path\": "
                        "\"pictures/ffffffffffffffff-ffffffffffffffff.vxpic\" }\n  ]"),
              std::string::npos)
        << text;
    EXPECT_EQ(valueOf(parseManifestJson(text, "m")), manifest);
}

TEST(CacheManifestTextTest, BuildsEntriesFromPictureSummariesInOrder)
{
    const StreamAnalysis analysis = cachetest::makeAnalysis(3, false);
    const CacheManifest manifest = buildCacheManifest(analysis);
    EXPECT_EQ(manifest.sourceFingerprint, cachetest::kFingerprintA);
    ASSERT_EQ(manifest.pictures.size(), 3u);
    for (std::size_t index = 0; index < 3; ++index) {
        EXPECT_EQ(manifest.pictures[index].stableId, analysis.pictures[index].id);
    }
    EXPECT_EQ(manifest.pictures[1].path.generic_string(),
              "pictures/0000000000000009-0000000000000002.vxpic");
    EXPECT_EQ(pictureCacheFileName({0, 1}), "0000000000000000-0000000000000001.vxpic");
}

TEST(CacheManifestTextTest, WritesTheIndexByteForByte)
{
    StreamAnalysis analysis = cachetest::makeAnalysis(2, true);
    const std::string expected = "{\n"
                                 "  \"magic\": \"VexiloAnalysisCacheIndex\",\n"
                                 "  \"schema_version\": 1,\n"
                                 "  \"source_fingerprint\": \"" +
                                 cachetest::kFingerprintA +
                                 "\",\n"
                                 "  \"picture_count\": 2,\n"
                                 "  \"nal_count\": 6,\n"
                                 "  \"slice_count\": 2,\n"
                                 "  \"ctu_count\": 2,\n"
                                 "  \"cu_count\": 4,\n"
                                 "  \"pu_count\": 2,\n"
                                 "  \"tu_count\": 4\n"
                                 "}\n";
    EXPECT_EQ(serializeIndexJson(analysis, buildCacheManifest(analysis)), expected);
}

TEST(CacheManifestTextTest, EscapesOnlyTheFiveCharacters)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},
        {"a\tb", "a\\tb"},
        {"a\nb", "a\\nb"},
        {"a\rb", "a\\rb"},
        {"a\"b", "a\\\"b"},
        {"a\\b", "a\\\\b"},
        {std::string("\x01\x1f\x7f\x80\xff", 5), std::string("\x01\x1f\x7f\x80\xff", 5)},
        {"/", "/"},
    };
    for (const auto& [input, escaped] : cases) {
        EXPECT_EQ(escapeJsonString(input), escaped);
    }
}

TEST(CacheManifestTextTest, ABackslashedFingerprintDoesNotComeBackEqual)
{
    CacheManifest manifest;
    manifest.sourceFingerprint = "sha256:a\\b";
    EXPECT_EQ(valueOf(parseManifestJson(serializeManifestJson(manifest), "m")).sourceFingerprint,
              "sha256:a\\\\b");
}

struct ParseCase {
    const char* name;
    std::string text;
    bool accepted;
    Kind kind;
    const char* message;
};

class CacheManifestParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(CacheManifestParseTest, AcceptsOrRefuses)
{
    const auto result = parseManifestJson(GetParam().text, "dir/manifest.json");
    if (GetParam().accepted) {
        EXPECT_FALSE(isCacheError(result)) << errorOf(result).message;
        return;
    }
    const CacheError error = errorOf(result);
    expectError(error, GetParam().kind, GetParam().message);
    EXPECT_EQ(error.path, "dir/manifest.json");
}

const std::string kEntry = entryLine("1", "2", "pictures/a.vxpic");
const std::string kTwoEntries =
    entryLine("1", "2", "pictures/a.vxpic") + entryLine("3", "4", "pictures/b.vxpic");
constexpr auto kMissing = "manifest payload is missing required fields";
constexpr auto kVersion = "manifest payload version is not supported";
constexpr auto kCountMismatch = "manifest picture count does not match picture entries";

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    text.replace(text.find(from), from.size(), to);
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CacheManifestParseTest,
    ::testing::Values(
        ParseCase{"two entries", manifestText(kTwoEntries, "2"), true, Kind::io_error, ""},
        ParseCase{"no magic", replaced(manifestText("", "0"), "\"magic\"", "\"magik\""), false,
                  Kind::malformed_manifest, "manifest payload magic mismatch"},
        ParseCase{"other magic",
                  replaced(manifestText("", "0"), "VexiloAnalysisCacheManifest",
                           "VexiloAnalysisCacheIndex"),
                  false, Kind::malformed_manifest, "manifest payload magic mismatch"},
        ParseCase{"empty text", "", false, Kind::malformed_manifest,
                  "manifest payload magic mismatch"},
        ParseCase{"missing stream", replaced(manifestText("", "0"), "\"stream\"", "\"strem\""),
                  false, Kind::malformed_manifest, kMissing},
        ParseCase{"count overflows", manifestText("", "18446744073709551616"), false,
                  Kind::malformed_manifest, kMissing},
        ParseCase{"count as string", manifestText("", "\"0\""), false, Kind::malformed_manifest,
                  kMissing},
        ParseCase{"negative count", manifestText("", "-1"), false, Kind::malformed_manifest,
                  kMissing},
        ParseCase{
            "container version 2",
            replaced(manifestText("", "0"), "\"container_version\": 3", "\"container_version\": 2"),
            false, Kind::unsupported_version, kVersion},
        ParseCase{
            "container version 4",
            replaced(manifestText("", "0"), "\"container_version\": 3", "\"container_version\": 4"),
            false, Kind::unsupported_version, kVersion},
        ParseCase{"schema version 0",
                  replaced(manifestText("", "0"), "\"schema_version\": 1", "\"schema_version\": 0"),
                  true, Kind::io_error, ""},
        ParseCase{"minimum reader 2",
                  replaced(manifestText("", "0"), "\"minimum_reader_version\": 1",
                           "\"minimum_reader_version\": 2"),
                  false, Kind::unsupported_version, kVersion},
        ParseCase{"count over limit", manifestText("", "100000001"), false, Kind::resource_limit,
                  "manifest picture count exceeds configured limit"},
        ParseCase{"count at limit but no entries", manifestText("", "100000000"), false,
                  Kind::malformed_manifest, kCountMismatch},
        ParseCase{"two entries, count 3", manifestText(kTwoEntries, "3"), false,
                  Kind::malformed_manifest, kCountMismatch},
        ParseCase{"high is 2^64",
                  manifestText(entryLine("18446744073709551616", "0", "pictures/a.vxpic"), "1"),
                  false, Kind::malformed_manifest, "manifest picture stable id is malformed"},
        ParseCase{"high is 2^64-1",
                  manifestText(entryLine("18446744073709551615", "0", "pictures/a.vxpic"), "1"),
                  true, Kind::io_error, ""},
        ParseCase{
            "other key order is skipped",
            manifestText("    { \"stable_id_low\": 2, \"stable_id_high\": 1, \"path\": \"p\" }\n",
                         "0"),
            true, Kind::io_error, ""},
        ParseCase{
            "extra member is skipped",
            manifestText(
                "    { \"stable_id_high\": 1, \"stable_id_low\": 2, \"path\": \"p\", \"x\": 1 }\n",
                "1"),
            false, Kind::malformed_manifest, kCountMismatch},
        ParseCase{
            "first key wins",
            replaced(manifestText("", "0"), "\"magic\"", "\"container_version\": 9, \"magic\""),
            false, Kind::unsupported_version, kVersion}),
    cachetest::caseName<ParseCase>);

TEST(CacheManifestParseTest, FirstOccurrenceOfAKeyWins)
{
    const std::string text = manifestText(kEntry, "1", "  \"stream\": \"first.vxmeta\",\n");
    EXPECT_EQ(valueOf(parseManifestJson(text, "m")).streamPath, "first.vxmeta");
}

// The scanner must agree with the patterns it replaces; std::regex is the oracle on
// inputs short enough for its recursion.
class ManifestScannerOracle {
public:
    static std::optional<std::string> stringField(const std::string& text, const std::string& key)
    {
        std::smatch match;
        if (std::regex_search(text, match, compiled("\"" + key + "\"\\s*:\\s*\"([^\"]*)\""))) {
            return match[1].str();
        }
        return std::nullopt;
    }

    static std::optional<std::string> numberDigits(const std::string& text, const std::string& key)
    {
        std::smatch match;
        if (std::regex_search(text, match, compiled("\"" + key + "\"\\s*:\\s*(\\d+)"))) {
            return match[1].str();
        }
        return std::nullopt;
    }

    static std::vector<std::string> entries(const std::string& text)
    {
        static const std::regex pattern(
            "\\{\\s*\"stable_id_high\"\\s*:\\s*(\\d+)\\s*,\\s*\"stable_id_low\"\\s*:\\s*(\\d+)\\s*,"
            "\\s*\"path\"\\s*:\\s*\"([^\"]*)\"\\s*\\}");
        std::vector<std::string> found;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
             it != std::sregex_iterator(); ++it) {
            found.push_back((*it)[1].str() + "|" + (*it)[2].str() + "|" + (*it)[3].str());
        }
        return found;
    }

private:
    static const std::regex& compiled(const std::string& pattern)
    {
        static std::map<std::string, std::regex> cache;
        auto found = cache.find(pattern);
        if (found == cache.end()) {
            found = cache.emplace(pattern, std::regex(pattern)).first;
        }
        return found->second;
    }
};

std::vector<std::string> scannedEntries(const std::string& text)
{
    std::vector<std::string> found;
    manifestscan::forEachPictureEntry(text, [&](const manifestscan::PictureEntryMatch& match) {
        found.push_back(std::string(match.highDigits) + "|" + std::string(match.lowDigits) + "|" +
                        std::string(match.path));
        return true;
    });
    return found;
}

std::optional<std::string> asString(std::optional<std::string_view> view)
{
    return view ? std::optional<std::string>(std::string(*view)) : std::nullopt;
}

void expectScannerAgrees(const std::string& text)
{
    SCOPED_TRACE(::testing::PrintToString(text));
    for (const char* key : {"k", "stream", "picture_count"}) {
        EXPECT_EQ(asString(manifestscan::findStringField(text, key)),
                  ManifestScannerOracle::stringField(text, key));
        EXPECT_EQ(asString(manifestscan::findNumberDigits(text, key)),
                  ManifestScannerOracle::numberDigits(text, key));
    }
    EXPECT_EQ(scannedEntries(text), ManifestScannerOracle::entries(text));
}

TEST(ManifestScannerTest, AgreesWithThePatternsOnTheTable)
{
    const std::vector<std::string> table = {
        "",
        "\"k\":\"v\"",
        "\"k\" \t\n\v\f\r: \t\n\v\f\r\"v\"",
        "\"k\":\"\"",
        "\"k\":\"unterminated",
        "\"k\":\"a\\\"b\"",
        "\"k\"  x \"k\": \"second\"",
        "\"k\":\"line\nbreak\"",
        std::string("\"k\":\xc2\xa0\"nbsp is not space\""),
        std::string("\"k\":\"nul\0inside\""sv),
        "\"kk\":\"no\" \"k\":\"yes\"",
        "\"k\":12345",
        "\"k\": 007x",
        "\"k\": -1",
        "\"k\": 1.5e3",
        "\"k\":\"5\"",
        "\"k\":: 1",
        "\"stream\": \"s\", \"picture_count\": 18446744073709551616",
        "{\"stable_id_high\":1,\"stable_id_low\":2,\"path\":\"p\"}",
        "{ \"stable_id_high\" : 1 , \"stable_id_low\" : 2 , \"path\" : \"p\" }",
        "{\n\"stable_id_high\":\v1\f,\r\"stable_id_low\":2,\"path\":\"\"\t}",
        "{{\"stable_id_high\":1,\"stable_id_low\":2,\"path\":\"p\"}}",
        "{\"stable_id_high\":1,\"stable_id_low\":2,\"path\":\"{\"stable_id_high\":3}\"}",
        "{\"stable_id_high\":1,\"stable_id_low\":2,\"path\":\"p\",}",
        "{\"stable_id_high\":1,\"stable_id_low\":2,\"path\":\"p\"",
        "{\"stable_id_high\":,\"stable_id_low\":2,\"path\":\"p\"}",
        "{\"stable_id_high\":1 2,\"stable_id_low\":2,\"path\":\"p\"}",
        "{\"stable_id_high\":1,\"stable_id_low\":2,\"path\":\"a\"}{\"stable_id_high\":3,\"stable_"
        "id_low\":4,"
        "\"path\":\"b\"}",
        "{\"stable_id_high\":1,\"stable_id_low\":2,\"path\":\"a}\"}",
        serializeManifestJson(onePictureManifest()),
    };
    for (const std::string& text : table) {
        expectScannerAgrees(text);
    }
}

TEST(ManifestScannerTest, AgreesWithThePatternsOnRandomTokenSoup)
{
    const std::vector<std::string> tokens = {
        "{",
        "}",
        "\"",
        ":",
        ",",
        " ",
        "\n",
        "\v",
        "1",
        "99",
        "k",
        "\"k\"",
        "\"stream\"",
        "\"picture_count\"",
        "\"stable_id_high\"",
        "\"stable_id_low\"",
        "\"path\"",
        "x",
        "\\",
        "-",
    };
    std::mt19937 random(20261208);
    std::uniform_int_distribution<std::size_t> pick(0, tokens.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    for (int round = 0; round < 800; ++round) {
        std::string text;
        for (int count = length(random); count > 0; --count) {
            text += tokens[pick(random)];
        }
        expectScannerAgrees(text);
        if (::testing::Test::HasFailure()) {
            break;
        }
    }
}

TEST(ManifestScannerTest, LongValuesAndLargeManifestsScanInLinearTime)
{
    // A regex engine recursing per character overflows its stack on the first of
    // these and takes minutes on the second; the latter is left to the test's time-out,
    // since a loaded machine can stall any fixed bound.
    CacheManifest manifest;
    manifest.sourceFingerprint = std::string(32u << 20, 'f');
    for (std::uint64_t id = 1; id <= 200'000; ++id) {
        manifest.pictures.push_back(
            {StableId{9, id}, std::filesystem::path("pictures") / pictureCacheFileName({9, id})});
    }
    const std::string text = serializeManifestJson(manifest);
    const auto parsed = parseManifestJson(text, "m");
    EXPECT_EQ(valueOf(parsed), manifest);
}

struct PathCase {
    const char* entryPath;
    const char* message;  // empty: accepted
};

TEST(CachePathSafetyTest, JudgesPicturePaths)
{
    const std::vector<PathCase> cases = {
        {"pictures/x.vxpic", ""},
        {"pictures//x.vxpic", ""},
        {"x.vxpic", "manifest picture path must stay under pictures directory"},
        {"pictures/sub/x.vxpic", "manifest picture path must stay under pictures directory"},
        {"other/x.vxpic", "manifest picture path must stay under pictures directory"},
        {"pictures\\x.vxpic", "manifest picture path must stay under pictures directory"},
        {"pictures/x.bin", "manifest picture path must use .vxpic extension"},
        {"pictures/x.vxpic.bak", "manifest picture path must use .vxpic extension"},
        {"pictures/x", "manifest picture path must use .vxpic extension"},
        {"../x.vxpic", "cache manifest contains an unsafe relative path"},
        {"pictures/../pictures/x.vxpic", "cache manifest contains an unsafe relative path"},
        {"pictures/./x.vxpic", "cache manifest contains an unsafe relative path"},
        {"/pictures/x.vxpic", "cache manifest contains an unsafe relative path"},
        {"C:/pictures/x.vxpic", "cache manifest contains an unsafe relative path"},
        {"c:pictures/x.vxpic", "cache manifest contains an unsafe relative path"},
        {"\\\\server\\share\\x.vxpic", "cache manifest contains an unsafe relative path"},
        {"pictures\\..\\..\\x.vxpic", "cache manifest contains an unsafe relative path"},
        {"..\\x.vxpic", "cache manifest contains an unsafe relative path"},
        {"", "cache manifest contains an unsafe relative path"},
    };
    for (const PathCase& item : cases) {
        SCOPED_TRACE(item.entryPath);
        CacheManifest manifest;
        manifest.pictures.push_back({StableId{1, 2}, item.entryPath});
        const auto error = validateManifestPicturePath("/cache", manifest);
        if (std::string_view(item.message).empty()) {
            EXPECT_FALSE(error) << error->message;
            continue;
        }
        ASSERT_TRUE(error);
        expectError(*error, Kind::invalid_path, item.message);
        EXPECT_EQ(error->path, std::filesystem::path("/cache") / item.entryPath);
    }
}

TEST(CachePathSafetyTest, JudgesTheNamedFilesFirst)
{
    const std::vector<std::filesystem::path CacheManifest::*> members = {
        &CacheManifest::streamPath, &CacheManifest::indexPath, &CacheManifest::picturesDir};
    for (const auto member : members) {
        for (const char* unsafe : {"", "/etc/passwd", "..", "a/../b", "D:\\x", "a\\..\\b"}) {
            CacheManifest manifest;
            manifest.pictures.push_back({StableId{1, 2}, "../evil.vxpic"});
            manifest.*member = unsafe;
            const auto error = validateManifestPicturePath("/cache", manifest);
            ASSERT_TRUE(error) << unsafe;
            expectError(*error, Kind::invalid_path, "manifest contains an unsafe relative path");
            EXPECT_EQ(error->path, std::filesystem::path("/cache") / unsafe);
        }
    }
    EXPECT_TRUE(isSafeRelativePath("a name with spaces:and colons.vxmeta"));
    EXPECT_TRUE(isSafeRelativePath("..."));
    const CacheError unsafe = errorOf(resolveCacheRelativePath("/cache", "../x"));
    expectError(unsafe, Kind::invalid_path, "cache manifest contains an unsafe relative path");
    EXPECT_EQ(valueOf(resolveCacheRelativePath("/cache", "pictures/x.vxpic")),
              "/cache/pictures/x.vxpic");
}

}  // namespace
}  // namespace vexilo::analysis
