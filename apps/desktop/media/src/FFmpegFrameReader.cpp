#include "vexilo/media/FFmpegFrameReader.h"

#include "FFmpegInput.h"
#include "DecodeBoundary.h"
#include "PacketIdentity.h"
#include "vexilo/media/DecodedFrameConversion.h"

extern "C" {
#include <libavutil/error.h>
}

#include <algorithm>
#include <map>
#include <new>

namespace vexilo::media {

namespace {

constexpr std::string_view kCannotEnter = "Cannot enter the stream at the random-access picture";
constexpr std::string_view kCannotReadParameterSets =
    "Cannot read the parameter sets ahead of the random-access picture";
constexpr std::string_view kDecoderRefusesInput = "Decoder neither takes a packet nor puts out a picture";
constexpr std::string_view kNotStarted = "The frame reader has not started at a random-access picture";

// Labels of packets whose pictures never came out are dropped once the decoder is this many
// packets further; the decoded picture buffer holds far fewer.
constexpr std::int64_t kLabelWindow = 256;
// Each damaged receive takes something out of the decoder; this only bounds a decoder that
// would report the same damage for ever.
constexpr std::uint64_t kMaxDamagedReceives = 1U << 20;

enum class Phase : std::uint8_t { Reading, Flushing, Drained, Lost };

}  // namespace

struct FFmpegFrameReaderState {
    std::filesystem::path path;
    std::unique_ptr<FFmpegSourceState> source;
    PacketPtr packet{av_packet_alloc()};
    PacketPtr parameterSetPacket{av_packet_alloc()};
    FramePtr frame{av_frame_alloc()};
    std::optional<PacketIdentityCarrier> identities;
    bool packetPending = false;
    bool parameterSetsPending = false;
    // The first slice segment of each packet given to the decoder, by its ordinal.
    std::map<std::int64_t, std::optional<std::uint64_t>> labels;
    std::int64_t nextOrdinal = 0;
    std::optional<std::uint64_t> latestSliceOffset;
    std::uint64_t outputOrdinal = 0;
    std::uint64_t damagedReceives = 0;
    Phase phase = Phase::Reading;
    bool fromStreamStart = true;

    AVCodecContext& decoder() { return *source->codecContext; }

    [[noreturn]] void fail(int code, std::string_view what) const { throw DecodeFailure{formatFfmpegError(path, code, what)}; }

    void restartCounting() {
        identities.emplace(decoder());
        labels.clear();
        nextOrdinal = 0;
        latestSliceOffset.reset();
        outputOrdinal = 0;
        damagedReceives = 0;
        packetPending = false;
        parameterSetsPending = false;
        av_packet_unref(packet.get());
        av_packet_unref(parameterSetPacket.get());
    }

    // Names the packet by its first slice segment and gives it the record its pictures carry out.
    void label(AVPacket& video) {
        const ffmpeg::PacketNalUnits units = ffmpeg::scanPacketNalUnits(
            {video.data, static_cast<std::size_t>(std::max(video.size, 0))}, video.pos, source->framing);
        PacketIdentityRecord record;
        record.packetIndex = nextOrdinal;
        record.decodeIndex = nextOrdinal;
        record.pts = video.pts;
        record.dts = video.dts;
        if (!attachPacketIdentity(video, record)) {
            fail(AVERROR(ENOMEM), kCannotAttachIdentity);
        }
        labels.emplace(nextOrdinal, units.firstSliceOffset);
        if (units.firstSliceOffset) {
            latestSliceOffset = units.firstSliceOffset;
        }
        labels.erase(labels.begin(), labels.lower_bound(nextOrdinal - kLabelWindow));
        ++nextOrdinal;
    }

    // The packet the decoder takes next; null at the end of the input.
    AVPacket* nextPacket() {
        if (parameterSetsPending) {
            return parameterSetPacket.get();
        }
        if (packetPending) {
            return packet.get();
        }
        for (;;) {
            av_packet_unref(packet.get());
            const int read = av_read_frame(source->formatContext.get(), packet.get());
            if (read == AVERROR_EOF) {
                return nullptr;
            }
            if (read < 0) {
                fail(read, kCannotReadPacket);
            }
            if (packet->stream_index == source->streamIndex) {
                label(*packet);
                packetPending = true;
                return packet.get();
            }
        }
    }

    void packetTaken(AVPacket* taken) {
        av_packet_unref(taken);
        (taken == parameterSetPacket.get() ? parameterSetsPending : packetPending) = false;
    }

    void feedDecoder() {
        if (phase == Phase::Flushing) {
            fail(AVERROR_BUG, kPacketAfterFlush);
        }
        AVPacket* next = nextPacket();
        if (next == nullptr) {
            const int flushed = avcodec_send_packet(&decoder(), nullptr);
            if (flushed < 0 && flushed != AVERROR_EOF) {
                fail(flushed, kCannotFlush);
            }
            phase = Phase::Flushing;
            return;
        }
        identities->beforeSend(*next);
        const int sent = avcodec_send_packet(&decoder(), next);
        if (sent == AVERROR(EAGAIN)) {
            // The decoder has just said it wants input; a refusal now would never end.
            fail(AVERROR_BUG, kDecoderRefusesInput);
        }
        // A damaged packet is passed over, as the ffmpeg program does.
        if (sent < 0 && sent != AVERROR_INVALIDDATA) {
            fail(sent, kCannotSendPacket);
        }
        packetTaken(next);
    }

    void deliver(const FFmpegFrameReader::PictureFilter& wanted, const FFmpegFrameReader::PictureCallback& onPicture) {
        identities->afterReceive(*frame);
        DecodedPictureOrigin origin;
        if (const std::optional<PacketIdentityRecord> record = packetIdentityOf(*frame)) {
            if (const auto found = labels.find(record->decodeIndex); found != labels.end()) {
                origin.firstSliceOffset = found->second;
                labels.erase(found);
            }
        }
        origin.outputOrdinal = outputOrdinal++;
        if (!wanted || !wanted(origin)) {
            av_frame_unref(frame.get());
            return;
        }
        FFmpegResult<FFmpegDecodedPicture> converted = convertDecodedFrame(*frame, path, origin.outputOrdinal);
        av_frame_unref(frame.get());
        if (!converted.ok()) {
            throw DecodeFailure{converted.error()};
        }
        onPicture(origin, std::move(converted).value());
    }

    FFmpegFrameReader::Outcome run(const FFmpegFrameReader::PictureFilter& wanted,
                                   const FFmpegFrameReader::PictureCallback& onPicture,
                                   const FFmpegFrameReader::StopPredicate& stop) {
        for (;;) {
            if (stop && stop()) {
                return FFmpegFrameReader::Outcome::Stopped;
            }
            if (phase == Phase::Drained) {
                return FFmpegFrameReader::Outcome::EndOfStream;
            }
            const int received = avcodec_receive_frame(&decoder(), frame.get());
            if (received == 0) {
                deliver(wanted, onPicture);
            } else if (received == AVERROR_EOF) {
                phase = Phase::Drained;
            } else if (received == AVERROR_INVALIDDATA && damagedReceives < kMaxDamagedReceives) {
                ++damagedReceives;
            } else if (received == AVERROR(EAGAIN)) {
                feedDecoder();
            } else {
                fail(received, kCannotReceiveFrame);
            }
        }
    }
};

FFmpegFrameReader::FFmpegFrameReader(domain::StreamInfo info, std::unique_ptr<FFmpegFrameReaderState> state)
    : streamInfo_(std::move(info)), state_(std::move(state)) {}

FFmpegFrameReader::FFmpegFrameReader(FFmpegFrameReader&&) noexcept = default;
FFmpegFrameReader& FFmpegFrameReader::operator=(FFmpegFrameReader&&) noexcept = default;
FFmpegFrameReader::~FFmpegFrameReader() = default;

FFmpegResult<FFmpegFrameReader> FFmpegFrameReader::open(const std::filesystem::path& path, DecoderThreads threads) {
    FFmpegResult<std::unique_ptr<FFmpegSourceState>> opened = openFFmpegInput(path, threads);
    if (!opened.ok()) {
        return opened.error();
    }
    auto state = std::make_unique<FFmpegFrameReaderState>();
    state->path = path;
    state->source = std::move(opened).value();
    if (!state->packet || !state->parameterSetPacket || !state->frame) {
        return formatFfmpegError(path, AVERROR(ENOMEM), kCannotAllocatePacket);
    }
    state->identities.emplace(state->decoder());
    domain::StreamInfo info = describeStream(path, *state->source);
    return FFmpegFrameReader(std::move(info), std::move(state));
}

bool FFmpegFrameReader::readsFromStreamStart() const noexcept {
    return state_->fromStreamStart;
}

std::optional<std::uint64_t> FFmpegFrameReader::latestPacketSliceOffset() const noexcept {
    return state_->latestSliceOffset;
}

std::optional<FFmpegError> FFmpegFrameReader::startAt(const RandomAccessStart& start) {
    FFmpegFrameReaderState& state = *state_;
    avcodec_flush_buffers(&state.decoder());
    state.restartCounting();
    state.fromStreamStart = false;
    state.phase = Phase::Lost;
    const ffmpeg::AccessUnitStart accessUnit{start.picture.accessUnitOffset, start.picture.firstSliceOffset};
    if (const int code = ffmpeg::seekToAccessUnit(*state.source->formatContext, state.source->streamIndex,
                                                  state.source->framing, accessUnit, *state.packet);
        code < 0) {
        return formatFfmpegError(state.path, code, kCannotEnter);
    }
    if (!start.parameterSets.empty()) {
        const auto parameterSets =
            ffmpeg::readParameterSetPacket(state.path, start.parameterSets, state.source->framing);
        if (!parameterSets || !ffmpeg::fillPacket(*state.parameterSetPacket, *parameterSets)) {
            return formatFfmpegError(state.path, AVERROR(EIO), kCannotReadParameterSets);
        }
        state.parameterSetsPending = true;
    }
    try {
        state.label(*state.packet);
    } catch (DecodeFailure& failure) {
        return std::move(failure.error);
    }
    state.packetPending = true;
    state.phase = Phase::Reading;
    return std::nullopt;
}

FFmpegResult<FFmpegFrameReader::Outcome> FFmpegFrameReader::decodeOn(const PictureFilter& wanted,
                                                                     const PictureCallback& onPicture,
                                                                     const StopPredicate& stop) {
    const std::filesystem::path& path = state_->path;
    if (state_->phase == Phase::Lost) {
        return formatFfmpegError(path, AVERROR(EINVAL), kNotStarted);
    }
    return guardDecodeRun<Outcome>(path, [&] { return state_->run(wanted, onPicture, stop); });
}

}  // namespace vexilo::media
