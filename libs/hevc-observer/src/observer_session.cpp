#include "observer_session.h"

#include "bit_reader.h"
#include "block_event_writer.h"
#include "fnv1a.h"
#include "nal_unit.h"
#include "sei.h"

#include <algorithm>

namespace vexilo::hevc {

namespace {
constexpr std::size_t kNalUnitHeaderBytes = 2;
constexpr std::uint32_t kPictureTypeI = VEXILO_OBSERVER_PICTURE_TYPE_I;
constexpr std::uint32_t kPictureTypeP = VEXILO_OBSERVER_PICTURE_TYPE_P;
constexpr std::uint32_t kPictureTypeB = VEXILO_OBSERVER_PICTURE_TYPE_B;
constexpr std::uint64_t kBlockKindsMask =
    VEXILO_OBSERVER_EVENT_MASK_BIT(VEXILO_OBSERVER_EVENT_CTU) | VEXILO_OBSERVER_EVENT_MASK_BIT(VEXILO_OBSERVER_EVENT_CU) |
    VEXILO_OBSERVER_EVENT_MASK_BIT(VEXILO_OBSERVER_EVENT_PU) | VEXILO_OBSERVER_EVENT_MASK_BIT(VEXILO_OBSERVER_EVENT_TU);
// Block ordinals live apart from the stream-level ones, so that neither range moves the other.
constexpr std::uint64_t kBlockOrdinalBase = UINT64_C(1) << 62;

std::uint32_t pictureTypeOfSlice(std::uint32_t sliceType)
{
    switch (sliceType) {
    case kSliceB:
        return kPictureTypeB;
    case kSliceP:
        return kPictureTypeP;
    default:
        return kPictureTypeI;
    }
}

// How the structures of a NAL unit are called in a diagnostic: a short label for the
// message, and the syntax structure named when the parser names no element of it.
struct StructureNames {
    const char* label;
    const char* syntax;
};

StructureNames structureNamesOf(std::uint32_t nalUnitType)
{
    switch (nalUnitType) {
    case VPS_NUT:
        return {"VPS", "video_parameter_set_rbsp"};
    case SPS_NUT:
        return {"SPS", "seq_parameter_set_rbsp"};
    case PPS_NUT:
        return {"PPS", "pic_parameter_set_rbsp"};
    default:
        return {"Slice segment header", "slice_segment_header"};
    }
}

// Bits from the NAL unit's first byte to bit `rbspBit` of its RBSP: the unit header and the
// emulation prevention bytes before it count, as they do for anyone reading the file.
std::uint64_t nalBitPosition(const Rbsp& rbsp, std::uint64_t rbspBit)
{
    return (kNalUnitHeaderBytes + rbsp.toNalPosition(rbspBit / 8U)) * 8U + rbspBit % 8U;
}

EventStamp stampOf(const PacketStamp& packet)
{
    EventStamp stamp;
    stamp.pts = packet.pts;
    stamp.dts = packet.dts;
    return stamp;
}
} // namespace

EventSink::EventSink(VexiloObserverCallback callback, void* opaque, std::uint64_t eventMask)
    : callback_(callback), opaque_(opaque), eventMask_(eventMask)
{
}

void EventSink::deliver(VexiloObserverEventHeader& event)
{
    event.ordinal = nextOrdinal_++;
    handOver(event);
}

void EventSink::deliverBlock(VexiloObserverEventHeader& event)
{
    event.ordinal = kBlockOrdinalBase | nextBlockOrdinal_++;
    handOver(event);
}

bool EventSink::wantsBlockEvents() const { return !stopped_ && callback_ != nullptr && (eventMask_ & kBlockKindsMask) != 0; }

void EventSink::handOver(VexiloObserverEventHeader& event)
{
    if (stopped_ || callback_ == nullptr || event.kind == 0 || event.kind > 64) {
        return;
    }
    const bool wanted = event.kind == VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC || ((eventMask_ >> (event.kind - 1U)) & 1U) != 0;
    if (!wanted) {
        return;
    }
    if (callback_(opaque_, 0, &event) < 0) {
        stopped_ = true; // the receiver failed for good; it wants nothing more
    }
}

ObserverSession::ObserverSession(EventSink sink) : sink_(sink) {}

void ObserverSession::startOnce()
{
    if (!started_) {
        started_ = true;
        VexiloObserverEventHeader marker = writeMarkerEvent(VEXILO_OBSERVER_EVENT_START_MARKER);
        sink_.deliver(marker);
    }
}

void ObserverSession::feedExtradata(std::span<const std::uint8_t> extradata)
{
    startOnce();
    if (const auto record = parseHvcC(extradata)) {
        lengthSize_ = record->lengthSizeMinusOne + 1U;
        std::uint32_t index = 0;
        for (const NalUnitSpan& span : record->nalUnits) {
            NalUnitFacts location;
            location.indexInPacket = index++;
            processNalUnit(extradata.subspan(static_cast<std::size_t>(span.offset), static_cast<std::size_t>(span.size)),
                           location, PacketStamp{}, false);
        }
        nalUnitsOfExtradata_ = nalCounter_;
        return;
    }
    // Annex-B extradata repeats parameter sets that the first packet carries again; they are
    // taken in without events so that nothing is reported twice.
    for (const NalUnitSpan& span : splitAnnexB(extradata)) {
        processNalUnit(extradata.subspan(static_cast<std::size_t>(span.offset), static_cast<std::size_t>(span.size)),
                       NalUnitFacts{}, PacketStamp{}, true);
    }
    nalUnitsOfExtradata_ = nalCounter_;
}

void ObserverSession::resumeAt(const ResumePoint& point)
{
    nalCounter_ = nalUnitsOfExtradata_ + point.nalUnitsBefore;
    sliceCounter_ = point.slicesBefore;
    decoding_.resumeAt(point.picturesBefore, point.picOrderCnt, point.skippedPicturesTakeIdentities);
}

std::int64_t ObserverSession::feedPacket(std::span<const std::uint8_t> data, const PacketStamp& stamp)
{
    startOnce();
    currentToken_ = ++packetCounter_;
    std::vector<NalUnitSpan> spans;
    if (lengthSize_ != 0) {
        spans = splitLengthPrefixed(data, lengthSize_).nalUnits;
    } else {
        spans = splitAnnexB(data);
    }
    std::uint32_t index = 0;
    for (const NalUnitSpan& span : spans) {
        NalUnitFacts location;
        location.indexInPacket = index++;
        location.startCodeLength = span.startCodeLength;
        if (stamp.filePosition) {
            location.byteOffset = *stamp.filePosition + span.offset;
        }
        processNalUnit(data.subspan(static_cast<std::size_t>(span.offset), static_cast<std::size_t>(span.size)), location,
                       stamp, false);
    }
    return currentToken_;
}

void ObserverSession::processNalUnit(std::span<const std::uint8_t> nal, const NalUnitFacts& location,
                                     const PacketStamp& packet, bool silent)
{
    const EventStamp stamp = stampOf(packet);
    const std::optional<NalUnitHeader> header = parseNalUnitHeader(nal);
    NalUnitFacts facts = location;
    facts.byteSize = nal.size();
    facts.contentHash = fnv1a64(nal);
    facts.nalIdentity = ++nalCounter_;
    if (header) {
        facts.header = *header;
    } else if (!nal.empty()) {
        // A damaged header is still reported with what its bits say; TemporalId stays 0.
        facts.header.nal_unit_type = (nal[0] >> 1U) & 0x3FU;
        facts.header.nuh_temporal_id_plus1 = 1;
    }
    if (!silent) {
        auto event = writeNalUnitEvent(facts, stamp);
        send(event);
    }
    if (!header || header->nuh_layer_id != 0) {
        return; // only the base layer is decoded
    }
    // A NAL unit of nothing but its header still reaches its syntax layer, which reports it.
    const std::span<const std::uint8_t> payload = nal.subspan(std::min(nal.size(), kNalUnitHeaderBytes));
    const std::uint32_t type = header->nal_unit_type;
    if (isVcl(type)) {
        if (!silent) {
            processSlice(payload, facts, stamp);
        }
        return;
    }
    switch (type) {
    case VPS_NUT:
        processVps(unescapeRbsp(payload), facts, stamp, silent);
        break;
    case SPS_NUT:
        processSps(unescapeRbsp(payload), facts, stamp, silent);
        break;
    case PPS_NUT:
        processPps(unescapeRbsp(payload), facts, stamp, silent);
        break;
    case PREFIX_SEI_NUT:
    case SUFFIX_SEI_NUT:
        if (!silent) {
            processSei(unescapeRbsp(payload).bytes, type, stamp);
        }
        break;
    case EOS_NUT:
        decoding_.endOfSequence();
        current_.reset();
        break;
    default:
        break;
    }
}

void ObserverSession::reportRefused(const NalUnitFacts& nal, const Rbsp& rbsp, const std::string& error,
                                    const SyntaxFault& fault, const EventStamp& stamp)
{
    const StructureNames names = structureNamesOf(nal.header.nal_unit_type);
    const std::string message = std::string(names.label) + " refused: " + error;
    DiagnosticFacts facts;
    facts.nalIdentity = nal.nalIdentity;
    facts.nalUnitType = nal.header.nal_unit_type;
    facts.outcome = VEXILO_OBSERVER_DIAGNOSTIC_REJECTED;
    facts.bitPosition = nalBitPosition(rbsp, fault.bitPosition);
    facts.element = fault.element.empty() ? std::string_view(names.syntax) : std::string_view(fault.element);
    facts.message = message;
    auto event = writeSyntaxDiagnosticEvent(facts, stamp);
    send(event);
}

void ObserverSession::reportTolerated(const NalUnitFacts& nal, const Rbsp& rbsp, const SyntaxWarning& warning,
                                      const EventStamp& stamp)
{
    const std::string message = std::string(structureNamesOf(nal.header.nal_unit_type).label) + " kept: " +
                                warning.message;
    DiagnosticFacts facts;
    facts.nalIdentity = nal.nalIdentity;
    facts.nalUnitType = nal.header.nal_unit_type;
    facts.outcome = VEXILO_OBSERVER_DIAGNOSTIC_TOLERATED;
    facts.bitPosition = nalBitPosition(rbsp, warning.bitPosition);
    facts.element = warning.element;
    facts.message = message;
    auto event = writeSyntaxDiagnosticEvent(facts, stamp);
    send(event);
}

void ObserverSession::fail(std::string_view reason)
{
    const std::string message = "The syntax observer failed and analyses no further: " + std::string(reason);
    DiagnosticFacts facts;
    facts.nalIdentity = nalCounter_;
    facts.outcome = VEXILO_OBSERVER_DIAGNOSTIC_SESSION_FAILED;
    facts.message = message;
    auto event = writeSyntaxDiagnosticEvent(facts, EventStamp{});
    send(event);
    sink_.stop();
}

void ObserverSession::processVps(const Rbsp& rbsp, const NalUnitFacts& nal, const EventStamp& stamp, bool silent)
{
    ParseResult<Vps> result = parseVps(rbsp.bytes);
    if (!result.value) {
        if (!silent) {
            reportRefused(nal, rbsp, result.error, result.errorAt, stamp);
        }
        return;
    }
    auto vps = std::make_shared<const Vps>(std::move(*result.value));
    parameterSets_.vps[vps->vps_video_parameter_set_id] = vps;
    if (silent) {
        return;
    }
    auto event = writeVpsEvent(*vps, nal.contentHash, stamp);
    send(event);
    for (const VpsLayerSet& layerSet : vps->layerSets) {
        auto layerSetEvent = writeVpsLayerSetEvent(*vps, layerSet, stamp);
        send(layerSetEvent);
    }
}

void ObserverSession::processSps(const Rbsp& rbsp, const NalUnitFacts& nal, const EventStamp& stamp, bool silent)
{
    ParseResult<Sps> result = parseSps(rbsp.bytes);
    if (!result.value) {
        if (!silent) {
            reportRefused(nal, rbsp, result.error, result.errorAt, stamp);
        }
        return;
    }
    auto sps = std::make_shared<const Sps>(std::move(*result.value));
    parameterSets_.sps[sps->sps_seq_parameter_set_id] = sps;
    if (silent) {
        return;
    }
    auto event = writeSpsEvent(*sps, nal.contentHash, stamp);
    send(event);
    for (const SyntaxWarning& warning : sps->warnings) {
        reportTolerated(nal, rbsp, warning, stamp);
    }
}

void ObserverSession::processPps(const Rbsp& rbsp, const NalUnitFacts& nal, const EventStamp& stamp, bool silent)
{
    ParseResult<Pps> result = parsePps(rbsp.bytes);
    if (!result.value) {
        if (!silent) {
            reportRefused(nal, rbsp, result.error, result.errorAt, stamp);
        }
        return;
    }
    auto pps = std::make_shared<const Pps>(std::move(*result.value));
    parameterSets_.pps[pps->pps_pic_parameter_set_id] = pps;
    if (!silent) {
        const Sps* sps = parameterSets_.sps[pps->pps_seq_parameter_set_id].get();
        auto event = writePpsEvent(*pps, sps, nal.contentHash, stamp);
        send(event);
    }
}

void ObserverSession::processSei(std::span<const std::uint8_t> rbsp, std::uint32_t nalUnitType, const EventStamp& stamp)
{
    const SeiSplit split = splitSeiMessages(rbsp);
    std::uint32_t index = 0;
    for (const SeiMessage& message : split.messages) {
        auto event = writeSeiMessageEvent(message, index++, nalUnitType, stamp);
        send(event);
    }
}

void ObserverSession::processSlice(std::span<const std::uint8_t> payload, const NalUnitFacts& nal,
                                   const EventStamp& packetStamp)
{
    const NalUnitHeader& header = nal.header;
    const Rbsp rbsp = unescapeRbsp(payload);
    SliceHeaderContext context;
    context.parameterSets = &parameterSets_;
    context.independentSlice = (current_ && current_->independentSlice) ? &*current_->independentSlice : nullptr;
    context.layout = layout_;
    context.layoutSps = layoutSps_.get();
    context.layoutPps = layoutPps_.get();
    const SliceHeaderParse parse = parseSliceSegmentHeader(rbsp.bytes, header, context);
    const SliceSegmentHeader& h = parse.header;

    SliceFacts facts;
    facts.nalIdentity = nal.nalIdentity;
    facts.sliceIdentity = ++sliceCounter_;
    facts.parsed = parse.parsed;
    facts.errorCode = kErrorInvalidData;
    if (parse.parsed) {
        layout_ = parse.layout;
        layoutSps_ = parse.sps;
        layoutPps_ = parse.pps;
        facts.sliceDataNalOffset = kNalUnitHeaderBytes + rbsp.toNalPosition(h.sliceDataByteOffset);
        if (h.first_slice_segment_in_pic_flag) {
            beginPicture(parse, packetStamp.dts);
        }
    }
    // Without its parameter sets no decoder makes anything of the picture; with them, FFmpeg may
    // still decode a header this parser refuses.
    std::uint64_t unreadPicture = 0;
    if (!parse.parsed && h.first_slice_segment_in_pic_flag && !parse.missingParameterSet) {
        unreadPicture = beginUnreadPicture(parse, packetStamp.dts);
    }
    EventStamp stamp = packetStamp;
    if (parse.sps) {
        stamp.width = parse.sps->pic_width_in_luma_samples;
        stamp.height = parse.sps->pic_height_in_luma_samples;
    }
    PictureIdentityFacts identity{facts.sliceIdentity, 0};
    if (current_) {
        PictureRecord& record = pictures_[current_->recordIndex];
        identity.pictureIdentity = record.pictureIdentity;
        facts.pictureIdentity = record.pictureIdentity;
        facts.poc = record.poc;
        if (parse.parsed) {
            record.pictureType = std::max(record.pictureType, pictureTypeOfSlice(h.slice_type));
            if (!h.dependent_slice_segment_flag) {
                current_->independentSlice = h;
            }
        }
        stamp.pictureType = record.pictureType;
    } else if (unreadPicture != 0) {
        identity.pictureIdentity = unreadPicture;
        facts.pictureIdentity = unreadPicture;
    }
    auto event = writeSliceEvent(h, facts, stamp);
    send(event);
    if (!parse.parsed) {
        reportRefused(nal, rbsp, parse.error, parse.errorAt, stamp);
        // The picture goes on without this segment's CTUs.
        referenceStatus_.markDamaged(identity.pictureIdentity);
    }
    if (current_ && parse.parsed) {
        const SliceReferenceLists lists = decoding_.buildRefPicLists(h, *parse.pps);
        emitReferenceEvents(parse, lists, identity, stamp);
        if (sink_.wantsBlockEvents()) {
            const slice_data::SliceDataResult blocks = emitBlockEvents(parse, lists, rbsp.bytes, identity, stamp);
            if (!blocks.parsed) {
                reportSliceDataRefused(nal, blocks.error, stamp);
            }
        }
    }
}

slice_data::SliceDataResult ObserverSession::emitBlockEvents(const SliceHeaderParse& parse,
                                                             const SliceReferenceLists& lists,
                                                             std::span<const std::uint8_t> rbsp,
                                                             const PictureIdentityFacts& identity,
                                                             const EventStamp& stamp)
{
    const SliceSegmentHeader& h = parse.header;
    if (!parse.sps || !parse.pps || !parse.layout || h.sliceDataByteOffset > rbsp.size()) {
        slice_data::SliceDataResult nothingToParse;
        nothingToParse.parsed = true;
        return nothingToParse;
    }
    if (h.first_slice_segment_in_pic_flag) {
        blockState_.beginPicture(*parse.sps, *parse.layout);
        referenceMotion_.keep(identity.pictureIdentity, blockState_.collocatedMotion());
        referenceMotion_.retainDpbPictures(decoding_.dpb());
    }
    SliceBlockFacts facts;
    facts.sps = parse.sps.get();
    facts.pps = parse.pps.get();
    facts.layout = parse.layout.get();
    facts.header = &h;
    facts.sliceIdentity = identity.sliceIdentity;
    facts.pictureIdentity = identity.pictureIdentity;
    facts.stamp = stamp;
    facts.PicOrderCntVal = current_->start.PicOrderCntVal;
    facts.RefPicList = referenceMotion_.refPicLists(lists, decoding_.dpb());
    facts.referenceStatus = referenceStatus_.statusesOf(lists, decoding_.dpb());
    const slice_data::SliceDataResult result =
        writeSliceBlockEvents(facts, rbsp.subspan(static_cast<std::size_t>(h.sliceDataByteOffset)), blockState_,
                              [this](VexiloObserverEventHeader& event) { sink_.deliverBlock(event); });
    if (!result.parsed) {
        referenceStatus_.markDamaged(identity.pictureIdentity);
    }
    return result;
}

// Its CTUs up to the fault are in the events; what is wrong after the last of them (a flag that
// ends the segment too early or too late, bytes behind its trailing bits) shows in no CTU.
void ObserverSession::reportSliceDataRefused(const NalUnitFacts& nal, const std::string& error,
                                             const EventStamp& stamp)
{
    const std::string message = "Slice segment data refused: " + error;
    DiagnosticFacts facts;
    facts.nalIdentity = nal.nalIdentity;
    facts.nalUnitType = nal.header.nal_unit_type;
    facts.outcome = VEXILO_OBSERVER_DIAGNOSTIC_REJECTED;
    facts.element = "slice_segment_data";
    facts.message = message;
    auto event = writeSyntaxDiagnosticEvent(facts, stamp);
    send(event);
}

void ObserverSession::beginPicture(const SliceHeaderParse& parse, std::int64_t packetDts)
{
    const SliceSegmentHeader& h = parse.header;
    PictureStart start = decoding_.beginPicture(h, *parse.sps);
    referenceStatus_.retainDpbPictures(decoding_.dpb());
    collectModelOutput();
    if (!start.decoded) {
        current_.reset();
        return;
    }
    PictureRecord record;
    record.pictureIdentity = start.pictureIdentity;
    record.poc = start.PicOrderCntVal;
    record.nalUnitType = h.nal.nal_unit_type;
    record.temporalId = h.nal.TemporalId();
    record.width = parse.sps->pic_width_in_luma_samples;
    record.height = parse.sps->pic_height_in_luma_samples;
    record.dts = packetDts;
    pictures_.push_back(record);
    current_ = CurrentPicture{std::move(start), pictures_.size() - 1, std::nullopt};
    tokenPictures_[currentToken_].push_back(pictures_.size() - 1);
}

std::uint64_t ObserverSession::beginUnreadPicture(const SliceHeaderParse& parse, std::int64_t packetDts)
{
    current_.reset(); // nothing of the picture can be parsed without its first slice segment
    PictureRecord record;
    record.pictureIdentity = decoding_.reserveUnreadPicture(parse.header.nal.nal_unit_type);
    record.nalUnitType = parse.header.nal.nal_unit_type;
    record.temporalId = parse.header.nal.TemporalId();
    if (parse.sps) {
        record.width = parse.sps->pic_width_in_luma_samples;
        record.height = parse.sps->pic_height_in_luma_samples;
    }
    record.dts = packetDts;
    pictures_.push_back(record);
    tokenPictures_[currentToken_].push_back(pictures_.size() - 1);
    return record.pictureIdentity;
}

void ObserverSession::emitReferenceEvents(const SliceHeaderParse& parse, const SliceReferenceLists& lists,
                                          const PictureIdentityFacts& identity, const EventStamp& stamp)
{
    const SliceSegmentHeader& h = parse.header;
    const PictureStart& start = current_->start;
    std::uint32_t index = 0;
    for (const ShortTermRpsEntry& entry : start.shortTerm) {
        auto event = writeShortTermRpsEvent(entry, index++, h, identity, stamp);
        send(event);
    }
    index = 0;
    for (const LongTermRpsEntry& entry : start.longTerm) {
        auto event = writeLongTermRpsEvent(entry, index++, identity, stamp);
        send(event);
    }
    const auto& dpb = decoding_.dpb();
    for (std::uint32_t listX = 0; listX < 2; ++listX) {
        for (std::uint32_t i = 0; i < lists.lists[listX].size(); ++i) {
            const ReferenceTarget& target = lists.lists[listX][i];
            const std::uint64_t targetPictureId = target.slot ? dpb[*target.slot].pictureIdentity : 0;
            auto event = writeReferenceListEvent(target, targetPictureId, referenceStatus_.statusOf(target, dpb), listX,
                                                 i, identity, stamp);
            send(event);
        }
    }
    std::uint32_t dpbEntries = 0;
    for (std::uint32_t slot = 0; slot < kDpbSlots; ++slot) {
        if (dpb[slot].occupied) {
            auto event = writeDpbEntryEvent(dpb[slot], slot, referenceStatus_.statusOf(dpb[slot]), identity, stamp);
            send(event);
            ++dpbEntries;
        }
    }
    ReferenceStateCounts counts;
    counts.constructed = !start.missingReference && lists.valid;
    counts.errorCode = kErrorInvalidData;
    counts.shortTerm = static_cast<std::uint32_t>(start.shortTerm.size());
    counts.longTerm = static_cast<std::uint32_t>(start.longTerm.size());
    counts.listL0 = static_cast<std::uint32_t>(lists.lists[0].size());
    counts.listL1 = static_cast<std::uint32_t>(lists.lists[1].size());
    counts.dpbEntries = dpbEntries;
    auto event = writeReferenceStateEvent(counts, identity, stamp);
    send(event);
}

void ObserverSession::collectModelOutput()
{
    for (const OutputPicture& output : decoding_.takeOutput()) {
        if (output.pictureIdentity != 0) {
            modelOutput_.push_back(output);
        }
    }
}

std::optional<std::size_t> ObserverSession::pictureForFrame(std::int64_t token)
{
    if (const auto found = tokenPictures_.find(token); found != tokenPictures_.end()) {
        for (const std::size_t index : found->second) {
            if (!pictures_[index].reportedOutput) {
                return index;
            }
        }
    }
    // Without a usable token, the output order of the DPB model names the picture.
    while (nextModelOutput_ < modelOutput_.size()) {
        const std::uint64_t identity = modelOutput_[nextModelOutput_++].pictureIdentity;
        const std::size_t index = static_cast<std::size_t>(identity - 1U);
        if (index < pictures_.size() && !pictures_[index].reportedOutput) {
            return index;
        }
    }
    return std::nullopt;
}

void ObserverSession::forgetReportedToken(std::int64_t token)
{
    // A packet whose pictures have all been output can no longer name one.
    const auto found = tokenPictures_.find(token);
    if (found != tokenPictures_.end() &&
        std::all_of(found->second.begin(), found->second.end(),
                    [this](std::size_t index) { return pictures_[index].reportedOutput; })) {
        tokenPictures_.erase(found);
    }
}

void ObserverSession::feedFrame(std::int64_t token, std::int64_t displayIndex, std::int64_t pts, std::uint32_t width,
                                std::uint32_t height)
{
    startOnce();
    const std::optional<std::size_t> index = pictureForFrame(token);
    if (!index) {
        return; // a frame the stream's syntax gives no picture for (nothing to report)
    }
    PictureRecord& record = pictures_[*index];
    record.reportedOutput = true;
    forgetReportedToken(token);
    EventStamp stamp;
    stamp.displayIndex = displayIndex;
    stamp.pts = pts;
    stamp.dts = record.dts;
    stamp.width = width != 0 ? width : record.width;
    stamp.height = height != 0 ? height : record.height;
    stamp.pictureType = record.pictureType;
    OutputFacts facts{record.pictureIdentity, record.poc, record.nalUnitType, record.temporalId};
    auto event = writePictureOutputEvent(facts, stamp);
    send(event);
}

void ObserverSession::feedFlush()
{
    startOnce();
    decoding_.flush();
    collectModelOutput();
    current_.reset();
    VexiloObserverEventHeader marker = writeMarkerEvent(VEXILO_OBSERVER_EVENT_END_MARKER);
    sink_.deliver(marker);
}

} // namespace vexilo::hevc
