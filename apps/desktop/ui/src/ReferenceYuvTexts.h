#pragma once

#include "vexilo/domain/ReferenceYuvSource.h"

#include <QString>

#include <cstdint>

namespace vexilo {

// The short layout name the window shows for a reference YUV layout code.
[[nodiscard]] const char* referenceYuvLayoutName(std::uint8_t layout);

// The attached reference as the "Reference YUV" group and the log show it.
[[nodiscard]] QString referenceYuvDescription(const domain::ReferenceYuvSource& source);

}  // namespace vexilo
