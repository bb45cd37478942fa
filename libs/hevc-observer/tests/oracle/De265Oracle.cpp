#include "oracle/De265Oracle.h"

#include <libde265/de265.h>

#include <algorithm>
#include <limits>
#include <memory>

// The drawing functions are exported with C linkage but declared in no installed header.
extern "C" {
void draw_CB_grid(const de265_image* img, std::uint8_t* dst, int stride, std::uint32_t value, int pixelSize);
void draw_TB_grid(const de265_image* img, std::uint8_t* dst, int stride, std::uint32_t value, int pixelSize);
void draw_PB_grid(const de265_image* img, std::uint8_t* dst, int stride, std::uint32_t value, int pixelSize);
void draw_intra_pred_modes(const de265_image* img, std::uint8_t* dst, int stride, std::uint32_t value,
                           int pixelSize);
void draw_PB_pred_modes(const de265_image* img, std::uint8_t* dst, int stride, int pixelSize);
void draw_QuantPY(const de265_image* img, std::uint8_t* dst, int stride, int pixelSize);
void draw_Motion(const de265_image* img, std::uint8_t* dst, int stride, int pixelSize);
}

namespace vexilo::hevc::oracle {

std::string_view bitmapKindName(BitmapKind kind)
{
    switch (kind) {
    case BitmapKind::CodingBlockGrid: return "CB grid";
    case BitmapKind::TransformBlockGrid: return "TB grid";
    case BitmapKind::PredictionBlockGrid: return "PB grid";
    case BitmapKind::QpMap: return "QP map";
    case BitmapKind::PredictionModes: return "prediction modes";
    case BitmapKind::IntraModes: return "intra modes";
    case BitmapKind::Motion: return "motion";
    }
    return "?";
}

PictureBitmaps::PictureBitmaps(std::uint32_t width, std::uint32_t height) : codedWidth(width), codedHeight(height)
{
    for (auto& bitmap : bitmaps) {
        bitmap = Bitmap(width, height);
    }
}

namespace {

constexpr int kBytesPerPixel = sizeof(std::uint32_t);

// The public API tells only the cropped output size, and its allocation hooks are not
// called by this build, so the coded size is measured: the CB grid marks row 0 and column 0
// across the whole coded picture. Conformance windows crop less than a CTU in practice;
// this margin is two of the largest.
constexpr std::uint32_t kCropMargin = 128;
constexpr std::uint32_t kUntouched = 0xA5A5A5A5;

std::pair<std::uint32_t, std::uint32_t> measureCodedSize(const de265_image* image)
{
    const auto width = static_cast<std::uint32_t>(de265_get_image_width(image, 0)) + kCropMargin;
    const auto height = static_cast<std::uint32_t>(de265_get_image_height(image, 0)) + kCropMargin;
    std::vector<std::uint32_t> probe(std::size_t{width} * height, kUntouched);
    draw_CB_grid(image, reinterpret_cast<std::uint8_t*>(probe.data()), static_cast<int>(width) * kBytesPerPixel,
                 kCodingBlockGridColour, kBytesPerPixel);
    std::uint32_t codedWidth = 0;
    while (codedWidth < width && probe[codedWidth] != kUntouched) {
        ++codedWidth;
    }
    std::uint32_t codedHeight = 0;
    while (codedHeight < height && probe[std::size_t{codedHeight} * width] != kUntouched) {
        ++codedHeight;
    }
    return {codedWidth, codedHeight};
}

std::uint8_t* bytesOf(Bitmap& bitmap) { return reinterpret_cast<std::uint8_t*>(bitmap.pixels.data()); }
int strideOf(const Bitmap& bitmap) { return static_cast<int>(bitmap.width) * kBytesPerPixel; }

PictureBitmaps render(const de265_image* image, std::uint32_t codedWidth, std::uint32_t codedHeight)
{
    PictureBitmaps result(codedWidth, codedHeight);
    const auto draw = [&](BitmapKind kind, auto function, auto... colour) {
        Bitmap& bitmap = result.of(kind);
        function(image, bytesOf(bitmap), strideOf(bitmap), colour..., kBytesPerPixel);
    };
    draw(BitmapKind::CodingBlockGrid, draw_CB_grid, kCodingBlockGridColour);
    draw(BitmapKind::TransformBlockGrid, draw_TB_grid, kTransformBlockGridColour);
    draw(BitmapKind::PredictionBlockGrid, draw_PB_grid, kPredictionBlockGridColour);
    draw(BitmapKind::QpMap, draw_QuantPY);
    draw(BitmapKind::PredictionModes, draw_PB_pred_modes);
    draw(BitmapKind::IntraModes, draw_intra_pred_modes, kIntraModeColour);
    draw(BitmapKind::Motion, draw_Motion);
    return result;
}

struct DecoderDeleter {
    void operator()(de265_decoder_context* decoder) const { de265_free_decoder(decoder); }
};

} // namespace

bool motionIsReliable(const PictureBitmaps& picture)
{
    // The intra tint over the black background, as draw_PB_pred_modes leaves it.
    constexpr std::uint32_t kIntraTint = 0x7F0000;
    const auto& modes = picture.of(BitmapKind::PredictionModes).pixels;
    return std::find(modes.begin(), modes.end(), kIntraTint) == modes.end();
}

OracleRun renderWithDe265(const std::vector<std::uint8_t>& annexB)
{
    OracleRun run;
    if (annexB.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        run.error = "stream too large";
        return run;
    }
    const std::unique_ptr<de265_decoder_context, DecoderDeleter> decoder(de265_new_decoder());
    de265_push_data(decoder.get(), annexB.data(), static_cast<int>(annexB.size()), 0, nullptr);
    de265_flush_data(decoder.get());

    int more = 1;
    while (more != 0) {
        more = 0;
        const de265_error status = de265_decode(decoder.get(), &more);
        while (const de265_image* image = de265_get_next_picture(decoder.get())) {
            const auto [width, height] = measureCodedSize(image);
            run.pictures.push_back(render(image, width, height));
        }
        if (!de265_isOK(status) && status != DE265_ERROR_WAITING_FOR_INPUT_DATA) {
            run.error = de265_get_error_text(status);
            break;
        }
    }
    return run;
}

} // namespace vexilo::hevc::oracle
