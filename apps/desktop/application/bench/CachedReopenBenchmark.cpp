// Opens a 1080p x265 stream of 300 pictures through the worker and prints, beside
// `ffmpeg -threads 1 -f null` on the same stream in the same run: the open to every picture's
// blocks (goal at most 1.6x), the median and worst step to a picture whose analysis comes from
// the cache, timed until a frame viewer has painted its frame with the blocks drawn over it
// (goal: median at most 150 ms), the reopen of the unchanged file to its index and
// first picture's blocks (goal at most 1 s), an on-demand analysis of picture 250 when no
// picture kept its blocks (goal at most 1.5x the decode up to it, plus 0.5 s), the worker's
// peak (goal: within its block budget plus a constant) and the desktop's resident memory;
// and the reopen of a 30,000-picture stream (goal at most 2 s).
// The worker runs on one core of its own, the desktop side on every other core; the ffmpeg
// references run on the worker's core. Needs an X display (xvfb-run) for the viewer.
#include "vexilo/application/ProjectController.h"
#include "vexilo/bench/BenchSupport.h"
#include "vexilo/bench/DecodeSplit.h"
#include "vexilo/bench/EventLoopWait.h"
#include "vexilo/bench/ShownPicture.h"

#include "app/FrameChannel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace vexilo::application;
namespace bench = vexilo::bench;

constexpr double kOpenGoalRatio = 1.6;
constexpr double kStepGoalSeconds = 0.150;
constexpr double kReopenGoalSeconds = 1.0;
constexpr double kOnDemandGoalRatio = 1.5;
constexpr double kOnDemandGoalSlackSeconds = 0.5;
constexpr double kLongReopenGoalSeconds = 2.0;
// What the worker may hold beyond its block budget: FFmpeg's decoder and its pictures, the
// stream-level records and the tables of the cache writer.
constexpr double kWorkerConstantMiB = 256.0;
constexpr vexilo::domain::PictureId kOnDemandPicture = 250;
constexpr int kWaitMs = 30 * 60 * 1000;
constexpr int kReferenceRuns = 3;
// The 1080p clip as the benchmark encodes it: 300 pictures, 4:2:0, 10-bit samples in two bytes.
constexpr int kClipWidth = 1920;
constexpr int kClipHeight = 1080;
constexpr int kClipPictures = 300;
constexpr std::size_t kClipBytesPerSample = 2;
constexpr const char* kBlockBudgetVariable = "VEXILO_ANALYZER_TEST_BLOCK_BUDGET_BYTES";
constexpr int kViewerWidth = 960;
constexpr int kViewerHeight = 540;

double secondsSince(const QElapsedTimer& clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

bool waitUntil(const std::function<bool()>& done)
{
    return bench::runEventLoopUntil(done, kWaitMs);
}

double residentMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0.0;
}

// The worker's default block budget: a quarter of the physical memory, at most 4 GiB.
double workerBlockBudgetMiB()
{
    constexpr double kLargestBudgetMiB = 4096.0;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return kLargestBudgetMiB;
    }
    return std::min(static_cast<double>(pages) * static_cast<double>(pageSize) / 4.0 / 1048576.0, kLargestBudgetMiB);
}

// One core for the worker, as the goals count it: the benchmark pins every thread of its own to
// that core while it starts a worker, which inherits the pin, and then gives its threads every
// other core they had, so that the desktop side does not compete with the worker.
class WorkerCore {
public:
    WorkerCore()
    {
        CPU_ZERO(&everyCore_);
        if (sched_getaffinity(0, sizeof(everyCore_), &everyCore_) != 0) {
            return;
        }
        // The last core: the first is where the system's own work tends to land.
        for (std::size_t core = CPU_SETSIZE; core-- > 0;) {
            if (CPU_ISSET(core, &everyCore_)) {
                core_ = static_cast<int>(core);
                break;
            }
        }
    }

    // No pin: the worker as users run it, on every core the machine gives this process.
    [[nodiscard]] static WorkerCore everyCore() { return WorkerCore(kNoCore); }

    [[nodiscard]] int core() const { return core_; }

    // `command` run on the worker's core.
    [[nodiscard]] std::string onCore(const std::string& command) const
    {
        return core_ < 0 ? command : "taskset -c " + std::to_string(core_) + " " + command;
    }

    void pinWhileWorkerStarts() const
    {
        if (core_ >= 0) {
            setForEveryThread(workerCoreAlone());
        }
    }

    // The calling thread alone, for work timed in this process as the worker would do it.
    void pinThisThread() const
    {
        if (core_ >= 0) {
            const cpu_set_t one = workerCoreAlone();
            static_cast<void>(pthread_setaffinity_np(pthread_self(), sizeof(one), &one));
        }
    }

    void giveCoresBack() const
    {
        if (core_ < 0) {
            return;
        }
        cpu_set_t others = everyCore_;
        CPU_CLR(static_cast<std::size_t>(core_), &others);
        // On a single core the desktop side has nowhere else to go.
        setForEveryThread(CPU_COUNT(&others) > 0 ? others : everyCore_);
    }

private:
    static constexpr int kNoCore = -1;
    explicit WorkerCore(int core) : core_(core) { }

    [[nodiscard]] cpu_set_t workerCoreAlone() const
    {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(static_cast<std::size_t>(core_), &one);
        return one;
    }

    // Threads started while the process was pinned carry the pin too, so each is set by its id.
    static void setForEveryThread(const cpu_set_t& cores)
    {
        std::error_code error;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
            const pid_t thread = static_cast<pid_t>(std::stol(task.path().filename().string()));
            static_cast<void>(sched_setaffinity(thread, sizeof(cores), &cores));
        }
    }

    cpu_set_t everyCore_{};
    int core_ = kNoCore;
};

std::string ffmpegDecodeCommand(const std::filesystem::path& clip, const std::string& limit = {})
{
    return "ffmpeg -hide_banner -loglevel error -nostdin -threads 1 -i " + bench::quoted(clip) + " " + limit +
           " -f null -";
}

// The CPU seconds (user, system) of this process's analyzer worker, read while it still runs:
// beside the open's wall time they tell the worker's work from its waiting; its page faults
// tell how much of the system time went to pages fetched fresh from the kernel.
struct WorkerCpu {
    double user = 0.0;
    double system = 0.0;
    unsigned long long minorFaults = 0;
};

std::optional<WorkerCpu> workerCpuSeconds()
{
    constexpr std::string_view kWorkerName = "vexilo-analyzer";  // as /proc cuts it to 15 characters
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream children(task.path() / "children");
        for (std::string child; children >> child;) {
            std::ifstream stat("/proc/" + child + "/stat");
            std::string line;
            std::getline(stat, line);
            // The name stands in parentheses and may hold spaces; the fields follow the last one.
            const std::size_t open = line.find('(');
            const std::size_t close = line.rfind(')');
            if (open == std::string::npos || close == std::string::npos ||
                line.substr(open + 1, close - open - 1) != kWorkerName) {
                continue;
            }
            std::istringstream fields(line.substr(close + 2));
            std::vector<std::string> values{std::istream_iterator<std::string>(fields),
                                            std::istream_iterator<std::string>()};
            // minflt, utime and stime are fields 10, 14 and 15 of the line.
            constexpr std::size_t kMinorFaultsField = 7;
            constexpr std::size_t kUserField = 11;
            constexpr std::size_t kSystemField = 12;
            if (values.size() <= kSystemField) {
                continue;
            }
            const auto ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
            return WorkerCpu{std::stod(values[kUserField]) / ticks, std::stod(values[kSystemField]) / ticks,
                             std::stoull(values[kMinorFaultsField])};
        }
    }
    return std::nullopt;
}

double childrenPeakMiB()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// One controller and what it has said, for as long as the benchmark looks at it.
struct Project {
    explicit Project(const std::filesystem::path& cacheRoot)
    {
        ProjectControllerOptions options;
        options.analysisOptions.cacheRoot = cacheRoot;
        controller = std::make_unique<ProjectController>(nullptr, options);
        QObject::connect(controller.get(), &ProjectController::analysisStarted, [this] { ++analyses; });
        QObject::connect(controller.get(), &ProjectController::streamAnalysisLoaded, [this] { streamLoaded = true; });
        QObject::connect(controller.get(), &ProjectController::taskFinished, [this] { finished = true; });
        QObject::connect(controller.get(), &ProjectController::pictureAnalysisLoaded,
                         [this](const PictureAnalysisPayload& payload) {
                             if (!payload.analysis->ctus.empty()) {
                                 withBlocks.insert(payload.pictureId);
                             }
                             lastLoaded = payload.pictureId;
                             // As the window hands the selected picture's analysis to its viewer.
                             if (controller->selectedPictureId() == payload.pictureId) {
                                 viewer.setAnalysis(payload.analysis);
                             }
                         });
        QObject::connect(controller.get(), &ProjectController::selectedFrameReady,
                         [this](const VideoFramePtr& frame) { viewer.setFrame(frame, frame->index); });
        viewer.resize(kViewerWidth, kViewerHeight);
        viewer.setCtuOverlayEnabled(true);
        viewer.setCuOverlayEnabled(true);
        viewer.setPuOverlayEnabled(true);
        viewer.setTuOverlayEnabled(true);
        viewer.setMotionVectorOverlayEnabled(true);
        viewer.setQpMapOverlayEnabled(true);
        viewer.show();
    }

    // The analysis the open starts runs in a worker pinned to `workerCore`.
    bool openAndWaitForIndex(const std::filesystem::path& clip, const WorkerCore& workerCore)
    {
        workerCore.pinWhileWorkerStarts();
        controller->openProject(clip);
        bool pinned = true;
        const bool done = waitUntil([&] {
            if (pinned && analyses > 0) {
                workerCore.giveCoresBack();
                pinned = false;
            }
            return finished && streamLoaded;
        });
        if (pinned) {
            workerCore.giveCoresBack();
        }
        return done;
    }

    vexilo::FrameViewer viewer;
    std::unique_ptr<ProjectController> controller;
    int analyses = 0;
    bool streamLoaded = false;
    bool finished = false;
    std::set<vexilo::domain::PictureId> withBlocks;
    std::optional<vexilo::domain::PictureId> lastLoaded;
};

void printVerdict(const char* what, double value, double goal, const char* unit)
{
    std::printf("  %-40s %.3f %s (goal <= %.3f) %s\n", what, value, unit, goal, value <= goal ? "met" : "NOT met");
}

// Select each picture in turn and wait until the viewer shows its frame with its blocks, read
// from the cache.
std::vector<double> stepThroughEveryPicture(Project& project)
{
    std::vector<double> steps;
    const auto count = static_cast<vexilo::domain::PictureId>(project.controller->pictureCount());
    for (vexilo::domain::PictureId picture = 0; picture < count; ++picture) {
        project.withBlocks.erase(picture);
        QElapsedTimer clock;
        clock.start();
        if (!project.controller->selectPicture(picture)) {
            return {};
        }
        const double shown = bench::timeUntilShownWithOverlays(
                                 project.viewer, picture, [&] { return project.withBlocks.contains(picture); }, clock,
                                 kWaitMs)
                                 .withOverlays;
        if (shown < 0.0) {
            return {};
        }
        steps.push_back(shown);
    }
    return steps;
}

// The CPU seconds the worker's core spends handing every frame of the clip to the kernel: the
// clip's samples written through a local stream socket, with the send buffer the worker's frame
// channel asks for, to a reader on the other cores. The open sends the desktop every frame, so
// this stands beside decoding and parsing under any open.
double frameSendCpuSeconds(const WorkerCore& workerCore)
{
    int sockets[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sockets) != 0) {
        return -1.0;
    }
    const int requested = vexilo::analyzer::kFrameChannelSendBufferBytes;
    static_cast<void>(setsockopt(sockets[0], SOL_SOCKET, SO_SNDBUF, &requested, sizeof(requested)));
    std::thread reader([descriptor = sockets[1]] {
        std::vector<char> buffer(std::size_t{1} << 20);
        while (read(descriptor, buffer.data(), buffer.size()) > 0) {
        }
    });
    constexpr std::size_t kLumaSamples = std::size_t{kClipWidth} * kClipHeight;
    const std::vector<std::uint8_t> frame(kLumaSamples * 3 / 2 * kClipBytesPerSample, 0x40);
    double seconds = 0.0;
    std::thread sender([&] {
        workerCore.pinThisThread();
        seconds = bench::threadCpuSecondsOf([&] {
            for (int picture = 0; picture < kClipPictures; ++picture) {
                for (std::size_t sent = 0; sent < frame.size();) {
                    const ssize_t written = write(sockets[0], frame.data() + sent, frame.size() - sent);
                    if (written <= 0) {
                        return;
                    }
                    sent += static_cast<std::size_t>(written);
                }
            }
        });
    });
    sender.join();
    shutdown(sockets[0], SHUT_WR);
    reader.join();
    close(sockets[0]);
    close(sockets[1]);
    return seconds;
}

// The floor under the open, timed in this process before anything else runs in it: FFmpeg
// decoding alone, our observer parsing every block event of the same packets, and the frames
// handed to the socket; what the open costs beyond their sum is the worker's collector,
// document build and cache write.
void printDecodeSplit(const std::filesystem::path& clip, double reference, const WorkerCore& workerCore)
{
    const std::vector<bench::PacketBytes> packets = bench::readPackets(clip);
    const double decode = bench::decodeOnlyCpuSeconds(packets);
    const bench::ParseRun parse = bench::parseOnly(packets, VEXILO_OBSERVER_EVENT_MASK_ALL);
    std::printf("  %-40s %.3f s CPU, %.2fx\n", "split: decoding alone (no observer)", decode, decode / reference);
    std::printf("  %-40s %.3f s CPU, %.2fx (%llu events)\n", "split: observer parsing, every event",
                parse.cpuSeconds, parse.cpuSeconds / reference, static_cast<unsigned long long>(parse.events));
    std::printf("  %-40s %.2fx\n", "split: floor of the analysis (both)", (decode + parse.cpuSeconds) / reference);
    const double send = frameSendCpuSeconds(workerCore);
    std::printf("  %-40s %.3f s CPU, %.2fx\n", "split: every frame to the socket", send, send / reference);
    std::printf("  %-40s %.2fx\n", "split: floor of the open (all three)",
                (decode + parse.cpuSeconds + send) / reference);
}

int benchmark1080p(const std::filesystem::path& cacheRoot, const WorkerCore& workerCore)
{
    const auto clip = bench::benchMediaDirectory() / "reopen_1080p_300.hevc";
    if (!bench::ensureGenerated(clip, "-f lavfi -i testsrc2=size=" + std::to_string(kClipWidth) + "x" +
                                          std::to_string(kClipHeight) + ":rate=25 -frames:v " +
                                          std::to_string(kClipPictures) +
                                          " -pix_fmt yuv420p10le -c:v libx265 -preset ultrafast "
                                          "-x265-params log-level=error:crf=26:keyint=60:bframes=3 -f hevc")) {
        return 1;
    }
    bool ffmpegFailed = false;
    // The best of a few runs: the worker's core is shared with whatever else the machine runs.
    const double reference = bench::bestOf(kReferenceRuns, [&] {
        return bench::childCpuSecondsOf(workerCore.onCore(ffmpegDecodeCommand(clip)), ffmpegFailed);
    });
    std::printf("1080p 10-bit HEVC, 300 pictures; the worker and ffmpeg on core %d\n", workerCore.core());
    std::printf("  ffmpeg -threads 1 -f null:%15.3f s CPU\n", reference);
    printDecodeSplit(clip, reference, workerCore);

    Project first(cacheRoot);
    QElapsedTimer clock;
    clock.start();
    if (ffmpegFailed || !first.openAndWaitForIndex(clip, workerCore)) {
        return 1;
    }
    const double openSeconds = secondsSince(clock);
    std::printf("  %-40s %.3f s\n", "open to every picture's blocks", openSeconds);
    if (const std::optional<WorkerCpu> worker = workerCpuSeconds()) {
        std::printf("  %-40s %.3f s CPU (user %.3f, system %.3f), %.2fx; idle %.3f s; %llu page faults\n",
                    "worker during the open", worker->user + worker->system, worker->user, worker->system,
                    (worker->user + worker->system) / reference, openSeconds - worker->user - worker->system,
                    worker->minorFaults);
    }
    printVerdict("open to every picture's blocks (ratio)", openSeconds / reference, kOpenGoalRatio, "x");
    // The preload reads every picture once, in ascending order; the steps start after it.
    const auto lastPicture = static_cast<vexilo::domain::PictureId>(first.controller->pictureCount()) - 1;
    if (!waitUntil([&] { return first.lastLoaded == lastPicture; })) {
        return 1;
    }
    std::vector<double> steps = stepThroughEveryPicture(first);
    if (steps.empty()) {
        return 1;
    }
    std::sort(steps.begin(), steps.end());
    printVerdict("median step, frame and blocks shown", steps[steps.size() / 2], kStepGoalSeconds, "s");
    std::printf("  %-40s %.3f s\n", "worst step, frame and blocks shown", steps.back());
    std::printf("  %-40s %d\n", "analyses started while stepping", first.analyses - 1);
    std::printf("  %-40s %.0f MiB\n", "desktop resident after stepping", residentMiB());
    first.controller->closeProject();
    first.controller.reset();
    const double budget = workerBlockBudgetMiB();
    std::printf("  %-40s %.0f MiB\n", "worker block budget", budget);
    printVerdict("worker peak resident", childrenPeakMiB(), budget + kWorkerConstantMiB, "MiB");

    Project again(cacheRoot);
    clock.restart();
    again.controller->openProject(clip);
    const bool reopened = waitUntil([&] {
        if (again.controller->pictureCount() > 0 && !again.controller->selectedPictureId()) {
            again.controller->selectPicture(0);
        }
        return again.streamLoaded && again.withBlocks.contains(0);
    });
    if (!reopened) {
        return 1;
    }
    printVerdict("reopen to index and first blocks", secondsSince(clock), kReopenGoalSeconds, "s");
    std::printf("  %-40s %d\n", "analyses started by the reopen", again.analyses);
    return 0;
}

int benchmarkOnDemand(const std::filesystem::path& cacheRoot, const WorkerCore& workerCore)
{
    const auto clip = bench::benchMediaDirectory() / "reopen_1080p_300.hevc";
    bool ffmpegFailed = false;
    const std::string upToPicture =
        workerCore.onCore(ffmpegDecodeCommand(clip, "-frames:v " + std::to_string(kOnDemandPicture + 1)));
    const double decodeUpTo =
        bench::bestOf(kReferenceRuns, [&] { return bench::childCpuSecondsOf(upToPicture, ffmpegFailed); });
    // No picture keeps its blocks in the open's pass, so picture 250 is analysed on demand.
    qputenv(kBlockBudgetVariable, "1");
    Project project(cacheRoot);
    const bool opened = project.openAndWaitForIndex(clip, workerCore);
    qunsetenv(kBlockBudgetVariable);
    if (ffmpegFailed || !opened || !project.controller->selectPicture(kOnDemandPicture) ||
        !waitUntil([&] { return project.lastLoaded == kOnDemandPicture; })) {
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    project.controller->analyzeCurrentPictureStructure();
    if (!waitUntil([&] { return project.withBlocks.contains(kOnDemandPicture); })) {
        return 1;
    }
    const double seconds = secondsSince(clock);
    std::printf("  %-40s %.3f s CPU\n", "ffmpeg decode up to picture 250", decodeUpTo);
    printVerdict("on-demand blocks of picture 250", seconds, decodeUpTo * kOnDemandGoalRatio + kOnDemandGoalSlackSeconds,
                 "s");
    return 0;
}

// What a user with several cores waits for: the same open, nothing pinned.
int benchmarkOpenOnEveryCore(const std::filesystem::path& cacheRoot)
{
    const auto clip = bench::benchMediaDirectory() / "reopen_1080p_300.hevc";
    Project project(cacheRoot);
    QElapsedTimer clock;
    clock.start();
    if (!project.openAndWaitForIndex(clip, WorkerCore::everyCore())) {
        return 1;
    }
    std::printf("  %-40s %.3f s (%u cores)\n", "open to every picture's blocks, unpinned", secondsSince(clock),
                std::thread::hardware_concurrency());
    return 0;
}

int benchmarkLongReopen(const std::filesystem::path& cacheRoot, const WorkerCore& workerCore)
{
    const auto clip = bench::benchMediaDirectory() / "reopen_small_30000.hevc";
    if (!bench::ensureGenerated(clip, "-f lavfi -i testsrc2=size=64x64:rate=25 -frames:v 30000 -pix_fmt yuv420p "
                                      "-c:v libx265 -preset ultrafast -x265-params log-level=error:keyint=250 -f hevc")) {
        return 1;
    }
    {
        Project first(cacheRoot);
        if (!first.openAndWaitForIndex(clip, workerCore)) {
            return 1;
        }
    }
    Project again(cacheRoot);
    QElapsedTimer clock;
    clock.start();
    again.controller->openProject(clip);
    if (!waitUntil([&] { return again.streamLoaded; })) {
        return 1;
    }
    std::printf("64x64 HEVC, 30,000 pictures\n");
    printVerdict("reopen to the index", secondsSince(clock), kLongReopenGoalSeconds, "s");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (!bench::paintsOnADisplay("bench_cached_reopen")) {
        return 1;
    }
    QTemporaryDir cacheRoot;
    if (!cacheRoot.isValid()) {
        return 1;
    }
    const std::filesystem::path root(cacheRoot.path().toStdString());
    const WorkerCore workerCore;
    if (benchmark1080p(root / "stepping", workerCore) != 0 || benchmarkOnDemand(root / "on-demand", workerCore) != 0 ||
        benchmarkOpenOnEveryCore(root / "every-core") != 0 || benchmarkLongReopen(root / "long", workerCore) != 0) {
        std::printf("a run failed\n");
        return 1;
    }
    return 0;
}
