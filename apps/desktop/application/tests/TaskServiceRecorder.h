#pragma once

// Records everything an AnalysisTaskService reports, in arrival order, for the service tests.

#include "vexilo/application/AnalysisTaskService.h"

#include <QString>
#include <QTest>

#include <functional>
#include <map>
#include <vector>

namespace vexilo::application::test {

inline constexpr int kServiceWaitMs = 120000;

class TaskServiceRecorder {
public:
    explicit TaskServiceRecorder(AnalysisTaskService& service)
    {
        QObject::connect(&service, &AnalysisTaskService::analysisStarted, &context_,
                         [this](qulonglong generation, const QString& taskId) {
                             note(QStringLiteral("analysisStarted"), generation);
                             taskIds.push_back(taskId);
                         });
        QObject::connect(&service, &AnalysisTaskService::analysisFinished, &context_,
                         [this](qulonglong generation) { note(QStringLiteral("analysisFinished"), generation); });
        QObject::connect(&service, &AnalysisTaskService::analysisCanceled, &context_,
                         [this](qulonglong generation) { note(QStringLiteral("analysisCanceled"), generation); });
        QObject::connect(&service, &AnalysisTaskService::cacheCleared, &context_,
                         [this](qulonglong generation) { note(QStringLiteral("cacheCleared"), generation); });
        QObject::connect(&service, &AnalysisTaskService::pictureAnalysisStatusChanged, &context_,
                         [this](const PictureAnalysisState& state) {
                             states.push_back(state);
                             lastState[state.pictureId] = state;
                         });
        QObject::connect(&service, &AnalysisTaskService::pictureAnalysisLoaded, &context_,
                         [this](const PictureAnalysisPayload& payload) {
                             note(QStringLiteral("pictureAnalysisLoaded"), payload.generation);
                             payloads.push_back(payload);
                         });
        QObject::connect(&service, &AnalysisTaskService::streamAnalysisLoaded, &context_,
                         [this](qulonglong generation, const StreamAnalysisPtr& analysis) {
                             note(QStringLiteral("streamAnalysisLoaded"), generation);
                             streams.push_back(analysis);
                         });
        QObject::connect(&service, &AnalysisTaskService::decodedFrameReceived, &context_,
                         [this](const protocol::AnalyzerFramePacket& frame) { frames.push_back(frame.picture); });
        QObject::connect(&service, &AnalysisTaskService::analysisError, &context_,
                         [this](const AnalysisTaskError& error) {
                             note(QStringLiteral("analysisError"), 0);
                             errors.push_back(error);
                         });
        QObject::connect(&service, &AnalysisTaskService::analysisIndexReady, &context_,
                         [this](qulonglong generation) { note(QStringLiteral("analysisIndexReady"), generation); });
    }

    static bool waitFor(const std::function<bool()>& done, int timeoutMs = kServiceWaitMs)
    {
        return QTest::qWaitFor(done, timeoutMs);
    }

    [[nodiscard]] bool has(const QString& signal) const
    {
        return std::find(signals_.begin(), signals_.end(), signal) != signals_.end();
    }

    // The signals in arrival order, each once, without the ones in `ignored`.
    [[nodiscard]] std::vector<QString> distinctOrder() const
    {
        std::vector<QString> order;
        for (const QString& signal : signals_) {
            if (std::find(order.begin(), order.end(), signal) == order.end()) {
                order.push_back(signal);
            }
        }
        return order;
    }

    [[nodiscard]] QString firstErrorText() const
    {
        return errors.empty() ? QString() : errors.front().code + QStringLiteral(": ") + errors.front().detail;
    }

    std::vector<QString> taskIds;
    std::vector<qulonglong> generations;
    std::vector<PictureAnalysisState> states;
    std::map<domain::PictureId, PictureAnalysisState> lastState;
    std::vector<PictureAnalysisPayload> payloads;
    std::vector<StreamAnalysisPtr> streams;
    std::vector<domain::PictureInfo> frames;
    std::vector<AnalysisTaskError> errors;

private:
    void note(const QString& signal, qulonglong generation)
    {
        signals_.push_back(signal);
        generations.push_back(generation);
    }

    std::vector<QString> signals_;
    QObject context_;
};

}  // namespace vexilo::application::test
