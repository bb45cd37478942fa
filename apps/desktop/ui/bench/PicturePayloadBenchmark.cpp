// What a picture's analysis costs the desktop on its way from the cache to the views, and what
// the window keeps:
// - a dense 4K picture (about 570,000 blocks) loaded from the cache until every view holds it:
//   the time, the peak memory it added and how many documents were made (the decode and every
//   copy, counted by the size of their coding-unit lists), beside the same load followed by the
//   copies the desktop used to make on that way (goals: one document, at most half the time);
// - the desktop's resident memory after opening a 30,000-picture 64x64 stream on the analyzer
//   road, and its peak while it opens the dense 3840x2160 stream and shows the first picture's
//   blocks.
// Each part runs in a process of its own, so that one part's memory is not counted in another's.
// The window is not shown: its OpenGL views need a display the offscreen platform lacks.
#include "vexilo/bench/BenchSupport.h"
#include "vexilo/bench/EventLoopWait.h"

#include "vexilo/ai/AiChatPanel.h"
#include "vexilo/application/AnalysisCacheLocation.h"
#include "vexilo/application/AnalysisRepository.h"
#include "vexilo/application/ProjectController.h"
#include "vexilo/models/PictureStatisticsModel.h"
#include "vexilo/models/PictureSyntaxModel.h"
#include "vexilo/models/PictureTableModel.h"
#include "vexilo/models/StreamStatisticsModel.h"
#include "vexilo/models/SyntaxTreeModel.h"
#include "vexilo/ui/MainWindow.h"
#include "vexilo/views/PictureStripWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeView>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

// Every allocation of exactly the watched size is one more coding-unit list: the decode's or a
// copy's. Counting here needs no hook in the code measured.
namespace {
std::atomic<std::size_t> watchedAllocationSize{0};
std::atomic<int> watchedAllocations{0};
}  // namespace

void* operator new(std::size_t size)
{
    const std::size_t watched = watchedAllocationSize.load(std::memory_order_relaxed);
    if (watched != 0 && size == watched) {
        watchedAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t /*size*/) noexcept
{
    std::free(memory);
}

namespace {

using namespace vexilo;
using application::PictureAnalysisPayload;
using application::ProjectController;
namespace bench = vexilo::bench;

constexpr double kResidentGoalMiB = 300.0;
constexpr double kDensePeakGoalMiB = 800.0;
constexpr int kDocumentGoal = 1;
constexpr double kLoadTimeGoalRatio = 0.5;
constexpr int kLoadRuns = 3;
constexpr int kWaitMs = 30 * 60 * 1000;
constexpr int kQuietMs = 2000;

const char* const kDenseArguments =
    "-f lavfi -i testsrc2=size=3840x2160:rate=25 -vf noise=alls=100:allf=t+u -frames:v 3 -pix_fmt yuv420p "
    "-c:v libx265 -preset ultrafast "
    "-x265-params log-level=error:crf=10:ctu=32:min-cu-size=8:bframes=1:tu-intra-depth=3:tu-inter-depth=3 -f hevc";
const char* const kLongArguments = "-f lavfi -i testsrc2=size=64x64:rate=30 -frames:v 30000 -pix_fmt yuv420p "
                                   "-c:v libx265 -preset ultrafast -x265-params log-level=error:keyint=60 -f hevc";

double statusMiB(const char* key)
{
    std::ifstream status("/proc/self/status");
    const std::string prefix = std::string(key) + ":";
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(prefix, 0) == 0) {
            return std::stod(line.substr(prefix.size())) / 1024.0;
        }
    }
    return 0.0;
}

double residentMiB()
{
    return statusMiB("VmRSS");
}

double peakMiB()
{
    return statusMiB("VmHWM");
}

// From here on the peak counts from the memory resident now.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

bool waitUntil(const std::function<bool()>& done)
{
    return bench::runEventLoopUntil(done, kWaitMs);
}

void settle(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

ProjectController* controllerA(MainWindow& window)
{
    return window.findChild<ProjectController*>(QStringLiteral("projectController"));
}

// Opens the clip in the window on the analyzer road and waits for the open to end; false when it failed.
bool openInWindow(MainWindow& window, const std::filesystem::path& clip)
{
    ProjectController* controller = controllerA(window);
    if (controller == nullptr) {
        return false;
    }
    bool ended = false;
    bool failed = false;
    const auto finished = QObject::connect(controller, &ProjectController::taskFinished, [&] { ended = true; });
    const auto error = QObject::connect(controller, &ProjectController::taskError, [&] { ended = failed = true; });
    controller->openProject(clip);
    const bool done = waitUntil([&] { return ended; });
    QObject::disconnect(finished);
    QObject::disconnect(error);
    return done && !failed;
}

// ---- The 30,000-picture stream --------------------------------------------------------------

constexpr double kMiB = 1024.0 * 1024.0;

double cachedFrameMiB(ProjectController& controller)
{
    std::uint64_t frameBytes = 0;
    for (const domain::PictureInfo& picture : controller.pictures()) {
        if (const application::VideoFramePtr frame = controller.cachedFrame(picture.id)) {
            frameBytes += application::VideoFrameCache::frameBytes(*frame);
        }
    }
    return static_cast<double>(frameBytes) / kMiB;
}

// The two budgeted holders of picture samples, so that the resident figure can be read against
// them, and the least the goal could be met with: the window before the open and the decoded
// frames, which the frame cache's specified budget lets it keep.
void printHeldData(MainWindow& window, ProjectController& controller, double windowAloneMiB)
{
    const double frameMiB = cachedFrameMiB(controller);
    std::printf("  of it decoded frames in the cache    %9.1f MiB   (budget %.0f)\n", frameMiB,
                static_cast<double>(application::kDefaultFrameCacheBytes) / kMiB);
    if (const auto* strip = window.findChild<PictureStripWidget*>()) {
        std::printf("  of it the strip's thumbnails         %9.1f MiB   (budget %.0f)\n",
                    static_cast<double>(strip->thumbnailBytes()) / kMiB,
                    static_cast<double>(kDefaultPictureStripThumbnailBudgetBytes) / kMiB);
    }
    std::printf("  floor: window alone + frames         %9.1f MiB\n", windowAloneMiB + frameMiB);
}

double heapInUseMiB()
{
    return static_cast<double>(mallinfo2().uordblks) / kMiB;
}

// Prints the heap a holder gives back when `release` clears it.
void printReleased(const char* label, const std::function<void()>& release)
{
    const double heapBefore = heapInUseMiB();
    release();
    std::printf("  of it %-30s %9.1f MiB   (heap given back on clear)\n", label, heapBefore - heapInUseMiB());
}

template <typename Model>
void clearAll(MainWindow& window)
{
    for (Model* model : window.findChildren<Model*>()) {
        model->clear();
    }
}

// What the window's holders keep, each measured by the heap it gives back when cleared, which
// ends the run's use of them. The syntax sections make a NAL unit's or parameter set's rows
// when a view first opens it; the window's hidden tabs open none.
void printHeldByTheWindow(MainWindow& window)
{
    std::size_t topLevelRows = 0;
    std::size_t madeRows = 0;
    for (const PictureSyntaxModel* section : window.findChildren<PictureSyntaxModel*>()) {
        topLevelRows += static_cast<std::size_t>(section->rowCount());
        madeRows += section->madeRowCount();
    }
    std::printf("  syntax sections: top-level rows      %9zu\n", topLevelRows);
    std::printf("  syntax sections: rows made           %9zu\n", madeRows);
    // A shown window expands its current syntax tab, the VPS one at start; this window is not shown.
    if (auto* vpsView = window.findChild<QTreeView*>(QStringLiteral("vpsSyntaxView"))) {
        const double heapBefore = heapInUseMiB();
        vpsView->expandAll();
        std::printf("  the VPS tab once shown adds          %9.1f MiB   (its rows made and expanded)\n",
                    heapInUseMiB() - heapBefore);
    }
    printReleased("syntax sections and tree", [&] {
        clearAll<PictureSyntaxModel>(window);
        clearAll<SyntaxTreeModel>(window);
    });
    printReleased("picture strip", [&] {
        if (auto* strip = window.findChild<PictureStripWidget*>()) {
            strip->clear();
        }
    });
    printReleased("picture table and statistics", [&] {
        clearAll<PictureTableModel>(window);
        clearAll<StreamStatisticsModel>(window);
        clearAll<PictureStatisticsModel>(window);
    });
}

int runLongOpen()
{
    const auto clip = bench::benchMediaDirectory() / "long_64x64_30000.hevc";
    if (!bench::ensureGenerated(clip, kLongArguments)) {
        return 1;
    }
    MainWindow window;
    ProjectController* controller = controllerA(window);
    QElapsedTimer lastLoad;
    lastLoad.start();
    // Until the last picture analysis came: the open and the read-back of every analysis.
    QElapsedTimer sinceOpen;
    std::clock_t cpuAtOpen = 0;
    double readBackSeconds = 0;
    double readBackCpuSeconds = 0;
    std::unordered_set<domain::PictureId> analysed;
    bool streamRead = false;
    QObject::connect(controller, &ProjectController::pictureAnalysisLoaded, [&](const PictureAnalysisPayload& payload) {
        analysed.insert(payload.pictureId);
        lastLoad.restart();
        readBackSeconds = static_cast<double>(sinceOpen.elapsed()) / 1e3;
        readBackCpuSeconds = static_cast<double>(std::clock() - cpuAtOpen) / CLOCKS_PER_SEC;
    });
    QObject::connect(controller, &ProjectController::streamAnalysisLoaded, [&] {
        streamRead = true;
        lastLoad.restart();
    });
    const double windowAloneMiB = residentMiB();
    sinceOpen.start();
    cpuAtOpen = std::clock();
    if (!openInWindow(window, clip)) {
        std::fprintf(stderr, "the 30,000-picture open failed\n");
        return 1;
    }
    // The picture analyses are read back after the open, which takes longer than the open on a
    // busy machine; resident is what stays once every one is in (or none came for a while after
    // the stream's own document).
    lastLoad.restart();
    waitUntil([&] {
        return analysed.size() >= controller->pictures().size() || (streamRead && lastLoad.elapsed() > kQuietMs);
    });
    settle(kQuietMs);
    std::printf("30,000 pictures at 64x64 opened on the analyzer road (%zu pictures, %zu analyses read back)\n",
                controller->pictures().size(), analysed.size());
    std::printf("  open and read-back, wall             %9.1f s\n", readBackSeconds);
    std::printf("  open and read-back, desktop CPU      %9.1f s\n", readBackCpuSeconds);
    std::printf("  desktop resident after the open      %9.1f MiB   (goal <= %.0f)\n", residentMiB(), kResidentGoalMiB);
    std::printf("  desktop peak during the open         %9.1f MiB\n", peakMiB());
    std::printf("  of it the window before the open     %9.1f MiB\n", windowAloneMiB);
    printHeldData(window, *controller, windowAloneMiB);
    // How much of that is heap the allocator keeps free rather than data the window holds.
    malloc_trim(0);
    std::printf("  resident once free heap is returned  %9.1f MiB\n", residentMiB());
    std::printf("  of it heap in use                    %9.1f MiB\n", heapInUseMiB());
    std::printf("  heap the allocator keeps free        %9.1f MiB   (freed in pages still in use)\n",
                static_cast<double>(mallinfo2().fordblks) / kMiB);
    printHeldByTheWindow(window);
    return 0;
}

// ---- The dense 4K stream --------------------------------------------------------------------

struct LoadFigures {
    double seconds = 0;
    double peakAddedMiB = 0;
    int documents = 0;
};

class DenseCacheLoad {
public:
    DenseCacheLoad(MainWindow& window, std::filesystem::path cacheDirectory, domain::PictureId picture)
        : window_(window), cacheDirectory_(std::move(cacheDirectory)), picture_(picture)
    {
        QObject::connect(&repository_, &application::AnalysisRepository::streamLoaded,
                         [this](qulonglong, const analysis::CacheManifest& manifest,
                                const application::StreamAnalysisPtr& stream) { takeStream(manifest, *stream); });
        QObject::connect(&repository_, &application::AnalysisRepository::pictureLoaded,
                         [this](const PictureAnalysisPayload& payload) { loaded_ = payload; });
        QObject::connect(&repository_, &application::AnalysisRepository::repositoryError,
                         [this](const application::AnalysisRepositoryError& error) {
                             std::fprintf(stderr, "cache: %s\n", qPrintable(error.message));
                             failed_ = true;
                         });
    }

    // Reads the manifest and finds the first picture's entry; false when the cache lacks it.
    bool prepare()
    {
        repository_.loadStream(cacheDirectory_, std::nullopt, kGeneration);
        return waitUntil([this] { return entry_.has_value() || failed_; }) && entry_.has_value();
    }

    // One load to the views; `copyingPath` replays the copies the desktop used to make on the way.
    std::optional<LoadFigures> measure(bool copyingPath)
    {
        loaded_.reset();
        malloc_trim(0);
        resetPeak();
        const double before = residentMiB();
        watchedAllocations = 0;
        watchedAllocationSize = cuListBytes_;
        QElapsedTimer clock;
        clock.start();
        repository_.loadPicture(cacheDirectory_, *entry_, picture_, std::nullopt, kGeneration);
        if (!waitUntil([this] { return loaded_.has_value() || failed_; }) || failed_) {
            watchedAllocationSize = 0;
            return std::nullopt;
        }
        PictureAnalysisPayload payload = std::move(*loaded_);
        loaded_.reset();
        if (copyingPath) {
            payload = replayCopies(payload);
        }
        QMetaObject::invokeMethod(&window_, "onPictureAnalysisLoaded", Qt::DirectConnection,
                                  Q_ARG(vexilo::application::PictureAnalysisPayload, payload));
        if (copyingPath) {
            const analysis::StreamAnalysis evidenceCopy = *payload.analysis;
            (void)evidenceCopy.cus.size();
        }
        LoadFigures figures;
        figures.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        watchedAllocationSize = 0;
        figures.documents = watchedAllocations.load();
        figures.peakAddedMiB = peakMiB() - before;
        return figures;
    }

    [[nodiscard]] std::size_t blockCount() const { return blocks_; }

private:
    static constexpr std::uint64_t kGeneration = 1;

    void takeStream(const analysis::CacheManifest& manifest, const analysis::StreamAnalysis& stream)
    {
        for (const analysis::PictureAnalysisSummary& summary : stream.pictures) {
            if (summary.displayIndex != 0) {
                continue;
            }
            for (const analysis::ManifestPictureEntry& entry : manifest.pictures) {
                if (entry.stableId == summary.id) {
                    entry_ = entry;
                    cuListBytes_ = summary.cuCount ? *summary.cuCount * sizeof(analysis::CuInfo) : 0;
                    blocks_ = (summary.ctuCount ? *summary.ctuCount : 0) + (summary.cuCount ? *summary.cuCount : 0) +
                              (summary.puCount ? *summary.puCount : 0) + (summary.tuCount ? *summary.tuCount : 0);
                }
            }
        }
        failed_ = failed_ || !entry_;
    }

    // The copies of the old way: the assembly started from a copy of the picture, the task service
    // copied the payload to rewrite its picture ids, the controller re-emitted it by value, and the
    // AI evidence copied the document into its snapshot.
    static PictureAnalysisPayload replayCopies(const PictureAnalysisPayload& payload)
    {
        analysis::StreamAnalysis assembled = *payload.analysis;
        analysis::StreamAnalysis rebound = assembled;
        analysis::StreamAnalysis reEmitted = rebound;
        return {payload.pictureId, std::make_shared<const analysis::StreamAnalysis>(std::move(reEmitted)),
                payload.generation};
    }

    MainWindow& window_;
    application::AnalysisRepository repository_;
    std::filesystem::path cacheDirectory_;
    domain::PictureId picture_;
    std::optional<analysis::ManifestPictureEntry> entry_;
    std::optional<PictureAnalysisPayload> loaded_;
    std::size_t cuListBytes_ = 0;
    std::size_t blocks_ = 0;
    bool failed_ = false;
};

LoadFigures medianOf(std::vector<LoadFigures> runs)
{
    std::sort(runs.begin(), runs.end(), [](const auto& left, const auto& right) { return left.seconds < right.seconds; });
    LoadFigures median = runs[runs.size() / 2];
    for (const LoadFigures& run : runs) {
        median.peakAddedMiB = std::max(median.peakAddedMiB, run.peakAddedMiB);
        median.documents = std::max(median.documents, run.documents);
    }
    return median;
}

std::optional<LoadFigures> measureRuns(DenseCacheLoad& load, bool copyingPath)
{
    std::vector<LoadFigures> runs;
    for (int run = 0; run < kLoadRuns; ++run) {
        const std::optional<LoadFigures> figures = load.measure(copyingPath);
        if (!figures) {
            return std::nullopt;
        }
        runs.push_back(*figures);
    }
    return medianOf(std::move(runs));
}

// `cacheLoads` false ends the part once the open's peak is printed, for a memory profile of the open.
int runDenseOpen(bool cacheLoads)
{
    const auto clip = bench::benchMediaDirectory() / "dense_3840x2160.hevc";
    if (!bench::ensureGenerated(clip, kDenseArguments)) {
        return 1;
    }
    MainWindow window;
    ProjectController* controller = controllerA(window);
    bool blocksShown = false;
    QObject::connect(controller, &ProjectController::pictureAnalysisLoaded, [&](const PictureAnalysisPayload& payload) {
        blocksShown = blocksShown || (payload.pictureId == controller->selectedPictureId() && !payload.analysis->cus.empty());
    });
    malloc_trim(0);
    resetPeak();
    const double before = residentMiB();
    if (!openInWindow(window, clip) || !waitUntil([&] { return blocksShown; })) {
        std::fprintf(stderr, "the dense open did not show the first picture's blocks\n");
        return 1;
    }
    settle(500);
    std::printf("dense 3840x2160 opened on the analyzer road, first picture's blocks shown\n");
    std::printf("  desktop peak during the open         %9.1f MiB   (goal <= %.0f; %.1f MiB before it)\n", peakMiB(),
                kDensePeakGoalMiB, before);
    std::printf("  desktop resident once it is shown    %9.1f MiB\n", residentMiB());
    if (!cacheLoads) {
        return 0;
    }

    // The controller's own loads stay away from the window while the cache is read here.
    settle(kQuietMs);
    QObject::disconnect(controller, nullptr, &window, nullptr);
    const std::optional<domain::PictureId> selected = controller->selectedPictureId();
    if (!selected) {
        return 1;
    }
    DenseCacheLoad load(window,
                        application::analysisCacheDirectory(application::defaultAnalysisCacheRoot(),
                                                            application::pathToQString(clip)),
                        *selected);
    if (!load.prepare()) {
        std::fprintf(stderr, "the dense picture's cache entry was not found\n");
        return 1;
    }
    const std::optional<LoadFigures> shared = measureRuns(load, false);
    const std::optional<LoadFigures> copying = measureRuns(load, true);
    if (!shared || !copying) {
        std::fprintf(stderr, "a cache load failed\n");
        return 1;
    }
    std::printf("dense 4K picture (%zu blocks) from the cache until every view holds it, median of %d\n",
                load.blockCount(), kLoadRuns);
    std::printf("  shared document: time                %9.1f ms\n", shared->seconds * 1e3);
    std::printf("  shared document: peak memory added   %9.1f MiB\n", shared->peakAddedMiB);
    std::printf("  shared document: documents made      %9d      (goal <= %d, the decode)\n", shared->documents,
                kDocumentGoal);
    std::printf("reference: the copying path, time      %9.1f ms\n", copying->seconds * 1e3);
    std::printf("reference: the copying path, peak added%9.1f MiB\n", copying->peakAddedMiB);
    std::printf("reference: the copying path, documents %9d\n", copying->documents);
    std::printf("  shared / copying time                %9.2f    (goal <= %.1f)\n",
                shared->seconds / copying->seconds, kLoadTimeGoalRatio);
    if (auto* panel = window.findChild<AiChatPanel*>()) {
        std::printf("  AI evidence built while hidden       %9llu times\n",
                    static_cast<unsigned long long>(panel->evidenceBuildCount()));
    }
    return 0;
}

// Runs one part in a child process of this program and passes its report on.
bool runPart(const char* part)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(part)});
    return child.waitForStarted() && child.waitForFinished(kWaitMs) && child.exitStatus() == QProcess::NormalExit &&
           child.exitCode() == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string part = argc > 1 ? argv[1] : "";
    // Each part analyses into a cache of its own, never one a user's earlier run left.
    std::optional<QTemporaryDir> cacheHome;
    if (!part.empty()) {
        cacheHome.emplace();
        qputenv("XDG_CACHE_HOME", cacheHome->path().toLocal8Bit());
    }
    QApplication application(argc, argv);
    if (part == "--long") {
        return runLongOpen();
    }
    if (part == "--dense" || part == "--dense-open") {
        return runDenseOpen(part == "--dense");
    }
    const bool dense = runPart("--dense");
    const bool longOpen = runPart("--long");
    return dense && longOpen ? 0 : 1;
}
