#include "vexilo/views/FrameOverlays.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace vexilo {
namespace {

using analysis::StableId;

constexpr double kMinimumGridCellSize = 32.0;
// Beyond this many cells the cell size doubles; keeps hostile picture sizes from costing memory.
constexpr std::int64_t kMaxGridCells = std::int64_t{1} << 20;
// Luma samples the grid may reach; records beyond it are found by the full walk.
constexpr double kMaxGridExtent = 1 << 20;

// Finds a record by id. Children follow their parents' order in a document, so the few
// records from the last one found on are tried first; only when the id is not among them is
// the hash table built (once) and asked, which then answers with the first record carrying
// the id. A dense picture's table is far larger than the cache, the next few records are not.
template <typename Record>
class OrderedIdLookup {
public:
    OrderedIdLookup(const std::vector<Record>& records, StableIdTable& index) : records_(records), index_(index) {}

    // Absent for the null id (no parent) and for ids no record carries.
    std::optional<std::uint32_t> find(const StableId& id)
    {
        if (id.isNull()) {
            return std::nullopt;
        }
        const std::size_t end = std::min(records_.size(), next_ + kLookAhead);
        for (std::size_t position = next_; position < end; ++position) {
            if (records_[position].id == id) {
                next_ = position;
                return static_cast<std::uint32_t>(position);
            }
        }
        if (!indexed_) {
            index_.reset(records_.size());
            for (std::size_t position = 0; position < records_.size(); ++position) {
                index_.insertIfAbsent(records_[position].id, static_cast<std::uint32_t>(position));
            }
            indexed_ = true;
        }
        const std::optional<std::uint32_t> found = index_.find(id);
        if (found) {
            next_ = *found;
        }
        return found;
    }

private:
    // Coding-tree order puts at most a few parent blocks between two leaves.
    static constexpr std::size_t kLookAhead = 8;

    const std::vector<Record>& records_;
    StableIdTable& index_;
    std::size_t next_ = 0;
    bool indexed_ = false;
};

bool isDrawable(const StableId& id, const analysis::BlockRect& bounds)
{
    return !id.isNull() && bounds.unit == analysis::kBlockRectUnitLumaSample && bounds.width != 0 &&
           bounds.height != 0;
}

QRectF rectOf(const analysis::BlockRect& bounds)
{
    return {static_cast<double>(bounds.x), static_cast<double>(bounds.y), static_cast<double>(bounds.width),
            static_cast<double>(bounds.height)};
}

std::uint8_t parseStatusOf(analysis::BlockParseStatus status) { return static_cast<std::uint8_t>(status); }

// A coding or transform quadtree node that splits further is no unit of its own: its leaves are
// the units, and its QP is theirs. Its outline still stands, so that choosing it outlines it.
template <typename QuadtreeNode>
bool isUnit(const QuadtreeNode& node)
{
    return !node.split.value_or(false);
}

bool containsHalfOpen(const QRectF& rect, QPointF point)
{
    return rect.left() <= point.x() && point.x() < rect.left() + rect.width() && rect.top() <= point.y() &&
           point.y() < rect.top() + rect.height();
}

bool containsClosed(const QRectF& rect, QPointF point)
{
    return rect.left() <= point.x() && point.x() <= rect.left() + rect.width() && rect.top() <= point.y() &&
           point.y() <= rect.top() + rect.height();
}

}  // namespace

void FrameOverlays::clear()
{
    records_.clear();
    motionVectors_.clear();
    kindCounts_.fill(0);
    qpKnownCount_ = 0;
    qpUnknownCount_ = 0;
    gridCellSize_ = 0.0;
    gridColumns_ = 0;
    gridRows_ = 0;
    gridStarts_.clear();
    gridEntries_.clear();
    allRecords_.clear();
    recordBuckets_.clear();
    motionVectorBuckets_.clear();
}

void FrameOverlays::rebuild(const analysis::StreamAnalysis& document, std::uint64_t pictureId)
{
    clear();
    const auto picture = std::find_if(document.pictures.begin(), document.pictures.end(), [&](const auto& summary) {
        return summary.pictureId.has_value() && *summary.pictureId == pictureId;
    });
    if (picture == document.pictures.end() || picture->id.isNull()) {
        return;
    }
    buildRecords(document, picture->id);
    kindCounts_[static_cast<std::size_t>(OverlayKind::MotionVector)] = motionVectors_.size();
    buildGrid();
    buildHighlightBuckets();
}

void FrameOverlays::buildRecords(const analysis::StreamAnalysis& document, const StableId& pictureSummaryId)
{
    OrderedIdLookup ctuById(document.ctus, scratch_.ctuIndex);
    OrderedIdLookup cuById(document.cus, scratch_.cuIndex);
    OrderedIdLookup puById(document.pus, scratch_.puIndex);
    // Whether each CU and PU (by position) lies in a CTU of the picture, decided once for each.
    std::vector<std::uint8_t>& cuInPicture = scratch_.cuInPicture;
    cuInPicture.assign(document.cus.size(), 0);
    for (std::size_t position = 0; position < document.cus.size(); ++position) {
        const std::optional<std::uint32_t> ctu = ctuById.find(document.cus[position].parentCtuId);
        cuInPicture[position] = ctu && document.ctus[*ctu].parentPictureSummaryId == pictureSummaryId ? 1 : 0;
    }
    const auto cuBelongs = [&](const StableId& cuId) {
        const std::optional<std::uint32_t> cu = cuById.find(cuId);
        return cu && cuInPicture[*cu] != 0;
    };
    std::vector<std::uint8_t>& puDrawn = scratch_.puDrawn;
    puDrawn.assign(document.pus.size(), 0);
    records_.reserve(document.ctus.size() + 2 * document.cus.size() + document.tus.size() + document.pus.size());

    // The counts are of the units a user sees outlined, not of the records.
    const auto add = [&](const OverlayRecord& record, bool unit) {
        records_.push_back(record);
        kindCounts_[static_cast<std::size_t>(record.kind)] += unit ? 1 : 0;
    };
    for (const analysis::CtuInfo& ctu : document.ctus) {
        if (ctu.parentPictureSummaryId == pictureSummaryId && isDrawable(ctu.id, ctu.bounds)) {
            add({ctu.id, ctu.sliceInfoId.value_or(StableId{}), OverlayKind::Ctu, rectOf(ctu.bounds),
                 parseStatusOf(ctu.parseStatus), std::nullopt},
                true);
        }
    }
    for (std::size_t position = 0; position < document.cus.size(); ++position) {
        const analysis::CuInfo& cu = document.cus[position];
        if (cuInPicture[position] == 0) {
            continue;
        }
        const bool unit = isUnit(cu);
        if (unit) {
            ++(cu.qp.has_value() ? qpKnownCount_ : qpUnknownCount_);
        }
        if (!isDrawable(cu.id, cu.bounds)) {
            continue;
        }
        const StableId related = cu.parentCuId.value_or(cu.parentCtuId);
        add({cu.id, related, OverlayKind::Cu, rectOf(cu.bounds), parseStatusOf(cu.parseStatus), std::nullopt}, unit);
        if (unit) {
            add({cu.id, related, OverlayKind::QpBlock, rectOf(cu.bounds), parseStatusOf(cu.parseStatus), cu.qp}, true);
        }
    }
    for (const analysis::TuInfo& tu : document.tus) {
        if (isDrawable(tu.id, tu.bounds) && cuBelongs(tu.parentCuId)) {
            add({tu.id, tu.parentTuId.value_or(tu.parentCuId), OverlayKind::Tu, rectOf(tu.bounds),
                 parseStatusOf(tu.parseStatus), std::nullopt},
                isUnit(tu));
        }
    }
    for (std::size_t position = 0; position < document.pus.size(); ++position) {
        const analysis::PuInfo& pu = document.pus[position];
        if (isDrawable(pu.id, pu.bounds) && cuBelongs(pu.parentCuId)) {
            puDrawn[position] = 1;
            add({pu.id, pu.parentCuId, OverlayKind::Pu, rectOf(pu.bounds), parseStatusOf(pu.parseStatus), std::nullopt},
                true);
        }
    }
    motionVectors_.reserve(document.motionVectors.size());
    for (const analysis::MotionVectorInfo& vector : document.motionVectors) {
        if (vector.id.isNull() || !vector.mvX || !vector.mvY ||
            vector.unit != analysis::MotionVectorUnit::QuarterLumaSample) {
            continue;
        }
        const std::optional<std::uint32_t> puPosition = puById.find(vector.parentPuId);
        if (!puPosition || puDrawn[*puPosition] == 0) {
            continue;
        }
        const analysis::PuInfo* pu = &document.pus[*puPosition];
        std::optional<std::uint8_t> status;
        if (vector.referenceStatus) {
            status = static_cast<std::uint8_t>(*vector.referenceStatus);
        }
        motionVectors_.push_back({vector.id, vector.parentPuId, static_cast<std::uint8_t>(vector.list),
                                  rectOf(pu->bounds).center(), QPointF(*vector.mvX * 0.25, *vector.mvY * 0.25),
                                  status});
    }
}

void FrameOverlays::buildGrid()
{
    double right = 0.0;
    double bottom = 0.0;
    for (const OverlayRecord& record : records_) {
        right = std::max(right, record.rect.left() + record.rect.width());
        bottom = std::max(bottom, record.rect.top() + record.rect.height());
    }
    right = std::min(right, kMaxGridExtent);
    bottom = std::min(bottom, kMaxGridExtent);
    gridCellSize_ = kMinimumGridCellSize;
    const auto cellsAlong = [&](double extent) { return static_cast<std::int64_t>(extent / gridCellSize_) + 1; };
    while (cellsAlong(right) * cellsAlong(bottom) > kMaxGridCells) {
        gridCellSize_ *= 2.0;
    }
    // The cell size is a power of two: multiplying by its inverse is exact, and far cheaper than
    // four divisions per record in each of the two passes.
    const double perCell = 1.0 / gridCellSize_;
    gridColumns_ = cellsAlong(right);
    gridRows_ = cellsAlong(bottom);
    const auto cellRange = [&](double low, double high, std::int64_t cells) {
        const auto clampCell = [&](double value) {
            return std::clamp<std::int64_t>(static_cast<std::int64_t>(std::floor(value * perCell)), 0,
                                            cells - 1);
        };
        return std::pair{clampCell(low), clampCell(high)};
    };
    const auto forEachCell = [&](const OverlayRecord& record, const auto& visit) {
        const double left = record.rect.left();
        const double top = record.rect.top();
        const double recordRight = left + record.rect.width();
        const double recordBottom = top + record.rect.height();
        if (recordRight < 0.0 || recordBottom < 0.0 || left > kMaxGridExtent || top > kMaxGridExtent) {
            return;
        }
        const auto [firstColumn, lastColumn] = cellRange(left, recordRight, gridColumns_);
        const auto [firstRow, lastRow] = cellRange(top, recordBottom, gridRows_);
        for (std::int64_t row = firstRow; row <= lastRow; ++row) {
            for (std::int64_t column = firstColumn; column <= lastColumn; ++column) {
                visit(static_cast<std::size_t>(row * gridColumns_ + column));
            }
        }
    };
    const auto cellCount = static_cast<std::size_t>(gridColumns_ * gridRows_);
    gridStarts_.assign(cellCount + 1, 0);
    for (const OverlayRecord& record : records_) {
        forEachCell(record, [&](std::size_t cell) { ++gridStarts_[cell + 1]; });
    }
    for (std::size_t cell = 0; cell < cellCount; ++cell) {
        gridStarts_[cell + 1] += gridStarts_[cell];
    }
    gridEntries_.assign(gridStarts_.back(), 0);
    std::vector<std::uint32_t> next(gridStarts_.begin(), gridStarts_.end() - 1);
    for (std::size_t index = 0; index < records_.size(); ++index) {
        forEachCell(records_[index],
                    [&](std::size_t cell) { gridEntries_[next[cell]++] = static_cast<std::uint32_t>(index); });
    }
    allRecords_.resize(records_.size());
    for (std::size_t index = 0; index < records_.size(); ++index) {
        allRecords_[index] = static_cast<std::uint32_t>(index);
    }
}

void FrameOverlays::buildHighlightBuckets()
{
    recordBuckets_.fill(records_.size(),
                        [&](std::size_t item) { return std::pair{records_[item].objectId, records_[item].relatedId}; });
    motionVectorBuckets_.fill(motionVectors_.size(), [&](std::size_t item) {
        return std::pair{motionVectors_[item].objectId, motionVectors_[item].puId};
    });
}

// Counting sort of (key, item) pairs into per-key lists that keep the item order. Each key is
// looked up once; its slot is remembered for the fill pass.
template <typename KeysOf>
void FrameOverlays::Buckets::fill(std::size_t itemCount, const KeysOf& keysOf)
{
    slotById.reset(itemCount);
    counts.clear();
    itemSlots.assign(itemCount, {kNoSlot, kNoSlot});
    // Neighbours share keys (a CU's outline and QP block, siblings and their parent): the last
    // few keys are remembered, sparing a probe of a table far larger than the cache.
    std::array<std::pair<StableId, std::uint32_t>, 4> recent{};
    std::size_t recentNext = 0;
    const auto slotFor = [&](const StableId& key) {
        for (const auto& [recentKey, recentSlot] : recent) {
            if (recentKey == key) {
                ++counts[recentSlot];
                return recentSlot;
            }
        }
        auto slot = static_cast<std::uint32_t>(counts.size());
        if (slotById.insertIfAbsent(key, slot)) {
            counts.push_back(0);
        } else {
            slot = *slotById.find(key);
        }
        ++counts[slot];
        recent[recentNext] = {key, slot};
        recentNext = (recentNext + 1) % recent.size();
        return slot;
    };
    // Probes land anywhere in a table of tens of megabytes: the keys of an item a few places
    // ahead are fetched while this one is placed.
    constexpr std::size_t kPrefetchDistance = 16;
    for (std::size_t item = 0; item < itemCount; ++item) {
        if (item + kPrefetchDistance < itemCount) {
            const auto [nextFirst, nextSecond] = keysOf(item + kPrefetchDistance);
            slotById.prefetch(nextFirst);
            slotById.prefetch(nextSecond);
        }
        const auto [first, second] = keysOf(item);
        if (!first.isNull()) {
            itemSlots[item][0] = slotFor(first);
        }
        if (!second.isNull() && second != first) {
            itemSlots[item][1] = slotFor(second);
        }
    }
    starts.assign(counts.size() + 1, 0);
    for (std::size_t slot = 0; slot < counts.size(); ++slot) {
        starts[slot + 1] = starts[slot] + counts[slot];
    }
    entries.assign(starts.back(), 0);
    // The counts become each list's next free entry.
    std::copy(starts.begin(), starts.end() - 1, counts.begin());
    for (std::size_t item = 0; item < itemCount; ++item) {
        for (const std::uint32_t slot : itemSlots[item]) {
            if (slot != kNoSlot) {
                entries[counts[slot]++] = static_cast<std::uint32_t>(item);
            }
        }
    }
}

std::span<const std::uint32_t> FrameOverlays::Buckets::find(const StableId& id) const
{
    const std::optional<std::uint32_t> slot = slotById.find(id);
    if (!slot) {
        return {};
    }
    return std::span<const std::uint32_t>(entries).subspan(starts[*slot], starts[*slot + 1] - starts[*slot]);
}

// Keeps the buffers: the next picture is usually about as dense.
void FrameOverlays::Buckets::clear()
{
    slotById.reset(0);
    starts.clear();
    entries.clear();
}

std::size_t FrameOverlays::countOf(OverlayKind kind) const noexcept
{
    return kindCounts_[static_cast<std::size_t>(kind)];
}

std::span<const std::uint32_t> FrameOverlays::gridCellAt(QPointF imagePoint) const
{
    if (gridColumns_ == 0 || !(imagePoint.x() >= 0.0) || !(imagePoint.y() >= 0.0)) {
        return allRecords_;
    }
    const auto column = static_cast<std::int64_t>(std::floor(imagePoint.x() / gridCellSize_));
    const auto row = static_cast<std::int64_t>(std::floor(imagePoint.y() / gridCellSize_));
    if (column >= gridColumns_ || row >= gridRows_) {
        return allRecords_;
    }
    const auto cell = static_cast<std::size_t>(row * gridColumns_ + column);
    return std::span<const std::uint32_t>(gridEntries_).subspan(gridStarts_[cell], gridStarts_[cell + 1] - gridStarts_[cell]);
}

BlockIds FrameOverlays::smallestBlocksAt(QPointF imagePoint) const
{
    std::array<const OverlayRecord*, kOutlineKindCount> smallest{};
    std::array<double, kOutlineKindCount> smallestArea{};
    for (const std::uint32_t index : gridCellAt(imagePoint)) {
        const OverlayRecord& record = records_[index];
        const auto kind = static_cast<std::size_t>(record.kind);
        if (kind >= kOutlineKindCount || !containsHalfOpen(record.rect, imagePoint)) {
            continue;
        }
        const double area = record.rect.width() * record.rect.height();
        if (smallest[kind] == nullptr || area < smallestArea[kind]) {
            smallest[kind] = &record;
            smallestArea[kind] = area;
        }
    }
    const auto idOf = [&](OverlayKind kind) {
        const OverlayRecord* record = smallest[static_cast<std::size_t>(kind)];
        return record == nullptr ? StableId{} : record->objectId;
    };
    return {idOf(OverlayKind::Ctu), idOf(OverlayKind::Cu), idOf(OverlayKind::Pu), idOf(OverlayKind::Tu)};
}

std::optional<std::size_t> FrameOverlays::lastRecordAt(QPointF imagePoint, const OverlayLayerSwitches& enabled) const
{
    const std::span<const std::uint32_t> candidates = gridCellAt(imagePoint);
    for (auto candidate = candidates.rbegin(); candidate != candidates.rend(); ++candidate) {
        const OverlayRecord& record = records_[*candidate];
        if (enabled[static_cast<std::size_t>(record.kind)] && containsClosed(record.rect, imagePoint)) {
            return *candidate;
        }
    }
    return std::nullopt;
}

std::span<const std::uint32_t> FrameOverlays::recordsHighlightedBy(const StableId& id) const
{
    return recordBuckets_.find(id);
}

std::span<const std::uint32_t> FrameOverlays::motionVectorsHighlightedBy(const StableId& id) const
{
    return motionVectorBuckets_.find(id);
}

}  // namespace vexilo
