#include "ReferenceYuvTexts.h"

#include "vexilo/media/PathText.h"

#include <array>
#include <optional>

namespace vexilo {

namespace {

struct LayoutText {
    const char* name;
    int bitDepth;
};

// Indexed by layout code.
constexpr std::array<LayoutText, 8> kLayoutTexts{{
    {"Unknown", 0},
    {"I420", 8},
    {"I010", 10},
    {"P010", 10},
    {"YUV422P8", 8},
    {"YUV422P10LE", 10},
    {"YUV444P8", 8},
    {"YUV444P10LE", 10},
}};

const LayoutText& layoutText(std::uint8_t layout) {
    return layout < kLayoutTexts.size() ? kLayoutTexts[layout] : kLayoutTexts[0];
}

QString countText(const std::optional<std::uint64_t>& value) {
    return value ? QString::number(*value) : QStringLiteral("N/A");
}

// What follows the last separator of either kind, as a file named on Windows is shown too.
QString fileNamePart(const std::filesystem::path& path) {
    const QString text = media::pathToQString(path);
    const qsizetype separator = std::max(text.lastIndexOf(QLatin1Char('/')), text.lastIndexOf(QLatin1Char('\\')));
    return text.mid(separator + 1);
}

}  // namespace

const char* referenceYuvLayoutName(std::uint8_t layout) {
    return layoutText(layout).name;
}

QString referenceYuvDescription(const domain::ReferenceYuvSource& source) {
    const auto layout = static_cast<std::uint8_t>(source.layout);
    return QStringLiteral("%1\n%2 x %3\n%4 %5-bit\nframes=%6 matched=%7 offset=%8\nframe bytes=%9")
        .arg(fileNamePart(source.path), QString::number(source.width), QString::number(source.height),
             QString::fromLatin1(referenceYuvLayoutName(layout)), QString::number(layoutText(layout).bitDepth),
             countText(source.physicalFrames), countText(source.matchedFrames), QString::number(source.frameOffset),
             countText(source.frameSizeBytes));
}

}  // namespace vexilo
