#include "vexilo/ai/AiEvidenceSections.h"

#include "vexilo/media/PathText.h"

#include "DocumentPictures.h"
#include "EvidenceFill.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <unordered_map>

namespace vexilo::ai {

namespace {

using analysis::StableId;
using analysis::StreamAnalysis;
using domain::PictureInfo;
using media::FrameQualityMetrics;
using media::PlaneQualityMetrics;
using media::QualityMetricStatus;

constexpr std::size_t kTopByteSizeRanks = 8;
constexpr std::size_t kWorstRegionsPerSide = 6;
constexpr std::size_t kLowestPsnrFrames = 8;
constexpr std::size_t kLargestAbGaps = 8;
constexpr double kMissingPsnrSortKey = 999.0;
constexpr double kAbTieThresholdDb = 0.005;
constexpr int kPsnrDecimals = 2;
constexpr int kSsimDecimals = 4;
constexpr int kMseDecimals = 6;
constexpr int kMeanDecimals = 2;
constexpr auto kNotAvailable = "N/A";

template <typename Integer>
QString number(Integer value)
{
    return QString::number(value);
}

template <typename Integer>
QString formatOptionalInteger(std::optional<Integer> value)
{
    return value ? QString::number(*value) : QString::fromLatin1(kNotAvailable);
}

QString pictureTypeName(std::int64_t type)
{
    static constexpr std::array<const char*, 4> kNames{"Unknown", "I", "P", "B"};
    return QLatin1String(type >= 0 && type < std::ssize(kNames) ? kNames[static_cast<std::size_t>(type)] : kNames[0]);
}

QString completenessName(analysis::PictureCompleteness completeness)
{
    static constexpr std::array<const char*, 4> kNames{"unknown", "partial", "complete", "failed"};
    const auto value = static_cast<std::size_t>(completeness);
    return QLatin1String(value < kNames.size() ? kNames[value] : kNames[0]);
}

struct ReferenceLayoutEvidence {
    domain::ReferenceYuvLayout layout;
    const char* name;
    int bitDepth;
};

constexpr std::array<ReferenceLayoutEvidence, 7> kReferenceLayouts{{
    {domain::ReferenceYuvLayout::I420, "I420", 8},
    {domain::ReferenceYuvLayout::I010, "I010", 10},
    {domain::ReferenceYuvLayout::P010, "P010", 10},
    {domain::ReferenceYuvLayout::Yuv422P8, "YUV422P8", 8},
    {domain::ReferenceYuvLayout::Yuv422P10Le, "YUV422P10LE", 10},
    {domain::ReferenceYuvLayout::Yuv444P8, "YUV444P8", 8},
    {domain::ReferenceYuvLayout::Yuv444P10Le, "YUV444P10LE", 10},
}};
constexpr ReferenceLayoutEvidence kUnknownReferenceLayout{domain::ReferenceYuvLayout::Unknown, "Unknown", 0};

const ReferenceLayoutEvidence& referenceLayoutEvidence(domain::ReferenceYuvLayout layout)
{
    const auto* found = std::find_if(kReferenceLayouts.begin(), kReferenceLayouts.end(),
                                     [layout](const ReferenceLayoutEvidence& entry) { return entry.layout == layout; });
    return found == kReferenceLayouts.end() ? kUnknownReferenceLayout : *found;
}

// A NaN would break the sort orders below, so it counts as no value at all.
std::optional<double> availablePsnr(const PlaneQualityMetrics& plane)
{
    if (plane.status != QualityMetricStatus::Available || !plane.psnr || std::isnan(*plane.psnr)) {
        return std::nullopt;
    }
    return plane.psnr;
}

std::optional<double> usableTotalPsnr(const std::optional<FrameQualityMetrics>& metrics)
{
    return metrics ? availablePsnr(metrics->all) : std::nullopt;
}

const PictureInfo* findPicture(const std::vector<PictureInfo>& pictures, std::optional<domain::PictureId> id)
{
    if (!id) {
        return nullptr;
    }
    const auto found = std::find_if(pictures.begin(), pictures.end(),
                                    [id](const PictureInfo& picture) { return picture.id == *id; });
    return found == pictures.end() ? nullptr : &*found;
}

const PictureInfo* findPictureAtDisplayIndex(const std::vector<PictureInfo>& pictures, std::int64_t displayIndex)
{
    const auto found = std::find_if(pictures.begin(), pictures.end(), [displayIndex](const PictureInfo& picture) {
        return picture.displayIndex == displayIndex;
    });
    return found == pictures.end() ? nullptr : &*found;
}

std::uint64_t saturatingAdd(std::uint64_t total, std::uint64_t value)
{
    return value > std::numeric_limits<std::uint64_t>::max() - total ? std::numeric_limits<std::uint64_t>::max()
                                                                       : total + value;
}

std::optional<std::uint64_t> byteSizeOf(const PictureByteSizes& sizes, std::optional<std::uint64_t> documentId)
{
    if (!documentId) {
        return std::nullopt;
    }
    const auto found = std::lower_bound(sizes.begin(), sizes.end(), *documentId,
                                        [](const auto& entry, std::uint64_t wanted) { return entry.first < wanted; });
    return found != sizes.end() && found->first == *documentId ? std::optional(found->second) : std::nullopt;
}

template <typename Container, typename Compare>
void keepFirstSorted(Container& items, std::size_t count, Compare compare)
{
    const auto middle = items.begin() + static_cast<std::ptrdiff_t>(std::min(count, items.size()));
    std::partial_sort(items.begin(), middle, items.end(), compare);
    items.erase(middle, items.end());
}

QString psnrOrNotAvailable(std::optional<double> psnr)
{
    return formatEvidenceNumber(psnr, kPsnrDecimals);
}

void appendWorstRegions(QStringList& lines, const char* side, const std::vector<media::RegionQualityMetrics>& regions)
{
    const std::vector<media::RegionQualityMetrics> worst = worstRegions(regions);
    if (worst.empty()) {
        lines.append(fillEvidenceLine("%1 worst quality blocks: unavailable", QLatin1String(side)));
        return;
    }
    lines.append(fillEvidenceLine("%1 worst quality blocks:", QLatin1String(side)));
    for (const auto& region : worst) {
        lines.append(fillEvidenceLine("- %1", formatRegionEvidence(region)));
    }
}

std::optional<std::int64_t> qualityTargetFrame(const AiEvidenceSnapshot& snapshot)
{
    if (snapshot.currentCompareFrameIndex) {
        return snapshot.currentCompareFrameIndex;
    }
    if (const PictureInfo* selected = findPicture(snapshot.pictures, snapshot.selectedPictureId)) {
        return selected->displayIndex;
    }
    return std::nullopt;
}

void appendTargetFrameQuality(QStringList& lines, const AiEvidenceSnapshot& snapshot)
{
    const std::optional<std::int64_t> target = qualityTargetFrame(snapshot);
    if (!target) {
        lines.append(QStringLiteral("target frame quality: no selected frame"));
        return;
    }
    const auto& results = snapshot.qualityPairResults;
    const auto found = std::find_if(results.begin(), results.end(),
                                    [&](const AiEvidenceQualityPair& pair) { return pair.frameIndex == *target; });
    if (found == results.end()) {
        lines.append(fillEvidenceLine("target frame quality: unavailable for frame=%1", number(*target)));
        return;
    }
    lines.append(fillEvidenceLine("target frame quality: frame=%1 A=%2 B=%3", number(found->frameIndex),
                      formatFrameQualityEvidence(found->metricsA), formatFrameQualityEvidence(found->metricsB)));
    appendWorstRegions(lines, "A", found->regionsA);
    appendWorstRegions(lines, "B", found->regionsB);
}

void appendLowestPsnrFrames(QStringList& lines, const std::vector<AiEvidenceQualityPair>& results)
{
    struct Ranked {
        double key;
        const AiEvidenceQualityPair* pair;
        std::optional<double> a;
        std::optional<double> b;
    };
    std::vector<Ranked> ranked;
    for (const auto& pair : results) {
        const auto a = usableTotalPsnr(pair.metricsA);
        const auto b = usableTotalPsnr(pair.metricsB);
        if (a || b) {
            ranked.push_back({std::min(a.value_or(kMissingPsnrSortKey), b.value_or(kMissingPsnrSortKey)), &pair, a, b});
        }
    }
    if (ranked.empty()) {
        lines.append(QStringLiteral("lowest-PSNR frames: unavailable"));
        return;
    }
    keepFirstSorted(ranked, kLowestPsnrFrames, [](const Ranked& x, const Ranked& y) { return x.key < y.key; });
    lines.append(QStringLiteral("lowest-PSNR quality frames:"));
    for (const auto& entry : ranked) {
        lines.append(fillEvidenceLine("- frame=%1 A_total_psnr=%2 B_total_psnr=%3", number(entry.pair->frameIndex),
                          psnrOrNotAvailable(entry.a), psnrOrNotAvailable(entry.b)));
    }
}

struct FrameDelta {
    std::int64_t frameIndex;
    double delta;
};

std::vector<FrameDelta> abPsnrDeltas(const std::vector<AiEvidenceQualityPair>& results)
{
    std::vector<FrameDelta> deltas;
    for (const auto& pair : results) {
        const auto a = usableTotalPsnr(pair.metricsA);
        const auto b = usableTotalPsnr(pair.metricsB);
        if (a && b && !std::isinf(*a) && !std::isinf(*b)) {
            deltas.push_back({pair.frameIndex, *a - *b});
        }
    }
    return deltas;
}

void appendAbSummary(QStringList& lines, const std::vector<FrameDelta>& deltas)
{
    std::uint64_t aWins = 0;
    std::uint64_t bWins = 0;
    std::uint64_t ties = 0;
    double sum = 0.0;
    for (const FrameDelta& entry : deltas) {
        sum += entry.delta;
        if (std::abs(entry.delta) <= kAbTieThresholdDb) {
            ++ties;
        } else if (entry.delta > 0.0) {
            ++aWins;
        } else {
            ++bWins;
        }
    }
    const double mean = sum / static_cast<double>(deltas.size());
    lines.append(fillEvidenceLine("A/B total PSNR summary: frames=%1 A_wins=%2 B_wins=%3 ties=%4 mean_A_minus_B=%5 dB",
                      number(deltas.size()), number(aWins), number(bWins), number(ties),
                      formatEvidenceNumber(mean, kMeanDecimals)));
}

}  // namespace

QString formatEvidenceNumber(std::optional<double> value, int decimals)
{
    if (!value) {
        return QLatin1String(kNotAvailable);
    }
    if (std::isinf(*value)) {
        return QStringLiteral("inf");
    }
    return QString::number(*value, 'f', decimals);
}

QString formatOptionalCount(std::optional<std::int64_t> value) { return formatOptionalInteger(value); }
QString formatOptionalCount(std::optional<std::uint64_t> value) { return formatOptionalInteger(value); }
QString formatOptionalCount(std::optional<std::int32_t> value) { return formatOptionalInteger(value); }
QString formatOptionalCount(std::optional<std::uint32_t> value) { return formatOptionalInteger(value); }

QString formatEvidenceFileName(const QString& path)
{
    if (path.isEmpty()) {
        return QLatin1String(kNotAvailable);
    }
    const qsizetype separator = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(separator + 1);
}

QString formatPictureEvidence(const PictureInfo& picture)
{
    return fillEvidenceLine("display=%1 id=%2 type=%3 decode=%4 pts=%5 dts=%6 poc=%7 size=%8x%9 bit_depth=%10",
                number(picture.displayIndex), number(picture.id),
                pictureTypeName(static_cast<std::int64_t>(picture.pictureType)), formatOptionalCount(picture.decodeIndex),
                formatOptionalCount(picture.pts), formatOptionalCount(picture.dts), formatOptionalCount(picture.poc),
                number(picture.width), number(picture.height), number(picture.bitDepth));
}

QString formatPlaneQualityEvidence(const PlaneQualityMetrics& plane)
{
    if (plane.status == QualityMetricStatus::Available) {
        return fillEvidenceLine("%1 dB, SSIM %2, MSE %3", formatEvidenceNumber(plane.psnr, kPsnrDecimals),
                    formatEvidenceNumber(plane.ssim, kSsimDecimals), formatEvidenceNumber(plane.mse, kMseDecimals));
    }
    const std::string_view name = media::qualityMetricStatusName(plane.status);
    const QString statusName = QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    return plane.message.empty() ? statusName : statusName + QStringLiteral(", ") + QString::fromStdString(plane.message);
}

QString formatFrameQualityEvidence(const std::optional<FrameQualityMetrics>& metrics)
{
    if (!metrics) {
        return QStringLiteral("unavailable");
    }
    return fillEvidenceLine("Y %1; U %2; V %3; total %4", formatPlaneQualityEvidence(metrics->y),
                formatPlaneQualityEvidence(metrics->u), formatPlaneQualityEvidence(metrics->v),
                formatPlaneQualityEvidence(metrics->all));
}

QString formatRegionEvidence(const media::RegionQualityMetrics& region)
{
    return fillEvidenceLine("x=%1 y=%2 w=%3 h=%4 total_psnr=%5 Y_psnr=%6 total_mse=%7", number(region.x), number(region.y),
                number(region.width), number(region.height), psnrOrNotAvailable(availablePsnr(region.allMetrics)),
                psnrOrNotAvailable(availablePsnr(region.yMetrics)), formatEvidenceNumber(region.allMetrics.mse, kMseDecimals));
}

QString formatComparePairEvidence(const AiEvidenceComparePair& pair)
{
    return fillEvidenceLine("frame=%1 ref=%2 A(id=%3 display=%4 poc=%5 type=%6) B(id=%7 display=%8 poc=%9 type=%10) match=%11 "
                "resolution=%12 A_total_psnr=%13 B_total_psnr=%14",
                number(pair.frameIndex), formatOptionalCount(pair.referenceFrameIndex),
                formatOptionalCount(pair.pictureIdA), formatOptionalCount(pair.displayIndexA),
                formatOptionalCount(pair.pocA), pictureTypeName(pair.pictureTypeA), formatOptionalCount(pair.pictureIdB),
                formatOptionalCount(pair.displayIndexB), formatOptionalCount(pair.pocB),
                pictureTypeName(pair.pictureTypeB), pair.matchText, pair.resolutionText,
                psnrOrNotAvailable(usableTotalPsnr(pair.metricsA)), psnrOrNotAvailable(usableTotalPsnr(pair.metricsB)));
}

QString formatReferenceYuvEvidence(const domain::ReferenceYuvSource& source)
{
    const ReferenceLayoutEvidence& layout = referenceLayoutEvidence(source.layout);
    return fillEvidenceLine("file=%1 resolution=%2x%3 layout=%4 bit_depth=%5 frame_offset=%6 frame_size_bytes=%7 "
                "physical_frames=%8 matched_frames=%9",
                formatEvidenceFileName(media::pathToQString(source.path)), number(source.width), number(source.height),
                QLatin1String(layout.name), number(layout.bitDepth), number(source.frameOffset),
                formatOptionalCount(source.frameSizeBytes), formatOptionalCount(source.physicalFrames),
                formatOptionalCount(source.matchedFrames));
}

QString sliceQpSummary(const std::vector<analysis::SliceInfo>& slices)
{
    std::optional<std::int16_t> lowest;
    std::optional<std::int16_t> highest;
    double sum = 0.0;
    std::size_t count = 0;
    for (const auto& slice : slices) {
        if (!slice.sliceQp) {
            continue;
        }
        const std::int16_t qp = *slice.sliceQp;
        lowest = lowest ? std::min(*lowest, qp) : qp;
        highest = highest ? std::max(*highest, qp) : qp;
        sum += qp;
        ++count;
    }
    if (count == 0) {
        return QLatin1String(kNotAvailable);
    }
    return fillEvidenceLine("min=%1 avg=%2 max=%3", number(*lowest),
                formatEvidenceNumber(sum / static_cast<double>(count), kMeanDecimals), number(*highest));
}

// A picture's size is what its NAL units take in the stream: a unit of the configuration record
// (an MP4's SEI beside its parameter sets) lies in no picture's packet, whatever picture the
// analysis links it to.
PictureByteSizes pictureByteSizes(const StreamAnalysis& document)
{
    PictureByteSizes units;
    units.reserve(document.nalUnits.size());
    for (const auto& unit : document.nalUnits) {
        if (unit.pictureId && unit.byteSpanReliable) {
            units.emplace_back(*unit.pictureId, unit.byteSize);
        }
    }
    std::sort(units.begin(), units.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    PictureByteSizes totals;
    for (const auto& [pictureId, bytes] : units) {
        if (totals.empty() || totals.back().first != pictureId) {
            totals.emplace_back(pictureId, bytes);
        } else {
            totals.back().second = saturatingAdd(totals.back().second, bytes);
        }
    }
    return totals;
}

std::vector<media::RegionQualityMetrics> worstRegions(std::vector<media::RegionQualityMetrics> regions)
{
    std::erase_if(regions, [](const media::RegionQualityMetrics& region) { return !availablePsnr(region.allMetrics); });
    keepFirstSorted(regions, kWorstRegionsPerSide, [](const auto& x, const auto& y) {
        return *x.allMetrics.psnr < *y.allMetrics.psnr;
    });
    return regions;
}

void appendPictureTypeDistribution(QStringList& lines, const std::vector<PictureInfo>& pictures)
{
    std::array<std::uint64_t, 4> counts{};  // Unknown, I, P, B
    for (const auto& picture : pictures) {
        const auto type = static_cast<std::size_t>(picture.pictureType);
        ++counts[type < counts.size() ? type : 0];
    }
    lines.append(fillEvidenceLine("picture type distribution: I=%1 P=%2 B=%3 Unknown=%4", number(counts[1]), number(counts[2]),
                      number(counts[3]), number(counts[0])));
}

void appendSelectedPictureEvidence(QStringList& lines, const AiEvidenceSnapshot& snapshot,
                                   const StreamAnalysis* document)
{
    lines.append(QStringLiteral("[selected-picture evidence]"));
    if (!snapshot.selectedPictureId) {
        lines.append(QStringLiteral("selected picture: unavailable"));
        return;
    }
    const PictureInfo* picture = findPicture(snapshot.pictures, snapshot.selectedPictureId);
    std::optional<DocumentPictures> documentPictures;
    if (document) {
        documentPictures.emplace(snapshot, *document);
    }
    const auto described = [&](const PictureInfo& decoded) {
        return formatPictureEvidence(documentPictures ? documentPictures->refined(decoded) : decoded);
    };
    lines.append(QStringLiteral("decoded metadata: ") +
                 (picture ? described(*picture) : QStringLiteral("unavailable")));
    if (!document) {
        lines.append(QStringLiteral("syntax analysis: unavailable"));
        return;
    }
    const std::optional<std::uint64_t> documentId = picture ? documentPictures->documentIdOf(*picture) : std::nullopt;
    if (const analysis::PictureAnalysisSummary* summary = picture ? documentPictures->summaryOf(*picture) : nullptr) {
        lines.append(fillEvidenceLine("analysis summary: completeness=%1 slices=%2 ctus=%3 cus=%4 pus=%5 tus=%6",
                          completenessName(summary->completeness), formatOptionalCount(summary->sliceCount),
                          formatOptionalCount(summary->ctuCount), formatOptionalCount(summary->cuCount),
                          formatOptionalCount(summary->puCount), formatOptionalCount(summary->tuCount)));
    } else {
        lines.append(QStringLiteral("analysis picture summary: unavailable"));
    }
    std::vector<analysis::SliceInfo> slices;
    std::unordered_map<StableId, std::uint64_t, analysis::StableIdHash> sliceMultiplicity;
    for (const auto& slice : document->slices) {
        if (documentId && slice.pictureId == documentId) {
            slices.push_back(slice);
            ++sliceMultiplicity[slice.id];
        }
    }
    std::uint64_t linkedReferences = 0;
    for (const auto& reference : document->referencePictures) {
        if (const auto found = sliceMultiplicity.find(reference.parentSliceId); found != sliceMultiplicity.end()) {
            linkedReferences += found->second;
        }
    }
    lines.append(fillEvidenceLine("slice count loaded: %1", number(slices.size())));
    lines.append(fillEvidenceLine("slice QP: %1", sliceQpSummary(slices)));
    lines.append(fillEvidenceLine("reference pictures linked to selected slices: %1", number(linkedReferences)));
}

void appendFrameSizeEvidence(QStringList& lines, const AiEvidenceSnapshot& snapshot, const StreamAnalysis* document)
{
    lines.append(QStringLiteral("[frame-size evidence]"));
    if (!document) {
        lines.append(QStringLiteral("per-picture byte sizes: unavailable; run Analyze Stream with analyzer metadata"));
        return;
    }
    const PictureByteSizes sizes = pictureByteSizes(*document);
    if (sizes.empty()) {
        lines.append(QStringLiteral("per-picture byte sizes: unavailable in current analysis"));
        return;
    }
    PictureByteSizes ranked = sizes;
    keepFirstSorted(ranked, kTopByteSizeRanks, [](const auto& x, const auto& y) { return x.second > y.second; });
    lines.append(QStringLiteral("top picture byte sizes from NAL payload sizes:"));
    const DocumentPictures documentPictures(snapshot, *document);
    std::uint64_t rank = 0;
    for (const auto& [documentId, bytes] : ranked) {
        const std::optional<PictureInfo> picture = documentPictures.decodedPicture(documentId);
        lines.append(fillEvidenceLine("- rank=%1 bytes=%2 %3", number(++rank), number(bytes),
                                      picture ? formatPictureEvidence(*picture)
                                              : documentPictures.undecodedPictureEvidence(documentId)));
    }
    const PictureInfo* selected = findPicture(snapshot.pictures, snapshot.selectedPictureId);
    if (!selected) {
        lines.append(QStringLiteral("selected-picture neighbor byte comparison: unavailable"));
        return;
    }
    lines.append(QStringLiteral("selected-picture neighbor byte comparison:"));
    for (std::int64_t offset = -1; offset <= 1; ++offset) {
        const std::int64_t displayIndex = selected->displayIndex + offset;
        const PictureInfo* neighbour = findPictureAtDisplayIndex(snapshot.pictures, displayIndex);
        if (!neighbour) {
            lines.append(fillEvidenceLine("- display=%1 unavailable", number(displayIndex)));
            continue;
        }
        lines.append(fillEvidenceLine("- bytes=%1 %2",
                                      formatOptionalCount(byteSizeOf(sizes, documentPictures.documentIdOf(*neighbour))),
                                      formatPictureEvidence(documentPictures.refined(*neighbour))));
    }
}

void appendQualityDropEvidence(QStringList& lines, const AiEvidenceSnapshot& snapshot)
{
    lines.append(QStringLiteral("[quality-drop evidence]"));
    if (snapshot.qualityPairResults.empty()) {
        lines.append(QStringLiteral("quality metrics: unavailable; attach Reference YUV and run Quality Detect"));
        return;
    }
    appendTargetFrameQuality(lines, snapshot);
    appendLowestPsnrFrames(lines, snapshot.qualityPairResults);
}

void appendAbQualityEvidence(QStringList& lines, const AiEvidenceSnapshot& snapshot)
{
    lines.append(QStringLiteral("[A/B quality-difference evidence]"));
    lines.append(fillEvidenceLine("compare pair count: %1", number(snapshot.comparePairCount)));
    if (snapshot.sampledComparePairs.empty()) {
        lines.append(QStringLiteral("sampled compare pairs: unavailable"));
    } else {
        lines.append(QStringLiteral("sampled compare pairs:"));
        for (const auto& pair : snapshot.sampledComparePairs) {
            lines.append(fillEvidenceLine("- %1", formatComparePairEvidence(pair)));
        }
    }
    std::vector<FrameDelta> deltas = abPsnrDeltas(snapshot.qualityPairResults);
    if (deltas.empty()) {
        lines.append(QStringLiteral("A/B PSNR deltas: unavailable; compute quality metrics for both streams"));
        return;
    }
    appendAbSummary(lines, deltas);
    keepFirstSorted(deltas, kLargestAbGaps,
                    [](const FrameDelta& x, const FrameDelta& y) { return std::abs(x.delta) > std::abs(y.delta); });
    lines.append(QStringLiteral("largest A/B total PSNR gaps:"));
    for (const FrameDelta& entry : deltas) {
        lines.append(fillEvidenceLine("- frame=%1 A_minus_B=%2 dB", number(entry.frameIndex),
                          formatEvidenceNumber(entry.delta, kPsnrDecimals)));
    }
}

}  // namespace vexilo::ai
