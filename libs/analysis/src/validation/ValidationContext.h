#pragma once

#include "validation/DocumentIdentities.h"
#include "validation/HolderIndex.h"
#include "vexilo/analysis/DomainValidation.h"
#include "vexilo/analysis/StreamAnalysis.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexilo::analysis::validation {

// Collection names, as they appear in field paths and identity paths.
inline constexpr std::string_view kNalUnits = "nalUnits";
inline constexpr std::string_view kParameterSets = "parameterSets";
inline constexpr std::string_view kSeiMessages = "seiMessages";
inline constexpr std::string_view kSlices = "slices";
inline constexpr std::string_view kReferencePictures = "referencePictures";
inline constexpr std::string_view kPictures = "pictures";
inline constexpr std::string_view kCtus = "ctus";
inline constexpr std::string_view kCus = "cus";
inline constexpr std::string_view kPus = "pus";
inline constexpr std::string_view kTus = "tus";
inline constexpr std::string_view kMotionVectors = "motionVectors";
inline constexpr std::string_view kErrors = "errors";
inline constexpr std::string_view kShortTermReferencePictures = "shortTermReferencePictures";
inline constexpr std::string_view kLongTermReferencePictures = "longTermReferencePictures";
inline constexpr std::string_view kDpbSnapshotEntries = "dpbSnapshotEntries";

// The collection names by tag; the document itself has none.
inline constexpr std::array<std::string_view, kCollectionTagCount> kCollectionNames{
    kNalUnits, kParameterSets, kSeiMessages, kSlices, kReferencePictures, kPictures, kCtus, kCus, kPus, kTus,
    kMotionVectors, kErrors, kShortTermReferencePictures, kLongTermReferencePictures, kDpbSnapshotEntries, {}};

inline constexpr std::string_view kDocumentIdPath = "id";
inline constexpr std::string_view kSchemaVersionPath = "schemaVersion";

// Messages of the generic rules.
inline constexpr std::string_view kSchemaVersionMessage =
    "schema version must be v1 and minimumReaderVersion must be within [1, schemaVersion]";
inline constexpr std::string_view kCollectionLimitMessage = "collection exceeds the schema resource limit";
inline constexpr std::string_view kZeroStableIdMessage =
    "the all-zero stable ID is reserved for an unknown identity";
inline constexpr std::string_view kDuplicateStableIdMessage =
    "stable IDs must be unique across the complete analysis document";
inline constexpr std::string_view kWrongParentTypeMessage =
    "parent ID resolves to the wrong analysis object type";
inline constexpr std::string_view kMissingParentMessage =
    "parent ID does not resolve within this analysis document";
inline constexpr std::string_view kEnumRangeMessage = "enum value is outside the stable v1 numeric range";
inline constexpr std::string_view kEmptyStringMessage = "value must not be empty";
inline constexpr std::string_view kLongStringMessage = "string exceeds the schema resource limit";
inline constexpr std::string_view kBitDepthMessage = "known bit depth must be in the range [8, 16]";
inline constexpr std::string_view kCodedDimensionMessage =
    "known coded dimensions must be in the range [1, 65535]";
inline constexpr std::string_view kBlockBoundsMessage =
    "block bounds require non-negative luma-sample coordinates and non-zero size";

inline constexpr std::uint64_t kMaxSchemaStringBytes = 0x100000;
inline constexpr std::int64_t kMinBitDepth = 8;
inline constexpr std::int64_t kMaxBitDepth = 16;
inline constexpr std::int64_t kMinCodedDimension = 1;
inline constexpr std::int64_t kMaxCodedDimension = 65535;

// The collection a parent reference must resolve into.
enum class ParentCollection {
    Stream,
    NalUnits,
    Slices,
    ReferencePictures,
    Pictures,
    Ctus,
    Cus,
    Pus,
    Tus,
};

// The working state of one validation: the issue list being filled, the identity
// sets, and the lookup tables of the block rules. Nothing outlives the call.
class ValidationContext {
public:
    // The id of the picture at a position.
    struct PictureIdAt {
        const StreamAnalysis* document;
        StableId operator()(std::uint64_t position) const
        {
            return document->pictures[static_cast<std::size_t>(position)].id;
        }
    };
    using PictureSizes = HolderIndex<PictureIdAt>;

private:
    // Declared first: the typed identities below are built from the document.
    const StreamAnalysis& document_;
    ValidationIssues& issues_;
    // A validation's own tables; a fork has none and reads its origin's.
    std::optional<DocumentIdentities> ownIdentities_;
    std::optional<PictureSizes> ownPictureSizes_;

public:
    ValidationContext(const StreamAnalysis& document, ValidationIssues& issues);
    // A context for rules that run beside others on a thread of their own: it reads the
    // identities and lookup tables of `origin`, which must not change while it lives, and
    // reports into `issues`.
    ValidationContext(const ValidationContext& origin, ValidationIssues& issues);
    ValidationContext(const ValidationContext&) = delete;
    ValidationContext& operator=(const ValidationContext&) = delete;

    [[nodiscard]] const StreamAnalysis& document() const noexcept { return document_; }

    void report(ValidationIssueKind kind, std::optional<StableId> objectId, std::string field,
                std::string_view message);
    // Issues found on a fork, after those reported so far.
    void reportAll(ValidationIssues&& issues);

    // Every identity registered so far (the document's own included).
    DocumentIdentities& identities;

    // The collections that can be parents.
    TypedIdentities<NalUnitInfo> nalUnitIds;
    TypedIdentities<SliceInfo> sliceIds;
    TypedIdentities<ReferencePictureEntry> referencePictureIds;
    TypedIdentities<PictureAnalysisSummary> pictureIds;
    TypedIdentities<CtuInfo> ctuIds;
    TypedIdentities<CuInfo> cuIds;
    TypedIdentities<PuInfo> puIds;
    TypedIdentities<TuInfo> tuIds;

    // Picture id -> position of the first picture of that id with a known size.
    PictureSizes& pictureSizes;
    std::optional<BlockRect> spsPicture;

    // Position of the element whose rules run; the CU and TU bounds tables grow
    // behind it.
    std::size_t currentElement = 0;

    [[nodiscard]] bool isParentOf(ParentCollection parent, const StableId& reference) const;
};

// The generic rules. Each appends at most one issue.
void checkSchemaHeader(ValidationContext& context);
void checkCollectionLimit(ValidationContext& context, std::uint64_t elementCount,
                          std::string_view collection);
// Registers every identity of the document, reporting zero and repeated ids in document order.
void registerDocumentIdentities(ValidationContext& context);
void checkParentReference(ValidationContext& context, const StableId& objectId,
                          const StableId& reference, ParentCollection parent, std::string_view field);
void checkSchemaString(ValidationContext& context, const StableId& objectId, const std::string& value,
                       bool required, std::string_view field);

// Well formed: luma-sample unit, non-negative origin, non-zero size.
[[nodiscard]] bool blockBoundsWellFormed(const BlockRect& bounds) noexcept;
[[nodiscard]] bool blockContains(const BlockRect& outer, const BlockRect& inner) noexcept;

// The identity path of one element: "<collection>[<position>].id".
[[nodiscard]] std::string elementIdPath(std::string_view collection, std::size_t position);

}  // namespace vexilo::analysis::validation
