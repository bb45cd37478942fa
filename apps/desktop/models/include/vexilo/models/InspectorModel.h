#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/domain/PictureInfo.h"
#include "vexilo/models/AnalysisIndex.h"

#include <QAbstractTableModel>
#include <QString>

#include <memory>
#include <vector>

namespace vexilo {

// One line of the inspector: what is shown, its value, where it comes from, its state and
// what it means.
struct InspectorRow {
    QString field;
    QString value;
    QString condition;
    QString status;
    QString semantics;
};

// The inspector dock's five-column table. It explains one thing at a time (an object of the
// held picture document, the selected picture, the block under the mouse or a status line);
// every explanation replaces all rows with one model reset.
class InspectorModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit InspectorModel(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    void setRows(std::vector<InspectorRow> rows);
    void showSingleRow(const QString& field, const QString& value, const QString& condition, const QString& status,
                       const QString& semantics);
    void clear();
    void setAnalysis(std::shared_ptr<const analysis::StreamAnalysis> analysis);

    void explainObject(const analysis::StableId& id);
    void explainPicture(domain::PictureId pictureId);

    void showBlockInfo(const QString& interaction, const QString& pictureId, const QString& displayIndex,
                       const QString& lumaSample, const analysis::StableId& ctuId, const analysis::StableId& cuId,
                       const analysis::StableId& puId, const analysis::StableId& tuId);
    void showBlockInfoUnavailable(const QString& interaction, const QString& pictureId, const QString& displayIndex,
                                  const QString& lumaSample, const QString& fallbackCell);

private:
    void explainNalUnit(const analysis::NalUnitInfo& nalUnit);
    void explainParameterSet(const analysis::ParameterSetInfo& parameterSet);
    void explainSeiMessage(const analysis::SeiMessageInfo& seiMessage);
    void explainSlice(const analysis::SliceInfo& slice);
    void explainCtu(const analysis::CtuInfo& ctu);
    void explainCu(const analysis::CuInfo& cu);
    void explainPu(const analysis::PuInfo& pu);
    void explainTu(const analysis::TuInfo& tu);
    void explainMotionVector(const analysis::MotionVectorInfo& motionVector);
    void appendSliceEntryRows(std::vector<InspectorRow>& rows, const analysis::StableId& sliceId) const;
    void appendBlockDetailRows(std::vector<InspectorRow>& rows, const analysis::StableId& cuId,
                               const analysis::StableId& puId, const analysis::StableId& tuId) const;

    AnalysisIndex index_;
    std::vector<InspectorRow> rows_;
};

}  // namespace vexilo
