#pragma once

#include "vexilo/media/QualityPairAnalysis.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class QThread;

namespace vexilo {

// The window's one quality run at a time: the run's thread, its shared cancel flag and the
// generation that makes results and finishes of an ended run harmless. Results and the
// finish arrive as signals on the thread this object lives in.
class QualityAnalysisRun : public QObject {
    Q_OBJECT

public:
    // What the run's thread executes; analyzeQualityPairs unless a test measures something else.
    using Body = std::function<void(const application::QualityAnalysisInput&, const application::QualityCancelFlag&,
                                    application::QualityPairCallback)>;

    explicit QualityAnalysisRun(QObject* parent = nullptr, Body body = application::analyzeQualityPairs);
    ~QualityAnalysisRun() override;

    QualityAnalysisRun(const QualityAnalysisRun&) = delete;
    QualityAnalysisRun& operator=(const QualityAnalysisRun&) = delete;

    [[nodiscard]] bool isRunning() const { return thread_ != nullptr; }
    [[nodiscard]] std::uint64_t generation() const { return generation_; }

    // Starts a run over `input` on a new thread; refused (false) while a run is going.
    bool start(application::QualityAnalysisInput input, const QString& label);
    // The user's cancel: the run stops before its next request and finishes as canceled.
    // False when no run holds a cancel flag.
    bool requestCancel();
    // Ends the run now and waits for its thread, however long the current pair takes;
    // whatever it still has queued, its finish included, is dropped.
    void stop();

signals:
    void resultReady(vexilo::application::QualityPairResult result);
    void finished(QString label, bool canceled);

private:
    void onThreadFinished(std::uint64_t runGeneration, const QString& label);
    void forgetRun();

    Body body_;
    QThread* thread_ = nullptr;
    application::QualityCancelFlag cancelFlag_;
    bool cancelRequested_ = false;
    std::uint64_t generation_ = 0;
};

}  // namespace vexilo
