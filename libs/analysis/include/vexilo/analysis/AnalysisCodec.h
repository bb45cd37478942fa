#pragma once

#include "vexilo/analysis/DomainValidation.h"
#include "vexilo/analysis/StreamAnalysis.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vexilo::analysis {

// Largest "VXSA" buffer read or written; exactly this size is accepted.
inline constexpr std::uint64_t kMaxAnalysisBufferBytes = 536'870'912;  // 512 MiB

// Every table in a buffer the serialiser writes costs at least 8 bytes: its own 4-byte
// vtable offset and the 4-byte offset that refers to it (no table is shared). The
// verifier's table limit is therefore chosen so that any buffer the serialiser can
// accept is verified in full, however densely it is packed with small tables.
inline constexpr std::uint64_t kSmallestTableFootprintBytes = 8;
inline constexpr std::uint32_t kMaxVerifiedTables =
    static_cast<std::uint32_t>(kMaxAnalysisBufferBytes / kSmallestTableFootprintBytes);
inline constexpr std::uint32_t kMaxVerifiedDepth = 64;

// What a buffer may be decoded into. The serialiser never shares a table, so every record
// it writes owns bytes of its own; a hostile buffer can instead point many vector entries
// at one table and have it decoded once per entry. The reader therefore allows at most one
// table visit per 8 buffer bytes (which also bounds verification time), and decoded
// records of at most 16 bytes of memory per buffer byte. The serialiser's densest output,
// nested entries of 8 bytes each, decodes to under 7 bytes per buffer byte; records with
// identities and strings cost their tables far more. Decoded strings are bounded by the
// buffer size on their own.
inline constexpr std::uint64_t kMaxDecodedRecordBytesPerBufferByte = 16;

[[nodiscard]] constexpr std::uint32_t maxVerifiedTablesFor(std::uint64_t bufferBytes)
{
    const std::uint64_t tables = bufferBytes / kSmallestTableFootprintBytes;
    return tables < kMaxVerifiedTables ? static_cast<std::uint32_t>(tables) : kMaxVerifiedTables;
}

inline constexpr std::string_view kAnalysisFileIdentifier = "VXSA";

enum class AnalysisReadStatus : std::uint32_t {
    ValidationFailed = 0,
    MalformedBuffer = 1,
    UnreadableSchemaVersion = 2,
    ResourceLimit = 3,
};

namespace analysis_read_messages {
inline constexpr std::string_view kEmptyBuffer = "analysis buffer is empty";
inline constexpr std::string_view kBufferTooLarge = "analysis buffer exceeds the 512 MiB reader limit";
inline constexpr std::string_view kNotAVexiloBuffer =
    "analysis buffer is not a valid Vexilo FlatBuffer (VXSA)";
inline constexpr std::string_view kMissingSchemaHeader = "analysis buffer does not contain a schema header";
inline constexpr std::string_view kUnreadableSchemaVersion =
    "analysis schema version is not readable by the v1 Vexilo reader";
inline constexpr std::string_view kCollectionTooLarge = "analysis object collection exceeds the reader limit";
inline constexpr std::string_view kDecodedDocumentInvalid =
    "decoded analysis document failed domain validation";
inline constexpr std::string_view kDocumentInvalid = "analysis document failed domain validation";
inline constexpr std::string_view kSerializedTooLarge =
    "serialized analysis exceeds the 512 MiB v1 buffer limit";
}  // namespace analysis_read_messages

// The error of both the reader and the serialiser; `issues` is filled only for
// ValidationFailed.
struct AnalysisReadError {
    AnalysisReadStatus status = AnalysisReadStatus::MalformedBuffer;
    std::string message;
    ValidationIssues issues;
};

// Alternative 0 the document, alternative 1 the error.
using AnalysisReadResult = std::variant<StreamAnalysis, AnalysisReadError>;
// Alternative 0 the finished buffer (identifier at bytes 4 to 7, no size prefix).
using AnalysisSerializeResult = std::variant<std::vector<std::uint8_t>, AnalysisReadError>;

// How much of a buffer to decode: all of it, or all but its CTU, CU, PU, TU and motion
// vector records, for readers that show a picture's place in the stream and not its blocks.
enum class AnalysisReadExtent : std::uint8_t { Whole, WithoutBlocks };

// Verifies, decodes and validates a "VXSA" buffer. The bytes are only read during the
// call; the document owns all its data. Never throws for bad input.
[[nodiscard]] AnalysisReadResult readStreamAnalysis(std::span<const std::uint8_t> bytes,
                                                    AnalysisReadExtent extent = AnalysisReadExtent::Whole);

// Validates the document and writes it as a "VXSA" buffer that readStreamAnalysis
// accepts. Never throws for bad content.
[[nodiscard]] AnalysisSerializeResult serializeStreamAnalysis(const StreamAnalysis& analysis);

// The same for a document already known to pass validation (one taken whole from a
// document that was validated): it is not validated again.
[[nodiscard]] AnalysisSerializeResult serializeValidatedStreamAnalysis(const StreamAnalysis& analysis);

}  // namespace vexilo::analysis
