#include "vexilo/application/QualityResultStore.h"

#include <utility>

namespace vexilo::application {

QualityResultStore::QualityResultStore(QObject* parent) : QObject(parent) {}

const QualityPairResult* QualityResultStore::find(std::int64_t frameIndex) const {
    const auto found = results_.find(frameIndex);
    return found == results_.end() ? nullptr : &found->second;
}

void QualityResultStore::store(std::vector<QualityPairResult> batch) {
    if (batch.empty()) {
        return;
    }
    QList<qint64> frameIndices;
    frameIndices.reserve(static_cast<qsizetype>(batch.size()));
    for (QualityPairResult& result : batch) {
        frameIndices.push_back(result.frameIndex);
        const std::int64_t frameIndex = result.frameIndex;
        results_.insert_or_assign(frameIndex, std::move(result));
    }
    emit pairsStored(frameIndices);
}

void QualityResultStore::clear() {
    results_.clear();
    emit cleared();
}

}  // namespace vexilo::application
