#include "PictureStripReferences.h"

#include <algorithm>
#include <unordered_set>

namespace vexilo {
namespace {

using analysis::StableId;
using analysis::StableIdHash;
using domain::PictureId;

// The document counts pictures unsigned; the desktop's ids are the same 64 bits, signed.
std::optional<PictureId> desktopPictureId(const std::optional<std::uint64_t>& documentId) {
    if (!documentId) {
        return std::nullopt;
    }
    return static_cast<PictureId>(*documentId);
}

std::unordered_set<PictureId> picturesOf(const analysis::StreamAnalysis& document) {
    std::unordered_set<PictureId> pictures;
    for (const auto& picture : document.pictures) {
        if (const auto id = desktopPictureId(picture.pictureId)) {
            pictures.insert(*id);
        }
    }
    for (const auto& slice : document.slices) {
        if (const auto id = desktopPictureId(slice.pictureId)) {
            pictures.insert(*id);
        }
    }
    return pictures;
}

template <typename Key>
void appendToBucket(std::unordered_map<std::int64_t, std::vector<std::size_t>>& buckets, Key key,
                    std::size_t position) {
    buckets[static_cast<std::int64_t>(key)].push_back(position);
}

template <typename Key>
void appendBucketTo(std::vector<std::size_t>& positions,
                    const std::unordered_map<std::int64_t, std::vector<std::size_t>>& buckets, Key key) {
    const auto bucket = buckets.find(static_cast<std::int64_t>(key));
    if (bucket != buckets.end()) {
        positions.insert(positions.end(), bucket->second.begin(), bucket->second.end());
    }
}

std::optional<std::optional<std::int32_t>> pocOf(
    const std::unordered_map<PictureId, std::optional<std::int32_t>>& pocs, PictureId pictureId) {
    const auto found = pocs.find(pictureId);
    if (found == pocs.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace

void PictureStripReferences::merge(const analysis::StreamAnalysis& document) {
    removePictures(document);
    appendDocument(document);
    indexed_ = false;
}

void PictureStripReferences::removePictures(const analysis::StreamAnalysis& document) {
    const std::unordered_set<PictureId> pictures = picturesOf(document);
    // A preload brings every picture once: nothing of a picture never merged is there to go,
    // and walking everything merged so far for it would make each merge cost more than the last.
    const bool anyMerged = std::any_of(pictures.begin(), pictures.end(),
                                       [this](PictureId picture) { return mergedPictures_.contains(picture); });
    mergedPictures_.insert(pictures.begin(), pictures.end());
    if (!anyMerged) {
        return;
    }
    const auto isReplaced = [&](const std::optional<PictureId>& id) { return id && pictures.contains(*id); };

    std::unordered_set<StableId, StableIdHash> replacedSlices;
    std::erase_if(slicePictures_, [&](const SlicePicture& slice) {
        if (!isReplaced(slice.pictureId)) {
            return false;
        }
        replacedSlices.insert(slice.sliceId);
        return true;
    });
    std::erase_if(picturePocs_, [&](const PicturePoc& picture) { return pictures.contains(picture.pictureId); });
    std::erase_if(edges_, [&](const ReferenceEdge& edge) {
        return isReplaced(edge.sourcePictureId) || replacedSlices.contains(edge.sliceId);
    });
}

void PictureStripReferences::appendDocument(const analysis::StreamAnalysis& document) {
    for (const auto& picture : document.pictures) {
        if (const auto id = desktopPictureId(picture.pictureId)) {
            picturePocs_.push_back(PicturePoc{*id, picture.poc});
        }
    }
    std::unordered_map<StableId, std::optional<PictureId>, StableIdHash> pictureOfSlice;
    for (const auto& slice : document.slices) {
        slicePictures_.push_back(SlicePicture{slice.id, desktopPictureId(slice.pictureId), slice.poc});
        pictureOfSlice.emplace(slice.id, desktopPictureId(slice.pictureId));
    }
    for (const auto& reference : document.referencePictures) {
        const auto slice = pictureOfSlice.find(reference.parentSliceId);
        edges_.push_back(ReferenceEdge{
            slice == pictureOfSlice.end() ? std::nullopt : slice->second,
            reference.parentSliceId,
            static_cast<std::uint8_t>(reference.list),
            reference.listIndex,
            desktopPictureId(reference.targetPictureId),
            reference.poc,
            static_cast<std::uint8_t>(reference.status),
        });
    }
}

void PictureStripReferences::clear() {
    mergedPictures_.clear();
    picturePocs_.clear();
    slicePictures_.clear();
    edges_.clear();
    indexed_ = false;
}

void PictureStripReferences::indexIfNeeded() {
    if (indexed_) {
        return;
    }
    edgesBySource_.clear();
    edgesByReferencedPicture_.clear();
    edgesByReferencedPoc_.clear();
    firstPictureByPoc_.clear();
    firstPocByPicture_.clear();
    pocsByPicture_.clear();
    firstSlicePocByPicture_.clear();

    for (std::size_t position = 0; position < edges_.size(); ++position) {
        const ReferenceEdge& edge = edges_[position];
        if (edge.sourcePictureId) {
            appendToBucket(edgesBySource_, *edge.sourcePictureId, position);
        }
        if (edge.referencedPictureId) {
            appendToBucket(edgesByReferencedPicture_, *edge.referencedPictureId, position);
        }
        if (edge.referencedPoc) {
            appendToBucket(edgesByReferencedPoc_, *edge.referencedPoc, position);
        }
    }
    for (const PicturePoc& picture : picturePocs_) {
        firstPocByPicture_.emplace(picture.pictureId, picture.poc);
        if (picture.poc) {
            firstPictureByPoc_.emplace(*picture.poc, picture.pictureId);
            pocsByPicture_[picture.pictureId].push_back(*picture.poc);
        }
    }
    for (const SlicePicture& slice : slicePictures_) {
        if (slice.pictureId) {
            firstSlicePocByPicture_.emplace(*slice.pictureId, slice.poc);
        }
    }
    indexed_ = true;
}

std::vector<std::size_t> PictureStripReferences::edgesTouchingTiles(const PictureStripTiles& tiles, std::size_t first,
                                                                    std::size_t last) {
    indexIfNeeded();
    std::vector<std::size_t> positions;
    for (std::size_t tile = first; tile < last && tile < tiles.size(); ++tile) {
        const PictureId id = tiles.at(tile).pictureId;
        appendBucketTo(positions, edgesBySource_, id);
        appendBucketTo(positions, edgesByReferencedPicture_, id);
        const auto pocs = pocsByPicture_.find(id);
        if (pocs == pocsByPicture_.end()) {
            continue;
        }
        for (const std::int32_t poc : pocs->second) {
            if (firstPictureByPoc_.at(poc) == id) {
                appendBucketTo(positions, edgesByReferencedPoc_, poc);
            }
        }
    }
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    return positions;
}

std::optional<std::size_t> PictureStripReferences::targetTileOf(const ReferenceEdge& edge,
                                                               const PictureStripTiles& tiles) {
    if (edge.referencedPictureId) {
        if (const auto tile = tiles.positionOf(*edge.referencedPictureId)) {
            return tile;
        }
    }
    if (!edge.referencedPoc) {
        return std::nullopt;
    }
    indexIfNeeded();
    const auto picture = firstPictureByPoc_.find(*edge.referencedPoc);
    if (picture == firstPictureByPoc_.end()) {
        return std::nullopt;
    }
    return tiles.positionOf(picture->second);
}

std::optional<std::optional<std::int32_t>> PictureStripReferences::pictureRecordPoc(PictureId pictureId) {
    indexIfNeeded();
    return pocOf(firstPocByPicture_, pictureId);
}

std::optional<std::optional<std::int32_t>> PictureStripReferences::firstSlicePoc(PictureId pictureId) {
    indexIfNeeded();
    return pocOf(firstSlicePocByPicture_, pictureId);
}

}  // namespace vexilo
