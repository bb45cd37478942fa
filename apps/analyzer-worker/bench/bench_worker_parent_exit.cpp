// Measures how long the real worker program takes to exit (code 72) after its parent
// process is killed, beside the time the same machine takes to reap a plain child that is
// killed directly. Goal: the worker is gone within 500 ms of its parent's death.

#include "WorkerBenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

namespace bench = vexilo::bench;

constexpr int kRuns = 7;
constexpr int kGoalMs = 500;
constexpr int kExitWaitMs = 30000;
constexpr int kWorkerExitCodeParentGone = 72;

bool startParent(QProcess& parent)
{
    parent.start(QStringLiteral("sleep"), {QStringLiteral("600")});
    return parent.waitForStarted();
}

// Milliseconds from killing the parent to the worker's exit, or nothing when it failed.
std::optional<double> workerExitAfterParentDeath()
{
    QProcess parent;
    if (!startParent(parent)) {
        return std::nullopt;
    }
    QProcess worker;
    worker.start(QStringLiteral(VEXILO_WORKER_EXECUTABLE),
                 {QStringLiteral("--parent-pid"), QString::number(parent.processId())});
    if (!worker.waitForStarted()) {
        return std::nullopt;
    }
    worker.write(bench::workerRequestLine({}, "hello", "h1"));
    if (!worker.waitForReadyRead(kExitWaitMs)) {
        return std::nullopt;
    }
    QElapsedTimer sinceKill;
    parent.kill();
    sinceKill.start();
    const bool exited = worker.waitForFinished(kExitWaitMs);
    const auto elapsed = static_cast<double>(sinceKill.nsecsElapsed()) / 1e6;
    parent.waitForFinished();
    if (!exited || worker.exitCode() != kWorkerExitCodeParentGone) {
        return std::nullopt;
    }
    return elapsed;
}

// Milliseconds from killing a plain child to having reaped it: the floor any watcher pays.
std::optional<double> plainChildExitAfterKill()
{
    QProcess child;
    if (!startParent(child)) {
        return std::nullopt;
    }
    QElapsedTimer sinceKill;
    child.kill();
    sinceKill.start();
    if (!child.waitForFinished(kExitWaitMs)) {
        return std::nullopt;
    }
    return static_cast<double>(sinceKill.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    std::vector<double> worker;
    std::vector<double> plain;
    for (int run = 0; run < kRuns; ++run) {
        const std::optional<double> workerMs = workerExitAfterParentDeath();
        const std::optional<double> plainMs = plainChildExitAfterKill();
        if (!workerMs || !plainMs) {
            std::fprintf(stderr, "a run failed\n");
            return 1;
        }
        worker.push_back(*workerMs);
        plain.push_back(*plainMs);
    }
    std::printf("exit after the parent's death (ms, %d runs)\n", kRuns);
    std::printf("  worker, median %8.1f  max %8.1f (goal <= %d)\n", median(worker),
                *std::max_element(worker.begin(), worker.end()), kGoalMs);
    std::printf("  killed child reaped, median %8.1f  max %8.1f\n", median(plain),
                *std::max_element(plain.begin(), plain.end()));
    return 0;
}
