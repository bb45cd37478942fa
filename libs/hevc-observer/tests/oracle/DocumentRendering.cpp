#include "oracle/DocumentRendering.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <unordered_map>

namespace vexilo::hevc::oracle {

using analysis::BlockRect;
using analysis::PredictionMode;
using analysis::StableId;
using analysis::StableIdHash;

namespace draw {

namespace {
// libde265 spreads QP 20..40 over the grey range.
constexpr int kQpGreyLow = 20;
constexpr int kQpGreyHigh = 40;
constexpr int kGreyMax = 255;

constexpr int kPlanarMode = 0;
constexpr int kDcMode = 1;
constexpr int kFirstVerticalMode = 18;
// intraPredAngle of H.265 Table 8-5, indexed by the mode.
constexpr std::array<int, 35> kIntraPredAngle{0,   0,   32,  26,  21,  17,  13,  9,  5,  2,  0,  -2,
                                              -5,  -9,  -13, -17, -21, -26, -32, -26, -21, -17, -13, -9,
                                              -5,  -2,  0,   2,   5,   9,   13,  17,  21,  26,  32};
constexpr int kAngleRounding = 16;
constexpr int kAngleScale = 32;

void put(Bitmap& bitmap, std::int64_t x, std::int64_t y, std::uint32_t colour)
{
    if (bitmap.contains(x, y)) {
        bitmap.set(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), colour);
    }
}

std::uint32_t blendBytes(std::uint32_t old, std::uint32_t colour)
{
    std::uint32_t result = 0;
    for (unsigned shift = 0; shift < 32; shift += 8) {
        const std::uint32_t mixed = (((old >> shift) & 0xFFu) + ((colour >> shift) & 0xFFu)) / 2;
        result |= mixed << shift;
    }
    return result;
}

template <typename Pixel>
void forEachPixel(Bitmap& bitmap, const BlockRect& rect, Pixel pixel)
{
    const std::int64_t right = std::min<std::int64_t>(std::int64_t{rect.x} + rect.width, bitmap.width);
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{rect.y} + rect.height, bitmap.height);
    for (std::int64_t y = std::max(0, rect.y); y < bottom; ++y) {
        for (std::int64_t x = std::max(0, rect.x); x < right; ++x) {
            const auto px = static_cast<std::uint32_t>(x);
            const auto py = static_cast<std::uint32_t>(y);
            bitmap.set(px, py, pixel(bitmap.at(px, py)));
        }
    }
}

int sign(std::int64_t value) { return (value > 0) - (value < 0); }
} // namespace

void blockEdges(Bitmap& bitmap, const BlockRect& rect, std::uint32_t colour)
{
    for (std::uint32_t i = 0; i < rect.width; ++i) {
        put(bitmap, std::int64_t{rect.x} + i, rect.y, colour);
    }
    for (std::uint32_t i = 0; i < rect.height; ++i) {
        put(bitmap, rect.x, std::int64_t{rect.y} + i, colour);
    }
}

void fill(Bitmap& bitmap, const BlockRect& rect, std::uint32_t colour)
{
    forEachPixel(bitmap, rect, [colour](std::uint32_t) { return colour; });
}

void blend(Bitmap& bitmap, const BlockRect& rect, std::uint32_t colour)
{
    forEachPixel(bitmap, rect, [colour](std::uint32_t old) { return blendBytes(old, colour); });
}

std::uint32_t qpColour(int qp)
{
    const int grey = std::clamp((qp - kQpGreyLow) * kGreyMax / (kQpGreyHigh - kQpGreyLow), 0, kGreyMax);
    const auto g = static_cast<std::uint32_t>(grey);
    return g | (g << 8) | (g << 16);
}

std::optional<std::uint32_t> predictionModeColour(PredictionMode mode)
{
    switch (mode) {
    case PredictionMode::Intra: return kIntraColour;
    case PredictionMode::Skip: return kSkipColour;
    case PredictionMode::Inter: return kInterColour;
    case PredictionMode::Unknown: break;
    }
    return std::nullopt;
}

void forEachGlyphPixel(const BlockRect& rect, int mode, const std::function<void(std::int64_t, std::int64_t)>& plot)
{
    const auto w = static_cast<std::int64_t>(rect.width);
    const auto h = static_cast<std::int64_t>(rect.height);
    const std::int64_t cx = rect.x + w / 2;
    const std::int64_t cy = rect.y + h / 2;
    if (mode == kPlanarMode) {
        // A square of half the block's size.
        const std::int64_t r = w / 4;
        for (std::int64_t i = -r; i <= r; ++i) {
            plot(cx + i, cy - r);
            plot(cx + i, cy + r);
            plot(cx - r, cy + i);
            plot(cx + r, cy + i);
        }
        return;
    }
    if (mode == kDcMode) {
        // A circle of half the block's size.
        for (std::int64_t i = -w / 4; i < w / 4; ++i) {
            const auto k = static_cast<std::int64_t>((std::sqrt(static_cast<double>(w * w - i * i * 16)) + 2) / 4);
            plot(cx + i, cy + k);
            plot(cx + i, cy - k);
            plot(cx + k, cy + i);
            plot(cx - k, cy + i);
        }
        return;
    }
    if (mode < 0 || mode >= static_cast<int>(kIntraPredAngle.size())) {
        return;
    }
    // A line through the centre along the prediction direction; it may stick out of the
    // block by a sample.
    const std::int64_t slope = kIntraPredAngle[static_cast<std::size_t>(mode)];
    const auto offset = [slope](std::int64_t i) {
        return (slope * i + sign(slope * i) * kAngleRounding) / kAngleScale;
    };
    // Vertical modes step down the rows and horizontal modes across the columns, so that
    // the line lies along the direction the samples are predicted from (26 a vertical
    // line, 10 a horizontal one), as libde265 draws them.
    if (mode >= kFirstVerticalMode) {
        for (std::int64_t i = -h / 2; i < h / 2; ++i) {
            plot(cx - offset(i), cy + i);
        }
    } else {
        for (std::int64_t i = -w / 2; i < w / 2; ++i) {
            plot(cx + i, cy - offset(i));
        }
    }
}

void intraGlyph(Bitmap& bitmap, const BlockRect& rect, int mode, std::uint32_t colour)
{
    forEachGlyphPixel(rect, mode, [&](std::int64_t x, std::int64_t y) { put(bitmap, x, y, colour); });
}

bool forEachLinePixelWhile(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
                           const std::function<bool(std::int64_t, std::int64_t)>& plot)
{
    const std::int64_t dx = x1 - x0;
    const std::int64_t dy = y1 - y0;
    if (dx == 0 && dy == 0) {
        return plot(x0, y0);
    }
    // libde265 steps from the start towards the end with a loop that only counts upwards,
    // so a line whose longer axis points left or up draws nothing at all.
    if (std::llabs(dx) < std::llabs(dy)) {
        for (std::int64_t y = y0; y <= y1; ++y) {
            if (!plot((y - y0) * dx / dy + x0, y)) {
                return false;
            }
        }
    } else {
        for (std::int64_t x = x0; x <= x1; ++x) {
            if (!plot(x, (x - x0) * dy / dx + y0)) {
                return false;
            }
        }
    }
    return true;
}

void forEachLinePixel(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
                      const std::function<void(std::int64_t, std::int64_t)>& plot)
{
    forEachLinePixelWhile(x0, y0, x1, y1, [&](std::int64_t x, std::int64_t y) {
        plot(x, y);
        return true;
    });
}

void line(Bitmap& bitmap, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, std::uint32_t colour)
{
    forEachLinePixel(x0, y0, x1, y1, [&](std::int64_t x, std::int64_t y) { put(bitmap, x, y, colour); });
}

void motion(Bitmap& bitmap, const BlockRect& rect, const analysis::MotionVectorInfo& vector)
{
    if (!vector.mvX || !vector.mvY) {
        return;
    }
    const std::int64_t cx = rect.x + static_cast<std::int64_t>(rect.width) / 2;
    const std::int64_t cy = rect.y + static_cast<std::int64_t>(rect.height) / 2;
    const std::uint32_t colour = vector.list == analysis::ReferenceList::L1 ? kMotionL1Colour : kMotionL0Colour;
    // The vector is drawn in quarter samples, four times its length.
    line(bitmap, cx, cy, cx + *vector.mvX, cy + *vector.mvY, colour);
}

} // namespace draw

namespace {

struct CtuPlace {
    std::size_t picture = 0;
    BlockRect bounds;
};

// Interleaves the bits of a block's offset inside its CTU: quadtree order.
std::uint64_t zOrder(std::uint32_t x, std::uint32_t y)
{
    std::uint64_t key = 0;
    for (unsigned bit = 0; bit < 32; ++bit) {
        key |= std::uint64_t{(x >> bit) & 1u} << (2 * bit);
        key |= std::uint64_t{(y >> bit) & 1u} << (2 * bit + 1);
    }
    return key;
}

// Containers (CTUs or CBs) in raster order, blocks in z order inside their container.
struct DrawOrder {
    std::int32_t containerY = 0;
    std::int32_t containerX = 0;
    std::uint64_t inContainer = 0;
    auto operator<=>(const DrawOrder&) const = default;
};

DrawOrder drawOrder(const BlockRect& container, const BlockRect& block)
{
    return {container.y, container.x,
            zOrder(static_cast<std::uint32_t>(block.x - container.x), static_cast<std::uint32_t>(block.y - container.y))};
}

template <typename Record>
void sortByDrawOrder(std::vector<Record>& records, const std::vector<BlockRect>& containerOf,
                     const auto& rectOf)
{
    std::vector<std::size_t> order(records.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return drawOrder(containerOf[a], rectOf(records[a])) < drawOrder(containerOf[b], rectOf(records[b]));
    });
    std::vector<Record> sorted;
    sorted.reserve(records.size());
    for (const std::size_t i : order) {
        sorted.push_back(records[i]);
    }
    records = std::move(sorted);
}

bool isLeaf(const std::optional<bool>& split) { return !split.value_or(false); }

PredictionMode drawnMode(const analysis::CuInfo& cu)
{
    return cu.skip.value_or(false) ? PredictionMode::Skip : cu.predictionMode;
}

} // namespace

std::vector<PictureBlocks> blocksByOutputPicture(const analysis::StreamAnalysis& document)
{
    std::vector<std::size_t> pictureOrder(document.pictures.size());
    for (std::size_t i = 0; i < pictureOrder.size(); ++i) {
        pictureOrder[i] = i;
    }
    std::stable_sort(pictureOrder.begin(), pictureOrder.end(), [&](std::size_t a, std::size_t b) {
        return document.pictures[a].displayIndex.value_or(-1) < document.pictures[b].displayIndex.value_or(-1);
    });
    std::unordered_map<StableId, std::size_t, StableIdHash> pictureIndex;
    for (std::size_t i = 0; i < pictureOrder.size(); ++i) {
        pictureIndex[document.pictures[pictureOrder[i]].id] = i;
    }

    std::vector<PictureBlocks> pictures(pictureOrder.size());
    std::unordered_map<StableId, CtuPlace, StableIdHash> ctus;
    for (const auto& ctu : document.ctus) {
        const auto picture = pictureIndex.find(ctu.parentPictureSummaryId);
        if (picture == pictureIndex.end()) {
            continue;
        }
        ctus[ctu.id] = {picture->second, ctu.bounds};
        PictureBlocks& blocks = pictures[picture->second];
        blocks.codedWidth = std::max(blocks.codedWidth, static_cast<std::uint32_t>(ctu.bounds.x) + ctu.bounds.width);
        blocks.codedHeight =
            std::max(blocks.codedHeight, static_cast<std::uint32_t>(ctu.bounds.y) + ctu.bounds.height);
    }

    std::unordered_map<StableId, const CtuPlace*, StableIdHash> cuPlaces;
    std::unordered_map<StableId, BlockRect, StableIdHash> cuBounds;
    std::vector<std::vector<BlockRect>> cuCtus(pictures.size());
    for (const auto& cu : document.cus) {
        const auto ctu = ctus.find(cu.parentCtuId);
        if (ctu == ctus.end()) {
            continue;
        }
        cuPlaces[cu.id] = &ctu->second;
        cuBounds[cu.id] = cu.bounds;
        if (isLeaf(cu.split)) {
            pictures[ctu->second.picture].codingBlocks.push_back(cu);
            cuCtus[ctu->second.picture].push_back(ctu->second.bounds);
        }
    }

    std::vector<std::vector<BlockRect>> tuCtus(pictures.size());
    for (const auto& tu : document.tus) {
        const auto cu = cuPlaces.find(tu.parentCuId);
        if (cu != cuPlaces.end() && isLeaf(tu.split)) {
            pictures[cu->second->picture].transformBlocks.push_back(tu);
            tuCtus[cu->second->picture].push_back(cu->second->bounds);
        }
    }

    std::unordered_map<StableId, std::pair<std::size_t, std::size_t>, StableIdHash> puPlaces;
    // libde265 draws prediction blocks CB by CB in raster order of the CBs' top-left
    // corners over the whole picture, not CTU by CTU: overlapping motion lines show it.
    std::vector<std::vector<BlockRect>> puCbs(pictures.size());
    for (const auto& pu : document.pus) {
        const auto cu = cuPlaces.find(pu.parentCuId);
        if (cu == cuPlaces.end()) {
            continue;
        }
        auto& list = pictures[cu->second->picture].predictionBlocks;
        puPlaces[pu.id] = {cu->second->picture, list.size()};
        list.push_back({pu, std::nullopt, std::nullopt});
        puCbs[cu->second->picture].push_back(cuBounds[pu.parentCuId]);
    }
    for (const auto& vector : document.motionVectors) {
        const auto pu = puPlaces.find(vector.parentPuId);
        if (pu == puPlaces.end()) {
            continue;
        }
        PredictionBlock& block = pictures[pu->second.first].predictionBlocks[pu->second.second];
        (vector.list == analysis::ReferenceList::L1 ? block.l1 : block.l0) = vector;
    }

    for (std::size_t i = 0; i < pictures.size(); ++i) {
        sortByDrawOrder(pictures[i].codingBlocks, cuCtus[i], [](const analysis::CuInfo& r) { return r.bounds; });
        sortByDrawOrder(pictures[i].transformBlocks, tuCtus[i], [](const analysis::TuInfo& r) { return r.bounds; });
        sortByDrawOrder(pictures[i].predictionBlocks, puCbs[i], [](const PredictionBlock& r) { return r.pu.bounds; });
    }
    return pictures;
}

PictureBitmaps renderBlocks(const PictureBlocks& blocks)
{
    PictureBitmaps result(blocks.codedWidth, blocks.codedHeight);
    for (const auto& cu : blocks.codingBlocks) {
        draw::blockEdges(result.of(BitmapKind::CodingBlockGrid), cu.bounds, kCodingBlockGridColour);
        if (cu.qp) {
            draw::fill(result.of(BitmapKind::QpMap), cu.bounds, draw::qpColour(*cu.qp));
        }
        if (const auto colour = draw::predictionModeColour(drawnMode(cu))) {
            draw::blend(result.of(BitmapKind::PredictionModes), cu.bounds, *colour);
        }
    }
    // A CU without a transform tree (skipped, no residual, PCM) still shows on libde265's
    // TB grid as one TB of its size; where TBs exist they share the CU's top and left edges,
    // so drawing every CU there first changes nothing else.
    for (const auto& cu : blocks.codingBlocks) {
        draw::blockEdges(result.of(BitmapKind::TransformBlockGrid), cu.bounds, kTransformBlockGridColour);
    }
    for (const auto& tu : blocks.transformBlocks) {
        draw::blockEdges(result.of(BitmapKind::TransformBlockGrid), tu.bounds, kTransformBlockGridColour);
    }
    for (const auto& block : blocks.predictionBlocks) {
        draw::blockEdges(result.of(BitmapKind::PredictionBlockGrid), block.pu.bounds, kPredictionBlockGridColour);
        if (block.pu.predictionMode == PredictionMode::Intra && block.pu.intraLumaMode) {
            draw::intraGlyph(result.of(BitmapKind::IntraModes), block.pu.bounds, *block.pu.intraLumaMode,
                             kIntraModeColour);
        }
        for (const auto* vector : {&block.l0, &block.l1}) {
            if (*vector) {
                draw::motion(result.of(BitmapKind::Motion), block.pu.bounds, **vector);
            }
        }
    }
    return result;
}

std::vector<PictureBitmaps> renderDocument(const analysis::StreamAnalysis& document)
{
    std::vector<PictureBitmaps> rendered;
    for (const auto& blocks : blocksByOutputPicture(document)) {
        rendered.push_back(renderBlocks(blocks));
    }
    return rendered;
}

void clearIntraModesOverPcmBlocks(std::vector<PictureBitmaps>& libde265, std::vector<PictureBitmaps>& ours,
                                  const analysis::StreamAnalysis& document)
{
    const auto pictures = blocksByOutputPicture(document);
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        for (const auto& cu : pictures[i].codingBlocks) {
            if (!cu.pcm.value_or(false)) {
                continue;
            }
            const BlockRect withOverhang{cu.bounds.x, cu.bounds.y, cu.bounds.width + 1, cu.bounds.height + 1,
                                         cu.bounds.unit};
            for (auto* rendering : {&libde265, &ours}) {
                if (i < rendering->size()) {
                    draw::fill((*rendering)[i].of(BitmapKind::IntraModes), withOverhang, kBackground);
                }
            }
        }
    }
}

namespace {
std::optional<BitmapMismatch> firstPixelMismatch(std::size_t picture, BitmapKind kind, const Bitmap& expected,
                                                 const Bitmap& actual)
{
    for (std::uint32_t y = 0; y < expected.height; ++y) {
        for (std::uint32_t x = 0; x < expected.width; ++x) {
            if (expected.at(x, y) != actual.at(x, y)) {
                return BitmapMismatch{picture, kind, x, y, expected.at(x, y), actual.at(x, y), {}};
            }
        }
    }
    return std::nullopt;
}

std::string sizeText(const PictureBitmaps& bitmaps)
{
    return std::to_string(bitmaps.codedWidth) + "x" + std::to_string(bitmaps.codedHeight);
}
} // namespace

std::optional<BitmapMismatch> firstMismatch(const std::vector<PictureBitmaps>& expected,
                                            const std::vector<PictureBitmaps>& actual,
                                            const std::vector<BitmapKind>& kinds)
{
    const std::size_t common = std::min(expected.size(), actual.size());
    for (std::size_t picture = 0; picture < common; ++picture) {
        const PictureBitmaps& want = expected[picture];
        const PictureBitmaps& got = actual[picture];
        if (want.codedWidth != got.codedWidth || want.codedHeight != got.codedHeight) {
            return BitmapMismatch{picture, BitmapKind::CodingBlockGrid, 0, 0, 0, 0,
                                  "coded size " + sizeText(want) + " expected, " + sizeText(got) + " rendered"};
        }
        for (const BitmapKind kind : kinds) {
            if (kind == BitmapKind::Motion && !motionIsReliable(want)) {
                continue;
            }
            if (auto mismatch = firstPixelMismatch(picture, kind, want.of(kind), got.of(kind))) {
                return mismatch;
            }
        }
    }
    if (expected.size() != actual.size()) {
        return BitmapMismatch{common, BitmapKind::CodingBlockGrid, 0, 0, 0, 0,
                              std::to_string(expected.size()) + " pictures expected, " +
                                  std::to_string(actual.size()) + " rendered"};
    }
    return std::nullopt;
}

double agreement(const std::vector<PictureBitmaps>& expected, const std::vector<PictureBitmaps>& actual,
                 BitmapKind kind)
{
    std::size_t drawn = 0;
    std::size_t alike = 0;
    for (std::size_t picture = 0; picture < std::min(expected.size(), actual.size()); ++picture) {
        const Bitmap& want = expected[picture].of(kind);
        const Bitmap& got = actual[picture].of(kind);
        if (want.width != got.width || want.height != got.height ||
            (kind == BitmapKind::Motion && !motionIsReliable(expected[picture]))) {
            continue;
        }
        for (std::size_t i = 0; i < want.pixels.size(); ++i) {
            if (want.pixels[i] != kBackground || got.pixels[i] != kBackground) {
                ++drawn;
                alike += want.pixels[i] == got.pixels[i] ? 1U : 0U;
            }
        }
    }
    return drawn == 0 ? 1.0 : static_cast<double>(alike) / static_cast<double>(drawn);
}

std::string describe(const BitmapMismatch& mismatch)
{
    std::ostringstream text;
    text << "picture " << mismatch.picture << " (output order): ";
    if (!mismatch.note.empty()) {
        text << mismatch.note;
        return text.str();
    }
    text << bitmapKindName(mismatch.kind) << " differs at (" << mismatch.x << ", " << mismatch.y << "): libde265 0x"
         << std::hex << mismatch.expected << ", document 0x" << mismatch.actual;
    return text.str();
}

} // namespace vexilo::hevc::oracle
