#include "ffmpeg_tools.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

namespace vexilo::hevc::test {
namespace {

constexpr int kFfmpegTimeoutMs = 60000;

QString runFfmpeg(const QStringList& arguments)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-nostdin")} + arguments);
    ffmpeg.waitForFinished(kFfmpegTimeoutMs);
    return QString::fromUtf8(ffmpeg.readAllStandardError());
}

QString pathText(const std::filesystem::path& path)
{
    return QString::fromStdString(path.string());
}

} // namespace

std::optional<std::int64_t> ffmpegTracedValue(const std::filesystem::path& stream, const std::string& element)
{
    // A line of the trace: "[trace_headers @ 0x...] 156  bit_depth_luma_minus8   0001001 = 8".
    const QString log = runFfmpeg({QStringLiteral("-i"), pathText(stream), QStringLiteral("-c"), QStringLiteral("copy"),
                                   QStringLiteral("-bsf:v"), QStringLiteral("trace_headers"), QStringLiteral("-f"),
                                   QStringLiteral("null"), QStringLiteral("-")});
    const QRegularExpression line(QStringLiteral("\\] +\\d+ +%1 +[01]+ = (-?\\d+)")
                                      .arg(QRegularExpression::escape(QString::fromStdString(element))));
    const QRegularExpressionMatch match = line.match(log);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    return match.captured(1).toLongLong();
}

std::string ffmpegDecodeLog(const std::filesystem::path& stream)
{
    return runFfmpeg({QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), pathText(stream),
                      QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")})
        .toStdString();
}

} // namespace vexilo::hevc::test
