#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheError.h"
#include "vexilo/analysis/cache/CacheManifest.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexilo::analysis {

// Held with flock for the whole of a cache write, so that two writers of one
// directory never share or delete each other's temporary files. Readers ignore it.
inline constexpr std::string_view kCacheWriterLockFileName = ".writer.lock";

// A picture whose document would not fit the payload limit with its block structure: it is
// written without its blocks, never refused as a whole.
struct OmittedPictureBlocks {
    // Absent when the serialiser refused the document before its size was known.
    std::optional<std::uint64_t> payloadBytes;
    std::uint64_t limitBytes = 0;
    // The serialiser's reason when it refused the document.
    std::string reason;
    std::size_t ctus = 0;
    std::size_t cus = 0;
    std::size_t pus = 0;
    std::size_t tus = 0;
    std::size_t motionVectors = 0;
};

// Writes the stream-level document, one document per picture, the index and,
// last, the manifest that commits them. Returns the committed manifest.
[[nodiscard]] CacheResult<CacheManifest> writeAnalysisCache(const std::filesystem::path& directory,
                                                            const StreamAnalysis& analysis,
                                                            const CacheWriteOptions& options);

// Makes the document of the index-th picture summary of the stream-level document: its root
// fields, the summary and what belongs to that picture, blocks included. Called once per
// picture, in document order.
using PictureDocumentMaker = std::function<void(std::size_t index, StreamAnalysis& document)>;

// The same commit for an analysis whose pictures are made one at a time, so that no document
// ever holds the blocks of the whole stream. Each picture's document is validated on its own
// before it is encoded. The stream-level document (`stream`, without blocks) is written after
// every picture file: making a picture may still change its summary and the stream's errors.
[[nodiscard]] CacheResult<CacheManifest> writeAnalysisCachePictureByPicture(const std::filesystem::path& directory,
                                                                            const StreamAnalysis& stream,
                                                                            const PictureDocumentMaker& makePicture,
                                                                            const CacheWriteOptions& options);

// Replaces one picture's document in a complete cache of the same source and leaves the
// stream-level document, the index, the manifest and every other picture file as they are.
// `analysis` may cover only the start of the stream (a run that stopped once this picture was
// decoded); the picture is its summary with the decode-picture identity `decodePictureId`,
// and the manifest must list it. Returns the manifest in force.
[[nodiscard]] CacheResult<CacheManifest> writePictureIntoCache(const std::filesystem::path& directory,
                                                               const StreamAnalysis& analysis,
                                                               std::uint64_t decodePictureId,
                                                               const CacheWriteOptions& options);

// The root fields, all NAL units, parameter sets, SEI messages and picture
// summaries, and the errors that name no object.
[[nodiscard]] StreamAnalysis buildStreamMetaDocument(const StreamAnalysis& analysis);

// The picture documents of an analysis, made one at a time: where every record goes is
// worked out once, and a picture's document is copied out only when asked for, so a long
// stream never holds all of them at once.
class PictureDocumentSplit {
public:
    // Whether the analysis passed validation as a whole, which rules out records that share an
    // identity: the split then need not look for them among the blocks.
    enum class Identities : bool { unchecked, validated };

    // `analysis` must outlive the split.
    explicit PictureDocumentSplit(const StreamAnalysis& analysis, Identities identities = Identities::unchecked);

    // One document per picture summary.
    [[nodiscard]] std::size_t size() const noexcept { return analysis_.pictures.size(); }

    // Replaces `document` with the one of the `index`-th picture summary: its root fields,
    // the summary and the objects that belong to that picture, in document order. The
    // collections keep their capacity, so one document can be refilled picture after picture.
    void fill(std::size_t index, StreamAnalysis& document) const;

    // Whether the `index`-th picture's document would hold any CTU, CU, PU, TU or motion
    // vector, told without filling it.
    [[nodiscard]] bool hasBlockStructure(std::size_t index) const noexcept;

    // Slices, the four reference collections, NAL units, SEI messages, the five block
    // collections and errors.
    static constexpr std::size_t kPlacedCollectionCount = 13;

    // The records of one collection, grouped by picture: picture i holds
    // records[offsets[i]] up to records[offsets[i + 1]], in document order. When every record
    // is placed and each picture's records lie together in the collection, `records` stays
    // empty and picture i holds the offsets[i + 1] - offsets[i] records from runStarts[i] on.
    struct Placement {
        std::vector<std::size_t> offsets;
        std::vector<std::size_t> records;
        std::vector<std::size_t> runStarts;
    };

private:
    const StreamAnalysis& analysis_;
    std::array<Placement, kPlacedCollectionCount> placements_;
};

// One document per picture summary, in document order, each with the objects
// that belong to that picture.
[[nodiscard]] std::vector<StreamAnalysis> buildPictureDocument(const StreamAnalysis& analysis);

// Any CTU, CU, PU, TU or motion vector.
[[nodiscard]] bool hasBlockStructure(const StreamAnalysis& document) noexcept;

void clearBlockStructure(StreamAnalysis& document) noexcept;

// Carries the cached picture's block structure over when the new document has none.
void mergeExistingPictureStructure(StreamAnalysis& newDoc, const StreamAnalysis& cachedDoc);

}  // namespace vexilo::analysis
