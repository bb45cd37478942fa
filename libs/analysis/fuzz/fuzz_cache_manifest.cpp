// Feeds arbitrary text to the manifest parser and the path checks. Short inputs
// are also run through the regular expressions the scanner replaces; any
// disagreement is a finding.

#include "vexilo/analysis/cache/CacheManifest.h"
#include "vexilo/analysis/cache/CachePaths.h"

#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <string_view>

namespace {

using namespace vexilo::analysis;

// The standard engine recurses per character; keep it well within its stack.
constexpr std::size_t kOracleInputLimit = 1024;

std::optional<std::string> regexStringField(const std::string& text)
{
    static const std::regex pattern("\"stream\"\\s*:\\s*\"([^\"]*)\"");
    std::smatch match;
    return std::regex_search(text, match, pattern) ? std::optional<std::string>(match[1].str())
                                                   : std::nullopt;
}

std::optional<std::string> regexNumberDigits(const std::string& text)
{
    static const std::regex pattern("\"picture_count\"\\s*:\\s*(\\d+)");
    std::smatch match;
    return std::regex_search(text, match, pattern) ? std::optional<std::string>(match[1].str())
                                                   : std::nullopt;
}

std::optional<std::uint64_t> toNumber(const std::optional<std::string>& digits)
{
    if (!digits) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char digit : *digits) {
        const auto next = static_cast<std::uint64_t>(digit - '0');
        if (value > (~std::uint64_t{0} - next) / 10) {
            return std::nullopt;
        }
        value = value * 10 + next;
    }
    return value;
}

std::size_t regexEntryCount(const std::string& text)
{
    static const std::regex pattern(
        "\\{\\s*\"stable_id_high\"\\s*:\\s*(\\d+)\\s*,\\s*\"stable_id_low\"\\s*:\\s*(\\d+)\\s*,"
        "\\s*\"path\"\\s*:\\s*\"([^\"]*)\"\\s*\\}");
    return static_cast<std::size_t>(std::distance(
        std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator()));
}

void compareWithOracle(const std::string& text, const CacheResult<CacheManifest>& parsed)
{
    if (extractJsonStringField(text, "stream") != regexStringField(text) ||
        extractJsonNumberField(text, "picture_count") != toNumber(regexNumberDigits(text))) {
        std::abort();
    }
    if (const auto* manifest = std::get_if<CacheManifest>(&parsed)) {
        if (manifest->pictures.size() != regexEntryCount(text)) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto parsed = parseManifestJson(text, "manifest.json");
    if (const auto* manifest = std::get_if<CacheManifest>(&parsed)) {
        (void)validateManifestPicturePath("/cache", *manifest);
        (void)serializeManifestJson(*manifest);
    }
    if (size <= kOracleInputLimit) {
        compareWithOracle(text, parsed);
    }
    return 0;
}
