#include "derivations/reference_motion.h"

#include <unordered_set>

namespace vexilo::hevc::derivations {

void ReferenceMotionStore::keep(std::uint64_t pictureIdentity, std::shared_ptr<const CollocatedMotionField> motion)
{
    if (pictureIdentity != 0 && motion) {
        motion_[pictureIdentity] = std::move(motion);
    }
}

void ReferenceMotionStore::retainDpbPictures(const std::array<DpbPicture, kDpbSlots>& dpb)
{
    std::unordered_set<std::uint64_t> inDpb;
    for (const DpbPicture& picture : dpb) {
        if (picture.occupied && !picture.generated) {
            inDpb.insert(picture.pictureIdentity);
        }
    }
    std::erase_if(motion_, [&](const auto& entry) { return !inDpb.contains(entry.first); });
}

std::shared_ptr<const CollocatedMotionField> ReferenceMotionStore::find(std::uint64_t pictureIdentity) const
{
    const auto found = motion_.find(pictureIdentity);
    return found == motion_.end() ? nullptr : found->second;
}

RefPicLists ReferenceMotionStore::refPicLists(const SliceReferenceLists& lists,
                                              const std::array<DpbPicture, kDpbSlots>& dpb) const
{
    RefPicLists result;
    for (unsigned X = 0; X < 2; ++X) {
        for (const ReferenceTarget& target : lists.lists[X]) {
            ReferencePicture picture;
            picture.poc = target.poc;
            picture.longTerm = target.longTerm;
            if (target.slot && *target.slot < dpb.size() && !target.generated) {
                picture.motion = find(dpb[*target.slot].pictureIdentity);
            }
            result[X].push_back(std::move(picture));
        }
    }
    return result;
}

} // namespace vexilo::hevc::derivations
