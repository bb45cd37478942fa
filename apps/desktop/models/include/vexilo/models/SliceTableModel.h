#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/domain/PictureInfo.h"

#include <QAbstractTableModel>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace vexilo {

// Every slice segment of the loaded document as one row, ordered by its address in the
// picture; the carrying NAL unit is named beside it.
class SliceTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kColumnCount = 14;

    // Roles above Qt::UserRole: the slice's identity, its NAL unit's identity, its picture and
    // the display index of its picture.
    enum Role : int {
        SliceIdHighRole = Qt::UserRole + 1,
        SliceIdLowRole,
        NalUnitIdHighRole,
        NalUnitIdLowRole,
        PictureIdRole,
        SecondaryValueRole,
    };

    explicit SliceTableModel(QObject* parent = nullptr);

    void setAnalysis(std::shared_ptr<const analysis::StreamAnalysis> analysis);
    void clear();

    [[nodiscard]] std::optional<analysis::StableId> sliceIdAt(int row) const;
    [[nodiscard]] std::optional<domain::PictureId> pictureIdAt(int row) const;

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

private:
    [[nodiscard]] const analysis::SliceInfo* sliceAt(int row) const;
    [[nodiscard]] QString displayText(const analysis::SliceInfo& slice, int column) const;
    [[nodiscard]] QString nalUnitText(const analysis::SliceInfo& slice) const;

    std::shared_ptr<const analysis::StreamAnalysis> analysis_;
    std::vector<analysis::SliceInfo> rows_;
    // First NAL unit of the document with each identity, as the rows name them.
    std::unordered_map<analysis::StableId, const analysis::NalUnitInfo*, analysis::StableIdHash> nalUnitsById_;
};

}  // namespace vexilo
