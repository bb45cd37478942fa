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

void registerAnalysisTaskMetaTypes();

}  // namespace vexilo::application

Q_DECLARE_METATYPE(vexilo::application::PictureAnalysisStatus)
Q_DECLARE_METATYPE(vexilo::application::PictureAnalysisState)
Q_DECLARE_METATYPE(vexilo::application::AnalysisTaskError)
