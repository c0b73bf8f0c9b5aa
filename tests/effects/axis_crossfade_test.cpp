// Effects 40 and 41: the per-frame axis amounts, and whole sessions: the blend
// into the work surface at (0, 0), the CopyAxisX / CopyAxisY argument lists,
// and the work surface's life from Begin to End, the next Begin or unload.
#include <gtest/gtest.h>

#include <climits>
#include <utility>
#include <vector>

#include "Veilshift/frame_math.h"
#include "Veilshift/transitions/axis_crossfade.h"
#include "Veilshift/transitions/blend.h"
#include "session_fixture.h"

namespace {

using veilshift::AxisAmount;

std::vector<int32_t> Amounts(const std::vector<int32_t>& progresses, int32_t total, int32_t half) {
    std::vector<int32_t> amounts;
    for (int32_t p : progresses) amounts.push_back(AxisAmount(p, total, half));
    return amounts;
}

TEST(AxisAmounts, RiseToHalfTheExtentAndFallBackUnevenly) {
    EXPECT_EQ(Amounts({0, 1, 15, 29, 30, 31, 45, 59}, 60, 320),
              (std::vector<int32_t>{0, 10, 160, 309, 320, 310, 160, 11}));
    EXPECT_EQ(Amounts({0, 15, 30, 59}, 60, 240), (std::vector<int32_t>{0, 120, 240, 8}));
    EXPECT_EQ(Amounts({0, 1, 2}, 3, 50), (std::vector<int32_t>{0, 50, 0}));
    EXPECT_EQ(Amounts({30, 31, 60}, 61, 320), (std::vector<int32_t>{320, 310, 0}));
    for (int32_t total : {2, 5, 60, 61, 1000})
        for (int32_t p = 0; p < total; ++p) {
            const int32_t amount = AxisAmount(p, total, 37);
            ASSERT_TRUE(amount >= 0 && amount <= 37) << p << "/" << total;
        }
}

TEST(AxisAmounts, OneFrameHugeCountsAndBadArgumentsStayInRange) {
    EXPECT_EQ(AxisAmount(0, 1, 320), 0);  // the lone frame starts unmoved
    // Past 2^31 / half the 32-bit product would wrap; the formula holds on.
    const int32_t total = INT32_MAX, half = INT32_MAX / 2;
    EXPECT_EQ(AxisAmount(half, total, 320), 320);
    EXPECT_EQ(AxisAmount(half / 2, total, 320), 159);
    EXPECT_EQ(AxisAmount(total - 1, total, 320), 0);
    EXPECT_EQ(AxisAmount(20'000'000, 60'000'000, 320), 213);
    EXPECT_EQ(AxisAmount(half - 1, total, INT32_MAX / 2), INT32_MAX / 2 - 1);
    EXPECT_EQ(AxisAmount(half + 1, total, INT32_MAX / 2), INT32_MAX / 2 - 1);
    EXPECT_EQ(AxisAmount(5, 60, -4), 0);  // a negative half
    EXPECT_EQ(AxisAmount(INT32_MIN, INT32_MIN, INT32_MIN), 0);
    // Counters that are no frame never reach the effect (Draw turns them away:
    // Session.DrawOutsideASessionOrWithBadCountersDoesNothing); the amount
    // still stays within what the host accepts.
    for (auto [p, t] : {std::pair{-1, 60}, std::pair{60, 60}, std::pair{5, 0}, std::pair{INT32_MAX, INT32_MIN},
                        std::pair{INT32_MIN, INT32_MAX}}) {
        const int32_t amount = AxisAmount(p, t, 320);
        EXPECT_TRUE(amount >= 0 && amount <= 320) << p << "/" << t;
    }
}

}  // namespace

namespace sessiontest {
namespace {

struct Frame {
    int32_t progress, amount;
};

class AxisSession : public SessionTest {
protected:
    // The rectangle sits elsewhere in each surface; three different pitches.
    static constexpr int32_t kDx = 11, kDy = 7, kAx = 5, kAy = 3, kBx = 2, kBy = 4, kW = 640, kH = 480;

    void SetUp() override {
        SessionTest::SetUp();
        host->AddSurface(kDst, 660, 500, 660 * 3 + 4).FillRandom(31);
        host->AddSurface(kSrcA, 650, 490, 650 * 3 + 24).FillRandom(32);
        host->AddSurface(kSrcB, 645, 485, -(645 * 3 + 10)).FillRandom(33);
    }

    Request Effect(int32_t effect) {
        return {.dx = kDx, .dy = kDy, .ax = kAx, .ay = kAy, .bx = kBx, .by = kBy, .width = kW, .height = kH,
                .effect = effect};
    }

    refhost::ComponentControl& Plates() { return Control(Component::Platewright); }

    // The source rectangles blended with `alpha` by the scalar formula: every
    // crossfade form gives these bytes when alpha is even.
    std::vector<uint8_t> Blend(int32_t alpha) {
        std::vector<uint8_t> picture;
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) {
                const refhost::Rgb a = SrcA().GetPixel(kAx + x, kAy + y), b = SrcB().GetPixel(kBx + x, kBy + y);
                for (int k = 0; k < 3; ++k) picture.push_back(veilshift::BlendByte(a[k], b[k], alpha));
            }
        return picture;
    }

    // Draws the frames of one transition and checks each frame's calls; answers the work surface.
    TestSurface* RunFrames(int32_t effect, int32_t total, const std::vector<Frame>& frames) {
        const HostOp copyOp = effect == 40 ? HostOp::CopyAxisX : HostOp::CopyAxisY;
        const std::vector<uint8_t> before = Dst().Snapshot();
        TestSurface* work = nullptr;
        for (const Frame& f : frames) {
            host->ClearCalls();
            host->Draw(f.progress, total);
            const std::vector<HostOp> expectedOps = {HostOp::PixelAddress, HostOp::PixelAddress, HostOp::PixelAddress,
                                                     HostOp::Pitch,        HostOp::Pitch,        HostOp::Pitch,
                                                     copyOp,               HostOp::UpdateRect};
            EXPECT_EQ(host->Ops(), expectedOps) << f.progress;
            if (host->Ops() != expectedOps) return nullptr;
            const auto& calls = host->Calls();
            // The blend goes to (0, 0) of the work surface, from the session's source corners.
            EXPECT_EQ(Args(calls[0]), (std::vector<int32_t>{0, 0}));
            EXPECT_EQ(calls[1].target, &SrcA());
            EXPECT_EQ(Args(calls[1]), (std::vector<int32_t>{kAx, kAy}));
            EXPECT_EQ(calls[2].target, &SrcB());
            EXPECT_EQ(Args(calls[2]), (std::vector<int32_t>{kBx, kBy}));
            const HostCall& copy = calls[6];
            EXPECT_EQ(copy.dst, &Dst());
            EXPECT_EQ(copy.src, calls[0].target);
            EXPECT_EQ(Args(copy), (std::vector<int32_t>{kDx, kDy, 0, 0, kW, kH, f.amount})) << f.progress;
            if (work == nullptr) work = static_cast<TestSurface*>(copy.src);
            EXPECT_EQ(copy.src, work) << "one work surface for the whole transition";
            for (const veilshift::HostSurface* numbered : {&Dst(), &SrcA(), &SrcB()}) EXPECT_NE(copy.src, numbered);
            EXPECT_EQ(Args(calls[7]), (std::vector<int32_t>{kDst, kDx, kDy, kW, kH}));

            const int32_t alpha = veilshift::FrameAlpha(f.progress, total);
            if (alpha % 2 == 0) {
                EXPECT_EQ(work->Snapshot(), Blend(alpha)) << f.progress;
            }
            if (f.progress == 0) {
                EXPECT_TRUE(work->RectEquals(0, 0, SrcA(), kAx, kAy, kW, kH));
                EXPECT_TRUE(Dst().RectEquals(kDx, kDy, SrcA(), kAx, kAy, kW, kH));  // amount 0 moves nothing
            }
            EXPECT_TRUE(UnchangedOutside(Dst(), before, kDx, kDy, kW, kH));
            EXPECT_TRUE(work->GuardsIntact());
        }
        return work;
    }
};

TEST_F(AxisSession, HorizontalFramesPassTheirAmountsToCopyAxisX) {
    BEGIN_OR_SKIP(Effect(40));
    const auto creates = host->CallsOf(HostOp::CreateSurface);
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(Args(creates[0]), (std::vector<int32_t>{kW, kH, 24}));
    TestSurface* work = RunFrames(40, 60, {{0, 0}, {1, 10}, {2, 21}, {15, 160}, {29, 309}, {30, 320}, {31, 310},
                                           {45, 160}, {59, 11}});
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(Count(HostOp::CopyAxisY), 0);
    EXPECT_EQ(Plates().createSurfaceCalls, 1);  // nothing made per frame

    host->ClearCalls();
    host->Draw(60, 60);  // the last frame: source B straight into the destination
    EXPECT_EQ(host->Ops(), (std::vector<HostOp>{HostOp::Copy, HostOp::UpdateRect}));
    EXPECT_EQ(host->Calls()[0].src, &SrcB());
    EXPECT_TRUE(Dst().RectEquals(kDx, kDy, SrcB(), kBx, kBy, kW, kH));

    host->ClearCalls();
    host->End();
    EXPECT_EQ(host->Ops(), std::vector<HostOp>{HostOp::Release});
    EXPECT_EQ(host->Calls()[0].target, static_cast<const void*>(static_cast<veilshift::HostSurface*>(work)));
    EXPECT_EQ(Plates().surfacesReleased, 1);
}

TEST_F(AxisSession, VerticalFramesPassTheirAmountsToCopyAxisY) {
    BEGIN_OR_SKIP(Effect(41));
    ASSERT_NE(RunFrames(41, 60, {{0, 0}, {2, 16}, {15, 120}, {30, 240}, {59, 8}}), nullptr);
    EXPECT_EQ(Count(HostOp::CopyAxisX), 0);
    host->End();
    EXPECT_EQ(Plates().surfacesCreated, 1);
    EXPECT_EQ(Plates().surfacesReleased, 1);
}

TEST_F(AxisSession, OddOneFrameAndHugeTotalsKeepTheAmountInRange) {
    BEGIN_OR_SKIP(Effect(40));
    ASSERT_NE(RunFrames(40, 3, {{0, 0}, {1, 320}, {2, 0}}), nullptr);
    ASSERT_NE(RunFrames(40, 1, {{0, 0}}), nullptr);
    ASSERT_NE(RunFrames(40, INT32_MAX, {{INT32_MAX / 2, 320}, {INT32_MAX - 1, 0}, {100'000'000, 29}}), nullptr);
    BEGIN_OR_SKIP(Effect(41));
    ASSERT_NE(RunFrames(41, INT32_MAX, {{INT32_MAX / 2, 240}, {1'000'000'000, 223}}), nullptr);
}

TEST_F(AxisSession, OneWorkSurfacePerBeginReleasedAtEndNextBeginAndUnload) {
    for (int32_t effect : {40, 41}) {
        BEGIN_OR_SKIP(Effect(effect));
        for (int32_t p = 0; p < 6; ++p) host->Draw(p, 6);
        EXPECT_EQ(Plates().surfacesCreated - Plates().surfacesReleased, 1);
    }
    EXPECT_EQ(Plates().createSurfaceCalls, 2);
    EXPECT_EQ(Plates().surfacesReleased, 1);  // the second Begin gave back the first surface
    host->End();
    EXPECT_EQ(Plates().surfacesReleased, 2);

    // A smaller clipped rectangle gets a work surface of its own size.
    host->ClearCalls();
    BEGIN_OR_SKIP({.dx = 650, .dy = 490, .width = 100, .height = 100, .effect = 41});
    const auto creates = host->CallsOf(HostOp::CreateSurface);
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(Args(creates.back()), (std::vector<int32_t>{10, 10, 24}));
    host->Draw(1, 2);
    host->UnloadModule();
    EXPECT_EQ(Plates().surfacesCreated, 3);
    EXPECT_EQ(Plates().surfacesReleased, 3);
}

}  // namespace
}  // namespace sessiontest
