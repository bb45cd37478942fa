#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/domain/PictureInfo.h"
#include "vexilo/domain/VideoFrame.h"

#include <memory>

namespace vexilo::application {

// Decoded frames travel between threads and the frame cache by shared pointer, never copied.
using VideoFramePtr = domain::VideoFramePtr;

// Pictures reach the models in batches, one queued signal per batch.
using PictureInfoBatch = domain::PictureInfoBatch;

// A loaded analysis document is immutable and shared; an absent one is an empty document, never null.
using StreamAnalysisPtr = std::shared_ptr<const analysis::StreamAnalysis>;

}  // namespace vexilo::application
