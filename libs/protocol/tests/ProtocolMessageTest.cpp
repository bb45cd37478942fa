#include "vexilo/protocol/ProtocolMessage.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <string>
#include <vector>

namespace vexilo::protocol {
namespace {

struct ParseFailureCase {
    const char* name;
    QByteArray line;
    ProtocolDirection direction;
    ProtocolParseErrorKind kind;
    QString message;
};

void PrintTo(const ParseFailureCase& c, std::ostream* os) { *os << c.name; }

class ProtocolParseFailureTest : public testing::TestWithParam<ParseFailureCase> {};

TEST_P(ProtocolParseFailureTest, ReportsKindAndMessage)
{
    const ParseFailureCase& c = GetParam();
    const ProtocolParseResult result = parseProtocolLine(c.line, c.direction);
    ASSERT_TRUE(std::holds_alternative<ProtocolParseError>(result));
    const auto& error = std::get<ProtocolParseError>(result);
    EXPECT_EQ(error.kind, c.kind);
    EXPECT_EQ(error.message.toStdString(), c.message.toStdString());
}

constexpr auto Request = ProtocolDirection::Request;
constexpr auto Event = ProtocolDirection::Event;
using Kind = ProtocolParseErrorKind;

QByteArray request(const QByteArray& extraMembers, const QByteArray& type = "hello")
{
    return R"({"protocolVersion":3,"type":")" + type + R"(","requestId":"r1","payload":{})" + extraMembers + "}\n";
}

QByteArray event(const QByteArray& sequenceMember)
{
    return R"({"protocolVersion":3,"type":"pong","requestId":"r1","payload":{})" + sequenceMember + "}";
}

const QString kVersionMessage = QStringLiteral("protocolVersion must be 3");
const QString kFieldsMessage = QStringLiteral("type, requestId, and object payload are required");
const QString kSequenceMessage = QStringLiteral("event sequence must be a positive integer");

INSTANTIATE_TEST_SUITE_P(
    Lines, ProtocolParseFailureTest,
    testing::Values(
        ParseFailureCase{"OnlyLineFeed", "\n", Request, Kind::EmptyLine, "protocol line is empty"},
        ParseFailureCase{"OnlyCrLf", "\r\n", Request, Kind::EmptyLine, "protocol line is empty"},
        ParseFailureCase{"TooLarge", QByteArray(1'048'577, ' ') + "\n", Request, Kind::LineTooLarge,
                         "protocol line exceeds 1 MiB"},
        ParseFailureCase{"NotJson", "hello\n", Request, Kind::InvalidJson,
                         "invalid JSON object: illegal value"},
        ParseFailureCase{"JsonArray", "[1,2]\n", Request, Kind::InvalidJson,
                         "invalid JSON object: no error occurred"},
        ParseFailureCase{"VersionString",
                         R"({"protocolVersion":"3","type":"hello","requestId":"r","payload":{}})", Request,
                         Kind::UnsupportedVersion, kVersionMessage},
        ParseFailureCase{"VersionTwo", R"({"protocolVersion":2,"type":"hello","requestId":"r","payload":{}})",
                         Request, Kind::UnsupportedVersion, kVersionMessage},
        ParseFailureCase{"VersionMissing", R"({"type":"hello","requestId":"r","payload":{}})", Request,
                         Kind::UnsupportedVersion, kVersionMessage},
        ParseFailureCase{"PayloadArray", R"({"protocolVersion":3,"type":"hello","requestId":"r","payload":[]})",
                         Request, Kind::InvalidField, kFieldsMessage},
        ParseFailureCase{"PayloadMissing", R"({"protocolVersion":3,"type":"hello","requestId":"r"})", Request,
                         Kind::InvalidField, kFieldsMessage},
        ParseFailureCase{"TypeNotString", R"({"protocolVersion":3,"type":1,"requestId":"r","payload":{}})",
                         Request, Kind::InvalidField, kFieldsMessage},
        ParseFailureCase{"RequestIdLeadingDash",
                         R"({"protocolVersion":3,"type":"hello","requestId":"-r","payload":{}})", Request,
                         Kind::InvalidField, "requestId is not a valid protocol identifier"},
        ParseFailureCase{"EventTypeAsRequest", request("", "pong"), Request, Kind::UnrecognizedType,
                         "unknown protocol message type: pong"},
        ParseFailureCase{"RequestTypeAsEvent", R"({"protocolVersion":3,"type":"analyze","requestId":"r",)"
                                               R"("taskId":"t","payload":{},"sequence":1})",
                         Event, Kind::UnrecognizedType, "unknown protocol message type: analyze"},
        ParseFailureCase{"CancelWithoutTask", request("", "cancel"), Request, Kind::InvalidField,
                         "taskId is required for this message type"},
        ParseFailureCase{"AnalyzeWithNullTask", request(R"(,"taskId":null)", "analyze"), Request,
                         Kind::InvalidField, "taskId is required for this message type"},
        ParseFailureCase{"HelloWithNullTask", request(R"(,"taskId":null)"), Request, Kind::InvalidField,
                         "taskId must be a string when present"},
        ParseFailureCase{"EmptyTaskId", request(R"(,"taskId":"")"), Request, Kind::InvalidField,
                         "taskId is not a valid protocol identifier"},
        ParseFailureCase{"RequestWithSequence", request(R"(,"sequence":1)"), Request, Kind::InvalidField,
                         "requests must not contain a sequence"},
        ParseFailureCase{"RequestWithNullSequence", request(R"(,"sequence":null)"), Request, Kind::InvalidField,
                         "requests must not contain a sequence"},
        ParseFailureCase{"EventSequenceZero", event(R"(,"sequence":0)"), Event, Kind::InvalidField,
                         kSequenceMessage},
        ParseFailureCase{"EventSequenceNegative", event(R"(,"sequence":-1)"), Event, Kind::InvalidField,
                         kSequenceMessage},
        ParseFailureCase{"EventSequenceFraction", event(R"(,"sequence":1.5)"), Event, Kind::InvalidField,
                         kSequenceMessage},
        ParseFailureCase{"EventSequenceString", event(R"(,"sequence":"1")"), Event, Kind::InvalidField,
                         kSequenceMessage},
        ParseFailureCase{"EventSequenceMissing", event(""), Event, Kind::InvalidField, kSequenceMessage},
        ParseFailureCase{"EventSequenceAboveDoubleRange", event(R"(,"sequence":9007199254740992)"), Event,
                         Kind::InvalidField, kSequenceMessage},
        ParseFailureCase{"TaskBoundEventWithoutTask",
                         R"({"protocolVersion":3,"type":"probeResult","requestId":"r","payload":{},"sequence":1})",
                         Event, Kind::InvalidField, "taskId is required for this message type"}),
    [](const testing::TestParamInfo<ParseFailureCase>& param) { return std::string(param.param.name); });

AnalyzerProtocolMessage parseOrFail(const QByteArray& line, ProtocolDirection direction)
{
    const ProtocolParseResult result = parseProtocolLine(line, direction);
    if (const auto* error = std::get_if<ProtocolParseError>(&result)) {
        ADD_FAILURE() << "unexpected parse error: " << error->message.toStdString();
        return {};
    }
    return std::get<AnalyzerProtocolMessage>(result);
}

TEST(ProtocolParse, AcceptsRequestWithCrLfAndExtraMembers)
{
    const AnalyzerProtocolMessage message = parseOrFail(
        R"({"protocolVersion":3.0,"type":"analyze","requestId":"req-1","taskId":"task:1","payload":{"a":1},"x":0})"
        "\r\n",
        Request);
    EXPECT_EQ(message.protocolVersion, 3);
    EXPECT_EQ(message.type, QStringLiteral("analyze"));
    EXPECT_EQ(message.requestId, QStringLiteral("req-1"));
    EXPECT_EQ(message.taskId, QStringLiteral("task:1"));
    EXPECT_EQ(message.sequence, 0U);
    EXPECT_EQ(message.payload.value(QStringLiteral("a")).toInt(), 1);
}

TEST(ProtocolParse, TwoLineFeedsLeaveOneAsWhitespace)
{
    EXPECT_EQ(parseOrFail(request("") + "\n", Request).type, QStringLiteral("hello"));
}

TEST(ProtocolParse, AcceptsLargestEventSequence)
{
    EXPECT_EQ(parseOrFail(event(R"(,"sequence":9007199254740991)"), Event).sequence, 9'007'199'254'740'991ULL);
}

TEST(ProtocolSerialize, RequestCarriesNeitherEmptyTaskIdNorSequence)
{
    AnalyzerProtocolMessage message;
    message.type = QStringLiteral("hello");
    message.requestId = QStringLiteral("r1");
    message.sequence = 7;
    const QByteArray line = serializeProtocolMessage(message, Request);
    ASSERT_TRUE(line.endsWith('\n'));
    EXPECT_EQ(line.count('\n'), 1);
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    EXPECT_FALSE(object.contains(QStringLiteral("taskId")));
    EXPECT_FALSE(object.contains(QStringLiteral("sequence")));
    EXPECT_EQ(object.value(QStringLiteral("protocolVersion")).toInt(), 3);
}

TEST(ProtocolSerialize, EventAlwaysCarriesSequenceAndRoundTrips)
{
    AnalyzerProtocolMessage message;
    message.protocolVersion = 99;  // never read by the serialiser
    message.type = QStringLiteral("analysisStarted");
    message.requestId = QStringLiteral("r1");
    message.taskId = QStringLiteral("t1");
    message.sequence = 42;
    message.payload.insert(QStringLiteral("mode"), QStringLiteral("stream_index"));
    const QByteArray line = serializeProtocolMessage(message, Event);
    EXPECT_FALSE(line.contains(' '));
    const AnalyzerProtocolMessage parsed = parseOrFail(line, Event);
    EXPECT_EQ(parsed.protocolVersion, 3);
    EXPECT_EQ(parsed.type, message.type);
    EXPECT_EQ(parsed.taskId, message.taskId);
    EXPECT_EQ(parsed.sequence, 42U);
    EXPECT_EQ(parsed.payload, message.payload);

    message.sequence = 0;
    EXPECT_TRUE(QJsonDocument::fromJson(serializeProtocolMessage(message, Event))
                    .object()
                    .contains(QStringLiteral("sequence")));
}

TEST(ProtocolTypes, TablesAndTaskBinding)
{
    EXPECT_EQ(requestTypes().size(), 5);
    EXPECT_EQ(eventTypes().size(), 10);
    const std::vector<QString> taskBound{"analysisStarted", "probeResult", "analysisFinished", "cancelAcknowledged",
                                         "analysisCanceled"};
    int boundCount = 0;
    for (const QString& type : eventTypes()) {
        boundCount += isTaskBoundEventType(type) ? 1 : 0;
    }
    EXPECT_EQ(boundCount, 5);
    for (const QString& type : taskBound) {
        EXPECT_TRUE(isTaskBoundEventType(type)) << type.toStdString();
    }
    EXPECT_FALSE(isTaskBoundEventType(u"analyze"));
}

struct IdentifierCase {
    QString text;
    bool valid;
};

void PrintTo(const IdentifierCase& c, std::ostream* os) { *os << '"' << c.text.toStdString() << '"'; }

class ProtocolIdentifierTest : public testing::TestWithParam<IdentifierCase> {};

TEST_P(ProtocolIdentifierTest, FollowsThePattern)
{
    EXPECT_EQ(isValidProtocolIdentifier(GetParam().text), GetParam().valid) << GetParam().text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ProtocolIdentifierTest,
    testing::Values(IdentifierCase{QString(128, u'a'), true}, IdentifierCase{QString(129, u'a'), false},
                    IdentifierCase{QString(127, u'a') + u'\n', true}, IdentifierCase{QString(128, u'a') + u'\n', false},
                    IdentifierCase{"-a", false}, IdentifierCase{".a", false}, IdentifierCase{"_a", false},
                    IdentifierCase{"a-._:Z9", true}, IdentifierCase{"9", true}, IdentifierCase{"", false},
                    IdentifierCase{"\n", false}, IdentifierCase{"a\n", true}, IdentifierCase{"a\n\n", false},
                    IdentifierCase{"a\r\n", false}, IdentifierCase{"a b", false}, IdentifierCase{"a/b", false},
                    IdentifierCase{QStringLiteral("\u00e9a"), false}, IdentifierCase{QStringLiteral("a\u00e9"), false}));

// The desktop historically validated ids with this expression; both sides must agree on every text.
TEST(ProtocolIdentifier, AgreesWithRegularExpressionOnRandomTexts)
{
    const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._:-]{0,127}$"));
    const QString alphabet = QStringLiteral("aZ09._:-/ \n\r\u00e9");
    QRandomGenerator random(1234);
    for (int i = 0; i < 20000; ++i) {
        const int length = random.bounded(0, 132);
        QString text;
        for (int j = 0; j < length; ++j) {
            // Mostly valid characters so that long candidates survive to the length limit.
            const bool valid = random.bounded(100) < 97;
            text.append(alphabet.at(valid ? random.bounded(0, 7) : random.bounded(7, alphabet.size())));
        }
        const bool expected = text.size() <= 128 && pattern.match(text).hasMatch();
        ASSERT_EQ(isValidProtocolIdentifier(text), expected) << text.toStdString();
    }
}

}  // namespace
}  // namespace vexilo::protocol
