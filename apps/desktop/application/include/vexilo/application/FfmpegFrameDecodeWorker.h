#pragma once

#include "vexilo/application/ApplicationTypes.h"
#include "vexilo/application/VideoFrameCache.h"
#include "vexilo/media/RandomAccessIndex.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vexilo::media {
class FFmpegFrameReader;
struct DecodedPictureOrigin;
}  // namespace vexilo::media

namespace vexilo::application {

// What the frame decoder was asked for: the picture the user selected, whether its frame is to
// be handed back (it was not in the frame cache), and the way the user steps, in which the
// pictures beyond it are read ahead into the cache.
struct FrameRequest {
    std::uint64_t requestId = 0;
    domain::PictureId pictureId = 0;
    std::int64_t displayIndex = 0;
    bool deliver = true;
    // +1 forward, -1 back.
    int direction = 1;
};

// A random-access picture a decode started at, as the counts list it.
struct RandomAccessStartRecord {
    std::optional<std::int64_t> displayIndex;  // absent for a picture no decode from the start shows
    std::uint8_t nalUnitType = 0;
};

// What the frame decoder did, for whoever wants to see that it seeks: the decodes it started at
// random-access pictures (the last of them listed), at the stream's first packet, and the
// pictures it decoded and copied into the cache.
struct FrameDecodeCounts {
    std::uint64_t randomAccessStarts = 0;
    std::uint64_t streamStarts = 0;
    std::uint64_t picturesDecoded = 0;
    std::uint64_t picturesCopied = 0;
    std::vector<RandomAccessStartRecord> recentStarts;
};

// The decoder behind on-demand frames, on a thread of its own for as long as its source is open.
// A frame that is not in the cache is decoded from the nearest random-access picture before it
// (the stream's start only while no index of them is known), and the pictures around it are read
// ahead into the cache in the direction of stepping, within the cache's budget. The decoder
// stays where it stopped, so the next step forward goes on from there. A newer request makes the
// running one stop at the next packet or picture. Requests and the index come from any thread.
class FfmpegFrameDecodeWorker : public QObject {
    Q_OBJECT

public:
    FfmpegFrameDecodeWorker(std::filesystem::path sourcePath, std::shared_ptr<VideoFrameCache> frameCache,
                            std::shared_ptr<const media::RandomAccessIndex> index = {});
    ~FfmpegFrameDecodeWorker() override;

    FfmpegFrameDecodeWorker(const FfmpegFrameDecodeWorker&) = delete;
    FfmpegFrameDecodeWorker& operator=(const FfmpegFrameDecodeWorker&) = delete;

    // Replaces the request not yet taken up and stops the one running.
    void request(const FrameRequest& request);
    // Drops the request not yet taken up and stops the one running.
    void cancel();
    // Ends `run` once the work in hand has stopped.
    void stop();
    void setRandomAccessIndex(std::shared_ptr<const media::RandomAccessIndex> index);
    [[nodiscard]] FrameDecodeCounts counts() const;

signals:
    void frameReady(qulonglong requestId, vexilo::domain::PictureId pictureId, vexilo::application::VideoFramePtr frame);
    void unavailable(qulonglong requestId, vexilo::domain::PictureId pictureId, QString reason);
    void finished();

public slots:
    // Serves requests until `stop`.
    void run();

private:
    // The pictures kept in the cache around the requested one, and how many are read ahead.
    struct Window {
        std::int64_t first = 0;
        std::int64_t last = 0;
        std::int64_t ahead = 0;
    };

    // Whether a decode may go back to the stream's first packet to reach a picture: only for the
    // picture the user waits for, never to read ahead.
    enum class StreamStart : bool { Kept, Allowed };

    [[nodiscard]] std::optional<FrameRequest> nextRequest();
    void serve(const FrameRequest& request);
    bool deliver(const FrameRequest& request, const Window& window);
    void readAhead(const FrameRequest& request, const Window& window);
    // Decodes on until `last` has come out, copying the window's pictures the cache lacks; false
    // when the decode stopped early, ended, or failed.
    bool decodeUntil(std::int64_t last, const Window& window, const FrameRequest* delivering);
    // Puts the decoder where a decode that reaches `displayIndex` goes on from.
    bool positionFor(std::int64_t displayIndex, StreamStart streamStart = StreamStart::Allowed);
    [[nodiscard]] bool canGoOnTo(std::int64_t displayIndex, const media::RandomAccessStart& start) const;
    bool startAt(const media::RandomAccessStart& start);
    bool openReader();
    void noteStreamStart();
    [[nodiscard]] std::optional<std::int64_t> labelOf(const media::DecodedPictureOrigin& origin) const;
    [[nodiscard]] Window windowAround(const FrameRequest& request);
    [[nodiscard]] bool exists(std::int64_t displayIndex) const;
    [[nodiscard]] bool isCached(std::int64_t displayIndex) const;
    [[nodiscard]] bool superseded() const;
    void notePictureDecoded(bool copied);
    void fail(const FrameRequest* delivering, const QString& reason);

    const std::filesystem::path sourcePath_;
    const std::shared_ptr<VideoFrameCache> frameCache_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<FrameRequest> pending_;
    // The request the decoding thread works on.
    std::optional<FrameRequest> serving_;
    std::shared_ptr<const media::RandomAccessIndex> sharedIndex_;
    bool stopping_ = false;
    FrameDecodeCounts counts_;
    // Raised by every request, cancel and stop: the running work compares it with its own.
    std::atomic<std::uint64_t> generation_{0};

    // Owned by the decoding thread.
    std::uint64_t servedGeneration_ = 0;
    std::shared_ptr<const media::RandomAccessIndex> index_;
    std::unique_ptr<media::FFmpegFrameReader> reader_;
    std::size_t sessionStart_ = 0;
    std::optional<std::int64_t> lastOutput_;
    bool atEnd_ = false;
    std::uint64_t frameBytes_ = 0;
    QString lastError_;
};

}  // namespace vexilo::application
