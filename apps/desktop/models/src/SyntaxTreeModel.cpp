#include "vexilo/models/SyntaxTreeModel.h"

#include "vexilo/models/DisplayFormat.h"

#include <array>
#include <vector>

namespace vexilo {

struct SyntaxTreeModel::SyntaxTreeNode {
    SyntaxTreeNodeKind kind = SyntaxTreeNodeKind::Root;
    analysis::StableId objectId{};
    std::optional<domain::PictureId> pictureId;
    std::optional<std::int64_t> secondaryValue;
    std::array<QString, kColumnCount> texts;
    SyntaxTreeNode* parent = nullptr;
    int row = 0;
    std::vector<std::unique_ptr<SyntaxTreeNode>> children;
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

constexpr std::array<const char*, SyntaxTreeModel::kColumnCount> kHeaders{"Syntax object", "Summary", "Presence",
                                                                          "Status", "Meaning"};

QString nalKindLabel(std::uint8_t kind) {
    return kind >= 1 && kind <= 7 ? display::nalUnitKindText(kind) : QStringLiteral("Unknown NAL");
}

QString parameterSetLabel(std::uint8_t kind) {
    return kind >= 1 && kind <= 3 ? display::parameterSetKindText(kind) : QStringLiteral("Parameter set");
}

QString geometryText(const analysis::BlockRect& bounds) {
    return QStringLiteral("x=%1 y=%2 %3x%4")
        .arg(decimalText(bounds.x), decimalText(bounds.y), decimalText(bounds.width), decimalText(bounds.height));
}

QString parsedOrPartial(bool parsed, const char* parsedText) {
    return parsed ? QString::fromLatin1(parsedText) : QStringLiteral("partial");
}

QString listText(analysis::ReferenceList list) {
    switch (list) {
    case analysis::ReferenceList::L0: return QStringLiteral("L0");
    case analysis::ReferenceList::L1: return QStringLiteral("L1");
    default: return QStringLiteral("unknown");
    }
}

QString seiStatusWord(analysis::SeiStatus status) {
    const auto code = codeOf(status);
    return code >= 1 && code <= 3 ? display::seiStatusText(code) : QStringLiteral("unknown");
}

std::array<QString, SyntaxTreeModel::kColumnCount> texts(QString object, QString summary, const char* presence,
                                                         QString status, const char* meaning) {
    return {std::move(object), std::move(summary), QString::fromLatin1(presence), std::move(status),
            QString::fromLatin1(meaning)};
}

std::array<QString, SyntaxTreeModel::kColumnCount> textsOf(const analysis::NalUnitInfo& nalUnit) {
    return texts(nalKindLabel(codeOf(nalUnit.kind)),
                 QStringLiteral("type=%1 offset=%2 size=%3")
                     .arg(formatOptionalUInt8(nalUnit.nalUnitType), decimalText(nalUnit.byteOffset),
                          decimalText(nalUnit.byteSize)),
                 "Annex-B NAL unit", parsedOrPartial(nalUnit.byteSpanReliable, "present"),
                 "HEVC NAL header and byte span");
}

std::array<QString, SyntaxTreeModel::kColumnCount> textsOf(const analysis::ParameterSetInfo& parameterSet) {
    return texts(parameterSetLabel(codeOf(parameterSet.kind)),
                 QStringLiteral("id=%1 profile=%2 size=%3x%4")
                     .arg(display::formatOptionalUInt16(parameterSet.parameterSetId),
                          decimalText(codeOf(parameterSet.profile)), formatOptionalUInt32(parameterSet.width),
                          formatOptionalUInt32(parameterSet.height)),
                 "NAL kind VPS/SPS/PPS", QStringLiteral("present"), "Parameter-set syntax parsed from bitstream");
}

std::array<QString, SyntaxTreeModel::kColumnCount> textsOf(const analysis::SeiMessageInfo& sei) {
    return texts(QStringLiteral("SEI"),
                 QStringLiteral("payload_type=%1 size=%2")
                     .arg(formatOptionalUInt32(sei.payloadType), display::formatOptionalUInt64(sei.payloadSize)),
                 "NAL kind prefix/suffix SEI", seiStatusWord(sei.status),
                 "SEI payload summary; unsupported payloads are not expanded");
}

std::array<QString, SyntaxTreeModel::kColumnCount> textsOf(const analysis::SliceInfo& slice) {
    return texts(QStringLiteral("Slice"),
                 QStringLiteral("type=%1 poc=%2 first_ctu=%3")
                     .arg(display::sliceTypeText(codeOf(slice.type)), formatOptionalInt32(slice.poc),
                          formatOptionalUInt32(slice.firstCtuAddress)),
                 "NAL kind VCL slice", parsedOrPartial(slice.parseStatus == analysis::ParseStatus::Parsed, "present"),
                 "Slice header and derived decoder state");
}

std::array<QString, SyntaxTreeModel::kColumnCount> textsOf(const analysis::CtuInfo& ctu) {
    return texts(QStringLiteral("CTU"),
                 QStringLiteral("RS=%1 TS=%2 %3")
                     .arg(formatOptionalUInt32(ctu.ctuAddressRs), formatOptionalUInt32(ctu.ctuAddressTs),
                          geometryText(ctu.bounds)),
                 "coding tree", QStringLiteral("derived"), "CTU overlay/hit-test object");
}

bool parsed(analysis::BlockParseStatus status) { return status == analysis::BlockParseStatus::Parsed; }

std::array<QString, SyntaxTreeModel::kColumnCount> textsOf(const analysis::CuInfo& cu) {
    return texts(QStringLiteral("CU"),
                 QStringLiteral("%1 depth=%2 qp=%3 %4")
                     .arg(display::predictionModeText(codeOf(cu.predictionMode)), formatOptionalUInt8(cu.depth),
                          formatOptionalInt16(cu.qp), geometryText(cu.bounds)),
                 "coding quadtree", parsedOrPartial(parsed(cu.parseStatus), "derived"), "CU overlay/hit-test object");
}

std::array<QString, SyntaxTreeModel::kColumnCount> textsOf(const analysis::PuInfo& pu) {
    return texts(QStringLiteral("PU"),
                 QStringLiteral("part=%1 mode=%2 refL0=%3 refL1=%4 %5")
                     .arg(decimalText(pu.partIndex), display::partModeText(codeOf(pu.partitionMode)),
                          formatOptionalInt8(pu.refIdxL0), formatOptionalInt8(pu.refIdxL1), geometryText(pu.bounds)),
                 "prediction unit", parsedOrPartial(parsed(pu.parseStatus), "derived"), "PU overlay/hit-test object");
}

std::array<QString, SyntaxTreeModel::kColumnCount> textsOf(const analysis::TuInfo& tu) {
    return texts(QStringLiteral("TU"),
                 QStringLiteral("depth=%1 qp=%2 cbfY=%3 %4")
                     .arg(formatOptionalUInt8(tu.depth), formatOptionalInt16(tu.qp),
                          display::formatOptionalBool(tu.cbfLuma), geometryText(tu.bounds)),
                 "transform tree", parsedOrPartial(parsed(tu.parseStatus), "derived"), "TU overlay/hit-test object");
}

std::array<QString, SyntaxTreeModel::kColumnCount> textsOf(const analysis::MotionVectorInfo& motionVector) {
    return texts(QStringLiteral("MV"),
                 QStringLiteral("%1 x=%2 y=%3 refPoc=%4")
                     .arg(listText(motionVector.list), formatOptionalInt32(motionVector.mvX),
                          formatOptionalInt32(motionVector.mvY), formatOptionalInt32(motionVector.referencePoc)),
                 "motion vector", QStringLiteral("derived"),
                 "MV overlay object; coordinates are quarter-luma samples");
}

std::optional<domain::PictureId> pictureIdOf(const std::optional<std::uint64_t>& pictureId) {
    return pictureId.has_value() ? std::optional(static_cast<domain::PictureId>(*pictureId)) : std::nullopt;
}

// Builds the tree in the documented creation order. Each node is registered under its
// identity unless that identity already names an earlier node, so a lookup finds the first
// node created for it; objects whose parent was not created before them go to the root.
class TreeBuilder {
public:
    TreeBuilder(const StreamAnalysis& document, Node& root) : document_(document), root_(root) {}

    void build() {
        addNalUnitsWithTheirPayloads();
        addBlocks(document_.ctus, SyntaxTreeNodeKind::Ctu,
                  [](const analysis::CtuInfo& ctu) { return ctu.sliceInfoId; });
        addBlocks(document_.cus, SyntaxTreeNodeKind::Cu, [](const analysis::CuInfo& cu) {
            return std::optional(cu.parentCuId.value_or(cu.parentCtuId));
        });
        addBlocks(document_.pus, SyntaxTreeNodeKind::Pu,
                  [](const analysis::PuInfo& pu) { return std::optional(pu.parentCuId); });
        addBlocks(document_.tus, SyntaxTreeNodeKind::Tu, [](const analysis::TuInfo& tu) {
            return std::optional(tu.parentTuId.value_or(tu.parentCuId));
        });
        addBlocks(document_.motionVectors, SyntaxTreeNodeKind::MotionVector,
                  [](const analysis::MotionVectorInfo& motionVector) { return std::optional(motionVector.parentPuId); });
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
    void addCarried(Node& nalNode, const std::unordered_map<StableId, std::vector<const Record*>, StableIdHash>& groups,
                    SyntaxTreeNodeKind kind) {
        const auto group = groups.find(nalNode.objectId);
        if (group == groups.end()) {
            return;
        }
        for (const Record* record : group->second) {
            Node& node = addNode(nalNode, kind, record->id, textsOf(*record));
            if constexpr (requires { record->pictureId; }) {
                node.pictureId = pictureIdOf(record->pictureId);
            }
            if constexpr (std::is_same_v<Record, analysis::SliceInfo>) {
                node.secondaryValue = record->displayIndex;
            }
        }
    }

    void addNalUnitsWithTheirPayloads() {
        const auto parameterSets = byNalUnit(document_.parameterSets);
        const auto seiMessages = byNalUnit(document_.seiMessages);
        const auto slices = byNalUnit(document_.slices);
        for (const analysis::NalUnitInfo& nalUnit : document_.nalUnits) {
            Node& nalNode = addNode(root_, SyntaxTreeNodeKind::NalUnit, nalUnit.id, textsOf(nalUnit));
            nalNode.pictureId = pictureIdOf(nalUnit.pictureId);
            addCarried(nalNode, parameterSets, SyntaxTreeNodeKind::ParameterSet);
            addCarried(nalNode, seiMessages, SyntaxTreeNodeKind::SeiMessage);
            addCarried(nalNode, slices, SyntaxTreeNodeKind::Slice);
        }
    }

    template <typename Record, typename ParentKey>
    void addBlocks(const std::vector<Record>& records, SyntaxTreeNodeKind kind, ParentKey parentKey) {
        for (const Record& record : records) {
            addNode(parentFor(parentKey(record)), kind, record.id, textsOf(record));
        }
    }

    Node& parentFor(const std::optional<StableId>& key) {
        if (!key.has_value()) {
            return root_;
        }
        const auto found = registered_.find(*key);
        return found != registered_.end() ? *found->second : root_;
    }

    Node& addNode(Node& parent, SyntaxTreeNodeKind kind, const StableId& id,
                  std::array<QString, SyntaxTreeModel::kColumnCount> nodeTexts) {
        auto node = std::make_unique<Node>();
        node->kind = kind;
        node->objectId = id;
        node->texts = std::move(nodeTexts);
        node->parent = &parent;
        node->row = static_cast<int>(parent.children.size());
        Node& added = *node;
        parent.children.push_back(std::move(node));
        if (!id.isNull()) {
            registered_.try_emplace(id, &added);
        }
        return added;
    }

    const StreamAnalysis& document_;
    Node& root_;
    std::unordered_map<StableId, Node*, StableIdHash> registered_;
};

}  // namespace

SyntaxTreeModel::SyntaxTreeModel(QObject* parent)
    : QAbstractItemModel(parent),
      analysis_(std::make_shared<const StreamAnalysis>()),
      root_(std::make_unique<SyntaxTreeNode>()) {}

SyntaxTreeModel::~SyntaxTreeModel() = default;

void SyntaxTreeModel::setAnalysis(std::shared_ptr<const StreamAnalysis> analysis) {
    beginResetModel();
    analysis_ = analysis ? std::move(analysis) : std::make_shared<const StreamAnalysis>();
    root_ = std::make_unique<SyntaxTreeNode>();
    TreeBuilder(*analysis_, *root_).build();
    indexFirstVisits();
    endResetModel();
}

void SyntaxTreeModel::clear() {
    beginResetModel();
    analysis_ = std::make_shared<const StreamAnalysis>();
    root_ = std::make_unique<SyntaxTreeNode>();
    firstVisitById_.clear();
    endResetModel();
}

void SyntaxTreeModel::indexFirstVisits() {
    firstVisitById_.clear();
    std::vector<SyntaxTreeNode*> pending;
    for (auto child = root_->children.rbegin(); child != root_->children.rend(); ++child) {
        pending.push_back(child->get());
    }
    while (!pending.empty()) {
        SyntaxTreeNode* node = pending.back();
        pending.pop_back();
        if (!node->objectId.isNull()) {
            firstVisitById_.try_emplace(node->objectId, node);
        }
        for (auto child = node->children.rbegin(); child != node->children.rend(); ++child) {
            pending.push_back(child->get());
        }
    }
}

QModelIndex SyntaxTreeModel::indexForObject(const StableId& id) const {
    if (id.isNull() || root_ == nullptr) {
        return {};
    }
    const auto found = firstVisitById_.find(id);
    if (found == firstVisitById_.end()) {
        return {};
    }
    return createIndex(found->second->row, 0, found->second);
}

std::optional<StableId> SyntaxTreeModel::objectIdAt(const QModelIndex& index) const {
    const SyntaxTreeNode* node = nodeOf(index);
    if (node == nullptr || node == root_.get() || node->objectId.isNull()) {
        return std::nullopt;
    }
    return node->objectId;
}

std::optional<domain::PictureId> SyntaxTreeModel::pictureIdAt(const QModelIndex& index) const {
    const SyntaxTreeNode* node = nodeOf(index);
    return node != nullptr ? node->pictureId : std::nullopt;
}

SyntaxTreeModel::SyntaxTreeNode* SyntaxTreeModel::nodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<SyntaxTreeNode*>(index.internalPointer()) : root_.get();
}

QModelIndex SyntaxTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= kColumnCount) {
        return {};
    }
    const SyntaxTreeNode* parentNode = nodeOf(parent);
    if (parentNode == nullptr || static_cast<std::size_t>(row) >= parentNode->children.size()) {
        return {};
    }
    return createIndex(row, column, parentNode->children[static_cast<std::size_t>(row)].get());
}

QModelIndex SyntaxTreeModel::parent(const QModelIndex& index) const {
    const SyntaxTreeNode* node = nodeOf(index);
    if (node == nullptr || node == root_.get() || node->parent == nullptr || node->parent == root_.get()) {
        return {};
    }
    return createIndex(node->parent->row, 0, node->parent);
}

int SyntaxTreeModel::rowCount(const QModelIndex& parent) const {
    // Only the first column has children, as Qt's views and the model tester expect.
    if (parent.column() > 0) {
        return 0;
    }
    const SyntaxTreeNode* node = nodeOf(parent);
    return node != nullptr ? static_cast<int>(node->children.size()) : 0;
}

int SyntaxTreeModel::columnCount(const QModelIndex&) const { return kColumnCount; }

bool SyntaxTreeModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

QVariant SyntaxTreeModel::data(const QModelIndex& index, int role) const {
    const SyntaxTreeNode* node = index.isValid() ? nodeOf(index) : nullptr;
    if (node == nullptr || node == root_.get()) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return index.column() >= 0 && index.column() < kColumnCount
                   ? QVariant(node->texts[static_cast<std::size_t>(index.column())])
                   : QVariant();
    case KindRole:
        return static_cast<int>(node->kind);
    case ObjectIdHighRole:
        return QVariant::fromValue(static_cast<qulonglong>(node->objectId.high));
    case ObjectIdLowRole:
        return QVariant::fromValue(static_cast<qulonglong>(node->objectId.low));
    case PictureIdRole:
        return node->pictureId.has_value() ? QVariant::fromValue(static_cast<qulonglong>(*node->pictureId))
                                           : QVariant();
    case SecondaryValueRole:
        return node->secondaryValue.has_value() ? QVariant::fromValue(static_cast<qlonglong>(*node->secondaryValue))
                                                : QVariant();
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
