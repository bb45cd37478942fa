#include "vexilo/models/BlockInfoModel.h"

#include "CodeTable.h"
#include "vexilo/models/DisplayFormat.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include <utility>

namespace vexilo {
namespace blockinfo {

constexpr CodeText kPredictionModeLabels[]{{0, "Unknown"}, {1, "Intra"}, {2, "Inter"}, {3, "Skip"}};
constexpr CodeText kReferenceAvailabilityLabels[]{
    {0, "unknown"}, {1, "available"}, {2, "unavailable"}, {3, "corrupt"}, {4, "current picture"}};
constexpr CodeText kInterDirectionLabels[]{{1, "L0"}, {2, "L1"}, {3, "Bi"}};

QString blockIdText(const analysis::StableId& id) {
    return id.isNull() ? display::kNotAvailableText : display::shortIdText(id);
}

QString blockRectText(const analysis::BlockRect& bounds) {
    if (bounds.width == 0 || bounds.height == 0) {
        return display::kNotAvailableText;
    }
    return QStringLiteral("x=%1 y=%2 w=%3 h=%4")
        .arg(display::decimalText(bounds.x), display::decimalText(bounds.y), display::decimalText(bounds.width),
             display::decimalText(bounds.height));
}

QString predictionModeLabel(std::uint8_t code) { return lookUp({kPredictionModeLabels, "Unknown"}, code); }
QString partModeLabel(std::uint8_t code) { return lookUp({kPartModeNames, "Unknown"}, code); }
QString referenceAvailabilityLabel(std::uint8_t code) { return lookUp({kReferenceAvailabilityLabels, "unknown"}, code); }
QString interDirectionLabel(std::uint8_t code) { return lookUp({kInterDirectionLabels, "Unknown"}, code); }
QString sliceTypeLabel(std::uint8_t code) { return display::sliceTypeText(code); }

QString lockStateText(const QString& interaction) {
    return interaction.startsWith(QStringLiteral("Locked"), Qt::CaseSensitive) ? QStringLiteral("locked")
                                                                               : QStringLiteral("hover");
}

}  // namespace blockinfo

namespace {

using namespace display;
using namespace blockinfo;
using analysis::StableId;

constexpr int kColumnCount = 2;
constexpr int kNameColumn = 0;
const QString kConsolas = QStringLiteral("Consolas");
const QString kTitleTooltip =
    QStringLiteral("Hover updates continuously; click locks the current block. Press Esc in the viewer to unlock.");

const QColor kSectionBackground{54, 66, 82};
const QColor kTitleBackground{222, 235, 255};
const QColor kWarningBackground{255, 244, 214};
const QColor kSectionText{245, 247, 250};
const QColor kWarningText{138, 88, 0};
const QColor kAbsentValueText{116, 124, 135};
const QColor kFieldNameText{76, 84, 96};

// Where the two listings differ in their shared groups.
struct ListingTexts {
    QString title;
    QString source;
    QString confidence;
};

const ListingTexts kStructureListing{QStringLiteral("structure metadata"), QStringLiteral("FFmpeg analyzer worker"),
                                     QStringLiteral("bitstream metadata")};
const ListingTexts kFallbackListing{QStringLiteral("fallback grid"), QStringLiteral("viewer 64x64 grid"),
                                    QStringLiteral("fallback only")};

class RowWriter {
public:
    void section(const QString& name) { rows_.push_back({BlockInfoRowKind::Section, name, {}, {}}); }
    void field(const QString& name, const QString& value, const QString& detail = {}) {
        rows_.push_back({BlockInfoRowKind::Field, name, value, detail});
    }
    void add(BlockInfoRow row) { rows_.push_back(std::move(row)); }
    void notFound(const QString& idName) {
        field(idName, kNotAvailableText);
        field(QStringLiteral("bounds"), kNotAvailableText);
    }
    [[nodiscard]] std::vector<BlockInfoRow> take() { return std::move(rows_); }

private:
    std::vector<BlockInfoRow> rows_;
};

void writeHeader(RowWriter& rows, const ListingTexts& listing, const QString& interaction, const QString& pictureId,
                 const QString& displayIndex, const QString& lumaSample) {
    rows.add({BlockInfoRowKind::Title, QStringLiteral("Block Info"), listing.title, kTitleTooltip});
    rows.section(QStringLiteral("location"));
    rows.field(QStringLiteral("interaction"), interaction);
    rows.field(QStringLiteral("picture id"), pictureId);
    rows.field(QStringLiteral("display index"), displayIndex);
    rows.field(QStringLiteral("luma location"), lumaSample);
}

void writeMetadata(RowWriter& rows, const ListingTexts& listing, const QString& interaction) {
    rows.section(QStringLiteral("metadata"));
    rows.field(QStringLiteral("source"), listing.source);
    rows.field(QStringLiteral("confidence"), listing.confidence);
    rows.field(QStringLiteral("lock state"), lockStateText(interaction));
    rows.field(QStringLiteral("unlock"), QStringLiteral("Esc in viewer"));
}

QString parseStatusOf(auto status) {
    return parseStatusText(codeOf(status));
}

void writeSlice(RowWriter& rows, const AnalysisIndex& index, const analysis::CtuInfo* ctu) {
    rows.section(QStringLiteral("slice"));
    const analysis::SliceInfo* slice = nullptr;
    if (ctu != nullptr && ctu->sliceInfoId.has_value()) {
        slice = ctu->sliceInfoId->isNull() ? nullptr : index.slice(*ctu->sliceInfoId);
        if (slice == nullptr) {
            rows.field(QStringLiteral("slice id"), blockIdText(*ctu->sliceInfoId));
        }
    } else {
        rows.field(QStringLiteral("slice id"), kNotAvailableText);
    }
    if (slice == nullptr) {
        for (const char* name : {"type", "POC", "QP"}) {
            rows.field(QString::fromLatin1(name), kNotAvailableText);
        }
        return;
    }
    rows.field(QStringLiteral("slice id"), blockIdText(slice->id));
    rows.field(QStringLiteral("type"), sliceTypeLabel(codeOf(slice->type)));
    rows.field(QStringLiteral("POC"), formatOptionalInt32(slice->poc));
    rows.field(QStringLiteral("QP"), formatOptionalInt16(slice->sliceQp));
    rows.field(QStringLiteral("first CTU addr"), formatOptionalUInt32(slice->firstCtuAddress));
    rows.field(QStringLiteral("tile id"), formatOptionalUInt32(slice->tileId));
    rows.field(QStringLiteral("parse status"), parseStatusOf(slice->parseStatus));
}

void writeCtu(RowWriter& rows, const analysis::CtuInfo* ctu) {
    rows.section(QStringLiteral("coding tree unit"));
    if (ctu == nullptr) {
        rows.notFound(QStringLiteral("CTU id"));
        return;
    }
    rows.field(QStringLiteral("CTU id"), blockIdText(ctu->id));
    rows.field(QStringLiteral("bounds"), blockRectText(ctu->bounds));
    rows.field(QStringLiteral("address rs"), formatOptionalUInt32(ctu->ctuAddressRs));
    rows.field(QStringLiteral("address ts"), formatOptionalUInt32(ctu->ctuAddressTs));
    // The CTU record has no tile id of its own; the slice that holds it does.
    rows.field(QStringLiteral("tile id"), kNotAvailableText);
    rows.field(QStringLiteral("parse status"), parseStatusOf(ctu->parseStatus));
}

void writeCu(RowWriter& rows, const analysis::CuInfo* cu) {
    rows.section(QStringLiteral("coding unit"));
    if (cu == nullptr) {
        rows.notFound(QStringLiteral("CU id"));
        return;
    }
    rows.field(QStringLiteral("CU id"), blockIdText(cu->id));
    rows.field(QStringLiteral("bounds"), blockRectText(cu->bounds));
    rows.field(QStringLiteral("depth"), formatOptionalUInt8(cu->depth));
    rows.field(QStringLiteral("prediction mode"), predictionModeLabel(codeOf(cu->predictionMode)));
    rows.field(QStringLiteral("partition mode"),
               cu->partitionMode.has_value() ? partModeLabel(codeOf(*cu->partitionMode)) : kNotAvailableText);
    rows.field(QStringLiteral("split"), formatOptionalBool(cu->split));
    rows.field(QStringLiteral("skip"), formatOptionalBool(cu->skip));
    rows.field(QStringLiteral("PCM"), formatOptionalBool(cu->pcm));
    rows.field(QStringLiteral("QP Y"), formatOptionalInt16(cu->qp));
    rows.field(QStringLiteral("QP Cb"), formatOptionalInt16(cu->chromaQpCb));
    rows.field(QStringLiteral("QP Cr"), formatOptionalInt16(cu->chromaQpCr));
    rows.field(QStringLiteral("parse status"), parseStatusOf(cu->parseStatus));
}

QString optionalAvailabilityLabel(const std::optional<analysis::ReferenceStatus>& status) {
    return status.has_value() ? referenceAvailabilityLabel(codeOf(*status)) : kNotAvailableText;
}

void writePu(RowWriter& rows, const analysis::PuInfo* pu) {
    rows.section(QStringLiteral("prediction unit"));
    if (pu == nullptr) {
        rows.notFound(QStringLiteral("PU id"));
        return;
    }
    rows.field(QStringLiteral("PU id"), blockIdText(pu->id));
    rows.field(QStringLiteral("bounds"), blockRectText(pu->bounds));
    rows.field(QStringLiteral("part index"), decimalText(pu->partIndex));
    rows.field(QStringLiteral("prediction mode"), predictionModeLabel(codeOf(pu->predictionMode)));
    rows.field(QStringLiteral("partition mode"), partModeLabel(codeOf(pu->partitionMode)));
    rows.field(QStringLiteral("inter pred idc"), interDirectionLabel(codeOf(pu->interDirection)));
    rows.field(QStringLiteral("merge flag"), formatOptionalBool(pu->mergeFlag));
    rows.field(QStringLiteral("merge index"), formatOptionalUInt8(pu->mergeIndex));
    rows.field(QStringLiteral("intra luma mode"), formatOptionalUInt8(pu->intraLumaMode));
    rows.field(QStringLiteral("intra chroma mode"), formatOptionalUInt8(pu->intraChromaMode));
    rows.field(QStringLiteral("L0 ref idx"), formatOptionalInt8(pu->refIdxL0));
    rows.field(QStringLiteral("L0 ref POC"), formatOptionalInt32(pu->refPocL0));
    rows.field(QStringLiteral("L0 ref status"), optionalAvailabilityLabel(pu->refStatusL0));
    rows.field(QStringLiteral("L1 ref idx"), formatOptionalInt8(pu->refIdxL1));
    rows.field(QStringLiteral("L1 ref POC"), formatOptionalInt32(pu->refPocL1));
    rows.field(QStringLiteral("L1 ref status"), optionalAvailabilityLabel(pu->refStatusL1));
    rows.field(QStringLiteral("parse status"), parseStatusOf(pu->parseStatus));
}

void writeTu(RowWriter& rows, const analysis::TuInfo* tu) {
    rows.section(QStringLiteral("transform unit"));
    if (tu == nullptr) {
        rows.notFound(QStringLiteral("TU id"));
        return;
    }
    rows.field(QStringLiteral("TU id"), blockIdText(tu->id));
    rows.field(QStringLiteral("bounds"), blockRectText(tu->bounds));
    rows.field(QStringLiteral("depth"), formatOptionalUInt8(tu->depth));
    rows.field(QStringLiteral("split"), formatOptionalBool(tu->split));
    rows.field(QStringLiteral("CBF Y"), formatOptionalBool(tu->cbfLuma));
    rows.field(QStringLiteral("CBF Cb"), formatOptionalBool(tu->cbfCb));
    rows.field(QStringLiteral("CBF Cr"), formatOptionalBool(tu->cbfCr));
    rows.field(QStringLiteral("transform skip Y"), formatOptionalBool(tu->transformSkipLuma));
    rows.field(QStringLiteral("transform skip Cb"), formatOptionalBool(tu->transformSkipCb));
    rows.field(QStringLiteral("transform skip Cr"), formatOptionalBool(tu->transformSkipCr));
    rows.field(QStringLiteral("QP Y"), formatOptionalInt16(tu->qp));
    rows.field(QStringLiteral("QP Cb"), formatOptionalInt16(tu->chromaQpCb));
    rows.field(QStringLiteral("QP Cr"), formatOptionalInt16(tu->chromaQpCr));
    rows.field(QStringLiteral("parse status"), parseStatusOf(tu->parseStatus));
}

template <typename Record>
const Record* lookUpBlock(const StableId& id, const Record* (AnalysisIndex::*find)(const StableId&) const,
                          const AnalysisIndex& index) {
    return id.isNull() ? nullptr : (index.*find)(id);
}

bool isAbsentValue(const QString& value) {
    return value == kNotAvailableText || value == kUnknownStatusText;
}

QVariant fontOf(const BlockInfoRow& row, int column) {
    const bool nameColumn = column == kNameColumn;
    QFont font;
    switch (row.kind) {
    case BlockInfoRowKind::Section:
        font.setWeight(QFont::Bold);
        return font;
    case BlockInfoRowKind::Title:
        font.setWeight(QFont::Bold);
        if (!nameColumn) {
            font.setFamily(kConsolas);
        }
        return font;
    case BlockInfoRowKind::Field:
    case BlockInfoRowKind::Warning:
        if (nameColumn) {
            return {};
        }
        font.setWeight(QFont::Normal);
        font.setFamily(kConsolas);
        return font;
    }
    return {};
}

QVariant backgroundOf(const BlockInfoRow& row) {
    switch (row.kind) {
    case BlockInfoRowKind::Section:
        return QBrush(kSectionBackground);
    case BlockInfoRowKind::Title:
        return QBrush(kTitleBackground);
    case BlockInfoRowKind::Warning:
        return QBrush(kWarningBackground);
    case BlockInfoRowKind::Field:
        break;
    }
    return {};
}

QVariant foregroundOf(const BlockInfoRow& row, int column) {
    switch (row.kind) {
    case BlockInfoRowKind::Section:
        return QBrush(kSectionText);
    case BlockInfoRowKind::Warning:
        return QBrush(kWarningText);
    case BlockInfoRowKind::Field:
    case BlockInfoRowKind::Title:
        if (isAbsentValue(row.value)) {
            return QBrush(kAbsentValueText);
        }
        return column == kNameColumn ? QVariant(QBrush(kFieldNameText)) : QVariant();
    }
    return {};
}

QVariant displayOf(const BlockInfoRow& row, int column) {
    if (column == kNameColumn) {
        return row.kind == BlockInfoRowKind::Section ? row.name : QStringLiteral("  %1").arg(row.name);
    }
    return row.kind == BlockInfoRowKind::Section ? QString() : row.value;
}

}  // namespace

BlockInfoModel::BlockInfoModel(QObject* parent) : QAbstractTableModel(parent) {}

int BlockInfoModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BlockInfoModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant BlockInfoModel::data(const QModelIndex& index, int role) const {
    if (index.model() != this || index.row() < 0 || index.column() < 0 ||
        static_cast<std::size_t>(index.row()) >= rows_.size()) {
        return {};
    }
    const BlockInfoRow& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return displayOf(row, index.column());
    case Qt::ToolTipRole:
        return row.detail.isEmpty() ? QVariant() : QVariant(row.detail);
    case Qt::FontRole:
        return fontOf(row, index.column());
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case Qt::BackgroundRole:
        return backgroundOf(row);
    case Qt::ForegroundRole:
        return foregroundOf(row, index.column());
    default:
        return {};
    }
}

QVariant BlockInfoModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    if (section == 0) {
        return QStringLiteral("name");
    }
    if (section == 1) {
        return QStringLiteral("value");
    }
    return {};
}

void BlockInfoModel::setAnalysis(std::shared_ptr<const analysis::StreamAnalysis> analysis) {
    index_ = AnalysisIndex(std::move(analysis));
}

void BlockInfoModel::clear() {
    index_ = AnalysisIndex();
    setRows({});
}

void BlockInfoModel::showMessage(const QString& title, const QString& detail, const QString& state) {
    setRows({{BlockInfoRowKind::Title, title, detail, {}}, {BlockInfoRowKind::Field, QStringLiteral("state"), state, {}}});
}

void BlockInfoModel::showBlockInfo(const QString& interaction, const QString& pictureId, const QString& displayIndex,
                                   const QString& lumaSample, const StableId& ctuId, const StableId& cuId,
                                   const StableId& puId, const StableId& tuId) {
    RowWriter rows;
    writeHeader(rows, kStructureListing, interaction, pictureId, displayIndex, lumaSample);
    const auto* ctu = lookUpBlock(ctuId, &AnalysisIndex::ctu, index_);
    writeSlice(rows, index_, ctu);
    writeCtu(rows, ctu);
    writeCu(rows, lookUpBlock(cuId, &AnalysisIndex::cu, index_));
    writePu(rows, lookUpBlock(puId, &AnalysisIndex::pu, index_));
    writeTu(rows, lookUpBlock(tuId, &AnalysisIndex::tu, index_));
    writeMetadata(rows, kStructureListing, interaction);
    setRows(rows.take());
}

void BlockInfoModel::showBlockInfoUnavailable(const QString& interaction, const QString& pictureId,
                                              const QString& displayIndex, const QString& lumaSample,
                                              const QString& fallbackCell) {
    RowWriter rows;
    writeHeader(rows, kFallbackListing, interaction, pictureId, displayIndex, lumaSample);
    rows.section(QStringLiteral("fallback grid"));
    rows.field(QStringLiteral("cell"), fallbackCell,
               QStringLiteral("Viewer-only 64x64 cell used before real HEVC block metadata is available."));
    rows.add({BlockInfoRowKind::Warning, QStringLiteral("source"), QStringLiteral("not bitstream metadata"),
              QStringLiteral("Run picture structure analysis to replace this with actual CTU/CU/PU/TU data.")});
    writeMetadata(rows, kFallbackListing, interaction);
    setRows(rows.take());
}

void BlockInfoModel::setRows(std::vector<BlockInfoRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

}  // namespace vexilo
