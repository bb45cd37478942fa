#include "cache/CacheFileSystem.h"

#include "vexilo/analysis/HugePages.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>

namespace vexilo::analysis::cachefs {
namespace {

constexpr mode_t kFileMode = 0644;

int openRetrying(const char* path, int flags, mode_t mode = 0) noexcept
{
    int descriptor = -1;
    do {
        descriptor = ::open(path, flags | O_CLOEXEC, mode);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

void closeQuietly(int descriptor) noexcept
{
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

bool readExactly(int descriptor, std::uint8_t* destination, std::size_t size) noexcept
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = ::read(descriptor, destination + done, size - done);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

WholeFileRead::Status checkSize(std::uint64_t size, std::uint64_t minimumSize,
                                std::uint64_t maximumSize) noexcept
{
    if (size < minimumSize) {
        return WholeFileRead::Status::too_short;
    }
    if (size > maximumSize) {
        return WholeFileRead::Status::too_large;
    }
    return WholeFileRead::Status::ok;
}

WholeFileRead failedRead(WholeFileRead::Status status, int errorNumber = 0)
{
    WholeFileRead result;
    result.status = status;
    result.errorNumber = errorNumber;
    return result;
}

// Opens the directory and runs one sync call on its descriptor.
int syncThroughDirectory(const std::filesystem::path& directory, int (*sync)(int)) noexcept
{
    const std::filesystem::path target = directory.empty() ? std::filesystem::path(".") : directory;
    const int descriptor = openRetrying(target.c_str(), O_RDONLY | O_DIRECTORY);
    if (descriptor < 0) {
        return errno;
    }
    const int result = sync(descriptor) == 0 ? 0 : errno;
    closeQuietly(descriptor);
    return result;
}

}  // namespace

std::string systemErrorText(int errorNumber)
{
    return std::strerror(errorNumber);
}

std::optional<OutputFile> OutputFile::create(const std::filesystem::path& path, int& errorNumber)
{
    const int descriptor = openRetrying(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, kFileMode);
    if (descriptor < 0) {
        errorNumber = errno;
        return std::nullopt;
    }
    return OutputFile(descriptor);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), failed_(other.failed_)
{
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept
{
    if (this != &other) {
        close();
        descriptor_ = std::exchange(other.descriptor_, -1);
        failed_ = other.failed_;
    }
    return *this;
}

OutputFile::~OutputFile()
{
    close();
}

bool OutputFile::write(std::span<const std::uint8_t> bytes) noexcept
{
    return write(bytes, {});
}

bool OutputFile::write(std::span<const std::uint8_t> first, std::span<const std::uint8_t> second) noexcept
{
    std::array<iovec, 2> parts{iovec{const_cast<std::uint8_t*>(first.data()), first.size()},
                               iovec{const_cast<std::uint8_t*>(second.data()), second.size()}};
    std::span<iovec> pending(parts);
    while (!failed_ && !pending.empty()) {
        if (pending.front().iov_len == 0) {
            pending = pending.subspan(1);
            continue;
        }
        const ssize_t count = ::writev(descriptor_, pending.data(), static_cast<int>(pending.size()));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            failed_ = true;
            break;
        }
        // A short write leaves the rest of a part, or whole parts, for the next call.
        auto written = static_cast<std::size_t>(count);
        while (!pending.empty() && written >= pending.front().iov_len) {
            written -= pending.front().iov_len;
            pending = pending.subspan(1);
        }
        if (!pending.empty()) {
            pending.front().iov_base = static_cast<std::uint8_t*>(pending.front().iov_base) + written;
            pending.front().iov_len -= written;
        }
    }
    return !failed_;
}

bool OutputFile::flush() noexcept
{
    if (failed_ || ::fsync(descriptor_) != 0) {
        failed_ = true;
    }
    return !failed_;
}

void OutputFile::startWriteback() noexcept
{
#if defined(SYNC_FILE_RANGE_WRITE)
    if (!failed_) {
        static_cast<void>(::sync_file_range(descriptor_, 0, 0, SYNC_FILE_RANGE_WRITE));
    }
#endif
}

void OutputFile::close() noexcept
{
    closeQuietly(std::exchange(descriptor_, -1));
}

int syncDirectory(const std::filesystem::path& directory) noexcept
{
    return syncThroughDirectory(directory, ::fsync);
}

int syncFileSystem(const std::filesystem::path& directory) noexcept
{
    return syncThroughDirectory(directory, ::syncfs);
}

int replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) noexcept
{
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int replaceFileDurably(const std::filesystem::path& from, const std::filesystem::path& to) noexcept
{
    if (const int error = replaceFile(from, to); error != 0) {
        return error;
    }
    // The rename itself lives in the directory; without this a power loss can
    // bring back the old name.
    return syncDirectory(to.parent_path());
}

void removeFileQuietly(const std::filesystem::path& path) noexcept
{
    ::unlink(path.c_str());
}

int createDirectories(const std::filesystem::path& directory) noexcept
{
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        return error.value();
    }
    // create_directories is satisfied by an existing non-directory only on some
    // implementations; insist on a directory.
    if (!std::filesystem::is_directory(directory, error)) {
        return error ? error.value() : ENOTDIR;
    }
    return 0;
}

WholeFileRead readWholeFile(const std::filesystem::path& path, std::uint64_t minimumSize,
                            std::uint64_t maximumSize)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return failedRead(WholeFileRead::Status::not_readable, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        // A directory or a pipe planted under a cache name must not block or fool the reader.
        return failedRead(WholeFileRead::Status::open_failed);
    }
    if (const auto status =
            checkSize(static_cast<std::uint64_t>(info.st_size), minimumSize, maximumSize);
        status != WholeFileRead::Status::ok) {
        return failedRead(status);
    }

    const int descriptor = openRetrying(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (descriptor < 0) {
        return failedRead(WholeFileRead::Status::open_failed, errno);
    }
    struct stat opened {};
    if (::fstat(descriptor, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        closeQuietly(descriptor);
        return failedRead(WholeFileRead::Status::open_failed, errno);
    }
    const auto size = static_cast<std::uint64_t>(opened.st_size);
    if (const auto status = checkSize(size, minimumSize, maximumSize);
        status != WholeFileRead::Status::ok) {
        closeQuietly(descriptor);
        return failedRead(status);
    }

    WholeFileRead result;
    // A dense picture's file is a hundred megabytes, read into memory the process never had:
    // page by page its faults cost more than reading the file does.
    reserveOnHugePages(result.bytes, static_cast<std::size_t>(size));
    result.bytes.resize(static_cast<std::size_t>(size));
    if (!readExactly(descriptor, result.bytes.data(), result.bytes.size())) {
        closeQuietly(descriptor);
        return failedRead(WholeFileRead::Status::short_read, errno);
    }
    closeQuietly(descriptor);
    return result;
}

std::optional<DirectoryLock> DirectoryLock::acquire(const std::filesystem::path& lockFile,
                                                    int& errorNumber)
{
    const int descriptor = openRetrying(lockFile.c_str(), O_RDWR | O_CREAT, kFileMode);
    if (descriptor < 0) {
        errorNumber = errno;
        return std::nullopt;
    }
    int result = 0;
    do {
        result = ::flock(descriptor, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        errorNumber = errno;
        closeQuietly(descriptor);
        return std::nullopt;
    }
    return DirectoryLock(descriptor);
}

DirectoryLock::DirectoryLock(DirectoryLock&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1))
{
}

DirectoryLock& DirectoryLock::operator=(DirectoryLock&& other) noexcept
{
    if (this != &other) {
        release();
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

DirectoryLock::~DirectoryLock()
{
    release();
}

void DirectoryLock::release() noexcept
{
    // Closing the descriptor drops the flock.
    closeQuietly(std::exchange(descriptor_, -1));
}

}  // namespace vexilo::analysis::cachefs
