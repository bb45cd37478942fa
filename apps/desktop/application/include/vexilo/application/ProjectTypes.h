#pragma once

#include "vexilo/application/PictureThumbnail.h"
#include "vexilo/domain/StreamInfo.h"
#include "vexilo/media/FFmpegError.h"

#include <QMetaType>
#include <QString>

#include <chrono>
#include <cstdint>

namespace vexilo::application {

enum class ProjectState : std::uint32_t {
    Empty = 0,
    Opening = 1,
    Ready = 2,
    Analyzing = 3,
    Cancelling = 4,
    Closing = 5,
    Error = 6,
};

inline constexpr std::uint32_t kProgressStageProbing = 0;
inline constexpr std::uint32_t kProgressStageDecoding = 1;
// The longest the in-process decode holds decoded pictures back before reporting them.
inline constexpr std::chrono::milliseconds kDefaultDecodeBatchInterval{50};

struct ProjectTaskProgress {
    std::uint32_t stage = kProgressStageProbing;
    std::uint64_t decodedPictures = 0;
    // How many pictures the analyzer-road open goes through, counted ahead from the stream's
    // NAL unit headers; 0 while unknown.
    std::uint64_t expectedPictures = 0;
};

struct ProjectTaskSummary {
    std::uint64_t packetsRead = 0;
    std::uint64_t packetsSent = 0;
    std::uint64_t picturesDecoded = 0;
    std::uint64_t picturesDrained = 0;
};

struct ProjectTaskError {
    QString code;
    QString source;
    QString message;
    QString detail;
    QString path;
    std::int32_t backendCode = 0;
    bool recoverable = false;
};

// The FFmpeg failure of an in-process decode as the project reports it.
[[nodiscard]] ProjectTaskError makeFfmpegTaskError(const media::FFmpegError& error);

// Registers the project records that cross threads in queued signals. Safe to call repeatedly.
void registerProjectMetaTypes();

}  // namespace vexilo::application

Q_DECLARE_METATYPE(vexilo::application::ProjectState)
Q_DECLARE_METATYPE(vexilo::application::ProjectTaskProgress)
Q_DECLARE_METATYPE(vexilo::application::ProjectTaskSummary)
Q_DECLARE_METATYPE(vexilo::application::ProjectTaskError)
Q_DECLARE_METATYPE(vexilo::application::PictureThumbnail)
Q_DECLARE_METATYPE(vexilo::domain::StreamInfo)
