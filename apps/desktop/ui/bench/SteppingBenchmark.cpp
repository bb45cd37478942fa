// Steps through a generated 3,600-picture 1080p x265 stream (keyint 60, B-frames) in the window,
// after its pass and again right after a reopen from the cache, and prints what the user waits
// for: the time from selecting a picture in the picture table until the frame viewer has painted
// its frame with every overlay drawn. For 20 steps forward and 20 back at pictures 100, 1,800 and
// 3,500 (goal: median at most 150 ms, worst at most 1 s), and for a jump from picture 0 to
// picture 3,000 (goal: at most what ffmpeg takes to decode from the random-access picture before
// it to it, plus 0.3 s); beside `ffmpeg -threads 1` decoding from the start to picture 3,000,
// which is what a step there cost while decoding began at the stream's start.
// Needs an X display (xvfb-run); prints the machine's load before and after.
#include "vexilo/bench/BenchSupport.h"
#include "vexilo/bench/ShownPicture.h"

#include "vexilo/application/ProjectController.h"
#include "vexilo/application/StreamRandomAccess.h"
#include "vexilo/ffmpeg_handles/RandomAccessSeek.h"
#include "vexilo/models/PictureSyntaxModel.h"
#include "vexilo/ui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QTableView>
#include <QTemporaryDir>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace {

using namespace vexilo;
namespace bench = vexilo::bench;

constexpr int kPictures = 3600;
constexpr int kStepsEachWay = 20;
constexpr std::array kStepLocations{100, 1800, 3500};
constexpr int kJumpFrom = 0;
constexpr int kJumpTo = 3000;
constexpr double kMedianStepGoalSeconds = 0.150;
constexpr double kWorstStepGoalSeconds = 1.0;
constexpr double kJumpSlackSeconds = 0.3;
constexpr int kReferenceRuns = 3;
// A step to a picture the pass left without blocks waits for its structure analysis too.
constexpr int kShownTimeoutMs = 5 * 60 * 1000;
constexpr int kOpenTimeoutMs = 60 * 60 * 1000;
constexpr std::array kEveryOverlay{"actionCtuOverlay", "actionCuOverlay", "actionPuOverlay", "actionTuOverlay",
                                   "actionMotionVectorOverlay", "actionQpMapOverlay"};

void printLoad(const char* when)
{
    std::ifstream load("/proc/loadavg");
    std::string figures;
    std::getline(load, figures);
    std::printf("  machine load %s: %s\n", when, figures.c_str());
}

void printVerdict(const char* what, double value, double goal)
{
    std::printf("  %-44s %.3f s (goal <= %.3f) %s\n", what, value, goal, value <= goal ? "met" : "NOT met");
}

// The window as a user has it: shown, every overlay on.
struct SteppingWindow {
    SteppingWindow()
    {
        window.resize(1600, 1000);
        window.show();
        controller = window.findChild<application::ProjectController*>(QStringLiteral("projectController"));
        table = window.findChild<QTableView*>(QStringLiteral("pictureView"));
        viewer = window.findChild<FrameViewer*>(QStringLiteral("frameViewer"));
        syntax = window.findChild<PictureSyntaxModel*>(QStringLiteral("nalSyntaxModel"));
        for (const char* name : kEveryOverlay) {
            if (auto* action = window.findChild<QAction*>(QString::fromLatin1(name)); action && !action->isChecked()) {
                action->trigger();
            }
        }
        QObject::connect(controller, &application::ProjectController::streamAnalysisLoaded,
                         [this](qulonglong, const application::StreamAnalysisPtr& analysis) { stream = analysis; });
        QObject::connect(controller, &application::ProjectController::analysisStarted, [this] { ++analyses; });
    }

    [[nodiscard]] bool ready() const { return controller != nullptr && table != nullptr && viewer != nullptr && syntax; }

    bool openAndWaitForTheIndex(const std::filesystem::path& clip)
    {
        stream.reset();
        controller->openProject(clip);
        return bench::runEventLoopUntil([&] { return stream != nullptr && table->model()->rowCount() > 0; },
                                        kOpenTimeoutMs);
    }

    bool waitForRow(int row) const
    {
        return bench::runEventLoopUntil([&] { return table->model()->rowCount() > row; }, kOpenTimeoutMs);
    }

    // Selects the row as a click or an arrow key does, and times it until it is shown.
    bench::ShownTimes select(int row)
    {
        QElapsedTimer clock;
        clock.start();
        table->setCurrentIndex(table->model()->index(row, 0));
        return bench::timeUntilShownWithOverlays(
            *viewer, row,
            [this, row] { return syntax->pictureId() == domain::PictureId{row} && !syntax->analysis().cus.empty(); },
            clock, kShownTimeoutMs);
    }

    MainWindow window;
    application::ProjectController* controller = nullptr;
    QTableView* table = nullptr;
    FrameViewer* viewer = nullptr;
    PictureSyntaxModel* syntax = nullptr;
    application::StreamAnalysisPtr stream;
    int analyses = 0;
};

// 20 steps forward from the location and 20 back to it; empty when a step never showed.
std::vector<bench::ShownTimes> stepAround(SteppingWindow& w, int location)
{
    std::vector<bench::ShownTimes> steps;
    if (!w.waitForRow(location + kStepsEachWay) || w.select(location).withOverlays < 0.0) {
        return {};
    }
    for (int row = location + 1; row <= location + kStepsEachWay; ++row) {
        steps.push_back(w.select(row));
    }
    for (int row = location + kStepsEachWay - 1; row >= location; --row) {
        steps.push_back(w.select(row));
    }
    if (std::any_of(steps.begin(), steps.end(), [](const bench::ShownTimes& step) { return step.withOverlays < 0.0; })) {
        return {};
    }
    return steps;
}

std::vector<double> framesOf(const std::vector<bench::ShownTimes>& steps)
{
    std::vector<double> seconds;
    std::transform(steps.begin(), steps.end(), std::back_inserter(seconds),
                   [](const bench::ShownTimes& step) { return step.frame; });
    return seconds;
}

std::vector<double> withOverlaysOf(const std::vector<bench::ShownTimes>& steps)
{
    std::vector<double> seconds;
    std::transform(steps.begin(), steps.end(), std::back_inserter(seconds),
                   [](const bench::ShownTimes& step) { return step.withOverlays; });
    return seconds;
}

// What ffmpeg takes to decode from the random-access picture before picture `target` to it, on
// as many threads as it chooses (as the window's decoder does): the access unit on, cut from the
// file with the parameter sets it needs ahead of it.
std::optional<double> ffmpegFromTheRandomAccessPicture(const std::filesystem::path& clip,
                                                       const analysis::StreamAnalysis& stream, int target)
{
    const auto index = application::makeRandomAccessIndex(stream);
    const std::optional<media::RandomAccessStart> start = index->startFor(target);
    if (!start || !start->firstOutputDisplayIndex) {
        return std::nullopt;
    }
    const auto parameterSets = ffmpeg::readParameterSetPacket(clip, start->parameterSets, ffmpeg::NalFraming{});
    if (!parameterSets) {
        return std::nullopt;
    }
    std::ifstream source(clip, std::ios::binary);
    source.seekg(static_cast<std::streamoff>(start->picture.accessUnitOffset));
    const std::filesystem::path cut = bench::benchMediaDirectory() / "stepping_from_random_access.hevc";
    {
        std::ofstream out(cut, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(parameterSets->data()), static_cast<std::streamsize>(parameterSets->size()));
        out << source.rdbuf();
    }
    const int pictures = target - static_cast<int>(*start->firstOutputDisplayIndex) + 1;
    const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -i " + bench::quoted(cut) +
                                " -frames:v " + std::to_string(pictures) + " -f null -";
    std::printf("  random-access picture before %d: picture %lld, %d pictures to decode\n", target,
                static_cast<long long>(*start->firstOutputDisplayIndex), pictures);
    return bench::bestSecondsOf(kReferenceRuns, [&] { bench::runQuietly(command); });
}

// Every figure of one phase; false when a picture was never shown.
bool measureSteps(SteppingWindow& w, const char* phase, double jumpGoal)
{
    std::printf("%s\n", phase);
    const int analysesBefore = w.analyses;
    std::vector<bench::ShownTimes> all;
    for (const int location : kStepLocations) {
        const std::vector<bench::ShownTimes> steps = stepAround(w, location);
        if (steps.empty()) {
            std::printf("  steps at picture %d: a picture was NOT shown\n", location);
            return false;
        }
        const bench::StepFigures shown = bench::figuresOf(withOverlaysOf(steps));
        const bench::StepFigures frames = bench::figuresOf(framesOf(steps));
        std::printf("  steps at picture %-5d median %.3f s, worst %.3f s (the frame alone: median %.3f s, worst %.3f s)\n",
                    location, shown.median, shown.worst, frames.median, frames.worst);
        all.insert(all.end(), steps.begin(), steps.end());
    }
    const bench::StepFigures figures = bench::figuresOf(withOverlaysOf(all));
    printVerdict("median step, all 120", figures.median, kMedianStepGoalSeconds);
    printVerdict("worst step, all 120", figures.worst, kWorstStepGoalSeconds);
    if (!w.waitForRow(kJumpTo) || w.select(kJumpFrom).withOverlays < 0.0) {
        return false;
    }
    const bench::ShownTimes jump = w.select(kJumpTo);
    if (jump.withOverlays < 0.0) {
        std::printf("  jump to picture %d: NOT shown\n", kJumpTo);
        return false;
    }
    printVerdict("jump from picture 0 to picture 3000", jump.withOverlays, jumpGoal);
    std::printf("  %-44s %.3f s\n", "  of which until the frame alone was shown", jump.frame);
    const application::FrameDecodeCounts counts = w.controller->frameDecodeCounts();
    std::printf("  frame decoder: %llu decodes from random-access pictures, %llu from the stream's start, %llu "
                "pictures decoded, %llu copied into the cache\n",
                static_cast<unsigned long long>(counts.randomAccessStarts),
                static_cast<unsigned long long>(counts.streamStarts),
                static_cast<unsigned long long>(counts.picturesDecoded),
                static_cast<unsigned long long>(counts.picturesCopied));
    // A picture the pass left without its blocks has them analysed when it is shown.
    std::printf("  structure analyses the steps started: %d\n", w.analyses - analysesBefore);
    return true;
}

int run(const std::filesystem::path& clip)
{
    bool ffmpegFailed = false;
    const double fromTheStart = bench::bestOf(kReferenceRuns, [&] {
        return bench::childCpuSecondsOf("ffmpeg -hide_banner -loglevel error -nostdin -threads 1 -i " +
                                            bench::quoted(clip) + " -frames:v " + std::to_string(kJumpTo + 1) +
                                            " -f null -",
                                        ffmpegFailed);
    });
    std::printf("1080p HEVC, %d pictures, keyint 60, B-frames\n", kPictures);
    printLoad("at the start");
    std::printf("  ffmpeg -threads 1 from the start to picture %d: %.3f s CPU\n", kJumpTo, fromTheStart);

    SteppingWindow w;
    if (ffmpegFailed || !w.ready()) {
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    if (!w.openAndWaitForTheIndex(clip) ||
        !bench::runEventLoopUntil([&] { return w.controller->state() == application::ProjectState::Ready; },
                                  kOpenTimeoutMs)) {
        return 1;
    }
    std::printf("  the pass: %.1f s\n", static_cast<double>(clock.elapsed()) / 1000.0);
    const std::optional<double> fromRandomAccess = ffmpegFromTheRandomAccessPicture(clip, *w.stream, kJumpTo);
    if (!fromRandomAccess) {
        return 1;
    }
    std::printf("  ffmpeg from that random-access picture to picture %d: %.3f s\n", kJumpTo, *fromRandomAccess);
    const double jumpGoal = *fromRandomAccess + kJumpSlackSeconds;
    if (!measureSteps(w, "after the pass", jumpGoal)) {
        return 1;
    }

    w.controller->closeProject();
    clock.restart();
    if (!w.openAndWaitForTheIndex(clip)) {
        return 1;
    }
    std::printf("  reopen to the cached index: %.3f s\n", static_cast<double>(clock.elapsed()) / 1000.0);
    const bool reopened = measureSteps(w, "right after a reopen from the cache", jumpGoal);
    std::printf("  reopen to the last figure: %.1f s\n", static_cast<double>(clock.elapsed()) / 1000.0);
    printLoad("at the end");
    w.controller->closeProject();
    return reopened ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (!bench::paintsOnADisplay("bench_stepping")) {
        return 1;
    }
    const auto clip = bench::benchMediaDirectory() / "stepping_1080p_3600.hevc";
    if (!bench::ensureGenerated(clip, "-f lavfi -i testsrc2=size=1920x1080:rate=60 -frames:v " +
                                          std::to_string(kPictures) +
                                          " -pix_fmt yuv420p -c:v libx265 -preset ultrafast "
                                          "-x265-params log-level=error:keyint=60:min-keyint=60:bframes=3 -f hevc")) {
        return 1;
    }
    // A settings folder and an analysis cache of its own: every run starts with the pass.
    QTemporaryDir home;
    if (!home.isValid()) {
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/cache")).toLocal8Bit());
    const int status = run(clip);
    if (status != 0) {
        std::printf("a run failed\n");
    }
    return status;
}
