#pragma once

// The small POSIX layer under the cache: files written to a temporary name, forced
// to disk and renamed over their target, directories created and synced, and the
// advisory lock that keeps two writers out of one cache directory.

#include "vexilo/analysis/cache/CacheError.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vexilo::analysis::cachefs {

// The platform's text for an errno value.
[[nodiscard]] std::string systemErrorText(int errorNumber);

// A file opened for writing, truncated; closed on destruction. A symbolic link is not followed.
class OutputFile {
public:
    // Empty when the file cannot be created; `errorNumber` then holds errno.
    [[nodiscard]] static std::optional<OutputFile> create(const std::filesystem::path& path,
                                                          int& errorNumber);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // False once any write has failed; the file then stays failed.
    bool write(std::span<const std::uint8_t> bytes) noexcept;
    // Both parts, in order, with as few system calls as the kernel allows (usually one).
    bool write(std::span<const std::uint8_t> first, std::span<const std::uint8_t> second) noexcept;
    // Pushes the content to the disk (fsync).
    [[nodiscard]] bool flush() noexcept;
    // Asks the kernel to start writing the content out now, without waiting for it; a later
    // sync of the file system then finds it mostly written. Only a hint: nothing fails here.
    void startWriteback() noexcept;
    void close() noexcept;
    [[nodiscard]] bool failed() const noexcept { return failed_; }

private:
    explicit OutputFile(int descriptor) noexcept : descriptor_(descriptor) {}

    int descriptor_ = -1;
    bool failed_ = false;
};

// Renames `from` over `to` and syncs the directory, so that the replacement is
// durable when this returns. Returns 0 or the errno of the failing step.
[[nodiscard]] int replaceFileDurably(const std::filesystem::path& from,
                                     const std::filesystem::path& to) noexcept;

// Renames `from` over `to` without syncing anything. Returns 0 or the errno.
[[nodiscard]] int replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) noexcept;

// Forces the directory entry changes (creations, renames) to disk. Returns 0 or the errno.
[[nodiscard]] int syncDirectory(const std::filesystem::path& directory) noexcept;

// Forces everything written to the file system that holds `directory` to disk, at the cost
// of one call however many files were written. Returns 0 or the errno.
[[nodiscard]] int syncFileSystem(const std::filesystem::path& directory) noexcept;

// Deletes a file, ignoring every failure.
void removeFileQuietly(const std::filesystem::path& path) noexcept;

// Creates the directory and all missing parents; an existing one is fine.
// Returns 0 or the errno.
[[nodiscard]] int createDirectories(const std::filesystem::path& directory) noexcept;

// Reads a whole regular file of at most `maximumSize` bytes. The size is taken
// from the open descriptor, so a file renamed into place between the size query
// and the open is read whole rather than cut.
struct WholeFileRead {
    enum class Status { ok, not_readable, too_short, too_large, open_failed, short_read };
    Status status = Status::ok;
    int errorNumber = 0;
    std::vector<std::uint8_t> bytes;
};
[[nodiscard]] WholeFileRead readWholeFile(const std::filesystem::path& path,
                                          std::uint64_t minimumSize, std::uint64_t maximumSize);

// An exclusive advisory lock (flock) on a file; released on destruction.
class DirectoryLock {
public:
    // Blocks until the lock is held. Empty on failure; `errorNumber` then holds errno.
    [[nodiscard]] static std::optional<DirectoryLock> acquire(const std::filesystem::path& lockFile,
                                                              int& errorNumber);

    DirectoryLock(DirectoryLock&& other) noexcept;
    DirectoryLock& operator=(DirectoryLock&& other) noexcept;
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;
    ~DirectoryLock();

private:
    explicit DirectoryLock(int descriptor) noexcept : descriptor_(descriptor) {}
    void release() noexcept;

    int descriptor_ = -1;
};

}  // namespace vexilo::analysis::cachefs
