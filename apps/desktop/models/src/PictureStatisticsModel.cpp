#include "vexilo/models/PictureStatisticsModel.h"

#include "vexilo/models/BlockInfoModel.h"
#include "TableModelSupport.h"
#include "vexilo/models/DisplayFormat.h"

#include "vexilo/analysis/StableIdTable.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace vexilo {
namespace {

using analysis::StableId;
using display::decimalText;

constexpr int kColumnCount = 6;
const std::array<QString, kColumnCount> kHeaders{QStringLiteral("Category"), QStringLiteral("Item"),
                                                 QStringLiteral("Count"),    QStringLiteral("Area"),
                                                 QStringLiteral("Percent"),  QStringLiteral("Status")};
const QString kMessageCategory = QStringLiteral("Statistics");
const QString kUnavailable = QStringLiteral("unavailable");
const QString kUnknownKey = QStringLiteral("Unknown");

struct StatisticsBucket {
    std::uint64_t count = 0;
    std::uint64_t area = 0;
    bool partial = false;
};

// A category's rows in display order, each under its item text.
using NamedBuckets = std::vector<std::pair<QString, StatisticsBucket>>;
using IdSet = analysis::StableIdTable<analysis::NoValue>;

bool hasLumaArea(const analysis::BlockRect& bounds) {
    return bounds.unit == analysis::kBlockRectUnitLumaSample && bounds.width != 0 && bounds.height != 0;
}

// A block's luma size, ordered from the smallest block to the largest: by area, then width (as
// texts, 16x16 would come before 8x8). A block without a luma area has no size and comes last.
struct BlockSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    [[nodiscard]] bool known() const { return width != 0; }
    [[nodiscard]] auto order() const {
        return std::tuple(!known(), std::uint64_t{width} * height, width, height);
    }
    friend bool operator<(const BlockSize& left, const BlockSize& right) { return left.order() < right.order(); }
};

BlockSize blockSizeOf(const analysis::BlockRect& bounds) {
    return hasLumaArea(bounds) ? BlockSize{bounds.width, bounds.height} : BlockSize{};
}

QString blockSizeKey(BlockSize size) {
    if (!size.known()) {
        return kUnknownKey;
    }
    return QStringLiteral("%1x%2").arg(decimalText(size.width), decimalText(size.height));
}

void addBlock(StatisticsBucket& bucket, const analysis::BlockRect& bounds, bool parsed, bool depthKnown) {
    ++bucket.count;
    if (hasLumaArea(bounds)) {
        bucket.area += static_cast<std::uint64_t>(bounds.width) * static_cast<std::uint64_t>(bounds.height);
        bucket.partial = bucket.partial || !parsed || !depthKnown;
    } else {
        bucket.partial = true;
    }
}

// Blocks counted under a small key, named once per key at the end: a dense 4K picture has a
// million blocks, and formatting and comparing a text key for each cost more than the rest
// of the statistics.
template <typename Key>
class KeyedBuckets {
public:
    void add(const Key& key, const analysis::BlockRect& bounds, bool parsed, bool depthKnown = true) {
        addBlock(buckets_[key], bounds, parsed, depthKnown);
    }

    [[nodiscard]] bool empty() const { return buckets_.empty(); }

    // In the order of the keys; keys that name alike ("Unknown") share the row of the first.
    template <typename NameOf>
    [[nodiscard]] NamedBuckets named(NameOf nameOf) const {
        NamedBuckets named;
        for (const auto& [key, bucket] : buckets_) {
            QString name = nameOf(key);
            auto row = std::find_if(named.begin(), named.end(), [&name](const auto& entry) { return entry.first == name; });
            if (row == named.end()) {
                row = named.insert(named.end(), {std::move(name), StatisticsBucket{}});
            }
            StatisticsBucket& into = row->second;
            into.count += bucket.count;
            into.area += bucket.area;
            into.partial = into.partial || bucket.partial;
        }
        return named;
    }

    // In the text order of the names, case-sensitive by UTF-16 code units: "Inter" before "Intra".
    template <typename NameOf>
    [[nodiscard]] NamedBuckets namedInTextOrder(NameOf nameOf) const {
        NamedBuckets rows = named(nameOf);
        std::sort(rows.begin(), rows.end(), [](const auto& left, const auto& right) { return left.first < right.first; });
        return rows;
    }

private:
    std::map<Key, StatisticsBucket> buckets_;
};

QString predictionKey(analysis::PredictionMode mode) {
    switch (mode) {
    case analysis::PredictionMode::Intra:
        return QStringLiteral("Intra");
    case analysis::PredictionMode::Inter:
        return QStringLiteral("Inter");
    case analysis::PredictionMode::Skip:
        return QStringLiteral("Skip");
    default:
        return kUnknownKey;
    }
}

analysis::PredictionMode countedPredictionMode(const analysis::CuInfo& cu) {
    return cu.skip.value_or(false) ? analysis::PredictionMode::Skip : cu.predictionMode;
}

void appendCategoryRows(std::vector<PictureStatisticsRow>& rows, const QString& category, const NamedBuckets& buckets) {
    std::uint64_t total = 0;
    for (const auto& [key, bucket] : buckets) {
        total += bucket.area;
    }
    for (const auto& [key, bucket] : buckets) {
        const QString percent =
            total == 0 ? display::kNotAvailableText
                       : QStringLiteral("%1%").arg(static_cast<double>(bucket.area) * 100.0 / static_cast<double>(total),
                                                   0, 'f', 1);
        rows.push_back({category, key, bucket.count, bucket.area, percent,
                        bucket.partial ? QStringLiteral("partial") : QStringLiteral("derived")});
    }
}

bool isParsed(analysis::BlockParseStatus status) {
    return status == analysis::BlockParseStatus::Parsed;
}

}  // namespace

PictureStatisticsModel::PictureStatisticsModel(QObject* parent) : QAbstractTableModel(parent) {}

int PictureStatisticsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int PictureStatisticsModel::columnCount(const QModelIndex& /*parent*/) const {
    return kColumnCount;
}

QVariant PictureStatisticsModel::data(const QModelIndex& index, int role) const {
    const std::optional<std::size_t> row = displayedRow(index, role, rows_.size(), kColumnCount);
    if (!row.has_value()) {
        return {};
    }
    const PictureStatisticsRow& statistics = rows_[*row];
    switch (index.column()) {
    case 0:
        return statistics.category;
    case 1:
        return statistics.item;
    case 2:
        return decimalText(statistics.count);
    case 3:
        return statistics.area == 0 ? display::kNotAvailableText : decimalText(statistics.area);
    case 4:
        return statistics.percent;
    default:
        return statistics.status;
    }
}

QVariant PictureStatisticsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    return horizontalHeader(kHeaders, section, orientation, role);
}

void PictureStatisticsModel::setRows(std::vector<PictureStatisticsRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void PictureStatisticsModel::clear() {
    setRows({});
}

void PictureStatisticsModel::showMessage(const QString& item, const QString& status) {
    setRows({{kMessageCategory, item, 0, 0, display::kNotAvailableText, status}});
}

void PictureStatisticsModel::rebuildStatistics(const analysis::StreamAnalysis& analysis,
                                               domain::PictureId pictureId) {
    IdSet summaryIds;
    for (const auto& summary : analysis.pictures) {
        if (summary.pictureId.has_value() && *summary.pictureId == static_cast<std::uint64_t>(pictureId)) {
            summaryIds.insert(summary.id, {});
        }
    }
    if (summaryIds.size() == 0) {
        showMessage(QStringLiteral("No picture analysis summary"), kUnavailable);
        return;
    }
    IdSet ctuIds;
    ctuIds.reserve(analysis.ctus.size());
    for (const auto& ctu : analysis.ctus) {
        if (summaryIds.contains(ctu.parentPictureSummaryId)) {
            ctuIds.insert(ctu.id, {});
        }
    }
    IdSet cuIds;
    cuIds.reserve(analysis.cus.size());
    KeyedBuckets<BlockSize> cuSizes;
    KeyedBuckets<analysis::PredictionMode> cuModes;
    for (const auto& cu : analysis.cus) {
        if (!ctuIds.contains(cu.parentCtuId)) {
            continue;
        }
        cuIds.insert(cu.id, {});
        if (cu.split.value_or(false)) {
            continue;
        }
        cuSizes.add(blockSizeOf(cu.bounds), cu.bounds, isParsed(cu.parseStatus));
        cuModes.add(countedPredictionMode(cu), cu.bounds, isParsed(cu.parseStatus));
    }
    KeyedBuckets<std::pair<BlockSize, std::uint8_t>> puPartitions;
    for (const auto& pu : analysis.pus) {
        if (cuIds.contains(pu.parentCuId)) {
            puPartitions.add({blockSizeOf(pu.bounds), display::codeOf(pu.partitionMode)}, pu.bounds,
                             isParsed(pu.parseStatus));
        }
    }
    KeyedBuckets<std::optional<std::uint8_t>> tuDepths;
    for (const auto& tu : analysis.tus) {
        if (cuIds.contains(tu.parentCuId) && !tu.split.value_or(false)) {
            tuDepths.add(tu.depth, tu.bounds, isParsed(tu.parseStatus), tu.depth.has_value());
        }
    }
    if (cuSizes.empty() && cuModes.empty() && puPartitions.empty() && tuDepths.empty()) {
        showMessage(QStringLiteral("No CU/PU/TU data for this picture"), kUnavailable);
        return;
    }
    const auto sizeName = [](BlockSize size) { return blockSizeKey(size); };
    const auto partitionName = [](const std::pair<BlockSize, std::uint8_t>& key) {
        return QStringLiteral("%1 %2").arg(blockSizeKey(key.first), blockinfo::partModeLabel(key.second));
    };
    const auto depthName = [](const std::optional<std::uint8_t>& depth) {
        return depth.has_value() ? QStringLiteral("Depth %1").arg(decimalText(*depth)) : kUnknownKey;
    };
    std::vector<PictureStatisticsRow> rows;
    appendCategoryRows(rows, QStringLiteral("CU Size"), cuSizes.named(sizeName));
    appendCategoryRows(rows, QStringLiteral("CU Prediction Mode"), cuModes.namedInTextOrder(predictionKey));
    appendCategoryRows(rows, QStringLiteral("PU Partition"), puPartitions.named(partitionName));
    appendCategoryRows(rows, QStringLiteral("TU Depth"), tuDepths.namedInTextOrder(depthName));
    setRows(std::move(rows));
}

}  // namespace vexilo
