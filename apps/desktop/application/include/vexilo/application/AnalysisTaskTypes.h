#pragma once

#include "vexilo/application/AnalyzerWorkerTypes.h"
#include "vexilo/domain/PictureInfo.h"

#include <QMetaType>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <optional>

namespace vexilo::application {

struct AnalysisTaskServiceOptions {
    AnalyzerWorkerClientOptions worker;  // handed to the worker client unchanged
    // Empty: the per-user cache location.
    std::filesystem::path cacheRoot;
};

enum class PictureAnalysisStatus : std::int32_t {
    None = 0,
    Pending = 1,
    IndexReady = 2,
    Failed = 3,
};

struct PictureAnalysisState {
    domain::PictureId pictureId = 0;
    PictureAnalysisStatus status = PictureAnalysisStatus::None;
    QString message;
    std::uint64_t generation = 0;
};

struct AnalysisTaskError {
    QString code;
    QString message;
    QString detail;
    std::optional<domain::PictureId> pictureId;
    bool recoverable = true;
};

// The packets the worker's last finished run went through: read from the container (every
// stream) and given to the decoder.
struct AnalyzerPacketCounts {
    std::uint64_t read = 0;
    std::uint64_t sent = 0;
};

void registerAnalysisTaskMetaTypes();

}  // namespace vexilo::application

Q_DECLARE_METATYPE(vexilo::application::PictureAnalysisStatus)
Q_DECLARE_METATYPE(vexilo::application::PictureAnalysisState)
Q_DECLARE_METATYPE(vexilo::application::AnalysisTaskError)
