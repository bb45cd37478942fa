#include "vexilo/analysis/AnalysisCodec.h"

#include "codec/AnalysisBufferVerifier.h"
#include "codec/RecordSlots.h"
#include "codec/ReferenceSlots.h"
#include "WorkBeside.h"
#include "vexilo/analysis/HugePages.h"
#include "vexilo/analysis/fb/analysis_document_generated.h"

#include <flatbuffers/flatbuffers.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <future>
#include <tuple>
#include <utility>
#include <vector>

namespace vexilo::analysis {
namespace {

namespace messages = analysis_read_messages;

using slots::slot;
using slots::stringSlot;
using slots::tableListSlot;

constexpr std::size_t kBuilderInitialBytes = 1024;
constexpr std::uint32_t kHighestReadableMinimumReaderVersion = kAnalysisSchemaVersion;

// The schema header is a table of its own that holds the two version fields of the
// document.
struct SchemaHeaderSlot {
    static constexpr std::size_t alignment = sizeof(flatbuffers::uoffset_t);

    flatbuffers::voffset_t offset;

    flatbuffers::uoffset_t build(flatbuffers::FlatBufferBuilder& builder,
                                 const StreamAnalysis& analysis) const
    {
        return fb::CreateSchemaHeaderTable(builder, analysis.schemaVersion, analysis.minimumReaderVersion).o;
    }
    void decode(const flatbuffers::Table& table, StreamAnalysis& analysis) const
    {
        const auto* header = table.GetPointer<const fb::SchemaHeaderTable*>(offset);
        analysis.schemaVersion = header != nullptr ? header->schemaVersion() : kAnalysisSchemaVersion;
        analysis.minimumReaderVersion =
            header != nullptr ? header->minimumReaderVersion() : kAnalysisSchemaVersion;
    }
};

// The collections of a picture's own records, before its blocks in the encoding order.
constexpr auto recordSlotsBeforeBlocks()
{
    using T = fb::AnalysisDocumentTable;
    using A = StreamAnalysis;
    return std::tuple{
        tableListSlot<fb::NalUnitTable>(&A::nalUnits, T::VT_NALUNITS),
        tableListSlot<fb::ParameterSetTable>(&A::parameterSets, T::VT_PARAMETERSETS),
        tableListSlot<fb::SeiMessageTable>(&A::seiMessages, T::VT_SEIMESSAGES),
        tableListSlot<fb::SliceTable>(&A::slices, T::VT_SLICES),
        tableListSlot<fb::ReferencePictureTable>(&A::referencePictures, T::VT_REFERENCEPICTURES),
        tableListSlot<fb::ShortTermReferenceTable>(&A::shortTermReferencePictures,
                                                   T::VT_SHORTTERMREFERENCEPICTURES),
        tableListSlot<fb::LongTermReferenceTable>(&A::longTermReferencePictures,
                                                  T::VT_LONGTERMREFERENCEPICTURES),
        tableListSlot<fb::DpbSnapshotEntryTable>(&A::dpbSnapshotEntries, T::VT_DPBSNAPSHOTENTRIES),
        tableListSlot<fb::PictureSummaryTable>(&A::pictures, T::VT_PICTURES),
    };
}

constexpr auto blockSlots()
{
    using T = fb::AnalysisDocumentTable;
    using A = StreamAnalysis;
    return std::tuple{
        tableListSlot<fb::CtuTable>(&A::ctus, T::VT_CTUS),
        tableListSlot<fb::CuTable>(&A::cus, T::VT_CUS),
        tableListSlot<fb::PuTable>(&A::pus, T::VT_PUS),
        tableListSlot<fb::TuTable>(&A::tus, T::VT_TUS),
        tableListSlot<fb::MotionVectorTable>(&A::motionVectors, T::VT_MOTIONVECTORS),
    };
}

constexpr auto errorSlots()
{
    return std::tuple{tableListSlot<fb::AnalysisErrorTable>(&StreamAnalysis::errors,
                                                            fb::AnalysisDocumentTable::VT_ERRORS)};
}

// The fifteen collections in the order in which they are encoded and decoded (not
// their slot order).
constexpr auto collectionSlots()
{
    return std::tuple_cat(recordSlotsBeforeBlocks(), blockSlots(), errorSlots());
}

constexpr auto rootFieldSlots()
{
    using T = fb::AnalysisDocumentTable;
    using A = StreamAnalysis;
    return std::tuple{
        SchemaHeaderSlot{T::VT_HEADER},
        stringSlot(&A::sourceFingerprint, T::VT_SOURCEFINGERPRINT),
        slot(&A::id, T::VT_ID),
        slot(&A::compactId, T::VT_COMPACTID),
        slot(&A::profile, T::VT_PROFILE),
        slot(&A::width, T::VT_WIDTH),
        slot(&A::height, T::VT_HEIGHT),
        slot(&A::bitDepth, T::VT_BITDEPTH),
    };
}

constexpr auto documentSlots()
{
    return std::tuple_cat(collectionSlots(), rootFieldSlots());
}

constexpr auto documentSlotsWithoutBlocks()
{
    return std::tuple_cat(recordSlotsBeforeBlocks(), errorSlots(), rootFieldSlots());
}

constexpr auto kBlockSlots = blockSlots();
constexpr auto kSlotsBesideBlocks = documentSlotsWithoutBlocks();

template <typename Slot>
std::future<void> decodeCollectionBeside(const Slot& collection, const flatbuffers::Table& table,
                                         StreamAnalysis& analysis)
{
    return startBeside(collection.elementCount(table) >= kBlocksWorthAThread,
                       [&collection, &table, &analysis] { collection.decode(table, analysis); });
}

// The same document as decodeTable with documentSlots(): every slot fills members of its own.
StreamAnalysis decodeWholeDocument(const fb::AnalysisDocumentTable& document)
{
    const flatbuffers::Table& table = slots::asRawTable(document);
    StreamAnalysis analysis;
    std::vector<std::future<void>> running;
    std::apply(
        [&](const auto&... collection) { (running.push_back(decodeCollectionBeside(collection, table, analysis)), ...); },
        kBlockSlots);
    std::apply([&](const auto&... field) { (field.decode(table, analysis), ...); }, kSlotsBesideBlocks);
    for (std::future<void>& collection : running) {
        collection.get();
    }
    return analysis;
}

AnalysisReadError makeError(AnalysisReadStatus status, std::string_view message,
                            ValidationIssues issues = {})
{
    return AnalysisReadError{status, std::string(message), std::move(issues)};
}

bool isEightByteAligned(const std::uint8_t* data)
{
    return reinterpret_cast<std::uintptr_t>(data) % alignof(std::uint64_t) == 0;
}

// Verified fields are read in place, which needs the buffer to start where its 8-byte
// fields are aligned in memory too; a caller's slice of a larger buffer may not.
class AlignedBytes {
public:
    explicit AlignedBytes(std::span<const std::uint8_t> bytes)
        : view_(bytes)
    {
        if (!isEightByteAligned(bytes.data())) {
            copy_.resize((bytes.size() + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
            std::memcpy(copy_.data(), bytes.data(), bytes.size());
            view_ = std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(copy_.data()),
                                                  bytes.size());
        }
    }
    [[nodiscard]] std::span<const std::uint8_t> view() const { return view_; }

private:
    std::vector<std::uint64_t> copy_;
    std::span<const std::uint8_t> view_;
};

bool schemaVersionReadable(const fb::SchemaHeaderTable& header)
{
    return header.schemaVersion() == kAnalysisSchemaVersion &&
           header.minimumReaderVersion() <= kHighestReadableMinimumReaderVersion;
}

bool anyCollectionExceedsLimit(const fb::AnalysisDocumentTable& document)
{
    const flatbuffers::Table& raw = slots::asRawTable(document);
    return std::apply(
        [&](const auto&... collection) {
            return ((collection.elementCount(raw) > kMaxRecordsPerCollection) || ...);
        },
        collectionSlots());
}

// Strings are copied while decoding; a buffer that points many tables at one string
// would make that copy far larger than the buffer. The serialiser never shares a
// string, so its strings always fit in the buffer together.
bool stringsFitInBuffer(const fb::AnalysisDocumentTable& document, std::size_t bufferBytes)
{
    return slots::sumReferencedStringBytes(document, documentSlots()) <= bufferBytes;
}

// Records are copied once per reference to their table; see
// kMaxDecodedRecordBytesPerBufferByte.
bool recordsFitDecodeBudget(const fb::AnalysisDocumentTable& document, std::size_t bufferBytes)
{
    return slots::sumDecodedRecordBytes(document, collectionSlots()) <=
           std::uint64_t{bufferBytes} * kMaxDecodedRecordBytesPerBufferByte;
}

// A builder that starts small doubles and copies itself a dozen times on the way to a
// large document, and each copy first touches fresh memory; starting at about the
// document's size writes it in one go. The output does not depend on the starting size.
std::size_t builderInitialBytes(const StreamAnalysis& analysis)
{
    const std::uint64_t recordBytes = std::apply(
        [&](const auto&... collection) { return (std::uint64_t{0} + ... + collection.recordBytes(analysis)); },
        collectionSlots());
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(recordBytes, kBuilderInitialBytes, kMaxAnalysisBufferBytes));
}

// The builder's buffer of a large document is written once from end to start; it is
// asked for on huge pages before that, as is the finished copy.
class HugePageBuilderAllocator final : public flatbuffers::Allocator {
public:
    std::uint8_t* allocate(std::size_t size) override
    {
        auto* bytes = new std::uint8_t[size];
        if (size >= kHugePageAdviceThreshold) {
            adviseHugePages(bytes, size);
        }
        return bytes;
    }
    void deallocate(std::uint8_t* bytes, std::size_t) override { delete[] bytes; }
};

std::vector<std::uint8_t> finishedBytes(const flatbuffers::FlatBufferBuilder& builder)
{
    const std::uint8_t* data = builder.GetBufferPointer();
    std::vector<std::uint8_t> bytes;
    reserveOnHugePages(bytes, builder.GetSize());
    bytes.assign(data, data + builder.GetSize());
    return bytes;
}

}  // namespace

AnalysisReadResult readStreamAnalysis(std::span<const std::uint8_t> bytes, AnalysisReadExtent extent)
{
    if (bytes.empty()) {
        return makeError(AnalysisReadStatus::MalformedBuffer, messages::kEmptyBuffer);
    }
    if (bytes.size() > kMaxAnalysisBufferBytes) {
        return makeError(AnalysisReadStatus::ResourceLimit, messages::kBufferTooLarge);
    }
    const AlignedBytes aligned(bytes);
    if (!verifyAnalysisBuffer(aligned.view(), maxVerifiedTablesFor(aligned.view().size()))) {
        return makeError(AnalysisReadStatus::MalformedBuffer, messages::kNotAVexiloBuffer);
    }
    const fb::AnalysisDocumentTable& document = *fb::GetAnalysisDocumentTable(aligned.view().data());
    const fb::SchemaHeaderTable* header = document.header();
    if (header == nullptr) {
        return makeError(AnalysisReadStatus::MalformedBuffer, messages::kMissingSchemaHeader);
    }
    if (!schemaVersionReadable(*header)) {
        return makeError(AnalysisReadStatus::UnreadableSchemaVersion, messages::kUnreadableSchemaVersion);
    }
    if (anyCollectionExceedsLimit(document)) {
        return makeError(AnalysisReadStatus::ResourceLimit, messages::kCollectionTooLarge);
    }
    if (!stringsFitInBuffer(document, aligned.view().size()) ||
        !recordsFitDecodeBudget(document, aligned.view().size())) {
        return makeError(AnalysisReadStatus::MalformedBuffer, messages::kNotAVexiloBuffer);
    }

    StreamAnalysis analysis = extent == AnalysisReadExtent::WithoutBlocks
                                  ? slots::decodeTable<StreamAnalysis>(document, documentSlotsWithoutBlocks())
                                  : decodeWholeDocument(document);
    ValidationIssues issues = validateStreamAnalysis(analysis);
    if (!issues.empty()) {
        return makeError(AnalysisReadStatus::ValidationFailed, messages::kDecodedDocumentInvalid,
                         std::move(issues));
    }
    return analysis;
}

AnalysisSerializeResult serializeStreamAnalysis(const StreamAnalysis& analysis)
{
    ValidationIssues issues = validateStreamAnalysis(analysis);
    if (!issues.empty()) {
        return makeError(AnalysisReadStatus::ValidationFailed, messages::kDocumentInvalid, std::move(issues));
    }
    return serializeValidatedStreamAnalysis(analysis);
}

AnalysisSerializeResult serializeValidatedStreamAnalysis(const StreamAnalysis& analysis)
{
    HugePageBuilderAllocator allocator;
    slots::IndexedVtableBuilder builder(builderInitialBytes(analysis), &allocator);
    const auto root =
        slots::encodeTableWithReferences<fb::AnalysisDocumentTable>(builder, analysis, documentSlots());
    if (slots::encodeBudgetExhausted(builder)) {
        return makeError(AnalysisReadStatus::ResourceLimit, messages::kSerializedTooLarge);
    }
    builder.Finish(root, fb::AnalysisDocumentTableIdentifier());
    if (builder.GetSize() > kMaxAnalysisBufferBytes) {
        return makeError(AnalysisReadStatus::ResourceLimit, messages::kSerializedTooLarge);
    }
    return finishedBytes(builder);
}

}  // namespace vexilo::analysis
