#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheManifest.h"
#include "vexilo/analysis/cache/PicturePayloadAssembler.h"
#include "vexilo/application/ApplicationTypes.h"
#include "vexilo/domain/PictureInfo.h"

#include <QMetaType>
#include <QString>

#include <cstdint>
#include <optional>

namespace vexilo::application {

// One picture's loaded analysis: its document merged with the stream-level data, its picture
// references already in project picture ids. The document is frozen before it leaves the job
// thread; everyone after that shares it, so a payload is as cheap to pass as a pointer.
struct PictureAnalysisPayload {
    domain::PictureId pictureId = 0;
    StreamAnalysisPtr analysis = std::make_shared<const analysis::StreamAnalysis>();
    std::uint64_t generation = 0;
    // Only a complete payload has what the picture's syntax, tree and inspector views show.
    analysis::PayloadExtent extent = analysis::PayloadExtent::Complete;
};

// A failed cache read or clear, tagged with the generation its job was started with.
struct AnalysisRepositoryError {
    QString code;
    QString message;
    QString detail;
    std::optional<domain::PictureId> pictureId;
    std::uint64_t generation = 0;
};

// Registers the records the repository's and the task service's signals carry.
void registerAnalysisRepositoryMetaTypes();

}  // namespace vexilo::application

Q_DECLARE_METATYPE(vexilo::application::PictureAnalysisPayload)
Q_DECLARE_METATYPE(vexilo::application::AnalysisRepositoryError)
Q_DECLARE_METATYPE(vexilo::analysis::CacheManifest)
Q_DECLARE_METATYPE(vexilo::analysis::StreamAnalysis)
