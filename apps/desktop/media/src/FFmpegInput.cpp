#include "FFmpegInput.h"

#include "FrameMemoryReuse.h"
#include "PacketIdentity.h"
#include "vexilo/media/PathText.h"

#include "vexilo/ffmpeg_handles/HevcDecoderLimits.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>

namespace vexilo::media {
namespace {

namespace fs = std::filesystem;

// Input check and open.
constexpr std::string_view kUnsupportedExtension =
    "Only local .hevc, .h265, .mp4, .m4v, or .mov HEVC inputs are supported";
constexpr std::string_view kMovDemuxerMissing = "MP4/MOV HEVC input requires FFmpeg built with the MOV demuxer";
constexpr std::string_view kCannotInspect = "Cannot inspect the local input file";
constexpr std::string_view kNotRegularFile = "Input path is not a regular local file";
constexpr std::string_view kCannotAllocateInput = "Cannot allocate the input context";
constexpr std::string_view kCannotOpenInput = "Cannot open the input stream";
constexpr std::string_view kFormatUnidentified = "Input format could not be identified";
constexpr std::string_view kCannotReadStreamInfo = "Cannot read HEVC stream information";
constexpr std::string_view kNoVideoStream = "Cannot find a video stream";
constexpr std::string_view kNotHevc = "Video stream codec is not HEVC";
constexpr std::string_view kNoDimensions = "HEVC stream information has no valid coded dimensions";
constexpr std::string_view kNoDecoder = "No FFmpeg HEVC decoder is available";
constexpr std::string_view kCannotAllocateDecoder = "Cannot allocate the HEVC decoder context";
constexpr std::string_view kCannotConfigureDecoder = "Cannot configure the HEVC decoder context";
constexpr std::string_view kCannotOpenDecoder = "Cannot open the FFmpeg HEVC decoder";

constexpr std::array kSupportedExtensions{std::string_view{".hevc"}, std::string_view{".h265"},
                                          std::string_view{".mp4"}, std::string_view{".m4v"},
                                          std::string_view{".mov"}};
constexpr std::array kContainerExtensions{std::string_view{".mp4"}, std::string_view{".m4v"},
                                          std::string_view{".mov"}};
constexpr const char* kMovDemuxerName = "mov";

constexpr std::int64_t kProbeSizeBytes = 4 * 1024 * 1024;
constexpr std::int64_t kMaxAnalyzeDuration = 5 * AV_TIME_BASE;

std::string lowerCaseExtension(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return extension;
}

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& list, std::string_view value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

std::int32_t inspectionErrorCode(const std::error_code& error) {
    if (error == std::errc::no_such_file_or_directory) {
        return AVERROR(ENOENT);
    }
    if (error == std::errc::permission_denied) {
        return AVERROR(EACCES);
    }
    return AVERROR(EIO);
}

FFmpegResult<FFmpegSourceState> openInput(const fs::path& path) {
    FFmpegSourceState state;
    AVFormatContext* allocated = avformat_alloc_context();
    if (allocated == nullptr) {
        return formatFfmpegError(path, AVERROR(ENOMEM), kCannotAllocateInput);
    }
    allocated->probesize = kProbeSizeBytes;
    allocated->max_analyze_duration = kMaxAnalyzeDuration;
    // On failure avformat_open_input frees the context itself.
    const std::string utf8Path = pathToUtf8(path);
    if (const int result = avformat_open_input(&allocated, utf8Path.c_str(), nullptr, nullptr); result < 0) {
        return formatFfmpegError(path, result, kCannotOpenInput);
    }
    state.formatContext.reset(allocated);
    if (state.formatContext->iformat == nullptr) {
        return formatFfmpegError(path, AVERROR_INVALIDDATA, kFormatUnidentified);
    }
    if (const int result = avformat_find_stream_info(state.formatContext.get(), nullptr); result < 0) {
        return formatFfmpegError(path, result, kCannotReadStreamInfo);
    }
    const int streamIndex = av_find_best_stream(state.formatContext.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (streamIndex < 0) {
        return formatFfmpegError(path, streamIndex, kNoVideoStream);
    }
    state.streamIndex = streamIndex;
    return state;
}

const AVStream& chosenStream(const FFmpegSourceState& state) {
    return *state.formatContext->streams[state.streamIndex];
}

std::optional<FFmpegError> checkHevcParameters(const fs::path& path, const AVCodecParameters* parameters) {
    if (parameters == nullptr || parameters->codec_id != AV_CODEC_ID_HEVC) {
        return formatFfmpegError(path, AVERROR_INVALIDDATA, kNotHevc);
    }
    if (parameters->width < 1 || parameters->height < 1) {
        // FFmpeg's probe finds no size when its SPS parser refuses a valid stream it does not decode.
        if (const auto undecodable = ffmpeg::findUndecodableHevcFormat(*parameters)) {
            FFmpegError error = formatFfmpegError(path, AVERROR_PATCHWELCOME, undecodable->reason);
            error.detail += "; " + undecodable->detail();
            return error;
        }
        return formatFfmpegError(path, AVERROR_INVALIDDATA, kNoDimensions);
    }
    return std::nullopt;
}

std::optional<FFmpegError> openDecoder(const fs::path& path, FFmpegSourceState& state, DecoderThreads threads) {
    const AVStream& stream = chosenStream(state);
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_HEVC);
    if (decoder == nullptr) {
        return formatFfmpegError(path, AVERROR_DECODER_NOT_FOUND, kNoDecoder);
    }
    state.codecContext.reset(avcodec_alloc_context3(decoder));
    if (!state.codecContext) {
        return formatFfmpegError(path, AVERROR(ENOMEM), kCannotAllocateDecoder);
    }
    if (const int result = avcodec_parameters_to_context(state.codecContext.get(), stream.codecpar); result < 0) {
        return formatFfmpegError(path, result, kCannotConfigureDecoder);
    }
    state.codecContext->pkt_timebase = stream.time_base;
    enablePacketIdentityPassThrough(*state.codecContext);
    if (threads == DecoderThreads::Automatic) {
        // FFmpeg picks the count; frame threads put out the same pictures in the same order.
        state.codecContext->thread_count = 0;
        state.codecContext->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    }
    if (const int result = avcodec_open2(state.codecContext.get(), decoder, nullptr); result < 0) {
        return formatFfmpegError(path, result, kCannotOpenDecoder);
    }
    return std::nullopt;
}

}  // namespace

domain::StreamInfo describeStream(const fs::path& path, const FFmpegSourceState& state) {
    const AVStream& stream = chosenStream(state);
    const AVCodecParameters& parameters = *stream.codecpar;
    domain::StreamInfo info;
    info.streamIndex = state.streamIndex;
    info.sourcePath = path;
    info.codecName = avcodec_get_name(parameters.codec_id);
    info.width = parameters.width;
    info.height = parameters.height;
    const auto format = static_cast<AVPixelFormat>(parameters.format);
    if (format != AV_PIX_FMT_NONE) {
        if (const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format)) {
            info.bitDepth = static_cast<std::int32_t>(descriptor->comp[0].depth);
        }
        if (const char* name = av_get_pix_fmt_name(format)) {
            info.pixelFormatName = name;
        }
    }
    info.frameCount = stream.nb_frames >= 1 ? stream.nb_frames : -1;
    return info;
}

std::optional<FFmpegError> validateInputPath(const fs::path& path) {
    const std::string extension = lowerCaseExtension(path);
    if (!contains(kSupportedExtensions, extension)) {
        return formatFfmpegError(path, AVERROR(EINVAL), kUnsupportedExtension);
    }
    if (contains(kContainerExtensions, extension) && av_find_input_format(kMovDemuxerName) == nullptr) {
        return formatFfmpegError(path, AVERROR(ENOSYS), kMovDemuxerMissing);
    }
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error) {
        return formatFfmpegError(path, inspectionErrorCode(error), kCannotInspect);
    }
    if (status.type() != fs::file_type::regular) {
        return formatFfmpegError(path, AVERROR(EINVAL), kNotRegularFile);
    }
    return std::nullopt;
}

FFmpegResult<std::unique_ptr<FFmpegSourceState>> openFFmpegInput(const fs::path& path, DecoderThreads threads) {
    keepFreedFrameMemoryForReuse();
    if (auto invalid = validateInputPath(path)) {
        return std::move(*invalid);
    }
    FFmpegResult<FFmpegSourceState> input = openInput(path);
    if (!input.ok()) {
        return input.error();
    }
    auto state = std::make_unique<FFmpegSourceState>(std::move(input).value());
    if (auto failure = checkHevcParameters(path, chosenStream(*state).codecpar)) {
        return std::move(*failure);
    }
    if (auto failure = openDecoder(path, *state, threads)) {
        return std::move(*failure);
    }
    state->framing = ffmpeg::nalFramingOf(*chosenStream(*state).codecpar);
    return state;
}

}  // namespace vexilo::media
