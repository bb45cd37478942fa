#include "validation/ValidationContext.h"

#include <iterator>
#include <utility>

namespace vexilo::analysis::validation {
namespace {

constexpr std::uint64_t kMaxCollectionElements = kMaxRecordsPerCollection;

}  // namespace

ValidationContext::ValidationContext(const StreamAnalysis& document, ValidationIssues& issues)
    : document_(document),
      issues_(issues),
      ownIdentities_(std::in_place, document),
      ownPictureSizes_(std::in_place, PictureIdAt{&document}),
      identities(*ownIdentities_),
      nalUnitIds(identities, CollectionTag::NalUnits, document.nalUnits),
      sliceIds(identities, CollectionTag::Slices, document.slices),
      referencePictureIds(identities, CollectionTag::ReferencePictures, document.referencePictures),
      pictureIds(identities, CollectionTag::Pictures, document.pictures),
      ctuIds(identities, CollectionTag::Ctus, document.ctus),
      cuIds(identities, CollectionTag::Cus, document.cus),
      puIds(identities, CollectionTag::Pus, document.pus),
      tuIds(identities, CollectionTag::Tus, document.tus),
      pictureSizes(*ownPictureSizes_)
{
}

// The typed sets are copied for their lookup hints, which each thread moves on its own.
ValidationContext::ValidationContext(const ValidationContext& origin, ValidationIssues& issues)
    : document_(origin.document_),
      issues_(issues),
      identities(origin.identities),
      nalUnitIds(origin.nalUnitIds),
      sliceIds(origin.sliceIds),
      referencePictureIds(origin.referencePictureIds),
      pictureIds(origin.pictureIds),
      ctuIds(origin.ctuIds),
      cuIds(origin.cuIds),
      puIds(origin.puIds),
      tuIds(origin.tuIds),
      pictureSizes(origin.pictureSizes),
      spsPicture(origin.spsPicture),
      currentElement(origin.currentElement)
{
}

void ValidationContext::report(ValidationIssueKind kind, std::optional<StableId> objectId, std::string field,
                               std::string_view message)
{
    appendValidationIssue(issues_, kind, objectId, std::move(field), std::string(message));
}

void ValidationContext::reportAll(ValidationIssues&& issues)
{
    issues_.insert(issues_.end(), std::make_move_iterator(issues.begin()), std::make_move_iterator(issues.end()));
}

bool ValidationContext::isParentOf(ParentCollection parent, const StableId& reference) const
{
    switch (parent) {
    case ParentCollection::Stream:
        // The stream set holds the document's id even when that is zero.
        return reference == document_.id;
    case ParentCollection::NalUnits:
        return nalUnitIds.containsMember(reference);
    case ParentCollection::Slices:
        return sliceIds.containsMember(reference);
    case ParentCollection::ReferencePictures:
        return referencePictureIds.containsMember(reference);
    case ParentCollection::Pictures:
        return pictureIds.containsMember(reference);
    case ParentCollection::Ctus:
        return ctuIds.containsMember(reference);
    case ParentCollection::Cus:
        return cuIds.containsMember(reference);
    case ParentCollection::Pus:
        return puIds.containsMember(reference);
    case ParentCollection::Tus:
        return tuIds.containsMember(reference);
    }
    return false;
}

void checkSchemaHeader(ValidationContext& context)
{
    const StreamAnalysis& document = context.document();
    const bool supported = document.schemaVersion == kAnalysisSchemaVersion &&
                           document.minimumReaderVersion >= 1 &&
                           document.minimumReaderVersion <= document.schemaVersion;
    if (!supported) {
        const std::optional<StableId> objectId =
            document.id.isNull() ? std::nullopt : std::optional<StableId>(document.id);
        context.report(ValidationIssueKind::InvalidSchemaVersion, objectId, std::string(kSchemaVersionPath),
                       kSchemaVersionMessage);
    }
}

void checkCollectionLimit(ValidationContext& context, std::uint64_t elementCount, std::string_view collection)
{
    if (elementCount > kMaxCollectionElements) {
        context.report(ValidationIssueKind::ResourceLimit, std::nullopt, std::string(collection),
                       kCollectionLimitMessage);
    }
}

std::string elementIdPath(std::string_view collection, std::size_t position)
{
    std::string path(collection);
    path += '[';
    path += std::to_string(position);
    path += "].id";
    return path;
}

void registerDocumentIdentities(ValidationContext& context)
{
    for (const DocumentIdentities::Repeat& repeat : context.identities.addDocument()) {
        std::string path =
            repeat.collection == CollectionTag::Document
                ? std::string(kDocumentIdPath)
                : elementIdPath(kCollectionNames[static_cast<std::size_t>(repeat.collection)], repeat.position);
        if (repeat.id.isNull()) {
            context.report(ValidationIssueKind::InvalidStableId, std::nullopt, std::move(path), kZeroStableIdMessage);
        } else {
            context.report(ValidationIssueKind::DuplicateStableId, repeat.id, std::move(path),
                           kDuplicateStableIdMessage);
        }
    }
}

void checkParentReference(ValidationContext& context, const StableId& objectId, const StableId& reference,
                          ParentCollection parent, std::string_view field)
{
    if (context.isParentOf(parent, reference)) {
        return;
    }
    if (context.identities.contains(reference)) {
        context.report(ValidationIssueKind::WrongParentType, objectId, std::string(field), kWrongParentTypeMessage);
    } else {
        context.report(ValidationIssueKind::MissingParent, objectId, std::string(field), kMissingParentMessage);
    }
}

void checkSchemaString(ValidationContext& context, const StableId& objectId, const std::string& value,
                       bool required, std::string_view field)
{
    if (required && value.empty()) {
        context.report(ValidationIssueKind::InvalidValue, objectId, std::string(field), kEmptyStringMessage);
    } else if (value.size() > kMaxSchemaStringBytes) {
        context.report(ValidationIssueKind::ResourceLimit, objectId, std::string(field), kLongStringMessage);
    }
}

bool blockBoundsWellFormed(const BlockRect& bounds) noexcept
{
    return bounds.unit == kBlockRectUnitLumaSample && bounds.x >= 0 && bounds.y >= 0 && bounds.width != 0 &&
           bounds.height != 0;
}

bool blockContains(const BlockRect& outer, const BlockRect& inner) noexcept
{
    if (!blockBoundsWellFormed(outer) || !blockBoundsWellFormed(inner)) {
        return false;
    }
    const auto right = [](const BlockRect& rect) { return std::int64_t{rect.x} + std::int64_t{rect.width}; };
    const auto bottom = [](const BlockRect& rect) { return std::int64_t{rect.y} + std::int64_t{rect.height}; };
    return inner.x >= outer.x && inner.y >= outer.y && right(inner) <= right(outer) &&
           bottom(inner) <= bottom(outer);
}

}  // namespace vexilo::analysis::validation
