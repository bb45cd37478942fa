#include "vexilo/ui/MainWindow.h"

#include "vexilo/application/ProjectController.h"
#include "vexilo/models/ComparePicturePairModel.h"
#include "vexilo/views/FrameViewer.h"

#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTableView>

#include <algorithm>
#include <numeric>

namespace vexilo {
namespace {

using application::ProjectState;

constexpr int kCompareModeBOnly = 1;

}  // namespace

// Selecting a pair shows its A and B pictures; a pair that exists only in B switches an
// A-only view to B.
void MainWindow::onComparePairCurrentRowChanged(const QModelIndex& current, const QModelIndex& /*previous*/)
{
    if (syncingComparePairSelection || !current.isValid() || comparePicturePairModel == nullptr) {
        updateActionStates();
        return;
    }
    const std::optional<domain::PictureId> idA = comparePicturePairModel->pictureIdAAt(current.row());
    const std::optional<domain::PictureId> idB = comparePicturePairModel->pictureIdBAt(current.row());
    if (!selectedFrame || !idA || selectedFrame->index != *idA) {
        selectedFrame.reset();
    }
    if (!compareBSelectedFrame || !idB || compareBSelectedFrame->index != *idB) {
        compareBSelectedFrame.reset();
    }

    if (idA) {
        {
            const QScopedValueRollback guard(syncingPictureSelection, true);
            selectPictureById(*idA);
        }
        if (projectController != nullptr && projectController->selectedPictureId() != idA &&
            !projectController->selectPicture(*idA)) {
            onSelectedFrameUnavailable(*idA, tr("The selected A picture pair could not be decoded"));
        }
    } else if (projectController != nullptr) {
        projectController->clearPictureSelection();
    }

    if (!idB || compareBProjectController == nullptr) {
        if (compareBFrameViewer != nullptr) {
            compareBFrameViewer->clearFrame(tr("No B picture in selected pair"));
            refreshWipeView();
        }
    } else {
        if (!compareBProjectController->selectPicture(*idB)) {
            clearCompareBViewer(tr("The selected B picture pair could not be decoded"));
            refreshWipeView();
        }
        if (!idA && actionCompareAOnly != nullptr && actionCompareAOnly->isChecked()) {
            applyCompareViewerMode(kCompareModeBOnly);
        }
    }
    updateMetricSummary();
    updateQualityHeatmaps();
    refreshAiEvidence(tr("Compare pair selection changed"));
    updateActionStates();
}

void MainWindow::refreshComparePairModel() { rebuildComparePairs(true); }

// Pictures arrived; the reference the model holds is still the window's.
void MainWindow::refreshComparePairPictures() { rebuildComparePairs(false); }

void MainWindow::rebuildComparePairs(bool withReference)
{
    if (comparePicturePairModel == nullptr || projectController == nullptr || compareBProjectController == nullptr) {
        return;
    }
    deferredComparePairRefresh = false;  // whatever was waiting is in this rebuild
    // A rebuild resets the table and with it the user's pair and scroll position, while the
    // viewers still show that pair and the user may be reading further down: both come back.
    // Pictures that only arrived are added to the rows in place, which keeps both.
    std::optional<std::int64_t> currentFrame;
    if (comparePairView != nullptr && comparePairView->currentIndex().isValid()) {
        if (const ComparePicturePair* pair = comparePicturePairModel->pairAt(comparePairView->currentIndex().row())) {
            currentFrame = pair->frameIndex;
        }
    }
    const QPoint scrolled = comparePairScrollPosition();
    if (withReference) {
        comparePicturePairModel->setReferenceYuvSource(referenceYuvSource);
    }
    const bool rowsRebuilt =
        comparePicturePairModel->setPictures(projectController->pictures(), compareBProjectController->pictures()) ||
        withReference;
    if (rowsRebuilt) {
        if (currentFrame) {
            selectComparePairRowForFrame(*currentFrame);
        }
        restoreComparePairScrollPosition(scrolled);
    }
    updateCompareGroupVisibility();
    updateMetricSummary();
}

QPoint MainWindow::comparePairScrollPosition() const
{
    if (comparePairView == nullptr) {
        return {};
    }
    return {comparePairView->horizontalScrollBar()->value(), comparePairView->verticalScrollBar()->value()};
}

void MainWindow::restoreComparePairScrollPosition(QPoint position)
{
    if (comparePairView == nullptr) {
        return;
    }
    // The scroll bars learn the new row count only at the view's next layout, which is due now.
    comparePairView->doItemsLayout();
    comparePairView->horizontalScrollBar()->setValue(position.x());
    comparePairView->verticalScrollBar()->setValue(position.y());
}

void MainWindow::onCompareBTaskFinished(const application::ProjectTaskSummary& summary)
{
    const QString text = tr("Finished B stream: decoded %1 picture(s)").arg(summary.picturesDecoded);
    if (compareBPictureStateLabel != nullptr) {
        compareBPictureStateLabel->setText(tr("B pictures: %1").arg(summary.picturesDecoded));
    }
    appendLog(text);
    if (frameViewer != nullptr && frameViewer->hasFrame()) {
        selectBPictureByDisplayIndex(frameViewer->displayIndex());
    }
    refreshComparePairModel();
    refreshAiEvidence(tr("B stream opened"));
    updateActionStates();
}

void MainWindow::selectBPictureByDisplayIndex(std::int64_t displayIndex)
{
    const bool bUsable = compareBProjectController != nullptr &&
                         (compareBProjectController->state() == ProjectState::Ready ||
                          compareBProjectController->state() == ProjectState::Analyzing);
    if (!bUsable) {
        clearCompareBViewer(tr("Open B stream for A/B compare"));
        refreshWipeView();
        return;
    }
    const auto& pictures = compareBProjectController->pictures();
    const auto match = std::find_if(pictures.begin(), pictures.end(), [displayIndex](const domain::PictureInfo& picture) {
        return picture.displayIndex == displayIndex;
    });
    if (match == pictures.end()) {
        clearCompareBViewer(tr("No B picture matched display index %1").arg(displayIndex));
    } else if (compareBProjectController->selectPicture(match->id)) {
        return;  // the frame arrives through selectedFrameReady
    } else {
        clearCompareBViewer(tr("B picture at display index %1 could not be selected").arg(displayIndex));
    }
    refreshWipeView();
}

std::vector<int> MainWindow::allComparePairRows() const
{
    std::vector<int> rows;
    if (comparePicturePairModel == nullptr) {
        return rows;
    }
    rows.resize(static_cast<std::size_t>(comparePicturePairModel->rowCount()));
    std::iota(rows.begin(), rows.end(), 0);
    return rows;
}

// Rows partly visible at the top or bottom count; a view taller than its rows runs to the last.
std::vector<int> MainWindow::visibleComparePairRows() const
{
    if (comparePairView == nullptr || comparePicturePairModel == nullptr || comparePicturePairModel->rowCount() == 0) {
        return {};
    }
    const int rowCount = comparePicturePairModel->rowCount();
    const int first = std::max(0, comparePairView->rowAt(0));
    int last = comparePairView->rowAt(comparePairView->viewport()->height() - 1);
    if (last < 0) {
        last = rowCount - 1;
    }
    std::vector<int> rows;
    for (int row = std::min(first, last); row <= std::max(first, last); ++row) {
        rows.push_back(row);
    }
    return rows;
}

}  // namespace vexilo
