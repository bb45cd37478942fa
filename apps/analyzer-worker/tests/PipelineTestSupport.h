#pragma once

// Real streams, real FFmpeg decoding and real cache directories for the analysis pipeline's
// tests: where the streams are, what FFmpeg alone makes of them, and what a written cache
// directory holds.

#include "vexilo/analysis/DomainValidation.h"
#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheContainer.h"
#include "vexilo/analysis/cache/CacheManifest.h"
#include "vexilo/analysis/cache/CachePayload.h"
#include "vexilo/analysis/cache/CacheReader.h"

#include <vexilo/ffmpeg_handles/FFmpegHandles.h>
#include <vexilo/test/ReferenceStreamManifest.h>

#include <QByteArray>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vexilo::analyzer::testing {

inline std::filesystem::path testMedia(const std::string& name)
{
    return std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / name;
}

// The HEVC reference encoder's streams; what the reference decoder found in each comes from
// their MANIFEST.json.
using test::readReferenceStreamManifest;
using test::ReferenceStream;

// A test stream's file name as a test name: "a.hevc" becomes "a_hevc".
inline std::string clipTestName(const ::testing::TestParamInfo<const char*>& testCase)
{
    std::string name = testCase.param;
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
}

inline std::filesystem::path referenceStreams()
{
    return test::referenceStreamsDir();
}

// A fresh directory under the system's temporary directory (or `base`), removed with
// everything in it.
class ScratchDirectory {
public:
    explicit ScratchDirectory(const std::filesystem::path& base = std::filesystem::temp_directory_path())
    {
        std::string pattern = (base / "vexilo-pipeline-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Memory-backed when the system has such a folder: the cache writer syncs every file it
// commits, and tens of thousands of picture files would spend minutes waiting for the disk.
inline std::filesystem::path memoryBackedTemporaryDirectory()
{
    const std::filesystem::path shared("/dev/shm");
    std::error_code error;
    return std::filesystem::is_directory(shared, error) ? shared : std::filesystem::temp_directory_path();
}

// Sets an environment variable for one scope and restores what was there before.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name)
    {
        if (qEnvironmentVariableIsSet(name)) {
            previous_ = qgetenv(name);
        }
        qputenv(name, QByteArray(value));
    }
    ~ScopedEnvironment()
    {
        if (previous_) {
            qputenv(name_, *previous_);
        } else {
            qunsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<QByteArray> previous_;
};

// The frames FFmpeg's HEVC decoder outputs on its own, in output order, by PTS.
inline std::optional<std::vector<std::int64_t>> ffmpegOutputPts(const std::filesystem::path& path)
{
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path.string().c_str(), nullptr, nullptr) < 0) {
        return std::nullopt;
    }
    const ffmpeg::FormatContextPtr input(opened);
    const AVCodec* decoder = nullptr;
    const int stream = avformat_find_stream_info(input.get(), nullptr) >= 0
                           ? av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0)
                           : -1;
    if (stream < 0 || decoder == nullptr) {
        return std::nullopt;
    }
    const ffmpeg::CodecContextPtr context(avcodec_alloc_context3(decoder));
    const ffmpeg::PacketPtr packet(av_packet_alloc());
    const ffmpeg::FramePtr frame(av_frame_alloc());
    if (!context || !packet || !frame ||
        avcodec_parameters_to_context(context.get(), input->streams[stream]->codecpar) < 0 ||
        avcodec_open2(context.get(), decoder, nullptr) < 0) {
        return std::nullopt;
    }
    std::vector<std::int64_t> pts;
    const auto drain = [&] {
        while (avcodec_receive_frame(context.get(), frame.get()) >= 0) {
            pts.push_back(frame->pts);
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream) {
            avcodec_send_packet(context.get(), packet.get());
            drain();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(context.get(), nullptr);
    drain();
    return pts;
}

// One packet's timestamps as ffprobe prints them; "N/A" reads as absent.
struct ProbedTimestamps {
    std::optional<std::int64_t> pts;
    std::optional<std::int64_t> dts;
};

inline std::optional<std::int64_t> probedTimestamp(const QByteArray& text)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    return ok ? std::optional<std::int64_t>(value) : std::nullopt;
}

// The first video stream's packets in read order, with the timestamps ffprobe reads from the
// container; empty when ffprobe cannot run.
inline std::vector<ProbedTimestamps> ffprobeVideoPacketTimestamps(const std::filesystem::path& path)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"), QStringLiteral("v:0"),
                   QStringLiteral("-show_entries"), QStringLiteral("packet=pts,dts"), QStringLiteral("-of"),
                   QStringLiteral("csv=p=0"), QString::fromStdString(path.string())});
    if (!ffprobe.waitForFinished(60000) || ffprobe.exitCode() != 0) {
        return {};
    }
    std::vector<ProbedTimestamps> packets;
    for (const QByteArray& line : ffprobe.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        if (fields.size() >= 2) {
            packets.push_back({probedTimestamp(fields[0]), probedTimestamp(fields[1])});
        }
    }
    return packets;
}

// Calls `visit` with every picture document of a written cache directory, in manifest
// order; a manifest or picture that does not read back fails the test.
template <typename Visit>
void forEachCachedPicture(const std::filesystem::path& cacheRoot, Visit visit)
{
    const auto manifest = analysis::openAnalysisCache(cacheRoot);
    if (!std::holds_alternative<analysis::CacheManifest>(manifest)) {
        ADD_FAILURE() << "no readable manifest";
        return;
    }
    for (const analysis::ManifestPictureEntry& entry : std::get<analysis::CacheManifest>(manifest).pictures) {
        const auto picture = analysis::readCachedPicture(cacheRoot, entry);
        if (!std::holds_alternative<analysis::StreamAnalysis>(picture)) {
            ADD_FAILURE() << "picture " << entry.path << " does not read back";
            continue;
        }
        visit(std::get<analysis::StreamAnalysis>(picture));
    }
}

// The stream-level document of a written cache directory, read back through the manifest
// and the container, or the reason it could not be; the picture files are not read.
inline std::variant<analysis::StreamAnalysis, std::string> readCachedStreamOnly(const std::filesystem::path& directory)
{
    const auto manifest = analysis::openAnalysisCache(directory);
    if (const auto* error = std::get_if<analysis::CacheError>(&manifest)) {
        return "manifest: " + error->message;
    }
    const auto& entries = std::get<analysis::CacheManifest>(manifest);
    const auto contents = analysis::readCacheFile(directory / entries.streamPath, analysis::kStreamMetaMagic);
    if (const auto* error = std::get_if<analysis::CacheError>(&contents)) {
        return "stream file: " + error->message;
    }
    const auto& payload = std::get<analysis::CacheFileContents>(contents).payload;
    auto document = analysis::decodeCachedAnalysisPayload(payload, directory / entries.streamPath);
    if (const auto* error = std::get_if<analysis::CacheError>(&document)) {
        return "stream document: " + error->message;
    }
    return std::move(std::get<analysis::StreamAnalysis>(document));
}

// The same, after every picture document has been read back and validated.
inline std::variant<analysis::StreamAnalysis, std::string> readCachedStream(const std::filesystem::path& directory)
{
    auto document = readCachedStreamOnly(directory);
    if (std::holds_alternative<std::string>(document)) {
        return document;
    }
    const auto manifest = analysis::openAnalysisCache(directory);
    for (const analysis::ManifestPictureEntry& entry : std::get<analysis::CacheManifest>(manifest).pictures) {
        const auto picture = analysis::readCachedPicture(directory, entry);
        if (const auto* error = std::get_if<analysis::CacheError>(&picture)) {
            return "picture " + entry.path.string() + ": " + error->message;
        }
        if (const analysis::ValidationIssues issues = analysis::validateStreamAnalysis(
                std::get<analysis::StreamAnalysis>(picture));
            !issues.empty()) {
            return "picture " + entry.path.string() + ": " + analysis::formatValidationIssues(issues);
        }
    }
    return document;
}

// The document's output pictures (those with a display index), in output order.
inline std::vector<analysis::PictureAnalysisSummary> outputPictures(const analysis::StreamAnalysis& document)
{
    std::vector<analysis::PictureAnalysisSummary> pictures;
    std::copy_if(document.pictures.begin(), document.pictures.end(), std::back_inserter(pictures),
                 [](const analysis::PictureAnalysisSummary& picture) { return picture.displayIndex.has_value(); });
    std::sort(pictures.begin(), pictures.end(), [](const auto& left, const auto& right) {
        return *left.displayIndex < *right.displayIndex;
    });
    return pictures;
}

}  // namespace vexilo::analyzer::testing
