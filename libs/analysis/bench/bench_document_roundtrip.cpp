// Serialises, reads and validates a synthetic document of one million coding-block
// records (CUs, PUs, TUs and motion vectors) and prints the time and throughput of
// each step. Goal: the whole round trip under 2 s on one core.

#include "vexilo/analysis/AnalysisCodec.h"
#include "vexilo/analysis/DomainValidation.h"

#include "SyntheticStream.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <span>
#include <variant>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kBlockRecords = 1'000'000;
constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;
constexpr double kRoundTripGoalMilliseconds = 2000;

template <typename Step>
double millisecondsOf(Step&& step)
{
    const auto start = Clock::now();
    step();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void printStep(const char* name, double milliseconds, std::size_t bytes)
{
    const double megabytesPerSecond = (static_cast<double>(bytes) / kBytesPerMegabyte) / (milliseconds / 1000.0);
    std::printf("%-10s %9.1f ms %9.1f MB/s\n", name, milliseconds, megabytesPerSecond);
}

}  // namespace

int main()
{
    using namespace vexilo::analysis;
    const StreamAnalysis document = bench::SyntheticStream(kBlockRecords).document();
    const std::uint64_t blocks =
        document.cus.size() + document.pus.size() + document.tus.size() + document.motionVectors.size();
    std::printf("document: %llu coding-block records (%zu CTUs, %zu pictures)\n",
                static_cast<unsigned long long>(blocks), document.ctus.size(), document.pictures.size());

    ValidationIssues sourceIssues;
    const double validateSourceMs = millisecondsOf([&] { sourceIssues = validateStreamAnalysis(document); });

    AnalysisSerializeResult written;
    const double serializeMs = millisecondsOf([&] { written = serializeStreamAnalysis(document); });
    if (const auto* error = std::get_if<AnalysisReadError>(&written)) {
        std::printf("serialise failed: %s\n", error->message.c_str());
        return 1;
    }
    const std::vector<std::uint8_t>& bytes = std::get<std::vector<std::uint8_t>>(written);

    AnalysisReadResult read;
    const double readMs = millisecondsOf([&] { read = readStreamAnalysis(std::span<const std::uint8_t>(bytes)); });
    if (const auto* error = std::get_if<AnalysisReadError>(&read)) {
        std::printf("read failed: %s\n", error->message.c_str());
        return 1;
    }

    ValidationIssues issues;
    const double validateMs = millisecondsOf([&] { issues = validateStreamAnalysis(std::get<StreamAnalysis>(read)); });

    std::printf("buffer: %.1f MB\n", static_cast<double>(bytes.size()) / kBytesPerMegabyte);
    printStep("validate", validateSourceMs, bytes.size());
    printStep("serialise", serializeMs, bytes.size());
    printStep("read", readMs, bytes.size());
    printStep("validate", validateMs, bytes.size());
    printStep("roundtrip", serializeMs + readMs, bytes.size());
    std::printf("round trip %.1f ms (goal <= %.0f); serialise and read each include a validation\n",
                serializeMs + readMs, kRoundTripGoalMilliseconds);
    return issues.empty() && std::get<StreamAnalysis>(read) == document ? 0 : 1;
}
