#include "vexilo/analysis/cache/CacheManifest.h"

#include "cache/ManifestScanner.h"

#include <array>
#include <cstdio>
#include <utility>

namespace vexilo::analysis {
namespace {

constexpr std::string_view kManifestMagicText = "VexiloAnalysisCacheManifest";
constexpr std::uint32_t kManifestContainerVersion = 3;
constexpr std::uint64_t kManifestHighestVersion = 1;

constexpr std::string_view kKeyMagic = "magic";
constexpr std::string_view kKeyContainerVersion = "container_version";
constexpr std::string_view kKeySchemaVersion = "schema_version";
constexpr std::string_view kKeyMinimumReaderVersion = "minimum_reader_version";
constexpr std::string_view kKeySourceFingerprint = "source_fingerprint";
constexpr std::string_view kKeyStream = "stream";
constexpr std::string_view kKeyIndex = "index";
constexpr std::string_view kKeyPicturesDir = "pictures_dir";
constexpr std::string_view kKeyPictureCount = "picture_count";

constexpr const char* kMagicMismatch = "manifest payload magic mismatch";
constexpr const char* kMissingFields = "manifest payload is missing required fields";
constexpr const char* kVersionUnsupported = "manifest payload version is not supported";
constexpr const char* kCountOverLimit = "manifest picture count exceeds configured limit";
constexpr const char* kStableIdMalformed = "manifest picture stable id is malformed";
constexpr const char* kTooManyEntries = "manifest contains too many picture entries";
constexpr const char* kCountMismatch = "manifest picture count does not match picture entries";

// Writes "  "key": " at the start of a member line.
void appendKey(std::string& out, std::string_view indent, std::string_view key)
{
    out += indent;
    out += '"';
    out += key;
    out += "\": ";
}

void appendStringMember(std::string& out, std::string_view key, std::string_view value)
{
    appendKey(out, "  ", key);
    out += '"';
    out += escapeJsonString(value);
    out += "\",\n";
}

void appendNumberMember(std::string& out, std::string_view key, std::uint64_t value,
                        bool last = false)
{
    appendKey(out, "  ", key);
    out += std::to_string(value);
    out += last ? "\n" : ",\n";
}

std::string genericText(const std::filesystem::path& path)
{
    return path.generic_string();
}

void appendPictureEntry(std::string& out, const ManifestPictureEntry& entry, bool last)
{
    out += "    { \"stable_id_high\": ";
    out += std::to_string(entry.stableId.high);
    out += ", \"stable_id_low\": ";
    out += std::to_string(entry.stableId.low);
    out += ", \"path\": \"";
    out += escapeJsonString(genericText(entry.path));
    out += last ? "\" }\n" : "\" },\n";
}

// Text of the header fields of a manifest, as found by the scanner.
struct ManifestFields {
    std::optional<std::uint64_t> containerVersion;
    std::optional<std::uint64_t> schemaVersion;
    std::optional<std::uint64_t> minimumReaderVersion;
    std::optional<std::string> sourceFingerprint;
    std::optional<std::string> stream;
    std::optional<std::string> index;
    std::optional<std::string> picturesDir;
    std::optional<std::uint64_t> pictureCount;

    [[nodiscard]] bool complete() const noexcept
    {
        return containerVersion && schemaVersion && minimumReaderVersion && sourceFingerprint &&
               stream && index && picturesDir && pictureCount;
    }
};

ManifestFields extractManifestFields(std::string_view text)
{
    ManifestFields fields;
    fields.containerVersion = extractJsonNumberField(text, kKeyContainerVersion);
    fields.schemaVersion = extractJsonNumberField(text, kKeySchemaVersion);
    fields.minimumReaderVersion = extractJsonNumberField(text, kKeyMinimumReaderVersion);
    fields.sourceFingerprint = extractJsonStringField(text, kKeySourceFingerprint);
    fields.stream = extractJsonStringField(text, kKeyStream);
    fields.index = extractJsonStringField(text, kKeyIndex);
    fields.picturesDir = extractJsonStringField(text, kKeyPicturesDir);
    fields.pictureCount = extractJsonNumberField(text, kKeyPictureCount);
    return fields;
}

CacheError manifestError(CacheErrorKind kind, const std::filesystem::path& manifestPath,
                         const char* message)
{
    return makeCacheError(kind, std::filesystem::path(manifestPath), std::string(message));
}

OptionalCacheError appendPictureEntries(std::string_view text, CacheManifest& manifest,
                                        const std::filesystem::path& manifestPath)
{
    OptionalCacheError failure;
    manifestscan::forEachPictureEntry(text, [&](const manifestscan::PictureEntryMatch& match) {
        const auto high = manifestscan::parseDecimalU64(match.highDigits);
        const auto low = manifestscan::parseDecimalU64(match.lowDigits);
        if (!high || !low) {
            failure =
                manifestError(CacheErrorKind::malformed_manifest, manifestPath, kStableIdMalformed);
            return false;
        }
        manifest.pictures.push_back(ManifestPictureEntry{
            StableId{*high, *low}, std::filesystem::path(std::string(match.path))});
        if (manifest.pictures.size() > kManifestMaxPictureCount) {
            failure = manifestError(CacheErrorKind::resource_limit, manifestPath, kTooManyEntries);
            return false;
        }
        return true;
    });
    return failure;
}

}  // namespace

std::string pictureCacheFileName(const StableId& id)
{
    std::array<char, 40> name{};
    std::snprintf(name.data(), name.size(), "%016llx-%016llx",
                  static_cast<unsigned long long>(id.high),
                  static_cast<unsigned long long>(id.low));
    return std::string(name.data()) + std::string(kPictureFileExtension);
}

std::string escapeJsonString(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char character : text) {
        switch (character) {
        case '\t': escaped += "\\t"; break;
        case '\n': escaped += "\\n"; break;
        case '\r': escaped += "\\r"; break;
        case '"': escaped += "\\\""; break;
        case '\\': escaped += "\\\\"; break;
        default: escaped += character; break;
        }
    }
    return escaped;
}

std::string serializeManifestJson(const CacheManifest& manifest)
{
    std::string out = "{\n";
    appendStringMember(out, kKeyMagic, kManifestMagicText);
    appendNumberMember(out, kKeyContainerVersion, manifest.containerVersion);
    appendNumberMember(out, kKeySchemaVersion, manifest.schemaVersion);
    appendNumberMember(out, kKeyMinimumReaderVersion, manifest.minimumReaderVersion);
    appendStringMember(out, "endianness", "little");
    appendStringMember(out, kKeySourceFingerprint, manifest.sourceFingerprint);
    appendStringMember(out, kKeyStream, genericText(manifest.streamPath));
    appendStringMember(out, kKeyIndex, genericText(manifest.indexPath));
    appendStringMember(out, kKeyPicturesDir, genericText(manifest.picturesDir));
    appendNumberMember(out, kKeyPictureCount, manifest.pictures.size());
    out += "  \"pictures\": [\n";
    for (std::size_t index = 0; index < manifest.pictures.size(); ++index) {
        appendPictureEntry(out, manifest.pictures[index], index + 1 == manifest.pictures.size());
    }
    out += "  ]\n}\n";
    return out;
}

std::optional<std::string> extractJsonStringField(std::string_view text, std::string_view key)
{
    if (const auto value = manifestscan::findStringField(text, key)) {
        return std::string(*value);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> extractJsonNumberField(std::string_view text, std::string_view key)
{
    if (const auto digits = manifestscan::findNumberDigits(text, key)) {
        return manifestscan::parseDecimalU64(*digits);
    }
    return std::nullopt;
}

CacheResult<CacheManifest> parseManifestJson(std::string_view text,
                                             const std::filesystem::path& manifestPath)
{
    if (extractJsonStringField(text, kKeyMagic) != kManifestMagicText) {
        return manifestError(CacheErrorKind::malformed_manifest, manifestPath, kMagicMismatch);
    }
    ManifestFields fields = extractManifestFields(text);
    if (!fields.complete()) {
        return manifestError(CacheErrorKind::malformed_manifest, manifestPath, kMissingFields);
    }
    if (*fields.containerVersion != kManifestContainerVersion ||
        *fields.schemaVersion > kManifestHighestVersion ||
        *fields.minimumReaderVersion > kManifestHighestVersion) {
        return manifestError(CacheErrorKind::unsupported_version, manifestPath,
                             kVersionUnsupported);
    }
    if (*fields.pictureCount > kManifestMaxPictureCount) {
        return manifestError(CacheErrorKind::resource_limit, manifestPath, kCountOverLimit);
    }

    CacheManifest manifest;
    manifest.containerVersion = kManifestContainerVersion;
    manifest.schemaVersion = static_cast<std::uint32_t>(*fields.schemaVersion);
    manifest.minimumReaderVersion = static_cast<std::uint32_t>(*fields.minimumReaderVersion);
    manifest.sourceFingerprint = std::move(*fields.sourceFingerprint);
    manifest.streamPath = std::filesystem::path(std::move(*fields.stream));
    manifest.indexPath = std::filesystem::path(std::move(*fields.index));
    manifest.picturesDir = std::filesystem::path(std::move(*fields.picturesDir));

    if (auto error = appendPictureEntries(text, manifest, manifestPath)) {
        return std::move(*error);
    }
    if (manifest.pictures.size() != *fields.pictureCount) {
        return manifestError(CacheErrorKind::malformed_manifest, manifestPath, kCountMismatch);
    }
    return manifest;
}

}  // namespace vexilo::analysis
