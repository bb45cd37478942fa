#include "vexilo/analysis/cache/PicturePayloadAssembler.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

namespace vexilo::analysis {
namespace {

bool isParameterSetUnit(NalUnitKind kind)
{
    return kind == NalUnitKind::Vps || kind == NalUnitKind::Sps || kind == NalUnitKind::Pps;
}

bool isPicturelessSeiUnit(const NalUnitInfo& unit)
{
    return (unit.kind == NalUnitKind::PrefixSei || unit.kind == NalUnitKind::SuffixSei) && !unit.pictureId;
}

}  // namespace

PicturePayloadAssembler::PicturePayloadAssembler(const StreamAnalysis& stream)
    : stream_(stream),
      nalUnits_(indexStream(stream.nalUnits,
                            [](const NalUnitInfo& unit) {
                                return isParameterSetUnit(unit.kind) || isPicturelessSeiUnit(unit);
                            })),
      seiMessages_(indexStream(stream.seiMessages, [](const SeiMessageInfo& message) { return !message.pictureId; }))
{
}

template <typename Record, typename Shared>
PicturePayloadAssembler::StreamIndex<Record>
PicturePayloadAssembler::indexStream(const std::vector<Record>& stream, Shared sharedByAllPictures)
{
    StreamIndex<Record> index;
    index.positionsById.reserve(stream.size());
    for (std::size_t position = 0; position < stream.size(); ++position) {
        const bool shared = sharedByAllPictures(stream[position]);
        // The first of two records with one identity is the one a walk from the front finds.
        const typename StreamIndex<Record>::Slot slot{position, shared};
        if (index.positionsById.try_emplace(stream[position].id, slot).second && shared) {
            index.sharedPositions.push_back(position);
        }
    }
    return index;
}

template <typename Record>
std::vector<Record> PicturePayloadAssembler::merge(const std::vector<Record>& stream,
                                                   const StreamIndex<Record>& index,
                                                   const std::vector<Record>& picture)
{
    // Stream position -> the record to keep there: the picture's copy wins over the stream's.
    std::unordered_map<std::size_t, const Record*> kept;
    for (const std::size_t position : index.sharedPositions) {
        kept.emplace(position, &stream[position]);
    }
    std::vector<const Record*> pictureOnly;
    std::unordered_set<StableId, StableIdHash> pictureIds;
    for (const Record& record : picture) {
        if (!pictureIds.insert(record.id).second) {
            continue;
        }
        const auto slot = index.positionsById.find(record.id);
        if (slot == index.positionsById.end()) {
            pictureOnly.push_back(&record);
        } else {
            kept[slot->second.position] = &record;
        }
    }
    std::vector<std::pair<std::size_t, const Record*>> ordered(kept.begin(), kept.end());
    std::sort(ordered.begin(), ordered.end(),
              [](const auto& left, const auto& right) { return left.first < right.first; });

    std::vector<Record> merged;
    merged.reserve(ordered.size() + pictureOnly.size());
    for (const auto& [position, record] : ordered) {
        merged.push_back(*record);
    }
    for (const Record* record : pictureOnly) {
        merged.push_back(*record);
    }
    return merged;
}

StreamAnalysis PicturePayloadAssembler::assemble(StreamAnalysis picture) const
{
    StreamAnalysis payload = std::move(picture);
    payload.nalUnits = merge(stream_.nalUnits, nalUnits_, payload.nalUnits);
    payload.parameterSets = stream_.parameterSets;
    payload.seiMessages = merge(stream_.seiMessages, seiMessages_, payload.seiMessages);
    putStreamErrorsAhead(payload);
    return payload;
}

StreamAnalysis PicturePayloadAssembler::assemble(StreamAnalysis picture, PayloadExtent extent) const
{
    if (extent == PayloadExtent::Complete) {
        return assemble(std::move(picture));
    }
    StreamAnalysis payload = std::move(picture);
    putStreamErrorsAhead(payload);
    return payload;
}

void PicturePayloadAssembler::putStreamErrorsAhead(StreamAnalysis& payload) const
{
    if (stream_.errors.empty()) {
        return;
    }
    std::vector<AnalysisErrorInfo> errors = stream_.errors;
    errors.insert(errors.end(), payload.errors.begin(), payload.errors.end());
    payload.errors = std::move(errors);
}

StreamAnalysis makePictureAnalysisPayload(const StreamAnalysis& stream, const StreamAnalysis& picture)
{
    return PicturePayloadAssembler(stream).assemble(picture);
}

}  // namespace vexilo::analysis
