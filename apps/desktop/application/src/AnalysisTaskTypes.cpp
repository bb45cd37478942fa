#include "vexilo/application/AnalysisTaskTypes.h"

#include "vexilo/application/AnalysisRepositoryTypes.h"

namespace vexilo::application {

void registerAnalysisTaskMetaTypes()
{
    registerAnalysisRepositoryMetaTypes();
    qRegisterMetaType<PictureAnalysisStatus>("vexilo::application::PictureAnalysisStatus");
    qRegisterMetaType<PictureAnalysisState>("vexilo::application::PictureAnalysisState");
    qRegisterMetaType<AnalysisTaskError>("vexilo::application::AnalysisTaskError");
}

}  // namespace vexilo::application
