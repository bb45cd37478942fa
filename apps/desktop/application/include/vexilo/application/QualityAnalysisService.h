#pragma once

#include "vexilo/application/QualityAnalysisTypes.h"
#include "vexilo/application/QualityResultStore.h"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>

class QThread;

namespace vexilo::threading {
class ThreadMailbox;
}

namespace vexilo::application {

// Quality runs, one at a time, and the store of what they measured. A run's thread measures
// the pairs; its results, its failure and its end reach the thread this object lives in
// through a mailbox, the results gathered into batches: however many arrived since the last
// batch are stored together and announced by one `resultsReady`. Every run carries a
// generation, so that anything an ended run still had on its way is dropped.
class QualityAnalysisService : public QObject {
    Q_OBJECT

public:
    // What a run's thread executes; analyzeQualityPairs unless a test measures something else.
    using Body = std::function<void(const QualityAnalysisInput&, const QualityCancelFlag&, QualityPairCallback)>;

    explicit QualityAnalysisService(QObject* parent = nullptr, Body body = media::analyzeQualityPairs);
    ~QualityAnalysisService() override;

    QualityAnalysisService(const QualityAnalysisService&) = delete;
    QualityAnalysisService& operator=(const QualityAnalysisService&) = delete;

    [[nodiscard]] const QualityResultStore& resultStore() const noexcept { return *store_; }
    [[nodiscard]] bool isRunning() const noexcept { return thread_ != nullptr; }
    [[nodiscard]] std::uint64_t generation() const noexcept { return generation_; }
    // The "n of N" of the running (or last) run: pairs reported so far, pairs asked for.
    [[nodiscard]] std::size_t reportedPairCount() const noexcept { return reportedFrames_.size(); }
    [[nodiscard]] std::size_t requestedPairCount() const noexcept { return requestedPairCount_; }
    [[nodiscard]] const QString& runLabel() const noexcept { return runLabel_; }

    // Starts a run over `input` on a new thread; refused (false) while a run is going or when
    // there is nothing to measure.
    bool start(QualityAnalysisInput input, const QString& label);
    // The user's cancel: the run stops at its next check and finishes as canceled. False when
    // no run is going.
    bool requestCancel();
    // Ends the run now and waits for its thread, however long the current pair takes;
    // whatever it still has queued, its finish included, is dropped.
    void stop();
    // Empties the store (the run, if any, goes on adding to it).
    void clearResults();

signals:
    void resultsReady(QList<qint64> frameIndices);
    void finished(QString label, bool canceled);
    void runFailed(vexilo::application::QualityRunError error);

private:
    struct PendingResults;

    void storePending(std::uint64_t runGeneration);
    void failRun(std::uint64_t runGeneration, const QString& detail);
    void onThreadFinished(std::uint64_t runGeneration);
    void endThread();
    void forgetRun();

    Body body_;
    QualityResultStore* store_ = nullptr;
    threading::ThreadMailbox* mailbox_ = nullptr;
    QThread* thread_ = nullptr;
    QualityCancelFlag cancelFlag_;
    std::shared_ptr<PendingResults> pending_;
    bool cancelRequested_ = false;
    std::uint64_t generation_ = 0;
    QString runLabel_;
    std::size_t requestedPairCount_ = 0;
    std::set<std::int64_t> reportedFrames_;
};

}  // namespace vexilo::application
