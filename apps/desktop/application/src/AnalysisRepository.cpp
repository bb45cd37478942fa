#include "vexilo/application/AnalysisRepository.h"

#include "CachedStreamSnapshot.h"
#include "DocumentRelease.h"
#include "PictureIdentityMap.h"
#include "RepositoryJobPool.h"
#include "vexilo/application/AnalysisCacheLocation.h"
#include "vexilo/application/ApplicationMetaTypes.h"
#include "vexilo/threading/ThreadMailbox.h"


#include <stop_token>
#include <system_error>
#include <utility>

namespace vexilo::application {
namespace {

using analysis::CacheError;
using analysis::CacheErrorKind;

// Loads are short file reads; a handful of threads keeps a stream load and the user's picture
// from waiting behind a preload.
constexpr std::size_t kJobThreads = 3;

}  // namespace

// What a job knows of itself; it runs on a pool thread, whose stop token it carries.
struct AnalysisRepository::JobContext {
    std::uint64_t epoch = 0;
    std::uint64_t generation = 0;
    std::optional<domain::PictureId> pictureId;
    std::stop_token stopToken;
};

AnalysisRepositoryError makeRepositoryError(const CacheError& error, std::optional<domain::PictureId> pictureId,
                                            std::uint64_t generation)
{
    const bool formatChanged = error.errorKind() == CacheErrorKind::unsupported_version;
    return AnalysisRepositoryError{
        .code = QString::fromStdString(analysis::cacheErrorCode(error.kind)),
        .message = formatChanged ? QString::fromLatin1(kCacheFormatChangedMessage)
                                 : QString::fromStdString(error.message),
        .detail = pathToQString(error.path),
        .pictureId = pictureId,
        .generation = generation,
    };
}

AnalysisRepository::AnalysisRepository(QObject* parent)
    : QObject(parent), mailbox_(new threading::ThreadMailbox(this)), pool_(std::make_unique<RepositoryJobPool>(kJobThreads))
{
    registerApplicationMetaTypes();
    registerAnalysisRepositoryMetaTypes();
}

AnalysisRepository::~AnalysisRepository()
{
    stopAllJobs();
}

void AnalysisRepository::loadStream(std::filesystem::path cacheDirectory,
                                    std::optional<std::string> expectedSourceFingerprint, std::uint64_t generation)
{
    startJob(generation, std::nullopt,
             [this, cacheDirectory = std::move(cacheDirectory),
              expected = std::move(expectedSourceFingerprint)](const JobContext& job) {
                 runStreamLoad(job, cacheDirectory, expected);
             });
}

void AnalysisRepository::loadPicture(std::filesystem::path cacheDirectory, analysis::ManifestPictureEntry entry,
                                     domain::PictureId pictureId,
                                     std::optional<std::string> expectedSourceFingerprint, std::uint64_t generation,
                                     analysis::PayloadExtent extent)
{
    startJob(generation, pictureId,
             [this, cacheDirectory = std::move(cacheDirectory), entry = std::move(entry),
              expected = std::move(expectedSourceFingerprint), extent](const JobContext& job) {
                 runPictureLoad(job, cacheDirectory, entry, expected, extent);
             });
}

void AnalysisRepository::clearCache(std::filesystem::path cacheDirectory, std::uint64_t generation)
{
    startJob(generation, std::nullopt, [this, cacheDirectory = std::move(cacheDirectory)](const JobContext& job) {
        runClear(job, cacheDirectory);
    });
}

void AnalysisRepository::setPictureIdentities(std::shared_ptr<const PictureIdentityMap> identities)
{
    pictureIdentities_ = std::move(identities);
}

void AnalysisRepository::cancelAllJobs()
{
    // Running jobs see the new epoch at their next step; queued ones when they start.
    epoch_.fetch_add(1);
}

void AnalysisRepository::stopAllJobs()
{
    epoch_.fetch_add(1);
    pool_->stop();
}

template <typename Body>
void AnalysisRepository::startJob(std::uint64_t generation, std::optional<domain::PictureId> pictureId, Body body)
{
    const std::uint64_t epoch = epoch_.load();
    pool_->post([epoch, generation, pictureId, body = std::move(body)](const std::stop_token& stopToken) {
        body(JobContext{epoch, generation, pictureId, stopToken});
    });
}

bool AnalysisRepository::isAbandoned(const JobContext& job) const
{
    return job.stopToken.stop_requested() || epoch_.load() != job.epoch;
}

template <typename Deliver> void AnalysisRepository::post(const JobContext& job, Deliver deliver)
{
    if (isAbandoned(job)) {
        return;
    }
    // The pool is joined before this object goes away, so `this` outlives every job; a wake-up
    // still queued when it goes is discarded with the mailbox. A cancel between handing over
    // and delivery is caught by the second look at the epoch.
    mailbox_->post([this, epoch = job.epoch, deliver = std::move(deliver)]() {
        if (epoch_.load() == epoch) {
            deliver();
        }
    });
}

void AnalysisRepository::postError(const JobContext& job, const CacheError& error)
{
    post(job, [this, repositoryError = makeRepositoryError(error, job.pictureId, job.generation)] {
        emit this->repositoryError(repositoryError);
    });
}

analysis::CacheResult<std::shared_ptr<const CachedStreamSnapshot>>
AnalysisRepository::snapshotFor(const JobContext& job, const std::filesystem::path& cacheDirectory,
                                const std::optional<std::string>& expectedSourceFingerprint)
{
    {
        const std::lock_guard lock(snapshotMutex_);
        if (snapshot_ && snapshot_->serves(cacheDirectory, expectedSourceFingerprint, job.generation)) {
            return snapshot_;
        }
    }
    auto loaded = CachedStreamSnapshot::load(cacheDirectory, expectedSourceFingerprint, job.generation,
                                             [this, &job] { return isAbandoned(job); });
    if (const auto* snapshot = std::get_if<CachedStreamSnapshot::Ptr>(&loaded); snapshot && *snapshot) {
        keepSnapshot(*snapshot);
    }
    return loaded;
}

void AnalysisRepository::keepSnapshot(std::shared_ptr<const CachedStreamSnapshot> snapshot)
{
    const std::lock_guard lock(snapshotMutex_);
    snapshot_ = std::move(snapshot);
}

void AnalysisRepository::runStreamLoad(const JobContext& job, const std::filesystem::path& cacheDirectory,
                                       const std::optional<std::string>& expectedSourceFingerprint)
{
    if (isAbandoned(job)) {
        return;
    }
    // A stream load always reads afresh: it is how a rewritten cache becomes visible.
    auto loaded = CachedStreamSnapshot::load(cacheDirectory, expectedSourceFingerprint, job.generation,
                                             [this, &job] { return isAbandoned(job); });
    if (const auto* error = std::get_if<CacheError>(&loaded)) {
        postError(job, *error);
        return;
    }
    auto snapshot = std::get<CachedStreamSnapshot::Ptr>(std::move(loaded));
    if (!snapshot) {
        return;
    }
    keepSnapshot(snapshot);
    post(job, [this, generation = job.generation, snapshot] {
        emit streamLoaded(generation, snapshot->manifest(), snapshot->sharedStream());
    });
}

void AnalysisRepository::runPictureLoad(const JobContext& job, const std::filesystem::path& cacheDirectory,
                                        const analysis::ManifestPictureEntry& entry,
                                        const std::optional<std::string>& expectedSourceFingerprint,
                                        analysis::PayloadExtent extent)
{
    if (isAbandoned(job)) {
        return;
    }
    auto snapshot = snapshotFor(job, cacheDirectory, expectedSourceFingerprint);
    if (const auto* error = std::get_if<CacheError>(&snapshot)) {
        postError(job, *error);
        return;
    }
    const auto& shared = std::get<CachedStreamSnapshot::Ptr>(snapshot);
    if (!shared || isAbandoned(job)) {
        return;
    }
    auto payload = shared->readPicturePayload(entry, extent);
    if (const auto* error = std::get_if<CacheError>(&payload)) {
        postError(job, *error);
        return;
    }
    auto document = std::get<analysis::StreamAnalysis>(std::move(payload));
    if (pictureIdentities_) {
        pictureIdentities_->rewritePictureIdentities(*job.pictureId, document);
    }
    post(job, [this, loaded = PictureAnalysisPayload{*job.pictureId, shareDocument(std::move(document)),
                                                     job.generation, extent}] { emit pictureLoaded(loaded); });
}

void AnalysisRepository::runClear(const JobContext& job, const std::filesystem::path& cacheDirectory)
{
    if (isAbandoned(job)) {
        return;
    }
    std::error_code error;
    std::filesystem::remove_all(cacheDirectory, error);
    keepSnapshot(nullptr);
    if (!error) {
        post(job, [this, generation = job.generation] { emit cacheCleared(generation); });
        return;
    }
    post(job, [this, failure = AnalysisRepositoryError{
                         .code = QString::fromLatin1(kClearFailedCode),
                         .message = QString::fromLatin1(kClearFailedMessage),
                         .detail = pathToQString(cacheDirectory) + QStringLiteral(": ") +
                                   QString::fromStdString(error.message()),
                         .pictureId = std::nullopt,
                         .generation = job.generation,
                     }] { emit repositoryError(failure); });
}

}  // namespace vexilo::application
