#include "vexilo/ui/MainWindow.h"

#include "QualityAnalysisRun.h"
#include "QualityTexts.h"

#include "vexilo/application/ProjectController.h"
#include "vexilo/models/ComparePicturePairModel.h"
#include "vexilo/views/FrameViewer.h"

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

QString optionalNumberText(const std::optional<std::int64_t>& value)
{
    return value ? QString::number(*value) : QString::fromLatin1(kNotAvailable);
}

}  // namespace

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
    if (qualityRun != nullptr) {
        qualityRun->requestCancel();
    }
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
    const bool running = qualityRun != nullptr && qualityRun->isRunning();
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
    if (qualityRun == nullptr) {
        qualityRun = new QualityAnalysisRun(this);
        connect(qualityRun, &QualityAnalysisRun::resultReady, this, &MainWindow::onQualityRunResult);
        connect(qualityRun, &QualityAnalysisRun::finished, this, &MainWindow::onQualityRunFinished);
    }
    qualityRunLabel = label;
    qualityRunPairCount = input.requests.size();
    qualityRunReportedFrames.clear();
    qualityRun->start(std::move(input), label);
    reportTaskMessage(tr("Quality analysis started: %1").arg(label));
}

void MainWindow::onQualityRunResult(const application::QualityPairResult& result)
{
    if (comparePicturePairModel == nullptr) {
        return;
    }
    applyQualityResults(result);
    comparePicturePairModel->setPairMetrics(result.frameIndex, result.metricsA, result.metricsB);
    updateMetricSummary();
    qualityRunReportedFrames.insert(result.frameIndex);
    showQualityRunProgress();
}

// Said on the run's label and in the status bar, not in the log: one line per pair would bury it.
void MainWindow::showQualityRunProgress()
{
    const QString text = tr("%1: %2 of %3 pairs measured")
                             .arg(qualityRunLabel, QString::number(qualityRunReportedFrames.size()),
                                  QString::number(qualityRunPairCount));
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

void MainWindow::stopQualityAnalysisThread()
{
    if (qualityRun != nullptr) {
        qualityRun->stop();
    }
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
    const auto found = qualityResults.find(pair->frameIndex);
    const application::QualityPairResult* result = found == qualityResults.end() ? nullptr : &found->second;
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
    metricSummaryLabel->setText(
        tr("Frame %1  |  Ref frame %2\nA Picture ID: %3  |  B Picture ID: %4\n%5\n%6\n\n%7\n\n%8")
            .arg(QString::number(pair->frameIndex), optionalNumberText(pair->referenceFrameIndex),
                 optionalNumberText(pair->pictureIdA), optionalNumberText(pair->pictureIdB),
                 referenceYuvSource ? tr("Reference YUV attached") : tr("No reference YUV attached"),
                 winnerSummaryText(pair->metricsA, pair->metricsB),
                 sideQualityText(QStringLiteral("A"), pair->pictureIdA.has_value(), pair->metricsA),
                 sideQualityText(QStringLiteral("B"), pair->pictureIdB.has_value(), pair->metricsB)));
}

}  // namespace vexilo
