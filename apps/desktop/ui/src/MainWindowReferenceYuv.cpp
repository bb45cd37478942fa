#include "vexilo/ui/MainWindow.h"

#include "ReferenceYuvTexts.h"

#include "vexilo/media/PathText.h"
#include "vexilo/ui/ReferenceYuvMetadataDialog.h"

#include <QFileDialog>
#include <QLabel>

namespace vexilo {
namespace {

constexpr const char* kAttachTitle = "Attach Reference YUV";
constexpr const char* kRawYuvFilter = "Raw YUV inputs (*.yuv);;All files (*.*)";

}  // namespace

void MainWindow::onAttachReferenceYuvRequested()
{
    const QString path =
        QFileDialog::getOpenFileName(this, tr(kAttachTitle), QString(), tr(kRawYuvFilter));
    if (path.isEmpty()) {
        return;
    }
    // Before the dialog opens: a cancelled dialog still leaves the old metrics cleared.
    stopQualityAnalysisThread();
    clearQualityMetrics();

    // Through UTF-8: the process locale may be "C", which cannot carry a non-ASCII name.
    ReferenceYuvMetadataDialog dialog(media::pathFromQString(path), this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    std::optional<domain::ReferenceYuvSource> accepted = dialog.acceptedSource();
    if (!accepted) {
        return;
    }
    referenceYuvSource = std::move(accepted);
    const QString description = referenceYuvDescription(*referenceYuvSource);
    if (referenceYuvStateLabel != nullptr) {
        referenceYuvStateLabel->setText(description);
    }
    updateCompareGroupVisibility();
    refreshComparePairModel();
    appendLog(tr("Attached Reference YUV: %1").arg(description));
    refreshAiEvidence(tr("Reference YUV attached"));
    updateActionStates();
}

}  // namespace vexilo
