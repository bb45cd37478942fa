#include "vexilo/ui/MainWindow.h"

#include "QualityTexts.h"

#include "vexilo/application/ProjectController.h"
#include "vexilo/application/QualityAnalysisService.h"
#include "vexilo/models/ComparePicturePairModel.h"
#include "vexilo/views/FrameViewer.h"
#include "vexilo/views/QualityMetricChartWidget.h"

#include <QLabel>
#include <QStatusBar>
#include <QTableView>

namespace vexilo {
namespace {

using application::QualityFrameSourceMode;

constexpr const char* kSelectedPairLabel = "selected pair";
constexpr const char* kVisiblePairsLabel = "visible pairs";
constexpr const char* kQualityDetectLabel = "Quality Detect";
constexpr const char* kNotAvailable = "N/A";
// Every pair lacks a B picture once B is gone; the summary says why rather than blaming the pair.
constexpr const char* kNoBStreamSide = "B: no B stream opened";

QString optionalNumberText(const std::optional<std::int64_t>& value)
{
    return value ? QString::number(*value) : QString::fromLatin1(kNotAvailable);
}

}  // namespace

void MainWindow::connectQualityService()
{
    const application::QualityResultStore* store = &qualityService->resultStore();
    if (comparePicturePairModel != nullptr) {
        comparePicturePairModel->setQualityResultStore(store);
    }
    if (qualityMetricChart != nullptr) {
        qualityMetricChart->setQualityResultStore(store);
    }
    connect(qualityService, &application::QualityAnalysisService::resultsReady, this,
            &MainWindow::onQualityResultsReady);
    connect(qualityService, &application::QualityAnalysisService::finished, this, &MainWindow::onQualityRunFinished);
    connect(qualityService, &application::QualityAnalysisService::runFailed, this, &MainWindow::onQualityRunFailed);
}

const application::QualityResultStore::Results& MainWindow::measuredQualityPairs() const
{
    return qualityService->resultStore().results();
}

void MainWindow::onAnalyzeSelectedPairQualityRequested()
{
    std::vector<int> rows;
    if (comparePairView != nullptr && comparePairView->currentIndex().isValid()) {
        rows.push_back(comparePairView->currentIndex().row());
    }
    startQualityAnalysisForRows(std::move(rows), tr(kSelectedPairLabel), QualityFrameSourceMode::BoundedCache);
}

void MainWindow::onAnalyzeVisiblePairQualityRequested()
{
    startQualityAnalysisForRows(visibleComparePairRows(), tr(kVisiblePairsLabel), QualityFrameSourceMode::BoundedCache);
}

void MainWindow::onAnalyzeFullStreamQualityRequested()
{
    if (!streamAnalysisReady) {
        const QString text = tr("Run Analyze Stream before Quality Detect");
        if (qualityMetricStatusLabel != nullptr) {
            qualityMetricStatusLabel->setText(text);
        }
        reportTaskMessage(text);
        return;
    }
    startQualityAnalysisForRows(allComparePairRows(), tr(kQualityDetectLabel), QualityFrameSourceMode::FullStreamDecode);
}

void MainWindow::onCancelQualityAnalysisRequested()
{
    qualityService->requestCancel();
    reportTaskMessage(tr("Quality analysis cancellation requested"));
}

void MainWindow::onQualityMetricFrameActivated(std::int64_t frameIndex)
{
    selectComparePairRowForFrame(frameIndex);
    if (comparePicturePairModel == nullptr) {
        return;
    }
    const ComparePicturePair* pair = comparePicturePairModel->pairAt(comparePicturePairModel->rowForFrameIndex(frameIndex));
    if (pair != nullptr && pair->pictureIdA) {
        selectPictureById(*pair->pictureIdA);
    }
}

application::VideoFramePtr MainWindow::frameForQualityRequest(std::optional<domain::PictureId> pictureId,
                                                              bool sideA) const
{
    application::ProjectController* controller = sideA ? projectController : compareBProjectController;
    if (!pictureId || controller == nullptr) {
        return {};
    }
    const application::VideoFramePtr& shown = sideA ? selectedFrame : compareBSelectedFrame;
    return shown && shown->index == *pictureId ? shown : controller->cachedFrame(*pictureId);
}

void MainWindow::startQualityAnalysisForRows(std::vector<int> rows, const QString& label, QualityFrameSourceMode mode)
{
    const bool running = qualityService->isRunning();
    if (rows.empty() || comparePicturePairModel == nullptr || !referenceYuvSource || running) {
        updateMetricSummary();
        updateActionStates();
        return;
    }
    application::QualityAnalysisInput input;
    for (const int row : rows) {
        const ComparePicturePair* pair = comparePicturePairModel->pairAt(row);
        if (pair == nullptr) {
            continue;
        }
        application::QualityPairRequest request;
        request.row = row;
        request.frameIndex = pair->frameIndex;
        request.referenceFrameIndex = pair->referenceFrameIndex;
        request.pictureIdA = pair->pictureIdA;
        request.pictureIdB = pair->pictureIdB;
        request.frameA = frameForQualityRequest(pair->pictureIdA, true);
        request.frameB = frameForQualityRequest(pair->pictureIdB, false);
        input.requests.push_back(std::move(request));
    }
    if (input.requests.empty()) {
        updateMetricSummary();
        updateActionStates();
        return;
    }
    input.reference = *referenceYuvSource;
    input.mode = mode;
    if (projectController != nullptr && projectController->streamInfo()) {
        input.streamAPath = projectController->streamInfo()->sourcePath;
    }
    if (compareBProjectController != nullptr && compareBProjectController->streamInfo()) {
        input.streamBPath = compareBProjectController->streamInfo()->sourcePath;
    }
    if (mode == QualityFrameSourceMode::FullStreamDecode) {
        clearQualityMetrics();
        if (qualityMetricStatusLabel != nullptr) {
            qualityMetricStatusLabel->setText(tr("Quality Detect running..."));
        }
    }
    qualityService->start(std::move(input), label);
    reportTaskMessage(tr("Quality analysis started: %1").arg(label));
}

// One batch of stored pairs: the model and the chart have followed the store already; what
// is left is the selected pair's heat maps and summary, the progress, and one evidence refresh.
void MainWindow::onQualityResultsReady(const QList<qint64>& frameIndices)
{
    const ComparePicturePair* current = comparePicturePairModel != nullptr && comparePairView != nullptr
                                            ? comparePicturePairModel->pairAt(comparePairView->currentIndex().row())
                                            : nullptr;
    if (current != nullptr && frameIndices.contains(current->frameIndex)) {
        updateQualityHeatmaps();
        updateMetricSummary();
    }
    showQualityRunProgress();
    deferredEvidenceStatus = tr("Quality metrics updated");
    scheduleDeferredRefresh();
}

// Said on the run's label and in the status bar, not in the log: one line per batch would bury it.
void MainWindow::showQualityRunProgress()
{
    const QString text = tr("%1: %2 of %3 pairs measured")
                             .arg(qualityService->runLabel(), QString::number(qualityService->reportedPairCount()),
                                  QString::number(qualityService->requestedPairCount()));
    if (qualityMetricStatusLabel != nullptr) {
        qualityMetricStatusLabel->setText(text);
    }
    statusBar()->showMessage(text);
}

void MainWindow::onQualityRunFinished(const QString& label, bool canceled)
{
    const QString text =
        canceled ? tr("Quality analysis canceled: %1").arg(label) : tr("Quality analysis finished: %1").arg(label);
    if (qualityMetricStatusLabel != nullptr) {
        qualityMetricStatusLabel->setText(text);
    }
    reportTaskMessage(text);
    updateMetricSummary();
}

void MainWindow::onQualityRunFailed(const application::QualityRunError& error)
{
    reportTaskMessage(tr("%1 [%2]: %3").arg(error.message, error.code, error.detail));
}

void MainWindow::stopQualityAnalysisThread()
{
    qualityService->stop();
}

void MainWindow::updateQualityHeatmaps()
{
    if (comparePicturePairModel == nullptr || comparePairView == nullptr || !comparePairView->currentIndex().isValid()) {
        return;
    }
    const ComparePicturePair* pair = comparePicturePairModel->pairAt(comparePairView->currentIndex().row());
    if (pair == nullptr) {
        return;
    }
    const application::QualityPairResult* result = qualityService->resultStore().find(pair->frameIndex);
    if (frameViewer != nullptr) {
        result != nullptr ? frameViewer->setQualityHeatmap(result->regionsA, tr("A quality"))
                          : frameViewer->clearQualityHeatmap();
    }
    if (compareBFrameViewer != nullptr) {
        result != nullptr ? compareBFrameViewer->setQualityHeatmap(result->regionsB, tr("B quality"))
                          : compareBFrameViewer->clearQualityHeatmap();
    }
}

void MainWindow::updateMetricSummary()
{
    if (metricSummaryLabel == nullptr || comparePicturePairModel == nullptr || comparePairView == nullptr) {
        return;
    }
    const QModelIndex current = comparePairView->currentIndex();
    const ComparePicturePair* pair = current.isValid() ? comparePicturePairModel->pairAt(current.row()) : nullptr;
    if (pair == nullptr) {
        metricSummaryLabel->setText(tr("No picture pair selected"));
        return;
    }
    static const std::optional<media::FrameQualityMetrics> kNotMeasured;
    const application::QualityPairResult* result = qualityService->resultStore().find(pair->frameIndex);
    const auto& metricsA = result != nullptr ? result->metricsA : kNotMeasured;
    const auto& metricsB = result != nullptr ? result->metricsB : kNotMeasured;
    metricSummaryLabel->setText(
        tr("Frame %1  |  Ref frame %2\nA Picture ID: %3  |  B Picture ID: %4\n%5\n%6\n\n%7\n\n%8")
            .arg(QString::number(pair->frameIndex), optionalNumberText(pair->referenceFrameIndex),
                 optionalNumberText(pair->pictureIdA), optionalNumberText(pair->pictureIdB),
                 referenceYuvSource ? tr("Reference YUV attached") : tr("No reference YUV attached"),
                 winnerSummaryText(metricsA, metricsB),
                 sideQualityText(QStringLiteral("A"), pair->pictureIdA.has_value(), metricsA),
                 hasCompareBStream() ? sideQualityText(QStringLiteral("B"), pair->pictureIdB.has_value(), metricsB)
                                     : tr(kNoBStreamSide)));
}

}  // namespace vexilo
