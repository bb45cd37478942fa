#pragma once

#include "vexilo/domain/PictureInfo.h"

#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QPainter;

namespace vexilo::analysis {
struct StreamAnalysis;
}
namespace vexilo::application {
struct PictureThumbnail;
}

namespace vexilo {

class PictureStripReferences;
class PictureStripTiles;
template <typename Value>
class PictureIdTable;

// About five hundred 120 x 68 thumbnails: many times what the widest strip shows. A tile whose
// thumbnail was let go asks for it again when it comes into view (thumbnailWanted), and shows
// its picture type until it comes, or when it cannot.
inline constexpr std::int64_t kDefaultPictureStripThumbnailBudgetBytes = 16LL * 1024 * 1024;

// The horizontal strip of decoded pictures in display order, as thumbnails or as the
// reference hierarchy between them. It never changes the current picture itself: it reports
// the picture the user pointed at, and the window answers with setCurrentPicture.
class PictureStripWidget : public QWidget {
    Q_OBJECT

public:
    enum class StripMode : std::int32_t {
        Thumbnails = 0,
        ReferenceHierarchy = 1,
    };

    explicit PictureStripWidget(QWidget* parent = nullptr);
    ~PictureStripWidget() override;

    // Malformed thumbnails (no size, too few bytes) are ignored.
    void setThumbnail(const application::PictureThumbnail& thumbnail);
    // A thumbnail made again for a tile the strip has (see thumbnailWanted); unlike a new
    // picture's it leaves the scroll position where the user put it.
    void restoreThumbnail(const application::PictureThumbnail& thumbnail);
    // Picture types, for the tiles whose thumbnails the byte budget let go.
    void addPictures(const domain::PictureInfoBatch& pictures);
    void setAnalysis(const analysis::StreamAnalysis& document);
    void clearAnalysis();
    void clear();
    void setCurrentPicture(std::optional<domain::PictureId> pictureId);
    void setStripMode(StripMode mode);
    void setThumbnailByteBudget(std::int64_t bytes);

    [[nodiscard]] StripMode stripMode() const noexcept { return stripMode_; }
    [[nodiscard]] std::optional<domain::PictureId> currentPicture() const noexcept { return currentPicture_; }
    [[nodiscard]] std::size_t tileCount() const noexcept;
    [[nodiscard]] int scrollOffset() const noexcept { return scrollOffset_; }
    [[nodiscard]] int maximumScrollOffset() const;
    [[nodiscard]] std::int64_t thumbnailBytes() const noexcept;

    [[nodiscard]] QSize sizeHint() const override;

signals:
    void pictureActivated(vexilo::domain::PictureId pictureId);
    // A tile in view has no thumbnail (the byte budget let it go); told once per loss, after
    // the paint that found it. Answered with restoreThumbnail, or not at all.
    void thumbnailWanted(vexilo::domain::PictureId pictureId, qint64 displayIndex);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct TileRange {
        std::size_t first = 0;
        std::size_t last = 0;
    };

    [[nodiscard]] QRect timelineBar() const;
    [[nodiscard]] int timelineTop() const;
    [[nodiscard]] QRect timelineLabelRect() const;
    [[nodiscard]] int timelineLabelWidth() const;
    [[nodiscard]] static QString timelineLabelText(std::size_t position, std::size_t count);
    [[nodiscard]] QRect timelineHitBand() const;
    [[nodiscard]] QRect hierarchyDrawingArea() const;
    [[nodiscard]] QRect tileRect(std::size_t position) const;
    [[nodiscard]] QRect hierarchyNodeRect(std::size_t position) const;
    [[nodiscard]] QRect modeRect(std::size_t position) const;
    [[nodiscard]] int modeStride() const noexcept;
    [[nodiscard]] TileRange tilesAcross(int left, int right) const;

    void clampScrollOffset();
    void ensureCurrentVisible();
    [[nodiscard]] int pictureIndexAt(QPointF point) const;
    [[nodiscard]] int timelineIndexAt(QPointF point) const;
    void scrubToPosition(QPointF point);
    void activate(domain::PictureId pictureId);
    [[nodiscard]] bool isCurrent(std::size_t position) const;

    void paintThumbnails(QPainter& painter);
    void askForWantedThumbnails();
    void paintPictureTypeTile(QPainter& painter, const QRect& imageRect, domain::PictureId pictureId) const;
    void paintReferenceHierarchy(QPainter& painter);
    void paintHierarchyNode(QPainter& painter, std::size_t position);
    [[nodiscard]] QString nodePocText(std::size_t position);
    void paintExternalReferences(QPainter& painter, const std::vector<std::size_t>& edges);
    void paintTimeline(QPainter& painter);

    std::unique_ptr<PictureStripTiles> tiles_;
    std::unique_ptr<PictureStripReferences> references_;
    std::unique_ptr<PictureIdTable<domain::PictureType>> pictureTypes_;
    bool analysisLoaded_ = false;
    std::optional<domain::PictureId> currentPicture_;
    int scrollOffset_ = 0;
    StripMode stripMode_ = StripMode::Thumbnails;
    bool dragging_ = false;
    bool scrubbing_ = false;
    std::optional<domain::PictureId> lastActivatedPicture_;
    std::vector<std::pair<domain::PictureId, std::int64_t>> wantedThumbnails_;
};

}  // namespace vexilo
