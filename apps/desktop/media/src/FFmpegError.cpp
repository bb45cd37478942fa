#include "vexilo/media/FFmpegError.h"

#include "vexilo/media/PathText.h"

extern "C" {
#include <libavutil/error.h>
}

#include <array>

namespace vexilo::media {
namespace {

constexpr std::size_t kErrorTextBufferSize = 64;
constexpr std::string_view kUnknownErrorText = "Unknown FFmpeg error";

}  // namespace

std::string ffmpegErrorText(std::int32_t code) {
    std::array<char, kErrorTextBufferSize> buffer{};
    if (av_strerror(code, buffer.data(), buffer.size()) < 0) {
        return std::string(kUnknownErrorText);
    }
    return std::string(buffer.data());
}

FFmpegError formatFfmpegError(const std::filesystem::path& path, std::int32_t code,
                              std::string_view what) {
    FFmpegError error;
    error.path = path;
    error.code = code;
    error.detail = std::string(what) + ": " + ffmpegErrorText(code);
    error.message = "FFmpeg backend failed for '" + pathToUtf8(path) + "' (FFmpeg error " +
                    std::to_string(code) + "): " + error.detail;
    return error;
}

}  // namespace vexilo::media
