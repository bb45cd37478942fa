// What the ffmpeg program itself makes of a stream, for expectations taken from outside our
// code: the first value its header trace (the trace_headers bitstream filter, which reads
// parameter sets that FFmpeg's decoder refuses) prints for a syntax element, and the messages
// its decoder logs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace vexilo::hevc::test {

std::optional<std::int64_t> ffmpegTracedValue(const std::filesystem::path& stream, const std::string& element);

// Everything ffmpeg logs at level "error" while decoding the stream to nothing.
std::string ffmpegDecodeLog(const std::filesystem::path& stream);

} // namespace vexilo::hevc::test
