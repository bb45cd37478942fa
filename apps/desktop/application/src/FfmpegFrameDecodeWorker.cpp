#include "vexilo/application/FfmpegFrameDecodeWorker.h"

#include "vexilo/media/FFmpegVideoSource.h"

#include <exception>

namespace vexilo::application {
namespace {

constexpr auto kNotFoundReason = "Decoded display index %1 was not found";
constexpr auto kExceptionReason = "On-demand frame decode failed: %1";
constexpr auto kUnknownExceptionReason = "On-demand frame decode failed with an unknown error";

}  // namespace

FfmpegFrameDecodeWorker::FfmpegFrameDecodeWorker(std::uint64_t requestId, std::filesystem::path sourcePath,
                                                 domain::PictureId pictureId, std::uint64_t displayIndex,
                                                 std::shared_ptr<std::atomic<bool>> cancelFlag)
    : requestId_(requestId),
      sourcePath_(std::move(sourcePath)),
      pictureId_(pictureId),
      displayIndex_(displayIndex),
      cancelFlag_(std::move(cancelFlag))
{
}

void FfmpegFrameDecodeWorker::run()
{
    try {
        decode();
    } catch (const std::exception& exception) {
        emit unavailable(requestId_, pictureId_, QString::fromLatin1(kExceptionReason).arg(QString::fromLocal8Bit(exception.what())));
    } catch (...) {
        emit unavailable(requestId_, pictureId_, QString::fromLatin1(kUnknownExceptionReason));
    }
    emit finished(requestId_);
}

void FfmpegFrameDecodeWorker::decode()
{
    auto source = media::FFmpegVideoSource::open(sourcePath_);
    if (!source.ok()) {
        emit unavailable(requestId_, pictureId_, QString::fromStdString(source.error().detail));
        return;
    }
    VideoFramePtr found;
    auto outcome = source.value().decodeSequentially(
        [this, &found](media::FFmpegDecodedPicture picture) {
            if (found || static_cast<std::uint64_t>(picture.picture.displayIndex) != displayIndex_) {
                return;
            }
            picture.frame.index = pictureId_;
            found = std::make_shared<const domain::VideoFrame>(std::move(picture.frame));
        },
        [this, &found] { return found != nullptr || canceled(); });
    if (canceled()) {
        return;
    }
    if (found) {
        emit frameReady(requestId_, pictureId_, std::move(found));
    } else if (!outcome.ok()) {
        emit unavailable(requestId_, pictureId_, QString::fromStdString(outcome.error().detail));
    } else {
        emit unavailable(requestId_, pictureId_, QString::fromLatin1(kNotFoundReason).arg(displayIndex_));
    }
}

bool FfmpegFrameDecodeWorker::canceled() const
{
    return cancelFlag_->load(std::memory_order_relaxed);
}

}  // namespace vexilo::application
