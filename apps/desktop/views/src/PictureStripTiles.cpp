#include "PictureStripTiles.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace vexilo {

PictureStripTiles::PictureStripTiles(std::int64_t byteBudget) : byteBudget_(std::max<std::int64_t>(byteBudget, 0)) {}

std::size_t PictureStripTiles::sortedInsertPosition(std::int64_t displayIndex) const {
    const auto after = std::upper_bound(tiles_.begin(), tiles_.end(), displayIndex,
                                        [](std::int64_t index, const PictureStripTile& tile) {
                                            return index < tile.displayIndex;
                                        });
    return static_cast<std::size_t>(std::distance(tiles_.begin(), after));
}

std::optional<std::size_t> PictureStripTiles::positionOf(domain::PictureId pictureId) const {
    const std::int64_t* known = displayIndexById_.find(pictureId);
    if (known == nullptr) {
        return std::nullopt;
    }
    const std::int64_t displayIndex = *known;
    auto tile = std::lower_bound(tiles_.begin(), tiles_.end(), displayIndex,
                                 [](const PictureStripTile& candidate, std::int64_t index) {
                                     return candidate.displayIndex < index;
                                 });
    for (; tile != tiles_.end() && tile->displayIndex == displayIndex; ++tile) {
        if (tile->pictureId == pictureId) {
            return static_cast<std::size_t>(std::distance(tiles_.begin(), tile));
        }
    }
    return std::nullopt;
}

const QImage* PictureStripTiles::imageAt(std::size_t position) const {
    const auto kept = imagesById_.find(tiles_.at(position).pictureId);
    return kept != imagesById_.end() ? &kept->second.image : nullptr;
}

void PictureStripTiles::setThumbnail(domain::PictureId pictureId, std::int64_t displayIndex, QImage image) {
    std::optional<std::size_t> position = positionOf(pictureId);
    if (position && tiles_[*position].displayIndex != displayIndex) {
        // Moved rather than updated in place, so that the tiles stay sorted for every lookup.
        releaseImage(*position);
        tiles_.erase(tiles_.begin() + static_cast<std::ptrdiff_t>(*position));
        position.reset();
    }
    if (!position) {
        position = sortedInsertPosition(displayIndex);
        tiles_.insert(tiles_.begin() + static_cast<std::ptrdiff_t>(*position),
                      PictureStripTile{pictureId, displayIndex, false});
        displayIndexById_.set(pictureId, displayIndex);
    }
    storeImage(*position, std::move(image));
    evictOverBudget();
}

void PictureStripTiles::storeImage(std::size_t position, QImage image) {
    releaseImage(position);
    PictureStripTile& tile = tiles_[position];
    tile.imageAsked = false;
    if (image.isNull()) {
        return;
    }
    imageBytes_ += static_cast<std::int64_t>(image.sizeInBytes());
    recentlyShown_.push_front(tile.pictureId);
    imagesById_[tile.pictureId] = KeptImage{std::move(image), recentlyShown_.begin()};
}

void PictureStripTiles::releaseImage(std::size_t position) {
    PictureStripTile& tile = tiles_[position];
    const auto kept = imagesById_.find(tile.pictureId);
    if (kept == imagesById_.end()) {
        return;
    }
    imageBytes_ -= static_cast<std::int64_t>(kept->second.image.sizeInBytes());
    tile.imageAsked = false;
    recentlyShown_.erase(kept->second.recency);
    imagesById_.erase(kept);
}

void PictureStripTiles::evictOverBudget(bool evictedMayAsk) {
    while (imageBytes_ > byteBudget_ && !recentlyShown_.empty()) {
        const std::optional<std::size_t> position = positionOf(recentlyShown_.back());
        if (!position) {
            imagesById_.erase(recentlyShown_.back());
            recentlyShown_.pop_back();
            continue;
        }
        releaseImage(*position);
        tiles_[*position].imageAsked = !evictedMayAsk;
    }
}

void PictureStripTiles::restoreImage(std::size_t position, QImage image) {
    storeImage(position, std::move(image));
    evictOverBudget(false);
}

void PictureStripTiles::markShown(std::size_t position) {
    const auto kept = imagesById_.find(tiles_.at(position).pictureId);
    if (kept != imagesById_.end()) {
        recentlyShown_.splice(recentlyShown_.begin(), recentlyShown_, kept->second.recency);
    }
}

bool PictureStripTiles::askForImageOnce(std::size_t position) {
    PictureStripTile& tile = tiles_.at(position);
    if (imagesById_.contains(tile.pictureId) || tile.imageAsked) {
        return false;
    }
    tile.imageAsked = true;
    return true;
}

void PictureStripTiles::setByteBudget(std::int64_t bytes) {
    byteBudget_ = std::max<std::int64_t>(bytes, 0);
    evictOverBudget();
}

void PictureStripTiles::clear() {
    tiles_.clear();
    displayIndexById_.clear();
    recentlyShown_.clear();
    imagesById_.clear();
    imageBytes_ = 0;
}

}  // namespace vexilo
