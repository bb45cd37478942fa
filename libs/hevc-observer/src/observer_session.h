// One registration's view of the stream: it splits what the decoder is fed into NAL units,
// runs them through the syntax layers and the decoding-process state, and sends the events
// that result to the registered callback.
#pragma once

#include "decoding_process.h"
#include "derivations/reference_motion.h"
#include "event_writer.h"
#include "reference_status.h"
#include "slice_data/picture_block_state.h"
#include "slice_data/slice_data_parser.h"
#include "slice_header.h"

#include <vexilo/hevc_observer/observer_abi.h>
#include <vexilo/hevc_observer/observer_feed.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vexilo::hevc {

// FFmpeg's AVERROR_INVALIDDATA, the error code of malformed syntax in the events.
constexpr std::int32_t kErrorInvalidData = -1094995529;

class EventSink {
public:
    EventSink(VexiloObserverCallback callback, void* opaque, std::uint64_t eventMask);
    // Stamps the running ordinal (counted for every event, delivered or not, so that the
    // ordinals do not depend on the mask) and hands the event to the callback if wanted.
    void deliver(VexiloObserverEventHeader& event);
    // Block events (CTU, CU, PU, TU) exist only when they are wanted, so they count on their
    // own and leave the ordinals of the stream-level events alone.
    void deliverBlock(VexiloObserverEventHeader& event);
    [[nodiscard]] bool wantsBlockEvents() const;
    void stop() { stopped_ = true; }
    [[nodiscard]] bool stopped() const { return stopped_; }

private:
    void handOver(VexiloObserverEventHeader& event);

    VexiloObserverCallback callback_;
    void* opaque_;
    std::uint64_t eventMask_;
    std::uint64_t nextOrdinal_ = 1;
    std::uint64_t nextBlockOrdinal_ = 1;
    bool stopped_ = false;
};

// A decoded picture as the session knows it (decode order).
struct PictureRecord {
    std::uint64_t pictureIdentity = 0;
    std::int32_t poc = 0;
    std::uint32_t pictureType = 0;
    std::uint32_t nalUnitType = 0;
    std::uint32_t temporalId = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // The DTS of the packet that carried the picture's first slice segment.
    std::int64_t dts = VEXILO_OBSERVER_NO_TIMESTAMP;
    bool reportedOutput = false;
};

struct PacketStamp {
    std::optional<std::uint64_t> filePosition;
    std::int64_t pts = VEXILO_OBSERVER_NO_TIMESTAMP;
    std::int64_t dts = VEXILO_OBSERVER_NO_TIMESTAMP;
};

using hevc_observer::ResumePoint;

class ObserverSession {
public:
    explicit ObserverSession(EventSink sink);

    void feedExtradata(std::span<const std::uint8_t> extradata);
    // Returns the packet token that travels with the packet to its frames.
    std::int64_t feedPacket(std::span<const std::uint8_t> data, const PacketStamp& stamp);
    void feedFrame(std::int64_t token, std::int64_t displayIndex, std::int64_t pts, std::uint32_t width,
                   std::uint32_t height);
    void feedFlush();
    // The stream is taken up at a random-access picture: its counters go on from where a session
    // fed the stream from its start had them there (observer_feed.h, resumeAt).
    void resumeAt(const ResumePoint& point);
    // Tells the receiver that the session failed (`reason`) and stops: nothing follows.
    void fail(std::string_view reason);

    EventSink& sink() { return sink_; }
    [[nodiscard]] const std::vector<PictureRecord>& pictures() const { return pictures_; }
    // Output order of the C.5.2 model (pic_output_flag and RASL skipping applied).
    [[nodiscard]] const std::vector<OutputPicture>& modelOutput() const { return modelOutput_; }
    [[nodiscard]] const ParameterSetStore& parameterSets() const { return parameterSets_; }

private:
    struct CurrentPicture {
        PictureStart start;
        std::size_t recordIndex = 0;
        std::optional<SliceSegmentHeader> independentSlice;
    };

    void startOnce();
    void processNalUnit(std::span<const std::uint8_t> nal, const NalUnitFacts& location, const PacketStamp& stamp,
                        bool silent);
    void processVps(const Rbsp& rbsp, const NalUnitFacts& nal, const EventStamp& stamp, bool silent);
    void processSps(const Rbsp& rbsp, const NalUnitFacts& nal, const EventStamp& stamp, bool silent);
    void processPps(const Rbsp& rbsp, const NalUnitFacts& nal, const EventStamp& stamp, bool silent);
    void processSei(std::span<const std::uint8_t> rbsp, std::uint32_t nalUnitType, const EventStamp& stamp);
    void processSlice(std::span<const std::uint8_t> payload, const NalUnitFacts& nal, const EventStamp& stamp);
    // A structure of the NAL unit was refused (`error`, found at `fault`), or kept although a
    // value lay outside its range (`warning`).
    void reportRefused(const NalUnitFacts& nal, const Rbsp& rbsp, const std::string& error, const SyntaxFault& fault,
                       const EventStamp& stamp);
    void reportTolerated(const NalUnitFacts& nal, const Rbsp& rbsp, const SyntaxWarning& warning,
                         const EventStamp& stamp);
    void beginPicture(const SliceHeaderParse& parse, std::int64_t packetDts);
    // The picture of a first slice segment whose header was refused; its identity, for the
    // frame the decoder may still make of it.
    std::uint64_t beginUnreadPicture(const SliceHeaderParse& parse, std::int64_t packetDts);
    void reportSliceDataRefused(const NalUnitFacts& nal, const std::string& error, const EventStamp& stamp);
    [[nodiscard]] slice_data::SliceDataResult emitBlockEvents(const SliceHeaderParse& parse, const SliceReferenceLists& lists,
                         std::span<const std::uint8_t> rbsp, const PictureIdentityFacts& identity,
                         const EventStamp& stamp);
    void emitReferenceEvents(const SliceHeaderParse& parse, const SliceReferenceLists& lists,
                             const PictureIdentityFacts& identity, const EventStamp& stamp);
    void collectModelOutput();
    std::optional<std::size_t> pictureForFrame(std::int64_t token);
    void forgetReportedToken(std::int64_t token);
    template <typename Event>
    void send(Event& event)
    {
        sink_.deliver(event.header);
    }

    EventSink sink_;
    bool started_ = false;
    std::uint32_t lengthSize_ = 0; // 0: Annex-B
    std::uint64_t nalCounter_ = 0;
    std::uint64_t nalUnitsOfExtradata_ = 0;
    std::uint64_t sliceCounter_ = 0;
    std::int64_t packetCounter_ = 0;
    std::int64_t currentToken_ = 0;
    ParameterSetStore parameterSets_;
    DecodingProcess decoding_;
    std::optional<CurrentPicture> current_;
    std::shared_ptr<const PictureLayout> layout_;
    std::shared_ptr<const Sps> layoutSps_;
    std::shared_ptr<const Pps> layoutPps_;
    std::vector<PictureRecord> pictures_;
    std::vector<OutputPicture> modelOutput_;
    std::size_t nextModelOutput_ = 0;
    std::map<std::int64_t, std::vector<std::size_t>> tokenPictures_;
    // What the slice segments of the current picture share while their slice data is parsed.
    slice_data::PictureBlockState blockState_;
    // The motion of the pictures TMVP may still read.
    derivations::ReferenceMotionStore referenceMotion_;
    ReferenceStatusTracker referenceStatus_;
};

} // namespace vexilo::hevc
