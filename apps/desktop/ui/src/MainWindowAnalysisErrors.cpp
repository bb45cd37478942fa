// What the window says about the errors an analysis holds: each is written to the log once, the
// status bar counts them, and the picture table marks the pictures they concern. Damage the
// decoder passes over without a word must not end in a plain "Analysis ready". A picture the
// pass left without its blocks for want of memory is not damaged: it is said to get its blocks
// on demand, and neither counts nor marks.
#include "vexilo/ui/MainWindow.h"

#include "MainWindowFlowSupport.h"

#include "vexilo/models/PictureTableModel.h"

#include <QStatusBar>
#include <QStringList>

#include <string_view>

namespace vexilo {

using flow::decimal;
using flow::fromUtf8;

namespace {

// The worker's record of blocks it could not keep in memory: the pictures it names are
// analysed again when they are selected.
constexpr std::string_view kBlocksLeftForWantOfMemory = "analyzer.observer_partial";

bool isBlocksLeftForWantOfMemory(const analysis::AnalysisErrorInfo& error)
{
    return error.code == kBlocksLeftForWantOfMemory;
}

bool isPictureOwnError(const analysis::AnalysisErrorInfo& error) { return error.relatedObjectId.has_value(); }

QString errorSummary(const analysis::AnalysisErrorInfo& error)
{
    return QStringLiteral("%1: %2").arg(fromUtf8(error.code), fromUtf8(error.message));
}

}  // namespace

void MainWindow::createAnalysisErrorLabel()
{
    analysisErrorLabel = new QLabel(statusBar());
    analysisErrorLabel->setObjectName(QStringLiteral("analysisErrorLabel"));
    analysisErrorLabel->setStyleSheet(QStringLiteral("QLabel { color: #b00020; font-weight: bold; }"));
    statusBar()->addPermanentWidget(analysisErrorLabel);
    analysisErrorLabel->hide();
}

void MainWindow::noteStreamAnalysisErrors(const analysis::StreamAnalysis& stream)
{
    streamAnalysisErrorCount = 0;
    for (const analysis::AnalysisErrorInfo& error : stream.errors) {
        if (isPictureOwnError(error)) {
            continue;
        }
        if (!isBlocksLeftForWantOfMemory(error)) {
            ++streamAnalysisErrorCount;
        }
        if (loggedAnalysisErrors.insert(error.id).second) {
            appendLog(QStringLiteral("%1\n%2").arg(errorSummary(error), fromUtf8(error.detail)));
        }
    }
    showAnalysisErrorCount();
}

// A payload carries the stream's errors and then the picture's own; only the latter mark it.
// A payload without the record of blocks left out has them, or has had them analysed since.
int MainWindow::notePictureAnalysisErrors(domain::PictureId pictureId, const analysis::StreamAnalysis& payload)
{
    QStringList own;
    bool blocksOnDemand = false;
    for (const analysis::AnalysisErrorInfo& error : payload.errors) {
        if (!isPictureOwnError(error)) {
            continue;
        }
        if (isBlocksLeftForWantOfMemory(error)) {
            blocksOnDemand = true;
            continue;
        }
        own << QStringLiteral("%1 (%2)").arg(errorSummary(error), fromUtf8(error.detail));
        if (loggedAnalysisErrors.insert(error.id).second) {
            appendLog(tr("%1 for Picture ID %2: %3\n%4")
                          .arg(fromUtf8(error.code), decimal(static_cast<std::uint64_t>(pictureId)),
                               fromUtf8(error.message), fromUtf8(error.detail)));
        }
    }
    if (pictureTableModel != nullptr) {
        pictureTableModel->setBlocksOnDemand(pictureId, blocksOnDemand);
        pictureTableModel->markPictureErrors(pictureId, own);
        for (const analysis::PictureAnalysisSummary& summary : payload.pictures) {
            if (summary.completeness == analysis::PictureCompleteness::Failed) {
                pictureTableModel->markPictureFailed(pictureId);
            }
        }
    }
    showAnalysisErrorCount();
    return static_cast<int>(own.size());
}

void MainWindow::forgetAnalysisErrors()
{
    loggedAnalysisErrors.clear();
    streamAnalysisErrorCount = 0;
    if (pictureTableModel != nullptr) {
        pictureTableModel->clearPictureMarks();
    }
    showAnalysisErrorCount();
}

void MainWindow::showAnalysisErrorCount()
{
    if (analysisErrorLabel == nullptr) {
        return;
    }
    const int pictureErrors = pictureTableModel != nullptr ? pictureTableModel->pictureErrorCount() : 0;
    const int markedPictures = pictureTableModel != nullptr ? pictureTableModel->markedPictureCount() : 0;
    const int errors = streamAnalysisErrorCount + pictureErrors;
    analysisErrorLabel->setText(
        tr("Analysis errors: %1 | pictures marked: %2").arg(QString::number(errors), QString::number(markedPictures)));
    analysisErrorLabel->setVisible(errors > 0 || markedPictures > 0);
}

}  // namespace vexilo
