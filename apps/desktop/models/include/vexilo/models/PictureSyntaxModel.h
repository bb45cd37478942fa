#pragma once

#include "vexilo/domain/PictureInfo.h"
#include "vexilo/models/SyntaxRow.h"

#include <QAbstractItemModel>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Declared only: moc cannot parse the C++20 library headers the document pulls in.
namespace vexilo::analysis {
struct StreamAnalysis;
struct NalUnitInfo;
struct StableId;
}  // namespace vexilo::analysis

namespace vexilo {

struct HevcSyntaxEntry;
class CatalogueEntries;
class NalUnitIndex;
struct PictureSyntaxNode;

// One syntax section (NAL units, VPS, SPS, PPS, SEI or slice headers) of the
// selected picture as a tree that reads like the syntax tables of H.265, with
// the descriptor, meaning and clause of each row from the syntax catalogue.
// A NAL unit's or parameter set's rows are made when a view first asks for them:
// a stream's document can carry hundreds of parameter sets that no view opens.
class PictureSyntaxModel : public QAbstractItemModel {
    Q_OBJECT

public:
    enum class Section : std::uint32_t {
        NalUnits = 0,
        Vps = 1,
        Sps = 2,
        Pps = 3,
        Sei = 4,
        SliceHeader = 5,
    };

    explicit PictureSyntaxModel(Section section, QObject* parent = nullptr);
    ~PictureSyntaxModel() override;

    using QObject::parent;
    [[nodiscard]] QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex& index) const override;
    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] bool hasChildren(const QModelIndex& parent = {}) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    void clear();
    void setAnalysis(std::shared_ptr<const analysis::StreamAnalysis> analysis, domain::PictureId pictureId);
    void showAnalysisStatus(const QString& message, const QString& status);
    // How many rows the model has made so far, its top-level rows included.
    [[nodiscard]] std::size_t madeRowCount() const;

    // What the section builders read.
    [[nodiscard]] Section section() const { return section_; }
    [[nodiscard]] const std::optional<domain::PictureId>& pictureId() const { return pictureId_; }
    // The held document; only valid while one is held (builders run only then).
    [[nodiscard]] const analysis::StreamAnalysis& analysis() const { return *analysis_; }
    // The document's NAL units by id, indexed once per document.
    [[nodiscard]] const NalUnitIndex& nalUnits() const;
    // The document's NAL unit with this id, or null.
    [[nodiscard]] const analysis::NalUnitInfo* nalUnitById(const analysis::StableId& id) const;
    // Whether a record's picture belongs to the shown picture (no id on either side counts as yes).
    [[nodiscard]] bool belongsToShownPicture(const std::optional<std::uint64_t>& recordPictureId) const;

private:
    using SyntaxNode = PictureSyntaxNode;
    struct NodePool;
    class RowFolder;

    // Replaces the document, the picture and the whole tree inside one model reset; without a
    // document the tree is folded from the given rows.
    void replaceContent(std::shared_ptr<const analysis::StreamAnalysis> analysis,
                        std::optional<domain::PictureId> pictureId, std::vector<SyntaxRow> rows);
    // These three fill the emptied tree inside a reset that the caller has begun.
    void rebuild();
    void setRows(std::vector<SyntaxRow> rows);
    void setStructures(std::vector<std::function<void(std::vector<SyntaxRow>&)>> structures);
    void resetNodes();
    // Folds the rows below a top-level row whose structure has not been folded yet.
    void foldPendingStructure(SyntaxNode& root) const;
    static void resolveCatalogueEntries(SyntaxNode& node, CatalogueEntries& entries);
    [[nodiscard]] static SyntaxNode* nodeOf(const QModelIndex& index);

    Section section_;
    std::optional<domain::PictureId> pictureId_;
    std::shared_ptr<const analysis::StreamAnalysis> analysis_;
    // Nodes live in one pool per tree: a selection builds tens of thousands of them.
    std::unique_ptr<NodePool> nodes_;
    std::vector<SyntaxNode*> roots_;
    std::unique_ptr<NalUnitIndex> nalUnitsById_;
};

}  // namespace vexilo
