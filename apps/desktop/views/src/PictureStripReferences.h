#pragma once

#include "PictureStripTiles.h"

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/domain/PictureInfo.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vexilo {

struct PicturePoc {
    domain::PictureId pictureId = 0;
    std::optional<std::int32_t> poc;
};

struct SlicePicture {
    analysis::StableId sliceId;
    std::optional<domain::PictureId> pictureId;
    std::optional<std::int32_t> poc;
};

inline constexpr std::uint8_t kReferenceListL0 = 1;
inline constexpr std::uint8_t kReferenceListL1 = 2;
inline constexpr std::uint8_t kReferenceStatusAvailable = 1;
inline constexpr std::uint8_t kReferenceStatusCurrent = 4;

struct ReferenceEdge {
    std::optional<domain::PictureId> sourcePictureId;  // the picture holding the referencing slice
    analysis::StableId sliceId;
    std::uint8_t list = 0;  // 0 unknown, 1 L0, 2 L1
    std::optional<std::uint8_t> listIndex;
    std::optional<domain::PictureId> referencedPictureId;
    std::optional<std::int32_t> referencedPoc;
    std::uint8_t status = 0;  // 0 unknown, 1 available, 2 missing, 3 corrupt, 4 current
};

// The reference structure gathered from every per-picture analysis loaded so far. Loading a
// picture again replaces what was known about it. Lookups by picture and POC are indexed
// once after each change, so that painting touches only the edges of the pictures in view.
class PictureStripReferences {
public:
    void merge(const analysis::StreamAnalysis& document);
    void clear();

    [[nodiscard]] const std::vector<ReferenceEdge>& edges() const noexcept { return edges_; }

    // Positions in `edges()`, ascending, of every edge whose source picture or whose target
    // may be one of the tiles at positions [first, last).
    [[nodiscard]] std::vector<std::size_t> edgesTouchingTiles(const PictureStripTiles& tiles, std::size_t first,
                                                              std::size_t last);

    // The tile position an edge points at, if any tile is its target.
    [[nodiscard]] std::optional<std::size_t> targetTileOf(const ReferenceEdge& edge, const PictureStripTiles& tiles);

    // POC of the picture's first gathered picture record: empty when there is none; an
    // empty inner value when that record has no POC.
    [[nodiscard]] std::optional<std::optional<std::int32_t>> pictureRecordPoc(domain::PictureId pictureId);
    // POC of the first gathered slice of the picture, with the same two levels.
    [[nodiscard]] std::optional<std::optional<std::int32_t>> firstSlicePoc(domain::PictureId pictureId);

private:
    using EdgeBuckets = std::unordered_map<std::int64_t, std::vector<std::size_t>>;

    void indexIfNeeded();
    void removePictures(const analysis::StreamAnalysis& document);
    void appendDocument(const analysis::StreamAnalysis& document);

    // Every picture whose records were merged, so that a first merge of one skips the removal.
    std::unordered_set<domain::PictureId> mergedPictures_;
    std::vector<PicturePoc> picturePocs_;
    std::vector<SlicePicture> slicePictures_;
    std::vector<ReferenceEdge> edges_;

    bool indexed_ = true;
    EdgeBuckets edgesBySource_;
    EdgeBuckets edgesByReferencedPicture_;
    EdgeBuckets edgesByReferencedPoc_;
    std::unordered_map<std::int32_t, domain::PictureId> firstPictureByPoc_;
    std::unordered_map<domain::PictureId, std::optional<std::int32_t>> firstPocByPicture_;
    std::unordered_map<domain::PictureId, std::vector<std::int32_t>> pocsByPicture_;
    std::unordered_map<domain::PictureId, std::optional<std::int32_t>> firstSlicePocByPicture_;
};

}  // namespace vexilo
