#pragma once

#include <QIcon>

namespace vexilo {

// The zoom actions' icons, drawn as outlines so that they read on light and dark styles alike.
[[nodiscard]] QIcon makeActualSizeIcon();
[[nodiscard]] QIcon makeFitToWindowIcon();
[[nodiscard]] QIcon makeZoomIcon(bool zoomIn);

}  // namespace vexilo
