#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/domain/PictureInfo.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace vexilo::application {

// Which project picture each of the analyzer's decode-picture ids names. The GUI thread binds
// pictures as the index grows; the repository's job threads read it to make a loaded document
// final before it is frozen and shared, so no one downstream has to copy it to rewrite it.
class PictureIdentityMap {
public:
    void bind(domain::PictureId picture, std::uint64_t decodeId);
    void clear();
    [[nodiscard]] std::optional<std::uint64_t> decodeIdOf(domain::PictureId picture) const;

    // Every decode-picture reference of the picture's document becomes the project picture id it
    // names; one that names no project picture is left absent. The picture its errors' details
    // name is rewritten alike.
    void rewritePictureIdentities(domain::PictureId picture, analysis::StreamAnalysis& document) const;

private:
    mutable std::mutex mutex_;
    std::unordered_map<domain::PictureId, std::uint64_t> decodePictureIds_;
    std::unordered_map<std::uint64_t, domain::PictureId> projectPictureOfDecodeId_;
};

}  // namespace vexilo::application
