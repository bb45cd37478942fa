// What the frame viewers report under the mouse or a locked click, routed to Block Info and the
// inspector; and the fan-out of a picture's analysis to the syntax and statistics models.
#include "vexilo/ui/MainWindow.h"

#include "MainWindowFlowSupport.h"

#include "vexilo/models/BlockInfoModel.h"
#include "vexilo/models/InspectorModel.h"
#include "vexilo/models/PictureStatisticsModel.h"
#include "vexilo/models/PictureSyntaxModel.h"
#include "vexilo/models/SyntaxTreeModel.h"

#include <QItemSelectionModel>
#include <QScopedValueRollback>
#include <QTreeView>

#include <array>

namespace vexilo {
namespace {

using flow::showLabelText;

const QString kLockedPrefix = QStringLiteral("Locked");

bool isLocked(const QString& interaction) { return interaction.startsWith(kLockedPrefix, Qt::CaseSensitive); }

}  // namespace

void MainWindow::onViewerAnalysisObjectHovered(analysis::StableId objectId)
{
    showLabelText(inspectorStateLabel, tr("Block Info - hover"));
    if (inspectorModel != nullptr) {
        inspectorModel->explainObject(objectId);
    }
}

void MainWindow::onViewerAnalysisObjectSelected(analysis::StableId objectId)
{
    showLabelText(inspectorStateLabel, tr("Block Info - locked"));
    if (inspectorModel != nullptr) {
        inspectorModel->explainObject(objectId);
    }
    if (syntaxTreeModel == nullptr || syntaxTreeView == nullptr || syntaxTreeView->selectionModel() == nullptr) {
        return;
    }
    const QModelIndex index = syntaxTreeModel->indexForObject(objectId);
    if (!index.isValid()) {
        return;
    }
    const QScopedValueRollback<bool> fromViewer(lockingFromViewer, true);
    syntaxTreeView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                                 QItemSelectionModel::Rows);
    syntaxTreeView->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void MainWindow::onViewerBlockInfoAvailable(QString interaction, QString pictureId, QString displayIndex,
                                            QString lumaSample, analysis::StableId ctuId, analysis::StableId cuId,
                                            analysis::StableId puId, analysis::StableId tuId)
{
    showLabelText(inspectorStateLabel, isLocked(interaction) ? tr("Block Info - locked") : tr("Block Info - hover"));
    if (blockInfoModel != nullptr) {
        blockInfoModel->showBlockInfo(interaction, pictureId, displayIndex, lumaSample, ctuId, cuId, puId, tuId);
    }
    if (inspectorModel != nullptr) {
        inspectorModel->showBlockInfo(interaction, pictureId, displayIndex, lumaSample, ctuId, cuId, puId, tuId);
    }
}

void MainWindow::onViewerBlockInfoUnavailable(QString interaction, QString pictureId, QString displayIndex,
                                              QString lumaSample, QString fallbackCell)
{
    showLabelText(inspectorStateLabel,
                  isLocked(interaction) ? tr("Block Info - locked fallback") : tr("Block Info - hover fallback"));
    if (blockInfoModel != nullptr) {
        blockInfoModel->showBlockInfoUnavailable(interaction, pictureId, displayIndex, lumaSample, fallbackCell);
    }
    if (inspectorModel != nullptr) {
        inspectorModel->showBlockInfoUnavailable(interaction, pictureId, displayIndex, lumaSample, fallbackCell);
    }
}

void MainWindow::onViewerBlockInfoCleared(QString message)
{
    showLabelText(inspectorStateLabel, message);
    if (!pictureAnalysis || !pictureAnalysisPictureId) {
        if (blockInfoModel != nullptr) {
            blockInfoModel->showMessage(flow::kBlockInfoTitle, message, QStringLiteral("idle"));
        }
        if (inspectorModel != nullptr) {
            inspectorModel->showSingleRow(flow::kBlockInfoTitle, message, tr("viewer hover"), QStringLiteral("idle"),
                                          tr("Move the mouse over the decoded frame"));
        }
        return;
    }
    if (inspectorModel != nullptr) {
        inspectorModel->explainPicture(*pictureAnalysisPictureId);
    }
    if (blockInfoModel != nullptr) {
        blockInfoModel->showMessage(flow::kBlockInfoTitle, message, QStringLiteral("ready"));
    }
}

void MainWindow::applyPictureAnalysis(const std::shared_ptr<const analysis::StreamAnalysis>& document,
                                      domain::PictureId pictureId)
{
    for (PictureSyntaxModel* model :
         {nalSyntaxModel, vpsSyntaxModel, spsSyntaxModel, ppsSyntaxModel, seiSyntaxModel, pictureSliceSyntaxModel}) {
        if (model != nullptr) {
            model->setAnalysis(document, pictureId);
        }
    }
    if (pictureStatisticsModel != nullptr && document) {
        pictureStatisticsModel->rebuildStatistics(*document, pictureId);
    }
}

void MainWindow::showPictureAnalysisStatus(const QString& message, const QString& status)
{
    for (PictureSyntaxModel* model :
         {nalSyntaxModel, vpsSyntaxModel, spsSyntaxModel, ppsSyntaxModel, seiSyntaxModel, pictureSliceSyntaxModel}) {
        if (model != nullptr) {
            model->showAnalysisStatus(message, status);
        }
    }
    if (pictureStatisticsModel != nullptr) {
        pictureStatisticsModel->showMessage(message, status);
    }
}

}  // namespace vexilo
