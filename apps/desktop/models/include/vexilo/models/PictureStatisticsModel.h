#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/domain/PictureInfo.h"

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <vector>

namespace vexilo {

struct PictureStatisticsRow {
    QString category;
    QString item;
    std::uint64_t count = 0;
    std::uint64_t area = 0;  // luma samples; 0 is unknown
    QString percent;
    QString status;
};

// Block statistics of one picture: leaf CUs by size and prediction mode, PUs by size and
// partition, leaf TUs by depth, each with the luma area covered and its share of the
// category's area; or one message row.
class PictureStatisticsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit PictureStatisticsModel(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    [[nodiscard]] const std::vector<PictureStatisticsRow>& rows() const noexcept { return rows_; }

    void setRows(std::vector<PictureStatisticsRow> rows);
    void clear();
    void showMessage(const QString& item, const QString& status);
    void rebuildStatistics(const analysis::StreamAnalysis& analysis, domain::PictureId pictureId);

private:
    std::vector<PictureStatisticsRow> rows_;
};

}  // namespace vexilo
