// The worker's peak resident memory, read from its own /proc entry once its task has ended,
// against its block budget, which holds for one picture at a time: a stream whose blocks outgrow
// a small budget many times keeps every picture's blocks and costs the worker at most a few
// budgets more than a run that keeps no blocks at all, plus a constant.
#include "PipelineTestSupport.h"
#include "WorkerTestSupport.h"
#include "collector/ObserverEventCollector.h"

#include <gtest/gtest.h>

#include <QProcessEnvironment>

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

namespace vexilo::analyzer {
namespace {

using testing::ScratchDirectory;
using testing::WorkerProcess;

constexpr int kBudgetRunTimeoutMs = 300000;
constexpr std::uint64_t kSmallBudgetBytes = 6'000'000;
// The pictures in flight: the one made into a document and those waiting to be.
constexpr std::uint64_t kBudgetsInFlight = 2;
constexpr const char* kNoBlocksBudget = "1";
// What the worker holds beyond what the budget accounts for: the stream-level events and
// records and the cache writer's tables of a stream of this size.
constexpr std::uint64_t kConstantBytes = std::uint64_t{8} << 20;

#if defined(__SANITIZE_ADDRESS__)
#define VEXILO_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXILO_TEST_UNDER_ASAN 1
#endif
#endif

#if defined(VEXILO_TEST_UNDER_ASAN)
// AddressSanitizer's shadow and redzones come on top of every byte the budget counts. Its
// quarantine would hold back the memory of every picture made before: the worker is given a
// small one, so that a picture's memory goes to the next as it does without the sanitizer.
constexpr std::uint64_t kResidentBytesPerBudgetByte = 3;
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr std::uint64_t kResidentBytesPerBudgetByte = 1;
constexpr bool kUnderAddressSanitizer = false;
#endif

std::optional<std::uint64_t> peakResidentBytes(qint64 pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stoull(line.substr(6)) * 1024;
        }
    }
    return std::nullopt;
}

struct BudgetRun {
    std::uint64_t peakBytes = 0;
    qint64 pictures = 0;
    qint64 picturesWithBlocks = 0;
    // What the blocks of the whole stream would take as one document.
    std::uint64_t documentBytes = 0;
};

// One "bounded_structure" analysis of the clip by a worker given `budget` bytes for blocks.
std::optional<BudgetRun> analyseWithBudget(const std::filesystem::path& clip, const char* budget)
{
    ScratchDirectory cache;
    WorkerProcess worker(
        {QStringLiteral("--parent-pid"), QString::number(QCoreApplication::applicationPid())}, [&](QProcess& process) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("VEXILO_ANALYZER_TEST_BLOCK_BUDGET_BYTES"), QString::fromLatin1(budget));
            if (kUnderAddressSanitizer) {
                const QString options = environment.value(QStringLiteral("ASAN_OPTIONS"));
                environment.insert(QStringLiteral("ASAN_OPTIONS"),
                                   options + (options.isEmpty() ? "" : ":") + "quarantine_size_mb=4");
            }
            process.setProcessEnvironment(environment);
        });
    worker.send(testing::requestLine("hello", "h1"));
    worker.send(testing::requestLine("analyze", "a1",
                                     {{"inputPath", QString::fromStdString(clip.string())},
                                      {"cacheRoot", QString::fromStdString(cache.path().string())},
                                      {"analysisMode", "bounded_structure"}},
                                     "t1"));
    for (;;) {
        const QJsonObject event = worker.nextEvent(kBudgetRunTimeoutMs);
        const QString type = event.value("type").toString();
        if (type == "analysisFinished") {
            const std::optional<std::uint64_t> peak = peakResidentBytes(worker.process.processId());
            if (!peak) {
                return std::nullopt;
            }
            const QJsonObject payload = event.value("payload").toObject();
            // FFmpeg's parser hands over one access unit, one picture, per packet.
            const auto count = [&](const char* key) {
                return static_cast<std::uint64_t>(payload.value(QLatin1String(key)).toInteger());
            };
            return BudgetRun{*peak, payload.value("packetsSent").toInteger(),
                             payload.value("picturesWithBlocks").toInteger(),
                             documentBytesOfBlocks({count("ctuCount"), count("cuCount"), count("puCount"),
                                                    count("tuCount")})};
        }
        if (type.isEmpty() || type == "error" || type == "analysisCanceled") {
            ADD_FAILURE() << "the analysis ended with " << QJsonDocument(event).toJson().toStdString();
            return std::nullopt;
        }
    }
}

TEST(WorkerMemoryBudget, APassOverBlocksFarBeyondTheBudgetKeepsThemAllWithinAFewBudgets)
{
    const std::filesystem::path clip = testing::testMedia("client_long_640x360.hevc");
    const std::optional<BudgetRun> withoutBlocks = analyseWithBudget(clip, kNoBlocksBudget);
    const std::optional<BudgetRun> bounded =
        analyseWithBudget(clip, std::to_string(kSmallBudgetBytes).c_str());
    ASSERT_TRUE(withoutBlocks && bounded);
    EXPECT_EQ(withoutBlocks->picturesWithBlocks, 0);
    EXPECT_EQ(bounded->picturesWithBlocks, bounded->pictures);
    EXPECT_GT(bounded->documentBytes, 2 * kBudgetsInFlight * kSmallBudgetBytes)
        << "the stream's blocks outgrow the budget";
    const std::uint64_t allowed = withoutBlocks->peakBytes +
                                  kResidentBytesPerBudgetByte * kBudgetsInFlight * kSmallBudgetBytes + kConstantBytes;
    EXPECT_LE(bounded->peakBytes, allowed)
        << "peak " << (bounded->peakBytes >> 20) << " MiB, without blocks " << (withoutBlocks->peakBytes >> 20)
        << " MiB, budget " << (kSmallBudgetBytes >> 20) << " MiB";
}

}  // namespace
}  // namespace vexilo::analyzer
