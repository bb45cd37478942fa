// Frame-channel throughput from the real worker to the desktop's worker client, for 1080p
// and 4K 10-bit streams, beside the worker's own frame production rate in the same run: the
// same analysis with its frames drained by a bare socket reader that only counts bytes. The
// ratio of the two wall-clock times is what the client's reading costs; goal: at most 1.5x.
// The analysis without any frame channel is printed too, for what producing frames costs.

#include "FrameChannelDrain.h"
#include "WorkerBenchSupport.h"
#include "vexilo/bench/BenchSupport.h"

#include "vexilo/application/AnalyzerWorkerClient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace {

namespace bench = vexilo::bench;
using vexilo::application::AnalyzerAnalysisMode;
using vexilo::application::AnalyzerWorkerClient;
using vexilo::application::AnalyzerWorkerClientOptions;
using vexilo::application::AnalyzerWorkerState;

constexpr int kRuns = 3;
constexpr double kGoalRatio = 1.5;
constexpr int kAnalysisTimeoutMs = 600'000;

struct Clip {
    const char* name;
    const char* size;
    int frames;
};

constexpr int kShutdownGoalMs = 4000;

struct ChannelRun {
    double seconds = 0;
    double shutdownSeconds = 0;
    std::uint64_t frames = 0;
    std::uint64_t sampleBytes = 0;
};

std::uint64_t sampleBytesOf(const vexilo::domain::VideoFrame& frame)
{
    std::uint64_t bytes = frame.packedData.size();
    for (const vexilo::domain::VideoPlane& plane : frame.planes) {
        bytes += plane.samples.size();
    }
    return bytes;
}

bool waitUntil(AnalyzerWorkerClient& client, const std::function<bool()>& done)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || client.state() == AnalyzerWorkerState::Failed) {
            loop.quit();
        }
    });
    QTimer::singleShot(kAnalysisTimeoutMs, &loop, &QEventLoop::quit);
    poll.start(1);
    loop.exec();
    return done();
}

std::optional<ChannelRun> analyseThroughClient(const std::filesystem::path& clip, std::uint64_t expectedFrames)
{
    AnalyzerWorkerClientOptions options;
    options.workerProgram = QStringLiteral(VEXILO_WORKER_EXECUTABLE);
    AnalyzerWorkerClient client(nullptr, options);
    ChannelRun run;
    QObject::connect(&client, &AnalyzerWorkerClient::frameReceived, &client,
                     [&run](const vexilo::protocol::AnalyzerFramePacket& packet) {
                         ++run.frames;
                         run.sampleBytes += sampleBytesOf(packet.frame);
                     });
    QObject::connect(&client, &AnalyzerWorkerClient::errorOccurred, &client,
                     [](const vexilo::application::AnalyzerWorkerError& error) {
                         std::fprintf(stderr, "client: %s %s\n", qPrintable(error.code), qPrintable(error.detail));
                     });
    client.start();
    if (!waitUntil(client, [&] { return client.state() == AnalyzerWorkerState::Ready; })) {
        return std::nullopt;
    }
    QTemporaryDir cacheRoot;
    run.seconds = bench::secondsOf([&] {
        client.analyze(QString::fromStdString(clip.string()), cacheRoot.path(), AnalyzerAnalysisMode::StreamIndex);
        waitUntil(client,
                  [&] { return client.state() == AnalyzerWorkerState::Ready && run.frames >= expectedFrames; });
    });
    run.shutdownSeconds = bench::secondsOf([&] { client.shutdown(); });
    if (run.frames != expectedFrames) {
        return std::nullopt;
    }
    return run;
}

bool measure(const Clip& clip)
{
    const auto path = bench::benchMediaDirectory() / clip.name;
    const std::string generate = std::string("-f lavfi -i testsrc2=size=") + clip.size + ":rate=25 -frames:v " +
                                 std::to_string(clip.frames) +
                                 " -pix_fmt yuv420p10le -c:v libx265 -preset ultrafast -x265-params log-level=error "
                                 "-f hevc";
    if (!bench::ensureGenerated(path, generate)) {
        return false;
    }
    const auto expected = static_cast<std::uint64_t>(clip.frames);

    bool failed = false;
    const QJsonObject streamIndex{{"analysisMode", "stream_index"}};
    const double unsentSeconds = bench::bestSecondsOf(kRuns, [&] {
        QTemporaryDir cacheRoot;
        failed = !bench::analyseThroughWorker(path, cacheRoot.path().toStdString(), streamIndex) || failed;
    });
    std::uint64_t drainedBytes = 0;
    const double workerSeconds = bench::bestSecondsOf(kRuns, [&] {
        QTemporaryDir cacheRoot;
        bench::FrameChannelDrain drain;
        failed = !bench::analyseThroughWorker(path, cacheRoot.path().toStdString(), streamIndex, drain.name()) ||
                 failed;
        drainedBytes = drain.finish();
    });
    std::optional<ChannelRun> best;
    for (int run = 0; run < kRuns; ++run) {
        const std::optional<ChannelRun> channel = analyseThroughClient(path, expected);
        if (!channel) {
            failed = true;
            break;
        }
        if (!best || channel->seconds < best->seconds) {
            best = channel;
        }
    }
    if (failed || !best) {
        std::fprintf(stderr, "%s: a run failed\n", clip.name);
        return false;
    }

    const double megabytes = static_cast<double>(best->sampleBytes) / 1e6;
    const double ratio = best->seconds / workerSeconds;
    std::printf("%s, %d frames, stream_index (wall-clock, best of %d)\n", clip.name, clip.frames, kRuns);
    std::printf("  worker, no frame channel        %8.3f s %8.1f frames/s\n", unsentSeconds,
                static_cast<double>(expected) / unsentSeconds);
    std::printf("  worker -> bare socket reader    %8.3f s %8.1f frames/s %8.1f MB/s (%.1f MB on the wire)\n",
                workerSeconds, static_cast<double>(expected) / workerSeconds,
                static_cast<double>(drainedBytes) / 1e6 / workerSeconds, static_cast<double>(drainedBytes) / 1e6);
    std::printf("  worker -> client frame channel  %8.3f s %8.1f frames/s %8.1f MB/s (%.1f MB of samples)\n",
                best->seconds, static_cast<double>(best->frames) / best->seconds, megabytes / best->seconds,
                megabytes);
    std::printf("  ratio                           %8.2fx (goal <= %.1fx)\n", ratio, kGoalRatio);
    // The client's shutdown waits add up to 2000 + 500 + 1000 ms when the worker does not answer.
    std::printf("  client shutdown after the run   %8.1f ms (goal <= %d)\n", best->shutdownSeconds * 1000.0,
                kShutdownGoalMs);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const bool ok = measure({"channel_1080p_10bit_60.hevc", "1920x1080", 60}) &&
                    measure({"channel_2160p_10bit_20.hevc", "3840x2160", 20});
    return ok ? 0 : 1;
}
