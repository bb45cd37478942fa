#pragma once

#include "vexilo/analysis/StreamAnalysis.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

struct AVCodecContext;

namespace vexilo::analyzer {

class ObserverEventCollector;

// A builder failure; the document is discarded. ffmpegCode is always 0 here.
struct StreamAnalysisBuildError {
    std::string code;
    std::string message;
    std::string detail;
    int ffmpegCode = 0;
};

using StreamAnalysisBuildResult = std::variant<analysis::StreamAnalysis, StreamAnalysisBuildError>;

// What the builder takes from the decoder context once decoding is over.
struct DecoderContextInfo {
    // Coded picture size in luma samples, before any conformance-window cropping.
    int width = 0;
    int height = 0;
    int profile = 0;
    // Luma component depth of the context's pixel format; 0 when it has none.
    int lumaBitDepth = 0;
    // The decoder's configuration record (extradata); may be empty.
    std::span<const std::uint8_t> extradata;
};

[[nodiscard]] DecoderContextInfo decoderContextInfo(const AVCodecContext* context);

// Turns the sorted events of a finalised collector into the analysis document.
[[nodiscard]] StreamAnalysisBuildResult buildStreamAnalysis(const std::filesystem::path& inputPath,
                                                            const std::string& sourceFingerprint,
                                                            const AVCodecContext* context,
                                                            const ObserverEventCollector& collector);
[[nodiscard]] StreamAnalysisBuildResult buildStreamAnalysis(const std::filesystem::path& inputPath,
                                                            const std::string& sourceFingerprint,
                                                            const DecoderContextInfo& context,
                                                            const ObserverEventCollector& collector);

// A packet that FFmpeg's decoder rejected as invalid data; decoding went on past it.
struct RejectedPacket {
    // Among the packets of the decoded stream, from 0.
    std::uint64_t packetIndex = 0;
    // In the input file, when the demuxer knows it.
    std::optional<std::int64_t> byteOffset;
    std::uint64_t byteSize = 0;
    int ffmpegCode = 0;
};

// One error record per rejected packet, naming its index, byte offset and FFmpeg code; each
// picture whose slices the packet carried is marked partial, with an issue of its own.
void recordRejectedPackets(analysis::StreamAnalysis& document, std::span<const RejectedPacket> packets);

// The NAL unit record's `kind` for a nal_unit_type.
[[nodiscard]] analysis::NalUnitKind nalUnitCategory(std::uint32_t nalUnitType) noexcept;

}  // namespace vexilo::analyzer
