// Writes analysis caches of 1,000 and 10,000 pictures with the real cache writer and preloads
// every picture through the analysis repository the way the task service does (one load in
// flight, the next started when the previous one arrives on the GUI thread). The reference is
// the cache reader alone reading and decoding the same picture files in the same run.
// Goals: the preload costs at most 3x the reference, and its time per picture stays flat
// from 1,000 to 10,000 pictures.

#include "vexilo/analysis/cache/CacheContainer.h"
#include "vexilo/analysis/cache/CachePayload.h"
#include "vexilo/analysis/cache/CacheWriter.h"
#include "vexilo/application/AnalysisRepository.h"

#include "CacheTestDocuments.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <variant>

#include <unistd.h>

namespace {

using namespace vexilo;
using Clock = std::chrono::steady_clock;

constexpr double kGoalRatio = 3.0;
constexpr double kGoalGrowth = 1.5;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename T> T orDie(analysis::CacheResult<T> result, const char* what)
{
    if (const auto* error = std::get_if<analysis::CacheError>(&result)) {
        std::fprintf(stderr, "%s failed: %s (%s)\n", what, error->message.c_str(), error->path.c_str());
        std::exit(1);
    }
    return std::get<T>(std::move(result));
}

double readWithCacheReader(const std::filesystem::path& directory, const analysis::CacheManifest& manifest)
{
    const auto start = Clock::now();
    for (const analysis::ManifestPictureEntry& entry : manifest.pictures) {
        const auto path = directory / entry.path;
        const auto file = orDie(analysis::readCacheFile(path, analysis::kPictureMagic), "reference read");
        orDie(analysis::decodeCachedAnalysisPayload(file.payload, path), "reference decode");
    }
    return secondsSince(start);
}

// Sequential: one load in flight, the next asked for when the previous one arrives, as the
// task service's preload queue does. Batch: every load asked for at once.
double preloadThroughRepository(const std::filesystem::path& directory, const analysis::CacheManifest& manifest,
                                bool sequential)
{
    application::AnalysisRepository repository;
    QEventLoop loop;
    std::size_t requested = 0;
    std::size_t arrived = 0;
    bool failed = false;
    const auto request = [&] {
        repository.loadPicture(directory, manifest.pictures[requested],
                               static_cast<domain::PictureId>(requested + 1), analysis::cachetest::kFingerprintA, 1);
        ++requested;
    };
    QObject::connect(&repository, &application::AnalysisRepository::streamLoaded, &loop, [&] {
        while (requested < manifest.pictures.size() && (!sequential || requested == 0)) {
            request();
        }
    });
    QObject::connect(&repository, &application::AnalysisRepository::pictureLoaded, &loop, [&] {
        if (++arrived == manifest.pictures.size()) {
            loop.quit();
        } else if (sequential) {
            request();
        }
    });
    QObject::connect(&repository, &application::AnalysisRepository::repositoryError, &loop,
                     [&](const application::AnalysisRepositoryError& error) {
                         std::fprintf(stderr, "load failed: %s\n", qPrintable(error.message));
                         failed = true;
                         loop.quit();
                     });
    const auto start = Clock::now();
    repository.loadStream(directory, std::nullopt, 1);
    loop.exec();
    const double seconds = secondsSince(start);
    if (failed) {
        std::exit(1);
    }
    return seconds;
}

double measure(std::size_t pictureCount, const std::filesystem::path& directory)
{
    std::filesystem::remove_all(directory);
    const analysis::CacheManifest manifest =
        orDie(analysis::writeAnalysisCache(directory, analysis::cachetest::makeAnalysis(pictureCount, true),
                                           analysis::CacheWriteOptions{}),
              "cache write");
    // Warm the page cache so that both readers meet the same files in memory.
    readWithCacheReader(directory, manifest);
    const double reference = readWithCacheReader(directory, manifest);
    const double batch = preloadThroughRepository(directory, manifest, false);
    const std::clock_t cpuStart = std::clock();
    const double sequential = preloadThroughRepository(directory, manifest, true);
    const double sequentialCpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const double perPicture = batch / static_cast<double>(pictureCount) * 1e3;
    const auto line = [pictureCount](const char* what, double seconds) {
        std::printf("  %-34s %8.3f s %8.4f ms/picture\n", what, seconds,
                    seconds / static_cast<double>(pictureCount) * 1e3);
    };
    std::printf("pictures=%zu (wall-clock, page cache warm)\n", pictureCount);
    line("cache reader alone (reference)", reference);
    line("repository preload, batch", batch);
    line("repository preload, one in flight", sequential);
    std::printf("  ratio batch                        %8.2fx (goal <= %.1fx)\n", batch / reference, kGoalRatio);
    std::printf("  ratio one in flight                %8.2fx (%.4f ms/picture of CPU time)\n",
                sequential / reference, sequentialCpu / static_cast<double>(pictureCount) * 1e3);
    std::fflush(stdout);
    return perPicture;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("vexilo-bench-repository-" + std::to_string(::getpid()));
    const double small = measure(1000, directory);
    const double large = measure(10000, directory);
    std::printf("per-picture growth 1,000 -> 10,000  %8.2fx (goal <= %.1fx)\n", large / small, kGoalGrowth);
    std::filesystem::remove_all(directory);
    return 0;
}
