#include "decoding_process.h"

#include <algorithm>
#include <functional>
#include <limits>

namespace vexilo::hevc {

namespace {
enum CurrSubsetIndex : std::size_t { kStCurrBefore = 0, kStCurrAfter = 1, kLtCurr = 2 };

std::int32_t clampToPoc(std::int64_t value)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}
} // namespace

PictureStart DecodingProcess::beginPicture(const SliceSegmentHeader& header, const Sps& sps)
{
    finishCurrentPicture();
    PictureStart start;
    const std::uint32_t nalType = header.nal.nal_unit_type;
    start.NoRaslOutputFlag = noteIrapAssociation(nalType);
    // Leading pictures precede every trailing picture of their IRAP picture, so a RASL picture
    // after a trailing one belongs to an IRAP picture that was lost (a damaged stream). That one
    // started no new sequence, and the decoder decodes the RASL pictures from what it has.
    if (isRasl(nalType) && associatedIrapNoRaslOutputFlag_ && !trailingPictureSinceIrap_) {
        if (skippedPicturesTakeIdentities_) {
            ++decodedPictures_;
        }
        return start; // not decodable: its references precede the IRAP picture in decoding order
    }
    start.decoded = true;
    start.PicOrderCntVal = decodePicOrderCnt(header, sps, start.NoRaslOutputFlag);
    const bool firstPictureInStream = firstPicture_;
    firstPicture_ = false;
    firstPictureAfterEndOfSequence_ = false;
    if (isIrap(nalType) && start.NoRaslOutputFlag) {
        for (DpbPicture& picture : dpb_) {
            picture.marking = ReferenceMarking::Unused;
        }
    }
    decodeReferencePictureSet(header, sps, start);
    if (!(isIrap(nalType) && start.NoRaslOutputFlag && firstPictureInStream)) {
        outputAndRemoval(header, sps, isIrap(nalType) && start.NoRaslOutputFlag);
    }
    start.pictureIdentity = ++decodedPictures_;
    insertCurrentPicture(header, sps, start.pictureIdentity, start.PicOrderCntVal);
    return start;
}

bool DecodingProcess::noteIrapAssociation(std::uint32_t nalUnitType)
{
    if (!isIrap(nalUnitType)) {
        if (!isRasl(nalUnitType) && !isRadl(nalUnitType)) {
            trailingPictureSinceIrap_ = true;
        }
        return false;
    }
    const bool NoRaslOutputFlag =
        isIdr(nalUnitType) || isBla(nalUnitType) || firstPicture_ || firstPictureAfterEndOfSequence_;
    associatedIrapNoRaslOutputFlag_ = NoRaslOutputFlag;
    trailingPictureSinceIrap_ = false;
    if (!firstPicture_) {
        skippedPicturesTakeIdentities_ = false;
    }
    return NoRaslOutputFlag;
}

std::uint64_t DecodingProcess::reserveUnreadPicture(std::uint32_t nalUnitType)
{
    noteIrapAssociation(nalUnitType);
    return ++decodedPictures_;
}

void DecodingProcess::finishCurrentPicture()
{
    if (!currentSlot_) {
        return;
    }
    DpbPicture& picture = dpb_[*currentSlot_];
    picture.current = false;
    // 8.1.3: a decoded picture is a short-term reference until an RPS says otherwise.
    picture.marking = ReferenceMarking::ShortTerm;
    currentSlot_.reset();
    for (auto& subset : currSubsets_) {
        subset.clear();
    }
}

std::int32_t DecodingProcess::decodePicOrderCnt(const SliceSegmentHeader& header, const Sps& sps, bool NoRaslOutputFlag)
{
    const std::uint32_t nalType = header.nal.nal_unit_type;
    const auto maxLsb = static_cast<std::int64_t>(sps.MaxPicOrderCntLsb);
    const auto lsb = static_cast<std::int64_t>(isIdr(nalType) ? 0U : header.slice_pic_order_cnt_lsb);
    std::int64_t msb = 0;
    if (resumedPicOrderCnt_ && isIrap(nalType) && (*resumedPicOrderCnt_ & (maxLsb - 1)) == lsb) {
        msb = static_cast<std::int64_t>(*resumedPicOrderCnt_) - lsb;
    } else if (!(isIrap(nalType) && NoRaslOutputFlag)) {
        const std::int64_t prevLsb = static_cast<std::int64_t>(prevTid0PicOrderCnt_) & (maxLsb - 1);
        const std::int64_t prevMsb = static_cast<std::int64_t>(prevTid0PicOrderCnt_) - prevLsb;
        if (lsb < prevLsb && (prevLsb - lsb) >= maxLsb / 2) {
            msb = prevMsb + maxLsb;
        } else if (lsb > prevLsb && (lsb - prevLsb) > maxLsb / 2) {
            msb = prevMsb - maxLsb;
        } else {
            msb = prevMsb;
        }
    }
    resumedPicOrderCnt_.reset();
    const std::int32_t poc = clampToPoc(msb + lsb);
    if (header.nal.TemporalId() == 0 && !isRasl(nalType) && !isRadl(nalType) && !isSubLayerNonReference(nalType)) {
        prevTid0PicOrderCnt_ = poc;
    }
    return poc;
}

void DecodingProcess::decodeReferencePictureSet(const SliceSegmentHeader& header, const Sps& sps, PictureStart& start)
{
    SlotFlags kept{};
    // Long-term entries first: a picture they name stops being a short-term candidate.
    const std::vector<LongTermCandidate> longTerm = matchLongTermEntries(header, sps, start, kept);
    const std::vector<ShortTermCandidate> shortTerm = matchShortTermEntries(header.stRps, start, kept);
    markReferencePictures(kept, longTerm);
    fillCurrSubsets(shortTerm, longTerm, start);
}

std::optional<std::uint32_t>
DecodingProcess::findReference(const std::function<bool(std::uint32_t slot, const DpbPicture&)>& matches) const
{
    for (std::uint32_t slot = 0; slot < kDpbSlots; ++slot) {
        if (dpb_[slot].occupied && matches(slot, dpb_[slot])) {
            return slot;
        }
    }
    return std::nullopt;
}

std::vector<DecodingProcess::LongTermCandidate> DecodingProcess::matchLongTermEntries(const SliceSegmentHeader& header,
                                                                                      const Sps& sps,
                                                                                      PictureStart& start,
                                                                                      SlotFlags& kept)
{
    const std::int64_t poc = start.PicOrderCntVal;
    const auto maxLsb = static_cast<std::int64_t>(sps.MaxPicOrderCntLsb);
    std::vector<LongTermCandidate> candidates;
    for (const LongTermRefPic& lt : header.longTerm) {
        std::int64_t pocLt = lt.PocLsbLt;
        if (lt.delta_poc_msb_present_flag) {
            pocLt += poc - static_cast<std::int64_t>(lt.DeltaPocMsbCycleLt) * maxLsb - (poc & (maxLsb - 1));
        }
        LongTermCandidate candidate{pocLt, lt.UsedByCurrPicLt, std::nullopt};
        candidate.slot = findReference([&](std::uint32_t, const DpbPicture& picture) {
            const std::int64_t value =
                lt.delta_poc_msb_present_flag ? picture.PicOrderCntVal : (picture.PicOrderCntVal & (maxLsb - 1));
            return picture.marking != ReferenceMarking::Unused && value == pocLt;
        });
        if (candidate.slot) {
            kept[*candidate.slot] = true;
        }
        LongTermRpsEntry entry;
        entry.pocLsb = lt.PocLsbLt;
        entry.poc = clampToPoc(candidate.slot ? dpb_[*candidate.slot].PicOrderCntVal : pocLt);
        entry.used = lt.UsedByCurrPicLt;
        entry.delta_poc_msb_present_flag = lt.delta_poc_msb_present_flag;
        entry.delta_poc_msb_cycle_lt = lt.delta_poc_msb_cycle_lt;
        entry.fromSps = lt.fromSps;
        start.longTerm.push_back(entry);
        candidates.push_back(candidate);
    }
    return candidates;
}

std::vector<DecodingProcess::ShortTermCandidate>
DecodingProcess::matchShortTermEntries(const ShortTermRefPicSet& st, PictureStart& start, SlotFlags& kept)
{
    std::vector<ShortTermCandidate> candidates;
    const auto addShortTerm = [&](std::int32_t deltaPoc, bool used, bool negative) {
        const std::int32_t entryPoc = clampToPoc(static_cast<std::int64_t>(start.PicOrderCntVal) + deltaPoc);
        ShortTermCandidate candidate{entryPoc, used, negative, std::nullopt};
        candidate.slot = findReference([&](std::uint32_t slot, const DpbPicture& picture) {
            return !kept[slot] && picture.marking == ReferenceMarking::ShortTerm && picture.PicOrderCntVal == entryPoc;
        });
        if (candidate.slot) {
            kept[*candidate.slot] = true;
        }
        candidates.push_back(candidate);
        start.shortTerm.push_back({deltaPoc, entryPoc, used, negative});
    };
    for (std::uint32_t i = 0; i < st.NumNegativePics; ++i) {
        addShortTerm(st.DeltaPocS0[i], st.UsedByCurrPicS0[i], true);
    }
    for (std::uint32_t i = 0; i < st.NumPositivePics; ++i) {
        addShortTerm(st.DeltaPocS1[i], st.UsedByCurrPicS1[i], false);
    }
    return candidates;
}

void DecodingProcess::markReferencePictures(const SlotFlags& kept, const std::vector<LongTermCandidate>& longTerm)
{
    for (std::uint32_t slot = 0; slot < kDpbSlots; ++slot) {
        if (!kept[slot]) {
            dpb_[slot].marking = ReferenceMarking::Unused;
        }
    }
    for (const LongTermCandidate& candidate : longTerm) {
        if (candidate.slot) {
            dpb_[*candidate.slot].marking = ReferenceMarking::LongTerm;
        }
    }
    emptyUnneeded();
}

// 8.3.3: pictures the current picture needs but the DPB lacks are generated.
void DecodingProcess::fillCurrSubsets(const std::vector<ShortTermCandidate>& shortTerm,
                                      const std::vector<LongTermCandidate>& longTerm, PictureStart& start)
{
    for (const ShortTermCandidate& candidate : shortTerm) {
        if (!candidate.used) {
            continue;
        }
        ReferenceTarget target{candidate.slot, candidate.poc, false, false, false};
        if (!candidate.slot) {
            target = generateMissingPicture(candidate.poc, false, start.missingReference);
        }
        currSubsets_[candidate.before ? kStCurrBefore : kStCurrAfter].push_back(target);
    }
    for (const LongTermCandidate& candidate : longTerm) {
        if (!candidate.used) {
            continue;
        }
        ReferenceTarget target{candidate.slot, clampToPoc(candidate.poc), true, false, false};
        if (candidate.slot) {
            target.poc = dpb_[*candidate.slot].PicOrderCntVal;
        } else {
            target = generateMissingPicture(clampToPoc(candidate.poc), true, start.missingReference);
        }
        currSubsets_[kLtCurr].push_back(target);
    }
}

ReferenceTarget DecodingProcess::generateMissingPicture(std::int32_t poc, bool longTerm, bool& missing)
{
    missing = true;
    ReferenceTarget target{std::nullopt, poc, longTerm, true, false};
    const std::optional<std::uint32_t> slot = freeSlot();
    if (!slot) {
        return target; // the DPB is full of a corrupt stream's pictures; the entry stays empty
    }
    DpbPicture& picture = dpb_[*slot];
    picture = DpbPicture{};
    picture.occupied = true;
    picture.PicOrderCntVal = poc;
    picture.marking = longTerm ? ReferenceMarking::LongTerm : ReferenceMarking::ShortTerm;
    picture.generated = true;
    target.slot = slot;
    return target;
}

void DecodingProcess::outputAndRemoval(const SliceSegmentHeader& header, const Sps& sps, bool irapWithNoRaslOutput)
{
    if (irapWithNoRaslOutput) {
        // C.5.2.2: a CRA picture always discards; otherwise no_output_of_prior_pics_flag decides.
        const bool NoOutputOfPriorPicsFlag = header.nal.nal_unit_type == CRA_NUT || header.no_output_of_prior_pics_flag;
        if (!NoOutputOfPriorPicsFlag) {
            while (std::any_of(dpb_.begin(), dpb_.end(),
                               [](const DpbPicture& p) { return p.occupied && p.neededForOutput; })) {
                bump();
            }
        }
        dpb_ = {};
        return;
    }
    emptyUnneeded();
    while (bumpingNeeded(sps, true)) {
        const bool anyWaiting =
            std::any_of(dpb_.begin(), dpb_.end(), [](const DpbPicture& p) { return p.occupied && p.neededForOutput; });
        if (!anyWaiting) {
            break; // a full DPB of reference pictures cannot be relieved by output
        }
        bump();
    }
}

void DecodingProcess::insertCurrentPicture(const SliceSegmentHeader& header, const Sps& sps,
                                           std::uint64_t pictureIdentity, std::int32_t poc)
{
    std::optional<std::uint32_t> slot = freeSlot();
    if (!slot) {
        // Only a corrupt stream gets here; the oldest non-current picture makes room.
        slot = 0;
    }
    const bool PicOutputFlag = header.pic_output_flag;
    for (DpbPicture& picture : dpb_) {
        if (picture.occupied && picture.neededForOutput) {
            ++picture.PicLatencyCount;
        }
    }
    DpbPicture& picture = dpb_[*slot];
    picture = DpbPicture{};
    picture.occupied = true;
    picture.pictureIdentity = pictureIdentity;
    picture.PicOrderCntVal = poc;
    picture.neededForOutput = PicOutputFlag;
    picture.current = true;
    currentSlot_ = slot;
    currentPictureTarget_ = ReferenceTarget{slot, poc, false, false, true};
    while (bumpingNeeded(sps, false)) {
        bump();
    }
}

bool DecodingProcess::bumpingNeeded(const Sps& sps, bool includeFullness) const
{
    const SubLayerOrdering& ordering = sps.highestSubLayer();
    std::uint32_t waiting = 0;
    std::uint32_t occupied = 0;
    bool latencyReached = false;
    const std::uint64_t SpsMaxLatencyPictures =
        static_cast<std::uint64_t>(ordering.max_num_reorder_pics) + ordering.max_latency_increase_plus1 - 1U;
    for (const DpbPicture& picture : dpb_) {
        if (!picture.occupied) {
            continue;
        }
        ++occupied;
        if (picture.neededForOutput) {
            ++waiting;
            latencyReached = latencyReached || (ordering.max_latency_increase_plus1 != 0 &&
                                                picture.PicLatencyCount >= SpsMaxLatencyPictures);
        }
    }
    if (waiting == 0) {
        return false;
    }
    return waiting > ordering.max_num_reorder_pics || latencyReached ||
           (includeFullness && occupied >= ordering.max_dec_pic_buffering_minus1 + 1U);
}

void DecodingProcess::bump()
{
    std::optional<std::uint32_t> chosen;
    for (std::uint32_t slot = 0; slot < kDpbSlots; ++slot) {
        const DpbPicture& picture = dpb_[slot];
        if (picture.occupied && picture.neededForOutput &&
            (!chosen || picture.PicOrderCntVal < dpb_[*chosen].PicOrderCntVal)) {
            chosen = slot;
        }
    }
    if (!chosen) {
        return;
    }
    DpbPicture& picture = dpb_[*chosen];
    output_.push_back({picture.pictureIdentity, picture.PicOrderCntVal});
    picture.neededForOutput = false;
    if (picture.marking == ReferenceMarking::Unused && !picture.current) {
        picture = DpbPicture{};
    }
}

std::optional<std::uint32_t> DecodingProcess::freeSlot()
{
    for (std::uint32_t slot = 0; slot < kDpbSlots; ++slot) {
        if (!dpb_[slot].occupied) {
            return slot;
        }
    }
    return std::nullopt;
}

void DecodingProcess::emptyUnneeded()
{
    for (DpbPicture& picture : dpb_) {
        if (picture.occupied && !picture.current && !picture.neededForOutput &&
            picture.marking == ReferenceMarking::Unused) {
            picture = DpbPicture{};
        }
    }
}

const ReferenceTarget* DecodingProcess::rpsTarget(RpsSubset subset, std::uint32_t index) const
{
    if (subset == RpsSubset::CurrentPicture) {
        return currentSlot_ ? &currentPictureTarget_ : nullptr;
    }
    const auto& list = currSubsets_[static_cast<std::size_t>(subset)];
    return index < list.size() ? &list[index] : nullptr;
}

SliceReferenceLists DecodingProcess::buildRefPicLists(const SliceSegmentHeader& header, const Pps& pps) const
{
    SliceReferenceLists result;
    for (unsigned listX = 0; listX < 2; ++listX) {
        const RefPicListInputs inputs = header.refPicListInputs(listX, pps);
        if (inputs.num_ref_idx_active == 0) {
            continue;
        }
        const std::vector<RefPicListSource> sources = composeRefPicList(listX, inputs);
        if (sources.empty()) {
            result.valid = false;
            continue;
        }
        for (const RefPicListSource& source : sources) {
            const ReferenceTarget* target = rpsTarget(source.subset, source.index);
            if (target == nullptr) {
                result.valid = false;
                result.lists[listX].push_back(ReferenceTarget{});
                continue;
            }
            result.lists[listX].push_back(*target);
        }
    }
    return result;
}

void DecodingProcess::resumeAt(std::uint64_t picturesBefore, std::int32_t picOrderCnt,
                               bool skippedPicturesTakeIdentities)
{
    decodedPictures_ = picturesBefore;
    resumedPicOrderCnt_ = picOrderCnt;
    skippedPicturesTakeIdentities_ = skippedPicturesTakeIdentities;
}

void DecodingProcess::flush()
{
    finishCurrentPicture();
    while (std::any_of(dpb_.begin(), dpb_.end(), [](const DpbPicture& p) { return p.occupied && p.neededForOutput; })) {
        bump();
    }
    dpb_ = {};
    firstPicture_ = true;
    associatedIrapNoRaslOutputFlag_ = false;
    trailingPictureSinceIrap_ = false;
}

std::vector<OutputPicture> DecodingProcess::takeOutput()
{
    std::vector<OutputPicture> taken;
    taken.swap(output_);
    return taken;
}

} // namespace vexilo::hevc
