#include "cache/PicturesEncodedAhead.h"

#include "WorkBeside.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace vexilo::analysis {
namespace {

// Pictures each encoder may be ahead of the writer: enough that none waits for the writer
// while it writes a file, few enough that the payloads waiting stay a handful.
constexpr std::size_t kPicturesAheadPerEncoder = 2;

}  // namespace

std::size_t pictureEncodersBesideTheWriter(std::size_t pictures)
{
    if (pictures < kPicturesWorthEncodersBeside) {
        return 0;
    }
    return std::min(kMaxPictureEncoders, usableCores() - 1);
}

PicturesEncodedAhead::PicturesEncodedAhead(const PictureDocumentSplit& split, Encode encode, std::size_t encoders)
    : split_(split), encode_(std::move(encode)), window_(encoders * kPicturesAheadPerEncoder),
      encoded_(encoders == 0 ? 0 : split.size())
{
    for (std::size_t started = 0; started < encoders; ++started) {
        try {
            encoders_.emplace_back([this] { encodeWhileWanted(); });
        } catch (const std::system_error&) {
            break;  // the encoders already started do the work
        }
    }
}

PicturesEncodedAhead::~PicturesEncodedAhead()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& encoder : encoders_) {
        encoder.join();
    }
}

std::optional<std::vector<std::uint8_t>> PicturesEncodedAhead::take(std::size_t index)
{
    if (encoders_.empty()) {
        return std::nullopt;
    }
    std::unique_lock lock(mutex_);
    nextToTake_ = index + 1;
    changed_.notify_all();  // the window moved on
    changed_.wait(lock, [&] { return encoded_[index].done; });
    return std::move(encoded_[index].payload);
}

void PicturesEncodedAhead::encodeWhileWanted()
{
    StreamAnalysis document;  // refilled picture after picture, keeping its collections' capacity
    while (const std::optional<std::size_t> index = claimNext()) {
        std::optional<std::vector<std::uint8_t>> payload;
        try {
            // A picture without blocks of its own is the writer's: it may take the earlier run's.
            if (split_.hasBlockStructure(*index)) {
                split_.fill(*index, document);
                payload = encode_(document);
            }
        } catch (...) {
            // Out of memory here leaves the picture to the writer, whose own failure is reported.
            payload.reset();
        }
        publish(*index, std::move(payload));
    }
}

std::optional<std::size_t> PicturesEncodedAhead::claimNext()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || nextToClaim_ < nextToTake_ + window_; });
    if (stopping_ || nextToClaim_ == encoded_.size()) {
        return std::nullopt;
    }
    return nextToClaim_++;
}

void PicturesEncodedAhead::publish(std::size_t index, std::optional<std::vector<std::uint8_t>> payload)
{
    const std::lock_guard lock(mutex_);
    encoded_[index].payload = std::move(payload);
    encoded_[index].done = true;
    changed_.notify_all();
}

}  // namespace vexilo::analysis
