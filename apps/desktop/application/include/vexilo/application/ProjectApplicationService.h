#pragma once

#include "vexilo/application/ProjectTypes.h"

#include <filesystem>

namespace vexilo::application {

// What the window needs of any project behind one stream: open, close, cancel and its state.
class ProjectApplicationService {
public:
    virtual ~ProjectApplicationService() = default;
    [[nodiscard]] virtual ProjectState state() const = 0;
    virtual void openProject(const std::filesystem::path& sourcePath) = 0;
    virtual void closeProject() = 0;
    virtual void cancelTask() = 0;

protected:
    ProjectApplicationService() = default;
    ProjectApplicationService(const ProjectApplicationService&) = default;
    ProjectApplicationService& operator=(const ProjectApplicationService&) = default;
};

}  // namespace vexilo::application
