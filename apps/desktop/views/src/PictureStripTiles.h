#pragma once

#include "PictureIdTable.h"

#include "vexilo/domain/PictureInfo.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <list>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vexilo {

struct PictureStripTile {
    domain::PictureId pictureId = 0;
    std::int64_t displayIndex = 0;
    bool imageAsked = false;  // asked for again since it has had none
};

// The strip's tiles in display order, found by picture id in logarithmic time, with their
// thumbnails held within a byte budget: when it is exceeded, the images shown least
// recently are dropped first and their tiles fall back to a drawn placeholder.
class PictureStripTiles {
public:
    explicit PictureStripTiles(std::int64_t byteBudget);

    // Adds the picture's tile at its sorted place, or updates the tile it already has.
    void setThumbnail(domain::PictureId pictureId, std::int64_t displayIndex, QImage image);
    void clear();

    [[nodiscard]] std::size_t size() const noexcept { return tiles_.size(); }
    [[nodiscard]] bool empty() const noexcept { return tiles_.empty(); }
    [[nodiscard]] const PictureStripTile& at(std::size_t position) const { return tiles_.at(position); }
    [[nodiscard]] std::optional<std::size_t> positionOf(domain::PictureId pictureId) const;
    // The tile's thumbnail, or nullptr once the byte budget let it go.
    [[nodiscard]] const QImage* imageAt(std::size_t position) const;

    // Keeps a painted tile's image the longest.
    void markShown(std::size_t position);
    // True once for a tile without an image, until it gets one and loses it again: so that a
    // tile in view asks for its thumbnail once, not at every paint.
    [[nodiscard]] bool askForImageOnce(std::size_t position);
    // An image made again for the tile at `position`. The tiles it pushes out of the budget do
    // not ask again: with a budget smaller than the strip shows, tiles in view would otherwise
    // take each other's place at every paint.
    void restoreImage(std::size_t position, QImage image);

    void setByteBudget(std::int64_t bytes);
    [[nodiscard]] std::int64_t byteBudget() const noexcept { return byteBudget_; }
    [[nodiscard]] std::int64_t imageBytes() const noexcept { return imageBytes_; }

private:
    using RecencyList = std::list<domain::PictureId>;
    // Only the few tiles within the budget have an image; a long stream's other tiles stay small.
    struct KeptImage {
        QImage image;
        RecencyList::iterator recency;
    };

    [[nodiscard]] std::size_t sortedInsertPosition(std::int64_t displayIndex) const;
    void storeImage(std::size_t position, QImage image);
    void releaseImage(std::size_t position);
    void evictOverBudget(bool evictedMayAsk = true);

    std::vector<PictureStripTile> tiles_;
    PictureIdTable<std::int64_t> displayIndexById_;
    RecencyList recentlyShown_;  // front: shown or added last
    std::unordered_map<domain::PictureId, KeptImage> imagesById_;
    std::int64_t imageBytes_ = 0;
    std::int64_t byteBudget_;
};

}  // namespace vexilo
