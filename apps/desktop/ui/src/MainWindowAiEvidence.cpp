// The AI evidence: a snapshot of what the window has loaded, rendered for the chat panel when it
// needs it; and the short timer behind which the whole-stream refreshes of arriving pictures are
// gathered.
#include "vexilo/ui/MainWindow.h"

#include "ComparePairSample.h"

#include "vexilo/ai/AiChatPanel.h"
#include "vexilo/ai/AiEvidencePackBuilder.h"
#include "vexilo/application/ProjectController.h"
#include "vexilo/models/ComparePicturePairModel.h"
#include "vexilo/models/StreamStatisticsModel.h"

#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <limits>

namespace vexilo {
namespace {

// Long enough to gather the one-picture batches of the analyzer road, short enough to look live.
constexpr int kDeferredRefreshIntervalMs = 100;
// The refreshes walk the whole stream, so they grow with it; waiting this many times the last
// refresh's cost keeps their share of the GUI thread, and so the cost per arriving picture, flat.
constexpr qint64 kDeferredRefreshCostFactor = 10;

ai::AiEvidenceComparePair evidencePairOf(const ComparePicturePair& pair)
{
    return {pair.frameIndex,    pair.referenceFrameIndex, pair.pictureIdA,   pair.pictureIdB, pair.displayIndexA,
            pair.displayIndexB, pair.pocA,                pair.pocB,         pair.pictureTypeA, pair.pictureTypeB,
            pair.resolutionText, pair.matchText,          std::nullopt,      std::nullopt};
}

}  // namespace

// ---- Deferred whole-stream refreshes --------------------------------------------------------

void MainWindow::scheduleDeferredRefresh()
{
    if (deferredRefreshTimer == nullptr) {
        deferredRefreshTimer = new QTimer(this);
        deferredRefreshTimer->setObjectName(QStringLiteral("deferredRefreshTimer"));
        deferredRefreshTimer->setSingleShot(true);
        connect(deferredRefreshTimer, &QTimer::timeout, this, &MainWindow::flushDeferredRefreshes);
    }
    if (!deferredRefreshTimer->isActive()) {
        const qint64 wait = std::max<qint64>(kDeferredRefreshIntervalMs, kDeferredRefreshCostFactor * deferredRefreshCostMs);
        deferredRefreshTimer->start(static_cast<int>(std::min<qint64>(wait, std::numeric_limits<int>::max())));
    }
}

void MainWindow::dropDeferredStatisticsPictures() { deferredStatisticsPictures.clear(); }

void MainWindow::flushDeferredRefreshes()
{
    if (deferredRefreshTimer != nullptr) {
        deferredRefreshTimer->stop();
    }
    QElapsedTimer cost;
    cost.start();
    flushDeferredModelRefreshes();
    if (deferredEvidenceStatus) {
        // A copy: the refresh clears the deferred status that the text would otherwise point into.
        const QString status = *deferredEvidenceStatus;
        deferredEvidenceStatus.reset();
        refreshAiEvidence(status);
    }
    deferredRefreshCostMs = cost.elapsed();
}

void MainWindow::flushDeferredModelRefreshes()
{
    if (!deferredStatisticsPictures.empty()) {
        std::vector<domain::PictureInfo> pictures;
        pictures.swap(deferredStatisticsPictures);
        if (streamStatisticsModel != nullptr) {
            streamStatisticsModel->appendPictures(pictures);
        }
        if (streamStatisticsView != nullptr) {
            streamStatisticsView->expandToDepth(0);
        }
    }
    if (deferredComparePairRefresh) {
        refreshComparePairPictures();
    }
}

// ---- Evidence -------------------------------------------------------------------------------

// Marks the evidence out of date; the chat panel builds it when it needs it (shown, asked, read),
// so the many changes nobody looks at cost nothing.
void MainWindow::refreshAiEvidence(const QString& reason)
{
    // Any refresh still waiting is folded in first, so the evidence reads what a refresh after
    // every batch would have read.
    if (!deferredStatisticsPictures.empty() || deferredComparePairRefresh) {
        deferredEvidenceStatus.reset();
        flushDeferredRefreshes();
    }
    deferredEvidenceStatus.reset();
    if (aiChatPanel == nullptr || projectController == nullptr) {
        return;
    }
    aiEvidenceStatus = reason;
    aiChatPanel->invalidateEvidence();
}

QString MainWindow::buildAiEvidenceText()
{
    if (projectController == nullptr) {
        return {};
    }
    // Batches still waiting for the timer are what the evidence describes already.
    flushDeferredModelRefreshes();
    if (deferredEvidenceStatus) {
        aiEvidenceStatus = *deferredEvidenceStatus;
        deferredEvidenceStatus.reset();
    }
    return ai::AiEvidencePackBuilder(makeAiEvidenceSnapshot(aiEvidenceStatus)).build();
}

ai::AiEvidenceSnapshot MainWindow::makeAiEvidenceSnapshot(const QString& statusText) const
{
    ai::AiEvidenceSnapshot snapshot;
    snapshot.statusText = statusText;
    const application::QualityResultStore::Results& qualityResults = measuredQualityPairs();
    snapshot.streamInfo = projectController->streamInfo();
    snapshot.pictures = projectController->pictures();
    snapshot.selectedPictureId = projectController->selectedPictureId();
    snapshot.streamAnalysis = streamAnalysis;
    if (pictureAnalysis && pictureAnalysisPictureId == snapshot.selectedPictureId) {
        snapshot.pictureAnalysis = pictureAnalysis;
        snapshot.pictureAnalysisPictureId = pictureAnalysisPictureId;
    }
    snapshot.referenceYuv = referenceYuvSource;

    if (comparePicturePairModel != nullptr) {
        const int rowCount = std::max(0, comparePicturePairModel->rowCount());
        snapshot.comparePairCount = static_cast<std::uint64_t>(rowCount);
        std::optional<int> currentRow;
        if (comparePairView != nullptr && comparePairView->currentIndex().isValid()) {
            currentRow = comparePairView->currentIndex().row();
            if (const ComparePicturePair* pair = comparePicturePairModel->pairAt(*currentRow)) {
                snapshot.currentCompareFrameIndex = pair->frameIndex;
            }
        }
        std::vector<int> measuredRows;
        measuredRows.reserve(qualityResults.size());
        for (const auto& entry : qualityResults) {
            measuredRows.push_back(comparePicturePairModel->rowForFrameIndex(entry.first));
        }
        // Without a B stream the table's rows pair A with nothing: there is no pair to describe.
        const bool bStreamOpen = compareBProjectController != nullptr && compareBProjectController->pictureCount() > 0;
        const std::vector<int> sampledRows =
            bStreamOpen ? sampleComparePairRows(rowCount, currentRow, measuredRows) : std::vector<int>{};
        for (const int row : sampledRows) {
            const ComparePicturePair* pair = comparePicturePairModel->pairAt(row);
            if (pair == nullptr) {
                continue;
            }
            ai::AiEvidenceComparePair sampled = evidencePairOf(*pair);
            if (const auto result = qualityResults.find(pair->frameIndex); result != qualityResults.end()) {
                if (!sampled.metricsA) {
                    sampled.metricsA = result->second.metricsA;
                }
                if (!sampled.metricsB) {
                    sampled.metricsB = result->second.metricsB;
                }
            }
            snapshot.sampledComparePairs.push_back(std::move(sampled));
        }
    }

    std::optional<std::int64_t> targetFrame = snapshot.currentCompareFrameIndex;
    if (!targetFrame && snapshot.selectedPictureId) {
        const auto& pictures = snapshot.pictures;
        const auto selected = std::find_if(pictures.begin(), pictures.end(), [&](const domain::PictureInfo& picture) {
            return picture.id == *snapshot.selectedPictureId;
        });
        if (selected != pictures.end()) {
            targetFrame = selected->displayIndex;
        }
    }
    for (const auto& [frameIndex, result] : qualityResults) {
        ai::AiEvidenceQualityPair measured;
        measured.frameIndex = frameIndex;
        if (comparePicturePairModel != nullptr) {
            if (const ComparePicturePair* pair =
                    comparePicturePairModel->pairAt(comparePicturePairModel->rowForFrameIndex(frameIndex))) {
                measured.pictureIdA = pair->pictureIdA;
                measured.pictureIdB = pair->pictureIdB;
            }
        }
        measured.metricsA = result.metricsA;
        measured.metricsB = result.metricsB;
        if (targetFrame == frameIndex) {
            measured.regionsA = result.regionsA;
            measured.regionsB = result.regionsB;
        }
        snapshot.qualityPairResults.push_back(std::move(measured));
    }
    snapshot.contextCharacterLimit = ai::kAiEvidenceContextCharacterLimit;
    return snapshot;
}

}  // namespace vexilo
