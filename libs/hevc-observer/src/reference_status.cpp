#include "reference_status.h"

namespace vexilo::hevc {

void ReferenceStatusTracker::markDamaged(std::uint64_t pictureIdentity)
{
    if (pictureIdentity != 0) {
        damaged_.insert(pictureIdentity);
    }
}

void ReferenceStatusTracker::retainDpbPictures(const std::array<DpbPicture, kDpbSlots>& dpb)
{
    std::unordered_set<std::uint64_t> inDpb;
    for (const DpbPicture& picture : dpb) {
        if (picture.occupied && !picture.generated) {
            inDpb.insert(picture.pictureIdentity);
        }
    }
    std::erase_if(damaged_, [&](std::uint64_t identity) { return !inDpb.contains(identity); });
}

std::uint32_t ReferenceStatusTracker::statusOf(const DpbPicture& picture) const
{
    if (picture.current) {
        return VEXILO_OBSERVER_REFERENCE_CURRENT_PICTURE;
    }
    if (picture.generated) {
        return VEXILO_OBSERVER_REFERENCE_UNAVAILABLE;
    }
    return damaged_.contains(picture.pictureIdentity) ? VEXILO_OBSERVER_REFERENCE_CORRUPT
                                                      : VEXILO_OBSERVER_REFERENCE_AVAILABLE;
}

std::uint32_t ReferenceStatusTracker::statusOf(const ReferenceTarget& target,
                                               const std::array<DpbPicture, kDpbSlots>& dpb) const
{
    if (target.currentPicture) {
        return VEXILO_OBSERVER_REFERENCE_CURRENT_PICTURE;
    }
    if (!target.slot || *target.slot >= dpb.size() || target.generated) {
        return VEXILO_OBSERVER_REFERENCE_UNAVAILABLE;
    }
    return statusOf(dpb[*target.slot]);
}

RefPicListStatuses ReferenceStatusTracker::statusesOf(const SliceReferenceLists& lists,
                                                      const std::array<DpbPicture, kDpbSlots>& dpb) const
{
    RefPicListStatuses statuses;
    for (std::size_t X = 0; X < statuses.size(); ++X) {
        for (const ReferenceTarget& target : lists.lists[X]) {
            statuses[X].push_back(statusOf(target, dpb));
        }
    }
    return statuses;
}

} // namespace vexilo::hevc
