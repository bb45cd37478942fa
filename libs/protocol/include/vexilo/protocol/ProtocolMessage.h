#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QLatin1StringView>
#include <QSet>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <variant>

namespace vexilo::protocol {

inline constexpr std::int32_t kProtocolVersion = 3;
inline constexpr qsizetype kMaxProtocolLineBytes = 1'048'576;
// Events carry sequences that a JSON double holds exactly: 2^53 - 1 at most.
inline constexpr std::uint64_t kMaxEventSequence = 9'007'199'254'740'991ULL;
inline constexpr qsizetype kMaxProtocolIdentifierLength = 128;

// Member names of a protocol line.
namespace key {
inline constexpr QLatin1StringView protocolVersion{"protocolVersion"};
inline constexpr QLatin1StringView type{"type"};
inline constexpr QLatin1StringView requestId{"requestId"};
inline constexpr QLatin1StringView taskId{"taskId"};
inline constexpr QLatin1StringView sequence{"sequence"};
inline constexpr QLatin1StringView payload{"payload"};
}  // namespace key

// Members of the worker's "probeResult" and "analysisFinished" payloads that the desktop reads.
namespace payload_key {
inline constexpr QLatin1StringView metadataPath{"metadataPath"};
inline constexpr QLatin1StringView packetsRead{"packetsRead"};
inline constexpr QLatin1StringView packetsSent{"packetsSent"};
}  // namespace payload_key

// Message types of both directions ("hello" and "capabilities" travel both ways).
namespace message_type {
inline constexpr QLatin1StringView hello{"hello"};
inline constexpr QLatin1StringView capabilities{"capabilities"};
inline constexpr QLatin1StringView analyze{"analyze"};
inline constexpr QLatin1StringView cancel{"cancel"};
inline constexpr QLatin1StringView shutdown{"shutdown"};
inline constexpr QLatin1StringView analysisStarted{"analysisStarted"};
inline constexpr QLatin1StringView probeResult{"probeResult"};
inline constexpr QLatin1StringView analysisFinished{"analysisFinished"};
inline constexpr QLatin1StringView cancelAcknowledged{"cancelAcknowledged"};
inline constexpr QLatin1StringView analysisCanceled{"analysisCanceled"};
inline constexpr QLatin1StringView shutdownAcknowledged{"shutdownAcknowledged"};
inline constexpr QLatin1StringView pong{"pong"};
inline constexpr QLatin1StringView error{"error"};
}  // namespace message_type

enum class ProtocolDirection : std::int32_t {
    Request = 0,  // desktop to worker
    Event = 1,    // worker to desktop
};

struct AnalyzerProtocolMessage {
    std::int32_t protocolVersion = kProtocolVersion;
    QString type;
    QString requestId;
    QString taskId;  // empty when the message has none
    std::uint64_t sequence = 0;  // events only
    QJsonObject payload;
};

enum class ProtocolParseErrorKind : std::int32_t {
    EmptyLine = 0,
    LineTooLarge = 1,
    InvalidJson = 2,
    InvalidField = 3,
    UnsupportedVersion = 4,
    UnrecognizedType = 5,
};

struct ProtocolParseError {
    ProtocolParseErrorKind kind = ProtocolParseErrorKind::InvalidJson;
    QString message;
};

using ProtocolParseResult = std::variant<AnalyzerProtocolMessage, ProtocolParseError>;

// Parses one line (its line feed, and a carriage return before it, may still be attached).
[[nodiscard]] ProtocolParseResult parseProtocolLine(const QByteArray& line, ProtocolDirection direction);

// One compact JSON object and a line feed; checks nothing, the caller keeps to the rules.
[[nodiscard]] QByteArray serializeProtocolMessage(const AnalyzerProtocolMessage& message,
                                                  ProtocolDirection direction);

// Request and task ids: an ASCII letter or digit, then up to 127 of letters, digits, ".", "_",
// ":" and "-". Like the regular expression the desktop has always used, a single final line
// feed is tolerated after the identifier.
[[nodiscard]] bool isValidProtocolIdentifier(QStringView text);

[[nodiscard]] const QSet<QString>& requestTypes();
[[nodiscard]] const QSet<QString>& eventTypes();
[[nodiscard]] bool isTaskBoundEventType(QStringView type);

}  // namespace vexilo::protocol
