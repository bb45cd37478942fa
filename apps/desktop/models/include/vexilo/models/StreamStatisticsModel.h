#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/StreamInfo.h"

#include <QAbstractItemModel>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace vexilo {

// The opened stream summarised as a two-level tree of named values: what the decoder
// reported, how many frames of each type arrived, what the analysis document indexes, and
// which coding tools its parameter sets enable. Each value says where it comes from.
class StreamStatisticsModel : public QAbstractItemModel {
    Q_OBJECT

public:
    static constexpr int kColumnCount = 4;
    // A share of a whole in thousandths (1000 = 100 %), for the percent bar.
    static constexpr int kPercentPermilleRole = Qt::UserRole + 1;

    explicit StreamStatisticsModel(QObject* parent = nullptr);
    ~StreamStatisticsModel() override;

    void clear();
    void setStreamInfo(const domain::StreamInfo& streamInfo);
    void appendPictures(const std::vector<domain::PictureInfo>& pictures);
    void setStreamAnalysis(analysis::StreamAnalysis analysis);
    // The same, holding the document the caller shares instead of a copy of it.
    void setStreamAnalysis(std::shared_ptr<const analysis::StreamAnalysis> analysis);
    void clearStreamAnalysis();

    [[nodiscard]] QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex& index) const override;
    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    struct StatisticsNode;
    // What the tree shows of a held document, counted once when the document arrives so that
    // a rebuild for each picture batch does not walk the document again.
    struct AnalysisFacts;

private:
    void rebuild();
    [[nodiscard]] StatisticsNode* nodeOf(const QModelIndex& index) const;

    std::unique_ptr<StatisticsNode> root_;
    std::optional<domain::StreamInfo> streamInfo_;
    std::vector<domain::PictureInfo> pictures_;
    std::shared_ptr<const analysis::StreamAnalysis> analysis_;
    // Decoded pictures by type (I, P, B, other), kept as pictures arrive.
    std::array<std::uint64_t, 4> decodedTypeCounts_{};
    std::unique_ptr<AnalysisFacts> analysisFacts_;
};

}  // namespace vexilo
