#pragma once

#include "vexilo/application/AnalysisTaskTypes.h"
#include "vexilo/domain/PictureInfo.h"

// The analysis commands of the project controller, called where the controller offers them.
// The controller gains its analysis road separately from the window; until it has a command, the
// command does nothing and every picture reads as not analysed, which is what a controller without
// an analysis service reports anyway.
namespace vexilo::flow {

template <typename Controller>
application::PictureAnalysisStatus pictureAnalysisStatusOf(const Controller& controller, domain::PictureId pictureId)
{
    if constexpr (requires { controller.pictureAnalysisStatus(pictureId); }) {
        return static_cast<application::PictureAnalysisStatus>(controller.pictureAnalysisStatus(pictureId));
    } else {
        return application::PictureAnalysisStatus::None;
    }
}

template <typename Controller>
void analyzeStreamOf(Controller& controller)
{
    if constexpr (requires { controller.analyzeStream(); }) {
        controller.analyzeStream();
    }
}

template <typename Controller>
void reanalyzeStreamOf(Controller& controller)
{
    if constexpr (requires { controller.reanalyzeStream(); }) {
        controller.reanalyzeStream();
    }
}

template <typename Controller>
void analyzeCurrentPictureStructureOf(Controller& controller)
{
    if constexpr (requires { controller.analyzeCurrentPictureStructure(); }) {
        controller.analyzeCurrentPictureStructure();
    }
}

template <typename Controller>
void cancelAnalysisOf(Controller& controller)
{
    if constexpr (requires { controller.cancelAnalysis(); }) {
        controller.cancelAnalysis();
    }
}

template <typename Controller>
void clearAnalysisCacheOf(Controller& controller)
{
    if constexpr (requires { controller.clearAnalysisCache(); }) {
        controller.clearAnalysisCache();
    }
}

}  // namespace vexilo::flow
