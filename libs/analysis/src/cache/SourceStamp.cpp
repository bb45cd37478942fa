#include "vexilo/analysis/cache/SourceStamp.h"

#include "cache/CacheFileSystem.h"

#include <charconv>
#include <chrono>
#include <span>
#include <string>
#include <system_error>

namespace vexilo::analysis {
namespace {

constexpr std::string_view kStampHeader = "VexiloSourceStamp 1";
constexpr std::string_view kSizeKey = "size ";
constexpr std::string_view kModifiedKey = "modified_ns ";
constexpr std::string_view kFingerprintKey = "source_fingerprint ";
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::uint64_t kMaximumStampBytes = 4096;
constexpr const char* kStampNotWritten = "source stamp could not be written: ";

// The value of "key value" on the line at `offset`; moves `offset` past the line.
std::optional<std::string_view> lineValue(std::string_view text, std::size_t& offset, std::string_view key)
{
    const std::size_t end = text.find('\n', offset);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view line = text.substr(offset, end - offset);
    offset = end + 1;
    if (!line.starts_with(key)) {
        return std::nullopt;
    }
    return line.substr(key.size());
}

template <typename Number> std::optional<Number> parseNumber(std::optional<std::string_view> text)
{
    if (!text || text->empty()) {
        return std::nullopt;
    }
    Number value{};
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<SourceStamp> parseStamp(std::string_view text)
{
    std::size_t offset = 0;
    if (!lineValue(text, offset, kStampHeader)) {
        return std::nullopt;
    }
    const auto size = parseNumber<std::uint64_t>(lineValue(text, offset, kSizeKey));
    const auto modified = parseNumber<std::int64_t>(lineValue(text, offset, kModifiedKey));
    const auto fingerprint = lineValue(text, offset, kFingerprintKey);
    if (!size || !modified || !fingerprint || offset != text.size()) {
        return std::nullopt;
    }
    return SourceStamp{*size, *modified, std::string(*fingerprint)};
}

std::string stampText(const SourceStamp& stamp)
{
    std::string text(kStampHeader);
    text += '\n';
    text += kSizeKey;
    text += std::to_string(stamp.sizeBytes) + '\n';
    text += kModifiedKey;
    text += std::to_string(stamp.modifiedNanoseconds) + '\n';
    text += kFingerprintKey;
    text += stamp.sourceFingerprint + '\n';
    return text;
}

}  // namespace

std::optional<SourceStamp> statSourceFile(const std::filesystem::path& source)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(source, error)) {
        return std::nullopt;
    }
    const std::uintmax_t size = std::filesystem::file_size(source, error);
    if (error) {
        return std::nullopt;
    }
    const std::filesystem::file_time_type modified = std::filesystem::last_write_time(source, error);
    if (error) {
        return std::nullopt;
    }
    SourceStamp stamp;
    stamp.sizeBytes = size;
    stamp.modifiedNanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
    return stamp;
}

bool sameFileState(const SourceStamp& first, const SourceStamp& second) noexcept
{
    return first.sizeBytes == second.sizeBytes && first.modifiedNanoseconds == second.modifiedNanoseconds;
}

std::optional<SourceStamp> readSourceStamp(const std::filesystem::path& directory)
{
    const cachefs::WholeFileRead read =
        cachefs::readWholeFile(directory / kSourceStampFileName, 0, kMaximumStampBytes);
    if (read.status != cachefs::WholeFileRead::Status::ok) {
        return std::nullopt;
    }
    return parseStamp(std::string_view(reinterpret_cast<const char*>(read.bytes.data()), read.bytes.size()));
}

OptionalCacheError writeSourceStamp(const std::filesystem::path& directory, const SourceStamp& stamp)
{
    const std::filesystem::path target = directory / kSourceStampFileName;
    std::filesystem::path temporary = target;
    temporary += kTemporarySuffix;
    const std::string text = stampText(stamp);
    int errorNumber = 0;
    std::optional<cachefs::OutputFile> file = cachefs::OutputFile::create(temporary, errorNumber);
    if (!file) {
        return makeCacheError(CacheErrorKind::io_error, std::filesystem::path(temporary),
                              kStampNotWritten + cachefs::systemErrorText(errorNumber));
    }
    const bool written =
        file->write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())) && file->flush();
    file->close();
    if (const int renamed = written ? cachefs::replaceFileDurably(temporary, target) : EIO; renamed != 0) {
        cachefs::removeFileQuietly(temporary);
        return makeCacheError(CacheErrorKind::io_error, std::filesystem::path(target),
                              kStampNotWritten + cachefs::systemErrorText(renamed));
    }
    return std::nullopt;
}

void removeSourceStamp(const std::filesystem::path& directory)
{
    cachefs::removeFileQuietly(directory / kSourceStampFileName);
}

std::optional<std::string> stampedFingerprintIfUnchanged(const std::filesystem::path& directory,
                                                         const std::filesystem::path& source)
{
    const std::optional<SourceStamp> stamped = readSourceStamp(directory);
    if (!stamped || stamped->sourceFingerprint.empty()) {
        return std::nullopt;
    }
    const std::optional<SourceStamp> now = statSourceFile(source);
    if (!now || !sameFileState(*now, *stamped)) {
        return std::nullopt;
    }
    return stamped->sourceFingerprint;
}

}  // namespace vexilo::analysis
