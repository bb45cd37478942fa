#pragma once

#include "pipeline/AnalysisPipeline.h"

#include "vexilo/analysis/StreamAnalysis.h"

#include <QByteArray>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The pieces of an analysis run that need no decoder: input fingerprint, event capacity,
// the mode's event selection and the texts that go into failure details.
namespace vexilo::analyzer {

inline constexpr char kEventCapacityVariable[] = "VEXILO_ANALYZER_MAX_EVENTS";
// Lowers the largest picture document the cache takes, so that tests can reach the path of
// a picture too large for it without streams of hundreds of megabytes.
inline constexpr char kPictureDocumentLimitVariable[] = "VEXILO_ANALYZER_TEST_PICTURE_DOCUMENT_LIMIT";
// Lowers the block budget of "bounded_structure", so that tests reach the pictures beyond it
// with small streams.
inline constexpr char kBlockBudgetVariable[] = "VEXILO_ANALYZER_TEST_BLOCK_BUDGET_BYTES";

// "sha256:" and the digest of the whole file as 64 lowercase hexadecimal digits; empty when
// the file cannot be opened or read through.
[[nodiscard]] std::optional<std::string> sha256FileFingerprint(const std::filesystem::path& path);

// The collector capacity for the variable's text: a positive decimal number capped at the
// collector's maximum, the default for anything else (unset, empty, not a number, 0).
[[nodiscard]] std::uint64_t observerEventCapacity(const QByteArray& variableText);
// The bound on kept block events: the variable's capacity when it is set to one, else none
// (the memory budget alone bounds the blocks).
[[nodiscard]] std::uint64_t blockEventCapacity(const QByteArray& variableText);
[[nodiscard]] std::uint64_t blockEventCapacityFromEnvironment();
// The variable's positive decimal number of bytes; absent for anything else.
[[nodiscard]] std::optional<std::uint64_t> pictureDocumentLimitFromEnvironment();
// The block budget variable's positive decimal number of bytes, held to the default budget;
// the default budget for anything else.
[[nodiscard]] std::uint64_t blockBudgetBytesFromEnvironment(std::uint64_t defaultBudget);

// How many frame threads the decoder gets: one per core this process may run on, within
// what FFmpeg's HEVC decoder gains from; 1 on a single core.
[[nodiscard]] int decoderFrameThreads() noexcept;

// Bit k-1 enables observer event kind k; unknown modes ask for what "stream_index" asks for.
[[nodiscard]] std::uint64_t observerEventMask(AnalysisMode mode) noexcept;
// Only a single-picture analysis tells the collector which picture it is after.
[[nodiscard]] std::uint64_t collectorTargetPicture(AnalysisMode mode, std::uint64_t targetDecodePictureId) noexcept;

// Picture size, coding-tree extent and every SPS size, so that a validation failure shows
// which of them disagree.
[[nodiscard]] std::string describeStream(const analysis::StreamAnalysis& document);

// FFmpeg's text for a result code.
[[nodiscard]] std::string ffmpegErrorText(int code);

// "path=...; ffmpegCode=...[; description=...]"; a negative code without a description of
// its own is described by FFmpeg.
[[nodiscard]] std::string failureDetail(const std::filesystem::path& inputPath, int ffmpegCode,
                                        std::optional<std::string_view> description);

}  // namespace vexilo::analyzer
