#pragma once

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/models/StableIdTable.h"

#include <QPointF>
#include <QRectF>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vexilo {

// What an overlay record outlines; also the index of its layer switch.
enum class OverlayKind : std::uint32_t {
    Ctu = 0,
    Cu = 1,
    Tu = 2,
    Pu = 3,
    QpBlock = 4,
    MotionVector = 5,
    QualityHeatmap = 6,
};

inline constexpr std::size_t kOverlayLayerCount = 7;
inline constexpr std::size_t kOutlineKindCount = 4;
using OverlayLayerSwitches = std::array<bool, kOverlayLayerCount>;

// One outline of a picture's block, in luma samples.
struct OverlayRecord {
    analysis::StableId objectId{};
    // Highlighting follows this: the slice of a CTU, the parent CU (else CTU) of a CU or QP
    // block, the parent TU (else CU) of a TU, the CU of a PU.
    analysis::StableId relatedId{};
    OverlayKind kind = OverlayKind::Ctu;
    QRectF rect;
    std::uint8_t parseStatus = 0;
    std::optional<std::int16_t> qp;  // QP blocks only
};

// One motion vector as an arrow from the centre of its PU, in luma samples.
struct MotionVectorRecord {
    analysis::StableId objectId{};
    analysis::StableId puId{};
    std::uint8_t list = 0;
    QPointF start;
    QPointF delta;
    std::optional<std::uint8_t> referenceStatus;
};

// The innermost CTU, CU, PU and TU at one luma sample; zero where there is none.
struct BlockIds {
    analysis::StableId ctuId{};
    analysis::StableId cuId{};
    analysis::StableId puId{};
    analysis::StableId tuId{};

    [[nodiscard]] bool any() const noexcept
    {
        return !ctuId.isNull() || !cuId.isNull() || !puId.isNull() || !tuId.isNull();
    }
    friend bool operator==(const BlockIds&, const BlockIds&) = default;
};

// The flat records one picture's analysis draws as, with the indexes that keep hit tests and
// highlights independent of the number of blocks: a grid of record lists over the picture and
// the records bucketed by the ids they highlight under. Built once per frame or analysis.
class FrameOverlays {
public:
    // Records of the picture whose summary's picture id is `pictureId`; none when the document
    // has no such picture.
    void rebuild(const analysis::StreamAnalysis& document, std::uint64_t pictureId);
    void clear();

    [[nodiscard]] const std::vector<OverlayRecord>& records() const noexcept { return records_; }
    [[nodiscard]] const std::vector<MotionVectorRecord>& motionVectors() const noexcept { return motionVectors_; }
    // The picture's coding units (quadtree leaves) with and without a QP.
    [[nodiscard]] std::uint32_t qpKnownCount() const noexcept { return qpKnownCount_; }
    [[nodiscard]] std::uint32_t qpUnknownCount() const noexcept { return qpUnknownCount_; }
    // The blocks of a kind that the picture has: for CUs and TUs the leaves of their quadtrees
    // only, though the nodes that split further have outline records too.
    [[nodiscard]] std::size_t countOf(OverlayKind kind) const noexcept;

    // Per kind (CTU, CU, TU, PU) the record of smallest area whose half-open rectangle holds the
    // point; the earlier record wins a tie.
    [[nodiscard]] BlockIds smallestBlocksAt(QPointF imagePoint) const;

    // The last record of an enabled kind whose closed rectangle holds the point.
    [[nodiscard]] std::optional<std::size_t> lastRecordAt(QPointF imagePoint,
                                                          const OverlayLayerSwitches& enabled) const;

    // Records whose objectId or relatedId is `id`, and motion vectors whose objectId or puId
    // is, in record order; empty for the zero id.
    [[nodiscard]] std::span<const std::uint32_t> recordsHighlightedBy(const analysis::StableId& id) const;
    [[nodiscard]] std::span<const std::uint32_t> motionVectorsHighlightedBy(const analysis::StableId& id) const;

private:
    // Record lists per key, stored back to back.
    struct Buckets {
        static constexpr std::uint32_t kNoSlot = 0xFFFFFFFFU;

        StableIdTable slotById;
        std::vector<std::uint32_t> starts;
        std::vector<std::uint32_t> entries;
        // Working memory of `fill`: items per key, and each item's one or two keys.
        std::vector<std::uint32_t> counts;
        std::vector<std::array<std::uint32_t, 2>> itemSlots;

        // `keysOf(item)` gives the two keys an item is listed under; null keys are skipped.
        template <typename KeysOf>
        void fill(std::size_t itemCount, const KeysOf& keysOf);
        [[nodiscard]] std::span<const std::uint32_t> find(const analysis::StableId& id) const;
        void clear();
    };

    void buildRecords(const analysis::StreamAnalysis& document, const analysis::StableId& pictureSummaryId);
    void buildGrid();
    void buildHighlightBuckets();
    [[nodiscard]] std::span<const std::uint32_t> gridCellAt(QPointF imagePoint) const;

    std::vector<OverlayRecord> records_;
    std::vector<MotionVectorRecord> motionVectors_;
    std::array<std::size_t, kOverlayLayerCount> kindCounts_{};
    std::uint32_t qpKnownCount_ = 0;
    std::uint32_t qpUnknownCount_ = 0;

    // Grid of `gridCellSize_` luma samples from (0, 0); each cell lists, in record order, the
    // records whose closed rectangle touches it. Points off the grid walk every record.
    double gridCellSize_ = 0.0;
    std::int64_t gridColumns_ = 0;
    std::int64_t gridRows_ = 0;
    std::vector<std::uint32_t> gridStarts_;
    std::vector<std::uint32_t> gridEntries_;
    std::vector<std::uint32_t> allRecords_;

    Buckets recordBuckets_;
    Buckets motionVectorBuckets_;

    // Working memory of a rebuild, kept for the next picture: a dense picture's tables run to
    // tens of megabytes, and fresh pages cost more than filling them.
    struct Scratch {
        StableIdTable ctuIndex;
        StableIdTable cuIndex;
        StableIdTable puIndex;
        std::vector<std::uint8_t> cuInPicture;
        std::vector<std::uint8_t> puDrawn;
    };
    Scratch scratch_;
};

}  // namespace vexilo
