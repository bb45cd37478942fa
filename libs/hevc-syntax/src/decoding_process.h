// Decoding-process state above the slice data: picture order count (8.3.1), the reference
// picture set with generated missing pictures (8.3.2, 8.3.3), reference picture lists
// (8.3.4), and the DPB with its marking and the output and bumping process of C.5.2.
#pragma once

#include "slice_header.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace vexilo::hevc {

constexpr std::uint32_t kDpbSlots = 32;

enum class ReferenceMarking : std::uint32_t { Unused, ShortTerm, LongTerm };

struct DpbPicture {
    bool occupied = false;
    std::uint64_t pictureIdentity = 0; // 0 for a generated picture
    std::int32_t PicOrderCntVal = 0;
    ReferenceMarking marking = ReferenceMarking::Unused;
    bool neededForOutput = false;
    std::uint32_t PicLatencyCount = 0;
    bool generated = false; // made by 8.3.3 for a missing reference
    bool current = false;
};

// Where an entry of the reference picture set or of a list points.
struct ReferenceTarget {
    std::optional<std::uint32_t> slot; // empty: no picture (missing and not generated)
    std::int32_t poc = 0;
    bool longTerm = false;
    bool generated = false;
    bool currentPicture = false;
};

struct ShortTermRpsEntry {
    std::int32_t deltaPoc = 0;
    std::int32_t poc = 0;
    bool used = false;
    bool negative = false;
};

struct LongTermRpsEntry {
    std::uint32_t pocLsb = 0;
    std::int32_t poc = 0; // full POC when known (MSB signaled or the matching picture's)
    bool used = false;
    bool delta_poc_msb_present_flag = false;
    std::uint32_t delta_poc_msb_cycle_lt = 0;
    bool fromSps = false;
};

struct PictureStart {
    bool decoded = false; // false for RASL pictures that are skipped (NoRaslOutputFlag)
    bool NoRaslOutputFlag = false;
    std::int32_t PicOrderCntVal = 0;
    std::uint64_t pictureIdentity = 0; // decode order index + 1
    bool missingReference = false; // a picture of a Curr subset had to be generated or is absent
    std::vector<ShortTermRpsEntry> shortTerm;
    std::vector<LongTermRpsEntry> longTerm;
};

struct SliceReferenceLists {
    std::array<std::vector<ReferenceTarget>, 2> lists;
    bool valid = true;
};

struct OutputPicture {
    std::uint64_t pictureIdentity = 0;
    std::int32_t PicOrderCntVal = 0;
};

class DecodingProcess {
public:
    // The first slice segment of a picture: POC, RPS, marking, C.5.2.2 and C.5.2.3.
    PictureStart beginPicture(const SliceSegmentHeader& header, const Sps& sps);
    // RefPicList0/1 of one slice segment of the current picture.
    [[nodiscard]] SliceReferenceLists buildRefPicLists(const SliceSegmentHeader& header, const Pps& pps) const;

    [[nodiscard]] const std::array<DpbPicture, kDpbSlots>& dpb() const { return dpb_; }
    [[nodiscard]] const ReferenceTarget* rpsTarget(RpsSubset subset, std::uint32_t index) const;

    void endOfSequence() { firstPictureAfterEndOfSequence_ = true; }
    // The decode starts at a random-access picture in the middle of a stream, whose pictures
    // before it took `picturesBefore` identities and which had PicOrderCntVal `picOrderCnt` in a
    // decode from the start. Its POC and the identities after it come out as that decode gave
    // them; when `skippedPicturesTakeIdentities`, the RASL pictures it cannot decode take theirs
    // too, as they did there. Call before the first picture.
    void resumeAt(std::uint64_t picturesBefore, std::int32_t picOrderCnt, bool skippedPicturesTakeIdentities);
    // A picture whose first slice segment header could not be read: it takes its place in decode
    // order, as it does in the decoder that still outputs what it made of it, but nothing else.
    // An IRAP picture among them still heads the leading pictures after it.
    std::uint64_t reserveUnreadPicture(std::uint32_t nalUnitType);
    // End of the bitstream: every picture still waiting is output in POC order.
    void flush();
    // Pictures the output process of C.5.2 has output, in output order, since the last call.
    std::vector<OutputPicture> takeOutput();

private:
    using SlotFlags = std::array<bool, kDpbSlots>;
    struct LongTermCandidate {
        std::int64_t poc;
        bool used;
        std::optional<std::uint32_t> slot;
    };
    struct ShortTermCandidate {
        std::int32_t poc;
        bool used;
        bool before;
        std::optional<std::uint32_t> slot;
    };

    void finishCurrentPicture();
    // Which IRAP picture the leading pictures that follow belong to; NoRaslOutputFlag of an IRAP
    // picture.
    bool noteIrapAssociation(std::uint32_t nalUnitType);
    std::int32_t decodePicOrderCnt(const SliceSegmentHeader& header, const Sps& sps, bool NoRaslOutputFlag);
    // 8.3.2 in four steps: find the long-term and then the short-term entries in the DPB, mark
    // the DPB, and fill the Curr subsets (generating the pictures that are missing).
    void decodeReferencePictureSet(const SliceSegmentHeader& header, const Sps& sps, PictureStart& start);
    [[nodiscard]] std::optional<std::uint32_t>
    findReference(const std::function<bool(std::uint32_t slot, const DpbPicture&)>& matches) const;
    std::vector<LongTermCandidate> matchLongTermEntries(const SliceSegmentHeader& header, const Sps& sps,
                                                        PictureStart& start, SlotFlags& kept);
    std::vector<ShortTermCandidate> matchShortTermEntries(const ShortTermRefPicSet& st, PictureStart& start,
                                                          SlotFlags& kept);
    void markReferencePictures(const SlotFlags& kept, const std::vector<LongTermCandidate>& longTerm);
    void fillCurrSubsets(const std::vector<ShortTermCandidate>& shortTerm,
                         const std::vector<LongTermCandidate>& longTerm, PictureStart& start);
    ReferenceTarget generateMissingPicture(std::int32_t poc, bool longTerm, bool& missing);
    void outputAndRemoval(const SliceSegmentHeader& header, const Sps& sps, bool NoRaslOutputFlag);
    void insertCurrentPicture(const SliceSegmentHeader& header, const Sps& sps, std::uint64_t pictureIdentity,
                              std::int32_t poc);
    void bump();
    [[nodiscard]] bool bumpingNeeded(const Sps& sps, bool includeFullness) const;
    std::optional<std::uint32_t> freeSlot();
    void emptyUnneeded();

    std::array<DpbPicture, kDpbSlots> dpb_{};
    std::optional<std::uint32_t> currentSlot_;
    std::array<std::vector<ReferenceTarget>, 3> currSubsets_; // StCurrBefore, StCurrAfter, LtCurr
    ReferenceTarget currentPictureTarget_;
    std::vector<OutputPicture> output_;
    std::uint64_t decodedPictures_ = 0;
    bool firstPicture_ = true;
    bool firstPictureAfterEndOfSequence_ = false;
    bool associatedIrapNoRaslOutputFlag_ = false;
    bool trailingPictureSinceIrap_ = false;
    std::int32_t prevTid0PicOrderCnt_ = 0;
    std::optional<std::int32_t> resumedPicOrderCnt_;
    bool skippedPicturesTakeIdentities_ = false;
};

} // namespace vexilo::hevc
