#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheError.h"
#include "vexilo/analysis/cache/CacheManifest.h"
#include "vexilo/application/AnalysisRepositoryTypes.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vexilo::threading {
class ThreadMailbox;
}  // namespace vexilo::threading

namespace vexilo::application {

class CachedStreamSnapshot;
class PictureIdentityMap;
class RepositoryJobPool;

inline constexpr const char* kCacheFormatChangedMessage = "Analysis cache format changed; run Reanalyze Stream";
inline constexpr const char* kClearFailedCode = "analysis_cache.clear_failed";
inline constexpr const char* kClearFailedMessage = "Could not clear analysis cache";

// Reads analyses out of a cache directory on job threads and posts each result to the GUI
// thread as one signal. Jobs it was told to abandon (cancelAllJobs, stopAllJobs, destruction)
// post nothing, not even a result already on its way.
class AnalysisRepository : public QObject {
    Q_OBJECT

public:
    explicit AnalysisRepository(QObject* parent = nullptr);
    ~AnalysisRepository() override;

    AnalysisRepository(const AnalysisRepository&) = delete;
    AnalysisRepository& operator=(const AnalysisRepository&) = delete;

    void loadStream(std::filesystem::path cacheDirectory, std::optional<std::string> expectedSourceFingerprint,
                    std::uint64_t generation);
    void loadPicture(std::filesystem::path cacheDirectory, analysis::ManifestPictureEntry entry,
                     domain::PictureId pictureId, std::optional<std::string> expectedSourceFingerprint,
                     std::uint64_t generation,
                     analysis::PayloadExtent extent = analysis::PayloadExtent::Complete);
    void clearCache(std::filesystem::path cacheDirectory, std::uint64_t generation);
    // The mapping a picture load rewrites its document's picture references with, on the job
    // thread, before the document is shared. Set before the first load; none leaves them as read.
    void setPictureIdentities(std::shared_ptr<const PictureIdentityMap> identities);

    // Abandons every job without waiting for it.
    void cancelAllJobs();
    // Abandons every job and waits until none runs.
    void stopAllJobs();

signals:
    // The stream document is the repository's own, shared: its receivers keep the pointer.
    void streamLoaded(qulonglong generation, const vexilo::analysis::CacheManifest& manifest,
                      const vexilo::application::StreamAnalysisPtr& analysis);
    void pictureLoaded(const vexilo::application::PictureAnalysisPayload& payload);
    void cacheCleared(qulonglong generation);
    void repositoryError(const vexilo::application::AnalysisRepositoryError& error);

private:
    struct JobContext;

    template <typename Body> void startJob(std::uint64_t generation, std::optional<domain::PictureId> pictureId,
                                           Body body);
    template <typename Deliver> void post(const JobContext& job, Deliver deliver);
    [[nodiscard]] bool isAbandoned(const JobContext& job) const;
    void postError(const JobContext& job, const analysis::CacheError& error);

    void runStreamLoad(const JobContext& job, const std::filesystem::path& cacheDirectory,
                       const std::optional<std::string>& expectedSourceFingerprint);
    void runPictureLoad(const JobContext& job, const std::filesystem::path& cacheDirectory,
                        const analysis::ManifestPictureEntry& entry,
                        const std::optional<std::string>& expectedSourceFingerprint, analysis::PayloadExtent extent);
    void runClear(const JobContext& job, const std::filesystem::path& cacheDirectory);

    // The shared snapshot for this load, read now when none serves it yet. Empty (and no error)
    // when the job was abandoned meanwhile.
    analysis::CacheResult<std::shared_ptr<const CachedStreamSnapshot>>
    snapshotFor(const JobContext& job, const std::filesystem::path& cacheDirectory,
                const std::optional<std::string>& expectedSourceFingerprint);
    void keepSnapshot(std::shared_ptr<const CachedStreamSnapshot> snapshot);

    std::atomic<std::uint64_t> epoch_{1};
    // Results cross to the GUI thread through here, never as data in Qt's posted events.
    threading::ThreadMailbox* mailbox_ = nullptr;
    std::mutex snapshotMutex_;
    std::shared_ptr<const CachedStreamSnapshot> snapshot_;
    std::shared_ptr<const PictureIdentityMap> pictureIdentities_;
    std::unique_ptr<RepositoryJobPool> pool_;
};

// The repository's form of a cache error: its "analysis_cache." code and message, the path.
[[nodiscard]] AnalysisRepositoryError makeRepositoryError(const analysis::CacheError& error,
                                                          std::optional<domain::PictureId> pictureId,
                                                          std::uint64_t generation);

}  // namespace vexilo::application
