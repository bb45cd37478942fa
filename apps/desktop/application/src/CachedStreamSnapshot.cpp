#include "CachedStreamSnapshot.h"

#include "vexilo/analysis/cache/CacheReader.h"

#include <utility>

namespace vexilo::application {

using analysis::CacheError;
using analysis::CacheManifest;
using analysis::CacheResult;
using analysis::ManifestPictureEntry;
using analysis::StreamAnalysis;

CacheResult<CachedStreamSnapshot::Ptr>
CachedStreamSnapshot::load(const std::filesystem::path& directory,
                           const std::optional<std::string>& expectedSourceFingerprint, std::uint64_t generation,
                           const std::function<bool()>& isAbandoned)
{
    auto opened = analysis::openAnalysisCache(directory, expectedSourceFingerprint);
    if (auto* error = std::get_if<CacheError>(&opened)) {
        return std::move(*error);
    }
    if (isAbandoned()) {
        return Ptr{};
    }
    auto& manifest = std::get<CacheManifest>(opened);
    auto stream = analysis::readCachedStream(directory, manifest);
    if (auto* error = std::get_if<CacheError>(&stream)) {
        return std::move(*error);
    }
    return std::make_shared<const CachedStreamSnapshot>(directory, generation, std::move(manifest),
                                                        std::move(std::get<StreamAnalysis>(stream)));
}

CachedStreamSnapshot::CachedStreamSnapshot(std::filesystem::path directory, std::uint64_t generation,
                                           CacheManifest manifest, StreamAnalysis stream)
    : directory_(std::move(directory)),
      generation_(generation),
      manifest_(std::move(manifest)),
      stream_(std::make_shared<const StreamAnalysis>(std::move(stream))),
      assembler_(*stream_)
{
    pictureEntries_.reserve(manifest_.pictures.size());
    for (std::size_t position = 0; position < manifest_.pictures.size(); ++position) {
        pictureEntries_.try_emplace(manifest_.pictures[position].stableId, position);
    }
}

bool CachedStreamSnapshot::serves(const std::filesystem::path& directory,
                                  const std::optional<std::string>& expectedSourceFingerprint,
                                  std::uint64_t generation) const
{
    return generation == generation_ && directory == directory_ &&
           (!expectedSourceFingerprint || *expectedSourceFingerprint == manifest_.sourceFingerprint);
}

CacheResult<StreamAnalysis> CachedStreamSnapshot::readPicturePayload(const ManifestPictureEntry& entry,
                                                                     analysis::PayloadExtent extent) const
{
    // The reader checks the entry against the manifest it is given; give it only the entry the
    // manifest lists (or none), so the check is a hash look-up, not a walk over every picture.
    CacheManifest oneEntry;
    oneEntry.sourceFingerprint = manifest_.sourceFingerprint;
    const auto listed = pictureEntries_.find(entry.stableId);
    if (listed != pictureEntries_.end()) {
        oneEntry.pictures.push_back(manifest_.pictures[listed->second]);
    }
    // A picture loaded ahead shows its place in the stream, never its blocks: leaving them
    // unread keeps a dense picture's hundreds of megabytes out of the read-back.
    const analysis::AnalysisReadExtent readExtent = extent == analysis::PayloadExtent::PictureRecords
                                                        ? analysis::AnalysisReadExtent::WithoutBlocks
                                                        : analysis::AnalysisReadExtent::Whole;
    auto picture = analysis::readCachedPictureFromManifest(directory_, oneEntry, entry, readExtent);
    if (auto* error = std::get_if<CacheError>(&picture)) {
        return std::move(*error);
    }
    return assembler_.assemble(std::get<StreamAnalysis>(std::move(picture)), extent);
}

}  // namespace vexilo::application
