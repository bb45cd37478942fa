#include "vexilo/analysis/cache/CacheWriter.h"

#include "vexilo/analysis/AnalysisCodec.h"
#include "vexilo/analysis/cache/CacheContainer.h"
#include "vexilo/analysis/cache/CachePayload.h"
#include "vexilo/analysis/cache/CacheReader.h"

#include "cache/CacheErrorAt.h"
#include "cache/CacheFileSystem.h"
#include "cache/CacheOutput.h"
#include "cache/CachePictureRead.h"
#include "cache/PicturesEncodedAhead.h"
#include "cache/SharedCacheTexts.h"

#include "WorkBeside.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <variant>

namespace vexilo::analysis {
namespace {

constexpr const char* kCancelledBeforeManifest = "cache write cancelled before manifest commit";
constexpr const char* kPicturesDirNotCreated = "picture cache directory could not be created: ";
constexpr const char* kPayloadTooLarge = "cache payload exceeds configured limit";

OptionalCacheError createDirectory(const std::filesystem::path& directory, const char* message)
{
    if (const int error = cachefs::createDirectories(directory); error != 0) {
        return errorAt(CacheErrorKind::io_error, directory,
                       message + cachefs::systemErrorText(error));
    }
    return std::nullopt;
}

// A picture's payload, with its checksum when an encoder beside the writer worked it out.
struct PicturePayloadBytes {
    std::vector<std::uint8_t> bytes;
    std::optional<std::uint64_t> checksum;
};

// Picture payloads wait here a few at a time, so that the checksums the writer works out are
// worked side by side; they are staged in the order they came, as if each had been staged at once.
class PendingPictureFiles {
public:
    void add(std::filesystem::path path, PicturePayloadBytes payload)
    {
        pending_.push_back({std::move(path), std::move(payload)});
    }

    [[nodiscard]] bool full() const noexcept { return pending_.size() == kBatch; }

    [[nodiscard]] OptionalCacheError stageInto(StagedCacheFiles& files, const CacheWriteOptions& options,
                                               std::optional<std::uint64_t>& budget)
    {
        std::array<std::span<const std::uint8_t>, kBatch> unsummed{};
        std::array<std::uint64_t, kBatch> checksums{};
        std::size_t unsummedCount = 0;
        for (const Pending& file : pending_) {
            if (!file.payload.checksum) {
                unsummed[unsummedCount++] = file.payload.bytes;
            }
        }
        fnv1a64Each(std::span(unsummed).first(unsummedCount), checksums);
        OptionalCacheError error;
        std::size_t nextSum = 0;
        for (std::size_t index = 0; index < pending_.size() && !error; ++index) {
            const PicturePayloadBytes& payload = pending_[index].payload;
            const std::uint64_t checksum = payload.checksum ? *payload.checksum : checksums[nextSum++];
            error = files.stage(pending_[index].path, kPictureMagic, payload.bytes, checksum, options, budget);
        }
        pending_.clear();
        return error;
    }

private:
    static constexpr std::size_t kBatch = 4;

    struct Pending {
        std::filesystem::path path;
        PicturePayloadBytes payload;
    };
    std::vector<Pending> pending_;
};

// Stages the picture files in the order their payloads come, a batch at a time. With a core
// beside the writer's the files are written on a thread of their own, so that the writer goes on
// making pictures while the system copies the last ones; the first failure ends the staging and
// is what finish() reports, as it would have been reported had each batch been staged at once.
class PictureFilesStaged {
public:
    PictureFilesStaged(StagedCacheFiles& files, const CacheWriteOptions& options, std::optional<std::uint64_t>& budget)
        : files_(files), options_(options), budget_(budget)
    {
        if (usableCores() > 1) {
            try {
                thread_ = std::thread([this] { stageWhileWanted(); });
            } catch (const std::system_error&) {
                // Without a thread the writer stages each batch itself.
            }
        }
    }

    ~PictureFilesStaged()
    {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    PictureFilesStaged(const PictureFilesStaged&) = delete;
    PictureFilesStaged& operator=(const PictureFilesStaged&) = delete;

    // A failure of the files staged so far, which ends the write.
    [[nodiscard]] OptionalCacheError add(std::filesystem::path path, PicturePayloadBytes payload)
    {
        open_.add(std::move(path), std::move(payload));
        if (!open_.full()) {
            return std::nullopt;
        }
        return handOverOpenBatch();
    }

    // Stages what is still waiting; the first failure of the whole staging.
    [[nodiscard]] OptionalCacheError finish()
    {
        if (auto error = handOverOpenBatch()) {
            return error;
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return waiting_.empty() && !staging_; });
        return failure_;
    }

private:
    static constexpr std::size_t kWaitingBatchLimit = 2;

    OptionalCacheError handOverOpenBatch()
    {
        if (!thread_.joinable()) {
            return open_.stageInto(files_, options_, budget_);
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return waiting_.size() < kWaitingBatchLimit || failure_; });
        if (!failure_) {
            waiting_.push_back(std::move(open_));
            open_ = PendingPictureFiles();
            changed_.notify_all();
        }
        return failure_;
    }

    void stageWhileWanted()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return !waiting_.empty() || stopping_; });
            if (stopping_) {
                return;
            }
            PendingPictureFiles batch = std::move(waiting_.front());
            waiting_.pop_front();
            staging_ = true;
            lock.unlock();
            OptionalCacheError error = batch.stageInto(files_, options_, budget_);
            lock.lock();
            staging_ = false;
            if (error && !failure_) {
                failure_ = std::move(error);
                waiting_.clear();
            }
            changed_.notify_all();
        }
    }

    StagedCacheFiles& files_;
    const CacheWriteOptions& options_;
    std::optional<std::uint64_t>& budget_;
    PendingPictureFiles open_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<PendingPictureFiles> waiting_;
    bool staging_ = false;
    bool stopping_ = false;
    OptionalCacheError failure_;
    std::thread thread_;  // last: started once everything it uses is there
};

// The earlier cache of the same source, opened once for the whole write.
class PreviousCache {
public:
    PreviousCache(const std::filesystem::path& directory, const std::string& fingerprint)
        : directory_(directory)
    {
        auto opened = openAnalysisCache(directory, fingerprint);
        if (auto* manifest = std::get_if<CacheManifest>(&opened)) {
            manifest_ = std::move(*manifest);
            for (const ManifestPictureEntry& entry : manifest_->pictures) {
                entries_.emplace(entry.stableId, &entry);
            }
        }
    }

    PreviousCache(const PreviousCache&) = delete;
    PreviousCache& operator=(const PreviousCache&) = delete;

    // The cached document of this picture, when one is there and reads back whole.
    [[nodiscard]] std::optional<StreamAnalysis> picture(const StableId& pictureId) const
    {
        const auto found = entries_.find(pictureId);
        if (found == entries_.end()) {
            return std::nullopt;
        }
        auto read = readCachedPictureFromManifest(directory_, *manifest_, *found->second);
        if (auto* document = std::get_if<StreamAnalysis>(&read)) {
            return std::move(*document);
        }
        return std::nullopt;
    }

private:
    std::filesystem::path directory_;
    std::optional<CacheManifest> manifest_;
    std::unordered_map<StableId, const ManifestPictureEntry*, StableIdHash> entries_;
};

// A picture document whose payload would exceed the limit, told apart from one the
// serialiser refuses for its content.
struct PayloadOverLimit {
    std::optional<std::uint64_t> payloadBytes;
    std::string reason;
};

using PicturePayload = std::variant<std::vector<std::uint8_t>, CacheError, PayloadOverLimit>;

// Whether a picture document is the one split from the caller's document, which the caller
// validated as a whole.
enum class SplitFromValidated : bool { No, Yes };

PicturePayload serializeWithin(const StreamAnalysis& document, std::uint64_t limitBytes,
                               const std::filesystem::path& path,
                               SplitFromValidated splitFromValidated = SplitFromValidated::No)
{
    auto serialized = splitFromValidated == SplitFromValidated::Yes ? serializeValidatedStreamAnalysis(document)
                                                                    : serializeStreamAnalysis(document);
    if (auto* error = std::get_if<AnalysisReadError>(&serialized)) {
        if (error->status == AnalysisReadStatus::ResourceLimit) {
            return PayloadOverLimit{std::nullopt, std::move(error->message)};
        }
        return makeCacheError(CacheErrorKind::invalid_payload, std::filesystem::path(path),
                              std::move(error->message));
    }
    auto& bytes = std::get<std::vector<std::uint8_t>>(serialized);
    if (bytes.size() > limitBytes) {
        return PayloadOverLimit{bytes.size(), {}};
    }
    return std::move(bytes);
}

// Encodes a picture document with the earlier run's block structure where the new
// run produced none. Should the merged document not validate or not fit (the earlier
// structure no longer resolves), the new document is written as it is: a stale
// cache must not block every later analysis of its source.
PicturePayload encodeWithCachedStructure(StreamAnalysis& document,
                                         const std::optional<StreamAnalysis>& cached,
                                         std::uint64_t limitBytes,
                                         const std::filesystem::path& path,
                                         SplitFromValidated splitFromValidated)
{
    if (!cached || hasBlockStructure(document) || !hasBlockStructure(*cached)) {
        return serializeWithin(document, limitBytes, path, splitFromValidated);
    }
    const std::vector<PictureAnalysisSummary> unmergedSummaries = document.pictures;
    mergeExistingPictureStructure(document, *cached);
    auto merged = serializeWithin(document, limitBytes, path);
    if (std::holds_alternative<std::vector<std::uint8_t>>(merged)) {
        return merged;
    }
    clearBlockStructure(document);
    document.pictures = unmergedSummaries;
    return serializeWithin(document, limitBytes, path);
}

// Takes the block structure out of a picture document that cannot hold it; its summary
// stays, marked partial and without block counts.
OmittedPictureBlocks omitBlockStructure(StreamAnalysis& document, PayloadOverLimit&& over,
                                        std::uint64_t limitBytes)
{
    OmittedPictureBlocks omitted;
    omitted.payloadBytes = over.payloadBytes;
    omitted.limitBytes = limitBytes;
    omitted.reason = std::move(over.reason);
    omitted.ctus = document.ctus.size();
    omitted.cus = document.cus.size();
    omitted.pus = document.pus.size();
    omitted.tus = document.tus.size();
    omitted.motionVectors = document.motionVectors.size();
    clearBlockStructure(document);
    for (PictureAnalysisSummary& summary : document.pictures) {
        summary.completeness = PictureCompleteness::Partial;
        summary.ctuCount.reset();
        summary.cuCount.reset();
        summary.puCount.reset();
        summary.tuCount.reset();
    }
    return omitted;
}

// Pictures made one by one on the writer's thread and encoded on threads beside it, a few ahead of
// the one the writer takes: the making needs the writer's state, the encoding only the document.
class PicturesMadeAndEncodedBeside {
public:
    using Make = std::function<void(std::size_t index, StreamAnalysis& document)>;
    using Encode = std::function<std::optional<std::vector<std::uint8_t>>(StreamAnalysis& document)>;

    PicturesMadeAndEncodedBeside(std::size_t count, Make make, Encode encode, std::size_t encoders)
        : count_(count), make_(std::move(make)), encode_(std::move(encode)), encoders_(encoders)
    {
    }

    // The payload of picture `index` (taken once each, in ascending order), or nothing, its
    // document then being handed over in `document` for the writer to encode.
    std::optional<PicturePayloadBytes> take(std::size_t index, StreamAnalysis& document)
    {
        while (nextToMake_ < count_ && nextToMake_ <= index + encoders_) {
            startNext();
        }
        InFlight picture = std::move(inFlight_.front());
        inFlight_.pop_front();
        std::optional<PicturePayloadBytes> payload = picture.payload.get();
        if (!payload) {
            document = std::move(*picture.document);
        }
        return payload;
    }

private:
    struct InFlight {
        std::unique_ptr<StreamAnalysis> document;
        std::future<std::optional<PicturePayloadBytes>> payload;
    };

    void startNext()
    {
        auto document = std::make_unique<StreamAnalysis>();
        make_(nextToMake_++, *document);
        StreamAnalysis* made = document.get();
        // A picture without blocks of its own is the writer's: it may take the earlier run's.
        const bool encodedBeside = encoders_ != 0 && hasBlockStructure(*made);
        auto payload = startBeside(encodedBeside, [this, made]() -> std::optional<PicturePayloadBytes> {
            try {
                std::optional<std::vector<std::uint8_t>> bytes = encode_(*made);
                if (!bytes) {
                    return std::nullopt;
                }
                // Summed here, beside the writer, whose own thread is the pass's slowest.
                const std::uint64_t checksum = fnv1a64(*bytes);
                return PicturePayloadBytes{std::move(*bytes), checksum};
            } catch (...) {
                // Out of memory here leaves the picture to the writer, whose own failure is reported.
                return std::nullopt;
            }
        });
        inFlight_.push_back(InFlight{std::move(document), std::move(payload)});
    }

    std::size_t count_;
    Make make_;
    Encode encode_;
    std::size_t encoders_;
    std::size_t nextToMake_ = 0;
    std::deque<InFlight> inFlight_;
};

class CacheDirectoryWriter {
public:
    CacheDirectoryWriter(const std::filesystem::path& directory, const StreamAnalysis& analysis,
                         const CacheWriteOptions& options, const PictureDocumentMaker* makePicture = nullptr)
        : directory_(directory), analysis_(analysis), options_(options), makePicture_(makePicture),
          budget_(options.simulatedDiskFullBytes),
          pictureLimitBytes_(std::min(options.pictureDocumentLimitBytes.value_or(kCacheMaxPayloadSize),
                                      kCacheMaxPayloadSize))
    {
        if (makePicture_ == nullptr) {
            split_.emplace(analysis_, options_.documentValidated ? PictureDocumentSplit::Identities::validated
                                                                 : PictureDocumentSplit::Identities::unchecked);
            blockCounts_ = IndexBlockCounts{analysis_.ctus.size(), analysis_.cus.size(), analysis_.pus.size(),
                                            analysis_.tus.size()};
        }
    }

    CacheResult<CacheManifest> write()
    {
        const CacheManifest manifest = buildCacheManifest(analysis_);
        const PreviousCache previous(directory_, analysis_.sourceFingerprint);
        if (auto error =
                createDirectory(directory_ / manifest.picturesDir, kPicturesDirNotCreated)) {
            return std::move(*error);
        }
        // A stream document split up here is final before its pictures are written; one whose
        // pictures are made as they are written is final only after them.
        if (split_) {
            if (auto error = writeStreamFile(manifest)) {
                return std::move(*error);
            }
        }
        if (auto error = writePictureFiles(manifest, previous)) {
            return std::move(*error);
        }
        // The stream-level summaries must tell of the blocks each picture file holds: carried
        // over from an earlier run, or left out.
        if (!split_ || !changedSummaries_.empty()) {
            if (auto error = writeStreamFile(manifest)) {
                return std::move(*error);
            }
        }
        const std::string index = serializeIndexJson(analysis_, manifest, blockCounts_);
        if (auto error = writeCacheContainer(directory_ / manifest.indexPath, kIndexMagic,
                                             asBytes(index), options_, budget_)) {
            return std::move(*error);
        }
        if (isCancellationRequested(options_)) {
            return cancelledBeforeManifest();
        }
        const std::string text = serializeManifestJson(manifest);
        if (auto error = writeCacheContainer(directory_ / kManifestFileName, kManifestMagic,
                                             asBytes(text), options_, budget_)) {
            return std::move(*error);
        }
        return manifest;
    }

private:
    [[nodiscard]] CacheError cancelledBeforeManifest() const
    {
        return errorAt(CacheErrorKind::cancelled, directory_, kCancelledBeforeManifest);
    }

    OptionalCacheError writeStreamFile(const CacheManifest& manifest)
    {
        const std::filesystem::path path = directory_ / manifest.streamPath;
        StreamAnalysis document = buildStreamMetaDocument(analysis_);
        for (const auto& [index, summary] : changedSummaries_) {
            document.pictures[index] = summary;
        }
        auto payload = serializeCachePayload(document, path);
        if (auto* error = std::get_if<CacheError>(&payload)) {
            return std::move(*error);
        }
        return writeCacheContainer(path, kStreamMetaMagic,
                                   std::get<std::vector<std::uint8_t>>(payload), options_, budget_);
    }

    // A cancel that comes while the picture files are written, whichever file it meets, is one
    // between pictures: nothing of them is committed, and the directory is what the error names.
    OptionalCacheError writePictureFiles(const CacheManifest& manifest, const PreviousCache& previous)
    {
        OptionalCacheError error = writeEveryPictureFile(manifest, previous);
        if (error && error->errorKind() == CacheErrorKind::cancelled) {
            return cancelledBeforeManifest();
        }
        return error;
    }

    OptionalCacheError writeEveryPictureFile(const CacheManifest& manifest, const PreviousCache& previous)
    {
        // Encoders beside the writer take pictures split from a finished document, or made by
        // the writer one by one.
        const auto encode = [this](StreamAnalysis& document) { return encodeOnTheCommonRoad(document); };
        const std::size_t encoders = pictureEncodersBesideTheWriter(manifest.pictures.size());
        std::optional<PicturesEncodedAhead> encodedAhead;
        std::optional<PicturesMadeAndEncodedBeside> madeBeside;
        if (split_) {
            encodedAhead.emplace(*split_, encode, encoders);
        } else {
            madeBeside.emplace(
                manifest.pictures.size(),
                [this](std::size_t index, StreamAnalysis& document) { makePicture(index, document); }, encode,
                encoders);
        }
        // One document at a time, refilled in place: a long stream's picture documents never
        // sit in memory together, and their collections are not reallocated per picture.
        StreamAnalysis document;
        StagedCacheFiles pictureFiles;
        PictureFilesStaged staged(pictureFiles, options_, budget_);
        // The pictures before a failure are staged first: their own failures come first.
        const auto failAfterPending = [&](CacheError failure) -> OptionalCacheError {
            if (auto error = staged.finish()) {
                return error;
            }
            return failure;
        };
        for (std::size_t index = 0; index < manifest.pictures.size(); ++index) {
            if (isCancellationRequested(options_)) {
                // The pictures waiting to be staged go with the rest: nothing is committed.
                return cancelledBeforeManifest();
            }
            const ManifestPictureEntry& entry = manifest.pictures[index];
            std::filesystem::path path = directory_ / entry.path;
            std::optional<PicturePayloadBytes> payload = takeEncoded(encodedAhead, madeBeside, index, document);
            if (!payload) {
                auto encoded = encodeTheCarefulWay(index, previous, entry, document, path);
                if (auto* error = std::get_if<CacheError>(&encoded)) {
                    return failAfterPending(std::move(*error));
                }
                payload = PicturePayloadBytes{std::move(std::get<std::vector<std::uint8_t>>(encoded)), std::nullopt};
            }
            if (auto error = staged.add(std::move(path), std::move(*payload))) {
                return error;
            }
        }
        if (auto error = staged.finish()) {
            return error;
        }
        return pictureFiles.commit(directory_);
    }

    static std::optional<PicturePayloadBytes> takeEncoded(std::optional<PicturesEncodedAhead>& encodedAhead,
                                                          std::optional<PicturesMadeAndEncodedBeside>& madeBeside,
                                                          std::size_t index, StreamAnalysis& document)
    {
        if (!encodedAhead) {
            return madeBeside->take(index, document);
        }
        std::optional<std::vector<std::uint8_t>> bytes = encodedAhead->take(index);
        if (!bytes) {
            return std::nullopt;
        }
        return PicturePayloadBytes{std::move(*bytes), std::nullopt};
    }

    // A picture with blocks of its own that fits as it is: all an encoder beside the writer
    // takes on. Whatever else happens to a picture is left to encodeTheCarefulWay.
    std::optional<std::vector<std::uint8_t>> encodeOnTheCommonRoad(StreamAnalysis& document) const
    {
        if (!hasBlockStructure(document)) {
            return std::nullopt;
        }
        PicturePayload payload = serializeWithin(document, pictureLimitBytes_, {}, splitFromValidated());
        if (auto* bytes = std::get_if<std::vector<std::uint8_t>>(&payload)) {
            return std::move(*bytes);
        }
        return std::nullopt;
    }

    [[nodiscard]] SplitFromValidated splitFromValidated() const noexcept
    {
        return split_ && options_.documentValidated ? SplitFromValidated::Yes : SplitFromValidated::No;
    }

    void makePicture(std::size_t index, StreamAnalysis& document)
    {
        (*makePicture_)(index, document);
        blockCounts_.ctus += document.ctus.size();
        blockCounts_.cus += document.cus.size();
        blockCounts_.pus += document.pus.size();
        blockCounts_.tus += document.tus.size();
    }

    CacheResult<std::vector<std::uint8_t>> encodeTheCarefulWay(std::size_t index, const PreviousCache& previous,
                                                               const ManifestPictureEntry& entry,
                                                               StreamAnalysis& document,
                                                               const std::filesystem::path& path)
    {
        // A picture made one by one is in the document already.
        if (split_) {
            split_->fill(index, document);
        }
        // Only a picture the new run left without blocks takes the earlier run's; reading every
        // earlier picture file only to drop it would make a reanalysis pay for the old cache.
        const std::optional<StreamAnalysis> cached =
            hasBlockStructure(document) ? std::nullopt : previous.picture(entry.stableId);
        return encodePictureDocument(document, index, cached, path);
    }

    // A picture that does not fit with its blocks is written without them.
    CacheResult<std::vector<std::uint8_t>>
    encodePictureDocument(StreamAnalysis& document, std::size_t index,
                          const std::optional<StreamAnalysis>& cached,
                          const std::filesystem::path& path)
    {
        PicturePayload payload =
            encodeWithCachedStructure(document, cached, pictureLimitBytes_, path, splitFromValidated());
        if (auto* over = std::get_if<PayloadOverLimit>(&payload)) {
            if (!hasBlockStructure(document)) {
                return errorAt(CacheErrorKind::resource_limit, path, kPayloadTooLarge);
            }
            const OmittedPictureBlocks omitted =
                omitBlockStructure(document, std::move(*over), pictureLimitBytes_);
            if (options_.onPictureBlocksOmitted) {
                options_.onPictureBlocksOmitted(document, omitted);
            }
            payload = serializeWithin(document, pictureLimitBytes_, path);
        }
        if (!document.pictures.empty() && document.pictures.front() != analysis_.pictures[index]) {
            changedSummaries_.emplace_back(index, document.pictures.front());
        }
        if (auto* bytes = std::get_if<std::vector<std::uint8_t>>(&payload)) {
            return std::move(*bytes);
        }
        if (auto* error = std::get_if<CacheError>(&payload)) {
            return std::move(*error);
        }
        return errorAt(CacheErrorKind::resource_limit, path, kPayloadTooLarge);
    }

    const std::filesystem::path& directory_;
    const StreamAnalysis& analysis_;
    const CacheWriteOptions& options_;
    const PictureDocumentMaker* makePicture_;
    std::optional<PictureDocumentSplit> split_;
    IndexBlockCounts blockCounts_;
    std::optional<std::uint64_t> budget_;
    std::uint64_t pictureLimitBytes_;
    // Picture summaries, by document index, of pictures whose file holds other blocks than
    // this run produced.
    std::vector<std::pair<std::size_t, PictureAnalysisSummary>> changedSummaries_;
};

// The checks and the lock every write of a whole cache directory takes first.
template <typename Write>
CacheResult<CacheManifest> writeLockedDirectory(const std::filesystem::path& directory,
                                                const CacheWriteOptions& options, Write write)
{
    if (directory.empty()) {
        return errorAt(CacheErrorKind::invalid_path, directory, cachetexts::kDirectoryEmpty);
    }
    if (isCancellationRequested(options)) {
        return errorAt(CacheErrorKind::cancelled, directory, cachetexts::kCancelledBeforeStart);
    }
    // The lock file lives inside the directory, so the directory comes first.
    if (auto error = createDirectory(directory, cachetexts::kDirectoryNotCreated)) {
        return std::move(*error);
    }
    int lockError = 0;
    const auto lock =
        cachefs::DirectoryLock::acquire(directory / kCacheWriterLockFileName, lockError);
    if (!lock) {
        return errorAt(CacheErrorKind::io_error, directory,
                       cachetexts::kDirectoryNotLocked + cachefs::systemErrorText(lockError));
    }
    return write();
}

}  // namespace

CacheResult<CacheManifest> writeAnalysisCache(const std::filesystem::path& directory,
                                              const StreamAnalysis& analysis,
                                              const CacheWriteOptions& options)
{
    return writeLockedDirectory(directory, options,
                                [&] { return CacheDirectoryWriter(directory, analysis, options).write(); });
}

CacheResult<CacheManifest> writeAnalysisCachePictureByPicture(const std::filesystem::path& directory,
                                                              const StreamAnalysis& stream,
                                                              const PictureDocumentMaker& makePicture,
                                                              const CacheWriteOptions& options)
{
    return writeLockedDirectory(directory, options, [&] {
        return CacheDirectoryWriter(directory, stream, options, &makePicture).write();
    });
}

}  // namespace vexilo::analysis
