#pragma once

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheError.h"
#include "vexilo/analysis/cache/CacheManifest.h"
#include "vexilo/analysis/cache/PicturePayloadAssembler.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace vexilo::application {

// The manifest and the stream document of one cache directory, read once per analysis
// generation and shared by every picture load of that generation: re-reading them per picture
// made a preload quadratic in the number of pictures.
class CachedStreamSnapshot {
public:
    using Ptr = std::shared_ptr<const CachedStreamSnapshot>;

    // Reads both; `isAbandoned` is asked between the two reads, and an abandoned read yields
    // neither snapshot nor error.
    [[nodiscard]] static analysis::CacheResult<Ptr> load(const std::filesystem::path& directory,
                                                         const std::optional<std::string>& expectedSourceFingerprint,
                                                         std::uint64_t generation,
                                                         const std::function<bool()>& isAbandoned);

    CachedStreamSnapshot(std::filesystem::path directory, std::uint64_t generation,
                         analysis::CacheManifest manifest, analysis::StreamAnalysis stream);

    CachedStreamSnapshot(const CachedStreamSnapshot&) = delete;
    CachedStreamSnapshot& operator=(const CachedStreamSnapshot&) = delete;

    // Whether a load of this generation, directory and expected source may use this snapshot.
    [[nodiscard]] bool serves(const std::filesystem::path& directory,
                              const std::optional<std::string>& expectedSourceFingerprint,
                              std::uint64_t generation) const;

    // The picture's document checked as the cache reader checks it, merged with as much of the
    // stream's as `extent` asks for.
    [[nodiscard]] analysis::CacheResult<analysis::StreamAnalysis>
    readPicturePayload(const analysis::ManifestPictureEntry& entry,
                       analysis::PayloadExtent extent = analysis::PayloadExtent::Complete) const;

    [[nodiscard]] const analysis::CacheManifest& manifest() const { return manifest_; }
    [[nodiscard]] const analysis::StreamAnalysis& stream() const { return *stream_; }
    // The stream document as everyone downstream shares it: this snapshot's own, never a copy.
    [[nodiscard]] const std::shared_ptr<const analysis::StreamAnalysis>& sharedStream() const { return stream_; }

private:
    std::filesystem::path directory_;
    std::uint64_t generation_;
    analysis::CacheManifest manifest_;
    std::shared_ptr<const analysis::StreamAnalysis> stream_;
    // Position of each picture's entry in the manifest: a path copy per picture cost megabytes on
    // a long stream.
    std::unordered_map<analysis::StableId, std::size_t, analysis::StableIdHash> pictureEntries_;
    analysis::PicturePayloadAssembler assembler_;
};

}  // namespace vexilo::application
