#pragma once

// Runs the real analyzer worker on a stream over its pipes and reads back the cache it
// writes, so that models are tested on documents exactly as the desktop receives them.

#include "vexilo/analysis/StreamAnalysis.h"

#include <filesystem>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace vexilo::test {

struct AnalyzedStream {
    std::shared_ptr<const analysis::StreamAnalysis> stream;
    // One document per picture of the manifest, in manifest order, with the manifest's identity.
    std::vector<std::shared_ptr<const analysis::StreamAnalysis>> pictures;
    std::vector<analysis::StableId> pictureIds;
};

// "stream_index", "bounded_structure" (every picture with its blocks), or "picture_structure".
// The cache is written below `workDirectory`.
std::variant<AnalyzedStream, std::string> analyzeWithWorker(const std::filesystem::path& input,
                                                            const std::filesystem::path& workDirectory,
                                                            const char* analysisMode,
                                                            int targetDecodePictureId = 0);

std::filesystem::path generatedStream(const char* name);
std::filesystem::path referenceStream(const char* name);

}  // namespace vexilo::test
