// Opens a generated stream of 20,000 small pictures in the window through the analyzer road, as
// stream A and then, in the same window, as stream B: the real worker program decodes it and
// sends every picture over the frame channel, one picture per batch. Prints the GUI thread's busy
// time per arriving picture of each, which must stay flat from the first picture to the last and
// be about the same for B as for A, and the time A's open took beside the worker program's own
// time on the same stream and mode, its frames read by a bare frame channel (and, for scale, its
// time on the index-only pass).
#include "WorkerBenchSupport.h"
#include "vexilo/bench/BenchSupport.h"

#include "vexilo/application/ProjectController.h"
#include "vexilo/ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

namespace {

namespace bench = vexilo::bench;

constexpr int kPictures = 20000;
constexpr int kWindow = 1000;  // pictures averaged at the start and at the end
constexpr double kFlatnessGoal = 2.0;
constexpr double kOpenGoal = 2.0;
constexpr double kBOverAGoal = 1.2;
constexpr int kPollMs = 5;

// Counts the CPU time the GUI thread spends delivering events, outermost deliveries only: the
// window's and the controller's work on every frame packet, line and timer. CPU time rather than
// wall time, so that a shared machine's preemption is not counted as the window's work.
class BusyTimedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        // Threads with event loops of their own (the frame reader, the thumbnail maker) deliver
        // through here too; only the GUI thread's work is the window's.
        if (QThread::currentThread() != thread()) {
            return QApplication::notify(receiver, event);
        }
        if (depth_++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --depth_;
            return handled;
        }
        deliveryStart_ = threadCpuNanoseconds();
        const bool handled = QApplication::notify(receiver, event);
        busyNanoseconds_ += threadCpuNanoseconds() - deliveryStart_;
        --depth_;
        return handled;
    }

    // Includes the delivery under way, so that pictures announced one after another inside one
    // delivery each get their own share. Read on the GUI thread only.
    [[nodiscard]] qint64 busyNanoseconds() const
    {
        return depth_ > 0 ? busyNanoseconds_ + threadCpuNanoseconds() - deliveryStart_ : busyNanoseconds_;
    }

private:
    static qint64 threadCpuNanoseconds()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<qint64>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    }

    int depth_ = 0;
    qint64 deliveryStart_ = 0;
    qint64 busyNanoseconds_ = 0;
};

double meanMicroseconds(const std::vector<qint64>& nanoseconds, std::size_t from, std::size_t count)
{
    qint64 sum = 0;
    for (std::size_t index = from; index < from + count; ++index) {
        sum += nanoseconds[index];
    }
    return static_cast<double>(sum) / static_cast<double>(count) / 1000.0;
}

struct WindowOpen {
    bool succeeded = false;
    double wallMs = 0;
    double busyMs = 0;
    // Busy time between one picture's arrival and the next; the last runs to the task's end.
    std::vector<qint64> busyPerPicture;
};

// Opens the clip through the window's controller of that name ("projectController" for A,
// "compareBProjectController" for B); the window keeps it open.
WindowOpen openInWindow(BusyTimedApplication& application, vexilo::MainWindow& window, const char* controllerName,
                        const std::filesystem::path& clip)
{
    auto* controller =
        window.findChild<vexilo::application::ProjectController*>(QString::fromLatin1(controllerName));
    WindowOpen open;
    if (controller == nullptr) {
        return open;
    }
    // Pictures arrive in batches; the window's work after a batch is shared by its pictures.
    struct Arrival {
        qint64 busyNanoseconds = 0;
        std::size_t pictures = 0;
    };
    std::vector<Arrival> arrivals;
    arrivals.reserve(kPictures);
    QObject::connect(controller, &vexilo::application::ProjectController::pictureBatchDecoded, &window,
                     [&](const vexilo::application::PictureInfoBatch& batch) {
                         arrivals.push_back({application.busyNanoseconds(), batch.size()});
                     });
    QEventLoop loop;
    QObject::connect(controller, &vexilo::application::ProjectController::taskFinished, &loop, &QEventLoop::quit);
    QObject::connect(controller, &vexilo::application::ProjectController::taskError, &loop, &QEventLoop::quit);

    QElapsedTimer wall;
    wall.start();
    const qint64 busyBefore = application.busyNanoseconds();
    controller->openProject(clip);
    loop.exec();
    // The window's deferred refreshes after the last picture count as its work on that picture.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 150) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, kPollMs);
    }
    const qint64 busyAfter = application.busyNanoseconds();
    open.wallMs = static_cast<double>(wall.nsecsElapsed() - settle.nsecsElapsed()) / 1e6;
    open.busyMs = static_cast<double>(busyAfter - busyBefore) / 1e6;
    open.succeeded = controller->state() == vexilo::application::ProjectState::Ready && !arrivals.empty();
    arrivals.push_back({busyAfter, 0});
    // The open's work before its first picture counts as that picture's.
    if (!arrivals.empty()) {
        arrivals.front().busyNanoseconds = busyBefore;
    }
    for (std::size_t index = 0; index + 1 < arrivals.size(); ++index) {
        const std::size_t pictures = arrivals[index].pictures;
        const qint64 busy = arrivals[index + 1].busyNanoseconds - arrivals[index].busyNanoseconds;
        const qint64 share = busy / static_cast<qint64>(std::max<std::size_t>(pictures, 1));
        open.busyPerPicture.insert(open.busyPerPicture.end(), pictures, share);
    }
    return open;
}

void printPerPicture(const char* stream, const WindowOpen& open)
{
    const double first = meanMicroseconds(open.busyPerPicture, 0, kWindow);
    const double last = meanMicroseconds(open.busyPerPicture, kPictures - kWindow, kWindow);
    const double all = meanMicroseconds(open.busyPerPicture, 0, kPictures);
    std::printf("  %s: GUI busy per picture, first %d  %9.1f us\n", stream, kWindow, first);
    std::printf("  %s: GUI busy per picture, last %d   %9.1f us\n", stream, kWindow, last);
    std::printf("  %s: last / first                    %9.2f    (goal <= %.1f)\n", stream, last / first,
                kFlatnessGoal);
    std::printf("  %s: GUI busy per picture, all       %9.1f us\n", stream, all);
}

// The worker program alone in the given mode, its frames read and dropped.
std::optional<double> workerAloneMs(const std::filesystem::path& clip, const char* analysisMode)
{
    QLocalServer channel;
    const QString name = QStringLiteral("vexilo-bench-frames-%1").arg(QCoreApplication::applicationPid());
    QLocalServer::removeServer(name);
    if (!channel.listen(name)) {
        return std::nullopt;
    }
    QObject::connect(&channel, &QLocalServer::newConnection, &channel, [&channel] {
        while (QLocalSocket* socket = channel.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] { socket->readAll(); });
        }
    });
    QTemporaryDir cacheRoot;
    std::atomic<bool> done = false;
    bool succeeded = false;
    QElapsedTimer wall;
    wall.start();
    std::thread run([&] {
        succeeded = bench::analyseThroughWorker(clip, cacheRoot.path().toStdString(),
                                                {{"analysisMode", analysisMode}}, channel.fullServerName())
                        .has_value();
        done = true;
    });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, kPollMs);
    }
    run.join();
    const double elapsedMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
    return succeeded ? std::optional(elapsedMs) : std::nullopt;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window analyses into a cache of this run's own, never one a user's earlier run left.
    QTemporaryDir cacheHome;
    qputenv("XDG_CACHE_HOME", cacheHome.path().toLocal8Bit());
    BusyTimedApplication application(argc, argv);

    const auto clip = bench::benchMediaDirectory() / "window_64x64_20000.hevc";
    if (!bench::ensureGenerated(clip, "-f lavfi -i testsrc2=size=64x64:rate=50 -frames:v 20000 -pix_fmt yuv420p "
                                      "-c:v libx265 -preset ultrafast -x265-params log-level=error:keyint=50 -f hevc")) {
        return 1;
    }

    std::optional<WindowOpen> openA;
    std::optional<WindowOpen> openB;
    {
        vexilo::MainWindow window;
        openA = openInWindow(application, window, "projectController", clip);
        // B opens a copy under another name: the same file would reopen from the cache A just
        // completed and skip the analyzer road this compares.
        const auto clipB = cacheHome.filePath(QStringLiteral("window_64x64_20000_b.hevc")).toStdString();
        std::filesystem::copy_file(clip, clipB, std::filesystem::copy_options::overwrite_existing);
        openB = openInWindow(application, window, "compareBProjectController", clipB);
    }
    // The window's open asks for the bounded structure pass: the blocks of every picture that
    // fits the worker's budget go into the cache. The index-only pass is shown beside it.
    const std::optional<double> worker = workerAloneMs(clip, "bounded_structure");
    const std::optional<double> indexOnly = workerAloneMs(clip, "stream_index");
    for (const WindowOpen* open : {&*openA, &*openB}) {
        if (!open->succeeded || open->busyPerPicture.size() != kPictures) {
            std::fprintf(stderr, "a run failed: %zu pictures reached the window\n", open->busyPerPicture.size());
            return 1;
        }
    }
    if (!worker || !indexOnly) {
        std::fprintf(stderr, "the worker alone failed\n");
        return 1;
    }
    const WindowOpen& open = *openA;
    std::printf("window open through the analyzer road, %d pictures at 64x64, as A and then as B\n", kPictures);
    printPerPicture("A", *openA);
    printPerPicture("B", *openB);
    const double perPictureA = meanMicroseconds(openA->busyPerPicture, 0, kPictures);
    const double perPictureB = meanMicroseconds(openB->busyPerPicture, 0, kPictures);
    std::printf("  B / A per picture                  %9.2f    (goal <= %.1f)\n", perPictureB / perPictureA,
                kBOverAGoal);
    std::printf("  A: GUI busy in all                 %9.1f ms\n", open.busyMs);
    std::printf("  B: GUI busy in all                 %9.1f ms\n", openB->busyMs);
    std::printf("  A: open, wall clock                %9.1f ms\n", open.wallMs);
    std::printf("  B: open, wall clock                %9.1f ms\n", openB->wallMs);
    std::printf("reference: worker program alone   %9.1f ms   (the open's bounded structure pass)\n", *worker);
    std::printf("  worker alone, index pass only   %9.1f ms\n", *indexOnly);
    std::printf("  open / worker alone             %9.2f    (goal <= %.1f)\n", open.wallMs / *worker, kOpenGoal);
    return 0;
}
