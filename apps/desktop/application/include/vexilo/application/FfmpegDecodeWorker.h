#pragma once

#include "vexilo/application/ApplicationTypes.h"
#include "vexilo/application/DecodeTaskSharedState.h"
#include "vexilo/application/ProjectTypes.h"
#include "vexilo/application/VideoFrameCache.h"
#include "vexilo/media/RandomAccessIndexRecorder.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

namespace vexilo::media {
struct FFmpegDecodedPicture;
struct FFmpegDecodeSummary;
}  // namespace vexilo::media

namespace vexilo::application {

// Decodes one whole stream in process on its own thread: probes it, reports pictures in
// batches with a thumbnail each, fills the frame cache (when given one), records the stream's random-access
// pictures (reported as they grow, and whole at the end) and ends with exactly one terminal
// signal after writing the terminal record.
class FfmpegDecodeWorker : public QObject {
    Q_OBJECT

public:
    FfmpegDecodeWorker(std::uint64_t taskId, std::filesystem::path sourcePath,
                       std::shared_ptr<DecodeTaskSharedState> taskShared, std::shared_ptr<VideoFrameCache> frameCache,
                       std::chrono::milliseconds batchInterval = kDefaultDecodeBatchInterval);

signals:
    void started(qulonglong taskId, QString sourcePath);
    void progress(qulonglong taskId, vexilo::application::ProjectTaskProgress progress);
    void streamProbed(qulonglong taskId, vexilo::domain::StreamInfo streamInfo);
    void picturesReady(qulonglong taskId, vexilo::application::PictureInfoBatch pictures);
    void pictureThumbnailReady(qulonglong taskId, vexilo::application::PictureThumbnail thumbnail);
    void randomAccessIndexRecorded(qulonglong taskId, std::shared_ptr<const vexilo::media::RandomAccessIndex> index);
    void finished(qulonglong taskId);
    void error(qulonglong taskId);
    void canceled(qulonglong taskId);

public slots:
    void run();

private:
    void decode();
    void acceptPicture(media::FFmpegDecodedPicture picture);
    void flushBatch();
    // Shares what the recorder holds each time it has doubled, so that copying it costs little
    // beside the decode however long the stream.
    void shareRandomAccessIndex(bool whole);
    [[nodiscard]] bool cancelRequested() const;
    void finishCanceled(const ProjectTaskSummary& summary);
    void finishWithError(const ProjectTaskError& taskError);
    void finishWithException(const QString& detail);

    const std::uint64_t taskId_;
    const std::filesystem::path sourcePath_;
    const std::shared_ptr<DecodeTaskSharedState> taskShared_;
    const std::shared_ptr<VideoFrameCache> frameCache_;
    const std::chrono::milliseconds batchInterval_;

    std::optional<media::RandomAccessIndexRecorder> recorder_;
    std::size_t nextSharedIndexSize_ = 0;
    PictureInfoBatch batch_;
    std::uint64_t decodedPictures_ = 0;
    QElapsedTimer batchTimer_;
};

[[nodiscard]] ProjectTaskSummary makeProjectTaskSummary(const media::FFmpegDecodeSummary& summary);

}  // namespace vexilo::application
