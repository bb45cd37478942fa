// The motion of decoded pictures that TMVP may still read (8.5.3.2.8), kept per picture
// identity of the DPB for as long as the picture is in the DPB, and the slice's reference
// picture lists as the slice data parser takes them.
//
// Use per picture: after DecodingProcess::beginPicture and PictureBlockState::beginPicture,
// keep(start.pictureIdentity, state.collocatedMotion()) and retainDpbPictures(dpb()); per
// slice segment, SliceDataInput::RefPicList = refPicLists(buildRefPicLists(...), dpb()).
#pragma once

#include "decoding_process.h"
#include "derivations/motion_vectors.h"

#include <cstdint>
#include <memory>
#include <unordered_map>

namespace vexilo::hevc::derivations {

class ReferenceMotionStore {
public:
    // The field may still be filling in: the current picture's is kept from its first slice
    // segment on, so that later pictures find it without a separate hand-over.
    void keep(std::uint64_t pictureIdentity, std::shared_ptr<const CollocatedMotionField> motion);
    // Forgets every picture that has left the DPB.
    void retainDpbPictures(const std::array<DpbPicture, kDpbSlots>& dpb);
    [[nodiscard]] std::shared_ptr<const CollocatedMotionField> find(std::uint64_t pictureIdentity) const;
    [[nodiscard]] std::size_t size() const { return motion_.size(); }

    // RefPicList0/1 with POC, marking and motion of each entry; entries without a picture and
    // generated pictures have no motion.
    [[nodiscard]] RefPicLists refPicLists(const SliceReferenceLists& lists,
                                          const std::array<DpbPicture, kDpbSlots>& dpb) const;

private:
    std::unordered_map<std::uint64_t, std::shared_ptr<const CollocatedMotionField>> motion_;
};

} // namespace vexilo::hevc::derivations
