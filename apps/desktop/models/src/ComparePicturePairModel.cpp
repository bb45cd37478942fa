#include "vexilo/models/ComparePicturePairModel.h"

#include "vexilo/media/ReferenceYuv.h"
#include "TableModelSupport.h"
#include "vexilo/models/DisplayFormat.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>
#include <vector>

namespace vexilo {
namespace {

using display::decimalText;
using display::formatOptionalInt32;
using display::formatOptionalInt64;
using display::kNotAvailableText;
using media::QualityMetricStatus;

constexpr int kColumnCount = 15;

// The last picture of each frame index wins, as a later picture of the same index replaces the
// earlier one in the table.
std::unordered_map<std::int64_t, std::size_t> framePositions(const domain::PictureInfoBatch& pictures) {
    std::unordered_map<std::int64_t, std::size_t> positions;
    positions.reserve(pictures.size());
    for (std::size_t position = 0; position < pictures.size(); ++position) {
        positions[pictures[position].displayIndex] = position;
    }
    return positions;
}

const domain::PictureInfo* pictureOfFrame(const std::unordered_map<std::int64_t, std::size_t>& positions,
                                          const domain::PictureInfoBatch& pictures, std::int64_t frameIndex) {
    const auto found = positions.find(frameIndex);
    return found != positions.end() ? &pictures[found->second] : nullptr;
}

// Whether `given` is `held` with pictures added at its end (a stream opened afresh starts a
// new list, whose first picture differs from the held one).
bool extendsHeldPictures(const domain::PictureInfoBatch& given, const domain::PictureInfoBatch& held) {
    if (given.size() < held.size()) {
        return false;
    }
    return held.empty() || (given.front() == held.front() && given[held.size() - 1] == held.back());
}

void sortUnique(std::vector<std::int64_t>& frames) {
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
}
constexpr int kFirstMetricColumn = 10;
constexpr int kLastMetricColumn = 14;
// PSNRs this close (dB) are a tie.
constexpr double kPsnrTieTolerance = 0.005;

const std::array<QString, kColumnCount> kHeaders{
    QStringLiteral("Frame"),      QStringLiteral("Ref Frame"),  QStringLiteral("A Display"),
    QStringLiteral("B Display"),  QStringLiteral("A POC"),      QStringLiteral("B POC"),
    QStringLiteral("A Type"),     QStringLiteral("B Type"),     QStringLiteral("Resolution"),
    QStringLiteral("Match"),      QStringLiteral("A PSNR Y"),   QStringLiteral("A PSNR All"),
    QStringLiteral("B PSNR Y"),   QStringLiteral("B PSNR All"), QStringLiteral("Winner")};

const QString kNoReference = QStringLiteral("No ref");

QString metricStatusText(QualityMetricStatus status) {
    switch (status) {
    case QualityMetricStatus::Available:
        return QStringLiteral("available");
    case QualityMetricStatus::BackendUnavailable:
        return QStringLiteral("Backend unavailable");
    case QualityMetricStatus::NoReference:
        return kNoReference;
    case QualityMetricStatus::MissingReferenceFrame:
        return QStringLiteral("Ref missing");
    case QualityMetricStatus::MissingEncodedFrame:
        return QStringLiteral("Enc missing");
    case QualityMetricStatus::FormatMismatch:
        return QStringLiteral("Format mismatch");
    case QualityMetricStatus::UnsupportedLayout:
        return QStringLiteral("Unsupported");
    default:
        return QStringLiteral("Error");
    }
}

// Types outside 0..3 (and negative ones) read as no type.
QString pictureTypeCell(std::int32_t type) {
    return display::pictureTypeCellText(type < 0 ? 0U : static_cast<std::uint32_t>(type));
}

QString sizeText(std::int32_t width, std::int32_t height) {
    if (width < 1 || height < 1) {
        return kNotAvailableText;
    }
    return QStringLiteral("%1 x %2").arg(decimalText(width), decimalText(height));
}

QString resolutionText(const QString& reference, const domain::PictureInfo* a, const domain::PictureInfo* b) {
    if (a == nullptr && b == nullptr) {
        return reference == kNotAvailableText ? kNotAvailableText : QStringLiteral("Ref %1").arg(reference);
    }
    if (a != nullptr && b != nullptr) {
        const QString sizeA = sizeText(a->width, a->height);
        const QString sizeB = sizeText(b->width, b->height);
        if (reference == kNotAvailableText || (reference == sizeA && reference == sizeB)) {
            return sizeA == sizeB ? sizeA : QStringLiteral("A %1 / B %2").arg(sizeA, sizeB);
        }
        return QStringLiteral("Ref %1 / A %2 / B %3").arg(reference, sizeA, sizeB);
    }
    const domain::PictureInfo* side = a != nullptr ? a : b;
    const QString size = sizeText(side->width, side->height);
    if (reference == kNotAvailableText || reference == size) {
        return size;
    }
    return QStringLiteral("Ref %1 / Enc %2").arg(reference, size);
}

std::int32_t layoutBitDepth(domain::ReferenceYuvLayout layout) {
    return media::referenceYuvLayoutInfo(layout).bitDepth;
}

QString matchText(const std::optional<domain::ReferenceYuvSource>& reference, const ComparePicturePair& pair,
                  const domain::PictureInfo* a, const domain::PictureInfo* b) {
    if (reference.has_value() && !pair.referenceFrameIndex.has_value()) {
        return QStringLiteral("reference missing");
    }
    if (a == nullptr) {
        return b != nullptr ? QStringLiteral("A missing") : QStringLiteral("unavailable");
    }
    if (b == nullptr) {
        return QStringLiteral("B missing");
    }
    if (reference.has_value()) {
        const std::int32_t depth = layoutBitDepth(reference->layout);
        const auto matchesReference = [&](const domain::PictureInfo& side) {
            return side.width == reference->width && side.height == reference->height && side.bitDepth == depth;
        };
        if (!matchesReference(*a) || !matchesReference(*b)) {
            return QStringLiteral("reference format mismatch");
        }
    }
    if (a->width != b->width || a->height != b->height) {
        return QStringLiteral("size mismatch");
    }
    if (a->bitDepth != b->bitDepth) {
        return QStringLiteral("bit-depth mismatch");
    }
    return QStringLiteral("matched");
}

// The All-plane PSNR of a side that counts for the winner.
std::optional<double> countingPsnr(const std::optional<media::FrameQualityMetrics>& metrics) {
    if (!metrics.has_value() || metrics->all.status != QualityMetricStatus::Available) {
        return std::nullopt;
    }
    return metrics->all.psnr;
}

}  // namespace

ComparePicturePairModel::ComparePicturePairModel(QObject* parent) : QAbstractTableModel(parent) {}

int ComparePicturePairModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ComparePicturePairModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant ComparePicturePairModel::data(const QModelIndex& index, int role) const {
    const std::optional<std::size_t> row = displayedRow(index, role, rows_.size(), kColumnCount);
    if (!row.has_value()) {
        return {};
    }
    const ComparePicturePair& pair = rows_[*row];
    switch (index.column()) {
    case 0:
        return decimalText(pair.frameIndex);
    case 1:
        return formatOptionalInt64(pair.referenceFrameIndex);
    case 2:
        return formatOptionalInt64(pair.displayIndexA);
    case 3:
        return formatOptionalInt64(pair.displayIndexB);
    case 4:
        return formatOptionalInt32(pair.pocA);
    case 5:
        return formatOptionalInt32(pair.pocB);
    case 6:
        return pictureTypeCell(pair.pictureTypeA);
    case 7:
        return pictureTypeCell(pair.pictureTypeB);
    case 8:
        return pair.resolutionText;
    case 9:
        return pair.matchText;
    case 10:
        return psnrCell(pair, true, false);
    case 11:
        return psnrCell(pair, true, true);
    case 12:
        return psnrCell(pair, false, false);
    case 13:
        return psnrCell(pair, false, true);
    default:
        return winnerCell(pair);
    }
}

QVariant ComparePicturePairModel::headerData(int section, Qt::Orientation orientation, int role) const {
    return horizontalHeader(kHeaders, section, orientation, role);
}

bool ComparePicturePairModel::setPictures(const domain::PictureInfoBatch& picturesA,
                                          const domain::PictureInfoBatch& picturesB) {
    if (addArrivedPictures(picturesA, picturesB)) {
        return false;
    }
    picturesA_ = picturesA;
    picturesB_ = picturesB;
    rebuild();
    return true;
}

void ComparePicturePairModel::setReferenceYuvSource(const std::optional<domain::ReferenceYuvSource>& source) {
    reference_ = source;
    rebuild();
}

void ComparePicturePairModel::setQualityResultStore(const application::QualityResultStore* store) {
    if (qualityResults_ != nullptr) {
        disconnect(qualityResults_, nullptr, this, nullptr);
    }
    qualityResults_ = store;
    if (store != nullptr) {
        connect(store, &application::QualityResultStore::pairsStored, this, &ComparePicturePairModel::onPairsStored);
        connect(store, &application::QualityResultStore::cleared, this, &ComparePicturePairModel::onResultsCleared);
        // A store that goes away first leaves the model without metrics, not with a dangling pointer.
        connect(store, &QObject::destroyed, this, [this] { qualityResults_ = nullptr; });
    }
    onResultsCleared();
}

const application::QualityPairResult* ComparePicturePairModel::qualityResultAt(int row) const {
    const ComparePicturePair* pair = pairAt(row);
    return pair != nullptr ? resultOf(*pair) : nullptr;
}

const application::QualityPairResult* ComparePicturePairModel::resultOf(const ComparePicturePair& pair) const {
    return qualityResults_ != nullptr ? qualityResults_->find(pair.frameIndex) : nullptr;
}

// A batch names frames in any order and may name frames without a row: the changed rows are
// announced as one span, which views repaint as cheaply as one row.
void ComparePicturePairModel::onPairsStored(const QList<qint64>& frameIndices) {
    std::optional<int> first;
    std::optional<int> last;
    for (const qint64 frameIndex : frameIndices) {
        const int row = rowForFrameIndex(frameIndex);
        if (row >= 0) {
            first = std::min(first.value_or(row), row);
            last = std::max(last.value_or(row), row);
        }
    }
    if (first) {
        announceMetricRows(*first, *last);
    }
}

void ComparePicturePairModel::onResultsCleared() {
    if (!rows_.empty()) {
        announceMetricRows(0, static_cast<int>(rows_.size()) - 1);
    }
}

void ComparePicturePairModel::announceMetricRows(int firstRow, int lastRow) {
    emit dataChanged(index(firstRow, kFirstMetricColumn), index(lastRow, kLastMetricColumn), {Qt::DisplayRole});
}

const ComparePicturePair* ComparePicturePairModel::pairAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return nullptr;
    }
    return &rows_[static_cast<std::size_t>(row)];
}

int ComparePicturePairModel::rowForFrameIndex(std::int64_t frameIndex) const {
    // Rows are in ascending frame index, one per index.
    const auto found = std::lower_bound(rows_.begin(), rows_.end(), frameIndex,
                                        [](const ComparePicturePair& pair, std::int64_t wanted) {
                                            return pair.frameIndex < wanted;
                                        });
    if (found == rows_.end() || found->frameIndex != frameIndex) {
        return -1;
    }
    return static_cast<int>(found - rows_.begin());
}

std::optional<domain::PictureId> ComparePicturePairModel::pictureIdAAt(int row) const {
    const ComparePicturePair* pair = pairAt(row);
    return pair != nullptr ? pair->pictureIdA : std::nullopt;
}

std::optional<domain::PictureId> ComparePicturePairModel::pictureIdBAt(int row) const {
    const ComparePicturePair* pair = pairAt(row);
    return pair != nullptr ? pair->pictureIdB : std::nullopt;
}

void ComparePicturePairModel::rebuild() {
    framesA_ = framePositions(picturesA_);
    framesB_ = framePositions(picturesB_);
    std::vector<std::int64_t> frames;
    frames.reserve(framesA_.size() + framesB_.size());
    for (const FramePositions* side : {&framesA_, &framesB_}) {
        for (const auto& [frameIndex, position] : *side) {
            frames.push_back(frameIndex);
        }
    }
    if (reference_.has_value()) {
        for (std::uint64_t frame = 0; frame < reference_->matchedFrames; ++frame) {
            frames.push_back(static_cast<std::int64_t>(frame));
        }
    }
    sortUnique(frames);

    std::vector<ComparePicturePair> rows;
    rows.reserve(frames.size());
    for (const std::int64_t frameIndex : frames) {
        rows.push_back(makePair(frameIndex));
    }
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

bool ComparePicturePairModel::addArrivedPictures(const domain::PictureInfoBatch& picturesA,
                                                 const domain::PictureInfoBatch& picturesB) {
    if (!extendsHeldPictures(picturesA, picturesA_) || !extendsHeldPictures(picturesB, picturesB_)) {
        return false;
    }
    std::vector<std::int64_t> arrived;
    const auto takeArrived = [&arrived](const domain::PictureInfoBatch& given, domain::PictureInfoBatch& held,
                                        FramePositions& positions) {
        for (std::size_t position = held.size(); position < given.size(); ++position) {
            held.push_back(given[position]);
            positions[given[position].displayIndex] = position;
            arrived.push_back(given[position].displayIndex);
        }
    };
    takeArrived(picturesA, picturesA_, framesA_);
    takeArrived(picturesB, picturesB_, framesB_);
    sortUnique(arrived);
    placeArrivedFrames(std::move(arrived));
    return true;
}

void ComparePicturePairModel::placeArrivedFrames(std::vector<std::int64_t> frames) {
    // Pictures arrive in display order, so most frames are new rows after the last one: they go
    // in as one insertion. A frame that already has a row (the other side's, or the reference's)
    // has that row updated.
    const auto firstAfterRows = std::find_if(frames.begin(), frames.end(), [this](std::int64_t frame) {
        return rows_.empty() || frame > rows_.back().frameIndex;
    });
    for (auto frame = frames.begin(); frame != firstAfterRows; ++frame) {
        const int row = rowForFrameIndex(*frame);
        if (row >= 0) {
            rows_[static_cast<std::size_t>(row)] = makePair(*frame);
            emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
            continue;
        }
        const auto at = std::lower_bound(rows_.begin(), rows_.end(), *frame,
                                         [](const ComparePicturePair& pair, std::int64_t wanted) {
                                             return pair.frameIndex < wanted;
                                         });
        const int newRow = static_cast<int>(at - rows_.begin());
        beginInsertRows({}, newRow, newRow);
        rows_.insert(at, makePair(*frame));
        endInsertRows();
    }
    if (firstAfterRows == frames.end()) {
        return;
    }
    const int firstNewRow = static_cast<int>(rows_.size());
    beginInsertRows({}, firstNewRow, firstNewRow + static_cast<int>(frames.end() - firstAfterRows) - 1);
    for (auto frame = firstAfterRows; frame != frames.end(); ++frame) {
        rows_.push_back(makePair(*frame));
    }
    endInsertRows();
}

ComparePicturePair ComparePicturePairModel::makePair(std::int64_t frameIndex) const {
    const domain::PictureInfo* a = pictureOfFrame(framesA_, picturesA_, frameIndex);
    const domain::PictureInfo* b = pictureOfFrame(framesB_, picturesB_, frameIndex);
    ComparePicturePair pair;
    pair.frameIndex = frameIndex;
    if (reference_.has_value() && frameIndex >= 0 &&
        static_cast<std::uint64_t>(frameIndex) < reference_->matchedFrames) {
        pair.referenceFrameIndex = reference_->frameOffset + frameIndex;
    }
    if (a != nullptr) {
        pair.pictureIdA = a->id;
        pair.displayIndexA = a->displayIndex;
        pair.pocA = a->poc;
        pair.pictureTypeA = display::codeOf(a->pictureType);
    }
    if (b != nullptr) {
        pair.pictureIdB = b->id;
        pair.displayIndexB = b->displayIndex;
        pair.pocB = b->poc;
        pair.pictureTypeB = display::codeOf(b->pictureType);
    }
    const QString referenceSize =
        reference_.has_value() ? sizeText(reference_->width, reference_->height) : kNotAvailableText;
    pair.resolutionText = resolutionText(referenceSize, a, b);
    pair.matchText = matchText(reference_, pair, a, b);
    return pair;
}

QString ComparePicturePairModel::psnrCell(const ComparePicturePair& pair, bool sideA, bool allPlanes) const {
    if (!reference_.has_value()) {
        return kNoReference;
    }
    const bool hasPicture = sideA ? pair.pictureIdA.has_value() : pair.pictureIdB.has_value();
    if (!hasPicture) {
        return QStringLiteral("Missing");
    }
    if (!pair.referenceFrameIndex.has_value()) {
        return QStringLiteral("Ref missing");
    }
    const application::QualityPairResult* result = resultOf(pair);
    const std::optional<media::FrameQualityMetrics>* metrics =
        result == nullptr ? nullptr : (sideA ? &result->metricsA : &result->metricsB);
    if (metrics != nullptr && metrics->has_value()) {
        const media::PlaneQualityMetrics& plane = allPlanes ? (*metrics)->all : (*metrics)->y;
        if (plane.status != QualityMetricStatus::Available) {
            return metricStatusText(plane.status);
        }
        if (plane.psnr.has_value()) {
            return std::isinf(*plane.psnr) ? QStringLiteral("inf") : QString::number(*plane.psnr, 'f', 2);
        }
    }
    return kNotAvailableText;
}

QString ComparePicturePairModel::winnerCell(const ComparePicturePair& pair) const {
    if (!reference_.has_value()) {
        return kNoReference;
    }
    const application::QualityPairResult* result = resultOf(pair);
    if (result == nullptr) {
        return kNotAvailableText;
    }
    const std::optional<double> psnrA = countingPsnr(result->metricsA);
    const std::optional<double> psnrB = countingPsnr(result->metricsB);
    if (!psnrA.has_value() && !psnrB.has_value()) {
        return kNotAvailableText;
    }
    if (!psnrB.has_value()) {
        return QStringLiteral("A only");
    }
    if (!psnrA.has_value()) {
        return QStringLiteral("B only");
    }
    const QString tie = QStringLiteral("Tie");
    if (std::isinf(*psnrA) && std::isinf(*psnrB)) {
        return tie;
    }
    if (std::abs(*psnrA - *psnrB) <= kPsnrTieTolerance) {
        return tie;
    }
    return *psnrA > *psnrB ? QStringLiteral("A") : QStringLiteral("B");
}

}  // namespace vexilo
