#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/models/AnalysisIndex.h"

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace vexilo {

enum class BlockInfoRowKind : std::uint32_t {
    Section = 0,
    Field = 1,
    Title = 2,
    Warning = 3,
};

struct BlockInfoRow {
    BlockInfoRowKind kind = BlockInfoRowKind::Field;
    QString name;
    QString value;
    QString detail;  // tooltip of both cells when not empty
};

// The block information panel: a name/value listing of the block under the mouse (or the
// locked one) with its slice, CTU, CU, PU and TU, or of the viewer's fallback cell, or a
// short message. Every listing replaces the rows with one model reset.
class BlockInfoModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit BlockInfoModel(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    [[nodiscard]] const std::vector<BlockInfoRow>& rows() const noexcept { return rows_; }

    // Keeps the document for later listings; what is shown stays as it is.
    void setAnalysis(std::shared_ptr<const analysis::StreamAnalysis> analysis);
    void clear();
    void showMessage(const QString& title, const QString& detail, const QString& state);
    void showBlockInfo(const QString& interaction, const QString& pictureId, const QString& displayIndex,
                       const QString& lumaSample, const analysis::StableId& ctuId, const analysis::StableId& cuId,
                       const analysis::StableId& puId, const analysis::StableId& tuId);
    void showBlockInfoUnavailable(const QString& interaction, const QString& pictureId, const QString& displayIndex,
                                  const QString& lumaSample, const QString& fallbackCell);

private:
    void setRows(std::vector<BlockInfoRow> rows);

    AnalysisIndex index_;
    std::vector<BlockInfoRow> rows_;
};

// The model's own value texts; they differ in case and wording from the inspector's.
namespace blockinfo {
[[nodiscard]] QString blockIdText(const analysis::StableId& id);
[[nodiscard]] QString blockRectText(const analysis::BlockRect& bounds);
[[nodiscard]] QString predictionModeLabel(std::uint8_t code);
[[nodiscard]] QString partModeLabel(std::uint8_t code);
[[nodiscard]] QString referenceAvailabilityLabel(std::uint8_t code);
[[nodiscard]] QString interDirectionLabel(std::uint8_t code);
[[nodiscard]] QString sliceTypeLabel(std::uint8_t code);
[[nodiscard]] QString lockStateText(const QString& interaction);
}  // namespace blockinfo

}  // namespace vexilo
