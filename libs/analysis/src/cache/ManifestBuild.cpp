#include "vexilo/analysis/cache/CacheManifest.h"

#include "vexilo/analysis/StreamAnalysis.h"

namespace vexilo::analysis {
namespace {

constexpr std::string_view kIndexMagicText = "VexiloAnalysisCacheIndex";
constexpr std::uint64_t kIndexSchemaVersion = 1;

void appendIndexMember(std::string& out, std::string_view key, std::string_view valueText,
                       bool last = false)
{
    out += "  \"";
    out += key;
    out += "\": ";
    out += valueText;
    out += last ? "\n" : ",\n";
}

std::string jsonQuoted(std::string_view text)
{
    std::string quoted;
    quoted += '"';
    quoted += escapeJsonString(text);
    quoted += '"';
    return quoted;
}

}  // namespace

CacheManifest buildCacheManifest(const StreamAnalysis& analysis)
{
    CacheManifest manifest;
    manifest.sourceFingerprint = analysis.sourceFingerprint;
    manifest.pictures.reserve(analysis.pictures.size());
    for (const PictureAnalysisSummary& summary : analysis.pictures) {
        manifest.pictures.push_back(ManifestPictureEntry{
            summary.id, manifest.picturesDir / pictureCacheFileName(summary.id)});
    }
    return manifest;
}

std::string serializeIndexJson(const StreamAnalysis& analysis, const CacheManifest& manifest)
{
    return serializeIndexJson(analysis, manifest,
                              IndexBlockCounts{analysis.ctus.size(), analysis.cus.size(), analysis.pus.size(),
                                               analysis.tus.size()});
}

std::string serializeIndexJson(const StreamAnalysis& analysis, const CacheManifest& manifest,
                               const IndexBlockCounts& blocks)
{
    std::string out = "{\n";
    appendIndexMember(out, "magic", jsonQuoted(kIndexMagicText));
    appendIndexMember(out, "schema_version", std::to_string(kIndexSchemaVersion));
    appendIndexMember(out, "source_fingerprint", jsonQuoted(analysis.sourceFingerprint));
    appendIndexMember(out, "picture_count", std::to_string(manifest.pictures.size()));
    appendIndexMember(out, "nal_count", std::to_string(analysis.nalUnits.size()));
    appendIndexMember(out, "slice_count", std::to_string(analysis.slices.size()));
    appendIndexMember(out, "ctu_count", std::to_string(blocks.ctus));
    appendIndexMember(out, "cu_count", std::to_string(blocks.cus));
    appendIndexMember(out, "pu_count", std::to_string(blocks.pus));
    appendIndexMember(out, "tu_count", std::to_string(blocks.tus), /*last=*/true);
    out += "}\n";
    return out;
}

}  // namespace vexilo::analysis
