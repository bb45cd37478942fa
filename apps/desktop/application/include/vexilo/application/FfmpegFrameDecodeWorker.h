#pragma once

#include "vexilo/application/ApplicationTypes.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <filesystem>
#include <memory>

namespace vexilo::application {

// Decodes one picture on demand on its own thread: the stream from its start up to the picture
// with the wanted display index, stopping there or when its cancel flag is set.
class FfmpegFrameDecodeWorker : public QObject {
    Q_OBJECT

public:
    FfmpegFrameDecodeWorker(std::uint64_t requestId, std::filesystem::path sourcePath, domain::PictureId pictureId,
                            std::uint64_t displayIndex, std::shared_ptr<std::atomic<bool>> cancelFlag);

signals:
    void frameReady(qulonglong taskId, vexilo::domain::PictureId pictureId, vexilo::application::VideoFramePtr frame);
    void unavailable(qulonglong taskId, vexilo::domain::PictureId pictureId, QString reason);
    void finished(qulonglong taskId);

public slots:
    void run();

private:
    void decode();
    [[nodiscard]] bool canceled() const;

    const std::uint64_t requestId_;
    const std::filesystem::path sourcePath_;
    const domain::PictureId pictureId_;
    const std::uint64_t displayIndex_;
    const std::shared_ptr<std::atomic<bool>> cancelFlag_;
};

}  // namespace vexilo::application
