#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/media/RandomAccessIndex.h"

#include <memory>

namespace vexilo::application {

// The random-access index of a stream, from the NAL units, slices and pictures its analysis
// lists: the same pictures, names and starts as an index that a decode from the stream's start
// records (media::RandomAccessIndexRecorder), without decoding anything.
[[nodiscard]] std::shared_ptr<const media::RandomAccessIndex>
makeRandomAccessIndex(const analysis::StreamAnalysis& stream);

}  // namespace vexilo::application
