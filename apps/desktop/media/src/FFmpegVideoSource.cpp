#include "vexilo/media/FFmpegVideoSource.h"

#include "FFmpegHandles.h"
#include "FFmpegInput.h"
#include "DecodeBoundary.h"
#include "PacketIdentity.h"
#include "vexilo/media/DecodedFrameConversion.h"
#include "vexilo/media/PathText.h"

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

namespace {

namespace fs = std::filesystem;

// Sequential decode.
constexpr std::string_view kCallbackRequired = "A decoded-picture callback is required";
constexpr std::string_view kSourceNotOpen = "The FFmpeg video source is not open";
constexpr std::string_view kDecodeOnlyOnce = "Sequential decode can only be started once per open source";
constexpr std::string_view kDecoderEndedBeforeInput = "Decoder ended before the input reached EOF";
constexpr std::string_view kDecoderEofBeforeInput = "Decoder reached EOF before the input stream ended";
constexpr std::string_view kInvalidStateBeforeFlush = "Decoder entered an invalid state before flushing";

enum class ReceiveOutcome { NeedsInput = 0, EndOfStream = 1, Canceled = 2, Failed = 3 };


// One decode run over an opened source: the read loop, the sends, the receives and the flush.
class DecodeRun {
public:
    DecodeRun(FFmpegSourceState& state, const fs::path& path, FFmpegVideoSource::PictureCallback& onPicture,
              FFmpegVideoSource::CancelPredicate& shouldCancel, FFmpegVideoSource::PacketListener& onPacket,
              AVPacket& packet, AVFrame& frame)
        : state_(state), path_(path), onPicture_(onPicture), shouldCancel_(shouldCancel), onPacket_(onPacket),
          packet_(packet), frame_(frame), identities_(*state.codecContext) {}

    FFmpegDecodeSummary run() {
        summary_.canceled = !readAndDecode() || !flush();
        return summary_;
    }

private:
    bool canceled() const { return shouldCancel_ && shouldCancel_(); }

    [[noreturn]] void fail(int code, std::string_view what) const {
        throw DecodeFailure{formatFfmpegError(path_, code, what)};
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
        PacketIdentityRecord record;
        record.packetIndex = packetIndex;
        record.decodeIndex = static_cast<std::int64_t>(summary_.packetsSent);
        record.pts = packet_.pts;
        record.dts = packet_.dts;
        if (!attachPacketIdentity(packet_, record)) {
            fail(AVERROR(ENOMEM), kCannotAttachIdentity);
        }
        if (onPacket_) {
            onPacket_(record.decodeIndex, {packet_.data, static_cast<std::size_t>(std::max(packet_.size, 0))},
                      packet_.pos);
        }
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

    // Failures are thrown as DecodeFailure, so only the three other outcomes return.
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
                throw DecodeFailure{converted.error()};
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
    FFmpegVideoSource::PacketListener& onPacket_;
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

FFmpegVideoSource::FFmpegVideoSource(domain::StreamInfo info, std::unique_ptr<FFmpegSourceState> state)
    : streamInfo_(std::move(info)), state_(std::move(state)) {}

FFmpegVideoSource::FFmpegVideoSource(FFmpegVideoSource&&) noexcept = default;
FFmpegVideoSource& FFmpegVideoSource::operator=(FFmpegVideoSource&&) noexcept = default;
FFmpegVideoSource::~FFmpegVideoSource() = default;

FFmpegResult<FFmpegVideoSource> FFmpegVideoSource::open(const fs::path& path, DecoderThreads threads) {
    FFmpegResult<std::unique_ptr<FFmpegSourceState>> opened = openFFmpegInput(path, threads);
    if (!opened.ok()) {
        return opened.error();
    }
    std::unique_ptr<FFmpegSourceState> state = std::move(opened).value();
    domain::StreamInfo info = describeStream(path, *state);
    return FFmpegVideoSource(std::move(info), std::move(state));
}

ffmpeg::NalFraming FFmpegVideoSource::nalFraming() const noexcept {
    return state_ ? state_->framing : ffmpeg::NalFraming{};
}

FFmpegResult<FFmpegDecodeSummary> FFmpegVideoSource::decodeSequentially(PictureCallback onPicture,
                                                                        CancelPredicate shouldCancel,
                                                                        PacketListener onPacket) {
    // Moved into locals so that all three are released before this call returns.
    PictureCallback callback = std::move(onPicture);
    CancelPredicate cancel = std::move(shouldCancel);
    PacketListener packets = std::move(onPacket);
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
    return guardDecodeRun<FFmpegDecodeSummary>(path, [&]() -> FFmpegResult<FFmpegDecodeSummary> {
        PacketPtr packet(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        if (!packet || !frame) {
            return formatFfmpegError(path, AVERROR(ENOMEM), kCannotAllocatePacket);
        }
        DecodeRun run(*state_, path, callback, cancel, packets, *packet, *frame);
        return run.run();
    });
}

}  // namespace vexilo::media
