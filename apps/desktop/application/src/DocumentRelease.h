#pragma once

#include "vexilo/analysis/StreamAnalysis.h"

#include <memory>

namespace vexilo::application {

// Freezes a document for sharing. Its memory is given back on a thread of its own: the last
// holder of a picture's document is usually the GUI thread, and a merged picture document
// carries every parameter set of the stream, so freeing it there would cost the GUI thread
// more the longer the stream.
[[nodiscard]] std::shared_ptr<const analysis::StreamAnalysis> shareDocument(analysis::StreamAnalysis document);

}  // namespace vexilo::application
