#include "validation/CollectionRules.h"
#include "validation/ValidationContext.h"
#include "vexilo/analysis/DomainValidation.h"

#include <cstddef>
#include <vector>

namespace vexilo::analysis {
namespace validation {
namespace {

// How many records ahead registration asks for the slot of an id: enough loads in flight
// to hide a trip to main memory, few enough that the slots are still cached when used.
constexpr std::size_t kPrefetchDistance = 16;

// Registers every element's identity, which also fills the typed sets. A long document's
// identity table is far larger than the caches; waiting on each random slot in turn made
// this the costliest part of validation.
template <typename Record>
void registerCollection(ValidationContext& context, CollectionTag tag, std::string_view collection,
                        const std::vector<Record>& records)
{
    for (std::size_t position = 0; position < records.size(); ++position) {
        if (position + kPrefetchDistance < records.size()) {
            context.identities.prefetch(records[position + kPrefetchDistance].id);
        }
        registerStableId(context, records[position].id, tag, collection, position);
    }
}

// Calls visit(tag, name, records) for the fifteen collections in member order.
template <typename Visitor>
void forEachCollection(const StreamAnalysis& document, Visitor visit)
{
    visit(CollectionTag::NalUnits, kNalUnits, document.nalUnits);
    visit(CollectionTag::ParameterSets, kParameterSets, document.parameterSets);
    visit(CollectionTag::SeiMessages, kSeiMessages, document.seiMessages);
    visit(CollectionTag::Slices, kSlices, document.slices);
    visit(CollectionTag::ReferencePictures, kReferencePictures, document.referencePictures);
    visit(CollectionTag::Pictures, kPictures, document.pictures);
    visit(CollectionTag::Ctus, kCtus, document.ctus);
    visit(CollectionTag::Cus, kCus, document.cus);
    visit(CollectionTag::Pus, kPus, document.pus);
    visit(CollectionTag::Tus, kTus, document.tus);
    visit(CollectionTag::MotionVectors, kMotionVectors, document.motionVectors);
    visit(CollectionTag::Errors, kErrors, document.errors);
    visit(CollectionTag::ShortTermReferencePictures, kShortTermReferencePictures, document.shortTermReferencePictures);
    visit(CollectionTag::LongTermReferencePictures, kLongTermReferencePictures, document.longTermReferencePictures);
    visit(CollectionTag::DpbSnapshotEntries, kDpbSnapshotEntries, document.dpbSnapshotEntries);
}

std::size_t totalElementCount(const StreamAnalysis& document)
{
    std::size_t total = 1;  // the document's own id
    forEachCollection(document, [&](CollectionTag, std::string_view, const auto& records) { total += records.size(); });
    return total;
}

}  // namespace
}  // namespace validation

ValidationIssues validateStreamAnalysis(const StreamAnalysis& analysis)
{
    using namespace validation;
    ValidationIssues issues;
    ValidationContext context(analysis, issues);

    checkSchemaHeader(context);
    forEachCollection(analysis, [&](CollectionTag, std::string_view collection, const auto& records) {
        checkCollectionLimit(context, records.size(), collection);
    });

    // Registration fills the document set and the typed sets in one pass; no
    // element rule looks at either before both are complete.
    context.identities.reserve(totalElementCount(analysis));
    registerDocumentId(context);
    forEachCollection(analysis, [&](CollectionTag tag, std::string_view collection, const auto& records) {
        registerCollection(context, tag, collection, records);
    });

    validateRootFields(context);
    validateStreamCollections(context);
    validateCodingBlocks(context);
    validateErrors(context);
    return issues;
}

}  // namespace vexilo::analysis
