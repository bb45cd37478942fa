#pragma once

// Records everything an AnalyzerWorkerClient reports, and waits for it with the event loop
// running, for the tests that drive a real worker process or the scripted fake one.

#include "vexilo/application/AnalyzerWorkerClient.h"

#include <QString>
#include <QTest>

#include <functional>
#include <vector>

namespace vexilo::application::test {

inline constexpr int kWorkerWaitMs = 60000;

struct ReceivedFrame {
    std::uint64_t sequence = 0;
    domain::PictureInfo picture;
    std::size_t planeCount = 0;
};

class WorkerClientRecorder {
public:
    explicit WorkerClientRecorder(AnalyzerWorkerClient& client)
    {
        QObject::connect(&client, &AnalyzerWorkerClient::stateChanged, &context_,
                         [this](AnalyzerWorkerState state) { states.push_back(state); });
        QObject::connect(&client, &AnalyzerWorkerClient::workerStarted, &context_,
                         [this](qlonglong id) { processId = id; });
        QObject::connect(&client, &AnalyzerWorkerClient::eventReceived, &context_,
                         [this](const protocol::AnalyzerProtocolMessage& event) { events.push_back(event); });
        QObject::connect(&client, &AnalyzerWorkerClient::frameReceived, &context_,
                         [this](const protocol::AnalyzerFramePacket& frame) {
                             frames.push_back({frame.sequence, frame.picture, frame.frame.planes.size()});
                         });
        QObject::connect(&client, &AnalyzerWorkerClient::stderrTextReceived, &context_,
                         [this](const QString& text) { stderrText += text; });
        QObject::connect(&client, &AnalyzerWorkerClient::errorOccurred, &context_,
                         [this](const AnalyzerWorkerError& error) { errors.push_back(error); });
    }

    static bool waitFor(const std::function<bool()>& done, int timeoutMs = kWorkerWaitMs)
    {
        return QTest::qWaitFor(done, timeoutMs);
    }

    [[nodiscard]] bool hasEvent(const QString& type, const QString& requestId = {}) const
    {
        for (const protocol::AnalyzerProtocolMessage& event : events) {
            if (event.type == type && (requestId.isEmpty() || event.requestId == requestId)) {
                return true;
            }
        }
        return false;
    }

    [[nodiscard]] const protocol::AnalyzerProtocolMessage* lastEvent(const QString& type) const
    {
        for (auto it = events.rbegin(); it != events.rend(); ++it) {
            if (it->type == type) {
                return &*it;
            }
        }
        return nullptr;
    }

    std::vector<AnalyzerWorkerState> states;
    qlonglong processId = 0;
    std::vector<protocol::AnalyzerProtocolMessage> events;
    std::vector<ReceivedFrame> frames;
    QString stderrText;
    std::vector<AnalyzerWorkerError> errors;

private:
    QObject context_;  // ends the connections when the recorder goes before the client
};

}  // namespace vexilo::application::test
