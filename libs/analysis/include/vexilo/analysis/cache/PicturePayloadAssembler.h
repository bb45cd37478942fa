#pragma once

#include "vexilo/analysis/StableId.h"
#include "vexilo/analysis/StreamAnalysis.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace vexilo::analysis {

// How much of the stream document a picture's payload takes in.
enum class PayloadExtent : std::uint8_t {
    // Everything a picture's syntax, tree and inspector views show.
    Complete,
    // The picture's own records and the stream's errors: what the picture strip, the picture
    // table and the error log read of a picture loaded ahead. Copying the stream-wide records
    // into each of them made the read-back of a long stream with repeated parameter sets cost
    // more than everything else it does.
    PictureRecords,
};

// Undoes the cache's split for one picture: merges picture documents with the stream-level
// document they were split from. The stream's collections are indexed once here, so that each
// merge costs what the picture holds, not what the stream holds.
class PicturePayloadAssembler {
public:
    explicit PicturePayloadAssembler(const StreamAnalysis& stream);

    // The picture's document with the stream's parameter sets, the stream's parameter-set and
    // picture-less SEI NAL units and SEI messages, and the stream's errors ahead of its own.
    // Records both documents hold keep the stream's order and the picture's content. A picture
    // handed over by move becomes the payload without its blocks ever being copied.
    [[nodiscard]] StreamAnalysis assemble(StreamAnalysis picture) const;
    // `assemble`, or for PictureRecords only the stream's errors put ahead of the picture's.
    [[nodiscard]] StreamAnalysis assemble(StreamAnalysis picture, PayloadExtent extent) const;

private:
    template <typename Record> struct StreamIndex {
        // Position in the stream's collection of every record, and whether the stream hands it
        // to every picture.
        struct Slot {
            std::size_t position = 0;
            bool sharedByAllPictures = false;
        };
        std::unordered_map<StableId, Slot, StableIdHash> positionsById;
        std::vector<std::size_t> sharedPositions;
    };

    template <typename Record, typename Shared>
    static StreamIndex<Record> indexStream(const std::vector<Record>& stream, Shared sharedByAllPictures);

    template <typename Record>
    static std::vector<Record> merge(const std::vector<Record>& stream, const StreamIndex<Record>& index,
                                     const std::vector<Record>& picture);

    void putStreamErrorsAhead(StreamAnalysis& payload) const;

    const StreamAnalysis& stream_;
    StreamIndex<NalUnitInfo> nalUnits_;
    StreamIndex<SeiMessageInfo> seiMessages_;
};

// One merge without keeping the index, for callers that merge a single picture.
[[nodiscard]] StreamAnalysis makePictureAnalysisPayload(const StreamAnalysis& stream,
                                                                  const StreamAnalysis& picture);

}  // namespace vexilo::analysis
