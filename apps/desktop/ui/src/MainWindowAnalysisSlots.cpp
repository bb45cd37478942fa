// Stream analysis commands, the analysis signals of the stream A controller, and what the
// per-picture views show while the selected picture's analysis is missing, loading or loaded.
#include "vexilo/ui/MainWindow.h"

#include "MainWindowFlowSupport.h"

#include "vexilo/application/ProjectController.h"
#include "vexilo/models/BlockInfoModel.h"
#include "vexilo/models/ComparePicturePairModel.h"
#include "vexilo/models/InspectorModel.h"
#include "vexilo/models/PictureTableModel.h"
#include "vexilo/models/SliceTableModel.h"
#include "vexilo/models/StreamStatisticsModel.h"
#include "vexilo/models/SyntaxTreeModel.h"
#include "vexilo/views/FrameViewer.h"
#include "vexilo/views/PictureStripWidget.h"

#include <QItemSelectionModel>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QTableView>
#include <QTreeView>

#include <array>
#include <unordered_map>

namespace vexilo {

using application::PictureAnalysisStatus;
using flow::decimal;
using flow::showLabelText;

// One row of what the per-picture views show for an analysis status. A null text stands for the
// message that came with the status.
struct PictureAnalysisDisplay {
    const char* inspectorLabel;  // %1 picture id, %2 the message
    const char* value;
    const char* condition;
    const char* status;
    const char* semantics;
    const char* blockInfoDetail;
    const char* blockInfoState;
    const char* syntaxMessage;
    const char* syntaxStatus;
    bool resetViews;      // drop the analysis and clear tree, slices, syntax views and overlays first
    bool clearBlockInfo;  // clear Block Info before its message
};

namespace {

using Display = PictureAnalysisDisplay;

const QString kPictureAnalysisField = QStringLiteral("Picture analysis");
constexpr const char* kNoAnalysisLabel = "Picture ID: %1\nNo analysis loaded. Use Tools > Analyze Stream.";
constexpr const char* kLoadingAnalysisLabel = "Picture ID: %1\nLoading analysis...";

// On a new selection, by the status the controller already knows.
constexpr Display kSelectionPending{kLoadingAnalysisLabel, "loading", "Repository async picture payload", "pending",
                                    "Waiting for AnalysisRepository; frame viewer remains usable", "Loading analysis",
                                    "pending", "Loading analysis...", "pending", false, false};
constexpr Display kSelectionIndexReady{"Picture ID: %1\nAnalysis available; loading details...", "loading details",
                                       "Repository picture cache exists", "pending",
                                       "The per-picture payload is being loaded asynchronously",
                                       "Loading structure details", "pending", "Loading syntax details...", "pending",
                                       false, false};
constexpr Display kSelectionUnavailable{kNoAnalysisLabel, "N/A",
                                        "Analyze Stream has not produced a cache entry for this picture",
                                        "unavailable",
                                        "Run Analyze Stream or Reanalyze to populate NAL/Slice/RPS/DPB views",
                                        "Hover shows fallback grid", "fallback", "No analysis loaded", "unavailable",
                                        false, false};

// On a status change of the selected picture.
constexpr Display kStatusFailed{"Picture ID: %1\nAnalysis failed: %2", nullptr, "Repository picture payload", "failed",
                                "The cache entry could not be loaded or was rejected", nullptr, "failed", nullptr,
                                "failed", true, true};
constexpr Display kStatusIndexReady{"Picture ID: %1\nAnalysis index ready; loading details...", nullptr,
                                    "Repository cache index", "ready",
                                    "Per-picture syntax payload is loading asynchronously", nullptr, "ready", nullptr,
                                    "pending", false, false};
constexpr Display kStatusPending{kLoadingAnalysisLabel, nullptr, "Repository async picture payload", "pending",
                                 "Waiting for per-picture analysis data", nullptr, "pending", nullptr, "pending", false,
                                 false};
constexpr Display kStatusNone{kNoAnalysisLabel, nullptr, "No repository cache entry for this picture", "unavailable",
                              "Run Analyze Stream or Reanalyze to populate syntax views", nullptr, "unavailable",
                              nullptr, "unavailable", true, true};

const Display& selectionDisplay(PictureAnalysisStatus status)
{
    switch (status) {
    case PictureAnalysisStatus::Pending:
        return kSelectionPending;
    case PictureAnalysisStatus::IndexReady:
        return kSelectionIndexReady;
    default:
        return kSelectionUnavailable;
    }
}

const Display& statusChangeDisplay(PictureAnalysisStatus status)
{
    switch (status) {
    case PictureAnalysisStatus::Failed:
        return kStatusFailed;
    case PictureAnalysisStatus::IndexReady:
        return kStatusIndexReady;
    case PictureAnalysisStatus::Pending:
        return kStatusPending;
    default:
        return kStatusNone;
    }
}

QString textOr(const char* text, const QString& message) { return text != nullptr ? QString::fromUtf8(text) : message; }

bool hasStructure(const analysis::StreamAnalysis& document)
{
    return !document.ctus.empty() || !document.cus.empty() || !document.pus.empty() || !document.tus.empty() ||
           !document.motionVectors.empty();
}

QString projectStateName(application::ProjectState state)
{
    static constexpr std::array<const char*, 6> kNames{"Empty", "Opening", "Ready", "Analyzing", "Cancelling",
                                                       "Closing"};
    const auto index = static_cast<std::size_t>(state);
    return QString::fromLatin1(index < kNames.size() ? kNames[index] : "Error");
}

}  // namespace

// ---- Commands -------------------------------------------------------------------------------

void MainWindow::onAnalyzeStreamRequested()
{
    if (projectController != nullptr) {
        projectController->analyzeStream();
    }
}

void MainWindow::onAnalyzeCurrentPictureStructureRequested()
{
    if (projectController != nullptr) {
        projectController->analyzeCurrentPictureStructure();
    }
}

void MainWindow::onCancelAnalysisRequested()
{
    if (projectController != nullptr) {
        projectController->cancelAnalysis();
    }
}

void MainWindow::onReanalyzeStreamRequested()
{
    if (projectController != nullptr) {
        projectController->reanalyzeStream();
    }
}

void MainWindow::onClearAnalysisCacheRequested()
{
    if (projectController != nullptr) {
        projectController->clearAnalysisCache();
    }
}

void MainWindow::onBackendStatusRequested()
{
    const QString backend = application::ProjectController::isBackendAvailable()
                                ? tr("FFmpeg backend available")
                                : tr("Backend unavailable: FFmpeg support disabled");
    const application::ProjectState state =
        projectController != nullptr ? projectController->state() : application::ProjectState::Empty;
    QMessageBox::information(this, tr("Backend Status"),
                             tr("%1\nProject state: %2").arg(backend, projectStateName(state)), QMessageBox::Ok);
}

// ---- Stream analysis ------------------------------------------------------------------------

void MainWindow::dropPictureAnalysis()
{
    pictureAnalysis.reset();
    pictureAnalysisPictureId.reset();
}

void MainWindow::forgetStreamAnalysis()
{
    streamAnalysisReady = false;
    streamAnalysis.reset();
    dropPictureAnalysis();
}

// A new run or an emptied cache: the strip's references and the statistics' analysis go too.
void MainWindow::forgetStreamAnalysisViews()
{
    forgetStreamAnalysis();
    if (pictureStrip != nullptr) {
        pictureStrip->clearAnalysis();
    }
    if (streamStatisticsModel != nullptr) {
        streamStatisticsModel->clearStreamAnalysis();
    }
}

void MainWindow::showFreshBlockInfoMessage(const QString& detail, const QString& state)
{
    if (blockInfoModel != nullptr) {
        blockInfoModel->clear();
        blockInfoModel->showMessage(flow::kBlockInfoTitle, detail, state);
    }
}

void MainWindow::clearPictureObjectViews()
{
    if (syntaxTreeModel != nullptr) {
        syntaxTreeModel->clear();
    }
    if (sliceTableModel != nullptr) {
        sliceTableModel->clear();
    }
    if (inspectorModel != nullptr) {
        inspectorModel->clear();
    }
}

void MainWindow::onAnalysisStarted(qulonglong /*generation*/, QString taskId)
{
    reportTaskMessage(tr("Analysis started: %1").arg(taskId));
    forgetStreamAnalysisViews();
    showFreshBlockInfoMessage(tr("Analysis running"), QStringLiteral("pending"));
    showTaskProgress(true);
    refreshAiEvidence(tr("Analysis started"));
    updateActionStates();
}

void MainWindow::onAnalysisFinished(qulonglong generation)
{
    reportTaskMessage(tr("Analysis finished: generation %1").arg(decimal(static_cast<std::uint64_t>(generation))));
    streamAnalysisReady = true;
    showTaskProgress(false);
    refreshAiEvidence(tr("Analysis finished"));
    updateActionStates();
}

void MainWindow::onAnalysisCanceled(qulonglong generation)
{
    reportTaskMessage(tr("Analysis canceled: generation %1").arg(decimal(static_cast<std::uint64_t>(generation))));
    forgetStreamAnalysis();
    autoStructureRequestedPictures.clear();
    showFreshBlockInfoMessage(tr("Canceled"), QStringLiteral("idle"));
    showTaskProgress(false);
    refreshAiEvidence(tr("Analysis canceled"));
    updateActionStates();
}

void MainWindow::onAnalysisCacheCleared(qulonglong generation)
{
    reportTaskMessage(tr("Analysis cache cleared: generation %1").arg(decimal(static_cast<std::uint64_t>(generation))));
    forgetStreamAnalysisViews();
    autoStructureRequestedPictures.clear();
    forgetAnalysisErrors();
    showFreshBlockInfoMessage(tr("Analysis cache cleared"), QStringLiteral("idle"));
    refreshAiEvidence(tr("Analysis cache cleared"));
    updateActionStates();
}

void MainWindow::clearSelectedPictureAnalysisViews()
{
    dropPictureAnalysis();
    if (syntaxTreeModel != nullptr) {
        syntaxTreeModel->clear();
    }
    if (sliceTableModel != nullptr) {
        sliceTableModel->clear();
    }
    clearPictureSyntaxViews();
    if (frameViewer != nullptr) {
        frameViewer->clearAnalysis();
    }
}

void MainWindow::onAnalysisError(application::AnalysisTaskError error)
{
    if (projectController != nullptr && projectController->isOpeningThroughAnalyzer()) {
        showAnalyzerFallbackNotice(error.message);
    }
    const QString text = error.pictureId ? tr("%1 for Picture ID %2: %3")
                                               .arg(error.code, decimal(static_cast<std::uint64_t>(*error.pictureId)),
                                                    error.message)
                                         : QStringLiteral("%1: %2").arg(error.code, error.message);
    showLabelText(taskStateLabel, text);
    appendLog(QStringLiteral("%1\n%2").arg(text, error.detail));

    const std::optional<domain::PictureId> selected =
        projectController != nullptr ? projectController->selectedPictureId() : std::nullopt;
    if (selected) {
        clearSelectedPictureAnalysisViews();
        if (pictureStrip != nullptr) {
            pictureStrip->clearAnalysis();
        }
        const QString state = error.code.contains(QStringLiteral("unavailable")) ? QStringLiteral("unsupported")
                                                                                 : QStringLiteral("failed");
        showLabelText(inspectorStateLabel, tr("Picture ID: %1\nAnalysis unavailable: %2")
                                               .arg(decimal(static_cast<std::uint64_t>(*selected)), error.message));
        if (inspectorModel != nullptr) {
            inspectorModel->showSingleRow(kPictureAnalysisField, error.message, tr("Analyzer Worker / Repository"),
                                          state,
                                          error.detail.isEmpty() ? tr("No analysis cache was loaded") : error.detail);
        }
        showFreshBlockInfoMessage(error.message, state);
        showPictureAnalysisStatus(error.message, QStringLiteral("failed"));
    }
    refreshAiEvidence(tr("Analysis error"));
    updateActionStates();
}

void MainWindow::onStreamAnalysisLoaded(qulonglong /*generation*/, application::StreamAnalysisPtr analysis)
{
    // Shared with the repository that read it; an absent document reads as an empty one.
    streamAnalysis = analysis ? std::move(analysis) : std::make_shared<const analysis::StreamAnalysis>();
    streamAnalysisReady = true;
    if (streamStatisticsModel != nullptr) {
        streamStatisticsModel->setStreamAnalysis(streamAnalysis);
    }
    refinePictureRows(*streamAnalysis);
    noteStreamAnalysisErrors(*streamAnalysis);
    refreshAiEvidence(tr("Stream analysis loaded"));
    if (streamStatisticsView != nullptr) {
        streamStatisticsView->expandToDepth(1);
    }
    autoAnalyzeCurrentPictureStructure(tr("Stream analysis loaded"));
}

// Frame packets of the analyzer road carry no decode index, DTS or POC; the stream document
// knows them for every picture at once, so the rows need not wait for each picture's payload.
// Its pictures name the analyzer's own identities: they meet the rows by display index.
void MainWindow::refinePictureRows(const analysis::StreamAnalysis& stream)
{
    if (pictureTableModel == nullptr || projectController == nullptr) {
        return;
    }
    const std::vector<domain::PictureInfo>& pictures = projectController->pictures();
    std::unordered_map<std::int64_t, domain::PictureId> pictureByDisplayIndex;
    pictureByDisplayIndex.reserve(pictures.size());
    for (const domain::PictureInfo& picture : pictures) {
        pictureByDisplayIndex.try_emplace(picture.displayIndex, picture.id);
    }
    for (const analysis::PictureAnalysisSummary& summary : stream.pictures) {
        const auto found = summary.displayIndex ? pictureByDisplayIndex.find(*summary.displayIndex)
                                                : pictureByDisplayIndex.end();
        if (found != pictureByDisplayIndex.end()) {
            analysis::PictureAnalysisSummary rebound = summary;
            rebound.pictureId = static_cast<std::uint64_t>(found->second);
            pictureTableModel->updatePicture(rebound);
            if (summary.completeness == analysis::PictureCompleteness::Failed) {
                pictureTableModel->markPictureFailed(found->second);
            }
        }
    }
}

// ---- Per-picture analysis -------------------------------------------------------------------

void MainWindow::onPictureAnalysisLoaded(application::PictureAnalysisPayload payload)
{
    // Shared as it came: the document was made final on the job thread that read it.
    const std::shared_ptr<const analysis::StreamAnalysis> document =
        payload.analysis ? std::move(payload.analysis) : std::make_shared<const analysis::StreamAnalysis>();
    if (pictureStrip != nullptr) {
        pictureStrip->setAnalysis(*document);
    }
    if (pictureTableModel != nullptr) {
        for (const analysis::PictureAnalysisSummary& summary : document->pictures) {
            pictureTableModel->updatePicture(summary);
        }
    }
    const int pictureErrors = notePictureAnalysisErrors(payload.pictureId, *document);
    // A picture loaded ahead lacks the stream's records the views below show; selecting it asks
    // for a complete payload of its own.
    if (projectController == nullptr || projectController->selectedPictureId() != payload.pictureId ||
        payload.extent != analysis::PayloadExtent::Complete) {
        return;
    }
    const domain::PictureId pictureId = payload.pictureId;
    pictureAnalysis = document;
    pictureAnalysisPictureId = pictureId;
    QString ready = tr("Picture ID: %1\nAnalysis ready\nNALs: %2  Slices: %3  Refs: %4  DPB: %5")
                        .arg(decimal(static_cast<std::uint64_t>(pictureId)),
                             QString::number(document->nalUnits.size()), QString::number(document->slices.size()),
                             QString::number(document->referencePictures.size()),
                             QString::number(document->dpbSnapshotEntries.size()));
    if (pictureErrors > 0) {
        ready += tr("\nErrors: %1 (see the log)").arg(pictureErrors);
    }
    showLabelText(inspectorStateLabel, ready);
    if (syntaxTreeModel != nullptr) {
        syntaxTreeModel->setAnalysis(document);
    }
    if (sliceTableModel != nullptr) {
        sliceTableModel->setAnalysis(document);
    }
    if (inspectorModel != nullptr) {
        inspectorModel->setAnalysis(document);
    }
    if (blockInfoModel != nullptr) {
        blockInfoModel->setAnalysis(document);
        blockInfoModel->showMessage(flow::kBlockInfoTitle, tr("Hover over the decoded frame"),
                                    QStringLiteral("ready"));
    }
    if (frameViewer != nullptr) {
        frameViewer->setAnalysis(document);
    }
    applyPictureAnalysis(document, pictureId);
    if (inspectorModel != nullptr) {
        inspectorModel->explainPicture(pictureId);
    }
    if (syntaxTreeView != nullptr) {
        syntaxTreeView->expandToDepth(0);
    }
    refreshAiEvidence(tr("Picture analysis loaded"));
    autoAnalyzeCurrentPictureStructure(tr("Picture analysis loaded"));
}

void MainWindow::autoAnalyzeCurrentPictureStructure(const QString& reason)
{
    if (projectController == nullptr || !streamAnalysisReady || projectController->isAnalysisBusy()) {
        return;
    }
    const std::optional<domain::PictureId> selected = projectController->selectedPictureId();
    if (!selected || autoStructureRequestedPictures.contains(*selected) ||
        projectController->pictureAnalysisStatus(*selected) != PictureAnalysisStatus::IndexReady) {
        return;
    }
    // Only the picture's own document, once loaded, tells that the cache lacks its blocks; the
    // one pass of an open usually gave them, and a run for a picture not read yet is wasted.
    if (!pictureAnalysis || pictureAnalysisPictureId != selected || hasStructure(*pictureAnalysis)) {
        return;
    }
    autoStructureRequestedPictures.insert(*selected);
    const QString pictureText = decimal(static_cast<std::uint64_t>(*selected));
    appendLog(tr("Auto analyzing current picture structure for Block Info: Picture ID %1 (%2)").arg(pictureText, reason));
    showLabelText(inspectorStateLabel, tr("Picture ID: %1\nAnalyzing structure metadata for Block Info...").arg(pictureText));
    projectController->analyzeCurrentPictureStructure();
}

void MainWindow::showPictureAnalysisDisplay(const PictureAnalysisDisplay& display, domain::PictureId pictureId,
                                            const QString& message)
{
    if (display.resetViews) {
        clearSelectedPictureAnalysisViews();
    }
    const QString pictureText = decimal(static_cast<std::uint64_t>(pictureId));
    const QString label = QString::fromUtf8(display.inspectorLabel);
    showLabelText(inspectorStateLabel,
                  label.contains(QStringLiteral("%2")) ? label.arg(pictureText, message) : label.arg(pictureText));
    if (inspectorModel != nullptr) {
        inspectorModel->showSingleRow(kPictureAnalysisField, textOr(display.value, message),
                                      QString::fromUtf8(display.condition), QString::fromUtf8(display.status),
                                      QString::fromUtf8(display.semantics));
    }
    const QString blockInfoDetail = textOr(display.blockInfoDetail, message);
    const QString blockInfoState = QString::fromUtf8(display.blockInfoState);
    if (display.clearBlockInfo) {
        showFreshBlockInfoMessage(blockInfoDetail, blockInfoState);
    } else if (blockInfoModel != nullptr) {
        blockInfoModel->showMessage(flow::kBlockInfoTitle, blockInfoDetail, blockInfoState);
    }
    showPictureAnalysisStatus(textOr(display.syntaxMessage, message), QString::fromUtf8(display.syntaxStatus));
}

void MainWindow::onPictureSelectionChanged(domain::PictureId pictureId)
{
    selectedFrame.reset();
    compareBSelectedFrame.reset();
    if (pictureAnalysisPictureId != pictureId) {
        dropPictureAnalysis();
    }
    for (FrameViewer* viewer : {frameViewer, compareBFrameViewer}) {
        if (viewer != nullptr) {
            viewer->clearQualityHeatmap();
        }
    }
    clearPictureObjectViews();
    showFreshBlockInfoMessage(tr("Loading picture"), QStringLiteral("pending"));
    clearPictureSyntaxViews();
    if (frameViewer != nullptr) {
        frameViewer->clearAnalysis();
    }
    if (pictureStrip != nullptr) {
        pictureStrip->setCurrentPicture(pictureId);
    }
    const PictureAnalysisStatus status =
        projectController != nullptr ? projectController->pictureAnalysisStatus(pictureId)
                                     : PictureAnalysisStatus::None;
    showPictureAnalysisDisplay(selectionDisplay(status), pictureId, QString());
    showLabelText(frameViewerStateLabel,
                  tr("Loading Picture ID %1...").arg(decimal(static_cast<std::uint64_t>(pictureId))));
    if (projectController != nullptr) {
        for (const domain::PictureInfo& picture : projectController->pictures()) {
            if (picture.id == pictureId) {
                selectComparePairRowForFrame(picture.displayIndex);
                break;
            }
        }
    }
    refreshAiEvidence(tr("Picture selection changed"));
}

void MainWindow::onPictureAnalysisStatusChanged(application::PictureAnalysisState state)
{
    if (pictureTableModel != nullptr) {
        pictureTableModel->setAnalysisStatus(state.pictureId, state.message);
    }
    const bool selected = projectController != nullptr && projectController->selectedPictureId() == state.pictureId;
    // Index ready after the details are shown must not replace them with a loading notice.
    const bool detailsShown = (syntaxTreeModel != nullptr && syntaxTreeModel->rowCount() > 0) ||
                              (sliceTableModel != nullptr && sliceTableModel->rowCount() > 0);
    if (selected && !(state.status == PictureAnalysisStatus::IndexReady && detailsShown)) {
        showPictureAnalysisDisplay(statusChangeDisplay(state.status), state.pictureId, state.message);
    }
    updateActionStates();
}

void MainWindow::onPictureSelectionCleared()
{
    if (flow::controllerIsBrowsable(projectController)) {
        showLabelText(inspectorStateLabel, flow::kNoPictureSelected);
        clearPictureObjectViews();
        if (blockInfoModel != nullptr) {
            blockInfoModel->showMessage(flow::kBlockInfoTitle, flow::kNoPictureSelected, QStringLiteral("idle"));
        }
        clearPictureSyntaxViews();
        if (pictureStrip != nullptr) {
            pictureStrip->setCurrentPicture(std::nullopt);
        }
        showLabelText(frameViewerStateLabel, flow::kNoPictureSelected);
        if (frameViewer != nullptr) {
            frameViewer->clearAnalysis();
            frameViewer->clearFrame(flow::kNoPictureSelected);
        }
    }
    refreshAiEvidence(tr("Picture selection cleared"));
    updateActionStates();
}

// ---- Navigation from the tree and the slice list --------------------------------------------

void MainWindow::explainObjectFromNavigation(const std::optional<analysis::StableId>& objectId,
                                             const std::optional<domain::PictureId>& pictureId)
{
    if (objectId) {
        if (inspectorModel != nullptr) {
            inspectorModel->explainObject(*objectId);
        }
        // A selection that the viewer itself locked is marked there already; marking it again
        // would end the lock the user just made.
        if (frameViewer != nullptr && !lockingFromViewer) {
            frameViewer->setSelectedObject(*objectId);
        }
    }
    if (pictureId) {
        selectPictureFromNavigation(*pictureId);
    }
}

void MainWindow::onSyntaxTreeCurrentChanged(const QModelIndex& current, const QModelIndex& /*previous*/)
{
    if (current.isValid() && syntaxTreeModel != nullptr) {
        explainObjectFromNavigation(syntaxTreeModel->objectIdAt(current), syntaxTreeModel->pictureIdAt(current));
    }
}

void MainWindow::onSliceCurrentRowChanged(const QModelIndex& current, const QModelIndex& /*previous*/)
{
    if (current.isValid() && sliceTableModel != nullptr) {
        explainObjectFromNavigation(sliceTableModel->sliceIdAt(current.row()),
                                    sliceTableModel->pictureIdAt(current.row()));
    }
}

void MainWindow::selectPictureFromNavigation(domain::PictureId pictureId)
{
    if (syncingPictureSelection) {
        return;
    }
    {
        const QScopedValueRollback<bool> syncing(syncingPictureSelection, true);
        selectPictureById(pictureId);
    }
    if (projectController != nullptr && projectController->selectedPictureId() != pictureId) {
        projectController->selectPicture(pictureId);
    }
}

void MainWindow::selectComparePairRowForFrame(qint64 frameIndex)
{
    if (comparePairView == nullptr || comparePicturePairModel == nullptr || comparePairView->selectionModel() == nullptr) {
        return;
    }
    const int row = comparePicturePairModel->rowForFrameIndex(frameIndex);
    if (row < 0) {
        return;
    }
    const QScopedValueRollback<bool> syncing(syncingComparePairSelection, true);
    const QModelIndex index = comparePicturePairModel->index(row, 0);
    comparePairView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                                  QItemSelectionModel::Rows);
    comparePairView->scrollTo(index, QAbstractItemView::EnsureVisible);
}

}  // namespace vexilo
