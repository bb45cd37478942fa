#include "vexilo/models/PictureTableModel.h"

#include "TableModelSupport.h"
#include "vexilo/models/DisplayFormat.h"

#include <QBrush>
#include <QColor>

#include <array>
#include <utility>

namespace vexilo {
namespace {

using display::formatOptionalInt32;
using display::formatOptionalInt64;

constexpr int kColumnCount = 8;
constexpr int kFirstRefinedColumn = 1;
constexpr int kLastRefinedColumn = 6;
constexpr int kAnalysisColumn = 7;

// Light enough that the row's text stays readable, red enough to be found in a long table.
const QColor kMarkedRowColour(255, 205, 205);
const QString kFailedPictureText = QStringLiteral("The decoder could not reconstruct this picture as coded");
const QString kBlocksOnDemandText = QStringLiteral("blocks analysed on demand");
const QString kBlocksOnDemandTip =
    QStringLiteral("Its coding blocks did not fit the analysis pass's memory; they are analysed when it is selected");

const std::array<QString, kColumnCount> kHeaders{
    QStringLiteral("Display Index"), QStringLiteral("Decode Index"), QStringLiteral("PTS"),
    QStringLiteral("DTS"),           QStringLiteral("POC"),          QStringLiteral("Type"),
    QStringLiteral("Resolution"),    QStringLiteral("Analysis")};

QString resolutionCell(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) {
        return display::kNotAvailableText;
    }
    return QStringLiteral("%1 x %2").arg(display::decimalText(width), display::decimalText(height));
}

// Copies a present summary value that the row lacks or holds differently.
template <typename Value>
bool refine(std::optional<Value>& rowValue, const std::optional<Value>& summaryValue) {
    if (!summaryValue.has_value() || rowValue == summaryValue) {
        return false;
    }
    rowValue = summaryValue;
    return true;
}

template <typename RowValue, typename SummaryValue>
bool refineWidened(RowValue& rowValue, const std::optional<SummaryValue>& summaryValue) {
    if (!summaryValue.has_value() || static_cast<RowValue>(*summaryValue) == rowValue) {
        return false;
    }
    rowValue = static_cast<RowValue>(*summaryValue);
    return true;
}

}  // namespace

PictureTableModel::PictureTableModel(QObject* parent) : QAbstractTableModel(parent) {}

PictureTableModel::~PictureTableModel() = default;

int PictureTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int PictureTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant PictureTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole && index.isValid() && index.row() >= 0 &&
        static_cast<std::size_t>(index.row()) < rows_.size()) {
        return markData(rows_[static_cast<std::size_t>(index.row())], index.column(), role);
    }
    const std::optional<std::size_t> row = displayedRow(index, role, rows_.size(), kColumnCount);
    if (!row.has_value()) {
        return {};
    }
    const domain::PictureInfo& picture = rows_[*row];
    switch (index.column()) {
    case 0:
        return display::decimalText(picture.displayIndex);
    case 1:
        return formatOptionalInt64(picture.decodeIndex);
    case 2:
        return formatOptionalInt64(picture.pts);
    case 3:
        return formatOptionalInt64(picture.dts);
    case 4:
        return formatOptionalInt32(picture.poc);
    case 5:
        return display::pictureTypeCellText(display::codeOf(picture.pictureType));
    case 6:
        return resolutionCell(picture.width, picture.height);
    default:
        break;
    }
    return analysisCell(picture.id);
}

// What the picture's analysis holds goes ahead of its state: the errors that mark it, then
// whether its blocks still wait for a run of their own.
QString PictureTableModel::analysisCell(domain::PictureId pictureId) const {
    QStringList parts;
    const auto mark = marks_.constFind(pictureId);
    if (mark != marks_.constEnd()) {
        parts << (mark->errors.isEmpty() ? QStringLiteral("failed")
                                         : QStringLiteral("%1 error(s)").arg(mark->errors.size()));
    }
    if (blocksOnDemand_.contains(pictureId)) {
        parts << kBlocksOnDemandText;
    }
    parts << analysisStatus_.value(pictureId, display::kNotAvailableText);
    return parts.join(QStringLiteral("; "));
}

QVariant PictureTableModel::markData(const domain::PictureInfo& picture, int column, int role) const {
    if (column < 0 || column >= kColumnCount) {
        return {};
    }
    const auto mark = marks_.constFind(picture.id);
    const bool marked = mark != marks_.constEnd();
    if (role == Qt::BackgroundRole && marked) {
        return QBrush(kMarkedRowColour);
    }
    if (role != Qt::ToolTipRole) {
        return {};
    }
    QStringList lines;
    if (marked) {
        lines = mark->errors;
        if (mark->failed) {
            lines.prepend(kFailedPictureText);
        }
    }
    if (blocksOnDemand_.contains(picture.id)) {
        lines << kBlocksOnDemandTip;
    }
    return lines.isEmpty() ? QVariant() : QVariant(lines.join(QLatin1Char('\n')));
}

QVariant PictureTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    return horizontalHeader(kHeaders, section, orientation, role);
}

void PictureTableModel::appendPictures(domain::PictureInfoBatch pictures) {
    if (pictures.empty()) {
        return;
    }
    const int first = static_cast<int>(rows_.size());
    const int last = first + static_cast<int>(pictures.size()) - 1;
    // No exact reserve here: one-picture batches would then copy every row on every append.
    beginInsertRows({}, first, last);
    for (domain::PictureInfo& picture : pictures) {
        if (!rowByPicture_.contains(picture.id)) {
            rowByPicture_.insert(picture.id, static_cast<int>(rows_.size()));
        }
        rows_.push_back(std::move(picture));
    }
    endInsertRows();
}

void PictureTableModel::updatePicture(const analysis::PictureAnalysisSummary& summary) {
    if (!summary.pictureId.has_value()) {
        return;
    }
    const int row = rowOfPicture(static_cast<domain::PictureId>(*summary.pictureId));
    if (row < 0) {
        return;
    }
    domain::PictureInfo& picture = rows_[static_cast<std::size_t>(row)];
    bool changed = false;
    changed = refine(picture.decodeIndex, summary.decodeIndex) || changed;
    changed = refine(picture.pts, summary.pts) || changed;
    changed = refine(picture.dts, summary.dts) || changed;
    changed = refine(picture.poc, summary.poc) || changed;
    const std::uint32_t typeCode = display::codeOf(summary.pictureType);
    if (typeCode != 0 && typeCode != display::codeOf(picture.pictureType)) {
        // The row's type is one byte wide; a wider code is no type it could show anyway.
        picture.pictureType = typeCode <= 0xFFU ? static_cast<domain::PictureType>(typeCode) : domain::PictureType::None;
        changed = true;
    }
    changed = refineWidened(picture.width, summary.width) || changed;
    changed = refineWidened(picture.height, summary.height) || changed;
    changed = refineWidened(picture.bitDepth, summary.bitDepth) || changed;
    if (changed) {
        emit dataChanged(index(row, kFirstRefinedColumn), index(row, kLastRefinedColumn), {Qt::DisplayRole});
    }
}

void PictureTableModel::setAnalysisStatus(domain::PictureId pictureId, const QString& text) {
    analysisStatus_.insert(pictureId, text);
    const int row = rowOfPicture(pictureId);
    if (row >= 0) {
        emit dataChanged(index(row, kAnalysisColumn), index(row, kAnalysisColumn), {Qt::DisplayRole});
    }
}

void PictureTableModel::markPictureFailed(domain::PictureId pictureId) {
    PictureMark& mark = marks_[pictureId];
    if (!mark.failed) {
        mark.failed = true;
        emitRowChanged(pictureId);
    }
}

void PictureTableModel::markPictureErrors(domain::PictureId pictureId, const QStringList& errors) {
    if (errors.isEmpty()) {
        return;
    }
    PictureMark& mark = marks_[pictureId];
    if (mark.errors != errors) {
        mark.errors = errors;
        emitRowChanged(pictureId);
    }
}

void PictureTableModel::setBlocksOnDemand(domain::PictureId pictureId, bool onDemand) {
    if (blocksOnDemand_.contains(pictureId) == onDemand) {
        return;
    }
    if (onDemand) {
        blocksOnDemand_.insert(pictureId);
    } else {
        blocksOnDemand_.remove(pictureId);
    }
    emitRowChanged(pictureId);
}

bool PictureTableModel::hasBlocksOnDemand(domain::PictureId pictureId) const {
    return blocksOnDemand_.contains(pictureId);
}

void PictureTableModel::clearPictureMarks() {
    if (marks_.isEmpty() && blocksOnDemand_.isEmpty()) {
        return;
    }
    marks_.clear();
    blocksOnDemand_.clear();
    if (!rows_.empty()) {
        emit dataChanged(index(0, 0), index(static_cast<int>(rows_.size()) - 1, kColumnCount - 1),
                         {Qt::DisplayRole, Qt::BackgroundRole, Qt::ToolTipRole});
    }
}

bool PictureTableModel::isPictureMarked(domain::PictureId pictureId) const {
    return marks_.contains(pictureId);
}

int PictureTableModel::markedPictureCount() const {
    return static_cast<int>(marks_.size());
}

int PictureTableModel::pictureErrorCount() const {
    int count = 0;
    for (const PictureMark& mark : marks_) {
        count += static_cast<int>(mark.errors.size());
    }
    return count;
}

void PictureTableModel::emitRowChanged(domain::PictureId pictureId) {
    const int row = rowOfPicture(pictureId);
    if (row >= 0) {
        emit dataChanged(index(row, 0), index(row, kColumnCount - 1),
                         {Qt::DisplayRole, Qt::BackgroundRole, Qt::ToolTipRole});
    }
}

std::optional<domain::PictureId> PictureTableModel::pictureIdAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return std::nullopt;
    }
    return rows_[static_cast<std::size_t>(row)].id;
}

void PictureTableModel::clear() {
    marks_.clear();
    blocksOnDemand_.clear();
    if (rows_.empty()) {
        analysisStatus_.clear();
        return;
    }
    beginResetModel();
    rows_.clear();
    rowByPicture_.clear();
    analysisStatus_.clear();
    endResetModel();
}

int PictureTableModel::rowOfPicture(domain::PictureId pictureId) const {
    return rowByPicture_.value(pictureId, -1);
}

}  // namespace vexilo
