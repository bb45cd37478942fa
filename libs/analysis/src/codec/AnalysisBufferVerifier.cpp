#include "codec/AnalysisBufferVerifier.h"

#include "WorkBeside.h"
#include "codec/RecordSlots.h"
#include "vexilo/analysis/fb/analysis_document_generated.h"

#include <flatbuffers/flatbuffers.h>

#include <array>
#include <future>
#include <optional>
#include <tuple>

namespace vexilo::analysis {
namespace {

using Document = fb::AnalysisDocumentTable;
using flatbuffers::Verifier;

// Root offset and file identifier, then at least the root table's vtable offset.
constexpr std::size_t kMinimumBufferBytes = 12;

template <typename Table>
using TableVector = flatbuffers::Vector<flatbuffers::Offset<Table>>;

Verifier::Options verifierOptions(std::uint32_t maxTables)
{
    Verifier::Options options;
    options.max_depth = kMaxVerifiedDepth;
    options.max_tables = maxTables;
    options.check_alignment = true;
    return options;
}

// The root table, once the identifier and the root offset are in bounds; nothing of the table is.
const Document* rootTable(Verifier& verifier, std::span<const std::uint8_t> bytes)
{
    if (!flatbuffers::BufferHasIdentifier(bytes.data(), fb::AnalysisDocumentTableIdentifier())) {
        return nullptr;
    }
    const flatbuffers::uoffset_t offset = verifier.VerifyOffset(0);
    return offset != 0 ? reinterpret_cast<const Document*>(bytes.data() + offset) : nullptr;
}

// A block collection: nearly all of a large document's tables, none of which holds a table.
template <typename Table>
struct BlockCollection {
    flatbuffers::voffset_t field;
    const TableVector<Table>* (Document::*vector)() const;
};

constexpr std::tuple kBlockCollections{
    BlockCollection<fb::CtuTable>{Document::VT_CTUS, &Document::ctus},
    BlockCollection<fb::CuTable>{Document::VT_CUS, &Document::cus},
    BlockCollection<fb::PuTable>{Document::VT_PUS, &Document::pus},
    BlockCollection<fb::TuTable>{Document::VT_TUS, &Document::tus},
    BlockCollection<fb::MotionVectorTable>{Document::VT_MOTIONVECTORS, &Document::motionVectors},
};

// The vector is only looked at once its offset is in bounds, as the generated verifier does.
template <typename Table>
bool vectorInBounds(Verifier& verifier, const Document& document, const BlockCollection<Table>& collection)
{
    return slots::asRawTable(document).VerifyOffset(verifier, collection.field) &&
           verifier.VerifyVector((document.*collection.vector)());
}

bool blockVectorsInBounds(Verifier& verifier, const Document& document)
{
    return std::apply(
        [&](const auto&... collection) { return (vectorInBounds(verifier, document, collection) && ...); },
        kBlockCollections);
}

template <typename Table>
flatbuffers::uoffset_t sizeOf(const TableVector<Table>* vector)
{
    return vector != nullptr ? vector->size() : 0;
}

// Every field of the root table, as the generated verifier checks them, except the block
// collections' tables: only their vectors are checked here.
bool verifyAllButBlockTables(Verifier& verifier, const Document& document)
{
    const flatbuffers::Table& table = slots::asRawTable(document);
    // The vector is read only once its offset is in bounds.
    const auto tablesOf = [&](flatbuffers::voffset_t field, auto vectorOf) {
        return table.VerifyOffset(verifier, field) && verifier.VerifyVector((document.*vectorOf)()) &&
               verifier.VerifyVectorOfTables((document.*vectorOf)());
    };
    return table.VerifyTableStart(verifier) && table.VerifyOffset(verifier, Document::VT_HEADER) &&
           verifier.VerifyTable(document.header()) &&
           table.VerifyField<fb::StableId>(verifier, Document::VT_ID, 8) &&
           table.VerifyField<std::uint64_t>(verifier, Document::VT_COMPACTID, 8) &&
           table.VerifyOffset(verifier, Document::VT_SOURCEFINGERPRINT) &&
           verifier.VerifyString(document.sourceFingerprint()) &&
           table.VerifyField<std::uint8_t>(verifier, Document::VT_PROFILE, 1) &&
           table.VerifyField<std::uint32_t>(verifier, Document::VT_WIDTH, 4) &&
           table.VerifyField<std::uint32_t>(verifier, Document::VT_HEIGHT, 4) &&
           table.VerifyField<std::uint8_t>(verifier, Document::VT_BITDEPTH, 1) &&
           tablesOf(Document::VT_NALUNITS, &Document::nalUnits) &&
           tablesOf(Document::VT_PARAMETERSETS, &Document::parameterSets) &&
           tablesOf(Document::VT_SEIMESSAGES, &Document::seiMessages) &&
           tablesOf(Document::VT_SLICES, &Document::slices) &&
           tablesOf(Document::VT_REFERENCEPICTURES, &Document::referencePictures) &&
           tablesOf(Document::VT_PICTURES, &Document::pictures) && blockVectorsInBounds(verifier, document) &&
           tablesOf(Document::VT_ERRORS, &Document::errors) &&
           tablesOf(Document::VT_SHORTTERMREFERENCEPICTURES, &Document::shortTermReferencePictures) &&
           tablesOf(Document::VT_LONGTERMREFERENCEPICTURES, &Document::longTermReferencePictures) &&
           tablesOf(Document::VT_DPBSNAPSHOTENTRIES, &Document::dpbSnapshotEntries) && verifier.EndTable();
}

// One block collection's tables on a verifier of its own that allows exactly one visit per
// table, as many as the single verifier would have spent on them.
template <typename Table>
std::future<bool> verifyBlockTablesBeside(std::span<const std::uint8_t> bytes, const TableVector<Table>* vector)
{
    return startBeside(sizeOf(vector) >= kBlocksWorthAThread, [bytes, vector] {
        Verifier verifier(bytes.data(), bytes.size(), verifierOptions(sizeOf(vector)));
        return verifier.VerifyVectorOfTables(vector);
    });
}

// The number of block tables, once a probe has found their vectors in bounds.
std::optional<std::uint64_t> blockTableCount(std::span<const std::uint8_t> bytes)
{
    Verifier probe(bytes.data(), bytes.size(), verifierOptions(1));
    const Document* document = rootTable(probe, bytes);
    if (document == nullptr || !slots::asRawTable(*document).VerifyTableStart(probe) ||
        !blockVectorsInBounds(probe, *document)) {
        return std::nullopt;
    }
    return std::apply(
        [&](const auto&... collection) {
            return (std::uint64_t{0} + ... + sizeOf((document->*collection.vector)()));
        },
        kBlockCollections);
}

}  // namespace

// What the generated verifier accepts, with the block collections' tables verified side by
// side once all else has verified. The table visits of all verifiers together are held to
// `maxTables`, as a single verifier's would be: the block tables' share is known from their
// vectors' sizes before anything else is counted.
bool verifyAnalysisBuffer(std::span<const std::uint8_t> bytes, std::uint32_t maxTables)
{
    if (bytes.size() < kMinimumBufferBytes || bytes.size() > kMaxAnalysisBufferBytes) {
        return false;
    }
    const std::optional<std::uint64_t> blockTables = blockTableCount(bytes);
    // The root table's own visit is one more.
    if (!blockTables || *blockTables >= maxTables) {
        return false;
    }
    Verifier verifier(bytes.data(), bytes.size(),
                      verifierOptions(maxTables - static_cast<std::uint32_t>(*blockTables)));
    const Document* document = rootTable(verifier, bytes);
    if (document == nullptr || !verifyAllButBlockTables(verifier, *document)) {
        return false;
    }
    auto running = std::apply(
        [&](const auto&... collection) {
            return std::array{verifyBlockTablesBeside(bytes, (document->*collection.vector)())...};
        },
        kBlockCollections);
    bool verified = true;
    for (std::future<bool>& blockTablesVerified : running) {
        verified = blockTablesVerified.get() && verified;
    }
    return verified;
}

}  // namespace vexilo::analysis
