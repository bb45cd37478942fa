// Arbitrary bytes into the document reader (and through it the validator). Whatever the
// reader accepts must be written again by the serialiser and read back unchanged.

#include "vexilo/analysis/AnalysisCodec.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexilo::analysis;
    const AnalysisReadResult read = readStreamAnalysis(std::span<const std::uint8_t>(data, size));
    const auto* analysis = std::get_if<StreamAnalysis>(&read);
    if (analysis == nullptr) {
        return 0;
    }
    const AnalysisSerializeResult written = serializeStreamAnalysis(*analysis);
    const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&written);
    if (bytes == nullptr) {
        __builtin_trap();
    }
    const AnalysisReadResult reread = readStreamAnalysis(*bytes);
    const auto* again = std::get_if<StreamAnalysis>(&reread);
    if (again == nullptr || !(*again == *analysis)) {
        __builtin_trap();
    }
    return 0;
}
