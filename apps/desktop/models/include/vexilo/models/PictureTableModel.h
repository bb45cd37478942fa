#pragma once

#include "vexilo/analysis/records/PictureReferenceRecords.h"
#include "vexilo/domain/PictureInfo.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace vexilo {

// The decoded pictures of the opened stream, one row each in arrival order, refined by the
// picture summaries of loaded analyses, with each picture's analysis state text. Pictures whose
// analysis holds errors are marked: the row is tinted, the "Analysis" cell counts the errors and
// its tooltip lists them. A picture whose blocks the pass could not keep is no damaged one: its
// row says that they come on demand, untinted and uncounted.
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
    // The decoder could not reconstruct the picture as the stream coded it.
    void markPictureFailed(domain::PictureId pictureId);
    // The picture's own error records, one text each; an empty list leaves a mark as it was.
    void markPictureErrors(domain::PictureId pictureId, const QStringList& errors);
    // The pass left the picture without its coding blocks for want of memory.
    void setBlocksOnDemand(domain::PictureId pictureId, bool onDemand);
    [[nodiscard]] bool hasBlocksOnDemand(domain::PictureId pictureId) const;
    // Forgets the error marks and the pictures whose blocks come on demand.
    void clearPictureMarks();
    [[nodiscard]] bool isPictureMarked(domain::PictureId pictureId) const;
    [[nodiscard]] int markedPictureCount() const;
    [[nodiscard]] int pictureErrorCount() const;
    [[nodiscard]] std::optional<domain::PictureId> pictureIdAt(int row) const;
    void clear();

private:
    struct PictureMark {
        bool failed = false;
        QStringList errors;
    };

    [[nodiscard]] int rowOfPicture(domain::PictureId pictureId) const;
    [[nodiscard]] QString analysisCell(domain::PictureId pictureId) const;
    [[nodiscard]] QVariant markData(const domain::PictureInfo& picture, int column, int role) const;
    void emitRowChanged(domain::PictureId pictureId);

    std::vector<domain::PictureInfo> rows_;
    QHash<qint64, QString> analysisStatus_;
    QHash<qint64, PictureMark> marks_;
    QSet<qint64> blocksOnDemand_;
    // The first row of each picture id, so that refining a row never scans the table.
    QHash<qint64, int> rowByPicture_;
};

}  // namespace vexilo
