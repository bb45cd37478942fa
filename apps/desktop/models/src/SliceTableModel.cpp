#include "vexilo/models/SliceTableModel.h"

#include "vexilo/models/DisplayFormat.h"
#include "vexilo/models/SyntaxSummaryText.h"

#include <algorithm>
#include <array>

namespace vexilo {
namespace {

using analysis::SliceInfo;
using analysis::StreamAnalysis;
using display::codeOf;
using display::decimalText;

constexpr std::array<const char*, SliceTableModel::kColumnCount> kHeaders{
    "Slice", "NAL", "Type", "First CTU", "Segment", "Dependent", "POC",
    "QP",    "Parse", "Ref State", "RPS", "L0", "L1", "DPB"};

// Slices sort by their coded segment address, else their first CTU, else 0; ties by identity.
std::uint32_t sortKey(const SliceInfo& slice) {
    return slice.sliceSegmentAddress.value_or(slice.firstCtuAddress.value_or(0));
}

bool sortsBefore(const SliceInfo& left, const SliceInfo& right) {
    const std::uint32_t leftKey = sortKey(left);
    const std::uint32_t rightKey = sortKey(right);
    return leftKey != rightKey ? leftKey < rightKey : left.id.low < right.id.low;
}

QVariant optionalVariant(const std::optional<std::uint64_t>& value) {
    return value.has_value() ? QVariant::fromValue(static_cast<qulonglong>(*value)) : QVariant();
}

QVariant optionalVariant(const std::optional<std::int64_t>& value) {
    return value.has_value() ? QVariant::fromValue(static_cast<qlonglong>(*value)) : QVariant();
}

}  // namespace

SliceTableModel::SliceTableModel(QObject* parent)
    : QAbstractTableModel(parent), analysis_(std::make_shared<const StreamAnalysis>()) {}

void SliceTableModel::setAnalysis(std::shared_ptr<const StreamAnalysis> analysis) {
    beginResetModel();
    analysis_ = analysis ? std::move(analysis) : std::make_shared<const StreamAnalysis>();
    rows_ = analysis_->slices;
    std::sort(rows_.begin(), rows_.end(), sortsBefore);
    nalUnitsById_.clear();
    nalUnitsById_.reserve(analysis_->nalUnits.size());
    for (const analysis::NalUnitInfo& nalUnit : analysis_->nalUnits) {
        nalUnitsById_.try_emplace(nalUnit.id, &nalUnit);
    }
    endResetModel();
}

void SliceTableModel::clear() {
    beginResetModel();
    analysis_ = std::make_shared<const StreamAnalysis>();
    rows_.clear();
    nalUnitsById_.clear();
    endResetModel();
}

std::optional<analysis::StableId> SliceTableModel::sliceIdAt(int row) const {
    const SliceInfo* slice = sliceAt(row);
    return slice != nullptr ? std::optional(slice->id) : std::nullopt;
}

std::optional<domain::PictureId> SliceTableModel::pictureIdAt(int row) const {
    const SliceInfo* slice = sliceAt(row);
    if (slice == nullptr || !slice->pictureId.has_value()) {
        return std::nullopt;
    }
    return static_cast<domain::PictureId>(*slice->pictureId);
}

int SliceTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int SliceTableModel::columnCount(const QModelIndex&) const { return kColumnCount; }

QVariant SliceTableModel::data(const QModelIndex& index, int role) const {
    const SliceInfo* slice = index.isValid() ? sliceAt(index.row()) : nullptr;
    if (slice == nullptr) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return index.column() < kColumnCount ? QVariant(displayText(*slice, index.column())) : QVariant();
    case SliceIdHighRole:
        return QVariant::fromValue(static_cast<qulonglong>(slice->id.high));
    case SliceIdLowRole:
        return QVariant::fromValue(static_cast<qulonglong>(slice->id.low));
    case NalUnitIdHighRole:
        return QVariant::fromValue(static_cast<qulonglong>(slice->parentNalUnitId.high));
    case NalUnitIdLowRole:
        return QVariant::fromValue(static_cast<qulonglong>(slice->parentNalUnitId.low));
    case PictureIdRole:
        return optionalVariant(slice->pictureId);
    case SecondaryValueRole:
        return optionalVariant(slice->displayIndex);
    default:
        return {};
    }
}

QVariant SliceTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount) {
        return {};
    }
    return QString::fromLatin1(kHeaders[static_cast<std::size_t>(section)]);
}

const SliceInfo* SliceTableModel::sliceAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return nullptr;
    }
    return &rows_[static_cast<std::size_t>(row)];
}

QString SliceTableModel::displayText(const SliceInfo& slice, int column) const {
    using namespace display;
    switch (column) {
    case 0:
        return QStringLiteral("Slice %1 POC=%2 CTU=%3")
            .arg(sliceTypeText(codeOf(slice.type)), formatOptionalInt32(slice.poc),
                 formatOptionalUInt32(slice.firstCtuAddress));
    case 1:
        return nalUnitText(slice);
    case 2:
        return sliceTypeText(codeOf(slice.type));
    case 3:
        return formatOptionalUInt32(slice.firstCtuAddress);
    case 4:
        return formatOptionalUInt32(slice.sliceSegmentAddress);
    case 5:
        return formatOptionalBool(slice.dependentSliceSegment);
    case 6:
        return formatOptionalInt32(slice.poc);
    case 7:
        return formatOptionalInt16(slice.sliceQp);
    case 8:
        return parseStatusText(codeOf(slice.parseStatus));
    case 9:
        return parseStatusText(codeOf(slice.referenceStateStatus));
    case 10:
        return QStringLiteral("ST=%1 LT=%2")
            .arg(formatOptionalUInt32(slice.shortTermRpsCount), formatOptionalUInt32(slice.longTermRpsCount));
    case 11:
        return formatOptionalUInt32(slice.refPicListL0Count);
    case 12:
        return formatOptionalUInt32(slice.refPicListL1Count);
    case 13:
        return formatOptionalUInt32(slice.dpbEntryCount);
    default:
        return {};
    }
}

QString SliceTableModel::nalUnitText(const SliceInfo& slice) const {
    const auto found = nalUnitsById_.find(slice.parentNalUnitId);
    if (found == nalUnitsById_.end()) {
        return QStringLiteral("NAL %1").arg(syntaxtext::stableIdText(slice.parentNalUnitId));
    }
    const analysis::NalUnitInfo& nalUnit = *found->second;
    return QStringLiteral("NAL %1 type=%2 @ %3")
        .arg(display::nalUnitKindText(codeOf(nalUnit.kind)), display::formatOptionalUInt8(nalUnit.nalUnitType),
             decimalText(nalUnit.byteOffset));
}

}  // namespace vexilo
