#include "oracle/OracleDocument.h"

#include "oracle/DocumentRendering.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace vexilo::hevc::oracle {

using analysis::BlockRect;
using analysis::PredictionMode;
using analysis::StableId;

namespace {

constexpr std::uint32_t kMinBlockSize = 4;
constexpr int kLowestQp = -48; // 16-bit video
constexpr int kHighestQp = 51;
constexpr int kIntraModeCount = 35;
// Motion lines longer than this (in pixels, i.e. quarter samples) are not searched for.
constexpr std::int64_t kMotionSearchRange = 512;

BlockRect lumaRect(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height)
{
    return {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), width, height,
            analysis::kBlockRectUnitLumaSample};
}

bool contains(const BlockRect& rect, std::int64_t x, std::int64_t y)
{
    return x >= rect.x && y >= rect.y && x < rect.x + std::int64_t{rect.width} &&
           y < rect.y + std::int64_t{rect.height};
}

// Identities only need to be distinct and non-null inside this document.
class IdSource {
public:
    StableId next() { return {0, ++counter_}; }

private:
    std::uint64_t counter_ = 0;
};

PredictionMode modeFromTint(std::uint32_t pixel)
{
    for (const PredictionMode mode : {PredictionMode::Intra, PredictionMode::Skip, PredictionMode::Inter}) {
        Bitmap probe(1, 1);
        draw::blend(probe, lumaRect(0, 0, 1, 1), *draw::predictionModeColour(mode));
        if (probe.at(0, 0) == pixel) {
            return mode;
        }
    }
    return PredictionMode::Unknown;
}

template <typename Record>
const Record* owner(const std::vector<Record>& records, const BlockRect& block)
{
    const auto found = std::find_if(records.begin(), records.end(),
                                    [&](const Record& r) { return contains(r.bounds, block.x, block.y); });
    return found == records.end() ? nullptr : &*found;
}

// Intra modes whose glyph draws only pixels that were drawn, those covering most of what
// was drawn inside the PB first. Glyphs of different modes can differ only in the sample
// they put outside their PB, so the choice among equals is left to IntraModeReader.
std::vector<std::uint8_t> glyphCandidates(const Bitmap& drawn, const BlockRect& pb)
{
    std::vector<std::pair<std::size_t, std::uint8_t>> scored;
    for (int mode = 0; mode < kIntraModeCount; ++mode) {
        bool consistent = true;
        std::size_t covered = 0;
        draw::forEachGlyphPixel(pb, mode, [&](std::int64_t x, std::int64_t y) {
            if (!drawn.contains(x, y)) {
                return;
            }
            if (drawn.at(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)) != kIntraModeColour) {
                consistent = false;
            }
            covered += contains(pb, x, y) ? 1U : 0U;
        });
        if (consistent) {
            scored.emplace_back(covered, static_cast<std::uint8_t>(mode));
        }
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::uint8_t> modes;
    for (const auto& [covered, mode] : scored) {
        if (covered == scored.front().first) {
            modes.push_back(mode);
        }
    }
    return modes;
}

// Picks one glyph per intra PB so that together they explain every drawn pixel: starts from
// the first candidate of each and moves a PB to another candidate when that one explains a
// drawn pixel that nothing explains yet.
class IntraModeReader {
public:
    static constexpr int kRepairRounds = 4;

    IntraModeReader(const Bitmap& drawn, std::vector<BlockRect> pbs) : drawn_(drawn), pbs_(std::move(pbs))
    {
        for (const auto& pb : pbs_) {
            candidates_.push_back(glyphCandidates(drawn_, pb));
            choice_.push_back(0);
        }
        for (int round = 0; round < kRepairRounds && repair(); ++round) {
        }
    }

    [[nodiscard]] std::optional<std::uint8_t> mode(std::size_t pb) const
    {
        if (candidates_[pb].empty()) {
            return std::nullopt;
        }
        return candidates_[pb][choice_[pb]];
    }

private:
    bool repair()
    {
        Bitmap explained(drawn_.width, drawn_.height);
        for (std::size_t i = 0; i < pbs_.size(); ++i) {
            if (const auto m = mode(i)) {
                draw::intraGlyph(explained, pbs_[i], *m, kIntraModeColour);
            }
        }
        bool changed = false;
        for (std::size_t i = 0; i < pbs_.size(); ++i) {
            for (std::size_t c = 0; c < candidates_[i].size(); ++c) {
                if (c != choice_[i] && explainsMissing(explained, pbs_[i], candidates_[i][c])) {
                    choice_[i] = c;
                    changed = true;
                    break;
                }
            }
        }
        return changed;
    }

    [[nodiscard]] bool explainsMissing(const Bitmap& explained, const BlockRect& pb, std::uint8_t candidate) const
    {
        bool found = false;
        draw::forEachGlyphPixel(pb, candidate, [&](std::int64_t x, std::int64_t y) {
            if (drawn_.contains(x, y)) {
                const auto px = static_cast<std::uint32_t>(x);
                const auto py = static_cast<std::uint32_t>(y);
                found = found || (drawn_.at(px, py) == kIntraModeColour && explained.at(px, py) == kBackground);
            }
        });
        return found;
    }

    const Bitmap& drawn_;
    std::vector<BlockRect> pbs_;
    std::vector<std::vector<std::uint8_t>> candidates_;
    std::vector<std::size_t> choice_;
};

// Finds motion lines back, last drawn first: a pixel drawn by a later line may show any
// colour, every other pixel of a line must show the line's own colour. Of the lines that
// fit, the one explaining most pixels not yet explained wins.
class MotionReader {
public:
    explicit MotionReader(const Bitmap& drawn) : drawn_(drawn), claimed_(drawn.width, drawn.height)
    {
        for (std::uint32_t y = 0; y < drawn.height; ++y) {
            for (std::uint32_t x = 0; x < drawn.width; ++x) {
                if (drawn.at(x, y) != kBackground) {
                    painted_.push_back({x, y});
                }
            }
        }
    }

    std::optional<analysis::MotionVectorInfo> read(const BlockRect& pb, analysis::ReferenceList list)
    {
        const std::uint32_t colour =
            list == analysis::ReferenceList::L1 ? draw::kMotionL1Colour : draw::kMotionL0Colour;
        const std::int64_t cx = pb.x + std::int64_t{pb.width} / 2;
        const std::int64_t cy = pb.y + std::int64_t{pb.height} / 2;
        if (!explains(cx, cy, colour)) {
            return std::nullopt;
        }
        std::optional<std::pair<std::int64_t, std::int64_t>> best;
        std::size_t bestScore = 0;
        for (const auto& [x, y] : painted_) {
            if (std::llabs(x - cx) > kMotionSearchRange || std::llabs(y - cy) > kMotionSearchRange ||
                !explains(x, y, colour)) {
                continue;
            }
            const auto score = scoreLine(cx, cy, x, y, colour);
            if (score && (!best || *score > bestScore)) {
                best = {{x - cx, y - cy}};
                bestScore = *score;
            }
        }
        // A line leaving the picture shows only up to the edge; its vector is one of those
        // whose line passes through the last pixel shown.
        for (const auto& [x, y] : painted_) {
            if (!onEdge(x, y) || std::llabs(x - cx) > kMotionSearchRange || std::llabs(y - cy) > kMotionSearchRange ||
                !explains(x, y, colour)) {
                continue;
            }
            forEachExitingVector(x - cx, y - cy, [&](std::int64_t dx, std::int64_t dy) {
                if (drawn_.contains(cx + dx, cy + dy)) {
                    return;
                }
                const auto score = scoreLine(cx, cy, cx + dx, cy + dy, colour);
                if (score && (!best || *score > bestScore)) {
                    best = {{dx, dy}};
                    bestScore = *score;
                }
            });
        }
        if (!best || bestScore == 0) {
            return std::nullopt;
        }
        draw::line(claimed_, cx, cy, cx + best->first, cy + best->second, 1);
        analysis::MotionVectorInfo vector;
        vector.list = list;
        vector.mvX = static_cast<std::int32_t>(best->first);
        vector.mvY = static_cast<std::int32_t>(best->second);
        vector.unit = analysis::MotionVectorUnit::QuarterLumaSample;
        return vector;
    }

private:
    [[nodiscard]] bool onEdge(std::int64_t x, std::int64_t y) const
    {
        return x == 0 || y == 0 || x + 1 == drawn_.width || y + 1 == drawn_.height;
    }

    // Vectors (dx, dy) within the search range whose line, stepping along its longer axis,
    // passes through the offset (mx, my) from its start.
    template <typename Visit>
    static void forEachExitingVector(std::int64_t mx, std::int64_t my, Visit visit)
    {
        forEachMinorRange(mx, my, [&](std::int64_t major, std::int64_t minor) { visit(major, minor); });
        forEachMinorRange(my, mx, [&](std::int64_t major, std::int64_t minor) { visit(minor, major); });
    }

    // For every major length beyond `along`, the minor lengths for which the pixel stepped
    // to at `along` lands at `across` (C division truncates toward zero).
    template <typename Visit>
    static void forEachMinorRange(std::int64_t along, std::int64_t across, Visit visit)
    {
        if (along == 0) {
            return;
        }
        const std::int64_t direction = along > 0 ? 1 : -1;
        const std::int64_t m = std::llabs(along);
        for (std::int64_t d = m; d <= kMotionSearchRange; ++d) {
            const std::int64_t nearEnd = across * d / m;
            const std::int64_t farEnd = (across + (across >= 0 ? 1 : -1)) * d / m;
            const std::int64_t low = std::max(-d, std::min(nearEnd, farEnd) - 1);
            const std::int64_t high = std::min(d, std::max(nearEnd, farEnd) + 1);
            for (std::int64_t minor = low; minor <= high; ++minor) {
                if (m * minor / d == across) {
                    visit(direction * d, minor);
                }
            }
        }
    }

    [[nodiscard]] bool explains(std::int64_t x, std::int64_t y, std::uint32_t colour) const
    {
        const auto px = static_cast<std::uint32_t>(x);
        const auto py = static_cast<std::uint32_t>(y);
        return claimed_.at(px, py) != kBackground || drawn_.at(px, py) == colour;
    }

    // The number of pixels the line would newly explain, or nothing when it contradicts
    // the drawing.
    [[nodiscard]] std::optional<std::size_t> scoreLine(std::int64_t cx, std::int64_t cy, std::int64_t x,
                                                       std::int64_t y, std::uint32_t colour) const
    {
        std::size_t score = 0;
        const bool consistent = draw::forEachLinePixelWhile(cx, cy, x, y, [&](std::int64_t px, std::int64_t py) {
            if (!drawn_.contains(px, py)) {
                return true;
            }
            if (!explains(px, py, colour)) {
                return false;
            }
            if (claimed_.at(static_cast<std::uint32_t>(px), static_cast<std::uint32_t>(py)) == kBackground) {
                ++score;
            }
            return true;
        });
        return consistent ? std::optional<std::size_t>(score) : std::nullopt;
    }

    const Bitmap& drawn_;
    Bitmap claimed_;
    std::vector<std::pair<std::int64_t, std::int64_t>> painted_;
};

// The CTU rectangles of a picture in raster order, clipped to it.
std::vector<BlockRect> ctuRects(std::uint32_t width, std::uint32_t height, std::uint32_t ctuSize)
{
    std::vector<BlockRect> rects;
    for (std::uint32_t y = 0; y < height; y += ctuSize) {
        for (std::uint32_t x = 0; x < width; x += ctuSize) {
            rects.push_back(lumaRect(x, y, std::min(ctuSize, width - x), std::min(ctuSize, height - y)));
        }
    }
    return rects;
}

struct PictureBuilder {
    analysis::StreamAnalysis& document;
    IdSource& ids;
    const PictureBitmaps& bitmaps;
    std::uint32_t ctuSize;
    MotionReadBack motion;

    void build(std::int64_t displayIndex)
    {
        analysis::PictureAnalysisSummary picture;
        picture.id = ids.next();
        picture.parentStreamAnalysisId = document.id;
        picture.displayIndex = displayIndex;
        document.pictures.push_back(picture);

        std::vector<analysis::CtuInfo> ctus = makeCtus(picture.id);
        std::vector<analysis::CuInfo> cus = makeCus(ctus);
        std::vector<analysis::TuInfo> tus = makeTus(cus);
        std::vector<analysis::PuInfo> pus = makePus(cus);
        std::vector<analysis::MotionVectorInfo> vectors;
        if (motion == MotionReadBack::Read) {
            vectors = readMotion(pus);
        }
        document.ctus.insert(document.ctus.end(), ctus.begin(), ctus.end());
        document.cus.insert(document.cus.end(), cus.begin(), cus.end());
        document.tus.insert(document.tus.end(), tus.begin(), tus.end());
        document.pus.insert(document.pus.end(), pus.begin(), pus.end());
        document.motionVectors.insert(document.motionVectors.end(), vectors.begin(), vectors.end());
    }

    std::vector<analysis::CtuInfo> makeCtus(const StableId& pictureId)
    {
        std::vector<analysis::CtuInfo> ctus;
        for (const BlockRect& rect : ctuRects(bitmaps.codedWidth, bitmaps.codedHeight, ctuSize)) {
            analysis::CtuInfo ctu;
            ctu.id = ids.next();
            ctu.parentPictureSummaryId = pictureId;
            ctu.bounds = rect;
            ctus.push_back(ctu);
        }
        return ctus;
    }

    std::vector<analysis::CuInfo> makeCus(const std::vector<analysis::CtuInfo>& ctus)
    {
        std::vector<analysis::CuInfo> cus;
        for (const BlockRect& rect :
             blocksFromGrid(bitmaps.of(BitmapKind::CodingBlockGrid), kCodingBlockGridColour)) {
            analysis::CuInfo cu;
            cu.id = ids.next();
            cu.parentCtuId = owner(ctus, rect)->id;
            cu.bounds = rect;
            cu.split = false;
            const auto x = static_cast<std::uint32_t>(rect.x);
            const auto y = static_cast<std::uint32_t>(rect.y);
            cu.qp = qpFromGrey(bitmaps.of(BitmapKind::QpMap).at(x, y));
            cu.predictionMode = modeFromTint(bitmaps.of(BitmapKind::PredictionModes).at(x, y));
            cu.skip = cu.predictionMode == PredictionMode::Skip;
            cus.push_back(cu);
        }
        return cus;
    }

    std::vector<analysis::TuInfo> makeTus(const std::vector<analysis::CuInfo>& cus)
    {
        std::vector<analysis::TuInfo> tus;
        for (const BlockRect& rect :
             blocksFromGrid(bitmaps.of(BitmapKind::TransformBlockGrid), kTransformBlockGridColour)) {
            analysis::TuInfo tu;
            tu.id = ids.next();
            if (const auto* cu = owner(cus, rect)) {
                tu.parentCuId = cu->id;
            }
            tu.bounds = rect;
            tu.split = false;
            tus.push_back(tu);
        }
        return tus;
    }

    std::vector<analysis::PuInfo> makePus(const std::vector<analysis::CuInfo>& cus)
    {
        std::vector<analysis::PuInfo> pus;
        for (const BlockRect& rect :
             blocksFromGrid(bitmaps.of(BitmapKind::PredictionBlockGrid), kPredictionBlockGridColour)) {
            analysis::PuInfo pu;
            pu.id = ids.next();
            pu.bounds = rect;
            if (const auto* cu = owner(cus, rect)) {
                pu.parentCuId = cu->id;
                pu.predictionMode = cu->predictionMode;
            }
            pus.push_back(pu);
        }
        readIntraModes(pus);
        return pus;
    }

    void readIntraModes(std::vector<analysis::PuInfo>& pus) const
    {
        std::vector<std::size_t> intra;
        std::vector<BlockRect> rects;
        for (std::size_t i = 0; i < pus.size(); ++i) {
            if (pus[i].predictionMode == PredictionMode::Intra) {
                intra.push_back(i);
                rects.push_back(pus[i].bounds);
            }
        }
        const IntraModeReader reader(bitmaps.of(BitmapKind::IntraModes), std::move(rects));
        for (std::size_t k = 0; k < intra.size(); ++k) {
            pus[intra[k]].intraLumaMode = reader.mode(k);
        }
    }

    std::vector<analysis::MotionVectorInfo> readMotion(const std::vector<analysis::PuInfo>& pus)
    {
        MotionReader reader(bitmaps.of(BitmapKind::Motion));
        std::vector<std::size_t> drawOrder = puDrawOrder(pus);
        std::vector<analysis::MotionVectorInfo> vectors;
        for (auto it = drawOrder.rbegin(); it != drawOrder.rend(); ++it) {
            const analysis::PuInfo& pu = pus[*it];
            if (pu.predictionMode != PredictionMode::Inter && pu.predictionMode != PredictionMode::Skip) {
                continue;
            }
            for (const auto list : {analysis::ReferenceList::L1, analysis::ReferenceList::L0}) {
                if (auto vector = reader.read(pu.bounds, list)) {
                    vector->id = ids.next();
                    vector->parentPuId = pu.id;
                    vectors.push_back(*vector);
                }
            }
        }
        return vectors;
    }

    std::vector<std::size_t> puDrawOrder(const std::vector<analysis::PuInfo>& pus) const
    {
        // The blocks were found in raster order of their corners; the renderer draws them
        // CTU by CTU in quadtree order, which blocksByOutputPicture works out for us.
        analysis::StreamAnalysis single;
        analysis::PictureAnalysisSummary picture;
        picture.id = {0, 1};
        single.pictures.push_back(picture);
        std::vector<analysis::CtuInfo> ctus;
        for (const BlockRect& rect : ctuRects(bitmaps.codedWidth, bitmaps.codedHeight, ctuSize)) {
            analysis::CtuInfo ctu;
            ctu.id = {1, ctus.size() + 1};
            ctu.parentPictureSummaryId = picture.id;
            ctu.bounds = rect;
            ctus.push_back(ctu);
        }
        single.ctus = ctus;
        for (std::size_t i = 0; i < pus.size(); ++i) {
            analysis::CuInfo cu;
            cu.id = {2, i + 1};
            if (const auto* ctu = owner(ctus, pus[i].bounds)) {
                cu.parentCtuId = ctu->id;
            }
            cu.bounds = pus[i].bounds;
            single.cus.push_back(cu);
            analysis::PuInfo pu;
            pu.id = {3, i + 1};
            pu.parentCuId = cu.id;
            pu.bounds = pus[i].bounds;
            pu.partIndex = 0;
            single.pus.push_back(pu);
        }
        std::vector<std::size_t> order;
        const std::vector<PictureBlocks> sorted = blocksByOutputPicture(single);
        for (const auto& block : sorted.front().predictionBlocks) {
            order.push_back(static_cast<std::size_t>(block.pu.id.low - 1));
        }
        return order;
    }
};

} // namespace

std::optional<std::int16_t> qpFromGrey(std::uint32_t pixel)
{
    for (int qp = kLowestQp; qp <= kHighestQp; ++qp) {
        if (draw::qpColour(qp) == pixel) {
            return static_cast<std::int16_t>(qp);
        }
    }
    return std::nullopt;
}

std::vector<BlockRect> blocksFromGrid(const Bitmap& grid, std::uint32_t colour)
{
    std::vector<BlockRect> blocks;
    const std::uint32_t columns = (grid.width + kMinBlockSize - 1) / kMinBlockSize;
    const std::uint32_t rows = (grid.height + kMinBlockSize - 1) / kMinBlockSize;
    std::vector<bool> covered(std::size_t{columns} * rows, false);
    const auto edgeAt = [&](std::uint32_t x, std::uint32_t y) { return grid.at(x, y) == colour; };
    for (std::uint32_t row = 0; row < rows; ++row) {
        for (std::uint32_t column = 0; column < columns; ++column) {
            if (covered[std::size_t{row} * columns + column]) {
                continue;
            }
            const std::uint32_t x = column * kMinBlockSize;
            const std::uint32_t y = row * kMinBlockSize;
            // Inside a block no edge passes one sample off its corner's row or column.
            std::uint32_t width = kMinBlockSize;
            while (x + width < grid.width && !edgeAt(x + width, y + 1)) {
                width += kMinBlockSize;
            }
            std::uint32_t height = kMinBlockSize;
            while (y + height < grid.height && !edgeAt(x + 1, y + height)) {
                height += kMinBlockSize;
            }
            width = std::min(width, grid.width - x);
            height = std::min(height, grid.height - y);
            for (std::uint32_t r = row; r < row + (height + kMinBlockSize - 1) / kMinBlockSize; ++r) {
                for (std::uint32_t c = column; c < column + (width + kMinBlockSize - 1) / kMinBlockSize; ++c) {
                    covered[std::size_t{r} * columns + c] = true;
                }
            }
            blocks.push_back(lumaRect(x, y, width, height));
        }
    }
    return blocks;
}

analysis::StreamAnalysis documentFromOracle(const std::vector<PictureBitmaps>& pictures, std::uint32_t ctuSize,
                                            MotionReadBack motion)
{
    analysis::StreamAnalysis document;
    document.id = {0xDE265, 1};
    IdSource ids;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        PictureBuilder{document, ids, pictures[i], ctuSize, motion}.build(static_cast<std::int64_t>(i));
    }
    return document;
}

} // namespace vexilo::hevc::oracle
