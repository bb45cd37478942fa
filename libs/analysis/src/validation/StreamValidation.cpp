#include "validation/CollectionRules.h"
#include "validation/ValidationContext.h"
#include "vexilo/analysis/DomainValidation.h"

#include <cstddef>
#include <vector>

namespace vexilo::analysis {
namespace validation {
namespace {

// Calls visit(tag, name, records) for the fifteen collections in member order.
template <typename Visitor>
void forEachCollection(const StreamAnalysis& document, Visitor visit)
{
    forEachTaggedCollection(document, [&](CollectionTag tag, const auto& records) {
        visit(tag, kCollectionNames[static_cast<std::size_t>(tag)], records);
    });
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
    registerDocumentIdentities(context);

    validateRootFields(context);
    validateStreamCollections(context);
    validateCodingBlocks(context);
    validateErrors(context);
    return issues;
}

}  // namespace vexilo::analysis
