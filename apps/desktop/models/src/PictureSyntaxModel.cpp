#include "vexilo/models/PictureSyntaxModel.h"

#include "NalUnitIndex.h"
#include "SyntaxBranches.h"
#include "SyntaxRowBuilders.h"
#include "SyntaxRowFormat.h"

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/models/HevcSyntaxEntry.h"

#include <QByteArray>

#include <array>
#include <deque>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace vexilo {
namespace {

enum Column { SyntaxColumn, ValueColumn, CodingColumn, ConditionColumn, StatusColumn, SemanticsColumn, SpecColumn };
constexpr int kColumnCount = 7;
constexpr std::array<const char*, kColumnCount> kColumnHeaders{"Syntax", "Value", "Coding", "Condition",
                                                               "Status", "Semantics", "Spec"};

constexpr std::array<std::string_view, 8> kTopLevelSyntaxNames{
    "nal_unit()", "video_parameter_set_rbsp()", "seq_parameter_set_rbsp()", "pic_parameter_set_rbsp()",
    "sei_rbsp()", "slice_segment_header()", "analysis_data()", "syntax_table()"};

constexpr const char* kSeiMessageName = "sei_message()";
constexpr const char* kSeiPayloadCall = "sei_payload(";
constexpr const char* kTrailingBitsName = "rbsp_trailing_bits()";
constexpr const char* kCurrentPictureAnalysis = "current PictureAnalysis";
constexpr const char* kConditionStatus = "condition";
constexpr const char* kLayerSetLoopCondition = "vps layer-set loop";
constexpr const char* kLayerSetLoop = "for( i = 1; i <= vps_num_layer_sets_minus1; i++ )";
constexpr const char* kLayerMembershipLoop = "for( j = 0; j <= vps_max_layer_id; j++ )";

bool isTopLevelSyntaxName(const QString& syntax)
{
    for (const std::string_view name : kTopLevelSyntaxNames) {
        if (syntax == QLatin1String(name.data(), static_cast<qsizetype>(name.size()))) {
            return true;
        }
    }
    return false;
}

const HevcSyntaxEntry* catalogueEntryOf(const QString& syntax)
{
    const QByteArray name = syntax.toUtf8();
    return findHevcSyntaxEntry(std::string_view(name.constData(), static_cast<std::size_t>(name.size())));
}


}  // namespace

// The catalogue entries of the names of one tree: a tree repeats the same names for every
// parameter set and slice, so each distinct name is looked up once.
class CatalogueEntries {
public:
    const HevcSyntaxEntry* of(const QString& syntax)
    {
        // Most names are shared texts, found by their data before they are hashed.
        const auto [shared, sharedInserted] = bySharedText_.try_emplace(syntax.constData(), nullptr);
        if (sharedInserted) {
            const auto [entry, inserted] = byText_.try_emplace(syntax, nullptr);
            if (inserted) {
                entry->second = catalogueEntryOf(syntax);
            }
            shared->second = entry->second;
        }
        return shared->second;
    }

private:
    std::unordered_map<const QChar*, const HevcSyntaxEntry*> bySharedText_;
    std::unordered_map<QString, const HevcSyntaxEntry*> byText_;
};

struct PictureSyntaxNode {
    SyntaxRow row;
    PictureSyntaxNode* parent = nullptr;
    int position = 0;  // among its siblings
    std::vector<PictureSyntaxNode*> children;
    const HevcSyntaxEntry* entry = nullptr;        // of its own name
    const HevcSyntaxEntry* clauseEntry = nullptr;  // its own, else along the first-child chain
    // A top-level row whose structure is not folded yet: the structure's position in the
    // model's list, and whether folding it gives the row children.
    int pendingStructure = -1;
    bool pendingHasChildren = false;
};

// Folds the flat rows into top-level structures, containers and branch groups.
class PictureSyntaxModel::RowFolder {
public:
    RowFolder(std::deque<SyntaxNode>& nodes, std::vector<SyntaxNode*>& roots) : nodes_(nodes), roots_(&roots) {}

    // Folds the rows after a structure's own row below that row, which is already a node.
    RowFolder(std::deque<SyntaxNode>& nodes, SyntaxNode& root) : nodes_(nodes), root_(&root) {}

    void fold(SyntaxRow row)
    {
        const QString& syntax = row.syntax;
        if (roots_ != nullptr && isTopLevelSyntaxName(syntax)) {
            startRoot(std::move(row));
            return;
        }
        if (root_ == nullptr) {
            startRoot({QStringLiteral("syntax()"), {}, {}, QStringLiteral("present"), {}});
        }
        const bool trailingBits = syntax == QLatin1String(kTrailingBitsName);
        if (const syntaxrows::SyntaxContainer* kind = syntaxrows::containerOpenedBy(syntax)) {
            container_ = kind;
            containerNode_ = foldByCondition(root_, std::move(row));
            return;
        }
        if (containerNode_ != nullptr && !trailingBits && syntaxrows::containerHolds(*container_, row.condition)) {
            foldByCondition(containerNode_, std::move(row));
            return;
        }
        containerNode_ = nullptr;
        if (syntax == QLatin1String(kSeiMessageName)) {
            seiMessage_ = append(root_, std::move(row));
            seiPayload_ = nullptr;
            return;
        }
        if (seiMessage_ != nullptr && syntax.startsWith(QLatin1String(kSeiPayloadCall))) {
            seiPayload_ = append(seiMessage_, std::move(row));
            return;
        }
        if (seiPayload_ != nullptr && !trailingBits) {
            append(seiPayload_, std::move(row));
            return;
        }
        if (seiMessage_ != nullptr && !trailingBits) {
            foldByCondition(seiMessage_, std::move(row));
            return;
        }
        seiMessage_ = nullptr;
        seiPayload_ = nullptr;
        foldByCondition(root_, std::move(row));
    }

private:
    void startRoot(SyntaxRow row)
    {
        SyntaxNode& node = nodes_.emplace_back();
        node.row = std::move(row);
        node.position = static_cast<int>(roots_->size());
        root_ = &node;
        roots_->push_back(&node);
        containerNode_ = seiMessage_ = seiPayload_ = nullptr;
        groups_.clear();
    }

    SyntaxNode* append(SyntaxNode* parent, SyntaxRow row)
    {
        SyntaxNode& node = nodes_.emplace_back();
        node.row = std::move(row);
        node.parent = parent;
        node.position = static_cast<int>(parent->children.size());
        parent->children.push_back(&node);
        return &node;
    }

    // Branches are told apart by the conditions that lead into them, not by their text: the
    // tables write two loops of one text one after the other.
    SyntaxNode* groupNode(SyntaxNode* parent, const QString& key, const QString& condition, const char* semantics)
    {
        const auto found = groups_.find({parent, condition});
        if (found != groups_.end()) {
            return found->second;
        }
        SyntaxNode* group = append(parent, {key, {}, condition, syntaxrows::internedText(kConditionStatus),
                                            syntaxrows::internedText(semantics)});
        groups_.emplace(std::make_pair(parent, condition), group);
        return group;
    }

    SyntaxNode* foldByCondition(SyntaxNode* parent, SyntaxRow row)
    {
        if (row.condition == QLatin1String(kLayerSetLoopCondition)) {
            SyntaxNode* group = groupNode(parent, syntaxrows::internedText(kLayerSetLoop), row.condition,
                                          "VPS layer-set syntax loop");
            SyntaxNode* inner = nullptr;
            if (!group->children.empty() && group->children.front()->row.syntax == QLatin1String(kLayerMembershipLoop)) {
                inner = group->children.front();
            } else {
                inner = append(group, {syntaxrows::internedText(kLayerMembershipLoop), {}, row.condition,
                                       syntaxrows::internedText(kConditionStatus),
                                       QStringLiteral("VPS layer-membership syntax loop")});
            }
            return append(inner, std::move(row));
        }
        for (const syntaxrows::BranchStep& step : branchPathOf(row.condition)) {
            parent = groupNode(parent, step.key, step.condition, "Conditional syntax branch from Rec. ITU-T H.265");
        }
        return append(parent, std::move(row));
    }

    std::deque<SyntaxNode>& nodes_;
    std::vector<SyntaxNode*>* roots_ = nullptr;  // null while folding one structure below its row
    SyntaxNode* root_ = nullptr;
    // The open structure whose rows nest below its own row, and that row.
    const syntaxrows::SyntaxContainer* container_ = nullptr;
    SyntaxNode* containerNode_ = nullptr;
    SyntaxNode* seiMessage_ = nullptr;
    SyntaxNode* seiPayload_ = nullptr;
    // A branch group per enclosing node: the same branch can open again inside another one.
    std::map<std::pair<const SyntaxNode*, QString>, SyntaxNode*> groups_;
    // Conditions are shared texts: their branch paths are worked out once per text.
    std::unordered_map<const QChar*, syntaxrows::BranchPath> branchPaths_;

    const syntaxrows::BranchPath& branchPathOf(const QString& condition)
    {
        const auto [entry, inserted] = branchPaths_.try_emplace(condition.constData());
        if (inserted) {
            entry->second = syntaxrows::conditionBranchPath(condition);
        }
        return entry->second;
    }
};

struct PictureSyntaxModel::NodePool {
    std::deque<SyntaxNode> nodes;
    // The structures whose top-level rows are shown; each folds its other rows on demand.
    std::vector<syntaxrows::SyntaxStructure> structures;
};

PictureSyntaxModel::PictureSyntaxModel(Section section, QObject* parent)
    : QAbstractItemModel(parent), section_(section), nodes_(std::make_unique<NodePool>()),
      nalUnitsById_(std::make_unique<NalUnitIndex>())
{
}

PictureSyntaxModel::~PictureSyntaxModel() = default;

QModelIndex PictureSyntaxModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= kColumnCount) {
        return {};
    }
    const std::vector<SyntaxNode*>* candidates = &roots_;
    if (parent.isValid()) {
        SyntaxNode* parentNode = nodeOf(parent);
        if (parent.column() != 0 || parentNode == nullptr) {
            return {};
        }
        foldPendingStructure(*parentNode);
        candidates = &parentNode->children;
    }
    if (static_cast<std::size_t>(row) >= candidates->size()) {
        return {};
    }
    return createIndex(row, column, (*candidates)[static_cast<std::size_t>(row)]);
}

QModelIndex PictureSyntaxModel::parent(const QModelIndex& index) const
{
    const SyntaxNode* node = index.isValid() ? nodeOf(index) : nullptr;
    if (node == nullptr || node->parent == nullptr) {
        return {};
    }
    return createIndex(node->parent->position, 0, node->parent);
}

int PictureSyntaxModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid()) {
        return static_cast<int>(roots_.size());
    }
    SyntaxNode* node = nodeOf(parent);
    if (parent.column() != 0 || node == nullptr) {
        return 0;
    }
    foldPendingStructure(*node);
    return static_cast<int>(node->children.size());
}

int PictureSyntaxModel::columnCount(const QModelIndex&) const { return kColumnCount; }

// Answered without folding: a view asks this of every row it lays out, open or not.
bool PictureSyntaxModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid()) {
        return !roots_.empty();
    }
    const SyntaxNode* node = nodeOf(parent);
    if (parent.column() != 0 || node == nullptr) {
        return false;
    }
    return node->pendingStructure >= 0 ? node->pendingHasChildren : !node->children.empty();
}

// Rows that never have children say so, so that expanding a whole tree keeps no state for them.
Qt::ItemFlags PictureSyntaxModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractItemModel::flags(index);
    if (index.isValid() && !hasChildren(index.siblingAtColumn(0))) {
        flags |= Qt::ItemNeverHasChildren;
    }
    return flags;
}

QVariant PictureSyntaxModel::data(const QModelIndex& index, int role) const
{
    const SyntaxNode* node = index.isValid() && role == Qt::DisplayRole ? nodeOf(index) : nullptr;
    if (node == nullptr) {
        return {};
    }
    switch (index.column()) {
    case SyntaxColumn:
        return node->row.syntax;
    case ValueColumn:
        return node->row.value;
    case CodingColumn:
        return node->entry != nullptr ? QString::fromUtf8(node->entry->descriptor.data(),
                                                          static_cast<qsizetype>(node->entry->descriptor.size()))
                                      : QString();
    case ConditionColumn:
        return node->row.condition;
    case StatusColumn:
        return node->row.status;
    case SemanticsColumn:
        if (node->entry != nullptr && !node->entry->description.empty()) {
            return QString::fromUtf8(node->entry->description.data(),
                                     static_cast<qsizetype>(node->entry->description.size()));
        }
        return node->row.semantics;
    case SpecColumn:
        if (node->clauseEntry != nullptr) {
            return QString::fromUtf8(node->clauseEntry->specReference.data(),
                                     static_cast<qsizetype>(node->clauseEntry->specReference.size()));
        }
        return {};
    default:
        return {};
    }
}

QVariant PictureSyntaxModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount) {
        return {};
    }
    return syntaxrows::internedText(kColumnHeaders[static_cast<std::size_t>(section)]);
}

std::size_t PictureSyntaxModel::madeRowCount() const { return nodes_->nodes.size(); }

void PictureSyntaxModel::clear() { replaceContent(nullptr, std::nullopt, {}); }

void PictureSyntaxModel::setAnalysis(std::shared_ptr<const analysis::StreamAnalysis> analysis,
                                     domain::PictureId pictureId)
{
    replaceContent(analysis ? std::move(analysis) : std::make_shared<const analysis::StreamAnalysis>(), pictureId,
                   {});
}

void PictureSyntaxModel::showAnalysisStatus(const QString& message, const QString& status)
{
    replaceContent(nullptr, std::nullopt,
                   {{QStringLiteral("analysis_data()"), message, syntaxrows::internedText(kCurrentPictureAnalysis),
                     status, QStringLiteral("Run Analyze Stream to populate syntax values from the repository")}});
}

// The nodes not yet folded read the held document when a view first opens them, and a view may
// still walk the old tree while it hears that the reset begins: the document is swapped only
// once the reset has begun and the old nodes are gone.
void PictureSyntaxModel::replaceContent(std::shared_ptr<const analysis::StreamAnalysis> analysis,
                                        std::optional<domain::PictureId> pictureId, std::vector<SyntaxRow> rows)
{
    beginResetModel();
    resetNodes();
    analysis_ = std::move(analysis);
    pictureId_ = pictureId;
    if (analysis_) {
        nalUnitsById_->rebuild(analysis_->nalUnits);
        rebuild();
    } else {
        nalUnitsById_->clear();
        setRows(std::move(rows));
    }
    endResetModel();
}

const NalUnitIndex& PictureSyntaxModel::nalUnits() const { return *nalUnitsById_; }

const analysis::NalUnitInfo* PictureSyntaxModel::nalUnitById(const analysis::StableId& id) const
{
    return nalUnitsById_->find(id);
}

bool PictureSyntaxModel::belongsToShownPicture(const std::optional<std::uint64_t>& recordPictureId) const
{
    return !pictureId_ || !recordPictureId || static_cast<std::uint64_t>(*pictureId_) == *recordPictureId;
}

void PictureSyntaxModel::rebuild()
{
    std::vector<SyntaxRow> rows;
    std::vector<syntaxrows::SyntaxStructure> structures;
    switch (section_) {
    case Section::NalUnits:
        structures = syntaxrows::nalUnitStructures(*this);
        break;
    case Section::Vps:
        structures = syntaxrows::parameterSetStructures(*this, analysis::ParameterSetKind::Vps);
        break;
    case Section::Sps:
        structures = syntaxrows::parameterSetStructures(*this, analysis::ParameterSetKind::Sps);
        break;
    case Section::Pps:
        structures = syntaxrows::parameterSetStructures(*this, analysis::ParameterSetKind::Pps);
        break;
    case Section::Sei:
        syntaxrows::buildSeiSyntax(*this, rows);
        break;
    case Section::SliceHeader:
        syntaxrows::buildSliceHeaderSyntax(*this, rows);
        break;
    }
    if (!structures.empty()) {
        setStructures(std::move(structures));
        return;
    }
    if (rows.empty()) {
        rows.push_back({QStringLiteral("syntax_table()"), QStringLiteral("N/A"),
                        syntaxrows::internedText(kCurrentPictureAnalysis), QStringLiteral("unknown"),
                        QStringLiteral("No matching syntax records were present in this payload")});
    }
    setRows(std::move(rows));
}

void PictureSyntaxModel::resetNodes()
{
    roots_.clear();
    nodes_->nodes.clear();
    nodes_->structures.clear();
}

void PictureSyntaxModel::setRows(std::vector<SyntaxRow> rows)
{
    RowFolder folder(nodes_->nodes, roots_);
    for (SyntaxRow& row : rows) {
        folder.fold(std::move(row));
    }
    CatalogueEntries entries;
    for (SyntaxNode* root : roots_) {
        resolveCatalogueEntries(*root, entries);
    }
}

// Only each structure's own row is kept here; its other rows are folded when a view first asks
// for them. Every row after the first folds below it, so the row has children when there are
// any; its clause is its own name's, or when the catalogue lacks the name, its first child's.
void PictureSyntaxModel::setStructures(std::vector<syntaxrows::SyntaxStructure> structures)
{
    nodes_->structures = std::move(structures);
    std::vector<SyntaxRow> rows;
    CatalogueEntries entries;
    for (std::size_t index = 0; index < nodes_->structures.size(); ++index) {
        rows.clear();
        nodes_->structures[index](rows);
        if (rows.empty()) {
            continue;
        }
        SyntaxNode& root = nodes_->nodes.emplace_back();
        root.row = std::move(rows.front());
        root.position = static_cast<int>(roots_.size());
        root.entry = entries.of(root.row.syntax);
        root.pendingStructure = static_cast<int>(index);
        root.pendingHasChildren = rows.size() > 1;
        roots_.push_back(&root);
        if (root.entry == nullptr) {
            foldPendingStructure(root);
        }
        root.clauseEntry = root.entry != nullptr || root.children.empty() ? root.entry
                                                                           : root.children.front()->clauseEntry;
    }
}

void PictureSyntaxModel::foldPendingStructure(SyntaxNode& root) const
{
    if (root.pendingStructure < 0) {
        return;
    }
    const auto structure = static_cast<std::size_t>(root.pendingStructure);
    root.pendingStructure = -1;
    std::vector<SyntaxRow> rows;
    nodes_->structures[structure](rows);
    RowFolder folder(nodes_->nodes, root);
    for (std::size_t row = 1; row < rows.size(); ++row) {
        folder.fold(std::move(rows[row]));
    }
    CatalogueEntries entries;
    for (SyntaxNode* child : root.children) {
        resolveCatalogueEntries(*child, entries);
    }
}

// Looked up once per node here rather than on every paint.
void PictureSyntaxModel::resolveCatalogueEntries(SyntaxNode& node, CatalogueEntries& entries)
{
    node.entry = entries.of(node.row.syntax);
    for (SyntaxNode* child : node.children) {
        resolveCatalogueEntries(*child, entries);
    }
    node.clauseEntry = node.entry != nullptr || node.children.empty() ? node.entry
                                                                      : node.children.front()->clauseEntry;
}

PictureSyntaxModel::SyntaxNode* PictureSyntaxModel::nodeOf(const QModelIndex& index)
{
    return static_cast<SyntaxNode*>(index.internalPointer());
}

}  // namespace vexilo
