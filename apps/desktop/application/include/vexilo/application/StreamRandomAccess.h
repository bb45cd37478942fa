#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/media/RandomAccessIndex.h"
#include "vexilo/protocol/StructureStart.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace vexilo::application {

// The random-access index of a stream, from the NAL units, slices and pictures its analysis
// lists: the same pictures, names and starts as an index that a decode from the stream's start
// records (media::RandomAccessIndexRecorder), without decoding anything.
[[nodiscard]] std::shared_ptr<const media::RandomAccessIndex>
makeRandomAccessIndex(const analysis::StreamAnalysis& stream);

// Where the worker's analysis of one picture's structure can take the stream up: the
// random-access picture a decode to it starts at, and what the analysis of the whole stream had
// counted by then. Empty when that start is the stream's own or the analysis does not say enough;
// the worker then decodes from the start.
[[nodiscard]] std::optional<protocol::StructureStart> structureStartFor(const analysis::StreamAnalysis& stream,
                                                                        const media::RandomAccessIndex& index,
                                                                        std::uint64_t decodePictureId);

}  // namespace vexilo::application
