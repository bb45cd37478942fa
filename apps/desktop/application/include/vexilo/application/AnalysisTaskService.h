#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheManifest.h"
#include "vexilo/application/AnalysisRepository.h"
#include "vexilo/application/AnalysisRepositoryTypes.h"
#include "vexilo/application/AnalysisTaskTypes.h"
#include "vexilo/application/ApplicationTypes.h"
#include "vexilo/application/AnalyzerWorkerClient.h"
#include "vexilo/domain/PictureInfo.h"
#include "vexilo/media/RandomAccessIndex.h"
#include "vexilo/protocol/FramePacket.h"
#include "vexilo/protocol/ProtocolMessage.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vexilo::application {

class PictureIdentityMap;

// The status of a picture whose analysis is in the index or loaded.
inline constexpr const char* kPictureAnalysisReadyStatus = "Analysis ready";

// Manages the analyses of one opened source: its cache directory, the worker runs that fill
// it, the loads that read it back, and each project picture's analysis status. Every result
// carries the analysis generation, which advances whenever earlier work becomes stale.
// Lives on the GUI thread.
class AnalysisTaskService : public QObject {
    Q_OBJECT

public:
    explicit AnalysisTaskService(QObject* parent = nullptr, AnalysisTaskServiceOptions options = {});
    ~AnalysisTaskService() override;

    AnalysisTaskService(const AnalysisTaskService&) = delete;
    AnalysisTaskService& operator=(const AnalysisTaskService&) = delete;

    void startAnalysis(const QString& sourcePath, bool reanalyze);
    void analyzePictureStructure(domain::PictureId picture);
    void cancelAnalysis();
    void clearCache();
    // A complete payload, for the views that show the picture.
    void loadPictureAnalysis(domain::PictureId picture);
    // Loads every picture, `first` first and complete; the others carry only their own records
    // and the stream's errors (PayloadExtent::PictureRecords), which is all the strip, the picture
    // table and the error log read of them. Showing one takes loadPictureAnalysis.
    void preloadPictureAnalyses(std::optional<domain::PictureId> first = std::nullopt);
    void setDecodedPictures(const std::vector<domain::PictureInfo>& pictures);

    // Takes the source's cache as its analysis, with no worker run, when the cache was written
    // for the file as it is now; false, with nothing started, when it was not. Nothing is read
    // until loadReusedAnalysis: the cache then lists the project's pictures itself
    // (cachedPicturesListed) before its index is told, or, when its stream document turns out
    // unreadable, says so (cachedAnalysisUnreadable) and leaves the fresh analysis to the caller.
    // A picture of it that turns out unreadable has the stream analysed again.
    bool reuseCachedAnalysis(const QString& sourcePath);
    void loadReusedAnalysis();

    [[nodiscard]] PictureAnalysisStatus pictureAnalysisStatus(domain::PictureId picture) const;
    [[nodiscard]] bool isBusy() const;
    [[nodiscard]] std::uint64_t generation() const { return generation_; }
    [[nodiscard]] const std::filesystem::path& cacheDirectory() const { return cacheDirectory_; }
    // The random-access pictures of the stream the last stream analysis describes; null until
    // one is loaded.
    [[nodiscard]] const std::shared_ptr<const media::RandomAccessIndex>& randomAccessIndex() const
    {
        return randomAccessIndex_;
    }
    // Read when "analysisFinished" is emitted: the counts that run reported.
    [[nodiscard]] AnalyzerPacketCounts lastRunPacketCounts() const { return lastRunPacketCounts_; }

    // Forgets the source and stops its worker; shutdown also waits for every cache job.
    void closeSource();
    void shutdown();

signals:
    void analysisStarted(qulonglong generation, const QString& taskId);
    void analysisFinished(qulonglong generation);
    void analysisCanceled(qulonglong generation);
    void cacheCleared(qulonglong generation);
    void pictureAnalysisStatusChanged(const vexilo::application::PictureAnalysisState& state);
    void pictureAnalysisLoaded(const vexilo::application::PictureAnalysisPayload& payload);
    void streamAnalysisLoaded(qulonglong generation, const vexilo::application::StreamAnalysisPtr& analysis);
    void decodedFrameReceived(const vexilo::protocol::AnalyzerFramePacket& frame);
    void analysisError(const vexilo::application::AnalysisTaskError& error);
    void analysisIndexReady(qulonglong generation);
    // The reused cache's pictures in display order, each under the id the decoders give it.
    void cachedPicturesListed(qulonglong generation, const vexilo::application::PictureInfoBatch& pictures);
    void cachedAnalysisUnreadable(qulonglong generation);

private:
    void setPictureStatus(domain::PictureId picture, PictureAnalysisStatus status, const QString& message);
    void emitError(const AnalysisTaskError& error);
    [[nodiscard]] std::filesystem::path cacheRoot() const;
    [[nodiscard]] std::optional<QString> prepareCacheDirectory();
    void startWorkerIfNeeded();
    void sendPendingStreamAnalysis();
    void sendPendingPictureStructure();
    void takeTask(const AnalyzerTaskRequest& request);
    void abandonJobs();

    void onWorkerStateChanged(AnalyzerWorkerState state);
    void onWorkerEvent(const protocol::AnalyzerProtocolMessage& event);
    void onAnalysisFinished(const protocol::AnalyzerProtocolMessage& event);
    void onAnalysisCanceled();
    void onWorkerError(const AnalyzerWorkerError& error);
    void onStreamLoaded(qulonglong generation, const analysis::CacheManifest& manifest,
                        const StreamAnalysisPtr& shared);
    void onPictureLoaded(const PictureAnalysisPayload& payload);
    void onRepositoryError(const AnalysisRepositoryError& error);
    void onCacheCleared(qulonglong generation);

    [[nodiscard]] std::optional<domain::PictureId>
    projectPictureFor(const analysis::PictureAnalysisSummary& summary, std::size_t position) const;
    void failRunningPicture(const QString& message);

    void enqueuePreload(domain::PictureId picture);
    void startNextPreload();
    void startPictureLoad(domain::PictureId picture, const analysis::ManifestPictureEntry& entry,
                          analysis::PayloadExtent extent);
    void forgetPictures();
    void clearPreload();

    // The cache-reuse road (AnalysisCacheReuse.cpp).
    void indexPicture(domain::PictureId picture, const analysis::PictureAnalysisSummary& summary,
                      const analysis::ManifestPictureEntry& entry);
    // The project's pictures when this load reads a reused cache, which lists them; none otherwise.
    std::optional<PictureInfoBatch> listReusedPictures(const analysis::StreamAnalysis& stream);
    // True when the error found the reused cache unreadable, which then gives way to a fresh analysis.
    bool reanalyzeUnreadableCache(const AnalysisRepositoryError& error);
    void forgetCacheReuse();
    // Makes the source the service's current one with nothing of the previous one kept.
    void beginSource(const QString& sourcePath, std::filesystem::path cacheDirectory,
                     std::optional<std::string> expectedSource, bool reanalyze);

    AnalysisTaskServiceOptions options_;
    AnalyzerWorkerClient client_;
    AnalysisRepository repository_;

    QString sourcePath_;
    std::filesystem::path cacheDirectory_;
    std::optional<std::string> expectedSource_;
    QString taskId_;
    bool streamAnalysisPending_ = false;
    bool reanalyze_ = false;
    bool cacheWipePending_ = false;
    std::optional<domain::PictureId> pendingPictureRequest_;
    std::uint64_t targetDecodePictureId_ = 0;
    std::optional<domain::PictureId> runningPictureRequest_;
    std::optional<domain::PictureId> loadingPicture_;
    std::optional<domain::PictureId> completePreload_;
    std::deque<domain::PictureId> pictureLoadQueue_;
    std::unordered_set<domain::PictureId> queuedPictures_;

    std::unordered_map<domain::PictureId, analysis::ManifestPictureEntry> pictureEntries_;
    std::unordered_map<domain::PictureId, PictureAnalysisStatus> pictureStatuses_;
    // Shared with the repository's job threads, which rewrite each loaded document with it.
    std::shared_ptr<PictureIdentityMap> pictureIdentities_;
    std::unordered_map<std::int64_t, domain::PictureId> displayIndexToPicture_;
    AnalyzerPacketCounts lastRunPacketCounts_;
    std::shared_ptr<const media::RandomAccessIndex> randomAccessIndex_;
    // The stream document the index was made from: a picture's structure analysis is told where
    // to take the stream up from it.
    StreamAnalysisPtr streamDocument_;

    // Set from reuseCachedAnalysis until its stream document has been read or found unreadable.
    bool reuseLoadPending_ = false;
    // The generation whose results come from a reused cache; 0 when none does.
    std::uint64_t reusedGeneration_ = 0;
    std::uint64_t generation_ = 1;
};

}  // namespace vexilo::application
