#include "vexilo/application/QualityAnalysisService.h"

#include "vexilo/threading/ThreadMailbox.h"

#include <QDeadlineTimer>
#include <QThread>

#include <exception>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace vexilo::application {

// Results a run's thread has handed over and the GUI thread has not stored yet. The first
// result into an empty queue posts one call to store the queue; the ones that follow before
// that call runs ride along in the same batch.
struct QualityAnalysisService::PendingResults {
    std::mutex mutex;
    std::vector<QualityPairResult> results;

    // True when the queue was empty, so the caller is the one to post the store call.
    bool add(QualityPairResult result) {
        const std::scoped_lock lock(mutex);
        results.push_back(std::move(result));
        return results.size() == 1;
    }

    std::vector<QualityPairResult> take() {
        const std::scoped_lock lock(mutex);
        return std::exchange(results, {});
    }
};

namespace {

std::size_t distinctFrameCount(const QualityAnalysisInput& input) {
    std::set<std::int64_t> frames;
    for (const QualityPairRequest& request : input.requests) {
        frames.insert(request.frameIndex);
    }
    return frames.size();
}

}  // namespace

QualityAnalysisService::QualityAnalysisService(QObject* parent, Body body)
    : QObject(parent), body_(std::move(body)), store_(new QualityResultStore(this)),
      mailbox_(new threading::ThreadMailbox(this)) {
    store_->setObjectName(QStringLiteral("qualityResultStore"));
}

QualityAnalysisService::~QualityAnalysisService() {
    stop();
}

bool QualityAnalysisService::start(QualityAnalysisInput input, const QString& label) {
    if (thread_ != nullptr || input.requests.empty()) {
        return false;
    }
    const std::uint64_t runGeneration = ++generation_;
    cancelFlag_ = std::make_shared<std::atomic<bool>>(false);
    cancelRequested_ = false;
    pending_ = std::make_shared<PendingResults>();
    runLabel_ = label;
    requestedPairCount_ = distinctFrameCount(input);
    reportedFrames_.clear();

    // The thread never outlives this object, nor its mailbox: the destructor stops it first.
    threading::ThreadMailbox* mailbox = mailbox_;
    auto postResult = [this, mailbox, pending = pending_, runGeneration](QualityPairResult result) {
        if (pending->add(std::move(result))) {
            mailbox->post([this, runGeneration] { storePending(runGeneration); });
        }
    };
    // Whatever the body throws ends the run with an error record, never the program; the
    // thread's last word is always its end.
    auto runBody = [this, mailbox, body = body_, flag = cancelFlag_, input = std::move(input), postResult,
                    runGeneration]() mutable {
        std::optional<QString> failure;
        try {
            body(input, flag, std::move(postResult));
        } catch (const std::exception& error) {
            failure = QString::fromUtf8(error.what());
        } catch (...) {
            failure = QStringLiteral("unknown exception");
        }
        if (failure) {
            mailbox->post([this, runGeneration, detail = *failure] { failRun(runGeneration, detail); });
        }
        mailbox->post([this, runGeneration] { onThreadFinished(runGeneration); });
    };
    thread_ = QThread::create(std::move(runBody));
    thread_->setObjectName(QStringLiteral("qualityAnalysisThread"));
    thread_->start(QThread::InheritPriority);
    return true;
}

bool QualityAnalysisService::requestCancel() {
    if (!cancelFlag_) {
        return false;
    }
    cancelRequested_ = true;
    cancelFlag_->store(true);
    return true;
}

void QualityAnalysisService::stop() {
    requestCancel();
    if (thread_ != nullptr) {
        endThread();
        ++generation_;  // what the stopped run still has on its way is now stale
    }
    forgetRun();
}

// Waits for the thread to return (at once when it has posted its end) and frees it.
void QualityAnalysisService::endThread() {
    thread_->wait(QDeadlineTimer(QDeadlineTimer::Forever));
    delete thread_;
    thread_ = nullptr;
}

void QualityAnalysisService::clearResults() {
    store_->clear();
}

void QualityAnalysisService::storePending(std::uint64_t runGeneration) {
    if (runGeneration != generation_ || !pending_) {
        return;
    }
    std::vector<QualityPairResult> batch = pending_->take();
    if (batch.empty()) {
        return;
    }
    QList<qint64> frameIndices;
    frameIndices.reserve(static_cast<qsizetype>(batch.size()));
    for (const QualityPairResult& result : batch) {
        frameIndices.push_back(result.frameIndex);
        reportedFrames_.insert(result.frameIndex);
    }
    store_->store(std::move(batch));
    emit resultsReady(frameIndices);
}

void QualityAnalysisService::failRun(std::uint64_t runGeneration, const QString& detail) {
    if (runGeneration != generation_) {
        return;
    }
    emit runFailed(QualityRunError{QString::fromLatin1(kQualityRunFailedCode),
                                   QString::fromLatin1(kQualityRunFailedMessage), detail});
}

void QualityAnalysisService::onThreadFinished(std::uint64_t runGeneration) {
    if (runGeneration != generation_) {
        return;
    }
    endThread();
    storePending(runGeneration);  // the mailbox delivers in order: this finds nothing left
    const bool canceled = cancelRequested_;
    const QString label = runLabel_;
    forgetRun();
    emit finished(label, canceled);
}

void QualityAnalysisService::forgetRun() {
    thread_ = nullptr;
    cancelFlag_.reset();
    pending_.reset();
    cancelRequested_ = false;
}

}  // namespace vexilo::application
