#include "vexilo/models/InspectorModel.h"

#include "InspectorRowRules.h"
#include "TableModelSupport.h"

#include <array>
#include <utility>

namespace vexilo {
namespace {

using namespace display;
using namespace inspector;

constexpr int kColumnCount = 5;

const std::array<QString, kColumnCount> kHeaders{QStringLiteral("Field"), QStringLiteral("Value"),
                                                 QStringLiteral("Condition"), QStringLiteral("Status"),
                                                 QStringLiteral("Semantics")};

const QString& cellText(const InspectorRow& row, int column) {
    switch (column) {
    case 0:
        return row.field;
    case 1:
        return row.value;
    case 2:
        return row.condition;
    case 3:
        return row.status;
    default:
        return row.semantics;
    }
}

}  // namespace

InspectorModel::InspectorModel(QObject* parent) : QAbstractTableModel(parent) {}

int InspectorModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int InspectorModel::columnCount(const QModelIndex& /*parent*/) const {
    return kColumnCount;
}

QVariant InspectorModel::data(const QModelIndex& index, int role) const {
    const std::optional<std::size_t> row = displayedRow(index, role, rows_.size(), kColumnCount);
    if (!row.has_value()) {
        return {};
    }
    return cellText(rows_[*row], index.column());
}

QVariant InspectorModel::headerData(int section, Qt::Orientation orientation, int role) const {
    return horizontalHeader(kHeaders, section, orientation, role);
}

void InspectorModel::setRows(std::vector<InspectorRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void InspectorModel::showSingleRow(const QString& field, const QString& value, const QString& condition,
                                   const QString& status, const QString& semantics) {
    setRows({InspectorRow{field, value, condition, status, semantics}});
}

void InspectorModel::clear() {
    index_ = AnalysisIndex();
    setRows({});
}

void InspectorModel::setAnalysis(std::shared_ptr<const analysis::StreamAnalysis> analysis) {
    index_ = AnalysisIndex(std::move(analysis));
    showSingleRow(QStringLiteral("Analysis"), QStringLiteral("loaded"), QStringLiteral("Repository picture payload"),
                  kPresent, QStringLiteral("Select a NAL or Slice row to inspect detailed fields"));
}

void InspectorModel::explainObject(const analysis::StableId& id) {
    if (const auto* nalUnit = index_.nalUnit(id)) {
        explainNalUnit(*nalUnit);
    } else if (const auto* parameterSet = index_.parameterSet(id)) {
        explainParameterSet(*parameterSet);
    } else if (const auto* seiMessage = index_.seiMessage(id)) {
        explainSeiMessage(*seiMessage);
    } else if (const auto* slice = index_.slice(id)) {
        explainSlice(*slice);
    } else if (const auto* ctu = index_.ctu(id)) {
        explainCtu(*ctu);
    } else if (const auto* cu = index_.cu(id)) {
        explainCu(*cu);
    } else if (const auto* pu = index_.pu(id)) {
        explainPu(*pu);
    } else if (const auto* tu = index_.tu(id)) {
        explainTu(*tu);
    } else if (const auto* motionVector = index_.motionVector(id)) {
        explainMotionVector(*motionVector);
    } else {
        showSingleRow(QStringLiteral("Selection"), shortIdText(id), QStringLiteral("Known object ID"), kUnknown,
                      QStringLiteral("Object is not present in repository payload"));
    }
}

void InspectorModel::explainPicture(domain::PictureId pictureId) {
    std::vector<InspectorRow> rows;
    rows.push_back({QStringLiteral("Picture ID"), decimalText(static_cast<std::uint64_t>(pictureId)),
                    QStringLiteral("UI selected picture"), kPresent, QStringLiteral("Vexilo domain picture identity")});
    const analysis::StreamAnalysis& document = index_.analysis();
    const analysis::PictureAnalysisSummary* summary = nullptr;
    for (const auto& candidate : document.pictures) {
        if (candidate.pictureId.has_value() && *candidate.pictureId == static_cast<std::uint64_t>(pictureId)) {
            summary = &candidate;
            break;
        }
    }
    if (summary == nullptr) {
        rows.push_back({QStringLiteral("Picture analysis"), kNotAvailableText,
                        QStringLiteral("Repository picture payload"), kUnknown,
                        QStringLiteral("No matching picture summary in this payload")});
        setRows(std::move(rows));
        return;
    }
    const QString pictureSummaryCondition = QStringLiteral("picture summary");
    const QString completeness = pictureCompletenessText(codeOf(summary->completeness));
    rows.push_back({QStringLiteral("Display index"), formatOptionalInt64(summary->displayIndex),
                    pictureSummaryCondition, derivedRule(summary->displayIndex),
                    QStringLiteral("Presentation-order index from analyzer output")});
    rows.push_back({QStringLiteral("POC"), formatOptionalInt32(summary->poc), pictureSummaryCondition,
                    derivedRule(summary->poc), QStringLiteral("HEVC picture order count when exported")});
    rows.push_back({QStringLiteral("Completeness"), completeness, pictureSummaryCondition, completeness,
                    QStringLiteral("Analysis completeness for this picture payload")});
    rows.push_back({QStringLiteral("Slices"), formatOptionalUInt32(summary->sliceCount), pictureSummaryCondition,
                    derivedRule(summary->sliceCount),
                    QStringLiteral("Number of slices associated with this picture")});
    rows.push_back({QStringLiteral("RPS entries"),
                    QStringLiteral("ST=%1 LT=%2")
                        .arg(decimalText(document.shortTermReferencePictures.size()),
                             decimalText(document.longTermReferencePictures.size())),
                    QStringLiteral("slice reference state"), kDerived,
                    QStringLiteral("Short/long-term RPS entries in this picture payload")});
    rows.push_back({QStringLiteral("Reference lists"),
                    QStringLiteral("L0/L1 entries=%1").arg(decimalText(document.referencePictures.size())),
                    QStringLiteral("derived decoder state"), kDerived,
                    QStringLiteral("Actual RefPicList entries emitted by the analyzer")});
    rows.push_back({QStringLiteral("DPB snapshot"),
                    QStringLiteral("%1 entries").arg(decimalText(document.dpbSnapshotEntries.size())),
                    QStringLiteral("derived decoder state"), kDerived,
                    QStringLiteral("Bounded decoded-picture-buffer summary")});
    setRows(std::move(rows));
}

}  // namespace vexilo
