#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace vexilo::analyzer {

// Where a picture's compact blocks wait on disk once the decoder has put the picture out, until
// its document is made: the pass then holds the blocks of the pictures in flight, not of the
// whole stream. One file of the cache directory, gone from it as soon as it is open, so that
// neither a reader of the cache nor a run that dies ever sees it.
class BlockSpill {
public:
    struct Place {
        std::uint64_t firstWord = 0;
        std::uint64_t wordCount = 0;
    };

    // The file is made on the first write; without a directory nothing is ever written.
    explicit BlockSpill(std::filesystem::path directory) : directory_(std::move(directory)) {}
    ~BlockSpill();
    BlockSpill(const BlockSpill&) = delete;
    BlockSpill& operator=(const BlockSpill&) = delete;

    // Where the words went; nothing when they could not be written (the blocks then stay
    // in memory).
    [[nodiscard]] std::optional<Place> write(std::span<const std::uint32_t> words);
    // The words written at `place`; false when they cannot be read back. Pictures may be read
    // back on several threads at once.
    [[nodiscard]] bool read(const Place& place, std::vector<std::uint32_t>& words);

private:
    bool open();

    std::filesystem::path directory_;
    std::filesystem::path path_;
    std::mutex readMutex_;
    std::fstream file_;
    bool failed_ = false;
    std::uint64_t wordsWritten_ = 0;
};

}  // namespace vexilo::analyzer
