// Analyses a 1080p stream of 300 pictures in "stream_index" mode through the real worker
// program, beside `ffmpeg -threads 1 -i SAME -f null -` in the same run, and prints the
// ratio of the two. Goal: at most 1.3x. The worker's frames go nowhere (no frame channel),
// so the figure is decoding plus observation, document building and the cache write.

#include "vexilo/bench/BenchSupport.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <string>

namespace {

namespace bench = vexilo::bench;

constexpr int kRuns = 3;
constexpr int kWorkerTimeoutMs = 600'000;
constexpr double kGoalRatio = 1.3;

QByteArray requestLine(const QJsonObject& payload, const char* type, const char* requestId, const char* taskId = "")
{
    QJsonObject message{{"protocolVersion", 3}, {"type", type}, {"requestId", requestId}, {"payload", payload}};
    if (*taskId != '\0') {
        message.insert("taskId", taskId);
    }
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

// One analysis through the worker's protocol: hello, analyze, wait for the task's end, shutdown.
bool analyseThroughWorker(const std::filesystem::path& input, const std::filesystem::path& cacheRoot)
{
    QProcess worker;
    worker.start(QStringLiteral(VEXILO_WORKER_EXECUTABLE),
                 {QStringLiteral("--parent-pid"), QString::number(QCoreApplication::applicationPid())});
    if (!worker.waitForStarted()) {
        return false;
    }
    worker.write(requestLine({}, "hello", "r1"));
    const QJsonObject analyze{{"inputPath", QString::fromStdString(input.string())},
                              {"cacheRoot", QString::fromStdString(cacheRoot.string())},
                              {"analysisMode", "stream_index"}};
    worker.write(requestLine(analyze, "analyze", "r2", "bench"));
    bool finished = false;
    while (!finished && worker.waitForReadyRead(kWorkerTimeoutMs)) {
        while (worker.canReadLine()) {
            const QJsonObject event = QJsonDocument::fromJson(worker.readLine()).object();
            const QString type = event.value("type").toString();
            if (type == "analysisFinished") {
                finished = true;
            } else if (type == "error" || type == "analysisCanceled") {
                std::fprintf(stderr, "worker: %s\n", QJsonDocument(event).toJson().constData());
                return false;
            }
        }
    }
    worker.write(requestLine({}, "shutdown", "r3"));
    worker.closeWriteChannel();
    worker.waitForFinished();
    return finished;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const auto clip = bench::benchMediaDirectory() / "worker_1080p_300.hevc";
    if (!bench::ensureGenerated(clip, "-f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 300 -pix_fmt yuv420p "
                                      "-c:v libx265 -preset ultrafast -x265-params log-level=error -f hevc")) {
        return 1;
    }

    bool failed = false;
    const std::string ffmpegCommand =
        "ffmpeg -hide_banner -loglevel error -nostdin -threads 1 -i " + bench::quoted(clip) + " -f null -";
    const double ffmpegSeconds = bench::bestOf(kRuns, [&] { return bench::childCpuSecondsOf(ffmpegCommand, failed); });

    const double workerSeconds = bench::bestOf(kRuns, [&] {
        QTemporaryDir cacheRoot;
        const double before = bench::cpuSeconds(RUSAGE_CHILDREN);
        failed = !analyseThroughWorker(clip, cacheRoot.path().toStdString()) || failed;
        return bench::cpuSeconds(RUSAGE_CHILDREN) - before;
    });
    if (failed) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }

    const double ratio = workerSeconds / ffmpegSeconds;
    std::printf("stream_index analysis of 300 pictures at 1080p (CPU seconds, best of %d)\n", kRuns);
    std::printf("  worker            %8.3f s\n", workerSeconds);
    std::printf("  ffmpeg -threads 1 %8.3f s\n", ffmpegSeconds);
    std::printf("  ratio             %8.2fx (goal <= %.1fx)\n", ratio, kGoalRatio);
    return 0;
}
