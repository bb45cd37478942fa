#include "vexilo/application/ProjectTypes.h"

#include "vexilo/application/ApplicationMetaTypes.h"
#include "vexilo/media/PathText.h"

namespace vexilo::application {
namespace {

constexpr auto kFfmpegErrorCode = "ffmpeg_error";
constexpr auto kFfmpegErrorSource = "FFmpeg";

}  // namespace

ProjectTaskError makeFfmpegTaskError(const media::FFmpegError& error)
{
    ProjectTaskError taskError;
    taskError.code = QString::fromLatin1(kFfmpegErrorCode);
    taskError.source = QString::fromLatin1(kFfmpegErrorSource);
    taskError.message = QString::fromStdString(error.message);
    taskError.detail = QString::fromStdString(error.detail);
    taskError.path = media::pathToQString(error.path);
    taskError.backendCode = error.code;
    taskError.recoverable = false;
    return taskError;
}

void registerProjectMetaTypes()
{
    registerApplicationMetaTypes();
    qRegisterMetaType<ProjectState>("vexilo::application::ProjectState");
    qRegisterMetaType<ProjectTaskProgress>("vexilo::application::ProjectTaskProgress");
    qRegisterMetaType<ProjectTaskSummary>("vexilo::application::ProjectTaskSummary");
    qRegisterMetaType<ProjectTaskError>("vexilo::application::ProjectTaskError");
    qRegisterMetaType<PictureThumbnail>("vexilo::application::PictureThumbnail");
    qRegisterMetaType<domain::StreamInfo>("vexilo::domain::StreamInfo");
}

}  // namespace vexilo::application
