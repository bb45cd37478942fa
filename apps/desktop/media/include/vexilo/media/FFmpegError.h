#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace vexilo::media {

// The failure record of every FFmpeg operation of the media layer; the project layer
// shows `message` to the user and keeps `detail` for the log.
struct FFmpegError {
    std::filesystem::path path;
    std::int32_t code = 0;
    std::string detail;
    std::string message;
};

// Builds the error for `path` from an FFmpeg error code and the operation's fixed sentence.
[[nodiscard]] FFmpegError formatFfmpegError(const std::filesystem::path& path, std::int32_t code,
                                            std::string_view what);

// FFmpeg's own text for an error code, or "Unknown FFmpeg error" when it has none.
[[nodiscard]] std::string ffmpegErrorText(std::int32_t code);

// A value or the FFmpeg failure that prevented it.
template <typename T>
class FFmpegResult {
public:
    FFmpegResult(T value) : outcome_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
    FFmpegResult(FFmpegError error) : outcome_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

    [[nodiscard]] bool ok() const noexcept { return std::holds_alternative<T>(outcome_); }
    [[nodiscard]] T& value() & { return std::get<T>(outcome_); }
    [[nodiscard]] const T& value() const& { return std::get<T>(outcome_); }
    [[nodiscard]] T&& value() && { return std::get<T>(std::move(outcome_)); }
    [[nodiscard]] const FFmpegError& error() const { return std::get<FFmpegError>(outcome_); }

private:
    std::variant<T, FFmpegError> outcome_;
};

}  // namespace vexilo::media
