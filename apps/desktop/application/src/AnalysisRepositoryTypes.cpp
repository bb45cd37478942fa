#include "vexilo/application/AnalysisRepositoryTypes.h"

namespace vexilo::application {

void registerAnalysisRepositoryMetaTypes()
{
    qRegisterMetaType<PictureAnalysisPayload>("vexilo::application::PictureAnalysisPayload");
    qRegisterMetaType<AnalysisRepositoryError>("vexilo::application::AnalysisRepositoryError");
    qRegisterMetaType<analysis::CacheManifest>("vexilo::analysis::CacheManifest");
    qRegisterMetaType<analysis::StreamAnalysis>("vexilo::analysis::StreamAnalysis");
}

}  // namespace vexilo::application
