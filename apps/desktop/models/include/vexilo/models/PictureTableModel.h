#pragma once

#include "vexilo/analysis/records/PictureReferenceRecords.h"
#include "vexilo/domain/PictureInfo.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

namespace vexilo {

// The decoded pictures of the opened stream, one row each in arrival order, refined by the
// picture summaries of loaded analyses, with each picture's analysis state text.
class PictureTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit PictureTableModel(QObject* parent = nullptr);
    ~PictureTableModel() override;

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    void appendPictures(domain::PictureInfoBatch pictures);
    void updatePicture(const analysis::PictureAnalysisSummary& summary);
    void setAnalysisStatus(domain::PictureId pictureId, const QString& text);
    [[nodiscard]] std::optional<domain::PictureId> pictureIdAt(int row) const;
    void clear();

private:
    [[nodiscard]] int rowOfPicture(domain::PictureId pictureId) const;

    std::vector<domain::PictureInfo> rows_;
    QHash<qint64, QString> analysisStatus_;
    // The first row of each picture id, so that refining a row never scans the table.
    QHash<qint64, int> rowByPicture_;
};

}  // namespace vexilo
