#pragma once

#include "vexilo/analysis/StreamAnalysis.h"
#include "vexilo/analysis/cache/CacheWriter.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vexilo::analysis {

// At most this many threads encode picture documents beside a cache write, and only as many as
// the cores the process may run on leave beside the writer's own.
inline constexpr std::size_t kMaxPictureEncoders = 3;

// Fewer pictures than this are encoded by the writer alone: threads would cost more than they save.
inline constexpr std::size_t kPicturesWorthEncodersBeside = 8;

// Picture documents encoded on threads beside the writer: each is split from the analysis and
// encoded there, so that the writer only takes each payload, in picture order, and writes it.
// An encode that does not succeed on the common road (no blocks of its own, too large, refused)
// is left to the writer, which takes that picture the careful way on its own thread. The encoders
// run at most a few pictures ahead of the writer, so that their payloads stay few in memory.
class PicturesEncodedAhead {
public:
    // Encodes a picture document on the common road; nothing when the writer must take it.
    using Encode = std::function<std::optional<std::vector<std::uint8_t>>(StreamAnalysis& document)>;

    // Starts `encoders` threads (fewer when no more can be had; none leaves every picture to
    // the writer). `split` and `encode` must outlive this object.
    PicturesEncodedAhead(const PictureDocumentSplit& split, Encode encode, std::size_t encoders);
    // Stops the encoders after the picture each is on, and joins them.
    ~PicturesEncodedAhead();

    PicturesEncodedAhead(const PicturesEncodedAhead&) = delete;
    PicturesEncodedAhead& operator=(const PicturesEncodedAhead&) = delete;

    // The payload of picture `index`, waiting for it if it is being encoded; nothing when the
    // writer must encode it itself. Pictures are taken once each, in ascending order.
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> take(std::size_t index);

private:
    struct Encoded {
        bool done = false;
        std::optional<std::vector<std::uint8_t>> payload;
    };

    void encodeWhileWanted();
    [[nodiscard]] std::optional<std::size_t> claimNext();
    void publish(std::size_t index, std::optional<std::vector<std::uint8_t>> payload);

    const PictureDocumentSplit& split_;
    Encode encode_;
    std::size_t window_ = 0;  // pictures the encoders may be ahead of the writer

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Encoded> encoded_;  // by picture
    std::size_t nextToClaim_ = 0;
    std::size_t nextToTake_ = 0;
    bool stopping_ = false;

    std::vector<std::thread> encoders_;  // last: joined before the state above goes
};

// Encoders a cache write can have beside it on the cores this process may use.
[[nodiscard]] std::size_t pictureEncodersBesideTheWriter(std::size_t pictures);

}  // namespace vexilo::analysis
