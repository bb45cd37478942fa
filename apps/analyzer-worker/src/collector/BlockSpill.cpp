#include "collector/BlockSpill.h"

#include <atomic>
#include <string>
#include <system_error>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace vexilo::analyzer {
namespace {

constexpr std::uint64_t kWordBytes = sizeof(std::uint32_t);

long long processId()
{
#if defined(_WIN32)
    return _getpid();
#else
    return static_cast<long long>(getpid());
#endif
}

// Two runs on one cache directory, of one worker or of two, never share a file.
std::filesystem::path spillFileName()
{
    static std::atomic<std::uint64_t> serial{0};
    return ".blocks-spill-" + std::to_string(processId()) + "-" + std::to_string(serial.fetch_add(1));
}

}  // namespace

BlockSpill::~BlockSpill()
{
    if (file_.is_open()) {
        file_.close();
        std::error_code ignored;
        // Only where an open file cannot be unlinked is it still there.
        std::filesystem::remove(path_, ignored);
    }
}

bool BlockSpill::open()
{
    if (file_.is_open() || failed_) {
        return file_.is_open();
    }
    std::error_code error;
    std::filesystem::create_directories(directory_, error);
    path_ = directory_ / spillFileName();
    file_.open(path_, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
    if (!file_.is_open()) {
        failed_ = true;
        return false;
    }
    std::filesystem::remove(path_, error);
    return true;
}

std::optional<BlockSpill::Place> BlockSpill::write(std::span<const std::uint32_t> words)
{
    if (directory_.empty() || failed_ || !open()) {
        return std::nullopt;
    }
    const Place place{wordsWritten_, words.size()};
    file_.seekp(static_cast<std::streamoff>(wordsWritten_ * kWordBytes));
    file_.write(reinterpret_cast<const char*>(words.data()), static_cast<std::streamsize>(words.size_bytes()));
    if (!file_) {
        // A full disk costs the pictures after it their place on disk, not their blocks.
        file_.clear();
        failed_ = true;
        return std::nullopt;
    }
    wordsWritten_ += words.size();
    return place;
}

bool BlockSpill::read(const Place& place, std::vector<std::uint32_t>& words)
{
    if (!file_.is_open() || place.firstWord + place.wordCount > wordsWritten_) {
        return false;
    }
    words.resize(static_cast<std::size_t>(place.wordCount));
    const std::lock_guard lock(readMutex_);
    file_.seekg(static_cast<std::streamoff>(place.firstWord * kWordBytes));
    file_.read(reinterpret_cast<char*>(words.data()), static_cast<std::streamsize>(place.wordCount * kWordBytes));
    if (!file_) {
        file_.clear();
        return false;
    }
    return true;
}

}  // namespace vexilo::analyzer
