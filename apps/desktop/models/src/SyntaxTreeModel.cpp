#include "vexilo/models/SyntaxTreeModel.h"

#include "vexilo/models/DisplayFormat.h"
#include "vexilo/models/StableIdTable.h"

#include <algorithm>
#include <array>
#include <bit>
#include <iterator>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace vexilo {

// Identities, texts, picture ids and the slice's secondary value are read from the node's
// record when asked for: a dense picture has over a million nodes, of which a view shows a few
// dozen. Nodes live in one array and name each other and their records by position.
struct SyntaxTreeModel::SyntaxTreeNode {
    std::uint32_t record = 0;  // position in the held document's collection of `kind`
    std::uint32_t parent = 0;
    std::uint32_t row = 0;
    std::uint32_t firstChild = 0;  // position of the first child in NodeStore::children
    std::uint32_t childCount = 0;
    SyntaxTreeNodeKind kind = SyntaxTreeNodeKind::Root;
};

struct SyntaxTreeModel::NodeStore {
    // A slot of the builder's identity table: a node position and a tag of the identity's hash.
    struct PositionSlot {
        std::uint32_t positionPlusOne = 0;  // 0: empty
        std::uint32_t tag = 0;

        [[nodiscard]] bool occupied() const { return positionPlusOne != 0; }
    };

    std::vector<SyntaxTreeNode> nodes;  // the root first, then in creation order
    std::vector<std::uint32_t> children;  // each node's children, one run per node
    // The builder's identity table, kept for the next build as the nodes are.
    std::vector<PositionSlot> positionSlots;
    // For each identity, the node a pre-order walk from the root reaches first; kept only when
    // identities repeat, else a lookup walks the nodes, as the one node of an identity is the
    // first one a pre-order walk reaches.
    StableIdTable firstVisitById;
    bool firstVisitsIndexed = false;

    [[nodiscard]] const SyntaxTreeNode& root() const { return nodes.front(); }
    [[nodiscard]] const SyntaxTreeNode* child(const SyntaxTreeNode& parent, std::size_t row) const {
        return row < parent.childCount ? &nodes[children[parent.firstChild + row]] : nullptr;
    }
};

namespace {

using analysis::StableId;
using analysis::StableIdHash;
using analysis::StreamAnalysis;
using display::codeOf;
using display::decimalText;
using display::formatOptionalInt16;
using display::formatOptionalInt32;
using display::formatOptionalInt8;
using display::formatOptionalUInt8;
using display::formatOptionalUInt32;
using Node = SyntaxTreeModel::SyntaxTreeNode;
using Kind = SyntaxTreeNodeKind;

constexpr std::array<const char*, SyntaxTreeModel::kColumnCount> kHeaders{"Syntax object", "Summary", "Presence",
                                                                          "Status", "Meaning"};

// The fixed texts of a kind: object label (when fixed), presence and meaning.
struct KindTexts {
    const char* object;
    const char* presence;
    const char* meaning;
};

constexpr std::array<KindTexts, 10> kKindTexts{{
    {"", "", ""},
    {"", "Annex-B NAL unit", "HEVC NAL header and byte span"},
    {"", "NAL kind VPS/SPS/PPS", "Parameter-set syntax parsed from bitstream"},
    {"SEI", "NAL kind prefix/suffix SEI", "SEI payload summary; unsupported payloads are not expanded"},
    {"Slice", "NAL kind VCL slice", "Slice header and derived decoder state"},
    {"CTU", "coding tree", "CTU overlay/hit-test object"},
    {"CU", "coding quadtree", "CU overlay/hit-test object"},
    {"PU", "prediction unit", "PU overlay/hit-test object"},
    {"TU", "transform tree", "TU overlay/hit-test object"},
    {"MV", "motion vector", "MV overlay object; coordinates are quarter-luma samples"},
}};

QString geometryText(const analysis::BlockRect& bounds) {
    return QStringLiteral("x=%1 y=%2 %3x%4")
        .arg(decimalText(bounds.x), decimalText(bounds.y), decimalText(bounds.width), decimalText(bounds.height));
}

QString presentOrPartial(bool complete) { return complete ? QStringLiteral("present") : QStringLiteral("partial"); }

QString derivedOrPartial(analysis::BlockParseStatus status) {
    return status == analysis::BlockParseStatus::Parsed ? QStringLiteral("derived") : QStringLiteral("partial");
}

QString listText(analysis::ReferenceList list) {
    switch (list) {
    case analysis::ReferenceList::L0: return QStringLiteral("L0");
    case analysis::ReferenceList::L1: return QStringLiteral("L1");
    default: return QStringLiteral("unknown");
    }
}

template <typename Record>
const std::vector<Record>& collectionOf(const StreamAnalysis& document) {
    if constexpr (std::is_same_v<Record, analysis::NalUnitInfo>) {
        return document.nalUnits;
    } else if constexpr (std::is_same_v<Record, analysis::ParameterSetInfo>) {
        return document.parameterSets;
    } else if constexpr (std::is_same_v<Record, analysis::SeiMessageInfo>) {
        return document.seiMessages;
    } else if constexpr (std::is_same_v<Record, analysis::SliceInfo>) {
        return document.slices;
    } else if constexpr (std::is_same_v<Record, analysis::CtuInfo>) {
        return document.ctus;
    } else if constexpr (std::is_same_v<Record, analysis::CuInfo>) {
        return document.cus;
    } else if constexpr (std::is_same_v<Record, analysis::PuInfo>) {
        return document.pus;
    } else if constexpr (std::is_same_v<Record, analysis::TuInfo>) {
        return document.tus;
    } else {
        static_assert(std::is_same_v<Record, analysis::MotionVectorInfo>);
        return document.motionVectors;
    }
}

// A view of one node with the document its record is in.
struct NodeOf {
    NodeOf(const StreamAnalysis& inDocument, const Node& inNode) : document(inDocument), node(inNode), kind(inNode.kind) {}

    const StreamAnalysis& document;
    const Node& node;
    Kind kind;
};

template <typename Record>
const Record& recordOf(const NodeOf& node) {
    return collectionOf<Record>(node.document)[node.node.record];
}

StableId objectIdOf(const NodeOf& node) {
    switch (node.kind) {
    case Kind::NalUnit: return recordOf<analysis::NalUnitInfo>(node).id;
    case Kind::ParameterSet: return recordOf<analysis::ParameterSetInfo>(node).id;
    case Kind::SeiMessage: return recordOf<analysis::SeiMessageInfo>(node).id;
    case Kind::Slice: return recordOf<analysis::SliceInfo>(node).id;
    case Kind::Ctu: return recordOf<analysis::CtuInfo>(node).id;
    case Kind::Cu: return recordOf<analysis::CuInfo>(node).id;
    case Kind::Pu: return recordOf<analysis::PuInfo>(node).id;
    case Kind::Tu: return recordOf<analysis::TuInfo>(node).id;
    case Kind::MotionVector: return recordOf<analysis::MotionVectorInfo>(node).id;
    default: return {};
    }
}

QString objectText(const NodeOf& node) {
    switch (node.kind) {
    case Kind::NalUnit: {
        const auto kind = codeOf(recordOf<analysis::NalUnitInfo>(node).kind);
        return kind >= 1 && kind <= 7 ? display::nalUnitKindText(kind) : QStringLiteral("Unknown NAL");
    }
    case Kind::ParameterSet: {
        const auto kind = codeOf(recordOf<analysis::ParameterSetInfo>(node).kind);
        return kind >= 1 && kind <= 3 ? display::parameterSetKindText(kind) : QStringLiteral("Parameter set");
    }
    default:
        return QString::fromLatin1(kKindTexts[static_cast<std::size_t>(node.kind)].object);
    }
}

QString summaryText(const NodeOf& node) {
    switch (node.kind) {
    case Kind::NalUnit: {
        const auto& nalUnit = recordOf<analysis::NalUnitInfo>(node);
        return QStringLiteral("type=%1 offset=%2 size=%3")
            .arg(formatOptionalUInt8(nalUnit.nalUnitType), decimalText(nalUnit.byteOffset),
                 decimalText(nalUnit.byteSize));
    }
    case Kind::ParameterSet: {
        const auto& parameterSet = recordOf<analysis::ParameterSetInfo>(node);
        return QStringLiteral("id=%1 profile=%2 size=%3x%4")
            .arg(display::formatOptionalUInt16(parameterSet.parameterSetId), decimalText(codeOf(parameterSet.profile)),
                 formatOptionalUInt32(parameterSet.width), formatOptionalUInt32(parameterSet.height));
    }
    case Kind::SeiMessage: {
        const auto& sei = recordOf<analysis::SeiMessageInfo>(node);
        return QStringLiteral("payload_type=%1 size=%2")
            .arg(formatOptionalUInt32(sei.payloadType), display::formatOptionalUInt64(sei.payloadSize));
    }
    case Kind::Slice: {
        const auto& slice = recordOf<analysis::SliceInfo>(node);
        return QStringLiteral("type=%1 poc=%2 first_ctu=%3")
            .arg(display::sliceTypeText(codeOf(slice.type)), formatOptionalInt32(slice.poc),
                 formatOptionalUInt32(slice.firstCtuAddress));
    }
    case Kind::Ctu: {
        const auto& ctu = recordOf<analysis::CtuInfo>(node);
        return QStringLiteral("RS=%1 TS=%2 %3")
            .arg(formatOptionalUInt32(ctu.ctuAddressRs), formatOptionalUInt32(ctu.ctuAddressTs),
                 geometryText(ctu.bounds));
    }
    case Kind::Cu: {
        const auto& cu = recordOf<analysis::CuInfo>(node);
        return QStringLiteral("%1 depth=%2 qp=%3 %4")
            .arg(display::predictionModeText(codeOf(cu.predictionMode)), formatOptionalUInt8(cu.depth),
                 formatOptionalInt16(cu.qp), geometryText(cu.bounds));
    }
    case Kind::Pu: {
        const auto& pu = recordOf<analysis::PuInfo>(node);
        return QStringLiteral("part=%1 mode=%2 refL0=%3 refL1=%4 %5")
            .arg(decimalText(pu.partIndex), display::partModeText(codeOf(pu.partitionMode)),
                 formatOptionalInt8(pu.refIdxL0), formatOptionalInt8(pu.refIdxL1), geometryText(pu.bounds));
    }
    case Kind::Tu: {
        const auto& tu = recordOf<analysis::TuInfo>(node);
        return QStringLiteral("depth=%1 qp=%2 cbfY=%3 %4")
            .arg(formatOptionalUInt8(tu.depth), formatOptionalInt16(tu.qp), display::formatOptionalBool(tu.cbfLuma),
                 geometryText(tu.bounds));
    }
    case Kind::MotionVector: {
        const auto& motionVector = recordOf<analysis::MotionVectorInfo>(node);
        return QStringLiteral("%1 x=%2 y=%3 refPoc=%4")
            .arg(listText(motionVector.list), formatOptionalInt32(motionVector.mvX),
                 formatOptionalInt32(motionVector.mvY), formatOptionalInt32(motionVector.referencePoc));
    }
    default:
        return {};
    }
}

QString statusText(const NodeOf& node) {
    switch (node.kind) {
    case Kind::NalUnit: return presentOrPartial(recordOf<analysis::NalUnitInfo>(node).byteSpanReliable);
    case Kind::ParameterSet: return QStringLiteral("present");
    case Kind::SeiMessage: {
        const auto code = codeOf(recordOf<analysis::SeiMessageInfo>(node).status);
        return code >= 1 && code <= 3 ? display::seiStatusText(code) : QStringLiteral("unknown");
    }
    case Kind::Slice:
        return presentOrPartial(recordOf<analysis::SliceInfo>(node).parseStatus == analysis::ParseStatus::Parsed);
    case Kind::Cu: return derivedOrPartial(recordOf<analysis::CuInfo>(node).parseStatus);
    case Kind::Pu: return derivedOrPartial(recordOf<analysis::PuInfo>(node).parseStatus);
    case Kind::Tu: return derivedOrPartial(recordOf<analysis::TuInfo>(node).parseStatus);
    case Kind::Ctu:
    case Kind::MotionVector: return QStringLiteral("derived");
    default: return {};
    }
}

QString columnText(const NodeOf& node, int column) {
    const KindTexts& fixed = kKindTexts[static_cast<std::size_t>(node.kind)];
    switch (column) {
    case 0: return objectText(node);
    case 1: return summaryText(node);
    case 2: return QString::fromLatin1(fixed.presence);
    case 3: return statusText(node);
    case 4: return QString::fromLatin1(fixed.meaning);
    default: return {};
    }
}

std::optional<domain::PictureId> pictureIdOf(const std::optional<std::uint64_t>& pictureId) {
    return pictureId.has_value() ? std::optional(static_cast<domain::PictureId>(*pictureId)) : std::nullopt;
}

// Only NAL units, SEI messages and slices name their picture.
std::optional<domain::PictureId> pictureIdOf(const NodeOf& node) {
    switch (node.kind) {
    case Kind::NalUnit: return pictureIdOf(recordOf<analysis::NalUnitInfo>(node).pictureId);
    case Kind::SeiMessage: return pictureIdOf(recordOf<analysis::SeiMessageInfo>(node).pictureId);
    case Kind::Slice: return pictureIdOf(recordOf<analysis::SliceInfo>(node).pictureId);
    default: return std::nullopt;
    }
}

std::optional<std::int64_t> secondaryValueOf(const NodeOf& node) {
    return node.kind == Kind::Slice ? recordOf<analysis::SliceInfo>(node).displayIndex : std::nullopt;
}

std::size_t nodeCountOf(const StreamAnalysis& document) {
    return 1 + document.nalUnits.size() + document.parameterSets.size() + document.seiMessages.size() +
           document.slices.size() + document.ctus.size() + document.cus.size() + document.pus.size() +
           document.tus.size() + document.motionVectors.size();
}

constexpr std::uint32_t kRootPosition = 0;
// How many blocks ahead the builder asks for the table slots it will need: enough to cover
// a miss to memory at the pace blocks are added.
constexpr std::uint32_t kPrefetchDistance = 16;

// Identity -> node position while a tree is built, in slots of eight bytes: a slot holds the
// node's position and a tag of the identity's hash, and the identity itself is read back from
// the node. A dense 4K picture's table is 16 MB (slots of whole identities would take 48);
// its memory is the store's, so that the next picture's build does not map it afresh and pay
// first-touch page faults costing more than the build.
class NodePositionTable {
public:
    using Slot = SyntaxTreeModel::NodeStore::PositionSlot;

    NodePositionTable(const StreamAnalysis& document, const std::vector<Node>& nodes, std::vector<Slot>& slotMemory,
                      std::size_t expectedEntries)
        : document_(document), nodes_(nodes), slots_(slotMemory), expectedEntries_(expectedEntries) {
        // Sized for every node of the tree and never more than three quarters full, so probing
        // stays short and always meets an empty slot.
        slots_.assign(std::bit_ceil(std::max<std::size_t>(16, expectedEntries + expectedEntries / 3 + 1)), Slot{});
        mask_ = slots_.size() - 1;
    }

    // Keeps the first position given for an identity; false when the identity was already there,
    // is null (null identities are never stored) or the table holds all it was sized for.
    bool insertIfAbsent(const StableId& id, std::uint32_t position) {
        if (id.isNull() || size_ == expectedEntries_) {
            return false;
        }
        const std::size_t hash = StableIdHash{}(id);
        Slot& slot = slots_[slotOf(id, hash)];
        if (slot.occupied()) {
            return false;
        }
        slot = Slot{position + 1, tagOf(hash)};
        ++size_;
        return true;
    }

    // Asks for the slot of `id` ahead of its use. A dense picture's million identities land in
    // random slots of a table far larger than the caches, and waiting on each in turn was most
    // of the build once decoding the document had pushed the table out of them.
    void prefetch(const StableId& id) const { __builtin_prefetch(&slots_[StableIdHash{}(id) & mask_]); }

    [[nodiscard]] std::optional<std::uint32_t> find(const StableId& id) const {
        if (id.isNull()) {
            return std::nullopt;
        }
        const Slot& slot = slots_[slotOf(id, StableIdHash{}(id))];
        return slot.occupied() ? std::optional(slot.positionPlusOne - 1) : std::nullopt;
    }

private:
    static std::uint32_t tagOf(std::size_t hash) { return static_cast<std::uint32_t>(hash >> 32); }

    [[nodiscard]] StableId idAt(const Slot& slot) const {
        return objectIdOf(NodeOf(document_, nodes_[slot.positionPlusOne - 1]));
    }

    // The slot that holds `id`, or the empty slot where it would go.
    [[nodiscard]] std::size_t slotOf(const StableId& id, std::size_t hash) const {
        const std::uint32_t tag = tagOf(hash);
        std::size_t index = hash & mask_;
        while (slots_[index].occupied() && (slots_[index].tag != tag || idAt(slots_[index]) != id)) {
            index = (index + 1) & mask_;
        }
        return index;
    }

    const StreamAnalysis& document_;
    const std::vector<Node>& nodes_;
    std::vector<Slot>& slots_;
    std::size_t mask_ = 0;
    std::size_t size_ = 0;
    std::size_t expectedEntries_ = 0;
};

// Builds the tree in the documented creation order. Each node is registered under its
// identity unless that identity already names an earlier node, so a lookup finds the first
// node created for it; objects whose parent was not created before them go to the root.
class TreeBuilder {
public:
    // Refills `store`, keeping its memory: stepping through pictures rebuilds trees of about
    // the same size, and fresh pages cost more than the build itself.
    TreeBuilder(const StreamAnalysis& document, SyntaxTreeModel::NodeStore& store)
        : document_(document), store_(store), registered_(document, store.nodes, store.positionSlots, nodeCountOf(document)) {
        store_.nodes.clear();
        store_.nodes.reserve(nodeCountOf(document));
        store_.nodes.emplace_back();
        store_.children.clear();
    }

    void build() {
        addNalUnitsWithTheirPayloads();
        addBlocks(document_.ctus, Kind::Ctu, [](const analysis::CtuInfo& ctu) { return ctu.sliceInfoId; });
        addBlocks(document_.cus, Kind::Cu, [](const analysis::CuInfo& cu) {
            return std::optional(cu.parentCuId.value_or(cu.parentCtuId));
        });
        addBlocks(document_.pus, Kind::Pu, [](const analysis::PuInfo& pu) { return std::optional(pu.parentCuId); });
        addBlocks(document_.tus, Kind::Tu, [](const analysis::TuInfo& tu) {
            return std::optional(tu.parentTuId.value_or(tu.parentCuId));
        });
        addBlocks(document_.motionVectors, Kind::MotionVector,
                  [](const analysis::MotionVectorInfo& motionVector) { return std::optional(motionVector.parentPuId); });
        layOutChildren();
        indexFirstVisits();
    }

private:
    // Records of one collection grouped by their carrying NAL unit, in collection order.
    template <typename Record>
    static std::unordered_map<StableId, std::vector<const Record*>, StableIdHash> byNalUnit(
        const std::vector<Record>& records) {
        std::unordered_map<StableId, std::vector<const Record*>, StableIdHash> groups;
        for (const Record& record : records) {
            groups[record.parentNalUnitId].push_back(&record);
        }
        return groups;
    }

    template <typename Record>
    void addCarried(const StableId& nalUnitId, std::uint32_t nalPosition,
                    const std::unordered_map<StableId, std::vector<const Record*>, StableIdHash>& groups, Kind kind) {
        const auto group = groups.find(nalUnitId);
        if (group == groups.end()) {
            return;
        }
        const Record* first = collectionOf<Record>(document_).data();
        for (const Record* record : group->second) {
            addNode(nalPosition, kind, record->id, static_cast<std::uint32_t>(record - first));
        }
    }

    void addNalUnitsWithTheirPayloads() {
        const auto parameterSets = byNalUnit(document_.parameterSets);
        const auto seiMessages = byNalUnit(document_.seiMessages);
        const auto slices = byNalUnit(document_.slices);
        for (std::uint32_t index = 0; index < document_.nalUnits.size(); ++index) {
            const StableId& id = document_.nalUnits[index].id;
            const std::uint32_t nalPosition = addNode(kRootPosition, Kind::NalUnit, id, index);
            addCarried(id, nalPosition, parameterSets, Kind::ParameterSet);
            addCarried(id, nalPosition, seiMessages, Kind::SeiMessage);
            addCarried(id, nalPosition, slices, Kind::Slice);
        }
    }

    template <typename Record, typename ParentKey>
    void addBlocks(const std::vector<Record>& records, Kind kind, ParentKey parentKey) {
        for (std::uint32_t index = 0; index < records.size(); ++index) {
            if (index + kPrefetchDistance < records.size()) {
                const Record& ahead = records[index + kPrefetchDistance];
                registered_.prefetch(ahead.id);
                if (const std::optional<StableId> parent = parentKey(ahead)) {
                    registered_.prefetch(*parent);
                }
            }
            addNode(parentFor(parentKey(records[index])), kind, records[index].id, index);
        }
    }

    // Siblings come one after another (the PUs and TUs of a CU, the vectors of a PU), so the
    // last parent found answers most lookups without touching the table.
    std::uint32_t parentFor(const std::optional<StableId>& key) {
        if (!key.has_value()) {
            return kRootPosition;
        }
        if (lastParent_.has_value() && lastParent_->id == *key) {
            return lastParent_->position;
        }
        // A parent not made yet may be made before the next lookup: only a found one is kept.
        const std::optional<std::uint32_t> position = registered_.find(*key);
        if (!position.has_value()) {
            return kRootPosition;
        }
        lastParent_ = FoundParent{*key, *position};
        return *position;
    }

    std::uint32_t addNode(std::uint32_t parent, Kind kind, const StableId& id, std::uint32_t record) {
        const auto position = static_cast<std::uint32_t>(store_.nodes.size());
        Node& node = store_.nodes.emplace_back();
        node.kind = kind;
        node.record = record;
        node.parent = parent;
        node.row = store_.nodes[parent].childCount++;
        if (!registered_.insertIfAbsent(id, position) && !id.isNull()) {
            sharedIdentities_ = true;
        }
        return position;
    }

    // Every node's children as one run of the children array, in creation order.
    void layOutChildren() {
        std::uint32_t offset = 0;
        for (Node& node : store_.nodes) {
            node.firstChild = offset;
            offset += node.childCount;
        }
        store_.children.resize(offset);
        for (std::uint32_t position = 1; position < store_.nodes.size(); ++position) {
            const Node& node = store_.nodes[position];
            store_.children[store_.nodes[node.parent].firstChild + node.row] = position;
        }
    }

    // Where no identity names two nodes, the one node of an identity is also the first a
    // pre-order walk reaches, and a lookup can walk the nodes instead of keeping a table of a
    // dense picture's million identities; only documents that repeat identities need the walk.
    void indexFirstVisits() {
        store_.firstVisitsIndexed = sharedIdentities_;
        if (!sharedIdentities_) {
            store_.firstVisitById = StableIdTable();
            return;
        }
        store_.firstVisitById.reset(store_.nodes.size());
        const Node& root = store_.nodes.front();
        std::vector<std::uint32_t> pending(store_.children.begin() + root.firstChild,
                                           store_.children.begin() + root.firstChild + root.childCount);
        std::reverse(pending.begin(), pending.end());
        while (!pending.empty()) {
            const std::uint32_t position = pending.back();
            pending.pop_back();
            const Node& node = store_.nodes[position];
            store_.firstVisitById.insertIfAbsent(objectIdOf(NodeOf(document_, node)), position);
            const auto first = store_.children.begin() + node.firstChild;
            pending.insert(pending.end(), std::make_reverse_iterator(first + node.childCount),
                           std::make_reverse_iterator(first));
        }
    }

    const StreamAnalysis& document_;
    SyntaxTreeModel::NodeStore& store_;
    // The node each identity was first given to, for finding the parents of later nodes.
    NodePositionTable registered_;
    struct FoundParent {
        StableId id;
        std::uint32_t position = kRootPosition;
    };
    std::optional<FoundParent> lastParent_;
    bool sharedIdentities_ = false;
};

std::unique_ptr<SyntaxTreeModel::NodeStore> emptyStore() {
    auto store = std::make_unique<SyntaxTreeModel::NodeStore>();
    store->nodes.emplace_back();
    return store;
}

}  // namespace

SyntaxTreeModel::SyntaxTreeModel(QObject* parent)
    : QAbstractItemModel(parent), analysis_(std::make_shared<const StreamAnalysis>()), store_(emptyStore()) {}

SyntaxTreeModel::~SyntaxTreeModel() = default;

void SyntaxTreeModel::setAnalysis(std::shared_ptr<const StreamAnalysis> analysis) {
    beginResetModel();
    analysis_ = analysis ? std::move(analysis) : std::make_shared<const StreamAnalysis>();
    TreeBuilder(*analysis_, *store_).build();
    endResetModel();
}

void SyntaxTreeModel::clear() {
    beginResetModel();
    analysis_ = std::make_shared<const StreamAnalysis>();
    store_ = emptyStore();
    endResetModel();
}

QModelIndex SyntaxTreeModel::indexOf(const SyntaxTreeNode& node) const {
    return createIndex(static_cast<int>(node.row), 0, const_cast<SyntaxTreeNode*>(&node));
}

QModelIndex SyntaxTreeModel::indexForObject(const StableId& id) const {
    if (store_->firstVisitsIndexed) {
        const std::optional<std::uint32_t> position = store_->firstVisitById.find(id);
        return position.has_value() ? indexOf(store_->nodes[*position]) : QModelIndex();
    }
    if (id.isNull()) {
        return {};
    }
    const auto& nodes = store_->nodes;
    const auto found = std::find_if(nodes.begin() + 1, nodes.end(),
                                    [&](const SyntaxTreeNode& node) { return objectIdOf(NodeOf(*analysis_, node)) == id; });
    return found != nodes.end() ? indexOf(*found) : QModelIndex();
}

std::optional<StableId> SyntaxTreeModel::objectIdAt(const QModelIndex& index) const {
    const SyntaxTreeNode* node = nodeOf(index);
    if (node == nullptr || node == &store_->root()) {
        return std::nullopt;
    }
    const StableId id = objectIdOf(NodeOf(*analysis_, *node));
    return id.isNull() ? std::nullopt : std::optional(id);
}

std::optional<domain::PictureId> SyntaxTreeModel::pictureIdAt(const QModelIndex& index) const {
    const SyntaxTreeNode* node = nodeOf(index);
    return node != nullptr && node != &store_->root() ? pictureIdOf(NodeOf(*analysis_, *node)) : std::nullopt;
}

const SyntaxTreeModel::SyntaxTreeNode* SyntaxTreeModel::nodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<const SyntaxTreeNode*>(index.internalPointer()) : &store_->root();
}

QModelIndex SyntaxTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= kColumnCount) {
        return {};
    }
    const SyntaxTreeNode* parentNode = nodeOf(parent);
    const SyntaxTreeNode* child =
        parentNode != nullptr ? store_->child(*parentNode, static_cast<std::size_t>(row)) : nullptr;
    return child != nullptr ? createIndex(row, column, const_cast<SyntaxTreeNode*>(child)) : QModelIndex();
}

QModelIndex SyntaxTreeModel::parent(const QModelIndex& index) const {
    const SyntaxTreeNode* node = nodeOf(index);
    if (node == nullptr || node == &store_->root() || node->parent == kRootPosition) {
        return {};
    }
    return indexOf(store_->nodes[node->parent]);
}

int SyntaxTreeModel::rowCount(const QModelIndex& parent) const {
    // Only the first column has children, as Qt's views and the model tester expect.
    if (parent.column() > 0) {
        return 0;
    }
    const SyntaxTreeNode* node = nodeOf(parent);
    return node != nullptr ? static_cast<int>(node->childCount) : 0;
}

int SyntaxTreeModel::columnCount(const QModelIndex&) const { return kColumnCount; }

bool SyntaxTreeModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

QVariant SyntaxTreeModel::data(const QModelIndex& index, int role) const {
    const SyntaxTreeNode* node = index.isValid() ? nodeOf(index) : nullptr;
    if (node == nullptr || node == &store_->root()) {
        return {};
    }
    const NodeOf shown(*analysis_, *node);
    switch (role) {
    case Qt::DisplayRole:
        return index.column() >= 0 && index.column() < kColumnCount ? QVariant(columnText(shown, index.column()))
                                                                    : QVariant();
    case KindRole:
        return static_cast<int>(node->kind);
    case ObjectIdHighRole:
        return QVariant::fromValue(static_cast<qulonglong>(objectIdOf(shown).high));
    case ObjectIdLowRole:
        return QVariant::fromValue(static_cast<qulonglong>(objectIdOf(shown).low));
    case PictureIdRole: {
        const std::optional<domain::PictureId> pictureId = pictureIdOf(shown);
        return pictureId.has_value() ? QVariant::fromValue(static_cast<qulonglong>(*pictureId)) : QVariant();
    }
    case SecondaryValueRole: {
        const std::optional<std::int64_t> value = secondaryValueOf(shown);
        return value.has_value() ? QVariant::fromValue(static_cast<qlonglong>(*value)) : QVariant();
    }
    default:
        return {};
    }
}

QVariant SyntaxTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount) {
        return {};
    }
    return QString::fromLatin1(kHeaders[static_cast<std::size_t>(section)]);
}

}  // namespace vexilo
