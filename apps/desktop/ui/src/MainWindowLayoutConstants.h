#pragma once

// Sizes and texts that the window's construction and its layout code both use.
namespace vexilo::layout {

inline constexpr int kTimelinePanelHeight = 156;
inline constexpr int kViewerPanelHeight = 520;
inline constexpr int kSideBySideWidth = 640;
inline constexpr const char* kNoProjectText = "No project opened";

}  // namespace vexilo::layout
