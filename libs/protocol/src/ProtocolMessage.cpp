#include "vexilo/protocol/ProtocolMessage.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

#include <array>
#include <cmath>
#include <optional>

namespace vexilo::protocol {
namespace {

struct MessageTypeRule {
    QLatin1StringView type;
    bool taskIdRequired;
};

constexpr std::array kRequestTypeRules{
    MessageTypeRule{message_type::hello, false},
    MessageTypeRule{message_type::capabilities, false},
    MessageTypeRule{message_type::analyze, true},
    MessageTypeRule{message_type::cancel, true},
    MessageTypeRule{message_type::shutdown, false},
};

constexpr std::array kEventTypeRules{
    MessageTypeRule{message_type::hello, false},
    MessageTypeRule{message_type::capabilities, false},
    MessageTypeRule{message_type::analysisStarted, true},
    MessageTypeRule{message_type::probeResult, true},
    MessageTypeRule{message_type::analysisFinished, true},
    MessageTypeRule{message_type::cancelAcknowledged, true},
    MessageTypeRule{message_type::analysisCanceled, true},
    MessageTypeRule{message_type::shutdownAcknowledged, false},
    MessageTypeRule{message_type::pong, false},
    MessageTypeRule{message_type::error, false},
};

constexpr auto kEmptyLineMessage = "protocol line is empty";
constexpr auto kLineTooLargeMessage = "protocol line exceeds 1 MiB";
constexpr auto kInvalidJsonMessage = "invalid JSON object: %1";
constexpr auto kUnsupportedVersionMessage = "protocolVersion must be %1";
constexpr auto kMissingFieldsMessage = "type, requestId, and object payload are required";
constexpr auto kInvalidRequestIdMessage = "requestId is not a valid protocol identifier";
constexpr auto kUnknownTypeMessage = "unknown protocol message type: %1";
constexpr auto kInvalidTaskIdMessage = "taskId is not a valid protocol identifier";
constexpr auto kTaskIdRequiredMessage = "taskId is required for this message type";
constexpr auto kTaskIdNotStringMessage = "taskId must be a string when present";
constexpr auto kBadEventSequenceMessage = "event sequence must be a positive integer";
constexpr auto kRequestSequenceMessage = "requests must not contain a sequence";

template <std::size_t N>
QSet<QString> typeSet(const std::array<MessageTypeRule, N>& rules)
{
    QSet<QString> types;
    for (const MessageTypeRule& rule : rules) {
        types.insert(QString(rule.type));
    }
    return types;
}

template <std::size_t N>
std::optional<MessageTypeRule> findRule(const std::array<MessageTypeRule, N>& rules, QStringView type)
{
    for (const MessageTypeRule& rule : rules) {
        if (type == rule.type) {
            return rule;
        }
    }
    return std::nullopt;
}

std::optional<MessageTypeRule> findRule(ProtocolDirection direction, QStringView type)
{
    return direction == ProtocolDirection::Request ? findRule(kRequestTypeRules, type)
                                                   : findRule(kEventTypeRules, type);
}

ProtocolParseError parseError(ProtocolParseErrorKind kind, const QString& message)
{
    return ProtocolParseError{kind, message};
}

bool isIdentifierLead(char16_t c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
}

bool isIdentifierTail(char16_t c)
{
    return isIdentifierLead(c) || c == u'.' || c == u'_' || c == u':' || c == u'-';
}

QByteArray withoutLineEnd(QByteArray line)
{
    if (line.endsWith('\n')) {
        line.chop(1);
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return line;
}

// JSON numbers arrive as doubles; a sequence must be whole and within what a double holds exactly.
std::optional<std::uint64_t> eventSequence(const QJsonValue& value)
{
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!(number >= 1.0) || number > static_cast<double>(kMaxEventSequence) || std::floor(number) != number) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(number);
}

std::optional<ProtocolParseError> readTaskId(const QJsonObject& object, bool taskIdRequired, QString& taskId)
{
    const QJsonValue value = object.value(key::taskId);
    if (value.isString()) {
        taskId = value.toString();
        if (!isValidProtocolIdentifier(taskId)) {
            return parseError(ProtocolParseErrorKind::InvalidField, QString::fromLatin1(kInvalidTaskIdMessage));
        }
        return std::nullopt;
    }
    if (taskIdRequired) {
        return parseError(ProtocolParseErrorKind::InvalidField, QString::fromLatin1(kTaskIdRequiredMessage));
    }
    if (!value.isUndefined()) {
        return parseError(ProtocolParseErrorKind::InvalidField, QString::fromLatin1(kTaskIdNotStringMessage));
    }
    return std::nullopt;
}

std::optional<ProtocolParseError> readSequence(const QJsonObject& object, ProtocolDirection direction,
                                               std::uint64_t& sequence)
{
    const QJsonValue value = object.value(key::sequence);
    if (direction == ProtocolDirection::Request) {
        if (!value.isUndefined()) {
            return parseError(ProtocolParseErrorKind::InvalidField, QString::fromLatin1(kRequestSequenceMessage));
        }
        return std::nullopt;
    }
    const std::optional<std::uint64_t> parsed = eventSequence(value);
    if (!parsed) {
        return parseError(ProtocolParseErrorKind::InvalidField, QString::fromLatin1(kBadEventSequenceMessage));
    }
    sequence = *parsed;
    return std::nullopt;
}

}  // namespace

bool isValidProtocolIdentifier(QStringView text)
{
    if (text.size() > kMaxProtocolIdentifierLength) {
        return false;
    }
    // A Perl-style "$" also matches before one final line feed.
    if (text.endsWith(u'\n')) {
        text.chop(1);
    }
    if (text.isEmpty() || !isIdentifierLead(text.front().unicode())) {
        return false;
    }
    for (const QChar c : text.sliced(1)) {
        if (!isIdentifierTail(c.unicode())) {
            return false;
        }
    }
    return true;
}

const QSet<QString>& requestTypes()
{
    static const QSet<QString> types = typeSet(kRequestTypeRules);
    return types;
}

const QSet<QString>& eventTypes()
{
    static const QSet<QString> types = typeSet(kEventTypeRules);
    return types;
}

bool isTaskBoundEventType(QStringView type)
{
    const std::optional<MessageTypeRule> rule = findRule(kEventTypeRules, type);
    return rule && rule->taskIdRequired;
}

ProtocolParseResult parseProtocolLine(const QByteArray& line, ProtocolDirection direction)
{
    const QByteArray content = withoutLineEnd(line);
    if (content.isEmpty()) {
        return parseError(ProtocolParseErrorKind::EmptyLine, QString::fromLatin1(kEmptyLineMessage));
    }
    if (content.size() > kMaxProtocolLineBytes) {
        return parseError(ProtocolParseErrorKind::LineTooLarge, QString::fromLatin1(kLineTooLargeMessage));
    }

    QJsonParseError jsonError;
    const QJsonDocument document = QJsonDocument::fromJson(content, &jsonError);
    if (jsonError.error != QJsonParseError::NoError || !document.isObject()) {
        return parseError(ProtocolParseErrorKind::InvalidJson,
                          QString::fromLatin1(kInvalidJsonMessage).arg(jsonError.errorString()));
    }
    const QJsonObject object = document.object();

    const QJsonValue version = object.value(key::protocolVersion);
    if (!version.isDouble() || version.toDouble() != static_cast<double>(kProtocolVersion)) {
        return parseError(ProtocolParseErrorKind::UnsupportedVersion,
                          QString::fromLatin1(kUnsupportedVersionMessage).arg(kProtocolVersion));
    }

    const QJsonValue type = object.value(key::type);
    const QJsonValue requestId = object.value(key::requestId);
    const QJsonValue payload = object.value(key::payload);
    if (!type.isString() || !requestId.isString() || !payload.isObject()) {
        return parseError(ProtocolParseErrorKind::InvalidField, QString::fromLatin1(kMissingFieldsMessage));
    }

    AnalyzerProtocolMessage message;
    message.requestId = requestId.toString();
    if (!isValidProtocolIdentifier(message.requestId)) {
        return parseError(ProtocolParseErrorKind::InvalidField, QString::fromLatin1(kInvalidRequestIdMessage));
    }

    message.type = type.toString();
    const std::optional<MessageTypeRule> rule = findRule(direction, message.type);
    if (!rule) {
        return parseError(ProtocolParseErrorKind::UnrecognizedType,
                          QString::fromLatin1(kUnknownTypeMessage).arg(message.type));
    }

    if (auto error = readTaskId(object, rule->taskIdRequired, message.taskId)) {
        return *error;
    }
    if (auto error = readSequence(object, direction, message.sequence)) {
        return *error;
    }
    message.payload = payload.toObject();
    return message;
}

QByteArray serializeProtocolMessage(const AnalyzerProtocolMessage& message, ProtocolDirection direction)
{
    QJsonObject object;
    object.insert(key::protocolVersion, kProtocolVersion);
    object.insert(key::type, message.type);
    object.insert(key::requestId, message.requestId);
    object.insert(key::payload, message.payload);
    if (!message.taskId.isEmpty()) {
        object.insert(key::taskId, message.taskId);
    }
    if (direction == ProtocolDirection::Event) {
        object.insert(key::sequence, static_cast<qint64>(message.sequence));
    }
    QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    line.append('\n');
    return line;
}

}  // namespace vexilo::protocol
