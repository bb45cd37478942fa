#include "vexilo/application/FfmpegDecodeWorker.h"

#include "vexilo/application/PictureThumbnailMaker.h"
#include "vexilo/media/FFmpegVideoSource.h"
#include "vexilo/media/PathText.h"

#include <algorithm>
#include <exception>

namespace vexilo::application {
namespace {

constexpr std::size_t kBatchCapacity = 32;
constexpr std::size_t kFirstSharedIndexSize = 64;

constexpr auto kTaskExceptionCode = "task_exception";
constexpr auto kTaskExceptionSource = "FFmpegTask";
constexpr auto kTaskExceptionMessage = "The HEVC background task failed";
constexpr auto kUnknownExceptionDetail = "Unknown exception";

}  // namespace

ProjectTaskSummary makeProjectTaskSummary(const media::FFmpegDecodeSummary& summary)
{
    return {summary.packetsRead, summary.packetsSent, summary.picturesDecoded, summary.picturesDrained};
}

FfmpegDecodeWorker::FfmpegDecodeWorker(std::uint64_t taskId, std::filesystem::path sourcePath,
                                       std::shared_ptr<DecodeTaskSharedState> taskShared,
                                       std::shared_ptr<VideoFrameCache> frameCache,
                                       std::chrono::milliseconds batchInterval)
    : taskId_(taskId),
      sourcePath_(std::move(sourcePath)),
      taskShared_(std::move(taskShared)),
      frameCache_(std::move(frameCache)),
      batchInterval_(batchInterval)
{
}

void FfmpegDecodeWorker::run()
{
    try {
        decode();
    } catch (const std::exception& exception) {
        finishWithException(QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        finishWithException(QString::fromLatin1(kUnknownExceptionDetail));
    }
}

void FfmpegDecodeWorker::decode()
{
    emit started(taskId_, media::pathToQString(sourcePath_));
    if (cancelRequested()) {
        finishCanceled({});
        return;
    }
    emit progress(taskId_, {kProgressStageProbing, 0});
    auto source = media::FFmpegVideoSource::open(sourcePath_);
    if (cancelRequested()) {
        finishCanceled({});
        return;
    }
    if (!source.ok()) {
        finishWithError(makeFfmpegTaskError(source.error()));
        return;
    }
    emit streamProbed(taskId_, source.value().streamInfo());
    emit progress(taskId_, {kProgressStageDecoding, 0});
    batch_.clear();
    batch_.reserve(kBatchCapacity);
    decodedPictures_ = 0;
    batchTimer_.start();
    recorder_.emplace(source.value().nalFraming());
    nextSharedIndexSize_ = kFirstSharedIndexSize;
    auto outcome = source.value().decodeSequentially(
        [this](media::FFmpegDecodedPicture picture) { acceptPicture(std::move(picture)); },
        [this] { return cancelRequested(); },
        [this](std::int64_t decodeIndex, std::span<const std::uint8_t> data, std::int64_t position) {
            recorder_->notePacket(decodeIndex, data, position);
        });
    flushBatch();
    if (outcome.ok() && !outcome.value().canceled) {
        shareRandomAccessIndex(true);
    }
    if (!outcome.ok()) {
        if (cancelRequested()) {
            finishCanceled({});
        } else {
            finishWithError(makeFfmpegTaskError(outcome.error()));
        }
        return;
    }
    const ProjectTaskSummary summary = makeProjectTaskSummary(outcome.value());
    if (outcome.value().canceled || cancelRequested()) {
        finishCanceled(summary);
        return;
    }
    taskShared_->writeTerminal(DecodeTerminalKind::Finished, summary, {});
    emit finished(taskId_);
}

void FfmpegDecodeWorker::acceptPicture(media::FFmpegDecodedPicture picture)
{
    ++decodedPictures_;
    if (picture.picture.decodeIndex) {
        recorder_->notePictureOutput(*picture.picture.decodeIndex, picture.picture.displayIndex);
    }
    PictureThumbnail thumbnail =
        makePictureThumbnail(picture.frame, static_cast<std::uint64_t>(picture.picture.displayIndex));
    if (!thumbnail.rgba.empty()) {
        emit pictureThumbnailReady(taskId_, std::move(thumbnail));
    }
    if (frameCache_) {
        frameCache_->insert(std::make_shared<const domain::VideoFrame>(std::move(picture.frame)));
    }
    batch_.push_back(std::move(picture.picture));
    if (decodedPictures_ == 1 || batch_.size() >= kBatchCapacity || batchTimer_.elapsed() >= batchInterval_.count()) {
        flushBatch();
    }
}

void FfmpegDecodeWorker::flushBatch()
{
    if (batch_.empty()) {
        return;
    }
    PictureInfoBatch ready = std::move(batch_);
    batch_ = {};
    batch_.reserve(kBatchCapacity);
    emit picturesReady(taskId_, std::move(ready));
    batchTimer_.restart();
    emit progress(taskId_, {kProgressStageDecoding, decodedPictures_});
    shareRandomAccessIndex(false);
}

void FfmpegDecodeWorker::shareRandomAccessIndex(bool whole)
{
    if (!recorder_ || (!whole && recorder_->index().size() < nextSharedIndexSize_)) {
        return;
    }
    nextSharedIndexSize_ = 2 * std::max(recorder_->index().size(), kFirstSharedIndexSize);
    emit randomAccessIndexRecorded(taskId_, recorder_->snapshot());
}

bool FfmpegDecodeWorker::cancelRequested() const
{
    return taskShared_->cancelRequested.load(std::memory_order_relaxed);
}

void FfmpegDecodeWorker::finishCanceled(const ProjectTaskSummary& summary)
{
    taskShared_->writeTerminal(DecodeTerminalKind::Canceled, summary, {});
    emit canceled(taskId_);
}

void FfmpegDecodeWorker::finishWithError(const ProjectTaskError& taskError)
{
    taskShared_->writeTerminal(DecodeTerminalKind::Error, {}, taskError);
    emit error(taskId_);
}

void FfmpegDecodeWorker::finishWithException(const QString& detail)
{
    ProjectTaskError taskError;
    taskError.code = QString::fromLatin1(kTaskExceptionCode);
    taskError.source = QString::fromLatin1(kTaskExceptionSource);
    taskError.message = QString::fromLatin1(kTaskExceptionMessage);
    taskError.detail = detail;
    taskError.path = media::pathToQString(sourcePath_);
    finishWithError(taskError);
}

}  // namespace vexilo::application
