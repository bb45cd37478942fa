#include "vexilo/media/FFmpegVideoSource.h"

#include "FFmpegHandles.h"
#include "FrameMemoryReuse.h"
#include "PacketIdentity.h"
#include "vexilo/media/DecodedFrameConversion.h"
#include "vexilo/media/PathText.h"

#include "vexilo/ffmpeg_handles/HevcDecoderLimits.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

namespace vexilo::media {

struct FFmpegSourceState {
    // Declared input first so that the decoder is freed before the input is closed.
    FormatContextPtr formatContext;
    CodecContextPtr codecContext;
    std::int32_t streamIndex = -1;
    bool decodeStarted = false;
};

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

// Sequential decode.
constexpr std::string_view kCallbackRequired = "A decoded-picture callback is required";
constexpr std::string_view kSourceNotOpen = "The FFmpeg video source is not open";
constexpr std::string_view kDecodeOnlyOnce = "Sequential decode can only be started once per open source";
constexpr std::string_view kCannotAllocatePacket = "Cannot allocate FFmpeg packet or frame resources";
constexpr std::string_view kCannotReadPacket = "Cannot read the next HEVC input packet";
constexpr std::string_view kCannotAttachIdentity = "Cannot attach packet identity metadata";
constexpr std::string_view kDecoderEndedBeforeInput = "Decoder ended before the input reached EOF";
constexpr std::string_view kCannotSendPacket = "Cannot send an HEVC packet to the decoder";
constexpr std::string_view kDecoderEofBeforeInput = "Decoder reached EOF before the input stream ended";
constexpr std::string_view kInvalidStateBeforeFlush = "Decoder entered an invalid state before flushing";
constexpr std::string_view kCannotFlush = "Cannot flush the HEVC decoder";
constexpr std::string_view kPacketAfterFlush = "Decoder requested another packet after EOF flush";
constexpr std::string_view kCannotReceiveFrame = "Cannot receive a decoded HEVC frame";
constexpr std::string_view kOutOfMemory = "Not enough memory while decoding HEVC frames";
constexpr std::string_view kCallbackFailedPrefix = "Decode callback failed: ";
constexpr std::string_view kCallbackFailedUnknown = "Decode callback failed with an unknown exception";

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

std::optional<FFmpegError> openDecoder(const fs::path& path, FFmpegSourceState& state) {
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
    if (const int result = avcodec_open2(state.codecContext.get(), decoder, nullptr); result < 0) {
        return formatFfmpegError(path, result, kCannotOpenDecoder);
    }
    return std::nullopt;
}

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

enum class ReceiveOutcome { NeedsInput = 0, EndOfStream = 1, Canceled = 2, Failed = 3 };

// Thrown inside a run to end it with a ready error; caught at the run's boundary.
struct RunFailure {
    FFmpegError error;
};

// One decode run over an opened source: the read loop, the sends, the receives and the flush.
class DecodeRun {
public:
    DecodeRun(FFmpegSourceState& state, const fs::path& path, FFmpegVideoSource::PictureCallback& onPicture,
              FFmpegVideoSource::CancelPredicate& shouldCancel, AVPacket& packet, AVFrame& frame)
        : state_(state), path_(path), onPicture_(onPicture), shouldCancel_(shouldCancel), packet_(packet),
          frame_(frame), identities_(*state.codecContext) {}

    FFmpegDecodeSummary run() {
        summary_.canceled = !readAndDecode() || !flush();
        return summary_;
    }

private:
    bool canceled() const { return shouldCancel_ && shouldCancel_(); }

    [[noreturn]] void fail(int code, std::string_view what) const {
        throw RunFailure{formatFfmpegError(path_, code, what)};
    }

    // False when canceled; returns normally at end of input.
    bool readAndDecode() {
        for (;;) {
            if (canceled()) {
                return false;
            }
            av_packet_unref(&packet_);
            const int result = av_read_frame(state_.formatContext.get(), &packet_);
            if (result == AVERROR_EOF) {
                return !canceled();
            }
            if (result < 0) {
                fail(result, kCannotReadPacket);
            }
            const auto packetIndex = static_cast<std::int64_t>(summary_.packetsRead++);
            if (packet_.stream_index != state_.streamIndex) {
                continue;
            }
            attachIdentity(packetIndex);
            if (!sendVideoPacket()) {
                return false;
            }
        }
    }

    void attachIdentity(std::int64_t packetIndex) {
        BufferPtr buffer(av_buffer_alloc(kPacketIdentityRecordSize));
        if (!buffer) {
            fail(AVERROR(ENOMEM), kCannotAttachIdentity);
        }
        PacketIdentityRecord record;
        record.packetIndex = packetIndex;
        record.decodeIndex = static_cast<std::int64_t>(summary_.packetsSent);
        record.pts = packet_.pts;
        record.dts = packet_.dts;
        std::memcpy(buffer->data, &record, sizeof(record));
        av_buffer_unref(&packet_.opaque_ref);
        packet_.opaque_ref = buffer.release();
    }

    bool sendVideoPacket() {
        int result = 0;
        for (;;) {
            if (canceled()) {
                return false;
            }
            identities_.beforeSend(packet_);
            result = avcodec_send_packet(state_.codecContext.get(), &packet_);
            if (result != AVERROR(EAGAIN)) {
                break;
            }
            switch (receiveDecodedFrames(false)) {
                case ReceiveOutcome::NeedsInput:
                    continue;
                case ReceiveOutcome::Canceled:
                    return false;
                default:
                    fail(AVERROR_BUG, kDecoderEndedBeforeInput);
            }
        }
        if (result == AVERROR_INVALIDDATA) {
            // A damaged packet is passed over, as the ffmpeg program does; the pictures
            // around it still decode.
            ++summary_.packetsRejected;
        } else if (result < 0) {
            fail(result, kCannotSendPacket);
        } else {
            ++summary_.packetsSent;
        }
        av_packet_unref(&packet_);
        switch (receiveDecodedFrames(false)) {
            case ReceiveOutcome::NeedsInput:
                return true;
            case ReceiveOutcome::Canceled:
                return false;
            default:
                fail(AVERROR_BUG, kDecoderEofBeforeInput);
        }
    }

    // False when canceled.
    bool flush() {
        for (;;) {
            const int result = avcodec_send_packet(state_.codecContext.get(), nullptr);
            if (result == AVERROR(EAGAIN)) {
                switch (receiveDecodedFrames(false)) {
                    case ReceiveOutcome::NeedsInput:
                        continue;
                    case ReceiveOutcome::Canceled:
                        return false;
                    default:
                        fail(AVERROR_BUG, kInvalidStateBeforeFlush);
                }
            }
            if (result == AVERROR_EOF) {
                return true;
            }
            if (result < 0) {
                fail(result, kCannotFlush);
            }
            switch (receiveDecodedFrames(true)) {
                case ReceiveOutcome::EndOfStream:
                    return true;
                case ReceiveOutcome::Canceled:
                    return false;
                default:
                    fail(AVERROR_BUG, kPacketAfterFlush);
            }
        }
    }

    // Failures are thrown as RunFailure, so only the three other outcomes return.
    ReceiveOutcome receiveDecodedFrames(bool flushing) {
        for (;;) {
            if (canceled()) {
                return ReceiveOutcome::Canceled;
            }
            const int result = avcodec_receive_frame(state_.codecContext.get(), &frame_);
            if (result == AVERROR(EAGAIN)) {
                return ReceiveOutcome::NeedsInput;
            }
            if (result == AVERROR_EOF) {
                return ReceiveOutcome::EndOfStream;
            }
            if (result == AVERROR_INVALIDDATA && damagedReceives_ < kMaxDamagedReceives) {
                ++damagedReceives_;
                ++summary_.packetsRejected;
                continue;
            }
            if (result < 0) {
                fail(result, kCannotReceiveFrame);
            }
            identities_.afterReceive(frame_);
            FFmpegResult<FFmpegDecodedPicture> converted = convertDecodedFrame(frame_, path_, summary_.picturesDecoded);
            av_frame_unref(&frame_);
            if (!converted.ok()) {
                throw RunFailure{converted.error()};
            }
            onPicture_(std::move(converted).value());
            ++summary_.picturesDecoded;
            if (flushing) {
                ++summary_.picturesDrained;
            }
        }
    }

    FFmpegSourceState& state_;
    const fs::path& path_;
    FFmpegVideoSource::PictureCallback& onPicture_;
    FFmpegVideoSource::CancelPredicate& shouldCancel_;
    AVPacket& packet_;
    AVFrame& frame_;
    PacketIdentityCarrier identities_;
    FFmpegDecodeSummary summary_;
    // Each damaged receive takes something out of the decoder; this only bounds one that
    // would report the same damage for ever.
    static constexpr std::uint64_t kMaxDamagedReceives = 1U << 20;
    std::uint64_t damagedReceives_ = 0;
};

}  // namespace

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

FFmpegVideoSource::FFmpegVideoSource(domain::StreamInfo info, std::unique_ptr<FFmpegSourceState> state)
    : streamInfo_(std::move(info)), state_(std::move(state)) {}

FFmpegVideoSource::FFmpegVideoSource(FFmpegVideoSource&&) noexcept = default;
FFmpegVideoSource& FFmpegVideoSource::operator=(FFmpegVideoSource&&) noexcept = default;
FFmpegVideoSource::~FFmpegVideoSource() = default;

FFmpegResult<FFmpegVideoSource> FFmpegVideoSource::open(const fs::path& path) {
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
    if (auto failure = openDecoder(path, *state)) {
        return std::move(*failure);
    }
    domain::StreamInfo info = describeStream(path, *state);
    return FFmpegVideoSource(std::move(info), std::move(state));
}

FFmpegResult<FFmpegDecodeSummary> FFmpegVideoSource::decodeSequentially(PictureCallback onPicture,
                                                                        CancelPredicate shouldCancel) {
    // Moved into locals so that both are released before this call returns.
    PictureCallback callback = std::move(onPicture);
    CancelPredicate cancel = std::move(shouldCancel);
    const fs::path& path = streamInfo_.sourcePath;
    if (!callback) {
        return formatFfmpegError(path, AVERROR(EINVAL), kCallbackRequired);
    }
    if (!state_ || !state_->formatContext || !state_->codecContext) {
        return formatFfmpegError(path, AVERROR(EINVAL), kSourceNotOpen);
    }
    if (state_->decodeStarted) {
        return formatFfmpegError(path, AVERROR(EINVAL), kDecodeOnlyOnce);
    }
    state_->decodeStarted = true;
    try {
        PacketPtr packet(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        if (!packet || !frame) {
            return formatFfmpegError(path, AVERROR(ENOMEM), kCannotAllocatePacket);
        }
        DecodeRun run(*state_, path, callback, cancel, *packet, *frame);
        return run.run();
    } catch (RunFailure& failure) {
        return std::move(failure.error);
    } catch (const std::bad_alloc&) {
        return formatFfmpegError(path, AVERROR(ENOMEM), kOutOfMemory);
    } catch (const std::exception& exception) {
        return formatFfmpegError(path, AVERROR_EXTERNAL, std::string(kCallbackFailedPrefix) + exception.what());
    } catch (...) {
        return formatFfmpegError(path, AVERROR_EXTERNAL, kCallbackFailedUnknown);
    }
}

}  // namespace vexilo::media
