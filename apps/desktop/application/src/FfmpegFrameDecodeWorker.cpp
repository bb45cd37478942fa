#include "vexilo/application/FfmpegFrameDecodeWorker.h"

#include "vexilo/media/FFmpegFrameReader.h"

#include <algorithm>
#include <cstdlib>
#include <exception>

namespace vexilo::application {
namespace {

constexpr auto kNotFoundReason = "Decoded display index %1 was not found";
constexpr auto kExceptionReason = "On-demand frame decode failed: %1";
constexpr auto kUnknownExceptionReason = "On-demand frame decode failed with an unknown error";

// The most pictures read ahead on each side of the selected one: about a quarter of a second
// of decoding at full HD, and far more than one step needs.
constexpr std::int64_t kMostReadAhead = 48;
// The random-access starts the counts list, the last ones.
constexpr std::size_t kListedStarts = 256;
// Until a frame has been decoded its size is reckoned as a 4:4:4 frame of the stream's samples,
// the largest the stream can have, so that the first window never outgrows the cache.
constexpr std::uint64_t kPlanesOfAFullChromaFrame = 3;
constexpr int kBitsPerByte = 8;

}  // namespace

FfmpegFrameDecodeWorker::FfmpegFrameDecodeWorker(std::filesystem::path sourcePath,
                                                 std::shared_ptr<VideoFrameCache> frameCache,
                                                 std::shared_ptr<const media::RandomAccessIndex> index)
    : sourcePath_(std::move(sourcePath)), frameCache_(std::move(frameCache)), sharedIndex_(std::move(index))
{
}

FfmpegFrameDecodeWorker::~FfmpegFrameDecodeWorker() = default;

// The decoding thread is woken under the lock: once it is free to end, the object may be deleted
// on that thread at any time, and nothing may touch it from here afterwards.
void FfmpegFrameDecodeWorker::request(const FrameRequest& request)
{
    const std::lock_guard lock(mutex_);
    pending_ = request;
    // Reading ahead the same way near where it already reads, the running work does what the new
    // request would start again: it goes on, and the request follows it.
    const bool readsOnAlike = !request.deliver && serving_ && !serving_->deliver &&
                              serving_->direction == request.direction &&
                              std::abs(serving_->displayIndex - request.displayIndex) <= kMostReadAhead;
    if (!readsOnAlike) {
        ++generation_;
    }
    wake_.notify_one();
}

void FfmpegFrameDecodeWorker::cancel()
{
    const std::lock_guard lock(mutex_);
    pending_.reset();
    ++generation_;
}

void FfmpegFrameDecodeWorker::stop()
{
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    ++generation_;
    wake_.notify_one();
}

void FfmpegFrameDecodeWorker::setRandomAccessIndex(std::shared_ptr<const media::RandomAccessIndex> index)
{
    const std::lock_guard lock(mutex_);
    sharedIndex_ = std::move(index);
}

FrameDecodeCounts FfmpegFrameDecodeWorker::counts() const
{
    const std::lock_guard lock(mutex_);
    return counts_;
}

void FfmpegFrameDecodeWorker::run()
{
    while (const std::optional<FrameRequest> request = nextRequest()) {
        try {
            serve(*request);
        } catch (const std::exception& exception) {
            reader_.reset();
            fail(request->deliver ? &*request : nullptr,
                 QString::fromLatin1(kExceptionReason).arg(QString::fromLocal8Bit(exception.what())));
        } catch (...) {
            reader_.reset();
            fail(request->deliver ? &*request : nullptr, QString::fromLatin1(kUnknownExceptionReason));
        }
    }
    // The decoder and its frames go on this thread, which made them.
    reader_.reset();
    emit finished();
}

std::optional<FrameRequest> FfmpegFrameDecodeWorker::nextRequest()
{
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return stopping_ || pending_.has_value(); });
    if (stopping_) {
        return std::nullopt;
    }
    const FrameRequest taken = *pending_;
    pending_.reset();
    serving_ = taken;
    servedGeneration_ = generation_.load();
    // An index that came while the decoder worked is taken between requests: a newer one lists
    // more pictures of the same stream, so pictures keep their names.
    index_ = sharedIndex_;
    return taken;
}

void FfmpegFrameDecodeWorker::serve(const FrameRequest& request)
{
    const Window window = windowAround(request);
    if (!request.deliver || deliver(request, window)) {
        {
            // From here on the request only reads ahead.
            const std::lock_guard lock(mutex_);
            serving_->deliver = false;
        }
        readAhead(request, window);
    }
    const std::lock_guard lock(mutex_);
    serving_.reset();
}

bool FfmpegFrameDecodeWorker::deliver(const FrameRequest& request, const Window& window)
{
    // The read-ahead of an earlier request may have brought it in the meantime.
    if (VideoFramePtr cached = frameCache_->find(request.pictureId)) {
        emit frameReady(request.requestId, request.pictureId, std::move(cached));
        return true;
    }
    if (!positionFor(request.displayIndex)) {
        fail(&request, lastError_.isEmpty() ? QString::fromLatin1(kNotFoundReason).arg(request.displayIndex) : lastError_);
        return false;
    }
    return decodeUntil(request.displayIndex, window, &request);
}

void FfmpegFrameDecodeWorker::readAhead(const FrameRequest& request, const Window& window)
{
    if (window.ahead == 0) {
        return;
    }
    if (request.direction >= 0) {
        const std::int64_t last = request.displayIndex + window.ahead;
        for (std::int64_t next = request.displayIndex + 1; next <= last && exists(next); ++next) {
            if (!isCached(next)) {
                if (positionFor(next, StreamStart::Kept)) {
                    decodeUntil(last, window, nullptr);
                }
                return;
            }
        }
        return;
    }
    // Back: each group of pictures before the one already read decodes from its own start, so
    // the window is filled once the nearer half of it is used up, not a picture every step.
    std::int64_t next = request.displayIndex - 1;
    while (next >= window.first && (isCached(next) || !exists(next))) {
        --next;
    }
    if (request.displayIndex - next > window.ahead - window.ahead / 2) {
        return;
    }
    for (; next >= window.first && !superseded(); --next) {
        if (isCached(next) || !exists(next)) {
            continue;
        }
        if (!positionFor(next, StreamStart::Kept) || !decodeUntil(next, window, nullptr) || !isCached(next)) {
            return;
        }
    }
}

bool FfmpegFrameDecodeWorker::decodeUntil(std::int64_t last, const Window& window, const FrameRequest* delivering)
{
    bool delivered = false;
    const auto wanted = [&](const media::DecodedPictureOrigin& origin) {
        const std::optional<std::int64_t> label = labelOf(origin);
        if (label) {
            lastOutput_ = label;
        }
        const bool target = delivering != nullptr && label == delivering->displayIndex;
        const bool copied =
            label && (target || (*label >= window.first && *label <= window.last && !isCached(*label)));
        notePictureDecoded(copied);
        return copied;
    };
    const auto take = [&](const media::DecodedPictureOrigin& origin, media::FFmpegDecodedPicture picture) {
        picture.frame.index = *labelOf(origin);
        auto frame = std::make_shared<const domain::VideoFrame>(std::move(picture.frame));
        frameBytes_ = VideoFrameCache::frameBytes(*frame);
        frameCache_->insert(frame);
        if (delivering != nullptr && frame->index == delivering->pictureId) {
            delivered = true;
            emit frameReady(delivering->requestId, delivering->pictureId, std::move(frame));
        }
    };
    const auto done = [&] { return superseded() || (lastOutput_ && *lastOutput_ >= last); };
    auto outcome = reader_->decodeOn(wanted, take, done);
    if (!outcome.ok()) {
        reader_.reset();
        fail(delivering, QString::fromStdString(outcome.error().detail));
        return false;
    }
    atEnd_ = outcome.value() == media::FFmpegFrameReader::Outcome::EndOfStream;
    if (delivering != nullptr) {
        if (!delivered) {
            fail(delivering, QString::fromLatin1(kNotFoundReason).arg(delivering->displayIndex));
        }
        return delivered;
    }
    return lastOutput_ && *lastOutput_ >= last;
}

bool FfmpegFrameDecodeWorker::positionFor(std::int64_t displayIndex, StreamStart streamStart)
{
    lastError_.clear();
    if (!reader_ && !openReader()) {
        return false;
    }
    if (index_) {
        if (const std::optional<media::RandomAccessStart> start = index_->startFor(displayIndex)) {
            if (canGoOnTo(displayIndex, *start) || startAt(*start)) {
                return true;
            }
        }
    }
    // Without a way in, the stream is decoded from its first packet.
    if (reader_ && reader_->readsFromStreamStart() && !atEnd_ && (!lastOutput_ || *lastOutput_ < displayIndex)) {
        if (!lastOutput_ && !reader_->latestPacketSliceOffset()) {
            noteStreamStart();
        }
        return true;
    }
    if (streamStart != StreamStart::Allowed || !openReader()) {
        return false;
    }
    noteStreamStart();
    return true;
}

bool FfmpegFrameDecodeWorker::canGoOnTo(std::int64_t displayIndex, const media::RandomAccessStart& start) const
{
    if (!reader_ || atEnd_ || (lastOutput_ && *lastOutput_ >= displayIndex) || sessionStart_ > start.decodePosition) {
        return false;
    }
    // Only a decoder that has reached the start goes on; one still before it seeks there.
    const std::optional<std::uint64_t> latest = reader_->latestPacketSliceOffset();
    const std::optional<std::size_t> reached = latest ? index_->decodePositionAt(*latest) : std::optional(sessionStart_);
    return reached && *reached >= start.decodePosition;
}

bool FfmpegFrameDecodeWorker::startAt(const media::RandomAccessStart& start)
{
    if (const std::optional<media::FFmpegError> refused = reader_->startAt(start)) {
        lastError_ = QString::fromStdString(refused->detail);
        return false;
    }
    sessionStart_ = start.decodePosition;
    lastOutput_.reset();
    atEnd_ = false;
    const std::lock_guard lock(mutex_);
    ++counts_.randomAccessStarts;
    counts_.recentStarts.push_back({start.picture.displayIndex, start.picture.nalUnitType});
    if (counts_.recentStarts.size() > kListedStarts) {
        counts_.recentStarts.erase(counts_.recentStarts.begin());
    }
    return true;
}

bool FfmpegFrameDecodeWorker::openReader()
{
    reader_.reset();
    auto opened = media::FFmpegFrameReader::open(sourcePath_);
    if (!opened.ok()) {
        lastError_ = QString::fromStdString(opened.error().detail);
        return false;
    }
    reader_ = std::make_unique<media::FFmpegFrameReader>(std::move(opened).value());
    sessionStart_ = 0;
    lastOutput_.reset();
    atEnd_ = false;
    return true;
}

void FfmpegFrameDecodeWorker::noteStreamStart()
{
    const std::lock_guard lock(mutex_);
    ++counts_.streamStarts;
}

std::optional<std::int64_t> FfmpegFrameDecodeWorker::labelOf(const media::DecodedPictureOrigin& origin) const
{
    if (reader_->readsFromStreamStart()) {
        return static_cast<std::int64_t>(origin.outputOrdinal);
    }
    if (!index_ || !origin.firstSliceOffset) {
        return std::nullopt;
    }
    return index_->displayIndexOf(*origin.firstSliceOffset);
}

FfmpegFrameDecodeWorker::Window FfmpegFrameDecodeWorker::windowAround(const FrameRequest& request)
{
    if (frameBytes_ == 0) {
        if (const VideoFramePtr shown = frameCache_->find(request.pictureId)) {
            frameBytes_ = VideoFrameCache::frameBytes(*shown);
        }
    }
    std::uint64_t bytes = frameBytes_;
    if (bytes == 0 && reader_) {
        const domain::StreamInfo& info = reader_->streamInfo();
        const std::uint64_t bytesPerSample = info.bitDepth > kBitsPerByte ? 2 : 1;
        bytes = static_cast<std::uint64_t>(std::max(info.width, 1)) * static_cast<std::uint64_t>(std::max(info.height, 1)) *
                bytesPerSample * kPlanesOfAFullChromaFrame;
    }
    // Both sides and the selected picture fit in the cache, with one frame to spare.
    const std::uint64_t frames = bytes == 0 ? 0 : frameCache_->budgetBytes() / bytes;
    const std::int64_t ahead =
        frames < 3 ? 0 : std::min(kMostReadAhead, static_cast<std::int64_t>((frames - 2) / 2));
    return Window{std::max<std::int64_t>(request.displayIndex - ahead, 0), request.displayIndex + ahead, ahead};
}

bool FfmpegFrameDecodeWorker::exists(std::int64_t displayIndex) const
{
    // Without an index the stream's end is found by decoding to it.
    return !index_ || index_->decodePositionOf(displayIndex).has_value();
}

bool FfmpegFrameDecodeWorker::isCached(std::int64_t displayIndex) const
{
    return frameCache_->find(displayIndex) != nullptr;
}

bool FfmpegFrameDecodeWorker::superseded() const
{
    return generation_.load() != servedGeneration_;
}

void FfmpegFrameDecodeWorker::notePictureDecoded(bool copied)
{
    const std::lock_guard lock(mutex_);
    ++counts_.picturesDecoded;
    counts_.picturesCopied += copied ? 1U : 0U;
}

void FfmpegFrameDecodeWorker::fail(const FrameRequest* delivering, const QString& reason)
{
    // A request that a newer one replaced, or one that only read ahead, has no one to tell.
    if (delivering != nullptr && !superseded()) {
        emit unavailable(delivering->requestId, delivering->pictureId, reason);
    }
}

}  // namespace vexilo::application
