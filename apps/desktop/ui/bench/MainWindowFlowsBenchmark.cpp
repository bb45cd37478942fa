// The window's busy time per arriving picture while a long stream comes in one picture per batch,
// as the analyzer road delivers it: the cost per picture must stay flat from the first picture to
// the last. Beside it, the bare cost of listing the same pictures in a picture table alone.
#include "vexilo/application/ProjectController.h"
#include "vexilo/models/PictureTableModel.h"
#include "vexilo/ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <vector>

namespace {

constexpr int kPictures = 10000;
constexpr int kWindow = 1000;  // pictures averaged at the start and at the end
constexpr double kFlatnessGoal = 2.0;
// The worker hands over about ten thousand small pictures a second; the pauses between them are
// the window's idle time and are not counted.
constexpr int kPicturesPerPause = 100;
constexpr unsigned long kPauseMs = 10;

vexilo::domain::PictureInfo pictureAt(int index)
{
    vexilo::domain::PictureInfo picture;
    picture.id = index + 1;
    picture.displayIndex = index;
    picture.decodeIndex = index;
    picture.poc = index;
    picture.pictureType = index % 8 == 0 ? vexilo::domain::PictureType::I : vexilo::domain::PictureType::B;
    picture.width = 1920;
    picture.height = 1080;
    picture.bitDepth = 8;
    return picture;
}

double meanMicroseconds(const std::vector<qint64>& nanoseconds, int from, int count)
{
    qint64 sum = 0;
    for (int index = from; index < from + count; ++index) {
        sum += nanoseconds[static_cast<std::size_t>(index)];
    }
    return static_cast<double>(sum) / count / 1000.0;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    vexilo::MainWindow window;
    auto* controller = window.findChild<vexilo::application::ProjectController*>(QStringLiteral("projectController"));
    if (controller == nullptr) {
        std::fprintf(stderr, "no project controller\n");
        return 1;
    }

    std::vector<qint64> busy(kPictures);
    QElapsedTimer total;
    total.start();
    for (int index = 0; index < kPictures; ++index) {
        QElapsedTimer one;
        one.start();
        emit controller->pictureBatchDecoded(vexilo::application::PictureInfoBatch{pictureAt(index)});
        // Whatever the window deferred runs here, on the same thread, and counts as busy time.
        QCoreApplication::processEvents();
        busy[static_cast<std::size_t>(index)] = one.nsecsElapsed();
        if (index % kPicturesPerPause == kPicturesPerPause - 1) {
            QThread::msleep(kPauseMs);
        }
    }
    // The last deferred refresh, counted with the last picture.
    QElapsedTimer tail;
    tail.start();
    QThread::msleep(150);
    const qint64 tailIdle = tail.nsecsElapsed();
    tail.restart();
    QCoreApplication::processEvents();
    busy.back() += tail.nsecsElapsed();
    qint64 busyTotal = 0;
    for (const qint64 one : busy) {
        busyTotal += one;
    }
    const double totalMs = static_cast<double>(total.nsecsElapsed() - tailIdle) / 1e6;
    const double busyMs = static_cast<double>(busyTotal) / 1e6;

    vexilo::PictureTableModel bare;
    QElapsedTimer reference;
    reference.start();
    for (int index = 0; index < kPictures; ++index) {
        bare.appendPictures(vexilo::application::PictureInfoBatch{pictureAt(index)});
    }
    const double referenceMs = static_cast<double>(reference.nsecsElapsed()) / 1e6;

    const double first = meanMicroseconds(busy, 0, kWindow);
    const double last = meanMicroseconds(busy, kPictures - kWindow, kWindow);
    std::printf("window, %d one-picture batches\n", kPictures);
    std::printf("  busy per picture, first %d  %9.1f us\n", kWindow, first);
    std::printf("  busy per picture, last %d   %9.1f us\n", kWindow, last);
    std::printf("  last / first                %9.2f    (goal <= %.1f)\n", last / first, kFlatnessGoal);
    std::printf("  busy in all                 %9.1f ms\n", busyMs);
    std::printf("  wall clock                  %9.1f ms\n", totalMs);
    std::printf("reference: picture table alone  %9.1f ms\n", referenceMs);
    return 0;
}
