// Feeds arbitrary bytes to the line parser in both directions; a message that parses must
// serialise and parse back to the same message.
#include "vexilo/protocol/ProtocolMessage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace vexilo::protocol;

namespace {

void checkRoundTrip(const QByteArray& line, ProtocolDirection direction)
{
    const ProtocolParseResult parsed = parseProtocolLine(line, direction);
    const auto* message = std::get_if<AnalyzerProtocolMessage>(&parsed);
    if (message == nullptr) {
        return;
    }
    const ProtocolParseResult again = parseProtocolLine(serializeProtocolMessage(*message, direction), direction);
    const auto* reparsed = std::get_if<AnalyzerProtocolMessage>(&again);
    if (reparsed == nullptr || reparsed->type != message->type || reparsed->requestId != message->requestId ||
        reparsed->taskId != message->taskId || reparsed->sequence != message->sequence ||
        reparsed->payload != message->payload) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray line(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkRoundTrip(line, ProtocolDirection::Request);
    checkRoundTrip(line, ProtocolDirection::Event);
    (void)isValidProtocolIdentifier(QString::fromUtf8(line));
    return 0;
}
