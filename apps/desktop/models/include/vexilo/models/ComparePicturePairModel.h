#pragma once

#include "vexilo/application/QualityResultStore.h"
#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/ReferenceYuvSource.h"
#include "vexilo/media/QualityMetrics.h"

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vexilo {

// One frame index of the A/B comparison: each side's picture facts. Its metrics are the
// quality result store's, looked up by frame index.
struct ComparePicturePair {
    std::int64_t frameIndex = 0;
    std::optional<std::int64_t> referenceFrameIndex;
    std::optional<domain::PictureId> pictureIdA;
    std::optional<domain::PictureId> pictureIdB;
    std::optional<std::int64_t> displayIndexA;
    std::optional<std::int64_t> displayIndexB;
    std::optional<std::int32_t> pocA;
    std::optional<std::int32_t> pocB;
    std::int32_t pictureTypeA = 0;
    std::int32_t pictureTypeB = 0;
    QString resolutionText;
    QString matchText;
};

// Streams A and B and an optional reference YUV file lined up frame by frame, with the PSNR
// of each side against the reference and the winner of each pair. The PSNR and winner
// columns read the quality service's result store, so the model keeps no metrics of its own.
class ComparePicturePairModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit ComparePicturePairModel(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    // Lists that only grew since the last call (pictures arriving while streams open) add or
    // update the rows of the new pictures' frames; any other change rebuilds every row. Returns
    // whether the rows were rebuilt, which loses the view's selection and scroll position.
    bool setPictures(const domain::PictureInfoBatch& picturesA, const domain::PictureInfoBatch& picturesB);
    void setReferenceYuvSource(const std::optional<domain::ReferenceYuvSource>& source);
    // The store the metric columns read (may be null: no metrics); the model follows its changes.
    void setQualityResultStore(const application::QualityResultStore* store);

    // The measured result of the row's frame, null when there is none.
    [[nodiscard]] const application::QualityPairResult* qualityResultAt(int row) const;

    [[nodiscard]] const ComparePicturePair* pairAt(int row) const;
    [[nodiscard]] int rowForFrameIndex(std::int64_t frameIndex) const;
    [[nodiscard]] std::optional<domain::PictureId> pictureIdAAt(int row) const;
    [[nodiscard]] std::optional<domain::PictureId> pictureIdBAt(int row) const;

private:
    // Where each frame index's picture is in the held lists.
    using FramePositions = std::unordered_map<std::int64_t, std::size_t>;

    void rebuild();
    bool addArrivedPictures(const domain::PictureInfoBatch& picturesA, const domain::PictureInfoBatch& picturesB);
    void placeArrivedFrames(std::vector<std::int64_t> frames);
    [[nodiscard]] ComparePicturePair makePair(std::int64_t frameIndex) const;
    void onPairsStored(const QList<qint64>& frameIndices);
    void onResultsCleared();
    void announceMetricRows(int firstRow, int lastRow);
    [[nodiscard]] const application::QualityPairResult* resultOf(const ComparePicturePair& pair) const;
    [[nodiscard]] QString psnrCell(const ComparePicturePair& pair, bool sideA, bool allPlanes) const;
    [[nodiscard]] QString winnerCell(const ComparePicturePair& pair) const;

    domain::PictureInfoBatch picturesA_;
    domain::PictureInfoBatch picturesB_;
    std::optional<domain::ReferenceYuvSource> reference_;
    const application::QualityResultStore* qualityResults_ = nullptr;
    FramePositions framesA_;
    FramePositions framesB_;
    std::vector<ComparePicturePair> rows_;
};

}  // namespace vexilo
