#pragma once

// Document-level helpers: serialise or read with a readable failure, and a root table
// written by hand, field by field, as a foreign or damaged writer would.

#include "vexilo/analysis/AnalysisCodec.h"
#include "vexilo/analysis/fb/analysis_document_generated.h"

#include <flatbuffers/flatbuffers.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vexilo::analysis::codec_test {

inline constexpr StableId kHandWrittenDocumentId{0xd0c, 1};
inline const std::string kHandWrittenFingerprint = "sha256:" + std::string(64, 'b');

inline std::vector<std::uint8_t> serializeOrFail(const StreamAnalysis& analysis)
{
    auto result = serializeStreamAnalysis(analysis);
    if (const auto* error = std::get_if<AnalysisReadError>(&result)) {
        ADD_FAILURE() << "serialise failed: " << error->message << " "
                      << (error->issues.empty() ? "" : formatValidationIssues(error->issues));
        return {};
    }
    return std::get<std::vector<std::uint8_t>>(std::move(result));
}

inline StreamAnalysis readOrFail(std::span<const std::uint8_t> bytes)
{
    auto result = readStreamAnalysis(bytes);
    if (const auto* error = std::get_if<AnalysisReadError>(&result)) {
        ADD_FAILURE() << "read failed: " << error->message << " "
                      << (error->issues.empty() ? "" : formatValidationIssues(error->issues));
        return {};
    }
    return std::get<StreamAnalysis>(std::move(result));
}

inline void expectReadError(const AnalysisReadResult& result, AnalysisReadStatus status, std::string_view message)
{
    const auto* error = std::get_if<AnalysisReadError>(&result);
    ASSERT_NE(error, nullptr) << "expected: " << message;
    EXPECT_EQ(error->status, status);
    EXPECT_EQ(error->message, message);
    if (status != AnalysisReadStatus::ValidationFailed) {
        EXPECT_TRUE(error->issues.empty());
    }
}

// A root table with a valid id and fingerprint and whatever else a test asks for;
// collections are built by the test in builder() before finish().
class HandWrittenRoot {
public:
    flatbuffers::FlatBufferBuilder& builder() { return builder_; }

    HandWrittenRoot& withoutHeader()
    {
        header_ = false;
        return *this;
    }
    // Versions are stored explicitly when given, even when they equal the default.
    HandWrittenRoot& versions(std::optional<std::uint32_t> schemaVersion,
                              std::optional<std::uint32_t> minimumReaderVersion)
    {
        schemaVersion_ = schemaVersion;
        minimumReaderVersion_ = minimumReaderVersion;
        return *this;
    }
    HandWrittenRoot& width(std::uint32_t value)
    {
        width_ = value;
        return *this;
    }
    HandWrittenRoot& collection(flatbuffers::voffset_t slot, flatbuffers::uoffset_t vector)
    {
        collections_.emplace_back(slot, vector);
        return *this;
    }

    std::vector<std::uint8_t> finish()
    {
        flatbuffers::uoffset_t header = 0;
        if (header_) {
            const auto start = builder_.StartTable();
            if (schemaVersion_) {
                builder_.AddElement<std::uint32_t>(fb::SchemaHeaderTable::VT_SCHEMAVERSION, *schemaVersion_);
            }
            if (minimumReaderVersion_) {
                builder_.AddElement<std::uint32_t>(fb::SchemaHeaderTable::VT_MINIMUMREADERVERSION,
                                                   *minimumReaderVersion_);
            }
            header = builder_.EndTable(start);
        }
        const auto fingerprint = builder_.CreateString(kHandWrittenFingerprint);
        const auto start = builder_.StartTable();
        const fb::StableId id(kHandWrittenDocumentId.high, kHandWrittenDocumentId.low);
        builder_.AddStruct(fb::AnalysisDocumentTable::VT_ID, &id);
        if (header_) {
            builder_.AddOffset(fb::AnalysisDocumentTable::VT_HEADER, flatbuffers::Offset<void>(header));
        }
        builder_.AddOffset(fb::AnalysisDocumentTable::VT_SOURCEFINGERPRINT, fingerprint);
        for (const auto& [slot, vector] : collections_) {
            builder_.AddOffset(slot, flatbuffers::Offset<void>(vector));
        }
        if (width_) {
            builder_.AddElement<std::uint32_t>(fb::AnalysisDocumentTable::VT_WIDTH, *width_);
        }
        builder_.Finish(flatbuffers::Offset<fb::AnalysisDocumentTable>(builder_.EndTable(start)),
                        fb::AnalysisDocumentTableIdentifier());
        return {builder_.GetBufferPointer(), builder_.GetBufferPointer() + builder_.GetSize()};
    }

private:
    flatbuffers::FlatBufferBuilder builder_{1024};
    bool header_ = true;
    std::optional<std::uint32_t> schemaVersion_;
    std::optional<std::uint32_t> minimumReaderVersion_;
    std::optional<std::uint32_t> width_;
    std::vector<std::pair<flatbuffers::voffset_t, flatbuffers::uoffset_t>> collections_;
};

// The smallest document that passes validation: identity and fingerprint only.
inline StreamAnalysis minimalDocument()
{
    StreamAnalysis analysis;
    analysis.id = kHandWrittenDocumentId;
    analysis.sourceFingerprint = kHandWrittenFingerprint;
    return analysis;
}

// Hostile shapes the serialiser never writes: many vector entries aimed at one table.

// A vector of `references` entries that all point at one empty table, after `padding`
// unreferenced bytes that give the buffer bytes of its own.
template <typename Table>
flatbuffers::Offset<flatbuffers::Vector<flatbuffers::Offset<Table>>> entriesAimedAtOneTable(
    flatbuffers::FlatBufferBuilder& builder, std::uint32_t references, std::size_t padding)
{
    builder.CreateVector(std::vector<std::uint8_t>(padding, 0));
    const flatbuffers::Offset<Table> shared(builder.EndTable(builder.StartTable()));
    return builder.CreateVector(std::vector<flatbuffers::Offset<Table>>(references, shared));
}

// A root whose one parameter set lists `references` layer sets that are all one table: the
// verifier counts a table once per visit, so a small buffer reaches any count.
inline std::vector<std::uint8_t> sharedLayerSetBuffer(std::uint32_t references, std::size_t padding = 0)
{
    HandWrittenRoot root;
    auto& builder = root.builder();
    const auto layerSets = entriesAimedAtOneTable<fb::VpsLayerSetTable>(builder, references, padding);
    const auto start = builder.StartTable();
    builder.AddOffset(fb::ParameterSetTable::VT_VPSLAYERSETS, layerSets);
    const flatbuffers::Offset<fb::ParameterSetTable> parameterSet(builder.EndTable(start));
    return root.collection(fb::AnalysisDocumentTable::VT_PARAMETERSETS, builder.CreateVector(&parameterSet, 1).o)
        .finish();
}

// A root whose parameter-set collection is `references` entries of one parameter set.
inline std::vector<std::uint8_t> sharedParameterSetBuffer(std::uint32_t references, std::size_t padding = 0)
{
    HandWrittenRoot root;
    const auto parameterSets =
        entriesAimedAtOneTable<fb::ParameterSetTable>(root.builder(), references, padding);
    return root.collection(fb::AnalysisDocumentTable::VT_PARAMETERSETS, parameterSets.o).finish();
}

}  // namespace vexilo::analysis::codec_test
