#pragma once

#include "vexilo/analysis/StreamAnalysis.h"

#include <memory>

namespace vexilo::application {

// Freezes a document for sharing. Its memory is given back on a thread of its own: the last
// holder of a picture's document is usually the GUI thread, and a merged picture document
// carries every parameter set of the stream, so freeing it there would cost the GUI thread
// more the longer the stream.
[[nodiscard]] std::shared_ptr<const analysis::StreamAnalysis> shareDocument(analysis::StreamAnalysis document);

// Once the documents released so far are freed, hands the heap the allocator keeps free back to
// the system. Reading a long stream's pictures frees far more than it keeps, spread over the
// arenas of the threads that read them; without this the program stays that large.
void returnFreedMemoryAfterReleases();

}  // namespace vexilo::application
