#include "vexilo/models/StreamStatisticsModel.h"

#include "vexilo/models/DisplayFormat.h"

#include <algorithm>
#include <array>
#include <utility>

namespace vexilo {

struct StreamStatisticsModel::StatisticsNode {
    StatisticsNode* parent = nullptr;
    int row = 0;
    QString name;
    QString value;
    QString percentText;
    QString status;
    std::optional<double> percent;
    std::vector<std::unique_ptr<StatisticsNode>> children;

    StatisticsNode* add(const QString& childName, const QString& childValue, const QString& childStatus,
                        std::optional<double> childPercent = std::nullopt) {
        auto child = std::make_unique<StatisticsNode>();
        child->parent = this;
        child->row = static_cast<int>(children.size());
        child->name = childName;
        child->value = childValue;
        child->status = childStatus;
        child->percent = childPercent;
        if (childPercent.has_value()) {
            child->percentText = QStringLiteral("%1%").arg(*childPercent, 0, 'f', 1);
        }
        children.push_back(std::move(child));
        return children.back().get();
    }
};

struct StreamStatisticsModel::AnalysisFacts {
    std::map<QString, std::uint64_t> nalUnitsByKind;
    std::map<QString, std::uint64_t> parameterSetsByKind;
    std::map<QString, std::uint64_t> slicesByType;
    std::array<std::uint64_t, 4> picturesByType{};
    std::optional<std::size_t> spsIndex;
    std::optional<std::size_t> ppsIndex;
    std::optional<std::int16_t> minimumSliceQp;
    std::optional<std::int16_t> maximumSliceQp;
    double sliceQpSum = 0.0;
    std::uint64_t sliceQpCount = 0;
    // Slice segments of the whole stream: the document's slice records when it holds them,
    // else what its picture summaries count (a cache written before the stream-level document
    // kept its slices).
    std::uint64_t sliceSegments = 0;
    bool sliceRecordsHeld = false;
    // Block structure is known for some pictures only; its sizes are summed over those.
    std::uint64_t picturesWithBlocks = 0;
    std::uint64_t ctuTotal = 0;
    std::uint64_t cuTotal = 0;
    std::uint64_t puTotal = 0;
    std::uint64_t tuTotal = 0;
};

namespace {

using analysis::ParameterSetInfo;
using analysis::StreamAnalysis;
using display::codeOf;
using display::decimalText;
using Facts = StreamStatisticsModel::AnalysisFacts;
using Node = StreamStatisticsModel::StatisticsNode;

const QString kNoProjectText = QStringLiteral("No project opened");
const QString kNotAvailable = QStringLiteral("N/A");
const QString kDecoded = QStringLiteral("decoded");
const QString kAnalysis = QStringLiteral("analysis");
const QString kUnavailable = QStringLiteral("unavailable");
const QString kFuture = QStringLiteral("future");
const QString kRunAnalyzeStream = QStringLiteral("Run Analyze Stream");
const QString kSliceSegments = QStringLiteral("slice segments");
const QString kSliceQp = QStringLiteral("slice QP");

constexpr std::array<const char*, StreamStatisticsModel::kColumnCount> kHeaders{"name", "value", "%", "status"};
constexpr std::array<const char*, 4> kPictureTypeLabels{"I", "P", "B", "Unknown"};

// Index into the I, P, B, other counters of a picture type code.
std::size_t pictureTypeSlot(std::uint32_t code) {
    return code >= 1 && code <= 3 ? code - 1 : 3;
}

QString orNotAvailable(const std::string& text) {
    return text.empty() ? kNotAvailable : QString::fromStdString(text);
}

QString sizeText(std::optional<std::int64_t> width, std::optional<std::int64_t> height) {
    if (!width || !height || *width < 1 || *height < 1) {
        return kNotAvailable;
    }
    return QStringLiteral("%1 x %2").arg(*width).arg(*height);
}

QString enabledText(const std::optional<bool>& flag) {
    if (!flag.has_value()) {
        return kNotAvailable;
    }
    return *flag ? QStringLiteral("Enabled") : QStringLiteral("Disabled");
}

QString levelText(const std::optional<std::uint8_t>& levelIdc) {
    if (!levelIdc.has_value()) {
        return kNotAvailable;
    }
    return QStringLiteral("%1.%2").arg(*levelIdc / 30).arg((*levelIdc % 30) / 3);
}

QString chromaFormatText(const std::optional<std::uint8_t>& chromaFormatIdc) {
    if (!chromaFormatIdc.has_value()) {
        return kNotAvailable;
    }
    static constexpr std::array<const char*, 4> kFormats{"4:0:0", "4:2:0", "4:2:2", "4:4:4"};
    if (*chromaFormatIdc < kFormats.size()) {
        return QString::fromLatin1(kFormats[*chromaFormatIdc]);
    }
    return QStringLiteral("Unknown (%1)").arg(*chromaFormatIdc);
}

QString documentProfileText(analysis::StreamProfile profile) {
    const auto code = codeOf(profile);
    return code == 1 || code == 2 ? display::profileText(code) : kNotAvailable;
}

std::optional<double> shareOf(std::uint64_t count, std::uint64_t total) {
    if (total == 0) {
        return std::nullopt;
    }
    return static_cast<double>(count) * 100.0 / static_cast<double>(total);
}

std::unique_ptr<Facts> factsOf(const StreamAnalysis& document) {
    auto facts = std::make_unique<Facts>();
    for (const auto& nalUnit : document.nalUnits) {
        ++facts->nalUnitsByKind[display::nalUnitKindText(codeOf(nalUnit.kind))];
    }
    for (std::size_t index = 0; index < document.parameterSets.size(); ++index) {
        const ParameterSetInfo& parameterSet = document.parameterSets[index];
        ++facts->parameterSetsByKind[display::parameterSetKindText(codeOf(parameterSet.kind))];
        if (parameterSet.kind == analysis::ParameterSetKind::Sps && !facts->spsIndex) {
            facts->spsIndex = index;
        }
        if (parameterSet.kind == analysis::ParameterSetKind::Pps && !facts->ppsIndex) {
            facts->ppsIndex = index;
        }
    }
    for (const auto& slice : document.slices) {
        ++facts->slicesByType[display::sliceTypeText(codeOf(slice.type))];
        if (slice.sliceQp.has_value()) {
            const std::int16_t qp = *slice.sliceQp;
            facts->minimumSliceQp = std::min(facts->minimumSliceQp.value_or(qp), qp);
            facts->maximumSliceQp = std::max(facts->maximumSliceQp.value_or(qp), qp);
            facts->sliceQpSum += qp;
            ++facts->sliceQpCount;
        }
    }
    std::uint64_t summarisedSlices = 0;
    for (const auto& picture : document.pictures) {
        ++facts->picturesByType[pictureTypeSlot(codeOf(picture.pictureType))];
        summarisedSlices += picture.sliceCount.value_or(0);
        if (picture.ctuCount.has_value()) {
            ++facts->picturesWithBlocks;
            facts->ctuTotal += *picture.ctuCount;
            facts->cuTotal += picture.cuCount.value_or(0);
            facts->puTotal += picture.puCount.value_or(0);
            facts->tuTotal += picture.tuCount.value_or(0);
        }
    }
    facts->sliceRecordsHeld = !document.slices.empty();
    facts->sliceSegments = facts->sliceRecordsHeld ? document.slices.size() : summarisedSlices;
    return facts;
}

// The rows that every build draws from: what is held, and how it was counted.
struct Sources {
    const std::optional<domain::StreamInfo>& streamInfo;
    std::uint64_t decodedPictureCount;
    const std::array<std::uint64_t, 4>& decodedTypeCounts;
    const StreamAnalysis* analysis;
    const Facts* facts;

    [[nodiscard]] const QString& analysisStatus() const { return analysis != nullptr ? kAnalysis : kUnavailable; }
    [[nodiscard]] const ParameterSetInfo* sps() const {
        return facts != nullptr && facts->spsIndex ? &analysis->parameterSets[*facts->spsIndex] : nullptr;
    }
    [[nodiscard]] const ParameterSetInfo* pps() const {
        return facts != nullptr && facts->ppsIndex ? &analysis->parameterSets[*facts->ppsIndex] : nullptr;
    }
};

void addStreamSection(Node& root, const Sources& sources) {
    Node* section = root.add(QStringLiteral("stream"), {}, kDecoded);
    if (sources.streamInfo.has_value()) {
        const domain::StreamInfo& info = *sources.streamInfo;
        section->add(QStringLiteral("stream type"), QStringLiteral("HEVC/H.265"), kDecoded);
        section->add(QStringLiteral("codec"), orNotAvailable(info.codecName), kDecoded);
        section->add(QStringLiteral("resolution"), sizeText(info.width, info.height), kDecoded);
        section->add(QStringLiteral("bitdepth"), info.bitDepth >= 1 ? QString::number(info.bitDepth) : kNotAvailable,
                     kDecoded);
        section->add(QStringLiteral("pixel format"), orNotAvailable(info.pixelFormatName), kDecoded);
    }
    if (sources.analysis == nullptr) {
        for (const char* name : {"profile", "level / tier", "chroma format"}) {
            section->add(QString::fromLatin1(name), kNotAvailable, kUnavailable);
        }
    } else {
        section->add(QStringLiteral("profile"), documentProfileText(sources.analysis->profile), kAnalysis);
        if (const ParameterSetInfo* sps = sources.sps()) {
            const StreamAnalysis& document = *sources.analysis;
            section->add(QStringLiteral("profile idc"), display::formatOptionalUInt8(sps->profileIdc), kAnalysis);
            section->add(QStringLiteral("level / tier"),
                         QStringLiteral("%1 / %2").arg(levelText(sps->levelIdc), kNotAvailable), kAnalysis);
            section->add(QStringLiteral("compatibility"), kNotAvailable, kUnavailable);
            section->add(QStringLiteral("chroma format"), chromaFormatText(sps->chromaFormatIdc), kAnalysis);
            section->add(QStringLiteral("chroma bitdepth"), display::formatOptionalUInt8(sps->chromaBitDepth),
                         kAnalysis);
            section->add(QStringLiteral("coded resolution"), sizeText(document.width, document.height), kAnalysis);
            section->add(QStringLiteral("max sub layers"), display::formatOptionalUInt8(sps->maxSubLayers), kAnalysis);
        }
    }
    for (const char* name : {"frame rate", "declared bitrate", "duration"}) {
        section->add(QString::fromLatin1(name), kNotAvailable, kUnavailable);
    }
}

void addFramesSection(Node& root, const Sources& sources) {
    Node* section = root.add(QStringLiteral("frames"), {}, kDecoded);
    std::uint64_t total = 0;
    std::array<std::uint64_t, 4> counts{};
    if (sources.decodedPictureCount > 0) {
        total = sources.decodedPictureCount;
        counts = sources.decodedTypeCounts;
    } else if (sources.analysis != nullptr) {
        total = sources.analysis->pictures.size();
        counts = sources.facts->picturesByType;
    }
    if (total == 0 && sources.streamInfo.has_value() && sources.streamInfo->frameCount > 0) {
        total = static_cast<std::uint64_t>(sources.streamInfo->frameCount);
    }
    section->add(QStringLiteral("total"), decimalText(total), kDecoded);
    for (std::size_t slot = 0; slot < kPictureTypeLabels.size(); ++slot) {
        section->add(QString::fromLatin1(kPictureTypeLabels[slot]), decimalText(counts[slot]), kDecoded,
                     shareOf(counts[slot], total));
    }
}

void addLabelCounts(Node& section, const std::map<QString, std::uint64_t>& counts, const QString& nameFormat,
                    std::optional<std::uint64_t> shareTotal = std::nullopt) {
    // QString's ordering is by UTF-16 code units, case-sensitive: the order the rows need.
    for (const auto& [label, count] : counts) {
        const std::optional<double> share = shareTotal ? shareOf(count, *shareTotal) : std::nullopt;
        section.add(nameFormat.arg(label), decimalText(count), kAnalysis, share);
    }
}

void addBitstreamIndexSection(Node& root, const Sources& sources) {
    Node* section = root.add(QStringLiteral("bitstream index"), {}, sources.analysisStatus());
    if (sources.analysis == nullptr) {
        section->add(QStringLiteral("analysis index"), kRunAnalyzeStream, kUnavailable);
        return;
    }
    const StreamAnalysis& document = *sources.analysis;
    const Facts& facts = *sources.facts;
    section->add(QStringLiteral("NAL units"), decimalText(document.nalUnits.size()), kAnalysis);
    addLabelCounts(*section, facts.nalUnitsByKind, QStringLiteral("%1"));
    section->add(QStringLiteral("parameter sets"), decimalText(document.parameterSets.size()), kAnalysis);
    addLabelCounts(*section, facts.parameterSetsByKind, QStringLiteral("%1"));
    section->add(QStringLiteral("SEI messages"), decimalText(document.seiMessages.size()), kAnalysis);
    section->add(kSliceSegments, decimalText(facts.sliceSegments), kAnalysis);
    addLabelCounts(*section, facts.slicesByType, QStringLiteral("%1 slice segments"), document.slices.size());
}

void addQpSection(Node& root, const Sources& sources) {
    Node* section = root.add(QStringLiteral("qp"), {}, sources.analysisStatus());
    if (sources.analysis == nullptr) {
        section->add(kSliceQp, kNotAvailable, kUnavailable);
        return;
    }
    const Facts& facts = *sources.facts;
    if (!facts.sliceRecordsHeld && facts.sliceSegments > 0) {
        section->add(kSliceQp, QStringLiteral("not in this cache: run Analyze Stream again"), kUnavailable);
        return;
    }
    section->add(QStringLiteral("slice segments with a QP"),
                 QStringLiteral("%1 of %2").arg(decimalText(facts.sliceQpCount), decimalText(facts.sliceSegments)),
                 kAnalysis);
    if (facts.sliceQpCount == 0) {
        section->add(kSliceQp, kNotAvailable, kUnavailable);
        return;
    }
    const double average = facts.sliceQpSum / static_cast<double>(facts.sliceQpCount);
    section->add(kSliceQp,
                 QStringLiteral("min %1 / max %2 / avg %3")
                     .arg(QString::number(*facts.minimumSliceQp), QString::number(*facts.maximumSliceQp),
                          QString::number(average, 'f', 1)),
                 kAnalysis);
}

// One coding-tool row: "N/A" without its parameter set, its status from the field's presence.
template <typename Value>
void addToolRow(Node& section, const char* name, const ParameterSetInfo* parameterSet,
                std::optional<Value> ParameterSetInfo::*field, QString (*format)(const std::optional<Value>&)) {
    if (parameterSet == nullptr) {
        section.add(QString::fromLatin1(name), kNotAvailable, kUnavailable);
        return;
    }
    const std::optional<Value>& value = parameterSet->*field;
    section.add(QString::fromLatin1(name), format(value), value.has_value() ? kAnalysis : kUnavailable);
}

QString countText(const std::optional<std::uint32_t>& value) { return display::formatOptionalUInt32(value); }
QString countText16(const std::optional<std::uint16_t>& value) { return display::formatOptionalUInt16(value); }

void addCodingToolsSection(Node& root, const Sources& sources) {
    Node* section = root.add(QStringLiteral("coding tools"), {}, sources.analysisStatus());
    if (sources.analysis == nullptr) {
        section->add(QStringLiteral("tools"), kRunAnalyzeStream, kUnavailable);
        return;
    }
    const ParameterSetInfo* sps = sources.sps();
    const ParameterSetInfo* pps = sources.pps();
    addToolRow(*section, "SAO", sps, &ParameterSetInfo::sampleAdaptiveOffsetEnabled, enabledText);
    addToolRow(*section, "temporal MVP", sps, &ParameterSetInfo::temporalMvpEnabled, enabledText);
    addToolRow(*section, "short-term RPS", sps, &ParameterSetInfo::numShortTermRefPicSets, countText);
    addToolRow(*section, "tiles", pps, &ParameterSetInfo::tilesEnabled, enabledText);
    addToolRow(*section, "tile columns", pps, &ParameterSetInfo::numTileColumns, countText16);
    addToolRow(*section, "tile rows", pps, &ParameterSetInfo::numTileRows, countText16);
    addToolRow(*section, "WPP", pps, &ParameterSetInfo::entropyCodingSyncEnabled, enabledText);
    addToolRow(*section, "dependent slices", pps, &ParameterSetInfo::dependentSliceSegmentsEnabled, enabledText);
    addToolRow(*section, "output flag present", pps, &ParameterSetInfo::outputFlagPresent, enabledText);
}

void addStructureSummarySection(Node& root, const Sources& sources) {
    Node* section = root.add(QStringLiteral("structure summary"), {}, sources.analysisStatus());
    if (sources.analysis == nullptr) {
        section->add(QStringLiteral("summary"), kRunAnalyzeStream, kUnavailable);
        return;
    }
    const Facts& facts = *sources.facts;
    const std::uint64_t pictures = sources.analysis->pictures.size();
    section->add(QStringLiteral("pictures"), decimalText(pictures), kAnalysis);
    section->add(kSliceSegments, decimalText(facts.sliceSegments), kAnalysis);
    section->add(QStringLiteral("pictures with known blocks"),
                 QStringLiteral("%1 of %2").arg(decimalText(facts.picturesWithBlocks), decimalText(pictures)),
                 kAnalysis);
    const std::pair<const char*, std::uint64_t> sizes[] = {
        {"CTUs", facts.ctuTotal}, {"CUs", facts.cuTotal}, {"PUs", facts.puTotal}, {"TUs", facts.tuTotal}};
    for (const auto& [blocks, total] : sizes) {
        const QString name = QStringLiteral("%1 in pictures with known blocks").arg(QLatin1String(blocks));
        if (facts.picturesWithBlocks == 0) {
            section->add(name, kNotAvailable, kUnavailable);
        } else {
            section->add(name, decimalText(total), kAnalysis);
        }
    }
}

void addSyntaxBitAllocationSection(Node& root) {
    Node* section = root.add(QStringLiteral("syntax bit allocation"), {}, kUnavailable);
    section->add(QStringLiteral("distribution avg bits per frame"), kNotAvailable, kUnavailable);
    section->add(QStringLiteral("syntax element bit cost"), QStringLiteral("Requires analyzer schema extension"),
                 kFuture);
}

}  // namespace

StreamStatisticsModel::StreamStatisticsModel(QObject* parent)
    : QAbstractItemModel(parent), root_(std::make_unique<StatisticsNode>()) {
    clear();
}

StreamStatisticsModel::~StreamStatisticsModel() = default;

void StreamStatisticsModel::clear() {
    beginResetModel();
    streamInfo_.reset();
    pictures_.clear();
    decodedTypeCounts_ = {};
    analysis_.reset();
    analysisFacts_.reset();
    root_ = std::make_unique<StatisticsNode>();
    root_->add(kNoProjectText, {}, {});
    endResetModel();
}

void StreamStatisticsModel::setStreamInfo(const domain::StreamInfo& streamInfo) {
    beginResetModel();
    streamInfo_ = streamInfo;
    pictures_.clear();
    decodedTypeCounts_ = {};
    analysis_.reset();
    analysisFacts_.reset();
    rebuild();
    endResetModel();
}

void StreamStatisticsModel::appendPictures(const std::vector<domain::PictureInfo>& pictures) {
    if (pictures.empty()) {
        return;
    }
    beginResetModel();
    for (const domain::PictureInfo& picture : pictures) {
        ++decodedTypeCounts_[pictureTypeSlot(codeOf(picture.pictureType))];
    }
    pictures_.insert(pictures_.end(), pictures.begin(), pictures.end());
    rebuild();
    endResetModel();
}

void StreamStatisticsModel::setStreamAnalysis(analysis::StreamAnalysis analysis) {
    setStreamAnalysis(std::make_shared<const analysis::StreamAnalysis>(std::move(analysis)));
}

void StreamStatisticsModel::setStreamAnalysis(std::shared_ptr<const analysis::StreamAnalysis> analysis) {
    if (!analysis) {
        analysis = std::make_shared<const analysis::StreamAnalysis>();
    }
    beginResetModel();
    analysis_ = std::move(analysis);
    analysisFacts_ = factsOf(*analysis_);
    rebuild();
    endResetModel();
}

void StreamStatisticsModel::clearStreamAnalysis() {
    if (!analysis_) {
        return;
    }
    beginResetModel();
    analysis_.reset();
    analysisFacts_.reset();
    rebuild();
    endResetModel();
}

void StreamStatisticsModel::rebuild() {
    root_ = std::make_unique<StatisticsNode>();
    if (!streamInfo_.has_value() && !analysis_) {
        root_->add(kNoProjectText, {}, {});
        return;
    }
    const Sources sources{streamInfo_, pictures_.size(), decodedTypeCounts_,
                          analysis_.get(), analysisFacts_.get()};
    addStreamSection(*root_, sources);
    addFramesSection(*root_, sources);
    addBitstreamIndexSection(*root_, sources);
    addQpSection(*root_, sources);
    addCodingToolsSection(*root_, sources);
    addStructureSummarySection(*root_, sources);
    addSyntaxBitAllocationSection(*root_);
}

StreamStatisticsModel::StatisticsNode* StreamStatisticsModel::nodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<StatisticsNode*>(index.internalPointer()) : root_.get();
}

QModelIndex StreamStatisticsModel::index(int row, int column, const QModelIndex& parent) const {
    if (!hasIndex(row, column, parent)) {
        return {};
    }
    const StatisticsNode* parentNode = nodeOf(parent);
    if (parentNode == nullptr || static_cast<std::size_t>(row) >= parentNode->children.size()) {
        return {};
    }
    return createIndex(row, column, parentNode->children[static_cast<std::size_t>(row)].get());
}

QModelIndex StreamStatisticsModel::parent(const QModelIndex& index) const {
    if (!index.isValid()) {
        return {};
    }
    const StatisticsNode* node = nodeOf(index);
    if (node == nullptr || node->parent == nullptr || node->parent == root_.get()) {
        return {};
    }
    return createIndex(node->parent->row, 0, node->parent);
}

int StreamStatisticsModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) {
        return 0;
    }
    const StatisticsNode* node = nodeOf(parent);
    return node != nullptr ? static_cast<int>(node->children.size()) : 0;
}

int StreamStatisticsModel::columnCount(const QModelIndex&) const { return kColumnCount; }

QVariant StreamStatisticsModel::data(const QModelIndex& index, int role) const {
    const StatisticsNode* node = index.isValid() ? nodeOf(index) : nullptr;
    if (node == nullptr) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case 0: return node->name;
        case 1: return node->value;
        case 2: return node->percentText;
        case 3: return node->status;
        default: return {};
        }
    case Qt::TextAlignmentRole:
        return index.column() == 1 ? QVariant(static_cast<int>(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
    case kPercentPermilleRole:
        return node->percent.has_value() ? QVariant(static_cast<int>(*node->percent * 10.0)) : QVariant();
    default:
        return {};
    }
}

QVariant StreamStatisticsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount) {
        return {};
    }
    return QString::fromLatin1(kHeaders[static_cast<std::size_t>(section)]);
}

}  // namespace vexilo
