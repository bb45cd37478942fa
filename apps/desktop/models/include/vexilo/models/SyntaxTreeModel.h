#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/domain/PictureInfo.h"

#include <QAbstractItemModel>

#include <memory>
#include <optional>

namespace vexilo {

enum class SyntaxTreeNodeKind : std::uint8_t {
    Root = 0,
    NalUnit = 1,
    ParameterSet = 2,
    SeiMessage = 3,
    Slice = 4,
    Ctu = 5,
    Cu = 6,
    Pu = 7,
    Tu = 8,
    MotionVector = 9,
};

// Every bitstream object of a document as one tree: NAL units in stream order with the
// parameter sets, SEI messages and slices they carry, and below the slices the coding
// structure nested by its parent links. Rows carry the objects' identities so that the
// window can navigate from a row to the object.
class SyntaxTreeModel : public QAbstractItemModel {
    Q_OBJECT

public:
    static constexpr int kColumnCount = 5;

    enum Role : int {
        KindRole = Qt::UserRole + 1,
        ObjectIdHighRole,
        ObjectIdLowRole,
        PictureIdRole,
        SecondaryValueRole,
    };

    struct SyntaxTreeNode;
    struct NodeStore;

    explicit SyntaxTreeModel(QObject* parent = nullptr);
    ~SyntaxTreeModel() override;

    void setAnalysis(std::shared_ptr<const analysis::StreamAnalysis> analysis);
    void clear();

    // The first row of a depth-first, pre-order walk that shows the object; invalid when none.
    [[nodiscard]] QModelIndex indexForObject(const analysis::StableId& id) const;
    [[nodiscard]] std::optional<analysis::StableId> objectIdAt(const QModelIndex& index) const;
    [[nodiscard]] std::optional<domain::PictureId> pictureIdAt(const QModelIndex& index) const;

    [[nodiscard]] QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex& index) const override;
    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

private:
    [[nodiscard]] const SyntaxTreeNode* nodeOf(const QModelIndex& index) const;
    [[nodiscard]] QModelIndex indexOf(const SyntaxTreeNode& node) const;

    std::shared_ptr<const analysis::StreamAnalysis> analysis_;
    std::unique_ptr<NodeStore> store_;
};

}  // namespace vexilo
