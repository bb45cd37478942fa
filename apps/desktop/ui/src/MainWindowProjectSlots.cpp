// The file, close, cancel, navigation and about commands, and the slots that follow the stream A
// controller through a decode task.
#include "vexilo/ui/MainWindow.h"

#include "vexilo/application/QualityAnalysisService.h"

#include "MainWindowFlowSupport.h"

#include "vexilo/application/PictureThumbnailMaker.h"
#include "vexilo/application/ProjectController.h"
#include "vexilo/media/PathText.h"
#include "vexilo/models/BlockInfoModel.h"
#include "vexilo/models/PictureTableModel.h"
#include "vexilo/models/StreamStatisticsModel.h"
#include "vexilo/views/FrameViewer.h"
#include "vexilo/views/PictureStripWidget.h"

#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>

namespace vexilo {
namespace {

using application::ProjectState;
using flow::decimal;
using flow::showLabelText;

const char* const kHevcInputFilter = "HEVC inputs (*.hevc *.h265 *.mp4 *.m4v *.mov)";
const QString kFirstPictureNotSelectable = QStringLiteral("The first decoded picture could not be selected");

const domain::PictureInfo* findPicture(const application::ProjectController* controller, domain::PictureId pictureId)
{
    if (controller == nullptr) {
        return nullptr;
    }
    const auto& pictures = controller->pictures();
    const auto found = std::find_if(pictures.begin(), pictures.end(),
                                    [pictureId](const domain::PictureInfo& picture) { return picture.id == pictureId; });
    return found != pictures.end() ? &*found : nullptr;
}

QString askForHevcInput(QWidget* parent, const QString& title)
{
    return QFileDialog::getOpenFileName(parent, title, QString(), QString::fromLatin1(kHevcInputFilter));
}

// Through UTF-8: the wide-string form is converted with the process locale, and a "C" locale
// throws on a non-ASCII name.
std::filesystem::path toFilesystemPath(const QString& path) { return media::pathFromQString(path); }

}  // namespace

// ---- Commands -------------------------------------------------------------------------------

void MainWindow::onOpenHevcRequested()
{
    const QString path = askForHevcInput(this, tr("Open HEVC Input"));
    if (path.isEmpty()) {
        return;
    }
    stopQualityAnalysisThread();
    streamAnalysisReady = false;
    streamAnalysis.reset();
    dropPictureAnalysis();
    autoStructureRequestedPictures.clear();
    clearQualityMetrics();
    if (projectController != nullptr) {
        projectController->openProject(toFilesystemPath(path));
    }
}

void MainWindow::onOpenCompareBRequested()
{
    const QString path = askForHevcInput(this, tr("Open B HEVC Input"));
    if (path.isEmpty() || compareBProjectController == nullptr) {
        return;
    }
    stopQualityAnalysisThread();
    clearQualityMetrics();
    compareBOpenRequested = true;
    updateCompareGroupVisibility();
    refreshAiEvidence(tr("Opening B stream"));
    compareBProjectController->openProject(toFilesystemPath(path));
}

void MainWindow::onCloseProjectRequested()
{
    stopQualityAnalysisThread();
    compareBOpenRequested = false;
    // B goes first: its pairs refer to pictures of A.
    if (compareBProjectController != nullptr) {
        compareBProjectController->closeProject();
    }
    referenceYuvSource.reset();
    streamAnalysisReady = false;
    streamAnalysis.reset();
    dropPictureAnalysis();
    autoStructureRequestedPictures.clear();
    showLabelText(referenceYuvStateLabel, tr("No reference YUV attached"));
    refreshComparePairModel();
    showLabelText(metricSummaryLabel, tr("No quality metrics computed"));
    clearQualityMetrics();
    if (projectController != nullptr) {
        projectController->closeProject();
    }
    updateCompareGroupVisibility();
    refreshAiEvidence(flow::kNoProjectOpened);
}

void MainWindow::onCancelTaskRequested()
{
    if (qualityService != nullptr) {
        qualityService->requestCancel();
    }
    for (application::ProjectController* controller : {projectController, compareBProjectController}) {
        if (controller != nullptr) {
            controller->cancelTask();
        }
    }
}

void MainWindow::onExitRequested() { close(); }

void MainWindow::onAboutRequested()
{
    QMessageBox::about(this, tr("About Vexilo"), tr("Vexilo Desktop\nQt Widgets UI Shell"));
}

// ---- Navigation -----------------------------------------------------------------------------

void MainWindow::onFirstPictureRequested() { selectPictureRow(0); }

void MainWindow::onPreviousPictureRequested()
{
    if (pictureView != nullptr) {
        selectPictureRow(pictureView->currentIndex().row() - 1);
    }
}

void MainWindow::onNextPictureRequested()
{
    if (pictureView != nullptr) {
        selectPictureRow(pictureView->currentIndex().row() + 1);
    }
}

void MainWindow::onLastPictureRequested()
{
    if (pictureTableModel != nullptr) {
        selectPictureRow(pictureTableModel->rowCount() - 1);
    }
}

void MainWindow::selectPictureRow(int row)
{
    if (!flow::controllerIsBrowsable(projectController) || pictureTableModel == nullptr || row < 0 ||
        row >= pictureTableModel->rowCount()) {
        return;
    }
    makePictureRowCurrent(row);
}

void MainWindow::makePictureRowCurrent(int row)
{
    if (pictureView == nullptr || pictureTableModel == nullptr || pictureView->selectionModel() == nullptr) {
        return;
    }
    const QModelIndex index = pictureTableModel->index(row, 0);
    pictureView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                              QItemSelectionModel::Rows);
    pictureView->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void MainWindow::selectPictureById(domain::PictureId pictureId)
{
    if (pictureTableModel == nullptr) {
        return;
    }
    const int rows = pictureTableModel->rowCount();
    for (int row = 0; row < rows; ++row) {
        if (pictureTableModel->pictureIdAt(row) == pictureId) {
            selectPictureRow(row);
            return;
        }
    }
}

void MainWindow::onPictureCurrentRowChanged(const QModelIndex& current, const QModelIndex& /*previous*/)
{
    if (!syncingPictureSelection && projectController != nullptr) {
        const bool valid = current.isValid() && current.row() >= 0 && current.column() >= 0 &&
                           pictureTableModel != nullptr;
        const std::optional<domain::PictureId> pictureId =
            valid ? pictureTableModel->pictureIdAt(current.row()) : std::nullopt;
        if (!pictureId || !projectController->selectPicture(*pictureId)) {
            projectController->clearPictureSelection();
        }
    }
    updateActionStates();
}

// ---- Decode task ----------------------------------------------------------------------------

void MainWindow::onProjectStateChanged(ProjectState state)
{
    updateActionStates();
    showTaskProgress(state == ProjectState::Opening || state == ProjectState::Analyzing ||
                     state == ProjectState::Cancelling);
    if (state == ProjectState::Ready || state == ProjectState::Analyzing) {
        return;
    }
    dropDeferredStatisticsPictures();
    if (pictureView != nullptr) {
        pictureView->clearSelection();
    }
    if (pictureTableModel != nullptr) {
        pictureTableModel->clear();
    }
    if (pictureStrip != nullptr) {
        pictureStrip->clear();
    }
    refreshComparePairModel();
    if (state == ProjectState::Empty) {
        hideAnalyzerFallbackNotice();
        resetViews();
    }
}

// A permanent status-bar entry: the progress and finish messages of the decoder's reopen would
// otherwise replace it before anyone read why the pictures come without analysis.
void MainWindow::showAnalyzerFallbackNotice(const QString& reason)
{
    if (analyzerFallbackLabel == nullptr) {
        analyzerFallbackLabel = new QLabel(statusBar());
        analyzerFallbackLabel->setObjectName(QStringLiteral("analyzerFallbackLabel"));
        analyzerFallbackLabel->setTextFormat(Qt::PlainText);
        statusBar()->addPermanentWidget(analyzerFallbackLabel);
    }
    const QString text = tr("Analyzer Worker unavailable, opening without analysis: %1").arg(reason);
    analyzerFallbackLabel->setText(text);
    analyzerFallbackLabel->show();
    statusBar()->showMessage(text);
}

void MainWindow::hideAnalyzerFallbackNotice()
{
    if (analyzerFallbackLabel != nullptr) {
        analyzerFallbackLabel->hide();
        analyzerFallbackLabel->clear();
    }
}

void MainWindow::onTaskStarted(QString sourcePath)
{
    hideAnalyzerFallbackNotice();
    const QString text = tr("Started HEVC task: %1").arg(sourcePath);
    showLabelText(taskStateLabel, tr("Opening / probing..."));
    statusBar()->showMessage(text, 0);
    appendLog(text);
    updateActionStates();
}

void MainWindow::onTaskProgress(application::ProjectTaskProgress progress)
{
    if (progress.stage == application::kProgressStageProbing) {
        showLabelText(taskStateLabel, tr("Probing stream..."));
        statusBar()->showMessage(tr("Probing HEVC stream..."), 0);
        return;
    }
    // The analyzer road knows ahead how many pictures its pass goes through.
    const QString text = progress.expectedPictures > 0
                             ? tr("analysing blocks: %1 of %2 pictures")
                                   .arg(decimal(progress.decodedPictures), decimal(progress.expectedPictures))
                             : tr("Decoded %1 picture(s)").arg(decimal(progress.decodedPictures));
    showLabelText(taskStateLabel, text);
    showLabelText(pictureStateLabel, text);
    statusBar()->showMessage(text, 0);
    if (taskProgressBar != nullptr) {
        taskProgressBar->setFormat(text);
    }
}

void MainWindow::onStreamReady(domain::StreamInfo streamInfo)
{
    if (streamStatisticsModel != nullptr) {
        // The stream description starts the statistics afresh, so batches still waiting are moot.
        dropDeferredStatisticsPictures();
        streamStatisticsModel->setStreamInfo(streamInfo);
    }
    refreshAiEvidence(tr("Decoded stream opened"));
    showLabelText(streamStateLabel, tr("%1\n%2 x %3\n%4-bit %5")
                                        .arg(flow::fromUtf8(streamInfo.codecName), QString::number(streamInfo.width),
                                             QString::number(streamInfo.height), QString::number(streamInfo.bitDepth),
                                             flow::fromUtf8(streamInfo.pixelFormatName)));
    showLabelText(frameViewerStateLabel, flow::kNoPictureSelected);
    if (frameViewer != nullptr) {
        frameViewer->clearFrame(flow::kNoPictureSelected);
    }
    showLabelText(inspectorStateLabel, flow::kNoPictureSelected);
    if (blockInfoModel != nullptr) {
        blockInfoModel->showMessage(flow::kBlockInfoTitle, flow::kNoPictureSelected, QStringLiteral("idle"));
    }
}

void MainWindow::onPictureBatchDecoded(application::PictureInfoBatch pictures)
{
    if (streamStatisticsModel != nullptr) {
        deferredStatisticsPictures.insert(deferredStatisticsPictures.end(), pictures.begin(), pictures.end());
    }
    if (pictureStrip != nullptr) {
        // Pictures without a thumbnail yet are drawn as tiles of their picture type.
        pictureStrip->addPictures(pictures);
    }
    const bool autoSelect = pictureTableModel != nullptr && pictureTableModel->rowCount() == 0 && !pictures.empty() &&
                            projectController != nullptr && !projectController->selectedPictureId();
    if (pictureTableModel != nullptr) {
        pictureTableModel->appendPictures(std::move(pictures));
        showLabelText(pictureStateLabel, tr("%1 picture(s)").arg(pictureTableModel->rowCount()));
    }
    // The evidence and the pair rows describe the whole stream; rebuilding them for every
    // arriving picture would cost the square of the stream's length.
    deferredEvidenceStatus = tr("Decoded pictures updated");
    deferredComparePairRefresh = true;
    scheduleDeferredRefresh();

    if (autoSelect && !projectController->selectedPictureId()) {
        makePictureRowCurrent(0);
        const std::optional<domain::PictureId> first = pictureTableModel->pictureIdAt(0);
        if (!projectController->selectedPictureId() && first && !projectController->selectPicture(*first)) {
            onSelectedFrameUnavailable(*first, kFirstPictureNotSelectable);
        }
    }
    updateActionStates();
}

void MainWindow::onPictureThumbnailReady(const application::PictureThumbnail& thumbnail)
{
    if (pictureStrip != nullptr) {
        pictureStrip->setThumbnail(thumbnail);
    }
}

// Made again from the decoded frame while the frame cache still holds it; otherwise the tile
// keeps showing its picture type.
void MainWindow::onPictureThumbnailWanted(domain::PictureId pictureId, qint64 displayIndex)
{
    if (pictureStrip == nullptr || projectController == nullptr) {
        return;
    }
    if (const application::VideoFramePtr frame = projectController->cachedFrame(pictureId)) {
        application::PictureThumbnail thumbnail =
            application::makePictureThumbnail(*frame, static_cast<std::uint64_t>(displayIndex));
        thumbnail.pictureId = pictureId;
        pictureStrip->restoreThumbnail(thumbnail);
    }
}

void MainWindow::onSelectedFrameReady(application::VideoFramePtr frame)
{
    if (!frame) {
        selectedFrame.reset();
        onSelectedFrameUnavailable(0, tr("Decoded frame is empty"));
        return;
    }
    const domain::PictureInfo* picture = findPicture(projectController, static_cast<domain::PictureId>(frame->index));
    if (picture == nullptr) {
        onSelectedFrameUnavailable(static_cast<domain::PictureId>(frame->index), tr("Picture metadata is unavailable"));
        return;
    }
    selectedFrame = frame;
    const std::int64_t displayIndex = picture->displayIndex;
    if (frameViewer != nullptr) {
        frameViewer->setFrame(frame, displayIndex);
    }
    if (frameViewer == nullptr || !frameViewer->hasFrame()) {
        onSelectedFrameUnavailable(static_cast<domain::PictureId>(frame->index),
                                   frameViewer != nullptr ? frameViewer->statusMessage() : QString());
        return;
    }
    const QString bitDepth = frame->bitDepth < 1 ? tr("unknown") : QString::number(frame->bitDepth);
    showLabelText(frameViewerStateLabel,
                  tr("Display %1  |  %2 x %3  |  %4-bit %5  |  YUV/Y/U/V viewer")
                      .arg(decimal(displayIndex), QString::number(frame->width), QString::number(frame->height),
                           bitDepth, flow::fromUtf8(frame->pixelFormatName)));
    selectBPictureByDisplayIndex(displayIndex);
    refreshWipeView();
    updateMetricSummary();
    updateQualityHeatmaps();
    updateActionStates();
}

void MainWindow::onSelectedFrameUnavailable(domain::PictureId pictureId, QString reason)
{
    selectedFrame.reset();
    const QString text = pictureId != 0 ? tr("Frame unavailable for Picture ID %1: %2").arg(decimal(pictureId), reason)
                                        : tr("Frame unavailable: %1").arg(reason);
    if (frameViewer != nullptr) {
        frameViewer->showFrameUnavailable(text);
        frameViewer->clearQualityHeatmap();
    }
    showLabelText(frameViewerStateLabel, text);
    updateActionStates();
}

void MainWindow::onTaskFinished(application::ProjectTaskSummary summary)
{
    const QString text = tr("Finished: decoded %1 picture(s) from %2 packet(s)")
                             .arg(QString::number(static_cast<qint64>(summary.picturesDecoded)),
                                  QString::number(static_cast<qint64>(summary.packetsRead)));
    showLabelText(taskStateLabel, text);
    showLabelText(pictureStateLabel,
                  tr("%1 picture(s)").arg(QString::number(static_cast<qint64>(summary.picturesDecoded))));
    statusBar()->showMessage(text, 0);
    appendLog(text);
    refreshComparePairModel();
    deferredComparePairRefresh = false;
    refreshAiEvidence(tr("Decode task finished"));
    updateActionStates();
}

void MainWindow::onTaskError(application::ProjectTaskError error)
{
    resetViews();
    const QString summary = QStringLiteral("%1: %2").arg(error.source, error.message);
    const QString logText = tr("%1\nPath: %2\nBackend code: %3\n%4")
                                .arg(summary, error.path, QString::number(error.backendCode), error.detail);
    showLabelText(taskStateLabel, tr("Error: %1").arg(error.message));
    statusBar()->showMessage(summary, 0);
    appendLog(logText);
    updateActionStates();
}

void MainWindow::onTaskCanceled()
{
    resetViews();
    const QString text = tr("HEVC task canceled");
    showLabelText(taskStateLabel, tr("Canceled"));
    statusBar()->showMessage(text, 0);
    appendLog(text);
    updateActionStates();
}

// ---- Visible progress -----------------------------------------------------------------------

void MainWindow::showTaskProgress(bool busy)
{
    if (taskProgressBar == nullptr) {
        if (!busy) {
            return;
        }
        taskProgressBar = new QProgressBar(this);
        taskProgressBar->setObjectName(QStringLiteral("taskProgressBar"));
        // The picture count of a stream is not known before its end: a busy bar beside the count.
        taskProgressBar->setRange(0, 0);
        taskProgressBar->setMaximumWidth(160);
        statusBar()->addPermanentWidget(taskProgressBar);
        auto* cancel = new QToolButton(taskProgressBar->parentWidget());
        cancel->setObjectName(QStringLiteral("taskProgressCancelButton"));
        cancel->setDefaultAction(actionCancelTask);
        statusBar()->addPermanentWidget(cancel);
        connect(taskProgressBar, &QWidget::destroyed, cancel, &QObject::deleteLater);
        taskProgressCancelButton = cancel;
    }
    taskProgressBar->setVisible(busy);
    if (taskProgressCancelButton != nullptr) {
        taskProgressCancelButton->setVisible(busy);
    }
}

}  // namespace vexilo
