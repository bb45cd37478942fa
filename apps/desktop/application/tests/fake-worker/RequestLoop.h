#pragma once

// The scripted test workers read requests as the real worker does: one protocol line at a time
// from standard input until it closes; lines that do not parse are passed over.

#include "vexilo/protocol/ProtocolMessage.h"

#include <iostream>
#include <string>
#include <variant>

namespace vexilo::test {

template <typename Handler>
void forEachRequest(Handler&& handle)
{
    std::string line;
    while (std::getline(std::cin, line)) {
        const auto parsed = protocol::parseProtocolLine(QByteArray::fromStdString(line),
                                                        protocol::ProtocolDirection::Request);
        if (const auto* request = std::get_if<protocol::AnalyzerProtocolMessage>(&parsed)) {
            handle(*request);
        }
    }
}

}  // namespace vexilo::test
