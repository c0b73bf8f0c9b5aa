// The plug-in's own arithmetic and bookkeeping, tested without a host: the
// rectangle clip, the blend table, the frame weight and the module's storage.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "Veilshift/effect_plugin.h"
#include "Veilshift/frame_math.h"
#include "Veilshift/host_connection.h"
#include "Veilshift/memory.h"
#include "Veilshift/module_state.h"
#include "Veilshift/startup_settings.h"

namespace veilshift {
namespace {

SurfaceSizes Sizes(int32_t w, int32_t h) { return {w, h, w, h, w, h}; }

void ExpectRect(const TransitionRect& r, const TransitionRect& e) {
    EXPECT_EQ(r.dx, e.dx);
    EXPECT_EQ(r.dy, e.dy);
    EXPECT_EQ(r.ax, e.ax);
    EXPECT_EQ(r.ay, e.ay);
    EXPECT_EQ(r.bx, e.bx);
    EXPECT_EQ(r.by, e.by);
    EXPECT_EQ(r.width, e.width);
    EXPECT_EQ(r.height, e.height);
}

TEST(ClipTransitionRect, LeftShiftsMoveTheOtherCorners) {
    TransitionRect r{-10, 0, 0, 0, 0, 0, 100, 50};
    ASSERT_TRUE(ClipTransitionRect(r, Sizes(640, 480)));
    ExpectRect(r, {0, 0, 10, 0, 10, 0, 90, 50});

    // The shifts chain: A's shift is seen by B's test.
    TransitionRect chained{5, 5, -3, -4, -6, 2, 50, 50};
    ASSERT_TRUE(ClipTransitionRect(chained, Sizes(640, 480)));
    ExpectRect(chained, {11, 9, 3, 0, 0, 6, 44, 46});
}

TEST(ClipTransitionRect, RightEdgesOfEachSurface) {
    SurfaceSizes sizes{640, 480, 320, 480, 640, 200};
    TransitionRect r{0, 0, 300, 0, 0, 150, 100, 100};
    ASSERT_TRUE(ClipTransitionRect(r, sizes));
    EXPECT_EQ(r.width, 20);
    EXPECT_EQ(r.height, 50);
}

TEST(ClipTransitionRect, EmptyResultsFail) {
    for (TransitionRect r : {TransitionRect{700, 0, 0, 0, 0, 0, 10, 10}, TransitionRect{0, 0, 0, 0, 0, 0, 0, 10},
                             TransitionRect{0, 0, 0, 0, 0, 0, 10, 0}, TransitionRect{-20, 0, 0, 0, 0, 0, 20, 10},
                             TransitionRect{0, 0, 0, 0, 0, 480, 10, 10}})
        EXPECT_FALSE(ClipTransitionRect(r, Sizes(640, 480)));
    TransitionRect r{0, 0, 0, 0, 0, 0, 10, 10};
    EXPECT_FALSE(ClipTransitionRect(r, SurfaceSizes{640, 480, -5, 480, 640, 480}));
}

TEST(ClipTransitionRect, SumsBeyond32BitsClipToTheTrueIntersection) {
    TransitionRect wide{5, 0, 0, 0, 0, 0, INT32_MAX, 10};
    ASSERT_TRUE(ClipTransitionRect(wide, Sizes(64, 64)));
    ExpectRect(wide, {5, 0, 0, 0, 0, 0, 59, 10});

    TransitionRect farLeft{INT32_MIN, 0, INT32_MAX, 0, 0, 0, INT32_MAX, 10};
    EXPECT_FALSE(ClipTransitionRect(farLeft, Sizes(64, 64)));  // nothing of the width is left

    TransitionRect huge{INT32_MIN, INT32_MIN, 0, 0, 0, 0, INT32_MAX, INT32_MAX};
    EXPECT_FALSE(ClipTransitionRect(huge, Sizes(INT32_MAX, INT32_MAX)));  // ends at -1

    TransitionRect reaching{-1, -1, 0, 0, 0, 0, INT32_MAX, INT32_MAX};
    ASSERT_TRUE(ClipTransitionRect(reaching, Sizes(INT32_MAX, INT32_MAX)));
    ExpectRect(reaching, {0, 0, 1, 1, 1, 1, INT32_MAX - 1, INT32_MAX - 1});
}

TEST(FrameAlpha, TruncatesAndStaysInRangeForAnyFrameCount) {
    EXPECT_EQ(FrameAlpha(255, 256), 254);
    EXPECT_EQ(FrameAlpha(1, 3), 85);
    EXPECT_EQ(FrameAlpha(2, 3), 170);
    EXPECT_EQ(FrameAlpha(0, INT32_MAX), 0);
    EXPECT_EQ(FrameAlpha(INT32_MAX - 1, INT32_MAX), 254);
    EXPECT_EQ(FrameAlpha(8421505, 8421506), 254);
    EXPECT_EQ(FrameAlpha(INT32_MAX / 2, INT32_MAX), 127);
}

TEST(MulTable, IsFloorOfTheProductOver255) {
    ASSERT_TRUE(BuildMulTable());
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) ASSERT_EQ(moduleState.MulTable.rows[a][b], a * b / 255) << a << ' ' << b;
    EXPECT_EQ(moduleState.MulTable.rows[128][128], 64);
    EXPECT_EQ(moduleState.MulTable.rows[254][254], 253);
    EXPECT_EQ(moduleState.MulTable.rows[1][254], 0);
    EXPECT_EQ(moduleState.MulTable.rows[7], moduleState.MulTable.block + 7 * 256);
    ASSERT_TRUE(BuildMulTable());  // a rebuild replaces the table
    EXPECT_NE(moduleState.MulTable.block, nullptr);
    ReleaseMulTable();
    EXPECT_EQ(moduleState.MulTable.rows, nullptr);
    ReleaseMulTable();  // harmless twice
}

TEST(MulTable, AllocationFailureLeavesItEmpty) {
    for (int64_t n : {1, 2}) {
        FailAllocationsFrom(n);
        EXPECT_FALSE(BuildMulTable());
        FailAllocationsFrom(0);
        EXPECT_EQ(moduleState.MulTable.rows, nullptr);
        EXPECT_EQ(moduleState.MulTable.block, nullptr);
    }
}

TEST(ModuleStorage, GrowableArrayKeepsItemsAndReportsFailure) {
    GrowableArray<int> list;
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(list.Append(i));
    EXPECT_EQ(list.Size(), 100u);
    EXPECT_EQ(list[99], 99);
    list.Clear();
    EXPECT_TRUE(list.Empty());
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(list.Append(i));  // storage reused
    FailAllocationsFrom(1);
    for (int i = 0; i < 1000 && list.Append(i); ++i) {
    }
    const size_t kept = list.Size();
    EXPECT_FALSE(list.Append(7));
    FailAllocationsFrom(0);
    EXPECT_EQ(list.Size(), kept);
    EXPECT_EQ(list[50], 50);
    EXPECT_EQ(AllocateArray<uint64_t>(SIZE_MAX / 4), nullptr);  // byte count would overflow
}

TEST(ModuleStorage, NameBufferGrowsAndNeverShrinks) {
    const int64_t outstanding = OutstandingAllocations();
    {
        NameBuffer name;
        EXPECT_STREQ(name.CStr(), "");
        ASSERT_TRUE(name.Assign("Platewright"));
        EXPECT_EQ(name.Capacity(), 12u);
        ASSERT_TRUE(name.Assign("Pix"));
        EXPECT_STREQ(name.CStr(), "Pix");
        EXPECT_EQ(name.Capacity(), 12u);
        FailAllocationsFrom(1);
        EXPECT_FALSE(name.Assign("A much longer component name"));
        FailAllocationsFrom(0);
        EXPECT_STREQ(name.CStr(), "Pix");
        // Holding a name and reused for a longer one: the old block goes back.
        ASSERT_TRUE(name.Assign("A much longer component name"));
        EXPECT_STREQ(name.CStr(), "A much longer component name");
        EXPECT_EQ(name.Capacity(), 29u);
        EXPECT_EQ(OutstandingAllocations(), outstanding + 1);
    }
    EXPECT_EQ(OutstandingAllocations(), outstanding);
}

}  // namespace
}  // namespace veilshift
