// Writes and re-reads analysis caches of 1,000 and 10,000 pictures, each time with
// an earlier cache of the same source present (so every picture goes through the
// re-use path), and prints the time per picture. The write time per picture should
// not grow with the picture count.

#include "vexilo/analysis/cache/CacheReader.h"
#include "vexilo/analysis/cache/CacheWriter.h"

#include "CacheTestDocuments.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <variant>

#include <unistd.h>

namespace {

using namespace vexilo::analysis;
using Clock = std::chrono::steady_clock;

// Every picture is re-read for small caches; larger ones are sampled evenly, since
// each read parses the whole manifest again by design.
constexpr std::size_t kMaxPicturesRead = 1000;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <typename T> const T& orDie(const CacheResult<T>& result, const char* what)
{
    if (const auto* error = std::get_if<CacheError>(&result)) {
        std::fprintf(stderr, "%s failed: %s (%s)\n", what, error->message.c_str(),
                     error->path.c_str());
        std::exit(1);
    }
    return std::get<T>(result);
}

void runOnce(std::size_t pictureCount, const std::filesystem::path& directory)
{
    std::filesystem::remove_all(directory);
    const StreamAnalysis structured = cachetest::makeAnalysis(pictureCount, true);
    const StreamAnalysis indexOnly = cachetest::makeAnalysis(pictureCount, false);
    const CacheWriteOptions options;

    auto start = Clock::now();
    orDie(writeAnalysisCache(directory, structured, options), "first write");
    const double firstWrite = millisecondsSince(start);

    start = Clock::now();
    const CacheManifest manifest =
        orDie(writeAnalysisCache(directory, indexOnly, options), "rewrite");
    const double rewrite = millisecondsSince(start);

    start = Clock::now();
    orDie(openAnalysisCache(directory, cachetest::kFingerprintA), "open");
    const double open = millisecondsSince(start);

    const std::size_t step = std::max<std::size_t>(1, pictureCount / kMaxPicturesRead);
    std::size_t reads = 0;
    start = Clock::now();
    for (std::size_t index = 0; index < manifest.pictures.size(); index += step, ++reads) {
        orDie(readCachedPicture(directory, manifest.pictures[index], cachetest::kFingerprintA),
              "read");
    }
    const double read = millisecondsSince(start);

    std::printf(
        "pictures=%zu first_write_ms_per_picture=%.4f rewrite_with_previous_ms_per_picture=%.4f "
        "open_ms=%.3f read_ms_per_picture=%.4f (%zu read)\n",
        pictureCount, firstWrite / static_cast<double>(pictureCount),
        rewrite / static_cast<double>(pictureCount), open, read / static_cast<double>(reads),
        reads);
    std::fflush(stdout);
}

}  // namespace

int main()
{
    const std::filesystem::path directory = std::filesystem::temp_directory_path() /
                                            ("vexilo-bench-cache-" + std::to_string(::getpid()));
    for (const std::size_t count : {std::size_t{1000}, std::size_t{10000}}) {
        runOnce(count, directory);
    }
    std::filesystem::remove_all(directory);
    return 0;
}
