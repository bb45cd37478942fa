#pragma once

#include "vexilo/application/QualityAnalysisTypes.h"

#include <QList>
#include <QObject>

#include <cstdint>
#include <map>
#include <vector>

namespace vexilo::application {

// The desktop's one copy of measured quality pairs, keyed by frame index. The compare-pair
// model, the metric chart, the heat maps and the AI evidence read it; only the quality
// service writes it.
class QualityResultStore : public QObject {
    Q_OBJECT

public:
    using Results = std::map<std::int64_t, QualityPairResult>;

    explicit QualityResultStore(QObject* parent = nullptr);

    [[nodiscard]] const Results& results() const noexcept { return results_; }
    [[nodiscard]] const QualityPairResult* find(std::int64_t frameIndex) const;
    [[nodiscard]] std::size_t size() const noexcept { return results_.size(); }
    [[nodiscard]] bool empty() const noexcept { return results_.empty(); }

    // Keeps each result under its frame index, a later one replacing an earlier one, and says
    // so once for the whole batch.
    void store(std::vector<QualityPairResult> batch);
    void clear();

signals:
    void pairsStored(QList<qint64> frameIndices);
    void cleared();

private:
    Results results_;
};

}  // namespace vexilo::application
