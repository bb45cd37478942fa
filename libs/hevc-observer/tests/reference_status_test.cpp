// The status each kind of reference picture reports, and how long a damaged picture is
// remembered: as long as the DPB holds it, and not a picture longer.
#include "reference_status.h"

#include <gtest/gtest.h>

namespace vexilo::hevc::test {
namespace {

using Dpb = std::array<DpbPicture, kDpbSlots>;

DpbPicture decodedPicture(std::uint64_t identity, std::int32_t poc)
{
    DpbPicture picture;
    picture.occupied = true;
    picture.pictureIdentity = identity;
    picture.PicOrderCntVal = poc;
    picture.marking = ReferenceMarking::ShortTerm;
    return picture;
}

ReferenceTarget targetOf(std::uint32_t slot, const Dpb& dpb)
{
    ReferenceTarget target;
    target.slot = slot;
    target.poc = dpb[slot].PicOrderCntVal;
    target.generated = dpb[slot].generated;
    target.currentPicture = dpb[slot].current;
    return target;
}

TEST(ReferenceStatusTest, EachKindOfReferenceHasItsStatus)
{
    Dpb dpb{};
    dpb[0] = decodedPicture(1, 0);
    dpb[1] = decodedPicture(2, 4);
    dpb[2] = decodedPicture(0, 8);
    dpb[2].generated = true;
    dpb[3] = decodedPicture(3, 2);
    dpb[3].current = true;
    ReferenceStatusTracker tracker;
    tracker.markDamaged(2);

    SliceReferenceLists lists;
    ReferenceTarget absent;
    absent.poc = 16;
    lists.lists[0] = {targetOf(0, dpb), targetOf(1, dpb), targetOf(2, dpb), absent};
    lists.lists[1] = {targetOf(3, dpb), targetOf(0, dpb)};
    const RefPicListStatuses statuses = tracker.statusesOf(lists, dpb);
    EXPECT_EQ(statuses[0], (std::vector<std::uint32_t>{VEXILO_OBSERVER_REFERENCE_AVAILABLE,
                                                        VEXILO_OBSERVER_REFERENCE_CORRUPT,
                                                        VEXILO_OBSERVER_REFERENCE_UNAVAILABLE,
                                                        VEXILO_OBSERVER_REFERENCE_UNAVAILABLE}));
    EXPECT_EQ(statuses[1], (std::vector<std::uint32_t>{VEXILO_OBSERVER_REFERENCE_CURRENT_PICTURE,
                                                        VEXILO_OBSERVER_REFERENCE_AVAILABLE}));
    EXPECT_EQ(tracker.statusOf(dpb[1]), VEXILO_OBSERVER_REFERENCE_CORRUPT);
    EXPECT_EQ(tracker.statusOf(dpb[2]), VEXILO_OBSERVER_REFERENCE_UNAVAILABLE);
    EXPECT_EQ(tracker.statusOf(dpb[3]), VEXILO_OBSERVER_REFERENCE_CURRENT_PICTURE);
}

TEST(ReferenceStatusTest, ADamagedPictureIsForgottenOnceItLeavesTheDpb)
{
    Dpb dpb{};
    dpb[0] = decodedPicture(5, 0);
    ReferenceStatusTracker tracker;
    tracker.markDamaged(5);
    tracker.retainDpbPictures(dpb);
    EXPECT_EQ(tracker.statusOf(dpb[0]), VEXILO_OBSERVER_REFERENCE_CORRUPT);

    // Once the slot empties nothing can refer to the picture again, and the tracker keeps no
    // trace of it: the same identity brought back reads as undamaged.
    dpb[0] = DpbPicture{};
    tracker.retainDpbPictures(dpb);
    dpb[0] = decodedPicture(5, 0);
    EXPECT_EQ(tracker.statusOf(dpb[0]), VEXILO_OBSERVER_REFERENCE_AVAILABLE);
}

} // namespace
} // namespace vexilo::hevc::test
