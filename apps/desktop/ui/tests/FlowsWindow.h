#pragma once

// One main window with its parts found the way a user's tools would find them: by object name,
// and the streams the window tests open.

#include "vexilo/ai/AiChatPanel.h"
#include "vexilo/application/ProjectController.h"
#include "vexilo/models/BlockInfoModel.h"
#include "vexilo/models/InspectorModel.h"
#include "vexilo/models/PictureTableModel.h"
#include "vexilo/ui/MainWindow.h"
#include "vexilo/views/FrameViewer.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace vexilo::test {

inline std::filesystem::path mediaPath(const char* name)
{
    return std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / name;
}

inline std::filesystem::path referencePath(const char* name)
{
    return std::filesystem::path(VEXILO_REFERENCE_STREAMS_DIR) / "hm" / name;
}

// Every cell of the top-level rows, a row per line and "|" between cells.
inline QString rowTexts(const QAbstractItemModel& model)
{
    QStringList lines;
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < model.columnCount(); ++column) {
            cells << model.index(row, column).data().toString();
        }
        lines << cells.join(QLatin1Char('|'));
    }
    return lines.join(QLatin1Char('\n'));
}

struct Window {
    std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>();
    application::ProjectController* controller =
        window->findChild<application::ProjectController*>(QStringLiteral("projectController"));
    QTableView* pictureView = window->findChild<QTableView*>(QStringLiteral("pictureView"));
    FrameViewer* viewer = window->findChild<FrameViewer*>(QStringLiteral("frameViewer"));
    BlockInfoModel* blockInfo = window->findChild<BlockInfoModel*>(QStringLiteral("blockInfoModel"));
    InspectorModel* inspector = window->findChild<InspectorModel*>(QStringLiteral("inspectorModel"));
    AiChatPanel* aiPanel = window->findChild<AiChatPanel*>();

    QString label(const char* name) const
    {
        const auto* found = window->findChild<QLabel*>(QString::fromLatin1(name));
        return found != nullptr ? found->text() : QStringLiteral("<missing %1>").arg(QString::fromLatin1(name));
    }
    QString log() const { return window->findChild<QPlainTextEdit*>(QStringLiteral("logView"))->toPlainText(); }
    QAction* action(const char* name) const { return window->findChild<QAction*>(QString::fromLatin1(name)); }
    PictureTableModel* pictureTable() const
    {
        return window->findChild<PictureTableModel*>(QStringLiteral("pictureTableModel"));
    }
    // The status bar's count of analysis errors, empty while it is not shown.
    QString analysisErrorText() const
    {
        const auto* found = window->findChild<QLabel*>(QStringLiteral("analysisErrorLabel"));
        return found != nullptr && found->isVisible() ? found->text() : QString();
    }
    int currentRow() const { return pictureView->currentIndex().row(); }

    bool open(const std::filesystem::path& path)
    {
        controller->openProject(path);
        return QTest::qWaitFor(
            [this] {
                return controller->state() == application::ProjectState::Ready && !controller->hasActiveTask();
            },
            120000);
    }
    bool frameShownFor(int row)
    {
        // Compared as plain numbers: GCC 12 at -O2 takes an optional's comparison for a read of
        // an unset value.
        constexpr domain::PictureId kNoPicture = std::numeric_limits<domain::PictureId>::min();
        const domain::PictureId wanted = pictureView->model()->index(row, 0).isValid()
                                             ? window->findChild<PictureTableModel*>()->pictureIdAt(row).value_or(kNoPicture)
                                             : kNoPicture;
        // The picture's own frame, not the one shown before it while its own is still decoded.
        const auto shown = [&] {
            if (!viewer->hasFrame() || controller->selectedPictureId().value_or(kNoPicture) != wanted) {
                return false;
            }
            const std::vector<domain::PictureInfo>& pictures = controller->pictures();
            const auto picture = std::find_if(pictures.begin(), pictures.end(),
                                              [wanted](const domain::PictureInfo& each) { return each.id == wanted; });
            return picture != pictures.end() && viewer->displayIndex() == picture->displayIndex;
        };
        return QTest::qWaitFor(shown, 30000);
    }
};

}  // namespace vexilo::test
