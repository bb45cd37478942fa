#include "pipeline/AnalysisPipeline.h"

#include "builder/AnalyzerIssues.h"
#include "builder/BuilderValues.h"
#include "builder/DocumentBuilder.h"
#include "builder/StreamAnalysisBuilder.h"
#include "collector/ObserverEventCollector.h"
#include "pipeline/DecodeLoop.h"
#include "pipeline/PacketsInDecoder.h"
#include "pipeline/PipelineSupport.h"

#include "vexilo/analysis/DomainValidation.h"
#include "vexilo/analysis/cache/CacheManifest.h"
#include "vexilo/analysis/cache/CacheReader.h"
#include "vexilo/analysis/cache/CacheWriter.h"
#include "vexilo/analysis/cache/SourceStamp.h"
#include "vexilo/ffmpeg_handles/FFmpegHandles.h"
#include "vexilo/ffmpeg_handles/HevcDecoderLimits.h"
#include "vexilo/ffmpeg_handles/PacketIdentityCarrier.h"
#include "vexilo/ffmpeg_handles/RandomAccessSeek.h"
#include "vexilo/hevc_observer/observer_feed.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace vexilo::analyzer {
namespace {

struct RunFailure {
    std::string_view code;
    std::string_view message;
};

constexpr RunFailure kHashFailed{"analyzer.hash_failed", "Could not hash the HEVC input"};
constexpr RunFailure kOpenFailed{"analyzer.open_failed", "FFmpeg could not open the HEVC input"};
constexpr RunFailure kProbeFailed{"analyzer.probe_failed", "FFmpeg could not probe the HEVC input"};
constexpr RunFailure kUnsupportedCodec{"analyzer.unsupported_codec", "Input did not resolve to FFmpeg's HEVC decoder"};
constexpr RunFailure kDecoderAllocationFailed{"analyzer.allocation_failed",
                                              "FFmpeg could not allocate the HEVC decoder"};
constexpr RunFailure kBufferAllocationFailed{"analyzer.allocation_failed", "FFmpeg could not allocate decode buffers"};
constexpr RunFailure kCodecParametersFailed{"analyzer.codec_parameters_failed",
                                            "FFmpeg could not copy HEVC stream parameters"};
constexpr RunFailure kObserverAttachFailed{"analyzer.observer_attach_failed",
                                           "Could not attach the Vexilo FFmpeg observer"};
constexpr RunFailure kDecoderOpenFailed{"analyzer.decoder_open_failed", "FFmpeg could not open the HEVC decoder"};
constexpr RunFailure kReadFailed{"analyzer.read_failed", "FFmpeg failed while reading the HEVC input"};
constexpr RunFailure kDecodeFailed{"analyzer.decode_failed", "FFmpeg failed while decoding the HEVC input"};
constexpr RunFailure kFlushFailed{"analyzer.flush_failed", "FFmpeg failed while flushing the HEVC decoder"};
constexpr RunFailure kObserverOverflow{"analyzer.observer_overflow",
                                       "Vexilo observer collection failed or exceeded its event limit"};
constexpr RunFailure kMetadataWriteFailed{"analyzer.metadata_write_failed", "Could not write Vexilo analysis cache"};

constexpr std::string_view kHashFailedDescription = "file read failed";
constexpr int kOutOfMemory = AVERROR(ENOMEM);
constexpr int kNoSpace = AVERROR(ENOSPC);
constexpr std::int64_t kUnknownPosition = -1;
// Each drain after damage takes at least one frame or ends; this only bounds a decoder
// that would report the same damage for ever.
constexpr std::uint32_t kMaxDamagedDrains = 1024;

// Empty: go on with the next step; a value: the run ends with it.
using StepOutcome = std::optional<AnalyzerRunResult>;

// The blocks of the pictures made into documents, which the stream-level document never holds.
struct BlockTotals {
    std::uint64_t ctus = 0;
    std::uint64_t cus = 0;
    std::uint64_t pus = 0;
    std::uint64_t tus = 0;
    std::uint64_t motionVectors = 0;

    void take(const analysis::StreamAnalysis& document) noexcept
    {
        ctus += document.ctus.size();
        cus += document.cus.size();
        pus += document.pus.size();
        tus += document.tus.size();
        motionVectors += document.motionVectors.size();
    }

    void giveTo(AnalyzerRunResult& result) const noexcept
    {
        result.ctuCount = ctus;
        result.cuCount = cus;
        result.puCount = pus;
        result.tuCount = tus;
        result.motionVectorCount = motionVectors;
    }
};

void takeDocumentCounts(const analysis::StreamAnalysis& document, AnalyzerRunResult& result)
{
    result.nalUnitCount = document.nalUnits.size();
    result.parameterSetCount = document.parameterSets.size();
    result.seiMessageCount = document.seiMessages.size();
    result.sliceCount = document.slices.size();
    result.shortTermReferenceCount = document.shortTermReferencePictures.size();
    result.longTermReferenceCount = document.longTermReferencePictures.size();
    result.referenceListEntryCount = document.referencePictures.size();
    result.dpbSnapshotEntryCount = document.dpbSnapshotEntries.size();
    result.decodedPictureCount = document.pictures.size();
}

// FFmpeg's decoder rejects every packet of a stream whose SPS it does not take, as if each were
// damaged; one record says what it does not decode instead, and no packet is taken for damaged.
analysis::AnalysisErrorInfo undecodedStreamRecord(const analysis::StreamAnalysis& document,
                                                  const ffmpeg::UndecodableHevcFormat& format,
                                                  std::size_t rejectedPackets)
{
    return analyzerErrorRecord(document.id, deriveStableId(document.id, ObjectKind::UndecodedStreamIssue, 0),
                               kDecodeFailed.code, kDecodeFailed.message,
                               std::string(format.reason) + "; " + format.detail() +
                                   "; packetsRejected=" + std::to_string(rejectedPackets));
}

// An access unit delimiter NAL unit (type 35, temporal id 0, pic_type 0) in the stream's framing.
std::vector<std::uint8_t> accessUnitDelimiter(const ffmpeg::NalFraming& framing)
{
    constexpr std::array<std::uint8_t, 3> kDelimiter{0x46, 0x01, 0x10};
    std::vector<std::uint8_t> bytes;
    if (framing.annexB()) {
        bytes = {0x00, 0x00, 0x00, 0x01};
    } else {
        for (unsigned byte = framing.lengthSize; byte-- > 0;) {
            bytes.push_back(static_cast<std::uint8_t>((kDelimiter.size() >> (8 * byte)) & 0xFFU));
        }
    }
    bytes.insert(bytes.end(), kDelimiter.begin(), kDelimiter.end());
    return bytes;
}

std::string textOrEmpty(const char* text)
{
    return text != nullptr ? std::string(text) : std::string();
}

// One analysis: owns its FFmpeg objects, the collector and the frame sink. Members are
// declared so that they are released frame, packet, collector, decoder, input.
class PipelineRun {
public:
    PipelineRun(const std::filesystem::path& inputPath, const std::filesystem::path& cacheRoot,
                const CancelRequest& cancelRequest, AnalysisMode mode, const PictureTarget& target,
                FrameSink frameSink)
        : inputPath_(inputPath),
          cacheRoot_(cacheRoot),
          cancelRequest_(cancelRequest),
          cancelRequested_(cancelRequest.requested),
          mode_(mode),
          targetDecodePictureId_(target.decodePictureId),
          structureStart_(target.start),
          frameSink_(std::move(frameSink))
    {
    }

    AnalyzerRunResult run()
    {
        if (cancelRequested_.load()) {
            return canceled();
        }
        for (StepOutcome (PipelineRun::*step)() : {&PipelineRun::fingerprintInput, &PipelineRun::decideStopAtTarget,
                                                   &PipelineRun::openInput,
                                                   &PipelineRun::prepareDecoder, &PipelineRun::attachObserver,
                                                   &PipelineRun::openDecoder, &PipelineRun::takeUpAtStructureStart,
                                                   &PipelineRun::decodeAllPackets,
                                                   &PipelineRun::flushDecoder}) {
            if (StepOutcome outcome = (this->*step)()) {
                return std::move(*outcome);
            }
        }
        return buildValidateAndWrite();
    }

private:
    StepOutcome fingerprintInput()
    {
        // Taken before the hash, so a file that changes while it is read is never stamped.
        sourceStateBefore_ = analysis::statSourceFile(inputPath_);
        fingerprint_ = sha256FileFingerprint(inputPath_);
        if (!fingerprint_) {
            return fail(kHashFailed, 0, kHashFailedDescription);
        }
        return std::nullopt;
    }

    // A single picture's structure needs the stream only up to that picture when a complete
    // cache of the same content holds the rest: the run then replaces that picture's file alone.
    StepOutcome decideStopAtTarget()
    {
        stopAtTargetPicture_ = mode_ == AnalysisMode::PictureStructure && targetDecodePictureId_ != 0 &&
                               !analysis::isCacheError(analysis::openAnalysisCache(cacheRoot_, fingerprint_));
        if (stopAtTargetPicture_) {
            // Whoever holds that cache has the stream's pictures already; converting and sending
            // each one up to the target would cost more than decoding it.
            frameSink_ = {};
        }
        return std::nullopt;
    }

    StepOutcome openInput()
    {
        const std::string pathText = pathToUtf8Text(inputPath_);
        AVFormatContext* opened = nullptr;
        if (const int code = avformat_open_input(&opened, pathText.c_str(), nullptr, nullptr); code < 0) {
            return fail(kOpenFailed, code);
        }
        input_.reset(opened);
        if (const int code = avformat_find_stream_info(input_.get(), nullptr); code < 0) {
            return fail(kProbeFailed, code);
        }
        const AVCodec* decoder = nullptr;
        streamIndex_ = av_find_best_stream(input_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
        if (streamIndex_ < 0 || decoder == nullptr || decoder->id != AV_CODEC_ID_HEVC) {
            return fail(kUnsupportedCodec, streamIndex_);
        }
        decoder_ = decoder;
        undecodableFormat_ = ffmpeg::findUndecodableHevcFormat(*input_->streams[streamIndex_]->codecpar);
        return std::nullopt;
    }

    StepOutcome prepareDecoder()
    {
        context_.reset(avcodec_alloc_context3(decoder_));
        if (!context_) {
            return fail(kDecoderAllocationFailed, kOutOfMemory);
        }
        const AVStream* stream = input_->streams[streamIndex_];
        if (const int code = avcodec_parameters_to_context(context_.get(), stream->codecpar); code < 0) {
            return fail(kCodecParametersFailed, code);
        }
        // The observer parses what the decoder is given, not what its threads do, so the
        // decoding may spread over the cores it is free to use; on one core it stays on this one.
        // A run that stops at one picture checks after every packet whether it is out.
        if (const int threads = decoderFrameThreads(); threads > 1 && !stopAtTargetPicture_) {
            context_->thread_count = threads;
            context_->thread_type = FF_THREAD_FRAME;
            packetsInDecoder_ = PacketsInDecoder(threads);
        }
        return std::nullopt;
    }

    StepOutcome attachObserver()
    {
        ObserverCollectorLimits limits;
        limits.blockBudgetBytes = blockBudgetBytesFromEnvironment(defaultBlockBudgetBytes(physicalMemoryBytes()));
        collector_ = std::make_unique<ObserverEventCollector>(blockEventCapacityFromEnvironment(),
                                                              collectorTargetPicture(mode_, targetDecodePictureId_),
                                                              limits);
        if (mode_ == AnalysisMode::BoundedStructure) {
            collector_->spillPicturesInto(cacheRoot_);
        }
        // A run that stops at one picture asks the collector after every packet whether it is out.
        if (usableCores() > 1 && !stopAtTargetPicture_) {
            collector_->keepEventsOnOwnThread();
        }
        observer_.emplace(*collector_);
        // FFmpeg will output none of the pictures of a stream it does not decode: their blocks
        // would belong to no picture of the document, so only the stream's syntax is observed.
        const AnalysisMode observedMode = undecodableFormat_ ? AnalysisMode::StreamIndex : mode_;
        if (const int code = observer_->attach(context_.get(), observerEventMask(observedMode)); code < 0) {
            return fail(kObserverAttachFailed, code);
        }
        // The decoder reads its parameter sets from here; the observer has to see them too.
        hevc_observer::feedExtradata(context_.get());
        return std::nullopt;
    }

    StepOutcome openDecoder()
    {
        // feedFrame finds each frame's picture by the token its packet carried in.
        ffmpeg::enablePacketIdentityPassThrough(*context_);
        identities_.emplace(*context_);
        if (const int code = avcodec_open2(context_.get(), decoder_, nullptr); code < 0) {
            return failDetached(kDecoderOpenFailed, code);
        }
        packet_.reset(av_packet_alloc());
        frame_.reset(av_frame_alloc());
        if (!packet_ || !frame_) {
            return failDetached(kBufferAllocationFailed, kOutOfMemory);
        }
        return std::nullopt;
    }

    // Over a complete cache, one picture's structure needs the stream only from the random-access
    // picture the desktop names on: the decoder gets the parameter sets before it, the observer
    // counts on from where the whole run had counted, and the frames take their display indexes
    // from there. An input that cannot be entered there (not the file the cache describes) is
    // decoded from its start instead.
    StepOutcome takeUpAtStructureStart()
    {
        if (!stopAtTargetPicture_ || !structureStart_) {
            return std::nullopt;
        }
        const protocol::StructureStart& start = *structureStart_;
        const ffmpeg::NalFraming framing = ffmpeg::nalFramingOf(*input_->streams[streamIndex_]->codecpar);
        std::vector<ffmpeg::FileSpan> spans;
        for (const protocol::StructureStart::Span& span : start.parameterSets) {
            spans.push_back({span.offset, span.size});
        }
        const auto parameterSets = ffmpeg::readParameterSetPacket(inputPath_, spans, framing);
        if (!parameterSets || ffmpeg::seekToAccessUnit(*input_, streamIndex_, framing,
                                                       {start.accessUnitOffset, start.firstSliceOffset}, *packet_) < 0) {
            av_packet_unref(packet_.get());
            return openInput();
        }
        if (!parameterSets->empty()) {
            if (StepOutcome outcome = feedParameterSets(*parameterSets)) {
                return outcome;
            }
        }
        hevc_observer::resumeAt(context_.get(),
                                {start.picturesBefore, start.slicesBefore, start.nalUnitsBefore, start.picOrderCnt,
                                 start.skippedPicturesTakeIdentities});
        outputOrdinal_ = static_cast<std::uint64_t>(start.firstDisplayIndex);
        accessUnitPacketRead_ = true;
        return std::nullopt;
    }

    StepOutcome feedParameterSets(const std::vector<std::uint8_t>& bytes)
    {
        const ffmpeg::PacketPtr parameterSets(av_packet_alloc());
        if (!parameterSets || !ffmpeg::fillPacket(*parameterSets, bytes) ||
            !ffmpeg::attachPacketToken(*parameterSets,
                                       hevc_observer::feedPacket(context_.get(), parameterSets.get(), kUnknownPosition))) {
            return failDetached(kBufferAllocationFailed, kOutOfMemory);
        }
        const int code = sendAndDrain(parameterSets.get());
        if (code == AVERROR_EXIT) {
            return canceledDetached();
        }
        if (code < 0 && code != AVERROR(EAGAIN) && code != AVERROR_EOF) {
            return failDetached(kDecodeFailed, code);
        }
        return std::nullopt;
    }

    StepOutcome decodeAllPackets()
    {
        if (cancelRequested_.load()) {
            return canceledDetached();
        }
        for (;;) {
            // The access unit a structure start entered at was read by the seek.
            const int read = std::exchange(accessUnitPacketRead_, false) ? 0 : av_read_frame(input_.get(), packet_.get());
            if (read == AVERROR_EOF) {
                return std::nullopt;
            }
            if (read < 0) {
                return failDetached(kReadFailed, read);
            }
            ++packetsRead_;
            StepOutcome outcome = decodeOnePacket();
            av_packet_unref(packet_.get());
            if (outcome) {
                return outcome;
            }
            if (cancelRequested_.load()) {
                return canceledKeepingCompletePictures();
            }
            if (stopAtTargetPicture_ && targetPictureOutput()) {
                return std::nullopt;
            }
        }
    }

    // Asked after every packet, so it waits for the observer to have seen each one: the run
    // stops at the packet where it would stop if the observer parsed on this thread.
    bool targetPictureOutput()
    {
        hevc_observer::waitForDelivery(context_.get());
        return collector_->targetPictureOutput();
    }

    StepOutcome decodeOnePacket()
    {
        if (packet_->stream_index != streamIndex_) {
            return std::nullopt;
        }
        const std::uint64_t packetIndex = decodedPacketCount_++;
        const std::int64_t position = packet_->pos;
        if (!ffmpeg::attachPacketToken(*packet_,
                                       hevc_observer::feedPacket(context_.get(), packet_.get(), position))) {
            return failDetached(kBufferAllocationFailed, kOutOfMemory);
        }
        const PacketsInDecoder::Packet handed{packetIndex, position,
                                              static_cast<std::uint64_t>(std::max(packet_->size, 0))};
        const PacketsInDecoder::Packet answered = packetsInDecoder_.hand(handed).value_or(handed);
        return takeDecoderAnswer(sendAndDrain(packet_.get()), answered);
    }

    StepOutcome takeDecoderAnswer(int code, const std::optional<PacketsInDecoder::Packet>& answered)
    {
        if (code == AVERROR_INVALIDDATA) {
            // A damaged packet is what an analyser is opened for: note it and go on.
            if (answered) {
                noteRejectedPacket(answered->index, answered->position, code, answered->byteSize);
            }
            code = 0;
        }
        if (code == AVERROR_EXIT) {
            return canceledKeepingCompletePictures();
        }
        if (observer_->collectorFailed()) {
            return overflowDetached(AVERROR_EXTERNAL);
        }
        if (code < 0 && code != AVERROR(EAGAIN) && code != AVERROR_EOF) {
            return failDetached(kDecodeFailed, code);
        }
        return std::nullopt;
    }

    StepOutcome handFillersBeforeFlush()
    {
        const std::size_t fillers = packetsInDecoder_.fillersBeforeFlush();
        if (fillers == 0) {
            return std::nullopt;
        }
        const ffmpeg::PacketPtr filler(av_packet_alloc());
        if (!filler || !ffmpeg::fillPacket(*filler, accessUnitDelimiter(
                                                        ffmpeg::nalFramingOf(*input_->streams[streamIndex_]->codecpar)))) {
            return failDetached(kBufferAllocationFailed, kOutOfMemory);
        }
        for (std::size_t sent = 0; sent < fillers; ++sent) {
            const std::optional<PacketsInDecoder::Packet> answered = packetsInDecoder_.hand({.filler = true});
            if (StepOutcome outcome = takeDecoderAnswer(sendAndDrain(filler.get()), answered)) {
                return outcome;
            }
        }
        return std::nullopt;
    }

    StepOutcome flushDecoder()
    {
        if (StepOutcome outcome = handFillersBeforeFlush()) {
            return outcome;
        }
        int code = sendAndDrain(nullptr);
        // Damage found while flushing is noted like a rejected packet; the frames behind it
        // are still drained.
        for (std::uint32_t attempt = 0; code == AVERROR_INVALIDDATA && attempt < kMaxDamagedDrains; ++attempt) {
            if (const std::optional<PacketsInDecoder::Packet> held = packetsInDecoder_.damagedWhileFlushed()) {
                noteRejectedPacket(held->index, held->position, code, held->byteSize);
            } else {
                noteRejectedPacket(decodedPacketCount_, kUnknownPosition, code);
            }
            code = receiveDecodedFrames(cancelRequested_, *context_, *identities_, *frame_, frameSink_, outputOrdinal_,
                                        *observer_);
        }
        if (code == AVERROR_EXIT) {
            return canceledKeepingCompletePictures();
        }
        if (observer_->collectorFailed()) {
            return overflowDetached(AVERROR_EXTERNAL);
        }
        if (code != AVERROR_EOF) {
            return failDetached(kFlushFailed, code);
        }
        hevc_observer::feedFlush(context_.get());
        if (const int detached = observer_->detachIfAttached(); detached < 0) {
            return overflow(detached);
        }
        // Detaching finalises the collector, which may only now find a batch it cannot close.
        if (observer_->collectorFailed()) {
            return overflow(kNoSpace);
        }
        return std::nullopt;
    }

    // The rejected packets, or what the decoder would not decode, go into the stream's errors.
    void recordDecodingFailures(analysis::StreamAnalysis& document) const
    {
        if (undecodableFormat_) {
            document.errors.push_back(undecodedStreamRecord(document, *undecodableFormat_, rejectedPackets_.size()));
        } else {
            recordRejectedPackets(document, rejectedPackets_);
        }
    }

    StepOutcome validated(const analysis::StreamAnalysis& document) const
    {
        if (const analysis::ValidationIssues issues = analysis::validateStreamAnalysis(document); !issues.empty()) {
            return fail(kMetadataWriteFailed, 0,
                        describeStream(document) + "; " + analysis::formatValidationIssues(issues));
        }
        return std::nullopt;
    }

    // The stream-level document, built and validated, stays with the builder; each picture's
    // blocks are made from the collector as its document is written.
    StepOutcome buildStreamLevel()
    {
        contextInfo_ = decoderContextInfo(context_.get());
        builder_.emplace(inputPath_, *fingerprint_, contextInfo_, *collector_);
        if (const std::optional<StreamAnalysisBuildError> error = builder_->buildStreamLevel()) {
            releaseEvents();
            return builderFailure(*error);
        }
        analysis::StreamAnalysis& document = builder_->document();
        recordDecodingFailures(document);
        return validated(document);
    }

    // A cancelled run writes what it has without asking again whether it is cancelled.
    enum class Cancellable : bool { No, Yes };

    analysis::CacheWriteOptions cacheWriteOptions(Cancellable cancellable)
    {
        analysis::CacheWriteOptions options;
        if (cancellable == Cancellable::Yes) {
            options.isCancelled = [this] { return cancelRequested_.load() && !keepsPicturesThroughCancel(); };
        }
        options.pictureDocumentLimitBytes = pictureDocumentLimitFromEnvironment();
        options.onPictureBlocksOmitted = [this](analysis::StreamAnalysis& pictureDocument,
                                                const analysis::OmittedPictureBlocks& omitted) {
            recordOmittedPictureBlocks(pictureDocument, omitted);
            omittedBlocks_.push_back(omitted);
        };
        return options;
    }

    // The blocks pass keeps the pictures it has made whole through a user's cancel: once the
    // cache is being written every picture is built, and their events go as they are written,
    // so the write goes on to the end rather than stop and start again.
    bool keepsPicturesThroughCancel()
    {
        if (!keepsPicturesThroughCancel_) {
            keepsPicturesThroughCancel_ = mode_ == AnalysisMode::BoundedStructure &&
                                          cancelRequest_.keepCompletePictures.load() &&
                                          !holdsCompleteAnalysisOfThisContent();
        }
        return *keepsPicturesThroughCancel_;
    }

    analysis::CacheResult<analysis::CacheManifest> writePictureByPicture(Cancellable cancellable)
    {
        analysis::StreamAnalysis& stream = builder_->document();
        const analysis::PictureDocumentSplit split(stream, analysis::PictureDocumentSplit::Identities::validated);
        const analysis::PictureDocumentMaker makePicture = [&](std::size_t index,
                                                               analysis::StreamAnalysis& document) {
            split.fill(index, document);
            builder_->addPictureBlocks(index, document);
            madeBlocks_.take(document);
            if (const std::optional<std::uint64_t> identity = stream.pictures[index].pictureId) {
                collector_->releaseBlocksOf(*identity);
            }
        };
        return analysis::writeAnalysisCachePictureByPicture(cacheRoot_, stream, makePicture,
                                                            cacheWriteOptions(cancellable));
    }

    AnalyzerRunResult buildValidateAndWrite()
    {
        if (stopAtTargetPicture_) {
            return buildWholeValidateAndWriteTarget();
        }
        if (StepOutcome failure = buildStreamLevel()) {
            return std::move(*failure);
        }
        const analysis::CacheResult<analysis::CacheManifest> written = writePictureByPicture(Cancellable::Yes);
        if (const auto* error = std::get_if<analysis::CacheError>(&written)) {
            if (error->errorKind() == analysis::CacheErrorKind::cancelled) {
                return canceled();
            }
            return fail(kMetadataWriteFailed, 0, error->message);
        }
        if (cancelRequested_.load()) {
            // Written through a cancel: the cache no longer tells of what a stamp says.
            analysis::removeSourceStamp(cacheRoot_);
            return canceled();
        }
        stampSource();
        return succeeded(builder_->document());
    }

    // One picture's structure over a complete cache of the same content replaces that
    // picture's file alone, from the whole document of the stream up to it.
    AnalyzerRunResult buildWholeValidateAndWriteTarget()
    {
        StreamAnalysisBuildResult built = buildStreamAnalysis(inputPath_, *fingerprint_, context_.get(), *collector_);
        releaseEvents();
        if (auto* error = std::get_if<StreamAnalysisBuildError>(&built)) {
            return builderFailure(*error);
        }
        auto& document = std::get<analysis::StreamAnalysis>(built);
        recordDecodingFailures(document);
        if (StepOutcome failure = validated(document)) {
            return std::move(*failure);
        }
        analysis::CacheWriteOptions options = cacheWriteOptions(Cancellable::Yes);
        options.documentValidated = true;
        const analysis::CacheResult<analysis::CacheManifest> written =
            analysis::writePictureIntoCache(cacheRoot_, document, targetDecodePictureId_, options);
        if (const auto* error = std::get_if<analysis::CacheError>(&written)) {
            if (error->errorKind() == analysis::CacheErrorKind::cancelled) {
                return canceled();
            }
            return fail(kMetadataWriteFailed, 0, error->message);
        }
        madeBlocks_.take(document);
        return succeeded(document);
    }

    // The blocks pass cancelled part way keeps every picture that was put out: its slices and
    // blocks are all in, so its cache file is whole and spares the next run its analysis. An
    // index run has no blocks worth keeping and leaves the directory as it was.
    // The stream document then lists only those pictures, so the cache is not stamped as the
    // analysis of the source; a complete cache of the same content is not replaced by it.
    AnalyzerRunResult canceledKeepingCompletePictures()
    {
        if (!observer_->attached() || !cancelRequest_.keepCompletePictures.load()) {
            return canceledDetached();
        }
        // Detaching finalises the collector with what it has: the pictures the decoder put out
        // are whole, those it still held back are left to the next run.
        const bool finalised = observer_->detachIfAttached() >= 0 && !observer_->collectorFailed();
        if (finalised && mode_ == AnalysisMode::BoundedStructure && !holdsCompleteAnalysisOfThisContent()) {
            writeCompletePictures();
        }
        return canceled();
    }

    [[nodiscard]] bool holdsCompleteAnalysisOfThisContent() const
    {
        const std::optional<analysis::SourceStamp> stamp = analysis::readSourceStamp(cacheRoot_);
        return stamp && stamp->sourceFingerprint == *fingerprint_ &&
               !analysis::isCacheError(analysis::openAnalysisCache(cacheRoot_, fingerprint_));
    }

    void writeCompletePictures()
    {
        if (buildStreamLevel() || builder_->document().pictures.empty()) {
            return;
        }
        // Whatever stamp is there no longer tells of the cache once this is written.
        analysis::removeSourceStamp(cacheRoot_);
        static_cast<void>(writePictureByPicture(Cancellable::No));
    }

    // Lets the next open of an unchanged file reuse this cache without hashing it again. A
    // stamp that cannot be written only costs that open a fresh analysis.
    void stampSource() const
    {
        const std::optional<analysis::SourceStamp> after = analysis::statSourceFile(inputPath_);
        if (!sourceStateBefore_ || !after || !analysis::sameFileState(*sourceStateBefore_, *after)) {
            return;
        }
        analysis::SourceStamp stamp = *after;
        stamp.sourceFingerprint = *fingerprint_;
        static_cast<void>(analysis::writeSourceStamp(cacheRoot_, stamp));
    }

    void releaseEvents()
    {
        builder_.reset();
        observer_.reset();
        collector_.reset();
    }

    void noteRejectedPacket(std::uint64_t packetIndex, std::int64_t position, int code, std::uint64_t byteSize = 0)
    {
        RejectedPacket packet;
        packet.packetIndex = packetIndex;
        packet.byteOffset = position >= 0 ? std::optional<std::int64_t>(position) : std::nullopt;
        packet.byteSize = byteSize;
        packet.ffmpegCode = code;
        rejectedPackets_.push_back(packet);
    }

    [[nodiscard]] int sendAndDrain(const AVPacket* packet)
    {
        return sendPacketAndDrain(cancelRequested_, *context_, *identities_, packet, *frame_, frameSink_,
                                  outputOrdinal_, *observer_);
    }

    AnalyzerRunResult succeeded(const analysis::StreamAnalysis& document) const
    {
        AnalyzerRunResult result;
        result.succeeded = true;
        result.metadataPath = cacheRoot_ / analysis::kDefaultStreamFileName;
        takeDocumentCounts(document, result);
        madeBlocks_.giveTo(result);
        result.inputPath = inputPath_;
        result.codecName = textOrEmpty(avcodec_get_name(context_->codec_id));
        result.width = context_->width;
        result.height = context_->height;
        result.bitDepth = document.bitDepth.value_or(0);
        result.pixelFormat = textOrEmpty(av_get_pix_fmt_name(context_->pix_fmt));
        result.pictureCount = static_cast<std::int64_t>(document.pictures.size());
        result.packetsRead = packetsRead_;
        result.packetsSent = decodedPacketCount_;
        result.picturesWithBlocks = static_cast<std::uint64_t>(
            std::count_if(document.pictures.begin(), document.pictures.end(),
                          [](const analysis::PictureAnalysisSummary& picture) { return picture.ctuCount.value_or(0) != 0; }));
        takeOmittedBlocksOut(result);
        return result;
    }

    // The counts say what the cache holds: blocks a picture document could not take are not there.
    void takeOmittedBlocksOut(AnalyzerRunResult& result) const
    {
        for (const analysis::OmittedPictureBlocks& omitted : omittedBlocks_) {
            result.ctuCount -= omitted.ctus;
            result.cuCount -= omitted.cus;
            result.puCount -= omitted.pus;
            result.tuCount -= omitted.tus;
            result.motionVectorCount -= omitted.motionVectors;
        }
        result.picturesWithBlocks -= std::min<std::uint64_t>(omittedBlocks_.size(), result.picturesWithBlocks);
    }

    static AnalyzerRunResult canceled()
    {
        AnalyzerRunResult result;
        result.canceled = true;
        return result;
    }

    AnalyzerRunResult canceledDetached()
    {
        observer_->detachIfAttached();
        return canceled();
    }

    AnalyzerRunResult fail(const RunFailure& failure, int ffmpegCode,
                           std::optional<std::string_view> description = std::nullopt) const
    {
        AnalyzerRunResult result;
        result.code = failure.code;
        result.message = failure.message;
        result.ffmpegCode = ffmpegCode;
        result.detail = failureDetail(inputPath_, ffmpegCode, description);
        return result;
    }

    AnalyzerRunResult failDetached(const RunFailure& failure, int ffmpegCode)
    {
        observer_->detachIfAttached();
        return fail(failure, ffmpegCode);
    }

    AnalyzerRunResult overflow(int ffmpegCode) const
    {
        return fail(kObserverOverflow, ffmpegCode, collector_->statisticsText());
    }

    AnalyzerRunResult overflowDetached(int ffmpegCode)
    {
        observer_->detachIfAttached();
        return overflow(ffmpegCode);
    }

    static AnalyzerRunResult builderFailure(const StreamAnalysisBuildError& error)
    {
        AnalyzerRunResult result;
        result.code = error.code;
        result.message = error.message;
        result.detail = error.detail;
        result.ffmpegCode = error.ffmpegCode;
        return result;
    }

    const std::filesystem::path& inputPath_;
    const std::filesystem::path& cacheRoot_;
    const CancelRequest& cancelRequest_;
    const std::atomic<bool>& cancelRequested_;
    AnalysisMode mode_;
    std::uint64_t targetDecodePictureId_;
    std::optional<protocol::StructureStart> structureStart_;
    FrameSink frameSink_;

    std::optional<std::string> fingerprint_;
    std::optional<analysis::SourceStamp> sourceStateBefore_;
    bool stopAtTargetPicture_ = false;
    bool accessUnitPacketRead_ = false;
    const AVCodec* decoder_ = nullptr;
    int streamIndex_ = -1;
    std::optional<ffmpeg::UndecodableHevcFormat> undecodableFormat_;
    std::uint64_t outputOrdinal_ = 0;
    std::uint64_t decodedPacketCount_ = 0;
    PacketsInDecoder packetsInDecoder_;
    std::uint64_t packetsRead_ = 0;
    std::vector<RejectedPacket> rejectedPackets_;
    std::vector<analysis::OmittedPictureBlocks> omittedBlocks_;
    std::optional<bool> keepsPicturesThroughCancel_;
    BlockTotals madeBlocks_;
    DecoderContextInfo contextInfo_;

    ffmpeg::FormatContextPtr input_;
    ffmpeg::CodecContextPtr context_;
    // Holds packets' references until their frames come out; released before the decoder.
    std::optional<ffmpeg::PacketIdentityCarrier> identities_;
    std::unique_ptr<ObserverEventCollector> collector_;
    std::optional<ObserverAttachment> observer_;
    // Holds the stream-level document while the pictures' blocks are made from the collector.
    std::optional<DocumentBuilder> builder_;
    ffmpeg::PacketPtr packet_;
    ffmpeg::FramePtr frame_;
};

}  // namespace

AnalyzerRunResult frameDeliveryFailed(const std::filesystem::path& inputPath)
{
    AnalyzerRunResult result;
    result.code = kDecodeFailed.code;
    result.message = kDecodeFailed.message;
    result.ffmpegCode = AVERROR_EXTERNAL;
    result.detail = failureDetail(inputPath, AVERROR_EXTERNAL, std::nullopt);
    return result;
}

AnalyzerRunResult analyzeHevcToMetadata(const std::filesystem::path& inputPath, const std::filesystem::path& cacheRoot,
                                        const CancelRequest& cancelRequest, AnalysisMode mode,
                                        const PictureTarget& target, FrameSink frameSink)
{
    PipelineRun run(inputPath, cacheRoot, cancelRequest, mode, target, std::move(frameSink));
    return run.run();
}

}  // namespace vexilo::analyzer
