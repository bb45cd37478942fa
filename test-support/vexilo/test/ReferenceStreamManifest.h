// The reference streams' MANIFEST.json: what the HEVC reference decoder found in each stream
// of the shared hm/ folder. Tests take their expectations from here rather than from the
// Markdown copy, whose table is written for people.
#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexilo::test {

struct ReferenceStream {
    std::string file;
    std::uint32_t codedWidth = 0;
    std::uint32_t codedHeight = 0;
    std::uint32_t chromaFormatIdc = 0;
    std::uint32_t bitDepthLuma = 0;
    std::uint32_t bitDepthChroma = 0; // the luma depth for 4:0:0, where the manifest has none
    std::uint32_t ctuSize = 0;
    std::uint32_t minCuSize = 0;
    std::uint32_t picturesDecoded = 0;
    std::vector<std::int32_t> pocDecodeOrder;
    std::vector<std::int32_t> pocOutputOrder;
    std::string parsedSyntax; // the reference decoder's syntax counts, as one line of text
};

inline void PrintTo(const ReferenceStream& stream, std::ostream* out)
{
    *out << stream.file;
}

inline std::filesystem::path referenceStreamsDir()
{
    return std::filesystem::path(VEXILO_REFERENCE_STREAMS_DIR) / "hm";
}

namespace manifest_detail {

inline std::uint32_t unsignedField(const QJsonObject& entry, const char* key)
{
    const QJsonValue value = entry.value(QLatin1String(key));
    if (!value.isDouble() || value.toDouble() < 0) {
        throw std::runtime_error(std::string("MANIFEST.json: ") + key + " is not a count");
    }
    return static_cast<std::uint32_t>(value.toInteger());
}

inline std::vector<std::int32_t> pocList(const QJsonObject& entry, const char* key)
{
    std::vector<std::int32_t> pocs;
    for (const QJsonValue& value : entry.value(QLatin1String(key)).toArray()) {
        pocs.push_back(static_cast<std::int32_t>(value.toInteger()));
    }
    return pocs;
}

inline std::uint32_t chromaFormatIdc(const QString& chroma)
{
    static const QString kFormats[] = {QStringLiteral("4:0:0"), QStringLiteral("4:2:0"), QStringLiteral("4:2:2"),
                                       QStringLiteral("4:4:4")};
    for (std::uint32_t idc = 0; idc < 4; ++idc) {
        if (chroma == kFormats[idc]) {
            return idc;
        }
    }
    throw std::runtime_error("MANIFEST.json: unknown chroma format " + chroma.toStdString());
}

inline ReferenceStream streamOf(const QJsonObject& entry)
{
    ReferenceStream stream;
    stream.file = entry.value(QLatin1String("file")).toString().toStdString();
    stream.codedWidth = unsignedField(entry, "codedWidth");
    stream.codedHeight = unsignedField(entry, "codedHeight");
    stream.chromaFormatIdc = chromaFormatIdc(entry.value(QLatin1String("chroma")).toString());
    stream.bitDepthLuma = unsignedField(entry, "bitDepthLuma");
    stream.bitDepthChroma = entry.value(QLatin1String("bitDepthChroma")).isNull()
                                ? stream.bitDepthLuma
                                : unsignedField(entry, "bitDepthChroma");
    stream.ctuSize = unsignedField(entry, "ctuSize");
    stream.minCuSize = unsignedField(entry, "minCuSize");
    stream.picturesDecoded = unsignedField(entry, "picturesDecoded");
    stream.pocDecodeOrder = pocList(entry, "pocDecodeOrder");
    stream.pocOutputOrder = pocList(entry, "pocOutputOrder");
    stream.parsedSyntax = entry.value(QLatin1String("parsedSyntax")).toString().toStdString();
    return stream;
}

} // namespace manifest_detail

// Every stream of the manifest, in its order. A missing or malformed manifest throws, so that
// a test parameterised over it fails instead of silently running no cases.
inline std::vector<ReferenceStream> readReferenceStreamManifest()
{
    QFile file(QString::fromStdString((referenceStreamsDir() / "MANIFEST.json").string()));
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("cannot open " + file.fileName().toStdString());
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    const QJsonArray entries = document.object().value(QLatin1String("streams")).toArray();
    if (entries.isEmpty()) {
        throw std::runtime_error("MANIFEST.json lists no streams");
    }
    std::vector<ReferenceStream> streams;
    for (const QJsonValue& entry : entries) {
        streams.push_back(manifest_detail::streamOf(entry.toObject()));
    }
    return streams;
}

// The manifest entry of `file`; throws when the manifest does not list it.
inline ReferenceStream referenceStream(const std::string& file)
{
    for (ReferenceStream& stream : readReferenceStreamManifest()) {
        if (stream.file == file) {
            return stream;
        }
    }
    throw std::runtime_error("MANIFEST.json does not list " + file);
}

} // namespace vexilo::test
